// Between a tree's nodes and the model indexes its view and its signals speak
// in: a node is found from an index of the tree's own model, and an index from
// a node of the tree. Also a node's place among its siblings.
#pragma once

#include <QModelIndex>

class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin::editor {

// The node at index; null for an invalid index or one of another model.
QTreeWidgetItem* GetNodeFromIndex(const QTreeWidget* tree, const QModelIndex& index);
// The index of node (column 0); invalid for null or a node of another tree.
QModelIndex GetIndexFromNode(const QTreeWidget* tree, QTreeWidgetItem* node);
// The node's position among its siblings, counted from 0 (a parameter node's
// position under its member is this plus 1); -1 for null or a node in no
// parent and no tree.
int GetSiblingIndex(const QTreeWidgetItem* node);

}  // namespace zephrin::editor

// The order of a tree's children: by name as if leading underscores were not
// there (Item, _Item, __Item; _NewEnum among the N's).
#pragma once

#include <vector>

class QTreeWidgetItem;

namespace zephrin::editor {

// Negative, zero or positive as a's text sorts before, with or after b's.
int CompareTreeItems(const QTreeWidgetItem* a, const QTreeWidgetItem* b);
// Sorts items in that order (stable).
void SortItems(std::vector<QTreeWidgetItem*>& items);
// Sorts a node's children in place (not their children), keeping what is
// expanded, selected and current below the node.
void SortNodeChildren(QTreeWidgetItem* node);

}  // namespace zephrin::editor

#include "editor/tree/TreeItemAccess.h"

#include <vector>

#include <QTreeWidget>

namespace zephrin::editor {

QTreeWidgetItem* GetNodeFromIndex(const QTreeWidget* tree, const QModelIndex& index) {
    if (!tree || !index.isValid() || index.model() != tree->model()) return nullptr;
    std::vector<int> rows;
    for (QModelIndex i = index; i.isValid(); i = i.parent()) rows.push_back(i.row());
    QTreeWidgetItem* node = tree->topLevelItem(rows.back());
    for (auto it = rows.rbegin() + 1; node && it != rows.rend(); ++it) node = node->child(*it);
    return node;
}

QModelIndex GetIndexFromNode(const QTreeWidget* tree, QTreeWidgetItem* node) {
    if (!tree || !node || node->treeWidget() != tree) return {};
    std::vector<int> rows;
    for (QTreeWidgetItem* n = node; n; n = n->parent())
        rows.push_back(n->parent() ? n->parent()->indexOfChild(n) : tree->indexOfTopLevelItem(n));
    QModelIndex index;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) index = tree->model()->index(*it, 0, index);
    return index;
}

int GetSiblingIndex(const QTreeWidgetItem* node) {
    if (!node) return -1;
    auto* item = const_cast<QTreeWidgetItem*>(node);
    if (const QTreeWidgetItem* parent = node->parent()) return parent->indexOfChild(item);
    if (const QTreeWidget* tree = node->treeWidget()) return tree->indexOfTopLevelItem(item);
    return -1;
}

}  // namespace zephrin::editor

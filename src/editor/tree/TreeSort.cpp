#include "editor/tree/TreeSort.h"

#include <algorithm>
#include <string_view>

#include <QTreeWidget>

#include "typelib/modMarbrel.h"

namespace zephrin::editor {
namespace {

std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

}  // namespace

int CompareTreeItems(const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    // The texts are held by the items; compare them where they lie.
    const QString& first = a->data(0, Qt::DisplayRole).toString();
    const QString& second = b->data(0, Qt::DisplayRole).toString();
    return modMarbrel::CompareLeadingUnderscore(View(first), View(second));
}

void SortItems(std::vector<QTreeWidgetItem*>& items) {
    // Read each text once, not once per comparison.
    std::vector<std::pair<QString, QTreeWidgetItem*>> keyed;
    keyed.reserve(items.size());
    for (QTreeWidgetItem* item : items) keyed.emplace_back(item->text(0), item);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return modMarbrel::CompareLeadingUnderscore(View(a.first), View(b.first)) < 0;
    });
    for (size_t i = 0; i < items.size(); ++i) items[i] = keyed[i].second;
}

void SortNodeChildren(QTreeWidgetItem* node) {
    if (!node || node->childCount() < 2) return;
    if (node->treeWidget()) {
        // Moved in place within the model (TreeNode's order is this one), so
        // the view keeps what is expanded, selected and current at every depth.
        node->sortChildren(0, Qt::AscendingOrder);
        return;
    }
    const QList<QTreeWidgetItem*> taken = node->takeChildren();
    std::vector<QTreeWidgetItem*> items(taken.begin(), taken.end());
    SortItems(items);
    node->addChildren(QList<QTreeWidgetItem*>(items.begin(), items.end()));
}

}  // namespace zephrin::editor

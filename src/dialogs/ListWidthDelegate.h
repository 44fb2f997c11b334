// Rows as wide as their list, however long their texts: a longer text is cut
// to the list's width (where the list's elide mode says) rather than carried
// out of sight, and the list's model gives each row's whole text as its
// tooltip. The order dialogs' lists and the history list show their rows so.
#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

namespace zephrin::dialogs {

class ListWidthDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The row's height, and no width of its own: the list gives it its width.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Shows list's rows so, cut in mode, drawn by delegate (the list takes
    // it), or by a plain ListWidthDelegate when it is null.
    static void Install(QAbstractItemView* list, Qt::TextElideMode mode, ListWidthDelegate* delegate = nullptr);
};

}  // namespace zephrin::dialogs

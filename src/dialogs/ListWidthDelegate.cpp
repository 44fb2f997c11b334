#include "dialogs/ListWidthDelegate.h"

#include <QAbstractItemView>

namespace zephrin::dialogs {

QSize ListWidthDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return {0, QStyledItemDelegate::sizeHint(option, index).height()};
}

void ListWidthDelegate::Install(QAbstractItemView* list, Qt::TextElideMode mode, ListWidthDelegate* delegate) {
    list->setTextElideMode(mode);
    if (!delegate) delegate = new ListWidthDelegate(list);
    delegate->setParent(list);
    list->setItemDelegate(delegate);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

}  // namespace zephrin::dialogs

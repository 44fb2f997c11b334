#include "dialogs/OrderDialog.h"

#include <QEvent>

#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "dialogs/DialogIcons.h"
#include "dialogs/ListWidthDelegate.h"
#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

OrderDialog::OrderDialog(QWidget* owner, int captionId, int listHeaderId) : ModalDialog(owner, Sizing::Resizable) {
    setWindowTitle(ResText(captionId));

    auto* header = new QLabel(ResText(listHeaderId), this);
    header->setObjectName(QStringLiteral("lblListHeader"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstMain"));
    list_->setUniformItemSizes(true);  // one line a row: keeps long lists quick
    // Names that differ only at their end (generated names, numbered) stay
    // apart when the list is too narrow for them: cut in the middle, whole in
    // each row's tooltip.
    ListWidthDelegate::Install(list_, Qt::ElideMiddle);
    header->setBuddy(list_);
    NameFromCaption(list_, header->text());
    const QFontMetrics metrics = list_->fontMetrics();
    list_->setMinimumSize(metrics.averageCharWidth() * 24, metrics.lineSpacing() * 6);

    auto* move = new QLabel(ResText(580), this);
    move->setObjectName(QStringLiteral("lblMove"));
    move->setAlignment(Qt::AlignHCenter);
    up_ = new QPushButton(this);
    down_ = new QPushButton(this);
    up_->setObjectName(QStringLiteral("cmdMoveUp"));
    down_->setObjectName(QStringLiteral("cmdMoveDown"));
    up_->setToolTip(ResText(581));
    down_->setToolTip(ResText(582));
    up_->setAccessibleName(move->text() + QStringLiteral(" up"));
    down_->setAccessibleName(move->text() + QStringLiteral(" down"));
    up_->setAccessibleDescription(up_->toolTip());
    down_->setAccessibleDescription(down_->toolTip());
    SetIcons();

    auto* moveColumn = new QVBoxLayout;
    moveColumn->addWidget(move);
    moveColumn->addWidget(up_, 0, Qt::AlignHCenter);
    moveColumn->addWidget(down_, 0, Qt::AlignHCenter);
    info_ = new QVBoxLayout;
    moveColumn->addLayout(info_);

    buttons_ = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    right->addLayout(MakeOkCancel());
    right->addLayout(buttons_);
    right->addStretch(1);
    right->addLayout(moveColumn);
    right->addStretch(1);

    auto* left = new QVBoxLayout;
    left->addWidget(header);
    left->addWidget(list_, 1);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left, 1);
    main->addLayout(right);

    MapKey(Qt::Key_Up, up_, true);
    MapKey(Qt::Key_Down, down_, true);
    OnClick(up_, [this] { Move(true); });
    OnClick(down_, [this] { Move(false); });
    connect(list_, &QListWidget::currentRowChanged, this, [this] { Guarded(this, [this] { Selected(); }); });
}

int OrderDialog::CurrentRow() const { return list_->currentRow(); }

void OrderDialog::Move(bool up) {
    const int row = CurrentRow(), count = RowCount();
    const int target = MoveRow(row, up);
    // A move changes its two rows, unless it shortened the list.
    const int first = std::min(row, target);
    Refill(target, first, RowCount() == count ? std::max(row, target) : RowCount() - 1);
}

void OrderDialog::Refill(int row, int first, int last) {
    {
        const QSignalBlocker blocker(list_);
        const int count = RowCount();
        while (list_->count() > count) delete list_->takeItem(list_->count() - 1);
        while (list_->count() < count) new QListWidgetItem(list_);
        for (int r = std::max(first, 0); r <= std::min(last, count - 1); ++r) {
            QListWidgetItem* item = list_->item(r);
            const QString text = RowText(r);
            item->setText(text);
            item->setToolTip(text);
            item->setData(Qt::AccessibleTextRole, text);
            item->setData(Qt::UserRole, RowData(r));
        }
        list_->setCurrentRow(row);
        if (QListWidgetItem* item = list_->currentItem()) list_->scrollToItem(item);
    }
    Selected();
}

void OrderDialog::Selected() {
    const int row = CurrentRow();
    up_->setEnabled(row >= 0 && CanMove(row, true));
    down_->setEnabled(row >= 0 && CanMove(row, false));
    RowSelected(row);
}

void OrderDialog::SetIcons() {
    up_->setIcon(ArrowIcon(true, palette()));
    down_->setIcon(ArrowIcon(false, palette()));
}

void OrderDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange && up_) SetIcons();
    ModalDialog::changeEvent(event);
}

}  // namespace zephrin::dialogs

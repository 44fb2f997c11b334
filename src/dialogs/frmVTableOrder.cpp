#include "dialogs/frmVTableOrder.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

std::shared_ptr<ReorderVTableChange> frmVTableOrder::GetReorderVTableChange(ChangeTarget& target, QWidget* owner) {
    std::optional<VTableOrderModel> model =
        VTableOrderModel::ForInterface(target.Library.get(), static_cast<ole::UINT>(target.TypeIndex));
    if (!model) return nullptr;
    frmVTableOrder dialog(std::move(*model), owner);
    if (!dialog.Execute()) return nullptr;
    return dialog.Result();
}

frmVTableOrder::frmVTableOrder(VTableOrderModel model, QWidget* owner)
    : OrderDialog(owner, 589, 586), model_(std::move(model)) {
    insert_ = new QPushButton(ResText(590), this);
    delete_ = new QPushButton(ResText(591), this);
    insert_->setObjectName(QStringLiteral("cmdInsert"));
    delete_->setObjectName(QStringLiteral("cmdDelete"));
    for (QPushButton* button : {insert_, delete_}) {
        NameFromCaption(button, button->text());
        ButtonColumn()->addWidget(button);
    }

    auto* numberHeader = new QLabel(ResText(588), this);
    auto* offsetHeader = new QLabel(ResText(587), this);
    numberHeader->setObjectName(QStringLiteral("lblNumberHeader"));
    offsetHeader->setObjectName(QStringLiteral("lblOffsetHeader"));
    number_ = new QLabel(this);
    offset_ = new QLabel(this);
    number_->setObjectName(QStringLiteral("lblNumber"));
    offset_->setObjectName(QStringLiteral("lblOffset"));
    // A screen reader names each value by its heading and reads the value.
    number_->setAccessibleName(QStringLiteral("Number"));
    offset_->setAccessibleName(QStringLiteral("Offset"));
    for (QLabel* value : {number_, offset_}) {
        value->setTextFormat(Qt::PlainText);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("5555")));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* form = new QFormLayout;
    form->addRow(numberHeader, number_);
    form->addRow(offsetHeader, offset_);
    InfoColumn()->addLayout(form);

    MapKey(Qt::Key_Insert, insert_, false);
    MapKey(Qt::Key_Delete, delete_, false);
    OnClick(insert_, [this] {
        const int row = CurrentRow();
        Refill(model_.Insert(row), row);
    });
    OnClick(delete_, [this] {
        const int row = CurrentRow();
        Refill(model_.Delete(row), row);
    });
    Refill(model_.FirstRow());
    FinishLayout();
}

QString frmVTableOrder::RowText(int row) const { return ToQString(model_.TextAt(row)); }

void frmVTableOrder::RowSelected(int row) {
    const bool valid = row >= 0 && row < model_.Count();
    delete_->setEnabled(valid && model_.CanDelete(row));
    insert_->setEnabled(valid && model_.CanInsert(row));
    number_->setText(valid ? QString::number(model_.SlotNumber(row)) : QString());
    offset_->setText(valid ? QString::number(model_.SlotOffset(row)) : QString());
    // Named by their headings, the labels give their values as descriptions.
    for (QLabel* value : {number_, offset_}) value->setAccessibleDescription(value->text());
}

std::shared_ptr<ReorderVTableChange> frmVTableOrder::Result() const {
    auto change = modReorderVTableChange::NewReorderVTableChange(false);
    change->Offsets(model_.Offsets());
    change->SynchronizeFuncDescs(model_.SynchronizeFuncDescs());
    return change;
}

}  // namespace zephrin::dialogs

// The vtable order dialog: the own slots of an interface, each a function or
// an empty slot ("Missing Entry"), moved, inserted and deleted by the user and
// returned as an unapplied ReorderVTableChange. Insert and Delete are also
// pressed by their keys.
#pragma once

#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "dialogs/OrderDialog.h"
#include "dialogs/VTableOrderModel.h"

class QLabel;

namespace zephrin::dialogs {

class frmVTableOrder final : public OrderDialog {
    Q_OBJECT

public:
    // The change for the interface the target names, or null when the user
    // cancelled or the interface has no functions (then nothing is shown).
    static std::shared_ptr<ReorderVTableChange> GetReorderVTableChange(ChangeTarget& target, QWidget* owner);

    frmVTableOrder(VTableOrderModel model, QWidget* owner);
    const VTableOrderModel& Model() const { return model_; }
    std::shared_ptr<ReorderVTableChange> Result() const;

    QPushButton* InsertButton() const { return insert_; }
    QPushButton* DeleteButton() const { return delete_; }
    QLabel* NumberLabel() const { return number_; }
    QLabel* OffsetLabel() const { return offset_; }

protected:
    int RowCount() const override { return model_.Count(); }
    QString RowText(int row) const override;
    int RowData(int row) const override { return model_.FunctionAt(row); }
    bool CanMove(int row, bool up) const override { return up ? model_.CanMoveUp(row) : model_.CanMoveDown(row); }
    int MoveRow(int row, bool up) override { return model_.Move(row, up); }
    void RowSelected(int row) override;

private:
    VTableOrderModel model_;
    QPushButton* insert_ = nullptr;
    QPushButton* delete_ = nullptr;
    QLabel* number_ = nullptr;
    QLabel* offset_ = nullptr;
};

}  // namespace zephrin::dialogs

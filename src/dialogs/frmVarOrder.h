// The variable order dialog: the variables (fields, constants) of one type in
// a new order, returned as an unapplied ReorderVarsChange.
#pragma once

#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "dialogs/OrderDialog.h"
#include "dialogs/OrderListModel.h"

namespace zephrin::dialogs {

class frmVarOrder final : public OrderDialog {
    Q_OBJECT

public:
    // The change for the type the target names, or null when the user
    // cancelled or the type has no variables (then nothing is shown).
    static std::shared_ptr<ReorderVarsChange> GetReorderVarsChange(ChangeTarget& target, QWidget* owner);

    frmVarOrder(OrderListModel model, QWidget* owner);
    const OrderListModel& Model() const { return model_; }
    // The change holding the order shown.
    std::shared_ptr<ReorderVarsChange> Result() const;

protected:
    int RowCount() const override { return model_.Count(); }
    QString RowText(int row) const override;
    int RowData(int row) const override { return model_.RowAt(row).Index; }
    bool CanMove(int row, bool up) const override { return up ? model_.CanMoveUp(row) : model_.CanMoveDown(row); }
    int MoveRow(int row, bool up) override { return model_.Move(row, up); }

private:
    OrderListModel model_;
};

}  // namespace zephrin::dialogs

// The type order dialog: the types of a library in a new order, returned as
// an unapplied ReorderTypesChange. Its Analyze button is present and does
// nothing yet.
#pragma once

#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "dialogs/OrderDialog.h"
#include "dialogs/OrderListModel.h"

namespace zephrin::dialogs {

class frmTypeOrder final : public OrderDialog {
    Q_OBJECT

public:
    // The change for the target's library, or null when the user cancelled
    // or the library has no types (then nothing is shown).
    static std::shared_ptr<ReorderTypesChange> GetReorderTypesChange(ChangeTarget& target, QWidget* owner);

    frmTypeOrder(OrderListModel model, QWidget* owner);
    const OrderListModel& Model() const { return model_; }
    std::shared_ptr<ReorderTypesChange> Result() const;

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

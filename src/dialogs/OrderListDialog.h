// An order dialog whose rows are an OrderListModel: the type and variable
// order dialogs. The derived dialog adds its own controls and result.
#pragma once

#include "dialogs/OrderDialog.h"
#include "dialogs/OrderListModel.h"

namespace zephrin::dialogs {

class OrderListDialog : public OrderDialog {
public:
    const OrderListModel& Model() const { return model_; }

protected:
    OrderListDialog(OrderListModel model, QWidget* owner, int captionId, int listHeaderId)
        : OrderDialog(owner, captionId, listHeaderId), model_(std::move(model)) {}

    int RowCount() const override { return model_.Count(); }
    QString RowText(int row) const override;
    int RowData(int row) const override { return model_.RowAt(row).Index; }
    bool CanMove(int row, bool up) const override { return up ? model_.CanMoveUp(row) : model_.CanMoveDown(row); }
    int MoveRow(int row, bool up) override { return model_.Move(row, up); }

private:
    OrderListModel model_;
};

}  // namespace zephrin::dialogs

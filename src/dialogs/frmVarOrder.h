// The variable order dialog: the variables (fields, constants) of one type in
// a new order, returned as an unapplied ReorderVarsChange.
#pragma once

#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "dialogs/OrderListDialog.h"

namespace zephrin::dialogs {

class frmVarOrder final : public OrderListDialog {
    Q_OBJECT

public:
    // The change for the type the target names, or null when the user
    // cancelled or the type has no variables (then nothing is shown).
    static std::shared_ptr<ReorderVarsChange> GetReorderVarsChange(ChangeTarget& target, QWidget* owner);

    frmVarOrder(OrderListModel model, QWidget* owner);
    // The change holding the order shown.
    std::shared_ptr<ReorderVarsChange> Result() const;
};

}  // namespace zephrin::dialogs

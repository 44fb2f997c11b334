// The type order dialog: the types of a library in a new order, returned as
// an unapplied ReorderTypesChange. Its Analyze button is present and does
// nothing yet.
#pragma once

#include <memory>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "dialogs/OrderListDialog.h"

namespace zephrin::dialogs {

class frmTypeOrder final : public OrderListDialog {
    Q_OBJECT

public:
    // The change for the target's library, or null when the user cancelled
    // or the library has no types (then nothing is shown).
    static std::shared_ptr<ReorderTypesChange> GetReorderTypesChange(ChangeTarget& target, QWidget* owner);

    frmTypeOrder(OrderListModel model, QWidget* owner);
    std::shared_ptr<ReorderTypesChange> Result() const;
};

}  // namespace zephrin::dialogs

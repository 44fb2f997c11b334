#include "dialogs/frmVarOrder.h"

#include "dialogs/UiServices.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::dialogs {

std::shared_ptr<ReorderVarsChange> frmVarOrder::GetReorderVarsChange(ChangeTarget& target, QWidget* owner) {
    const auto index = static_cast<ole::UINT>(target.TypeIndex);
    ole::ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), index);
    if (typelib_detail::TypeAttr(ti.get())->cVars == 0) return nullptr;
    frmVarOrder dialog(OrderListModel::ForVariables(target.Library.get(), index), owner);
    if (!dialog.Execute()) return nullptr;
    return dialog.Result();
}

frmVarOrder::frmVarOrder(OrderListModel model, QWidget* owner)
    : OrderListDialog(std::move(model), owner, 584, 583) {
    Refill(0);
    FinishLayout();
}

std::shared_ptr<ReorderVarsChange> frmVarOrder::Result() const {
    auto change = modReorderVarsChange::NewReorderVarsChange(false);
    change->NewOrder(Model().Order());
    return change;
}

}  // namespace zephrin::dialogs

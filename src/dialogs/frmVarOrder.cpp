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
    : OrderDialog(owner, 584, 583), model_(std::move(model)) {
    Refill(0);
    FinishLayout();
}

QString frmVarOrder::RowText(int row) const { return ToQString(model_.RowAt(row).Text); }

std::shared_ptr<ReorderVarsChange> frmVarOrder::Result() const {
    auto change = modReorderVarsChange::NewReorderVarsChange(false);
    change->NewOrder(model_.Order());
    return change;
}

}  // namespace zephrin::dialogs

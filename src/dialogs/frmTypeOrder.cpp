#include "dialogs/frmTypeOrder.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

std::shared_ptr<ReorderTypesChange> frmTypeOrder::GetReorderTypesChange(ChangeTarget& target, QWidget* owner) {
    if (!target.Library) RaiseError(kErrInvalidArgument);
    if (target.Library->GetTypeInfoCount() == 0) return nullptr;
    frmTypeOrder dialog(OrderListModel::ForTypes(target.Library.get()), owner);
    if (!dialog.Execute()) return nullptr;
    return dialog.Result();
}

frmTypeOrder::frmTypeOrder(OrderListModel model, QWidget* owner)
    : OrderListDialog(std::move(model), owner, 593, 592) {
    auto* analyze = new QPushButton(ResText(594), this);
    analyze->setObjectName(QStringLiteral("cmdAnalyze"));
    analyze->setToolTip(ResText(595));
    NameFromCaption(analyze, analyze->text());
    analyze->setAccessibleDescription(analyze->toolTip());
    ButtonColumn()->addWidget(analyze);
    Refill(0);
    FinishLayout();
}

std::shared_ptr<ReorderTypesChange> frmTypeOrder::Result() const {
    auto change = modReorderTypesChange::NewReorderTypesChange(false);
    change->NewOrder(Model().Order());
    return change;
}

}  // namespace zephrin::dialogs

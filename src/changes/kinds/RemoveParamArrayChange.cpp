#include "changes/kinds/RemoveParamArrayChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/TargetText.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

bool RemoveParamArrayChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target,
                                   IChangeListener* listener, int32_t flags) {
    RequireTargetKind(ChangeKind::RemoveParamArrayChange, target);
    ChangeTarget copy = target;
    library.GetCustomTypeInfoByNumber(target.TypeIndex)->RemoveParamArray(target.MemberId, target.InvokeKind);
    if (listener) NotifyListener(*listener, ChangeKind::RemoveParamArrayChange, copy, *this, flags);
    return true;
}

std::u16string RemoveParamArrayChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(746, {modRecorder::DescribeTarget(target)});
}

namespace modRemoveParamArrayChange {
ChangePtr GetRemoveParamArrayChange() {
    static const ChangePtr instance = std::make_shared<RemoveParamArrayChange>();
    return instance;
}
}  // namespace modRemoveParamArrayChange

}  // namespace zephrin

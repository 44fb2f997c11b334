#include "changes/kinds/ResetIDsChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/TargetText.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

bool ResetIDsChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                           int32_t flags) {
    RequireTargetKind(Kind(), target);
    ChangeTarget copy = target;
    library.GetCustomTypeInfoByNumber(target.TypeIndex)->ResetMemberIDs(includeExplicit_);
    if (listener) NotifyListener(*listener, Kind(), copy, *this, flags);
    return true;
}

std::u16string ResetIDsChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(includeExplicit_ ? 752 : 751, {modRecorder::DescribeTarget(target)});
}

namespace modResetIDsChange {
ChangePtr GetResetAutomaticIDsChange() {
    static const ChangePtr instance = std::make_shared<ResetIDsChange>(false);
    return instance;
}
ChangePtr GetResetAllIDsChange() {
    static const ChangePtr instance = std::make_shared<ResetIDsChange>(true);
    return instance;
}
}  // namespace modResetIDsChange

}  // namespace zephrin

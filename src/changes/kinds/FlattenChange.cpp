#include "changes/kinds/FlattenChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/TargetText.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

bool FlattenChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                          int32_t flags) {
    RequireTargetKind(ChangeKind::FlattenChange, target);
    ChangeTarget copy = target;
    (void)library.GetCustomTypeInfoByNumber(target.TypeIndex)->Flatten();
    if (listener) NotifyListener(*listener, ChangeKind::FlattenChange, copy, *this, flags);
    return true;
}

std::u16string FlattenChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(642, {modRecorder::DescribeTarget(target)});
}

namespace modFlattenChange {
ChangePtr GetFlattenChange() {
    static const ChangePtr instance = std::make_shared<FlattenChange>();
    return instance;
}
}  // namespace modFlattenChange

}  // namespace zephrin

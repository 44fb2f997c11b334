#include "changes/kinds/DeleteChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeRegeneration.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

namespace {

// The names of the item the target names, read while it is still there.
void FillDeletedNames(ChangeTarget& t) {
    const ole::ComPtr<ole::ITypeInfo> type = changes_detail::TargetTypeInfo(t);
    t.TypeName = modITypeInfoHelper::GetTypeInfoName(type.get());
    switch (t.Kind) {
        case kTargetImplType:
            if (t.MemberId < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
            t.MemberName = modITypeInfoHelper::GetImplTypeName(type.get(), static_cast<ole::UINT>(t.MemberId));
            break;
        case kTargetMember: t.MemberName = modITypeInfoHelper::MemberNameFromID(type.get(), t.MemberId); break;
        case kTargetParam:
            modITypeInfoHelper::GetMemberNames(type.get(), t.MemberId, t.ParamIndex, t.MemberName, t.ParamName);
            break;
        default: break;
    }
}

// Deleting a type regenerates the library without it; a type that another
// type still uses is refused by the regeneration, and nothing changes.
void DeleteType(CustomTypeLib& library, ChangeTarget& target) {
    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    const ole::ComPtr<tli::TypeInfo> type = changes_detail::TliTypeAt(lib, target.TypeIndex);
    const ole::ComPtr<ole::ITypeLib> regenerated = changes_detail::RegenerateInMemory(
        lib, [&](TLBModifier& modifier) { modifier.RedirectType(type.get(), nullptr, true); });
    changes_detail::AdoptRegenerated(library, target, regenerated.get());
}

}  // namespace

bool DeleteChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                         int32_t flags) {
    RequireTargetKind(ChangeKind::DeleteChange, target);
    ChangeTarget copy = target;
    if (listener) FillDeletedNames(copy);
    if (target.Kind == kTargetType) {
        DeleteType(library, target);
    } else {
        const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
        switch (target.Kind) {
            case kTargetImplType: ti->DeleteImplType(target.MemberId); break;
            case kTargetMember:
                // The model deletes nothing, silently, for a member the type doesn't have.
                ti->RequireMember(target.MemberId, target.InvokeKind);
                ti->DeleteMember(target.MemberId, target.InvokeKind);
                break;
            default: ti->DeleteParameter(target.MemberId, target.ParamIndex, target.InvokeKind); break;
        }
    }
    copy.ReplacementLibrary = target.ReplacementLibrary;
    if (listener) NotifyListener(*listener, ChangeKind::DeleteChange, copy, *this, flags);
    return true;
}

std::u16string DeleteChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(641, {modRecorder::DescribeTarget(target)});
}

namespace modDeleteChange {
ChangePtr GetDeleteChange() {
    static const ChangePtr instance = std::make_shared<DeleteChange>();
    return instance;
}
}  // namespace modDeleteChange

}  // namespace zephrin

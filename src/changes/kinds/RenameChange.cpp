#include "changes/kinds/RenameChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

bool RenameChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                         int32_t flags) {
    RequireTargetKind(ChangeKind::RenameChange, target);
    ChangeTarget copy = target;
    // The names the target had, so that the listener (and the history) can
    // find the item again by them; the copy is not renamed.
    if (listener) modRecorder::FillTargetNames(copy);
    switch (target.Kind) {
        case kTargetLibrary: library.LibName(newName_); break;
        case kTargetType: library.GetCustomTypeInfoByNumber(target.TypeIndex)->SetTypeInfoName(newName_); break;
        case kTargetMember:
        case kTargetParam: {
            const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
            // The model renames nothing, silently, for a member the type doesn't have.
            ti->RequireMember(target.MemberId, target.InvokeKind);
            if (target.Kind == kTargetMember)
                ti->SetMemberName(target.MemberId, newName_);
            else
                ti->SetParameterName(target.MemberId, target.ParamIndex, newName_, target.InvokeKind);
            break;
        }
        default: RaiseError(kErrInvalidArgument);
    }
    if (listener) NotifyListener(*listener, ChangeKind::RenameChange, copy, *this, flags);
    return true;
}

std::u16string RenameChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(747, {modRecorder::DescribeTarget(target), newName_});
}

void RenameChange::InitFromTarget(ChangeTarget& target) {
    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    switch (target.Kind) {
        case kTargetLibrary:
        case kTargetType: {
            ole::BSTR name = nullptr;
            CheckHr(lib->GetDocumentation(target.Kind == kTargetLibrary ? -1 : target.TypeIndex, &name, nullptr,
                                          nullptr, nullptr));
            newName_ = typelib_detail::TakeBstr(name);
            break;
        }
        case kTargetMember:
            newName_ = modITypeInfoHelper::MemberNameFromID(changes_detail::TargetTypeInfo(target).get(),
                                                            target.MemberId);
            break;
        case kTargetParam: {
            std::u16string member, param;
            modITypeInfoHelper::GetMemberNames(changes_detail::TargetTypeInfo(target).get(), target.MemberId,
                                               target.ParamIndex, member, param);
            newName_ = param;
            break;
        }
        default: RaiseError(kErrInvalidArgument);
    }
}

ChangePtr RenameChange::Clone() {
    auto copy = modRenameChange::NewRenameChange(false);
    copy->NewName(newName_);
    return copy;
}

bool RenameChange::Differs(IChange& other) {
    const auto* rename = dynamic_cast<RenameChange*>(&other);
    return !rename || rename->newName_ != newName_;
}

void RenameChange::Save(HistoryFileWriter& out, int32_t) { out.PutString(newName_); }

void RenameChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    newName_ = in.GetString();
}

namespace modRenameChange {
std::shared_ptr<RenameChange> NewRenameChange(bool) { return std::make_shared<RenameChange>(); }
}  // namespace modRenameChange

}  // namespace zephrin

#include "changes/kinds/CopyMemberChange.h"

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

using changes_detail::NamedType;

void CopyMemberChange::VarTypeInfo(tli::VarTypeInfo* type) {
    varTypeInfo_ = ole::ComPtr<tli::VarTypeInfo>(type);
    cachedType_ = nullptr;
}

bool CopyMemberChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                             int32_t flags) {
    RequireTargetKind(ChangeKind::CopyMemberChange, target);
    const ole::ComPtr<tli::TypeInfo> source = NamedType(varTypeInfo_.get());
    int32_t position = -1;
    if (target.TypeKind == ole::TKIND_ENUM || target.TypeKind == ole::TKIND_RECORD) {
        position = 0;
        if (target.Kind == kTargetMember) {
            ole::ComPtr<ole::ITypeInfo2> type;
            CheckHr(changes_detail::TargetTypeInfo(target).As(&type));
            position = modITypeInfoHelper::VarIndexOfMemId(type.get(), target.MemberId) + 1;
        }
    }
    ChangeTarget copy = target;
    library.GetCustomTypeInfoByNumber(target.TypeIndex)
        ->CopyMember(source.get(), sourceMemberId_, newMemberName_, newMemberId_, invokeKinds_, position);
    if (listener) NotifyListener(*listener, ChangeKind::CopyMemberChange, copy, *this, flags);
    return true;
}

std::u16string CopyMemberChange::Describe(ChangeTarget& target) {
    ChangeTarget from;
    from.Kind = kTargetMember;
    from.MemberId = sourceMemberId_;
    from.InvokeKind = invokeKinds_;
    if (varTypeInfo_) {
        ole::ComPtr<ole::ITypeInfo> type;
        CheckHr(NamedType(varTypeInfo_.get())->get_ITypeInfo(type.put()));
        ole::UINT index = 0;
        CheckHr(type->GetContainingTypeLib(from.Library.put(), &index));
        from.TypeIndex = static_cast<int32_t>(index);
        from.TypeName = modITypeInfoHelper::GetTypeInfoName(type.get());
        from.TypeKind = modITypeInfoHelper::GetEffectiveTypeKind(from.Library.get(), index);
    }
    return modSupport::LoadResStringFormat(640,
                                           {modRecorder::DescribeTarget(from), modRecorder::DescribeTarget(target)});
}

ChangePtr CopyMemberChange::Clone() {
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->varTypeInfo_ = varTypeInfo_;
    copy->cachedType_ = cachedType_;
    copy->sourceMemberId_ = sourceMemberId_;
    copy->invokeKinds_ = invokeKinds_;
    copy->newMemberId_ = newMemberId_;
    copy->newMemberName_ = newMemberName_;
    return copy;
}

void CopyMemberChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutTypeOrdinal(cachedType_);
    out.PutLong(sourceMemberId_);
    out.PutByte(static_cast<uint8_t>(invokeKinds_ & 0xFF));
}

void CopyMemberChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    varTypeInfo_ = nullptr;
    cachedType_ = in.GetTypeOrdinal();
    sourceMemberId_ = in.GetLong();
    invokeKinds_ = in.GetByte();
    newMemberId_ = 0;
    newMemberName_.clear();
}

void CopyMemberChange::BindToLibrary(ole::ITypeLib* context, IChange*) {
    if (cachedType_) varTypeInfo_ = cachedType_->GetVarTypeInfo(context);
}

void CopyMemberChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (varTypeInfo_ && !cache.Holds(cachedType_.get())) cachedType_ = cache.AddVarType(varTypeInfo_.get());
    varTypeInfo_ = nullptr;
    newMemberName_.clear();
}

namespace modCopyMemberChange {
std::shared_ptr<CopyMemberChange> NewCopyMemberChange(bool) { return std::make_shared<CopyMemberChange>(); }
}  // namespace modCopyMemberChange

}  // namespace zephrin

#include "changes/kinds/ImplTypeChange.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

void ImplTypeChange::VarTypeInfo(CustomVarTypeInfo* value) {
    type_ = ole::ComPtr<CustomVarTypeInfo>(value);
    cached_ = nullptr;
    mask_ |= kTypeBit;
}

bool ImplTypeChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target,
                           IChangeListener* listener, int32_t flags) {
    RequireTargetKind(ChangeKind::ImplTypeChange, target);
    std::shared_ptr<ImplTypeChange> own;
    ImplTypeChange& base = Baseline(captured, target, own);
    int32_t applied = 0;
    const bool changed = ApplyFields(base, applied, [&] {
        const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
        if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
        ScopeGuard undo;
        if (!SameType(type_, base.type_)) {
            ti->SetImplTypeType(target.MemberId, InterfaceOf(type_));
            applied |= kTypeBit;
            undo.OnFailure([&] { ti->SetImplTypeType(target.MemberId, InterfaceOf(base.type_)); });
        }
        if (flags_ != base.flags_) {
            int32_t set = flags_;
            ti->SetImplTypeFlags(target.MemberId, set);
            flags_ = static_cast<int16_t>(set);
            if (flags_ != base.flags_) applied |= kFlagsBit;
        }
        undo.Dismiss();
    });
    if (!changed) return false;
    Notify(listener, ChangeKind::ImplTypeChange, target, flags);
    return true;
}

std::u16string ImplTypeChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(
        656, {modRecorder::DescribeTarget(target), Items(mask_, {{kFlagsBit, 657}, {kTypeBit, 658}})});
}

void ImplTypeChange::InitFromTarget(ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    if (target.TypeIndex < 0 || target.MemberId < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ole::ComPtr<ole::ITypeInfo> ti;
    CheckHr(target.Library->GetTypeInfo(static_cast<ole::UINT>(target.TypeIndex), ti.put()));
    const auto index = static_cast<ole::UINT>(target.MemberId);
    ole::INT implFlags = 0;
    CheckHr(ti->GetImplTypeFlags(index, &implFlags));
    ole::HREFTYPE href = 0;
    CheckHr(ti->GetRefTypeOfImplType(index, &href));
    ole::ComPtr<ole::ITypeInfo> implemented;
    CheckHr(ti->GetRefTypeInfo(href, implemented.put()));
    flags_ = static_cast<int16_t>(implFlags);
    type_ = CustomVarTypeInfo::New();
    type_->SetType(0, typelib_detail::TliTypeInfo(implemented.get()).get());
    type_->CurrentITypeLib(target.Library.get());
    cached_ = nullptr;
}

ChangePtr ImplTypeChange::Clone() { return Copy(*this); }

int32_t ImplTypeChange::DiffMask(IAttributeChange& other) {
    auto* o = dynamic_cast<ImplTypeChange*>(&other);
    if (!o) RaiseError(kErrInvalidArgument);
    return (flags_ != o->flags_ ? kFlagsBit : 0) | (!SameType(type_, o->type_) ? kTypeBit : 0);
}

void ImplTypeChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(mask_));
    out.PutByte(static_cast<uint8_t>(flags_));
    if (mask_ & kTypeBit)
        out.PutTypeRef(cached_);
    else
        out.PutLong(0);
}

void ImplTypeChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    mask_ = in.GetByte();
    flags_ = in.GetByte();
    cached_ = in.GetTypeRef();
}

void ImplTypeChange::BindToLibrary(ole::ITypeLib* context, IChange* current) {
    bound_ = true;
    if (mask_ & kTypeBit) type_ = BoundType(cached_, context);
    auto* now = dynamic_cast<ImplTypeChange*>(current);
    if (!now) return;
    if (!(mask_ & kFlagsBit)) flags_ = now->flags_;
    if (!(mask_ & kTypeBit)) type_ = now->type_;
}

void ImplTypeChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if ((mask_ & kTypeBit) && type_ && !cache.Holds(cached_.get())) cached_ = cache.AddVarType(type_.get());
    type_ = nullptr;
    bound_ = false;
}

std::shared_ptr<IAttributeChange> modImplTypeChange::NewImplTypeChange(bool) { return ImplTypeChange::New(); }

}  // namespace zephrin

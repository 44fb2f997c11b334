#include "changes/kinds/MemberChange.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/ParamData.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

namespace {

// A module function's entry as the library takes it: an Integer is the
// ordinal, its 16 bits unsigned; a text is the entry's name.
ole::DllEntryPoint EntryOf(const ole::Variant& value) {
    switch (value.vt()) {
        case ole::VT_I2: return static_cast<ole::WORD>(static_cast<uint16_t>(value.get().iVal));
        case ole::VT_BSTR: return std::u16string(ole::BstrView(value.get().bstrVal));
        case ole::VT_EMPTY: return std::u16string();
        default: RaiseError(kErrTypeMismatch);
    }
}

bool HoldsConstants(ole::TYPEKIND kind) { return kind == ole::TKIND_ENUM || kind == ole::TKIND_MODULE; }

// The index of the function memberId/invokeKind's last parameter when it is
// the return value ([retval]), else -1.
int32_t RetvalIndex(ole::ITypeInfo2* ti, ole::MEMBERID memberId, int32_t invokeKind) {
    ole::UINT index = 0;
    CheckHr(ti->GetFuncIndexOfMemId(memberId, static_cast<ole::INVOKEKIND>(invokeKind), &index));
    const typelib_detail::FuncDescHolder fd(ti, index);
    if (fd->cParams <= 0 || !fd->lprgelemdescParam) return -1;
    const ole::ELEMDESC& last = fd->lprgelemdescParam[fd->cParams - 1];
    return (last.paramdesc.wParamFlags & ole::PARAMFLAG_FRETVAL) ? fd->cParams - 1 : -1;
}

}  // namespace

void MemberChange::VarTypeInfo(CustomVarTypeInfo* value) {
    type_ = ole::ComPtr<CustomVarTypeInfo>(value);
    cached_ = nullptr;
    mask_ |= kTypeBit;
}

bool MemberChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                         int32_t flags) {
    RequireTargetKind(ChangeKind::MemberChange, target);
    std::shared_ptr<MemberChange> own;
    MemberChange& base = Baseline(captured, target, own);
    int32_t applied = 0;
    std::u16string name;  // the member's, when its ID changes
    const bool changed = ApplyFields(base, applied, [&] {
        const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
        if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
        const ole::TYPEKIND kind = ti->TypeKind();
        ModifyData request;
        if (memberId_ != base.memberId_) {
            request.MemID = memberId_;
            request.FieldMask |= ModifyData::kMemID;
            applied |= kMemberIdBit;
        }
        // A function whose last parameter is its return value returns what
        // that parameter points to: a new return type goes to the parameter,
        // one pointer level up, and the function keeps its own return type.
        int32_t retval = -1;
        const bool retype = !SameType(type_, base.type_);
        if (retype) {
            if (target.InvokeKind != 0)
                retval = RetvalIndex(modITypeInfoHelper::GetInterfaceTypeInfo2(
                                         target.Library.get(), static_cast<ole::UINT>(target.TypeIndex))
                                         .get(),
                                     target.MemberId, target.InvokeKind);
            if (retval < 0) {
                request.VTInfo = type_ ? type_->GetVarTypeInfo() : nullptr;
                request.FieldMask |= ModifyData::kVTInfo;
            }
            applied |= kTypeBit;
        }
        if (flags_ != base.flags_) {
            request.Flags = static_cast<uint16_t>(flags_);
            request.FieldMask |= ModifyData::kFlags;
            applied |= kFlagsBit;
        }
        const bool valuesDiffer = !modMarbrel::VariantsEqual(value_.get(), base.value_.get());
        if (target.InvokeKind == 0) {
            if (HoldsConstants(kind) && valuesDiffer) {
                request.ConstantValue = value_;
                request.FieldMask |= ModifyData::kConstantValue;
                applied |= kValueBit;
            }
        } else if (kind == ole::TKIND_MODULE) {
            if (valuesDiffer) {
                request.DllEntry = EntryOf(value_);
                request.FieldMask |= ModifyData::kDllEntry;
                applied |= kDllEntryBit;
            }
            if (dllName_ != base.dllName_) {
                request.DllName = dllName_;
                request.FieldMask |= ModifyData::kDllName;
                applied |= kDllNameBit;
            }
        }
        if (applied != 0) {
            // The member as the library shows it (a dispinterface declared
            // over an interface shows the interface's functions).
            const ole::ComPtr<ole::ITypeInfo> read = modITypeInfoHelper::GetInterfaceTypeInfo(
                target.Library.get(), static_cast<ole::UINT>(target.TypeIndex));
            if (applied & kMemberIdBit) name = modITypeInfoHelper::MemberNameFromID(read.get(), target.MemberId);
            ScopeGuard undo;
            if (retval >= 0) {
                if (!type_) RaiseError(kErrInvalidArgument);
                ParamData param;
                param.Flags = ole::PARAMFLAG_FOUT | ole::PARAMFLAG_FRETVAL;
                param.VTInfo =
                    CustomVarTypeInfo::CopyWithPointers(type_.get(), target.Library.get(), 1)->GetVarTypeInfo();
                ti->SetParameterType(target.MemberId, retval, param, target.InvokeKind, 0);
                undo.OnFailure([&, retval] {
                    ParamData old;
                    old.Flags = ole::PARAMFLAG_FOUT | ole::PARAMFLAG_FRETVAL;
                    old.VTInfo = CustomVarTypeInfo::CopyWithPointers(base.type_.get(), target.Library.get(), 1)
                                     ->GetVarTypeInfo();
                    ti->SetParameterType(target.MemberId, retval, old, target.InvokeKind, 0);
                });
            }
            if (request.FieldMask != 0) ti->ModifyMember(target.MemberId, target.InvokeKind, request);
            undo.Dismiss();
            if ((applied & kMemberIdBit) && memberId_ == ole::MEMBERID_NIL)
                memberId_ = modITypeInfoHelper::MemberIDFromName(read.get(), name);
        }
    });
    if (!changed) return false;
    ChangeTarget renamed = target;
    if (applied & kMemberIdBit) renamed.MemberName = name;
    Notify(listener, ChangeKind::MemberChange, renamed, flags);
    return true;
}

std::u16string MemberChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(
        690, {modRecorder::DescribeTarget(target),
              Items(mask_, {{kTypeBit, 691}, {kValueBit, 692}, {kMemberIdBit, 693}, {kFlagsBit, 694},
                            {kDllNameBit, 695}, {kDllEntryBit, 696}})});
}

void MemberChange::InitFromTarget(ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    if (target.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ole::ITypeLib* lib = target.Library.get();
    const auto typeIndex = static_cast<ole::UINT>(target.TypeIndex);
    const ole::TYPEKIND kind = modITypeInfoHelper::GetEffectiveTypeKind(lib, typeIndex);
    type_ = nullptr;
    cached_ = nullptr;
    value_.Clear();
    dllName_.clear();
    if (target.InvokeKind == 0) {
        const ole::ComPtr<ole::ITypeInfo2> ti = modITypeInfoHelper::GetInterfaceTypeInfo2(lib, typeIndex);
        const int32_t index = modITypeInfoHelper::VarIndexOfMemId(ti.get(), target.MemberId);
        if (index < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        ole::VARDESC* var = nullptr;
        CheckHr(ti->GetVarDesc(static_cast<ole::UINT>(index), &var));
        if (!var) RaiseError(ole::E_UNEXPECTED);
        const ScopeGuard release([&] { ti->ReleaseVarDesc(var); });
        type_ = CustomVarTypeInfo::New();
        type_->DuplicateFromTypeDesc(var->elemdescVar.tdesc, lib, ti.get());
        type_->CurrentITypeLib(lib);
        if (HoldsConstants(kind) && var->varkind == ole::VAR_CONST && var->lpvarValue) value_ = *var->lpvarValue;
        flags_ = static_cast<int16_t>(var->wVarFlags);
        memberId_ = var->memid;
        return;
    }
    const modMarbrel::MemberDescription d = modMarbrel::CreateCustParameterInfo(
        lib, typeIndex, target.MemberId, static_cast<ole::INVOKEKIND>(target.InvokeKind), 0);
    type_ = LiveType(d.Type.get(), lib);
    // The return value parameter's type, as the function returns it.
    if (type_ && RetvalIndex(modITypeInfoHelper::GetInterfaceTypeInfo2(lib, typeIndex).get(), target.MemberId,
                             target.InvokeKind) >= 0)
        type_ = CustomVarTypeInfo::CopyWithPointers(type_.get(), lib, -1);
    ole::SHORT memberFlags = 0;
    CheckHr(d.Member->get_AttributeMask(&memberFlags));
    flags_ = memberFlags;
    CheckHr(d.Member->get_MemberId(&memberId_));
    if (kind != ole::TKIND_MODULE) return;
    std::u16string entry;
    ole::WORD ordinal = 0;
    if (ole::FAILED(d.Member->GetDllEntry(&dllName_, &entry, &ordinal))) return;  // a function with no entry yet
    value_ = entry.empty() ? ole::Variant(static_cast<int16_t>(ordinal)) : ole::Variant(entry);
}

ChangePtr MemberChange::Clone() { return Copy(*this); }

int32_t MemberChange::DiffMask(IAttributeChange& other) {
    auto* o = dynamic_cast<MemberChange*>(&other);
    if (!o) RaiseError(kErrInvalidArgument);
    int32_t mask = 0;
    if (memberId_ != o->memberId_) mask |= kMemberIdBit;
    if (!modMarbrel::VariantsEqual(value_.get(), o->value_.get())) mask |= kValueBit;
    if (!SameType(type_, o->type_)) mask |= kTypeBit;
    if (dllName_ != o->dllName_) mask |= kDllNameBit;
    if (flags_ != o->flags_) mask |= kFlagsBit;
    return mask;
}

void MemberChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutInteger(static_cast<int16_t>(mask_));
    if (mask_ & kTypeBit) out.PutTypeOrdinal(cached_);
    if (mask_ & kMemberIdBit) out.PutLong(memberId_);
    if (mask_ & kFlagsBit) out.PutInteger(flags_);
    if (mask_ & kValueBits) modMarbrel::WriteVariant(out, value_.get());
    if (mask_ & kDllNameBit) out.PutString(dllName_);
}

void MemberChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    mask_ = in.GetInteger();
    if (mask_ & kTypeBit) cached_ = in.GetTypeOrdinal();
    if (mask_ & kMemberIdBit) memberId_ = in.GetLong();
    if (mask_ & kFlagsBit) flags_ = in.GetInteger();
    if (mask_ & kValueBits) value_ = modMarbrel::ReadVariant(in);
    if (mask_ & kDllNameBit) dllName_ = in.GetString();
}

void MemberChange::BindToLibrary(ole::ITypeLib* context, IChange* current) {
    bound_ = true;
    if (mask_ & kTypeBit) type_ = BoundType(cached_, context);
    auto* now = dynamic_cast<MemberChange*>(current);
    if (!now) return;
    if (!(mask_ & kTypeBit)) type_ = now->type_;
    if (!(mask_ & kValueBits)) value_ = now->value_;
    if (!(mask_ & kDllNameBit)) dllName_ = now->dllName_;
    if (!(mask_ & kFlagsBit)) flags_ = now->flags_;
    if (!(mask_ & kMemberIdBit)) memberId_ = now->memberId_;
}

void MemberChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (!(mask_ & kValueBits)) value_.Clear();
    if (!(mask_ & kDllNameBit)) dllName_.clear();
    if ((mask_ & kTypeBit) && type_ && !cache.Holds(cached_.get())) cached_ = cache.AddVarType(type_.get());
    type_ = nullptr;
    bound_ = false;
}

std::shared_ptr<IAttributeChange> modMemberChange::NewMemberChange(bool) { return MemberChange::New(); }

}  // namespace zephrin

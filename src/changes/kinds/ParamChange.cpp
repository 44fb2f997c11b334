#include "changes/kinds/ParamChange.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/ParamData.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

namespace {
constexpr int32_t kHasDefault = ole::PARAMFLAG_FHASDEFAULT;
}  // namespace

void ParamChange::TestObjectDefault() {
    defaultIsObject_ = type_ && modMarbrel::ResolveObjectTypeInfo(type_->GetVarTypeInfo().get());
}

void ParamChange::Flags(int32_t value) {
    if (((value ^ flags_) & ~kNullDefault & 0xFFFF) == 0) return;
    flags_ = static_cast<int16_t>((flags_ & kNullDefault) | (value & ~kNullDefault));
    if (value & kHasDefault) {
        flags_ = static_cast<int16_t>(value & ~kNullDefault);
        TestObjectDefault();
    }
    mask_ |= kFlagsBit;
}

void ParamChange::VarTypeInfo(CustomVarTypeInfo* value) {
    type_ = ole::ComPtr<CustomVarTypeInfo>(value);
    cached_ = nullptr;
    if (flags_ & (kNullDefault | kHasDefault)) TestObjectDefault();
    mask_ |= kTypeBit;
}

ole::Variant ParamChange::Value() {
    if ((flags_ & kNullDefault) || defaultIsObject_) return ole::Variant::Null();
    if (defaultIsEmpty_) return {};
    return value_;
}

void ParamChange::Value(const ole::Variant& value) {
    mask_ |= kValueBit;
    if (value.vt() == ole::VT_NULL) {
        flags_ = static_cast<int16_t>(flags_ | kNullDefault);
        return;
    }
    flags_ = static_cast<int16_t>(flags_ & ~kNullDefault);
    defaultIsEmpty_ = value.vt() == ole::VT_EMPTY;
    value_ = value;
}

bool ParamChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                        int32_t flags) {
    RequireTargetKind(ChangeKind::ParamChange, target);
    std::shared_ptr<ParamChange> own;
    ParamChange& base = Baseline(captured, target, own);
    ParamData param;
    param.Flags = flags_ & ~kNullDefault & 0xFFFF;
    param.VTInfo = type_ ? type_->GetVarTypeInfo() : nullptr;
    if (flags_ & kHasDefault) {
        if (!defaultIsObject_ && !defaultIsEmpty_) {
            param.DefaultValue = value_;
        } else {
            // The null reference of an object type, and a default set to Empty.
            param.DefaultValue = ole::Variant(int32_t{0});
            value_.Clear();
        }
    } else if (flags_ & kNullDefault) {
        param.DefaultValue = ole::Variant::Null();
    } else {
        value_.Clear();
    }
    int32_t applied = DiffMask(base);
    const bool changed = ApplyFields(base, applied, [&] {
        if (applied != 0) {
            const std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
            if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
            ti->SetParameterType(target.MemberId, target.ParamIndex, param, target.InvokeKind,
                                 (applied & kInvokeKindBit) ? invokeKind_ : 0);
        }
    });
    if (!changed) return false;
    Notify(listener, ChangeKind::ParamChange, target, flags);
    return true;
}

std::u16string ParamChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(
        697, {modRecorder::DescribeTarget(target),
              Items(mask_, {{kTypeBit, 698}, {kFlagsBit, 699}, {kInvokeKindBit, 701}, {kValueBit, 700}})});
}

void ParamChange::InitFromTarget(ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    if (target.TypeIndex < 0 || target.ParamIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ole::ITypeLib* lib = target.Library.get();
    const modMarbrel::MemberDescription d =
        modMarbrel::CreateCustParameterInfo(lib, static_cast<ole::UINT>(target.TypeIndex), target.MemberId,
                                            static_cast<ole::INVOKEKIND>(target.InvokeKind), target.ParamIndex + 1);
    type_ = LiveType(d.Type.get(), lib);
    cached_ = nullptr;
    ole::USHORT paramFlags = 0;
    CheckHr(d.Parameter->get_Flags(&paramFlags));
    flags_ = static_cast<int16_t>(paramFlags);
    invokeKind_ = target.InvokeKind;
    defaultIsObject_ = false;
    defaultIsEmpty_ = false;
    value_.Clear();
    if (flags_ & kHasDefault) {
        TestObjectDefault();
        if (defaultIsObject_) {
            value_ = ole::Variant(int32_t{0});
        } else {
            const ole::HRESULT hr = d.Parameter->get_DefaultValue(value_.put());
            if (hr != tli::TLI_E_NODEFAULTVALUE) CheckHr(hr);
        }
    } else if ((flags_ & ole::PARAMFLAG_FOPT) && !d.BeyondRequired) {
        flags_ = static_cast<int16_t>(flags_ | kNullDefault);
    }
}

ChangePtr ParamChange::Clone() { return Copy(*this); }

int32_t ParamChange::DiffMask(IAttributeChange& other) {
    auto* o = dynamic_cast<ParamChange*>(&other);
    if (!o) RaiseError(kErrInvalidArgument);
    int32_t mask = 0;
    if (flags_ != o->flags_) mask |= kFlagsBit;
    if (!SameType(type_, o->type_)) mask |= kTypeBit;
    if (invokeKind_ != o->invokeKind_) mask |= kInvokeKindBit;
    // A default set to Empty is written as a Long 0: it differs from a
    // parameter that had no default, though both values are Empty.
    if ((flags_ & kHasDefault) && !defaultIsObject_ &&
        (defaultIsEmpty_ != o->defaultIsEmpty_ || !modMarbrel::VariantsEqual(value_.get(), o->value_.get())))
        mask |= kValueBit;
    return mask;
}

void ParamChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutInteger(static_cast<int16_t>(mask_));
    out.PutInteger(flags_);
    out.PutBoolean(defaultIsEmpty_);
    out.PutBoolean(defaultIsObject_);
    if (mask_ & kInvokeKindBit) out.PutLong(invokeKind_);
    if (mask_ & kTypeBit) out.PutTypeOrdinal(cached_);
    if (mask_ & kValueBit) modMarbrel::WriteVariant(out, value_.get());
}

void ParamChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    mask_ = in.GetInteger();
    flags_ = in.GetInteger();
    defaultIsEmpty_ = in.GetBoolean();
    defaultIsObject_ = in.GetBoolean();
    if (mask_ & kInvokeKindBit) invokeKind_ = in.GetLong();
    if (mask_ & kTypeBit) cached_ = in.GetTypeOrdinal();
    if (mask_ & kValueBit) value_ = modMarbrel::ReadVariant(in);
}

void ParamChange::BindToLibrary(ole::ITypeLib* context, IChange* current) {
    bound_ = true;
    if (mask_ & kTypeBit) type_ = BoundType(cached_, context);
    if (auto* now = dynamic_cast<ParamChange*>(current)) {
        if (!(mask_ & kValueBit)) {
            // Histories saved by earlier versions record a default set to
            // Empty over a parameter without one in DefaultIsEmpty alone, the
            // mask not telling it: where the value is still Empty, the
            // default is written as it was then.
            const bool setEmpty = defaultIsEmpty_ && (flags_ & kHasDefault) && now->value_.vt() == ole::VT_EMPTY;
            value_ = now->value_;
            defaultIsEmpty_ = setEmpty || now->defaultIsEmpty_;
        }
        if (!(mask_ & kTypeBit)) type_ = now->type_;
        if (!(mask_ & kFlagsBit)) flags_ = now->flags_;
        if (!(mask_ & kInvokeKindBit)) invokeKind_ = now->invokeKind_;
    }
    if (flags_ & kHasDefault) TestObjectDefault();
}

void ParamChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (!(mask_ & kValueBit)) value_.Clear();
    if ((mask_ & kTypeBit) && type_ && !cache.Holds(cached_.get())) cached_ = cache.AddVarType(type_.get());
    type_ = nullptr;
    bound_ = false;
}

std::shared_ptr<IAttributeChange> modParamChange::NewParamChange(bool) { return ParamChange::New(); }

}  // namespace zephrin

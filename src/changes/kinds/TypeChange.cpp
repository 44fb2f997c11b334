#include "changes/kinds/TypeChange.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/IChangeListener.h"
#include "changes/hub/TargetText.h"
#include "changes/hub/VTICache.h"
#include "changes/kinds/ChangeRegeneration.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using typelib_detail::TypeAttr;

void TypeChange::VarTypeInfo(CustomVarTypeInfo* value) {
    type_ = ole::ComPtr<CustomVarTypeInfo>(value);
    cached_ = nullptr;
    mask_ |= kTypeBit;
}

bool TypeChange::BaseIsDispatchable() const {
    tli::TypeInfo* base = InterfaceOf(type_);
    if (!base) return false;
    const ole::ComPtr<ole::ITypeInfo> ti = typelib_detail::ITypeInfoOf(base);
    if (!ti) return false;
    const TypeAttr attr(ti.get());
    return (attr->wTypeFlags & ole::TYPEFLAG_FDISPATCHABLE) || attr->guid == ole::IDispatch::kIID;
}

ole::ComPtr<ole::ITypeLib> TypeChange::RemoveDualFlag(const ChangeTarget& target) {
    // The interface alone, without the flag, in a scratch library; then the
    // edited library with the interface replaced by that one.
    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    const ole::ComPtr<tli::TypeInfo> dual = changes_detail::TliTypeAt(lib, target.TypeIndex);
    CustomTypeLib scratch;
    scratch.LibName(u"DualRemoval");
    const ole::ComPtr<ole::ITypeLib> empty = scratch.GenerateDirect(true);
    const ole::ComPtr<ole::ITypeLib> single = changes_detail::RegenerateInMemory(
        empty.get(), [&](TLBModifier& modifier) { modifier.AddExtraType(dual.get(), TLBModifier::kTypeNoDual); });
    const ole::ComPtr<tli::TypeInfo> plain = changes_detail::TliTypeAt(single.get(), 0);
    ole::ComPtr<ole::ITypeLib> regenerated = changes_detail::RegenerateInMemory(
        lib, [&](TLBModifier& modifier) { modifier.RedirectType(dual.get(), plain.get(), true); });
    // The base or aliased type is named in the new library from now on.
    if (type_) {
        VTICache cache;
        type_ = BoundType(cache.AddVarType(type_.get()), regenerated.get());
    }
    return regenerated;
}

bool TypeChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                       int32_t flags) {
    RequireTargetKind(ChangeKind::TypeChange, target);
    std::shared_ptr<TypeChange> own;
    TypeChange& base = Baseline(captured, target, own);
    if (listener) {
        bool cancel = false;
        ChangeTarget copy = target;
        listener->OnBeforeTypeChange(copy, *this, cancel, 0);
        if (cancel) return false;
    }
    int32_t applied = 0;
    // Clearing the dual flag regenerates the library; the type is then edited
    // in the new library, and the edited library moves to it only when every
    // edit succeeded.
    ole::ComPtr<ole::ITypeLib> regenerated;
    CustomTypeLib rebuilt;
    int16_t baseFlags = base.flags_;
    const bool changed = ApplyFields(base, applied, [&] {
        std::shared_ptr<CustomTypeInfo> ti = library.GetCustomTypeInfoByNumber(target.TypeIndex);
        if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
        const ole::TYPEKIND kind = ti->TypeKind();
        // Compared before a regeneration moves the change's type to the new library.
        const bool typeDiffers = !SameType(type_, base.type_);
        if (kind == ole::TKIND_INTERFACE && ((flags_ ^ base.flags_) & ole::TYPEFLAG_FDUAL)) {
            if (!(flags_ & ole::TYPEFLAG_FDUAL)) {
                regenerated = RemoveDualFlag(target);
                rebuilt.Attach(regenerated.get());
                ti = rebuilt.GetCustomTypeInfoByNumber(target.TypeIndex);
                if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
                baseFlags = static_cast<int16_t>(baseFlags & ~ole::TYPEFLAG_FDUAL);
                applied |= kFlagsBit;
            } else if (!BaseIsDispatchable()) {
                flags_ = static_cast<int16_t>(flags_ & ~ole::TYPEFLAG_FDUAL);
            }
        }
        ScopeGuard undo;
        WriteField(undo, applied, kGuidBit, guid_, base.guid_, [&](const ole::GUID& v) { ti->SetGuidDirect(v); });
        if (major_ != base.major_) applied |= kMajorBit;
        if (minor_ != base.minor_) applied |= kMinorBit;
        if (applied & (kMajorBit | kMinorBit)) {
            ti->SetVersion(major_, minor_);
            undo.OnFailure([&] { ti->SetVersion(base.major_, base.minor_); });
        }
        if (kind == ole::TKIND_RECORD && alignment_ != base.alignment_) {
            // One wider than the fields' is stored as theirs, as the platform
            // stores it (the pane's field refuses it; recorded histories may
            // hold it); one that is no alignment at all is refused.
            if (alignment_ != 1 && alignment_ != 2 && alignment_ != 4 && alignment_ != 8 && alignment_ != 16)
                RaiseError(kErrInvalidArgument,
                           modITypeInfoHelper::AlignmentRefusal(ti->ITypeInfo().get(), alignment_));
            const int16_t setting = ti->AlignmentSetting();
            ti->SetAlignment(alignment_);
            applied |= kAlignmentBit;
            undo.OnFailure([&ti, setting] { ti->SetAlignment(setting); });
        } else if (kind == ole::TKIND_INTERFACE && typeDiffers) {
            ti->SetBaseType(CustomTypeInfo::kBaseCustom, InterfaceOf(type_));
            applied |= kTypeBit;
            undo.OnFailure([&] { ti->SetBaseType(CustomTypeInfo::kBaseCustom, InterfaceOf(base.type_)); });
        } else if (kind == ole::TKIND_ALIAS && typeDiffers) {
            ti->SetAlias(type_.get());
            applied |= kTypeBit;
            undo.OnFailure([&] { ti->SetAlias(base.type_.get()); });
        }
        if (flags_ != baseFlags) {
            ti->Attributes(flags_);
            applied |= kFlagsBit;
            undo.OnFailure([&] { ti->Attributes(base.flags_); });
        }
        // What the library made of the flags (a dual is also oleautomation).
        flags_ = static_cast<int16_t>(ti->Attributes());
        if (regenerated) changes_detail::AdoptRegenerated(library, target, regenerated.get());
        undo.Dismiss();
    });
    if (!changed) return false;
    Notify(listener, ChangeKind::TypeChange, target, flags);
    return true;
}

std::u16string TypeChange::Describe(ChangeTarget& target) {
    // The type's own kind: an alias is shown under the kind of what it names.
    int32_t kind = target.TypeKind;
    try {
        if (target.Library && target.TypeIndex >= 0)
            kind = modITypeInfoHelper::GetEffectiveTypeKind(target.Library.get(),
                                                            static_cast<ole::UINT>(target.TypeIndex));
    } catch (const ErrorRecord&) {
        // Described by the kind the target names.
    }
    const int32_t typeWord = kind == ole::TKIND_ALIAS ? 783 : 782;
    return modSupport::LoadResStringFormat(
        780, {modRecorder::DescribeTarget(target),
              Items(mask_, {{kGuidBit, 781}, {kTypeBit, typeWord}, {kAlignmentBit, 784}, {kFlagsBit, 785},
                            {kMajorBit, 675}, {kMinorBit, 676}})});
}

void TypeChange::InitFromTarget(ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    if (target.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ole::ITypeLib* lib = target.Library.get();
    const ole::ComPtr<ole::ITypeInfo> ti =
        modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<ole::UINT>(target.TypeIndex));
    if (!ti) RaiseError(typelib_detail::kErrObjectNotSet);
    const TypeAttr attr(ti.get());
    flags_ = static_cast<int16_t>(attr->wTypeFlags);
    guid_ = attr->guid;
    major_ = static_cast<int16_t>(attr->wMajorVerNum);
    minor_ = static_cast<int16_t>(attr->wMinorVerNum);
    alignment_ = 0;
    type_ = nullptr;
    cached_ = nullptr;
    if (attr->typekind == ole::TKIND_RECORD) {
        alignment_ = static_cast<int16_t>(attr->cbAlignment);
    } else if (attr->typekind == ole::TKIND_INTERFACE && attr->cImplTypes >= 1) {
        ole::TYPEDESC base{};
        base.vt = ole::VT_USERDEFINED;
        CheckHr(ti->GetRefTypeOfImplType(0, &base.hreftype));
        type_ = CustomVarTypeInfo::New();
        type_->DuplicateFromTypeDesc(base, lib, ti.get());
    } else if (attr->typekind == ole::TKIND_ALIAS) {
        type_ = CustomVarTypeInfo::New();
        type_->DuplicateFromTypeDesc(attr->tdescAlias, lib, ti.get());
        type_->CurrentITypeLib(lib);
    }
}

ChangePtr TypeChange::Clone() { return Copy(*this); }

int32_t TypeChange::DiffMask(IAttributeChange& other) {
    auto* o = dynamic_cast<TypeChange*>(&other);
    if (!o) RaiseError(kErrInvalidArgument);
    int32_t mask = 0;
    if (guid_ != o->guid_) mask |= kGuidBit;
    if (major_ != o->major_) mask |= kMajorBit;
    if (minor_ != o->minor_) mask |= kMinorBit;
    if (alignment_ != o->alignment_) mask |= kAlignmentBit;
    if (flags_ != o->flags_) mask |= kFlagsBit;
    if (!SameType(type_, o->type_)) mask |= kTypeBit;
    return mask;
}

void TypeChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutLong(mask_);
    if (mask_ & kTypeBit) out.PutTypeRef(cached_);
    if (mask_ & kGuidBit) out.PutGuid(guid_);
    if (mask_ & kFlagsBit) out.PutInteger(flags_);
    if (mask_ & kMajorBit) out.PutInteger(major_);
    if (mask_ & kMinorBit) out.PutInteger(minor_);
    if (mask_ & kAlignmentBit) out.PutInteger(alignment_);
}

void TypeChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    mask_ = in.GetLong();
    if (mask_ & kTypeBit) cached_ = in.GetTypeRef();
    if (mask_ & kGuidBit) guid_ = in.GetGuid();
    if (mask_ & kFlagsBit) flags_ = in.GetInteger();
    if (mask_ & kMajorBit) major_ = in.GetInteger();
    if (mask_ & kMinorBit) minor_ = in.GetInteger();
    if (mask_ & kAlignmentBit) alignment_ = in.GetInteger();
}

void TypeChange::BindToLibrary(ole::ITypeLib* context, IChange* current) {
    bound_ = true;
    if (mask_ & kTypeBit) type_ = BoundType(cached_, context);
    auto* now = dynamic_cast<TypeChange*>(current);
    if (!now) return;
    if (!(mask_ & kGuidBit)) guid_ = now->guid_;
    if (!(mask_ & kMajorBit)) major_ = now->major_;
    if (!(mask_ & kMinorBit)) minor_ = now->minor_;
    if (!(mask_ & kAlignmentBit)) alignment_ = now->alignment_;
    if (!(mask_ & kFlagsBit)) flags_ = now->flags_;
    if (!(mask_ & kTypeBit)) type_ = now->type_;
}

void TypeChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if ((mask_ & kTypeBit) && type_ && !cache.Holds(cached_.get())) cached_ = cache.AddVarType(type_.get());
    type_ = nullptr;
    bound_ = false;
}

std::shared_ptr<IAttributeChange> modTypeChange::NewTypeChange(bool) { return TypeChange::New(); }

}  // namespace zephrin

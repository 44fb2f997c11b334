#include "changes/kinds/InternalizeTypesChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/kinds/ChangeSupport.h"
#include "changes/kinds/TypeRedirectionSupport.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifier.h"

namespace zephrin {

void InternalizeTypesChange::VarTypeInfo(tli::VarTypeInfo* type) {
    varTypeInfo_ = ole::ComPtr<tli::VarTypeInfo>(type);
    cachedType_ = nullptr;
}

bool InternalizeTypesChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target,
                                   IChangeListener* listener, int32_t flags) {
    RequireTargetKind(ChangeKind::InternalizeTypesChange, target);
    const ole::ComPtr<tli::TypeInfo> type = changes_detail::DescribedType(varTypeInfo_.get());
    TLBModifier engine;
    engine.StartingLibDirect(changes_detail::TargetLibrary(target));
    if (!(flags_ & (kReferencedTypes | kAllTypes))) {
        engine.AddExtraType(type.get(), (flags_ & kAsProxy) ? TLBModifier::kTypeProxy : 0);
    } else {
        const int32_t request = ((flags_ & kReferencedTypes) ? TLBModifier::kExtraOnDemand : 0) |
                                ((flags_ & kAllTypes) ? TLBModifier::kExtraAllTypes : 0) |
                                ((flags_ & kAsProxy) ? TLBModifier::kExtraProxy : 0);
        engine.AddExtraLibrary(changes_detail::ContainingLibrary(type.get()).get(), request);
    }
    changes_detail::RegenerateWithCompanion(engine, library, target);
    if (listener) {
        ChangeTarget copy = target;
        NotifyListener(*listener, ChangeKind::InternalizeTypesChange, copy, *this, flags);
    }
    return true;
}

std::u16string InternalizeTypesChange::Describe(ChangeTarget&) {
    std::u16string what;
    if (flags_ & kReferencedTypes)
        what = modSupport::LoadResStringById(670);
    else if (flags_ & kAllTypes)
        what = modSupport::LoadResStringById(669);
    else
        what = modSupport::LoadResStringFormat(671, {changes_detail::DescribedTypeName(varTypeInfo_.get(), false)});
    return modSupport::LoadResStringFormat(
        667, {what, changes_detail::DescribedLibraryName(varTypeInfo_.get()),
              (flags_ & kAsProxy) ? modSupport::LoadResStringById(668) : std::u16string()});
}

ChangePtr InternalizeTypesChange::Clone() {
    auto copy = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    copy->flags_ = flags_;
    copy->varTypeInfo_ = varTypeInfo_;
    copy->cachedType_ = cachedType_;
    return copy;
}

void InternalizeTypesChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(flags_ & 0xFF));
    out.PutTypeOrdinal(cachedType_);
}

void InternalizeTypesChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    const uint8_t flags = in.GetByte();
    cachedType_ = in.GetTypeOrdinal();
    flags_ = flags;
    varTypeInfo_ = nullptr;
}

void InternalizeTypesChange::BindToLibrary(ole::ITypeLib* context, IChange*) {
    varTypeInfo_ = cachedType_ ? cachedType_->GetVarTypeInfo(context) : nullptr;
}

void InternalizeTypesChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (varTypeInfo_ && !cache.Holds(cachedType_.get())) cachedType_ = cache.AddVarType(varTypeInfo_.get());
    varTypeInfo_ = nullptr;
}

namespace modInternalizeTypesChange {
std::shared_ptr<InternalizeTypesChange> NewInternalizeTypesChange(bool) {
    return std::make_shared<InternalizeTypesChange>();
}
}  // namespace modInternalizeTypesChange

}  // namespace zephrin

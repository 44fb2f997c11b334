#include "changes/kinds/RedirectTypesChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/IChangeListener.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "changes/kinds/TypeRedirectionSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifier.h"

namespace zephrin {

using changes_detail::ContainingLibrary;
using changes_detail::DescribedType;
using changes_detail::DescribedTypeName;

namespace {

// True when source and dest are one type, or with wholeLibrary lie in one library.
bool SameTarget(tli::TypeInfo* source, tli::TypeInfo* dest, bool wholeLibrary) {
    bool sameLibrary = false;
    CheckHr(ContainingLibrary(source)->IsSameLibrary(ContainingLibrary(dest).get(), &sameLibrary));
    if (!sameLibrary || wholeLibrary) return sameLibrary;
    ole::LONG first = -1, second = -1;
    CheckHr(source->get_TypeInfoNumber(&first));
    CheckHr(dest->get_TypeInfoNumber(&second));
    return first == second;
}

}  // namespace

void RedirectTypesChange::SourceVarTypeInfo(tli::VarTypeInfo* type) {
    source_ = ole::ComPtr<tli::VarTypeInfo>(type);
    cachedSource_ = nullptr;
}

void RedirectTypesChange::DestVarTypeInfo(tli::VarTypeInfo* type) {
    dest_ = ole::ComPtr<tli::VarTypeInfo>(type);
    cachedDest_ = nullptr;
}

bool RedirectTypesChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                                int32_t flags) {
    RequireTargetKind(ChangeKind::RedirectTypesChange, target);
    if (!source_ || !dest_) RaiseError(kErrInvalidArgument);
    const ole::ComPtr<tli::TypeInfo> source = DescribedType(source_.get());
    const ole::ComPtr<tli::TypeInfo> dest = DescribedType(dest_.get());
    // A type, or a library, redirected to itself: nothing to do, nothing to tell.
    if (SameTarget(source.get(), dest.get(), (flags_ & kWholeLibrary) != 0)) return false;
    TLBModifier engine;
    engine.StartingLibDirect(changes_detail::TargetLibrary(target));
    if (listener) {
        ole::ComPtr<IExternalTypeRedirection> watcher;
        listener->ProvideExternalTypeRedirection(watcher);
        if (watcher) engine.RedirectionWatcher(watcher.get());
    }
    bool sameLibrary = false;
    if (flags_ & kWholeLibrary) {
        engine.RedirectImportLib(ContainingLibrary(source.get()).get(), ContainingLibrary(dest.get()).get());
    } else if (flags_ & kReplaceDefinition) {
        CheckHr(ContainingLibrary(source.get())->IsSameLibrary(ContainingLibrary(dest.get()).get(), &sameLibrary));
        engine.RedirectType(source.get(), dest.get(), true);
    } else {
        engine.RedirectType(source.get(), dest.get(), false);
    }
    changes_detail::RegenerateWithCompanion(engine, library, target);
    if (sameLibrary) flags_ |= kSameLibrary;
    if (listener) {
        ChangeTarget copy = target;
        NotifyListener(*listener, ChangeKind::RedirectTypesChange, copy, *this, flags);
    }
    return true;
}

std::u16string RedirectTypesChange::Describe(ChangeTarget& target) {
    if (flags_ & kWholeLibrary)
        return modSupport::LoadResStringFormat(740, {changes_detail::DescribedLibraryName(source_.get()),
                                                     changes_detail::DescribedLibraryName(dest_.get())});
    // The type that takes the replaced one's place.
    if (flags_ & kSameLibrary)
        return modSupport::LoadResStringFormat(
            743, {modRecorder::DescribeTarget(target), DescribedTypeName(dest_.get(), false)});
    if (flags_ & kReplaceDefinition)
        return modSupport::LoadResStringFormat(
            742, {modRecorder::DescribeTarget(target), DescribedTypeName(dest_.get(), true)});
    return modSupport::LoadResStringFormat(
        741, {DescribedTypeName(source_.get(), true), DescribedTypeName(dest_.get(), true)});
}

ChangePtr RedirectTypesChange::Clone() {
    auto copy = modRedirectTypesChange::NewRedirectTypesChange(false);
    copy->flags_ = flags_;
    copy->source_ = source_;
    copy->dest_ = dest_;
    copy->cachedSource_ = cachedSource_;
    copy->cachedDest_ = cachedDest_;
    return copy;
}

void RedirectTypesChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(flags_ & 0xFF));
    out.PutTypeRef(cachedSource_);
    out.PutTypeRef(cachedDest_);
}

void RedirectTypesChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    const uint8_t flags = in.GetByte();
    std::shared_ptr<ICachedVarType> source = in.GetTypeRef();
    std::shared_ptr<ICachedVarType> dest = in.GetTypeRef();
    flags_ = flags;
    cachedSource_ = std::move(source);
    cachedDest_ = std::move(dest);
    source_ = nullptr;
    dest_ = nullptr;
}

void RedirectTypesChange::BindToLibrary(ole::ITypeLib* context, IChange*) {
    if (cachedSource_) source_ = cachedSource_->GetVarTypeInfo(context);
    if (cachedDest_) dest_ = cachedDest_->GetVarTypeInfo(context);
}

void RedirectTypesChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (source_ && !cache.Holds(cachedSource_.get())) cachedSource_ = cache.AddVarType(source_.get());
    if (dest_ && !cache.Holds(cachedDest_.get())) cachedDest_ = cache.AddVarType(dest_.get());
    source_ = nullptr;
    dest_ = nullptr;
}

namespace modRedirectTypesChange {
std::shared_ptr<RedirectTypesChange> NewRedirectTypesChange(bool) { return std::make_shared<RedirectTypesChange>(); }
}  // namespace modRedirectTypesChange

}  // namespace zephrin

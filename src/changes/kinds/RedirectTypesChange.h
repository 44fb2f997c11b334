// Makes the edited library use other types instead of the ones it uses now:
// every reference into one library goes to the types of the same GUID in
// another (kWholeLibrary), the definition of one type is replaced by another
// (kReplaceDefinition), or every reference to one type goes to another. The
// library is regenerated; references that can't be resolved go to the
// placeholders of the target's companion library of unresolved types, and
// redirecting a placeholder to a real type is how they are mended.
//
// In a history the change holds cache entries only, no live library object.
#pragma once

#include <cstdint>
#include <memory>

#include "changes/hub/IChange.h"
#include "changes/hub/IHistoryReferenceCache.h"

namespace zephrin {

class RedirectTypesChange final : public IChange {
public:
    static constexpr int32_t kWholeLibrary = 1;
    static constexpr int32_t kReplaceDefinition = 2;
    // Set by Apply when a replaced definition and its replacement lie in the
    // same library: the replaced type is deleted.
    static constexpr int32_t kSameLibrary = 4;

    const ole::ComPtr<tli::VarTypeInfo>& SourceVarTypeInfo() const { return source_; }
    void SourceVarTypeInfo(tli::VarTypeInfo* type);  // drops the cache entry
    const ole::ComPtr<tli::VarTypeInfo>& DestVarTypeInfo() const { return dest_; }
    void DestVarTypeInfo(tli::VarTypeInfo* type);
    const std::shared_ptr<ICachedVarType>& SourceCachedType() const { return cachedSource_; }
    const std::shared_ptr<ICachedVarType>& DestCachedType() const { return cachedDest_; }
    int32_t Flags() const { return flags_; }
    void Flags(int32_t value) { flags_ = value; }

    // Without a source or a destination, error 5. A type redirected to itself
    // (with kWholeLibrary, a library to itself) is no change: false, and the
    // listener hears nothing. The listener may hand over a watcher told of
    // every redirected reference. A failed regeneration leaves the library as
    // it was.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // A missing side is described by an empty name.
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // Flags (Byte), then source and destination as cache ordinal + 1 (0 for none).
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

private:
    int32_t flags_ = 0;
    ole::ComPtr<tli::VarTypeInfo> source_;
    ole::ComPtr<tli::VarTypeInfo> dest_;
    std::shared_ptr<ICachedVarType> cachedSource_;
    std::shared_ptr<ICachedVarType> cachedDest_;
};

namespace modRedirectTypesChange {
std::shared_ptr<RedirectTypesChange> NewRedirectTypesChange(bool forceHeap);
}  // namespace modRedirectTypesChange

}  // namespace zephrin

// Copies types of an imported library into the edited library: one type, the
// types of that library the edited library refers to, or all of them,
// optionally marked as proxies. The library is regenerated with the types
// taken in; references that can't be resolved go to the placeholders of the
// target's companion library of unresolved types.
#pragma once

#include <cstdint>
#include <memory>

#include "changes/hub/IChange.h"
#include "changes/hub/IHistoryReferenceCache.h"

namespace zephrin {

class InternalizeTypesChange final : public IChange {
public:
    static constexpr int32_t kReferencedTypes = 1;  // the types the edited library refers to
    static constexpr int32_t kAllTypes = 2;         // every type of the library
    static constexpr int32_t kAsProxy = 4;          // the copies are marked as proxies

    // The type to take in (for kReferencedTypes and kAllTypes: any type of
    // the library to take in from). Setting it drops the cache entry.
    const ole::ComPtr<tli::VarTypeInfo>& VarTypeInfo() const { return varTypeInfo_; }
    void VarTypeInfo(tli::VarTypeInfo* type);
    const std::shared_ptr<ICachedVarType>& CachedType() const { return cachedType_; }
    int32_t Flags() const { return flags_; }
    void Flags(int32_t value) { flags_ = value; }

    // Without a type, error 5. A failed regeneration leaves the library as it was.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Internalize <what> from library <library>[ as proxy]"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // Flags (Byte), the cache ordinal (Long).
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

private:
    int32_t flags_ = 0;
    ole::ComPtr<tli::VarTypeInfo> varTypeInfo_;
    std::shared_ptr<ICachedVarType> cachedType_;
};

namespace modInternalizeTypesChange {
std::shared_ptr<InternalizeTypesChange> NewInternalizeTypesChange(bool forceHeap);
}  // namespace modInternalizeTypesChange

}  // namespace zephrin

// Adds an implemented interface to a coclass. The interface is a type
// description: live while the change is applied, a history reference cache
// entry while the change sits in a history.
#pragma once

#include "changes/hub/IChange.h"
#include "changes/hub/IHistoryReferenceCache.h"

namespace zephrin {

class AddImplTypeChange final : public IChange {
public:
    const ole::ComPtr<tli::VarTypeInfo>& VarTypeInfo() const { return varTypeInfo_; }
    // Also drops the cache entry.
    void VarTypeInfo(tli::VarTypeInfo* type);
    const std::shared_ptr<ICachedVarType>& CachedType() const { return cachedType_; }

    // Writes the new interface's index into the target's MemberId.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Add implied interface <interface> to <target>"; an interface of
    // another library is named <library>.<interface>.
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // The 0-based ordinal of the cache entry, a Long.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

private:
    ole::ComPtr<tli::VarTypeInfo> varTypeInfo_;
    std::shared_ptr<ICachedVarType> cachedType_;
};

namespace modAddImplTypeChange {
std::shared_ptr<AddImplTypeChange> NewAddImplTypeChange(bool forceHeap);
}  // namespace modAddImplTypeChange

}  // namespace zephrin

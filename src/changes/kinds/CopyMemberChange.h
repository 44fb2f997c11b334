// Copies a member (a function with all its property accessors, or a variable
// or constant) from a type of any library into the target type, or after the
// target member, under a name free in the target type. The source type is a
// type description: live while the change is applied, a history reference
// cache entry while the change sits in a history.
#pragma once

#include <string>

#include "changes/hub/IChange.h"
#include "changes/hub/IHistoryReferenceCache.h"

namespace zephrin {

class CopyMemberChange final : public IChange {
public:
    const ole::ComPtr<tli::VarTypeInfo>& VarTypeInfo() const { return varTypeInfo_; }
    // Also drops the cache entry.
    void VarTypeInfo(tli::VarTypeInfo* type);
    const std::shared_ptr<ICachedVarType>& CachedType() const { return cachedType_; }
    int32_t SourceMemberId() const { return sourceMemberId_; }
    void SourceMemberId(int32_t id) { sourceMemberId_ = id; }
    // The source member's INVOKEKIND bits; after Apply, the kinds added.
    int32_t InvokeKinds() const { return invokeKinds_; }
    void InvokeKinds(int32_t kinds) { invokeKinds_ = kinds; }
    // The copy, from Apply until the change is detached from the library.
    int32_t NewMemberId() const { return newMemberId_; }
    const std::u16string& NewMemberName() const { return newMemberName_; }

    // A target other than a type or member changes nothing and notifies no one.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Copy <source member> to <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // The cache ordinal (Long), SourceMemberId (Long), InvokeKinds (Byte).
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

private:
    ole::ComPtr<tli::VarTypeInfo> varTypeInfo_;
    std::shared_ptr<ICachedVarType> cachedType_;
    int32_t sourceMemberId_ = 0;
    int32_t invokeKinds_ = 0;
    int32_t newMemberId_ = 0;
    std::u16string newMemberName_;
};

namespace modCopyMemberChange {
std::shared_ptr<CopyMemberChange> NewCopyMemberChange(bool forceHeap);
}  // namespace modCopyMemberChange

}  // namespace zephrin

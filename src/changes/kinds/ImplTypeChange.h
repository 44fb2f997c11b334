// The change of one implemented interface of a coclass: the interface it
// names and its flags (kind 14, an implemented-interface target whose
// MemberId is the interface's index in the type).
#pragma once

#include <memory>

#include "changes/kinds/AttributeChange.h"

namespace zephrin {

class ImplTypeChange final : public AttributeChange {
public:
    static std::shared_ptr<ImplTypeChange> New() { return std::make_shared<ImplTypeChange>(); }

    // Replaces the interface, then sets the flags and takes back what the
    // library made of them (it keeps one default of each sort). When the flags
    // fail, the interface is put back.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // Always 6 bytes: the mask and the flags as Bytes, then the type
    // reference (cache ordinal + 1 with kTypeBit, else 0).
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

    int32_t DiffMask(IAttributeChange& other) override;
    ole::ComPtr<CustomVarTypeInfo> VarTypeInfo() override { return type_; }
    void VarTypeInfo(CustomVarTypeInfo* value) override;

private:
    ole::ComPtr<CustomVarTypeInfo> type_;
    std::shared_ptr<ICachedVarType> cached_;
};

namespace modImplTypeChange {
std::shared_ptr<IAttributeChange> NewImplTypeChange(bool forceHeap);
}  // namespace modImplTypeChange

}  // namespace zephrin

// The change of a type's attributes: GUID, versions, type flags, the
// alignment of a record, the base interface of an interface and the aliased
// type of an alias (kind 10, a type target; a dual interface is edited as its
// interface half). Listeners are asked first (OnBeforeTypeChange) and may
// cancel it.
#pragma once

#include <memory>

#include "changes/kinds/AttributeChange.h"

namespace zephrin {

class TypeChange final : public AttributeChange {
public:
    // Mask bits (Flags is kFlagsBit, the base or aliased type kTypeBit).
    static constexpr int32_t kGuidBit = 0x1;
    static constexpr int32_t kMajorBit = 0x2;
    static constexpr int32_t kMinorBit = 0x4;
    static constexpr int32_t kAlignmentBit = 0x40;

    static std::shared_ptr<TypeChange> New() { return std::make_shared<TypeChange>(); }

    // What is set depends on the type's own kind: the alignment of a record,
    // the base of an interface, the aliased type of an alias. Setting the dual
    // flag is dropped for an interface whose base is not dispatchable;
    // clearing it regenerates the library (the target then names the new
    // library in ReplacementLibrary, and library is attached to it). A
    // failure sets back every field already set, and leaves library attached
    // to the library it had.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // The mask as a Long, then by mask: the type reference (cache ordinal + 1,
    // 0 for none), GUID, flags, major, minor, alignment.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

    int32_t DiffMask(IAttributeChange& other) override;
    ole::GUID Guid() override { return guid_; }
    void Guid(const ole::GUID& value) override { SetField(guid_, value, kGuidBit); }
    int16_t MajorVersion() override { return major_; }
    void MajorVersion(int16_t value) override { SetField(major_, value, kMajorBit); }
    int16_t MinorVersion() override { return minor_; }
    void MinorVersion(int16_t value) override { SetField(minor_, value, kMinorBit); }
    int16_t Alignment() override { return alignment_; }
    void Alignment(int16_t value) override { SetField(alignment_, value, kAlignmentBit); }
    ole::ComPtr<CustomVarTypeInfo> VarTypeInfo() override { return type_; }
    void VarTypeInfo(CustomVarTypeInfo* value) override;

private:
    // Whether the interface may be dual: its base is dispatchable or IDispatch.
    bool BaseIsDispatchable() const;
    // The library regenerated with the interface of the target no longer dual;
    // the change's base type is then named in that library.
    ole::ComPtr<ole::ITypeLib> RemoveDualFlag(const ChangeTarget& target);

    ole::GUID guid_{};
    int16_t major_ = 0;
    int16_t minor_ = 0;
    int16_t alignment_ = 0;
    ole::ComPtr<CustomVarTypeInfo> type_;
    std::shared_ptr<ICachedVarType> cached_;
};

namespace modTypeChange {
std::shared_ptr<IAttributeChange> NewTypeChange(bool forceHeap);
}  // namespace modTypeChange

}  // namespace zephrin

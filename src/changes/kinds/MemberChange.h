// The change of a function, variable or constant: its flags, type, member
// ID, constant value, and the DLL name and entry of a module function (kind
// 18, a member target).
#pragma once

#include <memory>
#include <string>

#include "changes/kinds/AttributeChange.h"

namespace zephrin {

class MemberChange final : public AttributeChange {
public:
    // Mask bits (Flags is kFlagsBit, the type kTypeBit).
    static constexpr int32_t kValueBit = 0x80;      // the value of a constant
    static constexpr int32_t kMemberIdBit = 0x100;
    static constexpr int32_t kDllNameBit = 0x200;
    static constexpr int32_t kDllEntryBit = 0x400;  // Value as a module function's entry
    static constexpr int32_t kValueBits = kValueBit | kDllEntryBit;

    static std::shared_ptr<MemberChange> New() { return std::make_shared<MemberChange>(); }

    // Rebuilds the member with the fields that differ. A member ID of -1
    // takes the ID the library gives, and the listener's copy of the target
    // then names the member, whose old ID is gone. The value is a constant's
    // of an enum or module; of a module function it is the entry: a name, or
    // an ordinal as an Integer, handed on as the unsigned 16-bit number it is.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // The mask as an Integer, then by mask: the type reference (the plain
    // cache ordinal), member ID, flags, value, DLL name.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

    int32_t DiffMask(IAttributeChange& other) override;
    ole::ComPtr<CustomVarTypeInfo> VarTypeInfo() override { return type_; }
    void VarTypeInfo(CustomVarTypeInfo* value) override;
    ole::Variant Value() override { return value_; }
    void Value(const ole::Variant& value) override { SetField(value_, value, kValueBit); }
    int32_t MemberId() override { return memberId_; }
    void MemberId(int32_t value) override { SetField(memberId_, value, kMemberIdBit); }
    std::u16string DllName() override { return dllName_; }
    void DllName(const std::u16string& value) override { SetField(dllName_, value, kDllNameBit); }

private:
    int32_t memberId_ = 0;
    ole::ComPtr<CustomVarTypeInfo> type_;
    std::shared_ptr<ICachedVarType> cached_;
    ole::Variant value_;
    std::u16string dllName_;
};

namespace modMemberChange {
std::shared_ptr<IAttributeChange> NewMemberChange(bool forceHeap);
}  // namespace modMemberChange

}  // namespace zephrin

// The change of one parameter: its flags, type and default value, and the
// invoke kind of its function (kind 22, a parameter target).
//
// Flags carry, besides PARAMFLAGS, the marker kNullDefault, kept only here:
// an optional parameter without a default that does not count among the
// function's trailing optional parameters reads its value as Null. A default
// of an object type is the null reference: DefaultIsObject, and Value reads
// Null.
#pragma once

#include <memory>

#include "changes/kinds/AttributeChange.h"

namespace zephrin {

class ParamChange final : public AttributeChange {
public:
    // Mask bits (Flags is kFlagsBit, the type kTypeBit).
    static constexpr int32_t kValueBit = 0x80;
    static constexpr int32_t kInvokeKindBit = 0x800;
    static constexpr int32_t kNullDefault = 0x1000;

    static std::shared_ptr<ParamChange> New() { return std::make_shared<ParamChange>(); }

    // Rebuilds the function with the parameter as this change describes it
    // when any field differs (and with the new invoke kind when that differs).
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // The Integers mask, flags, DefaultIsEmpty and DefaultIsObject, then by
    // mask: the invoke kind Long, the type reference (the plain cache
    // ordinal), the value.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

    int32_t DiffMask(IAttributeChange& other) override;
    // A set that differs other than in kNullDefault takes the new flags; with
    // PARAMFLAG_FHASDEFAULT the marker goes and the object test is made again.
    void Flags(int32_t value) override;
    int32_t Flags() override { return flags_; }
    bool FlagsSet(int32_t) override { RaiseError(kErrInvalidArgument); }
    void SetFlags(int32_t, bool) override { RaiseError(kErrInvalidArgument); }
    ole::ComPtr<CustomVarTypeInfo> VarTypeInfo() override { return type_; }
    void VarTypeInfo(CustomVarTypeInfo* value) override;
    // Null for a Null or object default, Empty for a default set to Empty.
    ole::Variant Value() override;
    void Value(const ole::Variant& value) override;
    int32_t InvokeKind() override { return invokeKind_; }
    void InvokeKind(int32_t value) override { SetField(invokeKind_, value, kInvokeKindBit); }

    bool DefaultIsObject() const { return defaultIsObject_; }

private:
    void TestObjectDefault();

    bool defaultIsObject_ = false;
    bool defaultIsEmpty_ = false;
    int32_t invokeKind_ = 0;
    ole::ComPtr<CustomVarTypeInfo> type_;
    std::shared_ptr<ICachedVarType> cached_;
    ole::Variant value_;
};

namespace modParamChange {
std::shared_ptr<IAttributeChange> NewParamChange(bool forceHeap);
}  // namespace modParamChange

}  // namespace zephrin

// The model's own editable type description: an intrinsic VARTYPE or a
// user-defined type, with pointer levels, optionally a SAFEARRAY or a
// fixed-size array with bounds whose element again has pointer levels. It is
// a TypeLib Information VarTypeInfo, so everything that reads type
// descriptions through that interface accepts it.
//
// The reported VARTYPE is the intrinsic type (0 for a user-defined one) Or
// the array kind: 0x1000 fixed-size array, 0x2000 SAFEARRAY.
#pragma once

#include <cstdint>

#include "foundation/modBounds.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

class CustomVarTypeInfo final : public ole::RefCounted<tli::VarTypeInfo> {
public:
    static constexpr ole::VARTYPE kFixedArray = tli::VTI_FIXEDARRAY;
    static constexpr ole::VARTYPE kSafeArray = tli::VTI_SAFEARRAY;
    static constexpr ole::VARTYPE kArrayMask = tli::VTI_ARRAYMASK;

    // A new empty description (VarType 0, no type, no array, no pointers).
    static ole::ComPtr<CustomVarTypeInfo> New();

    // ClearArrayData, then no type and no pointer levels.
    void Clear();
    // No array: kind, bounds and the array's own pointer levels dropped.
    void ClearArrayData();
    ole::ComPtr<tli::VarTypeInfo> GetVarTypeInfo();

    // vt not 0: that intrinsic type; vt 0: the user-defined type tinfo (may be
    // null). Array data and pointer levels are left alone.
    void SetType(ole::VARTYPE vt, tli::TypeInfo* tinfo);

    // Pointer levels of the element (of the type itself when it is no array).
    int16_t PointerLevel() const { return pointerLevel_; }
    void PointerLevel(int16_t value) { pointerLevel_ = value; }
    // Pointer levels of the array itself.
    int16_t ArrayPointerLevel() const { return arrayPointerLevel_; }
    void ArrayPointerLevel(int16_t value) { arrayPointerLevel_ = value; }

    // Makes it a SAFEARRAY whose own pointer level is pointerLevel.
    void SetSafeArrayData(int16_t pointerLevel);
    // Makes it a fixed-size array with these (lower, upper) bounds, first
    // dimension first. Error 5, and no change, for no dimensions, more than
    // 65535, or a dimension whose element count is not 1 to 0xFFFFFFFF.
    void SetFixedArrayData(const BoundsTable& bounds, int16_t pointerLevel);

    bool IsArray() const { return arrayKind_ != 0; }
    // True when neither an intrinsic type nor a user-defined type is set.
    bool IsNothingTypeInfo() const { return varType_ == 0 && !typeInfo_; }

    // The library whose types count as internal (IsExternalType).
    void CurrentTypeLib(tli::TypeLibInfo* lib);
    void CurrentITypeLib(ole::ITypeLib* lib);

    // Copies any VarTypeInfo (not its current library).
    void Duplicate(tli::VarTypeInfo* source);
    // A copy of source whose current library is lib, with its pointer level
    // (the array's own for an array) set to level, or moved by delta and kept
    // at 0 or more.
    static ole::ComPtr<CustomVarTypeInfo> CopyAtLevel(tli::VarTypeInfo* source, ole::ITypeLib* lib, int16_t level);
    static ole::ComPtr<CustomVarTypeInfo> CopyWithPointers(tli::VarTypeInfo* source, ole::ITypeLib* lib,
                                                           int16_t delta);
    // Reads a TYPEDESC of a member of type iti in library itl. A user-defined
    // dual dispinterface is taken as its interface half; aliases stay aliases.
    void DuplicateFromTypeDesc(const ole::TYPEDESC& tdesc, ole::ITypeLib* itl, ole::ITypeInfo* iti);

    // Direct field access for the model's own readers.
    ole::VARTYPE BaseVarType() const { return varType_; }
    ole::VARTYPE ArrayKind() const { return arrayKind_; }
    const ole::ComPtr<tli::TypeInfo>& TypeInfo() const { return typeInfo_; }
    const BoundsTable& Bounds() const { return bounds_; }

    // ---- tli::VarTypeInfo ----
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override;
    ole::HRESULT get_Me(tli::VarTypeInfo** out) override;
    ole::HRESULT get_TypeInfo(tli::TypeInfo** out) override;
    ole::HRESULT get_TypeInfoNumber(ole::LONG* out) override;
    ole::HRESULT get_TypedVariant(ole::VARIANT* out) override;
    ole::HRESULT get_IsExternalType(bool* out) override;
    ole::HRESULT get_TypeLibInfoExternal(tli::TypeLibInfo** out) override;
    ole::HRESULT get_PointerLevel(ole::SHORT* out) override;
    ole::HRESULT get_VarType(ole::VARTYPE* out) override;
    ole::HRESULT ArrayBounds(std::vector<tli::ArrayBound>* bounds, ole::SHORT* dims) override;
    ole::HRESULT get_ElementPointerLevel(ole::SHORT* out) override;

private:
    CustomVarTypeInfo() = default;
    ~CustomVarTypeInfo() override = default;

    // The dimension count and a copy of the bounds; raises 0x8004020E for a
    // SAFEARRAY or a fixed-size array without bounds, 0x80040210 for no array.
    int16_t GetArrayBounds(BoundsTable& out) const;
    ole::ComPtr<tli::TypeLibInfo> ExternalLibrary() const;

    int16_t pointerLevel_ = 0;
    int16_t arrayPointerLevel_ = 0;
    ole::ComPtr<tli::TypeInfo> typeInfo_;
    ole::VARTYPE varType_ = 0;
    ole::VARTYPE arrayKind_ = 0;
    BoundsTable bounds_;
    ole::ComPtr<ole::ITypeLib> currentITypeLib_;
};

}  // namespace zephrin

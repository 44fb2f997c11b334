// The TypeLib Information objects: reference-counted reading views over the
// engine's ITypeLib and ITypeInfo, exchanged as abstract interfaces so that the
// type library model can implement some of them itself (VarTypeInfo,
// ParameterInfo, CustomDataCollection, CustomSort).
//
// Error convention, for every method of this layer: the result is an HRESULT
// and values come back through out-parameters, as with the platform's
// interfaces. A failing call leaves its out-parameters empty (null, "", 0).
// Platform failures are passed through unchanged; this layer's own errors are:
//   TYPE_E_ELEMENTNOTFOUND  an index out of range or a name that is absent
//                           (name lookups ignore case)
//   TLI_E_NODEFAULTVALUE    DefaultValue of a parameter without a default
//   TLI_E_NOARRAYBOUNDS     ArrayBounds of a SAFEARRAY or of a fixed-size array
//                           without dimensions
//   TLI_E_NOTANARRAY        ArrayBounds or ElementPointerLevel of a non-array
//   E_POINTER               a null out-parameter
// Objects that outlive their library or type (the library was regenerated, the
// type deleted) keep the engine objects they read alive; a call that can no
// longer be answered fails with the engine's error, never crashes.
//
// Property accessors are named get_X / put_X / putref_X as in the platform's
// dual interfaces; collections are 1-based.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/CustData.h"
#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"

namespace tli {

using ole::DWORD;
using ole::FAILED;
using ole::SUCCEEDED;
using ole::GUID;
using ole::HRESULT;
using ole::IID;
using ole::LCID;
using ole::LONG;
using ole::MEMBERID;
using ole::SHORT;
using ole::USHORT;
using ole::VARIANT;
using ole::VARTYPE;
using ole::WORD;

inline constexpr HRESULT TLI_E_NODEFAULTVALUE = ole::MakeHResult(0x8004020A);
inline constexpr HRESULT TLI_E_NOARRAYBOUNDS = ole::MakeHResult(0x8004020E);
inline constexpr HRESULT TLI_E_NOTANARRAY = ole::MakeHResult(0x80040210);

// Invoke kinds as members report them: the platform's INVOKEKIND bits
// (1 function, 2 property get, 4 property put, 8 property putref) and 32 for a
// constant. A constant reports INVOKE_CONST | INVOKE_PROPERTYGET (34), any other
// variable INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT (6).
inline constexpr LONG INVOKE_CONST = 32;

// The array kinds that travel in a VarTypeInfo's VARTYPE word.
inline constexpr VARTYPE VTI_FIXEDARRAY = 0x1000;
inline constexpr VARTYPE VTI_SAFEARRAY = 0x2000;
inline constexpr VARTYPE VTI_ARRAYMASK = 0x3000;

// One dimension of a fixed-size array: the true lower and upper bound.
struct ArrayBound {
    LONG lower = 0;
    LONG upper = 0;
    friend bool operator==(const ArrayBound&, const ArrayBound&) = default;
};

struct TypeLibInfo;
struct TypeInfo;
struct TypeInfos;
struct ImpliedInterfaces;
struct Members;
struct MemberInfo;
struct Parameters;
struct ParameterInfo;
struct VarTypeInfo;
struct CustomDataCollection;
struct CustomDataItem;
struct CustomDataEnum;
struct CustomSort;

// The application object: one per process (GetTLIApplication).
struct TLIApplication : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x01}};
    // Aliases always report as themselves; only False is accepted (True: E_NOTIMPL).
    virtual HRESULT get_ResolveAliases(bool* out) = 0;
    virtual HRESULT put_ResolveAliases(bool value) = 0;
    // LoadTypeLibEx(path, REGKIND_NONE); the bare "stdole2.tlb" gives the standard library.
    virtual HRESULT TypeLibInfoFromFile(std::u16string_view path, TypeLibInfo** out) = 0;
    // A view of exactly that library; null gives an empty view that can be re-pointed.
    virtual HRESULT TypeLibInfoFromITypeLib(ole::ITypeLib* lib, TypeLibInfo** out) = 0;
    // A view of exactly that type (E_INVALIDARG for null).
    virtual HRESULT TypeInfoFromITypeInfo(ole::ITypeInfo* type, TypeInfo** out) = 0;
};

HRESULT GetTLIApplication(TLIApplication** out);

// A library. Name, GUID, LCID, versions, flags, help string and file are the
// values as of the last re-pointing (putref_ITypeLib); the type collection is
// read live. An empty view reports "", 0 and no types.
struct TypeLibInfo : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x02}};
    virtual HRESULT get_Name(std::u16string* out) = 0;
    // Registry form with braces.
    virtual HRESULT get_Guid(std::u16string* out) = 0;
    virtual HRESULT get_LCID(LCID* out) = 0;
    virtual HRESULT get_MajorVersion(SHORT* out) = 0;
    virtual HRESULT get_MinorVersion(SHORT* out) = 0;
    // LIBFLAGS.
    virtual HRESULT get_AttributeMask(SHORT* out) = 0;
    virtual HRESULT get_HelpString(std::u16string* out) = 0;
    // The file the library was loaded from ("" for an in-memory library).
    virtual HRESULT get_ContainingFile(std::u16string* out) = 0;
    virtual HRESULT get_ITypeLib(ole::ITypeLib** out) = 0;
    // Re-points the view (null empties it).
    virtual HRESULT putref_ITypeLib(ole::ITypeLib* lib) = 0;
    virtual HRESULT get_TypeInfoCount(LONG* out) = 0;
    virtual HRESULT get_TypeInfos(TypeInfos** out) = 0;
    virtual HRESULT get_Me(TypeLibInfo** out) = 0;
    // True when both views show the same library object (false when either is empty).
    virtual HRESULT IsSameLibrary(TypeLibInfo* other, bool* out) = 0;
    // A number the owner may attach to the view (0 when never set).
    virtual HRESULT get_LibNum(LONG* out) = 0;
    virtual HRESULT put_LibNum(LONG value) = 0;
};

// The types of a library, in library order (a dual interface is its
// dispinterface item).
struct TypeInfos : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x03}};
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT get_Item(LONG index, TypeInfo** out) = 0;
    virtual HRESULT NamedItem(std::u16string_view name, TypeInfo** out) = 0;
};

struct TypeInfo : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x04}};
    virtual HRESULT get_Name(std::u16string* out) = 0;
    virtual HRESULT get_Guid(std::u16string* out) = 0;
    virtual HRESULT get_TypeKind(ole::TYPEKIND* out) = 0;
    // TYPEFLAGS.
    virtual HRESULT get_AttributeMask(SHORT* out) = 0;
    // 0-based index in the containing library.
    virtual HRESULT get_TypeInfoNumber(LONG* out) = 0;
    virtual HRESULT get_Parent(TypeLibInfo** out) = 0;
    virtual HRESULT get_ITypeInfo(ole::ITypeInfo** out) = 0;
    // The interface half of a dual dispinterface; null (S_OK) for any other type.
    virtual HRESULT get_VTableInterface(TypeInfo** out) = 0;
    virtual HRESULT get_ImpliedInterfaces(ImpliedInterfaces** out) = 0;
    // What an alias stands for; TYPE_E_WRONGTYPEKIND for other kinds.
    virtual HRESULT get_ResolvedType(VarTypeInfo** out) = 0;
    // Every member: the variables first, then the functions, each in index order.
    virtual HRESULT get_Members(Members** out) = 0;
    // One entry per member name (case-insensitive), in the order of first
    // appearance in get_Members, with the invoke kinds of all its members ORed.
    virtual HRESULT GetGroupedMembers(Members** out) = 0;
};

// Implemented interfaces (base interface, coclass entries), 1-based.
struct ImpliedInterfaces : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x05}};
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT get_Item(LONG index, TypeInfo** out) = 0;
    // IMPLTYPEFLAGS of item index.
    virtual HRESULT get_Flags(LONG index, LONG* out) = 0;
};

// Compares two members for a member list's custom order: r < 0 when a sorts
// before b, 0 when together, > 0 after. Slot order: Compare.
struct CustomSort : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x06}};
    virtual HRESULT Compare(MemberInfo* a, MemberInfo* b, LONG* r) = 0;
};

// A member list. Setting a custom sort re-orders it at once (a stable sort);
// a failing Compare fails the set and leaves the order unchanged; null restores
// the original order.
struct Members : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x07}};
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT get_Item(LONG index, MemberInfo** out) = 0;
    // The first member in list order with that MEMBERID.
    virtual HRESULT GetMemberById(MEMBERID id, MemberInfo** out) = 0;
    virtual HRESULT get_CustomSort(CustomSort** out) = 0;
    virtual HRESULT putref_CustomSort(CustomSort* sort) = 0;
};

// A function or variable of a type.
struct MemberInfo : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x08}};
    virtual HRESULT get_Name(std::u16string* out) = 0;
    virtual HRESULT get_MemberId(MEMBERID* out) = 0;
    // See INVOKE_CONST; a grouped entry reports the OR of its members.
    virtual HRESULT get_InvokeKind(LONG* out) = 0;
    // DESCKIND_FUNCDESC or DESCKIND_VARDESC.
    virtual HRESULT get_DescKind(ole::DESCKIND* out) = 0;
    // Index among the type's functions (or variables).
    virtual HRESULT get_MemberNumber(LONG* out) = 0;
    // FUNCFLAGS of a function, VARFLAGS of a variable.
    virtual HRESULT get_AttributeMask(SHORT* out) = 0;
    virtual HRESULT get_HelpString(std::u16string* out) = 0;
    virtual HRESULT get_HelpContext(DWORD* out) = 0;
    virtual HRESULT get_HelpStringDll(std::u16string* out) = 0;
    virtual HRESULT get_HelpStringContext(DWORD* out) = 0;
    // A variable's type; a function's return type, or, when the last parameter
    // is [retval] (and then not listed in Parameters), exactly that parameter's type.
    virtual HRESULT get_ReturnType(VarTypeInfo** out) = 0;
    // A function's parameters except a trailing [retval]; empty for a variable.
    virtual HRESULT get_Parameters(Parameters** out) = 0;
    // A constant's value; TYPE_E_WRONGTYPEKIND for anything else.
    virtual HRESULT get_Value(VARIANT* out) = 0;
    // A module function's DLL and entry point: entry name, or "" and the ordinal.
    virtual HRESULT GetDllEntry(std::u16string* dllName, std::u16string* entryName, WORD* ordinal) = 0;
};

struct Parameters : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x09}};
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT get_Item(LONG index, ParameterInfo** out) = 0;
    // The function's cParamsOpt (-1 when its last listed parameter is a ParamArray).
    virtual HRESULT get_OptionalCount(LONG* out) = 0;
    virtual HRESULT get_ParamArray(bool* out) = 0;
};

// Slot order: Me, Name, Optional, VarTypeInfo, Default, DefaultValue,
// HasCustomData, CustomDataCollection, Flags.
struct ParameterInfo : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x0A}};
    virtual HRESULT get_Me(ParameterInfo** out) = 0;
    virtual HRESULT get_Name(std::u16string* out) = 0;
    // PARAMFLAG_FOPT.
    virtual HRESULT get_Optional(bool* out) = 0;
    virtual HRESULT get_VarTypeInfo(VarTypeInfo** out) = 0;
    // PARAMFLAG_FHASDEFAULT.
    virtual HRESULT get_Default(bool* out) = 0;
    // TLI_E_NODEFAULTVALUE when there is none.
    virtual HRESULT get_DefaultValue(VARIANT* out) = 0;
    // PARAMFLAG_FHASCUSTDATA (0x40).
    virtual HRESULT get_HasCustomData(bool* out) = 0;
    virtual HRESULT get_CustomDataCollection(CustomDataCollection** out) = 0;
    // PARAMFLAGS.
    virtual HRESULT get_Flags(USHORT* out) = 0;
};

// A type description. Slot order (the two unused slots of the original layout
// after Me are left out): Me, TypeInfo, TypeInfoNumber, TypedVariant,
// IsExternalType, TypeLibInfoExternal, PointerLevel, VarType, ArrayBounds,
// ElementPointerLevel.
struct VarTypeInfo : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x0B}};
    virtual HRESULT get_Me(VarTypeInfo** out) = 0;
    // The user-defined type; null (S_OK) for an intrinsic type.
    virtual HRESULT get_TypeInfo(TypeInfo** out) = 0;
    // The user-defined type's TypeInfoNumber; -1 for an intrinsic type.
    virtual HRESULT get_TypeInfoNumber(LONG* out) = 0;
    // Not offered by this layer (E_NOTIMPL).
    virtual HRESULT get_TypedVariant(VARIANT* out) = 0;
    virtual HRESULT get_IsExternalType(bool* out) = 0;
    // The user-defined type's library when it is not the library of the type
    // that holds the description; null otherwise.
    virtual HRESULT get_TypeLibInfoExternal(TypeLibInfo** out) = 0;
    // Pointer levels of the type, or of the array itself for an array.
    virtual HRESULT get_PointerLevel(SHORT* out) = 0;
    // The intrinsic VARTYPE (0 for a user-defined type) | VTI_FIXEDARRAY | VTI_SAFEARRAY.
    virtual HRESULT get_VarType(VARTYPE* out) = 0;
    // A fixed-size array's dimensions as true (lower, upper) pairs, first
    // declared first; *dims = their count.
    virtual HRESULT ArrayBounds(std::vector<ArrayBound>* bounds, SHORT* dims) = 0;
    // Pointer levels of an array's element.
    virtual HRESULT get_ElementPointerLevel(SHORT* out) = 0;
};

// One custom data item.
struct CustomDataItem : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x0C}};
    virtual HRESULT get_Guid(std::u16string* out) = 0;
    virtual HRESULT get_Value(VARIANT* out) = 0;
};

// Next gives S_FALSE and null after the last item.
struct CustomDataEnum : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x0D}};
    virtual HRESULT Next(CustomDataItem** out) = 0;
    virtual HRESULT Reset() = 0;
};

// Slot order: Me, NewEnum, Item, Count.
struct CustomDataCollection : ole::IUnknown {
    static constexpr IID kIID = {0x5B2E1A01, 0x3C47, 0x4D1E, {0x9A, 0x10, 0x6E, 0x21, 0x7C, 0x00, 0x00, 0x0E}};
    virtual HRESULT get_Me(CustomDataCollection** out) = 0;
    virtual HRESULT NewEnum(CustomDataEnum** out) = 0;
    virtual HRESULT get_Item(LONG index, CustomDataItem** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
};

// A collection over a copy of the items (null: an empty collection), for
// implementations of CustomDataCollection outside this layer.
HRESULT CreateCustomDataCollection(const ole::CUSTDATA* items, CustomDataCollection** out);

// A description of the TYPEDESC of a member of owner, as the member objects
// make them (a user-defined type is looked up through owner when first asked
// for), for readers that take the descriptors from the type themselves.
HRESULT CreateVarTypeInfo(const ole::TYPEDESC& desc, ole::ITypeInfo* owner, VarTypeInfo** out);

}  // namespace tli

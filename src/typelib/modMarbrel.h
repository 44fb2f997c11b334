// Services of the library editor view that the model, the change objects and
// batch mode need without a display: unique names, the leading-underscore
// ordering of names, parameter option masks, type-description and value
// equality, and the object-type test. The editor view's own module calls
// these as well.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {
class RecordReader;
class RecordWriter;
}  // namespace zephrin

namespace zephrin::modMarbrel {

// ---- Unique names ----

// Returns true when the candidate name may be used.
using NamePredicate = std::function<bool(const std::u16string& candidate)>;

// How many numbered candidates MakeUniqueName tries before it gives up.
inline constexpr uint32_t kMaxUniqueNameCandidates = 1'000'000;

// Makes name acceptable to isFree. Without force, an accepted name is kept;
// otherwise the base is the name without its trailing decimal digits (the
// whole name when it is all digits or empty, or when force is set), and the
// result is the first of base + "1", base + "2", ... that isFree accepts.
// After maxCandidates refused candidates it raises error 5 and leaves name
// unchanged; errors raised by isFree propagate the same way.
void MakeUniqueName(const NamePredicate& isFree, std::u16string& name, bool force,
                    uint32_t maxCandidates = kMaxUniqueNameCandidates);

// True when the type has no member of that name (GetIDsOfNames finds no ID).
bool IsMemberNameFree(ole::ITypeInfo* type, const std::u16string& name);
// IsMemberNameFree bound to a type, for MakeUniqueName (keeps a reference).
NamePredicate MemberNamePredicate(ole::ITypeInfo* type);

// ---- Leading-underscore ordering ----

// The sort key of a name: without its leading underscores, and their number.
// A name without a leading underscore is its own key (count 0).
void StripLeadingUnderscores(std::u16string_view name, std::u16string_view& key, int32_t& count);

// Orders names as if their leading underscores were not there (case-insensitive
// text comparison); of two names with equal keys the one with fewer underscores
// comes first: Item, _Item, __Item. Negative, zero or positive.
int32_t CompareLeadingUnderscore(std::u16string_view first, std::u16string_view second);

// The one shared CustomSort for member lists, ordering members by
// CompareLeadingUnderscore of their names.
ole::ComPtr<tli::CustomSort> LeadingUnderscoreCustomSort();

// ---- Member and parameter queries ----

// The option mask of parameter paramIndex (0-based; -1 for the return value)
// of a function, params being its parameter descriptions (at least cParams).
// Too few descriptions raise error 5.
int32_t CalcParamOptionMask(const ole::FUNCDESC& func, std::span<const ole::ELEMDESC> params, int32_t paramIndex);
// The same, reading the parameters from func.lprgelemdescParam.
int32_t CalcParamOptionMask(const ole::FUNCDESC& func, int32_t paramIndex);
// The option mask of parameter paramIndex of the function memberId/invokeKind
// of item typeIndex of lib, read from the interface half of a dual interface.
// A missing function raises the platform's error.
int32_t GetParamOptionMask(ole::ITypeLib* lib, ole::UINT typeIndex, ole::MEMBERID memberId,
                           ole::INVOKEKIND invokeKind, int32_t paramIndex);

// What CreateCustParameterInfo finds for one position of a function.
struct MemberDescription {
    // The member as the TypeLib Information objects list it: its flags,
    // MEMBERID and, for a module function, its DLL entry.
    ole::ComPtr<tli::MemberInfo> Member;
    // Positions from 1: the parameter (a CustParameterInfo for the trailing
    // parameter the member does not list, such as a [retval]); null for 0.
    ole::ComPtr<tli::ParameterInfo> Parameter;
    // Position 0: the member's return type; otherwise the parameter's type.
    ole::ComPtr<tli::VarTypeInfo> Type;
    // For an optional parameter without a default value: true when its
    // position lies beyond cParams - HiddenParamCount - cParamsOpt (one of the
    // trailing optional parameters the function counts); false otherwise.
    bool BeyondRequired = false;
};

// Describes the function typeIndex/memberId/invokeKind of lib (the interface
// half of a dual interface) at a position: 0 for the function itself, n for
// its parameter n. A position outside 0 .. cParams raises error 9; a missing
// function raises the platform's error.
MemberDescription CreateCustParameterInfo(ole::ITypeLib* lib, ole::UINT typeIndex, ole::MEMBERID memberId,
                                          ole::INVOKEKIND invokeKind, int32_t position);

// True when both describe the same type: both null, the same object, or equal
// pointer levels and VARTYPE (with its array bits), the same user-defined type
// object, and for arrays equal element pointer levels and (fixed-size) bounds.
// Failing calls on the descriptions raise their HRESULT.
bool VarTypeInfoEquals(tli::VarTypeInfo* first, tli::VarTypeInfo* second);
// True when two fixed-size arrays have the same dimensions and bounds.
bool ArrayBoundsEqual(tli::VarTypeInfo* first, tli::VarTypeInfo* second);

// ---- Values and object types ----

// False when the VARTYPEs differ (VT_I4 5 and VT_UI4 5 differ); otherwise
// whether the values are equal, a type that the history file stores as a
// substitute (WriteVariant) being compared as that substitute. Strings compare
// exactly; Empty equals Empty and Null equals Null. Values that have no value
// comparison (objects, arrays, references) are never equal. Neither argument
// is modified.
bool VariantsEqual(const ole::VARIANT& a, const ole::VARIANT& b);

// The VARTYPE a value is stored as in the history file: VT_I1 as VT_UI1,
// VT_UI2 as VT_I2, VT_UI4, VT_INT and VT_UINT as VT_I4, VT_I8 and VT_UI8 as
// VT_CY (the data bytes unchanged); every other type as itself.
ole::VARTYPE SubstituteVarType(ole::VARTYPE vt);

// Writes a value as the history file holds it: an Integer w, an Integer
// VARTYPE, then the data (none for Empty and Null; 1, 2, 4 or 8 bytes for the
// numeric types; a String for VT_BSTR). A substituted type is written as its
// substitute with w = its own VARTYPE; w is 0 otherwise. A Decimal, which no
// record holds, is written as a VT_BSTR of its exact text (sign, every digit
// of its magnitude, as many after a "." as its scale) with w = VT_DECIMAL:
// files without Decimals stay as they were. A value the file cannot hold
// (arrays, objects, references, a Decimal of a scale over 28) raises error 13,
// a text over 32,767 bytes error 6; nothing is written then.
void WriteVariant(RecordWriter& out, const ole::VARIANT& value);
// Reads what WriteVariant wrote, giving a substituted value its own type back.
// A w and VARTYPE pair that WriteVariant does not write is refused (error 5
// with the reader's format text).
ole::Variant ReadVariant(RecordReader& in);

// True for VT_DISPATCH and VT_UNKNOWN, and for a user-defined interface,
// dispinterface or coclass, aliases being followed to what they name. False
// for every other type, for arrays, and when the type can't be read.
bool ResolveObjectTypeInfo(tli::VarTypeInfo* type);

}  // namespace zephrin::modMarbrel

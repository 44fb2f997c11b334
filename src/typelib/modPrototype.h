// The text of a type description as the editor shows it in prototypes,
// parameter lists, the type picker and messages: the IDL name of a base type,
// the (library-qualified) name of a user-defined type, one "*" per pointer
// level, and the SAFEARRAY and fixed-size array forms built with " of ".
//
// Descriptions are read through the TypeLib Information VarTypeInfo
// interface, so types read from a library and types being edited
// (CustomVarTypeInfo) give the same text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin::modPrototype {

// The full text of a description. With starless set, IDispatch and IUnknown
// are named without their "*" (for places that write the pointer level
// separately). An unresolvable user-defined type is named "?". Other failing
// calls on the description raise their HRESULT; a null description raises
// error 91.
std::u16string GetTypeString(tli::VarTypeInfo* vti, bool starless);

// The IDL name of an intrinsic VARTYPE ("long", "IDispatch*", ...); empty when
// it has none.
std::u16string BaseTypeName(int32_t vt, bool starless);
// The combined name used by the type picker ("long  (Long)", ...); the IDL name
// where there is no second form.
std::u16string BaseTypeNameVB(int32_t vt, bool starless);
// 9 (IDispatch*) becomes 33, 13 (IUnknown*) becomes 32; others unchanged.
void UnstarredTypeIndex(int32_t& vt);
// "(" bounds ")" of a fixed-size array, e.g. "(0 To 7, 1 To 2)"; empty when the
// bounds can't be read.
std::u16string ArrayBoundsText(tli::VarTypeInfo* vti);
// Builds the name tables (done on first use anyway).
void InitTypeNameTables();

}  // namespace zephrin::modPrototype

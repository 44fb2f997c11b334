// What the changes that take in or redirect types share: the type and
// library behind a type description, the names they are described by, and
// the regeneration that ends each of them.
#pragma once

#include <string>

#include "changes/hub/ChangeTarget.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {
class CustomTypeLib;
class TLBModifier;
}  // namespace zephrin

namespace zephrin::changes_detail {

// The user-defined type of a description; error 5 without one.
ole::ComPtr<tli::TypeInfo> DescribedType(tli::VarTypeInfo* type);
// The library view that holds a type.
ole::ComPtr<tli::TypeLibInfo> ContainingLibrary(tli::TypeInfo* type);
// The name of the library that holds the described type ("" without a type).
std::u16string DescribedLibraryName(tli::VarTypeInfo* type);
// The described type's name, prefixed with its library's name and "." when
// withLibrary and the description says the type is external ("" without a type).
std::u16string DescribedTypeName(tli::VarTypeInfo* type, bool withLibrary);

// Runs engine (whose starting library is the target's) so that unresolved
// references go to the target's companion library, attaches library to the
// result, and records the new library and companion in target. A failure
// leaves library and target as they were.
void RegenerateWithCompanion(TLBModifier& engine, CustomTypeLib& library, ChangeTarget& target);

}  // namespace zephrin::changes_detail

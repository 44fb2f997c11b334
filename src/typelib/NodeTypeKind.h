// The kind under which the editor shows a type. The view's tree node records
// store it, change targets carry it, and history replay matches the types it
// finds (and lists the candidates it offers) by it, so that both sides agree:
//   - a dual dispinterface counts as TKIND_INTERFACE;
//   - an alias of a user-defined type counts as the kind of the type the alias
//     chain finally names (a dual again as TKIND_INTERFACE);
//   - an alias of a built-in type stays TKIND_ALIAS;
//   - every other type is its own TYPEKIND.
// This is the rule of modSupport::ResolveTypeKind; every caller that needs the
// shown kind calls NodeTypeKind, so a change of the rule reaches all of them.
#pragma once

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

// Failing reads raise their HRESULT; an alias chain that leads back to itself
// raises TYPE_E_CIRCULARTYPE. A null type raises error 91.
ole::TYPEKIND NodeTypeKind(ole::ITypeInfo* type);
ole::TYPEKIND NodeTypeKind(tli::TypeInfo* type);

}  // namespace zephrin

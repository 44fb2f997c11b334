#include "typelib/NodeTypeKind.h"

#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

ole::TYPEKIND NodeTypeKind(tli::TypeInfo* type) {
    ole::VARTYPE vt = 0;
    return modSupport::ResolveTypeKind(type, vt);
}

ole::TYPEKIND NodeTypeKind(ole::ITypeInfo* type) {
    if (!type) RaiseError(typelib_detail::kErrObjectNotSet);
    return NodeTypeKind(typelib_detail::TliTypeInfo(type).get());
}

}  // namespace zephrin

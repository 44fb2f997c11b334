#include "changes/kinds/TypeRedirectionSupport.h"

#include "changes/kinds/ChangeRegeneration.h"
#include "foundation/ErrorRecord.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin::changes_detail {

ole::ComPtr<tli::TypeInfo> DescribedType(tli::VarTypeInfo* type) {
    if (!type) RaiseError(kErrInvalidArgument);
    ole::ComPtr<tli::TypeInfo> info;
    CheckHr(type->get_TypeInfo(info.put()));
    if (!info) RaiseError(kErrInvalidArgument);
    return info;
}

ole::ComPtr<tli::TypeLibInfo> ContainingLibrary(tli::TypeInfo* type) {
    ole::ComPtr<tli::TypeLibInfo> parent;
    CheckHr(type->get_Parent(parent.put()));
    if (!parent) RaiseError(kErrInvalidArgument);
    return parent;
}

std::u16string DescribedLibraryName(tli::VarTypeInfo* type) {
    if (!type) return {};
    std::u16string name;
    CheckHr(ContainingLibrary(DescribedType(type).get())->get_Name(&name));
    return name;
}

std::u16string DescribedTypeName(tli::VarTypeInfo* type, bool withLibrary) {
    if (!type) return {};
    std::u16string name;
    CheckHr(DescribedType(type)->get_Name(&name));
    bool external = false;
    if (withLibrary && ole::SUCCEEDED(type->get_IsExternalType(&external)) && external)
        return DescribedLibraryName(type) + u"." + name;
    return name;
}

void RegenerateWithCompanion(TLBModifier& engine, CustomTypeLib& library, ChangeTarget& target) {
    ole::ComPtr<ole::ITypeLib> companion = target.UnresolvedLibrary;
    const ole::ComPtr<ole::ITypeLib> regenerated = engine.GenerateDirectFindUnresolved(companion);
    AdoptRegenerated(library, target, regenerated.get());
    target.UnresolvedLibrary = companion;
}

}  // namespace zephrin::changes_detail

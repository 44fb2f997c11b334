#include "changes/kinds/ChangeRegeneration.h"

#include "foundation/ErrorRecord.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin::changes_detail {

ole::ComPtr<ole::ITypeLib> RegenerateInMemory(ole::ITypeLib* start,
                                              const std::function<void(TLBModifier&)>& requests) {
    if (!start) RaiseError(typelib_detail::kErrObjectNotSet);
    TLBModifier modifier;
    modifier.StartingLibDirect(start);
    requests(modifier);
    ole::ComPtr<ole::ITypeLib> regenerated = modifier.GenerateDirect(u"");
    if (!regenerated) RaiseError(typelib_detail::kErrObjectNotSet);
    return regenerated;
}

ole::ComPtr<tli::TypeInfo> TliTypeAt(ole::ITypeLib* lib, int32_t index) {
    if (!lib) RaiseError(typelib_detail::kErrObjectNotSet);
    if (index < 0 || static_cast<ole::UINT>(index) >= lib->GetTypeInfoCount()) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ole::ComPtr<ole::ITypeInfo> type;
    CheckHr(lib->GetTypeInfo(static_cast<ole::UINT>(index), type.put()));
    ole::ComPtr<tli::TypeInfo> info = typelib_detail::TliTypeInfo(type.get());
    if (!info) RaiseError(typelib_detail::kErrObjectNotSet);
    return info;
}

void AdoptRegenerated(CustomTypeLib& library, ChangeTarget& target, ole::ITypeLib* regenerated) {
    try {
        library.Attach(regenerated);
    } catch (...) {
        try {
            library.Attach(target.Library.get());
        } catch (...) {
            // The first error is the one to report.
        }
        throw;
    }
    target.ReplacementLibrary = ole::ComPtr<ole::ITypeLib>(regenerated);
}

}  // namespace zephrin::changes_detail

// Loading type library files. (Readers are being added; until then every load fails.)
#include "platform/oleauto/TypeLibInterfaces.h"

namespace ole {

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND, ITypeLib** pptlib) {
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    if (!szFile) return E_INVALIDARG;
    return TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) { return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib); }

HRESULT LoadTypeLibFromMemory(const void*, size_t, LPCOLESTR, ITypeLib** pptlib) {
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace ole

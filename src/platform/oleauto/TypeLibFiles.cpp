// Loading type library files. (Readers are being added; until then every load fails.)
#include "platform/oleauto/TypeLibFiles.h"

namespace ole {

void RegisterFileServices() {}

bool SplitResourceSpec(std::u16string_view spec, std::u16string* path, unsigned* resourceId) {
    *path = std::u16string(spec);
    *resourceId = 1;
    return true;
}

HRESULT ReadTypeLibImage(std::span<const std::byte>, unsigned, LibraryData*) { return TYPE_E_CANTLOADLIBRARY; }

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

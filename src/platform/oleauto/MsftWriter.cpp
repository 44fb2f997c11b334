// Writer of MSFT type library files.
#include "platform/oleauto/MsftWriter.h"

namespace ole {

HRESULT BuildMsftImage(const LibraryData&, std::vector<std::byte>* out) {
    if (!out) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT WriteMsftTypeLib(const LibraryData&, const std::u16string&) { return E_NOTIMPL; }

}  // namespace ole

#include "platform/oleauto/SltgReader.h"

namespace ole {

HRESULT ReadSltg(std::span<const std::byte> image, LibraryData* out)
{
    if (!out)
        return E_POINTER;
    *out = LibraryData{};
    (void)image;
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace ole

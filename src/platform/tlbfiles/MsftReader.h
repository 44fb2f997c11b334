// Reader of the MSFT type library format into the plain data model.
#pragma once

#include <cstddef>
#include <span>

#include "platform/tlbengine/TypeLibData.h"

namespace ole {

// Reads an MSFT image (a standalone file or a TYPELIB resource's bytes).
// Every offset, count and length is checked against the image; a corrupt or
// truncated image gives TYPE_E_CANTLOADLIBRARY (bad structure) or
// TYPE_E_INVALIDSTATE (inconsistent content). On failure *out is unspecified.
HRESULT ReadMsft(std::span<const std::byte> image, LibraryData* out);

}  // namespace ole

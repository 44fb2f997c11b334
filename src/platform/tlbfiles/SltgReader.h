// Reader of SLTG type library images (the compact format of 16-bit era
// tools). Produces the plain data model; the file layer recognises the
// format and wraps the result in a loaded library.
#pragma once

#include <cstddef>
#include <span>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibData.h"

namespace ole {

// Reads a whole SLTG image into *out (replacing its content). Corrupt or
// truncated input fails with TYPE_E_CANTLOADLIBRARY or TYPE_E_INVALIDSTATE and
// leaves *out empty; it never reads outside the image.
HRESULT ReadSltg(std::span<const std::byte> image, LibraryData* out);

}  // namespace ole

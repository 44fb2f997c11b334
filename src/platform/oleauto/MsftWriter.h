// Writer of MSFT type library files: turns the plain data model of a laid-out
// library into the file image the platform loads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/oleauto/OleTypes.h"
#include "platform/oleauto/TypeLibData.h"

namespace ole {

// Builds the complete MSFT image of a library in memory. *out is replaced only
// on success. Fails with E_INVALIDARG for data that cannot be stored (an
// unknown reference, a name longer than 255 bytes) and with
// TYPE_E_CANTLOADLIBRARY when a live reference's library cannot be described.
HRESULT BuildMsftImage(const LibraryData& data, std::vector<std::byte>* out);

// Builds the image and writes it to path: first to a temporary file in the
// same folder, which is then renamed over the target. On failure the target
// is left as it was and no temporary file remains.
HRESULT WriteMsftTypeLib(const LibraryData& data, const std::u16string& path);

}  // namespace ole

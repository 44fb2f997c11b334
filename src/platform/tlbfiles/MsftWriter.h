// Writer of MSFT type library files: turns the plain data model of a laid-out
// library into the file image the platform loads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibData.h"

namespace ole {

// Builds the complete MSFT image of a library in memory. *out is replaced only
// on success. Text is stored in the ANSI code page (Windows-1252; other
// characters become '?'), and names that differ only in case share the first
// spelling, as in the platform's files. References to types of other
// libraries (live or imported) become import entries; whenever a dispinterface
// or dual interface exists, IDispatch of stdole2 is imported too.
// A reference to a deleted type (RefKind::Missing) is written as one that
// leads nowhere, as it was read. Fails with TYPE_E_UNDEFINEDTYPE for an
// HREFTYPE that LibraryData::refs does not define, E_INVALIDARG for data the format cannot hold (a type without a name,
// a name over 255 bytes, a string over 65535 bytes), DISP_E_BADVARTYPE for a
// value it cannot store, and TYPE_E_CANTLOADLIBRARY when the library of a live
// reference cannot be described.
HRESULT BuildMsftImage(const LibraryData& data, std::vector<std::byte>* out);

// Builds the image and writes it to path: first to a temporary file in the
// same folder, which is then renamed over the target, keeping the target's
// mode. On failure the target is left as it was and no temporary file remains
// (TYPE_E_CANTCREATETMPFILE when the temporary file cannot be made,
// TYPE_E_IOERROR when writing or renaming fails). A symbolic link is followed:
// its target is written and the link stays. A target that cannot be written
// (no write permission for its owner, or none for this process) is refused
// with TYPE_E_IOERROR, as opening it for writing would be. A file with other
// hard links is rewritten in place, so that all its names keep sharing it; that
// write is not atomic, but space is reserved before the old contents change.
HRESULT WriteMsftTypeLib(const LibraryData& data, const std::u16string& path);

}  // namespace ole

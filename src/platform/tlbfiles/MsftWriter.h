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
// characters become '?'), and each spelling of a name is stored once: names
// that differ only in case keep their own entries, as the platform writes
// and reads them. References to types of other
// libraries (live or imported) become import entries; whenever a dispinterface
// or dual interface exists, IDispatch of stdole2 is imported too.
// A reference to a deleted type (RefKind::Missing) is written as one that
// leads nowhere, as it was read. Fails with TYPE_E_UNDEFINEDTYPE for an
// HREFTYPE that LibraryData::refs does not define, E_INVALIDARG for data the format cannot hold (a type without a name,
// a name over 255 bytes, a string over 65535 bytes), DISP_E_BADVARTYPE for a
// value it cannot store, TYPE_E_CANTLOADLIBRARY when the library of a live
// reference cannot be described, and TYPE_E_LIBNOTREGISTERED when that library
// has no GUID (an import names its library by GUID; GetLibraryWithoutGuid then
// names it).
HRESULT BuildMsftImage(const LibraryData& data, std::vector<std::byte>* out);

// The name of the library without a GUID that failed the last build on this
// thread with TYPE_E_LIBNOTREGISTERED; empty otherwise.
std::u16string GetLibraryWithoutGuid();

// Builds the image and writes it to path through ReplaceFileContents
// (FileReplacement.h): the target is never left half written, and a failure
// says why through GetLastFileWriteError.
HRESULT WriteMsftTypeLib(const LibraryData& data, const std::u16string& path);

// Whether a value (of custom data, a constant or a parameter default) can be
// written to a library file. A library holding any other fails to save.
bool CanWriteValue(const VARIANT& v);

}  // namespace ole

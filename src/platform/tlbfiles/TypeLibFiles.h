// Loading type library files: recognition by content (MSFT, SLTG, PE and NE
// images with a TYPELIB resource), "path\N" resource selection, a cache that
// gives the same library object for the same path, and the default resolver
// of imported references. LoadTypeLibEx and friends are declared in
// TypeLibInterfaces.h.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/tlbengine/TypeLibData.h"

namespace ole {

// Registers the import resolver (loaded libraries, the built-in stdole2, the
// registry, the built-in stdole 1.0) and the MSFT writer with the engine. Idempotent; LoadTypeLibEx and
// LoadTypeLibFromMemory call it.
void RegisterFileServices();

// Splits "path\N" (N all decimal digits) into the path and the resource ID;
// otherwise returns the text unchanged with ID 1. False when N is out of range.
bool SplitResourceSpec(std::u16string_view spec, std::u16string* path, unsigned* resourceId);

// Reads the library held in bytes: an MSFT or SLTG image, or an executable
// image with TYPELIB resource resourceId.
HRESULT ReadTypeLibImage(std::span<const std::byte> bytes, unsigned resourceId, LibraryData* out);

}  // namespace ole

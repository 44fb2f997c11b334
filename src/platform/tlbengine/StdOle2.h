// The built-in standard library "stdole" ({00020430-0000-0000-C000-000000000046}
// version 2.0, "OLE Automation"), built from this program's own definitions.
// LoadTypeLibEx gives it for the bare name "stdole2.tlb", and references to
// that library resolve to it.
#pragma once

#include <memory>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace ole {

// The built-in stdole2 library: one read-only library object, created on the
// first call and shared afterwards (every call returns the same object, with
// a reference added for the caller). Its file path is "stdole2.tlb".
HRESULT GetBuiltinStdOle2(ITypeLib** out);

// The content of the built-in library as plain data (the same data the
// library object wraps). Built once.
std::shared_ptr<const LibraryData> GetStdOle2Data();

}  // namespace ole

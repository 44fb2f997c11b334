// The built-in standard library "stdole" ({00020430-0000-0000-C000-000000000046}
// version 2.0, "OLE Automation"), built from this program's own definitions.
// LoadTypeLibEx gives it for the bare name "stdole2.tlb", and references to
// that library resolve to it.
//
// Version 1.0 of the same library ("stdole32.tlb", which older compilers
// import) is built in too: its six types are the first six of version 2.0.
// It stands in when the registry provides no file for that version; the bare
// name "stdole32.tlb" gives it.
#pragma once

#include <memory>
#include <string_view>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace ole {

inline constexpr std::u16string_view kStdOle2File = u"stdole2.tlb";
inline constexpr std::u16string_view kStdOle32File = u"stdole32.tlb";

// The built-in stdole2 library: one read-only library object, created on the
// first call and shared afterwards (every call returns the same object, with
// a reference added for the caller). Its file path is "stdole2.tlb".
HRESULT GetBuiltinStdOle2(ITypeLib** out);
// The built-in stdole version 1.0, alike; its file path is "stdole32.tlb".
HRESULT GetBuiltinStdOle32(ITypeLib** out);

// The content of the built-in libraries as plain data (the same data the
// library objects wrap). Built once.
std::shared_ptr<const LibraryData> GetStdOle2Data();
std::shared_ptr<const LibraryData> GetStdOle32Data();

}  // namespace ole

// The built-in standard library "stdole" ({00020430-0000-0000-C000-000000000046}
// version 2.0), built from this program's own definitions.
#pragma once

#include "platform/oleauto/OleTypes.h"
#include "platform/oleauto/TypeLibInterfaces.h"

namespace ole {

// The built-in stdole2 library: one read-only library object, created on the
// first call and shared afterwards (every call returns the same object, AddRef'd).
HRESULT GetBuiltinStdOle2(ITypeLib** out);

}  // namespace ole

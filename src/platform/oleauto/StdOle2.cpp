#include "platform/oleauto/StdOle2.h"

namespace ole {

HRESULT GetBuiltinStdOle2(ITypeLib** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace ole

#include "platform/oleauto/MsftReader.h"

namespace ole {

HRESULT ReadMsft(std::span<const std::byte>, LibraryData*) { return TYPE_E_CANTLOADLIBRARY; }

}  // namespace ole

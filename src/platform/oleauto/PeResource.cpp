#include "platform/oleauto/PeResource.h"

namespace ole {

bool IsExecutableImage(std::span<const std::byte> image) {
    return image.size() >= 2 && image[0] == std::byte{'M'} && image[1] == std::byte{'Z'};
}

HRESULT FindTypeLibResource(std::span<const std::byte>, unsigned, std::span<const std::byte>* out) {
    if (out) *out = {};
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace ole

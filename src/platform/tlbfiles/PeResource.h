// Finding a TYPELIB resource inside a PE32 / PE32+ (and, minimally, NE) image.
#pragma once

#include <cstddef>
#include <span>

#include "platform/automation/OleTypes.h"

namespace ole {

// True when the bytes start like an executable image ("MZ").
bool IsExecutableImage(std::span<const std::byte> image);

// Finds the "TYPELIB" resource with integer ID resourceId and returns its
// bytes (a view into image). TYPE_E_CANTLOADLIBRARY when the image is not a
// valid PE/NE image or has no such resource.
HRESULT FindTypeLibResource(std::span<const std::byte> image, unsigned resourceId,
                            std::span<const std::byte>* out);

}  // namespace ole

// Byte comparison of two memory blocks.
#pragma once

#include <cstddef>
#include <cstring>

namespace zephrin::modCompareMemory {

// memcmp's result: negative, zero or positive. Zero bytes compare equal.
inline int CompareMemory(const void* a, const void* b, size_t count) noexcept {
    return count == 0 ? 0 : std::memcmp(a, b, count);
}

}  // namespace zephrin::modCompareMemory

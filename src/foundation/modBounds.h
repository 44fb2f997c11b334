// Array bounds as text: lower " To " upper, dimensions joined by ", ".
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zephrin {

// One dimension of a fixed-size array: {lower, upper}.
using BoundsRow = std::array<int32_t, 2>;
// One row per dimension, first dimension first.
using BoundsTable = std::vector<BoundsRow>;

namespace modBounds {

// "0 To 7, -1 To 1"
std::u16string FormatBounds(std::span<const BoundsRow> bounds);

// Reads a comma-separated list of dimensions, each "lower To upper" or a lone number u
// meaning 0 To u ("To" in any letter case; two numbers without "To" also give lower and
// upper). Numbers are whole decimal 32-bit integers with an optional sign. A dimension
// whose lower bound exceeds its upper bound, or whose element count does not fit in an
// unsigned 32-bit count, makes the text invalid. On success bounds is replaced and the
// result is true; otherwise bounds is untouched. Never raises.
bool ParseBounds(std::u16string_view text, BoundsTable& bounds);

}  // namespace modBounds
}  // namespace zephrin

#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

namespace zephrin::resources {
namespace {

constexpr StringEntry kStrings[] = {
#include "resources/StringTable.inc"
};

}  // namespace

std::span<const StringEntry> AllStrings() { return kStrings; }

const char16_t* FindString(int id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const StringEntry& e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id) return nullptr;
    return it->text;
}

}  // namespace zephrin::resources

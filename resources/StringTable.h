// The program's string table: every user-visible text, keyed by its number.
#pragma once

#include <span>

namespace zephrin::resources {

struct StringEntry {
    int id;
    const char16_t* text;
};

// Every entry, sorted by id.
std::span<const StringEntry> AllStrings();

// The text of string `id`, or nullptr when the table has no such string.
const char16_t* FindString(int id);

}  // namespace zephrin::resources

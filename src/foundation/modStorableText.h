// Texts a type library or a history file can store: both hold names and
// strings in the ANSI code page (Windows-1252), where any other character
// would become "?".
#pragma once

#include <string>
#include <string_view>

#include "platform/automation/Variant.h"

namespace zephrin::modStorableText {

// The first character of text that can't be stored, as "'Ж' (U+0416)", or
// empty when the whole text can be stored.
std::u16string FirstUnstorableChar(std::u16string_view text);

// Empty when text can be stored as a name or help text; otherwise why not,
// naming the first character that can't be (a NUL among them).
std::u16string WhyUnstorable(std::u16string_view text);
// The same for the text of a string value, which may hold a NUL.
std::u16string WhyUnstorableValue(std::u16string_view text);

// Raises error 5 with WhyUnstorable's text when text can't be stored.
void RequireStorable(std::u16string_view text);
// Values: the text of a string value as WhyUnstorableValue checks it; other values pass.
void RequireStorable(const ole::VARIANT& value);

}  // namespace zephrin::modStorableText

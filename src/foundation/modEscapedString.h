// Backslash escapes in texts the user types (string constants, custom data).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace zephrin::modEscapedString {

// A copy of text with its escapes decoded. Escapes (letters in either case):
// \n \a \b \f \r \t \v; \dDDD decimal and \xHHH hexadecimal (exactly three digits, else the
// letter itself); \OOO octal (three octal digits); \0 NUL; any other \c gives c. A trailing
// backslash is dropped. Each escape gives one UTF-16 code (up to 4095). Never fails.
std::u16string DecodeEscapedString(std::u16string_view text);

// The text that DecodeEscapedString turns back into text: backslashes doubled,
// line breaks and tabs as \n \r \t, other control characters as \xHHH.
std::u16string EncodeEscapedString(std::u16string_view text);

// Decodes input into output and returns the number of characters written. The output is
// never longer than the input; a shorter output stops the decoding when it is full.
size_t ScanEscapes(std::span<const char16_t> input, std::span<char16_t> output);

}  // namespace zephrin::modEscapedString

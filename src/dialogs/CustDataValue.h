// The text of a custom-data value and back: shown in decimal or "&H"
// hexadecimal, read back through the platform's conversion, and refused
// where a library file could not hold it.
#pragma once

#include <string>
#include <string_view>

#include "platform/automation/Variant.h"

namespace zephrin::dialogs::CustDataValue {

// String values are edited as LPSTR.
inline constexpr ole::VARTYPE kLpStr = 30;
inline constexpr ole::VARTYPE kLpWStr = 31;

// The type an entry's value is edited as.
ole::VARTYPE EditType(ole::VARTYPE valueType);
// As the details fields show a value (modDetailsFields::FormatValue): "&H"
// and upper-case digits when hex is set and the value can be shown so, a
// Single or Double in its shortest form that reads back the same, else the
// value converted to text.
std::u16string Format(const ole::Variant& value, bool hex);

struct Parsed {
    bool Valid = false;
    ole::Variant Value;
    std::u16string Why;  // when not valid: what is wrong, where it is worth saying
};
// The text as a value of type editType. Text for LPSTR and LPWSTR is any
// text the file's code page holds, with its backslash escapes decoded; other
// text must convert, and the value must be one that a library file can hold.
Parsed Parse(std::u16string_view text, ole::VARTYPE editType);
// What typing a string checks, without decoding it: that the file's code
// page holds every character typed (Valid; Value stays empty). Parse decodes
// and checks the whole text when it is stored.
Parsed CheckTyped(std::u16string_view text);

}  // namespace zephrin::dialogs::CustDataValue

#include "foundation/modStorableText.h"

#include <cstdint>
#include <cstdio>

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"

namespace zephrin::modStorableText {

std::u16string FirstUnstorableChar(std::u16string_view text) {
    const size_t at = ole::FindNonAnsiChar(text);
    if (at == std::u16string_view::npos) return {};
    // A character beyond the basic plane is the pair of codes that make it up.
    uint32_t code = text[at];
    size_t length = 1;
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (text[at + 1] - 0xDC00);
        length = 2;
    }
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    return u"'" + std::u16string(text.substr(at, length)) + u"' (" + ole::FromUtf8(number) + u")";
}

std::u16string WhyUnstorable(std::u16string_view text) {
    const std::u16string character = FirstUnstorableChar(text);
    if (character.empty()) return {};
    return u"The character " + character +
           u" can't be stored: a type library holds names and strings in the Windows-1252 code page.";
}

void RequireStorable(std::u16string_view text) {
    std::u16string why = WhyUnstorable(text);
    if (!why.empty()) RaiseError(kErrInvalidArgument, std::move(why));
}

void RequireStorable(const ole::VARIANT& value) {
    if (value.vt == ole::VT_BSTR)
        RequireStorable(ole::BstrView(value.bstrVal));
    else if (value.vt == (ole::VT_BSTR | ole::VT_BYREF) && value.pbstrVal)
        RequireStorable(ole::BstrView(*value.pbstrVal));
    else if (value.vt == (ole::VT_VARIANT | ole::VT_BYREF) && value.pvarVal)
        RequireStorable(*value.pvarVal);
}

}  // namespace zephrin::modStorableText

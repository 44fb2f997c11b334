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

namespace {

// Why a value's text can't be stored: only its code page matters, since a
// value keeps its length and so a NUL inside it.
std::u16string WhyNotInCodePage(std::u16string_view text) {
    const std::u16string character = FirstUnstorableChar(text);
    if (character.empty()) return {};
    return u"The character " + character +
           u" can't be stored: a type library holds names and strings in the Windows-1252 code page.";
}

}  // namespace

std::u16string WhyUnstorable(std::u16string_view text) {
    // Names and help texts end at their first NUL in the file: the rest would be lost.
    if (text.find(u'\0') != std::u16string_view::npos)
        return u"The character U+0000 (NUL) can't be stored: a name or help text ends at it in a type library.";
    return WhyNotInCodePage(text);
}

std::u16string WhyUnstorableValue(std::u16string_view text) { return WhyNotInCodePage(text); }

void RequireStorable(std::u16string_view text) {
    std::u16string why = WhyUnstorable(text);
    if (!why.empty()) RaiseError(kErrInvalidArgument, std::move(why));
}

void RequireStorable(const ole::VARIANT& value) {
    std::u16string why;
    if (value.vt == ole::VT_BSTR)
        why = WhyUnstorableValue(ole::BstrView(value.bstrVal));
    else if (value.vt == (ole::VT_BSTR | ole::VT_BYREF) && value.pbstrVal)
        why = WhyUnstorableValue(ole::BstrView(*value.pbstrVal));
    else if (value.vt == (ole::VT_VARIANT | ole::VT_BYREF) && value.pvarVal)
        RequireStorable(*value.pvarVal);
    if (!why.empty()) RaiseError(kErrInvalidArgument, std::move(why));
}

}  // namespace zephrin::modStorableText

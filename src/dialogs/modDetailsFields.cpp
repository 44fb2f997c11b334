#include "dialogs/modDetailsFields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string>

#include "foundation/modEscapedString.h"
#include "platform/tlbfiles/MsftWriter.h"

namespace zephrin::dialogs::modDetailsFields {

namespace {

// Language identifiers of the locales the platform knows, sorted.
constexpr uint16_t kKnownLanguages[] = {
    0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x040D, 0x040E,
    0x040F, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438,
    0x0439, 0x043A, 0x043B, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, 0x0450, 0x0451, 0x0452, 0x0453, 0x0454, 0x0455,
    0x0456, 0x0457, 0x0458, 0x0459, 0x045A, 0x045B, 0x045C, 0x045D, 0x045E, 0x045F, 0x0460, 0x0461, 0x0462, 0x0463,
    0x0464, 0x0465, 0x0466, 0x0467, 0x0468, 0x0469, 0x046A, 0x046B, 0x046C, 0x046D, 0x046E, 0x046F, 0x0470, 0x0471,
    0x0472, 0x0473, 0x0474, 0x0475, 0x0476, 0x0477, 0x0478, 0x0479, 0x047A, 0x047C, 0x047E, 0x0480, 0x0481, 0x0482,
    0x0483, 0x0484, 0x0485, 0x0486, 0x0487, 0x0488, 0x048C, 0x0491, 0x0492, 0x0801, 0x0804, 0x0807, 0x0809, 0x080A,
    0x080C, 0x0810, 0x0813, 0x0814, 0x0816, 0x0818, 0x0819, 0x081A, 0x081D, 0x0820, 0x082C, 0x082E, 0x0832, 0x083B,
    0x083C, 0x083E, 0x0843, 0x0845, 0x0846, 0x0849, 0x0850, 0x0859, 0x085D, 0x085F, 0x0860, 0x0861, 0x0867, 0x086B,
    0x0873, 0x0C01, 0x0C04, 0x0C07, 0x0C09, 0x0C0A, 0x0C0C, 0x0C1A, 0x0C3B, 0x0C50, 0x0C51, 0x0C6B, 0x1001, 0x1004,
    0x1007, 0x1009, 0x100A, 0x100C, 0x101A, 0x103B, 0x105F, 0x1401, 0x1404, 0x1407, 0x1409, 0x140A, 0x140C, 0x141A,
    0x143B, 0x1801, 0x1809, 0x180A, 0x180C, 0x181A, 0x183B, 0x1C01, 0x1C09, 0x1C0A, 0x1C0C, 0x1C1A, 0x1C3B, 0x2001,
    0x2009, 0x200A, 0x200C, 0x201A, 0x203B, 0x2401, 0x2409, 0x240A, 0x240C, 0x241A, 0x243B, 0x2801, 0x2809, 0x280A,
    0x280C, 0x281A, 0x2C01, 0x2C09, 0x2C0A, 0x2C0C, 0x2C1A, 0x3001, 0x3009, 0x300A, 0x300C, 0x301A, 0x3401, 0x3409,
    0x340A, 0x340C, 0x3801, 0x3809, 0x380A, 0x380C, 0x3C01, 0x3C09, 0x3C0A, 0x3C0C, 0x4001, 0x4009, 0x400A, 0x4409,
    0x440A, 0x4809, 0x480A, 0x4C0A, 0x500A, 0x540A, 0x580A, 0x5C0A,
};
static_assert(std::is_sorted(std::begin(kKnownLanguages), std::end(kKnownLanguages)));

constexpr ole::LCID kLcidNeutral = 0;
constexpr ole::LCID kLcidInvariant = 0x7F;
constexpr ole::LCID kLcidUserDefault = 0x400;
constexpr ole::LCID kLcidSystemDefault = 0x800;
constexpr uint16_t kPrimaryLanguageMask = 0x3FF;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// The digits written after the decimal point of text, trailing zeros aside;
// none when an exponent follows them, which moves the point.
int WrittenPlaces(std::u16string_view text) {
    const size_t point = text.find(u'.');
    if (point == std::u16string_view::npos) return 0;
    size_t end = point + 1, last = point;
    for (; end < text.size() && text[end] >= u'0' && text[end] <= u'9'; ++end)
        if (text[end] != u'0') last = end;
    if (end < text.size() && (text[end] == u'E' || text[end] == u'e')) return 0;
    return static_cast<int>(last - point);
}

// Whether the number text names has no more than places decimal places
// (trailing zeros aside); false when it names no number. The digits are
// counted as written too: a Decimal holds 28 places, and rounds further
// ones away before its scale could tell.
bool HasAtMostPlaces(std::u16string_view text, int places) {
    const ole::Variant source{text};
    ole::Variant exact;
    if (ole::FAILED(ole::VariantChangeType(&exact.get(), &source.get(), 0, ole::VT_DECIMAL))) return false;
    return exact.get().decVal.scale <= places && WrittenPlaces(text) <= places;
}

// The text converted by the platform to the integer type vt, a fraction
// refused: the conversion would round it to a whole number without a word.
bool ConvertWhole(std::u16string_view text, ole::VARTYPE vt, ole::Variant& out) {
    if (!HasAtMostPlaces(text, 0)) return false;
    const ole::Variant source{text};
    return ole::SUCCEEDED(ole::VariantChangeType(&out.get(), &source.get(), 0, vt));
}

// Whether vt is a whole-number type.
bool IsWholeType(ole::VARTYPE vt) {
    return vt == ole::VT_I1 || vt == ole::VT_UI1 || vt == ole::VT_I2 || vt == ole::VT_UI2 || vt == ole::VT_I4 ||
           vt == ole::VT_UI4 || vt == ole::VT_INT || vt == ole::VT_UINT || vt == ole::VT_I8 || vt == ole::VT_UI8;
}

// A Currency holds four decimal places: the conversion would round a fifth away.
constexpr int kCurrencyPlaces = 4;

template <class T>
Parsed<T> ParseInteger(std::u16string_view text, ole::VARTYPE vt, T ole::VARIANT::*member) {
    ole::Variant value;
    if (!ConvertWhole(text, vt, value)) return {};
    return {true, value.get().*member};
}

// The digits of a Single or Double that read back to the same value, with
// the platform's upper-case exponent and names.
template <class Real>
std::u16string ShortestText(Real value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return Widen(text);
}

// The text as the Single or Double it names exactly, when it is written as
// plain digits with a point and an exponent (what ShortestText writes).
template <class Real>
bool ReadShortest(std::u16string_view text, Real& out) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t c : text) {
        if (c > 0x7F) return false;
        narrow.push_back(static_cast<char>(c));
    }
    Real value{};
    const auto result = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (result.ec != std::errc() || result.ptr != narrow.data() + narrow.size()) return false;
    out = value;
    return true;
}

}  // namespace

// ---- Integers ----

Parsed<int16_t> ParseInt16(std::u16string_view text) { return ParseInteger(text, ole::VT_I2, &ole::VARIANT::iVal); }
Parsed<int32_t> ParseInt32(std::u16string_view text) { return ParseInteger(text, ole::VT_I4, &ole::VARIANT::lVal); }
Parsed<uint16_t> ParseUInt16(std::u16string_view text) {
    return ParseInteger(text, ole::VT_UI2, &ole::VARIANT::uiVal);
}
Parsed<uint32_t> ParseUInt32(std::u16string_view text) {
    return ParseInteger(text, ole::VT_UI4, &ole::VARIANT::ulVal);
}

std::u16string FormatHex(uint32_t bits) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string digits;
    do {
        digits.insert(digits.begin(), kDigits[bits & 15]);
        bits >>= 4;
    } while (bits);
    return u"&H" + digits;
}

// ---- Versions ----

Parsed<Version> ParseVersion(std::u16string_view text) {
    const size_t dot = text.find(u'.');
    if (dot == std::u16string_view::npos || text.find(u'.', dot + 1) != std::u16string_view::npos) return {};
    const Parsed<int16_t> major = ParseInt16(text.substr(0, dot));
    const Parsed<int16_t> minor = ParseInt16(text.substr(dot + 1));
    if (!major.Valid || !minor.Valid || major.Value < 0 || minor.Value < 0) return {};
    return {true, {major.Value, minor.Value}};
}

std::u16string FormatVersion(int16_t major, int16_t minor) {
    return Widen(std::to_string(major) + "." + std::to_string(minor));
}

// ---- LCIDs ----

bool IsKnownLcid(ole::LCID lcid) {
    if (lcid > 0xFFFF) return false;
    const auto language = static_cast<uint16_t>(lcid);
    if (std::binary_search(std::begin(kKnownLanguages), std::end(kKnownLanguages), language)) return true;
    // A language without its sublanguage.
    return language != 0 && (language & ~kPrimaryLanguageMask) == 0 &&
           std::any_of(std::begin(kKnownLanguages), std::end(kKnownLanguages),
                       [&](uint16_t known) { return (known & kPrimaryLanguageMask) == language; });
}

Parsed<ole::LCID> ParseLcid(std::u16string_view text, ole::LCID filledWith) {
    const Parsed<int32_t> number = ParseInt32(text);
    if (!number.Valid) return {};
    const auto lcid = static_cast<ole::LCID>(number.Value);
    const bool usable = lcid == kLcidNeutral || lcid == kLcidInvariant || lcid == kLcidUserDefault ||
                        lcid == kLcidSystemDefault || lcid == filledWith || IsKnownLcid(lcid);
    if (!usable) return {};
    return {true, lcid};
}

std::u16string FormatLcid(ole::LCID lcid) { return FormatHex(lcid); }

// ---- Member IDs ----

Parsed<ole::MEMBERID> ParseMemberId(std::u16string_view text) {
    if (text.empty()) return {true, ole::MEMBERID{-1}};
    return ParseInt32(text);
}

std::u16string FormatMemberId(ole::MEMBERID id, bool hexPositive, bool hexNegative) {
    if ((id > 0 && hexPositive) || (id < 0 && hexNegative)) return FormatHex(static_cast<uint32_t>(id));
    return Widen(std::to_string(id));
}

// ---- Constant and default values ----

ole::VARTYPE ValueType(ole::VARTYPE declared) {
    return declared == ole::VT_LPSTR || declared == ole::VT_LPWSTR ? ole::VARTYPE{ole::VT_BSTR} : declared;
}

bool CanShowHex(ole::VARTYPE vt) {
    return vt == ole::VT_I2 || vt == ole::VT_I4 || vt == ole::VT_UI1 || vt == ole::VT_INT;
}

std::u16string FormatValue(const ole::Variant& value, bool hex) {
    const ole::VARIANT& v = value.get();
    if (hex && CanShowHex(v.vt)) {
        switch (v.vt) {
        case ole::VT_I2: return FormatHex(static_cast<uint16_t>(v.iVal));
        case ole::VT_UI1: return FormatHex(v.bVal);
        default: return FormatHex(static_cast<uint32_t>(v.lVal));
        }
    }
    switch (v.vt) {
    case ole::VT_BSTR:
        // Strings are typed with escapes, so they are shown with them.
        return v.bstrVal ? modEscapedString::EncodeEscapedString(std::u16string_view(v.bstrVal, ole::SysStringLen(v.bstrVal)))
                         : std::u16string();
    case ole::VT_R4: return ShortestText(v.fltVal);
    case ole::VT_R8: return ShortestText(v.dblVal);
    case ole::VT_HRESULT:
    case ole::VT_ERROR:
        // Shown, though no text converts back to these types.
        return Widen(std::to_string(v.lVal));
    default: break;
    }
    std::u16string text;
    if (ole::SUCCEEDED(ole::VariantToText(v, &text))) return text;
    return {};
}

Parsed<ole::Variant> ConvertText(std::u16string_view text, ole::VARTYPE vt) {
    if (vt == ole::VT_R8) {
        double exact = 0;
        if (ReadShortest(text, exact)) return {true, ole::Variant(exact)};
    } else if (vt == ole::VT_R4) {
        float exact = 0;
        if (ReadShortest(text, exact)) return {true, ole::Variant(exact)};
    }
    if (vt == ole::VT_CY && !HasAtMostPlaces(text, kCurrencyPlaces)) return {};
    // A fraction for a whole-number type would be rounded without a word.
    if (IsWholeType(vt) && !HasAtMostPlaces(text, 0)) return {};
    const ole::Variant source{text};
    Parsed<ole::Variant> result;
    if (ole::FAILED(ole::VariantChangeType(&result.Value.get(), &source.get(), 0, vt))) return {};
    result.Valid = true;
    return result;
}

std::u16string ValueRule(ole::VARTYPE vt) {
    switch (ValueType(vt)) {
    case ole::VT_CY: return u"a number with at most four decimal places, from -922337203685477.5808 to 922337203685477.5807";
    case ole::VT_DECIMAL: return u"a whole number from 0 to 18446744073709551615";
    default: return {};
    }
}

std::u16string WhatValueOfType(std::u16string_view typeName, ole::VARTYPE vt, bool orNothing) {
    std::u16string what = u"A value of type " + std::u16string(typeName);
    const std::u16string rule = ValueRule(vt);
    if (!rule.empty()) what += u": " + rule;
    if (orNothing) what += u", or nothing for no default value";
    return what + u".";
}

Parsed<ole::Variant> ParseConstValue(std::u16string_view text, ole::VARTYPE declared) {
    const ole::VARTYPE vt = ValueType(declared);
    if (vt == ole::VT_BSTR) return {true, ole::Variant(modEscapedString::DecodeEscapedString(text))};
    // Every text converts to Empty: a value typed for a type without a value
    // type of its own would be lost without a word.
    if (vt == ole::VT_EMPTY || vt == ole::VT_NULL) return {};
    Parsed<ole::Variant> result = ConvertText(text, vt);
    if (result.Valid && !ole::CanWriteValue(result.Value.get())) return {};
    return result;
}

Parsed<ole::Variant> ParseDefaultValue(std::u16string_view text, ole::VARTYPE declared, ole::VARTYPE held) {
    if (text.empty()) return {true, ole::Variant()};
    if (declared != ole::VT_VARIANT) return ParseConstValue(text, declared);
    const Parsed<ole::Variant> number = ParseConstValue(text, ole::VT_R8);
    const bool whole = number.Valid && std::trunc(number.Value.get().dblVal) == number.Value.get().dblVal;
    const bool integral = IsWholeType(held);
    const bool holds = held != ole::VT_EMPTY && held != ole::VT_NULL && held != ole::VT_VARIANT;
    if (holds && (!integral || !number.Valid || whole)) {
        Parsed<ole::Variant> same = ParseConstValue(text, held);
        if (same.Valid) return same;
    }
    if (whole) {
        Parsed<ole::Variant> integer = ParseConstValue(text, ole::VT_I4);
        if (integer.Valid) return integer;
    }
    if (number.Valid) return number;
    return ParseConstValue(text, ole::VT_BSTR);
}

// ---- DLL names and entries ----

bool IsValidDllName(std::u16string_view text) {
    return !text.empty() && !IsBlank(text.front()) && !IsBlank(text.back());
}

Parsed<ole::Variant> ParseDllEntry(std::u16string_view text) {
    if (text.empty() || std::any_of(text.begin(), text.end(), IsBlank)) return {};
    if (text.front() != u'#') return {true, ole::Variant(text)};
    const Parsed<uint16_t> ordinal = ParseUInt16(text.substr(1));
    if (!ordinal.Valid || ordinal.Value == 0) return {};
    return {true, ole::Variant(static_cast<int16_t>(ordinal.Value))};
}

std::u16string FormatDllEntry(const ole::Variant& entry) {
    const ole::VARIANT& v = entry.get();
    if (v.vt == ole::VT_I2) return u"#" + Widen(std::to_string(static_cast<uint16_t>(v.iVal)));
    if (v.vt == ole::VT_BSTR && v.bstrVal) return std::u16string(v.bstrVal, ole::SysStringLen(v.bstrVal));
    return {};
}

// ---- Help ----

Parsed<uint32_t> ParseHelpContext(std::u16string_view text) { return ParseUInt32(text); }

std::u16string FormatHelpContext(uint32_t value) { return Widen(std::to_string(value)); }

bool IsValidHelpFile(std::u16string_view text) { return text.empty() || IsValidDllName(text); }

std::u16string WhyTooLong(std::u16string_view text) {
    if (text.size() <= kLongestText) return {};
    const std::string count = std::to_string(text.size());
    return u"A text of " + std::u16string(count.begin(), count.end()) +
           u" characters is longer than the 32,767 a history file can hold.";
}

}  // namespace zephrin::dialogs::modDetailsFields

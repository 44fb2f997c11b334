// The texts of the details fields and back: versions, LCIDs, member IDs,
// constant and default values, DLL names and entries, help contexts and help
// files. Each parser takes the field's whole text and says whether it is
// valid; nothing here needs a window. A value is shown in a form its parser
// reads back as the same value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation/Variant.h"

namespace zephrin::dialogs::modDetailsFields {

template <class T>
struct Parsed {
    bool Valid = false;
    T Value{};
};

// ---- Integers ----

// The platform's text-to-integer conversions into a signed 16-bit and a
// signed 32-bit number, and into an unsigned 16-bit and an unsigned 32-bit
// number: decimal and "&H" hexadecimal ("&O" octal, blanks around the number,
// thousands commas and the like as the platform reads them). "&H" digits are
// the bits of the number (&HFFFF is -1 in 16 bits). A number out of range, a
// fraction (which the platform would round), an empty text or any other text
// is invalid.
Parsed<int16_t> ParseInt16(std::u16string_view text);
Parsed<int32_t> ParseInt32(std::u16string_view text);
Parsed<uint16_t> ParseUInt16(std::u16string_view text);
Parsed<uint32_t> ParseUInt32(std::u16string_view text);

// "&H" and the upper-case hexadecimal digits of bits, without leading zeros
// (&H0 for 0).
std::u16string FormatHex(uint32_t bits);

// ---- Versions ----

struct Version {
    int16_t Major = 0;
    int16_t Minor = 0;
};
// Exactly two parts split at ".", each a 16-bit number of 0 or more:
// "1.0" and "&H1.2" are valid; "1", "1.", "1.2.3", "-1.0" and "32768.0" are not.
Parsed<Version> ParseVersion(std::u16string_view text);
// Both numbers in signed decimal, joined by ".".
std::u16string FormatVersion(int16_t major, int16_t minor);

// ---- LCIDs ----

// True for a language identifier of the table of known languages, or for the
// neutral sublanguage of one of its languages.
bool IsKnownLcid(ole::LCID lcid);
// A 32-bit number that is a locale: 0, 0x7F (invariant), 0x400 (user
// default), 0x800 (system default), a known language, or filledWith (the
// value the field was filled with, so that typing it back is always valid).
Parsed<ole::LCID> ParseLcid(std::u16string_view text, ole::LCID filledWith);
// "&H" and upper-case digits: &H409, &H0.
std::u16string FormatLcid(ole::LCID lcid);

// ---- Member IDs ----

// An empty text is -1 (the library assigns an ID); otherwise a 32-bit number.
Parsed<ole::MEMBERID> ParseMemberId(std::u16string_view text);
// In "&H" hexadecimal when the ID is positive and hexPositive is set, or
// negative and hexNegative is set; otherwise (and always for 0) in decimal.
std::u16string FormatMemberId(ole::MEMBERID id, bool hexPositive, bool hexNegative);

// ---- Constant and default values ----

// The type a value of a declared type is parsed as: LPSTR and LPWSTR as BSTR.
ole::VARTYPE ValueType(ole::VARTYPE declared);
// Integer, Long, Byte and VT_INT values can be shown in hexadecimal.
bool CanShowHex(ole::VARTYPE vt);
// "&H" and upper-case digits when hex is set and the value can be shown so;
// a String with its backslash escapes (as typed); a Single or Double in the
// shortest form that reads back to the same value (1.7976931348623157E+308,
// 0.1); anything else converted to text as the platform does.
std::u16string FormatValue(const ole::Variant& value, bool hex);
// The text converted to vt by the platform's conversion, except that a
// Single or Double written as FormatValue writes it reads back to the very
// value shown (the platform rounds a Single twice). Not valid when the
// conversion fails, or for a Currency with more than four decimal places or
// a fraction for a whole-number type, which the conversion would round.
Parsed<ole::Variant> ConvertText(std::u16string_view text, ole::VARTYPE vt);
// What a value of type vt must be where the type takes less than its name
// says: a Currency at most four decimal places, a Decimal (as a library file
// holds it) a whole number from 0 to 18446744073709551615. Empty for other types.
std::u16string ValueRule(ole::VARTYPE vt);
// Why a text is refused for a value of type vt named typeName: "A value of
// type DECIMAL: a whole number from 0 to 18446744073709551615.", with ", or
// nothing for no default value" before the period when orNothing is set.
std::u16string WhatValueOfType(std::u16string_view typeName, ole::VARTYPE vt, bool orNothing);
// The value of a constant of a declared type (VT_I4 for an enum value): a
// String is the text with its escapes decoded and always valid; any other type
// converts the text (ConvertText) and must be a value a library file can hold.
// A user-defined type's VARTYPE (0) is refused, so the caller passes the type
// the value is held as (VT_I4 for an enum). No text converts to VT_VARIANT.
Parsed<ole::Variant> ParseConstValue(std::u16string_view text, ole::VARTYPE declared);
// A parameter's default value: an empty text is valid and gives Empty;
// otherwise as ParseConstValue. A Variant parameter (declared VT_VARIANT)
// takes the text as the type of the value it holds (held), so a value typed
// back as shown is the same value; a text that type can't take (a fraction
// for a whole number among them), or any text when it holds no value, is a
// whole number (VT_I4) or another number (VT_R8) when it reads as one, else a
// String with its escapes decoded.
Parsed<ole::Variant> ParseDefaultValue(std::u16string_view text, ole::VARTYPE declared,
                                       ole::VARTYPE held = ole::VT_EMPTY);

// ---- Length ----

// The longest text an edit takes: a history file holds 32,767 characters per
// text, so a longer one could be applied but never recorded.
inline constexpr size_t kLongestText = 32767;
// Empty when text is no longer than kLongestText; otherwise why it can't be taken.
std::u16string WhyTooLong(std::u16string_view text);

// ---- DLL names and entries ----

// Not empty, and neither beginning nor ending with a blank.
bool IsValidDllName(std::u16string_view text);
// No blank anywhere and not empty. "#" and an ordinal from 1 to 65535 gives
// an Integer holding its 16 bits (#65535 is -1); any other text without "#"
// is the entry's name (a String). "#", "#x", "#0" and "#-5" are invalid.
Parsed<ole::Variant> ParseDllEntry(std::u16string_view text);
// "#" and the ordinal unsigned for an Integer; the name for a String.
std::u16string FormatDllEntry(const ole::Variant& entry);

// ---- Help ----

// An unsigned 32-bit whole number: "4294967295" is valid; "-1", "1.5", "" and
// "4294967296" are not.
Parsed<uint32_t> ParseHelpContext(std::u16string_view text);
// Unsigned decimal: 4294967295 for the bits of -1.
std::u16string FormatHelpContext(uint32_t value);
// Empty, or neither beginning nor ending with a blank.
bool IsValidHelpFile(std::u16string_view text);

}  // namespace zephrin::dialogs::modDetailsFields

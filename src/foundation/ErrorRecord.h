// The error record that every failure of the model travels in.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "platform/automation/OleTypes.h"

namespace zephrin {

// Common small error numbers (the control-facility numbers of the runtime).
inline constexpr int32_t kErrInvalidArgument = 5;   // invalid procedure call or argument
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrOutOfMemory = 7;
inline constexpr int32_t kErrSubscriptOutOfRange = 9;
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrInternal = 51;
inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrInputPastEnd = 62;
inline constexpr int32_t kErrPathFileAccess = 75;
inline constexpr int32_t kErrResourceNotFound = 326;

// Number is either a small positive error number or an HRESULT (negative).
class ErrorRecord : public std::exception {
public:
    int32_t Number = 0;
    std::u16string Source;
    std::u16string Description;
    std::u16string HelpFile;
    int32_t HelpContext = 0;

    ErrorRecord() = default;
    // An empty description of a well-known small number gets the standard text.
    explicit ErrorRecord(int32_t number, std::u16string description = {}, std::u16string source = {},
                         std::u16string helpFile = {}, int32_t helpContext = 0);

    // "Error <number>: <description>" in UTF-8, built from the fields when asked.
    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

// The standard description of a small error number, or empty when there is none.
std::u16string_view StandardErrorDescription(int32_t number);

// The text of an error number: the standard description of a small number, a
// short text for the platform errors that come without one ("Element not
// found." for TYPE_E_ELEMENTNOTFOUND), or empty when there is none.
std::u16string_view ErrorNumberText(int32_t number);

// The text every part of the program reports for an error: its description;
// without one the text of its number (or "Error <number>"), followed by its
// source in parentheses when it has one.
std::u16string ErrorReportText(const ErrorRecord& error);

// Throws ErrorRecord{number, description, source}.
[[noreturn]] void RaiseError(int32_t number, std::u16string description = {}, std::u16string source = {});

// Throws ErrorRecord{hr} when hr is a failure; returns hr (success codes such as S_FALSE) otherwise.
ole::HRESULT CheckHr(ole::HRESULT hr, std::u16string_view source = {});

// Inside a catch block: the exception being handled as an error record. An ErrorRecord
// comes back unchanged; std::bad_alloc becomes error 7, any other exception error 51
// with its message as description.
ErrorRecord CurrentErrorRecord();

}  // namespace zephrin

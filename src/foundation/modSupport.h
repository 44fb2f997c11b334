// Program-wide helpers: string-table texts, placeholder filling, error re-raising,
// temporary files and small string utilities.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"
#include "platform/tlbengine/TypeLibTypes.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin::modSupport {

// One value for a placeholder, converted to text the way a concatenation converts it.
struct FormatItem {
    std::u16string Text;

    FormatItem(std::u16string_view text) : Text(text) {}
    FormatItem(const std::u16string& text) : Text(text) {}
    FormatItem(const char16_t* text) : Text(text ? text : u"") {}
    FormatItem(char16_t c) : Text(1, c) {}
    FormatItem(bool b) : Text(b ? u"True" : u"False") {}
    template <std::integral I>
        requires(!std::same_as<I, bool> && !std::same_as<I, char16_t> && !std::same_as<I, char> &&
                 !std::same_as<I, char8_t> && !std::same_as<I, char32_t> && !std::same_as<I, wchar_t>)
    FormatItem(I n) : Text(IntegerText(static_cast<long long>(n), std::is_signed_v<I>)) {}

private:
    static std::u16string IntegerText(long long n, bool isSigned);
};

// The text of string-table entry id. A missing id raises error 326 ("Resource with
// identifier '<id>' not found").
std::u16string LoadResStringById(int32_t id);

// Replaces placeholder "|k" with items[k-1], k = 1 .. items.size(), in one pass over the
// template: each placeholder's first occurrence in the template is replaced, and text that
// an item brings in is never searched again. A placeholder "|k" that the template lacks
// raises error 5; more than nine items raise error 5 as well ("|1" to "|9" only).
std::u16string FormatPlaceholders(std::u16string_view text, std::span<const FormatItem> items);
std::u16string FormatPlaceholders(std::u16string_view text, std::initializer_list<FormatItem> items);
std::u16string FormatPlaceholders(std::u16string_view text, std::span<const std::u16string> items);

// LoadResStringById(id), then FormatPlaceholders.
std::u16string LoadResStringFormat(int32_t id, std::span<const FormatItem> items);
std::u16string LoadResStringFormat(int32_t id, std::initializer_list<FormatItem> items);
std::u16string LoadResStringFormat(int32_t id, std::span<const std::u16string> items);

// Raises the error being handled again, unchanged. Call it from a catch block after
// undoing partial work (ScopeGuard does this for you). Outside a catch block it raises
// error 51.
[[noreturn]] void ReRaiseError();

// The HRESULT for an error record: 0 for 0, n | 0x800A0000 for a positive number n,
// a negative number (already an HRESULT) unchanged.
ole::HRESULT ErrToHResult(const ErrorRecord& err);
// The same for the error being handled (inside a catch block).
ole::HRESULT ErrToHResult();

// Creates a new empty file with a unique name starting with prefix in the temporary
// folder ($TMPDIR, else /tmp) and returns its full path. Failure raises error 75.
std::u16string MakeTempFileName(std::u16string_view prefix);

// Reduces path in place to its file-name part: cut at the first NUL, then keep what
// follows the last "\" or "/".
void ExtractFileName(std::u16string& path);

// A null BSTR gives the empty text.
std::u16string MakeNonNullString(ole::BSTR text);

// Inserts a copy of text before index (index == size appends); removes the text at index.
// An index out of range raises error 9.
void InsertStringAt(std::vector<std::u16string>& texts, std::u16string_view text, size_t index);
void RemoveStringAt(std::vector<std::u16string>& texts, size_t index);

// The effective TYPEKIND of a type: aliases are followed to what they name, and a
// dual dispinterface counts as TKIND_INTERFACE. When an alias chain ends on an
// intrinsic type the result is TKIND_ALIAS and vt receives that VARTYPE (vt is
// written in that case only). A failing read raises its HRESULT; an alias chain
// that leads back to itself raises TYPE_E_CIRCULARTYPE.
ole::TYPEKIND ResolveTypeKind(tli::TypeInfo* type, ole::VARTYPE& vt);

}  // namespace zephrin::modSupport

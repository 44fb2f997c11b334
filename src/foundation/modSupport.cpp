#include "foundation/modSupport.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <unistd.h>

#include "resources/StringTable.h"

namespace zephrin::modSupport {

std::u16string FormatItem::IntegerText(long long n, bool isSigned) {
    // Unsigned values above LLONG_MAX arrive wrapped; print them unsigned.
    unsigned long long u = (isSigned && n < 0) ? 0ull - static_cast<unsigned long long>(n)
                                                : static_cast<unsigned long long>(n);
    char16_t buf[24];
    size_t pos = sizeof buf / sizeof buf[0];
    do {
        buf[--pos] = static_cast<char16_t>(u'0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (isSigned && n < 0) buf[--pos] = u'-';
    return std::u16string(buf + pos, buf + sizeof buf / sizeof buf[0]);
}

std::u16string LoadResStringById(int32_t id) {
    if (const char16_t* text = resources::FindString(id)) return text;
    RaiseError(kErrResourceNotFound,
               u"Resource with identifier '" + FormatItem(id).Text + u"' not found");
}

namespace {

template <class Items, class TextOf>
std::u16string FormatOnePass(std::u16string_view text, const Items& items, TextOf textOf) {
    const size_t count = std::size(items);
    if (count == 0) return std::u16string(text);
    if (count > 9) RaiseError(kErrInvalidArgument);

    // Where each placeholder "|k" first stands in the template.
    std::array<size_t, 9> at{};
    for (size_t k = 1; k <= count; ++k) {
        const char16_t mark[2] = {u'|', static_cast<char16_t>(u'0' + k)};
        at[k - 1] = text.find(std::u16string_view(mark, 2));
        if (at[k - 1] == std::u16string_view::npos) RaiseError(kErrInvalidArgument);
    }

    size_t length = text.size();
    for (const auto& item : items) length += textOf(item).size();
    std::u16string out;
    out.reserve(length);
    // Placeholders never overlap ("|k" cannot start inside another "|j"), so a walk
    // through the template in order replaces each of them exactly once.
    size_t pos = 0;
    while (true) {
        size_t next = std::u16string_view::npos, which = 0;
        for (size_t k = 0; k < count; ++k)
            if (at[k] >= pos && at[k] < next) next = at[k], which = k;
        if (next == std::u16string_view::npos) break;
        out.append(text.substr(pos, next - pos));
        out.append(textOf(*(std::begin(items) + which)));
        pos = next + 2;
    }
    out.append(text.substr(pos));
    return out;
}

const std::u16string& TextOfItem(const FormatItem& item) { return item.Text; }
const std::u16string& TextOfString(const std::u16string& s) { return s; }

}  // namespace

std::u16string FormatPlaceholders(std::u16string_view text, std::span<const FormatItem> items) {
    return FormatOnePass(text, items, TextOfItem);
}
std::u16string FormatPlaceholders(std::u16string_view text, std::initializer_list<FormatItem> items) {
    return FormatOnePass(text, items, TextOfItem);
}
std::u16string FormatPlaceholders(std::u16string_view text, std::span<const std::u16string> items) {
    return FormatOnePass(text, items, TextOfString);
}

std::u16string LoadResStringFormat(int32_t id, std::span<const FormatItem> items) {
    return FormatPlaceholders(LoadResStringById(id), items);
}
std::u16string LoadResStringFormat(int32_t id, std::initializer_list<FormatItem> items) {
    return FormatPlaceholders(LoadResStringById(id), items);
}
std::u16string LoadResStringFormat(int32_t id, std::span<const std::u16string> items) {
    return FormatPlaceholders(LoadResStringById(id), items);
}

void ReRaiseError() {
    if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
    RaiseError(kErrInternal, u"No error to raise again");
}

ole::HRESULT ErrToHResult(const ErrorRecord& err) {
    if (err.Number > 0) return static_cast<ole::HRESULT>(static_cast<uint32_t>(err.Number) | 0x800A0000u);
    return err.Number;
}

ole::HRESULT ErrToHResult() { return ErrToHResult(CurrentErrorRecord()); }

std::u16string MakeTempFileName(std::u16string_view prefix) {
    std::string dir;
    if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
    else dir = "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();

    std::string name = ole::ToUtf8(prefix);
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        RaiseError(kErrPathFileAccess, u"The temporary file prefix '" + std::u16string(prefix) +
                                           u"' is not a valid file name.");
    std::string path = (dir == "/" ? "" : dir) + "/" + name + "XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        int err = errno;
        RaiseError(kErrPathFileAccess, u"Cannot create a temporary file in '" + ole::FromUtf8(dir) +
                                           u"': " + ole::FromUtf8(std::strerror(err)));
    }
    ::close(fd);
    return ole::FromUtf8(path);
}

void ExtractFileName(std::u16string& path) {
    if (size_t nul = path.find(u'\0'); nul != std::u16string::npos) path.resize(nul);
    if (size_t sep = path.find_last_of(u"\\/"); sep != std::u16string::npos) path.erase(0, sep + 1);
}

std::u16string MakeNonNullString(ole::BSTR text) { return std::u16string(ole::BstrView(text)); }

void InsertStringAt(std::vector<std::u16string>& texts, std::u16string_view text, size_t index) {
    if (index > texts.size()) RaiseError(kErrSubscriptOutOfRange);
    texts.insert(texts.begin() + static_cast<std::ptrdiff_t>(index), std::u16string(text));
}

void RemoveStringAt(std::vector<std::u16string>& texts, size_t index) {
    if (index >= texts.size()) RaiseError(kErrSubscriptOutOfRange);
    texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(index));
}

ole::TYPEKIND ResolveTypeKind(tli::TypeInfo* type, ole::VARTYPE& vt) {
    if (!type) RaiseError(91);
    ole::ComPtr<tli::TypeInfo> current(type);
    ole::TYPEKIND kind{};
    CheckHr(current->get_TypeKind(&kind));
    // An alias chain longer than the number of types a library can hold loops.
    for (int steps = 0; kind == ole::TKIND_ALIAS; ++steps) {
        if (steps > 0xFFFF) RaiseError(ole::TYPE_E_CIRCULARTYPE);
        ole::ComPtr<tli::VarTypeInfo> resolved;
        CheckHr(current->get_ResolvedType(resolved.put()));
        ole::VARTYPE resolvedVt = 0;
        CheckHr(resolved->get_VarType(&resolvedVt));
        if (resolvedVt != 0) {
            vt = resolvedVt;
            return kind;
        }
        ole::ComPtr<tli::TypeInfo> next;
        CheckHr(resolved->get_TypeInfo(next.put()));
        if (!next) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        current = next;
        CheckHr(current->get_TypeKind(&kind));
    }
    if (kind == ole::TKIND_DISPATCH) {
        ole::SHORT flags = 0;
        CheckHr(current->get_AttributeMask(&flags));
        if (static_cast<ole::WORD>(flags) & ole::TYPEFLAG_FDUAL) kind = ole::TKIND_INTERFACE;
    }
    return kind;
}

}  // namespace zephrin::modSupport

// BSTR: length-prefixed, NUL-terminated UTF-16 strings, and UTF-8 helpers.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/automation/OleTypes.h"

namespace ole {

using BSTR = OLECHAR*;

// The byte length is stored in the 4 bytes before the characters. A null BSTR
// is the empty string everywhere.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
BSTR SysAllocStringByteLen(const char* psz, UINT cb);
// Reallocates *pbstr to cch characters copied from psz (which may point into
// *pbstr). Returns 1 on success, 0 on failure.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

inline BSTR SysAllocString(std::u16string_view s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}
inline std::u16string_view BstrView(BSTR b) { return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view(); }

std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);
// The ANSI code page (Windows-1252, as on an en-US system): characters it
// cannot represent become '?'.
std::string ToAnsi(std::u16string_view s);
char ToAnsiChar(char16_t c);
// Whether the ANSI code page holds c ('?' itself included).
bool IsAnsiChar(char16_t c);
// Index of the first character of s that the ANSI code page can't hold, or
// npos when ToAnsi keeps every character of s.
size_t FindNonAnsiChar(std::u16string_view s);
std::u16string FromAnsi(std::string_view s);
std::u16string FromAnsi(std::span<const std::byte> s);
// Length of a NUL-terminated UTF-16 string (0 for null).
size_t OleStrLen(const OLECHAR* s);

// Owner of one BSTR.
class BStr {
public:
    BStr() noexcept = default;
    explicit BStr(std::u16string_view s) : b_(SysAllocString(s)) {}
    explicit BStr(const OLECHAR* s) : b_(SysAllocString(s)) {}
    BStr(const BStr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
    BStr(BStr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    ~BStr() { SysFreeString(b_); }
    BStr& operator=(const BStr& o) {
        BStr(o).Swap(*this);
        return *this;
    }
    BStr& operator=(BStr&& o) noexcept {
        BStr(std::move(o)).Swap(*this);
        return *this;
    }
    static BStr FromUtf8(std::string_view s) { return BStr(ole::FromUtf8(s)); }

    void Attach(BSTR b) noexcept {
        SysFreeString(b_);
        b_ = b;
    }
    [[nodiscard]] BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
    BSTR* put() noexcept {
        Reset();
        return &b_;
    }
    void Reset() noexcept { SysFreeString(std::exchange(b_, nullptr)); }
    void Swap(BStr& o) noexcept { std::swap(b_, o.b_); }
    // Returns a fresh copy the caller owns.
    BSTR Copy() const { return b_ ? SysAllocStringLen(b_, SysStringLen(b_)) : nullptr; }

    BSTR get() const noexcept { return b_; }
    UINT Length() const noexcept { return SysStringLen(b_); }
    bool Empty() const noexcept { return Length() == 0; }
    std::u16string_view view() const noexcept { return BstrView(b_); }
    std::u16string str() const { return std::u16string(view()); }
    std::string utf8() const { return ToUtf8(view()); }

    friend bool operator==(const BStr& a, const BStr& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const BStr& a, std::u16string_view b) noexcept { return a.view() == b; }

private:
    BSTR b_ = nullptr;
};

}  // namespace ole

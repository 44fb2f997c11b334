#include <array>
#include "platform/automation/BStr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace ole {

namespace {

// Layout: [ULONG byte length][characters][two NUL bytes].
constexpr size_t kPrefix = sizeof(ULONG);
constexpr size_t kMaxBytes = std::numeric_limits<ULONG>::max() - 16;

BSTR AllocBytes(const void* src, size_t cb) {
    if (cb > kMaxBytes) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + cb + sizeof(OLECHAR) + 1));
    if (!block) return nullptr;
    ULONG len = static_cast<ULONG>(cb);
    std::memcpy(block, &len, kPrefix);
    unsigned char* chars = block + kPrefix;
    if (src)
        std::memcpy(chars, src, cb);
    else
        std::memset(chars, 0, cb);
    std::memset(chars + cb, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(chars);
}

unsigned char* BlockOf(BSTR b) { return reinterpret_cast<unsigned char*>(b) - kPrefix; }

}  // namespace

size_t OleStrLen(const OLECHAR* s) {
    if (!s) return 0;
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(OleStrLen(psz)));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    return AllocBytes(pch, size_t{cch} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* psz, UINT cb) { return AllocBytes(psz, cb); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(OleStrLen(psz)));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch) {
    if (!pbstr) return 0;
    // psz may point into *pbstr: copy before freeing.
    BSTR fresh = SysAllocStringLen(psz, cch);
    if (!fresh) return 0;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return 1;
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(BlockOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    ULONG len;
    std::memcpy(&len, BlockOf(bstr), kPrefix);
    return len;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned bytes map to the C1
// controls of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::array<char16_t, 256> MakeCp1252Table() {
    std::array<char16_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
    return t;
}
constexpr std::array<char16_t, 256> kCp1252 = MakeCp1252Table();

}  // namespace

char ToAnsiChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

bool IsAnsiChar(char16_t c) { return c == u'?' || ToAnsiChar(c) != '?'; }

size_t FindNonAnsiChar(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] >= 0x80 && !IsAnsiChar(s[i])) return i;
    return std::u16string_view::npos;
}

std::string ToAnsi(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s) out += ToAnsiChar(c);
    return out;
}

std::u16string FromAnsi(std::string_view s) { return FromAnsi(std::as_bytes(std::span(s.data(), s.size()))); }

std::u16string FromAnsi(std::span<const std::byte> s) {
    std::u16string out(s.size(), u'\0');
    for (size_t i = 0; i < s.size(); ++i) out[i] = kCp1252[static_cast<unsigned char>(s[i])];
    return out;
}

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    auto cont = [&](size_t k) { return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c = 0xFFFD;
        size_t n = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            c = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            n = 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            c = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            n = 3;
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            c = ((b & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            n = 4;
            if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += n;
    }
    return out;
}

}  // namespace ole

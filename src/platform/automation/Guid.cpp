#include "platform/automation/Guid.h"

#include <fstream>
#include <mutex>
#include <random>

#include "platform/automation/BStr.h"

namespace ole {

namespace {

bool FillRandom(uint8_t* out, size_t n) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    static std::ifstream urandom("/dev/urandom", std::ios::binary);
    if (urandom && urandom.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n))) return true;
    static std::random_device device;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t r = device();
        for (size_t k = 0; k < 4 && i + k < n; ++k) out[i + k] = static_cast<uint8_t>(r >> (8 * k));
    }
    return true;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool ReadHex(std::u16string_view s, size_t pos, int digits, uint64_t* out) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int h = HexValue(s[pos + i]);
        if (h < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(h);
    }
    *out = v;
    return true;
}

}  // namespace

HRESULT CoCreateGuid(GUID* pguid) {
    if (!pguid) return E_INVALIDARG;
    uint8_t b[16];
    FillRandom(b, sizeof b);
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    pguid->Data1 = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    pguid->Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
    pguid->Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i) pguid->Data4[i] = b[8 + i];
    return S_OK;
}

std::u16string GuidToString(const GUID& g) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string s;
    s.reserve(38);
    auto put = [&](uint64_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i) s += kHex[(v >> (4 * i)) & 0xF];
    };
    s += u'{';
    put(g.Data1, 8);
    s += u'-';
    put(g.Data2, 4);
    s += u'-';
    put(g.Data3, 4);
    s += u'-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    s += u'-';
    for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
    s += u'}';
    return s;
}

std::string GuidToUtf8(const GUID& g) { return ToUtf8(GuidToString(g)); }

bool TryParseGuid(std::u16string_view s, GUID* out) {
    if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
        s[24] != u'-')
        return false;
    uint64_t d1, d2, d3, d4a, d4b;
    if (!ReadHex(s, 1, 8, &d1) || !ReadHex(s, 10, 4, &d2) || !ReadHex(s, 15, 4, &d3) || !ReadHex(s, 20, 4, &d4a) ||
        !ReadHex(s, 25, 12, &d4b))
        return false;
    if (out) {
        out->Data1 = static_cast<uint32_t>(d1);
        out->Data2 = static_cast<uint16_t>(d2);
        out->Data3 = static_cast<uint16_t>(d3);
        out->Data4[0] = static_cast<uint8_t>(d4a >> 8);
        out->Data4[1] = static_cast<uint8_t>(d4a);
        for (int i = 0; i < 6; ++i) out->Data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
    }
    return true;
}

int StringFromGUID2(const GUID& rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39) return 0;
    std::u16string s = GuidToString(rguid);
    for (size_t i = 0; i < s.size(); ++i) lpsz[i] = s[i];
    lpsz[38] = 0;
    return 39;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    if (!lpiid) return E_INVALIDARG;
    GUID g;
    if (!lpsz || !TryParseGuid(std::u16string_view(lpsz, OleStrLen(lpsz)), &g)) return CO_E_IIDSTRING;
    *lpiid = g;
    return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (!pclsid) return E_INVALIDARG;
    GUID g;
    if (!lpsz || !TryParseGuid(std::u16string_view(lpsz, OleStrLen(lpsz)), &g)) return CO_E_CLASSSTRING;
    *pclsid = g;
    return S_OK;
}

}  // namespace ole

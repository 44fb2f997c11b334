#include "platform/automation/NameHash.h"

#include <array>

#include "platform/automation/BStr.h"

namespace ole {

namespace {

constexpr LCID kDefaultLcid = 0x409;

// Translation table of the English/Western group for the Windows code page:
// case folding, accent folding and the W->V, Y->U folds.
constexpr std::array<uint8_t, 256> MakeWesternTable() {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = static_cast<uint8_t>(b);
    for (int b = 'a'; b <= 'z'; ++b) t[b] = static_cast<uint8_t>(b - 'a' + 'A');
    t['/'] = 0;
    t['W'] = t['w'] = 'V';
    t['Y'] = t['y'] = 'U';
    for (int b : {0x80, 0x81, 0x88, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9E}) t[b] = 0x7F;
    t[0x83] = 'F';
    t[0x8A] = t[0x9A] = 'S';
    t[0x8C] = t[0x9C] = 0x8C;
    t[0x97] = 0x96;
    t[0x9F] = 'U';
    t[0xAA] = 'A';
    t[0xAD] = 0x96;
    t[0xB2] = '2';
    t[0xB3] = '3';
    t[0xB9] = '1';
    t[0xBA] = 'O';
    for (int b = 0xC0; b <= 0xC6; ++b) t[b] = t[b + 0x20] = 'A';
    t[0xC7] = t[0xE7] = 'C';
    for (int b = 0xC8; b <= 0xCB; ++b) t[b] = t[b + 0x20] = 'E';
    for (int b = 0xCC; b <= 0xCF; ++b) t[b] = t[b + 0x20] = 'I';
    t[0xD0] = t[0xF0] = 'D';
    t[0xD1] = t[0xF1] = 'N';
    for (int b = 0xD2; b <= 0xD6; ++b) t[b] = t[b + 0x20] = 'O';
    t[0xD8] = t[0xF8] = 'O';
    for (int b = 0xD9; b <= 0xDD; ++b) t[b] = t[b + 0x20] = 'U';
    t[0xFF] = 'U';
    t[0xFE] = 0xDE;
    return t;
}

constexpr std::array<uint8_t, 256> kWestern = MakeWesternTable();

uint32_t LocaleGroup(LCID lcid) {
    lcid &= 0xFFFF;
    if (lcid == 0 || lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT || (lcid >> 10) == 0)
        lcid = kDefaultLcid;
    switch (lcid & 0x3FF) {
        case 0x05:  // Czech
        case 0x0A:  // Spanish
        case 0x0E:  // Hungarian
        case 0x15:  // Polish
        case 0x1B:  // Slovak
            return 0x20;
        case 0x0D: return 0x30;  // Hebrew
        case 0x11: return 0x40;  // Japanese
        case 0x12: return 0x50;  // Korean
        case 0x04: return 0x70;  // Chinese
        case 0x08: return 0x80;  // Greek
        case 0x0F: return 0x90;  // Icelandic
        case 0x1F: return 0xA0;  // Turkish
        case 0x14: return (lcid >> 10) == 2 ? 0xB0 : 0x10;  // Norwegian: Nynorsk / Bokmal
        case 0x01:  // Arabic
        case 0x29:  // Farsi
            return 0xD0;
        case 0x19: return 0xE0;  // Russian
        default: return 0x10;
    }
}

constexpr uint32_t kSeed = 0x0DEADBEE;

ULONG Finish(SYSKIND syskind, LCID lcid, uint32_t acc) {
    uint32_t low = (acc % 65599u) & 0xFFFFu;
    uint32_t high = LocaleGroup(lcid) | (syskind == SYS_MAC ? 1u : 0u);
    return (high << 16) | low;
}

}  // namespace

ULONG LHashValOfNameSysA(SYSKIND syskind, LCID lcid, const char* szName) {
    if (!szName) return 0;
    uint32_t acc = kSeed;
    for (const char* p = szName; *p; ++p) acc = acc * 37u + kWestern[static_cast<uint8_t>(*p)];
    return Finish(syskind, lcid, acc);
}

ULONG LHashValOfNameSys(SYSKIND syskind, LCID lcid, const OLECHAR* szName) {
    if (!szName) return 0;
    // The name is hashed in the ANSI code page.
    uint32_t acc = kSeed;
    for (const OLECHAR* p = szName; *p; ++p) acc = acc * 37u + kWestern[static_cast<uint8_t>(ToAnsiChar(*p))];
    return Finish(syskind, lcid, acc);
}

ULONG LHashValOfName(LCID lcid, const OLECHAR* szName) { return LHashValOfNameSys(SYS_WIN32, lcid, szName); }

LCID GetUserDefaultLCID() { return kDefaultLcid; }
LCID GetSystemDefaultLCID() { return kDefaultLcid; }

}  // namespace ole

// The platform's name hash, used by type library name tables and lookups.
#pragma once

#include "platform/automation/OleTypes.h"

namespace ole {

enum SYSKIND : int32_t {
    SYS_WIN16 = 0,
    SYS_WIN32 = 1,
    SYS_MAC = 2,
    SYS_WIN64 = 3,
};

// Hash of a name for the given platform and locale. The high word identifies
// the locale group (0x0010 for English and Western languages; +1 for SYS_MAC),
// the low word is the hash proper. A null name gives 0.
ULONG LHashValOfNameSys(SYSKIND syskind, LCID lcid, const OLECHAR* szName);
// Same on bytes already in the ANSI code page (Windows-1252 for group 0x10).
ULONG LHashValOfNameSysA(SYSKIND syskind, LCID lcid, const char* szName);
// SYS_WIN32.
ULONG LHashValOfName(LCID lcid, const OLECHAR* szName);

inline constexpr WORD WHashValOfLHashVal(ULONG lhashval) noexcept { return static_cast<WORD>(lhashval & 0xFFFF); }
inline constexpr bool IsHashValCompatible(ULONG a, ULONG b) noexcept { return ((a ^ b) & 0x00FF0000u) == 0; }

// The user's default locale: en-US.
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

}  // namespace ole

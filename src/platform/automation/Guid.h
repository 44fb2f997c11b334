// GUID generation and the 38-character registry text form.
#pragma once

#include <string>
#include <string_view>

#include "platform/automation/OleTypes.h"

namespace ole {

// A random (version 4) GUID.
HRESULT CoCreateGuid(GUID* pguid);

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hex) and a NUL.
// Returns the number of characters written including the NUL (39), or 0 when
// cchMax is too small.
int StringFromGUID2(const GUID& rguid, LPOLESTR lpsz, int cchMax);

// Accept only the registry form with braces (hex in either case); anything
// else, including null or empty text, fails with CO_E_IIDSTRING.
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
// Same form; failure gives CO_E_CLASSSTRING.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);

inline bool IsEqualGUID(const GUID& a, const GUID& b) noexcept { return a == b; }
inline bool IsEqualIID(const IID& a, const IID& b) noexcept { return a == b; }
inline bool IsEqualCLSID(const CLSID& a, const CLSID& b) noexcept { return a == b; }

std::u16string GuidToString(const GUID& g);
std::string GuidToUtf8(const GUID& g);
bool TryParseGuid(std::u16string_view text, GUID* out);

}  // namespace ole

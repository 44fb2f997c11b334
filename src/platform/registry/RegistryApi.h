// The platform's registry read functions over the read-only registry.
// Text is UTF-8. Keys opened here keep the registry they were opened in alive
// until they are closed, even when the default registry is replaced.
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation/OleTypes.h"

namespace reg {

using ole::DWORD;
using ole::LONG;

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(uintptr_t{0x80000003});

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;

// Opens a subkey ("\"-separated, case-insensitive; null or "" opens the key
// again) of an open key or a predefined root. Access rights are not checked:
// the registry can only be read.
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult);

// The name of subkey dwIndex (stable order). *lpcchName holds the buffer size
// in characters including the NUL; on success the name length without it.
// ERROR_MORE_DATA when the buffer is too small, ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                   DWORD* lpcchClass, FILETIME* lpftLastWriteTime);

// Counts and sizes of a key; any out-argument may be null. Class names are empty.
LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen, DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                      DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime);

// The default value of a subkey (or of the key for null or ""), as text with
// its NUL. A key without a default value gives "". With a null lpData, or a
// buffer too small (ERROR_MORE_DATA), *lpcbData receives the size needed.
LONG RegQueryValueA(HKEY hKey, const char* lpSubKey, char* lpData, LONG* lpcbData);

LONG RegCloseKey(HKEY hKey);

// Not a platform function: the default value of a subkey as a local file path
// (Registry::mapPath), for values that name files.
LONG RegQueryPathValue(HKEY hKey, const char* lpSubKey, std::string* path);

}  // namespace reg

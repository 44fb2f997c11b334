#include "platform/registry/RegistryApi.h"

#include <cstring>
#include <memory>

#include "platform/registry/Registry.h"

namespace reg {

// An open key: the key and the registry that holds it.
struct HKEY__ {
    std::shared_ptr<const Registry> registry;
    const Key* key = nullptr;
};

namespace {

bool IsPredefined(HKEY h) {
    return h == HKEY_CLASSES_ROOT || h == HKEY_CURRENT_USER || h == HKEY_LOCAL_MACHINE || h == HKEY_USERS;
}

// The registry and key a handle stands for; false for an invalid handle.
bool Resolve(HKEY h, std::shared_ptr<const Registry>& registry, const Key*& key) {
    if (!h) return false;
    if (IsPredefined(h)) {
        registry = DefaultRegistry();
        if (h == HKEY_CLASSES_ROOT) key = &registry->classesRoot();
        else if (h == HKEY_CURRENT_USER) key = &registry->root(Hive::CurrentUser);
        else if (h == HKEY_LOCAL_MACHINE) key = &registry->root(Hive::LocalMachine);
        else key = &registry->root(Hive::Users);
        return true;
    }
    registry = h->registry;
    key = h->key;
    return key != nullptr;
}

const Value* DefaultOf(HKEY hKey, const char* lpSubKey, std::shared_ptr<const Registry>& registry, LONG& rc) {
    const Key* key = nullptr;
    rc = ERROR_INVALID_HANDLE;
    if (!Resolve(hKey, registry, key)) return nullptr;
    if (lpSubKey) key = key->open(lpSubKey);
    rc = key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    return key ? key->defaultValue() : nullptr;
}

DWORD Clamp(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(n); }

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM, HKEY* phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::shared_ptr<const Registry> registry;
    const Key* key = nullptr;
    if (!Resolve(hKey, registry, key)) return ERROR_INVALID_HANDLE;
    if (lpSubKey) key = key->open(lpSubKey);
    if (!key) return ERROR_FILE_NOT_FOUND;
    *phkResult = new HKEY__{std::move(registry), key};
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char* lpClass,
                   DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    std::shared_ptr<const Registry> registry;
    const Key* key = nullptr;
    if (!Resolve(hKey, registry, key)) return ERROR_INVALID_HANDLE;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    const Key* sub = key->subkey(dwIndex);
    if (!sub) return ERROR_NO_MORE_ITEMS;
    const std::string& name = sub->name();
    if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = Clamp(name.size());
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD*, DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen,
                      DWORD* lpcbMaxClassLen, DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                      DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
    std::shared_ptr<const Registry> registry;
    const Key* key = nullptr;
    if (!Resolve(hKey, registry, key)) return ERROR_INVALID_HANDLE;
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = Clamp(key->subkeyCount());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = Clamp(key->longestSubkeyName());
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = Clamp(key->valueCount());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = Clamp(key->longestValueName());
    if (lpcbMaxValueLen) *lpcbMaxValueLen = Clamp(key->longestValueData());
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LONG RegQueryValueA(HKEY hKey, const char* lpSubKey, char* lpData, LONG* lpcbData) {
    std::shared_ptr<const Registry> registry;
    LONG rc;
    const Value* value = DefaultOf(hKey, lpSubKey, registry, rc);
    if (rc != ERROR_SUCCESS) return rc;
    if (value && !value->isString()) return ERROR_INVALID_DATA;
    std::string_view text = value ? std::string_view(value->data) : std::string_view();
    size_t needed = text.size() + 1;
    if (!lpcbData) return lpData ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (needed > 0x7FFFFFFF) return ERROR_INVALID_DATA;
    if (lpData) {
        if (*lpcbData < 0 || static_cast<size_t>(*lpcbData) < needed) {
            *lpcbData = static_cast<LONG>(needed);
            return ERROR_MORE_DATA;
        }
        if (!text.empty()) std::memcpy(lpData, text.data(), text.size());
        lpData[text.size()] = '\0';
    }
    *lpcbData = static_cast<LONG>(needed);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (!hKey) return ERROR_INVALID_HANDLE;
    if (IsPredefined(hKey)) return ERROR_SUCCESS;
    delete hKey;
    return ERROR_SUCCESS;
}

LONG RegQueryPathValue(HKEY hKey, const char* lpSubKey, std::string* path) {
    if (!path) return ERROR_INVALID_PARAMETER;
    path->clear();
    std::shared_ptr<const Registry> registry;
    LONG rc;
    const Value* value = DefaultOf(hKey, lpSubKey, registry, rc);
    if (rc != ERROR_SUCCESS) return rc;
    if (!value) return ERROR_SUCCESS;
    if (!value->isString()) return ERROR_INVALID_DATA;
    *path = registry->mapPath(*value);
    return ERROR_SUCCESS;
}

}  // namespace reg

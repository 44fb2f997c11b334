#include "platform/registry/RegTypeLib.h"

#include <optional>

#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/registry/Registry.h"

namespace reg {

using namespace ole;

namespace {

std::optional<uint32_t> ParseHex(std::string_view s, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        int d = (c >= '0' && c <= '9') ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    return v;
}

const Key* FindVersion(const Key& guidKey, WORD major, WORD minor) {
    const Key* best = nullptr;
    uint32_t bestMinor = 0;
    for (size_t i = 0; i < guidKey.subkeyCount(); ++i) {
        const Key* k = guidKey.subkey(i);
        WORD maj = 0, min = 0;
        if (!ParseVersionKey(k->name(), &maj, &min) || maj != major) continue;
        if (min == minor) return k;
        if (min > minor && (!best || min > bestMinor)) {
            best = k;
            bestMinor = min;
        }
    }
    return best;
}

const Key* FindLcid(const Key& versionKey, LCID lcid) {
    for (size_t i = 0; i < versionKey.subkeyCount(); ++i) {
        const Key* k = versionKey.subkey(i);
        if (LCID v = 0; ParseLcidKey(k->name(), &v) && v == lcid) return k;
    }
    return nullptr;
}

}  // namespace

bool ParseVersionKey(std::string_view name, WORD* major, WORD* minor) {
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos) return false;
    auto maj = ParseHex(name.substr(0, dot), 4);
    auto min = ParseHex(name.substr(dot + 1), 4);
    if (!maj || !min) return false;
    *major = static_cast<WORD>(*maj);
    *minor = static_cast<WORD>(*min);
    return true;
}

bool ParseLcidKey(std::string_view name, LCID* lcid) {
    auto v = ParseHex(name, 8);
    if (!v) return false;
    *lcid = *v;
    return true;
}

HRESULT FindRegisteredTypeLib(const Registry& registry, const GUID& guid, WORD major, WORD minor, LCID lcid,
                              std::string* path) {
    if (!path) return E_INVALIDARG;
    path->clear();
    const Key* typelibs = registry.classesRoot().findSubkey("TypeLib");
    const Key* guidKey = typelibs ? typelibs->findSubkey(GuidToUtf8(guid)) : nullptr;
    const Key* version = guidKey ? FindVersion(*guidKey, major, minor) : nullptr;
    if (!version) return TYPE_E_LIBNOTREGISTERED;

    const LCID tries[] = {lcid, lcid & 0x3FF, 0};
    for (LCID candidate : tries) {
        const Key* lcidKey = FindLcid(*version, candidate);
        if (!lcidKey) continue;
        for (const char* platform : {"win32", "win16", "win64"}) {
            const Key* k = lcidKey->findSubkey(platform);
            const Value* v = k ? k->defaultValue() : nullptr;
            if (!v || !v->isString() || v->data.empty()) continue;
            *path = registry.mapPath(*v);
            return S_OK;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT ResolveRegisteredImport(const GUID& lib, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
    return LoadRegTypeLib(lib, major, minor, lcid, out);
}

namespace {

// Imported references resolve through the registry until the file layer
// installs its own resolver.
const bool g_resolverInstalled = [] {
    SetImportResolver(&ResolveRegisteredImport);
    return true;
}();

}  // namespace

}  // namespace reg

namespace ole {

HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    std::string path;
    HRESULT hr = reg::FindRegisteredTypeLib(*reg::DefaultRegistry(), guid, wMaj, wMin, lcid, &path);
    if (FAILED(hr)) return hr;
    *lpbstrPathName = SysAllocString(FromUtf8(path));
    return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    BStr path;
    HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, path.put());
    if (FAILED(hr)) return hr;
    return LoadTypeLibEx(path.get(), REGKIND_NONE, pptlib);
}

}  // namespace ole

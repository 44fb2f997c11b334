#include "platform/registry/ComActivation.h"

#include <dlfcn.h>

#include <mutex>
#include <unordered_map>

#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/registry/Registry.h"

namespace ole {

namespace {

thread_local std::u16string t_lastError;

HRESULT Fail(HRESULT hr, const std::string& description) {
    t_lastError = FromUtf8(description);
    return hr;
}

HRESULT Succeed(HRESULT hr) {
    t_lastError.clear();
    return hr;
}

constexpr DWORD kModuleNotFound = 126;
constexpr DWORD kProcedureNotFound = 127;

using DllGetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);

// Shared objects loaded for registered classes, by path; never unloaded.
std::mutex g_modulesMutex;
std::unordered_map<std::string, void*> g_modules;

HRESULT LoadModule(const std::string& path, void** module) {
    std::lock_guard lock(g_modulesMutex);
    if (auto it = g_modules.find(path); it != g_modules.end()) {
        *module = it->second;
        return S_OK;
    }
    // A name without "/" would be searched for on the library path.
    std::string byPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(byPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return Fail(HRESULT_FROM_WIN32(kModuleNotFound), why ? why : path + ": cannot be loaded");
    }
    g_modules.emplace(path, handle);
    *module = handle;
    return S_OK;
}

}  // namespace

std::u16string GetLastActivationError() { return t_lastError; }

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
    if (!lpszProgID || !lpclsid) return Fail(E_INVALIDARG, "No ProgID given.");
    *lpclsid = GUID_NULL;
    std::string progId = ToUtf8(std::u16string_view(lpszProgID, OleStrLen(lpszProgID)));
    auto registry = reg::DefaultRegistry();
    const reg::Key* key = progId.empty() || progId.find('\\') != std::string::npos
                              ? nullptr
                              : registry->classesRoot().open(progId + "\\CLSID");
    const reg::Value* value = key ? key->defaultValue() : nullptr;
    if (!value || !value->isString())
        return Fail(CO_E_CLASSSTRING, "The ProgID \"" + progId + "\" is not registered.");
    if (FAILED(CLSIDFromString(FromUtf8(value->data).c_str(), lpclsid)))
        return Fail(CO_E_CLASSSTRING,
                    "The ProgID \"" + progId + "\" is registered with an invalid class ID \"" + value->data + "\".");
    return Succeed(S_OK);
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
    if (!ppv) return Fail(E_POINTER, "No place for the class object.");
    *ppv = nullptr;
    std::string clsid = GuidToUtf8(rclsid);
    auto registry = reg::DefaultRegistry();
    const reg::Key* classKey = registry->classesRoot().open("CLSID\\" + clsid);
    if (!classKey) return Fail(REGDB_E_CLASSNOTREG, "The class " + clsid + " is not registered.");

    const reg::Key* inproc = classKey->findSubkey("InprocServer32");
    const reg::Value* server = inproc ? inproc->defaultValue() : nullptr;
    if (!server || !server->isString() || server->data.empty() || !(dwClsContext & CLSCTX_INPROC_SERVER)) {
        bool outOfProcess = classKey->findSubkey("LocalServer32") || classKey->findSubkey("LocalServer") ||
                            classKey->findValue("AppID");
        if (outOfProcess)
            return Fail(REGDB_E_CLASSNOTREG, "The class " + clsid +
                                                 " is registered only as an out-of-process server, "
                                                 "which cannot be started here.");
        if (!(dwClsContext & CLSCTX_INPROC_SERVER))
            return Fail(REGDB_E_CLASSNOTREG, "The class " + clsid + " is not available in the requested context.");
        return Fail(REGDB_E_CLASSNOTREG, "The class " + clsid + " has no in-process server registered.");
    }

    std::string path = registry->mapPath(*server);
    void* module = nullptr;
    if (HRESULT hr = LoadModule(path, &module); FAILED(hr)) return hr;
    auto entry = reinterpret_cast<DllGetClassObjectFn>(dlsym(module, "DllGetClassObject"));
    if (!entry) {
        const char* why = dlerror();
        return Fail(HRESULT_FROM_WIN32(kProcedureNotFound),
                    why ? why : path + ": \"DllGetClassObject\" is missing");
    }
    HRESULT hr = entry(rclsid, riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        return Fail(hr, path + " does not provide the class " + clsid + ".");
    }
    return Succeed(hr);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
    if (!ppv) return Fail(E_POINTER, "No place for the object.");
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IClassFactory::kIID, factory.put_void());
    if (FAILED(hr)) return hr;
    if (!factory) return Fail(E_UNEXPECTED, "The class factory of " + GuidToUtf8(rclsid) + " is missing.");
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        return Fail(hr, "The class " + GuidToUtf8(rclsid) + " could not create the object.");
    }
    return Succeed(hr);
}

}  // namespace ole

#include "foundation/modCOMDllLoader.h"

#include <dlfcn.h>

#include <string>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "platform/automation/BStr.h"

namespace zephrin::modCOMDllLoader {

namespace {

constexpr ole::DWORD kModuleNotFound = 126;
constexpr ole::DWORD kProcedureNotFound = 127;

using DllGetClassObjectFn = ole::HRESULT (*)(const ole::CLSID&, const ole::IID&, void**);
using DllCanUnloadNowFn = ole::HRESULT (*)();

[[noreturn]] void RaiseLoaderError(ole::DWORD code, const std::string& fallback) {
    const char* why = dlerror();
    RaiseError(ole::HRESULT_FROM_WIN32(code), ole::FromUtf8(why ? why : fallback));
}

void* EntryPoint(ModuleHandle module, const char* name) {
    dlerror();  // clear an earlier message
    void* entry = dlsym(module, name);
    if (!entry) RaiseLoaderError(kProcedureNotFound, std::string("\"") + name + "\" is missing");
    return entry;
}

// Calls into the loaded object. An exception it raises is copied into an
// error record of this program's own and destroyed before the call returns:
// the exception's code and type live in the object, which may be unloaded
// while the error is still travelling.
template <class Call>
auto CallIntoModule(Call&& call) -> decltype(call()) {
    ErrorRecord error;
    try {
        return call();
    } catch (...) {
        error = CurrentErrorRecord();
    }
    throw error;
}

}  // namespace

ole::ComPtr<ole::IClassFactory> GetDllClassObject(std::u16string_view path, const ole::CLSID& clsid,
                                                  ModuleHandle& module) {
    // A shared object loaded here is unloaded again when the class can't be had.
    ScopeGuard rollback;
    if (!module) {
        std::string file = ole::ToUtf8(path);
        // A name without "/" would be searched for on the library path: it is a path here.
        if (file.find('/') == std::string::npos) file.insert(0, "./");
        dlerror();
        ModuleHandle loaded = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!loaded) RaiseLoaderError(kModuleNotFound, file + ": cannot be loaded");
        module = loaded;
        rollback.OnFailure([&module] {
            dlclose(module);
            module = nullptr;
        });
    }
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(EntryPoint(module, "DllGetClassObject"));
    ole::ComPtr<ole::IClassFactory> factory;
    CheckHr(CallIntoModule([&] { return getClassObject(clsid, ole::IClassFactory::kIID, factory.put_void()); }));
    if (!factory) RaiseError(ole::E_NOINTERFACE);
    rollback.Dismiss();
    return factory;
}

void UnloadDllIfUnused(ModuleHandle& module) {
    if (!module) return;
    auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(EntryPoint(module, "DllCanUnloadNow"));
    if (CallIntoModule(canUnloadNow) == ole::S_OK) {
        dlclose(module);
        module = nullptr;
    }
}

}  // namespace zephrin::modCOMDllLoader

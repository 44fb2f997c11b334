// Making the help-data provider that /modifyhelp names.
#include "app/modCorvaneExe.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modLookupCLSID.h"
#include "platform/automation/Guid.h"
#include "platform/registry/ComActivation.h"

namespace zephrin::modCorvaneExe {

namespace {

constexpr ole::DWORD kProviderContext = ole::CLSCTX_INPROC_SERVER | ole::CLSCTX_LOCAL_SERVER;

std::u16string_view Trimmed(std::u16string_view text) {
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

ole::CLSID ClassId(std::u16string_view text) {
    const std::u16string s(text);
    ole::CLSID clsid{};
    CheckHr(ole::IIDFromString(s.c_str(), &clsid), s);
    return clsid;
}

// Fails with the activation's own reason as description.
void CheckActivation(ole::HRESULT hr, std::u16string_view what) {
    if (ole::FAILED(hr)) RaiseError(hr, ole::GetLastActivationError(), std::u16string(what));
}

ole::ComPtr<ole::IUnknown> CreateRegistered(const ole::CLSID& clsid) {
    ole::ComPtr<ole::IUnknown> object;
    CheckActivation(ole::CoCreateInstance(clsid, nullptr, kProviderContext, ole::IUnknown::kIID, object.put_void()), {});
    return object;
}

}  // namespace

ole::ComPtr<IModifyHelpData> CreateHelpDataProvider(std::u16string_view text, modCOMDllLoader::ModuleHandle& module,
                                                    ErrorRecord* failure) {
    ErrorRecord error;
    try {
        ole::ComPtr<ole::IUnknown> object;
        if (!text.empty() && text.front() == u'{') {
            object = CreateRegistered(ClassId(text));
        } else if (const size_t comma = text.find(u','); comma != std::u16string_view::npos) {
            const std::u16string_view dll = Trimmed(text.substr(0, comma));
            const std::u16string_view name = Trimmed(text.substr(comma + 1));
            ole::CLSID clsid{};
            if (!name.empty() && name.front() == u'{')
                clsid = ClassId(name);
            else
                modLookupCLSID::LookupCLSIDInDll(clsid, dll, name);
            const ole::ComPtr<ole::IClassFactory> factory = modCOMDllLoader::GetDllClassObject(dll, clsid, module);
            CheckHr(factory->CreateInstance(nullptr, ole::IUnknown::kIID, object.put_void()), u"CreateInstance");
        } else {
            const std::u16string progId(text);
            ole::CLSID clsid{};
            CheckActivation(ole::CLSIDFromProgID(progId.c_str(), &clsid), progId);
            object = CreateRegistered(clsid);
        }
        ole::ComPtr<IModifyHelpData> provider;
        // Asked directly: the provider's QueryInterface may throw.
        CheckHr(object->QueryInterface(IModifyHelpData::kIID, provider.put_void()), u"IModifyHelpData");
        return provider;
    } catch (...) {
        // The exception may be the provider's own, whose code lives in the
        // shared object: only a copy of it outlives this handler.
        error = CurrentErrorRecord();
    }
    if (failure) *failure = error;
    // The objects made above and the exception are gone by now; the shared object may go too.
    try {
        modCOMDllLoader::UnloadDllIfUnused(module);
    } catch (...) {
    }
    return nullptr;
}

}  // namespace zephrin::modCorvaneExe

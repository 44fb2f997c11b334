// The application object: one per process, made on first use.
#include "platform/tlbinf/TliSupport.h"

namespace tli {
namespace {

using detail::ComPtr;
using detail::Start;

class TliApplicationObject final : public ole::RefCounted<TLIApplication> {
public:
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<TLIApplication>(this, riid, ppv);
    }
    HRESULT get_ResolveAliases(bool* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = false;
        return ole::S_OK;
    }
    HRESULT put_ResolveAliases(bool value) override { return value ? ole::E_NOTIMPL : ole::S_OK; }

    HRESULT TypeLibInfoFromFile(std::u16string_view path, TypeLibInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        const std::u16string file(path);
        ComPtr<ole::ITypeLib> lib;
        HRESULT hr = ole::LoadTypeLibEx(file.c_str(), ole::REGKIND_NONE, lib.put());
        if (FAILED(hr)) return hr;
        if (!lib) return ole::E_UNEXPECTED;
        return detail::NewTypeLibInfo(lib.get(), out);
    }
    HRESULT TypeLibInfoFromITypeLib(ole::ITypeLib* lib, TypeLibInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return detail::NewTypeLibInfo(lib, out);
    }
    HRESULT TypeInfoFromITypeInfo(ole::ITypeInfo* type, TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!type) return ole::E_INVALIDARG;
        return detail::NewTypeInfo(type, out);
    }
};

}  // namespace

HRESULT GetTLIApplication(TLIApplication** out) {
    if (HRESULT hr = Start(out); FAILED(hr)) return hr;
    static const ComPtr<TLIApplication> app(new TliApplicationObject());
    return app.CopyTo(out);
}

}  // namespace tli

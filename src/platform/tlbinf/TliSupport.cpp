#include "platform/tlbinf/TliSupport.h"

namespace tli::detail {

std::u16string FoldName(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 32);
    }
    return key;
}

std::u16string TakeBstr(ole::BSTR b) {
    std::u16string s(ole::BstrView(b));
    ole::SysFreeString(b);
    return s;
}

TypeSnapshot::~TypeSnapshot() {
    for (ole::VARDESC* v : vars) ti->ReleaseVarDesc(v);
    for (ole::FUNCDESC* f : funcs) ti->ReleaseFuncDesc(f);
}

HRESULT TypeSnapshot::Take(ole::ITypeInfo* type, std::shared_ptr<const TypeSnapshot>* out) {
    out->reset();
    if (!type) return ole::E_INVALIDARG;
    auto snap = std::make_shared<TypeSnapshot>();
    snap->ti = ComPtr<ole::ITypeInfo>(type);
    (void)snap->ti.As(&snap->ti2);
    ole::TYPEATTR* attr = nullptr;
    HRESULT hr = type->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    if (!attr) return ole::E_UNEXPECTED;
    snap->kind = attr->typekind;
    const unsigned cVars = attr->cVars, cFuncs = attr->cFuncs;
    type->ReleaseTypeAttr(attr);
    snap->vars.reserve(cVars);
    snap->funcs.reserve(cFuncs);
    for (unsigned i = 0; i < cVars; ++i) {
        ole::VARDESC* v = nullptr;
        hr = type->GetVarDesc(i, &v);
        if (FAILED(hr)) return hr;
        if (!v) return ole::E_UNEXPECTED;
        snap->vars.push_back(v);
    }
    for (unsigned i = 0; i < cFuncs; ++i) {
        ole::FUNCDESC* f = nullptr;
        hr = type->GetFuncDesc(i, &f);
        if (FAILED(hr)) return hr;
        if (!f) return ole::E_UNEXPECTED;
        snap->funcs.push_back(f);
    }
    *out = std::move(snap);
    return S_OK;
}

}  // namespace tli::detail

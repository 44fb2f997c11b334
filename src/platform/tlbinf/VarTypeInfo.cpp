// VarTypeInfo over a platform TYPEDESC chain.
#include "platform/tlbinf/TliSupport.h"

namespace tli::detail {
namespace {

using ole::ITypeInfo;
using ole::ITypeLib;

// What a TYPEDESC chain describes: pointer levels, at most one array level,
// then an intrinsic or user-defined base type.
struct ParsedType {
    VARTYPE base = 0;        // intrinsic VARTYPE; 0 for a user-defined type
    VARTYPE arrayKind = 0;   // 0, VTI_FIXEDARRAY or VTI_SAFEARRAY
    SHORT arrayPointers = 0; // pointer levels above the array
    SHORT pointers = 0;      // pointer levels of the element (of the type when no array)
    bool userDefined = false;
    ole::HREFTYPE href = 0;
    std::vector<ArrayBound> bounds;
};

constexpr int kMaxChain = 64;

HRESULT Parse(const ole::TYPEDESC& top, ParsedType* out) {
    const ole::TYPEDESC* td = &top;
    SHORT count = 0;
    for (int depth = 0;; ++depth) {
        if (!td || depth > kMaxChain) return ole::E_INVALIDARG;
        switch (td->vt) {
        case ole::VT_PTR:
            ++count;
            td = td->lptdesc;
            continue;
        case ole::VT_SAFEARRAY:
            out->arrayKind = VTI_SAFEARRAY;
            out->arrayPointers = count;
            out->bounds.clear();
            count = 0;
            td = td->lptdesc;
            continue;
        case ole::VT_CARRAY: {
            const ole::ARRAYDESC* ad = td->lpadesc;
            if (!ad) return ole::E_INVALIDARG;
            out->arrayKind = VTI_FIXEDARRAY;
            out->arrayPointers = count;
            count = 0;
            out->bounds.clear();
            out->bounds.reserve(ad->cDims);
            for (ole::USHORT i = 0; i < ad->cDims; ++i) {
                const ole::SAFEARRAYBOUND& b = ad->rgbounds[i];
                const int64_t upper = int64_t{b.lLbound} + int64_t{b.cElements} - 1;
                out->bounds.push_back({b.lLbound, static_cast<LONG>(upper)});
            }
            td = &ad->tdescElem;
            continue;
        }
        case ole::VT_USERDEFINED:
            out->userDefined = true;
            out->href = td->hreftype;
            out->base = 0;
            break;
        default:
            out->base = td->vt;
            break;
        }
        break;
    }
    out->pointers = count;
    return S_OK;
}

HRESULT ContainingLib(ITypeInfo* ti, ComPtr<ITypeLib>* out) {
    ole::UINT index = 0;
    HRESULT hr = ti->GetContainingTypeLib(out->put(), &index);
    if (SUCCEEDED(hr) && !*out) hr = ole::E_UNEXPECTED;
    return hr;
}

class VarTypeInfoObject final : public ole::RefCounted<VarTypeInfo> {
public:
    VarTypeInfoObject(ParsedType parsed, ITypeInfo* owner) : t_(std::move(parsed)), owner_(owner) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<VarTypeInfo>(this, riid, ppv);
    }
    HRESULT get_Me(VarTypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = this;
        AddRef();
        return S_OK;
    }
    HRESULT get_TypeInfo(TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!t_.userDefined) return S_OK;
        if (HRESULT hr = Resolve(); FAILED(hr)) return hr;
        return type_.CopyTo(out);
    }
    HRESULT get_TypeInfoNumber(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = -1;
        if (!t_.userDefined) return S_OK;
        if (HRESULT hr = Resolve(); FAILED(hr)) return hr;
        return type_->get_TypeInfoNumber(out);
    }
    HRESULT get_TypedVariant(VARIANT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return ole::E_NOTIMPL;
    }
    HRESULT get_IsExternalType(bool* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ComPtr<ITypeLib> lib;
        HRESULT hr = ExternalLib(&lib);
        if (SUCCEEDED(hr)) *out = lib != nullptr;
        return hr;
    }
    HRESULT get_TypeLibInfoExternal(TypeLibInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ComPtr<ITypeLib> lib;
        HRESULT hr = ExternalLib(&lib);
        if (FAILED(hr) || !lib) return hr;
        return NewTypeLibInfo(lib.get(), out);
    }
    HRESULT get_PointerLevel(SHORT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = t_.arrayKind ? t_.arrayPointers : t_.pointers;
        return S_OK;
    }
    HRESULT get_VarType(VARTYPE* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = static_cast<VARTYPE>(t_.base | t_.arrayKind);
        return S_OK;
    }
    HRESULT ArrayBounds(std::vector<ArrayBound>* bounds, SHORT* dims) override {
        if (!bounds || !dims) return E_POINTER;
        bounds->clear();
        *dims = 0;
        if (t_.arrayKind == 0) return TLI_E_NOTANARRAY;
        if (t_.arrayKind == VTI_SAFEARRAY || t_.bounds.empty()) return TLI_E_NOARRAYBOUNDS;
        *bounds = t_.bounds;
        *dims = static_cast<SHORT>(t_.bounds.size());
        return S_OK;
    }
    HRESULT get_ElementPointerLevel(SHORT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (t_.arrayKind == 0) return TLI_E_NOTANARRAY;
        *out = t_.pointers;
        return S_OK;
    }

private:
    // The referenced type, resolved once.
    HRESULT Resolve() {
        if (type_) return S_OK;
        ComPtr<ITypeInfo> ref;
        HRESULT hr = owner_->GetRefTypeInfo(t_.href, ref.put());
        if (FAILED(hr)) return hr;
        if (!ref) return ole::E_UNEXPECTED;
        hr = NewTypeInfo(ref.get(), type_.put());
        if (SUCCEEDED(hr)) ref_ = std::move(ref);
        return hr;
    }
    // The referenced type's library when it differs from the owner's; null otherwise.
    HRESULT ExternalLib(ComPtr<ITypeLib>* out) {
        if (!t_.userDefined) return S_OK;
        if (HRESULT hr = Resolve(); FAILED(hr)) return hr;
        ComPtr<ITypeLib> home, theirs;
        if (HRESULT hr = ContainingLib(owner_.get(), &home); FAILED(hr)) return hr;
        if (HRESULT hr = ContainingLib(ref_.get(), &theirs); FAILED(hr)) return hr;
        if (home.get() != theirs.get()) *out = std::move(theirs);
        return S_OK;
    }

    ParsedType t_;
    ComPtr<ITypeInfo> owner_;
    ComPtr<ITypeInfo> ref_;
    ComPtr<TypeInfo> type_;
};

}  // namespace

HRESULT NewVarTypeInfo(const ole::TYPEDESC& desc, ole::ITypeInfo* owner, VarTypeInfo** out) {
    if (!owner) return ole::E_INVALIDARG;
    ParsedType parsed;
    if (HRESULT hr = Parse(desc, &parsed); FAILED(hr)) return hr;
    return GiveOut(ComPtr<VarTypeInfo>(new VarTypeInfoObject(std::move(parsed), owner)), out);
}

}  // namespace tli::detail

namespace tli {

HRESULT CreateVarTypeInfo(const ole::TYPEDESC& desc, ole::ITypeInfo* owner, VarTypeInfo** out) {
    if (HRESULT hr = detail::Start(out); FAILED(hr)) return hr;
    return detail::NewVarTypeInfo(desc, owner, out);
}

}  // namespace tli

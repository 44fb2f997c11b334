// TypeInfo: a view of one ITypeInfo, and its implemented-interface collection.
#include "platform/automation/Guid.h"
#include "platform/tlbinf/TliSupport.h"

namespace tli::detail {
namespace {

using ole::ITypeInfo;
using ole::ITypeLib;

// Reads the type's TYPEATTR and hands it to f; the attribute block is released afterwards.
template <class F>
HRESULT WithTypeAttr(ITypeInfo* ti, F&& f) {
    ole::TYPEATTR* attr = nullptr;
    HRESULT hr = ti->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    if (!attr) return ole::E_UNEXPECTED;
    hr = f(*attr);
    ti->ReleaseTypeAttr(attr);
    return hr;
}

class ImpliedInterfacesObject final : public ole::RefCounted<ImpliedInterfaces> {
public:
    explicit ImpliedInterfacesObject(ITypeInfo* ti) : ti_(ti) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<ImpliedInterfaces>(this, riid, ppv);
    }
    HRESULT get_Count(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            *out = a.cImplTypes;
            return S_OK;
        });
    }
    HRESULT get_Item(LONG index, TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (index < 1) return ole::TYPE_E_ELEMENTNOTFOUND;
        ole::HREFTYPE href = 0;
        HRESULT hr = ti_->GetRefTypeOfImplType(static_cast<ole::UINT>(index - 1), &href);
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> ref;
        hr = ti_->GetRefTypeInfo(href, ref.put());
        if (FAILED(hr)) return hr;
        if (!ref) return ole::E_UNEXPECTED;
        return NewTypeInfo(ref.get(), out);
    }
    HRESULT get_Flags(LONG index, LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (index < 1) return ole::TYPE_E_ELEMENTNOTFOUND;
        ole::INT flags = 0;
        HRESULT hr = ti_->GetImplTypeFlags(static_cast<ole::UINT>(index - 1), &flags);
        if (SUCCEEDED(hr)) *out = flags;
        return hr;
    }

private:
    ComPtr<ITypeInfo> ti_;
};

class TypeInfoObject final : public ole::RefCounted<TypeInfo> {
public:
    explicit TypeInfoObject(ITypeInfo* ti) : ti_(ti) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<TypeInfo>(this, riid, ppv);
    }
    HRESULT get_Name(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ole::BSTR name = nullptr;
        HRESULT hr = ti_->GetDocumentation(ole::MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        std::u16string text = TakeBstr(name);
        if (SUCCEEDED(hr)) *out = std::move(text);
        return hr;
    }
    HRESULT get_Guid(std::u16string* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            *out = ole::GuidToString(a.guid);
            return S_OK;
        });
    }
    HRESULT get_TypeKind(ole::TYPEKIND* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            *out = a.typekind;
            return S_OK;
        });
    }
    HRESULT get_AttributeMask(SHORT* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            *out = static_cast<SHORT>(a.wTypeFlags);
            return S_OK;
        });
    }
    HRESULT get_TypeInfoNumber(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ComPtr<ITypeLib> lib;
        ole::UINT index = 0;
        HRESULT hr = ti_->GetContainingTypeLib(lib.put(), &index);
        if (SUCCEEDED(hr)) *out = static_cast<LONG>(index);
        return hr;
    }
    HRESULT get_Parent(TypeLibInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        ComPtr<ITypeLib> lib;
        ole::UINT index = 0;
        HRESULT hr = ti_->GetContainingTypeLib(lib.put(), &index);
        if (FAILED(hr)) return hr;
        if (!lib) return ole::E_UNEXPECTED;
        return NewTypeLibInfo(lib.get(), out);
    }
    HRESULT get_ITypeInfo(ITypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return ti_.CopyTo(out);
    }
    HRESULT get_VTableInterface(TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        bool dual = false;
        HRESULT hr = WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            dual = a.typekind == ole::TKIND_DISPATCH && (a.wTypeFlags & ole::TYPEFLAG_FDUAL);
            return S_OK;
        });
        if (FAILED(hr) || !dual) return hr;
        ole::HREFTYPE href = 0;
        hr = ti_->GetRefTypeOfImplType(static_cast<ole::UINT>(-1), &href);
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> half;
        hr = ti_->GetRefTypeInfo(href, half.put());
        if (FAILED(hr)) return hr;
        if (!half) return ole::E_UNEXPECTED;
        return NewTypeInfo(half.get(), out);
    }
    HRESULT get_ImpliedInterfaces(ImpliedInterfaces** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return GiveOut(ComPtr<ImpliedInterfaces>(new ImpliedInterfacesObject(ti_.get())), out);
    }
    HRESULT get_ResolvedType(VarTypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return WithTypeAttr(ti_.get(), [&](const ole::TYPEATTR& a) {
            if (a.typekind != ole::TKIND_ALIAS) return ole::TYPE_E_WRONGTYPEKIND;
            return NewVarTypeInfo(a.tdescAlias, ti_.get(), out);
        });
    }
    HRESULT get_Members(Members** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return NewMembers(ti_.get(), false, out);
    }
    HRESULT GetGroupedMembers(Members** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return NewMembers(ti_.get(), true, out);
    }

private:
    ComPtr<ITypeInfo> ti_;
};

}  // namespace

HRESULT NewTypeInfo(ole::ITypeInfo* type, TypeInfo** out) {
    if (!type) return ole::E_INVALIDARG;
    return GiveOut(ComPtr<TypeInfo>(new TypeInfoObject(type)), out);
}

}  // namespace tli::detail

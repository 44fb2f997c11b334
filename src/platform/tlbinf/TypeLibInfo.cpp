// TypeLibInfo: a re-pointable view of a library, and its type collection.
#include "platform/automation/Guid.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbinf/TliSupport.h"

namespace tli::detail {
namespace {

using ole::ITypeInfo;
using ole::ITypeLib;

// The library attributes a view reports, as read when it was pointed at the library.
struct LibraryValues {
    std::u16string name;
    std::u16string guid;
    std::u16string helpString;
    std::u16string file;
    LCID lcid = 0;
    SHORT major = 0;
    SHORT minor = 0;
    SHORT flags = 0;
};

HRESULT ReadLibraryValues(ITypeLib* lib, LibraryValues* out) {
    ole::TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    if (!attr) return ole::E_UNEXPECTED;
    out->guid = ole::GuidToString(attr->guid);
    out->lcid = attr->lcid;
    out->major = static_cast<SHORT>(attr->wMajorVerNum);
    out->minor = static_cast<SHORT>(attr->wMinorVerNum);
    out->flags = static_cast<SHORT>(attr->wLibFlags);
    lib->ReleaseTLibAttr(attr);
    ole::BSTR name = nullptr, doc = nullptr;
    hr = lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    out->name = TakeBstr(name);
    out->helpString = TakeBstr(doc);
    if (FAILED(hr)) return hr;
    std::u16string file;
    if (SUCCEEDED(ole::GetTypeLibFilePath(lib, &file))) out->file = std::move(file);
    return S_OK;
}

class TypeLibInfoObject final : public ole::RefCounted<TypeLibInfo> {
public:
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<TypeLibInfo>(this, riid, ppv);
    }
    HRESULT get_Name(std::u16string* out) override { return Text(values_.name, out); }
    HRESULT get_Guid(std::u16string* out) override { return Text(values_.guid, out); }
    HRESULT get_LCID(LCID* out) override { return Value(values_.lcid, out); }
    HRESULT get_MajorVersion(SHORT* out) override { return Value(values_.major, out); }
    HRESULT get_MinorVersion(SHORT* out) override { return Value(values_.minor, out); }
    HRESULT get_AttributeMask(SHORT* out) override { return Value(values_.flags, out); }
    HRESULT get_HelpString(std::u16string* out) override { return Text(values_.helpString, out); }
    HRESULT get_ContainingFile(std::u16string* out) override { return Text(values_.file, out); }
    HRESULT get_ITypeLib(ITypeLib** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return lib_.CopyTo(out);
    }
    HRESULT putref_ITypeLib(ITypeLib* lib) override {
        LibraryValues values;
        if (lib) {
            if (HRESULT hr = ReadLibraryValues(lib, &values); FAILED(hr)) return hr;
        }
        lib_ = ComPtr<ITypeLib>(lib);
        values_ = std::move(values);
        return S_OK;
    }
    HRESULT get_TypeInfoCount(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (lib_) *out = static_cast<LONG>(lib_->GetTypeInfoCount());
        return S_OK;
    }
    HRESULT get_TypeInfos(TypeInfos** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        return NewTypeInfos(lib_.get(), out);
    }
    HRESULT get_Me(TypeLibInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        *out = this;
        AddRef();
        return S_OK;
    }
    HRESULT IsSameLibrary(TypeLibInfo* other, bool* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!other || !lib_) return S_OK;
        ComPtr<ITypeLib> theirs;
        if (HRESULT hr = other->get_ITypeLib(theirs.put()); FAILED(hr)) return hr;
        *out = theirs && SameObject(theirs.get(), lib_.get());
        return S_OK;
    }
    HRESULT get_LibNum(LONG* out) override { return Value(libNum_, out); }
    HRESULT put_LibNum(LONG value) override {
        libNum_ = value;
        return S_OK;
    }

private:
    static HRESULT Text(const std::u16string& v, std::u16string* out) {
        if (!out) return E_POINTER;
        *out = v;
        return S_OK;
    }
    template <class T>
    static HRESULT Value(T v, T* out) {
        if (!out) return E_POINTER;
        *out = v;
        return S_OK;
    }
    // Libraries are compared by their IUnknown, so any of their interfaces will do.
    static bool SameObject(ITypeLib* a, ITypeLib* b) {
        if (a == b) return true;
        ComPtr<ole::IUnknown> ua, ub;
        if (FAILED(a->QueryInterface(ole::IUnknown::kIID, ua.put_void()))) return false;
        if (FAILED(b->QueryInterface(ole::IUnknown::kIID, ub.put_void()))) return false;
        return ua.get() == ub.get();
    }

    ComPtr<ITypeLib> lib_;
    LibraryValues values_;
    LONG libNum_ = 0;
};

class TypeInfosObject final : public ole::RefCounted<TypeInfos> {
public:
    explicit TypeInfosObject(ITypeLib* lib) : lib_(lib) {}
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<TypeInfos>(this, riid, ppv);
    }
    HRESULT get_Count(LONG* out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (lib_) *out = static_cast<LONG>(lib_->GetTypeInfoCount());
        return S_OK;
    }
    HRESULT get_Item(LONG index, TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!lib_ || index < 1 || static_cast<ole::UINT>(index) > lib_->GetTypeInfoCount())
            return ole::TYPE_E_ELEMENTNOTFOUND;
        ComPtr<ITypeInfo> ti;
        HRESULT hr = lib_->GetTypeInfo(static_cast<ole::UINT>(index - 1), ti.put());
        if (FAILED(hr)) return hr;
        return NewTypeInfo(ti.get(), out);
    }
    HRESULT NamedItem(std::u16string_view name, TypeInfo** out) override {
        if (HRESULT hr = Start(out); FAILED(hr)) return hr;
        if (!lib_ || name.empty()) return ole::TYPE_E_ELEMENTNOTFOUND;
        ComPtr<ITypeInfo> ti;
        HRESULT hr = Bind(name, &ti);
        if (FAILED(hr) && hr != ole::TYPE_E_ELEMENTNOTFOUND) hr = Scan(name, &ti);
        if (FAILED(hr)) return hr;
        return NewTypeInfo(ti.get(), out);
    }

private:
    // The library's own name lookup; the result is the library's item of that index.
    HRESULT Bind(std::u16string_view name, ComPtr<ITypeInfo>* out) {
        ComPtr<ole::ITypeComp> comp;
        HRESULT hr = lib_->GetTypeComp(comp.put());
        if (FAILED(hr)) return hr;
        if (!comp) return ole::E_UNEXPECTED;
        std::u16string text(name);
        ComPtr<ITypeInfo> found;
        ComPtr<ole::ITypeComp> typeComp;
        hr = comp->BindType(text.data(), 0, found.put(), typeComp.put());
        if (FAILED(hr)) return hr;
        if (!found) return ole::TYPE_E_ELEMENTNOTFOUND;
        ComPtr<ITypeLib> owner;
        ole::UINT index = 0;
        if (SUCCEEDED(found->GetContainingTypeLib(owner.put(), &index)) && owner.get() == lib_.get()) {
            ComPtr<ITypeInfo> item;
            if (SUCCEEDED(lib_->GetTypeInfo(index, item.put())) && item) found = item;
        }
        *out = std::move(found);
        return S_OK;
    }
    // Fallback for libraries without a usable ITypeComp.
    HRESULT Scan(std::u16string_view name, ComPtr<ITypeInfo>* out) {
        const std::u16string key = FoldName(name);
        const ole::UINT count = lib_->GetTypeInfoCount();
        for (ole::UINT i = 0; i < count; ++i) {
            ole::BSTR n = nullptr;
            if (FAILED(lib_->GetDocumentation(static_cast<ole::INT>(i), &n, nullptr, nullptr, nullptr))) continue;
            if (FoldName(TakeBstr(n)) == key) return lib_->GetTypeInfo(i, out->put());
        }
        return ole::TYPE_E_ELEMENTNOTFOUND;
    }

    ComPtr<ITypeLib> lib_;
};

}  // namespace

HRESULT NewTypeLibInfo(ole::ITypeLib* lib, TypeLibInfo** out) {
    ComPtr<TypeLibInfo> info(new TypeLibInfoObject());
    if (HRESULT hr = info->putref_ITypeLib(lib); FAILED(hr)) return hr;
    return GiveOut(std::move(info), out);
}

HRESULT NewTypeInfos(ole::ITypeLib* lib, TypeInfos** out) {
    return GiveOut(ComPtr<TypeInfos>(new TypeInfosObject(lib)), out);
}

}  // namespace tli::detail

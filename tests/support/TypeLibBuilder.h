// Building type libraries through the creation interfaces, for tests of every
// layer that reads them.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "support/TempDir.h"

#ifndef ASSERT_OK
#define ASSERT_OK(expr) ASSERT_EQ((expr), ole::S_OK)
#define EXPECT_OK(expr) EXPECT_EQ((expr), ole::S_OK)
#endif

namespace testsupport {

using namespace ole;

inline TYPEDESC Vt(VARTYPE vt) {
    TYPEDESC t{};
    t.vt = vt;
    return t;
}

inline TYPEDESC User(HREFTYPE href) {
    TYPEDESC t{};
    t.vt = VT_USERDEFINED;
    t.hreftype = href;
    return t;
}

// Owner of the TYPEDESC chains handed to the creation interfaces.
class TypeDescs {
public:
    TYPEDESC Ptr(TYPEDESC inner) { return Wrap(VT_PTR, inner); }
    TYPEDESC SafeArray(TYPEDESC elem) { return Wrap(VT_SAFEARRAY, elem); }
    // dims: (lower bound, element count) per dimension.
    TYPEDESC CArray(TYPEDESC elem, const std::vector<std::pair<LONG, ULONG>>& dims) {
        auto& block = arrays_.emplace_back(sizeof(ARRAYDESC) + sizeof(SAFEARRAYBOUND) * dims.size());
        auto* ad = reinterpret_cast<ARRAYDESC*>(block.data());
        ad->tdescElem = elem;
        ad->cDims = static_cast<USHORT>(dims.size());
        for (size_t i = 0; i < dims.size(); ++i) ad->rgbounds[i] = {dims[i].second, dims[i].first};
        TYPEDESC t{};
        t.vt = VT_CARRAY;
        t.lpadesc = ad;
        return t;
    }

private:
    TYPEDESC Wrap(VARTYPE vt, TYPEDESC inner) {
        TYPEDESC t{};
        t.vt = vt;
        t.lptdesc = &nodes_.emplace_back(inner);
        return t;
    }
    std::deque<TYPEDESC> nodes_;
    std::deque<std::vector<std::byte>> arrays_;
};

struct Param {
    std::u16string name;
    TYPEDESC type{};
    USHORT flags = PARAMFLAG_FIN;
    std::optional<Variant> defaultValue = std::nullopt;
};

struct Func {
    std::u16string name;
    INVOKEKIND invkind = INVOKE_FUNC;
    TYPEDESC ret = Vt(VT_HRESULT);
    std::vector<Param> params{};
    SHORT cParamsOpt = 0;
    MEMBERID memid = MEMBERID_NIL;
    WORD flags = 0;  // FUNCFLAGS
    FUNCKIND kind = FUNC_PUREVIRTUAL;
    SHORT oVft = 0;
};

// Adds a function at index and names it and its parameters (a put's value
// parameter stays unnamed).
inline void AddFunc(ICreateTypeInfo* type, UINT index, const Func& f) {
    std::vector<ELEMDESC> elems(f.params.size());
    std::vector<PARAMDESCEX> defaults(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i) {
        elems[i].tdesc = f.params[i].type;
        elems[i].paramdesc.wParamFlags = f.params[i].flags;
        if (f.params[i].defaultValue) {
            defaults[i].cBytes = 24;  // the Win32 size callers write
            defaults[i].varDefaultValue = f.params[i].defaultValue->get();
            elems[i].paramdesc.pparamdescex = &defaults[i];
        }
    }
    FUNCDESC fd{};
    fd.memid = f.memid;
    fd.funckind = f.kind;
    fd.invkind = f.invkind;
    fd.callconv = CC_STDCALL;
    fd.cParams = static_cast<SHORT>(f.params.size());
    fd.cParamsOpt = f.cParamsOpt;
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    fd.oVft = f.oVft;
    fd.elemdescFunc.tdesc = f.ret;
    fd.wFuncFlags = f.flags;
    ASSERT_OK(type->AddFuncDesc(index, &fd));
    std::vector<std::u16string> names{f.name};
    for (const Param& p : f.params) names.push_back(p.name);
    if (!f.params.empty() && (f.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF))) names.pop_back();
    std::vector<LPOLESTR> ptrs;
    for (auto& n : names) ptrs.push_back(n.data());
    ASSERT_OK(type->SetFuncAndParamNames(index, ptrs.data(), static_cast<UINT>(ptrs.size())));
}

// The id of the function at index. A property's later accessors are added
// with it: an automatic id is given to each function as it is added.
inline MEMBERID FuncIdAt(ICreateTypeInfo* type, UINT index) {
    ComPtr<ITypeInfo> ti = ComPtr<ICreateTypeInfo>(type).As<ITypeInfo>();
    FUNCDESC* fd = nullptr;
    if (!ti || FAILED(ti->GetFuncDesc(index, &fd))) return MEMBERID_NIL;
    const MEMBERID id = fd->memid;
    ti->ReleaseFuncDesc(fd);
    return id;
}

// Adds a constant (value given) or a field or property and names it.
inline void AddVar(ICreateTypeInfo* type, UINT index, const std::u16string& name, TYPEDESC t,
                   VARKIND kind = VAR_PERINSTANCE, const Variant* value = nullptr, MEMBERID memid = MEMBERID_NIL) {
    VARDESC vd{};
    vd.memid = memid;
    vd.varkind = kind;
    vd.elemdescVar.tdesc = t;
    VARIANT copy{};
    if (value) {
        copy = value->get();
        vd.lpvarValue = &copy;
    }
    ASSERT_OK(type->AddVarDesc(index, &vd)) << ToUtf8(name);
    ASSERT_OK(type->SetVarName(index, name.c_str()));
}

inline ComPtr<ICreateTypeLib2> NewLibrary(const std::u16string& name, const std::u16string& file = u"") {
    ComPtr<ICreateTypeLib2> lib;
    EXPECT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
    if (lib) {
        EXPECT_OK(lib->SetName(name.c_str()));
    }
    return lib;
}

inline ComPtr<ICreateTypeInfo2> NewType(ICreateTypeLib2* lib, const std::u16string& name, TYPEKIND kind) {
    ComPtr<ICreateTypeInfo> cti;
    EXPECT_OK(lib->CreateTypeInfo(name.c_str(), kind, cti.put()));
    return cti.As<ICreateTypeInfo2>();
}

inline ComPtr<ITypeLib> StdOle2() {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, lib.put()));
    return lib;
}

inline ComPtr<ITypeInfo> StdOle2Type(const GUID& guid) {
    ComPtr<ITypeInfo> ti;
    if (ComPtr<ITypeLib> lib = StdOle2()) {
        EXPECT_OK(lib->GetTypeInfoOfGuid(guid, ti.put()));
    }
    return ti;
}

inline ComPtr<ITypeInfo> AsTypeInfo(IUnknown* p) {
    ComPtr<ITypeInfo> ti;
    EXPECT_OK(p->QueryInterface(ITypeInfo::kIID, ti.put_void()));
    return ti;
}

inline ComPtr<ITypeLib> AsTypeLib(IUnknown* p) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(p->QueryInterface(ITypeLib::kIID, lib.put_void()));
    return lib;
}

// A reference from `from` to `to` (a type being built or one of another library).
inline HREFTYPE RefTo(ICreateTypeInfo* from, IUnknown* to) {
    HREFTYPE href = 0;
    EXPECT_OK(from->AddRefTypeInfo(AsTypeInfo(to).get(), &href));
    return href;
}

// How a test reaches a library it builds: as the creation interfaces hold it,
// or saved to a file and loaded back.
enum class Route { Created, Loaded };

inline std::string RouteName(const ::testing::TestParamInfo<Route>& info) {
    return info.param == Route::Created ? "Created" : "Loaded";
}
inline void PrintTo(Route route, std::ostream* os) { *os << (route == Route::Created ? "Created" : "Loaded"); }

// The library build(file) makes, reached by route; a saved file goes in dir.
template <class Build>
ComPtr<ITypeLib> Reach(Route route, const TempDir& dir, Build&& build) {
    if (route == Route::Created) {
        ComPtr<ICreateTypeLib2> lib = build(std::u16string());
        return lib ? AsTypeLib(lib.get()) : nullptr;
    }
    RegisterFileServices();
    const std::u16string file = (dir / "library.tlb").u16string();
    ComPtr<ICreateTypeLib2> lib = build(file);
    if (!lib) return nullptr;
    EXPECT_OK(lib->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    EXPECT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.put()));
    return loaded;
}

}  // namespace testsupport

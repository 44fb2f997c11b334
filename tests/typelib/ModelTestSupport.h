// Helpers for the type library model tests: building members through the
// creation interfaces, saving and reloading a library, and reading back what
// the reloaded library reports.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "platform/oleauto/Guid.h"
#include "platform/oleauto/MsftWriter.h"
#include "platform/oleauto/TypeLibData.h"
#include "platform/oleauto/TypeLibFiles.h"
#include "platform/oleauto/TypeLibInterfaces.h"
#include "tools/DumpTypeLib.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"

namespace modeltest {

using namespace ole;
using zephrin::ErrorRecord;

#define ASSERT_OK(expr) ASSERT_EQ((expr), ole::S_OK)
#define EXPECT_OK(expr) EXPECT_EQ((expr), ole::S_OK)

// Runs f and returns the number of the error record it raised (0 when none).
template <class F>
int32_t ErrorOf(F&& f) {
    try {
        f();
    } catch (const ErrorRecord& e) {
        return e.Number;
    }
    return 0;
}
template <class F>
ErrorRecord RecordOf(F&& f) {
    try {
        f();
    } catch (const ErrorRecord& e) {
        return e;
    }
    return ErrorRecord();
}

inline GUID G(const char16_t* text) {
    GUID g{};
    EXPECT_OK(IIDFromString(text, &g));
    return g;
}

// One parameter: name, type, flags.
struct P {
    std::u16string name;
    TYPEDESC type{};
    USHORT flags = PARAMFLAG_FIN;
};

inline TYPEDESC Vt(VARTYPE vt) {
    TYPEDESC t{};
    t.vt = vt;
    return t;
}

// Adds a function with named parameters at index.
inline void AddFunc(ICreateTypeInfo* ti, UINT index, const std::u16string& name, std::vector<P> params = {},
                    INVOKEKIND invkind = INVOKE_FUNC, MEMBERID memid = MEMBERID_NIL, FUNCKIND kind = FUNC_PUREVIRTUAL,
                    SHORT oVft = 0, VARTYPE ret = VT_HRESULT) {
    std::vector<ELEMDESC> elems;
    for (const P& p : params) {
        ELEMDESC e{};
        e.tdesc = p.type;
        e.paramdesc.wParamFlags = p.flags;
        elems.push_back(e);
    }
    FUNCDESC f{};
    f.memid = memid;
    f.funckind = kind;
    f.invkind = invkind;
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<SHORT>(elems.size());
    f.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    f.oVft = oVft;
    f.elemdescFunc.tdesc.vt = ret;
    ASSERT_OK(ti->AddFuncDesc(index, &f));
    std::vector<std::u16string> names{name};
    const bool put = invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    for (size_t i = 0; i < params.size(); ++i)
        if (!put || i + 1 < params.size()) names.push_back(params[i].name);
    std::vector<LPOLESTR> ptrs;
    for (auto& n : names) ptrs.push_back(n.data());
    ASSERT_OK(ti->SetFuncAndParamNames(index, ptrs.data(), static_cast<UINT>(ptrs.size())));
}

inline ComPtr<ICreateTypeInfo2> RawType(zephrin::CustomTypeLib& lib, const char16_t* name, TYPEKIND kind) {
    ComPtr<ICreateTypeInfo> ti;
    EXPECT_OK(lib.CreateView()->CreateTypeInfo(name, kind, ti.put()));
    return ti.As<ICreateTypeInfo2>();
}

inline std::u16string TempPath(const std::string& stem) {
    static std::atomic<int> counter{0};
    const auto dir = std::filesystem::path(::testing::TempDir()) / "zephrin-model";
    std::filesystem::create_directories(dir);
    const std::string file = stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tlb";
    return FromUtf8((dir / file).string());
}

// Lays out and writes the library to path.
inline void Save(ITypeLib* lib, const std::u16string& path) {
    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(lib, true, &data));
    ASSERT_OK(WriteMsftTypeLib(*data, path));
}

// Saves the library to a new file and loads that file.
inline ComPtr<ITypeLib> SaveAndReload(ITypeLib* lib, const std::string& stem = "model") {
    RegisterFileServices();
    const std::u16string path = TempPath(stem);
    Save(lib, path);
    ComPtr<ITypeLib> reloaded;
    EXPECT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, reloaded.put()));
    return reloaded;
}

// Generates, saves and reloads; returns the dump of the reloaded library.
inline std::string GenerateSaveDump(zephrin::CustomTypeLib& lib, const std::string& stem = "model") {
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get(), stem);
    return reloaded ? tlbtools::DumpTypeLib(reloaded.get()) : std::string("LOADFAIL");
}

// The lines of a dump from the line starting with `type N "name"` up to the next type.
inline std::string TypeSection(const std::string& dump, const std::string& name) {
    const std::string key = " \"" + name + "\" ";
    size_t pos = 0;
    while ((pos = dump.find("\ntype ", pos)) != std::string::npos) {
        const size_t eol = dump.find('\n', pos + 1);
        if (dump.substr(pos, eol - pos).find(key) != std::string::npos) {
            const size_t next = dump.find("\ntype ", pos + 1);
            return dump.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        }
        pos = eol;
    }
    return {};
}

inline ComPtr<ITypeInfo> TypeByName(ITypeLib* lib, const char16_t* name) {
    ComPtr<ITypeComp> comp;
    EXPECT_OK(lib->GetTypeComp(comp.put()));
    ComPtr<ITypeInfo> ti;
    ComPtr<ITypeComp> tcomp;
    std::u16string n(name);
    EXPECT_OK(comp->BindType(n.data(), 0, ti.put(), tcomp.put()));
    return ti;
}

inline std::vector<std::u16string> ImplNames(ITypeInfo* ti) {
    TYPEATTR* a = nullptr;
    EXPECT_OK(ti->GetTypeAttr(&a));
    std::vector<std::u16string> out;
    for (UINT i = 0; a && i < a->cImplTypes; ++i) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> r;
        BSTR name = nullptr;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(i, &h)) && SUCCEEDED(ti->GetRefTypeInfo(h, r.put())) &&
            SUCCEEDED(r->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
            out.emplace_back(BstrView(name));
        SysFreeString(name);
    }
    if (a) ti->ReleaseTypeAttr(a);
    return out;
}

inline std::vector<INT> ImplFlags(ITypeInfo* ti) {
    TYPEATTR* a = nullptr;
    EXPECT_OK(ti->GetTypeAttr(&a));
    std::vector<INT> out;
    for (UINT i = 0; a && i < a->cImplTypes; ++i) {
        INT f = 0;
        EXPECT_OK(ti->GetImplTypeFlags(i, &f));
        out.push_back(f);
    }
    if (a) ti->ReleaseTypeAttr(a);
    return out;
}

}  // namespace modeltest

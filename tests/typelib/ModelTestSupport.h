// Helpers for the type library model tests: an editable library with its
// types and members, saving and reloading it, and reading back the dump of
// what the reloaded library reports.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/Guid.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "support/ErrorCapture.h"
#include "support/TliReading.h"
#include "support/TypeLibBuilder.h"
#include "tools/DumpTypeLib.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"

namespace modeltest {

using namespace testsupport;
using zephrin::CustomTypeInfo;
using zephrin::CustomTypeLib;
using zephrin::CustomVarTypeInfo;
using zephrin::ErrorRecord;
using zephrin::FuncData;
using zephrin::HelpData;
using zephrin::ModifyData;
using zephrin::ParamData;

inline constexpr const char16_t* kNoGuid = u"{00000000-0000-0000-0000-000000000000}";

inline GUID G(const char16_t* text) {
    GUID g{};
    EXPECT_OK(IIDFromString(text, &g));
    return g;
}

// A custom data key of the tests, numbered.
inline GUID CustKey(int n) {
    GUID g = G(u"{5A170800-60D1-4E2B-9A51-000000001701}");
    g.Data1 += static_cast<uint32_t>(n);
    return g;
}

// An intrinsic type description.
inline ComPtr<tli::VarTypeInfo> Ty(VARTYPE vt, int16_t pointers = 0) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(vt, nullptr);
    v->PointerLevel(pointers);
    return v->GetVarTypeInfo();
}

inline ParamData Param(std::u16string name, VARTYPE vt, int32_t flags = PARAMFLAG_FIN, int16_t pointers = 0) {
    ParamData p;
    p.Name = std::move(name);
    p.VTInfo = Ty(vt, pointers);
    p.Flags = flags;
    return p;
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
inline std::string GenerateSaveDump(CustomTypeLib& lib, const std::string& stem = "model") {
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

// True when text holds every line, each after the one before.
inline ::testing::AssertionResult HasInOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t pos = 0;
    for (const std::string& l : lines) {
        size_t at = text.find(l, pos);
        if (at == std::string::npos) return ::testing::AssertionFailure() << "missing \"" << l << "\" in\n" << text;
        pos = at + l.size();
    }
    return ::testing::AssertionSuccess();
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

// The names of the interfaces a type implements, in order.
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

// The flags of the interfaces a type implements, in order.
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

// An editable library named after the test's purpose, with the types it adds.
class ModelTest : public ::testing::Test {
protected:
    explicit ModelTest(const char16_t* name = u"Members") { lib.LibName(name); }
    void TearDown() override { ole::testing::ClearInjectedFailures(); }

    std::shared_ptr<CustomTypeInfo> Add(const char16_t* name, TYPEKIND kind) {
        return lib.AddCustomTypeInfo(name, kind, kNoGuid);
    }
    // An interface deriving from IDispatch.
    std::shared_ptr<CustomTypeInfo> Interface(const char16_t* name) {
        auto t = Add(name, TKIND_INTERFACE);
        t->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
        return t;
    }
    ComPtr<tli::TypeInfo> T(const char16_t* name) { return lib.GetTypeInfo(name); }
    // Adds a function through the editable type (a module function gets a DLL entry).
    void Func(CustomTypeInfo& t, const char16_t* name, std::vector<ParamData> params = {},
              int32_t invoke = INVOKE_FUNC, int32_t memid = MEMBERID_NIL, VARTYPE ret = VT_HRESULT) {
        FuncData fd = CustomTypeInfo::DefaultFuncData();
        fd.InvokeKind = invoke;
        fd.MemID = memid;
        if (t.TypeKind() == TKIND_MODULE) {
            fd.DllName = u"widgets.dll";
            fd.DllEntry = Variant(std::u16string_view(name));
        }
        t.AddFunctionEx(name, Ty(ret).get(), params, fd);
        t.LayOut();
    }
    // An interface with A(value) carrying custom data 7, B with ID 5 and C with help "Sees".
    std::shared_ptr<CustomTypeInfo> ThreeMethods(const char16_t* name) {
        auto t = Interface(name);
        Func(*t, u"A", {Param(u"value", VT_I4)});
        Func(*t, u"B", {}, INVOKE_FUNC, 5);
        Func(*t, u"C");
        HelpData hd;
        hd.DocString = u"Sees";
        t->ModifyMemberHelpData(Id(*t, u"C"), hd, HelpData::kDocString);
        Variant tag(int32_t{7});
        EXPECT_OK(t->CreateTypeInfo()->SetFuncCustData(0, CustKey(1), tag.ptr()));
        return t;
    }
    // IC : IB : IDispatch; IB has B1(x) with ID 7 and B2 with help "From B",
    // IC has C1 and C2 with ID 9. Returns IC.
    std::shared_ptr<CustomTypeInfo> InterfaceChain() {
        auto ib = Interface(u"IB");
        Func(*ib, u"B1", {Param(u"x", VT_I4)}, INVOKE_FUNC, 7);
        Func(*ib, u"B2");
        HelpData hd;
        hd.DocString = u"From B";
        ib->ModifyMemberHelpData(Id(*ib, u"B2"), hd, HelpData::kDocString);
        auto ic = Add(u"IC", TKIND_INTERFACE);
        ic->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IB").get());
        Func(*ic, u"C1");
        Func(*ic, u"C2", {}, INVOKE_FUNC, 9);
        return ic;
    }
    MEMBERID Id(CustomTypeInfo& t, const char16_t* name) {
        return zephrin::modITypeInfoHelper::MemberIDFromName(t.ITypeInfo().get(), name);
    }
    std::string Dump() { return GenerateSaveDump(lib, "model"); }
    std::string Section(const std::string& type) { return TypeSection(Dump(), type); }
    // The library as it stands, without saving.
    std::string Snapshot() { return tlbtools::DumpTypeLib(lib.ReadView().get()); }
    UINT TypeCount() { return lib.ReadView()->GetTypeInfoCount(); }

    CustomTypeLib lib;
};

}  // namespace modeltest

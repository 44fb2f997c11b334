// The parts of members most libraries lack (DLL entries, defaults, custom data
// at every level, arrays, pointers and safe arrays) read as written and write
// back to the same bytes, and a file whose bytes around them are cut or
// damaged still loads cleanly or fails with an error.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/tlbfiles/MsftReader.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/EngineTestSupport.h"
#include "tools/DumpTypeLib.h"

namespace {

using namespace enginetest;

GUID Key(uint32_t n) { return GUID{0xDE7A11ED, 0, 0, {0, 0, 0, 0, 0, 0, BYTE(n >> 8), BYTE(n)}}; }

TypeDescData Plain(VARTYPE vt) {
    TypeDescData t;
    t.vt = vt;
    return t;
}

TypeDescData Wrap(VARTYPE vt, TypeDescData target) {
    TypeDescData t;
    t.vt = vt;
    t.element.push_back(std::move(target));
    return t;
}

ParamData Param(const char16_t* name, TypeDescData type, USHORT flags = PARAMFLAG_FIN) {
    ParamData p;
    p.name = name;
    p.type = std::move(type);
    p.flags = flags;
    return p;
}

ParamData Defaulted(const char16_t* name, VARTYPE vt, Variant value) {
    ParamData p = Param(name, Plain(vt), PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    p.defaultValue = std::move(value);
    return p;
}

FuncData Function(const char16_t* name, MEMBERID memid, FUNCKIND kind, SHORT oVft) {
    FuncData f;
    f.name = name;
    f.memid = memid;
    f.funckind = kind;
    f.oVft = oVft;
    f.returnType.vt = VT_HRESULT;
    return f;
}

// A module whose functions are found by name, by ordinal (0 and 7) and not
// at all; an interface whose functions carry an entry the way some files
// give one to any function, with parameters of every shape and default, and
// custom data on everything that can hold it.
LibraryData Detailed() {
    LibraryData d;
    d.name = u"Details";
    d.guid = Key(1);
    d.custData.push_back({Key(2), Variant(int32_t(2))});

    TypeData& m = d.types.emplace_back();
    m.name = u"Native";
    m.kind = TKIND_MODULE;
    const std::pair<const char16_t*, std::optional<DllEntryPoint>> entries[] = {
        {u"ByName", DllEntryPoint(std::u16string(u"Beep"))},
        {u"ByOrdinalZero", DllEntryPoint(WORD{0})},
        {u"ByOrdinal", DllEntryPoint(WORD{7})},
        {u"Unplaced", std::nullopt},
    };
    for (const auto& [name, entry] : entries) {
        FuncData& f = m.funcs.emplace_back(Function(name, 0x60000000 + static_cast<MEMBERID>(m.funcs.size()),
                                                    FUNC_STATIC, 0));
        if (entry) f.dll = DllEntryData{u"native.dll", *entry};
    }

    TypeData& t = d.types.emplace_back();
    t.name = u"IDetailed";
    t.kind = TKIND_INTERFACE;
    t.guid = Key(3);
    t.custData.push_back({Key(4), Variant(std::u16string_view(u"type"))});
    FuncData named = Function(u"Named", 0x60000000, FUNC_PUREVIRTUAL, 0);
    named.dll = DllEntryData{u"", DllEntryPoint(std::u16string(u"Stray"))};
    named.custData.push_back({Key(5), Variant(int32_t(5))});
    TypeDescData grid;
    grid.vt = VT_CARRAY;
    grid.MutableBounds() = {SAFEARRAYBOUND{3, 0}, SAFEARRAYBOUND{4, 1}, SAFEARRAYBOUND{5, -2}};
    grid.SetElement(Wrap(VT_PTR, Wrap(VT_PTR, Plain(VT_I2))));
    named.params.push_back(Param(u"grid", std::move(grid)));
    named.params.push_back(Param(u"list", Wrap(VT_PTR, Wrap(VT_SAFEARRAY, Plain(VT_BSTR)))));
    named.params.back().custData.push_back({Key(6), Variant(std::u16string_view(u"param"))});
    named.params.push_back(Defaulted(u"count", VT_I4, Variant(int32_t(-3))));
    named.params.push_back(Defaulted(u"text", VT_BSTR, Variant(std::u16string_view(u"none"))));
    named.params.push_back(Defaulted(u"ratio", VT_R8, Variant(0.5)));
    named.params.push_back(Defaulted(u"flag", VT_BOOL, Variant(true)));
    named.params.push_back(Defaulted(u"empty", VT_BSTR, Variant(std::u16string_view(u""))));
    named.params.push_back(Defaulted(u"small", VT_I2, Variant(int16_t(-1))));
    named.cParamsOpt = 0;
    t.funcs.push_back(std::move(named));
    FuncData ordinal = Function(u"Numbered", 0x60000001, FUNC_PUREVIRTUAL, 4);
    ordinal.dll = DllEntryData{u"", DllEntryPoint(WORD{0})};
    t.funcs.push_back(std::move(ordinal));
    FuncData plain = Function(u"Plain", 0x60000002, FUNC_PUREVIRTUAL, 8);
    plain.helpStringContext = 9;  // stores the entry slot, empty
    t.funcs.push_back(std::move(plain));
    t.cbSizeVft = 12;

    TypeData& r = d.types.emplace_back();
    r.name = u"Record";
    r.kind = TKIND_RECORD;
    VarData& v = r.vars.emplace_back();
    v.name = u"cells";
    v.memid = 0x40000000;
    v.type.vt = VT_CARRAY;
    v.type.MutableBounds() = {SAFEARRAYBOUND{2, 0}, SAFEARRAYBOUND{2, 0}};
    v.type.SetElement(Plain(VT_I4));
    v.custData.push_back({Key(7), Variant(int32_t(7))});
    r.cbSizeInstance = 16;
    return d;
}

std::vector<std::byte> Image(const LibraryData& d) {
    std::vector<std::byte> image;
    EXPECT_OK(BuildMsftImage(d, &image));
    return image;
}

// What the platform's callers see of one module function.
std::u16string EntryOf(ITypeInfo* module, MEMBERID memid) {
    BStr dll, name;
    WORD ordinal = 0xFFFF;
    HRESULT hr = module->GetDllEntry(memid, INVOKE_FUNC, dll.put(), name.put(), &ordinal);
    if (FAILED(hr)) return u"failed";
    return std::u16string(dll.view()) + u"|" + (name.get() ? std::u16string(name.view()) : u"(null)") + u"|" +
           FromUtf8(std::to_string(ordinal));
}

TEST(MemberDetails, ReadAsWrittenAndWriteBackToTheSameBytes) {
    RegisterFileServices();
    const std::vector<std::byte> image = Image(Detailed());
    LibraryData read;
    ASSERT_OK(ReadMsft(image, &read));
    EXPECT_EQ(Image(read), image);

    ASSERT_EQ(read.types.size(), 3u);
    const TypeData& m = read.types[0];
    ASSERT_EQ(m.funcs.size(), 4u);
    for (const FuncData& f : m.funcs) EXPECT_EQ(f.DllName(), u"native.dll");
    const TypeData& t = read.types[1];
    ASSERT_EQ(t.funcs.size(), 3u);
    EXPECT_EQ(std::get<std::u16string>(t.funcs[0].Entry()), u"Stray");
    EXPECT_EQ(std::get<WORD>(t.funcs[1].Entry()), 0);
    EXPECT_FALSE(t.funcs[2].dll);
    const std::vector<ParamData>& params = t.funcs[0].params;
    ASSERT_EQ(params.size(), 8u);
    ASSERT_EQ(params[0].type.Bounds().size(), 3u);
    EXPECT_EQ(params[0].type.Bounds()[2].lLbound, -2);
    ASSERT_EQ(params[0].type.element.size(), 1u);
    EXPECT_EQ(params[0].type.element[0].element[0].element[0].vt, VT_I2);
    EXPECT_EQ(params[1].type.element[0].element[0].vt, VT_BSTR);
    ASSERT_TRUE(params[6].defaultValue);
    EXPECT_EQ(params[6].defaultValue->vt(), VT_BSTR);

    ComPtr<ITypeLib> lib;
    ASSERT_OK(LoadTypeLibFromMemory(image.data(), image.size(), u"", lib.put()));
    ComPtr<ITypeInfo> module, iface;
    ASSERT_OK(lib->GetTypeInfo(0, module.put()));
    ASSERT_OK(lib->GetTypeInfo(1, iface.put()));
    EXPECT_EQ(EntryOf(module.get(), 0x60000000), u"native.dll|Beep|0");
    EXPECT_EQ(EntryOf(module.get(), 0x60000001), u"native.dll|(null)|0");
    EXPECT_EQ(EntryOf(module.get(), 0x60000002), u"native.dll|(null)|7");
    EXPECT_EQ(EntryOf(module.get(), 0x60000003), u"native.dll|(null)|0");  // stored as ordinal 0
    EXPECT_EQ(iface->GetDllEntry(0x60000000, INVOKE_FUNC, nullptr, nullptr, nullptr), TYPE_E_BADMODULEKIND);
}

// Everything a caller can ask of the library's members; must not crash.
void Ask(ITypeLib* lib) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.put())) || !ti) continue;
        ComPtr<ITypeInfo2> ti2 = ti.As<ITypeInfo2>();
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta)) || !ta) continue;
        for (UINT k = 0; k < ta->cFuncs; ++k) {
            FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(k, &fd)) || !fd) continue;
            BStr dll, name;
            WORD ordinal = 0;
            ti->GetDllEntry(fd->memid, fd->invkind, dll.put(), name.put(), &ordinal);
            CUSTDATA cd{};
            if (SUCCEEDED(ti2->GetAllFuncCustData(k, &cd))) ClearCustData(&cd);
            for (SHORT p = 0; p < fd->cParams; ++p)
                if (SUCCEEDED(ti2->GetAllParamCustData(k, static_cast<UINT>(p), &cd))) ClearCustData(&cd);
            ti->ReleaseFuncDesc(fd);
        }
        for (UINT k = 0; k < ta->cVars; ++k) {
            VARDESC* vd = nullptr;
            if (SUCCEEDED(ti->GetVarDesc(k, &vd)) && vd) ti->ReleaseVarDesc(vd);
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST(MemberDetails, CutOrDamagedFilesLoadCleanlyOrFail) {
    RegisterFileServices();
    const std::vector<std::byte> image = Image(Detailed());
    for (size_t n = 0; n < image.size(); ++n) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(image.data(), n, u"", lib.put());
        if (SUCCEEDED(hr))
            Ask(lib.get());
        else
            EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE) << n << " " << std::hex << hr;
    }
    std::mt19937 rng(38);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::byte> bad = image;
        for (int k = 0, flips = 1 + static_cast<int>(rng() % 4); k < flips; ++k) {
            static const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x20};
            bad[rng() % bad.size()] = std::byte{values[rng() % 6]};
        }
        ComPtr<ITypeLib> lib;
        if (SUCCEEDED(LoadTypeLibFromMemory(bad.data(), bad.size(), u"", lib.put()))) Ask(lib.get());
    }
}

// A loaded library is read-only: threads reading these parts of it together
// each see what one thread alone sees.
TEST(MemberDetails, ThreadsReadingThemTogetherSeeTheSameLibrary) {
    RegisterFileServices();
    const std::vector<std::byte> image = Image(Detailed());
    for (int round = 0; round < 3; ++round) {
        ComPtr<ITypeLib> lib;
        ASSERT_OK(LoadTypeLibFromMemory(image.data(), image.size(), u"", lib.put()));
        std::vector<std::string> dumps(6);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < dumps.size(); ++t)
            threads.emplace_back([&, t] {
                Ask(lib.get());
                dumps[t] = tlbtools::DumpTypeLib(lib.get());
            });
        for (auto& th : threads) th.join();
        const std::string alone = tlbtools::DumpTypeLib(lib.get());
        ASSERT_NE(alone.find("native.dll"), std::string::npos);
        for (const std::string& dump : dumps) EXPECT_EQ(dump, alone) << round;
    }
}

}  // namespace

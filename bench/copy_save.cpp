// Copy-and-save of a large library: a library of well over 2 MB is built
// through the creation interfaces and saved once; then
// - CopyAndSave re-creates the loaded file in a new library through the
//   creation interfaces (as tlbcopy and regeneration do), lays it out and saves it;
// - SaveLaidOut writes the data of an already laid-out library (the writer alone).
// Both report the file size processed per second and the time per copy.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "tools/CopyTypeLib.h"

using namespace ole;

namespace {

constexpr int kInterfaces = 1200;
constexpr int kMethods = 20;

std::filesystem::path Folder() {
    auto dir = std::filesystem::temp_directory_path() / "zephrin-bench-copy-save";
    std::filesystem::create_directories(dir);
    return dir;
}

std::u16string U16(const std::string& s) { return FromUtf8(s); }

void Require(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed");
}

// Interfaces derived from IUnknown, each with methods taking a few parameters
// (numbers, strings, an out pointer to a record and an optional variant).
void BuildLarge(const std::u16string& path) {
    ComPtr<ICreateTypeLib2> lib;
    Require(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()), "CreateTypeLib2");
    Require(lib->SetName(u"LargeLibrary"), "SetName");
    GUID libGuid{0x7E570000, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    Require(lib->SetGuid(libGuid), "SetGuid");
    ComPtr<ITypeLib> std;
    Require(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, std.put()), "stdole2");
    ComPtr<ITypeInfo> unknown;
    Require(std->GetTypeInfoOfGuid(kIID_IUnknown, unknown.put()), "IUnknown");

    ComPtr<ICreateTypeInfo> rec;
    Require(lib->CreateTypeInfo(u"Record", TKIND_RECORD, rec.put()), "CreateTypeInfo");
    for (UINT v = 0; v < 4; ++v) {
        VARDESC vd{};
        vd.memid = MEMBERID_NIL;
        vd.varkind = VAR_PERINSTANCE;
        vd.elemdescVar.tdesc.vt = v % 2 ? VT_BSTR : VT_I4;
        Require(rec->AddVarDesc(v, &vd), "AddVarDesc");
        std::u16string name = u"field" + U16(std::to_string(v));
        Require(rec->SetVarName(v, name.c_str()), "SetVarName");
    }
    ComPtr<ITypeInfo> recInfo = rec.As<ITypeInfo>();

    for (int i = 0; i < kInterfaces; ++i) {
        std::u16string name = u"ILarge" + U16(std::to_string(i));
        ComPtr<ICreateTypeInfo> ct;
        Require(lib->CreateTypeInfo(name.c_str(), TKIND_INTERFACE, ct.put()), "CreateTypeInfo");
        ComPtr<ICreateTypeInfo2> t;
        Require(ct.As(&t), "ICreateTypeInfo2");
        GUID g = libGuid;
        g.Data1 += static_cast<uint32_t>(i + 1);
        Require(t->SetGuid(g), "SetGuid");
        HREFTYPE base = 0, recRef = 0;
        Require(t->AddRefTypeInfo(unknown.get(), &base), "AddRefTypeInfo");
        Require(t->AddImplType(0, base), "AddImplType");
        Require(t->AddRefTypeInfo(recInfo.get(), &recRef), "AddRefTypeInfo");
        for (int m = 0; m < kMethods; ++m) {
            TYPEDESC recType{};
            recType.vt = VT_USERDEFINED;
            recType.hreftype = recRef;
            ELEMDESC params[4]{};
            params[0].tdesc.vt = VT_I4;
            params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[1].tdesc.vt = VT_BSTR;
            params[1].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[2].tdesc.vt = VT_PTR;
            params[2].tdesc.lptdesc = &recType;
            params[2].paramdesc.wParamFlags = PARAMFLAG_FOUT;
            PARAMDESCEX def{24, {}};
            def.varDefaultValue.vt = VT_I4;
            def.varDefaultValue.lVal = m;
            params[3].tdesc.vt = VT_VARIANT;
            params[3].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
            params[3].paramdesc.pparamdescex = &def;
            FUNCDESC fd{};
            fd.memid = MEMBERID_NIL;
            fd.funckind = FUNC_PUREVIRTUAL;
            fd.invkind = INVOKE_FUNC;
            fd.callconv = CC_STDCALL;
            fd.cParams = 4;
            fd.lprgelemdescParam = params;
            fd.elemdescFunc.tdesc.vt = VT_HRESULT;
            Require(t->AddFuncDesc(static_cast<UINT>(m), &fd), "AddFuncDesc");
            std::u16string method = u"Method" + U16(std::to_string(i)) + u"_" + U16(std::to_string(m));
            std::u16string names[] = {method, u"count", u"text", u"result", u"extra"};
            LPOLESTR list[] = {names[0].data(), names[1].data(), names[2].data(), names[3].data(), names[4].data()};
            Require(t->SetFuncAndParamNames(static_cast<UINT>(m), list, 5), "SetFuncAndParamNames");
            std::u16string doc = u"Does step " + U16(std::to_string(m)) + u" of " + name;
            Require(t->SetFuncDocString(static_cast<UINT>(m), doc.c_str()), "SetFuncDocString");
        }
    }
    Require(lib->SaveAllChanges(), "SaveAllChanges");
}

struct Fixture {
    std::u16string source;
    uintmax_t bytes = 0;
    ComPtr<ITypeLib> loaded;
    std::shared_ptr<const LibraryData> data;

    Fixture() {
        RegisterFileServices();
        SetTypeLibWriter(WriteMsftTypeLib);
        auto path = Folder() / "large.tlb";
        source = U16(path.string());
        BuildLarge(source);
        bytes = std::filesystem::file_size(path);
        Require(LoadTypeLibEx(source.c_str(), REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        Require(GetLibraryData(loaded.get(), false, &data), "GetLibraryData");
    }
};

Fixture& Large() {
    static Fixture f;
    return f;
}

void CopyAndSave(benchmark::State& state) {
    Fixture& f = Large();
    std::u16string out = U16((Folder() / "copy.tlb").string());
    for (auto _ : state) {
        ComPtr<ICreateTypeLib2> dst;
        Require(CreateTypeLib2(SYS_WIN32, out.c_str(), dst.put()), "CreateTypeLib2");
        std::string what;
        if (FAILED(tlbtools::CopyTypeLib(f.loaded.get(), dst.get(), &what))) {
            state.SkipWithError(("copy failed: " + what).c_str());
            break;
        }
        Require(dst->SaveAllChanges(), "SaveAllChanges");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
}
BENCHMARK(CopyAndSave)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void SaveLaidOut(benchmark::State& state) {
    Fixture& f = Large();
    std::u16string out = U16((Folder() / "saved.tlb").string());
    for (auto _ : state) Require(WriteMsftTypeLib(*f.data, out), "WriteMsftTypeLib");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
}
BENCHMARK(SaveLaidOut)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BuildImage(benchmark::State& state) {
    Fixture& f = Large();
    std::vector<std::byte> image;
    for (auto _ : state) {
        Require(BuildMsftImage(*f.data, &image), "BuildMsftImage");
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BuildImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

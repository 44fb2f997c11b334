// Load-and-walk benchmark: a library of several megabytes is built through
// the creation interfaces, written as an MSFT image, then loaded from memory
// and walked completely (every type, function, parameter, variable, name and
// doc string). Reports bytes per second of image read.
// Set ZEPHRIN_LOAD_WALK_SAVE=<path> to also save the image (to time tlbdump
// and reference-dump on the same file).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/StdOle2.h"
#include "platform/tlbfiles/TypeLibFiles.h"

using namespace ole;

namespace {

constexpr int kInterfaces = 1600;
constexpr int kMethods = 20;

void Check(HRESULT hr) {
    if (FAILED(hr)) {
        fprintf(stderr, "load_walk: failed with 0x%08X\n", static_cast<unsigned>(hr));
        std::abort();
    }
}

std::u16string U(const std::string& s) { return FromUtf8(s); }

std::vector<std::byte> BuildImage() {
    RegisterFileServices();
    ComPtr<ICreateTypeLib2> lib;
    Check(CreateTypeLib2(SYS_WIN32, u"", lib.put()));
    lib->SetName(u"BigLibrary");
    GUID libGuid{0x5EB1B000, 0x1111, 0x2222, {0x80, 0, 0, 0, 0, 0, 0, 1}};
    lib->SetGuid(libGuid);
    lib->SetVersion(1, 0);
    ComPtr<ITypeLib> std;
    Check(GetBuiltinStdOle2(std.put()));
    ComPtr<ITypeInfo> dispatch;
    Check(std->GetTypeInfoOfGuid(IDispatch::kIID, dispatch.put()));

    // An enum and a record every few interfaces, so that every kind of member is read.
    for (int i = 0; i < kInterfaces; ++i) {
        if (i % 8 == 0) {
            ComPtr<ICreateTypeInfo> e;
            Check(lib->CreateTypeInfo(U("Enum" + std::to_string(i)).c_str(), TKIND_ENUM, e.put()));
            for (int k = 0; k < 10; ++k) {
                VARIANT v;
                VariantInit(&v);
                v.vt = VT_INT;
                v.intVal = k * 1000 - 3;
                VARDESC vd{};
                vd.memid = MEMBERID_NIL;
                vd.varkind = VAR_CONST;
                vd.lpvarValue = &v;
                vd.elemdescVar.tdesc.vt = VT_INT;
                Check(e->AddVarDesc(k, &vd));
                Check(e->SetVarName(k, U("Enum" + std::to_string(i) + "Value" + std::to_string(k)).c_str()));
                Check(e->SetVarDocString(k, U("Value number " + std::to_string(k)).c_str()));
            }
            Check(e->LayOut());
        }
        ComPtr<ICreateTypeInfo> t;
        Check(lib->CreateTypeInfo(U("IInterface" + std::to_string(i)).c_str(), TKIND_INTERFACE, t.put()));
        GUID g = libGuid;
        g.Data1 += static_cast<uint32_t>(i + 1);
        t->SetGuid(g);
        t->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
        t->SetDocString(U("Interface number " + std::to_string(i) + " of the benchmark library").c_str());
        HREFTYPE h = 0;
        Check(t->AddRefTypeInfo(dispatch.get(), &h));
        Check(t->AddImplType(0, h));
        for (int m = 0; m < kMethods; ++m) {
            TYPEDESC bstr{}, out{};
            bstr.vt = VT_BSTR;
            out.vt = VT_PTR;
            out.lptdesc = &bstr;
            ELEMDESC params[3]{};
            params[0].tdesc.vt = VT_I4;
            params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[1].tdesc.vt = VT_VARIANT;
            params[1].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOPT;
            params[2].tdesc = out;
            params[2].paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
            FUNCDESC fd{};
            fd.memid = 0x100 + m;
            fd.funckind = FUNC_PUREVIRTUAL;
            fd.invkind = INVOKE_FUNC;
            fd.callconv = CC_STDCALL;
            fd.cParams = 3;
            fd.cParamsOpt = 0;
            fd.lprgelemdescParam = params;
            fd.elemdescFunc.tdesc.vt = VT_HRESULT;
            Check(t->AddFuncDesc(m, &fd));
            std::u16string names[4] = {U("Method" + std::to_string(m) + "Of" + std::to_string(i)), u"count",
                                       u"options", u"result"};
            LPOLESTR ptrs[4] = {names[0].data(), names[1].data(), names[2].data(), names[3].data()};
            Check(t->SetFuncAndParamNames(m, ptrs, 4));
            Check(t->SetFuncDocString(
                m, U("Method " + std::to_string(m) + " of interface " + std::to_string(i) + ": does its work").c_str()));
            Check(t->SetFuncHelpContext(m, static_cast<DWORD>(i * 100 + m)));
        }
        Check(t->LayOut());
    }
    std::shared_ptr<const LibraryData> data;
    Check(GetLibraryData(lib.As<ITypeLib>().get(), true, &data));
    std::vector<std::byte> image;
    Check(BuildMsftImage(*data, &image));
    if (const char* save = std::getenv("ZEPHRIN_LOAD_WALK_SAVE")) {
        std::ofstream(save, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    return image;
}

const std::vector<std::byte>& Image() {
    static const std::vector<std::byte> image = BuildImage();
    return image;
}

size_t WalkType(ITypeInfo* ti) {
    size_t seen = 0;
    TYPEATTR* ta = nullptr;
    Check(ti->GetTypeAttr(&ta));
    BStr name, doc;
    Check(ti->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr));
    seen += name.Length() + doc.Length();
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> base;
        Check(ti->GetRefTypeOfImplType(k, &h));
        Check(ti->GetRefTypeInfo(h, base.put()));
    }
    for (UINT k = 0; k < ta->cFuncs; ++k) {
        FUNCDESC* fd = nullptr;
        Check(ti->GetFuncDesc(k, &fd));
        BSTR names[16] = {};
        UINT cn = 0;
        Check(ti->GetNames(fd->memid, names, 16, &cn));
        for (UINT q = 0; q < cn; ++q) {
            seen += SysStringLen(names[q]);
            SysFreeString(names[q]);
        }
        BStr fdoc;
        Check(ti->GetDocumentation(fd->memid, nullptr, fdoc.put(), nullptr, nullptr));
        seen += fdoc.Length() + static_cast<size_t>(fd->cParams);
        ti->ReleaseFuncDesc(fd);
    }
    for (UINT k = 0; k < ta->cVars; ++k) {
        VARDESC* vd = nullptr;
        Check(ti->GetVarDesc(k, &vd));
        BSTR vn = nullptr;
        UINT cn = 0;
        Check(ti->GetNames(vd->memid, &vn, 1, &cn));
        seen += SysStringLen(vn);
        SysFreeString(vn);
        BStr vdoc;
        Check(ti->GetDocumentation(vd->memid, nullptr, vdoc.put(), nullptr, nullptr));
        seen += vdoc.Length();
        ti->ReleaseVarDesc(vd);
    }
    if (ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> half;
        Check(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h));
        Check(ti->GetRefTypeInfo(h, half.put()));
        seen += WalkType(half.get());
    }
    ti->ReleaseTypeAttr(ta);
    return seen;
}

void BM_LoadAndWalk(benchmark::State& state) {
    const auto& image = Image();
    bool timeRelease = state.range(0) != 0;
    for (auto _ : state) {
        ComPtr<ITypeLib> lib;
        Check(LoadTypeLibFromMemory(image.data(), image.size(), u"big.tlb", lib.put()));
        size_t seen = 0;
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> ti;
            Check(lib->GetTypeInfo(i, ti.put()));
            seen += WalkType(ti.get());
        }
        benchmark::DoNotOptimize(seen);
        if (!timeRelease) {
            state.PauseTiming();
            lib.Reset();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
    state.counters["image_MB"] = static_cast<double>(image.size()) / 1e6;
}
// Argument 1: the release of the library is timed too; 0: only loading and walking.
BENCHMARK(BM_LoadAndWalk)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ReadOnly(benchmark::State& state) {
    const auto& image = Image();
    for (auto _ : state) {
        LibraryData data;
        Check(ReadTypeLibImage(image, 1, &data));
        benchmark::DoNotOptimize(data.types.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond);

}  // namespace

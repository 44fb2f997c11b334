// Walking every member and parameter of a large library, once through the
// engine's own interfaces and once through the TypeLib Information objects.
// The library (thousands of interfaces with methods and parameters, about
// 2 MB as a file) is built through the creation interfaces.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

using namespace ole;

namespace {

constexpr int kInterfaces = 900;
constexpr int kMethods = 20;

ComPtr<ITypeLib> BuildLibrary() {
    ComPtr<ICreateTypeLib2> lib;
    if (FAILED(CreateTypeLib2(SYS_WIN32, u"", lib.put()))) return nullptr;
    lib->SetName(u"WalkBench");
    ComPtr<ITypeInfo> previous;
    for (int i = 0; i < kInterfaces; ++i) {
        const std::u16string name = u"IFace" + FromUtf8(std::to_string(i));
        ComPtr<ICreateTypeInfo> cti;
        if (FAILED(lib->CreateTypeInfo(name.c_str(), TKIND_INTERFACE, cti.put()))) return nullptr;
        HREFTYPE prevRef = 0;
        if (previous) cti->AddRefTypeInfo(previous.get(), &prevRef);
        for (int k = 0; k < kMethods; ++k) {
            // (long a, BSTR* b, IFace<i-1>* c, [out, retval] VARIANT* r) on even methods,
            // (long a, BSTR* b, VARIANT c) on odd ones.
            TYPEDESC bstr{}, variant{}, user{};
            bstr.vt = VT_BSTR;
            variant.vt = VT_VARIANT;
            user.vt = VT_USERDEFINED;
            user.hreftype = prevRef;
            ELEMDESC params[4]{};
            params[0].tdesc.vt = VT_I4;
            params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[1].tdesc.vt = VT_PTR;
            params[1].tdesc.lptdesc = &bstr;
            params[1].paramdesc.wParamFlags = PARAMFLAG_FIN;
            const bool even = k % 2 == 0;
            if (even && previous) {
                params[2].tdesc.vt = VT_PTR;
                params[2].tdesc.lptdesc = &user;
            } else {
                params[2].tdesc.vt = VT_VARIANT;
            }
            params[2].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[3].tdesc.vt = VT_PTR;
            params[3].tdesc.lptdesc = &variant;
            params[3].paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
            FUNCDESC fd{};
            fd.memid = MEMBERID_NIL;
            fd.funckind = FUNC_PUREVIRTUAL;
            fd.invkind = INVOKE_FUNC;
            fd.callconv = CC_STDCALL;
            fd.cParams = even ? 4 : 3;
            fd.lprgelemdescParam = params;
            fd.elemdescFunc.tdesc.vt = VT_HRESULT;
            if (FAILED(cti->AddFuncDesc(static_cast<UINT>(k), &fd))) return nullptr;
            const std::string base = "Method" + std::to_string(i) + "_" + std::to_string(k);
            std::u16string names[5] = {FromUtf8(base), u"alpha", u"bravo", u"charlie", u"result"};
            LPOLESTR ptrs[5] = {names[0].data(), names[1].data(), names[2].data(), names[3].data(), names[4].data()};
            if (FAILED(cti->SetFuncAndParamNames(static_cast<UINT>(k), ptrs, even ? 5 : 4))) return nullptr;
        }
        if (FAILED(cti->LayOut())) return nullptr;
        previous = ComPtr<ITypeInfo>();
        cti->QueryInterface(ITypeInfo::kIID, previous.put_void());
    }
    ComPtr<ITypeLib> read;
    lib->QueryInterface(ITypeLib::kIID, read.put_void());
    return read;
}

ITypeLib* Library() {
    static ComPtr<ITypeLib> lib = [] {
        ComPtr<ITypeLib> l = BuildLibrary();
        std::shared_ptr<const LibraryData> data;
        if (l && SUCCEEDED(GetLibraryData(l.get(), true, &data))) {
            size_t funcs = 0;
            for (const auto& t : data->types) funcs += t.funcs.size();
            std::vector<std::byte> image;
            (void)BuildMsftImage(*data, &image);
            std::fprintf(stderr, "library: %zu types, %zu functions, %zu bytes as a file\n", data->types.size(),
                         funcs, image.size());
        }
        return l;
    }();
    return lib.get();
}

// Reads what a type description says: its VARTYPE after the pointers.
int64_t TouchType(const TYPEDESC& td) {
    const TYPEDESC* t = &td;
    int64_t sum = 0;
    while (t && (t->vt == VT_PTR || t->vt == VT_SAFEARRAY)) {
        ++sum;
        t = t->lptdesc;
    }
    return sum + (t ? t->vt : 0);
}

int64_t WalkEngine(ITypeLib* lib) {
    int64_t sum = 0;
    const UINT count = lib->GetTypeInfoCount();
    std::vector<BSTR> names(16);
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        lib->GetTypeInfo(i, ti.put());
        TYPEATTR* attr = nullptr;
        ti->GetTypeAttr(&attr);
        const UINT cFuncs = attr->cFuncs, cVars = attr->cVars;
        ti->ReleaseTypeAttr(attr);
        for (UINT v = 0; v < cVars; ++v) {
            VARDESC* vd = nullptr;
            ti->GetVarDesc(v, &vd);
            UINT got = 0;
            ti->GetNames(vd->memid, names.data(), 1, &got);
            for (UINT n = 0; n < got; ++n) sum += SysStringLen(names[n]), SysFreeString(names[n]);
            sum += TouchType(vd->elemdescVar.tdesc);
            ti->ReleaseVarDesc(vd);
        }
        for (UINT f = 0; f < cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            ti->GetFuncDesc(f, &fd);
            UINT got = 0;
            ti->GetNames(fd->memid, names.data(), static_cast<UINT>(fd->cParams) + 1, &got);
            for (UINT n = 0; n < got; ++n) sum += SysStringLen(names[n]), SysFreeString(names[n]);
            sum += TouchType(fd->elemdescFunc.tdesc);
            for (SHORT p = 0; p < fd->cParams; ++p) sum += TouchType(fd->lprgelemdescParam[p].tdesc);
            ti->ReleaseFuncDesc(fd);
        }
    }
    return sum;
}

int64_t TouchType(tli::VarTypeInfo* v) {
    VARTYPE vt = 0;
    SHORT level = 0;
    v->get_VarType(&vt);
    v->get_PointerLevel(&level);
    return vt + level;
}

int64_t WalkTli(ITypeLib* lib) {
    static ComPtr<tli::TLIApplication> app = [] {
        ComPtr<tli::TLIApplication> a;
        tli::GetTLIApplication(a.put());
        return a;
    }();
    int64_t sum = 0;
    ComPtr<tli::TypeLibInfo> info;
    app->TypeLibInfoFromITypeLib(lib, info.put());
    ComPtr<tli::TypeInfos> types;
    info->get_TypeInfos(types.put());
    tli::LONG typeCount = 0;
    types->get_Count(&typeCount);
    std::u16string name;
    for (tli::LONG i = 1; i <= typeCount; ++i) {
        ComPtr<tli::TypeInfo> type;
        types->get_Item(i, type.put());
        ComPtr<tli::Members> members;
        type->get_Members(members.put());
        tli::LONG memberCount = 0;
        members->get_Count(&memberCount);
        for (tli::LONG m = 1; m <= memberCount; ++m) {
            ComPtr<tli::MemberInfo> member;
            members->get_Item(m, member.put());
            member->get_Name(&name);
            sum += static_cast<int64_t>(name.size());
            ComPtr<tli::VarTypeInfo> ret;
            member->get_ReturnType(ret.put());
            sum += TouchType(ret.get());
            ComPtr<tli::Parameters> params;
            member->get_Parameters(params.put());
            tli::LONG paramCount = 0;
            params->get_Count(&paramCount);
            for (tli::LONG p = 1; p <= paramCount; ++p) {
                ComPtr<tli::ParameterInfo> param;
                params->get_Item(p, param.put());
                param->get_Name(&name);
                sum += static_cast<int64_t>(name.size());
                ComPtr<tli::VarTypeInfo> t;
                param->get_VarTypeInfo(t.put());
                sum += TouchType(t.get());
            }
        }
    }
    return sum;
}

void BM_WalkEngine(benchmark::State& state) {
    ITypeLib* lib = Library();
    if (!lib) return state.SkipWithError("library not built");
    for (auto _ : state) benchmark::DoNotOptimize(WalkEngine(lib));
}
BENCHMARK(BM_WalkEngine)->Unit(benchmark::kMillisecond);

void BM_WalkTli(benchmark::State& state) {
    ITypeLib* lib = Library();
    if (!lib) return state.SkipWithError("library not built");
    for (auto _ : state) benchmark::DoNotOptimize(WalkTli(lib));
}
BENCHMARK(BM_WalkTli)->Unit(benchmark::kMillisecond);

// Both walks timed back to back; the counter "ratio" is TLI time / engine time.
void BM_WalkRatio(benchmark::State& state) {
    ITypeLib* lib = Library();
    if (!lib) return state.SkipWithError("library not built");
    using Clock = std::chrono::steady_clock;
    Clock::duration engine{}, tliTime{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(WalkEngine(lib));
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(WalkTli(lib));
        auto t2 = Clock::now();
        engine += t1 - t0;
        tliTime += t2 - t1;
    }
    state.counters["ratio"] = std::chrono::duration<double>(tliTime).count() /
                              std::chrono::duration<double>(engine).count();
}
BENCHMARK(BM_WalkRatio)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

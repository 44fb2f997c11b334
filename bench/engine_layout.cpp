// The in-memory engine at scale: create N interfaces of 20 methods with
// parameters, lay them out, then walk every type, function and name.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

using namespace ole;

namespace {

constexpr int kMethods = 20;

ComPtr<ITypeInfo> MakeIDispatch(ComPtr<ICreateTypeLib2>& stdlib) {
    CreateTypeLib2(SYS_WIN32, u"", stdlib.put());
    stdlib->SetGuid(kStdOleLibGuid);
    ComPtr<ICreateTypeInfo> unk, disp;
    stdlib->CreateTypeInfo(u"IUnknown", TKIND_INTERFACE, unk.put());
    unk->SetGuid(kIID_IUnknown);
    FUNCDESC f{};
    f.memid = MEMBERID_NIL;
    f.funckind = FUNC_PUREVIRTUAL;
    f.invkind = INVOKE_FUNC;
    f.callconv = CC_STDCALL;
    f.elemdescFunc.tdesc.vt = VT_HRESULT;
    for (UINT i = 0; i < 3; ++i) unk->AddFuncDesc(i, &f);
    unk->LayOut();
    stdlib->CreateTypeInfo(u"IDispatch", TKIND_INTERFACE, disp.put());
    disp->SetGuid(kIID_IDispatch);
    HREFTYPE h = 0;
    disp->AddRefTypeInfo(unk.As<ITypeInfo>().get(), &h);
    disp->AddImplType(0, h);
    for (UINT i = 0; i < 4; ++i) disp->AddFuncDesc(i, &f);
    disp->LayOut();
    return disp.As<ITypeInfo>();
}

void Build(ICreateTypeLib2* lib, ITypeInfo* dispatch, int count) {
    TYPEDESC bstr{};
    bstr.vt = VT_BSTR;
    std::vector<ELEMDESC> params(3);
    params[0].tdesc.vt = VT_I4;
    params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
    params[1].tdesc.vt = VT_BSTR;
    params[1].paramdesc.wParamFlags = PARAMFLAG_FIN;
    params[2].tdesc.vt = VT_PTR;
    params[2].tdesc.lptdesc = &bstr;
    params[2].paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    FUNCDESC f{};
    f.memid = MEMBERID_NIL;
    f.funckind = FUNC_PUREVIRTUAL;
    f.invkind = INVOKE_FUNC;
    f.callconv = CC_STDCALL;
    f.cParams = 3;
    f.lprgelemdescParam = params.data();
    f.elemdescFunc.tdesc.vt = VT_HRESULT;
    std::u16string p0 = u"index", p1 = u"text", p2 = u"result";
    for (int t = 0; t < count; ++t) {
        const std::string digits = std::to_string(t);
        std::u16string name = u"IType" + std::u16string(digits.begin(), digits.end());
        ComPtr<ICreateTypeInfo> ti;
        lib->CreateTypeInfo(name.c_str(), TKIND_INTERFACE, ti.put());
        ti->SetGuid(GUID{static_cast<uint32_t>(t + 1), 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}});
        ti->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
        HREFTYPE h = 0;
        ti->AddRefTypeInfo(dispatch, &h);
        ti->AddImplType(0, h);
        for (int m = 0; m < kMethods; ++m) {
            ti->AddFuncDesc(static_cast<UINT>(m), &f);
            std::u16string method = u"Method" + std::u16string(1, static_cast<char16_t>(u'A' + m));
            LPOLESTR names[] = {method.data(), p0.data(), p1.data(), p2.data()};
            ti->SetFuncAndParamNames(static_cast<UINT>(m), names, 4);
        }
    }
}

HRESULT LayOutAll(ITypeLib* read) {
    for (UINT i = 0; i < read->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        read->GetTypeInfo(i, ti.put());
        HRESULT hr = ti.As<ICreateTypeInfo>()->LayOut();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

size_t Walk(ITypeLib* read) {
    size_t seen = 0;
    for (UINT i = 0; i < read->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> item, ti;
        read->GetTypeInfo(i, item.put());
        HREFTYPE h = 0;
        item->GetRefTypeOfImplType(static_cast<UINT>(-1), &h);  // the interface half of the dual
        item->GetRefTypeInfo(h, ti.put());
        TYPEATTR* a = nullptr;
        ti->GetTypeAttr(&a);
        for (UINT f = 0; f < a->cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            ti->GetFuncDesc(f, &fd);
            BSTR names[8] = {};
            UINT n = 0;
            ti->GetNames(fd->memid, names, 8, &n);
            for (UINT k = 0; k < n; ++k) SysFreeString(names[k]);
            seen += n + static_cast<size_t>(fd->cParams);
            ti->ReleaseFuncDesc(fd);
        }
        ti->ReleaseTypeAttr(a);
    }
    return seen;
}

void BM_CreateLayOutWalk(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    ComPtr<ICreateTypeLib2> stdlib;
    ComPtr<ITypeInfo> dispatch = MakeIDispatch(stdlib);
    double create = 0, layout = 0, walk = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        ComPtr<ICreateTypeLib2> lib;
        CreateTypeLib2(SYS_WIN32, u"", lib.put());
        Build(lib.get(), dispatch.get(), count);
        auto t1 = Clock::now();
        ComPtr<ITypeLib> read = lib.As<ITypeLib>();
        if (FAILED(LayOutAll(read.get()))) state.SkipWithError("LayOut failed");
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(Walk(read.get()));
        auto t3 = Clock::now();
        create += std::chrono::duration<double, std::milli>(t1 - t0).count();
        layout += std::chrono::duration<double, std::milli>(t2 - t1).count();
        walk += std::chrono::duration<double, std::milli>(t3 - t2).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["create_ms"] = create / n;
    state.counters["layout_ms"] = layout / n;
    state.counters["walk_ms"] = walk / n;
    state.counters["functions"] = static_cast<double>(count) * kMethods;
}

BENCHMARK(BM_CreateLayOutWalk)->Arg(5000)->Arg(10000)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace

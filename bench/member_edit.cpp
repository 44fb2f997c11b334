// One member edit on a large interface: the member is re-created through the
// rebuild engine (layout probe, copy behind the original, names, help and
// custom data moved over, original deleted, type laid out). Measured on
// interfaces of 2,000, 4,000 and 8,000 members; the cost of one edit should
// grow at most linearly with the member count.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"

using namespace ole;
using zephrin::CustomTypeInfo;
using zephrin::CustomTypeLib;
using zephrin::CustomVarTypeInfo;
using zephrin::FuncData;
using zephrin::ModifyData;
using zephrin::ParamData;

namespace {

ComPtr<tli::VarTypeInfo> Ty(VARTYPE vt) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(vt, nullptr);
    return v->GetVarTypeInfo();
}

std::u16string Name(const char* stem, int i) {
    const std::string s = stem + std::to_string(i);
    return std::u16string(s.begin(), s.end());
}

// An interface deriving from IDispatch with count methods of two parameters.
std::shared_ptr<CustomTypeInfo> Build(CustomTypeLib& lib, int count) {
    lib.LibName(u"Bench");
    auto t = lib.AddCustomTypeInfo(u"IBig", TKIND_INTERFACE, u"{00000000-0000-0000-0000-000000000000}");
    t->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    for (int i = 0; i < count; ++i) {
        std::vector<ParamData> params(2);
        params[0].Name = u"index";
        params[0].VTInfo = Ty(VT_I4);
        params[0].Flags = PARAMFLAG_FIN;
        params[1].Name = u"text";
        params[1].VTInfo = Ty(VT_BSTR);
        params[1].Flags = PARAMFLAG_FIN;
        t->AddFunctionEx(Name("Method", i), Ty(VT_HRESULT).get(), params, FuncData{});
    }
    t->LayOut();
    return t;
}

// Changes the return type of the middle method, back and forth.
void BM_SetMemberReturnType(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    CustomTypeLib lib;
    auto t = Build(lib, count);
    const MEMBERID id = zephrin::modITypeInfoHelper::MemberIDFromName(t->ITypeInfo().get(), Name("Method", count / 2));
    const ComPtr<tli::VarTypeInfo> types[2] = {Ty(VT_I4), Ty(VT_HRESULT)};
    int k = 0;
    for (auto _ : state) t->SetMemberReturnType(id, types[k++ & 1].get());
    state.counters["ns_per_member"] = benchmark::Counter(static_cast<double>(state.iterations()) * count,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SetMemberReturnType)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMicrosecond);

// Sets and clears a flag of the middle method.
void BM_ModifyMemberFlags(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    CustomTypeLib lib;
    auto t = Build(lib, count);
    const MEMBERID id = zephrin::modITypeInfoHelper::MemberIDFromName(t->ITypeInfo().get(), Name("Method", count / 2));
    int k = 0;
    for (auto _ : state) {
        ModifyData md;
        md.FieldMask = ModifyData::kFlags;
        md.Flags = (k++ & 1) ? FUNCFLAG_FHIDDEN : 0;
        t->ModifyMember(id, 0, md);
    }
}
BENCHMARK(BM_ModifyMemberFlags)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMicrosecond);

// The engine's share: the platform calls one rebuild of a member makes at the
// least (names given up, copy added behind, named, original deleted, laid out),
// made directly on the creation interface.
void BM_EngineCallsOfOneRebuild(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    CustomTypeLib lib;
    auto t = Build(lib, count);
    ComPtr<ICreateTypeInfo2> cti = t->CreateTypeInfo();
    ComPtr<ITypeInfo> ti = t->ITypeInfo();
    const UINT mid = static_cast<UINT>(count / 2);
    std::u16string name = Name("Method", count / 2), p0 = u"index", p1 = u"text", blank;
    for (auto _ : state) {
        FUNCDESC* fd = nullptr;
        ti->GetFuncDesc(mid, &fd);
        FUNCDESC copy = *fd;
        LPOLESTR blanks[] = {blank.data()};
        cti->SetFuncAndParamNames(mid, blanks, 1);
        cti->AddFuncDesc(mid + 1, &copy);
        ti->ReleaseFuncDesc(fd);
        LPOLESTR names[] = {name.data(), p0.data(), p1.data()};
        cti->SetFuncAndParamNames(mid + 1, names, 3);
        cti->DeleteFuncDesc(mid);
        if (FAILED(cti->LayOut())) state.SkipWithError("LayOut failed");
    }
}
BENCHMARK(BM_EngineCallsOfOneRebuild)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMicrosecond);

// The engine's share of the layout probe: a trial function added at the end,
// the type laid out, the trial function deleted.
void BM_EngineLayoutProbe(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    CustomTypeLib lib;
    auto t = Build(lib, count);
    ComPtr<ICreateTypeInfo2> cti = t->CreateTypeInfo();
    for (auto _ : state) {
        FUNCDESC fd{};
        fd.memid = MEMBERID_NIL;
        fd.funckind = FUNC_PUREVIRTUAL;
        fd.invkind = INVOKE_FUNC;
        fd.callconv = CC_STDCALL;
        fd.elemdescFunc.tdesc.vt = VT_HRESULT;
        cti->AddFuncDesc(static_cast<UINT>(count), &fd);
        benchmark::DoNotOptimize(cti->LayOut());
        cti->DeleteFuncDesc(static_cast<UINT>(count));
    }
}
BENCHMARK(BM_EngineLayoutProbe)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMicrosecond);

}  // namespace

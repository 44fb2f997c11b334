// LayOut of nested records: a chain of N levels, where level k is a record
// holding a tag and a union of two copies of level k-1. Each level doubles the
// number of paths to the bottom, so laying out the top record costs time
// linear in N only when each type is sized once per layout.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

using namespace ole;

namespace {

HRESULT AddField(ICreateTypeInfo* ti, UINT index, TYPEDESC type, const std::u16string& name) {
    VARDESC v{};
    v.memid = MEMBERID_NIL;
    v.varkind = VAR_PERINSTANCE;
    v.elemdescVar.tdesc = type;
    HRESULT hr = ti->AddVarDesc(index, &v);
    if (SUCCEEDED(hr)) hr = ti->SetVarName(index, name.c_str());
    return hr;
}

HRESULT Reference(ICreateTypeInfo* from, ICreateTypeInfo* to, TYPEDESC* out) {
    out->vt = VT_USERDEFINED;
    return from->AddRefTypeInfo(ComPtr<ICreateTypeInfo>(to).As<ITypeInfo>().get(), &out->hreftype);
}

// Returns the top record of a chain of depth levels, or null.
ComPtr<ICreateTypeInfo> BuildChain(ICreateTypeLib2* lib, int depth) {
    TYPEDESC i4{};
    i4.vt = VT_I4;
    ComPtr<ICreateTypeInfo> below;
    for (int k = 0; k < depth; ++k) {
        const std::string digits = std::to_string(k);
        const std::u16string n(digits.begin(), digits.end());
        ComPtr<ICreateTypeInfo> rec;
        if (FAILED(lib->CreateTypeInfo((u"Record" + n).c_str(), TKIND_RECORD, rec.put()))) return {};
        if (FAILED(AddField(rec.get(), 0, i4, u"tag"))) return {};
        if (below) {
            ComPtr<ICreateTypeInfo> uni;
            TYPEDESC lower{}, body{};
            if (FAILED(lib->CreateTypeInfo((u"Union" + n).c_str(), TKIND_UNION, uni.put())) ||
                FAILED(Reference(uni.get(), below.get(), &lower)) || FAILED(AddField(uni.get(), 0, lower, u"a")) ||
                FAILED(AddField(uni.get(), 1, lower, u"b")) || FAILED(Reference(rec.get(), uni.get(), &body)) ||
                FAILED(AddField(rec.get(), 1, body, u"body")))
                return {};
        }
        below = std::move(rec);
    }
    return below;
}

void BM_NestedRecordLayOut(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    ComPtr<ICreateTypeLib2> lib;
    CreateTypeLib2(SYS_WIN32, u"", lib.put());
    ComPtr<ICreateTypeInfo> top = BuildChain(lib.get(), depth);
    if (!top) {
        state.SkipWithError("building the chain failed");
        return;
    }
    for (auto _ : state)
        if (FAILED(top->LayOut())) state.SkipWithError("LayOut failed");
    TYPEATTR* attr = nullptr;
    ComPtr<ITypeInfo> read = top.As<ITypeInfo>();
    if (SUCCEEDED(read->GetTypeAttr(&attr))) {
        state.counters["size"] = attr->cbSizeInstance;  // 4 bytes a level
        read->ReleaseTypeAttr(attr);
    }
    state.counters["per_level"] = benchmark::Counter(static_cast<double>(depth) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_NestedRecordLayOut)->Arg(4)->Arg(8)->Arg(12)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace

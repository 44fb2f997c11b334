// Any sequence of calls, valid or not, leaves the engine consistent: a fixed
// pseudo-random mix of edits, layouts, deletions and reads on one library.
#include <algorithm>
#include <map>
#include <random>

#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

class EngineRandomCalls : public ::testing::TestWithParam<unsigned> {};

TEST_P(EngineRandomCalls, AnySequenceOfCallsKeepsTheLibraryReadable) {
    StdBases std;
    auto lib = NewLib();
    auto read = lib.As<ITypeLib>();
    std::mt19937 rng(GetParam());
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const TYPEKIND kinds[] = {TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE,
                              TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS, TKIND_UNION};
    const FUNCKIND funckinds[] = {FUNC_PUREVIRTUAL, FUNC_STATIC, FUNC_DISPATCH};
    const VARKIND varkinds[] = {VAR_PERINSTANCE, VAR_CONST, VAR_DISPATCH};
    const INVOKEKIND invkinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT};
    std::vector<ComPtr<ICreateTypeInfo2>> slots(12);  // live types by name T0..T11
    std::vector<ComPtr<ICreateTypeInfo2>> deleted;    // deleted types still held
    std::map<HRESULT, int> addHr;

    for (int step = 0; step < 3000; ++step) {
        const int k = pick(12);
        std::u16string name = u"T" + FromUtf8(std::to_string(k));
        if (!slots[static_cast<size_t>(k)]) {
            ComPtr<ICreateTypeInfo> ti;
            ASSERT_OK(lib->CreateTypeInfo(name.c_str(), kinds[pick(8)], ti.put()));
            slots[static_cast<size_t>(k)] = ti.As<ICreateTypeInfo2>();
            continue;
        }
        if (pick(150) == 0) {
            ASSERT_OK(lib->DeleteTypeInfo(name.c_str()));
            deleted.push_back(std::move(slots[static_cast<size_t>(k)]));
            continue;
        }
        ICreateTypeInfo2* t = (!deleted.empty() && pick(30) == 0)
                                  ? deleted[static_cast<size_t>(pick(static_cast<int>(deleted.size())))].get()
                                  : slots[static_cast<size_t>(k)].get();
        ComPtr<ITypeInfo2> r = ComPtr<ICreateTypeInfo2>(t).As<ITypeInfo2>();
        TYPEATTR* a = nullptr;
        UINT nf = 0, nv = 0, ni = 0;
        if (SUCCEEDED(r->GetTypeAttr(&a))) {
            nf = a->cFuncs, nv = a->cVars, ni = a->cImplTypes;
            r->ReleaseTypeAttr(a);
        }
        switch (pick(14)) {
            case 0:
            case 1:
            {
                TYPEKIND kind = TKIND_MAX;
                (void)r->GetTypeKind(&kind);
                FUNCKIND fk = kind == TKIND_MODULE ? FUNC_STATIC : kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
                if (pick(5) == 0) fk = funckinds[pick(3)];
                UINT at = static_cast<UINT>(pick(10) ? pick(static_cast<int>(nf) + 1) : static_cast<int>(nf) + 1);
                addHr[AddFunc(t, at, fk, invkinds[pick(3)],
                              VT_HRESULT, {VT_I4}, pick(2) ? MEMBERID_NIL : 0x100 + pick(4),
                              static_cast<SHORT>(pick(3) ? 0 : 4 * pick(12)))]++;
                break;
            }
            case 2: {
                Variant v(int32_t{7});
                (void)AddVar(t, static_cast<UINT>(pick(static_cast<int>(nv) + 2)), varkinds[pick(3)], VT_I4, nullptr,
                             v.ptr());
                break;
            }
            case 3:
                (void)SetNames(t, static_cast<UINT>(pick(static_cast<int>(nf) + 1)),
                               {pick(3) ? u"N" + FromUtf8(std::to_string(pick(5))) : u"", u"p"});
                break;
            case 4:
                (void)t->SetVarName(static_cast<UINT>(pick(static_cast<int>(nv) + 1)),
                                    (u"V" + FromUtf8(std::to_string(pick(5)))).c_str());
                break;
            case 5:
                (void)t->DeleteFuncDesc(static_cast<UINT>(pick(static_cast<int>(nf) + 1)));
                break;
            case 6:
                (void)t->DeleteVarDesc(static_cast<UINT>(pick(static_cast<int>(nv) + 1)));
                break;
            case 7: {
                ITypeInfo* base = pick(2) ? std.dispatch.get() : static_cast<ITypeInfo*>(r.get());
                if (pick(2)) {
                    ComPtr<ITypeInfo> other;
                    if (SUCCEEDED(read->GetTypeInfo(static_cast<UINT>(pick(12)), other.put()))) {
                        HREFTYPE h = 0;
                        if (SUCCEEDED(t->AddRefTypeInfo(other.get(), &h))) (void)t->AddImplType(ni, h);
                    }
                } else {
                    HREFTYPE h = 0;
                    if (SUCCEEDED(t->AddRefTypeInfo(base, &h))) (void)t->AddImplType(static_cast<UINT>(pick(2)), h);
                }
                break;
            }
            case 8:
                (void)t->DeleteImplType(static_cast<UINT>(pick(static_cast<int>(ni) + 1)));
                break;
            case 9:
                (void)t->LayOut();
                break;
            case 10:
                (void)t->SetTypeFlags(pick(2) ? TYPEFLAG_FDUAL : 0);
                break;
            case 11: {
                TYPEDESC td = Td(pick(2) ? VT_R8 : VT_USERDEFINED);
                td.hreftype = 0;
                (void)t->SetTypeDescAlias(&td);
                break;
            }
            case 12:
            {
                // A case-only rename of itself, or a clash with a live type.
                int other = pick(12);
                std::u16string to = slots[static_cast<size_t>(other)] ? u"T" + FromUtf8(std::to_string(other))
                                                                      : u"t" + FromUtf8(std::to_string(k));
                HRESULT hr = t->SetName(to.c_str());
                if (other != k && slots[static_cast<size_t>(other)]) {
                    EXPECT_NE(S_OK, hr);
                }
                break;
            }
            default: {
                // Reads through the library item, which may be a dual's dispatch view.
                ComPtr<ITypeInfo> item;
                if (SUCCEEDED(read->GetTypeInfo(static_cast<UINT>(pick(12)), item.put()))) {
                    TYPEATTR* ia = nullptr;
                    if (SUCCEEDED(item->GetTypeAttr(&ia))) {
                        for (UINT f = 0; f < ia->cFuncs; ++f) {
                            FUNCDESC* fd = nullptr;
                            if (SUCCEEDED(item->GetFuncDesc(f, &fd))) {
                                (void)NamesOf(item.get(), fd->memid);
                                ComPtr<ITypeInfo> target;
                                for (SHORT p = 0; p < fd->cParams; ++p)
                                    (void)item->GetRefTypeInfo(fd->lprgelemdescParam[p].tdesc.hreftype, target.put());
                                item->ReleaseFuncDesc(fd);
                            }
                        }
                        item->ReleaseTypeAttr(ia);
                    }
                    HREFTYPE h = 0;
                    ComPtr<ITypeInfo> half;
                    // A dual's interface half is always there; the interface a
                    // dispinterface is declared over may have been deleted.
                    if (SUCCEEDED(item->GetRefTypeOfImplType(static_cast<UINT>(-1), &h))) {
                        HRESULT hr = item->GetRefTypeInfo(h, half.put());
                        if (h == HREFTYPE_DUAL_PARTNER) {
                            EXPECT_OK(hr);
                        }
                    }
                }
                break;
            }
        }
        // What the type reports stays consistent with itself.
        if (SUCCEEDED(r->GetTypeAttr(&a))) {
            for (UINT f = 0; f < a->cFuncs; ++f) {
                FUNCDESC* fd = nullptr;
                ASSERT_OK(r->GetFuncDesc(f, &fd));
                UINT back = 0;
                ASSERT_OK(r->GetFuncIndexOfMemId(fd->memid, fd->invkind, &back));
                EXPECT_LE(back, f);
                r->ReleaseFuncDesc(fd);
            }
            r->ReleaseTypeAttr(a);
        }
    }
    UINT funcs = 0;
    for (UINT i = 0; i < read->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(read->GetTypeInfo(i, ti.put()));
        funcs += Attr(ti.get()).cFuncs;
    }
    EXPECT_GT(funcs, 0u);
    EXPECT_GT(addHr[S_OK], 0);
    std::shared_ptr<const LibraryData> data;
    HRESULT hr = GetLibraryData(read.get(), true, &data);
    EXPECT_TRUE(SUCCEEDED(hr) || hr == TYPE_E_INVALIDSTATE || hr == TYPE_E_UNDEFINEDTYPE ||
                hr == TYPE_E_CIRCULARTYPE)
        << std::hex << hr;
}

INSTANTIATE_TEST_SUITE_P(Seeds, EngineRandomCalls, ::testing::Values(20261206u, 1u, 77u, 4242u),
                         [](const auto& info) { return "Seed" + std::to_string(info.param); });

}  // namespace

// Call by call as the platform answers: stored default values, unnamed members
// and parameters, binding through ITypeComp and the outputs of failed calls.
#include "support/EngineTestSupport.h"
#include "support/TempDir.h"

using namespace enginetest;

namespace {

VARTYPE DefaultType(ITypeInfo* ti, UINT func, UINT param) {
    FUNCDESC* f = nullptr;
    EXPECT_OK(ti->GetFuncDesc(func, &f));
    if (!f) return VT_ILLEGAL;
    const PARAMDESCEX* ex = f->lprgelemdescParam[param].paramdesc.pparamdescex;
    const VARTYPE vt = ex ? ex->varDefaultValue.vt : VARTYPE{VT_EMPTY};
    const LONG value = ex ? ex->varDefaultValue.lVal : 0;
    ti->ReleaseFuncDesc(f);
    EXPECT_EQ(static_cast<LONG>(param) + 7, value);
    return vt;
}

TEST(EngineCalls, IntAndUintDefaultsAreKeptAsI4AndUi4UnlessTheParameterTakesAVariant) {
    testsupport::TempDir dir;
    const std::u16string path = FromUtf8((dir / "defaults.tlb").string());
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()));
    ASSERT_OK(lib->SetName(u"Defaults"));
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    const USHORT opt = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    std::vector<ELEMDESC> params{Elem(VT_INT, opt), Elem(VT_UINT, opt), Elem(VT_VARIANT, opt)};
    const Variant values[] = {Variant::Int(7), Variant::UInt(8), Variant::Int(9)};
    PARAMDESCEX ex[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        ex[i].cBytes = sizeof(PARAMDESCEX);
        ex[i].varDefaultValue = values[i].get();
        params[i].paramdesc.pparamdescex = &ex[i];
    }
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, params, 1);
    ASSERT_OK(foo->AddFuncDesc(0, &f));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Go", u"a", u"b", u"c"}));
    const VARTYPE expected[] = {VT_I4, VT_UI4, VT_INT};
    for (UINT i = 0; i < 3; ++i) EXPECT_EQ(expected[i], DefaultType(Read(foo).get(), 0, i));
    ASSERT_OK(foo->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLib(path.c_str(), back.put()));
    ComPtr<ITypeInfo> loaded;
    ASSERT_OK(back->GetTypeInfo(0, loaded.put()));
    for (UINT i = 0; i < 3; ++i) EXPECT_EQ(expected[i], DefaultType(loaded.get(), 0, i));
}

TEST(EngineCalls, UnnamedMembersAndParametersHaveNullNames) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4, VT_I4}, 1));
    // The accessors take automatic ids; only the get is named.
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, {}));
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUTREF, VT_HRESULT, {VT_UNKNOWN}));
    ASSERT_OK(SetNames(foo.get(), 1, {u"Item"}));
    std::u16string go = u"Go", b = u"b";
    LPOLESTR names[] = {go.data(), nullptr, b.data()};
    ASSERT_OK(foo->SetFuncAndParamNames(0, names, 3));
    names[0] = nullptr;
    EXPECT_EQ(E_INVALIDARG, foo->SetFuncAndParamNames(0, names, 1));

    auto ti = Read(foo);
    BSTR got[3] = {};
    UINT n = 0;
    ASSERT_OK(ti->GetNames(1, got, 3, &n));
    ASSERT_EQ(3u, n);
    EXPECT_EQ(u"Go", BstrView(got[0]));
    EXPECT_EQ(nullptr, got[1]);
    EXPECT_EQ(u"b", BstrView(got[2]));
    for (BSTR s : got) SysFreeString(s);
    const MEMBERID putRef = FuncAt(ti.get(), 2).memid;
    for (MEMBERID id : {putRef, 1}) {
        BSTR sentinel = SysAllocString(u"x"), name = sentinel;
        ASSERT_OK(ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr));
        if (name != sentinel) SysFreeString(sentinel);
        if (id == putRef) {
            EXPECT_EQ(nullptr, name);
        } else {
            EXPECT_EQ(u"Go", BstrView(name));
        }
        SysFreeString(name);
    }
}

TEST(EngineCalls, BindingRefusesTheWrongInvokeKindAndBindsTypeNames) {
    auto lib = NewLib();
    auto mod = NewType(lib.get(), u"Native", TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 0x60000000));
    ASSERT_OK(SetNames(mod.get(), 0, {u"Tick"}));
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, 1));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Go"}));
    auto shade = NewType(lib.get(), u"Shade", TKIND_ENUM);
    Variant zero = Variant::Int(0);
    ASSERT_OK(AddVar(shade.get(), 0, VAR_CONST, VT_INT, u"Light", zero.ptr(), 0x40000000));

    ComPtr<ITypeComp> libComp, fooComp;
    ASSERT_OK(lib.As<ITypeLib>()->GetTypeComp(libComp.put()));
    ASSERT_OK(Read(foo)->GetTypeComp(fooComp.put()));
    auto bind = [](ITypeComp* comp, std::u16string name, WORD flags, DESCKIND* kind, BINDPTR* ptr) {
        ComPtr<ITypeInfo> ti;
        return comp->Bind(name.data(), 0, flags, ti.put(), kind, ptr);
    };
    DESCKIND kind = DESCKIND_MAX;
    BINDPTR ptr{};
    EXPECT_EQ(TYPE_E_TYPEMISMATCH, bind(libComp.get(), u"Tick", INVOKE_PROPERTYGET, &kind, &ptr));
    EXPECT_EQ(DESCKIND_NONE, kind);
    EXPECT_EQ(TYPE_E_TYPEMISMATCH, bind(fooComp.get(), u"go", INVOKE_PROPERTYPUT, &kind, &ptr));
    ASSERT_OK(bind(fooComp.get(), u"go", INVOKE_FUNC, &kind, &ptr));
    EXPECT_EQ(DESCKIND_FUNCDESC, kind);
    Read(foo)->ReleaseFuncDesc(ptr.lpfuncdesc);
    ASSERT_OK(bind(libComp.get(), u"Shade", 0, &kind, &ptr));
    EXPECT_EQ(DESCKIND_TYPECOMP, kind);
    ptr.lptcomp->Release();

    std::u16string name = u"IFoo";
    ITypeInfo* untouched = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(E_INVALIDARG, libComp->BindType(name.data(), 0, &untouched, nullptr));
    EXPECT_EQ(E_INVALIDARG, fooComp->BindType(name.data(), 0, &untouched, nullptr));
    EXPECT_EQ(reinterpret_cast<ITypeInfo*>(0x1), untouched);
}

TEST(EngineCalls, VtableFactsAndDispatchabilityExistAsSoonAsAMemberIsAdded) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    auto ti = Read(foo);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    EXPECT_NE(0, Attr(ti.get()).wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    ASSERT_OK(foo->DeleteImplType(0));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    for (UINT i = 0; i < 3; ++i) {
        ASSERT_OK(AddFunc(foo.get(), i, FUNC_PUREVIRTUAL));
        EXPECT_EQ(static_cast<SHORT>(12 + 4 * i), FuncAt(ti.get(), i).oVft);
        EXPECT_EQ(16 + 4 * i, Attr(ti.get()).cbSizeVft);
    }
    ASSERT_OK(foo->DeleteFuncDesc(2));
    EXPECT_EQ(20, Attr(ti.get()).cbSizeVft);
    ASSERT_OK(foo->LayOut());
    EXPECT_EQ(TYPEFLAG_FDISPATCHABLE, Attr(ti.get()).wTypeFlags);
}

TEST(EngineCalls, LoadingWithoutAFileNameLeavesTheOutputAlone) {
    ITypeLib* untouched = reinterpret_cast<ITypeLib*>(0x1);
    EXPECT_EQ(E_INVALIDARG, LoadTypeLib(nullptr, &untouched));
    EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(nullptr, REGKIND_NONE, &untouched));
    EXPECT_EQ(reinterpret_cast<ITypeLib*>(0x1), untouched);
    // The file name is checked first.
    EXPECT_EQ(E_INVALIDARG, LoadTypeLib(nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(nullptr, REGKIND_NONE, nullptr));
}

}  // namespace

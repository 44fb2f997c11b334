// What a created library keeps of the parts most members lack: schemas,
// custom data on every item, and member lists that a first layout tightens
// while readers and later edits go on as before.
#include "support/EngineTestSupport.h"

#include <functional>

#include "platform/automation/CustData.h"

using namespace enginetest;

namespace {

constexpr GUID kOne = {0x5C4E3A01, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kTwo = {0x5C4E3A02, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}};

std::u16string TypeSchema(ITypeInfo* ti) {
    TYPEATTR* a = nullptr;
    EXPECT_OK(ti->GetTypeAttr(&a));
    std::u16string r = a->lpstrSchema ? u"[" + std::u16string(a->lpstrSchema) + u"]" : u"null";
    ti->ReleaseTypeAttr(a);
    return r;
}

std::u16string VarSchema(ITypeInfo* ti, UINT index) {
    VARDESC* v = nullptr;
    EXPECT_OK(ti->GetVarDesc(index, &v));
    std::u16string r = v->lpstrSchema ? u"[" + std::u16string(v->lpstrSchema) + u"]" : u"null";
    ti->ReleaseVarDesc(v);
    return r;
}

TEST(EngineMemberDetails, AnEmptySchemaReadsAsNone) {
    auto lib = NewLib();
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    auto ti = Read(rec);
    EXPECT_EQ(TypeSchema(ti.get()), u"null");
    ASSERT_OK(rec->SetSchema(std::u16string(u"").data()));
    EXPECT_EQ(TypeSchema(ti.get()), u"null");
    ASSERT_OK(rec->SetSchema(std::u16string(u"table").data()));
    EXPECT_EQ(TypeSchema(ti.get()), u"[table]");
    ASSERT_OK(rec->SetSchema(std::u16string(u"").data()));
    EXPECT_EQ(TypeSchema(ti.get()), u"null");
    EXPECT_EQ(rec->SetSchema(nullptr), E_INVALIDARG);

    std::u16string none, column = u"column";
    VARDESC v{};
    v.memid = MEMBERID_NIL;
    v.varkind = VAR_PERINSTANCE;
    v.elemdescVar.tdesc.vt = VT_I4;
    v.lpstrSchema = none.data();
    ASSERT_OK(rec->AddVarDesc(0, &v));
    v.lpstrSchema = column.data();
    ASSERT_OK(rec->AddVarDesc(1, &v));
    v.lpstrSchema = nullptr;
    ASSERT_OK(rec->AddVarDesc(2, &v));
    ASSERT_OK(rec->LayOut());
    EXPECT_EQ(VarSchema(ti.get(), 0), u"null");
    EXPECT_EQ(VarSchema(ti.get(), 1), u"[column]");
    EXPECT_EQ(VarSchema(ti.get(), 2), u"null");
}

std::vector<std::pair<GUID, int32_t>> Items(const CUSTDATA& cd) {
    std::vector<std::pair<GUID, int32_t>> r;
    for (DWORD i = 0; i < cd.cCustData; ++i) r.emplace_back(cd.prgCustData[i].guid, cd.prgCustData[i].varValue.lVal);
    return r;
}

TEST(EngineMemberDetails, CustomDataOnEveryItemKeepsItsKeysInTheOrderFirstSet) {
    auto lib = NewLib();
    StdBases std;
    auto co = NewType(lib.get(), u"Thing", TKIND_COCLASS);
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}));
    ASSERT_OK(foo->LayOut());
    ASSERT_OK(co->AddImplType(0, RefTo(co.get(), Read(foo).get())));
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_I4, u"a"));

    // Each setter, and each reader of one item and of all items.
    struct Item {
        const char* what;
        std::function<HRESULT(const GUID&, VARIANT*)> set;
        std::function<HRESULT(const GUID&, VARIANT*)> get;
        std::function<HRESULT(CUSTDATA*)> all;
    };
    auto fooRead = Read(foo);
    auto coRead = Read(co);
    auto recRead = Read(rec);
    auto libRead = lib.As<ITypeLib2>();
    const std::vector<Item> items = {
        {"library", [&](auto& g, auto* v) { return lib->SetCustData(g, v); },
         [&](auto& g, auto* v) { return libRead->GetCustData(g, v); },
         [&](auto* cd) { return libRead->GetAllCustData(cd); }},
        {"type", [&](auto& g, auto* v) { return foo->SetCustData(g, v); },
         [&](auto& g, auto* v) { return fooRead->GetCustData(g, v); },
         [&](auto* cd) { return fooRead->GetAllCustData(cd); }},
        {"function", [&](auto& g, auto* v) { return foo->SetFuncCustData(0, g, v); },
         [&](auto& g, auto* v) { return fooRead->GetFuncCustData(0, g, v); },
         [&](auto* cd) { return fooRead->GetAllFuncCustData(0, cd); }},
        {"parameter", [&](auto& g, auto* v) { return foo->SetParamCustData(0, 0, g, v); },
         [&](auto& g, auto* v) { return fooRead->GetParamCustData(0, 0, g, v); },
         [&](auto* cd) { return fooRead->GetAllParamCustData(0, 0, cd); }},
        {"variable", [&](auto& g, auto* v) { return rec->SetVarCustData(0, g, v); },
         [&](auto& g, auto* v) { return recRead->GetVarCustData(0, g, v); },
         [&](auto* cd) { return recRead->GetAllVarCustData(0, cd); }},
        {"implemented type", [&](auto& g, auto* v) { return co->SetImplTypeCustData(0, g, v); },
         [&](auto& g, auto* v) { return coRead->GetImplTypeCustData(0, g, v); },
         [&](auto* cd) { return coRead->GetAllImplTypeCustData(0, cd); }},
    };
    for (const Item& item : items) {
        SCOPED_TRACE(item.what);
        CUSTDATA cd{};
        ASSERT_OK(item.all(&cd));
        EXPECT_EQ(cd.cCustData, 0u);
        EXPECT_EQ(cd.prgCustData, nullptr);
        Variant got;
        ASSERT_OK(item.get(kOne, got.put()));
        EXPECT_EQ(got.vt(), VT_EMPTY);

        Variant one(int32_t(1)), two(int32_t(2)), three(int32_t(3));
        ASSERT_OK(item.set(kTwo, two.ptr()));
        ASSERT_OK(item.set(kOne, one.ptr()));
        ASSERT_OK(item.set(kTwo, three.ptr()));
        ASSERT_OK(item.get(kTwo, got.put()));
        EXPECT_EQ(got.get().lVal, 3);
        ASSERT_OK(item.all(&cd));
        EXPECT_EQ(Items(cd), (std::vector<std::pair<GUID, int32_t>>{{kTwo, 3}, {kOne, 1}}));
        ClearCustData(&cd);
    }
}

std::vector<std::u16string> FuncNames(ITypeInfo* ti) {
    std::vector<std::u16string> r;
    for (UINT i = 0; i < Attr(ti).cFuncs; ++i) {
        auto names = NamesOf(ti, FuncAt(ti, i).memid, 1);
        r.push_back(names.empty() ? u"" : names[0]);
    }
    return r;
}

// A dual's dispatch view points at the interface's functions: a first layout
// that moves them must not leave it reading where they were.
TEST(EngineMemberDetails, MembersMovedByAFirstLayoutReadTheSameAndTakeLaterEdits) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    std::vector<std::u16string> names;
    for (UINT i = 0; i < 100; ++i) {
        names.push_back(u"F" + FromUtf8(std::to_string(i)));
        ASSERT_OK(AddFunc(foo.get(), i, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}));
        ASSERT_OK(SetNames(foo.get(), i, {names.back(), u"value"}));
    }
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    for (UINT i = 0; i < 40; ++i)
        ASSERT_OK(AddVar(rec.get(), i, VAR_PERINSTANCE, VT_I4, (u"v" + FromUtf8(std::to_string(i))).c_str()));

    auto ti = Read(foo);
    HREFTYPE h = 0;
    ASSERT_OK(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h));
    ComPtr<ITypeInfo> view;
    ASSERT_OK(ti->GetRefTypeInfo(h, view.put()));
    std::vector<std::u16string> viewNames = FuncNames(view.get());  // the view is built now
    ASSERT_EQ(viewNames.size(), 107u);

    // A layout that fails changes nothing; the one that works moves the lists.
    ole::testing::FailNextCall("LayOut", E_OUTOFMEMORY);
    EXPECT_EQ(foo->LayOut(), E_OUTOFMEMORY);
    EXPECT_EQ(FuncNames(ti.get()), names);
    ASSERT_OK(foo->LayOut());
    ASSERT_OK(rec->LayOut());
    EXPECT_EQ(FuncNames(ti.get()), names);
    EXPECT_EQ(FuncNames(view.get()), viewNames);
    EXPECT_EQ(VarAt(Read(rec).get(), 39).oInst, 156u);

    // Deleted down to none and added again, then laid out again.
    for (UINT i = 0; i < 100; ++i) ASSERT_OK(foo->DeleteFuncDesc(0));
    for (UINT i = 0; i < 40; ++i) ASSERT_OK(rec->DeleteVarDesc(0));
    EXPECT_EQ(FuncNames(view.get()).size(), 7u);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Again", u"value"}));
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_I2, u"w"));
    ASSERT_OK(foo->LayOut());
    ASSERT_OK(rec->LayOut());
    EXPECT_EQ(FuncNames(ti.get()), std::vector<std::u16string>{u"Again"});
    EXPECT_EQ(FuncNames(view.get()).back(), u"Again");
    EXPECT_EQ(Attr(Read(rec).get()).cbSizeInstance, 2u);
}

}  // namespace

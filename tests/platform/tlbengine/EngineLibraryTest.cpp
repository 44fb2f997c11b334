// Library-level behaviour of created libraries: attributes, identity, type
// creation and deletion, custom data and name binding.
#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

const GUID kMarker = {0x97BE1160, 0x2A99, 0x11D6, {0x84, 0xE0, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
const GUID kLibGuid = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(EngineLibrary, NewLibraryIsAnUnsavedEmptyLibraryAnsweringAllFourInterfaces) {
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, u"", lib.put()));
    ComPtr<ITypeLib> read = lib.As<ITypeLib>();
    ASSERT_TRUE(read);
    EXPECT_TRUE(lib.As<ITypeLib2>());
    EXPECT_TRUE(read.As<ICreateTypeLib>());
    // One object: the same IUnknown whichever interface is asked.
    EXPECT_EQ(lib.As<IUnknown>().get(), read.As<IUnknown>().get());

    EXPECT_EQ(0u, read->GetTypeInfoCount());
    BStr name;
    ASSERT_OK(read->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, name.get());  // no name yet, not an empty one
    std::u16string path = u"x";
    ASSERT_OK(GetTypeLibFilePath(read.get(), &path));
    EXPECT_EQ(u"", path);

    ComPtr<ICreateTypeLib2> none;
    EXPECT_EQ(E_INVALIDARG, CreateTypeLib2(SYS_WIN32, nullptr, none.put()));
}

TEST(EngineLibrary, CustomDataReplacesAnItemOfTheSameGuid) {
    auto lib = NewLib();
    auto read = lib.As<ITypeLib2>();
    Variant value;
    ASSERT_OK(read->GetCustData(kMarker, value.put()));
    EXPECT_EQ(VT_EMPTY, value.vt());  // absent: S_OK and VT_EMPTY

    Variant yes(true);
    ASSERT_OK(lib->SetCustData(kMarker, yes.ptr()));
    Variant text(u"second");
    ASSERT_OK(lib->SetCustData(kLibGuid, text.ptr()));
    Variant number(int32_t{42});
    ASSERT_OK(lib->SetCustData(kMarker, number.ptr()));
    CUSTDATA all{};
    ASSERT_OK(read->GetAllCustData(&all));
    ASSERT_EQ(2u, all.cCustData);
    EXPECT_EQ(kMarker, all.prgCustData[0].guid);
    EXPECT_EQ(VT_I4, all.prgCustData[0].varValue.vt);
    EXPECT_EQ(42, all.prgCustData[0].varValue.lVal);
    EXPECT_EQ(u"second", BstrView(all.prgCustData[1].varValue.bstrVal));
    ClearCustData(&all);
    EXPECT_EQ(0u, all.cCustData);
    EXPECT_EQ(nullptr, all.prgCustData);

    Variant empty;
    EXPECT_EQ(DISP_E_BADVARTYPE, lib->SetCustData(kLibGuid, empty.ptr()));
    EXPECT_EQ(E_INVALIDARG, lib->SetCustData(kLibGuid, nullptr));
}

TEST(EngineLibrary, TypeNamesAreUniqueCaseInsensitively) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ComPtr<ICreateTypeInfo> again;
    EXPECT_EQ(TYPE_E_NAMECONFLICT, lib->CreateTypeInfo(u"ifoo", TKIND_RECORD, again.put()));
    EXPECT_EQ(E_INVALIDARG, lib->CreateTypeInfo(nullptr, TKIND_RECORD, again.put()));
    EXPECT_EQ(1u, lib.As<ITypeLib>()->GetTypeInfoCount());

    TYPEATTR a = Attr(Read(foo).get());
    EXPECT_EQ(GUID_NULL, a.guid);
    EXPECT_EQ(0, a.wTypeFlags);
    EXPECT_EQ(0, a.wMajorVerNum);
    EXPECT_EQ(4u, a.cbSizeInstance);

    auto bar = NewType(lib.get(), u"Bar", TKIND_RECORD);
    EXPECT_EQ(TYPE_E_NAMECONFLICT, bar->SetName(u"IFOO"));
    ASSERT_OK(bar->SetName(u"BAR"));  // a case-only rename of itself
    ASSERT_OK(bar->SetName(u"Baz"));
    ComPtr<ICreateTypeInfo> bar2;
    ASSERT_OK(lib->CreateTypeInfo(u"Bar", TKIND_RECORD, bar2.put()));  // the old name is free again
    EXPECT_EQ(u"Baz", NameOf(Read(bar).get()));
}

TEST(EngineLibrary, TypeGuidsAreUnique) {
    auto lib = NewLib();
    auto read = lib.As<ITypeLib>();
    const GUID g = {0x5E1A9000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}};
    const GUID h = {0x5E1A9001, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}};
    auto a = NewType(lib.get(), u"A", TKIND_RECORD);
    auto b = NewType(lib.get(), u"B", TKIND_RECORD);
    ASSERT_OK(a->SetGuid(g));
    ASSERT_OK(a->SetGuid(g));  // its own GUID again
    EXPECT_EQ(TYPE_E_DUPLICATEID, b->SetGuid(g));
    EXPECT_EQ(GUID_NULL, Attr(Read(b).get()).guid);
    ASSERT_OK(b->SetGuid(GUID_NULL));  // any number of types have none
    // Once A moves on, its old GUID is free.
    ASSERT_OK(a->SetGuid(h));
    ASSERT_OK(b->SetGuid(g));
    ComPtr<ITypeInfo> found;
    ASSERT_OK(read->GetTypeInfoOfGuid(g, found.put()));
    EXPECT_EQ(Read(b).get(), found.get());
    ASSERT_OK(read->GetTypeInfoOfGuid(h, found.put()));
    EXPECT_EQ(Read(a).get(), found.get());
}

TEST(EngineLibrary, EveryRouteToATypeGivesTheSameObject) {
    auto lib = NewLib();
    auto read = lib.As<ITypeLib>();
    NewType(lib.get(), u"First", TKIND_RECORD);
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    const GUID g = {0xABCDEF01, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    ASSERT_OK(foo->SetGuid(g));

    ComPtr<ITypeInfo> byIndex, byIndex2, byGuid, byRef;
    ASSERT_OK(read->GetTypeInfo(1, byIndex.put()));
    ASSERT_OK(read->GetTypeInfo(1, byIndex2.put()));
    ASSERT_OK(read->GetTypeInfoOfGuid(g, byGuid.put()));
    EXPECT_EQ(byIndex.get(), byIndex2.get());
    EXPECT_EQ(byIndex.get(), byGuid.get());
    EXPECT_EQ(byIndex.get(), Read(foo).get());
    HREFTYPE self = RefTo(foo.get(), byIndex.get());
    EXPECT_EQ(self, RefTo(foo.get(), byIndex.get()));  // idempotent
    ASSERT_OK(byIndex->GetRefTypeInfo(self, byRef.put()));
    EXPECT_EQ(byIndex.get(), byRef.get());

    ComPtr<ITypeLib> container;
    UINT index = 9;
    ASSERT_OK(byIndex->GetContainingTypeLib(container.put(), &index));
    EXPECT_EQ(read.get(), container.get());
    EXPECT_EQ(1u, index);

    ComPtr<ITypeInfo> none;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, read->GetTypeInfoOfGuid(GUID_NULL, none.put()));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, read->GetTypeInfoOfGuid(kLibGuid, none.put()));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, read->GetTypeInfo(2, none.put()));
}

TEST(EngineLibrary, DeletedTypeStaysAliveAndFailsCleanly) {
    auto lib = NewLib();
    auto read = lib.As<ITypeLib>();
    NewType(lib.get(), u"A", TKIND_RECORD);
    auto b = NewType(lib.get(), u"B", TKIND_RECORD);
    auto c = NewType(lib.get(), u"C", TKIND_RECORD);
    auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
    ComPtr<ITypeInfo> heldB = Read(b);
    HREFTYPE toB = RefTo(user.get(), heldB.get());
    std::vector<ELEMDESC> params{Elem(VT_USERDEFINED)};
    params[0].tdesc.hreftype = toB;
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, params);
    ASSERT_OK(user->AddFuncDesc(0, &f));

    ASSERT_OK(lib->DeleteTypeInfo(u"b"));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->DeleteTypeInfo(u"b"));
    EXPECT_EQ(3u, read->GetTypeInfoCount());
    UINT index = 0;
    ComPtr<ITypeLib> container;
    ASSERT_OK(Read(c)->GetContainingTypeLib(container.put(), &index));
    EXPECT_EQ(1u, index);

    TYPEATTR* attr = nullptr;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, heldB->GetTypeAttr(&attr));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, b->SetGuid(kLibGuid));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, b->LayOut());
    EXPECT_TRUE(NamesOf(heldB.get(), MEMBERID_NIL).empty());
    ComPtr<ITypeInfo> gone;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, Read(user)->GetRefTypeInfo(toB, gone.put()));
    EXPECT_OK(user->LayOut());
    ComPtr<ICreateTypeInfo> again;
    EXPECT_OK(lib->CreateTypeInfo(u"B", TKIND_ENUM, again.put()));
    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(read.get(), true, &data));
    ASSERT_EQ(4u, data->types.size());
    bool sawMissing = false;
    for (const RefData& r : data->refs) sawMissing |= r.href == toB && r.kind == RefKind::Missing;
    EXPECT_TRUE(sawMissing);
}

TEST(EngineLibrary, BindTypeFindsTypesByNameWithHashZero) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ComPtr<ITypeComp> comp;
    ASSERT_OK(lib.As<ITypeLib>()->GetTypeComp(comp.put()));
    ComPtr<ITypeInfo> found;
    ComPtr<ITypeComp> inner;
    std::u16string name = u"ifoo";
    ASSERT_OK(comp->BindType(name.data(), 0, found.put(), inner.put()));
    EXPECT_EQ(Read(foo).get(), found.get());
    std::u16string missing = u"Nope";
    ASSERT_OK(comp->BindType(missing.data(), 0, found.put(), inner.put()));
    EXPECT_FALSE(found);
    EXPECT_FALSE(inner);
}

TEST(EngineLibrary, InjectedFailureFiresOnceAfterTheSkippedCalls) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY, 1);
    EXPECT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    EXPECT_EQ(E_OUTOFMEMORY, AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    EXPECT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    EXPECT_EQ(2, Attr(Read(foo).get()).cFuncs);
    ole::testing::FailNextCall("LayOut", TYPE_E_INVALIDSTATE);
    ole::testing::ClearInjectedFailures();
    EXPECT_OK(foo->LayOut());
    ole::testing::FailNextCall("ICreateTypeInfo2::SetName", E_ACCESSDENIED);
    EXPECT_OK(lib->SetName(u"Lib"));  // the library's SetName is another method
    EXPECT_EQ(E_ACCESSDENIED, foo->SetName(u"IBar"));
    EXPECT_EQ(u"IFoo", NameOf(Read(foo).get()));
}

TEST(EngineLibrary, IsNameAndFindNameReportTheStoredSpelling) {
    auto lib = NewLib();
    auto read = lib.As<ITypeLib>();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, 42));
    ASSERT_OK(SetNames(foo.get(), 0, {u"DoIt", u"Count"}));
    std::u16string buf = u"doit";
    INT found = 0;
    ASSERT_OK(read->IsName(buf.data(), 0, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(u"DoIt", buf);
    buf = u"COUNT";
    ASSERT_OK(read->IsName(buf.data(), 0, &found));
    EXPECT_EQ(u"Count", buf);
    buf = u"nothing";
    ASSERT_OK(read->IsName(buf.data(), 0, &found));
    EXPECT_FALSE(found);

    ITypeInfo* infos[2] = {};
    MEMBERID ids[2] = {};
    USHORT n = 2;
    buf = u"DOIT";
    ASSERT_OK(read->FindName(buf.data(), 0, infos, ids, &n));
    ASSERT_EQ(1, n);
    EXPECT_EQ(u"DoIt", buf);
    EXPECT_EQ(Read(foo).get(), infos[0]);
    EXPECT_EQ(42, ids[0]);
    infos[0]->Release();
    ULONG names = 0, chars = 0;
    ASSERT_OK(lib.As<ITypeLib2>()->GetLibStatistics(&names, &chars));
    EXPECT_EQ(3u, names);  // IFoo, DoIt, Count
    EXPECT_EQ(13u, chars);
    // A spelling that differs only in case counts apart, as it is stored apart.
    auto bar = NewType(lib.get(), u"IBar", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(bar.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1));
    ASSERT_OK(SetNames(bar.get(), 0, {u"COUNT"}));
    ASSERT_OK(lib.As<ITypeLib2>()->GetLibStatistics(&names, &chars));
    EXPECT_EQ(5u, names);  // and IBar, COUNT
    EXPECT_EQ(22u, chars);
}

}  // namespace

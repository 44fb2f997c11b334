// Copying members between types of the same kind under names free in the
// destination, saved and reloaded.
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

class CopyMember : public ModelTest {
protected:
    void SetUp() override {
        source = Add(u"DSource", TKIND_DISPATCH);
        Func(*source, u"Item", {Param(u"index", VT_I4)}, INVOKE_PROPERTYGET, MEMBERID_NIL, VT_BSTR);
        Func(*source, u"Item", {Param(u"index", VT_I4), Param(u"value", VT_BSTR)}, INVOKE_PROPERTYPUT,
             Id(*source, u"Item"));
        Func(*source, u"Refresh", {}, INVOKE_FUNC, 12);
        source->AddProperty(u"Width", Ty(VT_I4).get(), -1, 0, -1);
        HelpData hd;
        hd.DocString = u"An item";
        source->ModifyMemberHelpData(Id(*source, u"Item"), hd, HelpData::kDocString);
        Variant tag(int32_t{3});
        ASSERT_OK(source->CreateTypeInfo()->SetFuncCustData(0, CustKey(1), tag.ptr()));
        dest = Add(u"DDest", TKIND_DISPATCH);
        Func(*dest, u"Item");
        dest->AddProperty(u"Height", Ty(VT_I4).get(), -1, 0, -1);
    }
    ComPtr<tli::TypeInfo> Source() { return lib.GetTypeInfo(u"DSource"); }

    std::shared_ptr<CustomTypeInfo> source, dest;
    std::u16string name;
    int32_t id = 0, kinds = -1;
};

TEST_F(CopyMember, APropertyArrivesWithAllItsAccessorsUnderAFreeName) {
    dest->CopyMember(Source().get(), Id(*source, u"Item"), name, id, kinds, -1);
    EXPECT_EQ(name, u"Item1");
    EXPECT_EQ(kinds, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
    EXPECT_EQ(id, Id(*dest, u"Item1"));
    dest->CopyMember(Source().get(), 12, name, id, kinds, -1);
    EXPECT_EQ(name, u"Refresh");
    EXPECT_EQ(kinds, INVOKE_FUNC);
    EXPECT_EQ(id, 12);
    dest->CopyMember(Source().get(), Id(*source, u"Width"), name, id, kinds, 0);
    EXPECT_EQ(kinds, 0);
    EXPECT_EQ(dest->FuncCount(), 4);
    EXPECT_EQ(dest->VarCount(), 2);
    const std::string s = Section("DDest");
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Item\"", "func 1 \"Item1\"", "invoke=2", "ret=vt8", "doc=\"An item\"",
                               "vt=3:\"3\"", "param 0 \"index\"", "func 2 \"Item1\"", "invoke=4",
                               "doc=\"An item\"", "param 0 \"index\"", "func 3 \"Refresh\" id=0x0000000C",
                               "var 0 \"Width\"", "var 1 \"Height\""}))
        << s;
    // Both accessors share one member ID.
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    ComPtr<ITypeInfo2> ti = TypeByName(reloaded.get(), u"DDest").As<ITypeInfo2>();
    const MEMBERID item1 = zephrin::modITypeInfoHelper::MemberIDFromName(ti.get(), u"Item1");
    UINT get = 0, put = 0;
    EXPECT_OK(ti->GetFuncIndexOfMemId(item1, INVOKE_PROPERTYGET, &get));
    EXPECT_OK(ti->GetFuncIndexOfMemId(item1, INVOKE_PROPERTYPUT, &put));
    EXPECT_EQ(get, 1u);
    EXPECT_EQ(put, 2u);
}

TEST_F(CopyMember, FromAnotherLibraryTheHelpFilesStayAndTypesReferToThatLibrary) {
    ASSERT_OK(lib.CreateView()->SetHelpFileName(u"widgets.chm"));
    ASSERT_OK(lib.CreateView()->SetHelpStringDll(u"widgetsui.dll"));
    CustomTypeLib other;
    other.LibName(u"Other");
    other.AddCustomTypeInfo(u"Size", TKIND_RECORD, kNoGuid)->AddProperty(u"cx", Ty(VT_I4).get(), -1, 0, -1);
    auto far = other.AddCustomTypeInfo(u"DFar", TKIND_DISPATCH, kNoGuid);
    auto size = CustomVarTypeInfo::New();
    size->SetType(0, other.GetTypeInfo(u"Size").get());
    size->PointerLevel(1);
    ParamData p = Param(u"s", VT_I4);
    p.VTInfo = size->GetVarTypeInfo();
    Func(*far, u"Resize", {p}, INVOKE_FUNC, 21);
    HelpData hd;
    hd.DocString = u"Resizes";
    hd.HelpContext = 9;
    far->ModifyMemberHelpData(21, hd, HelpData::kDocString | HelpData::kHelpContext);
    Variant tag(int32_t{5});
    ASSERT_OK(far->CreateTypeInfo()->SetParamCustData(0, 0, CustKey(2), tag.ptr()));
    dest->CopyMember(other.GetTypeInfo(u"DFar").get(), 21, name, id, kinds, -1);
    EXPECT_TRUE(HasInOrder(Snapshot(), {"helpfile=\"widgets.chm\"", "helpstringdll=\"widgetsui.dll\"",
                                        "func 1 \"Resize\" id=0x00000015", "doc=\"Resizes\" helpctx=9",
                                        "param 0 \"s\" pflags=0x41 type=ptr(udt(\"Other\".\"Size\"))",
                                        "custdata {5A170802-60D1-4E2B-9A51-000000001701} = vt=3:\"5\""}));
}

TEST_F(CopyMember, WrongKindsAndPositionsAreRefused) {
    auto m = Add(u"Native", TKIND_MODULE);
    Func(*m, u"Open");
    const ErrorRecord e = RecordOf(
        [&] { dest->CopyMember(lib.GetTypeInfo(u"Native").get(), Id(*m, u"Open"), name, id, kinds, -1); });
    EXPECT_EQ(e.Number, 13);
    EXPECT_EQ(e.Description, u"The source and destinations types for a member copy must have the same TypeKind.");
    EXPECT_EQ(ErrorOf([&] { dest->CopyMember(Source().get(), Id(*source, u"Width"), name, id, kinds, 2); }), 9);
    EXPECT_EQ(dest->VarCount(), 1);
}

TEST_F(CopyMember, AFailedCopyLeavesNoHalfAddedProperty) {
    const std::string before = Dump();
    ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY, 1);  // the put accessor
    EXPECT_EQ(ErrorOf([&] { dest->CopyMember(Source().get(), Id(*source, u"Item"), name, id, kinds, -1); }),
              E_OUTOFMEMORY);
    ole::testing::FailNextCall("SetVarName", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { dest->CopyMember(Source().get(), Id(*source, u"Width"), name, id, kinds, 0); }),
              E_OUTOFMEMORY);
    ole::testing::FailNextCall("LayOut", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { dest->CopyMember(Source().get(), 12, name, id, kinds, -1); }), E_OUTOFMEMORY);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(dest->FuncCount(), 1);
}

}  // namespace
}  // namespace modeltest

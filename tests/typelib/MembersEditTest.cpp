// Member and parameter edits through the rebuild engine: each edit keeps the
// member's place, names, help, custom data and DLL entry. Checked on the
// saved and reloaded library.
#include "ModelTestSupport.h"

#include "typelib/TypeLibSupport.h"

namespace modeltest {
namespace {

class MemberEdit : public ModelTest {
protected:
    // A module function with help, custom data on itself and its parameters,
    // and a DLL entry, between two other functions.
    std::shared_ptr<CustomTypeInfo> Module() {
        EXPECT_OK(lib.CreateView()->SetHelpFileName(u"widgets.chm"));
        auto m = Add(u"Native", TKIND_MODULE);
        Func(*m, u"Before");
        std::vector<ParamData> params{Param(u"handle", VT_I4), Param(u"mode", VT_I2)};
        FuncData fd;
        fd.MemID = 0x1234;
        fd.DllName = u"widgets.dll";  // a saved module keeps one DLL name
        fd.DllEntry = Variant(int16_t{12});
        m->AddFunctionEx(u"Open", Ty(VT_I4).get(), params, fd);
        Func(*m, u"After");
        HelpData hd;
        hd.DocString = u"Opens a thing";
        hd.HelpContext = 77;
        m->ModifyMemberHelpData(0x1234, hd, HelpData::kDocString | HelpData::kHelpContext);
        Variant v(std::u16string_view(u"tagged"));
        auto cti = m->CreateTypeInfo();
        EXPECT_OK(cti->SetFuncCustData(1, CustKey(1), v.ptr()));
        EXPECT_OK(cti->SetParamCustData(1, 0, CustKey(2), v.ptr()));
        EXPECT_OK(cti->SetParamCustData(1, 1, CustKey(3), v.ptr()));
        return m;
    }
};

TEST_F(MemberEdit, EditsThroughTheRebuildEngineKeepEverythingElse) {
    auto m = Module();
    m->SetMemberReturnType(0x1234, Ty(VT_BSTR).get());
    ParamData wide = Param(u"ignored", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FHASDEFAULT);
    wide.DefaultValue = Variant(int32_t{3});
    m->SetParameterType(0x1234, 1, wide, 0, 0);
    ParamData extra = Param(u"", VT_BOOL);
    m->InsertParameter(0x1234, 1, extra, true);
    EXPECT_EQ(extra.Name, u"NewParam1");
    m->SetMemberID(0x1234, 0x4321);
    ModifyData md;
    md.FieldMask = ModifyData::kFlags | ModifyData::kDllEntry;
    md.Flags = FUNCFLAG_FHIDDEN | FUNCFLAG_FREQUESTEDIT;  // a plain function takes no FREQUESTEDIT
    md.DllEntry = std::u16string(u"OpenThing");
    m->ModifyMember(0x4321, 0, md);
    EXPECT_EQ(md.Flags, FUNCFLAG_FHIDDEN | FUNCFLAG_FREQUESTEDIT);
    const std::string s = Section("Native");
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Before\"", "func 1 \"Open\" id=0x00004321 kind=3 invoke=1 cc=4 params=3 opt=0",
                               "flags=0x40 ret=vt8", "doc=\"Opens a thing\" helpctx=77",
                               "dll=\"widgets.dll\" entry=\"OpenThing\"", "vt=8:\"tagged\"",
                               "param 0 \"handle\" pflags=0x41 type=vt3", "vt=8:\"tagged\"",
                               "param 1 \"NewParam1\" pflags=0x1 type=vt11",
                               "param 2 \"mode\" pflags=0x71 type=vt3 default=vt=3:\"3\"", "vt=8:\"tagged\"",
                               "func 2 \"After\""}));
    EXPECT_NE(Dump().find("helpfile=\"widgets.chm\""), std::string::npos);

    m->DeleteParameter(0x4321, 1);
    EXPECT_TRUE(HasInOrder(Section("Native"), {"func 1 \"Open\" id=0x00004321 kind=3 invoke=1 cc=4 params=2",
                                               "param 0 \"handle\"", "param 1 \"mode\""}));
    EXPECT_EQ(ErrorOf([&] { m->SetMemberID(0x4321, 0x4321); }), TYPE_E_DUPLICATEID);
    EXPECT_EQ(ErrorOf([&] { m->DeleteParameter(0x4321, 2); }), TYPE_E_OUTOFBOUNDS);
    EXPECT_EQ(ErrorOf([&] { m->InsertParameter(0x4321, -1, extra, false); }), 9);
}

TEST_F(MemberEdit, AutomaticParameterNamesCountOnAndSpecialParametersGetTheirOwn) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Move", {Param(u"NewParam1", VT_I4), Param(u"NewParam2", VT_I4)});
    const MEMBERID id = Id(*t, u"Move");
    ParamData p = Param(u"", VT_I4);
    t->InsertParameter(id, 2, p, true);
    EXPECT_EQ(p.Name, u"NewParam3");
    ParamData ret = Param(u"", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1);
    t->InsertParameter(id, 3, ret, true);
    EXPECT_EQ(ret.Name, u"retVal");
    ParamData lcid = Param(u"x", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FLCID);
    t->InsertParameter(id, 3, lcid, true);
    EXPECT_EQ(lcid.Name, u"LCID");
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"params=5", "\"NewParam1\"", "\"NewParam2\"", "\"NewParam3\"",
                                                "\"LCID\" pflags=0x5", "\"retVal\" pflags=0xa"}));
}

TEST_F(MemberEdit, PropertyWideFlagsReachEveryAccessor) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Value", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*t, u"Other");
    Func(*t, u"Value", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT, Id(*t, u"Value"));
    const MEMBERID id = Id(*t, u"Value");
    ModifyData md;
    md.FieldMask = ModifyData::kFlags;
    md.Flags = FUNCFLAG_FDEFAULTBIND | FUNCFLAG_FHIDDEN;
    t->ModifyMember(id, INVOKE_PROPERTYGET, md);
    EXPECT_EQ(md.Flags, FUNCFLAG_FDEFAULTBIND | FUNCFLAG_FHIDDEN | FUNCFLAG_FBINDABLE);
    const std::string s = Section("IWidget");
    // The get takes every flag; the put only the property-wide ones (FBINDABLE, FDEFAULTBIND).
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Value\"", "invoke=2", "flags=0x64", "func 1 \"Other\"", "func 2 \"Value\"",
                               "invoke=4", "flags=0x24"}));
    EXPECT_NE(s.find("func 2 \"Value\" id=0x" ), std::string::npos);
}

TEST_F(MemberEdit, TheDefaultMemberFlagMovesToTheEditedMember) {
    auto d = Add(u"DWidget", TKIND_DISPATCH);
    d->AddProperty(u"Caption", Ty(VT_BSTR).get(), 1, VARFLAG_FUIDEFAULT | VARFLAG_FDEFAULTBIND, -1);
    Func(*d, u"Refresh", {}, INVOKE_FUNC, 2);
    Func(*d, u"Count", {}, INVOKE_PROPERTYGET, 3, VT_I4);
    ModifyData md;
    md.FieldMask = ModifyData::kFlags | ModifyData::kMemID;
    md.Flags = FUNCFLAG_FUIDEFAULT;
    md.MemID = 3;  // Count's
    EXPECT_EQ(ErrorOf([&] { d->ModifyMember(2, 0, md); }), TYPE_E_DUPLICATEID);
    md.MemID = 0;  // the new ID is used to find the member again
    d->ModifyMember(2, 0, md);
    EXPECT_TRUE(HasInOrder(Section("DWidget"), {"func 0 \"Refresh\" id=0x00000000", "flags=0x200",
                                                "var 0 \"Caption\" id=0x00000001 kind=3 flags=0x24"}));
    // FDEFAULTBIND set on a variable with a new ID leaves the one that had it.
    md = ModifyData{};
    md.FieldMask = ModifyData::kFlags | ModifyData::kMemID;
    md.Flags = FUNCFLAG_FDEFAULTBIND;
    md.MemID = 9;
    d->ModifyMember(3, INVOKE_PROPERTYGET, md);
    EXPECT_TRUE(HasInOrder(Section("DWidget"), {"func 1 \"Count\" id=0x00000009", "flags=0x24",
                                                "var 0 \"Caption\" id=0x00000001 kind=3 flags=0x4"}));
}

TEST_F(MemberEdit, ParameterPositionsAreCheckedAndParamArraysDropped) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Plain", {Param(u"a", VT_I4)});
    Func(*t, u"Item", {Param(u"index", VT_I4), Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)},
         INVOKE_PROPERTYGET);
    ParamData rest = Param(u"rest", VT_VARIANT);
    rest.ParamArray = true;
    std::vector<ParamData> params{Param(u"first", VT_I4), rest};
    t->AddFunctionEx(u"Many", Ty(VT_HRESULT).get(), params, FuncData{});
    t->LayOut();
    ParamData p = Param(u"b", VT_I4);
    t->InsertParameter(Id(*t, u"Plain"), 1, p, false);  // at n + 1 of a plain function
    EXPECT_EQ(ErrorOf([&] { t->InsertParameter(Id(*t, u"Item"), 2, p, false); }), TYPE_E_OUTOFBOUNDS);
    t->DeleteParameter(Id(*t, u"Many"), 1);  // the ParamArray goes, and with it the marking
    t->RemoveParamArray(Id(*t, u"Plain"));
    const std::string s = Section("IWidget");
    EXPECT_TRUE(HasInOrder(s, {"\"Plain\"", "params=2 opt=0", "\"Item\"", "params=2", "\"Many\"", "params=1 opt=0"}));
}

TEST_F(MemberEdit, APutsValueTypeChangesWithoutTouchingItsGet) {
    auto d = Add(u"DWidget", TKIND_DISPATCH);
    Func(*d, u"Item", {Param(u"index", VT_I4)}, INVOKE_PROPERTYGET, MEMBERID_NIL, VT_BSTR);
    Func(*d, u"Item", {Param(u"index", VT_I4), Param(u"value", VT_BSTR)}, INVOKE_PROPERTYPUT, Id(*d, u"Item"));
    const MEMBERID id = Id(*d, u"Item");
    ParamData value = Param(u"", VT_VARIANT);
    d->SetParameterType(id, 1, value, INVOKE_PROPERTYPUT, 0);
    ParamData index = Param(u"", VT_I2);
    d->SetParameterType(id, 0, index, INVOKE_PROPERTYPUT, 0);  // an index changes on every accessor
    EXPECT_TRUE(HasInOrder(Section("DWidget"), {"func 0 \"Item\"", "invoke=2", "params=1", "ret=vt8",
                                                "param 0 \"index\" pflags=0x1 type=vt2", "func 1 \"Item\"",
                                                "invoke=4", "params=2", "param 0 \"index\" pflags=0x1 type=vt2",
                                                "param 1  pflags=0x1 type=vt12"}));
}

TEST_F(MemberEdit, DeletingAndRenamingAccessors) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Value", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*t, u"Value", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT, Id(*t, u"Value"));
    Func(*t, u"Other", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT);
    Func(*t, u"Gone");
    const MEMBERID value = Id(*t, u"Value");
    // A name another member has is refused with both accessors as they were.
    const std::string before = Snapshot();
    EXPECT_EQ(ErrorOf([&] { t->SetMemberName(value, u"Other"); }), TYPE_E_AMBIGUOUSNAME);
    EXPECT_EQ(Snapshot(), before);
    t->SetMemberName(value, u"Amount");
    t->SetParameterName(value, 0, u"result");
    EXPECT_EQ(ErrorOf([&] { t->SetParameterName(Id(*t, u"Other"), 0, u"x"); }), 9);  // a put's value
    EXPECT_EQ(ErrorOf([&] { t->DeleteMember(value, 16); }), TYPE_E_ELEMENTNOTFOUND);
    t->DeleteMember(0x7777, 0);  // no such member: nothing happens, and callers can ask first
    EXPECT_EQ(ErrorOf([&] { t->RequireMember(0x7777); }), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(ErrorOf([&] { t->RequireMember(value, INVOKE_FUNC | INVOKE_PROPERTYPUTREF); }), TYPE_E_ELEMENTNOTFOUND);
    t->RequireMember(value, INVOKE_PROPERTYPUT);
    t->DeleteMember(value, INVOKE_PROPERTYPUT);
    t->DeleteMember(Id(*t, u"Gone"), 0);
    EXPECT_EQ(t->FuncCount(), 2);
    const std::string s = Section("IWidget");
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Amount\"", "invoke=2", "param 0 \"result\"", "func 1 \"Other\""})) << s;
    EXPECT_EQ(s.find("func 2"), std::string::npos);
}

// The platform reads a property's names from its accessor stored first: with
// the Let stored before the Get, the value's name goes to the Let's value
// parameter too, and stays there through a rename of the property, a new
// type of the value and a copy of the property.
TEST_F(MemberEdit, AValuesNameGoesToALetStoredBeforeItsGet) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Value", {Param(u"", VT_I4)}, INVOKE_PROPERTYPUT);
    const MEMBERID value = Id(*t, u"Value");
    Func(*t, u"Value", {Param(u"", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET, value);
    const auto names = [&](MEMBERID id) { return zephrin::typelib_detail::ReadNames(t->ITypeInfo().get(), id, 4); };
    t->SetParameterName(value, 0, u"count");
    EXPECT_EQ(names(value), (std::vector<std::u16string>{u"Value", u"count"}));
    t->SetMemberName(value, u"Amount");
    ParamData shorter = Param(u"", VT_I2);
    t->SetParameterType(value, 0, shorter, INVOKE_PROPERTYPUT, 0);
    EXPECT_EQ(names(value), (std::vector<std::u16string>{u"Amount", u"count"}));
    std::u16string name;
    MEMBERID copy = 0;
    int32_t kinds = 0;
    t->CopyMember(T(u"IWidget").get(), value, name, copy, kinds, -1);
    EXPECT_EQ(names(copy), (std::vector<std::u16string>{u"Amount1", u"count"}));
}

// A dispinterface's Get returns the value itself, so it has no place for the
// value's name: with the Let (and an index) stored first, the name goes to
// the Let alone, and stays through a rename of the property. With the Get
// first there is nowhere the name is read.
TEST_F(MemberEdit, ADispinterfacesValueIsNamedInALetStoredBeforeItsGet) {
    auto d = Add(u"DWidget", TKIND_DISPATCH);
    Func(*d, u"Item", {Param(u"index", VT_I4), Param(u"", VT_BSTR)}, INVOKE_PROPERTYPUT, 4, VT_VOID);
    Func(*d, u"Item", {Param(u"index", VT_I4)}, INVOKE_PROPERTYGET, 4, VT_BSTR);
    Func(*d, u"Size", {}, INVOKE_PROPERTYGET, 5, VT_I4);
    Func(*d, u"Size", {Param(u"", VT_I4)}, INVOKE_PROPERTYPUT, 5, VT_VOID);
    d->SetParameterName(4, 1, u"text");
    d->SetMemberName(4, u"Entry");
    EXPECT_EQ(zephrin::typelib_detail::ReadNames(d->ITypeInfo().get(), 4, 4),
              (std::vector<std::u16string>{u"Entry", u"index", u"text"}));
    EXPECT_EQ(ErrorOf([&] { d->SetParameterName(5, 0, u"n"); }), 9);
    EXPECT_TRUE(HasInOrder(Section("DWidget"), {"func 0 \"Entry\"", "invoke=4", "param 0 \"index\"",
                                                "param 1 \"text\"", "func 1 \"Entry\"", "invoke=2",
                                                "param 0 \"index\"", "func 2 \"Size\"", "func 3 \"Size\"",
                                                "param 0  pflags"}));
}

TEST_F(MemberEdit, VariablesChangeTypeValueAndID) {
    auto r = Add(u"Point", TKIND_RECORD);
    r->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, -1);
    r->AddProperty(u"y", Ty(VT_I2).get(), -1, 0, -1);
    auto e = Add(u"Colors", TKIND_ENUM);
    e->AddConstant(u"Red", Variant(int32_t{1}), 0, -1);
    e->AddConstant(u"Blue", Variant(int32_t{2}), 0, -1);
    const MEMBERID x = Id(*r, u"x");
    r->RequireMember(x, INVOKE_PROPERTYGET);  // a variable has no invoke kind
    r->SetMemberReturnType(x, Ty(VT_R8).get());
    e->SetConstantValue(Id(*e, u"Blue"), Variant(int32_t{20}));
    ModifyData md;
    md.FieldMask = ModifyData::kConstantValue;
    md.ConstantValue = Variant(int32_t{5});
    EXPECT_EQ(ErrorOf([&] { r->ModifyMember(x, 0, md); }), 5);
    EXPECT_NE(ErrorOf([&] { r->SetConstantValue(0x999, Variant(int32_t{1})); }), 0);
    e->SetMemberID(Id(*e, u"Red"), 100);
    const std::string dump = Dump();
    EXPECT_TRUE(HasInOrder(TypeSection(dump, "Point"), {"size=12", "var 0 \"x\"", "type=vt5 offset=0",
                                                        "var 1 \"y\"", "type=vt2 offset=8"}));
    EXPECT_TRUE(HasInOrder(TypeSection(dump, "Colors"),
                           {"var 0 \"Red\" id=0x00000064", "var 1 \"Blue\"", "value=vt=3:\"20\""}));
}

TEST_F(MemberEdit, HelpEditsAndTheLibraryWideHelpFilesLoseNothing) {
    ASSERT_OK(lib.CreateView()->SetHelpFileName(u"widgets.chm"));
    ASSERT_OK(lib.CreateView()->SetHelpStringDll(u"C:\\bin\\widgetsui.dll"));
    auto t = Interface(u"IWidget");
    Func(*t, u"Value", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*t, u"Value", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT, Id(*t, u"Value"));
    Func(*t, u"Other");
    HelpData hd;
    hd.DocString = u"The value";
    hd.HelpContext = 5;
    hd.HelpStringContext = 6;
    t->ModifyMemberHelpData(Id(*t, u"Other"), hd, HelpData::kAllFields & ~(HelpData::kHelpFile | HelpData::kHelpStringDll));
    t->ModifyMemberHelpData(Id(*t, u"Value"), hd, HelpData::kDocString);
    t->ModifyMemberHelpData(Id(*t, u"Value"), hd, 0);
    // Edits of other members rebuild them and rewrite the library's files.
    t->SetMemberID(Id(*t, u"Value"), 40);
    t->SetMemberReturnType(Id(*t, u"Other"), Ty(VT_I4).get());
    std::string dump = Dump();
    EXPECT_TRUE(HasInOrder(dump, {"helpfile=\"widgets.chm\"", "helpstringdll=\"C:\\\\bin\\\\widgetsui.dll\"",
                                  "func 0 \"Value\" id=0x00000028", "doc=\"The value\" helpctx=0",
                                  "func 1 \"Value\"", "doc=\"The value\"", "func 2 \"Other\"",
                                  "doc=\"The value\" helpctx=5", "helpstringctx=6"}))
        << dump;
    // A help file given with a folder is kept by name; the DLL keeps its path.
    hd.HelpFile = u"C:\\help\\other.chm";
    t->ModifyMemberHelpData(40, hd, HelpData::kHelpFile);
    EXPECT_TRUE(HasInOrder(Dump(), {"helpfile=\"C:\\\\help\\\\other.chm\""}));
    t->SetMemberReturnType(Id(*t, u"Other"), Ty(VT_I2).get());
    dump = Dump();
    EXPECT_TRUE(HasInOrder(dump, {"helpfile=\"other.chm\"", "helpstringdll=\"C:\\\\bin\\\\widgetsui.dll\"",
                                  "doc=\"The value\""}));
}

}  // namespace
}  // namespace modeltest

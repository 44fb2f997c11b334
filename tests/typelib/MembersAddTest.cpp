// Adding functions, constants and data members to editable types, checked on
// the saved and reloaded library.
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

TEST_F(ModelTest, FunctionsWithOptionalDefaultParamArrayAndLcidParametersReload) {
    auto t = Interface(u"IWidget");
    std::vector<ParamData> params{Param(u"count", VT_I4), Param(u"tag", VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT),
                                  Param(u"size", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FHASDEFAULT),
                                  Param(u"lcid", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FLCID),
                                  Param(u"result", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)};
    params[2].DefaultValue = Variant(int32_t{5});
    t->AddFunctionEx(u"Resize", Ty(VT_HRESULT).get(), params, FuncData{});
    // The record gained FOPT next to its default.
    EXPECT_EQ(params[2].Flags, PARAMFLAG_FIN | PARAMFLAG_FHASDEFAULT | PARAMFLAG_FOPT);

    std::vector<ParamData> rest{Param(u"first", VT_I4), Param(u"others", VT_VARIANT, PARAMFLAG_FIN)};
    rest[1].ParamArray = true;
    rest[1].VTInfo = [] {
        auto v = CustomVarTypeInfo::New();
        v->SetType(VT_VARIANT, nullptr);
        v->SetSafeArrayData(0);
        return v->GetVarTypeInfo();
    }();
    Func(*t, u"Join", rest);
    // Properties with a missing accessor: a read-only and a write-only one.
    Func(*t, u"Name", {Param(u"value", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*t, u"Secret", {Param(u"index", VT_I4), Param(u"value", VT_BSTR)}, INVOKE_PROPERTYPUT);
    EXPECT_EQ(t->FuncCount(), 4);

    const std::string s = Section("IWidget");
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Resize\" id=0x60020000 kind=1 invoke=1 cc=4 params=5 opt=1 vtoff=28",
                               "param 0 \"count\" pflags=0x1 type=vt3", "param 1 \"tag\" pflags=0x11 type=vt12",
                               "param 2 \"size\" pflags=0x31 type=vt3 default=vt=3:\"5\"",
                               "param 3 \"lcid\" pflags=0x5 type=vt3",
                               "param 4 \"result\" pflags=0xa type=ptr(vt8)",
                               "func 1 \"Join\" id=0x60020001 kind=1 invoke=1 cc=4 params=2 opt=-1 vtoff=32",
                               "param 1 \"others\" pflags=0x1 type=safearray(vt12)",
                               "func 2 \"Name\" id=0x60020002 kind=1 invoke=2",
                               "func 3 \"Secret\" id=0x60020003 kind=1 invoke=4 cc=4 params=2",
                               "param 0 \"index\"", "param 1  pflags=0x1 type=vt8"}));
}

// An accessor added with the default ID joins the property of its name; an
// explicit ID stays the caller's.
TEST_F(ModelTest, AccessorsWithTheDefaultIdJoinThePropertyOfTheirName) {
    auto t = Interface(u"IWidget");
    const ParamData result = Param(u"result", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1);
    Func(*t, u"Count", {result}, INVOKE_PROPERTYGET);
    Func(*t, u"Value", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT);
    Func(*t, u"Value", {result}, INVOKE_PROPERTYGET);
    Func(*t, u"Value", {Param(u"v", VT_DISPATCH)}, INVOKE_PROPERTYPUTREF, 9);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"func 0 \"Count\" id=0x60020000 kind=1 invoke=2",
                                               "func 1 \"Value\" id=0x60020001 kind=1 invoke=4",
                                               "func 2 \"Value\" id=0x60020001 kind=1 invoke=2",
                                               "func 3 \"Value\" id=0x00000009 kind=1 invoke=8"}));
}

TEST_F(ModelTest, FunctionsAreRefusedWhereTheyCannotGo) {
    auto t = Interface(u"IWidget");
    std::vector<ParamData> none;
    FuncData put = CustomTypeInfo::DefaultFuncData();
    put.InvokeKind = INVOKE_PROPERTYPUT;
    EXPECT_EQ(ErrorOf([&] { t->AddFunctionEx(u"Value", Ty(VT_HRESULT).get(), none, put); }), 5);
    auto e = Add(u"Colors", TKIND_ENUM);
    EXPECT_EQ(ErrorOf([&] { e->AddFunctionEx(u"F", Ty(VT_HRESULT).get(), none, FuncData{}); }), 5);
    auto m = Add(u"Native", TKIND_MODULE);
    FuncData fd;
    fd.DllEntry = Variant(int16_t{3});
    EXPECT_EQ(ErrorOf([&] { m->AddFunctionEx(u"F", Ty(VT_I4).get(), none, fd); }), 5);  // no DLL name
    fd.DllName = u"native.dll";
    fd.DllEntry = Variant(int32_t{3});
    EXPECT_EQ(ErrorOf([&] { m->AddFunctionEx(u"F", Ty(VT_I4).get(), none, fd); }), 5);  // a 32-bit ordinal
    EXPECT_EQ(t->FuncCount(), 0);
    EXPECT_EQ(m->FuncCount(), 0);
}

TEST_F(ModelTest, ModuleFunctionsTakeDllEntriesByNameAndByOrdinal) {
    auto m = Add(u"Native", TKIND_MODULE);
    std::vector<ParamData> params{Param(u"handle", VT_I4)};
    FuncData fd;
    fd.DllName = u"native.dll";
    fd.DllEntry = Variant(std::u16string_view(u"CloseThing"));
    m->AddFunctionEx(u"Close", Ty(VT_I4).get(), params, fd);
    fd.DllEntry = Variant(int16_t{7});
    fd.InsertPosition = 0;
    m->AddFunctionEx(u"Open", Ty(VT_I4).get(), params, fd);
    m->LayOut();
    const std::string s = Section("Native");
    EXPECT_TRUE(HasInOrder(s, {"func 0 \"Open\"", "kind=3 invoke=1", "dll=\"native.dll\" entry=#7",
                               "func 1 \"Close\"", "dll=\"native.dll\" entry=\"CloseThing\""}));
}

TEST_F(ModelTest, ConstantsOfEverySimpleTypeReload) {
    auto m = Add(u"Constants", TKIND_MODULE);
    const std::vector<Variant> values{Variant(int16_t{-2}),   Variant(int32_t{-70000}), Variant(1.5f),
                                      Variant(2.25),          Variant::Currency(12345), Variant::Date(45000.5),
                                      Variant(std::u16string_view(u"text")),          Variant(true),
                                      Variant(int8_t{-3}),    Variant(uint8_t{200}),    Variant(uint16_t{60000}),
                                      Variant(uint32_t{4000000000u}), Variant::Int(-9), Variant::UInt(9),
                                      Variant(int64_t{-5}),   Variant(uint64_t{5}),     Variant::Error(0x80004005)};
    for (size_t i = 0; i < values.size(); ++i) {
        const std::u16string name = u"C" + FromUtf8(std::to_string(i));
        m->AddConstant(name, values[i], 0, 0);  // a module ignores the position
    }
    EXPECT_EQ(m->VarCount(), static_cast<int32_t>(values.size()));
    EXPECT_EQ(ErrorOf([&] { m->AddConstant(u"Obj", Variant(static_cast<IUnknown*>(nullptr)), 0, -1); }), 5);

    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    ComPtr<ITypeInfo> ti = TypeByName(reloaded.get(), u"Constants");
    for (UINT i = 0; i < values.size(); ++i) {
        VARDESC* vd = nullptr;
        ASSERT_OK(ti->GetVarDesc(i, &vd));
        EXPECT_EQ(vd->varkind, VAR_CONST);
        EXPECT_EQ(vd->elemdescVar.tdesc.vt, values[i].vt()) << i;
        EXPECT_TRUE(Variant(*vd->lpvarValue) == values[i]) << i;
        ti->ReleaseVarDesc(vd);
    }
}

TEST_F(ModelTest, EnumConstantsAreIntegersAtTheirPlace) {
    auto e = Add(u"Colors", TKIND_ENUM);
    e->AddConstant(u"Red", Variant(int16_t{1}), 0, -1);
    e->AddConstant(u"Blue", Variant(std::u16string_view(u"3")), 0, -1);
    e->AddConstant(u"Green", Variant(2.0), 0, 1);
    e->AddConstant(u"Last", Variant(int32_t{9}), 0, 17);  // beyond the end: appended
    EXPECT_EQ(ErrorOf([&] { e->AddConstant(u"Bad", Variant(std::u16string_view(u"x")), 0, -1); }), DISP_E_TYPEMISMATCH);
    const std::string s = Section("Colors");
    EXPECT_TRUE(HasInOrder(s, {"var 0 \"Red\" id=0x40000000 kind=2 flags=0x0 type=vt22 value=vt=3:\"1\"",
                               "var 1 \"Green\"", "value=vt=3:\"2\"", "var 2 \"Blue\"", "value=vt=3:\"3\"",
                               "var 3 \"Last\""}));
}

TEST_F(ModelTest, DataMembersAppendToDispinterfacesAndInsertIntoRecords) {
    auto d = Add(u"DWidget", TKIND_DISPATCH);
    d->AddProperty(u"Width", Ty(VT_I4).get(), 5, 0, -1);
    d->AddProperty(u"Height", Ty(VT_I4).get(), -1, VARFLAG_FREADONLY, 0);
    auto r = Add(u"Point", TKIND_RECORD);
    r->AddProperty(u"y", Ty(VT_I4).get(), -1, 0, -1);
    r->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, 0);
    EXPECT_EQ(ErrorOf([&] { Interface(u"IWidget")->AddProperty(u"z", Ty(VT_I4).get(), -1, 0, -1); }), 5);
    const std::string dump = Dump();
    EXPECT_TRUE(HasInOrder(TypeSection(dump, "DWidget"),
                           {"var 0 \"Width\" id=0x00000005 kind=3", "var 1 \"Height\" id=0x40020001 kind=3 flags=0x1"}));
    EXPECT_TRUE(HasInOrder(TypeSection(dump, "Point"), {"size=8", "var 0 \"x\"", "type=vt2 offset=0", "var 1 \"y\"",
                                                        "type=vt3 offset=4"}));
}

TEST_F(ModelTest, AFailedAdditionLeavesNoHalfAddedMember) {
    auto e = Add(u"Colors", TKIND_ENUM);
    e->AddConstant(u"Red", Variant(int32_t{1}), 0, -1);
    auto t = Interface(u"IWidget");
    Func(*t, u"Draw");
    const std::string before = Dump();
    ole::testing::FailNextCall("SetVarName", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { e->AddConstant(u"Blue", Variant(int32_t{2}), 0, 0); }), E_OUTOFMEMORY);
    ole::testing::FailNextCall("LayOut", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { e->AddConstant(u"Blue", Variant(int32_t{2}), 0, 0); }), E_OUTOFMEMORY);
    std::vector<ParamData> params{Param(u"x", VT_I4)};
    ole::testing::FailNextCall("SetFuncAndParamNames", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { t->AddFunctionEx(u"Move", Ty(VT_HRESULT).get(), params, FuncData{}); }), E_OUTOFMEMORY);
    EXPECT_EQ(e->VarCount(), 1);
    EXPECT_EQ(t->FuncCount(), 1);
    EXPECT_EQ(Dump(), before);
}

}  // namespace
}  // namespace modeltest

// The editable type: attributes, aliases, implemented interfaces with their
// default flags, base types and rebasing (whose rollback is in
// MemberRollbackTest). Checked on the saved and reloaded library.
#include "ModelTestSupport.h"

using namespace modeltest;
using zephrin::BoundsTable;

namespace {

constexpr int32_t D = IMPLTYPEFLAG_FDEFAULT, S = IMPLTYPEFLAG_FSOURCE, R = IMPLTYPEFLAG_FRESTRICTED,
                  V = IMPLTYPEFLAG_FDEFAULTVTABLE;

class EditableType : public ModelTest {
protected:
    EditableType() : ModelTest(u"Types") {}
    // A coclass with interfaces I0.. In-1 carrying these flags.
    std::shared_ptr<CustomTypeInfo> Coclass(std::vector<int32_t> flags) {
        auto co = Add(u"Thing", TKIND_COCLASS);
        for (size_t i = 0; i < flags.size(); ++i) {
            std::u16string name = u"I" + std::u16string(1, static_cast<char16_t>(u'0' + i));
            Add(name.c_str(), TKIND_INTERFACE)->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
            EXPECT_EQ(co->AddImplType(T(name.c_str()).get(), flags[i]), static_cast<int32_t>(i));
        }
        return co;
    }
    std::vector<INT> Flags(const std::shared_ptr<CustomTypeInfo>& t) { return ImplFlags(t->ITypeInfo().get()); }
};

TEST_F(EditableType, AttributesKeepOnlyTheFlagsOfTheKind) {
    auto e = Add(u"Colors", TKIND_ENUM);
    e->Attributes(TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FCANCREATE);
    EXPECT_EQ(e->Attributes(), TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED);
    auto i = Add(u"IDual", TKIND_INTERFACE);
    i->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    i->LayOut();
    EXPECT_EQ(i->Attributes(), TYPEFLAG_FDISPATCHABLE);
    i->Attributes(TYPEFLAG_FDUAL | TYPEFLAG_FCANCREATE);
    EXPECT_EQ(i->Attributes(), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    i->Attributes(0);
    EXPECT_EQ(i->Attributes(), TYPEFLAG_FDISPATCHABLE);
    auto co = Add(u"Thing", TKIND_COCLASS);
    co->Attributes(0xFFFF);
    EXPECT_EQ(co->Attributes(), 0x63F);
    co->SetVersion(2, 5);
    co->SetTypeInfoGUID(u"{5A170B00-60D1-4E2B-9A51-000000001701}");
    EXPECT_EQ(ErrorOf([&] { co->SetTypeInfoGUID(u"{bad}"); }), CO_E_IIDSTRING);
    co->SetTypeInfoName(u"Renamed");
    const std::string dump = Dump();
    EXPECT_NE(dump.find("\"Renamed\" kind=5 {5A170B00-60D1-4E2B-9A51-000000001701} v2.5 flags=0x63f"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("\"Colors\" kind=0 {00000000-0000-0000-0000-000000000000} v0.0 flags=0x210"),
              std::string::npos);
}

TEST_F(EditableType, AliasesOfArraysAndPointers) {
    Add(u"Point", TKIND_RECORD);
    auto grid = Add(u"Grid", TKIND_ALIAS);
    auto v = CustomVarTypeInfo::New();
    v->SetType(0, T(u"Point").get());
    v->SetFixedArrayData(BoundsTable{{1, 3}, {0, 1}}, 0);
    v->PointerLevel(1);
    grid->SetAlias(v.get());
    auto handles = Add(u"Handles", TKIND_ALIAS);
    v->SetType(VT_UNKNOWN, nullptr);
    v->SetSafeArrayData(1);
    v->PointerLevel(0);
    handles->SetAlias(v.get());
    auto pgrid = Add(u"PGrid", TKIND_ALIAS);
    v->Clear();
    v->SetType(0, T(u"Grid").get());
    v->PointerLevel(2);
    pgrid->SetAlias(v.get());
    EXPECT_EQ(ErrorOf([&] { Add(u"IAlias", TKIND_INTERFACE)->SetAlias(v.get()); }), 5);

    // An alias that would lead back to itself is refused.
    v->SetType(0, T(u"PGrid").get());
    v->PointerLevel(0);
    EXPECT_EQ(ErrorOf([&] { grid->SetAlias(v.get()); }), TYPE_E_CIRCULARTYPE);
    EXPECT_EQ(ErrorOf([&] { pgrid->SetAlias(v.get()); }), TYPE_E_CIRCULARTYPE);

    const std::string dump = Dump();
    EXPECT_NE(TypeSection(dump, "Grid").find("alias carray([1+3][0+2]ptr(udt(\"Types\".\"Point\")))"), std::string::npos)
        << dump;
    EXPECT_NE(TypeSection(dump, "Handles").find("alias ptr(safearray(vt13))"), std::string::npos) << dump;
    EXPECT_NE(TypeSection(dump, "PGrid").find("alias ptr(ptr(udt(\"Types\".\"Grid\")))"), std::string::npos) << dump;
}

TEST_F(EditableType, ASingleInterfaceTakesTheDefaultVtableWithItsImpliedFlags) {
    auto co = Coclass({0});
    int32_t flags = V | R;
    co->SetImplTypeFlags(0, flags);
    EXPECT_EQ(flags, D | S | V);
    EXPECT_EQ(Flags(co), (std::vector<INT>{0xB}));
    EXPECT_EQ(ErrorOf([&] { co->SetImplTypeFlags(1, flags); }), 9);
    EXPECT_EQ(ErrorOf([&] { Add(u"IX", TKIND_INTERFACE)->SetImplTypeFlags(0, flags); }), 5);
}

TEST_F(EditableType, DefaultFlagsStayOnOneInterfaceOfEachKind) {
    auto co = Coclass({D, 0, S | D, S});
    int32_t f = D;
    co->SetImplTypeFlags(1, f);  // a second default incoming interface
    EXPECT_EQ(Flags(co), (std::vector<INT>{0, D, S | D, S}));
    f = S;
    co->SetImplTypeFlags(2, f);  // the default source loses FDEFAULT: the next source takes it
    EXPECT_EQ(Flags(co), (std::vector<INT>{0, D, S, S | D}));
    f = S | D | R;
    co->SetImplTypeFlags(2, f);
    EXPECT_EQ(f, S | D);
    EXPECT_EQ(Flags(co), (std::vector<INT>{0, D, S | D, S}));
    f = V;
    co->SetImplTypeFlags(3, f);  // a default vtable source, and a default source exists
    EXPECT_EQ(f, V | S);
    EXPECT_EQ(Flags(co), (std::vector<INT>{0, D, S | D, S | V}));

    const std::string section = TypeSection(Dump(), "Thing");
    EXPECT_NE(section.find("impl 1 \"I1\" flags=0x1\n  impl 2 \"I2\" flags=0x3\n  impl 3 \"I3\" flags=0xa"),
              std::string::npos)
        << section;
}

TEST_F(EditableType, DeletingTheDefaultSourcePassesItToTheDefaultVtableInterface) {
    auto co = Coclass({D, S | D, S, S | V});
    co->DeleteImplType(1);
    EXPECT_EQ(co->ImplTypeCount(), 3);
    EXPECT_EQ(Flags(co), (std::vector<INT>{D, S, S | V | D}));
    auto co2 = lib.AddCustomTypeInfo(u"Other", TKIND_COCLASS, kNoGuid);
    co2->AddImplType(T(u"I0").get(), S | D);
    co2->AddImplType(T(u"I1").get(), S);
    co2->DeleteImplType(0);
    EXPECT_EQ(Flags(co2), (std::vector<INT>{S}));
    EXPECT_EQ(ErrorOf([&] { co2->DeleteImplType(1); }), 9);

    // A failing hand-over puts the deleted interface back.
    auto co3 = lib.AddCustomTypeInfo(u"Third", TKIND_COCLASS, kNoGuid);
    co3->AddImplType(T(u"I0").get(), S | D);
    co3->AddImplType(T(u"I1").get(), 0);
    co3->AddImplType(T(u"I2").get(), S | V);
    ole::testing::FailNextCall("SetImplTypeFlags", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { co3->DeleteImplType(0); }), E_OUTOFMEMORY);
    EXPECT_EQ(ImplNames(co3->ITypeInfo().get()), (std::vector<std::u16string>{u"I0", u"I1", u"I2"}));
    EXPECT_EQ(Flags(co3), (std::vector<INT>{S | D, 0, S | V}));
    EXPECT_EQ(co3->ImplTypeCount(), 3);
}

TEST_F(EditableType, ReplacingAnInterfaceKeepsItsPlaceFlagsAndCustomData) {
    auto co = Coclass({D, S | D, S});
    Add(u"INew", TKIND_INTERFACE)->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
    Variant note(std::u16string_view(u"second"));
    const GUID key = G(u"{5A170B10-60D1-4E2B-9A51-000000001701}");
    ASSERT_OK(co->CreateTypeInfo()->SetImplTypeCustData(1, key, note.ptr()));
    co->SetImplTypeType(0, T(u"INew").get());
    EXPECT_EQ(ImplNames(co->ITypeInfo().get()), (std::vector<std::u16string>{u"INew", u"I1", u"I2"}));
    EXPECT_EQ(Flags(co), (std::vector<INT>{D, S | D, S}));
    co->SetImplTypeType(2, T(u"I0").get());
    EXPECT_EQ(ImplNames(co->ITypeInfo().get()), (std::vector<std::u16string>{u"INew", u"I1", u"I0"}));

    // A failure halfway leaves the coclass as it was.
    ole::testing::FailNextCall("AddImplType", E_OUTOFMEMORY, 1);
    EXPECT_EQ(ErrorOf([&] { co->SetImplTypeType(0, T(u"I2").get()); }), E_OUTOFMEMORY);
    EXPECT_EQ(ImplNames(co->ITypeInfo().get()), (std::vector<std::u16string>{u"INew", u"I1", u"I0"}));
    EXPECT_EQ(Flags(co), (std::vector<INT>{D, S | D, S}));
    EXPECT_EQ(ErrorOf([&] { co->SetImplTypeType(3, T(u"I2").get()); }), 9);

    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    ComPtr<ITypeInfo2> thing = TypeByName(reloaded.get(), u"Thing").As<ITypeInfo2>();
    EXPECT_EQ(ImplNames(thing.get()), (std::vector<std::u16string>{u"INew", u"I1", u"I0"}));
    Variant value;
    ASSERT_OK(thing->GetImplTypeCustData(1, key, value.put()));
    EXPECT_EQ(value, note);
}

TEST_F(EditableType, DispinterfacesTakeIDispatchThenTheDispatchedInterface) {
    auto inner = Add(u"IInner", TKIND_INTERFACE);
    inner->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    auto disp = Add(u"DOuter", TKIND_DISPATCH);
    EXPECT_EQ(ErrorOf([&] { disp->SetBaseType(CustomTypeInfo::kBaseCustom, nullptr); }), 5);
    // A failing custom base takes the IDispatch added for it away again.
    const std::string before = Snapshot();
    ole::testing::FailNextCall("AddImplType", E_OUTOFMEMORY, 1);
    EXPECT_EQ(ErrorOf([&] { disp->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IInner").get()); }), E_OUTOFMEMORY);
    EXPECT_EQ(Snapshot(), before);
    // Another object of the same type sees the IDispatch given through this one.
    lib.GetCustomTypeInfo(u"DOuter")->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    disp->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IInner").get());
    EXPECT_EQ(ImplNames(disp->ITypeInfo().get()), (std::vector<std::u16string>{u"IDispatch", u"IInner"}));
    EXPECT_EQ(ErrorOf([&] { disp->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IInner").get()); }), 5);
    EXPECT_EQ(ErrorOf([&] { Add(u"Rec", TKIND_RECORD)->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr); }), 5);
    auto empty = Add(u"IEmpty", TKIND_INTERFACE);
    empty->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
    EXPECT_EQ(empty->ImplTypeCount(), 1);
    auto none = Add(u"INone", TKIND_INTERFACE);
    none->SetBaseType(7, nullptr);
    EXPECT_EQ(none->ImplTypeCount(), 0);
    // The library presents it as the platform does: IDispatch alone, and the
    // functions of IInner's chain.
    const std::string outer = TypeSection(Dump(), "DOuter");
    EXPECT_NE(outer.find("funcs=7 vars=0 impl=1\n"), std::string::npos);
    EXPECT_NE(outer.find("impl 0 \"IDispatch\" flags=0x0\n  func 0 \"QueryInterface\""), std::string::npos);
}

class Rebasing : public EditableType {
protected:
    // IShape: IUnknown with three functions (one explicit ID, help, custom
    // data, a parameter with custom data); IBase: IDispatch with one.
    void SetUp() override {
        auto base = Interface(u"IBase");
        AddFunc(base->CreateTypeInfo().get(), 0, {u"Inherited"});
        base->LayOut();
        shapeType = Add(u"IShape", TKIND_INTERFACE);
        shapeType->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
        ICreateTypeInfo2* raw = shapeType->CreateTypeInfo().get();
        AddFunc(raw, 0, {.name = u"Area", .params = {{u"value", td_.Ptr(Vt(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
        AddFunc(raw, 1, {.name = u"Fixed", .memid = 5});
        AddFunc(raw, 2, {.name = u"Move", .params = {{u"x", Vt(VT_I4)}, {u"y", Vt(VT_I4)}}});
        ASSERT_OK(raw->SetFuncDocString(2, u"Moves the shape"));
        ASSERT_OK(raw->SetFuncHelpContext(2, 42));
        Variant v(int32_t{7});
        ASSERT_OK(raw->SetFuncCustData(2, G(u"{5A170B20-60D1-4E2B-9A51-000000001701}"), v.ptr()));
        ASSERT_OK(raw->SetParamCustData(2, 1, G(u"{5A170B21-60D1-4E2B-9A51-000000001701}"), v.ptr()));
        ASSERT_OK(raw->LayOut());
    }
    std::string ShapeDump() { return TypeSection(Dump(), "IShape"); }

    TypeDescs td_;
    std::shared_ptr<CustomTypeInfo> shapeType;
};

TEST_F(Rebasing, ANewBaseRenumbersAutomaticIdsAndKeepsEverythingElse) {
    shapeType->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IBase").get());
    EXPECT_EQ(shapeType->ImplTypeCount(), 1);
    EXPECT_EQ(shapeType->FuncCount(), 3);
    const std::string section = ShapeDump();
    EXPECT_NE(section.find("vtbl=44 funcs=3 vars=0 impl=1"), std::string::npos) << section;
    EXPECT_NE(section.find("impl 0 \"IBase\""), std::string::npos) << section;
    // The re-added functions take automatic IDs by their positions, one level deeper.
    EXPECT_NE(section.find("func 0 \"Area\" id=0x60030000 kind=1 invoke=1 cc=4 params=1 opt=0 vtoff=32"),
              std::string::npos)
        << section;
    EXPECT_NE(section.find("func 1 \"Fixed\" id=0x00000005 kind=1 invoke=1 cc=4 params=0 opt=0 vtoff=36"),
              std::string::npos)
        << section;
    EXPECT_NE(section.find("func 2 \"Move\" id=0x60030002 kind=1 invoke=1 cc=4 params=2 opt=0 vtoff=40"),
              std::string::npos)
        << section;
    EXPECT_NE(section.find("doc=\"Moves the shape\" helpctx=42"), std::string::npos) << section;
    EXPECT_NE(section.find("custdata {5A170B20-60D1-4E2B-9A51-000000001701} = vt=3:\"7\""), std::string::npos);
    EXPECT_NE(section.find("param 1 \"y\" pflags=0x41 type=vt3\n      custdata {5A170B21-60D1-4E2B-9A51-000000001701}"),
              std::string::npos)
        << section;
    EXPECT_NE(section.find("param 0 \"value\" pflags=0xa type=ptr(vt5)"), std::string::npos);
    // No temporary type is left behind.
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 2u);
}

TEST_F(Rebasing, NoBaseAtAllKeepsTheFunctions) {
    shapeType->SetBaseType(-1, nullptr);
    EXPECT_EQ(shapeType->ImplTypeCount(), 0);
    const std::string section = ShapeDump();
    EXPECT_NE(section.find("vtbl=12 funcs=3 vars=0 impl=0"), std::string::npos) << section;
    EXPECT_NE(section.find("func 2 \"Move\" id=0x60000002"), std::string::npos) << section;
}

TEST_F(Rebasing, ADualInterfaceNeedsADispatchableBase) {
    auto dual = Add(u"IDual", TKIND_INTERFACE);
    dual->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    dual->Attributes(TYPEFLAG_FDUAL);
    AddFunc(dual->CreateTypeInfo().get(), 0, {u"Run"});
    dual->LayOut();
    const std::string before = Snapshot();
    ErrorRecord e = RecordOf([&] { dual->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr); });
    EXPECT_EQ(e.Number, 5);
    EXPECT_EQ(e.Description, u"Rebasing a dual interface requires an IDispatch-derived base.");
    EXPECT_EQ(RecordOf([&] { dual->SetBaseType(-1, nullptr); }).Number, 5);
    EXPECT_EQ(Snapshot(), before);
    dual->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IBase").get());
    const std::string dump = Dump();
    EXPECT_NE(dump.find("dual-interface-half \"IDual\" kind=3"), std::string::npos);
    EXPECT_NE(TypeSection(dump, "IDual").find("func 0 \"Run\" id=0x60030000"), std::string::npos) << dump;
    // Rebasing on itself is a cycle.
    EXPECT_EQ(ErrorOf([&] { dual->SetBaseType(CustomTypeInfo::kBaseCustom, dual->TypeInfo().get()); }),
              TYPE_E_CIRCULARTYPE);
}

}  // namespace

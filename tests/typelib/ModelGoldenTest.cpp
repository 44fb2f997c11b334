// A library built through the editable library and type, saved, and compared
// with the committed golden (tests/data/golden-model/): its file and the
// platform's reference dump of that file. Set ZEPHRIN_UPDATE_GOLDENS to
// rewrite the committed file (the dump is then made with the reference dumper).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ModelTestSupport.h"
#include "typelib/BaseTICache.h"
#include "typelib/modTYPEDESC.h"

using namespace modeltest;
using zephrin::BoundsTable;

namespace {

std::filesystem::path GoldenDir() { return std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "golden-model"; }

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::u16string GuidText(int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{5A170C%02X-60D1-4E2B-9A51-000000001701}", n);
    return FromUtf8(buf);
}

ComPtr<CustomVarTypeInfo> Vti(VARTYPE vt, tli::TypeInfo* type = nullptr, SHORT pointers = 0) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(vt, type);
    v->PointerLevel(pointers);
    return v;
}

void SetCust(ICreateTypeInfo2* t, int n, const Variant& value) {
    Variant v(value);
    ASSERT_OK(t->SetCustData(G(GuidText(0x80 + n).c_str()), v.ptr()));
}

void AddField(ICreateTypeInfo2* t, UINT index, const char16_t* name, CustomVarTypeInfo* type, VARKIND kind) {
    zephrin::TypeDescOwner owner;
    VARDESC vd{};
    vd.memid = MEMBERID_NIL;
    vd.varkind = kind;
    zephrin::modTYPEDESC::BuildTypeDesc(owner, t, type, &vd.elemdescVar.tdesc);
    ASSERT_OK(t->AddVarDesc(index, &vd));
    ASSERT_OK(t->SetVarName(index, name));
}

void AddConst(ICreateTypeInfo2* t, UINT index, const char16_t* name, Variant value) {
    VARDESC vd{};
    vd.memid = MEMBERID_NIL;
    vd.varkind = VAR_CONST;
    if (value.vt() == VT_I4) {
        ASSERT_OK(value.ChangeType(VT_INT));
    }
    vd.elemdescVar.tdesc.vt = value.vt();
    vd.lpvarValue = value.ptr();
    ASSERT_OK(t->AddVarDesc(index, &vd));
    ASSERT_OK(t->SetVarName(index, name));
}

// The model golden: every type kind, edited through the model's classes.
void BuildModelGolden(CustomTypeLib& lib) {
    lib.LibName(u"GoldenModel");
    lib.Guid(GuidText(0));
    lib.MajorVersion(2);
    lib.MinorVersion(1);
    lib.LCID(1033);
    lib.Attributes(LIBFLAG_FHIDDEN | 16);
    ComPtr<ICreateTypeLib2> raw = lib.CreateView();
    ASSERT_OK(raw->SetDocString(u"Built through the editable library"));
    ASSERT_OK(raw->SetHelpFileName(u"C:\\docs\\model.chm"));
    lib.RestorePrimaryExternalFiles();
    Variant libNote(std::u16string_view(u"library item"));
    ASSERT_OK(raw->SetCustData(G(GuidText(0x70).c_str()), libNote.ptr()));

    auto shade = lib.AddCustomTypeInfo(u"Shade", TKIND_ENUM, GuidText(1));
    AddConst(shade->CreateTypeInfo().get(), 0, u"Light", Variant(int32_t{1}));
    AddConst(shade->CreateTypeInfo().get(), 1, u"Dark", Variant(int32_t{-2}));
    shade->Attributes(TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL);

    auto cell = lib.AddCustomTypeInfo(u"Cell", TKIND_RECORD, GuidText(2));
    cell->SetAlignment(8);
    AddField(cell->CreateTypeInfo().get(), 0, u"shade", Vti(0, lib.GetTypeInfo(u"Shade").get()).get(), VAR_PERINSTANCE);
    AddField(cell->CreateTypeInfo().get(), 1, u"weight", Vti(VT_R8).get(), VAR_PERINSTANCE);
    auto grid = Vti(VT_I2, nullptr, 1);
    grid->SetFixedArrayData(BoundsTable{{1, 3}, {0, 1}}, 0);
    AddField(cell->CreateTypeInfo().get(), 2, u"grid", grid.get(), VAR_PERINSTANCE);
    Variant varNote(2.25f);
    ASSERT_OK(cell->CreateTypeInfo()->SetVarCustData(1, G(GuidText(0x71).c_str()), varNote.ptr()));
    SetCust(cell->CreateTypeInfo().get(), 1, Variant(std::u16string_view(u"type item")));

    auto value = lib.AddCustomTypeInfo(u"Value", TKIND_UNION, GuidText(3));
    AddField(value->CreateTypeInfo().get(), 0, u"asLong", Vti(VT_I4).get(), VAR_PERINSTANCE);
    AddField(value->CreateTypeInfo().get(), 1, u"asText", Vti(VT_BSTR).get(), VAR_PERINSTANCE);

    auto cellGrid = lib.AddCustomTypeInfo(u"CellGrid", TKIND_ALIAS, u"{00000000-0000-0000-0000-000000000000}");
    auto cells = Vti(0, lib.GetTypeInfo(u"Cell").get());
    cells->SetFixedArrayData(BoundsTable{{0, 3}, {1, 2}}, 0);
    cellGrid->SetAlias(cells.get());
    auto pcell = lib.AddCustomTypeInfo(u"PCell", TKIND_ALIAS, u"{00000000-0000-0000-0000-000000000000}");
    pcell->SetAlias(Vti(0, lib.GetTypeInfo(u"Cell").get(), 2).get());
    auto names = lib.AddCustomTypeInfo(u"Names", TKIND_ALIAS, u"{00000000-0000-0000-0000-000000000000}");
    auto bstrs = Vti(VT_BSTR);
    bstrs->SetSafeArrayData(0);
    names->SetAlias(bstrs.get());

    auto shapeBase = lib.AddCustomTypeInfo(u"IShapeBase", TKIND_INTERFACE, GuidText(4));
    shapeBase->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    AddFunc(shapeBase->CreateTypeInfo().get(), 0, {.name = u"Describe", .params = {{u"text", Vt(VT_BSTR)}}});
    shapeBase->LayOut();

    // IShape starts on IUnknown and is rebased onto IShapeBase with its functions.
    auto shape = lib.AddCustomTypeInfo(u"IShape", TKIND_INTERFACE, GuidText(5));
    shape->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
    {
        ICreateTypeInfo2* t = shape->CreateTypeInfo().get();
        TypeDescs td;
        AddFunc(t, 0, {u"Area", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"value", td.Ptr(Vt(VT_R8)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
        AddFunc(t, 1, {.name = u"Fixed", .memid = 5});
        AddFunc(t, 2, {.name = u"Move", .params = {{u"x", Vt(VT_I4)}, {u"y", Vt(VT_I4)}}});
        ASSERT_OK(t->SetFuncDocString(2, u"Moves the shape"));
        ASSERT_OK(t->SetFuncHelpContext(2, 42));
        Variant n(int32_t{100});
        ASSERT_OK(t->SetFuncCustData(2, G(GuidText(0x72).c_str()), n.ptr()));
        Variant p(std::u16string_view(u"parameter item"));
        ASSERT_OK(t->SetParamCustData(2, 1, G(GuidText(0x73).c_str()), p.ptr()));
        ASSERT_OK(t->LayOut());
    }
    shape = lib.GetCustomTypeInfo(u"IShape");
    shape->SetBaseType(CustomTypeInfo::kBaseCustom, lib.GetTypeInfo(u"IShapeBase").get());
    shape->Attributes(TYPEFLAG_FOLEAUTOMATION);

    auto widget = lib.AddCustomTypeInfo(u"IWidget", TKIND_INTERFACE, GuidText(6));
    widget->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    widget->Attributes(TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE);
    {
        ICreateTypeInfo2* t = widget->CreateTypeInfo().get();
        TypeDescs td;
        const TYPEDESC puser = td.Ptr(User(RefTo(t, shape->ITypeInfo().get())));
        AddFunc(t, 0, {u"Shape", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"result", td.Ptr(puser), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
        AddFunc(t, 1, {u"Shape", INVOKE_PROPERTYPUTREF, Vt(VT_HRESULT), {{u"value", puser}}, 0, FuncIdAt(t, 0)});
    }
    widget->LayOut();

    auto events = lib.AddCustomTypeInfo(u"DEvents", TKIND_DISPATCH, GuidText(7));
    events->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    AddFunc(events->CreateTypeInfo().get(), 0,
            {.name = u"Changed", .ret = Vt(VT_VOID), .params = {{u"what", Vt(VT_BSTR)}}, .memid = 1, .kind = FUNC_DISPATCH});
    events->Attributes(TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL);

    auto api = lib.AddCustomTypeInfo(u"Api", TKIND_MODULE, GuidText(8));
    AddFunc(api->CreateTypeInfo().get(), 0,
            {.name = u"Beep", .ret = Vt(VT_I4), .params = {{u"tone", Vt(VT_I4)}}, .memid = 0x60000000, .kind = FUNC_STATIC});
    ASSERT_OK(api->CreateTypeInfo()->DefineFuncAsDllEntry(0, u"model.dll", DllEntryPoint(u"BeepNow")));
    AddConst(api->CreateTypeInfo().get(), 0, u"Greeting", Variant(std::u16string_view(u"hello")));

    auto thing = lib.AddCustomTypeInfo(u"Widget", TKIND_COCLASS, GuidText(9));
    thing->Attributes(TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    thing->AddImplType(lib.GetTypeInfo(u"IShape").get(), IMPLTYPEFLAG_FDEFAULT);
    thing->AddImplType(lib.GetTypeInfo(u"DEvents").get(), IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT);
    thing->AddImplType(lib.GetTypeInfo(u"IShapeBase").get(), 0);
    int32_t flags = IMPLTYPEFLAG_FDEFAULT;
    thing->SetImplTypeFlags(2, flags);  // IShapeBase becomes the default
    thing->SetImplTypeType(0, lib.GetTypeInfo(u"IWidget").get());
    Variant implNote(std::u16string_view(u"implemented item"));
    ASSERT_OK(thing->CreateTypeInfo()->SetImplTypeCustData(1, G(GuidText(0x74).c_str()), implNote.ptr()));
    thing->SetVersion(1, 2);
}

TEST(ModelGolden, SavedLibraryReadsLikeTheCommittedReferenceDump) {
    RegisterFileServices();
    CustomTypeLib lib;
    BuildModelGolden(lib);
    if (HasFatalFailure()) return;
    ComPtr<ITypeLib> generated = lib.GenerateDirect(false);
    const bool update = std::getenv("ZEPHRIN_UPDATE_GOLDENS") != nullptr;
    const std::filesystem::path committed = GoldenDir() / "model.tlb";
    const std::u16string target = update ? FromUtf8(committed.string()) : TempPath("golden-model");
    if (update) std::filesystem::create_directories(GoldenDir());
    Save(generated.get(), target);
    if (update) GTEST_SKIP() << "rewrote " << committed;

    const std::string reference = ReadText(GoldenDir() / "model.dump");
    ASSERT_FALSE(reference.empty());
    // The committed file, and the file saved now, read as the platform read the committed one.
    std::string dump;
    ASSERT_OK(tlbtools::DumpTypeLibFile(FromUtf8(committed.string()), &dump));
    EXPECT_EQ(tlbtools::WithCrLf(dump), reference);
    ASSERT_OK(tlbtools::DumpTypeLibFile(target, &dump));
    EXPECT_EQ(tlbtools::WithCrLf(dump), reference);
}

}  // namespace

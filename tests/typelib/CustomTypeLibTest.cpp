// The editable library: creation, attributes, generation, types, attaching
// and copying, checked on the saved and reloaded library.
#include "ModelTestSupport.h"
#include "tools/CopyTypeLib.h"
#include "typelib/BaseTICache.h"

using namespace modeltest;

namespace {

constexpr const char16_t* kLibGuid = u"{5A170A00-60D1-4E2B-9A51-000000001701}";

class EditableLibrary : public ::testing::Test {
protected:
    void TearDown() override {
        ole::testing::ClearInjectedFailures();
        zephrin::SetLibraryCopier(nullptr);
    }
};

TEST_F(EditableLibrary, StartsAtVersionOneAndCreatesTheLibraryOnTheFirstSetter) {
    CustomTypeLib lib;
    EXPECT_EQ(lib.MajorVersion(), 1);
    EXPECT_EQ(lib.MinorVersion(), 0);
    EXPECT_FALSE(lib.CreateView());
    EXPECT_EQ(ErrorOf([&] { lib.MajorVersion(0); }), 5);
    EXPECT_FALSE(lib.CreateView());
    lib.MinorVersion(0);
    ASSERT_TRUE(lib.CreateView());
    lib.MinorVersion(3);
    EXPECT_EQ(ErrorOf([&] { lib.MinorVersion(-1); }), 5);
    EXPECT_EQ(lib.MinorVersion(), 3);
    lib.Attributes(31);
    EXPECT_EQ(lib.Attributes(), 15);
    lib.Attributes(16);
    EXPECT_EQ(lib.Attributes(), 0);
    lib.Attributes(LIBFLAG_FHIDDEN | LIBFLAG_FCONTROL);
    lib.LCID(1033);
    lib.LibName(u"Versions");
    lib.Guid(kLibGuid);
    EXPECT_EQ(ErrorOf([&] { lib.Guid(u"5A170A00-60D1-4E2B-9A51-000000001701"); }), CO_E_IIDSTRING);
    // What the setters stored, the failed GUID change leaving the GUID alone.
    const std::string dump = GenerateSaveDump(lib);
    EXPECT_EQ(dump.substr(0, dump.find('\n')),
              "library \"Versions\" {5A170A00-60D1-4E2B-9A51-000000001701} v1.3 lcid=1033 syskind=1 flags=0xe");
}

TEST_F(EditableLibrary, GenerationNeedsANameButNoGuid) {
    CustomTypeLib lib;
    ErrorRecord e = RecordOf([&] { lib.GenerateDirect(false); });
    EXPECT_EQ(e.Number, 5);
    EXPECT_EQ(e.Description, u"LibName and GUID must be set.");
    EXPECT_FALSE(lib.CreateView());
    lib.Guid(kLibGuid);
    EXPECT_EQ(RecordOf([&] { lib.GenerateDirect(false); }).Description, u"LibName and GUID must be set.");
    CustomTypeLib named;
    named.LibName(u"NoGuid");
    EXPECT_EQ(NameOf(named.Generate(false)), u"NoGuid");
    EXPECT_EQ(named.GenerateDirect(false).get(), static_cast<ITypeLib*>(named.ReadView().get()));

    // Library-level calls that need a library do not make one.
    CustomTypeLib empty;
    EXPECT_EQ(ErrorOf([&] { empty.RestorePrimaryExternalFiles(); }), 91);
    EXPECT_EQ(ErrorOf([&] { empty.GetCustomTypeInfoByNumber(0); }), 91);
    EXPECT_EQ(ErrorOf([&] { empty.DeleteTypeInfo(u"X"); }), 91);
    EXPECT_EQ(ErrorOf([&] { empty.GetTypeInfo(kLibGuid); }), 91);
    EXPECT_FALSE(empty.CreateView());
}

TEST_F(EditableLibrary, EveryKindOfTypeIsAddedAndAutomaticBasesAreGiven) {
    CustomTypeLib lib;
    lib.LibName(u"Kinds");
    lib.Guid(kLibGuid);
    const TYPEKIND kinds[] = {TKIND_ENUM,     TKIND_RECORD,  TKIND_MODULE, TKIND_INTERFACE,
                              TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS,  TKIND_UNION};
    const char16_t* names[] = {u"Colors", u"Point", u"Api", u"IThing", u"DThing", u"Thing", u"Handle", u"Value"};
    for (int i = 0; i < 8; ++i) {
        std::u16string guid = u"{5A170A1" + std::u16string(1, static_cast<char16_t>(u'0' + i)) +
                              u"-60D1-4E2B-9A51-000000001701}";
        auto t = lib.AddCustomTypeInfo(names[i], kinds[i], kinds[i] == TKIND_ALIAS ? kNoGuid : guid);
        EXPECT_EQ(t->TypeKind(), kinds[i]);
    }
    auto alias = lib.GetCustomTypeInfo(u"Handle");
    auto vti = zephrin::CustomVarTypeInfo::New();
    vti->SetType(VT_I4, nullptr);
    alias->SetAlias(vti.get());
    // A type that already has a base keeps it.
    auto based = lib.AddCustomTypeInfo(u"IBased", TKIND_INTERFACE, kNoGuid);
    based->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);

    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(true).get());
    const std::string dump = tlbtools::DumpTypeLib(reloaded.get());
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(dump.find("type " + std::to_string(i) + " \"" + ToUtf8(names[i]) + "\" kind=" + std::to_string(kinds[i])),
                  std::string::npos)
            << dump;
    EXPECT_EQ(ImplNames(TypeByName(reloaded.get(), u"IThing").get()), std::vector<std::u16string>{u"IUnknown"});
    EXPECT_EQ(ImplNames(TypeByName(reloaded.get(), u"DThing").get()), std::vector<std::u16string>{u"IDispatch"});
    EXPECT_TRUE(ImplNames(TypeByName(reloaded.get(), u"Thing").get()).empty());
    EXPECT_TRUE(ImplNames(TypeByName(reloaded.get(), u"Api").get()).empty());
    EXPECT_EQ(ImplNames(TypeByName(reloaded.get(), u"IBased").get()), std::vector<std::u16string>{u"IDispatch"});
    EXPECT_NE(TypeSection(dump, "Handle").find("alias vt3"), std::string::npos);
    EXPECT_NE(TypeSection(dump, "Point").find("{5A170A11-60D1-4E2B-9A51-000000001701}"), std::string::npos);
    EXPECT_NE(TypeSection(dump, "Handle").find("{00000000-0000-0000-0000-000000000000}"), std::string::npos);
}

TEST_F(EditableLibrary, ABaseThatCannotBeAddedDoesNotStopTheGeneration) {
    CustomTypeLib lib;
    lib.LibName(u"Bases");
    lib.AddCustomTypeInfo(u"IFirst", TKIND_INTERFACE, kNoGuid);
    lib.AddCustomTypeInfo(u"ISecond", TKIND_INTERFACE, kNoGuid);
    ole::testing::FailNextCall("AddImplType", E_OUTOFMEMORY);
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(true).get());
    EXPECT_TRUE(ImplNames(TypeByName(reloaded.get(), u"IFirst").get()).empty());
    EXPECT_EQ(ImplNames(TypeByName(reloaded.get(), u"ISecond").get()), std::vector<std::u16string>{u"IUnknown"});
    // A layout that fails is raised.
    ole::testing::FailNextCall("LayOut", TYPE_E_INVALIDSTATE);
    EXPECT_EQ(ErrorOf([&] { lib.GenerateDirect(true); }), TYPE_E_INVALIDSTATE);
}

TEST_F(EditableLibrary, AFailedAddLeavesNoTypeBehind) {
    CustomTypeLib lib;
    lib.LibName(u"Adds");
    EXPECT_EQ(ErrorOf([&] { lib.AddCustomTypeInfo(u"IBad", TKIND_INTERFACE, u"not a guid"); }), CO_E_IIDSTRING);
    EXPECT_EQ(ErrorOf([&] { lib.AddCustomTypeInfo(u"IBad", TKIND_INTERFACE, u""); }), CO_E_IIDSTRING);
    ole::testing::FailNextCall("SetGuid", E_OUTOFMEMORY);
    EXPECT_EQ(ErrorOf([&] { lib.AddCustomTypeInfo(u"IBad", TKIND_INTERFACE, kLibGuid); }), E_OUTOFMEMORY);
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 0u);
    EXPECT_EQ(ErrorOf([&] { lib.GetTypeInfo(u"IBad"); }), TYPE_E_ELEMENTNOTFOUND);
    lib.AddCustomTypeInfo(u"IBad", TKIND_INTERFACE, kLibGuid);
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 1u);
}

TEST_F(EditableLibrary, DualInterfacesAreEditedAsTheirInterfaceHalf) {
    CustomTypeLib lib;
    lib.LibName(u"Duals");
    auto dual = lib.AddCustomTypeInfo(u"IDual", TKIND_INTERFACE, u"{5A170A20-60D1-4E2B-9A51-000000001701}");
    dual->Attributes(TYPEFLAG_FDUAL);
    dual->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    AddFunc(dual->CreateTypeInfo().get(), 0, {u"Go"});
    lib.GenerateDirect(false);
    EXPECT_EQ(Get(lib.GetTypeInfo(u"IDual"), &tli::TypeInfo::get_TypeKind), TKIND_DISPATCH);
    auto byName = lib.GetCustomTypeInfo(u"IDual");
    EXPECT_EQ(byName->TypeKind(), TKIND_INTERFACE);
    EXPECT_EQ(byName->FuncCount(), 1);
    EXPECT_EQ(lib.GetCustomTypeInfoByNumber(0)->TypeKind(), TKIND_INTERFACE);
    EXPECT_EQ(lib.GetCustomTypeInfo(u"{5A170A20-60D1-4E2B-9A51-000000001701}")->TypeKind(), TKIND_INTERFACE);
    EXPECT_EQ(Get(byName->TypeInfo(), &tli::TypeInfo::get_TypeKind), TKIND_INTERFACE);
    EXPECT_EQ(byName->Attributes(), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);

    const std::string dump = GenerateSaveDump(lib);
    EXPECT_NE(dump.find("type 0 \"IDual\" kind=4"), std::string::npos) << dump;
    EXPECT_NE(dump.find("dual-interface-half \"IDual\" kind=3"), std::string::npos) << dump;
}

TEST_F(EditableLibrary, DeletingByGuidDeletesThatType) {
    CustomTypeLib lib;
    lib.LibName(u"Deletes");
    lib.AddCustomTypeInfo(u"IKeep", TKIND_INTERFACE, u"{5A170A30-60D1-4E2B-9A51-000000001701}");
    lib.AddCustomTypeInfo(u"IGone", TKIND_INTERFACE, u"{5A170A31-60D1-4E2B-9A51-000000001701}");
    lib.DeleteTypeInfo(u"{5A170A31-60D1-4E2B-9A51-000000001701}");
    EXPECT_EQ(ErrorOf([&] { lib.DeleteTypeInfo(u"IGone"); }), TYPE_E_ELEMENTNOTFOUND);
    lib.DeleteTypeInfo(u"ikeep");
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 0u);
}

TEST_F(EditableLibrary, AttachKeepsTheSameLibraryAndRefusesReadOnlyOnes) {
    CustomTypeLib source;
    source.LibName(u"Attached");
    source.MajorVersion(3);
    source.MinorVersion(2);
    source.AddCustomTypeInfo(u"IOne", TKIND_INTERFACE, kNoGuid);
    ComPtr<ITypeLib> lib = source.GenerateDirect(true);

    CustomTypeLib view;
    view.Attach(lib.get());
    EXPECT_EQ(view.MajorVersion(), 3);
    EXPECT_EQ(view.MinorVersion(), 2);
    EXPECT_EQ(view.LibName(), u"Attached");
    view.MinorVersion(5);
    view.Attach(lib.get());  // the same library: nothing changes
    EXPECT_EQ(view.MinorVersion(), 5);
    view.LibName(u"Renamed");
    BSTR name = nullptr;
    ASSERT_OK(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    EXPECT_EQ(BstrView(name), u"Renamed");  // one library, two editors
    SysFreeString(name);

    ComPtr<ITypeLib> loaded = SaveAndReload(lib.get());
    EXPECT_EQ(ErrorOf([&] { view.Attach(loaded.get()); }), 13);
    EXPECT_EQ(view.LibName(), u"Renamed");

    view.Attach(nullptr);
    EXPECT_EQ(view.MajorVersion(), 1);
    EXPECT_EQ(view.MinorVersion(), 0);
    EXPECT_EQ(view.LibName(), u"");
    EXPECT_FALSE(view.CreateView());
}

TEST_F(EditableLibrary, AttachingACopyOfALoadedLibraryMakesItEditable) {
    RegisterFileServices();
    ComPtr<ITypeLib> golden;
    const std::string path = std::string(ZEPHRIN_TEST_DATA_DIR) + "/golden/helpdata.tlb";
    ASSERT_OK(LoadTypeLibEx(FromUtf8(path).c_str(), REGKIND_NONE, golden.put()));
    zephrin::SetLibraryCopier([](ITypeLib* src) {
        ComPtr<ICreateTypeLib2> copy;
        EXPECT_OK(CreateTypeLib2(SYS_WIN32, u"", copy.put()));
        EXPECT_OK(tlbtools::CopyTypeLib(src, copy.get()));
        return copy.As<ITypeLib>();
    });
    CustomTypeLib lib;
    ComPtr<tli::TypeLibInfo> info = InfoOf(golden.get());
    lib.Duplicate(info.get());
    EXPECT_EQ(lib.MajorVersion(), Get(info, &tli::TypeLibInfo::get_MajorVersion));
    EXPECT_TRUE(lib.CreateView());
    const std::string before = tlbtools::DumpTypeLib(golden.get());

    // The library's help file comes back without its folder.
    ASSERT_OK(lib.CreateView()->SetHelpFileName(u"C:\\help\\golden.chm"));
    lib.RestorePrimaryExternalFiles();
    lib.LibName(u"HelpCopy");
    const std::string after = GenerateSaveDump(lib);
    EXPECT_NE(after.find("helpfile=\"golden.chm\""), std::string::npos);
    // Everything below the library line is as in the original.
    EXPECT_EQ(after.substr(after.find("\ntype ")), before.substr(before.find("\ntype ")));
}

}  // namespace

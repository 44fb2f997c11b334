// Saving through the creation interfaces: what the golden files cannot show.
#include <cstdio>
#include <string>

#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

std::u16string TempPath(const char* name) {
    std::string p = ::testing::TempDir() + name;
    return FromUtf8(p);
}

// Saving and loading every kind of type is checked byte for byte and dump for
// dump by the golden libraries; here, what a dump cannot show: a reference to
// the standard library loads as the very object the library holds.
TEST(EngineSave, AReferenceToTheStandardLibraryLoadsAsTheSameObject) {
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IDispatch, dispatch.put()));

    const std::u16string path = TempPath("engine_std_reference.tlb");
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()));
    ASSERT_OK(lib->SetName(u"UsesStd"));
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), dispatch.get())));
    ASSERT_OK(lib->SaveAllChanges());

    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, back.put()));
    ComPtr<ITypeInfo> loaded, half, base;
    ASSERT_OK(back->GetTypeInfo(0, loaded.put()));
    HREFTYPE h = 0;
    ASSERT_OK(loaded->GetRefTypeOfImplType(static_cast<UINT>(-1), &h));
    ASSERT_OK(loaded->GetRefTypeInfo(h, half.put()));
    ASSERT_OK(half->GetRefTypeOfImplType(0, &h));
    ASSERT_OK(half->GetRefTypeInfo(h, base.put()));
    EXPECT_EQ(dispatch.get(), base.get());
    std::remove(ToUtf8(path).c_str());
}

TEST(EngineSave, AnUnnamedFileCannotBeSavedAndAFailedLayOutStopsTheSave) {
    auto lib = NewLib();
    EXPECT_EQ(TYPE_E_IOERROR, lib->SaveAllChanges());
    const std::u16string path = TempPath("engine_bad_layout.tlb");
    ComPtr<ICreateTypeLib2> named;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), named.put()));
    ASSERT_OK(named->SetName(u"Bad"));
    auto dup = NewType(named.get(), u"IDup", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(dup.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 8));
    ASSERT_OK(AddFunc(dup.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, 8));
    EXPECT_EQ(TYPE_E_INVALIDSTATE, named->SaveAllChanges());
    FILE* f = std::fopen(ToUtf8(path).c_str(), "rb");
    EXPECT_EQ(nullptr, f);
    if (f) std::fclose(f);
}

// Longer names and texts than the file holds are refused by the call that sets
// them; the longest it holds are saved and read back whole.
TEST(EngineSave, NamesOver255AndTextsOver65535BytesAreRefusedWhereTheyAreSet) {
    const std::u16string name(255, u'n'), longName(256, u'n'), text(0xFFFF, u't'), longText(0x10000, u't');
    const std::u16string path = TempPath("engine_long_texts.tlb");
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()));
    ComPtr<ICreateTypeInfo> none;
    EXPECT_EQ(E_INVALIDARG, lib->CreateTypeInfo(longName.c_str(), TKIND_MODULE, none.put()));
    EXPECT_EQ(E_INVALIDARG, lib->SetName(longName.c_str()));
    EXPECT_EQ(E_INVALIDARG, lib->SetDocString(longText.c_str()));
    EXPECT_EQ(E_INVALIDARG, lib->SetHelpFileName(longText.c_str()));
    EXPECT_EQ(E_INVALIDARG, lib->SetHelpStringDll(longText.c_str()));
    ASSERT_OK(lib->SetName(name.c_str()));
    ASSERT_OK(lib->SetDocString(text.c_str()));
    auto mod = NewType(lib.get(), name.c_str(), TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_HRESULT, {VT_I4}));
    VARIANT one{};
    one.vt = VT_I4;
    ASSERT_OK(AddVar(mod.get(), 0, VAR_CONST, VT_I4, u"c", &one));
    EXPECT_EQ(E_INVALIDARG, mod->SetName(longName.c_str()));
    EXPECT_EQ(E_INVALIDARG, mod->SetDocString(longText.c_str()));
    EXPECT_EQ(E_INVALIDARG, SetNames(mod.get(), 0, {u"F", longName}));
    EXPECT_EQ(E_INVALIDARG, mod->SetFuncDocString(0, longText.c_str()));
    EXPECT_EQ(E_INVALIDARG, mod->DefineFuncAsDllEntry(0, longText.c_str(), u"Entry"));
    EXPECT_EQ(E_INVALIDARG, mod->DefineFuncAsDllEntry(0, u"x.dll", DllEntryPoint(longText)));
    EXPECT_EQ(E_INVALIDARG, mod->SetVarName(0, longName.c_str()));
    EXPECT_EQ(E_INVALIDARG, mod->SetVarDocString(0, longText.c_str()));
    ASSERT_OK(SetNames(mod.get(), 0, {name, name}));
    ASSERT_OK(mod->SetFuncDocString(0, text.c_str()));
    ASSERT_OK(mod->DefineFuncAsDllEntry(0, text.c_str(), name));
    ASSERT_OK(lib->SaveAllChanges());

    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, back.put()));
    BStr libName, libDoc, funcName, funcDoc, dll, entry;
    ASSERT_OK(back->GetDocumentation(-1, libName.put(), libDoc.put(), nullptr, nullptr));
    EXPECT_EQ(name, libName.str());
    EXPECT_EQ(text, libDoc.str());
    ComPtr<ITypeInfo> loaded;
    ASSERT_OK(back->GetTypeInfo(0, loaded.put()));
    EXPECT_EQ(name, NameOf(loaded.get()));
    const MEMBERID id = FuncAt(loaded.get(), 0).memid;
    EXPECT_EQ((std::vector<std::u16string>{name, name}), NamesOf(loaded.get(), id));
    ASSERT_OK(loaded->GetDocumentation(id, nullptr, funcDoc.put(), nullptr, nullptr));
    EXPECT_EQ(text, funcDoc.str());
    WORD ordinal = 0;
    ASSERT_OK(loaded->GetDllEntry(id, INVOKE_FUNC, dll.put(), entry.put(), &ordinal));
    EXPECT_EQ(text, dll.str());
    EXPECT_EQ(name, entry.str());
    std::remove(ToUtf8(path).c_str());
}

}  // namespace

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

}  // namespace

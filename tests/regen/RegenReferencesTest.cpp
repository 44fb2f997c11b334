// A reference into another library is saved so that it reloads to the library
// it names. A library file names it by GUID, so a reference into a library
// without one would be read back into another library without a GUID (the
// referring one first): such a save is refused, naming that library.
#include "RegenTestSupport.h"
#include "platform/tlbfiles/MsftWriter.h"

namespace regentest {
namespace {

using zephrin::ErrorReportText;

constexpr GUID kOtherGuid = {0x7B1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// library Other { enum Shade { Dark }; }, saved to file and loaded from there
// (with a GUID when one is given).
ComPtr<ITypeLib> Other(const fs::path& file, const GUID* guid) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Other", file.u16string());
    if (guid) {
        EXPECT_OK(lib->SetGuid(*guid));
    }
    auto shade = NewType(lib.get(), u"Shade", TKIND_ENUM);
    const Variant dark = Variant::Int(0);
    AddVar(shade.get(), 0, u"Dark", Vt(VT_INT), VAR_CONST, &dark);
    EXPECT_OK(lib->SaveAllChanges());
    return LoadFile(file);
}

// library Referring { enum Colors { Red }; typedef Other.Shade Tone; } (no GUID).
ComPtr<ITypeLib> Referring(ITypeLib* other) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Referring");
    auto colors = NewType(lib.get(), u"Colors", TKIND_ENUM);
    const Variant red = Variant::Int(0);
    AddVar(colors.get(), 0, u"Red", Vt(VT_INT), VAR_CONST, &red);
    auto tone = NewType(lib.get(), u"Tone", TKIND_ALIAS);
    ComPtr<ITypeInfo> shade;
    EXPECT_OK(other->GetTypeInfo(0, shade.put()));
    TYPEDESC target = User(RefTo(tone.get(), shade.get()));
    EXPECT_OK(tone->SetTypeDescAlias(&target));
    return AsTypeLib(lib.get());
}

// The library and the name of the type that alias index of lib stands for.
std::pair<std::u16string, std::u16string> AliasTarget(ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> alias, target;
    ComPtr<ITypeLib> owner;
    EXPECT_OK(lib->GetTypeInfo(index, alias.put()));
    HREFTYPE href = zephrin::typelib_detail::TypeAttr(alias.get())->tdescAlias.hreftype;
    if (FAILED(alias->GetRefTypeInfo(href, target.put()))) return {};
    UINT at = 0;
    EXPECT_OK(target->GetContainingTypeLib(owner.put(), &at));
    BSTR libName = nullptr, typeName = nullptr;
    EXPECT_OK(owner->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr));
    EXPECT_OK(owner->GetDocumentation(static_cast<INT>(at), &typeName, nullptr, nullptr, nullptr));
    return {TakeBstr(libName), TakeBstr(typeName)};
}

TEST(RegenReferences, AReferenceIntoALibraryWithoutAGuidIsRefusedNamingThatLibrary) {
    RegisterFileServices();
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", nullptr);
    ComPtr<ITypeLib> referring = Referring(other.get());
    const fs::path saved = dir / "referring.tlb";

    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(referring.get(), true, &data));
    EXPECT_EQ(WriteMsftTypeLib(*data, saved.u16string()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(GetLibraryWithoutGuid(), u"Other");
    EXPECT_FALSE(fs::exists(saved));

    // The program's save says which library, and writes nothing.
    TLBModifier modifier;
    modifier.StartingLibDirect(referring.get());
    const ErrorRecord e = RecordOf([&] { modifier.GenerateDirect(saved.u16string()); });
    EXPECT_EQ(e.Number, TYPE_E_LIBNOTREGISTERED);
    EXPECT_NE(ErrorReportText(e).find(u"\"Other\""), std::u16string::npos) << ToUtf8(ErrorReportText(e));
    EXPECT_FALSE(fs::exists(saved));
}

TEST(RegenReferences, AReferenceIntoALibraryWithAGuidReloadsToThatLibrary) {
    RegisterFileServices();
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", &kOtherGuid);
    ComPtr<ITypeLib> referring = Referring(other.get());
    const fs::path saved = dir / "referring.tlb";
    TLBModifier modifier;
    modifier.StartingLibDirect(referring.get());
    ASSERT_NO_THROW(modifier.GenerateDirect(saved.u16string()));
    ComPtr<ITypeLib> reloaded = LoadFile(saved);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(AliasTarget(reloaded.get(), 1), (std::pair<std::u16string, std::u16string>{u"Other", u"Shade"}));
}

}  // namespace
}  // namespace regentest

// The MSFT writer: the image layout the format fixes, saving through a
// temporary file, failures that leave nothing behind, text in the ANSI code
// page, and references to other libraries' types becoming imports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/automation/NameHash.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

using namespace ole;

namespace {

uint32_t U32(const std::vector<std::byte>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return v;
}

// Where a segment starts, from the directory after the header.
size_t SegmentAt(const std::vector<std::byte>& image, int segment) {
    const size_t types = U32(image, 0x20);
    const bool helpDll = (U32(image, 0x14) & 0x100) != 0;
    return U32(image, 0x54 + (helpDll ? 4 : 0) + 4 * types + 16 * static_cast<size_t>(segment));
}

// The member block of type index, as the type info record points to it.
size_t MemberBlock(const std::vector<std::byte>& image, size_t index) {
    return U32(image, SegmentAt(image, 0) + index * 0x64 + 4);
}

constexpr GUID kLibGuid = {0x0DDBA11, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

LibraryData SmallLibrary() {
    LibraryData d;
    d.name = u"Lib";
    d.guid = kLibGuid;
    return d;
}

// A library with one interface whose method takes a reference.
LibraryData WithReference(RefData ref) {
    LibraryData d = SmallLibrary();
    TypeData t;
    t.name = u"IUser";
    t.kind = TKIND_INTERFACE;
    t.cbSizeInstance = 4;
    t.cbSizeVft = 4;
    FuncData f;
    f.name = u"Use";
    f.memid = 0x60000000;
    f.returnType.vt = VT_HRESULT;
    ParamData p;
    p.name = u"value";
    p.type.vt = VT_PTR;
    p.type.element.emplace_back();
    p.type.element[0].vt = VT_USERDEFINED;
    p.type.element[0].href = ref.href;
    p.flags = PARAMFLAG_FIN;
    f.params.push_back(p);
    t.funcs.push_back(f);
    d.types.push_back(t);
    d.refs.push_back(std::move(ref));
    return d;
}

class Writer : public ::testing::Test {
protected:
    void SetUp() override { RegisterFileServices(); }
    size_t FilesInFolder() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
    }
    ComPtr<ITypeLib> LoadImage(const std::vector<std::byte>& image, const char16_t* name) {
        ComPtr<ITypeLib> lib;
        std::u16string path = FromUtf8((dir_ / "mem").string()) + u"/" + name;
        EXPECT_EQ(LoadTypeLibFromMemory(image.data(), image.size(), path.c_str(), lib.put()), S_OK);
        return lib;
    }
    // Saves d (whose first type's first method takes a reference), loads it
    // and follows the reference; the result of GetRefTypeInfo.
    HRESULT FollowSavedReference(const LibraryData& d, ComPtr<ITypeLib>* lib, ComPtr<ITypeInfo>* target) {
        std::vector<std::byte> image;
        EXPECT_EQ(BuildMsftImage(d, &image), S_OK);
        *lib = LoadImage(image, u"reference.tlb");
        ComPtr<ITypeInfo> user;
        if (!*lib || FAILED((*lib)->GetTypeInfo(0, user.put()))) return E_FAIL;
        FUNCDESC* fd = nullptr;
        if (FAILED(user->GetFuncDesc(0, &fd))) return E_FAIL;
        HREFTYPE href = fd->lprgelemdescParam[0].tdesc.lptdesc->hreftype;
        user->ReleaseFuncDesc(fd);
        return user->GetRefTypeInfo(href, target->put());
    }
    testsupport::TempDir tmp_;
    const std::filesystem::path& dir_ = tmp_.path();
};

// The format's own worked example: a library with a name and a GUID only.
TEST_F(Writer, SmallestLibraryHasTheDocumentedLayout) {
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(SmallLibrary(), &image), S_OK);
    ASSERT_EQ(image.size(), 0x3ECu);
    EXPECT_EQ(U32(image, 0x00), 0x5446534Du);
    EXPECT_EQ(U32(image, 0x04), 0x00010002u);
    EXPECT_EQ(U32(image, 0x0C), 0x409u);  // hash LCID of a neutral library
    EXPECT_EQ(U32(image, 0x14), 0x41u);   // SYS_WIN32 and the always-set bit
    EXPECT_EQ(U32(image, 0x4C), 0xFFFFFFFFu);
    const size_t dir = 0x54;
    auto segment = [&](int i) { return std::make_pair(U32(image, dir + 16 * i), U32(image, dir + 16 * i + 4)); };
    EXPECT_EQ(segment(4), std::make_pair(0x144u, 0x80u));   // GUID hash
    EXPECT_EQ(segment(5), std::make_pair(0x1C4u, 24u));     // GUID table
    EXPECT_EQ(segment(6), std::make_pair(0x1DCu, 0x200u));  // name hash
    EXPECT_EQ(segment(7), std::make_pair(0x3DCu, 16u));     // name table
    EXPECT_EQ(segment(0).first, 0xFFFFFFFFu);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(U32(image, dir + 16 * i + 12), 0x0Fu);
    EXPECT_EQ(U32(image, 0x1C4 + 16), static_cast<uint32_t>(-2));  // marker of the library GUID
    uint32_t bucket = LHashValOfNameSys(SYS_WIN32, 0x409, u"Lib") & 0x7F;
    EXPECT_EQ(U32(image, 0x1DC + 4 * bucket), 0u);
}

TEST_F(Writer, SavingReplacesTheFileAndLeavesNoTemporaryFile) {
    auto target = dir_ / "lib.tlb";
    std::ofstream(target) << "old contents";
    ASSERT_EQ(WriteMsftTypeLib(SmallLibrary(), FromUtf8(target.string())), S_OK);
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(SmallLibrary(), &image), S_OK);
    EXPECT_EQ(testsupport::ReadText(target), std::string(reinterpret_cast<const char*>(image.data()), image.size()));
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(Writer, AFailedSaveKeepsTheOldFileAndLeavesNothingBehind) {
    auto target = dir_ / "lib.tlb";
    std::ofstream(target) << "old contents";
    LibraryData bad = WithReference(RefData{});
    bad.refs.clear();  // the parameter's reference names nothing
    EXPECT_EQ(WriteMsftTypeLib(bad, FromUtf8(target.string())), TYPE_E_UNDEFINEDTYPE);
    EXPECT_EQ(testsupport::ReadText(target), "old contents");
    EXPECT_EQ(FilesInFolder(), 1u);

    auto nowhere = dir_ / "missing-folder" / "lib.tlb";
    EXPECT_EQ(WriteMsftTypeLib(SmallLibrary(), FromUtf8(nowhere.string())), TYPE_E_CANTCREATETMPFILE);
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}

TEST_F(Writer, SavingWritesALinksTargetKeepsHardLinksAndModeAndRefusesAReadOnlyFile) {
    namespace fs = std::filesystem;
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(SmallLibrary(), &image), S_OK);
    const std::string saved(reinterpret_cast<const char*>(image.data()), image.size());
    auto save = [&](const fs::path& p) { return WriteMsftTypeLib(SmallLibrary(), FromUtf8(p.string())); };

    // Through a relative link to a link: the final target is written, both links stay.
    fs::create_directory(dir_ / "real");
    std::ofstream(dir_ / "real" / "lib.tlb") << "old contents";
    fs::permissions(dir_ / "real" / "lib.tlb", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real/lib.tlb", dir_ / "inner.tlb");
    fs::create_symlink(dir_ / "inner.tlb", dir_ / "outer.tlb");
    ASSERT_EQ(save(dir_ / "outer.tlb"), S_OK);
    EXPECT_TRUE(fs::is_symlink(dir_ / "outer.tlb"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "inner.tlb"));
    EXPECT_EQ(testsupport::ReadText(dir_ / "real" / "lib.tlb"), saved);
    EXPECT_EQ(fs::status(dir_ / "real" / "lib.tlb").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), {}), 1);
    // A link to a file not yet there creates it.
    fs::create_symlink("real/new.tlb", dir_ / "dangling.tlb");
    ASSERT_EQ(save(dir_ / "dangling.tlb"), S_OK);
    EXPECT_EQ(testsupport::ReadText(dir_ / "real" / "new.tlb"), saved);
    // A loop of links is an I/O error.
    fs::create_symlink("loop.tlb", dir_ / "loop.tlb");
    EXPECT_EQ(save(dir_ / "loop.tlb"), TYPE_E_IOERROR);

    // Onto one of two hard links: both names see the new contents.
    std::ofstream(dir_ / "a.tlb") << "old contents that are longer than the new library image, " << std::string(2000, 'x');
    fs::create_hard_link(dir_ / "a.tlb", dir_ / "b.tlb");
    ASSERT_EQ(save(dir_ / "a.tlb"), S_OK);
    EXPECT_EQ(fs::hard_link_count(dir_ / "b.tlb"), 2u);
    EXPECT_EQ(testsupport::ReadText(dir_ / "b.tlb"), saved);

    // A read-only file is refused, even where permission bits do not stop the writer.
    std::ofstream(dir_ / "ro.tlb") << "old contents";
    fs::permissions(dir_ / "ro.tlb", fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("ro.tlb", dir_ / "ro-link.tlb");
    EXPECT_EQ(save(dir_ / "ro.tlb"), TYPE_E_IOERROR);
    EXPECT_EQ(save(dir_ / "ro-link.tlb"), TYPE_E_IOERROR);
    EXPECT_EQ(testsupport::ReadText(dir_ / "ro.tlb"), "old contents");
    EXPECT_EQ(fs::status(dir_ / "ro.tlb").permissions(), fs::perms::owner_read | fs::perms::group_read);
}

TEST_F(Writer, AReferenceToADeletedTypeStillLeadsNowhereAfterSaving) {
    RefData missing;
    missing.href = 8;
    missing.kind = RefKind::Missing;
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> target;
    EXPECT_TRUE(FAILED(FollowSavedReference(WithReference(missing), &lib, &target)));
    EXPECT_TRUE(lib);
}

// Types named alike share one name entry; a reference to the first of them
// must still reach it after saving (files made by other tools have such types).
TEST_F(Writer, AReferenceToOneOfTwoTypesNamedAlikeStillReachesIt) {
    RefData first;
    first.href = 12;
    first.kind = RefKind::Internal;
    first.typeIndex = 1;
    LibraryData d = WithReference(first);
    for (const char16_t* name : {u"Twin", u"TWIN"}) {
        TypeData t;
        t.name = name;
        t.kind = TKIND_ALIAS;
        t.aliasType.vt = VT_I4;
        t.cbSizeInstance = 4;
        d.types.push_back(t);
    }
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> target, expected;
    ASSERT_EQ(FollowSavedReference(d, &lib, &target), S_OK);
    ASSERT_EQ(lib->GetTypeInfo(1, expected.put()), S_OK);
    EXPECT_EQ(target.get(), expected.get());
}

// The platform reads a stored DECIMAL back as its low 64 mantissa bits.
TEST_F(Writer, OnlyWholeNonNegativeDecimalsCanBeStored) {
    LibraryData d = SmallLibrary();
    DECIMAL whole{}, fraction{};
    ASSERT_EQ(DecimalFromDouble(123456789012.0, &whole), S_OK);
    ASSERT_EQ(DecimalFromDouble(-1.5, &fraction), S_OK);
    d.custData.push_back({kLibGuid, Variant(whole)});
    std::vector<std::byte> image;
    EXPECT_EQ(BuildMsftImage(d, &image), S_OK);
    d.custData[0].value = Variant(fraction);
    EXPECT_EQ(BuildMsftImage(d, &image), DISP_E_BADVARTYPE);
}

// VT_HRESULT custom data (which VariantCopy refuses) is set, saved as a
// four-byte value and read back, on the library and on a type.
TEST_F(Writer, HresultCustomDataSurvivesSavingAndLoading) {
    auto target = dir_ / "hresult.tlb";
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, FromUtf8(target.string()).c_str(), lib.put()), S_OK);
    ASSERT_EQ(lib->SetName(u"Results"), S_OK);
    VARIANT hr;
    VariantInit(&hr);
    hr.vt = VT_HRESULT;
    hr.lVal = static_cast<LONG>(0x80004005);
    ASSERT_EQ(lib->SetCustData(kLibGuid, &hr), S_OK);
    ComPtr<ICreateTypeInfo> type;
    ASSERT_EQ(lib->CreateTypeInfo(u"IResults", TKIND_INTERFACE, type.put()), S_OK);
    ASSERT_EQ(type.As<ICreateTypeInfo2>()->SetCustData(kLibGuid, &hr), S_OK);
    ASSERT_EQ(lib->SaveAllChanges(), S_OK);

    ComPtr<ITypeLib> loaded;
    ASSERT_EQ(LoadTypeLibEx(FromUtf8(target.string()).c_str(), REGKIND_NONE, loaded.put()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(loaded->GetTypeInfo(0, info.put()), S_OK);
    Variant fromLib, fromType;
    ASSERT_EQ(loaded.As<ITypeLib2>()->GetCustData(kLibGuid, fromLib.put()), S_OK);
    ASSERT_EQ(info.As<ITypeInfo2>()->GetCustData(kLibGuid, fromType.put()), S_OK);
    EXPECT_EQ(fromLib.vt(), VT_HRESULT);
    EXPECT_EQ(fromLib.get().lVal, static_cast<LONG>(0x80004005));
    EXPECT_TRUE(fromType == fromLib);
}

TEST_F(Writer, TextOutsideTheAnsiCodePageIsStoredAsQuestionMarks) {
    LibraryData d = SmallLibrary();
    d.docString = u"caf\u00E9 \u20AC \u03A9";
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(d, &image), S_OK);
    ComPtr<ITypeLib> lib = LoadImage(image, u"ansi.tlb");
    ASSERT_TRUE(lib);
    BStr doc;
    ASSERT_EQ(lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.str(), u"caf\u00E9 \u20AC ?");
}

// Each spelling of a name has its own entry, read back as written; a spelling
// is stored once, and a type's own entry records the type.
TEST_F(Writer, NamesDifferingOnlyInCaseKeepTheirOwnSpellings) {
    LibraryData d = SmallLibrary();
    TypeData t;
    t.name = u"Item";
    t.kind = TKIND_RECORD;
    for (const char16_t* name : {u"ITEM", u"item"}) {
        t.vars.emplace_back().name = name;
        t.vars.back().memid = static_cast<MEMBERID>(0x40000000 + t.vars.size());
        t.vars.back().type.vt = VT_I4;
    }
    d.types = {t, t};
    d.types[1].name = u"Other";
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(d, &image), S_OK);
    EXPECT_EQ(U32(image, 0x30), 5u);  // "Lib", "Item", "ITEM", "item" and "Other"
    EXPECT_EQ(U32(image, SegmentAt(image, 7) + U32(image, SegmentAt(image, 0) + 0x34)), 0u);
    ComPtr<ITypeLib> lib = LoadImage(image, u"case.tlb");
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> ti;
    ASSERT_EQ(lib->GetTypeInfo(0, ti.put()), S_OK);
    for (const VarData& v : t.vars) {
        BStr name;
        UINT count = 0;
        ASSERT_EQ(ti->GetNames(v.memid, name.put(), 1, &count), S_OK);
        EXPECT_EQ(name.str(), v.name);
    }
}

TEST_F(Writer, ALiveReferenceBecomesAnImportOfItsLibrary) {
    ComPtr<ITypeLib> stdole;
    ASSERT_EQ(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()), S_OK);
    ComPtr<ITypeInfo> font;
    for (UINT i = 0; i < stdole->GetTypeInfoCount() && !font; ++i) {
        BStr n;
        stdole->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr);
        if (n.view() == u"IFontDisp") stdole->GetTypeInfo(i, font.put());
    }
    ASSERT_TRUE(font);
    RefData live;
    live.href = 4;
    live.kind = RefKind::Live;
    live.live = font;
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(WithReference(live), &image), S_OK);
    EXPECT_EQ(U32(image, 0x50), 1u);  // one import entry
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> target;
    ASSERT_EQ(FollowSavedReference(WithReference(live), &lib, &target), S_OK);
    EXPECT_EQ(target.get(), font.get());
}

// A created library hands its data to the writer for the save: afterwards it
// reads, saves and edits as before, a failed save included, and the dispatch
// view of a dual read before the save still answers.
TEST_F(Writer, ACreatedLibraryStaysWholeAfterSavesThatWorkOrFail) {
    const auto folder = dir_ / "out";
    std::filesystem::create_directories(folder);
    const std::u16string path = FromUtf8((folder / "lib.tlb").string());
    ComPtr<ICreateTypeLib2> created;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, path.c_str(), created.put()), S_OK);
    ASSERT_EQ(created->SetName(u"Lent"), S_OK);
    ASSERT_EQ(created->SetLcid(0x409), S_OK);
    ComPtr<ITypeLib> stdole;
    ASSERT_EQ(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()), S_OK);
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(stdole->GetTypeInfoOfGuid(IDispatch::kIID, dispatch.put()), S_OK);
    ComPtr<ICreateTypeInfo> dual;
    ASSERT_EQ(created->CreateTypeInfo(u"IDual", TKIND_INTERFACE, dual.put()), S_OK);
    ASSERT_EQ(dual->SetGuid(GUID{0x1E47, 1, 2, {3, 4, 5, 6, 7, 8, 9, 11}}), S_OK);
    ASSERT_EQ(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), S_OK);
    HREFTYPE base = 0;
    ASSERT_EQ(dual->AddRefTypeInfo(dispatch.get(), &base), S_OK);
    ASSERT_EQ(dual->AddImplType(0, base), S_OK);
    auto addMethod = [&](UINT index, std::u16string name) {
        ELEMDESC param{};
        param.tdesc.vt = VT_BSTR;
        param.paramdesc.wParamFlags = PARAMFLAG_FIN;
        FUNCDESC fd{};
        fd.memid = static_cast<MEMBERID>(0x100 + index);
        fd.funckind = FUNC_PUREVIRTUAL;
        fd.invkind = INVOKE_FUNC;
        fd.callconv = CC_STDCALL;
        fd.cParams = 1;
        fd.lprgelemdescParam = &param;
        fd.elemdescFunc.tdesc.vt = VT_HRESULT;
        ASSERT_EQ(dual->AddFuncDesc(index, &fd), S_OK);
        std::u16string text = u"text";
        LPOLESTR names[] = {name.data(), text.data()};
        ASSERT_EQ(dual->SetFuncAndParamNames(index, names, 2), S_OK);
        ASSERT_EQ(dual->SetFuncDocString(index, (u"Does " + name).c_str()), S_OK);
    };
    for (UINT i = 0; i < 3; ++i) addMethod(i, u"Method" + FromUtf8(std::to_string(i)));
    ASSERT_EQ(dual->LayOut(), S_OK);

    // Every function of the dispatch view (IDispatch's first): name, parameter name and doc string.
    ComPtr<ITypeLib> lib = created.As<ITypeLib>();
    ComPtr<ITypeInfo> view;
    ASSERT_EQ(lib->GetTypeInfo(0, view.put()), S_OK);
    auto read = [&] {
        std::vector<std::u16string> seen;
        TYPEATTR* ta = nullptr;
        EXPECT_EQ(view->GetTypeAttr(&ta), S_OK);
        if (!ta) return seen;
        for (UINT f = 0; f < ta->cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            EXPECT_EQ(view->GetFuncDesc(f, &fd), S_OK);
            if (!fd) continue;
            BSTR names[4] = {};
            UINT count = 0;
            EXPECT_EQ(view->GetNames(fd->memid, names, 4, &count), S_OK);
            for (UINT n = 0; n < count; ++n) {
                seen.push_back(std::u16string(BstrView(names[n])));
                SysFreeString(names[n]);
            }
            BStr doc;
            view->GetDocumentation(fd->memid, nullptr, doc.put(), nullptr, nullptr);
            seen.push_back(std::u16string(doc.view()));
            view->ReleaseFuncDesc(fd);
        }
        view->ReleaseTypeAttr(ta);
        return seen;
    };
    const std::vector<std::u16string> before = read();
    ASSERT_GE(before.size(), 9u);
    EXPECT_EQ(before.back(), u"Does Method2");

    ASSERT_EQ(created->SaveAllChanges(), S_OK);
    const std::vector<std::byte> first = testsupport::ReadBytes(folder / "lib.tlb");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(read(), before);
    std::shared_ptr<const LibraryData> data;
    ASSERT_EQ(GetLibraryData(lib.get(), false, &data), S_OK);
    ASSERT_EQ(data->types.size(), 1u);
    EXPECT_EQ(data->types[0].name, u"IDual");
    EXPECT_EQ(data->types[0].funcs.size(), 3u);
    EXPECT_EQ(data->types[0].lcid, 0x409u);

    // A save that fails (its folder is gone) leaves the library as it was.
    std::filesystem::remove_all(folder);
    EXPECT_EQ(created->SaveAllChanges(), TYPE_E_CANTCREATETMPFILE);
    EXPECT_EQ(read(), before);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(created->SaveAllChanges(), S_OK);
    EXPECT_EQ(testsupport::ReadBytes(folder / "lib.tlb"), first);

    // And it is still editable.
    addMethod(3, u"Method3");
    ASSERT_EQ(created->SaveAllChanges(), S_OK);
    const std::vector<std::u16string> after = read();
    ASSERT_EQ(after.size(), before.size() + 3);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
    EXPECT_EQ(after.back(), u"Does Method3");
}

}  // namespace

// A type reaches another through the name entry of its name, which records the
// last type of one spelling; groups of such names interleave, and a spelling
// that differs only in case is a name of its own.
TEST_F(Writer, ReferencesToTypesOfOneSpellingLeadToTheLastOfThem) {
    LibraryData d = SmallLibrary();
    const std::vector<std::u16string> names = {u"Alpha", u"beta", u"Alpha", u"beta", u"gamma", u"ALPHA"};
    for (const auto& name : names) {
        TypeData t;
        t.name = name;
        t.kind = TKIND_ENUM;
        d.types.push_back(t);
    }
    TypeData user;
    user.name = u"User";
    user.kind = TKIND_RECORD;
    for (size_t i = 0; i < names.size(); ++i) {
        VarData v;
        v.name = u"field" + std::u16string(1, static_cast<char16_t>(u'0' + i));
        v.memid = static_cast<MEMBERID>(0x40000000 + i);
        v.type.vt = VT_USERDEFINED;
        v.type.href = static_cast<HREFTYPE>(0x100 + i);
        user.vars.push_back(v);
        RefData r;
        r.href = v.type.href;
        r.typeIndex = static_cast<int>(i);
        d.refs.push_back(r);
    }
    d.types.push_back(user);
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(d, &image), S_OK);
    // Each field's type description leads to the record of the last type of its name.
    const size_t typeDescs = SegmentAt(image, 9);
    const std::vector<uint32_t> expected = {2, 3, 2, 3, 4, 5};
    size_t record = MemberBlock(image, names.size()) + 4;
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t desc = typeDescs + U32(image, record + 4);
        EXPECT_EQ(U32(image, desc) & 0xFFFF, uint32_t{VT_USERDEFINED}) << "field " << i;
        EXPECT_EQ(U32(image, desc + 4), expected[i] * 0x64) << "field " << i;
        record += U32(image, record) & 0xFFFF;
    }
    ComPtr<ITypeLib> lib = LoadImage(image, u"cases.tlb");
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->GetTypeInfoCount(), names.size() + 1);
}

// Functions of one member id (property accessors) are linked in a circle in
// the high word of their record's kinds: each to the previous one, the first
// to the last, a function alone to itself; ids may come in any order.
TEST_F(Writer, FunctionsSharingAnIdAreLinkedInACircle) {
    LibraryData d = SmallLibrary();
    TypeData t;
    t.name = u"IProps";
    t.kind = TKIND_INTERFACE;
    t.cbSizeInstance = 4;
    const std::vector<std::pair<MEMBERID, INVOKEKIND>> funcs = {
        {2, INVOKE_PROPERTYGET}, {1, INVOKE_FUNC},        {2, INVOKE_PROPERTYPUT},
        {3, INVOKE_FUNC},        {2, INVOKE_PROPERTYPUTREF}, {-5, INVOKE_FUNC}, {1, INVOKE_PROPERTYGET}};
    for (size_t i = 0; i < funcs.size(); ++i) {
        FuncData f;
        f.name = u"F" + std::u16string(1, static_cast<char16_t>(u'0' + i));
        f.memid = funcs[i].first;
        f.invkind = funcs[i].second;
        f.oVft = static_cast<SHORT>(4 * i);
        f.returnType.vt = VT_HRESULT;
        t.funcs.push_back(f);
    }
    t.cbSizeVft = static_cast<WORD>(4 * funcs.size());
    d.types.push_back(t);
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(d, &image), S_OK);
    const size_t block = MemberBlock(image, 0);
    const std::vector<uint32_t> expected = {4, 6, 0, 3, 2, 5, 1};
    size_t record = block + 4;
    for (size_t i = 0; i < funcs.size(); ++i) {
        EXPECT_EQ(U32(image, record + 16) >> 16, expected[i]) << "function " << i;
        record += U32(image, record) & 0xFFFF;
    }
    // The platform's reader finds each accessor by id and kind.
    ComPtr<ITypeLib> lib = LoadImage(image, u"props.tlb");
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> ti;
    ASSERT_EQ(lib->GetTypeInfo(0, ti.put()), S_OK);
    for (size_t i = 0; i < funcs.size(); ++i) {
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(ti->GetFuncDesc(static_cast<UINT>(i), &fd), S_OK);
        EXPECT_EQ(fd->memid, funcs[i].first);
        EXPECT_EQ(fd->invkind, funcs[i].second);
        ti->ReleaseFuncDesc(fd);
    }
}

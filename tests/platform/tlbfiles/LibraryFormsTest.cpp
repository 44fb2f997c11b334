// Libraries in the forms that the platform's own IDL compiler stores
// (tests/data/forms, made by make-forms.sh, with the reference dumper's
// output beside each): duals on IUnknown whose stored flags lack
// FDISPATCHABLE, dispinterfaces declared over an interface, empty strings
// stored inline and out of line with the null string's length, modules of size 2, differing library help contexts, and
// types that use a library that can't be found, types of stdole version 1.0
// (stdole32.tlb); and SLTG libraries of what older compilers store
// (tests/data/sltg/older) and with references past their types' reference
// tables (tests/data/sltg/nowhere). Each reads as the platform prints it, and a copy
// made through the creation interfaces reads the same. No registry is read:
// stdole 1.0, which every system registers, is built in.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/SltgReader.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "platform/registry/Registry.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TliReading.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"
#include "SltgBuilder.h"
#include "SltgGoldens.h"

using namespace ole;
using testsupport::ReadBytes;
using testsupport::ReadText;
namespace fs = std::filesystem;

namespace {

fs::path Form(const std::string& name, const char* ext) {
    return fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / (name + ext);
}

std::string DumpOf(const fs::path& file) {
    std::string dump;
    EXPECT_EQ(tlbtools::DumpTypeLibFile(FromUtf8(file.string()), &dump), S_OK) << file;
    return tlbtools::WithCrLf(dump);
}

ComPtr<ITypeLib> Load(const fs::path& file) {
    RegisterFileServices();
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLibEx(FromUtf8(file.string()).c_str(), REGKIND_NONE, lib.put()), S_OK) << file;
    return lib;
}

// Copies the library through the creation interfaces into path and saves it.
HRESULT Copy(ITypeLib* lib, const fs::path& path, std::string* failed) {
    SetTypeLibWriter(WriteMsftTypeLib);
    ComPtr<ICreateTypeLib2> copy;
    HRESULT hr = CreateTypeLib2(SYS_WIN32, FromUtf8(path.string()).c_str(), copy.put());
    if (SUCCEEDED(hr)) hr = tlbtools::CopyTypeLib(lib, copy.get(), failed);
    if (SUCCEEDED(hr)) hr = copy->SaveAllChanges();
    return hr;
}

// The library help context is read from header +0x2C, where the compilers
// and the format reference put it; the reference dumper reports the
// help-string context (+0x28) in its place. Everything else is as it prints.
std::string Expected(const std::string& name) {
    std::string dump = ReadText(Form(name, ".dump"));
    if (name == "libhelp") {
        const std::string platform = "helpctx=16384\r\n", stored = "helpctx=1130316\r\n";
        size_t at = dump.find(platform);
        EXPECT_NE(at, std::string::npos);
        if (at != std::string::npos) dump.replace(at, platform.size(), stored);
    }
    return dump;
}

// Tests that see no registry files.
class WithoutRegistry {
public:
    WithoutRegistry() { reg::SetDefaultRegistry(std::make_shared<reg::Registry>()); }
    ~WithoutRegistry() { reg::SetDefaultRegistry(nullptr); }
    WithoutRegistry(const WithoutRegistry&) = delete;
    WithoutRegistry& operator=(const WithoutRegistry&) = delete;
};

class LibraryForm : public ::testing::TestWithParam<std::string> {
    WithoutRegistry noRegistry_;
};

TEST_P(LibraryForm, ReadsAsThePlatformPrintsIt) {
    EXPECT_EQ(DumpOf(Form(GetParam(), ".tlb")), Expected(GetParam()));
}

TEST_P(LibraryForm, ACopyReadsLikeTheOriginal) {
    if (GetParam() == "unresolved") GTEST_SKIP() << "a copy needs every referenced type";
    ComPtr<ITypeLib> lib = Load(Form(GetParam(), ".tlb"));
    ASSERT_TRUE(lib);
    testsupport::TempDir dir;
    std::string failed;
    ASSERT_EQ(Copy(lib.get(), dir / "copy.tlb", &failed), S_OK) << failed;
    EXPECT_EQ(DumpOf(dir / "copy.tlb"), Expected(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Forms, LibraryForm, ::testing::Values("dispatch", "values", "libhelp", "unresolved", "stdole32", "strings"),
                         [](const auto& info) { return info.param; });

TEST(LibraryForms, TheHelpContextsDifferInTheFile) {
    std::vector<std::byte> image = ReadBytes(Form("libhelp", ".tlb"));
    ASSERT_GE(image.size(), 0x30u);
    auto u32 = [&](size_t at) {
        return std::to_integer<uint32_t>(image[at]) | std::to_integer<uint32_t>(image[at + 1]) << 8 |
               std::to_integer<uint32_t>(image[at + 2]) << 16 | std::to_integer<uint32_t>(image[at + 3]) << 24;
    };
    EXPECT_EQ(u32(0x28), 16384u);
    EXPECT_EQ(u32(0x2C), 1130316u);
}

// The interface a dispinterface is declared over is its implemented type -1,
// as a dual's interface half is; the dispinterface itself names IDispatch only.
TEST(LibraryForms, ADispinterfaceNamesTheInterfaceItIsDeclaredOver) {
    ComPtr<ITypeLib> lib = Load(Form("dispatch", ".tlb"));
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> over, plain, half;
    std::u16string name = u"DOverPlain";
    MEMBERID id = 0;
    USHORT found = 1;
    ASSERT_EQ(lib->FindName(name.data(), 0, over.put(), &id, &found), S_OK);
    ASSERT_EQ(found, 1);
    HREFTYPE href = 0;
    ASSERT_EQ(over->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    ASSERT_EQ(over->GetRefTypeInfo(href, plain.put()), S_OK);
    BStr plainName;
    ASSERT_EQ(plain->GetDocumentation(MEMBERID_NIL, plainName.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(plainName.str(), u"IPlain");
    EXPECT_EQ(over->GetRefTypeOfImplType(1, &href), TYPE_E_ELEMENTNOTFOUND);
    // A plain interface has no implemented type -1.
    EXPECT_EQ(plain->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), TYPE_E_ELEMENTNOTFOUND);
}

// A library that uses types of a library that can't be found reads and walks
// through the TypeLib Information objects; what needs the missing types fails
// with TYPE_E_CANTLOADLIBRARY, and a copy is refused before anything is written.
TEST(LibraryForms, UnresolvableImportsReadWalkAndRefuseCleanly) {
    ComPtr<ITypeLib> lib = Load(Form("unresolved", ".tlb"));
    ASSERT_TRUE(lib);
    testsupport::TempDir dir;
    std::string failed;
    EXPECT_EQ(Copy(lib.get(), dir / "copy.tlb", &failed), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(failed, "GetRefTypeInfo");
    EXPECT_FALSE(fs::exists(dir / "copy.tlb"));

    using namespace testsupport;
    ComPtr<tli::TypeLibInfo> info = InfoOf(lib.get());
    ASSERT_TRUE(info);
    int external = 0, unresolved = 0;
    auto visit = [&](tli::VarTypeInfo* vt) {
        ASSERT_TRUE(vt);
        if (Get(vt, &tli::VarTypeInfo::get_VarType) != VT_EMPTY) return;  // a type description, not a type
        ++external;
        ComPtr<tli::TypeInfo> target;
        if (vt->get_TypeInfo(target.put()) == TYPE_E_CANTLOADLIBRARY && !target) ++unresolved;
    };
    const LONG types = Get(info, &tli::TypeLibInfo::get_TypeInfoCount);
    ComPtr<tli::TypeInfos> all = Get(info, &tli::TypeLibInfo::get_TypeInfos);
    for (LONG t = 1; t <= types; ++t) {
        ComPtr<tli::TypeInfo> type;
        ASSERT_OK(all->get_Item(t, type.put()));
        ComPtr<tli::ImpliedInterfaces> implied = Get(type, &tli::TypeInfo::get_ImpliedInterfaces);
        const LONG n = Get(implied, &tli::ImpliedInterfaces::get_Count);
        for (LONG k = 1; k <= n; ++k) {
            ComPtr<tli::TypeInfo> base;
            HRESULT hr = implied->get_Item(k, base.put());
            EXPECT_TRUE(hr == S_OK || hr == TYPE_E_CANTLOADLIBRARY) << std::hex << hr;
        }
        if (NameOf(type) == u"Place") visit(Get(type, &tli::TypeInfo::get_ResolvedType).get());
        ComPtr<tli::Members> members = MembersOf(type.get());
        const LONG count = Get(members, &tli::Members::get_Count);
        for (LONG m = 1; m <= count; ++m) {
            ComPtr<tli::MemberInfo> member;
            ASSERT_OK(members->get_Item(m, member.put()));
            visit(Get(member, &tli::MemberInfo::get_ReturnType).get());
            ComPtr<tli::Parameters> params = Get(member, &tli::MemberInfo::get_Parameters);
            const LONG np = Get(params, &tli::Parameters::get_Count);
            for (LONG p = 1; p <= np; ++p) {
                ComPtr<tli::ParameterInfo> param;
                ASSERT_OK(params->get_Item(p, param.put()));
                visit(Get(param, &tli::ParameterInfo::get_VarTypeInfo).get());
            }
        }
    }
    EXPECT_GT(external, 0);
    EXPECT_EQ(unresolved, external);
}

// Older SLTG libraries: the help strings of types and members are read where
// the format reference places them (the type descriptors' and member records'
// compressed help strings); the reference dumper shows none of them. The
// LCID, 0x409, reads as 0, as it prints, and so does the rest, the dual's
// stored flags included. A copy through the creation interfaces keeps them,
// and LayOut makes the dual, which derives from IDispatch, FDISPATCHABLE
// (older.msft.dump: the reference dump of it). Its IDispatch is stdole 1.0's,
// found without a registry.
TEST(LibraryForms, OlderSltgReadsTheDocumentedHelpStringsAndThePlatformsLcid) {
    WithoutRegistry noRegistry;
    const fs::path dir = fs::path(ZEPHRIN_TEST_DATA_DIR) / "sltg";
    const sltgtest::Golden older = sltgtest::OlderForm();
    EXPECT_TRUE(sltgtest::BuildSltg(older.data) == ReadBytes(dir / "older.tlb"));

    std::string expected = ReadText(dir / "older.dump");
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < expected.size(); at = end + 1) {
        end = expected.find('\n', at);
        if (end == std::string::npos) end = expected.size();
        lines.push_back(expected.substr(at, end - at + 1));
    }
    ASSERT_EQ(lines.size(), 56u);
    const std::pair<size_t, const char*> docs[] = {{4, "  doc=\"Tones of a pen\""}, {7, "    doc=\"A loud tone\""},
                                                   {10, "  doc=\"An old pen\""},     {47, "    doc=\"The pen width\""},
                                                   {49, "  doc=\"An old pen\""},     {53, "    doc=\"The pen width\""}};
    for (const auto& [line, doc] : docs) {
        ASSERT_EQ(lines[line].find("doc=(null) "), lines[line].find('d')) << line;
        lines[line] = doc + lines[line].substr(lines[line].find(' ', lines[line].find("doc=")));
    }
    expected.clear();
    for (const std::string& l : lines) expected += l;
    EXPECT_EQ(DumpOf(dir / "older.tlb"), expected);

    ComPtr<ITypeLib> lib = Load(dir / "older.tlb");
    ASSERT_TRUE(lib);
    testsupport::TempDir temp;
    std::string failed;
    ASSERT_EQ(Copy(lib.get(), temp / "copy.tlb", &failed), S_OK) << failed;
    EXPECT_EQ(DumpOf(temp / "copy.tlb"), ReadText(dir / "older.msft.dump"));
}

}  // namespace

// Plain dispinterfaces, read-only variables and vtable words as older
// compilers store them (dispatch.dump: the reference dump): each
// dispinterface's base is the library's IDispatch, whatever its reference
// word holds, the read-only bit is read with the flags word, and vtable words
// lose their low bit (0xFFFF: a dispatch function, at 0). The reader gives
// back the description, and the library can be copied (dispatch.msft.dump:
// the reference dump of the copy).
TEST(LibraryForms, SltgOlderDispatchFormsReadAsThePlatformReadsThem) {
    WithoutRegistry noRegistry;
    const fs::path dir = fs::path(ZEPHRIN_TEST_DATA_DIR) / "sltg";
    const sltgtest::Golden form = sltgtest::DispatchForm();
    const std::vector<std::byte> image = ReadBytes(dir / "dispatch.tlb");
    EXPECT_TRUE(sltgtest::BuildSltg(form.data, form.options) == image);
    EXPECT_EQ(DumpOf(dir / "dispatch.tlb"), ReadText(dir / "dispatch.dump"));
    LibraryData read;
    ASSERT_EQ(ReadSltg(image, &read), S_OK);
    EXPECT_EQ(sltgtest::Describe(read), sltgtest::Describe(form.data));

    ComPtr<ITypeLib> lib = Load(dir / "dispatch.tlb");
    ASSERT_TRUE(lib);
    testsupport::TempDir temp;
    std::string failed;
    ASSERT_EQ(Copy(lib.get(), temp / "copy.tlb", &failed), S_OK) << failed;
    EXPECT_EQ(DumpOf(temp / "copy.tlb"), ReadText(dir / "dispatch.msft.dump"));
}

// An SLTG library whose references lie past their types' reference tables
// (one type has no table at all) reads as the platform reads it: each such
// reference leads nowhere (nowhere.dump: the reference dump). A copy needs
// every referenced type, so it is refused before anything is written.
TEST(LibraryForms, SltgReferencesPastTheTableLeadNowhere) {
    const fs::path dir = fs::path(ZEPHRIN_TEST_DATA_DIR) / "sltg";
    EXPECT_TRUE(sltgtest::BuildSltg(sltgtest::NowhereForm().data) == ReadBytes(dir / "nowhere.tlb"));
    EXPECT_EQ(DumpOf(dir / "nowhere.tlb"), ReadText(dir / "nowhere.dump"));

    ComPtr<ITypeLib> lib = Load(dir / "nowhere.tlb");
    ASSERT_TRUE(lib);
    testsupport::TempDir temp;
    std::string failed;
    EXPECT_EQ(Copy(lib.get(), temp / "copy.tlb", &failed), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(failed, "GetRefTypeInfo");
    EXPECT_FALSE(fs::exists(temp / "copy.tlb"));
}

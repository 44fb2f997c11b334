// The walk of registered type libraries and the reference records it fills,
// over registry files written by the tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "dialogs/frmReferences.h"
#include "dialogs/modRefInfo.h"
#include "dialogs/modTypelibKeyWalker.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/registry/RegTypeLib.h"
#include "platform/registry/Registry.h"
#include "RefsTestSupport.h"

namespace dialogstest {
namespace {

namespace fs = std::filesystem;
using namespace zephrin::dialogs::modTypelibKeyWalker;

// Each listed record, as "description major.minor lcid file" (lcid in hex).
std::vector<std::string> Listed(const reg::Registry& registry, LCID user, bool withStdOle = false) {
    RefInfoList refs;
    WalkTypelibKeys(registry, user, refs);
    std::vector<std::string> out;
    for (size_t i = 0; i < refs.Count(); ++i) {
        RefInfo* r = refs.At(i);
        if (!withStdOle && r->Guid() == ole::kStdOleLibGuid) continue;
        char line[64];
        std::snprintf(line, sizeof line, " %u.%u %x ", r->MajorVersion(), r->MinorVersion(), r->Lcid());
        out.push_back(ToUtf8(r->DisplayText()) + line + fs::path(ToUtf8(r->Location())).filename().string());
    }
    return out;
}

TEST(RegisteredLibraries, FlagsLocalesVersionsAndBadKeysEachSkipOnlyTheirOwnEntry) {
    TempDir dir;
    WriteFile(dir / "f.tlb", "MSFT");
    WriteFile(dir / "win16.tlb", "MSFT");
    const std::string f = (dir / "f.tlb").string();
    auto lib = [&](const char* guidTail, const char* version, const char* description, const char* lcid,
                   const std::string& path = {}, const char* platform = "win32") {
        return RegLib(std::string("{5EF00000-0000-0000-0000-0000000000") + guidTail + "}", version, description, lcid,
                      path.empty() ? (dir / "f.tlb").string() : path, platform);
    };
    std::string text = "REGEDIT4\n";
    // Names that are no registry-form GUID come first in the key order, and end nothing.
    text += RegLib("{5EF00000-0000-0000-0000-00000000000}", "1.0", "Short", "0", f);
    text += RegLib("{5EF00000-0000-0000-0000-0000000000000}", "1.0", "Long", "0", f);
    text += RegLib("5EF00000-0000-0000-0000-000000000000", "1.0", "Bare", "0", f);
    text += lib("01", "1.0", "Plain", "0");
    text += lib("02", "1.0", "Hidden", "0") + Flags("{5EF00000-0000-0000-0000-000000000002}", "1.0", "4");
    text += lib("03", "1.0", "Restricted", "0") + Flags("{5EF00000-0000-0000-0000-000000000003}", "1.0", "1");
    text += lib("04", "1.0", "Control", "0") + Flags("{5EF00000-0000-0000-0000-000000000004}", "1.0", "2");
    text += lib("05", "1.0", "BadFlags", "0") + Flags("{5EF00000-0000-0000-0000-000000000005}", "1.0", "x1");
    text += lib("06", "1.0", "Missing", "0", (dir / "gone.tlb").string()) +
            lib("06", "1.0", "Missing", "0", (dir / "win16.tlb").string(), "win16");
    text += lib("07", "1.0", "Sixteen", "0", (dir / "win16.tlb").string(), "win16");
    text += "[HKEY_CLASSES_ROOT\\typelib\\{5EF00000-0000-0000-0000-000000000008}\\2.0\\0\\WIN32]\n@=\"" + f + "\"\n"
            "[HKEY_CLASSES_ROOT\\typelib\\{5EF00000-0000-0000-0000-000000000008}\\2.0]\n@=\"Lower\"\n";
    for (const char* version : {"1.a", "1.10"}) text += lib("09", version, (std::string("Hex ") + version).c_str(), "0");
    for (const char* version : {"1.0.1", "1.", ".1", "1.g", "1.10000", "-1.0", " 1.0", "10000.0"})
        text += lib("0F", version, "Bad version", "0");
    text += lib("0A", "1.0", "Us or neutral", "0") + lib("0A", "1.0", "Us or neutral", "409");
    text += lib("0B", "1.0", "English or neutral", "0") + lib("0B", "1.0", "English or neutral", "9");
    text += lib("0C", "1.0", "Neutral", "0") + lib("0C", "1.0", "Neutral", "zz");
    text += lib("0D", "1.0", "German", "407") + lib("0D", "1.0", "German", "409") + lib("0D", "1.0", "German", "0");
    text += lib("0E", "1.0", "Nothing usable", "x9");
    reg::Registry registry;
    ASSERT_TRUE(registry.loadText(text, dir / "libs.reg"));

    EXPECT_EQ(Listed(registry, 0x407),
              (std::vector<std::string>{"Plain 1.0 0 f.tlb", "Control 1.0 0 f.tlb", "Sixteen 1.0 0 win16.tlb",
                                        "Lower 2.0 0 f.tlb", "Hex 1.10 1.16 0 f.tlb", "Hex 1.a 1.10 0 f.tlb",
                                        "Us or neutral 1.0 409 f.tlb", "English or neutral 1.0 9 f.tlb",
                                        "Neutral 1.0 0 f.tlb", "German 1.0 407 f.tlb"}));
    EXPECT_EQ(Listed(registry, 0x409)[9], "German 1.0 409 f.tlb");
    EXPECT_EQ(Listed(registry, 0)[9], "German 1.0 409 f.tlb");
    EXPECT_EQ(Listed(registry, 0x40C)[9], "German 1.0 409 f.tlb");

    // The lookup of registered libraries reads version keys as the walk does.
    std::string path;
    const ole::GUID hex = {0x5EF00000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};
    EXPECT_EQ(reg::FindRegisteredTypeLib(registry, hex, 1, 16, 0, &path), ole::S_OK);
    EXPECT_EQ(reg::FindRegisteredTypeLib(registry, hex, 1, 10, 0, &path), ole::S_OK);
    EXPECT_EQ(reg::FindRegisteredTypeLib(registry, hex, 1, 17, 0, &path), ole::TYPE_E_LIBNOTREGISTERED);
    const ole::GUID bad = {0x5EF00000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xF}};
    for (auto [major, minor] : {std::pair{1, 0}, {0, 1}, {1, 1}, {0x1000, 0}})
        EXPECT_EQ(reg::FindRegisteredTypeLib(registry, bad, static_cast<WORD>(major), static_cast<WORD>(minor), 0, &path),
                  ole::TYPE_E_LIBNOTREGISTERED)
            << major << "." << minor;
}

TEST(RegisteredLibraries, RegistrationIsVerifiedAgainstTheFileIncludingLibrariesInsidePeImages) {
    TempDir dir;
    const ole::GUID g16 = {0x5EF10000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    WriteLib(dir / "lib16.tlb", g16, 1, 16, 0, u"Lib16");
    WriteFile(dir / "junk.tlb", "not a type library");
    WriteFile(dir / "huge.tlb", "not a library either, and larger than memory");
    fs::resize_file(dir / "huge.tlb", uintmax_t{1} << 41);  // sparse
    const std::string images = std::string(ZEPHRIN_TEST_DATA_DIR) + "/golden-images/both64.ocx";
    const std::string g16text = ole::GuidToUtf8(g16);
    std::string text = "REGEDIT4\n";
    text += RegLib(g16text, "1.10", "Sixteen", "0", (dir / "lib16.tlb").string());
    text += RegLib(g16text, "2.0", "Wrong version", "0", (dir / "lib16.tlb").string());
    text += RegLib("{5EF10000-0000-0000-0000-000000000002}", "1.0", "Junk", "0", (dir / "junk.tlb").string());
    text += RegLib("{5EF10000-0000-0000-0000-000000000003}", "1.0", "", "0", (dir / "huge.tlb").string());
    text += RegLib("{5A170100-60D1-4E2B-9A51-000000001701}", "1.0", "Kinds", "0", images + "\\\\2");
    text += RegLib("{5A170200-60D1-4E2B-9A51-000000001701}", "1.0", "", "409", images);
    reg::Registry registry;
    ASSERT_TRUE(registry.loadText(text, dir / "libs.reg"));
    RefInfoList refs;
    WalkTypelibKeys(registry, 0x409, refs);
    refs.SortRefInfos();

    std::vector<std::string> seen;
    for (size_t i = 0; i < refs.Count(); ++i) {
        RefInfo* r = refs.At(i);
        if (r->Guid() == ole::kStdOleLibGuid) continue;
        const bool valid = r->VerifyRegistration();
        seen.push_back(ToUtf8(r->DisplayText()) + ": " + ToUtf8(r->LibraryName()) + (valid ? "" : " (invalid)"));
        ComPtr<ITypeLib> lib;
        EXPECT_EQ(ole::SUCCEEDED(r->GetITypeLib(&lib)), r->DisplayText() != u"Junk" && !r->Location().ends_with(u"huge.tlb"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"GoldenInterfaces: GoldenInterfaces", "Junk: Library Registration Invalid (invalid)",
                                              "Kinds: GoldenKinds",
                                              "Library Registration Invalid: Library Registration Invalid (invalid)",
                                              "Sixteen: Lib16",
                                              "Wrong version: Library Registration Invalid (invalid)"}));
}

TEST(RegisteredLibraries, TheBuiltInStandardLibrariesAreOfferedOnceEachAsTheOneBuiltInObject) {
    ComPtr<ITypeLib> v2, v1;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, v2.put()));
    ASSERT_OK(LoadTypeLibEx(u"stdole32.tlb", REGKIND_NONE, v1.put()));
    reg::Registry empty;
    reg::Registry registered;  // 2.0 at files of its own (for two locales), 1.0 without a path
    registered.loadText("REGEDIT4\n"
                        "[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0\\0\\win32]\n"
                        "@=\"/elsewhere/stdole2.tlb\"\n"
                        "[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0\\409\\win32]\n"
                        "@=\"/elsewhere/stdole2.tlb\"\n"
                        "[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}\\1.0]\n"
                        "@=\"OLE Automation 1\"\n",
                        "/nowhere/std.reg");
    for (const reg::Registry* registry : {&empty, &registered}) {
        RefInfoList refs;
        WalkTypelibKeys(*registry, 0x409, refs);
        ASSERT_EQ(refs.Count(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            RefInfo* r = refs.At(i);
            EXPECT_EQ(r->Guid(), ole::kStdOleLibGuid);
            EXPECT_TRUE(r->VerifyRegistration());
            ComPtr<ITypeLib> lib;
            ASSERT_OK(r->GetITypeLib(&lib));
            EXPECT_EQ(lib.get(), (r->MajorVersion() == 2 ? v2 : v1).get());
        }
        EXPECT_NE(refs.At(0)->MajorVersion(), refs.At(1)->MajorVersion());
    }
}

TEST(RegisteredLibraries, RecordsAreListedOnceAndSortedCurrentThenReferencedThenByText) {
    TempDir dir;
    const ole::GUID ga = {0x5EF20000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    const ole::GUID gb = {0x5EF20000 + 127, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};  // the same bucket
    ComPtr<ITypeLib> a = WriteLib(dir / "a.tlb", ga, 1, 0, 0, u"Alpha");
    ComPtr<ITypeLib> b = WriteLib(dir / "b.tlb", gb, 1, 0, 0, u"beta");
    ComPtr<ITypeLib> edited = MemoryLib(u"Edited", {0x5EF20000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}});
    ASSERT_EQ(RefInfoList::BucketOf(ga), RefInfoList::BucketOf(gb));
    RefInfoList refs;
    refs.AddLibraryRef(true, true, edited.get(), {});
    refs.AddLibraryRef(true, false, b.get(), {});
    RefInfo* first = refs.AddLibraryRef(false, false, a.get(), u"/a.tlb");
    EXPECT_EQ(refs.AddLibraryRef(false, false, a.get(), u"/other.tlb"), first);
    EXPECT_EQ(refs.AddRegisteredRef(false, u"beta registered", u"/b.tlb", gb, 1, 0, 0), nullptr);
    refs.AddRegisteredRef(false, u"alpha 1.1", u"/nowhere.tlb", ga, 1, 1, 0);
    refs.AddRegisteredRef(false, u"Unregistered", u"", {0x5EF2FFFF, 0, 0, {}}, 1, 0, 0);
    ASSERT_EQ(refs.Count(), 5u);
    refs.SortRefInfos();
    std::vector<std::u16string> order;
    for (size_t i = 0; i < refs.Count(); ++i) {
        order.push_back(refs.At(i)->DisplayText());
        EXPECT_EQ(refs.At(i)->ListPosition(), static_cast<int32_t>(i));
    }
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Edited", u"beta", u"Alpha", u"alpha 1.1", u"Unregistered"}));
    EXPECT_EQ(refs.At(3)->LibraryName(), u"Library Registration Invalid");
    EXPECT_EQ(refs.At(4)->Location(), u"Not a registered library");
}

TEST(RegisteredLibraries, LongPathsKeepTheirHeadAndTheLongestTailThatFits) {
    const auto chars = [](const QString& text) { return static_cast<int>(text.size()); };
    struct Case {
        const char* path;
        int width;
        const char* shown;
    } cases[] = {
        {"/usr/lib/x.tlb", 14, "/usr/lib/x.tlb"},
        {"/home/someone/projects/libraries/x.tlb", 30, "/home/.../libraries/x.tlb"},
        {"/home/someone/projects/libraries/x.tlb", 20, "/home/.../x.tlb"},
        // A file name too long to fit beside the head is cut in its middle.
        {"/home/someone/projects/libraries/a-long-name.tlb", 20, "/home/.../a-lo\u2026e.tlb"},
        {"/home/someone/projects/libraries/a-long-name.tlb", 11, "/home/.../\u2026"},
        {"C:\\Windows\\System32\\deep\\x.tlb", 22, "C:\\Windows\\...\\x.tlb"},
        {"\\\\server\\share\\folder\\x.tlb", 20, "\\\\server\\...\\x.tlb"},
        {"relative/folder/x.tlb", 8, "relative/folder/x.tlb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShortenPath(QString::fromUtf8(c.path), c.width, chars).toStdString(), c.shown) << c.path;
}

TEST(RegisteredLibraries, TheUserLocaleComesFromTheEnvironment) {
    EXPECT_EQ(LcidOfLocale("de_DE.UTF-8"), 0x407u);
    EXPECT_EQ(LcidOfLocale("fr_CA@euro"), 0xC0Cu);
    EXPECT_EQ(LcidOfLocale("ja"), 0x411u);
    for (const char* plain : {"C", "POSIX", "C.UTF-8", "xx_YY", ""}) EXPECT_EQ(LcidOfLocale(plain), 0x409u) << plain;
    const EnvironmentVariable all("LC_ALL", ""), messages("LC_MESSAGES", "en_GB.UTF-8"), lang("LANG", "de_DE");
    EXPECT_EQ(UserLcidFromEnvironment(), 0x809u);
    const EnvironmentVariable all2("LC_ALL", "pt_BR");
    EXPECT_EQ(UserLcidFromEnvironment(), 0x416u);
}

}  // namespace
}  // namespace dialogstest

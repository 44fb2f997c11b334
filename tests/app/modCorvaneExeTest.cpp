// The shell's file tests and the new library of /new.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <tuple>

#include "app/modCorvaneExe.h"
#include "platform/automation/BStr.h"
#include "regen/TLBModifier.h"
#include "support/TempDir.h"

namespace {

using namespace zephrin::modCorvaneExe;
using testsupport::TempDir;

void Write(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(ShellFiles, StandaloneLibrariesAndHistoryHeadersAreToldByTheirFirstBytes) {
    TempDir dir;
    const auto path = [&](const char* name) { return (dir / name).string(); };
    Write(dir / "empty.tlb", "");
    Write(dir / "lib.tlb", std::string("MSFT\x02\0\x01\0", 8));
    Write(dir / "lib.dll", "MZ\x90\0");
    Write(dir / "short.tlb", "MS");
    for (bool existence : {false, true}) {
        EXPECT_TRUE(IsStandaloneTypeLibFile(path("empty.tlb"), existence));
        EXPECT_TRUE(IsStandaloneTypeLibFile(path("lib.tlb"), existence));
        EXPECT_FALSE(IsStandaloneTypeLibFile(path("lib.dll"), existence));
        EXPECT_FALSE(IsStandaloneTypeLibFile(path("short.tlb"), existence));
        // A new name passes a Save dialog; batch mode needs the file.
        EXPECT_EQ(IsStandaloneTypeLibFile(path("new.tlb"), existence), !existence);
    }
    EXPECT_FALSE(IsStandaloneTypeLibFile(dir.path().string(), true));
    // A FIFO is never opened: it is neither a library nor a history.
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0);
    EXPECT_FALSE(IsStandaloneTypeLibFile(path("pipe"), false));
    EXPECT_FALSE(IsStandaloneTypeLibFile(path("pipe"), true));
    EXPECT_EQ(CheckHistoryFileHeader(path("pipe")), 168);

    Write(dir / "v4.leh", std::string("WEXO\x04\0\0\0", 8));
    Write(dir / "v5.leh", std::string("WEXO\x05\0\0\0", 8));
    EXPECT_EQ(CheckHistoryFileHeader(path("v4.leh")), 0);
    EXPECT_EQ(CheckHistoryFileHeader(path("v5.leh")), 169);
    EXPECT_EQ(CheckHistoryFileHeader(path("lib.tlb")), 168);
    EXPECT_EQ(CheckHistoryFileHeader(path("empty.tlb")), 168);
    EXPECT_EQ(CheckHistoryFileHeader(path("none.leh")), 0);
}

TEST(ShellFiles, SplitPathKeepsTheRootAndLeavesTheFolderOfABareName) {
    std::string folder = "kept", file;
    SplitPath("edits.leh", folder, file);
    EXPECT_EQ(folder + "|" + file, "kept|edits.leh");
    SplitPath("/edits.leh", folder, file);
    EXPECT_EQ(folder + "|" + file, "/|edits.leh");
    SplitPath("/home/me/a.b/edits.leh", folder, file);
    EXPECT_EQ(folder + "|" + file, "/home/me/a.b|edits.leh");
}

TEST(NewLibrary, IsNewLibVersionOneLcidZeroWithAFreshGuid) {
    zephrin::InstallLibraryCopier();
    const ole::ComPtr<ole::ITypeLib> first = CreateNewTypeLib(), second = CreateNewTypeLib();
    ole::BSTR name = nullptr;
    ASSERT_EQ(first->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), ole::S_OK);
    EXPECT_EQ(ole::ToUtf8(std::u16string(name, ole::SysStringLen(name))), "NewLib");
    ole::SysFreeString(name);
    ole::TLIBATTR *a = nullptr, *b = nullptr;
    ASSERT_EQ(first->GetLibAttr(&a), ole::S_OK);
    ASSERT_EQ(second->GetLibAttr(&b), ole::S_OK);
    EXPECT_EQ(std::tuple(a->wMajorVerNum, a->wMinorVerNum, a->lcid), std::tuple(1, 0, 0u));
    EXPECT_NE(a->guid, ole::GUID{});
    EXPECT_NE(a->guid, b->guid);
    first->ReleaseTLibAttr(a);
    second->ReleaseTLibAttr(b);
    EXPECT_EQ(first->GetTypeInfoCount(), 0u);
}

// -new with a library named: the editor opens a new library, unnamed, that
// never takes the named file's place; without -new it opens the file.
TEST(NewLibrary, TheEditorOpensANewLibraryUnnamedBesideALibraryPath) {
    std::vector<std::pair<std::string, bool>> opened;
    Shell shell;
    shell.OpenEditor = [&](const std::string& path, bool isNew, bool) {
        opened.emplace_back(path, isNew);
        return kExitSuccess;
    };
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-new", "in.tlb"}, {"-tlb", "in.tlb", "-new"}, {"in.tlb"}})
        EXPECT_EQ(Main(args, shell), kExitSuccess);
    EXPECT_EQ(opened, (std::vector<std::pair<std::string, bool>>{{"", true}, {"", true}, {"in.tlb", false}}));
}

// A batch run whose history window can't show itself after its run still
// reports why the library could not be written, and hands the window the
// file the run was to write.
TEST(BatchWindow, AWindowThatCantShowItselfLeavesTheWriteErrorReported) {
    struct Window final : IHistoryWindow {
        ole::ComPtr<ole::ITypeLib> RunHistory(const std::string&, const std::string&, ole::ITypeLib*, bool, bool,
                                              ole::ComPtr<ole::ITypeLib>&) override {
            return CreateNewTypeLib();
        }
        void ShowAfterBatchError() override { throw zephrin::ErrorRecord(zephrin::kErrInternal, u"no window"); }
        void BatchDestination(const std::string& path) override { destination = path; }
        std::string destination;
    } window;
    TempDir dir;
    const std::string out = (dir / "missing" / "out.tlb").string();
    std::vector<std::string> reported;
    Shell shell;
    shell.NewHistoryWindow = [&]() -> IHistoryWindow* { return &window; };
    shell.MessageBox = [&](std::u16string_view text, int32_t) {
        reported.push_back(ole::ToUtf8(std::u16string(text)));
        return true;
    };
    EXPECT_EQ(Main({"-leh", (dir / "h.leh").string(), "-new", "-saveas", out}, shell), kExitFailure);
    EXPECT_EQ(window.destination, out);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].rfind("The edited library could not be written: '" + out + "' ", 0), 0u) << reported[0];
}

}  // namespace

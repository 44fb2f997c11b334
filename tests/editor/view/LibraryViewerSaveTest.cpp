// Saving from the view back to the file it read, as the main window's Save
// does: the version read is what the save expects, so a file that another
// program saved, replaced or removed meanwhile is not overwritten.
#include "editor/TreeTestSupport.h"

#include <filesystem>
#include <fstream>

#include "editor/view/LibraryViewer.h"
#include "platform/automation/BStr.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;

std::string ErrorTextOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const ErrorRecord& e) {
        return ole::ToUtf8(e.Description);
    }
    return {};
}

TEST(LibraryViewerSave, ASaveExpectingTheVersionReadIsRefusedOnceAnotherProgramChangedTheFile) {
    EnsureApp();
    testsupport::TempDir dir;
    const fs::path file = dir / "lib.tlb";
    const std::u16string path = ole::FromUtf8(file.string());
    editor::LibraryViewer view;
    view.CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    const ole::FileIdentity created = view.SaveCurrentLibrary(path);
    ASSERT_TRUE(created.Exists);
    EXPECT_EQ(created, ole::GetFileIdentity(path));
    const std::string ours = testsupport::ReadText(file);

    // Saved again by the version the last save left: accepted.
    const ole::FileIdentity saved = view.SaveCurrentLibrary(path, created);
    EXPECT_EQ(saved, ole::GetFileIdentity(path));
    const std::string refused =
        "'" + file.string() + "' changed while it was being edited: another program saved, replaced or removed it. "
        "It was not written.";
    // Another program saves it in place, replaces it, or removes it.
    const std::string theirs = "theirs";
    const std::function<void()> others[] = {
        [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << theirs; },
        [&] {
            std::ofstream(dir / "new.tlb", std::ios::binary) << theirs;
            fs::rename(dir / "new.tlb", file);
        },
        [&] { fs::remove(file); },
    };
    for (size_t i = 0; i < std::size(others); ++i) {
        const ole::FileIdentity read = view.SaveCurrentLibrary(path);
        others[i]();
        EXPECT_EQ(ErrorTextOf([&] { view.SaveCurrentLibrary(path, read); }), refused) << i;
        if (i < 2) EXPECT_EQ(testsupport::ReadText(file), theirs) << i;
        else EXPECT_FALSE(fs::exists(file));
    }
    // A name that named nothing when read must still name nothing.
    const std::u16string fresh = ole::FromUtf8((dir / "fresh.tlb").string());
    const ole::FileIdentity none = ole::GetFileIdentity(fresh);
    std::ofstream(dir / "fresh.tlb", std::ios::binary) << theirs;
    EXPECT_NE(ErrorTextOf([&] { view.SaveCurrentLibrary(fresh, none); }), "");
    EXPECT_EQ(testsupport::ReadText(dir / "fresh.tlb"), theirs);
    // Without an expected version the save goes ahead, as Save As does.
    EXPECT_EQ(ErrorTextOf([&] { view.SaveCurrentLibrary(path); }), "");
    EXPECT_EQ(testsupport::ReadText(file), ours);
}

}  // namespace
}  // namespace treetest

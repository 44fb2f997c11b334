// Replacing a file in place: a write that fails half way puts the old
// contents back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "platform/automation/BStr.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(FileReplacement, AnInPlaceWriteThatFailsPutsTheOldContentsBack) {
    testsupport::TempDir dir;
    const std::string old(100, 'o');
    std::ofstream(dir / "a.tlb", std::ios::binary) << old;
    fs::create_hard_link(dir / "a.tlb", dir / "b.tlb");  // so it is written in place
    const std::vector<std::byte> image(1000, std::byte{'n'});

    // The file may not grow past 200 bytes: the write fails after 200.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ole::HRESULT hr = ole::ReplaceFileContents(ole::FromUtf8((dir / "a.tlb").string()), image);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(hr, ole::TYPE_E_IOERROR);
    EXPECT_EQ(testsupport::ReadText(dir / "b.tlb"), old);
    EXPECT_EQ(ole::ToUtf8(ole::GetLastFileWriteError()),
              "'" + (dir / "a.tlb").string() + "' could not be written: File too large; its old contents were put back.");
    EXPECT_EQ(ole::ReplaceFileContents(ole::FromUtf8((dir / "a.tlb").string()), image), ole::S_OK);
    EXPECT_EQ(testsupport::ReadText(dir / "b.tlb"), std::string(1000, 'n'));
}

// A name too long for a temporary file beside it with a suffix: saved all the same.
TEST(FileReplacement, AFileWithTheLongestNameIsWrittenAndReplaced) {
    testsupport::TempDir dir;
    const fs::path file = dir / (std::string(251, 'n') + ".tlb");
    for (size_t size : {10, 20}) {
        EXPECT_EQ(ole::ReplaceFileContents(ole::FromUtf8(file.string()), std::vector<std::byte>(size)), ole::S_OK);
        EXPECT_EQ(fs::file_size(file), size);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace

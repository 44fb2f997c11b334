// Replacing a file in place: a write that fails half way puts the old
// contents back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <thread>

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

// Beside a file, the name ".zephrin-save" added is where a save names its
// temporary file, and where a killed save may have left one: the next save
// removes such a file (one link, the file's owner and group, beginning as the
// new contents do) and leaves anything else there alone, saving all the same.
TEST(FileReplacement, OnlyATemporaryFileAKilledSaveLeftIsRemoved) {
    testsupport::TempDir dir;
    const fs::path file = dir / "a.tlb", taken = dir / "a.tlb.zephrin-save";
    const std::u16string path = ole::FromUtf8(file.string());
    std::ofstream(file, std::ios::binary) << "old";
    std::ofstream(dir / "other", std::ios::binary) << "nn";
    const std::function<void()> others[] = {
        [&] { std::ofstream(taken, std::ios::binary) << "mine"; },
        [&] { fs::create_hard_link(dir / "other", taken); },
        [&] { fs::create_symlink(dir / "other", taken); },
        [&] { fs::create_directory(taken); },
        [&] {
            std::ofstream(taken, std::ios::binary) << "nn";
            if (::geteuid() == 0) ASSERT_EQ(::chown(taken.c_str(), 1234, 1234), 0);
            else fs::remove(taken);
        },
    };
    for (size_t i = 0; i < std::size(others); ++i) {
        others[i]();
        if (!fs::exists(fs::symlink_status(taken))) continue;
        const std::vector<std::byte> image(3 + i, std::byte{'n'});
        EXPECT_EQ(ole::ReplaceFileContents(path, image), ole::S_OK) << i;
        EXPECT_EQ(fs::file_size(file), image.size()) << i;
        EXPECT_TRUE(fs::exists(fs::symlink_status(taken))) << i;
        fs::remove(taken);
    }
    EXPECT_EQ(testsupport::ReadText(dir / "other"), "nn");
    for (const char* left : {"", "nnn"}) {  // killed before its first write, and after it
        std::ofstream(taken, std::ios::binary) << left;
        EXPECT_EQ(ole::ReplaceFileContents(path, std::vector<std::byte>(5, std::byte{'n'})), ole::S_OK);
        EXPECT_EQ(testsupport::ReadText(file), "nnnnn");
        EXPECT_FALSE(fs::exists(taken)) << left;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// A file another program holds locked is waited for a few seconds, then
// refused with a message that says why; one released meanwhile is written.
TEST(FileReplacement, AFileAnotherProgramHoldsLockedIsWaitedForThenRefused) {
    testsupport::TempDir dir;
    const fs::path file = dir / "a.tlb";
    std::ofstream(file, std::ios::binary) << "old";
    const int other = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::u16string path = ole::FromUtf8(file.string());
    {
        ole::SaveGuard guard(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(guard.Lock(), ole::TYPE_E_IOERROR);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(ole::ToUtf8(ole::GetLastFileWriteError()),
                  "'" + file.string() + "' is being saved or edited by another program. It was not written; try again "
                  "when the other program is done.");
    }
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::flock(other, LOCK_UN);
    });
    EXPECT_EQ(ole::ReplaceFileContents(path, std::vector<std::byte>(5, std::byte{'n'})), ole::S_OK);
    release.join();
    ::close(other);
    EXPECT_EQ(testsupport::ReadText(file), "nnnnn");
}

// Guards nest, the innermost for a path counting; one for another path leaves a save alone.
TEST(FileReplacement, TheInnermostGuardForThePathCounts) {
    testsupport::TempDir dir;
    const fs::path file = dir / "a.tlb";
    std::ofstream(file, std::ios::binary) << "old";
    const std::u16string path = ole::FromUtf8(file.string());
    const ole::FileIdentity read = ole::GetFileIdentity(path);
    ole::SaveGuard outer(path, read);
    ole::SaveGuard other(ole::FromUtf8((dir / "b.tlb").string()));
    std::ofstream(file, std::ios::binary | std::ios::app) << "er";
    EXPECT_EQ(ole::ReplaceFileContents(path, std::vector<std::byte>(2)), ole::TYPE_E_IOERROR);
    EXPECT_EQ(testsupport::ReadText(file), "older");
    {
        ole::SaveGuard inner(path, ole::GetFileIdentity(path));
        EXPECT_EQ(ole::ReplaceFileContents(path, std::vector<std::byte>(2)), ole::S_OK);
        EXPECT_EQ(inner.Saved(), ole::GetFileIdentity(path));
    }
    EXPECT_EQ(ole::ReplaceFileContents(path, std::vector<std::byte>(3)), ole::TYPE_E_IOERROR);
    EXPECT_EQ(fs::file_size(file), 2u);
}

}  // namespace

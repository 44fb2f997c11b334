// Building the golden libraries through the creation interfaces and saving
// them reproduces the committed files byte for byte, and the library in memory
// reads exactly as the platform reads the saved file (the committed dump).
// With ZEPHRIN_UPDATE_GOLDENS=1 in the environment the files are rewritten
// instead (their dumps then come from the reference dumper).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/oleauto/MsftWriter.h"
#include "platform/oleauto/TypeLibData.h"
#include "platform/oleauto/TypeLibFiles.h"
#include "tools/DumpTypeLib.h"
#include "GoldenLibraries.h"

using namespace ole;

namespace {

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A loaded library reports LIBFLAG_FHASDISKIMAGE; one in memory does not yet.
std::string AsLoaded(std::string dump) {
    size_t line = dump.find('\n');
    size_t at = dump.rfind(" flags=0x", line);
    if (at == std::string::npos) return dump;
    size_t start = at + 9;
    unsigned flags = static_cast<unsigned>(std::stoul(dump.substr(start, line - start), nullptr, 16));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", flags | LIBFLAG_FHASDISKIMAGE);
    return dump.substr(0, start) + buf + dump.substr(line);
}

class GoldenLibrary : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        RegisterFileServices();
        SetTypeLibWriter(WriteMsftTypeLib);
    }
};

TEST_P(GoldenLibrary, SavingRebuildsTheCommittedFileAndReadsLikeIt) {
    const bool update = std::getenv("ZEPHRIN_UPDATE_GOLDENS") != nullptr;
    std::filesystem::path committed = std::filesystem::path(golden::Folder()) / (GetParam() + ".tlb");
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zephrin-golden-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path target = update ? committed : dir / (GetParam() + ".tlb");
    if (update) std::filesystem::create_directories(committed.parent_path());

    ComPtr<ICreateTypeLib2> lib;
    ASSERT_EQ(golden::Build(GetParam(), FromUtf8(target.string()), lib.put()), S_OK);
    ASSERT_EQ(lib->SaveAllChanges(), S_OK);
    if (update) GTEST_SKIP() << "rewrote " << committed;

    EXPECT_EQ(ReadText(target), ReadText(committed));
    std::filesystem::remove_all(dir);
    std::string dump = ReadText(std::filesystem::path(golden::Folder()) / (GetParam() + ".dump"));
    EXPECT_EQ(tlbtools::WithCrLf(AsLoaded(tlbtools::DumpTypeLib(lib.As<ITypeLib>().get()))), dump);
}

INSTANTIATE_TEST_SUITE_P(Goldens, GoldenLibrary, ::testing::ValuesIn(golden::Names()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace

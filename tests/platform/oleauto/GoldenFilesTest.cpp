// The committed golden libraries: what our reader makes of each file must be
// what the platform's services print for it (the committed reference dump),
// and writing the library read from a file must give that file back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/oleauto/MsftWriter.h"
#include "platform/oleauto/TypeLibData.h"
#include "platform/oleauto/TypeLibFiles.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"
#include "GoldenLibraries.h"

using namespace ole;

namespace {

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::byte> ReadBytes(const std::filesystem::path& p) {
    std::string s = ReadText(p);
    std::vector<std::byte> out(s.size());
    std::memcpy(out.data(), s.data(), s.size());
    return out;
}

std::vector<std::string> GoldenFiles() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(golden::Folder(), ec))
        if (e.path().extension() == ".tlb") out.push_back(e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

class GoldenFile : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { RegisterFileServices(); }
    std::filesystem::path Tlb() const { return std::filesystem::path(golden::Folder()) / (GetParam() + ".tlb"); }
    std::filesystem::path Dump() const { return std::filesystem::path(golden::Folder()) / (GetParam() + ".dump"); }
};

TEST_P(GoldenFile, ReadsAsThePlatformPrintsIt) {
    std::string dump;
    ASSERT_EQ(tlbtools::DumpTypeLibFile(FromUtf8(Tlb().string()), &dump), S_OK);
    EXPECT_EQ(tlbtools::WithCrLf(dump), ReadText(Dump()));
}

TEST_P(GoldenFile, WritingWhatWasReadGivesTheSameBytes) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(FromUtf8(Tlb().string()).c_str(), REGKIND_NONE, lib.put()), S_OK);
    std::shared_ptr<const LibraryData> data;
    ASSERT_EQ(GetLibraryData(lib.get(), false, &data), S_OK);
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(*data, &image), S_OK);
    std::vector<std::byte> original = ReadBytes(Tlb());
    ASSERT_EQ(image.size(), original.size());
    EXPECT_TRUE(image == original);
}

// What tlbcopy and regeneration do: re-create the library through the
// creation interfaces and save it.
TEST_P(GoldenFile, RecreatingThroughTheCreationInterfacesGivesTheSameFile) {
    SetTypeLibWriter(WriteMsftTypeLib);
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(FromUtf8(Tlb().string()).c_str(), REGKIND_NONE, lib.put()), S_OK);
    auto dir = std::filesystem::temp_directory_path() / ("zephrin-golden-copy-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto out = dir / (GetParam() + ".tlb");
    ComPtr<ICreateTypeLib2> copy;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, FromUtf8(out.string()).c_str(), copy.put()), S_OK);
    std::string failed;
    ASSERT_EQ(tlbtools::CopyTypeLib(lib.get(), copy.get(), &failed), S_OK) << failed;
    ASSERT_EQ(copy->SaveAllChanges(), S_OK);
    EXPECT_TRUE(ReadBytes(out) == ReadBytes(Tlb()));
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Goldens, GoldenFile, ::testing::ValuesIn(GoldenFiles()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenFile);

}  // namespace

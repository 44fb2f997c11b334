// The committed golden files: what our reader makes of each one must be what
// the platform's services print for it (the committed reference dump, made
// with the reference dumper), writing what was read must give the file back,
// and building the golden libraries through the creation interfaces must
// reproduce the committed files. With ZEPHRIN_UPDATE_GOLDENS=1 in the
// environment the built MSFT goldens are rewritten instead, and with
// ZEPHRIN_SLTG_OUT=<folder> the SLTG goldens are written there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"
#include "GoldenLibraries.h"
#include "SltgBuilder.h"
#include "SltgGoldens.h"

using namespace ole;
using testsupport::ReadBytes;
using testsupport::ReadText;
namespace fs = std::filesystem;

namespace {

std::string DumpOf(const fs::path& file) {
    std::string dump;
    EXPECT_EQ(tlbtools::DumpTypeLibFile(FromUtf8(file.string()), &dump), S_OK) << file;
    return tlbtools::WithCrLf(dump);
}

// Re-creates lib through the creation interfaces (as tlbcopy and regeneration
// do) and saves it to path.
void SaveCopy(ITypeLib* lib, const fs::path& path) {
    SetTypeLibWriter(WriteMsftTypeLib);
    ComPtr<ICreateTypeLib2> copy;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, FromUtf8(path.string()).c_str(), copy.put()), S_OK);
    std::string failed;
    ASSERT_EQ(tlbtools::CopyTypeLib(lib, copy.get(), &failed), S_OK) << failed;
    ASSERT_EQ(copy->SaveAllChanges(), S_OK);
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& i) { return i.param; }

// --- MSFT goldens (tests/data/golden) ---

std::vector<std::string> GoldenFiles() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(golden::Folder(), ec))
        if (e.path().extension() == ".tlb") out.push_back(e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

class GoldenFile : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { RegisterFileServices(); }
    fs::path Tlb() const { return fs::path(golden::Folder()) / (GetParam() + ".tlb"); }
    fs::path Dump() const { return fs::path(golden::Folder()) / (GetParam() + ".dump"); }
    ComPtr<ITypeLib> Load() const {
        ComPtr<ITypeLib> lib;
        EXPECT_EQ(LoadTypeLibEx(FromUtf8(Tlb().string()).c_str(), REGKIND_NONE, lib.put()), S_OK);
        return lib;
    }
};

TEST_P(GoldenFile, ReadsAsThePlatformPrintsIt) { EXPECT_EQ(DumpOf(Tlb()), ReadText(Dump())); }

TEST_P(GoldenFile, WritingWhatWasReadGivesTheSameBytes) {
    ComPtr<ITypeLib> lib = Load();
    ASSERT_TRUE(lib);
    std::shared_ptr<const LibraryData> data;
    ASSERT_EQ(GetLibraryData(lib.get(), false, &data), S_OK);
    std::vector<std::byte> image;
    ASSERT_EQ(BuildMsftImage(*data, &image), S_OK);
    EXPECT_TRUE(image == ReadBytes(Tlb()));
}

TEST_P(GoldenFile, RecreatingThroughTheCreationInterfacesGivesTheSameFile) {
    ComPtr<ITypeLib> lib = Load();
    ASSERT_TRUE(lib);
    testsupport::TempDir dir;
    ASSERT_NO_FATAL_FAILURE(SaveCopy(lib.get(), dir / (GetParam() + ".tlb")));
    EXPECT_TRUE(ReadBytes(dir / (GetParam() + ".tlb")) == ReadBytes(Tlb()));
}

INSTANTIATE_TEST_SUITE_P(Goldens, GoldenFile, ::testing::ValuesIn(GoldenFiles()), ParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenFile);

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

class GoldenLibrary : public ::testing::TestWithParam<std::string> {};

// Building a golden library and saving it reproduces the committed file byte
// for byte, and the library in memory reads as the platform reads that file.
TEST_P(GoldenLibrary, SavingRebuildsTheCommittedFileAndReadsLikeIt) {
    RegisterFileServices();
    SetTypeLibWriter(WriteMsftTypeLib);
    const bool update = std::getenv("ZEPHRIN_UPDATE_GOLDENS") != nullptr;
    fs::path committed = fs::path(golden::Folder()) / (GetParam() + ".tlb");
    testsupport::TempDir dir;
    fs::path target = update ? committed : dir / (GetParam() + ".tlb");
    if (update) fs::create_directories(committed.parent_path());

    ComPtr<ICreateTypeLib2> lib;
    ASSERT_EQ(golden::Build(GetParam(), FromUtf8(target.string()), lib.put()), S_OK);
    ASSERT_EQ(lib->SaveAllChanges(), S_OK);
    if (update) GTEST_SKIP() << "rewrote " << committed;

    EXPECT_EQ(ReadText(target), ReadText(committed));
    std::string dump = ReadText(fs::path(golden::Folder()) / (GetParam() + ".dump"));
    EXPECT_EQ(tlbtools::WithCrLf(AsLoaded(tlbtools::DumpTypeLib(lib.As<ITypeLib>().get()))), dump);
}

INSTANTIATE_TEST_SUITE_P(Goldens, GoldenLibrary, ::testing::ValuesIn(golden::Names()), ParamName);

// --- Libraries written by this program, embedded as TYPELIB resources in
// small PE32, PE32+ and NE images (tests/data/golden-images) ---

struct GoldenImage {
    const char* file;  // with an optional "\N" picking the resource
    const char* dump;
};

class ReaderGoldenImages : public ::testing::TestWithParam<GoldenImage> {};

TEST_P(ReaderGoldenImages, DumpEqualsTheReferenceDump) {
    const fs::path dir = fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden-images";
    std::string expected = ReadText(dir / GetParam().dump);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(DumpOf(dir / GetParam().file), expected);
}

INSTANTIATE_TEST_SUITE_P(Images, ReaderGoldenImages,
                         ::testing::Values(GoldenImage{"kinds32.dll", "kinds32.dll.dump"},
                                           GoldenImage{"both64.ocx", "both64.ocx.dump"},
                                           GoldenImage{"both64.ocx\\2", "both64.ocx-2.dump"},
                                           GoldenImage{"helpdata16.dll", "helpdata16.dll.dump"}),
                         [](const auto& info) {
                             std::string name = info.param.dump;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// --- SLTG goldens (tests/data/sltg) ---

std::vector<std::string> SltgGoldenNames() {
    std::vector<std::string> out;
    for (const auto& g : sltgtest::Goldens()) out.push_back(g.name);
    return out;
}

class SltgGoldenDump : public ::testing::TestWithParam<std::string> {
protected:
    fs::path Base(const char* ext) const { return fs::path(ZEPHRIN_TEST_DATA_DIR) / "sltg" / (GetParam() + ext); }
};

TEST_P(SltgGoldenDump, LoadedGoldenDumpsLikeThePlatform) {
    EXPECT_EQ(DumpOf(Base(".tlb")), ReadText(Base(".dump")));
}

// A library read from SLTG and saved as MSFT (re-created through the creation
// interfaces, as regeneration does) reads as the platform reads that copy.
// The copy differs from the original only where the creation interfaces and
// the MSFT format must: the library gains LIBFLAG_FHASDISKIMAGE (the platform
// adds it to MSFT libraries, not to SLTG ones), modules are laid out with
// alignment 1 and size 2, and property-put value
// parameters lose their names.
TEST_P(SltgGoldenDump, SavedAsMsftReadsLikeThePlatformReadsTheCopy) {
    RegisterFileServices();
    ComPtr<ITypeLib> src;
    ASSERT_EQ(LoadTypeLibEx(FromUtf8(Base(".tlb").string()).c_str(), REGKIND_NONE, src.put()), S_OK);
    testsupport::TempDir dir;
    const fs::path out = dir / (GetParam() + ".msft.tlb");
    ASSERT_NO_FATAL_FAILURE(SaveCopy(src.get(), out));
    EXPECT_EQ(DumpOf(out), ReadText(Base(".msft.dump")));
}

INSTANTIATE_TEST_SUITE_P(Goldens, SltgGoldenDump, ::testing::ValuesIn(SltgGoldenNames()), ParamName);

// Writes the SLTG golden images to $ZEPHRIN_SLTG_OUT (to make new goldens).
TEST(SltgGoldens, WriteImagesWhenAsked) {
    const char* dir = std::getenv("ZEPHRIN_SLTG_OUT");
    if (!dir) GTEST_SKIP() << "ZEPHRIN_SLTG_OUT not set";
    auto goldens = sltgtest::Goldens();
    goldens.push_back(sltgtest::OlderForm());
    goldens.push_back(sltgtest::NowhereForm());
    goldens.push_back(sltgtest::DispatchForm());
    for (const auto& g : goldens) {
        auto img = sltgtest::BuildSltg(g.data, g.options);
        std::ofstream f(fs::path(dir) / (g.name + ".tlb"), std::ios::binary);
        f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    }
}

}  // namespace

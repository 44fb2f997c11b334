#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "SltgGoldens.h"
#include "platform/oleauto/TypeLibFiles.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"

namespace ole::sltgtest {
namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class SltgGoldenDump : public ::testing::TestWithParam<size_t> {};

// Loading a golden SLTG file through LoadTypeLibEx and dumping it prints what
// the platform prints for the same file.
TEST_P(SltgGoldenDump, LoadedGoldenDumpsLikeThePlatform)
{
    const std::string name = Goldens().at(GetParam()).name;
    const std::string base = std::string(ZEPHRIN_TEST_DATA_DIR) + "/sltg/" + name;
    std::string dump;
    std::u16string path(base.begin(), base.end());
    ASSERT_EQ(tlbtools::DumpTypeLibFile(path + u".tlb", &dump), S_OK);
    EXPECT_EQ(tlbtools::WithCrLf(dump), ReadText(base + ".dump"));
}

INSTANTIATE_TEST_SUITE_P(Goldens, SltgGoldenDump, ::testing::Range<size_t>(0, 3),
                         [](const auto& info) { return Goldens().at(info.param).name; });

}  // namespace
}  // namespace ole::sltgtest

namespace ole::sltgtest {
namespace {

// A library read from SLTG and saved as MSFT (re-created through the creation
// interfaces, as regeneration does) reads as the platform reads that copy.
// The copy differs from the original only where the creation interfaces and
// the MSFT format must: the library gains LIBFLAG_FHASDISKIMAGE (the platform
// adds it to MSFT libraries, not to SLTG ones), modules are laid out with
// alignment 1 and their function count as size, and property-put value
// parameters lose their names.
TEST_P(SltgGoldenDump, SavedAsMsftReadsLikeThePlatformReadsTheCopy)
{
    const std::string name = Goldens().at(GetParam()).name;
    const std::string base = std::string(ZEPHRIN_TEST_DATA_DIR) + "/sltg/" + name;
    RegisterFileServices();
    ComPtr<ITypeLib> src;
    ASSERT_EQ(LoadTypeLibEx(FromUtf8(base + ".tlb").c_str(), REGKIND_NONE, src.put()), S_OK);
    const std::string out = ::testing::TempDir() + "sltg-" + name + ".msft.tlb";
    std::remove(out.c_str());
    ComPtr<ICreateTypeLib2> dst;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, FromUtf8(out).c_str(), dst.put()), S_OK);
    std::string what;
    ASSERT_EQ(tlbtools::CopyTypeLib(src.get(), dst.get(), &what), S_OK) << what;
    ASSERT_EQ(dst->SaveAllChanges(), S_OK);
    std::string dump;
    ASSERT_EQ(tlbtools::DumpTypeLibFile(FromUtf8(out), &dump), S_OK);
    EXPECT_EQ(tlbtools::WithCrLf(dump), ReadText(base + ".msft.dump"));
    std::remove(out.c_str());
}

}  // namespace
}  // namespace ole::sltgtest

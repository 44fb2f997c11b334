#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "SltgGoldens.h"
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

// The platform's SLTG loader does not add LIBFLAG_FHASDISKIMAGE to the
// library flags (its MSFT loader does, and the format reference confirms the
// bit for loaded libraries); ours adds it for every loaded file. Clear it in
// the library line of our dump before comparing.
std::string WithoutDiskImageFlag(std::string dump)
{
    size_t eol = dump.find('\n');
    size_t at = dump.rfind(" flags=0x", eol);
    if (at == std::string::npos) return dump;
    at += 9;
    size_t end = dump.find_first_not_of("0123456789abcdef", at);
    unsigned long flags = std::stoul(dump.substr(at, end - at), nullptr, 16) & ~0x8ul;
    std::ostringstream hex;
    hex << std::hex << flags;
    return dump.replace(at, end - at, hex.str());
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
    EXPECT_EQ(WithoutDiskImageFlag(tlbtools::WithCrLf(dump)), ReadText(base + ".dump"));
}

INSTANTIATE_TEST_SUITE_P(Goldens, SltgGoldenDump, ::testing::Range<size_t>(0, 3),
                         [](const auto& info) { return Goldens().at(info.param).name; });

}  // namespace
}  // namespace ole::sltgtest

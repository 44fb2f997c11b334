// Libraries written by this program's writer, embedded as TYPELIB resources in
// small PE32, PE32+ and NE images (tests/data/golden-images), read exactly as
// the platform's own services read them: the committed dumps were made with
// the reference dumper.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/DumpTypeLib.h"
#include "platform/oleauto/TypeLibInterfaces.h"

namespace {

struct GoldenImage {
    const char* file;  // in tests/data/golden-images, with an optional "\N"
    const char* dump;  // the reference dumper's output
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ReaderGoldenImages : public ::testing::TestWithParam<GoldenImage> {};

TEST_P(ReaderGoldenImages, DumpEqualsTheReferenceDump) {
    const std::string dir = std::string(ZEPHRIN_TEST_DATA_DIR) + "/golden-images/";
    std::string expected = ReadText(dir + GetParam().dump);
    ASSERT_FALSE(expected.empty());
    std::string text;
    EXPECT_EQ(ole::S_OK, tlbtools::DumpTypeLibFile(ole::FromUtf8(dir + GetParam().file), &text));
    EXPECT_EQ(expected, tlbtools::WithCrLf(text));
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

}  // namespace

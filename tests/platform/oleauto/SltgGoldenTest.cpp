#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "SltgBuilder.h"
#include "SltgGoldens.h"

namespace ole::sltgtest {
namespace {

// Writes the golden images to $ZEPHRIN_SLTG_OUT (used to make new goldens).
TEST(SltgGoldens, WriteImagesWhenAsked)
{
    const char* dir = std::getenv("ZEPHRIN_SLTG_OUT");
    if (!dir) GTEST_SKIP() << "ZEPHRIN_SLTG_OUT not set";
    for (const auto& g : Goldens()) {
        auto img = BuildSltg(g.data);
        std::ofstream f(std::string(dir) + "/" + g.name + ".tlb", std::ios::binary);
        f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    }
}

}  // namespace
}  // namespace ole::sltgtest

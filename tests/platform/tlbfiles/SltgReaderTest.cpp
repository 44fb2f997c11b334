#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "SltgBuilder.h"
#include "SltgGoldens.h"
#include "platform/tlbfiles/SltgReader.h"
#include "support/FileContents.h"

namespace ole::sltgtest {
namespace {

std::string GoldenPath(const std::string& name, const char* ext)
{
    return std::string(ZEPHRIN_TEST_DATA_DIR) + "/sltg/" + name + ext;
}

class SltgDescriptions : public ::testing::TestWithParam<size_t> {};

// Everything SLTG can hold survives a build and a read, including what the
// platform's own reader drops.
TEST_P(SltgDescriptions, ReadingABuiltImageGivesBackItsDescription)
{
    const Golden g = FullDescriptions().at(GetParam());
    LibraryData read;
    ASSERT_EQ(ReadSltg(BuildSltg(g.data), &read), S_OK);
    EXPECT_EQ(Describe(read), Describe(g.data));
}

// Parameter types may also be stored apart from the argument list.
TEST_P(SltgDescriptions, ParameterTypesStoredApartReadTheSame)
{
    const Golden g = FullDescriptions().at(GetParam());
    BuildOptions apart;
    apart.namedParamTypesApart = true;
    auto bytes = BuildSltg(g.data, apart);
    ASSERT_NE(bytes, BuildSltg(g.data));
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    EXPECT_EQ(Describe(read), Describe(g.data));
}

// The committed golden files are what the builder makes today, and they read
// as their descriptions.
TEST_P(SltgDescriptions, GoldenFileReadsAsItsDescription)
{
    const Golden g = Goldens().at(GetParam());
    auto bytes = testsupport::ReadBytes(GoldenPath(g.name, ".tlb"));
    ASSERT_FALSE(bytes.empty()) << g.name;
    EXPECT_EQ(bytes, BuildSltg(g.data)) << "builder output changed; regenerate the golden and its dump";
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    EXPECT_EQ(Describe(read), Describe(g.data));
}

// Every truncation of a golden fails cleanly and leaves the output empty.
TEST_P(SltgDescriptions, EveryTruncationFailsCleanly)
{
    auto bytes = BuildSltg(FullDescriptions().at(GetParam()).data);
    for (size_t n = 0; n < bytes.size(); ++n) {
        LibraryData read;
        read.name = u"stale";
        HRESULT hr = ReadSltg(std::span<const std::byte>(bytes.data(), n), &read);
        ASSERT_EQ(hr, TYPE_E_CANTLOADLIBRARY) << "length " << n;
        ASSERT_TRUE(read.name.empty() && read.types.empty());
    }
}

// Random damage never crashes or hangs the reader: it either reads or fails
// with the one error code.
TEST_P(SltgDescriptions, RandomByteFlipsNeverCrash)
{
    const auto original = BuildSltg(FullDescriptions().at(GetParam()).data);
    std::mt19937 rng(1234 + static_cast<unsigned>(GetParam()));
    int loaded = 0;
    // ZEPHRIN_SLTG_FLIP_ROUNDS runs a longer session locally.
    const char* env = std::getenv("ZEPHRIN_SLTG_FLIP_ROUNDS");
    const int rounds = env ? std::atoi(env) : 3000;
    for (int round = 0; round < rounds; ++round) {
        auto bytes = original;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k) {
            size_t at = rng() % bytes.size();
            bytes[at] = static_cast<std::byte>(rng() & 0xFF);
        }
        LibraryData read;
        HRESULT hr = ReadSltg(bytes, &read);
        ASSERT_TRUE(hr == S_OK || hr == TYPE_E_CANTLOADLIBRARY) << std::hex << hr;
        if (hr == S_OK) {
            ++loaded;
            // Whatever was read is self-consistent: every reference resolves
            // or is one that leads nowhere.
            for (const auto& r : read.refs) {
                if (r.kind == RefKind::Internal) {
                    EXPECT_LT(static_cast<size_t>(r.typeIndex), read.types.size());
                } else if (r.kind != RefKind::Missing) {
                    EXPECT_LT(static_cast<size_t>(r.importLib), read.imports.size());
                }
            }
        }
    }
    EXPECT_GT(loaded, 0);  // many flips hit bytes that don't matter
}

INSTANTIATE_TEST_SUITE_P(Goldens, SltgDescriptions, ::testing::Range<size_t>(0, 3),
                         [](const auto& info) { return Goldens().at(info.param).name; });

std::vector<std::byte> SmallImage()
{
    LibraryData l;
    l.name = u"Small";
    TypeData t;
    t.name = u"E";
    t.kind = TKIND_ENUM;
    VarData v;
    v.name = u"A";
    v.varkind = VAR_CONST;
    v.type.vt = VT_I4;
    v.constValue = Variant::Int(1);
    t.vars.push_back(v);
    l.types.push_back(t);
    return BuildSltg(l);
}

void Put16(std::vector<std::byte>& b, size_t at, uint16_t v)
{
    b[at] = static_cast<std::byte>(v & 0xFF);
    b[at + 1] = static_cast<std::byte>(v >> 8);
}

TEST(SltgReader, RejectsOtherSignaturesAndEmptyInput)
{
    LibraryData read;
    EXPECT_EQ(ReadSltg({}, &read), TYPE_E_CANTLOADLIBRARY);
    auto bytes = SmallImage();
    bytes[0] = std::byte{'M'};
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(ReadSltg(SmallImage(), nullptr), E_POINTER);
}

TEST(SltgReader, ABlockChainThatLoopsFails)
{
    auto bytes = SmallImage();
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    Put16(bytes, 0x24 + 6, 1);  // first block's next entry: itself
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
}

TEST(SltgReader, ABlockLongerThanTheFileFails)
{
    auto bytes = SmallImage();
    LibraryData read;
    Put16(bytes, 0x24 + 2, 0x7FFF);  // length of the first block, high word
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
}

// Type descriptors find their blocks by the blocks' index names.
TEST(SltgReader, TypeBlocksAreFoundByTheirIndexNames)
{
    LibraryData l;
    l.name = u"Two";
    for (int k = 0; k < 2; ++k) {
        TypeData t;
        t.name = k ? u"Second" : u"First";
        t.kind = TKIND_ENUM;
        for (int v = 0; v <= k; ++v) {
            VarData c;
            c.name = u"C" + std::u16string(1, static_cast<char16_t>(u'0' + k * 10 + v));
            c.varkind = VAR_CONST;
            c.type.vt = VT_I4;
            c.constValue = Variant::Int(v);
            t.vars.push_back(c);
        }
        l.types.push_back(t);
    }
    auto bytes = BuildSltg(l);
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    ASSERT_EQ(read.types.at(1).vars.size(), 2u);
    // Swap the index names of the two type blocks ("AAAAAAAAAA", "AAAAAAAAAB"
    // after "\1CompObj" and "dir"): each descriptor now names the other block.
    const size_t index = 0x24 + 3 * 8;
    std::swap(bytes[index + 13 + 9], bytes[index + 24 + 9]);
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    EXPECT_EQ(read.types.at(0).name, u"First");
    EXPECT_EQ(read.types.at(0).vars.size(), 2u);
    EXPECT_EQ(read.types.at(1).vars.size(), 1u);
}

// A dictionary of hundreds of words puts tree nodes beyond offset 0xFF, so
// the big-endian jump offsets need both bytes.
TEST(SltgReader, HelpStringsWithManyWordsDecompress)
{
    LibraryData l;
    l.name = u"Words";
    for (int t = 0; t < 20; ++t) {
        TypeData e;
        e.name = u"E" + std::u16string(1, static_cast<char16_t>(u'A' + t));
        e.kind = TKIND_ENUM;
        for (int w = 0; w < 30; ++w) {
            std::string word = "w" + std::to_string(t * 30 + w) + (w % 7 == 0 ? "\xE9t\xE9" : "");
            if (!e.docString.empty()) e.docString += u' ';
            for (char c : word) e.docString += static_cast<char16_t>(static_cast<unsigned char>(c));
        }
        l.types.push_back(e);
    }
    LibraryData read;
    ASSERT_EQ(ReadSltg(BuildSltg(l), &read), S_OK);
    ASSERT_EQ(read.types.size(), l.types.size());
    for (size_t t = 0; t < l.types.size(); ++t) EXPECT_EQ(read.types[t].docString, l.types[t].docString) << t;
}

}  // namespace
}  // namespace ole::sltgtest

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

// Parameter types may also be stored apart from the argument list, and
// dispinterfaces, read-only variables and vtable words in older compilers'
// forms.
TEST_P(SltgDescriptions, OtherStoredFormsReadTheSame)
{
    const Golden g = FullDescriptions().at(GetParam());
    for (const BuildOptions options : {BuildOptions{.namedParamTypesApart = true}, BuildOptions{.olderForms = true}}) {
        auto bytes = BuildSltg(g.data, options);
        ASSERT_NE(bytes, BuildSltg(g.data));
        LibraryData read;
        ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
        EXPECT_EQ(Describe(read), Describe(g.data)) << options.olderForms;
    }
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

std::vector<std::byte> SmallImage(LCID lcid = 0)
{
    LibraryData l;
    l.name = u"Small";
    l.lcid = lcid;
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

// The platform keeps a library's language only with the neutral sub-language
// (olepro32 and stdole32 store 0x409 and read as 0), and so does the reader,
// for the library and its types.
TEST(SltgReader, AnLcidWithASubLanguageReadsAsZero)
{
    for (const auto& [stored, read] : {std::pair<LCID, LCID>{9, 9}, {7, 7}, {0x0C, 0x0C}, {0, 0}, {0x409, 0},
                                        {0x809, 0}, {0x407, 0}, {0x400, 0}}) {
        LibraryData lib;
        ASSERT_EQ(ReadSltg(SmallImage(stored), &lib), S_OK);
        EXPECT_EQ(lib.lcid, read) << std::hex << stored;
        EXPECT_EQ(lib.types.at(0).lcid, read) << std::hex << stored;
    }
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

// ---- What a file can make the reader build ----

constexpr MEMBERID kMarker = 0x5EC00000;  // member IDs the tests find their records by

// The offset of the record whose member ID (at +at) is kMarker + i.
size_t RecordOf(const std::vector<std::byte>& b, MEMBERID i, size_t at)
{
    uint32_t id = static_cast<uint32_t>(kMarker + i);
    const std::byte want[] = {std::byte(id & 0xFF), std::byte(id >> 8 & 0xFF), std::byte(id >> 16), std::byte(id >> 24)};
    auto it = std::search(b.begin(), b.end(), std::begin(want), std::end(want));
    EXPECT_NE(it, b.end()) << i;
    return static_cast<size_t>(it - b.begin()) - at;
}

uint16_t Get16(const std::vector<std::byte>& b, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint16_t>(b[at]) | static_cast<uint16_t>(b[at + 1]) << 8);
}

// Array bounds are charged for every copy: fields that all share one array of
// 5000 dimensions would load 12 MB of bounds from a 60 KB file.
TEST(SltgReader, SharedArrayBoundsAreChargedForEachUse)
{
    LibraryData l;
    l.name = u"Arrays";
    TypeData r;
    r.name = u"R";
    r.kind = TKIND_RECORD;
    for (MEMBERID i = 0; i < 300; ++i) {
        VarData v;
        v.name = u"F" + FromUtf8(std::to_string(i));
        v.memid = kMarker + i;
        v.type.vt = VT_CARRAY;
        v.type.MutableBounds().assign(i == 0 ? 5000 : 1, SAFEARRAYBOUND{2, 0});
        v.type.element[0].vt = VT_I4;
        r.vars.push_back(v);
    }
    l.types.push_back(r);
    auto bytes = BuildSltg(l);
    auto share = [&](MEMBERID count) {
        uint16_t type = Get16(bytes, RecordOf(bytes, 0, 0x0A) + 8);
        for (MEMBERID i = 1; i < count; ++i) Put16(bytes, RecordOf(bytes, i, 0x0A) + 8, type);
    };
    share(10);
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    EXPECT_EQ(read.types.at(0).vars.at(9).type.Bounds().size(), 5000u);
    share(300);
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
}

// Help-string decoding is charged for the bits it reads: with a tree whose
// root leads back to itself on a 0 bit, help strings that point at a run of
// zero bytes read every bit to the end of the member data and make no word.
TEST(SltgReader, HelpStringsAreChargedForTheBitsTheyRead)
{
    LibraryData l;
    l.name = u"Helpless";
    TypeData m;
    m.name = u"M";
    m.kind = TKIND_MODULE;
    VarData zeros;
    zeros.name = u"Zeros";
    zeros.memid = kMarker + 0xFFFF;
    zeros.varkind = VAR_CONST;
    zeros.type.vt = VT_BSTR;
    zeros.constValue = Variant(std::u16string(30000, u'\0'));
    m.vars.push_back(zeros);
    for (MEMBERID i = 0; i < 1000; ++i) {
        FuncData f;
        f.name = u"F" + FromUtf8(std::to_string(i));
        f.memid = kMarker + i;
        f.funckind = FUNC_STATIC;
        f.returnType.vt = VT_I4;
        f.docString = u"alpha beta";
        m.funcs.push_back(f);
    }
    l.types.push_back(m);
    auto bytes = BuildSltg(l);
    // The root (0x80, big-endian offset of its 0 child), then its 1 child: the empty word.
    const std::byte root[] = {std::byte{0x80}, std::byte{0}, std::byte{5}, std::byte{1}, std::byte{0}, std::byte{0x80}};
    auto tree = std::search(bytes.begin(), bytes.end(), std::begin(root), std::end(root));
    ASSERT_NE(tree, bytes.end());
    tree[2] = std::byte{0};
    uint16_t text = static_cast<uint16_t>(Get16(bytes, RecordOf(bytes, 0xFFFF, 0x0A) + 6) + 2);
    auto share = [&](MEMBERID count) {
        for (MEMBERID i = 0; i < count; ++i) Put16(bytes, RecordOf(bytes, i, 6) + 0x0C, text);
    };
    share(3);
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    EXPECT_EQ(read.types.at(0).funcs.at(2).docString, u"");
    share(1000);
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
}

// Every level of a pointer chain is a block of its own, charged for each
// copy: parameters that all point at one chain of 30 pointers would load
// 7 MB of type descriptions from a 35 KB file.
TEST(SltgReader, EveryLevelOfASharedPointerChainIsCharged)
{
    TypeDescData chain;
    chain.vt = VT_I4;
    for (int i = 0; i < 30; ++i) {
        TypeDescData pointer;
        pointer.vt = VT_PTR;
        pointer.SetElement(std::move(chain));
        chain = std::move(pointer);
    }
    LibraryData l;
    l.name = u"Chains";
    TypeData m;
    m.name = u"M";
    m.kind = TKIND_MODULE;
    for (MEMBERID i = 0; i < 200; ++i) {
        FuncData f;
        f.memid = kMarker + i;
        f.funckind = FUNC_STATIC;
        f.returnType.vt = VT_I4;
        f.params.resize(31);
        for (ParamData& p : f.params) p.type.vt = VT_I4;
        if (i == 0) f.params[0].type = chain;
        m.funcs.push_back(std::move(f));
    }
    l.types.push_back(m);
    auto bytes = BuildSltg(l);
    // Parameters hold their types inline (a word) or apart (the offset of its words).
    size_t memberData = RecordOf(bytes, 1, 6) - Get16(bytes, RecordOf(bytes, 0, 6) + 2);
    uint16_t shared = Get16(bytes, memberData + Get16(bytes, RecordOf(bytes, 0, 6) + 0x0E) + 2);
    auto share = [&](MEMBERID count) {
        for (MEMBERID i = 0; i < count; ++i) {
            size_t args = memberData + Get16(bytes, RecordOf(bytes, i, 6) + 0x0E);
            for (size_t p = 0; p < 31; ++p) {
                Put16(bytes, args + 4 * p, 0xFFFE);
                Put16(bytes, args + 4 * p + 2, shared);
            }
        }
    };
    share(10);
    LibraryData read;
    ASSERT_EQ(ReadSltg(bytes, &read), S_OK);
    const TypeDescData* last = &read.types.at(0).funcs.at(9).params.at(30).type;
    for (int i = 0; i < 30; ++i) last = &last->element.at(0);
    EXPECT_EQ(last->vt, VT_I4);
    ASSERT_LT(bytes.size(), 40000u);
    share(200);
    EXPECT_EQ(ReadSltg(bytes, &read), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
}  // namespace ole::sltgtest

#include "resources/StringTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using zephrin::resources::AllStrings;
using zephrin::resources::FindString;

std::u16string_view Text(int id) {
    const char16_t* text = FindString(id);
    return text ? std::u16string_view(text) : std::u16string_view();
}

TEST(StringTable, IsSortedByUniqueIdsWithinTheProgramRange) {
    auto all = AllStrings();
    ASSERT_GT(all.size(), 400u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_GE(all[i].id, 101);
        EXPECT_LE(all[i].id, 1071);
        ASSERT_NE(all[i].text, nullptr) << "id " << all[i].id;
        EXPECT_FALSE(std::u16string_view(all[i].text).empty()) << "id " << all[i].id;
        if (i > 0) {
            EXPECT_LT(all[i - 1].id, all[i].id) << "at index " << i;
        }
    }
}

TEST(StringTable, PlaceholdersAreNumberedFromOneWithoutGaps) {
    for (const auto& entry : AllStrings()) {
        std::u16string_view text(entry.text);
        // Line breaks are real characters, never a written-out escape.
        EXPECT_EQ(text.find(u'\\'), std::u16string_view::npos) << "id " << entry.id;
        std::set<int> used;
        for (std::size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] == u'|' && text[i + 1] >= u'1' && text[i + 1] <= u'9') used.insert(text[i + 1] - u'0');
        if (used.empty()) continue;
        EXPECT_EQ(*used.rbegin(), static_cast<int>(used.size())) << "id " << entry.id;
    }
}

TEST(StringTable, FindsTextsExactlyAndUnknownIdsNot) {
    EXPECT_EQ(Text(101), u"&File");  // the first
    EXPECT_EQ(Text(1071), u"Alias Target");  // the last
    EXPECT_EQ(Text(118), u" *");  // spaces kept
    EXPECT_EQ(Text(791), u"Cannot find library |1.\r\n\r\nFile: |2\r\nGuid: |3\r\nVersion: |4.|5\r\nLCID: &H|6");
    for (int id : {-1, 100, 803, 1072}) EXPECT_EQ(FindString(id), nullptr) << id;
}

// The first argument of `name(` when it is an integer literal, for every call of a
// string loader (and of the RESID macro, which must also close right after the id).
struct IdUse {
    std::size_t offset;
    int id;
};

std::vector<IdUse> FindLiteralIds(const std::string& source) {
    static const std::set<std::string_view> kLoaders = {"LoadResStringById", "LoadResStringFormat",
                                                        "LoadResString", "RESID"};
    auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    auto skipSpace = [&](std::size_t i) {
        while (i < source.size() && std::isspace(static_cast<unsigned char>(source[i]))) ++i;
        return i;
    };
    std::vector<IdUse> uses;
    std::size_t i = 0;
    while (i < source.size()) {
        if (!isIdent(source[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < source.size() && isIdent(source[i])) ++i;
        const std::string_view name(source.data() + start, i - start);
        if (!kLoaders.count(name)) continue;
        std::size_t j = skipSpace(i);
        if (j >= source.size() || source[j] != '(') continue;
        j = skipSpace(j + 1);
        const std::size_t digits = j;
        while (j < source.size() && std::isdigit(static_cast<unsigned char>(source[j]))) ++j;
        if (j == digits || j - digits > 9) continue;
        if (name == "RESID") {
            const std::size_t close = skipSpace(j);
            if (close >= source.size() || source[close] != ')') continue;
        } else if (j < source.size() && (isIdent(source[j]) || source[j] == '.')) {
            continue;  // 0x10, 1.5, 10u... are not plain ids
        }
        uses.push_back({start, std::stoi(source.substr(digits, j - digits))});
    }
    return uses;
}

TEST(StringTable, LiteralIdScannerFindsEveryLoaderCall) {
    const std::string source =
        "auto a = modSupport::LoadResStringById(800);\n"
        "auto b = LoadResStringFormat(\n   812, {x, y});\n"
        "int c = RESID( 1071 ); int d = RESID(5 + 1); MyLoadResString(7); LoadResString(kName);\n";
    auto uses = FindLiteralIds(source);
    ASSERT_EQ(uses.size(), 3u);
    EXPECT_EQ(uses[0].id, 800);
    EXPECT_EQ(uses[1].id, 812);
    EXPECT_EQ(uses[2].id, 1071);
}

// Every string id written as a literal in the sources must exist in the table.
TEST(StringTable, EveryIdTheCodeUsesExists) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(ZEPHRIN_SOURCE_DIR) / "src";
    ASSERT_TRUE(fs::is_directory(root)) << root;

    std::vector<std::string> missing;
    size_t found = 0;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        const auto ext = item.path().extension();
        if (ext != ".cpp" && ext != ".h") continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        const std::string source = buffer.str();
        for (const auto& use : FindLiteralIds(source)) {
            ++found;
            if (FindString(use.id)) continue;
            const auto line = 1 + std::count(source.begin(), source.begin() + use.offset, '\n');
            missing.push_back(item.path().string() + ":" + std::to_string(line) + ": id " + std::to_string(use.id));
        }
    }
    std::string report;
    for (const auto& m : missing) report += m + "\n";
    EXPECT_TRUE(missing.empty()) << "string ids used but not in the table:\n" << report;
    EXPECT_GT(found, 0u) << "the scanner found no loader call at all";
}

}  // namespace

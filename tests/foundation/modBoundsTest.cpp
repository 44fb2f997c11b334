#include <gtest/gtest.h>

#include "foundation/modBounds.h"

using namespace zephrin;

TEST(Bounds, FormatWritesLowerToUpperJoinedByCommas) {
    EXPECT_EQ(modBounds::FormatBounds(BoundsTable{{0, 7}, {-1, 1}}), u"0 To 7, -1 To 1");
    EXPECT_EQ(modBounds::FormatBounds(BoundsTable{{INT32_MIN, INT32_MAX - 1}}),
              u"-2147483648 To 2147483646");
    EXPECT_EQ(modBounds::FormatBounds(BoundsTable{}), u"");
}

TEST(Bounds, ParseReadsGroupsLoneNumbersAndAnyCaseOfTo) {
    struct Case {
        std::u16string_view text;
        BoundsTable expected;
    };
    const Case cases[] = {
        {u"7", {{0, 7}}},
        {u"1 To 3, 0 to 4", {{1, 3}, {0, 4}}},
        {u"2 5,9", {{2, 5}, {0, 9}}},
        {u"-3 TO -3", {{-3, -3}}},
        {u"-2147483648 To 2147483646", {{INT32_MIN, INT32_MAX - 1}}},
    };
    for (const Case& c : cases) {
        BoundsTable bounds;
        EXPECT_TRUE(modBounds::ParseBounds(c.text, bounds));
        EXPECT_EQ(bounds, c.expected);
        // And back: the formatted text parses to the same table.
        BoundsTable again;
        EXPECT_TRUE(modBounds::ParseBounds(modBounds::FormatBounds(bounds), again));
        EXPECT_EQ(again, bounds);
    }
}

TEST(Bounds, ParseRejectsMalformedTextAndLeavesTheTableAlone) {
    for (std::u16string_view text :
         {u"", u"  To ", u"5 To 1", u",1", u"1,", u"1,,2", u"1 2 3", u"1.5", u"&H10", u"1e3", u"0 To 2147483648",
          u"-2147483648 To 2147483647", u"\"5\"", u"\"5", u"x",
          u"1 To", u"2 To 3, 1 to ,4"}) {
        BoundsTable bounds{{4, 5}};
        EXPECT_FALSE(modBounds::ParseBounds(text, bounds)) << std::string(text.begin(), text.end());
        EXPECT_EQ(bounds, (BoundsTable{{4, 5}}));
    }
}

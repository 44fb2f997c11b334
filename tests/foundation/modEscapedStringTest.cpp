#include <gtest/gtest.h>

#include "foundation/modEscapedString.h"

using zephrin::modEscapedString::DecodeEscapedString;
using namespace std::string_view_literals;

TEST(EscapedString, DecodesEveryEscapeKind) {
    struct Case {
        std::u16string_view in, out;
    };
    const Case cases[] = {
        {u"", u""},
        {uR"(a\nb\T)", u"a\nb\t"},
        {uR"(\a\B\f\r\v)", u"\a\b\f\r\v"},
        {uR"(\0)", u"\0"sv},
        {uR"(\012x)", u"\nx"},
        {uR"(\101)", u"A"},
        {uR"(\d065\D06)", u"AD06"},
        {uR"(\x041\X04)", u"AX04"},
        {uR"(\xfff)", u"\u0fff"},
        {uR"(\q\8\\\")", u"q8\\\""},
        {uR"(end\)", u"end"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeEscapedString(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

// What the editors show of a stored string reads back as that string.
TEST(EscapedString, EncodedTextDecodesToTheOriginal) {
    for (std::u16string_view text : {uR"(C:\new\table\x041)"sv, u"a\nb\r\tc"sv, u"\0" "12\x1f\x7f end"sv, u"plain"sv}) {
        const std::u16string shown = zephrin::modEscapedString::EncodeEscapedString(text);
        EXPECT_EQ(DecodeEscapedString(shown), text) << std::string(shown.begin(), shown.end());
    }
    EXPECT_EQ(zephrin::modEscapedString::EncodeEscapedString(u"a\\b\n\0"sv), uR"(a\\b\n\x000)");
}

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

#include <gtest/gtest.h>

#include <cstring>

#include "platform/automation/BStr.h"

using namespace ole;

TEST(BStr, LengthPrefixAndTerminator) {
    BSTR b = SysAllocString(u"Hello");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(SysStringByteLen(b), 10u);
    ULONG prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(b[5], 0);
    SysFreeString(b);

    // Embedded NULs count; a null source gives zeroed characters.
    b = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(BstrView(b), std::u16string_view(u"a\0b", 3));
    SysFreeString(b);
    b = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(BstrView(b), std::u16string_view(u"\0\0\0\0", 4));
    SysFreeString(b);

    // Odd byte lengths keep their byte count.
    b = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    EXPECT_EQ(std::memcmp(b, "abc\0", 4), 0);
    SysFreeString(b);
}

TEST(BStr, NullIsTheEmptyString) {
    EXPECT_EQ(SysAllocString(static_cast<const OLECHAR*>(nullptr)), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(BStr(), BStr(u""));
    EXPECT_TRUE(BStr().Empty());
}

TEST(BStr, ReallocationMayReadFromItself) {
    BSTR b = SysAllocString(u"Hello world");
    ASSERT_EQ(SysReAllocStringLen(&b, b + 6, 5), 1);
    EXPECT_EQ(BstrView(b), u"world");
    ASSERT_EQ(SysReAllocString(&b, u"x"), 1);
    EXPECT_EQ(BstrView(b), u"x");
    SysFreeString(b);
    EXPECT_EQ(SysReAllocStringLen(nullptr, u"x", 1), 0);
}

TEST(BStr, OwnerCopiesMovesAndHandsOver) {
    BStr a(u"one");
    BStr b = a;
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a, b);
    BStr c = std::move(a);
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(c, u"one");
    BSTR raw = c.Detach();
    EXPECT_EQ(c.get(), nullptr);
    c.Attach(raw);
    EXPECT_EQ(c.str(), u"one");
    *c.put() = SysAllocString(u"two");  // put() frees the old value
    EXPECT_EQ(c.utf8(), "two");
    BSTR copy = c.Copy();
    EXPECT_NE(copy, c.get());
    SysFreeString(copy);
}

TEST(BStr, Utf8ConversionHandlesSurrogatesAndBadInput) {
    std::u16string text = u"A\u00E9\u20AC\U0001F600";
    std::string utf8 = ToUtf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(FromUtf8(utf8), text);
    EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(BStr, AnsiIsWindows1252) {
    EXPECT_EQ(ToAnsi(u"Caf\u00E9 \u20AC\u0141"), "Caf\xE9 \x80?");
    EXPECT_EQ(FromAnsi("Caf\xE9 \x80\x81"), u"Caf\u00E9 \u20AC\u0081");
}

#include <gtest/gtest.h>

#include "foundation/ErrorRecord.h"
#include "foundation/modStorableText.h"
#include "platform/automation/BStr.h"

namespace {

using namespace zephrin;
using namespace zephrin::modStorableText;

// Exactly the characters that the conversion to the code page keeps can be stored.
TEST(StorableText, EveryCharacterTheCodePageKeepsAndNoOther) {
    for (int c = 0; c < 0x10000; ++c) {
        const std::u16string one(1, static_cast<char16_t>(c));
        const bool kept = ole::FromAnsi(ole::ToAnsi(one)) == one;
        EXPECT_EQ(WhyUnstorableValue(one).empty(), kept) << std::hex << c;
        // A name or help text also ends at a NUL in the file.
        EXPECT_EQ(WhyUnstorable(one).empty(), kept && c != 0) << std::hex << c;
    }
    EXPECT_EQ(WhyUnstorable(std::u16string(u"a\0b", 3)).find(u"U+0000"), 14u);
    EXPECT_TRUE(WhyUnstorableValue(std::u16string(u"a\0b", 3)).empty());
}

TEST(StorableText, TheFirstCharacterThatCantBeStoredIsNamed) {
    EXPECT_EQ(FirstUnstorableChar(u"Größe € ‰ Œ ?"), u"");
    EXPECT_EQ(FirstUnstorableChar(u"FinЖЯ"), u"'Ж' (U+0416)");
    EXPECT_EQ(FirstUnstorableChar(u"a😀Ж"), u"'😀' (U+1F600)");
    EXPECT_NE(WhyUnstorable(u"FinЖ").find(u"'Ж' (U+0416)"), std::u16string::npos);
    try {
        RequireStorable(ole::Variant(u"日本").get());
        ADD_FAILURE();
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, kErrInvalidArgument);
        EXPECT_EQ(e.Description, WhyUnstorableValue(u"日本"));
    }
    RequireStorable(ole::Variant(int32_t{7}).get());
}

}  // namespace

// Custom-data value texts: each shown text reads back as the same value, in
// decimal and in hexadecimal; out-of-range text is refused, never wrapped;
// Decimal values a library file can't hold are refused with the reason.
#include <gtest/gtest.h>

#include "dialogs/CustDataValue.h"
#include "platform/automation/Variant.h"

namespace {

using namespace ole;
namespace Value = zephrin::dialogs::CustDataValue;

TEST(CustDataValue, ShownTextsConvertBackToTheSameValue) {
    struct Case {
        Variant value;
        std::u16string hex;
    };
    const Case cases[] = {
        {Variant(int16_t{-1}), u"&HFFFF"},      {Variant(int32_t{65535}), u"&HFFFF"},
        {Variant(int32_t{-1}), u"&HFFFFFFFF"},  {Variant(uint8_t{255}), u"&HFF"},
        {Variant(int32_t{0}), u"&H0"},           {Variant(2.5), u"2.5"},
        {Variant(u"C:\\new\\table"), u"C:\\\\new\\\\table"}, {Variant(u"a\tb"), u"a\\tb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Value::Format(c.value, true), c.hex);
        for (bool hex : {false, true}) {
            const auto parsed = Value::Parse(Value::Format(c.value, hex), Value::EditType(c.value.vt()));
            ASSERT_TRUE(parsed.Valid) << c.value.vt();
            if (c.value.vt() == VT_BSTR) {
                EXPECT_EQ(std::u16string(parsed.Value.get().bstrVal), std::u16string(c.value.get().bstrVal));
            } else {
                EXPECT_TRUE(VariantEqual(parsed.Value.get(), c.value.get())) << c.value.vt();
            }
        }
    }
}

TEST(CustDataValue, OutOfRangeAndUnwritableTextIsRefused) {
    EXPECT_FALSE(Value::Parse(u"&H10000", VT_I2).Valid);
    EXPECT_FALSE(Value::Parse(u"256", VT_UI1).Valid);
    EXPECT_FALSE(Value::Parse(u"&H100000000", VT_I4).Valid);
    EXPECT_FALSE(Value::Parse(u"x", VT_I4).Valid);
    EXPECT_EQ(Value::Parse(u"x", VT_I4).Why, u"");
    for (const char16_t* text : {u"-1.25", u"79228162514264337593543950335", u"-1"}) {
        const auto parsed = Value::Parse(text, VT_DECIMAL);
        EXPECT_FALSE(parsed.Valid);
        EXPECT_NE(parsed.Why, u"");
    }
    // A string is held in the file's code page: another character is named.
    for (const ole::VARTYPE vt : {Value::kLpStr, Value::kLpWStr}) {
        const auto parsed = Value::Parse(u"Größe € 日本語", vt);
        EXPECT_FALSE(parsed.Valid);
        EXPECT_NE(parsed.Why.find(u"'日' (U+65E5)"), std::u16string::npos);
        EXPECT_TRUE(Value::Parse(u"Größe € \\x", vt).Valid);
    }
    // An escape can give such a character too.
    EXPECT_FALSE(Value::Parse(u"\\x416", Value::kLpStr).Valid);
    const auto twelve = Value::Parse(u"12", VT_DECIMAL);
    ASSERT_TRUE(twelve.Valid);
    EXPECT_EQ(twelve.Value.get().decVal.Lo64, 12u);
}

}  // namespace

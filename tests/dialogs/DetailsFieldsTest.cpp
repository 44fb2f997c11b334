// The details fields' texts: each field's accepted and refused texts, and for
// every value type the shown text reading back as the same value.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "dialogs/CustDataValue.h"
#include "dialogs/modDetailsFields.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Variant.h"

namespace {

using namespace ole;
using namespace zephrin::dialogs::modDetailsFields;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// Bitwise equality, so that -0 and 0 differ and NaN equals itself.
template <class Real>
bool SameBits(Real a, Real b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(DetailsFields, Integers) {
    struct Case {
        const char16_t* text;
        bool valid16;
        int16_t value16;
        bool valid32;
        int32_t value32;
    };
    const Case cases[] = {
        {u"0", true, 0, true, 0},
        {u"-32768", true, -32768, true, -32768},
        {u"32768", false, 0, true, 32768},
        {u"&H10", true, 16, true, 16},
        {u"&hff", true, 255, true, 255},
        {u"&HFFFF", true, -1, true, 65535},
        {u"&H10000", false, 0, true, 65536},
        {u"&HFFFFFFFF", false, 0, true, -1},
        {u"&H100000000", false, 0, false, 0},
        {u"2147483648", false, 0, false, 0},
        {u" 12 ", true, 12, true, 12},
        {u"1.0", true, 1, true, 1},
        // A fraction would be rounded: refused.
        {u"1.5", false, 0, false, 0},
        {u"0.5", false, 0, false, 0},
        {u"", false, 0, false, 0},
        {u"&H", false, 0, false, 0},
        {u"abc", false, 0, false, 0},
        {u"1x", false, 0, false, 0},
    };
    for (const Case& c : cases) {
        const auto p16 = ParseInt16(c.text);
        const auto p32 = ParseInt32(c.text);
        EXPECT_EQ(p16.Valid, c.valid16) << Narrow(c.text);
        EXPECT_EQ(p32.Valid, c.valid32) << Narrow(c.text);
        if (c.valid16) {
            EXPECT_EQ(p16.Value, c.value16) << Narrow(c.text);
        }
        if (c.valid32) {
            EXPECT_EQ(p32.Value, c.value32) << Narrow(c.text);
        }
    }
    EXPECT_EQ(FormatHex(0), u"&H0");
    EXPECT_EQ(FormatHex(0xABCDEF01u), u"&HABCDEF01");
}

TEST(DetailsFields, Versions) {
    for (const char16_t* text : {u"1.0", u"&H1.2", u"0.0", u"32767.32767", u" 2 . 3 "})
        EXPECT_TRUE(ParseVersion(text).Valid) << Narrow(text);
    const auto hex = ParseVersion(u"&H1.2");
    EXPECT_EQ(hex.Value.Major, 1);
    EXPECT_EQ(hex.Value.Minor, 2);
    for (const char16_t* text :
         {u"1", u"1.", u".1", u"1.2.3", u"-1.0", u"1.-2", u"32768.0", u"32767.65535", u"65535.0", u"&HFFFF.0", u"", u".", u"a.b"})
        EXPECT_FALSE(ParseVersion(text).Valid) << Narrow(text);

    for (const auto& [major, minor] : {std::pair<int16_t, int16_t>{1, 0}, {0, 0}, {32767, 32767}, {12, 345}}) {
        const auto back = ParseVersion(FormatVersion(major, minor));
        ASSERT_TRUE(back.Valid);
        EXPECT_EQ(back.Value.Major, major);
        EXPECT_EQ(back.Value.Minor, minor);
    }
    EXPECT_EQ(FormatVersion(1, 0), u"1.0");
}

TEST(DetailsFields, Lcids) {
    // Decimal and hexadecimal name the same locale.
    for (const char16_t* text : {u"1033", u"&H409"}) {
        const auto p = ParseLcid(text, 0);
        ASSERT_TRUE(p.Valid) << Narrow(text);
        EXPECT_EQ(p.Value, 1033u);
    }
    // The fixed locales, known languages and neutral languages.
    for (LCID lcid : {0x0u, 0x7Fu, 0x400u, 0x800u, 0x407u, 0x809u, 0x804u, 0x5C0Au, 0x7u, 0x9u})
        EXPECT_TRUE(ParseLcid(FormatLcid(lcid), 0).Valid) << lcid;
    // Not numbers, unknown languages, sort orders and out of range.
    for (const char16_t* text : {u"abc", u"", u"1.5", u"&H3FF", u"&H2FF", u"&H10409", u"&H7FF", u"4294967296"})
        EXPECT_FALSE(ParseLcid(text, 0).Valid) << Narrow(text);
    // The value the field was filled with always reads back, whatever it is.
    for (LCID filled : {0x3FFu, 0x10409u, 0xFFFFFFFFu, 0x12345678u}) {
        const auto p = ParseLcid(FormatLcid(filled), filled);
        ASSERT_TRUE(p.Valid) << filled;
        EXPECT_EQ(p.Value, filled);
        EXPECT_FALSE(ParseLcid(FormatLcid(filled), 0x409).Valid) << filled;
    }
    EXPECT_EQ(FormatLcid(0), u"&H0");
    EXPECT_EQ(FormatLcid(0x409), u"&H409");
    EXPECT_EQ(FormatLcid(0xFFFFFFFF), u"&HFFFFFFFF");
}

TEST(DetailsFields, MemberIds) {
    const auto none = ParseMemberId(u"");
    ASSERT_TRUE(none.Valid);
    EXPECT_EQ(none.Value, -1);
    EXPECT_EQ(ParseMemberId(u"&H60020000").Value, 0x60020000);
    EXPECT_EQ(ParseMemberId(u"-4").Value, -4);
    for (const char16_t* text : {u"x", u"1.5", u"2147483648", u"&H100000000", u" "})
        EXPECT_FALSE(ParseMemberId(text).Valid) << Narrow(text);

    EXPECT_EQ(FormatMemberId(0, true, true), u"0");
    EXPECT_EQ(FormatMemberId(-1, false, true), u"&HFFFFFFFF");
    EXPECT_EQ(FormatMemberId(-1, true, false), u"-1");
    EXPECT_EQ(FormatMemberId(0x60020000, true, false), u"&H60020000");
    EXPECT_EQ(FormatMemberId(1610743808, false, true), u"1610743808");
    for (MEMBERID id : {0, 1, -1, -4, 0x60020000, INT32_MIN, INT32_MAX})
        for (bool pos : {false, true})
            for (bool neg : {false, true}) {
                const auto back = ParseMemberId(FormatMemberId(id, pos, neg));
                ASSERT_TRUE(back.Valid) << id;
                EXPECT_EQ(back.Value, id);
            }
}

// One value of every type a constant or default value can hold, shown in
// decimal and hexadecimal and read back as the same value.
TEST(DetailsFields, ValuesOfEveryTypeReadBackAsShown) {
    DECIMAL big{};
    big.Lo64 = UINT64_MAX;
    DateParts when{2026, 12, 7, 8, 30, 15};
    DATE date = 0;
    ASSERT_TRUE(DateFromParts(when, &date));
    const Variant values[] = {
        Variant(int16_t{-1}),         Variant(int16_t{32767}),      Variant(int32_t{-1}),
        Variant(int32_t{INT32_MIN}),  Variant(uint8_t{255}),        Variant(int8_t{-128}),
        Variant(uint16_t{65535}),     Variant(uint32_t{UINT32_MAX}), Variant(int64_t{INT64_MIN}),
        Variant(uint64_t{UINT64_MAX}), Variant::Int(-7),            Variant::UInt(UINT32_MAX),
        Variant(true),                Variant(false),               Variant::Currency(-9223372036854775807LL),
        Variant(big),                 Variant::Date(date),          Variant(0.1),
        Variant(DBL_MAX),             Variant(-DBL_MIN),            Variant(4.9e-324),
        Variant(1e16),                Variant(123456789.125),       Variant(-0.0),
        Variant(0.1f),                Variant(FLT_MAX),             Variant(1.17549435e-38f),
        Variant(16777217.0f),         Variant(3.4e-45f),            Variant(u"C:\\new\\table\t\"x\""),
        Variant(u""),
    };
    for (const Variant& value : values) {
        for (bool hex : {false, true}) {
            const std::u16string text = FormatValue(value, hex);
            const auto back = ParseConstValue(text, value.vt());
            ASSERT_TRUE(back.Valid) << value.vt() << " " << Narrow(text);
            ASSERT_EQ(back.Value.vt(), value.vt()) << Narrow(text);
            if (value.vt() == VT_R8)
                EXPECT_TRUE(SameBits(back.Value.get().dblVal, value.get().dblVal)) << Narrow(text);
            else if (value.vt() == VT_R4)
                EXPECT_TRUE(SameBits(back.Value.get().fltVal, value.get().fltVal)) << Narrow(text);
            else
                EXPECT_TRUE(VariantEqual(back.Value.get(), value.get())) << value.vt() << " " << Narrow(text);
            // Default values read the same way.
            const auto asDefault = ParseDefaultValue(text, value.vt());
            if (!text.empty()) {
                EXPECT_TRUE(VariantEqual(asDefault.Value.get(), back.Value.get())) << Narrow(text);
            }
        }
    }
}

TEST(DetailsFields, ValueTextsShown) {
    EXPECT_EQ(FormatValue(Variant(DBL_MAX), false), u"1.7976931348623157E+308");
    EXPECT_EQ(FormatValue(Variant(0.1), false), u"0.1");
    EXPECT_EQ(FormatValue(Variant(0.1f), false), u"0.1");
    EXPECT_EQ(FormatValue(Variant(2.5), true), u"2.5");  // no hexadecimal Double
    // Hexadecimal: upper-case digits, only 16-bit, 32-bit, byte and VT_INT values.
    EXPECT_EQ(FormatValue(Variant(int16_t{-1}), true), u"&HFFFF");
    EXPECT_EQ(FormatValue(Variant(int32_t{0xABC}), true), u"&HABC");
    EXPECT_EQ(FormatValue(Variant(uint8_t{255}), true), u"&HFF");
    EXPECT_EQ(FormatValue(Variant::Int(-1), true), u"&HFFFFFFFF");
    EXPECT_EQ(FormatValue(Variant(int32_t{0}), true), u"&H0");
    EXPECT_EQ(FormatValue(Variant(uint16_t{65535}), true), u"65535");
    EXPECT_EQ(FormatValue(Variant(uint32_t{16}), true), u"16");
    EXPECT_EQ(FormatValue(Variant(int64_t{16}), true), u"16");
    EXPECT_EQ(FormatValue(Variant(int32_t{-5}), false), u"-5");
    EXPECT_TRUE(CanShowHex(VT_INT));
    EXPECT_FALSE(CanShowHex(VT_I1));
    EXPECT_EQ(FormatValue(Variant(u"a\tb"), false), u"a\\tb");
}

TEST(DetailsFields, RealsReadBackBitForBit) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = random();
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        const auto back = ParseConstValue(FormatValue(Variant(d), false), VT_R8);
        ASSERT_TRUE(back.Valid) << d;
        ASSERT_TRUE(SameBits(back.Value.get().dblVal, d)) << Narrow(FormatValue(Variant(d), false));
        const auto fbits = static_cast<uint32_t>(bits >> 17);
        float f = 0;
        std::memcpy(&f, &fbits, sizeof f);
        if (!std::isfinite(f)) continue;
        const auto fback = ParseConstValue(FormatValue(Variant(f), false), VT_R4);
        ASSERT_TRUE(fback.Valid) << f;
        ASSERT_TRUE(SameBits(fback.Value.get().fltVal, f)) << Narrow(FormatValue(Variant(f), false));
    }
}

// Infinities and NaN are shown by name, and read back as what they name.
TEST(DetailsFields, NonFiniteRealsReadBackAsShown) {
    const double inf = std::numeric_limits<double>::infinity();
    const float finf = std::numeric_limits<float>::infinity();
    const std::pair<Variant, const char16_t*> cases[] = {
        {Variant(inf), u"INF"},   {Variant(-inf), u"-INF"},   {Variant(std::nan("")), u"NAN"},
        {Variant(finf), u"INF"},  {Variant(-finf), u"-INF"},  {Variant(std::nanf("")), u"NAN"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatValue(value, false), text);
        const auto back = ParseConstValue(text, value.vt());
        ASSERT_TRUE(back.Valid) << Narrow(text);
        ASSERT_EQ(back.Value.vt(), value.vt());
        if (value.vt() == VT_R8)
            EXPECT_TRUE(SameBits(back.Value.get().dblVal, value.get().dblVal) ||
                        (std::isnan(back.Value.get().dblVal) && std::isnan(value.get().dblVal)))
                << Narrow(text);
        else
            EXPECT_TRUE(SameBits(back.Value.get().fltVal, value.get().fltVal) ||
                        (std::isnan(back.Value.get().fltVal) && std::isnan(value.get().fltVal)))
                << Narrow(text);
    }
}

TEST(DetailsFields, ConstantAndDefaultValues) {
    // An enum value is a Long.
    const auto sixteen = ParseConstValue(u"&H10", VT_I4);
    ASSERT_TRUE(sixteen.Valid);
    EXPECT_EQ(sixteen.Value.vt(), VT_I4);
    EXPECT_EQ(sixteen.Value.get().lVal, 16);
    EXPECT_FALSE(ParseConstValue(u"abc", VT_I4).Valid);
    EXPECT_FALSE(ParseConstValue(u"", VT_I4).Valid);
    EXPECT_FALSE(ParseConstValue(u"2147483648", VT_I4).Valid);

    // LPSTR and LPWSTR constants take any text, escapes decoded, as a String.
    for (VARTYPE vt : {VARTYPE{VT_LPSTR}, VARTYPE{VT_LPWSTR}, VARTYPE{VT_BSTR}}) {
        const auto text = ParseConstValue(u"a\\tb", vt);
        ASSERT_TRUE(text.Valid);
        ASSERT_EQ(text.Value.vt(), VT_BSTR);
        EXPECT_EQ(std::u16string(text.Value.get().bstrVal), u"a\tb");
        EXPECT_TRUE(ParseConstValue(u"", vt).Valid);
    }
    EXPECT_EQ(ValueType(VT_LPSTR), VT_BSTR);
    EXPECT_EQ(ValueType(VT_I2), VT_I2);

    // Out of each type's range, or what a library file can't hold.
    EXPECT_FALSE(ParseConstValue(u"1e39", VT_R4).Valid);
    EXPECT_FALSE(ParseConstValue(u"1e309", VT_R8).Valid);
    EXPECT_FALSE(ParseConstValue(u"256", VT_UI1).Valid);
    EXPECT_FALSE(ParseConstValue(u"-1", VT_UI4).Valid);
    EXPECT_FALSE(ParseConstValue(u"1.25", VT_DECIMAL).Valid);
    // A Currency's fifth decimal place would be rounded away; trailing zeros are none.
    EXPECT_FALSE(ParseConstValue(u"0.00005", VT_CY).Valid);
    EXPECT_FALSE(ParseDefaultValue(u"1.23456", VT_CY).Valid);
    EXPECT_EQ(ParseConstValue(u"1.234500", VT_CY).Value.get().cyVal.int64, 12345);
    // Nor when more digits follow than a Decimal holds, which would round them
    // away before the places are counted; an exponent counts.
    EXPECT_FALSE(ParseConstValue(u"1.00000000000000000000000000001", VT_CY).Valid);
    EXPECT_FALSE(ParseConstValue(u"0.000000000000000000000000000001", VT_CY).Valid);
    EXPECT_FALSE(ParseInt32(u"1.00000000000000000000000000001").Valid);
    EXPECT_EQ(ParseConstValue(u"1.23456E+2", VT_CY).Value.get().cyVal.int64, 1234560);
    // A fraction for a whole-number type would be rounded: refused, in custom data too.
    EXPECT_FALSE(ParseConstValue(u"1.5", VT_I4).Valid);
    EXPECT_FALSE(ParseDefaultValue(u"2.5", VT_UI1).Valid);
    EXPECT_FALSE(zephrin::dialogs::CustDataValue::Parse(u"0.5", VT_I8).Valid);
    EXPECT_EQ(ParseConstValue(u"1.5E+1", VT_I2).Value.get().iVal, 15);
    EXPECT_FALSE(ParseConstValue(u"maybe", VT_BOOL).Valid);
    // A type without a value type of its own would turn every text into Empty.
    EXPECT_FALSE(ParseConstValue(u"5", VT_EMPTY).Valid);
    EXPECT_FALSE(ParseDefaultValue(u"5", VT_EMPTY).Valid);
    EXPECT_FALSE(ParseConstValue(u"5", VT_VARIANT).Valid);
    // Other number forms the platform reads.
    EXPECT_EQ(ParseConstValue(u"1,000", VT_I4).Value.get().lVal, 1000);
    EXPECT_EQ(ParseConstValue(u"True", VT_BOOL).Value.get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(ParseConstValue(u"&H10", VT_R8).Value.get().dblVal, 16.0);
    EXPECT_EQ(ParseConstValue(u"+2.5", VT_R4).Value.get().fltVal, 2.5f);

    // An empty default value clears it and is never invalid.
    for (VARTYPE vt : {VARTYPE{VT_I4}, VARTYPE{VT_R8}, VARTYPE{VT_LPWSTR}, VARTYPE{VT_DATE}}) {
        const auto empty = ParseDefaultValue(u"", vt);
        ASSERT_TRUE(empty.Valid);
        EXPECT_EQ(empty.Value.vt(), VT_EMPTY);
    }
    EXPECT_EQ(ParseDefaultValue(u"5", VT_I2).Value.get().iVal, 5);
    EXPECT_FALSE(ParseDefaultValue(u"x", VT_I2).Valid);

    // A Variant's default: the type of the value held, else a number, else a String.
    const struct {
        const char16_t* text;
        VARTYPE held;
        VARTYPE vt;
    } variants[] = {
        {u"5", VT_I2, VT_I2},       {u"5", VT_EMPTY, VT_I4},   {u"5", VT_BSTR, VT_BSTR},  {u"2.5", VT_I4, VT_R8},
        {u"2.5", VT_R4, VT_R4},     {u"2.5", VT_EMPTY, VT_R8}, {u"x", VT_I4, VT_BSTR},   {u"x", VT_EMPTY, VT_BSTR},
        {u"5e300", VT_EMPTY, VT_R8}, {u"True", VT_BOOL, VT_BOOL}, {u"&H10", VT_NULL, VT_I4},
    };
    for (const auto& c : variants) {
        const auto parsed = ParseDefaultValue(c.text, VT_VARIANT, c.held);
        EXPECT_TRUE(parsed.Valid) << ole::ToUtf8(c.text);
        EXPECT_EQ(parsed.Value.vt(), c.vt) << ole::ToUtf8(c.text) << " held as " << c.held;
    }
    EXPECT_EQ(std::u16string(ole::BstrView(ParseDefaultValue(u"a\\tb", VT_VARIANT).Value.get().bstrVal)), u"a\tb");
    EXPECT_TRUE(ParseDefaultValue(u"", VT_VARIANT, VT_I4).Valid);
    EXPECT_EQ(ParseDefaultValue(u"", VT_VARIANT, VT_I4).Value.vt(), VT_EMPTY);
}

TEST(DetailsFields, DllNamesAndEntries) {
    for (const char16_t* name : {u"kernel32.dll", u"my lib.dll", u"a"}) EXPECT_TRUE(IsValidDllName(name));
    for (const char16_t* name : {u"", u" kernel32.dll", u"kernel32.dll ", u"\tx"}) EXPECT_FALSE(IsValidDllName(name));

    struct Case {
        const char16_t* text;
        int16_t ordinal;  // the 16 bits stored
    };
    for (const Case c : {Case{u"#12", 12}, Case{u"#1", 1}, Case{u"#65535", -1}, Case{u"#32768", -32768},
                         Case{u"#&H10", 16}}) {
        const auto entry = ParseDllEntry(c.text);
        ASSERT_TRUE(entry.Valid) << Narrow(c.text);
        ASSERT_EQ(entry.Value.vt(), VT_I2);
        EXPECT_EQ(entry.Value.get().iVal, c.ordinal);
    }
    for (const char16_t* text : {u"#", u"#x", u"#0", u"#-5", u"#65536", u"#1.5", u"", u"Get Value", u"# 12", u"Beep "})
        EXPECT_FALSE(ParseDllEntry(text).Valid) << Narrow(text);
    const auto name = ParseDllEntry(u"Beep");
    ASSERT_TRUE(name.Valid);
    ASSERT_EQ(name.Value.vt(), VT_BSTR);
    EXPECT_EQ(std::u16string(name.Value.get().bstrVal), u"Beep");

    // Shown unsigned, and read back as the same 16 bits.
    EXPECT_EQ(FormatDllEntry(Variant(int16_t{12})), u"#12");
    EXPECT_EQ(FormatDllEntry(Variant(int16_t{-1})), u"#65535");
    EXPECT_EQ(FormatDllEntry(Variant(u"Beep")), u"Beep");
    for (int bits = 1; bits <= 0xFFFF; bits += 97) {
        const Variant ordinal(static_cast<int16_t>(bits));
        const auto back = ParseDllEntry(FormatDllEntry(ordinal));
        ASSERT_TRUE(back.Valid) << bits;
        EXPECT_TRUE(VariantEqual(back.Value.get(), ordinal.get())) << bits;
    }
}

TEST(DetailsFields, HelpContextsAndFiles) {
    const auto top = ParseHelpContext(u"4294967295");
    ASSERT_TRUE(top.Valid);
    EXPECT_EQ(static_cast<int32_t>(top.Value), -1);
    EXPECT_EQ(FormatHelpContext(static_cast<uint32_t>(-1)), u"4294967295");
    EXPECT_EQ(ParseHelpContext(u"&HFFFFFFFF").Value, 0xFFFFFFFFu);
    EXPECT_EQ(ParseHelpContext(u"0").Value, 0u);
    for (const char16_t* text : {u"-1", u"1.5", u"", u"4294967296", u"x", u"0.4"})
        EXPECT_FALSE(ParseHelpContext(text).Valid) << Narrow(text);
    for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        const auto back = ParseHelpContext(FormatHelpContext(value));
        ASSERT_TRUE(back.Valid);
        EXPECT_EQ(back.Value, value);
    }

    EXPECT_TRUE(IsValidHelpFile(u""));
    EXPECT_TRUE(IsValidHelpFile(u"my help.chm"));
    EXPECT_FALSE(IsValidHelpFile(u" help.chm"));
    EXPECT_FALSE(IsValidHelpFile(u"help.chm "));
}

// The custom-data editor shows and reads values the same way.
TEST(DetailsFields, CustomDataValuesUseTheSameTexts) {
    namespace Value = zephrin::dialogs::CustDataValue;
    for (const Variant& value : {Variant(DBL_MAX), Variant(0.1), Variant(0.1f), Variant(int16_t{-1})}) {
        EXPECT_EQ(Value::Format(value, true), FormatValue(value, true));
        const auto back = Value::Parse(Value::Format(value, false), value.vt());
        ASSERT_TRUE(back.Valid);
        EXPECT_TRUE(VariantEqual(back.Value.get(), value.get()));
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>
#include <limits>

#include "platform/automation/Variant.h"

using namespace ole;

namespace {

struct Converted {
    HRESULT hr;
    Variant value;
};

Converted Convert(const Variant& v, VARTYPE vt, USHORT flags = 0) {
    Converted c{S_OK, Variant()};
    c.hr = VariantChangeType(c.value.ptr(), v.ptr(), flags, vt);
    return c;
}

// The text a value becomes, or "<error>" when the conversion fails.
std::string Text(const Variant& v, USHORT flags = 0) {
    Converted c = Convert(v, VT_BSTR, flags);
    if (FAILED(c.hr)) return "<error>";
    return ToUtf8(BstrView(c.value.get().bstrVal));
}

HRESULT FromText(const char16_t* text, VARTYPE vt, VARIANT* out) {
    Variant src(text);
    VariantInit(out);
    return VariantChangeType(out, src.ptr(), 0, vt);
}

int64_t TextToInt(const char16_t* text, VARTYPE vt, HRESULT* hr) {
    VARIANT v;
    *hr = FromText(text, vt, &v);
    if (FAILED(*hr)) return 0;
    switch (vt) {
        case VT_I1: return static_cast<int8_t>(v.cVal);
        case VT_UI1: return v.bVal;
        case VT_I2: return v.iVal;
        case VT_UI2: return v.uiVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_I8: return v.llVal;
        case VT_BOOL: return v.boolVal;
        case VT_CY: return v.cyVal.int64;
        default: return 0;
    }
}

const char* TargetName(VARTYPE vt) {
    switch (vt) {
        case VT_I1: return "I1";
        case VT_UI1: return "UI1";
        case VT_I2: return "I2";
        case VT_UI4: return "UI4";
        case VT_I8: return "I8";
        case VT_BOOL: return "BOOL";
        case VT_CY: return "CY";
        default: return "I4";
    }
}

DATE MakeDate(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    DateParts p;
    p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s;
    DATE out = 0;
    EXPECT_TRUE(DateFromParts(p, &out));
    return out;
}

}  // namespace

struct IntCase {
    const char16_t* text;
    VARTYPE vt;
    HRESULT hr;
    int64_t value;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << ToUtf8(c.text) << "\" to " << TargetName(c.vt); }

class TextToInteger : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToInteger, FollowsThePlatformsRules) {
    const IntCase& c = GetParam();
    HRESULT hr;
    int64_t value = TextToInt(c.text, c.vt, &hr);
    EXPECT_EQ(hr, c.hr) << ToUtf8(c.text) << " -> vt " << c.vt;
    if (SUCCEEDED(c.hr)) {
        EXPECT_EQ(value, c.value) << ToUtf8(c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TextToInteger,
    ::testing::Values(
        IntCase{u"42", VT_I4, S_OK, 42}, IntCase{u"  42\t", VT_I4, S_OK, 42}, IntCase{u"-5", VT_I4, S_OK, -5},
        IntCase{u"+5", VT_I4, S_OK, 5}, IntCase{u"5-", VT_I4, S_OK, -5}, IntCase{u"(5)", VT_I4, S_OK, -5},
        IntCase{u"1,000", VT_I4, S_OK, 1000}, IntCase{u"$12", VT_I4, S_OK, 12}, IntCase{u"1e3", VT_I4, S_OK, 1000},
        IntCase{u"1.5E+1", VT_I4, S_OK, 15}, IntCase{u"007", VT_I2, S_OK, 7},
        // banker's rounding
        IntCase{u"2.5", VT_I4, S_OK, 2}, IntCase{u"3.5", VT_I4, S_OK, 4}, IntCase{u"-2.5", VT_I4, S_OK, -2},
        IntCase{u"2.500001", VT_I4, S_OK, 3}, IntCase{u"0.5", VT_I4, S_OK, 0}, IntCase{u"0.05", VT_I4, S_OK, 0},
        // hexadecimal and octal: bit patterns of the target's size
        IntCase{u"&H10", VT_I4, S_OK, 16}, IntCase{u"&hff", VT_I4, S_OK, 255}, IntCase{u"&HFFFF", VT_I2, S_OK, -1},
        IntCase{u"&HFFFF", VT_I4, S_OK, 65535}, IntCase{u"&HFFFFFFFF", VT_I4, S_OK, -1},
        IntCase{u"&H10000", VT_I2, DISP_E_OVERFLOW, 0}, IntCase{u"&HFF", VT_UI1, S_OK, 255},
        IntCase{u"&HFF", VT_I1, S_OK, -1}, IntCase{u"&O17", VT_I4, S_OK, 15}, IntCase{u"&o177777", VT_I2, S_OK, -1},
        IntCase{u"&H1", VT_I2, S_OK, 1}, IntCase{u"-&H10", VT_I4, S_OK, -16},
        IntCase{u"&H10000000000000000", VT_I8, DISP_E_OVERFLOW, 0},
        // ranges
        IntCase{u"32767", VT_I2, S_OK, 32767}, IntCase{u"32768", VT_I2, DISP_E_OVERFLOW, 0},
        IntCase{u"-32768", VT_I2, S_OK, -32768}, IntCase{u"40000", VT_I2, DISP_E_OVERFLOW, 0},
        IntCase{u"255", VT_UI1, S_OK, 255}, IntCase{u"256", VT_UI1, DISP_E_OVERFLOW, 0},
        IntCase{u"-1", VT_UI1, DISP_E_OVERFLOW, 0}, IntCase{u"4294967295", VT_UI4, S_OK, 4294967295},
        IntCase{u"9223372036854775807", VT_I8, S_OK, std::numeric_limits<int64_t>::max()},
        IntCase{u"9223372036854775808", VT_I8, DISP_E_OVERFLOW, 0}, IntCase{u"1e40", VT_I4, DISP_E_OVERFLOW, 0},
        // bad text
        IntCase{u"", VT_UI4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"   ", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"abc", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"1.2.3", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"&H", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"&HG", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"&O8", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"1e", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"--1", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u"(5", VT_I4, DISP_E_TYPEMISMATCH, 0},
        IntCase{u",5", VT_I4, DISP_E_TYPEMISMATCH, 0}, IntCase{u".", VT_I4, DISP_E_TYPEMISMATCH, 0},
        // booleans and currency
        IntCase{u"True", VT_BOOL, S_OK, -1}, IntCase{u" false ", VT_BOOL, S_OK, 0}, IntCase{u"TRUE", VT_BOOL, S_OK, -1},
        IntCase{u"2", VT_BOOL, S_OK, -1}, IntCase{u"0", VT_BOOL, S_OK, 0}, IntCase{u"&H0", VT_BOOL, S_OK, 0},
        IntCase{u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, 0}, IntCase{u"#TRUE#", VT_BOOL, S_OK, -1}, IntCase{u"#false#", VT_BOOL, S_OK, 0},
        IntCase{u"#TRUE", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        IntCase{u"1.23456", VT_CY, S_OK, 12346}, IntCase{u"0.00005", VT_CY, S_OK, 0},
        IntCase{u"0.00015", VT_CY, S_OK, 2}, IntCase{u"-1.5", VT_CY, S_OK, -15000},
        IntCase{u"922337203685477.5807", VT_CY, S_OK, std::numeric_limits<int64_t>::max()},
        IntCase{u"922337203685478", VT_CY, DISP_E_OVERFLOW, 0}),
    // "<index>_<target>_<text with other characters as _>", e.g. 12_I4_2_5.
    [](const ::testing::TestParamInfo<IntCase>& info) {
        std::string name = std::to_string(info.index) + "_" + TargetName(info.param.vt) + "_";
        for (char c : ToUtf8(info.param.text)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// Texts below were checked against the platform's own conversion.
TEST(VariantChangeType, NumbersBecomeThePlatformsText) {
    EXPECT_EQ(Text(Variant(1.5)), "1.5");
    EXPECT_EQ(Text(Variant(1e20)), "1E+20");
    EXPECT_EQ(Text(Variant(1e15)), "1E+15");
    EXPECT_EQ(Text(Variant(123456789012345.0)), "123456789012345");
    EXPECT_EQ(Text(Variant(123456789012345678.0)), "1.23456789012346E+17");
    EXPECT_EQ(Text(Variant(0.1 + 0.2)), "0.3");
    EXPECT_EQ(Text(Variant(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(Text(Variant(0.0001)), "0.0001");
    EXPECT_EQ(Text(Variant(0.00001)), "1E-05");
    EXPECT_EQ(Text(Variant(-2.5)), "-2.5");
    EXPECT_EQ(Text(Variant(-0.0)), "0");
    EXPECT_EQ(Text(Variant(1.5e-300)), "1.5E-300");
    EXPECT_EQ(Text(Variant(100.0)), "100");
    EXPECT_EQ(Text(Variant(1.1f)), "1.1");
    EXPECT_EQ(Text(Variant(1e10f)), "1E+10");
    EXPECT_EQ(Text(Variant(int32_t{-5})), "-5");
    EXPECT_EQ(Text(Variant(int8_t{-1})), "-1");
    EXPECT_EQ(Text(Variant(std::numeric_limits<uint64_t>::max())), "18446744073709551615");
    EXPECT_EQ(Text(Variant::Currency(15000)), "1.5");
    EXPECT_EQ(Text(Variant::Currency(20000)), "2");
    EXPECT_EQ(Text(Variant::Currency(-1)), "-0.0001");
    EXPECT_EQ(Text(Variant(true)), "-1");
    EXPECT_EQ(Text(Variant(false)), "0");
    EXPECT_EQ(Text(Variant(true), VARIANT_ALPHABOOL), "True");
    EXPECT_EQ(Text(Variant(false), VARIANT_ALPHABOOL), "False");
    VARIANT odd;
    VariantInit(&odd);
    odd.vt = VT_BOOL;
    odd.boolVal = 2;
    EXPECT_EQ(Text(Variant(odd)), "2");
    EXPECT_EQ(Text(Variant(odd), VARIANT_ALPHABOOL), "True");
    EXPECT_EQ(Text(Variant(std::nan(""))), "NAN");
    EXPECT_EQ(Text(Variant(-HUGE_VAL)), "-INF");
    EXPECT_EQ(Text(Variant(5e-324)), "4.94065645841247E-324");
    EXPECT_EQ(Text(Variant(1.7976931348623157e308)), "1.79769313486232E+308");
    EXPECT_EQ(Text(Variant(999999999999999.9)), "1E+15");
    EXPECT_EQ(Text(Variant(3.4e38f)), "3.4E+38");
    EXPECT_EQ(Text(Variant(16777216.0f)), "1.677722E+07");
    EXPECT_EQ(Text(Variant::Currency(std::numeric_limits<int64_t>::min())), "-922337203685477.5808");
    EXPECT_EQ(Text(Variant()), "");
    EXPECT_EQ(Text(Variant::Null()), "<error>");
    EXPECT_EQ(Text(Variant::Error(5)), "<error>");
    DECIMAL d{};
    ASSERT_EQ(DecimalFromText(u"-0.50", &d), S_OK);
    EXPECT_EQ(Text(Variant(d)), "-0.5");
}

TEST(VariantChangeType, DatesUseTheUsShortFormats) {
    EXPECT_EQ(Text(Variant::Date(MakeDate(1999, 12, 31, 15, 4, 5))), "12/31/1999 3:04:05 PM");
    EXPECT_EQ(Text(Variant::Date(MakeDate(1999, 12, 31))), "12/31/1999");
    EXPECT_EQ(Text(Variant::Date(0.5)), "12:00:00 PM");
    EXPECT_EQ(Text(Variant::Date(0.0)), "12:00:00 AM");
    EXPECT_EQ(Text(Variant::Date(-1.25)), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(Text(Variant::Date(MakeDate(2026, 1, 2, 0, 0, 1))), "1/2/2026 12:00:01 AM");
    EXPECT_EQ(MakeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(Text(Variant::Date(-657434.0)), "1/1/100");
    EXPECT_EQ(Text(Variant::Date(-657434.5)), "1/1/100 12:00:00 PM");
    EXPECT_EQ(Text(Variant::Date(2958465.9999)), "12/31/9999 11:59:51 PM");
    EXPECT_EQ(Text(Variant::Date(2958466.0)), "<error>");
    EXPECT_EQ(Text(Variant::Date(-0.25)), "6:00:00 AM");
    // Rounding to the second moves the day but not the choice of form.
    EXPECT_EQ(Text(Variant::Date(0.99999999)), "12:00:00 AM");
    EXPECT_EQ(Text(Variant::Date(1.999999999)), "1/1/1900 12:00:00 AM");
    EXPECT_EQ(Text(Variant::Date(-1.999999999)), "12/30/1899 12:00:00 AM");
    EXPECT_EQ(Text(Variant::Date(1e7)), "<error>");

    struct {
        const char16_t* text;
        DATE expected;
    } parsed[] = {
        {u"12/31/1999 3:04:05 PM", MakeDate(1999, 12, 31, 15, 4, 5)},
        {u"3:04:05 PM 12/31/1999", MakeDate(1999, 12, 31, 15, 4, 5)},
        {u"1999-12-31", MakeDate(1999, 12, 31)},
        {u"Dec 31, 1999", MakeDate(1999, 12, 31)},
        {u"Friday, December 31, 1999", MakeDate(1999, 12, 31)},
        {u"31 December 1999 15:04", MakeDate(1999, 12, 31, 15, 4)},
        {u"31/12/1999", MakeDate(1999, 12, 31)},
        {u"1/2/99", MakeDate(1999, 1, 2)},
        {u"1/2/29", MakeDate(2029, 1, 2)},
        {u"1/2/30", MakeDate(1930, 1, 2)},
        {u"15:04", MakeDate(1899, 12, 30, 15, 4)},
        {u"3 PM", 0.625},
        {u"12:00:00 AM", 0.0},
    };
    for (const auto& c : parsed) {
        VARIANT v;
        ASSERT_EQ(FromText(c.text, VT_DATE, &v), S_OK) << ToUtf8(c.text);
        EXPECT_DOUBLE_EQ(v.date, c.expected) << ToUtf8(c.text);
    }
    for (const char16_t* bad : {u"", u"hello", u"2/30/2000", u"13:00 PM", u"25:00", u"12", u"1/2/3/4", u"PM", u"12::30", u"1/2/2000 :"}) {
        VARIANT v;
        EXPECT_EQ(FromText(bad, VT_DATE, &v), DISP_E_TYPEMISMATCH) << ToUtf8(bad);
    }
    // Text and back gives the same moment.
    DATE moment = MakeDate(2026, 12, 6, 16, 52, 10);
    Variant text = Convert(Variant::Date(moment), VT_BSTR).value;
    Converted back = Convert(text, VT_DATE);
    ASSERT_EQ(back.hr, S_OK);
    EXPECT_DOUBLE_EQ(back.value.get().date, moment);
}

TEST(VariantChangeType, NumbersConvertWithRangeChecks) {
    auto i4 = [](const Variant& v, HRESULT expected, LONG value = 0) {
        Converted c = Convert(v, VT_I4);
        EXPECT_EQ(c.hr, expected);
        if (SUCCEEDED(expected)) {
            EXPECT_EQ(c.value.get().lVal, value);
        }
    };
    i4(Variant(2.5), S_OK, 2);
    i4(Variant(3.5), S_OK, 4);
    i4(Variant(-2.5), S_OK, -2);
    i4(Variant(1e10), DISP_E_OVERFLOW);
    i4(Variant(std::nan("")), DISP_E_OVERFLOW);
    i4(Variant::Currency(25000), S_OK, 2);
    i4(Variant::Currency(35000), S_OK, 4);
    i4(Variant(true), S_OK, -1);
    i4(Variant(), S_OK, 0);
    i4(Variant::Null(), DISP_E_TYPEMISMATCH);
    i4(Variant::Date(MakeDate(1900, 1, 1, 18)), S_OK, 3);

    EXPECT_EQ(Convert(Variant(int32_t{70000}), VT_I2).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(int32_t{-1}), VT_UI2).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(true), VT_UI1).value.get().bVal, 255);
    EXPECT_EQ(Convert(Variant(1e39), VT_R4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(3e6), VT_DATE).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(1e30), VT_DECIMAL).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(1e300), VT_CY).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Variant(1.5), VT_CY).value.get().cyVal.int64, 15000);
    EXPECT_EQ(Convert(Variant(int16_t{0}), VT_BOOL).value.get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(Convert(Variant(0.25), VT_BOOL).value.get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(Text(Convert(Variant(0.1), VT_DECIMAL).value), "0.1");
    EXPECT_EQ(Text(Convert(Variant::Currency(12345), VT_DECIMAL).value), "1.2345");
    EXPECT_DOUBLE_EQ(Convert(Variant::Currency(12345), VT_R8).value.get().dblVal, 1.2345);
    EXPECT_EQ(Convert(Variant(int32_t{5}), VT_ERROR).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Convert(Variant(), VT_EMPTY).hr, S_OK);

    DECIMAL big{};
    ASSERT_EQ(DecimalFromText(u"79228162514264337593543950335", &big), S_OK);
    EXPECT_EQ(Text(Variant(big)), "79228162514264337593543950335");
    EXPECT_EQ(DecimalFromText(u"79228162514264337593543950336", &big), DISP_E_OVERFLOW);
    ASSERT_EQ(DecimalFromText(u"0.1234567890123456789012345678901", &big), S_OK);
    EXPECT_EQ(big.scale, 28);
    EXPECT_EQ(Text(Variant(big)), "0.1234567890123456789012345679");
    ASSERT_EQ(DecimalFromText(u"2.5", &big), S_OK);
    EXPECT_EQ(Convert(Variant(big), VT_I4).value.get().lVal, 2);
    EXPECT_EQ(Convert(Variant(big), VT_CY).value.get().cyVal.int64, 25000);
}

TEST(VariantChangeType, TextToFloatingPoint) {
    VARIANT v;
    ASSERT_EQ(FromText(u"1.5", VT_R8, &v), S_OK);
    EXPECT_EQ(v.dblVal, 1.5);
    ASSERT_EQ(FromText(u"-1,234.5e-1", VT_R8, &v), S_OK);
    EXPECT_DOUBLE_EQ(v.dblVal, -123.45);
    ASSERT_EQ(FromText(u"&HFFFF", VT_R8, &v), S_OK);
    EXPECT_EQ(v.dblVal, -1.0);
    ASSERT_EQ(FromText(u"1e-400", VT_R8, &v), S_OK);
    EXPECT_EQ(v.dblVal, 0.0);
    EXPECT_EQ(FromText(u"1e400", VT_R8, &v), DISP_E_OVERFLOW);
    EXPECT_EQ(FromText(u"1e39", VT_R4, &v), DISP_E_OVERFLOW);
    ASSERT_EQ(FromText(u"0.1", VT_R4, &v), S_OK);
    EXPECT_EQ(v.fltVal, 0.1f);
    EXPECT_EQ(FromText(u"1.5x", VT_R8, &v), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, InPlaceConversionReplacesTheValueOnlyOnSuccess) {
    Variant v(u"123");
    ASSERT_EQ(v.ChangeType(VT_I4), S_OK);  // frees the string (ASan checks)
    EXPECT_EQ(v.vt(), VT_I4);
    EXPECT_EQ(v.get().lVal, 123);
    Variant bad(u"12x");
    EXPECT_EQ(bad.ChangeType(VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bad, Variant(u"12x"));
    Variant same(u"same");
    ASSERT_EQ(same.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(same, Variant(u"same"));
    EXPECT_EQ(Variant(3.25).ToText(), u"3.25");
}

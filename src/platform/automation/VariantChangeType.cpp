// Conversions between automation types, following the platform's rules for
// the en-US locale: numbers in text may carry blanks, a leading or trailing
// sign, parentheses, a leading "$", thousands commas, a decimal point and an
// exponent, or be "&H" hexadecimal / "&O" octal; rounding to integers and to
// currency is banker's rounding (half to even).
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/automation/Variant.h"

namespace ole {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr u128 kDecMax = (u128{1} << 96) - 1;
constexpr DATE kDateMin = -657435.0;  // exclusive bounds: 1 Jan 100 .. 31 Dec 9999
constexpr DATE kDateMax = 2958466.0;

u128 Pow10(int n) {
    u128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

// Quotient of m / d rounded half to even.
u128 RoundDiv(u128 m, u128 d) {
    u128 q = m / d, r = m % d;
    u128 twice = r * 2;
    if (twice > d || (twice == d && (q & 1))) ++q;
    return q;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0 || c == u'\f' || c == u'\v'; }

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// Number parsing

struct Num {
    bool neg = false;
    bool radix = false;  // "&H" / "&O": the value is in bits
    uint64_t bits = 0;
    std::string digits;  // significant digits, no leading or trailing zeros; empty = 0
    int exp = 0;         // value = digits * 10^exp
};

HRESULT ParseNumber(std::u16string_view s, Num* out) {
    Num n;
    size_t i = 0;
    const size_t len = s.size();
    bool sign = false, paren = false, currency = false;
    // Leading part: blanks, one sign, one "(", one "$".
    for (;;) {
        if (i < len && IsSpace(s[i])) {
            ++i;
        } else if (i < len && (s[i] == u'+' || s[i] == u'-') && !sign) {
            sign = true;
            n.neg = s[i] == u'-';
            ++i;
        } else if (i < len && s[i] == u'(' && !paren) {
            paren = true;
            ++i;
        } else if (i < len && s[i] == u'$' && !currency) {
            currency = true;
            ++i;
        } else {
            break;
        }
    }
    if (i + 1 < len && s[i] == u'&' && (Upper(s[i + 1]) == u'H' || Upper(s[i + 1]) == u'O')) {
        const int shift = Upper(s[i + 1]) == u'H' ? 4 : 3;
        i += 2;
        size_t start = i;
        bool overflow = false;
        while (i < len) {
            char16_t c = s[i];
            int d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (shift == 4 && Upper(c) >= u'A' && Upper(c) <= u'F')
                d = Upper(c) - u'A' + 10;
            else
                break;
            if (d >= (1 << shift)) break;
            if (n.bits >> (64 - shift)) overflow = true;
            n.bits = (n.bits << shift) | static_cast<uint64_t>(d);
            ++i;
        }
        if (i == start) return DISP_E_TYPEMISMATCH;
        n.radix = true;
        while (i < len && IsSpace(s[i])) ++i;
        if (paren) {
            if (i >= len || s[i] != u')') return DISP_E_TYPEMISMATCH;
            n.neg = !n.neg;
            ++i;
            while (i < len && IsSpace(s[i])) ++i;
        }
        if (i != len) return DISP_E_TYPEMISMATCH;
        if (overflow) return DISP_E_OVERFLOW;
        *out = n;
        return S_OK;
    }

    int digitCount = 0;
    bool point = false;
    int pendingZeros = 0;  // zeros seen after the last non-zero significant digit
    auto addDigit = [&](char16_t c) {
        ++digitCount;
        if (c == u'0') {
            if (n.digits.empty()) {
                if (point) --n.exp;
                return;
            }
            ++pendingZeros;
        } else {
            n.digits.append(static_cast<size_t>(pendingZeros), '0');
            pendingZeros = 0;
            n.digits += static_cast<char>(c);
        }
        if (point) --n.exp;
    };
    for (; i < len; ++i) {
        char16_t c = s[i];
        if (c >= u'0' && c <= u'9') {
            addDigit(c);
        } else if (c == u',' && !point && digitCount > 0) {
            // thousands separator
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digitCount == 0) return DISP_E_TYPEMISMATCH;
    // The trailing zeros were counted in exp as fraction digits or dropped as
    // integer digits; put integer-part zeros back into the exponent.
    n.exp += pendingZeros;
    if (i < len && (Upper(s[i]) == u'E' || Upper(s[i]) == u'D')) {
        size_t j = i + 1;
        bool eneg = false;
        if (j < len && (s[j] == u'+' || s[j] == u'-')) eneg = s[j++] == u'-';
        if (j >= len || s[j] < u'0' || s[j] > u'9') return DISP_E_TYPEMISMATCH;
        long e = 0;
        for (; j < len && s[j] >= u'0' && s[j] <= u'9'; ++j)
            if (e < 100000) e = e * 10 + (s[j] - u'0');
        n.exp += static_cast<int>(eneg ? -e : e);
        i = j;
    }
    // Trailing part: "$", a sign when none led, ")", blanks.
    for (;;) {
        if (i < len && IsSpace(s[i])) {
            ++i;
        } else if (i < len && (s[i] == u'+' || s[i] == u'-') && !sign) {
            sign = true;
            n.neg = s[i] == u'-';
            ++i;
        } else if (i < len && s[i] == u'$' && !currency) {
            currency = true;
            ++i;
        } else if (i < len && s[i] == u')' && paren) {
            paren = false;
            n.neg = !n.neg;
            ++i;
        } else {
            break;
        }
    }
    if (i != len || paren) return DISP_E_TYPEMISMATCH;
    if (n.digits.empty()) {
        n.exp = 0;
        n.neg = false;
    }
    *out = n;
    return S_OK;
}

// Hex/octal values are bit patterns: for a signed target of N bits a value
// below 2^N is taken as two's complement.
i128 RadixValue(const Num& n, int bits) {
    i128 v;
    if (bits >= 64 || n.bits >= (uint64_t{1} << bits))
        v = bits >= 64 ? static_cast<i128>(static_cast<int64_t>(n.bits)) : static_cast<i128>(n.bits);
    else if (n.bits >> (bits - 1))
        v = static_cast<i128>(n.bits) - (static_cast<i128>(1) << bits);
    else
        v = static_cast<i128>(n.bits);
    return n.neg ? -v : v;
}

// Radix value for targets that are not integers: the smallest of 16, 32 and
// 64 bits that holds it.
i128 RadixValueAuto(const Num& n) {
    int bits = n.bits <= 0xFFFF ? 16 : n.bits <= 0xFFFFFFFFu ? 32 : 64;
    return RadixValue(n, bits);
}

// Rounds a decimal number (digits * 10^exp) to an integer, half to even.
HRESULT DigitsToInt(const std::string& digits, int exp, bool neg, i128* out) {
    if (digits.empty()) {
        *out = 0;
        return S_OK;
    }
    const int intDigits = static_cast<int>(digits.size()) + exp;
    if (intDigits > 38) return DISP_E_OVERFLOW;
    u128 v = 0;
    for (int k = 0; k < intDigits; ++k) v = v * 10 + (k < static_cast<int>(digits.size()) ? digits[k] - '0' : 0);
    // Rounding digit and whether anything follows it.
    int first = intDigits >= 0 && intDigits < static_cast<int>(digits.size()) ? digits[intDigits] - '0' : 0;
    bool rest = intDigits >= 0 ? static_cast<int>(digits.size()) > intDigits + 1 : false;
    if (intDigits < 0) {
        first = 0;  // the first fraction digit is a leading zero
        rest = true;
    }
    if (first > 5 || (first == 5 && (rest || (v & 1)))) ++v;
    if (v > (u128{1} << 127)) return DISP_E_OVERFLOW;
    *out = neg ? -static_cast<i128>(v) : static_cast<i128>(v);
    return S_OK;
}

HRESULT NumToDouble(const Num& n, double* out) {
    if (n.radix) {
        *out = static_cast<double>(RadixValueAuto(n));
        return S_OK;
    }
    if (n.digits.empty()) {
        *out = 0.0;
        return S_OK;
    }
    const long magnitude = static_cast<long>(n.digits.size()) + n.exp;
    if (magnitude > 310) return DISP_E_OVERFLOW;
    if (magnitude < -330) {
        *out = 0.0;
        return S_OK;
    }
    std::string text = n.digits + "e" + std::to_string(n.exp);
    double d = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), d);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return DISP_E_OVERFLOW;
        d = 0.0;
    } else if (r.ec != std::errc()) {
        return DISP_E_TYPEMISMATCH;
    }
    if (!std::isfinite(d)) return DISP_E_OVERFLOW;
    *out = n.neg ? -d : d;
    return S_OK;
}

HRESULT NumToDecimal(const Num& n, DECIMAL* out) {
    DECIMAL d{};
    if (n.radix) {
        i128 v = RadixValueAuto(n);
        u128 m = v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v);
        d.Hi32 = static_cast<ULONG>(m >> 64);
        d.Lo64 = static_cast<ULONGLONG>(m);
        d.sign = v < 0 ? DECIMAL_NEG : 0;
        *out = d;
        return S_OK;
    }
    if (n.digits.empty()) {
        *out = d;
        return S_OK;
    }
    // value = digits * 10^exp; choose the largest scale <= 28 that fits 96 bits.
    const int len = static_cast<int>(n.digits.size());
    if (len + n.exp > 29) return DISP_E_OVERFLOW;
    int scale = n.exp < 0 ? -n.exp : 0;
    if (scale > 28) scale = 28;
    for (;; --scale) {
        // mantissa = round(digits * 10^(exp + scale))
        i128 m = 0;
        HRESULT hr = DigitsToInt(n.digits, n.exp + scale, false, &m);
        if (SUCCEEDED(hr) && static_cast<u128>(m) <= kDecMax) {
            d.Hi32 = static_cast<ULONG>(static_cast<u128>(m) >> 64);
            d.Lo64 = static_cast<ULONGLONG>(m);
            d.scale = static_cast<BYTE>(scale);
            break;
        }
        if (scale == 0) return DISP_E_OVERFLOW;
    }
    // Drop trailing zeros that rounding may have produced.
    u128 m = (static_cast<u128>(d.Hi32) << 64) | d.Lo64;
    while (d.scale > 0 && m % 10 == 0 && m != 0) {
        m /= 10;
        --d.scale;
    }
    if (m == 0) d.scale = 0;
    d.Hi32 = static_cast<ULONG>(m >> 64);
    d.Lo64 = static_cast<ULONGLONG>(m);
    d.sign = (n.neg && m != 0) ? DECIMAL_NEG : 0;
    *out = d;
    return S_OK;
}

u128 DecMantissa(const DECIMAL& d) { return (static_cast<u128>(d.Hi32) << 64) | d.Lo64; }

DECIMAL MakeDecimal(u128 m, int scale, bool neg) {
    DECIMAL d{};
    d.Hi32 = static_cast<ULONG>(m >> 64);
    d.Lo64 = static_cast<ULONGLONG>(m);
    d.scale = static_cast<BYTE>(scale);
    d.sign = (neg && m != 0) ? DECIMAL_NEG : 0;
    return d;
}

// ---------------------------------------------------------------------------
// Number formatting

// printf's %.<precision>G in the C locale, with at least two exponent digits.
std::string FormatRealA(double d, int precision) {
    if (std::isnan(d)) return std::signbit(d) ? "-NAN" : "NAN";
    if (std::isinf(d)) return d < 0 ? "-INF" : "INF";
    if (d == 0) return "0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, precision - 1);
    std::string sci(buf, r.ptr);
    bool neg = sci[0] == '-';
    if (neg) sci.erase(0, 1);
    size_t e = sci.find('e');
    int exponent = std::stoi(sci.substr(e + 1));
    std::string digits;
    for (size_t k = 0; k < e; ++k)
        if (sci[k] != '.') digits += sci[k];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = neg ? "-" : "";
    if (exponent < -4 || exponent >= precision) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += exponent < 0 ? "E-" : "E+";
        std::string ex = std::to_string(exponent < 0 ? -exponent : exponent);
        if (ex.size() < 2) ex.insert(0, "0");
        out += ex;
    } else if (exponent < 0) {
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        size_t intLen = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intLen) {
            out += digits + std::string(intLen - digits.size(), '0');
        } else {
            out += digits.substr(0, intLen) + "." + digits.substr(intLen);
        }
    }
    return out;
}

std::string U128ToString(u128 v) {
    if (v == 0) return "0";
    std::string s;
    while (v) {
        s += static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    }
    return std::string(s.rbegin(), s.rend());
}

// digits with a decimal point scale places from the right; trailing zeros of
// the fraction removed.
std::string ScaledToString(u128 m, int scale, bool neg) {
    std::string s = U128ToString(m);
    if (scale > 0) {
        if (static_cast<int>(s.size()) <= scale) s.insert(0, static_cast<size_t>(scale) - s.size() + 1, '0');
        s.insert(s.size() - static_cast<size_t>(scale), ".");
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (neg && m != 0) s.insert(0, "-");
    return s;
}

std::string FormatCy(int64_t cy) {
    u128 m = cy < 0 ? static_cast<u128>(-static_cast<i128>(cy)) : static_cast<u128>(cy);
    return ScaledToString(m, 4, cy < 0);
}

HRESULT FormatDate(DATE date, ULONG flags, std::u16string* out) {
    DateParts p;
    if (!PartsFromDate(date, &p)) return E_INVALIDARG;
    // The form follows the value itself, not its rounded parts: no date
    // part (-1 < date < 1) shows the time only, no fraction the date only.
    const bool dayZero = std::trunc(date) == 0;
    const bool midnight = date == std::trunc(date);
    bool showDate = true, showTime = true;
    if (flags & VAR_TIMEVALUEONLY)
        showDate = false;
    else if (flags & VAR_DATEVALUEONLY)
        showTime = false;
    else if (dayZero)
        showDate = false;
    else if (midnight)
        showTime = false;
    char buf[64];
    std::string s;
    if (showDate) {
        std::snprintf(buf, sizeof buf, "%d/%d/%d", p.month, p.day, p.year);
        s += buf;
    }
    if (showTime) {
        if (!s.empty()) s += ' ';
        int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second, p.hour < 12 ? "AM" : "PM");
        s += buf;
    }
    *out = Ascii(s);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Date parsing (en-US: month before day)

constexpr const char* kMonths[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                   "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
constexpr const char* kDays[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};

// Full name or a prefix of at least three letters.
bool MatchName(const std::string& word, const char* name) {
    size_t n = std::strlen(name);
    if (word.size() < 3 || word.size() > n) return false;
    return std::string_view(name, word.size()) == word || (word == "SEPT" && std::string_view(name) == "SEPTEMBER");
}

int CurrentYear() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

HRESULT ParseDate(std::u16string_view text, DATE* out) {
    struct Token {
        enum Kind { Number, Word, Sep } kind = Number;
        int value = 0;
        int length = 0;
        std::string word;
        char sep = 0;
    };
    std::vector<Token> tokens;
    const std::u16string_view s = Trim(text);
    if (s.empty()) return DISP_E_TYPEMISMATCH;
    for (size_t i = 0; i < s.size();) {
        char16_t c = s[i];
        if (c >= u'0' && c <= u'9') {
            Token t;
            t.kind = Token::Number;
            while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
                if (t.length < 9) t.value = t.value * 10 + (s[i] - u'0');
                ++t.length;
                ++i;
            }
            if (t.length > 9) return DISP_E_TYPEMISMATCH;
            tokens.push_back(t);
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            Token t;
            t.kind = Token::Word;
            while (i < s.size() && ((s[i] >= u'a' && s[i] <= u'z') || (s[i] >= u'A' && s[i] <= u'Z'))) {
                t.word += static_cast<char>(Upper(s[i]));
                ++i;
            }
            tokens.push_back(t);
        } else if (c == u'/' || c == u'-' || c == u'.' || c == u',' || c == u':') {
            Token t;
            t.kind = Token::Sep;
            t.sep = static_cast<char>(c);
            tokens.push_back(t);
            ++i;
        } else if (IsSpace(c)) {
            ++i;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    }

    int hour = -1, minute = 0, second = 0;
    int ampm = 0;  // 1 AM, 2 PM
    int month = 0;
    struct DateNum {
        int value;
        int length;
    };
    std::vector<DateNum> nums;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.kind == Token::Number) {
            if (k + 2 < tokens.size() && tokens[k + 1].kind == Token::Sep && tokens[k + 1].sep == ':' &&
                tokens[k + 2].kind == Token::Number) {
                if (hour >= 0) return DISP_E_TYPEMISMATCH;
                hour = t.value;
                minute = tokens[k + 2].value;
                k += 2;
                if (k + 2 < tokens.size() && tokens[k + 1].kind == Token::Sep && tokens[k + 1].sep == ':' &&
                    tokens[k + 2].kind == Token::Number) {
                    second = tokens[k + 2].value;
                    k += 2;
                }
            } else if (k + 1 < tokens.size() && tokens[k + 1].kind == Token::Word &&
                       (tokens[k + 1].word == "AM" || tokens[k + 1].word == "PM" || tokens[k + 1].word == "A" ||
                        tokens[k + 1].word == "P")) {
                if (hour >= 0) return DISP_E_TYPEMISMATCH;
                hour = t.value;  // "3 PM"
            } else {
                nums.push_back({t.value, t.length});
            }
        } else if (t.kind == Token::Word) {
            if (t.word == "AM" || t.word == "A" || t.word == "PM" || t.word == "P") {
                if (ampm || hour < 0) return DISP_E_TYPEMISMATCH;
                ampm = t.word[0] == 'A' ? 1 : 2;
                continue;
            }
            bool matched = false;
            for (int m = 0; m < 12 && !matched; ++m)
                if (MatchName(t.word, kMonths[m])) {
                    if (month) return DISP_E_TYPEMISMATCH;
                    month = m + 1;
                    matched = true;
                }
            for (int d = 0; d < 7 && !matched; ++d)
                if (MatchName(t.word, kDays[d])) matched = true;  // weekday names are ignored
            if (!matched) return DISP_E_TYPEMISMATCH;
        } else if (t.sep == ':') {
            return DISP_E_TYPEMISMATCH;  // a colon outside a time
        }
    }
    if (hour >= 0) {
        if (ampm) {
            if (hour < 1 || hour > 12) return DISP_E_TYPEMISMATCH;
            hour = (hour % 12) + (ampm == 2 ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59) return DISP_E_TYPEMISMATCH;
    } else if (ampm) {
        return DISP_E_TYPEMISMATCH;
    }

    auto fixYear = [](const DateNum& y) {
        if (y.length <= 2) return y.value < 30 ? 2000 + y.value : 1900 + y.value;
        return y.value;
    };
    DateParts p;
    bool haveDate = month != 0 || !nums.empty();
    if (haveDate) {
        std::vector<DateParts> candidates;
        auto add = [&](int y, int m, int d) {
            DateParts c;
            c.year = y;
            c.month = m;
            c.day = d;
            candidates.push_back(c);
        };
        if (month) {
            if (nums.size() == 2) {
                if (nums[0].length > 2 || nums[0].value > 31)
                    add(fixYear(nums[0]), month, nums[1].value);
                else
                    add(fixYear(nums[1]), month, nums[0].value);
            } else if (nums.size() == 1) {
                if (nums[0].length > 2 || nums[0].value > 31)
                    add(fixYear(nums[0]), month, 1);
                else
                    add(CurrentYear(), month, nums[0].value);
            } else {
                return DISP_E_TYPEMISMATCH;
            }
        } else if (nums.size() == 3) {
            if (nums[0].length > 2 || nums[0].value > 31) {
                add(fixYear(nums[0]), nums[1].value, nums[2].value);
            } else {
                add(fixYear(nums[2]), nums[0].value, nums[1].value);
                add(fixYear(nums[2]), nums[1].value, nums[0].value);
            }
        } else if (nums.size() == 2) {
            if (nums[1].length > 2 || nums[1].value > 31) {
                add(fixYear(nums[1]), nums[0].value, 1);
            } else {
                add(CurrentYear(), nums[0].value, nums[1].value);
                add(CurrentYear(), nums[1].value, nums[0].value);
            }
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        bool ok = false;
        for (DateParts c : candidates) {
            DATE probe;
            if (DateFromParts(c, &probe)) {
                p = c;
                ok = true;
                break;
            }
        }
        if (!ok) return DISP_E_TYPEMISMATCH;
    } else if (hour < 0) {
        return DISP_E_TYPEMISMATCH;
    }
    if (hour >= 0) {
        p.hour = hour;
        p.minute = minute;
        p.second = second;
    }
    return DateFromParts(p, out) ? S_OK : DISP_E_TYPEMISMATCH;
}

// ---------------------------------------------------------------------------
// Source values

enum class Kind { Empty, Int, Real, Cy, Dec, Bool, Text };

struct Source {
    Kind kind = Kind::Empty;
    i128 i = 0;
    double d = 0;
    int precision = 15;  // significant digits of a real (R4: 7)
    int64_t cy = 0;
    DECIMAL dec{};
    int16_t b = 0;
    std::u16string_view text;
};

HRESULT Classify(const VARIANT& v, Source* s) {
    switch (v.vt) {
        case VT_EMPTY: s->kind = Kind::Empty; return S_OK;
        case VT_I1: s->kind = Kind::Int, s->i = static_cast<int8_t>(v.cVal); return S_OK;
        case VT_UI1: s->kind = Kind::Int, s->i = v.bVal; return S_OK;
        case VT_I2: s->kind = Kind::Int, s->i = v.iVal; return S_OK;
        case VT_UI2: s->kind = Kind::Int, s->i = v.uiVal; return S_OK;
        case VT_I4: s->kind = Kind::Int, s->i = v.lVal; return S_OK;
        case VT_INT: s->kind = Kind::Int, s->i = v.intVal; return S_OK;
        case VT_UI4: s->kind = Kind::Int, s->i = v.ulVal; return S_OK;
        case VT_UINT: s->kind = Kind::Int, s->i = v.uintVal; return S_OK;
        case VT_I8: s->kind = Kind::Int, s->i = v.llVal; return S_OK;
        case VT_UI8: s->kind = Kind::Int, s->i = v.ullVal; return S_OK;
        case VT_R4: s->kind = Kind::Real, s->d = v.fltVal, s->precision = 7; return S_OK;
        case VT_R8: s->kind = Kind::Real, s->d = v.dblVal; return S_OK;
        case VT_DATE: s->kind = Kind::Real, s->d = v.date; return S_OK;
        case VT_CY: s->kind = Kind::Cy, s->cy = v.cyVal.int64; return S_OK;
        case VT_DECIMAL: s->kind = Kind::Dec, s->dec = v.decVal; return S_OK;
        case VT_BOOL: s->kind = Kind::Bool, s->b = v.boolVal; return S_OK;
        case VT_BSTR: s->kind = Kind::Text, s->text = BstrView(v.bstrVal); return S_OK;
        default: return DISP_E_TYPEMISMATCH;
    }
}

struct IntRange {
    i128 min;
    i128 max;
    int bits;
    bool isSigned;
};

bool IntRangeOf(VARTYPE vt, IntRange* r) {
    switch (vt) {
        case VT_I1: *r = {-128, 127, 8, true}; return true;
        case VT_UI1: *r = {0, 255, 8, false}; return true;
        case VT_I2: *r = {-32768, 32767, 16, true}; return true;
        case VT_UI2: *r = {0, 65535, 16, false}; return true;
        case VT_I4:
        case VT_INT: *r = {INT32_MIN, INT32_MAX, 32, true}; return true;
        case VT_UI4:
        case VT_UINT: *r = {0, UINT32_MAX, 32, false}; return true;
        case VT_I8: *r = {INT64_MIN, INT64_MAX, 64, true}; return true;
        case VT_UI8: *r = {0, static_cast<i128>(UINT64_MAX), 64, false}; return true;
        default: return false;
    }
}

HRESULT RealToInt(double d, i128* out) {
    if (!std::isfinite(d)) return DISP_E_OVERFLOW;
    double r = std::nearbyint(d);  // the default rounding mode: half to even
    if (std::fabs(r) >= 0x1p100) return DISP_E_OVERFLOW;
    *out = static_cast<i128>(r);
    return S_OK;
}

HRESULT ToInt(const Source& s, const IntRange& range, i128* out) {
    i128 v = 0;
    HRESULT hr = S_OK;
    switch (s.kind) {
        case Kind::Empty: v = 0; break;
        case Kind::Int: v = s.i; break;
        case Kind::Real: hr = RealToInt(s.d, &v); break;
        case Kind::Cy: {
            bool neg = s.cy < 0;
            u128 m = neg ? static_cast<u128>(-static_cast<i128>(s.cy)) : static_cast<u128>(s.cy);
            u128 q = RoundDiv(m, 10000);
            v = neg ? -static_cast<i128>(q) : static_cast<i128>(q);
            break;
        }
        case Kind::Dec: {
            if (s.dec.scale > 28) return DISP_E_OVERFLOW;
            u128 q = RoundDiv(DecMantissa(s.dec), Pow10(s.dec.scale));
            v = (s.dec.sign & DECIMAL_NEG) ? -static_cast<i128>(q) : static_cast<i128>(q);
            break;
        }
        case Kind::Bool:
            // Unsigned targets take the bit pattern (True gives all ones).
            v = range.isSigned ? i128{s.b}
                               : static_cast<i128>(static_cast<uint64_t>(static_cast<int64_t>(s.b)) &
                                                   (range.bits == 64 ? UINT64_MAX : ((uint64_t{1} << range.bits) - 1)));
            break;
        case Kind::Text: {
            Num n;
            hr = ParseNumber(s.text, &n);
            if (FAILED(hr)) return hr;
            if (n.radix) {
                if (range.isSigned) {
                    if (range.bits < 64 && n.bits >= (uint64_t{1} << range.bits)) return DISP_E_OVERFLOW;
                    v = RadixValue(n, range.bits);
                } else {
                    v = static_cast<i128>(n.bits);
                    if (n.neg) v = -v;
                }
            } else {
                hr = DigitsToInt(n.digits, n.exp, n.neg, &v);
            }
            break;
        }
    }
    if (FAILED(hr)) return hr;
    if (v < range.min || v > range.max) return DISP_E_OVERFLOW;
    *out = v;
    return S_OK;
}

HRESULT ToReal(const Source& s, double* out) {
    switch (s.kind) {
        case Kind::Empty: *out = 0; return S_OK;
        case Kind::Int: *out = static_cast<double>(s.i); return S_OK;
        case Kind::Real: *out = s.d; return S_OK;
        case Kind::Cy: *out = static_cast<double>(s.cy) / 10000.0; return S_OK;
        case Kind::Dec: *out = DecimalToDouble(s.dec); return S_OK;
        case Kind::Bool: *out = s.b; return S_OK;
        case Kind::Text: {
            Num n;
            HRESULT hr = ParseNumber(s.text, &n);
            if (FAILED(hr)) return hr;
            return NumToDouble(n, out);
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToCy(const Source& s, int64_t* out) {
    i128 v = 0;
    switch (s.kind) {
        case Kind::Empty: v = 0; break;
        case Kind::Int: v = s.i * 10000; break;
        case Kind::Bool: v = i128{s.b} * 10000; break;
        case Kind::Cy: v = s.cy; break;
        case Kind::Real: {
            HRESULT hr = RealToInt(s.d * 10000.0, &v);
            if (FAILED(hr)) return hr;
            break;
        }
        case Kind::Dec: {
            if (s.dec.scale > 28) return DISP_E_OVERFLOW;
            u128 m = DecMantissa(s.dec);
            u128 q = s.dec.scale <= 4 ? m * Pow10(4 - s.dec.scale) : RoundDiv(m, Pow10(s.dec.scale - 4));
            v = (s.dec.sign & DECIMAL_NEG) ? -static_cast<i128>(q) : static_cast<i128>(q);
            break;
        }
        case Kind::Text: {
            Num n;
            HRESULT hr = ParseNumber(s.text, &n);
            if (FAILED(hr)) return hr;
            if (n.radix) {
                v = RadixValueAuto(n) * 10000;
            } else {
                hr = DigitsToInt(n.digits, n.exp + 4, n.neg, &v);
                if (FAILED(hr)) return hr;
            }
            break;
        }
    }
    if (v < INT64_MIN || v > INT64_MAX) return DISP_E_OVERFLOW;
    *out = static_cast<int64_t>(v);
    return S_OK;
}

HRESULT ToDec(const Source& s, DECIMAL* out) {
    switch (s.kind) {
        case Kind::Empty: *out = DECIMAL{}; return S_OK;
        case Kind::Int:
        case Kind::Bool: {
            i128 v = s.kind == Kind::Int ? s.i : i128{s.b};
            *out = MakeDecimal(v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v), 0, v < 0);
            return S_OK;
        }
        case Kind::Cy: {
            u128 m = s.cy < 0 ? static_cast<u128>(-static_cast<i128>(s.cy)) : static_cast<u128>(s.cy);
            *out = MakeDecimal(m, 4, s.cy < 0);
            return S_OK;
        }
        case Kind::Dec: *out = s.dec; return S_OK;
        case Kind::Real: {
            if (!std::isfinite(s.d)) return DISP_E_OVERFLOW;
            Num n;
            HRESULT hr = ParseNumber(Ascii(FormatRealA(s.d, s.precision)), &n);
            if (FAILED(hr)) return hr;
            return NumToDecimal(n, out);
        }
        case Kind::Text: {
            Num n;
            HRESULT hr = ParseNumber(s.text, &n);
            if (FAILED(hr)) return hr;
            return NumToDecimal(n, out);
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToBool(const Source& s, bool* out) {
    switch (s.kind) {
        case Kind::Empty: *out = false; return S_OK;
        case Kind::Int: *out = s.i != 0; return S_OK;
        case Kind::Real: *out = s.d != 0; return S_OK;
        case Kind::Cy: *out = s.cy != 0; return S_OK;
        case Kind::Dec: *out = DecMantissa(s.dec) != 0; return S_OK;
        case Kind::Bool: *out = s.b != 0; return S_OK;
        case Kind::Text: {
            std::u16string_view t = Trim(s.text);
            // "#TRUE#" / "#FALSE#" are the written forms of file output.
            if (EqualsNoCase(t, u"True") || EqualsNoCase(t, u"#TRUE#")) {
                *out = true;
                return S_OK;
            }
            if (EqualsNoCase(t, u"False") || EqualsNoCase(t, u"#FALSE#")) {
                *out = false;
                return S_OK;
            }
            double d = 0;
            HRESULT hr = ToReal(s, &d);
            if (FAILED(hr)) return hr;
            *out = d != 0;
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToDate(const Source& s, DATE* out) {
    double d = 0;
    if (s.kind == Kind::Text) {
        HRESULT hr = ParseDate(s.text, &d);
        if (FAILED(hr)) return hr;
    } else {
        HRESULT hr = ToReal(s, &d);
        if (FAILED(hr)) return hr;
    }
    if (!(d > kDateMin && d < kDateMax)) return DISP_E_OVERFLOW;
    *out = d;
    return S_OK;
}

HRESULT ToText(const VARIANT& v, const Source& s, USHORT flags, std::u16string* out) {
    switch (s.kind) {
        case Kind::Empty: out->clear(); return S_OK;
        case Kind::Int: {
            i128 x = s.i;
            std::string t = x < 0 ? "-" + U128ToString(static_cast<u128>(-x)) : U128ToString(static_cast<u128>(x));
            *out = Ascii(t);
            return S_OK;
        }
        case Kind::Real:
            if (v.vt == VT_DATE) return FormatDate(s.d, 0, out);
            *out = Ascii(FormatRealA(s.d, s.precision));
            return S_OK;
        case Kind::Cy: *out = Ascii(FormatCy(s.cy)); return S_OK;
        case Kind::Dec: *out = DecimalToText(s.dec); return S_OK;
        case Kind::Bool:
            // Without a flag the value is shown as the 16-bit number it holds.
            if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
                *out = s.b ? u"True" : u"False";
            else
                *out = Ascii(std::to_string(s.b));
            return S_OK;
        case Kind::Text: *out = std::u16string(s.text); return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

bool IsValidTarget(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_DECIMAL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT: return true;
        default: return false;
    }
}

bool IsValidSource(VARTYPE vt) {
    VARTYPE base = vt & VT_TYPEMASK;
    VARTYPE extra = vt & static_cast<VARTYPE>(~VT_TYPEMASK);
    if (extra & ~(VT_ARRAY | VT_BYREF)) return false;
    if (extra && base <= VT_NULL) return false;
    if (base == VT_VARIANT) return (vt & VT_BYREF) || (vt & VT_ARRAY);
    return IsValidTarget(base);
}

// Converts src (not by reference) into *result.
HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* result) {
    VARIANT r;
    VariantInit(&r);
    if (src.vt == vt) return VariantCopy(result, &src);
    if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) {
        *result = r;
        return S_OK;
    }
    if (vt == VT_NULL) {
        if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
        r.vt = VT_NULL;
        *result = r;
        return S_OK;
    }
    if (src.vt == VT_NULL) return DISP_E_TYPEMISMATCH;
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        if (src.vt == VT_EMPTY) {
            r.vt = vt;
            *result = r;
            return S_OK;
        }
        if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        if (!src.punkVal) {
            r.vt = vt;
            *result = r;
            return S_OK;
        }
        void* p = nullptr;
        HRESULT hr = src.punkVal->QueryInterface(vt == VT_UNKNOWN ? IUnknown::kIID : IDispatch::kIID, &p);
        if (FAILED(hr)) return vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH : hr;
        r.vt = vt;
        r.byref = p;
        *result = r;
        return S_OK;
    }
    if (vt == VT_ERROR || src.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    // Objects have no value property here.
    if (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;

    Source s;
    HRESULT hr = Classify(src, &s);
    if (FAILED(hr)) return hr;
    IntRange range;
    if (IntRangeOf(vt, &range)) {
        i128 x = 0;
        hr = ToInt(s, range, &x);
        if (FAILED(hr)) return hr;
        r.vt = vt;
        switch (vt) {
            case VT_I1: r.cVal = static_cast<CHAR>(static_cast<int8_t>(x)); break;
            case VT_UI1: r.bVal = static_cast<BYTE>(x); break;
            case VT_I2: r.iVal = static_cast<SHORT>(x); break;
            case VT_UI2: r.uiVal = static_cast<USHORT>(x); break;
            case VT_I4: r.lVal = static_cast<LONG>(x); break;
            case VT_INT: r.intVal = static_cast<INT>(x); break;
            case VT_UI4: r.ulVal = static_cast<ULONG>(x); break;
            case VT_UINT: r.uintVal = static_cast<UINT>(x); break;
            case VT_I8: r.llVal = static_cast<LONGLONG>(x); break;
            case VT_UI8: r.ullVal = static_cast<ULONGLONG>(x); break;
            default: break;
        }
        *result = r;
        return S_OK;
    }
    switch (vt) {
        case VT_R4: {
            double d = 0;
            hr = ToReal(s, &d);
            if (FAILED(hr)) return hr;
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
            r.fltVal = static_cast<float>(d);
            break;
        }
        case VT_R8: {
            double d = 0;
            hr = ToReal(s, &d);
            if (FAILED(hr)) return hr;
            r.dblVal = d;
            break;
        }
        case VT_DATE: hr = ToDate(s, &r.date); break;
        case VT_CY: hr = ToCy(s, &r.cyVal.int64); break;
        case VT_DECIMAL: {
            DECIMAL d{};
            hr = ToDec(s, &d);
            if (FAILED(hr)) return hr;
            r.decVal = d;
            break;
        }
        case VT_BOOL: {
            bool b = false;
            hr = ToBool(s, &b);
            r.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_BSTR: {
            std::u16string text;
            hr = ToText(src, s, flags, &text);
            if (FAILED(hr)) return hr;
            r.bstrVal = SysAllocString(text);
            if (!r.bstrVal) return E_OUTOFMEMORY;
            break;
        }
        default: return DISP_E_BADVARTYPE;
    }
    if (FAILED(hr)) return hr;
    r.vt = vt;
    *result = r;
    return S_OK;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID /*lcid*/, USHORT wFlags,
                            VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!IsValidSource(pvarSrc->vt)) return DISP_E_BADVARTYPE;
    const VARTYPE base = vt & VT_TYPEMASK;
    if ((vt & ~(VT_TYPEMASK | VT_ARRAY)) || !IsValidTarget(base) || ((vt & VT_ARRAY) && base <= VT_NULL))
        return DISP_E_BADVARTYPE;
    // Work on a dereferenced copy so that pvargDest may alias pvarSrc and is
    // untouched on failure.
    VARIANT src;
    VariantInit(&src);
    HRESULT hr = VariantCopyInd(&src, pvarSrc);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = Convert(src, wFlags, vt, &result);
    VariantClear(&src);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, 0x409, wFlags, vt);
}

HRESULT VariantToText(const VARIANT& v, std::u16string* out, USHORT wFlags) {
    if (!out) return E_INVALIDARG;
    VARIANT tmp;
    VariantInit(&tmp);
    HRESULT hr = VariantChangeType(&tmp, &v, wFlags, VT_BSTR);
    if (FAILED(hr)) return hr;
    *out = std::u16string(BstrView(tmp.bstrVal));
    VariantClear(&tmp);
    return S_OK;
}

HRESULT DecimalFromDouble(double d, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    Source s;
    s.kind = Kind::Real;
    s.d = d;
    return ToDec(s, out);
}

double DecimalToDouble(const DECIMAL& d) {
    std::string text = ScaledToString(DecMantissa(d), d.scale, (d.sign & DECIMAL_NEG) != 0);
    double r = 0;
    std::from_chars(text.data(), text.data() + text.size(), r);
    return r;
}

HRESULT DecimalFromText(std::u16string_view text, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    Num n;
    HRESULT hr = ParseNumber(text, &n);
    if (FAILED(hr)) return hr;
    return NumToDecimal(n, out);
}

std::u16string DecimalToText(const DECIMAL& d) {
    return Ascii(ScaledToString(DecMantissa(d), d.scale, (d.sign & DECIMAL_NEG) != 0));
}

}  // namespace ole

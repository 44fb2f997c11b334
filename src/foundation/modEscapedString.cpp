#include "foundation/modEscapedString.h"

namespace zephrin::modEscapedString {

namespace {

int DecimalDigit(char16_t c) { return c >= u'0' && c <= u'9' ? c - u'0' : -1; }
int OctalDigit(char16_t c) { return c >= u'0' && c <= u'7' ? c - u'0' : -1; }
int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Value of the three characters at in[at..at+2] as digits of base (digit gives -1 for a
// non-digit), or -1 when fewer than three remain or one is not a digit.
template <class Digit>
int ThreeDigits(std::span<const char16_t> in, size_t at, int base, Digit digit) {
    if (in.size() - at < 3) return -1;
    int value = 0;
    for (size_t k = 0; k < 3; ++k) {
        int d = digit(in[at + k]);
        if (d < 0) return -1;
        value = value * base + d;
    }
    return value;
}

}  // namespace

size_t ScanEscapes(std::span<const char16_t> input, std::span<char16_t> output) {
    const size_t n = input.size();
    size_t out = 0;
    size_t i = 0;
    while (i < n && out < output.size()) {
        char16_t c = input[i++];
        if (c != u'\\') {
            output[out++] = c;
            continue;
        }
        if (i >= n) break;  // trailing backslash
        const char16_t e = input[i++];
        const char16_t upper = (e >= u'a' && e <= u'z') ? static_cast<char16_t>(e - 32) : e;
        char16_t result = e;
        switch (upper) {
            case u'N': result = 10; break;
            case u'A': result = 7; break;
            case u'B': result = 8; break;
            case u'F': result = 12; break;
            case u'R': result = 13; break;
            case u'T': result = 9; break;
            case u'V': result = 11; break;
            case u'D':
                if (int v = ThreeDigits(input, i, 10, DecimalDigit); v >= 0) {
                    result = static_cast<char16_t>(v);
                    i += 3;
                }
                break;
            case u'X':
                if (int v = ThreeDigits(input, i, 16, HexDigit); v >= 0) {
                    result = static_cast<char16_t>(v);
                    i += 3;
                }
                break;
            default:
                if (int v = ThreeDigits(input, i - 1, 8, OctalDigit); v >= 0) {
                    result = static_cast<char16_t>(v);
                    i += 2;
                } else if (e == u'0') {
                    result = 0;
                }
                break;
        }
        output[out++] = result;
    }
    return out;
}

std::u16string DecodeEscapedString(std::u16string_view text) {
    if (text.empty()) return {};
    std::u16string out(text.size(), u'\0');
    out.resize(ScanEscapes(std::span<const char16_t>(text.data(), text.size()), out));
    return out;
}

std::u16string EncodeEscapedString(std::u16string_view text) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        switch (c) {
            case u'\\': out += u"\\\\"; break;
            case u'\n': out += u"\\n"; break;
            case u'\r': out += u"\\r"; break;
            case u'\t': out += u"\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += u"\\x";
                    out += kDigits[(c >> 8) & 15];
                    out += kDigits[(c >> 4) & 15];
                    out += kDigits[c & 15];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace zephrin::modEscapedString

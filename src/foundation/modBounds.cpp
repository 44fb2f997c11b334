#include "foundation/modBounds.h"

#include <optional>

#include "foundation/Tokenizer.h"

namespace zephrin::modBounds {

namespace {

void AppendNumber(std::u16string& out, int32_t value) {
    int64_t v = value;
    if (v < 0) {
        out += u'-';
        v = -v;
    }
    char16_t digits[12];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) out += digits[--n];
}

std::optional<int32_t> ParseWholeNumber(std::u16string_view token) {
    size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == u'-' || token[i] == u'+')) negative = token[i++] == u'-';
    if (i == token.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < token.size(); ++i) {
        const char16_t c = token[i];
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

// Whether a group of the text ends in "To" after its number: "1 To" names a
// lower bound and lacks the upper one, so it must not read as 0 To 1.
bool HasDanglingTo(std::u16string_view text) {
    bool number = false, toLast = false;
    for (char16_t c : text) {
        if (c == u',') {
            if (number && toLast) return true;
            number = toLast = false;
        } else if (c == u'T' || c == u't' || c == u'o' || c == u'O') {
            toLast = true;
        } else if (c != u' ') {
            number = number || (c >= u'0' && c <= u'9');
            toLast = false;
        }
    }
    return number && toLast;
}

}  // namespace

std::u16string FormatBounds(std::span<const BoundsRow> bounds) {
    std::u16string out;
    for (size_t i = 0; i < bounds.size(); ++i) {
        if (i > 0) out += u", ";
        AppendNumber(out, bounds[i][0]);
        out += u" To ";
        AppendNumber(out, bounds[i][1]);
    }
    return out;
}

bool ParseBounds(std::u16string_view text, BoundsTable& bounds) {
    try {
        if (HasDanglingTo(text)) return false;
        Tokenizer tokenizer;
        tokenizer.SetDelimiters(u" TotO", u",", u"");
        std::vector<std::u16string> tokens;
        size_t stoppedAt = 0;
        if (tokenizer.TokenizeLine(text, stoppedAt, tokens) == 0) return false;

        // Shape: no comma first, last or doubled; at most two numbers per group.
        const std::u16string_view comma = u",";
        size_t separators = 0;
        bool prevIsComma = true, prevPrevIsComma = false;
        for (size_t k = 0; k < tokens.size(); ++k) {
            const bool isComma = tokens[k] == comma;
            if (isComma) {
                if (k == 0 || k + 1 == tokens.size() || prevIsComma) return false;
                ++separators;
            } else if (!prevIsComma && !prevPrevIsComma) {
                return false;
            }
            prevPrevIsComma = prevIsComma;
            prevIsComma = isComma;
        }

        BoundsTable result(separators + 1, BoundsRow{0, 0});
        size_t group = 0;
        bool afterComma = true;
        for (const auto& token : tokens) {
            if (token == comma) {
                ++group;
                afterComma = true;
                continue;
            }
            std::optional<int32_t> number = ParseWholeNumber(token);
            if (!number) return false;
            if (!afterComma) result[group][0] = result[group][1];
            result[group][1] = *number;
            afterComma = false;
        }
        for (const BoundsRow& row : result) {
            if (row[0] > row[1]) return false;
            if (int64_t{row[1]} - row[0] + 1 > int64_t{UINT32_MAX}) return false;
        }
        bounds = std::move(result);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace zephrin::modBounds

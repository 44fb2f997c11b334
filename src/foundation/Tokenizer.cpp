#include "foundation/Tokenizer.h"

#include "foundation/ErrorRecord.h"

namespace zephrin {

void Tokenizer::SetDelimiters(std::u16string_view tossDelimiters, std::u16string_view keepDelimiters,
                              std::u16string_view stopAt) {
    toss_ = tossDelimiters;
    keep_ = keepDelimiters;
    stop_ = stopAt;
}

Tokenizer::Kind Tokenizer::Classify(char16_t c) const {
    if (stop_.find(c) != std::u16string::npos) return Kind::Stop;
    if (keep_.find(c) != std::u16string::npos) return Kind::Keep;
    if (toss_.find(c) != std::u16string::npos) return Kind::Toss;
    return Kind::None;
}

size_t Tokenizer::TokenizeLine(std::u16string_view line, size_t& iStoppedAt,
                               std::vector<std::u16string>& tokens) const {
    iStoppedAt = 0;
    tokens.clear();
    const size_t length = line.size();
    size_t i = 0;
    while (i < length) {
        const char16_t c = line[i];
        switch (Classify(c)) {
            case Kind::Stop:
                iStoppedAt = i + 1;
                return tokens.size();
            case Kind::Toss:
                ++i;
                continue;
            case Kind::Keep:
                tokens.emplace_back(1, c);
                ++i;
                continue;
            case Kind::None:
                break;
        }
        size_t end = i + 1;
        if (c == u'"') {
            // Find the closing quote: one that is not doubled.
            for (;;) {
                if (end >= length) {
                    tokens.clear();
                    RaiseError(kErrInvalidArgument, u"A quoted text in the line has no closing quote.");
                }
                if (line[end] == u'"') {
                    if (end + 1 < length && line[end + 1] == u'"') {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
        } else {
            while (end < length && Classify(line[end]) == Kind::None) ++end;
        }
        tokens.emplace_back(line.substr(i, end - i));
        i = end;
    }
    return tokens.size();
}

}  // namespace zephrin

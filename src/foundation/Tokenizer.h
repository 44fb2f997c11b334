// Splits a line into tokens by three sets of delimiter characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zephrin {

class Tokenizer {
public:
    // tossDelimiters separate tokens and vanish; keepDelimiters separate tokens and come
    // back as one-character tokens; stopAt ends the line. A character in more than one
    // set counts as stop first, then keep, then toss.
    void SetDelimiters(std::u16string_view tossDelimiters, std::u16string_view keepDelimiters,
                       std::u16string_view stopAt);

    // Splits line into tokens and returns their number. iStoppedAt is the 1-based position
    // of the stop character that ended the scan, or 0. A double quote that starts a token
    // opens a quoted token running through the closing quote ("" inside is part of the text);
    // the token keeps its quotes as typed. A double quote inside a word is ordinary.
    // An unterminated quoted token clears tokens and raises error 5.
    size_t TokenizeLine(std::u16string_view line, size_t& iStoppedAt, std::vector<std::u16string>& tokens) const;

private:
    enum class Kind { None, Stop, Keep, Toss };
    Kind Classify(char16_t c) const;

    std::u16string toss_;
    std::u16string keep_;
    std::u16string stop_;
};

}  // namespace zephrin

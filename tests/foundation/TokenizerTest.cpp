#include <gtest/gtest.h>

#include "foundation/Tokenizer.h"
#include "support/ErrorCapture.h"

using zephrin::Tokenizer;
using Tokens = std::vector<std::u16string>;

TEST(Tokenizer, QuotedPhraseKeepsItsQuotesAndDoubledQuotes) {
    Tokenizer t;
    t.SetDelimiters(u" ", u",", u"");
    Tokens tokens{u"stale"};
    size_t stopped = 99;
    EXPECT_EQ(t.TokenizeLine(u"first, \"say \"\"hi\"\" now\"  second", stopped, tokens), 4u);
    EXPECT_EQ(tokens, (Tokens{u"first", u",", u"\"say \"\"hi\"\" now\"", u"second"}));
    EXPECT_EQ(stopped, 0u);

    // A quote inside a word is an ordinary character; a quoted token ends at its closing quote.
    t.TokenizeLine(u"ab\"c \"x y\"z", stopped, tokens);
    EXPECT_EQ(tokens, (Tokens{u"ab\"c", u"\"x y\"", u"z"}));
}

TEST(Tokenizer, StopCharacterEndsTheLineAndReportsItsPosition) {
    Tokenizer t;
    t.SetDelimiters(u" ;", u"", u";");  // ';' in two sets: stop wins
    Tokens tokens;
    size_t stopped = 0;
    EXPECT_EQ(t.TokenizeLine(u"ab c;d e", stopped, tokens), 2u);
    EXPECT_EQ(stopped, 5u);
    EXPECT_EQ(tokens, (Tokens{u"ab", u"c"}));

    EXPECT_EQ(t.TokenizeLine(u"", stopped, tokens), 0u);
    EXPECT_TRUE(tokens.empty());
}

TEST(Tokenizer, UnterminatedQuoteRaisesError5AndClearsTheTokens) {
    Tokenizer t;
    t.SetDelimiters(u" ", u"", u"");
    for (std::u16string_view line : {u"a \"open", u"a \"ends doubled\"\""}) {
        Tokens tokens{u"stale"};
        size_t stopped = 0;
        EXPECT_EQ(testsupport::ErrorOf([&] { t.TokenizeLine(line, stopped, tokens); }), 5);
        EXPECT_TRUE(tokens.empty());
    }
}

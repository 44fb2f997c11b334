#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "resources/StringTable.h"
#include "support/ErrorCapture.h"

using namespace zephrin;
using modSupport::FormatPlaceholders;

using testsupport::ErrorOf;

TEST(Placeholders, EachItemReplacesTheFirstOccurrenceOfItsPlaceholder) {
    EXPECT_EQ(FormatPlaceholders(u"|2 after |1", {u"a", u"b"}), u"b after a");
    EXPECT_EQ(FormatPlaceholders(u"|2 after |1", {u"a"}), u"|2 after a");
    EXPECT_EQ(FormatPlaceholders(u"|1 and |1", {u"x"}), u"x and |1");
    EXPECT_EQ(FormatPlaceholders(u"|1 of |2", {3, -7}), u"3 of -7");
    std::vector<std::u16string> items{u"one", u""};
    EXPECT_EQ(FormatPlaceholders(u"[|1|2]", items), u"[one]");
}

TEST(Placeholders, TextBroughtInByAnItemIsNotSubstitutedAgain) {
    EXPECT_EQ(FormatPlaceholders(u"|1 / |2", {u"has |2", u"B"}), u"has |2 / B");
}

TEST(Placeholders, MissingPlaceholderOrMissingResourceRaises) {
    EXPECT_EQ(ErrorOf([] { FormatPlaceholders(u"only |1", {u"a", u"b"}); }), 5);
    EXPECT_EQ(ErrorOf([] { modSupport::LoadResStringFormat(-12345, {u"a"}); }), 326);
    auto all = resources::AllStrings();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(modSupport::LoadResStringById(all.front().id), all.front().text);
}

TEST(ErrorRecord, ScopeGuardUndoesStepsInReverseAndTheFirstErrorPropagates) {
    std::vector<int> undone;
    try {
        ScopeGuard rollback;
        rollback.OnFailure([&] { undone.push_back(1); });
        rollback.OnFailure([&] {
            undone.push_back(2);
            RaiseError(13);  // a failing undo must not replace the first error
        });
        rollback.OnFailure([&] { undone.push_back(3); });
        throw ErrorRecord(ole::TYPE_E_NAMECONFLICT, u"Name clash", u"Lib", u"help.chm", 42);
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, ole::TYPE_E_NAMECONFLICT);
        EXPECT_EQ(e.Description, u"Name clash");
        EXPECT_EQ(e.Source, u"Lib");
        EXPECT_EQ(e.HelpFile, u"help.chm");
        EXPECT_EQ(e.HelpContext, 42);
    }
    EXPECT_EQ(undone, (std::vector<int>{3, 2, 1}));

    undone.clear();
    {
        ScopeGuard rollback([&] { undone.push_back(1); });
        rollback.Dismiss();
    }
    EXPECT_TRUE(undone.empty());
}

TEST(ErrorRecord, ReRaiseKeepsTheRecordAndErrToHResultMapsNumbers) {
    try {
        try {
            RaiseError(5, {}, u"Src");
        } catch (...) {
            modSupport::ReRaiseError();
        }
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, 5);
        EXPECT_EQ(e.Source, u"Src");
        EXPECT_EQ(modSupport::ErrToHResult(e), ole::MakeHResult(0x800A0005));
    }
    EXPECT_EQ(modSupport::ErrToHResult(ErrorRecord(0)), 0);
    EXPECT_EQ(modSupport::ErrToHResult(ErrorRecord(ole::E_FAIL)), ole::E_FAIL);
    try {
        throw std::bad_alloc();
    } catch (...) {
        EXPECT_EQ(modSupport::ErrToHResult(), ole::MakeHResult(0x800A0007));
    }
    EXPECT_EQ(CheckHr(ole::S_FALSE), ole::S_FALSE);
    EXPECT_EQ(ErrorOf([] { CheckHr(ole::E_OUTOFMEMORY); }), ole::E_OUTOFMEMORY);
}

TEST(Files, TempFileIsCreatedInTheTempFolderAndFailureRaises75) {
    namespace fs = std::filesystem;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    const fs::path dir = fs::temp_directory_path() / ("zephrin-foundation-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ::setenv("TMPDIR", (dir.string() + "/").c_str(), 1);

    std::u16string a = modSupport::MakeTempFileName(u"LEH"), b = modSupport::MakeTempFileName(u"LEH");
    EXPECT_NE(a, b);
    fs::path pa(std::string(a.begin(), a.end()));
    EXPECT_TRUE(fs::is_regular_file(pa));
    EXPECT_EQ(pa.parent_path(), dir);
    EXPECT_EQ(pa.filename().string().rfind("LEH", 0), 0u);

    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    EXPECT_EQ(ErrorOf([] { modSupport::MakeTempFileName(u"LEH"); }), 75);

    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
    fs::remove_all(dir);
}

TEST(Files, ExtractFileNameKeepsTheNameAfterEitherSeparator) {
    using namespace std::string_literals;
    for (auto [in, out] : {std::pair{u"C:\\lib\\x.tlb\0\0"s, u"x.tlb"s}, {u"/usr/lib/y.tlb"s, u"y.tlb"s},
                           {u"plain\0junk\\z"s, u"plain"s}, {u""s, u""s}}) {
        modSupport::ExtractFileName(in);
        EXPECT_EQ(in, out);
    }
}

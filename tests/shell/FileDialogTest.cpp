// The program's own file chooser, driven as a user types into it, and the
// checks the shell's choosers make before they close.
#include <sys/stat.h>

#include <QLineEdit>
#include <QTest>

#include <fstream>

#include "ShellTestSupport.h"
#include "dialogs/CheckedFileDialog.h"
#include "shell/modCorvaneExeDialogs.h"
#include "support/TempDir.h"
#include "support/TypeLibBuilder.h"

namespace {

using namespace shelltest;
using zephrin::dialogs::CheckedFileDialog;
namespace fs = std::filesystem;

class FileDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    FileDialog() : scoped(services) {
        fs::create_directory(dir / "folder");
        std::ofstream(dir / "folder" / "inner.TLB") << "x";
        std::ofstream(dir / "notes.txt") << "x";
    }
    // Types name into the chooser's name field and presses Enter.
    static void Type(QFileDialog& dialog, const QString& name) {
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(field);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, name);
        QTest::keyClick(field, Qt::Key_Return);
        QCoreApplication::processEvents();
    }

    testsupport::TempDir dir;
    ScriptedServices services;  // the messages of the checks
    ScopedUiServices scoped;
    std::vector<QString> seen;
    bool pass = false;
};

// A folder name opens the folder; a name the check refuses keeps the chooser
// open; the check sees only an existing regular file; then a name it lets
// pass closes the chooser with that name.
TEST_F(FileDialog, TheOpenChooserOpensFoldersAndKeepsRefusedNames) {
    FileRequest request{QStringLiteral("Open"), ResText(113), {}, {}, [&](const QString& path) {
                            seen.push_back(path);
                            return pass;
                        }};
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptOpen);
    dialog.setDirectory(Q(dir.path()));
    dialog.show();
    QCoreApplication::processEvents();
    SaveScreenshots(dialog, "file-dialog-open");
    Type(dialog, QStringLiteral("folder"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir / "folder");
    EXPECT_TRUE(seen.empty());

    Type(dialog, QStringLiteral("inner.TLB"));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], Q(dir / "folder" / "inner.TLB"));
    EXPECT_TRUE(dialog.ChosenName().isEmpty());

    // A FIFO never reaches the check, which would open it.
    ASSERT_EQ(::mkfifo((dir / "folder" / "pipe.tlb").c_str(), 0600), 0);
    Type(dialog, QStringLiteral("pipe.tlb"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(seen.size(), 1u);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].Text.contains(QStringLiteral("not a regular file")));

    pass = true;
    Type(dialog, QStringLiteral("inner.TLB"));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ChosenName(), Q(dir / "folder" / "inner.TLB"));
}

// The library filter matches extensions in any case, and shows the string
// table's description.
TEST_F(FileDialog, FiltersMatchExtensionsInAnyCase) {
    const QStringList filters = zephrin::dialogs::NameFilters(ResText(113));
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Type Libraries (*.tlb;*.olb;*.dll;*.ocx;*.exe) (")));
    EXPECT_TRUE(filters[0].contains(QStringLiteral("*.[tT][lL][bB]")));
    EXPECT_TRUE(filters[0].contains(QStringLiteral("*.[eE][xX][eE]")));
}

// The Save chooser hands the check the name with its default extension,
// refuses a read-only file and asks before replacing a file.
TEST_F(FileDialog, TheSaveChooserAddsTheExtensionAndGuardsExistingFiles) {
    FileRequest request{QStringLiteral("Save"), ResText(111), Q(dir / "start"), QStringLiteral("tlb"),
                        [&](const QString& path) {
                            seen.push_back(path);
                            return true;
                        }};
    std::ofstream(dir / "locked.tlb") << "";
    fs::permissions(dir / "locked.tlb", fs::perms::owner_read);
    std::ofstream(dir / "old.tlb") << "";
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptSave);
    dialog.show();
    QCoreApplication::processEvents();
    Type(dialog, QStringLiteral("locked"));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].Text.contains(QStringLiteral("read-only")));
    Type(dialog, Q(dir / "nowhere" / "new"));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[1].Text, QLatin1Char('\'') + Q(dir / "nowhere") + QStringLiteral("' is not a folder."));
    services.messages.pop_back();
    services.answers = {kAnswerNo};
    Type(dialog, QStringLiteral("old"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(seen.empty());
    ASSERT_EQ(services.messages.size(), 2u);
    services.answers = {kAnswerYes};
    Type(dialog, QStringLiteral("old"));
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], Q(dir / "old.tlb"));
    EXPECT_EQ(dialog.ChosenName(), Q(dir / "old.tlb"));
}

// A name relative to the current folder (a library opened as sub/lib.tlb)
// is proposed where it leads: pressing Return saves over that file.
TEST_F(FileDialog, TheSaveChooserProposesARelativeNameWhereItLeads) {
    fs::create_directory(dir / "sub");
    std::ofstream(dir / "sub" / "lib.tlb") << "";
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    FileRequest request{QStringLiteral("Save"), ResText(111), QStringLiteral("sub/lib.tlb"), QStringLiteral("tlb"), {}};
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptSave);
    dialog.show();
    QCoreApplication::processEvents();
    fs::current_path(before);
    EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir / "sub");
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QStringLiteral("lib.tlb"));
    services.answers = {kAnswerYes};  // replace it
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.ChosenName(), Q(dir / "sub" / "lib.tlb"));
    EXPECT_FALSE(fs::exists(dir / "lib.tlb"));
}

// A relative name that climbs out of the current folder leads where it says.
TEST_F(FileDialog, TheSaveChooserProposesANameThatClimbsWhereItLeads) {
    fs::create_directory(dir / "up");
    fs::create_directory(dir / "here");
    std::ofstream(dir / "up" / "lib.tlb") << "";
    const fs::path before = fs::current_path();
    fs::current_path(dir / "here");
    FileRequest request{QStringLiteral("Save"), ResText(111), QStringLiteral("../up/lib.tlb"), QStringLiteral("tlb"), {}};
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptSave);
    dialog.show();
    QCoreApplication::processEvents();
    fs::current_path(before);
    EXPECT_EQ(fs::path(dialog.directory().canonicalPath().toStdString()), fs::canonical(dir / "up"));
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QStringLiteral("lib.tlb"));
    services.answers = {kAnswerYes};  // replace it
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(QFileInfo(dialog.ChosenName()) == QFileInfo(Q(dir / "up" / "lib.tlb")));
    EXPECT_FALSE(fs::exists(dir / "here" / "lib.tlb"));
}

// A name whose folders are gone (a history saved in a folder since removed)
// is proposed in the nearest of its folders that is left, never as its whole
// path under the current folder.
TEST_F(FileDialog, TheSaveChooserProposesANameWhoseFolderIsGoneInTheNearestFolderLeft) {
    FileRequest request{QStringLiteral("Save"), ResText(163), Q(dir / "gone" / "deeper" / "h.leh"), QStringLiteral("leh"), {}};
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptSave);
    dialog.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir.path());
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QStringLiteral("h.leh"));
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.ChosenName(), Q(dir / "h.leh"));
}

// A FIFO or a device is refused by the Save chooser at once, which stays
// open: no question about replacing it, and the check (which would read it)
// never sees it.
TEST_F(FileDialog, TheSaveChooserRefusesFifosAndDevicesAtOnce) {
    FileRequest request{QStringLiteral("Save"), ResText(111), Q(dir / "start"), QStringLiteral("tlb"),
                        [&](const QString& path) {
                            seen.push_back(path);
                            return true;
                        }};
    ASSERT_EQ(::mkfifo((dir / "pipe.tlb").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir / "null.tlb");
    CheckedFileDialog dialog(nullptr, request, QFileDialog::AcceptSave);
    dialog.show();
    QCoreApplication::processEvents();
    services.answers = {kAnswerYes, kAnswerYes, kAnswerYes, kAnswerYes};
    for (const QString& name : {QStringLiteral("pipe"), QStringLiteral("null")}) {
        services.messages.clear();
        Type(dialog, name);
        EXPECT_TRUE(dialog.isVisible()) << name.toStdString();
        ASSERT_EQ(services.messages.size(), 1u) << name.toStdString();
        EXPECT_TRUE(services.messages[0].Text.contains(QStringLiteral("not a regular file")))
            << services.messages[0].Text.toStdString();
    }
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(dialog.ChosenName().isEmpty());
    EXPECT_EQ(fs::status(dir / "pipe.tlb").type(), fs::file_type::fifo);
}

// The checks of the shell's choosers.
TEST_F(FileDialog, TheHooksRefuseWhatTheirChoosersCanNotUse) {
    using namespace zephrin::shell;
    EXPECT_FALSE(OpenLibraryHook(Q(dir / "notes.txt")));
    EXPECT_TRUE(OpenLibraryHook(QStringLiteral("stdole2.tlb")));
    auto history = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return OpenHistoryHook(Q(dir / name));
    };
    EXPECT_FALSE(history("bad.leh", std::string("WEXI\x04\0\0\0", 8)));
    EXPECT_FALSE(history("new.leh", std::string("WEXO\x05\0\0\0", 8)));
    EXPECT_TRUE(history("good.leh", std::string("WEXO\x04\0\0\0", 8)));
    ASSERT_EQ(services.messages.size(), 3u);
    EXPECT_EQ(services.messages[0].Text, Text(114, Q(dir / "notes.txt")));
    EXPECT_EQ(services.messages[1].Text, Text(168, Q(dir / "bad.leh")));
    EXPECT_EQ(services.messages[2].Text, Text(169, Q(dir / "new.leh")));
    // A new name and an empty file pass without a question; a text file asks.
    EXPECT_TRUE(SaveLibraryHook(Q(dir / "brand-new.tlb")));
    std::ofstream(dir / "empty.tlb").close();
    EXPECT_TRUE(SaveLibraryHook(Q(dir / "empty.tlb")));
    services.answers = {kAnswerNo, kAnswerYes};
    EXPECT_FALSE(SaveLibraryHook(Q(dir / "notes.txt")));
    EXPECT_TRUE(SaveLibraryHook(Q(dir / "notes.txt")));
    EXPECT_EQ(services.messages.size(), 5u);
    EXPECT_EQ(services.messages.back().Text, ResText(109));
    // A library of the compact format is one: the question says why it isn't kept.
    const fs::path sltg = fs::path(ZEPHRIN_TEST_DATA_DIR) / "sltg" / "kinds.tlb";
    services.answers = {kAnswerNo};
    EXPECT_FALSE(SaveLibraryHook(Q(sltg)));
    EXPECT_EQ(services.messages.back().Text, Text(178, Q(sltg)));
    EXPECT_EQ(services.messages.back().Style, kStyleYesNoQuestionNoDefault);
    // So is a program file's library: the question says the file will hold it alone.
    const fs::path module = fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden-images" / "kinds32.dll";
    services.answers = {kAnswerNo};
    EXPECT_FALSE(SaveLibraryHook(Q(module)));
    EXPECT_EQ(services.messages.back().Text, Text(182, Q(module)));

    // The history's Save chooser.
    services.saveNames = {QStringLiteral("edits")};
    EXPECT_EQ(GetSaveLehFileName(nullptr, QStringLiteral("old.leh")), QStringLiteral("edits.leh"));
    EXPECT_EQ(services.requests.back().Title, ResText(162));
    EXPECT_EQ(services.requests.back().Filter, ResText(163));
    EXPECT_EQ(services.requests.back().InitialName, QStringLiteral("old.leh"));
}

}  // namespace

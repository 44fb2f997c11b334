// The history window beside a library editor view on one hub: edits made in
// the view are recorded, saved, reopened in another window and replayed on a
// fresh copy of the library, step by step and to breakpoints, with the
// window's keys, buttons, File menu, messages and caption along the way.
#include "RecorderTestSupport.h"

#include <QAccessible>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <fstream>
#include <functional>
#include <optional>

#include "editor/view/LibraryViewer.h"
#include "editor/ViewerTestSupport.h"
#include "support/DarkTheme.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace recordertest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using Button = frmRecorder::Button;

class RecorderWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { shelltest::EnsureApp(); }
    RecorderWindowTest() {
        ComPtr<ICreateTypeLib2> created = treetest::BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
        EXPECT_OK(created->SaveAllChanges());
        view.SetChangeListener(hub);
        view.resize(view.fontMetrics().averageCharWidth() * 100, view.fontMetrics().height() * 30);
        view.show();
        OpenInView("in.tlb");
    }
    ~RecorderWindowTest() override {
        for (frmRecorder* window : opened)
            if (window) delete window;
    }

    void OpenInView(const char* file) {
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLibEx(ole::FromUtf8((dir / file).string()).c_str(), REGKIND_NONE, loaded.put()));
        view.CurrentITypeLib(loaded.get());
    }
    // A history window opened from the "main window": the view's hub and library.
    frmRecorder* NewWindow() {
        auto* window = new frmRecorder;
        opened.emplace_back(window);
        window->InitFromEditor(windows, hub, view.CurrentITypeLib().get());
        QCoreApplication::processEvents();
        return window;
    }
    // The main window's re-attaching of its history windows.
    void AttachAll() {
        for (IRecorderWindow* window : windows->Snapshot())
            window->AttachLibrary(view.CurrentITypeLib().get(), view.UnresolvedTypes().get(), false);
    }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr, const char* param = nullptr) {
        return treetest::NodeAt(view.Tree(), type, member, param);
    }
    void Select(QTreeWidgetItem* node) { treetest::ClickNode(view.Tree(), node); }
    void ToggleFlag(const char* name) {
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        QListWidgetItem* item = options->findItems(QString::fromUtf8(name), Qt::MatchExactly).value(0);
        ASSERT_TRUE(item) << name;
        options->setFocus();
        options->setCurrentItem(item);
        QTest::keyClick(options, Qt::Key_Space);
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode()) << name;
    }
    void TypeVersion(const char* text) {
        auto* edit = static_cast<QLineEdit*>(view.DetailsField(Field::Version));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
        QTest::keyClick(edit, Qt::Key_Return);
        ASSERT_FALSE(view.InEditMode()) << text;
    }
    // The edits of the session: four attribute edits of three items.
    void EditInView() {
        Select(view.Tree()->topLevelItem(0));
        TypeVersion("3.1");
        Select(At("Widget"));
        ToggleFlag("hidden");
        Select(At("IShape"));
        ToggleFlag("hidden");
        TypeVersion("2.4");
    }
    void Key(frmRecorder& window, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(window.List()->ListView(), key, mods);
        QCoreApplication::processEvents();
    }
    std::string Caption(frmRecorder& window) { return window.windowTitle().toStdString(); }
    std::vector<std::string> Glyphs(frmRecorder& window) {
        std::vector<std::string> marks;
        for (const std::string& line : Lines(*window.List())) marks.push_back(line.substr(0, 2));
        return marks;
    }
    std::vector<std::byte> Saved(const char* file) {
        view.SaveCurrentLibrary(ole::FromUtf8((dir / file).string()));
        return testsupport::ReadBytes(dir / file);
    }
    // Saves the view's library as renamed.tlb with type renamed, for a
    // history whose items on type then name a type that library lacks.
    void SaveWithTypeRenamed(const char* type, const char* renamed) {
        Select(At(type));
        treetest::RenameCurrentNode(view.Tree(), renamed);
        Saved("renamed.tlb");
    }
    // Opens renamed.tlb in the view and s.leh in window (not saving what the
    // window recorded), attached to that library.
    void ReopenOnRenamed(frmRecorder* window) {
        OpenInView("renamed.tlb");
        services.answers = {dialogs::kAnswerNo};
        services.files.push_back(Q(dir / "s.leh"));
        window->MenuAction(1)->trigger();
        window->AttachLibrary(view.CurrentITypeLib().get(), nullptr, false);
    }

    testsupport::TempDir dir;
    ScriptedServices services;
    dialogs::ScopedUiServices scoped{services};
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    SharedRecorderWindows windows;
    std::vector<QPointer<frmRecorder>> opened;
};

TEST_F(RecorderWindowTest, EditsAreRecordedSavedReopenedAndReplayedOnAFreshCopy) {
    frmRecorder* recording = NewWindow();
    ASSERT_TRUE(recording->isVisible());
    EXPECT_EQ(Caption(*recording), "Library Edit History - (New History)");
    EXPECT_EQ(windows->size(), 1u);
    EditInView();
    ASSERT_EQ(recording->List()->ListCount(), 5);
    EXPECT_TRUE(recording->Dirty());
    EXPECT_EQ(Caption(*recording), "Library Edit History - (New History)");  // no mark without a file
    EXPECT_TRUE(recording->ButtonAction(Button::Save)->isEnabled());
    EXPECT_FALSE(recording->ButtonAction(Button::Revert)->isEnabled());
    const std::vector<std::byte> live = Saved("live.tlb");

    // Ctrl+S saves, asking for a name: there is no file yet. A screen reader
    // hears the title that names it.
    services.files.push_back(Q(dir / "session.leh"));
    std::optional<shelltest::NameChanges> told(std::in_place);
    Key(*recording, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(told->Of(recording), std::vector<shelltest::NameChanges::Change>(
                                       {{recording, -1, recording->windowTitle()}}));
    told.reset();
    ASSERT_EQ(services.requests.size(), 1u);
    EXPECT_EQ(services.requests[0].Title, "Save Library Edit History As");
    EXPECT_EQ(services.requests[0].DefaultExtension, "leh");
    ASSERT_TRUE(fs::exists(dir / "session.leh"));
    EXPECT_FALSE(recording->Dirty());
    EXPECT_EQ(Caption(*recording), "Library Edit History - (" + (dir / "session.leh").string() + ")");

    // A fresh copy of the starting library in the view; a second window opens the history.
    OpenInView("in.tlb");
    AttachAll();
    frmRecorder* replaying = NewWindow();
    services.files.push_back(Q(dir / "session.leh"));
    replaying->MenuAction(1)->trigger();
    ASSERT_EQ(replaying->List()->ListCount(), 5);
    EXPECT_EQ(Glyphs(*replaying), (std::vector<std::string>{"> ", "  ", "  ", "  ", "  "}));
    EXPECT_EQ(replaying->HistoryPath(), ole::FromUtf8((dir / "session.leh").string()));
    // The recording window records nothing of the replay: the replay skips the engine that replays.
    const int recorded = recording->List()->ListCount();

    // F8 steps over the first line; F9 sets a breakpoint on the third; F5 stops there.
    Key(*replaying, Qt::Key_F8);
    EXPECT_EQ(Glyphs(*replaying)[1], "> ");
    replaying->List()->ListIndex(3);
    Key(*replaying, Qt::Key_F9);
    EXPECT_EQ(Glyphs(*replaying)[3], "* ");
    Key(*replaying, Qt::Key_F5);
    EXPECT_EQ(Glyphs(*replaying), (std::vector<std::string>{"  ", "  ", "  ", "*>", "  "}));
    // Ctrl+Shift+F8 runs to the end line; Ctrl+Shift+F9 clears the breakpoints.
    replaying->List()->ListIndex(4);
    Key(*replaying, Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Glyphs(*replaying), (std::vector<std::string>{"  ", "  ", "  ", "* ", "> "}));
    Key(*replaying, Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Glyphs(*replaying)[3], "  ");
    EXPECT_FALSE(replaying->Dirty());  // the window's own commands leave it unchanged
    EXPECT_EQ(recording->List()->ListCount(), recorded + 4);  // the first window recorded the replay
    EXPECT_EQ(Saved("replayed.tlb"), live);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();

    // Shift+F5 restarts, although the menu doesn't offer it.
    Key(*replaying, Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_EQ(Glyphs(*replaying)[0], "> ");
}

TEST_F(RecorderWindowTest, SetNextStatementAndDeleteMoveThePositionAndSkipItems) {
    frmRecorder* recording = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "session.leh"));
    recording->ButtonAction(Button::Save)->trigger();
    recording->close();
    EXPECT_TRUE(windows->empty());
    OpenInView("in.tlb");
    frmRecorder* window = NewWindow();
    services.files.push_back(Q(dir / "session.leh"));
    window->MenuAction(1)->trigger();
    // Set Next Statement to line 2: lines 0 and 1 (the library's version and
    // Widget's flag) are skipped.
    window->List()->ListIndex(2);
    EXPECT_TRUE(window->ButtonAction(Button::SetNextStatement)->isEnabled());
    window->ButtonAction(Button::SetNextStatement)->trigger();
    EXPECT_EQ(Glyphs(*window), (std::vector<std::string>{"  ", "  ", "> ", "  ", "  "}));
    // Delete removes the current line (IShape's flag) and marks the history changed.
    Key(*window, Qt::Key_Delete);
    ASSERT_EQ(window->List()->ListCount(), 4);
    EXPECT_EQ(Glyphs(*window), (std::vector<std::string>{"  ", "  ", "> ", "  "}));
    EXPECT_TRUE(window->Dirty());
    EXPECT_EQ(Caption(*window), "Library Edit History - (" + (dir / "session.leh").string() + " *)");
    EXPECT_TRUE(window->ButtonAction(Button::Revert)->isEnabled());
    Key(*window, Qt::Key_F5);
    // Only IShape's version was applied.
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "out.tlb").string()));
    ComPtr<ITypeLib> out;
    ASSERT_OK(LoadTypeLibEx(ole::FromUtf8((dir / "out.tlb").string()).c_str(), REGKIND_NONE, out.put()));
    TLIBATTR* lattr = nullptr;
    ASSERT_OK(out->GetLibAttr(&lattr));
    EXPECT_NE(lattr->wMajorVerNum, 3);
    out->ReleaseTLibAttr(lattr);
    const ComPtr<ITypeInfo> shape = changestest::TypeNamed(out.get(), u"IShape");
    const ComPtr<ITypeInfo> widget = changestest::TypeNamed(out.get(), u"Widget");
    TYPEATTR* attr = nullptr;
    ASSERT_OK(shape->GetTypeAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 2);
    EXPECT_EQ(attr->wMinorVerNum, 4);
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    shape->ReleaseTypeAttr(attr);
    ASSERT_OK(widget->GetTypeAttr(&attr));
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    widget->ReleaseTypeAttr(attr);
    // Ctrl+Delete reverts to the file after asking to save (No).
    services.answers = {dialogs::kAnswerNo};
    Key(*window, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(window->List()->ListCount(), 5);
    EXPECT_FALSE(window->Dirty());
    EXPECT_EQ(services.LastMessage(), "Would you like to save changes to '" + (dir / "session.leh").string() + "'?");
}

// A toolbar button's tooltip names a key only when that key does what the
// button does: pressed on the same history at the same line, it leaves the
// list, the window and the view as the button leaves them. Ctrl+F9 runs
// Select Target, so Set Next Statement's tooltip names no key.
TEST_F(RecorderWindowTest, EveryKeyATooltipNamesDoesWhatItsButtonDoes) {
    frmRecorder* recording = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "session.leh"));
    recording->ButtonAction(Button::Save)->trigger();
    const Button commands[] = {Button::Run, Button::Step, Button::RunToCursor, Button::SetNextStatement,
                               Button::ToggleBreakpoint, Button::ClearBreakpoints, Button::Delete};
    std::vector<QString> tips;
    for (Button button : commands) tips.push_back(recording->ButtonAction(button)->toolTip());
    recording->close();
    struct Outcome {
        std::vector<std::string> lines;
        bool dirty = false;
        std::string selected;
        bool operator==(const Outcome&) const = default;
    };
    const auto run = [&](const std::function<void(frmRecorder&)>& act) {
        OpenInView("in.tlb");
        frmRecorder* window = NewWindow();
        services.files.push_back(Q(dir / "session.leh"));
        window->MenuAction(1)->trigger();
        window->List()->ListIndex(2);
        QCoreApplication::processEvents();
        act(*window);
        QCoreApplication::processEvents();
        Outcome outcome{Lines(*window->List()), window->Dirty(),
                        view.Tree()->currentItem() ? view.Tree()->currentItem()->text(0).toStdString() : ""};
        services.answers = {dialogs::kAnswerNo};
        window->close();
        QCoreApplication::processEvents();
        return outcome;
    };
    int named = 0;
    for (size_t i = 0; i < tips.size(); ++i) {
        const Button button = commands[i];
        // The key in brackets at the end of the tooltip, as "Ctrl-Shift-F8".
        const QString& tip = tips[i];
        const qsizetype open = tip.lastIndexOf(QLatin1String(" ("));
        if (open < 0 || !tip.endsWith(QLatin1Char(')'))) continue;
        QString keyText = tip.mid(open + 2, tip.size() - open - 3);
        keyText.replace(QLatin1Char('-'), QLatin1Char('+'));
        const QKeySequence sequence = QKeySequence::fromString(keyText);
        ASSERT_EQ(sequence.count(), 1) << tip.toStdString();
        ++named;
        const Outcome pressed = run([&](frmRecorder& w) {
            Key(w, sequence[0].key(), sequence[0].keyboardModifiers());
        });
        const Outcome clicked = run([&](frmRecorder& w) { w.ButtonAction(button)->trigger(); });
        EXPECT_TRUE(pressed == clicked) << tip.toStdString() << ": the key leaves "
                                        << ::testing::PrintToString(pressed.lines) << " at '" << pressed.selected
                                        << "', the button " << ::testing::PrintToString(clicked.lines) << " at '"
                                        << clicked.selected << "'";
    }
    EXPECT_EQ(named, 6);
    // The key table stays: Ctrl+F9 selects the target, which Set Next Statement doesn't.
    const Outcome target = run([&](frmRecorder& w) { Key(w, Qt::Key_F9, Qt::ControlModifier); });
    const Outcome next = run([&](frmRecorder& w) { w.ButtonAction(Button::SetNextStatement)->trigger(); });
    EXPECT_FALSE(target == next);
}

// The list's menu and the File menu show the keys the window runs their
// commands with (Set Next Statement has none: its access key is told), as a
// reader hears them and on screen, light and dark.
TEST_F(RecorderWindowTest, TheMenusShowTheKeysThatWorkThere) {
    frmRecorder* window = NewWindow();
    EditInView();
    window->List()->ListIndex(1);
    const auto keys = [](QMenu* menu) {
        std::vector<std::string> told;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(menu);
        for (int i = 0; accessible && i < accessible->childCount(); ++i)
            if (menu->actions().value(i) && menu->actions()[i]->isVisible() && !menu->actions()[i]->isSeparator())
                told.push_back(accessible->child(i)->text(QAccessible::Accelerator).toStdString());
        return told;
    };
    EXPECT_EQ(keys(window->List()->ContextMenu()),
              (std::vector<std::string>{"F5", "F8", "Ctrl+Shift+F8", "Alt+N", "F9", "Ctrl+Shift+F9", "Del", "Ctrl+F9"}));
    EXPECT_EQ(keys(window->FileMenu()), (std::vector<std::string>{"Alt+N", "Alt+O", "Ctrl+S", "Alt+A", "Alt+C"}));
    for (bool dark : {false, true})
        for (QMenu* menu : {window->List()->ContextMenu(), window->FileMenu()}) {
            if (dark) menu->setPalette(testsupport::DarkPalette());
            menu->popup(window->mapToGlobal(QPoint(0, 0)));
            QCoreApplication::processEvents();
            SaveScreenshots(*menu, std::string(menu == window->FileMenu() ? "recorder-file-menu" : "recorder-list-menu") +
                                       (dark ? "-dark" : ""));
            menu->hide();
        }
}

// A file chooser that closes leaves the active window to the platform, which
// may activate the main window: after File > Open a reader hears that the
// history window is active, and last of the focus on the history's line.
TEST_F(RecorderWindowTest, AfterOpenTheWindowIsActiveAndAReaderHearsTheLine) {
    frmRecorder* window = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    shelltest::ActivationReader reader;
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(1)->trigger();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QCoreApplication::processEvents();
    EXPECT_EQ(reader.active.toStdString(), Caption(*window));
    const QModelIndex line = window->List()->ListView()->currentIndex();
    ASSERT_TRUE(line.isValid());
    EXPECT_EQ(reader.focus, line.data(Qt::AccessibleTextRole).toString());
}

// In a window too narrow for its toolbar, the button that shows the rest
// ("»") has a name a screen reader reads.
TEST_F(RecorderWindowTest, TheToolbarsOverflowButtonIsNamed) {
    frmRecorder* window = NewWindow();
    window->resize(window->fontMetrics().averageCharWidth() * 10, window->height());
    QCoreApplication::processEvents();
    auto* more = window->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
    ASSERT_TRUE(more);
    EXPECT_TRUE(more->isVisible());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(more);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("More commands"));
}

TEST_F(RecorderWindowTest, SavingAnEmptyHistoryWritesNothingAndOffersToDeleteTheOldFile) {
    frmRecorder* window = NewWindow();
    // Ctrl+Delete without a file does nothing.
    Key(*window, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(services.messages.empty());
    services.files.push_back(Q(dir / "empty.leh"));
    window->MenuAction(3)->trigger();  // Save As
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.LastMessage(), "'empty.leh' was not saved because there are no actions in the edit history.");
    EXPECT_EQ(services.styles.back(), 65);
    EXPECT_FALSE(fs::exists(dir / "empty.leh"));
    EXPECT_TRUE(window->HistoryPath().empty());
    // Over an existing file: 166, and Yes deletes it.
    std::ofstream(dir / "old.leh") << "WEXO";
    services.files.push_back(Q(dir / "old.leh"));
    services.answers = {dialogs::kAnswerYes};
    window->MenuAction(3)->trigger();
    EXPECT_EQ(services.LastMessage(),
              "'old.leh' was not modified because there are no actions in the edit history. Would you like to delete "
              "this file?");
    EXPECT_EQ(services.styles.back(), 292);
    EXPECT_FALSE(fs::exists(dir / "old.leh"));
    EXPECT_TRUE(window->HistoryPath().empty());
    EXPECT_EQ(Caption(*window), "Library Edit History - (New History)");
}

// A history file the window emptied and deleted may take the history again:
// nobody else wrote it.
TEST_F(RecorderWindowTest, AHistoryFileTheWindowDeletedMayBeSavedAgain) {
    frmRecorder* recording = NewWindow();
    Select(At("Widget"));
    ToggleFlag("hidden");
    services.files.push_back(Q(dir / "mine.leh"));
    Key(*recording, Qt::Key_S, Qt::ControlModifier);
    recording->close();
    OpenInView("in.tlb");
    frmRecorder* window = NewWindow();
    services.files.push_back(Q(dir / "mine.leh"));
    window->MenuAction(1)->trigger();
    window->List()->ListIndex(0);
    Key(*window, Qt::Key_Delete);
    services.answers = {dialogs::kAnswerYes};
    Key(*window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_FALSE(fs::exists(dir / "mine.leh"));
    services.messages.clear();
    Select(At("IShape"));
    ToggleFlag("hidden");
    services.files.push_back(Q(dir / "mine.leh"));
    Key(*window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    EXPECT_TRUE(fs::exists(dir / "mine.leh"));
    EXPECT_EQ(window->HistoryPath(), ole::FromUtf8((dir / "mine.leh").string()));
}

// Two windows on one history file that has a second name, then the file
// replaced from outside: a save keeps the other name, never overwrites what
// another writer saved since the window read or saved the file, says so and
// offers Save As, from Ctrl+S as from the close question; a Save As onto the
// file writes it.
TEST_F(RecorderWindowTest, ASaveKeepsOtherNamesAndNeverOverwritesAnotherWritersSave) {
    frmRecorder* first = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "s.leh"));
    Key(*first, Qt::Key_S, Qt::ControlModifier);
    fs::create_hard_link(dir / "s.leh", dir / "other-name.leh");
    frmRecorder* second = NewWindow();
    services.files.push_back(Q(dir / "s.leh"));
    second->MenuAction(1)->trigger();
    Select(At("Widget"));
    ToggleFlag("hidden");
    Key(*first, Qt::Key_S, Qt::ControlModifier);
    const std::vector<std::byte> firsts = testsupport::ReadBytes(dir / "s.leh");
    EXPECT_EQ(testsupport::ReadBytes(dir / "other-name.leh"), firsts);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();

    const std::string refused = "'" + (dir / "s.leh").string() +
                                "' was changed, replaced or removed by another program or history window since "
                                "this history was read or saved, and it was not overwritten. Would you like to save "
                                "the history under another name?";
    services.answers = {dialogs::kAnswerYes};
    services.files.push_back(Q(dir / "second.leh"));
    Key(*second, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(services.LastMessage(), refused);
    EXPECT_EQ(services.styles.back(), dialogs::kStyleYesNo | dialogs::kStyleExclamation);
    EXPECT_EQ(testsupport::ReadBytes(dir / "s.leh"), firsts);
    EXPECT_EQ(second->HistoryPath(), ole::FromUtf8((dir / "second.leh").string()));
    EXPECT_FALSE(second->Dirty());

    fs::copy_file(dir / "second.leh", dir / "theirs.leh");
    fs::rename(dir / "theirs.leh", dir / "s.leh");
    Select(At("IShape"));
    ToggleFlag("hidden");
    services.messages.clear();
    services.answers = {dialogs::kAnswerYes, dialogs::kAnswerNo};  // save the changes, but not elsewhere
    EXPECT_FALSE(first->close());
    EXPECT_EQ(services.LastMessage(), refused);
    EXPECT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(testsupport::ReadBytes(dir / "s.leh"), testsupport::ReadBytes(dir / "second.leh"));
    EXPECT_TRUE(first->Dirty());

    // Saved under another name, which the user chose as the same file and so
    // agreed to replace: it is written, and is the history's again.
    services.answers = {dialogs::kAnswerYes};
    services.files.push_back(Q(dir / "s.leh"));
    Key(*first, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(services.messages.size(), 3u) << services.LastMessage();
    EXPECT_FALSE(first->Dirty());
    EXPECT_NE(testsupport::ReadBytes(dir / "s.leh"), testsupport::ReadBytes(dir / "second.leh"));
    Select(At("Widget"));
    ToggleFlag("hidden");
    Key(*first, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(services.messages.size(), 3u) << services.LastMessage();
    EXPECT_FALSE(first->Dirty());
}

TEST_F(RecorderWindowTest, TheFileMenuTheCloseQuestionAndNew) {
    frmRecorder* window = NewWindow();
    window->FileMenu()->popup(window->mapToGlobal(QPoint(0, 0)));  // its opening sets Save's state
    EXPECT_FALSE(window->MenuAction(2)->isEnabled());
    window->FileMenu()->hide();
    EditInView();
    services.files.push_back(Q(dir / "s.leh"));
    window->ButtonAction(Button::Save)->trigger();  // Save without a file is a Save As
    ASSERT_EQ(window->HistoryPath(), ole::FromUtf8((dir / "s.leh").string()));
    Select(At("Widget"));
    ToggleFlag("hidden");
    ASSERT_TRUE(window->Dirty());
    window->FileMenu()->popup(window->mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(window->MenuAction(2)->isEnabled());
    window->FileMenu()->hide();
    // Closing asks; Cancel keeps the window open.
    services.answers = {dialogs::kAnswerCancel};
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(services.styles.back(), 35);
    // New asks too; No empties the history.
    services.answers = {dialogs::kAnswerNo};
    window->MenuAction(0)->trigger();
    EXPECT_EQ(window->List()->ListCount(), 1);
    EXPECT_TRUE(window->HistoryPath().empty());
    EXPECT_FALSE(window->Dirty());
    // The window goes with its engine's registration at the hub.
    QPointer<frmRecorder> gone(window);
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(gone);
    Select(At("Widget"));
    ToggleFlag("hidden");  // reaches no history
}

TEST_F(RecorderWindowTest, InEditModeOnlyTheBreakpointCommandsRun) {
    frmRecorder* window = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    OpenInView("in.tlb");
    AttachAll();
    window->List()->ListIndex(1);
    EXPECT_TRUE(window->ButtonAction(Button::Run)->isEnabled());
    window->InEditMode(true);
    EXPECT_FALSE(window->List()->isEnabled());
    EXPECT_FALSE(window->ButtonAction(Button::Run)->isEnabled());
    EXPECT_FALSE(window->ButtonAction(Button::Delete)->isEnabled());
    EXPECT_TRUE(window->ButtonAction(Button::ToggleBreakpoint)->isEnabled());
    QTest::keyClick(window, Qt::Key_F5);
    QTest::keyClick(window, Qt::Key_F8);
    QTest::keyClick(window, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Glyphs(*window)[0], "> ");
    // Refused as the view refuses to move on, saying why.
    EXPECT_EQ(services.messages, std::vector<QString>(3, dialogs::ResText(175)));
    EXPECT_EQ(services.beeps, 0);
    QTest::keyClick(window, Qt::Key_F9);
    EXPECT_EQ(Glyphs(*window)[1], "* ");
    QTest::keyClick(window, Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Glyphs(*window)[1], "  ");
    // A changed history can't be reverted while the view edits.
    QTest::keyClick(window, Qt::Key_F9);
    window->List()->Playback()->ExecuteCommand(kCmdDelete, 4, window->List()->ItemData(4));
    EXPECT_TRUE(window->Dirty());
    EXPECT_FALSE(window->ButtonAction(Button::Revert)->isEnabled());
    window->AttachLibrary(view.CurrentITypeLib().get(), nullptr, false);  // leaves edit mode
    EXPECT_TRUE(window->List()->isEnabled());
    EXPECT_TRUE(window->ButtonAction(Button::Revert)->isEnabled());
}

// The window goes while someone still holds its engine, which then records
// nothing and reaches neither the window nor its list (the sanitizer checks).
TEST_F(RecorderWindowTest, AWindowGoneBeforeItsEngineLeavesItUnbound) {
    frmRecorder* window = NewWindow();
    EditInView();
    std::shared_ptr<Playback> engine = window->Engine();
    delete window;
    EXPECT_TRUE(windows->empty());
    EXPECT_FALSE(engine->ChangeListener());
    EXPECT_EQ(engine->ItemCount(), 0);
    Select(At("Widget"));
    ToggleFlag("hidden");
    EXPECT_EQ(engine->ItemCount(), 0);
    EXPECT_FALSE(engine->ActivateUI());
    engine.reset();
}

// A history recorded on IShape replayed on a library where it is named
// IShape2: the window asks for the type, and the choice renames the item.
TEST_F(RecorderWindowTest, AMissingTargetIsAskedForThroughTheChooseNameDialog) {
    frmRecorder* window = NewWindow();
    Select(At("IShape"));
    ToggleFlag("hidden");
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    SaveWithTypeRenamed("IShape", "IShape2");
    ReopenOnRenamed(window);
    ASSERT_EQ(window->List()->ListCount(), 2);
    services.messages.clear();
    std::vector<std::string> asked;
    frmRecorder::SetNameDialog([&](QWidget* owner, const ChooseNameRequest& request) -> std::optional<size_t> {
        EXPECT_EQ(owner, window);
        asked.push_back(ole::ToUtf8(request.Message));
        for (size_t i = 0; i < request.Entries.size(); ++i)
            if (request.Entries[i].Text == u"IShape2") return i;
        return std::nullopt;
    });
    Key(*window, Qt::Key_F5);
    frmRecorder::SetNameDialog({});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("'IShape'"), std::string::npos) << asked[0];
    EXPECT_NE(window->List()->List(0).indexOf("IShape2"), -1) << window->List()->List(0).toStdString();
    EXPECT_TRUE(window->Dirty());  // the re-targeted item changed the history
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    // Cancelled, the run stops with "Element not found."
    services.files.push_back(Q(dir / "s.leh"));
    services.answers = {dialogs::kAnswerNo};
    window->MenuAction(1)->trigger();
    ASSERT_EQ(window->List()->List(0).indexOf("IShape2"), -1);
    OpenInView("renamed.tlb");
    window->AttachLibrary(view.CurrentITypeLib().get(), nullptr, false);
    Key(*window, Qt::Key_F5);
    ASSERT_FALSE(services.messages.empty());
    EXPECT_EQ(services.LastMessage().rfind("Element not found", 0), 0u) << services.LastMessage();
    EXPECT_EQ(services.styles.back(), 48);
}


// A type chosen for a missing one, then the member's choice cancelled: the
// item keeps its target, its text and the history its clean state; a later
// save writes what was read, and the next run asks for the same type again.
TEST_F(RecorderWindowTest, AChoiceCancelledHalfWayLeavesTheItemAsItWas) {
    frmRecorder* window = NewWindow();
    Select(At("IBase", "Alpha"));
    ToggleFlag("hidden");
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    // IBase renamed in a copy: the item's type is missing there.
    SaveWithTypeRenamed("IBase", "IBase2");
    ReopenOnRenamed(window);
    ASSERT_EQ(window->List()->ListCount(), 2);
    const QString text = window->List()->List(0);
    ASSERT_FALSE(window->Dirty());
    // IDerived chosen for IBase; then IDerived has no Alpha of its own: cancelled.
    std::vector<std::string> asked;
    frmRecorder::SetNameDialog([&](QWidget*, const ChooseNameRequest& request) -> std::optional<size_t> {
        asked.push_back(ole::ToUtf8(request.Message));
        for (size_t i = 0; i < request.Entries.size(); ++i)
            if (request.Entries[i].Text == u"IDerived") return i;
        return std::nullopt;
    });
    Key(*window, Qt::Key_F5);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[1].find("'Alpha'"), std::string::npos) << asked[1];
    EXPECT_EQ(services.LastMessage().rfind("Element not found", 0), 0u) << services.LastMessage();
    EXPECT_EQ(window->List()->List(0), text);
    EXPECT_FALSE(window->Dirty());
    services.files.push_back(Q(dir / "again.leh"));
    window->MenuAction(3)->trigger();
    EXPECT_EQ(testsupport::ReadBytes(dir / "again.leh"), testsupport::ReadBytes(dir / "s.leh"));
    asked.clear();
    Key(*window, Qt::Key_F5);
    frmRecorder::SetNameDialog({});
    ASSERT_FALSE(asked.empty());
    EXPECT_NE(asked[0].find("'IBase'"), std::string::npos) << asked[0];
}

// A parameter's item replayed where its type, member and parameter are all
// missing: the choice cancelled at each of the three questions, in a run or
// in Select Target, leaves the item as it was read (its text, the history's
// clean state, the file a save writes); the three answered re-target the
// item, which then reads, is marked and saves as changed, and the next run
// asks nothing.
TEST_F(RecorderWindowTest, AChoiceCancelledAtAnyStepLeavesTheItemAndAnAnsweredOneIsShownMarkedAndSaved) {
    frmRecorder* window = NewWindow();
    Select(At("IBase", "Item", "a"));
    treetest::RenameCurrentNode(view.Tree(), "first");
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    // A copy without IBase: IDerived's Go(speed) is offered for IBase's Item(a).
    OpenInView("in.tlb");
    SaveWithTypeRenamed("IBase", "IBase2");
    ReopenOnRenamed(window);
    ASSERT_EQ(window->List()->ListCount(), 2);
    const QString text = window->List()->List(0);
    const std::vector<std::byte> history = testsupport::ReadBytes(dir / "s.leh");
    size_t answered = 0, cancelAt = 0;
    frmRecorder::SetNameDialog([&](QWidget*, const ChooseNameRequest& request) -> std::optional<size_t> {
        const char16_t* choices[] = {u"IDerived", u"Go", u"speed"};
        if (++answered == cancelAt) return std::nullopt;
        for (size_t i = 0; i < request.Entries.size(); ++i)
            if (request.Entries[i].Text == choices[answered - 1]) return i;
        return std::nullopt;
    });
    // Run (F5), and Select Target (Ctrl+F9), which asks the same way.
    for (int step = 0; step < 6; ++step) {
        cancelAt = 1 + step / 2;
        const bool select = step % 2 != 0;
        SCOPED_TRACE(std::to_string(cancelAt) + (select ? " select target" : " run"));
        answered = 0;
        services.messages.clear();
        Key(*window, select ? Qt::Key_F9 : Qt::Key_F5, select ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_EQ(answered, cancelAt);
        EXPECT_EQ(services.LastMessage().rfind("Element not found", 0), 0u) << services.LastMessage();
        EXPECT_EQ(window->List()->List(0), text);
        EXPECT_FALSE(window->Dirty());
        services.files.push_back(Q(dir / "again.leh"));
        window->MenuAction(3)->trigger();
        EXPECT_EQ(testsupport::ReadBytes(dir / "again.leh"), history);
    }
    answered = cancelAt = 0;
    services.messages.clear();
    Key(*window, Qt::Key_F5);
    EXPECT_EQ(answered, 3u);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    EXPECT_NE(window->List()->List(0).indexOf("IDerived"), -1) << window->List()->List(0).toStdString();
    EXPECT_TRUE(window->Dirty());
    Key(*window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(window->Dirty());
    EXPECT_NE(testsupport::ReadBytes(dir / "again.leh"), history);
    // The saved item runs on another copy without a question.
    fs::copy_file(dir / "again.leh", dir / "s.leh", fs::copy_options::overwrite_existing);
    ReopenOnRenamed(window);
    answered = 0;
    Key(*window, Qt::Key_F5);
    frmRecorder::SetNameDialog({});
    EXPECT_EQ(answered, 0u);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    EXPECT_TRUE(At("IDerived", "Go", "first"));
}


}  // namespace
}  // namespace recordertest

namespace recordertest {
namespace {

// The window at each glyph state, light and dark, for a person to look at.
TEST_F(RecorderWindowTest, ScreenshotsOfEveryGlyphState) {
    frmRecorder* window = NewWindow();
    EditInView();
    Recorder& list = *window->List();
    const std::shared_ptr<IPlayback>& engine = list.Playback();
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    engine->ExecuteCommand(kCmdToggleBreakpoint, 2, list.ItemData(2));
    for (bool dark : {false, true}) {
        if (dark) window->setPalette(testsupport::DarkPalette());
        const std::string theme = dark ? "-dark" : "";
        // The position on the first line, a breakpoint on the third.
        list.ListIndex(1);
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "recorder-position-and-breakpoint" + theme);
        // Lines longer than a narrow window, cut at their end.
        const QSize size = window->size();
        window->resize(window->fontMetrics().averageCharWidth() * 34, size.height());
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "recorder-long-lines" + theme);
        window->resize(size);
        // The position on the breakpoint, the last line selected.
        engine->ExecuteCommand(kCmdSetNextStatement, 2, list.ItemData(2));
        list.ListIndex(4);
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "recorder-position-on-breakpoint" + theme);
        // The position at the end, the view editing (the list disabled).
        engine->ExecuteCommand(kCmdSetNextStatement, -1, 0);
        window->InEditMode(true);
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "recorder-at-end-editing" + theme);
        window->InEditMode(false);
        engine->ExecuteCommand(kCmdRestart, -1, 0);
    }
}

// A history file cut short or made up is refused with a message, whether
// opened or reverted to, and the window keeps the history it had, its file
// and its state.
TEST_F(RecorderWindowTest, ADamagedHistoryFileIsRefusedAndTheHistoryStays) {
    frmRecorder* window = NewWindow();
    EditInView();
    services.files.push_back(Q(dir / "s.leh"));
    window->MenuAction(3)->trigger();
    ASSERT_FALSE(window->Dirty());
    const std::vector<std::byte> whole = testsupport::ReadBytes(dir / "s.leh");
    ASSERT_GT(whole.size(), 32u);
    const auto write = [&](const char* name, size_t keep, size_t junk) {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(keep));
        for (size_t i = 0; i < junk; ++i) out.put(static_cast<char>(0xFF));
    };
    write("cut.leh", whole.size() / 2, 0);
    write("crafted.leh", whole.size() / 2, 4096);
    write("short.leh", whole.size() - 1, 0);
    const std::vector<std::string> before = Lines(*window->List());
    const std::u16string path = window->HistoryPath();
    for (const char* name : {"cut.leh", "crafted.leh", "short.leh"}) {
        services.files.push_back(Q(dir / name));
        const size_t shown = services.messages.size();
        window->MenuAction(1)->trigger();
        ASSERT_EQ(services.messages.size(), shown + 1) << name;
        EXPECT_EQ(services.styles.back(), 48) << name;
        EXPECT_FALSE(services.messages.back().trimmed().isEmpty()) << name;
        EXPECT_EQ(Lines(*window->List()), before) << name;
        EXPECT_EQ(window->HistoryPath(), path) << name;
        EXPECT_FALSE(window->Dirty()) << name;
    }
    // The saved file damaged since: Ctrl+Delete after an edit, not saving it.
    fs::copy_file(dir / "cut.leh", dir / "s.leh", fs::copy_options::overwrite_existing);
    Select(At("Widget"));
    ToggleFlag("hidden");
    ASSERT_TRUE(window->Dirty());
    const std::vector<std::string> changed = Lines(*window->List());
    services.answers = {dialogs::kAnswerNo};
    const size_t shown = services.messages.size();
    Key(*window, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(services.messages.size(), shown + 2);  // the question, then the refusal
    EXPECT_EQ(services.styles.back(), 48);
    EXPECT_EQ(Lines(*window->List()), changed);
    EXPECT_TRUE(window->Dirty());
}

}  // namespace
}  // namespace recordertest

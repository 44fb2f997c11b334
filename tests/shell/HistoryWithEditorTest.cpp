// History windows beside the main window, as a user works with them: edits
// made in the main window are recorded, saved, reopened in a new window and
// replayed on a fresh copy of the library opened in the main window, which
// re-attaches its history windows; the main window's edit mode reaches them,
// New re-attaches them, and they stay open when it closes. And the command
// line's history windows with their one main window.
#include "RecorderTestSupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>

#include <fstream>

#include "ShellTestSupport.h"
#include "changes/hub/VTICache.h"
#include "editor/view/LibraryViewer.h"
#include "editor/ViewerTestSupport.h"
#include "platform/automation/Guid.h"
#include "shell/frmCorvane.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace recordertest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using Command = frmCorvane::Command;

// The main windows and history windows on screen.
template <class W>
std::vector<W*> Shown() {
    std::vector<W*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<W*>(widget); window && window->isVisible()) found.push_back(window);
    return found;
}

class HistoryWithEditor : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shelltest::EnsureApp();
        InstallRecorderWindows();
    }
    HistoryWithEditor() {
        ComPtr<ICreateTypeLib2> created = treetest::BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
        EXPECT_OK(created->SaveAllChanges());
    }
    ~HistoryWithEditor() override {
        for (QWidget* window : Shown<frmRecorder>()) delete window;
        for (QWidget* window : Shown<frmCorvane>()) delete window;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    frmCorvane* OpenEditor(const char* file) {
        auto* editor = new frmCorvane;
        editor->Init(nullptr, ole::FromUtf8((dir / file).string()), nullptr, nullptr, false, nullptr);
        QCoreApplication::processEvents();
        return editor;
    }
    frmRecorder* NewRecorderWindow(frmCorvane& editor) {
        editor.Action(Command::NewRecorderWindow)->trigger();
        QCoreApplication::processEvents();
        EXPECT_TRUE(editor.RecorderWindowList());
        if (!editor.RecorderWindowList()) return nullptr;
        return dynamic_cast<frmRecorder*>(editor.RecorderWindowList()->Snapshot().back());
    }
    void Select(editor::LibraryViewer& view, QTreeWidgetItem* node) { treetest::ClickNode(view.Tree(), node); }
    void ToggleFlag(editor::LibraryViewer& view, const char* type, const char* flag, bool update = true) {
        Select(view, treetest::NodeAt(view.Tree(), type));
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        QListWidgetItem* item = options->findItems(QString::fromUtf8(flag), Qt::MatchExactly).value(0);
        ASSERT_TRUE(item) << flag;
        options->setFocus();
        options->setCurrentItem(item);
        QTest::keyClick(options, Qt::Key_Space);
        if (update) QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    }
    void Rename(editor::LibraryViewer& view, const char* type, const char* name, const char* member = nullptr) {
        Select(view, treetest::NodeAt(view.Tree(), type, member));
        treetest::RenameCurrentNode(view.Tree(), QString::fromUtf8(name));
    }
    // The names under the library's node, or under a type's.
    std::vector<std::string> TypeNames(editor::LibraryViewer& view, const char* type = nullptr) {
        std::vector<std::string> names;
        QTreeWidgetItem* root = type ? treetest::NodeAt(view.Tree(), type) : view.Tree()->topLevelItem(0);
        for (int i = 0; root && i < root->childCount(); ++i) names.push_back(root->child(i)->text(0).toStdString());
        return names;
    }
    void TypeVersion(editor::LibraryViewer& view, const char* text) {
        auto* edit = static_cast<QLineEdit*>(view.DetailsField(Field::Version));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
        QTest::keyClick(edit, Qt::Key_Return);
    }
    // Adds a type from the library's context menu and names it in its label.
    // The add-type submenu's entries: alias, coclass, dispinterface, enum, interface, ...
    void AddType(editor::LibraryViewer& view, int32_t index, const char* name) {
        Select(view, view.Tree()->topLevelItem(0));
        view.RunMenuCommand(editor::MenuItem::mnuAddTypePick, index);
        QCoreApplication::processEvents();
        QLineEdit* label = treetest::LabelEditor(view.Tree());
        ASSERT_TRUE(label) << name;
        label->selectAll();
        QTest::keyClicks(label, QString::fromUtf8(name));
        QTest::keyClick(label, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::vector<std::byte> SavedFrom(editor::LibraryViewer& view, const char* file) {
        view.SaveCurrentLibrary(ole::FromUtf8((dir / file).string()));
        return testsupport::ReadBytes(dir / file);
    }
    std::string LibraryGuid(const char* file) {
        ComPtr<ITypeLib> lib;
        EXPECT_OK(LoadTypeLibEx(ole::FromUtf8((dir / file).string()).c_str(), REGKIND_NONE, lib.put()));
        TLIBATTR* attr = nullptr;
        if (!lib || ole::FAILED(lib->GetLibAttr(&attr))) return std::string();
        const std::string guid = ole::GuidToUtf8(attr->guid);
        lib->ReleaseTLibAttr(attr);
        return guid;
    }
    // File > New with a history window open on in.tlb, an interface added:
    // saves the main window's library as live.tlb and the history as
    // session.leh; returns live.tlb's bytes.
    std::vector<std::byte> RecordOnANewLibrary(frmCorvane*& editor, frmRecorder*& recording) {
        editor = OpenEditor("in.tlb");
        recording = NewRecorderWindow(*editor);
        if (!recording) return {};
        editor->Action(Command::New)->trigger();
        EXPECT_TRUE(editor->LibraryIsNew());
        EXPECT_EQ(Lines(*recording->List()), (std::vector<std::string>{"> "}));
        AddType(*editor->Viewer(), 4, "IAdded");
        std::vector<std::byte> live = SavedFrom(*editor->Viewer(), "live.tlb");
        services.files.push_back(Q(dir / "session.leh"));
        QTest::keyClick(recording->List()->ListView(), Qt::Key_S, Qt::ControlModifier);
        EXPECT_TRUE(fs::exists(dir / "session.leh"));
        return live;
    }
    std::vector<std::string> Glyphs(frmRecorder& window) {
        std::vector<std::string> marks;
        for (const std::string& line : Lines(*window.List())) marks.push_back(line.substr(0, 2));
        return marks;
    }

    testsupport::TempDir dir;
    ScriptedServices services;
    dialogs::ScopedUiServices scoped{services};
};

TEST_F(HistoryWithEditor, EditsInTheMainWindowAreRecordedSavedReopenedAndReplayedOnAFreshCopy) {
    frmCorvane* editor = OpenEditor("in.tlb");
    editor::LibraryViewer& view = *editor->Viewer();
    frmRecorder* recording = NewRecorderWindow(*editor);
    ASSERT_TRUE(recording && recording->isVisible());
    Select(view, view.Tree()->topLevelItem(0));
    TypeVersion(view, "3.1");
    ToggleFlag(view, "Widget", "hidden");
    ToggleFlag(view, "IShape", "hidden");
    TypeVersion(view, "2.4");
    ASSERT_EQ(recording->List()->ListCount(), 5);
    const std::vector<std::byte> live = SavedFrom(view, "live.tlb");
    services.files.push_back(Q(dir / "session.leh"));
    QTest::keyClick(recording->List()->ListView(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(fs::exists(dir / "session.leh"));

    // A fresh copy opened in the main window re-attaches the history window.
    fs::copy_file(dir / "in.tlb", dir / "fresh.tlb");
    services.answers = {dialogs::kAnswerNo};  // the main window's changes are not saved
    services.files.push_back(Q(dir / "fresh.tlb"));
    editor->Action(Command::Open)->trigger();
    ASSERT_EQ(editor->Path(), ole::FromUtf8((dir / "fresh.tlb").string()));
    EXPECT_EQ(Glyphs(*recording)[0], "> ");
    // A new window reopens the history and runs it.
    frmRecorder* replaying = NewRecorderWindow(*editor);
    ASSERT_EQ(editor->RecorderWindowList()->size(), 2u);
    services.files.push_back(Q(dir / "session.leh"));
    replaying->MenuAction(1)->trigger();
    ASSERT_EQ(replaying->List()->ListCount(), 5);
    QTest::keyClick(replaying->List()->ListView(), Qt::Key_F5);
    EXPECT_EQ(Glyphs(*replaying)[4], "> ");
    EXPECT_TRUE(editor->Dirty());
    EXPECT_EQ(SavedFrom(view, "replayed.tlb"), live);

    // The main window's edit mode reaches every history window.
    ToggleFlag(view, "Widget", "hidden", false);
    ASSERT_TRUE(view.InEditMode());
    EXPECT_FALSE(recording->List()->isEnabled());
    EXPECT_FALSE(replaying->List()->isEnabled());
    QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_TRUE(replaying->List()->isEnabled());

    // New re-attaches both to the new library.
    services.answers = {dialogs::kAnswerNo};
    editor->Action(Command::New)->trigger();
    for (frmRecorder* window : {recording, replaying}) {
        BSTR name = nullptr;
        ASSERT_OK(window->Engine()->CurrentITypeLib()->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
        EXPECT_EQ(std::u16string(name), u"NewLib");
        SysFreeString(name);
        EXPECT_EQ(Glyphs(*window)[0], "> ");
    }
    // Closing the main window leaves them open.
    services.answers = {dialogs::kAnswerNo};
    EXPECT_TRUE(editor->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Shown<frmCorvane>().empty());
    EXPECT_EQ(Shown<frmRecorder>().size(), 2u);
    EXPECT_TRUE(recording->List()->isEnabled());
}

// A run applies its items without touching the panes; once it ends they show
// what the library holds, and a type it renamed has its place in the tree.
TEST_F(HistoryWithEditor, AfterARunThePanesShowWhatTheLibraryHoldsAndRenamedTypesAreSorted) {
    frmCorvane* editor = OpenEditor("in.tlb");
    editor::LibraryViewer& view = *editor->Viewer();
    frmRecorder* recording = NewRecorderWindow(*editor);
    ASSERT_TRUE(recording);
    const auto version = [&] { return static_cast<QLineEdit*>(view.DetailsField(Field::Version))->text(); };
    Select(view, view.Tree()->topLevelItem(0));
    const QString before = version();
    TypeVersion(view, "2.5");
    Rename(view, "Widget", "AWidget");
    Rename(view, "IBase", "Aaa", "Zeta");
    ToggleFlag(view, "IShape", "hidden");
    ASSERT_EQ(recording->List()->ListCount(), 5);
    const std::vector<std::string> edited = TypeNames(view), members = TypeNames(view, "IBase");
    ASSERT_EQ(edited.front(), "AWidget");
    ASSERT_EQ(members.front(), "Aaa");

    // Replayed on a fresh copy, from the library's node: Run, and Run to
    // Cursor stopping at a breakpoint.
    for (bool toCursor : {false, true}) {
        SCOPED_TRACE(toCursor ? "run to cursor" : "run");
        fs::copy_file(dir / "in.tlb", dir / "fresh.tlb", fs::copy_options::overwrite_existing);
        services.answers = {dialogs::kAnswerNo};
        services.files.push_back(Q(dir / "fresh.tlb"));
        editor->Action(Command::Open)->trigger();
        ASSERT_EQ(Glyphs(*recording)[0], "> ");
        services.messages.clear();
        treetest::NodeAt(view.Tree(), "IBase")->setExpanded(true);
        Select(view, view.Tree()->topLevelItem(0));
        ASSERT_EQ(version(), before);
        if (toCursor) {
            Click(*recording->List(), 3);
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F9);  // a breakpoint on the fourth item
            Click(*recording->List(), 4);
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier);
            ASSERT_EQ(Glyphs(*recording)[3], "*>");
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F9);
        } else {
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F5);
            ASSERT_EQ(Glyphs(*recording)[4], "> ");
        }
        EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
        EXPECT_EQ(view.Tree()->currentItem(), view.Tree()->topLevelItem(0));
        EXPECT_EQ(version(), "2.5");
        QCoreApplication::processEvents();  // the deferred re-sorts
        EXPECT_EQ(TypeNames(view), edited);
        EXPECT_EQ(TypeNames(view, "IBase"), members);
        if (!toCursor) SaveScreenshots(*editor, "main-window-after-a-run");
    }
}

// A property's Let changed in the main window: the history's Select Target
// (after Set Next Statement on the item), and Step on a fresh copy, show the
// property on its Let tab with the Let's values, while another member was shown.
TEST_F(HistoryWithEditor, SelectTargetAndStepShowTheTabOfTheAccessorChanged) {
    frmCorvane* editor = OpenEditor("in.tlb");
    editor::LibraryViewer& view = *editor->Viewer();
    frmRecorder* recording = NewRecorderWindow(*editor);
    ASSERT_TRUE(recording);
    QTabBar* tabs = view.findChild<QTabBar*>();
    const auto current = [&] { return tabs->tabText(tabs->currentIndex()); };
    const auto hidden = [&] {
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        QListWidgetItem* item = options->findItems("hidden", Qt::MatchExactly).value(0);
        return item && item->checkState() == Qt::Checked;
    };
    Select(view, treetest::NodeAt(view.Tree(), "IShape", "Name"));
    ASSERT_EQ(tabs->tabText(1), "Let");
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_EQ(view.CurrentAccessor(), 4);
    auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
    options->setFocus();
    options->setCurrentItem(options->findItems("hidden", Qt::MatchExactly).value(0));
    QTest::keyClick(options, Qt::Key_Space);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(recording->List()->ListCount(), 2);
    const auto showAnother = [&] {
        Select(view, treetest::NodeAt(view.Tree(), "IShape", "Area"));
        ASSERT_EQ(view.CurrentAccessor(), 1);
    };
    showAnother();

    // The item selected, Set Next Statement from its menu, then a double-click.
    Recorder& list = *recording->List();
    Click(list, 0);
    list.ListView()->setFocus();
    QTest::keyClick(list.ListView(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(list.ContextMenu()->isVisible());
    QTest::keyClick(list.ContextMenu(), Qt::Key_N);
    ASSERT_EQ(Glyphs(*recording)[0], "> ");
    QTest::mouseDClick(list.ListView()->viewport(), Qt::LeftButton, {}, LinePoint(list, 0));
    EXPECT_EQ(view.ShownNode(), treetest::NodeAt(view.Tree(), "IShape", "Name"));
    EXPECT_EQ(current(), "Let");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    EXPECT_TRUE(hidden());
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();

    // On a fresh copy, Step applies the item and shows the Let it changed.
    fs::copy_file(dir / "in.tlb", dir / "fresh.tlb");
    services.answers = {dialogs::kAnswerNo};
    services.files.push_back(Q(dir / "fresh.tlb"));
    editor->Action(Command::Open)->trigger();
    ASSERT_EQ(editor->Path(), ole::FromUtf8((dir / "fresh.tlb").string()));
    showAnother();
    QTest::keyClick(list.ListView(), Qt::Key_F8);
    EXPECT_EQ(Glyphs(*recording)[1], "> ");
    EXPECT_EQ(view.ShownNode(), treetest::NodeAt(view.Tree(), "IShape", "Name"));
    EXPECT_EQ(current(), "Let");
    EXPECT_TRUE(hidden());
    // The Get's tab shows the Get, which the item left alone.
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    EXPECT_FALSE(hidden());
}

// An interface, a dispinterface and a coclass added and named in the main
// window while a history window records: the main window's file and two
// batch runs of the saved history on the starting file are the same bytes
// (the added types keep the GUIDs they were given).
TEST_F(HistoryWithEditor, AddedTypesReplayInBatchModeToTheBytesTheMainWindowSaved) {
    frmCorvane* editor = OpenEditor("in.tlb");
    editor::LibraryViewer& view = *editor->Viewer();
    frmRecorder* recording = NewRecorderWindow(*editor);
    ASSERT_TRUE(recording);
    for (const auto& [index, name] : std::vector<std::pair<int32_t, const char*>>{
             {4, "IAdded"}, {2, "DAdded"}, {1, "Added"}})
        AddType(view, index, name);
    EXPECT_EQ(Lines(*recording->List()),
              (std::vector<std::string>{"  Add interface type", "  Change interface Interface1 (GUID)",
                                        "  Rename interface Interface1 to 'IAdded'", "  Add dispinterface type",
                                        "  Change dispinterface Dispinterface1 (GUID)",
                                        "  Rename dispinterface Dispinterface1 to 'DAdded'", "  Add coclass type",
                                        "  Change coclass Coclass1 (GUID)", "  Rename coclass Coclass1 to 'Added'",
                                        "> "}));
    SaveScreenshots(*recording, "history-added-types");
    const std::vector<std::byte> live = SavedFrom(view, "live.tlb");
    services.files.push_back(Q(dir / "session.leh"));
    QTest::keyClick(recording->List()->ListView(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(fs::exists(dir / "session.leh"));
    for (const char* out : {"batch1.tlb", "batch2.tlb"}) {
        ASSERT_EQ(treetest::RunZephrin(dir.path(), std::string("-quiet -leh session.leh -tlb in.tlb -saveas ") + out),
                  0)
            << testsupport::ReadText(dir / "stderr.txt");
        EXPECT_EQ(testsupport::ReadBytes(dir / out), live) << out;
    }
}

// A history recorded on a new library (File > New with the history window
// open) records the library's GUID: the main window's file and two batch runs
// of the history with -new are the same bytes. Run on a library read from a
// file, the history leaves that library its GUID and the file untouched; a
// history without the record still makes a new GUID at every run.
TEST_F(HistoryWithEditor, ANewLibrarysHistoryReplaysInBatchModeToTheBytesTheMainWindowSaved) {
    frmCorvane* editor = nullptr;
    frmRecorder* recording = nullptr;
    const std::vector<std::byte> live = RecordOnANewLibrary(editor, recording);
    ASSERT_TRUE(recording);
    const auto libraryGuid = [&](const char* file) { return LibraryGuid(file); };
    EXPECT_EQ(Lines(*recording->List()),
              (std::vector<std::string>{"  Identity of a new library (LIBID " + libraryGuid("live.tlb") + ")",
                                        "  Add interface type", "  Change interface Interface1 (GUID)",
                                        "  Rename interface Interface1 to 'IAdded'", "> "}));
    SaveScreenshots(*recording, "history-new-library");
    const auto run = [&](const std::string& args) {
        EXPECT_EQ(treetest::RunZephrin(dir.path(), "-quiet -leh " + args), 0) << testsupport::ReadText(dir / "stderr.txt");
    };
    for (const char* out : {"batch1.tlb", "batch2.tlb"}) {
        run(std::string("session.leh -new -saveas ") + out);
        EXPECT_EQ(testsupport::ReadBytes(dir / out), live) << out;
    }
    const std::vector<std::byte> input = testsupport::ReadBytes(dir / "in.tlb");
    run("session.leh -tlb in.tlb -saveas out.tlb");
    EXPECT_EQ(libraryGuid("out.tlb"), libraryGuid("in.tlb"));
    EXPECT_EQ(testsupport::ReadBytes(dir / "in.tlb"), input);

    // The history as it was written before: the same items without the record.
    {
        VTICache cache;
        const std::vector<std::byte> file = testsupport::ReadBytes(dir / "session.leh");
        std::list<ChangeNode> items = modRecorder::ReadEditHistory(file, cache, dir.path());
        ASSERT_EQ(items.front().KindCode(), Code(ChangeKind::LibChange));
        items.pop_front();
        const std::vector<std::byte> bytes = modRecorder::WriteEditHistory(items, cache, dir.path());
        std::ofstream(dir / "old.leh", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    run("old.leh -new -saveas old1.tlb");
    run("old.leh -new -saveas old2.tlb");
    EXPECT_NE(libraryGuid("old1.tlb"), libraryGuid("live.tlb"));
    EXPECT_NE(libraryGuid("old1.tlb"), libraryGuid("old2.tlb"));
}

// File > New again with the history window kept: the first new library's
// items wait after the position and the user deletes them. What is left
// records the second library's GUID, and replays to the main window's file.
TEST_F(HistoryWithEditor, ASecondNewLibraryInTheSameHistoryWindowHasItsGuidRecorded) {
    frmCorvane* editor = OpenEditor("in.tlb");
    editor::LibraryViewer& view = *editor->Viewer();
    frmRecorder* recording = NewRecorderWindow(*editor);
    ASSERT_TRUE(recording);
    editor->Action(Command::New)->trigger();
    AddType(view, 4, "IFirst");
    services.answers = {dialogs::kAnswerNo};  // the first one is not saved
    editor->Action(Command::New)->trigger();
    AddType(view, 4, "ISecond");
    Recorder& list = *recording->List();
    const std::vector<std::string> lines = Lines(list);
    const auto stale = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l[0] == '>'; });
    ASSERT_EQ(lines.end() - stale, 5);
    EXPECT_EQ(stale->substr(0, 13), "> Identity of");
    for (int i = 0; i < 4; ++i) {
        list.ListIndex(static_cast<int>(stale - lines.begin()));
        QTest::keyClick(list.ListView(), Qt::Key_Delete);
    }
    const std::vector<std::byte> live = SavedFrom(view, "live.tlb");
    EXPECT_EQ(Lines(list)[0].substr(0, 13), "  Identity of");
    services.files.push_back(Q(dir / "session.leh"));
    QTest::keyClick(list.ListView(), Qt::Key_S, Qt::ControlModifier);
    for (const char* out : {"batch1.tlb", "batch2.tlb"}) {
        EXPECT_EQ(treetest::RunZephrin(dir.path(), std::string("-quiet -leh session.leh -new -saveas ") + out), 0)
            << testsupport::ReadText(dir / "stderr.txt");
        EXPECT_EQ(testsupport::ReadBytes(dir / out), live) << out;
    }
}

// The command line's ways open exactly one main window each.
TEST_F(HistoryWithEditor, ActivateAndAStoppedBatchRunOpenOneMainWindow) {
    WriteTwoItemHistory(dir / "in.tlb", dir / "history.leh");
    modCorvaneExe::Shell shell;
    std::vector<QPointer<frmRecorder>> made;
    shell.NewHistoryWindow = [&]() -> modCorvaneExe::IHistoryWindow* {
        made.emplace_back(new frmRecorder);
        return made.back();
    };
    size_t editorsWhileRunning = 0;
    std::vector<std::string> lines;
    shell.RunWindows = [&] {
        QCoreApplication::processEvents();  // a stopped run runs again once its window shows
        QCoreApplication::processEvents();
        editorsWhileRunning = Shown<frmCorvane>().size();
        if (!made.empty() && made.back()) lines = Lines(*made.back()->List());
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(modCorvaneExe::Main({"-leh", "history.leh", "-tlb", "in.tlb", "-activate"}, shell), 0);
    EXPECT_EQ(editorsWhileRunning, 1u);
    std::vector<frmCorvane*> editors = Shown<frmCorvane>();
    ASSERT_EQ(editors.size(), 1u);
    EXPECT_EQ(editors[0]->Path(), u"in.tlb");
    EXPECT_EQ(editors[0]->RecorderWindowList()->size(), 1u);
    made.back()->Engine()->UIActivator(made.back());
    made.back()->Engine()->ActivateUI();
    EXPECT_EQ(Shown<frmCorvane>().size(), 1u);
    // The history replaced from outside: an edit's save asks instead of writing over it.
    fs::copy_file(dir / "history.leh", dir / "theirs.leh");
    fs::rename(dir / "theirs.leh", dir / "history.leh");
    ToggleFlag(*editors[0]->Viewer(), "Widget", "hidden");
    services.answers = {dialogs::kAnswerNo};
    QTest::keyClick(made.back()->List()->ListView(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_NE(services.LastMessage().find("' was changed, replaced or removed by another program"), std::string::npos);
    EXPECT_EQ(made.back()->List()->ListCount(), 4);
    for (QWidget* window : Shown<frmCorvane>()) delete window;
    // With /new the main window shows NewLib.
    EXPECT_EQ(modCorvaneExe::Main({"-leh", "history.leh", "-new", "-activate"}, shell), 0);
    editors = Shown<frmCorvane>();
    ASSERT_EQ(editors.size(), 1u);
    EXPECT_EQ(editors[0]->Viewer()->Tree()->topLevelItem(0)->text(0).left(6), "NewLib");
    for (QWidget* window : Shown<frmCorvane>()) delete window;
    // A batch run that stops on the new library.
    services.messages.clear();
    EXPECT_EQ(modCorvaneExe::Main({"-leh", "history.leh", "-new", "-saveas", "out.tlb"}, shell), 2);
    fs::current_path(before);
    EXPECT_EQ(editorsWhileRunning, 1u);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(0, 2), "> ");
    EXPECT_FALSE(services.messages.empty());
}

// A batch run that stops hands its edits to the main window unsaved: the
// window says so, asks before it closes, and saves to the -saveas file, never
// over the library the run read; run in place, it saves the library itself.
TEST_F(HistoryWithEditor, AStoppedBatchRunsMainWindowHoldsItsEditsUnsavedAndSavesWhereTheRunWould) {
    WriteTwoItemHistory(dir / "in.tlb", dir / "history.leh");
    {
        // No IShape: the run stops at the second item, after the first.
        ComPtr<ICreateTypeLib2> other = testsupport::NewLibrary(u"Other", ole::FromUtf8((dir / "other.tlb").string()));
        ASSERT_OK(other->SaveAllChanges());
    }
    fs::copy_file(dir / "other.tlb", dir / "inplace.tlb");
    const std::vector<std::byte> input = testsupport::ReadBytes(dir / "other.tlb");
    const auto minorVersion = [](const fs::path& file) {
        ComPtr<ITypeLib> lib;
        EXPECT_OK(LoadTypeLibEx(ole::FromUtf8(file.string()).c_str(), REGKIND_NONE, lib.put()));
        TLIBATTR* attr = nullptr;
        if (!lib || ole::FAILED(lib->GetLibAttr(&attr))) return -1;
        const int minor = attr->wMinorVerNum;
        lib->ReleaseTLibAttr(attr);
        return minor;
    };
    modCorvaneExe::Shell shell;
    shell.NewHistoryWindow = [&]() -> modCorvaneExe::IHistoryWindow* { return new frmRecorder; };
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "-saveas");
        const char* saved = inPlace ? "inplace.tlb" : "out.tlb";
        bool checked = false;
        shell.RunWindows = [&] {
            QCoreApplication::processEvents();  // the stopped run runs again once shown
            QCoreApplication::processEvents();
            std::vector<frmCorvane*> editors = Shown<frmCorvane>();
            ASSERT_EQ(editors.size(), 1u);
            frmCorvane& editor = *editors[0];
            EXPECT_EQ(services.LastMessage().rfind("Library Edit History item 2 (", 0), 0u) << services.LastMessage();
            EXPECT_NE(services.LastMessage().find(") failed: Element not found"), std::string::npos);
            EXPECT_EQ(editor.Path(), ole::FromUtf8(saved));
            EXPECT_TRUE(editor.Dirty());
            EXPECT_EQ(editor.windowTitle().toStdString(), std::string("Zephrin Type Library Editor - (") + saved + " *)");
            // Closing asks about the changes; Cancel keeps the window.
            services.messages.clear();
            services.answers = {dialogs::kAnswerCancel};
            EXPECT_FALSE(editor.close());
            ASSERT_EQ(services.messages.size(), 1u);
            EXPECT_TRUE(services.messages[0].contains(QString::fromUtf8(saved)));
            // Save writes the file the run would have written (in place,
            // while the run still holds it).
            ASSERT_TRUE(editor.Action(Command::Save)->isEnabled());
            editor.Action(Command::Save)->trigger();
            EXPECT_TRUE(services.messages.size() == 1u) << services.LastMessage();
            EXPECT_FALSE(editor.Dirty());
            EXPECT_EQ(minorVersion(dir / saved), 7);
            EXPECT_TRUE(editor.close());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            checked = true;
        };
        const fs::path before = fs::current_path();
        fs::current_path(dir.path());
        const int code = inPlace ? modCorvaneExe::Main({"-leh", "history.leh", "-tlb", "inplace.tlb"}, shell)
                                 : modCorvaneExe::Main({"-leh", "history.leh", "-tlb", "other.tlb", "-saveas", "out.tlb"}, shell);
        fs::current_path(before);
        EXPECT_EQ(code, 2);
        EXPECT_TRUE(checked);
        EXPECT_EQ(testsupport::ReadBytes(dir / "other.tlb"), input);
        for (QWidget* window : Shown<frmRecorder>()) delete window;
    }
}

// Runs the program's -activate way in dir as the command line does, with
// -activate after args; returns the history window it opened.
QPointer<frmRecorder> Activate(const fs::path& dir, std::vector<std::string> args) {
    modCorvaneExe::Shell shell;
    QPointer<frmRecorder> made;
    shell.NewHistoryWindow = [&]() -> modCorvaneExe::IHistoryWindow* {
        made = new frmRecorder;
        return made;
    };
    shell.RunWindows = [] { QCoreApplication::processEvents(); };
    args.push_back("-activate");
    const testsupport::CurrentFolder there(dir);
    EXPECT_EQ(modCorvaneExe::Main(args, shell), 0);
    return made;
}

// Activate on a two-item history over in.tlb, with the further options more.
QPointer<frmRecorder> ActivateTwoItemHistory(const fs::path& dir, const std::vector<std::string>& more = {}) {
    WriteTwoItemHistory(dir / "in.tlb", dir / "history.leh");
    std::vector<std::string> args = {"-leh", "history.leh", "-tlb", "in.tlb"};
    args.insert(args.end(), more.begin(), more.end());
    return Activate(dir, args);
}

// A history opened with -activate and -saveas: its main window names the
// -saveas file and saves the run's edits there, the same bytes as two batch
// runs of the history make; the -tlb input is never written.
TEST_F(HistoryWithEditor, AnActivatedHistorysMainWindowSavesToTheSaveAsFileNeverOverTheInput) {
    const std::string out = (dir / "out.tlb").string();
    QPointer<frmRecorder> made = ActivateTwoItemHistory(dir.path(), {"-saveas", out});
    const std::vector<std::byte> input = testsupport::ReadBytes(dir / "in.tlb");
    std::vector<frmCorvane*> editors = Shown<frmCorvane>();
    ASSERT_TRUE(made && editors.size() == 1u);
    frmCorvane& editor = *editors[0];
    EXPECT_EQ(editor.Path(), ole::FromUtf8(out));
    EXPECT_EQ(editor.windowTitle().toStdString(), "Zephrin Type Library Editor - (" + out + " *)");
    QTest::keyClick(made->List()->ListView(), Qt::Key_F5);
    ASSERT_EQ(Glyphs(*made).back(), "> ");
    emit editor.FileMenu()->aboutToShow();
    ASSERT_TRUE(editor.Action(Command::Save)->isEnabled());
    editor.Action(Command::Save)->trigger();
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    EXPECT_FALSE(editor.Dirty());
    for (const char* batch : {"batch1.tlb", "batch2.tlb"}) {
        ASSERT_EQ(treetest::RunZephrin(dir.path(), std::string("-quiet -leh history.leh -tlb in.tlb -saveas ") + batch),
                  0);
        EXPECT_EQ(testsupport::ReadBytes(dir / batch), testsupport::ReadBytes(out)) << batch;
    }
    EXPECT_EQ(testsupport::ReadBytes(dir / "in.tlb"), input);
    delete made.data();
}

// A new library's history opened with -activate and run in the window: with
// -new its main window saves the bytes two batch runs with -new build, the
// recorded GUID and all; with -tlb the library keeps its own GUID, as in
// batch mode.
TEST_F(HistoryWithEditor, ANewLibrarysHistoryRunInItsWindowSavesWhatBatchModeBuilds) {
    {
        frmCorvane* editor = nullptr;
        frmRecorder* recording = nullptr;
        const std::vector<std::byte> live = RecordOnANewLibrary(editor, recording);
        ASSERT_TRUE(recording);
        delete recording;
        delete editor;
        ASSERT_EQ(treetest::RunZephrin(dir.path(), "-quiet -leh session.leh -new -saveas batch.tlb"), 0);
        ASSERT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), live);
    }
    ASSERT_EQ(treetest::RunZephrin(dir.path(), "-quiet -leh session.leh -tlb in.tlb -saveas batchfile.tlb"), 0);
    const std::vector<std::byte> input = testsupport::ReadBytes(dir / "in.tlb");
    for (const bool isNew : {true, false}) {
        SCOPED_TRACE(isNew ? "-new" : "-tlb");
        const char* saved = isNew ? "window.tlb" : "windowfile.tlb";
        std::vector<std::string> args = {"-leh", "session.leh", "-saveas", saved, "-new"};
        if (!isNew) args.back() = "-tlb=in.tlb";
        QPointer<frmRecorder> made = Activate(dir.path(), args);
        std::vector<frmCorvane*> editors = Shown<frmCorvane>();
        ASSERT_TRUE(made && editors.size() == 1u);
        QTest::keyClick(made->List()->ListView(), Qt::Key_F5);
        EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
        ASSERT_EQ(Glyphs(*made).back(), "> ");
        const testsupport::CurrentFolder there(dir.path());
        editors[0]->Action(Command::Save)->trigger();
        EXPECT_EQ(testsupport::ReadBytes(dir / saved), testsupport::ReadBytes(dir / (isNew ? "batch.tlb" : "batchfile.tlb")));
        EXPECT_EQ(LibraryGuid(saved), LibraryGuid(isNew ? "batch.tlb" : "in.tlb"));
        delete made.data();
        delete editors[0];
    }
    EXPECT_EQ(testsupport::ReadBytes(dir / "in.tlb"), input);
}

// -new beside -tlb: the history runs on a new library, which its main window
// shows unnamed, or named after -saveas, and never saves over the -tlb file.
TEST_F(HistoryWithEditor, AnActivatedHistoryOnANewLibraryNeverNamesTheTlbFile) {
    for (const bool saveAs : {false, true}) {
        SCOPED_TRACE(saveAs ? "with -saveas" : "without -saveas");
        const std::string out = (dir / "out.tlb").string();
        std::vector<std::string> more = {"-new"};
        if (saveAs) more.insert(more.end(), {"-saveas", out});
        QPointer<frmRecorder> made = ActivateTwoItemHistory(dir.path(), more);
        const testsupport::CurrentFolder there(dir.path());  // where the command line named its files
        const std::vector<std::byte> input = testsupport::ReadBytes(dir / "in.tlb");
        std::vector<frmCorvane*> editors = Shown<frmCorvane>();
        ASSERT_TRUE(made && editors.size() == 1u);
        frmCorvane& editor = *editors[0];
        EXPECT_EQ(editor.Path(), saveAs ? ole::FromUtf8(out) : u"");
        EXPECT_TRUE(editor.LibraryIsNew());
        EXPECT_TRUE(editor.Dirty());
        QTest::keyClick(made->List()->ListView(), Qt::Key_F5);  // the second item finds no IShape
        emit editor.FileMenu()->aboutToShow();
        EXPECT_EQ(editor.Action(Command::Save)->isEnabled(), saveAs);
        editor.Action(Command::Save)->trigger();
        EXPECT_EQ(editor.Dirty(), !saveAs);
        EXPECT_EQ(fs::exists(out), saveAs);
        EXPECT_EQ(testsupport::ReadBytes(dir / "in.tlb"), input);
        fs::remove(out);
        delete made.data();
        for (QWidget* window : Shown<frmCorvane>()) delete window;
    }
}

// After its main window has closed a history window still replays on its
// library and closes; closed the other way round, the main
// window goes after its history windows. The sanitizer checks both orders.
TEST_F(HistoryWithEditor, HistoryWindowsAndTheirMainWindowCloseInEitherOrder) {
    for (bool mainFirst : {true, false}) {
        SCOPED_TRACE(mainFirst ? "main window first" : "history windows first");
        frmCorvane* editor = OpenEditor("in.tlb");
        editor::LibraryViewer& view = *editor->Viewer();
        QPointer<frmRecorder> recording = NewRecorderWindow(*editor);
        QPointer<frmRecorder> other = NewRecorderWindow(*editor);
        ASSERT_TRUE(recording && other);
        ToggleFlag(view, "Widget", "hidden");
        TypeVersion(view, "2.4");
        ASSERT_EQ(recording->List()->ListCount(), 3);
        QTest::keyClick(recording->List()->ListView(), Qt::Key_F5, Qt::ShiftModifier);  // restart
        ASSERT_EQ(Glyphs(*recording)[0], "> ");
        QPointer<frmCorvane> main(editor);
        if (mainFirst) {
            services.answers = {dialogs::kAnswerNo};
            ASSERT_TRUE(editor->close());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            ASSERT_FALSE(main);
            // Step through the history with nothing left to show the targets.
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F8);
            QTest::keyClick(recording->List()->ListView(), Qt::Key_F5);
            EXPECT_EQ(Glyphs(*recording)[2], "> ");
        }
        for (QPointer<frmRecorder>* window : {&recording, &other}) {
            services.answers = {dialogs::kAnswerNo};
            EXPECT_TRUE((*window)->close());
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(recording);
        EXPECT_FALSE(other);
        if (!mainFirst) {
            EXPECT_TRUE(main->RecorderWindowList()->empty());
            ToggleFlag(view, "Widget", "hidden");  // reaches no history
            services.answers = {dialogs::kAnswerNo};
            EXPECT_TRUE(main->close());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_FALSE(main);
        }
    }
}

// A history opened from the command line runs on the library its main
// window shows: the run's edits are the main window's to save.
TEST_F(HistoryWithEditor, AnActivatedHistoryRunsOnItsMainWindowsLibrary) {
    QPointer<frmRecorder> made = ActivateTwoItemHistory(dir.path());
    ASSERT_TRUE(made);
    std::vector<frmCorvane*> editors = Shown<frmCorvane>();
    ASSERT_EQ(editors.size(), 1u);
    frmCorvane& editor = *editors[0];
    EXPECT_FALSE(editor.Dirty());
    QTest::keyClick(made->List()->ListView(), Qt::Key_F5);
    EXPECT_TRUE(services.messages.empty()) << services.LastMessage();
    EXPECT_EQ(Glyphs(*made).back(), "> ");
    EXPECT_TRUE(editor.Dirty());
    editor.Viewer()->SaveCurrentLibrary(ole::FromUtf8((dir / "out.tlb").string()));
    ComPtr<ITypeLib> out;
    ASSERT_OK(LoadTypeLibEx(ole::FromUtf8((dir / "out.tlb").string()).c_str(), REGKIND_NONE, out.put()));
    TLIBATTR* attr = nullptr;
    ASSERT_OK(out->GetLibAttr(&attr));
    EXPECT_EQ(attr->wMinorVerNum, 7);
    out->ReleaseTLibAttr(attr);
    delete made.data();
}

// While a run waits for a name, neither the history window nor its main
// window closes, and no other command of the history runs.
TEST_F(HistoryWithEditor, NoWindowClosesWhileARunWaitsForAName) {
    QPointer<frmRecorder> made = ActivateTwoItemHistory(dir.path());
    ASSERT_TRUE(made);
    std::vector<frmCorvane*> editors = Shown<frmCorvane>();
    ASSERT_EQ(editors.size(), 1u);
    QPointer<frmCorvane> editor(editors[0]);
    // IShape renamed in the main window: the history's second item misses its target.
    editor::LibraryViewer& view = *editor->Viewer();
    treetest::ClickNode(view.Tree(), treetest::NodeAt(view.Tree(), "IShape"));
    treetest::RenameCurrentNode(view.Tree(), "IShape2");
    int asked = 0;
    frmRecorder::SetNameDialog([&](QWidget* owner, const ChooseNameRequest&) -> std::optional<size_t> {
        ++asked;
        EXPECT_TRUE(frmRecorder::EngineRunning());
        // Both windows and another command of the history wait, saying why.
        const size_t told = services.messages.size();
        EXPECT_FALSE(owner->close());
        EXPECT_FALSE(editor->close());
        QTest::keyClick(made->List()->ListView(), Qt::Key_F8);
        const std::vector<QString> said(services.messages.begin() + static_cast<std::ptrdiff_t>(told),
                                        services.messages.end());
        EXPECT_EQ(said, std::vector<QString>(3, dialogs::ResText(179)));
        return std::nullopt;
    });
    QTest::keyClick(made->List()->ListView(), Qt::Key_F5);
    frmRecorder::SetNameDialog({});
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(made && editor);
    EXPECT_TRUE(made->isVisible());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_FALSE(frmRecorder::EngineRunning());
    EXPECT_EQ(services.LastMessage().rfind("Element not found", 0), 0u) << services.LastMessage();
}

}  // namespace
}  // namespace recordertest

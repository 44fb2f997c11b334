// The main window driven as a user drives it: its caption and dirty state,
// the save prompt, opening and saving through the (scripted) file choosers,
// the built-in libraries, a failed open, and its history windows.
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "ShellTestSupport.h"
#include "app/modCorvaneExe.h"
#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "editor/ViewerTestSupport.h"
#include "editor/view/LibraryViewer.h"
#include "platform/tlbengine/TypeLibData.h"
#include "shell/frmCorvane.h"
#include "shell/frmRecorder.h"
#include "support/DarkTheme.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace {

using namespace shelltest;
using namespace changestest;
using zephrin::shell::frmCorvane;
using zephrin::shell::IRecorderWindow;
using zephrin::shell::RecorderWindows;
using Command = frmCorvane::Command;
using Field = editor::LibraryViewer::Field;
namespace fs = std::filesystem;

// A history window as the main window sees it.
class FakeRecorder final : public IRecorderWindow {
public:
    std::vector<ITypeLib*> attached;
    std::vector<bool> attachedNew;  // each attached library was new
    std::vector<bool> editMode;
    void AttachLibrary(ITypeLib* library, ITypeLib*, bool isNew) override {
        attached.push_back(library);
        attachedNew.push_back(isNew);
    }
    void InEditMode(bool editing) override { editMode.push_back(editing); }
};

// The attributes of the library saved in file.
ole::TLIBATTR LibAttr(const fs::path& file) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(ole::LoadTypeLibEx(ole::FromUtf8(file.string()).c_str(), ole::REGKIND_NONE, lib.put()));
    ole::TLIBATTR copy{};
    copy.wLibFlags = 0xFFFF;
    ole::TLIBATTR* attr = nullptr;
    if (!lib || ole::FAILED(lib->GetLibAttr(&attr))) return copy;
    copy = *attr;
    lib->ReleaseTLibAttr(attr);
    return copy;
}

int32_t LibFlags(const fs::path& file) { return LibAttr(file).wLibFlags; }

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    MainWindow() : scoped(services) {
        ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8((dir / "shapes.tlb").string()));
        EXPECT_OK(lib->SaveAllChanges());
        std::ofstream(dir / "notes.txt") << "not a library\n";
    }
    ~MainWindow() override {
        frmCorvane::SetRecorderWindowFactory(nullptr);
        delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    frmCorvane& Open(const fs::path& path, ITypeLib* library = nullptr,
                     std::shared_ptr<RecorderWindows> windows = nullptr) {
        window = new frmCorvane;
        window->Init(nullptr, path.empty() ? u"" : ole::FromUtf8(path.string()), library, nullptr, false,
                     std::move(windows));
        QCoreApplication::processEvents();
        return *window;
    }
    editor::LibraryViewer& View() { return *window->Viewer(); }
    QTreeWidgetItem* Root() { return View().Tree()->topLevelItem(0); }
    QTreeWidgetItem* TypeNode(const char* name) {
        for (int i = 0; i < Root()->childCount(); ++i)
            if (Root()->child(i)->text(0) == QLatin1String(name)) return Root()->child(i);
        return nullptr;
    }
    QString Caption(const QString& one, const QString& two = {}) {
        return ResText(108).replace(QStringLiteral("|1"), one).replace(QStringLiteral("|2"), two);
    }
    // What the File menu offers when it opens.
    bool Offers(Command command) {
        emit window->FileMenu()->aboutToShow();
        return window->Action(command)->isEnabled();
    }
    void Run(Command command) { window->Action(command)->trigger(); }
    // Starts an edit of the library's "control" flag, as the user does.
    void StartEdit() {
        View().Tree()->setCurrentItem(Root());
        auto* options = static_cast<QListWidget*>(View().DetailsField(Field::Options));
        QListWidgetItem* control = options->findItems(QStringLiteral("control"), Qt::MatchExactly).value(0);
        ASSERT_TRUE(control);
        control->setCheckState(control->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        ASSERT_TRUE(View().InEditMode());
    }
    // The same, applied with Update.
    void Edit() {
        StartEdit();
        QTest::mouseClick(static_cast<QPushButton*>(View().DetailsField(Field::Update)), Qt::LeftButton);
        ASSERT_FALSE(View().InEditMode());
    }
    QString Path(const char* name) const { return Q(dir / name); }
    // Opens shapes.tlb on a hub that history records, and keeps a fresh copy
    // of the file for ReplayInBatch.
    void OpenRecorded(Playback& history) {
        fs::copy_file(dir / "shapes.tlb", dir / "fresh.tlb", fs::copy_options::overwrite_existing);
        auto hub = std::make_shared<ChangeListener>();
        window = new frmCorvane;
        window->Init(hub, ole::FromUtf8((dir / "shapes.tlb").string()), nullptr, nullptr, false, nullptr);
        history.ChangeListener(hub);
        history.CurrentITypeLib(View().CurrentLibraryITypeLib().get());
    }
    // The program replays session.leh on fresh.tlb in batch mode and saves it as out.
    void ReplayInBatch(const char* out) {
        const std::string command = "cd '" + dir.path().string() +
                                    "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY '" ZEPHRIN_BIN_DIR
                                    "/zephrin' -leh session.leh -tlb fresh.tlb -saveas " + out + " -quiet";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    testsupport::TempDir dir;
    ScriptedServices services;
    ScopedUiServices scoped;
    QPointer<frmCorvane> window;
};

constexpr int32_t kLibFlagControl = 2;

// The current folder while it lives.
struct InFolder {
    explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(here); }
    fs::path here = fs::current_path();
};

TEST_F(MainWindow, TheCaptionAndSaveFollowTheDirtyState) {
    Open({});
    EXPECT_EQ(window->windowTitle(), Caption({}));
    EXPECT_TRUE(window->isVisible());
    for (Command command : {Command::Save, Command::SaveAs, Command::NewRecorderWindow}) EXPECT_FALSE(Offers(command));
    delete window.data();

    const fs::path file = dir / "shapes.tlb";
    Open(file);
    EXPECT_EQ(window->windowTitle(), Caption(Q(file)));
    EXPECT_FALSE(window->Dirty());
    EXPECT_FALSE(Offers(Command::Save));
    EXPECT_TRUE(Offers(Command::SaveAs));
    EXPECT_TRUE(Offers(Command::NewRecorderWindow));
    const std::string before = testsupport::ReadText(file);

    Edit();
    EXPECT_TRUE(window->Dirty());
    EXPECT_EQ(window->windowTitle(), Caption(Q(file), ResText(118)));
    EXPECT_TRUE(Offers(Command::Save));
    EXPECT_EQ(testsupport::ReadText(file), before);  // nothing written yet

    Run(Command::Save);
    EXPECT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();
    EXPECT_FALSE(window->Dirty());
    EXPECT_EQ(window->windowTitle(), Caption(Q(file)));
    EXPECT_FALSE(Offers(Command::Save));
    EXPECT_EQ(LibFlags(file) & kLibFlagControl, kLibFlagControl);
}

// Closing a changed library asks 116: Cancel keeps the window; Yes shows the
// Save As chooser with the library's path, and cancelling it keeps the
// window too; a name chosen there is written, the window closes, and the
// library's own file is left as it was.
TEST_F(MainWindow, TheSavePromptOnCloseAsksYesNoOrCancel) {
    const fs::path file = dir / "shapes.tlb";
    Open(file);
    Edit();
    const std::string before = testsupport::ReadText(file);
    services.answers = {kAnswerCancel};
    Run(Command::Exit);  // Exit closes the window the same way
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].Text, Text(116, Q(file)));
    EXPECT_EQ(services.messages[0].Style, kStyleYesNoCancelQuestion);

    services.answers = {kAnswerYes};
    EXPECT_FALSE(window->close());
    ASSERT_TRUE(window);
    ASSERT_EQ(services.requests.size(), 1u);
    EXPECT_EQ(services.requests[0].InitialName, Q(file));
    EXPECT_EQ(services.requests[0].Title, ResText(110));
    EXPECT_EQ(services.requests[0].Filter, ResText(111));
    EXPECT_EQ(services.requests[0].DefaultExtension, QStringLiteral("tlb"));

    services.answers = {kAnswerYes};
    services.saveNames = {Path("copy")};
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);  // a closed main window goes
    EXPECT_EQ(LibFlags(dir / "copy.tlb") & kLibFlagControl, kLibFlagControl);
    EXPECT_EQ(testsupport::ReadText(file), before);

    // No closes without writing anything.
    Open(file);
    Edit();
    services.answers = {kAnswerNo};
    EXPECT_TRUE(window->close());
    EXPECT_EQ(testsupport::ReadText(file), before);
}

// Yes to the prompt and then a cancelled Save As cancels a New or an Open
// as it cancels a close: the window keeps its library and its state.
TEST_F(MainWindow, ACancelledSaveAfterYesCancelsNewAndOpen) {
    const fs::path file = dir / "shapes.tlb";
    Open(file);
    Edit();
    QTreeWidgetItem* root = Root();
    for (Command command : {Command::New, Command::Open}) {
        services.answers = {kAnswerYes};
        services.openNames = {Path("shapes.tlb")};
        Run(command);
        EXPECT_EQ(Root(), root);
        EXPECT_TRUE(window->Dirty());
        EXPECT_EQ(window->Path(), ole::FromUtf8(file.string()));
        ASSERT_FALSE(services.requests.empty());
        EXPECT_EQ(services.requests.back().Title, ResText(110));  // no Open chooser after it
        EXPECT_EQ(services.openNames.size(), 1u);
    }
}

// An edit typed and not yet updated holds the window: New, Open, Exit and the
// window's close are refused, saying why, as the tree and the tabs refuse to
// move on, and the edit stays as typed. Updated, it is the library's, and
// closing asks to save it.
TEST_F(MainWindow, APendingEditRefusesNewOpenAndClosingSayingWhy) {
    Open(dir / "shapes.tlb");
    QTreeWidgetItem* root = Root();
    auto* version = static_cast<QLineEdit*>(View().DetailsField(Field::Version));
    version->setFocus();
    version->selectAll();
    QTest::keyClicks(version, "3.4");
    ASSERT_TRUE(View().InEditMode());
    services.openNames = {Path("shapes.tlb")};
    for (Command command : {Command::New, Command::Open, Command::Exit}) Run(command);
    EXPECT_FALSE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window);
    EXPECT_EQ(services.beeps, 0);
    EXPECT_EQ(services.MessageTexts(), std::vector<QString>(4, ResText(175)));
    EXPECT_EQ(services.messages.back().Style, kStyleError);
    EXPECT_TRUE(services.requests.empty());
    EXPECT_EQ(Root(), root);
    EXPECT_TRUE(View().InEditMode());
    EXPECT_EQ(version->text(), QStringLiteral("3.4"));
    QTest::keyClick(version, Qt::Key_Return);
    ASSERT_FALSE(View().InEditMode());
    services.messages.clear();
    services.answers = {kAnswerCancel};
    EXPECT_FALSE(window->close());
    EXPECT_EQ(services.messages.size(), 1u);
}

// Open and Save As through the choosers: a file that is no type library is
// refused (114) and the chooser stays open for the next name; a non-library
// file is overwritten only after 109 is answered Yes.
TEST_F(MainWindow, OpenAndSaveAsRefuseUnsuitableFiles) {
    Open({});
    services.openNames = {Path("notes.txt"), Path("shapes.tlb")};
    Run(Command::Open);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].Text, Text(114, Path("notes.txt")));
    EXPECT_EQ(services.messages[0].Style, kStyleInformation);
    EXPECT_EQ(services.requests[0].Title, ResText(112));
    EXPECT_EQ(services.requests[0].Filter, ResText(113));
    EXPECT_EQ(window->Path(), ole::FromUtf8((dir / "shapes.tlb").string()));
    EXPECT_EQ(Root()->text(0).left(6), QStringLiteral("Shapes"));

    Edit();
    services.messages.clear();
    services.saveNames = {Path("notes.txt"), Path("notes.txt"), Path("unused.tlb")};
    services.answers = {kAnswerNo, kAnswerYes};
    Run(Command::SaveAs);
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[0].Text, ResText(109));
    EXPECT_EQ(services.messages[0].Style, kStyleYesNoQuestionNoDefault);
    EXPECT_EQ(window->Path(), ole::FromUtf8((dir / "notes.txt").string()));
    EXPECT_FALSE(window->Dirty());
    EXPECT_TRUE(window->WritableFile());
    EXPECT_EQ(window->windowTitle(), Caption(Path("notes.txt")));
    EXPECT_EQ(LibFlags(dir / "notes.txt") & kLibFlagControl, kLibFlagControl);
    EXPECT_FALSE(fs::exists(dir / "unused.tlb"));
}

// A library inside a program file can't be rewritten in place: Save stays
// unavailable however it is edited, Save As is there. Save As, and the save
// that closing offers, propose the program's name with ".tlb" in place of
// its extension, so that the program is never replaced by a bare library.
TEST_F(MainWindow, ALibraryInsideADllIsSavedOnlyAsATlbBesideIt) {
    fs::copy_file(ZEPHRIN_TEST_DATA_DIR "/golden-images/kinds32.dll", dir / "kinds32.dll");
    const auto program = testsupport::ReadBytes(dir / "kinds32.dll");
    Open(dir / "kinds32.dll");
    ASSERT_TRUE(Root());
    EXPECT_FALSE(window->WritableFile());
    Edit();
    EXPECT_TRUE(window->Dirty());
    EXPECT_FALSE(Offers(Command::Save));
    EXPECT_TRUE(Offers(Command::SaveAs));
    Run(Command::Save);
    Run(Command::SaveAs);  // cancelled
    services.answers = {kAnswerYes};
    EXPECT_FALSE(window->close());  // Yes, then the chooser cancelled
    ASSERT_EQ(services.requests.size(), 2u);
    for (const FileRequest& request : services.requests)
        EXPECT_EQ(request.InitialName.toStdString(), (dir / "kinds32.tlb").string());
    EXPECT_EQ(testsupport::ReadBytes(dir / "kinds32.dll"), program);
}

// An empty file counts as a standalone library file: a new library opened
// with it as its path can be saved there.
TEST_F(MainWindow, AZeroByteFileIsSavedInPlace) {
    std::ofstream(dir / "empty.tlb").close();
    Open(dir / "empty.tlb", modCorvaneExe::CreateNewTypeLib().get());
    EXPECT_TRUE(window->WritableFile());
    Edit();
    EXPECT_TRUE(Offers(Command::Save));
    Run(Command::Save);
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(LibFlags(dir / "empty.tlb") & kLibFlagControl, kLibFlagControl);
}

// Another program saves the library while the window edits it: Save is
// refused with a message naming the file, the other program's version stays,
// and the edits stay in the window for Save As. A save that went through
// becomes what the next one expects.
TEST_F(MainWindow, SaveNeverWritesOverAnotherProgramsSave) {
    const fs::path file = dir / "shapes.tlb";
    Open(file);
    Edit();
    Run(Command::Save);
    ASSERT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();
    Edit();
    Run(Command::Save);
    ASSERT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();

    Edit();
    const fs::path other = dir / "other.tlb";
    {
        ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8(other.string()));
        EXPECT_OK(lib->SaveAllChanges());
    }
    fs::rename(other, file);  // another program's save: a new file under the name
    const auto theirs = testsupport::ReadBytes(file);
    Run(Command::Save);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages.front().Text.contains(QStringLiteral("shapes.tlb")))
        << services.messages.front().Text.toStdString();
    EXPECT_EQ(testsupport::ReadBytes(file), theirs);
    EXPECT_TRUE(window->Dirty());
}

// Another program saved the library: Save is refused, but Save As, whose
// chooser asked to replace the file, writes it, under its own name or another
// name for it (a relative name made absolute, a link to its folder, "." in
// the path), keeping its other hard link. Save then writes the file again.
TEST_F(MainWindow, SaveAsWritesTheOpenLibraryAnotherProgramSaved) {
    const fs::path file = dir / "shapes.tlb";
    fs::create_directory_symlink(dir.path(), dir / "same");
    for (const fs::path& name : {file, dir / "." / "shapes.tlb", dir / "same" / "shapes.tlb"}) {
        Open(file);
        fs::create_hard_link(file, dir / "link.tlb");
        Edit();
        {
            ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8(file.string()));
            EXPECT_OK(lib->SaveAllChanges());  // another program's save, in place
        }
        services.messages.clear();
        Run(Command::Save);
        ASSERT_EQ(services.messages.size(), 1u) << name;
        EXPECT_EQ(LibFlags(file) & kLibFlagControl, 0) << name;
        services.saveNames = {Q(name)};
        Run(Command::SaveAs);
        EXPECT_EQ(services.messages.size(), 1u) << services.messages.back().Text.toStdString();
        EXPECT_EQ(LibFlags(file) & kLibFlagControl, kLibFlagControl) << name;
        EXPECT_EQ(testsupport::ReadBytes(dir / "link.tlb"), testsupport::ReadBytes(file)) << name;
        EXPECT_FALSE(window->Dirty());
        Edit();
        Run(Command::Save);
        EXPECT_EQ(services.messages.size(), 1u) << services.messages.back().Text.toStdString();
        EXPECT_EQ(LibFlags(file) & kLibFlagControl, 0) << name;
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        fs::remove(dir / "link.tlb");
    }
}

// A library opened by a name relative to the current folder and saved under
// its full name from the save prompt: the window's own save is no other
// program's, and Save later writes the file again.
TEST_F(MainWindow, ASaveFromThePromptUnderTheFullNameIsTheWindowsOwn) {
    InFolder inFolder(dir.path());
    Open("shapes.tlb");
    Edit();
    services.answers = {kAnswerYes};
    services.saveNames = {Path("shapes.tlb")};
    Run(Command::Open);  // saved, then the Open chooser is cancelled
    ASSERT_TRUE(services.messages.size() == 1u);
    EXPECT_EQ(LibFlags(dir / "shapes.tlb") & kLibFlagControl, kLibFlagControl);
    Edit();
    Run(Command::Save);
    EXPECT_EQ(services.messages.size(), 1u) << services.messages.back().Text.toStdString();
    EXPECT_FALSE(window->Dirty());
    EXPECT_EQ(LibFlags(dir / "shapes.tlb") & kLibFlagControl, 0);
}

// New shows "NewLib", is dirty from the start, and yet its caption carries
// no mark; only Save As saves it.
TEST_F(MainWindow, ANewLibraryIsDirtyWithoutTheMark) {
    Open(dir / "shapes.tlb");
    Run(Command::New);
    EXPECT_TRUE(Root()->text(0).startsWith(QStringLiteral("NewLib")));
    EXPECT_TRUE(window->Dirty());
    EXPECT_TRUE(window->Path().empty());
    EXPECT_EQ(window->windowTitle(), Caption(ResText(117)));
    EXPECT_FALSE(Offers(Command::Save));
    EXPECT_TRUE(Offers(Command::SaveAs));
    // Closing it asks about "New Library".
    services.answers = {kAnswerCancel};
    EXPECT_FALSE(window->close());
    EXPECT_EQ(services.messages.at(0).Text, Text(116, ResText(117)));
}

// File > Open and File > New from the keyboard while a details field has the
// focus: the keys then go to the tree, and a screen reader hears the new title.
TEST_F(MainWindow, OpenAndNewFocusTheTreeAndAnnounceTheTitle) {
    fs::copy_file(dir / "shapes.tlb", dir / "other.tlb");
    Open(dir / "shapes.tlb");
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    for (const auto& [item, title] :
         {std::pair(Qt::Key_O, Caption(Path("other.tlb"))), std::pair(Qt::Key_N, Caption(ResText(117)))}) {
        QWidget* version = View().DetailsField(Field::Version);
        ASSERT_TRUE(version->isVisible());
        version->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), version);
        services.openNames = {Path("other.tlb")};
        NameChanges told;
        QTest::keyClick(version, Qt::Key_F, Qt::AltModifier);
        ASSERT_EQ(QApplication::activePopupWidget(), window->FileMenu());
        QTest::keyClick(window->FileMenu(), item);
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(QApplication::focusWidget(), View().Tree()) << item;
        EXPECT_EQ(told.Of(window.data()), (std::vector<NameChanges::Change>{{window.data(), -1, title}}));
    }
    SaveScreenshots(*window, "main-window-new-tree-focused");
    window->setPalette(testsupport::DarkPalette());
    QCoreApplication::processEvents();
    SaveScreenshots(*window, "main-window-new-tree-focused-dark");
}

// A file chooser that closes leaves the active window to the platform, which
// may activate a history window (as the offscreen platform leaves none
// active): after File > Open a reader hears that the main window is active,
// and last of the focus on the tree's current node, the new library's.
TEST_F(MainWindow, AfterOpenTheWindowIsActiveAndAReaderHearsTheTreesNode) {
    fs::copy_file(dir / "shapes.tlb", dir / "other.tlb");
    zephrin::shell::InstallRecorderWindows();
    Open(dir / "shapes.tlb");
    Run(Command::NewRecorderWindow);
    std::unique_ptr<QWidget> history(dynamic_cast<QWidget*>(window->RecorderWindowList()->Snapshot().at(0)));
    history->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(history.get()));
    ActivationReader reader;
    services.openNames = {Path("other.tlb")};
    Run(Command::Open);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QCoreApplication::processEvents();
    EXPECT_EQ(reader.active.toStdString(), window->windowTitle().toStdString());
    EXPECT_EQ(reader.focus.toStdString(), Root()->text(0).toStdString());
}

// File > Open and File > New from the keyboard, from every control of the
// panes that takes the focus, on every page of a library's, a type's, a
// member's and a parameter's node, a text field with a pending edit, and the
// tree's label editor: the focus always ends on the tree.
TEST_F(MainWindow, OpenAndNewFromAnyControlFocusTheTree) {
    fs::copy_file(dir / "shapes.tlb", dir / "other.tlb");
    Open(dir / "shapes.tlb");
    const std::vector<std::vector<const char*>> nodes = {{}, {"IShape"}, {"Kernel", "Beep"}, {"Kernel", "Beep", "freq"}};
    // Shows the node's page in the active window and returns the controls
    // that take the focus there.
    const auto show = [&](const std::vector<const char*>& path, int page) {
        services.answers = {kAnswerNo};  // the changes made so far are not saved
        services.openNames = {Path("shapes.tlb")};
        Run(Command::Open);
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        QTreeWidgetItem* node = path.empty() ? Root()
                                             : treetest::NodeAt(View().Tree(), path[0], path.size() > 1 ? path[1] : nullptr,
                                                                path.size() > 2 ? path[2] : nullptr);
        treetest::ClickNode(View().Tree(), node);
        QTabBar* tabs = View().findChild<QTabBar*>();
        std::vector<QWidget*> controls;
        if (page >= tabs->count()) return controls;
        tabs->setCurrentIndex(page);
        for (QWidget* widget : View().findChildren<QWidget*>())
            if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
                widget != View().Tree() && !View().Tree()->isAncestorOf(widget))
                controls.push_back(widget);
        return controls;
    };
    // Alt+F and the command's key, from the widget that has the focus. A
    // pending edit refuses it, saying why, the focus staying on its field,
    // until cancelled.
    const auto command = [&](Qt::Key key) {
        services.answers = {kAnswerNo};
        services.openNames = {Path("other.tlb")};
        const auto choose = [&] {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::AltModifier);
            ASSERT_EQ(QApplication::activePopupWidget(), window->FileMenu());
            QTest::keyClick(window->FileMenu(), key);
        };
        if (View().InEditMode()) {
            QWidget* field = QApplication::focusWidget();
            const size_t told = services.messages.size();
            services.answers.clear();
            choose();
            EXPECT_EQ(services.messages.size(), told + 1);
            EXPECT_EQ(services.messages.back().Text, ResText(175));
            EXPECT_EQ(QApplication::focusWidget(), field);
            services.answers = {kAnswerNo};
            QTest::mouseClick(View().DetailsField(Field::Cancel), Qt::LeftButton);
            field->setFocus();
        }
        choose();
        EXPECT_EQ(QApplication::focusWidget(), View().Tree());
        EXPECT_EQ(window->Path(), key == Qt::Key_O ? Path("other.tlb").toStdU16String() : u"");
    };
    int tried = 0;
    for (const std::vector<const char*>& path : nodes)
        for (int page = 0; page < 5; ++page)
            for (size_t i = 0; i < show(path, page).size(); ++i)
                for (const Qt::Key key : {Qt::Key_O, Qt::Key_N}) {
                    const std::vector<QWidget*> controls = show(path, page);
                    ASSERT_LT(i, controls.size());
                    QWidget* control = controls[i];
                    SCOPED_TRACE(std::string(control->metaObject()->className()) + " '" +
                                 control->accessibleName().toStdString() + "' on page " + std::to_string(page) +
                                 " of " + (path.empty() ? "the library" : path.back()));
                    control->setFocus();
                    ASSERT_EQ(QApplication::focusWidget(), control);
                    if (auto* text = qobject_cast<QLineEdit*>(control); text && !text->isReadOnly())
                        QTest::keyClicks(text, "1");  // an edit pending
                    command(key);
                    ++tried;
                }
    EXPECT_GT(tried, 60);
    // The tree's own label editor, open.
    show({"IShape"}, 0);
    QTest::keyClick(View().Tree(), Qt::Key_F2);
    QLineEdit* label = View().Tree()->viewport()->findChild<QLineEdit*>();
    ASSERT_TRUE(label && label->hasFocus());
    command(Qt::Key_N);
}

// A library that can't be opened leaves the window as it was: the library it
// showed, its path, its dirty flag and what Save offers.
TEST_F(MainWindow, AFailedOpenKeepsTheWindowsState) {
    const fs::path file = dir / "shapes.tlb";
    Open(file);
    Edit();
    QTreeWidgetItem* root = Root();
    // The chooser's own check is bypassed (the file may change after it).
    services.openNames = {Path("notes.txt")};
    services.skipChecks = true;
    services.answers = {kAnswerNo};
    Run(Command::Open);
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[1].Style, kStyleError);
    EXPECT_TRUE(services.messages[1].Text.contains(Path("notes.txt")));
    EXPECT_EQ(Root(), root);
    EXPECT_EQ(window->Path(), ole::FromUtf8(file.string()));
    EXPECT_TRUE(window->Dirty());
    EXPECT_TRUE(Offers(Command::Save));
    EXPECT_EQ(window->windowTitle(), Caption(Q(file), ResText(118)));
    // A library that loads but whose editable copy can't be made.
    fs::copy_file(file, dir / "other.tlb");
    services.openNames = {Path("other.tlb")};
    services.answers = {kAnswerNo};
    ole::testing::FailNextCall("CreateTypeInfo", E_OUTOFMEMORY);
    Run(Command::Open);
    ole::testing::ClearInjectedFailures();
    ASSERT_EQ(services.messages.size(), 4u);
    EXPECT_EQ(services.messages[3].Style, kStyleError);
    EXPECT_EQ(Root(), root);
    EXPECT_EQ(window->Path(), ole::FromUtf8(file.string()));
    EXPECT_TRUE(window->Dirty());
    // The library is still the one edited: saving writes the edit.
    Run(Command::Save);
    EXPECT_EQ(LibFlags(file) & kLibFlagControl, kLibFlagControl);
}

// The bare name stdole2.tlb is the built-in library, even where the current
// folder holds a file of that name, which Save never writes.
TEST_F(MainWindow, TheBuiltInLibraryIsNeverSavedOverAFileOfItsName) {
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    std::ofstream("stdole2.tlb") << "";  // an empty file would count as a library file
    Open("stdole2.tlb");
    fs::current_path(here);
    ASSERT_TRUE(Root());
    EXPECT_TRUE(Root()->text(0).startsWith(QStringLiteral("stdole")));
    EXPECT_FALSE(window->WritableFile());
    Edit();
    EXPECT_FALSE(Offers(Command::Save));
    EXPECT_TRUE(Offers(Command::SaveAs));
    Run(Command::Save);
    EXPECT_EQ(fs::file_size(dir / "stdole2.tlb"), 0u);
}

// The built-in library was read from no file: saved as a file of its name in
// the current folder, which another program wrote meanwhile, it is written
// there like any library saved as another file.
TEST_F(MainWindow, TheBuiltInLibrarySavedAsAFileOfItsNameExpectsNothingOfIt) {
    InFolder inFolder(dir.path());
    std::ofstream("stdole2.tlb") << "";
    Open("stdole2.tlb");
    Edit();
    {
        ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8(Path("stdole2.tlb").toStdString()));
        EXPECT_OK(lib->SaveAllChanges());
    }
    const auto theirs = testsupport::ReadBytes(dir / "stdole2.tlb");
    services.saveNames = {Path("stdole2.tlb")};
    Run(Command::SaveAs);
    EXPECT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();
    EXPECT_FALSE(window->Dirty());
    EXPECT_NE(testsupport::ReadBytes(dir / "stdole2.tlb"), theirs);
    EXPECT_NE(LibFlags(dir / "stdole2.tlb"), -1);
}

// The history windows: attached to every library opened or created, told of
// the view's edit mode, and let go of edit mode when the main window closes.
TEST_F(MainWindow, HistoryWindowsFollowTheLibraryAndTheEditMode) {
    FakeRecorder first, second, added;
    auto windows = std::make_shared<RecorderWindows>();
    windows->Add(&first);
    windows->Add(&second);
    Open({}, nullptr, windows);
    EXPECT_EQ(window->RecorderWindowList(), windows);
    EXPECT_FALSE(window->Action(Command::NewRecorderWindow)->isEnabled());
    int made = 0;
    // Without a factory the command does nothing.
    Run(Command::New);
    ASSERT_TRUE(window->Action(Command::NewRecorderWindow)->isEnabled());
    Run(Command::NewRecorderWindow);
    ASSERT_EQ(first.attached.size(), 1u);
    ASSERT_EQ(second.attached.size(), 1u);
    EXPECT_TRUE(first.attached[0]);
    EXPECT_TRUE(window->LibraryIsNew());

    services.answers = {kAnswerNo};
    services.openNames = {Path("shapes.tlb")};
    Run(Command::Open);
    ASSERT_EQ(second.attached.size(), 2u);
    EXPECT_NE(second.attached[1], second.attached[0]);
    EXPECT_EQ(second.attachedNew, (std::vector<bool>{true, false}));  // New's library, then a file's
    EXPECT_FALSE(window->LibraryIsNew());

    StartEdit();
    EXPECT_EQ(first.editMode, std::vector<bool>{true});
    frmCorvane::SetRecorderWindowFactory([&](frmCorvane& editor) {
        ++made;
        EXPECT_EQ(&editor, window.data());
        editor.RecorderWindowList()->Add(&added);
    });
    Run(Command::NewRecorderWindow);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(added.editMode, std::vector<bool>{true});  // opened during the edit
    QTest::mouseClick(static_cast<QPushButton*>(View().DetailsField(Field::Cancel)), Qt::LeftButton);
    EXPECT_EQ(second.editMode, (std::vector<bool>{true, false}));
    EXPECT_EQ(added.editMode, (std::vector<bool>{true, false}));

    StartEdit();
    EXPECT_FALSE(window->close());  // the edit pending
    EXPECT_EQ(first.editMode.back(), true);
    delete window.data();
    for (FakeRecorder* recorder : {&first, &second, &added})
        EXPECT_EQ(recorder->editMode.back(), false);
    EXPECT_EQ(windows->size(), 3u);  // the history windows stay
}

// Edits made in the window, recorded by a history engine on the window's hub
// and saved by the window in place; the program replays the history in batch
// mode on a fresh copy of the file and must write the same file.
TEST_F(MainWindow, EditsSavedInPlaceReplayInBatchModeToTheSameFile) {
    const fs::path file = dir / "shapes.tlb";
    Playback history;
    OpenRecorded(history);
    Edit();
    View().Tree()->setCurrentItem(TypeNode("Colors"));
    auto* options = static_cast<QListWidget*>(View().DetailsField(Field::Options));
    QListWidgetItem* hidden = options->findItems(QStringLiteral("hidden"), Qt::MatchExactly).value(0);
    ASSERT_TRUE(hidden);
    hidden->setCheckState(hidden->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    QTest::mouseClick(static_cast<QPushButton*>(View().DetailsField(Field::Update)), Qt::LeftButton);
    ASSERT_EQ(history.ItemCount(), 2);
    EXPECT_TRUE(window->Dirty());
    Run(Command::Save);
    EXPECT_FALSE(window->Dirty());
    ASSERT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();
    ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
    ReplayInBatch("batch.tlb");
    EXPECT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), testsupport::ReadBytes(file));
    EXPECT_NE(testsupport::ReadBytes(dir / "fresh.tlb"), testsupport::ReadBytes(file));
}

// A version typed and not yet updated is no part of a save: Save and Save As
// are refused while it is pending, and the window stays unsaved. Updated, it
// is saved, as two batch replays of the window's history save it.
TEST_F(MainWindow, SaveAndSaveAsWaitForThePendingEdit) {
    Playback history;
    OpenRecorded(history);
    Edit();
    auto* version = static_cast<QLineEdit*>(View().DetailsField(Field::Version));
    version->setFocus();
    version->selectAll();
    QTest::keyClicks(version, "3.71");
    ASSERT_TRUE(View().InEditMode());
    const auto read = testsupport::ReadBytes(dir / "shapes.tlb");
    services.saveNames = {Path("out.tlb")};
    Run(Command::Save);
    Run(Command::SaveAs);
    EXPECT_TRUE(services.requests.empty());
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
    EXPECT_EQ(testsupport::ReadBytes(dir / "shapes.tlb"), read);
    EXPECT_TRUE(window->Dirty());
    EXPECT_EQ(window->windowTitle(), Caption(Path("shapes.tlb"), ResText(118)));
    EXPECT_EQ(version->text(), QStringLiteral("3.71"));
    EXPECT_EQ(services.MessageTexts(), std::vector<QString>(2, ResText(175)));

    services.messages.clear();
    QTest::keyClick(version, Qt::Key_Return);
    Run(Command::SaveAs);
    ASSERT_TRUE(services.messages.empty()) << services.messages.front().Text.toStdString();
    EXPECT_FALSE(window->Dirty());
    EXPECT_EQ(LibAttr(dir / "out.tlb").wMajorVerNum, 3);
    EXPECT_EQ(LibAttr(dir / "out.tlb").wMinorVerNum, 71);
    ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
    for (const char* replay : {"batch1.tlb", "batch2.tlb"}) {
        ReplayInBatch(replay);
        EXPECT_EQ(testsupport::ReadBytes(dir / replay), testsupport::ReadBytes(dir / "out.tlb")) << replay;
    }
}

// The main window on a library, light and dark, for a person to look at.
TEST_F(MainWindow, Screenshots) {
    Open(dir / "shapes.tlb");
    window->resize(window->fontMetrics().averageCharWidth() * 110, window->fontMetrics().lineSpacing() * 30);
    View().Tree()->setCurrentItem(Root()->child(3));
    QCoreApplication::processEvents();
    SaveScreenshots(*window, "main-window");
    window->setPalette(testsupport::DarkPalette());
    QCoreApplication::processEvents();
    SaveScreenshots(*window, "main-window-dark");
    window->FileMenu()->setPalette(testsupport::DarkPalette());
    window->FileMenu()->popup(window->mapToGlobal(QPoint(0, 0)));
    QCoreApplication::processEvents();
    SaveScreenshots(*window->FileMenu(), "main-window-file-menu-dark");
    window->FileMenu()->hide();
}

}  // namespace

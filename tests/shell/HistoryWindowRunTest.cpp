// The program's entry with history windows: a batch run that stops shows its
// window bound and stopped, one that fails after its run shows the history at
// its end before the error, and /activate opens the history without running
// it. Each opens one main window.
#include "RecorderTestSupport.h"

#include <QPointer>

#include "app/modCorvaneExe.h"
#include "support/TempDir.h"

namespace recordertest {
namespace {

namespace fs = std::filesystem;

class HistoryWindowRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { shelltest::EnsureApp(); }
    HistoryWindowRun() {
        {
            ComPtr<ICreateTypeLib2> created = treetest::BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
            EXPECT_OK(created->SaveAllChanges());
        }
        RecordHistory();
        shell.NewHistoryWindow = [this]() -> modCorvaneExe::IHistoryWindow* {
            auto* window = new frmRecorder;
            windows.emplace_back(window);
            return window;
        };
        shell.RunWindows = [this] {
            ++loops;
            QCoreApplication::processEvents();  // the queued run of a stopped batch
            QCoreApplication::processEvents();
            for (const QPointer<frmRecorder>& window : windows) {
                if (!window || !window->isVisible()) continue;
                shownLines = Lines(*window->List());
                bound = window->List()->Playback() != nullptr;
                caption = window->windowTitle().toStdString();
                window->close();
            }
        };
        shell.MessageBox = [this](std::u16string_view text, int32_t) {
            reported.push_back(ole::ToUtf8(std::u16string(text)));
            return true;
        };
        frmRecorder::SetEditorOpener([this](std::shared_ptr<ChangeListener> hub, const std::u16string& path,
                                            ITypeLib* library, ITypeLib*, bool, SharedRecorderWindows list,
                                            const std::u16string& destination) {
            ++editors;
            editorPath = ole::ToUtf8(path);
            editorDestination = ole::ToUtf8(destination);
            EXPECT_TRUE(hub);
            EXPECT_EQ(list->size(), 1u);
            BSTR name = nullptr;
            if (library && ole::SUCCEEDED(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr)) && name)
                editorLibrary = ole::ToUtf8(std::u16string(name));
            ole::SysFreeString(name);
        });
    }
    ~HistoryWindowRun() override {
        frmRecorder::SetEditorOpener({});
        for (const QPointer<frmRecorder>& window : windows) delete window.data();
    }

    void RecordHistory() { WriteTwoItemHistory(dir / "in.tlb", dir / "history.leh"); }
    int Main(std::vector<std::string> args) {
        const fs::path before = fs::current_path();
        fs::current_path(dir.path());
        const int code = modCorvaneExe::Main(args, shell);
        fs::current_path(before);
        return code;
    }

    testsupport::TempDir dir;
    ScriptedServices services;
    dialogs::ScopedUiServices scoped{services};
    modCorvaneExe::Shell shell;
    std::vector<QPointer<frmRecorder>> windows;
    std::vector<std::string> reported;
    std::vector<std::string> shownLines;
    std::string caption, editorPath, editorLibrary, editorDestination;
    bool bound = false;
    int loops = 0, editors = 0;
};

// On a new library IShape is missing: the run stops at the second item, the
// window shows it there, bound, runs again once shown where the platform put
// it and reports what stops it over it, naming the item as -quiet would.
TEST_F(HistoryWindowRun, ABatchRunThatStopsShowsItsWindowStoppedThere) {
    EXPECT_EQ(Main({"-leh", "history.leh", "-new", "-saveas", "out.tlb"}), 2);
    EXPECT_EQ(loops, 1);
    EXPECT_TRUE(bound);
    ASSERT_EQ(shownLines.size(), 3u);
    EXPECT_EQ(shownLines[1].substr(0, 2), "> ") << shownLines[1];
    EXPECT_EQ(caption, "Library Edit History - (" + (dir / "history.leh").string() + ")");
    EXPECT_EQ(editors, 1);  // one main window
    EXPECT_EQ(editorLibrary, "NewLib");
    EXPECT_EQ(editorDestination, "out.tlb");  // where the main window saves
    EXPECT_TRUE(reported.empty());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.LastMessage().rfind("Library Edit History item 2 (\"" + shownLines[1].substr(2) +
                                               "\") failed: Element not found",
                                           0),
              0u)
        << services.LastMessage();
    EXPECT_TRUE(services.overShownWindow[0]);
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

// A library whose interface IShape is missing: the run that stops hands its
// history to its window, which asks for another interface over itself, shown
// where the platform put it.
TEST_F(HistoryWindowRun, AStoppedRunAsksForANameOverItsShownWindow) {
    fs::copy_file(ZEPHRIN_TEST_DATA_DIR "/golden/helpdata.tlb", dir / "other.tlb");
    std::vector<bool> asked;  // over a shown window, each time
    frmRecorder::SetNameDialog([&](QWidget* owner, const ChooseNameRequest&) -> std::optional<size_t> {
        asked.push_back(ScriptedServices::Shown(owner));
        return std::nullopt;
    });
    EXPECT_EQ(Main({"-leh", "history.leh", "-tlb", "other.tlb", "-saveas", "out.tlb"}), 2);
    frmRecorder::SetNameDialog({});
    EXPECT_EQ(asked, std::vector<bool>{true});
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

// The run reaches its end and the save fails: the history shows at its end,
// then the error.
TEST_F(HistoryWindowRun, AnErrorAfterTheRunShowsTheHistoryAtItsEnd) {
    EXPECT_EQ(Main({"-leh", "history.leh", "-tlb", "in.tlb", "-saveas", "missing/out.tlb"}), 2);
    EXPECT_EQ(loops, 1);
    EXPECT_TRUE(bound);
    EXPECT_EQ(shownLines, (std::vector<std::string>{"  " + shownLines[0].substr(2), "  " + shownLines[1].substr(2),
                                                    "> "}));
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(editorPath, "in.tlb");
    EXPECT_EQ(editorDestination, "missing/out.tlb");
    ASSERT_EQ(reported.size(), 1u);
    // The message says that the library could not be written, and why.
    EXPECT_EQ(reported[0].rfind("The edited library could not be written: 'missing/out.tlb' ", 0), 0u) << reported[0];
    EXPECT_NE(reported[0].find("'missing' does not exist"), std::string::npos) << reported[0];
    EXPECT_TRUE(services.messages.empty());
}

// A quiet run shows nothing; a run that succeeds shows nothing either.
TEST_F(HistoryWindowRun, QuietAndSuccessfulRunsShowNoWindow) {
    EXPECT_EQ(Main({"-leh", "history.leh", "-new", "-saveas", "out.tlb", "-quiet"}), 2);
    EXPECT_TRUE(windows.empty());
    EXPECT_EQ(Main({"-leh", "history.leh", "-tlb", "in.tlb", "-saveas", "out.tlb"}), 0);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_FALSE(windows[0]->isVisible());
    EXPECT_EQ(loops, 0);
    EXPECT_EQ(editors, 0);
    EXPECT_TRUE(fs::exists(dir / "out.tlb"));
}

TEST_F(HistoryWindowRun, ActivateOpensTheHistoryWithoutRunningItAndOneMainWindow) {
    shell.RunWindows = [this] { ++loops; };
    EXPECT_EQ(Main({"-leh", "history.leh", "-tlb", "in.tlb", "-activate"}), 0);
    ASSERT_EQ(windows.size(), 1u);
    frmRecorder* window = windows[0];
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(loops, 1);
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(editorPath, "in.tlb");
    EXPECT_EQ(editorDestination, "");  // the main window saves as the user chooses
    ASSERT_EQ(window->List()->ListCount(), 3);
    EXPECT_EQ(Lines(*window->List())[0].substr(0, 2), "> ");  // not run
    QCoreApplication::processEvents();
    EXPECT_EQ(Lines(*window->List())[0].substr(0, 2), "> ");
    // Activated again, it opens no other main window.
    window->Engine()->UIActivator(window);
    EXPECT_TRUE(window->Engine()->ActivateUI());
    EXPECT_EQ(editors, 1);
    EXPECT_EQ(window->List()->ListCount(), 3);
    // With /new the main window shows NewLib.
    EXPECT_EQ(Main({"-leh", "history.leh", "-new", "-activate"}), 0);
    EXPECT_EQ(editors, 2);
    EXPECT_EQ(editorLibrary, "NewLib");
}

}  // namespace
}  // namespace recordertest

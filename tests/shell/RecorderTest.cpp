// The history list control with an engine recording library changes: what it
// shows, what its mouse, keys and menu ask its host to run, when it tells of
// a selection, its glyphs, and that neither it nor its engine outlives the
// other's use of it.
#include "RecorderTestSupport.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>

#include "changes/history/IPlaybackUIActivation.h"

namespace recordertest {
namespace {

// Binds the list to the engine when the engine asks, as the window does.
class ListActivation : public IPlaybackUIActivation {
public:
    Recorder* list = nullptr;
    std::shared_ptr<Playback> engine;
    IPlaybackUI* ActivateUI(IPlayback&, bool& runPending) override {
        list->SetPlayback(engine);
        runPending = false;
        return list;
    }
};

class RecorderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { shelltest::EnsureApp(); }
    RecorderTest() {
        lib = changestest::Shapes();
        view.Attach(lib.get());
        engine->ChangeListener(hub);
        engine->CurrentITypeLib(lib.get());
        list = new Recorder;
        list->resize(list->fontMetrics().averageCharWidth() * 50, list->fontMetrics().height() * 12);
        list->show();
        activation.list = list;
        activation.engine = engine;
        engine->UIActivator(&activation);
        EXPECT_TRUE(engine->ActivateUI());
        list->CommandFilter(383);
        QObject::connect(list, &Recorder::CommandRequested, list, [this](int command, int index, PlaybackItem item) {
            requests.push_back(command);
            engine->ExecuteCommand(command, index, item);
        });
    }
    ~RecorderTest() override { delete list; }

    // n library changes, each a new minor version, applied through the hub.
    void Record(int n) {
        for (int i = 0; i < n; ++i) {
            ChangeTarget target = changestest::LibraryTarget(view.ReadView().get());
            auto captured = modLibChange::NewLibChange();
            captured->InitFromTarget(target);
            auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
            change->MinorVersion(static_cast<int16_t>(++version));
            ASSERT_TRUE(change->Apply(view, captured.get(), target, hub.get(), 0));
        }
    }

    ScriptedServices services;
    dialogs::ScopedUiServices scoped{services};
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    ComPtr<ITypeLib> lib;
    CustomTypeLib view;
    std::shared_ptr<Playback> engine = std::make_shared<Playback>();
    ListActivation activation;
    Recorder* list = nullptr;
    std::vector<int> requests;
    int version = 0;
};

TEST_F(RecorderTest, TheEngineFillsTheListAndTheGlyphColumnTogglesBreakpointsButNotOnTheEndLine) {
    Record(3);
    ASSERT_EQ(list->ListCount(), 4);
    EXPECT_EQ(list->List(3), QString());  // the end line
    EXPECT_EQ(list->ItemData(3), kEndItem);
    EXPECT_EQ(Lines(*list)[3], "> ");
    Click(*list, 1, true);
    EXPECT_EQ(engine->Glyph(list->ItemData(1)), kGlyphBreakpoint);
    Click(*list, 3, true);  // the end line: nothing
    EXPECT_EQ(requests, std::vector<int>{kCmdToggleBreakpoint});
    Click(*list, 1, true);
    EXPECT_EQ(engine->Glyph(list->ItemData(1)), kGlyphNone);
    // A click right of the column only selects.
    Click(*list, 0);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(list->ListIndex(), 0);
}

TEST_F(RecorderTest, OnlyTheUsersSelectionAndListIndexSetByCodeTellOfASelection) {
    QSignalSpy spy(list, &Recorder::SelectionChanged);
    Record(2);  // lines inserted before the current one move Qt's current row
    EXPECT_EQ(spy.count(), 2);  // the engine's own ListIndex after each insertion
    spy.clear();
    list->RemoveItem(0);
    list->AddItem(0, 1);
    list->RemoveAllItems();
    EXPECT_EQ(spy.count(), 0);
    engine->ActivateUI();  // refills nothing: the list is bound
    engine->ClearState();
    Record(2);
    spy.clear();
    Click(*list, 1);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(spy.at(0).at(1).value<PlaybackItem>(), list->ItemData(1));
    list->setFocus();
    QTest::keyClick(list->ListView(), Qt::Key_Down);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 2);
    list->ListIndex(0);
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).toInt(), 0);
}

TEST_F(RecorderTest, TheMenuShowsTheFilteredCommandsEnabledByTheEngine) {
    Record(3);
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    list->ListIndex(2);
    QTest::mouseClick(list->ListView()->viewport(), Qt::RightButton, {}, LinePoint(*list, 1));
    QMenu* menu = list->ContextMenu();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(list->ListIndex(), 1);  // the line right-clicked is selected first
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 9);
    EXPECT_EQ(actions[0]->text(), "&Run");
    EXPECT_EQ(actions[8]->text(), "Select &Target");
    EXPECT_FALSE(actions[7]->isVisible());  // Restart is not offered by filter 383
    // The current line is the first: Run, Step, Run to Cursor, Toggle Breakpoint, Delete.
    for (int i : {0, 1, 2, 4, 6}) EXPECT_TRUE(actions[i]->isEnabled()) << i;
    for (int i : {5, 8}) EXPECT_FALSE(actions[i]->isEnabled()) << i;
    actions[4]->trigger();
    EXPECT_EQ(engine->Glyph(list->ItemData(1)), kGlyphBreakpoint);
    menu->hide();
    // Run to Cursor from the menu runs the first line and stops at the breakpoint before the cursor.
    QTest::mouseClick(list->ListView()->viewport(), Qt::RightButton, {}, LinePoint(*list, 2));
    EXPECT_EQ(list->ListIndex(), 2);
    menu->actions()[2]->trigger();
    menu->hide();
    std::vector<std::string> marks;
    for (const std::string& line : Lines(*list)) marks.push_back(line.substr(0, 2));
    EXPECT_EQ(marks, (std::vector<std::string>{"  ", "*>", "  ", "  "}));
    EXPECT_EQ(requests, (std::vector<int>{kCmdToggleBreakpoint, kCmdRunToCursor}));
}

TEST_F(RecorderTest, NoMenuLeftOfTheTextNorWithoutAFilterAndTheKeyboardMenuOpensBesideTheLine) {
    Record(2);
    QTest::mouseClick(list->ListView()->viewport(), Qt::RightButton, {}, LinePoint(*list, 1, true));
    EXPECT_FALSE(list->ContextMenu()->isVisible());
    list->CommandFilter(0);
    QTest::mouseClick(list->ListView()->viewport(), Qt::RightButton, {}, LinePoint(*list, 1));
    EXPECT_FALSE(list->ContextMenu()->isVisible());
    list->CommandFilter(383);
    list->ListIndex(1);
    list->ListView()->setFocus();
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
    QCoreApplication::sendEvent(list->ListView()->viewport(), &key);
    ASSERT_TRUE(list->ContextMenu()->isVisible());
    const QRect line = list->ListView()->visualRect(list->ListView()->model()->index(1, 0));
    const QPoint expected = list->ListView()->viewport()->mapToGlobal(QPoint(line.left() + 21, line.bottom() + 2));
    EXPECT_EQ(list->ContextMenu()->pos(), expected);
    list->ContextMenu()->hide();
    for (auto [key, mods] : {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
        QTest::keyClick(list->ListView(), key, mods);
        ASSERT_TRUE(list->ContextMenu()->isVisible()) << key;
        EXPECT_EQ(list->ContextMenu()->pos(), expected);
        list->ContextMenu()->hide();
    }
}

TEST_F(RecorderTest, DoubleClickSelectsTheTargetOfTheCurrentLineOnly) {
    Record(2);
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    list->ListIndex(1);  // not the current line: Select Target is not offered
    QTest::mouseDClick(list->ListView()->viewport(), Qt::LeftButton, {}, LinePoint(*list, 1));
    EXPECT_TRUE(requests.empty());
    QTest::mouseDClick(list->ListView()->viewport(), Qt::LeftButton, {}, LinePoint(*list, 0));
    EXPECT_EQ(requests, std::vector<int>{kCmdSelectTarget});
}

TEST_F(RecorderTest, LinesTellScreenReadersTheirTextAndState) {
    Record(2);
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    engine->ExecuteCommand(kCmdToggleBreakpoint, 1, list->ItemData(1));
    const QAbstractItemModel* model = list->ListView()->model();
    const QString first = model->index(0, 0).data(Qt::AccessibleTextRole).toString();
    EXPECT_TRUE(first.startsWith(list->List(0))) << first.toStdString();
    EXPECT_TRUE(first.endsWith(", next to run")) << first.toStdString();
    EXPECT_TRUE(model->index(1, 0).data(Qt::AccessibleTextRole).toString().endsWith(", breakpoint"));
    EXPECT_EQ(model->index(2, 0).data(Qt::AccessibleTextRole).toString(), "End of history");
}

// A line's state changed from the glyph column and the menu reaches a screen
// reader that has read the lines as a name change of that line.
TEST_F(RecorderTest, ALinesChangedStateIsAnnouncedAsItsNewName) {
    Record(2);
    QAccessibleInterface* lines = QAccessible::queryAccessibleInterface(list->ListView());
    ASSERT_TRUE(lines);
    for (int i = 0; i < list->ListCount(); ++i) lines->child(i)->text(QAccessible::Name);
    shelltest::NameChanges told;
    Click(*list, 0, true);  // a breakpoint
    Click(*list, 0);
    list->ListView()->setFocus();
    for (Qt::Key item : {Qt::Key_N, Qt::Key_P}) {  // Set Next Statement, Clear Breakpoints
        QTest::keyClick(list->ListView(), Qt::Key_F10, Qt::ShiftModifier);
        ASSERT_TRUE(list->ContextMenu()->isVisible());
        QTest::keyClick(list->ContextMenu(), item);
    }
    const QString first = list->List(0);
    using Change = shelltest::NameChanges::Change;
    EXPECT_EQ(told.Of(list->ListView()),
              (std::vector<Change>{{list->ListView(), 0, first + ", breakpoint"},
                                   {list->ListView(), 2, "End of history"},
                                   {list->ListView(), 0, first + ", next to run, breakpoint"},
                                   {list->ListView(), 0, first + ", next to run"}}));
}

// Deleting the line to run next makes the line after it the one to run next:
// a reader that has read that line hears its new name. (Only the lines after
// the deleted one are read: the offscreen platform never activates
// accessibility, so Qt would not move what a reader has read of a line along
// with the rows.)
TEST_F(RecorderTest, TheLineThatBecomesNextToRunAfterADeleteIsAnnounced) {
    Record(3);
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    QAccessibleInterface* lines = QAccessible::queryAccessibleInterface(list->ListView());
    ASSERT_TRUE(lines);
    for (int i = 1; i < list->ListCount(); ++i) lines->child(i)->text(QAccessible::Name);
    const QString second = list->List(1);
    shelltest::NameChanges told;
    engine->ExecuteCommand(kCmdDelete, 0, list->ItemData(0));
    ASSERT_EQ(list->List(0), second);
    EXPECT_EQ(told.Of(list->ListView()),
              (std::vector<shelltest::NameChanges::Change>{{list->ListView(), 0, second + ", next to run"}}));
}

// The glyph column as drawn: a yellow arrow on the current line, a red disc on
// a breakpoint, both on a current breakpoint, on light and dark lists; the
// pictures follow a palette change.
TEST_F(RecorderTest, TheGlyphColumnShowsThePositionAndTheBreakpoints) {
    Record(3);
    engine->ExecuteCommand(kCmdRestart, -1, 0);
    engine->ExecuteCommand(kCmdToggleBreakpoint, 0, list->ItemData(0));
    engine->ExecuteCommand(kCmdToggleBreakpoint, 2, list->ItemData(2));
    list->ListIndex(3);
    const auto strip = [&](int line) {
        const QRect rect = list->ListView()->visualRect(list->ListView()->model()->index(line, 0));
        return list->ListView()->viewport()->grab(QRect(rect.left(), rect.top(), Recorder::kGlyphColumn, rect.height()))
            .toImage();
    };
    const auto has = [](const QImage& image, auto test) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (test(image.pixelColor(x, y))) return true;
        return false;
    };
    const auto red = [](const QColor& c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; };
    const auto yellow = [](const QColor& c) { return c.red() > 220 && c.green() > 190 && c.blue() < 90; };
    for (bool dark : {false, true}) {
        if (dark) list->setPalette(testsupport::DarkPalette());
        QCoreApplication::processEvents();
        EXPECT_TRUE(has(strip(0), red) && has(strip(0), yellow)) << dark;  // both
        EXPECT_FALSE(has(strip(1), red) || has(strip(1), yellow)) << dark;
        EXPECT_TRUE(has(strip(2), red) && !has(strip(2), yellow)) << dark;
        EXPECT_FALSE(has(strip(3), red) || has(strip(3), yellow)) << dark;  // the end line
    }
    engine->ExecuteCommand(kCmdSetNextStatement, -1, 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(has(strip(3), yellow) && !has(strip(3), red));  // the end line as the position
    EXPECT_TRUE(has(strip(0), red) && !has(strip(0), yellow));
    EXPECT_EQ(list->GlyphIcon(kGlyphCurrent).availableSizes().size(), 2);  // 1x and 2x
}

// Every line is as wide as the list, however wide the list: a longer line is
// cut there, its tooltip holding it whole, and nothing scrolls sideways.
TEST_F(RecorderTest, LinesAreAsWideAsTheListAndTheirTooltipsHoldThemWhole) {
    Record(2);
    QListView* view = list->ListView();
    for (int chars : {90, 12}) {
        list->resize(list->fontMetrics().averageCharWidth() * chars, list->height());
        QCoreApplication::processEvents();
        for (int i = 0; i < list->ListCount(); ++i) {
            const QModelIndex line = view->model()->index(i, 0);
            EXPECT_EQ(view->visualRect(line).width(), view->viewport()->width()) << chars << " chars, line " << i;
            EXPECT_EQ(line.data(Qt::ToolTipRole).toString().toStdString(), list->List(i).toStdString());
        }
        EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    }
}

// The engine calls its list from its destructor; whichever goes first, neither
// reaches the other once it is gone (the sanitizer checks).
TEST_F(RecorderTest, TheListAndItsEngineGoInEitherOrder) {
    Record(2);
    {
        // The list goes while someone else still holds the engine.
        std::shared_ptr<Playback> held = engine;
        delete list;
        list = nullptr;
        Record(1);
        held->ExecuteCommand(kCmdRestart, -1, 0);
        held->ClearState();
        activation.engine.reset();
        engine.reset();
    }  // the engine goes last
    // The engine goes while its list stays.
    engine = std::make_shared<Playback>();
    engine->ChangeListener(hub);
    engine->CurrentITypeLib(lib.get());
    list = new Recorder;
    activation.list = list;
    activation.engine = engine;
    engine->UIActivator(&activation);
    ASSERT_TRUE(engine->ActivateUI());
    Record(2);
    ASSERT_EQ(list->ListCount(), 3);
    activation.engine.reset();
    engine.reset();
    list->SetPlayback(nullptr);
    EXPECT_EQ(list->ListCount(), 0);
    list->show();
    list->ListView()->viewport()->repaint();
}

}  // namespace
}  // namespace recordertest

// A session of the whole editor, played as a user plays it: the program's
// own main window and history window, offscreen, driven by keys and clicks
// through every context-menu command that opens a dialog or a message, the
// format menus, and the history window's menus. The real dialogs and
// messages open and run their own event loops; the session answers them.
//
//   session_driver LIBRARY
//
// With ZEPHRIN_SESSION_STEPS=n, n random steps follow the scripted ones,
// drawn from ZEPHRIN_SESSION_SEED (1 when unset).
//
// LIBRARY is opened for editing and is never written; the session's own
// files go to a folder of its own. Exit code 0 when every
// step ran, 3 when a step found the windows in another state than expected.
// tests/tools/valgrind-session.sh runs it under valgrind.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabBar>
#include <QPointer>
#include <QTemporaryDir>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "changes/history/Playback.h"
#include "dialogs/UiServices.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/view/LibraryViewer.h"
#include "platform/automation/BStr.h"
#include "shell/frmCorvane.h"
#include "shell/frmRecorder.h"
#include "support/ScreenReader.h"

namespace {

using namespace zephrin;
using Clock = std::chrono::steady_clock;

// Under valgrind a step may take seconds; none takes this long.
const auto kStepTimeout = std::chrono::seconds(120);

struct Step {
    std::string what;
    std::function<bool()> ready;
    std::function<void()> act;
};

class Session {
public:
    explicit Session(const std::string& library) : library_(library) {
        shell::InstallRecorderWindows();
        main_ = new shell::frmCorvane;
        main_->Init(nullptr, ole::FromUtf8(library), nullptr, nullptr, false, nullptr);
        Script();
    }

    void Start() { Tick(); }
    // True once every step has run.
    bool Finished() const { return next_ == steps_.size(); }

private:
    // One step per tick when it is ready. The next tick is armed first, so
    // that it comes inside the event loop of any dialog the step opens.
    void Tick() {
        if (next_ >= steps_.size()) return;
        QTimer::singleShot(20, [this] { Tick(); });
        const Step& step = steps_[next_];
        if (!step.ready()) {
            if (Clock::now() - since_ > kStepTimeout) Fail("timed out waiting to " + step.what + State());
            return;
        }
        std::fprintf(stderr, "session: %s\n", step.what.c_str());
        ++next_;
        since_ = Clock::now();
        // A step's dialog is answered by a later step, inside this one.
        step.act();
    }

    [[noreturn]] static void Fail(const std::string& why) {
        std::fprintf(stderr, "session: FAILED: %s\n", why.c_str());
        std::fflush(stderr);
        ::_exit(3);
    }

    // ---- The windows' state ----

    // What is open, for a failure's message.
    static std::string State() {
        std::string state;
        if (QWidget* modal = Modal())
            state += "; open: " + std::string(modal->metaObject()->className()) + " \"" +
                     modal->windowTitle().toStdString() + "\"";
        if (auto* box = qobject_cast<QMessageBox*>(Modal())) state += " saying \"" + box->text().toStdString() + "\"";
        if (QWidget* focus = QApplication::focusWidget())
            state += "; focus: " + std::string(focus->metaObject()->className()) + " " +
                     focus->objectName().toStdString();
        if (Popup()) state += "; a menu is open";
        return state;
    }

    QTreeWidget* Tree() const { return main_->Viewer()->Tree(); }
    static QWidget* Modal() { return QApplication::activeModalWidget(); }
    static QMenu* Popup() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }
    static bool Idle() { return !Modal() && !Popup(); }
    // A dialog or message open and taking the keys.
    static bool Asking() { return Modal() && QApplication::activeWindow() == Modal(); }
    // The open label editor of the tree, or null.
    QLineEdit* LabelEditor() const {
        for (QLineEdit* open : Tree()->viewport()->findChildren<QLineEdit*>())
            if (open->isVisible()) return open;
        return nullptr;
    }
    static shell::frmRecorder* HistoryWindow() {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* history = qobject_cast<shell::frmRecorder*>(window); history && history->isVisible())
                return history;
        return nullptr;
    }
    static QListView* HistoryList() {
        shell::frmRecorder* window = HistoryWindow();
        return window ? window->findChild<QListView*>() : nullptr;
    }

    // The node at path below the library's, its children built on the way.
    QTreeWidgetItem* Node(const std::vector<const char*>& path) const { return NodeIn(Tree(), path); }
    static QTreeWidgetItem* NodeIn(QTreeWidget* tree, const std::vector<const char*>& path) {
        QTreeWidgetItem* node = tree->topLevelItem(0);
        for (const char* name : path) {
            if (!node) break;
            editor::EnsureChildren(node);
            QTreeWidgetItem* found = nullptr;
            for (int i = 0; i < node->childCount() && !found; ++i)
                if (node->child(i)->text(0) == QLatin1String(name)) found = node->child(i);
            node = found;
        }
        return node;
    }

    static void Keys(QWidget* target, std::initializer_list<int> keys, Qt::KeyboardModifiers modifiers = {}) {
        for (int key : keys) {
            QWidget* focus = QApplication::focusWidget();
            // Keys go where the user's would: to the focus, when it is in the window.
            QTest::keyClick(focus && focus->window() == target->window() ? focus : target, static_cast<Qt::Key>(key),
                            modifiers);
        }
    }

    // ---- Steps ----

    void Add(std::string what, std::function<bool()> ready, std::function<void()> act) {
        steps_.push_back({std::move(what), std::move(ready), std::move(act)});
    }

    // Selects the node with a click and opens its context menu with Shift+F10,
    // or with the right button.
    enum class By { Keyboard, Mouse };
    void OpenMenu(std::initializer_list<const char*> path, By by = By::Keyboard) {
        std::string name = "the library";
        if (path.size()) name = *(path.end() - 1);
        std::vector<const char*> kept(path);
        Add("open the menu of " + name, Idle, [this, kept, name, by] {
            QTreeWidgetItem* node = Node(kept);
            if (!node) Fail("no node " + name);
            Tree()->scrollToItem(node);
            const QPoint at = Tree()->visualItemRect(node).center();
            if (by == By::Mouse) {
                QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, at);
            } else {
                QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, at);
                Tree()->setFocus();
                QTest::keyClick(Tree(), Qt::Key_F10, Qt::ShiftModifier);
            }
            if (Tree()->currentItem() != node) Fail("the click did not select " + name);
            if (!Popup()) Fail("no menu opened on " + name);
        });
    }

    // Chooses the item at path in the open menu: submenus are opened with the
    // keyboard, the item is clicked.
    void Choose(std::vector<std::string> path) {
        std::string what = "choose";
        for (const std::string& caption : path) what += " " + caption;
        Add(what, [] { return Popup() != nullptr; }, [path] {
            QMenu* menu = Popup();
            for (size_t i = 0; i < path.size(); ++i) {
                QAction* chosen = nullptr;
                for (QAction* action : menu->actions())
                    if (action->isVisible() && action->text() == QString::fromStdString(path[i])) chosen = action;
                if (!chosen || !chosen->isEnabled()) {
                    std::string items;
                    for (QAction* action : menu->actions())
                        if (action->isVisible())
                            items += " [" + action->text().toStdString() + (action->isEnabled() ? "]" : " (off)]");
                    Fail("no enabled item " + path[i] + " among" + items);
                }
                if (i + 1 < path.size()) {
                    if (!chosen->menu()) Fail(path[i] + " has no submenu");
                    menu->setActiveAction(chosen);
                    QTest::keyClick(menu, Qt::Key_Right);
                    menu = chosen->menu();
                    if (!menu->isVisible()) Fail("the submenu " + path[i] + " did not open");
                    continue;
                }
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
            }
        });
    }

    // Answers the dialog or message that opens next with keys.
    void Answer(const std::string& what, std::initializer_list<int> keys, Qt::KeyboardModifiers modifiers = {}) {
        std::vector<int> kept(keys);
        Add("answer " + what, Asking, [kept, modifiers] {
            QWidget* modal = Modal();
            for (int key : kept) Keys(modal, {key}, modifiers);
        });
    }

    // Answers the message that opens next with its button captioned caption.
    void Press(const std::string& caption) {
        Add("press " + caption, [] { return Asking() && qobject_cast<QMessageBox*>(Modal()); }, [caption] {
            for (QAbstractButton* button : Modal()->findChildren<QAbstractButton*>())
                if (button->text() == QString::fromStdString(caption)) {
                    QTest::mouseClick(button, Qt::LeftButton);
                    return;
                }
            Fail("the message has no button " + caption);
        });
    }

    void Do(const std::string& what, std::function<void()> act) { Add(what, Idle, std::move(act)); }
    // Reads the message that says an edit is pending, and closes it with Enter.
    void SeeEditPending() {
        Add("see that the edit must be updated or cancelled first, and close the message",
            [] { return Asking() && qobject_cast<QMessageBox*>(Modal()); }, [] {
                auto* box = qobject_cast<QMessageBox*>(Modal());
                if (box->text() != dialogs::ResText(175)) Fail("another message" + State());
                Keys(box, {Qt::Key_Return});
            });
    }
    // A further main window on the library, for a session's steps that close
    // it from outside; ClosingShown() once it is up.
    void OpenWindowToClose(const std::string& which) {
        Do("open a " + which + " main window", [this] {
            closing_ = new shell::frmCorvane;
            closing_->Init(nullptr, ole::FromUtf8(library_), nullptr, nullptr, false, nullptr);
        });
    }
    bool ClosingShown() const { return Idle() && closing_ && closing_->isVisible(); }

    void Script() {
        Add("show the window", [this] { return main_->isVisible() && Tree()->topLevelItem(0); }, [] {});
        // A history window records the session.
        Do("open the main window's File menu", [this] { FileMenu(main_); });
        Choose({"New &Recorder Window"});
        Add("see the history window", [] { return HistoryWindow() != nullptr; }, [this] { main_->activateWindow(); });

        // An implemented interface picked in the type picker, as the user would.
        OpenMenu({"Thing"});
        Choose({"&Add Implied Interface..."});
        Answer("the type picker", {Qt::Key_Right, Qt::Key_Down, Qt::Key_Return});
        OpenMenu({"Thing"});
        Choose({"&Add Implied Interface..."});
        Answer("the type picker with Escape", {Qt::Key_Escape});

        // The vtable order: a method moved down, OK; then Cancel.
        OpenMenu({"IPlain"});
        Choose({"&VTable Order..."});
        Answer("the vtable order", {Qt::Key_Down});
        Answer("the vtable order", {Qt::Key_Down}, Qt::ControlModifier);
        Answer("the vtable order", {Qt::Key_Return});
        OpenMenu({"IPlain"});
        Choose({"&VTable Order..."});
        Answer("the vtable order with Escape", {Qt::Key_Escape});

        // An enum of three values, its member order reversed in part.
        OpenMenu({});
        Choose({"&Add Type", "&enum"});
        Name("Hues");
        for (const char* value : {"Red", "Green", "Blue"}) {
            OpenMenu({"Hues"});
            Choose({"&Insert Value"});
            Name(value);
        }
        OpenMenu({"Hues"}, By::Mouse);
        Choose({"Member &Order..."});
        Answer("the member order", {Qt::Key_Down}, Qt::ControlModifier);
        Answer("the member order", {Qt::Key_Return});
        OpenMenu({"Hues"});
        Choose({"Member &Order..."});
        Answer("the member order with Escape", {Qt::Key_Escape});

        // The library's own custom data: its first item deleted, OK, which
        // regenerates the library; opened again, the item is gone. The type
        // order below starts from that library.
        OpenMenu({});
        Choose({"C&ustom Data..."});
        Add("delete the library's first custom-data item, and OK", Asking, [] {
            for (const char* button : {"cmdDeleteItem", "cmdOK"}) {
                auto* clicked = Modal()->findChild<QAbstractButton*>(QString::fromLatin1(button));
                if (!clicked || !clicked->isEnabled()) Fail(std::string("no enabled ") + button);
                QTest::mouseClick(clicked, Qt::LeftButton);
            }
        });
        OpenMenu({});
        Choose({"C&ustom Data..."});
        Add("see the deleted item gone, and close", Asking, [] {
            const auto* list = Modal()->findChild<QListWidget*>(QStringLiteral("lstMain"));
            if (!list || list->count() != 2) Fail("the library's custom data still lists its deleted item");
            Keys(Modal(), {Qt::Key_Escape});
        });

        // The type order, OK and Cancel.
        OpenMenu({});
        Choose({"&Type Order..."});
        Answer("the type order", {Qt::Key_Down}, Qt::ControlModifier);
        Answer("the type order", {Qt::Key_Return});
        OpenMenu({});
        Choose({"&Type Order..."});
        Answer("the type order with Escape", {Qt::Key_Escape});

        // A type still in use can't be deleted: the message, OK. Then a
        // method of another interface goes.
        OpenMenu({"IPlain"}, By::Mouse);
        Choose({"&Delete Type"});
        Answer("the refusal", {Qt::Key_Return});
        OpenMenu({"IProxyDual", "Stop"}, By::Mouse);
        Choose({"&Delete Method"});

        // The external types, the custom data, the redirections and the
        // internalising of types: each dialog closed.
        OpenMenu({});
        Choose({"E&xternal Types..."});
        Answer("the external types", {Qt::Key_Escape});
        OpenMenu({"IPlainDual"});
        Choose({"C&ustom Data..."});
        Answer("the custom data", {Qt::Key_Escape});
        OpenMenu({"IPlainDual"});
        Choose({"R&edirect Type", "&Leave This Type..."});
        Answer("the redirection", {Qt::Key_Escape});
        OpenMenu({"IPlainDual"});
        Choose({"R&edirect Type", "&Replace This Type with Redirection..."});
        Answer("the redirection", {Qt::Key_Escape});

        OpenMenu({});
        Choose({"&Internalize Types", "&Unmodified", "&Single Type"});
        Answer("the type picker with Escape", {Qt::Key_Escape});
        OpenMenu({});
        Choose({"&Internalize Types", "As &Proxy", "&Entire Library"});
        Answer("the library picker with Escape", {Qt::Key_Escape});

        // The format menu of a value: hexadecimal, then decimal again.
        for (const char* base : {"&Hexadecimal", "&Decimal"}) {
            Do("open the format menu of a value", [this] {
                QTreeWidgetItem* node = Node({"Hues", "Green"});
                if (!node) Fail("no value Green");
                Tree()->scrollToItem(node);
                QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(node).center());
                QWidget* field = main_->Viewer()->MemberPaneField(editor::LibraryViewer::MemberField::ConstValue);
                if (!field || !field->isVisible()) Fail("no value field");
                field->setFocus();
                QTest::keyClick(field, Qt::Key_F10, Qt::ShiftModifier);
                if (!Popup()) Fail("no format menu");
            });
            Choose({"&Format", base});
        }

        // An edit pending on the library's page: a screen reader's Press on
        // the Help tab is refused, saying why, and the edit stays; once it is cancelled the
        // Press shows the help page, and one on the first tab the details.
        Do("press the Help tab during an edit", [this] {
            ClickNode({});
            editor::LibraryViewer* view = main_->Viewer();
            auto* version = qobject_cast<QLineEdit*>(view->DetailsField(editor::LibraryViewer::Field::Version));
            if (!version || !version->isVisible()) Fail("no version field");
            version->setFocus();
            version->selectAll();
            QTest::keyClicks(version, QStringLiteral("1."));
            if (!view->InEditMode()) Fail("no edit pending");
            const int first = Tabs()->currentIndex();
            PressTab(Tabs()->count() - 1);  // refused, saying why below
            if (Tabs()->currentIndex() != first || version->text() != QStringLiteral("1.") || HelpShown())
                Fail("the Press left the page");
            QTest::mouseClick(view->DetailsField(editor::LibraryViewer::Field::Cancel), Qt::LeftButton);
            PressTab(Tabs()->count() - 1);
            if (!HelpShown()) Fail("the Press did not show the help page");
            PressTab(first);
            if (HelpShown()) Fail("the Press did not show the details page");
        });
        SeeEditPending();
        // The GUID dialog given a text that is not a GUID, which it says, then Escape.
        Do("open the GUID dialog of IPlain", [this] {
            ClickNode({"IPlain"});
            QTest::mouseClick(main_->Viewer()->DetailsField(editor::LibraryViewer::Field::ChangeGuid), Qt::LeftButton);
        });
        Add("type a text that is not a GUID", Asking, [] {
            auto* text = Modal()->findChild<QLineEdit*>(QStringLiteral("txtGUID"));
            auto* why = Modal()->findChild<QLabel*>(QStringLiteral("lblReason"));
            if (!text || !why) Fail("no GUID text" + State());
            text->selectAll();
            QTest::keyClicks(text, QStringLiteral("{not a GUID}"));
            if (why->text().isEmpty()) Fail("no reason given");
        });
        Answer("the GUID dialog with Escape", {Qt::Key_Escape});

        // The history window's menus: the context menu's commands on a line,
        // then New, which asks whether to save the history first.
        for (const char* command : {"Toggle &Breakpoint", "Clear Break&points", "Set &Next Statement", "Select &Target"}) {
            Do("open the history's menu", [] { HistoryMenu(1); });
            Choose({command});
        }
        Answer("that the target is gone", {Qt::Key_Return});
        Do("open the history's menu", [] { HistoryMenu(1); });
        Choose({"&Step"});
        Answer("that the item can't be applied", {Qt::Key_Return});
        Do("open the history's menu", [] { HistoryMenu(1); });
        Choose({"&Delete"});

        // A dispinterface's own property: its Get's type picked (long, by
        // its first letter) and offered to the Let's value, which has its
        // own node; that value typed on the Let's tab (short) and offered to
        // the Get. Then the Set's tab of an indexed property's value, whose
        // picker is cancelled.
        Do("show DText.data's Get", [this] { Show({"DText", "data"}, "BSTR"); });
        Do("open the Get's type picker", [this] { Click(Field::ChooseType); });
        Answer("the type picker", {Qt::Key_L, Qt::Key_Return});
        Do("update the Get", [this] { Click(Field::Update); });
        Press("&Yes");
        Do("show the Let's value", [this] { Show({"DText", "data", "<New Value>"}, "[in] long"); });
        Do("open the value's type picker", [this] { Click(Field::ChooseType); });
        Answer("the type picker", {Qt::Key_S, Qt::Key_Return});
        Do("update the value", [this] { Click(Field::Update); });
        Press("&Yes");
        Do("show the Set's tab of an indexed value", [this] {
            Show({"DText", "Item", "<New Value>"}, "[in] VARIANT");
            auto* tabs = main_->Viewer()->findChild<QTabBar*>();
            if (!tabs || tabs->count() < 2 || tabs->tabText(1) != QLatin1String("Set")) Fail("no Set tab" + State());
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
            if (Text(Field::SetType) != "[in] IDispatch*") Fail("the Set's value shows " + Text(Field::SetType));
        });
        Do("open the Set value's type picker", [this] { Click(Field::ChooseType); });
        Answer("the type picker with Escape", {Qt::Key_Escape});
        // A Let added from the context menu of a property with a Get alone:
        // it takes the value the Get returns, shown on a node of its own.
        OpenMenu({"DText", "length"});
        Choose({"&Add Function", "Property &Let"});
        Do("show the new Let's value", [this] { Show({"DText", "length", "<New Value>"}, "[in] long"); });
        // The type field's menu for an external base interface: the
        // redirection chooser closed, then the type internalised, which
        // rebuilds the pane and the tree while the menu's item runs.
        Do("open the type field's menu", [this] { TypeFieldMenu({"IPlainDual"}); });
        Choose({"&Redirect External Types", "&This Type Only..."});
        Answer("the redirection", {Qt::Key_Escape});
        Do("open the type field's menu", [this] { TypeFieldMenu({"IPlainDual"}); });
        Choose({"&Internalize External Types", "As &Proxy", "&This Type Only"});
        Settle("the internalising");

        // The history window's keys: back to the first item, a run to the end
        // (each item answered as it asks), and steps past the end.
        Do("press Shift+F5 in the history", [] { HistoryKey(Qt::Key_F5, Qt::ShiftModifier); });
        Settle("the restart");
        Do("press F5 in the history", [] { HistoryKey(Qt::Key_F5); });
        Settle("the run");
        Do("press F8 in the history", [] { HistoryKey(Qt::Key_F8); });
        Settle("the step");

        // With ZEPHRIN_SESSION_STEPS=n (and ZEPHRIN_SESSION_SEED), n random
        // steps more: keys in the tree, clicks on its nodes, and commands of
        // the context menus, each dialog or message answered at random.
        if (const char* count = std::getenv("ZEPHRIN_SESSION_STEPS")) {
            const char* seed = std::getenv("ZEPHRIN_SESSION_SEED");
            random_.seed(seed ? std::strtoul(seed, nullptr, 10) : 1);
            for (long i = std::strtol(count, nullptr, 10); i > 0; --i) {
                Add("a random step", [this] { return Answered(); }, [this] { RandomStep(); });
                Add("answer at random", [this] { return Answered(); }, [] {});
            }
        }

        // A new library in the main window while the history records: the
        // history notes the library's GUID before the interface added to it.
        Do("open the main window's File menu", [this] { FileMenu(main_); });
        Choose({"&New"});
        Press("&No");
        OpenMenu({});
        Choose({"&Add Type", "&interface"});
        Name("INew");

        Do("open the history's File menu", [] { FileMenu(HistoryWindow()); });
        Choose({"&New"});
        Press("&No");

        // File > Open (and File > New below) from the keyboard while a
        // details field has the focus: the focus goes to the tree.
        FileCommandFromAField(Qt::Key_O, "Open");
        Press("&No");
        Add("type the library's name into the chooser",
            [] { return Asking() && qobject_cast<QFileDialog*>(Modal()); }, [this] {
                QWidget* name = Modal()->focusWidget();
                if (!name) Fail("no field in the chooser");
                QTest::keyClicks(name, QString::fromStdString(library_));
                QTest::keyClick(name, Qt::Key_Return);
            });
        ExpectTreeFocus();

        // An interface added and recorded, the history saved and opened again
        // as -activate with -saveas opens it: its main window saves there.
        // The history window recording the session closes without saving.
        OpenMenu({});
        Choose({"&Add Type", "&interface"});
        Name("IAdded");
        Do("save the history", [this] {
            if (!HistoryWindow()->Engine()->SaveState(ole::FromUtf8(Folder()), u"session.leh"))
                Fail("the history holds nothing");
        });
        Do("open the history's File menu", [] { FileMenu(HistoryWindow()); });
        Choose({"&Close"});
        Press("&No");
        FileCommandFromAField(Qt::Key_N, "New");
        Press("&No");
        ExpectTreeFocus();
        Do("open the history with -activate and -saveas", [this] {
            auto* window = new shell::frmRecorder;
            window->BatchDestination(Folder() + "/saved.tlb");
            ole::ComPtr<ole::ITypeLib> unresolved;
            try {
                window->RunHistory(Folder() + "/session.leh", library_, nullptr, true, false, unresolved);
            } catch (const std::exception& error) {
                Fail(std::string("the history did not open: ") + error.what());
            }
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* editor = qobject_cast<shell::frmCorvane*>(top); editor && editor != main_ && editor->isVisible())
                    activated_ = editor;
            if (!activated_ || activated_->Path() != ole::FromUtf8(Folder() + "/saved.tlb"))
                Fail("the history's main window does not name the -saveas file");
        });
        Do("press F5 in the history", [] { HistoryKey(Qt::Key_F5); });
        Settle("the run");
        Do("open the File menu of the history's main window", [this] { FileMenu(activated_); });
        Choose({"&Save"});
        Do("see the library saved", [this] {
            if (!activated_ || activated_->Dirty() || ::access((Folder() + "/saved.tlb").c_str(), F_OK) != 0)
                Fail("the history's main window did not save");
        });
        Do("open the history's File menu", [] { FileMenu(HistoryWindow()); });
        Choose({"&Close"});
        Do("open the File menu of the history's main window", [this] { FileMenu(activated_); });
        Choose({"E&xit"});

        // A main window closed from the window manager while its File menu
        // is open: a details field had the focus, then the menu was opened,
        // left with Escape and the menu bar with Escape again. The window
        // and its panes go without a word.
        OpenWindowToClose("second");
        Add("focus a details field of the second window",
            [this] { return ClosingShown(); }, [this] {
                closing_->activateWindow();
                QWidget* field = closing_->Viewer()->DetailsField(editor::LibraryViewer::Field::Version);
                if (!field || !field->isVisible()) Fail("no version field");
                field->setFocus();
            });
        Do("open its File menu, Down, Escape, Escape", [this] {
            FileMenu(closing_);
            QTest::keyClick(Popup(), Qt::Key_Down);
            QTest::keyClick(Popup(), Qt::Key_Escape);
            Keys(closing_, {Qt::Key_Escape});
        });
        Do("open its File menu and close the window as the window manager does", [this] {
            FileMenu(closing_);
            QCloseEvent request;
            QApplication::sendEvent(closing_->windowHandle(), &request);
        });
        Add("see the second window gone", [this] { return !closing_; }, [] {});

        // A window holding an edit not yet updated refuses to close, saying why; the edit
        // cancelled, it closes from the window manager while a parameter's
        // Optional list is open.
        OpenWindowToClose("third");
        Add("type in a method's member pane of the third window, and close it as the window manager does",
            [this] { return ClosingShown(); }, [this] {
                closing_->activateWindow();
                QTreeWidget* tree = closing_->Viewer()->Tree();
                QTreeWidgetItem* node = NodeIn(tree, {"IPlain", "Ping"});
                if (!node) Fail("no method node");
                tree->setCurrentItem(node);
                auto* id = qobject_cast<QLineEdit*>(
                    closing_->Viewer()->MemberPaneField(editor::LibraryViewer::MemberField::MemberId));
                if (!id || !id->isVisible()) Fail("no member ID field");
                id->setFocus();
                QTest::keyClicks(id, QStringLiteral("7"));
                if (!closing_->Viewer()->InEditMode()) Fail("no edit pending");
                QCloseEvent request;
                QApplication::sendEvent(closing_->windowHandle(), &request);
            });
        SeeEditPending();
        Add("see it kept with its edit, cancel the edit and open a parameter's Optional list",
            [this] { return ClosingShown(); }, [this] {
                if (!closing_->Viewer()->InEditMode()) Fail("the pending edit was dropped");
                QTest::mouseClick(closing_->Viewer()->DetailsField(Field::Cancel), Qt::LeftButton);
                if (closing_->Viewer()->InEditMode()) Fail("the edit was not cancelled");
                QTreeWidget* tree = closing_->Viewer()->Tree();
                QTreeWidgetItem* node = NodeIn(tree, {"IPlain", "Ping", "a"});
                if (!node) Fail("no parameter node");
                tree->setCurrentItem(node);
                auto* optional = qobject_cast<QComboBox*>(
                    closing_->Viewer()->MemberPaneField(editor::LibraryViewer::MemberField::Optional));
                if (!optional || !optional->isVisible()) Fail("no Optional list");
                optional->setFocus();
                optional->showPopup();
            });
        Do("close the third window as the window manager does", [this] {
            QCloseEvent request;
            QApplication::sendEvent(closing_->windowHandle(), &request);
        });
        Add("see the third window gone", [this] { return !closing_; }, [] {});

        // Both windows closed from their File menus, each window deleted
        // once closed; the edits are not saved.
        Do("open the main window's File menu", [this] { FileMenu(main_); });
        Choose({"E&xit"});
        Press("&No");
    }

    // Puts the focus in a details field of the library and runs the main
    // window's File command of key from the keyboard.
    void FileCommandFromAField(Qt::Key key, const std::string& command) {
        Do("activate the main window", [this] { main_->activateWindow(); });
        Add("File > " + command + " from a details field",
            [this] { return Idle() && QApplication::activeWindow() == main_; }, [this, key] {
            QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(Node({})).center());
            QWidget* field = main_->Viewer()->DetailsField(editor::LibraryViewer::Field::Version);
            if (!field || !field->isVisible()) Fail("no version field");
            field->setFocus();
            QTest::keyClick(field, Qt::Key_F, Qt::AltModifier);
            if (Popup() != main_->FileMenu()) Fail("Alt+F opened no File menu");
            QTest::keyClick(Popup(), key);
        });
    }

    // The main window, active again once the chooser or the message has
    // closed, has its focus on the tree.
    void ExpectTreeFocus() {
        Do("activate the main window", [this] { main_->activateWindow(); });
        Add("see the focus on the tree", [this] { return Idle() && QApplication::activeWindow() == main_; }, [this] {
            if (QApplication::focusWidget() != Tree()) Fail("the tree has no focus" + State());
        });
    }

    // Where the session's own files go.
    std::string Folder() const {
        if (!files_.isValid()) Fail("no folder for the session's files");
        return files_.path().toStdString();
    }

    // One random gesture of a user in the main window.
    void RandomStep() {
        main_->activateWindow();
        QTreeWidget* tree = Tree();
        std::vector<QTreeWidgetItem*> shown;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if (!(*it)->isHidden() && (!(*it)->parent() || (*it)->parent()->isExpanded())) shown.push_back(*it);
        const auto pick = [this](size_t n) { return static_cast<size_t>(random_() % n); };
        switch (pick(8)) {
            case 0:
            case 1: {  // a click on a node
                QTreeWidgetItem* node = shown[pick(shown.size())];
                tree->scrollToItem(node);
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
                break;
            }
            case 2:
            case 3: {  // a key in the tree
                static const Qt::Key keys[] = {Qt::Key_Up,   Qt::Key_Down,  Qt::Key_Left,   Qt::Key_Right,
                                               Qt::Key_Home, Qt::Key_End,   Qt::Key_Return, Qt::Key_Delete,
                                               Qt::Key_F2,   Qt::Key_Escape, Qt::Key_Insert, Qt::Key_PageDown};
                tree->setFocus();
                QTest::keyClick(tree, keys[pick(std::size(keys))]);
                break;
            }
            default: {  // a command of the node's context menu, through its submenus
                QTreeWidgetItem* node = shown[pick(shown.size())];
                tree->scrollToItem(node);
                const QPoint at = tree->visualItemRect(node).center();
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, at);
                for (QMenu* menu = Popup(); menu;) {
                    std::vector<QAction*> enabled;
                    for (QAction* action : menu->actions())
                        if (action->isVisible() && action->isEnabled() && !action->isSeparator())
                            enabled.push_back(action);
                    if (enabled.empty()) {
                        QTest::keyClick(menu, Qt::Key_Escape);
                        break;
                    }
                    QAction* chosen = enabled[pick(enabled.size())];
                    if (chosen->menu()) {
                        menu->setActiveAction(chosen);
                        QTest::keyClick(menu, Qt::Key_Right);
                        menu = chosen->menu()->isVisible() ? chosen->menu() : nullptr;
                        continue;
                    }
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
                    break;
                }
                break;
            }
        }
    }

    // True when nothing is open; a dialog or message that is open is
    // answered with Return or Escape, a label editor with Return, a menu left open is closed.
    bool Answered() {
        if (QMenu* menu = Popup()) {
            QTest::keyClick(menu, Qt::Key_Escape);
            return false;
        }
        if (Asking()) {
            QWidget* modal = Modal();
            QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal,
                            random_() % 2 ? Qt::Key_Return : Qt::Key_Escape);
            return false;
        }
        if (Modal()) return false;
        if (QLineEdit* editor = LabelEditor()) {
            QTest::keyClicks(editor, QStringLiteral("N%1").arg(random_() % 1000));
            QTest::keyClick(editor, Qt::Key_Return);
            return false;
        }
        return true;
    }

    // Waits until no dialog or message is open, answering each that opens
    // with Escape: a dialog is cancelled, a question answered No.
    void Settle(const std::string& what) {
        Add("settle " + what, [] {
            if (Popup()) return false;
            if (Asking()) {
                QWidget* modal = Modal();
                QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_Escape);
                return false;
            }
            return !Modal();
        }, [] {});
    }

    using Field = editor::LibraryViewer::Field;
    std::string Text(Field field) const {
        auto* edit = qobject_cast<QLineEdit*>(main_->Viewer()->DetailsField(field));
        return edit ? edit->text().toStdString() : std::string();
    }
    // Clicks the node at path; its pane's type field must show type.
    void Show(std::initializer_list<const char*> path, const std::string& type) {
        ClickNode(path);
        if (Text(Field::SetType) != type) Fail("the type field shows " + Text(Field::SetType) + ", not " + type);
    }
    // Clicks a button of the details pane, which must be enabled.
    void Click(Field field) {
        QWidget* button = main_->Viewer()->DetailsField(field);
        if (!button || !button->isVisible() || !button->isEnabled()) Fail("the button is not there" + State());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Selects the node at path with a click.
    void ClickNode(const std::vector<const char*>& path) {
        QTreeWidgetItem* node = Node(path);
        if (!node) Fail("no node");
        Tree()->scrollToItem(node);
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(node).center());
        if (Tree()->currentItem() != node) Fail("the click did not select the node" + State());
    }
    QTabBar* Tabs() const { return main_->Viewer()->findChild<QTabBar*>(); }
    bool HelpShown() const {
        auto* help = main_->Viewer()->findChild<QScrollArea*>(QStringLiteral("picHelp"));
        return help && help->isVisible();
    }
    // Presses the page tab at index as a screen reader does.
    void PressTab(int index) const {
        QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(Tabs());
        QAccessibleInterface* tab = strip ? strip->child(index) : nullptr;
        if (!tab || !tab->actionInterface()) Fail("no page tab " + std::to_string(index));
        tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }

    // Selects the type at path and opens its type field's menu with Shift+F10.
    void TypeFieldMenu(std::initializer_list<const char*> path) {
        ClickNode(path);
        QWidget* field = main_->Viewer()->DetailsField(editor::LibraryViewer::Field::SetType);
        if (!field || !field->isVisible()) Fail("no type field");
        field->setFocus();
        QTest::keyClick(field, Qt::Key_F10, Qt::ShiftModifier);
        if (!Popup()) Fail("no type field menu" + State());
    }

    // A key pressed in the history's list.
    static void HistoryKey(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        shell::frmRecorder* window = HistoryWindow();
        QListView* list = HistoryList();
        if (!window || !list) Fail("no history window");
        window->activateWindow();
        list->setFocus();
        QTest::keyClick(list, key, modifiers);
    }

    // Opens the File menu of window's menu bar with a click.
    static void FileMenu(QMainWindow* window) {
        if (!window) Fail("no window");
        window->activateWindow();
        QMenuBar* bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions().front()).center());
        if (!Popup()) Fail("no File menu");
    }

    // The history's line up lines above its end mark selected, and its context menu.
    static void HistoryMenu(int up) {
        shell::frmRecorder* window = HistoryWindow();
        QListView* list = HistoryList();
        if (!window || !list) Fail("no history window");
        window->activateWindow();
        list->setFocus();
        QTest::keyClick(list, Qt::Key_End);
        for (int i = 0; i < up; ++i) QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        if (!Popup()) Fail("no history menu");
    }

    // Types name into the label editor that opens, and Return.
    void Name(const char* name) {
        Add(std::string("name it ") + name, [this] { return !Modal() && !Popup() && LabelEditor(); }, [this, name] {
            QLineEdit* editor = LabelEditor();
            editor->selectAll();
            QTest::keyClicks(editor, QString::fromLatin1(name));
            QTest::keyClick(editor, Qt::Key_Return);
        });
    }

    std::string library_;
    QTemporaryDir files_;
    QPointer<shell::frmCorvane> main_;
    QPointer<shell::frmCorvane> activated_;  // the main window of the history opened with -activate
    QPointer<shell::frmCorvane> closing_;    // a main window closed from outside
    std::minstd_rand random_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    Clock::time_point since_ = Clock::now();
};

}  // namespace

// The font configuration library keeps caches for the life of the process,
// which the leak checker of a sanitizer build would report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_driver LIBRARY\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    editor::InitEditorModule();
    const std::string library = argv[1];
    // As with a screen reader running: the windows tell it of their changes.
    const testsupport::ScreenReader reader;
    auto* session = new Session(library);
    session->Start();
    const int code = QApplication::exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const bool finished = session->Finished();
    delete session;
    if (!finished) {
        std::fprintf(stderr, "session: FAILED: the windows closed before the last step\n");
        return 3;
    }
    std::fprintf(stderr, "session: ended\n");
    return code;
}

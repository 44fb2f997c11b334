// The library editor view used as a person uses it, with the keyboard, the
// mouse and a screen reader: label edits of members and parameters that replay
// in batch mode, label edits cut short, the selection, the Return key, values
// and selections set through the accessibility interface, and the panes on a
// large window.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "changes/kinds/RenameChange.h"
#include "dialogs/ContrastStyle.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/SplitPane.h"
#include "editor/pickers/TypePicker.h"
#include "editor/pickers/frmCustData.h"
#include "editor/pickers/frmSpecifyType.h"
#include "editor/tree/modImages.h"
#include "support/ScreenReader.h"
#include "support/Screenshots.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

using Field = editor::LibraryViewer::Field;
using zephrin::dialogs::MessageAnswer;

// The names of a function of a library: its own, then its parameters'.
std::vector<std::u16string> NamesOf(ITypeLib* lib, const char16_t* type, const char16_t* member) {
    const ChangeTarget target = changestest::MemberTarget(lib, type, member);
    const ComPtr<ITypeInfo> info =
        modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<UINT>(target.TypeIndex));
    std::vector<BSTR> names(8, nullptr);
    UINT got = 0;
    EXPECT_OK(info->GetNames(target.MemberId, names.data(), 8, &got));
    std::vector<std::u16string> result;
    for (UINT i = 0; i < got; ++i) result.emplace_back(names[i] ? names[i] : u"");
    for (BSTR name : names) SysFreeString(name);
    return result;
}

// A screen reader that keeps what each control of a window said (its name,
// description and value, and each tab's name) and reads a control again only
// when an accessibility event tells it that this changed.
class CachingReader : public testsupport::ScreenReader {
public:
    using Key = std::pair<QObject*, int>;  // a control, or a tab of a tab bar
    struct Said {
        QString name, description, value;
    };
    explicit CachingReader(QWidget* window) : window_(window) { said_ = Now(); }
    // What the reader would say wrongly: each control shown whose text it
    // keeps differs from the control's own.
    std::vector<std::string> Stale() const {
        std::vector<std::string> stale;
        for (const auto& [key, now] : Now()) {
            const auto kept = said_.find(key);
            if (kept == said_.end()) continue;  // never read: read when reached
            const QString what = QString::fromLatin1(key.first->metaObject()->className()) +
                                 (key.second >= 0 ? QStringLiteral(" tab %1").arg(key.second) : QString());
            const std::tuple<const char*, const QString*, const QString*> texts[] = {
                {"name", &kept->second.name, &now.name},
                {"description", &kept->second.description, &now.description},
                {"value", &kept->second.value, &now.value}};
            for (const auto& [which, old, fresh] : texts)
                if (*old != *fresh)
                    stale.push_back((what + QStringLiteral(" %1: says \"%2\", is \"%3\"")
                                                .arg(QLatin1String(which), *old, *fresh)).toStdString());
        }
        return stale;
    }

private:
    static Said Read(QAccessibleInterface* accessible) {
        return {accessible->text(QAccessible::Name), accessible->text(QAccessible::Description),
                accessible->text(QAccessible::Value)};
    }
    std::map<Key, Said> Now() const {
        std::map<Key, Said> now;
        for (QWidget* control : window_->findChildren<QWidget*>()) {
            if (!control->isVisible()) continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            if (!accessible) continue;
            now[{control, -1}] = Read(accessible);
            if (qobject_cast<QTabBar*>(control))
                for (int i = 0; i < accessible->childCount(); ++i) now[{control, i}] = Read(accessible->child(i));
        }
        return now;
    }
    void Heard(QAccessibleEvent* event) override {
        if (!event->object()) return;
        QAccessibleInterface* accessible = event->accessibleInterface();
        if (!accessible) return;
        Said& kept = said_[{event->object(), event->child()}];
        const Said now = Read(accessible);
        switch (event->type()) {
        case QAccessible::NameChanged: kept.name = now.name; break;
        case QAccessible::DescriptionChanged: kept.description = now.description; break;
        case QAccessible::ValueChanged:
            kept.value = now.value;
            // A list's choice is its name as well, which the platform's bridge tells with it.
            if (accessible->role() == QAccessible::ComboBox) kept.name = now.name;
            break;
        // A text's change is told as what it inserts and removes where,
        // sent before or after the change is made.
        case QAccessible::TextUpdated: {
            const auto* change = static_cast<QAccessibleTextUpdateEvent*>(event);
            kept.value.replace(change->changePosition(), change->textRemoved().size(), change->textInserted());
            break;
        }
        case QAccessible::TextInserted: {
            const auto* change = static_cast<QAccessibleTextInsertEvent*>(event);
            kept.value.insert(change->changePosition(), change->textInserted());
            break;
        }
        case QAccessible::TextRemoved: {
            const auto* change = static_cast<QAccessibleTextRemoveEvent*>(event);
            kept.value.remove(change->changePosition(), change->textRemoved().size());
            break;
        }
        case QAccessible::ObjectShow:
        case QAccessible::ObjectCreated: kept = now; break;
        default: break;
        }
    }

    QWidget* window_;
    std::map<Key, Said> said_;
};

class LibraryViewerUse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    LibraryViewerUse() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        recorder.ChangeListener(hub);
    }
    ~LibraryViewerUse() override {
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Opens file (in the test's folder, or the built-in library of that name)
    // in the view, as the host opens a file, and records from there.
    void OpenFile(const std::string& file) {
        input = file;
        const std::filesystem::path path = std::filesystem::exists(dir / file) ? dir / file : std::filesystem::path(file);
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8(path.string()).c_str(), loaded.put()));
        view->CurrentITypeLib(loaded.get());
        recorder.CurrentITypeLib(Lib());
    }
    // Writes lib to dir/in.tlb as the view saves it.
    void WriteInput(ITypeLib* lib) {
        editor::LibraryViewer writer;
        writer.CurrentITypeLib(lib);
        writer.SaveCurrentLibrary(ole::FromUtf8((dir / "in.tlb").string()));
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Selected() { return view->Tree()->currentItem(); }
    QTreeWidgetItem* Node(const char* type, const char* member = nullptr, const char* param = nullptr) {
        QTreeWidgetItem* node = Child(Root(), type);
        if (member) {
            EnsureChildren(node);
            node = Child(node, member);
        }
        if (param) {
            EnsureChildren(node);
            node = Child(node, param);
        }
        return node;
    }
    // The open label editor of the tree, or null.
    QLineEdit* LabelEditor() { return treetest::LabelEditor(view->Tree()); }
    // Selects node, presses F2 and types text; Enter when finish.
    void TypeLabel(QTreeWidgetItem* node, const QString& text, bool finish = true) {
        QCoreApplication::processEvents();  // the re-sort after an earlier rename
        QTreeWidget* tree = view->Tree();
        tree->setCurrentItem(node);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_F2);
        QLineEdit* editor = LabelEditor();
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClicks(editor, text);
        if (!finish) return;
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();  // the editor commits in a queued call
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // Saves the view's library and the recorded history, replays the history
    // with the built program on the file the view opened, and expects the same file.
    void ExpectBatchModeWritesTheSame() {
        view->SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(dir.path().string()), u"edits.leh"));
        EXPECT_EQ(RunZephrin(dir.path(), "-leh edits.leh -tlb " + input + " -saveas batch.tlb -quiet -out messages.txt"), 0)
            << testsupport::ReadText(dir / "messages.txt") << testsupport::ReadText(dir / "stderr.txt");
        ASSERT_TRUE(std::filesystem::exists(dir / "batch.tlb"));
        EXPECT_EQ(testsupport::ReadBytes(dir / "view.tlb"), testsupport::ReadBytes(dir / "batch.tlb"));

    }
    // Makes node the current node, as the keyboard does.
    void Choose(QTreeWidgetItem* node) {
        ASSERT_TRUE(node);
        QCoreApplication::processEvents();
        view->Tree()->setCurrentItem(node);
        ASSERT_EQ(view->ShownNode(), node);
    }
    std::vector<std::string> RecordedTexts() {
        std::vector<std::string> texts;
        // Items are numbered from 1 as they are recorded.
        for (int32_t i = 1; i <= recorder.ItemCount(); ++i)
            texts.push_back(ole::ToUtf8(recorder.Text(static_cast<PlaybackItem>(i))));
        return texts;
    }

    TempDir dir;
    std::string input;  // the file the view opened
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    Playback recorder;
    std::unique_ptr<editor::LibraryViewer> view;
};

// F2 on a member of the built-in library: the history names the member by the
// name it had, and batch mode replays it to the same file.
TEST_F(LibraryViewerUse, AMemberRenamedWithF2ReplaysInBatchMode) {
    OpenFile("stdole2.tlb");
    view->show();
    TypeLabel(Node("IFont", "AddRefHfont"), "NameX");
    EXPECT_EQ(NamesOf(Lib(), u"IFont", u"NameX").front(), u"NameX");
    ASSERT_EQ(recorder.ItemCount(), 1);
    const std::string text = RecordedTexts()[0];
    EXPECT_NE(text.find("IFont.AddRefHfont"), std::string::npos) << text;
    EXPECT_EQ(text.find("IFont.NameX"), std::string::npos) << text;
    // A parameter of the same interface.
    TypeLabel(Node("IFont", "SetRatio", "cyLogical"), "logical");
    EXPECT_EQ(NamesOf(Lib(), u"IFont", u"SetRatio"), (std::vector<std::u16string>{u"SetRatio", u"logical", u"cyHimetric"}));
    EXPECT_TRUE(Node("IFont", "SetRatio", "logical"));
    EXPECT_EQ(recorder.ItemCount(), 2);
    ExpectBatchModeWritesTheSame();
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(services.beeps, 0);
}

// A module function and parameters (of a module, of a dual interface, the
// second of two) renamed with F2 replay; the unnamed value of a property put
// can't be renamed and keeps its label.
TEST_F(LibraryViewerUse, ModuleFunctionsAndParametersRenamedWithF2Replay) {
    WriteInput(AsTypeLib(BuildAllKinds().get()).get());
    OpenFile("in.tlb");
    view->show();
    TypeLabel(Node("Kernel", "Beep"), "Chirp");
    TypeLabel(Node("Kernel", "Chirp", "freq"), "hertz");
    TypeLabel(Node("IShape", "Zoom", "factor"), "amount");
    TypeLabel(Node("IBase", "Item", "b"), "second");
    EXPECT_EQ(NamesOf(Lib(), u"Kernel", u"Chirp"), (std::vector<std::u16string>{u"Chirp", u"hertz"}));
    EXPECT_EQ(NamesOf(Lib(), u"IShape", u"Zoom"), (std::vector<std::u16string>{u"Zoom", u"amount"}));
    EXPECT_EQ(NamesOf(Lib(), u"IBase", u"Item"), (std::vector<std::u16string>{u"Item", u"a", u"second"}));
    EXPECT_EQ(services.beeps, 0);
    const std::vector<std::string> texts = RecordedTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_NE(texts[0].find("Kernel.Beep"), std::string::npos) << texts[0];
    EXPECT_NE(texts[1].find("freq"), std::string::npos) << texts[1];

    QTreeWidgetItem* value = Node("IBase", "Value");
    EnsureChildren(value);
    ASSERT_EQ(value->childCount(), 1);
    const QString label = value->child(0)->text(0);
    TypeLabel(value->child(0), "newValue");
    EXPECT_EQ(value->child(0)->text(0), label);
    EXPECT_EQ(services.beeps, 0);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].startsWith(QStringLiteral("'%1' keeps its name: it can't be renamed 'newValue'. ").arg(label)))
        << services.messages[0].toStdString();
    EXPECT_EQ(recorder.ItemCount(), 4);
    ExpectBatchModeWritesTheSame();
    EXPECT_EQ(services.messages.size(), 1u);
}

// A label edit still open when its window closes, or when the view is cleared
// for another library, is dropped: nothing is applied or recorded.
TEST_F(LibraryViewerUse, ALabelEditCutShortByHidingOrClearingIsNotApplied) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    recorder.CurrentITypeLib(Lib());
    const std::shared_ptr<CustomTypeLib> first = view->CurrentCustomTypeLib();
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    view->setParent(&host);
    layout->addWidget(view.get());
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    TypeLabel(Node("Widget"), "Half", false);
    host.close();
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.ItemCount(), 0);
    EXPECT_TRUE(changestest::TypeNamed(first->ReadView().get(), u"Widget"));
    EXPECT_FALSE(changestest::TypeNamed(first->ReadView().get(), u"Half"));

    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    view->CurrentITypeLib(first->ReadView().get());
    recorder.CurrentITypeLib(Lib());
    const std::shared_ptr<CustomTypeLib> second = view->CurrentCustomTypeLib();
    TypeLabel(Node("IBase", "Alpha"), "Half", false);
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.ItemCount(), 0);
    EXPECT_EQ(NamesOf(second->ReadView().get(), u"IBase", u"Alpha").front(), u"Alpha");
    EXPECT_FALSE(LabelEditor());
    // The tree takes label edits again.
    TypeLabel(Node("Widget"), "Gadget");
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_EQ(recorder.ItemCount(), 1);
    view->setParent(nullptr);
    EXPECT_TRUE(services.messages.empty());
}

// A rename that sorts the selected node far down scrolls it into sight.
TEST_F(LibraryViewerUse, ARenamedNodeSortedOutOfSightIsScrolledBack) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 8);
    view->show();
    QTreeWidgetItem* first = Root()->child(0);
    TypeLabel(first, "ZzLast");
    QCoreApplication::processEvents();  // the deferred re-sort
    ASSERT_EQ(Root()->indexOfChild(first), Root()->childCount() - 1);
    EXPECT_EQ(Selected(), first);
    const QRect shown = view->Tree()->visualItemRect(first);
    EXPECT_TRUE(view->Tree()->viewport()->rect().contains(shown)) << shown.y();
}

// A library attached before the view is first shown: the tab strip has its
// height at once.
TEST_F(LibraryViewerUse, TheTabStripHasItsHeightWhenTheLibraryCameFirst) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 30);
    view->show();
    QCoreApplication::processEvents();
    auto* tabs = view->findChild<QTabBar*>();
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->count(), 2);  // the library's details and its help
    EXPECT_GE(tabs->height(), tabs->sizeHint().height());
    EXPECT_GT(tabs->height(), view->fontMetrics().height());
}

// Ctrl+click on the selected node leaves it selected; a node selected by a
// screen reader reaches the panes, and a screen reader can't unselect the node.
TEST_F(LibraryViewerUse, TheSelectedNodeStaysSelectedAndScreenReadersSelect) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 30);
    view->show();
    QTreeWidget* tree = view->Tree();
    QTreeWidgetItem* widget = Node("Widget");
    tree->setCurrentItem(widget);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, tree->visualItemRect(widget).center());
    EXPECT_EQ(Selected(), widget);
    EXPECT_TRUE(widget->isSelected());
    EXPECT_EQ(tree->selectedItems().size(), 1);
    EXPECT_EQ(view->ShownNode(), widget);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(widget->isSelected());

    // A screen reader selects and unselects rows of the tree's table.
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(tree)->tableInterface();
    ASSERT_TRUE(table);
    const auto rowOf = [&](QTreeWidgetItem* node) {
        for (int row = 0; row < table->rowCount(); ++row)
            if (QAccessibleInterface* cell = table->cellAt(row, 0); cell && cell->text(QAccessible::Name) == node->text(0))
                return row;
        return -1;
    };
    QTreeWidgetItem* either = Node("Either");
    ASSERT_GE(rowOf(either), 0);
    EXPECT_TRUE(table->selectRow(rowOf(either)));
    EXPECT_EQ(Selected(), either);
    EXPECT_EQ(tree->selectedItems(), QList<QTreeWidgetItem*>{either});
    EXPECT_EQ(view->ShownNode(), either);
    EXPECT_EQ(view->EditKind(), TKIND_UNION * 256 + 258);
    table->unselectRow(rowOf(either));
    EXPECT_TRUE(either->isSelected());
    EXPECT_EQ(view->ShownNode(), either);

    // During an edit the selection can't move.
    auto* version = static_cast<QLineEdit*>(view->DetailsField(Field::Version));
    version->selectAll();
    QTest::keyClicks(version, "3.1");
    ASSERT_TRUE(view->InEditMode());
    table->selectRow(rowOf(widget));
    EXPECT_EQ(Selected(), either);
    EXPECT_EQ(tree->selectedItems(), QList<QTreeWidgetItem*>{either});
    EXPECT_EQ(view->ShownNode(), either);
    EXPECT_TRUE(services.messages.empty());
}

// Return on a node jumps as a double-click does; Return that ends a label
// edit doesn't, and Return in a field still presses Update.
TEST_F(LibraryViewerUse, ReturnJumpsToTheReferencedType) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    QTreeWidget* tree = view->Tree();
    tree->setCurrentItem(Node("IDerived"));
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(Selected(), Node("IBase"));
    tree->setCurrentItem(Node("BaseAlias"));
    QTest::keyClick(tree, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Selected(), Node("IBase"));

    TypeLabel(Node("IDerived"), "IDerivedToo");
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"IDerivedToo"));
    EXPECT_EQ(Selected(), Node("IDerivedToo"));
    EXPECT_EQ(view->ShownNode(), Node("IDerivedToo"));
    // A label edit left with Escape: Return jumps again.
    TypeLabel(Node("IDerivedToo"), "Dropped", false);
    QTest::keyClick(LabelEditor(), Qt::Key_Escape);
    EXPECT_FALSE(Node("IDerivedToo")->flags() & Qt::ItemIsEditable);
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(Selected(), Node("IBase"));
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"IDerivedToo"));
    tree->setCurrentItem(Node("IDerivedToo"));

    auto* version = static_cast<QLineEdit*>(view->DetailsField(Field::Version));
    version->setFocus();
    version->selectAll();
    QTest::keyClicks(version, "4.2");
    QTest::keyClick(version, Qt::Key_Return);
    EXPECT_FALSE(view->InEditMode());
    TYPEATTR* attr = nullptr;
    const ComPtr<ITypeInfo> type = changestest::TypeNamed(Lib(), u"IDerivedToo");
    ASSERT_OK(type->GetTypeAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 4);
    type->ReleaseTypeAttr(attr);
    EXPECT_EQ(Selected(), Node("IDerivedToo"));
    EXPECT_EQ(services.beeps, 0);
}

// A value set through the accessibility interface, as screen readers and
// on-screen keyboards set it, enters edit mode and is applied by Update; the
// view's own fills don't.
TEST_F(LibraryViewerUse, AValueSetByAScreenReaderEnablesUpdate) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    auto* version = static_cast<QLineEdit*>(view->DetailsField(Field::Version));
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(version);
    ASSERT_TRUE(field && field->editableTextInterface());
    field->editableTextInterface()->replaceText(0, static_cast<int>(version->text().size()), QStringLiteral("6.4"));
    EXPECT_TRUE(view->InEditMode());
    EXPECT_TRUE(view->DetailsField(Field::Update)->isEnabled());
    QAccessible::queryAccessibleInterface(lcid)->setText(QAccessible::Value, QStringLiteral("oops"));
    EXPECT_EQ(view->InvalidFields(), 2);
    EXPECT_FALSE(view->DetailsField(Field::Update)->isEnabled());
    QAccessible::queryAccessibleInterface(lcid)->setText(QAccessible::Value, QStringLiteral("&H407"));
    QAccessibleInterface* update = QAccessible::queryAccessibleInterface(view->DetailsField(Field::Update));
    ASSERT_TRUE(update->actionInterface());
    update->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(!view->InEditMode());  // the press is animated
    TLIBATTR* attr = nullptr;
    ASSERT_OK(Lib()->GetLibAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 6);
    EXPECT_EQ(attr->wMinorVerNum, 4);
    EXPECT_EQ(attr->lcid, 0x407u);
    Lib()->ReleaseTLibAttr(attr);
    // Selecting another node fills the fields without entering edit mode.
    view->Tree()->setCurrentItem(Node("Widget"));
    view->Tree()->setCurrentItem(Root());
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(version->text(), "6.4");
    EXPECT_TRUE(services.messages.empty());
}

// A value set through the accessibility interface while the tree has the
// focus takes the focus to its field, as typing there would have: not to the
// splitter bar, where the tree disabled for the edit would hand it. Update
// then returns it to the tree, as after a typed edit; on the help page too.
TEST_F(LibraryViewerUse, AValueSetByAScreenReaderFromTheTreeTakesTheFocusToItsField) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* tabs = view->findChild<QTabBar*>();
    for (const bool help : {false, true}) {
        Choose(Root());
        if (help) QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tabs->count() - 1).center());
        auto* pane = view->findChild<QScrollArea*>(help ? QStringLiteral("picHelp") : QString());
        ASSERT_TRUE(pane && pane->isVisible());
        auto* field = help ? pane->findChild<QLineEdit*>() : static_cast<QLineEdit*>(view->DetailsField(Field::Version));
        view->Tree()->setFocus();
        QAccessible::queryAccessibleInterface(field)->setText(QAccessible::Value, help ? "Told" : "6.4");
        ASSERT_TRUE(view->InEditMode());
        EXPECT_EQ(QApplication::focusWidget(), field) << help;
        QAccessible::queryAccessibleInterface(view->DetailsField(Field::Update))
            ->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!view->InEditMode());
        EXPECT_EQ(QApplication::focusWidget(), view->Tree()) << help;
    }
    EXPECT_TRUE(services.messages.empty());
}

// Every control that takes the focus has a name that isn't its value, the
// GUID is read as a value, Tab never stops on the details' scroll area, and
// the GUID's button sits beside it on a large window.
TEST_F(LibraryViewerUse, ScreenReadersFindANameForEveryControlAndReadTheGuid) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(1600, 1000);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTreeWidget* tree = view->Tree();
    TLIBATTR* attr = nullptr;
    ASSERT_OK(Lib()->GetLibAttr(&attr));
    const QString guid = dialogs::ToQString(ole::GuidToString(attr->guid));
    Lib()->ReleaseTLibAttr(attr);

    for (QTreeWidgetItem* node : {Root(), Node("Matrix"), Node("IBase"), Node("Widget")}) {
        tree->setCurrentItem(node);
        tree->setFocus();
        std::set<QWidget*> reached;
        for (int i = 0; i < 30; ++i) {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_TRUE(focus);
            reached.insert(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        const std::string where = node->text(0).toStdString();
        EXPECT_FALSE(reached.count(view->findChild<QScrollArea*>())) << where;
        EXPECT_TRUE(reached.count(tree)) << where;
        EXPECT_TRUE(reached.count(view->DetailsField(Field::Guid))) << where;
        EXPECT_TRUE(reached.count(view->DetailsField(Field::Options))) << where;
        for (QWidget* control : view->findChildren<QWidget*>()) {
            if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisible()) continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            ASSERT_TRUE(accessible);
            const QString name = accessible->text(QAccessible::Name);
            const QString value = accessible->text(QAccessible::Value);
            const std::string what = where + " " + control->metaObject()->className() + " " + name.toStdString();
            if (auto* combo = qobject_cast<QComboBox*>(control)) {
                // A combo box may take its name from its caption.
                bool captioned = !name.isEmpty() && name != combo->currentText();
                for (const auto& [other, relation] : accessible->relations(QAccessible::Label))
                    captioned = captioned || !other->text(QAccessible::Name).isEmpty();
                EXPECT_TRUE(captioned) << what;
                continue;
            }
            EXPECT_FALSE(name.isEmpty()) << what;
            // An item view reports its name for every text: it has no value of its own.
            if (!qobject_cast<QAbstractItemView*>(control)) {
                EXPECT_NE(name, value) << what;
            }
            if (control->isEnabled() && !reached.count(control)) ADD_FAILURE() << "Tab doesn't reach " << what;
        }
        if (node == Root()) {
            QAccessibleInterface* field = QAccessible::queryAccessibleInterface(view->DetailsField(Field::Guid));
            EXPECT_EQ(field->text(QAccessible::Value), guid);
            EXPECT_TRUE(field->state().readOnly);
        }
        // The button beside its GUID, however wide the pane.
        QWidget* guidField = view->DetailsField(Field::Guid);
        QWidget* button = view->DetailsField(Field::ChangeGuid);
        const int gap = button->mapTo(view.get(), QPoint(0, 0)).x() -
                        guidField->mapTo(view.get(), QPoint(guidField->width(), 0)).x();
        EXPECT_GE(gap, 0) << where;
        EXPECT_LE(gap, view->fontMetrics().averageCharWidth() * 3) << where;
        // ... and beside its text: the field is as wide as the GUID.
        const int text = guidField->fontMetrics().horizontalAdvance(guid);
        EXPECT_GE(guidField->width(), text) << where;
        EXPECT_LE(guidField->width(), text + guidField->fontMetrics().averageCharWidth() * 6) << where;
    }

    // Pictures of the panes on a large window, light and dark.
    for (QTreeWidgetItem* node : {Root(), Node("Matrix"), Node("IBase")}) {
        tree->setCurrentItem(node);
        QCoreApplication::processEvents();
        const std::string name = "viewer-large-" + Folded(node->text(0).toStdString());
        dialogstest::SaveScreenshots(*view, name);
        view->setPalette(DarkPalette());
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(*view, name + "-dark");
        view->setPalette(QApplication::palette());
    }
}

// The custom-data editor's type is read by a screen reader as a value, under its caption's name.
TEST_F(LibraryViewerUse, ScreenReadersReadTheCustomDataType) {
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"CustLib");
    auto held = NewType(created.get(), u"IHeld", TKIND_INTERFACE);
    EXPECT_OK(held->AddImplType(0, RefTo(held.get(), StdOle2Type(kIID_IUnknown).get())));
    Variant one(int32_t{1});
    EXPECT_OK(held->SetCustData({0xC0DA0001, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}, &one.get()));
    const ComPtr<ITypeLib> lib = AsTypeLib(created.get());
    ChangeTarget target = dialogstest::TargetOf(lib.get(), 0);
    editor::frmCustData dialog(target, nullptr, 0, false);
    QAccessibleInterface* type = QAccessible::queryAccessibleInterface(dialog.TypeText());
    ASSERT_TRUE(type);
    EXPECT_EQ(type->text(QAccessible::Value), "long");
    EXPECT_FALSE(type->text(QAccessible::Name).isEmpty());
    EXPECT_NE(type->text(QAccessible::Name), "long");
    EXPECT_TRUE(type->state().readOnly);
    // Tab reaches it, and its button after it.
    EXPECT_TRUE(dialog.TypeText()->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(dialog.TypeText()->nextInFocusChain(), dialog.TypeButton());
}

// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// lists its own functions; F2 renames them and their parameters as it does any
// other member, and batch mode replays the renames.
TEST_F(LibraryViewerUse, MembersOfADispinterfaceOverAnInterfaceAreRenamedWithF2) {
    std::filesystem::copy_file(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "dispatch.tlb",
                               dir / "dispatch.tlb");
    OpenFile("dispatch.tlb");
    view->show();
    ASSERT_TRUE(Node("IPlain", "Ping", "a"));  // the declaring interface's nodes, built
    TypeLabel(Node("DOverPlain", "Ping", "a"), "value");
    TypeLabel(Node("DOverPlain", "Ping"), "Pong");
    TypeLabel(Node("DOverDual", "Go"), "Start");
    EXPECT_EQ(services.beeps, 0);
    // The interface that declares them shows the new names as well.
    EXPECT_TRUE(Node("IPlain", "Pong", "value"));
    EXPECT_FALSE(Node("IPlain", "Ping"));
    EXPECT_EQ(recorder.ItemCount(), 3);
    const std::string dump = tlbtools::DumpTypeLib(Lib());
    EXPECT_NE(dump.find("\"Pong\""), std::string::npos);
    EXPECT_NE(dump.find("\"Start\""), std::string::npos);
    ExpectBatchModeWritesTheSame();

    // The model: a function of the interface's chain from another library
    // (IUnknown's) can't be renamed or deleted here; both say so, and nothing
    // changes.
    const std::shared_ptr<CustomTypeInfo> over = view->CurrentCustomTypeLib()->GetCustomTypeInfo(u"DOverPlain");
    const auto refusal = [](auto edit) {
        try {
            edit();
        } catch (const ErrorRecord& e) {
            return e;
        }
        return ErrorRecord{};
    };
    const ErrorRecord foreign = refusal([&] { over->SetMemberName(0x60000000, u"Ask"); });
    EXPECT_EQ(foreign.Number, 5);
    EXPECT_NE(foreign.Description.find(u"IUnknown"), std::u16string::npos);
    EXPECT_EQ(refusal([&] { over->DeleteMember(0x60000000, 0); }).Number, 5);
    EXPECT_EQ(tlbtools::DumpTypeLib(Lib()), dump);
}

// A dual whose method and Let share a name and an ID, as widl writes them,
// shows them as one node, the method's. F2 on it is refused with a message
// that names both, and nothing is recorded; the method deleted, the node
// shows the Let with its value parameter, which keeps the name it was read
// with (the method's, stored first); batch mode writes the same file.
TEST_F(LibraryViewerUse, AMethodAndALetSharingANameAreRenamedNeitherAndDeletedOneByOne) {
    std::filesystem::copy_file(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "sharedname.tlb",
                               dir / "sharedname.tlb");
    OpenFile("sharedname.tlb");
    view->resize(view->fontMetrics().averageCharWidth() * 110, view->fontMetrics().height() * 30);
    view->show();
    QTreeWidgetItem* node = Node("IControls", "currentItem");
    ASSERT_TRUE(node);
    TypeLabel(node, "item");
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].contains("the method 'currentItem' and the Property Let accessor 'currentItem'"));
    EXPECT_EQ(node->text(0), "currentItem");
    EXPECT_EQ(recorder.ItemCount(), 0);
    EnsureChildren(node);
    Choose(node);
    view->RunMenuCommand(editor::MenuItem::mnuDelete);
    ASSERT_EQ(Node("IControls", "currentItem"), node);
    EXPECT_EQ(NodeImage(node), kImageProperty);
    ASSERT_EQ(node->childCount(), 1);
    EXPECT_EQ(node->child(0)->text(0), QString("r"));
    ExpectBatchModeWritesTheSame();
    for (const auto& [theme, palette] :
         {std::pair{"light", QApplication::palette()}, std::pair{"dark", DarkPalette()}}) {
        view->setPalette(palette);
        QCoreApplication::processEvents();
        testsupport::SaveScreenshots(*view, std::string("viewer-let-left-by-its-method-") + theme);
    }
}

// Tab entering the details pane from outside it (round from the tree, or
// Shift+Tab from the tree), and a caption's access key, scroll the field that
// takes the focus into sight, as Tab within the pane does.
TEST_F(LibraryViewerUse, AFieldTakingTheFocusFromOutsideThePaneIsScrolledIntoSight) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 9);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* area = view->findChild<QScrollArea*>();
    ASSERT_TRUE(area);
    ASSERT_GT(area->verticalScrollBar()->maximum(), 0);  // the pane doesn't fit
    const auto inSight = [&](QWidget* field) {
        const QRect at(field->mapTo(area->viewport(), QPoint(0, 0)), field->size());
        return area->viewport()->rect().contains(at);
    };
    QWidget* guid = view->DetailsField(Field::Guid);
    QWidget* lcid = view->DetailsField(Field::Lcid);
    QTreeWidget* tree = view->Tree();
    tree->setCurrentItem(Root());

    // Shift+Tab from the tree, with the pane at its top: the last field.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), lcid);
    EXPECT_TRUE(inSight(lcid));

    // Tab round from the tree, with the pane at its bottom: the first field.
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    tree->setFocus();
    for (int i = 0; i < 6 && QApplication::focusWidget() != guid; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), guid);
    EXPECT_TRUE(inSight(guid));

    // Alt+L, the access key of "&LCID", with the pane at its top.
    area->verticalScrollBar()->setValue(0);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_L, Qt::AltModifier);
    ASSERT_EQ(QApplication::focusWidget(), lcid);
    EXPECT_TRUE(inSight(lcid));
}

// A view deleted inside its window, with a field of its details or help
// pane focused: the focus leaves the field while the view and its panes are
// half destroyed, which the view no longer follows.
TEST_F(LibraryViewerUse, AViewDeletedWithAFieldFocusedGoesQuietly) {
    for (const bool help : {false, true}) {
        QWidget window;
        auto* inside = new editor::LibraryViewer;
        (new QVBoxLayout(&window))->addWidget(inside);
        inside->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        auto* tabs = inside->findChild<QTabBar*>();
        if (help) QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tabs->count() - 1).center());
        auto* pane = inside->findChild<QScrollArea*>(help ? QStringLiteral("picHelp") : QString());
        ASSERT_TRUE(pane && pane->isVisible());
        QLineEdit* field = pane->findChild<QLineEdit*>();
        ASSERT_TRUE(field);
        field->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), field);
        delete inside;
        EXPECT_EQ(QApplication::focusWidget(), nullptr);
    }
}

// `*` with Ctrl or Alt held expands everything below the node as the plain key
// does: the levels built first, then expanded, under the wait cursor (the
// tree's own handling builds each level while it expands, at a cost that
// grows with the square of the rows).
TEST_F(LibraryViewerUse, StarWithAModifierExpandsTheFastWayUnderTheWaitCursor) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    QTreeWidget* tree = view->Tree();
    int expansions = 0, underWait = 0;
    QObject::connect(tree, &QTreeWidget::itemExpanded, [&] {
        ++expansions;
        const QCursor* cursor = QGuiApplication::overrideCursor();
        underWait += cursor && cursor->shape() == Qt::WaitCursor;
    });
    for (Qt::KeyboardModifier modifier : {Qt::ControlModifier, Qt::AltModifier}) {
        view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
        tree->setFocus();
        tree->setCurrentItem(Node("IShape"));
        expansions = underWait = 0;
        QTest::keyClick(tree, Qt::Key_Asterisk, modifier);
        // Either the key is left alone, or it expands as the plain key does.
        EXPECT_EQ(underWait, expansions) << modifier;
    }
}

// F2 pressed again in the open label editor keeps what was typed (the
// editor doesn't start over from the old name).
TEST_F(LibraryViewerUse, F2InTheLabelEditorKeepsTheTypedText) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    recorder.CurrentITypeLib(Lib());
    view->show();
    TypeLabel(Node("Widget"), "Half", false);
    ASSERT_TRUE(LabelEditor());
    QTest::keyClick(LabelEditor(), Qt::Key_F2);
    ASSERT_TRUE(LabelEditor());
    EXPECT_EQ(LabelEditor()->text(), "Half");
    QTest::keyClick(LabelEditor(), Qt::Key_Escape);
}

// The label editor, a text field like the pane's, has a name for screen
// readers that isn't its value.
TEST_F(LibraryViewerUse, TheLabelEditorHasAnAccessibleName) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    TypeLabel(Node("Widget"), "Gad", false);
    QLineEdit* editor = LabelEditor();
    ASSERT_TRUE(editor);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(editor);
    ASSERT_TRUE(accessible);
    EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
    EXPECT_NE(accessible->text(QAccessible::Name), accessible->text(QAccessible::Value));
    QTest::keyClick(editor, Qt::Key_Escape);
}

// The label editor on the dark palette is framed as the pane's fields are
// (it is made after the view gave its widgets the contrast style).
TEST_F(LibraryViewerUse, TheLabelEditorIsFramedOnTheDarkPaletteAsThePaneFieldsAre) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->setPalette(DarkPalette());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 30);
    view->show();
    TypeLabel(Node("Widget"), "Gad", false);
    QLineEdit* editor = LabelEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->style(), view->DetailsField(Field::Version)->style());
    // How far the left frame's pixels stand out from the field's base.
    const auto frameContrast = [](QWidget* field) {
        const QImage image = field->grab().toImage();
        const int base = field->palette().color(QPalette::Base).lightness();
        int most = 0;
        for (int x = 0; x < 3; ++x)
            most = std::max(most, std::abs(QColor(image.pixel(x, image.height() / 2)).lightness() - base));
        return most;
    };
    // Both with the focus: Fusion draws a focused field's frame in the highlight's shade.
    const int editorContrast = frameContrast(editor);
    dialogstest::SaveScreenshots(*view, "label-editor-dark");
    QTest::keyClick(editor, Qt::Key_Escape);
    view->DetailsField(Field::Version)->setFocus();
    QCoreApplication::processEvents();
    EXPECT_GE(editorContrast, frameContrast(view->DetailsField(Field::Version)) - 5);

    // The member, parameter and help panes' fields, made when first shown, too.
    QTreeWidgetItem* member = Node("IShape");
    EnsureChildren(member);
    ASSERT_GT(member->childCount(), 0);
    member = member->child(0);
    EnsureChildren(member);
    for (QTreeWidgetItem* node : {member, member->childCount() ? member->child(0) : member}) {
        view->Tree()->setCurrentItem(node);
        QCoreApplication::processEvents();
        for (QWidget* field : view->findChildren<QWidget*>()) {
            if (!field->isVisible()) continue;
            EXPECT_EQ(field->style(), editor->style()) << field->metaObject()->className();
        }
    }
}

// An alias of a type with a long name shows the name whole on a large window:
// the type field grows with the pane past a GUID's width.
TEST_F(LibraryViewerUse, ALongAliasTargetIsShownWholeOnALargeWindow) {
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"LongNames");
    auto target = NewType(created.get(), u"IAnInterfaceWhoseNameIsLongerThanAnyGuidCouldEverBe", TKIND_INTERFACE);
    EXPECT_OK(target->AddImplType(0, RefTo(target.get(), StdOle2Type(kIID_IUnknown).get())));
    auto alias = NewType(created.get(), u"Short", TKIND_ALIAS);
    TYPEDESC aliased = User(RefTo(alias.get(), target.get()));
    EXPECT_OK(alias->SetTypeDescAlias(&aliased));
    EXPECT_OK(target->LayOut());
    EXPECT_OK(alias->LayOut());
    view->CurrentITypeLib(AsTypeLib(created.get()).get());
    view->resize(1600, 1000);
    view->show();
    view->Tree()->setCurrentItem(Node("Short"));
    QCoreApplication::processEvents();
    auto* field = static_cast<QLineEdit*>(view->DetailsField(Field::SetType));
    ASSERT_TRUE(field->isVisible());
    ASSERT_EQ(field->text(), "IAnInterfaceWhoseNameIsLongerThanAnyGuidCouldEverBe");
    EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(field->text()));
    // Its button right beside it.
    QWidget* button = view->DetailsField(Field::ChooseType);
    EXPECT_LE(std::abs(button->mapToGlobal(QPoint(0, 0)).x() - field->mapToGlobal(QPoint(field->width(), 0)).x()),
              field->fontMetrics().averageCharWidth());
    dialogstest::SaveScreenshots(*view, "alias-long-target-large");
}

// A font given to the view after it was made (a host's, or the desktop's
// changed at run time): the GUID still fits its field, and the buttons beside
// the fields are still squares of the fields' height.
TEST_F(LibraryViewerUse, TheGuidFieldAndItsButtonFollowAFontSetLater) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    QFont big = view->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    view->setFont(big);
    view->resize(1600, 1000);
    view->show();
    QCoreApplication::processEvents();
    auto* guid = static_cast<QLineEdit*>(view->DetailsField(Field::Guid));
    EXPECT_GE(guid->width(), guid->fontMetrics().horizontalAdvance(guid->text()));
    EXPECT_EQ(view->DetailsField(Field::ChangeGuid)->height(), guid->height());
}

// The share (percent) of the pixels at an image's edge, painted on base, that
// are much lighter than base.
int PaleEdgeShare(int index, const QColor& base) {
    QImage picture(QSize(modImages::kImageSize + 4, modImages::kImageSize + 4), QImage::Format_RGB32);
    picture.fill(base);
    {
        QPainter p(&picture);
        // As a selected row draws it.
        modImages::GetWindowImageList().Icon(index).paint(&p, QRect(2, 2, modImages::kImageSize, modImages::kImageSize),
                                                           Qt::AlignCenter, QIcon::Selected);
    }
    const auto bare = [&](int x, int y) { return picture.pixel(x, y) == base.rgb(); };
    int pale = 0, count = 0;
    for (int y = 1; y + 1 < picture.height(); ++y)
        for (int x = 1; x + 1 < picture.width(); ++x)
            if (!bare(x, y) && (bare(x - 1, y) || bare(x + 1, y) || bare(x, y - 1) || bare(x, y + 1))) {
                ++count;
                pale += QColor(picture.pixel(x, y)).lightness() > base.lightness() + 40;
            }
    return count ? pale * 100 / count : 0;
}

// On the light palette a selected row shows the interface and library images
// as it did: no pale band around them on the selection colour (the other
// images show none: 0%; these show 39% to 84%).
TEST_F(LibraryViewerUse, TheLightSelectionShowsNoPaleBandAroundImages) {
    const QColor selection = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    ASSERT_GT(QApplication::palette().color(QPalette::Base).lightness(),
              QApplication::palette().color(QPalette::Text).lightness());  // a light palette
    for (int index : {kImageSourceInterface, kImageInterface, kImageDispatch, kImageVTableDispatch, kImageLibrary})
        EXPECT_LE(PaleEdgeShare(index, selection), 10) << index;
    EXPECT_EQ(PaleEdgeShare(kImageCoclass, selection), 0);

    // Selected interface rows, for a person to look at.
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 30);
    view->show();
    view->Tree()->setFocus();
    view->Tree()->setCurrentItem(Node("IShape"));
    QCoreApplication::processEvents();
    dialogstest::SaveScreenshots(*view, "selected-interface-light");
    view->setPalette(DarkPalette());
    QCoreApplication::processEvents();
    dialogstest::SaveScreenshots(*view, "selected-interface-dark");
}

// A screen reader selects another node while a label edit is open: the
// rename is applied, and the node the panes show is the node the tree marks.
TEST_F(LibraryViewerUse, ANodeSelectedByAScreenReaderDuringALabelEditIsTheOneShown) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    recorder.CurrentITypeLib(Lib());
    view->resize(view->fontMetrics().averageCharWidth() * 100, view->fontMetrics().height() * 30);
    view->show();
    QTreeWidget* tree = view->Tree();
    TypeLabel(Node("Widget"), "Gadget", false);
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(tree)->tableInterface();
    ASSERT_TRUE(table);
    int either = -1;
    for (int row = 0; row < table->rowCount(); ++row)
        if (QAccessibleInterface* cell = table->cellAt(row, 0); cell && cell->text(QAccessible::Name) == "Either")
            either = row;
    ASSERT_GE(either, 0);
    table->selectRow(either);
    QCoreApplication::processEvents();
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_EQ(recorder.ItemCount(), 1);
    EXPECT_FALSE(LabelEditor());
    EXPECT_EQ(tree->selectedItems(), QList<QTreeWidgetItem*>{Selected()});
    EXPECT_EQ(view->ShownNode(), Selected());
    EXPECT_EQ(Selected(), Node("Either"));
}

// Tab from the tree goes to the splitter's handle (a Tab stop, movable with
// the keyboard, between the tree and the panes as it is on the screen), then
// to the page tabs and then to the first field.
TEST_F(LibraryViewerUse, TabGoesFromTheTreeToTheHandleThePageTabsAndTheFirstField) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->resize(view->fontMetrics().averageCharWidth() * 120, view->fontMetrics().height() * 40);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    view->Tree()->setCurrentItem(Node("IShape"));
    view->Tree()->setFocus();
    QTest::keyClick(view->Tree(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->findChild<editor::SplitPane*>()->Handle());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(qobject_cast<QTabBar*>(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->DetailsField(Field::SetType));
}


// The type dialog of a dual's property (its last parameter its return value)
// picks what the type field shows, as that parameter: long is offered and
// taken, IFixedDual.Size becomes a double, which saves, reloads and replays
// in batch mode to the same file.
TEST_F(LibraryViewerUse, ADualsPropertyTypeIsPickedAsItsReturnValueParameter) {
    std::filesystem::copy_file(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "dispatch.tlb",
                               dir / "dispatch.tlb");
    OpenFile("dispatch.tlb");
    view->show();
    ModalServices driving;
    dialogs::ScopedUiServices drivingScope(driving);
    Choose(Node("IFixedDual", "Size"));
    auto* typeField = static_cast<QLineEdit*>(view->DetailsField(Field::SetType));
    ASSERT_EQ(typeField->text(), "long");
    QString shownFirst;
    bool marked = true;
    driving.modal = [&](QDialog& dialog) {
        auto& picker = *dialog.findChild<editor::TypePicker*>();
        auto* header = dialog.findChild<QLabel*>(QStringLiteral("lblHeader"));
        marked = header->font().bold();
        shownFirst = picker.Prototype()->text().trimmed();
        QTreeWidget* tree = picker.Tree();
        QTreeWidgetItem* intrinsics = tree->topLevelItem(0);
        QTreeWidgetItem* doubleNode = nullptr;
        for (int i = 0; i < intrinsics->childCount(); ++i)
            if (intrinsics->child(i)->text(0).startsWith(QStringLiteral("double "))) doubleNode = intrinsics->child(i);
        std::string names;
        for (int i = 0; i < intrinsics->childCount(); ++i) names += intrinsics->child(i)->text(0).toStdString() + ",";
        ASSERT_TRUE(doubleNode) << names;
        tree->setCurrentItem(doubleNode);
        EXPECT_EQ(picker.Prototype()->text().trimmed(), QStringLiteral("[out, retval] double*"));
        static_cast<editor::frmSpecifyType&>(dialog).Ok()->click();
    };
    QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    EXPECT_FALSE(marked);  // long is offered for the return value
    EXPECT_EQ(shownFirst, QStringLiteral("[out, retval] long*"));
    EXPECT_EQ(typeField->text(), "double");
    ASSERT_TRUE(view->InEditMode());
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_FALSE(view->InEditMode());
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    // The function still returns HRESULT; its return value is a double*.
    const std::string dump = tlbtools::DumpTypeLib(Lib());
    EXPECT_NE(dump.find("param 0 \"r\" pflags=0xa type=ptr(vt5)"), std::string::npos) << dump;
    // Saved and reloaded, the pane shows the new type.
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "saved.tlb").string()));
    ComPtr<ITypeLib> reloaded;
    ASSERT_OK(LoadTypeLibEx(ole::FromUtf8((dir / "saved.tlb").string()).c_str(), REGKIND_NONE, reloaded.put()));
    editor::LibraryViewer again;
    again.CurrentITypeLib(reloaded.get());
    again.show();
    again.Tree()->setCurrentItem(NodeAt(again.Tree(), "IFixedDual", "Size"));
    EXPECT_EQ(static_cast<QLineEdit*>(again.DetailsField(Field::SetType))->text(), "double");
    ExpectBatchModeWritesTheSame();
}

// A field whose text doesn't parse says so itself, with what it takes, where
// a screen reader reads it with the field, and below it; valid again, it
// says nothing more.
TEST_F(LibraryViewerUse, AnInvalidFieldTellsAScreenReaderWhyOnTheFieldItself) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    const auto description = [](QWidget* field) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        return accessible ? accessible->text(QAccessible::Description) : QString();
    };
    const auto check = [&](QTreeWidgetItem* node, QWidget* widget, const QString& bad, const QString& good) {
        ASSERT_TRUE(node);
        Choose(node);
        auto* field = qobject_cast<QLineEdit*>(widget);
        ASSERT_TRUE(field);
        const std::string name = field->accessibleName().toStdString();
        const QString filled = field->text();
        field->setText(bad);
        ASSERT_NE(view->InvalidFields(), 0) << name;
        const QString said = description(field);
        EXPECT_TRUE(said.startsWith(QStringLiteral("Invalid value."))) << name << ": " << said.toStdString();
        EXPECT_GT(said.size(), QStringLiteral("Invalid value. ").size()) << name;
        const QString why = field->toolTip();  // shown below the field too
        EXPECT_TRUE(ShownBelow(field, why)) << name;
        field->setText(good);
        EXPECT_EQ(view->InvalidFields(), 0) << name;
        EXPECT_TRUE(description(field).isEmpty()) << name;
        EXPECT_FALSE(ShownBelow(field, why)) << name;
        field->setText(filled);
        if (view->InEditMode()) QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    };
    using MemberField = editor::LibraryViewer::MemberField;
    check(Root(), view->DetailsField(Field::Version), "1.", "1.5");
    check(Root(), view->DetailsField(Field::Lcid), "abc", "1033");
    check(Node("IShape"), view->DetailsField(Field::Version), "-1.0", "2.0");
    check(Node("IShape", "Zoom"), view->MemberPaneField(MemberField::MemberId), "x", "77");
    check(Node("Colors", "Green"), view->MemberPaneField(MemberField::ConstValue), "abc", "&H10");
    check(Node("IShape", "Fill", "count"), view->MemberPaneField(MemberField::ConstValue), "abc", "7");
    check(Node("Kernel", "Beep"), view->MemberPaneField(MemberField::DllName), " user32.dll", "user32.dll");
    check(Node("Kernel", "Beep"), view->MemberPaneField(MemberField::DllEntry), "#x", "#12");
    // A value the file can't hold says why, as the field's description too.
    Choose(Node("Kernel", "Greeting"));
    auto* value = static_cast<QLineEdit*>(view->MemberPaneField(MemberField::ConstValue));
    value->setText(QString(QChar(0x416)));
    EXPECT_TRUE(description(value).contains(QStringLiteral("U+0416"))) << description(value).toStdString();
}


// A screen reader that keeps the names it was told hears each field, tab and
// description of the panes as they are now, from node to node and from page to
// page: the type field of a property is its "Return Type", not the "Base
// Type" of the alias before, a parameter's type not the "Implied Type" of an
// implemented interface.
TEST_F(LibraryViewerUse, AScreenReaderKeepingNamesIsToldWhatChangesInThePanes) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    EnsureChildren(Node("Widget"));
    CachingReader reader(view.get());
    const std::pair<QTreeWidgetItem*, const char*> path[] = {
        {Root(), "library"},
        {Node("BaseAlias"), "alias"},
        {Node("IShape", "Name"), "property"},
        {Node("Widget")->child(0), "implemented interface"},
        {Node("IShape", "Zoom", "factor"), "parameter"},
        {Node("IShape"), "interface"},
        {Node("Colors", "Green"), "enum constant"},
        {Node("Kernel", "Beep"), "module function"},
        {Node("IShape", "Fill", "count"), "optional parameter"},
        {Node("Matrix", "cells"), "record field"},
        {Node("IShape", "Name"), "property again"},
    };
    for (const auto& [node, what] : path) {
        Choose(node);
        EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << what;
    }
    // The Let's page, then an invalid member ID and its repair.
    QTabBar* tabs = view->findChild<QTabBar*>();
    tabs->setCurrentIndex(1);
    ASSERT_EQ(view->CurrentAccessor(), 4);
    EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << "the Let";
    auto* memberId = static_cast<QLineEdit*>(view->MemberPaneField(editor::LibraryViewer::MemberField::MemberId));
    memberId->setText(QStringLiteral("x"));
    EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << "invalid";
    memberId->setText(QStringLiteral("7"));
    EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << "valid again";
    QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << "cancelled";
    // Each optional setting of a parameter with a default, which empties or
    // fills its default's field, then Update.
    Choose(Node("IShape", "Fill", "count"));
    auto* optional = static_cast<QComboBox*>(view->MemberPaneField(editor::LibraryViewer::MemberField::Optional));
    for (int i = optional->count() - 1; i >= 0; --i) {
        optional->setFocus();
        QTest::keyClick(optional, i == optional->count() - 1 ? Qt::Key_End : Qt::Key_Up);
        ASSERT_EQ(optional->currentIndex(), i);
        EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << optional->currentText().toStdString();
    }
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_EQ(reader.Stale(), std::vector<std::string>()) << "updated";
}

// The caption of an invalid field, on the details page and on the help page,
// is drawn in a red that reads on the light and on the dark palette, chosen
// before or while the field is marked.
TEST_F(LibraryViewerUse, AnInvalidCaptionReadsOnLightAndDarkPalettes) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    auto* version = static_cast<QLineEdit*>(view->DetailsField(Field::Version));
    auto* context = view->findChild<QLineEdit*>(QStringLiteral("txtHelpContext0"));
    ASSERT_TRUE(context);
    const auto captionOf = [&](QWidget* field) {
        for (QLabel* label : view->findChildren<QLabel*>())
            if (label->buddy() == field) return label;
        return static_cast<QLabel*>(nullptr);
    };
    const auto expectReadable = [&](QLabel* caption, const char* what) {
        ASSERT_TRUE(caption) << what;
        const QColor ink = dialogstest::InkOf(*caption);
        const QColor window = caption->parentWidget()->palette().color(QPalette::Window);
        EXPECT_GE(dialogs::ContrastRatio(ink, window), dialogs::kReadableContrast) << what << " " << ink.name().toStdString();
        EXPECT_GT(ink.red(), ink.green() + 48) << what << " " << ink.name().toStdString();
    };
    QTabBar* tabs = view->findChild<QTabBar*>();
    for (const QPalette& palette : {QApplication::palette(), DarkPalette()}) {
        view->setPalette(palette);
        Choose(Root());
        version->setText(QStringLiteral("1."));
        expectReadable(captionOf(version), "version");
        QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
        tabs->setCurrentIndex(tabs->count() - 1);
        context->setText(QStringLiteral("-1"));
        expectReadable(captionOf(context), "help context");
        QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
        tabs->setCurrentIndex(0);
    }
    // Marked on the light palette, then the dark one chosen.
    view->setPalette(QApplication::palette());
    version->setText(QStringLiteral("1."));
    view->setPalette(DarkPalette());
    expectReadable(captionOf(version), "version, dark chosen while marked");
    QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_EQ(captionOf(version)->palette().color(QPalette::WindowText), DarkPalette().color(QPalette::WindowText));
    view->setPalette(QApplication::palette());
}

// The tree's hidden header reads as a name, not as the column number "1".
TEST_F(LibraryViewerUse, TheTreesHiddenHeaderIsNamed) {
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    ExpectOneHeaderNamed(view->Tree(), QStringLiteral("Name"));
}


// A property's Get whose return value is given another type through the
// member pane offers to give the Let's value parameter that type, as the
// return value's own pane does; its return type stays HRESULT. Batch mode
// replays both edits to the same file.
TEST_F(LibraryViewerUse, APropertyTypePickedOnItsGetOffersItToTheLetsValueParameter) {
    WriteInput(AsTypeLib(BuildAllKinds().get()).get());
    OpenFile("in.tlb");
    view->show();
    ModalServices driving;
    dialogs::ScopedUiServices drivingScope(driving);
    Choose(Node("IShape", "Name"));
    ASSERT_EQ(view->CurrentAccessor(), 2);
    driving.modal = [&](QDialog& dialog) {
        auto& picker = *dialog.findChild<editor::TypePicker*>();
        QTreeWidgetItem* intrinsics = picker.Tree()->topLevelItem(0);
        for (int i = 0; i < intrinsics->childCount(); ++i)
            if (intrinsics->child(i)->text(0).startsWith(QStringLiteral("long ")))
                picker.Tree()->setCurrentItem(intrinsics->child(i));
        EXPECT_EQ(picker.Prototype()->text().trimmed(), QStringLiteral("[out, retval] long*"));
        static_cast<editor::frmSpecifyType&>(dialog).Ok()->click();
    };
    QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    driving.answers = {dialogs::kAnswerYes};
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(driving.messages.size(), 1u) << driving.messages.back().toStdString();
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] long'?");
    const std::string dump = tlbtools::DumpTypeLib(Lib());
    // The interface's Get returns HRESULT with a long* return value; its Let
    // still returns HRESULT and takes a long.
    const size_t shape = dump.find("dual-interface-half \"IShape\"");
    ASSERT_NE(shape, std::string::npos);
    const size_t get = dump.find("\"Name\"", shape);
    const size_t let = dump.find("\"Name\"", get + 1);
    ASSERT_NE(let, std::string::npos);
    EXPECT_NE(dump.substr(get, 400).find("ret=vt25"), std::string::npos) << dump.substr(get, 400);
    EXPECT_NE(dump.substr(get, 400).find("pflags=0xa type=ptr(vt3)"), std::string::npos) << dump.substr(get, 400);
    EXPECT_NE(dump.substr(let, 400).find("ret=vt25"), std::string::npos) << dump.substr(let, 400);
    EXPECT_NE(dump.substr(let, 400).find("type=vt3"), std::string::npos) << dump.substr(let, 400);
    ExpectBatchModeWritesTheSame();
}


// The base type field of a dual whose base lies in stdole, asked for its menu
// as the window system delivers a user's gestures: a press of the right
// button, the Menu key and Shift+F10 pressed and released in the window. Each
// opens the menu once, and no gesture beeps.
TEST_F(LibraryViewerUse, TheBaseTypeFieldOpensItsMenuForTheWindowSystemsGestures) {
    std::filesystem::copy_file(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "dispatch.tlb",
                               dir / "dispatch.tlb");
    OpenFile("dispatch.tlb");
    view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 40);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    Choose(Node("IDualD"));
    auto* field = static_cast<QLineEdit*>(view->DetailsField(Field::SetType));
    ASSERT_TRUE(field->isVisible());
    int opened = 0;
    const auto expectMenu = [&](const char* gesture) {
        QCoreApplication::processEvents();
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu) << gesture;
        QStringList captions;
        for (QAction* action : menu->actions())
            if (action->isVisible()) captions << action->text();
        EXPECT_EQ(captions, (QStringList{"&Internalize External Types", "&Redirect External Types"})) << gesture;
        QTest::keyClick(menu, Qt::Key_Escape);
        QCoreApplication::processEvents();
        EXPECT_FALSE(QApplication::activePopupWidget()) << gesture;
        ++opened;
    };
    QWindow* window = view->window()->windowHandle();
    ASSERT_TRUE(window);
    QTest::mouseClick(window, Qt::RightButton, {}, field->mapTo(view->window(), field->rect().center()));
    expectMenu("right button");
    field->setFocus();
    QTest::keyClick(window, Qt::Key_Menu);
    expectMenu("Menu key");
    field->setFocus();
    QTest::keyClick(window, Qt::Key_F10, Qt::ShiftModifier);
    expectMenu("Shift+F10");
    EXPECT_EQ(opened, 3);
    EXPECT_EQ(services.beeps, 0);
}

}  // namespace
}  // namespace treetest

// The library editor view met as a user meets it: label edits,
// the tree's keys, the details pane's scrolling and sizes, screen readers, and
// the images and frames on light and dark palettes.
#include "TreeTestSupport.h"
#include "ViewerTestSupport.h"

#include <sys/wait.h>

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>

#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "changes/kinds/RenameChange.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/LibraryViewer.h"
#include "editor/SplitPane.h"
#include "editor/modImages.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

using Field = editor::LibraryViewer::Field;
using zephrin::dialogs::MessageAnswer;

class LibraryViewerInUse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    LibraryViewerInUse() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        recorder.ChangeListener(hub);
    }
    ~LibraryViewerInUse() override {
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void OpenFile(const std::string& file) {
        input = file;
        const std::filesystem::path path = std::filesystem::exists(dir / file) ? dir / file : std::filesystem::path(file);
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8(path.string()).c_str(), loaded.put()));
        view->CurrentITypeLib(loaded.get());
        recorder.CurrentITypeLib(Lib());
    }
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
    QLineEdit* LabelEditor() {
        for (QLineEdit* open : view->Tree()->viewport()->findChildren<QLineEdit*>())
            if (!open->isHidden()) return open;
        return nullptr;
    }
    void TypeLabel(QTreeWidgetItem* node, const QString& text, bool finish = true) {
        QCoreApplication::processEvents();
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
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void ExpectBatchModeWritesTheSame() {
        view->SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(dir.path().string()), u"edits.leh"));
        const std::string command = "cd '" + dir.path().string() +
                                    "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY '" ZEPHRIN_BIN_DIR
                                    "/zephrin' -leh edits.leh -tlb " + input + " -saveas batch.tlb -quiet "
                                    "-out messages.txt >stdout.txt 2>stderr.txt";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << testsupport::ReadText(dir / "messages.txt") << testsupport::ReadText(dir / "stderr.txt");
        ASSERT_TRUE(std::filesystem::exists(dir / "batch.tlb"));
        EXPECT_EQ(testsupport::ReadBytes(dir / "view.tlb"), testsupport::ReadBytes(dir / "batch.tlb"));
    }

    TempDir dir;
    std::string input;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    Playback recorder;
    std::unique_ptr<editor::LibraryViewer> view;
};


// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// lists its own functions; F2 renames them and their parameters as it does any
// other member, and batch mode replays the renames.
TEST_F(LibraryViewerInUse, MembersOfADispinterfaceOverAnInterfaceAreRenamedWithF2) {
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
    // (IUnknown's) can't be renamed here, and no function can be deleted
    // through the dispinterface; both say so, and nothing changes.
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
    EXPECT_EQ(refusal([&] { over->DeleteMember(0x60010000, 0); }).Number, 5);
    EXPECT_EQ(tlbtools::DumpTypeLib(Lib()), dump);
}

// Tab entering the details pane from outside it (round from the tree, or
// Shift+Tab from the tree), and a caption's access key, scroll the field that
// takes the focus into sight, as Tab within the pane does.
TEST_F(LibraryViewerInUse, AFieldTakingTheFocusFromOutsideThePaneIsScrolledIntoSight) {
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

// `*` with Ctrl or Alt held expands everything below the node as the plain key
// does: the levels built first, then expanded, under the wait cursor (the
// tree's own handling builds each level while it expands, at a cost that
// grows with the square of the rows).
TEST_F(LibraryViewerInUse, StarWithAModifierExpandsTheFastWayUnderTheWaitCursor) {
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
TEST_F(LibraryViewerInUse, F2InTheLabelEditorKeepsTheTypedText) {
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
TEST_F(LibraryViewerInUse, TheLabelEditorHasAnAccessibleName) {
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
TEST_F(LibraryViewerInUse, TheLabelEditorIsFramedOnTheDarkPaletteAsThePaneFieldsAre) {
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
TEST_F(LibraryViewerInUse, ALongAliasTargetIsShownWholeOnALargeWindow) {
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
TEST_F(LibraryViewerInUse, TheGuidFieldAndItsButtonFollowAFontSetLater) {
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
TEST_F(LibraryViewerInUse, TheLightSelectionShowsNoPaleBandAroundImages) {
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
TEST_F(LibraryViewerInUse, ANodeSelectedByAScreenReaderDuringALabelEditIsTheOneShown) {
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
TEST_F(LibraryViewerInUse, TabGoesFromTheTreeToTheHandleThePageTabsAndTheFirstField) {
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

}  // namespace
}  // namespace treetest

// Edits made through the library editor view as a user makes them, recorded
// by a history engine on the view's hub, saved, and run by the program in
// batch mode on a fresh copy of the starting file: the program must write the
// file the view saves.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "changes/ChangesTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/ReferenceDump.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;

// The GUID and type dialogs, answered as the user would: the next GUID, and
// the type named in pick from the library shown.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    explicit ScriptedDialogs(editor::LibraryViewer& view) : view_(view) {}
    std::u16string pick;
    uint32_t guids = 0;
    bool ChangeGuid(QWidget*, ole::GUID& guid) override {
        guid = {0x5E55A000 + ++guids, 0x19, 0x77, {1, 2, 3, 4, 5, 6, 7, 8}};
        return true;
    }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return {true, TypeChosen(view_.CurrentLibraryITypeLib().get(), pick)};
    }

private:
    editor::LibraryViewer& view_;
};

class ViewerReplay : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ViewerReplay() : scoped(services) {}

    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* Root() { return Tree()->topLevelItem(0); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr) { return NodeAt(Tree(), type, member); }
    // Clicks node as the user does, which selects it and fills the panes.
    void Select(QTreeWidgetItem* node) {
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    // Toggles a flag of the options list with the space bar, then presses Update.
    void ToggleFlag(const char* name) {
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        QListWidgetItem* item = options->findItems(QString::fromUtf8(name), Qt::MatchExactly).value(0);
        ASSERT_TRUE(item) << name;
        options->setFocus();
        options->setCurrentItem(item);
        QTest::keyClick(options, Qt::Key_Space);
        ASSERT_TRUE(view.InEditMode()) << name;
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode()) << name;
    }
    // Clicks a button of the pane, then Update.
    void ClickThenUpdate(Field button) {
        QTest::mouseClick(view.DetailsField(button), Qt::LeftButton);
        ASSERT_TRUE(view.InEditMode());
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode());
    }
    // Types text into a field in place of its value and presses Enter.
    void TypeInto(Field field, const char* text) {
        auto* edit = static_cast<QLineEdit*>(view.DetailsField(field));
        ASSERT_TRUE(edit->isVisible());
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
        QTest::keyClick(edit, Qt::Key_Return);
        ASSERT_FALSE(view.InEditMode()) << text;
    }
    // F2 on the selected node, the new name typed, Enter.
    void Rename(const char* text) {
        QTest::keyClick(Tree(), Qt::Key_F2);
        QLineEdit* editor = treetest::LabelEditor(Tree());
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QString::fromUtf8(text));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // Runs the program in the test's folder without a display.
    int Zephrin(const std::string& args) const { return RunZephrin(dir.path(), args); }
    // Saves the sample library as in.tlb and shows it, its edits recorded by history.
    void Open() {
        const fs::path in = dir / "in.tlb";
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8(in.string()));
            ASSERT_OK(created->SaveAllChanges());
        }
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8(in.string()).c_str(), loaded.put()));
        ShowViewer(view, hub, &dialogs, 40);
        view.CurrentITypeLib(loaded.get());
        history.ChangeListener(hub);
        history.CurrentITypeLib(view.CurrentLibraryITypeLib().get());
    }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs{view};
    Playback history;
};

// The sample library holds a module (Kernel), a dual interface (IShape), an
// alias of an interface (ShapeAlias, BaseAlias), a record, a coclass and
// interfaces with a member to copy.
TEST_F(ViewerReplay, EditsMadeInTheViewReplayInBatchModeToTheSameFile) {
    Open();

    // The library pane: a new version.
    Select(Root());
    TypeInto(Field::Version, "3.1");
    // The type pane: flags of a coclass, a dual, a module and aliases of interfaces.
    Select(At("Widget"));
    ToggleFlag("hidden");
    Select(At("IShape"));
    ToggleFlag("hidden");
    TypeInto(Field::Version, "2.4");
    Select(At("Kernel"));
    ToggleFlag("hidden");
    Select(At("ShapeAlias"));
    ToggleFlag("hidden");
    Select(At("BaseAlias"));
    ToggleFlag("restricted");
    // A new GUID for the dual, an alias of an interface and an interface given other types.
    Select(At("IShape"));
    ClickThenUpdate(Field::ChangeGuid);
    Select(At("ShapeAlias"));
    dialogs.pick = u"IBase";
    ClickThenUpdate(Field::ChooseType);
    Select(At("IDerived"));
    dialogs.pick = u"IShape";
    ClickThenUpdate(Field::ChooseType);
    // A record's alignment, chosen with the keyboard.
    Select(At("Matrix"));
    auto* align = static_cast<QComboBox*>(view.DetailsField(Field::Align));
    ASSERT_TRUE(align->isVisible());
    align->setFocus();
    QTest::keyClick(align, align->currentIndex() == 0 ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_TRUE(view.InEditMode());
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_FALSE(view.InEditMode());

    // F2 renames of a dispinterface and a module.
    Tree()->setFocus();
    Select(At("DVTable"));
    Rename("DEvents");
    Select(At("Kernel"));
    Rename("Runtime");
    ASSERT_TRUE(At("Runtime"));

    // A method copied from one interface and pasted into the dual.
    Select(At("IDerived", "Go"));
    QTest::keyClick(Tree(), Qt::Key_C, Qt::ControlModifier);
    Select(At("IShape"));
    QTest::keyClick(Tree(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(At("IShape", "Go"));
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(services.beeps, 0);

    ASSERT_EQ(history.ItemCount(), 14);
    ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
    ASSERT_EQ(Zephrin("-leh session.leh -tlb in.tlb -saveas batch.tlb -quiet"), 0)
        << testsupport::ReadText(dir / "stderr.txt");
    EXPECT_EQ(ReadBytes(dir / "batch.tlb"), ReadBytes(dir / "view.tlb"));
    // The batch file holds the renames.
    ComPtr<ITypeLib> batch;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "batch.tlb").string()).c_str(), batch.put()));
    EXPECT_TRUE(changestest::TypeNamed(batch.get(), u"Runtime"));
    EXPECT_TRUE(changestest::TypeNamed(batch.get(), u"DEvents"));
}

// A record reads back the smaller of the alignment set and its fields' widest
// (Matrix: 4). One it can read back is saved, shown and replayed as chosen; a
// wider one is refused in the field with the reason, and nothing is recorded.
TEST_F(ViewerReplay, ARecordsAlignmentIsSavedAsChosenOrRefusedInTheField) {
    Open();
    Select(At("Matrix"));
    auto* align = static_cast<QComboBox*>(view.DetailsField(Field::Align));
    ASSERT_EQ(align->currentText(), "4");
    align->setFocus();
    QTest::keyClick(align, Qt::Key_Down);
    const QString why = QStringLiteral("The fields of Matrix align to 4 bytes at most: its alignment can be 1, 2 or 4.");
    EXPECT_EQ(align->accessibleDescription(), QStringLiteral("Invalid value. ") + why);
    EXPECT_TRUE(ShownBelow(align, why));
    EXPECT_FALSE(view.DetailsField(Field::Update)->isEnabled());
    for (const auto& [theme, palette] : {std::pair{"light", view.palette()}, std::pair{"dark", DarkPalette()}}) {
        view.setPalette(palette);
        testsupport::SaveScreenshots(view, std::string("viewer-alignment-refused-") + theme);
    }
    view.setPalette(QApplication::palette());
    QTest::keyClick(align, Qt::Key_Up);
    QTest::keyClick(align, Qt::Key_Up);
    EXPECT_TRUE(align->accessibleDescription().isEmpty());
    EXPECT_FALSE(ShownBelow(align, why));
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_FALSE(view.InEditMode());
    Select(At("Widget"));
    Select(At("Matrix"));
    EXPECT_EQ(align->currentText(), "2");
    ASSERT_EQ(history.ItemCount(), 1);

    ComPtr<ITypeLib> saved = SaveAndReplay(history, view, dir.path());
    ASSERT_EQ(Zephrin("-leh session.leh -tlb in.tlb -saveas again.tlb -quiet"), 0);
    EXPECT_EQ(ReadBytes(dir / "again.tlb"), ReadBytes(dir / "view.tlb"));
    ComPtr<ITypeInfo> matrix = changestest::TypeNamed(saved.get(), u"Matrix");
    TYPEATTR* attr = nullptr;
    ASSERT_OK(matrix->GetTypeAttr(&attr));
    EXPECT_EQ(attr->cbAlignment, 2);
    matrix->ReleaseTypeAttr(attr);
    if (const auto dump = testsupport::ReferenceDump(dir / "view.tlb")) {
        EXPECT_NE(dump->find("\"Matrix\" kind=1 {00000000-0000-0000-0000-000000000000} v0.0 flags=0x0 align=2 "),
                  std::string::npos)
            << *dump;
    }
}

}  // namespace
}  // namespace treetest

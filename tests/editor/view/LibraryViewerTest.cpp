// The library editor view: its properties, opening and saving a library the
// way batch mode does, and its tree following changes applied at the hub.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"
#include "dialogs/DialogTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QHideEvent>
#include <QPainter>
#include <QPixmap>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include "app/modCorvaneExe.h"
#include "changes/ChangesTestSupport.h"
#include <fstream>

#include "changes/history/modRecorder.h"
#include "changes/hub/VTICache.h"
#include "changes/hub/ChangeListener.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/RenameChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/TreeSync.h"
#include "support/ErrorCapture.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/modITypeInfoHelper.h"
#include "support/EngineTestSupport.h"

namespace treetest {
namespace {

using changestest::LibraryTarget;
using changestest::MemberTarget;
using changestest::TypeTarget;
using zephrin::dialogs::MessageAnswer;

int32_t ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const ErrorRecord& e) {
        return e.Number;
    }
    return 0;
}

class LibraryViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    LibraryViewerTest() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
    }
    void Open() { view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get()); }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Selected() { return view->Tree()->currentItem(); }
    // Applies change at the hub, as any holder of the hub does.
    bool Apply(IChange& change, ChangeTarget target, int32_t level) {
        return change.Apply(*view->CurrentCustomTypeLib(), nullptr, target, hub.get(), level);
    }

    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
};

TEST_F(LibraryViewerTest, ANewViewOffersEverythingAndRefusesBadValues) {
    EXPECT_TRUE(view->DisplayHelpOptions());
    EXPECT_TRUE(view->SaveBackupHelpString());
    EXPECT_TRUE(view->AddUsesLibraryHelpFiles());
    EXPECT_EQ(view->TypeConstraint(), 2);
    EXPECT_EQ(view->TypeConstraintFilter(), 31);
    EXPECT_EQ(view->DisplayFormat(), 8);
    EXPECT_EQ(ErrorOf([&] { view->TypeConstraint(5); }), kErrInvalidArgument);
    EXPECT_EQ(view->TypeConstraint(), 2);
    view->TypeConstraintFilter(32);
    EXPECT_EQ(view->TypeConstraintFilter(), 31);
    // Nothing attached: no library to read, save or reference.
    EXPECT_EQ(ErrorOf([&] { view->CurrentITypeLib(); }), 91);
    EXPECT_EQ(ErrorOf([&] { view->SaveCurrentLibrary(u"/nowhere.tlb"); }), 91);
    EXPECT_EQ(ErrorOf([&] { view->AddReferencedITypeLib(Lib()); }), 91);
    // A library that isn't a companion library of unresolved types: 814, the field kept.
    ComPtr<ITypeLib> plain = AsTypeLib(BuildAllKinds().get());
    EXPECT_EQ(ErrorOf([&] { view->UnresolvedTypes(plain.get()); }), kErrInvalidArgument);
    EXPECT_FALSE(view->UnresolvedTypes());

    Open();
    view->AddReferencedITypeLib(plain.get());
    view->AddReferencedITypeLib(plain.get());
    view->RemoveReferencedITypeLib(Lib());
    EXPECT_EQ(view->ReferencedLibraryCount(), 1u);
    view->AttachITypeLib(Lib());  // keeps them
    EXPECT_EQ(view->ReferencedLibraryCount(), 1u);
    Open();  // forgets them
    EXPECT_EQ(view->ReferencedLibraryCount(), 0u);
    view->CurrentITypeLib(nullptr);
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(view->CurrentLibraryITypeLib());
    EXPECT_TRUE(services.messages.empty());
}

// Opening and saving with no edit writes what batch mode writes from an empty history.
TEST_F(LibraryViewerTest, OpenedAndSavedWithoutEditItIsTheFileBatchModeWrites) {
    TempDir dir;
    const std::string in = (dir / "in.tlb").string();
    ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8(in));
    ASSERT_OK(created->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8(in).c_str(), loaded.put()));
    view->CurrentITypeLib(loaded.get());
    ASSERT_EQ(Selected(), Root());
    EXPECT_EQ(view->ShownNode(), Root());
    EXPECT_TRUE(Root()->isExpanded());
    EXPECT_EQ(Utf8(Root()->child(0)->text(0)), "BaseAlias");
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));

    VTICache cache;
    const std::vector<std::byte> empty = modRecorder::WriteEditHistory({}, cache, dir.path());
    std::ofstream(dir / "empty.leh", std::ios::binary)
        .write(reinterpret_cast<const char*>(empty.data()), static_cast<std::streamsize>(empty.size()));
    ASSERT_EQ(modCorvaneExe::Main({"-q", "-leh", (dir / "empty.leh").string(), "-tlb", in, "-saveas",
                                   (dir / "batch.tlb").string()},
                                  {}),
              0);
    EXPECT_EQ(ReadBytes(dir / "view.tlb"), ReadBytes(dir / "batch.tlb"));
    // The view keeps editing its own copy.
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 1);
}

TEST_F(LibraryViewerTest, TheTreeFollowsChangesAppliedAtTheHub) {
    Open();
    QTreeWidgetItem* base = Child(Root(), "IBase");
    // Level 0: nothing shown changes; level 2 renames, selects and re-sorts later.
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"AAInterface");
    ASSERT_TRUE(Apply(*rename, TypeTarget(Lib(), u"IBase"), 2));
    EXPECT_EQ(Utf8(base->text(0)), "AAInterface");
    EXPECT_EQ(Selected(), base);
    EXPECT_EQ(view->ShownNode(), base);
    EXPECT_EQ(view->DeferredSortNode(), Root());
    EXPECT_NE(Root()->indexOfChild(base), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
    EXPECT_EQ(Root()->indexOfChild(base), 0);
    // Interfaces that show it follow the rename.
    BuildAll(Child(Root(), "IDerived"));

    // Deleting the selected member selects its previous sibling, or the next when it was first.
    ChangeTarget alpha = MemberTarget(Lib(), u"AAInterface", u"Alpha");
    view->Tree()->setCurrentItem(FindTargetNode(view->Tree(), alpha, editor::kFindBuild));
    EXPECT_EQ(Utf8(view->ShownNode()->text(0)), "Alpha");
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), alpha, 1));
    EXPECT_EQ(Utf8(Selected()->text(0)), "Item");
    ChangeTarget zeta = MemberTarget(Lib(), u"AAInterface", u"Zeta");
    view->Tree()->setCurrentItem(FindTargetNode(view->Tree(), zeta, editor::kFindBuild));
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), zeta, 1));
    EXPECT_EQ(Utf8(Selected()->text(0)), "Value");
    EXPECT_EQ(view->ShownNode(), Selected());

    // A deleted type takes a waiting re-sort of its members with it.
    QTreeWidgetItem* either = Child(Root(), "Either");
    EnsureChildren(either);
    rename->NewName(u"z");
    ASSERT_TRUE(Apply(*rename, MemberTarget(Lib(), u"Either", u"a", 0), 0));
    EXPECT_EQ(view->DeferredSortNode(), either);
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), TypeTarget(Lib(), u"Either"), 0));
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
    EXPECT_FALSE(Child(Root(), "Either"));
    QCoreApplication::processEvents();

    // A new type at level 2 is selected; SelectTarget and RefreshCurrentSelection show it again.
    auto addType = modAddTypeChange::NewAddTypeChange(false);
    addType->TypeKind(TKIND_ENUM);
    ChangeTarget library = LibraryTarget(Lib());
    ASSERT_TRUE(addType->Apply(*view->CurrentCustomTypeLib(), nullptr, library, hub.get(), 2));
    ASSERT_TRUE(Selected());
    EXPECT_EQ(TypeRecord(Selected())->TypeKind, TKIND_ENUM);
    ChangeTarget widget = TypeTarget(Lib(), u"Widget");
    hub->SelectTarget(widget, 0);
    EXPECT_EQ(Selected(), Child(Root(), "Widget"));
    view->Tree()->setCurrentItem(nullptr);
    hub->RefreshCurrentSelection(0);
    EXPECT_EQ(Selected(), nullptr);
    EXPECT_TRUE(services.messages.empty());
}

// The mark the view sets before its own apply never reaches a later change.
TEST_F(LibraryViewerTest, AFailedApplyLeavesNoMarkAndADestroyedViewHearsNothing) {
    Open();
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Widget");  // taken
    ChangeTarget target = TypeTarget(Lib(), u"IBase");
    EXPECT_NE(ErrorOf([&] { view->ApplySkippingView(*rename, nullptr, target, 2); }), 0);
    EXPECT_FALSE(hub->SkipsOnce(view->HubNode()));
    rename->NewName(u"IFirst");
    ASSERT_TRUE(Apply(*rename, TypeTarget(Lib(), u"IBase"), 2));
    EXPECT_EQ(Utf8(Selected()->text(0)), "IFirst");

    // Another hub: the first one no longer reaches the view.
    auto second = std::make_shared<ChangeListener>();
    view->SetChangeListener(second);
    rename->NewName(u"ISecond");
    ASSERT_TRUE(Apply(*rename, TypeTarget(Lib(), u"IFirst"), 2));
    EXPECT_EQ(Utf8(Selected()->text(0)), "IFirst");
    view->SetChangeListener(hub);

    // A change after the view went reaches no one.
    std::shared_ptr<CustomTypeLib> editable = view->CurrentCustomTypeLib();
    ComPtr<ITypeLib> lib(Lib());
    view.reset();
    rename->NewName(u"IThird");
    ChangeTarget after = TypeTarget(lib.get(), u"ISecond");
    EXPECT_TRUE(rename->Apply(*editable, nullptr, after, hub.get(), 2));
}


using Field = editor::LibraryViewer::Field;

// Select a type, check "hidden", press Update: the flag is in the library and
// in the saved file, and the tree is as it was.
TEST_F(LibraryViewerTest, CheckingHiddenOnATypeAndUpdatingSetsTheFlagEndToEnd) {
    TempDir dir;
    Open();
    QSignalSpy editMode(view.get(), &editor::LibraryViewer::OnSetEditMode);
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    TypeNodeRecord* record = TypeRecord(widget);
    const std::string fields = Fields(record);
    view->Tree()->setCurrentItem(widget);  // as the user navigates
    EXPECT_EQ(view->EditKind(), TKIND_COCLASS * 256 + 258);
    EXPECT_EQ(view->findChild<QTabBar*>()->tabText(0).toStdString(), "Coclass Type");
    auto* options = static_cast<QListWidget*>(view->DetailsField(Field::Options));
    ASSERT_EQ(options->count(), 8);  // a coclass lists eight flags
    QListWidgetItem* hidden = options->findItems("hidden", Qt::MatchExactly).value(0);
    ASSERT_TRUE(hidden);
    hidden->setCheckState(Qt::Checked);
    EXPECT_TRUE(view->InEditMode());
    EXPECT_FALSE(view->Tree()->isEnabled());
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);

    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(Child(Root(), "Widget"), widget);
    EXPECT_EQ(TypeRecord(widget), record);
    EXPECT_EQ(Fields(record), fields);
    EXPECT_EQ(Selected(), widget);
    ASSERT_EQ(editMode.size(), 2);
    EXPECT_TRUE(editMode[0][0].toBool());
    EXPECT_FALSE(editMode[1][0].toBool());
    const auto flagsOf = [](ITypeLib* lib) {
        TYPEATTR* attr = nullptr;
        ComPtr<ITypeInfo> type = changestest::TypeNamed(lib, u"Widget");
        EXPECT_OK(type->GetTypeAttr(&attr));
        const WORD flags = attr ? attr->wTypeFlags : 0;
        if (attr) type->ReleaseTypeAttr(attr);
        return flags;
    };
    EXPECT_EQ(flagsOf(Lib()) & TYPEFLAG_FHIDDEN, TYPEFLAG_FHIDDEN);
    const std::u16string saved = ole::FromUtf8((dir / "saved.tlb").string());
    view->SaveCurrentLibrary(saved);
    ComPtr<ITypeLib> reloaded;
    ASSERT_OK(LoadTypeLib(saved.c_str(), reloaded.put()));
    EXPECT_EQ(flagsOf(reloaded.get()) & TYPEFLAG_FHIDDEN, TYPEFLAG_FHIDDEN);
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(LibraryViewerTest, EditModeFollowsTheFieldsAndCancelRestores) {
    Open();
    QSignalSpy editMode(view.get(), &editor::LibraryViewer::OnSetEditMode);
    auto* version = static_cast<QLineEdit*>(view->DetailsField(Field::Version));
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    auto* update = view->DetailsField(Field::Update);
    EXPECT_EQ(view->EditKind(), 1);
    EXPECT_EQ(lcid->text().toStdString(), "&H409");
    const QString filled = version->text();

    // Typing a value and typing it back leaves edit mode again.
    version->selectAll();
    QTest::keyClicks(version, "7.3");
    EXPECT_TRUE(view->InEditMode());
    EXPECT_TRUE(update->isEnabled());
    version->selectAll();
    QTest::keyClicks(version, filled);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(editMode.size(), 2);

    // Two invalid fields keep Update disabled until both parse; Enter beeps meanwhile.
    version->selectAll();
    QTest::keyClicks(version, "1.");
    lcid->selectAll();
    QTest::keyClicks(lcid, "abc");
    EXPECT_EQ(view->InvalidFields(), 3);
    EXPECT_TRUE(view->InEditMode());
    EXPECT_FALSE(update->isEnabled());
    QTest::keyClick(lcid, Qt::Key_Return);
    EXPECT_EQ(services.beeps, 1);
    lcid->selectAll();
    QTest::keyClicks(lcid, "&H7");
    EXPECT_FALSE(update->isEnabled());
    version->selectAll();
    QTest::keyClicks(version, "40000.0");  // beyond 16 bits
    EXPECT_FALSE(update->isEnabled());
    version->selectAll();
    QTest::keyClicks(version, "2.5");
    EXPECT_TRUE(update->isEnabled());

    // Cancel shows the filled values and leaves edit mode; nothing reached the library.
    QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(version->text(), filled);
    EXPECT_EQ(lcid->text().toStdString(), "&H409");
    EXPECT_EQ(view->InvalidFields(), 0);

    // Enter in a valid field updates the library.
    lcid->selectAll();
    QTest::keyClicks(lcid, "1031");
    QTest::keyClick(lcid, Qt::Key_Return);
    EXPECT_FALSE(view->InEditMode());
    TLIBATTR* attr = nullptr;
    ASSERT_OK(Lib()->GetLibAttr(&attr));
    EXPECT_EQ(attr->lcid, 1031u);
    Lib()->ReleaseTLibAttr(attr);
    EXPECT_EQ(lcid->text().toStdString(), "&H407");
    EXPECT_EQ(services.beeps, 1);
}

// The LCID field takes the known languages and the value it was filled with,
// however unusual; after an Update the applied value is the one filled with.
TEST_F(LibraryViewerTest, TheLcidFieldTakesKnownLanguagesAndItsFilledValue) {
    ComPtr<ICreateTypeLib2> created = BuildAllKinds();
    ASSERT_OK(created->SetLcid(0x12345));
    view->CurrentITypeLib(AsTypeLib(created.get()).get());
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    auto* update = view->DetailsField(Field::Update);
    EXPECT_EQ(lcid->text().toStdString(), "&H12345");
    const auto type = [&](const char* text) {
        lcid->selectAll();
        QTest::keyClicks(lcid, text);
        return view->InvalidFields();
    };
    EXPECT_EQ(type("&H12346"), 2);
    EXPECT_EQ(type("&H12345"), 0);  // typed back: valid, and nothing to update
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(type("74565"), 0);
    EXPECT_EQ(type("1.5"), 2);
    EXPECT_EQ(type("&H7F"), 0);
    EXPECT_EQ(type("&H809"), 0);
    ASSERT_TRUE(update->isEnabled());
    QTest::mouseClick(update, Qt::LeftButton);
    TLIBATTR* attr = nullptr;
    ASSERT_OK(Lib()->GetLibAttr(&attr));
    EXPECT_EQ(attr->lcid, 0x809u);
    Lib()->ReleaseTLibAttr(attr);
    EXPECT_EQ(lcid->text().toStdString(), "&H809");
    EXPECT_EQ(type("&H12345"), 2);
}


// Pictures of the view for a person to look at: library, type and member
// selected, light and dark, at 1x and 2x.
TEST_F(LibraryViewerTest, Screenshots) {
    const QString folder = QStringLiteral(ZEPHRIN_BIN_DIR "/../screenshots");
    QDir().mkpath(folder);
    Open();
    view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 28);
    const QPalette light = QApplication::palette();
    const QPalette dark = treetest::DarkPalette();
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    EnsureChildren(derived);
    const std::pair<const char*, QTreeWidgetItem*> selections[] = {
        {"library", Root()}, {"type", Child(Root(), "Widget")}, {"member", Child(derived, "Go")}};
    for (const auto& [name, node] : selections) {
        view->Tree()->setCurrentItem(node);
        view->show();
        QCoreApplication::processEvents();
        for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
            QApplication::setPalette(palette);
            view->setPalette(palette);
            for (int scale : {1, 2}) {
                QPixmap picture(view->size() * scale);
                picture.setDevicePixelRatio(scale);
                picture.fill(palette.color(QPalette::Window));
                view->render(&picture);
                EXPECT_TRUE(picture.save(folder + QStringLiteral("/viewer-%1-%2-%3x.png").arg(name, theme).arg(scale)));
            }
        }
    }
    QApplication::setPalette(light);
    view->setPalette(light);
}


// The view's tree passes `*` on to the expansion of everything below the
// current node.
TEST_F(LibraryViewerTest, StarOnTheRootExpandsEveryLevel) {
    Open();
    view->show();
    view->Tree()->setCurrentItem(Root());
    QTest::keyClick(view->Tree(), Qt::Key_Asterisk, Qt::KeypadModifier);
    QTreeWidgetItem* go = Child(Child(Root(), "IDerived"), "Go");
    ASSERT_TRUE(go);
    EXPECT_TRUE(go->isExpanded());
    EXPECT_EQ(ChildTexts(go), "speed");
    EXPECT_EQ(Selected(), Root());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(services.messages.empty());
}

// On a dark palette the attribute list's unchecked boxes and the text fields'
// frames stand out from what is around them; pictures of the type pane, light
// and dark, for a person to look at.
TEST_F(LibraryViewerTest, TheTypePaneShowsItsCheckBoxesOnADarkPalette) {
    Open();
    view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 32);
    view->show();
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    auto* options = static_cast<QListWidget*>(view->DetailsField(Field::Options));
    QListWidgetItem* hidden = options->findItems("hidden", Qt::MatchExactly).value(0);
    ASSERT_TRUE(hidden);
    ASSERT_EQ(hidden->checkState(), Qt::Unchecked);
    QCoreApplication::processEvents();
    dialogstest::SaveScreenshots(*view, "viewer-type-pane");
    const int light = testsupport::CheckBoxContrast(*options, hidden);
    view->setPalette(DarkPalette());
    QCoreApplication::processEvents();
    EXPECT_GE(testsupport::CheckBoxContrast(*options, hidden), 60);
    EXPECT_GE(light, 60);
    // The version field's frame against the pane behind it.
    auto* version = view->DetailsField(Field::Version);
    QImage picture(version->size(), QImage::Format_ARGB32);
    const QColor window = view->palette().color(QPalette::Window);
    picture.fill(window);
    version->render(&picture);
    int frame = 0;  // along the top edge
    for (int x = 0; x < picture.width(); ++x)
        frame = std::max(frame, std::abs(QColor(picture.pixel(x, 0)).lightness() - window.lightness()));
    EXPECT_GE(frame, 40);
    dialogstest::SaveScreenshots(*view, "viewer-type-pane-dark");
}


// A library with an import that can't be resolved says so once; its save is
// refused while a placeholder is used. A companion library goes after a save.
TEST_F(LibraryViewerTest, UnresolvedImportsAreAnnouncedOnceAndTheCompanionGoesAfterASave) {
    TempDir dir;
    ComPtr<ITypeLib> dangling;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb")
                                            .string()).c_str(),
                          dangling.put()));
    view->CurrentITypeLib(dangling.get());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], dialogs::ResText(941));
    ASSERT_TRUE(view->UnresolvedTypes());
    EXPECT_NE(ErrorOf([&] { view->SaveCurrentLibrary(ole::FromUtf8((dir / "refused.tlb").string())); }), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "refused.tlb"));
    EXPECT_TRUE(view->UnresolvedTypes());
    EXPECT_EQ(services.messages.size(), 1u);

    // With no placeholder used, the first save drops the companion and the second saves normally.
    Open();
    EXPECT_FALSE(view->UnresolvedTypes());
    ComPtr<ICreateTypeLib2> empty = enginetest::NewLib();
    modITypeInfoHelper::MarkUnresolvedTypesLib(empty.get());
    view->UnresolvedTypes(AsTypeLib(empty.get()).get());
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "first.tlb").string()));
    EXPECT_FALSE(view->UnresolvedTypes());
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "second.tlb").string()));
    EXPECT_EQ(ReadBytes(dir / "first.tlb"), ReadBytes(dir / "second.tlb"));
    EXPECT_EQ(services.messages.size(), 1u);
}

// SaveBackupHelpString False leaves out plain help strings where a help string DLL is set.
TEST_F(LibraryViewerTest, SavingWithoutBackupHelpStringsDropsThemWhereADllIsSet) {
    TempDir dir;
    ComPtr<ICreateTypeLib2> created = BuildAllKinds();
    ASSERT_OK(created->SetHelpStringDll(std::u16string(u"help.dll").data()));
    ASSERT_OK(created->SetDocString(std::u16string(u"Backed up").data()));
    const auto docOf = [](const std::filesystem::path& file) {
        ComPtr<ITypeLib> lib;
        EXPECT_OK(LoadTypeLib(ole::FromUtf8(file.string()).c_str(), lib.put()));
        BSTR doc = nullptr;
        EXPECT_OK(lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr));
        std::string text = doc ? ole::ToUtf8(std::u16string(doc)) : std::string();
        ole::SysFreeString(doc);
        return text;
    };
    view->CurrentITypeLib(AsTypeLib(created.get()).get());
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "kept.tlb").string()));
    view->SaveBackupHelpString(false);
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "dropped.tlb").string()));
    EXPECT_EQ(docOf(dir / "kept.tlb"), "Backed up");
    EXPECT_EQ(docOf(dir / "dropped.tlb"), "");
}

// Minimising hides the view spontaneously and leaves it as it was; a plain hide clears it.
TEST_F(LibraryViewerTest, MinimiseKeepsTheViewAndHidingClearsIt) {
    Open();
    view->show();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    view->showMinimized();
    QCoreApplication::processEvents();
    view->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(Selected(), widget);
    EXPECT_EQ(view->ShownNode(), widget);
    view->hide();
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(view->ShownNode(), nullptr);
}


// Double-click goes to the referenced type; F2 renames; Ctrl+C and Ctrl+V copy a
// member; a collapse over the current item makes the collapsed node current.
TEST_F(LibraryViewerTest, TreeGesturesRenameCopyPasteAndNavigate) {
    Open();
    view->show();
    QTreeWidget* tree = view->Tree();
    tree->setFocus();
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    tree->setCurrentItem(derived);
    emit tree->itemDoubleClicked(derived, 0);
    EXPECT_EQ(Selected(), Child(Root(), "IBase"));
    emit tree->itemDoubleClicked(Selected(), 0);  // its base lies in another library
    EXPECT_EQ(Selected(), Child(Root(), "IBase"));

    // F2 renames through the library.
    const auto rename = [&](QTreeWidgetItem* node, const char* text) {
        QCoreApplication::processEvents();  // the re-sort after an earlier rename
        tree->setCurrentItem(node);
        QTest::keyClick(tree, Qt::Key_F2);
        QLineEdit* editor = treetest::LabelEditor(tree);
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();  // the editor commits in a queued call
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    rename(Child(Root(), "Widget"), "Gadget");
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_TRUE(Child(Root(), "Gadget"));
    rename(Child(Root(), "Gadget"), "");  // an empty name is refused, saying why: the label comes back
    EXPECT_TRUE(Child(Root(), "Gadget"));
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_EQ(services.beeps, 0);
    EXPECT_EQ(services.messages,
              std::vector<QString>{dialogs::ResText(177).replace(QStringLiteral("|1"), QStringLiteral("Gadget"))});
    services.messages.clear();

    // Copy a member, paste it into another interface; a type can't be copied.
    EnsureChildren(derived);
    tree->setCurrentItem(Child(derived, "Go"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(view->CopiedMember(), Child(derived, "Go"));
    tree->setCurrentItem(Child(Root(), "Either"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);  // both: nothing
    EXPECT_EQ(services.beeps, 0);
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(services.beeps, 1);
    QTreeWidgetItem* base = Child(Root(), "IBase");
    tree->setCurrentItem(base);
    QTest::keyClick(tree, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_TRUE(Child(base, "Go"));
    EXPECT_EQ(Selected(), Child(base, "Go"));
    EXPECT_EQ(MemberTarget(Lib(), u"IBase", u"Go").MemberName, u"Go");

    // After its member went, a paste is refused, saying why, and forgets it.
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), MemberTarget(Lib(), u"IDerived", u"Go"), 0));
    EXPECT_EQ(view->CopiedMember(), nullptr);
    tree->setCurrentItem(base);
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(180)});
    services.messages.clear();

    // Collapsing a type whose member is current shows the type.
    base->setExpanded(true);
    tree->setCurrentItem(Child(base, "Alpha"));
    base->setExpanded(false);
    EXPECT_EQ(Selected(), base);
    EXPECT_EQ(view->ShownNode(), base);
    EXPECT_TRUE(services.messages.empty());
}

}  // namespace
}  // namespace treetest

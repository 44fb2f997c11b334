// The library editor view put under strain: applies that fail halfway,
// libraries that are damaged or built oddly, a large library, and a person's
// session with the keyboard and the mouse.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "../../../bench/LargeLibrary.h"
#include "changes/ChangesTestSupport.h"
#include "changes/hub/ChangeListener.h"
#include "changes/hub/SelectiveChangeListener.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "foundation/ErrorRecord.h"
#include "platform/tlbengine/TypeLibData.h"
#include "support/ErrorCapture.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace treetest {
namespace {

using changestest::MemberTarget;
using changestest::TypeTarget;
using Field = editor::LibraryViewer::Field;

// Counts the dialogs the view asks for, and cancels them.
class CountingDialogs : public editor::ViewerDialogs {
public:
    int guidAsked = 0;
    bool ChangeGuid(QWidget*, ole::GUID&) override {
        ++guidAsked;
        return false;
    }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return {};
    }
};

// Another listener of the hub (a history window, say) that fails on the
// notices of an edit, after the library has taken it.
class FailingListener final : public SelectiveChangeListener {
public:
    void OnLibraryChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { RaiseError(E_OUTOFMEMORY); }
    void OnTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { RaiseError(E_OUTOFMEMORY); }
    void OnRenameChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { RaiseError(E_OUTOFMEMORY); }
    void OnBeforeTypeChange(ChangeTarget&, IChange&, bool&, ListenerTag) override {}
    void OnReorderTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnCustDataChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnHelpChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
};

class LibraryViewerEdits : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    LibraryViewerEdits() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        view->SetDialogs(&dialogs);
    }
    ~LibraryViewerEdits() override {
        ole::testing::ClearInjectedFailures();
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void Open() { view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get()); }
    void ShowSized() {
        view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 32);
        view->show();
        QCoreApplication::processEvents();
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Selected() { return view->Tree()->currentItem(); }
    QListWidget* Options() { return static_cast<QListWidget*>(view->DetailsField(Field::Options)); }
    QListWidgetItem* Option(const char* name) { return Options()->findItems(name, Qt::MatchExactly).value(0); }
    bool Apply(IChange& change, ChangeTarget target, int32_t level) {
        return change.Apply(*view->CurrentCustomTypeLib(), nullptr, target, hub.get(), level);
    }
    // Someone else renames a type at the hub, at level 0: its node follows
    // only when no mark the view set before its own apply is left at the hub.
    bool HubRenameReachesTree(const char* type, const char16_t* to) {
        QTreeWidgetItem* node = Child(Root(), type);
        auto rename = modRenameChange::NewRenameChange(false);
        rename->NewName(to);
        EXPECT_TRUE(Apply(*rename, TypeTarget(Lib(), QString::fromUtf8(type).toStdU16String().c_str()), 0));
        return node && node->text(0) == QString::fromStdU16String(to);
    }
    // Opens the tree's label editor on the current node.
    QLineEdit* StartLabelEdit() {
        QTest::keyClick(view->Tree(), Qt::Key_F2);
        return treetest::LabelEditor(view->Tree());
    }

    CountingServices services;
    dialogs::ScopedUiServices scoped;
    CountingDialogs dialogs;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
};

// A change made elsewhere (a history window's step, another holder of the
// hub) refills the pane while an edit is pending: the fill replaces the edit
// record, and the view leaves edit mode with it (the tree enabled again,
// Update and Cancel disabled).
TEST_F(LibraryViewerEdits, ARefillFromTheHubWhileEditingLeavesEditMode) {
    Open();
    QSignalSpy editMode(view.get(), &editor::LibraryViewer::OnSetEditMode);
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    Option("hidden")->setCheckState(Qt::Checked);
    ASSERT_TRUE(view->InEditMode());
    hub->RefreshCurrentSelection(0);
    EXPECT_EQ(Option("hidden")->checkState(), Qt::Unchecked);  // the pane shows the library again
    EXPECT_FALSE(view->InEditMode());
    EXPECT_TRUE(view->Tree()->isEnabled());
    EXPECT_FALSE(view->DetailsField(Field::Update)->isEnabled());
    EXPECT_FALSE(view->DetailsField(Field::Cancel)->isEnabled());
    EXPECT_EQ(editMode.size(), 2);

    // The same when the hub selects another node at level 2.
    Option("hidden")->setCheckState(Qt::Checked);
    ChangeTarget base = TypeTarget(Lib(), u"IBase");
    hub->SelectTarget(base, 0);
    EXPECT_EQ(Selected(), Child(Root(), "IBase"));
    EXPECT_FALSE(view->InEditMode());
    EXPECT_TRUE(view->Tree()->isEnabled());
}

// A label edit still open when the hub moves the selection (a history step at
// level 2 while the editor waits) ends unapplied: the node keeps the name the
// library holds, never the typed text.
TEST_F(LibraryViewerEdits, ALabelEditCutShortByTheHubLeavesTheTreeTrue) {
    Open();
    ShowSized();
    view->Tree()->setFocus();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    QLineEdit* editor = StartLabelEdit();
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClicks(editor, "Gadget");
    ChangeTarget base = TypeTarget(Lib(), u"IBase");
    hub->SelectTarget(base, 0);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(Selected(), Child(Root(), "IBase"));
    const bool renamed = static_cast<bool>(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_EQ(Utf8(widget->text(0)), renamed ? "Gadget" : "Widget");
    for (int i = 0; i < Root()->childCount(); ++i)
        EXPECT_TRUE(changestest::TypeNamed(Lib(), Root()->child(i)->text(0).toStdU16String().c_str()))
            << Utf8(Root()->child(i)->text(0));
}

// Enter in a field presses Update, the attribute list and the alignment list
// included, and beeps when there is nothing to update.
TEST_F(LibraryViewerEdits, EnterInTheAttributeListOrTheAlignmentPressesUpdate) {
    Open();
    ShowSized();
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    QListWidget* options = Options();
    options->setFocus();
    options->setCurrentRow(options->row(Option("hidden")));
    QTest::keyClick(options, Qt::Key_Space);
    ASSERT_TRUE(view->InEditMode());
    QTest::keyClick(options, Qt::Key_Return);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(Option("hidden")->checkState(), Qt::Checked);

    view->Tree()->setCurrentItem(Child(Root(), "Matrix"));
    auto* align = static_cast<QComboBox*>(view->DetailsField(Field::Align));
    align->setFocus();
    QTest::keyClick(align, Qt::Key_Up);
    ASSERT_TRUE(view->InEditMode());
    QTest::keyClick(align, Qt::Key_Return);
    EXPECT_FALSE(view->InEditMode());
    // Nothing to update: Enter beeps.
    QTest::keyClick(options, Qt::Key_Return);
    EXPECT_EQ(services.beeps, 1);
}

// Double-clicking the GUID clicks the button beside it, as double-clicking
// the type field does for its button.
TEST_F(LibraryViewerEdits, DoubleClickingTheGuidOpensTheGuidDialog) {
    Open();
    ShowSized();
    QTest::mouseDClick(view->DetailsField(Field::Guid), Qt::LeftButton);
    EXPECT_EQ(dialogs.guidAsked, 1);
}

// Tab runs as the controls stand on the screen: from the tree to the page
// strip and the first field, and from the last field to Update, then Cancel.
TEST_F(LibraryViewerEdits, TabFromTheLastFieldReachesUpdate) {
    Open();
    ShowSized();
    view->activateWindow();
    view->Tree()->setFocus();
    // The splitter's handle, then the page tabs, as on the screen.
    QTest::keyClick(view->Tree(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->findChild<QTabBar*>());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->DetailsField(Field::Guid));
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    lcid->setFocus();
    lcid->selectAll();
    QTest::keyClicks(lcid, "1031");
    ASSERT_TRUE(view->DetailsField(Field::Update)->isEnabled());
    QTest::keyClick(lcid, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->DetailsField(Field::Update))
        << QApplication::focusWidget()->accessibleName().toStdString();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->DetailsField(Field::Cancel))
        << QApplication::focusWidget()->accessibleName().toStdString();
}

// Rebuilding the member nodes of one type (reset IDs, member order, flatten)
// takes them away in one removal: on the large library with everything
// expanded, resetting the IDs of its 2,000-method interface costs about what
// it costs with the tree collapsed (removed one at a time, each removal
// walked every expanded row: fifteen to fifty times as long).
TEST_F(LibraryViewerEdits, RebuildingATypesMembersCostsNoMoreWithTheTreeExpanded) {
    TempDir dir;
    const auto file = dir / "large.tlb";
    benchlib::BuildLarge(file.u16string(), 1500, 12, 2000);
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLib(file.u16string().c_str(), loaded.put()));
    ShowSized();
    view->CurrentITypeLib(loaded.get());
    QTreeWidgetItem* huge = Child(Root(), "IHuge");
    huge->setExpanded(true);
    view->Tree()->setCurrentItem(huge);
    const auto timedReset = [&] {
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(Apply(*modResetIDsChange::GetResetAllIDsChange(), TypeTarget(Lib(), u"IHuge"), 2));
        QCoreApplication::processEvents();
        return timer.elapsed();
    };
    const qint64 collapsed = timedReset();
    view->Tree()->setCurrentItem(Root());
    QTest::keyClick(view->Tree(), Qt::Key_Asterisk, Qt::KeypadModifier);
    view->Tree()->setCurrentItem(huge);
    const qint64 expanded = timedReset();
    EXPECT_LT(expanded, 4 * collapsed + 100) << collapsed << " ms collapsed, " << expanded << " ms expanded";
}

// A library the regeneration refuses when the view opens it: the error says
// where ("Type 'Self'"), what is wrong and its code.
TEST_F(LibraryViewerEdits, ALibraryRefusedOnOpeningSaysWhatIsWrong) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Crafted");
    ComPtr<ICreateTypeInfo2> self = NewType(lib.get(), u"Self", TKIND_ALIAS);
    TYPEDESC itself = User(RefTo(self.get(), self.get()));
    (void)self->SetTypeDescAlias(&itself);
    (void)self->LayOut();
    Open();
    QTreeWidgetItem* shown = Root();
    try {
        view->CurrentITypeLib(AsTypeLib(lib.get()).get());
        FAIL() << "opened";
    } catch (const ErrorRecord& e) {
        const std::u16string text = ErrorReportText(e);
        // A circular type (0x80029C84): its meaning, or at least its code.
        const std::u16string_view meaning = ErrorNumberText(e.Number);
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.Number));
        const bool says = (!meaning.empty() && text.find(meaning) != std::u16string::npos) ||
                          text.find(ole::FromUtf8(code)) != std::u16string::npos;
        EXPECT_TRUE(says) << ole::ToUtf8(text);
    }
    // The refused library leaves the view as it was: the library it showed stays.
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(Root(), shown);
    EXPECT_TRUE(view->CurrentCustomTypeLib());
    EXPECT_FALSE(view->UnresolvedTypes());
}

// A member copied, then its type's member IDs reset (which builds its member
// nodes anew): the paste pastes the copied member still, as it does after the
// types were reordered or one was deleted.
TEST_F(LibraryViewerEdits, APasteAfterAnIdResetOfTheCopiedMembersTypePastesIt) {
    Open();
    ShowSized();
    QTreeWidget* tree = view->Tree();
    tree->setFocus();
    QTreeWidgetItem* base = Child(Root(), "IBase");
    EnsureChildren(base);
    tree->setCurrentItem(Child(base, "Zeta"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(Apply(*modResetIDsChange::GetResetAllIDsChange(), TypeTarget(Lib(), u"IBase"), 0));
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    tree->setCurrentItem(derived);
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EnsureChildren(derived);
    EXPECT_EQ(services.beeps, 0);
    EXPECT_TRUE(Child(derived, "Zeta1")) << ChildTexts(derived);  // IBase, its base, holds a Zeta
}

// A failed Update shows message 933 followed by why, also for a platform
// failure, which carries no description of its own.
TEST_F(LibraryViewerEdits, AFailedUpdateSaysWhy) {
    Open();
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    Option("hidden")->setCheckState(Qt::Checked);
    ole::testing::FailNextCall("SetTypeFlags", E_ACCESSDENIED);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    const QString shown = services.messages[0];
    ASSERT_TRUE(shown.startsWith(dialogs::ResText(933)));
    EXPECT_FALSE(shown.mid(dialogs::ResText(933).size()).trimmed().isEmpty()) << shown.toStdString();
}

// Another listener fails after the library took a rename made with F2: the
// library holds the new name, and so does the node.
TEST_F(LibraryViewerEdits, ARenameAnotherListenerFailsOnKeepsTheTreeTrue) {
    Open();
    ShowSized();
    FailingListener other;
    SMNode registration;
    hub->AddListenerNode(registration, other);
    view->Tree()->setFocus();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    QLineEdit* editor = StartLabelEdit();
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClicks(editor, "Gadget");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(changestest::TypeNamed(Lib(), u"Gadget"));
    EXPECT_EQ(Utf8(widget->text(0)), "Gadget");
    // The error is told as it is, not as a refused name.
    EXPECT_EQ(services.beeps, 0);
    EXPECT_EQ(services.messages.size(), 1u);
}

// Another listener fails after the library took a type edit: the edit stands
// (the library and the refilled pane show it), and the error is reported as a
// plain one, not as 933 "Update failed, restoring original values."
TEST_F(LibraryViewerEdits, AnUpdateThatStandsIsNotReportedAsRestored) {
    Open();
    FailingListener other;
    SMNode registration;
    hub->AddListenerNode(registration, other);
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    Option("hidden")->setCheckState(Qt::Checked);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    ASSERT_EQ(Option("hidden")->checkState(), Qt::Checked);  // it stands
    EXPECT_FALSE(services.messages[0].startsWith(dialogs::ResText(933))) << services.messages[0].toStdString();
    EXPECT_FALSE(view->InEditMode());

    // The same on the library pane.
    view->Tree()->setCurrentItem(Root());
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    lcid->selectAll();
    QTest::keyClicks(lcid, "1031");
    QTest::keyClick(lcid, Qt::Key_Return);
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_FALSE(services.messages[1].startsWith(dialogs::ResText(933))) << services.messages[1].toStdString();
    EXPECT_EQ(lcid->text().toStdString(), "&H407");
    EXPECT_FALSE(view->InEditMode());
}

// Someone else deletes one accessor of a property at level 0 (a history run)
// while another node is selected: the property's node stays and its last
// parameter becomes "<New Value>"; the selection and the pane stay on the
// other node (the pane never shows an item the tree does not select).
TEST_F(LibraryViewerEdits, DeletingAnAccessorOfAnUnselectedPropertyLeavesThePaneAlone) {
    Open();
    QTreeWidgetItem* shape = Child(Root(), "IShape");
    EnsureChildren(shape);
    QTreeWidgetItem* name = Child(shape, "Name");
    ASSERT_TRUE(name);
    EnsureChildren(name);
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), MemberTarget(Lib(), u"IShape", u"Name", INVOKE_PROPERTYGET), 0));
    EXPECT_EQ(Utf8(name->child(name->childCount() - 1)->text(0)), Utf8(dialogs::ResText(760)));
    EXPECT_EQ(Selected(), widget);
    EXPECT_EQ(view->ShownNode(), widget);
    EXPECT_EQ(view->EditKind(), TKIND_COCLASS * 256 + 258);
}

// The member IDs of a type are reset (or its members reordered) by someone
// else while a parameter of one of its members is selected: the member nodes
// are built anew, and the type takes the selection and the pane, as it does
// when a member is selected.
TEST_F(LibraryViewerEdits, ResettingIdsWithAParameterSelectedSelectsTheType) {
    Open();
    ShowSized();
    QTreeWidgetItem* base = Child(Root(), "IBase");
    for (int level : {0, 1}) {
        EnsureChildren(base);
        QTreeWidgetItem* item = Child(base, "Item");
        EnsureChildren(item);
        view->Tree()->setCurrentItem(Child(item, "b"));
        ASSERT_EQ(view->ShownNode(), Child(item, "b"));
        ASSERT_TRUE(Apply(*modResetIDsChange::GetResetAllIDsChange(), TypeTarget(Lib(), u"IBase"), level));
        EXPECT_EQ(Selected(), base) << level;
        EXPECT_EQ(view->ShownNode(), base) << level;
        EXPECT_EQ(view->findChild<QTabBar*>()->tabText(0).toStdString(), "Interface Type") << level;
    }
}

// A type edit whose apply fails halfway: message 933 once, the library and
// the tree as before, the pane refilled, no mark left at the hub; then the
// same edit succeeds.
TEST_F(LibraryViewerEdits, AFailedTypeUpdateLeavesEverythingAsItWas) {
    Open();
    ShowSized();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    const std::string before = changestest::Dump(Lib());
    const std::string fields = Fields(TypeRecord(widget));
    Option("hidden")->setCheckState(Qt::Checked);
    ole::testing::FailNextCall("SetTypeFlags", E_ACCESSDENIED);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].startsWith(dialogs::ResText(933)));
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(Option("hidden")->checkState(), Qt::Unchecked);
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(Selected(), widget);
    EXPECT_EQ(Fields(TypeRecord(widget)), fields);
    EXPECT_TRUE(view->Tree()->hasFocus());
    EXPECT_TRUE(HubRenameReachesTree("Either", u"Either2"));
    Option("hidden")->setCheckState(Qt::Checked);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_NE(changestest::Dump(Lib()), before);
    EXPECT_EQ(Option("hidden")->checkState(), Qt::Checked);

    // Clearing "dual" regenerates the library; failing inside leaves the library the view holds.
    QTreeWidgetItem* shape = Child(Root(), "IShape");
    view->Tree()->setCurrentItem(shape);
    ITypeLib* held = Lib();
    const std::string dual = changestest::Dump(Lib());
    Option("dual")->setCheckState(Qt::Unchecked);
    ole::testing::FailNextCall("ICreateTypeInfo2::SetTypeFlags", E_OUTOFMEMORY, 3);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(Lib(), held);
    EXPECT_EQ(changestest::Dump(Lib()), dual);
    EXPECT_EQ(Option("dual")->checkState(), Qt::Checked);
    Option("dual")->setCheckState(Qt::Unchecked);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_EQ(services.messages.size(), 2u);
    EXPECT_NE(Lib(), held);
    for (int i = 0; i < Root()->childCount(); ++i) {
        EXPECT_EQ(TypeRecord(Root()->child(i))->Library->Library.get(), Lib());
        view->Tree()->setCurrentItem(Root()->child(i));
    }
    EXPECT_EQ(services.messages.size(), 2u);
}

// The library pane, a label edit and a paste failing halfway.
TEST_F(LibraryViewerEdits, FailedLibraryEditsRenamesAndPastesLeaveNoTrace) {
    Open();
    ShowSized();
    std::string before = changestest::Dump(Lib());
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(Field::Lcid));
    lcid->selectAll();
    QTest::keyClicks(lcid, "1031");
    ole::testing::FailNextCall("SetLcid", E_ACCESSDENIED);
    QTest::keyClick(lcid, Qt::Key_Return);
    EXPECT_EQ(services.messages.size(), 1u);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(lcid->text().toStdString(), "&H409");
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_FALSE(hub->SkipsOnce(view->HubNode()));
    EXPECT_TRUE(HubRenameReachesTree("Either", u"Either2"));

    QTreeWidget* tree = view->Tree();
    tree->setFocus();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    tree->setCurrentItem(widget);
    before = changestest::Dump(Lib());
    QLineEdit* editor = StartLabelEdit();
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClicks(editor, "Gadget");
    ole::testing::FailNextCall("ICreateTypeInfo2::SetName", E_ACCESSDENIED);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Utf8(widget->text(0)), "Widget");
    EXPECT_EQ(services.beeps, 0);
    ASSERT_FALSE(services.messages.empty());
    EXPECT_TRUE(services.messages.back().startsWith(QStringLiteral("'Widget' keeps its name: it can't be renamed 'Gadget'. ")))
        << Utf8(services.messages.back());
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_TRUE(HubRenameReachesTree("Either2", u"Either3"));

    QTreeWidgetItem* base = Child(Root(), "IBase");
    EnsureChildren(base);
    tree->setCurrentItem(Child(base, "Item"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    EnsureChildren(derived);
    const std::string children = ChildTexts(derived);
    tree->setCurrentItem(derived);
    before = changestest::Dump(Lib());
    ole::testing::FailNextCall("SetFuncAndParamNames", E_OUTOFMEMORY);
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(services.messages.size(), 3u);
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(ChildTexts(derived), children);
    EXPECT_EQ(Selected(), derived);
    EXPECT_EQ(view->ShownNode(), derived);
    EXPECT_TRUE(HubRenameReachesTree("Either3", u"Either4"));
    QTest::keyClick(tree, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(Child(derived, "Item1"));  // the base holds an Item already
    // The clipboard is the user's.
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(tree, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "kept");
}

// Opening a library whose regeneration fails after it made the companion
// library leaves the view as it was, showing the library it showed, without
// the companion and without a message.
TEST_F(LibraryViewerEdits, AnOpeningThatFailsLateKeepsTheLibraryShown) {
    ComPtr<ITypeLib> dangling;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb")
                                            .string()).c_str(),
                          dangling.put()));
    Open();
    QTreeWidgetItem* shown = Root();
    ole::testing::FailNextCall("SetHelpFileName", E_OUTOFMEMORY, 1);
    EXPECT_THROW(view->CurrentITypeLib(dangling.get()), ErrorRecord);
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(Root(), shown);
    EXPECT_FALSE(view->UnresolvedTypes());
    EXPECT_TRUE(services.messages.empty());
}

// Attaching, minimising and hiding while an edit is pending.
TEST_F(LibraryViewerEdits, AttachMinimiseAndHideWhileEditing) {
    Open();
    ShowSized();
    QSignalSpy editMode(view.get(), &editor::LibraryViewer::OnSetEditMode);
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    Option("hidden")->setCheckState(Qt::Checked);
    view->showMinimized();
    QCoreApplication::processEvents();
    view->showNormal();
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->InEditMode());
    EXPECT_EQ(Option("hidden")->checkState(), Qt::Checked);
    Open();
    EXPECT_FALSE(view->InEditMode());
    EXPECT_TRUE(view->Tree()->isEnabled());
    EXPECT_EQ(Selected(), Root());
    EXPECT_EQ(view->EditKind(), 1);
    EXPECT_EQ(editMode.size(), 2);
    view->Tree()->setCurrentItem(Child(Root(), "Widget"));
    Option("hidden")->setCheckState(Qt::Checked);
    view->hide();
    EXPECT_FALSE(view->InEditMode());
    EXPECT_TRUE(view->Tree()->isEnabled());
    EXPECT_EQ(editMode.size(), 4);
}

// A label edit whose node the hub deletes meanwhile renames nothing.
TEST_F(LibraryViewerEdits, ALabelEditWhoseNodeGoesRenamesNothing) {
    Open();
    ShowSized();
    view->Tree()->setFocus();
    view->Tree()->setCurrentItem(Child(Root(), "Either"));
    QLineEdit* editor = StartLabelEdit();
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClicks(editor, "Gadget");
    ASSERT_TRUE(Apply(*modDeleteChange::GetDeleteChange(), TypeTarget(Lib(), u"Either"), 0));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(Child(Root(), "Either"));
    EXPECT_FALSE(Child(Root(), "Gadget"));
    EXPECT_EQ(view->ShownNode(), Selected());
    for (int i = 0; i < Root()->childCount(); ++i)
        EXPECT_TRUE(changestest::TypeNamed(Lib(), Root()->child(i)->text(0).toStdU16String().c_str()));
}

// Damaged files (bytes overwritten) that the loader still takes open in the
// view, or fail with an error that leaves the view as it was (or empty, when
// the new library's tree failed); none crashes.
TEST_F(LibraryViewerEdits, DamagedLibrariesOpenOrFailCleanly) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (const char* sub : {"golden", "forms", "golden-model"})
        for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / sub))
            if (e.path().extension() == ".tlb") files.push_back(e.path());
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    int loaded = 0;
    for (const auto& file : files) {
        const std::vector<std::byte> original = testsupport::ReadBytes(file);
        for (int variant = 0; variant < 20; ++variant) {
            std::vector<std::byte> bytes = original;
            for (int f = 1 + static_cast<int>(next() % 4); f > 0; --f)
                bytes[(next() >> 8) % bytes.size()] = static_cast<std::byte>(next() >> 16);
            const auto path = dir / (std::to_string(variant) + file.filename().string());
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            ComPtr<ITypeLib> lib;
            if (FAILED(LoadTypeLib(ole::FromUtf8(path.string()).c_str(), lib.put()))) continue;
            ++loaded;
            QTreeWidgetItem* shown = Root();
            const ComPtr<ITypeLib> shownUnresolved = view->UnresolvedTypes();
            try {
                view->CurrentITypeLib(lib.get());
            } catch (const ErrorRecord&) {
                // The library shown before stays, or (when the tree of the
                // new one failed) the view is empty.
                EXPECT_TRUE(Root() == shown || view->Tree()->topLevelItemCount() == 0);
                EXPECT_EQ(view->UnresolvedTypes().get(), Root() ? shownUnresolved.get() : nullptr);
                continue;
            }
            ASSERT_TRUE(Root());
            try {
                BuildAll(Root());
            } catch (const ErrorRecord&) {
                // A level that can't be read stays unbuilt.
            }
            for (QTreeWidgetItemIterator it(view->Tree()); *it; ++it) {
                view->Tree()->setCurrentItem(*it);
                emit view->Tree()->itemDoubleClicked(*it, 0);
            }
        }
    }
    EXPECT_GT(loaded, 0);
}

// The tree taking the focus shows its selected node when the pane shows
// another (the tree made it current without telling); when the pane shows it
// already, nothing is filled again, so a pending check stays.
TEST_F(LibraryViewerEdits, TheTreeTakingTheFocusShowsItsSelectedNode) {
    Open();
    ShowSized();
    view->activateWindow();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->blockSignals(true);
    view->Tree()->setCurrentItem(widget);
    view->Tree()->blockSignals(false);
    ASSERT_EQ(view->ShownNode(), Root());
    Options()->setFocus();
    view->Tree()->setFocus();
    EXPECT_EQ(view->ShownNode(), widget);
    EXPECT_EQ(view->EditKind(), TKIND_COCLASS * 256 + 258);
    QSignalSpy editMode(view.get(), &editor::LibraryViewer::OnSetEditMode);
    Options()->setFocus();
    view->Tree()->setFocus();
    EXPECT_EQ(view->ShownNode(), widget);
    EXPECT_TRUE(editMode.isEmpty());
}

// The host's forms of the library and of the referenced libraries, as
// TypeLibInfo: CurrentLibrary opens one and gives the finished library back, the
// referenced libraries come and go by it; the command filter is off until a
// host gives one, and is kept as given.
TEST_F(LibraryViewerEdits, TheLibraryAndItsReferencesAsTypeLibInfo) {
    const ComPtr<tli::TypeLibInfo> info = typelib_detail::TliTypeLibInfo(AsTypeLib(BuildAllKinds().get()).get());
    EXPECT_EQ(testsupport::ErrorOf([&] { view->CurrentLibrary(); }), 91);
    EXPECT_EQ(testsupport::ErrorOf([&] { view->AddReferencedLibrary(info.get()); }), 91);
    view->CurrentLibrary(info.get());
    ASSERT_TRUE(Root());
    EXPECT_TRUE(Child(Root(), "Widget"));
    const ComPtr<tli::TypeLibInfo> back = view->CurrentLibrary();
    ASSERT_TRUE(back);
    ComPtr<ITypeLib> backLib;
    ASSERT_OK(back->get_ITypeLib(backLib.put()));
    EXPECT_EQ(changestest::Dump(backLib.get()), changestest::Dump(Lib()));
    view->AddReferencedLibrary(info.get());
    view->AddReferencedLibrary(info.get());
    EXPECT_EQ(view->ReferencedLibraryCount(), 1u);
    view->RemoveReferencedLibrary(back.get());
    EXPECT_EQ(view->ReferencedLibraryCount(), 1u);
    view->RemoveReferencedLibrary(nullptr);
    view->RemoveReferencedLibrary(info.get());
    EXPECT_EQ(view->ReferencedLibraryCount(), 0u);
    EXPECT_EQ(testsupport::ErrorOf([&] { view->AddReferencedLibrary(nullptr); }), 91);
    view->CurrentLibrary(nullptr);
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 0);

    EXPECT_FALSE(view->CommandFilter().Enabled());
    editor::CommandFilterRecord filter;
    filter.FilterOn = -1;  // True
    filter.LibraryCommands = 0x7F;
    view->CommandFilter(filter);
    EXPECT_TRUE(view->CommandFilter().Enabled());
    EXPECT_EQ(view->CommandFilter().LibraryCommands, 0x7F);
    filter.FilterOn = 0x10000;  // the high half is not the switch
    view->CommandFilter(filter);
    EXPECT_FALSE(view->CommandFilter().Enabled());
}

}  // namespace
}  // namespace treetest

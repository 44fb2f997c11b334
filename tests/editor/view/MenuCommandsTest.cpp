// The context menu's commands, run on the node the user selected as the menu
// runs them, on a real library: each edit is checked in the tree and the
// library, recorded by a history engine on the view's hub, saved, and the
// history run by the program in batch mode on a fresh copy of the starting
// file must write the same file. Then the paired delete of a host's filter,
// and the warnings of commands that fail.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <functional>
#include <tuple>

#include "changes/ChangesTestSupport.h"
#include "changes/RedirectionLibraries.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/TypeChange.h"
#include "dialogs/OrderDialog.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/pickers/frmCustData.h"
#include "editor/pickers/frmExternalTypes.h"
#include "support/FileContents.h"
#include "support/ReferenceDump.h"
#include "support/TempDir.h"
#include "tools/DumpTypeLib.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using editor::MenuItem;

constexpr ole::GUID kMenuData = {0x3E4D0C01, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// A type of holder, as the view describes it for its library current.
ComPtr<CustomVarTypeInfo> Described(ITypeLib* current, ITypeLib* holder, const char16_t* name) {
    ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    type->CurrentITypeLib(current);
    type->SetType(0, typelib_detail::TliTypeInfo(changestest::TypeNamed(holder, name).get()).get());
    return type;
}

std::vector<int16_t> Reversed(size_t count) {
    std::vector<int16_t> order;
    for (size_t i = count; i > 0; --i) order.push_back(static_cast<int16_t>(i - 1));
    return order;
}

ComPtr<ITypeInfo> TypeAt(const ChangeTarget& target) {
    return modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<UINT>(target.TypeIndex));
}

// The dialogs, answered as the user would: the next GUID; next for every type
// picker; the reversed order in the order dialogs; a custom-data item, with
// the hexadecimal display chosen. asked lists what was asked.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    using Picked = editor::SpecifiedType;
    using Libs = dialogs::LibraryCollection;
    ComPtr<CustomVarTypeInfo> next;
    int32_t paramFlags = -1;  // the parameter flags chosen with next, -1 for those the dialog was given
    std::vector<std::string> asked;
    uint32_t guids = 0;
    bool ChangeGuid(QWidget*, ole::GUID& guid) override {
        guid = {0x3E4D0A00 + ++guids, 0x19, 0x77, {1, 2, 3, 4, 5, 6, 7, 8}};
        return true;
    }
    Picked SpecifyType(QWidget*, int32_t usage, int32_t, ITypeLib*, Libs&, tli::VarTypeInfo*) override {
        return Answer("type " + std::to_string(usage));
    }
    Picked SpecifyParamType(QWidget*, int32_t usage, int32_t, int32_t, ITypeLib*, Libs&, tli::VarTypeInfo*,
                            int32_t& flags, bool) override {
        if (next && paramFlags >= 0) flags = paramFlags;
        return Answer("parameter type " + std::to_string(usage));
    }
    Picked ImportType(QWidget*, ITypeLib*, Libs&) override { return Answer("import type"); }
    Picked ImportLibrary(QWidget*, ITypeLib*, Libs&) override { return Answer("import library"); }
    Picked RedirectType(QWidget*, ITypeLib*, Libs&, tli::VarTypeInfo*) override { return Answer("redirect type"); }
    Picked RedirectLibrary(QWidget*, ITypeLib*, Libs&, tli::VarTypeInfo*) override { return Answer("redirect library"); }
    std::shared_ptr<ReorderVTableChange> VTableOrder(ChangeTarget& target, QWidget*) override {
        asked.push_back("vtable");
        std::vector<int16_t> offsets;
        const ComPtr<ITypeInfo> info = TypeAt(target);
        for (UINT i = 0; i < typelib_detail::TypeAttr(info.get())->cFuncs; ++i)
            offsets.insert(offsets.begin(), typelib_detail::FuncDescHolder(info.get(), i)->oVft);
        auto order = modReorderVTableChange::NewReorderVTableChange(false);
        order->Offsets(offsets);
        order->SynchronizeFuncDescs(true);
        return order;
    }
    std::shared_ptr<ReorderVarsChange> VarOrder(ChangeTarget& target, QWidget*) override {
        asked.push_back("vars");
        auto order = modReorderVarsChange::NewReorderVarsChange(false);
        order->NewOrder(Reversed(typelib_detail::TypeAttr(TypeAt(target).get())->cVars));
        return order;
    }
    std::shared_ptr<ReorderTypesChange> TypeOrder(ChangeTarget& target, QWidget*) override {
        asked.push_back("types");
        auto order = modReorderTypesChange::NewReorderTypesChange(false);
        order->NewOrder(Reversed(target.Library->GetTypeInfoCount()));
        return order;
    }
    std::shared_ptr<CustDataChange> CustData(ChangeTarget& target, QWidget*, int32_t, bool& hex) override {
        asked.push_back("custom data");
        auto change = modCustDataChange::NewCustDataChange(false);
        change->InitFromTarget(target);
        change->SetItem(kMenuData, ole::Variant(u"menu"));
        hex = true;
        return change;
    }

private:
    Picked Answer(std::string what) {
        asked.push_back(std::move(what));
        return {next != nullptr, next};
    }
};

class MenuCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    MenuCommands() : scoped(services) {
        ShowViewer(view, hub, &dialogs, 40);
    }

    // Opens the file for editing, recording what is done to it.
    void Open(const fs::path& file) {
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8(file.string()).c_str(), loaded.put()));
        view.CurrentITypeLib(loaded.get());
        history = std::make_unique<Playback>();
        history->ChangeListener(hub);
        history->CurrentITypeLib(view.CurrentLibraryITypeLib().get());
    }
    // Opens a copy of one of the test libraries in tests/data/forms.
    void OpenForm(const char* file) {
        fs::copy_file(fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / file, dir / "in.tlb");
        Open(dir / "in.tlb");
    }
    void OpenAllKinds() {
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
            ASSERT_OK(created->SaveAllChanges());
        }
        Open(dir / "in.tlb");
    }
    ITypeLib* Lib() { return view.CurrentLibraryITypeLib().get(); }
    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* Root() { return Tree()->topLevelItem(0); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr, const char* param = nullptr) {
        return NodeAt(Tree(), type, member, param);
    }
    void Select(QTreeWidgetItem* node) {
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    // The command as the menu runs it, then the events it leaves waiting.
    void Run(MenuItem item, int32_t index = 0, int32_t tag = 0) {
        view.RunMenuCommand(item, index, tag);
        QCoreApplication::processEvents();
    }
    // The open label editor of the tree, or null.
    QLineEdit* LabelEditor() { return treetest::LabelEditor(Tree()); }
    // Types name into the open label editor of the selected node, and Enter.
    void Name(const char* name) {
        QLineEdit* editor = LabelEditor();
        ASSERT_TRUE(editor) << name;
        editor->selectAll();
        QTest::keyClicks(editor, QString::fromUtf8(name));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(Utf8(Tree()->currentItem()->text(0)), name);
    }
    // Saves the history and the edited library, replays the history in batch
    // mode on in.tlb, and compares the files.
    void ExpectReplayWritesTheSameFile(const std::string& env = {}, int runs = 1) {
        ASSERT_TRUE(history->SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
        view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        for (int run = 1; run <= runs; ++run) {
            const std::string batch = "batch" + std::to_string(run) + ".tlb";
            ASSERT_EQ(RunZephrin(dir.path(), "-leh session.leh -tlb in.tlb -saveas " + batch + " -quiet", env), 0)
                << testsupport::ReadText(dir / "stderr.txt");
            EXPECT_EQ(ReadBytes(dir / batch), ReadBytes(dir / "view.tlb")) << "run " << run;
        }
    }
    // The program's reading of view.tlb, which is the platform's.
    std::string SavedAsThePlatformReadsIt() {
        std::string saved;
        EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8((dir / "view.tlb").string()), &saved));
        if (const std::optional<std::string> platform = testsupport::ReferenceDump(dir / "view.tlb")) {
            EXPECT_TRUE(tlbtools::WithCrLf(saved) == *platform);
        }
        return saved;
    }
    ComPtr<ITypeLib> LoadSaved() {
        ComPtr<ITypeLib> saved;
        EXPECT_OK(LoadTypeLib(ole::FromUtf8((dir / "view.tlb").string()).c_str(), saved.put()));
        return saved;
    }
    static std::string Names(ITypeLib* lib) {
        std::string names;
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i)
            names += (i ? " " : "") +
                     changestest::Utf8(modITypeInfoHelper::GetTypeInfoName(
                         modITypeInfoHelper::GetInterfaceTypeInfo(lib, i).get()));
        return names;
    }

    TempDir dir;
    ModalServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs;
    std::unique_ptr<Playback> history;
};

// The access bits of a member node's record.
int32_t AccessBits(QTreeWidgetItem* node) { return static_cast<MemberNodeRecord*>(NodeTag(node))->AccessBits; }

TEST_F(MenuCommands, AddingAndInsertingNameTheNewItemAndReplayInBatchMode) {
    OpenAllKinds();
    // A new interface is selected and named at once; the user gives it a GUID.
    Select(Root());
    Run(MenuItem::mnuAddTypePick, 4);
    EXPECT_EQ(NodeImage(Tree()->currentItem()), NodeImage(At("IBase")));
    Name("IAdded");
    QTest::mouseClick(view.DetailsField(Field::ChangeGuid), Qt::LeftButton);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    // A method with a required, an LCID and a return-value parameter: only
    // the required one is named.
    Run(MenuItem::mnuAddFuncPick, 1);
    Name("Run");
    Run(MenuItem::mnuInsertParamPick, 0, 0x1000);
    ASSERT_EQ(Tree()->currentItem()->parent(), At("IAdded", "Run"));
    Name("count");
    Select(At("IAdded", "Run", "count"));
    Run(MenuItem::mnuInsertParamPick, 5, 0x20000);
    EXPECT_FALSE(LabelEditor());
    ASSERT_EQ(At("IAdded", "Run")->childCount(), 2);
    Select(At("IAdded", "Run")->child(1));
    Run(MenuItem::mnuInsertParamPick, 4, 0x2000);
    EXPECT_FALSE(LabelEditor());
    EXPECT_EQ(At("IAdded", "Run")->childCount(), 3);
    EXPECT_EQ(Tree()->currentItem(), At("IAdded", "Run")->child(2));
    // A property: a get, then the let added to it; one of the two deleted
    // keeps the node, both of them remove it.
    Select(At("IAdded"));
    Run(MenuItem::mnuAddFuncPick, 2);
    Name("Size");
    Run(MenuItem::mnuAddFuncPick, 4);
    EXPECT_FALSE(LabelEditor());
    EXPECT_EQ(AccessBits(At("IAdded", "Size")) & 14, 6);
    Select(At("IAdded", "Size"));
    Run(MenuItem::mnuDeletePropPick, 2);
    ASSERT_TRUE(At("IAdded", "Size"));
    EXPECT_EQ(AccessBits(At("IAdded", "Size")) & 14, 4);
    Select(At("IAdded", "Size"));
    Run(MenuItem::mnuAddFuncPick, 2);
    Run(MenuItem::mnuDeletePropPick, 6);
    EXPECT_FALSE(At("IAdded", "Size"));
    EXPECT_EQ(Tree()->currentItem(), At("IAdded", "Run"));
    // A value of an enum; an implemented interface of a coclass, picked.
    Select(At("Colors"));
    Run(MenuItem::mnuAddVar);
    Name("Blue");
    Select(At("Widget"));
    dialogs.next = Described(Lib(), Lib(), u"IBase");
    Run(MenuItem::mnuAddImplType);
    EXPECT_EQ(dialogs.asked.back(), "type 11");
    EnsureChildren(At("Widget"));
    EXPECT_EQ(ChildTexts(At("Widget")), "IDerived DVTable IBase");
    // Under VB Implementable a dispinterface's new method returns nothing.
    view.TypeConstraint(4);
    Select(At("DVTable"));
    Run(MenuItem::mnuAddFuncPick, 1);
    Name("Fire");
    const ComPtr<ITypeInfo> events = changestest::TypeNamed(Lib(), u"DVTable");
    EXPECT_EQ(typelib_detail::FuncDescHolder(events.get(), 2)->elemdescFunc.tdesc.vt, VT_VOID);
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    EXPECT_EQ(services.beeps, 0);

    EXPECT_EQ(history->ItemCount(), 22);  // the added interface's GUID is an item of its own
    ExpectReplayWritesTheSameFile();
    const ComPtr<ITypeLib> saved = LoadSaved();
    EXPECT_TRUE(changestest::TypeNamed(saved.get(), u"IAdded"));
}

TEST_F(MenuCommands, DeletingOrderingAndTheOtherCommandsReplayInBatchMode) {
    OpenAllKinds();
    Select(At("IShape", "Sum"));
    Run(MenuItem::mnuRemoveParamArray);
    EXPECT_EQ(Tree()->currentItem(), At("IShape", "Sum"));
    Select(At("IDerived"));
    Run(MenuItem::mnuFlattenInterface);
    EXPECT_TRUE(At("IDerived", "Alpha"));
    Select(At("IBase"));
    Run(MenuItem::mnuResetIDsPick, 0);
    Select(At("Colors"));
    Run(MenuItem::mnuResetIDsPick, 1);
    Select(At("Matrix"));
    Run(MenuItem::mnuVarOrder);
    Select(At("IShape"));
    Run(MenuItem::mnuVTableOrder);
    // A method, an implemented interface and a type deleted; the selection
    // goes to the node before.
    QTreeWidgetItem* before = At("IShape", "Zoom");
    before = before->parent()->child(before->parent()->indexOfChild(before) - 1);
    Select(At("IShape", "Zoom"));
    Run(MenuItem::mnuDelete);
    EXPECT_FALSE(At("IShape", "Zoom"));
    EXPECT_EQ(Tree()->currentItem(), before);
    Select(At("Widget", "DVTable"));
    Run(MenuItem::mnuDelete);
    EXPECT_EQ(ChildTexts(At("Widget")), "IDerived");
    Select(At("Either"));
    Run(MenuItem::mnuDelete);
    EXPECT_FALSE(At("Either"));
    // Find selects the aliased interface; Rename starts the label edit.
    Select(At("BaseAlias"));
    Run(MenuItem::mnuResolved);
    EXPECT_EQ(Tree()->currentItem(), At("IBase"));
    Select(At("Kernel"));
    Run(MenuItem::mnuRename);
    Name("Runtime");
    // Custom data waits for the menu to close; the dialog's display choice stays.
    Select(At("IShape"));
    view.RunMenuCommand(MenuItem::mnuCustData);
    EXPECT_TRUE(dialogs.asked.empty() || dialogs.asked.back() != "custom data");
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.asked.back(), "custom data");
    EXPECT_EQ(view.DisplayFormat() & 64, 64);
    Select(Root());
    Run(MenuItem::mnuTypeOrder);
    EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"vars", "vtable", "custom data", "types"}));
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(services.beeps, 0);

    EXPECT_EQ(history->ItemCount(), 12);
    ExpectReplayWritesTheSameFile();
    const ComPtr<ITypeLib> saved = LoadSaved();
    // (A library file keeps one spelling of a name: Shape's is shape's, a parameter's.)
    EXPECT_EQ(Folded(Names(saved.get())), Folded("Widget BaseAlias DVTable IDerived IBase Shape LongPtrAlias "
                                                 "ShapeAlias LongPtr DShapeEvents IShape Matrix Runtime Colors"));
    auto data = modCustDataChange::NewCustDataChange(false);
    ChangeTarget shape = changestest::TypeTarget(saved.get(), u"IShape");
    data->InitFromTarget(shape);
    ASSERT_EQ(data->CurrentCustData().size(), 1u);
    EXPECT_EQ(data->CurrentCustData()[0].Guid, kMenuData);
}

TEST_F(MenuCommands, ExternalTypesAreInternalisedAndRedirectedThroughTheDialogAndTheMenu) {
    ole::RegisterFileServices();
    const ComPtr<ITypeLib> base1 = changestest::BaseLibrary(dir / "base1.tlb", 1);
    const ComPtr<ITypeLib> base2 = changestest::BaseLibrary(dir / "base2.tlb", 2);
    view.CurrentITypeLib(changestest::UserLibrary(base1.get()).get());
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "in.tlb").string()));
    Open(dir / "in.tlb");

    // The library's External Types: BasePoint's references go to LocalPoint,
    // BaseKind is taken in, and the rest of BaseLib goes to its version 2.
    Select(Root());
    int showings = 0;
    services.modal = [&](QDialog& dialog) {
        auto& d = static_cast<editor::frmExternalTypes&>(dialog);
        ++showings;
        const auto node = [&](const char* type) -> QTreeWidgetItem* {
            for (int i = 0; i < d.Tree()->topLevelItemCount(); ++i)
                if (QTreeWidgetItem* found = Child(d.Tree()->topLevelItem(i), type)) return found;
            return nullptr;
        };
        ASSERT_TRUE(node("BasePoint"));
        d.Tree()->setCurrentItem(node("BasePoint"));
        dialogs.next = Described(Lib(), Lib(), u"LocalPoint");
        d.Action("mnuRedirectExternalThisType")->trigger();
        ASSERT_FALSE(node("BasePoint"));
        d.Tree()->setCurrentItem(node("BaseKind"));
        d.Action("mnuInternalizeOneType")->trigger();
        ASSERT_FALSE(node("BaseKind"));
        d.Tree()->setCurrentItem(node("IBase"));
        dialogs.next = Described(Lib(), base2.get(), u"IBase");
        d.Action("mnuRedirectExternalAllTypes")->trigger();
        d.reject();
    };
    Run(MenuItem::mnuExternalTypes);
    EXPECT_EQ(showings, 1);
    EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"redirect type", "redirect library"}));
    EXPECT_TRUE(At("BaseKind"));
    ASSERT_EQ(history->ItemCount(), 3);

    // From the type's menu: IOld's references go to INew; INew to itself is nothing.
    Select(At("IOld"));
    dialogs.next = Described(Lib(), Lib(), u"INew");
    Run(MenuItem::mnuRedirectLeave);
    EXPECT_EQ(history->ItemCount(), 4);
    Select(At("INew"));
    dialogs.next = Described(Lib(), Lib(), u"INew");
    Run(MenuItem::mnuRedirectLeave);
    EXPECT_EQ(history->ItemCount(), 4);
    // IOld replaced by INew within the library goes.
    Select(At("IOld"));
    dialogs.next = Described(Lib(), Lib(), u"INew");
    Run(MenuItem::mnuRedirectReplace);
    EXPECT_FALSE(At("IOld"));
    // Internalising from the library's menu picks a type first.
    Select(Root());
    dialogs.next = Described(Lib(), base2.get(), u"IBase");
    Run(MenuItem::mnuInternalizeProxyOneType);
    EXPECT_EQ(dialogs.asked.back(), "import type");
    EXPECT_TRUE(At("IBase"));
    EXPECT_TRUE(services.messages.empty());

    EXPECT_EQ(history->ItemCount(), 6);
    // The program finds both versions of BaseLib where a registry file says.
    std::ofstream(dir / "libs.reg") << "REGEDIT4\n"
                                    << "[HKEY_CLASSES_ROOT\\TypeLib\\" << ole::ToUtf8(ole::GuidToString(changestest::BaseLibId(1)))
                                    << "\\1.0\\0\\win32]\n@=\"base1.tlb\"\n"
                                    << "[HKEY_CLASSES_ROOT\\TypeLib\\" << ole::ToUtf8(ole::GuidToString(changestest::BaseLibId(1)))
                                    << "\\2.0\\0\\win32]\n@=\"base2.tlb\"\n";
    ExpectReplayWritesTheSameFile("ZEPHRIN_REGISTRY=libs.reg");
    const ComPtr<ITypeLib> saved = LoadSaved();
    EXPECT_EQ(Names(saved.get()), "IUser LocalPoint INew IHolder BaseKind IBase");
}

// Under a host's filter that pairs a coclass with its default interfaces:
// Cancel keeps everything, No deletes them with the class, Yes keeps the
// default interface under the class's name; a rename of the class renames
// them too.
TEST_F(MenuCommands, APairedCoclassDeleteAsksAndAnErrorWarnsOnceKeepingWhatWasApplied) {
    editor::CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.PairCoclasses = 1;
    filter.TypeCommands = 0x400F875;
    view.CommandFilter(filter);
    const std::string kept = "Colors Kernel Matrix IShape DShapeEvents LongPtr ShapeAlias LongPtrAlias Shape IBase ";
    const struct {
        dialogs::MessageAnswer answer;
        std::string names;
        int records;
    } cases[] = {{dialogs::kAnswerCancel, kept + "IDerived DVTable Either BaseAlias Widget", 0},
                 {dialogs::kAnswerNo, kept + "Either BaseAlias", 3},
                 {dialogs::kAnswerYes, kept + "Widget Either BaseAlias", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        ComPtr<ICreateTypeLib2> built = BuildAllKinds();
        view.CurrentITypeLib(AsTypeLib(built.get()).get());
        history = std::make_unique<Playback>();
        history->ChangeListener(hub);
        history->CurrentITypeLib(Lib());
        services.messages.clear();
        services.styles.clear();
        services.answers = {c.answer};
        Select(At("Widget"));
        Run(MenuItem::mnuDelete);
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(services.styles[0], 35);
        EXPECT_EQ(Names(Lib()), c.names);
        EXPECT_EQ(history->ItemCount(), c.records);
        EXPECT_EQ(Tree()->topLevelItem(0)->childCount(), static_cast<int>(Lib()->GetTypeInfoCount()));
    }
    EXPECT_EQ(NodeImage(At("Widget")), NodeImage(At("IBase")));

    // Shape's IShape goes from the class; IShape itself is still used: one
    // warning, and the class keeps only its events.
    services.messages.clear();
    services.styles.clear();
    Select(At("Shape", "IShape"));
    Run(MenuItem::mnuDelete);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.styles[0], 48);
    EXPECT_EQ(ChildTexts(At("Shape")), "DShapeEvents");
    EXPECT_TRUE(At("IShape"));
    EXPECT_EQ(history->ItemCount(), 4);

    // Without the filter: a type still used is not deleted, with one warning.
    view.CommandFilter({});
    services.messages.clear();
    services.styles.clear();
    const std::string before = changestest::Dump(Lib());
    Select(At("IBase"));
    Run(MenuItem::mnuDelete);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.styles[0], 48);
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_TRUE(At("IBase"));
    EXPECT_EQ(history->ItemCount(), 4);

    // Under the pairing, a class renamed renames its default interfaces with it.
    view.CommandFilter(filter);
    Select(At("Shape"));
    Run(MenuItem::mnuRename);
    Name("Form");
    EXPECT_TRUE(At("DFormEvents"));
    EXPECT_TRUE(At("IShape"));
    EXPECT_EQ(history->ItemCount(), 6);
}

}  // namespace
}  // namespace treetest

namespace treetest {
namespace {

// The tree's own menu, opened from the keyboard and walked with its access
// keys, runs each command on the real library: a new type is named at once,
// one accessor of a property goes, a type is renamed, and the custom data
// dialog opens once the menu has closed.
TEST_F(MenuCommands, TheMenuOpenedFromTheKeyboardRunsTheItemsChosenByTheirAccessKeys) {
    OpenAllKinds();
    // The menu of the selected node, and the submenu a key opened in it.
    const auto openMenu = [&](QTreeWidgetItem* node) -> QMenu* {
        Select(node);
        Tree()->setFocus();
        QTest::keyClick(Tree(), Qt::Key_F10, Qt::ShiftModifier);
        return view.OpenPopup();
    };
    const auto openedSubmenu = [](QMenu* menu) -> QMenu* {
        for (QAction* action : menu->actions())
            if (action->menu() && action->menu()->isVisible()) return action->menu();
        return nullptr;
    };
    QMenu* menu = openMenu(Root());
    ASSERT_TRUE(menu);
    QTest::keyClick(menu, Qt::Key_A);
    QMenu* kinds = openedSubmenu(menu);
    ASSERT_TRUE(kinds);
    QTest::keyClick(kinds, Qt::Key_I);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.OpenPopup());
    Name("IKeyed");
    QTest::mouseClick(view.DetailsField(Field::ChangeGuid), Qt::LeftButton);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_EQ(history->ItemCount(), 4);  // add, the GUID it was given, rename, the user's GUID

    menu = openMenu(At("IShape", "Name"));
    ASSERT_TRUE(menu);
    QTest::keyClick(menu, Qt::Key_D);
    QMenu* accessors = openedSubmenu(menu);
    ASSERT_TRUE(accessors);
    QTest::keyClick(accessors, Qt::Key_G);
    QCoreApplication::processEvents();
    ASSERT_TRUE(At("IShape", "Name"));
    EXPECT_EQ(AccessBits(At("IShape", "Name")) & 14, 4);
    EXPECT_EQ(Tree()->currentItem(), At("IShape", "Name"));
    EXPECT_EQ(history->ItemCount(), 5);

    menu = openMenu(At("Colors"));
    ASSERT_TRUE(menu);
    QTest::keyClick(menu, Qt::Key_R);
    QCoreApplication::processEvents();
    Name("Hues");

    menu = openMenu(At("Hues"));
    ASSERT_TRUE(menu);
    QTest::keyClick(menu, Qt::Key_U);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"custom data"}));
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(history->ItemCount(), 7);
    ExpectReplayWritesTheSameFile();
}

// A right-click on another node while a name is being typed keeps the name,
// and the menu is that node's.
TEST_F(MenuCommands, ARightClickDuringALabelEditKeepsTheNameAndOpensTheClickedNodesMenu) {
    OpenAllKinds();
    Select(At("Kernel"));
    Run(MenuItem::mnuRename);
    QLineEdit* editor = LabelEditor();
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClicks(editor, "Runtime");
    QTreeWidgetItem* colors = At("Colors");
    Tree()->scrollToItem(colors);
    QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, Tree()->visualItemRect(colors).center());
    QCoreApplication::processEvents();
    EXPECT_TRUE(At("Runtime"));
    EXPECT_EQ(history->ItemCount(), 1);
    EXPECT_EQ(Tree()->currentItem(), At("Colors"));
    QMenu* menu = view.OpenPopup();
    ASSERT_TRUE(menu);
    EXPECT_EQ(Utf8(menu->actions().front()->text()), "&Delete Type");
    QTest::keyClick(menu, Qt::Key_D);
    QCoreApplication::processEvents();
    EXPECT_FALSE(At("Colors"));
    EXPECT_TRUE(At("Runtime"));
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(history->ItemCount(), 2);
    ExpectReplayWritesTheSameFile();
}

// The vtable order dialog's answer: the first method moved to slot (by
// default the last slot a vtable can have).
struct LastSlotDialogs : ScriptedDialogs {
    int16_t slot = 0x7FF8;
    std::shared_ptr<ReorderVTableChange> VTableOrder(ChangeTarget& target, QWidget*) override {
        const ComPtr<ITypeInfo> info = TypeAt(target);
        const UINT count = typelib_detail::TypeAttr(info.get())->cFuncs;
        std::vector<int16_t> offsets;
        for (UINT i = 0; i < count; ++i)
            offsets.push_back(i == 0 ? slot : typelib_detail::FuncDescHolder(info.get(), i)->oVft);
        auto order = modReorderVTableChange::NewReorderVTableChange(false);
        order->Offsets(offsets);
        order->SynchronizeFuncDescs(false);
        return order;
    }
};

// An interface whose vtable ends at the largest size has no slot for another
// method: adding one is refused with one warning, and the library, the tree
// and the history stay as they were. An order that would put a method past
// that size is refused alike.
TEST_F(MenuCommands, AMethodPastTheLargestVtableIsRefused) {
    OpenAllKinds();
    LastSlotDialogs lastSlot;
    view.SetDialogs(&lastSlot);
    EnsureChildren(At("IDerived"));
    const auto expectRefused = [&](const std::string& library, const std::string& children, int items) {
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_NE(Utf8(services.messages.front()).find("Size too big"), std::string::npos)
            << Utf8(services.messages.front());
        EXPECT_EQ(changestest::Dump(Lib()), library);
        EXPECT_EQ(ChildTexts(At("IDerived")), children);
        EXPECT_EQ(Tree()->currentItem(), At("IDerived"));
        EXPECT_EQ(history->ItemCount(), items);
        EXPECT_FALSE(LabelEditor());
    };
    {
        lastSlot.slot = 0x7FFC;
        const std::string library = changestest::Dump(Lib());
        const std::string children = ChildTexts(At("IDerived"));
        const int items = history->ItemCount();
        Select(At("IDerived"));
        Run(MenuItem::mnuVTableOrder);
        expectRefused(library, children, items);
        services.messages.clear();
    }
    lastSlot.slot = 0x7FF8;
    Select(At("IDerived"));
    Run(MenuItem::mnuVTableOrder);
    ASSERT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    EnsureChildren(At("IDerived"));
    const std::string library = changestest::Dump(Lib());
    const std::string children = ChildTexts(At("IDerived"));
    const int items = history->ItemCount();
    for (const int32_t kinds : {1, 6}) {
        SCOPED_TRACE(kinds);
        services.messages.clear();
        Select(At("IDerived"));
        Run(MenuItem::mnuAddFuncPick, kinds);
        expectRefused(library, children, items);
    }
}

// A history that added a method where there was room, replayed on a library
// whose interface has none left: the run stops at that item with the
// refusal, and neither file is written.
TEST_F(MenuCommands, AReplayedMethodPastTheLargestVtableFailsAndWritesNothing) {
    // The library with a second method in IDerived, and its first one in
    // the last slot.
    OpenAllKinds();
    Select(At("IDerived"));
    Run(MenuItem::mnuAddFuncPick, 1);
    Name("Second");
    LastSlotDialogs lastSlot;
    view.SetDialogs(&lastSlot);
    Select(At("IDerived"));
    Run(MenuItem::mnuVTableOrder);
    ASSERT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "full.tlb").string()));
    const auto full = ReadBytes(dir / "full.tlb");

    // A method added to the library as it was.
    Open(dir / "in.tlb");
    view.SetDialogs(&dialogs);
    Select(At("IDerived"));
    Run(MenuItem::mnuAddFuncPick, 1);
    ASSERT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    Name("Extra");
    ASSERT_TRUE(history->SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));

    EXPECT_EQ(RunZephrin(dir.path(), "-leh session.leh -tlb full.tlb -saveas batch.tlb"), 2);
    const std::string message = testsupport::ReadText(dir / "stderr.txt");
    EXPECT_NE(message.find("item 1"), std::string::npos) << message;
    EXPECT_NE(message.find("Size too big"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(dir / "batch.tlb"));
    EXPECT_EQ(ReadBytes(dir / "full.tlb"), full);
}

// An apply that fails warns once and leaves the live library, the tree and
// the history as they were.
TEST_F(MenuCommands, AFailingCommandLeavesTheLibraryTheTreeAndTheHistoryAsTheyWere) {
    OpenAllKinds();
    const auto treeText = [&] {
        std::string all;
        std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int depth) {
            all += std::string(static_cast<size_t>(depth), ' ') + Utf8(node->text(0)) + "\n";
            for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), depth + 1);
        };
        walk(Root(), 0);
        return all;
    };
    const struct {
        const char* type;
        const char16_t* picked;
        MenuItem item;
    } cases[] = {{"IDerived", u"Colors", MenuItem::mnuAddImplType},  // an enum implemented
                 {"Either", u"IBase", MenuItem::mnuRedirectReplace}};  // a union replaced by an interface
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EnsureChildren(At(c.type));
        const std::string library = changestest::Dump(Lib());
        const std::string tree = treeText();
        services.messages.clear();
        services.styles.clear();
        Select(At(c.type));
        dialogs.next = Described(Lib(), Lib(), c.picked);
        Run(c.item);
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(services.styles[0], 48);
        EXPECT_EQ(changestest::Dump(Lib()), library);
        EXPECT_EQ(treeText(), tree);
        EXPECT_EQ(Tree()->currentItem(), At(c.type));
        EXPECT_EQ(history->ItemCount(), 0);
    }
}

// Insert Value and Insert Field offered on a value or a field name the new
// member at once, as they do on the type.
TEST_F(MenuCommands, InsertingAValueOrAFieldFromAMemberStartsItsLabelEdit) {
    OpenAllKinds();
    EnsureChildren(At("Colors"));
    Select(At("Colors")->child(0));
    Run(MenuItem::mnuAddVar);
    ASSERT_TRUE(LabelEditor());
    Name("Violet");
    EXPECT_EQ(Tree()->currentItem()->parent(), At("Colors"));
    EnsureChildren(At("Matrix"));
    Select(At("Matrix")->child(0));
    Run(MenuItem::mnuAddVar);
    ASSERT_TRUE(LabelEditor());
    Name("depth");
    EXPECT_EQ(Tree()->currentItem()->parent(), At("Matrix"));
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(history->ItemCount(), 4);
    ExpectReplayWritesTheSameFile();
}

// An interface derived from an imported one takes in its base's methods.
TEST_F(MenuCommands, FlatteningOverAnImportedBaseReplaysInBatchMode) {
    ole::RegisterFileServices();
    const ComPtr<ITypeLib> base1 = changestest::BaseLibrary(dir / "base1.tlb", 1);
    view.CurrentITypeLib(changestest::UserLibrary(base1.get()).get());
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "in.tlb").string()));
    Open(dir / "in.tlb");
    Select(At("IUser"));
    Run(MenuItem::mnuFlattenInterface);
    EXPECT_TRUE(services.messages.empty());
    EnsureChildren(At("IUser"));
    EXPECT_EQ(ChildTexts(At("IUser")), "Ping Use");
    EXPECT_EQ(history->ItemCount(), 1);
    std::ofstream(dir / "libs.reg") << "REGEDIT4\n"
                                    << "[HKEY_CLASSES_ROOT\\TypeLib\\" << ole::ToUtf8(ole::GuidToString(changestest::BaseLibId(1)))
                                    << "\\1.0\\0\\win32]\n@=\"base1.tlb\"\n";
    ExpectReplayWritesTheSameFile("ZEPHRIN_REGISTRY=libs.reg");
}

// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// has I's functions as its members. A method added to it and the edits of its
// members (a name, a return type, a flag, parameters) are made in I and shown
// under both types (a return value parameter as what the function returns);
// the platform reads them in the file saved, and two batch replays write it
// again. A property of its own is refused with a message before anything is
// recorded.
TEST_F(MenuCommands, EditsOfADispinterfaceOverAnInterfaceAreMadeInTheInterface) {
    OpenForm("dispatch.tlb");
    EnsureChildren(At("IPlain"));
    Select(At("DOverPlain"));
    Run(MenuItem::mnuAddFuncPick, 1);
    Name("Start");
    dialogs.next = CustomVarTypeInfo::New();
    dialogs.next->SetType(VT_I4, nullptr);
    QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    Select(At("DOverPlain", "Ping"));
    auto* flags = static_cast<QListWidget*>(view.DetailsField(Field::Options));
    flags->setFocus();
    flags->setCurrentItem(flags->findItems(QStringLiteral("hidden"), Qt::MatchExactly).value(0));
    QTest::keyClick(flags, Qt::Key_Space);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    Run(MenuItem::mnuInsertParamPick, 0, 0x1000);
    Name("first");
    Select(At("DOverPlain", "Ping", "a"));
    Run(MenuItem::mnuInsertParamPick, 4, 0x2000);
    EXPECT_EQ(Tree()->currentItem(), At("DOverPlain", "Ping"));
    EXPECT_EQ(Utf8(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text()), "long");
    Select(At("DOverPlain"));
    Run(MenuItem::mnuAddVar);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(Utf8(services.messages[0]), "A dispinterface declared over an interface has no members of its own: its "
                                          "members are the interface's functions.");
    EXPECT_EQ(services.beeps, 0);
    EXPECT_EQ(history->ItemCount(), 7);
    EXPECT_EQ(ChildTexts(At("DOverPlain")), "AddRef Count Name Ping QueryInterface Release Start");
    EXPECT_EQ(ChildTexts(At("IPlain")), "Count Name Ping Start");
    EXPECT_EQ(ChildTexts(At("DOverPlain", "Ping")), "first a");
    EXPECT_TRUE(At("IPlain", "Ping", "retVal"));
    ExpectReplayWritesTheSameFile({}, 2);
    const std::string saved = SavedAsThePlatformReadsIt();
    const std::string plain = saved.substr(saved.find("\"IPlain\""), saved.find("\"IDualD\"") - saved.find("\"IPlain\""));
    for (const char* made : {"\"Start\" id=0x60010003", "param 0 \"retVal\" pflags=0xa type=ptr(vt3)",
                             "\"Ping\" id=0x60010000 kind=1 invoke=1 cc=4 params=3 opt=0 vtoff=12 flags=0x40",
                             "\"first\" pflags=0x1", "param 2 \"retVal\" pflags=0xa"})
        EXPECT_NE(plain.find(made), std::string::npos) << made << "\n" << plain;
}

}  // namespace
}  // namespace treetest

namespace treetest {
namespace {

// Dialogs and messages that run an event loop as a modal window does: the
// loop runs the deletions waiting for it before the answer comes.
void SpinAsAModalLoop() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class SpinningDialogs : public ScriptedDialogs {
public:
    Picked SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ITypeLib* lib, Libs& libs,
                       tli::VarTypeInfo* type) override {
        SpinAsAModalLoop();
        return ScriptedDialogs::SpecifyType(owner, usage, constraint, lib, libs, type);
    }
    std::shared_ptr<ReorderVTableChange> VTableOrder(ChangeTarget& target, QWidget* owner) override {
        SpinAsAModalLoop();
        return ScriptedDialogs::VTableOrder(target, owner);
    }
    std::shared_ptr<ReorderVarsChange> VarOrder(ChangeTarget& target, QWidget* owner) override {
        SpinAsAModalLoop();
        return ScriptedDialogs::VarOrder(target, owner);
    }
    std::shared_ptr<ReorderTypesChange> TypeOrder(ChangeTarget& target, QWidget* owner) override {
        SpinAsAModalLoop();
        return ScriptedDialogs::TypeOrder(target, owner);
    }
};

class SpinningServices : public ModalServices {
public:
    dialogs::MessageAnswer MessageBox(QWidget* owner, const QString& text, int32_t style) override {
        SpinAsAModalLoop();
        return ModalServices::MessageBox(owner, text, style);
    }
};

// Each command of the tree's menu that asks something, chosen with the mouse:
// its dialog or message runs the waiting deletions, and the menu it came from
// still lives when the command has returned. The commands take effect, and
// the history replays them.
TEST_F(MenuCommands, ACommandThatAsksSomethingLeavesItsMenuAlive) {
    OpenAllKinds();
    SpinningDialogs spinning;
    view.SetDialogs(&spinning);
    SpinningServices answering;
    const dialogs::ScopedUiServices scopedAnswers(answering);
    bool externalTypesShown = false;
    answering.modal = [&](QDialog& dialog) {
        externalTypesShown = true;
        SpinAsAModalLoop();
        dialog.reject();
    };
    const auto choose = [&](QTreeWidgetItem* node, const char* caption) {
        Select(node);
        Tree()->setFocus();
        QTest::keyClick(Tree(), Qt::Key_F10, Qt::ShiftModifier);
        const QPointer<QMenu> menu = view.OpenPopup();
        ASSERT_TRUE(menu) << caption;
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions())
            if (Utf8(action->text()) == caption) chosen = action;
        ASSERT_TRUE(chosen) << caption;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        QCoreApplication::processEvents();
        EXPECT_TRUE(menu) << caption;
        EXPECT_FALSE(view.OpenPopup()) << caption;
    };
    spinning.next = Described(Lib(), Lib(), u"IBase");
    choose(At("Widget"), "&Add Implied Interface...");
    EnsureChildren(At("Widget"));
    EXPECT_EQ(ChildTexts(At("Widget")), "IDerived DVTable IBase");
    choose(At("IDerived"), "&VTable Order...");
    choose(At("Colors"), "Member &Order...");
    choose(Root(), "&Type Order...");
    choose(Root(), "E&xternal Types...");
    EXPECT_TRUE(externalTypesShown);
    // A type still in use is not deleted: a warning says so.
    choose(At("IBase"), "&Delete Type");
    EXPECT_EQ(answering.messages.size(), 1u);
    EXPECT_TRUE(At("IBase"));
    EXPECT_EQ(spinning.asked, (std::vector<std::string>{"type 11", "vtable", "vars", "types"}));
    EXPECT_EQ(history->ItemCount(), 4);
    ExpectReplayWritesTheSameFile();
}

}  // namespace
}  // namespace treetest

namespace treetest {
namespace {

// ---- Edits that replace the library by a regenerated copy ----

constexpr ole::GUID kItems[] = {{0x3E4D0C11, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}},
                                {0x3E4D0C12, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}},
                                {0x3E4D0C13, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}};

// An edit that regenerates the library, made on a node (the library's when
// type is null) whose pane then stays as it is.
struct Regenerating {
    const char* name;
    const char* type;
    const char* member;
};
void PrintTo(const Regenerating& edit, std::ostream* out) { *out << edit.name; }

class LibraryReplacement : public MenuCommands {
protected:
    // in.tlb: every kind of type, with three custom-data items on the
    // library, on IShape, on the value Colors.Red and on the parameter
    // IDerived.Go.speed; edited with the program's own dialogs, answered
    // below as the user answers them.
    void OpenWithCustomData() {
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
            const ComPtr<ITypeLib> lib = AsTypeLib(created.get());
            const auto type = [&](const char16_t* name) {
                return TypeAt(changestest::TypeTarget(lib.get(), name)).As<ICreateTypeInfo2>();
            };
            for (int32_t i = 0; i < 3; ++i) {
                ole::Variant value(i);
                ASSERT_OK(created->SetCustData(kItems[i], &value.get()));
                ASSERT_OK(type(u"IShape")->SetCustData(kItems[i], &value.get()));
                ASSERT_OK(type(u"Colors")->SetVarCustData(0, kItems[i], &value.get()));
                ASSERT_OK(type(u"IDerived")->SetParamCustData(0, 0, kItems[i], &value.get()));
            }
            ASSERT_OK(created->SaveAllChanges());
        }
        Open(dir / "in.tlb");
        view.SetDialogs(nullptr);
    }
    // The selected node's Custom Data: what it lists; its first item
    // deleted, OK.
    std::vector<std::string> DeleteFirstCustomDataItem() {
        std::vector<std::string> listed;
        services.modal = [&](QDialog& dialog) {
            auto& d = dynamic_cast<editor::frmCustData&>(dialog);
            for (int row = 0; row < d.List()->count(); ++row) listed.push_back(Utf8(d.List()->item(row)->text()));
            d.List()->setCurrentRow(0);
            QTest::mouseClick(d.DeleteButton(), Qt::LeftButton);
            QTest::mouseClick(d.Ok(), Qt::LeftButton);
        };
        Run(MenuItem::mnuCustData);
        return listed;
    }
    // The library's Type Order: the first type moved down, OK.
    void MoveFirstType() {
        services.modal = [](QDialog& dialog) {
            auto& order = dynamic_cast<dialogs::OrderDialog&>(dialog);
            QTest::mouseClick(order.MoveButton(false), Qt::LeftButton);
            QTest::mouseClick(order.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        };
        Select(Root());
        Run(MenuItem::mnuTypeOrder);
    }
};

class LibraryReplaced : public LibraryReplacement, public ::testing::WithParamInterface<Regenerating> {
protected:
    QTreeWidgetItem* Node() { return GetParam().type ? At(GetParam().type, GetParam().member) : Root(); }
    ChangeTarget TargetIn(ITypeLib* lib) {
        if (!GetParam().type) return changestest::LibraryTarget(lib);
        const std::u16string type = QString::fromUtf8(GetParam().type).toStdU16String();
        if (!GetParam().member) return changestest::TypeTarget(lib, type.c_str());
        const std::u16string member = QString::fromUtf8(GetParam().member).toStdU16String();
        return changestest::MemberTarget(lib, type.c_str(), member.c_str(), 0);
    }
    // The GUIDs of the node's custom-data items in lib, as the dialog lists them.
    std::vector<std::string> Items(ITypeLib* lib) {
        const auto read = modCustDataChange::NewCustDataChange(false);
        ChangeTarget target = TargetIn(lib);
        read->InitFromTarget(target);
        std::vector<std::string> items;
        for (const CustDataItem& item : read->CurrentCustData())
            items.push_back(ole::ToUtf8(ole::GuidToString(item.Guid)));
        return items;
    }
};

// The edit is made on its node, whose pane stays shown (a library's
// custom-data item deleted is the case users met). The node's Custom Data,
// opened again, lists what the library holds now, and its next edit starts
// from there; so does the types' order then set from the library node. The
// window's file, which two batch runs of the history write byte for byte,
// holds no deleted item.
TEST_P(LibraryReplaced, TheDialogsAndTheNextEditsTakeTheLibraryAsItIsNow) {
    OpenWithCustomData();
    Select(Node());
    const std::string name = GetParam().name;
    if (name == "TypesReordered") {
        MoveFirstType();
    } else if (name.ends_with("ByAHistorysRun")) {
        // Applied at the hub as a history window's run applies it, at level 0.
        ChangeTarget library = TargetIn(Lib());
        ChangeTarget shape = changestest::TypeTarget(Lib(), u"IShape");
        const auto apply = [&](IChange& change, IChange* captured, ChangeTarget& target) {
            ASSERT_TRUE(change.Apply(*view.CurrentCustomTypeLib(), captured, target, hub.get(), 0));
        };
        if (name.starts_with("CustomData")) {
            const auto removal = modCustDataChange::NewCustDataChange(false);
            removal->InitFromTarget(library);
            removal->RemoveItem(kItems[0]);
            apply(*removal, nullptr, library);
        } else if (name.starts_with("HelpFile")) {
            const auto captured = modHelpChange::NewHelpChange(false);
            captured->InitFromTarget(library);
            const auto help = std::static_pointer_cast<HelpChange>(captured->Clone());
            help->HelpFile(u"shapes.hlp");
            help->HelpFileScope(HelpChange::kScopeLibrary);
            apply(*help, captured.get(), library);
        } else {
            const std::shared_ptr<IAttributeChange> captured = modTypeChange::NewTypeChange(false);
            captured->InitFromTarget(shape);
            if (name.starts_with("DualFlag")) {
                const auto type = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
                type->SetFlags(TYPEFLAG_FDUAL, false);
                apply(*type, captured.get(), shape);
            } else {  // IShape's base, IDispatch, taken into the library
                const auto internalize = modInternalizeTypesChange::NewInternalizeTypesChange(false);
                internalize->VarTypeInfo(captured->VarTypeInfo()->GetVarTypeInfo().get());
                apply(*internalize, nullptr, library);
            }
        }
    } else {
        EXPECT_EQ(DeleteFirstCustomDataItem().size(), 3u);
    }
    ASSERT_EQ(view.ShownNode(), Node());

    const std::vector<std::string> held = Items(Lib());
    EXPECT_EQ(DeleteFirstCustomDataItem(), held);
    EXPECT_EQ(Items(Lib()).size(), held.size() - 1);
    MoveFirstType();
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());

    ExpectReplayWritesTheSameFile({}, 2);
    const std::vector<std::string> saved = Items(LoadSaved().get());
    EXPECT_EQ(saved, Items(Lib()));
    EXPECT_EQ(std::count(saved.begin(), saved.end(), ole::ToUtf8(ole::GuidToString(kItems[0]))), 0);
}

const Regenerating kRegenerating[] = {
    {"LibraryCustomDataDeleted", nullptr, nullptr},
    {"TypesReordered", nullptr, nullptr},
    {"TypeCustomDataDeleted", "IShape", nullptr},
    {"MemberCustomDataDeleted", "Colors", "Red"},
    {"CustomDataDeletedByAHistorysRun", nullptr, nullptr},
    {"HelpFileSetByAHistorysRun", nullptr, nullptr},
    {"DualFlagClearedByAHistorysRun", nullptr, nullptr},
    {"BaseInternalizedByAHistorysRun", nullptr, nullptr},
};

// The library a parameter's type lies in, when it is a type of lib: "own",
// else "other" (or its VARTYPE when it is no user-defined type).
std::string ParamTypeHolder(ITypeLib* lib, const char16_t* type, UINT func, int param) {
    const ComPtr<ITypeInfo> info = changestest::TypeNamed(lib, type);
    const typelib_detail::FuncDescHolder f(info.get(), func);
    const TYPEDESC& desc = f->lprgelemdescParam[param].tdesc;
    if (desc.vt != VT_USERDEFINED) return "vt " + std::to_string(desc.vt);
    ComPtr<ITypeInfo> referenced;
    ComPtr<ITypeLib> holder;
    UINT index = 0;
    if (FAILED(info->GetRefTypeInfo(desc.hreftype, referenced.put())) ||
        FAILED(referenced->GetContainingTypeLib(holder.put(), &index)))
        return "unreadable";
    return holder.get() == lib ? "own" : "other";
}

// A pane stays shown while a custom-data deletion, made from its node or
// stepped in a history window, replaces the library. Its next edit names the
// types it shows in the library as it is now: a parameter's edit, which
// writes the parameter's type again, imports no type of the library before.
TEST_F(LibraryReplacement, APaneShownAcrossTheChangeWritesTypesOfTheLibraryNow) {
    OpenWithCustomData();
    view.SetDialogs(&dialogs);
    QTreeWidgetItem* speed = At("IDerived", "Go", "speed");
    Select(speed);
    dialogs.next = Described(Lib(), Lib(), u"Colors");
    QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(ParamTypeHolder(Lib(), u"IDerived", 0, 0), "own");
    const auto makeOptional = [&](Qt::Key key) {
        ASSERT_EQ(view.ShownNode(), speed);
        auto* optional = view.MemberPaneField(editor::LibraryViewer::MemberField::Optional);
        optional->setFocus();
        QTest::keyClick(optional, key);
        ASSERT_TRUE(view.InEditMode());
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode());
        EXPECT_EQ(ParamTypeHolder(Lib(), u"IDerived", 0, 0), "own");
    };
    view.SetDialogs(nullptr);
    EXPECT_EQ(DeleteFirstCustomDataItem().size(), 3u);
    makeOptional(Qt::Key_End);  // "Typed Optional (No Default)"
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    ExpectReplayWritesTheSameFile();
    EXPECT_EQ(ParamTypeHolder(LoadSaved().get(), u"IDerived", 0, 0), "own");

    // Again from in.tlb, the history stepped in a window of its own, the
    // parameter shown.
    Open(dir / "in.tlb");
    Playback stepped;
    stepped.ChangeListener(hub);
    stepped.LoadState(ole::FromUtf8(dir.path().string()), u"session.leh");
    stepped.AttachITypeLib(Lib());
    ASSERT_EQ(stepped.ItemCount(), 3);
    speed = At("IDerived", "Go", "speed");
    Select(speed);
    // The parameter's type, then the deletion, each shown as it is made.
    for (int32_t item = 0; item < 2; ++item) ASSERT_TRUE(stepped.ExecuteCommand(kCmdStep, item, 0));
    makeOptional(Qt::Key_End);
}

INSTANTIATE_TEST_SUITE_P(Edits, LibraryReplaced, ::testing::ValuesIn(kRegenerating),
                         [](const ::testing::TestParamInfo<Regenerating>& info) { return info.param.name; });

// A return type set through a dispinterface declared over an interface gives
// the interface's function a return value parameter or takes it away: the
// interface's nodes, built before, show the parameters the file has.
TEST_F(MenuCommands, AReturnTypeSetThroughADispinterfaceOverAnInterfaceShowsInTheInterfacesParameters) {
    OpenForm("dispatch.tlb");
    EnsureChildren(At("IPlain", "Ping"));
    EnsureChildren(At("IPlain", "Name"));
    for (const auto& [member, vt] : {std::pair{"Ping", VT_I4}, std::pair{"Name", VT_VOID}}) {
        Select(At("DOverPlain", member));
        dialogs.next = CustomVarTypeInfo::New();
        dialogs.next->SetType(vt, nullptr);
        QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    }
    EnsureChildren(At("IPlain", "Ping"));
    EnsureChildren(At("IPlain", "Name"));
    EXPECT_EQ(ChildTexts(At("IPlain", "Ping")), "a retVal");
    EXPECT_EQ(ChildTexts(At("IPlain", "Name")), "lcid");
    EXPECT_EQ(history->ItemCount(), 2);
    ExpectReplayWritesTheSameFile({}, 2);
}

// A dispinterface declared over an interface reads a property's names from
// its accessor stored first. Where that is the Get, which returns the value
// itself there, the Let's value can't be named in the dispinterface: a rename
// there is refused with a message before anything is recorded, and the value
// is renamed in the interface. Where the Let comes first the name is kept
// under both types, and named again there the history finds it by the name
// it had in the Let. The window, a reopened library, the platform's reading
// and two replays agree.
TEST_F(MenuCommands, ALetsValueIsNamedThroughADispinterfaceOverAnInterfaceOnlyWhereItKeepsTheName) {
    OpenForm("dispatch.tlb");
    EnsureChildren(At("IPlain"));
    Select(At("DOverPlain"));
    Run(MenuItem::mnuAddFuncPick, 4);
    Name("Size");
    Run(MenuItem::mnuAddFuncPick, 2);
    Select(At("DOverPlain", "Count"));
    Run(MenuItem::mnuAddFuncPick, 4);
    const auto renameValue = [&](const char* type, const char* member, const char* name = "val") {
        QTreeWidgetItem* node = At(type, member);
        EnsureChildren(node);
        Select(node->child(node->childCount() - 1));
        RenameCurrentNode(Tree(), name);
    };
    const auto values = [&] {
        std::string texts;
        for (const char* type : {"DOverPlain", "IPlain"})
            for (const char* member : {"Count", "Size"}) {
                EnsureChildren(At(type, member));
                texts += ChildTexts(At(type, member)) + ";";
            }
        return texts;
    };
    renameValue("DOverPlain", "Count");
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(Utf8(services.messages[0]),
              "The dispinterface reads the property's parameter names from its Get, which has no parameter in this "
              "place, so the name can't be kept here; rename the parameter in IPlain.");
    EXPECT_EQ(values(), "<New Value>;<New Value>;r;<New Value>;");
    EXPECT_EQ(history->ItemCount(), 4);
    renameValue("IPlain", "Count");
    renameValue("DOverPlain", "Size");
    renameValue("DOverPlain", "Size", "W6hL");
    EXPECT_EQ(services.messages.size(), 1u);
    const std::string shown = values();
    EXPECT_EQ(shown, "<New Value>;W6hL;val;W6hL;");
    EXPECT_EQ(history->ItemCount(), 7);
    ExpectReplayWritesTheSameFile({}, 2);
    Open(dir / "view.tlb");
    EnsureChildren(At("IPlain"));
    EXPECT_EQ(values(), shown);
    // The platform reads the Lets' values (Size's, then Count's) in IPlain, then in DOverPlain, as shown.
    if (const std::optional<std::string> platform = testsupport::ReferenceDump(dir / "view.tlb")) {
        std::string lets;
        const size_t end = platform->find("\"DOverDual\"");
        for (size_t at = platform->find("\"IPlain\""); (at = platform->find("invoke=4", at + 1)) < end;) {
            const size_t param = platform->find("param 0 ", at) + 8;
            lets += platform->substr(param, platform->find(" pflags", param) - param) + ";";
        }
        EXPECT_EQ(lets, "\"W6hL\";\"val\";\"W6hL\";;");
    }
}

// A parameter made the return value or the locale parameter through a
// dispinterface declared over an interface is made so in the interface; the
// dispinterface then shows no node for it (its member returns the value, or
// takes the locale unseen): the member is shown with what it returns now, and
// nothing fails. The file saved, the platform's reading and two replays agree.
TEST_F(MenuCommands, AParameterMadeTheReturnValueOrLocaleThroughADispinterfaceLeavesItsNode) {
    OpenForm("dispatch.tlb");
    for (const char* member : {"Ping", "Name"}) EnsureChildren(At("IPlain", member));
    for (const auto& [member, param, flags, pointers, returns] :
         {std::tuple{"Ping", "a", PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, int16_t{1}, "long"},
          std::tuple{"Name", "lcid", PARAMFLAG_FIN | PARAMFLAG_FLCID, int16_t{0}, "BSTR"}}) {
        Select(At("DOverPlain", member, param));
        dialogs.next = CustomVarTypeInfo::New();
        dialogs.next->SetType(VT_I4, nullptr);
        dialogs.next->PointerLevel(pointers);
        dialogs.paramFlags = flags;
        QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        EXPECT_EQ(view.ShownNode(), At("DOverPlain", member));
        EXPECT_EQ(Utf8(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text()), returns);
        EXPECT_EQ(ChildTexts(At("DOverPlain", member)), "");
    }
    SaveThemedScreenshots(view, "viewer-locale-made-through-a-dispinterface");
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(history->ItemCount(), 2);
    for (const char* member : {"Ping", "Name"}) EnsureChildren(At("IPlain", member));
    EXPECT_EQ(ChildTexts(At("IPlain", "Ping")) + ";" + ChildTexts(At("IPlain", "Name")), "a;lcid r");
    ExpectReplayWritesTheSameFile({}, 2);
    const std::string saved = SavedAsThePlatformReadsIt();
    for (const char* made : {"param 0 \"a\" pflags=0xa type=ptr(vt3)", "param 0 \"lcid\" pflags=0x5 type=vt3"})
        EXPECT_NE(saved.find(made), std::string::npos) << made;
}

// A dispinterface declared over an interface deletes its members as it adds
// them: in the interface, under both types; the file saved, the platform's
// reading and two replays agree. It offers no property of its own to add,
// and the functions it shows from another library (IUnknown's), which can't
// be changed here, and their parameters offer only the view's settings.
TEST_F(MenuCommands, AMemberOfADispinterfaceOverAnInterfaceIsDeletedFromTheInterface) {
    OpenForm("dispatch.tlb");
    EnsureChildren(At("IPlain"));
    EXPECT_EQ(RightClickMenu(view, At("DOverPlain")).find("Add &Property"), std::string::npos);
    EXPECT_NE(RightClickMenu(view, At("DText")).find("Add &Property"), std::string::npos);
    EnsureChildren(At("DOverPlain", "QueryInterface"));
    for (QTreeWidgetItem* node : {At("DOverPlain", "QueryInterface"), At("DOverPlain", "QueryInterface", "riid")})
        EXPECT_EQ(RightClickMenu(view, node).rfind("Type Co&nstraints[", 0), 0u) << RightClickMenu(view, node);
    EXPECT_EQ(RightClickMenu(view, At("DOverPlain", "Ping")).rfind("&Delete Method, ", 0), 0u);
    for (const char* member : {"Ping", "Count"}) {
        Select(At("DOverPlain", member));
        Run(MenuItem::mnuDelete);
    }
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(history->ItemCount(), 2);
    EXPECT_EQ(ChildTexts(At("DOverPlain")) + ";" + ChildTexts(At("IPlain")), "AddRef Name QueryInterface Release;Name");
    ExpectReplayWritesTheSameFile({}, 2);
    EXPECT_NE(SavedAsThePlatformReadsIt().find("\"IPlain\" kind=3 {5E1A1104-0000-4000-8000-000000000011} v0.0 "
                                               "flags=0x100 align=4 size=4 vtbl=16 funcs=1"),
              std::string::npos);
}

// A dispinterface declared over an interface of another library takes no
// function of its own nor new member IDs there: it offers neither.
TEST_F(MenuCommands, ADispinterfaceOverAnInterfaceOfAnotherLibraryOffersNoFunctionToAdd) {
    {
        const GUID enumVariant = {0x00020404, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
        auto lib = NewLibrary(u"Over", ole::FromUtf8((dir / "in.tlb").string()));
        auto over = NewType(lib.get(), u"DEnum", TKIND_DISPATCH);
        ASSERT_OK(over->AddImplType(0, RefTo(over.get(), StdOle2Type(kIID_IDispatch).get())));
        ASSERT_OK(over->AddImplType(1, RefTo(over.get(), StdOle2Type(enumVariant).get())));
        ASSERT_OK(lib->SaveAllChanges());
    }
    Open(dir / "in.tlb");
    EnsureChildren(At("DEnum"));
    ASSERT_TRUE(At("DEnum", "Next"));
    const std::string menu = RightClickMenu(view, At("DEnum"));
    for (const char* refused : {"&Add Function", "Reset &MemberIDs", "Add &Property"})
        EXPECT_EQ(menu.find(refused), std::string::npos) << refused << " in " << menu;
    EXPECT_EQ(RightClickMenu(view, At("DEnum", "Next")).rfind("Type Co&nstraints[", 0), 0u);
}

}  // namespace
}  // namespace treetest

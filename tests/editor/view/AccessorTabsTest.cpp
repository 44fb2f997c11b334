// A property's accessors in the member and parameter panes: a parameter is
// edited in the accessor whose tab is shown, and recorded so; a change
// replayed step by step, and the history's Select Target, show the tab of the
// accessor the change names, with that accessor's values.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTest>

#include <tuple>

#include "changes/ChangesTestSupport.h"
#include "changes/history/PlaybackCommand.h"
#include "changes/kinds/RenameChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/DarkTheme.h"
#include "support/FileContents.h"
#include "support/ReferenceDump.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using MemberField = editor::LibraryViewer::MemberField;
using editor::MenuItem;

// The sample library with every kind of node and, after its types:
//   interface IGrid : IUnknown {
//     [propget] HRESULT Cell([in] long row, [out, retval] BSTR* value);
//     [propput] HRESULT Cell([in] long row, [in] BSTR);
//     [propget] HRESULT Size([out, retval] long* size); }
void WriteGridLibrary(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = BuildAllKinds(ole::FromUtf8(file.string()));
    ASSERT_TRUE(lib);
    auto grid = NewType(lib.get(), u"IGrid", TKIND_INTERFACE);
    ASSERT_OK(grid->AddImplType(0, RefTo(grid.get(), StdOle2Type(kIID_IUnknown).get())));
    TypeDescs td;
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    AddFunc(grid.get(), 0,
            {u"Cell", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"row", Vt(VT_I4)}, {u"value", td.Ptr(Vt(VT_BSTR)), retval}}});
    AddFunc(grid.get(), 1,
            {u"Cell", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"row", Vt(VT_I4)}, {u"", Vt(VT_BSTR)}}, 0,
             FuncIdAt(grid.get(), 0)});
    AddFunc(grid.get(), 2, {u"Size", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"size", td.Ptr(Vt(VT_I4)), retval}}});
    ASSERT_OK(grid->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
}

// The sample library with, after its types, a dispinterface:
//   dispinterface DGrid {
//     [propget] BSTR Item([in] long idx);  [propput] void Item([in] long idx, [in] BSTR);
//     [propput] void Ref([in] VARIANT);     [propputref] void Ref([in] IDispatch*); }
void WriteDispGridLibrary(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = BuildAllKinds(ole::FromUtf8(file.string()));
    ASSERT_TRUE(lib);
    auto grid = NewType(lib.get(), u"DGrid", TKIND_DISPATCH);
    ASSERT_OK(grid->AddImplType(0, RefTo(grid.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(grid.get(), 0, {.name = u"Item", .invkind = INVOKE_PROPERTYGET, .ret = Vt(VT_BSTR),
                            .params = {{u"idx", Vt(VT_I4)}}, .memid = 1, .kind = FUNC_DISPATCH});
    AddFunc(grid.get(), 1, {.name = u"Item", .invkind = INVOKE_PROPERTYPUT, .ret = Vt(VT_VOID),
                            .params = {{u"idx", Vt(VT_I4)}, {u"", Vt(VT_BSTR)}}, .memid = 1, .kind = FUNC_DISPATCH});
    AddFunc(grid.get(), 2, {.name = u"Ref", .invkind = INVOKE_PROPERTYPUT, .ret = Vt(VT_VOID),
                            .params = {{u"", Vt(VT_VARIANT)}}, .memid = 2, .kind = FUNC_DISPATCH});
    AddFunc(grid.get(), 3, {.name = u"Ref", .invkind = INVOKE_PROPERTYPUTREF, .ret = Vt(VT_VOID),
                            .params = {{u"", Vt(VT_DISPATCH)}}, .memid = 2, .kind = FUNC_DISPATCH});
    ASSERT_OK(grid->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
}

// A library whose properties have their Let or Set stored before their Get,
// the values unnamed:
//   interface ILetFirst : IUnknown {
//     [propput] HRESULT P([in] long);  [propget] HRESULT P([out, retval] long*);
//     [propputref] HRESULT Item([in] long Key, [in] IDispatch*);
//     [propput] HRESULT Item([in] long Key, [in] IDispatch*);
//     [propget] HRESULT Item([in] long Key, [out, retval] IDispatch**); }
void WriteLetFirstLibrary(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"LetFirst", ole::FromUtf8(file.string()));
    ASSERT_TRUE(lib);
    auto type = NewType(lib.get(), u"ILetFirst", TKIND_INTERFACE);
    ASSERT_OK(type->AddImplType(0, RefTo(type.get(), StdOle2Type(kIID_IUnknown).get())));
    TypeDescs td;
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    AddFunc(type.get(), 0, {u"P", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", Vt(VT_I4)}}});
    AddFunc(type.get(), 1,
            {u"P", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"", td.Ptr(Vt(VT_I4)), retval}}, 0, FuncIdAt(type.get(), 0)});
    const std::vector<Param> put{{u"Key", Vt(VT_I4)}, {u"", Vt(VT_DISPATCH)}};
    AddFunc(type.get(), 2, {u"Item", INVOKE_PROPERTYPUTREF, Vt(VT_HRESULT), put});
    const MEMBERID item = FuncIdAt(type.get(), 2);
    AddFunc(type.get(), 3, {u"Item", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), put, 0, item});
    AddFunc(type.get(), 4,
            {u"Item", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"Key", Vt(VT_I4)}, {u"", td.Ptr(Vt(VT_DISPATCH)), retval}},
             0, item});
    ASSERT_OK(type->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
}

// The parameter type dialog answers with an intrinsic type; the other type dialog is cancelled.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    explicit ScriptedDialogs(editor::LibraryViewer& view) : view_(view) {}
    ole::VARTYPE vt = VT_I4;
    int16_t pointers = 0;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return {false, nullptr};
    }
    editor::SpecifiedType SpecifyParamType(QWidget*, int32_t, int32_t, int32_t, ole::ITypeLib*,
                                           dialogs::LibraryCollection&, tli::VarTypeInfo*, int32_t&, bool) override {
        ComPtr<CustomVarTypeInfo> chosen = CustomVarTypeInfo::New();
        chosen->CurrentITypeLib(view_.CurrentLibraryITypeLib().get());
        chosen->SetType(vt, nullptr);
        chosen->PointerLevel(pointers);
        return {true, chosen};
    }

private:
    editor::LibraryViewer& view_;
};

class AccessorTabs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    AccessorTabs() : scoped(services) {
        ShowViewer(view, hub, &dialogs, 36);
    }

    // Opens a fresh copy of the grid library, in.tlb, with the history
    // engine on it.
    void Open() {
        if (!fs::exists(dir / "in.tlb")) WriteGridLibrary(dir / "in.tlb");
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        view.CurrentITypeLib(loaded.get());
        history.ChangeListener(hub);
        history.CurrentITypeLib(view.CurrentLibraryITypeLib().get());
    }
    // Opens a fresh copy of in.tlb, the history kept and run from its start on it.
    void Reopen() {
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        view.CurrentITypeLib(loaded.get());
        history.AttachITypeLib(view.CurrentLibraryITypeLib().get());
    }
    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr, const char* param = nullptr) {
        return NodeAt(Tree(), type, member, param);
    }
    void Select(QTreeWidgetItem* node) {
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    QTabBar* Tabs() { return view.findChild<QTabBar*>(); }
    QStringList TabTexts() {
        QStringList texts;
        for (int i = 0; i < Tabs()->count(); ++i) texts << Tabs()->tabText(i);
        return texts;
    }
    QString CurrentTab() { return Tabs()->tabText(Tabs()->currentIndex()); }
    void ClickTab(const char* text) {
        const int tab = static_cast<int>(TabTexts().indexOf(QString::fromUtf8(text)));
        ASSERT_GE(tab, 0) << text;
        QTest::mouseClick(Tabs(), Qt::LeftButton, {}, Tabs()->tabRect(tab).center());
        ASSERT_EQ(CurrentTab(), QString::fromUtf8(text));
    }
    QString TypeText() { return static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(); }
    QComboBox* Optional() { return static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional)); }
    QStringList OptionalEntries() {
        QStringList entries;
        for (int i = 0; i < Optional()->count(); ++i) entries << Optional()->itemText(i);
        return entries;
    }
    QListWidgetItem* Flag(const char* name) {
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        return options->findItems(QString::fromUtf8(name), Qt::MatchExactly).value(0);
    }
    bool Ticked(const char* name) { return Flag(name) && Flag(name)->checkState() == Qt::Checked; }
    void Tick(const char* name) {
        auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
        ASSERT_TRUE(Flag(name)) << name;
        options->setFocus();
        options->setCurrentItem(Flag(name));
        QTest::keyClick(options, Qt::Key_Space);
    }
    void ChooseType() { QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton); }
    void TypeDefault(const char* text) {
        auto* edit = static_cast<QLineEdit*>(view.MemberPaneField(MemberField::ConstValue));
        ASSERT_TRUE(edit->isEnabled());
        edit->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
    }
    void Update() {
        ASSERT_TRUE(view.DetailsField(Field::Update)->isEnabled());
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode());
    }
    void Run(MenuItem item, int32_t index = 0, int32_t tag = 0) {
        view.RunMenuCommand(item, index, tag);
        QCoreApplication::processEvents();
    }
    // Saves the history and the view's library; the program replays the
    // history on in.tlb in batch mode and must write the same file.
    ComPtr<ITypeLib> SaveAndReplay() { return treetest::SaveAndReplay(history, view, dir.path()); }
    bool Step() { return history.ExecuteCommand(kCmdStep, -1, 0); }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs{view};
    Playback history;
};

// The Let tab of a property, then a parameter: the pane shows the Let's own
// parameter under the accessors' tabs; its type, flags, optional setting and
// default are edited in the Let, the Get keeping its own; the Let's value
// given a new type offers it to the Get's return value.
TEST_F(AccessorTabs, ALetsParametersAreEditedInTheLetAndReplayToTheSameFile) {
    Open();
    Select(At("IGrid", "Cell"));
    ClickTab("Let");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    Select(At("IGrid", "Cell", "row"));
    EXPECT_EQ(TabTexts(), (QStringList{"Interface Property Get", "Let"}));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] long");
    QCoreApplication::processEvents();
    testsupport::SaveScreenshots(view, "viewer-let-parameter-pane");
    Select(At("IGrid", "Cell", "value"));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] BSTR");
    EXPECT_EQ(OptionalEntries(), QStringList{"Right Hand Value"});
    // The Get's tab shows the Get's parameter at that place.
    ClickTab("Interface Property Get");
    EXPECT_EQ(view.CurrentAccessor(), 2);
    EXPECT_EQ(TypeText(), "[out, retval] BSTR*");
    EXPECT_EQ(OptionalEntries(), QStringList{"Return Value"});
    ClickTab("Let");

    // The Let's index: another type, then optional with a default.
    Select(At("IGrid", "Cell", "row"));
    EXPECT_EQ(CurrentTab(), "Let");
    dialogs.vt = VT_I2;
    ChooseType();
    Update();
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] short");
    Optional()->setFocus();
    QTest::keyClick(Optional(), Qt::Key_Down);
    ASSERT_EQ(Optional()->currentText(), "Typed Optional");
    TypeDefault("3");
    Update();
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(Optional()->currentText(), "Typed Optional");
    EXPECT_EQ(static_cast<QLineEdit*>(view.MemberPaneField(MemberField::ConstValue))->text(), "3");
    // The Let's value: the Get's return value follows on Yes.
    Select(At("IGrid", "Cell", "value"));
    EXPECT_EQ(CurrentTab(), "Let");
    dialogs.vt = VT_I4;
    services.answers = {dialogs::kAnswerYes};
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0],
              "Would you like to change the type of the last parameter on the Property Get procedure to "
              "'[out, retval] long*'?");
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] long");
    // The library keeps a property's index parameters alike: the Get's index followed.
    Select(At("IGrid", "Cell", "row"));
    ClickTab("Interface Property Get");
    EXPECT_EQ(TypeText(), "[in] short");
    EXPECT_EQ(Optional()->currentText(), "Typed Optional");

    ComPtr<ITypeLib> saved = SaveAndReplay();
    const ComPtr<ITypeInfo> grid = changestest::TypeNamed(saved.get(), u"IGrid");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Cell", INVOKE_PROPERTYPUT, 1), "2 flags 49");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Cell", INVOKE_PROPERTYPUT, 2), "3 flags 1");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Cell", INVOKE_PROPERTYGET, 1), "2 flags 49");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Cell", INVOKE_PROPERTYGET, 2), "3* flags 10");
}

// Changes made on a property's Let, replayed one step at a time on a fresh
// copy while another property's Get is shown: each shows the tab of the
// accessor it changed, with that accessor's values. A parameter's change on
// the Get (as every parameter's change was recorded before the Let's
// parameters had panes) shows the Get. Select Target shows the Let too.
TEST_F(AccessorTabs, ChangesReplayedStepByStepShowTheAccessorTheyName) {
    Open();
    Select(At("IGrid", "Cell"));
    ClickTab("Let");
    Tick("hidden");
    Update();
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_TRUE(Ticked("hidden"));
    Select(At("IGrid", "Cell", "row"));
    dialogs.vt = VT_I2;
    ChooseType();
    Update();
    Run(MenuItem::mnuInsertParamPick, 0, 0x1000);
    ASSERT_EQ(At("IGrid", "Cell")->childCount(), 3);
    // The new parameter keeps the name it was given.
    if (QLineEdit* open = treetest::LabelEditor(Tree())) QTest::keyClick(open, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(CurrentTab(), "Let");
    Select(At("IGrid", "Cell", "row"));
    ClickTab("Interface Property Get");
    dialogs.vt = VT_R8;
    ChooseType();
    Update();
    // A Let added to a get-only property: the pane shows the Let.
    Select(At("IGrid", "Size"));
    Run(MenuItem::mnuAddFuncPick, 4);
    EXPECT_EQ(view.CurrentAccessor(), 4);
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "HRESULT");
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    ASSERT_EQ(history.ItemCount(), 5);

    // A fresh copy, the history from its start.
    Reopen();
    const auto showOtherGet = [&] {
        Select(At("IShape", "Name"));
        ClickTab("Interface Property Get");
    };
    showOtherGet();
    ASSERT_TRUE(Step());
    EXPECT_EQ(view.ShownNode(), At("IGrid", "Cell"));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    EXPECT_TRUE(Ticked("hidden"));
    showOtherGet();
    ASSERT_TRUE(Step());
    EXPECT_EQ(view.ShownNode(), At("IGrid", "Cell", "row"));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] short");
    showOtherGet();
    ASSERT_TRUE(Step());
    ASSERT_EQ(At("IGrid", "Cell")->childCount(), 3);
    EXPECT_EQ(view.ShownNode(), At("IGrid", "Cell")->child(1));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    ASSERT_TRUE(Step());  // the Get's index: the Get is shown
    EXPECT_EQ(view.ShownNode(), At("IGrid", "Cell", "row"));
    EXPECT_EQ(CurrentTab(), "Interface Property Get");
    EXPECT_EQ(TypeText(), "[in] double");
    showOtherGet();
    ASSERT_TRUE(Step());
    EXPECT_EQ(view.ShownNode(), At("IGrid", "Size"));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "HRESULT");
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "stepped.tlb").string()));

    // Select Target of the first item, with another Get shown and the
    // property's Get shown.
    ASSERT_TRUE(history.ExecuteCommand(kCmdRestart, -1, 0));
    for (bool same : {false, true}) {
        if (same) {
            Select(At("IGrid", "Cell"));
            ClickTab("Interface Property Get");
            EXPECT_FALSE(Ticked("hidden"));
        } else {
            showOtherGet();
        }
        ASSERT_TRUE(history.ExecuteCommand(kCmdSelectTarget, -1, 0));
        EXPECT_EQ(view.ShownNode(), At("IGrid", "Cell")) << same;
        EXPECT_EQ(CurrentTab(), "Let") << same;
        EXPECT_TRUE(Ticked("hidden")) << same;
    }
}

// With the help page shown, Select Target of a Let keeps the help page; the
// details page behind it shows the Let.
TEST_F(AccessorTabs, SelectTargetBehindTheHelpPageShowsTheLetThere) {
    Open();
    Select(At("IGrid", "Cell"));
    ClickTab("Let");
    Tick("hidden");
    Update();
    ClickTab("Interface Property Get");
    ClickTab("Help");
    ASSERT_TRUE(history.ExecuteCommand(kCmdRestart, -1, 0));
    ASSERT_TRUE(history.ExecuteCommand(kCmdSelectTarget, -1, 0));
    EXPECT_EQ(CurrentTab(), "Help");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    ClickTab("Let");
    EXPECT_TRUE(Ticked("hidden"));
    EXPECT_TRUE(services.messages.empty());
}

// With the help page shown, changes stepped through on the Let and then on
// the Get: the details page behind the help page takes each accessor in turn.
TEST_F(AccessorTabs, StepsBehindTheHelpPageFollowEachAccessorInTurn) {
    Open();
    Select(At("IGrid", "Cell"));
    ClickTab("Let");
    Tick("hidden");
    Update();
    ClickTab("Interface Property Get");
    Tick("restricted");
    Update();
    ASSERT_EQ(history.ItemCount(), 2);
    Reopen();
    Select(At("IGrid", "Cell"));
    ClickTab("Help");
    ASSERT_TRUE(Step());  // the Let's change
    EXPECT_EQ(CurrentTab(), "Help");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    ASSERT_TRUE(Step());  // the Get's change
    EXPECT_EQ(CurrentTab(), "Help");
    EXPECT_EQ(view.CurrentAccessor(), 2);
    // A parameter chosen now is the Get's.
    Select(At("IGrid", "Cell", "value"));
    EXPECT_EQ(CurrentTab(), "Interface Property Get");
    EXPECT_EQ(TypeText(), "[out, retval] BSTR*");
    EXPECT_TRUE(services.messages.empty());
}

// A property with a Get and a Let pasted under a host's member-ID format:
// both accessors take the host's ID, so the copy stays one property; the
// edit replays in batch mode to the same file.
TEST_F(AccessorTabs, APastedPropertyTakesTheHostsMemberIdOnEveryAccessor) {
    HostMemberIdRange ranges;
    Open();
    editor::CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.MemberCommands = -1;
    view.CommandFilter(filter);
    view.SetMemberIDConstraints(&ranges);
    for (const bool letShown : {false, true}) {
        Select(At("IGrid", "Cell"));
        if (letShown) ClickTab("Let");
        QTest::keyClick(Tree(), Qt::Key_C, Qt::ControlModifier);
        Select(At("IGrid"));
        QTest::keyClick(Tree(), Qt::Key_V, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    }
    view.SetMemberIDConstraints(nullptr);
    view.CommandFilter(editor::CommandFilterRecord{});
    ComPtr<ITypeLib> saved = SaveAndReplay();
    const ComPtr<ITypeInfo> grid = changestest::TypeNamed(saved.get(), u"IGrid");
    const ComPtr<ITypeInfo2> grid2 = grid.As<ITypeInfo2>();
    MEMBERID expected = 0x40000010;
    for (const char16_t* name : {u"Cell1", u"Cell2"}) {
        std::u16string text(name);
        LPOLESTR ptr = text.data();
        MEMBERID id = 0;
        ASSERT_OK(grid->GetIDsOfNames(&ptr, 1, &id)) << QString::fromStdU16String(name).toStdString();
        EXPECT_EQ(id, expected);
        for (INVOKEKIND kind : {INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT}) {
            UINT index = 0;
            EXPECT_OK(grid2->GetFuncIndexOfMemId(expected, kind, &index)) << QString::fromStdU16String(name).toStdString() << " " << kind;
        }
        ++expected;
    }
}

// An arrow key on the focused strip of a property's accessors moves to one
// tab, and the strip is not built again under it: a reader hears of the one
// tab that becomes current (the strip tells a reader of each change of its
// current tab while it has the focus), on the member's pane and on its
// parameter's.
TEST_F(AccessorTabs, AnArrowKeyOnTheAccessorTabsMakesOneTabCurrent) {
    Open();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    std::vector<std::string> heard;
    QObject::connect(Tabs(), &QTabBar::currentChanged, &view, [&](int index) {
        if (Tabs()->hasFocus() && index >= 0) heard.push_back(Utf8(Tabs()->tabText(index)));
    });
    const auto press = [&](Qt::Key key) {
        Tabs()->setFocus();
        heard.clear();
        QTest::keyClick(Tabs(), key);
        return heard;
    };
    Select(At("IGrid", "Cell"));
    EXPECT_EQ(press(Qt::Key_Right), std::vector<std::string>{"Let"});
    EXPECT_EQ(view.CurrentAccessor(), 4);
    Select(At("IGrid", "Cell", "row"));
    EXPECT_EQ(press(Qt::Key_Left), std::vector<std::string>{"Interface Property Get"});
    EXPECT_EQ(view.CurrentAccessor(), 2);
    EXPECT_EQ(TabTexts(), (QStringList{"Interface Property Get", "Let"}));
}

// A dispinterface's properties: the Let of a Get/Let property and the Set of
// a Let/Set property show their own parameters under their own tabs; the
// Let's index and the Set's value are edited there, recorded so, and replay
// in batch mode to the same file.
TEST_F(AccessorTabs, ADispinterfacesLetAndSetParametersAreEditedInTheirOwnAccessor) {
    WriteDispGridLibrary(dir / "in.tlb");
    Open();
    Select(At("DGrid", "Item"));
    ClickTab("Let");
    Select(At("DGrid", "Item", "idx"));
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] long");
    dialogs.vt = VT_I2;
    ChooseType();
    Update();
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(TypeText(), "[in] short");

    Select(At("DGrid", "Ref"));
    const QStringList refTabs = TabTexts();
    ASSERT_GE(refTabs.size(), 2) << refTabs.join("|").toStdString();
    EXPECT_EQ(refTabs[1], "Set");
    ClickTab("Set");
    EXPECT_EQ(view.CurrentAccessor(), 8);
    At("DGrid", "Ref")->setExpanded(true);
    QCoreApplication::processEvents();
    ASSERT_EQ(At("DGrid", "Ref")->childCount(), 1);
    Select(At("DGrid", "Ref")->child(0));
    EXPECT_EQ(CurrentTab(), "Set");
    EXPECT_EQ(TypeText(), "[in] IDispatch*");
    dialogs.vt = VT_UNKNOWN;
    ChooseType();
    Update();
    EXPECT_EQ(CurrentTab(), "Set");
    EXPECT_EQ(TypeText(), "[in] IUnknown*");
    // The Let keeps its own value.
    ClickTab(Utf8(refTabs[0]).c_str());
    EXPECT_EQ(TypeText(), "[in] VARIANT");
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());

    ComPtr<ITypeLib> saved = SaveAndReplay();
    const ComPtr<ITypeInfo> grid = changestest::TypeNamed(saved.get(), u"DGrid");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Item", INVOKE_PROPERTYPUT, 1), "2 flags 1");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Ref", INVOKE_PROPERTYPUTREF, 1), "13 flags 1");
    EXPECT_EQ(AccessorTypeAt(grid.get(), u"Ref", INVOKE_PROPERTYPUT, 1), "12 flags 1");
}

// A dispinterface's Get and Let with an index: the Let's value beyond the
// Get's index has a node of its own, on the Let's tab. The Let deleted, its
// node goes: stepped on a fresh copy while that node is shown, the property
// is shown instead; the history replays in batch mode to the same file.
TEST_F(AccessorTabs, ADispinterfacesLetValueNodeGoesWithItsLet) {
    WriteDispGridLibrary(dir / "in.tlb");
    Open();
    Select(At("DGrid", "Item", "<New Value>"));
    ASSERT_EQ(At("DGrid", "Item")->childCount(), 2);
    EXPECT_EQ(TabTexts(), QStringList{"Dispinterface Property Let"});
    EXPECT_EQ(TypeText(), "[in] BSTR");
    Select(At("DGrid", "Item"));
    Run(MenuItem::mnuDeletePropPick, 4);
    ASSERT_EQ(At("DGrid", "Item")->childCount(), 1);
    EXPECT_EQ(At("DGrid", "Item")->child(0)->text(0), "idx");
    EXPECT_EQ(TabTexts().value(0), "Dispinterface Property Get");

    Reopen();
    Select(At("DGrid", "Item", "<New Value>"));
    ASSERT_TRUE(Step());
    ASSERT_EQ(At("DGrid", "Item")->childCount(), 1);
    EXPECT_EQ(view.ShownNode(), At("DGrid", "Item"));
    EXPECT_EQ(CurrentTab(), "Dispinterface Property Get");
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
    ComPtr<ITypeLib> saved = SaveAndReplay();
    UINT index = 0;
    EXPECT_NE(changestest::TypeNamed(saved.get(), u"DGrid").As<ITypeInfo2>()->GetFuncIndexOfMemId(1, INVOKE_PROPERTYPUT, &index), S_OK);
}

// A property whose Let or Set is stored before its Get is read by the
// platform with that accessor's names. Its unnamed value shows as the other
// unnamed values do; renamed with F2 on the Let's tab, and on the Get's, the
// name is written where the platform reads it, and the history names the
// value by its role. The window's file and the batch replay are the same,
// and a history that names the value by its position, as recorded before,
// replays with the name too.
TEST_F(AccessorTabs, AValueRenamedOnALetStoredBeforeItsGetIsSavedWhereThePlatformReadsIt) {
    WriteLetFirstLibrary(dir / "in.tlb");
    Open();
    const auto valueText = [&](const char* member) {
        QTreeWidgetItem* node = At("ILetFirst", member);
        EnsureChildren(node);
        return node->child(node->childCount() - 1)->text(0);
    };
    EXPECT_EQ(valueText("P"), "<New Value>");
    EXPECT_EQ(valueText("Item"), "<New Value>");
    Select(At("ILetFirst", "P"));
    ClickTab("Let");
    Select(At("ILetFirst", "P", "<New Value>"));
    ASSERT_EQ(CurrentTab(), "Let");
    At("ILetFirst", "Item")->setExpanded(true);
    const QPalette light = QApplication::palette();
    for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", testsupport::DarkPalette()}}) {
        QApplication::setPalette(palette);
        view.setPalette(palette);
        QCoreApplication::processEvents();
        testsupport::SaveScreenshots(view, std::string("viewer-let-first-values-") + theme);
    }
    QApplication::setPalette(light);
    view.setPalette(light);
    RenameCurrentNode(Tree(), "val");
    Select(At("ILetFirst", "Item", "<New Value>"));
    ClickTab("Interface Property Get");
    RenameCurrentNode(Tree(), "entry");
    EXPECT_EQ(valueText("P"), "val");
    EXPECT_TRUE(services.messages.empty() && services.beeps == 0);
    ASSERT_EQ(history.ItemCount(), 2);
    EXPECT_EQ(history.Text(1), u"Rename right-hand side value parameter of ILetFirst.P to 'val'");
    EXPECT_EQ(history.Text(2), u"Rename return value parameter of ILetFirst.Item to 'entry'");

    const auto expectNames = [&](ITypeLib* saved, const fs::path& file) {
        const ComPtr<ITypeInfo> type = changestest::TypeNamed(saved, u"ILetFirst");
        for (const auto& [member, names] : {std::pair{u"P", std::vector<std::u16string>{u"P", u"val"}},
                                            std::pair{u"Item", std::vector<std::u16string>{u"Item", u"Key", u"entry"}}})
            EXPECT_EQ(typelib_detail::ReadNames(type.get(), modITypeInfoHelper::MemberIDFromName(type.get(), member), 4),
                      names);
        if (const std::optional<std::string> platform = testsupport::ReferenceDump(file)) {
            for (const char* line : {"param 0 \"val\" pflags=0x1 type=vt3", "param 0 \"val\" pflags=0xa",
                                     "param 1 \"entry\" pflags=0x1 type=vt9", "param 1 \"entry\" pflags=0xa"})
                EXPECT_NE(platform->find(line), std::string::npos) << line << "\n" << *platform;
        }
    };
    ComPtr<ITypeLib> saved = SaveAndReplay();
    expectNames(saved.get(), dir / "view.tlb");

    // The same renames as recorded before: on the Get's parameters, by position.
    history.ClearState();
    Reopen();
    for (const auto& [member, index, name] : {std::tuple{u"P", 0, u"val"}, std::tuple{u"Item", 1, u"entry"}}) {
        ChangeTarget target = changestest::ParamTarget(view.CurrentLibraryITypeLib().get(), u"ILetFirst", member,
                                                       static_cast<int16_t>(index));
        target.InvokeKind = INVOKE_PROPERTYGET;
        const std::shared_ptr<RenameChange> rename = modRenameChange::NewRenameChange(false);
        rename->NewName(name);
        ASSERT_TRUE(rename->Apply(*view.CurrentCustomTypeLib(), nullptr, target, hub.get(), 0));
    }
    ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"before.leh"));
    ASSERT_EQ(RunZephrin(dir.path(), "-leh before.leh -tlb in.tlb -saveas before.tlb -quiet"), 0)
        << testsupport::ReadText(dir / "stderr.txt");
    ComPtr<ITypeLib> replayed;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "before.tlb").string()).c_str(), replayed.put()));
    expectNames(replayed.get(), dir / "before.tlb");
}

// Histories recorded before a Let's parameters had panes of their own, stepped
// one item at a time in the view: each item applies without a message and
// the pane shows a property's accessor that the item names.
TEST_F(AccessorTabs, OlderHistoriesStepInTheViewShowingTheAccessorsTheyName) {
    const fs::path data = fs::path(ZEPHRIN_TEST_DATA_DIR) / "history";
    for (const char* file : {"member-changes.leh"}) {
        SCOPED_TRACE(file);
        fs::remove(dir / "in.tlb");
        fs::remove(dir / "steps.leh");
        fs::copy_file(data / "session.tlb", dir / "in.tlb");
        fs::copy_file(data / file, dir / "steps.leh");
        Open();
        history.LoadState(ole::FromUtf8(dir.path().string()), u"steps.leh");
        const int32_t items = history.ItemCount();
        ASSERT_GT(items, 0);
        for (int32_t i = 0; i < items; ++i) {
            ASSERT_TRUE(Step()) << i;
            EXPECT_TRUE(services.messages.empty()) << i << " " << Utf8(services.messages.front());
            services.messages.clear();
            // A property's pane shows one of its accessors' tabs, the one the pane holds.
            if (Tabs()->count() > 1 && TabTexts().contains("Let")) {
                EXPECT_EQ(Tabs()->tabData(Tabs()->currentIndex()).toInt(), view.CurrentAccessor()) << i;
            }
        }
        view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        ASSERT_EQ(RunZephrin(dir.path(), "-leh steps.leh -tlb in.tlb -saveas batch.tlb -quiet"), 0)
            << testsupport::ReadText(dir / "stderr.txt");
        EXPECT_EQ(ReadBytes(dir / "batch.tlb"), ReadBytes(dir / "view.tlb"));
    }
}

// A method and a Let that share a name and an ID, as widl writes them, are
// one node: its tabs are the method's and the Let's, each named, and under
// the Let's tab its attributes and its parameter are edited in the Let, the
// method keeping its own; the file saved and its replay agree.
TEST_F(AccessorTabs, TheLetSharingAMethodsNameAndIdIsEditedUnderItsOwnTab) {
    fs::copy_file(fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "sharedname.tlb", dir / "in.tlb");
    Open();
    Select(At("IControls", "currentItem"));
    EXPECT_EQ(TabTexts().mid(0, 2), (QStringList{"Interface Method", "Interface Property Let"}));
    ClickTab("Interface Property Let");
    EXPECT_EQ(TypeText(), "HRESULT");
    Tick("hidden");
    Update();
    Select(At("IControls", "currentItem", "r"));
    EXPECT_EQ(CurrentTab(), "Interface Property Let");
    EXPECT_EQ(TypeText(), "[in] IMedia*");
    dialogs.vt = VT_DISPATCH;
    ChooseType();
    Update();
    SaveThemedScreenshots(view, "viewer-let-sharing-a-methods-name");
    EXPECT_TRUE(services.messages.empty());
    const ComPtr<ITypeLib> saved = SaveAndReplay();
    const ComPtr<ITypeInfo> controls = modITypeInfoHelper::GetInterfaceTypeInfo(saved.get(), 1);
    EXPECT_EQ(AccessorTypeAt(controls.get(), u"currentItem", INVOKE_PROPERTYPUT, 1), "9 flags 1");
    EXPECT_EQ(AccessorTypeAt(controls.get(), u"currentItem", INVOKE_FUNC, 1), "29** flags 10");
    // The Let is hidden, the method not.
    for (UINT i = 0; i < typelib_detail::TypeAttr(controls.get())->cFuncs; ++i)
        if (const typelib_detail::FuncDescHolder f(controls.get(), i); f->memid == 0x3c) {
            EXPECT_EQ(f->wFuncFlags & FUNCFLAG_FHIDDEN, f->invkind == INVOKE_PROPERTYPUT ? FUNCFLAG_FHIDDEN : 0);
        }
}

}  // namespace
}  // namespace treetest

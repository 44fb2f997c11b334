// The type of a function whose last parameter is its return value, picked in
// the member pane as that parameter: properties with a Get and a Let, with an
// object Let, with index parameters and a Let and a Set, a Get alone, and a
// method returning an array. The other accessor follows when the user says
// Yes and keeps its type on No; each edit saves and replays in batch mode to
// the same file. A dispinterface's property whose accessors take and return
// the value itself, typed through each accessor, and given the accessors it
// lacks from the context menu.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QComboBox>
#include <QTabBar>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include <bit>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "editor/view/ViewerDialogs.h"
#include "dialogs/UiServices.h"
#include "editor/pickers/TypePicker.h"
#include "editor/pickers/frmSpecifyType.h"
#include "editor/view/LibraryViewer.h"
#include "support/DarkTheme.h"
#include "support/FileContents.h"
#include "support/ReferenceDump.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"
#include "tools/DumpTypeLib.h"

namespace treetest {
namespace {

using Field = editor::LibraryViewer::Field;

// The mixes of accessors of a property: its Get, Let and Set bits.
struct AccessorMix {
    const char* name;
    int accessors;
    bool indexed;
};
constexpr AccessorMix kMixes[] = {{"G", 2, false}, {"GL", 6, false}, {"GS", 10, false}, {"GLS", 14, false},
                                  {"L", 4, false},  {"S", 8, false},   {"LS", 12, false}};

// A dispinterface whose accessors are dispatch functions that take and
// return the property's value itself, one property for each mix of
// accessors, then each again with an index before the value (named with "At"):
//   dispinterface DText { methods:
//     [propget] BSTR G();
//     [propget] BSTR GL();          [propput] void GL([in] BSTR);
//     [propget] IDispatch* GS();    [propputref] void GS([in] IDispatch*);
//     [propget] VARIANT GLS();      [propput] void GLS([in] VARIANT);   [propputref] void GLS([in] IDispatch*);
//     [propput] void L([in] BSTR);  [propputref] void S([in] IDispatch*);
//     [propput] void LS([in] VARIANT);  [propputref] void LS([in] IDispatch*);
//     [propget] BSTR GAt([in] long i);  ... [propput] void LSAt([in] long i, [in] VARIANT); ...
//     [propget] BSTR Same(); [propput] void Same([in] long);
//     [propget] BSTR Bare(); [propput] void Bare(BSTR);  (its value without direction flags, as widl writes them) }
//   interface IText : IUnknown { [propget] long Size(); [propput] HRESULT Size([in] long); }
void AddDText(ICreateTypeLib2* lib) {
    using namespace testsupport;
    auto text = NewType(lib, u"DText", TKIND_DISPATCH);
    ASSERT_TRUE(text);
    const GUID iid = {0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x05}};
    ASSERT_OK(text->SetGuid(iid));
    ASSERT_OK(text->AddImplType(0, RefTo(text.get(), StdOle2Type(kIID_IDispatch).get())));
    UINT at = 0;
    MEMBERID id = 10;
    const auto add = [&](const char16_t* name, INVOKEKIND kind, TYPEDESC ret, std::vector<Param> params) {
        AddFunc(text.get(), at++, {.name = name, .invkind = kind, .ret = ret, .params = std::move(params), .memid = id,
                                   .kind = FUNC_DISPATCH});
    };
    for (const bool indexed : {false, true}) {
        for (const AccessorMix& mix : kMixes) {
            const std::u16string name = ole::FromUtf8(mix.name) + (indexed ? u"At" : u"");
            std::vector<Param> index;
            if (indexed) index.push_back({u"i", Vt(VT_I4)});
            const bool let = (mix.accessors & 4) != 0, set = (mix.accessors & 8) != 0;
            const VARTYPE value = let ? (set ? VT_VARIANT : VT_BSTR) : (set ? VT_DISPATCH : VT_BSTR);
            if (mix.accessors & 2) add(name.c_str(), INVOKE_PROPERTYGET, Vt(value), index);
            std::vector<Param> letParams = index, setParams = index;
            letParams.push_back({u"", Vt(set ? VT_VARIANT : VT_BSTR)});
            setParams.push_back({u"", Vt(VT_DISPATCH)});
            if (let) add(name.c_str(), INVOKE_PROPERTYPUT, Vt(VT_VOID), letParams);
            if (set) add(name.c_str(), INVOKE_PROPERTYPUTREF, Vt(VT_VOID), setParams);
            ++id;
        }
    }
    add(u"Same", INVOKE_PROPERTYGET, Vt(VT_BSTR), {});
    add(u"Same", INVOKE_PROPERTYPUT, Vt(VT_VOID), {{u"", Vt(VT_I4)}});
    ++id;
    add(u"Bare", INVOKE_PROPERTYGET, Vt(VT_BSTR), {});
    add(u"Bare", INVOKE_PROPERTYPUT, Vt(VT_VOID), {{u"", Vt(VT_BSTR), 0}});
    ASSERT_OK(text->LayOut());
    auto plain = NewType(lib, u"IText", TKIND_INTERFACE);
    ASSERT_TRUE(plain);
    ASSERT_OK(plain->AddImplType(0, RefTo(plain.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(plain.get(), 0, {.name = u"Size", .invkind = INVOKE_PROPERTYGET, .ret = Vt(VT_I4)});
    AddFunc(plain.get(), 1, {u"Size", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", Vt(VT_I4)}}, 0, FuncIdAt(plain.get(), 0)});
    ASSERT_OK(plain->LayOut());
}

// library Props {
//   [dual, oleautomation] interface IOther : IDispatch { HRESULT Go(); };
//   [dual, oleautomation] interface IThing : IDispatch {
//     [propget] HRESULT Count([out, retval] long* v);     [propput] HRESULT Count([in] long);
//     [propget] HRESULT Owner([out, retval] IOther** v);  [propput] HRESULT Owner([in] IOther*);
//     [propget] HRESULT Item([in] long index, [out, retval] VARIANT* v);
//     [propput] HRESULT Item([in] long index, [in] VARIANT);
//     [propputref] HRESULT Item([in] long index, [in] IDispatch*);
//     [propget] HRESULT Label([out, retval] BSTR* v);
//     HRESULT Rows([out, retval] SAFEARRAY(long)* v);
//     [propget] HRESULT Parent([out, retval] IDispatch** v); [propputref] HRESULT Parent([in] IDispatch*); };
//   dispinterface DProps { methods:
//     [id(1)] HRESULT Find([in] long a, [out, retval] BSTR* r);
//     [id(2), propget] HRESULT Width([out, retval] long* r); [id(2), propput] HRESULT Width([in] long); };
//   dispinterface DText (above)
// }
void BuildProps(const std::u16string& file) {
    using namespace testsupport;
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Props", file);
    ASSERT_TRUE(lib);
    const GUID libGuid = {0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x01}};
    const GUID otherIid = {0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x02}};
    const GUID thingIid = {0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x03}};
    ASSERT_OK(lib->SetGuid(libGuid));
    ASSERT_OK(lib->SetLcid(0x409));
    auto other = NewType(lib.get(), u"IOther", TKIND_INTERFACE);
    auto thing = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
    auto props = NewType(lib.get(), u"DProps", TKIND_DISPATCH);
    ComPtr<ITypeInfo> dispatch = StdOle2Type(kIID_IDispatch);
    ASSERT_TRUE(other && thing && props && dispatch);
    TypeDescs td;
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    ASSERT_OK(other->SetGuid(otherIid));
    ASSERT_OK(other->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    ASSERT_OK(other->AddImplType(0, RefTo(other.get(), dispatch.get())));
    AddFunc(other.get(), 0, {.name = u"Go"});

    ASSERT_OK(thing->SetGuid(thingIid));
    ASSERT_OK(thing->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    ASSERT_OK(thing->AddImplType(0, RefTo(thing.get(), dispatch.get())));
    const TYPEDESC otherPtr = td.Ptr(User(RefTo(thing.get(), other.get())));
    AddFunc(thing.get(), 0, {u"Count", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"v", td.Ptr(Vt(VT_I4)), retval}}});
    AddFunc(thing.get(), 1,
            {u"Count", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", Vt(VT_I4)}}, 0, FuncIdAt(thing.get(), 0)});
    AddFunc(thing.get(), 2, {u"Owner", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"v", td.Ptr(otherPtr), retval}}});
    AddFunc(thing.get(), 3,
            {u"Owner", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", otherPtr}}, 0, FuncIdAt(thing.get(), 2)});
    AddFunc(thing.get(), 4,
            {u"Item", INVOKE_PROPERTYGET, Vt(VT_HRESULT),
             {{u"index", Vt(VT_I4)}, {u"v", td.Ptr(Vt(VT_VARIANT)), retval}}});
    const MEMBERID item = FuncIdAt(thing.get(), 4);
    AddFunc(thing.get(), 5,
            {u"Item", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"index", Vt(VT_I4)}, {u"", Vt(VT_VARIANT)}}, 0, item});
    AddFunc(thing.get(), 6,
            {u"Item", INVOKE_PROPERTYPUTREF, Vt(VT_HRESULT),
             {{u"index", Vt(VT_I4)}, {u"", Vt(VT_DISPATCH)}}, 0, item});
    AddFunc(thing.get(), 7, {u"Label", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"v", td.Ptr(Vt(VT_BSTR)), retval}}});
    AddFunc(thing.get(), 8,
            {.name = u"Rows", .params = {{u"v", td.Ptr(td.SafeArray(Vt(VT_I4))), retval}}});
    const GUID propsIid = {0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x04}};
    ASSERT_OK(props->SetGuid(propsIid));
    ASSERT_OK(props->AddImplType(0, RefTo(props.get(), dispatch.get())));
    AddFunc(props.get(), 0,
            {.name = u"Find", .params = {{u"a", Vt(VT_I4)}, {u"r", td.Ptr(Vt(VT_BSTR)), retval}}, .memid = 1,
             .kind = FUNC_DISPATCH});
    AddFunc(props.get(), 1,
            {.name = u"Width", .invkind = INVOKE_PROPERTYGET, .params = {{u"r", td.Ptr(Vt(VT_I4)), retval}},
             .memid = 2, .kind = FUNC_DISPATCH});
    AddFunc(props.get(), 2,
            {.name = u"Width", .invkind = INVOKE_PROPERTYPUT, .params = {{u"", Vt(VT_I4)}}, .memid = 2,
             .kind = FUNC_DISPATCH});
    AddFunc(thing.get(), 9,
            {u"Parent", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"v", td.Ptr(Vt(VT_DISPATCH)), retval}}});
    AddFunc(thing.get(), 10,
            {u"Parent", INVOKE_PROPERTYPUTREF, Vt(VT_HRESULT), {{u"", Vt(VT_DISPATCH)}}, 0, FuncIdAt(thing.get(), 9)});
    ASSERT_OK(other->LayOut());
    ASSERT_OK(thing->LayOut());
    ASSERT_OK(props->LayOut());
    AddDText(lib.get());
    ASSERT_OK(lib->SaveAllChanges());
}

// The text of the dump of IThing's vtable function named name of invoke
// kind invkind, with its parameters; empty when there is none.
std::string FunctionDump(const std::string& dump, const std::string& name, const std::string& invkind) {
    size_t at = dump.find("dual-interface-half \"IThing\"");
    if (at == std::string::npos) return {};
    while ((at = dump.find("\"" + name + "\" id=", at)) != std::string::npos) {
        const size_t end = dump.find("  func ", at + 1);
        const std::string text = dump.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (text.find(" invoke=" + invkind + " ") != std::string::npos) return text;
        ++at;
    }
    return {};
}

class ReturnValueType : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ReturnValueType() : scoped(driving) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        recorder.ChangeListener(hub);
        BuildProps(ole::FromUtf8((dir / "in.tlb").string()));
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        view->CurrentITypeLib(loaded.get());
        recorder.CurrentITypeLib(Lib());
        view->show();
    }
    ~ReturnValueType() override {
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    void Choose(const char* type, const char* member) {
        QTreeWidgetItem* node = NodeAt(view->Tree(), type, member);
        ASSERT_TRUE(node) << member;
        QCoreApplication::processEvents();
        view->Tree()->setCurrentItem(node);
        ASSERT_EQ(view->ShownNode(), node);
    }
    QString TypeShown() { return static_cast<QLineEdit*>(view->DetailsField(Field::SetType))->text(); }
    // Opens the type dialog of the pane, picks the node whose text is name
    // (or begins with name and a blank) and presses OK; the prototype the
    // dialog showed first and after the pick are kept.
    void Pick(const QString& name) {
        shownFirst.clear();
        shownPicked.clear();
        driving.modal = [&](QDialog& dialog) {
            auto& picker = *dialog.findChild<editor::TypePicker*>();
            shownFirst = picker.Prototype()->text().trimmed();
            flagsFirst.clear();
            if (picker.FlagsCombo()->isVisibleTo(&dialog))
                for (int i = 0; i < picker.FlagsCombo()->count(); ++i)
                    flagsFirst << (i == picker.FlagsCombo()->currentIndex() ? QStringLiteral("*") : QString()) +
                                      picker.FlagsCombo()->itemText(i);
            okFirst = static_cast<editor::frmSpecifyType&>(dialog).Ok()->isEnabled();
            caption = dialog.windowTitle();
            marked = dialog.findChild<QLabel*>(QStringLiteral("lblHeader"))->font().bold();
            QTreeWidget* tree = picker.Tree();
            std::function<QTreeWidgetItem*(QTreeWidgetItem*)> find = [&](QTreeWidgetItem* under) -> QTreeWidgetItem* {
                for (int i = 0; i < under->childCount(); ++i) {
                    QTreeWidgetItem* child = under->child(i);
                    if (child->text(0) == name || child->text(0).startsWith(name + QLatin1Char(' '))) return child;
                    tree->expandItem(child);
                    if (QTreeWidgetItem* below = find(child)) return below;
                }
                return nullptr;
            };
            QTreeWidgetItem* found = find(tree->invisibleRootItem());
            ASSERT_TRUE(found) << name.toStdString();
            tree->setCurrentItem(found);
            shownPicked = picker.Prototype()->text().trimmed();
            static_cast<editor::frmSpecifyType&>(dialog).Ok()->click();
        };
        QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
        driving.modal = nullptr;
    }
    void Update() {
        ASSERT_TRUE(view->InEditMode());
        QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view->InEditMode());
    }
    std::string Function(const std::string& name, const std::string& invkind) {
        return FunctionDump(tlbtools::DumpTypeLib(Lib()), name, invkind);
    }
    // Saves the view's library and the history, replays the history in batch
    // mode on the file opened, and expects the same bytes.
    void ExpectBatchModeWritesTheSame() {
        view->SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(dir.path().string()), u"edits.leh"));
        EXPECT_EQ(RunZephrin(dir.path(), "-leh edits.leh -tlb in.tlb -saveas batch.tlb -quiet -out messages.txt"), 0)
            << testsupport::ReadText(dir / "messages.txt") << testsupport::ReadText(dir / "stderr.txt");
        ASSERT_TRUE(std::filesystem::exists(dir / "batch.tlb"));
        if (testsupport::ReadBytes(dir / "view.tlb") != testsupport::ReadBytes(dir / "batch.tlb")) {
            std::string window, batch;
            EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8((dir / "view.tlb").string()), &window));
            EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8((dir / "batch.tlb").string()), &batch));
            std::istringstream a(window), b(batch);
            std::string differ;
            for (std::string x, y;; x.clear(), y.clear()) {
                const bool inWindow = static_cast<bool>(std::getline(a, x));
                if (!std::getline(b, y) && !inWindow) break;
                if (x != y) differ += "\n  window: " + x + "\n  batch:  " + y;
            }
            ADD_FAILURE() << "the replay wrote another file:" << differ;
        }
        // The platform reads the file as this program does.
        if (const std::optional<std::string> platform = testsupport::ReferenceDump(dir / "view.tlb")) {
            std::string ours;
            EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8((dir / "view.tlb").string()), &ours));
            EXPECT_TRUE(tlbtools::WithCrLf(ours) == *platform);
        }
        // Reloaded, the library is as the view left it (but for the flag of
        // a library read from a file).
        ComPtr<ITypeLib> reloaded;
        ASSERT_OK(LoadTypeLibEx(ole::FromUtf8((dir / "view.tlb").string()).c_str(), REGKIND_NONE, reloaded.put()));
        const auto body = [](const std::string& dump) { return dump.substr(dump.find('\n')); };
        EXPECT_TRUE(body(tlbtools::DumpTypeLib(reloaded.get())) == body(tlbtools::DumpTypeLib(Lib())));
    }

    ModalServices driving;
    testsupport::TempDir dir;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    Playback recorder;
    std::unique_ptr<editor::LibraryViewer> view;
    QString shownFirst, shownPicked, caption;
    bool marked = false;  // the dialog's header, when the type shown first is not offered
    QStringList flagsFirst;  // the parameter flags the dialog offered first, the current one starred
    bool okFirst = false;    // whether OK could be pressed before the pick
};

TEST_F(ReturnValueType, NoKeepsTheLetsValueTypeAndTheGetTakesTheNewOne) {
    Choose("IThing", "Count");
    ASSERT_EQ(TypeShown(), "long");
    Pick(QStringLiteral("short"));
    EXPECT_EQ(shownFirst, "[out, retval] long*");
    EXPECT_EQ(shownPicked, "[out, retval] short*");
    EXPECT_EQ(TypeShown(), "short");
    driving.answers = {dialogs::kAnswerNo};
    Update();
    ASSERT_EQ(driving.messages.size(), 1u);
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] short'?");
    EXPECT_NE(Function("Count", "2").find("pflags=0xa type=ptr(vt2)"), std::string::npos) << Function("Count", "2");
    EXPECT_NE(Function("Count", "4").find("type=vt3"), std::string::npos) << Function("Count", "4");
    EXPECT_EQ(TypeShown(), "short");
    ExpectBatchModeWritesTheSame();
}

TEST_F(ReturnValueType, AnObjectTakenByTheGetOffersToTurnTheLetIntoASet) {
    Choose("IThing", "Owner");
    ASSERT_EQ(TypeShown(), "IOther*");
    Pick(QStringLiteral("IThing"));
    EXPECT_EQ(shownFirst, "[out, retval] IOther**");
    EXPECT_EQ(shownPicked, "[out, retval] IThing**");
    EXPECT_EQ(TypeShown(), "IThing*");
    driving.answers = {dialogs::kAnswerYes};
    Update();
    ASSERT_EQ(driving.messages.size(), 1u);
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the corresponding Property Let to a Property Set with a last parameter of "
              "type '[in] IThing*'?");
    EXPECT_TRUE(Function("Owner", "4").empty()) << Function("Owner", "4");
    EXPECT_NE(Function("Owner", "8").find("type=ptr(udt("), std::string::npos) << Function("Owner", "8");
    EXPECT_NE(Function("Owner", "2").find("pflags=0xa type=ptr(ptr(udt("), std::string::npos)
        << Function("Owner", "2");
    // The pane offers the Set's tab now, not the Let's.
    auto* tabs = view->findChild<QTabBar*>();
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
    EXPECT_TRUE(texts.join(',').contains(QStringLiteral("Set"))) << texts.join(',').toStdString();
    EXPECT_FALSE(texts.join(',').contains(QStringLiteral("Let"))) << texts.join(',').toStdString();
    ExpectBatchModeWritesTheSame();
}

TEST_F(ReturnValueType, ANumberTakenByTheGetOffersToTurnTheSetIntoALet) {
    Choose("IThing", "Parent");
    ASSERT_EQ(TypeShown(), "IDispatch*");
    Pick(QStringLiteral("long"));
    EXPECT_EQ(shownFirst, "[out, retval] IDispatch**");
    EXPECT_EQ(TypeShown(), "long");
    driving.answers = {dialogs::kAnswerYes};
    Update();
    ASSERT_EQ(driving.messages.size(), 1u);
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the corresponding Property Set to a Property Let with a last parameter of "
              "type '[in] long'?");
    EXPECT_TRUE(Function("Parent", "8").empty()) << Function("Parent", "8");
    EXPECT_NE(Function("Parent", "4").find("pflags=0x1 type=vt3"), std::string::npos) << Function("Parent", "4");
    EXPECT_NE(Function("Parent", "2").find("pflags=0xa type=ptr(vt3)"), std::string::npos) << Function("Parent", "2");
    ExpectBatchModeWritesTheSame();
}

TEST_F(ReturnValueType, AnIndexedPropertysLetTakesTheTypeAndItsSetAndIndexKeepTheirs) {
    Choose("IThing", "Item");
    ASSERT_EQ(TypeShown(), "VARIANT");
    Pick(QStringLiteral("BSTR"));
    EXPECT_EQ(shownFirst, "[out, retval] VARIANT*");
    EXPECT_EQ(TypeShown(), "BSTR");
    driving.answers = {dialogs::kAnswerYes};
    Update();
    ASSERT_EQ(driving.messages.size(), 1u);
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] BSTR'?");
    const std::string get = Function("Item", "2"), let = Function("Item", "4"), set = Function("Item", "8");
    EXPECT_NE(get.find("param 1 \"v\" pflags=0xa type=ptr(vt8)"), std::string::npos) << get;
    EXPECT_NE(get.find("param 0 \"index\" pflags=0x1 type=vt3"), std::string::npos) << get;
    EXPECT_NE(let.find("param 0 \"index\" pflags=0x1 type=vt3"), std::string::npos) << let;
    EXPECT_NE(let.find("pflags=0x1 type=vt8"), std::string::npos) << let;
    EXPECT_NE(set.find("pflags=0x1 type=vt9"), std::string::npos) << set;
    ExpectBatchModeWritesTheSame();
}

TEST_F(ReturnValueType, AGetAloneAndAMethodReturningAnArrayArePickedAsTheirReturnValue) {
    Choose("IThing", "Label");
    ASSERT_EQ(TypeShown(), "BSTR");
    Pick(QStringLiteral("long"));
    EXPECT_EQ(shownFirst, "[out, retval] BSTR*");
    Update();
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    EXPECT_NE(Function("Label", "2").find("pflags=0xa type=ptr(vt3)"), std::string::npos) << Function("Label", "2");

    // The array as it stands, taken again, is no edit.
    Choose("IThing", "Rows");
    const QString rows = TypeShown();
    driving.modal = [&](QDialog& dialog) {
        shownFirst = dialog.findChild<editor::TypePicker*>()->Prototype()->text().trimmed();
        static_cast<editor::frmSpecifyType&>(dialog).Ok()->click();
    };
    QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    driving.modal = nullptr;
    // A SAFEARRAY is named with the pointer it is.
    EXPECT_EQ(rows.toStdString(), "SAFEARRAY* of long");
    EXPECT_EQ(shownFirst.toStdString(), "[out, retval] SAFEARRAY** of long");
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(TypeShown(), rows);
    ExpectBatchModeWritesTheSame();
}

// Under each type constraint the return value's own type is offered, not
// marked as ruled out, and a type the constraint allows is taken.
TEST_F(ReturnValueType, EachTypeConstraintOffersTheReturnValuesType) {
    for (int32_t constraint = 0; constraint <= 4; ++constraint) {
        view->TypeConstraint(constraint);
        Choose("IThing", "Label");
        bool marked = true;
        driving.modal = [&](QDialog& dialog) {
            marked = dialog.findChild<QLabel*>(QStringLiteral("lblHeader"))->font().bold();
            shownFirst = dialog.findChild<editor::TypePicker*>()->Prototype()->text().trimmed();
            dialog.reject();
        };
        QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
        driving.modal = nullptr;
        EXPECT_FALSE(marked) << constraint;
        EXPECT_EQ(shownFirst.toStdString(), "[out, retval] BSTR*") << constraint;
        EXPECT_FALSE(view->InEditMode()) << constraint;
    }
    Pick(QStringLiteral("short"));
    EXPECT_EQ(TypeShown(), "short");
    Update();
    EXPECT_NE(Function("Label", "2").find("pflags=0xa type=ptr(vt2)"), std::string::npos) << Function("Label", "2");
    ExpectBatchModeWritesTheSame();
}

TEST_F(ReturnValueType, ADispinterfacesMethodAndPropertyArePickedAsTheirReturnValue) {
    Choose("DProps", "Find");
    ASSERT_EQ(TypeShown(), "BSTR");
    Pick(QStringLiteral("long"));
    EXPECT_EQ(shownFirst, "[out, retval] BSTR*");
    EXPECT_EQ(shownPicked, "[out, retval] long*");
    EXPECT_EQ(TypeShown(), "long");
    Update();
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();

    Choose("DProps", "Width");
    ASSERT_EQ(TypeShown(), "long");
    Pick(QStringLiteral("double"));
    EXPECT_EQ(shownFirst, "[out, retval] long*");
    EXPECT_EQ(TypeShown(), "double");
    driving.answers = {dialogs::kAnswerYes};
    Update();
    ASSERT_EQ(driving.messages.size(), 1u);
    EXPECT_EQ(driving.messages[0].toStdString(),
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] double'?");
    const std::string dump = tlbtools::DumpTypeLib(Lib());
    const std::string props = dump.substr(dump.find("\"DProps\""));
    EXPECT_NE(props.find("param 1 \"r\" pflags=0xa type=ptr(vt3)"), std::string::npos) << props;
    EXPECT_NE(props.find("param 0 \"r\" pflags=0xa type=ptr(vt5)"), std::string::npos) << props;
    EXPECT_NE(props.find("pflags=0x1 type=vt5"), std::string::npos) << props;
    ExpectBatchModeWritesTheSame();
}

// The program's own dialogs, but for the custom-data editor, which adds one item.
class CustDataDialogs : public editor::ViewerDialogs {
public:
    bool ChangeGuid(QWidget* owner, ole::GUID& guid) override { return standard_.ChangeGuid(owner, guid); }
    bool ChangeNonNullGuid(QWidget* owner, ole::GUID& guid) override { return standard_.ChangeNonNullGuid(owner, guid); }
    editor::SpecifiedType SpecifyType(QWidget* owner, int32_t usage, int32_t constraint, ole::ITypeLib* library,
                                      dialogs::LibraryCollection& referenced, tli::VarTypeInfo* current) override {
        return standard_.SpecifyType(owner, usage, constraint, library, referenced, current);
    }
    std::shared_ptr<CustDataChange> CustData(ChangeTarget& target, QWidget*, int32_t, bool&) override {
        auto change = modCustDataChange::NewCustDataChange(false);
        change->InitFromTarget(target);
        change->SetItem({0x7B2D1F66, 0x2C1E, 0x4F7D, {0x90, 0x22, 0x31, 0x44, 0x55, 0x66, 0x77, 0x99}},
                        ole::Variant(u"data"));
        return change;
    }

private:
    editor::StandardViewerDialogs standard_;
};

// A dispinterface's property whose accessors take and return the value itself,
// for each mix of accessors, with and without an index: the Get's return type
// is picked as the property's type, and the Let's or Set's value parameter on
// its own tab; each accessor offers the others the type, as a dual's does;
// the edits save, reload and replay in batch mode to the same file.
class DispinterfaceProperty : public ReturnValueType, public ::testing::WithParamInterface<AccessorMix> {
protected:
    std::string Type(const std::string& name, INVOKEKIND kind, int position) {
        const ComPtr<ITypeInfo> text = changestest::TypeNamed(Lib(), u"DText");
        return AccessorTypeAt(text.get(), ole::FromUtf8(name).c_str(), kind, position);
    }
    QString Tab() {
        auto* tabs = view->findChild<QTabBar*>();
        return tabs->tabText(tabs->currentIndex());
    }
    // An accessor of DText's property name as "ret(param, ...)", each as AccessorTypeAt gives it.
    std::string Accessor(const std::string& name, INVOKEKIND kind) {
        const ComPtr<ITypeInfo> info = changestest::TypeNamed(Lib(), u"DText");
        const std::u16string member = ole::FromUtf8(name);
        UINT index = 0;
        if (FAILED(info.As<ITypeInfo2>()->GetFuncIndexOfMemId(
                modITypeInfoHelper::MemberIDFromName(info.get(), member), kind, &index)))
            return "none";
        std::string text = AccessorTypeAt(info.get(), member.c_str(), kind, 0) + "(";
        for (int i = 1; i <= typelib_detail::FuncDescHolder(info.get(), index)->cParams; ++i)
            text += (i > 1 ? ", " : "") + AccessorTypeAt(info.get(), member.c_str(), kind, i);
        return text + ")";
    }
    // The texts of a member node's parameter nodes, joined by ", ".
    std::string ParamNodes(const char* type, const char* name) {
        QTreeWidgetItem* member = NodeAt(view->Tree(), type, name);
        if (!member) return "<no node>";
        EnsureChildren(member);
        std::string text;
        for (int i = 0; i < member->childCount(); ++i)
            text += (i ? ", " : "") + member->child(i)->text(0).toStdString();
        return text;
    }
    // Runs the command of the context menu of type's member name.
    void RunOn(const char* type, const char* name, editor::MenuItem item, int32_t index) {
        Choose(type, name);
        view->RunMenuCommand(item, index);
        QCoreApplication::processEvents();
    }
    // Shows the tab of accessor bit on the pane of the current node.
    void ShowAccessor(int bit) {
        auto* tabs = view->findChild<QTabBar*>();
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabData(i).toInt() == bit) {
                QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(i).center());
                ASSERT_EQ(view->CurrentAccessor(), bit);
                return;
            }
        FAIL() << "no tab for " << bit;
    }
    // The names of the parameters of DText's member id, as its first accessor holds them.
    std::string Names(MEMBERID id) {
        const ComPtr<ITypeInfo> text = changestest::TypeNamed(Lib(), u"DText");
        std::string joined;
        for (const std::u16string& n : typelib_detail::ReadNames(text.get(), id, 4)) joined += ole::ToUtf8(n) + " ";
        return joined;
    }
    MEMBERID IdOf(const std::string& name) {
        return modITypeInfoHelper::MemberIDFromName(changestest::TypeNamed(Lib(), u"DText").get(), ole::FromUtf8(name));
    }
    // Updates; the questions asked are answered Yes and must be expected.
    void UpdateAsked(const std::vector<std::string>& expected) {
        driving.messages.clear();
        driving.answers.assign(expected.size(), dialogs::kAnswerYes);
        Update();
        std::vector<std::string> asked;
        for (const QString& message : driving.messages) asked.push_back(message.toStdString());
        EXPECT_EQ(asked, expected);
    }
};

TEST_P(DispinterfaceProperty, IsTypedThroughEachAccessorAndReplaysToTheSameFile) {
    const AccessorMix mix = GetParam();
    const std::string name = std::string(mix.name) + (mix.indexed ? "At" : "");
    const bool get = (mix.accessors & 2) != 0, let = (mix.accessors & 4) != 0, set = (mix.accessors & 8) != 0;
    const int value = mix.indexed ? 2 : 1;  // the value parameter's position
    const std::string letValue = set ? "VARIANT" : "BSTR";
    bool valueByLet = let;
    if (get) {
        Choose("DText", name.c_str());
        const std::string shown = let ? letValue : (set ? "IDispatch*" : "BSTR");
        ASSERT_EQ(TypeShown().toStdString(), shown);
        Pick(QStringLiteral("long"));
        EXPECT_EQ(caption, "Property Type");
        EXPECT_EQ(shownFirst.toStdString(), shown);
        EXPECT_FALSE(marked);
        EXPECT_EQ(TypeShown(), "long");
        std::vector<std::string> asked;
        if (let)
            asked = {"Would you like to change the type of the last parameter on the Property Let procedure to "
                     "'[in] long'?"};
        else if (set)
            asked = {"Would you like to change the corresponding Property Set to a Property Let with a last "
                     "parameter of type '[in] long'?"};
        UpdateAsked(asked);
        EXPECT_EQ(Type(name, INVOKE_PROPERTYGET, 0), "3");
        if (let || set) {
            EXPECT_EQ(Type(name, INVOKE_PROPERTYPUT, value), "3 flags 1");
        }
        if (let && set) {
            EXPECT_EQ(Type(name, INVOKE_PROPERTYPUTREF, value), "9 flags 1");
        }
        valueByLet = let || set;  // a Set alone became a Let
    }
    if (let || set) {
        // The value parameter: a node of its own, shown on its accessor's tab.
        QTreeWidgetItem* member = NodeAt(view->Tree(), "DText", name.c_str());
        ASSERT_TRUE(member);
        EnsureChildren(member);
        ASSERT_EQ(member->childCount(), value);
        EXPECT_EQ(member->child(value - 1)->text(0), "<New Value>");
        QCoreApplication::processEvents();
        view->Tree()->setCurrentItem(member->child(value - 1));
        ASSERT_EQ(view->ShownNode(), member->child(value - 1));
        EXPECT_EQ(Tab(), valueByLet ? "Dispinterface Property Let" : "Dispinterface Property Set");
        EXPECT_EQ(TypeShown().toStdString(),
                  "[in] " + (get ? std::string("long") : valueByLet ? letValue : std::string("IDispatch*")));
        Pick(valueByLet ? QStringLiteral("short") : QStringLiteral("IUnknown*"));
        EXPECT_EQ(caption, "Parameter Type");
        EXPECT_FALSE(marked);
        UpdateAsked(get ? std::vector<std::string>{"Would you like to synchronize the return type on the Property "
                                                   "Get procedure?"}
                        : std::vector<std::string>{});
        const INVOKEKIND kind = valueByLet ? INVOKE_PROPERTYPUT : INVOKE_PROPERTYPUTREF;
        EXPECT_EQ(Type(name, kind, value), valueByLet ? "2 flags 1" : "13 flags 1");
        if (get) {
            EXPECT_EQ(Type(name, INVOKE_PROPERTYGET, 0), "2");
        }
        if (mix.indexed) {
            EXPECT_EQ(Type(name, kind, 1), "3 flags 1");
        }
    }
    ExpectBatchModeWritesTheSame();
}

// Nothing is asked that can't be done or is done already: a Let that has
// the Get's new type needs nothing, and an interface's Get that returns the
// value has no return value parameter to take the Let's. A Let's return type
// is not offered to a Get, which shows the property's type: a
// dispinterface's, nor a dual's.
// A Let whose value the file stores without direction flags (as widl writes
// mshtml's properties): the type dialog offers the flags it has beside [in]
// and [in, out], marks nothing and takes OK at once; the new type keeps the
// flags as they were, in the file the platform reads too.
TEST_F(DispinterfaceProperty, ALetsValueWithoutFlagsKeepsThemThroughTheTypeDialog) {
    QTreeWidgetItem* value = NodeAt(view->Tree(), "DText", "Bare", "<New Value>");
    ASSERT_TRUE(value);
    view->Tree()->setCurrentItem(value);
    ASSERT_EQ(TypeShown(), "BSTR");
    Pick(QStringLiteral("long"));
    EXPECT_EQ(flagsFirst.join(QStringLiteral("|")).toStdString(), "*(none)|[in]|[in, out]");
    EXPECT_TRUE(okFirst);
    EXPECT_EQ(shownPicked, "long");
    EXPECT_EQ(TypeShown(), "long");
    UpdateAsked({"Would you like to synchronize the return type on the Property Get procedure?"});
    EXPECT_EQ(Type("Bare", INVOKE_PROPERTYPUT, 1), "3 flags 0");
    EXPECT_EQ(Type("Bare", INVOKE_PROPERTYGET, 0), "3");
    ExpectBatchModeWritesTheSame();
}

TEST_F(DispinterfaceProperty, AsksOnlyForChangesThatCanBeMade) {
    Choose("DText", "Same");
    Pick(QStringLiteral("long"));
    UpdateAsked({});
    EXPECT_EQ(Type("Same", INVOKE_PROPERTYGET, 0), "3");
    EXPECT_EQ(Type("Same", INVOKE_PROPERTYPUT, 1), "3 flags 1");
    QTreeWidgetItem* size = NodeAt(view->Tree(), "IText", "Size", "<New Value>");
    ASSERT_TRUE(size);
    view->Tree()->setCurrentItem(size);
    ASSERT_EQ(TypeShown(), "[in] long");
    Pick(QStringLiteral("short"));
    UpdateAsked({});
    const ComPtr<ITypeInfo> text = changestest::TypeNamed(Lib(), u"IText");
    EXPECT_EQ(AccessorTypeAt(text.get(), u"Size", INVOKE_PROPERTYPUT, 1), "2 flags 1");
    EXPECT_EQ(AccessorTypeAt(text.get(), u"Size", INVOKE_PROPERTYGET, 0), "3");

    Choose("DText", "GLS");
    auto* tabs = view->findChild<QTabBar*>();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_EQ(Tab(), "Let");
    ASSERT_EQ(TypeShown(), "void");
    Pick(QStringLiteral("HRESULT"));
    UpdateAsked({"Would you like to synchronize the return type on the Property Set procedure?"});
    EXPECT_EQ(Type("GLS", INVOKE_PROPERTYPUTREF, 0), "25");
    EXPECT_EQ(Type("GLS", INVOKE_PROPERTYGET, 0), "12");

    Choose("IThing", "Count");
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_EQ(Tab(), "Let");
    Pick(QStringLiteral("void"));
    UpdateAsked({});
    EXPECT_NE(Function("Count", "2").find("ret=vt25"), std::string::npos) << Function("Count", "2");
    EXPECT_NE(Function("Count", "2").find("pflags=0xa type=ptr(vt3)"), std::string::npos) << Function("Count", "2");
    ExpectBatchModeWritesTheSame();
}

// The accessors a property lacks, added from its context menu one by one,
// take and return the value itself as the others do: a Let or Set takes the
// Get's index and then the value, and returns nothing; a Get takes the
// index and returns the value. With all three, the Get goes and comes back.
// The tree shows the value's node; the edits save, reload and replay in
// batch mode to the same file.
TEST_P(DispinterfaceProperty, TheAccessorsItLacksAreAddedFromTheMenuAndReplayToTheSameFile) {
    const AccessorMix mix = GetParam();
    const std::string name = std::string(mix.name) + (mix.indexed ? "At" : "");
    const bool let = (mix.accessors & 4) != 0, set = (mix.accessors & 8) != 0;
    // The property's type, and the type of the value its Set takes.
    const std::string value = let ? (set ? "12" : "8") : (set ? "9" : "8");
    const std::string setValue = set ? "9" : value;
    const std::string index = mix.indexed ? "3 flags 1" : "";
    const std::string before = mix.indexed ? "3 flags 1, " : "";
    // The property's parameter nodes are built (as expanding it builds them).
    ASSERT_EQ(ParamNodes("DText", name.c_str()), mix.indexed ? (mix.accessors & 12 ? "i, <New Value>" : "i")
                                                               : (mix.accessors & 12 ? "<New Value>" : ""));
    // The accessors it lacks; with all three, its Get deleted first.
    int32_t adding = 14 & ~mix.accessors;
    if (adding == 0) {
        RunOn("DText", name.c_str(), editor::MenuItem::mnuDeletePropPick, 2);
        adding = 2;
    }
    for (const int32_t bit : {2, 4, 8}) {
        if ((adding & bit) == 0) continue;
        RunOn("DText", name.c_str(), editor::MenuItem::mnuAddFuncPick, bit);
        ASSERT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    }
    EXPECT_EQ(Accessor(name, INVOKE_PROPERTYGET), value + "(" + index + ")");
    EXPECT_EQ(Accessor(name, INVOKE_PROPERTYPUT), "24(" + before + value + " flags 1)");
    EXPECT_EQ(Accessor(name, INVOKE_PROPERTYPUTREF), "24(" + before + setValue + " flags 1)");
    EXPECT_EQ(ParamNodes("DText", name.c_str()), mix.indexed ? "i, <New Value>" : "<New Value>");
    EXPECT_EQ(recorder.ItemCount(), std::popcount(static_cast<unsigned>(adding)) + (mix.accessors == 14 ? 1 : 0));
    ExpectBatchModeWritesTheSame();
}

// An accessor the library fails to add, at each step, leaves the live
// library, the tree and the history as they were, and says why; added
// afterwards, it stands and replays.
TEST_F(DispinterfaceProperty, AnAccessorThatFailsToBeAddedLeavesNoTrace) {
    const std::string library = changestest::Dump(Lib());
    const std::string gAt = ParamNodes("DText", "GAt"), lAt = ParamNodes("DText", "LAt");
    for (const char* method : {"AddFuncDesc", "SetFuncAndParamNames", "LayOut"}) {
        for (const auto& [name, bit] : {std::pair{"GAt", 4}, std::pair{"LAt", 2}}) {
            SCOPED_TRACE(std::string(method) + " " + name);
            driving.messages.clear();
            ole::testing::FailNextCall(method, E_OUTOFMEMORY);
            RunOn("DText", name, editor::MenuItem::mnuAddFuncPick, bit);
            ole::testing::ClearInjectedFailures();
            ASSERT_EQ(driving.messages.size(), 1u);
            EXPECT_TRUE(driving.messages[0].contains(QStringLiteral("memory"), Qt::CaseInsensitive))
                << driving.messages[0].toStdString();
            EXPECT_EQ(changestest::Dump(Lib()), library);
            EXPECT_EQ(ParamNodes("DText", "GAt"), gAt);
            EXPECT_EQ(ParamNodes("DText", "LAt"), lAt);
            EXPECT_EQ(recorder.ItemCount(), 0);
        }
    }
    driving.messages.clear();
    RunOn("DText", "GAt", editor::MenuItem::mnuAddFuncPick, 4);
    RunOn("DText", "LAt", editor::MenuItem::mnuAddFuncPick, 2);
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    EXPECT_EQ(Accessor("GAt", INVOKE_PROPERTYPUT), "24(3 flags 1, 8 flags 1)");
    EXPECT_EQ(Accessor("LAt", INVOKE_PROPERTYGET), "8(3 flags 1)");
    ExpectBatchModeWritesTheSame();
}

// An interface's Get that returns the value itself, with no parameters,
// given a Let from the menu: the Let takes a value of the Get's type and
// returns an HRESULT. The edits replay in batch mode to the same file.
TEST_F(DispinterfaceProperty, AnInterfacesGetThatReturnsTheValueGetsALetOfItsType) {
    RunOn("IText", "Size", editor::MenuItem::mnuDeletePropPick, 4);
    RunOn("IText", "Size", editor::MenuItem::mnuAddFuncPick, 4);
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    const ComPtr<ITypeInfo> text = changestest::TypeNamed(Lib(), u"IText");
    EXPECT_EQ(AccessorTypeAt(text.get(), u"Size", INVOKE_PROPERTYPUT, 0), "25");
    EXPECT_EQ(AccessorTypeAt(text.get(), u"Size", INVOKE_PROPERTYPUT, 1), "3 flags 1");
    EXPECT_EQ(ParamNodes("IText", "Size"), "<New Value>");
    EXPECT_EQ(recorder.ItemCount(), 2);
    ExpectBatchModeWritesTheSame();
}

// The index of a property whose Get returns the value itself is an ordinary
// [in] parameter on every accessor's tab: the Get's as the Let's or Set's,
// deletable, with no return value to insert, on the parameter nor on the
// property. Renamed with F2 it is renamed in every accessor (the Get going
// then leaves the Let's or Set's name); a rename that fails half-way leaves
// every accessor's name. Each saves and replays in batch mode to the same file.
TEST_P(DispinterfaceProperty, ItsIndexIsAnOrdinaryParameterOfEachAccessorAndRenamedInAll) {
    const AccessorMix mix = GetParam();
    const std::string name = std::string(mix.name) + (mix.indexed ? "At" : "");
    Choose("DText", name.c_str());
    EXPECT_EQ(RightClickMenu(*view, NodeAt(view->Tree(), "DText", name.c_str())).find("Ret&urn Value"),
              std::string::npos);
    if (!mix.indexed) return;
    QTreeWidgetItem* index = NodeAt(view->Tree(), "DText", name.c_str(), "i");
    ASSERT_TRUE(index);
    for (const int bit : {2, 4, 8}) {
        if ((mix.accessors & bit) == 0) continue;
        SCOPED_TRACE(bit);
        Choose("DText", name.c_str());
        ShowAccessor(bit);
        view->Tree()->setCurrentItem(index);
        ASSERT_EQ(view->CurrentAccessor(), bit);
        EXPECT_EQ(TypeShown(), "[in] long");
        auto* optional = static_cast<QComboBox*>(view->MemberPaneField(editor::LibraryViewer::MemberField::Optional));
        EXPECT_EQ(optional->currentText(), "Required");
        const std::string menu = RightClickMenu(*view, index);
        EXPECT_NE(menu.find("&Delete Parameter"), std::string::npos) << menu;
        EXPECT_EQ(menu.find("Ret&urn Value"), std::string::npos) << menu;
    }

    // A rename whose second accessor fails leaves both as they were.
    const MEMBERID id = IdOf(name);
    const std::string library = changestest::Dump(Lib());
    const int accessors = std::popcount(static_cast<unsigned>(mix.accessors));
    view->Tree()->setCurrentItem(index);
    if (accessors > 1) {
        ole::testing::FailNextCall("SetFuncAndParamNames", E_OUTOFMEMORY, accessors - 1);
        RenameCurrentNode(view->Tree(), QStringLiteral("row"));
        ole::testing::ClearInjectedFailures();
        EXPECT_EQ(changestest::Dump(Lib()), library);
        EXPECT_EQ(index->text(0), "i");
        EXPECT_EQ(recorder.ItemCount(), 0);
        driving.messages.clear();
    }
    RenameCurrentNode(view->Tree(), QStringLiteral("row"));
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    EXPECT_EQ(Names(id), name + " row ");
    // Each accessor's own names: the first goes, the next shows its own.
    for (const int bit : {2, 4}) {
        if ((mix.accessors & bit) == 0 || (mix.accessors & ~(bit * 2 - 1)) == 0) continue;
        RunOn("DText", name.c_str(), editor::MenuItem::mnuDeletePropPick, bit);
        EXPECT_EQ(Names(id), name + " row ") << bit;
    }
    EXPECT_EQ(ParamNodes("DText", name.c_str()).substr(0, 3), "row");
    ExpectBatchModeWritesTheSame();
}

// A parameter inserted from the property on each accessor's tab goes in
// front of every accessor's parameters, and the index deleted from the first
// tab goes from every accessor: a Get that returns the value itself has no
// return value behind its indexes. An insert that fails half-way leaves the
// library as it was. Each saves and replays in batch mode to the same file.
TEST_P(DispinterfaceProperty, ParametersAreInsertedAndDeletedFromEachAccessorsTab) {
    const AccessorMix mix = GetParam();
    const std::string name = std::string(mix.name) + (mix.indexed ? "At" : "");
    const std::string library = changestest::Dump(Lib());
    // What each accessor returns or takes as the value, before the edits.
    std::map<int, std::string> values;
    for (const auto& [bit, kind] : {std::pair{4, INVOKE_PROPERTYPUT}, std::pair{8, INVOKE_PROPERTYPUTREF}})
        if (mix.accessors & bit) values[bit] = Type(name, kind, mix.indexed ? 2 : 1);
    if (mix.accessors & 2) values[2] = Type(name, INVOKE_PROPERTYGET, 0);
    int inserted = 0;
    for (const int bit : {2, 4, 8}) {
        if ((mix.accessors & bit) == 0) continue;
        SCOPED_TRACE(bit);
        Choose("DText", name.c_str());
        ShowAccessor(bit);
        if (inserted == 0 && mix.accessors != bit) {
            ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY, 1);
            view->RunMenuCommand(editor::MenuItem::mnuInsertParamPick, 0, InsertParamChange::kRequired);
            ole::testing::ClearInjectedFailures();
            EXPECT_EQ(driving.messages.size(), 1u);
            EXPECT_EQ(changestest::Dump(Lib()), library);
            driving.messages.clear();
        }
        view->RunMenuCommand(editor::MenuItem::mnuInsertParamPick, 0, InsertParamChange::kRequired);
        QCoreApplication::processEvents();
        EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
        if (QLineEdit* open = treetest::LabelEditor(view->Tree())) QTest::keyClick(open, Qt::Key_Escape);
        ++inserted;
    }
    EXPECT_EQ(recorder.ItemCount(), inserted);
    const auto expected = [&](int bit, bool index) {
        if ((mix.accessors & bit) == 0) return std::string("none");
        std::string params;
        for (int i = 0; i < inserted + (index ? 1 : 0); ++i) params += "3 flags 1, ";
        if (bit == 2) return values[2] + "(" + params.substr(0, params.empty() ? 0 : params.size() - 2) + ")";
        return "24(" + params + values[bit] + ")";
    };
    for (const bool index : {mix.indexed, false}) {
        EXPECT_EQ(Accessor(name, INVOKE_PROPERTYGET), expected(2, index));
        EXPECT_EQ(Accessor(name, INVOKE_PROPERTYPUT), expected(4, index));
        EXPECT_EQ(Accessor(name, INVOKE_PROPERTYPUTREF), expected(8, index));
        if (!mix.indexed) break;
        // The index deleted on the first accessor's tab.
        Choose("DText", name.c_str());
        ShowAccessor(mix.accessors & -mix.accessors);
        view->Tree()->setCurrentItem(NodeAt(view->Tree(), "DText", name.c_str(), "i"));
        view->RunMenuCommand(editor::MenuItem::mnuDelete);
        QCoreApplication::processEvents();
        EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
        EXPECT_FALSE(NodeAt(view->Tree(), "DText", name.c_str(), "i"));
    }
    ExpectBatchModeWritesTheSame();
}

// The other edits of each mix, made on each accessor's tab: the index's
// type, an attribute, the member ID, custom data on the value and on the
// index. Each applies without a message, is recorded, saves and replays in
// batch mode to the same file.
TEST_P(DispinterfaceProperty, EachAccessorsEditsReplayToTheSameFile) {
    const AccessorMix mix = GetParam();
    const std::string name = std::string(mix.name) + (mix.indexed ? "At" : "");
    const char* member = name.c_str();
    CustDataDialogs custData;
    view->SetDialogs(&custData);
    int items = 0;
    for (const int bit : {2, 4, 8}) {
        if ((mix.accessors & bit) == 0) continue;
        SCOPED_TRACE(bit);
        Choose("DText", member);
        ShowAccessor(bit);
        auto* options = static_cast<QListWidget*>(view->DetailsField(Field::Options));
        const QList<QListWidgetItem*> hidden = options->findItems(QStringLiteral("hidden"), Qt::MatchExactly);
        ASSERT_EQ(hidden.size(), 1);
        options->setFocus();
        options->setCurrentItem(hidden[0]);
        QTest::keyClick(options, Qt::Key_Space);
        Update();
        ++items;
        if (!mix.indexed) continue;
        view->Tree()->setCurrentItem(NodeAt(view->Tree(), "DText", member, "i"));
        ASSERT_EQ(view->CurrentAccessor(), bit);
        Pick(bit == 2 ? QStringLiteral("short") : bit == 4 ? QStringLiteral("double") : QStringLiteral("BSTR"));
        Update();
        view->RunMenuCommand(editor::MenuItem::mnuCustData);
        QCoreApplication::processEvents();
        items += 2;
    }
    Choose("DText", member);
    auto* id = static_cast<QLineEdit*>(view->MemberPaneField(editor::LibraryViewer::MemberField::MemberId));
    id->setFocus();
    id->selectAll();
    QTest::keyClicks(id, QStringLiteral("77"));
    Update();
    ++items;
    EXPECT_EQ(IdOf(name), 77);
    if (mix.accessors & 12) {
        view->Tree()->setCurrentItem(NodeAt(view->Tree(), "DText", member, "<New Value>"));
        view->RunMenuCommand(editor::MenuItem::mnuCustData);
        QCoreApplication::processEvents();
        ++items;
    }
    EXPECT_TRUE(driving.messages.empty()) << driving.messages.front().toStdString();
    EXPECT_EQ(recorder.ItemCount(), items);
    ExpectBatchModeWritesTheSame();
    view->SetDialogs(nullptr);
}

// Pictures of a dispinterface property's member pane and of its Let's value
// parameter's pane, light and dark, for a person to look at.
TEST_F(DispinterfaceProperty, Screenshots) {
    view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 30);
    QTreeWidgetItem* member = NodeAt(view->Tree(), "DText", "GLSAt");
    ASSERT_TRUE(member);
    EnsureChildren(member);
    ASSERT_EQ(member->childCount(), 2);
    const QPalette light = QApplication::palette();
    for (QTreeWidgetItem* node : {member, member->child(1)}) {
        view->Tree()->setCurrentItem(node);
        for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", testsupport::DarkPalette()}}) {
            QApplication::setPalette(palette);
            view->setPalette(palette);
            QCoreApplication::processEvents();
            testsupport::SaveScreenshots(*view, std::string("viewer-dispinterface-property-") +
                                                    (node == member ? "member" : "let-value") + "-" + theme);
        }
    }
    QApplication::setPalette(light);
    view->setPalette(light);
    EXPECT_EQ(Tab(), "Dispinterface Property Let");
}

INSTANTIATE_TEST_SUITE_P(Mixes, DispinterfaceProperty,
                         ::testing::ValuesIn([] {
                             std::vector<AccessorMix> mixes;
                             for (const bool indexed : {false, true})
                                 for (AccessorMix mix : kMixes) mixes.push_back({mix.name, mix.accessors, indexed});
                             return mixes;
                         }()),
                         [](const auto& info) { return std::string(info.param.name) + (info.param.indexed ? "At" : ""); });

}  // namespace
}  // namespace treetest

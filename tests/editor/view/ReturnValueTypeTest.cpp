// The type of a function whose last parameter is its return value, picked in
// the member pane as that parameter: properties with a Get and a Let, with an
// object Let, with index parameters and a Let and a Set, a Get alone, and a
// method returning an array. The other accessor follows when the user says
// Yes and keeps its type on No; each edit saves and replays in batch mode to
// the same file.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <functional>

#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "dialogs/UiServices.h"
#include "editor/pickers/TypePicker.h"
#include "editor/pickers/frmSpecifyType.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "tools/DumpTypeLib.h"

namespace treetest {
namespace {

using Field = editor::LibraryViewer::Field;

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
        EXPECT_EQ(testsupport::ReadBytes(dir / "view.tlb"), testsupport::ReadBytes(dir / "batch.tlb"));
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
    QString shownFirst, shownPicked;
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

}  // namespace
}  // namespace treetest

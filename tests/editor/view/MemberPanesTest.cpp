// The member and parameter panes of the library editor view, driven as a user
// drives them: fields typed into, settings chosen, types picked, Update
// pressed. The saved and reloaded library shows the edits, and the edits,
// recorded by a history engine on the view's hub and run by the program in
// batch mode on a fresh copy, give the same file.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QTabBar>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <deque>
#include <tuple>
#include <vector>

#include "changes/ChangesTestSupport.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using MemberField = editor::LibraryViewer::MemberField;

// The type dialogs answer with an intrinsic type (vt) or the type named
// (name), with pointer levels.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    explicit ScriptedDialogs(editor::LibraryViewer& view) : view_(view) {}
    ole::VARTYPE vt = 0;
    std::u16string name;
    int16_t pointers = 0;
    int asked = 0;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        ++asked;
        return {true, Chosen()};
    }
    editor::SpecifiedType SpecifyParamType(QWidget*, int32_t, int32_t, int32_t, ole::ITypeLib*,
                                           dialogs::LibraryCollection&, tli::VarTypeInfo*, int32_t&, bool) override {
        ++asked;
        return {true, Chosen()};
    }

private:
    ComPtr<CustomVarTypeInfo> Chosen() {
        ole::ITypeLib* library = view_.CurrentLibraryITypeLib().get();
        ComPtr<CustomVarTypeInfo> chosen;
        if (name.empty()) {
            chosen = CustomVarTypeInfo::New();
            chosen->CurrentITypeLib(library);
            chosen->SetType(vt, nullptr);
        } else {
            chosen = TypeChosen(library, name);
        }
        chosen->PointerLevel(pointers);
        return chosen;
    }
    editor::LibraryViewer& view_;
};

// The interface half of type name of lib.
ComPtr<ITypeInfo> Interface(ITypeLib* lib, const char16_t* name) {
    ComPtr<ITypeInfo> info = changestest::TypeNamed(lib, name);
    ComPtr<ITypeLib> holder;
    UINT index = 0;
    EXPECT_OK(info->GetContainingTypeLib(holder.put(), &index));
    return modITypeInfoHelper::GetInterfaceTypeInfo(lib, index);
}

// "invokekind:memid" of every function of info named name.
std::string Functions(ITypeInfo* info, const char16_t* name) {
    TYPEATTR* attr = nullptr;
    EXPECT_OK(info->GetTypeAttr(&attr));
    const UINT count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    std::string found;
    for (UINT i = 0; i < count; ++i) {
        typelib_detail::FuncDescHolder func(info, i);
        ole::BSTR text = nullptr;
        EXPECT_OK(info->GetDocumentation(func->memid, &text, nullptr, nullptr, nullptr));
        if (typelib_detail::TakeBstr(text) == name)
            found += (found.empty() ? "" : " ") + std::to_string(func->invkind) + ":" + std::to_string(func->memid);
    }
    return found;
}

class MemberPanes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    MemberPanes() : scoped(services) {}

    // Opens the sample library from a file, with a history engine on the
    // view's hub; more adds to the sample first.
    void Open(void (*more)(ICreateTypeLib2*) = nullptr) {
        const fs::path in = dir / "in.tlb";
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8(in.string()));
            if (more) more(created.get());
            ASSERT_OK(created->SaveAllChanges());
        }
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8(in.string()).c_str(), loaded.put()));
        ShowViewer(view, hub, &dialogs, 36);
        view.CurrentITypeLib(loaded.get());
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        history.ChangeListener(hub);
        history.CurrentITypeLib(view.CurrentLibraryITypeLib().get());
    }
    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr, const char* param = nullptr) {
        return NodeAt(Tree(), type, member, param);
    }
    void Select(QTreeWidgetItem* node) {
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    QLineEdit* Edit(MemberField field) { return static_cast<QLineEdit*>(view.MemberPaneField(field)); }
    // Tabs into the field (which selects its text) and types text over it.
    void Type(MemberField field, const char* text) {
        QLineEdit* edit = Edit(field);
        ASSERT_TRUE(edit->isVisible());
        ASSERT_TRUE(edit->isEnabled());
        edit->clearFocus();
        edit->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(edit->text().isEmpty() || edit->selectedText() == edit->text());
        QTest::keyClick(edit, Qt::Key_Delete);
        const QString typed = QString::fromUtf8(text);
        bool ascii = true;
        for (QChar c : typed) ascii = ascii && c.unicode() < 128;
        if (ascii)
            QTest::keyClicks(edit, typed);
        else
            edit->insert(typed);  // as an input method enters it
    }
    void Update() {
        ASSERT_TRUE(view.DetailsField(Field::Update)->isEnabled());
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode());
    }
    void ChooseType() { QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton); }
    QString Caption(QWidget* field) {
        for (QLabel* label : view.findChildren<QLabel*>())
            if (label->buddy() == field) return label->text();
        return {};
    }
    QStringList OptionalEntries() {
        auto* list = static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional));
        QStringList entries;
        for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
        return entries;
    }
    QString CurrentOptional() {
        return static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional))->currentText();
    }
    // Saves the history and the view's library; the program replays the
    // history on a fresh copy; both files must be the same. The saved library.
    ComPtr<ITypeLib> SaveAndReplay() { return treetest::SaveAndReplay(history, view, dir.path()); }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs{view};
    Playback history;
};

TEST_F(MemberPanes, MemberEditsSaveReloadAndReplay) {
    Open();
    // An enum value: no type, a value and a member ID.
    Select(At("Colors", "Green"));
    EXPECT_FALSE(view.DetailsField(Field::SetType)->isVisible());
    EXPECT_EQ(Caption(Edit(MemberField::ConstValue)), "Constant &Value");
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "1");
    Type(MemberField::ConstValue, "abc");
    EXPECT_TRUE(view.InEditMode());
    EXPECT_FALSE(view.DetailsField(Field::Update)->isEnabled());
    EXPECT_EQ(view.InvalidFields(), 8);
    Type(MemberField::ConstValue, "&H10");
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    // A module constant of a string type refuses a character the file can't hold.
    Select(At("Kernel", "Greeting"));
    Type(MemberField::ConstValue, "\xD0\x96");
    EXPECT_EQ(view.InvalidFields(), 8);
    EXPECT_TRUE(Edit(MemberField::ConstValue)->toolTip().contains(QChar(0x416)));
    Type(MemberField::ConstValue, "tab\\there");
    EXPECT_TRUE(Edit(MemberField::ConstValue)->toolTip().isEmpty());
    Update();
    // A module function: DLL name and an ordinal entry.
    Select(At("Kernel", "Beep"));
    EXPECT_EQ(Edit(MemberField::DllName)->text(), "kernel32.dll");
    EXPECT_EQ(Edit(MemberField::DllEntry)->text(), "Beep");
    Type(MemberField::DllName, " user32.dll");
    EXPECT_EQ(view.InvalidFields(), 16);
    Type(MemberField::DllName, "user32.dll");
    Type(MemberField::DllEntry, "#0");
    EXPECT_EQ(view.InvalidFields(), 32);
    Type(MemberField::DllEntry, "#12");
    Update();
    Select(At("Kernel", "ByOrdinal"));
    EXPECT_EQ(Edit(MemberField::DllEntry)->text(), "#7");
    // A method's ID: another member's is refused, naming it; a free one is taken.
    Select(At("IShape", "Zoom"));
    EXPECT_EQ(Caption(Edit(MemberField::MemberId)), "&MemberID");
    const QString areaId = [&] {
        Select(At("IShape", "Area"));
        return Edit(MemberField::MemberId)->text();
    }();
    Select(At("IShape", "Zoom"));
    Type(MemberField::MemberId, areaId.toUtf8().constData());
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], "This MemberID is currently assigned to 'Area'.");
    EXPECT_TRUE(view.InEditMode());
    Type(MemberField::MemberId, "&H77");
    Update();
    // A record field's type, and a method's flag.
    Select(At("Matrix", "one"));
    EXPECT_FALSE(view.DetailsField(Field::Options)->isVisible());
    EXPECT_EQ(Caption(view.DetailsField(Field::SetType)), "Field &Type");
    dialogs.vt = VT_I2;
    ChooseType();
    Update();
    Select(At("IShape", "Zoom"));
    EXPECT_EQ(Edit(MemberField::MemberId)->text(), "&H77");  // positive IDs in hexadecimal
    auto* options = static_cast<QListWidget*>(view.DetailsField(Field::Options));
    QListWidgetItem* hidden = options->findItems("hidden", Qt::MatchExactly).value(0);
    ASSERT_TRUE(hidden);
    options->setFocus();
    options->setCurrentItem(hidden);
    QTest::keyClick(options, Qt::Key_Space);
    Update();
    ASSERT_EQ(services.messages.size(), 1u);

    ComPtr<ITypeLib> saved = SaveAndReplay();
    ComPtr<ITypeInfo> shape = Interface(saved.get(), u"IShape");
    EXPECT_EQ(Functions(shape.get(), u"Zoom"), "1:119");
    ComPtr<ITypeInfo> colors = changestest::TypeNamed(saved.get(), u"Colors");
    VARDESC* green = nullptr;
    ASSERT_OK(colors->GetVarDesc(1, &green));
    EXPECT_EQ(green->lpvarValue->lVal, 16);
    colors->ReleaseVarDesc(green);
    ComPtr<ITypeInfo> kernel = changestest::TypeNamed(saved.get(), u"Kernel");
    MEMBERID beep = 0;
    std::u16string beepName = u"Beep";
    ole::OLECHAR* names[] = {beepName.data()};
    ASSERT_OK(kernel->GetIDsOfNames(names, 1, &beep));
    ole::BSTR dll = nullptr, entry = nullptr;
    WORD ordinal = 0;
    ASSERT_OK(kernel->GetDllEntry(beep, INVOKE_FUNC, &dll, &entry, &ordinal));
    EXPECT_EQ(typelib_detail::TakeBstr(dll), u"user32.dll");
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(ordinal, 12);
    typelib_detail::TakeBstr(entry);
}

// Changing a property get's return type offers the same type to its Let's
// value parameter: Yes gives it, No leaves the Let as it was.
TEST_F(MemberPanes, AccessorReturnTypesFollowOnYesOnly) {
    Open();
    Select(At("IShape", "Name"));
    EXPECT_EQ(view.CurrentAccessor(), 2);
    auto* tabs = view.findChild<QTabBar*>();
    // The accessors' tabs, then the help page's.
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Interface Property Get");
    EXPECT_EQ(tabs->tabText(1), "Let");
    EXPECT_EQ(Caption(view.DetailsField(Field::SetType)), "Return &Type");
    // The Get's type is its return value's: the Let's value parameter, not
    // its return type, is offered the type picked.
    dialogs.vt = VT_I4;
    services.answers = {dialogs::kAnswerYes};
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0],
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] long'?");
    dialogs.vt = VT_I2;
    services.answers = {dialogs::kAnswerNo};
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 2u);
    // The Let tab shows the Let's own return type.
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(view.CurrentAccessor(), 4);
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "HRESULT");

    ComPtr<ITypeLib> saved = SaveAndReplay();
    ComPtr<ITypeInfo> shape = Interface(saved.get(), u"IShape");
    // The Get returns HRESULT and its return value parameter points to the type picked.
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYGET, 0), "25");
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYGET, 1), "2* flags 10");
    // The Let returns HRESULT and takes the long offered first.
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYPUT, 0), "25");
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYPUT, 1), "3 flags 1");
}

// The optional settings offered by position, a default value typed, and the
// ParamArray, LCID and return-value positions.
TEST_F(MemberPanes, ParameterEditsSaveReloadAndReplay) {
    Open();
    Select(At("IShape", "Fill", "count"));
    EXPECT_EQ(Caption(Edit(MemberField::ConstValue)), "&Default Value");
    EXPECT_EQ(CurrentOptional(), "Typed Optional");
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "5");
    Type(MemberField::ConstValue, "x");
    EXPECT_EQ(view.InvalidFields(), 8);
    Type(MemberField::ConstValue, "9");
    Update();
    Select(At("IShape", "Fill", "extra"));
    EXPECT_EQ(CurrentOptional(), "Variant Optional");
    EXPECT_FALSE(Edit(MemberField::ConstValue)->isEnabled());
    // ParamArray and LCID positions have their one setting; the LCID keeps its type.
    Select(At("IShape", "Sum", "values"));
    EXPECT_EQ(OptionalEntries(), QStringList{"ParamArray"});
    EXPECT_FALSE(view.MemberPaneField(MemberField::Optional)->isEnabled());
    EXPECT_TRUE(view.DetailsField(Field::ChooseType)->isEnabled());
    Select(At("IShape", "Area", "lcid"));
    EXPECT_EQ(OptionalEntries(), QStringList{"LCID"});
    EXPECT_FALSE(view.DetailsField(Field::ChooseType)->isEnabled());
    // A method's return value takes another type; nothing else is asked.
    Select(At("IShape", "Area", "area"));
    EXPECT_EQ(OptionalEntries(), QStringList{"Return Value"});
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "[out, retval] double*");
    dialogs.vt = VT_R4;
    dialogs.pointers = 1;
    ChooseType();
    Update();
    // Zoom's factor made optional with a default, chosen with the keyboard.
    Select(At("IShape", "Zoom", "factor"));
    auto* optional = static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional));
    ASSERT_EQ(CurrentOptional(), "Required");
    ASSERT_GE(optional->findText("Typed Optional"), 0);
    optional->setFocus();
    QTest::keyClick(optional, Qt::Key_Down);
    ASSERT_EQ(CurrentOptional(), "Typed Optional");
    EXPECT_TRUE(Edit(MemberField::ConstValue)->isEnabled());
    Type(MemberField::ConstValue, "3");
    Update();
    EXPECT_TRUE(services.messages.empty());

    ComPtr<ITypeLib> saved = SaveAndReplay();
    ComPtr<ITypeInfo> shape = Interface(saved.get(), u"IShape");
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Area", INVOKE_FUNC, 3), "4* flags 10");
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Zoom", INVOKE_FUNC, 1), "3 flags 49");
}

// A property get's return value given another type: the Let's value follows
// on Yes (937); an object type offers to turn the Let into a Set (936), No
// leaving the Let, Yes converting it.
TEST_F(MemberPanes, AccessorValueParametersFollowAndConvert) {
    Open();
    Select(At("IShape", "Name", "name"));
    EXPECT_EQ(OptionalEntries(), QStringList{"Return Value"});
    dialogs.vt = VT_VARIANT;
    dialogs.pointers = 1;
    services.answers = {dialogs::kAnswerYes};
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0],
              "Would you like to change the type of the last parameter on the Property Let procedure to '[in] VARIANT'?");
    dialogs.vt = 0;
    dialogs.name = u"IShape";
    dialogs.pointers = 2;
    services.answers = {dialogs::kAnswerNo};
    Select(At("IShape", "Name", "name"));
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[1], "Would you like to change the corresponding Property Let to a Property Set with a "
                                    "last parameter of type '[in] IShape*'?");
    ComPtr<ITypeInfo> live = Interface(view.CurrentLibraryITypeLib().get(), u"IShape");
    EXPECT_EQ(AccessorTypeAt(live.get(), u"Name", INVOKE_PROPERTYPUT, 1), "12 flags 1");
    // Back to a Variant and to an object again, converting this time.
    dialogs.vt = VT_BSTR;
    dialogs.name.clear();
    dialogs.pointers = 1;
    services.answers = {dialogs::kAnswerNo};
    Select(At("IShape", "Name", "name"));
    ChooseType();
    Update();
    dialogs.vt = 0;
    dialogs.name = u"IShape";
    dialogs.pointers = 2;
    services.answers = {dialogs::kAnswerYes};
    Select(At("IShape", "Name", "name"));
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 4u);
    EXPECT_EQ(Functions(Interface(view.CurrentLibraryITypeLib().get(), u"IShape").get(), u"Name"),
              "2:1610743808 8:1610743808");
    {
        ComPtr<ITypeLib> saved = SaveAndReplay();
        ComPtr<ITypeInfo> shape = Interface(saved.get(), u"IShape");
        EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYGET, 1), "29** flags 10");
        EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYPUTREF, 1), "29* flags 1");
    }
    // A plain type on a property with a Set only offers to turn it back into a Let (935).
    dialogs.vt = VT_I4;
    dialogs.name.clear();
    dialogs.pointers = 1;
    services.answers = {dialogs::kAnswerYes};
    Select(At("IShape", "Name", "name"));
    ChooseType();
    Update();
    ASSERT_EQ(services.messages.size(), 5u);
    EXPECT_EQ(services.messages[4], "Would you like to change the corresponding Property Set to a Property Let with a "
                                    "last parameter of type '[in] long'?");
    ComPtr<ITypeLib> saved = SaveAndReplay();
    ComPtr<ITypeInfo> shape = Interface(saved.get(), u"IShape");
    EXPECT_EQ(AccessorTypeAt(shape.get(), u"Name", INVOKE_PROPERTYPUT, 1), "3 flags 1");
}

// Cancel shows the filled values again; an Update the library refuses says
// why under 933 and shows the library's values again.
TEST_F(MemberPanes, CancelAndAFailedUpdate) {
    Open();
    Select(At("Kernel", "Answer"));
    Type(MemberField::MemberId, "x");
    Type(MemberField::ConstValue, "y");
    EXPECT_EQ(view.InvalidFields(), 12);
    QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(view.InvalidFields(), 0);
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "42");
    // A record can't hold itself.
    Select(At("Matrix", "one"));
    const QString before = static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text();
    dialogs.name = u"Matrix";
    ChooseType();
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    ASSERT_EQ(services.messages.size(), 1u);
    const QStringList lines = services.messages[0].split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Update failed, restoring original values.");
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), before);
}

// A host's member-ID format refuses an ID that doesn't fit with 940 and
// keeps the edit; a fitting one is applied.
TEST_F(MemberPanes, AMemberIdOutsideTheHostsFormatIsRefused) {
    HostMemberIdRange ranges;
    Open();
    view.SetMemberIDConstraints(&ranges);
    Select(At("Colors", "Green"));
    Type(MemberField::MemberId, "&H40000002");
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], "The MemberID format violates current constraints.");
    EXPECT_TRUE(view.InEditMode());
    Type(MemberField::MemberId, "&H40000012");
    Update();
    EXPECT_EQ(Edit(MemberField::MemberId)->text(), "&H40000012");
    view.SetMemberIDConstraints(nullptr);
}

// Tab and an access key select a field's text; a click leaves the caret.
TEST_F(MemberPanes, KeyboardFocusSelectsTheText) {
    Open();
    Select(At("Kernel", "Beep"));
    QLineEdit* name = Edit(MemberField::DllName);
    QLineEdit* entry = Edit(MemberField::DllEntry);
    EXPECT_FALSE(Caption(name).isEmpty());
    QTest::mouseClick(entry, Qt::LeftButton, {}, QPoint(entry->width() - 4, entry->height() / 2));
    EXPECT_FALSE(entry->hasSelectedText());
    QTest::keyClick(view.window(), Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(name->hasFocus());
    EXPECT_EQ(name->selectedText(), "kernel32.dll");
    QTest::keyClick(name, Qt::Key_Tab);
    EXPECT_TRUE(entry->hasFocus());
    EXPECT_EQ(entry->selectedText(), "Beep");
    for (QLineEdit* field : {name, entry, Edit(MemberField::MemberId)})
        EXPECT_FALSE(field->accessibleName().isEmpty());
}

// Pictures of the member and parameter panes, light and dark.
TEST_F(MemberPanes, Screenshots) {
    Open();
    const std::pair<const char*, QTreeWidgetItem*> panes[] = {
        {"member-function", At("Kernel", "Beep")},
        {"member-constant", At("Colors", "Green")},
        {"member-property", At("IShape", "Name")},
        {"parameter", At("IShape", "Fill", "count")}};
    for (const auto& [name, node] : panes) {
        Select(node);
        view.setPalette(QApplication::palette());
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-") + name + "-pane");
        view.setPalette(DarkPalette());
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-") + name + "-pane-dark");
    }
    view.setPalette(QApplication::palette());
}

// With the keyboard alone: Tab from the tree runs through every field of a
// member's, a parameter's and a help page, top down, to Update and Cancel,
// and every control it reaches has a name that isn't its value.
TEST_F(MemberPanes, TabReachesEveryFieldOfThePanesInOrderAndEachHasAName) {
    Open();
    auto* tabs = view.findChild<QTabBar*>();
    for (const auto& [type, member, param, help] :
         std::vector<std::tuple<const char*, const char*, const char*, bool>>{{"Kernel", "Beep", nullptr, false},
                                                                             {"Kernel", "Greeting", nullptr, false},
                                                                             {"IShape", "Area", "lcid", false},
                                                                             {"IShape", "Zoom", nullptr, true}}) {
        Select(At(type, member, param));
        if (help) QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tabs->count() - 1).center());
        QCoreApplication::processEvents();
        const std::string where = std::string(type) + "." + member + (param ? std::string(".") + param : "");
        Tree()->setFocus(Qt::TabFocusReason);
        std::vector<QWidget*> path;
        for (int i = 0; i < 40 && (path.empty() || QApplication::focusWidget() != Tree()); ++i) {
            path.push_back(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget(), Tree()) << where << ": Tab never comes back to the tree";
        for (QWidget* control : view.findChildren<QWidget*>()) {
            if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisible() || !control->isEnabled()) continue;
            const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
            const std::string what = where + " " + control->metaObject()->className() + " '" + name.toStdString() + "'";
            EXPECT_NE(std::find(path.begin(), path.end(), control), path.end()) << "Tab doesn't reach " << what;
            EXPECT_FALSE(name.isEmpty()) << what;
            auto* line = qobject_cast<QLineEdit*>(control);
            if (line && !line->text().isEmpty()) {
                EXPECT_NE(name, line->text()) << what;
            }
        }
        // The fields come top down: each one reached lies no higher than the one before it.
        int lastY = -1;
        for (QWidget* reached : path) {
            const bool field = qobject_cast<QLineEdit*>(reached) || qobject_cast<QComboBox*>(reached) ||
                               qobject_cast<QListWidget*>(reached);
            if (!field) continue;
            const int y = reached->mapTo(&view, QPoint(0, 0)).y();
            EXPECT_GE(y, lastY) << where << " " << reached->accessibleName().toStdString();
            lastY = y;
        }
    }
}

// ---- Optional settings ----

// The types a default can have: a parameter of the type, the text a user
// types (null: none is read as the type) and the text shown for it.
struct DefaultOfType {
    const char* param;
    VARTYPE vt;
    const char* typed;
    const char* shown;
};
const DefaultOfType kDefaultTypes[] = {
    {"i1", VT_I1, "-5", "-5"},         {"ui1", VT_UI1, "200", "200"},      {"i2", VT_I2, "-300", "-300"},
    {"ui2", VT_UI2, "60000", "60000"}, {"i4", VT_I4, "-70000", "-70000"}, {"ui4", VT_UI4, "4000000000", "4000000000"},
    {"i", VT_INT, "-7", "-7"},         {"u", VT_UINT, "7", "7"},           {"i8", VT_I8, "-9", "-9"},
    {"ui8", VT_UI8, "9", "9"},         {"r4", VT_R4, "0.5", "0.5"},        {"r8", VT_R8, "0.1", "0.1"},
    {"cy", VT_CY, "1.2345", "1.2345"}, {"date", VT_DATE, "3/4/2001", "3/4/2001"},
    {"b", VT_BOOL, "True", "-1"},      {"v", VT_VARIANT, "2.5", "2.5"},    {"s", VT_BSTR, "a\\tb", "a\\tb"},
    {"e", VT_ERROR, nullptr, "0"},     {"hr", VT_HRESULT, nullptr, "0"},   {"dec", VT_DECIMAL, nullptr, "0"},
};

// Added to the sample:
//   interface IEach : IUnknown {
//     HRESULT Each([in] char i1, ..., [in] DECIMAL dec);   (one of each type of kDefaultTypes)
//     HRESULT Empty([in, optional, defaultvalue(<VT_EMPTY>)] long empty);
//     HRESULT Any([in] VARIANT any); }
void AddEach(ICreateTypeLib2* lib) {
    auto each = NewType(lib, u"IEach", TKIND_INTERFACE);
    EXPECT_OK(each->AddImplType(0, RefTo(each.get(), StdOle2Type(kIID_IUnknown).get())));
    Func all{.name = u"Each"};
    for (const DefaultOfType& t : kDefaultTypes) all.params.push_back({QString(t.param).toStdU16String(), Vt(t.vt)});
    AddFunc(each.get(), 0, all);
    const USHORT typedOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    AddFunc(each.get(), 1, {.name = u"Empty", .params = {{u"empty", Vt(VT_I4), typedOptional, Variant()}}});
    AddFunc(each.get(), 2, {.name = u"Any", .params = {{u"any", Vt(VT_VARIANT)}}});
    EXPECT_OK(each->LayOut());
}

// One edit of a parameter in its pane, as a user makes it: a type picked
// (an intrinsic one, or a pointer to a type of the library), an optional
// setting chosen, a default typed, Update. Then what the pane shows for the
// parameter of the saved library: the setting and the default (null: not
// looked at, a later edit changes the parameter again).
struct OptionalEdit {
    const char *type, *member, *param;
    VARTYPE vt = 0;
    const char16_t* object = nullptr;
    const char* setting = nullptr;
    const char* typed = nullptr;
    const char* shown = nullptr;
};

struct OptionalCase {
    const char* name;
    int32_t filter;  // the host's parameter commands (the default withheld), 0 for no filter
    std::vector<OptionalEdit> edits;
};

void PrintTo(const OptionalCase& c, std::ostream* os) { *os << c.name; }

// Each parameter of IEach.Each made typed optional, the last first (only the
// last required one may become optional), with its default or none typed.
std::vector<OptionalEdit> EachType(bool typed) {
    std::vector<OptionalEdit> edits;
    for (auto t = std::rbegin(kDefaultTypes); t != std::rend(kDefaultTypes); ++t)
        edits.push_back({"IEach", "Each", t->param, 0, nullptr, "Typed Optional", typed ? t->typed : nullptr,
                         typed ? t->shown : "0"});
    return edits;
}

class OptionalSettings : public MemberPanes, public ::testing::WithParamInterface<OptionalCase> {};

TEST_P(OptionalSettings, ChosenInThePaneSavedAndReplayedInBatchModeToTheSameFile) {
    const OptionalCase& c = GetParam();
    Open(AddEach);
    editor::CommandFilterRecord filter;
    filter.FilterOn = c.filter ? 1 : 0;
    filter.ParamCommands = c.filter;
    view.CommandFilter(filter);
    auto* optional = static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional));
    for (const OptionalEdit& e : c.edits) {
        SCOPED_TRACE(e.param);
        Select(At(e.type, e.member, e.param));
        if (e.vt || e.object) {
            dialogs.vt = e.vt;
            dialogs.name = e.object ? e.object : u"";
            dialogs.pointers = e.object ? 1 : 0;
            ChooseType();
        }
        if (e.setting) {
            // As the list's popup chooses it.
            const int index = optional->findText(e.setting);
            ASSERT_GE(index, 0);
            ASSERT_TRUE(optional->isEnabled());
            optional->setFocus();
            optional->setCurrentIndex(index);
            emit optional->activated(index);
        }
        if (e.typed) Type(MemberField::ConstValue, e.typed);
        ASSERT_EQ(view.InvalidFields(), 0);
        Update();
        if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(services.messages.empty()) << services.messages.front().toStdString();
    const ComPtr<ITypeLib> saved = SaveAndReplay();
    // The saved file holds what the user chose.
    view.CommandFilter({});
    view.CurrentITypeLib(saved.get());
    for (const OptionalEdit& e : c.edits) {
        if (!e.shown) continue;
        Select(At(e.type, e.member, e.param));
        EXPECT_EQ(CurrentOptional().toStdString(), e.setting ? e.setting : "Typed Optional") << e.param;
        EXPECT_EQ(Edit(MemberField::ConstValue)->text().toStdString(), e.shown) << e.param;
    }
}

const int32_t kWithheld = editor::kFilterParamType | editor::kFilterParamOptional;
const char *const kTyped = "Typed Optional", *const kNoDefault = "Typed Optional (No Default)";
const OptionalCase kOptionalCases[] = {
    {"TypedOptionalLeftEmpty", 0, {{"IDerived", "Go", "speed", 0, nullptr, kTyped, nullptr, "0"}}},
    {"TypedOptionalWithADefaultOfEachType", 0, EachType(true)},
    {"TypedOptionalLeftEmptyOfEachType", 0, EachType(false)},
    {"TypedOptionalNoDefault", 0, {{"IDerived", "Go", "speed", 0, nullptr, kNoDefault, nullptr, ""}}},
    // Optional before a required parameter has no default.
    {"TypedOptionalInsteadOfNoDefault", 0, {{"IShape", "Early", "first", 0, nullptr, kTyped, nullptr, "0"}}},
    {"VariantOptional", 0, {{"IEach", "Any", "any", 0, nullptr, "Variant Optional", nullptr, ""}}},
    {"VariantOptionalInsteadOfADefault", 0,
     {{"IShape", "Fill", "extra", 0, nullptr, kTyped, "2"},
      {"IShape", "Fill", "extra", 0, nullptr, "Variant Optional", nullptr, ""}}},
    {"RequiredInsteadOfADefault", 0, {{"IShape", "Fill", "count", 0, nullptr, "Required", nullptr, ""}}},
    {"NoDefaultInsteadOfADefault", 0, {{"IShape", "Fill", "count", 0, nullptr, kNoDefault, nullptr, ""}}},
    {"DefaultCleared", 0, {{"IShape", "Fill", "count", 0, nullptr, nullptr, "", "0"}}},
    {"TypedOptionalOfAnObject", 0, {{"IDerived", "Go", "speed", 0, u"IBase", kTyped, nullptr, ""}}},
    {"NoDefaultInsteadOfAnObjectDefault", 0,
     {{"IDerived", "Go", "speed", 0, u"IBase", kTyped},
      {"IDerived", "Go", "speed", 0, nullptr, kNoDefault, nullptr, ""}}},
    {"AnEmptyDefaultRetyped", 0, {{"IEach", "Empty", "empty", VT_I2, nullptr, nullptr, nullptr, "0"}}},
    {"TypedOptionalWithTheDefaultWithheld", kWithheld, {{"IDerived", "Go", "speed", 0, nullptr, kTyped, nullptr, "0"}}},
    {"AnEmptyDefaultRetypedWithTheDefaultWithheld", kWithheld,
     {{"IEach", "Empty", "empty", VT_I2, nullptr, nullptr, nullptr, "0"}}},
};

INSTANTIATE_TEST_SUITE_P(Settings, OptionalSettings, ::testing::ValuesIn(kOptionalCases),
                         [](const ::testing::TestParamInfo<OptionalCase>& info) { return info.param.name; });

}  // namespace
}  // namespace treetest

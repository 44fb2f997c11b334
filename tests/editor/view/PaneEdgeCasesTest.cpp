// The member, parameter and help panes put under strain: values of every type
// typed back as shown, edits saved and replayed, keys pressed while editing,
// edge texts of the field parsers and a large interface.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <tuple>

#include "../../../bench/LargeLibrary.h"
#include "changes/ChangesTestSupport.h"
#include "changes/hub/SelectiveChangeListener.h"
#include "dialogs/UiServices.h"
#include "dialogs/modDetailsFields.h"
#include "editor/view/LibraryViewer.h"
#include "platform/automation/BStr.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
namespace Fields = dialogs::modDetailsFields;
using Field = editor::LibraryViewer::Field;
using MemberField = editor::LibraryViewer::MemberField;

// The type dialogs answer with the intrinsic type vt (nothing when 0).
class NoDialogs : public editor::ViewerDialogs {
public:
    explicit NoDialogs(editor::LibraryViewer& view) : view_(view) {}
    ole::VARTYPE vt = 0;
    int16_t pointers = 0;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return Chosen();
    }
    editor::SpecifiedType SpecifyParamType(QWidget*, int32_t, int32_t, int32_t, ole::ITypeLib*,
                                           dialogs::LibraryCollection&, tli::VarTypeInfo*, int32_t&, bool) override {
        return Chosen();
    }

private:
    editor::SpecifiedType Chosen() {
        if (vt == 0) return {};
        ComPtr<CustomVarTypeInfo> chosen = CustomVarTypeInfo::New();
        chosen->CurrentITypeLib(view_.CurrentLibraryITypeLib().get());
        chosen->SetType(vt, nullptr);
        chosen->PointerLevel(pointers);
        return {true, chosen};
    }
    editor::LibraryViewer& view_;
};

Variant Date(double value) {
    VARIANT raw{};
    raw.vt = VT_DATE;
    raw.date = value;
    return Variant(raw);
}

Variant Currency(int64_t scaled) {
    CY cy{};
    cy.int64 = scaled;
    return Variant(cy);
}

// The sample library, and a module of constants of every type a library holds.
void BuildSample(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = BuildAllKinds(ole::FromUtf8(file.string()));
    ASSERT_TRUE(lib);
    auto consts = NewType(lib.get(), u"Consts", TKIND_MODULE);
    const std::pair<const char16_t*, Variant> values[] = {
        {u"cI1", Variant(int8_t{-5})},
        {u"cUI1", Variant(uint8_t{200})},
        {u"cI2", Variant(int16_t{-300})},
        {u"cUI2", Variant(uint16_t{60000})},
        {u"cI4", Variant(int32_t{-70000})},
        {u"cUI4", Variant(uint32_t{4000000000u})},
        {u"cR4", Variant(0.1f)},
        {u"cR8", Variant(0.1)},
        {u"cR8Big", Variant(1.7976931348623157e308)},
        {u"cR8Small", Variant(-2.5e-300)},
        {u"cCY", Currency(12345)},  // 1.2345
        {u"cDate", Date(36527.5)},  // 2000-01-02 12:00
        {u"cDay", Date(36527.0)},
        {u"cTrue", Variant(true)},
        {u"cFalse", Variant(false)},
        {u"cStr", Variant(std::u16string_view(u"a\tb\\c\"d"))},
        {u"cEmptyStr", Variant(std::u16string_view(u""))},
    };
    UINT index = 0;
    for (const auto& [name, value] : values) {
        TYPEDESC t = Vt(value.vt());
        AddVar(consts.get(), index++, name, t, VAR_CONST, &value);
    }
    EXPECT_OK(consts->LayOut());
    // A method whose optional parameters have defaults of many types.
    auto defaults = NewType(lib.get(), u"IDefaults", TKIND_INTERFACE);
    EXPECT_OK(defaults->AddImplType(0, RefTo(defaults.get(), StdOle2Type(kIID_IUnknown).get())));
    const USHORT opt = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    AddFunc(defaults.get(), 0,
            {.name = u"Opt",
             .params = {{u"pStr", Vt(VT_BSTR), opt, Variant(std::u16string_view(u"a\tb"))},
                        {u"pR8", Vt(VT_R8), opt, Variant(0.1)},
                        {u"pR4", Vt(VT_R4), opt, Variant(0.1f)},
                        {u"pDate", Vt(VT_DATE), opt, Date(36527.5)},
                        {u"pBool", Vt(VT_BOOL), opt, Variant(true)},
                        {u"pCy", Vt(VT_CY), opt, Currency(12345)},
                        {u"pI2", Vt(VT_I2), opt, Variant(int16_t{-1})},
                        {u"pDec", Vt(VT_DECIMAL), opt, Variant(DECIMAL{0, 0, 0, 0, 12})},
                        {u"pVar", Vt(VT_VARIANT), opt, Variant(int32_t{5})}}});
    EXPECT_OK(defaults->LayOut());
    ASSERT_OK(lib->SaveAllChanges());
}

class PaneEdgeCases : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    PaneEdgeCases() : scoped(services) {}

    void Open() {
        BuildSample(dir / "in.tlb");
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
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
    void Type(QLineEdit* edit, const QString& text) {
        ASSERT_TRUE(edit->isVisible());
        ASSERT_TRUE(edit->isEnabled());
        edit->clearFocus();
        edit->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        edit->insert(text);
    }
    void Type(MemberField field, const QString& text) { Type(Edit(field), text); }
    void Update() {
        ASSERT_TRUE(view.DetailsField(Field::Update)->isEnabled());
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_FALSE(view.InEditMode());
    }
    ComPtr<ITypeLib> SaveAndReplay() { return treetest::SaveAndReplay(history, view, dir.path()); }
    // The VARTYPE of the return value of IShape's function name of that kind, in the live library.
    VARTYPE ReturnVt(const char16_t* name, INVOKEKIND kind) {
        ITypeLib* lib = view.CurrentLibraryITypeLib().get();
        ComPtr<ITypeInfo> info = changestest::TypeNamed(lib, u"IShape");
        ComPtr<ITypeLib> holder;
        UINT index = 0;
        EXPECT_OK(info->GetContainingTypeLib(holder.put(), &index));
        ComPtr<ITypeInfo> vtable = modITypeInfoHelper::GetInterfaceTypeInfo(lib, index);
        const ComPtr<ITypeInfo2> own = vtable.As<ITypeInfo2>();
        MEMBERID id = 0;
        std::u16string n(name);
        ole::OLECHAR* names[] = {n.data()};
        EXPECT_OK(vtable->GetIDsOfNames(names, 1, &id));
        UINT at = 0;
        EXPECT_OK(own->GetFuncIndexOfMemId(id, kind, &at));
        typelib_detail::FuncDescHolder func(vtable.get(), at);
        return func->elemdescFunc.tdesc.vt;
    }
    // The value of constant name of type in lib.
    static Variant ConstValue(ITypeLib* lib, const char16_t* type, const char16_t* name) {
        ComPtr<ITypeInfo> info = changestest::TypeNamed(lib, type);
        TYPEATTR* attr = nullptr;
        EXPECT_OK(info->GetTypeAttr(&attr));
        const UINT count = attr->cVars;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < count; ++i) {
            VARDESC* var = nullptr;
            EXPECT_OK(info->GetVarDesc(i, &var));
            ole::BSTR text = nullptr;
            EXPECT_OK(info->GetDocumentation(var->memid, &text, nullptr, nullptr, nullptr));
            Variant value;
            if (typelib_detail::TakeBstr(text) == name && var->lpvarValue) value = Variant(*var->lpvarValue);
            info->ReleaseVarDesc(var);
            if (value.vt() != VT_EMPTY) return value;
        }
        return {};
    }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    NoDialogs dialogs{view};
    Playback history;
};

// ---- Values typed back as shown ----

// Every constant's value, typed back exactly as the pane shows it, is the
// same value: the field stays valid and the pane clean.
TEST_F(PaneEdgeCases, EveryConstantTypedBackAsShownIsNoEdit) {
    Open();
    QTreeWidgetItem* consts = At("Consts");
    ASSERT_TRUE(consts);
    EnsureChildren(consts);
    for (int i = 0; i < consts->childCount(); ++i) {
        Select(consts->child(i));
        const QString shown = Edit(MemberField::ConstValue)->text();
        Type(MemberField::ConstValue, shown);
        EXPECT_EQ(view.InvalidFields(), 0) << consts->child(i)->text(0).toStdString() << " shows " << shown.toStdString();
        EXPECT_FALSE(view.InEditMode()) << consts->child(i)->text(0).toStdString() << " shows " << shown.toStdString();
        if (view.InEditMode()) QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    }
}

// New values of every type, saved, reloaded and replayed.
TEST_F(PaneEdgeCases, ConstantEditsOfEveryTypeSaveAndReplay) {
    Open();
    const std::pair<const char*, const char*> edits[] = {
        {"cI1", "-128"},       {"cUI1", "&HFF"},   {"cI2", "&H8000"},    {"cUI2", "65535"},
        {"cI4", "&H80000000"}, {"cR4", "1.5E+38"}, {"cR8", "0.30000000000000004"},
        {"cCY", "-922337203685477.5808"},          {"cStr", "x\\ny\\\\z"},
    };
    for (const auto& [name, text] : edits) {
        Select(At("Consts", name));
        Type(MemberField::ConstValue, QString::fromUtf8(text));
        EXPECT_EQ(view.InvalidFields(), 0) << name;
        if (view.InvalidFields() == 0) Update();
    }
    ComPtr<ITypeLib> saved = SaveAndReplay();
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cI1").get().cVal, -128);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cUI1").get().bVal, 255);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cI2").get().iVal, -32768);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cUI2").get().uiVal, 65535);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cI4").get().lVal, INT32_MIN);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cR4").get().fltVal, 1.5e38f);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cR8").get().dblVal, 0.1 + 0.2);
    EXPECT_EQ(ConstValue(saved.get(), u"Consts", u"cCY").get().cyVal.int64, INT64_MIN);
    const Variant str = ConstValue(saved.get(), u"Consts", u"cStr");
    ASSERT_EQ(str.vt(), VT_BSTR);
    EXPECT_EQ(std::u16string(ole::BstrView(str.get().bstrVal)), u"x\ny\\z");
}

// A string constant holding a NUL character (typed as \0) keeps it through
// the file, or the field refuses it: it is never cut short without a word.
TEST_F(PaneEdgeCases, AStringWithANulIsKeptOrRefused) {
    Open();
    Select(At("Consts", "cStr"));
    Type(MemberField::ConstValue, QStringLiteral("ab\\0cd"));
    if (view.InvalidFields() != 0) return;  // refused: fine
    Update();
    ComPtr<ITypeLib> saved = SaveAndReplay();
    const Variant str = ConstValue(saved.get(), u"Consts", u"cStr");
    ASSERT_EQ(str.vt(), VT_BSTR);
    EXPECT_EQ(ole::SysStringLen(str.get().bstrVal), 5u);
}

// Every default value, typed back as shown, is no edit.
TEST_F(PaneEdgeCases, EveryDefaultTypedBackAsShownIsNoEdit) {
    Open();
    for (const char* name : {"pStr", "pR8", "pR4", "pDate", "pBool", "pCy", "pI2"}) {
        Select(At("IDefaults", "Opt", name));
        EXPECT_EQ(view.InvalidFields(), 0);
        const QString shown = Edit(MemberField::ConstValue)->text();
        Type(MemberField::ConstValue, shown);
        EXPECT_EQ(view.InvalidFields(), 0) << name << " shows " << shown.toStdString();
        EXPECT_FALSE(view.InEditMode()) << name << " shows " << shown.toStdString();
        if (view.InEditMode()) QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    }
}

// A Variant parameter's default value is read as the type of the value it
// holds: the shown 5 typed back is no edit; 6 is the Long 6; a fraction or a
// text that is no number is a Double or a String. Each saves and replays.
TEST_F(PaneEdgeCases, AVariantDefaultIsReadAsTheTypeItHolds) {
    Open();
    Select(At("IDefaults", "Opt", "pVar"));
    ASSERT_TRUE(Edit(MemberField::ConstValue)->isEnabled());
    const QString shown = Edit(MemberField::ConstValue)->text();
    EXPECT_EQ(shown, "5");
    Type(MemberField::ConstValue, shown);
    EXPECT_EQ(view.InvalidFields(), 0);
    EXPECT_FALSE(view.InEditMode());
    Type(MemberField::ConstValue, QStringLiteral("6"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    Type(MemberField::ConstValue, QStringLiteral("2.5"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    Type(MemberField::ConstValue, QStringLiteral("a\\tb"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    EXPECT_TRUE(services.messages.empty());
    SaveAndReplay();
    Select(At("IDefaults", "Opt", "pR8"));
    Select(At("IDefaults", "Opt", "pVar"));
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "a\\tb");
}

// Texts of a value the file can't hold are refused with the rule, not
// rounded on Update (a Currency's fifth decimal place, a Decimal default's
// fraction); good ones replay.
TEST_F(PaneEdgeCases, ValuesTheFileCantHoldAreRefusedWithTheRule) {
    Open();
    const struct {
        const char *type, *member, *param, *bad, *rule, *good;
    } cases[] = {
        {"Consts", "cCY", nullptr, "0.00005", "four decimal places", "-1.2345"},
        {"IDefaults", "Opt", "pCy", "1.23456", "four decimal places", "-1.2345"},
        {"IDefaults", "Opt", "pDec", "12.5", "a whole number from 0 to 18446744073709551615", "18446744073709551615"},
    };
    for (const auto& c : cases) {
        Select(At(c.type, c.member, c.param));
        Type(MemberField::ConstValue, QString::fromUtf8(c.bad));
        EXPECT_FALSE(view.DetailsField(Field::Update)->isEnabled()) << c.bad;
        EXPECT_TRUE(Edit(MemberField::ConstValue)->toolTip().contains(QString::fromUtf8(c.rule))) << c.bad;
        Type(MemberField::ConstValue, QString::fromUtf8(c.good));
        Update();
    }
    SaveAndReplay();
    for (const auto& c : cases) {
        Select(At(c.type, c.member, c.param));
        EXPECT_EQ(Edit(MemberField::ConstValue)->text(), QString::fromUtf8(c.good));
    }
}

// New defaults of every type and each optional setting, saved and replayed.
TEST_F(PaneEdgeCases, DefaultsAndOptionalSettingsSaveAndReplay) {
    Open();
    const std::pair<const char*, const char*> edits[] = {
        {"pStr", R"(x\\y\n)"}, {"pR8", "1E+300"}, {"pR4", "-0.5"}, {"pDate", "3/4/2001"},
        {"pBool", "False"},    {"pCy", "-3.25"},  {"pI2", "&H7FFF"},
    };
    for (const auto& [name, text] : edits) {
        Select(At("IDefaults", "Opt", name));
        Type(MemberField::ConstValue, QString::fromUtf8(text));
        EXPECT_EQ(view.InvalidFields(), 0) << name;
        if (view.InvalidFields() == 0) Update();
    }
    auto* optional = static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional));
    const auto choose = [&](const char* param, const char* setting) {
        Select(At("IDefaults", "Opt", param));
        const int index = optional->findText(QString::fromUtf8(setting));
        ASSERT_GE(index, 0) << param << " " << setting;
        optional->setFocus();
        optional->setCurrentIndex(index);
        emit optional->activated(index);
        if (view.InEditMode()) Update();
    };
    choose("pR8", "Typed Optional (No Default)");
    choose("pStr", "Required");
    choose("pVar", "Variant Optional");
    EXPECT_TRUE(services.messages.empty()) << (services.messages.empty() ? std::string() : services.messages[0].toStdString());
    SaveAndReplay();
    Select(At("IDefaults", "Opt", "pR8"));
    EXPECT_EQ(optional->currentText(), "Typed Optional (No Default)");
    Select(At("IDefaults", "Opt", "pR4"));
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "-0.5");
    Select(At("IDefaults", "Opt", "pDate"));
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "3/4/2001");
}

// ---- Failures ----

// An Update the library fails on leaves the library as it was, says 933 and
// why, shows the library's values and leaves no trace in the history.
TEST_F(PaneEdgeCases, AFailedMemberOrParameterUpdateLeavesNoTrace) {
    Open();
    ITypeLib* lib = view.CurrentLibraryITypeLib().get();
    const std::string before = changestest::Dump(lib);
    Select(At("IShape", "Zoom"));
    const QString id = Edit(MemberField::MemberId)->text();
    Type(MemberField::MemberId, QStringLiteral("&H66"));
    ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ole::testing::ClearInjectedFailures();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].startsWith(dialogs::ResText(933) + QLatin1Char('\n')));
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Edit(MemberField::MemberId)->text(), id);
    EXPECT_EQ(changestest::Dump(view.CurrentLibraryITypeLib().get()), before);
    Select(At("IShape", "Fill", "count"));
    Type(MemberField::ConstValue, QStringLiteral("8"));
    ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ole::testing::ClearInjectedFailures();
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_TRUE(services.messages[1].startsWith(dialogs::ResText(933) + QLatin1Char('\n')));
    EXPECT_EQ(Edit(MemberField::ConstValue)->text(), "5");
    EXPECT_EQ(changestest::Dump(view.CurrentLibraryITypeLib().get()), before);
    // The same edits again stand and replay.
    Type(MemberField::ConstValue, QStringLiteral("8"));
    Update();
    Select(At("IShape", "Zoom"));
    Type(MemberField::MemberId, QStringLiteral("&H66"));
    Update();
    EXPECT_EQ(services.messages.size(), 2u);
    SaveAndReplay();
}

// The other accessor failing to take a new return type: the Get's own edit
// stands, the error is told plainly (not as a restore), and the history
// replays to the same file.
TEST_F(PaneEdgeCases, AFailingAccessorSyncKeepsTheMainEdit) {
    Open();
    Select(At("IShape", "Name"));
    // The library fails the next rebuild once the Get's change is told.
    class Arming final : public SelectiveChangeListener {
    public:
        int told = 0;
        void OnMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {
            if (told++ == 0) ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY);
        }
    } arming;
    SMNode registration;
    hub->AddListenerNode(registration, arming);
    dialogs.vt = VT_I4;
    QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
    ASSERT_TRUE(view.InEditMode());
    services.answers = {dialogs::kAnswerYes};
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(arming.told, 1);
    EXPECT_FALSE(view.InEditMode());
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_FALSE(services.messages[1].startsWith(dialogs::ResText(933)));
    // The Get returns the new type (through its return value parameter); the Let is as it was.
    EXPECT_EQ(ReturnVt(u"Name", INVOKE_PROPERTYGET), VT_HRESULT);
    EXPECT_EQ(ReturnVt(u"Name", INVOKE_PROPERTYPUT), VT_HRESULT);
    Select(At("IShape", "Area"));
    Select(At("IShape", "Name"));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "long");
    SaveAndReplay();
}

// A method whose last parameter is its return value returns what that
// parameter points to: the pane shows that type, a type picked goes to the
// parameter with one pointer level more, and the method keeps HRESULT.
TEST_F(PaneEdgeCases, AReturnValueMethodShowsAndTakesThePointedToType) {
    Open();
    Select(At("IShape", "Name"));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "BSTR");
    dialogs.vt = VT_I4;
    QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "long");
    services.answers = {dialogs::kAnswerNo};
    Update();
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "long");
    Select(At("IShape", "Area"));
    Select(At("IShape", "Name"));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "long");
    EXPECT_EQ(ReturnVt(u"Name", INVOKE_PROPERTYGET), VT_HRESULT);
    Select(At("IShape", "Name", "name"));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "[out, retval] long*");
    ComPtr<ITypeLib> saved = SaveAndReplay();
    view.CurrentITypeLib(saved.get());
    Select(At("IShape", "Name"));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "long");
}

// ---- Member IDs ----

// A property's member ID given on its Get tab is the ID of the whole
// property: the Let keeps company with the Get.
TEST_F(PaneEdgeCases, APropertysNewIdMovesAllItsAccessors) {
    Open();
    Select(At("IShape", "Name"));
    Type(MemberField::MemberId, QStringLiteral("&H77"));
    Update();
    EXPECT_TRUE(services.messages.empty());
    ComPtr<ITypeLib> saved = SaveAndReplay();
    ComPtr<ITypeInfo> info = changestest::TypeNamed(saved.get(), u"IShape");
    ComPtr<ITypeLib> holder;
    UINT index = 0;
    ASSERT_OK(info->GetContainingTypeLib(holder.put(), &index));
    ComPtr<ITypeInfo> shape = modITypeInfoHelper::GetInterfaceTypeInfo(saved.get(), index);
    const ComPtr<ITypeInfo2> shape2 = shape.As<ITypeInfo2>();
    UINT at = 0;
    EXPECT_OK(shape2->GetFuncIndexOfMemId(0x77, INVOKE_PROPERTYGET, &at));
    EXPECT_OK(shape2->GetFuncIndexOfMemId(0x77, INVOKE_PROPERTYPUT, &at));
}

// Another member's ID is refused with 932 naming it, for an enum value, a
// dispinterface property against a method, and a module function.
TEST_F(PaneEdgeCases, TakenIdsAreRefusedNamingTheHolder) {
    Open();
    const auto idOf = [&](const char* type, const char* member) {
        Select(At(type, member));
        return Edit(MemberField::MemberId)->text();
    };
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"Colors", "Green", "Red"}, {"DShapeEvents", "Visible", "Clicked"}, {"Kernel", "Beep", "ByOrdinal"},
        {"Consts", "cI1", "cStr"}};
    for (const auto& [type, member, holder] : cases) {
        const QString taken = idOf(type, holder);
        Select(At(type, member));
        Type(MemberField::MemberId, taken);
        const size_t before = services.messages.size();
        QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
        ASSERT_EQ(services.messages.size(), before + 1) << member;
        EXPECT_EQ(services.messages.back(), QStringLiteral("This MemberID is currently assigned to '%1'.").arg(holder));
        EXPECT_TRUE(view.InEditMode());
        QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    }
}

// A string constant, a string default, a DLL name or entry longer than the
// 32,767 characters a history file holds is kept whole in the field and
// refused there, saying why; a constant of 32,767 characters (typed with an
// escape, so one more) is applied, saved whole and replayed.
TEST_F(PaneEdgeCases, StringsLongerThanAHistoryHoldsAreRefusedWhereTyped) {
    Open();
    const QString why = QStringLiteral("A text of 40000 characters is longer than the 32,767 a history file can hold.");
    const QString huge(40000, QLatin1Char('a'));
    const auto refused = [&](MemberField field, const char* what) {
        Type(field, huge);
        EXPECT_EQ(Edit(field)->text().size(), 40000) << what;
        EXPECT_NE(view.InvalidFields(), 0) << what;
        EXPECT_FALSE(view.DetailsField(Field::Update)->isEnabled()) << what;
        EXPECT_EQ(Edit(field)->toolTip(), why) << what;
        QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton);
    };
    Select(At("Consts", "cStr"));
    refused(MemberField::ConstValue, "constant");
    Select(At("IDefaults", "Opt", "pStr"));
    refused(MemberField::ConstValue, "default");
    Select(At("Kernel", "Beep"));
    refused(MemberField::DllName, "DLL name");
    refused(MemberField::DllEntry, "DLL entry");
    EXPECT_TRUE(services.messages.empty());

    Select(At("Consts", "cStr"));
    Type(MemberField::ConstValue, QString(32766, QLatin1Char('a')) + QStringLiteral("\\t"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    EXPECT_TRUE(services.messages.empty());
    const Variant live = ConstValue(view.CurrentLibraryITypeLib().get(), u"Consts", u"cStr");
    EXPECT_EQ(ole::SysStringLen(live.get().bstrVal), 32767u) << "in the live library";
    ComPtr<ITypeLib> saved = SaveAndReplay();
    const Variant str = ConstValue(saved.get(), u"Consts", u"cStr");
    ASSERT_EQ(str.vt(), VT_BSTR);
    EXPECT_EQ(ole::SysStringLen(str.get().bstrVal), 32767u);
}

// A help string longer than the 32,767 characters a history file holds is
// refused where typed, saying why (Enter says it too); one of 32,767 is
// applied, saved whole and replayed.
TEST_F(PaneEdgeCases, AHelpStringLongerThanAHistoryHoldsIsRefused) {
    Open();
    Select(At("IShape", "Zoom"));
    auto* tabs = view.findChild<QTabBar*>();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    auto* help = view.findChild<QLineEdit*>(QStringLiteral("txtHelpString"));
    ASSERT_TRUE(help && help->isVisible());
    const QString why = QStringLiteral("A text of 40000 characters is longer than the 32,767 a history file can hold.");
    Type(help, QString(40000, QLatin1Char('h')));
    EXPECT_EQ(help->text().size(), 40000);
    EXPECT_NE(view.InvalidFields(), 0);
    EXPECT_FALSE(view.DetailsField(Field::Update)->isEnabled());
    EXPECT_EQ(help->toolTip(), why);
    QTest::keyClick(help, Qt::Key_Return);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], why);
    Type(help, QString(32767, QLatin1Char('h')));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    EXPECT_EQ(services.messages.size(), 1u);
    EXPECT_NO_THROW(SaveAndReplay());
    view.CurrentITypeLib(nullptr);
    ComPtr<ITypeLib> saved;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "view.tlb").string()).c_str(), saved.put()));
    view.CurrentITypeLib(saved.get());
    Select(At("IShape", "Zoom"));
    if (tabs->currentIndex() != 1) QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    help = view.findChild<QLineEdit*>(QStringLiteral("txtHelpString"));
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->text().size(), 32767);
}

// An emptied member ID lets the library choose one; the history replays it.
TEST_F(PaneEdgeCases, AnEmptiedMemberIdReplays) {
    Open();
    Select(At("Colors", "Green"));
    Type(MemberField::MemberId, QString());
    EXPECT_EQ(view.InvalidFields(), 0);
    if (view.InEditMode()) Update();
    Select(At("Kernel", "Answer"));
    Type(MemberField::MemberId, QStringLiteral("&H100"));
    Update();
    SaveAndReplay();
}

// ---- DLL entries ----

// The highest ordinal and a long entry name survive the file.
TEST_F(PaneEdgeCases, OrdinalsAndLongNamesSaveAndReplay) {
    Open();
    Select(At("Kernel", "Beep"));
    Type(MemberField::DllEntry, QStringLiteral("#65535"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Type(MemberField::DllName, QStringLiteral("my library.dll"));
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    Select(At("Kernel", "ByOrdinal"));
    const QString longName(3000, QLatin1Char('e'));
    Type(MemberField::DllEntry, longName);
    EXPECT_EQ(view.InvalidFields(), 0);
    Update();
    ComPtr<ITypeLib> saved = SaveAndReplay();
    Select(At("Kernel", "Beep"));
    EXPECT_EQ(Edit(MemberField::DllEntry)->text(), "#65535");
    EXPECT_EQ(Edit(MemberField::DllName)->text(), "my library.dll");
    Select(At("Kernel", "ByOrdinal"));
    EXPECT_EQ(Edit(MemberField::DllEntry)->text(), longName);
}

// ---- Keys ----

// Another accessor's tab clicked while an edit is pending is refused, saying
// why, and keeps the tab and the typed text.
TEST_F(PaneEdgeCases, AnotherAccessorsTabRefusedWhileEditing) {
    Open();
    Select(At("IShape", "Name"));
    auto* tabs = view.findChild<QTabBar*>();
    ASSERT_GE(tabs->count(), 2);
    Type(MemberField::MemberId, QStringLiteral("&H55"));
    ASSERT_TRUE(view.InEditMode());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(view.CurrentAccessor(), 2);
    EXPECT_TRUE(view.InEditMode());
    EXPECT_EQ(Edit(MemberField::MemberId)->text(), "&H55");
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(175)});
}

// The details tab clicked while a help edit is pending is refused, saying
// why, and keeps the help page with the typed text.
TEST_F(PaneEdgeCases, TheDetailsTabRefusedWhileAHelpEditIsPending) {
    Open();
    Select(At("IShape", "Zoom"));
    auto* tabs = view.findChild<QTabBar*>();
    ASSERT_EQ(tabs->count(), 2);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    auto* help = view.findChild<QLineEdit*>(QStringLiteral("txtHelpString"));
    ASSERT_TRUE(help && help->isVisible());
    Type(help, QStringLiteral("typed"));
    ASSERT_TRUE(view.InEditMode());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->text(), "typed");
    EXPECT_TRUE(view.InEditMode());
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(175)});
    // Update still applies the help edit.
    Update();
    EXPECT_EQ(services.messages.size(), 1u);
    SaveAndReplay();
}

// Enter in a field whose text doesn't parse beeps; with a good text it
// presses Update.
TEST_F(PaneEdgeCases, EnterBeepsOnABadTextAndUpdatesOnAGoodOne) {
    Open();
    Select(At("Kernel", "Beep"));
    Type(MemberField::DllEntry, QStringLiteral("#0"));
    const int beeps = services.beeps;
    QTest::keyClick(Edit(MemberField::DllEntry), Qt::Key_Return);
    EXPECT_EQ(services.beeps, beeps + 1);
    EXPECT_TRUE(view.InEditMode());
    Type(MemberField::DllEntry, QStringLiteral("#3"));
    QTest::keyClick(Edit(MemberField::DllEntry), Qt::Key_Return);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Edit(MemberField::DllEntry)->text(), "#3");
}

// Every field of the member and parameter panes has a name for a screen
// reader, and a caption whose access key reaches it.
TEST_F(PaneEdgeCases, EveryPaneFieldIsNamed) {
    Open();
    for (QTreeWidgetItem* node : {At("Kernel", "Beep"), At("Consts", "cI2"), At("IShape", "Fill", "count")}) {
        Select(node);
        for (QWidget* field : view.findChildren<QWidget*>()) {
            if (!field->isVisible() || field->focusPolicy() == Qt::NoFocus) continue;
            if (!qobject_cast<QLineEdit*>(field) && !qobject_cast<QComboBox*>(field) &&
                !qobject_cast<QListWidget*>(field) && !qobject_cast<QPushButton*>(field))
                continue;
            if (qobject_cast<QLineEdit*>(field) && qobject_cast<QComboBox*>(field->parentWidget())) continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
            ASSERT_TRUE(accessible);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
                << node->text(0).toStdString() << ": " << field->metaObject()->className() << " "
                << (qobject_cast<QLineEdit*>(field) ? qobject_cast<QLineEdit*>(field)->text().toStdString() : "");
        }
    }
}

// Each shown caption's Alt+letter reaches its own field, on every pane.
TEST_F(PaneEdgeCases, EveryCaptionsAccessKeyReachesItsField) {
    Open();
    int checked = 0;
    for (QTreeWidgetItem* node : {At("Kernel", "Beep"), At("Consts", "cI2"), At("IShape", "Fill", "count"),
                                  At("IShape", "Name"), At("Colors", "Green"), At("Matrix", "one")}) {
        Select(node);
        for (QLabel* label : view.findChildren<QLabel*>()) {
            if (!label->isVisible() || !label->buddy() || !label->buddy()->isVisible() || !label->buddy()->isEnabled())
                continue;
            const QString text = label->text();
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            if (amp < 0 || amp + 1 >= text.size()) continue;
            const QChar key = text.at(amp + 1).toUpper();
            Tree()->setFocus();
            QTest::keyClick(view.window(), key.toLatin1(), Qt::AltModifier);
            EXPECT_TRUE(label->buddy()->hasFocus()) << node->text(0).toStdString() << ": " << text.toStdString();
            ++checked;
        }
    }
    EXPECT_GE(checked, 12);
}

// A property Get's return value given a new type; the Let's value parameter
// failing to follow: the Get's edit stands, the error is told plainly.
TEST_F(PaneEdgeCases, AFailingParameterSyncKeepsTheMainEdit) {
    Open();
    class Arming final : public SelectiveChangeListener {
    public:
        int told = 0;
        void OnParamChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {
            if (told++ == 0) ole::testing::FailNextCall("AddFuncDesc", E_OUTOFMEMORY);
        }
    } arming;
    SMNode registration;
    hub->AddListenerNode(registration, arming);
    Select(At("IShape", "Name", "name"));
    dialogs.vt = VT_VARIANT;
    dialogs.pointers = 1;
    QTest::mouseClick(view.DetailsField(Field::ChooseType), Qt::LeftButton);
    services.answers = {dialogs::kAnswerYes};
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    ole::testing::ClearInjectedFailures();
    EXPECT_FALSE(view.InEditMode());
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_TRUE(services.messages[0].startsWith(QStringLiteral("Would you like to change the type of the last parameter")));
    EXPECT_FALSE(services.messages[1].startsWith(dialogs::ResText(933)));
    EXPECT_EQ(static_cast<QLineEdit*>(view.DetailsField(Field::SetType))->text(), "[out, retval] VARIANT*");
    SaveAndReplay();
}

// ---- Parsers ----

// Same type and same bits (a string: same characters).
bool SameValue(const Variant& a, const Variant& b) {
    if (a.vt() != b.vt()) return false;
    const VARIANT& x = a.get();
    const VARIANT& y = b.get();
    switch (a.vt()) {
    case VT_BSTR: return ole::BstrView(x.bstrVal) == ole::BstrView(y.bstrVal);
    case VT_R4: return std::memcmp(&x.fltVal, &y.fltVal, sizeof x.fltVal) == 0;
    case VT_BOOL: return x.boolVal == y.boolVal;
    case VT_I1: case VT_UI1: return x.bVal == y.bVal;
    case VT_I2: case VT_UI2: return x.uiVal == y.uiVal;
    case VT_I4: case VT_UI4: return x.ulVal == y.ulVal;
    default: return std::memcmp(&x.llVal, &y.llVal, sizeof x.llVal) == 0;
    }
}

TEST(PaneEdgeCaseParsers, EdgeTexts) {
    using Fields::ParseDllEntry;
    EXPECT_FALSE(ParseDllEntry(u"#0").Valid);
    EXPECT_FALSE(ParseDllEntry(u"#-5").Valid);
    EXPECT_FALSE(ParseDllEntry(u"#65536").Valid);
    EXPECT_FALSE(ParseDllEntry(u"#").Valid);
    EXPECT_TRUE(ParseDllEntry(u"#65535").Valid);
    EXPECT_EQ(ParseDllEntry(u"#65535").Value.get().iVal, -1);
    EXPECT_TRUE(ParseDllEntry(u"#1").Valid);
    EXPECT_FALSE(ParseDllEntry(u"#1.5").Valid);
    EXPECT_FALSE(ParseDllEntry(u"#-0").Valid);
    EXPECT_EQ(Fields::FormatDllEntry(ParseDllEntry(u"#65535").Value), u"#65535");
    EXPECT_FALSE(Fields::ParseHelpContext(u"1.5").Valid);
    EXPECT_FALSE(Fields::ParseHelpContext(u"-1").Valid);
    EXPECT_FALSE(Fields::ParseHelpContext(u"4294967296").Valid);
    EXPECT_TRUE(Fields::ParseHelpContext(u"4294967295").Valid);
    EXPECT_TRUE(Fields::ParseHelpContext(u"0").Valid);
    EXPECT_FALSE(Fields::ParseHelpContext(u"").Valid);
    EXPECT_FALSE(Fields::ParseVersion(u"32767.65535").Valid);
    EXPECT_FALSE(Fields::ParseVersion(u"1.-2").Valid);
    EXPECT_FALSE(Fields::ParseVersion(u".1").Valid);
    EXPECT_FALSE(Fields::ParseVersion(u"32768.0").Valid);
    EXPECT_TRUE(Fields::ParseVersion(u"&H1.2").Valid);
    EXPECT_EQ(Fields::ParseLcid(u"1033", 0).Value, 1033u);
    EXPECT_EQ(Fields::ParseLcid(u"&H409", 0).Value, 1033u);
    EXPECT_FALSE(Fields::ParseLcid(u"x", 0).Valid);
    EXPECT_TRUE(Fields::ParseLcid(u"&H12345", 0x12345).Valid);
    EXPECT_EQ(Fields::ParseMemberId(u"").Value, -1);
    EXPECT_EQ(Fields::ParseMemberId(u"&HFFFFFFFF").Value, -1);
    EXPECT_EQ(Fields::ParseMemberId(Fields::FormatMemberId(-1, true, true)).Value, -1);
    EXPECT_EQ(Fields::ParseMemberId(Fields::FormatMemberId(INT32_MIN, true, true)).Value, INT32_MIN);
    EXPECT_EQ(Fields::FormatMemberId(0, true, true), u"0");
    EXPECT_FALSE(Fields::IsValidDllName(u" a"));
    EXPECT_FALSE(Fields::IsValidDllName(u"a "));
    EXPECT_TRUE(Fields::IsValidDllName(u"a b"));
}

// A help context shown in hexadecimal as typed is read as the same whole number.
TEST(PaneEdgeCaseParsers, HelpContextsInHex) {
    EXPECT_TRUE(Fields::ParseHelpContext(u"&HFFFFFFFF").Valid);
    EXPECT_EQ(Fields::ParseHelpContext(u"&HFFFFFFFF").Value, 0xFFFFFFFFu);
    EXPECT_EQ(Fields::ParseHelpContext(u"&H10").Value, 16u);
}

// A whole number written with a point and zeros ("2.0") is that number.
TEST(PaneEdgeCaseParsers, WholeNumbersWithAPoint) {
    EXPECT_TRUE(Fields::ParseHelpContext(u"2.0").Valid);
    EXPECT_TRUE(Fields::ParseMemberId(u"5.0").Valid);
}

// Values of every type shown and read back are the same value.
TEST(PaneEdgeCaseParsers, ValuesRoundTrip) {
    const Variant values[] = {Variant(0.1f),       Variant(1.0e-45f),  Variant(3.4028235e38f), Variant(0.1),
                              Variant(5e-324),     Variant(-0.0),      Currency(INT64_MIN),    Currency(INT64_MAX),
                              Currency(1),         Date(36527.5),      Date(-657434.0),        Date(2958465.0),
                              Variant(true),       Variant(false),     Variant(int8_t{-128}),  Variant(uint16_t{65535}),
                              Variant(uint32_t{4294967295u}),          Variant(std::u16string_view(u"\\\"\t\r\n\x01"))};
    for (const Variant& value : values) {
        for (bool hex : {false, true}) {
            const std::u16string text = Fields::FormatValue(value, hex);
            const auto back = Fields::ParseConstValue(text, value.vt());
            EXPECT_TRUE(back.Valid) << ole::ToUtf8(text) << " vt " << value.vt();
            if (!back.Valid) continue;
            EXPECT_EQ(back.Value.vt(), value.vt());
            EXPECT_TRUE(SameValue(back.Value, value)) << ole::ToUtf8(text) << " vt " << value.vt();
        }
    }
}

// ---- Cost ----

// Members of a 2,000-method interface selected in a row fill the pane quickly.
TEST(PaneCost, SelectingMembersOfAHugeInterface) {
    EnsureApp();
    TempDir dir;
    const fs::path file = dir / "large.tlb";
    benchlib::BuildLarge(file.u16string(), 10, 5, 2000);
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLib(file.u16string().c_str(), loaded.put()));
    CountingServices services;
    dialogs::ScopedUiServices scoped(services);
    editor::LibraryViewer view;
    view.resize(900, 700);
    view.show();
    view.CurrentITypeLib(loaded.get());
    QTreeWidgetItem* huge = Child(view.Tree()->topLevelItem(0), "IHuge");
    ASSERT_TRUE(huge);
    EnsureChildren(huge);
    ASSERT_GE(huge->childCount(), 2000);
    QElapsedTimer timer;
    timer.start();
    for (int i = 1900; i < 2000; ++i) {
        view.Tree()->setCurrentItem(huge->child(i));
        QCoreApplication::processEvents();
        ASSERT_EQ(view.ShownNode(), huge->child(i));
    }
    const qint64 members = timer.elapsed();
    EnsureChildren(huge->child(1999));
    timer.restart();
    for (int i = 1900; i < 2000; ++i) {
        QTreeWidgetItem* member = huge->child(i);
        EnsureChildren(member);
        if (member->childCount() == 0) continue;
        view.Tree()->setCurrentItem(member->child(0));
        QCoreApplication::processEvents();
    }
    const qint64 params = timer.elapsed();
    std::printf("100 members: %lld ms, 100 parameters: %lld ms\n", static_cast<long long>(members),
                static_cast<long long>(params));
    EXPECT_LT(members, 5000);
    EXPECT_LT(params, 5000);
}

}  // namespace
}  // namespace treetest

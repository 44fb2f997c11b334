// A host's command filter in the details panes: the groups of fields it does
// not allow are disabled, the attribute flags it locks spring back with a
// beep while the others toggle, a coclass's default interface keeps its
// interface under the pairing, and a pasted member takes the host's member
// ID. With the filter off everything is offered again.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "changes/ChangesTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using MemberField = editor::LibraryViewer::MemberField;

// The GUID dialog, answered with a new GUID; asked notes whether the null GUID was allowed.
class GuidDialogs : public editor::ViewerDialogs {
public:
    std::vector<bool> asked;
    bool ChangeGuid(QWidget*, ole::GUID& guid) override { return Answer(true, guid); }
    bool ChangeNonNullGuid(QWidget*, ole::GUID& guid) override { return Answer(false, guid); }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return {};
    }
    // A parameter's type: Integer, or vt.
    ole::VARTYPE vt = VT_I2;
    int typesAsked = 0;
    editor::SpecifiedType SpecifyParamType(QWidget*, int32_t, int32_t, int32_t, ITypeLib* library,
                                           dialogs::LibraryCollection&, tli::VarTypeInfo*, int32_t&, bool) override {
        ++typesAsked;
        ComPtr<CustomVarTypeInfo> chosen = CustomVarTypeInfo::New();
        chosen->CurrentITypeLib(library);
        chosen->SetType(vt, nullptr);
        return {true, chosen};
    }

private:
    bool Answer(bool nullAllowed, ole::GUID& guid) {
        asked.push_back(nullAllowed);
        guid.Data1 += 1;
        return true;
    }
};

// The default value of parameter position (from 0) of IShape's method name in lib.
ole::Variant ShapeDefault(ITypeLib* lib, const char16_t* name, int position) {
    ComPtr<ITypeLib> holder;
    UINT at = 0;
    EXPECT_OK(changestest::TypeNamed(lib, u"IShape")->GetContainingTypeLib(holder.put(), &at));
    const ComPtr<ITypeInfo> info = modITypeInfoHelper::GetInterfaceTypeInfo(lib, at);
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    MEMBERID id = 0;
    EXPECT_OK(info->GetIDsOfNames(names, 1, &id));
    UINT index = 0;
    EXPECT_OK(info.As<ITypeInfo2>()->GetFuncIndexOfMemId(id, INVOKE_FUNC, &index));
    typelib_detail::FuncDescHolder func(info.get(), index);
    const PARAMDESC& param = func->lprgelemdescParam[position].paramdesc;
    ole::Variant value;
    if ((param.wParamFlags & PARAMFLAG_FHASDEFAULT) != 0 && param.pparamdescex) {
        EXPECT_OK(VariantCopy(&value.get(), &param.pparamdescex->varDefaultValue));
    }
    return value;
}

class CommandFilterPanes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    CommandFilterPanes() : scoped(services) {
        ShowViewer(view, hub, &dialogs, 40);
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
            EXPECT_OK(created->SaveAllChanges());
        }
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        view.CurrentITypeLib(loaded.get());
        history = std::make_unique<Playback>();
        history->ChangeListener(hub);
        history->CurrentITypeLib(view.CurrentLibraryITypeLib().get());
        filter.FilterOn = 1;
    }

    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr) { return NodeAt(Tree(), type, member); }
    void Select(QTreeWidgetItem* node) {
        ASSERT_TRUE(node);
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    bool Enabled(Field field) { return view.DetailsField(field)->isEnabled(); }
    bool Enabled(MemberField field) { return view.MemberPaneField(field)->isEnabled(); }
    QListWidget* Options() { return static_cast<QListWidget*>(view.DetailsField(Field::Options)); }
    // The attribute list's entry named name.
    QListWidgetItem* Flag(const char* name) {
        const QList<QListWidgetItem*> found = Options()->findItems(QString::fromUtf8(name), Qt::MatchExactly);
        return found.empty() ? nullptr : found.front();
    }
    // Toggles the entry as the user does: reaches it with the arrow keys and presses Space.
    void Toggle(const char* name) {
        QListWidgetItem* item = Flag(name);
        ASSERT_TRUE(item) << name;
        Options()->setFocus();
        Options()->setCurrentItem(item);
        QTest::keyClick(Options(), Qt::Key_Space);
    }
    void Cancel() { QTest::mouseClick(view.DetailsField(Field::Cancel), Qt::LeftButton); }
    // The caption of field.
    QLabel* CaptionOf(QWidget* field) {
        for (QLabel* label : view.findChildren<QLabel*>())
            if (label->buddy() == field) return label;
        return nullptr;
    }
    // Whether field and its caption are enabled, both or neither.
    bool Offered(QWidget* field) {
        QLabel* caption = CaptionOf(field);
        EXPECT_TRUE(caption);
        EXPECT_EQ(caption && caption->isEnabled(), field->isEnabled());
        return field->isEnabled();
    }
    QComboBox* Optional() { return static_cast<QComboBox*>(view.MemberPaneField(MemberField::Optional)); }
    QLineEdit* DefaultValue() { return static_cast<QLineEdit*>(view.MemberPaneField(MemberField::ConstValue)); }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    std::unique_ptr<Playback> history;
    editor::CommandFilterRecord filter;
    GuidDialogs dialogs;
};

// The library pane: the identifier and version groups off, the attributes
// and LCID on; "hidden" locked springs back with a beep, "control" toggles.
// Every flag locked leaves the list and its caption disabled.
TEST_F(CommandFilterPanes, TheLibraryPaneOffersOnlyTheGroupsAndFlagsTheFilterAllows) {
    filter.LibraryCommands = editor::kFilterLibAttributes | editor::kFilterLibLcid;
    filter.LibraryFlags = LIBFLAG_FHIDDEN;
    view.CommandFilter(filter);
    Select(At("Colors"));
    Select(Tree()->topLevelItem(0));
    EXPECT_FALSE(Enabled(Field::Guid));
    EXPECT_FALSE(Enabled(Field::ChangeGuid));
    EXPECT_FALSE(Enabled(Field::Version));
    EXPECT_TRUE(Enabled(Field::Lcid));
    EXPECT_TRUE(Enabled(Field::Options));
    ASSERT_EQ(Flag("hidden")->checkState(), Qt::Checked);  // Shapes is hidden
    Toggle("hidden");
    EXPECT_EQ(Flag("hidden")->checkState(), Qt::Checked);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_FALSE(view.InEditMode());
    Toggle("control");
    EXPECT_EQ(Flag("control")->checkState(), Qt::Checked);
    EXPECT_TRUE(view.InEditMode());
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(history->ItemCount(), 1);
    EXPECT_EQ(Flag("hidden")->checkState(), Qt::Checked);
    EXPECT_EQ(Flag("control")->checkState(), Qt::Checked);

    // The GUID dialog takes the null GUID as an answer only where the filter's first field says so in its high half.
    filter.LibraryCommands |= editor::kFilterLibIdentifier;
    view.CommandFilter(filter);
    Select(At("Colors"));
    Select(Tree()->topLevelItem(0));
    QTest::mouseClick(view.DetailsField(Field::ChangeGuid), Qt::LeftButton);
    Cancel();
    filter.FilterOn = 0x10001;
    view.CommandFilter(filter);
    QTest::mouseClick(view.DetailsField(Field::ChangeGuid), Qt::LeftButton);
    Cancel();
    view.CommandFilter({});
    QTest::mouseClick(view.DetailsField(Field::ChangeGuid), Qt::LeftButton);
    Cancel();
    EXPECT_EQ(dialogs.asked, (std::vector<bool>{false, true, true}));
    filter.FilterOn = 1;

    filter.LibraryFlags = LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN;
    view.CommandFilter(filter);
    Select(At("Colors"));
    Select(Tree()->topLevelItem(0));
    EXPECT_FALSE(Enabled(Field::Options));
    EXPECT_FALSE(Options()->parentWidget()->findChildren<QLabel*>().isEmpty());
    for (QLabel* caption : Options()->parentWidget()->findChildren<QLabel*>()) EXPECT_FALSE(caption->isEnabled());

    view.CommandFilter({});
    Select(At("Colors"));
    Select(Tree()->topLevelItem(0));
    for (Field field : {Field::Guid, Field::ChangeGuid, Field::Version, Field::Lcid, Field::Options})
        EXPECT_TRUE(Enabled(field));
    Toggle("hidden");
    EXPECT_EQ(Flag("hidden")->checkState(), Qt::Unchecked);
    EXPECT_TRUE(view.InEditMode());
    EXPECT_EQ(services.beeps, 1);
}

// The type pane: an interface's base type and identifier off, its
// attributes and version on, "hidden" locked; an alias's target by its own bit.
TEST_F(CommandFilterPanes, TheTypePaneOffersOnlyTheGroupsAndFlagsTheFilterAllows) {
    filter.TypeCommands = editor::kFilterTypeAttributes | editor::kFilterTypeVersion | editor::kFilterTypeAliasTarget;
    filter.TypeFlags = TYPEFLAG_FHIDDEN;
    view.CommandFilter(filter);
    Select(At("IDerived"));
    EXPECT_FALSE(Enabled(Field::SetType));
    EXPECT_FALSE(Enabled(Field::ChooseType));
    EXPECT_FALSE(Enabled(Field::Guid));
    EXPECT_TRUE(Enabled(Field::Version));
    EXPECT_TRUE(Enabled(Field::Options));
    Toggle("hidden");
    EXPECT_EQ(Flag("hidden")->checkState(), Qt::Unchecked);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_FALSE(view.InEditMode());
    Toggle("restricted");
    EXPECT_TRUE(view.InEditMode());
    Cancel();
    Select(At("BaseAlias"));
    EXPECT_TRUE(Enabled(Field::SetType));
    EXPECT_FALSE(Enabled(Field::Guid));
    Select(At("Matrix"));
    EXPECT_FALSE(Enabled(Field::Align));
}

// The member pane: a method's type off, its member ID and attributes on,
// "hidden" locked; a constant's value by its own bit, with the variable flags locked.
TEST_F(CommandFilterPanes, TheMemberPaneOffersOnlyTheGroupsAndFlagsTheFilterAllows) {
    filter.MemberCommands = editor::kFilterMemberId | editor::kFilterMemberAttributes;
    filter.FuncFlags = FUNCFLAG_FHIDDEN;
    filter.VarFlags = VARFLAG_FREADONLY;
    view.CommandFilter(filter);
    Select(At("IBase", "Alpha"));
    EXPECT_FALSE(Enabled(Field::SetType));
    EXPECT_FALSE(Enabled(Field::ChooseType));
    EXPECT_TRUE(Enabled(MemberField::MemberId));
    EXPECT_TRUE(Enabled(Field::Options));
    Toggle("hidden");
    EXPECT_EQ(Flag("hidden")->checkState(), Qt::Unchecked);
    EXPECT_EQ(services.beeps, 1);
    Toggle("restricted");
    EXPECT_TRUE(view.InEditMode());
    Cancel();
    Select(At("Kernel", "Answer"));
    EXPECT_FALSE(Enabled(MemberField::ConstValue));
    EXPECT_TRUE(Enabled(MemberField::MemberId));
    Select(At("Kernel", "Beep"));
    EXPECT_FALSE(Enabled(MemberField::DllName));
    EXPECT_FALSE(Enabled(MemberField::DllEntry));
    filter.MemberCommands = editor::kFilterMemberDllName | editor::kFilterMemberType;
    view.CommandFilter(filter);
    Select(At("Kernel", "ByOrdinal"));
    EXPECT_TRUE(Enabled(MemberField::DllName));
    EXPECT_FALSE(Enabled(MemberField::DllEntry));
    EXPECT_TRUE(Enabled(Field::SetType));
    EXPECT_FALSE(Enabled(MemberField::MemberId));
    EXPECT_FALSE(Enabled(Field::Options));
    // A parameter's pane starts afresh and follows the parameter commands, not the member's.
    Select(NodeAt(Tree(), "Kernel", "Beep", "freq"));
    EXPECT_FALSE(Enabled(Field::SetType));
    filter.MemberCommands = 0;
    filter.ParamCommands = editor::kFilterParamType;
    view.CommandFilter(filter);
    Select(NodeAt(Tree(), "Kernel", "Beep"));
    Select(NodeAt(Tree(), "Kernel", "Beep", "freq"));
    EXPECT_TRUE(Enabled(Field::SetType));
}

// Under the pairing, the line of a coclass's default interface keeps its
// interface; other lines, or no pairing, let it change. A locked
// implemented-type flag springs back.
TEST_F(CommandFilterPanes, TheDefaultInterfaceOfAPairedCoclassKeepsItsInterface) {
    filter.PairCoclasses = 1;
    filter.ImplTypeCommands = editor::kFilterImplType | editor::kFilterImplAttributes;
    filter.ImplTypeFlags = IMPLTYPEFLAG_FDEFAULT;
    view.CommandFilter(filter);
    QTreeWidgetItem* widget = At("Widget");
    EnsureChildren(widget);
    Select(Child(widget, "IDerived"));
    EXPECT_FALSE(Enabled(Field::SetType));
    EXPECT_FALSE(Enabled(Field::ChooseType));
    EXPECT_TRUE(Enabled(Field::Options));
    // The default source interface is a default interface too.
    Select(Child(widget, "DVTable"));
    EXPECT_FALSE(Enabled(Field::SetType));
    Toggle("default");
    EXPECT_EQ(Flag("default")->checkState(), Qt::Checked);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_FALSE(view.InEditMode());
    Toggle("restricted");
    EXPECT_TRUE(view.InEditMode());
    Cancel();
    filter.PairCoclasses = 0;
    view.CommandFilter(filter);
    Select(Child(widget, "IDerived"));
    EXPECT_TRUE(Enabled(Field::SetType));
    filter.ImplTypeCommands = editor::kFilterImplType;
    view.CommandFilter(filter);
    Select(Child(widget, "DVTable"));
    EXPECT_FALSE(Enabled(Field::Options));
}

// The parameter pane: the type, the optional setting and the default value
// each by its own bit; what the filter withholds does not change from the
// mouse or the keyboard, and with the filter off everything is offered again.
TEST_F(CommandFilterPanes, TheParameterPaneOffersOnlyTheGroupsTheFilterAllows) {
    QWidget* const type = view.DetailsField(Field::SetType);
    QWidget* const chooseType = view.DetailsField(Field::ChooseType);
    view.CommandFilter(filter);
    // Count's default 5 makes it a typed optional parameter.
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    EXPECT_FALSE(Offered(type));
    EXPECT_FALSE(chooseType->isEnabled());
    EXPECT_FALSE(Offered(Optional()));
    EXPECT_GT(Optional()->count(), 1);
    EXPECT_EQ(Optional()->currentText(), "Typed Optional");
    EXPECT_FALSE(Offered(DefaultValue()));
    EXPECT_TRUE(DefaultValue()->text().isEmpty());
    testsupport::SaveScreenshots(view, "viewer-param-pane-filtered");
    QTest::mouseDClick(type, Qt::LeftButton);
    QTest::mouseClick(chooseType, Qt::LeftButton);
    Optional()->setFocus();
    QTest::keyClick(Optional(), Qt::Key_Down);
    QTest::keyClicks(DefaultValue(), "7");
    EXPECT_EQ(dialogs.typesAsked, 0);
    EXPECT_EQ(Optional()->currentText(), "Typed Optional");
    EXPECT_TRUE(DefaultValue()->text().isEmpty());
    EXPECT_FALSE(view.InEditMode());

    // The type alone, kept from one parameter to the next in the same pane.
    filter.ParamCommands = editor::kFilterParamType;
    view.CommandFilter(filter);
    Select(NodeAt(Tree(), "IShape", "Zoom", "factor"));
    EXPECT_TRUE(Offered(type));
    EXPECT_FALSE(Offered(Optional()));
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    EXPECT_TRUE(Offered(type));
    EXPECT_TRUE(chooseType->isEnabled());
    EXPECT_FALSE(Offered(DefaultValue()));
    QTest::mouseClick(chooseType, Qt::LeftButton);
    EXPECT_EQ(dialogs.typesAsked, 1);
    EXPECT_TRUE(view.InEditMode());
    EXPECT_FALSE(Offered(Optional()));
    EXPECT_FALSE(Offered(DefaultValue()));
    // The default it withholds is read again as the new type, as its text would be.
    ole::Variant held = ShapeDefault(view.CurrentLibraryITypeLib().get(), u"Fill", 0);
    ASSERT_EQ(held.vt(), VT_I4);
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(history->ItemCount(), 1);
    held = ShapeDefault(view.CurrentLibraryITypeLib().get(), u"Fill", 0);
    EXPECT_EQ(held.vt(), VT_I2);
    EXPECT_EQ(held.get().iVal, 5);
    // The LCID parameter keeps its type whatever the filter allows.
    Select(NodeAt(Tree(), "IShape", "Area", "lcid"));
    EXPECT_FALSE(chooseType->isEnabled());

    // The optional setting and the default value, without the type.
    filter.ParamCommands = editor::kFilterParamOptional | editor::kFilterParamDefault;
    view.CommandFilter(filter);
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    EXPECT_FALSE(Offered(type));
    EXPECT_FALSE(chooseType->isEnabled());
    EXPECT_TRUE(Offered(Optional()));
    EXPECT_TRUE(Offered(DefaultValue()));
    EXPECT_EQ(DefaultValue()->text(), "5");
    // A single setting stays fixed though the filter allows the choice.
    Select(NodeAt(Tree(), "IShape", "Sum", "values"));
    EXPECT_FALSE(Offered(Optional()));

    // The optional setting alone: chosen with the keyboard, updated; the default stays withheld.
    filter.ParamCommands = editor::kFilterParamOptional;
    view.CommandFilter(filter);
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    ASSERT_TRUE(Offered(Optional()));
    Optional()->setFocus();
    QTest::keyClick(Optional(), Qt::Key_Down);
    ASSERT_EQ(Optional()->currentText(), "Typed Optional (No Default)");
    EXPECT_FALSE(Offered(DefaultValue()));
    ASSERT_TRUE(view.InEditMode());
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(history->ItemCount(), 2);
    Select(NodeAt(Tree(), "IShape", "Zoom", "factor"));
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    EXPECT_EQ(Optional()->currentText(), "Typed Optional (No Default)");

    // The filter off: everything is offered again.
    view.CommandFilter({});
    Select(NodeAt(Tree(), "IShape", "Zoom", "factor"));
    EXPECT_TRUE(Offered(type));
    EXPECT_TRUE(chooseType->isEnabled());
    EXPECT_TRUE(Offered(Optional()));
    Optional()->setFocus();
    QTest::keyClick(Optional(), Qt::Key_Down);
    ASSERT_EQ(Optional()->currentText(), "Typed Optional");
    EXPECT_TRUE(Offered(DefaultValue()));
    QTest::keyClicks(DefaultValue(), "2");
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    Select(NodeAt(Tree(), "IShape", "Fill", "count"));
    Select(NodeAt(Tree(), "IShape", "Zoom", "factor"));
    EXPECT_EQ(DefaultValue()->text(), "2");
    // A string pointer takes no default: choosing one drops it.
    dialogs.vt = VT_LPWSTR;
    QTest::mouseClick(chooseType, Qt::LeftButton);
    EXPECT_FALSE(Offered(DefaultValue()));
    EXPECT_TRUE(DefaultValue()->text().isEmpty());
    QTest::mouseClick(view.DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(ShapeDefault(view.CurrentLibraryITypeLib().get(), u"Zoom", 0).vt(), VT_EMPTY);
    EXPECT_TRUE(services.messages.empty());
}

// A member pasted under a host's member-ID format takes the next ID of its
// range; the edit replays in batch mode to the same file.
TEST_F(CommandFilterPanes, APastedMemberTakesTheHostsMemberIdAndReplaysInBatchMode) {
    HostMemberIdRange ranges;
    view.CommandFilter(filter);
    view.SetMemberIDConstraints(&ranges);
    Select(At("IBase", "Alpha"));
    QTest::keyClick(Tree(), Qt::Key_C, Qt::ControlModifier);
    Select(At("IDerived"));
    QTest::keyClick(Tree(), Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_TRUE(services.messages.empty());
    // The base's member keeps its name: the copy takes another.
    EXPECT_EQ(Tree()->currentItem(), At("IDerived", "Alpha1"));
    EXPECT_EQ(Utf8(static_cast<QLineEdit*>(view.MemberPaneField(MemberField::MemberId))->text()), "&H40000010");
    // A second paste takes the next ID.
    Select(At("IBase", "Zeta"));
    QTest::keyClick(Tree(), Qt::Key_C, Qt::ControlModifier);
    Select(At("IDerived"));
    QTest::keyClick(Tree(), Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(Tree()->currentItem(), At("IDerived", "Zeta1"));
    EXPECT_EQ(Utf8(static_cast<QLineEdit*>(view.MemberPaneField(MemberField::MemberId))->text()), "&H40000011");
    EXPECT_EQ(history->ItemCount(), 4);
    view.SetMemberIDConstraints(nullptr);

    ASSERT_TRUE(history->SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
    view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
    ASSERT_EQ(RunZephrin(dir.path(), "-leh session.leh -tlb in.tlb -saveas batch.tlb -quiet"), 0)
        << testsupport::ReadText(dir / "stderr.txt");
    EXPECT_EQ(ReadBytes(dir / "batch.tlb"), ReadBytes(dir / "view.tlb"));
    ComPtr<ITypeLib> saved;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "view.tlb").string()).c_str(), saved.put()));
    const ComPtr<ITypeInfo> derived = changestest::TypeNamed(saved.get(), u"IDerived");
    MEMBERID ids[2] = {};
    UINT found = 0;
    for (const char16_t* name : {u"Alpha1", u"Zeta1"}) {
        std::u16string text(name);
        LPOLESTR ptr = text.data();
        ASSERT_OK(derived->GetIDsOfNames(&ptr, 1, &ids[found++]));
    }
    EXPECT_EQ(ids[0], 0x40000010);
    EXPECT_EQ(ids[1], 0x40000011);
}

}  // namespace
}  // namespace treetest

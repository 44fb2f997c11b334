// A host's command filter in the details panes: the groups of fields it does
// not allow are disabled, the attribute flags it locks spring back with a
// beep while the others toggle, a coclass's default interface keeps its
// interface under the pairing, and a pasted member takes the host's member
// ID. With the filter off everything is offered again.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "changes/ChangesTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

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

private:
    bool Answer(bool nullAllowed, ole::GUID& guid) {
        asked.push_back(nullAllowed);
        guid.Data1 += 1;
        return true;
    }
};

class CommandFilterPanes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    CommandFilterPanes() : scoped(services) {
        view.SetChangeListener(hub);
        view.SetDialogs(&dialogs);
        view.resize(view.fontMetrics().averageCharWidth() * 130, view.fontMetrics().height() * 40);
        view.show();
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
    // A parameter's pane starts afresh.
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

// A member pasted under a host's member-ID format takes the next ID of its
// range; the edit replays in batch mode to the same file.
TEST_F(CommandFilterPanes, APastedMemberTakesTheHostsMemberIdAndReplaysInBatchMode) {
    class Ranges : public editor::IMemberIDConstraints {
    public:
        editor::MemberIDFormat GetMemberIDFormat(const ChangeTarget&) override {
            editor::MemberIDFormat format;
            format.RangeCount = 1;
            format.Ranges[0] = {0x40000000, 0x10};
            return format;
        }
    } ranges;
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

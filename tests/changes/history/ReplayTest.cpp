// Replay: running recorded changes on a library, finding their targets again,
// and asking the user when a name is missing.
#include "changes/ChangesTestSupport.h"
#include "changes/history/modChooseName.h"

namespace changestest {
namespace {

// Edits as the change kinds make them, through the editable library.
Edit SetVersion(int16_t major, int16_t minor) {
    return
        [=](CustomTypeLib& l, ChangeTarget& t) { l.GetCustomTypeInfoByNumber(t.TypeIndex)->SetVersion(major, minor); };
}
Edit RenameMember(const char16_t* name) {
    return [=](CustomTypeLib& l, ChangeTarget& t) {
        l.GetCustomTypeInfoByNumber(t.TypeIndex)->SetMemberName(t.MemberId, name);
    };
}
Edit RenameParam(const char16_t* name) {
    return [=](CustomTypeLib& l, ChangeTarget& t) {
        l.GetCustomTypeInfoByNumber(t.TypeIndex)->SetParameterName(t.MemberId, t.ParamIndex, name);
    };
}
Edit SetImplFlags(int32_t flags) {
    return [=](CustomTypeLib& l, ChangeTarget& t) {
        int32_t f = flags;
        l.GetCustomTypeInfoByNumber(t.TypeIndex)->SetImplTypeFlags(t.MemberId, f);
    };
}

// A fresh Shapes whose dual interface IShape is called IShape2.
ComPtr<ITypeLib> RenamedCopy() {
    ComPtr<ITypeLib> copy = Shapes();
    EXPECT_OK(TypeNamed(copy.get(), u"IShape").As<ICreateTypeInfo2>()->SetName(u"IShape2"));
    return copy;
}

WORD MajorVersion(ITypeLib* lib, const char16_t* type) {
    TYPEATTR* attr = nullptr;
    ComPtr<ITypeInfo> ti = TypeNamed(lib, type);
    EXPECT_OK(ti->GetTypeAttr(&attr));
    const WORD major = attr->wMajorVerNum;
    ti->ReleaseTypeAttr(attr);
    return major;
}

using ReplayTest = HistoryTest;
using Texts = std::vector<std::string>;

TEST_F(ReplayTest, AHistoryRebuildsItsEditsOnACopyWhoseInterfaceWasRenamed) {
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"), SetVersion(2, 5));
    Apply(ChangeKind::TypeChange, "alias", TypeTarget(lib.get(), u"ShapeAlias"), SetVersion(3, 1));
    Apply(ChangeKind::RenameChange, "member", MemberTarget(lib.get(), u"IShape", u"Zoom"), RenameMember(u"Magnify"));
    Apply(ChangeKind::ParamChange, "lcid", ParamTarget(lib.get(), u"IShape", u"Area", 1, kParamLcid),
          RenameParam(u"locale"));
    Apply(ChangeKind::ParamChange, "named", ParamTarget(lib.get(), u"Kernel", u"Beep", 0, kParamNamed, u"freq"),
          RenameParam(u"hertz"));
    Apply(ChangeKind::ImplTypeChange, "impl", ImplTarget(lib.get(), u"Shape", 1),
          SetImplFlags(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FRESTRICTED));
    const std::string edited = Dump(lib.get());

    // The copy's interface is called IShape2, and Beep's parameter "frequency".
    const ComPtr<ITypeLib> copy = RenamedCopy();
    std::u16string beepNames[] = {u"Beep", u"frequency"};
    LPOLESTR names[] = {beepNames[0].data(), beepNames[1].data()};
    EXPECT_OK(TypeNamed(copy.get(), u"Kernel").As<ICreateTypeInfo2>()->SetFuncAndParamNames(0, names, 2));
    engine.AttachITypeLib(copy.get());
    chooser.answers = {u"IShape2", u"IShape2", u"IShape2", u"frequency"};
    EXPECT_TRUE(Execute(kCmdRun));

    std::string replayed = Dump(copy.get());
    for (size_t at; (at = replayed.find("IShape2")) != std::string::npos;) replayed.replace(at, 7, "IShape");
    EXPECT_EQ(replayed, edited);
    // Asked once for each item that names the old interface (the alias of it
    // is found), and for the parameter.
    ASSERT_EQ(chooser.requests.size(), 4u);
    EXPECT_EQ(Utf8(chooser.requests[0].Message),
              "Cannot find interface type named 'IShape'. Please choose another type.");
    ASSERT_EQ(chooser.requests[0].Entries.size(), 2u);
    EXPECT_EQ(Utf8(chooser.requests[0].Entries[1].Text), "ShapeAlias");
    EXPECT_EQ(list.Texts()[0], "dual: interface IShape2");
    EXPECT_EQ(list.Texts()[2], "member: interface method IShape2.Zoom");
    EXPECT_EQ(Utf8(chooser.requests[3].Message),
              "Cannot find a parameter named 'freq'. Please choose another parameter.");
    EXPECT_EQ(list.Texts()[4], "named: parameter frequency of Kernel.Beep");
    EXPECT_EQ(std::count(list.events.begin(), list.events.end(), "Intervention"), 4);
    EXPECT_EQ(engine.ItemCount(), 6);
}

TEST_F(ReplayTest, ATypeRecordedByItsOwnTypeKindIsFoundAndOffered) {
    // Other writers store a dual as a dispinterface and an alias of an interface as an alias.
    ChangeTarget dual = TypeTarget(lib.get(), u"IShape"), alias = TypeTarget(lib.get(), u"ShapeAlias");
    dual.TypeKind = TKIND_DISPATCH;
    alias.TypeKind = TKIND_ALIAS;
    Apply(ChangeKind::TypeChange, "dual", dual, SetVersion(2, 5));
    Apply(ChangeKind::TypeChange, "alias", alias, SetVersion(3, 1));
    const std::string edited = Dump(lib.get());
    const ComPtr<ITypeLib> copy = Shapes();
    engine.AttachITypeLib(copy.get());
    EXPECT_TRUE(Execute(kCmdRun));  // no chooser answers: not asked
    EXPECT_EQ(Dump(copy.get()), edited);
    // Offered: IShape and DShapeEvents; LongPtr, ShapeAlias and LongPtrAlias.
    EXPECT_EQ(modChooseName::TypeRequest(copy.get(), TKIND_DISPATCH, u"x").Entries.size(), 2u);
    EXPECT_EQ(modChooseName::TypeRequest(copy.get(), TKIND_ALIAS, u"x").Entries.size(), 3u);
}

TEST_F(ReplayTest, ACancelledChoiceStopsTheRunAtItsItem) {
    Apply(ChangeKind::LibChange, "lib", LibTarget());
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"));
    Apply(ChangeKind::LibChange, "after", LibTarget());
    engine.AttachITypeLib(RenamedCopy().get());
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdRun); }), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(list.Texts(), (Texts{"lib: library", "*dual: interface IShape", "after: library", "<end>"}));
    EXPECT_EQ(list.selected, 1);
}

TEST_F(ReplayTest, WithoutAWindowAMissingTargetFailsUnlessAWindowCanBeOpened) {
    Apply(ChangeKind::LibChange, "lib", LibTarget());
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"));
    engine.UIActivator(nullptr);  // batch mode
    engine.AttachITypeLib(RenamedCopy().get());
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdRun); }), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(engine.EnabledCommands(1, kEndItem) & kCmdRestart, kCmdRestart);  // the first item was applied

    // A window that opens and asks the run to stop: no error, the run waits at the item.
    activation.askToStop = true;
    engine.UIActivator(&activation);
    EXPECT_FALSE(Execute(kCmdRun));
    EXPECT_EQ(list.Texts(), (Texts{"lib: library", "*dual: interface IShape", "<end>"}));
    EXPECT_TRUE(chooser.requests.empty());
    chooser.answers = {u"IShape2"};
    EXPECT_TRUE(Execute(kCmdRun));
    EXPECT_EQ(list.Texts().back(), "*<end>");
}

TEST_F(ReplayTest, AReplayedChangeThatSendsNoNotificationDoesNotSwallowTheNextEdit) {
    auto quiet = Apply(ChangeKind::LibChange, "quiet", LibTarget());
    *quiet->silent = true;
    Execute(kCmdRestart);
    EXPECT_TRUE(Execute(kCmdRun));
    EXPECT_EQ(engine.ItemCount(), 1);
    Apply(ChangeKind::LibChange, "next", LibTarget());
    EXPECT_EQ(engine.ItemCount(), 2);
}

TEST_F(ReplayTest, AFailingChangeStopsTheRunAtItselfAndIsDetached) {
    auto failing = std::make_shared<bool>(false);
    Apply(ChangeKind::LibChange, "ok", LibTarget());
    Apply(ChangeKind::LibChange, "bad", LibTarget(), [failing](CustomTypeLib&, ChangeTarget&) {
        if (*failing) RaiseError(TYPE_E_DUPLICATEID);
    });
    Apply(ChangeKind::LibChange, "later", LibTarget());
    Execute(kCmdRestart);
    *failing = true;
    log->calls.clear();
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdRun); }), TYPE_E_DUPLICATEID);
    EXPECT_EQ(log->Joined(), "ok.bind ok.apply0 ok.detach bad.bind bad.apply0 bad.detach");
    EXPECT_EQ(list.Texts()[1], "*bad: library");
    // The failed run left no mark at the hub: the next edit is recorded.
    Apply(ChangeKind::LibChange, "next", LibTarget());
    EXPECT_EQ(engine.ItemCount(), 4);
}

// A target chosen for an item whose change then fails: the item reads as
// naming the chosen target, and the window hears that it changed.
TEST_F(ReplayTest, AnItemRetargetedByAChoiceShowsItEvenWhenItsChangeFails) {
    auto failing = std::make_shared<bool>(false);
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"), [failing](CustomTypeLib&, ChangeTarget&) {
        if (*failing) RaiseError(TYPE_E_DUPLICATEID);
    });
    *failing = true;
    engine.AttachITypeLib(RenamedCopy().get());
    chooser.answers = {u"IShape2"};
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdRun); }), TYPE_E_DUPLICATEID);
    EXPECT_EQ(list.Texts()[0], "*dual: interface IShape2");
    EXPECT_EQ(list.events, (Texts{"Intervention"}));
}

TEST_F(ReplayTest, AListenerThatFailsOnAReplayedChangeLeavesTheItemApplied) {
    Record(2);
    RecordingListener failing("V");
    SMNode node;
    hub->AddListenerNode(node, failing);
    Execute(kCmdRestart);
    failing.fail = true;
    log->calls.clear();
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdRun); }), kErrInvalidArgument);
    // c0 was applied and the listeners heard of it: the run stops after it.
    EXPECT_EQ(log->Joined(), "c0.bind c0.apply0 c0.detach");
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "*c1: library", "<end>"}));
    EXPECT_EQ(engine.ItemCount(), 2);
}

TEST_F(ReplayTest, LaterItemsFollowARegeneratedLibraryAndKeepTheUnresolvedTypesLibrary) {
    ComPtr<ITypeLib> regenerated;
    Apply(ChangeKind::ReorderTypesChange, "regenerate", LibTarget(), [&](CustomTypeLib& l, ChangeTarget& t) {
        regenerated = Shapes();
        l.Attach(regenerated.get());
        t.ReplacementLibrary = regenerated;
        t.UnresolvedLibrary = nullptr;  // every import resolved
    });
    Apply(ChangeKind::TypeChange, "enum", TypeTarget(regenerated.get(), u"Colors"), SetVersion(7, 0));
    EXPECT_EQ(engine.CurrentITypeLib().get(), regenerated.get());  // recording follows as well

    const ComPtr<ITypeLib> copy = Shapes();
    engine.AttachITypeLib(copy.get());
    ComPtr<ICreateTypeLib2> companion = NewLibrary(u"MISSING");
    modITypeInfoHelper::MarkUnresolvedTypesLib(companion.get());
    engine.UnresolvedITypeLib(AsTypeLib(companion.get()).get());
    EXPECT_TRUE(Execute(kCmdRun));
    EXPECT_EQ(MajorVersion(regenerated.get(), u"Colors"), 7);
    EXPECT_EQ(MajorVersion(copy.get(), u"Colors"), 0);
    EXPECT_EQ(engine.CurrentITypeLib().get(), regenerated.get());
    EXPECT_TRUE(engine.UnresolvedITypeLib());
}

TEST_F(ReplayTest, MissingParametersAndMembersOfAnotherInvokeKind) {
    // Zoom(factor) has no return value parameter, _Hidden() no parameter at all.
    Apply(ChangeKind::ParamChange, "ret", ParamTarget(lib.get(), u"IShape", u"Zoom", 0, kParamReturnValue));
    Apply(ChangeKind::ParamChange, "rhs", ParamTarget(lib.get(), u"IShape", u"_Hidden", 0, kParamRightHandSide));
    // Zoom is a method, not a property get: the chooser offers the property gets.
    Apply(ChangeKind::MemberChange, "get", MemberTarget(lib.get(), u"IShape", u"Zoom", INVOKE_PROPERTYGET));
    Execute(kCmdRestart);
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdStep); }), TYPE_E_ELEMENTNOTFOUND);
    Execute(kCmdSetNextStatement, 1);
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdStep); }), TYPE_E_ELEMENTNOTFOUND);
    Execute(kCmdSetNextStatement, 2);
    chooser.answers = {u"Name"};
    EXPECT_TRUE(Execute(kCmdStep));
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(Utf8(chooser.requests[0].Message),
              "Cannot find a Property Get named 'Zoom'. Please choose another procedure.");
    EXPECT_EQ(list.Texts()[2], "get: interface Property Get function IShape.Name");
}

TEST_F(ReplayTest, TheParametersOfferedLeaveOutThoseWithARole) {
    // Area(scale, [lcid] lcid, [out, retval] area); the put of Name has only its value.
    const ComPtr<ITypeInfo> shape =
        modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), TypeTarget(lib.get(), u"IShape").TypeIndex);
    const ChangeTarget area = MemberTarget(lib.get(), u"IShape", u"Area");
    const ChooseNameRequest request = modChooseName::ParameterRequest(shape.get(), area.MemberId, INVOKE_FUNC, u"x");
    ASSERT_EQ(request.Entries.size(), 1u);
    EXPECT_EQ(Utf8(request.Entries[0].Text), "scale");
    std::u16string name = u"x";
    int32_t index = -1;
    const ChangeTarget put = MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYPUT);
    EXPECT_FALSE(modChooseName::ChooseParameter(chooser, shape.get(), put.MemberId, INVOKE_PROPERTYPUT, name, index));
    EXPECT_TRUE(chooser.requests.empty());  // nothing to offer: not asked
}

TEST_F(ReplayTest, SelectTargetShowsTheTargetAndReDescribesTheItemAfterAChoice) {
    RecordingListener other("V");
    SMNode otherNode;
    hub->AddListenerNode(otherNode, other);
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"));
    engine.AttachITypeLib(RenamedCopy().get());
    chooser.answers = {u"IShape2"};
    log->calls.clear();
    EXPECT_TRUE(Execute(kCmdSelectTarget, 0));
    EXPECT_EQ(Texts(other.Heard().end() - 2, other.Heard().end()), (Texts{"V:Refresh", "V:Select:IShape2"}));
    EXPECT_EQ(list.Texts()[0], "*dual: interface IShape2");
    EXPECT_EQ(list.events, (Texts{"Intervention", "RefreshAll"}));
    EXPECT_EQ(log->Joined(), "dual.bind dual.detach");
}

// The views fail to show a target chosen for the item: the item names it all
// the same, reads so, and the window hears that it changed.
TEST_F(ReplayTest, SelectTargetThatFailsAfterAChoiceShowsTheChosenTargetAllTheSame) {
    RecordingListener other("V");
    SMNode otherNode;
    hub->AddListenerNode(otherNode, other);
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"));
    engine.AttachITypeLib(RenamedCopy().get());
    other.onCall = [&] {
        if (other.Heard().back() == "V:Select:IShape2") RaiseError(kErrInvalidArgument);
    };
    chooser.answers = {u"IShape2"};
    EXPECT_EQ(ErrorOf([&] { Execute(kCmdSelectTarget, 0); }), kErrInvalidArgument);
    EXPECT_EQ(list.Texts()[0], "*dual: interface IShape2");
    EXPECT_EQ(list.events, (Texts{"Intervention", "RefreshAll"}));
}

TEST_F(ReplayTest, KindsThatCaptureTheirTargetGetAFreshObjectFilledFromIt) {
    std::vector<int> codes;
    Playback capturing(files, [&](uint8_t code) -> ChangePtr {
        codes.push_back(code);
        return std::make_shared<FakeChange>(ChangeKind::TypeChange, "captured", Edit{}, log);
    });
    engine.ChangeListener(nullptr);
    capturing.ChangeListener(hub);
    capturing.CurrentITypeLib(lib.get());
    Apply(ChangeKind::TypeChange, "dual", TypeTarget(lib.get(), u"IShape"));
    Apply(ChangeKind::ReorderVTableChange, "reorder", TypeTarget(lib.get(), u"IShape"));
    capturing.ExecuteCommand(kCmdRestart, -1, 0);
    log->calls.clear();
    EXPECT_TRUE(capturing.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(codes, std::vector<int>{Code(ChangeKind::TypeChange)});
    EXPECT_EQ(
        log->Joined(),
        "captured.init dual.bind+current dual.apply0+captured dual.detach reorder.bind reorder.apply0 reorder.detach");
}

}  // namespace
}  // namespace changestest

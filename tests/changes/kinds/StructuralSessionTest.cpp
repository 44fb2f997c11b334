// The structural change kinds end to end: a scripted editing session that
// uses each of them (and gives the types it adds fixed GUIDs) is recorded,
// saved as a history file, loaded, and run against a fresh copy of the
// starting library; both edited libraries are saved and must read alike, and
// like the committed reference dump. Then one
// committed history file per kind, checked byte for byte.
//
// Set ZEPHRIN_UPDATE_GOLDENS to rewrite the committed files (the reference
// dump is then made with the reference dumper, by hand).
#include <cstdlib>
#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/history/HistoryFile.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "changes/hub/VTICache.h"
#include "platform/automation/Guid.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/TempDir.h"
#include "typelib/TypeLibSupport.h"

namespace changestest {
namespace {

bool UpdateGoldens() { return std::getenv("ZEPHRIN_UPDATE_GOLDENS") != nullptr; }

// Shapes, with an interface to flatten: IShapeEx : IShape { HRESULT Grow([in] long by); }.
ComPtr<ITypeLib> StartingLibrary() {
    ComPtr<ICreateTypeLib2> lib = BuildShapes();
    ComPtr<ICreateTypeInfo2> ex = NewType(lib.get(), u"IShapeEx", TKIND_INTERFACE);
    EXPECT_OK(ex->AddImplType(0, RefTo(ex.get(), TypeNamed(AsTypeLib(lib.get()).get(), u"IShape").get())));
    AddFunc(ex.get(), 0, {.name = u"Grow", .params = {{u"by", Vt(VT_I4)}}});
    EXPECT_OK(ex->LayOut());
    return AsTypeLib(lib.get());
}

class StructuralSession : public ::testing::Test {
protected:
    StructuralSession() {
        history.ChangeListener(hub);
        history.CurrentITypeLib(lib.get());
        view.Attach(lib.get());
    }

    // Applies a change as the editor view does, through the hub.
    template <class C>
    void Do(const std::shared_ptr<C>& change, ChangeTarget target) {
        const std::string text = Utf8(change->Describe(target));
        try {
            ASSERT_TRUE(change->Apply(view, nullptr, target, hub.get(), 0)) << text;
        } catch (const ErrorRecord& e) {
            FAIL() << text << ": " << e.what();
        }
        // A change that regenerated the library hands on the new one.
        if (target.ReplacementLibrary) lib = target.ReplacementLibrary;
    }
    void Do(const ChangePtr& change, ChangeTarget target) { Do<IChange>(change, std::move(target)); }

    void AddType(TYPEKIND kind) {
        auto c = modAddTypeChange::NewAddTypeChange(false);
        c->TypeKind(kind);
        Do(c, LibraryTarget(lib.get()));
    }
    void AddMember(const ChangeTarget& target, int32_t invokeKind) {
        auto c = modAddMemberChange::NewAddMemberChange(false);
        c->InvokeKind(invokeKind);
        Do(c, target);
    }
    void AddImplType(const char16_t* coclass, const char16_t* interface) {
        auto c = modAddImplTypeChange::NewAddImplTypeChange(false);
        c->VarTypeInfo(TypeDescOf(lib.get(), interface).get());
        Do(c, TypeTarget(lib.get(), coclass));
    }
    void InsertParam(const ChangeTarget& target, int32_t form) {
        auto c = modInsertParamChange::NewInsertParamChange(false);
        c->ParamForm(form);
        Do(c, target);
    }
    void Rename(const ChangeTarget& target, const char16_t* name) {
        auto c = modRenameChange::NewRenameChange(false);
        c->NewName(name);
        Do(c, target);
    }
    void CopyMember(const char16_t* type, const char16_t* member, const ChangeTarget& target) {
        auto c = modCopyMemberChange::NewCopyMemberChange(false);
        c->VarTypeInfo(TypeDescOf(lib.get(), type).get());
        c->SourceMemberId(MemberTarget(lib.get(), type, member).MemberId);
        Do(c, target);
    }
    // Every function of IShape in the reverse vtable order.
    std::vector<int16_t> ReversedVTable() {
        const auto index = static_cast<UINT>(TypeTarget(lib.get(), u"IShape").TypeIndex);
        ComPtr<ITypeInfo> shape = modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), index);
        std::vector<int16_t> offsets;
        using typelib_detail::FuncDescHolder;
        for (UINT i = 0; i < typelib_detail::TypeAttr(shape.get())->cFuncs; ++i)
            offsets.push_back(FuncDescHolder(shape.get(), i)->oVft);
        std::reverse(offsets.begin(), offsets.end());
        return offsets;
    }

    void RecordSession() {
        const auto member = [&](const char16_t* type, const char16_t* name, int32_t kind = INVOKE_FUNC) {
            return MemberTarget(lib.get(), type, name, kind);
        };
        const auto param = [&](const char16_t* type, const char16_t* name, int16_t index) {
            return ParamTarget(lib.get(), type, name, index);
        };
        for (TYPEKIND kind : {TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS,
                              TKIND_ALIAS, TKIND_UNION, TKIND_INTERFACE})
            AddType(kind);
        // The types added with a fresh GUID get a fixed one, as the user would give them.
        uint32_t n = 0x5E55100;
        for (const char16_t* type : {u"Interface1", u"Interface2", u"Dispinterface1", u"Coclass1"}) {
            const std::shared_ptr<IAttributeChange> guid = modTypeChange::NewTypeChange(false);
            ChangeTarget target = TypeTarget(lib.get(), type);
            guid->InitFromTarget(target);
            guid->Guid({++n, 0x19, 0x19, {1, 2, 3, 4, 5, 6, 7, 8}});
            Do(guid, target);
        }
        AddImplType(u"Coclass1", u"Interface1");
        AddImplType(u"Coclass1", u"Interface2");
        AddImplType(u"Shape", u"Interface2");

        // Members of every kind, and the missing accessors of properties.
        for (int32_t kinds : {1, 1, 6, 10, 2, 4}) AddMember(TypeTarget(lib.get(), u"Interface1"), kinds);
        AddMember(member(u"Interface1", u"Property3", INVOKE_PROPERTYGET), INVOKE_PROPERTYPUT);
        AddMember(member(u"Interface1", u"Property4", INVOKE_PROPERTYPUT), INVOKE_PROPERTYGET);
        AddMember(member(u"IShape", u"Name", INVOKE_PROPERTYGET), INVOKE_PROPERTYPUTREF);
        for (int32_t kinds : {1, 0, 6}) AddMember(TypeTarget(lib.get(), u"Module1"), kinds);
        AddMember(TypeTarget(lib.get(), u"Kernel"), INVOKE_FUNC);
        for (const char16_t* type : {u"Enum1", u"Record1", u"Union1", u"Dispinterface1"})
            AddMember(TypeTarget(lib.get(), type), 0);
        AddMember(TypeTarget(lib.get(), u"Dispinterface1"), INVOKE_FUNC);
        AddMember(member(u"Colors", u"Red", 0), 0);
        AddMember(member(u"Matrix", u"rows", 0), 0);

        // Parameters of every form.
        InsertParam(member(u"Interface1", u"Method1"), InsertParamChange::kRequired);
        InsertParam(param(u"Interface1", u"Method1", 0), InsertParamChange::kTypedOptional);
        InsertParam(param(u"Interface1", u"Method1", 1), InsertParamChange::kVariantOptional);
        InsertParam(param(u"Interface1", u"Method1", 2), InsertParamChange::kNullOptional);
        InsertParam(member(u"Interface1", u"Method2"), InsertParamChange::kParamArray);
        InsertParam(param(u"Interface1", u"Method2", 0), InsertParamChange::kLcid);
        InsertParam(param(u"Interface1", u"Method2", 1), InsertParamChange::kReturnValue);

        Rename(LibraryTarget(lib.get()), u"ShapesEdited");
        Rename(TypeTarget(lib.get(), u"Alias1"), u"LongAlias");
        Rename(member(u"Interface1", u"Method1"), u"DoWork");
        Rename(param(u"Interface1", u"DoWork", 0), u"count");

        auto vtable = modReorderVTableChange::NewReorderVTableChange(false);
        vtable->Offsets(ReversedVTable());
        vtable->SynchronizeFuncDescs(true);
        Do(vtable, TypeTarget(lib.get(), u"IShape"));
        auto vars = modReorderVarsChange::NewReorderVarsChange(false);
        vars->NewOrder({5, 4, 3, 2, 1, 0});
        Do(vars, TypeTarget(lib.get(), u"Matrix"));
        // The types in reverse order (a derived interface before its base).
        std::vector<int16_t> reversed(lib->GetTypeInfoCount());
        for (size_t k = 0; k < reversed.size(); ++k) reversed[k] = static_cast<int16_t>(reversed.size() - 1 - k);
        auto types = modReorderTypesChange::NewReorderTypesChange(false);
        types->NewOrder(reversed);
        Do(types, LibraryTarget(lib.get()));

        CopyMember(u"IShape", u"Area", TypeTarget(lib.get(), u"Interface1"));
        CopyMember(u"IShape", u"Name", TypeTarget(lib.get(), u"Interface1"));
        CopyMember(u"Matrix", u"cells", member(u"Record1", u"Field1", 0));
        CopyMember(u"Kernel", u"Beep", TypeTarget(lib.get(), u"Module1"));

        Do(modFlattenChange::GetFlattenChange(), TypeTarget(lib.get(), u"IShapeEx"));
        Do(modResetIDsChange::GetResetAutomaticIDsChange(), TypeTarget(lib.get(), u"Interface1"));
        Do(modResetIDsChange::GetResetAllIDsChange(), TypeTarget(lib.get(), u"IShapeEx"));
        Do(modRemoveParamArrayChange::GetRemoveParamArrayChange(), member(u"Interface1", u"Method2"));

        Do(modDeleteChange::GetDeleteChange(), member(u"Interface1", u"Property2", INVOKE_PROPERTYPUTREF));
        Do(modDeleteChange::GetDeleteChange(), member(u"Record1", u"Field1", 0));
        Do(modDeleteChange::GetDeleteChange(), param(u"Interface1", u"DoWork", 3));
        Do(modDeleteChange::GetDeleteChange(), ImplTarget(lib.get(), u"Coclass1", 0));
        // Both accessors of a property at once, and a type.
        Do(modDeleteChange::GetDeleteChange(),
           member(u"Interface1", u"Property1", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT));
        Do(modDeleteChange::GetDeleteChange(), TypeTarget(lib.get(), u"Enum1"));
    }

    TempDir dir;
    ComPtr<ITypeLib> lib = StartingLibrary();
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    CustomTypeLib view;
    Playback history;
};

TEST_F(StructuralSession, ARecordedSessionRunOnAFreshCopyEditsItAlike) {
    RecordSession();
    if (HasFatalFailure()) return;
    ASSERT_EQ(history.ItemCount(), 68);  // four adds of a type with a GUID record it too
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    const std::string edited = SaveAndDump(lib.get(), dir / "edited.tlb");

    Playback replay;
    replay.LoadState(folder, u"session.leh");
    const ComPtr<ITypeLib> fresh = StartingLibrary();
    replay.AttachITypeLib(fresh.get());
    EXPECT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(SaveAndDump(replay.CurrentITypeLib().get(), dir / "replayed.tlb"), edited);
    // Nothing is made anew by a replay: the files are the same bytes.
    EXPECT_EQ(FileBytes(dir / "replayed.tlb"), FileBytes(dir / "edited.tlb"));
    // The history that ran saves to the same bytes.
    ASSERT_TRUE(replay.SaveState(folder, u"again.leh"));
    EXPECT_EQ(FileBytes(dir / "again.leh"), FileBytes(dir / "session.leh"));

    const fs::path reference = HistoryData() / "session.dump";
    if (UpdateGoldens()) {
        fs::copy_file(dir / "edited.tlb", HistoryData() / "session.tlb", fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "wrote session.tlb; make session.dump with the reference dumper";
    }
    const Bytes expected = FileBytes(reference);
    EXPECT_EQ(tlbtools::WithCrLf(edited), std::string(expected.begin(), expected.end()));
}


TEST_F(StructuralSession, AnEngineRecordsWhatAnotherReplaysOnTheSameHubAndSavesIt) {
    RecordSession();
    if (HasFatalFailure()) return;
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    // Two history windows of one editor: one runs its history, the other records it.
    const auto shared = std::make_shared<ChangeListener>();
    Playback replay, recorder;
    replay.ChangeListener(shared);
    recorder.ChangeListener(shared);
    replay.LoadState(folder, u"session.leh");
    const ComPtr<ITypeLib> fresh = StartingLibrary();
    replay.AttachITypeLib(fresh.get());
    recorder.CurrentITypeLib(fresh.get());
    ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(recorder.ItemCount(), 68);
    ASSERT_TRUE(recorder.SaveState(folder, u"recorded.leh"));
    EXPECT_EQ(FileBytes(dir / "recorded.leh"), FileBytes(dir / "session.leh"));
}

// An added interface, dispinterface and coclass keep the GUIDs they were
// given at every replay: the engine records each right after its add, a run
// gives it with the add and a step with the item after; an item deleted, or a
// history made without them, leaves the types fresh GUIDs as ever.
TEST_F(StructuralSession, AddedTypesGetTheGuidsTheyWereGivenAtEveryReplay) {
    ShownHistoryList shown{history};
    ASSERT_TRUE(shown.Shown());
    FakeHistoryList& ui = shown.ui;
    for (TYPEKIND kind : {TKIND_INTERFACE, TKIND_ENUM, TKIND_DISPATCH, TKIND_COCLASS}) AddType(kind);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{
                              "Add interface type", "Change interface Interface1 (GUID)", "Add enum type",
                              "Add dispinterface type", "Change dispinterface Dispinterface1 (GUID)",
                              "Add coclass type", "Change coclass Coclass1 (GUID)", "*<end>"}));
    shown.Hide();
    const auto guidOf = [](ITypeLib* in, const char16_t* type) {
        return typelib_detail::TypeAttr(TypeNamed(in, type).get())->guid;
    };
    const std::vector<const char16_t*> added = {u"Interface1", u"Dispinterface1", u"Coclass1"};
    std::vector<GUID> given;
    for (const char16_t* type : added) given.push_back(guidOf(lib.get(), type));
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    SaveAndDump(lib.get(), dir / "edited.tlb");

    // Two runs write the file the edits wrote.
    for (const char* run : {"run1.tlb", "run2.tlb"}) {
        Playback replay;
        replay.LoadState(folder, u"session.leh");
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
        SaveAndDump(replay.CurrentITypeLib().get(), dir / run);
        EXPECT_EQ(FileBytes(dir / run), FileBytes(dir / "edited.tlb")) << run;
    }
    // A step adds the interface with a fresh GUID; the next step gives it its own.
    {
        Playback replay;
        replay.LoadState(folder, u"session.leh");
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        ASSERT_TRUE(replay.ExecuteCommand(kCmdStep, -1, 0));
        EXPECT_NE(guidOf(replay.CurrentITypeLib().get(), u"Interface1"), given[0]);
        ASSERT_TRUE(replay.ExecuteCommand(kCmdStep, -1, 0));
        EXPECT_EQ(guidOf(replay.CurrentITypeLib().get(), u"Interface1"), given[0]);
    }
    // The interface's GUID item deleted in the window: only the interface gets a fresh GUID.
    {
        Playback replay;
        FakeHistoryList list{replay};
        shown.activation.list = &list;
        replay.UIActivator(&shown.activation);
        replay.LoadState(folder, u"session.leh");
        ASSERT_TRUE(replay.ActivateUI());
        replay.ExecuteCommand(kCmdDelete, 1, list.lines.at(1));
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
        EXPECT_NE(guidOf(replay.CurrentITypeLib().get(), u"Interface1"), given[0]);
        EXPECT_EQ(guidOf(replay.CurrentITypeLib().get(), u"Dispinterface1"), given[1]);
        EXPECT_EQ(guidOf(replay.CurrentITypeLib().get(), u"Coclass1"), given[2]);
        replay.UIActivator(nullptr);
    }
    // A history made without them: every run mints fresh GUIDs.
    {
        VTICache cache;
        const Bytes file = FileBytes(dir / "session.leh");
        std::list<ChangeNode> items = modRecorder::ReadEditHistory(std::as_bytes(std::span(file)), cache, dir.path());
        items.remove_if([](const ChangeNode& item) { return item.KindCode() == Code(ChangeKind::TypeChange); });
        ASSERT_EQ(items.size(), 4u);
        const std::vector<std::byte> bytes = modRecorder::WriteEditHistory(items, cache, dir.path());
        std::ofstream(dir / "elsewhere.leh", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<GUID> minted;
    for (int run = 0; run < 2; ++run) {
        Playback replay;
        replay.LoadState(folder, u"elsewhere.leh");
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
        for (size_t i = 0; i < added.size(); ++i) {
            minted.push_back(guidOf(replay.CurrentITypeLib().get(), added[i]));
            EXPECT_NE(minted.back(), given[i]);
        }
    }
    for (size_t i = 0; i < added.size(); ++i) EXPECT_NE(minted[i], minted[i + added.size()]);
}

// Run again on the library it made, the history adds a second interface
// under the first one's old name: that one can't have the GUID of the first,
// so the add gives it a fresh one and the GUID item is refused.
TEST_F(StructuralSession, AnAddedTypeWhoseGuidAnotherTypeHoldsGetsAFreshOne) {
    AddType(TKIND_INTERFACE);
    Rename(TypeTarget(lib.get(), u"Interface1"), u"IAdded");
    const GUID given = typelib_detail::TypeAttr(TypeNamed(lib.get(), u"IAdded").get())->guid;
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    Playback replay;
    replay.LoadState(folder, u"session.leh");
    replay.AttachITypeLib(lib.get());
    EXPECT_EQ(ErrorOf([&] { replay.ExecuteCommand(kCmdRun, -1, 0); }), TYPE_E_DUPLICATEID);
    const GUID fresh = typelib_detail::TypeAttr(TypeNamed(lib.get(), u"Interface1").get())->guid;
    EXPECT_NE(fresh, given);
    EXPECT_NE(fresh, GUID{});
    EXPECT_EQ(typelib_detail::TypeAttr(TypeNamed(lib.get(), u"IAdded").get())->guid, given);
}

// A breakpoint on an added type's GUID item, Run to Cursor on it, or Set
// Next Statement past it: the run stops before the item, and the type keeps
// the GUID its add gave it until the item is applied; an item skipped leaves
// it that GUID, as stepping through would.
TEST_F(StructuralSession, AStopBetweenAnAddAndItsGuidItemLeavesTheGuidToTheItem) {
    ShownHistoryList shown{history};
    ASSERT_TRUE(shown.Shown());
    for (TYPEKIND kind : {TKIND_INTERFACE, TKIND_COCLASS}) AddType(kind);
    shown.Hide();
    const auto guidOf = [](ITypeLib* in, const char16_t* type) {
        return typelib_detail::TypeAttr(TypeNamed(in, type).get())->guid;
    };
    const GUID interfaceGuid = guidOf(lib.get(), u"Interface1");
    const GUID coclassGuid = guidOf(lib.get(), u"Coclass1");
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    SaveAndDump(lib.get(), dir / "edited.tlb");

    for (const int32_t stopBy : {kCmdToggleBreakpoint, kCmdRunToCursor}) {
        SCOPED_TRACE(stopBy);
        Playback replay;
        FakeHistoryList list{replay};
        shown.activation.list = &list;
        replay.UIActivator(&shown.activation);
        replay.LoadState(folder, u"session.leh");
        ASSERT_TRUE(replay.ActivateUI());
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        if (stopBy == kCmdToggleBreakpoint) {
            replay.ExecuteCommand(kCmdToggleBreakpoint, 1, list.lines.at(1));
            replay.ExecuteCommand(kCmdRun, -1, 0);
        } else {
            replay.ExecuteCommand(kCmdRunToCursor, 1, list.lines.at(1));
        }
        EXPECT_NE(guidOf(replay.CurrentITypeLib().get(), u"Interface1"), interfaceGuid);
        // Past the item: the interface keeps the GUID its add gave it.
        replay.ExecuteCommand(kCmdSetNextStatement, 2, list.lines.at(2));
        replay.ExecuteCommand(kCmdClearBreakpoints, -1, 0);
        replay.ExecuteCommand(kCmdRun, -1, 0);
        EXPECT_NE(guidOf(replay.CurrentITypeLib().get(), u"Interface1"), interfaceGuid);
        EXPECT_EQ(guidOf(replay.CurrentITypeLib().get(), u"Coclass1"), coclassGuid);
        replay.UIActivator(nullptr);
    }
    // Stopped between them, the item then applied: the files are the same bytes.
    {
        Playback replay;
        FakeHistoryList list{replay};
        shown.activation.list = &list;
        replay.UIActivator(&shown.activation);
        replay.LoadState(folder, u"session.leh");
        ASSERT_TRUE(replay.ActivateUI());
        const ComPtr<ITypeLib> fresh = StartingLibrary();
        replay.AttachITypeLib(fresh.get());
        replay.ExecuteCommand(kCmdToggleBreakpoint, 3, list.lines.at(3));
        replay.ExecuteCommand(kCmdRun, -1, 0);
        EXPECT_NE(guidOf(replay.CurrentITypeLib().get(), u"Coclass1"), coclassGuid);
        replay.ExecuteCommand(kCmdRun, -1, 0);
        SaveAndDump(replay.CurrentITypeLib().get(), dir / "stopped.tlb");
        EXPECT_EQ(FileBytes(dir / "stopped.tlb"), FileBytes(dir / "edited.tlb"));
        replay.UIActivator(nullptr);
    }
}

// On a new library the engine records the library's GUID before its first
// change. A run gives it to another new library, also while a second engine
// records the run; on a library read from a file it is passed over, in a
// step as in a run, and the library keeps its own.
TEST_F(StructuralSession, ANewLibrarysGuidIsRecordedFirstAndGivenOnlyToANewLibrary) {
    const auto libraryGuid = [](ITypeLib* in) {
        TLIBATTR* attr = nullptr;
        EXPECT_OK(in->GetLibAttr(&attr));
        const GUID guid = attr ? attr->guid : GUID{};
        if (attr) in->ReleaseTLibAttr(attr);
        return guid;
    };
    const auto minted = [] {
        ComPtr<ITypeLib> made = StartingLibrary();
        GUID guid{};
        EXPECT_OK(ole::CoCreateGuid(&guid));
        EXPECT_OK(made.As<ICreateTypeLib2>()->SetGuid(guid));
        return made;
    };
    ShownHistoryList shown{history};
    ASSERT_TRUE(shown.Shown());
    FakeHistoryList& ui = shown.ui;
    history.LibraryIsNew(true);
    EXPECT_EQ(history.ItemCount(), 0);
    AddType(TKIND_INTERFACE);
    AddType(TKIND_ENUM);
    const GUID own = libraryGuid(lib.get());
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Identity of a new library (LIBID " + ole::GuidToUtf8(own) + ")",
                                                    "Add interface type", "Change interface Interface1 (GUID)",
                                                    "Add enum type", "*<end>"}));
    shown.Hide();
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    SaveAndDump(lib.get(), dir / "edited.tlb");

    const auto shared = std::make_shared<ChangeListener>();
    Playback replay, recorder;
    replay.ChangeListener(shared);
    recorder.ChangeListener(shared);
    replay.LoadState(folder, u"session.leh");
    const ComPtr<ITypeLib> fresh = minted();
    replay.AttachITypeLib(fresh.get());
    replay.LibraryIsNew(true);
    recorder.CurrentITypeLib(fresh.get());
    recorder.LibraryIsNew(true);
    ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
    SaveAndDump(replay.CurrentITypeLib().get(), dir / "replayed.tlb");
    EXPECT_EQ(FileBytes(dir / "replayed.tlb"), FileBytes(dir / "edited.tlb"));
    ASSERT_TRUE(recorder.SaveState(folder, u"recorded.leh"));
    EXPECT_EQ(FileBytes(dir / "recorded.leh"), FileBytes(dir / "session.leh"));

    Playback onFile;
    onFile.LoadState(folder, u"session.leh");
    const ComPtr<ITypeLib> file = minted();
    const GUID kept = libraryGuid(file.get());
    onFile.AttachITypeLib(file.get());
    ASSERT_TRUE(onFile.ExecuteCommand(kCmdStep, -1, 0));
    EXPECT_EQ(libraryGuid(onFile.CurrentITypeLib().get()), kept);
    ASSERT_TRUE(onFile.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(libraryGuid(onFile.CurrentITypeLib().get()), kept);
    EXPECT_EQ(typelib_detail::TypeAttr(TypeNamed(onFile.CurrentITypeLib().get(), u"Interface1").get())->guid,
              typelib_detail::TypeAttr(TypeNamed(lib.get(), u"Interface1").get())->guid);
}

// The identity item deleted (at the position, its only place to go): the
// next edit does not bring it back, nor does an edit in a later session that
// runs the saved history on a new library. A new history records it again.
TEST_F(StructuralSession, ADeletedIdentityOfANewLibraryStaysDeleted) {
    ShownHistoryList shown{history};
    ASSERT_TRUE(shown.Shown());
    FakeHistoryList& ui = shown.ui;
    history.LibraryIsNew(true);
    AddType(TKIND_ENUM);
    ASSERT_EQ(ui.Texts().front().substr(0, 12), "Identity of ");
    history.ExecuteCommand(kCmdSetNextStatement, 0, ui.lines.at(0));
    history.ExecuteCommand(kCmdDelete, 0, ui.lines.at(0));
    history.ExecuteCommand(kCmdSetNextStatement, -1, 0);
    AddType(TKIND_ENUM);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Add enum type", "Add enum type", "*<end>"}));
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
    history.LoadState(folder, u"session.leh");
    history.AttachITypeLib(StartingLibrary().get());
    history.LibraryIsNew(true);
    ASSERT_TRUE(history.ExecuteCommand(kCmdRun, -1, 0));
    AddType(TKIND_ENUM);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Add enum type", "Add enum type", "Add enum type", "*<end>"}));
    history.ClearState();
    AddType(TKIND_ENUM);
    EXPECT_EQ(ui.Texts().front().substr(0, 12), "Identity of ");
    shown.Hide();
}

// A library item whose mask marks a new library's GUID along with other
// fields is not that record (the program writes none so): it reads and
// replays as a change of all its fields, on a library read from a file too.
TEST_F(StructuralSession, AnIdentityMarkBesideOtherFieldsIsAPlainLibraryChange) {
    ChangeTarget target = LibraryTarget(lib.get());
    const std::shared_ptr<LibChange> crafted = LibChange::NewLibraryIdentity(target);
    crafted->MajorVersion(7);
    EXPECT_EQ(Utf8(crafted->Describe(target)), "Changed library settings (LIBID, Major Version)");
    std::list<ChangeNode> items(1);
    items.front().Flags = (kTargetLibrary << ChangeNode::kTargetKindShift) | Code(ChangeKind::LibChange);
    items.front().Text = u"crafted";
    items.front().Change = crafted;
    VTICache cache;
    const std::vector<std::byte> bytes = modRecorder::WriteEditHistory(items, cache, dir.path());
    std::ofstream(dir / "crafted.leh", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Playback onFile;
    onFile.LoadState(ole::FromUtf8(dir.path().string()), u"crafted.leh");
    const ComPtr<ITypeLib> file = StartingLibrary();
    onFile.AttachITypeLib(file.get());
    ASSERT_TRUE(onFile.ExecuteCommand(kCmdRun, -1, 0));
    TLIBATTR* attr = nullptr;
    ASSERT_OK(onFile.CurrentITypeLib()->GetLibAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 7);
    onFile.CurrentITypeLib()->ReleaseTLibAttr(attr);
}

// ---- One history file per kind ----

struct GoldenCase {
    const char* file;
    ChangeKind kind;
    std::function<ChangePtr(ITypeLib*)> change;
    std::function<ChangeTarget(ITypeLib*)> target;
};
void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.file; }

template <class C>
std::function<ChangePtr(ITypeLib*)> Made(std::function<std::shared_ptr<C>()> create,
                                         std::function<void(C&, ITypeLib*)> set) {
    return [=](ITypeLib* lib) -> ChangePtr {
        std::shared_ptr<C> c = create();
        set(*c, lib);
        return c;
    };
}

std::function<ChangePtr(ITypeLib*)> Shared(ChangePtr (*get)()) {
    return [=](ITypeLib*) { return get(); };
}

auto OnType(const char16_t* type) {
    return [=](ITypeLib* lib) { return TypeTarget(lib, type); };
}
auto OnMember(const char16_t* type, const char16_t* member, int32_t kind = INVOKE_FUNC) {
    return [=](ITypeLib* lib) { return MemberTarget(lib, type, member, kind); };
}

const std::vector<GoldenCase>& GoldenCases() {
    static const std::vector<GoldenCase> cases = {
        {"delete-parameter.leh", ChangeKind::DeleteChange, Shared(modDeleteChange::GetDeleteChange),
         [](ITypeLib* lib) { return ParamTarget(lib, u"IShape", u"Area", 0, kParamNamed, u"scale"); }},
        {"remove-paramarray.leh", ChangeKind::RemoveParamArrayChange,
         Shared(modRemoveParamArrayChange::GetRemoveParamArrayChange), OnMember(u"IShape", u"Sum")},
        {"rename.leh", ChangeKind::RenameChange,
         Made<RenameChange>([] { return modRenameChange::NewRenameChange(false); },
                            [](RenameChange& c, ITypeLib*) { c.NewName(u"Magnify"); }),
         OnMember(u"IShape", u"Zoom")},
        {"flatten.leh", ChangeKind::FlattenChange, Shared(modFlattenChange::GetFlattenChange), OnType(u"IShape")},
        {"reset-automatic-ids.leh", ChangeKind::ResetAutomaticIDsChange,
         Shared(modResetIDsChange::GetResetAutomaticIDsChange), OnType(u"Matrix")},
        {"reset-all-ids.leh", ChangeKind::ResetAllIDsChange, Shared(modResetIDsChange::GetResetAllIDsChange),
         OnType(u"Colors")},
        {"reorder-vtable.leh", ChangeKind::ReorderVTableChange,
         Made<ReorderVTableChange>([] { return modReorderVTableChange::NewReorderVTableChange(false); },
                                   [](ReorderVTableChange& c, ITypeLib*) {
                                       c.Offsets({60, 56, 52, 48, 44, 40, 36, 32, 28});
                                       c.SynchronizeFuncDescs(true);
                                   }),
         OnType(u"IShape")},
        {"reorder-vars.leh", ChangeKind::ReorderVarsChange,
         Made<ReorderVarsChange>([] { return modReorderVarsChange::NewReorderVarsChange(false); },
                                 [](ReorderVarsChange& c, ITypeLib*) { c.NewOrder({4, 3, 2, 1, 0}); }),
         OnType(u"Matrix")},
        {"add-impltype.leh", ChangeKind::AddImplTypeChange,
         Made<AddImplTypeChange>([] { return modAddImplTypeChange::NewAddImplTypeChange(false); },
                                 [](AddImplTypeChange& c, ITypeLib* lib) {
                                     c.VarTypeInfo(TypeDescOf(lib, u"DShapeEvents").get());
                                 }),
         OnType(u"Shape")},
        {"add-type.leh", ChangeKind::AddTypeChange,
         Made<AddTypeChange>([] { return modAddTypeChange::NewAddTypeChange(false); },
                             [](AddTypeChange& c, ITypeLib*) {
                                 c.TypeKind(TKIND_DISPATCH);
                                 c.UseLibraryHelpFiles(true);
                             }),
         [](ITypeLib* lib) { return LibraryTarget(lib); }},
        {"insert-param.leh", ChangeKind::InsertParamChange,
         Made<InsertParamChange>([] { return modInsertParamChange::NewInsertParamChange(false); },
                                 [](InsertParamChange& c, ITypeLib*) { c.ParamForm(InsertParamChange::kParamArray); }),
         [](ITypeLib* lib) { return ParamTarget(lib, u"IShape", u"Fill", 1, kParamNamed, u"extra"); }},
        {"add-member.leh", ChangeKind::AddMemberChange,
         Made<AddMemberChange>([] { return modAddMemberChange::NewAddMemberChange(false); },
                               [](AddMemberChange& c, ITypeLib*) { c.InvokeKind(10); }),
         OnType(u"IShape")},
        {"copy-member.leh", ChangeKind::CopyMemberChange,
         Made<CopyMemberChange>([] { return modCopyMemberChange::NewCopyMemberChange(false); },
                                [](CopyMemberChange& c, ITypeLib* lib) {
                                    c.VarTypeInfo(TypeDescOf(lib, u"IShape").get());
                                    c.SourceMemberId(MemberTarget(lib, u"IShape", u"Name").MemberId);
                                    c.InvokeKinds(INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
                                }),
         OnType(u"DShapeEvents")},
        {"reorder-types.leh", ChangeKind::ReorderTypesChange,
         Made<ReorderTypesChange>([] { return modReorderTypesChange::NewReorderTypesChange(false); },
                                  [](ReorderTypesChange& c, ITypeLib*) { c.NewOrder({8, 0, 1, 2, 3, 4, 5, 6, 7}); }),
         [](ITypeLib* lib) { return LibraryTarget(lib); }},
    };
    return cases;
}

class KindGolden : public ::testing::TestWithParam<GoldenCase> {};

// The history engine records the change as the view hands it over (the
// notification its Apply sends), and the saved file is the committed one;
// loaded again, it saves to the same bytes.
TEST_P(KindGolden, ARecordedChangeIsSavedAsTheCommittedFile) {
    const GoldenCase& c = GetParam();
    const ComPtr<ITypeLib> lib = Shapes();
    const ChangeTarget target = c.target(lib.get());
    ExpectGolden(c.file, c.kind, lib.get(), target, c.change(lib.get()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindGolden, ::testing::ValuesIn(GoldenCases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             std::erase(name, '-');
                             return name;
                         });

// Files of version 3 hold no help-file flag after the added type kind or
// invoke kind: the flag reads False.
TEST(KindGoldenVersions, AVersion3FileReadsOneBytePayloadsWithoutTheHelpFileFlag) {
    for (const char* file : {"add-type.leh", "add-member.leh"}) {
        Bytes bytes = FileBytes(HistoryData() / file);
        ASSERT_GT(bytes.size(), 13u);
        bytes[4] = 3;
        bytes.erase(bytes.end() - 5);  // the flag, just before the end marker
        VTICache cache;
        const auto items = modRecorder::ReadEditHistory(std::as_bytes(std::span(bytes)), cache, ".");
        ASSERT_EQ(items.size(), 1u) << file;
        const ChangePtr& c = items.front().Change;
        if (auto* add = dynamic_cast<AddTypeChange*>(c.get())) {
            EXPECT_EQ(add->TypeKind(), TKIND_DISPATCH);
            EXPECT_FALSE(add->UseLibraryHelpFiles());
        } else {
            auto& member = dynamic_cast<AddMemberChange&>(*c);
            EXPECT_EQ(member.InvokeKind(), 10);
            EXPECT_FALSE(member.UseLibraryHelpFiles());
        }
    }
}

}  // namespace
}  // namespace changestest

// The built program run as a user runs it: a recorded history of every
// change kind in batch mode, in-place runs, the usage messages and errors with
// their exit codes, and the help-data provider named each way.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <set>

#include "EditSessionSupport.h"
#include "app/modCorvaneExe.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/ChangesTestSupport.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/ImplTypeChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "changes/hub/VTICache.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "regen/TLBModifier.h"
#include "support/FileContents.h"
#include "support/ReferenceDump.h"
#include "support/TempDir.h"
#include "testcom/TestHelpProvider.h"
#include "typelib/TypeLibSupport.h"

namespace {

using namespace changestest;
namespace fs = std::filesystem;
using testsupport::ReadText;

std::string Message(int32_t id) { return Utf8(modSupport::LoadResStringById(id)); }

const std::string kRenameLeh = std::string(ZEPHRIN_TEST_DATA_DIR) + "/history/rename.leh";
// Runs the program as the user nobody, who may not write the test's folder.
constexpr char kAsNobody[] = "setpriv --reuid=65534 --regid=65534 --clear-groups";

// Every occurrence of from replaced by to.
std::string Replaced(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

// Shapes and interface IPlain : IUnknown { HRESULT Go(); }, saved to file.
void WriteStartingLibrary(const fs::path& file) {
    ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8(file.string()));
    ComPtr<ICreateTypeInfo2> type = NewType(lib.get(), u"IPlain", TKIND_INTERFACE);
    EXPECT_OK(type->SetGuid({0x0A77C4A6, 1, 2, {1}}));
    EXPECT_OK(type->AddImplType(0, RefTo(type.get(), StdOle2Type(kIID_IUnknown).get())));
    AddFunc(type.get(), 0, {.name = u"Go"});
    EXPECT_OK(type->LayOut());
    EXPECT_OK(lib->SaveAllChanges());
}

class BatchRun : public ::testing::Test {
protected:
    BatchRun() { WriteStartingLibrary(dir / "in.tlb"); }

    struct Result {
        int code = -1;
        std::string out, err;
    };
    // Runs the program in the test's folder without a display; one that
    // hangs is stopped after a minute (exit code 124).
    Result Zephrin(const std::string& args, const std::string& env = "") const {
        const std::string command = "cd '" + dir.path().string() +
                                    "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY " + env +
                                    " '" ZEPHRIN_BIN_DIR "/zephrin' " + args + " >stdout.txt 2>stderr.txt";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(dir / "stdout.txt"),
                ReadText(dir / "stderr.txt")};
    }
    std::string Dump(const char* file) const {
        std::string dump;
        EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8((dir / file).string()), &dump));
        return dump;
    }

    // Runs the program in the background as Zephrin does, its output going
    // to tag.out and tag.err; Stopped waits until it stops itself, Finish lets
    // it go on and returns its exit code.
    pid_t Start(const std::string& args, const std::string& env, const std::string& tag) const {
        const std::string command = "cd '" + dir.path().string() + "' && exec env -u DISPLAY -u WAYLAND_DISPLAY " +
                                    env + " '" ZEPHRIN_BIN_DIR "/zephrin' " + args + " >" + tag + ".out 2>" + tag +
                                    ".err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    static bool Stopped(pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
    }
    static int Finish(pid_t pid) {
        ::kill(pid, SIGCONT);
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The program with the test's preloaded calls, and what they are asked to do.
    static std::string Preloaded(const std::string& asked) {
        return "LD_PRELOAD=" ZEPHRIN_TESTSIGNAL_PATH " ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0 " + asked;
    }
    std::string Changed(const std::string& file) const {
        return "The edited library could not be written: '" + file +
               "' changed while it was being edited: another program saved, replaced or removed it. "
               "It was not written.\n";
    }

    TempDir dir;
};

// Edits of every kind are made on an editable copy of in.tlb, as the editor
// view makes them, and recorded by the history engine into all.leh; the
// program runs all.leh on in.tlb and must save what the live library holds.
TEST_F(BatchRun, AHistoryOfEveryChangeKindSavesWhatTheLiveEditsMade) {
    ComPtr<ITypeLib> loaded, unresolved;
    ASSERT_OK(ole::LoadTypeLibEx(ole::FromUtf8((dir / "in.tlb").string()).c_str(), ole::REGKIND_NONE, loaded.put()));
    TLBModifier copy;
    copy.StartingLibDirect(loaded.get());
    const ComPtr<ITypeLib> start = copy.GenerateDirectFindUnresolved(unresolved);
    auto hub = std::make_shared<ChangeListener>();
    Playback recorder;
    recorder.ChangeListener(hub);
    recorder.CurrentITypeLib(start.get());
    CustomTypeLib view;
    view.Attach(start.get());
    const auto lib = [&] { return view.ReadView().get(); };
    const auto apply = [&](const ChangePtr& change, ChangeTarget target) {
        ASSERT_TRUE(change->Apply(view, nullptr, target, hub.get(), 0)) << Utf8(change->Describe(target));
    };
    const auto edit = [&](std::shared_ptr<IAttributeChange> captured, ChangeTarget target,
                          const std::function<void(IAttributeChange&)>& set) {
        captured->InitFromTarget(target);
        auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
        set(*change);
        ASSERT_TRUE(change->Apply(view, captured.get(), target, hub.get(), 0)) << Utf8(change->Describe(target));
    };
    edit(modLibChange::NewLibChange(), LibraryTarget(lib()), [](auto& c) { c.MinorVersion(5); });
    edit(modTypeChange::NewTypeChange(false), TypeTarget(lib(), u"IShape"), [](auto& c) { c.MajorVersion(3); });
    edit(modImplTypeChange::NewImplTypeChange(false), ImplTarget(lib(), u"Shape", 1),
         [](auto& c) { c.Flags(IMPLTYPEFLAG_FSOURCE); });
    edit(modMemberChange::NewMemberChange(false), MemberTarget(lib(), u"Colors", u"Green", 0),
         [](auto& c) { c.Value(ole::Variant::Int(7)); });
    ChangeTarget param = MemberTarget(lib(), u"IShape", u"Fill");
    param.Kind = kTargetParam;
    edit(modParamChange::NewParamChange(false), param, [](auto& c) { c.Value(ole::Variant(int32_t{9})); });
    apply(modDeleteChange::GetDeleteChange(), ParamTarget(lib(), u"IShape", u"Area", 0, kParamNamed, u"scale"));
    apply(modRemoveParamArrayChange::GetRemoveParamArrayChange(), MemberTarget(lib(), u"IShape", u"Sum"));
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Magnify");
    apply(rename, MemberTarget(lib(), u"IShape", u"Zoom"));
    apply(modFlattenChange::GetFlattenChange(), TypeTarget(lib(), u"IShape"));
    apply(modResetIDsChange::GetResetAutomaticIDsChange(), TypeTarget(lib(), u"Matrix"));
    apply(modResetIDsChange::GetResetAllIDsChange(), TypeTarget(lib(), u"Colors"));
    auto vars = modReorderVarsChange::NewReorderVarsChange(false);
    vars->NewOrder({4, 3, 2, 1, 0});
    apply(vars, TypeTarget(lib(), u"Matrix"));
    auto impl = modAddImplTypeChange::NewAddImplTypeChange(false);
    impl->VarTypeInfo(TypeDescOf(lib(), u"IPlain").get());
    apply(impl, TypeTarget(lib(), u"Shape"));
    auto type = modAddTypeChange::NewAddTypeChange(false);
    type->TypeKind(TKIND_DISPATCH);
    apply(type, LibraryTarget(lib()));
    // The user gives the added type a GUID of their own.
    edit(modTypeChange::NewTypeChange(false), TypeTarget(lib(), u"Dispinterface1"),
         [](auto& c) { c.Guid({0x0A77C4A6, 1, 2, {2}}); });
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(InsertParamChange::kRequired);
    apply(insert, MemberTarget(lib(), u"IShape", u"Magnify"));
    auto member = modAddMemberChange::NewAddMemberChange(false);
    member->InvokeKind(INVOKE_FUNC);
    apply(member, TypeTarget(lib(), u"IPlain"));
    auto copyMember = modCopyMemberChange::NewCopyMemberChange(false);
    copyMember->VarTypeInfo(TypeDescOf(lib(), u"IShape").get());
    copyMember->SourceMemberId(MemberTarget(lib(), u"IShape", u"Area").MemberId);
    apply(copyMember, TypeTarget(lib(), u"IPlain"));
    std::vector<int16_t> offsets;  // IShape's vtable reversed
    ChangeTarget target, shape = TypeTarget(lib(), u"IShape");
    const ComPtr<ITypeInfo> shapeInfo =
        modITypeInfoHelper::GetInterfaceTypeInfo(lib(), static_cast<UINT>(shape.TypeIndex));
    for (UINT i = 0; i < typelib_detail::TypeAttr(shapeInfo.get())->cFuncs; ++i)
        offsets.insert(offsets.begin(), typelib_detail::FuncDescHolder(shapeInfo.get(), i)->oVft);
    auto vtable = modReorderVTableChange::NewReorderVTableChange(false);
    vtable->Offsets(offsets);
    vtable->SynchronizeFuncDescs(true);
    apply(vtable, shape);
    apply(modDeleteChange::GetDeleteChange(), TypeTarget(lib(), u"ShapeAlias"));
    auto help = modHelpChange::NewHelpChange(false);
    help->InitFromTarget(target = LibraryTarget(lib()));
    auto helpEdit = std::static_pointer_cast<HelpChange>(help->Clone());
    helpEdit->DocString(u"Edited in batch");
    helpEdit->HelpFile(u"shapes.chm");
    helpEdit->HelpFileScope(HelpChange::kScopeShared);
    ASSERT_TRUE(helpEdit->Apply(view, help.get(), target, hub.get(), 0));
    auto custData = modCustDataChange::NewCustDataChange(false);
    custData->InitFromTarget(target = TypeTarget(lib(), u"IShape"));
    custData->SetItem({0x0A77C4A6, 1, 2, {3}}, ole::Variant(u"batch"));
    apply(custData, target);
    auto internalize = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    {
        ComPtr<CustomVarTypeInfo> color = CustomVarTypeInfo::New();
        color->CurrentITypeLib(lib());
        color->SetType(0, typelib_detail::TliTypeInfo(TypeNamed(StdOle2().get(), u"OLE_COLOR").get()).get());
        internalize->VarTypeInfo(color->GetVarTypeInfo().get());
    }
    apply(internalize, LibraryTarget(lib()));
    auto redirect = modRedirectTypesChange::NewRedirectTypesChange(false);
    redirect->Flags(RedirectTypesChange::kReplaceDefinition);
    redirect->SourceVarTypeInfo(TypeDescOf(lib(), u"LongPtrAlias").get());
    redirect->DestVarTypeInfo(TypeDescOf(lib(), u"LongPtr").get());
    apply(redirect, TypeTarget(lib(), u"LongPtrAlias"));
    auto reorder = modReorderTypesChange::NewReorderTypesChange(false);
    std::vector<int16_t> order(lib()->GetTypeInfoCount());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int16_t>(order.size() - 1 - i);
    reorder->NewOrder(order);
    apply(reorder, LibraryTarget(lib()));
    if (HasFailure()) return;
    const ComPtr<ITypeLib> live(lib());

    ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(dir.path().string()), u"all.leh"));
    VTICache cache;
    std::set<uint8_t> kinds;
    for (const ChangeNode& item : modRecorder::ReadEditHistory(testsupport::ReadBytes(dir / "all.leh"), cache, dir.path()))
        kinds.insert(item.KindCode());
    for (ChangeKind kind : kAllChangeKinds)
        EXPECT_TRUE(kinds.count(Code(kind))) << "no change of kind " << int(Code(kind));
    TLBModifier save;
    save.StartingLibDirect(live.get());
    save.GenerateDirectTestUnresolved(recorder.UnresolvedITypeLib().get(), ole::FromUtf8((dir / "live.tlb").string()));

    const Result run = Zephrin("-quiet -out msg.txt -leh all.leh -tlb in.tlb -saveas out.tlb");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir / "msg.txt")) << ReadText(dir / "msg.txt");
    const std::string saved = Dump("out.tlb");
    EXPECT_EQ(saved, Dump("live.tlb"));
    for (const char* edit : {"\"Edited in batch\"", "\"OLE_COLOR\"", "\"Magnify\"", "\"batch\""})
        EXPECT_NE(saved.find(edit), std::string::npos) << edit;
    // Nothing is made anew at each run: a second run writes the same bytes.
    const Result again = Zephrin("-quiet -out msg.txt -leh all.leh -tlb in.tlb -saveas again.tlb");
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(testsupport::ReadBytes(dir / "again.tlb"), testsupport::ReadBytes(dir / "out.tlb"));
}

// A module constant and a parameter retyped as DECIMAL with DECIMAL values,
// and a DECIMAL custom data value: the history saves, and two runs of it in
// batch mode write what the live library saves, which the platform reads with
// the values.
TEST_F(BatchRun, DecimalValuesInAHistorySaveReopenAndReplayToTheBytesTheEditsMade) {
    sessiontest::EditSession session(dir.path(), dir / "in.tlb");
    const auto decimal = [](uint64_t value) {
        ole::DECIMAL d{};
        d.Lo64 = value;
        return ole::Variant(d);
    };
    const auto retyped = [&](ole::Variant value) {
        return [&session, value](IAttributeChange& c) {
            ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
            type->CurrentITypeLib(session.Lib());
            type->SetType(VT_DECIMAL, nullptr);
            c.VarTypeInfo(type.get());
            c.Value(value);
        };
    };
    session.Edit(modMemberChange::NewMemberChange(false), MemberTarget(session.Lib(), u"Kernel", u"Answer", 0),
                 retyped(decimal(12345678901234567890ull)));
    ChangeTarget param = ParamTarget(session.Lib(), u"IShape", u"Fill", 0, kParamNamed, u"count");
    session.Edit(modParamChange::NewParamChange(false), param, retyped(decimal(77)));
    auto custData = modCustDataChange::NewCustDataChange(false);
    ChangeTarget type = TypeTarget(session.Lib(), u"IShape");
    custData->InitFromTarget(type);
    custData->SetItem({0x0A77C4A6, 1, 2, {3}}, decimal(18446744073709551615ull));
    session.Apply(custData, type);
    session.Save("live.tlb");

    ASSERT_TRUE(session.Recorder().SaveState(ole::FromUtf8(dir.path().string()), u"decimal.leh"));
    for (const char* out : {"out1.tlb", "out2.tlb"}) {
        const Result run = Zephrin(std::string("-quiet -out msg.txt -leh decimal.leh -tlb in.tlb -saveas ") + out);
        EXPECT_EQ(run.code, 0) << run.err << ReadText(dir / "msg.txt");
        EXPECT_EQ(testsupport::ReadBytes(dir / out), testsupport::ReadBytes(dir / "live.tlb")) << out;
    }
    const std::optional<std::string> dump = testsupport::ReferenceDump(dir / "out1.tlb");
    if (!dump) return;
    for (const char* value : {"\"Answer\" id=0x40000000 kind=2 flags=0x0 type=vt14 value=vt=14:\"12345678901234567890",
                              "\"count\" pflags=0x71 type=vt14 default=vt=14:\"77\"",
                              "= vt=14:\"18446744073709551615\""})
        EXPECT_NE(dump->find(value), std::string::npos) << value << "\n" << *dump;
}

// Renames to names that differ only in case from others, and a new parameter
// named as one elsewhere in another case: each element renamed holds what was
// typed and every other name keeps its spelling, live, in the saved file, in
// two batch runs of the history and as the platform reads them; the saved file
// regenerated without an edit reads as before.
TEST_F(BatchRun, NamesThatDifferOnlyInCaseKeepTheSpellingTyped) {
    fs::copy_file(fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "casenames.tlb", dir / "case.tlb");
    sessiontest::EditSession session(dir.path(), dir / "case.tlb");
    const auto rename = [&](ChangeTarget target, const char16_t* name) {
        auto change = modRenameChange::NewRenameChange(false);
        change->NewName(name);
        session.Apply(change, target);
    };
    rename(MemberTarget(session.Lib(), u"ICounterItem", u"LineStyle", INVOKE_PROPERTYGET), u"rect");
    rename(ParamTarget(session.Lib(), u"ICounterItem", u"GetValue", 1, kParamNamed, u"Status"), u"status");
    rename(MemberTarget(session.Lib(), u"ISystemMonitor", u"CollectSample"), u"linestyle");
    rename(TypeTarget(session.Lib(), u"DICounterItem"), u"getvalue");
    rename(TypeTarget(session.Lib(), u"RECT"), u"Rect");
    rename(MemberTarget(session.Lib(), u"ICounterItem", u"GetStatistics"), u"GETSTATISTICS");
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    session.Apply(insert, MemberTarget(session.Lib(), u"ISystemMonitor", u"Disconnect"));
    rename(ParamTarget(session.Lib(), u"ISystemMonitor", u"Disconnect", 0, kParamNamed, insert->NewParamName().c_str()),
           u"source");
    session.Save("live.tlb");
    ASSERT_TRUE(session.Recorder().SaveState(ole::FromUtf8(dir.path().string()), u"case.leh"));
    for (const char* out : {"out1.tlb", "out2.tlb"}) {
        const Result run = Zephrin(std::string("-quiet -out msg.txt -leh case.leh -tlb case.tlb -saveas ") + out);
        EXPECT_EQ(run.code, 0) << run.err << ReadText(dir / "msg.txt");
        EXPECT_EQ(testsupport::ReadBytes(dir / out), testsupport::ReadBytes(dir / "live.tlb")) << out;
    }
    // How often each spelling is read (the dual's two halves each hold its
    // members; the record is named by its two parameters in each).
    const auto spellings = [](const std::string& dump) {
        std::string out;
        for (const char* name : {"RECT", "Rect", "rect", "LineStyle", "linestyle", "CollectSample", "Status", "status",
                                 "Source", "source", "GetValue", "getvalue", "GetStatistics", "GETSTATISTICS"}) {
            size_t n = 0;
            for (size_t at = 0; (at = dump.find('"' + std::string(name) + '"', at)) != std::string::npos; ++at) ++n;
            out += std::string(name) + ":" + std::to_string(n) + " ";
        }
        return out;
    };
    const std::string expected =
        "RECT:0 Rect:5 rect:4 LineStyle:1 linestyle:2 CollectSample:0 Status:5 status:2 Source:2 source:2 "
        "GetValue:3 getvalue:1 GetStatistics:0 GETSTATISTICS:2 ";
    EXPECT_EQ(spellings(tlbtools::DumpTypeLib(session.Lib())), expected);
    EXPECT_EQ(spellings(Dump("live.tlb")), expected);
    if (const std::optional<std::string> dump = testsupport::ReferenceDump(dir / "live.tlb")) {
        EXPECT_EQ(spellings(*dump), expected);
    }
    TLBModifier again;
    again.StartingLibDirect(sessiontest::LoadFile(dir / "live.tlb").get());
    again.GenerateDirect(ole::FromUtf8((dir / "again.tlb").string()));
    EXPECT_EQ(Dump("again.tlb"), Dump("live.tlb"));
}

// An item whose change can't be made stops the run with a message that names
// it, and nothing is written: here a member copied into a dispinterface
// declared over an interface, which has no members of its own (as a history
// recorded it before such copies were refused).
TEST_F(BatchRun, AnItemWhoseChangeCantBeMadeFailsNamingIt) {
    fs::copy_file(fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "dispatch.tlb", dir / "dispatch.tlb");
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(ole::LoadTypeLibEx(ole::FromUtf8((dir / "dispatch.tlb").string()).c_str(), ole::REGKIND_NONE, loaded.put()));
    TLBModifier editable;
    editable.StartingLibDirect(loaded.get());
    const ComPtr<ITypeLib> lib = editable.GenerateDirect(u"");
    auto hub = std::make_shared<ChangeListener>();
    Playback recorder;
    recorder.ChangeListener(hub);
    recorder.CurrentITypeLib(lib.get());
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"DText").get());
    copy->SourceMemberId(MemberTarget(lib.get(), u"DText", u"toString").MemberId);
    copy->InvokeKinds(INVOKE_FUNC);
    ChangeTarget target = TypeTarget(lib.get(), u"DOverPlain");
    hub->OnCopyMemberChange(target, *copy, 0, 0);
    ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(dir.path().string()), u"copy.leh"));
    const Result run = Zephrin("-leh copy.leh -tlb dispatch.tlb -s o.tlb");
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, "Library Edit History item 1 (\"Copy dispinterface method DText.toString to dispinterface "
                       "DOverPlain\") failed: A dispinterface declared over an interface has no members of its own: "
                       "its members are the interface's functions.\n");
    EXPECT_FALSE(fs::exists(dir / "o.tlb"));
}

// A history may hold any Decimal; a library file only whole ones from 0 to
// 2^64 - 1. A run whose library would need another fails saying why.
TEST_F(BatchRun, ADecimalNoLibraryFileHoldsFailsTheRunWithItsReason) {
    sessiontest::EditSession session(dir.path(), dir / "in.tlb");
    ole::DECIMAL d{};
    d.scale = 1;
    d.sign = ole::DECIMAL_NEG;
    d.Lo64 = 15;
    auto custData = modCustDataChange::NewCustDataChange(false);
    ChangeTarget type = TypeTarget(session.Lib(), u"IShape");
    custData->InitFromTarget(type);
    custData->SetItem({0x0A77C4A6, 1, 2, {3}}, ole::Variant(d));
    session.Apply(custData, type);
    ASSERT_TRUE(session.Recorder().SaveState(ole::FromUtf8(dir.path().string()), u"decimal.leh"));
    const Result run = Zephrin("-quiet -out msg.txt -leh decimal.leh -tlb in.tlb -saveas out.tlb");
    EXPECT_NE(run.code, 0);
    EXPECT_NE(ReadText(dir / "msg.txt").find("Bad variable type: "), std::string::npos) << ReadText(dir / "msg.txt");
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

// In place: a standalone file named by the trailing token is rewritten, keeping
// its mode; the original stays whole when the run fails.
TEST_F(BatchRun, AStandaloneFileIsRewrittenInPlaceAndKeptWhenTheRunFails) {
    fs::copy_file(fs::path(ZEPHRIN_TEST_DATA_DIR) / "history" / "rename.leh", dir / "rename.leh");
    fs::permissions(dir / "in.tlb", fs::perms(0640));
    const std::string before = Dump("in.tlb");
    const Result bad = Zephrin("-q -o msg.txt -leh missing.leh in.tlb");
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(Dump("in.tlb"), before);
    EXPECT_NE(ReadText(dir / "msg.txt").find("missing.leh"), std::string::npos) << ReadText(dir / "msg.txt");
    // A name that isn't UTF-8 is refused, not written under another name.
    EXPECT_EQ(Zephrin("-q -leh rename.leh -tlb in.tlb -s \"$(printf 'o\\377.tlb')\"").code, 2);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("o\xEF")) << entry.path();

    const Result run = Zephrin("-q -leh rename.leh in.tlb");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(Dump("in.tlb").find("Magnify"), std::string::npos);
    EXPECT_EQ(fs::status(dir / "in.tlb").permissions(), fs::perms(0640));
}

// The usage messages are appended to the message file with their date line,
// after what it held; each exits with 1 and writes nothing.
TEST_F(BatchRun, UsageMessagesAreAppendedToTheMessageFileWithExitCodeOne) {
    std::ofstream(dir / "msg.txt", std::ios::binary) << "kept\r\n";
    std::ofstream(dir / "lib.dll", std::ios::binary) << "MZ not a type library";
    for (const char* args : {"-new -leh e.leh", "-leh e.leh -tlb lib.dll", "-m No.Such.Provider -tlb in.tlb -s o.tlb",
                             "-m '" ZEPHRIN_TESTCOM_PATH ", TestAdder' -tlb in.tlb -s o.tlb", "-m x"}) {
        const Result r = Zephrin(std::string("-q -o msg.txt ") + args);
        EXPECT_EQ(r.code, 1) << args << r.err;
        EXPECT_EQ(r.err, "") << args;
    }
    EXPECT_FALSE(fs::exists(dir / "o.tlb"));
    // Every message comes after a line of asterisks, a blank and the date and time.
    std::string text = ReadText(dir / "msg.txt"), messages;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = text.substr(at, end - at);
        if (line.starts_with("************* ") && line.size() > 20) continue;
        messages += line + "\n";
    }
    const auto provider = [](const char16_t* name, const std::string& reason) {
        return Utf8(modSupport::LoadResStringFormat(172, {name})) + " The reason: " + reason;
    };
    EXPECT_EQ(messages, "kept\n" + Message(170) + "\n" + Message(171) + "\n" +
                            provider(u"No.Such.Provider", "The ProgID \"No.Such.Provider\" is not registered.") + "\n" +
                            provider(u"" ZEPHRIN_TESTCOM_PATH ", TestAdder",
                                     Replaced("The type library " ZEPHRIN_TESTCOM_PATH " cannot be loaded.", ".so", ".tlb")) +
                            "\n" + Message(173) + "\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
    // They name the destination option as the help does, and spell what they say.
    for (const char* wrong : {"/SaveAs", "/saveas", "libary"}) EXPECT_EQ(messages.find(wrong), std::string::npos) << wrong;
    EXPECT_NE(Message(170).find("a -saveas file"), std::string::npos);
}

// Without quiet mode and without a display, messages go to standard error;
// help goes to standard output; the ways that need windows exit with 2.
TEST_F(BatchRun, WithoutADisplayMessagesGoToStandardErrorAndHelpToStandardOutput) {
    const Result error = Zephrin("-leh missing.leh -tlb in.tlb -s o.tlb");
    EXPECT_EQ(error.code, 2);
    EXPECT_NE(error.err.find("missing.leh"), std::string::npos) << error.err;
    const Result quiet = Zephrin("-q -leh e.leh -new");
    EXPECT_EQ(quiet.err, Message(170) + "\n");
    // The help names the program as it was started.
    std::string help = Utf8(modSupport::LoadResStringFormat(120, {u"" ZEPHRIN_BIN_DIR "/zephrin"}));
    std::erase(help, '\r');
    for (const char* args : {"/?", "-tlb in.tlb --help", "-hilfe"}) {
        const Result r = Zephrin(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, help + "\n") << args;
    }
    // A display that can't be reached is no display.
    const Result stale = Zephrin("-leh missing.leh -tlb in.tlb -s o.tlb", "DISPLAY=:987");
    EXPECT_EQ(stale.code, 2);
    EXPECT_EQ(stale.err, "File not found: " + (dir / "missing.leh").string() + "\n");  // and nothing of Qt's
    for (const char* args : {"", "in.tlb", "-new", "-leh e.leh -activate"}) {
        const Result r = Zephrin(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_NE(r.err, "") << args;
    }
}

// The provider by path and class name (its type library beside it), by path
// and CLSID, and by CLSID and ProgID through a registry file; in batch mode
// and alone. It rewrites every doc string, and a provider loaded by path is
// unloaded once nothing holds it.
TEST_F(BatchRun, TheHelpDataProviderRewritesDocStringsNamedEachWay) {
    fs::copy_file(ZEPHRIN_TESTPROVIDER_PATH, dir / "provider.so");
    {
        ComPtr<ICreateTypeLib2> lib = NewLibrary(u"ProviderLib", ole::FromUtf8((dir / "provider.tlb").string()));
        ComPtr<ICreateTypeInfo2> coclass = NewType(lib.get(), u"HelpRewriter", TKIND_COCLASS);
        EXPECT_OK(coclass->SetGuid(testprovider::kCLSID));
        EXPECT_OK(lib->SaveAllChanges());
    }
    const std::string clsid = ole::ToUtf8(ole::GuidToString(testprovider::kCLSID));
    std::ofstream(dir / "classes.reg") << "REGEDIT4\n[HKEY_CLASSES_ROOT\\Zephrin.HelpRewriter\\CLSID]\n@=\"" << clsid
                                       << "\"\n[HKEY_CLASSES_ROOT\\CLSID\\" << clsid
                                       << "\\InprocServer32]\n@=\"provider.so\"\n";
    std::ofstream(dir / "empty.leh", std::ios::binary)
        .write("WEXO\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF", 24);
    const std::string before = Dump("in.tlb");
    const std::string expected = Replaced(Replaced(before, "doc=\"", std::string("doc=\"") + testprovider::kPrefix),
                                          std::string("doc=\"") + testprovider::kPrefix + "\"", "doc=\"\"");
    ASSERT_NE(expected, before);
    const struct {
        std::string provider;
        bool byPath;
        std::string mode;
    } forms[] = {{"provider.so, HelpRewriter", true, "-leh empty.leh"},
                 {" provider.so , " + clsid, true, ""},
                 {clsid, false, ""},
                 {"Zephrin.HelpRewriter", false, "-leh empty.leh"}};
    int n = 0;
    for (const auto& f : forms) {
        const std::string out = "out" + std::to_string(++n) + ".tlb";
        fs::remove(dir / "log.txt");
        const Result r = Zephrin("-q " + f.mode + " -m '" + f.provider + "' -tlb in.tlb -s " + out,
                                 "ZEPHRIN_REGISTRY=classes.reg ZEPHRIN_TEST_PROVIDER_LOG=log.txt");
        ASSERT_EQ(r.code, 0) << f.provider << r.err;
        EXPECT_EQ(Dump(out.c_str()), expected) << f.provider;
        if (f.byPath) {
            EXPECT_EQ(ReadText(dir / "log.txt"), "free\nunloaded\n") << f.provider;
        }
    }
    // An exception of the provider's own, from any entry point, is reported
    // (quiet without a message file: on standard error), and the shared object
    // is unloaded after it (at exit when it can't say it may go).
    const struct {
        const char* entry;
        int code;
        const char* log;
    } throwers[] = {{"DllGetClassObject", 1, "unloaded\n"},
                    {"CreateInstance", 1, "free\nunloaded\n"},
                    {"QueryInterface", 1, "free\nunloaded\n"},
                    {"ModifyLibHelp", 2, "free\nunloaded\n"},
                    {"DllCanUnloadNow", 0, "free\nunloaded\n"}};
    for (const auto& t : throwers) {
        fs::remove(dir / "log.txt");
        fs::remove(dir / "thrown.tlb");
        const Result thrown = Zephrin("-q -m 'provider.so, " + clsid + "' -tlb in.tlb -s thrown.tlb",
                                      std::string("ZEPHRIN_TEST_PROVIDER_THROW=") + t.entry +
                                          " ZEPHRIN_TEST_PROVIDER_LOG=log.txt");
        EXPECT_EQ(thrown.code, t.code) << t.entry << thrown.err;
        EXPECT_EQ(fs::exists(dir / "thrown.tlb"), t.code == 0) << t.entry;
        EXPECT_EQ(thrown.err.find("the provider failed") != std::string::npos, t.code != 0) << thrown.err;
        EXPECT_EQ(ReadText(dir / "log.txt"), t.log) << t.entry;
    }
}

// Nothing but a regular file is read or replaced and a FIFO or device never
// makes the program wait; an option that lost its argument, or a message file
// that is one of the run's files, is a usage message. Every file stays as it was.
TEST_F(BatchRun, SpecialFilesLostArgumentsAndAClashingMessageFileLeaveEveryFileAsItWas) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    const bool device = ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // where the test may
    fs::create_symlink("pipe", dir / "pipe-link");
    fs::create_symlink("rename.leh", dir / "leh-link");
    fs::create_hard_link(dir / "in.tlb", dir / "same.tlb");
    fs::create_symlink("o.tlb", dir / "to-o.tlb");
    const std::string before = Dump("in.tlb");
    const std::string lostSaveAs = "The option -saveas needs an argument: -saveas value or -saveas=value. Nothing was done.";
    const auto clash = [](const std::string& out, const std::string& what) {
        return "The message file '" + out + "' is the same file as the " + what + ". Name another file with -out; nothing was done.";
    };
    const struct {
        std::string args;
        int code;
        std::string message;
    } cases[] = {
        {"-leh rename.leh -tlb in.tlb -s pipe", 2,
         "The edited library could not be written: 'pipe' is a FIFO, not a regular file; it is not replaced."},
        {"-leh rename.leh -tlb in.tlb -s pipe-link", 2,
         "The edited library could not be written to 'pipe-link': 'pipe' is a FIFO, not a regular file; it is not "
         "replaced."},
        {device ? "-leh rename.leh -tlb in.tlb -s null" : "-leh rename.leh -tlb in.tlb -s /dev/null", 2,
         "The edited library could not be written: " + std::string(device ? "'null'" : "'/dev/null'") +
             " is a character device, not a regular file; it is not replaced."},
        {"-leh rename.leh -tlb pipe", 2, "'pipe' is a FIFO, not a regular file; it is not read."},
        {"-leh rename.leh -tlb pipe -s o.tlb", 2, "'pipe' is a FIFO, not a regular file; it is not read."},
        {"-leh pipe -tlb in.tlb -s o.tlb", 2, "'DIR/pipe' is not a valid Library Edit History file. It is not a regular file."},
        {"-leh /dev/zero -tlb in.tlb -s o.tlb", 2, "'/dev/zero' is not a valid Library Edit History file. It is not a regular file."},
        {"-leh rename.leh -tlb in.tlb -saveas=", 1, lostSaveAs},
        {"-leh rename.leh -tlb in.tlb -saveas ''", 1, lostSaveAs},
        {"-leh rename.leh -tlb in.tlb -saveas -quiet", 1, lostSaveAs},
        {"-leh rename.leh -tlb /missing.tlb -s o.tlb", 2, "File not found: /missing.tlb"},
        {"-leh rename.leh -tlb dir/missing.tlb -s o.tlb", 2, "File not found: dir/missing.tlb"},
        {"-leh rename.leh -tlb dir/missing.tlb", 2, "File not found: dir/missing.tlb"},
        {"-q -o in.tlb -leh rename.leh -tlb in.tlb -s o.tlb", 1, clash("in.tlb", "type library 'in.tlb'")},
        {"-q -o same.tlb -leh rename.leh in.tlb", 1, clash("same.tlb", "type library 'in.tlb'")},
        {"-q -o leh-link -leh rename.leh -tlb in.tlb -s o.tlb", 1, clash("leh-link", "Library Edit History 'rename.leh'")},
        {"-q -o o.tlb -leh rename.leh -tlb in.tlb -s ./o.tlb", 1, clash("o.tlb", "destination './o.tlb'")},
        {"-q -o to-o.tlb -leh rename.leh -tlb in.tlb -s o.tlb", 1, clash("to-o.tlb", "destination 'o.tlb'")},
        {"-leh rename.leh -tlb in.tlb -s leh-link", 1,
         "The destination 'leh-link' is the same file as the Library Edit History 'rename.leh'. Name another file "
         "with -saveas; nothing was done."},
        // A FIFO that no one reads is no place for messages.
        {"-q -o pipe -leh missing.leh -tlb in.tlb -s o.tlb", 2, "File not found: DIR/missing.leh"},
    };
    for (const auto& c : cases) {
        const Result r = Zephrin(c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_EQ(r.err, Replaced(c.message, "DIR", dir.path().string()) + "\n") << c.args;
        EXPECT_FALSE(fs::exists(dir / "o.tlb")) << c.args;
    }
    EXPECT_EQ(Dump("in.tlb"), before);
    EXPECT_EQ(ReadText(dir / "rename.leh"), ReadText(kRenameLeh));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
    EXPECT_TRUE(!device || fs::is_character_file(dir / "null"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 10);
}

// A rewrite in place keeps the file's owner and group, and works in a folder
// the user can't write to; a signal just before the final rename leaves no
// temporary file behind.
TEST_F(BatchRun, RewritesKeepTheOwnerWorkInAFolderTheUserCantWriteAndLeaveNothingOnASignal) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    const std::string env = "LD_PRELOAD=" ZEPHRIN_TESTSIGNAL_PATH " ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0 "
                            "ZEPHRIN_TEST_SIGNAL=" + std::to_string(SIGTERM);
    const Result signalled = Zephrin("-q -leh rename.leh -tlb in.tlb -s out.tlb", env);
    EXPECT_EQ(signalled.code, 128 + SIGTERM) << signalled.err;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("out.tlb")) << entry.path();

    // A file-size limit fails the write, through a temporary file and in place
    // (a second link), and the library stays as it was.
    const std::string original = ReadText(dir / "in.tlb");
    for (const char* put : {".", "; its old contents were put back."}) {
        if (put[0] == ';') fs::create_hard_link(dir / "in.tlb", dir / "link.tlb");
        const Result limited = Zephrin("-q -leh rename.leh in.tlb", "prlimit --fsize=1024");
        EXPECT_EQ(limited.code, 2);
        EXPECT_EQ(limited.err, std::string("The edited library could not be written: 'in.tlb' could not be written: "
                                           "File too large") + put + "\n");
        EXPECT_TRUE(ReadText(dir / "in.tlb") == original) << put;
    }
    fs::remove(dir / "link.tlb");
    // in.tlb, rename.leh, stdout.txt and stderr.txt: no temporary file
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);

    if (::geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
    ASSERT_EQ(::chown((dir / "in.tlb").c_str(), 65534, 65534), 0);
    const Result byRoot = Zephrin("-q -leh rename.leh in.tlb");
    EXPECT_EQ(byRoot.code, 0) << byRoot.err;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "in.tlb").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_NE(Dump("in.tlb").find("Magnify"), std::string::npos);

    // The folder belongs to root; the file, to the user who runs the program.
    fs::create_directory(dir / "ro");
    WriteStartingLibrary(dir / "ro" / "lib.tlb");
    ASSERT_EQ(::chown((dir / "ro" / "lib.tlb").c_str(), 65534, 65534), 0);
    const Result byUser = Zephrin("-q -leh rename.leh ro/lib.tlb", kAsNobody);
    EXPECT_EQ(byUser.code, 0) << byUser.err;
    EXPECT_NE(Dump("ro/lib.tlb").find("Magnify"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "ro"), fs::directory_iterator()), 1);
}

// In batch mode the message is the user's only feedback: each names the file
// or the history item concerned, and the cause.
TEST_F(BatchRun, EveryMessageSaysWhatFailedAndWhy) {
    const std::string history = ReadText(kRenameLeh);
    const auto patched = [&](const char* file, const std::string& from, const std::string& to) {
        std::ofstream(dir / file, std::ios::binary) << Replaced(history, from, to);
    };
    const std::string magnify("\x07\0Magnify", 9);
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    patched("zzzz.leh", std::string("\x04\0Zoom", 6), std::string("\x04\0Zzzz", 6));
    patched("area.leh", magnify, std::string("\x04\0Area", 6));
    patched("empty.leh", magnify, std::string("\0\0", 2));
    patched("long.leh", magnify, std::string("\x2C\x01", 2) + std::string(300, 'x'));
    std::ofstream(dir / "half.leh", std::ios::binary) << history.substr(0, 90);
    fs::copy_file(ZEPHRIN_TESTPROVIDER_PATH, dir / "provider.so");
    fs::copy_file(dir / "in.tlb", dir / "ro.tlb");
    fs::permissions(dir / "ro.tlb", fs::perms(0444));
    fs::copy_file(dir / "in.tlb", dir / "secret.tlb");
    fs::permissions(dir / "secret.tlb", fs::perms(0600));
    fs::copy_file(kRenameLeh, dir / "secret.leh");
    fs::permissions(dir / "secret.leh", fs::perms(0600));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (dir / "sock").c_str(), sizeof address.sun_path - 1);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    fs::create_directory(dir / "ro");
    const std::string clsid = ole::ToUtf8(ole::GuidToString(testprovider::kCLSID));
    const std::string item = "Library Edit History item 1 (\"Rename interface method IShape.Zoom to 'Magnify'\") failed: ";
    const std::string badName =
        item + "Invalid argument: a name is empty or longer than 255 bytes, or a value is out of range. (0x80070057)";
    const struct {
        std::string args, env;
        int code;
        std::string message;
    } cases[] = {
        {"-leh zzzz.leh", "", 2, item + "Element not found: interface method IShape.Zzzz."},
        {"-leh area.leh", "", 2, item + "Ambiguous name: another member of the type has that name. (0x8002802C)"},
        {"-leh long.leh", "", 2, badName},
        {"-leh empty.leh", "", 2, item + "A member's name can't be empty."},
        {"-leh half.leh", "", 2, "'DIR/half.leh' is not a valid Library Edit History file. It ends before its last item."},
        {"-leh rename.leh -m 'provider.so, " + clsid + "'", "ZEPHRIN_TEST_PROVIDER_FAIL=1", 2,
         "The edited library could not be written to 'o.tlb': The help-data provider 'provider.so, " + clsid + "' failed in ModifyLibHelp: Unspecified error. (0x80004005)"},
        {"-leh rename.leh -m 'nosuch.so, " + clsid + "'", "", 1,
         Utf8(modSupport::LoadResStringFormat(172, {ole::FromUtf8("nosuch.so, " + clsid)})) +
             " The reason: ./nosuch.so: cannot open shared object file: No such file or directory"},
        {"-leh rename.leh -s nodir/o.tlb", "", 2,
         "The edited library could not be written: 'nodir/o.tlb' could not be written: the folder 'nodir' does not "
         "exist."},
        {"-leh rename.leh -s ro.tlb", "", 2, "The edited library could not be written: 'ro.tlb' is read-only."},
        {"-leh rename.leh -s ro/o.tlb", kAsNobody, 2,
         "The edited library could not be written: 'ro/o.tlb' could not be written: no temporary file could be "
         "made beside it: Permission denied."},
        {"-leh rename.leh -tlb secret.tlb", kAsNobody, 2, "'secret.tlb' can't be read: Permission denied."},
        {"-leh secret.leh", kAsNobody, 2, "Path/File access error: DIR/secret.leh (Permission denied)"},
        {"-leh sock", "", 2, "'DIR/sock' is not a valid Library Edit History file. It is not a regular file."},
        {"-leh rename.leh", "ZEPHRIN_REGISTRY=nosuch.reg", 0,
         "Warning: ZEPHRIN_REGISTRY names 'nosuch.reg', which does not exist; its registrations are not read."},
    };
    for (const auto& c : cases) {
        if (c.env == kAsNobody && ::geteuid() != 0) continue;  // as root, permissions don't stop the program
        const std::string args = c.args.find("-tlb") == std::string::npos ? c.args + " -tlb in.tlb" : c.args;
        const Result r = Zephrin(args + (c.args.find("-s ") == std::string::npos ? " -s o.tlb" : ""), c.env);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_EQ(r.err, Replaced(c.message, "DIR", dir.path().string()) + "\n") << c.args;
        EXPECT_EQ(fs::exists(dir / "o.tlb"), c.code == 0) << c.args;
        fs::remove(dir / "o.tlb");
    }
}

// A POSIX ACL as the file system stores it in an extended attribute: the
// version, then each entry's tag, permissions and id.
std::string Acl(std::initializer_list<std::array<uint32_t, 3>> entries) {
    std::string acl;
    const auto put = [&](uint32_t value, size_t size) {
        for (size_t i = 0; i < size; ++i) acl += static_cast<char>(value >> (8 * i));
    };
    put(2, 4);
    for (const auto& [tag, perm, id] : entries) {
        put(tag, 2);
        put(perm, 2);
        put(id, 4);
    }
    return acl;
}
constexpr uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20, kNoId = 0xFFFFFFFF;

// The extended attribute's value, or "(none)".
std::string Attribute(const fs::path& file, const char* name) {
    char value[256];
    const ssize_t n = ::getxattr(file.c_str(), name, value, sizeof value);
    return n < 0 ? "(none)" : std::string(value, static_cast<size_t>(n));
}

// A save keeps the file's extended attributes and its ACL (with it the group
// bits, which hold the ACL's mask), and never gives a file an ACL it didn't
// have, such as one its folder's default ACL would give a new file.
TEST_F(BatchRun, ASaveKeepsExtendedAttributesAndTheAclAndAddsNone) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    const fs::path in = dir / "in.tlb";
    if (::setxattr(in.c_str(), "user.zephrin.note", "kept", 4, 0) != 0) GTEST_SKIP() << "no extended attributes here";
    const std::string acl = Acl({{kUserObj, 6, kNoId}, {kUser, 6, 65534}, {kGroupObj, 4, kNoId}, {kMask, 6, kNoId},
                                 {kOther, 0, kNoId}});
    if (::setxattr(in.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) GTEST_SKIP() << "no ACLs here";
    const fs::perms mode = fs::status(in).permissions();
    EXPECT_EQ(mode, fs::perms(0660));

    const Result run = Zephrin("-q -leh rename.leh in.tlb");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(Dump("in.tlb").find("Magnify"), std::string::npos);
    EXPECT_EQ(Attribute(in, "user.zephrin.note"), "kept");
    EXPECT_EQ(Attribute(in, "system.posix_acl_access"), acl);
    EXPECT_EQ(fs::status(in).permissions(), mode);

    fs::create_directory(dir / "shared");
    const std::string inherited = Acl({{kUserObj, 6, kNoId}, {kUser, 6, 65534}, {kGroupObj, 4, kNoId},
                                       {kMask, 6, kNoId}, {kOther, 0, kNoId}});
    ASSERT_EQ(::setxattr((dir / "shared").c_str(), "system.posix_acl_default", inherited.data(), inherited.size(), 0), 0);
    const fs::path lib = dir / "shared" / "lib.tlb";
    WriteStartingLibrary(lib);
    ::removexattr(lib.c_str(), "system.posix_acl_access");  // made before the folder had its default ACL
    fs::permissions(lib, fs::perms(0640));
    const Result shared = Zephrin("-q -leh rename.leh shared/lib.tlb");
    EXPECT_EQ(shared.code, 0) << shared.err;
    EXPECT_EQ(Attribute(lib, "system.posix_acl_access"), "(none)");
    EXPECT_EQ(fs::status(lib).permissions(), fs::perms(0640));
}

// A link swapped in between loading and saving, in a folder anyone may write
// to, redirects nothing: the run is refused and the file it leads to is as it
// was, whether the library is rewritten in place or saved to another name.
TEST_F(BatchRun, ALinkSwappedInBetweenLoadAndSaveIsRefusedAndTheOtherFileUntouched) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms(01777));
    std::ofstream(dir / "secret.tlb", std::ios::binary) << "root only";
    fs::permissions(dir / "secret.tlb", fs::perms(0600));
    const struct {
        const char* args;
        const char* swapped;
        bool existed;
    } cases[] = {{"-q -leh rename.leh shared/lib.tlb", "shared/lib.tlb", true},
                 {"-q -leh rename.leh -tlb in.tlb -s shared/out.tlb", "shared/out.tlb", true},
                 {"-q -leh rename.leh -tlb in.tlb -s shared/new.tlb", "shared/new.tlb", false}};
    for (const auto& c : cases) {
        if (c.existed) WriteStartingLibrary(dir / c.swapped);
        const pid_t pid = Start(c.args, Preloaded("ZEPHRIN_TEST_STOP_OPENING=.leh"), "swap");
        ASSERT_TRUE(Stopped(pid)) << c.args;
        fs::remove(dir / c.swapped);
        fs::create_symlink(dir / "secret.tlb", dir / c.swapped);
        EXPECT_EQ(Finish(pid), 2) << c.args;
        const std::string err = ReadText(dir / "swap.err");
        EXPECT_TRUE(c.existed ? err == Changed(c.swapped)
                              : err.starts_with("The edited library could not be written: '" + std::string(c.swapped) +
                                                "' changed while it was being edited"))
            << c.args << ": " << err;
        EXPECT_EQ(ReadText(dir / "secret.tlb"), "root only") << c.args;
        EXPECT_EQ(fs::status(dir / "secret.tlb").permissions(), fs::perms(0600));
        EXPECT_TRUE(fs::is_symlink(dir / c.swapped)) << c.args;
    }
}

// Another program saves the library (in place or by replacing it) or removes
// it while a run edits it: the run fails and the newer file is kept.
TEST_F(BatchRun, ALibraryAnotherProgramChangedMeanwhileIsNotOverwritten) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    const std::string theirs = ReadText(fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / "kinds.tlb");
    const std::function<void()> others[] = {
        [&] { std::ofstream(dir / "lib.tlb", std::ios::binary | std::ios::trunc) << theirs; },
        [&] {
            std::ofstream(dir / "new.tlb", std::ios::binary) << theirs;
            fs::rename(dir / "new.tlb", dir / "lib.tlb");
        },
        [&] { fs::remove(dir / "lib.tlb"); },
    };
    for (size_t i = 0; i < std::size(others); ++i) {
        for (const bool linked : {false, true}) {  // saved through a temporary file, and in place
            fs::remove(dir / "lib.tlb");
            fs::remove(dir / "link.tlb");
            WriteStartingLibrary(dir / "lib.tlb");
            if (linked) fs::create_hard_link(dir / "lib.tlb", dir / "link.tlb");
            const pid_t pid = Start("-q -leh rename.leh lib.tlb", Preloaded("ZEPHRIN_TEST_STOP_OPENING=.leh"), "other");
            ASSERT_TRUE(Stopped(pid));
            others[i]();
            EXPECT_EQ(Finish(pid), 2) << i << linked;
            EXPECT_EQ(ReadText(dir / "other.err"), Changed("lib.tlb")) << i << linked;
            if (i < 2) EXPECT_EQ(ReadText(dir / "lib.tlb"), theirs) << i << linked;
            else EXPECT_FALSE(fs::exists(dir / "lib.tlb")) << linked;
        }
    }
}

// Two runs on one library at once: the second waits while the first holds the
// library, then edits what the first saved. Never do both succeed with one
// edit lost.
TEST_F(BatchRun, TwoRunsOnOneLibraryNeverBothSucceedWithAnEditLost) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    std::ofstream(dir / "surface.leh", std::ios::binary)
        << Replaced(Replaced(ReadText(kRenameLeh), std::string("\x04\0Zoom", 6), std::string("\x04\0Area", 6)),
                    std::string("\x07\0Magnify", 9), std::string("\x07\0Surface", 9));
    for (const bool linked : {false, true}) {
        fs::remove(dir / "lib.tlb");
        fs::remove(dir / "link.tlb");
        WriteStartingLibrary(dir / "lib.tlb");
        if (linked) fs::create_hard_link(dir / "lib.tlb", dir / "link.tlb");
        // The leak checker stops a program's threads at its exit, which under a
        // loaded machine has been seen to hang the second run; leaks are the
        // other tests' business.
        const std::string noLeakCheck = " ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0:detect_leaks=0";
        const pid_t first = Start("-q -leh rename.leh lib.tlb",
                                  Preloaded("ZEPHRIN_TEST_STOP_OPENING=.leh") + noLeakCheck, "first");
        ASSERT_TRUE(Stopped(first));
        const pid_t second = Start("-q -leh surface.leh lib.tlb", noLeakCheck, "second");
        int status = 0, secondCode = -1;
        for (int waited = 0; waited < 2000 && secondCode < 0; waited += 50) {
            if (::waitpid(second, &status, WNOHANG) == second) secondCode = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            else ::usleep(50'000);
        }
        const int firstCode = Finish(first);
        if (secondCode == -1) secondCode = Finish(second);
        EXPECT_EQ(firstCode, 0) << ReadText(dir / "first.err");
        EXPECT_TRUE(secondCode == 0 || secondCode == 2) << secondCode;
        const std::string saved = Dump("lib.tlb");
        EXPECT_EQ(saved.find("Magnify") != std::string::npos, firstCode == 0) << linked;
        EXPECT_EQ(saved.find("Surface") != std::string::npos, secondCode == 0) << linked << ReadText(dir / "second.err");
    }
}

// A user who isn't root saves another user's file, which they may write, in a
// folder they may write to: it keeps its owner and group (it is rewritten in place).
TEST_F(BatchRun, AnotherUsersFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms(01777));
    const fs::path lib = dir / "shared" / "lib.tlb";
    WriteStartingLibrary(lib);
    ASSERT_EQ(::chown(lib.c_str(), 1234, 1234), 0);
    fs::permissions(lib, fs::perms(0646));
    const Result run = Zephrin("-q -leh rename.leh shared/lib.tlb", kAsNobody);
    EXPECT_EQ(run.code, 0) << run.err;
    struct stat st {};
    ASSERT_EQ(::stat(lib.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 1234u);
    EXPECT_EQ(st.st_mode & 07777, 0646u);
    EXPECT_NE(Dump("shared/lib.tlb").find("Magnify"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "shared"), fs::directory_iterator()), 1);
}

// Killed while it writes the new contents, a save leaves the old file and no
// temporary file, where the file system has unnamed temporary files.
TEST_F(BatchRun, ASaveKilledWhileWritingLeavesNoTemporaryFile) {
    const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) GTEST_SKIP() << "no unnamed temporary files here";
    ::close(probe);
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    fs::copy_file(dir / "in.tlb", dir / "out.tlb");
    const std::string old = ReadText(dir / "out.tlb");
    for (const char* args : {"-q -leh rename.leh -tlb in.tlb -s out.tlb", "-q -leh rename.leh -tlb in.tlb -s new.tlb"}) {
        const pid_t pid = Start(args, Preloaded("ZEPHRIN_TEST_STOP_WRITING=1"), "killed");
        ASSERT_TRUE(Stopped(pid));
        ::kill(pid, SIGKILL);
        EXPECT_EQ(Finish(pid), 128 + SIGKILL);
    }
    EXPECT_EQ(ReadText(dir / "out.tlb"), old);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"in.tlb", "out.tlb", "rename.leh", "killed.out", "killed.err"}));
}

// Killed outright between naming its temporary file and the rename, a save
// leaves the old library and that file, under the library's name with
// ".zephrin-save" added; the next save removes it. So kills leave one such
// file at most, whether the file system has unnamed temporary files or not.
TEST_F(BatchRun, TheNextSaveRemovesTheTemporaryFileAKilledSaveLeft) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    const auto besideLibrary = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with("lib.tlb")) names.insert(entry.path().filename().string());
        return names;
    };
    for (const std::string asked : {"", "ZEPHRIN_TEST_NO_TMPFILE=1"}) {
        fs::remove(dir / "lib.tlb");
        WriteStartingLibrary(dir / "lib.tlb");
        const std::string old = ReadText(dir / "lib.tlb");
        for (int kill = 0; kill < 2; ++kill) {
            const pid_t pid =
                Start("-q -leh rename.leh lib.tlb", Preloaded(asked + " ZEPHRIN_TEST_STOP_RENAMING=1"), "killed");
            ASSERT_TRUE(Stopped(pid)) << asked;
            ::kill(pid, SIGKILL);
            EXPECT_EQ(Finish(pid), 128 + SIGKILL);
            EXPECT_EQ(ReadText(dir / "lib.tlb"), old) << asked;
            EXPECT_EQ(besideLibrary(), (std::set<std::string>{"lib.tlb", "lib.tlb.zephrin-save"})) << asked;
        }
        const Result run = Zephrin("-q -leh rename.leh lib.tlb", Preloaded(asked));
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_NE(Dump("lib.tlb").find("Magnify"), std::string::npos) << asked;
        EXPECT_EQ(besideLibrary(), std::set<std::string>{"lib.tlb"}) << asked;
    }
}

// A library with a second link is rewritten in place, and a signal that would
// end the program in the middle of that write waits until the write is done:
// the library is never left half written, and the signal then takes its course.
TEST_F(BatchRun, ASignalDuringAnInPlaceWriteWaitsUntilItIsDone) {
    const fs::path data = fs::path(ZEPHRIN_TEST_DATA_DIR) / "history";
    fs::copy_file(data / "member-changes.leh", dir / "changes.leh");
    fs::copy_file(data / "session.tlb", dir / "old.tlb");
    ASSERT_EQ(Zephrin("-q -leh changes.leh -tlb old.tlb -s new.tlb").code, 0);
    const std::string old = ReadText(dir / "old.tlb"), saved = ReadText(dir / "new.tlb");
    ASSERT_LT(saved.size(), old.size());  // so a write cut short leaves the old file's end
    for (const int signal : {SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU, SIGTERM}) {
        fs::remove(dir / "lib.tlb");
        fs::remove(dir / "link.tlb");
        fs::copy_file(dir / "old.tlb", dir / "lib.tlb");
        fs::create_hard_link(dir / "lib.tlb", dir / "link.tlb");
        const Result run = Zephrin("-q -leh changes.leh lib.tlb",
                                   "sh -c 'ulimit -c 0; exec \"$0\" \"$@\"' env " +
                                       Preloaded("ZEPHRIN_TEST_SIGNAL_WRITTEN=" + std::to_string(signal)));
        EXPECT_NE(run.code, 0) << signal;  // ended by the signal
        EXPECT_TRUE(ReadText(dir / "link.tlb") == saved) << "damaged by signal " << signal;
    }
}

// A message file that can't be written (a full disk, here a file-size limit)
// is not left behind empty: the message reaches standard error.
TEST_F(BatchRun, AMessageFileThatCantBeWrittenIsNotLeftEmpty) {
    const std::string command = "cd '" + dir.path().string() +
                                "' && { env -u DISPLAY -u WAYLAND_DISPLAY prlimit --fsize=0 '" ZEPHRIN_BIN_DIR
                                "/zephrin' -q -o msg.txt -leh missing.leh -tlb in.tlb -s o.tlb 2>&1; echo \"exit $?\"; }"
                                " | cat >piped.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadText(dir / "piped.txt"), "File not found: " + (dir / "missing.leh").string() + "\nexit 2\n");
    EXPECT_FALSE(fs::exists(dir / "msg.txt"));
}

// When every fsync fails, the old contents are written back all the same, and
// the message says so; through a temporary file the old file was never touched.
TEST_F(BatchRun, WhenEveryFsyncFailsTheMessageSaysWhatBecameOfTheOldContents) {
    fs::copy_file(kRenameLeh, dir / "rename.leh");
    const std::string old = ReadText(dir / "in.tlb");
    for (const char* put : {".", "; its old contents were put back."}) {
        if (put[0] == ';') fs::create_hard_link(dir / "in.tlb", dir / "link.tlb");  // written in place
        const Result run = Zephrin("-q -leh rename.leh in.tlb", Preloaded("ZEPHRIN_TEST_FAIL_FSYNC=1"));
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.err, std::string("The edited library could not be written: 'in.tlb' could not be written: "
                                       "Input/output error") + put + "\n");
        EXPECT_EQ(ReadText(dir / "in.tlb"), old) << put;
    }
}

}  // namespace

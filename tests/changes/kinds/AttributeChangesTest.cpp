// The attribute changes (library, type, implemented interface, member,
// parameter) end to end: edits made in the view through the hub while the
// history engine records; the history saved and compared with its committed
// golden, loaded by a second engine and run on a fresh copy of the library;
// both libraries saved and dumped alike, the replayed one as the committed
// reference dump reads. Then edits equal to the current values, cancels,
// failures, and what parameters and entries read from their library.
// Set ZEPHRIN_UPDATE_GOLDENS to rewrite the committed histories (the replayed
// libraries are then left in the temporary folder, for the reference dumper
// to make their dumps).
#include <cstdlib>
#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "changes/history/HistoryFile.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/TypeChange.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TliReading.h"
#include "typelib/modMarbrel.h"
#include "typelib/CustomVarTypeInfo.h"

namespace changestest {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using Setter = std::function<void(IAttributeChange&)>;

constexpr GUID kNewGuid = {0x0A77C4A6, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

// Shapes, and three interfaces for base and dual edits:
//   interface IPlain : IUnknown { HRESULT Go(); };
//   interface IDispBase : IDispatch { HRESULT Run(); };
//   interface IBare : IUnknown { HRESULT Stay(); };
ComPtr<ITypeLib> Library() {
    ComPtr<ICreateTypeLib2> lib = BuildShapes();
    const struct {
        const char16_t* name;
        const char16_t* method;
        GUID base;
    } added[] = {
        {u"IPlain", u"Go", kIID_IUnknown}, {u"IDispBase", u"Run", kIID_IDispatch}, {u"IBare", u"Stay", kIID_IUnknown}};
    uint8_t n = 0;
    for (const auto& a : added) {
        ComPtr<ICreateTypeInfo2> type = NewType(lib.get(), a.name, TKIND_INTERFACE);
        EXPECT_OK(type->SetGuid({0x0A77C4A6, 1, 2, {++n}}));
        EXPECT_OK(type->AddImplType(0, RefTo(type.get(), StdOle2Type(a.base).get())));
        AddFunc(type.get(), 0, {.name = a.method});
        EXPECT_OK(type->LayOut());
    }
    return AsTypeLib(lib.get());
}

// A description of an intrinsic type, or of a type of lib by name.
ComPtr<CustomVarTypeInfo> TypeOf(ITypeLib* lib, VARTYPE vt, const char16_t* type = nullptr, SHORT pointers = 0) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(lib);
    v->SetType(vt, type ? testsupport::TypeNamed(InfoOf(lib).get(), type).get() : nullptr);
    v->PointerLevel(pointers);
    return v;
}

ChangeTarget ParamOf(ITypeLib* lib, const char16_t* type, const char16_t* member, int16_t index,
                     int32_t invokeKind = INVOKE_FUNC) {
    ChangeTarget t = MemberTarget(lib, type, member, invokeKind);
    t.Kind = kTargetParam;
    t.ParamIndex = index;
    return t;
}

std::shared_ptr<IAttributeChange> NewChange(ChangeKind kind) {
    return std::dynamic_pointer_cast<IAttributeChange>(modRecorder::CreateChangeFromKind(Code(kind)));
}

// Lays the library out, writes it to file, and dumps the file as the
// reference dumper prints it.
std::string SaveAndDump(ITypeLib* lib, const fs::path& file) {
    std::shared_ptr<const LibraryData> data;
    EXPECT_OK(GetLibraryData(lib, true, &data));
    EXPECT_OK(WriteMsftTypeLib(*data, file.u16string()));
    std::string dump;
    EXPECT_OK(tlbtools::DumpTypeLibFile(file.u16string(), &dump));
    return tlbtools::WithCrLf(dump);
}

// The view's side: a library edited through the hub while an engine records.
class AttributeEdits : public ::testing::Test {
public:
    AttributeEdits() {
        RegisterFileServices();
        engine.ChangeListener(hub);
        engine.UIActivator(&activation);
        activation.list = &list;
        view.Attach(lib.get());
        engine.CurrentITypeLib(lib.get());
        EXPECT_TRUE(engine.ActivateUI());
        hub->AddListenerNode(viewNode, heard);
    }

    // An edit as the view makes it: the target's values captured, a copy
    // given the user's values, applied with the captured baseline.
    struct Pending {
        ChangeTarget target;
        std::shared_ptr<IAttributeChange> captured, change;
    };
    Pending Prepare(ChangeKind kind, ChangeTarget target, const Setter& set) {
        Pending e{std::move(target), NewChange(kind), nullptr};
        e.captured->InitFromTarget(e.target);
        e.change = std::dynamic_pointer_cast<IAttributeChange>(e.captured->Clone());
        set(*e.change);
        return e;
    }
    bool Apply(Pending& e) { return e.change->Apply(view, e.captured.get(), e.target, hub.get(), 0); }
    bool Edit(ChangeKind kind, ChangeTarget target, const Setter& set) {
        Pending e = Prepare(kind, std::move(target), set);
        return Apply(e);
    }

    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    ComPtr<ITypeLib> lib = Library();
    CustomTypeLib view;
    RecordingListener heard{"V"};
    SMNode viewNode;
    FakeActivation activation;
    FakeHistoryList list{engine};
    Playback engine{std::make_shared<HistoryFile>()};
    TempDir dir;
};

// ---- Every kind, end to end ----

struct KindCase {
    const char* name;  // of the golden history, tests/data/history/<name>.leh
    // Makes the kind's edits in the fixture; returns the texts they are listed with.
    std::function<Texts(AttributeEdits&, ITypeLib*)> edit;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class AttributeHistories : public AttributeEdits, public ::testing::WithParamInterface<KindCase> {};

TEST_P(AttributeHistories, ARecordedHistoryMatchesItsGoldenAndRebuildsTheEditsOnAFreshCopy) {
    const KindCase& c = GetParam();
    const Texts texts = c.edit(*this, lib.get());
    ASSERT_FALSE(HasFailure());
    Texts listed = texts;
    listed.push_back("*<end>");
    EXPECT_EQ(list.Texts(), listed);

    const bool update = std::getenv("ZEPHRIN_UPDATE_GOLDENS") != nullptr;
    const fs::path golden = fs::path(ZEPHRIN_TEST_DATA_DIR) / "history" / (std::string(c.name) + ".leh");
    const std::u16string folder = (update ? golden.parent_path() : dir.path()).u16string();
    ASSERT_TRUE(engine.SaveState(folder, golden.filename().u16string()));
    const fs::path saved = fs::path(folder) / golden.filename();
    EXPECT_EQ(testsupport::ReadBytes(saved), testsupport::ReadBytes(golden));

    Playback replay{std::make_shared<HistoryFile>()};
    replay.LoadState(folder, golden.filename().u16string());
    ASSERT_EQ(replay.ItemCount(), static_cast<int32_t>(texts.size()));
    const ComPtr<ITypeLib> fresh = Library();
    replay.AttachITypeLib(fresh.get());
    ASSERT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
    // Both libraries saved; the replayed one also reads as the reference dumper read it.
    const fs::path saveTo = (update ? fs::path(::testing::TempDir()) : dir.path()) / (std::string(c.name) + ".tlb");
    const std::string replayed = SaveAndDump(replay.CurrentITypeLib().get(), saveTo);
    EXPECT_EQ(replayed, SaveAndDump(view.ReadView().get(), dir / "edited.tlb"));
    if (!update) {
        EXPECT_EQ(replayed, testsupport::ReadText(golden.parent_path() / (std::string(c.name) + ".dump")));
    }
}

Setter All(std::vector<Setter> setters) {
    return [setters](IAttributeChange& c) {
        for (const Setter& s : setters) s(c);
    };
}

ChangeTarget Impl(ITypeLib* lib, int32_t index, const char16_t* name) {
    ChangeTarget t = ImplTarget(lib, u"Shape", index);
    t.MemberName = name;  // as the view names it
    return t;
}

const KindCase kKinds[] = {
    {"lib-changes",
     [](AttributeEdits& t, ITypeLib* lib) {
         EXPECT_TRUE(t.Edit(ChangeKind::LibChange, LibraryTarget(lib), All({[](auto& c) { c.Guid(kNewGuid); },
                                                                          [](auto& c) { c.MinorVersion(5); },
                                                                          [](auto& c) { c.Lcid(0x407); }})));
         EXPECT_TRUE(t.Edit(ChangeKind::LibChange, LibraryTarget(lib),
                            All({[](auto& c) { c.Flags(LIBFLAG_FCONTROL | LIBFLAG_FRESTRICTED); },
                                 [](auto& c) { c.MajorVersion(3); }})));
         return Texts{"Changed library settings (LIBID, Minor Version, LCID)",
                      "Changed library settings (Attributes, Major Version)"};
     }},
    {"type-changes",
     [](AttributeEdits& t, ITypeLib* lib) {
         const auto edit = [&](const char16_t* type, const Setter& set) {
             EXPECT_TRUE(t.Edit(ChangeKind::TypeChange, TypeTarget(lib, type), set));
         };
         edit(u"IShape", All({[](auto& c) { c.Guid(kNewGuid); }, [](auto& c) { c.MajorVersion(2); },
                              [](auto& c) { c.MinorVersion(5); }}));
         // Wider than its fields allow (4): stored as 4, as the platform stores it.
         edit(u"Matrix", [](auto& c) { c.Alignment(8); });
         edit(u"LongPtr", [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, VT_BSTR, nullptr, 1).get()); });
         edit(u"IPlain", [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, 0, u"IDispBase").get()); });
         edit(u"IBare", [](auto& c) { c.VarTypeInfo(nullptr); });
         // An alias of an interface is listed as an interface, and edited and named as an alias.
         edit(u"ShapeAlias", [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, 0, u"IPlain").get()); });
         edit(u"IDispBase", [](auto& c) { c.SetFlags(TYPEFLAG_FDUAL, true); });
         edit(u"Colors", [](auto& c) { c.SetFlags(TYPEFLAG_FHIDDEN, true); });
         // Clearing the dual flag regenerates the library (last: lib is then the old one).
         edit(u"IShape", [](auto& c) { c.SetFlags(TYPEFLAG_FDUAL, false); });
         return Texts{"Change interface IShape (GUID, Major Version, Minor Version)",
                      "Change record Matrix (Alignment)",
                      "Change alias LongPtr (Target Type)",
                      "Change interface IPlain (Base Type)",
                      "Change interface IBare (Base Type)",
                      "Change alias ShapeAlias (Target Type)",
                      "Change interface IDispBase (Attributes)",
                      "Change enum Colors (Attributes)",
                      "Change interface IShape (Attributes)"};
     }},
    {"impl-changes",
     [](AttributeEdits& t, ITypeLib* lib) {
         EXPECT_TRUE(t.Edit(ChangeKind::ImplTypeChange, Impl(lib, 1, u"DShapeEvents"),
                            [](auto& c) { c.Flags(IMPLTYPEFLAG_FSOURCE); }));
         EXPECT_TRUE(t.Edit(ChangeKind::ImplTypeChange, Impl(lib, 0, u"IShape"),
                            [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, 0, u"IDispBase").get()); }));
         return Texts{"Change implied interface DShapeEvents (Attributes)", "Change implied interface IShape (Type)"};
     }},
    {"member-changes",
     [](AttributeEdits& t, ITypeLib* lib) {
         const auto edit = [&](const char16_t* type, const char16_t* member, int32_t invokeKind, const Setter& set) {
             EXPECT_TRUE(t.Edit(ChangeKind::MemberChange, MemberTarget(lib, type, member, invokeKind), set));
         };
         edit(u"Colors", u"Green", 0, [](auto& c) { c.Value(ole::Variant::Int(7)); });
         edit(u"Kernel", u"Answer", 0, [](auto& c) { c.Value(ole::Variant(int32_t{43})); });
         // An ordinal above 32,767 is an Integer below zero.
         edit(u"Kernel", u"Beep", INVOKE_FUNC, All({[](auto& c) { c.Value(ole::Variant(int16_t{-25536})); },
                                                    [](auto& c) { c.DllName(u"user32.dll"); }}));
         edit(u"IShape", u"Zoom", INVOKE_FUNC, [](auto& c) { c.MemberId(0x123); });
         edit(u"IShape", u"Zoom", INVOKE_FUNC, [](auto& c) { c.MemberId(MEMBERID_NIL); });
         edit(u"IShape", u"Area", INVOKE_FUNC, [](auto& c) { c.Flags(FUNCFLAG_FHIDDEN); });
         edit(u"IShape", u"Zoom", INVOKE_FUNC, [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, VT_I4).get()); });
         edit(u"Matrix", u"one", 0, [lib](auto& c) { c.VarTypeInfo(TypeOf(lib, VT_I2).get()); });
         return Texts{"Changed enum value Colors.Green (Value)",
                      "Changed module constant Kernel.Answer (Value)",
                      "Changed module function Kernel.Beep (Dll Name, Dll Entry)",
                      "Changed interface method IShape.Zoom (MemberID)",
                      "Changed interface method IShape.Zoom (MemberID)",
                      "Changed interface method IShape.Area (Attributes)",
                      "Changed interface method IShape.Zoom (Type)",
                      "Changed record field Matrix.one (Type)"};
     }},
    {"param-changes",
     [](AttributeEdits& t, ITypeLib* lib) {
         const auto edit = [&](ChangeTarget target, const Setter& set) {
             EXPECT_TRUE(t.Edit(ChangeKind::ParamChange, std::move(target), set));
         };
         edit(ParamOf(lib, u"IShape", u"Fill", 0), [](auto& c) { c.Value(ole::Variant(int32_t{9})); });
         // An object-typed default is the null reference.
         edit(ParamOf(lib, u"IShape", u"Zoom", 0),
              All({[lib](auto& c) { c.VarTypeInfo(TypeOf(lib, 0, u"IPlain", 1).get()); },
                   [](auto& c) { c.Flags(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT); }}));
         // Optional before a required parameter (a Null default) becomes required;
         // the optional parameter counted in cParamsOpt gets a Null default.
         edit(ParamOf(lib, u"IShape", u"Early", 0), [](auto& c) { c.Flags(PARAMFLAG_FIN); });
         edit(ParamOf(lib, u"IShape", u"Fill", 1), [](auto& c) { c.Value(ole::Variant::Null()); });
         ChangeTarget put = ParamOf(lib, u"IShape", u"Name", 0, INVOKE_PROPERTYPUT);
         put.SpecialParam = kParamRightHandSide;
         edit(put, [](auto& c) { c.InvokeKind(INVOKE_PROPERTYPUTREF); });
         return Texts{"Change parameter count of IShape.Fill (Default Value)",
                      "Change parameter factor of IShape.Zoom (Type, Flags)",
                      "Change parameter first of IShape.Early (Flags)",
                      "Change parameter extra of IShape.Fill (Flags)",
                      "Change right-hand side value parameter of IShape.Name (Member Invoke Kind)"};
     }},
};

INSTANTIATE_TEST_SUITE_P(Kinds, AttributeHistories, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
                             std::string name = info.param.name;
                             std::erase(name, '-');
                             return name;
                         });

// ---- Equal values, cancels and failures ----

TEST_F(AttributeEdits, AnEditEqualToTheCurrentValuesChangesNothingAndTellsNoOne) {
    const std::string before = Dump(lib.get());
    const auto nothing = [](IAttributeChange&) {};
    EXPECT_FALSE(Edit(ChangeKind::LibChange, LibraryTarget(lib.get()), nothing));
    EXPECT_FALSE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IShape"), nothing));
    EXPECT_FALSE(Edit(ChangeKind::ImplTypeChange, Impl(lib.get(), 1, u"DShapeEvents"), nothing));
    EXPECT_FALSE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Kernel", u"Beep"), nothing));
    EXPECT_FALSE(Edit(ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Fill", 0), nothing));
    // The values the items have, a value on a dispinterface's property, and
    // the dual flag on an interface whose base is not dispatchable (dropped).
    EXPECT_FALSE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Kernel", u"Answer", 0),
                      [](auto& c) { c.Value(ole::Variant(int32_t{42})); }));
    EXPECT_FALSE(Edit(ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Fill", 0),
                      [](auto& c) { c.Value(ole::Variant(int32_t{5})); }));
    EXPECT_FALSE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"DShapeEvents", u"Visible", 0),
                      [](auto& c) { c.Value(ole::Variant(int32_t{5})); }));
    EXPECT_FALSE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IPlain"),
                      [](auto& c) { c.SetFlags(TYPEFLAG_FDUAL, true); }));
    // Without a captured baseline, a change is compared with the target as it is.
    ChangeTarget shape = TypeTarget(lib.get(), u"IShape");
    const std::shared_ptr<IAttributeChange> alone = NewChange(ChangeKind::TypeChange);
    alone->InitFromTarget(shape);
    EXPECT_FALSE(alone->Apply(view, nullptr, shape, hub.get(), 0));
    // Flags the library sets back as they were: the default interface cannot be restricted.
    EXPECT_FALSE(Edit(ChangeKind::ImplTypeChange, Impl(lib.get(), 0, u"IShape"),
                      [](auto& c) { c.Flags(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FRESTRICTED); }));
    // A listener cancels a type change.
    heard.cancelTypeChange = true;
    EXPECT_FALSE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IShape"), [](auto& c) { c.Guid(kNewGuid); }));
    EXPECT_EQ(Dump(lib.get()), before);
    EXPECT_EQ(heard.Heard(), Texts(4, "V:Before"));
    EXPECT_EQ(engine.ItemCount(), 0);
}

TEST_F(AttributeEdits, AFailedEditLeavesTheLibraryAsItWasAndTheChangeAtItsBaseline) {
    const std::string before = Dump(lib.get());
    // The LCID fails after the GUID and the version were set.
    Pending library = Prepare(ChangeKind::LibChange, LibraryTarget(lib.get()), All({[](auto& c) { c.Guid(kNewGuid); },
                                                                                    [](auto& c) { c.MajorVersion(4); },
                                                                                    [](auto& c) { c.Lcid(0x407); }}));
    ole::testing::FailNextCall("SetLcid", E_ACCESSDENIED);
    EXPECT_EQ(ErrorOf([&] { Apply(library); }), E_ACCESSDENIED);
    EXPECT_FALSE(library.change->Differs(*library.captured));
    // The flags of an implemented interface fail after the interface was replaced.
    Pending impl = Prepare(ChangeKind::ImplTypeChange, Impl(lib.get(), 1, u"DShapeEvents"),
                           All({[&](auto& c) { c.VarTypeInfo(TypeOf(lib.get(), 0, u"IDispBase").get()); },
                                [](auto& c) { c.Flags(IMPLTYPEFLAG_FSOURCE); }}));
    ole::testing::FailNextCall("SetImplTypeFlags", E_ACCESSDENIED, 1);
    EXPECT_EQ(ErrorOf([&] { Apply(impl); }), E_ACCESSDENIED);
    EXPECT_FALSE(impl.change->Differs(*impl.captured));
    // A member ID that another member has.
    const MEMBERID area = MemberTarget(lib.get(), u"IShape", u"Area").MemberId;
    EXPECT_EQ(ErrorOf([&] {
                  Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"IShape", u"Zoom"),
                       [&](auto& c) { c.MemberId(area); });
              }),
              TYPE_E_DUPLICATEID);
    // The dual flag cleared with a GUID that another type holds: it fails in
    // the regenerated library, and the view keeps the library it had.
    Pending dual = Prepare(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IShape"),
                           All({[](auto& c) { c.SetFlags(TYPEFLAG_FDUAL, false); },
                                [](auto& c) { c.Guid({0x0A77C4A6, 1, 2, {1}}); }}));  // IPlain's
    EXPECT_EQ(ErrorOf([&] { Apply(dual); }), TYPE_E_DUPLICATEID);
    EXPECT_FALSE(dual.change->Differs(*dual.captured));
    EXPECT_FALSE(dual.target.ReplacementLibrary);
    EXPECT_TRUE(Edits(view, lib.get()));
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(Dump(lib.get()), before);
    EXPECT_EQ(heard.Heard(), Texts{"V:Before"});
    EXPECT_EQ(engine.ItemCount(), 0);
}

// A record's alignment restored after a failing edit is the one it was set
// to, not the one its fields let it read (Matrix: set 8, reads 4): the library
// saves to the same bytes, and later layouts follow the same setting.
TEST_F(AttributeEdits, AFailedAlignmentEditRestoresTheAlignmentAsItWasSet) {
    ASSERT_TRUE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"Matrix"), [](auto& c) { c.Alignment(8); }));
    SaveAndDump(lib.get(), dir / "before.tlb");
    const auto fail = [&](const char* call, const Setter& set) {
        Pending e = Prepare(ChangeKind::TypeChange, TypeTarget(lib.get(), u"Matrix"), set);
        ole::testing::FailNextCall(call, E_ACCESSDENIED);
        EXPECT_EQ(ErrorOf([&] { Apply(e); }), E_ACCESSDENIED) << call;
        ole::testing::ClearInjectedFailures();
        SaveAndDump(lib.get(), dir / "after.tlb");
        EXPECT_TRUE(testsupport::ReadBytes(dir / "after.tlb") == testsupport::ReadBytes(dir / "before.tlb")) << call;
    };
    fail("SetTypeFlags", All({[](auto& c) { c.Alignment(2); }, [](auto& c) { c.SetFlags(TYPEFLAG_FHIDDEN, true); }}));
    fail("LayOut", [](auto& c) { c.Alignment(2); });
}

// A parameter edit that would give its function a second return value or
// locale parameter, or a return value that is not last, and a base that is
// not an interface or holds a name the interface has, are refused before
// anything changes.
TEST_F(AttributeEdits, AParameterOrBaseThatWouldBreakTheTypeIsRefusedBeforeAnythingChanges) {
    const ChangeTarget bare = MemberTarget(lib.get(), u"IBare", u"Stay");
    view.GetCustomTypeInfoByNumber(bare.TypeIndex)->SetMemberName(bare.MemberId, u"run");  // IDispBase has Run
    const std::string before = Dump(lib.get());
    const auto flags = [](int32_t f) { return Setter([=](IAttributeChange& c) { c.Flags(f); }); };
    const auto base = [&](const char16_t* type) {
        return Setter([=, this](IAttributeChange& c) { c.VarTypeInfo(TypeOf(lib.get(), 0, type).get()); });
    };
    const int32_t retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    const std::vector<std::tuple<ChangeKind, ChangeTarget, Setter, HRESULT>> rows = {
        {ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Area", 0), flags(retval), 5},
        {ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Area", 0), flags(PARAMFLAG_FIN | PARAMFLAG_FLCID), 5},
        {ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Early", 0), flags(retval), 5},
        {ChangeKind::TypeChange, TypeTarget(lib.get(), u"IPlain"), base(u"Matrix"), 5},
        {ChangeKind::TypeChange, TypeTarget(lib.get(), u"IShape"), base(u"DShapeEvents"), 5},
        {ChangeKind::TypeChange, TypeTarget(lib.get(), u"IBare"), base(u"IDispBase"), TYPE_E_AMBIGUOUSNAME},
    };
    for (const auto& [kind, target, set, error] : rows)
        EXPECT_EQ(ErrorOf([&] { Edit(kind, target, set); }), error) << Utf8(target.MemberName + target.TypeName);
    EXPECT_EQ(Dump(lib.get()), before);
    EXPECT_EQ(heard.Heard(), Texts(3, "V:Before"));
    EXPECT_EQ(engine.ItemCount(), 0);
    // A return value last, and a dual as a base, are taken.
    EXPECT_TRUE(Edit(ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Early", 1), flags(retval)));
    EXPECT_TRUE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IPlain"), base(u"IShape")));
}

TEST(DualFlag, ClearedItKeepsTheReferencesToAndFromTheInterfaceWithinTheLibrary) {
    // dual interface IRef : IDispatch { HRESULT Me([out, retval] IRef**); HRESULT Take([in] Matrix*); };
    ComPtr<ICreateTypeLib2> created = BuildShapes();
    ComPtr<ICreateTypeInfo2> ref = NewType(created.get(), u"IRef", TKIND_INTERFACE);
    const ComPtr<ITypeLib> lib = AsTypeLib(created.get());
    TypeDescs td;
    EXPECT_OK(ref->SetGuid({0x0A77C4A6, 9, 9, {9}}));
    EXPECT_OK(ref->SetTypeFlags(TYPEFLAG_FDUAL));
    EXPECT_OK(ref->AddImplType(0, RefTo(ref.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(ref.get(), 0, {u"Me", INVOKE_FUNC, Vt(VT_HRESULT),
                           {{u"me", td.Ptr(td.Ptr(User(RefTo(ref.get(), ref.get())))), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(ref.get(), 1, {.name = u"Take",
                           .params = {{u"m", td.Ptr(User(RefTo(ref.get(), TypeNamed(lib.get(), u"Matrix").get())))}}});
    EXPECT_OK(ref->LayOut());
    CustomTypeLib view;
    view.Attach(lib.get());
    ChangeTarget target = TypeTarget(lib.get(), u"IRef");
    const std::shared_ptr<IAttributeChange> change = NewChange(ChangeKind::TypeChange);
    change->InitFromTarget(target);
    change->SetFlags(TYPEFLAG_FDUAL, false);
    ASSERT_TRUE(change->Apply(view, nullptr, target, nullptr, 0));
    ASSERT_TRUE(target.ReplacementLibrary);
    const std::string dump = Dump(target.ReplacementLibrary.get());
    const std::string type = dump.substr(dump.find("\"IRef\" kind="));
    EXPECT_EQ(type.find("dual-interface-half"), std::string::npos);
    EXPECT_NE(type.find("type=ptr(ptr(udt(\"Shapes\".\"IRef\")))"), std::string::npos) << type;
    EXPECT_NE(type.find("type=ptr(udt(\"Shapes\".\"Matrix\"))"), std::string::npos) << type;
}

TEST_F(AttributeEdits, ARunOverValuesAlreadyInPlaceKeepsWhatTheItemsRecord) {
    EXPECT_TRUE(Edit(ChangeKind::LibChange, LibraryTarget(lib.get()), [](auto& c) { c.Lcid(0x407); }));
    EXPECT_TRUE(Edit(ChangeKind::TypeChange, TypeTarget(lib.get(), u"IShape"), [](auto& c) { c.MajorVersion(2); }));
    EXPECT_TRUE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Colors", u"Green", 0),
                     [](auto& c) { c.Value(ole::Variant::Int(7)); }));
    ASSERT_TRUE(engine.SaveState(dir.path().u16string(), u"before.leh"));
    const size_t notes = heard.Heard().size();
    ASSERT_TRUE(engine.ExecuteCommand(kCmdRestart, -1, 0));
    ASSERT_TRUE(engine.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(heard.Heard().size(), notes + 2);  // only the type change's question, and the run's closing refresh
    ASSERT_TRUE(engine.SaveState(dir.path().u16string(), u"after.leh"));
    EXPECT_EQ(testsupport::ReadBytes(dir / "after.leh"), testsupport::ReadBytes(dir / "before.leh"));
}

TEST_F(AttributeEdits, AReplayThatFailsKeepsTheValuesItRecords) {
    EXPECT_TRUE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"IShape", u"Zoom"),
                     [](auto& c) { c.MemberId(0x123); }));
    ASSERT_TRUE(engine.SaveState(dir.path().u16string(), u"before.leh"));
    // A copy in which another member has that ID.
    const ComPtr<ITypeLib> copy = Library();
    const ChangeTarget area = MemberTarget(copy.get(), u"IShape", u"Area");
    CustomTypeLib other;
    other.Attach(copy.get());
    other.GetCustomTypeInfoByNumber(area.TypeIndex)->SetMemberID(area.MemberId, 0x123);
    engine.AttachITypeLib(copy.get());
    EXPECT_EQ(ErrorOf([&] { engine.ExecuteCommand(kCmdRun, -1, 0); }), TYPE_E_DUPLICATEID);
    ASSERT_TRUE(engine.SaveState(dir.path().u16string(), u"after.leh"));
    EXPECT_EQ(testsupport::ReadBytes(dir / "after.leh"), testsupport::ReadBytes(dir / "before.leh"));
}

// A typed optional parameter whose default was left empty has a default of
// Long 0: the item says so and carries it, over a default the library has;
// a history saved before the item carried it replays to the same Long 0.
TEST_F(AttributeEdits, ADefaultSetToEmptyIsRecordedAndReplayedAsALong0) {
    const int32_t typedOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    EXPECT_TRUE(Edit(ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Zoom", 0),
                     All({[&](auto& c) { c.Flags(typedOptional); }, [](auto& c) { c.Value(ole::Variant()); }})));
    EXPECT_EQ(list.Texts().front(), "Change parameter factor of IShape.Zoom (Flags, Default Value)");
    ASSERT_TRUE(engine.SaveState(dir.path().u16string(), u"h.leh"));
    const auto replayed = [&](const char16_t* file, const ole::Variant& before) {
        const ComPtr<ITypeLib> copy = Library();
        if (before.vt() != VT_EMPTY) {
            ChangeTarget factor = ParamOf(copy.get(), u"IShape", u"Zoom", 0);
            CustomTypeLib other;
            other.Attach(copy.get());
            const std::shared_ptr<IAttributeChange> set = NewChange(ChangeKind::ParamChange);
            set->InitFromTarget(factor);
            set->Flags(typedOptional);
            set->Value(before);
            EXPECT_TRUE(set->Apply(other, nullptr, factor, nullptr, 0));
        }
        Playback replay{std::make_shared<HistoryFile>()};
        replay.LoadState(dir.path().u16string(), file);
        replay.AttachITypeLib(copy.get());
        EXPECT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
        ChangeTarget factor = ParamOf(copy.get(), u"IShape", u"Zoom", 0);
        const std::shared_ptr<IAttributeChange> now = NewChange(ChangeKind::ParamChange);
        now->InitFromTarget(factor);
        EXPECT_EQ(now->Flags(), typedOptional);
        return now->Value();
    };
    const auto isLong0 = [](const ole::Variant& v) { return v.vt() == VT_I4 && v.get().lVal == 0; };
    EXPECT_TRUE(isLong0(replayed(u"h.leh", ole::Variant())));
    EXPECT_TRUE(isLong0(replayed(u"h.leh", ole::Variant(int32_t{7}))));
    // The same item as saved before: the mask without the Default Value bit,
    // the flags, DefaultIsEmpty and DefaultIsObject, no value; the end.
    std::string old = testsupport::ReadText(dir / "h.leh");
    const size_t mask = old.size() - 16;
    ASSERT_EQ(old.substr(mask), std::string("\x90\0\x31\0\xFF\xFF\0\0\0\0\0\0\xFF\xFF\xFF\xFF", 16));
    old[mask] = '\x10';
    old.erase(old.size() - 8, 4);
    std::ofstream(dir / "old.leh", std::ios::binary) << old;
    EXPECT_TRUE(isLong0(replayed(u"old.leh", ole::Variant())));
}

// ---- What parameters and members read from their library ----

TEST_F(AttributeEdits, ParametersAndEntriesReadAsTheViewShowsThem) {
    // An object-typed default, and a module function's entry by an ordinal above 32,767.
    EXPECT_TRUE(Edit(ChangeKind::ParamChange, ParamOf(lib.get(), u"IShape", u"Zoom", 0),
                     All({[&](auto& c) { c.VarTypeInfo(TypeOf(lib.get(), 0, u"IPlain", 1).get()); },
                          [](auto& c) { c.Flags(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT); }})));
    EXPECT_TRUE(Edit(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Kernel", u"Beep"),
                     [](auto& c) { c.Value(ole::Variant(int16_t{-25536})); }));
    struct Read {
        const char16_t* member;
        int16_t index;
        int32_t flags;
        ole::Variant value;
    };
    const int32_t in = PARAMFLAG_FIN, opt = PARAMFLAG_FOPT, def = PARAMFLAG_FHASDEFAULT;
    const Read reads[] = {
        {u"Fill", 0, in | opt | def | PARAMFLAG_FHASCUSTDATA, ole::Variant(int32_t{5})},
        {u"Fill", 1, in | opt, ole::Variant()},                              // counted in cParamsOpt
        {u"Early", 0, in | opt | ParamChange::kNullDefault, ole::Variant::Null()},  // before a required one
        {u"Zoom", 0, in | opt | def, ole::Variant::Null()},                  // the null reference
    };
    for (const Read& r : reads) {
        ChangeTarget target = ParamOf(lib.get(), u"IShape", r.member, r.index);
        const std::shared_ptr<IAttributeChange> param = NewChange(ChangeKind::ParamChange);
        param->InitFromTarget(target);
        EXPECT_EQ(param->Flags(), r.flags) << Utf8(r.member);
        EXPECT_TRUE(modMarbrel::VariantsEqual(param->Value().get(), r.value.get())) << Utf8(r.member);
    }
    const modMarbrel::MemberDescription zoom = modMarbrel::CreateCustParameterInfo(
        lib.get(), static_cast<UINT>(TypeTarget(lib.get(), u"IShape").TypeIndex),
        MemberTarget(lib.get(), u"IShape", u"Zoom").MemberId, INVOKE_FUNC, 1);
    ole::Variant zero;
    ASSERT_OK(zoom.Parameter->get_DefaultValue(zero.put()));
    EXPECT_TRUE(modMarbrel::VariantsEqual(zero.get(), ole::Variant(int32_t{0}).get()));

    ChangeTarget beep = MemberTarget(lib.get(), u"Kernel", u"Beep");
    const std::shared_ptr<IAttributeChange> member = NewChange(ChangeKind::MemberChange);
    member->InitFromTarget(beep);
    EXPECT_EQ(member->Value().vt(), VT_I2);
    EXPECT_EQ(member->Value().get().iVal, -25536);
    BSTR dll = nullptr, name = nullptr;
    WORD ordinal = 0;
    const ComPtr<ITypeInfo> kernel = TypeNamed(lib.get(), u"Kernel");
    ASSERT_OK(kernel->GetDllEntry(beep.MemberId, INVOKE_FUNC, &dll, &name, &ordinal));
    EXPECT_EQ(ordinal, 40000);
    EXPECT_EQ(name, nullptr);
    SysFreeString(dll);
}

}  // namespace
}  // namespace changestest

// Help changes: every level with every scope end to end (each change read
// back from the edited library), what a change refuses or leaves alone, a
// failure after the regeneration, and the committed history file.
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/HelpChange.h"
#include "platform/tlbengine/TypeLibData.h"

namespace changestest {
namespace {

using Scope = int16_t;
constexpr Scope kItem = HelpChange::kScopeItem, kShared = HelpChange::kScopeShared, kLib = HelpChange::kScopeLibrary;

// Shapes with a help file and a help string DLL.
ComPtr<ITypeLib> HelpShapes() {
    ComPtr<ICreateTypeLib2> lib = BuildShapes();
    EXPECT_OK(lib->SetHelpFileName(u"shapes.chm"));
    EXPECT_OK(lib->SetHelpStringDll(u"shapes.dll"));
    return AsTypeLib(lib.get());
}

HelpData HelpOf(const ChangeTarget& target) {
    auto now = modHelpChange::NewHelpChange(false);
    ChangeTarget t = target;
    now->InitFromTarget(t);
    return now->Help();
}

struct Edit {
    const char16_t* doc = nullptr;
    const char16_t* file = nullptr;
    Scope fileScope = kItem;
    const char16_t* dll = nullptr;
    Scope dllScope = kItem;
    uint32_t context = 0;
    uint32_t stringContext = 0;
    // A library holds one help file and one help string DLL for all its
    // types and members: one given to a type alone regenerates the library
    // but is not kept.
    bool alone = false;
};

class Help : public RegenSession {
protected:
    // The editor's help pane: the current values, edited, applied with them
    // as the captured object; the target then reads back what was set.
    void Change(const std::function<ChangeTarget(ITypeLib*)>& where, const Edit& e) {
        ChangeTarget target = where(Lib());
        auto current = modHelpChange::NewHelpChange(false);
        current->InitFromTarget(target);
        auto c = std::static_pointer_cast<HelpChange>(current->Clone());
        if (e.doc) c->DocString(e.doc);
        if (e.file) c->HelpFile(e.file), c->HelpFileScope(e.fileScope);
        if (e.dll) c->HelpStringDll(e.dll), c->HelpStringDllScope(e.dllScope);
        if (e.context) c->HelpContext(e.context);
        if (e.stringContext) c->HelpStringContext(e.stringContext);
        target.UnresolvedLibrary = history.UnresolvedITypeLib();
        ASSERT_TRUE(c->Apply(view, current.get(), target, hub.get(), 0)) << Utf8(c->Describe(target));
        const HelpData now = HelpOf(where(Lib()));
        const std::string text = Utf8(c->Describe(target));
        if (e.doc) {
            EXPECT_EQ(Utf8(now.DocString), Utf8(e.doc)) << text;
        }
        if (e.file && !e.alone) {
            EXPECT_EQ(Utf8(now.HelpFile), Utf8(e.file)) << text;
        }
        if (e.dll && !e.alone) {
            EXPECT_EQ(Utf8(now.HelpStringDll), Utf8(e.dll)) << text;
        }
        if (e.context) {
            EXPECT_EQ(now.HelpContext, e.context) << text;
        }
        if (e.stringContext) {
            EXPECT_EQ(now.HelpStringContext, e.stringContext) << text;
        }
    }
};

auto Library() {
    return [](ITypeLib* lib) { return LibraryTarget(lib); };
}
auto Type(const char16_t* name) {
    return [=](ITypeLib* lib) { return TypeTarget(lib, name); };
}
auto Member(const char16_t* type, const char16_t* name, int32_t kind = INVOKE_FUNC) {
    return [=](ITypeLib* lib) { return MemberTarget(lib, type, name, kind); };
}

TEST_F(Help, EveryLevelAndScopeReplaysAlike) {
    Start(HelpShapes());
    const ComPtr<ITypeLib> first(Lib());
    // The two contexts alike: the reference dumper reports the library's
    // help string context as its help context.
    Change(Library(), {.doc = u"Edited shapes", .context = 10, .stringContext = 10});
    EXPECT_EQ(Lib(), first.get()) << "set in place";
    Change(Type(u"IShape"), {.file = u"ishape.chm", .fileScope = kItem, .alone = true});
    EXPECT_EQ(Utf8(HelpOf(TypeTarget(Lib(), u"IShape")).HelpFile), "shapes.chm");
    // Colors uses the library's help file: the library takes the new one.
    Change(Type(u"Colors"), {.file = u"colors.chm", .fileScope = kShared});
    EXPECT_EQ(Utf8(HelpOf(LibraryTarget(Lib())).HelpFile), "colors.chm");
    EXPECT_EQ(Utf8(HelpOf(MemberTarget(Lib(), u"Kernel", u"Beep")).HelpFile), "colors.chm");
    Change(Member(u"IShape", u"Area"), {.file = u"area.chm", .fileScope = kShared});
    Change(Member(u"Matrix", u"rows", 0), {.dll = u"rows.dll", .dllScope = kLib});
    EXPECT_EQ(Utf8(HelpOf(LibraryTarget(Lib())).HelpStringDll), "rows.dll");
    // The library's help string DLL, mapped alone.
    Change(Type(u"Kernel"), {.dll = u"kernel.dll", .dllScope = kShared});
    EXPECT_EQ(Utf8(HelpOf(LibraryTarget(Lib())).HelpStringDll), "kernel.dll");
    EXPECT_EQ(Utf8(HelpOf(LibraryTarget(Lib())).HelpFile), "area.chm");
    Change(Type(u"DShapeEvents"), {.dll = u"events.dll", .dllScope = kItem, .alone = true});
    Change(Type(u"Matrix"), {.dll = u"matrix.dll", .dllScope = kLib});
    Change(Library(), {.file = u"all.chm", .fileScope = kLib, .dll = u"all.dll", .dllScope = kShared});
    Change(Library(), {.file = u"lib.chm", .fileScope = kItem, .dll = u"lib.dll", .dllScope = kItem});
    Change(Library(), {.file = u"shared.chm", .fileScope = kShared, .dll = u"wide.dll", .dllScope = kLib});
    Change(Type(u"IShape"), {.doc = u"A shape", .context = 20, .stringContext = 21});
    Change(Type(u"Colors"), {.file = u"c2.chm", .fileScope = kLib, .context = 30});
    Change(Member(u"IShape", u"Zoom"), {.doc = u"Zooms", .file = u"zoom.chm", .fileScope = kLib, .context = 40});
    Change(Member(u"Colors", u"Red", 0), {.doc = u"Red", .dll = u"red.dll", .dllScope = kShared});
    if (HasFatalFailure()) return;
    // A new header keeps the library's own description and contexts.
    const HelpData library = HelpOf(LibraryTarget(Lib()));
    EXPECT_EQ(Utf8(library.DocString), "Edited shapes");
    EXPECT_EQ(library.HelpContext, 10u);
    EXPECT_EQ(library.HelpStringContext, 10u);
    ExpectReplayAlike(HelpShapes(), 15, "help-session");
}

TEST_F(Help, WhatChangesNothingDoesNothing) {
    Start(HelpShapes());
    const std::string before = Dump(Lib());
    RecordingListener heard{"l"};
    ChangeTarget target = MemberTarget(Lib(), u"IShape", u"Area");
    auto current = modHelpChange::NewHelpChange(false);
    current->InitFromTarget(target);
    auto same = std::static_pointer_cast<HelpChange>(current->Clone());
    EXPECT_FALSE(same->Apply(view, current.get(), target, &heard, 0));
    EXPECT_EQ(same->ChangeMask(), 0);
    for (bool file : {true, false}) {
        auto c = std::static_pointer_cast<HelpChange>(current->Clone());
        c->DocString(u"changed");
        if (file) c->HelpFile(u"x.chm");
        else c->HelpStringDll(u"x.dll");
        c->HelpFileScope(3);  // no such scope
        c->HelpStringDllScope(3);
        EXPECT_EQ(ErrorOf([&] { c->Apply(view, current.get(), target, &heard, 0); }), 5);
    }
    EXPECT_TRUE(heard.Heard().empty());
    EXPECT_FALSE(target.ReplacementLibrary);
    EXPECT_EQ(Dump(Lib()), before);

    // A member uses the library's help file and help string DLL: one given
    // to the member alone is refused, with the rest of the change, also
    // where a history records it.
    for (const bool file : {true, false}) {
        auto alone = std::static_pointer_cast<HelpChange>(current->Clone());
        alone->DocString(u"changed");
        if (file) alone->HelpFile(u"y.chm");
        else alone->HelpStringDll(u"y.dll");
        EXPECT_EQ(ErrorOf([&] { alone->Apply(view, current.get(), target, &heard, 0); }), 5);
        EXPECT_EQ(alone->ChangeMask(), 0);
    }
    auto recorded = modHelpChange::NewHelpChange(false);
    recorded->ChangeMask(HelpData::kDocString | HelpData::kHelpFile);
    recorded->DocString(u"replayed");
    recorded->HelpFile(u"y.chm");
    recorded->BindToLibrary(Lib(), current.get());
    EXPECT_EQ(ErrorOf([&] { recorded->Apply(view, current.get(), target, &heard, 0); }), 5);
    EXPECT_TRUE(heard.Heard().empty());
    EXPECT_EQ(Dump(Lib()), before);
    // Without the help file the rest applies.
    recorded->ChangeMask(HelpData::kDocString);
    recorded->BindToLibrary(Lib(), current.get());
    EXPECT_TRUE(recorded->Apply(view, current.get(), target, &heard, 0));
    EXPECT_EQ(Utf8(HelpOf(target).DocString + u" " + HelpOf(target).HelpFile), "replayed shapes.chm");
}

// Run again over the values in place, the items keep their edits.
TEST_F(Help, ARunOverValuesAlreadyInPlaceKeepsWhatTheItemsRecord) {
    Start(HelpShapes());
    Change(Library(), {.doc = u"Edited", .context = 10});
    Change(Member(u"IShape", u"Area"), {.doc = u"Area", .stringContext = 3});
    ASSERT_TRUE(history.SaveState(dir.path().u16string(), u"before.leh"));
    ASSERT_TRUE(history.ExecuteCommand(kCmdRestart, -1, 0) && history.ExecuteCommand(kCmdRun, -1, 0));
    ASSERT_TRUE(history.SaveState(dir.path().u16string(), u"after.leh"));
    EXPECT_EQ(FileBytes(dir / "after.leh"), FileBytes(dir / "before.leh"));
}

TEST_F(Help, AFailureLeavesTheLibraryAsItWas) {
    Start(HelpShapes());
    const ComPtr<ITypeLib> original(Lib());
    const std::string before = Dump(original.get());
    RecordingListener heard{"l"};
    for (bool regenerates : {false, true}) {
        ChangeTarget target = TypeTarget(original.get(), u"IShape");
        auto current = modHelpChange::NewHelpChange(false);
        current->InitFromTarget(target);
        auto c = std::static_pointer_cast<HelpChange>(current->Clone());
        c->HelpContext(7);
        c->DocString(u"fails");
        if (regenerates) c->HelpFile(u"new.chm");
        ole::testing::FailNextCall("ICreateTypeInfo2::SetDocString", E_OUTOFMEMORY);
        EXPECT_EQ(ErrorOf([&] { c->Apply(view, current.get(), target, &heard, 0); }), E_OUTOFMEMORY);
        EXPECT_FALSE(target.ReplacementLibrary);
        EXPECT_EQ(view.ReadView().get(), original.As<ITypeLib2>().get());
        EXPECT_EQ(Dump(original.get()), before);
    }
    EXPECT_TRUE(heard.Heard().empty());
    ole::testing::ClearInjectedFailures();
}

TEST(HelpChangeText, NamesTheChangedFieldsInOrder) {
    const ComPtr<ITypeLib> lib = HelpShapes();
    auto c = modHelpChange::NewHelpChange(false);
    c->ChangeMask(HelpData::kHelpFile | HelpData::kDocString | HelpData::kHelpStringContext);
    ChangeTarget target = LibraryTarget(lib.get());
    EXPECT_EQ(Utf8(c->Describe(target)), "Change help settings for library (Description, Help File, String Context)");
}

TEST(HelpChangeGolden, ALibraryHelpFileAndDescription) {
    const ComPtr<ITypeLib> lib = HelpShapes();
    auto c = modHelpChange::NewHelpChange(false);
    c->ChangeMask(HelpData::kHelpFile | HelpData::kDocString);
    c->DocString(u"Described");
    c->HelpFile(u"new.chm");
    c->HelpFileScope(HelpChange::kScopeShared);
    c->HelpContext(12);
    ExpectGolden("help.leh", ChangeKind::HelpChange, lib.get(), LibraryTarget(lib.get()), c);
}

}  // namespace
}  // namespace changestest

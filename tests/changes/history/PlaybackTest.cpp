// The history engine's list: recording, the commands that move through it,
// and saving and loading it.
#include <sys/stat.h>

#include "changes/ChangesTestSupport.h"

namespace changestest {
namespace {

using Texts = std::vector<std::string>;

TEST_F(HistoryTest, RecordsAtTheEndAndBeforeTheCurrentItem) {
    Record(3);
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "c1: library", "c2: library", "*<end>"}));
    EXPECT_TRUE(Execute(kCmdSetNextStatement, 1));
    Apply(ChangeKind::LibChange, "new", LibTarget());
    // The new item is the last one applied; the selection stays on c1.
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "new: library", "*c1: library", "c2: library", "<end>"}));
    EXPECT_EQ(list.selected, 2);
    EXPECT_EQ(engine.ItemCount(), 4);
}

TEST_F(HistoryTest, RecordedItemsKeepTheKindAndTheNamesOfTheirTargets) {
    for (ChangeKind kind : kAllChangeKinds) {
        ChangeTarget t = ParamTarget(lib.get(), u"IShape", u"Area", 1, kParamLcid);
        if (IsStatelessKind(kind)) {
            auto change = std::make_shared<FakeStateless>(kind);
            change->Apply(view, nullptr, t, hub.get(), 0);
        } else {
            Apply(kind, "k", t);
        }
    }
    ASSERT_TRUE(engine.SaveState(ole::FromUtf8(::testing::TempDir()), u"kinds.leh"));
    ASSERT_EQ(files->last.size(), kAllChangeKinds.size());
    auto node = files->last.begin();
    for (ChangeKind kind : kAllChangeKinds) EXPECT_EQ((node++)->KindCode(), Code(kind));
    // The names the view left out come from the library (a deleted target's can't).
    const ChangeNode& area = files->last.front();
    EXPECT_EQ(area.TargetKind(), kTargetParam);
    EXPECT_EQ(area.SpecialParam(), kParamLcid);
    EXPECT_EQ(area.TypeKind, TKIND_INTERFACE);  // a dual shows as an interface
    EXPECT_EQ(area.IndexByte, INVOKE_FUNC);
    EXPECT_EQ(Utf8(area.MemberName + u"(" + area.ParamName + u")"), "Area(lcid)");
    EXPECT_EQ(Utf8(area.Text), "k: LCID parameter of IShape.Area");
    const ChangeNode& deleted = *std::next(files->last.begin(), 5);
    EXPECT_TRUE(deleted.ParamName.empty());
}

TEST_F(HistoryTest, EnabledCommandsForEveryPosition) {
    Record(3);
    // Lines 0-2 are items, line 3 the end line. For the current item at
    // position 0, 1 and at the end: the commands of each line.
    const std::map<int, std::vector<int32_t>> expected = {
        {0, {339, 95, 95, 15}},
        {1, {155, 467, 223, 143}},
        {3, {152, 152, 152, 128}},
    };
    for (const auto& [position, masks] : expected) {
        Execute(kCmdSetNextStatement, position);
        for (int line = 0; line < 4; ++line)
            EXPECT_EQ(engine.EnabledCommands(line, Line(line)), masks[line]) << position << "/" << line;
    }
    // A breakpoint adds Clear Breakpoints everywhere; the end line takes none.
    Execute(kCmdToggleBreakpoint, 3);
    EXPECT_EQ(engine.EnabledCommands(3, kEndItem), 128);
    Execute(kCmdToggleBreakpoint, 2);
    EXPECT_EQ(list.lastMask, 152 | kCmdClearBreakpoints);  // the window re-read the commands
    EXPECT_EQ(engine.EnabledCommands(3, kEndItem), 128 | kCmdClearBreakpoints);
    EXPECT_EQ(engine.Glyph(Line(2)), kGlyphBreakpoint);
    Execute(kCmdClearBreakpoints);
    EXPECT_EQ(engine.EnabledCommands(3, kEndItem), 128);

    engine.ClearState();
    EXPECT_EQ(engine.EnabledCommands(0, kEndItem), 0);
    EXPECT_FALSE(Execute(kCmdStep));
    EXPECT_EQ(list.Texts(), (Texts{"*<end>"}));
}

TEST_F(HistoryTest, RunStepRunToCursorAndBreakpoints) {
    Record(5);
    RecordingListener view2("V");
    SMNode viewNode;
    hub->AddListenerNode(viewNode, view2);
    Execute(kCmdRestart);
    Execute(kCmdToggleBreakpoint, 2);
    log->calls.clear();

    EXPECT_TRUE(Execute(kCmdRun));  // stops before the breakpoint
    EXPECT_TRUE(Execute(kCmdStep));
    EXPECT_TRUE(Execute(kCmdRunToCursor, 4));
    EXPECT_FALSE(Execute(kCmdRunToCursor, 1));  // behind the position: refused
    EXPECT_TRUE(Execute(kCmdStep));
    EXPECT_FALSE(Execute(kCmdStep));  // nothing left

    Texts applied;
    for (const std::string& call : log->calls)
        if (call.find(".apply") != std::string::npos) applied.push_back(call);
    EXPECT_EQ(applied, (Texts{"c0.apply0", "c1.apply1", "c2.apply2", "c3.apply1", "c4.apply2"}));
    // A run or run to cursor ends with the views refilling their selection:
    // its items below level 2 left their panes alone. A step needs none.
    EXPECT_EQ(view2.Heard(), (Texts{"V:OnLibraryChange", "V:OnLibraryChange flags=1", "V:Refresh",
                                    "V:OnLibraryChange flags=2", "V:OnLibraryChange flags=1", "V:Refresh",
                                    "V:OnLibraryChange flags=2"}));
    EXPECT_EQ(engine.ItemCount(), 5);  // the replay was not recorded again
    EXPECT_EQ(list.Texts().back(), "*<end>");
    EXPECT_EQ(list.selected, 5);
}

TEST_F(HistoryTest, DeleteMovesThePositionToTheNextItemAndRestartGoesBackToTheFirst) {
    Record(3);
    Execute(kCmdSetNextStatement, 1);
    Execute(kCmdToggleBreakpoint, 2);
    Execute(kCmdDelete, 1);
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "*c2: library", "<end>"}));
    Execute(kCmdDelete, 1);  // the last item, with the only breakpoint
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "*<end>"}));
    EXPECT_EQ(engine.EnabledCommands(1, kEndItem) & kCmdClearBreakpoints, 0);
    Execute(kCmdRestart);
    EXPECT_EQ(list.Texts(), (Texts{"*c0: library", "<end>"}));
    EXPECT_EQ(list.events, (Texts{"Delete", "Delete", "Restart"}));
    EXPECT_EQ(ErrorOf([&] { engine.ExecuteCommand(kCmdDelete, 0, 12345); }), kErrInvalidArgument);
}

class HistoryFileTest : public HistoryTest {
protected:
    std::u16string Folder() const { return ole::FromUtf8(dir.path().string()); }
    std::string Contents(const char* name) {
        std::ifstream in(dir / name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t FilesInFolder() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    }
    TempDir dir;
};

TEST_F(HistoryFileTest, SavedHistoryLoadsBackAtItsFirstItemWithoutBreakpoints) {
    EXPECT_FALSE(engine.SaveState(Folder(), u"h.leh"));  // nothing to save
    EXPECT_EQ(FilesInFolder(), 0u);
    Record(2);
    Execute(kCmdToggleBreakpoint, 1);
    ASSERT_TRUE(engine.SaveState(Folder(), u"h.leh"));
    Record(1);
    engine.LoadState(Folder(), u"h.leh");
    EXPECT_EQ(list.Texts(), (Texts{"*c0: library", "c1: library", "<end>"}));
    EXPECT_EQ(engine.EnabledCommands(2, kEndItem) & kCmdClearBreakpoints, 0);
    // The loaded changes replay.
    log->calls.clear();
    Execute(kCmdRun);
    EXPECT_EQ(log->Joined(), "c0.bind c0.apply0 c0.detach c1.bind c1.apply0 c1.detach");
}

TEST_F(HistoryFileTest, AFailedSaveLeavesTheOldFileAsItWas) {
    Record(1);
    ASSERT_TRUE(engine.SaveState(Folder(), u"h.leh"));
    const std::string before = Contents("h.leh");
    files->failWrite = true;
    EXPECT_EQ(ErrorOf([&] { engine.SaveState(Folder(), u"h.leh"); }), kErrPathFileAccess);
    EXPECT_EQ(Contents("h.leh"), before);
    EXPECT_EQ(FilesInFolder(), 1u);  // no temporary file left behind

    files->failWrite = false;
    ASSERT_EQ(::chmod((dir / "h.leh").c_str(), 0444), 0);
    EXPECT_EQ(ErrorOf([&] { engine.SaveState(Folder(), u"h.leh"); }), kErrPathFileAccess);
    EXPECT_EQ(Contents("h.leh"), before);
}

TEST_F(HistoryFileTest, ASaveKeepsTheAccessRightsOfTheFileAndWritesThroughALink) {
    Record(1);
    std::ofstream(dir / "private.leh") << "old";
    ASSERT_EQ(::chmod((dir / "private.leh").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "private.leh", dir / "link.leh");
    ASSERT_TRUE(engine.SaveState(Folder(), u"link.leh"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.leh"));
    EXPECT_EQ(Contents("private.leh"), "history-1");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "private.leh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The history's name, pointed at another file since, leads to a file this
// history never read: that file is not overwritten.
TEST_F(HistoryFileTest, ASaveThroughALinkPointedElsewhereSinceOverwritesNothing) {
    Record(1);
    std::ofstream(dir / "mine.leh") << "old";
    std::filesystem::create_symlink(dir / "mine.leh", dir / "link.leh");
    ASSERT_TRUE(engine.SaveState(Folder(), u"link.leh"));
    std::ofstream(dir / "theirs.leh") << "theirs";
    std::filesystem::remove(dir / "link.leh");
    std::filesystem::create_symlink(dir / "theirs.leh", dir / "link.leh");
    EXPECT_TRUE(engine.FileChanged(Folder(), u"link.leh"));
    EXPECT_EQ(ErrorOf([&] { engine.SaveState(Folder(), u"link.leh"); }), kErrPathFileAccess);
    EXPECT_EQ(Contents("theirs.leh"), "theirs");
    EXPECT_EQ(Contents("mine.leh"), "history-1");
}

TEST_F(HistoryFileTest, AFileThatCannotBeReadLeavesTheHistoryAndItsCacheAsTheyWere) {
    Record(2);
    IHistoryReferenceCache* cache = log->detachCaches.back();
    std::ofstream(dir / "bad.leh") << "garbage";
    const ErrorRecord error = RecordOf([&] { engine.LoadState(Folder(), u"bad.leh"); });
    EXPECT_EQ(error.Number, kErrInvalidArgument);
    EXPECT_EQ(Utf8(error.Description), "Library Edit History file has unrecognized format.");
    EXPECT_EQ(list.Texts(), (Texts{"c0: library", "c1: library", "*<end>"}));
    Record(1);
    EXPECT_EQ(log->detachCaches.back(), cache);
}

TEST_F(HistoryTest, TheUnresolvedTypesLibraryMustCarryItsMarker) {
    const ErrorRecord error = RecordOf([&] { engine.UnresolvedITypeLib(lib.get()); });
    EXPECT_EQ(error.Number, kErrInvalidArgument);
    EXPECT_EQ(error.Description, modSupport::LoadResStringById(814));
    ComPtr<ICreateTypeLib2> companion = NewLibrary(u"MISSING");
    modITypeInfoHelper::MarkUnresolvedTypesLib(companion.get());
    engine.UnresolvedITypeLib(AsTypeLib(companion.get()).get());
    EXPECT_TRUE(engine.UnresolvedITypeLib());
    engine.UnresolvedITypeLib(nullptr);  // every import resolved
    EXPECT_FALSE(engine.UnresolvedITypeLib());
}

}  // namespace
}  // namespace changestest

// The change kinds that regenerate the library, end to end: a session applies
// changes as the editor view does (through the hub, so the history engine
// records them and follows each replacement library), saves the history,
// loads it and runs it on a fresh copy of the starting library. Both edited
// libraries are written to files whose dumps must match. Also the committed
// history file of one change, checked byte for byte.
#pragma once

#include <cstdlib>
#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/TempDir.h"

namespace changestest {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

inline fs::path HistoryData() { return fs::path(ZEPHRIN_TEST_DATA_DIR) / "history"; }

inline Bytes FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Lays the library out, writes it to file and returns our dump of the file.
inline std::string SaveAndDump(ITypeLib* lib, const fs::path& file) {
    ole::RegisterFileServices();
    std::shared_ptr<const LibraryData> data;
    EXPECT_OK(GetLibraryData(lib, true, &data));
    EXPECT_OK(WriteMsftTypeLib(*data, ole::FromUtf8(file.string())));
    std::string dump;
    EXPECT_OK(tlbtools::DumpTypeLibFile(ole::FromUtf8(file.string()), &dump));
    return dump;
}

// The history of change notified on target is the committed file, and the
// file loads and saves to the same bytes.
inline void ExpectGolden(const char* file, ChangeKind kind, ITypeLib* lib, ChangeTarget target,
                         const ChangePtr& change) {
    TempDir dir;
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    auto hub = std::make_shared<ChangeListener>();
    Playback history;
    history.ChangeListener(hub);
    history.CurrentITypeLib(lib);
    NotifyListener(*hub, kind, target, *change, 0);
    ASSERT_TRUE(history.SaveState(folder, u"h.leh"));
    const fs::path golden = HistoryData() / file;
    if (std::getenv("ZEPHRIN_UPDATE_GOLDENS"))
        fs::copy_file(dir.path() / "h.leh", golden, fs::copy_options::overwrite_existing);
    EXPECT_EQ(FileBytes(dir.path() / "h.leh"), FileBytes(golden)) << file;
    Playback loaded;
    loaded.LoadState(ole::FromUtf8(HistoryData().string()), ole::FromUtf8(file));
    ASSERT_TRUE(loaded.SaveState(folder, u"again.leh"));
    EXPECT_EQ(FileBytes(dir.path() / "again.leh"), FileBytes(golden)) << file;
}

class RegenSession : public ::testing::Test {
protected:
    void Start(ComPtr<ITypeLib> starting) {
        lib = std::move(starting);
        history.ChangeListener(hub);
        history.CurrentITypeLib(lib.get());
        view.Attach(lib.get());
    }
    // The library being edited (a regenerating change replaces it).
    ITypeLib* Lib() { return history.CurrentITypeLib().get(); }

    // Applies a change as the editor view does, with the history's companion.
    void Do(const ChangePtr& change, ChangeTarget target) {
        target.UnresolvedLibrary = history.UnresolvedITypeLib();
        const std::string text = Utf8(change->Describe(target));
        try {
            ASSERT_TRUE(change->Apply(view, nullptr, target, hub.get(), 0)) << text;
        } catch (const ErrorRecord& e) {
            FAIL() << text << ": " << e.what();
        }
    }

    // Saves the history, runs it on fresh (a copy of the starting library),
    // and expects both results and both histories alike.
    // With reference, the edited library must also read as the committed
    // dump made with the reference dumper (from reference.tlb, written when
    // goldens are updated).
    void ExpectReplayAlike(const ComPtr<ITypeLib>& fresh, size_t items, const char* reference = nullptr) {
        ASSERT_EQ(static_cast<size_t>(history.ItemCount()), items);
        const std::u16string folder = ole::FromUtf8(dir.path().string());
        ASSERT_TRUE(history.SaveState(folder, u"session.leh"));
        const std::string edited = SaveAndDump(Lib(), dir / "edited.tlb");
        Playback replay;
        replay.LoadState(folder, u"session.leh");
        replay.AttachITypeLib(fresh.get());
        EXPECT_TRUE(replay.ExecuteCommand(kCmdRun, -1, 0));
        EXPECT_EQ(SaveAndDump(replay.CurrentITypeLib().get(), dir / "replayed.tlb"), edited);
        ASSERT_TRUE(replay.SaveState(folder, u"again.leh"));
        EXPECT_EQ(FileBytes(dir / "again.leh"), FileBytes(dir / "session.leh"));
        replayed = replay.CurrentITypeLib();
        if (!reference) return;
        const fs::path dump = HistoryData() / (std::string(reference) + ".dump");
        if (std::getenv("ZEPHRIN_UPDATE_GOLDENS")) {
            fs::copy_file(dir / "edited.tlb", dump.parent_path() / (std::string(reference) + ".tlb"),
                          fs::copy_options::overwrite_existing);
            GTEST_SKIP() << "wrote " << reference << ".tlb; make its dump with the reference dumper";
        }
        const Bytes expected = FileBytes(dump);
        EXPECT_EQ(tlbtools::WithCrLf(edited), std::string(expected.begin(), expected.end()));
    }

    TempDir dir;
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeLib> replayed;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    CustomTypeLib view;
    Playback history;
};

}  // namespace changestest

// Replaying added types on the large library (1200 interfaces): a history of
// 300 adds (interfaces, dispinterfaces and coclasses in turn), recorded as the
// editor records them, with the GUID each type was given right after its add.
// Measured: a run of that history (each add gives its type the recorded GUID
// at once), the same history stepped item by item (each GUID item applied as a
// type change of its own), and a run of the history without the GUID items,
// as made elsewhere (each add mints a GUID). The three should cost about the
// same: a GUID item never regenerates the library.
#include <benchmark/benchmark.h>

#include <fstream>
#include <list>
#include <memory>
#include <span>
#include <string>

#include "LargeRecording.h"
#include "changes/history/Playback.h"
#include "changes/history/modRecorder.h"
#include "changes/hub/VTICache.h"
#include "changes/kinds/AddTypeChange.h"

namespace {

using namespace benchlib;
namespace fs = std::filesystem;

constexpr int kAdds = 300;

fs::path Dir() { return Folder("zephrin-bench-addtype"); }

// The large library loaded, and the two histories written beside it.
ITypeLib* Inputs() {
    static ComPtr<ITypeLib> loaded;
    if (loaded) return loaded.get();
    LargeRecording session(Dir() / "large.tlb");
    loaded = session.loaded;
    for (int i = 0; i < kAdds; ++i) {
        auto add = zephrin::modAddTypeChange::NewAddTypeChange(false);
        add->TypeKind(TKIND_INTERFACE + i % 3);
        zephrin::ChangeTarget target;
        target.Kind = zephrin::kTargetLibrary;
        target.Library = session.live;
        add->Apply(session.view, nullptr, target, session.hub.get(), 0);
    }
    if (session.recorder.ItemCount() != 2 * kAdds) throw std::runtime_error("the history was not recorded");
    session.recorder.SaveState(U16(Dir().string()), u"adds.leh");
    // Without the GUID items.
    std::ifstream in(Dir() / "adds.leh", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    zephrin::VTICache cache;
    std::list<zephrin::ChangeNode> items =
        zephrin::modRecorder::ReadEditHistory(std::as_bytes(std::span(bytes)), cache, Dir());
    items.remove_if([](const zephrin::ChangeNode& item) {
        return item.KindCode() != zephrin::Code(zephrin::ChangeKind::AddTypeChange);
    });
    const std::vector<std::byte> out = zephrin::modRecorder::WriteEditHistory(items, cache, Dir());
    std::ofstream(Dir() / "elsewhere.leh", std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return loaded.get();
}

// Arg 0: run the recorded history; 1: step through it; 2: run the one made elsewhere.
void BM_ReplayAddedTypes(benchmark::State& state) {
    ITypeLib* loaded = Inputs();
    const int how = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        const ComPtr<ITypeLib> fresh = EditableCopy(loaded);
        auto replay = std::make_unique<zephrin::Playback>();
        replay->LoadState(U16(Dir().string()), how == 2 ? u"elsewhere.leh" : u"adds.leh");
        replay->AttachITypeLib(fresh.get());
        state.ResumeTiming();
        if (how == 1) {
            while (replay->ExecuteCommand(zephrin::kCmdStep, -1, 0)) {
            }
        } else if (!replay->ExecuteCommand(zephrin::kCmdRun, -1, 0)) {
            state.SkipWithError("the run was cancelled");
        }
        state.PauseTiming();
        if (fresh->GetTypeInfoCount() != loaded->GetTypeInfoCount() + kAdds)
            state.SkipWithError("the types were not added");
        replay.reset();
        state.ResumeTiming();
    }
    state.counters["adds"] = kAdds;
}
BENCHMARK(BM_ReplayAddedTypes)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

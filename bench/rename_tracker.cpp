// The type rename tracker fed 20,000 type renames through the hub, as a long
// history replay of renames does: each rename looks the type's name up among
// the records kept so far, so the time per rename should not grow with the
// number of renamed types.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "changes/hub/ChangeListener.h"
#include "changes/kinds/RenameChange.h"
#include "changes/trackers/TypeRenameTracker.h"

using namespace zephrin;

namespace {

constexpr int kTypes = 20000;

std::u16string Name(const char16_t* stem, int i) {
    std::u16string name = stem;
    for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
    return name;
}

void BM_RenameManyTypes(benchmark::State& state) {
    for (auto _ : state) {
        auto hub = std::make_shared<ChangeListener>();
        TypeRenameTracker tracker;
        tracker.ChangeListener(hub);
        // Every type renamed twice: A to B, then B to C.
        for (const char16_t* from : {u"Interface", u"Renamed"}) {
            for (int i = 0; i < kTypes; ++i) {
                ChangeTarget target;
                target.Kind = kTargetType;
                target.TypeKind = 3;
                target.TypeName = Name(from, i);
                auto rename = modRenameChange::NewRenameChange(false);
                rename->NewName(Name(from[0] == u'I' ? u"Renamed" : u"Final", i));
                hub->OnRenameChange(target, *rename, 0, 0);
            }
        }
        benchmark::DoNotOptimize(tracker.FirstChange());
    }
    state.counters["renames"] = 2 * kTypes;
}
BENCHMARK(BM_RenameManyTypes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

// Adding members to one interface one change at a time, as the editor's "add
// method" command does: each AddMemberChange makes up the next free name
// (Method1, Method2, ... counted from 1 every time), probes the layout, adds
// the function, lays the type out and is recorded by the history engine
// through the hub. 2,000 additions to one interface; reported: the total, the
// time of the last addition, and the mean time of the 50 additions up to the
// 1,000th and up to the 2,000th (the work of one step should grow at most
// linearly with the type's size, so the second mean should be about twice the
// first).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "changes/kinds/AddMemberChange.h"
#include "changes/hub/ChangeListener.h"
#include "changes/history/Playback.h"
#include "typelib/CustomTypeLib.h"

using namespace ole;
using namespace zephrin;

namespace {

constexpr int kAdditions = 2000;

void BM_AddMembersOneAtATime(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        CustomTypeLib view;
        view.LibName(u"Bench");
        auto type = view.AddCustomTypeInfo(u"IBench", TKIND_INTERFACE, u"{00000000-0000-0000-0000-000000000000}");
        type->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
        type->LayOut();
        ComPtr<ITypeLib> lib(view.ReadView());
        auto hub = std::make_shared<ChangeListener>();
        Playback history;
        history.ChangeListener(hub);
        history.CurrentITypeLib(lib.get());

        ChangeTarget target;
        target.Kind = kTargetType;
        target.Library = lib;
        target.TypeIndex = 0;
        target.TypeName = u"IBench";
        target.TypeKind = TKIND_INTERFACE;
        constexpr int kWindow = 50;
        double middle = 0, end = 0, last = 0;
        const auto start = Clock::now();
        for (int i = 1; i <= kAdditions; ++i) {
            const auto before = Clock::now();
            auto add = modAddMemberChange::NewAddMemberChange(false);
            add->InvokeKind(INVOKE_FUNC);
            ChangeTarget t = target;
            add->Apply(view, nullptr, t, hub.get(), 0);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
            if (i > kAdditions / 2 - kWindow && i <= kAdditions / 2) middle += ms / kWindow;
            if (i > kAdditions - kWindow) end += ms / kWindow;
            if (i == kAdditions) last = ms;
        }
        const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (history.ItemCount() != kAdditions) state.SkipWithError("not every addition was recorded");
        state.counters["total_ms"] = total;
        state.counters["last_ms"] = last;
        state.counters["mean_ms_near_1000"] = middle;
        state.counters["mean_ms_near_2000"] = end;
    }
}
BENCHMARK(BM_AddMembersOneAtATime)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

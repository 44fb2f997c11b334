// Recording and replaying a long edit history. Each change names a method of
// an interface; recording passes it through the hub to the history engine
// (describe, copy, append), and a run finds every target again by name (type,
// then member) and applies the change. Measured with 10,000, 30,000 and
// 100,000 changes: both should cost linear time in the number of changes.
// Saving a history whose every other item was deleted writes only the
// reference entries the rest use; it too should be linear.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "changes/hub/ChangeListener.h"
#include "changes/history/IHistoryFile.h"
#include "changes/history/Playback.h"
#include "changes/history/modRecorder.h"
#include "changes/hub/TargetText.h"
#include "changes/hub/VTICache.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/kinds/MemberChange.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

using namespace ole;
using namespace zephrin;

namespace {

constexpr int kMethods = 100;

std::u16string Name(int i) {
    const std::string s = "Method" + std::to_string(i);
    return std::u16string(s.begin(), s.end());
}

// An interface with kMethods methods.
void Build(CustomTypeLib& lib) {
    lib.LibName(u"Bench");
    auto t = lib.AddCustomTypeInfo(u"IBench", TKIND_INTERFACE, u"{00000000-0000-0000-0000-000000000000}");
    t->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    auto ret = CustomVarTypeInfo::New();
    ret->SetType(VT_HRESULT, nullptr);
    for (int i = 0; i < kMethods; ++i) t->AddFunctionEx(Name(i), ret->GetVarTypeInfo().get(), {}, FuncData{});
    t->LayOut();
}

// A member change that edits nothing: what is measured is the engine.
class MemberEdit : public IChange {
public:
    bool Apply(CustomTypeLib&, IChange*, ChangeTarget& target, IChangeListener* listener, int32_t flags) override {
        if (listener) listener->OnMemberChange(target, *this, flags, 0);
        return true;
    }
    std::u16string Describe(ChangeTarget& target) override { return modRecorder::DescribeTarget(target); }
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override { return std::make_shared<MemberEdit>(); }
    bool Differs(IChange&) override { return true; }
    void Save(HistoryFileWriter&, int32_t) override {}
    void Load(HistoryFileReader&, int32_t, IHistoryReferenceCache&) override {}
    void BindToLibrary(ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}
};

class NoCache : public IHistoryReferenceCache {
public:
    std::shared_ptr<ICachedVarType> AddVarType(tli::VarTypeInfo*) override { return nullptr; }
    bool Holds(const ICachedVarType* entry) const override { return entry != nullptr; }
    std::shared_ptr<ICachedVarType> GetVarType(int32_t) override { return nullptr; }
};

class NoFile : public IHistoryFile {
public:
    std::shared_ptr<IHistoryReferenceCache> NewCache() override { return std::make_shared<NoCache>(); }
    std::vector<std::byte> EditHistoryBytes(const std::filesystem::path&, const std::list<ChangeNode>&,
                                            IHistoryReferenceCache&) override {
        return {};
    }
    std::list<ChangeNode> ReadEditHistory(const std::filesystem::path&, IHistoryReferenceCache&) override { return {}; }
};

// A library, a hub and a history engine attached to both.
struct Session {
    Session() {
        Build(lib);
        library = lib.GenerateDirect(false);
        engine.ChangeListener(hub);
        engine.CurrentITypeLib(library.get());
        ComPtr<ITypeInfo> type;
        library->GetTypeInfo(0, type.put());
        for (int i = 0; i < kMethods; ++i) {
            ChangeTarget& t = targets.emplace_back();
            t.Kind = kTargetMember;
            t.Library = library;
            t.TypeName = u"IBench";
            t.TypeKind = NodeTypeKind(type.get());
            t.MemberName = Name(i);
            t.MemberId = modITypeInfoHelper::MemberIDFromName(type.get(), t.MemberName);
            t.InvokeKind = INVOKE_FUNC;
        }
    }
    // n edits in the view, each recorded by the engine.
    void Record(int n) {
        for (int i = 0; i < n; ++i) {
            auto change = std::make_shared<MemberEdit>();
            ChangeTarget target = targets[static_cast<size_t>(i % kMethods)];
            change->Apply(lib, nullptr, target, hub.get(), 0);
        }
    }

    CustomTypeLib lib;
    ComPtr<ITypeLib> library;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    Playback engine{std::make_shared<NoFile>()};
    std::vector<ChangeTarget> targets;
};

void BM_RecordHistory(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<Session>();
        state.ResumeTiming();
        session->Record(n);
        state.PauseTiming();
        session.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
    state.counters["ns_per_change"] = benchmark::Counter(static_cast<double>(state.iterations()) * n,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RecordHistory)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_RunHistory(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Session session;
    session.Record(n);
    for (auto _ : state) {
        session.engine.ExecuteCommand(kCmdRestart, -1, 0);
        if (!session.engine.ExecuteCommand(kCmdRun, -1, 0)) state.SkipWithError("run cancelled");
    }
    state.SetComplexityN(n);
    state.counters["ns_per_change"] = benchmark::Counter(static_cast<double>(state.iterations()) * n,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RunHistory)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// n member changes that each give a method the interface's own type, kept
// as a history keeps them; then every other item is deleted.
std::list<ChangeNode> TypedHistory(Session& session, VTICache& cache, int n) {
    ComPtr<ITypeInfo> type;
    session.library->GetTypeInfo(0, type.put());
    auto bench = CustomVarTypeInfo::New();
    bench->CurrentITypeLib(session.library.get());
    bench->SetType(0, typelib_detail::TliTypeInfo(type.get()).get());
    bench->PointerLevel(1);
    std::list<ChangeNode> items;
    for (int i = 0; i < n; ++i) {
        const std::shared_ptr<IAttributeChange> change = modMemberChange::NewMemberChange(true);
        change->VarTypeInfo(bench.get());
        change->DetachFromLibrary(cache);
        ChangeNode& node = items.emplace_back();
        node.Flags = (kTargetMember << ChangeNode::kTargetKindShift) | Code(ChangeKind::MemberChange);
        node.TypeName = u"IBench";
        node.MemberName = Name(i % kMethods);
        node.Change = change;
    }
    for (auto it = items.begin(); it != items.end(); ++it) it = items.erase(it);
    return items;
}

void BM_SaveHistoryAfterDeletes(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Session session;
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = std::make_unique<VTICache>();
        std::list<ChangeNode> items = TypedHistory(session, *cache, n);
        state.ResumeTiming();
        benchmark::DoNotOptimize(modRecorder::WriteEditHistory(items, *cache, "/tmp"));
        state.PauseTiming();
        if (cache->VarTypeCount() != items.size()) state.SkipWithError("unused entries were saved");
        items.clear();
        cache.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_SaveHistoryAfterDeletes)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

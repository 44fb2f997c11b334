// Regeneration of a large library beside tlbcopy's copy of the same library,
// in the same run. Both re-create the loaded file through the creation
// interfaces, lay it out and save it; regeneration reads through the TypeLib
// Information objects and maps every reference, so it does more work, but it
// must stay within 3 times the copy's time. Three sizes (600, 1200 and 2400
// interfaces: about 1.1, 2.2 and 4.5 MB) show how each grows; Reordered
// regenerates with the types in reverse order, so every reference is found by
// name in the final list; InMemory regenerates an in-memory copy of the
// library, whose interfaces are editable and take fresh vtable offsets;
// HalfRemoved removes every second interface first, and must grow linearly
// with the number removed. Each reports the file's MB per second.
#include <benchmark/benchmark.h>

#include <map>

#include "LargeLibrary.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "regen/TLBModifier.h"
#include "typelib/TypeLibSupport.h"
#include "tools/CopyTypeLib.h"

namespace {

using namespace benchlib;

struct Sized {
    uintmax_t bytes = 0;
    ComPtr<ITypeLib> loaded;
    ComPtr<ITypeLib> inMemory;
};

std::filesystem::path Dir() { return Folder("zephrin-bench-regen"); }

Sized& Library(int interfaces) {
    static std::map<int, Sized> libraries;
    Sized& s = libraries[interfaces];
    if (!s.loaded) {
        RegisterFileServices();
        const auto path = Dir() / ("large" + std::to_string(interfaces) + ".tlb");
        BuildLarge(U16(path.string()), interfaces);
        s.bytes = std::filesystem::file_size(path);
        Require(LoadTypeLibEx(U16(path.string()).c_str(), REGKIND_NONE, s.loaded.put()), "LoadTypeLibEx");
        zephrin::TLBModifier copy;
        copy.StartingLibDirect(s.loaded.get());
        s.inMemory = copy.GenerateDirect(u"");
    }
    return s;
}

void Report(benchmark::State& state, const Sized& s) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
    state.counters["file_MB"] = static_cast<double>(s.bytes) / 1e6;
}

void Copy(benchmark::State& state) {
    Sized& s = Library(static_cast<int>(state.range(0)));
    const std::u16string out = U16((Dir() / "copy.tlb").string());
    for (auto _ : state) {
        ComPtr<ICreateTypeLib2> dst;
        Require(CreateTypeLib2(SYS_WIN32, out.c_str(), dst.put()), "CreateTypeLib2");
        Require(tlbtools::CopyTypeLib(s.loaded.get(), dst.get()), "CopyTypeLib");
        Require(dst->SaveAllChanges(), "SaveAllChanges");
    }
    Report(state, s);
}

void Regenerate(benchmark::State& state) {
    Sized& s = Library(static_cast<int>(state.range(0)));
    const std::u16string out = U16((Dir() / "regen.tlb").string());
    for (auto _ : state) {
        zephrin::TLBModifier modifier;
        modifier.StartingLibDirect(s.loaded.get());
        modifier.GenerateDirect(out);
    }
    Report(state, s);
}

void Reordered(benchmark::State& state) {
    Sized& s = Library(static_cast<int>(state.range(0)));
    const std::u16string out = U16((Dir() / "reordered.tlb").string());
    std::vector<int32_t> order(s.loaded->GetTypeInfoCount());
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(order.size() - 1 - k);
    for (auto _ : state) {
        zephrin::TLBModifier modifier;
        modifier.StartingLibDirect(s.loaded.get());
        modifier.ReorderStartingTypes(order);
        modifier.GenerateDirect(out);
    }
    Report(state, s);
}

void InMemory(benchmark::State& state) {
    Sized& s = Library(static_cast<int>(state.range(0)));
    const std::u16string out = U16((Dir() / "inmemory.tlb").string());
    for (auto _ : state) {
        zephrin::TLBModifier modifier;
        modifier.StartingLibDirect(s.inMemory.get());
        modifier.GenerateDirect(out);
    }
    Report(state, s);
}

void HalfRemoved(benchmark::State& state) {
    Sized& s = Library(static_cast<int>(state.range(0)));
    const std::u16string out = U16((Dir() / "removed.tlb").string());
    std::vector<ComPtr<tli::TypeInfo>> removed;
    for (UINT i = 1; i < s.loaded->GetTypeInfoCount(); i += 2) {
        ComPtr<ITypeInfo> ti;
        Require(s.loaded->GetTypeInfo(i, ti.put()), "GetTypeInfo");
        removed.push_back(zephrin::typelib_detail::TliTypeInfo(ti.get()));
    }
    for (auto _ : state) {
        zephrin::TLBModifier modifier;
        modifier.StartingLibDirect(s.loaded.get());
        for (const ComPtr<tli::TypeInfo>& type : removed) modifier.RedirectType(type.get(), nullptr, true);
        modifier.GenerateDirect(out);
    }
    Report(state, s);
}

BENCHMARK(Copy)->Arg(600)->Arg(1200)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Regenerate)->Arg(600)->Arg(1200)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Reordered)->Arg(600)->Arg(1200)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(InMemory)->Arg(600)->Arg(1200)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(HalfRemoved)->Arg(600)->Arg(1200)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

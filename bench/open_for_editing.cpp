// Opening a large library for editing against the engine's load and walk of
// the same file, in the same run. Two generated libraries: the 3 MB library of
// the tree and view benchmarks ("Large") and one of many small records,
// enumerations and aliases ("SmallTypes").
//   LoadWalk      load, walk everything as bench_reference_walk does, release
//   OpenForEditing load and regenerate into an editable library, as the view
//                  and batch mode open a library (the tree is not built; the
//                  editable library is let go outside the time)
//   RegenToFile   load and regenerate into a file, as tlbregen does
// Each reports the peak of the memory in use above where it started (the
// resident set's high-water mark), as "peak_x_file" (times the file's size). The Ratios benchmark times the three
// back to back and reports OpenForEditing and RegenToFile over LoadWalk.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <time.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "SmallTypesLibrary.h"
#include "TreeLibrarySizes.h"
#include "app/modCorvaneExe.h"
#include "regen/TLBModifier.h"
#include "typelib/TypeLibSupport.h"

namespace {

using namespace benchlib;

struct File {
    std::u16string path;
    uintmax_t bytes = 0;
};

const File& Library(int which) {
    static std::map<int, File> files;
    File& f = files[which];
    if (f.path.empty()) {
        RegisterFileServices();
        const auto dir = Folder("zephrin-bench-open");
        const auto path = dir / (which == 0 ? "large.tlb" : "small-types.tlb");
        if (which == 0)
            BuildLarge(path.u16string(), kInterfaces, kMethods, kLargeMethods);
        else
            BuildSmallTypes(path.u16string());
        f.path = path.u16string();
        f.bytes = std::filesystem::file_size(path);
    }
    return f;
}

// Lets the loaded libraries nobody holds go (the file cache keeps a library
// until the next load looks at it).
void DropUnusedLibraries() {
    ComPtr<ITypeLib> none;
    (void)LoadTypeLibEx((Folder("zephrin-bench-open") / "none.tlb").u16string().c_str(), REGKIND_NONE, none.put());
}

// A figure of /proc/self/status in bytes ("VmRSS", "VmHWM").
size_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string key = std::string(field) + ":";
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stoull(line.substr(key.size())) * 1024;
    return 0;
}

// The peak of the memory in use over a piece of work, above what was in use
// before it: the resident set's high-water mark, reset at the start.
struct Peak {
    size_t base = 0;
    size_t peak = 0;
    Peak() {
        DropUnusedLibraries();
        malloc_trim(0);
        base = StatusBytes("VmRSS");
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    void Sample() {
        const size_t high = StatusBytes("VmHWM");
        peak = std::max(peak, high > base ? high - base : 0);
    }
};

ComPtr<ITypeLib> Load(const File& f) {
    ComPtr<ITypeLib> lib;
    Require(LoadTypeLibEx(f.path.c_str(), REGKIND_NONE, lib.put()), "LoadTypeLibEx");
    return lib;
}

uint32_t Walk(ITypeInfo* ti, bool follow) {
    uint32_t seen = 0;
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta))) return 0;
    BStr name, doc;
    ti->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr);
    seen += name.Length() + doc.Length();
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> b;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h))) ti->GetRefTypeInfo(h, b.put());
    }
    for (UINT k = 0; k < ta->cFuncs; ++k) {
        FUNCDESC* fd = nullptr;
        if (FAILED(ti->GetFuncDesc(k, &fd))) continue;
        BSTR names[64];
        UINT cn = 0;
        ti->GetNames(fd->memid, names, 64, &cn);
        for (UINT q = 0; q < cn; ++q) {
            seen += SysStringLen(names[q]);
            SysFreeString(names[q]);
        }
        BStr fdoc;
        ti->GetDocumentation(fd->memid, nullptr, fdoc.put(), nullptr, nullptr);
        seen += fdoc.Length() + static_cast<uint32_t>(fd->cParams);
        ti->ReleaseFuncDesc(fd);
    }
    for (UINT k = 0; k < ta->cVars; ++k) {
        VARDESC* vd = nullptr;
        if (FAILED(ti->GetVarDesc(k, &vd))) continue;
        BSTR vn = nullptr;
        UINT cn = 0;
        ti->GetNames(vd->memid, &vn, 1, &cn);
        seen += SysStringLen(vn);
        SysFreeString(vn);
        BStr vdoc;
        ti->GetDocumentation(vd->memid, nullptr, vdoc.put(), nullptr, nullptr);
        seen += vdoc.Length();
        ti->ReleaseVarDesc(vd);
    }
    if (follow && ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> half;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) &&
            SUCCEEDED(ti->GetRefTypeInfo(h, half.put())))
            seen += Walk(half.get(), false);
    }
    ti->ReleaseTypeAttr(ta);
    return seen;
}

// Each piece of work hands back what it opened, for the caller to let go
// outside the time of opening (an open library stays open); the load and walk
// lets its library go itself.
void LoadWalkOnce(const File& f, Peak* peak, ComPtr<ITypeLib>&) {
    ComPtr<ITypeLib> lib = Load(f);
    uint32_t seen = 0;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (SUCCEEDED(lib->GetTypeInfo(i, ti.put()))) seen += Walk(ti.get(), true);
    }
    benchmark::DoNotOptimize(seen);
    if (peak) peak->Sample();
}

void OpenOnce(const File& f, Peak* peak, ComPtr<ITypeLib>& edited) {
    ComPtr<ITypeLib> unresolved;
    edited = zephrin::modCorvaneExe::OpenLibraryForEditing(Load(f).get(), false, unresolved);
    benchmark::DoNotOptimize(edited.get());
    if (peak) peak->Sample();
}

void RegenOnce(const File& f, Peak* peak, ComPtr<ITypeLib>&) {
    const std::u16string out = (Folder("zephrin-bench-open") / "regen.tlb").u16string();
    ComPtr<ITypeLib> lib = Load(f);
    zephrin::TLBModifier modifier;
    modifier.StartingLib(zephrin::typelib_detail::TliTypeLibInfo(lib.get()).get());
    modifier.GenerateDirect(out);
    if (peak) peak->Sample();
}

template <void (*Work)(const File&, Peak*, ComPtr<ITypeLib>&)>
void Timed(benchmark::State& state) {
    const File& f = Library(static_cast<int>(state.range(0)));
    ComPtr<ITypeLib> opened;
    Work(f, nullptr, opened);  // the file in the page cache, the standard library resolved
    opened.Reset();
    Peak peak;
    Work(f, &peak, opened);
    opened.Reset();
    for (auto _ : state) {
        Work(f, nullptr, opened);
        state.PauseTiming();
        opened.Reset();
        state.ResumeTiming();
    }
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
    state.counters["peak_x_file"] = static_cast<double>(peak.peak) / static_cast<double>(f.bytes);
}

void LoadWalk(benchmark::State& state) { Timed<LoadWalkOnce>(state); }
void OpenForEditing(benchmark::State& state) { Timed<OpenOnce>(state); }
void RegenToFile(benchmark::State& state) { Timed<RegenOnce>(state); }

// Seconds of processor time this thread has used: on a shared machine the
// ratios of wall times mix rounds the machine ran at different speeds.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The three back to back, each round, in processor time.
void Ratios(benchmark::State& state) {
    const File& f = Library(static_cast<int>(state.range(0)));
    double walk = 0, open = 0, regen = 0;
    for (auto _ : state) {
        ComPtr<ITypeLib> opened;
        const double t0 = ThreadSeconds();
        LoadWalkOnce(f, nullptr, opened);
        const double t1 = ThreadSeconds();
        OpenOnce(f, nullptr, opened);
        const double t2 = ThreadSeconds();
        opened.Reset();
        const double t2b = ThreadSeconds();
        RegenOnce(f, nullptr, opened);
        const double t3 = ThreadSeconds();
        walk += t1 - t0;
        open += t2 - t1;
        regen += t3 - t2b;
    }
    state.counters["walk_ms"] = walk * 1e3 / static_cast<double>(state.iterations());
    state.counters["open_x_walk"] = open / walk;
    state.counters["regen_x_walk"] = regen / walk;
}

// Argument 0: the large library; 1: the library of many small types.
BENCHMARK(LoadWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenForEditing)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(RegenToFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Ratios)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

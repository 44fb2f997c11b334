// Copy-and-save of a large library: a library of well over 2 MB is built
// through the creation interfaces and saved once; then
// - CopyAndSave re-creates the loaded file in a new library through the
//   creation interfaces (as tlbcopy and regeneration do), lays it out and saves it;
// - SaveLaidOut writes the data of an already laid-out library (the writer alone).
// Both report the file size processed per second and the time per copy.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "tools/CopyTypeLib.h"
#include "LargeLibrary.h"

using namespace ole;

namespace {

using namespace benchlib;

std::filesystem::path Folder() { return benchlib::Folder("zephrin-bench-copy-save"); }

struct Fixture {
    std::u16string source;
    uintmax_t bytes = 0;
    ComPtr<ITypeLib> loaded;
    std::shared_ptr<const LibraryData> data;

    Fixture() {
        RegisterFileServices();
        SetTypeLibWriter(WriteMsftTypeLib);
        auto path = Folder() / "large.tlb";
        source = U16(path.string());
        BuildLarge(source);
        bytes = std::filesystem::file_size(path);
        Require(LoadTypeLibEx(source.c_str(), REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        Require(GetLibraryData(loaded.get(), false, &data), "GetLibraryData");
    }
};

Fixture& Large() {
    static Fixture f;
    return f;
}

void CopyAndSave(benchmark::State& state) {
    Fixture& f = Large();
    std::u16string out = U16((Folder() / "copy.tlb").string());
    for (auto _ : state) {
        ComPtr<ICreateTypeLib2> dst;
        Require(CreateTypeLib2(SYS_WIN32, out.c_str(), dst.put()), "CreateTypeLib2");
        std::string what;
        if (FAILED(tlbtools::CopyTypeLib(f.loaded.get(), dst.get(), &what))) {
            state.SkipWithError(("copy failed: " + what).c_str());
            break;
        }
        Require(dst->SaveAllChanges(), "SaveAllChanges");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
}
BENCHMARK(CopyAndSave)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void SaveLaidOut(benchmark::State& state) {
    Fixture& f = Large();
    std::u16string out = U16((Folder() / "saved.tlb").string());
    for (auto _ : state) Require(WriteMsftTypeLib(*f.data, out), "WriteMsftTypeLib");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
}
BENCHMARK(SaveLaidOut)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BuildImage(benchmark::State& state) {
    Fixture& f = Large();
    std::vector<std::byte> image;
    for (auto _ : state) {
        Require(BuildMsftImage(*f.data, &image), "BuildMsftImage");
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BuildImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

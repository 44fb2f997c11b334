// Opening the large library of the tree benchmark (1,500 interfaces of 12
// methods and one of 2,000 methods, about 3 MB as a file) in the library
// editor view: from setting the current library to the first level of the
// tree shown, with the regeneration that opening does; and that
// regeneration alone, to tell its share.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "LargeLibrary.h"
#include "app/modCorvaneExe.h"
#include "editor/EditorModule.h"
#include "editor/LibraryViewer.h"

namespace {

constexpr int kInterfaces = 1500;
constexpr int kMethods = 12;
constexpr int kLargeMethods = 2000;

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_view_open";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        zephrin::editor::InitEditorModule();
        return created;
    }();
    return *app;
}

ole::ComPtr<ole::ITypeLib> Library() {
    static ole::ComPtr<ole::ITypeLib> lib = [] {
        ole::RegisterFileServices();
        const auto file = benchlib::Folder("zephrin-view-bench") / "large.tlb";
        benchlib::BuildLarge(file.u16string(), kInterfaces, kMethods, kLargeMethods);
        std::fprintf(stderr, "library file: %ju bytes\n", static_cast<uintmax_t>(std::filesystem::file_size(file)));
        ole::ComPtr<ole::ITypeLib> loaded;
        benchlib::Require(ole::LoadTypeLibEx(file.u16string().c_str(), ole::REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        return loaded;
    }();
    return lib;
}

// The view shown, the library set, and the events run until the type level is painted.
void OpenInView(benchmark::State& state) {
    App();
    const auto lib = Library();
    zephrin::editor::LibraryViewer view;
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();
    for (auto _ : state) {
        view.CurrentITypeLib(lib.get());
        QApplication::processEvents();
        QTreeWidget* tree = view.Tree();
        if (tree->topLevelItemCount() != 1 || tree->topLevelItem(0)->childCount() != kInterfaces + 2) std::abort();  // and IHuge and Record
        benchmark::DoNotOptimize(tree->topLevelItem(0)->childCount());
        state.PauseTiming();
        view.CurrentITypeLib(nullptr);
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(OpenInView)->Unit(benchmark::kMillisecond);

// The regeneration opening does (with the unresolved-types search), alone.
void RegenerateForEditing(benchmark::State& state) {
    const auto lib = Library();
    for (auto _ : state) {
        ole::ComPtr<ole::ITypeLib> unresolved;
        ole::ComPtr<ole::ITypeLib> edited = zephrin::modCorvaneExe::OpenLibraryForEditing(lib.get(), false, unresolved);
        benchmark::DoNotOptimize(edited.get());
        state.PauseTiming();  // letting the copy go is not part of opening
        edited = nullptr;
        state.ResumeTiming();
    }
}
BENCHMARK(RegenerateForEditing)->Unit(benchmark::kMillisecond);

}  // namespace

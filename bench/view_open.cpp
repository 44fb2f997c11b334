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

#include "TreeBenchSupport.h"
#include "app/modCorvaneExe.h"
#include "editor/tree/EditorModule.h"
#include "editor/view/LibraryViewer.h"

namespace {

using benchlib::kInterfaces;
using benchlib::kLargeMethods;
using benchlib::kMethods;

QApplication& App() { return benchlib::UiApp("bench_view_open"); }
ole::ComPtr<ole::ITypeLib> Library() { return benchlib::TreeLibrary("zephrin-view-bench"); }

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

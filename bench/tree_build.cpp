// Building the library tree of a large library (1,500 interfaces of 12
// methods and one of 2,000 methods, about 3 MB as a file), with the tree not
// shown: the root and the type level as opening the library shows them, and
// the member level of the 2,000-method interface as its first expansion
// builds it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "TreeBenchSupport.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeNodeRecords.h"
#include "editor/tree/TreeSort.h"

namespace {

using benchlib::kInterfaces;
using benchlib::kLargeMethods;
using benchlib::kMethods;

QApplication& App() { return benchlib::UiApp("bench_tree_build"); }
ole::ComPtr<ole::ITypeLib> Library() { return benchlib::TreeLibrary("zephrin-tree-bench"); }

void OpenLibrary(benchmark::State& state) {
    App();
    const auto lib = Library();
    for (auto _ : state) {
        QTreeWidget tree;
        zephrin::editor::SetUpLibraryTree(&tree);
        QTreeWidgetItem* root = zephrin::editor::AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
        root->setExpanded(true);
        zephrin::editor::EnsureChildren(root);
        benchmark::DoNotOptimize(root->childCount());
        state.PauseTiming();
        zephrin::editor::ClearLibraryTree(&tree);
        state.ResumeTiming();
    }
}
BENCHMARK(OpenLibrary)->Unit(benchmark::kMillisecond);

void ExpandLargeInterface(benchmark::State& state) {
    App();
    const auto lib = Library();
    QTreeWidget tree;
    zephrin::editor::SetUpLibraryTree(&tree);
    QTreeWidgetItem* root = zephrin::editor::AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
    zephrin::editor::EnsureChildren(root);
    QTreeWidgetItem* huge = nullptr;
    for (int i = 0; i < root->childCount() && !huge; ++i)
        if (root->child(i)->text(0) == QStringLiteral("IHuge")) huge = root->child(i);
    if (!huge) std::abort();
    for (auto _ : state) {
        zephrin::editor::EnsureChildren(huge);
        benchmark::DoNotOptimize(huge->childCount());
        state.PauseTiming();
        zephrin::editor::ReleaseChildRecords(huge);
        qDeleteAll(huge->takeChildren());
        zephrin::editor::AddPlaceholder(huge);
        state.ResumeTiming();
    }
    zephrin::editor::ClearLibraryTree(&tree);
}
BENCHMARK(ExpandLargeInterface)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {
void ResortLargeInterface(benchmark::State& state) {
    App();
    const auto lib = Library();
    QTreeWidget tree;
    zephrin::editor::SetUpLibraryTree(&tree);
    QTreeWidgetItem* root = zephrin::editor::AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
    zephrin::editor::EnsureChildren(root);
    QTreeWidgetItem* huge = nullptr;
    for (int i = 0; i < root->childCount() && !huge; ++i)
        if (root->child(i)->text(0) == QStringLiteral("IHuge")) huge = root->child(i);
    zephrin::editor::EnsureChildren(huge);
    tree.expandItem(root);
    tree.expandItem(huge);
    QTreeWidgetItem* target = state.range(0) ? root : huge;
    for (auto _ : state) {
        zephrin::editor::SortNodeChildren(target);
        benchmark::DoNotOptimize(target->childCount());
    }
    zephrin::editor::ClearLibraryTree(&tree);
}
BENCHMARK(ResortLargeInterface)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}  // namespace

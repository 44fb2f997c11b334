// `*` on the root of a large library's tree (1,500 interfaces of 12 methods
// and one of 2,000 methods, about 3.4 MB as a file), shown as opening the
// library shows it: the root expanded, the type level built. The key builds
// and expands every level below; the time includes the layout of the rows
// and the paint that follows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "TreeBenchSupport.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeNodeRecords.h"

namespace {

using benchlib::kInterfaces;
using benchlib::kLargeMethods;
using benchlib::kMethods;

QApplication& App() { return benchlib::UiApp("bench_tree_expand_all"); }
ole::ComPtr<ole::ITypeLib> Library() { return benchlib::TreeLibrary("zephrin-tree-bench"); }

// The library's root, expanded and current, as opening the library shows it.
QTreeWidgetItem* OpenLibrary(QTreeWidget& tree, ole::ITypeLib* lib) {
    QTreeWidgetItem* root = zephrin::editor::AddLibraryNode(&tree, lib, nullptr, 0, true);
    root->setExpanded(true);
    tree.setCurrentItem(root);
    QCoreApplication::processEvents();
    return root;
}

void ExpandAllFromTheRoot(benchmark::State& state) {
    App();
    const auto lib = Library();
    QTreeWidget tree;
    zephrin::editor::SetUpLibraryTree(&tree);
    zephrin::editor::ConnectLazyFilling(&tree, [](const zephrin::ErrorRecord&) { std::abort(); });
    tree.resize(600, 800);
    tree.show();
    OpenLibrary(tree, lib.get());
    int64_t rows = 0;
    for (auto _ : state) {
        QKeyEvent star(QEvent::KeyPress, Qt::Key_Asterisk, Qt::KeypadModifier, QStringLiteral("*"));
        QApplication::sendEvent(&tree, &star);
        tree.viewport()->repaint();
        QCoreApplication::processEvents();
        state.PauseTiming();
        rows = 0;
        int64_t expanded = 0;
        for (QTreeWidgetItemIterator it(&tree); *it; ++it, ++rows) expanded += (*it)->isExpanded();
        // The root, the record, 1,501 interfaces and the 20,000 methods with parameters.
        const int64_t wanted = 1 + 1 + kInterfaces + 1 + kInterfaces * kMethods + kLargeMethods;
        if (expanded != wanted) {
            std::fprintf(stderr, "%jd nodes expanded, not %jd\n", static_cast<intmax_t>(expanded),
                         static_cast<intmax_t>(wanted));
            std::abort();
        }
        zephrin::editor::ClearLibraryTree(&tree);
        OpenLibrary(tree, lib.get());
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(rows);
    zephrin::editor::ClearLibraryTree(&tree);
}
BENCHMARK(ExpandAllFromTheRoot)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

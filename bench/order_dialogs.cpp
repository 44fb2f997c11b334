// Moving the last row of an order dialog to the top, one Move Up at a time:
// the type order dialog over a library of about 2,000 types and the vtable
// order dialog over an interface of 2,000 methods.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>

#include <cstdlib>

#include "LargeLibrary.h"
#include "dialogs/frmTypeOrder.h"
#include "dialogs/frmVTableOrder.h"

namespace {

constexpr int kInterfaces = 2000;
constexpr int kLargeMethods = 2000;

void App() {
    static int argc = 1;
    static char name[] = "bench_order_dialogs";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
}

ole::ComPtr<ole::ITypeLib> Library() {
    static ole::ComPtr<ole::ITypeLib> lib = [] {
        ole::RegisterFileServices();
        const auto file = benchlib::Folder("zephrin-order-bench") / "large.tlb";
        benchlib::BuildLarge(file.u16string(), kInterfaces, 1, kLargeMethods);
        ole::ComPtr<ole::ITypeLib> loaded;
        benchlib::Require(ole::LoadTypeLibEx(file.u16string().c_str(), ole::REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        return loaded;
    }();
    return lib;
}

void MoveLastToTop(zephrin::dialogs::OrderDialog& dialog) {
    dialog.List()->setCurrentRow(dialog.List()->count() - 1);
    while (dialog.MoveButton(true)->isEnabled()) dialog.MoveButton(true)->click();
    if (dialog.CurrentRow() != 0) std::abort();
}

void MoveLastTypeToTop(benchmark::State& state) {
    App();
    const auto lib = Library();
    for (auto _ : state) {
        zephrin::dialogs::frmTypeOrder dialog(zephrin::dialogs::OrderListModel::ForTypes(lib.get()), nullptr);
        MoveLastToTop(dialog);
    }
}
BENCHMARK(MoveLastTypeToTop)->Unit(benchmark::kMillisecond);

void MoveLastFunctionToTop(benchmark::State& state) {
    App();
    const auto lib = Library();
    const auto huge = static_cast<ole::UINT>(lib->GetTypeInfoCount() - 1);
    for (auto _ : state) {
        zephrin::dialogs::frmVTableOrder dialog(*zephrin::dialogs::VTableOrderModel::ForInterface(lib.get(), huge), nullptr);
        MoveLastToTop(dialog);
    }
}
BENCHMARK(MoveLastFunctionToTop)->Unit(benchmark::kMillisecond);

}  // namespace

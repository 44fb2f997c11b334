// The application object of the editor tests.
#include "editor/TreeTestSupport.h"

#include <memory>

namespace treetest {
namespace {

std::unique_ptr<QApplication>& App() {
    static std::unique_ptr<QApplication> app;
    return app;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override { App().reset(); }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace

void EnsureApp() {
    static int argc = 1;
    static char name[] = "editor_tests";
    static char* argv[] = {name, nullptr};
    if (App()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    App() = std::make_unique<QApplication>(argc, argv);
    InitEditorModule();
}

}  // namespace treetest

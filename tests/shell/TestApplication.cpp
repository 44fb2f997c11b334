// The application object of the shell tests.
#include <QPointer>

#include <memory>

#include "ShellTestSupport.h"
#include "editor/tree/EditorModule.h"

namespace shelltest {
namespace {

std::unique_ptr<QApplication>& App() {
    static std::unique_ptr<QApplication> app;
    return app;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        // Windows the tests left open go before the application.
        QList<QPointer<QWidget>> windows;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (!window->parentWidget()) windows.append(window);
        for (const QPointer<QWidget>& window : windows) delete window.data();
        App().reset();
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace

void EnsureApp() {
    static int argc = 1;
    static char name[] = "shell_tests";
    static char* argv[] = {name, nullptr};
    if (App()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    App() = std::make_unique<QApplication>(argc, argv);
    editor::InitEditorModule();
}

}  // namespace shelltest

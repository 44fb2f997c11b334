// The application object of the shell tests, and an accessibility bridge
// built into the program: it receives every accessibility event, as the
// bridge of a screen reader would, whether or not a reader is running.
#define QT_STATICPLUGIN
#include <QAccessibleBridge>
#include <QPointer>
#include <QtPlugin>

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

class Bridge final : public QAccessibleBridge {
public:
    void setRootObject(QAccessibleInterface*) override {}
    void notifyAccessibilityUpdate(QAccessibleEvent* event) override { NameChanges::Notify(event); }
};

}  // namespace

class TestAccessibleBridge final : public QAccessibleBridgePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QAccessibleBridgeFactoryInterface_iid FILE "TestAccessibleBridge.json")
public:
    QAccessibleBridge* create(const QString&) override {
        // Qt keeps its bridges to the end (and may delete them then).
        static Bridge* const bridge = new Bridge;
        return bridge;
    }
};

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

Q_IMPORT_PLUGIN(TestAccessibleBridge)

#include "TestApplication.moc"

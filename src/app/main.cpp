// The zephrin executable. The work is modCorvaneExe::Main's; this file adds
// message boxes and the editor window when the program is built with its user
// interface and a display is available.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvaneExe.h"

#ifdef ZEPHRIN_WITH_QT
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "foundation/modSupport.h"
#include "shell/frmRecorder.h"
#include "shell/frmCorvane.h"
#endif

namespace {

#ifdef ZEPHRIN_WITH_QT
bool IsSet(const char* var) {
    const char* value = std::getenv(var);
    return value && *value;
}

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view name = platform ? platform : "";
    // The platforms that draw nowhere can't show a message box to anyone.
    if (name.starts_with("offscreen") || name.starts_with("minimal") || name.starts_with("vnc")) return false;
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// The one application object, made only when a window is shown, so that a
// batch run never needs a display. main holds it, and it goes before main
// returns: Qt can't be shut down once the program's exit has begun. Null
// without a usable display; why then says what is missing.
QApplication* Application(std::unique_ptr<QApplication>& app, int& argc, char** argv, std::string& why) {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (!HasDisplay()) {
        why = IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") ? std::string("QT_QPA_PLATFORM=") + chosen + " shows no windows"
                                                           : "neither DISPLAY nor WAYLAND_DISPLAY is set";
        return nullptr;
    }
    if (!app) {
        // A display that can't be reached (a DISPLAY left over from another
        // session) would end the program in Qt's start-up. The last platform
        // of the list draws nowhere; the message then goes to standard error.
        std::string platforms = chosen && *chosen ? chosen : IsSet("WAYLAND_DISPLAY") ? "wayland;xcb" : "xcb";
        ::setenv("QT_QPA_PLATFORM", (platforms + ";offscreen").c_str(), 1);
        // Qt's own complaints (a display it can't reach) are not this
        // program's messages: standard error carries only those.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        app = std::make_unique<QApplication>(argc, argv);
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        const char* display = std::getenv(IsSet("WAYLAND_DISPLAY") ? "WAYLAND_DISPLAY" : "DISPLAY");
        why = std::string("the display '") + (display ? display : "") + "' can't be opened";
        return nullptr;
    }
    return app.get();
}

bool ShowMessageBox(std::unique_ptr<QApplication>& app, int& argc, char** argv, std::u16string_view text,
                    int32_t style) {
    std::string why;
    if (!Application(app, argc, argv, why)) return false;
    const QString title = QString::fromStdU16String(zephrin::modSupport::LoadResStringById(107));
    const QString message = QString::fromStdU16String(std::u16string(text));
    QMessageBox box(style == zephrin::modCorvaneExe::kStyleExclamation ? QMessageBox::Warning
                                                                       : QMessageBox::Information,
                    title, message, QMessageBox::Ok);
    box.exec();
    return true;
}

int OpenEditor(std::unique_ptr<QApplication>& app, int& argc, char** argv, const std::string& libraryPath,
               bool newLibrary, bool dontBackUpHelpString) {
    std::string why;
    if (!Application(app, argc, argv, why)) {
        std::fprintf(stderr,
                     "The editor window can't be shown: %s. Without a display, run a Library Edit History with "
                     "-leh or apply a help-data provider with -modifyhelp.\n",
                     why.c_str());
        return zephrin::modCorvaneExe::kExitFailure;
    }
    return zephrin::shell::RunEditor(libraryPath, newLibrary, dontBackUpHelpString);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit (ulimit -f) makes a write fail, and the save reports
    // it and leaves the file as it was; by default it would end the program
    // in the middle of the write instead.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    zephrin::modCorvaneExe::Shell shell;
    shell.OutputIsTerminal = ::isatty(STDOUT_FILENO) != 0;
    shell.ProgramName = argc > 0 && argv[0] ? argv[0] : "";
#ifdef ZEPHRIN_WITH_QT
    std::unique_ptr<QApplication> app;
    std::vector<QPointer<QWidget>> windows;  // those not closed go before the application
    shell.MessageBox = [&app, &argc, argv](std::u16string_view text, int32_t style) {
        return ShowMessageBox(app, argc, argv, text, style);
    };
    zephrin::shell::InstallRecorderWindows();
    shell.OpenEditor = [&app, &argc, argv](const std::string& path, bool isNew, bool dontBackUp) {
        return OpenEditor(app, argc, argv, path, isNew, dontBackUp);
    };
    shell.NewHistoryWindow = [&]() -> zephrin::modCorvaneExe::IHistoryWindow* {
        std::string why;
        if (!Application(app, argc, argv, why)) return nullptr;
        auto* window = new zephrin::shell::frmRecorder;
        windows.emplace_back(window);
        return window;
    };
    shell.RunWindows = [&app] {
        if (!app) return;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible()) {
                QApplication::exec();
                // The closed windows go now, while the application object still exists.
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return;
            }
    };
    const int code = zephrin::modCorvaneExe::Main(args, shell);
    for (QPointer<QWidget>& window : windows) delete window.data();
    return code;
#else
    return zephrin::modCorvaneExe::Main(args, shell);
#endif
}

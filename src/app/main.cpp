// The zephrin executable. The work is modCorvaneExe::Main's; this file adds
// message boxes when the program is built with its user interface and a
// display is available.
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvaneExe.h"

#ifdef ZEPHRIN_WITH_QT
#include <QApplication>
#include <QMessageBox>

#include "foundation/modSupport.h"
#endif

namespace {

#ifdef ZEPHRIN_WITH_QT
bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view name = platform ? platform : "";
    // The platforms that draw nowhere can't show a message box to anyone.
    if (name.starts_with("offscreen") || name.starts_with("minimal") || name.starts_with("vnc")) return false;
    const auto set = [](const char* var) {
        const char* value = std::getenv(var);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The application object is made only when a message box is shown, so that a
// batch run never needs a display.
bool ShowMessageBox(int& argc, char** argv, std::u16string_view text, int32_t style) {
    static std::unique_ptr<QApplication> app;
    if (!HasDisplay()) return false;
    if (!app) app = std::make_unique<QApplication>(argc, argv);
    const QString title = QString::fromStdU16String(zephrin::modSupport::LoadResStringById(107));
    const QString message = QString::fromStdU16String(std::u16string(text));
    QMessageBox box(style == zephrin::modCorvaneExe::kStyleExclamation ? QMessageBox::Warning
                                                                       : QMessageBox::Information,
                    title, message, QMessageBox::Ok);
    box.exec();
    return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    zephrin::modCorvaneExe::Shell shell;
    shell.OutputIsTerminal = ::isatty(STDOUT_FILENO) != 0;
#ifdef ZEPHRIN_WITH_QT
    shell.MessageBox = [&argc, argv](std::u16string_view text, int32_t style) {
        return ShowMessageBox(argc, argv, text, style);
    };
#endif
    return zephrin::modCorvaneExe::Main(args, shell);
}

#include "editor/tree/WaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

#include "foundation/modHourGlass.h"

namespace zephrin::editor {
namespace {

bool WaitOnTop() {
    const QCursor* top = QGuiApplication::overrideCursor();
    return top && top->shape() == Qt::WaitCursor;
}

}  // namespace

void InstallWaitCursorHook() {
    modHourGlass::SetMousePointerHook({
        [] { return WaitOnTop() ? modHourGlass::kHourGlassPointer : modHourGlass::kDefaultPointer; },
        [](int16_t pointer) {
            if (pointer == modHourGlass::kHourGlassPointer)
                QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            else if (WaitOnTop())
                QGuiApplication::restoreOverrideCursor();
        },
    });
}

}  // namespace zephrin::editor

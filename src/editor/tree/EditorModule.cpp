#include "editor/tree/EditorModule.h"

#include <QGuiApplication>

#include "editor/tree/WaitCursor.h"
#include "editor/tree/modImages.h"
#include "regen/TLBModifier.h"

namespace zephrin::editor {

void InitEditorModule() {
    InstallWaitCursorHook();
    // Pictures need the application object; without one the lists are built on first use.
    if (QGuiApplication::instance()) modImages::BuildImageLists();
    InstallLibraryCopier();
}

}  // namespace zephrin::editor

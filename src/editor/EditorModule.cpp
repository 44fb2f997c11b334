#include "editor/EditorModule.h"

#include "editor/WaitCursor.h"
#include "editor/modImages.h"
#include "regen/TLBModifier.h"

namespace zephrin::editor {

void InitEditorModule() {
    InstallWaitCursorHook();
    modImages::BuildImageLists();
    InstallLibraryCopier();
}

}  // namespace zephrin::editor

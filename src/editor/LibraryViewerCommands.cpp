// The commands of the tree's context menu.
#include "editor/LibraryViewer.h"

namespace zephrin::editor {

void LibraryViewer::RunMenuCommand(MenuItem item, int32_t index, int32_t tag) {
    (void)item;
    (void)index;
    (void)tag;
}

}  // namespace zephrin::editor

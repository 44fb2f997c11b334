// The start-up of the user interface's shared parts: the wait cursor behind
// long operations, the image lists, and the regeneration engine as the
// model's library copier. The window's start-up calls it once the application
// object exists (the image lists wait for one); calling it again does no harm.
#pragma once

namespace zephrin::editor {

void InitEditorModule();

}  // namespace zephrin::editor

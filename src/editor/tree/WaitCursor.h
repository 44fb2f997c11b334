// The wait cursor of long operations on the application's override-cursor
// stack. The core shows it through a pointer hook; this maps the hook's
// pointer numbers onto the stack: reading gives the hourglass (11) when the
// top override cursor is the wait cursor and 0 otherwise; setting 11 pushes
// the wait cursor; setting anything else pops a wait cursor that is on top
// and leaves any other override cursor alone.
#pragma once

namespace zephrin::editor {

void InstallWaitCursorHook();

}  // namespace zephrin::editor

// Shift+F10 asks a text field for its context menu as the Menu key does. The
// window system turns the Menu key into a request for the menu of the field
// with the focus; Shift+F10, for keyboards without that key, comes as a key
// only, which a text field ignores.
#pragma once

namespace zephrin::dialogs {

// From now on Shift+F10 in any text field of the application asks the field
// for its context menu (its own, or the one the program gives it), as from
// the keyboard, just below the field's left end. Once is enough; more calls
// change nothing.
void OpenFieldMenusOnShiftF10();

}  // namespace zephrin::dialogs

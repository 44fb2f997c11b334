// Icons the dialogs draw for themselves, in the palette's colours so that they
// read on dark themes too, with 1x and 2x pixmaps.
#pragma once

#include <QIcon>

class QPalette;

namespace zephrin::dialogs {

// A solid triangle pointing up or down, 16 by 16 (32 by 32 at 2x), in the
// button text colour, and in the disabled button text colour when disabled.
QIcon ArrowIcon(bool up, const QPalette& palette);

}  // namespace zephrin::dialogs

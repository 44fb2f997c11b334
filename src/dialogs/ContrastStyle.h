// Frames and check-box indicators that read on dark palettes. Fusion draws the
// frames of text fields and item views, the borders of menus and the check-box
// indicators (those of item views go through the check box's) in a shade of
// the Window role a little darker than it; on a dark palette that shade is
// about the Base and Window colours themselves, and the frames, the menus'
// edges and the unchecked boxes vanish; so do the menus' separators, lines of
// translucent black.
// The style here draws them from a palette whose Window role is raised so that
// the shade lies well between Base and Text. A light palette, and any style
// but Fusion, is drawn as it is.
#pragma once

#include <QPalette>

class QWidget;

namespace zephrin::dialogs {

// Gives widget and every widget inside it the style (one shared style, over
// the application's), those made or moved inside it later as well.
void UseContrastStyle(QWidget* widget);

// The palette the style hands Fusion for a frame or an indicator: palette
// itself, with the Window role of each colour group whose Base is darker than
// its Text raised where the shade Fusion derives from it would lie closer to
// Base than FrameShade does.
QPalette FramePalette(const QPalette& palette);
// The frame shade of a dark colour group: 40% of the way from Base to Text.
QColor FrameShade(const QPalette& palette, QPalette::ColorGroup group);

// How clearly one colour reads on the other: the ratio of their relative
// luminances (each plus 0.05), from 1 (alike) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// The least contrast of a text that has to be read, against its background.
inline constexpr double kReadableContrast = 4.5;
// The colour of a text marking an invalid value: red, taken towards the
// group's WindowText only as far as it needs to read (kReadableContrast) on
// both the group's Window and Base colours.
QColor InvalidTextColor(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active);

}  // namespace zephrin::dialogs

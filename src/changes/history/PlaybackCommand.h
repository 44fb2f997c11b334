// The commands of the history window, as bits, in the order of their menu
// captions (string table 720-728).
#pragma once

#include <cstdint>

namespace zephrin {

enum PlaybackCommand : int32_t {
    kCmdRun = 1,
    kCmdStep = 2,
    kCmdRunToCursor = 4,
    kCmdSetNextStatement = 8,
    kCmdToggleBreakpoint = 16,
    kCmdClearBreakpoints = 32,
    kCmdDelete = 64,
    kCmdRestart = 128,
    kCmdSelectTarget = 256,
};

// The glyph of a history line (bitmaps 601-603 of the list control).
enum PlaybackGlyph : int32_t {
    kGlyphNone = 0,
    kGlyphCurrent = 1,
    kGlyphBreakpoint = 2,
    kGlyphCurrentAndBreakpoint = 3,
};

}  // namespace zephrin

// The history list as the history engine drives it (the history window's list
// control). Index is a 0-based line; item is the engine's handle of the line
// (its text and glyph are read back through IPlayback::Text and Glyph).
#pragma once

#include <cstdint>

#include "changes/hub/ChangeNode.h"

namespace zephrin {

class INameChooser;

class IPlaybackUI {
public:
    virtual ~IPlaybackUI() = default;
    // The window that shows the dialogs of the history (the choose-name
    // dialog); null when none can be shown.
    virtual INameChooser* UIOwner() = 0;
    virtual void AddItem(int32_t index, PlaybackItem item) = 0;
    virtual void RemoveItem(int32_t index) = 0;
    virtual void RemoveAllItems() = 0;
    // Redraws the glyphs of line index1 and, when index2 is not -1, of index2.
    virtual void RefreshGlyphs(int32_t index1, int32_t index2) = 0;
    virtual int32_t ListIndex() = 0;
    // Selects the line; the window then asks IPlayback::EnabledCommands again.
    virtual void ListIndex(int32_t index) = 0;
    virtual void RefreshAll() = 0;
    // Bit i shows command i (PlaybackCommand) in the window's menu.
    virtual int32_t CommandFilter() = 0;
    virtual void CommandFilter(int32_t mask) = 0;
    virtual void OnRestartCommand() = 0;
    // A replayed item had to be re-targeted: its text changed.
    virtual void OnInterventionRequired() = 0;
    virtual void OnDeleteCommand() = 0;
};

}  // namespace zephrin

// The history window, as the history engine reaches it to show itself.
#pragma once

#include "changes/history/IPlaybackUI.h"

namespace zephrin {

class IPlayback;

class IPlaybackUIActivation {
public:
    virtual ~IPlaybackUIActivation() = default;
    // Creates or shows the window and returns its list (not owned by the
    // engine; null when there is none). Setting runPending asks the engine to
    // stop the run in progress.
    virtual IPlaybackUI* ActivateUI(IPlayback& playback, bool& runPending) = 0;
};

}  // namespace zephrin

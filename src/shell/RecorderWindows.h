// The history windows that work on one main window's library. The main
// window and those windows share the list: the main window re-attaches every
// one of them when it opens or creates a library and tells them when its view
// enters or leaves edit mode; each window removes itself when it closes.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::shell {

// What the main window needs of a history window.
class IRecorderWindow {
public:
    virtual ~IRecorderWindow() = default;
    // Binds the window's engine to library (and its companion library of
    // unresolved types, or null), with the list at its first item. isNew: the
    // library was made new, not opened from a file.
    virtual void AttachLibrary(ole::ITypeLib* library, ole::ITypeLib* unresolved, bool isNew) = 0;
    // The main window's view entered (true) or left edit mode.
    virtual void InEditMode(bool editing) = 0;
};

class RecorderWindows {
public:
    void Add(IRecorderWindow* window) {
        if (window && !Contains(window)) windows_.push_back(window);
    }
    void Remove(IRecorderWindow* window) { std::erase(windows_, window); }
    bool Contains(IRecorderWindow* window) const {
        return std::find(windows_.begin(), windows_.end(), window) != windows_.end();
    }
    bool empty() const { return windows_.empty(); }
    size_t size() const { return windows_.size(); }
    // The windows in the order they joined, copied, so that a window may
    // leave while the caller walks them.
    std::vector<IRecorderWindow*> Snapshot() const { return windows_; }

private:
    std::vector<IRecorderWindow*> windows_;
};

using SharedRecorderWindows = std::shared_ptr<RecorderWindows>;

}  // namespace zephrin::shell

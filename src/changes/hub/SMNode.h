// One registration of a listener with the hub (ChangeListener). The
// registering object keeps the node; ending the registration (Release, or
// destroying the node) removes the listener from the hub at once, also in the
// middle of a broadcast. A node outlives its hub safely: destroying the hub
// ends every registration.
#pragma once

#include <memory>

namespace zephrin {

class ChangeListener;
class IChangeListener;

namespace changes_detail {
// What the hub lists for one registration.
struct ListenerEntry {
    ChangeListener* hub = nullptr;  // null once the registration has ended
    IChangeListener* listener = nullptr;
    std::shared_ptr<IChangeListener> owned;  // a strong registration's reference
};
}  // namespace changes_detail

class SMNode {
public:
    SMNode() = default;
    ~SMNode() { Release(); }
    SMNode(const SMNode&) = delete;
    SMNode& operator=(const SMNode&) = delete;

    // Ends the registration; doing so again does nothing.
    void Release() noexcept;
    bool Registered() const noexcept { return entry_ && entry_->hub; }

private:
    friend class ChangeListener;
    std::shared_ptr<changes_detail::ListenerEntry> entry_;
};

}  // namespace zephrin

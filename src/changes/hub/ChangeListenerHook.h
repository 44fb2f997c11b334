// Holds one registration with the hub for its owner (a window or control) and
// ends it when the hook is destroyed or attached anew.
#pragma once

#include <memory>

#include "changes/hub/ChangeListener.h"
#include "changes/hub/IChangeListenerNotifyDirty.h"
#include "changes/hub/SMNode.h"

namespace zephrin {

class ChangeListenerHook {
public:
    // Ends any previous registration; with a hub, registers listener weakly:
    // the owner keeps listener alive while the hook is registered. A hub
    // without a listener raises error 91.
    void Attach(std::shared_ptr<ChangeListener> hub, IChangeListener* listener);
    // Ends any previous registration; with a hub, registers a new
    // ChangeListenerDirty that calls notify->ItemChanged for every change
    // notification. The hub's registration owns it; notify is not owned.
    void AttachDirtyOnly(std::shared_ptr<ChangeListener> hub, IChangeListenerNotifyDirty* notify);

    const std::shared_ptr<ChangeListener>& Hub() const { return hub_; }
    // The registration, by which the hub's marks name the owner.
    const SMNode& Node() const { return node_; }

private:
    void End() noexcept;

    std::shared_ptr<ChangeListener> hub_;
    SMNode node_;  // after hub_: the registration ends before the hub is let go
};

}  // namespace zephrin

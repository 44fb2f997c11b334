// What a window implements to learn, through a dirty-only registration
// (ChangeListenerHook::AttachDirtyOnly), that its document was modified.
#pragma once

namespace zephrin {

class IChangeListenerNotifyDirty {
public:
    virtual ~IChangeListenerNotifyDirty() = default;
    // Called once for every change notification.
    virtual void ItemChanged() = 0;
};

}  // namespace zephrin

#include "changes/hub/ChangeListenerHook.h"

#include "changes/hub/ChangeListenerDirty.h"
#include "foundation/ErrorRecord.h"

namespace zephrin {

namespace {
constexpr int32_t kErrObjectNotSet = 91;
}

void ChangeListenerHook::End() noexcept {
    node_.Release();
    hub_.reset();
}

void ChangeListenerHook::Attach(std::shared_ptr<ChangeListener> hub, IChangeListener* listener) {
    if (hub && !listener) RaiseError(kErrObjectNotSet);
    End();
    if (!hub) return;
    hub->AddListenerNode(node_, *listener);
    hub_ = std::move(hub);
}

void ChangeListenerHook::AttachDirtyOnly(std::shared_ptr<ChangeListener> hub, IChangeListenerNotifyDirty* notify) {
    End();
    if (!hub) return;
    auto dirty = std::make_shared<ChangeListenerDirty>();
    dirty->NotifyTarget(notify);
    hub->AddListenerNode(node_, std::move(dirty));
    hub_ = std::move(hub);
}

}  // namespace zephrin

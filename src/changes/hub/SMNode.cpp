#include "changes/hub/SMNode.h"

#include "changes/hub/ChangeListener.h"

namespace zephrin {

void SMNode::Release() noexcept {
    if (!entry_) return;
    std::shared_ptr<changes_detail::ListenerEntry> entry = std::move(entry_);
    if (entry->hub) entry->hub->Unlink(entry.get());
}

}  // namespace zephrin

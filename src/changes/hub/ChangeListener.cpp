#include "changes/hub/ChangeListener.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "foundation/ErrorRecord.h"

namespace zephrin {

ChangeListener::~ChangeListener() {
    for (const std::shared_ptr<Entry>& e : entries_) {
        e->hub = nullptr;
        e->owned.reset();
    }
}

void ChangeListener::Register(SMNode& node, IChangeListener& listener, std::shared_ptr<IChangeListener> owned) {
    auto entry = std::make_shared<Entry>();
    entry->listener = &listener;
    entry->owned = std::move(owned);
    entries_.reserve(entries_.size() + 1);
    node.Release();
    entry->hub = this;
    entries_.push_back(entry);
    node.entry_ = std::move(entry);
}

void ChangeListener::AddListenerNode(SMNode& node, IChangeListener& listener) { Register(node, listener, nullptr); }

void ChangeListener::AddListenerNode(SMNode& node, std::shared_ptr<IChangeListener> listener) {
    if (!listener) RaiseError(kErrInvalidArgument);
    IChangeListener& l = *listener;
    Register(node, l, std::move(listener));
}

void ChangeListener::Unlink(Entry* entry) noexcept {
    if (skip_ == entry) skip_ = nullptr;
    if (tagged_ == entry) tagged_ = nullptr;
    entry->hub = nullptr;
    // The listener may be the last thing keeping itself alive: let it go last.
    std::shared_ptr<IChangeListener> owned = std::move(entry->owned);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.get() == entry; });
    if (it != entries_.end()) entries_.erase(it);
}

ChangeListener::Entry* ChangeListener::EntryOf(const SMNode& node) const noexcept {
    return node.entry_ && node.entry_->hub == this ? node.entry_.get() : nullptr;
}

void ChangeListener::SkipListenerOnce(const SMNode& node) {
    if (Entry* e = EntryOf(node)) {
        skip_ = e;
        tagged_ = nullptr;
    }
}

void ChangeListener::TagListenerOnce(const SMNode& node, ListenerTag tag) {
    if (Entry* e = EntryOf(node)) {
        tagged_ = e;
        tagValue_ = tag;
        skip_ = nullptr;
    }
}

void ChangeListener::ClearListenerMarks() noexcept {
    skip_ = nullptr;
    tagged_ = nullptr;
}

bool ChangeListener::SkipsOnce(const SMNode& node) const noexcept {
    const Entry* e = EntryOf(node);
    return e && e == skip_;
}

template <class Call>
void ChangeListener::Broadcast(Marks marks, Call&& call) {
    // Registrations may end or begin while listeners run: walk a copy, and
    // skip every entry whose registration has ended meanwhile.
    const std::vector<std::shared_ptr<Entry>> snapshot = entries_;
    std::optional<ErrorRecord> firstError;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        Entry* e = it->get();
        if (e->hub != this) continue;
        ListenerTag tag = 0;
        if (marks != Marks::Ignore) {
            if (e == skip_) {
                if (marks == Marks::Use) skip_ = nullptr;
                continue;
            }
            if (e == tagged_) {
                if (marks == Marks::Use) tagged_ = nullptr;
                tag = tagValue_;
            }
        }
        const std::shared_ptr<IChangeListener> keepAlive = e->owned;
        try {
            call(*e->listener, tag);
        } catch (...) {
            if (!firstError) firstError = CurrentErrorRecord();
        }
    }
    if (firstError) throw *firstError;
}

void ChangeListener::Notify(ChangeNotice notice, ChangeTarget& target, IChange& change, int32_t flags) {
    Broadcast(Marks::Use, [&](IChangeListener& l, ListenerTag tag) { (l.*notice)(target, change, flags, tag); });
}

void ChangeListener::RefreshCurrentSelection(ListenerTag) {
    Broadcast(Marks::Use, [&](IChangeListener& l, ListenerTag tag) { l.RefreshCurrentSelection(tag); });
}

void ChangeListener::SelectTarget(ChangeTarget& target, ListenerTag) {
    Broadcast(Marks::Use, [&](IChangeListener& l, ListenerTag tag) { l.SelectTarget(target, tag); });
}

void ChangeListener::ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) {
    Broadcast(Marks::Ignore, [&](IChangeListener& l, ListenerTag) { l.ProvideExternalTypeRedirection(redirection); });
}

void ChangeListener::OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag) {
    Broadcast(Marks::UseAndKeep,
              [&](IChangeListener& l, ListenerTag tag) { l.OnBeforeTypeChange(target, change, cancel, tag); });
}

void ChangeListener::OnLibraryChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnLibraryChange, target, change, flags);
}

void ChangeListener::OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnTypeChange, target, change, flags);
}

void ChangeListener::OnImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnImplTypeChange, target, change, flags);
}

void ChangeListener::OnMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnMemberChange, target, change, flags);
}

void ChangeListener::OnParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnParamChange, target, change, flags);
}

void ChangeListener::OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnDeleteChange, target, change, flags);
}

void ChangeListener::OnRemoveParamArrayChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnRemoveParamArrayChange, target, change, flags);
}

void ChangeListener::OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnRenameChange, target, change, flags);
}

void ChangeListener::OnFlattenInterfaceChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnFlattenInterfaceChange, target, change, flags);
}

void ChangeListener::OnResetAutomaticIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnResetAutomaticIDsChange, target, change, flags);
}

void ChangeListener::OnResetAllIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnResetAllIDsChange, target, change, flags);
}

void ChangeListener::OnReorderVTableChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnReorderVTableChange, target, change, flags);
}

void ChangeListener::OnReorderVarsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnReorderVarsChange, target, change, flags);
}

void ChangeListener::OnAddTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnAddTypeChange, target, change, flags);
}

void ChangeListener::OnAddImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnAddImplTypeChange, target, change, flags);
}

void ChangeListener::OnInsertParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnInsertParamChange, target, change, flags);
}

void ChangeListener::OnAddMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnAddMemberChange, target, change, flags);
}

void ChangeListener::OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnInternalizeTypesChange, target, change, flags);
}

void ChangeListener::OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnRedirectTypesChange, target, change, flags);
}

void ChangeListener::OnCopyMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnCopyMemberChange, target, change, flags);
}

void ChangeListener::OnHelpChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnHelpChange, target, change, flags);
}

void ChangeListener::OnReorderTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnReorderTypesChange, target, change, flags);
}

void ChangeListener::OnCustDataChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag) {
    Notify(&IChangeListener::OnCustDataChange, target, change, flags);
}

}  // namespace zephrin

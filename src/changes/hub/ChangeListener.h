// The hub of the edit model. The view passes it as the listener to every
// change it applies; the hub passes every notification on to the listeners
// registered with it (the view, each history engine, the windows' dirty-flag
// listeners), newest registration first.
//
// It can leave one registration out of the next broadcast (so that a history
// engine does not record its own replay) or hand one registration a tag in the
// next broadcast (so that the engine learns which history item a selection
// came from). A mark lasts until a broadcast other than OnBeforeTypeChange
// reaches its node, until the other mark is set, until ClearListenerMarks, or
// until its node's registration ends.
//
// A listener that fails does not stop a broadcast: the change has been
// applied, so every other listener still hears of it; then the first error is
// raised. Listeners may end any registration during a broadcast; a listener
// whose registration has ended is not called any more.
#pragma once

#include <memory>
#include <vector>

#include "changes/hub/IChangeListener.h"
#include "changes/hub/SMNode.h"

namespace zephrin {

class ChangeListener final : public IChangeListener {
public:
    ChangeListener() = default;
    ChangeListener(const ChangeListener&) = delete;
    ChangeListener& operator=(const ChangeListener&) = delete;
    ~ChangeListener() override;

    // Registers listener with node (ending the node's former registration).
    // Weak: the hub does not own the listener, which must stay alive while the
    // node is registered (the registering object is the listener and keeps the
    // node). Strong: the hub keeps the listener alive until the registration ends.
    void AddListenerNode(SMNode& node, IChangeListener& listener);
    void AddListenerNode(SMNode& node, std::shared_ptr<IChangeListener> listener);

    // The next broadcast leaves node out; clears the tag mark.
    void SkipListenerOnce(const SMNode& node);
    // The next broadcast passes tag to node's listener; clears the skip mark.
    void TagListenerOnce(const SMNode& node, ListenerTag tag);
    void ClearListenerMarks() noexcept;
    // Whether the next broadcast still leaves node out: false once a broadcast
    // has reached node since SkipListenerOnce.
    bool SkipsOnce(const SMNode& node) const noexcept;

    // ---- IChangeListener: broadcasts (the incoming tag is not used) ----
    void RefreshCurrentSelection(ListenerTag tag) override;
    void SelectTarget(ChangeTarget& target, ListenerTag tag) override;
    // Every listener sees the same argument; marks are neither used nor cleared.
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) override;
    void OnLibraryChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRemoveParamArrayChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnFlattenInterfaceChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnResetAutomaticIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnResetAllIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnReorderVTableChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnReorderVarsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnInsertParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnCopyMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnHelpChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // The skip and tag marks apply but stay for the OnTypeChange that follows.
    void OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag tag) override;
    void OnReorderTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnCustDataChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;

private:
    friend class SMNode;
    using Entry = changes_detail::ListenerEntry;
    enum class Marks { Use, UseAndKeep, Ignore };

    void Register(SMNode& node, IChangeListener& listener, std::shared_ptr<IChangeListener> owned);
    void Unlink(Entry* entry) noexcept;
    Entry* EntryOf(const SMNode& node) const noexcept;
    // Calls call(listener, tag) for every registration, newest first.
    template <class Call>
    void Broadcast(Marks marks, Call&& call);
    using ChangeNotice = void (IChangeListener::*)(ChangeTarget&, IChange&, int32_t, ListenerTag);
    // Sends one change notice to every registration.
    void Notify(ChangeNotice notice, ChangeTarget& target, IChange& change, int32_t flags);

    std::vector<std::shared_ptr<Entry>> entries_;  // oldest first
    Entry* skip_ = nullptr;
    Entry* tagged_ = nullptr;
    ListenerTag tagValue_ = 0;
};

}  // namespace zephrin

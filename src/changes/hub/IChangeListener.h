// The listener interface of the edit model. Every applied change announces
// itself through one of the On...Change notifications; the hub
// (ChangeListener) passes each call on to every listener registered with it.
// tag is the value the hub hands one listener in one broadcast
// (ChangeListener::TagListenerOnce), 0 for everyone else. A listener fails by
// raising an error record.
#pragma once

#include <cstdint>

#include "changes/hub/ChangeTarget.h"
#include "platform/automation/Unknown.h"

namespace zephrin {

class IChange;
// The redirection watcher of the regeneration engine.
struct IExternalTypeRedirection;

using ListenerTag = int64_t;

class IChangeListener {
public:
    virtual ~IChangeListener() = default;

    virtual void RefreshCurrentSelection(ListenerTag tag) = 0;
    virtual void SelectTarget(ChangeTarget& target, ListenerTag tag) = 0;
    // A listener may supply the watcher; the last one that sets it wins.
    virtual void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) = 0;
    virtual void OnLibraryChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnRemoveParamArrayChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnFlattenInterfaceChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnResetAutomaticIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnResetAllIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnReorderVTableChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnReorderVarsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnAddTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnAddImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnInsertParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnAddMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnCopyMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnHelpChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    // Before a type change: a listener may set cancel to stop it.
    virtual void OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag tag) = 0;
    virtual void OnReorderTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
    virtual void OnCustDataChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) = 0;
};

}  // namespace zephrin

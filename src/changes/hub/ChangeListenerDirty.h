// A listener that turns every change notification into one ItemChanged call on
// its notify target; selections, redirection requests and the question before
// a type change are ignored. Windows use it, through
// ChangeListenerHook::AttachDirtyOnly, to learn that their document changed.
#pragma once

#include "changes/hub/IChangeListener.h"
#include "changes/hub/IChangeListenerNotifyDirty.h"

namespace zephrin {

class ChangeListenerDirty final : public IChangeListener {
public:
    // The target is not owned: its owner keeps it alive while it is set.
    void NotifyTarget(IChangeListenerNotifyDirty* target) { target_ = target; }

    void RefreshCurrentSelection(ListenerTag) override {}
    void SelectTarget(ChangeTarget&, ListenerTag) override {}
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>&) override {}
    void OnBeforeTypeChange(ChangeTarget&, IChange&, bool&, ListenerTag) override {}
    void OnLibraryChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnImplTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnParamChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnDeleteChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnRemoveParamArrayChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnRenameChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnFlattenInterfaceChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnResetAutomaticIDsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnResetAllIDsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnReorderVTableChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnReorderVarsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnAddTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnAddImplTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnInsertParamChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnAddMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnInternalizeTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnRedirectTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnCopyMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnHelpChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnReorderTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }
    void OnCustDataChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override { Changed(); }

private:
    void Changed() {
        if (target_) target_->ItemChanged();
    }

    IChangeListenerNotifyDirty* target_ = nullptr;
};

}  // namespace zephrin

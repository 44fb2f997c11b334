// A listener that hears only the notices it overrides: every other one is
// passed over.
#pragma once

#include "changes/hub/IChangeListener.h"

namespace zephrin {

class SelectiveChangeListener : public IChangeListener {
public:
    void RefreshCurrentSelection(ListenerTag) override {}
    void SelectTarget(ChangeTarget&, ListenerTag) override {}
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>&) override {}
    void OnLibraryChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnImplTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnParamChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnDeleteChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnRemoveParamArrayChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnRenameChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnFlattenInterfaceChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnResetAutomaticIDsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnResetAllIDsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnReorderVTableChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnReorderVarsChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnAddTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnAddImplTypeChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnInsertParamChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnAddMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnInternalizeTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnRedirectTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnCopyMemberChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnHelpChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnBeforeTypeChange(ChangeTarget&, IChange&, bool&, ListenerTag) override {}
    void OnReorderTypesChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
    void OnCustDataChange(ChangeTarget&, IChange&, int32_t, ListenerTag) override {}
};

}  // namespace zephrin

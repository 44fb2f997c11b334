#include "changes/hub/ChangeKind.h"

#include "changes/hub/IChangeListener.h"
#include "foundation/ErrorRecord.h"

namespace zephrin {

void NotifyListener(IChangeListener& l, ChangeKind kind, ChangeTarget& t, IChange& c, int32_t flags) {
    switch (kind) {
        case ChangeKind::LibChange: return l.OnLibraryChange(t, c, flags, 0);
        case ChangeKind::TypeChange: return l.OnTypeChange(t, c, flags, 0);
        case ChangeKind::ImplTypeChange: return l.OnImplTypeChange(t, c, flags, 0);
        case ChangeKind::MemberChange: return l.OnMemberChange(t, c, flags, 0);
        case ChangeKind::ParamChange: return l.OnParamChange(t, c, flags, 0);
        case ChangeKind::DeleteChange: return l.OnDeleteChange(t, c, flags, 0);
        case ChangeKind::RemoveParamArrayChange: return l.OnRemoveParamArrayChange(t, c, flags, 0);
        case ChangeKind::RenameChange: return l.OnRenameChange(t, c, flags, 0);
        case ChangeKind::FlattenChange: return l.OnFlattenInterfaceChange(t, c, flags, 0);
        case ChangeKind::ResetAutomaticIDsChange: return l.OnResetAutomaticIDsChange(t, c, flags, 0);
        case ChangeKind::ResetAllIDsChange: return l.OnResetAllIDsChange(t, c, flags, 0);
        case ChangeKind::ReorderVTableChange: return l.OnReorderVTableChange(t, c, flags, 0);
        case ChangeKind::ReorderVarsChange: return l.OnReorderVarsChange(t, c, flags, 0);
        case ChangeKind::AddImplTypeChange: return l.OnAddImplTypeChange(t, c, flags, 0);
        case ChangeKind::AddTypeChange: return l.OnAddTypeChange(t, c, flags, 0);
        case ChangeKind::InsertParamChange: return l.OnInsertParamChange(t, c, flags, 0);
        case ChangeKind::AddMemberChange: return l.OnAddMemberChange(t, c, flags, 0);
        case ChangeKind::InternalizeTypesChange: return l.OnInternalizeTypesChange(t, c, flags, 0);
        case ChangeKind::RedirectTypesChange: return l.OnRedirectTypesChange(t, c, flags, 0);
        case ChangeKind::CopyMemberChange: return l.OnCopyMemberChange(t, c, flags, 0);
        case ChangeKind::HelpChange: return l.OnHelpChange(t, c, flags, 0);
        case ChangeKind::ReorderTypesChange: return l.OnReorderTypesChange(t, c, flags, 0);
        case ChangeKind::CustDataChange: return l.OnCustDataChange(t, c, flags, 0);
    }
    RaiseError(kErrInvalidArgument);
}

}  // namespace zephrin

#include "changes/hub/ChangeKind.h"

#include "changes/hub/ChangeTarget.h"
#include "changes/hub/IChangeListener.h"
#include "foundation/ErrorRecord.h"

namespace zephrin {

uint32_t TargetKindsOf(uint8_t code) {
    constexpr uint32_t library = 1u << kTargetLibrary, type = 1u << kTargetType, impl = 1u << kTargetImplType,
                       member = 1u << kTargetMember, param = 1u << kTargetParam;
    switch (static_cast<ChangeKind>(code)) {
        case ChangeKind::LibChange:
        case ChangeKind::AddTypeChange:
        case ChangeKind::ReorderTypesChange: return library;
        case ChangeKind::TypeChange:
        case ChangeKind::FlattenChange:
        case ChangeKind::ResetAutomaticIDsChange:
        case ChangeKind::ResetAllIDsChange:
        case ChangeKind::ReorderVTableChange:
        case ChangeKind::ReorderVarsChange:
        case ChangeKind::AddImplTypeChange: return type;
        case ChangeKind::ImplTypeChange: return impl;
        case ChangeKind::MemberChange: return member;
        case ChangeKind::ParamChange: return param;
        case ChangeKind::DeleteChange: return type | impl | member | param;
        case ChangeKind::RenameChange: return library | type | member | param;
        // A parameter node offers Remove ParamArray on its ParamArray parameter.
        case ChangeKind::RemoveParamArrayChange:
        case ChangeKind::InsertParamChange: return member | param;
        case ChangeKind::AddMemberChange:
        case ChangeKind::CopyMemberChange: return type | member;
        case ChangeKind::HelpChange: return library | type | member;
        case ChangeKind::InternalizeTypesChange:
        case ChangeKind::RedirectTypesChange:
        case ChangeKind::CustDataChange: return kAnyTargetKind;
    }
    return 0;
}

void RequireTargetKind(ChangeKind kind, const ChangeTarget& target) {
    if (AcceptsTarget(Code(kind), target.Kind)) return;
    static constexpr const char16_t* kItems[] = {u"an item", u"a library", u"a type", u"an implemented interface",
                                                 u"a member", u"a parameter"};
    const bool known = target.Kind >= kTargetLibrary && target.Kind <= kTargetParam;
    RaiseError(kErrInvalidArgument,
               std::u16string(u"This change cannot be applied to ") + kItems[known ? target.Kind : 0] + u".");
}

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

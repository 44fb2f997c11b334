#include "changes/history/modRecorder.h"

#include <array>

#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/ImplTypeChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "foundation/modSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::modRecorder {

namespace {

using Creator = ChangePtr (*)(bool forceHeap);
using CreatorTable = std::array<Creator, 256>;

// The factory table: one line for each change kind that has been built, in
// code order. A kind is entered here when it is written, as
//     table[Code(ChangeKind::RenameChange)] = [](bool forceHeap) { return NewRenameChange(forceHeap); };
// Kinds are registered here rather than by objects of their own sources,
// which the linker would drop from a static library.
CreatorTable BuildCreatorTable() {
    CreatorTable table{};
    // Attribute kinds.
    table[Code(ChangeKind::LibChange)] = [](bool) -> ChangePtr { return modLibChange::NewLibChange(); };
    table[Code(ChangeKind::TypeChange)] = [](bool forceHeap) -> ChangePtr {
        return modTypeChange::NewTypeChange(forceHeap);
    };
    table[Code(ChangeKind::ImplTypeChange)] = [](bool forceHeap) -> ChangePtr {
        return modImplTypeChange::NewImplTypeChange(forceHeap);
    };
    table[Code(ChangeKind::MemberChange)] = [](bool forceHeap) -> ChangePtr {
        return modMemberChange::NewMemberChange(forceHeap);
    };
    table[Code(ChangeKind::ParamChange)] = [](bool forceHeap) -> ChangePtr {
        return modParamChange::NewParamChange(forceHeap);
    };
    // Structural kinds.
    table[Code(ChangeKind::DeleteChange)] = [](bool) { return modDeleteChange::GetDeleteChange(); };
    table[Code(ChangeKind::RemoveParamArrayChange)] = [](bool) {
        return modRemoveParamArrayChange::GetRemoveParamArrayChange();
    };
    table[Code(ChangeKind::RenameChange)] = [](bool f) -> ChangePtr { return modRenameChange::NewRenameChange(f); };
    table[Code(ChangeKind::FlattenChange)] = [](bool) { return modFlattenChange::GetFlattenChange(); };
    table[Code(ChangeKind::ResetAutomaticIDsChange)] = [](bool) {
        return modResetIDsChange::GetResetAutomaticIDsChange();
    };
    table[Code(ChangeKind::ResetAllIDsChange)] = [](bool) { return modResetIDsChange::GetResetAllIDsChange(); };
    table[Code(ChangeKind::ReorderVTableChange)] = [](bool f) -> ChangePtr {
        return modReorderVTableChange::NewReorderVTableChange(f);
    };
    table[Code(ChangeKind::ReorderVarsChange)] = [](bool f) -> ChangePtr {
        return modReorderVarsChange::NewReorderVarsChange(f);
    };
    table[Code(ChangeKind::AddImplTypeChange)] = [](bool f) -> ChangePtr {
        return modAddImplTypeChange::NewAddImplTypeChange(f);
    };
    table[Code(ChangeKind::AddTypeChange)] = [](bool f) -> ChangePtr { return modAddTypeChange::NewAddTypeChange(f); };
    table[Code(ChangeKind::InsertParamChange)] = [](bool f) -> ChangePtr {
        return modInsertParamChange::NewInsertParamChange(f);
    };
    table[Code(ChangeKind::AddMemberChange)] = [](bool f) -> ChangePtr {
        return modAddMemberChange::NewAddMemberChange(f);
    };
    table[Code(ChangeKind::InternalizeTypesChange)] = [](bool f) -> ChangePtr {
        return modInternalizeTypesChange::NewInternalizeTypesChange(f);
    };
    table[Code(ChangeKind::RedirectTypesChange)] = [](bool f) -> ChangePtr {
        return modRedirectTypesChange::NewRedirectTypesChange(f);
    };
    table[Code(ChangeKind::CopyMemberChange)] = [](bool f) -> ChangePtr {
        return modCopyMemberChange::NewCopyMemberChange(f);
    };
    table[Code(ChangeKind::ReorderTypesChange)] = [](bool f) -> ChangePtr {
        return modReorderTypesChange::NewReorderTypesChange(f);
    };
    table[Code(ChangeKind::HelpChange)] = [](bool f) -> ChangePtr { return modHelpChange::NewHelpChange(f); };
    table[Code(ChangeKind::CustDataChange)] = [](bool f) -> ChangePtr {
        return modCustDataChange::NewCustDataChange(f);
    };
    return table;
}

const CreatorTable& Creators() {
    static const CreatorTable table = BuildCreatorTable();
    return table;
}

}  // namespace

ChangePtr CreateChangeFromKind(uint8_t code) {
    if (!IsChangeKind(code)) return nullptr;
    const Creator create = Creators()[code];
    return create ? create(false) : nullptr;
}

std::vector<ChangeKind> RegisteredChangeKinds() {
    std::vector<ChangeKind> kinds;
    for (size_t code = 0; code < Creators().size(); ++code)
        if (Creators()[code]) kinds.push_back(static_cast<ChangeKind>(code));
    return kinds;
}

void FillTargetNames(ChangeTarget& t) {
    if (t.Kind <= kTargetLibrary || t.Kind > kTargetParam || !t.Library) return;
    if (t.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    const auto index = static_cast<ole::UINT>(t.TypeIndex);
    if (t.TypeName.empty()) {
        ole::BSTR name = nullptr;
        CheckHr(t.Library->GetDocumentation(t.TypeIndex, &name, nullptr, nullptr, nullptr));
        t.TypeName = modSupport::MakeNonNullString(name);
        ole::SysFreeString(name);
    }
    const bool needMember = t.Kind >= kTargetImplType && t.MemberName.empty();
    const bool needParam = t.Kind == kTargetParam && t.ParamName.empty();
    if (!needMember && !needParam) return;
    const ole::ComPtr<ole::ITypeInfo> type = modITypeInfoHelper::GetInterfaceTypeInfo(t.Library.get(), index);
    if (t.Kind == kTargetImplType) {
        if (t.MemberId < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        t.MemberName = modITypeInfoHelper::GetImplTypeName(type.get(), static_cast<ole::UINT>(t.MemberId));
    } else if (needParam) {
        std::u16string member, param;
        modITypeInfoHelper::GetMemberNames(type.get(), t.MemberId, t.ParamIndex, member, param);
        if (t.MemberName.empty()) t.MemberName = member;
        t.ParamName = param;
    } else {
        t.MemberName = modITypeInfoHelper::MemberNameFromID(type.get(), t.MemberId);
    }
}

std::u16string DescribeTarget(const ChangeTarget& target) {
    ChangeTarget t = target;
    try {
        FillTargetNames(t);
    } catch (const ErrorRecord&) {
        // Describe what is known.
    }
    const std::u16string member = t.TypeName + u"." + t.MemberName;
    switch (t.Kind) {
        case kTargetType:
            return modSupport::LoadResStringFormat(711, {modAttributeStrings::TypeKindText(t.TypeKind), t.TypeName});
        case kTargetImplType: return modSupport::LoadResStringFormat(712, {t.MemberName});
        case kTargetMember:
            return modSupport::LoadResStringFormat(
                713, {modAttributeStrings::TypeKindText(t.TypeKind),
                      modAttributeStrings::MemberKindText(t.TypeKind, t.InvokeKind), member});
        case kTargetParam:
            switch (t.SpecialParam) {
                case kParamNamed: return modSupport::LoadResStringFormat(714, {t.ParamName, member});
                case kParamLcid: return modSupport::LoadResStringFormat(715, {member});
                case kParamReturnValue: return modSupport::LoadResStringFormat(716, {member});
                case kParamRightHandSide: return modSupport::LoadResStringFormat(717, {member});
                default: return modSupport::LoadResStringFormat(714, {t.ParamName, member});
            }
        default: return modSupport::LoadResStringById(718);
    }
}

}  // namespace zephrin::modRecorder

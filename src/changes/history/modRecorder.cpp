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

}  // namespace zephrin::modRecorder

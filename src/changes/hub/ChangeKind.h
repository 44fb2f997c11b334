// The kind codes of change objects. code = 4 x index + flag bits, index 1 to 23:
// bit 0 marks a stateless kind (one shared object, no payload in the history
// file, nothing to bind or detach), bit 1 a kind whose replay first captures
// the live target's values in a fresh object of the kind. Codes fit a byte.
#pragma once

#include <array>
#include <cstdint>

namespace zephrin {

class IChange;
class IChangeListener;
struct ChangeTarget;

enum class ChangeKind : uint8_t {
    LibChange = 6,
    TypeChange = 10,
    ImplTypeChange = 14,
    MemberChange = 18,
    ParamChange = 22,
    DeleteChange = 25,
    RemoveParamArrayChange = 29,
    RenameChange = 34,
    FlattenChange = 37,
    ResetAutomaticIDsChange = 41,
    ResetAllIDsChange = 45,
    ReorderVTableChange = 48,
    ReorderVarsChange = 52,
    AddImplTypeChange = 56,
    AddTypeChange = 60,
    InsertParamChange = 64,
    AddMemberChange = 68,
    InternalizeTypesChange = 72,
    RedirectTypesChange = 76,
    CopyMemberChange = 80,
    HelpChange = 86,
    ReorderTypesChange = 90,
    CustDataChange = 94,
};

// Every kind, in the order of their indexes.
inline constexpr std::array<ChangeKind, 23> kAllChangeKinds = {
    ChangeKind::LibChange, ChangeKind::TypeChange, ChangeKind::ImplTypeChange, ChangeKind::MemberChange,
    ChangeKind::ParamChange, ChangeKind::DeleteChange, ChangeKind::RemoveParamArrayChange,
    ChangeKind::RenameChange, ChangeKind::FlattenChange, ChangeKind::ResetAutomaticIDsChange,
    ChangeKind::ResetAllIDsChange, ChangeKind::ReorderVTableChange, ChangeKind::ReorderVarsChange,
    ChangeKind::AddImplTypeChange, ChangeKind::AddTypeChange, ChangeKind::InsertParamChange,
    ChangeKind::AddMemberChange, ChangeKind::InternalizeTypesChange, ChangeKind::RedirectTypesChange,
    ChangeKind::CopyMemberChange, ChangeKind::HelpChange, ChangeKind::ReorderTypesChange,
    ChangeKind::CustDataChange};

constexpr uint8_t Code(ChangeKind kind) { return static_cast<uint8_t>(kind); }
constexpr bool IsStatelessKind(uint8_t code) { return (code & 1) != 0; }
constexpr bool CapturesTarget(uint8_t code) { return (code & 2) != 0; }
constexpr bool IsStatelessKind(ChangeKind kind) { return IsStatelessKind(Code(kind)); }
constexpr bool CapturesTarget(ChangeKind kind) { return CapturesTarget(Code(kind)); }

// True for the 23 codes above.
constexpr bool IsChangeKind(uint8_t code) {
    for (ChangeKind k : kAllChangeKinds)
        if (Code(k) == code) return true;
    return false;
}

// The target kinds (TargetKind) a change of this kind applies to, as the bits
// 1 << kind; 0 for a code that is no kind. Redirections, internalising and
// custom data take any target; every other kind only the items it edits.
uint32_t TargetKindsOf(uint8_t code);
constexpr uint32_t kAnyTargetKind = 0x3E;  // library, type, implemented interface, member, parameter
inline bool AcceptsTarget(uint8_t code, int32_t targetKind) {
    return targetKind >= 1 && targetKind <= 5 && (TargetKindsOf(code) & (1u << targetKind)) != 0;
}
// Raises error 5 unless a change of kind applies to target's kind of item.
// Every kind calls it first in Apply, so that a target of another kind (a
// history file may name any) changes nothing.
void RequireTargetKind(ChangeKind kind, const ChangeTarget& target);

// Calls on listener the notification that a change of this kind sends once it
// has applied itself: OnLibraryChange for LibChange ... OnCustDataChange for
// CustDataChange (a type change's OnBeforeTypeChange and a redirection's
// ProvideExternalTypeRedirection come before, from the kinds themselves).
void NotifyListener(IChangeListener& listener, ChangeKind kind, ChangeTarget& target, IChange& change, int32_t flags);

}  // namespace zephrin

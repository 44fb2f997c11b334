// Lets the layout give the members of a type new IDs: the automatically
// generated IDs only (kind 41), or the explicitly set ones too (kind 45).
// Two shared objects of one class; nothing is saved with them.
#pragma once

#include "changes/hub/ChangeKind.h"
#include "changes/hub/StatelessChange.h"

namespace zephrin {

class ResetIDsChange final : public StatelessChange {
public:
    explicit ResetIDsChange(bool includeExplicit) : includeExplicit_(includeExplicit) {}

    bool IncludeExplicit() const { return includeExplicit_; }
    ChangeKind Kind() const {
        return includeExplicit_ ? ChangeKind::ResetAllIDsChange : ChangeKind::ResetAutomaticIDsChange;
    }

    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Reset automatically generated MemberIDs for <target>", or "Reset
    // explicitly set and automatically generated MemberIDs for <target>"
    std::u16string Describe(ChangeTarget& target) override;

private:
    bool includeExplicit_;
};

namespace modResetIDsChange {
ChangePtr GetResetAutomaticIDsChange();
ChangePtr GetResetAllIDsChange();
}  // namespace modResetIDsChange

}  // namespace zephrin

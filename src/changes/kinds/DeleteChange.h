// Deletes what the target names: a type (the library is regenerated without
// it), an implemented interface, a member (for a member target with a set of
// property accessors, only those accessors) or a parameter. One shared
// object; nothing is saved with it.
#pragma once

#include "changes/hub/StatelessChange.h"

namespace zephrin {

class DeleteChange final : public StatelessChange {
public:
    // A library target deletes nothing and returns false. The listener
    // receives a copy of the target whose names were read before deleting.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Delete <target>"
    std::u16string Describe(ChangeTarget& target) override;
};

namespace modDeleteChange {
ChangePtr GetDeleteChange();
}  // namespace modDeleteChange

}  // namespace zephrin

// Copies the functions an interface inherits from non-standard base
// interfaces into it, so that it derives from IUnknown or IDispatch directly.
// One shared object; nothing is saved with it.
#pragma once

#include "changes/hub/StatelessChange.h"

namespace zephrin {

class FlattenChange final : public StatelessChange {
public:
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Directly include non-standard base interfaces on <target>"
    std::u16string Describe(ChangeTarget& target) override;
};

namespace modFlattenChange {
ChangePtr GetFlattenChange();
}  // namespace modFlattenChange

}  // namespace zephrin

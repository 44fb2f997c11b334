// Removes the ParamArray marking of the function the member target names.
// One shared object; nothing is saved with it.
#pragma once

#include "changes/hub/StatelessChange.h"

namespace zephrin {

class RemoveParamArrayChange final : public StatelessChange {
public:
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Remove ParamArray attribute from <target>"
    std::u16string Describe(ChangeTarget& target) override;
};

namespace modRemoveParamArrayChange {
ChangePtr GetRemoveParamArrayChange();
}  // namespace modRemoveParamArrayChange

}  // namespace zephrin

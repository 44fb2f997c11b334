// Gives the variables of a type a new order: each variable's new position,
// by present index (CustomTypeInfo::ReorderVars).
#pragma once

#include <vector>

#include "changes/hub/IChange.h"

namespace zephrin {

class ReorderVarsChange final : public IChange {
public:
    const std::vector<int16_t>& NewOrder() const { return newOrder_; }
    void NewOrder(std::vector<int16_t> order) { newOrder_ = std::move(order); }

    // True, and notifies, only when the variables were put in a new order;
    // an empty order (none given) changes nothing. An order that does not
    // name each position once is refused (error 5).
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Reorder member variables for <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // The order: an Integer count, then the Integers.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}

private:
    std::vector<int16_t> newOrder_;
};

namespace modReorderVarsChange {
std::shared_ptr<ReorderVarsChange> NewReorderVarsChange(bool forceHeap);
}  // namespace modReorderVarsChange

}  // namespace zephrin

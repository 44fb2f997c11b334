// Puts the types of the library in a new order: for each type index its new
// position. The library is regenerated in that order; the target then
// carries the new library as its ReplacementLibrary.
#pragma once

#include <vector>

#include "changes/hub/IChange.h"

namespace zephrin {

class ReorderTypesChange final : public IChange {
public:
    const std::vector<int16_t>& NewOrder() const { return newOrder_; }
    void NewOrder(std::vector<int16_t> order) { newOrder_ = std::move(order); }

    // An order whose size is not the library's type count raises error 9; one
    // that is not a permutation raises error 5; both before anything changes.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Reorder Types within Library"
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

namespace modReorderTypesChange {
std::shared_ptr<ReorderTypesChange> NewReorderTypesChange(bool forceHeap);
}  // namespace modReorderTypesChange

}  // namespace zephrin

#include "changes/kinds/ReorderVarsChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

namespace {

// Error 5 unless the order names each position from 0 on once.
void RequirePermutation(const std::vector<int16_t>& order) {
    std::vector<bool> seen(order.size());
    for (const int16_t position : order) {
        if (position < 0 || static_cast<size_t>(position) >= seen.size() || seen[static_cast<size_t>(position)])
            RaiseError(kErrInvalidArgument);
        seen[static_cast<size_t>(position)] = true;
    }
}

}  // namespace

bool ReorderVarsChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                              int32_t flags) {
    RequireTargetKind(ChangeKind::ReorderVarsChange, target);
    if (newOrder_.empty()) return false;
    ChangeTarget copy = target;
    RequirePermutation(newOrder_);
    if (!library.GetCustomTypeInfoByNumber(target.TypeIndex)->ReorderVars(newOrder_)) return false;
    if (listener) NotifyListener(*listener, ChangeKind::ReorderVarsChange, copy, *this, flags);
    return true;
}

std::u16string ReorderVarsChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(748, {modRecorder::DescribeTarget(target)});
}

ChangePtr ReorderVarsChange::Clone() {
    auto copy = modReorderVarsChange::NewReorderVarsChange(false);
    copy->NewOrder(newOrder_);
    return copy;
}

void ReorderVarsChange::Save(HistoryFileWriter& out, int32_t) { changes_detail::PutOrder(out, newOrder_); }

void ReorderVarsChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    newOrder_ = changes_detail::GetOrder(in);
}

namespace modReorderVarsChange {
std::shared_ptr<ReorderVarsChange> NewReorderVarsChange(bool) { return std::make_shared<ReorderVarsChange>(); }
}  // namespace modReorderVarsChange

}  // namespace zephrin

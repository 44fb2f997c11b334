#include "changes/kinds/ReorderTypesChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/kinds/ChangeRegeneration.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

namespace {

// The order must name every type once.
void CheckOrder(const std::vector<int16_t>& order, ole::UINT typeCount) {
    if (order.size() != typeCount) RaiseError(kErrSubscriptOutOfRange, modSupport::LoadResStringById(811));
    std::vector<bool> seen(order.size());
    for (int16_t position : order) {
        if (position < 0 || static_cast<size_t>(position) >= seen.size() || seen[static_cast<size_t>(position)])
            RaiseError(kErrInvalidArgument);
        seen[static_cast<size_t>(position)] = true;
    }
}

// Putting types in a new order regenerates the library in that order
// (order[k] is the new position of type k).
void RegenerateInOrder(CustomTypeLib& library, ChangeTarget& target, const std::vector<int16_t>& order) {
    const std::vector<int32_t> positions(order.begin(), order.end());
    const ole::ComPtr<ole::ITypeLib> regenerated = changes_detail::RegenerateInMemory(
        changes_detail::TargetLibrary(target),
        [&](TLBModifier& modifier) { modifier.ReorderStartingTypes(positions); });
    changes_detail::AdoptRegenerated(library, target, regenerated.get());
}

}  // namespace

bool ReorderTypesChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                               int32_t flags) {
    RequireTargetKind(ChangeKind::ReorderTypesChange, target);
    CheckOrder(newOrder_, changes_detail::TargetLibrary(target)->GetTypeInfoCount());
    RegenerateInOrder(library, target, newOrder_);
    ChangeTarget copy = target;
    if (listener) NotifyListener(*listener, ChangeKind::ReorderTypesChange, copy, *this, flags);
    return true;
}

std::u16string ReorderTypesChange::Describe(ChangeTarget&) { return modSupport::LoadResStringById(750); }

ChangePtr ReorderTypesChange::Clone() {
    auto copy = modReorderTypesChange::NewReorderTypesChange(false);
    copy->NewOrder(newOrder_);
    return copy;
}

void ReorderTypesChange::Save(HistoryFileWriter& out, int32_t) { changes_detail::PutOrder(out, newOrder_); }

void ReorderTypesChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    newOrder_ = changes_detail::GetOrder(in);
}

namespace modReorderTypesChange {
std::shared_ptr<ReorderTypesChange> NewReorderTypesChange(bool) { return std::make_shared<ReorderTypesChange>(); }
}  // namespace modReorderTypesChange

}  // namespace zephrin

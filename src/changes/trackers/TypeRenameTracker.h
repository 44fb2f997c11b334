// Collects, while it is registered with the hub, which types were renamed
// from what to what, so that a client can rename references to them
// elsewhere. One record per renamed type: its name before the first rename and
// its latest name; renaming a type back to its first name drops the record, as
// does deleting the type, or a regeneration of the library that leaves no type
// of the record's latest name. Names are matched without regard to case, as
// the library matches them. Member and parameter renames are not tracked.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "changes/hub/ChangeListener.h"
#include "changes/hub/SMNode.h"
#include "changes/hub/SelectiveChangeListener.h"
#include "changes/trackers/TypeRenameRecord.h"

namespace zephrin {

class TypeRenameTracker final : public SelectiveChangeListener {
public:
    TypeRenameTracker() = default;
    TypeRenameTracker(const TypeRenameTracker&) = delete;
    TypeRenameTracker& operator=(const TypeRenameTracker&) = delete;

    std::shared_ptr<zephrin::ChangeListener> ChangeListener() const { return hub_; }
    // Registers the tracker with hub (null: with none).
    void ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub);

    // The most recently created record, or null when no type is renamed.
    std::shared_ptr<TypeRenameRecord> FirstChange() const { return head_; }

    // A deleted type loses its record.
    void OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // Records a rename of a type; the target carries the name the type had.
    void OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // A redirection that replaced the library and with it deleted a type (the
    // definition of a type replaced by another of the same library) drops the
    // record of every type the new library no longer has.
    void OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;

private:
    // The record whose latest name is name, or null.
    std::shared_ptr<TypeRenameRecord> Find(std::u16string_view name) const;
    // Gives the record a new latest name, under which it is found from then on.
    void SetLatestName(const std::shared_ptr<TypeRenameRecord>& record, const std::u16string& name);
    void Unindex(const std::shared_ptr<TypeRenameRecord>& record);
    // Unlinks the record from the list and empties it.
    void FreeRenameRecord(const std::shared_ptr<TypeRenameRecord>& record);

    std::shared_ptr<zephrin::ChangeListener> hub_;
    SMNode node_;  // after hub_: the registration ends first
    std::shared_ptr<TypeRenameRecord> head_;
    // The records by latest name, case folded, so that a rename costs the
    // same however many types were renamed before.
    std::unordered_map<std::u16string, std::shared_ptr<TypeRenameRecord>> byName_;
};

}  // namespace zephrin

// Adds, replaces and removes custom-data items (a GUID with a value) of one
// item of the edited library: the library, a type, an implemented interface,
// a variable, a function or a parameter. The custom-data dialog fills the
// item's current data with InitFromTarget, records each edit with SetItem and
// RemoveItem, and applies the change.
//
// New and changed values are written in place. The library offers no way to
// remove an item, so removals regenerate the library, with the change as the
// regeneration's custom-data modifier filtering the removed GUIDs out of the
// target item; the new values are then written into the regenerated library.
// So are several new items at once: in place, an item added before a failing
// write could not be taken away again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "changes/hub/IChange.h"
#include "platform/automation/Variant.h"
#include "regen/IModifyCustData.h"

namespace zephrin {

struct CustDataItem {
    ole::GUID Guid{};
    ole::Variant Value;
};

class CustDataChange final : public IChange {
public:
    // The target's custom data as InitFromTarget read it.
    const std::vector<CustDataItem>& CurrentCustData() const { return current_; }
    // The pending sets and removals, newest first (a removal's value is Empty).
    const std::vector<CustDataItem>& SetList() const { return sets_; }
    const std::vector<CustDataItem>& RemoveList() const { return removes_; }
    int32_t SetCount() const { return static_cast<int32_t>(sets_.size()); }
    int32_t RemoveCount() const { return static_cast<int32_t>(removes_.size()); }

    // Records a new value for guid. A value equal to the current one drops a
    // pending set instead; a pending removal of guid is dropped.
    void SetItem(const ole::GUID& guid, const ole::Variant& value);
    // Records the removal of guid: drops a pending set of it, and removes it
    // from the item when the item holds it (or when nothing was pending).
    void RemoveItem(const ole::GUID& guid);
    // The pending value, else the current one, else Empty.
    ole::Variant GetItem(const ole::GUID& guid) const;

    // Nothing at all happens without a pending set or removal. A failing
    // write undoes the writes before it; a failed regeneration leaves the
    // library as it was.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Change customdata attributes on <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget& target) override;
    // Both lists; not the current data.
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return !sets_.empty() || !removes_.empty(); }
    // RemoveCount and SetCount (Integers), the removed GUIDs, then each set's
    // GUID and value, in list order. A value the file cannot hold (an object
    // or an array) is refused.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override { current_.clear(); }

private:
    class Modifier;

    std::vector<CustDataItem> current_;
    std::vector<CustDataItem> sets_;
    std::vector<CustDataItem> removes_;
};

namespace modCustDataChange {
std::shared_ptr<CustDataChange> NewCustDataChange(bool forceHeap);
}  // namespace modCustDataChange

}  // namespace zephrin

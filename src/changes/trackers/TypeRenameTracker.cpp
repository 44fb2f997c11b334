#include "changes/trackers/TypeRenameTracker.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "changes/kinds/RenameChange.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

namespace {

// Type names of a library compare without regard to case: a name as a key.
std::u16string Folded(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key) c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
    return key;
}

// The names of the library's types; empty when they cannot be read.
std::vector<std::u16string> TypeNames(ole::ITypeLib* lib) {
    std::vector<std::u16string> names;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ole::BSTR name = nullptr;
        if (ole::FAILED(lib->GetDocumentation(static_cast<ole::INT>(i), &name, nullptr, nullptr, nullptr))) return {};
        names.push_back(typelib_detail::TakeBstr(name));
    }
    return names;
}

}  // namespace

void TypeRenameTracker::ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub) {
    node_.Release();
    hub_ = std::move(hub);
    if (hub_) hub_->AddListenerNode(node_, static_cast<IChangeListener&>(*this));
}

std::shared_ptr<TypeRenameRecord> TypeRenameTracker::Find(std::u16string_view name) const {
    const auto it = byName_.find(Folded(name));
    return it == byName_.end() ? nullptr : it->second;
}

void TypeRenameTracker::Unindex(const std::shared_ptr<TypeRenameRecord>& record) {
    const auto it = byName_.find(Folded(record->latestName_));
    if (it != byName_.end() && it->second == record) byName_.erase(it);
}

void TypeRenameTracker::SetLatestName(const std::shared_ptr<TypeRenameRecord>& record, const std::u16string& name) {
    Unindex(record);
    record->latestName_ = name;
    byName_[Folded(name)] = record;
}

void TypeRenameTracker::FreeRenameRecord(const std::shared_ptr<TypeRenameRecord>& record) {
    Unindex(record);
    std::shared_ptr<TypeRenameRecord> next = std::move(record->next_);
    if (next) next->previous_ = record->previous_;
    if (record->previous_)
        record->previous_->next_ = std::move(next);
    else if (head_ == record)
        head_ = std::move(next);
    record->previous_ = nullptr;
    record->firstName_.clear();
    record->latestName_.clear();
    record->targetValue_ = 0;
}

void TypeRenameTracker::OnRenameChange(ChangeTarget& target, IChange& change, int32_t, ListenerTag) {
    if (target.Kind != kTargetType || target.TypeName.empty()) return;
    const auto* rename = dynamic_cast<RenameChange*>(&change);
    if (!rename) return;
    const std::u16string& newName = rename->NewName();
    const std::u16string& current = target.TypeName;
    if (std::shared_ptr<TypeRenameRecord> record = Find(current)) {
        if (record->firstName_ == newName) {
            FreeRenameRecord(record);  // back at its first name
        } else {
            // A record of a type that had the new name before and was not seen
            // to go would be a second record under that name: it is stale.
            if (std::shared_ptr<TypeRenameRecord> stale = Find(newName); stale && stale != record)
                FreeRenameRecord(stale);
            SetLatestName(record, newName);
        }
        return;
    }
    if (newName == current) return;  // nothing was renamed
    if (std::shared_ptr<TypeRenameRecord> stale = Find(newName)) FreeRenameRecord(stale);
    auto record = std::make_shared<TypeRenameRecord>();
    record->firstName_ = current;
    record->targetValue_ = target.TypeKind;
    SetLatestName(record, newName);
    if (head_) head_->previous_ = record.get();
    record->next_ = std::move(head_);
    head_ = std::move(record);
}

void TypeRenameTracker::OnDeleteChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    if (target.Kind != kTargetType || target.TypeName.empty()) return;
    if (std::shared_ptr<TypeRenameRecord> record = Find(target.TypeName)) FreeRenameRecord(record);
}

void TypeRenameTracker::OnRedirectTypesChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    if (!head_ || !target.ReplacementLibrary) return;
    const std::vector<std::u16string> names = TypeNames(target.ReplacementLibrary.get());
    if (names.empty() && target.ReplacementLibrary->GetTypeInfoCount() != 0) return;  // unreadable: keep all
    std::unordered_set<std::u16string> kept;
    for (const std::u16string& n : names) kept.insert(Folded(n));
    std::vector<std::shared_ptr<TypeRenameRecord>> gone;
    for (std::shared_ptr<TypeRenameRecord> r = head_; r; r = r->next_)
        if (!kept.count(Folded(r->latestName_))) gone.push_back(r);
    for (const auto& r : gone) FreeRenameRecord(r);
}

}  // namespace zephrin

#include "changes/TypeRenameTracker.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "changes/RenameChange.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

namespace {

// Type names of a library compare without regard to case.
bool SameName(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
    });
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
    for (std::shared_ptr<TypeRenameRecord> r = head_; r; r = r->next_)
        if (SameName(r->latestName_, name)) return r;
    return nullptr;
}

void TypeRenameTracker::FreeRenameRecord(const std::shared_ptr<TypeRenameRecord>& record) {
    if (head_ == record) {
        head_ = record->next_;
    } else {
        for (TypeRenameRecord* r = head_.get(); r; r = r->next_.get())
            if (r->next_ == record) {
                r->next_ = record->next_;
                break;
            }
    }
    record->next_.reset();
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
            record->latestName_ = newName;
        }
        return;
    }
    if (newName == current) return;  // nothing was renamed
    if (std::shared_ptr<TypeRenameRecord> stale = Find(newName)) FreeRenameRecord(stale);
    auto record = std::make_shared<TypeRenameRecord>();
    record->firstName_ = current;
    record->latestName_ = newName;
    record->targetValue_ = target.TypeKind;
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
    std::vector<std::shared_ptr<TypeRenameRecord>> gone;
    for (std::shared_ptr<TypeRenameRecord> r = head_; r; r = r->next_)
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::u16string& n) { return SameName(n, r->latestName_); }))
            gone.push_back(r);
    for (const auto& r : gone) FreeRenameRecord(r);
}

}  // namespace zephrin

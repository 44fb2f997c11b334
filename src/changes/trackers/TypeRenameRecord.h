// One renamed type as the type rename tracker reports it: the name the type
// had before its first rename and its latest name. Records form a list, the
// most recently created first; a record keeps the rest of the list alive, so
// a client can walk it after the tracker has gone. A record the tracker drops
// (its type was renamed back or deleted) is emptied and ends the list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zephrin {

class TypeRenameRecord {
public:
    const std::u16string& FirstName() const { return firstName_; }
    const std::u16string& LatestName() const { return latestName_; }
    // The type's kind as the target of its first rename gave it (ChangeTarget::TypeKind).
    int32_t TargetValue() const { return targetValue_; }
    // The next record, or null at the end.
    std::shared_ptr<TypeRenameRecord> NextRecord() const { return next_; }

private:
    friend class TypeRenameTracker;

    std::u16string firstName_;
    std::u16string latestName_;
    int32_t targetValue_ = 0;
    std::shared_ptr<TypeRenameRecord> next_;
    TypeRenameRecord* previous_ = nullptr;  // null for the first record
};

}  // namespace zephrin

// Gives the library, a type, a member or a parameter a new name. An
// implemented interface takes no name of its own (error 5).
#pragma once

#include <string>

#include "changes/hub/IChange.h"

namespace zephrin {

class RenameChange final : public IChange {
public:
    const std::u16string& NewName() const { return newName_; }
    void NewName(std::u16string_view name) { newName_ = std::u16string(name); }

    // The listener receives a copy of the target with the names it had
    // before (missing ones read from the library first).
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Rename <target> to '<new name>'"
    std::u16string Describe(ChangeTarget& target) override;
    // NewName := the target's present name.
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    // True when the names differ (case-sensitive); always for another kind.
    bool Differs(IChange& other) override;
    // The name as one String.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}

private:
    std::u16string newName_;
};

namespace modRenameChange {
std::shared_ptr<RenameChange> NewRenameChange(bool forceHeap);
}  // namespace modRenameChange

}  // namespace zephrin

// Adds a new member to a type: a variable, constant, field or enum value
// (InvokeKind 0); a function (1); the accessors of a new property (2 get,
// 4 put, 8 putref, or sums such as 6 and 10); or, on a member target, the
// missing accessor (2, 4 or 8) of that property. Names come from the string
// table, made unique with a number (Method1, Property1, ...); types are Long,
// Variant or the property's own; module functions get placeholder DLL names.
#pragma once

#include <string>

#include "changes/hub/IChange.h"

namespace zephrin {

class ScopeGuard;

class AddMemberChange final : public IChange {
public:
    int32_t InvokeKind() const { return invokeKind_; }
    void InvokeKind(int32_t kind) { invokeKind_ = static_cast<int16_t>(kind); }
    bool UseLibraryHelpFiles() const { return useLibraryHelpFiles_; }
    void UseLibraryHelpFiles(bool value) { useLibraryHelpFiles_ = value; }
    // The new member, from Apply on a type target until the change is
    // detached from the library (not set when a missing accessor is added).
    int32_t NewMemberId() const { return newMemberId_; }
    const std::u16string& NewMemberName() const { return newMemberName_; }

    // Error 5, before anything changes, for an InvokeKind with none of the
    // bits 1, 2, 4 and 8, for a member target with an InvokeKind other than
    // 0, 2, 4 or 8, and for a data member of an interface, coclass or alias.
    // Should a later step fail, what was added is removed again.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Add <member kind> to <target>" or "Add <member kind> after <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // InvokeKind and UseLibraryHelpFiles, one byte each; the second is read
    // from files of version 4 and later only.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override { newMemberName_.clear(); }

private:
    void AddDataMember(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback);
    void AddFunction(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback);
    void AddAccessor(CustomTypeLib& library, const ChangeTarget& target, ScopeGuard& rollback);

    int16_t invokeKind_ = 0;
    bool useLibraryHelpFiles_ = false;
    int32_t newMemberId_ = 0;
    std::u16string newMemberName_;
};

namespace modAddMemberChange {
std::shared_ptr<AddMemberChange> NewAddMemberChange(bool forceHeap);
}  // namespace modAddMemberChange

}  // namespace zephrin

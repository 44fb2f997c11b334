// Adds a new type of one of the eight kinds to the library, named from the
// string table and made unique (Interface1, Interface2, ...). Interfaces,
// dispinterfaces and coclasses get a fresh GUID; an interface derives from
// IUnknown, a dispinterface from IDispatch, an alias names Long.
#pragma once

#include "changes/hub/IChange.h"

namespace zephrin {

class AddTypeChange final : public IChange {
public:
    // The TYPEKIND to add, 0 (enum) to 7 (union).
    int32_t TypeKind() const { return typeKind_; }
    void TypeKind(int32_t kind) { typeKind_ = static_cast<int16_t>(kind); }
    // Re-set the library's primary help files before adding.
    bool UseLibraryHelpFiles() const { return useLibraryHelpFiles_; }
    void UseLibraryHelpFiles(bool value) { useLibraryHelpFiles_ = value; }
    // The GUID the last Apply gave the new type; the null GUID for a kind
    // that gets none, and before an Apply. It is not kept in a history: the
    // history engine records it as a change of the type's GUID of its own.
    const ole::GUID& NewGuid() const { return newGuid_; }
    // For the next Apply only: when the type it adds gets the name typeName
    // and needs a GUID, it gets guid instead of a fresh one (a fresh one
    // still when the library already has a type of that GUID). A replay sets
    // it when the history gives the added type its GUID right after the add.
    void GiveGuidOnce(std::u16string typeName, const ole::GUID& guid) {
        given_ = Given{std::move(typeName), guid};
    }

    // Adds the type and writes its index, kind and name into the target,
    // whose kind stays "library". A type kind outside 0 to 7 raises error 5
    // before anything changes; should a step after the creation fail, the new
    // type is deleted again.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Add <type kind> type"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // TypeKind and UseLibraryHelpFiles, one byte each; the second is read
    // from files of version 4 and later only.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}

private:
    int16_t typeKind_ = 0;
    bool useLibraryHelpFiles_ = false;
    ole::GUID newGuid_{};
    struct Given {
        std::u16string TypeName;
        ole::GUID Guid{};
    } given_;
};

namespace modAddTypeChange {
std::shared_ptr<AddTypeChange> NewAddTypeChange(bool forceHeap);
}  // namespace modAddTypeChange

}  // namespace zephrin

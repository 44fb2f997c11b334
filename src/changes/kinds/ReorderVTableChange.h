// Gives the functions of an interface a new vtable order: one byte offset
// per function, by present index (CustomTypeInfo::ReorderVTable).
#pragma once

#include <vector>

#include "changes/hub/IChange.h"

namespace zephrin {

class ReorderVTableChange final : public IChange {
public:
    const std::vector<int16_t>& Offsets() const { return offsets_; }
    void Offsets(std::vector<int16_t> offsets) { offsets_ = std::move(offsets); }
    bool SynchronizeFuncDescs() const { return fSynchronizeFuncDescs_; }
    void SynchronizeFuncDescs(bool value) { fSynchronizeFuncDescs_ = value; }

    // Always notifies once applied.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Reorder VTable for <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // The offsets (Integer count, then the Integers), then fSynchronizeFuncDescs.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override {}

private:
    std::vector<int16_t> offsets_;
    bool fSynchronizeFuncDescs_ = false;
};

namespace modReorderVTableChange {
std::shared_ptr<ReorderVTableChange> NewReorderVTableChange(bool forceHeap);
}  // namespace modReorderVTableChange

}  // namespace zephrin

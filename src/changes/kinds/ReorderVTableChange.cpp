#include "changes/kinds/ReorderVTableChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

bool ReorderVTableChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                                int32_t flags) {
    RequireTargetKind(ChangeKind::ReorderVTableChange, target);
    ChangeTarget copy = target;
    library.GetCustomTypeInfoByNumber(target.TypeIndex)->ReorderVTable(offsets_, fSynchronizeFuncDescs_);
    if (listener) NotifyListener(*listener, ChangeKind::ReorderVTableChange, copy, *this, flags);
    return true;
}

std::u16string ReorderVTableChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(749, {modRecorder::DescribeTarget(target)});
}

ChangePtr ReorderVTableChange::Clone() {
    auto copy = modReorderVTableChange::NewReorderVTableChange(false);
    copy->offsets_ = offsets_;
    copy->fSynchronizeFuncDescs_ = fSynchronizeFuncDescs_;
    return copy;
}

void ReorderVTableChange::Save(HistoryFileWriter& out, int32_t) {
    changes_detail::PutOrder(out, offsets_);
    out.PutBoolean(fSynchronizeFuncDescs_);
}

void ReorderVTableChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    offsets_ = changes_detail::GetOrder(in);
    fSynchronizeFuncDescs_ = in.GetBoolean();
}

namespace modReorderVTableChange {
std::shared_ptr<ReorderVTableChange> NewReorderVTableChange(bool) { return std::make_shared<ReorderVTableChange>(); }
}  // namespace modReorderVTableChange

}  // namespace zephrin

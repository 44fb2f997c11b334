#include "changes/hub/HistoryFileWriter.h"

#include "changes/hub/VTICache.h"
#include "foundation/ErrorRecord.h"

namespace zephrin {

void HistoryFileWriter::PutTypeRef(const std::shared_ptr<ICachedVarType>& entry) {
    PutLong(cache_.OrdinalOf(entry.get()) + 1);
}

void HistoryFileWriter::PutTypeOrdinal(const std::shared_ptr<ICachedVarType>& entry) {
    const int32_t ordinal = cache_.OrdinalOf(entry.get());
    if (ordinal < 0)
        RaiseError(kErrInvalidArgument, u"The change refers to a type description that the history does not hold.");
    PutLong(ordinal);
}

}  // namespace zephrin

// The record stream a history file is written to, handed to IChange::Save.
// Besides the fields of RecordWriter it writes references to the entries of
// the history reference cache, by their ordinal in the type-description table,
// in either of the two forms the change kinds use.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/RecordWriter.h"

namespace zephrin {

class ICachedVarType;
class VTICache;

class HistoryFileWriter : public RecordWriter {
public:
    HistoryFileWriter(VTICache& cache, int32_t version) : cache_(cache), version_(version) {}

    int32_t Version() const { return version_; }
    VTICache& Cache() { return cache_; }

    // A Long: the ordinal + 1, or 0 for no entry (an entry the cache does not
    // hold is none as well).
    void PutTypeRef(const std::shared_ptr<ICachedVarType>& entry);
    // A Long: the 0-based ordinal. An entry that is missing, or not held by
    // the cache, raises error 5 and writes nothing.
    void PutTypeOrdinal(const std::shared_ptr<ICachedVarType>& entry);

private:
    VTICache& cache_;
    int32_t version_;
};

}  // namespace zephrin

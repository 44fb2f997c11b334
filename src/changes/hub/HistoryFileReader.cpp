#include "changes/hub/HistoryFileReader.h"

#include "changes/hub/VTICache.h"
#include "foundation/modSupport.h"

namespace zephrin {

HistoryFileReader::HistoryFileReader(std::span<const std::byte> bytes)
    : RecordReader(bytes, modSupport::LoadResStringById(710)) {}

std::shared_ptr<ICachedVarType> HistoryFileReader::Entry(int32_t ordinal) {
    if (!cache_) Refuse();
    return cache_->GetVarType(ordinal);
}

std::shared_ptr<ICachedVarType> HistoryFileReader::GetTypeRef() {
    const int32_t ref = GetLong();
    if (ref < 0) Refuse();
    return ref == 0 ? nullptr : Entry(ref - 1);
}

std::shared_ptr<ICachedVarType> HistoryFileReader::GetTypeOrdinal() { return Entry(GetLong()); }

}  // namespace zephrin

// The record stream a history file is read from, handed to IChange::Load.
// Every read is checked: a file that ends early raises error 62 "Input past
// end of file"; content that breaks the format raises error 5 "Library Edit
// History file has unrecognized format.". References to type descriptions come
// back as entries of the cache being read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "foundation/RecordReader.h"

namespace zephrin {

class ICachedVarType;
class VTICache;

class HistoryFileReader : public RecordReader {
public:
    explicit HistoryFileReader(std::span<const std::byte> bytes);

    // The file's version (after the header was read): fields a kind added in
    // a version are read only from files of that version or later.
    int32_t Version() const { return version_; }
    void Version(int32_t version) { version_ = version; }
    // The cache whose tables are being read (set while the records are read).
    VTICache* Cache() const { return cache_; }
    void Cache(VTICache* cache) { cache_ = cache; }

    // A Long: the ordinal + 1, or 0 for none (null).
    std::shared_ptr<ICachedVarType> GetTypeRef();
    // A Long: the 0-based ordinal.
    std::shared_ptr<ICachedVarType> GetTypeOrdinal();

private:
    std::shared_ptr<ICachedVarType> Entry(int32_t ordinal);

    int32_t version_ = 0;
    VTICache* cache_ = nullptr;
};

}  // namespace zephrin

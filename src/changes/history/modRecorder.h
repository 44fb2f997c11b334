// The change kind factory and the Library Edit History file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <span>
#include <string>
#include <vector>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/ChangeNode.h"
#include "changes/hub/ChangeTarget.h"
#include "changes/hub/IChange.h"

namespace zephrin {
class HistoryFileReader;
class HistoryFileWriter;
class VTICache;
}  // namespace zephrin

namespace zephrin::modRecorder {

// A new, empty change of the kind with that code (made by the kind's creator
// with forceHeap false; the shared object of a stateless kind). Null for a
// code that is no kind, and for a kind not registered in the factory table.
ChangePtr CreateChangeFromKind(uint8_t code);
// The kinds the factory table holds, in code order.
std::vector<ChangeKind> RegisteredChangeKinds();

// ---- The Library Edit History file ----
//
//   magic "WEXO", version Long 4, the reference tables of the cache (VTICache),
//   one change record per history item, the Long -1.
//
// A change record: flags Long (bits 0-7 the kind, 12-15 the target kind,
// 16-31 the special parameter; the current-position and breakpoint bits are
// never stored), the description, type, member and parameter names, the type
// kind Byte, the index Byte, the parameter index Integer, then, for a kind
// with a payload, what the change's Save writes.

inline constexpr int32_t kHistoryMagic = 0x4F584557;  // "WEXO"
inline constexpr int32_t kHistoryVersion = 4;

// Makes the change object of a kind code read from a file (null: no kind).
using ChangeCreator = std::function<ChangePtr(uint8_t code)>;

// The complete history file of items with the tables of cache. folder is the
// folder the file is written to (library paths are stored relative to it).
// Everything that cannot be written (a value or text the file cannot hold, a
// change whose type description the cache does not hold) raises before a
// byte is returned, the error naming the item.
std::vector<std::byte> WriteEditHistory(const std::list<ChangeNode>& items, VTICache& cache,
                                        const std::filesystem::path& folder);
// The change records of items and the end marker.
void WriteChangeRecords(HistoryFileWriter& out, const std::list<ChangeNode>& items);

// Reads and checks the header; returns the version (0 to 4) and sets it on
// the reader. Error 5 "Library Edit History file has unrecognized format."
// for fewer than 8 bytes, another magic, or a version outside 0 to 4.
int32_t OpenEditHistory(HistoryFileReader& in);
// Reads a whole history file: the tables into cache, which is left as it was
// when anything fails, and the items, each with its change object (made by
// create). A file that ends early raises error 62; a file whose content breaks
// the format (negative or impossible counts, positions outside a table, a
// kind no change has, a target kind outside 1 to 5, a bad value) raises error
// 5 "Library Edit History file has unrecognized format.". Bytes after the end
// marker are ignored.
std::list<ChangeNode> ReadEditHistory(std::span<const std::byte> file, VTICache& cache,
                                      const std::filesystem::path& folder,
                                      const ChangeCreator& create = CreateChangeFromKind);
// The change records up to and including the end marker.
std::list<ChangeNode> ReadChangeRecords(HistoryFileReader& in, const ChangeCreator& create);
// One String of a record.
std::u16string GetHistoryString(HistoryFileReader& in);

}  // namespace zephrin::modRecorder

// The Library Edit History file, as the history engine reaches it: reading
// and writing a whole history with the reference cache that its changes use.
#pragma once

#include <cstddef>
#include <filesystem>
#include <list>
#include <memory>
#include <vector>

#include "changes/hub/ChangeNode.h"
#include "changes/hub/IHistoryReferenceCache.h"

namespace zephrin {

class IHistoryFile {
public:
    virtual ~IHistoryFile() = default;
    // A new, empty reference cache for a history.
    virtual std::shared_ptr<IHistoryReferenceCache> NewCache() = 0;
    // The complete history (the items in order, the current-position and
    // breakpoint bits left out) with the tables of cache, as file is to hold
    // it; the engine writes it. An item the file can't hold raises its error.
    virtual std::vector<std::byte> EditHistoryBytes(const std::filesystem::path& file,
                                                    const std::list<ChangeNode>& items,
                                                    IHistoryReferenceCache& cache) = 0;
    // Reads a whole history from file: its reference tables into cache (a new,
    // empty one) and its items, each with its change object. A file of the
    // wrong format raises error 5 "Library Edit History file has unrecognized
    // format."; other errors are raised as they come.
    virtual std::list<ChangeNode> ReadEditHistory(const std::filesystem::path& file, IHistoryReferenceCache& cache) = 0;
};

}  // namespace zephrin

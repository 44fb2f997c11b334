// The Library Edit History file as the history engine reaches it: reads and
// writes whole files (modRecorder's WriteEditHistory and ReadEditHistory)
// with a VTICache as the reference cache.
#pragma once

#include "changes/history/IHistoryFile.h"
#include "changes/history/modRecorder.h"

namespace zephrin {

class HistoryFile final : public IHistoryFile {
public:
    // create makes the change objects of the kinds read (by default the factory).
    explicit HistoryFile(modRecorder::ChangeCreator create = {});

    std::shared_ptr<IHistoryReferenceCache> NewCache() override;
    // The whole file is made in memory first, so an item that cannot be saved
    // raises before file is touched; then it is written and flushed to disk.
    // An error while writing raises error 75 naming the file.
    void WriteEditHistory(const std::filesystem::path& file, const std::list<ChangeNode>& items,
                          IHistoryReferenceCache& cache) override;
    // A missing file raises error 53, one that cannot be read error 75. Only a
    // regular file is read, and its header is checked before the rest is read;
    // a file that is not a history, ends early or holds bad records raises
    // error 5 with the file's name and the reason.
    std::list<ChangeNode> ReadEditHistory(const std::filesystem::path& file, IHistoryReferenceCache& cache) override;

private:
    modRecorder::ChangeCreator create_;
};

}  // namespace zephrin

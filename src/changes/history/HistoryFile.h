// The Library Edit History file as the history engine reaches it: makes and
// reads whole files (modRecorder's WriteEditHistory and ReadEditHistory)
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
    // Library paths are stored relative to the folder of file.
    std::vector<std::byte> EditHistoryBytes(const std::filesystem::path& file, const std::list<ChangeNode>& items,
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

#include "changes/history/HistoryFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "changes/hub/VTICache.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "platform/automation/BStr.h"

namespace zephrin {

namespace fs = std::filesystem;

namespace {

VTICache& CacheOf(IHistoryReferenceCache& cache) {
    auto* vti = dynamic_cast<VTICache*>(&cache);
    if (!vti) RaiseError(kErrInvalidArgument);
    return *vti;
}

// The folder library paths are stored relative to.
fs::path FolderOf(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec) absolute = file;
    return absolute.parent_path();
}

[[noreturn]] void RaiseFileError(int32_t number, const fs::path& file) {
    RaiseError(number, std::u16string(StandardErrorDescription(number)) + u": " + ole::FromUtf8(file.string()));
}

}  // namespace

HistoryFile::HistoryFile(modRecorder::ChangeCreator create)
    : create_(create ? std::move(create) : modRecorder::ChangeCreator(modRecorder::CreateChangeFromKind)) {}

std::shared_ptr<IHistoryReferenceCache> HistoryFile::NewCache() { return std::make_shared<VTICache>(); }

void HistoryFile::WriteEditHistory(const fs::path& file, const std::list<ChangeNode>& items,
                                   IHistoryReferenceCache& cache) {
    const std::vector<std::byte> bytes = modRecorder::WriteEditHistory(items, CacheOf(cache), FolderOf(file));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) RaiseFileError(kErrPathFileAccess, file);
    ScopeGuard close([fd] { ::close(fd); });
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) RaiseFileError(kErrPathFileAccess, file);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) RaiseFileError(kErrPathFileAccess, file);
    close.Dismiss();
    if (::close(fd) != 0) RaiseFileError(kErrPathFileAccess, file);
}

std::list<ChangeNode> HistoryFile::ReadEditHistory(const fs::path& file, IHistoryReferenceCache& cache) {
    VTICache& vti = CacheOf(cache);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseFileError(errno == ENOENT ? kErrFileNotFound : kErrPathFileAccess, file);
    std::vector<std::byte> bytes;
    {
        ScopeGuard close([fd] { ::close(fd); });
        std::byte buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseFileError(kErrPathFileAccess, file);
            if (n == 0) break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    return modRecorder::ReadEditHistory(bytes, vti, FolderOf(file), create_);
}

}  // namespace zephrin

#include "changes/history/HistoryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/VTICache.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
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

// err, when given, is the system's reason, said after the file's name.
[[noreturn]] void RaiseFileError(int32_t number, const fs::path& file, int err = 0) {
    std::u16string text = std::u16string(StandardErrorDescription(number)) + u": " + ole::FromUtf8(file.string());
    if (err != 0) text += u" (" + ole::FromUtf8(std::strerror(err)) + u")";
    RaiseError(number, std::move(text));
}

}  // namespace

HistoryFile::HistoryFile(modRecorder::ChangeCreator create)
    : create_(create ? std::move(create) : modRecorder::ChangeCreator(modRecorder::CreateChangeFromKind)) {}

std::shared_ptr<IHistoryReferenceCache> HistoryFile::NewCache() { return std::make_shared<VTICache>(); }

std::vector<std::byte> HistoryFile::EditHistoryBytes(const fs::path& file, const std::list<ChangeNode>& items,
                                                     IHistoryReferenceCache& cache) {
    return modRecorder::WriteEditHistory(items, CacheOf(cache), FolderOf(file));
}

std::list<ChangeNode> HistoryFile::ReadEditHistory(const fs::path& file, IHistoryReferenceCache& cache) {
    VTICache& vti = CacheOf(cache);
    const std::u16string name = ole::FromUtf8(file.string());
    const auto refuse = [&](std::u16string_view reason, int32_t number = kErrInvalidArgument) {
        RaiseError(number, modSupport::LoadResStringFormat(168, {name}) + u" " + std::u16string(reason));
    };
    // Opening a FIFO would wait for a writer: nothing but a regular file is read.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        // A socket can't be opened at all.
        if (err != ENOENT && ::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            refuse(u"It is not a regular file.");
        if (err == ENOENT) RaiseFileError(kErrFileNotFound, file);
        RaiseFileError(kErrPathFileAccess, file, err);
    }
    std::vector<std::byte> bytes;
    {
        ScopeGuard close([fd] { ::close(fd); });
        struct stat st {};
        if (::fstat(fd, &st) != 0) RaiseFileError(kErrPathFileAccess, file, errno);
        if (!S_ISREG(st.st_mode)) refuse(u"It is not a regular file.");
        // The header is checked before the rest is read, and no more than the
        // file's size is read: what the file claims is bounded by it.
        const auto readUpTo = [&](size_t size) {
            while (bytes.size() < size) {
                const size_t had = bytes.size();
                bytes.resize(size);
                const ssize_t n = ::read(fd, bytes.data() + had, size - had);
                const int err = errno;
                bytes.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
                if (n < 0 && err == EINTR) continue;
                if (n < 0) RaiseFileError(kErrPathFileAccess, file, err);
                if (n == 0) break;
            }
        };
        readUpTo(8);
        HistoryFileReader header(bytes);
        if (bytes.size() < 8 || header.GetLong() != modRecorder::kHistoryMagic) refuse(modSupport::LoadResStringById(710));
        if (const int32_t version = header.GetLong(); version < 0 || version > modRecorder::kHistoryVersion)
            RaiseError(kErrInvalidArgument,
                       modSupport::LoadResStringFormat(169, {name}) + u" " + modSupport::LoadResStringById(710));
        readUpTo(static_cast<size_t>(std::max<off_t>(st.st_size, 8)));
    }
    try {
        return modRecorder::ReadEditHistory(bytes, vti, FolderOf(file), create_);
    } catch (ErrorRecord& e) {
        // A file that ends early, or holds what no history holds.
        if (e.Number == kErrInputPastEnd) refuse(u"It ends before its last item.", kErrInputPastEnd);
        if (e.Number == kErrInvalidArgument) refuse(e.Description);
        throw;
    }
}

}  // namespace zephrin

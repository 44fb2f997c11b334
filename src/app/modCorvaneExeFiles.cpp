// The file tests of the shell: standalone type library files, history file
// headers, file flags and path splitting.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "app/modCorvaneExe.h"
#include "changes/history/modRecorder.h"

namespace zephrin::modCorvaneExe {

namespace {

enum class Head { Unreadable, NotRegular, Read };

// Reads up to head.size() bytes from the start of a regular file. Anything
// else (a FIFO, socket or device) is not opened: reading it could wait
// forever or never end.
Head ReadHead(const std::string& path, std::array<unsigned char, 8>& head, size_t& got) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Head::Unreadable;
    if (!S_ISREG(st.st_mode)) return Head::NotRegular;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Head::Unreadable;
    Head result = Head::Read;
    got = 0;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) result = Head::NotRegular;
    while (result == Head::Read && got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = Head::Unreadable;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return result;
}

int32_t LittleEndianLong(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool IsStandaloneTypeLibFile(const std::string& path, bool existenceTest) {
    bool readOnly = false, directory = false;
    if (existenceTest && !GetFileFlags(path, readOnly, directory)) return false;
    std::array<unsigned char, 8> head{};
    size_t got = 0;
    switch (ReadHead(path, head, got)) {
        case Head::NotRegular: return false;
        // A file that can't be read counts, so that a new name passes a Save dialog.
        case Head::Unreadable: return true;
        case Head::Read: break;
    }
    if (got == 0) return true;
    return got >= 4 && std::memcmp(head.data(), "MSFT", 4) == 0;
}

bool IsSltgTypeLibFile(const std::string& path) {
    std::array<unsigned char, 8> head{};
    size_t got = 0;
    return ReadHead(path, head, got) == Head::Read && got >= 4 && std::memcmp(head.data(), "SLTG", 4) == 0;
}

bool IsModuleFile(const std::string& path) {
    std::array<unsigned char, 8> head{};
    size_t got = 0;
    return ReadHead(path, head, got) == Head::Read && got >= 2 && head[0] == 'M' && head[1] == 'Z';
}

bool GetFileFlags(const std::string& path, bool& readOnly, bool& directory) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    directory = S_ISDIR(st.st_mode);
    readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return S_ISREG(st.st_mode);
}

void SplitPath(const std::string& path, std::string& folder, std::string& fileName) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        fileName = path;
        return;
    }
    folder = slash == 0 ? "/" : path.substr(0, slash);
    fileName = path.substr(slash + 1);
}

int32_t CheckHistoryFileHeader(const std::string& path) {
    std::array<unsigned char, 8> head{};
    size_t got = 0;
    const Head read = ReadHead(path, head, got);
    if (read == Head::Unreadable) return 0;  // the dialog lets a file it can't read pass
    if (read == Head::NotRegular) return 168;
    if (got < 4 || LittleEndianLong(head.data()) != modRecorder::kHistoryMagic) return 168;
    return got >= 8 && LittleEndianLong(head.data() + 4) > modRecorder::kHistoryVersion ? 169 : 0;
}

}  // namespace zephrin::modCorvaneExe

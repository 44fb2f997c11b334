// The file tests of the shell: standalone type library files, history file
// headers, file flags and path splitting.
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <fstream>

#include "app/modCorvaneExe.h"
#include "changes/history/modRecorder.h"

namespace zephrin::modCorvaneExe {

namespace {

// Reads up to n bytes from the start of the file; false when it can't be opened.
bool ReadHead(const std::string& path, std::array<unsigned char, 8>& head, size_t& got) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    got = static_cast<size_t>(in.gcount());
    return !in.bad();
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
    // A file that can't be read counts, so that a new name passes a Save dialog.
    if (!ReadHead(path, head, got)) return true;
    if (got == 0) return true;
    return got >= 4 && std::memcmp(head.data(), "MSFT", 4) == 0;
}

bool GetFileFlags(const std::string& path, bool& readOnly, bool& directory) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    directory = S_ISDIR(st.st_mode);
    readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return !directory;
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
    if (!ReadHead(path, head, got)) return 0;  // the dialog lets a file it can't read pass
    if (got < 4 || LittleEndianLong(head.data()) != modRecorder::kHistoryMagic) return 168;
    return got >= 8 && LittleEndianLong(head.data() + 4) > modRecorder::kHistoryVersion ? 169 : 0;
}

}  // namespace zephrin::modCorvaneExe

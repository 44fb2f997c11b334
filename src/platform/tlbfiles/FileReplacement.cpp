#include "platform/tlbfiles/FileReplacement.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <new>
#include <string>

#include "platform/automation/BStr.h"

namespace ole {

namespace {

namespace fs = std::filesystem;

thread_local std::u16string t_lastError;

HRESULT Fail(HRESULT hr, const std::string& text) {
    t_lastError = FromUtf8(text);
    return hr;
}

HRESULT CantWrite(const std::string& path, int err) {
    return Fail(TYPE_E_IOERROR, Quoted(path) + " could not be written: " + std::strerror(err) + ".");
}

// The file that path names: symbolic links are followed to the last one's
// target, which need not exist yet. Empty for a chain of links that loops.
fs::path ResolveLinks(fs::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
        fs::path next = fs::read_symlink(path, ec);
        if (ec) return {};
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return {};
}

// The process's file creation mask, read without changing it (setting it
// to read it back would briefly affect files other threads create).
mode_t CurrentUmask() {
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(f);
        if (found) return static_cast<mode_t>(mask);
    }
    return 022;
}

// written (when given) receives how many bytes were written, also on failure.
bool WriteAt(int fd, const std::byte* data, size_t size, off_t offset, size_t* written = nullptr) {
    if (written) *written = 0;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
        if (written) *written += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAt(int fd, std::byte* data, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // the file shrank under us
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds SIGINT, SIGTERM and SIGHUP back on this thread while it lives; they
// take their course when it goes.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t old_;
};

// The temporary file that a signal removes, and the handlers it replaced.
std::mutex g_tempMutex;
char g_tempPath[PATH_MAX];
volatile sig_atomic_t g_tempArmed = 0;
struct sigaction g_previous[std::size(kSignals)];
bool g_replaced[std::size(kSignals)];

void RemoveTempOnSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (g_tempArmed) {
        ::unlink(g_tempPath);
        g_tempArmed = 0;
    }
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& previous = g_previous[i];
        if (previous.sa_flags & SA_SIGINFO) {
            if (previous.sa_sigaction) previous.sa_sigaction(sig, info, context);
        } else if (previous.sa_handler == SIG_DFL) {
            // The signal is blocked while its handler runs: raised again, it
            // ends the process as soon as this handler returns.
            ::sigaction(sig, &previous, nullptr);
            ::raise(sig);
        } else if (previous.sa_handler != SIG_IGN) {
            previous.sa_handler(sig);
        }
    }
    errno = savedErrno;
}

// While it lives, SIGINT, SIGTERM and SIGHUP remove the temporary file it
// names before they take their course (a signal the process ignores stays
// ignored). One temporary file at a time in the process.
class TempFileOnSignals {
public:
    TempFileOnSignals() : lock_(g_tempMutex) {
        struct sigaction action {};
        action.sa_sigaction = RemoveTempOnSignal;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            g_replaced[i] = false;
            if (::sigaction(kSignals[i], nullptr, &g_previous[i]) != 0) continue;
            if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN) continue;
            g_replaced[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
        }
    }
    ~TempFileOnSignals() {
        g_tempArmed = 0;
        for (size_t i = 0; i < std::size(kSignals); ++i)
            if (g_replaced[i]) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    TempFileOnSignals(const TempFileOnSignals&) = delete;
    TempFileOnSignals& operator=(const TempFileOnSignals&) = delete;

    // Made with signals held back, so that none comes between the making and
    // the arming. -1 (errno set) when it can't be made.
    int Make(std::string& temp) {
        HeldSignals held;
        const int fd = ::mkstemp(temp.data());
        if (fd >= 0 && temp.size() < sizeof g_tempPath) {
            std::memcpy(g_tempPath, temp.c_str(), temp.size() + 1);
            g_tempArmed = 1;
        }
        return fd;
    }
    // The temporary file is gone (renamed or removed): nothing to remove.
    void Disarm() { g_tempArmed = 0; }

private:
    std::lock_guard<std::mutex> lock_;
};

// The name mkstemp makes the temporary file from: the target's own with a
// random suffix, the target's cut short where the whole would be longer than
// a folder entry's name may be.
std::string TempTemplate(const std::string& target) {
    constexpr char kSuffix[] = ".XXXXXX";
    const fs::path path(target);
    std::string name = path.filename().string();
    name.resize(std::min(name.size(), NAME_MAX - (sizeof kSuffix - 1)));
    return (path.parent_path() / (name + kSuffix)).string();
}

// Rewrites target in place, keeping its old contents in memory to put back
// when the write fails. Space is reserved first, so that a full disk mostly
// fails before the old contents change. The signals wait until it is done.
HRESULT WriteInPlace(const std::string& target, const std::vector<std::byte>& image) {
    HeldSignals held;
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return CantWrite(target, errno);
    struct stat st {};
    std::vector<std::byte> original;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(TYPE_E_IOERROR, Quoted(target) + " is " + FileKindText(st.st_mode) + ", not a regular file; it is not replaced.");
    } else {
        try {
            original.resize(static_cast<size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            ::close(fd);
            return Fail(E_OUTOFMEMORY, Quoted(target) + " is too large to be rewritten in place.");
        }
        if (!ReadAt(fd, original.data(), original.size(), 0)) err = errno;
    }
    const auto size = static_cast<off_t>(image.size());
    if (err == 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        err = errno;
    if (err != 0) {
        ::close(fd);
        return CantWrite(target, err);  // nothing has changed yet
    }
    size_t written = 0;
    if (!WriteAt(fd, image.data(), image.size(), 0, &written) || ::ftruncate(fd, size) != 0 || ::fsync(fd) != 0) {
        err = errno;
        // Only what was overwritten is put back, unless the file was cut short
        // too: a file-size limit or a full disk may leave no room for more.
        const size_t changed = written < image.size() ? std::min(written, original.size()) : original.size();
        const bool restored = WriteAt(fd, original.data(), changed, 0) &&
                              ::ftruncate(fd, static_cast<off_t>(original.size())) == 0 && ::fsync(fd) == 0;
        ::close(fd);
        return Fail(TYPE_E_IOERROR, Quoted(target) + " could not be written: " + std::strerror(err) +
                                        (restored ? "; its old contents were put back." : "; its old contents could not be put back."));
    }
    if (::close(fd) != 0) return CantWrite(target, errno);
    return S_OK;
}

}  // namespace

std::u16string GetLastFileWriteError() { return t_lastError; }

HRESULT ReplaceFileContents(const std::u16string& path, const std::vector<std::byte>& image) {
    t_lastError.clear();
    if (path.empty()) return Fail(E_INVALIDARG, "No file name was given.");
    const std::string named = ToUtf8(path);
    const std::string target = ResolveLinks(fs::path(named)).string();
    if (target.empty()) return Fail(TYPE_E_IOERROR, Quoted(named) + " could not be written: its symbolic links form a loop.");
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return CantWrite(target, errno);
    if (exists && !S_ISREG(st.st_mode))
        return Fail(TYPE_E_IOERROR, Quoted(target) + " is " + FileKindText(st.st_mode) + ", not a regular file; it is not replaced.");
    // A file that cannot be opened for writing is not replaced either. Its
    // mode is checked too: permission bits do not stop a privileged process.
    if (exists && (st.st_mode & S_IWUSR) == 0) return Fail(TYPE_E_IOERROR, Quoted(target) + " is read-only.");
    if (exists && ::access(target.c_str(), W_OK) != 0) return CantWrite(target, errno);
    // A rename would give the new contents to this name only.
    if (exists && st.st_nlink > 1) return WriteInPlace(target, image);

    TempFileOnSignals onSignals;
    std::string temp = TempTemplate(target);
    const int fd = onSignals.Make(temp);
    if (fd < 0) {
        const int err = errno;
        // A folder this process may not write to: the file itself may still be written.
        if (exists && (err == EACCES || err == EPERM)) return WriteInPlace(target, image);
        const std::string folder = fs::path(target).parent_path().string();
        if (err == ENOENT || err == ENOTDIR)
            return Fail(TYPE_E_CANTCREATETMPFILE, Quoted(target) + " could not be written: the folder " +
                                                      Quoted(folder.empty() ? "." : folder) + " does not exist.");
        return Fail(TYPE_E_CANTCREATETMPFILE,
                    Quoted(target) + " could not be written: no temporary file could be made beside it: " +
                        std::strerror(err) + ".");
    }
    // The new file keeps the old one's owner, group and permissions, or gets
    // the usual ones. The owner goes first: changing it clears set-ID bits.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);  // at least the group, where the process may
    const mode_t mode = exists ? st.st_mode & 07777 : 0666 & ~CurrentUmask();
    bool ok = ::fchmod(fd, mode) == 0 && WriteAt(fd, image.data(), image.size(), 0) && ::fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (ok) {
        onSignals.Disarm();
        return S_OK;
    }
    ::unlink(temp.c_str());
    onSignals.Disarm();
    return CantWrite(target, err);
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

const char* FileKindText(unsigned mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISREG(mode)) return "a regular file";
    return "a special file";
}

}  // namespace ole

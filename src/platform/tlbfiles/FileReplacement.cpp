#include "platform/tlbfiles/FileReplacement.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
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

// A file to be saved, found once: its folder held open and its name in it.
struct SaveGuard::State {
    std::u16string path;  // as given, which a save names
    std::string named;    // the same in UTF-8
    std::string target;   // the file its links lead to, as messages name it
    std::string name;     // that file's name in its folder
    int dir = -1;         // the folder, held
    int dirError = 0;     // why the folder could not be held
    bool loop = false;    // the links form a loop
    bool expectedGiven = false;
    FileIdentity expected;
    FileIdentity saved;
    int lockFd = -1;  // the file, locked
    bool locked = false;  // and no other program that locks it can write it now
    State* outer = nullptr;
};

namespace {

namespace fs = std::filesystem;

thread_local std::u16string t_lastError;
thread_local SaveGuard::State* t_guards = nullptr;

// How long a lock another program holds is waited for.
constexpr int kLockWaitMilliseconds = 5000;

HRESULT Fail(HRESULT hr, const std::string& text) {
    t_lastError = FromUtf8(text);
    return hr;
}

HRESULT CantWrite(const std::string& path, int err) {
    return Fail(TYPE_E_IOERROR, Quoted(path) + " could not be written: " + std::strerror(err) + ".");
}

HRESULT NotRegular(const std::string& path, mode_t mode) {
    return Fail(TYPE_E_IOERROR, Quoted(path) + " is " + FileKindText(mode) + ", not a regular file; it is not replaced.");
}

HRESULT Changed(const SaveGuard::State& s) {
    return Fail(TYPE_E_IOERROR, Quoted(s.target) + " changed while it was being edited: another program " +
                                    (s.expected.Exists ? "saved, replaced or removed it" : "created it") +
                                    ". It was not written.");
}

FileIdentity IdentityOf(const struct stat& st) {
    return {true,
            static_cast<uint64_t>(st.st_dev),
            static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec),
            static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// What the name in the held folder leads to now, the name itself when it is a
// link; Exists false when it names nothing (errno then says why).
FileIdentity NameIdentity(const SaveGuard::State& s, struct stat* out = nullptr) {
    struct stat st {};
    if (::fstatat(s.dir, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    if (out) *out = st;
    return IdentityOf(st);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists == b.Exists && a.Device == b.Device && a.Inode == b.Inode;
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

// Finds the target of s.named and holds its folder.
void Find(SaveGuard::State& s) {
    const fs::path target = ResolveLinks(fs::path(s.named));
    if (target.empty()) {
        s.loop = true;
        return;
    }
    s.target = target.string();
    fs::path folder = target.parent_path();
    s.name = target.filename().string();
    if (s.name.empty()) {  // "folder/": the folder itself, refused later
        folder = target;
        s.name = ".";
    }
    if (folder.empty()) folder = ".";
    s.dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s.dir < 0 && errno == EACCES) s.dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (s.dir < 0) s.dirError = errno;
}

// The target opened to be locked (and its attributes read), for reading or
// else for writing; only a regular file is opened.
int OpenToLock(const SaveGuard::State& s) {
    int fd = ::openat(s.dir, s.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == EACCES) fd = ::openat(s.dir, s.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    return fd;
}

// False when another program holds the lock all the time; locked says
// whether the lock was had (a file system without locks has none to give).
bool WaitForLock(int fd, bool& locked) {
    locked = false;
    for (int waited = 0;; waited += 20) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return locked = true;
        if (errno != EWOULDBLOCK && errno != EINTR) return true;  // a file system without locks
        if (waited >= kLockWaitMilliseconds) return false;
        const struct timespec pause {0, 20'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// Whether another guard of this thread holds that file locked already (a
// second lock of its own would wait for it).
bool HeldByThisThread(const SaveGuard::State& s, const FileIdentity& file) {
    for (const SaveGuard::State* g = t_guards; g; g = g->outer) {
        struct stat st {};
        if (g != &s && g->lockFd >= 0 && ::fstat(g->lockFd, &st) == 0 && SameFile(IdentityOf(st), file)) return true;
    }
    return false;
}

// Locks the target. With capture, what is locked becomes what is expected
// unless the guard was given a version to expect.
HRESULT LockTarget(SaveGuard::State& s, bool capture) {
    capture = capture && !s.expectedGiven;
    if (s.lockFd >= 0 || s.loop || s.dir < 0) return S_OK;  // a save reports what stops it
    for (int tries = 0; tries < 20; ++tries) {
        struct stat st {};
        const FileIdentity now = NameIdentity(s, &st);
        if (!now.Exists || !S_ISREG(st.st_mode)) {
            if (capture) s.expected = now;
            return S_OK;  // nothing to lock
        }
        const int fd = OpenToLock(s);
        if (fd < 0) return S_OK;  // nor will it be written
        bool held = HeldByThisThread(s, now);
        if (!held && !WaitForLock(fd, held)) {
            ::close(fd);
            return Fail(TYPE_E_IOERROR, Quoted(s.target) +
                                            " is being saved or edited by another program. It was not written; "
                                            "try again when the other program is done.");
        }
        // The other program may have replaced it meanwhile: then its new file is locked.
        struct stat locked {};
        if (::fstat(fd, &locked) == 0 && SameFile(IdentityOf(locked), NameIdentity(s))) {
            s.lockFd = fd;
            s.locked = held;
            if (capture) s.expected = IdentityOf(locked);
            return S_OK;
        }
        ::close(fd);
    }
    return Fail(TYPE_E_IOERROR, Quoted(s.target) + " keeps changing while it is being locked. It was not written.");
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

// The names of a file's extended attributes, each ended by a NUL. False
// (errno set) when they can't be listed; a file system without them has none.
bool AttributeNames(int fd, std::vector<char>& names) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            names.clear();
            return errno == ENOTSUP;
        }
        names.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // ERANGE: one was added meanwhile
    }
}

bool AttributeValue(int fd, const char* name, std::vector<char>& value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
}

// Gives the file to the extended attributes of the file from, its access ACL
// among them, and only those (a new file may have got an ACL from its
// folder's default one). False (errno set) where one can't be read, set or removed.
bool CopyAttributes(int from, int to) {
    std::vector<char> names, own, value;
    if (!AttributeNames(from, names) || !AttributeNames(to, own)) return false;
    const auto has = [](const std::vector<char>& list, const char* name) {
        for (size_t at = 0; at < list.size(); at += std::strlen(&list[at]) + 1)
            if (std::strcmp(&list[at], name) == 0) return true;
        return false;
    };
    for (size_t at = 0; at < own.size(); at += std::strlen(&own[at]) + 1)
        if (!has(names, &own[at]) && ::fremovexattr(to, &own[at]) != 0 && errno != ENODATA) return false;
    for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
        if (!AttributeValue(from, &names[at], value)) {
            if (errno == ENODATA) continue;  // removed meanwhile
            return false;
        }
        if (::fsetxattr(to, &names[at], value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds SIGINT, SIGTERM and SIGHUP back on this thread while it lives (with
// all, every signal another program may send, SIGQUIT, SIGALRM, SIGUSR1 ...,
// but SIGKILL and SIGSTOP); they take their course when it goes.
class HeldSignals {
public:
    explicit HeldSignals(bool all = false) {
        sigset_t set;
        sigemptyset(&set);
        if (all) {
            sigfillset(&set);
            // Those of the thread's own faults can't wait.
            for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) sigdelset(&set, s);
        }
        for (int s : kSignals) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t old_;
};

// The named temporary file that a signal removes (its folder and its name in
// it), and the handlers it replaced.
std::mutex g_tempMutex;
volatile sig_atomic_t g_tempDir = -1;
char g_tempName[NAME_MAX + 1];
volatile sig_atomic_t g_tempArmed = 0;
struct sigaction g_previous[std::size(kSignals)];
bool g_replaced[std::size(kSignals)];

void RemoveTempOnSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (g_tempArmed) {
        ::unlinkat(g_tempDir, g_tempName, 0);
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

// A name for a temporary file beside target: the target's own with a random
// suffix, cut short where the whole would be longer than a folder entry's name may be.
std::string TempName(const std::string& target) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        const auto seed = static_cast<unsigned long>(::clock()) ^ static_cast<unsigned long>(::getpid());
        for (size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string name = target.substr(0, std::min(target.size(), size_t{NAME_MAX} - 7)) + ".";
    for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

// The name a temporary file takes beside the target while the target is
// locked: always the same for one target, so that a file a killed save left
// there (killed between the naming and the rename) is found by the next save.
// A name too long for the suffix is cut short, and the whole name's hash added.
std::string SaveName(const std::string& target) {
    static constexpr char kSuffix[] = ".zephrin-save";
    constexpr size_t kSuffixSize = sizeof kSuffix - 1;
    if (target.size() + kSuffixSize <= NAME_MAX) return target + kSuffix;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : target) hash = (hash ^ c) * 1099511628211ull;
    char hex[18];
    std::snprintf(hex, sizeof hex, ".%016llx", static_cast<unsigned long long>(hash));
    return target.substr(0, NAME_MAX - kSuffixSize - 17) + hex + kSuffix;
}

// Removes the file at the target's SaveName when a killed save of the target
// left it: a regular file with no other link, of the target's owner and group,
// that begins as the new contents do (as far as it goes). Anything else there
// is left alone; the save then takes a name of its own.
void RemoveLeftover(int dir, const std::string& name, const struct stat& target, const std::vector<std::byte>& image) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return;
    struct stat st {}, named {};
    std::byte head[8];
    bool left = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == target.st_uid &&
                st.st_gid == target.st_gid;
    if (left) {
        const size_t size = std::min({sizeof head, image.size(), static_cast<size_t>(st.st_size)});
        left = ReadAt(fd, head, size, 0) && std::memcmp(head, image.data(), size) == 0;
    }
    if (left && ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev &&
        named.st_ino == st.st_ino)
        ::unlinkat(dir, name.c_str(), 0);
    ::close(fd);
}

// While it lives, SIGINT, SIGTERM and SIGHUP remove the named temporary file
// it was given before they take their course (a signal the process ignores
// stays ignored). One temporary file at a time in the process.
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

    // Makes a file named beside the target in dir (make: true when it made
    // one, errno set otherwise), with signals held back so that none comes
    // between the making and the arming. name receives the name it got: first,
    // when given and free, else a random one.
    template <class Make>
    bool Named(int dir, const std::string& target, std::string& name, Make&& make, const std::string& first = {}) {
        for (int tries = 0; tries < 100; ++tries) {
            name = tries == 0 && !first.empty() ? first : TempName(target);
            HeldSignals held;
            if (make(name)) {
                g_tempDir = dir;
                std::memcpy(g_tempName, name.c_str(), name.size() + 1);
                g_tempArmed = 1;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }
    // The temporary file is gone (renamed or removed): nothing to remove.
    void Disarm() { g_tempArmed = 0; }

private:
    std::lock_guard<std::mutex> lock_;
};

// Gives the unnamed file fd the name in dir.
int LinkUnnamed(int fd, int dir, const std::string& name) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return -1;
    return ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);  // without /proc: needs privilege
}

// Rewrites the target in place, keeping its old contents in memory to put
// back when the write fails. Space is reserved first, so that a full disk
// mostly fails before the old contents change. Signals that would end the
// program wait until it is done.
HRESULT WriteInPlace(SaveGuard::State& s, const std::vector<std::byte>& image) {
    HeldSignals held(true);
    const std::string& target = s.target;
    const int fd = ::openat(s.dir, s.name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) return errno == ELOOP ? Changed(s) : CantWrite(target, errno);
    struct stat st {};
    std::vector<std::byte> original;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return NotRegular(target, st.st_mode);
    } else if (IdentityOf(st) != s.expected) {
        ::close(fd);
        return Changed(s);
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
        // Once written back they are back, whether or not the disk confirms it.
        const size_t changed = written < image.size() ? std::min(written, original.size()) : original.size();
        const bool restored =
            WriteAt(fd, original.data(), changed, 0) && ::ftruncate(fd, static_cast<off_t>(original.size())) == 0;
        if (restored) (void)::fsync(fd);
        ::close(fd);
        return Fail(TYPE_E_IOERROR, Quoted(target) + " could not be written: " + std::strerror(err) +
                                        (restored ? "; its old contents were put back." : "; its old contents could not be put back."));
    }
    if (::fstat(fd, &st) == 0) s.saved = IdentityOf(st);
    if (::close(fd) != 0) return CantWrite(target, errno);
    return S_OK;
}

// Writes the new contents to a temporary file in the target's folder, gives it
// what the target has, and renames it over the target (or, for a new file,
// gives it the target's name where nothing has taken it meanwhile). Where the
// owner, group or extended attributes can't be given to it, the target is
// rewritten in place.
HRESULT WriteReplacement(SaveGuard::State& s, const struct stat& st, bool exists, const std::vector<std::byte>& image) {
    const std::string& target = s.target;
    TempFileOnSignals onSignals;
    std::string tempName;  // empty while the temporary file has none
    // While the target is locked no other save of it is under way: its
    // temporary file takes the target's own SaveName, where one that a killed
    // save left is removed first.
    std::string saveName;
    if (exists && s.locked) {
        saveName = SaveName(s.name);
        RemoveLeftover(s.dir, saveName, st, image);
    }
    int fd = ::openat(s.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a named one, removed on the signals.
        onSignals.Named(s.dir, s.name, tempName, [&](const std::string& name) {
            fd = ::openat(s.dir, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
            return fd >= 0;
        }, saveName);
    }
    if (fd < 0) {
        const int err = errno;
        // A folder this process may not write to: the file itself may still be written.
        if (exists && (err == EACCES || err == EPERM)) return WriteInPlace(s, image);
        const std::string folder = fs::path(target).parent_path().string();
        if (err == ENOENT || err == ENOTDIR)
            return Fail(TYPE_E_CANTCREATETMPFILE, Quoted(target) + " could not be written: the folder " +
                                                      Quoted(folder.empty() ? "." : folder) + " does not exist.");
        return Fail(TYPE_E_CANTCREATETMPFILE,
                    Quoted(target) + " could not be written: no temporary file could be made beside it: " +
                        std::strerror(err) + ".");
    }
    const auto discard = [&] {
        ::close(fd);
        if (!tempName.empty()) ::unlinkat(s.dir, tempName.c_str(), 0);
        onSignals.Disarm();
    };
    const auto failed = [&](int err) {
        discard();
        return CantWrite(target, err);
    };
    // The new file keeps the old one's owner and group, or else the file is
    // rewritten in place, which keeps them. The owner goes first: changing it
    // clears set-ID bits. Extended attributes follow the write, which may clear some.
    struct stat made {};
    if (::fstat(fd, &made) != 0) return failed(errno);
    if (exists && (made.st_uid != st.st_uid || made.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        discard();
        return WriteInPlace(s, image);
    }
    if (!WriteAt(fd, image.data(), image.size(), 0)) return failed(errno);
    const mode_t mode = exists ? st.st_mode & 07777 : 0666 & ~CurrentUmask();
    if (::fchmod(fd, mode) != 0) return failed(errno);
    if (exists && (s.lockFd < 0 || !CopyAttributes(s.lockFd, fd))) {
        discard();
        return WriteInPlace(s, image);
    }
    if (::fsync(fd) != 0 || ::fstat(fd, &made) != 0) return failed(errno);
    const FileIdentity written = IdentityOf(made);

    // Nothing has changed the target meanwhile, or nothing is written.
    if (NameIdentity(s) != s.expected) {
        discard();
        return Changed(s);
    }
    int err = 0;
    if (tempName.empty() && !exists) {
        if (LinkUnnamed(fd, s.dir, s.name) != 0) err = errno;
    } else {
        if (tempName.empty()) {
            const bool named = onSignals.Named(s.dir, s.name, tempName, [&](const std::string& name) {
                return LinkUnnamed(fd, s.dir, name) == 0;
            }, saveName);
            if (!named) {
                tempName.clear();
                return failed(errno);
            }
        }
        // Renamed straight after its naming: a kill in between leaves it, for
        // the next save to remove where it has the SaveName.
        const unsigned flags = exists ? 0 : RENAME_NOREPLACE;
        if (::renameat2(s.dir, tempName.c_str(), s.dir, s.name.c_str(), flags) != 0) {
            err = errno;
            if (err == EINVAL && flags != 0 && ::renameat(s.dir, tempName.c_str(), s.dir, s.name.c_str()) == 0)
                err = 0;  // a file system that can't refuse to replace
        }
    }
    if (err != 0) {
        ::close(fd);
        if (!tempName.empty()) ::unlinkat(s.dir, tempName.c_str(), 0);
        onSignals.Disarm();
        return err == EEXIST ? Changed(s) : CantWrite(target, err);
    }
    onSignals.Disarm();
    // Its contents reached the disk before: closing it can't lose them now.
    ::close(fd);
    (void)::fsync(s.dir);  // the new name on the disk too, where the folder could be opened for it
    s.saved = written;
    return S_OK;
}

}  // namespace

FileIdentity GetFileIdentity(const std::u16string& path) {
    struct stat st {};
    if (path.empty() || ::stat(ToUtf8(path).c_str(), &st) != 0) return {};
    return IdentityOf(st);
}

SaveGuard::SaveGuard(std::u16string path, std::optional<FileIdentity> expected) : state_(new State) {
    state_->path = std::move(path);
    state_->named = ToUtf8(state_->path);
    if (!state_->named.empty()) Find(*state_);
    state_->expectedGiven = expected.has_value();
    if (expected) {
        state_->expected = *expected;
    } else if (state_->dir >= 0) {
        state_->expected = NameIdentity(*state_);
    }
    state_->outer = t_guards;
    t_guards = state_;
}

SaveGuard::~SaveGuard() {
    // Guards go in the reverse order of their making on a thread.
    if (t_guards == state_) t_guards = state_->outer;
    if (state_->lockFd >= 0) ::close(state_->lockFd);
    if (state_->dir >= 0) ::close(state_->dir);
    delete state_;
}

HRESULT SaveGuard::Lock() {
    t_lastError.clear();
    return LockTarget(*state_, true);
}

HRESULT SaveGuard::Check() const {
    t_lastError.clear();
    const State& s = *state_;
    if (s.dir < 0 || s.loop) return S_OK;  // a save says what stops it
    if (NameIdentity(s) != s.expected || GetFileIdentity(s.path) != s.expected) return Changed(s);
    return S_OK;
}

const FileIdentity& SaveGuard::Expected() const { return state_->expected; }

const FileIdentity& SaveGuard::Saved() const { return state_->saved; }

std::u16string GetLastFileWriteError() { return t_lastError; }

HRESULT ReplaceFileContents(const std::u16string& path, const std::vector<std::byte>& image) {
    t_lastError.clear();
    if (path.empty()) return Fail(E_INVALIDARG, "No file name was given.");
    SaveGuard::State* guard = t_guards;
    while (guard && guard->path != path) guard = guard->outer;
    std::optional<SaveGuard> own;  // a save of its own, as the target is now
    if (!guard) {
        own.emplace(path);
        guard = t_guards;
    }
    SaveGuard::State& s = *guard;

    if (s.loop) return Fail(TYPE_E_IOERROR, Quoted(s.named) + " could not be written: its symbolic links form a loop.");
    if (s.dir < 0) {
        const std::string folder = fs::path(s.target).parent_path().string();
        if (s.dirError == ENOENT || s.dirError == ENOTDIR)
            return Fail(TYPE_E_CANTCREATETMPFILE, Quoted(s.target) + " could not be written: the folder " +
                                                      Quoted(folder.empty() ? "." : folder) + " does not exist.");
        return CantWrite(s.target, s.dirError);
    }
    // A save of its own expects the file as it is once locked.
    if (HRESULT hr = LockTarget(s, own.has_value()); FAILED(hr)) return hr;
    struct stat st {};
    const FileIdentity now = NameIdentity(s, &st);
    if (!now.Exists && errno != ENOENT) return CantWrite(s.target, errno);
    if (now.Exists && S_ISLNK(st.st_mode)) return Changed(s);  // a link swapped in
    if (now.Exists && !S_ISREG(st.st_mode)) return NotRegular(s.target, st.st_mode);
    if (now != s.expected) return Changed(s);
    // A file that cannot be opened for writing is not replaced either. Its
    // mode is checked too: permission bits do not stop a privileged process.
    if (now.Exists && (st.st_mode & S_IWUSR) == 0) return Fail(TYPE_E_IOERROR, Quoted(s.target) + " is read-only.");
    if (now.Exists && ::faccessat(s.dir, s.name.c_str(), W_OK, 0) != 0) return CantWrite(s.target, errno);
    // A rename would give the new contents to this name only.
    if (now.Exists && st.st_nlink > 1) return WriteInPlace(s, image);
    return WriteReplacement(s, st, now.Exists, image);
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

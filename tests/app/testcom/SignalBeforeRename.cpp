// Preloaded into the program by the application tests and the kill test
// (zephrin_testsignal), to make its file calls meet what a user or another
// program may do to them:
// - ZEPHRIN_TEST_SIGNAL=n: the program sends itself signal n just before each
//   rename and each link, as a user's Ctrl+C might come;
// - ZEPHRIN_TEST_STOP_OPENING=suffix: it stops itself (SIGSTOP) once it has
//   opened a file whose name ends so, e.g. the history, read between loading
//   and saving the library;
// - ZEPHRIN_TEST_STOP_WRITING=1: it stops itself before its first pwrite,
//   where a save starts writing;
// - ZEPHRIN_TEST_STOP_RENAMING=1: it stops itself before each rename, where
//   a save's temporary file has its name;
// - ZEPHRIN_TEST_SIGNAL_WRITTEN=n: it sends itself signal n just after its
//   first pwrite, as another program's signal might come while a save writes;
// - ZEPHRIN_TEST_FAIL_FSYNC=1: every fsync fails with EIO;
// - ZEPHRIN_TEST_NO_TMPFILE=1: the file system seems to have no unnamed
//   temporary files (O_TMPFILE fails with EOPNOTSUPP).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>

namespace {

template <class F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void SignalIfAsked() {
    if (const char* signal = std::getenv("ZEPHRIN_TEST_SIGNAL")) ::kill(::getpid(), std::atoi(signal));
}

void StopIfRenaming() {
    if (std::getenv("ZEPHRIN_TEST_STOP_RENAMING")) ::raise(SIGSTOP);
}

bool NoTmpFile(int flags) {
    if ((flags & O_TMPFILE) != O_TMPFILE || !std::getenv("ZEPHRIN_TEST_NO_TMPFILE")) return false;
    errno = EOPNOTSUPP;
    return true;
}

void StopIfOpening(const char* path, int fd) {
    const char* suffix = std::getenv("ZEPHRIN_TEST_STOP_OPENING");
    if (fd < 0 || !suffix || !path) return;
    const size_t n = strlen(path), m = strlen(suffix);
    if (n >= m && strcmp(path + n - m, suffix) == 0) ::raise(SIGSTOP);
}

mode_t ModeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

#define ZEPHRIN_EXPORT extern "C" __attribute__((visibility("default")))

ZEPHRIN_EXPORT int rename(const char* from, const char* to) {
    static const auto real = Next<int (*)(const char*, const char*)>("rename");
    SignalIfAsked();
    StopIfRenaming();
    return real(from, to);
}

ZEPHRIN_EXPORT int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static const auto real = Next<int (*)(int, const char*, int, const char*)>("renameat");
    SignalIfAsked();
    StopIfRenaming();
    return real(fromDir, from, toDir, to);
}

ZEPHRIN_EXPORT int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static const auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    SignalIfAsked();
    StopIfRenaming();
    return real(fromDir, from, toDir, to, flags);
}

ZEPHRIN_EXPORT int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    static const auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
    SignalIfAsked();
    return real(fromDir, from, toDir, to, flags);
}

ZEPHRIN_EXPORT int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    if (std::getenv("ZEPHRIN_TEST_FAIL_FSYNC")) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

ZEPHRIN_EXPORT ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    static bool stopped = false;
    if (!stopped && std::getenv("ZEPHRIN_TEST_STOP_WRITING")) {
        stopped = true;
        ::raise(SIGSTOP);
    }
    const ssize_t written = real(fd, data, size, offset);
    static bool signalled = false;
    if (const char* signal = std::getenv("ZEPHRIN_TEST_SIGNAL_WRITTEN"); signal && !signalled) {
        signalled = true;
        ::kill(::getpid(), std::atoi(signal));
    }
    return written;
}

ZEPHRIN_EXPORT int open(const char* path, int flags, ...) {
    static const auto real = Next<int (*)(const char*, int, ...)>("open");
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    if (NoTmpFile(flags)) return -1;
    const int fd = real(path, flags, mode);
    StopIfOpening(path, fd);
    return fd;
}

ZEPHRIN_EXPORT int openat(int dir, const char* path, int flags, ...) {
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    if (NoTmpFile(flags)) return -1;
    const int fd = real(dir, path, flags, mode);
    StopIfOpening(path, fd);
    return fd;
}

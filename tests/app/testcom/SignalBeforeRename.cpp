// Preloaded into the program by the application tests (zephrin_testsignal):
// with ZEPHRIN_TEST_SIGNAL set to a signal number, the program sends itself
// that signal just before each rename, as a user's Ctrl+C might come.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int rename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    if (const char* signal = std::getenv("ZEPHRIN_TEST_SIGNAL")) ::kill(::getpid(), std::atoi(signal));
    return real(from, to);
}

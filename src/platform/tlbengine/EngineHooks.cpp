// Process-wide hooks of the type library engine: the import resolver, the file
// writer and the failure injection used by tests.
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/tlbengine/TypeLibEngine.h"

namespace ole {

namespace {

struct Hooks {
    std::mutex mutex;
    ImportResolver resolver;
    TypeLibWriter writer;
    struct Armed {
        HRESULT hr;
        int skip;
    };
    std::unordered_map<std::string, Armed> armed;
    std::atomic<int> armedCount{0};
};

Hooks& TheHooks() {
    static Hooks h;
    return h;
}

}  // namespace

void SetImportResolver(ImportResolver resolver) {
    auto& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.resolver = std::move(resolver);
}

HRESULT ResolveImportedLibrary(const GUID& lib, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    ImportResolver r;
    {
        auto& h = TheHooks();
        std::lock_guard lock(h.mutex);
        r = h.resolver;
    }
    if (!r) return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = r(lib, major, minor, lcid, out);
    if (SUCCEEDED(hr) && !*out) return TYPE_E_CANTLOADLIBRARY;
    return hr;
}

void SetTypeLibWriter(TypeLibWriter writer) {
    auto& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.writer = std::move(writer);
}

namespace engine {

TypeLibWriter CurrentWriter() {
    auto& h = TheHooks();
    std::lock_guard lock(h.mutex);
    return h.writer;
}

HRESULT InjectedFailure(const char* method, const char* owner) {
    auto& h = TheHooks();
    if (h.armedCount.load(std::memory_order_relaxed) == 0) return S_OK;
    std::lock_guard lock(h.mutex);
    auto it = h.armed.find(std::string(owner) + "::" + method);
    if (it == h.armed.end()) it = h.armed.find(method);
    if (it == h.armed.end()) return S_OK;
    if (it->second.skip > 0) {
        --it->second.skip;
        return S_OK;
    }
    HRESULT hr = it->second.hr;
    h.armed.erase(it);
    --h.armedCount;
    return hr;
}

}  // namespace engine

namespace testing {

void FailNextCall(const char* methodName, HRESULT hr, int skip) {
    if (!methodName) return;
    auto& h = TheHooks();
    std::lock_guard lock(h.mutex);
    auto [it, inserted] = h.armed.insert_or_assign(methodName, Hooks::Armed{hr, skip < 0 ? 0 : skip});
    (void)it;
    if (inserted) ++h.armedCount;
}

void ClearInjectedFailures() {
    auto& h = TheHooks();
    std::lock_guard lock(h.mutex);
    h.armed.clear();
    h.armedCount = 0;
}

}  // namespace testing

}  // namespace ole

// Loading type library files: recognition by content, "path\N" resource
// selection, the cache of loaded libraries (same path, same object) and the
// default resolver of imported references.
#include "platform/tlbfiles/TypeLibFiles.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/tlbfiles/MsftReader.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/PeResource.h"
#include "platform/tlbfiles/SltgReader.h"
#include "platform/tlbengine/StdOle2.h"

namespace ole {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMsftSignature = 0x5446534D;  // "MSFT"
constexpr uint32_t kSltgSignature = 0x47544C53;  // "SLTG"

uint32_t Signature(std::span<const std::byte> b) {
    if (b.size() < 4) return 0;
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

// A library loaded from a file, kept while it is in use (or the file unchanged).
struct CacheEntry {
    ComPtr<ITypeLib> lib;
    fs::file_time_type modified;
    uintmax_t size = 0;
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
};

struct Cache {
    std::mutex mutex;
    std::unordered_map<std::string, CacheEntry> byKey;  // canonical path + "\N"
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // outlives every library released at exit
    return *cache;
}

// True when only the cache still holds the library.
bool OnlyCacheHolds(ITypeLib* lib) {
    lib->AddRef();
    return lib->Release() == 1;
}

// Drops libraries nobody else holds any more, so the next load reads the file again.
void SweepLocked(Cache& cache) {
    for (auto it = cache.byKey.begin(); it != cache.byKey.end();) {
        if (OnlyCacheHolds(it->second.lib.get()))
            it = cache.byKey.erase(it);
        else
            ++it;
    }
}

// A bare file name (no folder), compared without case with a lower-case one.
bool IsBareName(std::u16string_view name, std::u16string_view lower) {
    if (name.size() != lower.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        if (c != lower[i]) return false;
    }
    return true;
}

HRESULT ReadFile(const fs::path& path, std::vector<std::byte>* out) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return TYPE_E_CANTLOADLIBRARY;
    std::ifstream in(path, std::ios::binary);
    if (!in) return TYPE_E_CANTLOADLIBRARY;
    // A file that does not begin as a library or an executable image is not
    // read whole: it may be far larger than memory.
    std::byte head[4] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const std::span<const std::byte> lead(head, static_cast<size_t>(in.gcount()));
    const uint32_t signature = Signature(lead);
    if (!IsExecutableImage(lead) && signature != kMsftSignature && signature != kSltgSignature)
        return TYPE_E_CANTLOADLIBRARY;
    in.clear();
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) return TYPE_E_IOERROR;
    in.seekg(0, std::ios::beg);
    try {
        out->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), size)) return TYPE_E_IOERROR;
    return S_OK;
}

// The resolver of imported references: libraries already loaded, then the
// built-in stdole2, then the registry, then (for stdole 1.0, which every
// system registers) the built-in stdole 1.0.
HRESULT ResolveLibrary(const GUID& guid, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<ITypeLib> found;
    {
        Cache& cache = TheCache();
        std::lock_guard lock(cache.mutex);
        const CacheEntry* best = nullptr;
        for (const auto& [key, e] : cache.byKey) {
            if (e.guid != guid || e.major != major || e.minor < minor) continue;
            auto score = [&](const CacheEntry& c) { return (c.minor == minor ? 2 : 0) + (c.lcid == lcid ? 1 : 0); };
            if (!best || score(e) > score(*best) || (score(e) == score(*best) && e.minor > best->minor)) best = &e;
        }
        if (best) found = best->lib;
    }
    if (found) return found.CopyTo(out);
    if (guid == kStdOleLibGuid && major == 2) return GetBuiltinStdOle2(out);
    HRESULT hr = LoadRegTypeLib(guid, major, minor, lcid, out);
    if (FAILED(hr) && guid == kStdOleLibGuid && major == 1 && minor == 0) hr = GetBuiltinStdOle32(out);
    // The library a reference needs cannot be loaded, whatever the registry said.
    return SUCCEEDED(hr) ? hr : TYPE_E_CANTLOADLIBRARY;
}

HRESULT Wrap(LibraryData&& data, std::u16string path, ITypeLib** out) {
    try {
        auto shared = std::make_shared<const LibraryData>(std::move(data));
        return CreateLoadedTypeLib(std::move(shared), std::move(path), out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT CreateTypeLib2(SYSKIND syskind, LPCOLESTR szFile, ICreateTypeLib2** ppctlib) {
    if (!ppctlib) return E_INVALIDARG;
    *ppctlib = nullptr;
    if (!szFile) return E_INVALIDARG;
    // Created libraries save through the file writer and reach the standard
    // library through this layer's resolver.
    RegisterFileServices();
    return CreateEditableTypeLib(syskind, std::u16string(szFile), ppctlib);
}

void RegisterFileServices() {
    static std::once_flag once;
    std::call_once(once, [] {
        SetImportResolver(ResolveLibrary);
        SetTypeLibWriter(WriteMsftTypeLib);
    });
}

bool SplitResourceSpec(std::u16string_view spec, std::u16string* path, unsigned* resourceId) {
    *resourceId = 1;
    *path = std::u16string(spec);
    size_t slash = spec.rfind(u'\\');
    if (slash == std::u16string_view::npos || slash + 1 == spec.size()) return true;
    std::u16string_view digits = spec.substr(slash + 1);
    uint64_t id = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return true;
        id = id * 10 + static_cast<unsigned>(c - u'0');
        if (id > 0xFFFF) return false;
    }
    *resourceId = static_cast<unsigned>(id);
    *path = std::u16string(spec.substr(0, slash));
    return true;
}

HRESULT ReadTypeLibImage(std::span<const std::byte> bytes, unsigned resourceId, LibraryData* out) {
    if (!out) return E_POINTER;
    if (IsExecutableImage(bytes)) {
        std::span<const std::byte> resource;
        HRESULT hr = FindTypeLibResource(bytes, resourceId, &resource);
        if (FAILED(hr)) return hr;
        bytes = resource;
    }
    switch (Signature(bytes)) {
    case kMsftSignature: return ReadMsft(bytes, out);
    case kSltgSignature: return ReadSltg(bytes, out);
    default: return TYPE_E_CANTLOADLIBRARY;
    }
}

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND, ITypeLib** pptlib) {
    if (!szFile) return E_INVALIDARG;  // checked first; the output stays as the caller left it
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    RegisterFileServices();
    std::u16string_view spec(szFile);
    if (IsBareName(spec, kStdOle2File)) return GetBuiltinStdOle2(pptlib);
    if (IsBareName(spec, kStdOle32File)) return GetBuiltinStdOle32(pptlib);

    std::u16string file;
    unsigned resourceId = 1;
    if (!SplitResourceSpec(spec, &file, &resourceId)) return TYPE_E_CANTLOADLIBRARY;
    std::error_code ec;
    fs::path path(ToUtf8(file));
    // A file whose own name ends in "\digits" is that file, not a resource.
    if (file.size() != spec.size() && !fs::exists(path, ec) && fs::exists(fs::path(ToUtf8(spec)), ec)) {
        file = std::u16string(spec);
        path = fs::path(ToUtf8(file));
        resourceId = 1;
    }
    fs::path canonical = fs::weakly_canonical(path, ec);
    if (ec) canonical = fs::absolute(path, ec);
    std::string key = canonical.string() + "\\" + std::to_string(resourceId);
    fs::file_time_type modified = fs::last_write_time(canonical, ec);
    uintmax_t size = ec ? 0 : fs::file_size(canonical, ec);

    Cache& cache = TheCache();
    {
        std::lock_guard lock(cache.mutex);
        SweepLocked(cache);
        auto it = cache.byKey.find(key);
        if (it != cache.byKey.end()) {
            if (it->second.modified == modified && it->second.size == size) return it->second.lib.CopyTo(pptlib);
            cache.byKey.erase(it);  // the file changed since it was loaded
        }
    }

    std::vector<std::byte> bytes;
    HRESULT hr = ReadFile(canonical, &bytes);
    if (FAILED(hr)) return hr;
    LibraryData data;
    hr = ReadTypeLibImage(bytes, resourceId, &data);
    if (FAILED(hr)) return hr;
    CacheEntry entry{nullptr, modified, size, data.guid, data.majorVersion, data.minorVersion, data.lcid};
    hr = Wrap(std::move(data), FromUtf8(canonical.string()), entry.lib.put());
    if (FAILED(hr)) return hr;

    std::lock_guard lock(cache.mutex);
    // Another thread may have loaded the same file meanwhile: keep the first.
    auto [it, inserted] = cache.byKey.try_emplace(key, std::move(entry));
    return it->second.lib.CopyTo(pptlib);
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) { return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib); }

HRESULT LoadTypeLibFromMemory(const void* data, size_t size, LPCOLESTR path, ITypeLib** pptlib) {
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    if (!data && size) return E_INVALIDARG;
    RegisterFileServices();
    std::u16string file;
    unsigned resourceId = 1;
    if (!SplitResourceSpec(path ? std::u16string_view(path) : std::u16string_view(), &file, &resourceId))
        return TYPE_E_CANTLOADLIBRARY;
    LibraryData lib;
    HRESULT hr = ReadTypeLibImage(std::span(static_cast<const std::byte*>(data), size), resourceId, &lib);
    if (FAILED(hr)) return hr;
    return Wrap(std::move(lib), std::move(file), pptlib);
}

}  // namespace ole

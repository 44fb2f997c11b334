#include "TestHelpProvider.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "regen/IModifyHelpData.h"

using namespace ole;

namespace {

std::atomic<LONG> g_live{0};

// An exception type of this shared object's own.
struct ProviderError : std::exception {
    const char* what() const noexcept override { return "the provider failed"; }
};

// Throws when ZEPHRIN_TEST_PROVIDER_THROW names the entry point.
void MaybeThrow(const char* entry) {
    const char* named = std::getenv("ZEPHRIN_TEST_PROVIDER_THROW");
    if (named && std::strcmp(named, entry) == 0) throw ProviderError();
}

void Rewrite(zephrin::HelpData& help) {
    if (!help.DocString.empty()) help.DocString.insert(0, u"Rewritten: ");
}

class HelpRewriter final : public RefCounted<zephrin::IModifyHelpData> {
public:
    HelpRewriter() { ++g_live; }
    ~HelpRewriter() override { --g_live; }
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        if (riid == zephrin::IModifyHelpData::kIID) MaybeThrow("QueryInterface");
        return QueryInterfaceFor<zephrin::IModifyHelpData>(this, riid, ppv);
    }
    HRESULT ModifyLibHelp(tli::TypeLibInfo*, zephrin::HelpData& help) override {
        MaybeThrow("ModifyLibHelp");
        if (std::getenv("ZEPHRIN_TEST_PROVIDER_FAIL")) return E_FAIL;
        Rewrite(help);
        return S_OK;
    }
    HRESULT ModifyTypeHelp(tli::TypeInfo*, LONG fieldMask, zephrin::HelpData& help) override {
        if (fieldMask & zephrin::HelpData::kDocString) Rewrite(help);
        return S_OK;
    }
    HRESULT ModifyMemberHelp(tli::TypeInfo*, tli::MemberInfo*, zephrin::HelpData& help) override {
        Rewrite(help);
        return S_OK;
    }
};

class Factory final : public RefCounted<IClassFactory> {
public:
    Factory() { ++g_live; }
    ~Factory() override { --g_live; }
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<IClassFactory>(this, riid, ppv);
    }
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        MaybeThrow("CreateInstance");
        return MakeCom<HelpRewriter>()->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(int lock) override {
        g_live += lock ? 1 : -1;
        return S_OK;
    }
};

void Log(const char* line) {
    if (const char* file = std::getenv("ZEPHRIN_TEST_PROVIDER_LOG")) {
        if (FILE* f = std::fopen(file, "a")) {
            std::fprintf(f, "%s\n", line);
            std::fclose(f);
        }
    }
}

struct UnloadLog {
    ~UnloadLog() { Log(g_live == 0 ? "unloaded" : "unloaded while in use"); }
} g_unloadLog;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid, const IID& riid,
                                                                              void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != testprovider::kCLSID) return CLASS_E_CLASSNOTAVAILABLE;
    MaybeThrow("DllGetClassObject");
    return MakeCom<Factory>()->QueryInterface(riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    Log(g_live == 0 ? "free" : "busy");
    MaybeThrow("DllCanUnloadNow");
    return g_live == 0 ? S_OK : S_FALSE;
}

// A shared object in the shape of an in-process COM server, for the tests
// that load classes by path, class ID and ProgID.
#include <atomic>

#include "TestComInterface.h"

using namespace ole;

namespace {

std::atomic<LONG> g_live{0};

class TestAdder final : public RefCounted<testcom::ITestAdder> {
public:
    TestAdder() { ++g_live; }
    ~TestAdder() override { --g_live; }
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<testcom::ITestAdder>(this, riid, ppv);
    }
    HRESULT Add(LONG a, LONG b, LONG* sum) override {
        if (!sum) return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    LONG LiveCount() override { return g_live; }
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
        ComPtr<TestAdder> obj = MakeCom<TestAdder>();
        return obj->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(int lock) override {
        g_live += lock ? 1 : -1;
        return S_OK;
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid, const IID& riid,
                                                                              void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != testcom::kCLSID_TestAdder) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<Factory> factory = MakeCom<Factory>();
    return factory->QueryInterface(riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return g_live == 0 ? S_OK : S_FALSE;
}

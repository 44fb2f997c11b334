// IUnknown, IDispatch, IClassFactory, the ComPtr smart pointer and a
// reference-count helper for implementations.
#pragma once

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "platform/automation/OleTypes.h"

namespace ole {

struct IUnknown {
    static constexpr IID kIID = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT QueryInterface(const IID& riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual ~IUnknown() = default;
};

// Late-bound access. Kept minimal: this system never calls through IDispatch.
struct IDispatch : IUnknown {
    static constexpr IID kIID = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetIDsOfNames(const IID& riid, LPOLESTR* names, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
};

struct IClassFactory : IUnknown {
    static constexpr IID kIID = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** ppv) = 0;
    virtual HRESULT LockServer(int fLock) = 0;
};

// Intrusive smart pointer. Constructing from a raw pointer or copying adds a
// reference; Attach takes over an existing one. No implicit conversion to a
// raw pointer.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    explicit ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) noexcept : p_(o.get()) { if (p_) p_->AddRef(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(ComPtr<U>&& o) noexcept : p_(o.Detach()) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) noexcept {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Takes over a reference the caller owns.
    void Attach(T* p) noexcept {
        Reset();
        p_ = p;
    }
    static ComPtr Adopt(T* p) noexcept {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Gives the reference to the caller.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases the current pointer and returns the address for an out-parameter.
    T** put() noexcept {
        Reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands out an extra reference through an out-parameter.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (!out) return E_POINTER;
        if (!p_) {
            out->Reset();
            return E_POINTER;
        }
        U* q = nullptr;
        HRESULT hr = p_->QueryInterface(U::kIID, reinterpret_cast<void**>(&q));
        out->Attach(SUCCEEDED(hr) ? q : nullptr);
        return hr;
    }
    template <class U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> r;
        (void)As(&r);
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

// Reference counting for an object implementing one or more interfaces.
// The count starts at 0; wrap a new object in a ComPtr (MakeCom) to own it.
template <class... Interfaces>
class RefCounted : public Interfaces... {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

protected:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    ~RefCounted() override = default;

private:
    std::atomic<ULONG> refs_{0};
};

// QueryInterface over a list of interfaces. IUnknown resolves through the
// first interface listed, so every route returns the same IUnknown pointer.
template <class First, class... Rest, class Self>
HRESULT QueryInterfaceFor(Self* self, const IID& riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::kIID) {
        IUnknown* unk = static_cast<First*>(self);
        *ppv = unk;
    } else if (riid == First::kIID) {
        *ppv = static_cast<First*>(self);
    } else {
        (void)((riid == Rest::kIID ? (*ppv = static_cast<Rest*>(self), true) : false) || ...);
    }
    if (!*ppv) return E_NOINTERFACE;
    self->AddRef();
    return S_OK;
}

template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace ole

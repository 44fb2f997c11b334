#include "platform/automation/SafeArray.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/automation/Variant.h"

namespace ole {

namespace {

// The element VARTYPE lives in a hidden prefix before the descriptor.
constexpr size_t kPrefix = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

VARTYPE& HiddenVt(SAFEARRAY* psa) {
    return *reinterpret_cast<VARTYPE*>(reinterpret_cast<unsigned char*>(psa) - kPrefix);
}

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1: return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL: return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR: return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE: return 8;
        case VT_BSTR: return sizeof(BSTR);
        case VT_UNKNOWN:
        case VT_DISPATCH: return sizeof(void*);
        case VT_VARIANT: return sizeof(VARIANT);
        case VT_DECIMAL: return sizeof(DECIMAL);
        default: return 0;
    }
}

USHORT FeaturesFor(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_BSTR;
        case VT_UNKNOWN: return FADF_UNKNOWN;
        case VT_DISPATCH: return FADF_DISPATCH;
        case VT_VARIANT: return FADF_VARIANT;
        default: return 0;
    }
}

// Leftmost dimension (1-based nDim = 1) is stored last.
SAFEARRAYBOUND& Bound(SAFEARRAY* psa, UINT nDim) { return *(psa->rgsabound + (psa->cDims - nDim)); }

bool CellCount(SAFEARRAY* psa, size_t* count) {
    size_t n = 1;
    for (UINT d = 1; d <= psa->cDims; ++d) {
        size_t c = Bound(psa, d).cElements;
        if (c != 0 && n > std::numeric_limits<size_t>::max() / c) return false;
        n *= c;
    }
    *count = n;
    return true;
}

void ClearCells(SAFEARRAY* psa) {
    size_t count = 0;
    if (!psa->pvData || !CellCount(psa, &count)) return;
    auto* data = static_cast<unsigned char*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) {
        void* cell = data + i * psa->cbElements;
        if (psa->fFeatures & FADF_BSTR) {
            BSTR b;
            std::memcpy(&b, cell, sizeof b);
            SysFreeString(b);
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown* p;
            std::memcpy(&p, cell, sizeof p);
            if (p) p->Release();
        } else if (psa->fFeatures & FADF_VARIANT) {
            VariantClear(static_cast<VARIANT*>(cell));
        }
        std::memset(cell, 0, psa->cbElements);
    }
}

// Copies one cell from src to dst (both raw cells of the array's type); dst
// holds nothing owned.
HRESULT CopyCell(USHORT features, ULONG cb, const void* src, void* dst) {
    if (features & FADF_BSTR) {
        BSTR b;
        std::memcpy(&b, src, sizeof b);
        BSTR copy = nullptr;
        if (b) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(b), SysStringByteLen(b));
            if (!copy) return E_OUTOFMEMORY;
        }
        std::memcpy(dst, &copy, sizeof copy);
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* p;
        std::memcpy(&p, src, sizeof p);
        if (p) p->AddRef();
        std::memcpy(dst, &p, sizeof p);
    } else if (features & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(dst));
        return VariantCopy(static_cast<VARIANT*>(dst), static_cast<const VARIANT*>(src));
    } else {
        std::memcpy(dst, src, cb);
    }
    return S_OK;
}

SAFEARRAY* AllocDescriptor(UINT cDims) {
    size_t size = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, size));
    if (!block) return nullptr;
    return reinterpret_cast<SAFEARRAY*>(block + kPrefix);
}

void FreeDescriptor(SAFEARRAY* psa) { std::free(reinterpret_cast<unsigned char*>(psa) - kPrefix); }

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
    ULONG cb = ElementSize(vt);
    if (cb == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
    SAFEARRAY* psa = AllocDescriptor(cDims);
    if (!psa) return nullptr;
    HiddenVt(psa) = vt;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = static_cast<USHORT>(FADF_HAVEVARTYPE | FeaturesFor(vt));
    psa->cbElements = cb;
    for (UINT d = 0; d < cDims; ++d) Bound(psa, d + 1) = rgsabound[d];
    size_t count = 0;
    if (!CellCount(psa, &count) || count > std::numeric_limits<size_t>::max() / cb) {
        FreeDescriptor(psa);
        return nullptr;
    }
    psa->pvData = std::calloc(count ? count : 1, cb);
    if (!psa->pvData) {
        FreeDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND b{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &b);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    ClearCells(psa);
    std::free(psa->pvData);
    psa->pvData = nullptr;
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    HRESULT hr = SafeArrayDestroyData(psa);
    if (FAILED(hr)) return hr;
    FreeDescriptor(psa);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    SAFEARRAY* copy = AllocDescriptor(psa->cDims);
    if (!copy) return E_OUTOFMEMORY;
    HiddenVt(copy) = HiddenVt(psa);
    copy->cDims = psa->cDims;
    copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED));
    copy->cbElements = psa->cbElements;
    for (UINT d = 1; d <= psa->cDims; ++d) Bound(copy, d) = Bound(psa, d);
    size_t count = 0;
    CellCount(psa, &count);
    if (psa->pvData) {
        copy->pvData = std::calloc(count ? count : 1, psa->cbElements);
        if (!copy->pvData) {
            FreeDescriptor(copy);
            return E_OUTOFMEMORY;
        }
        auto* src = static_cast<unsigned char*>(psa->pvData);
        auto* dst = static_cast<unsigned char*>(copy->pvData);
        for (size_t i = 0; i < count; ++i) {
            HRESULT hr = CopyCell(psa->fFeatures, psa->cbElements, src + i * psa->cbElements,
                                  dst + i * psa->cbElements);
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    if (psa->fFeatures & FADF_HAVEVARTYPE)
        *pvt = HiddenVt(psa);
    else if (psa->fFeatures & FADF_BSTR)
        *pvt = VT_BSTR;
    else if (psa->fFeatures & FADF_UNKNOWN)
        *pvt = VT_UNKNOWN;
    else if (psa->fFeatures & FADF_DISPATCH)
        *pvt = VT_DISPATCH;
    else if (psa->fFeatures & FADF_VARIANT)
        *pvt = VT_VARIANT;
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = Bound(psa, nDim).lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = Bound(psa, nDim);
    *plUbound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* rgIndices, void** ppvData) {
    if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
    *ppvData = nullptr;
    if (!psa->pvData) return E_INVALIDARG;
    size_t cell = 0;
    size_t stride = 1;
    for (UINT d = 1; d <= psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = Bound(psa, d);
        int64_t offset = static_cast<int64_t>(rgIndices[d - 1]) - b.lLbound;
        if (offset < 0 || offset >= static_cast<int64_t>(b.cElements)) return DISP_E_BADINDEX;
        cell += static_cast<size_t>(offset) * stride;
        stride *= b.cElements;
    }
    *ppvData = static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv) {
    if (!pv) return E_INVALIDARG;
    void* cell = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
    if (FAILED(hr)) return hr;
    return CopyCell(psa->fFeatures, psa->cbElements, cell, pv);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv) {
    void* cell = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
    if (FAILED(hr)) return hr;
    if (psa->cLocks >= 0xFFFF) return DISP_E_ARRAYISLOCKED;
    if (psa->fFeatures & FADF_BSTR) {
        // pv is the BSTR itself.
        auto src = static_cast<BSTR>(const_cast<void*>(pv));
        BSTR copy = nullptr;
        if (src) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
            if (!copy) return E_OUTOFMEMORY;
        }
        BSTR old;
        std::memcpy(&old, cell, sizeof old);
        SysFreeString(old);
        std::memcpy(cell, &copy, sizeof copy);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        // pv is the interface pointer itself.
        auto* p = static_cast<IUnknown*>(const_cast<void*>(pv));
        if (p) p->AddRef();
        IUnknown* old;
        std::memcpy(&old, cell, sizeof old);
        if (old) old->Release();
        std::memcpy(cell, &p, sizeof p);
    } else if (psa->fFeatures & FADF_VARIANT) {
        if (!pv) return E_INVALIDARG;
        return VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
    } else {
        if (!pv) return E_INVALIDARG;
        std::memcpy(cell, pv, psa->cbElements);
    }
    return S_OK;
}

}  // namespace ole

#include "platform/automation/Variant.h"

#include <cmath>
#include <cstring>

namespace ole {

namespace {

// Types a VARIANT may hold: 0-14 and 16-23, optionally as an array or by
// reference (not EMPTY or NULL).
HRESULT ValidateType(VARTYPE vt) {
    VARTYPE extra = vt & static_cast<VARTYPE>(~VT_TYPEMASK);
    VARTYPE base = vt & VT_TYPEMASK;
    if (extra & (VT_VECTOR | VT_RESERVED)) return DISP_E_BADVARTYPE;
    if (extra != 0 && base <= VT_NULL) return DISP_E_BADVARTYPE;
    if (base == 15 || base > VT_UINT) return DISP_E_BADVARTYPE;
    return S_OK;
}

HRESULT CopyValue(const VARIANT& src, VARIANT* out) {
    VARIANT tmp = src;
    if (src.vt & VT_BYREF) {
        // shallow: the pointer is shared
    } else if (src.vt & VT_ARRAY) {
        HRESULT hr = SafeArrayCopy(src.parray, &tmp.parray);
        if (FAILED(hr)) return hr;
    } else if (src.vt == VT_BSTR) {
        if (src.bstrVal) {
            tmp.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal),
                                                SysStringByteLen(src.bstrVal));
            if (!tmp.bstrVal) return E_OUTOFMEMORY;
        }
    } else if (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) {
        if (src.punkVal) src.punkVal->AddRef();
    }
    *out = tmp;
    return S_OK;
}

// A non-owning view of the value a VT_BYREF variant points to.
bool Deref(const VARIANT& v, VARIANT* out) {
    if (!(v.vt & VT_BYREF)) {
        *out = v;
        return true;
    }
    if (!v.byref) return false;
    VARTYPE vt = v.vt & static_cast<VARTYPE>(~VT_BYREF);
    if (vt == VT_VARIANT) {
        *out = *v.pvarVal;
        return !(out->vt & VT_BYREF);
    }
    VARIANT r;
    std::memset(&r, 0, sizeof r);
    r.vt = vt;
    if (vt & VT_ARRAY) {
        r.parray = *v.pparray;
    } else {
        switch (vt) {
            case VT_I1:
            case VT_UI1: std::memcpy(&r.bVal, v.byref, 1); break;
            case VT_I2:
            case VT_UI2:
            case VT_BOOL: std::memcpy(&r.iVal, v.byref, 2); break;
            case VT_I4:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_R4:
            case VT_ERROR: std::memcpy(&r.lVal, v.byref, 4); break;
            case VT_I8:
            case VT_UI8:
            case VT_R8:
            case VT_CY:
            case VT_DATE: std::memcpy(&r.llVal, v.byref, 8); break;
            case VT_BSTR: r.bstrVal = *v.pbstrVal; break;
            case VT_UNKNOWN:
            case VT_DISPATCH: r.punkVal = *v.ppunkVal; break;
            case VT_DECIMAL: r.decVal = *v.pdecVal; break;
            default: return false;
        }
    }
    *out = r;
    return true;
}

unsigned __int128 Mantissa(const DECIMAL& d) { return (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64; }

bool DecimalEqual(const DECIMAL& a, const DECIMAL& b) {
    unsigned __int128 ma = Mantissa(a), mb = Mantissa(b);
    int sa = a.scale, sb = b.scale;
    while (sa > 0 && ma % 10 == 0) ma /= 10, --sa;
    while (sb > 0 && mb % 10 == 0) mb /= 10, --sb;
    if (ma == 0 && mb == 0) return true;
    return ma == mb && sa == sb && (a.sign & DECIMAL_NEG) == (b.sign & DECIMAL_NEG);
}

bool CellsEqual(VARTYPE vt, ULONG cb, const unsigned char* a, const unsigned char* b) {
    if (vt == VT_BSTR) {
        BSTR x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        return BstrView(x) == BstrView(y);
    }
    if (vt == VT_VARIANT) return VariantEqual(*reinterpret_cast<const VARIANT*>(a), *reinterpret_cast<const VARIANT*>(b));
    if (vt == VT_DECIMAL) return DecimalEqual(*reinterpret_cast<const DECIMAL*>(a), *reinterpret_cast<const DECIMAL*>(b));
    if (vt == VT_R4) {
        float x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        return x == y;
    }
    if (vt == VT_R8 || vt == VT_DATE) {
        double x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        return x == y;
    }
    return std::memcmp(a, b, cb) == 0;
}

bool ArraysEqual(SAFEARRAY* a, SAFEARRAY* b) {
    if (a == b) return true;
    if (!a || !b || a->cDims != b->cDims || a->cbElements != b->cbElements) return false;
    VARTYPE va = 0, vb = 0;
    if (FAILED(SafeArrayGetVartype(a, &va)) || FAILED(SafeArrayGetVartype(b, &vb)) || va != vb) return false;
    size_t count = 1;
    for (UINT d = 0; d < a->cDims; ++d) {
        if ((a->rgsabound + d)->cElements != (b->rgsabound + d)->cElements ||
            (a->rgsabound + d)->lLbound != (b->rgsabound + d)->lLbound)
            return false;
        count *= (a->rgsabound + d)->cElements;
    }
    if (count == 0) return true;
    if (!a->pvData || !b->pvData) return a->pvData == b->pvData;
    auto* pa = static_cast<const unsigned char*>(a->pvData);
    auto* pb = static_cast<const unsigned char*>(b->pvData);
    for (size_t i = 0; i < count; ++i)
        if (!CellsEqual(va, a->cbElements, pa + i * a->cbElements, pb + i * a->cbElements)) return false;
    return true;
}

constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yy + (*m <= 2));
}

constexpr int64_t kEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return kDays[m - 1];
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    HRESULT hr = ValidateType(pvarg->vt);
    if (FAILED(hr)) return hr;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) return hr;
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal) pvarg->punkVal->Release();
        }
    }
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    HRESULT hr = ValidateType(pvargSrc->vt);
    if (FAILED(hr)) return hr;
    VARIANT tmp;
    hr = CopyValue(*pvargSrc, &tmp);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&tmp);
        return hr;
    }
    *pvargDest = tmp;
    return S_OK;
}

HRESULT CopyHeldValue(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (dest->vt == VT_HRESULT) VariantInit(dest);
    if (src->vt != VT_HRESULT) return VariantCopy(dest, src);
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) return hr;
    *dest = *src;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    HRESULT hr = ValidateType(pvargSrc->vt);
    if (FAILED(hr)) return hr;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    VARIANT view;
    if (!Deref(*pvargSrc, &view)) return E_INVALIDARG;
    hr = ValidateType(view.vt);
    if (FAILED(hr)) return hr;
    VARIANT tmp;
    hr = CopyValue(view, &tmp);
    if (FAILED(hr)) return hr;
    if (pvarDest != pvargSrc) {
        hr = VariantClear(pvarDest);
        if (FAILED(hr)) {
            VariantClear(&tmp);
            return hr;
        }
    }
    *pvarDest = tmp;
    return S_OK;
}

bool VariantEqual(const VARIANT& a0, const VARIANT& b0) {
    VARIANT a, b;
    if (!Deref(a0, &a) || !Deref(b0, &b)) return false;
    if (a.vt != b.vt) return false;
    if (a.vt & VT_ARRAY) return ArraysEqual(a.parray, b.parray);
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL: return true;
        case VT_I1:
        case VT_UI1: return a.bVal == b.bVal;
        case VT_I2:
        case VT_UI2: return a.iVal == b.iVal;
        case VT_BOOL: return (a.boolVal != 0) == (b.boolVal != 0);
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
        case VT_HRESULT: return a.lVal == b.lVal;
        case VT_I8:
        case VT_UI8: return a.llVal == b.llVal;
        case VT_R4: return a.fltVal == b.fltVal;
        case VT_R8: return a.dblVal == b.dblVal;
        case VT_DATE: return a.date == b.date;
        case VT_CY: return a.cyVal.int64 == b.cyVal.int64;
        case VT_BSTR: return BstrView(a.bstrVal) == BstrView(b.bstrVal);
        case VT_UNKNOWN:
        case VT_DISPATCH: return a.punkVal == b.punkVal;
        case VT_DECIMAL: return DecimalEqual(a.decVal, b.decVal);
        default: return false;
    }
}

bool DateFromParts(const DateParts& p, DATE* out) {
    if (!out) return false;
    if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > DaysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 ||
        p.second < 0 || p.second > 59)
        return false;
    int64_t days = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) - kEpoch;
    double time = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
    *out = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
    return true;
}

bool PartsFromDate(DATE date, DateParts* out) {
    if (!out || !(date > -657435.0 && date < 2958466.0)) return false;
    double whole = std::trunc(date);
    int64_t days = static_cast<int64_t>(whole);
    int64_t secs = std::llround(std::fabs(date - whole) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    DateParts p;
    CivilFromDays(days + kEpoch, &p.year, &p.month, &p.day);
    if (p.year < 100 || p.year > 9999) return false;
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    int64_t z = days + kEpoch;  // days since 1970-01-01, a Thursday
    p.dayOfWeek = static_cast<int>(z >= -4 ? (z + 4) % 7 : (z + 5) % 7 + 6);
    p.dayOfYear = static_cast<int>(days + kEpoch - DaysFromCivil(p.year, 1, 1) + 1);
    *out = p;
    return true;
}

}  // namespace ole

// VARIANT: the automation value type, its conversions and an RAII wrapper.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/automation/BStr.h"
#include "platform/automation/OleTypes.h"
#include "platform/automation/SafeArray.h"
#include "platform/automation/Unknown.h"

namespace ole {

// Currency: a 64-bit integer scaled by 10,000.
struct CY {
    LONGLONG int64;
};

// 96-bit unsigned integer (Hi32:Lo64) scaled by 10^-scale; sign 0x80 = negative.
struct DECIMAL {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};
inline constexpr BYTE DECIMAL_NEG = 0x80;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_INT_PTR = 37,
    VT_UINT_PTR = 38,
    VT_FILETIME = 64,
    VT_BLOB = 65,
    VT_STREAM = 66,
    VT_STORAGE = 67,
    VT_STREAMED_OBJECT = 68,
    VT_STORED_OBJECT = 69,
    VT_BLOB_OBJECT = 70,
    VT_CF = 71,
    VT_CLSID = 72,
    VT_VERSIONED_STREAM = 73,
    VT_BSTR_BLOB = 0x0FFF,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_ILLEGAL = 0xFFFF,
    VT_ILLEGALMASKED = 0x0FFF,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        DECIMAL decVal;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// Flags of the Var*From* conversions (date formatting).
inline constexpr ULONG VAR_TIMEVALUEONLY = 0x0001;
inline constexpr ULONG VAR_DATEVALUEONLY = 0x0002;
inline constexpr ULONG LOCALE_NOUSEROVERRIDE = 0x80000000u;

void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
// pvargDest is cleared first. Copying a variant onto itself is a no-op.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts pvarSrc to vt into pvargDest (which may be pvarSrc). On failure
// pvargDest is left unchanged.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt);

// True when both variants have the same type and equal values (BSTRs compare
// by text, interfaces by pointer, arrays element by element).
bool VariantEqual(const VARIANT& a, const VARIANT& b);

// Text of a value as the platform converts it to VT_BSTR (en-US).
HRESULT VariantToText(const VARIANT& v, std::u16string* out, USHORT wFlags = 0);

// Calendar helpers for DATE (days since 30 Dec 1899; the fraction is the time
// of day, measured from midnight away from day 0 for negative dates).
struct DateParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 0;  // 0 = Sunday (output only)
    int dayOfYear = 0;  // 1-based (output only)
};
// Valid range: years 100 to 9999. Month and day overflow are not normalised.
bool DateFromParts(const DateParts& parts, DATE* out);
// Rounds to the nearest second.
bool PartsFromDate(DATE date, DateParts* out);

// Decimal helpers.
HRESULT DecimalFromDouble(double d, DECIMAL* out);
double DecimalToDouble(const DECIMAL& d);
HRESULT DecimalFromText(std::u16string_view text, DECIMAL* out);
std::u16string DecimalToText(const DECIMAL& d);

// VariantCopy, except that a VT_HRESULT value is copied as it is: it is no
// VARIANT type (VariantCopy and VariantClear refuse it), but type libraries
// hold such values as custom data, and it owns nothing.
HRESULT CopyHeldValue(VARIANT* dest, const VARIANT* src);

// Owner of one VARIANT. It may also hold a VT_HRESULT value (see CopyHeldValue).
class Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    Variant(const VARIANT& v) {
        VariantInit(&v_);
        Check(CopyHeldValue(&v_, &v));
    }
    Variant(const Variant& o) : Variant(o.v_) {}
    Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
    ~Variant() { Reset(v_); }
    Variant& operator=(const Variant& o) {
        if (this != &o) Check(CopyHeldValue(&v_, &o.v_));
        return *this;
    }
    Variant& operator=(Variant&& o) noexcept {
        if (this != &o) {
            Reset(v_);
            v_ = o.v_;
            VariantInit(&o.v_);
        }
        return *this;
    }

    explicit Variant(bool b) noexcept : Variant() { Set(VT_BOOL).boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; }
    explicit Variant(int8_t x) noexcept : Variant() { Set(VT_I1).cVal = static_cast<CHAR>(x); }
    explicit Variant(uint8_t x) noexcept : Variant() { Set(VT_UI1).bVal = x; }
    explicit Variant(int16_t x) noexcept : Variant() { Set(VT_I2).iVal = x; }
    explicit Variant(uint16_t x) noexcept : Variant() { Set(VT_UI2).uiVal = x; }
    explicit Variant(int32_t x) noexcept : Variant() { Set(VT_I4).lVal = x; }
    explicit Variant(uint32_t x) noexcept : Variant() { Set(VT_UI4).ulVal = x; }
    explicit Variant(int64_t x) noexcept : Variant() { Set(VT_I8).llVal = x; }
    explicit Variant(uint64_t x) noexcept : Variant() { Set(VT_UI8).ullVal = x; }
    explicit Variant(float x) noexcept : Variant() { Set(VT_R4).fltVal = x; }
    explicit Variant(double x) noexcept : Variant() { Set(VT_R8).dblVal = x; }
    explicit Variant(CY x) noexcept : Variant() { Set(VT_CY).cyVal = x; }
    explicit Variant(const DECIMAL& x) noexcept : Variant() {
        v_.decVal = x;
        v_.vt = VT_DECIMAL;
    }
    explicit Variant(std::u16string_view s) : Variant() {
        BSTR b = SysAllocString(s);
        if (!b) throw std::bad_alloc();
        Set(VT_BSTR).bstrVal = b;
    }
    explicit Variant(const OLECHAR* s) : Variant(std::u16string_view(s ? s : u"")) {}
    explicit Variant(IUnknown* p) noexcept : Variant() {
        Set(VT_UNKNOWN).punkVal = p;
        if (p) p->AddRef();
    }
    explicit Variant(IDispatch* p) noexcept : Variant() {
        Set(VT_DISPATCH).pdispVal = p;
        if (p) p->AddRef();
    }

    static Variant Date(DATE d) noexcept {
        Variant r;
        r.Set(VT_DATE).date = d;
        return r;
    }
    static Variant Error(SCODE s) noexcept {
        Variant r;
        r.Set(VT_ERROR).scode = s;
        return r;
    }
    static Variant Null() noexcept {
        Variant r;
        r.v_.vt = VT_NULL;
        return r;
    }
    static Variant Int(INT x) noexcept {
        Variant r;
        r.Set(VT_INT).intVal = x;
        return r;
    }
    static Variant UInt(UINT x) noexcept {
        Variant r;
        r.Set(VT_UINT).uintVal = x;
        return r;
    }
    static Variant Currency(LONGLONG scaled) noexcept {
        Variant r;
        r.Set(VT_CY).cyVal.int64 = scaled;
        return r;
    }

    VARTYPE vt() const noexcept { return v_.vt; }
    const VARIANT& get() const noexcept { return v_; }
    VARIANT& get() noexcept { return v_; }
    VARIANT* ptr() noexcept { return &v_; }
    const VARIANT* ptr() const noexcept { return &v_; }
    // Clears and returns the address for an out-parameter.
    VARIANT* put() noexcept {
        Reset(v_);
        return &v_;
    }
    void Clear() noexcept { Reset(v_); }
    // Takes ownership of v's contents (v becomes VT_EMPTY).
    void Attach(VARIANT& v) noexcept {
        Reset(v_);
        v_ = v;
        VariantInit(&v);
    }
    // Moves the contents out; this becomes VT_EMPTY.
    void Detach(VARIANT* out) noexcept {
        *out = v_;
        VariantInit(&v_);
    }
    HRESULT ChangeType(VARTYPE vt, USHORT flags = 0) { return VariantChangeType(&v_, &v_, flags, vt); }
    std::u16string ToText(USHORT flags = VARIANT_ALPHABOOL) const {
        std::u16string s;
        return SUCCEEDED(VariantToText(v_, &s, flags)) ? s : std::u16string();
    }

    friend bool operator==(const Variant& a, const Variant& b) { return VariantEqual(a.v_, b.v_); }

private:
    static void Reset(VARIANT& v) noexcept {
        if (v.vt == VT_HRESULT)
            VariantInit(&v);
        else
            VariantClear(&v);
    }
    VARIANT& Set(VARTYPE t) noexcept {
        v_.vt = t;
        v_.llVal = 0;
        return v_;
    }
    static void Check(HRESULT hr) {
        // Only running out of memory is exceptional; an uncopyable value leaves VT_EMPTY.
        if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    }
    VARIANT v_;
};

}  // namespace ole

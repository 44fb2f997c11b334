// Basic OLE Automation types: integer typedefs, GUID and HRESULT values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

namespace ole {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONG = int32_t;
using ULONG = uint32_t;
using INT = int32_t;
using UINT = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using CHAR = char;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LCID = uint32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using SCODE = int32_t;
using HRESULT = int32_t;
using MEMBERID = int32_t;
using DISPID = int32_t;
using HREFTYPE = uint32_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;
inline constexpr MEMBERID MEMBERID_NIL = -1;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

constexpr bool operator==(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) noexcept { return !(a == b); }
constexpr bool operator<(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    return false;
}

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;

// HRESULT values.
constexpr HRESULT MakeHResult(uint32_t v) noexcept { return static_cast<HRESULT>(v); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

inline constexpr HRESULT CO_E_IIDSTRING = MakeHResult(0x800401F4);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
inline constexpr HRESULT REGDB_E_KEYMISSING = MakeHResult(0x80040152);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = MakeHResult(0x8002000C);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHResult(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
inline constexpr HRESULT DISP_E_BADCALLEE = MakeHResult(0x80020010);
inline constexpr HRESULT DISP_E_NOTACOLLECTION = MakeHResult(0x80020011);
inline constexpr HRESULT DISP_E_DIVBYZERO = MakeHResult(0x80020012);

inline constexpr HRESULT TYPE_E_BUFFERTOOSMALL = MakeHResult(0x80028016);
inline constexpr HRESULT TYPE_E_FIELDNOTFOUND = MakeHResult(0x80028017);
inline constexpr HRESULT TYPE_E_INVDATAREAD = MakeHResult(0x80028018);
inline constexpr HRESULT TYPE_E_UNSUPFORMAT = MakeHResult(0x80028019);
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHResult(0x8002801C);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHResult(0x8002801D);
inline constexpr HRESULT TYPE_E_UNDEFINEDTYPE = MakeHResult(0x80028027);
inline constexpr HRESULT TYPE_E_QUALIFIEDNAMEDISALLOWED = MakeHResult(0x80028028);
inline constexpr HRESULT TYPE_E_INVALIDSTATE = MakeHResult(0x80028029);
inline constexpr HRESULT TYPE_E_WRONGTYPEKIND = MakeHResult(0x8002802A);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHResult(0x8002802B);
inline constexpr HRESULT TYPE_E_AMBIGUOUSNAME = MakeHResult(0x8002802C);
inline constexpr HRESULT TYPE_E_NAMECONFLICT = MakeHResult(0x8002802D);
inline constexpr HRESULT TYPE_E_UNKNOWNLCID = MakeHResult(0x8002802E);
inline constexpr HRESULT TYPE_E_DLLFUNCTIONNOTFOUND = MakeHResult(0x8002802F);
inline constexpr HRESULT TYPE_E_BADMODULEKIND = MakeHResult(0x800288BD);
inline constexpr HRESULT TYPE_E_SIZETOOBIG = MakeHResult(0x800288C5);
inline constexpr HRESULT TYPE_E_DUPLICATEID = MakeHResult(0x800288C6);
inline constexpr HRESULT TYPE_E_INVALIDID = MakeHResult(0x800288CF);
inline constexpr HRESULT TYPE_E_TYPEMISMATCH = MakeHResult(0x80028CA0);
inline constexpr HRESULT TYPE_E_OUTOFBOUNDS = MakeHResult(0x80028CA1);
inline constexpr HRESULT TYPE_E_IOERROR = MakeHResult(0x80028CA2);
inline constexpr HRESULT TYPE_E_CANTCREATETMPFILE = MakeHResult(0x80028CA3);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHResult(0x80029C4A);
inline constexpr HRESULT TYPE_E_INCONSISTENTPROPFUNCS = MakeHResult(0x80029C83);
inline constexpr HRESULT TYPE_E_CIRCULARTYPE = MakeHResult(0x80029C84);

inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHResult(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHResult(0x80030002);
inline constexpr HRESULT STG_E_PATHNOTFOUND = MakeHResult(0x80030003);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHResult(0x80030005);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeHResult(0x80030008);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHResult(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = MakeHResult(0x8003001E);

inline constexpr bool SUCCEEDED(HRESULT hr) noexcept { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) noexcept { return hr < 0; }

inline constexpr uint32_t FACILITY_WIN32 = 7;
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) noexcept {
    return static_cast<HRESULT>(code) <= 0
               ? static_cast<HRESULT>(code)
               : static_cast<HRESULT>((code & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
inline constexpr uint32_t HRESULT_CODE(HRESULT hr) noexcept { return static_cast<uint32_t>(hr) & 0xFFFFu; }
inline constexpr uint32_t HRESULT_FACILITY(HRESULT hr) noexcept {
    return (static_cast<uint32_t>(hr) >> 16) & 0x1FFFu;
}

}  // namespace ole

template <>
struct std::hash<ole::GUID> {
    size_t operator()(const ole::GUID& g) const noexcept {
        uint64_t a = (uint64_t{g.Data1} << 32) | (uint64_t{g.Data2} << 16) | g.Data3;
        uint64_t b = 0;
        std::memcpy(&b, g.Data4, 8);
        uint64_t h = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull + (a << 6) + (a >> 2));
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

#include "typelib/modMarbrel.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/RecordReader.h"
#include "foundation/RecordWriter.h"
#include "typelib/CustParameterInfo.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::modMarbrel {
namespace {

using ole::ComPtr;
using ole::FAILED;
using ole::HRESULT;
using ole::SUCCEEDED;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Case folding of the platform's text comparison for ASCII and Latin-1 letters.
char16_t Fold(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
    return c;
}

int32_t TextCompare(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Appends the decimal digits of n.
void AppendNumber(std::u16string& text, uint32_t n) {
    char16_t digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count > 0) text.push_back(digits[--count]);
}

bool SameObject(ole::IUnknown* a, ole::IUnknown* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    ComPtr<ole::IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(ole::IUnknown::kIID, ua.put_void()))) return false;
    if (FAILED(b->QueryInterface(ole::IUnknown::kIID, ub.put_void()))) return false;
    return ua.get() == ub.get();
}

// The ITypeInfo behind a user-defined type description (null when it has none).
ComPtr<ole::ITypeInfo> ReferencedITypeInfo(tli::VarTypeInfo* vti) {
    ComPtr<tli::TypeInfo> type;
    CheckHr(vti->get_TypeInfo(type.put()));
    ComPtr<ole::ITypeInfo> ti;
    if (type) CheckHr(type->get_ITypeInfo(ti.put()));
    return ti;
}

class LeadingUnderscoreSort final : public ole::RefCounted<tli::CustomSort> {
public:
    HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<tli::CustomSort>(this, riid, ppv);
    }
    HRESULT Compare(tli::MemberInfo* a, tli::MemberInfo* b, ole::LONG* r) override {
        if (!r) return ole::E_POINTER;
        *r = 0;
        if (!a || !b) return ole::E_INVALIDARG;
        std::u16string first, second;
        if (HRESULT hr = a->get_Name(&first); FAILED(hr)) return hr;
        if (HRESULT hr = b->get_Name(&second); FAILED(hr)) return hr;
        *r = CompareLeadingUnderscore(first, second);
        return ole::S_OK;
    }
};

constexpr int kMaxAliasDepth = 64;
constexpr int32_t kErrObjectNotSet = 91;

// A FUNCDESC, released with the type's ReleaseFuncDesc.
class FuncDescOf {
public:
    FuncDescOf(ole::ITypeInfo* ti, ole::UINT index) : ti_(ti) {
        CheckHr(ti->GetFuncDesc(index, &fd_));
        if (!fd_) RaiseError(ole::E_UNEXPECTED);
    }
    ~FuncDescOf() { ti_->ReleaseFuncDesc(fd_); }
    FuncDescOf(const FuncDescOf&) = delete;
    FuncDescOf& operator=(const FuncDescOf&) = delete;
    const ole::FUNCDESC& operator*() const { return *fd_; }

private:
    ole::ITypeInfo* ti_;
    ole::FUNCDESC* fd_ = nullptr;
};

}  // namespace

// ---- Unique names ----

void MakeUniqueName(const NamePredicate& isFree, std::u16string& name, bool force, uint32_t maxCandidates) {
    if (!isFree) RaiseError(kErrInvalidArgument);
    if (!force && isFree(name)) return;

    size_t baseLength = name.size();
    if (!force) {
        size_t end = name.size();
        while (end > 0 && IsDigit(name[end - 1])) --end;
        if (end > 0) baseLength = end;  // keep an all-digit name whole
    }
    // One buffer for every candidate: only the digits change.
    std::u16string candidate(name, 0, baseLength);
    candidate.reserve(baseLength + 10);
    for (uint32_t n = 1; n <= maxCandidates && n != 0; ++n) {
        candidate.resize(baseLength);
        AppendNumber(candidate, n);
        if (isFree(candidate)) {
            name = std::move(candidate);
            return;
        }
    }
    candidate.resize(baseLength);
    // The count with thousands separators: 1,000,000.
    std::u16string tries;
    AppendNumber(tries, maxCandidates);
    for (size_t at = tries.size(); at > 3; at -= 3) tries.insert(at - 3, 1, u',');
    RaiseError(kErrInvalidArgument, u"No free name found for '" + candidate + u"' after " + tries + u" tries");
}

bool IsMemberNameFree(ole::ITypeInfo* type, const std::u16string& name) {
    if (!type) RaiseError(kErrInvalidArgument);
    std::u16string copy(name);
    ole::LPOLESTR names[1] = {copy.data()};
    ole::MEMBERID id = ole::MEMBERID_NIL;
    (void)type->GetIDsOfNames(names, 1, &id);  // a failure means "no such member"
    return id == ole::MEMBERID_NIL;
}

NamePredicate MemberNamePredicate(ole::ITypeInfo* type) {
    if (!type) RaiseError(kErrInvalidArgument);
    return [ti = ComPtr<ole::ITypeInfo>(type)](const std::u16string& candidate) {
        return IsMemberNameFree(ti.get(), candidate);
    };
}

// ---- Leading-underscore ordering ----

void StripLeadingUnderscores(std::u16string_view name, std::u16string_view& key, int32_t& count) {
    size_t n = 0;
    while (n < name.size() && name[n] == u'_') ++n;
    if (n == 0) return;
    key = name.substr(n);
    count = static_cast<int32_t>(n);
}

int32_t CompareLeadingUnderscore(std::u16string_view first, std::u16string_view second) {
    std::u16string_view key1 = first, key2 = second;
    int32_t count1 = 0, count2 = 0;
    StripLeadingUnderscores(first, key1, count1);
    StripLeadingUnderscores(second, key2, count2);
    const int32_t result = TextCompare(key1, key2);
    if (result == 0 && count1 != count2) return count1 - count2;
    return result;
}

ole::ComPtr<tli::CustomSort> LeadingUnderscoreCustomSort() {
    static const ComPtr<tli::CustomSort> shared(new LeadingUnderscoreSort());
    return shared;
}

// ---- Member and parameter queries ----

int32_t CalcParamOptionMask(const ole::FUNCDESC& func, std::span<const ole::ELEMDESC> params, int32_t i) {
    const int32_t n = func.cParams;
    if (n < 0 || params.size() < static_cast<size_t>(n)) RaiseError(kErrInvalidArgument);
    const uint32_t o = static_cast<uint16_t>(func.cParamsOpt);
    constexpr uint32_t kParamArray = 65535;
    // Flags of parameter k; a position outside the list has none.
    auto flags = [&](int32_t k) -> uint32_t {
        return k >= 0 && k < n ? params[static_cast<size_t>(k)].paramdesc.wParamFlags : 0u;
    };
    constexpr uint32_t FLCID = ole::PARAMFLAG_FLCID, FRETVAL = ole::PARAMFLAG_FRETVAL,
                       FOPT = ole::PARAMFLAG_FOPT, FHASDEFAULT = ole::PARAMFLAG_FHASDEFAULT;

    const bool isPut = (func.invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
    const ole::VARTYPE ret = func.elemdescFunc.tdesc.vt;
    const bool returnsStatus = ret == ole::VT_VOID || ret == ole::VT_HRESULT;
    // A dispatch Get that returns the value itself has no return value
    // parameter to take: its parameters are indexes, as a method's are.
    const bool isGet = (func.invkind & ole::INVOKE_PROPERTYGET) != 0 &&
                       (func.funckind != ole::FUNC_DISPATCH || returnsStatus || (n > 0 && (flags(n - 1) & FRETVAL)));
    bool canRetval = isGet;
    if (func.invkind == ole::INVOKE_FUNC) canRetval = returnsStatus;

    if (n == 0) return canRetval ? 0x7F000 : 0x7D000;
    uint32_t mask = o == kParamArray ? 0x80000 : 0;

    if (i != n - 1 && i != -1) {
        mask |= 0x800;
    } else if (i == n - 1) {
        if (isGet)
            mask |= 0x400;
        else if (isPut)
            return static_cast<int32_t>(mask | 0x80);
        else
            mask |= 0x800;
    }

    int32_t k = isPut ? 1 : 0;
    const bool lastIsRetval = (flags(n - 1) & FRETVAL) != 0;
    if (lastIsRetval) {
        mask |= 0x100000;
        ++k;
        if (i == n - 1) {
            if (isGet) return static_cast<int32_t>(mask | 0x42);
            if (i == 0) return static_cast<int32_t>(mask | 0x42 | 0x20000D);
            if (flags(i - 1) & (FLCID | FOPT | FHASDEFAULT)) return static_cast<int32_t>(mask | 0x442);
            if (!(mask & 0x80000)) return static_cast<int32_t>(mask | 0x42 | 0x20000D);
            return static_cast<int32_t>(mask | 0x442);
        }
    }

    bool lcid = false;
    if (k < n && (flags(n - 1 - k) & FLCID)) {
        ++k;
        if (i == n - k) return static_cast<int32_t>(mask | 0x20 | (canRetval && !lastIsRetval ? 0x2000 : 0));
        if (i < n - k) canRetval = false;
        lcid = true;
    }

    const int32_t last = n - k;  // the ordinary parameters
    if (i == last - 1) {
        if (!lcid) mask |= 0x20000;
        if (canRetval && !lastIsRetval) mask |= 0x2000;
        if (o == kParamArray) return static_cast<int32_t>(mask | 0x10);
        if (canRetval && k == 0) mask |= 0x2;
    }

    if (o < kParamArray) {
        const int32_t first = last - static_cast<int32_t>(o);  // the first optional parameter
        if (i < first) {
            int32_t d = 0;
            for (int32_t t = 0; t < first; ++t) {
                if (flags(t) & (FOPT | FHASDEFAULT)) {
                    d = first - t;
                    break;
                }
            }
            const int32_t firstDef = first - d;
            if (i >= firstDef) {
                mask |= 0x244004;
                mask |= (flags(i) & FHASDEFAULT) ? 0x100 : 0x400000;
                if (i == firstDef) mask |= 0x1;
            } else {
                mask |= 0x1001;
            }
            if (i == first - 1) {
                mask |= 0x24C00C;
                if (o == 0 && d == 0) mask |= 0x10000;
            } else if (i == firstDef - 1) {
                mask |= 0x244004;
            }
        } else {
            mask |= 0x8208;
            if (i == first) {
                mask |= 0x200004;
                if (i == 0 || !(flags(i - 1) & FOPT)) mask |= 0x1;
            }
        }
    } else {
        mask |= 0x1001;
    }

    if (i == -1) mask &= ~uint32_t{0x20000F};
    return static_cast<int32_t>(mask);
}

int32_t CalcParamOptionMask(const ole::FUNCDESC& func, int32_t paramIndex) {
    if (func.cParams > 0 && !func.lprgelemdescParam) RaiseError(kErrInvalidArgument);
    const size_t count = func.cParams > 0 ? static_cast<size_t>(func.cParams) : 0;
    return CalcParamOptionMask(func, std::span<const ole::ELEMDESC>(func.lprgelemdescParam, count), paramIndex);
}

int32_t GetParamOptionMask(ole::ITypeLib* lib, ole::UINT typeIndex, ole::MEMBERID memberId,
                           ole::INVOKEKIND invokeKind, int32_t paramIndex) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo2> ti = modITypeInfoHelper::GetInterfaceTypeInfo2(lib, typeIndex);
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::UINT funcIndex = 0;
    CheckHr(ti->GetFuncIndexOfMemId(memberId, invokeKind, &funcIndex));
    const FuncDescOf fd(ti.get(), funcIndex);
    return CalcParamOptionMask(*fd, paramIndex);
}

MemberDescription CreateCustParameterInfo(ole::ITypeLib* lib, ole::UINT typeIndex, ole::MEMBERID memberId,
                                          ole::INVOKEKIND invokeKind, int32_t position) {
    if (!lib) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo2> ti = modITypeInfoHelper::GetInterfaceTypeInfo2(lib, typeIndex);
    if (!ti) RaiseError(kErrObjectNotSet);
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    CheckHr(ti->GetTypeKind(&kind));
    ole::UINT funcIndex = 0;
    CheckHr(ti->GetFuncIndexOfMemId(memberId, invokeKind, &funcIndex));
    const FuncDescOf fd(ti.get(), funcIndex);
    if (position < 0 || position > (*fd).cParams) RaiseError(kErrSubscriptOutOfRange);

    // The member list holds the variables first, then the functions.
    ole::LONG item = static_cast<ole::LONG>(funcIndex) + 1;
    if (kind != ole::TKIND_INTERFACE) {
        ole::TYPEATTR* attr = nullptr;
        CheckHr(ti->GetTypeAttr(&attr));
        if (!attr) RaiseError(ole::E_UNEXPECTED);
        item += attr->cVars;
        ti->ReleaseTypeAttr(attr);
    }
    ComPtr<tli::TLIApplication> app;
    CheckHr(tli::GetTLIApplication(app.put()));
    ComPtr<tli::TypeInfo> view;
    ComPtr<tli::Members> members;
    MemberDescription d;
    CheckHr(app->TypeInfoFromITypeInfo(ti.get(), view.put()));
    CheckHr(view->get_Members(members.put()));
    CheckHr(members->get_Item(item, d.Member.put()));

    if (position == 0) {
        CheckHr(d.Member->get_ReturnType(d.Type.put()));
        return d;
    }
    ComPtr<tli::Parameters> params;
    ole::LONG listed = 0;
    CheckHr(d.Member->get_Parameters(params.put()));
    CheckHr(params->get_Count(&listed));
    if (position <= listed) {
        CheckHr(params->get_Item(position, d.Parameter.put()));
    } else {
        // The trailing parameter the member does not list.
        ComPtr<CustParameterInfo> last = CustParameterInfo::New();
        last->InitParameter(ti.get(), funcIndex);
        d.Parameter = std::move(last);
    }
    CheckHr(d.Parameter->get_VarTypeInfo(d.Type.put()));
    ole::USHORT flags = 0;
    CheckHr(d.Parameter->get_Flags(&flags));
    if ((flags & (ole::PARAMFLAG_FOPT | ole::PARAMFLAG_FHASDEFAULT)) == ole::PARAMFLAG_FOPT)
        d.BeyondRequired = position > (*fd).cParams - modITypeInfoHelper::HiddenParamCount(*fd) - (*fd).cParamsOpt;
    return d;
}

bool ArrayBoundsEqual(tli::VarTypeInfo* first, tli::VarTypeInfo* second) {
    if (!first || !second) RaiseError(kErrInvalidArgument);
    auto read = [](tli::VarTypeInfo* v) {
        std::vector<tli::ArrayBound> bounds;
        ole::SHORT dims = 0;
        const HRESULT hr = v->ArrayBounds(&bounds, &dims);
        if (hr != tli::TLI_E_NOARRAYBOUNDS) CheckHr(hr);  // no bounds: no dimensions
        return bounds;
    };
    return read(first) == read(second);
}

bool VarTypeInfoEquals(tli::VarTypeInfo* first, tli::VarTypeInfo* second) {
    if (!first) return !second;
    if (!second) return false;
    if (SameObject(first, second)) return true;

    ole::SHORT p1 = 0, p2 = 0;
    CheckHr(first->get_PointerLevel(&p1));
    CheckHr(second->get_PointerLevel(&p2));
    if (p1 != p2) return false;
    ole::VARTYPE vt1 = 0, vt2 = 0;
    CheckHr(first->get_VarType(&vt1));
    CheckHr(second->get_VarType(&vt2));
    if (vt1 != vt2) return false;

    if ((vt1 & ~tli::VTI_ARRAYMASK) == 0) {
        ComPtr<ole::ITypeInfo> t1 = ReferencedITypeInfo(first), t2 = ReferencedITypeInfo(second);
        if (!SameObject(t1.get(), t2.get())) return false;
    }
    if (vt1 & tli::VTI_ARRAYMASK) {
        ole::SHORT e1 = 0, e2 = 0;
        CheckHr(first->get_ElementPointerLevel(&e1));
        CheckHr(second->get_ElementPointerLevel(&e2));
        if (e1 != e2) return false;
        if ((vt1 & tli::VTI_FIXEDARRAY) && !ArrayBoundsEqual(first, second)) return false;
    }
    return true;
}

// ---- Values and object types ----

ole::VARTYPE SubstituteVarType(ole::VARTYPE vt) {
    switch (vt) {
        case ole::VT_I1: return ole::VT_UI1;
        case ole::VT_UI2: return ole::VT_I2;
        case ole::VT_UI4:
        case ole::VT_INT:
        case ole::VT_UINT: return ole::VT_I4;
        case ole::VT_I8:
        case ole::VT_UI8: return ole::VT_CY;
        default: return vt;
    }
}

bool VariantsEqual(const ole::VARIANT& a, const ole::VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (SubstituteVarType(a.vt)) {
        case ole::VT_EMPTY:
        case ole::VT_NULL: return true;
        case ole::VT_UI1: return a.bVal == b.bVal;
        case ole::VT_I2: return a.iVal == b.iVal;
        case ole::VT_BOOL: return (a.boolVal != 0) == (b.boolVal != 0);
        case ole::VT_I4:
        case ole::VT_ERROR: return a.lVal == b.lVal;
        case ole::VT_R4: return a.fltVal == b.fltVal;
        case ole::VT_R8:
        case ole::VT_DATE: return a.dblVal == b.dblVal;
        case ole::VT_CY: return a.cyVal.int64 == b.cyVal.int64;
        case ole::VT_BSTR: return ole::BstrView(a.bstrVal) == ole::BstrView(b.bstrVal);
        case ole::VT_DECIMAL: return ole::VariantEqual(a, b);
        default: return false;
    }
}

namespace {

// The size of the data of a VARTYPE as the history file stores it; -1 for
// VT_BSTR (a String) and -2 for a type it has no record for.
int DataSize(ole::VARTYPE vt) {
    switch (vt) {
        case ole::VT_EMPTY:
        case ole::VT_NULL: return 0;
        case ole::VT_UI1: return 1;
        case ole::VT_I2:
        case ole::VT_BOOL: return 2;
        case ole::VT_I4:
        case ole::VT_R4:
        case ole::VT_ERROR: return 4;
        case ole::VT_R8:
        case ole::VT_CY:
        case ole::VT_DATE: return 8;
        case ole::VT_BSTR: return -1;
        default: return -2;
    }
}

// The most digits after the point a Decimal has.
constexpr int kMaxDecimalScale = 28;

// A Decimal as the history file holds it: its exact text, "-" when its sign
// is set (also for zero), the digits of its 96-bit magnitude, and as many of
// them after a "." as its scale says (leading zeros added to reach them).
std::u16string DecimalText(const ole::DECIMAL& d) {
    if (d.scale > kMaxDecimalScale)
        RaiseError(kErrTypeMismatch, u"A Decimal value with " + ole::FromUtf8(std::to_string(d.scale)) +
                                         u" digits after the point cannot be saved in a Library Edit History file.");
    unsigned __int128 magnitude = static_cast<unsigned __int128>(d.Hi32) << 64 | d.Lo64;
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (digits.size() <= d.scale) digits.insert(0, d.scale + 1 - digits.size(), u'0');
    if (d.scale != 0) digits.insert(digits.size() - d.scale, 1, u'.');
    return ((d.sign & ole::DECIMAL_NEG) != 0 ? u"-" : u"") + digits;
}

// Reads DecimalText back; false for any other text.
bool DecimalFromText(std::u16string_view text, ole::DECIMAL& d) {
    d = ole::DECIMAL{};
    if (text.starts_with(u'-')) {
        d.sign = ole::DECIMAL_NEG;
        text.remove_prefix(1);
    }
    const size_t point = text.find(u'.');
    if (point != std::u16string_view::npos) {
        if (point == 0 || point + 1 == text.size() || text.size() - point - 1 > kMaxDecimalScale) return false;
        d.scale = static_cast<uint8_t>(text.size() - point - 1);
    }
    constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 96;
    unsigned __int128 magnitude = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == point) continue;
        if (!IsDigit(text[i])) return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - u'0');
        if (magnitude >= kLimit) return false;
    }
    if (text.empty()) return false;
    d.Hi32 = static_cast<uint32_t>(magnitude >> 64);
    d.Lo64 = static_cast<uint64_t>(magnitude);
    return true;
}

}  // namespace

void WriteVariant(RecordWriter& out, const ole::VARIANT& value) {
    if (value.vt == ole::VT_DECIMAL) {
        // No record holds a Decimal: its exact text goes in a String, with w
        // saying what the String stands for.
        RecordWriter text;
        text.PutString(DecimalText(value.decVal));
        out.PutInteger(static_cast<int16_t>(ole::VT_DECIMAL));
        out.PutInteger(static_cast<int16_t>(ole::VT_BSTR));
        out.PutBytes(text.Bytes());
        return;
    }
    const ole::VARTYPE stored = SubstituteVarType(value.vt);
    const int size = DataSize(stored);
    if (size == -2)
        RaiseError(kErrTypeMismatch, u"A value of VARTYPE " + ole::FromUtf8(std::to_string(value.vt)) +
                                         u" cannot be saved in a Library Edit History file.");
    // The text is converted first, so that a text too long for the file
    // leaves nothing written.
    RecordWriter text;
    if (size == -1) text.PutString(ole::BstrView(value.bstrVal));
    out.PutInteger(static_cast<int16_t>(stored == value.vt ? 0 : value.vt));
    out.PutInteger(static_cast<int16_t>(stored));
    if (size == -1) {
        out.PutBytes(text.Bytes());
    } else {
        uint64_t bits = 0;
        std::memcpy(&bits, &value.llVal, sizeof bits);
        for (int i = 0; i < size; ++i) out.PutByte(static_cast<uint8_t>(bits >> (8 * i)));
    }
}

ole::Variant ReadVariant(RecordReader& in) {
    const auto w = static_cast<ole::VARTYPE>(in.GetInteger());
    const auto vt = static_cast<ole::VARTYPE>(in.GetInteger());
    ole::Variant value;
    ole::VARIANT& v = value.get();
    if (w == ole::VT_DECIMAL && vt == ole::VT_BSTR) {
        ole::DECIMAL d{};
        if (!DecimalFromText(in.GetString(), d)) in.Refuse();
        v.decVal = d;
        v.vt = ole::VT_DECIMAL;  // over the Decimal's reserved word
        return value;
    }
    // Only the pairs WriteVariant writes.
    const int size = DataSize(vt);
    if (size == -2 || (w != 0 && (w == vt || SubstituteVarType(w) != vt))) in.Refuse();
    if (size == -1) {
        const std::u16string text = in.GetString();
        v.bstrVal = ole::SysAllocString(text);
        if (!v.bstrVal) throw std::bad_alloc();
    } else {
        uint64_t bits = 0;
        const std::span<const std::byte> data = in.GetBytes(static_cast<size_t>(size));
        for (int i = size - 1; i >= 0; --i) bits = bits << 8 | static_cast<uint8_t>(data[static_cast<size_t>(i)]);
        std::memcpy(&v.llVal, &bits, sizeof bits);
    }
    v.vt = w != 0 ? w : vt;
    if (v.vt == ole::VT_BOOL) v.boolVal = v.boolVal ? ole::VARIANT_TRUE : ole::VARIANT_FALSE;  // any non-zero is True
    return value;
}

bool ResolveObjectTypeInfo(tli::VarTypeInfo* type) {
    ComPtr<tli::VarTypeInfo> current(type);
    for (int depth = 0; depth < kMaxAliasDepth && current; ++depth) {
        ole::VARTYPE vt = 0;
        if (FAILED(current->get_VarType(&vt))) return false;
        if (vt == ole::VT_DISPATCH || vt == ole::VT_UNKNOWN) return true;
        if (vt != 0) return false;
        ComPtr<tli::TypeInfo> ti;
        ole::TYPEKIND kind{};
        if (FAILED(current->get_TypeInfo(ti.put())) || !ti || FAILED(ti->get_TypeKind(&kind))) return false;
        switch (kind) {
            case ole::TKIND_INTERFACE:
            case ole::TKIND_DISPATCH:
            case ole::TKIND_COCLASS: return true;
            case ole::TKIND_ALIAS: {
                ComPtr<tli::VarTypeInfo> next;
                if (FAILED(ti->get_ResolvedType(next.put()))) return false;
                current = std::move(next);
                break;
            }
            default: return false;
        }
    }
    return false;  // no type, or an alias chain that does not end
}

}  // namespace zephrin::modMarbrel

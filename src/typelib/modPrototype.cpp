#include "typelib/modPrototype.h"

#include <array>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/modBounds.h"

namespace zephrin::modPrototype {
namespace {

using ole::ComPtr;
using ole::FAILED;

constexpr int32_t kErrObjectNotSet = 91;
constexpr size_t kTableSize = 34;  // VARTYPE 0 to 33

struct NameTables {
    std::array<std::u16string, kTableSize> idl;
    std::array<std::u16string, kTableSize> combined;

    NameTables() {
        struct Row {
            int vt;
            const char16_t* idl;
            const char16_t* combined;  // null: same as the IDL name
        };
        static constexpr Row kRows[] = {
            {2, u"short", u"short  (Integer)"},
            {3, u"long", u"long  (Long)"},
            {4, u"float", u"float  (Single)"},
            {5, u"double", u"double  (Double)"},
            {6, u"currency", u"currency  (Currency)"},
            {7, u"date", u"date  (Date)"},
            {8, u"BSTR", u"BSTR  (String)"},
            {9, u"IDispatch*", u"IDispatch*  (Object)"},
            {11, u"boolean", u"boolean  (Boolean)"},
            {12, u"VARIANT", u"VARIANT  (Variant)"},
            {13, u"IUnknown*", nullptr},
            {14, u"DECIMAL", nullptr},
            {16, u"char", nullptr},
            {17, u"unsigned char", u"unsigned char  (Byte)"},
            {18, u"unsigned short", nullptr},
            {19, u"unsigned long", nullptr},
            {20, u"long8", nullptr},
            {21, u"unsigned long8", nullptr},
            {22, u"int", nullptr},
            {23, u"unsigned int", nullptr},
            {24, u"void", nullptr},
            {25, u"HRESULT", nullptr},
            {27, u"SAFEARRAY*", nullptr},
            {28, u"Fixed-Size Array", nullptr},
            {30, u"LPSTR", nullptr},
            {31, u"LPWSTR", nullptr},
            {32, u"IUnknown", nullptr},
            {33, u"IDispatch", u"IDispatch  (Object)"},
        };
        for (const Row& r : kRows) {
            idl[static_cast<size_t>(r.vt)] = r.idl;
            combined[static_cast<size_t>(r.vt)] = r.combined ? r.combined : r.idl;
        }
    }
};

const NameTables& Tables() {
    static const NameTables tables;
    return tables;
}

std::u16string Lookup(const std::array<std::u16string, kTableSize>& table, int32_t vt, bool starless) {
    if (starless) UnstarredTypeIndex(vt);
    if (vt < 0 || static_cast<size_t>(vt) >= kTableSize) return {};
    return table[static_cast<size_t>(vt)];
}

void AppendStars(std::u16string& text, int n) {
    if (n > 0) text.append(static_cast<size_t>(n), u'*');
}

// The name of the user-defined type a description refers to: "Library.Type"
// for a type of another library, "?" when it can't be resolved.
std::u16string UserTypeName(tli::VarTypeInfo* vti) {
    ComPtr<tli::TypeInfo> type;
    if (FAILED(vti->get_TypeInfo(type.put())) || !type) return u"?";
    std::u16string name;
    if (FAILED(type->get_Name(&name))) return u"?";
    bool external = false;
    if (FAILED(vti->get_IsExternalType(&external)) || !external) return name;
    ComPtr<tli::TypeLibInfo> lib;
    std::u16string libName;
    if (FAILED(vti->get_TypeLibInfoExternal(lib.put())) || !lib || FAILED(lib->get_Name(&libName))) return name;
    return libName + u"." + name;
}

}  // namespace

void InitTypeNameTables() { (void)Tables(); }

void UnstarredTypeIndex(int32_t& vt) {
    if (vt == ole::VT_DISPATCH)
        vt = 33;
    else if (vt == ole::VT_UNKNOWN)
        vt = 32;
}

std::u16string BaseTypeName(int32_t vt, bool starless) { return Lookup(Tables().idl, vt, starless); }

std::u16string BaseTypeNameVB(int32_t vt, bool starless) { return Lookup(Tables().combined, vt, starless); }

std::u16string ArrayBoundsText(tli::VarTypeInfo* vti) {
    if (!vti) return {};
    // The TypeLib Information objects report true (lower, upper) pairs.
    std::vector<tli::ArrayBound> bounds;
    ole::SHORT dims = 0;
    if (FAILED(vti->ArrayBounds(&bounds, &dims)) || bounds.empty()) return {};
    BoundsTable table;
    table.reserve(bounds.size());
    for (const tli::ArrayBound& b : bounds) table.push_back({b.lower, b.upper});
    return u"(" + modBounds::FormatBounds(table) + u")";
}

std::u16string GetTypeString(tli::VarTypeInfo* vti, bool starless) {
    if (!vti) RaiseError(kErrObjectNotSet, u"Object variable not set");
    ole::VARTYPE vt = 0;
    CheckHr(vti->get_VarType(&vt));
    const int kind = vt & tli::VTI_ARRAYMASK;
    const int base = vt & ~tli::VTI_ARRAYMASK;

    const std::u16string name = base == 0 ? UserTypeName(vti) : BaseTypeName(base, starless);
    ole::SHORT pointers = 0;
    CheckHr(vti->get_PointerLevel(&pointers));

    std::u16string text;
    if (kind == 0) {
        text = name;
        AppendStars(text, pointers);
        return text;
    }
    ole::SHORT elementPointers = 0;
    CheckHr(vti->get_ElementPointerLevel(&elementPointers));
    if (kind == tli::VTI_SAFEARRAY) {
        text = u"SAFEARRAY*";
    } else {
        text = u"Fixed-Size Array";
        text += ArrayBoundsText(vti);
    }
    AppendStars(text, pointers);
    text += u" of ";
    text += name;
    AppendStars(text, elementPointers);
    return text;
}

}  // namespace zephrin::modPrototype

// Descriptor copies between the data model and the platform structures, custom
// data blocks, name folding and intrinsic type sizes.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "platform/oleauto/TypeLibEngine.h"

namespace ole::engine {

namespace {

char16_t FoldChar(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs: even upper, odd lower (with a shift in 0x139..0x148 and 0x179..0x17E).
        bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        bool lower = shifted ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

constexpr int kMaxTypeDescDepth = 64;

HRESULT CopyTypeDescAt(const TYPEDESC& src, TypeDescData& out, int depth) {
    if (depth > kMaxTypeDescDepth) return E_INVALIDARG;
    out.vt = src.vt;
    out.href = 0;
    out.bounds.clear();
    out.element.clear();
    switch (src.vt) {
        case VT_PTR:
        case VT_SAFEARRAY: {
            if (!src.lptdesc) return E_INVALIDARG;
            out.element.resize(1);
            return CopyTypeDescAt(*src.lptdesc, out.element[0], depth + 1);
        }
        case VT_CARRAY: {
            const ARRAYDESC* a = src.lpadesc;
            if (!a || a->cDims == 0) return E_INVALIDARG;
            const SAFEARRAYBOUND* b = a->rgbounds;
            out.bounds.assign(b, b + a->cDims);
            out.element.resize(1);
            return CopyTypeDescAt(a->tdescElem, out.element[0], depth + 1);
        }
        case VT_USERDEFINED:
            out.href = src.hreftype;
            return S_OK;
        default:
            return S_OK;
    }
}

template <class Block, class T>
Block* BlockOf(T* p) {
    return reinterpret_cast<Block*>(p);
}

// Descriptor blocks: the structure first, so that the pointer handed out is
// the block's address.
struct FuncDescBlock {
    FUNCDESC desc;
    DescArena* arena;
};
struct VarDescBlock {
    VARDESC desc;
    DescArena* arena;
};
struct TypeAttrBlock {
    TYPEATTR attr;
    DescArena* arena;
};
static_assert(std::is_standard_layout_v<FuncDescBlock>);
static_assert(std::is_standard_layout_v<VarDescBlock>);
static_assert(std::is_standard_layout_v<TypeAttrBlock>);

void BuildElem(const TypeDescData& t, USHORT flags, const std::optional<Variant>* def, ELEMDESC& e,
               DescArena& arena) {
    std::memset(&e, 0, sizeof e);
    BuildTypeDesc(t, e.tdesc, arena);
    e.paramdesc.wParamFlags = flags;
    if (def && def->has_value() && (flags & PARAMFLAG_FHASDEFAULT)) {
        auto px = std::make_unique<PARAMDESCEX>();
        px->cBytes = 24;
        VariantInit(&px->varDefaultValue);
        VariantCopy(&px->varDefaultValue, (*def)->ptr());
        e.paramdesc.pparamdescex = px.get();
        arena.defaults.push_back(std::move(px));
    }
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string r(name);
    for (auto& c : r) c = FoldChar(c);
    return r;
}

std::u16string_view ViewOf(LPCOLESTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

DescArena::~DescArena() {
    for (auto& d : defaults) VariantClear(&d->varDefaultValue);
    if (value) VariantClear(value.get());
    SysFreeString(schema);
}

void BuildTypeDesc(const TypeDescData& src, TYPEDESC& dst, DescArena& arena) {
    std::memset(&dst, 0, sizeof dst);
    dst.vt = src.vt;
    switch (src.vt) {
        case VT_PTR:
        case VT_SAFEARRAY: {
            auto node = std::make_unique<TYPEDESC>();
            if (!src.element.empty())
                BuildTypeDesc(src.element[0], *node, arena);
            else {
                std::memset(node.get(), 0, sizeof(TYPEDESC));
                node->vt = VT_VOID;
            }
            dst.lptdesc = node.get();
            arena.nodes.push_back(std::move(node));
            break;
        }
        case VT_CARRAY: {
            size_t dims = src.bounds.empty() ? 1 : src.bounds.size();
            size_t bytes = offsetof(ARRAYDESC, rgbounds) + dims * sizeof(SAFEARRAYBOUND);
            if (bytes < sizeof(ARRAYDESC)) bytes = sizeof(ARRAYDESC);
            auto mem = std::make_unique<std::byte[]>(bytes);
            auto* a = new (mem.get()) ARRAYDESC{};
            if (!src.element.empty())
                BuildTypeDesc(src.element[0], a->tdescElem, arena);
            else
                a->tdescElem.vt = VT_VARIANT;
            a->cDims = static_cast<USHORT>(src.bounds.size());
            SAFEARRAYBOUND* b = a->rgbounds;
            for (size_t i = 0; i < src.bounds.size(); ++i) b[i] = src.bounds[i];
            dst.lpadesc = a;
            arena.arrays.push_back(std::move(mem));
            break;
        }
        case VT_USERDEFINED:
            dst.hreftype = src.href;
            break;
        default:
            break;
    }
}

HRESULT CopyTypeDesc(const TYPEDESC& src, TypeDescData& out) { return CopyTypeDescAt(src, out, 0); }

HRESULT CopyParam(const ELEMDESC& src, ParamData& out) {
    HRESULT hr = CopyTypeDesc(src.tdesc, out.type);
    if (FAILED(hr)) return hr;
    out.flags = static_cast<USHORT>(src.paramdesc.wParamFlags & ~PARAMFLAG_FHASCUSTDATA);
    out.defaultValue.reset();
    if ((out.flags & PARAMFLAG_FHASDEFAULT) && src.paramdesc.pparamdescex) {
        Variant v;
        hr = VariantCopy(v.ptr(), &src.paramdesc.pparamdescex->varDefaultValue);
        if (FAILED(hr)) return hr;
        out.defaultValue = std::move(v);
    }
    return S_OK;
}

FUNCDESC* MakeFuncDesc(const FuncData& f) {
    auto* block = new FuncDescBlock{};
    block->arena = new DescArena;
    DescArena& a = *block->arena;
    FUNCDESC& d = block->desc;
    d.memid = f.memid;
    d.funckind = f.funckind;
    d.invkind = f.invkind;
    d.callconv = f.callconv;
    d.cParams = static_cast<SHORT>(f.params.size());
    d.cParamsOpt = f.cParamsOpt;
    d.oVft = f.oVft;
    d.wFuncFlags = f.flags;
    if (!f.scodes.empty()) {
        a.scodes = f.scodes;
        d.lprgscode = a.scodes.data();
        d.cScodes = static_cast<SHORT>(a.scodes.size());
    } else {
        d.cScodes = 0;
    }
    a.elems.resize(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i) {
        const ParamData& p = f.params[i];
        USHORT flags = p.flags;
        if (!p.custData.empty()) flags |= PARAMFLAG_FHASCUSTDATA;
        BuildElem(p.type, flags, &p.defaultValue, a.elems[i], a);
    }
    d.lprgelemdescParam = a.elems.empty() ? nullptr : a.elems.data();
    BuildElem(f.returnType, f.returnFlags, nullptr, d.elemdescFunc, a);
    return &block->desc;
}

VARDESC* MakeVarDesc(const VarData& v) {
    auto* block = new VarDescBlock{};
    block->arena = new DescArena;
    DescArena& a = *block->arena;
    VARDESC& d = block->desc;
    d.memid = v.memid;
    d.varkind = v.varkind;
    d.wVarFlags = v.flags;
    if (!v.schema.empty()) {
        a.schema = MakeBstr(v.schema);
        d.lpstrSchema = a.schema;
    }
    if (v.varkind == VAR_CONST) {
        a.value = std::make_unique<VARIANT>();
        VariantInit(a.value.get());
        if (v.constValue) VariantCopy(a.value.get(), v.constValue->ptr());
        d.lpvarValue = a.value.get();
    } else {
        d.oInst = v.oInst;
    }
    BuildElem(v.type, v.elemFlags, nullptr, d.elemdescVar, a);
    return &block->desc;
}

TYPEATTR* MakeTypeAttr(const TypeData& t, LCID lcid) {
    auto* block = new TypeAttrBlock{};
    block->arena = new DescArena;
    TYPEATTR& a = block->attr;
    a.guid = t.guid;
    a.lcid = lcid;
    a.dwReserved = 0;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    if (!t.schema.empty()) {
        block->arena->schema = MakeBstr(t.schema);
        a.lpstrSchema = block->arena->schema;
    }
    a.cbSizeInstance = t.cbSizeInstance;
    a.typekind = t.kind;
    a.cFuncs = static_cast<WORD>(t.funcs.size());
    a.cVars = static_cast<WORD>(t.vars.size());
    a.cImplTypes = static_cast<WORD>(t.implTypes.size());
    a.cbSizeVft = t.cbSizeVft;
    a.cbAlignment = t.cbAlignment;
    a.wTypeFlags = t.flags;
    a.wMajorVerNum = t.majorVersion;
    a.wMinorVerNum = t.minorVersion;
    if (t.kind == TKIND_ALIAS)
        BuildTypeDesc(t.aliasType, a.tdescAlias, *block->arena);
    else
        a.tdescAlias.vt = VT_EMPTY;
    a.idldescType.wIDLFlags = t.idlFlags;
    return &block->attr;
}

void FreeFuncDesc(FUNCDESC* p) {
    if (!p) return;
    auto* b = BlockOf<FuncDescBlock>(p);
    delete b->arena;
    delete b;
}

void FreeVarDesc(VARDESC* p) {
    if (!p) return;
    auto* b = BlockOf<VarDescBlock>(p);
    delete b->arena;
    delete b;
}

void FreeTypeAttr(TYPEATTR* p) {
    if (!p) return;
    auto* b = BlockOf<TypeAttrBlock>(p);
    delete b->arena;
    delete b;
}

HRESULT CheckCustValue(const VARIANT* v) {
    if (!v) return E_INVALIDARG;
    switch (v->vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
        case VT_ERROR:
        case VT_DECIMAL:
        case VT_HRESULT:
        case VT_NULL:
            return S_OK;
        default:
            return DISP_E_BADVARTYPE;
    }
}

HRESULT SetCustItem(CustDataList& list, const GUID& guid, const VARIANT& v) {
    Variant copy;
    HRESULT hr = VariantCopy(copy.ptr(), &v);
    if (FAILED(hr)) return hr;
    for (auto& e : list) {
        if (e.guid == guid) {
            e.value = std::move(copy);
            return S_OK;
        }
    }
    list.push_back(CustDataEntry{guid, std::move(copy)});
    return S_OK;
}

HRESULT GetCustItem(const CustDataList& list, const GUID& guid, VARIANT* out) {
    if (!out) return E_INVALIDARG;
    VariantInit(out);
    for (const auto& e : list)
        if (e.guid == guid) return VariantCopy(out, e.value.ptr());
    return S_OK;
}

HRESULT FillCustData(const CustDataList& list, CUSTDATA* out) {
    if (!out) return E_INVALIDARG;
    out->cCustData = 0;
    out->prgCustData = nullptr;
    if (list.empty()) return S_OK;
    auto* items = static_cast<CUSTDATAITEM*>(CoTaskMemAlloc(sizeof(CUSTDATAITEM) * list.size()));
    if (!items) return E_OUTOFMEMORY;
    for (size_t i = 0; i < list.size(); ++i) {
        items[i].guid = list[i].guid;
        VariantInit(&items[i].varValue);
        VariantCopy(&items[i].varValue, list[i].value.ptr());
    }
    out->cCustData = static_cast<DWORD>(list.size());
    out->prgCustData = items;
    return S_OK;
}

BSTR MakeBstr(std::u16string_view s, bool nullForEmpty) {
    if (s.empty() && nullForEmpty) return nullptr;
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

bool IntrinsicSize(VARTYPE vt, int ptrSize, ULONG* size, WORD* align) {
    ULONG s = 0;
    WORD a = 0;
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            s = 1, a = 1;
            break;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            s = 2, a = 2;
            break;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_ERROR:
        case VT_HRESULT:
        case VT_INT:
        case VT_UINT:
            s = 4, a = 4;
            break;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            s = 8, a = 4;
            break;
        case VT_DECIMAL:
            s = 16, a = 4;
            break;
        case VT_VARIANT:
            s = ptrSize == 8 ? 24 : 16, a = 4;
            break;
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_PTR:
        case VT_SAFEARRAY:
        case VT_LPSTR:
        case VT_LPWSTR:
        case VT_INT_PTR:
        case VT_UINT_PTR:
            s = static_cast<ULONG>(ptrSize), a = 4;
            break;
        case VT_VOID:
        case VT_EMPTY:
        case VT_NULL:
            s = 0, a = 0;
            break;
        default:
            return false;
    }
    *size = s;
    *align = a;
    return true;
}

void MemberIndex::Appended(std::unordered_map<MEMBERID, std::vector<int>>& byId,
                           std::unordered_map<std::u16string, std::vector<int>>& byName, int index, MEMBERID memid,
                           const std::u16string& name) {
    if (!valid) return;
    byId[memid].push_back(index);
    if (!name.empty()) byName[FoldName(name)].push_back(index);
}

void MemberIndex::Renamed(std::unordered_map<std::u16string, std::vector<int>>& byName, int index,
                          const std::u16string& from, const std::u16string& to) {
    if (!valid) return;
    if (!from.empty()) {
        auto it = byName.find(FoldName(from));
        if (it != byName.end()) {
            auto& v = it->second;
            v.erase(std::remove(v.begin(), v.end(), index), v.end());
            if (v.empty()) byName.erase(it);
        }
    }
    if (!to.empty()) {
        auto& v = byName[FoldName(to)];
        v.insert(std::lower_bound(v.begin(), v.end(), index), index);
    }
}

void MemberIndex::Build(const TypeData& t) {
    Reset();
    funcsByName.reserve(t.funcs.size());
    funcsById.reserve(t.funcs.size());
    for (size_t i = 0; i < t.funcs.size(); ++i) {
        const FuncData& f = t.funcs[i];
        if (!f.name.empty()) funcsByName[FoldName(f.name)].push_back(static_cast<int>(i));
        funcsById[f.memid].push_back(static_cast<int>(i));
    }
    for (size_t i = 0; i < t.vars.size(); ++i) {
        const VarData& v = t.vars[i];
        if (!v.name.empty()) varsByName[FoldName(v.name)].push_back(static_cast<int>(i));
        varsById[v.memid].push_back(static_cast<int>(i));
    }
    valid = true;
}

}  // namespace ole::engine

// Descriptor copies between the data model and the platform structures, custom
// data blocks, name folding and intrinsic type sizes.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "platform/tlbengine/TypeLibEngine.h"

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
            out.MutableBounds().assign(b, b + a->cDims);
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

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t Round(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

size_t ArrayDescBytes(size_t dims) {
    return std::max(sizeof(ARRAYDESC), offsetof(ARRAYDESC, rgbounds) + std::max<size_t>(dims, 1) * sizeof(SAFEARRAYBOUND));
}

// Bytes of the out-of-line nodes of a TYPEDESC chain.
size_t ChainBytes(const TypeDescData& t) {
    size_t below = t.element.empty() ? 0 : ChainBytes(t.element[0]);
    switch (t.vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            return Round(sizeof(TYPEDESC)) + below;
        case VT_CARRAY:
            return Round(ArrayDescBytes(t.Bounds().size())) + below;
        default:
            return 0;
    }
}

// Hands out consecutive pieces of one zeroed block.
class Bump {
public:
    explicit Bump(std::byte* p) : p_(p) {}
    template <class T>
    T* Take(size_t bytes = sizeof(T)) {
        void* r = p_;
        p_ += Round(bytes);
        return static_cast<T*>(r);
    }

private:
    std::byte* p_;
};

void BuildChain(const TypeDescData& src, TYPEDESC& dst, Bump& bump) {
    dst.vt = src.vt;
    switch (src.vt) {
        case VT_PTR:
        case VT_SAFEARRAY: {
            auto* node = bump.Take<TYPEDESC>();
            if (!src.element.empty())
                BuildChain(src.element[0], *node, bump);
            else
                node->vt = VT_VOID;
            dst.lptdesc = node;
            break;
        }
        case VT_CARRAY: {
            auto* a = new (bump.Take<std::byte>(ArrayDescBytes(src.Bounds().size()))) ARRAYDESC{};
            if (!src.element.empty())
                BuildChain(src.element[0], a->tdescElem, bump);
            else
                a->tdescElem.vt = VT_VARIANT;
            a->cDims = static_cast<USHORT>(src.Bounds().size());
            SAFEARRAYBOUND* b = a->rgbounds;
            for (size_t i = 0; i < src.Bounds().size(); ++i) b[i] = src.Bounds()[i];
            dst.lpadesc = a;
            break;
        }
        case VT_USERDEFINED:
            dst.hreftype = src.href;
            break;
        default:
            break;
    }
}

// What releasing a block must free besides the block itself.
struct BlockTail {
    VARIANT** variants;
    UINT count;
    BSTR schema;
};
// The descriptor comes first, so that the pointer handed out is the block's address.
struct FuncDescBlock {
    FUNCDESC desc;
    BlockTail tail;
};
struct VarDescBlock {
    VARDESC desc;
    BlockTail tail;
};
struct TypeAttrBlock {
    TYPEATTR attr;
    BlockTail tail;
};
static_assert(std::is_standard_layout_v<FuncDescBlock>);
static_assert(std::is_standard_layout_v<VarDescBlock>);
static_assert(std::is_standard_layout_v<TypeAttrBlock>);

std::byte* NewBlock(size_t bytes) {
    auto* p = static_cast<std::byte*>(::operator new(bytes));
    std::memset(p, 0, bytes);
    return p;
}

void FreeBlock(void* block, BlockTail& tail) {
    for (UINT i = 0; i < tail.count; ++i) VariantClear(tail.variants[i]);
    SysFreeString(tail.schema);
    ::operator delete(block);
}

bool HasDefault(const ParamData& p) { return p.defaultValue.has_value() && (p.flags & PARAMFLAG_FHASDEFAULT); }

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string r(name);
    for (auto& c : r) c = FoldChar(c);
    return r;
}

std::u16string_view ViewOf(LPCOLESTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

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
        // A default given as INT or UINT is kept as I4 or UI4, as the file
        // stores it, unless the parameter takes a VARIANT or a user type.
        const VARTYPE pt = out.type.vt;
        if (pt != VT_VARIANT && pt != VT_USERDEFINED) {
            if (v.ptr()->vt == VT_INT)
                v.ptr()->vt = VT_I4;
            else if (v.ptr()->vt == VT_UINT)
                v.ptr()->vt = VT_UI4;
        }
        out.defaultValue = std::move(v);
    }
    return S_OK;
}

size_t FuncView::ParamCount() const {
    size_t n = f->params.size();
    if (!dispatchForm) return n;
    if (n && (f->params[n - 1].flags & PARAMFLAG_FRETVAL)) --n;
    if (n && (f->params[n - 1].flags & PARAMFLAG_FLCID)) --n;
    return n;
}

const TypeDescData& FuncView::ReturnType() const {
    if (!dispatchForm) return f->returnType;
    if (!f->params.empty() && (f->params.back().flags & PARAMFLAG_FRETVAL)) {
        const TypeDescData& t = f->params.back().type;
        return t.vt == VT_PTR && !t.element.empty() ? t.element[0] : t;
    }
    if (f->returnType.vt == VT_HRESULT) {
        static const TypeDescData kVoid = [] {
            TypeDescData t;
            t.vt = VT_VOID;
            return t;
        }();
        return kVoid;
    }
    return f->returnType;
}

SHORT FuncView::ParamsOpt() const {
    if (!dispatchForm) return f->cParamsOpt;
    const auto n = static_cast<SHORT>(ParamCount());
    return f->cParamsOpt > n ? n : f->cParamsOpt;
}

FUNCDESC* MakeFuncDesc(const FuncView& view) {
    const FuncData& f = *view.f;
    const size_t n = view.ParamCount();
    const TypeDescData& ret = view.ReturnType();
    size_t defaults = 0, chains = ChainBytes(ret);
    for (size_t i = 0; i < n; ++i) {
        defaults += HasDefault(f.params[i]) ? 1 : 0;
        chains += ChainBytes(f.params[i].type);
    }
    const size_t bytes = Round(sizeof(FuncDescBlock)) + Round(n * sizeof(ELEMDESC)) +
                         Round(defaults * sizeof(PARAMDESCEX)) + Round(defaults * sizeof(VARIANT*)) +
                         Round(f.scodes.size() * sizeof(SCODE)) + chains;
    Bump bump(NewBlock(bytes));
    auto* block = bump.Take<FuncDescBlock>();
    auto* elems = bump.Take<ELEMDESC>(n * sizeof(ELEMDESC));
    auto* pdex = bump.Take<PARAMDESCEX>(defaults * sizeof(PARAMDESCEX));
    block->tail.variants = bump.Take<VARIANT*>(defaults * sizeof(VARIANT*));
    auto* scodes = bump.Take<SCODE>(f.scodes.size() * sizeof(SCODE));

    FUNCDESC& d = block->desc;
    d.memid = f.memid;
    d.funckind = view.Kind();
    d.invkind = f.invkind;
    d.callconv = f.callconv;
    d.cParams = static_cast<SHORT>(n);
    d.cParamsOpt = view.ParamsOpt();
    d.oVft = f.oVft;
    d.wFuncFlags = view.Flags();
    if (!f.scodes.empty()) {
        std::copy(f.scodes.begin(), f.scodes.end(), scodes);
        d.lprgscode = scodes;
        d.cScodes = static_cast<SHORT>(f.scodes.size());
    }
    d.lprgelemdescParam = n ? elems : nullptr;
    for (size_t i = 0; i < n; ++i) {
        const ParamData& p = f.params[i];
        ELEMDESC& e = elems[i];
        BuildChain(p.type, e.tdesc, bump);
        e.paramdesc.wParamFlags = static_cast<USHORT>(p.flags | (p.custData.empty() ? 0 : PARAMFLAG_FHASCUSTDATA));
        if (HasDefault(p)) {
            PARAMDESCEX* x = pdex++;
            x->cBytes = 24;
            VariantInit(&x->varDefaultValue);
            VariantCopy(&x->varDefaultValue, p.defaultValue->ptr());
            e.paramdesc.pparamdescex = x;
            block->tail.variants[block->tail.count++] = &x->varDefaultValue;
        }
    }
    BuildChain(ret, d.elemdescFunc.tdesc, bump);
    d.elemdescFunc.paramdesc.wParamFlags = f.returnFlags;
    return &block->desc;
}

VARDESC* MakeVarDesc(const VarData& v) {
    const bool isConst = v.varkind == VAR_CONST;
    const size_t bytes = Round(sizeof(VarDescBlock)) + (isConst ? Round(sizeof(VARIANT)) + Round(sizeof(VARIANT*)) : 0) +
                         ChainBytes(v.type);
    Bump bump(NewBlock(bytes));
    auto* block = bump.Take<VarDescBlock>();
    VARDESC& d = block->desc;
    d.memid = v.memid;
    d.varkind = v.varkind;
    d.wVarFlags = v.flags;
    if (v.schema) {
        block->tail.schema = MakeBstr(*v.schema);
        d.lpstrSchema = block->tail.schema;
    }
    if (isConst) {
        auto* value = bump.Take<VARIANT>();
        block->tail.variants = bump.Take<VARIANT*>();
        VariantInit(value);
        if (v.constValue) VariantCopy(value, v.constValue->ptr());
        block->tail.variants[0] = value;
        block->tail.count = 1;
        d.lpvarValue = value;
    } else {
        d.oInst = v.oInst;
    }
    BuildChain(v.type, d.elemdescVar.tdesc, bump);
    d.elemdescVar.paramdesc.wParamFlags = v.elemFlags;
    return &block->desc;
}

TYPEATTR* MakeTypeAttr(const TypeData& t, LCID lcid, size_t cFuncs) {
    const bool alias = t.kind == TKIND_ALIAS;
    Bump bump(NewBlock(Round(sizeof(TypeAttrBlock)) + (alias ? ChainBytes(t.aliasType) : 0)));
    auto* block = bump.Take<TypeAttrBlock>();
    TYPEATTR& a = block->attr;
    a.guid = t.guid;
    a.lcid = lcid;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    if (t.schema) {
        block->tail.schema = MakeBstr(*t.schema);
        a.lpstrSchema = block->tail.schema;
    }
    a.cbSizeInstance = t.cbSizeInstance;
    a.typekind = t.kind;
    a.cFuncs = static_cast<WORD>(cFuncs);
    a.cVars = static_cast<WORD>(t.vars.size());
    a.cImplTypes = static_cast<WORD>(t.implTypes.size());
    a.cbSizeVft = t.cbSizeVft;
    a.cbAlignment = t.cbAlignment;
    a.wTypeFlags = t.flags;
    a.wMajorVerNum = t.majorVersion;
    a.wMinorVerNum = t.minorVersion;
    if (alias)
        BuildChain(t.aliasType, a.tdescAlias, bump);
    else
        a.tdescAlias.vt = VT_EMPTY;
    a.idldescType.wIDLFlags = t.idlFlags;
    return &block->attr;
}

void FreeFuncDesc(FUNCDESC* p) {
    if (!p) return;
    auto* b = reinterpret_cast<FuncDescBlock*>(p);
    FreeBlock(b, b->tail);
}

void FreeVarDesc(VARDESC* p) {
    if (!p) return;
    auto* b = reinterpret_cast<VarDescBlock*>(p);
    FreeBlock(b, b->tail);
}

void FreeTypeAttr(TYPEATTR* p) {
    if (!p) return;
    auto* b = reinterpret_cast<TypeAttrBlock*>(p);
    FreeBlock(b, b->tail);
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
    HRESULT hr = CopyHeldValue(copy.ptr(), &v);
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
        if (e.guid == guid) return CopyHeldValue(out, e.value.ptr());
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
        CopyHeldValue(&items[i].varValue, list[i].value.ptr());
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
            s = 8, a = 8;
            break;
        case VT_DECIMAL:
            s = 16, a = 8;
            break;
        case VT_VARIANT:
            s = ptrSize == 8 ? 24 : 16, a = 8;
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
            s = static_cast<ULONG>(ptrSize), a = static_cast<WORD>(ptrSize);
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

// ---- Lookup tables ----

uint64_t NameKey(std::u16string_view name) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (char16_t c : name) {
        h ^= FoldChar(c);
        h *= 0x100000001B3ull;
    }
    return Mix64(h);
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

ChainMap::Tables& ChainMap::Built() {
    if (!t_) t_ = std::make_unique<Tables>();
    return *t_;
}

void ChainMap::Clear(size_t members) {
    if (members == 0) {  // stays unallocated until a member is added
        t_.reset();
        return;
    }
    size_t capacity = 8;
    while (capacity < members * 2) capacity *= 2;
    Tables& t = Built();
    t.slots.assign(capacity, Slot{});
    t.used = 0;
    t.next.assign(members, -1);
}

size_t ChainMap::SlotOf(uint64_t key) const {
    const std::vector<Slot>& slots = t_->slots;
    const size_t mask = slots.size() - 1;
    size_t s = static_cast<size_t>(key) & mask;
    while (slots[s].first >= 0 && slots[s].key != key) s = (s + 1) & mask;
    return s;
}

// The new slots are made before the old ones are let go: a table that can't
// grow stays as it was.
void ChainMap::Rehash(size_t capacity) {
    std::vector<Slot> old(capacity, Slot{});
    old.swap(t_->slots);
    for (const Slot& o : old)
        if (o.first >= 0) t_->slots[SlotOf(o.key)] = o;
}

void ChainMap::Grow(int i) {
    std::vector<int>& next = t_->next;
    if (next.size() <= static_cast<size_t>(i)) next.resize(static_cast<size_t>(i) + 1, -1);
}

ChainMap::Chain ChainMap::Find(uint64_t key) const {
    static const std::vector<int> none;
    if (!t_ || t_->slots.empty()) return Chain(-1, &none);
    return Chain(t_->slots[SlotOf(key)].first, &t_->next);
}

void ChainMap::Insert(uint64_t key, int i) {
    Tables& t = Built();
    if ((t.used + 1) * 2 > t.slots.size()) Rehash(std::max<size_t>(8, t.slots.size() * 2));
    Grow(i);
    std::vector<int>& next = t.next;
    Slot& s = t.slots[SlotOf(key)];
    if (s.first < 0) {
        s = Slot{key, i, i};
        ++t.used;
        next[static_cast<size_t>(i)] = -1;
        return;
    }
    if (s.last < i) {  // the common case: members are added in index order
        next[static_cast<size_t>(s.last)] = i;
        next[static_cast<size_t>(i)] = -1;
        s.last = i;
        return;
    }
    int prev = -1, c = s.first;
    while (c >= 0 && c < i) prev = c, c = next[static_cast<size_t>(c)];
    next[static_cast<size_t>(i)] = c;
    if (prev < 0)
        s.first = i;
    else
        next[static_cast<size_t>(prev)] = i;
}

void ChainMap::Remove(uint64_t key, int i) {
    if (!t_ || t_->slots.empty()) return;
    std::vector<int>& next = t_->next;
    const size_t at = SlotOf(key);
    Slot& s = t_->slots[at];
    if (s.first < 0) return;
    int prev = -1;
    for (int c = s.first; c >= 0; prev = c, c = next[static_cast<size_t>(c)]) {
        if (c != i) continue;
        const int after = next[static_cast<size_t>(c)];
        if (prev < 0)
            s.first = after;
        else
            next[static_cast<size_t>(prev)] = after;
        if (s.last == i) s.last = prev;
        next[static_cast<size_t>(c)] = -1;
        if (s.first < 0) EraseSlot(at);
        return;
    }
}

// Backward-shift deletion keeps every key reachable from its home slot.
void ChainMap::EraseSlot(size_t s) {
    std::vector<Slot>& slots = t_->slots;
    const size_t mask = slots.size() - 1;
    size_t hole = s;
    for (size_t j = (s + 1) & mask; slots[j].first >= 0; j = (j + 1) & mask) {
        const size_t home = static_cast<size_t>(slots[j].key) & mask;
        // Move j into the hole unless its home lies cyclically in (hole, j].
        const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        slots[hole] = slots[j];
        hole = j;
    }
    slots[hole] = Slot{};
    --t_->used;
}

// The shifts are branch-free: -1 (end of chain, free slot) never moves.
void ChainMap::OpenGap(int at) {
    if (!t_ || static_cast<size_t>(at) >= t_->next.size()) return;  // no member at or after it is linked
    for (int& n : t_->next) n += n >= at;
    t_->next.insert(t_->next.begin() + at, -1);
    for (Slot& s : t_->slots) {
        s.first += s.first >= at;
        s.last += s.last >= at;
    }
}

void ChainMap::CloseGap(int at) {
    if (!t_ || static_cast<size_t>(at) >= t_->next.size()) return;
    t_->next.erase(t_->next.begin() + at);
    for (int& n : t_->next) n -= n > at;
    for (Slot& s : t_->slots) {
        s.first -= s.first > at;
        s.last -= s.last > at;
    }
}

void MemberIndex::FuncInserted(int index, const FuncData& f) {
    if (idsValid) {
        funcsById.OpenGap(index);
        funcsById.Insert(IdKey(f.memid), index);
    }
    if (namesValid) {
        funcsByName.OpenGap(index);
        if (!f.name.empty()) funcsByName.Insert(NameKey(f.name), index);
    }
}

void MemberIndex::FuncRemoving(int index, const FuncData& f) {
    if (idsValid) {
        funcsById.Remove(IdKey(f.memid), index);
        funcsById.CloseGap(index);
    }
    if (namesValid) {
        if (!f.name.empty()) funcsByName.Remove(NameKey(f.name), index);
        funcsByName.CloseGap(index);
    }
}

void MemberIndex::VarInserted(int index, const VarData& v) {
    if (idsValid) {
        varsById.OpenGap(index);
        varsById.Insert(IdKey(v.memid), index);
    }
    if (namesValid) {
        varsByName.OpenGap(index);
        if (!v.name.empty()) varsByName.Insert(NameKey(v.name), index);
    }
}

void MemberIndex::VarRemoving(int index, const VarData& v) {
    if (idsValid) {
        varsById.Remove(IdKey(v.memid), index);
        varsById.CloseGap(index);
    }
    if (namesValid) {
        if (!v.name.empty()) varsByName.Remove(NameKey(v.name), index);
        varsByName.CloseGap(index);
    }
}

}  // namespace ole::engine

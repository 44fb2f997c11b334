// LayOut: vtable offsets, instance sizes, record offsets and automatic member
// ids, computed for the library's SYSKIND whatever the host (automatic
// function ids are also fixed when the functions are first read). The layout
// is computed first and committed only when every step succeeded.
#include <algorithm>
#include <functional>

#include "platform/tlbengine/TypeLibEngine.h"

namespace ole::engine {

namespace {

constexpr MEMBERID kFuncIdBase = 0x60000000;
constexpr MEMBERID kVarIdBase = 0x40000000;
constexpr size_t kMaxChain = 64;
// Types laid out inside one another (records in records, aliases of aliases)
// are sized recursively: deeper nesting fails rather than exhaust the stack.
constexpr size_t kMaxNesting = 256;

ULONG RoundUp(ULONG v, ULONG a) { return a <= 1 ? v : (v + a - 1) / a * a; }

// The interface half of a dual's dispatch view (foreign objects through the interface).
ComPtr<ITypeInfo> InterfaceHalf(ComPtr<ITypeInfo> ti) {
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta)) || !ta) return ti;
    bool dualView = ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL);
    ti->ReleaseTypeAttr(ta);
    if (!dualView) return ti;
    HREFTYPE partner = 0;
    ComPtr<ITypeInfo> half;
    if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner)) &&
        SUCCEEDED(ti->GetRefTypeInfo(partner, half.put())) && half)
        return half;
    return ti;
}

void RemapHrefs(TypeDescData& t, const std::function<HREFTYPE(HREFTYPE)>& map) {
    if (t.vt == VT_USERDEFINED) t.href = map(t.href);
    for (TypeDescData& e : t.element) RemapHrefs(e, map);
}

void RemapFunc(FuncData& f, const std::function<HREFTYPE(HREFTYPE)>& map) {
    RemapHrefs(f.returnType, map);
    for (ParamData& p : f.params) RemapHrefs(p.type, map);
}

// Automatic function ids, fixed at once for every function still without one
// (MEMBERID_NIL in ids), in index order: 0x60000000, the inheritance depth in
// bits 16-21 and the function's index, or, when another member holds that
// id, the first free one counting up from the number of functions. Ids
// fixed before stay what they are, wherever their functions went since.
void AssignFuncIds(std::vector<MEMBERID>& ids, const std::vector<VarData>& vars, int depth) {
    IdSet used(ids.size() + vars.size() + 16);
    for (MEMBERID id : ids)
        if (id != MEMBERID_NIL) used.Insert(id);
    for (const VarData& v : vars)
        if (v.memid != MEMBERID_NIL) used.Insert(v.memid);
    const MEMBERID base = kFuncIdBase | (depth << 16);
    // Ids are only ever taken, so the search from the count goes on where it stopped.
    MEMBERID next = base | static_cast<MEMBERID>(ids.size() & 0xFFFF);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] != MEMBERID_NIL) continue;
        MEMBERID id = base | static_cast<MEMBERID>(i & 0xFFFF);
        if (used.Contains(id)) {
            while (used.Contains(next)) ++next;
            id = next;
        }
        ids[i] = id;
        used.Insert(id);
    }
}

}  // namespace

HRESULT WalkBases(ITypeInfo* first, TypeInfoImpl* self, std::vector<ChainLink>& out) {
    out.clear();
    ComPtr<ITypeInfo> cur(first);
    while (cur) {
        if (out.size() >= kMaxChain) return TYPE_E_CIRCULARTYPE;
        TypeReader* r = dynamic_cast<TypeReader*>(cur.get());
        if (r && r->IsDispatchView()) {
            r = r->Owner();
            cur = ComPtr<ITypeInfo>(static_cast<ITypeInfo*>(r));
        } else if (!r) {
            cur = InterfaceHalf(cur);
            r = dynamic_cast<TypeReader*>(cur.get());
        }
        if (r && self && r->Owner() == self) return TYPE_E_CIRCULARTYPE;
        for (const ChainLink& l : out)
            if (l.ti.get() == cur.get()) return TYPE_E_CIRCULARTYPE;
        out.push_back(ChainLink{cur, r});
        ComPtr<ITypeInfo> next;
        if (r) {
            const TypeData* d = r->Data();
            if (!d) return TYPE_E_ELEMENTNOTFOUND;
            if (d->kind != TKIND_INTERFACE || d->implTypes.empty()) break;
            HRESULT hr = r->Library()->ResolveRef(d->implTypes[0].href, next.put());
            if (FAILED(hr)) return hr;
        } else {
            TYPEATTR* ta = nullptr;
            HRESULT hr = cur->GetTypeAttr(&ta);
            if (FAILED(hr)) return hr;
            bool more = ta->typekind == TKIND_INTERFACE && ta->cImplTypes > 0;
            cur->ReleaseTypeAttr(ta);
            if (!more) break;
            HREFTYPE h = 0;
            hr = cur->GetRefTypeOfImplType(0, &h);
            if (SUCCEEDED(hr)) hr = cur->GetRefTypeInfo(h, next.put());
            if (FAILED(hr)) return hr;
        }
        cur = std::move(next);
    }
    return S_OK;
}

IdSet::IdSet(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, kFree);
}

size_t IdSet::SlotOf(MEMBERID id) const {
    const uint64_t key = static_cast<uint32_t>(id);
    const size_t mask = slots_.size() - 1;
    size_t s = static_cast<size_t>(IdKey(id)) & mask;
    while (slots_[s] != kFree && slots_[s] != key) s = (s + 1) & mask;
    return s;
}

bool IdSet::Contains(MEMBERID id) const { return slots_[SlotOf(id)] != kFree; }

void IdSet::Insert(MEMBERID id) {
    if ((used_ + 1) * 2 > slots_.size()) {
        std::vector<uint64_t> old = std::move(slots_);
        slots_.assign(old.size() * 2, kFree);
        for (uint64_t k : old)
            if (k != kFree) slots_[SlotOf(static_cast<MEMBERID>(k))] = k;
    }
    uint64_t& slot = slots_[SlotOf(id)];
    if (slot != kFree) return;
    slot = static_cast<uint32_t>(id);
    ++used_;
}

void CollectChainIds(const std::vector<ChainLink>& chain, IdSet& ids) {
    for (const ChainLink& link : chain) {
        if (link.reader) {
            link.reader->Owner()->FixFunctionIds();
            if (const TypeData* d = link.reader->Data())
                for (const FuncData& f : d->funcs)
                    if (f.memid != MEMBERID_NIL) ids.Insert(f.memid);
            continue;
        }
        TYPEATTR* ta = nullptr;
        if (FAILED(link.ti->GetTypeAttr(&ta)) || !ta) continue;
        WORD n = ta->cFuncs;
        link.ti->ReleaseTypeAttr(ta);
        for (UINT i = 0; i < n; ++i) {
            FUNCDESC* fd = nullptr;
            if (SUCCEEDED(link.ti->GetFuncDesc(i, &fd)) && fd) {
                ids.Insert(fd->memid);
                link.ti->ReleaseFuncDesc(fd);
            }
        }
    }
}

int PtrSizeOf(ChainLink& link) {
    if (link.reader) return link.reader->Library()->PtrSize();
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    TLIBATTR* attr = nullptr;
    int size = 4;
    if (SUCCEEDED(link.ti->GetContainingTypeLib(lib.put(), &index)) && lib && SUCCEEDED(lib->GetLibAttr(&attr)) &&
        attr) {
        size = attr->syskind == SYS_WIN64 ? 8 : 4;
        lib->ReleaseTLibAttr(attr);
    }
    return size;
}

HRESULT ImportFuncCount(ChainLink& link, UINT* count) {
    if (link.reader) {
        const TypeData* d = link.reader->Data();
        if (!d) return TYPE_E_ELEMENTNOTFOUND;
        *count = static_cast<UINT>(d->funcs.size());
        return S_OK;
    }
    TYPEATTR* ta = nullptr;
    HRESULT hr = link.ti->GetTypeAttr(&ta);
    if (FAILED(hr)) return hr;
    *count = ta->cFuncs;
    link.ti->ReleaseTypeAttr(ta);
    return S_OK;
}

HRESULT ImportFunc(ChainLink& link, UINT index, LibraryImpl& lib, FuncData& out) {
    auto intern = [&](ITypeInfo* source, HREFTYPE h) -> HREFTYPE {
        ComPtr<ITypeInfo> target;
        HREFTYPE mapped = 0;
        if (SUCCEEDED(source->GetRefTypeInfo(h, target.put())) && target &&
            SUCCEEDED(lib.InternRef(target.get(), &mapped)))
            return mapped;
        return lib.MissingRef();
    };
    if (link.reader) {
        link.reader->Owner()->FixFunctionIds();
        const TypeData* d = link.reader->Data();
        if (!d || index >= d->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        out = d->funcs[index];
        if (link.reader->Library() != &lib)
            RemapFunc(out, [&](HREFTYPE h) { return intern(link.ti.get(), h); });
        return S_OK;
    }
    FUNCDESC* fd = nullptr;
    HRESULT hr = link.ti->GetFuncDesc(index, &fd);
    if (FAILED(hr)) return hr;
    FuncData f;
    f.memid = fd->memid;
    f.funckind = fd->funckind;
    f.invkind = fd->invkind;
    f.callconv = fd->callconv;
    f.cParamsOpt = fd->cParamsOpt;
    f.oVft = fd->oVft;
    f.flags = fd->wFuncFlags;
    hr = CopyTypeDesc(fd->elemdescFunc.tdesc, f.returnType);
    f.params.resize(fd->cParams > 0 ? static_cast<size_t>(fd->cParams) : 0);
    for (size_t i = 0; SUCCEEDED(hr) && i < f.params.size(); ++i) hr = CopyParam(fd->lprgelemdescParam[i], f.params[i]);
    link.ti->ReleaseFuncDesc(fd);
    if (FAILED(hr)) return hr;
    std::vector<BSTR> names(f.params.size() + 1, nullptr);
    UINT got = 0;
    if (SUCCEEDED(link.ti->GetNames(f.memid, names.data(), static_cast<UINT>(names.size()), &got))) {
        for (UINT i = 0; i < got; ++i) {
            std::u16string s(BstrView(names[i]));
            if (i == 0)
                f.name = std::move(s);
            else
                f.params[i - 1].name = std::move(s);
            SysFreeString(names[i]);
        }
    }
    RemapFunc(f, [&](HREFTYPE h) { return intern(link.ti.get(), h); });
    out = std::move(f);
    return S_OK;
}

// ---- Sizes ----

namespace {

struct SizeCtx {
    LibraryImpl* lib;
    LayoutPass& pass;
};

// The packing a type's alignment setting stands for (0 means 64K).
ULONG Packing(WORD setting) { return setting == 0 ? 0x10000u : setting; }

WORD Capped(WORD natural, ULONG packing) {
    return static_cast<WORD>(std::max<ULONG>(1, std::min<ULONG>(natural, packing)));
}

HRESULT SizeOfType(const TypeDescData& t, SizeCtx& ctx, ULONG* size, WORD* align) {
    // Natural alignments: the caller caps them by the alignment setting.
    if (IntrinsicSize(t.vt, ctx.lib->PtrSize(), size, align)) return S_OK;
    if (t.vt == VT_CARRAY) {
        if (t.element.empty()) return E_INVALIDARG;
        ULONG s = 0;
        WORD a = 0;
        HRESULT hr = SizeOfType(t.element[0], ctx, &s, &a);
        if (FAILED(hr)) return hr;
        uint64_t total = s;
        for (const SAFEARRAYBOUND& b : t.Bounds()) {
            total *= b.cElements;
            if (total > 0x7FFFFFFFu) return TYPE_E_SIZETOOBIG;
        }
        *size = static_cast<ULONG>(total);
        *align = a;
        return S_OK;
    }
    if (t.vt == VT_USERDEFINED) {
        if (TypeReader* r = ctx.lib->InternalTarget(t.href)) {
            if (r->IsDispatchView()) {
                *size = static_cast<ULONG>(ctx.lib->PtrSize());
                *align = static_cast<WORD>(ctx.lib->PtrSize());
                return S_OK;
            }
            return r->Owner()->InstanceSize(size, align, ctx.pass);
        }
        ComPtr<ITypeInfo> ti;
        if (FAILED(ctx.lib->ResolveRef(t.href, ti.put())) || !ti) return TYPE_E_UNDEFINEDTYPE;
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta)) || !ta) return TYPE_E_UNDEFINEDTYPE;
        *size = ta->cbSizeInstance;
        *align = ta->cbAlignment;
        ti->ReleaseTypeAttr(ta);
        return S_OK;
    }
    return TYPE_E_UNSUPFORMAT;
}

}  // namespace

HRESULT TypeInfoImpl::InstanceSize(ULONG* size, WORD* align, LayoutPass& pass) {
    const TypeData& d = *data_;
    const int ptr = lib_->PtrSize();
    switch (d.kind) {
        case TKIND_RECORD:
        case TKIND_UNION:
        case TKIND_ALIAS: {
            LayoutPass::Size known;
            if (auto it = pass.instances.find(this); it != pass.instances.end()) {
                known = it->second;
            } else {
                Layout l;
                known.hr = ComputeLayout(l, pass);
                known.size = l.cbSizeInstance;
                known.align = l.cbAlignment;
                // A cycle is found from where the walk entered it: not kept.
                if (known.hr != TYPE_E_CIRCULARTYPE) pass.instances.emplace(this, known);
            }
            if (FAILED(known.hr)) return known.hr;
            *size = known.size;
            *align = known.align;
            return S_OK;
        }
        case TKIND_ENUM:
            *size = 4;
            *align = 4;
            return S_OK;
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
        case TKIND_COCLASS:
            *size = static_cast<ULONG>(ptr);
            *align = static_cast<WORD>(ptr);  // natural: an instance is a pointer
            return S_OK;
        default:
            *size = d.cbSizeInstance;
            *align = d.cbAlignment;
            return S_OK;
    }
}

HRESULT TypeInfoImpl::GetNaturalAlignment(WORD* pcbAlignment) {
    if (!pcbAlignment) return E_POINTER;
    *pcbAlignment = 0;
    const TypeData& d = *data_;
    if (d.kind != TKIND_RECORD && d.kind != TKIND_UNION) return TYPE_E_WRONGTYPEKIND;
    LayoutPass pass;
    pass.visiting.push_back(this);  // a field holding this type is a cycle
    SizeCtx sctx{lib_, pass};
    WORD widest = 1;
    for (const VarData& v : d.vars) {
        if (v.varkind != VAR_PERINSTANCE) continue;
        ULONG s = 0;
        WORD a = 0;
        if (HRESULT hr = SizeOfType(v.type, sctx, &s, &a); FAILED(hr)) return hr;
        widest = std::max(widest, a);
    }
    *pcbAlignment = widest;
    return S_OK;
}

HRESULT TypeInfoImpl::GetAlignmentSetting(WORD* pcbAlignment) {
    if (!pcbAlignment) return E_POINTER;
    *pcbAlignment = data_->alignmentSetting;
    return S_OK;
}

HRESULT TypeInfoImpl::VtableSize(WORD* size, LayoutPass& pass) {
    if (data_->kind != TKIND_INTERFACE) {
        *size = data_->cbSizeVft;
        return S_OK;
    }
    if (auto it = pass.vtables.find(this); it != pass.vtables.end()) {
        *size = it->second;
        return S_OK;
    }
    Layout l;
    HRESULT hr = ComputeLayout(l, pass);
    if (hr == TYPE_E_CIRCULARTYPE) return hr;
    // A base that cannot be laid out in its present state keeps its last vtable size.
    *size = SUCCEEDED(hr) ? l.cbSizeVft : data_->cbSizeVft;
    pass.vtables.emplace(this, *size);
    return S_OK;
}

// ---- LayOut ----

HRESULT TypeInfoImpl::ComputeLayout(Layout& out, LayoutPass& pass) {
    std::vector<TypeInfoImpl*>& visiting = pass.visiting;
    if (std::find(visiting.begin(), visiting.end(), this) != visiting.end()) return TYPE_E_CIRCULARTYPE;
    if (visiting.size() >= kMaxNesting) return TYPE_E_SIZETOOBIG;
    visiting.push_back(this);
    struct Pop {
        std::vector<TypeInfoImpl*>& v;
        ~Pop() { v.pop_back(); }
    } pop{visiting};

    const TypeData& d = *data_;
    const int ptr = lib_->PtrSize();
    out.flags = d.flags;
    out.cbSizeVft = d.cbSizeVft;
    out.cbAlignment = d.cbAlignment;
    out.cbSizeInstance = d.cbSizeInstance;
    out.oVfts.resize(d.funcs.size());
    for (size_t i = 0; i < d.funcs.size(); ++i) out.oVfts[i] = d.funcs[i].oVft;
    out.funcIds.clear();
    out.varIds.resize(d.vars.size());
    out.oInsts.resize(d.vars.size());
    for (size_t i = 0; i < d.vars.size(); ++i) {
        out.varIds[i] = d.vars[i].memid;
        out.oInsts[i] = d.vars[i].oInst;
    }
    out.addImpl.clear();

    std::vector<ChainLink> chain;
    int depth = 0;
    SizeCtx sctx{lib_, pass};

    switch (d.kind) {
        case TKIND_INTERFACE: {
            if (!d.implTypes.empty()) {
                ComPtr<ITypeInfo> base;
                HRESULT hr = lib_->ResolveRef(d.implTypes[0].href, base.put());
                if (FAILED(hr)) return TYPE_E_UNDEFINEDTYPE;
                hr = WalkBases(base.get(), this, chain);
                if (FAILED(hr)) return hr == TYPE_E_CIRCULARTYPE ? hr : TYPE_E_UNDEFINEDTYPE;
            }
            depth = static_cast<int>(chain.size());
            // Size of the inherited vtable: computed for types of this library.
            ULONG baseVft = 0;
            if (!chain.empty()) {
                ChainLink& b = chain[0];
                WORD w = 0;
                if (b.reader && b.reader->Library() == lib_) {
                    HRESULT hr = b.reader->Owner()->VtableSize(&w, pass);
                    if (FAILED(hr)) return hr;
                } else if (b.reader) {
                    w = b.reader->Data()->cbSizeVft;
                } else {
                    TYPEATTR* ta = nullptr;
                    if (FAILED(b.ti->GetTypeAttr(&ta)) || !ta) return TYPE_E_UNDEFINEDTYPE;
                    w = ta->cbSizeVft;
                    b.ti->ReleaseTypeAttr(ta);
                }
                // A base of a library for another platform (the standard
                // library is Win32): its slots at this library's pointer size.
                const int basePtr = PtrSizeOf(b);
                baseVft = w;
                if (basePtr != ptr) baseVft = baseVft / static_cast<ULONG>(basePtr) * static_cast<ULONG>(ptr);
            }
            // Dispatchable means derived from IDispatch: IDispatch itself is
            // not (the standard libraries store it without the flag).
            // FDISPATCHABLE, once set (here or when the base was added), stays
            // even when the base changes again.
            for (ChainLink& l : chain)
                if (LinkGuid(l) == kIID_IDispatch) out.flags |= TYPEFLAG_FDISPATCHABLE;
            // Vtable offsets: explicit ones are kept; automatic ones follow the
            // base. Automatic slots can only be placed while every explicit
            // offset sits where the automatic rule would put it.
            const size_t n = d.funcs.size();
            bool anyAuto = false;
            for (const FuncData& f : d.funcs) anyAuto |= f.oVftAuto;
            ULONG maxEnd = baseVft + static_cast<ULONG>(ptr) * static_cast<ULONG>(n);
            std::vector<bool> used(0x10000);  // by byte offset
            for (size_t i = 0; i < n; ++i) {
                const FuncData& f = d.funcs[i];
                ULONG slot = baseVft + static_cast<ULONG>(ptr) * static_cast<ULONG>(i);
                ULONG o = f.oVftAuto ? slot : static_cast<ULONG>(static_cast<USHORT>(f.oVft));
                if (anyAuto && !f.oVftAuto && o != slot) return TYPE_E_INVALIDSTATE;
                if (o > 0xFFFF) return TYPE_E_SIZETOOBIG;
                if (used[o]) return TYPE_E_INVALIDSTATE;
                used[o] = true;
                out.oVfts[i] = static_cast<SHORT>(o);
                maxEnd = std::max(maxEnd, o + static_cast<ULONG>(ptr));
            }
            if (maxEnd > 0xFFFF) return TYPE_E_SIZETOOBIG;
            out.cbSizeVft = static_cast<WORD>(maxEnd);
            out.cbSizeInstance = static_cast<ULONG>(ptr);
            break;
        }
        case TKIND_DISPATCH: {
            // An instance is a pointer; properties whose type aligns wider
            // (within the alignment setting) widen the dispinterface's
            // alignment, and its size rounds up to it, as the compilers store it.
            const ULONG packing = Packing(d.alignmentSetting);
            WORD maxAlign = 4;
            for (const VarData& v : d.vars) {
                ULONG s = 0;
                WORD a = 0;
                if (v.varkind != VAR_DISPATCH || FAILED(SizeOfType(v.type, sctx, &s, &a))) continue;
                maxAlign = std::max(maxAlign, Capped(a, packing));
            }
            out.cbAlignment = maxAlign;
            ComPtr<ITypeInfo> base;
            if (!d.implTypes.empty()) {
                (void)lib_->ResolveRef(d.implTypes[0].href, base.put());
            } else if (SUCCEEDED(lib_->StdDispatch(base.put())) && base) {
                ImplTypeData impl;
                if (SUCCEEDED(lib_->InternRef(base.get(), &impl.href))) out.addImpl.push_back(std::move(impl));
            }
            depth = 2;  // a dispinterface stands on IDispatch
            if (base && SUCCEEDED(WalkBases(base.get(), this, chain))) depth = static_cast<int>(chain.size());
            out.flags |= TYPEFLAG_FDISPATCHABLE;
            out.cbSizeVft = static_cast<WORD>(7 * ptr);
            out.cbSizeInstance = RoundUp(static_cast<ULONG>(ptr), maxAlign);
            break;
        }
        case TKIND_MODULE:
            // No instance: alignment 1, as for a record without members, and
            // size 2 whatever the module holds, as the platform lays it out.
            out.cbSizeVft = 0;
            out.cbAlignment = 1;
            out.cbSizeInstance = 2;
            break;
        case TKIND_COCLASS:
            out.cbSizeInstance = static_cast<ULONG>(ptr);
            out.cbSizeVft = 0;
            break;
        case TKIND_ENUM:
            out.cbSizeInstance = 4;
            out.cbAlignment = 4;
            break;
        case TKIND_RECORD:
        case TKIND_UNION: {
            const ULONG packing = Packing(d.alignmentSetting);
            const bool isUnion = d.kind == TKIND_UNION;
            ULONG off = 0, maxSize = 0;
            WORD maxAlign = 1;
            for (size_t i = 0; i < d.vars.size(); ++i) {
                const VarData& v = d.vars[i];
                if (v.varkind != VAR_PERINSTANCE) continue;
                ULONG s = 0;
                WORD a = 0;
                HRESULT hr = SizeOfType(v.type, sctx, &s, &a);
                if (FAILED(hr)) return hr;
                const WORD al = Capped(a, packing);
                if (isUnion) {
                    out.oInsts[i] = 0;
                    maxSize = std::max(maxSize, s);
                } else {
                    off = RoundUp(off, al);
                    out.oInsts[i] = off;
                    if (off + static_cast<uint64_t>(s) > 0x7FFFFFFFu) return TYPE_E_SIZETOOBIG;
                    off += s;
                }
                maxAlign = std::max(maxAlign, al);
            }
            out.cbAlignment = maxAlign;
            out.cbSizeInstance = RoundUp(isUnion ? maxSize : off, maxAlign);
            break;
        }
        case TKIND_ALIAS: {
            ULONG s = 0;
            WORD a = 0;
            HRESULT hr = SizeOfType(d.aliasType, sctx, &s, &a);
            if (hr == TYPE_E_CIRCULARTYPE) return hr;
            if (SUCCEEDED(hr)) {
                out.cbSizeInstance = s;
                out.cbAlignment = s == 0 && a == 0 ? 0 : Capped(a, Packing(d.alignmentSetting));
            }
            break;
        }
        default:
            break;
    }

    // Automatic function ids not fixed yet are fixed now.
    if (idsPending_.load(std::memory_order_acquire)) {
        out.funcIds.resize(d.funcs.size());
        for (size_t i = 0; i < d.funcs.size(); ++i) out.funcIds[i] = d.funcs[i].memid;
        AssignFuncIds(out.funcIds, d.vars, depth);
    }
    // Automatic variable ids: the variable's index, or when that is taken the
    // variable count and up.
    if (std::find(out.varIds.begin(), out.varIds.end(), MEMBERID_NIL) != out.varIds.end()) {
        IdSet used(d.funcs.size() + out.varIds.size() + 16);
        CollectChainIds(chain, used);
        for (size_t i = 0; i < d.funcs.size(); ++i) used.Insert(out.funcIds.empty() ? d.funcs[i].memid : out.funcIds[i]);
        for (MEMBERID id : out.varIds)
            if (id != MEMBERID_NIL) used.Insert(id);
        const MEMBERID vbase = kVarIdBase | (depth << 16);
        for (size_t i = 0; i < d.vars.size(); ++i) {
            if (out.varIds[i] != MEMBERID_NIL) continue;
            MEMBERID id = vbase | static_cast<MEMBERID>(i & 0xFFFF);
            if (used.Contains(id)) {
                id = vbase | static_cast<MEMBERID>(d.vars.size() & 0xFFFF);
                while (used.Contains(id)) ++id;
            }
            out.varIds[i] = id;
            used.Insert(id);
        }
    }
    return S_OK;
}

HRESULT TypeInfoImpl::LayOut() {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("LayOut", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    Layout l;
    LayoutPass pass;
    HRESULT hr = ComputeLayout(l, pass);
    if (FAILED(hr)) return hr;
    t.flags = l.flags;
    t.cbSizeVft = l.cbSizeVft;
    t.cbAlignment = l.cbAlignment;
    t.cbSizeInstance = l.cbSizeInstance;
    for (size_t i = 0; i < t.funcs.size(); ++i) t.funcs[i].oVft = l.oVfts[i];
    if (!l.funcIds.empty()) {
        CommitFuncIds(t, l.funcIds);
        idsPending_.store(false, std::memory_order_release);
    }
    // The id tables follow the ids that changed; names did not change.
    for (size_t i = 0; i < t.vars.size(); ++i) {
        VarData& v = t.vars[i];
        if (index_.idsValid && v.memid != l.varIds[i]) {
            index_.varsById.Remove(IdKey(v.memid), static_cast<int>(i));
            index_.varsById.Insert(IdKey(l.varIds[i]), static_cast<int>(i));
        }
        v.memid = l.varIds[i];
        if (v.varkind == VAR_PERINSTANCE) v.oInst = l.oInsts[i];
    }
    for (ImplTypeData& impl : l.addImpl) t.implTypes.push_back(std::move(impl));
    if (!l.addImpl.empty()) lib_->BasesTouched();
    // A type laid out for the first time has usually just been filled (a
    // regeneration makes every type so): its member lists give back the room
    // they kept for growing, up to half of a large library's members. Later
    // layouts leave it, so that adding members one at a time stays cheap.
    // shrink_to_fit keeps the list as it is when it can't allocate.
    if (!laidOut_) {
        auto fit = [](auto& list) {
            if (list.capacity() - list.size() > list.size() / 8) list.shrink_to_fit();
        };
        fit(t.funcs);
        fit(t.vars);
    }
    laidOut_ = true;
    Touched();
    return S_OK;
}

ULONG TypeInfoImpl::InheritedVtableSize() {
    const TypeData& d = *data_;
    if (d.kind != TKIND_INTERFACE || d.implTypes.empty()) return 0;
    ComPtr<ITypeInfo> base;
    if (FAILED(lib_->ResolveRef(d.implTypes[0].href, base.put())) || !base) return 0;
    ChainLink link{base, dynamic_cast<TypeReader*>(base.get())};
    if (link.reader && link.reader->IsDispatchView()) {
        link.reader = link.reader->Owner();
        link.ti = ComPtr<ITypeInfo>(static_cast<ITypeInfo*>(link.reader));
    } else if (!link.reader) {
        link.ti = InterfaceHalf(link.ti);
        link.reader = dynamic_cast<TypeReader*>(link.ti.get());
    }
    ULONG size = 0;
    if (link.reader) {
        const TypeData* b = link.reader->Data();
        if (!b) return 0;
        size = b->cbSizeVft;
    } else {
        TYPEATTR* ta = nullptr;
        if (FAILED(link.ti->GetTypeAttr(&ta)) || !ta) return 0;
        size = ta->cbSizeVft;
        link.ti->ReleaseTypeAttr(ta);
    }
    const ULONG basePtr = static_cast<ULONG>(PtrSizeOf(link)), ptr = static_cast<ULONG>(lib_->PtrSize());
    return basePtr == ptr ? size : size / basePtr * ptr;
}

// ---- Automatic function ids ----

// The depth is that of the base chain as it is when the ids are fixed. A
// chain of this engine's types is kept until a base changes in any library;
// one through a foreign type is walked again each time.
int TypeInfoImpl::InheritanceDepth() {
    const uint64_t stamp = lib_->BasesEditCount();
    if (depthStamp_.load(std::memory_order_acquire) == stamp) return depth_.load(std::memory_order_relaxed);
    const TypeData& d = *data_;
    ComPtr<ITypeInfo> base;
    int depth = 0;
    if (d.kind == TKIND_INTERFACE && !d.implTypes.empty()) {
        (void)lib_->ResolveRef(d.implTypes[0].href, base.put());
    } else if (d.kind == TKIND_DISPATCH) {
        depth = 2;  // a dispinterface stands on IDispatch
        if (!d.implTypes.empty()) (void)lib_->ResolveRef(d.implTypes[0].href, base.put());
    }
    bool keep = true;
    if (base) {
        std::vector<ChainLink> chain;
        // A chain broken further down still counts the links that were found.
        (void)WalkBases(base.get(), this, chain);
        if (!chain.empty()) depth = static_cast<int>(chain.size());
        for (const ChainLink& link : chain)
            keep &= link.reader != nullptr;
    }
    if (keep) {
        // Readers racing here compute the same depth for the same stamp.
        depth_.store(depth, std::memory_order_relaxed);
        depthStamp_.store(stamp, std::memory_order_release);
    }
    return depth;
}

void TypeInfoImpl::CommitFuncIds(TypeData& t, const std::vector<MEMBERID>& ids) {
    for (size_t i = 0; i < t.funcs.size(); ++i) {
        FuncData& f = t.funcs[i];
        if (f.memid == ids[i]) continue;
        if (index_.idsValid.load(std::memory_order_relaxed)) {
            index_.funcsById.Remove(IdKey(f.memid), static_cast<int>(i));
            index_.funcsById.Insert(IdKey(ids[i]), static_cast<int>(i));
        }
        f.memid = ids[i];
    }
}

// Reading fixes the ids without counting as an edit: the functions stay where
// they are, so dispatch views and other libraries' copies of them stay good
// (each fixes the ids before it takes the functions).
void TypeInfoImpl::FixFunctionIds() {
    if (!idsPending_.load(std::memory_order_acquire)) return;
    const int depth = InheritanceDepth();  // before the lock: it may read other libraries
    std::lock_guard lock(lib_->LazyMutex());
    if (!idsPending_.load(std::memory_order_relaxed)) return;
    if (owned_) {
        std::vector<MEMBERID> ids(owned_->funcs.size());
        for (size_t i = 0; i < ids.size(); ++i) ids[i] = owned_->funcs[i].memid;
        AssignFuncIds(ids, owned_->vars, depth);
        CommitFuncIds(*owned_, ids);
    }
    idsPending_.store(false, std::memory_order_release);
}

}  // namespace ole::engine

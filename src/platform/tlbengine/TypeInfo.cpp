// The reading side of types (ITypeInfo2, ITypeComp), shared by created types,
// loaded types and the dispatch views of dual interfaces.
#include <algorithm>

#include "platform/tlbengine/TypeLibEngine.h"

namespace ole::engine {

namespace {

// Bounds recursion through base interfaces (a corrupt file may hold a cycle).
class RecursionGuard {
public:
    RecursionGuard() { ++depth_; }
    ~RecursionGuard() { --depth_; }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    bool TooDeep() const { return depth_ > 64; }

private:
    static thread_local int depth_;
};
thread_local int RecursionGuard::depth_ = 0;

const VarData* VarAt(const TypeData* d, UINT index) {
    return d && index < d->vars.size() ? &d->vars[index] : nullptr;
}

}  // namespace

// ---- TypeReader ----

// The file stores one set of flags for both halves; the dispatch view drops
// FOLEAUTOMATION and otherwise reports them as they are. FDISPATCHABLE is
// there once AddImplType or LayOut set it (the interface derives from IDispatch).
WORD DispatchViewFlags(WORD interfaceFlags) {
    return static_cast<WORD>((interfaceFlags | TYPEFLAG_FDUAL) & ~TYPEFLAG_FOLEAUTOMATION);
}

ULONG TypeReader::AddRef() { return lib_->AddRef(); }
ULONG TypeReader::Release() { return lib_->Release(); }

size_t TypeReader::FuncCount() {
    if (!Data()) return 0;  // brings a dispatch view up to date
    return PresentedCount();
}

FuncView TypeReader::Func(size_t i) {
    Owner()->FixFunctionIds();
    (void)Data();
    return PresentedFunc(i);
}

// Readers of a shared library may build the tables at the same time: the
// first to take the lock builds them, the others find them built.
const MemberIndex& TypeReader::Ids() {
    Owner()->FixFunctionIds();
    const TypeData* d = Data();  // brings a dispatch view up to date
    if (!d || index_.idsValid.load(std::memory_order_acquire)) return index_;
    std::lock_guard lock(lib_->LazyMutex());
    if (!index_.idsValid.load(std::memory_order_relaxed)) {
        const size_t nf = PresentedCount();
        index_.funcsById.Clear(nf);
        for (size_t i = 0; i < nf; ++i) index_.funcsById.Insert(IdKey(PresentedFunc(i).f->memid), static_cast<int>(i));
        index_.varsById.Clear(d->vars.size());
        for (size_t i = 0; i < d->vars.size(); ++i)
            index_.varsById.Insert(IdKey(d->vars[i].memid), static_cast<int>(i));
        index_.idsValid.store(true, std::memory_order_release);
    }
    return index_;
}

const MemberIndex& TypeReader::Names() {
    const TypeData* d = Data();  // brings a dispatch view up to date
    if (!d || index_.namesValid.load(std::memory_order_acquire)) return index_;
    std::lock_guard lock(lib_->LazyMutex());
    if (!index_.namesValid.load(std::memory_order_relaxed)) {
        const size_t nf = PresentedCount();
        index_.funcsByName.Clear(nf);
        for (size_t i = 0; i < nf; ++i) {
            const std::u16string& name = PresentedFunc(i).f->name;
            if (!name.empty()) index_.funcsByName.Insert(NameKey(name), static_cast<int>(i));
        }
        index_.varsByName.Clear(d->vars.size());
        for (size_t i = 0; i < d->vars.size(); ++i)
            if (!d->vars[i].name.empty()) index_.varsByName.Insert(NameKey(d->vars[i].name), static_cast<int>(i));
        index_.namesValid.store(true, std::memory_order_release);
    }
    return index_;
}

FuncView TypeReader::FuncAtIndex(UINT index) {
    Owner()->FixFunctionIds();
    if (!Data() || index >= PresentedCount()) return FuncView{};  // Data brings a dispatch view up to date
    return PresentedFunc(index);
}

bool TypeReader::ScanById() {
    Owner()->FixFunctionIds();
    const TypeData* d = Data();  // brings a dispatch view up to date
    return d && !index_.idsValid.load(std::memory_order_acquire) &&
           PresentedCount() + d->vars.size() <= kScanMembers;
}

bool TypeReader::FindMember(MEMBERID memid, FuncView* f, const VarData** v) {
    *f = FuncView{};
    *v = nullptr;
    const TypeData* d = Data();
    if (!d) return false;
    if (ScanById()) {
        // As below, in place: the type's own functions first, then inherited
        // ones, then variables.
        const size_t count = PresentedCount(), own = OwnFunctionsStart();
        size_t pick = count;
        for (size_t i = 0; i < count; ++i)
            if (PresentedFunc(i).f->memid == memid) {
                if (pick == count) pick = i;
                if (i >= own) {
                    pick = i;
                    break;
                }
            }
        if (pick < count) {
            *f = PresentedFunc(pick);
            return true;
        }
        for (const VarData& var : d->vars)
            if (var.memid == memid) {
                *v = &var;
                return true;
            }
        return false;
    }
    const MemberIndex& ix = Ids();
    if (auto it = ix.funcsById.Find(IdKey(memid)); !it.empty()) {
        // A dispatch view lists inherited functions first; its own ones are
        // searched before them, as a derived type searches itself before its base.
        const int own = static_cast<int>(OwnFunctionsStart());
        int pick = it.front();
        for (int i : it)
            if (i >= own) {
                pick = i;
                break;
            }
        *f = Func(static_cast<size_t>(pick));
        return true;
    }
    if (auto it = ix.varsById.Find(IdKey(memid)); !it.empty()) {
        *v = &d->vars[it.front()];
        return true;
    }
    return false;
}

ComPtr<ITypeInfo> TypeReader::BaseInterface() {
    const TypeData* d = Data();
    if (!d || d->kind != TKIND_INTERFACE || d->implTypes.empty()) return {};
    ComPtr<ITypeInfo> base;
    if (FAILED(lib_->ResolveRef(d->implTypes[0].href, base.put()))) return {};
    return base;
}

HRESULT TypeReader::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    *ppTypeAttr = nullptr;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    *ppTypeAttr = MakeTypeAttr(*d, lib_->Attr().lcid, FuncCount());
    return S_OK;
}

HRESULT TypeReader::GetTypeComp(ITypeComp** ppTComp) {
    if (!ppTComp) return E_INVALIDARG;
    *ppTComp = nullptr;
    if (Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    *ppTComp = static_cast<ITypeComp*>(this);
    AddRef();
    return S_OK;
}

HRESULT TypeReader::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    const FuncView f = FuncAtIndex(index);
    if (!f.f) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = MakeFuncDesc(f);
    return S_OK;
}

HRESULT TypeReader::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
    if (!ppVarDesc) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    const VarData* v = VarAt(Data(), index);
    if (!v) return TYPE_E_ELEMENTNOTFOUND;
    *ppVarDesc = MakeVarDesc(*v);
    return S_OK;
}

HRESULT TypeReader::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!rgBstrNames || !pcNames) return E_INVALIDARG;
    *pcNames = 0;
    if (!Data()) return TYPE_E_ELEMENTNOTFOUND;
    FuncView f;
    const VarData* v;
    if (FindMember(memid, &f, &v)) {
        UINT n = 0;
        // An unnamed parameter before a named one reads as a null name.
        auto put = [&](const std::u16string& name) {
            if (n < cMaxNames) rgBstrNames[n++] = MakeBstr(name, true);
        };
        // A member without a name has no names, not even its parameters'.
        if (v) {
            if (!v->name.empty()) put(v->name);
        } else if (!f.f->name.empty()) {
            // The member, then the parameters up to the last named one.
            put(f.f->name);
            const size_t count = f.ParamCount();
            size_t last = 0;
            for (size_t i = 0; i < count; ++i)
                if (!f.f->params[i].name.empty()) last = i + 1;
            for (size_t i = 0; i < last; ++i) put(f.f->params[i].name);
        }
        *pcNames = n;
        return S_OK;
    }
    RecursionGuard guard;
    if (!guard.TooDeep())
        if (ComPtr<ITypeInfo> base = BaseInterface()) return base->GetNames(memid, rgBstrNames, cMaxNames, pcNames);
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType) return E_INVALIDARG;
    if (index == static_cast<UINT>(-1)) {
        // The other half of a dual, either way, or the interface a
        // dispinterface is declared over. Answered without building the
        // view's members.
        TypeInfoImpl* owner = Owner();
        if (owner->IsDualActive()) {
            *pRefType = HREFTYPE_DUAL_PARTNER;
            return S_OK;
        }
        if (!IsDispatchView() || !owner->DispatchesInterface()) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = owner->Raw().implTypes[1].href;
        return S_OK;
    }
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    if (index >= d->implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = d->implTypes[index].href;
    return S_OK;
}

HRESULT TypeReader::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    if (index >= d->implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = d->implTypes[index].flags;
    return S_OK;
}

HRESULT TypeReader::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
    if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        if (!rgszNames[i]) return E_INVALIDARG;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
    const std::u16string_view name = rgszNames[0];
    const MemberIndex& ix = Names();
    if (!name.empty()) {
        const uint64_t key = NameKey(name);
        // Index of the parameter of f named like rgszNames[k], or -1.
        auto paramOf = [&](const FuncView& f, UINT k) -> MEMBERID {
            const size_t count = f.ParamCount();
            for (size_t p = 0; p < count; ++p)
                if (!f.f->params[p].name.empty() && SameName(f.f->params[p].name, rgszNames[k]))
                    return static_cast<MEMBERID>(p);
            return DISPID_UNKNOWN;
        };
        // Among functions sharing the name (property accessors), the first
        // whose parameters carry every further name.
        FuncView best;
        UINT bestFound = 0;
        for (int fi : ix.funcsByName.Find(key)) {
            const FuncView f = Func(static_cast<size_t>(fi));
            if (!SameName(f.f->name, name)) continue;
            UINT found = 0;
            for (UINT k = 1; k < cNames; ++k) found += paramOf(f, k) != DISPID_UNKNOWN ? 1 : 0;
            if (!best.f || found > bestFound) {
                best = f;
                bestFound = found;
            }
            if (bestFound == cNames - 1) break;
        }
        if (best.f) {
            pMemId[0] = best.f->memid;
            for (UINT k = 1; k < cNames; ++k) pMemId[k] = paramOf(best, k);
            return bestFound == cNames - 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
        for (int vi : ix.varsByName.Find(key)) {
            if (!SameName(d->vars[static_cast<size_t>(vi)].name, name)) continue;
            pMemId[0] = d->vars[static_cast<size_t>(vi)].memid;
            return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    RecursionGuard guard;
    if (!guard.TooDeep())
        if (ComPtr<ITypeInfo> base = BaseInterface()) return base->GetIDsOfNames(rgszNames, cNames, pMemId);
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeReader::Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) { return E_NOTIMPL; }

HRESULT TypeReader::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) {
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    const std::u16string& helpFile = lib_->Attr().helpFile;
    // A member without a name reports a null name.
    auto put = [&](const std::u16string& name, const std::u16string& doc, DWORD ctx) {
        PutBstr(pBstrName, name, true);
        PutBstr(pBstrDocString, doc, true);
        if (pdwHelpContext) *pdwHelpContext = ctx;
        PutBstr(pBstrHelpFile, helpFile, true);
        return S_OK;
    };
    if (memid == MEMBERID_NIL) return put(d->name, d->docString, d->helpContext);
    FuncView f;
    const VarData* v;
    if (FindMember(memid, &f, &v))
        return f.f ? put(f.f->name, f.f->docString, f.f->helpContext) : put(v->name, v->docString, v->helpContext);
    RecursionGuard guard;
    if (!guard.TooDeep())
        if (ComPtr<ITypeInfo> base = BaseInterface())
            return base->GetDocumentation(memid, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetDocumentation2(MEMBERID memid, LCID, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                      BSTR* pbstrHelpStringDll) {
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    const std::u16string& dll = lib_->Attr().helpStringDll;
    auto put = [&](const std::u16string& doc, DWORD ctx) {
        PutBstr(pbstrHelpString, doc, true);
        if (pdwHelpStringContext) *pdwHelpStringContext = ctx;
        PutBstr(pbstrHelpStringDll, dll, true);
        return S_OK;
    };
    if (memid == MEMBERID_NIL) return put(d->docString, d->helpStringContext);
    // A dispinterface declared over an interface declares no members itself;
    // the platform has no second-level help for the functions it presents.
    if (IsDispatchView() && !Owner()->IsDualActive()) return TYPE_E_ELEMENTNOTFOUND;
    FuncView f;
    const VarData* v;
    if (FindMember(memid, &f, &v))
        return f.f ? put(f.f->docString, f.f->helpStringContext) : put(v->docString, v->helpStringContext);
    RecursionGuard guard;
    if (!guard.TooDeep())
        if (ComPtr<ITypeInfo> base = BaseInterface()) {
            ComPtr<ITypeInfo2> base2 = base.As<ITypeInfo2>();
            if (base2)
                return base2->GetDocumentation2(memid, 0, pbstrHelpString, pdwHelpStringContext, pbstrHelpStringDll);
        }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                WORD* pwOrdinal) {
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    if (pBstrDllName) *pBstrDllName = nullptr;
    if (pBstrName) *pBstrName = nullptr;
    if (pwOrdinal) *pwOrdinal = 0;
    if (d->kind != TKIND_MODULE) return TYPE_E_BADMODULEKIND;
    UINT index = 0;
    HRESULT hr = GetFuncIndexOfMemId(memid, invKind, &index);
    if (FAILED(hr)) return hr;
    const FuncData& f = *Func(index).f;
    PutBstr(pBstrDllName, f.DllName(), true);
    if (const auto* name = std::get_if<std::u16string>(&f.Entry())) {
        PutBstr(pBstrName, *name, true);
    } else if (pwOrdinal) {
        *pwOrdinal = std::get<WORD>(f.Entry());
    }
    return S_OK;
}

HRESULT TypeReader::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    if (hRefType == HREFTYPE_DUAL_PARTNER) {
        // The other half of a dual.
        TypeInfoImpl* owner = Owner();
        if (!owner->IsDualActive()) return TYPE_E_ELEMENTNOTFOUND;
        TypeReader* other = IsDispatchView() ? static_cast<TypeReader*>(owner) : owner->View();
        *ppTInfo = static_cast<ITypeInfo*>(other);
        other->AddRef();
        return S_OK;
    }
    return lib_->ResolveRef(hRefType, ppTInfo);
}

HRESULT TypeReader::AddressOfMember(MEMBERID, INVOKEKIND, void** ppv) {
    if (ppv) *ppv = nullptr;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    return d->kind == TKIND_MODULE ? TYPE_E_DLLFUNCTIONNOTFOUND : TYPE_E_BADMODULEKIND;
}

HRESULT TypeReader::CreateInstance(IUnknown*, REFIID, void** ppvObj) {
    if (ppvObj) *ppvObj = nullptr;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    return d->kind == TKIND_COCLASS ? E_NOTIMPL : TYPE_E_WRONGTYPEKIND;
}

HRESULT TypeReader::GetMops(MEMBERID, BSTR* pBstrMops) {
    if (!pBstrMops) return E_INVALIDARG;
    *pBstrMops = nullptr;
    return Owner()->IsDeleted() ? TYPE_E_ELEMENTNOTFOUND : S_OK;
}

HRESULT TypeReader::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) *ppTLib = nullptr;
    if (Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    if (ppTLib) {
        *ppTLib = static_cast<ITypeLib2*>(lib_);
        lib_->AddRef();
    }
    if (pIndex) *pIndex = Owner()->IndexInLibrary();
    return S_OK;
}

void TypeReader::ReleaseTypeAttr(TYPEATTR* p) { FreeTypeAttr(p); }
void TypeReader::ReleaseFuncDesc(FUNCDESC* p) { FreeFuncDesc(p); }
void TypeReader::ReleaseVarDesc(VARDESC* p) { FreeVarDesc(p); }

// Kind and flags are answered without building a dispatch view's members.
HRESULT TypeReader::GetTypeKind(TYPEKIND* pTypeKind) {
    if (!pTypeKind) return E_INVALIDARG;
    TypeInfoImpl* owner = Owner();
    if (owner->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    *pTypeKind = IsDispatchView() ? TKIND_DISPATCH : owner->Raw().kind;
    return S_OK;
}

HRESULT TypeReader::GetTypeFlags(ULONG* pTypeFlags) {
    if (!pTypeFlags) return E_INVALIDARG;
    TypeInfoImpl* owner = Owner();
    if (owner->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    WORD flags = owner->Raw().flags;
    *pTypeFlags = IsDispatchView() && owner->IsDualActive() ? DispatchViewFlags(flags) : flags;
    return S_OK;
}

HRESULT TypeReader::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) {
    if (!pFuncIndex) return E_INVALIDARG;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    if (ScanById()) {
        for (size_t i = 0; i < PresentedCount(); ++i) {
            const FuncData& f = *PresentedFunc(i).f;
            if (f.memid == memid && f.invkind == invKind) {
                *pFuncIndex = static_cast<UINT>(i);
                return S_OK;
            }
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    const MemberIndex& ix = Ids();
    if (auto it = ix.funcsById.Find(IdKey(memid)); !it.empty()) {
        for (int i : it) {
            if (Func(static_cast<size_t>(i)).f->invkind == invKind) {
                *pFuncIndex = static_cast<UINT>(i);
                return S_OK;
            }
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) {
    if (!pVarIndex) return E_INVALIDARG;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    if (ScanById()) {
        for (size_t i = 0; i < d->vars.size(); ++i)
            if (d->vars[i].memid == memid) {
                *pVarIndex = static_cast<UINT>(i);
                return S_OK;
            }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    const MemberIndex& ix = Ids();
    if (auto it = ix.varsById.Find(IdKey(memid)); !it.empty()) {
        *pVarIndex = static_cast<UINT>(it.front());
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetCustData(REFGUID guid, VARIANT* pVarVal) {
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(d->custData, guid, pVarVal);
}

HRESULT TypeReader::GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    const FuncView f = FuncAtIndex(index);
    if (!f.f) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(f.f->custData, guid, pVarVal);
}

HRESULT TypeReader::GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) {
    const FuncView f = FuncAtIndex(indexFunc);
    if (!f.f || indexParam >= f.ParamCount()) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(f.f->params[indexParam].custData, guid, pVarVal);
}

HRESULT TypeReader::GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    const VarData* v = VarAt(Data(), index);
    if (!v) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(v->custData, guid, pVarVal);
}

HRESULT TypeReader::GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    const TypeData* d = Data();
    if (!d || index >= d->implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(d->implTypes[index].custData, guid, pVarVal);
}

HRESULT TypeReader::GetAllCustData(CUSTDATA* pCustData) {
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(d->custData, pCustData);
}

HRESULT TypeReader::GetAllFuncCustData(UINT index, CUSTDATA* pCustData) {
    const FuncView f = FuncAtIndex(index);
    if (!f.f) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(f.f->custData, pCustData);
}

HRESULT TypeReader::GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) {
    const FuncView f = FuncAtIndex(indexFunc);
    if (!f.f || indexParam >= f.ParamCount()) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(f.f->params[indexParam].custData, pCustData);
}

HRESULT TypeReader::GetAllVarCustData(UINT index, CUSTDATA* pCustData) {
    const VarData* v = VarAt(Data(), index);
    if (!v) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(v->custData, pCustData);
}

HRESULT TypeReader::GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) {
    const TypeData* d = Data();
    if (!d || index >= d->implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(d->implTypes[index].custData, pCustData);
}

HRESULT TypeReader::Bind(LPOLESTR szName, ULONG lHashVal, WORD wFlags, ITypeInfo** ppTInfo, DESCKIND* pDescKind,
                         BINDPTR* pBindPtr) {
    if (!szName || !ppTInfo || !pDescKind || !pBindPtr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    *pDescKind = DESCKIND_NONE;
    pBindPtr->lpfuncdesc = nullptr;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    const std::u16string_view name = szName;
    const uint64_t key = NameKey(name);
    const MemberIndex& ix = Names();
    bool otherKind = false;  // a function has the name but not an invoke kind asked for
    for (int i : ix.funcsByName.Find(key)) {
        const FuncView f = Func(static_cast<size_t>(i));
        if (!SameName(f.f->name, name)) continue;
        if (wFlags != 0 && !(static_cast<WORD>(f.f->invkind) & wFlags)) {
            otherKind = true;
            continue;
        }
        *pDescKind = DESCKIND_FUNCDESC;
        pBindPtr->lpfuncdesc = MakeFuncDesc(f);
        *ppTInfo = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    for (int i : ix.varsByName.Find(key)) {
        const VarData& v = d->vars[static_cast<size_t>(i)];
        if (!SameName(v.name, name)) continue;
        *pDescKind = DESCKIND_VARDESC;
        pBindPtr->lpvardesc = MakeVarDesc(v);
        *ppTInfo = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    // The name is this type's, bound with the wrong invoke kind.
    if (otherKind) return TYPE_E_TYPEMISMATCH;
    RecursionGuard guard;
    if (!guard.TooDeep())
        if (ComPtr<ITypeInfo> base = BaseInterface()) {
            ComPtr<ITypeComp> comp;
            if (SUCCEEDED(base->GetTypeComp(comp.put())) && comp)
                return comp->Bind(szName, lHashVal, wFlags, ppTInfo, pDescKind, pBindPtr);
        }
    return S_OK;
}

HRESULT TypeReader::BindType(LPOLESTR szName, ULONG, ITypeInfo** ppTInfo, ITypeComp** ppTComp) {
    if (!szName || !ppTInfo || !ppTComp) return E_INVALIDARG;
    *ppTInfo = nullptr;
    *ppTComp = nullptr;
    return S_OK;
}

// ---- DispatchView ----

HRESULT DispatchView::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::kIID || riid == ITypeInfo::kIID || riid == ITypeInfo2::kIID)
        *ppv = static_cast<ITypeInfo2*>(this);
    else if (riid == ITypeComp::kIID)
        *ppv = static_cast<ITypeComp*>(this);
    else if (riid == ICreateTypeInfo::kIID || riid == ICreateTypeInfo2::kIID || riid == ICreateTypeInfoRoom::kIID ||
             riid == ICreateTypeInfoValueName::kIID ||
             riid == ICreateTypeInfoSharedName::kIID || riid == ICreateTypeInfoAlignment::kIID)
        return owner_->QueryInterface(riid, ppv);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

const TypeData* DispatchView::Data() {
    if (owner_->IsDeleted()) return nullptr;
    Refresh();
    return &synth_;
}

size_t DispatchView::OwnFunctionsStart() {
    Refresh();
    return inherited_;
}

void DispatchView::Refresh() {
    const uint64_t now = lib_->EditCount();
    if (stamp_.load(std::memory_order_acquire) != now) Rebuild(now);
}

GUID LinkGuid(ChainLink& link) {
    if (link.reader) {
        const TypeData* d = link.reader->Data();
        return d ? d->guid : GUID_NULL;
    }
    TYPEATTR* ta = nullptr;
    GUID g = GUID_NULL;
    if (SUCCEEDED(link.ti->GetTypeAttr(&ta)) && ta) {
        g = ta->guid;
        link.ti->ReleaseTypeAttr(ta);
    }
    return g;
}

bool IsRootInterface(ChainLink& link) {
    const GUID g = LinkGuid(link);
    return g == kIID_IDispatch || g == kIID_IUnknown;
}

// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// is stored with IDispatch and I as implemented types and no functions; it is
// presented like the dispatch view of a dual: IDispatch as its one implemented
// type and the functions of I's whole chain.
//
// The view holds no copies of functions: it points at the interface's own
// functions and at those of its bases in this library, and shares one
// imported copy of each foreign base's functions with the other views. Any
// change to the library rebuilds it on next use.
//
// The view is built without the library's lock (building follows references
// into other libraries) and published under it. Readers of a shared library
// racing to build it all build the same view; the first one publishes it and
// the others drop theirs, so a published view is never replaced while the
// library stays unchanged.
void DispatchView::Rebuild(uint64_t stamp) {
    owner_->FixFunctionIds();
    const TypeData& o = owner_->Raw();
    const int ptr = lib_->PtrSize();
    const bool dual = o.kind == TKIND_INTERFACE;
    TypeData v;
    v.name = o.name;
    v.kind = TKIND_DISPATCH;
    v.guid = o.guid;
    v.flags = dual ? DispatchViewFlags(o.flags) : o.flags;
    v.majorVersion = o.majorVersion;
    v.minorVersion = o.minorVersion;
    v.lcid = o.lcid;
    v.docString = o.docString;
    v.helpContext = o.helpContext;
    v.helpStringContext = o.helpStringContext;
    v.schema = o.schema;
    v.alignmentSetting = o.alignmentSetting;
    v.cbAlignment = o.cbAlignment;
    v.cbSizeInstance = static_cast<ULONG>(ptr);
    v.cbSizeVft = static_cast<WORD>(7 * ptr);
    v.idlFlags = o.idlFlags;
    v.custData = o.custData;

    // The inherited functions: those of a dual's bases, or those of the
    // dispatched interface and its bases.
    std::vector<ChainLink> chain;
    const size_t first = dual ? 0 : 1;
    if (o.implTypes.size() > first) {
        ComPtr<ITypeInfo> base;
        if (SUCCEEDED(lib_->ResolveRef(o.implTypes[first].href, base.put())) && base)
            if (FAILED(WalkBases(base.get(), owner_, chain))) chain.clear();
    }
    ComPtr<ITypeInfo> dispatch;
    for (ChainLink& link : chain)
        if (LinkGuid(link) == kIID_IDispatch) dispatch = link.ti;
    if (!dispatch) (void)lib_->StdDispatch(dispatch.put());
    if (dispatch) {
        ImplTypeData impl;
        if (SUCCEEDED(lib_->InternRef(dispatch.get(), &impl.href))) v.implTypes.push_back(std::move(impl));
    }
    std::vector<FuncView> funcs;
    std::vector<std::shared_ptr<const std::vector<FuncData>>> imported;
    for (size_t k = chain.size(); k-- > 0;) {
        ChainLink& link = chain[k];
        const WORD restricted = IsRootInterface(link) ? FUNCFLAG_FRESTRICTED : 0;
        const std::vector<FuncData>* source = nullptr;
        if (link.reader && link.reader->Library() == lib_) {
            link.reader->Owner()->FixFunctionIds();
            const TypeData* d = link.reader->Data();
            if (!d) continue;
            source = &d->funcs;
        } else {
            std::shared_ptr<const std::vector<FuncData>> shared;
            if (FAILED(lib_->ImportedFunctions(link, &shared)) || !shared) continue;
            source = shared.get();
            imported.push_back(std::move(shared));
        }
        for (const FuncData& f : *source) funcs.push_back(FuncView{&f, true, restricted});
    }
    const size_t inherited = funcs.size();
    for (const FuncData& f : o.funcs) funcs.push_back(FuncView{&f, true, 0});
    std::lock_guard lock(lib_->LazyMutex());
    if (stamp_.load(std::memory_order_relaxed) == stamp) return;
    // What the view held before is released after the lock.
    std::swap(synth_, v);
    std::swap(funcs_, funcs);
    std::swap(imported_, imported);
    inherited_ = inherited;
    InvalidateIndex();
    stamp_.store(stamp, std::memory_order_release);
}

// ---- TypeInfoImpl: identity ----

TypeInfoImpl::TypeInfoImpl(LibraryImpl* lib, std::unique_ptr<TypeData> data)
    : TypeReader(lib), data_(data.get()), owned_(std::move(data)) {}

TypeInfoImpl::TypeInfoImpl(LibraryImpl* lib, const TypeData* data) : TypeReader(lib), data_(data), laidOut_(true) {}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::kIID || riid == ITypeInfo::kIID || riid == ITypeInfo2::kIID)
        *ppv = static_cast<ITypeInfo2*>(this);
    else if (riid == ITypeComp::kIID)
        *ppv = static_cast<ITypeComp*>(this);
    else if (!lib_->ReadOnly() && (riid == ICreateTypeInfo::kIID || riid == ICreateTypeInfo2::kIID))
        *ppv = static_cast<ICreateTypeInfo2*>(this);
    else if (!lib_->ReadOnly() && riid == ICreateTypeInfoRoom::kIID)
        *ppv = static_cast<ICreateTypeInfoRoom*>(this);
    else if (!lib_->ReadOnly() && riid == ICreateTypeInfoValueName::kIID)
        *ppv = static_cast<ICreateTypeInfoValueName*>(this);
    else if (!lib_->ReadOnly() && riid == ICreateTypeInfoSharedName::kIID)
        *ppv = static_cast<ICreateTypeInfoSharedName*>(this);
    else if (!lib_->ReadOnly() && riid == ICreateTypeInfoAlignment::kIID)
        *ppv = static_cast<ICreateTypeInfoAlignment*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

void TypeInfoImpl::MarkDeleted() {
    deleted_ = true;
    idsPending_.store(false, std::memory_order_relaxed);
    InvalidateIndex();
    if (owned_) {
        TypeData shell;
        shell.name = std::move(owned_->name);
        shell.kind = owned_->kind;
        *owned_ = std::move(shell);
    }
}

// A dual has its two halves from the moment it is flagged, before any LayOut.
bool TypeInfoImpl::IsDualActive() const {
    return !deleted_ && data_->kind == TKIND_INTERFACE && (data_->flags & TYPEFLAG_FDUAL);
}

bool TypeInfoImpl::DispatchesInterface() const {
    return !deleted_ && laidOut_ && data_->kind == TKIND_DISPATCH && data_->implTypes.size() > 1;
}

DispatchView* TypeInfoImpl::View() {
    if (DispatchView* v = view_.load(std::memory_order_acquire)) return v;
    std::lock_guard lock(lib_->LazyMutex());
    if (!viewOwner_) {
        viewOwner_ = std::make_unique<DispatchView>(lib_, this);
        view_.store(viewOwner_.get(), std::memory_order_release);
    }
    return viewOwner_.get();
}

TypeReader* TypeInfoImpl::LibraryItem() {
    if (IsDualActive() || DispatchesInterface()) return View();
    return this;
}

}  // namespace ole::engine

// The reading side of types (ITypeInfo2, ITypeComp), shared by created types,
// loaded types and the dispatch views of dual interfaces.
#include <algorithm>

#include "platform/oleauto/TypeLibEngine.h"

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

// Names of a function: the member, then the parameters up to the last named one.
std::vector<const std::u16string*> FuncNames(const FuncData& f) {
    std::vector<const std::u16string*> names{&f.name};
    size_t last = 0;
    for (size_t i = 0; i < f.params.size(); ++i)
        if (!f.params[i].name.empty()) last = i + 1;
    for (size_t i = 0; i < last; ++i) names.push_back(&f.params[i].name);
    return names;
}

const FuncData* FuncAt(const TypeData* d, UINT index) {
    return d && index < d->funcs.size() ? &d->funcs[index] : nullptr;
}
const VarData* VarAt(const TypeData* d, UINT index) {
    return d && index < d->vars.size() ? &d->vars[index] : nullptr;
}

}  // namespace

// ---- TypeReader ----

WORD DispatchViewFlags(WORD interfaceFlags) {
    return static_cast<WORD>((interfaceFlags | TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE) & ~TYPEFLAG_FOLEAUTOMATION);
}

ULONG TypeReader::AddRef() { return lib_->AddRef(); }
ULONG TypeReader::Release() { return lib_->Release(); }

const MemberIndex& TypeReader::Ids() {
    const TypeData* d = Data();
    if (!index_.idsValid && d) index_.BuildIds(*d);
    return index_;
}

const MemberIndex& TypeReader::Names() {
    const TypeData* d = Data();
    if (!index_.namesValid && d) index_.BuildNames(*d);
    return index_;
}

bool TypeReader::FindMember(MEMBERID memid, const FuncData** f, const VarData** v) {
    *f = nullptr;
    *v = nullptr;
    const TypeData* d = Data();
    if (!d) return false;
    const MemberIndex& ix = Ids();
    if (auto it = ix.funcsById.Find(memid); !it.empty()) {
        // A dispatch view lists inherited functions first; its own ones are
        // searched before them, as a derived type searches itself before its base.
        const int own = static_cast<int>(OwnFunctionsStart());
        int pick = it.front();
        for (int i : it)
            if (i >= own) {
                pick = i;
                break;
            }
        *f = &d->funcs[static_cast<size_t>(pick)];
        return true;
    }
    if (auto it = ix.varsById.Find(memid); !it.empty()) {
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
    *ppTypeAttr = MakeTypeAttr(*d, lib_->Attr().lcid);
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
    const FuncData* f = FuncAt(Data(), index);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = MakeFuncDesc(*f);
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
    const FuncData* f;
    const VarData* v;
    if (FindMember(memid, &f, &v)) {
        std::vector<const std::u16string*> names = f ? FuncNames(*f) : std::vector<const std::u16string*>{&v->name};
        UINT n = std::min<UINT>(cMaxNames, static_cast<UINT>(names.size()));
        for (UINT i = 0; i < n; ++i) rgBstrNames[i] = MakeBstr(*names[i]);
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
        // Answered without building the dispatch view's members.
        if (!IsDispatchView() || Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = HREFTYPE_DUAL_PARTNER;
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
    std::u16string key = FoldName(rgszNames[0]);
    const MemberIndex& ix = Names();
    if (!key.empty()) {
        if (auto it = ix.funcsByName.Find(key); !it.empty()) {
            // Among functions sharing the name (property accessors), the first
            // whose parameters carry every further name.
            const FuncData* best = nullptr;
            std::vector<MEMBERID> bestIds;
            size_t bestFound = 0;
            for (int fi : it) {
                const FuncData& f = d->funcs[fi];
                std::vector<MEMBERID> ids(cNames, DISPID_UNKNOWN);
                ids[0] = f.memid;
                size_t found = 0;
                for (UINT k = 1; k < cNames; ++k) {
                    std::u16string pk = FoldName(rgszNames[k]);
                    for (size_t p = 0; p < f.params.size(); ++p) {
                        if (!f.params[p].name.empty() && FoldName(f.params[p].name) == pk) {
                            ids[k] = static_cast<MEMBERID>(p);
                            ++found;
                            break;
                        }
                    }
                }
                if (!best || found > bestFound) {
                    best = &f;
                    bestIds = std::move(ids);
                    bestFound = found;
                }
                if (bestFound == cNames - 1) break;
            }
            std::copy(bestIds.begin(), bestIds.end(), pMemId);
            return bestFound == cNames - 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
        if (auto it = ix.varsByName.Find(key); !it.empty()) {
            pMemId[0] = d->vars[it.front()].memid;
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
    auto put = [&](const std::u16string& name, const std::u16string& doc, DWORD ctx) {
        PutBstr(pBstrName, name);
        PutBstr(pBstrDocString, doc, true);
        if (pdwHelpContext) *pdwHelpContext = ctx;
        PutBstr(pBstrHelpFile, helpFile, true);
        return S_OK;
    };
    if (memid == MEMBERID_NIL) return put(d->name, d->docString, d->helpContext);
    const FuncData* f;
    const VarData* v;
    if (FindMember(memid, &f, &v))
        return f ? put(f->name, f->docString, f->helpContext) : put(v->name, v->docString, v->helpContext);
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
    const FuncData* f;
    const VarData* v;
    if (FindMember(memid, &f, &v)) return f ? put(f->docString, f->helpStringContext) : put(v->docString, v->helpStringContext);
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
    const FuncData& f = d->funcs[index];
    PutBstr(pBstrDllName, f.dllName, true);
    if (const auto* name = std::get_if<std::u16string>(&f.entry)) {
        PutBstr(pBstrName, *name, true);
    } else if (pwOrdinal) {
        *pwOrdinal = std::get<WORD>(f.entry);
    }
    return S_OK;
}

HRESULT TypeReader::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
    if (hRefType == HREFTYPE_DUAL_PARTNER) {
        if (!IsDispatchView()) return TYPE_E_ELEMENTNOTFOUND;
        TypeInfoImpl* half = Owner();
        *ppTInfo = static_cast<ITypeInfo*>(static_cast<TypeReader*>(half));
        half->AddRef();
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
    *pTypeFlags = IsDispatchView() ? DispatchViewFlags(flags) : flags;
    return S_OK;
}

HRESULT TypeReader::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) {
    if (!pFuncIndex) return E_INVALIDARG;
    const TypeData* d = Data();
    if (!d) return TYPE_E_ELEMENTNOTFOUND;
    const MemberIndex& ix = Ids();
    if (auto it = ix.funcsById.Find(memid); !it.empty()) {
        for (int i : it) {
            if (d->funcs[i].invkind == invKind) {
                *pFuncIndex = static_cast<UINT>(i);
                return S_OK;
            }
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeReader::GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) {
    if (!pVarIndex) return E_INVALIDARG;
    if (!Data()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberIndex& ix = Ids();
    if (auto it = ix.varsById.Find(memid); !it.empty()) {
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
    const FuncData* f = FuncAt(Data(), index);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(f->custData, guid, pVarVal);
}

HRESULT TypeReader::GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) {
    const FuncData* f = FuncAt(Data(), indexFunc);
    if (!f || indexParam >= f->params.size()) return TYPE_E_ELEMENTNOTFOUND;
    return GetCustItem(f->params[indexParam].custData, guid, pVarVal);
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
    const FuncData* f = FuncAt(Data(), index);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(f->custData, pCustData);
}

HRESULT TypeReader::GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) {
    const FuncData* f = FuncAt(Data(), indexFunc);
    if (!f || indexParam >= f->params.size()) return TYPE_E_ELEMENTNOTFOUND;
    return FillCustData(f->params[indexParam].custData, pCustData);
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
    std::u16string key = FoldName(szName);
    const MemberIndex& ix = Names();
    if (auto it = ix.funcsByName.Find(key); !it.empty()) {
        for (int i : it) {
            const FuncData& f = d->funcs[i];
            if (wFlags != 0 && !(static_cast<WORD>(f.invkind) & wFlags)) continue;
            *pDescKind = DESCKIND_FUNCDESC;
            pBindPtr->lpfuncdesc = MakeFuncDesc(f);
            *ppTInfo = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
    }
    if (auto it = ix.varsByName.Find(key); !it.empty()) {
        *pDescKind = DESCKIND_VARDESC;
        pBindPtr->lpvardesc = MakeVarDesc(d->vars[it.front()]);
        *ppTInfo = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
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
    if (!szName || !ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (ppTComp) *ppTComp = nullptr;
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
    else if (riid == ICreateTypeInfo::kIID || riid == ICreateTypeInfo2::kIID)
        return owner_->QueryInterface(riid, ppv);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

const TypeData* DispatchView::Data() {
    if (owner_->IsDeleted()) return nullptr;
    if (stamp_ != lib_->EditCount()) Rebuild();
    return &synth_;
}

namespace {

// The dispatch form of a function: FUNC_DISPATCH; a trailing [retval]
// parameter becomes the result (else an HRESULT result becomes VOID); a
// trailing [lcid] parameter is dropped.
void ToDispatchForm(FuncData& f) {
    f.funckind = FUNC_DISPATCH;
    if (!f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL)) {
        TypeDescData t = std::move(f.params.back().type);
        f.params.pop_back();
        if (t.vt == VT_PTR && !t.element.empty()) {
            TypeDescData inner = std::move(t.element[0]);
            t = std::move(inner);
        }
        f.returnType = std::move(t);
    } else if (f.returnType.vt == VT_HRESULT) {
        f.returnType = TypeDescData{};
        f.returnType.vt = VT_VOID;
    }
    if (!f.params.empty() && (f.params.back().flags & PARAMFLAG_FLCID)) f.params.pop_back();
    if (f.cParamsOpt > static_cast<SHORT>(f.params.size())) f.cParamsOpt = static_cast<SHORT>(f.params.size());
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

}  // namespace

void DispatchView::Rebuild() {
    const TypeData& o = owner_->Raw();
    const int ptr = lib_->PtrSize();
    TypeData v;
    v.name = o.name;
    v.kind = TKIND_DISPATCH;
    v.guid = o.guid;
    v.flags = DispatchViewFlags(o.flags);
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

    std::vector<ChainLink> chain;
    if (!o.implTypes.empty()) {
        ComPtr<ITypeInfo> base;
        if (SUCCEEDED(lib_->ResolveRef(o.implTypes[0].href, base.put())) && base)
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
    for (size_t k = chain.size(); k-- > 0;) {
        ChainLink& link = chain[k];
        GUID g = LinkGuid(link);
        bool restricted = g == kIID_IDispatch || g == kIID_IUnknown;
        UINT count = 0;
        if (FAILED(ImportFuncCount(link, &count))) continue;
        for (UINT i = 0; i < count; ++i) {
            FuncData f;
            if (FAILED(ImportFunc(link, i, *lib_, f))) continue;
            if (restricted) f.flags |= FUNCFLAG_FRESTRICTED;
            v.funcs.push_back(std::move(f));
        }
    }
    inherited_ = v.funcs.size();
    for (const FuncData& f : o.funcs) v.funcs.push_back(f);
    for (FuncData& f : v.funcs) ToDispatchForm(f);
    synth_ = std::move(v);
    InvalidateIndex();
    stamp_ = lib_->EditCount();
}

// ---- TypeInfoImpl: identity ----

TypeInfoImpl::TypeInfoImpl(LibraryImpl* lib, std::unique_ptr<TypeData> data)
    : TypeReader(lib), data_(data.get()), owned_(std::move(data)) {}

TypeInfoImpl::TypeInfoImpl(LibraryImpl* lib, const TypeData* data)
    // Loaded data is never written: every creation method checks ReadOnly() first.
    : TypeReader(lib), data_(const_cast<TypeData*>(data)), laidOut_(true) {}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::kIID || riid == ITypeInfo::kIID || riid == ITypeInfo2::kIID)
        *ppv = static_cast<ITypeInfo2*>(this);
    else if (riid == ITypeComp::kIID)
        *ppv = static_cast<ITypeComp*>(this);
    else if (!lib_->ReadOnly() && (riid == ICreateTypeInfo::kIID || riid == ICreateTypeInfo2::kIID))
        *ppv = static_cast<ICreateTypeInfo2*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

void TypeInfoImpl::MarkDeleted() {
    deleted_ = true;
    InvalidateIndex();
    if (owned_) {
        TypeData shell;
        shell.name = std::move(owned_->name);
        shell.kind = owned_->kind;
        *owned_ = std::move(shell);
    }
}

bool TypeInfoImpl::IsDualActive() const {
    return !deleted_ && laidOut_ && data_->kind == TKIND_INTERFACE && (data_->flags & TYPEFLAG_FDUAL);
}

DispatchView* TypeInfoImpl::View() {
    if (!view_) view_ = std::make_unique<DispatchView>(lib_, this);
    return view_.get();
}

TypeReader* TypeInfoImpl::LibraryItem() {
    if (IsDualActive()) return View();
    return this;
}

}  // namespace ole::engine

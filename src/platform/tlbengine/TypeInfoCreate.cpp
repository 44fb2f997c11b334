// The creation side of types (ICreateTypeInfo2). Every call checks its
// arguments and state first and changes nothing when it fails.
#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "platform/tlbengine/TypeLibEngine.h"

namespace ole::engine {

namespace {

bool IsProperty(INVOKEKIND k) { return k == INVOKE_PROPERTYGET || k == INVOKE_PROPERTYPUT || k == INVOKE_PROPERTYPUTREF; }

bool ValidInvokeKind(INVOKEKIND k) { return k == INVOKE_FUNC || IsProperty(k); }

HRESULT CheckConstValue(TYPEKIND kind, const VARIANT& v) {
    VARTYPE vt = v.vt;
    if (vt & (VT_ARRAY | VT_BYREF | VT_VECTOR)) return DISP_E_BADVARTYPE;
    switch (vt) {
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_PTR:
        case VT_USERDEFINED:
        case VT_VARIANT:
        case VT_SAFEARRAY:
        case VT_CARRAY:
            return DISP_E_BADVARTYPE;
        default:
            break;
    }
    (void)kind;
    return S_OK;
}

// Room for one more member. A member list grows by one while it is short
// and by half after that, rather than doubling: a library holds thousands of
// lists, most stop growing soon after they are made, and a whole library of
// them is built before the first layout gives back what they did not use.
template <class List>
void MakeRoom(List& list) {
    if (list.size() < list.capacity()) return;
    list.reserve(list.size() < 8 ? list.size() + 1 : list.size() + list.size() / 2);
}

}  // namespace

HRESULT TypeInfoImpl::Begin(const char* method, TypeData** data) {
    if (data) *data = nullptr;
    if (lib_->ReadOnly() || !owned_) return E_ACCESSDENIED;
    if (deleted_) return TYPE_E_ELEMENTNOTFOUND;
    if (HRESULT hr = InjectedFailure(method, "ICreateTypeInfo2"); FAILED(hr)) return hr;
    if (data) *data = owned_.get();
    return S_OK;
}

// Every change bumps the library's edit count (dispatch views rebuild from
// it); changes that move members or their ids also drop the lookup tables.
void TypeInfoImpl::Touched() { lib_->Touched(); }

HRESULT TypeInfoImpl::SetGuid(REFGUID guid) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetGuid", &t); FAILED(hr)) return hr;
    // Two types of one library can't share a GUID.
    if (lib_->GuidHolder(guid, this)) return TYPE_E_DUPLICATEID;
    const GUID old = t->guid;
    t->guid = guid;
    lib_->GuidChanged(this, old);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetTypeFlags(UINT uTypeFlags) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetTypeFlags", &t); FAILED(hr)) return hr;
    if (uTypeFlags > 0xFFFF) return E_INVALIDARG;
    // The flags are taken as given, FDISPATCHABLE too (so that a caller can
    // put back flags it read); AddImplType and LayOut set FDISPATCHABLE for
    // an interface on IDispatch, and nothing but this call clears it.
    t->flags = static_cast<WORD>(uTypeFlags);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetDocString(LPCOLESTR pStrDoc) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetDocString", &t); FAILED(hr)) return hr;
    if (!pStrDoc || !TextFits(pStrDoc)) return E_INVALIDARG;
    t->docString = pStrDoc;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetHelpContext(DWORD dwHelpContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetHelpContext", &t); FAILED(hr)) return hr;
    t->helpContext = dwHelpContext;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetHelpStringContext(ULONG dwHelpStringContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetHelpStringContext", &t); FAILED(hr)) return hr;
    t->helpStringContext = dwHelpStringContext;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetVersion", &t); FAILED(hr)) return hr;
    t->majorVersion = wMajorVerNum;
    t->minorVersion = wMinorVerNum;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetAlignment(WORD cbAlignment) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetAlignment", &t); FAILED(hr)) return hr;
    if (cbAlignment > 16 && cbAlignment != 0) return E_INVALIDARG;
    t->alignmentSetting = cbAlignment;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetSchema(LPCOLESTR pStrSchema) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetSchema", &t); FAILED(hr)) return hr;
    if (!pStrSchema) return E_INVALIDARG;
    if (*pStrSchema)
        t->schema = std::u16string(pStrSchema);
    else
        t->schema.reset();
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetMops(UINT, BSTR) {
    if (HRESULT hr = Begin("SetMops"); FAILED(hr)) return hr;
    return S_OK;
}

HRESULT TypeInfoImpl::SetTypeIdldesc(IDLDESC* pIdlDesc) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetTypeIdldesc", &t); FAILED(hr)) return hr;
    if (!pIdlDesc) return E_INVALIDARG;
    t->idlFlags = pIdlDesc->wIDLFlags;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetName(LPCOLESTR szName) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetName", &t); FAILED(hr)) return hr;
    if (!szName || !*szName || !NameFits(szName)) return E_INVALIDARG;
    if (HRESULT hr = lib_->RenameType(this, ViewOf(szName)); FAILED(hr)) return hr;
    t->name = szName;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::Invalidate() {
    if (HRESULT hr = Begin("Invalidate"); FAILED(hr)) return hr;
    return E_NOTIMPL;
}

// ---- References and implemented types ----

HRESULT TypeInfoImpl::AddRefTypeInfo(ITypeInfo* pTInfo, HREFTYPE* phRefType) {
    if (HRESULT hr = Begin("AddRefTypeInfo"); FAILED(hr)) return hr;
    if (!pTInfo || !phRefType) return E_INVALIDARG;
    return lib_->InternRef(pTInfo, phRefType);
}

HRESULT TypeInfoImpl::AddImplType(UINT index, HREFTYPE hRefType) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("AddImplType", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    size_t count = t.implTypes.size();
    switch (t.kind) {
        case TKIND_INTERFACE:
            if (index != 0 || count != 0) return TYPE_E_ELEMENTNOTFOUND;
            break;
        case TKIND_DISPATCH:
            if (index != count || count >= 2) return TYPE_E_ELEMENTNOTFOUND;
            break;
        case TKIND_COCLASS:
            if (index != count) return TYPE_E_ELEMENTNOTFOUND;
            break;
        default:
            return TYPE_E_BADMODULEKIND;
    }
    if (!lib_->HasRef(hRefType)) return TYPE_E_ELEMENTNOTFOUND;
    bool dispatchable = false;
    if (t.kind == TKIND_INTERFACE || (t.kind == TKIND_DISPATCH && index == 0)) {
        ComPtr<ITypeInfo> base;
        if (SUCCEEDED(lib_->ResolveRef(hRefType, base.put())) && base) {
            std::vector<ChainLink> chain;
            if (WalkBases(base.get(), this, chain) == TYPE_E_CIRCULARTYPE) return TYPE_E_CIRCULARTYPE;
            // An interface on IDispatch is dispatchable from now on, even
            // when the base is deleted again.
            if (t.kind == TKIND_INTERFACE)
                for (ChainLink& link : chain) dispatchable |= LinkGuid(link) == kIID_IDispatch;
        }
    }
    ImplTypeData impl;
    impl.href = hRefType;
    t.implTypes.push_back(std::move(impl));
    if (dispatchable) t.flags |= TYPEFLAG_FDISPATCHABLE;
    lib_->BasesTouched();
    RefitToBase(t);
    Touched();
    return S_OK;
}

// The functions added before follow a new base, or the loss of one, at once,
// as they do when added after it: automatic slots after the inherited ones.
void TypeInfoImpl::RefitToBase(TypeData& t) {
    if (t.kind != TKIND_INTERFACE) return;
    const ULONG inherited = InheritedVtableSize(), ptr = static_cast<ULONG>(lib_->PtrSize());
    for (size_t i = 0; i < t.funcs.size(); ++i) {
        const ULONG slot = inherited + ptr * static_cast<ULONG>(i);
        if (t.funcs[i].oVftAuto && slot <= 0xFFFF) t.funcs[i].oVft = static_cast<SHORT>(static_cast<USHORT>(slot));
    }
    FitVtable(t);
}

HRESULT TypeInfoImpl::DeleteImplType(UINT index) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DeleteImplType", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (index >= t.implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    t.implTypes.erase(t.implTypes.begin() + index);
    lib_->BasesTouched();
    RefitToBase(t);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetImplTypeFlags(UINT index, INT implTypeFlags) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("SetImplTypeFlags", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (t.kind != TKIND_COCLASS) return TYPE_E_BADMODULEKIND;
    if (index >= t.implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    t.implTypes[index].flags = implTypeFlags;
    Touched();
    return S_OK;
}

// ---- Functions ----

HRESULT TypeInfoImpl::AddFuncDesc(UINT index, FUNCDESC* fd) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("AddFuncDesc", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (!fd) return E_INVALIDARG;
    if (index > t.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    switch (t.kind) {
        case TKIND_MODULE:
            if (fd->funckind != FUNC_STATIC) return TYPE_E_BADMODULEKIND;
            break;
        case TKIND_INTERFACE:
            if (fd->funckind != FUNC_PUREVIRTUAL) return TYPE_E_BADMODULEKIND;
            break;
        case TKIND_DISPATCH:
            if (fd->funckind != FUNC_DISPATCH) return TYPE_E_BADMODULEKIND;
            break;
        default:
            return TYPE_E_BADMODULEKIND;
    }
    if (!ValidInvokeKind(fd->invkind) || fd->callconv < CC_FASTCALL || fd->callconv >= CC_MAX) return E_INVALIDARG;
    if (fd->cParams < 0 || (fd->cParams > 0 && !fd->lprgelemdescParam)) return E_INVALIDARG;
    if (fd->cParamsOpt < -1) return E_INVALIDARG;
    const int ptr = lib_->PtrSize();
    // oVft is a 16-bit byte offset: the platform accepts any up to 0xFFFC, and
    // reads one past 0x7FFF back as the negative number it is stored as.
    const USHORT oVft = static_cast<USHORT>(fd->oVft);
    if (t.kind != TKIND_MODULE && (oVft % ptr != 0 || oVft % 4 != 0)) return E_INVALIDARG;
    if ((fd->invkind == INVOKE_PROPERTYPUT || fd->invkind == INVOKE_PROPERTYPUTREF) && fd->cParams == 0)
        return TYPE_E_INCONSISTENTPROPFUNCS;

    FuncData f;
    f.memid = fd->memid;  // MEMBERID_NIL: the automatic id, fixed when the functions are read or laid out
    f.funckind = fd->funckind;
    f.invkind = fd->invkind;
    f.callconv = fd->callconv;
    f.cParamsOpt = fd->cParamsOpt;
    f.flags = fd->wFuncFlags;
    if (t.kind == TKIND_INTERFACE) {
        f.oVft = fd->oVft;
        f.oVftAuto = fd->oVft == 0;
    } else if (t.kind == TKIND_DISPATCH) {
        f.oVft = fd->oVft;
    }
    if (HRESULT hr = CopyTypeDesc(fd->elemdescFunc.tdesc, f.returnType); FAILED(hr)) return hr;
    f.returnFlags = static_cast<USHORT>(fd->elemdescFunc.paramdesc.wParamFlags & ~PARAMFLAG_FHASCUSTDATA &
                                        ~PARAMFLAG_FHASDEFAULT);
    f.params.resize(static_cast<size_t>(fd->cParams));
    for (SHORT i = 0; i < fd->cParams; ++i)
        if (HRESULT hr = CopyParam(fd->lprgelemdescParam[i], f.params[i]); FAILED(hr)) return hr;
    if (fd->cScodes > 0 && fd->lprgscode) f.scodes.assign(fd->lprgscode, fd->lprgscode + fd->cScodes);
    if (t.kind == TKIND_INTERFACE) {
        // The offset and the vtable size are known at once: an automatic slot
        // follows the inherited ones by the function's index (LayOut places
        // automatic slots again after the functions or the base changed).
        // A given offset needs nothing of the base.
        const ULONG p = static_cast<ULONG>(ptr);
        ULONG end = static_cast<USHORT>(f.oVft) + p;
        if (f.oVftAuto) {
            const ULONG inherited = InheritedVtableSize();
            const ULONG slot = inherited + p * index;
            if (slot <= 0xFFFF) f.oVft = static_cast<SHORT>(static_cast<USHORT>(slot));
            end = inherited + p * static_cast<ULONG>(t.funcs.size() + 1);
        }
        t.cbSizeVft = static_cast<WORD>(std::min<ULONG>(0xFFFF, std::max<ULONG>(t.cbSizeVft, end)));
    }
    if (f.memid == MEMBERID_NIL) idsPending_.store(true, std::memory_order_relaxed);
    MakeRoom(t.funcs);
    t.funcs.insert(t.funcs.begin() + index, std::move(f));
    index_.FuncInserted(static_cast<int>(index), t.funcs[index]);
    Touched();
    return S_OK;
}

void TypeInfoImpl::FitVtable(TypeData& t) {
    if (t.kind != TKIND_INTERFACE) return;
    const ULONG ptr = static_cast<ULONG>(lib_->PtrSize());
    ULONG end = InheritedVtableSize() + ptr * static_cast<ULONG>(t.funcs.size());
    for (const FuncData& f : t.funcs)
        if (!f.oVftAuto) end = std::max(end, static_cast<USHORT>(f.oVft) + ptr);
    t.cbSizeVft = static_cast<WORD>(std::min<ULONG>(0xFFFF, end));
}

HRESULT TypeInfoImpl::DeleteFuncDesc(UINT index) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DeleteFuncDesc", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (index >= t.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    index_.FuncRemoving(static_cast<int>(index), t.funcs[index]);
    t.funcs.erase(t.funcs.begin() + index);
    FitVtable(t);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::DeleteFuncDescByMemId(MEMBERID memid, INVOKEKIND invKind) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DeleteFuncDescByMemId", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    UINT index = 0;
    if (HRESULT hr = GetFuncIndexOfMemId(memid, invKind, &index); FAILED(hr)) return hr;
    index_.FuncRemoving(static_cast<int>(index), t.funcs[index]);
    t.funcs.erase(t.funcs.begin() + index);
    FitVtable(t);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetFuncAndParamNames(UINT index, LPOLESTR* rgszNames, UINT cNames) {
    return NameFunction(index, rgszNames, cNames, false);
}

HRESULT TypeInfoImpl::SetFuncAndParamNamesSharingId(UINT index, LPOLESTR* rgszNames, UINT cNames) {
    return NameFunction(index, rgszNames, cNames, true);
}

HRESULT TypeInfoImpl::NameFunction(UINT index, LPOLESTR* rgszNames, UINT cNames, bool sharingId) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin(sharingId ? "SetFuncAndParamNamesSharingId" : "SetFuncAndParamNames", &data); FAILED(hr))
        return hr;
    TypeData& t = *data;
    if (!rgszNames) return E_INVALIDARG;
    if (index >= t.funcs.size() || cNames == 0) return TYPE_E_ELEMENTNOTFOUND;
    FuncData& f = t.funcs[index];
    size_t maxNames = f.params.size() + 1;
    if (f.invkind == INVOKE_PROPERTYPUT || f.invkind == INVOKE_PROPERTYPUTREF) maxNames = f.params.size();
    if (cNames > maxNames) return TYPE_E_ELEMENTNOTFOUND;
    // The function needs a name; a null parameter name leaves that parameter unnamed.
    if (!rgszNames[0]) return E_INVALIDARG;
    // Each name is measured once (a few fit in place, more get room of their own).
    std::array<std::u16string_view, 8> fewNames;
    std::vector<std::u16string_view> moreNames;
    std::u16string_view* names = fewNames.data();
    if (cNames > fewNames.size()) {
        moreNames.resize(cNames);
        names = moreNames.data();
    }
    for (UINT i = 0; i < cNames; ++i) {
        names[i] = ViewOf(rgszNames[i]);
        if (names[i].size() > kMaxNameBytes) return E_INVALIDARG;
    }
    const std::u16string_view name = names[0];
    // The name's key serves the name tables only: a type small enough to be
    // scanned has none built.
    const bool scan = ScanByName(t);
    const uint64_t key = name.empty() || scan ? 0 : NameKey(name);
    if (!name.empty()) {
        // Another function of the name may only be another accessor of the
        // property, or, sharing the ID, any function of another invoke kind.
        auto clashes = [&](size_t j) {
            if (j == index) return false;
            const FuncData& g = t.funcs[j];
            if (!SameName(g.name, name)) return false;
            if (sharingId && f.memid != MEMBERID_NIL && g.memid == f.memid && g.invkind != f.invkind) return false;
            return !(IsProperty(f.invkind) && IsProperty(g.invkind) && f.invkind != g.invkind);
        };
        if (scan) {
            for (size_t j = 0; j < t.funcs.size(); ++j)
                if (!t.funcs[j].name.empty() && clashes(j)) return TYPE_E_AMBIGUOUSNAME;
            for (const VarData& v : t.vars)
                if (!v.name.empty() && SameName(v.name, name)) return TYPE_E_AMBIGUOUSNAME;
        } else {
            const MemberIndex& ix = Names();
            for (int j : ix.funcsByName.Find(key))
                if (clashes(static_cast<size_t>(j))) return TYPE_E_AMBIGUOUSNAME;
            for (int j : ix.varsByName.Find(key))
                if (SameName(t.vars[static_cast<size_t>(j)].name, name)) return TYPE_E_AMBIGUOUSNAME;
        }
    }
    if (index_.namesValid) {
        if (!f.name.empty()) index_.funcsByName.Remove(NameKey(f.name), static_cast<int>(index));
        if (!name.empty()) index_.funcsByName.Insert(scan ? NameKey(name) : key, static_cast<int>(index));
    }
    f.name = std::u16string(name);
    for (size_t p = 0; p < f.params.size(); ++p)
        f.params[p].name = p + 1 < cNames ? std::u16string(names[p + 1]) : std::u16string();
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetValueParamName(UINT index, LPCOLESTR szName) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("SetValueParamName", &data); FAILED(hr)) return hr;
    if (!szName || !NameFits(szName)) return E_INVALIDARG;
    if (index >= data->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    FuncData& f = data->funcs[index];
    if ((f.invkind != INVOKE_PROPERTYPUT && f.invkind != INVOKE_PROPERTYPUTREF) || f.params.empty())
        return TYPE_E_ELEMENTNOTFOUND;
    f.params.back().name = std::u16string(ViewOf(szName));
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::DefineFuncAsDllEntry(UINT index, LPCOLESTR szDllName, const DllEntryPoint& entry) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DefineFuncAsDllEntry", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (!szDllName || !TextFits(szDllName)) return E_INVALIDARG;
    if (const auto* name = std::get_if<std::u16string>(&entry); name && name->size() > kMaxTextBytes)
        return E_INVALIDARG;
    if (t.kind != TKIND_MODULE) return TYPE_E_BADMODULEKIND;
    if (index >= t.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    t.funcs[index].dll = DllEntryData{szDllName, entry};
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetFuncDocString(UINT index, LPCOLESTR szDocString) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetFuncDocString", &t); FAILED(hr)) return hr;
    const std::u16string_view doc = ViewOf(szDocString);
    if (!szDocString || doc.size() > kMaxTextBytes) return E_INVALIDARG;
    if (index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->funcs[index].docString = std::u16string(doc);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetFuncHelpContext(UINT index, DWORD dwHelpContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetFuncHelpContext", &t); FAILED(hr)) return hr;
    if (index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->funcs[index].helpContext = dwHelpContext;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetFuncHelpStringContext(UINT index, ULONG dwHelpStringContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetFuncHelpStringContext", &t); FAILED(hr)) return hr;
    if (index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->funcs[index].helpStringContext = dwHelpStringContext;
    Touched();
    return S_OK;
}

// ---- Variables ----

HRESULT TypeInfoImpl::AddVarDesc(UINT index, VARDESC* vd) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("AddVarDesc", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (!vd) return E_INVALIDARG;
    if (index > t.vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    bool fits = false;
    switch (t.kind) {
        case TKIND_ENUM:
            fits = vd->varkind == VAR_CONST;
            break;
        case TKIND_MODULE:
            fits = vd->varkind == VAR_CONST || vd->varkind == VAR_STATIC;
            break;
        case TKIND_RECORD:
        case TKIND_UNION:
            fits = vd->varkind == VAR_PERINSTANCE || vd->varkind == VAR_CONST;
            break;
        case TKIND_DISPATCH:
            fits = vd->varkind == VAR_DISPATCH;
            break;
        default:
            return TYPE_E_BADMODULEKIND;
    }
    if (!fits) return TYPE_E_BADMODULEKIND;
    VarData v;
    v.memid = vd->memid;
    v.varkind = vd->varkind;
    v.flags = vd->wVarFlags;
    if (vd->varkind == VAR_CONST) {
        if (!vd->lpvarValue) return E_INVALIDARG;
        if (HRESULT hr = CheckConstValue(t.kind, *vd->lpvarValue); FAILED(hr)) return hr;
        Variant value;
        if (HRESULT hr = VariantCopy(value.ptr(), vd->lpvarValue); FAILED(hr)) return hr;
        v.constValue = std::move(value);
    } else if (vd->varkind == VAR_PERINSTANCE) {
        v.oInst = vd->oInst;
    }
    if (HRESULT hr = CopyTypeDesc(vd->elemdescVar.tdesc, v.type); FAILED(hr)) return hr;
    v.elemFlags = static_cast<USHORT>(vd->elemdescVar.paramdesc.wParamFlags & ~PARAMFLAG_FHASCUSTDATA &
                                      ~PARAMFLAG_FHASDEFAULT);
    if (vd->lpstrSchema && *vd->lpstrSchema) v.schema = std::u16string(vd->lpstrSchema);
    MakeRoom(t.vars);
    t.vars.insert(t.vars.begin() + index, std::move(v));
    index_.VarInserted(static_cast<int>(index), t.vars[index]);
    Touched();
    return S_OK;
}

// A type reports its member counts in 16 bits; room past that is never used.
// Members moved to the new room count as an edit: dispatch views point at them.
HRESULT TypeInfoImpl::ReserveMembers(UINT cFuncs, UINT cVars) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("ReserveMembers", &data); FAILED(hr)) return hr;
    static constexpr size_t kMostMembers = 0xFFFF;
    bool moved = false;
    auto reserve = [&moved](auto& list, UINT more) {
        const size_t want = std::min(kMostMembers, list.size() + more);
        if (want <= list.capacity()) return;
        moved = moved || !list.empty();
        list.reserve(want);
    };
    HRESULT hr = S_OK;
    try {
        reserve(data->funcs, cFuncs);
        reserve(data->vars, cVars);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (moved) Touched();
    return hr;
}

HRESULT TypeInfoImpl::DeleteVarDesc(UINT index) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DeleteVarDesc", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (index >= t.vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    index_.VarRemoving(static_cast<int>(index), t.vars[index]);
    t.vars.erase(t.vars.begin() + index);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::DeleteVarDescByMemId(MEMBERID memid) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("DeleteVarDescByMemId", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    UINT index = 0;
    if (HRESULT hr = GetVarIndexOfMemId(memid, &index); FAILED(hr)) return hr;
    index_.VarRemoving(static_cast<int>(index), t.vars[index]);
    t.vars.erase(t.vars.begin() + index);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetVarName(UINT index, LPCOLESTR szName) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("SetVarName", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    const std::u16string_view name = ViewOf(szName);
    if (!szName || name.size() > kMaxNameBytes) return E_INVALIDARG;
    if (index >= t.vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    const bool scan = ScanByName(t);
    const uint64_t key = name.empty() || scan ? 0 : NameKey(name);
    if (!name.empty()) {
        if (scan) {
            for (size_t j = 0; j < t.vars.size(); ++j)
                if (j != index && !t.vars[j].name.empty() && SameName(t.vars[j].name, name))
                    return TYPE_E_AMBIGUOUSNAME;
            for (const FuncData& g : t.funcs)
                if (!g.name.empty() && SameName(g.name, name)) return TYPE_E_AMBIGUOUSNAME;
        } else {
            const MemberIndex& ix = Names();
            for (int j : ix.varsByName.Find(key))
                if (static_cast<UINT>(j) != index && SameName(t.vars[static_cast<size_t>(j)].name, name))
                    return TYPE_E_AMBIGUOUSNAME;
            for (int j : ix.funcsByName.Find(key))
                if (SameName(t.funcs[static_cast<size_t>(j)].name, name)) return TYPE_E_AMBIGUOUSNAME;
        }
    }
    if (index_.namesValid) {
        if (!t.vars[index].name.empty()) index_.varsByName.Remove(NameKey(t.vars[index].name), static_cast<int>(index));
        if (!name.empty()) index_.varsByName.Insert(scan ? NameKey(name) : key, static_cast<int>(index));
    }
    t.vars[index].name = std::u16string(name);
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetVarDocString(UINT index, LPCOLESTR szDocString) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetVarDocString", &t); FAILED(hr)) return hr;
    if (!szDocString || !TextFits(szDocString)) return E_INVALIDARG;
    if (index >= t->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->vars[index].docString = szDocString;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetVarHelpContext(UINT index, DWORD dwHelpContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetVarHelpContext", &t); FAILED(hr)) return hr;
    if (index >= t->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->vars[index].helpContext = dwHelpContext;
    Touched();
    return S_OK;
}

HRESULT TypeInfoImpl::SetVarHelpStringContext(UINT index, ULONG dwHelpStringContext) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetVarHelpStringContext", &t); FAILED(hr)) return hr;
    if (index >= t->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    t->vars[index].helpStringContext = dwHelpStringContext;
    Touched();
    return S_OK;
}

// ---- Alias ----

HRESULT TypeInfoImpl::SetTypeDescAlias(TYPEDESC* pTDescAlias) {
    TypeData* data = nullptr;
    if (HRESULT hr = Begin("SetTypeDescAlias", &data); FAILED(hr)) return hr;
    TypeData& t = *data;
    if (!pTDescAlias) return E_INVALIDARG;
    if (t.kind != TKIND_ALIAS) return TYPE_E_BADMODULEKIND;
    TypeDescData copy;
    if (HRESULT hr = CopyTypeDesc(*pTDescAlias, copy); FAILED(hr)) return hr;
    t.aliasType = std::move(copy);
    Layout l;
    LayoutPass pass;
    if (SUCCEEDED(ComputeLayout(l, pass))) {
        t.cbSizeInstance = l.cbSizeInstance;
        t.cbAlignment = l.cbAlignment;
    }
    Touched();
    return S_OK;
}

// ---- Custom data ----

HRESULT TypeInfoImpl::SetCustData(REFGUID guid, VARIANT* pVarVal) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetCustData", &t); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    HRESULT hr = SetCustItem(t->custData, guid, *pVarVal);
    Touched();
    return hr;
}

HRESULT TypeInfoImpl::SetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetFuncCustData", &t); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    if (index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    HRESULT hr = SetCustItem(t->funcs[index].custData, guid, *pVarVal);
    Touched();
    return hr;
}

HRESULT TypeInfoImpl::SetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetParamCustData", &t); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    if (indexFunc >= t->funcs.size() || indexParam >= t->funcs[indexFunc].params.size())
        return TYPE_E_ELEMENTNOTFOUND;
    HRESULT hr = SetCustItem(t->funcs[indexFunc].params[indexParam].custData, guid, *pVarVal);
    Touched();
    return hr;
}

HRESULT TypeInfoImpl::SetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetVarCustData", &t); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    if (index >= t->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    HRESULT hr = SetCustItem(t->vars[index].custData, guid, *pVarVal);
    Touched();
    return hr;
}

HRESULT TypeInfoImpl::SetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
    TypeData* t = nullptr;
    if (HRESULT hr = Begin("SetImplTypeCustData", &t); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    if (index >= t->implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    HRESULT hr = SetCustItem(t->implTypes[index].custData, guid, *pVarVal);
    Touched();
    return hr;
}

}  // namespace ole::engine

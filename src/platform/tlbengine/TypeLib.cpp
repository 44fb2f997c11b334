// The library object of the engine: created libraries (ICreateTypeLib2) and
// read-only libraries loaded from files share it.
#include <algorithm>
#include <unordered_set>

#include "platform/tlbengine/TypeLibEngine.h"

namespace ole::engine {

// ITypeComp of the library: binds type names and the global members of
// enumerations and modules.
class LibraryImpl::LibTypeComp final : public ITypeComp {
public:
    explicit LibTypeComp(LibraryImpl* lib) : lib_(lib) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IUnknown::kIID || riid == ITypeComp::kIID) {
            *ppv = static_cast<ITypeComp*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return lib_->AddRef(); }
    ULONG Release() override { return lib_->Release(); }

    HRESULT Bind(LPOLESTR szName, ULONG lHashVal, WORD wFlags, ITypeInfo** ppTInfo, DESCKIND* pDescKind,
                 BINDPTR* pBindPtr) override {
        if (!szName || !ppTInfo || !pDescKind || !pBindPtr) return E_INVALIDARG;
        *ppTInfo = nullptr;
        *pDescKind = DESCKIND_NONE;
        pBindPtr->lpfuncdesc = nullptr;
        if (TypeInfoImpl* t = lib_->FindType(ViewOf(szName))) {
            const TypeData* d = t->Data();
            if (d && (d->kind == TKIND_ENUM || d->kind == TKIND_MODULE)) {
                TypeReader* item = t->LibraryItem();
                *pDescKind = DESCKIND_TYPECOMP;
                pBindPtr->lptcomp = static_cast<ITypeComp*>(item);
                item->AddRef();
                return S_OK;
            }
        }
        for (auto& t : lib_->Types()) {
            const TypeData* d = t->Data();
            if (!d || (d->kind != TKIND_ENUM && d->kind != TKIND_MODULE)) continue;
            HRESULT hr = t->Bind(szName, lHashVal, wFlags, ppTInfo, pDescKind, pBindPtr);
            if (FAILED(hr) || *pDescKind != DESCKIND_NONE) return hr;
        }
        return S_OK;
    }

    HRESULT BindType(LPOLESTR szName, ULONG, ITypeInfo** ppTInfo, ITypeComp** ppTComp) override {
        if (!szName || !ppTInfo || !ppTComp) return E_INVALIDARG;
        *ppTInfo = nullptr;
        *ppTComp = nullptr;
        if (TypeInfoImpl* t = lib_->FindType(ViewOf(szName))) {
            TypeReader* item = t->LibraryItem();
            *ppTInfo = static_cast<ITypeInfo*>(item);
            item->AddRef();
        }
        return S_OK;
    }

private:
    LibraryImpl* lib_;
};

LibraryImpl::LibraryImpl(SYSKIND syskind, std::u16string path)
    : readOnly_(false),
      created_(std::make_unique<LibraryData>()),
      attr_(created_.get()),
      path_(std::move(path)),
      comp_(std::make_unique<LibTypeComp>(this)) {
    created_->syskind = syskind;
}

LibraryImpl::LibraryImpl(std::shared_ptr<const LibraryData> data, std::u16string path)
    : readOnly_(true),
      loaded_(std::move(data)),
      attr_(loaded_.get()),
      path_(std::move(path)),
      comp_(std::make_unique<LibTypeComp>(this)) {
    const LibraryData& d = *loaded_;
    types_.reserve(d.types.size());
    for (size_t i = 0; i < d.types.size(); ++i) {
        auto t = std::make_unique<TypeInfoImpl>(this, &d.types[i]);
        t->SetIndexInLibrary(static_cast<UINT>(i));
        types_.push_back(std::move(t));
    }
    slots_.reserve(d.refs.size());
    for (const RefData& r : d.refs) {
        if (r.href == 0xFFFFFFFFu || r.href == HREFTYPE_DUAL_PARTNER || refIndex_.count(r.href)) continue;
        RefSlot slot;
        slot.info = r;
        switch (r.kind) {
            case RefKind::Internal:
                if (r.typeIndex >= 0 && static_cast<size_t>(r.typeIndex) < types_.size()) {
                    TypeInfoImpl* t = types_[r.typeIndex].get();
                    slot.target = r.dualInterface ? static_cast<TypeReader*>(t) : t->LibraryItem();
                } else {
                    slot.info.kind = RefKind::Missing;
                }
                break;
            case RefKind::Live:
                slot.resolved = r.live;
                if (!slot.resolved) slot.info.kind = RefKind::Missing;
                break;
            case RefKind::Imported:
                if (r.importLib < 0 || static_cast<size_t>(r.importLib) >= d.imports.size())
                    slot.info.kind = RefKind::Missing;
                break;
            case RefKind::Missing:
                break;
        }
        (void)AddSlot(std::move(slot), r.href);
    }
}

LibraryImpl::~LibraryImpl() = default;

namespace {
std::atomic<uint64_t> basesEdits{0};
}  // namespace

uint64_t LibraryImpl::BasesEditCount() { return basesEdits.load(std::memory_order_relaxed); }
void LibraryImpl::BasesTouched() { basesEdits.fetch_add(1, std::memory_order_relaxed); }

HRESULT LibraryImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::kIID || riid == ITypeLib::kIID || riid == ITypeLib2::kIID)
        *ppv = static_cast<ITypeLib2*>(this);
    else if (!readOnly_ && (riid == ICreateTypeLib::kIID || riid == ICreateTypeLib2::kIID))
        *ppv = static_cast<ICreateTypeLib2*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG LibraryImpl::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT LibraryImpl::Begin(const char* method, LibraryData** attrs) {
    if (attrs) *attrs = nullptr;
    if (readOnly_ || !created_) return E_ACCESSDENIED;
    if (HRESULT hr = InjectedFailure(method, "ICreateTypeLib2"); FAILED(hr)) return hr;
    if (attrs) *attrs = created_.get();
    return S_OK;
}

// ---- References ----

HRESULT LibraryImpl::AddSlot(RefSlot slot, HREFTYPE href) {
    slot.info.href = href;
    const void* key = nullptr;
    if (slot.info.kind == RefKind::Internal && slot.target)
        key = static_cast<ITypeInfo*>(slot.target);
    else if (slot.info.kind == RefKind::Live && slot.resolved)
        key = slot.resolved.get();
    refIndex_.emplace(href, slots_.size());
    if (key) refByTarget_.emplace(key, href);
    if (href >= nextHref_ && href < 0xFFFFFFF0u) nextHref_ = (href & ~3u) + 4;
    slots_.push_back(std::move(slot));
    return S_OK;
}

HREFTYPE LibraryImpl::FreeHref() const {
    HREFTYPE href = nextHref_;
    while (refIndex_.count(href)) href += 4;
    return href;
}

HRESULT LibraryImpl::InternRef(ITypeInfo* ti, HREFTYPE* out) {
    if (!ti || !out) return E_INVALIDARG;
    {
        std::lock_guard lock(lazy_);
        if (auto it = refByTarget_.find(ti); it != refByTarget_.end()) {
            *out = it->second;
            return S_OK;
        }
    }
    // What the slot says of its target is read without the lock: a foreign
    // type answers through its own library.
    RefSlot slot;
    auto* reader = dynamic_cast<TypeReader*>(ti);
    if (reader && reader->Library() == this) {
        TypeInfoImpl* owner = reader->Owner();
        if (owner->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
        slot.info.kind = RefKind::Internal;
        slot.target = reader;
        slot.info.typeIndex = static_cast<int>(owner->IndexInLibrary());
        const TypeData& d = owner->Raw();
        slot.info.dualInterface =
            !reader->IsDispatchView() && d.kind == TKIND_INTERFACE && (d.flags & TYPEFLAG_FDUAL);
    } else {
        slot.info.kind = RefKind::Live;
        slot.info.live = ComPtr<ITypeInfo>(ti);
        slot.resolved = slot.info.live;
        TYPEATTR* ta = nullptr;
        if (SUCCEEDED(ti->GetTypeAttr(&ta)) && ta) {
            slot.info.dualInterface = ta->typekind == TKIND_INTERFACE && (ta->wTypeFlags & TYPEFLAG_FDUAL);
            slot.info.importKind = ta->typekind;
            slot.info.typeGuid = ta->guid;
            ti->ReleaseTypeAttr(ta);
        }
    }
    std::lock_guard lock(lazy_);
    // Another reader may have added the same target meanwhile.
    if (auto it = refByTarget_.find(ti); it != refByTarget_.end()) {
        *out = it->second;
        return S_OK;
    }
    const HREFTYPE href = FreeHref();
    *out = href;
    return AddSlot(std::move(slot), href);
}

HREFTYPE LibraryImpl::MissingRef() {
    std::lock_guard lock(lazy_);
    if (!hasMissing_) {
        RefSlot slot;
        slot.info.kind = RefKind::Missing;
        const HREFTYPE href = FreeHref();
        (void)AddSlot(std::move(slot), href);
        missingHref_ = href;
        hasMissing_ = true;
    }
    return missingHref_;
}

HRESULT LibraryImpl::ImportedFunctions(ChainLink& link, std::shared_ptr<const std::vector<FuncData>>* out) {
    *out = nullptr;
    const ITypeInfo* key = link.ti.get();
    const uint64_t stamp = EditCount();
    {
        std::lock_guard lock(lazy_);
        if (auto it = importedBases_.find(key); it != importedBases_.end() && it->second.stamp == stamp) {
            *out = it->second.funcs;
            return S_OK;
        }
    }
    // Taken in without the lock: reading the base may follow references into
    // its library, and taking its references in locks this one.
    UINT count = 0;
    HRESULT hr = ImportFuncCount(link, &count);
    if (FAILED(hr)) return hr;
    auto funcs = std::make_shared<std::vector<FuncData>>();
    funcs->reserve(count);
    const int basePtr = PtrSizeOf(link), ptr = PtrSize();
    for (UINT i = 0; i < count; ++i) {
        FuncData f;
        if (FAILED(ImportFunc(link, i, *this, f))) continue;
        // Vtable offsets of a base made for another platform, at this library's pointer size.
        if (basePtr != ptr) f.oVft = static_cast<SHORT>(static_cast<USHORT>(f.oVft) / basePtr * ptr);
        funcs->push_back(std::move(f));
    }
    std::shared_ptr<const std::vector<FuncData>> previous;  // released after the lock
    std::lock_guard lock(lazy_);
    ImportedBase& entry = importedBases_[key];
    if (entry.funcs && entry.stamp == stamp) {
        *out = entry.funcs;  // another reader took it in first: every view shares one copy
        return S_OK;
    }
    previous = std::move(entry.funcs);
    entry.ti = link.ti;
    entry.stamp = stamp;
    entry.funcs = funcs;
    *out = std::move(funcs);
    return S_OK;
}

TypeReader* LibraryImpl::InternalTarget(HREFTYPE href) {
    std::lock_guard lock(lazy_);
    auto it = refIndex_.find(href);
    if (it == refIndex_.end()) return nullptr;
    const RefSlot& s = slots_[it->second];
    if (s.info.kind != RefKind::Internal || !s.target || s.target->Owner()->IsDeleted()) return nullptr;
    return s.target;
}

bool LibraryImpl::HasRef(HREFTYPE href) {
    std::lock_guard lock(lazy_);
    return refIndex_.count(href) != 0;
}

HRESULT LibraryImpl::ResolveRef(HREFTYPE href, ITypeInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    RefData info;
    {
        std::lock_guard lock(lazy_);
        auto it = refIndex_.find(href);
        if (it == refIndex_.end()) return TYPE_E_ELEMENTNOTFOUND;
        const RefSlot& s = slots_[it->second];
        switch (s.info.kind) {
            case RefKind::Internal:
                if (!s.target || s.target->Owner()->IsDeleted()) return TYPE_E_ELEMENTNOTFOUND;
                *out = static_cast<ITypeInfo*>(s.target);
                s.target->AddRef();
                return S_OK;
            case RefKind::Live:
                return s.resolved.CopyTo(out);
            case RefKind::Missing:
                return TYPE_E_ELEMENTNOTFOUND;
            case RefKind::Imported:
                break;
        }
        if (s.resolved) return s.resolved.CopyTo(out);
        info = s.info;
    }
    // Resolved without the lock: the resolver loads and reads other libraries.
    const LibraryData& d = Attr();
    if (info.importLib < 0 || static_cast<size_t>(info.importLib) >= d.imports.size()) return TYPE_E_ELEMENTNOTFOUND;
    const ImportLibData& imp = d.imports[info.importLib];
    ComPtr<ITypeLib> other;
    HRESULT hr = ResolveImportedLibrary(imp.guid, imp.majorVersion, imp.minorVersion, imp.lcid, other.put());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> ti;
    hr = info.byGuid ? other->GetTypeInfoOfGuid(info.typeGuid, ti.put())
                     : other->GetTypeInfo(static_cast<UINT>(info.importTypeIndex), ti.put());
    if (FAILED(hr)) return hr;
    if (info.dualInterface) {
        HREFTYPE partner = 0;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner))) {
            ComPtr<ITypeInfo> half;
            if (SUCCEEDED(ti->GetRefTypeInfo(partner, half.put())) && half) ti = half;
        }
    }
    std::lock_guard lock(lazy_);
    RefSlot& s = slots_[refIndex_.at(href)];
    if (!s.resolved) s.resolved = ti;  // the first reader to resolve it decides
    return s.resolved.CopyTo(out);
}

HRESULT LibraryImpl::StdDispatch(ITypeInfo** out) {
    *out = nullptr;
    // A type of this library with IDispatch's GUID comes first (the standard library itself).
    if (SUCCEEDED(GetTypeInfoOfGuid(kIID_IDispatch, out))) return S_OK;
    ComPtr<ITypeLib> std;
    HRESULT hr = ResolveImportedLibrary(kStdOleLibGuid, 2, 0, 0, std.put());
    if (FAILED(hr)) return hr;
    return std->GetTypeInfoOfGuid(kIID_IDispatch, out);
}

// ---- Types ----

// Readers of a shared library may ask at the same time: the first to take
// the lock builds the table, the others find it built.
ChainMap& LibraryImpl::ByName() {
    if (byNameBuilt_.load(std::memory_order_acquire)) return byName_;
    std::lock_guard lock(lazy_);
    if (!byNameBuilt_.load(std::memory_order_relaxed)) {
        byName_.Clear(types_.size());
        for (size_t i = 0; i < types_.size(); ++i) byName_.Insert(NameKey(types_[i]->Raw().name), static_cast<int>(i));
        byNameBuilt_.store(true, std::memory_order_release);
    }
    return byName_;
}

// Where two types share a name (a file made elsewhere), the first one is found.
TypeInfoImpl* LibraryImpl::FindType(std::u16string_view name) {
    if (name.empty()) return nullptr;
    for (int i : ByName().Find(NameKey(name))) {
        TypeInfoImpl* t = types_[static_cast<size_t>(i)].get();
        if (SameName(t->Raw().name, name)) return t;
    }
    return nullptr;
}

HRESULT LibraryImpl::RenameType(TypeInfoImpl* t, std::u16string_view name) {
    ChainMap& byName = ByName();
    const uint64_t key = NameKey(name);
    for (int i : byName.Find(key)) {
        const TypeInfoImpl* other = types_[static_cast<size_t>(i)].get();
        if (other != t && SameName(other->Raw().name, name)) return TYPE_E_NAMECONFLICT;
    }
    const int index = static_cast<int>(t->IndexInLibrary());
    byName.Remove(NameKey(t->Raw().name), index);
    byName.Insert(key, index);
    return S_OK;
}

TypeReader* LibraryImpl::ItemAt(UINT index) {
    if (index >= types_.size()) return nullptr;
    return types_[index]->LibraryItem();
}

UINT LibraryImpl::GetTypeInfoCount() { return static_cast<UINT>(types_.size()); }

HRESULT LibraryImpl::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    TypeReader* item = ItemAt(index);
    if (!item) return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = static_cast<ITypeInfo*>(item);
    item->AddRef();
    return S_OK;
}

HRESULT LibraryImpl::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
    if (!pTKind) return E_INVALIDARG;
    if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    TypeInfoImpl* t = types_[index].get();
    *pTKind = t->IsDualActive() ? TKIND_DISPATCH : t->Raw().kind;
    return S_OK;
}

TypeInfoImpl* LibraryImpl::GuidHolder(const GUID& guid, const TypeInfoImpl* t) {
    if (guid == GUID_NULL) return nullptr;
    std::lock_guard lock(lazy_);
    if (!guidIndexValid_.load(std::memory_order_relaxed)) {
        byGuid_.clear();
        for (auto& type : types_)
            if (type->Raw().guid != GUID_NULL) byGuid_.emplace(type->Raw().guid, type.get());
        guidIndexValid_.store(true, std::memory_order_relaxed);
    }
    auto it = byGuid_.find(guid);
    return it == byGuid_.end() || it->second == t ? nullptr : it->second;
}

void LibraryImpl::GuidChanged(TypeInfoImpl* t, const GUID& old) {
    std::lock_guard lock(lazy_);
    if (!guidIndexValid_.load(std::memory_order_relaxed)) return;
    if (auto it = byGuid_.find(old); it != byGuid_.end() && it->second == t) byGuid_.erase(it);
    if (t->Raw().guid != GUID_NULL) byGuid_.emplace(t->Raw().guid, t);
}

HRESULT LibraryImpl::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    TypeInfoImpl* t = GuidHolder(guid, nullptr);
    if (!t) return TYPE_E_ELEMENTNOTFOUND;
    TypeReader* item = t->LibraryItem();
    *ppTInfo = static_cast<ITypeInfo*>(item);
    item->AddRef();
    return S_OK;
}

HRESULT LibraryImpl::GetLibAttr(TLIBATTR** ppTLibAttr) {
    if (!ppTLibAttr) return E_INVALIDARG;
    const LibraryData& d = Attr();
    auto* a = new TLIBATTR{};
    a->guid = d.guid;
    a->lcid = d.lcid;
    a->syskind = d.syskind;
    a->wMajorVerNum = d.majorVersion;
    a->wMinorVerNum = d.minorVersion;
    a->wLibFlags = static_cast<WORD>(d.libFlags | (readOnly_ && d.reportsDiskImage ? LIBFLAG_FHASDISKIMAGE : 0));
    *ppTLibAttr = a;
    return S_OK;
}

void LibraryImpl::ReleaseTLibAttr(TLIBATTR* p) { delete p; }

HRESULT LibraryImpl::GetTypeComp(ITypeComp** ppTComp) {
    if (!ppTComp) return E_INVALIDARG;
    *ppTComp = comp_.get();
    AddRef();
    return S_OK;
}

HRESULT LibraryImpl::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                      BSTR* pBstrHelpFile) {
    const LibraryData& d = Attr();
    if (index == -1) {
        PutBstr(pBstrName, d.name, true);
        PutBstr(pBstrDocString, d.docString, true);
        if (pdwHelpContext) *pdwHelpContext = d.helpContext;
        PutBstr(pBstrHelpFile, d.helpFile, true);
        return S_OK;
    }
    if (index < 0 || static_cast<size_t>(index) >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeData& t = types_[index]->Raw();
    PutBstr(pBstrName, t.name, true);
    PutBstr(pBstrDocString, t.docString, true);
    if (pdwHelpContext) *pdwHelpContext = t.helpContext;
    PutBstr(pBstrHelpFile, d.helpFile, true);
    return S_OK;
}

HRESULT LibraryImpl::GetDocumentation2(INT index, LCID, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                       BSTR* pbstrHelpStringDll) {
    const LibraryData& d = Attr();
    if (index == -1) {
        PutBstr(pbstrHelpString, d.docString, true);
        if (pdwHelpStringContext) *pdwHelpStringContext = d.helpStringContext;
        PutBstr(pbstrHelpStringDll, d.helpStringDll, true);
        return S_OK;
    }
    if (index < 0 || static_cast<size_t>(index) >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeData& t = types_[index]->Raw();
    PutBstr(pbstrHelpString, t.docString, true);
    if (pdwHelpStringContext) *pdwHelpStringContext = t.helpStringContext;
    PutBstr(pbstrHelpStringDll, d.helpStringDll, true);
    return S_OK;
}

HRESULT LibraryImpl::IsName(LPOLESTR szNameBuf, ULONG, INT* pfName) {
    if (!szNameBuf || !pfName) return E_INVALIDARG;
    *pfName = 0;
    auto found = [&](const std::u16string& stored) {
        std::copy(stored.begin(), stored.end(), szNameBuf);
        *pfName = 1;
        return S_OK;
    };
    if (TypeInfoImpl* t = FindType(szNameBuf)) return found(t->Raw().name);
    const std::u16string_view name = szNameBuf;
    const uint64_t key = NameKey(name);
    for (auto& t : types_) {
        const MemberIndex& ix = t->Names();
        const TypeData& d = t->Raw();
        for (int i : ix.funcsByName.Find(key))
            if (SameName(d.funcs[static_cast<size_t>(i)].name, name)) return found(d.funcs[static_cast<size_t>(i)].name);
        for (int i : ix.varsByName.Find(key))
            if (SameName(d.vars[static_cast<size_t>(i)].name, name)) return found(d.vars[static_cast<size_t>(i)].name);
        for (const FuncData& f : d.funcs)
            for (const ParamData& p : f.params)
                if (!p.name.empty() && SameName(p.name, name)) return found(p.name);
    }
    return S_OK;
}

HRESULT LibraryImpl::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) {
    if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
    USHORT max = *pcFound;
    USHORT n = 0;
    const std::u16string_view name = szNameBuf;
    const uint64_t key = NameKey(name);
    // The name buffer takes the stored spelling of the first name found.
    auto add = [&](TypeReader* item, MEMBERID id, const std::u16string& stored) {
        if (n >= max) return;
        if (n == 0) std::copy(stored.begin(), stored.end(), szNameBuf);
        ppTInfo[n] = static_cast<ITypeInfo*>(item);
        item->AddRef();
        rgMemId[n] = id;
        ++n;
    };
    for (auto& t : types_) {
        if (n >= max) break;
        const TypeData& d = t->Raw();
        if (SameName(d.name, name)) {
            add(t->LibraryItem(), MEMBERID_NIL, d.name);
            continue;
        }
        const MemberIndex& ix = t->Names();
        bool matched = false;
        for (int i : ix.funcsByName.Find(key)) {
            if (!SameName(d.funcs[static_cast<size_t>(i)].name, name)) continue;
            t->FixFunctionIds();
            add(t.get(), d.funcs[static_cast<size_t>(i)].memid, d.funcs[static_cast<size_t>(i)].name);
            matched = true;
            break;
        }
        if (matched) continue;
        for (int i : ix.varsByName.Find(key)) {
            if (!SameName(d.vars[static_cast<size_t>(i)].name, name)) continue;
            add(t.get(), d.vars[static_cast<size_t>(i)].memid, d.vars[static_cast<size_t>(i)].name);
            break;
        }
    }
    *pcFound = n;
    return S_OK;
}

HRESULT LibraryImpl::GetCustData(REFGUID guid, VARIANT* pVarVal) { return GetCustItem(Attr().custData, guid, pVarVal); }

HRESULT LibraryImpl::GetAllCustData(CUSTDATA* pCustData) { return FillCustData(Attr().custData, pCustData); }

HRESULT LibraryImpl::GetLibStatistics(ULONG* pcUniqueNames, ULONG* pcchUniqueNames) {
    // Each spelling counts, as each is stored apart.
    std::unordered_set<std::u16string> names;
    ULONG chars = 0;
    auto add = [&](const std::u16string& s) {
        if (!s.empty() && names.insert(s).second) chars += static_cast<ULONG>(s.size());
    };
    add(Attr().name);
    for (auto& t : types_) {
        const TypeData& d = t->Raw();
        add(d.name);
        for (const FuncData& f : d.funcs) {
            add(f.name);
            for (const ParamData& p : f.params) add(p.name);
        }
        for (const VarData& v : d.vars) add(v.name);
    }
    if (pcUniqueNames) *pcUniqueNames = static_cast<ULONG>(names.size());
    if (pcchUniqueNames) *pcchUniqueNames = chars;
    return S_OK;
}

// ---- ICreateTypeLib2 ----

HRESULT LibraryImpl::CreateTypeInfo(LPCOLESTR szName, TYPEKIND tkind, ICreateTypeInfo** ppCTInfo) {
    if (HRESULT hr = Begin("CreateTypeInfo"); FAILED(hr)) return hr;
    if (!szName || !ppCTInfo) return E_INVALIDARG;
    *ppCTInfo = nullptr;
    if (!NameFits(szName)) return E_INVALIDARG;
    if (tkind < TKIND_ENUM || tkind >= TKIND_MAX) return E_INVALIDARG;
    std::u16string_view name = ViewOf(szName);
    if (name.empty()) return E_INVALIDARG;
    if (FindType(name)) return TYPE_E_NAMECONFLICT;
    auto data = std::make_unique<TypeData>();
    data->name = std::u16string(name);
    data->kind = tkind;
    data->lcid = Attr().lcid;
    data->cbAlignment = 4;
    switch (tkind) {
        case TKIND_INTERFACE:
        case TKIND_COCLASS:
            data->cbSizeInstance = static_cast<ULONG>(PtrSize());
            break;
        case TKIND_DISPATCH:
            data->cbSizeInstance = static_cast<ULONG>(PtrSize());
            data->cbSizeVft = static_cast<WORD>(7 * PtrSize());
            break;
        case TKIND_ENUM:
            data->cbSizeInstance = 4;
            break;
        default:
            break;
    }
    auto t = std::make_unique<TypeInfoImpl>(this, std::move(data));
    t->SetIndexInLibrary(static_cast<UINT>(types_.size()));
    TypeInfoImpl* raw = t.get();
    const int index = static_cast<int>(types_.size());
    const uint64_t key = NameKey(name);
    ChainMap& byName = ByName();
    byName.Insert(key, index);
    try {
        types_.push_back(std::move(t));
    } catch (...) {
        byName.Remove(key, index);
        throw;
    }
    // A new type has no GUID yet: the GUID index stays as it is.
    Touched();
    *ppCTInfo = static_cast<ICreateTypeInfo*>(static_cast<ICreateTypeInfo2*>(raw));
    raw->AddRef();
    return S_OK;
}

HRESULT LibraryImpl::DeleteTypeInfo(LPCOLESTR szName) {
    if (HRESULT hr = Begin("DeleteTypeInfo"); FAILED(hr)) return hr;
    if (!szName) return E_INVALIDARG;
    TypeInfoImpl* t = FindType(ViewOf(szName));
    if (!t) return TYPE_E_ELEMENTNOTFOUND;
    UINT index = t->IndexInLibrary();
    ChainMap& byName = ByName();
    byName.Remove(NameKey(t->Raw().name), static_cast<int>(index));
    byName.CloseGap(static_cast<int>(index));
    std::unique_ptr<TypeInfoImpl> owned = std::move(types_[index]);
    types_.erase(types_.begin() + index);
    for (size_t i = index; i < types_.size(); ++i) types_[i]->SetIndexInLibrary(static_cast<UINT>(i));
    owned->MarkDeleted();
    deleted_.push_back(std::move(owned));
    BasesTouched();
    GuidsChanged();
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetName(LPCOLESTR szName) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetName", &attrs); FAILED(hr)) return hr;
    if (!szName || !NameFits(szName)) return E_INVALIDARG;
    attrs->name = szName;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetVersion(WORD wMajorVerNum, WORD wMinorVerNum) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetVersion", &attrs); FAILED(hr)) return hr;
    attrs->majorVersion = wMajorVerNum;
    attrs->minorVersion = wMinorVerNum;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetGuid(REFGUID guid) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetGuid", &attrs); FAILED(hr)) return hr;
    attrs->guid = guid;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetDocString(LPCOLESTR szDoc) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetDocString", &attrs); FAILED(hr)) return hr;
    if (!szDoc || !TextFits(szDoc)) return E_INVALIDARG;
    attrs->docString = szDoc;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetHelpFileName(LPCOLESTR szHelpFileName) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetHelpFileName", &attrs); FAILED(hr)) return hr;
    if (!szHelpFileName || !TextFits(szHelpFileName)) return E_INVALIDARG;
    attrs->helpFile = szHelpFileName;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetHelpContext(DWORD dwHelpContext) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetHelpContext", &attrs); FAILED(hr)) return hr;
    attrs->helpContext = dwHelpContext;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetLcid(LCID lcid) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetLcid", &attrs); FAILED(hr)) return hr;
    attrs->lcid = lcid;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetLibFlags(UINT uLibFlags) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetLibFlags", &attrs); FAILED(hr)) return hr;
    if (uLibFlags > 0xFFFF) return E_INVALIDARG;
    attrs->libFlags = static_cast<WORD>(uLibFlags);
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetCustData(REFGUID guid, VARIANT* pVarVal) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetCustData", &attrs); FAILED(hr)) return hr;
    if (HRESULT hr = CheckCustValue(pVarVal); FAILED(hr)) return hr;
    HRESULT hr = SetCustItem(attrs->custData, guid, *pVarVal);
    Touched();
    return hr;
}

HRESULT LibraryImpl::SetHelpStringContext(ULONG dwHelpStringContext) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetHelpStringContext", &attrs); FAILED(hr)) return hr;
    attrs->helpStringContext = dwHelpStringContext;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::SetHelpStringDll(LPCOLESTR szFileName) {
    LibraryData* attrs = nullptr;
    if (HRESULT hr = Begin("SetHelpStringDll", &attrs); FAILED(hr)) return hr;
    if (!szFileName || !TextFits(szFileName)) return E_INVALIDARG;
    attrs->helpStringDll = szFileName;
    Touched();
    return S_OK;
}

HRESULT LibraryImpl::LayOutAll() {
    for (size_t i = 0; i < types_.size(); ++i) {
        HRESULT hr = types_[i]->LayOut();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT LibraryImpl::SaveAllChanges() {
    if (HRESULT hr = Begin("SaveAllChanges"); FAILED(hr)) return hr;
    if (path_.empty()) return TYPE_E_IOERROR;
    TypeLibWriter writer = CurrentWriter();
    if (!writer) return E_NOTIMPL;
    HRESULT hr = LayOutAll();
    if (FAILED(hr)) return hr;
    // The writer reads every type once: their data is lent to it rather than
    // copied (a save is an edit: nothing else reads the library meanwhile),
    // and taken back whatever the writer does.
    LibraryData data(*created_);
    data.refs = RefsData();
    data.types.reserve(types_.size());
    struct GiveBack {
        LibraryImpl& lib;
        LibraryData& data;
        std::vector<LCID> lcids;
        ~GiveBack() {
            for (size_t i = 0; i < data.types.size(); ++i) {
                data.types[i].lcid = lcids[i];
                lib.types_[i]->ReturnData(std::move(data.types[i]));
            }
        }
    } giveBack{*this, data, {}};
    giveBack.lcids.reserve(types_.size());
    for (auto& t : types_) t->FixFunctionIds();
    for (auto& t : types_) {
        giveBack.lcids.push_back(t->Raw().lcid);
        data.types.push_back(t->LendData());
        data.types.back().lcid = created_->lcid;
    }
    return writer(data, path_);
}

std::shared_ptr<const LibraryData> LibraryImpl::Snapshot() {
    if (readOnly_) return loaded_;
    auto d = std::make_shared<LibraryData>(*created_);
    d->types.reserve(types_.size());
    for (auto& t : types_) {
        t->FixFunctionIds();
        d->types.push_back(t->Raw());
        d->types.back().lcid = created_->lcid;
    }
    d->refs = RefsData();
    return d;
}

std::vector<RefData> LibraryImpl::RefsData() {
    std::vector<RefData> refs;
    std::lock_guard lock(lazy_);
    refs.reserve(slots_.size());
    for (const RefSlot& s : slots_) {
        RefData r = s.info;
        if (r.kind == RefKind::Internal) {
            if (!s.target || s.target->Owner()->IsDeleted()) {
                r.kind = RefKind::Missing;
                r.typeIndex = -1;
            } else {
                TypeInfoImpl* owner = s.target->Owner();
                r.typeIndex = static_cast<int>(owner->IndexInLibrary());
                const TypeData& od = owner->Raw();
                r.dualInterface =
                    !s.target->IsDispatchView() && od.kind == TKIND_INTERFACE && (od.flags & TYPEFLAG_FDUAL);
            }
        } else if (r.kind == RefKind::Live) {
            r.live = s.resolved;
        }
        refs.push_back(std::move(r));
    }
    return refs;
}

}  // namespace ole::engine

namespace ole {

HRESULT CreateEditableTypeLib(SYSKIND syskind, std::u16string path, ICreateTypeLib2** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (syskind < SYS_WIN16 || syskind > SYS_WIN64) return E_INVALIDARG;
    auto* lib = new engine::LibraryImpl(syskind, std::move(path));
    *out = static_cast<ICreateTypeLib2*>(lib);
    lib->AddRef();
    return S_OK;
}

HRESULT CreateLoadedTypeLib(std::shared_ptr<const LibraryData> data, std::u16string path, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!data) return E_INVALIDARG;
    auto* lib = new engine::LibraryImpl(std::move(data), std::move(path));
    *out = static_cast<ITypeLib2*>(lib);
    lib->AddRef();
    return S_OK;
}

HRESULT GetLibraryData(ITypeLib* lib, bool layOut, std::shared_ptr<const LibraryData>* out) {
    if (!lib || !out) return E_INVALIDARG;
    auto* impl = dynamic_cast<engine::LibraryImpl*>(lib);
    if (!impl) return E_INVALIDARG;
    if (layOut && !impl->ReadOnly()) {
        HRESULT hr = impl->LayOutAll();
        if (FAILED(hr)) return hr;
    }
    *out = impl->Snapshot();
    return S_OK;
}

HRESULT GetUnreadCustData(ITypeLib* lib, std::vector<UnreadCustData>* out) {
    if (!lib || !out) return E_INVALIDARG;
    auto* impl = dynamic_cast<engine::LibraryImpl*>(lib);
    if (!impl) return E_INVALIDARG;
    out->clear();
    // Only a reader leaves items out; a created library's snapshot would copy all its types.
    if (impl->ReadOnly()) *out = impl->Snapshot()->unreadCustData;
    return S_OK;
}

HRESULT GetTypeLibFilePath(ITypeLib* lib, std::u16string* path) {
    if (!lib || !path) return E_INVALIDARG;
    auto* impl = dynamic_cast<engine::LibraryImpl*>(lib);
    if (!impl) return E_INVALIDARG;
    *path = impl->Path();
    return S_OK;
}

}  // namespace ole

// Re-creating a library through the creation interfaces.
#include "CopyTypeLib.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace ole;

namespace tlbtools {

namespace {


// A failed call: what was being done and its result.
struct CopyError {
    std::string what;
    HRESULT hr;
};

// Where a call was made; the message is put together only when it fails.
struct Where {
    const std::string* type = nullptr;
    const char* member = nullptr;  // "function", "variable", ...
    UINT index = 0;
};

void Check(HRESULT hr, const char* what, Where where = {}) {
    if (SUCCEEDED(hr)) return;
    std::string text = what;
    if (where.type) text += " " + *where.type;
    if (where.member) text += std::string(" ") + where.member + " " + std::to_string(where.index);
    throw CopyError{text, hr};
}
void Check(HRESULT hr, const std::string& what) { Check(hr, what.c_str()); }

// Copies a list of custom data: get(&list) reads it, set(guid, value) writes
// one item; what names both calls ("FuncCustData": GetAllFuncCustData, ...).
template <class Get, class Set>
void CopyCustData(Get&& get, Set&& set, const std::string& what, Where where = {}) {
    CUSTDATA cd{};
    Check(get(&cd), ("GetAll" + what).c_str(), where);
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < cd.cCustData && SUCCEEDED(hr); ++i)
        hr = set(cd.prgCustData[i].guid, &cd.prgCustData[i].varValue);
    ClearCustData(&cd);
    Check(hr, ("Set" + what).c_str(), where);
}

// Owner of the TYPEDESC chains built for one descriptor.
struct DescStore {
    std::vector<std::unique_ptr<TYPEDESC>> nodes;
    std::vector<std::unique_ptr<std::byte[]>> arrays;
};

class LibraryCopier {
public:
    LibraryCopier(ITypeLib* src, ICreateTypeLib2* dst) : src_(src), dst_(dst) {}
    void Run();

private:
    struct Pair {
        ComPtr<ITypeInfo> source;         // the type as read (interface half of a dual)
        ComPtr<ITypeInfo> dispatched;     // the interface a dispinterface is declared over
        ComPtr<ICreateTypeInfo2> target;  // the new type
        std::string name;
    };

    void CopyLibraryAttributes();
    void CopyType(Pair& p);
    void CopyFunctions(Pair& p, const TYPEATTR& ta);
    void CopyVariables(Pair& p, const TYPEATTR& ta);
    HREFTYPE MapRef(Pair& p, HREFTYPE href);
    HREFTYPE MapTypeInfo(Pair& p, ITypeInfo* ref);
    void CopyDesc(Pair& p, const TYPEDESC& from, TYPEDESC& to, DescStore& store);

    ITypeLib* src_;
    ICreateTypeLib2* dst_;
    std::vector<Pair> types_;
};

// The type to copy for library item i: the interface half of a dual, else the
// item. *dispatched receives the interface a dispinterface is declared over
// ("dispinterface D { interface I; }"), which the item names as its
// implemented type -1; its functions are then I's and are not copied.
ComPtr<ITypeInfo> SourceType(ITypeInfo* item, ComPtr<ITypeInfo>* dispatched) {
    ComPtr<ITypeInfo> ti(item);
    TYPEATTR* ta = nullptr;
    Check(item->GetTypeAttr(&ta), "GetTypeAttr");
    bool dual = ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL);
    bool dispinterface = ta->typekind == TKIND_DISPATCH && !dual;
    item->ReleaseTypeAttr(ta);
    HREFTYPE over = 0;
    if (dispinterface && SUCCEEDED(item->GetRefTypeOfImplType(static_cast<UINT>(-1), &over)))
        Check(item->GetRefTypeInfo(over, dispatched->put()), "GetRefTypeInfo(dispatched interface)");
    if (dual) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> half;
        Check(item->GetRefTypeOfImplType(static_cast<UINT>(-1), &h), "GetRefTypeOfImplType(-1)");
        Check(item->GetRefTypeInfo(h, half.put()), "GetRefTypeInfo(dual half)");
        ti = half;
    }
    return ti;
}

void LibraryCopier::CopyLibraryAttributes() {
    TLIBATTR* la = nullptr;
    Check(src_->GetLibAttr(&la), "GetLibAttr");
    TLIBATTR attr = *la;
    src_->ReleaseTLibAttr(la);
    BStr name, doc, helpFile;
    DWORD helpContext = 0;
    Check(src_->GetDocumentation(-1, name.put(), doc.put(), &helpContext, helpFile.put()), "GetDocumentation(-1)");
    Check(dst_->SetName(name.get() ? name.get() : u""), "SetName");
    Check(dst_->SetGuid(attr.guid), "SetGuid");
    Check(dst_->SetLcid(attr.lcid), "SetLcid");
    Check(dst_->SetVersion(attr.wMajorVerNum, attr.wMinorVerNum), "SetVersion");
    Check(dst_->SetLibFlags(attr.wLibFlags & ~static_cast<UINT>(LIBFLAG_FHASDISKIMAGE)), "SetLibFlags");
    if (doc.get()) Check(dst_->SetDocString(doc.get()), "SetDocString");
    if (helpFile.get()) Check(dst_->SetHelpFileName(helpFile.get()), "SetHelpFileName");
    Check(dst_->SetHelpContext(helpContext), "SetHelpContext");
    ComPtr<ITypeLib2> src2 = ComPtr<ITypeLib>(src_).As<ITypeLib2>();
    if (!src2) return;
    BStr helpString, helpDll;
    DWORD helpStringContext = 0;
    if (SUCCEEDED(src2->GetDocumentation2(-1, 0, helpString.put(), &helpStringContext, helpDll.put()))) {
        Check(dst_->SetHelpStringContext(helpStringContext), "SetHelpStringContext");
        if (helpDll.get()) Check(dst_->SetHelpStringDll(helpDll.get()), "SetHelpStringDll");
    }
    CopyCustData([&](CUSTDATA* cd) { return src2->GetAllCustData(cd); },
                 [&](const GUID& g, VARIANT* v) { return dst_->SetCustData(g, v); }, "CustData");
}

// A reference of the new type to the type `ref` names: types of the source
// library map to their copies, anything else is referenced as it is.
HREFTYPE LibraryCopier::MapTypeInfo(Pair& p, ITypeInfo* ref) {
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    Check(ref->GetContainingTypeLib(lib.put(), &index), "GetContainingTypeLib");
    ITypeInfo* target = ref;
    if (lib.get() == src_) {
        if (index >= types_.size()) throw CopyError{"reference to an unknown type", TYPE_E_ELEMENTNOTFOUND};
        target = types_[index].target.As<ITypeInfo>().get();
    }
    HREFTYPE out = 0;
    ComPtr<ITypeInfo> keep(target);
    Check(p.target->AddRefTypeInfo(keep.get(), &out), "AddRefTypeInfo");
    return out;
}

HREFTYPE LibraryCopier::MapRef(Pair& p, HREFTYPE href) {
    ComPtr<ITypeInfo> ref;
    Check(p.source->GetRefTypeInfo(href, ref.put()), "GetRefTypeInfo");
    return MapTypeInfo(p, ref.get());
}

void LibraryCopier::CopyDesc(Pair& p, const TYPEDESC& from, TYPEDESC& to, DescStore& store) {
    to = from;
    switch (from.vt) {
        case VT_PTR:
        case VT_SAFEARRAY: {
            auto node = std::make_unique<TYPEDESC>();
            CopyDesc(p, *from.lptdesc, *node, store);
            to.lptdesc = node.get();
            store.nodes.push_back(std::move(node));
            break;
        }
        case VT_CARRAY: {
            const ARRAYDESC& a = *from.lpadesc;
            size_t bytes = sizeof(ARRAYDESC) + (a.cDims > 1 ? a.cDims - 1 : 0) * sizeof(SAFEARRAYBOUND);
            auto block = std::make_unique<std::byte[]>(bytes);
            auto* copy = new (block.get()) ARRAYDESC{};
            copy->cDims = a.cDims;
            for (USHORT i = 0; i < a.cDims; ++i) copy->rgbounds[i] = a.rgbounds[i];
            CopyDesc(p, a.tdescElem, copy->tdescElem, store);
            to.lpadesc = copy;
            store.arrays.push_back(std::move(block));
            break;
        }
        case VT_USERDEFINED:
            to.hreftype = MapRef(p, from.hreftype);
            break;
        default:
            break;
    }
}

void LibraryCopier::CopyFunctions(Pair& p, const TYPEATTR& ta) {
    ComPtr<ITypeInfo2> src2 = p.source.As<ITypeInfo2>();
    for (UINT k = 0; k < ta.cFuncs; ++k) {
        const Where where{&p.name, "function", k};
        FUNCDESC* fd = nullptr;
        Check(p.source->GetFuncDesc(k, &fd), "GetFuncDesc", where);
        std::unique_ptr<FUNCDESC, std::function<void(FUNCDESC*)>> hold(
            fd, [&](FUNCDESC* f) { p.source->ReleaseFuncDesc(f); });
        DescStore store;
        FUNCDESC copy = *fd;
        std::vector<ELEMDESC> params(fd->lprgelemdescParam, fd->lprgelemdescParam + fd->cParams);
        for (SHORT i = 0; i < fd->cParams; ++i) CopyDesc(p, fd->lprgelemdescParam[i].tdesc, params[i].tdesc, store);
        CopyDesc(p, fd->elemdescFunc.tdesc, copy.elemdescFunc.tdesc, store);
        copy.lprgelemdescParam = params.empty() ? nullptr : params.data();
        Check(p.target->AddFuncDesc(k, &copy), "AddFuncDesc", where);

        // Names and help come by member id; accessors sharing an id share them.
        BSTR raw[64] = {};
        UINT count = 0;
        if (FAILED(p.source->GetNames(fd->memid, raw, 64, &count))) count = 0;
        std::vector<BStr> names(count);
        for (UINT i = 0; i < count; ++i) names[i].Attach(raw[i]);
        if (count > 0) {
            UINT limit = static_cast<UINT>(fd->cParams) + 1;
            if (fd->invkind == INVOKE_PROPERTYPUT || fd->invkind == INVOKE_PROPERTYPUTREF) limit = fd->cParams;
            UINT n = std::min(count, std::max(limit, 1u));
            std::u16string empty;
            std::vector<LPOLESTR> list;
            for (UINT i = 0; i < n; ++i) list.push_back(names[i].get() ? names[i].get() : empty.data());
            Check(p.target->SetFuncAndParamNames(k, list.data(), n), "SetFuncAndParamNames", where);
        }

        BStr doc;
        DWORD helpContext = 0;
        if (SUCCEEDED(p.source->GetDocumentation(fd->memid, nullptr, doc.put(), &helpContext, nullptr))) {
            if (doc.get()) Check(p.target->SetFuncDocString(k, doc.get()), "SetFuncDocString", where);
            if (helpContext) Check(p.target->SetFuncHelpContext(k, helpContext), "SetFuncHelpContext", where);
        }
        if (fd->funckind == FUNC_STATIC) {
            BStr dll, entry;
            WORD ordinal = 0;
            if (SUCCEEDED(p.source->GetDllEntry(fd->memid, fd->invkind, dll.put(), entry.put(), &ordinal)) &&
                dll.get()) {
                DllEntryPoint point = entry.get() ? DllEntryPoint(entry.str()) : DllEntryPoint(ordinal);
                Check(p.target->DefineFuncAsDllEntry(k, dll.get(), point), "DefineFuncAsDllEntry", where);
            }
        }
        if (src2) {
            BStr helpString, helpDll;
            DWORD helpStringContext = 0;
            if (SUCCEEDED(src2->GetDocumentation2(fd->memid, 0, helpString.put(), &helpStringContext, helpDll.put())) &&
                helpStringContext)
                Check(p.target->SetFuncHelpStringContext(k, helpStringContext), "SetFuncHelpStringContext", where);
            CopyCustData([&](CUSTDATA* cd) { return src2->GetAllFuncCustData(k, cd); },
                         [&](const GUID& g, VARIANT* v) { return p.target->SetFuncCustData(k, g, v); },
                         "FuncCustData", where);
            for (UINT a = 0; a < static_cast<UINT>(fd->cParams); ++a)
                CopyCustData([&](CUSTDATA* cd) { return src2->GetAllParamCustData(k, a, cd); },
                             [&](const GUID& g, VARIANT* v) { return p.target->SetParamCustData(k, a, g, v); },
                             "ParamCustData", where);
        }
    }
}

void LibraryCopier::CopyVariables(Pair& p, const TYPEATTR& ta) {
    ComPtr<ITypeInfo2> src2 = p.source.As<ITypeInfo2>();
    for (UINT k = 0; k < ta.cVars; ++k) {
        const Where where{&p.name, "variable", k};
        VARDESC* vd = nullptr;
        Check(p.source->GetVarDesc(k, &vd), "GetVarDesc", where);
        std::unique_ptr<VARDESC, std::function<void(VARDESC*)>> hold(
            vd, [&](VARDESC* v) { p.source->ReleaseVarDesc(v); });
        DescStore store;
        VARDESC copy = *vd;
        CopyDesc(p, vd->elemdescVar.tdesc, copy.elemdescVar.tdesc, store);
        Check(p.target->AddVarDesc(k, &copy), "AddVarDesc", where);
        BStr name;
        UINT count = 0;
        BSTR raw = nullptr;
        if (SUCCEEDED(p.source->GetNames(vd->memid, &raw, 1, &count)) && count == 1) {
            name.Attach(raw);
            if (name.get()) Check(p.target->SetVarName(k, name.get()), "SetVarName", where);
        }
        BStr doc;
        DWORD helpContext = 0;
        if (SUCCEEDED(p.source->GetDocumentation(vd->memid, nullptr, doc.put(), &helpContext, nullptr))) {
            if (doc.get()) Check(p.target->SetVarDocString(k, doc.get()), "SetVarDocString", where);
            if (helpContext) Check(p.target->SetVarHelpContext(k, helpContext), "SetVarHelpContext", where);
        }
        if (src2) {
            BStr helpString, helpDll;
            DWORD helpStringContext = 0;
            if (SUCCEEDED(src2->GetDocumentation2(vd->memid, 0, helpString.put(), &helpStringContext, helpDll.put())) &&
                helpStringContext)
                Check(p.target->SetVarHelpStringContext(k, helpStringContext), "SetVarHelpStringContext", where);
            CopyCustData([&](CUSTDATA* cd) { return src2->GetAllVarCustData(k, cd); },
                         [&](const GUID& g, VARIANT* v) { return p.target->SetVarCustData(k, g, v); },
                         "VarCustData", where);
        }
    }
}

void LibraryCopier::CopyType(Pair& p) {
    TYPEATTR* raw = nullptr;
    Check(p.source->GetTypeAttr(&raw), "GetTypeAttr", Where{&p.name});
    std::unique_ptr<TYPEATTR, std::function<void(TYPEATTR*)>> ta(
        raw, [&](TYPEATTR* a) { p.source->ReleaseTypeAttr(a); });
    ICreateTypeInfo2* t = p.target.get();
    if (ta->guid != GUID_NULL) Check(t->SetGuid(ta->guid), "SetGuid", Where{&p.name});
    Check(t->SetVersion(ta->wMajorVerNum, ta->wMinorVerNum), "SetVersion", Where{&p.name});
    Check(t->SetTypeFlags(ta->wTypeFlags), "SetTypeFlags", Where{&p.name});
    Check(t->SetAlignment(ta->cbAlignment), "SetAlignment", Where{&p.name});
    if (ta->idldescType.wIDLFlags) {
        IDLDESC idl = ta->idldescType;
        Check(t->SetTypeIdldesc(&idl), "SetTypeIdldesc", Where{&p.name});
    }
    BStr doc;
    DWORD helpContext = 0;
    Check(p.source->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), &helpContext, nullptr),
          "GetDocumentation", Where{&p.name});
    if (doc.get()) Check(t->SetDocString(doc.get()), "SetDocString", Where{&p.name});
    if (helpContext) Check(t->SetHelpContext(helpContext), "SetHelpContext", Where{&p.name});
    ComPtr<ITypeInfo2> src2 = p.source.As<ITypeInfo2>();
    if (src2) {
        BStr helpString, helpDll;
        DWORD helpStringContext = 0;
        if (SUCCEEDED(src2->GetDocumentation2(MEMBERID_NIL, 0, helpString.put(), &helpStringContext, helpDll.put())) &&
            helpStringContext)
            Check(t->SetHelpStringContext(helpStringContext), "SetHelpStringContext", Where{&p.name});
        CopyCustData([&](CUSTDATA* cd) { return src2->GetAllCustData(cd); },
                     [&](const GUID& g, VARIANT* v) { return t->SetCustData(g, v); }, "CustData", Where{&p.name});
    }
    if (ta->typekind == TKIND_ALIAS) {
        DescStore store;
        TYPEDESC alias{};
        CopyDesc(p, ta->tdescAlias, alias, store);
        Check(t->SetTypeDescAlias(&alias), "SetTypeDescAlias", Where{&p.name});
    }
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        const Where where{&p.name, "implemented type", k};
        HREFTYPE h = 0;
        Check(p.source->GetRefTypeOfImplType(k, &h), "GetRefTypeOfImplType", where);
        HREFTYPE mapped = MapRef(p, h);
        Check(t->AddImplType(k, mapped), "AddImplType", where);
        if (ta->typekind == TKIND_COCLASS) {
            INT flags = 0;
            Check(p.source->GetImplTypeFlags(k, &flags), "GetImplTypeFlags", where);
            Check(t->SetImplTypeFlags(k, flags), "SetImplTypeFlags", where);
        }
        if (src2) {
            CopyCustData([&](CUSTDATA* cd) { return src2->GetAllImplTypeCustData(k, cd); },
                         [&](const GUID& g, VARIANT* v) { return t->SetImplTypeCustData(k, g, v); },
                         "ImplTypeCustData", where);
        }
    }
    if (p.dispatched) {
        const Where where{&p.name, "implemented type", ta->cImplTypes};
        Check(t->AddImplType(ta->cImplTypes, MapTypeInfo(p, p.dispatched.get())), "AddImplType", where);
    } else {
        CopyFunctions(p, *ta);
    }
    CopyVariables(p, *ta);
}

void LibraryCopier::Run() {
    CopyLibraryAttributes();
    // Every type first, so that references between them can be made in any order.
    UINT n = src_->GetTypeInfoCount();
    for (UINT i = 0; i < n; ++i) {
        ComPtr<ITypeInfo> item;
        Check(src_->GetTypeInfo(i, item.put()), "GetTypeInfo " + std::to_string(i));
        Pair p;
        p.source = SourceType(item.get(), &p.dispatched);
        TYPEATTR* ta = nullptr;
        Check(p.source->GetTypeAttr(&ta), "GetTypeAttr " + std::to_string(i));
        TYPEKIND kind = ta->typekind;
        p.source->ReleaseTypeAttr(ta);
        BStr name;
        Check(p.source->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr),
              "GetDocumentation " + std::to_string(i));
        p.name = name.utf8();
        ComPtr<ICreateTypeInfo> created;
        Check(dst_->CreateTypeInfo(name.get() ? name.get() : u"", kind, created.put()), "CreateTypeInfo", Where{&p.name});
        Check(created.As(&p.target), "ICreateTypeInfo2 of", Where{&p.name});
        types_.push_back(std::move(p));
    }
    for (Pair& p : types_) CopyType(p);
    for (Pair& p : types_) Check(p.target->LayOut(), "LayOut", Where{&p.name});
}

}  // namespace

HRESULT CopyTypeLib(ITypeLib* src, ICreateTypeLib2* dst, std::string* error) {
    if (!src || !dst) return E_INVALIDARG;
    try {
        LibraryCopier(src, dst).Run();
        return S_OK;
    } catch (const CopyError& e) {
        if (error) *error = e.what;
        return e.hr;
    } catch (const std::bad_alloc&) {
        if (error) *error = "allocation";
        return E_OUTOFMEMORY;
    }
}

}  // namespace tlbtools

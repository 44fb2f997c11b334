// libFuzzer target: loads arbitrary bytes as a type library (MSFT, SLTG or a
// PE image with a TYPELIB resource) and, when that succeeds, asks the library
// for everything a reader can ask for. The two format readers also get the
// bytes directly. Any crash, leak, hang or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>

#include "platform/tlbfiles/MsftReader.h"
#include "platform/tlbfiles/SltgReader.h"
#include "platform/tlbfiles/TypeLibFiles.h"

using namespace ole;

namespace {

void WalkType(ITypeInfo* ti, int depth);

void WalkTypeDesc(ITypeInfo* ti, const TYPEDESC* td) {
    for (int guard = 0; td && guard < 64; ++guard) {
        if (td->vt == VT_PTR || td->vt == VT_SAFEARRAY) {
            td = td->lptdesc;
        } else if (td->vt == VT_CARRAY) {
            td = &td->lpadesc->tdescElem;
        } else {
            if (td->vt == VT_USERDEFINED) {
                ComPtr<ITypeInfo> r;
                if (SUCCEEDED(ti->GetRefTypeInfo(td->hreftype, r.put())) && r) {
                    BStr n;
                    r->GetDocumentation(MEMBERID_NIL, n.put(), nullptr, nullptr, nullptr);
                }
            }
            return;
        }
    }
}

void WalkType(ITypeInfo* ti, int depth) {
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta)) || !ta) return;
    BStr name, doc;
    DWORD ctx = 0;
    ti->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), &ctx, nullptr);
    ComPtr<ITypeInfo2> t2 = ComPtr<ITypeInfo>(ti).As<ITypeInfo2>();
    CUSTDATA cd{};
    if (t2 && SUCCEEDED(t2->GetAllCustData(&cd))) ClearCustData(&cd);
    if (ta->typekind == TKIND_ALIAS) WalkTypeDesc(ti, &ta->tdescAlias);
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        HREFTYPE h = 0;
        INT flags = 0;
        ti->GetImplTypeFlags(k, &flags);
        ComPtr<ITypeInfo> r;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h))) ti->GetRefTypeInfo(h, r.put());
        if (t2 && SUCCEEDED(t2->GetAllImplTypeCustData(k, &cd))) ClearCustData(&cd);
    }
    for (UINT k = 0; k < ta->cFuncs; ++k) {
        FUNCDESC* fd = nullptr;
        if (FAILED(ti->GetFuncDesc(k, &fd)) || !fd) continue;
        BSTR names[64] = {};
        UINT cn = 0;
        if (SUCCEEDED(ti->GetNames(fd->memid, names, 64, &cn)))
            for (UINT q = 0; q < cn && q < 64; ++q) SysFreeString(names[q]);
        BStr fdoc;
        ti->GetDocumentation(fd->memid, nullptr, fdoc.put(), &ctx, nullptr);
        if (fd->funckind == FUNC_STATIC) {
            BStr dll, entry;
            WORD ord = 0;
            ti->GetDllEntry(fd->memid, fd->invkind, dll.put(), entry.put(), &ord);
        }
        WalkTypeDesc(ti, &fd->elemdescFunc.tdesc);
        for (SHORT p = 0; p < fd->cParams; ++p) {
            WalkTypeDesc(ti, &fd->lprgelemdescParam[p].tdesc);
            const PARAMDESCEX* ex = fd->lprgelemdescParam[p].paramdesc.pparamdescex;
            if ((fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && ex) {
                VARIANT s;
                VariantInit(&s);
                if (SUCCEEDED(VariantChangeTypeEx(&s, &ex->varDefaultValue, 0x409, 0, VT_BSTR))) VariantClear(&s);
            }
            if (t2 && SUCCEEDED(t2->GetAllParamCustData(k, p, &cd))) ClearCustData(&cd);
        }
        if (t2 && SUCCEEDED(t2->GetAllFuncCustData(k, &cd))) ClearCustData(&cd);
        ti->ReleaseFuncDesc(fd);
    }
    for (UINT k = 0; k < ta->cVars; ++k) {
        VARDESC* vd = nullptr;
        if (FAILED(ti->GetVarDesc(k, &vd)) || !vd) continue;
        BStr vn;
        UINT cn = 0;
        BSTR raw = nullptr;
        if (SUCCEEDED(ti->GetNames(vd->memid, &raw, 1, &cn))) vn.Attach(raw);
        WalkTypeDesc(ti, &vd->elemdescVar.tdesc);
        if (vd->varkind == VAR_CONST && vd->lpvarValue) {
            VARIANT s;
            VariantInit(&s);
            if (SUCCEEDED(VariantChangeTypeEx(&s, vd->lpvarValue, 0x409, 0, VT_BSTR))) VariantClear(&s);
        }
        if (t2 && SUCCEEDED(t2->GetAllVarCustData(k, &cd))) ClearCustData(&cd);
        ti->ReleaseVarDesc(vd);
    }
    if (depth == 0 && ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> half;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) &&
            SUCCEEDED(ti->GetRefTypeInfo(h, half.put())) && half)
            WalkType(half.get(), 1);
    }
    ti->ReleaseTypeAttr(ta);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(LoadTypeLibFromMemory(data, size, u"fuzz.tlb", lib.put())) && lib) {
        TLIBATTR* la = nullptr;
        if (SUCCEEDED(lib->GetLibAttr(&la))) lib->ReleaseTLibAttr(la);
        ComPtr<ITypeLib2> lib2 = lib.As<ITypeLib2>();
        CUSTDATA cd{};
        if (lib2 && SUCCEEDED(lib2->GetAllCustData(&cd))) ClearCustData(&cd);
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> ti;
            if (SUCCEEDED(lib->GetTypeInfo(i, ti.put())) && ti) WalkType(ti.get(), 0);
        }
    }
    std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    LibraryData out;
    (void)ReadMsft(bytes, &out);
    (void)ReadSltg(bytes, &out);
    return 0;
}

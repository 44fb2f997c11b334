// The dump routine shared by the tlbdump tool and the tests.
#include "DumpTypeLib.h"

#include <cstdarg>
#include <cstdio>
#include <string>

using namespace ole;

namespace tlbtools {

namespace {

// Output of the dump being made (one dump at a time per thread).
thread_local std::string out;



void put(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void put(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}
void puts_(const char* s) { out.append(s); }

void pguid(const GUID& g) {
    put("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1],
        g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

void pbstr(BSTR b) {
    if (!b) {
        puts_("(null)");
        return;
    }
    out.push_back('"');
    UINT n = SysStringLen(b);
    for (UINT i = 0; i < n; i++) {
        char16_t c = b[i];
        if (c == u'"' || c == u'\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c >= 32 && c < 127) {
            out.push_back(static_cast<char>(c));
        } else {
            put("\\u%04X", static_cast<unsigned>(c));
        }
    }
    out.push_back('"');
}

void pvar(const VARIANT* v) {
    put("vt=%d:", v->vt);
    if (v->vt == VT_BSTR) {
        pbstr(v->bstrVal);
        return;
    }
    VARIANT s;
    VariantInit(&s);
    if (SUCCEEDED(VariantChangeTypeEx(&s, v, 0x409, 0, VT_BSTR))) {
        pbstr(s.bstrVal);
        VariantClear(&s);
    } else {
        puts_("?");
    }
}

void ptd(ITypeInfo* ti, const TYPEDESC* td) {
    switch (td->vt) {
    case VT_PTR:
        puts_("ptr(");
        ptd(ti, td->lptdesc);
        puts_(")");
        break;
    case VT_SAFEARRAY:
        puts_("safearray(");
        ptd(ti, td->lptdesc);
        puts_(")");
        break;
    case VT_CARRAY:
        puts_("carray(");
        for (int i = 0; i < td->lpadesc->cDims; i++)
            put("[%d+%u]", td->lpadesc->rgbounds[i].lLbound, td->lpadesc->rgbounds[i].cElements);
        ptd(ti, &td->lpadesc->tdescElem);
        puts_(")");
        break;
    case VT_USERDEFINED: {
        ITypeInfo* r = nullptr;
        BSTR n = nullptr;
        if (SUCCEEDED(ti->GetRefTypeInfo(td->hreftype, &r)) && r) {
            ITypeLib* tl = nullptr;
            UINT idx = 0;
            BSTR ln = nullptr;
            r->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr);
            if (SUCCEEDED(r->GetContainingTypeLib(&tl, &idx)) && tl) {
                tl->GetDocumentation(-1, &ln, nullptr, nullptr, nullptr);
                tl->Release();
            }
            puts_("udt(");
            pbstr(ln);
            puts_(".");
            pbstr(n);
            puts_(")");
            SysFreeString(n);
            SysFreeString(ln);
            r->Release();
        } else {
            puts_("udt(unresolved)");
        }
        break;
    }
    default: put("vt%d", td->vt);
    }
}

void pcust(const char* ind, CUSTDATA* cd) {
    for (ULONG i = 0; i < cd->cCustData; i++) {
        put("%scustdata ", ind);
        pguid(cd->prgCustData[i].guid);
        puts_(" = ");
        pvar(&cd->prgCustData[i].varValue);
        puts_("\n");
    }
    ClearCustData(cd);
}

void pdoc2(const char* ind, ITypeInfo2* t2, MEMBERID id) {
    BSTR hs = nullptr, dll = nullptr;
    DWORD hc = 0;
    if (t2 && SUCCEEDED(t2->GetDocumentation2(id, 0, &hs, &hc, &dll))) {
        put("%shelpstringctx=%u helpstringdll=", ind, hc);
        pbstr(dll);
        puts_("\n");
        SysFreeString(hs);
        SysFreeString(dll);
    }
}

void dumptype(ITypeInfo* ti, bool follow_dual) {
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta)) || !ta) {
        puts_("GETATTRFAIL\n");
        return;
    }
    BSTR tn = nullptr, tdoc = nullptr;
    DWORD thc = 0;
    ti->GetDocumentation(MEMBERID_NIL, &tn, &tdoc, &thc, nullptr);
    pbstr(tn);
    put(" kind=%d ", ta->typekind);
    pguid(ta->guid);
    put(" v%d.%d flags=0x%x align=%d size=%u vtbl=%d funcs=%d vars=%d impl=%d\n", ta->wMajorVerNum, ta->wMinorVerNum,
        ta->wTypeFlags, ta->cbAlignment, ta->cbSizeInstance, ta->cbSizeVft, ta->cFuncs, ta->cVars, ta->cImplTypes);
    puts_("  doc=");
    pbstr(tdoc);
    put(" helpctx=%u\n", thc);
    SysFreeString(tn);
    SysFreeString(tdoc);
    ITypeInfo2* t2 = nullptr;
    ti->QueryInterface(ITypeInfo2::kIID, reinterpret_cast<void**>(&t2));
    pdoc2("  ", t2, MEMBERID_NIL);
    // The dispatch view of a dual interface is synthesised; its members'
    // second-level documentation and custom data come from the interface half.
    bool dispview = ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL);
    if (t2) {
        CUSTDATA cd{};
        if (SUCCEEDED(t2->GetAllCustData(&cd))) pcust("  ", &cd);
    }
    if (ta->typekind == TKIND_ALIAS) {
        puts_("  alias ");
        ptd(ti, &ta->tdescAlias);
        puts_("\n");
    }
    for (int k = 0; k < ta->cImplTypes; k++) {
        HREFTYPE h = 0;
        INT f = 0;
        ITypeInfo* r = nullptr;
        BSTR rn = nullptr;
        ti->GetImplTypeFlags(k, &f);
        if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h)) && SUCCEEDED(ti->GetRefTypeInfo(h, &r)) && r) {
            r->GetDocumentation(MEMBERID_NIL, &rn, nullptr, nullptr, nullptr);
            r->Release();
        }
        put("  impl %d ", k);
        pbstr(rn);
        put(" flags=0x%x\n", f);
        SysFreeString(rn);
    }
    for (int k = 0; k < ta->cFuncs; k++) {
        FUNCDESC* fd = nullptr;
        BSTR names[64] = {};
        UINT cn = 0;
        if (FAILED(ti->GetFuncDesc(k, &fd)) || !fd) {
            put("  func %d GETFAIL\n", k);
            continue;
        }
        if (FAILED(ti->GetNames(fd->memid, names, 64, &cn))) cn = 0;
        put("  func %d ", k);
        if (cn) pbstr(names[0]);
        put(" id=0x%08X kind=%d invoke=%d cc=%d params=%d opt=%d vtoff=%d flags=0x%x ret=", static_cast<unsigned>(fd->memid),
            fd->funckind, fd->invkind, fd->callconv, fd->cParams, fd->cParamsOpt, fd->oVft, fd->wFuncFlags);
        ptd(ti, &fd->elemdescFunc.tdesc);
        put(" retflags=0x%x\n", fd->elemdescFunc.paramdesc.wParamFlags);
        BSTR fdoc = nullptr;
        DWORD fhc = 0;
        ti->GetDocumentation(fd->memid, nullptr, &fdoc, &fhc, nullptr);
        puts_("    doc=");
        pbstr(fdoc);
        put(" helpctx=%u\n", fhc);
        SysFreeString(fdoc);
        if (fd->funckind == FUNC_STATIC) {
            BSTR dll = nullptr, ent = nullptr;
            WORD ord = 0;
            if (SUCCEEDED(ti->GetDllEntry(fd->memid, fd->invkind, &dll, &ent, &ord))) {
                puts_("    dll=");
                pbstr(dll);
                puts_(" entry=");
                if (ent)
                    pbstr(ent);
                else
                    put("#%u", ord);
                puts_("\n");
                SysFreeString(dll);
                SysFreeString(ent);
            }
        }
        if (t2 && !dispview) {
            CUSTDATA cd{};
            if (SUCCEEDED(t2->GetAllFuncCustData(k, &cd))) pcust("    ", &cd);
            BSTR hs = nullptr, dll = nullptr;
            DWORD hsc = 0;
            if (SUCCEEDED(t2->GetDocumentation2(fd->memid, 0, &hs, &hsc, &dll))) {
                put("    helpstringctx=%u\n", hsc);
                SysFreeString(hs);
                SysFreeString(dll);
            }
        }
        for (int p = 0; p < fd->cParams; p++) {
            const ELEMDESC* ed = &fd->lprgelemdescParam[p];
            put("    param %d ", p);
            if (static_cast<UINT>(p + 1) < cn) pbstr(names[p + 1]);
            put(" pflags=0x%x type=", ed->paramdesc.wParamFlags);
            ptd(ti, &ed->tdesc);
            if ((ed->paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && ed->paramdesc.pparamdescex) {
                puts_(" default=");
                pvar(&ed->paramdesc.pparamdescex->varDefaultValue);
            }
            puts_("\n");
            if (t2 && !dispview) {
                CUSTDATA cd{};
                if (SUCCEEDED(t2->GetAllParamCustData(k, p, &cd))) pcust("      ", &cd);
            }
        }
        for (UINT q = 0; q < cn && q < 64; q++) SysFreeString(names[q]);
        ti->ReleaseFuncDesc(fd);
    }
    for (int k = 0; k < ta->cVars; k++) {
        VARDESC* vd = nullptr;
        BSTR vn = nullptr;
        UINT cn = 0;
        if (FAILED(ti->GetVarDesc(k, &vd)) || !vd) {
            put("  var %d GETFAIL\n", k);
            continue;
        }
        ti->GetNames(vd->memid, &vn, 1, &cn);
        put("  var %d ", k);
        pbstr(vn);
        put(" id=0x%08X kind=%d flags=0x%x type=", static_cast<unsigned>(vd->memid), vd->varkind, vd->wVarFlags);
        ptd(ti, &vd->elemdescVar.tdesc);
        if (vd->varkind == VAR_CONST && vd->lpvarValue) {
            puts_(" value=");
            pvar(vd->lpvarValue);
        } else {
            put(" offset=%u", vd->varkind == VAR_CONST ? 0u : vd->oInst);
        }
        puts_("\n");
        BSTR vdoc = nullptr;
        DWORD vhc = 0;
        ti->GetDocumentation(vd->memid, nullptr, &vdoc, &vhc, nullptr);
        puts_("    doc=");
        pbstr(vdoc);
        put(" helpctx=%u\n", vhc);
        SysFreeString(vdoc);
        if (t2) {
            CUSTDATA cd{};
            if (SUCCEEDED(t2->GetAllVarCustData(k, &cd))) pcust("    ", &cd);
            BSTR hs = nullptr, dll = nullptr;
            DWORD hsc = 0;
            if (SUCCEEDED(t2->GetDocumentation2(vd->memid, 0, &hs, &hsc, &dll))) {
                put("    helpstringctx=%u\n", hsc);
                SysFreeString(hs);
                SysFreeString(dll);
            }
        }
        SysFreeString(vn);
        ti->ReleaseVarDesc(vd);
    }
    for (int k = 0; k < ta->cImplTypes; k++) {
        if (t2 && ta->typekind == TKIND_COCLASS) {
            CUSTDATA cd{};
            if (SUCCEEDED(t2->GetAllImplTypeCustData(k, &cd))) pcust("    impl-", &cd);
        }
    }
    if (follow_dual && ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE h = 0;
        ITypeInfo* half = nullptr;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) && SUCCEEDED(ti->GetRefTypeInfo(h, &half)) &&
            half) {
            puts_("  dual-interface-half ");
            dumptype(half, false);
            half->Release();
        } else {
            puts_("  dual-interface-half MISSING\n");
        }
    }
    if (t2) t2->Release();
    ti->ReleaseTypeAttr(ta);
}

}  // namespace

std::string DumpTypeLib(ITypeLib* tl) {
    out.clear();
    TLIBATTR* la = nullptr;
    tl->GetLibAttr(&la);
    BSTR name = nullptr, doc = nullptr, hf = nullptr;
    DWORD hc = 0;
    tl->GetDocumentation(-1, &name, &doc, &hc, &hf);
    puts_("library ");
    pbstr(name);
    puts_(" ");
    if (la) {
        pguid(la->guid);
        put(" v%d.%d lcid=%u syskind=%d flags=0x%x\n", la->wMajorVerNum, la->wMinorVerNum, la->lcid, la->syskind,
            la->wLibFlags);
    } else {
        puts_("GETATTRFAIL\n");
    }
    puts_("  doc=");
    pbstr(doc);
    puts_(" helpfile=");
    pbstr(hf);
    put(" helpctx=%u\n", hc);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(hf);
    if (la) tl->ReleaseTLibAttr(la);
    ITypeLib2* tl2 = nullptr;
    tl->QueryInterface(ITypeLib2::kIID, reinterpret_cast<void**>(&tl2));
    if (tl2) {
        CUSTDATA cd{};
        if (SUCCEEDED(tl2->GetAllCustData(&cd))) pcust("  ", &cd);
        BSTR hs = nullptr, dll = nullptr;
        DWORD hsc = 0;
        if (SUCCEEDED(tl2->GetDocumentation2(-1, 0, &hs, &hsc, &dll))) {
            put("  helpstringctx=%u helpstringdll=", hsc);
            pbstr(dll);
            puts_("\n");
            SysFreeString(hs);
            SysFreeString(dll);
        }
        tl2->Release();
    }
    UINT n = tl->GetTypeInfoCount();
    for (UINT i = 0; i < n; i++) {
        ITypeInfo* ti = nullptr;
        if (FAILED(tl->GetTypeInfo(i, &ti)) || !ti) {
            put("type %u GETFAIL\n", i);
            continue;
        }
        put("type %u ", i);
        dumptype(ti, true);
        ti->Release();
    }
    std::string result;
    result.swap(out);
    return result;
}

std::string WithCrLf(const std::string& text) {
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf.push_back('\r');
        crlf.push_back(c);
    }
    return crlf;
}

HRESULT DumpTypeLibFile(const std::u16string& path, std::string* text) {
    ITypeLib* tl = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &tl);
    if (FAILED(hr) || !tl) {
        char buf[32];
        snprintf(buf, sizeof buf, "LOADFAIL 0x%08X\n", static_cast<unsigned>(hr));
        *text = buf;
        return FAILED(hr) ? hr : E_FAIL;
    }
    *text = DumpTypeLib(tl);
    tl->Release();
    return S_OK;
}

}  // namespace tlbtools

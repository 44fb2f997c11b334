// Helpers for the engine tests: building libraries through the creation
// interfaces and reading back what the reading interfaces report.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "support/TypeLibBuilder.h"

namespace enginetest {

using namespace ole;
using testsupport::TypeDescs;
using testsupport::User;

inline ComPtr<ICreateTypeLib2> NewLib(SYSKIND sys = SYS_WIN32) {
    ComPtr<ICreateTypeLib2> lib;
    EXPECT_OK(CreateTypeLib2(sys, u"", lib.put()));
    return lib;
}

inline ComPtr<ICreateTypeInfo2> NewType(ICreateTypeLib2* lib, const char16_t* name, TYPEKIND kind) {
    ComPtr<ICreateTypeInfo> ti;
    EXPECT_OK(lib->CreateTypeInfo(name, kind, ti.put()));
    return ti.As<ICreateTypeInfo2>();
}

template <class T>
ComPtr<ITypeInfo2> Read(const ComPtr<T>& p) {
    return p.template As<ITypeInfo2>();
}

inline TYPEDESC Td(VARTYPE vt) {
    TYPEDESC t{};
    t.vt = vt;
    return t;
}

inline ELEMDESC Elem(VARTYPE vt, USHORT flags = PARAMFLAG_FIN) {
    ELEMDESC e{};
    e.tdesc.vt = vt;
    e.paramdesc.wParamFlags = flags;
    return e;
}

// A FUNCDESC over caller-owned parameters.
inline FUNCDESC Func(FUNCKIND fk, INVOKEKIND ik, VARTYPE ret, std::vector<ELEMDESC>& params,
                     MEMBERID memid = MEMBERID_NIL, SHORT oVft = 0) {
    FUNCDESC f{};
    f.memid = memid;
    f.funckind = fk;
    f.invkind = ik;
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<SHORT>(params.size());
    f.lprgelemdescParam = params.empty() ? nullptr : params.data();
    f.oVft = oVft;
    f.elemdescFunc.tdesc.vt = ret;
    return f;
}

inline HRESULT AddFunc(ICreateTypeInfo* ti, UINT index, FUNCKIND fk, INVOKEKIND ik = INVOKE_FUNC,
                       VARTYPE ret = VT_HRESULT, std::vector<VARTYPE> params = {}, MEMBERID memid = MEMBERID_NIL,
                       SHORT oVft = 0) {
    std::vector<ELEMDESC> elems;
    for (VARTYPE vt : params) elems.push_back(Elem(vt));
    FUNCDESC f = Func(fk, ik, ret, elems, memid, oVft);
    return ti->AddFuncDesc(index, &f);
}

inline HRESULT SetNames(ICreateTypeInfo* ti, UINT index, std::vector<std::u16string> names) {
    std::vector<LPOLESTR> ptrs;
    for (auto& n : names) ptrs.push_back(n.data());
    return ti->SetFuncAndParamNames(index, ptrs.data(), static_cast<UINT>(ptrs.size()));
}

inline HRESULT AddVar(ICreateTypeInfo* ti, UINT index, VARKIND kind, VARTYPE vt, const char16_t* name,
                      const VARIANT* value = nullptr, MEMBERID memid = MEMBERID_NIL) {
    VARDESC v{};
    v.memid = memid;
    v.varkind = kind;
    v.elemdescVar.tdesc.vt = vt;
    VARIANT copy{};
    if (value) {
        copy = *value;
        v.lpvarValue = &copy;
    }
    HRESULT hr = ti->AddVarDesc(index, &v);
    if (SUCCEEDED(hr) && name) hr = ti->SetVarName(index, name);
    return hr;
}

// TYPEATTR values (the alias chain is not kept).
inline TYPEATTR Attr(ITypeInfo* ti) {
    TYPEATTR* p = nullptr;
    TYPEATTR copy{};
    EXPECT_OK(ti->GetTypeAttr(&p));
    if (p) {
        copy = *p;
        copy.tdescAlias = TYPEDESC{};
        copy.lpstrSchema = nullptr;
        ti->ReleaseTypeAttr(p);
    }
    return copy;
}

struct FuncInfo {
    MEMBERID memid = 0;
    FUNCKIND funckind = FUNC_VIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    SHORT cParams = 0;
    SHORT cParamsOpt = 0;
    SHORT oVft = 0;
    VARTYPE ret = 0;
    WORD flags = 0;
};

inline FuncInfo FuncAt(ITypeInfo* ti, UINT index) {
    FUNCDESC* f = nullptr;
    FuncInfo r;
    EXPECT_OK(ti->GetFuncDesc(index, &f));
    if (f) {
        r = FuncInfo{f->memid, f->funckind, f->invkind, f->cParams, f->cParamsOpt, f->oVft, f->elemdescFunc.tdesc.vt,
                     f->wFuncFlags};
        ti->ReleaseFuncDesc(f);
    }
    return r;
}

// VARDESC values; a constant's offset (where it keeps its value pointer) reads as 0.
inline VARDESC VarAt(ITypeInfo* ti, UINT index) {
    VARDESC* v = nullptr;
    VARDESC copy{};
    EXPECT_OK(ti->GetVarDesc(index, &v));
    if (v) {
        copy = *v;
        if (v->varkind == VAR_CONST) copy.oInst = 0;
        copy.elemdescVar = ELEMDESC{};
        ti->ReleaseVarDesc(v);
    }
    return copy;
}

inline std::vector<std::u16string> NamesOf(ITypeInfo* ti, MEMBERID memid, UINT max = 16) {
    std::vector<BSTR> names(max, nullptr);
    UINT n = 0;
    std::vector<std::u16string> r;
    if (FAILED(ti->GetNames(memid, names.data(), max, &n))) return r;
    for (UINT i = 0; i < n; ++i) {
        r.emplace_back(BstrView(names[i]));
        SysFreeString(names[i]);
    }
    return r;
}

inline std::u16string NameOf(ITypeInfo* ti) {
    BStr name;
    EXPECT_OK(ti->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    return name.str();
}

// A small standard library made through the creation interfaces: IUnknown and
// IDispatch with their platform GUIDs, laid out.
struct StdBases {
    ComPtr<ICreateTypeLib2> lib;
    ComPtr<ITypeInfo> unknown;
    ComPtr<ITypeInfo> dispatch;

    StdBases() {
        lib = NewLib();
        lib->SetName(u"stdole");
        lib->SetGuid(kStdOleLibGuid);
        lib->SetVersion(2, 0);
        auto unk = NewType(lib.get(), u"IUnknown", TKIND_INTERFACE);
        unk->SetGuid(kIID_IUnknown);
        AddFunc(unk.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4, VT_I4});
        AddFunc(unk.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_UI4);
        AddFunc(unk.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_UI4);
        SetNames(unk.get(), 0, {u"QueryInterface", u"riid", u"ppvObj"});
        SetNames(unk.get(), 1, {u"AddRef"});
        SetNames(unk.get(), 2, {u"Release"});
        EXPECT_OK(unk->LayOut());
        unknown = Read(unk);

        auto disp = NewType(lib.get(), u"IDispatch", TKIND_INTERFACE);
        disp->SetGuid(kIID_IDispatch);
        HREFTYPE h = 0;
        EXPECT_OK(disp->AddRefTypeInfo(unknown.get(), &h));
        EXPECT_OK(disp->AddImplType(0, h));
        const char16_t* names[] = {u"GetTypeInfoCount", u"GetTypeInfo", u"GetIDsOfNames", u"Invoke"};
        for (UINT i = 0; i < 4; ++i) {
            AddFunc(disp.get(), i, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4});
            SetNames(disp.get(), i, {names[i]});
        }
        EXPECT_OK(disp->LayOut());
        dispatch = Read(disp);
    }
};

// A reference to a type of another library, added to ti.
inline HREFTYPE RefTo(ICreateTypeInfo* ti, ITypeInfo* target) {
    HREFTYPE h = 0;
    EXPECT_OK(ti->AddRefTypeInfo(target, &h));
    return h;
}

}  // namespace enginetest

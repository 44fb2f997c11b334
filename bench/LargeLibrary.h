// A large library for the benchmarks, built through the creation interfaces:
// a record and `interfaces` interfaces derived from IUnknown, each with
// `methods` methods (20 unless asked) taking a few parameters (numbers,
// strings, an out pointer to the record and an optional variant) and a doc
// string, and, when `largeMethods` is given, one more interface "IHuge" with
// that many methods. 1200 interfaces make a file of well over 2 MB.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbfiles/TypeLibFiles.h"

namespace benchlib {

using namespace ole;

inline std::filesystem::path Folder(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::u16string U16(const std::string& s) { return FromUtf8(s); }

inline void Require(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed");
}

inline void BuildLarge(const std::u16string& path, int interfaces = 1200, int methods = 20, int largeMethods = 0) {
    ComPtr<ICreateTypeLib2> lib;
    Require(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()), "CreateTypeLib2");
    Require(lib->SetName(u"LargeLibrary"), "SetName");
    GUID libGuid{0x7E570000, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    Require(lib->SetGuid(libGuid), "SetGuid");
    ComPtr<ITypeLib> std;
    Require(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, std.put()), "stdole2");
    ComPtr<ITypeInfo> unknown;
    Require(std->GetTypeInfoOfGuid(kIID_IUnknown, unknown.put()), "IUnknown");

    ComPtr<ICreateTypeInfo> rec;
    Require(lib->CreateTypeInfo(u"Record", TKIND_RECORD, rec.put()), "CreateTypeInfo");
    for (UINT v = 0; v < 4; ++v) {
        VARDESC vd{};
        vd.memid = MEMBERID_NIL;
        vd.varkind = VAR_PERINSTANCE;
        vd.elemdescVar.tdesc.vt = v % 2 ? VT_BSTR : VT_I4;
        Require(rec->AddVarDesc(v, &vd), "AddVarDesc");
        std::u16string name = u"field" + U16(std::to_string(v));
        Require(rec->SetVarName(v, name.c_str()), "SetVarName");
    }
    ComPtr<ITypeInfo> recInfo = rec.As<ITypeInfo>();

    const int count = interfaces + (largeMethods > 0 ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        const bool huge = i == interfaces;
        std::u16string name = huge ? std::u16string(u"IHuge") : u"ILarge" + U16(std::to_string(i));
        ComPtr<ICreateTypeInfo> ct;
        Require(lib->CreateTypeInfo(name.c_str(), TKIND_INTERFACE, ct.put()), "CreateTypeInfo");
        ComPtr<ICreateTypeInfo2> t;
        Require(ct.As(&t), "ICreateTypeInfo2");
        GUID g = libGuid;
        g.Data1 += static_cast<uint32_t>(i + 1);
        Require(t->SetGuid(g), "SetGuid");
        HREFTYPE base = 0, recRef = 0;
        Require(t->AddRefTypeInfo(unknown.get(), &base), "AddRefTypeInfo");
        Require(t->AddImplType(0, base), "AddImplType");
        Require(t->AddRefTypeInfo(recInfo.get(), &recRef), "AddRefTypeInfo");
        for (int m = 0, n = huge ? largeMethods : methods; m < n; ++m) {
            TYPEDESC recType{};
            recType.vt = VT_USERDEFINED;
            recType.hreftype = recRef;
            ELEMDESC params[4]{};
            params[0].tdesc.vt = VT_I4;
            params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[1].tdesc.vt = VT_BSTR;
            params[1].paramdesc.wParamFlags = PARAMFLAG_FIN;
            params[2].tdesc.vt = VT_PTR;
            params[2].tdesc.lptdesc = &recType;
            params[2].paramdesc.wParamFlags = PARAMFLAG_FOUT;
            PARAMDESCEX def{24, {}};
            def.varDefaultValue.vt = VT_I4;
            def.varDefaultValue.lVal = m;
            params[3].tdesc.vt = VT_VARIANT;
            params[3].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
            params[3].paramdesc.pparamdescex = &def;
            FUNCDESC fd{};
            fd.memid = MEMBERID_NIL;
            fd.funckind = FUNC_PUREVIRTUAL;
            fd.invkind = INVOKE_FUNC;
            fd.callconv = CC_STDCALL;
            fd.cParams = 4;
            fd.lprgelemdescParam = params;
            fd.elemdescFunc.tdesc.vt = VT_HRESULT;
            Require(t->AddFuncDesc(static_cast<UINT>(m), &fd), "AddFuncDesc");
            std::u16string method = u"Method" + U16(std::to_string(i)) + u"_" + U16(std::to_string(m));
            std::u16string names[] = {method, u"count", u"text", u"result", u"extra"};
            LPOLESTR list[] = {names[0].data(), names[1].data(), names[2].data(), names[3].data(), names[4].data()};
            Require(t->SetFuncAndParamNames(static_cast<UINT>(m), list, 5), "SetFuncAndParamNames");
            std::u16string doc = u"Does step " + U16(std::to_string(m)) + u" of " + name;
            Require(t->SetFuncDocString(static_cast<UINT>(m), doc.c_str()), "SetFuncDocString");
        }
    }
    Require(lib->SaveAllChanges(), "SaveAllChanges");
}

}  // namespace benchlib

// CustomTypeInfo: adding functions, constants and data members.
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modTYPEDESC.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

namespace {

constexpr int32_t kPutKinds = ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF;
constexpr int32_t kAccessorKinds = ole::INVOKE_PROPERTYGET | kPutKinds;

// The member ID of ti's own property of that name (its accessors'), or
// MEMBERID_NIL when the type has no property of that name.
ole::MEMBERID PropertyId(ole::ITypeInfo2* ti, std::u16string_view name) {
    std::u16string n(name);
    ole::LPOLESTR names[1] = {n.data()};
    ole::MEMBERID id = ole::MEMBERID_NIL;
    if (n.empty() || FAILED(ti->GetIDsOfNames(names, 1, &id))) return ole::MEMBERID_NIL;
    // The name may be a base interface's, or a function's that is no accessor.
    ole::UINT index = 0;
    for (ole::INVOKEKIND kind : {ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF})
        if (SUCCEEDED(ti->GetFuncIndexOfMemId(id, kind, &index))) return id;
    return ole::MEMBERID_NIL;
}

}  // namespace

int32_t CustomTypeInfo::CountParameters(std::span<const ParamData> params, int32_t invokeKind) {
    const int32_t count = static_cast<int32_t>(params.size());
    if (count > 0x7FFF) RaiseError(kErrInvalidArgument);
    if ((invokeKind & kPutKinds) && count == 0) RaiseError(kErrInvalidArgument);
    return count;
}

FuncData CustomTypeInfo::DefaultFuncData() { return FuncData{}; }

void CustomTypeInfo::AddFunction(std::u16string_view name, tli::VarTypeInfo* vtInfoReturn,
                                 std::span<ParamData> params, int32_t invokeKind, int32_t memID, int16_t flags,
                                 int32_t callConv, std::u16string_view dllName, const ole::Variant& dllEntry) {
    FuncData fd;
    fd.InvokeKind = invokeKind;
    fd.MemID = memID;
    fd.Flags = flags;
    fd.CallConv = callConv;
    fd.DllName = std::u16string(dllName);
    fd.DllEntry = dllEntry;
    AddFunctionEx(name, vtInfoReturn, params, fd);
}

void CustomTypeInfo::AddFunctionEx(std::u16string_view name, tli::VarTypeInfo* vtInfoReturn,
                                   std::span<ParamData> params, const FuncData& funcData) {
    RefuseOwnMembers();
    RequireStorable(name);
    for (const ParamData& p : params) {
        RequireStorable(p.Name);
        RequireStorable(p.DefaultValue.get());
    }
    RequireStorable(funcData.DllName);
    RequireStorable(funcData.DllEntry.get());
    ole::FUNCKIND funcKind = ole::FUNC_PUREVIRTUAL;
    ole::DllEntryPoint entry;
    switch (typeKind_) {
        case ole::TKIND_MODULE:
            if (funcData.DllName.empty()) RaiseError(kErrInvalidArgument);
            if (funcData.DllEntry.vt() == ole::VT_I2)
                entry = static_cast<ole::WORD>(funcData.DllEntry.get().iVal);
            else if (funcData.DllEntry.vt() == ole::VT_BSTR)
                entry = std::u16string(ole::BstrView(funcData.DllEntry.get().bstrVal));
            else
                RaiseError(kErrInvalidArgument);
            funcKind = ole::FUNC_STATIC;
            break;
        case ole::TKIND_INTERFACE:
            funcKind = ole::FUNC_PUREVIRTUAL;
            break;
        case ole::TKIND_DISPATCH:
            funcKind = ole::FUNC_DISPATCH;
            break;
        default:
            RaiseError(kErrInvalidArgument);
    }
    if (!vtInfoReturn) RaiseError(kErrInvalidArgument);

    ole::FUNCDESC fd{};
    fd.memid = funcData.MemID;
    // An accessor with the default ID joins the property of its name, so that
    // the property keeps one DISPID.
    if (fd.memid == ole::MEMBERID_NIL && (funcData.InvokeKind & kAccessorKinds))
        fd.memid = PropertyId(ITypeInfo2().get(), name);
    fd.funckind = funcKind;
    fd.invkind = static_cast<ole::INVOKEKIND>(funcData.InvokeKind);
    fd.callconv = static_cast<ole::CALLCONV>(funcData.CallConv);
    fd.oVft = funcData.VTableOffset;
    fd.wFuncFlags = static_cast<ole::WORD>(funcData.Flags);
    const int32_t cParams = CountParameters(params, funcData.InvokeKind);
    fd.cParams = static_cast<ole::SHORT>(cParams);

    // The value parameter of a put gets no name.
    size_t nameCount = static_cast<size_t>(cParams) + 1;
    if (funcData.InvokeKind & kPutKinds) --nameCount;
    std::vector<std::u16string> names;
    names.emplace_back(name);
    for (size_t i = 0; i + 1 < nameCount; ++i) names.push_back(params[i].Name);

    TypeDescOwner owner;
    modTYPEDESC::BuildTypeDesc(owner, type_.get(), vtInfoReturn, &fd.elemdescFunc.tdesc);
    std::vector<ole::ELEMDESC> elems(static_cast<size_t>(cParams));
    std::vector<ole::PARAMDESCEX> defaults(static_cast<size_t>(cParams));
    for (size_t i = 0; i < elems.size(); ++i) {
        ParamData& p = params[i];
        if (!p.VTInfo) RaiseError(kErrInvalidArgument);
        modTYPEDESC::BuildTypeDesc(owner, type_.get(), p.VTInfo.get(), &elems[i].tdesc);
        if (p.Flags & ole::PARAMFLAG_FHASDEFAULT) p.Flags |= ole::PARAMFLAG_FOPT;
        elems[i].paramdesc.wParamFlags = static_cast<ole::USHORT>(p.Flags & 0xFFFF);
        if (p.Flags & ole::PARAMFLAG_FHASDEFAULT) {
            defaults[i].cBytes = 24;
            defaults[i].varDefaultValue = p.DefaultValue.get();  // borrowed for the call
            elems[i].paramdesc.pparamdescex = &defaults[i];
        }
        if ((p.Flags & 0x30) == ole::PARAMFLAG_FOPT)
            ++fd.cParamsOpt;
        else if (p.ParamArray)
            fd.cParamsOpt = -1;
    }
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();

    ole::UINT index = 0;
    if (funcData.InsertPosition >= 0) {
        index = static_cast<ole::UINT>(funcData.InsertPosition);
    } else {
        TypeAttr attr(ITypeInfo().get());
        index = attr->cFuncs;
    }
    CheckHr(type_->AddFuncDesc(index, &fd));
    ScopeGuard rollback([&] { CheckHr(type_->DeleteFuncDesc(index)); });
    std::vector<ole::LPOLESTR> ptrs;
    for (std::u16string& n : names) ptrs.push_back(n.data());
    CheckHr(type_->SetFuncAndParamNames(index, ptrs.data(), static_cast<ole::UINT>(ptrs.size())));
    if (typeKind_ == ole::TKIND_MODULE) CheckHr(type_->DefineFuncAsDllEntry(index, funcData.DllName.c_str(), entry));
    rollback.Dismiss();
}

void CustomTypeInfo::AddConstant(std::u16string_view name, const ole::Variant& value, int16_t flags,
                                 int32_t insertPosition) {
    RequireStorable(name);
    RequireStorable(value.get());
    ole::Variant constant(value);
    ole::VARTYPE vt = ole::VT_INT;
    int32_t varCount = 0;
    {
        TypeAttr attr(ITypeInfo().get());
        varCount = attr->cVars;
    }
    ole::UINT index = static_cast<ole::UINT>(varCount);
    if (typeKind_ == ole::TKIND_ENUM) {
        CheckHr(constant.ChangeType(ole::VT_I4));
        if (insertPosition != -1 && insertPosition >= 0 && insertPosition <= varCount)
            index = static_cast<ole::UINT>(insertPosition);
    } else if (typeKind_ == ole::TKIND_MODULE) {
        vt = constant.vt();
        if ((vt & 0x7000) || vt == ole::VT_DISPATCH || vt == ole::VT_UNKNOWN || vt == ole::VT_PTR ||
            vt == ole::VT_USERDEFINED)
            RaiseError(kErrInvalidArgument);
    } else {
        RaiseError(kErrInvalidArgument);
    }

    ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    type->SetType(vt, nullptr);
    ole::VARDESC vd{};
    vd.memid = ole::MEMBERID_NIL;
    vd.lpvarValue = constant.ptr();
    vd.wVarFlags = static_cast<ole::WORD>(flags);
    vd.varkind = ole::VAR_CONST;
    TypeDescOwner owner;
    modTYPEDESC::BuildTypeDesc(owner, type_.get(), type.get(), &vd.elemdescVar.tdesc);
    CheckHr(type_->AddVarDesc(index, &vd));
    ScopeGuard rollback([&] { CheckHr(type_->DeleteVarDesc(index)); });
    const std::u16string text(name);
    CheckHr(type_->SetVarName(index, text.c_str()));
    CheckHr(type_->LayOut());
    rollback.Dismiss();
}

void CustomTypeInfo::AddProperty(std::u16string_view name, tli::VarTypeInfo* vtInfo, int32_t memID, int16_t flags,
                                 int32_t insertPosition) {
    RefuseOwnMembers();
    RequireStorable(name);
    int32_t varCount = 0;
    {
        TypeAttr attr(ITypeInfo().get());
        varCount = attr->cVars;
    }
    ole::UINT index = static_cast<ole::UINT>(varCount);
    ole::VARKIND kind = ole::VAR_PERINSTANCE;
    if (typeKind_ == ole::TKIND_RECORD || typeKind_ == ole::TKIND_UNION) {
        if (insertPosition != -1 && insertPosition >= 0 && insertPosition <= varCount)
            index = static_cast<ole::UINT>(insertPosition);
    } else if (typeKind_ == ole::TKIND_DISPATCH) {
        kind = ole::VAR_DISPATCH;
    } else {
        RaiseError(kErrInvalidArgument);
    }
    if (!vtInfo) RaiseError(kErrInvalidArgument);
    ole::VARDESC vd{};
    vd.memid = memID;
    vd.wVarFlags = static_cast<ole::WORD>(flags);
    vd.varkind = kind;
    TypeDescOwner owner;
    modTYPEDESC::BuildTypeDesc(owner, type_.get(), vtInfo, &vd.elemdescVar.tdesc);
    CheckHr(type_->AddVarDesc(index, &vd));
    ScopeGuard rollback([&] { CheckHr(type_->DeleteVarDesc(index)); });
    const std::u16string text(name);
    CheckHr(type_->SetVarName(index, text.c_str()));
    CheckHr(type_->LayOut());
    rollback.Dismiss();
}

}  // namespace zephrin

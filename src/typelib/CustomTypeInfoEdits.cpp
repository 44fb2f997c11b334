// CustomTypeInfo: member and parameter edits. All but deleting and renaming
// go through the member rebuild engine; setting a default-member flag takes
// it from the member that had it.
#include <algorithm>
#include <array>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;

namespace {

constexpr std::array<ole::INVOKEKIND, 4> kKinds = {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET,
                                                   ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF};

int32_t FuncIndex(ole::ITypeInfo2* ti, ole::MEMBERID memberID, ole::INVOKEKIND kind) {
    ole::UINT index = 0;
    return SUCCEEDED(ti->GetFuncIndexOfMemId(memberID, kind, &index)) ? static_cast<int32_t>(index) : -1;
}

}  // namespace

void CustomTypeInfo::SetMemberReturnType(int32_t memberID, tli::VarTypeInfo* vtInfoReturn) {
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t varIndex = VarIndexOfMemId(ti.get(), memberID);
    if (varIndex >= 0) {
        VarRebuildData request;
        RebuildVariable(ti.get(), memberID, varIndex, vtInfoReturn, request, VarRebuildData::kType);
        return;
    }
    ParamData pd;
    pd.VTInfo = ole::ComPtr<tli::VarTypeInfo>(vtInfoReturn);
    FuncRebuildData request;
    RebuildFunction(ti.get(), memberID, 0, 0, pd, request, FuncRebuildData::kType);
}

void CustomTypeInfo::SetConstantValue(int32_t memberID, const ole::Variant& constVal) {
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    ole::UINT index = 0;
    CheckHr(ti->GetVarIndexOfMemId(memberID, &index));
    VarRebuildData request;
    request.Value = constVal;
    RebuildVariable(ti.get(), memberID, static_cast<int32_t>(index), nullptr, request, VarRebuildData::kValue);
}

void CustomTypeInfo::SetParameterType(int32_t memberID, int32_t paramID, ParamData& paramData, int32_t invKind,
                                      int32_t newInvKind) {
    FuncRebuildData request;
    int32_t fields = FuncRebuildData::kType;
    if (newInvKind != 0) {
        request.InvokeKind = newInvKind;
        fields |= FuncRebuildData::kInvokeKind;
    }
    RebuildFunction(ITypeInfo2().get(), memberID, invKind, paramID + 1, paramData, request, fields);
}

void CustomTypeInfo::RemoveParamArray(int32_t memberID) {
    ParamData none;
    FuncRebuildData request;
    RebuildFunction(ITypeInfo2().get(), memberID, 0, 0, none, request, FuncRebuildData::kDropParamArray);
}

void CustomTypeInfo::MakeParameterName(std::u16string& name, ole::ITypeInfo2* ti, const std::u16string& functionName) {
    const std::u16string base = name.empty() ? modSupport::LoadResStringById(789) : name;
    std::u16string fn = functionName;
    for (uint32_t i = 1; i <= modMarbrel::kMaxUniqueNameCandidates; ++i) {
        std::u16string candidate = base + modSupport::FormatItem(i).Text;
        ole::LPOLESTR names[2] = {fn.data(), candidate.data()};
        ole::MEMBERID ids[2] = {ole::MEMBERID_NIL, ole::MEMBERID_NIL};
        if (FAILED(ti->GetIDsOfNames(names, 2, ids))) {
            name = candidate;
            return;
        }
    }
    RaiseError(kErrInvalidArgument);
}

void CustomTypeInfo::InsertParameter(int32_t memberID, int32_t newParamId, ParamData& paramData, bool fAutoName) {
    if (newParamId < 0) RaiseError(kErrSubscriptOutOfRange);
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    if (fAutoName) {
        if (paramData.Flags & ole::PARAMFLAG_FRETVAL)
            paramData.Name = modSupport::LoadResStringById(763);
        else if (paramData.Flags & ole::PARAMFLAG_FLCID)
            paramData.Name = modSupport::LoadResStringById(764);
        else
            MakeParameterName(paramData.Name, ti.get(), modITypeInfoHelper::MemberNameFromID(ti.get(), memberID));
    }
    FuncRebuildData request;
    RebuildFunction(ti.get(), memberID, 0, newParamId + 1, paramData, request, FuncRebuildData::kInsertParam);
}

void CustomTypeInfo::DeleteParameter(int32_t memberID, int32_t paramID) {
    ParamData none;
    FuncRebuildData request;
    RebuildFunction(ITypeInfo2().get(), memberID, 0, paramID + 1, none, request, FuncRebuildData::kDeleteParam);
}

void CustomTypeInfo::SetMemberID(int32_t memberID, int32_t newMemberID) {
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    if (newMemberID != ole::MEMBERID_NIL &&
        SUCCEEDED(ti->GetDocumentation(newMemberID, nullptr, nullptr, nullptr, nullptr)))
        RaiseError(ole::TYPE_E_DUPLICATEID);
    const int32_t varIndex = VarIndexOfMemId(ti.get(), memberID);
    if (varIndex >= 0) {
        VarRebuildData request;
        request.MemID = newMemberID;
        RebuildVariable(ti.get(), memberID, varIndex, nullptr, request, VarRebuildData::kMemID);
        return;
    }
    ParamData none;
    FuncRebuildData request;
    request.MemID = newMemberID;
    RebuildFunction(ti.get(), memberID, 0, 0, none, request, FuncRebuildData::kMemID);
}

void CustomTypeInfo::ModifyMember(int32_t memberID, int32_t invKind, ModifyData& modifyData) {
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t varIndex = VarIndexOfMemId(ti.get(), memberID);
    const int32_t mask = modifyData.FieldMask;
    constexpr int32_t kDefaults = ole::FUNCFLAG_FUIDEFAULT | ole::FUNCFLAG_FDEFAULTBIND;
    // A new member ID is followed by name when a default flag is to move.
    std::u16string name;
    const bool idAndDefault = (mask & ModifyData::kMemID) && (mask & ModifyData::kFlags) &&
                              (modifyData.Flags & kDefaults);
    int32_t newDefaults = 0;
    int32_t appliedFlags = 0;
    if (varIndex < 0) {
        FuncRebuildData request;
        ParamData pd;
        int32_t fields = 0;
        if (mask & ModifyData::kMemID) request.MemID = modifyData.MemID, fields |= FuncRebuildData::kMemID;
        if (mask & ModifyData::kFlags) request.Flags = modifyData.Flags, fields |= FuncRebuildData::kFlags;
        if (mask & ModifyData::kVTInfo) pd.VTInfo = modifyData.VTInfo, fields |= FuncRebuildData::kType;
        if (mask & ModifyData::kDllName) request.DllName = modifyData.DllName, fields |= FuncRebuildData::kDllName;
        if (mask & ModifyData::kDllEntry) request.DllEntry = modifyData.DllEntry, fields |= FuncRebuildData::kDllEntry;
        if (mask & ModifyData::kInvokeKind)
            request.InvokeKind = modifyData.InvokeKind, fields |= FuncRebuildData::kInvokeKind;
        if (idAndDefault) name = modITypeInfoHelper::MemberNameFromID(ti.get(), memberID);
        RebuildFunction(ti.get(), memberID, invKind, 0, pd, request, fields);
        appliedFlags = request.Flags;
        newDefaults = request.NewDefaultFlags;
    } else {
        VarRebuildData request;
        int32_t fields = 0;
        if (mask & ModifyData::kConstantValue) {
            if (typeKind_ != ole::TKIND_ENUM && typeKind_ != ole::TKIND_MODULE) RaiseError(kErrInvalidArgument);
            request.Value = modifyData.ConstantValue;
            fields |= VarRebuildData::kValue;
        }
        if (mask & ModifyData::kMemID) request.MemID = modifyData.MemID, fields |= VarRebuildData::kMemID;
        if (mask & ModifyData::kFlags) request.Flags = modifyData.Flags, fields |= VarRebuildData::kFlags;
        if (mask & ModifyData::kVTInfo) fields |= VarRebuildData::kType;
        if (idAndDefault) name = modITypeInfoHelper::MemberNameFromID(ti.get(), memberID);
        RebuildVariable(ti.get(), memberID, varIndex, modifyData.VTInfo.get(), request, fields);
        appliedFlags = request.Flags;
        newDefaults = request.NewDefaultFlags;
    }
    if (!(mask & ModifyData::kFlags)) return;
    modifyData.Flags = appliedFlags;
    if (newDefaults == 0) return;
    ole::MEMBERID id = memberID;
    if (mask & ModifyData::kMemID) id = modITypeInfoHelper::MemberIDFromName(ti.get(), name);
    for (int32_t flag : {static_cast<int32_t>(ole::FUNCFLAG_FUIDEFAULT), static_cast<int32_t>(ole::FUNCFLAG_FDEFAULTBIND)}) {
        if (!(newDefaults & flag)) continue;
        const int32_t funcInvKind = flag == ole::FUNCFLAG_FUIDEFAULT ? invKind : 0;
        if (varIndex < 0) {
            if (!ClearFuncFlagOnOthers(ti.get(), id, funcInvKind, flag)) ClearVarFlagOnOthers(ti.get(), id, flag);
        } else {
            if (!ClearVarFlagOnOthers(ti.get(), id, flag)) ClearFuncFlagOnOthers(ti.get(), id, 0, flag);
        }
    }
}

bool CustomTypeInfo::ClearFuncFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind,
                                           int32_t flag) {
    ole::UINT count = 0;
    {
        TypeAttr attr(ti);
        count = attr->cFuncs;
    }
    for (ole::UINT i = 0; i < count; ++i) {
        FuncDescHolder fd(ti, i);
        if (!(fd->wFuncFlags & flag)) continue;
        const bool other = fd->memid != memberID || (invKind != 0 && fd->invkind != invKind);
        if (!other) continue;
        const ole::MEMBERID id = fd->memid;
        const int32_t kind = fd->invkind;
        FuncRebuildData request;
        request.Flags = fd->wFuncFlags & ~flag;
        fd.Release();
        ParamData none;
        RebuildFunction(ti, id, kind, 0, none, request, FuncRebuildData::kFlags);
        return true;
    }
    return false;
}

bool CustomTypeInfo::ClearVarFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t flag) {
    ole::UINT count = 0;
    {
        TypeAttr attr(ti);
        count = attr->cVars;
    }
    for (ole::UINT i = 0; i < count; ++i) {
        ole::VARDESC* vd = nullptr;
        CheckHr(ti->GetVarDesc(i, &vd));
        const ole::MEMBERID id = vd->memid;
        const int32_t flags = vd->wVarFlags;
        ti->ReleaseVarDesc(vd);
        if (!(flags & flag) || id == memberID) continue;
        VarRebuildData request;
        request.Flags = flags & ~flag;
        RebuildVariable(ti, id, static_cast<int32_t>(i), nullptr, request, VarRebuildData::kFlags);
        return true;
    }
    return false;
}

void CustomTypeInfo::SetMemberName(int32_t memberID, std::u16string_view newName) {
    RenameMemberOrParameter(ITypeInfo2().get(), memberID, 0, newName);
}

void CustomTypeInfo::SetParameterName(int32_t memberID, int32_t paramID, std::u16string_view newParamName) {
    if (paramID < 0) RaiseError(kErrSubscriptOutOfRange);
    RenameMemberOrParameter(ITypeInfo2().get(), memberID, paramID + 1, newParamName);
}

void CustomTypeInfo::RenameMemberOrParameter(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t position,
                                             std::u16string_view newName) {
    const std::u16string text(newName);
    if (position == 0) {
        const int32_t varIndex = VarIndexOfMemId(ti, memberID);
        if (varIndex >= 0) {
            CheckHr(type_->SetVarName(static_cast<ole::UINT>(varIndex), text.c_str()));
            return;
        }
    }
    std::vector<std::u16string> names;
    size_t c = 0;
    bool read = false;
    for (ole::INVOKEKIND kind : kKinds) {
        const int32_t index = FuncIndex(ti, memberID, kind);
        if (index < 0) continue;
        if (!read) {
            FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
            const int32_t n = fd->cParams;
            const bool put = (fd->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
            fd.Release();
            if (position > (put ? n - 1 : n)) RaiseError(kErrSubscriptOutOfRange);
            std::vector<ole::BSTR> raw(static_cast<size_t>(n) + 1, nullptr);
            ole::UINT got = 0;
            const ole::HRESULT hr = ti->GetNames(memberID, raw.data(), static_cast<ole::UINT>(raw.size()), &got);
            names.assign(static_cast<size_t>(n) + 1, std::u16string());
            for (ole::UINT i = 0; i < got && i < raw.size(); ++i) names[i] = std::u16string(ole::BstrView(raw[i]));
            for (ole::BSTR b : raw) ole::SysFreeString(b);
            CheckHr(hr);
            c = got;
            // A name beyond the ones the platform gave: extend up to it.
            if (static_cast<size_t>(position) >= c && static_cast<size_t>(position) <= static_cast<size_t>(n) &&
                !(put && position >= n))
                c = static_cast<size_t>(position) + 1;
            if (static_cast<size_t>(position) >= c) continue;
            names[static_cast<size_t>(position)] = text;
            std::vector<ole::LPOLESTR> ptrs;
            for (size_t i = 0; i < c; ++i) ptrs.push_back(names[i].data());
            CheckHr(type_->SetFuncAndParamNames(static_cast<ole::UINT>(index), ptrs.data(),
                                                static_cast<ole::UINT>(c)));
            read = true;
            if (kind == ole::INVOKE_FUNC) break;
            if (kind == ole::INVOKE_PROPERTYGET && c == static_cast<size_t>(n) + 1) --c;
            continue;
        }
        if (static_cast<size_t>(position) >= c) continue;
        // Another accessor of the property: as many names as it takes.
        FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
        size_t take = static_cast<size_t>(fd->cParams) + 1;
        if (fd->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) take = fd->cParams;
        fd.Release();
        take = std::min(take, c);
        if (static_cast<size_t>(position) >= take) continue;
        std::vector<ole::LPOLESTR> ptrs;
        for (size_t i = 0; i < take; ++i) ptrs.push_back(names[i].data());
        CheckHr(type_->SetFuncAndParamNames(static_cast<ole::UINT>(index), ptrs.data(), static_cast<ole::UINT>(take)));
    }
}

void CustomTypeInfo::DeleteMember(int32_t memberID, int32_t invKind) {
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t kinds = invKind == 0 ? 15 : (invKind & 15);
    ole::UINT varIndex = 0;
    if (SUCCEEDED(ti->GetVarIndexOfMemId(memberID, &varIndex))) {
        CheckHr(type_->DeleteVarDesc(varIndex));
        --cVars_;
        return;
    }
    if (kinds == 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    std::array<int32_t, 4> indexes{-1, -1, -1, -1};
    for (size_t k = 0; k < 4; ++k) {
        if (!(kinds & kKinds[k])) continue;
        indexes[k] = FuncIndex(ti.get(), memberID, kKinds[k]);
        if (k == 0 && indexes[k] >= 0) break;
    }
    for (size_t k = 0; k < 4; ++k) {
        if (indexes[k] < 0) continue;
        CheckHr(type_->DeleteFuncDesc(static_cast<ole::UINT>(indexes[k])));
        --cFuncs_;
        for (size_t j = k + 1; j < 4; ++j)
            if (indexes[j] > indexes[k]) --indexes[j];
    }
}

}  // namespace zephrin

// CustomTypeInfo: member and parameter edits. All but deleting and renaming
// go through the member rebuild engine; setting a default-member flag takes
// it from the member that had it.
#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "foundation/ScopeGuard.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/VtableChecks.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using modITypeInfoHelper::VarIndexOfMemId;

namespace {

constexpr std::array<ole::INVOKEKIND, 4> kKinds = {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET,
                                                   ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF};

int32_t FuncIndex(ole::ITypeInfo2* ti, ole::MEMBERID memberID, ole::INVOKEKIND kind) {
    ole::UINT index = 0;
    return SUCCEEDED(ti->GetFuncIndexOfMemId(memberID, kind, &index)) ? static_cast<int32_t>(index) : -1;
}

// A function takes one return value at most, as its last parameter, and one
// locale parameter at most: error 5 for a parameter with flags inserted at
// position that breaks this in any accessor.
void CheckInsertedParameter(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t position, int32_t flags,
                            int32_t kinds) {
    constexpr int32_t kOnce = ole::PARAMFLAG_FRETVAL | ole::PARAMFLAG_FLCID;
    constexpr const char16_t* kRetvalLast = u"A function has one return value parameter at most, and it comes last.";
    constexpr const char16_t* kOneLcid = u"A function has one locale ID parameter at most.";
    for (ole::INVOKEKIND kind : kKinds) {
        if (kinds != 0 && !(kinds & kind)) continue;
        const int32_t index = FuncIndex(ti, memberID, kind);
        if (index < 0) continue;
        FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
        // A position past the end is the rebuild's to refuse. A property's
        // accessor ends in its value or return value, but for a Get that
        // returns the value itself.
        const bool valueLast = kind != ole::INVOKE_FUNC &&
                               (kind != ole::INVOKE_PROPERTYGET || modITypeInfoHelper::HasRetvalParam(*fd));
        if (position > fd->cParams - (valueLast ? 1 : 0)) continue;
        if ((flags & ole::PARAMFLAG_FRETVAL) && position < fd->cParams) RaiseError(kErrInvalidArgument, kRetvalLast);
        for (int32_t p = 0; p < fd->cParams; ++p) {
            const int32_t existing = fd->lprgelemdescParam[p].paramdesc.wParamFlags;
            if ((existing & flags & kOnce) || ((existing & ole::PARAMFLAG_FRETVAL) && position > p))
                RaiseError(kErrInvalidArgument, (existing & flags & ole::PARAMFLAG_FLCID) ? kOneLcid : kRetvalLast);
        }
        if (kind == ole::INVOKE_FUNC) break;
    }
}

// A parameter's flags set anew at position in each accessor that takes them
// (as SetParameterType rebuilds them): error 5 for a return value that is not
// last, or a return value or locale parameter the function has already.
void CheckParameterFlags(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind, int32_t position,
                         int32_t flags) {
    constexpr int32_t kOnce = ole::PARAMFLAG_FRETVAL | ole::PARAMFLAG_FLCID;
    if (!(flags & kOnce)) return;
    for (ole::INVOKEKIND kind : kKinds) {
        if ((invKind & 15) == ole::INVOKE_FUNC && kind != ole::INVOKE_FUNC) continue;
        const int32_t index = FuncIndex(ti, memberID, kind);
        if (index < 0) continue;
        FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
        const int32_t n = fd->cParams;
        if (position >= n) continue;
        const int32_t existing = fd->lprgelemdescParam[position].paramdesc.wParamFlags;
        // Another accessor of the property keeps its own return value or value.
        const bool own = invKind == 0 || (invKind & kind) != 0;
        const bool put = (kind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
        if (!own && position == n - 1 && ((existing & ole::PARAMFLAG_FRETVAL) || put)) continue;
        const int32_t gained = flags & ~existing & kOnce;
        if ((gained & ole::PARAMFLAG_FRETVAL) && position != n - 1) RaiseError(kErrInvalidArgument);
        for (int32_t p = 0; p < n; ++p)
            if (p != position && (fd->lprgelemdescParam[p].paramdesc.wParamFlags & gained))
                RaiseError(kErrInvalidArgument);
        if (kind == ole::INVOKE_FUNC) break;
    }
}

// Error TYPE_E_AMBIGUOUSNAME when a member of the base interfaces of ti (an
// interface or dispinterface) has name. A base that can't be read holds no names.
void CheckNameFreeInBases(ole::ITypeInfo2* ti, ole::TYPEKIND kind, const std::u16string& name) {
    if (kind != ole::TKIND_INTERFACE && kind != ole::TKIND_DISPATCH) return;
    {
        TypeAttr attr(ti);
        if (attr->cImplTypes == 0) return;
    }
    ole::HREFTYPE href = 0;
    ComPtr<ole::ITypeInfo> base;
    if (FAILED(ti->GetRefTypeOfImplType(0, &href)) || FAILED(ti->GetRefTypeInfo(href, base.put()))) return;
    // The lookup by name follows the base's own bases.
    if (!modMarbrel::IsMemberNameFree(base.get(), name)) RaiseError(ole::TYPE_E_AMBIGUOUSNAME);
}

}  // namespace

void CustomTypeInfo::SetMemberReturnType(int32_t memberID, tli::VarTypeInfo* vtInfoReturn) {
    if (auto declarer = DispatchedDeclarer(memberID)) {
        ScopeGuard undo;
        declarer->SetPresentedReturnType(memberID, 0, vtInfoReturn, undo);
        undo.Dismiss();
        return;
    }
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
    RequireStorable(constVal.get());
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    ole::UINT index = 0;
    CheckHr(ti->GetVarIndexOfMemId(memberID, &index));
    VarRebuildData request;
    request.Value = constVal;
    RebuildVariable(ti.get(), memberID, static_cast<int32_t>(index), nullptr, request, VarRebuildData::kValue);
}

void CustomTypeInfo::SetParameterType(int32_t memberID, int32_t paramID, ParamData& paramData, int32_t invKind,
                                      int32_t newInvKind) {
    // A dispinterface declared over an interface shows the parameters of the
    // interface's functions at their places (a return value and a locale
    // parameter last are not shown).
    if (auto declarer = DispatchedDeclarer(memberID))
        return declarer->SetParameterType(memberID, paramID, paramData, invKind, newInvKind);
    RequireStorable(paramData.Name);
    RequireStorable(paramData.DefaultValue.get());
    CheckParameterFlags(ITypeInfo2().get(), memberID, invKind, paramID, paramData.Flags);
    FuncRebuildData request;
    int32_t fields = FuncRebuildData::kType;
    if (newInvKind != 0) {
        request.InvokeKind = newInvKind;
        fields |= FuncRebuildData::kInvokeKind;
    }
    RebuildFunction(ITypeInfo2().get(), memberID, invKind, paramID + 1, paramData, request, fields);
}

void CustomTypeInfo::SetPresentedReturnType(int32_t memberID, int32_t invKind, tli::VarTypeInfo* type,
                                            ScopeGuard& undo) {
    if (!type) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    int32_t index = -1;
    ole::INVOKEKIND kind = ole::INVOKE_FUNC;
    for (ole::INVOKEKIND k : kKinds) {
        if (invKind != 0 && !(invKind & k)) continue;
        index = FuncIndex(ti.get(), memberID, k);
        kind = k;
        if (index >= 0) break;
    }
    if (index < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    ComPtr<ole::ITypeLib> lib;
    CheckHr(library_.As(&lib));
    const ComPtr<CustomVarTypeInfo> shown = CustomVarTypeInfo::CopyWithPointers(type, lib.get(), 0);
    const bool none = shown->BaseVarType() == ole::VT_VOID && shown->PointerLevel() == 0 && shown->ArrayKind() == 0 &&
                      !shown->TypeInfo();
    FuncDescHolder fd(ti.get(), static_cast<ole::UINT>(index));
    const int32_t count = fd->cParams;
    const bool hresult = fd->elemdescFunc.tdesc.vt == ole::VT_HRESULT;
    if (!modITypeInfoHelper::HasRetvalParam(*fd)) {
        const ComPtr<CustomVarTypeInfo> returned = CustomVarTypeInfo::New();
        returned->DuplicateFromTypeDesc(fd->elemdescFunc.tdesc, lib.get(), ti.get());
        fd.Release();
        if (!hresult) {
            // Shown as it is: set as it is.
            const auto set = [this, memberID, kind](tli::VarTypeInfo* to) {
                ParamData pd;
                pd.VTInfo = ole::ComPtr<tli::VarTypeInfo>(to);
                FuncRebuildData request;
                RebuildFunction(ITypeInfo2().get(), memberID, kind, 0, pd, request, FuncRebuildData::kType);
            };
            set(type);
            undo.OnFailure([set, returned] { set(returned->GetVarTypeInfo().get()); });
            return;
        }
        if (none) return;  // an HRESULT is shown as nothing
        // A method gains a return value parameter last; an accessor, whose
        // parameters end in its value, can't.
        if (kind != ole::INVOKE_FUNC)
            RaiseError(kErrInvalidArgument, u"The accessor returns an HRESULT and no value in the interface over which "
                                            u"the dispinterface is declared; give it a return value parameter there.");
        ParamData retval;
        retval.Flags = ole::PARAMFLAG_FOUT | ole::PARAMFLAG_FRETVAL;
        retval.VTInfo = CustomVarTypeInfo::CopyWithPointers(type, lib.get(), 1)->GetVarTypeInfo();
        InsertParameter(memberID, count, retval, true);
        undo.OnFailure([this, memberID, count] { DeleteParameter(memberID, count); });
        return;
    }
    // The return value parameter points to what is shown.
    const int32_t position = count - 1;
    ParamData old;
    old.Flags = fd->lprgelemdescParam[position].paramdesc.wParamFlags;
    const ComPtr<CustomVarTypeInfo> held = CustomVarTypeInfo::New();
    held->DuplicateFromTypeDesc(fd->lprgelemdescParam[position].tdesc, lib.get(), ti.get());
    old.VTInfo = held->GetVarTypeInfo();
    fd.Release();
    if (none) {
        if (kind != ole::INVOKE_FUNC)
            RaiseError(kErrInvalidArgument, u"The accessor returns its value through a return value parameter in the "
                                            u"interface over which the dispinterface is declared; it can't return "
                                            u"nothing.");
        const std::vector<std::u16string> names = ReadNames(ti.get(), memberID, static_cast<ole::UINT>(count) + 1);
        old.Name = names.size() > static_cast<size_t>(count) ? names[static_cast<size_t>(count)] : std::u16string();
        // Put back, the parameter takes its custom data again.
        const CustItems cust = ReadCust(modITypeInfoHelper::GetParamCustData(ti.get(), static_cast<ole::UINT>(index),
                                                                             static_cast<ole::UINT>(position)));
        DeleteParameter(memberID, position);
        undo.OnFailure([this, memberID, position, old, cust, kind]() mutable {
            InsertParameter(memberID, position, old, false);
            const int32_t at = FuncIndex(ITypeInfo2().get(), memberID, kind);
            WriteCust(cust, modITypeInfoHelper::SetParamCustData(type_.get(), static_cast<ole::UINT>(at),
                                                                 static_cast<ole::UINT>(position)));
        });
        return;
    }
    ParamData retval;
    retval.Flags = old.Flags;
    retval.VTInfo = CustomVarTypeInfo::CopyWithPointers(type, lib.get(), 1)->GetVarTypeInfo();
    SetParameterType(memberID, position, retval, kind, 0);
    undo.OnFailure([this, memberID, position, old, kind]() mutable { SetParameterType(memberID, position, old, kind, 0); });
}

int32_t CustomTypeInfo::KindsOf(int32_t invKind) {
    if ((invKind & 15) == 0) return 0;
    if (invKind & ole::INVOKE_FUNC) return ole::INVOKE_FUNC;
    return ole::INVOKE_PROPERTYGET | ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF;
}

void CustomTypeInfo::RemoveParamArray(int32_t memberID, int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->RemoveParamArray(memberID, invKind);
    ParamData none;
    FuncRebuildData request;
    RebuildFunction(ITypeInfo2().get(), memberID, KindsOf(invKind), 0, none, request, FuncRebuildData::kDropParamArray);
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

void CustomTypeInfo::InsertParameter(int32_t memberID, int32_t newParamId, ParamData& paramData, bool fAutoName,
                                     int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID))
        return declarer->InsertParameter(memberID, newParamId, paramData, fAutoName, invKind);
    if (newParamId < 0) RaiseError(kErrSubscriptOutOfRange);
    if (!fAutoName) RequireStorable(paramData.Name);
    RequireStorable(paramData.DefaultValue.get());
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    CheckInsertedParameter(ti.get(), memberID, newParamId, paramData.Flags, KindsOf(invKind));
    if (fAutoName) {
        const std::u16string function = modITypeInfoHelper::MemberNameFromID(ti.get(), memberID);
        if (paramData.Flags & (ole::PARAMFLAG_FRETVAL | ole::PARAMFLAG_FLCID)) {
            paramData.Name = modSupport::LoadResStringById(paramData.Flags & ole::PARAMFLAG_FRETVAL ? 763 : 764);
            // Numbered like the others when another parameter has the name.
            std::u16string fn = function;
            ole::LPOLESTR names[2] = {fn.data(), paramData.Name.data()};
            ole::MEMBERID ids[2] = {ole::MEMBERID_NIL, ole::MEMBERID_NIL};
            if (SUCCEEDED(ti->GetIDsOfNames(names, 2, ids))) MakeParameterName(paramData.Name, ti.get(), function);
        } else {
            MakeParameterName(paramData.Name, ti.get(), function);
        }
    }
    FuncRebuildData request;
    RebuildFunction(ti.get(), memberID, KindsOf(invKind), newParamId + 1, paramData, request,
                    FuncRebuildData::kInsertParam);
}

void CustomTypeInfo::DeleteParameter(int32_t memberID, int32_t paramID, int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->DeleteParameter(memberID, paramID, invKind);
    ParamData none;
    FuncRebuildData request;
    RebuildFunction(ITypeInfo2().get(), memberID, KindsOf(invKind), paramID + 1, none, request,
                    FuncRebuildData::kDeleteParam);
}

void CustomTypeInfo::SetMemberID(int32_t memberID, int32_t newMemberID) {
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->SetMemberID(memberID, newMemberID);
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
    if (auto declarer = DispatchedDeclarer(memberID)) {
        // The return type as the dispinterface shows it; the rest as it is.
        ScopeGuard undo;
        ModifyData rest = modifyData;
        if (rest.FieldMask & ModifyData::kVTInfo) {
            declarer->SetPresentedReturnType(memberID, invKind, modifyData.VTInfo.get(), undo);
            rest.FieldMask &= ~ModifyData::kVTInfo;
        }
        if (rest.FieldMask != 0) declarer->ModifyMember(memberID, invKind, rest);
        undo.Dismiss();
        modifyData.Flags = rest.Flags;
        return;
    }
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t varIndex = VarIndexOfMemId(ti.get(), memberID);
    const int32_t mask = modifyData.FieldMask;
    if (mask & ModifyData::kDllName) RequireStorable(modifyData.DllName);
    if (const auto* entry = std::get_if<std::u16string>(&modifyData.DllEntry); entry && (mask & ModifyData::kDllEntry))
        RequireStorable(*entry);
    if (mask & ModifyData::kConstantValue) RequireStorable(modifyData.ConstantValue.get());
    // A member ID another member has is refused, as SetMemberID refuses it.
    if ((mask & ModifyData::kMemID) && modifyData.MemID != ole::MEMBERID_NIL && modifyData.MemID != memberID &&
        SUCCEEDED(ti->GetDocumentation(modifyData.MemID, nullptr, nullptr, nullptr, nullptr)))
        RaiseError(ole::TYPE_E_DUPLICATEID);
    constexpr int32_t kDefaults = ole::FUNCFLAG_FUIDEFAULT | ole::FUNCFLAG_FDEFAULTBIND;
    // A new member ID is followed by name when a default flag is to move.
    std::u16string name;
    const bool idAndDefault = (mask & ModifyData::kMemID) && (mask & ModifyData::kFlags) &&
                              (modifyData.Flags & kDefaults);
    if (idAndDefault) name = modITypeInfoHelper::MemberNameFromID(ti.get(), memberID);
    // A default flag the member takes leaves the member that had it. That
    // runs inside the rebuild: should it fail, the rebuild is undone too.
    const int32_t* newDefaults = nullptr;
    const auto clearOthers = [&] {
        if (!(mask & ModifyData::kFlags) || *newDefaults == 0) return;
        ole::MEMBERID id = memberID;
        if (mask & ModifyData::kMemID) id = modITypeInfoHelper::MemberIDFromName(ti.get(), name);
        ScopeGuard undo;
        for (int32_t flag : {static_cast<int32_t>(ole::FUNCFLAG_FUIDEFAULT), static_cast<int32_t>(ole::FUNCFLAG_FDEFAULTBIND)}) {
            if (!(*newDefaults & flag)) continue;
            const int32_t funcInvKind = flag == ole::FUNCFLAG_FUIDEFAULT ? invKind : 0;
            if (varIndex < 0) {
                if (!ClearFuncFlagOnOthers(ti.get(), id, funcInvKind, flag, undo))
                    ClearVarFlagOnOthers(ti.get(), id, flag, undo);
            } else {
                if (!ClearVarFlagOnOthers(ti.get(), id, flag, undo)) ClearFuncFlagOnOthers(ti.get(), id, 0, flag, undo);
            }
        }
        undo.Dismiss();
    };
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
        newDefaults = &request.NewDefaultFlags;
        RebuildFunction(ti.get(), memberID, invKind, 0, pd, request, fields, clearOthers);
        appliedFlags = request.Flags;
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
        newDefaults = &request.NewDefaultFlags;
        RebuildVariable(ti.get(), memberID, varIndex, modifyData.VTInfo.get(), request, fields, clearOthers);
        appliedFlags = request.Flags;
    }
    if (mask & ModifyData::kFlags) modifyData.Flags = appliedFlags;
}

bool CustomTypeInfo::ClearFuncFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t invKind,
                                           int32_t flag, ScopeGuard& undo) {
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
        const int32_t oldFlags = fd->wFuncFlags;
        fd.Release();
        auto rebuildWith = [this, ti, id, kind](int32_t flags) {
            FuncRebuildData request;
            request.Flags = flags;
            ParamData none;
            RebuildFunction(ti, id, kind, 0, none, request, FuncRebuildData::kFlags);
        };
        rebuildWith(oldFlags & ~flag);
        undo.OnFailure([rebuildWith, oldFlags] { rebuildWith(oldFlags); });
        return true;
    }
    return false;
}

bool CustomTypeInfo::ClearVarFlagOnOthers(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t flag,
                                          ScopeGuard& undo) {
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
        auto rebuildWith = [this, ti, id, i](int32_t newFlags) {
            VarRebuildData request;
            request.Flags = newFlags;
            RebuildVariable(ti, id, static_cast<int32_t>(i), nullptr, request, VarRebuildData::kFlags);
        };
        rebuildWith(flags & ~flag);
        undo.OnFailure([rebuildWith, flags] { rebuildWith(flags); });
        return true;
    }
    return false;
}

std::unique_ptr<CustomTypeInfo> CustomTypeInfo::DispatchedDeclarer(int32_t memberID) {
    if (typeKind_ != ole::TKIND_DISPATCH) return nullptr;
    ComPtr<ole::ITypeLib> home;
    CheckHr(library_.As(&home));
    const ComPtr<ole::ITypeInfo2> read = modITypeInfoHelper::DispatchedDeclarer(ITypeInfo2().get(), memberID, home.get());
    if (!read) return nullptr;
    ComPtr<ole::ICreateTypeInfo> create;
    CheckHr(read.As(&create));
    auto declarer = std::make_unique<CustomTypeInfo>();
    declarer->Init(library_.get(), create.get());
    return declarer;
}

std::unique_ptr<CustomTypeInfo> CustomTypeInfo::DispatchedInterface() {
    if (typeKind_ != ole::TKIND_DISPATCH) return nullptr;
    const std::vector<ComPtr<ole::ITypeInfo2>> chain = modITypeInfoHelper::DispatchedChain(ITypeInfo2().get());
    if (chain.empty()) return nullptr;
    ComPtr<ole::ITypeLib> home, lib;
    CheckHr(library_.As(&home));
    ole::UINT index = 0;
    ComPtr<ole::ICreateTypeInfo> create;
    if (FAILED(chain.front()->GetContainingTypeLib(lib.put(), &index)) || !SameObject(lib.get(), home.get()) ||
        FAILED(chain.front().As(&create)))
        RaiseError(kErrInvalidArgument, u"The dispinterface is declared over " +
                                            modITypeInfoHelper::GetTypeInfoName(chain.front().get()) +
                                            u" of another library; its functions can't be changed in this library.");
    auto dispatched = std::make_unique<CustomTypeInfo>();
    dispatched->Init(library_.get(), create.get());
    return dispatched;
}

void CustomTypeInfo::RefuseOwnMembers() {
    if (typeKind_ == ole::TKIND_DISPATCH && !modITypeInfoHelper::DispatchedChain(ITypeInfo2().get()).empty())
        RaiseError(kErrInvalidArgument, u"A dispinterface declared over an interface has no members of its own: "
                                        u"its members are the interface's functions.");
}

void CustomTypeInfo::SetMemberName(int32_t memberID, std::u16string_view newName) {
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->SetMemberName(memberID, newName);
    RenameMemberOrParameter(ITypeInfo2().get(), memberID, 0, newName);
}

void CustomTypeInfo::SetParameterName(int32_t memberID, int32_t paramID, std::u16string_view newParamName,
                                      int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID)) {
        // The dispinterface, as its library hands it out, reads a property's
        // names from its accessor stored first. A Get stored first there
        // returns the value itself: it has no parameter where a put's value
        // is, so no name can be read there.
        ComPtr<ole::ITypeLib> lib;
        ole::UINT at = 0;
        CheckHr(ITypeInfo2()->GetContainingTypeLib(lib.put(), &at));
        ComPtr<ole::ITypeInfo2> ti;
        CheckHr(modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), at).As(&ti));
        ole::UINT get = 0;
        if (!NamesReadFromPut(ti.get(), memberID) &&
            SUCCEEDED(ti->GetFuncIndexOfMemId(memberID, ole::INVOKE_PROPERTYGET, &get)) &&
            paramID >= FuncDescHolder(ti.get(), get)->cParams)
            RaiseError(kErrInvalidArgument,
                       u"The dispinterface reads the property's parameter names from its Get, which has no parameter "
                       u"in this place, so the name can't be kept here; rename the parameter in " +
                           modITypeInfoHelper::GetTypeInfoName(declarer->ITypeInfo2().get()) + u".");
        return declarer->SetParameterName(memberID, paramID, newParamName, invKind);
    }
    if (paramID < 0) RaiseError(kErrSubscriptOutOfRange);
    RenameMemberOrParameter(ITypeInfo2().get(), memberID, paramID + 1, newParamName, invKind);
}

void CustomTypeInfo::RenameMemberOrParameter(ole::ITypeInfo2* ti, ole::MEMBERID memberID, int32_t position,
                                             std::u16string_view newName, int32_t invKind) {
    RequireStorable(newName);
    const std::u16string text(newName);
    // A method and a property accessor sharing a name and this ID are renamed
    // neither alone nor together; a parameter is renamed in the method, which
    // keeps the name it shares.
    std::u16string sharedName;
    const int32_t sharingAccessor = modITypeInfoHelper::AccessorSharingMethodName(ti, memberID, &sharedName);
    if (sharingAccessor != 0 && position == 0)
        modITypeInfoHelper::RaiseSharedMethodName(ti, sharedName, sharingAccessor);
    const auto nameFunction = [&](int32_t index, ole::LPOLESTR* names, size_t count) {
        const auto at = static_cast<ole::UINT>(index);
        const auto n = static_cast<ole::UINT>(count);
        CheckHr(sharingAccessor != 0 ? modITypeInfoHelper::SetFuncNamesSharingId(type_.get(), at, names, n)
                                     : type_->SetFuncAndParamNames(at, names, n));
    };
    if (position == 0) {
        // A member needs a name; a parameter may go without one.
        if (text.empty()) RaiseError(kErrInvalidArgument, u"A member's name can't be empty.");
        CheckNameFreeInBases(ti, typeKind_, text);
        const int32_t varIndex = VarIndexOfMemId(ti, memberID);
        if (varIndex >= 0) {
            CheckHr(type_->SetVarName(static_cast<ole::UINT>(varIndex), text.c_str()));
            return;
        }
    }
    std::vector<std::u16string> names, oldNames;
    size_t c = 0;
    bool read = false;
    // A property whose put or putref is stored before its Get is read with the
    // names of that accessor, its value parameter's too: the puts keep the
    // value's name, as the Get's return value parameter does.
    const bool valueInPuts = NamesReadFromPut(ti, memberID);
    constexpr size_t kNoValue = static_cast<size_t>(-1);
    // Accessors renamed already get their names back should a later one
    // refuse the name (another member has it) or fail.
    ScopeGuard rollback;
    auto setNames = [&](int32_t index, size_t count, size_t valueAt) {
        std::vector<ole::LPOLESTR> ptrs;
        for (size_t i = 0; i < count; ++i) ptrs.push_back(names[i].data());
        nameFunction(index, ptrs.data(), count);
        rollback.OnFailure([this, &oldNames, &nameFunction, index, count, valueAt] {
            std::vector<ole::LPOLESTR> old;
            for (size_t i = 0; i < count; ++i) old.push_back(oldNames[i].data());
            nameFunction(index, old.data(), count);
            if (valueAt != kNoValue) SetValueParamName(type_.get(), static_cast<ole::UINT>(index), oldNames[valueAt]);
        });
        if (valueAt != kNoValue) SetValueParamName(type_.get(), static_cast<ole::UINT>(index), names[valueAt]);
    };
    const int32_t kinds = KindsOf(invKind);
    for (ole::INVOKEKIND kind : kKinds) {
        if (kinds != 0 && !(kinds & kind)) continue;
        const int32_t index = FuncIndex(ti, memberID, kind);
        if (index < 0) continue;
        if (!read) {
            FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
            const int32_t n = fd->cParams;
            const bool put = (fd->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
            const bool retval = modITypeInfoHelper::HasRetvalParam(*fd);
            fd.Release();
            // A put's value where the names are read from the puts: a Get that
            // returns the value itself has no place for it, so the puts alone
            // take its name.
            const bool value = valueInPuts && !put && !retval && position == n + 1;
            if (position > (put ? n - 1 : n) && !value) RaiseError(kErrSubscriptOutOfRange);
            // Room for a put's value beyond a Get that returns the value itself.
            names = ReadNames(ti, memberID, static_cast<ole::UINT>(n) + 2);
            c = std::min(names.size(), static_cast<size_t>(put ? n : n + 1));
            names.resize(static_cast<size_t>(n) + 2);
            // A name beyond the ones the platform gave: extend up to it.
            if (static_cast<size_t>(position) >= c && static_cast<size_t>(position) <= static_cast<size_t>(n) &&
                !(put && position >= n))
                c = static_cast<size_t>(position) + 1;
            if (static_cast<size_t>(position) >= c && !value) continue;
            // Two parameters of a function can't share a name (whatever its
            // case); the function itself may have a parameter's name.
            for (size_t i = 1; position != 0 && i < names.size() && !text.empty(); ++i)
                if (i != static_cast<size_t>(position) && modMarbrel::CompareLeadingUnderscore(names[i], text) == 0)
                    RaiseError(ole::TYPE_E_AMBIGUOUSNAME);
            oldNames = names;
            names[static_cast<size_t>(position)] = text;
            if (!value) setNames(index, c, put && valueInPuts ? static_cast<size_t>(n) : kNoValue);
            read = true;
            if (kind == ole::INVOKE_FUNC) break;
            // A Get's return value parameter has no place in the others; a
            // Get that returns the value itself has its indexes alone.
            if (kind == ole::INVOKE_PROPERTYGET && retval && c == static_cast<size_t>(n) + 1) --c;
            continue;
        }
        // Another accessor of the property: as many names as it takes, and a
        // put's value where the property's names are read from its puts.
        FuncDescHolder fd(ti, static_cast<ole::UINT>(index));
        const auto params = static_cast<size_t>(std::max<ole::SHORT>(fd->cParams, 0));
        const bool put = (fd->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
        fd.Release();
        const size_t take = std::min(put ? params : params + 1, c);
        const size_t valueAt = put && valueInPuts && params < names.size() ? params : kNoValue;
        if (static_cast<size_t>(position) >= take && static_cast<size_t>(position) != valueAt) continue;
        if (take == 0) continue;
        setNames(index, take, valueAt);
    }
    rollback.Dismiss();
}

namespace {

// One accessor of a function as it stands, to add again after a failed delete.
struct SavedAccessor {
    ole::UINT Index = 0;
    FuncDescHolder Desc;
    std::vector<std::u16string> Names;
    std::optional<std::u16string> ValueName;  // a put's, where the property's names are read from it
    CustItems FuncCust;
    std::vector<CustItems> ParamCust;
    bool HasDllEntry = false;
    std::u16string DllName;
    ole::DllEntryPoint DllEntry;
};

}  // namespace

void CustomTypeInfo::DeleteMember(int32_t memberID, int32_t invKind) {
    // The functions a dispinterface declared over an interface presents are
    // the interface's: they are deleted there, as they are added there.
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->DeleteMember(memberID, invKind);
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t kinds = invKind == 0 ? 15 : (invKind & 15);
    ole::UINT varIndex = 0;
    if (SUCCEEDED(ti->GetVarIndexOfMemId(memberID, &varIndex))) {
        CheckHr(type_->DeleteVarDesc(varIndex));
        return;
    }
    if (kinds == 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    std::array<int32_t, 4> indexes{-1, -1, -1, -1};
    size_t found = 0;
    for (size_t k = 0; k < 4; ++k) {
        if (!(kinds & kKinds[k])) continue;
        indexes[k] = FuncIndex(ti.get(), memberID, kKinds[k]);
        if (indexes[k] >= 0) ++found;
        if (k == 0 && indexes[k] >= 0) break;
    }
    // Automatic slots close up behind a deleted function. A dual interface
    // whose slots were set by hand may lose only functions that leave no slot
    // empty.
    const bool autoOffsets = typeKind_ == ole::TKIND_INTERFACE && found > 0 && AutomaticSlots();
    if (typeKind_ == ole::TKIND_INTERFACE && found > 0 &&
        (TypeAttr(ti.get())->wTypeFlags & ole::TYPEFLAG_FDUAL) != 0 && !autoOffsets) {
        std::vector<int16_t> kept;
        const ole::UINT count = TypeAttr(ti.get())->cFuncs;
        for (ole::UINT i = 0; i < count; ++i)
            if (std::find(indexes.begin(), indexes.end(), static_cast<int32_t>(i)) == indexes.end())
                kept.push_back(FuncDescHolder(ti.get(), i)->oVft);
        CheckVtableOffsets(ti.get(), kept);
    }
    // Accessors deleted before a later delete, or the layout that closes the
    // automatic slots up, fails come back as they were: descriptor, names,
    // help, custom data and DLL entry.
    std::vector<SavedAccessor> saved(found > 1 || (found > 0 && autoOffsets) ? found : 0);
    HelpData help;
    if (!saved.empty()) help = GetMemberHelpData(ti.get(), memberID);
    auto restore = [this, &help, autoOffsets](SavedAccessor& a) {
        ole::FUNCDESC d = *a.Desc;
        if (autoOffsets) d.oVft = 0;
        CheckHr(type_->AddFuncDesc(a.Index, &d));
        std::vector<ole::LPOLESTR> ptrs;
        for (std::u16string& n : a.Names) ptrs.push_back(n.data());
        if (!ptrs.empty())
            CheckHr(type_->SetFuncAndParamNames(a.Index, ptrs.data(), static_cast<ole::UINT>(ptrs.size())));
        if (a.ValueName) SetValueParamName(type_.get(), a.Index, *a.ValueName);
        WriteCust(a.FuncCust, modITypeInfoHelper::SetFuncCustData(type_.get(), a.Index));
        for (size_t p = 0; p < a.ParamCust.size(); ++p)
            WriteCust(a.ParamCust[p],
                      modITypeInfoHelper::SetParamCustData(type_.get(), a.Index, static_cast<ole::UINT>(p)));
        SetFuncHelpDataMasked(a.Index, help, MemberFieldsSet(help));
        if (a.HasDllEntry) CheckHr(type_->DefineFuncAsDllEntry(a.Index, a.DllName.c_str(), a.DllEntry));
    };
    ScopeGuard rollback;
    if (!saved.empty()) rollback.OnFailure([this] { (void)type_->LayOut(); });
    size_t s = 0;
    for (size_t k = 0; k < 4; ++k) {
        if (indexes[k] < 0) continue;
        const ole::UINT index = static_cast<ole::UINT>(indexes[k]);
        if (!saved.empty()) {
            SavedAccessor& a = saved[s++];
            a.Index = index;
            a.Desc.Take(ti.get(), index);
            const bool put = (a.Desc->invkind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) != 0;
            const ole::UINT maxNames = static_cast<ole::UINT>(a.Desc->cParams) + (put ? 0 : 1);
            a.Names = ReadNames(ti.get(), memberID, std::max<ole::UINT>(maxNames, 1) + (put ? 1 : 0));
            if (put && a.Names.size() > maxNames) {
                if (NamesReadFromPut(ti.get(), memberID)) a.ValueName = a.Names.back();
                a.Names.pop_back();
            }
            a.FuncCust = ReadCust(modITypeInfoHelper::GetFuncCustData(ti.get(), index));
            for (ole::SHORT p = 0; p < a.Desc->cParams; ++p)
                a.ParamCust.push_back(
                    ReadCust(modITypeInfoHelper::GetParamCustData(ti.get(), index, static_cast<ole::UINT>(p))));
            if (typeKind_ == ole::TKIND_MODULE) {
                ole::BSTR dll = nullptr, entryName = nullptr;
                ole::WORD ordinal = 0;
                if (SUCCEEDED(ti->GetDllEntry(memberID, kKinds[k], &dll, &entryName, &ordinal))) {
                    a.HasDllEntry = true;
                    a.DllName = TakeBstr(dll);
                    std::u16string entry = TakeBstr(entryName);
                    a.DllEntry = entry.empty() ? ole::DllEntryPoint(ordinal) : ole::DllEntryPoint(std::move(entry));
                }
            }
        }
        CheckHr(type_->DeleteFuncDesc(index));
        if (!saved.empty()) rollback.OnFailure([&restore, &a = saved[s - 1]] { restore(a); });
        for (size_t j = k + 1; j < 4; ++j)
            if (indexes[j] > indexes[k]) --indexes[j];
    }
    // The automatic slots behind the deleted functions close up at once, so
    // that whatever reads the type next finds them where they now are.
    if (autoOffsets) CheckHr(type_->LayOut());
    rollback.Dismiss();
}

void CustomTypeInfo::RequireMember(int32_t memberID, int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID)) return declarer->RequireMember(memberID, invKind);
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    if (VarIndexOfMemId(ti.get(), memberID) >= 0) return;
    const int32_t kinds = invKind == 0 ? 15 : (invKind & 15);
    for (ole::INVOKEKIND kind : kKinds)
        if ((kinds & kind) && FuncIndex(ti.get(), memberID, kind) >= 0) return;
    RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
}

}  // namespace zephrin

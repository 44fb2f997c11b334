// CustomTypeInfo: member help data and custom data. A member's help file and
// help string DLL are those of the library.
#include <optional>

#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/FuncRebuildData.h"
#include "typelib/VarRebuildData.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using modITypeInfoHelper::VarIndexOfMemId;

ComPtr<ole::ITypeInfo2> CustomTypeInfo::ITypeInfo2() {
    if (!type_) RaiseError(kErrObjectNotSet);
    ComPtr<ole::ITypeInfo2> ti;
    CheckHr(type_.As(&ti));
    return ti;
}

HelpData CustomTypeInfo::GetMemberHelpData(ole::ITypeInfo2* ti, ole::MEMBERID memberID) {
    HelpData hd;
    ole::BSTR doc = nullptr, file = nullptr, dll = nullptr;
    ole::DWORD context = 0, stringContext = 0;
    CheckHr(ti->GetDocumentation(memberID, nullptr, &doc, &context, &file));
    hd.DocString = TakeBstr(doc);
    hd.HelpFile = TakeBstr(file);
    hd.HelpContext = context;
    CheckHr(ti->GetDocumentation2(memberID, 0, nullptr, &stringContext, &dll));
    hd.HelpStringDll = TakeBstr(dll);
    hd.HelpStringContext = stringContext;
    if (!hd.HelpFile.empty()) modSupport::ExtractFileName(hd.HelpFile);
    return hd;
}

std::pair<std::u16string, std::u16string> CustomTypeInfo::LibraryHelpFiles() {
    ComPtr<ole::ITypeLib2> lib;
    CheckHr(library_.As(&lib));
    ole::BSTR file = nullptr, dll = nullptr;
    CheckHr(lib->GetDocumentation(-1, nullptr, nullptr, nullptr, &file));
    std::u16string helpFile = TakeBstr(file);
    CheckHr(lib->GetDocumentation2(-1, 0, nullptr, nullptr, &dll));
    return {helpFile, TakeBstr(dll)};
}

void CustomTypeInfo::SetLibraryHelpFiles(const HelpData& hd) {
    CheckHr(library_->SetHelpFileName(hd.HelpFile.c_str()));
    CheckHr(library_->SetHelpStringDll(hd.HelpStringDll.c_str()));
}

void CustomTypeInfo::SetVarHelpData(ole::UINT varIndex, const HelpData& hd) {
    if (hd.HelpContext != 0) CheckHr(type_->SetVarHelpContext(varIndex, hd.HelpContext));
    if (!hd.HelpStringDll.empty() && hd.HelpStringContext != 0)
        CheckHr(type_->SetVarHelpStringContext(varIndex, hd.HelpStringContext));
    if (!hd.DocString.empty()) CheckHr(type_->SetVarDocString(varIndex, hd.DocString.c_str()));
}

void CustomTypeInfo::SetFuncHelpData(ole::UINT funcIndex, const HelpData& hd) {
    if (hd.HelpContext != 0) CheckHr(type_->SetFuncHelpContext(funcIndex, hd.HelpContext));
    if (!hd.HelpStringDll.empty() && hd.HelpStringContext != 0)
        CheckHr(type_->SetFuncHelpStringContext(funcIndex, hd.HelpStringContext));
    if (!hd.DocString.empty()) CheckHr(type_->SetFuncDocString(funcIndex, hd.DocString.c_str()));
}

void CustomTypeInfo::SetVarHelpDataMasked(ole::UINT varIndex, const HelpData& hd, int32_t mask) {
    if (mask & HelpData::kHelpContext) CheckHr(type_->SetVarHelpContext(varIndex, hd.HelpContext));
    if (mask & HelpData::kHelpStringContext) CheckHr(type_->SetVarHelpStringContext(varIndex, hd.HelpStringContext));
    if (mask & HelpData::kDocString) CheckHr(type_->SetVarDocString(varIndex, hd.DocString.c_str()));
}

void CustomTypeInfo::SetFuncHelpDataMasked(ole::UINT funcIndex, const HelpData& hd, int32_t mask) {
    if (mask & HelpData::kHelpContext) CheckHr(type_->SetFuncHelpContext(funcIndex, hd.HelpContext));
    if (mask & HelpData::kHelpStringContext)
        CheckHr(type_->SetFuncHelpStringContext(funcIndex, hd.HelpStringContext));
    if (mask & HelpData::kDocString) CheckHr(type_->SetFuncDocString(funcIndex, hd.DocString.c_str()));
}

void CustomTypeInfo::MergeHelpData(HelpData& dest, const HelpData& source, int32_t mask) {
    if (mask & HelpData::kDocString) dest.DocString = source.DocString;
    if (mask & HelpData::kHelpFile) dest.HelpFile = source.HelpFile;
    if (mask & HelpData::kHelpStringDll) dest.HelpStringDll = source.HelpStringDll;
    if (mask & HelpData::kHelpContext) dest.HelpContext = source.HelpContext;
    if (mask & HelpData::kHelpStringContext) dest.HelpStringContext = source.HelpStringContext;
}

void CustomTypeInfo::CopyVarCustData(ole::ITypeInfo2* source, ole::UINT sourceIndex, ole::UINT destIndex) {
    modITypeInfoHelper::CopyCustData(modITypeInfoHelper::GetVarCustData(source, sourceIndex),
                                     modITypeInfoHelper::SetVarCustData(type_.get(), destIndex));
}

void CustomTypeInfo::CopyFuncCustData(ole::ITypeInfo2* source, ole::UINT sourceIndex, ole::UINT destIndex) {
    modITypeInfoHelper::CopyCustData(modITypeInfoHelper::GetFuncCustData(source, sourceIndex),
                                     modITypeInfoHelper::SetFuncCustData(type_.get(), destIndex));
}

void CustomTypeInfo::CopyParamCustData(ole::ITypeInfo2* source, ole::UINT sourceFunc, ole::UINT sourceParam,
                                       ole::UINT destFunc, ole::UINT destParam) {
    modITypeInfoHelper::CopyCustData(modITypeInfoHelper::GetParamCustData(source, sourceFunc, sourceParam),
                                     modITypeInfoHelper::SetParamCustData(type_.get(), destFunc, destParam));
}

void CustomTypeInfo::ModifyMemberHelpData(int32_t memberID, const HelpData& hd, int32_t changeFields,
                                          int32_t invKind) {
    if (auto declarer = DispatchedDeclarer(memberID))
        return declarer->ModifyMemberHelpData(memberID, hd, changeFields, invKind);
    const int32_t kinds = KindsOf(invKind);
    if (changeFields & HelpData::kDocString) RequireStorable(hd.DocString);
    if (changeFields & HelpData::kHelpFile) RequireStorable(hd.HelpFile);
    if (changeFields & HelpData::kHelpStringDll) RequireStorable(hd.HelpStringDll);
    ComPtr<ole::ITypeInfo2> ti = ITypeInfo2();
    const int32_t varIndex = VarIndexOfMemId(ti.get(), memberID);
    if ((changeFields & (HelpData::kHelpFile | HelpData::kHelpStringDll)) == 0) {
        if (changeFields == 0) return;
        // Every item written to, even partly, gets the member's old fields
        // back should a later write fail.
        std::optional<HelpData> old;
        ScopeGuard rollback;
        auto readOld = [&] {
            if (!old) old = GetMemberHelpData(ti.get(), memberID);
        };
        if (varIndex >= 0) {
            const ole::UINT index = static_cast<ole::UINT>(varIndex);
            readOld();
            rollback.OnFailure([this, index, &old, changeFields] { SetVarHelpDataMasked(index, *old, changeFields); });
            SetVarHelpDataMasked(index, hd, changeFields);
            rollback.Dismiss();
            return;
        }
        for (ole::INVOKEKIND kind : {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT,
                                     ole::INVOKE_PROPERTYPUTREF}) {
            ole::UINT index = 0;
            if ((kinds != 0 && !(kinds & kind)) || FAILED(ti->GetFuncIndexOfMemId(memberID, kind, &index))) continue;
            readOld();
            rollback.OnFailure([this, index, &old, changeFields] { SetFuncHelpDataMasked(index, *old, changeFields); });
            SetFuncHelpDataMasked(index, hd, changeFields);
            if (kind == ole::INVOKE_FUNC) break;
        }
        rollback.Dismiss();
        return;
    }
    if (varIndex >= 0) {
        VarRebuildData request;
        request.Help = hd;
        RebuildVariable(ti.get(), memberID, varIndex, nullptr, request, changeFields);
    } else {
        FuncRebuildData request;
        request.Help = hd;
        ParamData none;
        RebuildFunction(ti.get(), memberID, kinds, 0, none, request, changeFields);
    }
}

}  // namespace zephrin

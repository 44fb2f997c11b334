#include "changes/history/modChooseName.h"

#include <vector>

#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::modChooseName {

using ole::ComPtr;
using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;

namespace {

ChooseNameRequest NewRequest(std::u16string message) {
    ChooseNameRequest request;
    request.Caption = modSupport::LoadResStringById(500);
    request.Message = std::move(message);
    return request;
}

// The first `count` names GetNames reports for memberId (the member's own first).
std::vector<std::u16string> Names(ole::ITypeInfo* type, ole::MEMBERID memberId, ole::UINT count) {
    std::vector<ole::BSTR> names(count, nullptr);
    ole::UINT got = 0;
    const ole::HRESULT hr = type->GetNames(memberId, names.data(), count, &got);
    ScopeGuard freeNames([&] {
        for (ole::BSTR b : names) ole::SysFreeString(b);
    });
    CheckHr(hr);
    std::vector<std::u16string> out;
    for (ole::UINT i = 0; i < got && i < count; ++i) out.push_back(modSupport::MakeNonNullString(names[i]));
    return out;
}

std::u16string MemberName(ole::ITypeInfo* type, ole::MEMBERID memberId) {
    std::vector<std::u16string> names = Names(type, memberId, 1);
    return names.empty() ? std::u16string() : names.front();
}

int32_t VariableMessage(int32_t typeKind) {
    switch (typeKind) {
        case ole::TKIND_ENUM: return 504;
        case ole::TKIND_RECORD:
        case ole::TKIND_UNION: return 503;
        case ole::TKIND_MODULE: return 502;
        default: return 505;
    }
}

// Shows the request; on a choice returns the entry.
// Shows the request; a choice sets name to the entry's text and, when number
// is given, number to its item number.
bool Choose(INameChooser& chooser, const ChooseNameRequest& request, std::u16string& name,
            int32_t* number = nullptr) {
    if (request.Entries.empty()) return false;
    const std::optional<size_t> chosen = chooser.ChooseName(request);
    if (!chosen || *chosen >= request.Entries.size()) return false;
    const ChooseNameEntry& entry = request.Entries[*chosen];
    name = entry.Text;
    if (number) *number = entry.ItemNumber;
    return true;
}

}  // namespace

bool HasRecordedKind(ole::ITypeInfo* type, int32_t typeKind) {
    try {
        return NodeTypeKind(type) == typeKind || TypeAttr(type)->typekind == typeKind;
    } catch (const ErrorRecord&) {
        return false;
    }
}

ChooseNameRequest TypeRequest(ole::ITypeLib* library, int32_t typeKind, const std::u16string& name) {
    ChooseNameRequest request =
        NewRequest(modSupport::LoadResStringFormat(501, {modAttributeStrings::TypeKindText(typeKind), name}));
    const ole::UINT count = library->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ComPtr<ole::ITypeInfo> type;
        CheckHr(library->GetTypeInfo(i, type.put()));
        if (!HasRecordedKind(type.get(), typeKind)) continue;
        ole::BSTR text = nullptr;
        CheckHr(library->GetDocumentation(static_cast<ole::INT>(i), &text, nullptr, nullptr, nullptr));
        request.Entries.push_back({modSupport::MakeNonNullString(text), static_cast<int32_t>(i)});
        ole::SysFreeString(text);
    }
    return request;
}

ChooseNameRequest MemberRequest(ole::ITypeInfo* type, int32_t typeKind, int32_t invokeKind,
                                const std::u16string& name) {
    ChooseNameRequest request =
        invokeKind == 0
            ? NewRequest(modSupport::LoadResStringFormat(VariableMessage(typeKind), {name}))
            : NewRequest(modSupport::LoadResStringFormat(506, {modAttributeStrings::InvokeKindText(invokeKind), name}));
    const TypeAttr attr(type);
    if (invokeKind == 0) {
        for (ole::UINT i = 0; i < attr->cVars; ++i) {
            ole::VARDESC* var = nullptr;
            CheckHr(type->GetVarDesc(i, &var));
            const ole::MEMBERID id = var->memid;
            type->ReleaseVarDesc(var);
            request.Entries.push_back({MemberName(type, id), id});
        }
    } else {
        for (ole::UINT i = 0; i < attr->cFuncs; ++i) {
            const FuncDescHolder func(type, i);
            if (func->invkind == invokeKind) request.Entries.push_back({MemberName(type, func->memid), func->memid});
        }
    }
    return request;
}

ChooseNameRequest ParameterRequest(ole::ITypeInfo* type, int32_t memberId, int32_t invokeKind,
                                   const std::u16string& name) {
    ChooseNameRequest request = NewRequest(modSupport::LoadResStringFormat(508, {name}));
    const ComPtr<ole::ITypeInfo2> type2 = ComPtr<ole::ITypeInfo>(type).As<ole::ITypeInfo2>();
    if (!type2) RaiseError(ole::E_NOINTERFACE);
    ole::UINT index = 0;
    CheckHr(type2->GetFuncIndexOfMemId(memberId, static_cast<ole::INVOKEKIND>(invokeKind), &index));
    const FuncDescHolder func(type, index);
    int32_t offered = func->cParams - ((invokeKind & (ole::INVOKE_PROPERTYPUT | ole::INVOKE_PROPERTYPUTREF)) ? 1 : 0);
    while (offered > 0 && (func->lprgelemdescParam[offered - 1].paramdesc.wParamFlags &
                           (ole::PARAMFLAG_FLCID | ole::PARAMFLAG_FRETVAL)))
        --offered;
    if (offered <= 0) return request;
    const std::vector<std::u16string> names = Names(type, memberId, static_cast<ole::UINT>(offered) + 1);
    for (size_t i = 1; i < names.size(); ++i) request.Entries.push_back({names[i], static_cast<int32_t>(i - 1)});
    return request;
}

ChooseNameRequest ImplementedTypeRequest(ole::ITypeInfo* type, int32_t count, const std::u16string& name) {
    ChooseNameRequest request = NewRequest(modSupport::LoadResStringFormat(507, {name}));
    for (int32_t i = 0; i < count; ++i)
        request.Entries.push_back({modITypeInfoHelper::GetImplTypeName(type, static_cast<ole::UINT>(i)), i});
    return request;
}

bool ChooseType(INameChooser& chooser, ole::ITypeLib* library, int32_t typeKind, std::u16string& name) {
    return Choose(chooser, TypeRequest(library, typeKind, name), name);
}

bool ChooseMember(INameChooser& chooser, ole::ITypeInfo* type, int32_t typeKind, int32_t invokeKind,
                  std::u16string& name, int32_t& memberId) {
    return Choose(chooser, MemberRequest(type, typeKind, invokeKind, name), name, &memberId);
}

bool ChooseParameter(INameChooser& chooser, ole::ITypeInfo* type, int32_t memberId, int32_t invokeKind,
                     std::u16string& name, int32_t& index) {
    return Choose(chooser, ParameterRequest(type, memberId, invokeKind, name), name, &index);
}

bool ChooseImplementedType(INameChooser& chooser, ole::ITypeInfo* type, int32_t count, std::u16string& name,
                           int32_t& index) {
    return Choose(chooser, ImplementedTypeRequest(type, count, name), name, &index);
}

}  // namespace zephrin::modChooseName

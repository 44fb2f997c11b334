#include "changes/hub/TargetText.h"

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::modRecorder {

void FillTargetNames(ChangeTarget& t) {
    if (t.Kind <= kTargetLibrary || t.Kind > kTargetParam || !t.Library) return;
    if (t.TypeIndex < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    const auto index = static_cast<ole::UINT>(t.TypeIndex);
    if (t.TypeName.empty()) {
        ole::BSTR name = nullptr;
        CheckHr(t.Library->GetDocumentation(t.TypeIndex, &name, nullptr, nullptr, nullptr));
        t.TypeName = modSupport::MakeNonNullString(name);
        ole::SysFreeString(name);
    }
    const bool needMember = t.Kind >= kTargetImplType && t.MemberName.empty();
    const bool needParam = t.Kind == kTargetParam && t.ParamName.empty();
    if (!needMember && !needParam) return;
    const ole::ComPtr<ole::ITypeInfo> type = modITypeInfoHelper::GetInterfaceTypeInfo(t.Library.get(), index);
    if (t.Kind == kTargetImplType) {
        if (t.MemberId < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        t.MemberName = modITypeInfoHelper::GetImplTypeName(type.get(), static_cast<ole::UINT>(t.MemberId));
    } else if (needParam) {
        std::u16string member, param;
        modITypeInfoHelper::GetMemberNames(type.get(), t.MemberId, t.ParamIndex, member, param);
        if (t.MemberName.empty()) t.MemberName = member;
        t.ParamName = param;
    } else {
        t.MemberName = modITypeInfoHelper::MemberNameFromID(type.get(), t.MemberId);
    }
}

namespace {

// The kind word of a type: the kind the editor lists it under, but an alias
// (listed under the kind of the type it names) is called an alias.
std::u16string TypeKindWord(const ChangeTarget& t) {
    ole::TYPEKIND own{};
    if (t.Library && t.TypeIndex >= 0 && ole::SUCCEEDED(t.Library->GetTypeInfoType(t.TypeIndex, &own)) &&
        own == ole::TKIND_ALIAS)
        return modAttributeStrings::TypeKindText(ole::TKIND_ALIAS);
    return modAttributeStrings::TypeKindText(t.TypeKind);
}

}  // namespace

std::u16string DescribeTarget(const ChangeTarget& target) {
    ChangeTarget t = target;
    try {
        FillTargetNames(t);
    } catch (const ErrorRecord&) {
        // Describe what is known.
    }
    const std::u16string member = t.TypeName + u"." + t.MemberName;
    switch (t.Kind) {
        case kTargetType:
            return modSupport::LoadResStringFormat(711, {TypeKindWord(t), t.TypeName});
        case kTargetImplType: return modSupport::LoadResStringFormat(712, {t.MemberName});
        case kTargetMember:
            return modSupport::LoadResStringFormat(
                713, {modAttributeStrings::TypeKindText(t.TypeKind),
                      modAttributeStrings::MemberKindText(t.TypeKind, t.InvokeKind), member});
        case kTargetParam:
            switch (t.SpecialParam) {
                case kParamNamed: return modSupport::LoadResStringFormat(714, {t.ParamName, member});
                case kParamLcid: return modSupport::LoadResStringFormat(715, {member});
                case kParamReturnValue: return modSupport::LoadResStringFormat(716, {member});
                case kParamRightHandSide: return modSupport::LoadResStringFormat(717, {member});
                default: return modSupport::LoadResStringFormat(714, {t.ParamName, member});
            }
        default: return modSupport::LoadResStringById(718);
    }
}

}  // namespace zephrin::modRecorder

#include "dialogs/ExternalTypesModel.h"

#include <algorithm>

#include "dialogs/modDependencyWalker.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::dialogs {

using ole::ComPtr;

namespace {

constexpr int32_t kFirstUsageText = 1058;

std::u16string LibName(ole::ITypeLib* lib) {
    ole::BSTR name = nullptr;
    CheckHr(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    return typelib_detail::TakeBstr(name);
}

bool ByName(const std::u16string& a, const std::u16string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        return lower(x) < lower(y);
    });
}

}  // namespace

// The walk's callback: hands each reference into another library to the model.
class ExternalTypesModel::Walker final : public ole::RefCounted<ITypeInfoDependencyWalker2> {
public:
    explicit Walker(ExternalTypesModel& model) : model_(model) {}
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<ITypeInfoDependencyWalker2, ITypeInfoDependencyWalker>(this, riid, ppv);
    }
    ole::HRESULT OnStartNewType(int32_t index) override {
        model_.StartType(index);
        return ole::S_OK;
    }
    ole::HRESULT OnReferenceTypeInfo(ole::ITypeInfo* type, int32_t kind, int32_t, ole::ITypeLib* lib, bool) override {
        if (!lib) return ole::S_OK;  // a type of the walked library itself
        return typelib_detail::Guarded([&] { model_.AddReference(lib, type, static_cast<ole::TYPEKIND>(kind)); });
    }
    ole::HRESULT OnSetContext(int32_t kind, int32_t memberId, int32_t invokeKind, int32_t paramIndex,
                              int32_t paramFlags) override {
        model_.context_ = {kind, memberId, invokeKind, paramIndex, paramFlags};
        return ole::S_OK;
    }

private:
    ExternalTypesModel& model_;
};

bool ExternalTypesModel::Build(ole::ITypeLib* walked, ole::ITypeLib* unresolved) {
    Clear();
    walked_ = ComPtr<ole::ITypeLib>(walked);
    unresolved_ = ComPtr<ole::ITypeLib>(unresolved);
    auto walker = ole::MakeCom<Walker>(*this);
    try {
        modDependencyWalker::WalkTypeLib(walked, walker.get());
    } catch (...) {
        Clear();
        throw;
    }
    currentType_ = nullptr;
    std::sort(libraries_.begin(), libraries_.end(),
              [](const ExternalLibrary& a, const ExternalLibrary& b) { return ByName(a.Name, b.Name); });
    for (ExternalLibrary& lib : libraries_) {
        std::sort(lib.Types.begin(), lib.Types.end(),
                  [](const ExternalType& a, const ExternalType& b) { return ByName(a.Name, b.Name); });
    }
    return !libraries_.empty();
}

void ExternalTypesModel::Clear() {
    libraries_.clear();
    unresolvedReferenced_ = false;
    currentType_ = nullptr;
    currentName_.clear();
    context_ = {};
}

std::u16string ExternalTypesModel::UsageText(int32_t usage) {
    if (usage < 0 || usage >= kUsageCount) return {};
    return modSupport::LoadResStringById(kFirstUsageText + usage);
}

int32_t ExternalTypesModel::TypeImage(ole::ITypeInfo* type, ole::TYPEKIND kind) {
    ole::TYPEKIND shown = kind;
    if (kind == ole::TKIND_DISPATCH || kind == ole::TKIND_ALIAS) {
        ole::VARTYPE vt = 0;
        shown = modSupport::ResolveTypeKind(typelib_detail::TliTypeInfo(type).get(), vt);
    }
    int32_t image = 0;
    switch (shown) {
    case ole::TKIND_ENUM: image = 4; break;
    case ole::TKIND_RECORD:
    case ole::TKIND_UNION: image = 3; break;
    case ole::TKIND_MODULE: image = 2; break;
    case ole::TKIND_INTERFACE: image = 6; break;
    case ole::TKIND_DISPATCH: image = 7; break;
    case ole::TKIND_COCLASS: image = 1; break;
    case ole::TKIND_ALIAS: image = 8; break;
    default: break;
    }
    return kind == ole::TKIND_ALIAS ? image + kAliasOverlay : image;
}

void ExternalTypesModel::StartType(int32_t index) {
    typeIndex_ = index;
    currentType_ = nullptr;
    currentName_.clear();
}

void ExternalTypesModel::AddReference(ole::ITypeLib* lib, ole::ITypeInfo* type, ole::TYPEKIND kind) {
    auto libIt = std::find_if(libraries_.begin(), libraries_.end(),
                              [&](const ExternalLibrary& l) { return l.Library.get() == lib; });
    ExternalUse use = Describe();
    if (libIt == libraries_.end()) {
        ExternalLibrary entry;
        entry.Library = ComPtr<ole::ITypeLib>(lib);
        entry.Name = LibName(lib);
        entry.Unresolved = unresolved_ && typelib_detail::SameObject(lib, unresolved_.get());
        libraries_.push_back(std::move(entry));
        libIt = libraries_.end() - 1;
    }
    if (libIt->Unresolved) unresolvedReferenced_ = true;
    auto typeIt = std::find_if(libIt->Types.begin(), libIt->Types.end(),
                               [&](const ExternalType& t) { return t.Type.get() == type; });
    if (typeIt == libIt->Types.end()) {
        ExternalType entry;
        entry.Type = ComPtr<ole::ITypeInfo>(type);
        entry.Name = modITypeInfoHelper::GetTypeInfoName(type);
        entry.Image = TypeImage(type, kind);
        libIt->Types.push_back(std::move(entry));
        typeIt = libIt->Types.end() - 1;
    }
    typeIt->Uses.push_back(std::move(use));
}

ExternalUse ExternalTypesModel::Describe() {
    if (!currentType_) {
        // A dual's members are named from its interface half, as the walk reads them.
        currentType_ = modITypeInfoHelper::GetInterfaceTypeInfo(walked_.get(), static_cast<ole::UINT>(typeIndex_));
        currentName_ = modITypeInfoHelper::GetTypeInfoName(currentType_.get());
    }
    ExternalUse use;
    use.TypeIndex = typeIndex_;
    use.MemberId = context_.MemberId;
    use.InvokeKind = context_.InvokeKind;
    const bool get = context_.InvokeKind == ole::INVOKE_PROPERTYGET;
    auto paramUsage = [&](int32_t otherwise) {
        switch (context_.InvokeKind) {
        case ole::INVOKE_PROPERTYGET: return 5;
        case ole::INVOKE_PROPERTYPUT: return 6;
        case ole::INVOKE_PROPERTYPUTREF: return 7;
        default: return otherwise;
        }
    };
    switch (context_.Kind) {
    case 1: use.Usage = 13; use.TargetKind = 2; break;
    case 2: use.Usage = 11; use.TargetKind = 2; break;
    case 3: use.Usage = 12; use.TargetKind = 3; break;
    case 4: use.Usage = 8; use.TargetKind = 4; break;
    case 5: use.Usage = 9; use.TargetKind = 4; break;
    case 6: use.Usage = 10; use.TargetKind = 4; break;
    case 7: use.Usage = get ? 0 : 1; use.TargetKind = 4; break;
    case 8: use.Usage = get ? 0 : 2; use.TargetKind = 4; break;
    case 9: use.Usage = paramUsage(3); use.TargetKind = 5; break;
    case 10: use.Usage = paramUsage(4); use.TargetKind = 5; break;
    default: break;
    }
    std::u16string member, param;
    if (context_.Kind >= 9) {
        const int32_t index = context_.ParamIndex;
        use.ParamIndex = index < 0 ? -1 - index : index;
        int32_t special = 0;
        if (index < 0)
            special = 760;
        else if (context_.ParamFlags & ole::PARAMFLAG_FRETVAL)
            special = 761;
        else if (context_.ParamFlags & ole::PARAMFLAG_FLCID)
            special = 764;
        if (special) {
            param = modSupport::LoadResStringById(special);
            member = modITypeInfoHelper::MemberNameFromID(currentType_.get(), context_.MemberId);
        } else {
            modITypeInfoHelper::GetMemberNames(currentType_.get(), context_.MemberId, index, member, param);
        }
    } else if (context_.Kind >= 4) {
        member = modITypeInfoHelper::MemberNameFromID(currentType_.get(), context_.MemberId);
    }
    use.Description = currentName_;
    if (!member.empty()) use.Description += u"." + member;
    if (!param.empty()) use.Description += u"." + param;
    return use;
}

}  // namespace zephrin::dialogs

// TLBModifier: unresolved types. In find-unresolved mode a reference that
// can't be resolved points at a placeholder of a separate in-memory library
// ("MISSING"); in test-unresolved mode a reference that still reaches a
// placeholder refuses the save.
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "regen/TLBModifierGeneration.h"
#include "typelib/BaseTICache.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using namespace typelib_detail;
using namespace regen_detail;
namespace helper = modITypeInfoHelper;

namespace {

ole::GUID NewGuid() {
    ole::GUID g{};
    CheckHr(ole::CoCreateGuid(&g));
    return g;
}

}  // namespace

ComPtr<ole::ITypeLib> TLBModifier::GenerateDirectFindUnresolved(ComPtr<ole::ITypeLib>& unresolvedTypes) {
    if (unresolvedTypes && !helper::IsUnresolvedTypesLib(unresolvedTypes.get()))
        RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(814));
    unresolvedTypes_ = unresolvedTypes;
    unresolvedCreate_ = nullptr;
    mode_ = Mode::FindUnresolved;
    ScopeGuard reset([this] {
        mode_ = Mode::Normal;
        unresolvedTypes_ = nullptr;
        unresolvedCreate_ = nullptr;
    });
    // A failed generation takes the placeholders it added to the caller's
    // companion out again, so the companion is as it was.
    const ole::UINT given = unresolvedTypes ? unresolvedTypes->GetTypeInfoCount() : 0;
    ScopeGuard restore([this, given] {
        if (!unresolvedCreate_ || !unresolvedTypes_) return;
        for (ole::UINT i = unresolvedTypes_->GetTypeInfoCount(); i > given; --i) {
            ole::BSTR name = nullptr;
            CheckHr(unresolvedTypes_->GetDocumentation(static_cast<ole::INT>(i - 1), &name, nullptr, nullptr, nullptr));
            CheckHr(unresolvedCreate_->DeleteTypeInfo(TakeBstr(name).c_str()));
        }
    });
    ComPtr<ole::ITypeLib> result = RunGeneration(u"");
    restore.Dismiss();
    // Only a generation that succeeded hands a library back.
    if (unresolvedTypes_) unresolvedTypes = unresolvedTypes_;
    return result;
}

ComPtr<ole::ITypeLib> TLBModifier::GenerateDirectTestUnresolved(ole::ITypeLib* unresolvedTypes,
                                                               std::u16string_view saveAs) {
    ScopeGuard reset([this] {
        mode_ = Mode::Normal;
        unresolvedTypes_ = nullptr;
    });
    if (unresolvedTypes) {
        mode_ = Mode::TestUnresolved;
        unresolvedTypes_ = ComPtr<ole::ITypeLib>(unresolvedTypes);
        const ole::UINT n = unresolvedTypes->GetTypeInfoCount();
        for (ole::UINT i = 0; i < n; ++i) {
            ComPtr<ole::ITypeInfo> placeholder;
            CheckHr(unresolvedTypes->GetTypeInfo(i, placeholder.put()));
            RedirectType(TliTypeInfo(placeholder.get()).get(), nullptr, true);
        }
    }
    return RunGeneration(saveAs);
}

ComPtr<tli::TypeInfo> TLBModifier::AddUnresolvedType(tli::VarTypeInfo* vti) {
    Generation& g = *gen_;
    g.madeUnresolved = true;
    if (!unresolvedCreate_) {
        if (unresolvedTypes_) {
            CheckHr(unresolvedTypes_.As(&unresolvedCreate_));
        } else {
            ComPtr<ole::ICreateTypeLib2> lib;
            CheckHr(ole::CreateTypeLib2(ole::SYS_WIN32, u"", lib.put()));
            CheckHr(lib->SetGuid(NewGuid()));
            CheckHr(lib->SetLcid(0));
            CheckHr(lib->SetName(modSupport::LoadResStringById(796).c_str()));
            helper::MarkUnresolvedTypesLib(lib.get());
            CheckHr(lib.As(&unresolvedTypes_));
            unresolvedCreate_ = lib;
        }
    }

    // Which placeholder: an interface for what is used as an interface, a
    // source interface for a coclass's outgoing entry, else the enum.
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    switch (g.fillingKind) {
        case ole::TKIND_COCLASS: {
            const bool source = (g.refFlags & ole::IMPLTYPEFLAG_FSOURCE) &&
                                !(g.refFlags & ole::IMPLTYPEFLAG_FDEFAULTVTABLE);
            kind = source ? ole::TKIND_DISPATCH : ole::TKIND_INTERFACE;
            break;
        }
        case ole::TKIND_INTERFACE:
        case ole::TKIND_DISPATCH:
        case ole::TKIND_MODULE: {
            // References of dispinterfaces and modules count as interface-like
            // too: a pointer to an unresolved type there is taken for an interface.
            int level = 0;
            bool isArray = false;
            if (vti) {
                ole::VARTYPE vt = 0;
                CheckHr(vti->get_VarType(&vt));
                isArray = (vt & tli::VTI_ARRAYMASK) != 0;
                ole::SHORT levels = 0;
                CheckHr(isArray ? vti->get_ElementPointerLevel(&levels) : vti->get_PointerLevel(&levels));
                level = levels;
            }
            if (g.refContext == Generation::kBaseInterface)
                level = 1;
            else if (!isArray && (g.refFlags & ole::PARAMFLAG_FOUT))
                --level;
            if (level == 1) kind = ole::TKIND_INTERFACE;
            break;
        }
        default:
            break;
    }
    ComPtr<ole::ITypeInfo> placeholder;
    CheckHr(unresolvedTypes_->GetTypeInfo(GetUnresolvedPlaceholder(kind), placeholder.put()));
    return TliTypeInfo(placeholder.get());
}

ole::UINT TLBModifier::GetUnresolvedPlaceholder(ole::TYPEKIND kind) {
    const ole::UINT n = unresolvedTypes_->GetTypeInfoCount();
    for (ole::UINT i = 0; i < n; ++i) {
        ole::TYPEKIND k{};
        if (SUCCEEDED(unresolvedTypes_->GetTypeInfoType(i, &k)) && k == kind) return i;
    }
    const int32_t nameId = kind == ole::TKIND_INTERFACE ? 797 : kind == ole::TKIND_DISPATCH ? 798 : 799;
    const std::u16string name = modSupport::LoadResStringById(nameId);
    ComPtr<ole::ICreateTypeInfo> created;
    CheckHr(unresolvedCreate_->CreateTypeInfo(name.c_str(), kind, created.put()));
    ScopeGuard undo([&] { (void)unresolvedCreate_->DeleteTypeInfo(name.c_str()); });
    if (kind != ole::TKIND_ENUM) {
        ComPtr<ole::ITypeInfo> base =
            kind == ole::TKIND_INTERFACE ? BaseTICache::Instance().IUnknown() : BaseTICache::Instance().IDispatch();
        if (!base) RaiseError(kErrObjectNotSet);
        ole::HREFTYPE href = 0;
        CheckHr(created->AddRefTypeInfo(base.get(), &href));
        CheckHr(created->AddImplType(0, href));
        CheckHr(created->SetGuid(NewGuid()));
    }
    CheckHr(created->LayOut());
    undo.Dismiss();
    return n;
}

}  // namespace zephrin

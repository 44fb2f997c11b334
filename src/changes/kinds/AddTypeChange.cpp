#include "changes/kinds/AddTypeChange.h"

#include <utility>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

namespace {

constexpr std::u16string_view kNoGuid = u"{00000000-0000-0000-0000-000000000000}";

// True when no type of lib binds to the name; a failing lookup counts as free.
modMarbrel::NamePredicate TypeNamePredicate(ole::ITypeLib* lib) {
    ole::ComPtr<ole::ITypeComp> comp;
    if (ole::FAILED(lib->GetTypeComp(comp.put()))) comp = nullptr;
    return [comp](const std::u16string& candidate) {
        if (!comp) return true;
        std::u16string name = candidate;
        ole::ComPtr<ole::ITypeInfo> type;
        ole::ComPtr<ole::ITypeComp> typeComp;
        if (ole::FAILED(comp->BindType(name.data(), 0, type.put(), typeComp.put()))) return true;
        return !type && !typeComp;
    };
}

}  // namespace

bool AddTypeChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                          int32_t flags) {
    const Given given = std::exchange(given_, Given{});
    newGuid_ = {};
    RequireTargetKind(ChangeKind::AddTypeChange, target);
    if (typeKind_ < ole::TKIND_ENUM || typeKind_ > ole::TKIND_UNION) RaiseError(kErrInvalidArgument);
    const auto kind = static_cast<ole::TYPEKIND>(typeKind_);
    const bool needsGuid = kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH || kind == ole::TKIND_COCLASS;
    ole::ITypeLib* lib = changes_detail::TargetLibrary(target);
    std::u16string name = modSupport::LoadResStringById(631 + typeKind_);
    modMarbrel::MakeUniqueName(TypeNamePredicate(lib), name, true);
    const ole::UINT index = lib->GetTypeInfoCount();

    ScopeGuard rollback;
    if (useLibraryHelpFiles_) changes_detail::RestoreLibraryHelpFiles(library, rollback);
    const std::shared_ptr<CustomTypeInfo> type = library.AddCustomTypeInfo(name, kind, kNoGuid);
    rollback.OnFailure([&] { library.DeleteTypeInfo(name); });
    ole::GUID guid{};
    if (needsGuid && given.Guid != ole::GUID{} && given.TypeName == name) {
        try {
            type->SetGuidDirect(given.Guid);
            guid = given.Guid;
        } catch (const ErrorRecord&) {
            // Another type has it: the new type gets a fresh one.
        }
    }
    if (needsGuid && guid == ole::GUID{}) {
        CheckHr(ole::CoCreateGuid(&guid));
        type->SetGuidDirect(guid);
    }
    switch (kind) {
        case ole::TKIND_INTERFACE:
            type->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
            type->Attributes(ole::TYPEFLAG_FNONEXTENSIBLE);
            break;
        case ole::TKIND_DISPATCH: type->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr); break;
        case ole::TKIND_ALIAS: {
            const ole::ComPtr<CustomVarTypeInfo> aliased = CustomVarTypeInfo::New();
            aliased->SetType(ole::VT_I4, nullptr);
            type->SetAlias(aliased.get());
            break;
        }
        case ole::TKIND_COCLASS: type->Attributes(ole::TYPEFLAG_FCANCREATE); break;
        default: break;
    }
    rollback.Dismiss();
    newGuid_ = guid;

    target.TypeIndex = static_cast<int32_t>(index);
    target.TypeKind = typeKind_;
    target.TypeName = name;
    if (listener) {
        ChangeTarget copy = target;
        NotifyListener(*listener, ChangeKind::AddTypeChange, copy, *this, flags);
    }
    return true;
}

std::u16string AddTypeChange::Describe(ChangeTarget&) {
    return modSupport::LoadResStringFormat(639, {modAttributeStrings::TypeKindText(typeKind_)});
}

ChangePtr AddTypeChange::Clone() {
    auto copy = modAddTypeChange::NewAddTypeChange(false);
    copy->typeKind_ = typeKind_;
    copy->useLibraryHelpFiles_ = useLibraryHelpFiles_;
    return copy;
}

void AddTypeChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutByte(static_cast<uint8_t>(typeKind_ & 0xFF));
    changes_detail::PutByteBoolean(out, useLibraryHelpFiles_);
}

void AddTypeChange::Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache&) {
    typeKind_ = in.GetByte();
    useLibraryHelpFiles_ = version >= 4 && in.GetByteBoolean();
}

namespace modAddTypeChange {
std::shared_ptr<AddTypeChange> NewAddTypeChange(bool) { return std::make_shared<AddTypeChange>(); }
}  // namespace modAddTypeChange

}  // namespace zephrin

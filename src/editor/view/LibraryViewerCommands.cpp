// The commands of the tree's context menu, and the internalise and redirect
// operations the external types dialog calls too. Each structural command
// builds one change, applies it through the hub as the view's own (the
// view's listener then brings the tree in step), and reports its own errors:
// what an earlier step applied stays applied.
#include "editor/view/LibraryViewer.h"

#include <QTimer>
#include <QTreeWidget>

#include "changes/hub/ChangeListener.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "dialogs/UiServices.h"
#include "editor/tree/LibraryTree.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"

namespace zephrin::editor {

namespace {

constexpr int32_t kMsgKeepDefaultInterface = 939;
constexpr int32_t kDisplayCustDataHex = 64;

// The TYPEKIND each Add Type item adds, by its index.
constexpr int32_t kAddTypeKinds[] = {ole::TKIND_ALIAS,    ole::TKIND_COCLASS, ole::TKIND_DISPATCH, ole::TKIND_ENUM,
                                     ole::TKIND_INTERFACE, ole::TKIND_MODULE, ole::TKIND_RECORD,   ole::TKIND_UNION};

// A coclass's default interface and default source interface in its own library, or -1.
struct CoclassDefaults {
    int32_t Interface = -1;
    int32_t Source = -1;
};

CoclassDefaults FindCoclassDefaultInterfaces(ole::ITypeLib* library, int32_t typeIndex) {
    CoclassDefaults found;
    const ole::ComPtr<ole::ITypeInfo> coclass =
        modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(typeIndex));
    int defaults = 0;
    for (ole::UINT i = 0; defaults < 2; ++i) {
        ole::INT flags = 0;
        if (ole::FAILED(coclass->GetImplTypeFlags(i, &flags))) break;
        if ((flags & ole::IMPLTYPEFLAG_FDEFAULT) == 0) continue;
        ole::HREFTYPE ref = 0;
        ole::ComPtr<ole::ITypeInfo> implemented;
        CheckHr(coclass->GetRefTypeOfImplType(i, &ref));
        CheckHr(coclass->GetRefTypeInfo(ref, implemented.put()));
        ole::ComPtr<ole::ITypeLib> holder;
        ole::UINT index = 0;
        CheckHr(implemented->GetContainingTypeLib(holder.put(), &index));
        if (!typelib_detail::SameObject(holder.get(), library)) continue;
        ++defaults;
        if ((flags & ole::IMPLTYPEFLAG_FSOURCE) != 0)
            found.Source = static_cast<int32_t>(index);
        else
            found.Interface = static_cast<int32_t>(index);
    }
    if (found.Interface == found.Source) found.Interface = -1;
    return found;
}

// The IDs of every member of the type but except.
std::vector<int32_t> MemberIdsOf(ole::ITypeLib* library, int32_t typeIndex, int32_t except) {
    const ole::ComPtr<ole::ITypeInfo> info =
        modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(typeIndex));
    const typelib_detail::TypeAttr attr(info.get());
    std::vector<int32_t> ids;
    for (ole::UINT i = 0; i < attr->cFuncs; ++i) {
        const typelib_detail::FuncDescHolder func(info.get(), i);
        if (func->memid != except) ids.push_back(func->memid);
    }
    for (ole::UINT i = 0; i < attr->cVars; ++i) {
        ole::VARDESC* var = nullptr;
        CheckHr(info->GetVarDesc(i, &var));
        const ole::MEMBERID id = var->memid;
        info->ReleaseVarDesc(var);
        if (id != except) ids.push_back(id);
    }
    return ids;
}

// A type the view's selection doesn't name, as a target of the current library.
ChangeTarget TypeTarget(ole::ITypeLib* library, int32_t typeIndex, const ole::ComPtr<ole::ITypeLib>& unresolved) {
    ChangeTarget target;
    target.Kind = kTargetType;
    target.Library = ole::ComPtr<ole::ITypeLib>(library);
    target.TypeIndex = typeIndex;
    target.TypeKind = DescribeType(library, typeIndex).TypeKind;
    target.TypeName = modITypeInfoHelper::GetTypeInfoName(
        modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(typeIndex)).get());
    target.UnresolvedLibrary = unresolved;
    return target;
}

// True when type describes a user-defined type.
bool HasType(tli::VarTypeInfo* type) {
    if (!type) return false;
    ole::ComPtr<tli::TypeInfo> info;
    return ole::SUCCEEDED(type->get_TypeInfo(info.put())) && info;
}

}  // namespace

void LibraryViewer::RunMenuCommand(MenuItem item, int32_t index, int32_t tag) {
    switch (item) {
    case MenuItem::mnuRename:
        dialogs::Guarded(this, [this] { StartLabelEdit(); });
        return;
    case MenuItem::mnuCustData:
        // The dialog opens once the menu has closed.
        custDataDue_ = true;
        StartDelayExecution();
        return;
    case MenuItem::mnuExternalTypes:
        dialogs::Guarded(this, [this] { ShowExternalTypes(); });
        return;
    case MenuItem::mnuInternalizeOneType:
    case MenuItem::mnuInternalizeRefTypes:
    case MenuItem::mnuInternalizeAllTypes:
    case MenuItem::mnuInternalizeProxyOneType:
    case MenuItem::mnuInternalizeProxyRefTypes:
    case MenuItem::mnuInternalizeProxyAllTypes: {
        const int32_t first = static_cast<int32_t>(MenuItem::mnuInternalizeOneType);
        const int32_t proxies = static_cast<int32_t>(MenuItem::mnuInternalizeProxyOneType);
        const int32_t at = static_cast<int32_t>(item);
        InternalizeTypes(at >= proxies ? 4 + at - proxies : at - first, nullptr);
        return;
    }
    case MenuItem::mnuRedirInternalizeThisType:
    case MenuItem::mnuRedirInternalizeAllRefTypes:
    case MenuItem::mnuRedirInternalizeAllTypes:
    case MenuItem::mnuRedirInternalizeProxyThisType:
    case MenuItem::mnuRedirInternalizeProxyAllRefTypes:
    case MenuItem::mnuRedirInternalizeProxyAllTypes:
    case MenuItem::mnuRedirectExternalThisType:
    case MenuItem::mnuRedirectExternalAllTypes: {
        // The external type the type pane shows.
        ole::ComPtr<tli::VarTypeInfo> shown;
        dialogs::Guarded(this, [&] {
            if (!workingChange_) return;
            if (const ole::ComPtr<CustomVarTypeInfo> type = workingChange_->VarTypeInfo()) shown = type->GetVarTypeInfo();
        });
        if (!shown) return;
        const int32_t at = static_cast<int32_t>(item) - static_cast<int32_t>(MenuItem::mnuRedirInternalizeThisType);
        if (item == MenuItem::mnuRedirectExternalThisType || item == MenuItem::mnuRedirectExternalAllTypes)
            RedirectTypes(item == MenuItem::mnuRedirectExternalThisType ? 0 : 1, shown.get(), this);
        else
            InternalizeTypes(at >= 3 ? 4 + at - 3 : at, shown.get());
        return;
    }
    default:
        break;
    }
    dialogs::Guarded(this, [&] { RunStructuralCommand(item, index, tag); });
}

void LibraryViewer::RunStructuralCommand(MenuItem item, int32_t index, int32_t tag) {
    switch (item) {
    case MenuItem::mnuAddTypePick: AddType(index); break;
    case MenuItem::mnuAddVar: AddMember(0); break;
    case MenuItem::mnuAddFuncPick: AddMember(index); break;
    case MenuItem::mnuAddImplType: AddImplType(); break;
    case MenuItem::mnuInsertParamPick: InsertParam(tag); break;
    case MenuItem::mnuDelete: DeleteCommand(0); break;
    case MenuItem::mnuDeletePropPick: DeleteCommand(index); break;
    case MenuItem::mnuRemoveParamArray: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        ApplySkippingView(*modRemoveParamArrayChange::GetRemoveParamArrayChange(), nullptr, target, 1);
        RefillSelection();
        break;
    }
    case MenuItem::mnuFlattenInterface: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        ApplyOwnChange(*modFlattenChange::GetFlattenChange(), nullptr, target, 2);
        break;
    }
    case MenuItem::mnuResetIDsPick: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        const ChangePtr reset = index == 0 ? modResetIDsChange::GetResetAutomaticIDsChange()
                                           : modResetIDsChange::GetResetAllIDsChange();
        ApplyOwnChange(*reset, nullptr, target, 1);
        break;
    }
    case MenuItem::mnuVTableOrder: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        // The tree does not show the vtable order: nothing in it to refresh.
        if (const std::shared_ptr<ReorderVTableChange> order = dialogs_->VTableOrder(target, this))
            ApplySkippingView(*order, nullptr, target, 0);
        break;
    }
    case MenuItem::mnuVarOrder: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        if (const std::shared_ptr<ReorderVarsChange> order = dialogs_->VarOrder(target, this))
            ApplyOwnChange(*order, nullptr, target, 1);
        break;
    }
    case MenuItem::mnuTypeOrder: {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        if (const std::shared_ptr<ReorderTypesChange> order = dialogs_->TypeOrder(target, this))
            ApplyOwnChange(*order, nullptr, target, 0);
        break;
    }
    case MenuItem::mnuResolved: FindResolved(); break;
    case MenuItem::mnuRedirectLeave: RedirectSelectedType(0); break;
    case MenuItem::mnuRedirectReplace: RedirectSelectedType(RedirectTypesChange::kReplaceDefinition); break;
    default: break;
    }
}

ChangeTarget LibraryViewer::CommandTarget() const {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    if (!node || !CurrentCustomTypeLib()) return {};
    ChangeTarget target = node == shownNode_ && editTarget_.Kind != 0 ? editTarget_ : TargetOfNode(node);
    target.ReplacementLibrary = nullptr;
    target.UnresolvedLibrary = unresolved_;
    return target;
}

// ---- Adding ----

void LibraryViewer::AddType(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(std::size(kAddTypeKinds))) return;
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0) return;
    const std::shared_ptr<AddTypeChange> add = modAddTypeChange::NewAddTypeChange(false);
    add->TypeKind(kAddTypeKinds[index]);
    add->UseLibraryHelpFiles(addUsesLibraryHelpFiles_);
    // The listener selects the new type: the user names it at once.
    if (ApplyOwnChange(*add, nullptr, target, 2)) StartLabelEdit();
}

void LibraryViewer::AddMember(int32_t invokeKinds) {
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0) return;
    // Accessors offered on a property's node join that property; a value or
    // a field inserted from a member's node is a new member as from its type.
    const bool toProperty = invokeKinds != 0 && target.Kind == kTargetMember;
    if (toProperty) {
        // Accessors added to a property: the target names the ones it has.
        NodeRecord* record = nullptr;
        if (GetNodeKind(tvTypes_->currentItem(), record) != kNodeMember) return;
        target.InvokeKind = static_cast<MemberNodeRecord*>(record)->AccessBits & 15;
    }
    const std::shared_ptr<AddMemberChange> add = modAddMemberChange::NewAddMemberChange(false);
    add->InvokeKind(invokeKinds);
    add->UseLibraryHelpFiles(addUsesLibraryHelpFiles_);
    if (!ApplyOwnChange(*add, nullptr, target, 2) || toProperty) return;
    // A method of a dispinterface that VB must implement returns nothing.
    const bool makeVoid = invokeKinds == kAccessFunc && target.Kind == kTargetType &&
                          target.TypeKind == ole::TKIND_DISPATCH && typeConstraint_ == kConstraintImplementable;
    ApplyNewMemberDefaults(makeVoid);
    StartLabelEdit();
}

void LibraryViewer::ApplyNewMemberDefaults(bool makeVoid) {
    // The listener has selected the new member: the pane describes it.
    const std::shared_ptr<IAttributeChange> working = workingChange_;
    const std::shared_ptr<IAttributeChange> baseline = baselineChange_;
    if (!working || !baseline || editTarget_.Kind != kTargetMember) return;
    ChangeTarget target = editTarget_;
    int32_t memberId = -1;
    if (memberIdConstraints_)
        memberId = NextConstrainedMemberID(
            target, *memberIdConstraints_, MemberIdsOf(target.Library.get(), target.TypeIndex, target.MemberId));
    if (!makeVoid && memberId == -1) return;
    if (makeVoid) {
        const ole::ComPtr<CustomVarTypeInfo> none = CustomVarTypeInfo::New();
        none->SetType(ole::VT_VOID, nullptr);
        working->VarTypeInfo(none.get());
    }
    if (memberId != -1) working->MemberId(memberId);
    ApplyOwnChange(*working, baseline.get(), target, 1);
}

void LibraryViewer::AddImplType() {
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0) return;
    constexpr int32_t kUsageImpliedInterface = 11;
    dialogs::LibraryCollection referenced = ReferencedLibraries();
    const SpecifiedType picked = dialogs_->SpecifyType(this, kUsageImpliedInterface, typeConstraint_,
                                                       CurrentLibraryITypeLib().get(), referenced, nullptr);
    KeepReferencedLibraries(referenced);
    if (!picked.Accepted || !picked.Type) return;
    const std::shared_ptr<AddImplTypeChange> add = modAddImplTypeChange::NewAddImplTypeChange(false);
    add->VarTypeInfo(picked.Type->GetVarTypeInfo().get());
    ApplyOwnChange(*add, nullptr, target, 2);
}

void LibraryViewer::InsertParam(int32_t option) {
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0 || option == 0) return;
    const std::shared_ptr<InsertParamChange> insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(option);
    // A return value and an LCID parameter keep the names they are given.
    if (ApplyOwnChange(*insert, nullptr, target, 2) && option != InsertParamChange::kReturnValue &&
        option != InsertParamChange::kLcid)
        StartLabelEdit();
}

// ---- Deleting ----

void LibraryViewer::DeleteCommand(int32_t accessors) {
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0) return;
    if (accessors != 0) target.InvokeKind = accessors;
    // With the filter's pairing, a coclass goes with its default interfaces
    // and an implemented interface with its interface.
    bool followUps = false;
    CoclassDefaults defaults;
    int32_t coclass = -1;
    std::u16string keepAs;
    if (commandFilter_.Enabled() && commandFilter_.PairCoclasses != 0) {
        if (target.Kind == kTargetType && target.TypeKind == ole::TKIND_COCLASS) {
            coclass = target.TypeIndex;
            defaults = FindCoclassDefaultInterfaces(target.Library.get(), coclass);
            if (defaults.Interface >= 0) {
                const dialogs::MessageAnswer answer = dialogs::Services().MessageBox(
                    this, dialogs::ResText(kMsgKeepDefaultInterface), dialogs::kStyleYesNoCancelQuestion);
                if (answer == dialogs::kAnswerCancel) return;
                if (answer == dialogs::kAnswerYes)
                    keepAs = modITypeInfoHelper::GetTypeInfoName(
                        modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<ole::UINT>(coclass))
                            .get());
            }
            followUps = true;
        } else if (target.Kind == kTargetImplType) {
            NodeRecord* record = nullptr;
            if (GetNodeKind(tvTypes_->currentItem(), record) == kNodeImplType)
                defaults.Source = static_cast<ImpliedInterfaceNodeRecord*>(record)->RefTypeIndex;
            followUps = true;
        }
    }
    ApplyOwnChange(*modDeleteChange::GetDeleteChange(), nullptr, target, 1);
    if (!followUps) return;
    if (coclass >= 0) {
        if (defaults.Interface > coclass) --defaults.Interface;
        if (defaults.Source > coclass) --defaults.Source;
    }
    if (defaults.Source >= 0) {
        ApplyDeleteChange(defaults.Source);
        if (defaults.Interface > defaults.Source) --defaults.Interface;
    }
    if (defaults.Interface < 0) return;
    if (keepAs.empty())
        ApplyDeleteChange(defaults.Interface);
    else
        RenameType(defaults.Interface, keepAs);
}

void LibraryViewer::ApplyDeleteChange(int32_t typeIndex) {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) return;
    ChangeTarget target = TypeTarget(CurrentLibraryITypeLib().get(), typeIndex, unresolved_);
    ChangeListener* hub = hook_.Hub().get();
    // No origin: the selection is not the type deleted.
    modDeleteChange::GetDeleteChange()->Apply(*library, nullptr, target,
                                              hub ? static_cast<IChangeListener*>(hub) : this, hub ? 0 : 1);
}

void LibraryViewer::RenameType(int32_t typeIndex, const std::u16string& name) {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) return;
    ChangeTarget target = TypeTarget(CurrentLibraryITypeLib().get(), typeIndex, unresolved_);
    const std::shared_ptr<RenameChange> rename = modRenameChange::NewRenameChange(false);
    rename->InitFromTarget(target);
    const ChangePtr baseline = rename->Clone();
    rename->NewName(name);
    if (!rename->Differs(*baseline)) return;
    ChangeListener* hub = hook_.Hub().get();
    rename->Apply(*library, baseline.get(), target, hub ? static_cast<IChangeListener*>(hub) : this, 0);
}

void LibraryViewer::RenameCoclassInterfaces(int32_t typeIndex, const std::u16string& oldName,
                                            const std::u16string& newName) {
    if (oldName.empty()) return;
    const CoclassDefaults defaults = FindCoclassDefaultInterfaces(CurrentLibraryITypeLib().get(), typeIndex);
    for (const int32_t index : {defaults.Interface, defaults.Source}) {
        if (index < 0) continue;
        std::u16string name = modITypeInfoHelper::GetTypeInfoName(
            modITypeInfoHelper::GetInterfaceTypeInfo(CurrentLibraryITypeLib().get(), static_cast<ole::UINT>(index))
                .get());
        const size_t at = name.find(oldName);
        if (at == std::u16string::npos) continue;
        name.replace(at, oldName.size(), newName);
        RenameType(index, name);
    }
}

// ---- Finding, internalising, redirecting ----

void LibraryViewer::FindResolved() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    NodeRecord* record = nullptr;
    int32_t index = kRefNone;
    switch (GetNodeKind(node, record)) {
    case kNodeType: index = static_cast<TypeNodeRecord*>(record)->RefTypeIndex; break;
    case kNodeImplType: index = static_cast<ImpliedInterfaceNodeRecord*>(record)->RefTypeIndex; break;
    default: return;
    }
    if (index >= 0) SelectTypeNode(node, index);
}

void LibraryViewer::InternalizeTypes(int32_t scope, tli::VarTypeInfo* type) {
    dialogs::Guarded(this, [&] {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0) return;
        ole::ComPtr<tli::VarTypeInfo> chosen(type);
        if (!chosen) {
            dialogs::LibraryCollection referenced = ReferencedLibraries();
            const SpecifiedType picked = (scope & 3) == 0
                                             ? dialogs_->ImportType(this, CurrentLibraryITypeLib().get(), referenced)
                                             : dialogs_->ImportLibrary(this, CurrentLibraryITypeLib().get(), referenced);
            KeepReferencedLibraries(referenced);
            if (!picked.Accepted || !picked.Type) return;
            chosen = picked.Type->GetVarTypeInfo();
        }
        if (!HasType(chosen.get())) return;
        const std::shared_ptr<InternalizeTypesChange> internalize =
            modInternalizeTypesChange::NewInternalizeTypesChange(false);
        internalize->VarTypeInfo(chosen.get());
        internalize->Flags(scope);
        ApplyOwnChange(*internalize, nullptr, target, 1);
    });
}

bool LibraryViewer::RedirectTypes(int32_t scope, tli::VarTypeInfo* from, QWidget* owner) {
    bool applied = false;
    dialogs::Guarded(this, [&] {
        ChangeTarget target = CommandTarget();
        if (target.Kind == 0 || !from) return;
        dialogs::LibraryCollection referenced = ReferencedLibraries();
        QWidget* asking = owner ? owner : this;
        const SpecifiedType picked =
            (scope & RedirectTypesChange::kWholeLibrary) == 0
                ? dialogs_->RedirectType(asking, CurrentLibraryITypeLib().get(), referenced, from)
                : dialogs_->RedirectLibrary(asking, CurrentLibraryITypeLib().get(), referenced, from);
        KeepReferencedLibraries(referenced);
        if (!picked.Accepted || !picked.Type) return;
        const ole::ComPtr<tli::VarTypeInfo> to = picked.Type->GetVarTypeInfo();
        // The same type again is no redirection.
        if (typelib_detail::SameObject(to.get(), from) || modMarbrel::VarTypeInfoEquals(to.get(), from)) return;
        const std::shared_ptr<RedirectTypesChange> redirect = modRedirectTypesChange::NewRedirectTypesChange(false);
        redirect->SourceVarTypeInfo(from);
        redirect->DestVarTypeInfo(to.get());
        redirect->Flags(scope);
        applied = ApplyOwnChange(*redirect, nullptr, target, 2);
    });
    return applied;
}

void LibraryViewer::RedirectSelectedType(int32_t scope) {
    ChangeTarget target = CommandTarget();
    if (target.Kind != kTargetType) return;
    // The selected type, described as a user-defined type of this library.
    const ole::ComPtr<CustomVarTypeInfo> from = CustomVarTypeInfo::New();
    from->CurrentITypeLib(target.Library.get());
    from->SetType(0, typelib_detail::TliTypeInfo(modITypeInfoHelper::GetInterfaceTypeInfo(
                                                     target.Library.get(), static_cast<ole::UINT>(target.TypeIndex))
                                                     .get())
                         .get());
    RedirectTypes(scope, from->GetVarTypeInfo().get(), this);
}

void LibraryViewer::ShowExternalTypes() {
    // A host's filter may withhold internalising and redirecting.
    bool internalize = true;
    bool redirect = true;
    if (commandFilter_.Enabled()) {
        internalize = (commandFilter_.LibraryCommands & kFilterLibInternalize) != 0;
        redirect = (commandFilter_.TypeCommands & kFilterTypeRedirect) != 0;
    }
    dialogs_->ExternalTypes(*this, this, internalize, redirect, true);
}

// ---- The delayed work: a re-sort after a rename, the custom-data dialog ----

void LibraryViewer::StartDelayExecution() {
    if (!tmrDelayExecution_) {
        tmrDelayExecution_ = new QTimer(this);
        tmrDelayExecution_->setSingleShot(true);
        tmrDelayExecution_->setInterval(0);
        connect(tmrDelayExecution_, &QTimer::timeout, this, [this] { tmrDelayExecution_Timer(); });
    }
    tmrDelayExecution_->start();
}

void LibraryViewer::tmrDelayExecution_Timer() {
    tmrDelayExecution_->stop();
    if (deferredSort_ || !earlierSorts_.empty())
        dialogs::Guarded(this, [this] { RunDeferredSort(deferredGeneration_); });
    if (!custDataDue_) return;
    custDataDue_ = false;
    dialogs::Guarded(this, [this] { EditCustomData(); });
}

void LibraryViewer::EditCustomData() {
    ChangeTarget target = CommandTarget();
    if (target.Kind == 0) return;
    bool hex = (displayFormat_ & kDisplayCustDataHex) != 0;
    const std::shared_ptr<CustDataChange> change = dialogs_->CustData(target, this, typeConstraint_, hex);
    displayFormat_ = hex ? displayFormat_ | kDisplayCustDataHex : displayFormat_ & ~kDisplayCustDataHex;
    if (change) ApplyOwnChange(*change, nullptr, target, 0);
}

}  // namespace zephrin::editor

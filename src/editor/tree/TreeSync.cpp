#include "editor/tree/TreeSync.h"

#include <algorithm>

#include <QTreeWidget>

#include "dialogs/UiServices.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeSort.h"
#include "foundation/ErrorRecord.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin::editor {

using ole::ComPtr;
using typelib_detail::TypeAttr;

namespace {

TreeNode* NewNode(const std::u16string& text, int16_t image, NodeRecord* tag) {
    auto* node = new TreeNode;
    node->setText(0, dialogs::ToQString(text));
    SetNodeImage(node, image);
    node->Tag = tag;
    return node;
}

// The type record of a type node, or error 5.
TypeNodeRecord& TypeRecordOf(QTreeWidgetItem* node) {
    NodeRecord* tag = nullptr;
    if (GetNodeKind(node, tag) != kNodeType) RaiseError(kErrInvalidArgument);
    return *static_cast<TypeNodeRecord*>(tag);
}

// The child at position (from 0), or null.
QTreeWidgetItem* ChildAt(QTreeWidgetItem* node, int32_t position) {
    return position >= 0 && position < node->childCount() ? node->child(position) : nullptr;
}

// Whether a coclass's implemented interface number (from 1), or the first
// implemented interface of a type, names a type of this library; its index.
int32_t ResolveImplemented(ole::ITypeLib* lib, ole::ITypeInfo* ti, ole::UINT implIndex, std::u16string* name) {
    ole::HREFTYPE href = 0;
    ComPtr<ole::ITypeInfo> implemented;
    if (ole::FAILED(ti->GetRefTypeOfImplType(implIndex, &href))) return kRefNone;
    CheckHr(ti->GetRefTypeInfo(href, implemented.put()));
    ComPtr<ole::ITypeLib> containing;
    ole::UINT index = 0;
    CheckHr(implemented->GetContainingTypeLib(containing.put(), &index));
    if (!typelib_detail::SameObject(containing.get(), lib)) return kRefNone;
    if (name) {
        ole::BSTR text = nullptr;
        CheckHr(implemented->GetDocumentation(ole::MEMBERID_NIL, &text, nullptr, nullptr, nullptr));
        *name = typelib_detail::TakeBstr(text);
    }
    return static_cast<int32_t>(index);
}

}  // namespace

QTreeWidgetItem* FindTargetNode(QTreeWidget* tree, const ChangeTarget& target, int32_t mode) {
    QTreeWidgetItem* root = nullptr;
    for (int i = 0; i < tree->topLevelItemCount() && !root; ++i) {
        NodeRecord* tag = nullptr;
        if (GetNodeKind(tree->topLevelItem(i), tag) == kNodeLibrary &&
            static_cast<LibraryNodeRecord*>(tag)->Library.get() == target.Library.get())
            root = tree->topLevelItem(i);
    }
    if (!root || !target.Library) RaiseError(kErrInvalidArgument);
    if (target.Kind == kTargetLibrary) return root;
    const bool build = mode >= kFindBuild;
    if (HasPlaceholder(root)) {
        if (!build) return nullptr;
        EnsureChildren(root);
    }
    TypeNodeRecord* type = FindTypeRecord(*LibraryRecordOf(root), target.TypeIndex);
    if (!type) return nullptr;
    QTreeWidgetItem* typeNode = type->Node;
    switch (target.Kind) {
    case kTargetType:
        return typeNode;
    case kTargetImplType:
        if (HasPlaceholder(typeNode)) {
            if (!build) return nullptr;
            EnsureChildren(typeNode);
        }
        return ChildAt(typeNode, target.MemberId);
    case kTargetMember:
    case kTargetParam: {
        QTreeWidgetItem* member = nullptr;
        if (HasPlaceholder(typeNode)) {
            if (!build) return nullptr;
            member = EnsureChildren(typeNode, target.MemberId);
        } else {
            for (int i = 0; i < typeNode->childCount() && !member; ++i) {
                NodeRecord* tag = nullptr;
                if (GetNodeKind(typeNode->child(i), tag) == kNodeMember &&
                    static_cast<MemberNodeRecord*>(tag)->MemberId == target.MemberId)
                    member = typeNode->child(i);
            }
        }
        if (!member) RaiseError(kErrInvalidArgument);
        if (target.Kind == kTargetMember) return member;
        if (HasPlaceholder(member)) {
            if (!build) return nullptr;
            EnsureChildren(member);
        }
        return ChildAt(member, target.ParamIndex);
    }
    default:
        RaiseError(kErrInvalidArgument);
    }
}

QTreeWidgetItem* AddTypeNodeForChange(const ChangeTarget& target, QTreeWidgetItem* libraryNode) {
    LibraryNodeRecord* library = LibraryRecordOf(libraryNode);
    if (!library) RaiseError(kErrInvalidArgument);
    if (HasPlaceholder(libraryNode)) return nullptr;
    const int32_t kind = target.TypeKind;
    const bool based = kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH;
    const int16_t image =
        kind == ole::TKIND_ALIAS ? static_cast<int16_t>(kImageIntrinsicAlias + kImageAliasOverlay) : ImageOfKind(kind);
    TreeNode* node = NewNode(target.TypeName, image, nullptr);
    node->Tag = NewTypeRecord(node, *library, target.TypeIndex, kind, based ? kRefBaseOutside : kRefNone, based);
    libraryNode->addChild(node);
    return node;
}

void RenameTypeReferences(QTreeWidgetItem* typeNode, const std::u16string& newName) {
    TypeNodeRecord& type = TypeRecordOf(typeNode);
    RenameImpliedInterfaceNodes(type.TypeIndex, *type.Library, newName);
}

void RenameImpliedInterfaceNodes(int32_t typeIndex, LibraryNodeRecord& library, const std::u16string& newText) {
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next)
        if (r->RefTypeIndex == typeIndex) r->Node->setText(0, dialogs::ToQString(newText));
}

QTreeWidgetItem* AddVariableNodeForChange(const ChangeTarget& target, const std::u16string& name,
                                          ole::MEMBERID memberId, QTreeWidgetItem* node) {
    QTreeWidgetItem* typeNode = target.Kind == kTargetType ? node : node->parent();
    TypeNodeRecord& type = TypeRecordOf(typeNode);
    if (HasPlaceholder(typeNode)) return EnsureChildren(typeNode, memberId);
    const bool constant = type.TypeKind == ole::TKIND_ENUM || type.TypeKind == ole::TKIND_MODULE;
    TreeNode* added = NewNode(name, constant ? kImageConstant : kImageProperty, nullptr);
    added->Tag = NewMemberRecord(added, type, memberId, constant ? kAccessEnumValue : kAccessField, false);
    const bool inOrder = type.TypeKind == ole::TKIND_ENUM || type.TypeKind == ole::TKIND_RECORD ||
                         type.TypeKind == ole::TKIND_UNION;
    if (!inOrder || typeNode->childCount() == 0)
        typeNode->addChild(added);
    else if (target.Kind == kTargetMember)
        typeNode->insertChild(typeNode->indexOfChild(node) + 1, added);
    else
        typeNode->insertChild(0, added);
    return added;
}

QTreeWidgetItem* AddFunctionNodeForChange(QTreeWidgetItem* typeNode, const std::u16string& name,
                                          ole::MEMBERID memberId, int32_t accessBits) {
    TypeNodeRecord& type = TypeRecordOf(typeNode);
    if (HasPlaceholder(typeNode)) return EnsureChildren(typeNode, memberId);
    const ComPtr<ole::ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(
        type.Library->Library.get(), static_cast<ole::UINT>(type.TypeIndex));
    bool found = false;
    const int32_t names = GetFuncParamNames(ti.get(), memberId, accessBits, found, nullptr);
    TreeNode* added = NewNode(name, (accessBits & kAccessFunc) ? kImageFunction : kImageProperty, nullptr);
    added->Tag = NewMemberRecord(added, type, memberId, accessBits, found);
    const bool accessor = (accessBits & (kAccessGet | kAccessPut | kAccessPutRef)) != 0;
    if (accessor || names > 1) AddPlaceholder(added);
    typeNode->addChild(added);
    SortNodeChildren(typeNode);
    return added;
}

QTreeWidgetItem* AddImpliedInterfaceNodeForChange(const ChangeTarget& target, tli::VarTypeInfo* implemented,
                                                  QTreeWidgetItem* coclassNode) {
    TypeNodeRecord& coclass = TypeRecordOf(coclassNode);
    if (HasPlaceholder(coclassNode) || !implemented) return nullptr;
    ComPtr<tli::TypeInfo> info;
    CheckHr(implemented->get_TypeInfo(info.put()));
    if (!info) RaiseError(kErrInvalidArgument);
    std::u16string name;
    ole::TYPEKIND kind = ole::TKIND_INTERFACE;
    CheckHr(info->get_Name(&name));
    CheckHr(info->get_TypeKind(&kind));
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(info->get_ITypeInfo(ti.put()));
    ComPtr<ole::ITypeLib> containing;
    ole::UINT index = 0;
    CheckHr(ti->GetContainingTypeLib(containing.put(), &index));
    const int32_t ref = typelib_detail::SameObject(containing.get(), coclass.Library->Library.get())
                            ? static_cast<int32_t>(index)
                            : kRefNone;
    const int16_t image = kind == ole::TKIND_ALIAS ? static_cast<int16_t>(kImageInterface + kImageAliasOverlay)
                                                   : static_cast<int16_t>(kImageInterface);
    TreeNode* node = NewNode(name, image, nullptr);
    node->Tag = NewImpliedInterfaceRecord(node, coclass, target.MemberId + 1, ref);
    coclassNode->addChild(node);
    return node;
}

QTreeWidgetItem* InsertParamNodeForChange(const ChangeTarget& target, const std::u16string& name,
                                          QTreeWidgetItem* memberNode) {
    const int32_t position = target.Kind == kTargetMember ? 0 : target.ParamIndex + 1;
    if (HasPlaceholder(memberNode)) {
        EnsureChildren(memberNode);
        return ChildAt(memberNode, position);
    }
    TreeNode* node = NewNode(name, kImageParameter, &ParameterNodeTag());
    memberNode->insertChild(std::min(position, memberNode->childCount()), node);
    return node;
}

void RefreshExternalReferences(LibraryNodeRecord& library, bool onlyClear, bool reText) {
    ole::ITypeLib* lib = library.Library.get();
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        if (onlyClear) {
            if (t->RefTypeIndex == kRefBaseOutside) t->RefFlags &= ~kRefFlattenTested;
            continue;
        }
        if (t->RefTypeIndex == kRefBaseOutside && t->TypeKind != ole::TKIND_DISPATCH) {
            // A dispinterface's base is always shown outside, even when the
            // library holds a copy of IDispatch.
            const ComPtr<ole::ITypeInfo> ti =
                modITypeInfoHelper::GetInterfaceTypeInfo(lib, static_cast<ole::UINT>(t->TypeIndex));
            const int32_t index = ResolveImplemented(lib, ti.get(), 0, nullptr);
            if (index >= 0) {
                t->RefTypeIndex = index;
                t->RefFlags &= ~kRefFlattenTested;
            }
        } else if (t->RefTypeIndex == kRefAliasOutside) {
            ComPtr<ole::ITypeInfo> ti;
            CheckHr(lib->GetTypeInfo(static_cast<ole::UINT>(t->TypeIndex), ti.put()));
            const TypeAttr attr(ti.get());
            if (attr->typekind != ole::TKIND_ALIAS || attr->tdescAlias.vt != ole::VT_USERDEFINED) continue;
            ComPtr<ole::ITypeInfo> aliased;
            CheckHr(ti->GetRefTypeInfo(attr->tdescAlias.hreftype, aliased.put()));
            ComPtr<ole::ITypeLib> containing;
            ole::UINT index = 0;
            CheckHr(aliased->GetContainingTypeLib(containing.put(), &index));
            if (typelib_detail::SameObject(containing.get(), lib)) t->RefTypeIndex = static_cast<int32_t>(index);
        }
    }
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next) {
        if (r->RefTypeIndex != kRefNone) continue;
        ComPtr<ole::ITypeInfo> coclass;
        CheckHr(lib->GetTypeInfo(static_cast<ole::UINT>(r->Type->TypeIndex), coclass.put()));
        std::u16string name;
        const int32_t index = ResolveImplemented(lib, coclass.get(), static_cast<ole::UINT>(r->Number - 1), &name);
        if (index < 0) continue;
        r->RefTypeIndex = index;
        if (reText) r->Node->setText(0, dialogs::ToQString(name));
    }
}

void RetargetTypeReferences(LibraryNodeRecord& library, int32_t oldIndex, int32_t newIndex,
                            const std::u16string& newText) {
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        if (t->RefTypeIndex != oldIndex) continue;
        t->RefTypeIndex = newIndex;
        t->RefFlags &= ~kRefFlattenTested;
    }
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next) {
        if (r->RefTypeIndex != oldIndex) continue;
        r->RefTypeIndex = newIndex;
        r->Node->setText(0, dialogs::ToQString(newText));
    }
    UpdateAliasKinds(library);
}

void RemapTypeIndexes(LibraryNodeRecord& library, std::span<const int16_t> newOrder) {
    const auto inRange = [&](int32_t index) { return index >= 0 && static_cast<size_t>(index) < newOrder.size(); };
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next)
        if (!inRange(t->TypeIndex) || (t->RefTypeIndex >= 0 && !inRange(t->RefTypeIndex)))
            RaiseError(kErrSubscriptOutOfRange);
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next)
        if (r->RefTypeIndex >= 0 && !inRange(r->RefTypeIndex)) RaiseError(kErrSubscriptOutOfRange);
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        t->TypeIndex = newOrder[static_cast<size_t>(t->TypeIndex)];
        if (t->RefTypeIndex >= 0) t->RefTypeIndex = newOrder[static_cast<size_t>(t->RefTypeIndex)];
    }
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next)
        if (r->RefTypeIndex >= 0) r->RefTypeIndex = newOrder[static_cast<size_t>(r->RefTypeIndex)];
}

void DetachTypeReferences(LibraryNodeRecord& library, int32_t typeIndex, const std::u16string& newText) {
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        if (t->RefTypeIndex != typeIndex) continue;
        // The role tells an alias (which holds the kind of what it names) from an interface.
        if ((t->RefFlags & kRefRoleMask) == kRefRoleBase) {
            t->RefTypeIndex = kRefBaseOutside;
            t->RefFlags &= ~kRefFlattenTested;
        } else {
            t->RefTypeIndex = kRefAliasOutside;
        }
    }
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next) {
        if (r->RefTypeIndex != typeIndex) continue;
        r->RefTypeIndex = kRefNone;
        r->Node->setText(0, dialogs::ToQString(newText));
    }
}

}  // namespace zephrin::editor

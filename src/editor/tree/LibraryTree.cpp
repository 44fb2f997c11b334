#include "editor/tree/LibraryTree.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include <QAbstractItemView>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QString>
#include <QTreeWidget>

#include "dialogs/UiServices.h"
#include "editor/tree/TreeItemAccess.h"
#include "editor/tree/TreeSort.h"
#include "editor/tree/modImages.h"
#include "foundation/modHourGlass.h"
#include "foundation/modSupport.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::editor {

using ole::ComPtr;
using typelib_detail::TakeBstr;
using typelib_detail::TypeAttr;

namespace {

constexpr int kStrNewValue = 760;
constexpr int kStrBaseTypes = 762;
constexpr ole::MEMBERID kVTableQueryInterfaceId = 0x60000000;

std::u16string TypeName(ole::ITypeLib* lib, int32_t index) {
    ole::BSTR name = nullptr;
    CheckHr(lib->GetDocumentation(index, &name, nullptr, nullptr, nullptr));
    return TakeBstr(name);
}

std::u16string MemberName(ole::ITypeInfo* ti, ole::MEMBERID id) {
    ole::BSTR name = nullptr;
    CheckHr(ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr));
    return TakeBstr(name);
}

// The index of type in lib, or fallback when it lies in another library.
int32_t IndexIn(ole::ITypeLib* lib, ole::ITypeInfo* type, int32_t fallback) {
    ComPtr<ole::ITypeLib> containing;
    ole::UINT index = 0;
    CheckHr(type->GetContainingTypeLib(containing.put(), &index));
    return typelib_detail::SameObject(containing.get(), lib) ? static_cast<int32_t>(index) : fallback;
}

// The interface half of a dual dispinterface, or null.
ComPtr<ole::ITypeInfo> VTableHalf(ole::ITypeInfo* ti, const ole::TYPEATTR& attr) {
    if (attr.typekind != ole::TKIND_DISPATCH || !(attr.wTypeFlags & ole::TYPEFLAG_FDUAL)) return nullptr;
    ole::HREFTYPE href = 0;
    ComPtr<ole::ITypeInfo> half;
    if (ole::FAILED(ti->GetRefTypeOfImplType(static_cast<ole::UINT>(-1), &href)) ||
        ole::FAILED(ti->GetRefTypeInfo(href, half.put())))
        return nullptr;
    return half;
}

// The type as its members are listed: the interface half of a dual.
ComPtr<ole::ITypeInfo> MemberSource(const TypeNodeRecord& type) {
    return modITypeInfoHelper::GetInterfaceTypeInfo(type.Library->Library.get(), static_cast<ole::UINT>(type.TypeIndex));
}

TreeNode* NewNode(const QString& text, int16_t image, NodeRecord* tag) {
    auto* node = new TreeNode;
    node->setText(0, text);
    SetNodeImage(node, image);
    node->Tag = tag;
    return node;
}

// Whether kindWord's filter admits a type.
bool Admits(int32_t kindWord, const TypeDescription& d) {
    const int32_t kind = d.TypeKind;
    if (kindWord & (kLibInterfaces | kLibInterfacesAndDispatch))
        return !d.IsAlias && (kind == ole::TKIND_INTERFACE ||
                              ((kindWord & kLibInterfacesAndDispatch) && kind == ole::TKIND_DISPATCH));
    if (kindWord & kLibWantedKindMask) {
        const int32_t wanted = ((kindWord >> kLibWantedKindShift) & 15) - 1;
        // An alias is of kind TKIND_ALIAS itself, and may be admitted for what it names.
        if (d.IsAlias) return wanted == ole::TKIND_ALIAS || ((kindWord & kLibAliasesOfWantedKind) && kind == wanted);
        return kind == wanted;
    }
    if (kindWord & kLibReferable)
        return kind == ole::TKIND_ENUM || kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH ||
               kind == ole::TKIND_COCLASS;
    if (kindWord & kLibAllButModules) return kind != ole::TKIND_MODULE;
    return true;
}

struct PendingType {
    int32_t Index;
    std::u16string Name;
    TypeDescription Description;
};

// Adds nodes for the admitted types first..last under the library node.
std::vector<QTreeWidgetItem*> AddTypeNodes(int32_t first, int32_t last, QTreeWidgetItem* libraryNode,
                                           LibraryNodeRecord& library, bool lazy, bool sort) {
    // Read everything first, so that a failing read leaves no half-built level.
    std::vector<PendingType> pending;
    for (int32_t i = first; i <= last; ++i) {
        TypeDescription d = DescribeType(library.Library.get(), i);
        if (!Admits(library.KindWord, d)) continue;
        pending.push_back({i, TypeName(library.Library.get(), i), d});
    }
    std::vector<QTreeWidgetItem*> nodes;
    nodes.reserve(pending.size());
    for (const PendingType& p : pending) {
        TreeNode* node = NewNode(dialogs::ToQString(p.Name), p.Description.Image, nullptr);
        node->Tag = NewTypeRecord(node, library, p.Index, p.Description.TypeKind, p.Description.RefTypeIndex,
                                  p.Description.BaseReference);
        if (lazy && p.Description.HasChildren) AddPlaceholder(node);
        nodes.push_back(node);
    }
    if (sort) SortItems(nodes);
    libraryNode->addChildren(QList<QTreeWidgetItem*>(nodes.begin(), nodes.end()));
    return nodes;
}

void AddBaseInterfaceNodes(QTreeWidgetItem* baseTypesNode, LibraryNodeRecord& library) {
    std::vector<std::pair<ComPtr<ole::ITypeInfo>, int32_t>> found;
    for (const ole::GUID& iid : {ole::IUnknown::kIID, ole::IDispatch::kIID}) {
        ComPtr<ole::ITypeInfo> ti;
        CheckHr(library.Library->GetTypeInfoOfGuid(iid, ti.put()));
        found.emplace_back(ti, IndexIn(library.Library.get(), ti.get(), 0));
    }
    QList<QTreeWidgetItem*> nodes;
    for (auto& [ti, index] : found) {
        TreeNode* node = NewNode(dialogs::ToQString(modITypeInfoHelper::GetTypeInfoName(ti.get())), kImageInterface, nullptr);
        node->Tag = NewTypeRecord(node, library, index, ole::TKIND_INTERFACE, kRefNone, false);
        nodes.push_back(node);
    }
    baseTypesNode->addChildren(nodes);
}

struct PendingMember {
    std::u16string Name;
    ole::MEMBERID Id = 0;
    int32_t Access = 0;
    int16_t Image = 0;
    bool HasFuncDesc = false;
    bool HasParams = false;
};

// The members of a module, interface or dispinterface, one per name with the
// invoke kinds of all its accessors, variables first, then functions.
std::vector<PendingMember> GroupedMembers(ole::ITypeInfo* ti, const ole::TYPEATTR& attr) {
    std::vector<PendingMember> members;
    std::unordered_map<QString, size_t> byName;
    // For each entry, the invoke kind of the accessor its parameters come from.
    std::vector<int32_t> lowestKind;
    // For each entry, whether its function has parameters, and whether any of its property accessors has.
    std::vector<std::pair<bool, bool>> withParams;
    const auto entry = [&](const std::u16string& name) -> std::pair<PendingMember&, bool> {
        const QString key = dialogs::ToQString(name).toCaseFolded();
        auto [it, added] = byName.emplace(key, members.size());
        if (added) {
            members.push_back({});
            members.back().Name = name;
            lowestKind.push_back(0);
            withParams.emplace_back(false, false);
        }
        return {members[it->second], added};
    };
    for (ole::UINT i = 0; i < attr.cVars; ++i) {
        ole::VARDESC* vd = nullptr;
        CheckHr(ti->GetVarDesc(i, &vd));
        const ole::MEMBERID id = vd->memid;
        const bool constant = vd->varkind == ole::VAR_CONST;
        ti->ReleaseVarDesc(vd);
        auto [m, added] = entry(MemberName(ti, id));
        if (added) m.Id = id;
        m.Access |= constant ? kAccessEnumValue : kAccessField;
    }
    for (ole::UINT i = 0; i < attr.cFuncs; ++i) {
        typelib_detail::FuncDescHolder fd(ti, i);
        auto [m, added] = entry(MemberName(ti, fd->memid));
        const size_t at = static_cast<size_t>(&m - members.data());
        if (added) m.Id = fd->memid;
        m.Access |= fd->invkind;
        // Parameters come from the accessors GetFuncParamNames looks up: the
        // function of the member's ID, or else its property accessors.
        if (fd->memid == m.Id) {
            if (lowestKind[at] == 0 || fd->invkind < lowestKind[at]) lowestKind[at] = fd->invkind;
            m.HasFuncDesc = true;
            bool& with = fd->invkind == ole::INVOKE_FUNC ? withParams[at].first : withParams[at].second;
            with = with || fd->cParams > 0;
        }
    }
    for (size_t i = 0; i < members.size(); ++i) {
        PendingMember& m = members[i];
        m.HasParams = lowestKind[i] == ole::INVOKE_FUNC ? withParams[i].first : withParams[i].second;
        m.Image = (m.Access & kAccessConst) ? kImageConstant : (m.Access & kAccessFunc) ? kImageFunction : kImageProperty;
    }
    return members;
}

}  // namespace

int16_t ImageOfKind(int32_t typeKind) {
    switch (typeKind) {
    case ole::TKIND_ENUM: return kImageEnum;
    case ole::TKIND_RECORD: return kImageRecord;
    case ole::TKIND_MODULE: return kImageModule;
    case ole::TKIND_INTERFACE: return kImageInterface;
    case ole::TKIND_DISPATCH: return kImageDispatch;
    case ole::TKIND_COCLASS: return kImageCoclass;
    case ole::TKIND_ALIAS: return kImageIntrinsicAlias;
    case ole::TKIND_UNION: return kImageRecord;
    default: return 0;
    }
}

TypeDescription DescribeType(ole::ITypeLib* lib, int32_t index) {
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(lib->GetTypeInfo(static_cast<ole::UINT>(index), ti.put()));
    TypeDescription d;
    const TypeAttr attr(ti.get());
    if (attr->typekind == ole::TKIND_ALIAS) {
        d.IsAlias = true;
        if (attr->tdescAlias.vt == ole::VT_USERDEFINED) {
            ComPtr<ole::ITypeInfo> aliased;
            CheckHr(ti->GetRefTypeInfo(attr->tdescAlias.hreftype, aliased.put()));
            d.RefTypeIndex = IndexIn(lib, aliased.get(), kRefAliasOutside);
        }
        d.TypeKind = NodeTypeKind(ti.get());
        d.Image = static_cast<int16_t>(ImageOfKind(d.TypeKind) + kImageAliasOverlay);
        return d;
    }
    d.TypeKind = attr->typekind;
    ComPtr<ole::ITypeInfo> listed = ti;
    if (ComPtr<ole::ITypeInfo> half = VTableHalf(ti.get(), *attr)) {
        d.TypeKind = ole::TKIND_INTERFACE;
        listed = half;
    }
    const TypeAttr listedAttr(listed.get());
    if (d.TypeKind == ole::TKIND_INTERFACE) {
        d.BaseReference = true;
        ole::HREFTYPE href = 0;
        ComPtr<ole::ITypeInfo> base;
        if (listedAttr->cImplTypes == 0 || ole::FAILED(listed->GetRefTypeOfImplType(0, &href))) {
            d.RefTypeIndex = kRefNoBase;
        } else {
            CheckHr(listed->GetRefTypeInfo(href, base.put()));
            d.RefTypeIndex = IndexIn(lib, base.get(), kRefBaseOutside);
        }
    } else if (d.TypeKind == ole::TKIND_DISPATCH) {
        d.BaseReference = true;
        d.RefTypeIndex = kRefBaseOutside;
    }
    d.Image = ImageOfKind(d.TypeKind);
    if (d.TypeKind == ole::TKIND_DISPATCH && listedAttr->cVars == 0 && listedAttr->cFuncs > 0) {
        typelib_detail::FuncDescHolder first(listed.get(), 0);
        if (first->memid == kVTableQueryInterfaceId && MemberName(listed.get(), first->memid) == u"QueryInterface")
            d.Image = kImageVTableDispatch;
    }
    d.HasChildren = d.TypeKind == ole::TKIND_COCLASS ? listedAttr->cImplTypes > 0
                                                     : listedAttr->cFuncs + listedAttr->cVars > 0;
    return d;
}

QTreeWidgetItem* AddLibraryNode(QTreeWidget* tree, ole::ITypeLib* library, std::shared_ptr<CustomTypeLib> editable,
                                int32_t kindFlags, bool lazy) {
    ole::BSTR name = nullptr;
    CheckHr(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    const std::u16string text = TakeBstr(name);
    const bool hasTypes = library->GetTypeInfoCount() != 0;
    if (!hasTypes && !lazy) return nullptr;
    LibraryTreeNode* node = NewLibraryNode(library, std::move(editable), kindFlags);
    node->setText(0, dialogs::ToQString(text));
    SetNodeImage(node, kImageLibrary);
    if (lazy && hasTypes) AddPlaceholder(node);
    tree->addTopLevelItem(node);
    return node;
}

QTreeWidgetItem* AddBaseTypesNode(QTreeWidget* tree) {
    ComPtr<ole::ITypeLib> stdole;
    CheckHr(ole::LoadTypeLibEx(u"stdole2.tlb", ole::REGKIND_NONE, stdole.put()));
    LibraryTreeNode* node = NewLibraryNode(stdole.get(), nullptr, kLibBaseTypes);
    node->setText(0, dialogs::ResText(kStrBaseTypes));
    SetNodeImage(node, kImageIntrinsicAlias);
    AddPlaceholder(node);
    tree->addTopLevelItem(node);
    return node;
}

void FillLibraryNode(QTreeWidgetItem* libraryNode, bool lazy) {
    LibraryNodeRecord* library = LibraryRecordOf(libraryNode);
    if (!library) RaiseError(kErrInvalidArgument);
    if (library->IsBaseTypes()) {
        AddBaseInterfaceNodes(libraryNode, *library);
        return;
    }
    const auto count = static_cast<int32_t>(library->Library->GetTypeInfoCount());
    AddTypeNodes(0, count - 1, libraryNode, *library, lazy, true);
}

std::vector<QTreeWidgetItem*> AddNewTypeNodes(int32_t first, int32_t last, QTreeWidgetItem* libraryNode, bool lazy) {
    LibraryNodeRecord* library = LibraryRecordOf(libraryNode);
    if (!library) RaiseError(kErrInvalidArgument);
    return AddTypeNodes(first, last, libraryNode, *library, lazy, false);
}

QTreeWidgetItem* FillTypeNode(QTreeWidgetItem* typeNode, ole::MEMBERID wantedMemberId) {
    NodeRecord* tag = nullptr;
    if (GetNodeKind(typeNode, tag) != kNodeType) RaiseError(kErrInvalidArgument);
    auto& type = *static_cast<TypeNodeRecord*>(tag);
    LibraryNodeRecord& library = *type.Library;
    const ComPtr<ole::ITypeInfo> ti = MemberSource(type);
    const TypeAttr attr(ti.get());
    QList<QTreeWidgetItem*> nodes;
    QTreeWidgetItem* wanted = nullptr;
    switch (attr->typekind) {
    case ole::TKIND_ENUM:
    case ole::TKIND_RECORD:
    case ole::TKIND_UNION: {
        const bool isEnum = attr->typekind == ole::TKIND_ENUM;
        std::vector<std::pair<std::u16string, ole::MEMBERID>> vars;
        for (ole::UINT i = 0; i < attr->cVars; ++i) {
            ole::VARDESC* vd = nullptr;
            CheckHr(ti->GetVarDesc(i, &vd));
            const ole::MEMBERID id = vd->memid;
            ti->ReleaseVarDesc(vd);
            vars.emplace_back(MemberName(ti.get(), id), id);
        }
        for (auto& [name, id] : vars) {
            TreeNode* node = NewNode(dialogs::ToQString(name), isEnum ? kImageConstant : kImageProperty, nullptr);
            node->Tag = NewMemberRecord(node, type, id, isEnum ? kAccessEnumValue : kAccessField, false);
            if (id == wantedMemberId) wanted = node;
            nodes.push_back(node);
        }
        break;
    }
    case ole::TKIND_COCLASS: {
        struct Pending {
            std::u16string Name;
            int16_t Image;
            int32_t Ref;
        };
        std::vector<Pending> pending;
        for (ole::UINT i = 0; i < attr->cImplTypes; ++i) {
            ole::HREFTYPE href = 0;
            ole::INT flags = 0;
            ComPtr<ole::ITypeInfo> implemented;
            CheckHr(ti->GetRefTypeOfImplType(i, &href));
            CheckHr(ti->GetImplTypeFlags(i, &flags));
            CheckHr(ti->GetRefTypeInfo(href, implemented.put()));
            const TypeAttr implAttr(implemented.get());
            int16_t image = (flags & ole::IMPLTYPEFLAG_FSOURCE) ? kImageSourceInterface : kImageInterface;
            if (implAttr->typekind == ole::TKIND_ALIAS) image = static_cast<int16_t>(image + kImageAliasOverlay);
            pending.push_back({modITypeInfoHelper::GetTypeInfoName(implemented.get()), image, IndexIn(library.Library.get(), implemented.get(), kRefNone)});
        }
        int32_t number = 0;
        for (const Pending& p : pending) {
            TreeNode* node = NewNode(dialogs::ToQString(p.Name), p.Image, nullptr);
            node->Tag = NewImpliedInterfaceRecord(node, type, ++number, p.Ref);
            nodes.push_back(node);
        }
        break;
    }
    case ole::TKIND_MODULE:
    case ole::TKIND_INTERFACE:
    case ole::TKIND_DISPATCH: {
        const std::vector<PendingMember> members = GroupedMembers(ti.get(), *attr);
        std::vector<QTreeWidgetItem*> sorted;
        sorted.reserve(members.size());
        for (const PendingMember& m : members) {
            TreeNode* node = NewNode(dialogs::ToQString(m.Name), m.Image, nullptr);
            node->Tag = NewMemberRecord(node, type, m.Id, m.Access, m.HasFuncDesc);
            if (m.HasParams) AddPlaceholder(node);
            if (m.Id == wantedMemberId) wanted = node;
            sorted.push_back(node);
        }
        SortItems(sorted);
        nodes = QList<QTreeWidgetItem*>(sorted.begin(), sorted.end());
        break;
    }
    default:
        break;
    }
    typeNode->addChildren(nodes);
    return wanted;
}

int32_t GetFuncParamNames(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t accessBits, bool& found,
                          std::vector<std::u16string>* names) {
    found = false;
    if (names) names->clear();
    int32_t invokeKind = accessBits & (kAccessFunc | kAccessGet | kAccessPut | kAccessPutRef);
    invokeKind = invokeKind ? (invokeKind & -invokeKind) : kAccessFunc;
    ComPtr<ole::ITypeInfo2> type2 = ComPtr<ole::ITypeInfo>(type).As<ole::ITypeInfo2>();
    ole::UINT index = 0;
    if (!type2 || ole::FAILED(type2->GetFuncIndexOfMemId(memberId, static_cast<ole::INVOKEKIND>(invokeKind), &index)))
        return 0;
    found = true;
    int32_t count = typelib_detail::FuncDescHolder(type, index)->cParams + 1;
    // A property's parameters are those of its longest accessor: a Let or
    // Set of a dispinterface's property has its value beyond the Get's.
    int32_t longest = invokeKind;
    ole::UINT longestIndex = index;
    if (invokeKind != kAccessFunc)
        for (const int32_t bit : {kAccessPut, kAccessPutRef}) {
            if ((accessBits & bit) == 0 || bit == invokeKind ||
                ole::FAILED(type2->GetFuncIndexOfMemId(memberId, static_cast<ole::INVOKEKIND>(bit), &index)))
                continue;
            const int32_t other = typelib_detail::FuncDescHolder(type, index)->cParams + 1;
            if (other > count) count = other, longest = bit, longestIndex = index;
        }
    if (!names) return count;
    *names = typelib_detail::ReadNames(type, memberId, static_cast<ole::UINT>(count));
    const auto read = static_cast<int32_t>(names->size());
    // An unnamed value: a put's (the first name missing), or a Get's return
    // value parameter (the last name alone missing; the names are those of
    // the accessor stored first, which may be a put that names no value).
    if (read < count && ((longest & (kAccessPut | kAccessPutRef)) ||
                         (longest == kAccessGet && read == count - 1 &&
                          modITypeInfoHelper::HasRetvalParam(*typelib_detail::FuncDescHolder(type, longestIndex)))))
        names->push_back(modSupport::LoadResStringById(kStrNewValue));
    names->resize(static_cast<size_t>(count));
    return count;
}

void AddParamNodes(QTreeWidgetItem* memberNode) {
    NodeRecord* tag = nullptr;
    if (GetNodeKind(memberNode, tag) != kNodeMember) RaiseError(kErrInvalidArgument);
    const auto& member = *static_cast<MemberNodeRecord*>(tag);
    const ComPtr<ole::ITypeInfo> ti = MemberSource(*member.Type);
    bool found = false;
    std::vector<std::u16string> names;
    GetFuncParamNames(ti.get(), member.MemberId, member.AccessBits, found, &names);
    QList<QTreeWidgetItem*> nodes;
    for (size_t i = 1; i < names.size(); ++i) nodes.push_back(NewNode(dialogs::ToQString(names[i]), kImageParameter, &ParameterNodeTag()));
    memberNode->addChildren(nodes);
}

void SyncParamNodeCount(QTreeWidgetItem* memberNode, const std::function<void(QTreeWidgetItem*)>& remove) {
    NodeRecord* tag = nullptr;
    if (GetNodeKind(memberNode, tag) != kNodeMember || HasPlaceholder(memberNode)) return;
    const auto& member = *static_cast<MemberNodeRecord*>(tag);
    const ComPtr<ole::ITypeInfo> ti = MemberSource(*member.Type);
    bool found = false;
    std::vector<std::u16string> names;
    GetFuncParamNames(ti.get(), member.MemberId, member.AccessBits, found, &names);
    const int count = names.empty() ? 0 : static_cast<int>(names.size()) - 1;
    while (memberNode->childCount() > count) remove(memberNode->child(memberNode->childCount() - 1));
    QList<QTreeWidgetItem*> nodes;
    for (int i = memberNode->childCount(); i < count; ++i)
        nodes.push_back(NewNode(dialogs::ToQString(names[static_cast<size_t>(i) + 1]), kImageParameter,
                                &ParameterNodeTag()));
    memberNode->addChildren(nodes);
}

bool RetitleMemberNodes(QTreeWidgetItem* typeNode) {
    NodeRecord* tag = nullptr;
    if (GetNodeKind(typeNode, tag) != kNodeType || HasPlaceholder(typeNode)) return false;
    const ComPtr<ole::ITypeInfo> ti = MemberSource(*static_cast<TypeNodeRecord*>(tag));
    if (!ti) return false;
    bool changed = false;
    const auto retitle = [&changed](QTreeWidgetItem* node, const std::u16string& name) {
        const QString text = dialogs::ToQString(name);
        if (name.empty() || node->text(0) == text) return;
        node->setText(0, text);
        changed = true;
    };
    for (int i = 0; i < typeNode->childCount(); ++i) {
        QTreeWidgetItem* memberNode = typeNode->child(i);
        if (GetNodeKind(memberNode, tag) != kNodeMember) continue;
        const auto& member = *static_cast<MemberNodeRecord*>(tag);
        const std::vector<std::u16string> own = typelib_detail::ReadNames(ti.get(), member.MemberId, 1);
        if (!own.empty()) retitle(memberNode, own[0]);
        if (memberNode->childCount() == 0 || HasPlaceholder(memberNode)) continue;
        bool found = false;
        std::vector<std::u16string> names;
        GetFuncParamNames(ti.get(), member.MemberId, member.AccessBits, found, &names);
        for (int j = 0; j < memberNode->childCount() && static_cast<size_t>(j) + 1 < names.size(); ++j)
            if (GetNodeKind(memberNode->child(j)) == kNodeParam) retitle(memberNode->child(j), names[static_cast<size_t>(j) + 1]);
    }
    return changed;
}

bool HasPlaceholder(QTreeWidgetItem* node) {
    if (!node || node->childCount() == 0) return false;
    const TreeNode* first = AsTreeNode(node->child(0));
    return first && first->Placeholder;
}

void AddPlaceholder(QTreeWidgetItem* node) {
    auto* placeholder = new TreeNode;
    placeholder->Placeholder = true;
    node->addChild(placeholder);
}

bool RemovePlaceholder(QTreeWidgetItem* node) {
    if (!HasPlaceholder(node)) return false;
    delete node->takeChild(0);
    return true;
}

QTreeWidgetItem* EnsureChildren(QTreeWidgetItem* node, ole::MEMBERID wantedMemberId) {
    if (!RemovePlaceholder(node)) return nullptr;
    try {
        switch (GetNodeKind(node)) {
        case kNodeLibrary:
            FillLibraryNode(node, true);
            return nullptr;
        case kNodeType:
            return FillTypeNode(node, wantedMemberId);
        case kNodeMember:
            AddParamNodes(node);
            return nullptr;
        default:
            return nullptr;
        }
    } catch (...) {
        // The fillers read everything before they add a node: nothing was added.
        if (node->childCount() == 0) AddPlaceholder(node);
        throw;
    }
}

namespace {

// Sends the tree's `*` (on the main keyboard or the keypad, with or without
// modifiers) to ExpandAllBelow
// in place of the view's own expansion, which builds each level while it
// expands: every placeholder it then removes walks all the rows expanded so
// far, and a large library takes minutes.
class ExpandAllKey : public QObject {
public:
    ExpandAllKey(QTreeWidget* tree, std::function<void(const ErrorRecord&)> onError)
        : QObject(tree), tree_(tree), onError_(std::move(onError)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != tree_ || event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        // With any modifier too: the view's own handling of Ctrl+* and Alt+*
        // is the same slow expansion.
        if (key->key() != Qt::Key_Asterisk) return false;
        QTreeWidgetItem* current = tree_->currentItem();
        if (!current) return false;
        try {
            ExpandAllBelow(tree_, current, onError_);
        } catch (...) {
            // Nothing may leave through the event loop.
        }
        return true;
    }

private:
    QTreeWidget* tree_;
    std::function<void(const ErrorRecord&)> onError_;
};

// Suspends a widget's updates for a scope.
class UpdatesSuspended {
public:
    explicit UpdatesSuspended(QWidget* widget) : widget_(widget), enabled_(widget->updatesEnabled()) {
        widget_->setUpdatesEnabled(false);
    }
    ~UpdatesSuspended() { widget_->setUpdatesEnabled(enabled_); }
    UpdatesSuspended(const UpdatesSuspended&) = delete;
    UpdatesSuspended& operator=(const UpdatesSuspended&) = delete;

private:
    QWidget* widget_;
    bool enabled_;
};

}  // namespace

void ExpandAllBelow(QTreeWidget* tree, QTreeWidgetItem* node, const std::function<void(const ErrorRecord&)>& onError) {
    if (!tree || !node || node->treeWidget() != tree) return;
    std::optional<ErrorRecord> failure;
    {
        const auto hourglass = modHourGlass::ShowHourGlass();
        const UpdatesSuspended suspended(tree);
        // Build every missing level while nothing new is expanded, so that
        // replacing a placeholder costs the same at any depth.
        std::vector<QTreeWidgetItem*> pending{node};
        while (!pending.empty()) {
            QTreeWidgetItem* item = pending.back();
            pending.pop_back();
            if (HasPlaceholder(item)) {
                try {
                    EnsureChildren(item);
                } catch (...) {
                    if (!failure) failure = CurrentErrorRecord();
                    continue;
                }
            }
            for (int i = item->childCount(); i-- > 0;) pending.push_back(item->child(i));
        }
        // Expanding with depth 0 expands node only and puts the layout of the
        // rows off until the view is next used, so that the expansions below
        // just mark their nodes and the rows are laid out once.
        const auto expandable = [](QTreeWidgetItem* item) { return item->childCount() > 0 && !HasPlaceholder(item); };
        if (expandable(node)) {
            tree->expandRecursively(GetIndexFromNode(tree, node), 0);
            pending.push_back(node);
        }
        while (!pending.empty()) {
            QTreeWidgetItem* item = pending.back();
            pending.pop_back();
            if (!expandable(item)) continue;
            item->setExpanded(true);
            for (int i = item->childCount(); i-- > 0;) pending.push_back(item->child(i));
        }
    }
    if (failure && onError) onError(*failure);
}

void ConnectLazyFilling(QTreeWidget* tree, std::function<void(const ErrorRecord&)> onError) {
    tree->installEventFilter(new ExpandAllKey(tree, onError));
    QObject::connect(tree, &QTreeWidget::itemExpanded, tree, [onError = std::move(onError)](QTreeWidgetItem* item) {
        if (!HasPlaceholder(item)) return;
        try {
            EnsureChildren(item);
        } catch (...) {
            item->setExpanded(false);
            try {
                if (onError) onError(CurrentErrorRecord());
            } catch (...) {
            }
        }
    });
}

void SetUpLibraryTree(QTreeWidget* tree) {
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    // A screen reader still reads the hidden header: it names the column.
    tree->setHeaderLabel(QStringLiteral("Name"));
    tree->setUniformRowHeights(true);
    tree->setRootIsDecorated(true);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setIconSize(QSize(modImages::kImageSize, modImages::kImageSize));
    tree->setAccessibleName(QStringLiteral("Library tree"));
}

}  // namespace zephrin::editor

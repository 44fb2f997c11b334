#include "editor/tree/TreeNodeRecords.h"

#include <utility>
#include <vector>

#include <QTreeWidget>

#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeSort.h"
#include "editor/tree/modImages.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin::editor {

LibraryNodeRecord::~LibraryNodeRecord() {
    while (TypeNodeRecord* t = FirstType) {
        FirstType = t->Next;
        delete t;
    }
    while (ImpliedInterfaceNodeRecord* r = FirstImpliedInterface) {
        FirstImpliedInterface = r->Next;
        delete r;
    }
}

NodeRecord& ParameterNodeTag() {
    static NodeRecord tag(kNodeParam);
    return tag;
}

LibraryTreeNode::~LibraryTreeNode() {
    // Child nodes go after the records that point at them.
    Tag = nullptr;
    Record.reset();
}

bool TreeNode::operator<(const QTreeWidgetItem& other) const { return CompareTreeItems(this, &other) < 0; }

TreeNode* AsTreeNode(QTreeWidgetItem* item) {
    return item && item->type() == TreeNode::kItemType ? static_cast<TreeNode*>(item) : nullptr;
}

NodeRecord* NodeTag(QTreeWidgetItem* item) {
    TreeNode* node = AsTreeNode(item);
    return node ? node->Tag : nullptr;
}

int32_t GetNodeKind(QTreeWidgetItem* item, NodeRecord*& record) {
    record = NodeTag(item);
    return record ? record->Kind() : kNodeNone;
}

int32_t GetNodeKind(QTreeWidgetItem* item) {
    NodeRecord* record = nullptr;
    return GetNodeKind(item, record);
}

int16_t NodeImage(QTreeWidgetItem* item) {
    TreeNode* node = AsTreeNode(item);
    return node ? node->Image : 0;
}

void SetNodeImage(QTreeWidgetItem* item, int16_t image) {
    if (TreeNode* node = AsTreeNode(item)) node->Image = image;
    item->setIcon(0, modImages::GetWindowImageList().Icon(image));
}

LibraryTreeNode* NewLibraryNode(ole::ITypeLib* library, std::shared_ptr<CustomTypeLib> editable, int32_t kindFlags) {
    auto node = std::make_unique<LibraryTreeNode>();
    const int32_t kindWord = (kindFlags & kLibBaseTypes) ? kLibBaseTypes | kNodeLibrary : kindFlags | kNodeLibrary;
    node->Record = std::make_unique<LibraryNodeRecord>(kindWord);
    node->Record->Node = node.get();
    node->Record->Library = ole::ComPtr<ole::ITypeLib>(library);
    node->Record->EditableLibrary = std::move(editable);
    node->Tag = node->Record.get();
    return node.release();
}

TypeNodeRecord* NewTypeRecord(QTreeWidgetItem* node, LibraryNodeRecord& library, int32_t typeIndex, int32_t typeKind,
                              int32_t refTypeIndex, bool isBaseReference) {
    auto* record = new TypeNodeRecord;
    record->Node = node;
    record->Library = &library;
    record->TypeIndex = typeIndex;
    record->TypeKind = typeKind;
    record->RefTypeIndex = refTypeIndex;
    record->RefFlags = isBaseReference ? kRefRoleBase : kRefRoleOther;
    record->Next = library.FirstType;
    if (library.FirstType) library.FirstType->Previous = record;
    library.FirstType = record;
    return record;
}

ImpliedInterfaceNodeRecord* NewImpliedInterfaceRecord(QTreeWidgetItem* node, TypeNodeRecord& coclass, int32_t number,
                                                      int32_t refTypeIndex) {
    LibraryNodeRecord& library = *coclass.Library;
    auto* record = new ImpliedInterfaceNodeRecord;
    record->Node = node;
    record->Type = &coclass;
    record->Number = number;
    record->RefTypeIndex = refTypeIndex;
    record->Next = library.FirstImpliedInterface;
    if (library.FirstImpliedInterface) library.FirstImpliedInterface->Previous = record;
    library.FirstImpliedInterface = record;
    return record;
}

MemberNodeRecord* NewMemberRecord(QTreeWidgetItem* node, TypeNodeRecord& type, ole::MEMBERID memberId,
                                  int32_t accessBits, bool hasFuncDesc) {
    MemberNodeRecord& record = type.Library->Members.emplace_back();
    record.Node = node;
    record.Type = &type;
    record.Library = type.Library;
    record.MemberId = memberId;
    record.AccessBits = accessBits | (hasFuncDesc ? kAccessHasFuncDesc : 0);
    return &record;
}

namespace {

template <class Record>
void Unlink(Record*& head, Record* record) {
    if (record->Next) record->Next->Previous = record->Previous;
    if (record->Previous)
        record->Previous->Next = record->Next;
    else
        head = record->Next;
}

void ClearTag(NodeRecord* record) {
    if (TreeNode* node = AsTreeNode(record->Node); node && node->Tag == record) node->Tag = nullptr;
}

void FreeTypeRecord(LibraryNodeRecord& library, TypeNodeRecord* type) {
    Unlink(library.FirstType, type);
    ClearTag(type);
    delete type;
}

// Records read again take what the library said; their flatten test is
// forgotten, and aliases of them may now end somewhere else.
void TakeReread(LibraryNodeRecord& library, std::vector<std::pair<TypeNodeRecord*, TypeDescription>>& reread) {
    for (auto& [t, d] : reread) {
        t->TypeKind = d.TypeKind;
        t->RefTypeIndex = d.RefTypeIndex;
        t->RefFlags = d.BaseReference ? kRefRoleBase : kRefRoleOther;
    }
    if (!reread.empty()) UpdateAliasKinds(library);
}

}  // namespace

void DeleteTypeRecord(LibraryNodeRecord& library, TypeNodeRecord* type, bool renumber, int32_t replacementIndex,
                      ole::ITypeLib* current) {
    const int32_t deleted = type->TypeIndex;
    // What named the deleted type now names something else (another type, or
    // the new definition at the same index): ask the library, before anything
    // changes, so that a failing read leaves the records alone.
    std::vector<std::pair<TypeNodeRecord*, TypeDescription>> reread;
    if (!current) current = library.Library.get();
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next)
        if (t != type && t->RefTypeIndex == deleted)
            reread.emplace_back(t, DescribeType(current, renumber && t->TypeIndex > deleted ? t->TypeIndex - 1
                                                                                          : t->TypeIndex));
    FreeTypeRecord(library, type);
    if (!renumber) {
        TakeReread(library, reread);
        return;
    }
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        if (t->TypeIndex > deleted) --t->TypeIndex;
        if (t->RefTypeIndex > deleted) --t->RefTypeIndex;
    }
    TakeReread(library, reread);
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next) {
        if (r->RefTypeIndex > deleted)
            --r->RefTypeIndex;
        else if (r->RefTypeIndex == deleted)
            r->RefTypeIndex = replacementIndex;
    }
}

void UpdateAliasKinds(LibraryNodeRecord& library) {
    const auto localAlias = [](const TypeNodeRecord* t) {
        return (t->RefFlags & kRefRoleMask) == kRefRoleOther && t->RefTypeIndex >= 0;
    };
    int records = 0;
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) ++records;
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next) {
        if (!localAlias(t)) continue;
        const TypeNodeRecord* end = t;
        // Bounded, so that a chain leading back to itself ends.
        for (int steps = 0; localAlias(end) && steps < records; ++steps) {
            const TypeNodeRecord* next = FindTypeRecord(library, end->RefTypeIndex);
            if (!next) break;
            end = next;
        }
        if (!localAlias(end)) t->TypeKind = end->TypeKind;
    }
}

void DeleteImpliedInterfaceRecord(LibraryNodeRecord& library, ImpliedInterfaceNodeRecord* record, bool renumber) {
    Unlink(library.FirstImpliedInterface, record);
    const TypeNodeRecord* coclass = record->Type;
    const int32_t number = record->Number;
    ClearTag(record);
    delete record;
    if (!renumber) return;
    for (ImpliedInterfaceNodeRecord* r = library.FirstImpliedInterface; r; r = r->Next)
        if (r->Type == coclass && r->Number > number) --r->Number;
}

void ReleaseChildRecords(QTreeWidgetItem* node) {
    if (!node || node->childCount() == 0 || HasPlaceholder(node)) return;
    LibraryNodeRecord* library = LibraryRecordOf(node);
    if (!library) return;
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        NodeRecord* record = nullptr;
        switch (GetNodeKind(child, record)) {
        case kNodeType:
            ReleaseChildRecords(child);
            FreeTypeRecord(*library, static_cast<TypeNodeRecord*>(record));
            break;
        case kNodeImplType:
            DeleteImpliedInterfaceRecord(*library, static_cast<ImpliedInterfaceNodeRecord*>(record), false);
            break;
        case kNodeMember:
            AsTreeNode(child)->Tag = nullptr;
            break;
        default:
            break;
        }
    }
}

TypeNodeRecord* FindTypeRecord(const LibraryNodeRecord& library, int32_t typeIndex) {
    for (TypeNodeRecord* t = library.FirstType; t; t = t->Next)
        if (t->TypeIndex == typeIndex) return t;
    return nullptr;
}

LibraryNodeRecord* LibraryRecordOf(QTreeWidgetItem* item) {
    if (!item) return nullptr;
    while (item->parent()) item = item->parent();
    NodeRecord* record = nullptr;
    return GetNodeKind(item, record) == kNodeLibrary ? static_cast<LibraryNodeRecord*>(record) : nullptr;
}

void ClearLibraryTree(QTreeWidget* tree) {
    if (!tree) return;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = tree->topLevelItem(i);
        root->setExpanded(false);
        if (TreeNode* node = AsTreeNode(root)) node->Tag = nullptr;
    }
    // Each library's records go with its root node, once the view has let go
    // of the current node.
    tree->clear();
}

}  // namespace zephrin::editor

// The records behind the nodes of a library tree (the editor view's tree and
// the type picker's). A node stands for the library, a type, an interface a
// coclass implements, a member or a parameter; its record holds what is needed
// to find that element in the library again. Records refer to one another and
// to their nodes without owning them: the library's root node owns its library
// record, which owns every record of the library. Type and implemented-
// interface records are kept in two linked lists per library and freed one at
// a time; member records go with their library. All parameter nodes share one
// record and are told apart by their position under their member.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include <QTreeWidgetItem>

#include "platform/automation/Unknown.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

class QTreeWidget;

namespace zephrin {
class CustomTypeLib;
}

namespace zephrin::editor {

// The node kind: a record's kind word & 31.
enum NodeKind : int32_t {
    kNodeNone = 0,
    kNodeLibrary = 1,
    kNodeType = 2,
    kNodeImplType = 4,
    kNodeMember = 8,
    kNodeParam = 16,
};

// Bits of a library record's kind word above the node kind: the standard
// base-types pseudo-library, and the type filters of the type picker.
inline constexpr int32_t kLibBaseTypes = 32;
inline constexpr int32_t kLibInterfaces = 64;               // effective kind TKIND_INTERFACE
inline constexpr int32_t kLibInterfacesAndDispatch = 128;   // ... or TKIND_DISPATCH
inline constexpr int32_t kLibAllButModules = 256;
inline constexpr int32_t kLibReferable = 512;               // enums, interfaces, dispinterfaces, coclasses
inline constexpr int32_t kLibWantedKindShift = 10;          // bits 10-13: a TYPEKIND + 1
inline constexpr int32_t kLibWantedKindMask = 15 << kLibWantedKindShift;
inline constexpr int32_t kLibAliasesOfWantedKind = 16384;

// The kind word bits that select a wanted TYPEKIND.
constexpr int32_t WantedKindFilter(ole::TYPEKIND kind) { return (static_cast<int32_t>(kind) + 1) << kLibWantedKindShift; }

// Referenced type indexes that name no type of the library.
inline constexpr int32_t kRefNone = -1;           // nothing referenced; an implemented interface of another library
inline constexpr int32_t kRefAliasOutside = -2;   // an alias of a type of another library
inline constexpr int32_t kRefNoBase = -3;         // an interface without a base
inline constexpr int32_t kRefBaseOutside = -4;    // a base in another library; every dispinterface

// Reference flags of a type record: the role in the low two bits, then the
// answer of the flatten test and whether it has been made.
inline constexpr int32_t kRefRoleMask = 3;
inline constexpr int32_t kRefRoleOther = 1;       // aliases and everything else
inline constexpr int32_t kRefRoleBase = 2;        // the referenced index names a base interface
inline constexpr int32_t kRefCanFlatten = 4;
inline constexpr int32_t kRefFlattenTested = 8;

// Access bits of a member record: the invoke kinds of all its accessors,
// 32 for a constant, and whether a function description was found.
inline constexpr int32_t kAccessFunc = 1;
inline constexpr int32_t kAccessGet = 2;
inline constexpr int32_t kAccessPut = 4;
inline constexpr int32_t kAccessPutRef = 8;
inline constexpr int32_t kAccessConst = 32;
inline constexpr int32_t kAccessField = kAccessGet | kAccessPut;         // record and union fields
inline constexpr int32_t kAccessEnumValue = kAccessConst | kAccessGet;   // enum values and constants
inline constexpr int32_t kAccessHasFuncDesc = 64;

struct NodeRecord {
    explicit NodeRecord(int32_t kindWord) : KindWord(kindWord) {}
    NodeRecord(const NodeRecord&) = delete;
    NodeRecord& operator=(const NodeRecord&) = delete;

    int32_t Kind() const { return KindWord & 31; }

    int32_t KindWord;
    QTreeWidgetItem* Node = nullptr;
};

struct TypeNodeRecord;
struct ImpliedInterfaceNodeRecord;
struct MemberNodeRecord;

struct LibraryNodeRecord : NodeRecord {
    explicit LibraryNodeRecord(int32_t kindWord) : NodeRecord(kindWord) {}
    ~LibraryNodeRecord();

    bool IsBaseTypes() const { return (KindWord & kLibBaseTypes) != 0; }

    // The library being edited; null for the base types and wherever the caller passes none.
    std::shared_ptr<CustomTypeLib> EditableLibrary;
    ole::ComPtr<ole::ITypeLib> Library;
    TypeNodeRecord* FirstType = nullptr;
    ImpliedInterfaceNodeRecord* FirstImpliedInterface = nullptr;
    // Member records, freed with the library.
    std::deque<MemberNodeRecord> Members;
};

struct TypeNodeRecord : NodeRecord {
    TypeNodeRecord() : NodeRecord(kNodeType) {}

    LibraryNodeRecord* Library = nullptr;
    int32_t TypeIndex = 0;
    // The shown kind (NodeTypeKind): an alias of a user type counts as what it
    // finally names, a dual as an interface.
    int32_t TypeKind = 0;
    // A base interface or an aliased type of this library, or one of the kRef values.
    int32_t RefTypeIndex = kRefNone;
    int32_t RefFlags = kRefRoleOther;
    TypeNodeRecord* Next = nullptr;
    TypeNodeRecord* Previous = nullptr;
};

struct ImpliedInterfaceNodeRecord : NodeRecord {
    ImpliedInterfaceNodeRecord() : NodeRecord(kNodeImplType) {}

    TypeNodeRecord* Type = nullptr;  // the coclass
    int32_t Number = 0;              // position in the coclass's list, from 1
    int32_t RefTypeIndex = kRefNone; // the interface's type in this library, or -1
    ImpliedInterfaceNodeRecord* Next = nullptr;
    ImpliedInterfaceNodeRecord* Previous = nullptr;
};

struct MemberNodeRecord : NodeRecord {
    MemberNodeRecord() : NodeRecord(kNodeMember) {}

    TypeNodeRecord* Type = nullptr;
    LibraryNodeRecord* Library = nullptr;
    ole::MEMBERID MemberId = 0;
    int32_t AccessBits = 0;
};

// The one record every parameter node carries.
NodeRecord& ParameterNodeTag();

// ---- Nodes ----

// A node of a library tree: its tag (the record, null for none), whether it is
// the placeholder that stands for children not built yet, and its image index.
class TreeNode : public QTreeWidgetItem {
public:
    static constexpr int kItemType = QTreeWidgetItem::UserType + 28;
    TreeNode() : QTreeWidgetItem(kItemType) {}

    NodeRecord* Tag = nullptr;
    bool Placeholder = false;
    int16_t Image = 0;

    // The order of sorted siblings: by text, leading underscores aside.
    bool operator<(const QTreeWidgetItem& other) const override;
};

// The root node of a library: it owns the library's records.
class LibraryTreeNode : public TreeNode {
public:
    ~LibraryTreeNode() override;
    std::unique_ptr<LibraryNodeRecord> Record;
};

// The node as a tree node; null for null or a foreign item.
TreeNode* AsTreeNode(QTreeWidgetItem* item);
// Its tag, or null.
NodeRecord* NodeTag(QTreeWidgetItem* item);
// The node kind of item, and its record through record: 0 (and null) for null,
// a placeholder, or a node whose tag was cleared.
int32_t GetNodeKind(QTreeWidgetItem* item, NodeRecord*& record);
int32_t GetNodeKind(QTreeWidgetItem* item);
// The node's image index (0 when it has none).
int16_t NodeImage(QTreeWidgetItem* item);
// Sets the image index and the icon of that image of the window image list.
void SetNodeImage(QTreeWidgetItem* item, int16_t image);

// ---- Records ----

// A new library root node with its record: kind word 33 when kindFlags has 32,
// else kindFlags | 1.
LibraryTreeNode* NewLibraryNode(ole::ITypeLib* library, std::shared_ptr<CustomTypeLib> editable, int32_t kindFlags);
// A type record, linked at the head of the library's list.
TypeNodeRecord* NewTypeRecord(QTreeWidgetItem* node, LibraryNodeRecord& library, int32_t typeIndex, int32_t typeKind,
                              int32_t refTypeIndex, bool isBaseReference);
ImpliedInterfaceNodeRecord* NewImpliedInterfaceRecord(QTreeWidgetItem* node, TypeNodeRecord& coclass, int32_t number,
                                                      int32_t refTypeIndex);
MemberNodeRecord* NewMemberRecord(QTreeWidgetItem* node, TypeNodeRecord& type, ole::MEMBERID memberId,
                                  int32_t accessBits, bool hasFuncDesc);

// Unlinks and frees a type record. With renumber, every type index and
// referenced index above the deleted one goes down by one, and implemented
// interfaces that named the deleted type get replacementIndex; without, the
// type keeps its index under a new definition. Either way, type records that
// named it (an interface based on it, an alias of it) are read again from
// current (the library after the change; null: the library record's), and
// their flatten test is forgotten.
void DeleteTypeRecord(LibraryNodeRecord& library, TypeNodeRecord* type, bool renumber, int32_t replacementIndex,
                      ole::ITypeLib* current = nullptr);
// An alias of a type of the library shows the kind its chain finally names:
// after references changed, each such alias takes that kind from the records
// again (a chain leaving the records it can follow keeps its kind).
void UpdateAliasKinds(LibraryNodeRecord& library);
// Unlinks and frees an implemented-interface record; with renumber, the later
// interfaces of the same coclass move up by one.
void DeleteImpliedInterfaceRecord(LibraryNodeRecord& library, ImpliedInterfaceNodeRecord* record, bool renumber);
// Frees the records of a node's built children (and of theirs): type and
// implemented-interface records one by one, without renumbering; member
// records stay with their library. Tags of the children are cleared.
void ReleaseChildRecords(QTreeWidgetItem* node);

// The type record of a type index, or null.
TypeNodeRecord* FindTypeRecord(const LibraryNodeRecord& library, int32_t typeIndex);
// The library record of the root node above item (or of item), or null.
LibraryNodeRecord* LibraryRecordOf(QTreeWidgetItem* item);

// Empties the tree, freeing every library's records with its root node (so a
// handler told of the current node leaving still reads live records); tags of
// the root nodes are cleared first.
void ClearLibraryTree(QTreeWidget* tree);

}  // namespace zephrin::editor

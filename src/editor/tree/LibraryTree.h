// Building the nodes of a library tree: the library, its types, a type's
// members or implemented interfaces, a member's parameters, each with its
// record as tag and its image. Children are built on demand: a node whose
// children are not built yet holds one placeholder child, which
// EnsureChildren (when the node is expanded, or a search needs the level)
// replaces by the real children in one batch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/tree/TreeNodeRecords.h"
#include "foundation/ErrorRecord.h"
#include "platform/tlbinf/TliInterfaces.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin::editor {

// Image indexes of the window image list.
enum NodeImageIndex : int16_t {
    kImageCoclass = 1,
    kImageModule = 2,
    kImageRecord = 3,
    kImageEnum = 4,
    kImageSourceInterface = 5,
    kImageInterface = 6,
    kImageDispatch = 7,
    kImageIntrinsicAlias = 8,  // also the base-types pseudo-library
    kImageVTableDispatch = 9,  // a dispinterface listing the vtable methods
    kImageFunction = 10,
    kImageProperty = 11,
    kImageConstant = 12,
    kImageLibrary = 13,
    kImageParameter = 14,
    kImageAliasOverlay = 15,   // added to images 1-8 for an alias
};

// The image of a shown kind (an alias of a built-in type: TKIND_ALIAS).
int16_t ImageOfKind(int32_t typeKind);

// How a type is shown: its shown kind, what it references, its image, and
// whether it gets children of its own (aliases of user types get none).
struct TypeDescription {
    int32_t TypeKind = 0;
    int32_t RefTypeIndex = kRefNone;
    bool BaseReference = false;
    bool IsAlias = false;
    int16_t Image = 0;
    bool HasChildren = false;
};
// Reads type index of lib. Failing reads raise their HRESULT.
TypeDescription DescribeType(ole::ITypeLib* lib, int32_t index);

// The library's root node (text its name, image 13), or null when it has no
// types and lazy is off. Lazy: a library with types gets a placeholder.
QTreeWidgetItem* AddLibraryNode(QTreeWidget* tree, ole::ITypeLib* library, std::shared_ptr<CustomTypeLib> editable,
                                int32_t kindFlags, bool lazy);
// "Standard Base Types": IUnknown, then IDispatch, on demand.
QTreeWidgetItem* AddBaseTypesNode(QTreeWidget* tree);
// Builds a library node's types (all of them, filtered and sorted).
void FillLibraryNode(QTreeWidgetItem* libraryNode, bool lazy);
// Adds nodes for the new types first..last (not sorted); returns them.
std::vector<QTreeWidgetItem*> AddNewTypeNodes(int32_t first, int32_t last, QTreeWidgetItem* libraryNode, bool lazy);
// Builds a type's members or implemented interfaces; returns the member node
// whose ID is wantedMemberId, or null.
QTreeWidgetItem* FillTypeNode(QTreeWidgetItem* typeNode, ole::MEMBERID wantedMemberId);
// Builds a member's parameter nodes.
void AddParamNodes(QTreeWidgetItem* memberNode);
// Makes the parameter nodes of a member whose children are built (or that
// has none) as many as its accessors now have (GetFuncParamNames): the nodes
// beyond go to remove, which deletes them; the missing ones are added, named.
void SyncParamNodeCount(QTreeWidgetItem* memberNode, const std::function<void(QTreeWidgetItem*)>& remove);
// Reads the names of a type node's built member and parameter nodes from the
// library again; true when any node's text changed.
bool RetitleMemberNodes(QTreeWidgetItem* typeNode);

// The names of a function (element 0 the function's, then its parameters',
// "<New Value>" for an unnamed value of a put or putref and for a Get's
// unnamed return value parameter), looked up with the lowest accessor bit of
// accessBits; for a property, as many as its accessor with the most
// parameters has (a dispinterface's Let or Set takes its value beyond the
// Get's parameters). Without names (count only) nothing is read
// but the count. found is false and the result 0 when there is no such
// function; otherwise the result is the parameter count + 1.
int32_t GetFuncParamNames(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t accessBits, bool& found,
                          std::vector<std::u16string>* names);

// Placeholder children.
bool HasPlaceholder(QTreeWidgetItem* node);
void AddPlaceholder(QTreeWidgetItem* node);
// Removes the placeholder; false when node had none.
bool RemovePlaceholder(QTreeWidgetItem* node);
// Replaces a placeholder by the node's real children; returns the member node
// wantedMemberId asks for (type nodes only), or null.
QTreeWidgetItem* EnsureChildren(QTreeWidgetItem* node, ole::MEMBERID wantedMemberId = ole::MEMBERID_NIL);

// Builds children when a node of tree is first expanded. A failure leaves the
// node as it was (collapsed, still expandable) and goes to onError. The tree's
// `*` key (expand everything below the current node) goes to ExpandAllBelow.
void ConnectLazyFilling(QTreeWidget* tree, std::function<void(const ErrorRecord&)> onError);

// Expands node and every node below it that has children, giving the nodes
// expanding each by hand gives, under the wait cursor. The levels not built
// yet are built first, with the tree's updates suspended, and then expanded
// with one layout of the rows. A level that fails to build stays collapsed
// (and expandable); the first failure goes to onError.
void ExpandAllBelow(QTreeWidget* tree, QTreeWidgetItem* node, const std::function<void(const ErrorRecord&)>& onError);

// A tree set up for libraries: one column, no header, uniform row heights,
// an accessible name.
void SetUpLibraryTree(QTreeWidget* tree);

}  // namespace zephrin::editor

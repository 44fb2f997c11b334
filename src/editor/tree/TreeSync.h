// Keeping a library tree in step with the library after a change: finding the
// node of a change's target, adding nodes for new elements, and keeping the
// records' type indexes, referenced indexes and implemented-interface numbers
// true when types are deleted, renamed, reordered, redirected or taken in.
// The view's change listener calls these from its notifications.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "changes/hub/ChangeTarget.h"
#include "editor/tree/TreeNodeRecords.h"
#include "platform/tlbinf/TliInterfaces.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin::editor {

// Search modes of FindTargetNode.
enum FindMode : int32_t {
    kFindKeep = 0,      // levels not built yet are not opened: null
    kFindRefresh = 1,   // the same (a display level of 1)
    kFindBuild = 2,     // levels are built on the way
};

// The node of target, or null when it lies below a level not built (modes 0
// and 1) or its type has no node. A library not in the tree, or a member ID
// not under its type node, raises error 5.
QTreeWidgetItem* FindTargetNode(QTreeWidget* tree, const ChangeTarget& target, int32_t mode);

// A node for the new type target names (index, name, kind) under the library
// node; null while the library's types are not built (the type shows when
// they are).
QTreeWidgetItem* AddTypeNodeForChange(const ChangeTarget& target, QTreeWidgetItem* libraryNode);

// After a type was renamed: the implemented-interface nodes that show it.
void RenameTypeReferences(QTreeWidgetItem* typeNode, const std::u16string& newName);
void RenameImpliedInterfaceNodes(int32_t typeIndex, LibraryNodeRecord& library, const std::u16string& newText);

// A new variable or constant: under the target type, or after the target
// member in an enum, record or union. A type whose members are not built yet
// is built instead, which yields the new member's node.
QTreeWidgetItem* AddVariableNodeForChange(const ChangeTarget& target, const std::u16string& name,
                                          ole::MEMBERID memberId, QTreeWidgetItem* node);
// A new function or property accessor set under the type node, sorted in.
QTreeWidgetItem* AddFunctionNodeForChange(QTreeWidgetItem* typeNode, const std::u16string& name,
                                          ole::MEMBERID memberId, int32_t accessBits);
// A new implemented interface of the coclass target names (its new position
// in target.MemberId); null while the coclass's interfaces are not built.
QTreeWidgetItem* AddImpliedInterfaceNodeForChange(const ChangeTarget& target, tli::VarTypeInfo* implemented,
                                                  QTreeWidgetItem* coclassNode);
// A new parameter after the target parameter, or first when the target is
// the member.
QTreeWidgetItem* InsertParamNodeForChange(const ChangeTarget& target, const std::u16string& name,
                                          QTreeWidgetItem* memberNode);

// After types were added or redirected: references that pointed outside the
// library are read again and take a type of the library when they now name
// one (their flatten test is forgotten; a dispinterface keeps its base
// outside); with reText the implemented-interface nodes that do take one show
// its name. With onlyClear, type references stay as they are and only the
// flatten test of types based outside is forgotten.
void RefreshExternalReferences(LibraryNodeRecord& library, bool onlyClear, bool reText);
// References to oldIndex now name newIndex (aliases take the kind they now
// end at); implemented-interface nodes show newText.
void RetargetTypeReferences(LibraryNodeRecord& library, int32_t oldIndex, int32_t newIndex,
                            const std::u16string& newText);
// After the types were reordered: newOrder[old index] is the new index. An
// order that does not cover the library's records raises error 9 and changes
// nothing.
void RemapTypeIndexes(LibraryNodeRecord& library, std::span<const int16_t> newOrder);
// The type typeIndex left the library: aliases of it now name a type outside
// (-2), interfaces based on it a base outside (-4, flatten test forgotten),
// implemented interfaces a type outside (-1), and show newText.
void DetachTypeReferences(LibraryNodeRecord& library, int32_t typeIndex, const std::u16string& newText);

}  // namespace zephrin::editor

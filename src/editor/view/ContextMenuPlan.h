// What the tree's context menu shows for a node: the visible items, the
// captions that depend on the node, and the visible items of each submenu.
// The plan is made from the node's state alone, so the menu that shows it
// holds no decisions of its own. The interface records' flatten test is
// cached in their reference flags; the plan returns the flags for the caller
// to store.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/view/CommandFilterRecord.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::editor {

// The items of the context menu and of its submenus.
enum class MenuItem {
    mnuResolved,
    mnuDelete,
    mnuAddType,
    mnuAddTypePick,
    mnuInternalizeType,
    mnuInternalizeTypeUnmodified,
    mnuInternalizeOneType,
    mnuInternalizeRefTypes,
    mnuInternalizeAllTypes,
    mnuInternalizeTypeProxy,
    mnuInternalizeProxyOneType,
    mnuInternalizeProxyRefTypes,
    mnuInternalizeProxyAllTypes,
    mnuExternalTypes,
    mnuTypeOrder,
    mnuAddImplType,
    mnuAddFunc,
    mnuAddFuncPick,
    mnuAddVar,
    mnuSep1,
    mnuDeleteProp,
    mnuDeletePropPick,
    mnuInsertParam,
    mnuInsertParamPick,
    mnuRemoveParamArray,
    mnuFlattenInterface,
    mnuVTableOrder,
    mnuVarOrder,
    mnuResetIDs,
    mnuResetIDsPick,
    mnuRedirect,
    mnuRedirectLeave,
    mnuRedirectReplace,
    mnuCustData,
    mnuRename,
    mnuSep2,
    // The view's settings, below the node's items.
    mnuConstrain,
    mnuConstrainPick,
    mnuHelpOptions,
    mnuHelpOptionsHelpFileSource,
    mnuSep3,
    mnuHelpOptionsBackup,
    // The popup of the type pane's field that shows a type of another library.
    mnuRedirInternalizeThisType,
    mnuRedirInternalizeAllRefTypes,
    mnuRedirInternalizeAllTypes,
    mnuRedirInternalizeProxyThisType,
    mnuRedirInternalizeProxyAllRefTypes,
    mnuRedirInternalizeProxyAllTypes,
    mnuRedirectExternalThisType,
    mnuRedirectExternalAllTypes,
};

// Bits of the visibility mask: bit k shows item k.
inline constexpr int32_t kShowRename = 1;
inline constexpr int32_t kShowResolved = 2;
inline constexpr int32_t kShowDelete = 4;
inline constexpr int32_t kShowAddType = 8;
inline constexpr int32_t kShowAddImplType = 16;
inline constexpr int32_t kShowAddFunc = 32;
inline constexpr int32_t kShowAddVar = 64;
inline constexpr int32_t kShowMissingAccessors = 128;  // a property node offers the accessors it lacks
inline constexpr int32_t kShowDeleteProp = 256;
inline constexpr int32_t kShowInsertParam = 512;
inline constexpr int32_t kShowRemoveParamArray = 1024;
inline constexpr int32_t kShowFlatten = 2048;
inline constexpr int32_t kShowVTableOrder = 4096;
inline constexpr int32_t kShowVarOrder = 8192;
inline constexpr int32_t kShowResetIDs = 16384;
inline constexpr int32_t kShowRedirect = 32768;
inline constexpr int32_t kShowCopy = 65536;     // never set: members are copied from the keyboard
inline constexpr int32_t kShowPaste = 131072;   // never set
inline constexpr int32_t kShowInternalize = 262144;
inline constexpr int32_t kShowTypeOrder = 524288;
inline constexpr int32_t kShowExternalTypes = 1048576;
inline constexpr int32_t kShowCustData = 67108864;

// Parameter options of the member and parameter panes that the menu reads.
inline constexpr int32_t kParamCanDelete = 0x800;
inline constexpr int32_t kParamInsertRequired = 0x1000;
inline constexpr int32_t kParamInsertRetVal = 0x2000;
inline constexpr int32_t kParamInsertTypedOptional = 0x4000;
inline constexpr int32_t kParamInsertVariantOptional = 0x8000;
inline constexpr int32_t kParamInsertParamArray = 0x10000;
inline constexpr int32_t kParamInsertLcid = 0x20000;
inline constexpr int32_t kParamInsertAny = 0x7F000;
inline constexpr int32_t kParamHasParamArray = 16;           // on a parameter node
inline constexpr int32_t kParamMemberHasParamArray = 0x80000;  // on a member node

// What an interface's base interface is, for the flatten test.
enum class BaseInterfaceKind {
    None,      // no base, or it could not be found
    Standard,  // IUnknown or IDispatch
    Other,     // any other interface, of this library or another
};

// The base interface of type: its first implemented type. Errors count as no base.
BaseInterfaceKind FindBaseInterfaceKind(ole::ITypeInfo* type) noexcept;

// The node and the view state the menu is decided from.
struct ContextMenuState {
    int32_t NodeKind = 0;      // kNodeLibrary, kNodeType, kNodeImplType, kNodeMember or kNodeParam
    int32_t ChildCount = 0;    // the node's child nodes, a placeholder included
    bool ChildrenBuilt = true; // false while a placeholder stands for children not built yet

    // Type nodes: the record's type kind, referenced type index and reference flags.
    // Implied-interface nodes: RefTypeIndex only.
    int32_t TypeKind = 0;
    int32_t RefTypeIndex = -1;
    int32_t RefFlags = 1;
    // Asked only when the flatten test is not cached yet; an error counts as no base.
    std::function<BaseInterfaceKind()> BaseLookup;
    // A dispinterface declared over an interface: its members are the
    // interface's functions, and it takes no property of its own. When the
    // interface lies in another library (OfAnotherLibrary), it takes no
    // function either, and its member IDs are that library's.
    bool DeclaredOverInterface = false;

    // Implied-interface nodes: the implemented-type flags of the details pane's working change.
    int32_t WorkingChangeFlags = 0;

    // Member nodes: the parent type's kind and the record's access bits.
    int32_t ParentTypeKind = 0;
    int32_t AccessBits = 0;
    // Member and parameter nodes: the member is one that a dispinterface
    // declared over an interface shows from a type of another library
    // (IUnknown's, IDispatch's); nothing of it can be changed here.
    // Type nodes: see DeclaredOverInterface.
    bool OfAnotherLibrary = false;

    // Member and parameter nodes: the parameter options of the details pane.
    int32_t ParamOptions = 0;

    // The view's state.
    int32_t TypeConstraint = 0;
    int32_t TypeConstraintFilter = 0;
    bool DisplayHelpOptions = false;
    bool AddUsesLibraryHelpFiles = true;
    bool SaveBackupHelpString = true;
    const CommandFilterRecord* Filter = nullptr;  // null: no filter
};

// A visible item: Index is a submenu item's index (the invoke kinds of an Add
// Function item, the accessors of a Delete Property item, the place of a type
// constraint or help file source item), Tag the option bit of an Insert
// Parameter item.
struct MenuEntry {
    MenuItem Item = MenuItem::mnuRename;
    int32_t Index = 0;
    int32_t Tag = 0;
    std::u16string Caption;  // empty for a separator
    std::vector<MenuEntry> Submenu;
    bool Checkable = false;  // a setting, checked while it is in force
    bool Checked = false;
};

// Whether item opens a submenu (shown even when the node leaves it empty).
bool IsSubmenu(MenuItem item);

// The type constraint code that the Type Constraints item at index sets: the
// items run None, VB Callable, VB Implementable, OLE Automation Compatible,
// and both of the first two.
int32_t ConstraintOfItem(int32_t index);

struct ContextMenuPlan {
    int32_t Mask = 0;
    int32_t RefFlags = 0;           // the type record's reference flags to store back
    std::vector<MenuEntry> Entries; // the visible items in menu order; empty: no menu

    bool Shows(MenuItem item) const;
    const MenuEntry* Find(MenuItem item) const;
};

// The plan for the node state describes, with the view's settings (type
// constraints, help options) after the node's items. Errors of the base lookup are
// ignored; a caption missing from the string table raises its error, and then
// no menu is to be shown.
ContextMenuPlan planContextMenu(const ContextMenuState& state);

}  // namespace zephrin::editor

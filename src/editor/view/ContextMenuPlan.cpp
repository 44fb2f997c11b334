#include "editor/view/ContextMenuPlan.h"

#include <algorithm>

#include "editor/tree/TreeNodeRecords.h"
#include "foundation/modSupport.h"
#include "typelib/BaseTICache.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin::editor {

namespace {

using modSupport::LoadResStringById;

// Items of the visibility mask beside which the separators show.
constexpr int32_t kFirstSeparatorItems = 0x1F3678;
constexpr int32_t kSecondSeparatorItems = 0x400C905;

// What a type node may offer without a filter, what a filter may allow of it,
// and the items every type node takes from it.
constexpr int32_t kTypeAllowed = 0x400F877;
constexpr int32_t kTypeFilterable = 0x400F875;
constexpr int32_t kTypeCommon = kShowRename | kShowDelete | kShowRedirect | kShowCustData;
// The items a member or parameter filter governs.
constexpr int32_t kMemberFilterable = 0x40007E5;
constexpr int32_t kParamFilterable = 0x4000605;

// Library filter bits: the low byte holds the type kinds Add Type offers.
constexpr int32_t kLibFilterAddTypeKinds = 0xFF;
constexpr int32_t kLibFilterRename = 4096;
constexpr int32_t kLibFilterInternalize = 8192;
constexpr int32_t kLibFilterTypeOrder = 16384;
constexpr int32_t kLibFilterCustData = 32768;
constexpr int32_t kLibFilterExternalTypes = 65536;
// Implied-interface filter bits.
constexpr int32_t kImplFilterDelete = 4;
constexpr int32_t kImplFilterCustData = 8;

constexpr int32_t kAccessors = kAccessGet | kAccessPut | kAccessPutRef;
constexpr int32_t kAllInvokeKinds = kAccessFunc | kAccessors;

// The Add Type items in menu order, each with the TYPEKIND it adds.
struct AddTypeItem {
    const char16_t* caption;
    int32_t typeKind;
};
constexpr AddTypeItem kAddTypeItems[] = {
    {u"&alias", ole::TKIND_ALIAS},   {u"&coclass", ole::TKIND_COCLASS}, {u"&dispinterface", ole::TKIND_DISPATCH},
    {u"&enum", ole::TKIND_ENUM},     {u"&interface", ole::TKIND_INTERFACE}, {u"&module", ole::TKIND_MODULE},
    {u"&record", ole::TKIND_RECORD}, {u"&union", ole::TKIND_UNION},
};

// Submenu items indexed by an accessor set.
struct AccessorItem {
    int32_t index;
    const char16_t* caption;
};
constexpr AccessorItem kPropertyItems[] = {
    {2, u"Property &Get"},          {4, u"Property &Let"},      {6, u"Property G&et/Let"},
    {8, u"Property &Set"},          {10, u"Property Ge&t/Set"}, {12, u"Pr&operty Let/Set"},
    {14, u"Propert&y Get/Let/Set"},
};

// The Add Function items, indexed by the invoke kinds they add; the first
// one's caption depends on the type.
constexpr AccessorItem kAddFuncItems[] = {
    {1, nullptr},         {2, u"Property &Get"},      {4, u"Property &Let"},
    {6, u"Property G&et/Let"}, {8, u"Property &Set"}, {10, u"Property Ge&t/Set"},
};

struct ParamItem {
    int32_t option;
    int32_t caption;
};
constexpr ParamItem kInsertParamItems[] = {
    {kParamInsertRequired, 852},        {kParamInsertTypedOptional, 853}, {kParamInsertVariantOptional, 854},
    {kParamInsertParamArray, 855},      {kParamInsertRetVal, 856},        {kParamInsertLcid, 857},
};

// The mask bit of each item, for the items the mask governs.
struct MaskedItem {
    MenuItem item;
    int32_t bit;
};

// The items in menu order; separators carry no bit.
constexpr MaskedItem kMenuOrder[] = {
    {MenuItem::mnuResolved, kShowResolved},
    {MenuItem::mnuDelete, kShowDelete},
    {MenuItem::mnuAddType, kShowAddType},
    {MenuItem::mnuInternalizeType, kShowInternalize},
    {MenuItem::mnuExternalTypes, kShowExternalTypes},
    {MenuItem::mnuTypeOrder, kShowTypeOrder},
    {MenuItem::mnuAddImplType, kShowAddImplType},
    {MenuItem::mnuAddFunc, kShowAddFunc},
    {MenuItem::mnuAddVar, kShowAddVar},
    {MenuItem::mnuSep1, 0},
    {MenuItem::mnuDeleteProp, kShowDeleteProp},
    {MenuItem::mnuInsertParam, kShowInsertParam},
    {MenuItem::mnuRemoveParamArray, kShowRemoveParamArray},
    {MenuItem::mnuFlattenInterface, kShowFlatten},
    {MenuItem::mnuVTableOrder, kShowVTableOrder},
    {MenuItem::mnuVarOrder, kShowVarOrder},
    {MenuItem::mnuResetIDs, kShowResetIDs},
    {MenuItem::mnuRedirect, kShowRedirect},
    {MenuItem::mnuCustData, kShowCustData},
    {MenuItem::mnuRename, kShowRename},
    {MenuItem::mnuSep2, 0},
};

// The node-dependent captions and the submenu state decided with the mask.
struct Decision {
    int32_t mask = 0;
    int32_t resolvedCaption = 0;
    int32_t deleteCaption = 0;
    int32_t addVarCaption = 0;
    int32_t methodCaption = 849;
    int32_t offeredKinds = kAllInvokeKinds;
    int32_t presentAccessors = 0;
};

bool FilterOn(const ContextMenuState& state) { return state.Filter && state.Filter->Enabled(); }

bool IsStandardBase(ole::ITypeInfo* ti) {
    BaseTICache& cache = BaseTICache::Instance();
    if (typelib_detail::SameObject(ti, cache.IUnknown().get()) ||
        typelib_detail::SameObject(ti, cache.IDispatch().get())) {
        return true;
    }
    typelib_detail::TypeAttr attr(ti);
    return attr->guid == ole::IUnknown::kIID || attr->guid == ole::IDispatch::kIID;
}

bool HasFlattenableBase(const ContextMenuState& state) {
    if (!state.BaseLookup) return false;
    try {
        return state.BaseLookup() == BaseInterfaceKind::Other;
    } catch (...) {
        return false;
    }
}

void DecideLibrary(const ContextMenuState& state, Decision& d) {
    if (FilterOn(state)) {
        const int32_t f = state.Filter->LibraryCommands;
        if (f & kLibFilterAddTypeKinds) d.mask |= kShowAddType;
        if (f & kLibFilterRename) d.mask |= kShowRename;
        if (f & kLibFilterInternalize) d.mask |= kShowInternalize;
        if (f & kLibFilterExternalTypes) d.mask |= kShowExternalTypes;
        if (f & kLibFilterTypeOrder) d.mask |= kShowTypeOrder;
        if (f & kLibFilterCustData) d.mask |= kShowCustData;
    } else {
        d.mask = kShowRename | kShowAddType | kShowInternalize | kShowTypeOrder | kShowExternalTypes | kShowCustData;
    }
    if (state.ChildCount < 2) d.mask &= ~kShowTypeOrder;
}

void DecideType(const ContextMenuState& state, Decision& d, int32_t& refFlags) {
    const int32_t allowed =
        FilterOn(state) ? ((state.Filter->TypeCommands & kTypeFilterable) | kShowResolved) : kTypeAllowed;
    d.mask = allowed & kTypeCommon;
    d.deleteCaption = 825;
    const bool hasChildren = state.ChildCount > 0;
    const bool severalMembers = !state.ChildrenBuilt || state.ChildCount >= 2;

    if (state.RefTypeIndex >= 0) {
        d.mask |= kShowResolved;
        d.resolvedCaption = (state.RefFlags & kRefRoleMask) == kRefRoleBase ? 821 : 820;
    } else if (state.TypeKind == ole::TKIND_COCLASS && state.RefTypeIndex == kRefNone) {
        d.mask |= allowed & kShowAddImplType;
    }

    if (state.TypeKind == ole::TKIND_INTERFACE) {
        if (hasChildren) d.mask |= allowed & (kShowVTableOrder | kShowResetIDs);
        if (allowed & kShowFlatten) {
            if (!(refFlags & kRefFlattenTested)) {
                refFlags &= ~kRefCanFlatten;
                if (HasFlattenableBase(state)) refFlags |= kRefCanFlatten;
                refFlags |= kRefFlattenTested;
            }
            if (refFlags & kRefCanFlatten) d.mask |= kShowFlatten;
        }
    }

    // An alias of a type of the library offers no members of its own.
    if ((state.RefFlags & kRefRoleMask) == kRefRoleOther && state.RefTypeIndex != kRefNone) return;

    const int32_t resetIDs = hasChildren ? kShowResetIDs : 0;
    switch (state.TypeKind) {
        case ole::TKIND_ENUM:
        case ole::TKIND_RECORD:
        case ole::TKIND_UNION:
            d.mask |= allowed & (resetIDs | (severalMembers ? kShowVarOrder : 0) | kShowAddVar);
            d.addVarCaption = state.TypeKind == ole::TKIND_ENUM ? 848 : 847;
            break;
        case ole::TKIND_MODULE:
            d.mask |= allowed & (kShowAddFunc | kShowAddVar | resetIDs);
            d.addVarCaption = 846;
            d.methodCaption = 850;
            break;
        case ole::TKIND_INTERFACE:
            d.mask |= allowed & kShowAddFunc;
            break;
        case ole::TKIND_DISPATCH:
            d.mask |= allowed & (kShowAddFunc | kShowAddVar | resetIDs);
            d.addVarCaption = 845;
            if (state.DeclaredOverInterface) d.mask &= ~kShowAddVar;
            if (state.DeclaredOverInterface && state.OfAnotherLibrary) d.mask &= ~(kShowAddFunc | kShowResetIDs);
            if (state.TypeConstraint == 4) {
                d.offeredKinds = kAccessFunc;
                d.mask &= ~kShowAddVar;
            }
            break;
        default:
            break;
    }
}

void DecideImplType(const ContextMenuState& state, Decision& d) {
    const bool filterOn = FilterOn(state);
    if (filterOn) {
        if (state.Filter->ImplTypeCommands & kImplFilterDelete) d.mask |= kShowDelete;
        if (state.Filter->ImplTypeCommands & kImplFilterCustData) d.mask |= kShowCustData;
    } else {
        d.mask = kShowDelete | kShowCustData;
    }
    if (state.RefTypeIndex >= 0) {
        // A coclass and its default interface go together: the default, not source, stays.
        if (filterOn && state.Filter->PairCoclasses && (state.WorkingChangeFlags & 3) == 1) d.mask &= ~kShowDelete;
        d.mask |= kShowResolved;
        d.resolvedCaption = 822;
    }
    d.deleteCaption = 824;
}

void DecideMember(const ContextMenuState& state, Decision& d) {
    if (state.OfAnotherLibrary) return;
    d.mask = kShowRename | kShowCustData;
    const int32_t kind = state.ParentTypeKind;
    const int32_t bits = state.AccessBits;
    if (bits & kAccessHasFuncDesc) {
        if (bits & kAccessFunc) {
            d.mask |= kShowDelete;
            d.deleteCaption = kind == ole::TKIND_MODULE ? 836 : 834;
        } else {
            const int32_t offered = ~bits & kAccessors;
            if (offered) {
                d.mask |= kShowAddFunc | kShowMissingAccessors;
                d.offeredKinds = offered;
            }
            d.presentAccessors = bits & kAccessors;
            if (d.presentAccessors == kAccessGet || d.presentAccessors == kAccessPut ||
                d.presentAccessors == kAccessPutRef) {
                d.mask |= kShowDelete;
                d.deleteCaption = 835;
            } else {
                d.mask |= kShowDeleteProp;
            }
        }
        d.mask |= kShowInsertParam;
        if (state.ParamOptions & kParamMemberHasParamArray) d.mask |= kShowRemoveParamArray;
    } else {
        d.mask |= kShowDelete;
        switch (kind) {
            case ole::TKIND_ENUM:
                d.deleteCaption = 838;
                d.addVarCaption = 848;
                d.mask |= kShowAddVar;
                break;
            case ole::TKIND_RECORD:
            case ole::TKIND_UNION:
                d.deleteCaption = 839;
                d.addVarCaption = 847;
                d.mask |= kShowAddVar;
                break;
            case ole::TKIND_MODULE:
                d.deleteCaption = 837;
                break;
            case ole::TKIND_DISPATCH:
                d.deleteCaption = 840;
                break;
            default:
                d.deleteCaption = 826;
                break;
        }
    }
    if (FilterOn(state)) {
        d.mask = (d.mask & ~kMemberFilterable) | (d.mask & kMemberFilterable & state.Filter->MemberCommands);
    }
}

void DecideParam(const ContextMenuState& state, Decision& d) {
    if (state.OfAnotherLibrary) return;
    d.mask = kShowRename | kShowCustData;
    if (state.ParamOptions & kParamCanDelete) {
        d.mask |= kShowDelete;
        d.deleteCaption = 841;
    }
    if (state.ParamOptions & kParamInsertAny) d.mask |= kShowInsertParam;
    if (state.ParamOptions & kParamHasParamArray) d.mask |= kShowRemoveParamArray;
    if (FilterOn(state)) {
        d.mask = (d.mask & ~kParamFilterable) | (d.mask & kParamFilterable & state.Filter->ParamCommands);
    }
}

MenuEntry Entry(MenuItem item, std::u16string caption, int32_t index = 0) {
    MenuEntry entry;
    entry.Item = item;
    entry.Index = index;
    entry.Caption = std::move(caption);
    return entry;
}

MenuEntry Entry(MenuItem item, int32_t captionId, int32_t index = 0) {
    return Entry(item, LoadResStringById(captionId), index);
}

// The Add Type items a filter lets show: their mask bits by item, in TYPEKIND order.
void FillAddType(const ContextMenuState& state, MenuEntry& menu) {
    const int32_t kinds = FilterOn(state) ? (state.Filter->LibraryCommands & kLibFilterAddTypeKinds) : 0xFF;
    for (size_t i = 0; i < std::size(kAddTypeItems); ++i) {
        if (kinds & (1 << kAddTypeItems[i].typeKind)) {
            menu.Submenu.push_back(Entry(MenuItem::mnuAddTypePick, kAddTypeItems[i].caption, static_cast<int32_t>(i)));
        }
    }
}

void FillInternalize(MenuEntry& menu) {
    MenuEntry unmodified = Entry(MenuItem::mnuInternalizeTypeUnmodified, 872);
    unmodified.Submenu = {Entry(MenuItem::mnuInternalizeOneType, 884), Entry(MenuItem::mnuInternalizeRefTypes, 885),
                          Entry(MenuItem::mnuInternalizeAllTypes, 886)};
    MenuEntry proxy = Entry(MenuItem::mnuInternalizeTypeProxy, 873);
    proxy.Submenu = {Entry(MenuItem::mnuInternalizeProxyOneType, 884),
                     Entry(MenuItem::mnuInternalizeProxyRefTypes, 885),
                     Entry(MenuItem::mnuInternalizeProxyAllTypes, 886)};
    menu.Submenu = {std::move(unmodified), std::move(proxy)};
}

void FillAddFunc(const Decision& d, MenuEntry& menu) {
    for (const AccessorItem& item : kAddFuncItems) {
        if ((d.offeredKinds & item.index) != item.index) continue;
        // A property node adds the accessors it lacks one at a time.
        if ((d.mask & kShowMissingAccessors) && (item.index == 6 || item.index == 10)) continue;
        if (item.index == kAccessFunc) {
            menu.Submenu.push_back(Entry(MenuItem::mnuAddFuncPick, d.methodCaption, item.index));
        } else {
            menu.Submenu.push_back(Entry(MenuItem::mnuAddFuncPick, item.caption, item.index));
        }
    }
}

void FillDeleteProp(const Decision& d, MenuEntry& menu) {
    for (const AccessorItem& item : kPropertyItems) {
        if ((d.presentAccessors & item.index) == item.index) {
            menu.Submenu.push_back(Entry(MenuItem::mnuDeletePropPick, item.caption, item.index));
        }
    }
}

void FillInsertParam(const ContextMenuState& state, MenuEntry& menu) {
    for (size_t i = 0; i < std::size(kInsertParamItems); ++i) {
        if (state.ParamOptions & kInsertParamItems[i].option) {
            MenuEntry item = Entry(MenuItem::mnuInsertParamPick, kInsertParamItems[i].caption, static_cast<int32_t>(i));
            item.Tag = kInsertParamItems[i].option;
            menu.Submenu.push_back(std::move(item));
        }
    }
}

int32_t ConstraintBit(int32_t code) { return 1 << std::clamp(code, 0, 30); }

MenuEntry Setting(MenuItem item, int32_t captionId, int32_t index, bool checked) {
    MenuEntry entry = Entry(item, captionId, index);
    entry.Checkable = true;
    entry.Checked = checked;
    return entry;
}

// The view's settings: the constraints a host lets the user choose among
// (none when it fixed one), and the help options it lets show.
void AppendSettings(const ContextMenuState& state, std::vector<MenuEntry>& entries) {
    if (state.TypeConstraintFilter != ConstraintBit(state.TypeConstraint)) {
        MenuEntry menu = Entry(MenuItem::mnuConstrain, 862);
        for (int32_t index = 0; index < 5; ++index) {
            const int32_t code = ConstraintOfItem(index);
            if ((state.TypeConstraintFilter & ConstraintBit(code)) == 0) continue;
            menu.Submenu.push_back(Setting(MenuItem::mnuConstrainPick, 863 + code, index, code == state.TypeConstraint));
        }
        entries.push_back(std::move(menu));
    }
    if (state.DisplayHelpOptions) {
        MenuEntry menu = Entry(MenuItem::mnuHelpOptions, 889);
        menu.Submenu = {Setting(MenuItem::mnuHelpOptionsHelpFileSource, 890, 0, state.AddUsesLibraryHelpFiles),
                        Setting(MenuItem::mnuHelpOptionsHelpFileSource, 891, 1, !state.AddUsesLibraryHelpFiles),
                        Entry(MenuItem::mnuSep3, std::u16string()),
                        Setting(MenuItem::mnuHelpOptionsBackup, 892, 0, !state.SaveBackupHelpString)};
        entries.push_back(std::move(menu));
    }
}

MenuEntry MakeEntry(MenuItem item, const ContextMenuState& state, const Decision& d) {
    switch (item) {
        case MenuItem::mnuResolved: return Entry(item, d.resolvedCaption);
        case MenuItem::mnuDelete: return Entry(item, d.deleteCaption);
        case MenuItem::mnuAddType: {
            MenuEntry menu = Entry(item, 842);
            FillAddType(state, menu);
            return menu;
        }
        case MenuItem::mnuInternalizeType: {
            MenuEntry menu = Entry(item, 883);
            FillInternalize(menu);
            return menu;
        }
        case MenuItem::mnuExternalTypes: return Entry(item, 1050);
        case MenuItem::mnuTypeOrder: return Entry(item, 893);
        case MenuItem::mnuAddImplType: return Entry(item, 843);
        case MenuItem::mnuAddFunc: {
            MenuEntry menu = Entry(item, 844);
            FillAddFunc(d, menu);
            return menu;
        }
        case MenuItem::mnuAddVar: return Entry(item, d.addVarCaption);
        case MenuItem::mnuDeleteProp: {
            MenuEntry menu = Entry(item, 826);
            FillDeleteProp(d, menu);
            return menu;
        }
        case MenuItem::mnuInsertParam: {
            MenuEntry menu = Entry(item, 851);
            FillInsertParam(state, menu);
            return menu;
        }
        case MenuItem::mnuRemoveParamArray: return Entry(item, 858);
        case MenuItem::mnuFlattenInterface: return Entry(item, 859);
        case MenuItem::mnuVTableOrder: return Entry(item, 860);
        case MenuItem::mnuVarOrder: return Entry(item, 861);
        case MenuItem::mnuResetIDs: {
            MenuEntry menu = Entry(item, 868);
            menu.Submenu = {Entry(MenuItem::mnuResetIDsPick, 869, 0), Entry(MenuItem::mnuResetIDsPick, 870, 1)};
            return menu;
        }
        case MenuItem::mnuRedirect: {
            MenuEntry menu = Entry(item, 880);
            menu.Submenu = {Entry(MenuItem::mnuRedirectLeave, 881), Entry(MenuItem::mnuRedirectReplace, 882)};
            return menu;
        }
        case MenuItem::mnuCustData: return Entry(item, 899);
        case MenuItem::mnuRename: return Entry(item, 823);
        default: return Entry(item, std::u16string());
    }
}

}  // namespace

bool IsSubmenu(MenuItem item) {
    switch (item) {
        case MenuItem::mnuAddType:
        case MenuItem::mnuInternalizeType:
        case MenuItem::mnuInternalizeTypeUnmodified:
        case MenuItem::mnuInternalizeTypeProxy:
        case MenuItem::mnuAddFunc:
        case MenuItem::mnuDeleteProp:
        case MenuItem::mnuInsertParam:
        case MenuItem::mnuResetIDs:
        case MenuItem::mnuRedirect:
        case MenuItem::mnuConstrain:
        case MenuItem::mnuHelpOptions: return true;
        default: return false;
    }
}

int32_t ConstraintOfItem(int32_t index) {
    static constexpr int32_t kCodes[] = {0, 2, 4, 1, 3};
    return index >= 0 && index < 5 ? kCodes[index] : 0;
}

BaseInterfaceKind FindBaseInterfaceKind(ole::ITypeInfo* type) noexcept {
    if (!type) return BaseInterfaceKind::None;
    try {
        ole::HREFTYPE href = 0;
        if (ole::FAILED(type->GetRefTypeOfImplType(0, &href))) return BaseInterfaceKind::None;
        ole::ComPtr<ole::ITypeInfo> base;
        if (ole::FAILED(type->GetRefTypeInfo(href, base.put())) || !base) return BaseInterfaceKind::None;
        return IsStandardBase(base.get()) ? BaseInterfaceKind::Standard : BaseInterfaceKind::Other;
    } catch (...) {
        return BaseInterfaceKind::None;
    }
}

bool ContextMenuPlan::Shows(MenuItem item) const { return Find(item) != nullptr; }

const MenuEntry* ContextMenuPlan::Find(MenuItem item) const {
    auto it = std::find_if(Entries.begin(), Entries.end(), [item](const MenuEntry& e) { return e.Item == item; });
    return it == Entries.end() ? nullptr : &*it;
}

ContextMenuPlan planContextMenu(const ContextMenuState& state) {
    ContextMenuPlan plan;
    plan.RefFlags = state.RefFlags;
    Decision d;
    switch (state.NodeKind) {
        case kNodeLibrary: DecideLibrary(state, d); break;
        case kNodeType: DecideType(state, d, plan.RefFlags); break;
        case kNodeImplType: DecideImplType(state, d); break;
        case kNodeMember: DecideMember(state, d); break;
        case kNodeParam: DecideParam(state, d); break;
        default: break;
    }
    plan.Mask = d.mask;
    // A member of another library offers nothing of its own, only the view's settings.
    if (d.mask == 0 && !state.OfAnotherLibrary) return plan;

    const bool firstSeparator = (d.mask & kFirstSeparatorItems) != 0;
    const bool secondSeparator =
        (d.mask & kSecondSeparatorItems) != 0 &&
        ((d.mask & kShowResolved) || state.DisplayHelpOptions ||
         state.TypeConstraintFilter != ConstraintBit(state.TypeConstraint));
    for (const MaskedItem& item : kMenuOrder) {
        const bool shown = item.item == MenuItem::mnuSep1   ? firstSeparator
                           : item.item == MenuItem::mnuSep2 ? secondSeparator
                                                            : (d.mask & item.bit) != 0;
        if (shown) plan.Entries.push_back(MakeEntry(item.item, state, d));
    }
    AppendSettings(state, plan.Entries);
    return plan;
}

}  // namespace zephrin::editor

// The context menu's plan for each kind of node: visible items, their
// captions, their submenus, and the flatten test cached in type records.
#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "editor/view/ContextMenuPlan.h"
#include "editor/tree/TreeNodeRecords.h"
#include "support/AccessKeys.h"
#include "support/ShapesLibrary.h"

namespace {

using namespace zephrin;
using namespace zephrin::editor;

std::string Utf8(const std::u16string& s) { return QString::fromStdU16String(s).toStdString(); }

// The captions of entries joined by ", "; a separator is "-".
std::string Captions(const std::vector<MenuEntry>& entries) {
    std::string s;
    for (const MenuEntry& e : entries) {
        if (!s.empty()) s += ", ";
        s += e.Caption.empty() ? std::string("-") : Utf8(e.Caption);
    }
    return s;
}

std::string Submenu(const ContextMenuPlan& plan, MenuItem item) {
    const MenuEntry* entry = plan.Find(item);
    return entry ? Captions(entry->Submenu) : std::string("<hidden>");
}

// A node's state with the second separator's view conditions off: no help
// options, and the constraint filter showing just the current constraint.
ContextMenuState Node(int32_t kind) {
    ContextMenuState s;
    s.NodeKind = kind;
    s.TypeConstraint = 0;
    s.TypeConstraintFilter = 1;
    return s;
}

ContextMenuState Library(int32_t types) {
    ContextMenuState s = Node(kNodeLibrary);
    s.ChildCount = types;
    return s;
}

ContextMenuState Type(int32_t typeKind, int32_t children, int32_t refIndex = kRefNone,
                      int32_t refFlags = kRefRoleOther) {
    ContextMenuState s = Node(kNodeType);
    s.TypeKind = typeKind;
    s.ChildCount = children;
    s.RefTypeIndex = refIndex;
    s.RefFlags = refFlags;
    return s;
}

// Interfaces and dispinterfaces name their base; a dispinterface's is always outside.
ContextMenuState Dispinterface(int32_t children) {
    return Type(ole::TKIND_DISPATCH, children, kRefBaseOutside, kRefRoleBase);
}

ContextMenuState Interface(int32_t refIndex, BaseInterfaceKind base) {
    ContextMenuState s = Type(ole::TKIND_INTERFACE, 2, refIndex, kRefRoleBase);
    s.BaseLookup = [base] { return base; };
    return s;
}

ContextMenuState ImplType(int32_t refIndex) {
    ContextMenuState s = Node(kNodeImplType);
    s.RefTypeIndex = refIndex;
    return s;
}

ContextMenuState Member(int32_t parentKind, int32_t access, int32_t paramOptions = 0) {
    ContextMenuState s = Node(kNodeMember);
    s.ParentTypeKind = parentKind;
    s.AccessBits = access;
    s.ParamOptions = paramOptions;
    return s;
}

ContextMenuState Param(int32_t options) {
    ContextMenuState s = Node(kNodeParam);
    s.ParamOptions = options;
    return s;
}

struct Row {
    const char* name;
    ContextMenuState state;
    const char* items;
};

constexpr int32_t kMethod = kAccessHasFuncDesc | kAccessFunc;
constexpr int32_t kProp = kAccessHasFuncDesc;

TEST(ContextMenuPlan, EveryKindOfNodeShowsItsItemsWithTheirCaptions) {
    ContextMenuState unbuiltEnum = Type(ole::TKIND_ENUM, 1);
    unbuiltEnum.ChildrenBuilt = false;
    ContextMenuState constrainedDispatch = Dispinterface(2);
    constrainedDispatch.TypeConstraint = 4;
    constrainedDispatch.TypeConstraintFilter = 16;

    ContextMenuState emptyInterface = Interface(kRefNoBase, BaseInterfaceKind::None);
    emptyInterface.ChildCount = 0;

    const Row rows[] = {
        {"library", Library(3),
         "&Add Type, &Internalize Types, E&xternal Types..., &Type Order..., -, C&ustom Data..., &Rename"},
        {"library of one type", Library(1), "&Add Type, &Internalize Types, E&xternal Types..., -, C&ustom Data..., &Rename"},
        {"enum", Type(ole::TKIND_ENUM, 2),
         "&Delete Type, &Insert Value, -, Member &Order..., Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"enum of one value", Type(ole::TKIND_ENUM, 1),
         "&Delete Type, &Insert Value, -, Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"enum not built yet", unbuiltEnum,
         "&Delete Type, &Insert Value, -, Member &Order..., Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"empty record", Type(ole::TKIND_RECORD, 0),
         "&Delete Type, &Insert Field, -, R&edirect Type, C&ustom Data..., &Rename"},
        {"union", Type(ole::TKIND_UNION, 2),
         "&Delete Type, &Insert Field, -, Member &Order..., Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"module", Type(ole::TKIND_MODULE, 2),
         "&Delete Type, &Add Function, Add &Constant, -, Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"interface on a base of the library", Interface(9, BaseInterfaceKind::Other),
         "F&ind Base Type, &Delete Type, &Add Function, -, &Flatten Interface, &VTable Order..., Reset &MemberIDs, "
         "R&edirect Type, C&ustom Data..., &Rename, -"},
        {"interface on IUnknown", Interface(kRefBaseOutside, BaseInterfaceKind::Standard),
         "&Delete Type, &Add Function, -, &VTable Order..., Reset &MemberIDs, R&edirect Type, C&ustom Data..., "
         "&Rename"},
        {"interface on an imported base", Interface(kRefBaseOutside, BaseInterfaceKind::Other),
         "&Delete Type, &Add Function, -, &Flatten Interface, &VTable Order..., Reset &MemberIDs, R&edirect Type, "
         "C&ustom Data..., &Rename"},
        {"interface without members or base", emptyInterface,
         "&Delete Type, &Add Function, -, R&edirect Type, C&ustom Data..., &Rename"},
        {"dispinterface", Dispinterface(2),
         "&Delete Type, &Add Function, Add &Property, -, Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"VB-implementable dispinterface", constrainedDispatch,
         "&Delete Type, &Add Function, -, Reset &MemberIDs, R&edirect Type, C&ustom Data..., &Rename"},
        {"coclass", Type(ole::TKIND_COCLASS, 2),
         "&Delete Type, &Add Implied Interface..., -, R&edirect Type, C&ustom Data..., &Rename"},
        {"alias of a type of the library", Type(ole::TKIND_RECORD, 0, 2),
         "F&ind Resolved Type, &Delete Type, R&edirect Type, C&ustom Data..., &Rename, -"},
        {"alias of another library's type", Type(ole::TKIND_COCLASS, 0, kRefAliasOutside),
         "&Delete Type, R&edirect Type, C&ustom Data..., &Rename"},
        {"alias of a built-in type", Type(ole::TKIND_ALIAS, 0), "&Delete Type, R&edirect Type, C&ustom Data..., &Rename"},
        {"interface of the library a coclass implements", ImplType(10),
         "F&ind Interface, &Delete Implied Type, C&ustom Data..., -"},
        {"interface of another library a coclass implements", ImplType(kRefNone),
         "&Delete Implied Type, C&ustom Data..."},
        {"method", Member(ole::TKIND_INTERFACE, kMethod, kParamInsertRequired),
         "&Delete Method, -, &Insert Parameter, C&ustom Data..., &Rename"},
        {"dispinterface method", Member(ole::TKIND_DISPATCH, kMethod),
         "&Delete Method, -, &Insert Parameter, C&ustom Data..., &Rename"},
        {"module function with a ParamArray", Member(ole::TKIND_MODULE, kMethod, kParamMemberHasParamArray),
         "&Delete Function, -, &Insert Parameter, Remove &ParamArray, C&ustom Data..., &Rename"},
        {"property get", Member(ole::TKIND_INTERFACE, kProp | kAccessGet),
         "&Delete Property, &Add Function, -, &Insert Parameter, C&ustom Data..., &Rename"},
        {"property get and let", Member(ole::TKIND_INTERFACE, kProp | kAccessGet | kAccessPut),
         "&Add Function, -, &Delete, &Insert Parameter, C&ustom Data..., &Rename"},
        {"property of every accessor", Member(ole::TKIND_DISPATCH, kProp | kAccessGet | kAccessPut | kAccessPutRef),
         "-, &Delete, &Insert Parameter, C&ustom Data..., &Rename"},
        {"enum value", Member(ole::TKIND_ENUM, kAccessEnumValue),
         "&Delete Value, &Insert Value, -, C&ustom Data..., &Rename"},
        {"record field", Member(ole::TKIND_RECORD, kAccessField),
         "&Delete Field, &Insert Field, -, C&ustom Data..., &Rename"},
        {"union field", Member(ole::TKIND_UNION, kAccessField),
         "&Delete Field, &Insert Field, -, C&ustom Data..., &Rename"},
        {"module constant", Member(ole::TKIND_MODULE, kAccessEnumValue), "&Delete Constant, C&ustom Data..., &Rename"},
        {"dispinterface property", Member(ole::TKIND_DISPATCH, kAccessField),
         "&Delete Property, C&ustom Data..., &Rename"},
        {"parameter", Param(kParamCanDelete | kParamInsertRequired | kParamHasParamArray),
         "&Delete Parameter, -, &Insert Parameter, Remove &ParamArray, C&ustom Data..., &Rename"},
        {"return value", Param(0), "C&ustom Data..., &Rename"},
    };
    for (const Row& row : rows) {
        const ContextMenuPlan plan = planContextMenu(row.state);
        EXPECT_EQ(Captions(plan.Entries), row.items) << row.name;
        EXPECT_EQ(plan.Mask & (kShowCopy | kShowPaste), 0) << row.name;
    }
}

// Each item of a menu and of its submenus has a key of its own: with two
// alike, the key only moves between them, and Enter runs either.
TEST(ContextMenuPlan, EachItemOfAMenuHasAKeyOfItsOwn) {
    std::function<void(const std::vector<MenuEntry>&)> check = [&](const std::vector<MenuEntry>& entries) {
        std::set<char16_t> keys;
        for (const MenuEntry& e : entries) {
            if (e.Caption.empty()) continue;
            EXPECT_TRUE(keys.insert(testsupport::AccessKeyOf(QString::fromStdU16String(e.Caption)).unicode()).second)
                << Utf8(e.Caption);
            check(e.Submenu);
        }
    };
    for (ContextMenuState s : {Library(3), Type(ole::TKIND_ENUM, 2), Type(ole::TKIND_MODULE, 2), Dispinterface(2),
                               Interface(9, BaseInterfaceKind::Other), ImplType(10),
                               Member(ole::TKIND_MODULE, kMethod, kParamMemberHasParamArray | kParamInsertAny),
                               Member(ole::TKIND_DISPATCH, kProp | kAccessGet | kAccessPut), Member(ole::TKIND_RECORD, kAccessField),
                               Param(kParamCanDelete | kParamInsertAny | kParamHasParamArray)}) {
        s.TypeConstraintFilter = 31;
        s.DisplayHelpOptions = true;
        check(planContextMenu(s).Entries);
    }
}

TEST(ContextMenuPlan, AddFunctionOffersTheInvokeKindsTheNodeCanTake) {
    EXPECT_EQ(Submenu(planContextMenu(Type(ole::TKIND_INTERFACE, 0)), MenuItem::mnuAddFunc),
              "&Method, Property &Get, Property &Let, Property G&et/Let, Property &Set, Property Ge&t/Set");
    EXPECT_EQ(Submenu(planContextMenu(Type(ole::TKIND_MODULE, 0)), MenuItem::mnuAddFunc),
              "&Function, Property &Get, Property &Let, Property G&et/Let, Property &Set, Property Ge&t/Set");

    ContextMenuState constrained = Dispinterface(0);
    constrained.TypeConstraint = 4;
    EXPECT_EQ(Submenu(planContextMenu(constrained), MenuItem::mnuAddFunc), "&Method");
    EXPECT_FALSE(planContextMenu(constrained).Shows(MenuItem::mnuAddVar));
    constrained.TypeConstraint = 3;
    EXPECT_EQ(Submenu(planContextMenu(constrained), MenuItem::mnuAddFunc),
              "&Method, Property &Get, Property &Let, Property G&et/Let, Property &Set, Property Ge&t/Set");

    // A property node offers the accessors it lacks, one at a time.
    const ContextMenuPlan getOnly = planContextMenu(Member(ole::TKIND_INTERFACE, kProp | kAccessGet));
    EXPECT_EQ(Submenu(getOnly, MenuItem::mnuAddFunc), "Property &Let, Property &Set");
    EXPECT_NE(getOnly.Mask & kShowMissingAccessors, 0);
    EXPECT_EQ(Submenu(getOnly, MenuItem::mnuDeleteProp), "<hidden>");
    EXPECT_EQ(Submenu(planContextMenu(Member(ole::TKIND_INTERFACE, kProp | kAccessPutRef)), MenuItem::mnuAddFunc),
              "Property &Get, Property &Let");
}

TEST(ContextMenuPlan, DeletePropertyOffersTheAccessorSetsPresent) {
    const ContextMenuPlan getLet = planContextMenu(Member(ole::TKIND_INTERFACE, kProp | kAccessGet | kAccessPut));
    EXPECT_EQ(Submenu(getLet, MenuItem::mnuDeleteProp), "Property &Get, Property &Let, Property G&et/Let");
    EXPECT_EQ(Submenu(getLet, MenuItem::mnuAddFunc), "Property &Set");
    EXPECT_FALSE(getLet.Shows(MenuItem::mnuDelete));
    // Each item's index is the accessor set it deletes.
    std::vector<int32_t> indexes;
    for (const MenuEntry& e : getLet.Find(MenuItem::mnuDeleteProp)->Submenu) indexes.push_back(e.Index);
    EXPECT_EQ(indexes, (std::vector<int32_t>{2, 4, 6}));

    const ContextMenuPlan all =
        planContextMenu(Member(ole::TKIND_DISPATCH, kProp | kAccessGet | kAccessPut | kAccessPutRef));
    EXPECT_EQ(Submenu(all, MenuItem::mnuDeleteProp),
              "Property &Get, Property &Let, Property G&et/Let, Property &Set, Property Ge&t/Set, Pr&operty Let/Set, "
              "Propert&y Get/Let/Set");
    EXPECT_FALSE(all.Shows(MenuItem::mnuAddFunc));
    EXPECT_EQ(Submenu(planContextMenu(Member(ole::TKIND_INTERFACE, kProp | kAccessPut | kAccessPutRef)),
                      MenuItem::mnuDeleteProp),
              "Property &Let, Property &Set, Pr&operty Let/Set");
}

TEST(ContextMenuPlan, FixedSubmenusAndTheParametersThatMayBeInserted) {
    const ContextMenuPlan library = planContextMenu(Library(2));
    EXPECT_EQ(Submenu(library, MenuItem::mnuAddType),
              "&alias, &coclass, &dispinterface, &enum, &interface, &module, &record, &union");
    const MenuEntry* internalize = library.Find(MenuItem::mnuInternalizeType);
    ASSERT_TRUE(internalize);
    EXPECT_EQ(Captions(internalize->Submenu), "&Unmodified, As &Proxy");
    for (const MenuEntry& how : internalize->Submenu)
        EXPECT_EQ(Captions(how.Submenu), "&Single Type, &Referenced Types in Library, &Entire Library");

    const ContextMenuPlan type = planContextMenu(Type(ole::TKIND_ENUM, 2));
    EXPECT_EQ(Submenu(type, MenuItem::mnuResetIDs), "&Automatic Only, &Explicit and Automatic");
    EXPECT_EQ(Submenu(type, MenuItem::mnuRedirect), "&Leave This Type..., &Replace This Type with Redirection...");

    const ContextMenuPlan param = planContextMenu(Param(kParamInsertAny));
    EXPECT_EQ(Submenu(param, MenuItem::mnuInsertParam),
              "&Required, &Typed Optional, &Variant Optional, &ParamArray, Ret&urn Value, &LCID");
    const ContextMenuPlan some =
        planContextMenu(Member(ole::TKIND_INTERFACE, kMethod, kParamInsertRetVal | kParamInsertLcid));
    const MenuEntry* insert = some.Find(MenuItem::mnuInsertParam);
    ASSERT_TRUE(insert);
    ASSERT_EQ(Captions(insert->Submenu), "Ret&urn Value, &LCID");
    EXPECT_EQ(insert->Submenu[0].Index, 4);
    EXPECT_EQ(insert->Submenu[0].Tag, kParamInsertRetVal);
    EXPECT_EQ(insert->Submenu[1].Tag, kParamInsertLcid);
    EXPECT_EQ(Submenu(planContextMenu(Member(ole::TKIND_INTERFACE, kMethod)), MenuItem::mnuInsertParam), "");
}

TEST(ContextMenuPlan, TheFlattenTestIsCachedInTheReferenceFlags) {
    int lookups = 0;
    ContextMenuState s = Interface(9, BaseInterfaceKind::Other);
    s.BaseLookup = [&lookups] {
        ++lookups;
        return BaseInterfaceKind::Other;
    };
    s.RefFlags = kRefRoleBase | kRefCanFlatten;  // a stale answer without the tested bit is redone
    ContextMenuPlan plan = planContextMenu(s);
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(plan.RefFlags, kRefRoleBase | kRefCanFlatten | kRefFlattenTested);
    EXPECT_TRUE(plan.Shows(MenuItem::mnuFlattenInterface));

    // Once tested, the answer stored is used as it is.
    s.RefFlags = plan.RefFlags;
    plan = planContextMenu(s);
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(plan.Shows(MenuItem::mnuFlattenInterface));
    s.RefFlags = kRefRoleBase | kRefFlattenTested;
    plan = planContextMenu(s);
    EXPECT_EQ(lookups, 1);
    EXPECT_FALSE(plan.Shows(MenuItem::mnuFlattenInterface));
    EXPECT_EQ(plan.RefFlags, kRefRoleBase | kRefFlattenTested);

    // A failed lookup counts as no base; a base of the standard two can't be flattened.
    s.RefFlags = kRefRoleBase | kRefCanFlatten;
    s.BaseLookup = []() -> BaseInterfaceKind { throw 5; };
    plan = planContextMenu(s);
    EXPECT_EQ(plan.RefFlags, kRefRoleBase | kRefFlattenTested);
    EXPECT_FALSE(plan.Shows(MenuItem::mnuFlattenInterface));
    s.BaseLookup = [] { return BaseInterfaceKind::Standard; };
    EXPECT_EQ(planContextMenu(s).RefFlags, kRefRoleBase | kRefFlattenTested);

    // Other kinds of type leave the flags alone.
    ContextMenuState record = Type(ole::TKIND_RECORD, 2);
    record.BaseLookup = [&lookups] {
        ++lookups;
        return BaseInterfaceKind::Other;
    };
    EXPECT_EQ(planContextMenu(record).RefFlags, kRefRoleOther);
    EXPECT_EQ(lookups, 1);

    // A filter that withholds Flatten Interface asks nothing.
    CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.TypeCommands = kShowRename;
    s.Filter = &filter;
    s.RefFlags = kRefRoleBase;
    EXPECT_EQ(planContextMenu(s).RefFlags, kRefRoleBase);
}

TEST(ContextMenuPlan, TheSecondSeparatorShowsWhenSomethingFollowsIt) {
    ContextMenuState s = Member(ole::TKIND_INTERFACE, kMethod);
    EXPECT_NE(Captions(planContextMenu(s).Entries).back(), '-');
    s.DisplayHelpOptions = true;
    EXPECT_EQ(Captions(planContextMenu(s).Entries),
              "&Delete Method, -, &Insert Parameter, C&ustom Data..., &Rename, -, &Help Options");
    s.DisplayHelpOptions = false;
    s.TypeConstraint = 2;
    s.TypeConstraintFilter = 31;  // every constraint offered
    EXPECT_EQ(Captions(planContextMenu(s).Entries),
              "&Delete Method, -, &Insert Parameter, C&ustom Data..., &Rename, -, Type Co&nstraints");
    s.DisplayHelpOptions = true;
    EXPECT_EQ(Captions(planContextMenu(s).Entries),
              "&Delete Method, -, &Insert Parameter, C&ustom Data..., &Rename, -, Type Co&nstraints, &Help Options");
}

// The host's constraint filter decides which codes are offered, in the
// menu's order with the code in force checked; with only that code allowed
// there is nothing to choose. Help options show where the host wants them.
TEST(ContextMenuPlan, SettingsFollowTheHostsChoices) {
    struct ConstraintRow {
        int32_t constraint;
        int32_t filter;
        const char* items;  // checked items with a leading "*"
    };
    const ConstraintRow rows[] = {
        {2, 31, "&None, *&VB Callable, VB &Implementable, &OLE Automation Compatible, "
                "VB &Callable and OLE Automation Compatible"},
        {1, 2 | 8, "*&OLE Automation Compatible, VB &Callable and OLE Automation Compatible"},
        {0, 4, "&VB Callable"},  // the code in force is not among those allowed
        {2, 4, "<hidden>"},
    };
    for (const ConstraintRow& row : rows) {
        ContextMenuState s = Type(ole::TKIND_ENUM, 2);
        s.TypeConstraint = row.constraint;
        s.TypeConstraintFilter = row.filter;
        std::vector<MenuEntry> items;
        const ContextMenuPlan plan = planContextMenu(s);
        if (const MenuEntry* menu = plan.Find(MenuItem::mnuConstrain)) items = menu->Submenu;
        for (MenuEntry& e : items)
            if (e.Checked) e.Caption = u"*" + e.Caption;
        EXPECT_EQ(items.empty() ? "<hidden>" : Captions(items), row.items) << row.constraint << " of " << row.filter;
    }
    // Each item's index gives its code: its caption's string id less 863.
    const int32_t codes[] = {0, 2, 4, 1, 3};
    for (int32_t index : {0, 1, 2, 3, 4}) EXPECT_EQ(ConstraintOfItem(index), codes[index]);

    // Neither setting opens a menu for a node that offers nothing.
    CommandFilterRecord filter;
    filter.FilterOn = 1;
    ContextMenuState library = Library(3);
    library.Filter = &filter;
    library.DisplayHelpOptions = true;
    library.TypeConstraintFilter = 31;
    EXPECT_TRUE(planContextMenu(library).Entries.empty());
}

// A dispinterface has no vtable to order, whatever a host allows; an
// interface (a dual one shows as one) has.
TEST(ContextMenuPlan, APureDispinterfaceOffersNoVTableOrder) {
    CommandFilterRecord everything;
    everything.FilterOn = 1;
    everything.TypeCommands = -1;
    for (const CommandFilterRecord* filter : {&everything, static_cast<CommandFilterRecord*>(nullptr)}) {
        ContextMenuState dispatch = Dispinterface(2);
        ContextMenuState dual = Interface(kRefBaseOutside, BaseInterfaceKind::Standard);
        dispatch.Filter = dual.Filter = filter;
        EXPECT_FALSE(planContextMenu(dispatch).Shows(MenuItem::mnuVTableOrder));
        EXPECT_TRUE(planContextMenu(dual).Shows(MenuItem::mnuVTableOrder));
    }
}

TEST(ContextMenuPlan, AFilterRestrictsWhatEachNodeOffers) {
    CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.LibraryCommands = (1 << ole::TKIND_ENUM) | (1 << ole::TKIND_COCLASS) | 4096;
    ContextMenuState library = Library(3);
    library.Filter = &filter;
    ContextMenuPlan plan = planContextMenu(library);
    EXPECT_EQ(Captions(plan.Entries), "&Add Type, -, &Rename");
    EXPECT_EQ(Submenu(plan, MenuItem::mnuAddType), "&coclass, &enum");
    filter.LibraryCommands = 0;
    EXPECT_TRUE(planContextMenu(library).Entries.empty());

    filter.TypeCommands = kShowRename | kShowAddVar | kShowVarOrder;
    ContextMenuState type = Type(ole::TKIND_ENUM, 2);
    type.Filter = &filter;
    EXPECT_EQ(Captions(planContextMenu(type).Entries), "&Insert Value, -, Member &Order..., &Rename");

    filter.MemberCommands = kShowRename;
    ContextMenuState member = Member(ole::TKIND_INTERFACE, kMethod);
    member.Filter = &filter;
    EXPECT_EQ(Captions(planContextMenu(member).Entries), "&Rename");

    filter.ParamCommands = kShowDelete | kShowCustData;
    ContextMenuState param = Param(kParamCanDelete | kParamInsertRequired);
    param.Filter = &filter;
    EXPECT_EQ(Captions(planContextMenu(param).Entries), "&Delete Parameter, C&ustom Data...");

    // Under the pairing flag, a coclass's default (not source) interface can't be deleted alone.
    filter.ImplTypeCommands = 4 | 8;
    filter.PairCoclasses = 1;
    ContextMenuState implemented = ImplType(10);
    implemented.Filter = &filter;
    implemented.WorkingChangeFlags = 1;
    EXPECT_EQ(Captions(planContextMenu(implemented).Entries), "F&ind Interface, C&ustom Data..., -");
    implemented.WorkingChangeFlags = 3;
    EXPECT_EQ(Captions(planContextMenu(implemented).Entries),
              "F&ind Interface, &Delete Implied Type, C&ustom Data..., -");

    // A record whose filter is off offers everything, whatever its masks hold.
    filter.FilterOn = 0;
    EXPECT_EQ(Captions(planContextMenu(library).Entries),
              "&Add Type, &Internalize Types, E&xternal Types..., &Type Order..., -, C&ustom Data..., &Rename");
    EXPECT_EQ(Submenu(planContextMenu(library), MenuItem::mnuAddType),
              "&alias, &coclass, &dispinterface, &enum, &interface, &module, &record, &union");
}

TEST(ContextMenuPlan, ANodeOfNoKindOpensNothing) {
    const ContextMenuPlan plan = planContextMenu(Node(kNodeNone));
    EXPECT_EQ(plan.Mask, 0);
    EXPECT_TRUE(plan.Entries.empty());
}

// The base lookup over real types: the standard two, one of the library, one of another library.
TEST(ContextMenuPlan, TheBaseLookupTellsTheStandardBasesFromOthers) {
    using namespace testsupport;
    ComPtr<ICreateTypeLib2> shapes = BuildShapes();
    ASSERT_TRUE(shapes);
    auto derived = NewType(shapes.get(), u"IDerived", TKIND_INTERFACE);
    auto onUnknown = NewType(shapes.get(), u"IPlain", TKIND_INTERFACE);
    ComPtr<ITypeLib> lib = AsTypeLib(shapes.get());
    ComPtr<ITypeInfo> shape;
    ASSERT_OK(lib->GetTypeInfo(3, shape.put()));  // IShape : IDispatch
    EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), shape.get())));
    EXPECT_OK(onUnknown->AddImplType(0, RefTo(onUnknown.get(), StdOle2Type(kIID_IUnknown).get())));

    auto other = NewLibrary(u"Other");
    ASSERT_TRUE(other);
    auto font = NewType(other.get(), u"IMyFont", TKIND_INTERFACE);
    ComPtr<ITypeInfo> stdFont = StdOle2Type({0xBEF6E002, 0xA874, 0x101A, {0x8B, 0xBA, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}});
    ASSERT_TRUE(stdFont);
    EXPECT_OK(font->AddImplType(0, RefTo(font.get(), stdFont.get())));

    EXPECT_EQ(FindBaseInterfaceKind(shape.get()), BaseInterfaceKind::Standard);
    EXPECT_EQ(FindBaseInterfaceKind(AsTypeInfo(derived.get()).get()), BaseInterfaceKind::Other);
    EXPECT_EQ(FindBaseInterfaceKind(AsTypeInfo(onUnknown.get()).get()), BaseInterfaceKind::Standard);
    EXPECT_EQ(FindBaseInterfaceKind(AsTypeInfo(font.get()).get()), BaseInterfaceKind::Other);
    ComPtr<ITypeInfo> colors;
    ASSERT_OK(lib->GetTypeInfo(0, colors.put()));  // an enum has no base
    EXPECT_EQ(FindBaseInterfaceKind(colors.get()), BaseInterfaceKind::None);
    EXPECT_EQ(FindBaseInterfaceKind(nullptr), BaseInterfaceKind::None);
}

}  // namespace

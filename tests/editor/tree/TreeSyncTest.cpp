// Keeping the tree's records true after changes: each change is applied to
// the library, the fix-up its notification calls runs, and every record is
// compared with the library as the change left it.
#include "editor/TreeTestSupport.h"

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "editor/tree/TreeSort.h"
#include "editor/tree/TreeSync.h"

namespace treetest {
namespace {

using changestest::ImplTarget;
using changestest::LibraryTarget;
using changestest::MemberTarget;
using changestest::TypeDescOf;
using changestest::TypeTarget;

ComPtr<tli::VarTypeInfo> Desc(ITypeLib* current, ITypeInfo* type) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(current);
    v->SetType(0, typelib_detail::TliTypeInfo(type).get());
    return v->GetVarTypeInfo();
}

class TreeSync : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    void Open(ComPtr<ITypeLib> library) {
        lib = std::move(library);
        view.Attach(lib.get());
        root = AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
        BuildAll(root);
        record = LibraryRecordOf(root);
    }
    void TearDown() override { ClearLibraryTree(&tree); }

    // Applies a change; a regenerated library replaces the edited one, as the view does.
    ChangeTarget Apply(IChange& change, ChangeTarget target) {
        EXPECT_TRUE(change.Apply(view, nullptr, target, nullptr, 0));
        if (target.ReplacementLibrary) {
            lib = target.ReplacementLibrary;
            record->Library = lib;
            view.Attach(lib.get());
        }
        return target;
    }
    QTreeWidgetItem* Node(const char* type) { return Child(root, type); }
    TypeNodeRecord* Type(const char* type) { return TypeRecord(Node(type)); }
    // Removes a type node with its records, as after a deletion.
    void RemoveType(const char* type, bool renumber, int32_t replacement) {
        QTreeWidgetItem* node = Node(type);
        ReleaseChildRecords(node);
        DeleteTypeRecord(*record, Type(type), renumber, replacement, lib.get());
        delete node;
    }

    // Every record against the library: a type record's index names the
    // type its node shows, and its kind and reference are what a fresh read
    // gives; an implemented interface names the type its coclass implements.
    void ExpectRecordsTrue() {
        int types = 0;
        for (TypeNodeRecord* t = record->FirstType; t; t = t->Next, ++types) {
            const std::string name = Utf8(t->Node->text(0));
            ASSERT_LT(static_cast<UINT>(t->TypeIndex), lib->GetTypeInfoCount()) << name;
            EXPECT_EQ(ole::ToUtf8(modITypeInfoHelper::GetTypeInfoName(
                          modITypeInfoHelper::GetInterfaceTypeInfo(lib.get(), static_cast<UINT>(t->TypeIndex)).get())),
                      name);
            const TypeDescription d = DescribeType(lib.get(), t->TypeIndex);
            EXPECT_EQ(t->TypeKind, d.TypeKind) << name;
            EXPECT_EQ(t->RefTypeIndex, d.RefTypeIndex) << name;
            EXPECT_EQ(t->RefFlags & kRefRoleMask, d.BaseReference ? kRefRoleBase : kRefRoleOther) << name;
        }
        EXPECT_EQ(types, root->childCount());
        EXPECT_EQ(static_cast<UINT>(types), lib->GetTypeInfoCount());
        for (ImpliedInterfaceNodeRecord* r = record->FirstImpliedInterface; r; r = r->Next) {
            ComPtr<ITypeInfo> coclass;
            ASSERT_OK(lib->GetTypeInfo(static_cast<UINT>(r->Type->TypeIndex), coclass.put()));
            HREFTYPE href = 0;
            ComPtr<ITypeInfo> implemented;
            ASSERT_OK(coclass->GetRefTypeOfImplType(static_cast<UINT>(r->Number - 1), &href));
            ASSERT_OK(coclass->GetRefTypeInfo(href, implemented.put()));
            EXPECT_EQ(Utf8(r->Node->text(0)), ole::ToUtf8(modITypeInfoHelper::GetTypeInfoName(implemented.get())));
            ComPtr<ITypeLib> holder;
            UINT index = 0;
            ASSERT_OK(implemented->GetContainingTypeLib(holder.put(), &index));
            EXPECT_EQ(r->RefTypeIndex, holder.get() == lib.get() ? static_cast<int32_t>(index) : kRefNone);
        }
    }

    ComPtr<ITypeLib> lib;
    CustomTypeLib view;
    QTreeWidget tree;
    QTreeWidgetItem* root = nullptr;
    LibraryNodeRecord* record = nullptr;
};

TEST_F(TreeSync, DeletingAndReorderingTypesRenumberEveryRecord) {
    Open(AsTypeLib(BuildAllKinds().get()));
    ExpectRecordsTrue();
    // The first type goes: everything above it moves down by one.
    Apply(*modDeleteChange::GetDeleteChange(), TypeTarget(lib.get(), u"Colors"));
    RemoveType("Colors", true, kRefNone);
    ExpectRecordsTrue();
    EXPECT_EQ(Fields(Type("IDerived")), "9 3 8 2");
    EXPECT_EQ(Fields(Type("BaseAlias")), "12 3 8 1");

    // Reversed: each record takes its type's new index, references too.
    auto reorder = modReorderTypesChange::NewReorderTypesChange(false);
    std::vector<int16_t> order;
    for (int16_t i = 13; i >= 0; --i) order.push_back(i);
    reorder->NewOrder(order);
    Apply(*reorder, LibraryTarget(lib.get()));
    const std::vector<int16_t> tooShort(order.begin(), order.end() - 1);
    EXPECT_EQ(ErrorOf([&] { RemapTypeIndexes(*record, tooShort); }), kErrSubscriptOutOfRange);
    EXPECT_EQ(Fields(Type("IDerived")), "9 3 8 2");  // unchanged by the refused order
    RemapTypeIndexes(*record, reorder->NewOrder());
    ExpectRecordsTrue();
    EXPECT_EQ(Fields(Type("IDerived")), "4 3 5 2");
    // Found by the new index.
    EXPECT_EQ(FindTargetNode(&tree, TypeTarget(lib.get(), u"Widget"), kFindKeep), Node("Widget"));
}

TEST_F(TreeSync, ATypeReplacedWithinTheLibraryHasWhatNamedItReadAgain) {
    Open(AsTypeLib(BuildAllKinds().get()));
    for (const char* name : {"IDerived", "BaseAlias"}) Type(name)->RefFlags |= kRefCanFlatten | kRefFlattenTested;
    auto replace = modRedirectTypesChange::NewRedirectTypesChange(false);
    replace->Flags(RedirectTypesChange::kReplaceDefinition);
    replace->SourceVarTypeInfo(TypeDescOf(lib.get(), u"IBase").get());
    replace->DestVarTypeInfo(TypeDescOf(lib.get(), u"IShape").get());
    Apply(*replace, TypeTarget(lib.get(), u"IBase"));
    ASSERT_NE(replace->Flags() & RedirectTypesChange::kSameLibrary, 0);
    // IBase (9) went; what was based on it or aliased it now names IShape (3).
    RemoveType("IBase", true, 3);
    RenameImpliedInterfaceNodes(3, *record, u"IShape");
    ExpectRecordsTrue();
    EXPECT_EQ(Fields(Type("IDerived")), "9 3 3 2");   // flatten test forgotten
    EXPECT_EQ(Fields(Type("BaseAlias")), "12 3 3 1");

    // An implemented interface of a replaced type takes the replacement's index.
    auto events = modRedirectTypesChange::NewRedirectTypesChange(false);
    events->Flags(RedirectTypesChange::kReplaceDefinition);
    events->SourceVarTypeInfo(TypeDescOf(lib.get(), u"DVTable").get());
    events->DestVarTypeInfo(TypeDescOf(lib.get(), u"DShapeEvents").get());
    Apply(*events, TypeTarget(lib.get(), u"DVTable"));
    RemoveType("DVTable", true, 4);
    RenameImpliedInterfaceNodes(4, *record, u"DShapeEvents");
    ExpectRecordsTrue();
    EXPECT_EQ(ChildTexts(Node("Widget")), "IDerived DShapeEvents");
}

TEST_F(TreeSync, RenamingATypeReTextsTheInterfacesThatShowIt) {
    Open(AsTypeLib(BuildAllKinds().get()));
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"IMoved");
    ChangeTarget target = Apply(*rename, TypeTarget(lib.get(), u"IDerived"));
    QTreeWidgetItem* node = FindTargetNode(&tree, target, kFindKeep);
    node->setText(0, "IMoved");
    RenameTypeReferences(node, rename->NewName());
    EXPECT_EQ(ChildTexts(Node("Widget")), "IMoved DVTable");
    ExpectRecordsTrue();
}

// Ext (a file): interface IExt : IUnknown { Ping(); }
// Mine: interface IMine : IExt { Use(); }  typedef IExt ExtAlias;  coclass Thing { IExt; }
class TreeSyncExternal : public TreeSync {
protected:
    void SetUp() override {
        ole::RegisterFileServices();
        const std::u16string file = (dir / "ext.tlb").u16string();
        ComPtr<ICreateTypeLib2> ext = NewLibrary(u"Ext", file);
        EXPECT_OK(ext->SetGuid({0xE7000001, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}));
        auto iext = NewType(ext.get(), u"IExt", TKIND_INTERFACE);
        EXPECT_OK(iext->SetGuid({0xE7000002, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}));
        EXPECT_OK(iext->AddImplType(0, RefTo(iext.get(), StdOle2Type(kIID_IUnknown).get())));
        AddFunc(iext.get(), 0, {.name = u"Ping"});
        EXPECT_OK(iext->LayOut());
        EXPECT_OK(ext->SaveAllChanges());
        ASSERT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, external.put()));
        extType = changestest::TypeNamed(external.get(), u"IExt");

        ComPtr<ICreateTypeLib2> mine = NewLibrary(u"Mine");
        auto imine = NewType(mine.get(), u"IMine", TKIND_INTERFACE);
        auto alias = NewType(mine.get(), u"ExtAlias", TKIND_ALIAS);
        auto thing = NewType(mine.get(), u"Thing", TKIND_COCLASS);
        EXPECT_OK(imine->AddImplType(0, RefTo(imine.get(), extType.get())));
        AddFunc(imine.get(), 0, {.name = u"Use"});
        TYPEDESC aliased = User(RefTo(alias.get(), extType.get()));
        EXPECT_OK(alias->SetTypeDescAlias(&aliased));
        EXPECT_OK(thing->AddImplType(0, RefTo(thing.get(), extType.get())));
        for (auto* t : {imine.get(), alias.get(), thing.get()}) EXPECT_OK(t->LayOut());
        Open(AsTypeLib(mine.get()));
    }
    TempDir dir;
    ComPtr<ITypeLib> external;
    ComPtr<ITypeInfo> extType;
};

TEST_F(TreeSyncExternal, InternalisingTakesTheReferencesInAndDetachingSendsThemOut) {
    EXPECT_EQ(Fields(Type("IMine")), "0 3 -4 2");
    EXPECT_EQ(Fields(Type("ExtAlias")), "1 3 -2 1");
    ExpectRecordsTrue();
    Type("IMine")->RefFlags |= kRefFlattenTested;

    auto take = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    take->VarTypeInfo(Desc(lib.get(), extType.get()).get());
    const UINT before = lib->GetTypeInfoCount();
    Apply(*take, LibraryTarget(lib.get()));
    RefreshExternalReferences(*record, false, false);
    const auto added = AddNewTypeNodes(static_cast<int32_t>(before), static_cast<int32_t>(lib->GetTypeInfoCount()) - 1,
                                       root, true);
    ASSERT_EQ(added.size(), 1u);
    ExpectRecordsTrue();
    EXPECT_EQ(Fields(Type("IMine")), "0 3 3 2");  // flatten test forgotten
    EXPECT_EQ(Fields(Type("ExtAlias")), "1 3 3 1");
    EXPECT_EQ(Fields(Type("IExt")), "3 3 -4 2");

    // References to the taken-in IExt go back out: the alias keeps its kind
    // and is told from the interface by its reference role.
    Type("IMine")->RefFlags |= kRefFlattenTested;
    auto redirect = modRedirectTypesChange::NewRedirectTypesChange(false);
    redirect->SourceVarTypeInfo(TypeDescOf(lib.get(), u"IExt").get());
    redirect->DestVarTypeInfo(Desc(lib.get(), extType.get()).get());
    Apply(*redirect, LibraryTarget(lib.get()));
    DetachTypeReferences(*record, 3, u"IExt");
    ExpectRecordsTrue();
    EXPECT_EQ(Fields(Type("IMine")), "0 3 -4 2");
    EXPECT_EQ(Fields(Type("ExtAlias")), "1 3 -2 1");
    EXPECT_EQ(Utf8(Child(Node("Thing"), "IExt")->text(0)), "IExt");
}

TEST_F(TreeSync, AddedTypesMembersInterfacesAndParametersGetNodesInPlace) {
    Open(AsTypeLib(BuildAllKinds().get()));
    auto addType = modAddTypeChange::NewAddTypeChange(false);
    addType->TypeKind(TKIND_INTERFACE);
    ChangeTarget library = Apply(*addType, LibraryTarget(lib.get()));
    QTreeWidgetItem* added = AddTypeNodeForChange(library, root);
    ASSERT_TRUE(added);
    EXPECT_EQ(Fields(TypeRecord(added)), "15 3 -4 2");
    EXPECT_EQ(NodeImage(added), kImageInterface);

    // A function is sorted in; a property accessor set can be expanded.
    auto addFunc = modAddMemberChange::NewAddMemberChange(false);
    addFunc->InvokeKind(INVOKE_FUNC);
    Apply(*addFunc, TypeTarget(lib.get(), u"IBase"));
    QTreeWidgetItem* func = AddFunctionNodeForChange(Node("IBase"), addFunc->NewMemberName(), addFunc->NewMemberId(),
                                                     INVOKE_FUNC);
    EXPECT_EQ(FindTargetNode(&tree, MemberTarget(lib.get(), u"IBase", addFunc->NewMemberName().c_str()), kFindKeep),
              func);
    EXPECT_EQ(ChildTexts(Node("IBase")), "Alpha Item _Item __Item " + ole::ToUtf8(addFunc->NewMemberName()) +
                                             " _NewEnum Value Zeta");

    // An enum value after the target value; a record field in front when the target is the type.
    auto addVar = modAddMemberChange::NewAddMemberChange(false);
    addVar->InvokeKind(0);
    ChangeTarget red = MemberTarget(lib.get(), u"Colors", u"Red", 0);
    Apply(*addVar, red);
    QTreeWidgetItem* value =
        AddVariableNodeForChange(red, addVar->NewMemberName(), addVar->NewMemberId(), Child(Node("Colors"), "Red"));
    EXPECT_EQ(Node("Colors")->indexOfChild(value), 1);
    EXPECT_EQ(NodeImage(value), kImageConstant);
    auto addField = modAddMemberChange::NewAddMemberChange(false);
    addField->InvokeKind(0);
    ChangeTarget either = Apply(*addField, TypeTarget(lib.get(), u"Either"));
    QTreeWidgetItem* field =
        AddVariableNodeForChange(either, addField->NewMemberName(), addField->NewMemberId(), Node("Either"));
    EXPECT_EQ(Node("Either")->indexOfChild(field), 0);

    // A parameter after the target parameter, and first when the target is the member.
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(0x1000);
    ChangeTarget item = changestest::ParamTarget(lib.get(), u"IBase", u"Item", 0);
    Apply(*insert, item);
    QTreeWidgetItem* itemNode = Child(Node("IBase"), "Item");
    InsertParamNodeForChange(item, insert->NewParamName(), itemNode);
    EXPECT_EQ(ChildTexts(itemNode), "a " + ole::ToUtf8(insert->NewParamName()) + " b");
    ChangeTarget itemMember = MemberTarget(lib.get(), u"IBase", u"Item");
    Apply(*insert, itemMember);
    QTreeWidgetItem* first = InsertParamNodeForChange(itemMember, insert->NewParamName(), itemNode);
    EXPECT_EQ(itemNode->indexOfChild(first), 0);

    // An implemented interface goes last, numbered after the others.
    auto addImpl = modAddImplTypeChange::NewAddImplTypeChange(false);
    addImpl->VarTypeInfo(TypeDescOf(lib.get(), u"IShape").get());
    ChangeTarget widget = Apply(*addImpl, TypeTarget(lib.get(), u"Widget"));
    QTreeWidgetItem* impl = AddImpliedInterfaceNodeForChange(widget, addImpl->VarTypeInfo().get(), Node("Widget"));
    EXPECT_EQ(ChildTexts(Node("Widget")), "IDerived DVTable IShape");
    EXPECT_EQ(static_cast<ImpliedInterfaceNodeRecord*>(NodeTag(impl))->Number, 3);
    ExpectRecordsTrue();
}


TEST_F(TreeSync, IDispatchTakenInOrDefiningATypeInPlaceLeavesTheRecordsTrue) {
    Open(AsTypeLib(BuildAllKinds().get()));
    Type("IDerived")->RefFlags |= kRefCanFlatten | kRefFlattenTested;
    const ComPtr<tli::VarTypeInfo> dispatch = Desc(lib.get(), StdOle2Type(kIID_IDispatch).get());
    // IBase (9) takes IDispatch's definition and keeps its index.
    auto replace = modRedirectTypesChange::NewRedirectTypesChange(false);
    replace->Flags(RedirectTypesChange::kReplaceDefinition);
    replace->SourceVarTypeInfo(TypeDescOf(lib.get(), u"IBase").get());
    replace->DestVarTypeInfo(dispatch.get());
    Apply(*replace, TypeTarget(lib.get(), u"IBase"));
    RemoveType("IBase", false, kRefNone);
    AddNewTypeNodes(9, 9, root, true);
    EXPECT_EQ(Fields(Type("IDerived")), "10 3 9 2");  // its base changed: flatten test forgotten
    // IShape's base is now 9; a dispinterface's stays outside.
    RefreshExternalReferences(*record, false, false);
    ExpectRecordsTrue();
}

TEST_F(TreeSync, SortingChildrenKeepsWhatIsExpandedAndCurrentBelowThem) {
    Open(AsTypeLib(BuildAllKinds().get()));
    QTreeWidgetItem* item = Child(Node("IBase"), "Item");
    for (QTreeWidgetItem* n : {root, Node("IBase"), item}) tree.expandItem(n);
    tree.setCurrentItem(Child(item, "b"));
    root->insertChild(0, root->takeChild(root->indexOfChild(Node("Widget"))));
    SortNodeChildren(root);
    EXPECT_EQ(root->indexOfChild(Node("Widget")), root->childCount() - 1);
    EXPECT_TRUE(item->isExpanded());
    EXPECT_EQ(tree.currentItem(), Child(item, "b"));
}

}  // namespace
}  // namespace treetest

// Building library trees: node kinds, images and records, lazy levels,
// member order, target search, filters and the base types.
#include "editor/TreeTestSupport.h"

#include "changes/ChangesTestSupport.h"
#include "editor/tree/TreeItemAccess.h"
#include "editor/tree/TreeSync.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/modMarbrel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTest>

namespace treetest {
namespace {

using changestest::MemberTarget;
using changestest::ParamTarget;
using changestest::TypeTarget;
using changestest::ImplTarget;
using changestest::LibraryTarget;

class LibraryTree : public ::testing::TestWithParam<Route> {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    void SetUp() override {
        lib = Reach(GetParam(), dir, [](const std::u16string& file) { return BuildAllKinds(file); });
        ASSERT_TRUE(lib);
        root = AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
        ASSERT_TRUE(root);
    }
    void TearDown() override { ClearLibraryTree(&tree); }

    TempDir dir;
    ComPtr<ITypeLib> lib;
    QTreeWidget tree;
    QTreeWidgetItem* root = nullptr;
};

TEST_P(LibraryTree, TypesShowTheirKindReferenceAndImageAndOnlyTypesWithChildrenExpand) {
    EXPECT_EQ(GetNodeKind(root), kNodeLibrary);
    EXPECT_EQ(NodeImage(root), kImageLibrary);
    EXPECT_TRUE(HasPlaceholder(root));
    EXPECT_EQ(GetNodeKind(root->child(0)), kNodeNone);  // the placeholder
    EnsureChildren(root);
    // Sorted with the leading-underscore rule; the records keep library order.
    EXPECT_EQ(Folded(ChildTexts(root)), Folded("BaseAlias Colors DShapeEvents DVTable Either IBase IDerived IShape "
                                               "Kernel LongPtr LongPtrAlias Matrix Shape ShapeAlias Widget"));
    struct Row {
        const char* name;
        const char* fields;  // index kind ref flags
        int16_t image;
        bool expands;
    };
    for (const Row& row : std::initializer_list<Row>{
             {"Colors", "0 0 -1 1", kImageEnum, true},
             {"Kernel", "1 2 -1 1", kImageModule, true},
             {"Matrix", "2 1 -1 1", kImageRecord, true},
             {"IShape", "3 3 -4 2", kImageInterface, true},  // a dual is an interface based outside
             {"DShapeEvents", "4 4 -4 2", kImageDispatch, true},
             {"LongPtr", "5 6 -1 1", 23, false},             // alias of a built-in type
             {"ShapeAlias", "6 3 3 1", 21, false},           // alias of a local interface
             {"LongPtrAlias", "7 6 5 1", 23, false},         // alias of an alias of a built-in type
             {"Shape", "8 5 -1 1", kImageCoclass, true},
             {"IBase", "9 3 -4 2", kImageInterface, true},
             {"IDerived", "10 3 9 2", kImageInterface, true},
             {"DVTable", "11 4 -4 2", kImageVTableDispatch, true},
             {"Either", "12 7 -1 1", kImageRecord, true},
             {"BaseAlias", "13 3 9 1", 21, false},
             {"Widget", "14 5 -1 1", kImageCoclass, true},
         }) {
        QTreeWidgetItem* node = Child(root, row.name);
        ASSERT_TRUE(node) << row.name;
        const TypeNodeRecord* t = TypeRecord(node);
        EXPECT_EQ(Fields(t), row.fields) << row.name;
        EXPECT_EQ(NodeImage(node), row.image) << row.name;
        EXPECT_EQ(HasPlaceholder(node), row.expands) << row.name;
        EXPECT_FALSE(node->icon(0).isNull()) << row.name;
        // Change targets and history replay see the same kind.
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(lib->GetTypeInfo(static_cast<UINT>(t->TypeIndex), ti.put()));
        EXPECT_EQ(t->TypeKind, NodeTypeKind(ti.get())) << row.name;
    }
}

TEST_P(LibraryTree, MembersParametersAndImplementedInterfaces) {
    BuildAll(root);
    // Enum values and fields in declaration order; interface members sorted.
    EXPECT_EQ(ChildTexts(Child(root, "Colors")), "Red Green");
    EXPECT_EQ(ChildTexts(Child(root, "Either")), "a b");
    EXPECT_EQ(ChildTexts(Child(root, "IBase")), "Alpha Item _Item __Item _NewEnum Value Zeta");
    EXPECT_EQ(ChildTexts(Child(root, "IShape")), "Area Early Fill _Hidden Name Sum Zoom");
    EXPECT_EQ(ChildTexts(Child(root, "Kernel")), "Answer Beep ByOrdinal Greeting");
    EXPECT_EQ(ChildTexts(Child(root, "DShapeEvents")), "Clicked Visible");

    const auto member = [&](const char* type, const char* name) {
        NodeRecord* r = nullptr;
        QTreeWidgetItem* node = Child(Child(root, type), name);
        EXPECT_EQ(GetNodeKind(node, r), kNodeMember) << name;
        return std::make_pair(node, static_cast<MemberNodeRecord*>(r));
    };
    struct Row {
        const char* type;
        const char* name;
        int32_t access;
        int16_t image;
        const char* params;
    };
    for (const Row& row : std::initializer_list<Row>{
             {"Colors", "Green", kAccessEnumValue, kImageConstant, ""},
             {"Either", "b", kAccessField, kImageProperty, ""},
             {"Kernel", "Answer", kAccessEnumValue, kImageConstant, ""},
             {"Kernel", "Beep", kAccessFunc | kAccessHasFuncDesc, kImageFunction, "freq"},
             {"DShapeEvents", "Visible", kAccessField, kImageProperty, ""},
             // get and put in one node; parameters from the get.
             {"IShape", "Name", kAccessGet | kAccessPut | kAccessHasFuncDesc, kImageProperty, "name"},
             {"IShape", "Area", kAccessFunc | kAccessHasFuncDesc, kImageFunction, "scale lcid area"},
             {"IBase", "Value", kAccessPut | kAccessHasFuncDesc, kImageProperty, "<New Value>"},
             {"IBase", "Alpha", kAccessFunc | kAccessHasFuncDesc, kImageFunction, ""},
         }) {
        auto [node, record] = member(row.type, row.name);
        ASSERT_TRUE(record) << row.name;
        EXPECT_EQ(record->AccessBits, row.access) << row.name;
        EXPECT_EQ(record->Type, TypeRecord(Child(root, row.type)));
        EXPECT_EQ(NodeImage(node), row.image) << row.name;
        EXPECT_EQ(Folded(ChildTexts(node)), Folded(row.params)) << row.name;
        for (int i = 0; i < node->childCount(); ++i) {
            NodeRecord* p = nullptr;
            EXPECT_EQ(GetNodeKind(node->child(i), p), kNodeParam);
            EXPECT_EQ(p, &ParameterNodeTag());
        }
    }
    // A coclass's interfaces, numbered from 1, source ones with their own image.
    QTreeWidgetItem* widget = Child(root, "Widget");
    EXPECT_EQ(ChildTexts(widget), "IDerived DVTable");
    for (int i = 0; i < 2; ++i) {
        NodeRecord* r = nullptr;
        ASSERT_EQ(GetNodeKind(widget->child(i), r), kNodeImplType);
        auto* impl = static_cast<ImpliedInterfaceNodeRecord*>(r);
        EXPECT_EQ(impl->Number, i + 1);
        EXPECT_EQ(impl->RefTypeIndex, i == 0 ? 10 : 11);
        EXPECT_EQ(NodeImage(widget->child(i)), i == 0 ? kImageInterface : kImageSourceInterface);
    }
}

// A parameter node's position is its place under its member; the option
// masks of the positions come from the interface half of the dual interface,
// which keeps the [lcid] and [retval] parameters.
TEST_P(LibraryTree, ParameterPositionsAndTheirOptionMasks) {
    BuildAll(root);
    QTreeWidgetItem* area = Child(Child(root, "IShape"), "Area");
    NodeRecord* r = nullptr;
    ASSERT_EQ(GetNodeKind(area, r), kNodeMember);
    const auto* member = static_cast<MemberNodeRecord*>(r);
    ASSERT_EQ(area->childCount(), 3);
    const UINT typeIndex = static_cast<UINT>(member->Type->TypeIndex);
    const auto mask = [&](int32_t index) {
        return modMarbrel::GetParamOptionMask(lib.get(), typeIndex, member->MemberId, INVOKE_FUNC, index);
    };
    // Area([in] double scale, [in, lcid] long lcid, [out, retval] double* area)
    const int32_t expected[] = {0x35D80D, 0x100820, 0x100C42};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(GetSiblingIndex(area->child(i)), i);
        EXPECT_EQ(mask(GetSiblingIndex(area->child(i))), expected[i]) << i;
    }
    EXPECT_EQ(mask(-1), 0x101000);
    EXPECT_THROW(modMarbrel::GetParamOptionMask(lib.get(), typeIndex, member->MemberId, INVOKE_PROPERTYGET, 0),
                 ErrorRecord);

    EXPECT_EQ(GetSiblingIndex(root), 0);
    EXPECT_EQ(GetSiblingIndex(nullptr), -1);
    QTreeWidgetItem loose;
    EXPECT_EQ(GetSiblingIndex(&loose), -1);
}

TEST_P(LibraryTree, FindTargetNodeSearchesBuiltLevelsAndBuildsOnlyWhenAsked) {
    const ChangeTarget param = ParamTarget(lib.get(), u"IShape", u"Area", 1);
    const ChangeTarget impl = ImplTarget(lib.get(), u"Widget", 1);
    for (int32_t mode : {kFindKeep, kFindRefresh}) {
        EXPECT_EQ(FindTargetNode(&tree, LibraryTarget(lib.get()), mode), root);
        EXPECT_EQ(FindTargetNode(&tree, param, mode), nullptr);
    }
    EXPECT_TRUE(HasPlaceholder(root));
    QTreeWidgetItem* lcid = FindTargetNode(&tree, param, kFindBuild);
    ASSERT_TRUE(lcid);
    EXPECT_EQ(Utf8(lcid->text(0)), "lcid");
    EXPECT_EQ(Utf8(lcid->parent()->parent()->text(0)), "IShape");
    EXPECT_EQ(HasPlaceholder(Child(root, "Colors")), true);  // only the path was built
    // Built now: every mode finds it.
    EXPECT_EQ(FindTargetNode(&tree, param, kFindKeep), lcid);
    EXPECT_EQ(FindTargetNode(&tree, MemberTarget(lib.get(), u"IShape", u"Area"), kFindKeep), lcid->parent());
    EXPECT_EQ(FindTargetNode(&tree, TypeTarget(lib.get(), u"Widget"), kFindKeep), Child(root, "Widget"));
    EXPECT_EQ(FindTargetNode(&tree, impl, kFindRefresh), nullptr);
    EXPECT_EQ(Utf8(FindTargetNode(&tree, impl, kFindBuild)->text(0)), "DVTable");

    // A member ID the type does not have, and a library not in the tree.
    ChangeTarget missing = MemberTarget(lib.get(), u"IShape", u"Area");
    missing.MemberId = 0x1234;
    EXPECT_EQ(ErrorOf([&] { FindTargetNode(&tree, missing, kFindKeep); }), kErrInvalidArgument);
    EXPECT_EQ(ErrorOf([&] { FindTargetNode(&tree, LibraryTarget(StdOle2().get()), kFindBuild); }),
              kErrInvalidArgument);
}

// Every node below node, one a line: depth, text, record kind, and whether
// it is expanded.
std::string Outline(QTreeWidgetItem* node, int depth = 0) {
    std::string s = std::string(static_cast<size_t>(depth) * 2, ' ') + Utf8(node->text(0)) + " kind " +
                    std::to_string(GetNodeKind(node)) + (node->isExpanded() ? " open" : "") + "\n";
    for (int i = 0; i < node->childCount(); ++i) s += Outline(node->child(i), depth + 1);
    return s;
}

// Expands node and then each node below it that can be expanded, as a user
// would one by one.
void ExpandByHand(QTreeWidgetItem* node) {
    if (node->childCount() > 0) node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i) ExpandByHand(node->child(i));
}

TEST_P(LibraryTree, StarExpandsEverythingBelowAsExpandingByHandDoesUnderTheWaitCursor) {
    ConnectLazyFilling(&tree, [](const ErrorRecord& e) { ADD_FAILURE() << e.Number; });
    QTreeWidget hand;
    ConnectLazyFilling(&hand, nullptr);
    QTreeWidgetItem* handRoot = AddLibraryNode(&hand, lib.get(), nullptr, 0, true);
    ExpandByHand(handRoot);
    const std::string expected = Outline(handRoot);
    ASSERT_NE(expected.find("  IDerived kind 2 open\n    Go kind 8 open\n      speed"), std::string::npos) << expected;

    int expansions = 0, underWait = 0;
    QObject::connect(&tree, &QTreeWidget::itemExpanded, [&] {
        ++expansions;
        const QCursor* cursor = QGuiApplication::overrideCursor();
        underWait += cursor && cursor->shape() == Qt::WaitCursor;
    });
    tree.resize(400, 300);
    tree.show();
    // A type first, with the plain key: its subtree only.
    root->setExpanded(true);
    tree.setCurrentItem(Child(root, "IDerived"));
    QTest::keyClick(&tree, Qt::Key_Asterisk);
    EXPECT_TRUE(Child(Child(root, "IDerived"), "Go")->isExpanded());
    EXPECT_FALSE(Child(root, "IBase")->isExpanded());
    EXPECT_TRUE(HasPlaceholder(Child(root, "IBase")));
    // Then the keypad's on the root: everything.
    tree.setCurrentItem(root);
    QTest::keyClick(&tree, Qt::Key_Asterisk, Qt::KeypadModifier);
    EXPECT_EQ(Outline(root), expected);
    EXPECT_GT(expansions, 10);
    EXPECT_EQ(underWait, expansions - 1);  // all but the root's own, by hand above
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(tree.currentItem(), root);
    ClearLibraryTree(&hand);
}

INSTANTIATE_TEST_SUITE_P(Routes, LibraryTree, ::testing::Values(Route::Created, Route::Loaded), RouteName);

class TreeFilters : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    void TearDown() override { ClearLibraryTree(&tree); }
    QTreeWidget tree;
};

TEST_F(TreeFilters, KindWordsSelectTypesAndTheBaseTypesListIUnknownThenIDispatch) {
    ComPtr<ITypeLib> lib = AsTypeLib(BuildAllKinds().get());
    struct Row {
        int32_t flags;
        const char* types;
    };
    for (const Row& row : std::initializer_list<Row>{
             {kLibInterfaces, "IBase IDerived IShape"},
             {kLibInterfacesAndDispatch, "DShapeEvents DVTable IBase IDerived IShape"},
             {WantedKindFilter(TKIND_ENUM), "Colors"},
             {WantedKindFilter(TKIND_INTERFACE), "IBase IDerived IShape"},
             {WantedKindFilter(TKIND_INTERFACE) | kLibAliasesOfWantedKind,
              "BaseAlias IBase IDerived IShape ShapeAlias"},
             {kLibReferable, "BaseAlias Colors DShapeEvents DVTable IBase IDerived IShape Shape ShapeAlias Widget"},
             {kLibAllButModules, "BaseAlias Colors DShapeEvents DVTable Either IBase IDerived IShape LongPtr "
                                 "LongPtrAlias Matrix Shape ShapeAlias Widget"},
             {WantedKindFilter(TKIND_MODULE) | kLibAliasesOfWantedKind, "Kernel"},
             {WantedKindFilter(TKIND_ALIAS), "BaseAlias LongPtr LongPtrAlias ShapeAlias"},
         }) {
        QTreeWidgetItem* node = AddLibraryNode(&tree, lib.get(), nullptr, row.flags, false);
        ASSERT_TRUE(node);
        EXPECT_EQ(LibraryRecordOf(node)->KindWord, row.flags | kNodeLibrary);
        FillLibraryNode(node, false);
        EXPECT_EQ(ChildTexts(node), row.types) << row.flags;
        EXPECT_FALSE(HasPlaceholder(node->child(0)));  // not lazy
    }
    // A library without types: only a lazy tree shows it, without placeholder.
    ComPtr<ITypeLib> empty = AsTypeLib(NewLibrary(u"Empty").get());
    EXPECT_EQ(AddLibraryNode(&tree, empty.get(), nullptr, 0, false), nullptr);
    QTreeWidgetItem* lazy = AddLibraryNode(&tree, empty.get(), nullptr, 0, true);
    ASSERT_TRUE(lazy);
    EXPECT_EQ(lazy->childCount(), 0);

    QTreeWidgetItem* base = AddBaseTypesNode(&tree);
    EXPECT_EQ(Utf8(base->text(0)), "Standard Base Types");
    EXPECT_EQ(NodeImage(base), kImageIntrinsicAlias);
    const LibraryNodeRecord* record = LibraryRecordOf(base);
    EXPECT_EQ(record->KindWord, 33);
    EXPECT_EQ(record->Kind(), kNodeLibrary);
    EXPECT_FALSE(record->EditableLibrary);
    EnsureChildren(base);
    EXPECT_EQ(ChildTexts(base), "IUnknown IDispatch");
    for (int i = 0; i < 2; ++i) {
        const TypeNodeRecord* t = TypeRecord(base->child(i));
        EXPECT_EQ(NodeImage(base->child(i)), kImageInterface);
        EXPECT_EQ(t->TypeKind, TKIND_INTERFACE);
        EXPECT_EQ(t->RefTypeIndex, kRefNone);
        EXPECT_EQ(t->RefFlags, kRefRoleOther);
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(record->Library->GetTypeInfo(static_cast<UINT>(t->TypeIndex), ti.put()));
        BSTR name = nullptr;
        ASSERT_OK(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
        EXPECT_EQ(ole::ToUtf8(typelib_detail::TakeBstr(name)), Utf8(base->child(i)->text(0)));
    }
}

TEST_F(TreeFilters, AFailingExpansionReportsTheErrorAndLeavesTheNodeToTryAgain) {
    ComPtr<ITypeLib> lib = AsTypeLib(BuildShapes().get());
    std::vector<int32_t> errors;
    ConnectLazyFilling(&tree, [&](const ErrorRecord& e) { errors.push_back(e.Number); });
    QTreeWidgetItem* root = AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
    root->setExpanded(true);
    QTreeWidgetItem* colors = Child(root, "Colors");
    // The record now names a library without that type.
    LibraryRecordOf(root)->Library = AsTypeLib(NewLibrary(u"Empty").get());
    colors->setExpanded(true);
    EXPECT_EQ(errors, std::vector<int32_t>{TYPE_E_ELEMENTNOTFOUND});
    EXPECT_FALSE(colors->isExpanded());
    EXPECT_TRUE(HasPlaceholder(colors));
    LibraryRecordOf(root)->Library = lib;
    colors->setExpanded(true);
    EXPECT_EQ(ChildTexts(colors), "Red Green");
}

TEST_F(TreeFilters, ClearingSeveralLibrariesFreesEveryRecordAndForgetsTheTags) {
    ComPtr<ITypeLib> first = AsTypeLib(BuildAllKinds().get());
    ComPtr<ITypeLib> second = AsTypeLib(BuildShapes().get());
    std::vector<QTreeWidgetItem*> roots{AddLibraryNode(&tree, first.get(), nullptr, 0, true),
                                        AddLibraryNode(&tree, second.get(), nullptr, 0, true), AddBaseTypesNode(&tree)};
    // Expanding builds a level; nodes and model indexes map both ways.
    ConnectLazyFilling(&tree, nullptr);
    roots[0]->setExpanded(true);
    ASSERT_FALSE(HasPlaceholder(roots[0]));
    QTreeWidgetItem* colors = Child(roots[0], "Colors");
    colors->setExpanded(true);
    const QModelIndex green = GetIndexFromNode(&tree, Child(colors, "Green"));
    EXPECT_EQ(green.data().toString(), "Green");
    EXPECT_EQ(GetNodeFromIndex(&tree, green), Child(colors, "Green"));
    EXPECT_EQ(GetNodeFromIndex(&tree, QModelIndex()), nullptr);
    QTreeWidget other;
    EXPECT_FALSE(GetIndexFromNode(&other, colors).isValid());
    for (QTreeWidgetItem* r : roots) BuildAll(r);
    // The view lets go of its current node while the records are still there.
    int32_t leaving = -1;
    QObject::connect(&tree, &QTreeWidget::currentItemChanged,
                     [&](QTreeWidgetItem*, QTreeWidgetItem* before) { leaving = GetNodeKind(before); });
    tree.setCurrentItem(Child(Child(roots[0], "Widget"), "DVTable"));
    ClearLibraryTree(&tree);
    EXPECT_EQ(leaving, kNodeImplType);
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    ClearLibraryTree(&tree);  // an empty tree: nothing to do
    // AddressSanitizer reports any record left behind.
}

// A type that fails to build leaves the rest of the expansion alone: it stays
// collapsed and expandable, and its error is reported once.
TEST_F(TreeFilters, StarLeavesALevelThatFailsToBuildCollapsedAndReportsTheFirstErrorOnce) {
    ComPtr<ITypeLib> lib = AsTypeLib(BuildShapes().get());
    std::vector<int32_t> errors;
    ConnectLazyFilling(&tree, [&](const ErrorRecord& e) { errors.push_back(e.Number); });
    QTreeWidgetItem* root = AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
    root->setExpanded(true);
    // The record now names a library without those types.
    LibraryRecordOf(root)->Library = AsTypeLib(NewLibrary(u"Empty").get());
    tree.setCurrentItem(root);
    QTest::keyClick(&tree, Qt::Key_Asterisk, Qt::KeypadModifier);
    EXPECT_EQ(errors, std::vector<int32_t>{TYPE_E_ELEMENTNOTFOUND});
    EXPECT_TRUE(root->isExpanded());
    QTreeWidgetItem* colors = Child(root, "Colors");
    EXPECT_FALSE(colors->isExpanded());
    EXPECT_TRUE(HasPlaceholder(colors));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    LibraryRecordOf(root)->Library = lib;
    QTest::keyClick(&tree, Qt::Key_Asterisk);
    EXPECT_TRUE(colors->isExpanded());
    EXPECT_EQ(ChildTexts(colors), "Red Green");
    EXPECT_EQ(errors.size(), 1u);
}

}  // namespace
}  // namespace treetest

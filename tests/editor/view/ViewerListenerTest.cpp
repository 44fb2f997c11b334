// The library editor view as a listener: every kind of change applied at the
// hub by someone else (no window shown), at display levels 0, 1 and 2. After
// each, the tree and its records must be what a tree freshly built from the
// library shows, the selection where the level puts it, and the panes filled
// from live nodes.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QCoreApplication>
#include <QLineEdit>

#include <functional>
#include <set>

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/ImplTypeChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/TreeSync.h"
#include "regen/IExternalTypeRedirection.h"

namespace treetest {
namespace {

using changestest::ImplTarget;
using changestest::LibraryTarget;
using changestest::MemberTarget;
using changestest::ParamTarget;
using changestest::TypeDescOf;
using changestest::TypeTarget;

std::filesystem::path UnresolvedForm() {
    return std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb";
}

ComPtr<ITypeLib> LoadForm(const std::filesystem::path& file) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLib(ole::FromUtf8(file.string()).c_str(), lib.put()));
    return lib;
}

ComPtr<tli::VarTypeInfo> Desc(ITypeLib* current, ITypeInfo* type) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(current);
    v->SetType(0, typelib_detail::TliTypeInfo(type).get());
    return v->GetVarTypeInfo();
}

// "children" of a node: none, not built yet (placeholder), or built.
const char* ChildState(QTreeWidgetItem* node) {
    if (node->childCount() == 0) return "none";
    return HasPlaceholder(node) ? "lazy" : "built";
}

// One line per node: its text, image and record; the children follow where
// shape (the view's node at the same place) has them built, so that a fresh
// tree is built exactly as far as the view's.
void DumpNode(QTreeWidgetItem* node, QTreeWidgetItem* shape, int depth, std::string& out) {
    if (shape && std::string(ChildState(shape)) == "built") EnsureChildren(node);
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + Utf8(node->text(0)) + " img " +
           std::to_string(NodeImage(node)) + " " + ChildState(node);
    NodeRecord* record = nullptr;
    switch (GetNodeKind(node, record)) {
    case kNodeType: {
        auto* t = static_cast<TypeNodeRecord*>(record);
        out += " type " + std::to_string(t->TypeIndex) + " " + std::to_string(t->TypeKind) + " " +
               std::to_string(t->RefTypeIndex) + " " + std::to_string(t->RefFlags & kRefRoleMask);
        break;
    }
    case kNodeImplType: {
        auto* r = static_cast<ImpliedInterfaceNodeRecord*>(record);
        out += " impl " + std::to_string(r->Number) + " " + std::to_string(r->RefTypeIndex);
        break;
    }
    case kNodeMember: {
        auto* m = static_cast<MemberNodeRecord*>(record);
        out += " member " + std::to_string(m->MemberId) + " " + std::to_string(m->AccessBits);
        break;
    }
    case kNodeParam: out += " param"; break;
    case kNodeLibrary: out += " library"; break;
    default: out += " ?"; break;
    }
    out += "\n";
    if (std::string(ChildState(node)) != "built") return;
    for (int i = 0; i < node->childCount(); ++i)
        DumpNode(node->child(i), shape && i < shape->childCount() ? shape->child(i) : nullptr, depth + 1, out);
}

// The lines where two dumps differ, as "view | fresh" pairs.
std::string LinesThatDiffer(const std::string& mine, const std::string& theirs) {
    const QStringList a = QString::fromStdString(mine).split('\n');
    const QStringList b = QString::fromStdString(theirs).split('\n');
    std::string out;
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QString x = i < a.size() ? a[i] : QStringLiteral("<none>");
        const QString y = i < b.size() ? b[i] : QStringLiteral("<none>");
        if (x != y) out += x.toStdString() + " | " + y.toStdString() + "\n";
    }
    return out;
}

class ViewerListener : public ::testing::Test {
public:
    static void SetUpTestSuite() { EnsureApp(); }
    ViewerListener() : scoped(services) {}

    // A new view on the hub showing the sample library, every level built or
    // only the type level.
    void Open(bool buildAll = true) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
        if (buildAll) BuildAll(Root());
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Selected() { return view->Tree()->currentItem(); }
    // The node at path ("Type/Member/Param"; "" is the library), built on the way.
    QTreeWidgetItem* At(const std::string& path) {
        QTreeWidgetItem* node = Root();
        for (const QString& part : QString::fromStdString(path).split('/', Qt::SkipEmptyParts)) {
            if (!node) return nullptr;
            EnsureChildren(node);
            node = Child(node, part.toUtf8().constData());
        }
        return node;
    }
    // The path of node, as At takes it.
    std::string PathOf(QTreeWidgetItem* node) {
        std::string path;
        for (; node && node->parent(); node = node->parent())
            path = Utf8(node->text(0)) + (path.empty() ? "" : "/") + path;
        return node ? path : "<none>";
    }
    bool InTree(QTreeWidgetItem* node) {
        for (QTreeWidgetItemIterator it(view->Tree()); *it; ++it)
            if (*it == node) return true;
        return false;
    }

    // The view's tree against one built afresh from the library it edits,
    // and the records' lists against the nodes.
    // tolerated: diff lines holding this text are let pass.
    void ExpectTreeTrue(const std::string& label, const char* tolerated = nullptr) {
        SCOPED_TRACE(label);
        ASSERT_EQ(view->Tree()->topLevelItemCount(), 1);
        LibraryNodeRecord* record = LibraryRecordOf(Root());
        ASSERT_TRUE(record);
        EXPECT_TRUE(changestest::Edits(*record->EditableLibrary, record->Library.get()))
            << "the records read another library than the one edited";
        QTreeWidget fresh;
        SetUpLibraryTree(&fresh);
        QTreeWidgetItem* freshRoot = AddLibraryNode(&fresh, record->Library.get(), nullptr, 0, true);
        std::string mine, theirs;
        DumpNode(Root(), nullptr, 0, mine);
        DumpNode(freshRoot, Root(), 0, theirs);
        std::string differ = LinesThatDiffer(mine, theirs);
        if (tolerated) {
            QStringList kept = QString::fromStdString(differ).split('\n', Qt::SkipEmptyParts);
            kept.removeIf([&](const QString& line) { return line.contains(QString::fromUtf8(tolerated)); });
            differ = kept.join('\n').toStdString();
        }
        EXPECT_EQ(differ, "");
        ClearLibraryTree(&fresh);

        int types = 0;
        for (TypeNodeRecord* t = record->FirstType; t; t = t->Next, ++types) {
            ASSERT_TRUE(InTree(t->Node));
            EXPECT_EQ(NodeTag(t->Node), t);
            EXPECT_EQ(t->Node->parent(), Root());
        }
        EXPECT_EQ(types, Root()->childCount());
        for (ImpliedInterfaceNodeRecord* r = record->FirstImpliedInterface; r; r = r->Next) {
            ASSERT_TRUE(InTree(r->Node));
            EXPECT_EQ(NodeTag(r->Node), r);
        }
        if (Selected()) {
            EXPECT_TRUE(InTree(Selected()));
        }
        if (view->ShownNode()) {
            EXPECT_TRUE(InTree(view->ShownNode()));
        }
        if (view->DeferredSortNode()) {
            EXPECT_TRUE(InTree(view->DeferredSortNode()));
        }
        EXPECT_FALSE(view->InEditMode());
    }

    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
};

// A change of each kind, the item selected before it, and where the selection
// is after it at levels 0, 1 and 2 (a path; "" the library; null: not checked).
struct Row {
    const char* name;
    std::function<ChangePtr(ITypeLib*)> make;
    std::function<ChangeTarget(ITypeLib*)> target;
    const char* before;
    const char* after[3];
    // Further checks after the change, with the level.
    std::function<void(ViewerListener&, IChange&, int32_t)> check = {};
    // Text of tree lines allowed to differ from a fresh tree (see the row).
    const char* tolerated = nullptr;
};

template <class C>
std::function<ChangePtr(ITypeLib*)> Made(std::function<std::shared_ptr<C>()> create,
                                         std::function<void(C&, ITypeLib*)> set) {
    return [=](ITypeLib* lib) -> ChangePtr {
        std::shared_ptr<C> c = create();
        set(*c, lib);
        return c;
    };
}

// An attribute change holding the target's values, then edited.
std::function<ChangePtr(ITypeLib*)> Attribute(std::function<std::shared_ptr<IAttributeChange>()> create,
                                              std::function<ChangeTarget(ITypeLib*)> target,
                                              std::function<void(IAttributeChange&, ITypeLib*)> set) {
    return [=](ITypeLib* lib) -> ChangePtr {
        std::shared_ptr<IAttributeChange> c = create();
        ChangeTarget t = target(lib);
        c->InitFromTarget(t);
        set(*c, lib);
        return c;
    };
}

std::function<ChangePtr(ITypeLib*)> Shared(ChangePtr (*get)()) {
    return [=](ITypeLib*) { return get(); };
}

std::function<ChangeTarget(ITypeLib*)> OnLib() {
    return [](ITypeLib* lib) { return LibraryTarget(lib); };
}
std::function<ChangeTarget(ITypeLib*)> OnType(const char16_t* type) {
    return [=](ITypeLib* lib) { return TypeTarget(lib, type); };
}
std::function<ChangeTarget(ITypeLib*)> OnMember(const char16_t* type, const char16_t* member,
                                                int32_t invokeKind = INVOKE_FUNC) {
    return [=](ITypeLib* lib) { return MemberTarget(lib, type, member, invokeKind); };
}
std::function<ChangeTarget(ITypeLib*)> OnParam(const char16_t* type, const char16_t* member, int16_t index) {
    return [=](ITypeLib* lib) { return ParamTarget(lib, type, member, index); };
}
std::function<ChangeTarget(ITypeLib*)> OnImpl(const char16_t* coclass, int32_t index) {
    return [=](ITypeLib* lib) { return ImplTarget(lib, coclass, index); };
}

// The selection at level 2 is the node the change added, named by the change.
template <class C>
std::function<void(ViewerListener&, IChange&, int32_t)> SelectsAdded(std::u16string (*name)(C&)) {
    return [=](ViewerListener& t, IChange& change, int32_t level) {
        if (level != 2) return;
        ASSERT_TRUE(t.Selected());
        EXPECT_EQ(t.Selected()->text(0).toStdU16String(), name(static_cast<C&>(change)));
        EXPECT_EQ(t.view->ShownNode(), t.Selected());
    };
}

std::vector<Row> Rows() {
    const std::vector<Row> rows = {
        {"library attributes", Attribute(modLibChange::NewLibChange, OnLib(), [](auto& c, ITypeLib*) { c.Lcid(0x407); }),
         OnLib(), "Widget", {"Widget", "Widget", ""}},
        {"alias retargeted to an intrinsic type",
         Attribute([] { return modTypeChange::NewTypeChange(false); }, OnType(u"BaseAlias"),
                   [](auto& c, ITypeLib*) {
                       ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
                       v->SetType(VT_I4, nullptr);
                       c.VarTypeInfo(v.get());
                   }),
         OnType(u"BaseAlias"), "Colors", {"Colors", "Colors", "BaseAlias"},
         [](ViewerListener& t, IChange&, int32_t) {
             EXPECT_EQ(NodeImage(t.At("BaseAlias")), kImageIntrinsicAlias + kImageAliasOverlay);
         }},
        {"interface given another base",
         Attribute([] { return modTypeChange::NewTypeChange(false); }, OnType(u"IDerived"),
                   [](auto& c, ITypeLib* lib) {
                       ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
                       v->CurrentITypeLib(lib);
                       v->Duplicate(TypeDescOf(lib, u"IShape").get());
                       c.VarTypeInfo(v.get());
                   }),
         OnType(u"IDerived"), "Widget", {"Widget", "Widget", "IDerived"}},
        {"interface base taken away",
         Attribute([] { return modTypeChange::NewTypeChange(false); }, OnType(u"IDerived"),
                   [](auto& c, ITypeLib*) { c.VarTypeInfo(nullptr); }),
         OnType(u"IDerived"), "IDerived/Go", {"IDerived/Go", "IDerived/Go", "IDerived"}},
        {"alias of an interface retargeted to an enum",
         Attribute([] { return modTypeChange::NewTypeChange(false); }, OnType(u"ShapeAlias"),
                   [](auto& c, ITypeLib* lib) {
                       ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
                       v->CurrentITypeLib(lib);
                       v->Duplicate(TypeDescOf(lib, u"Colors").get());
                       c.VarTypeInfo(v.get());
                   }),
         OnType(u"ShapeAlias"), "ShapeAlias", {"ShapeAlias", "ShapeAlias", "ShapeAlias"},
         [](ViewerListener& t, IChange&, int32_t) {
             EXPECT_EQ(NodeImage(t.At("ShapeAlias")), kImageEnum + kImageAliasOverlay);
         }},
        {"dual flag taken off (regenerates)",
         Attribute([] { return modTypeChange::NewTypeChange(false); }, OnType(u"IShape"),
                   [](auto& c, ITypeLib*) { c.SetFlags(TYPEFLAG_FDUAL, false); }),
         OnType(u"IShape"), "IShape/Area", {"IShape/Area", "IShape/Area", "IShape"}},
        {"implemented interface flags",
         Attribute([] { return modImplTypeChange::NewImplTypeChange(false); }, OnImpl(u"Widget", 1),
                   [](auto& c, ITypeLib*) { c.Flags(IMPLTYPEFLAG_FDEFAULT); }),
         OnImpl(u"Widget", 1), "Widget/IDerived", {"Widget/IDerived", "Widget/IDerived", "Widget/DVTable"}},
        {"implemented interface replaced",
         Attribute([] { return modImplTypeChange::NewImplTypeChange(false); }, OnImpl(u"Widget", 0),
                   [](auto& c, ITypeLib* lib) {
                       ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
                       v->CurrentITypeLib(lib);
                       v->Duplicate(TypeDescOf(lib, u"IShape").get());
                       c.VarTypeInfo(v.get());
                   }),
         OnImpl(u"Widget", 0), "Colors", {"Colors", "Colors", "Widget/IShape"}},
        {"member ID",
         Attribute([] { return modMemberChange::NewMemberChange(false); }, OnMember(u"IBase", u"Alpha"),
                   [](auto& c, ITypeLib*) { c.MemberId(0x99); }),
         OnMember(u"IBase", u"Alpha"), "IBase/Zeta", {"IBase/Zeta", "IBase/Zeta", "IBase/Alpha"}},
        {"parameter default value",
         Attribute([] { return modParamChange::NewParamChange(false); }, OnParam(u"IShape", u"Fill", 0),
                   [](auto& c, ITypeLib*) { c.Value(ole::Variant(int32_t{9})); }),
         OnParam(u"IShape", u"Fill", 0), "IShape/Area", {"IShape/Area", "IShape/Area", "IShape/Fill/count"}},
        {"selected member deleted", Shared(modDeleteChange::GetDeleteChange), OnMember(u"IBase", u"Alpha"),
         "IBase/Alpha", {"IBase/Item", "IBase/Item", "IBase/Item"}},
        {"last member of a type deleted", Shared(modDeleteChange::GetDeleteChange), OnMember(u"IDerived", u"Go"),
         "IDerived/Go", {"IDerived", "IDerived", "IDerived"}},
        {"type deleted elsewhere", Shared(modDeleteChange::GetDeleteChange), OnType(u"Either"), "Widget",
         {"Widget", "Widget", "DVTable"}},
        {"get accessor of a property deleted", Shared(modDeleteChange::GetDeleteChange),
         OnMember(u"IShape", u"Name", INVOKE_PROPERTYGET), "IShape/Name", {"IShape/Name", "IShape/Name", "IShape/Name"},
         [](ViewerListener& t, IChange&, int32_t) {
             QTreeWidgetItem* name = t.At("IShape/Name");
             ASSERT_TRUE(name);
             EXPECT_EQ(t.view->ShownNode(), name);
         }},
        {"implemented interface deleted", Shared(modDeleteChange::GetDeleteChange), OnImpl(u"Widget", 1),
         "Widget/DVTable", {"Widget/IDerived", "Widget/IDerived", "Widget/IDerived"}},
        {"parameter deleted", Shared(modDeleteChange::GetDeleteChange), OnParam(u"IBase", u"Item", 1), "Colors",
         {"Colors", "Colors", "IBase/Item/a"}},
        {"param array removed", Shared(modRemoveParamArrayChange::GetRemoveParamArrayChange), OnMember(u"IShape", u"Sum"),
         "IShape/Sum", {"IShape/Sum", "IShape/Sum", "IShape/Sum"}},
        {"interface renamed", Made<RenameChange>([] { return modRenameChange::NewRenameChange(false); },
                                                  [](RenameChange& c, ITypeLib*) { c.NewName(u"IMoved"); }),
         OnType(u"IDerived"), "Colors", {"Colors", "Colors", "IMoved"},
         [](ViewerListener& t, IChange&, int32_t) {
             EXPECT_TRUE(t.At("Widget/IMoved"));
             EXPECT_FALSE(t.At("Widget/IDerived"));
         }},
        {"method renamed", Made<RenameChange>([] { return modRenameChange::NewRenameChange(false); },
                                               [](RenameChange& c, ITypeLib*) { c.NewName(u"Aardvark"); }),
         OnMember(u"IBase", u"Zeta"), "IBase/Zeta", {"IBase/Aardvark", "IBase/Aardvark", "IBase/Aardvark"}},
        {"enum value renamed", Made<RenameChange>([] { return modRenameChange::NewRenameChange(false); },
                                                   [](RenameChange& c, ITypeLib*) { c.NewName(u"Zed"); }),
         OnMember(u"Colors", u"Red", 0), "Colors/Red", {"Colors/Zed", "Colors/Zed", "Colors/Zed"}},
        {"interface flattened", Shared(modFlattenChange::GetFlattenChange), OnType(u"IDerived"), "IDerived/Go",
         {"IDerived", "IDerived", "IDerived"}},
        {"automatic IDs reset", Shared(modResetIDsChange::GetResetAutomaticIDsChange), OnType(u"IBase"), "IBase/Alpha",
         {"IBase", "IBase", "IBase"}},
        {"all IDs reset", Shared(modResetIDsChange::GetResetAllIDsChange), OnType(u"DVTable"), "Widget",
         {"Widget", "Widget", "DVTable"}},
        {"vtable reordered",
         Made<ReorderVTableChange>([] { return modReorderVTableChange::NewReorderVTableChange(false); },
                                   [](ReorderVTableChange& c, ITypeLib*) {
                                       c.Offsets({28, 32, 36, 40, 44, 48, 52, 56});
                                   }),
         OnType(u"IShape"), "Colors", {"Colors", "Colors", "IShape"}},
        {"fields reordered", Made<ReorderVarsChange>([] { return modReorderVarsChange::NewReorderVarsChange(false); },
                                                     [](ReorderVarsChange& c, ITypeLib*) { c.NewOrder({1, 0, 2, 3, 4}); }),
         OnType(u"Matrix"), "Matrix/cells", {"Matrix", "Matrix", "Matrix"}},
        {"implemented interface added",
         Made<AddImplTypeChange>([] { return modAddImplTypeChange::NewAddImplTypeChange(false); },
                                 [](AddImplTypeChange& c, ITypeLib* lib) {
                                     c.VarTypeInfo(TypeDescOf(lib, u"IShape").get());
                                 }),
         OnType(u"Widget"), "Widget", {"Widget", "Widget", "Widget/IShape"}},
        {"type added", Made<AddTypeChange>([] { return modAddTypeChange::NewAddTypeChange(false); },
                                           [](AddTypeChange& c, ITypeLib*) { c.TypeKind(TKIND_ENUM); }),
         OnLib(), "Widget", {"Widget", "Widget", nullptr},
         [](ViewerListener& t, IChange&, int32_t level) {
             if (level != 2) return;
             ASSERT_TRUE(TypeRecord(t.Selected()));
             EXPECT_EQ(TypeRecord(t.Selected())->TypeKind, TKIND_ENUM);
         }},
        {"parameter inserted", Made<InsertParamChange>([] { return modInsertParamChange::NewInsertParamChange(false); },
                                                       [](InsertParamChange& c, ITypeLib*) {
                                                           c.ParamForm(InsertParamChange::kRequired);
                                                       }),
         OnParam(u"IBase", u"Item", 0), "Colors", {"Colors", "Colors", nullptr},
         SelectsAdded<InsertParamChange>([](InsertParamChange& c) { return c.NewParamName(); })},
        {"method added", Made<AddMemberChange>([] { return modAddMemberChange::NewAddMemberChange(false); },
                                               [](AddMemberChange& c, ITypeLib*) { c.InvokeKind(INVOKE_FUNC); }),
         OnType(u"IBase"), "Colors", {"Colors", "Colors", nullptr},
         SelectsAdded<AddMemberChange>([](AddMemberChange& c) { return c.NewMemberName(); })},
        {"enum value added", Made<AddMemberChange>([] { return modAddMemberChange::NewAddMemberChange(false); },
                                                   [](AddMemberChange& c, ITypeLib*) { c.InvokeKind(0); }),
         OnMember(u"Colors", u"Red", 0), "Colors", {"Colors", "Colors", nullptr},
         SelectsAdded<AddMemberChange>([](AddMemberChange& c) { return c.NewMemberName(); })},
        {"get accessor added to a put-only property",
         Made<AddMemberChange>([] { return modAddMemberChange::NewAddMemberChange(false); },
                               [](AddMemberChange& c, ITypeLib*) { c.InvokeKind(INVOKE_PROPERTYGET); }),
         OnMember(u"IBase", u"Value", INVOKE_PROPERTYPUT), "IBase/Value", {"IBase/Value", "IBase/Value", "IBase/Value"},
         [](ViewerListener& t, IChange&, int32_t) {
             QTreeWidgetItem* value = t.At("IBase/Value");
             ASSERT_TRUE(value);
             EXPECT_EQ(Utf8(value->child(value->childCount() - 1)->text(0)), "retVal");
             EXPECT_EQ(static_cast<MemberNodeRecord*>(NodeTag(value))->AccessBits & 14, 6);
         },
         // The view names the value "retVal" as the new get accessor does; a
         // fresh tree reads the names by member ID, which gives the put's.
         "retVal img 14"},
        {"types taken in from a library with unresolved imports",
         Made<InternalizeTypesChange>([] { return modInternalizeTypesChange::NewInternalizeTypesChange(false); },
                                      [](InternalizeTypesChange& c, ITypeLib* lib) {
                                          const ComPtr<ITypeLib> form = LoadForm(UnresolvedForm());
                                          c.Flags(InternalizeTypesChange::kAllTypes);
                                          c.VarTypeInfo(
                                              Desc(lib, changestest::TypeNamed(form.get(), u"IStays").get()).get());
                                      }),
         OnLib(), "Widget", {"Widget", "Widget", ""},
         [](ViewerListener& t, IChange&, int32_t) {
             EXPECT_TRUE(t.view->UnresolvedTypes());
             EXPECT_TRUE(t.At("IStays"));
         }},
        {"references redirected within the library",
         Made<RedirectTypesChange>([] { return modRedirectTypesChange::NewRedirectTypesChange(false); },
                                   [](RedirectTypesChange& c, ITypeLib* lib) {
                                       c.SourceVarTypeInfo(TypeDescOf(lib, u"IBase").get());
                                       c.DestVarTypeInfo(TypeDescOf(lib, u"IShape").get());
                                   }),
         OnLib(), "Widget", {"Widget", "Widget", ""}},
        {"definition replaced by another type of the library",
         Made<RedirectTypesChange>([] { return modRedirectTypesChange::NewRedirectTypesChange(false); },
                                   [](RedirectTypesChange& c, ITypeLib* lib) {
                                       c.Flags(RedirectTypesChange::kReplaceDefinition);
                                       c.SourceVarTypeInfo(TypeDescOf(lib, u"IBase").get());
                                       c.DestVarTypeInfo(TypeDescOf(lib, u"IShape").get());
                                   }),
         OnType(u"IBase"), "Widget", {"Widget", "Widget", "IShape"}},
        {"member copied", Made<CopyMemberChange>([] { return modCopyMemberChange::NewCopyMemberChange(false); },
                                                 [](CopyMemberChange& c, ITypeLib* lib) {
                                                     c.VarTypeInfo(TypeDescOf(lib, u"IDerived").get());
                                                     c.SourceMemberId(MemberTarget(lib, u"IDerived", u"Go").MemberId);
                                                     c.InvokeKinds(INVOKE_FUNC);
                                                 }),
         OnType(u"IBase"), "Colors", {"Colors", "Colors", "IBase/Go"}},
        {"help string", Made<HelpChange>([] { return modHelpChange::NewHelpChange(false); },
                                         [](HelpChange& c, ITypeLib* lib) {
                                             ChangeTarget t = TypeTarget(lib, u"Widget");
                                             c.InitFromTarget(t);
                                             c.DocString(u"A widget");
                                         }),
         OnType(u"Widget"), "Colors", {"Colors", "Colors", "Widget"}},
        {"types reordered", Made<ReorderTypesChange>([] { return modReorderTypesChange::NewReorderTypesChange(false); },
                                                     [](ReorderTypesChange& c, ITypeLib* lib) {
                                                         std::vector<int16_t> order;
                                                         for (int16_t i = static_cast<int16_t>(
                                                                  lib->GetTypeInfoCount() - 1);
                                                              i >= 0; --i)
                                                             order.push_back(i);
                                                         c.NewOrder(order);
                                                     }),
         OnLib(), "Widget/IDerived", {"Widget/IDerived", "Widget/IDerived", "Widget/IDerived"}},
        {"custom data", Made<CustDataChange>([] { return modCustDataChange::NewCustDataChange(false); },
                                             [](CustDataChange& c, ITypeLib* lib) {
                                                 ChangeTarget t = TypeTarget(lib, u"Widget");
                                                 c.InitFromTarget(t);
                                                 c.SetItem({0xC0DA7A01, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}},
                                                           ole::Variant(u"data"));
                                             }),
         OnType(u"Widget"), "Colors", {"Colors", "Colors", "Colors"}},
    };
    return rows;
}

// Every kind at every level, applied by another holder of the hub.
TEST_F(ViewerListener, EveryKindAtEveryLevelKeepsTheTreeTrueAndTheSelectionWhereTheLevelPutsIt) {
    std::vector<std::string> heard;
    changestest::RecordingListener other("other", &heard);
    SMNode otherNode;
    hub->AddListenerNode(otherNode, other);
    for (const Row& row : Rows()) {
        for (int32_t level = 0; level <= 2; ++level) {
            const std::string label = std::string(row.name) + " at level " + std::to_string(level);
            SCOPED_TRACE(label);
            Open();
            QTreeWidgetItem* before = At(row.before);
            ASSERT_TRUE(before);
            view->Tree()->setCurrentItem(before);  // as the user navigates
            ASSERT_EQ(view->ShownNode(), before);
            ChangePtr change = row.make(Lib());
            ChangeTarget target = row.target(Lib());
            ASSERT_TRUE(change->Apply(*view->CurrentCustomTypeLib(), nullptr, target, hub.get(), level));
            if (row.after[level]) {
                EXPECT_EQ(PathOf(Selected()), row.after[level]);
                if (level >= 1) {
                    EXPECT_EQ(PathOf(view->ShownNode()), PathOf(Selected())) << "the panes show another item";
                }
            }
            if (row.check) row.check(*this, *change, level);
            QCoreApplication::processEvents();  // a deferred re-sort
            EXPECT_EQ(view->DeferredSortNode(), nullptr);
            ExpectTreeTrue(label, row.tolerated);
            EXPECT_TRUE(services.messages.empty());
            EXPECT_EQ(services.beeps, 0);
            view.reset();
        }
    }
    // Every notification of a change was made.
    std::set<std::string> operations;
    for (const std::string& line : heard) operations.insert(line.substr(0, line.find(' ')));
    for (const char* operation :
         {"OnLibraryChange", "OnTypeChange", "OnImplTypeChange", "OnMemberChange", "OnParamChange", "OnDeleteChange",
          "OnRemoveParamArrayChange", "OnRenameChange", "OnFlattenInterfaceChange", "OnResetAutomaticIDsChange",
          "OnResetAllIDsChange", "OnReorderVTableChange", "OnReorderVarsChange", "OnAddTypeChange",
          "OnAddImplTypeChange", "OnInsertParamChange", "OnAddMemberChange", "OnInternalizeTypesChange",
          "OnRedirectTypesChange", "OnCopyMemberChange", "OnHelpChange", "OnReorderTypesChange", "OnCustDataChange",
          "Before", "Provide"})
    {
        EXPECT_TRUE(operations.count(std::string("other:") + operation)) << operation;
    }
}

// The same changes made by the view itself on the selected item: the hub
// hands the view its own node, and the tree stays as true.
TEST_F(ViewerListener, TheViewsOwnChangesOnTheSelectedItemKeepTheTreeTrue) {
    int made = 0;
    for (const Row& row : Rows()) {
        for (int32_t level = 0; level <= 2; ++level) {
            const std::string label = std::string(row.name) + " made by the view at level " + std::to_string(level);
            SCOPED_TRACE(label);
            Open();
            QTreeWidgetItem* before = At(row.before);
            ChangeTarget target = row.target(Lib());
            // A rename of the view's own is the label edit's, which sets the text itself.
            if (!before || FindTargetNode(view->Tree(), target, kFindKeep) != before ||
                std::string(row.name).find("renamed") != std::string::npos)
                break;
            view->Tree()->setCurrentItem(before);
            ChangePtr change = row.make(Lib());
            ASSERT_TRUE(view->ApplyOwnChange(*change, nullptr, target, level));
            EXPECT_FALSE(hub->SkipsOnce(view->HubNode()));
            ASSERT_TRUE(Selected());
            QCoreApplication::processEvents();
            ExpectTreeTrue(label, row.tolerated);
            EXPECT_TRUE(services.messages.empty());
            EXPECT_EQ(services.beeps, 0);
            view.reset();
            ++made;
        }
    }
    EXPECT_GE(made, 3 * 8);
}

// Below a type never expanded, levels 0 and 1 leave the tree alone; level 2
// builds the path and selects the item.
TEST_F(ViewerListener, ItemsBelowUnbuiltLevelsAreOpenedOnlyAtLevelTwo) {
    for (int32_t level = 0; level <= 2; ++level) {
        SCOPED_TRACE(level);
        Open(false);
        QTreeWidgetItem* base = Child(Root(), "IBase");
        ASSERT_TRUE(HasPlaceholder(base));
        ChangeTarget alpha = MemberTarget(Lib(), u"IBase", u"Alpha");
        std::shared_ptr<IAttributeChange> change = modMemberChange::NewMemberChange(false);
        change->InitFromTarget(alpha);
        change->MemberId(0x77);
        try {
            ASSERT_TRUE(change->Apply(*view->CurrentCustomTypeLib(), nullptr, alpha, hub.get(), level));
        } catch (const ErrorRecord& e) {
            FAIL() << ole::ToUtf8(e.Description) << " " << ole::ToUtf8(e.Source);
        }
        if (level < 2) {
            EXPECT_TRUE(HasPlaceholder(base));
            EXPECT_EQ(Selected(), Root());
        } else {
            EXPECT_EQ(PathOf(Selected()), "IBase/Alpha");
            EXPECT_EQ(view->ShownNode(), Selected());
        }
        ExpectTreeTrue("member ID below an unbuilt type");
    }
}

// The view's own command that leaves unresolved types where there were none
// says so once; later changes that keep the same companion library do not.
TEST_F(ViewerListener, ANewCompanionLibraryFromTheViewsOwnCommandIsAnnouncedOnce) {
    Open();
    const ComPtr<ITypeLib> form = LoadForm(UnresolvedForm());
    auto take = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    take->Flags(InternalizeTypesChange::kAllTypes);
    take->VarTypeInfo(Desc(Lib(), changestest::TypeNamed(form.get(), u"IStays").get()).get());
    view->Tree()->setCurrentItem(Root());
    ChangeTarget library = LibraryTarget(Lib());
    ASSERT_TRUE(view->ApplyOwnChange(*take, nullptr, library, 2));
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], dialogs::ResText(941));
    const ComPtr<ITypeLib> missing = view->UnresolvedTypes();
    ASSERT_TRUE(missing);
    EXPECT_TRUE(At("IStays"));
    ExpectTreeTrue("after taking types in");

    // A placeholder redirected to a real type: the companion stays, nothing is said.
    auto mend = modRedirectTypesChange::NewRedirectTypesChange(false);
    mend->SourceVarTypeInfo(
        Desc(Lib(), changestest::TypeNamed(missing.get(), modSupport::LoadResStringById(797).c_str()).get()).get());
    mend->DestVarTypeInfo(Desc(Lib(), StdOle2Type(kIID_IDispatch).get()).get());
    view->Tree()->setCurrentItem(Root());
    library = LibraryTarget(Lib());
    library.UnresolvedLibrary = missing;  // as every holder of the companion names it
    ASSERT_TRUE(view->ApplyOwnChange(*mend, nullptr, library, 2));
    EXPECT_EQ(view->UnresolvedTypes().get(), missing.get());
    EXPECT_EQ(services.messages.size(), 1u);
    ExpectTreeTrue("after mending one placeholder");

    // The same from another holder of the hub: the companion is taken, never announced.
    Open();
    auto again = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    again->Flags(InternalizeTypesChange::kAllTypes);
    again->VarTypeInfo(Desc(Lib(), changestest::TypeNamed(form.get(), u"IStays").get()).get());
    library = LibraryTarget(Lib());
    ASSERT_TRUE(again->Apply(*view->CurrentCustomTypeLib(), nullptr, library, hub.get(), 2));
    EXPECT_TRUE(view->UnresolvedTypes());
    EXPECT_EQ(services.messages.size(), 1u);
}

TEST_F(ViewerListener, RefreshSelectAndProvideFromTheHub) {
    Open(false);
    // A change nobody heard of shows once the selection is refreshed.
    auto* lcid = static_cast<QLineEdit*>(view->DetailsField(editor::LibraryViewer::Field::Lcid));
    EXPECT_EQ(lcid->text().toStdString(), "&H409");
    std::shared_ptr<IAttributeChange> silent = modLibChange::NewLibChange();
    ChangeTarget library = LibraryTarget(Lib());
    silent->InitFromTarget(library);
    silent->Lcid(0x407);
    ASSERT_TRUE(silent->Apply(*view->CurrentCustomTypeLib(), nullptr, library, nullptr, 0));
    EXPECT_EQ(lcid->text().toStdString(), "&H409");
    hub->RefreshCurrentSelection(0);
    EXPECT_EQ(lcid->text().toStdString(), "&H407");
    EXPECT_EQ(Selected(), Root());

    // SelectTarget opens the path to an accessor below an unbuilt type.
    ChangeTarget name = MemberTarget(Lib(), u"IShape", u"Name", INVOKE_PROPERTYPUT);
    hub->SelectTarget(name, 0);
    EXPECT_EQ(PathOf(Selected()), "IShape/Name");
    EXPECT_EQ(view->ShownNode(), Selected());
    hub->SelectTarget(name, 0);  // already there: stays
    EXPECT_EQ(PathOf(Selected()), "IShape/Name");

    // Nothing to hand over for a redirection.
    ComPtr<IExternalTypeRedirection> redirection;
    hub->ProvideExternalTypeRedirection(redirection);
    EXPECT_FALSE(redirection);
    ExpectTreeTrue("after refresh and select");
    EXPECT_TRUE(services.messages.empty());
}

// The re-sort after a rename runs in its own queued call, and forgets a node
// that went before it ran.
TEST_F(ViewerListener, TheDeferredResortRunsLaterAndForgetsNodesThatWent) {
    Open();
    QTreeWidgetItem* base = At("IBase");
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Aardvark");
    ChangeTarget zeta = MemberTarget(Lib(), u"IBase", u"Zeta");
    const int at = base->indexOfChild(Child(base, "Zeta"));
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, zeta, hub.get(), 0));
    EXPECT_EQ(view->DeferredSortNode(), base);
    EXPECT_EQ(Utf8(base->child(at)->text(0)), "Aardvark");
    QCoreApplication::processEvents();
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
    EXPECT_EQ(Utf8(base->child(0)->text(0)), "Aardvark");

    // A type renamed, then the whole tree rebuilt by a redirection before the sort ran.
    rename->NewName(u"AAWidget");
    ChangeTarget widget = TypeTarget(Lib(), u"Widget");
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, widget, hub.get(), 0));
    EXPECT_EQ(view->DeferredSortNode(), Root());
    auto redirect = modRedirectTypesChange::NewRedirectTypesChange(false);
    redirect->SourceVarTypeInfo(TypeDescOf(Lib(), u"IBase").get());
    redirect->DestVarTypeInfo(TypeDescOf(Lib(), u"IShape").get());
    ChangeTarget library = LibraryTarget(Lib());
    ASSERT_TRUE(redirect->Apply(*view->CurrentCustomTypeLib(), nullptr, library, hub.get(), 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
    ExpectTreeTrue("after the re-sort");

    // An enum value renamed: no re-sort.
    rename->NewName(u"Zed");
    ChangeTarget red = MemberTarget(Lib(), u"Colors", u"Red", 0);
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, red, hub.get(), 0));
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
}

// Renames in a row, as a history's run applies them, each make a re-sort
// due before the first runs: every one runs, and one whose node went is
// forgotten.
TEST_F(ViewerListener, EveryReSortDueBeforeTheFirstRunsIsRun) {
    Open();
    QTreeWidgetItem* base = At("IBase");
    EnsureChildren(base);
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"AWidget");
    ChangeTarget widget = TypeTarget(Lib(), u"Widget");
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, widget, hub.get(), 0));
    rename->NewName(u"Aardvark");
    ChangeTarget zeta = MemberTarget(Lib(), u"IBase", u"Zeta");
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, zeta, hub.get(), 0));
    EXPECT_EQ(view->DeferredSortNode(), base);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->DeferredSortNode(), nullptr);
    EXPECT_EQ(Utf8(Root()->child(0)->text(0)), "AWidget");
    EXPECT_EQ(Utf8(base->child(0)->text(0)), "Aardvark");

    // A member renamed, then its type deleted, then another type renamed.
    rename->NewName(u"Zzz");
    EnsureChildren(At("Kernel"));
    ChangeTarget beep = MemberTarget(Lib(), u"Kernel", u"Beep");
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, beep, hub.get(), 0));
    ChangeTarget kernel = TypeTarget(Lib(), u"Kernel");
    ASSERT_TRUE(modDeleteChange::GetDeleteChange()->Apply(*view->CurrentCustomTypeLib(), nullptr, kernel, hub.get(), 0));
    rename->NewName(u"AAEither");
    ChangeTarget either = TypeTarget(Lib(), u"Either");
    ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, either, hub.get(), 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(Utf8(Root()->child(0)->text(0)), "AAEither");
    ExpectTreeTrue("after the re-sorts");
}

}  // namespace
}  // namespace treetest

// Library trees in tests: the application object, a library with every kind
// of node, and readable views of nodes and records.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QTreeWidget>

#include <string>

#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeNodeRecords.h"
#include "support/DarkTheme.h"
#include "support/ShapesLibrary.h"

namespace treetest {

using namespace zephrin;
using namespace zephrin::editor;
using namespace testsupport;
using ole::ComPtr;

// The one application object of the test program (offscreen), with the
// editor module started; it goes when the tests end.
void EnsureApp();

// The tree's open label editor (after F2), or null when none is open.
inline QLineEdit* LabelEditor(QTreeWidget* tree) {
    QLineEdit* edit = nullptr;
    for (QLineEdit* open : tree->viewport()->findChildren<QLineEdit*>())
        if (open->isVisible()) edit = open;
    return edit;
}

// Shapes (types 0-8) and, after them:
//   9  interface IBase : IUnknown { _Item(); Item(long a, long b); __Item(); Alpha();
//        _NewEnum(); Zeta(); [propput] Value(long) }          (the put's value unnamed)
//   10 interface IDerived : IBase { Go(long speed); }
//   11 dispinterface DVTable { QueryInterface (id 0x60000000); Release(); }
//   12 union Either { long a; double b; }
//   13 typedef IBase BaseAlias;
//   14 coclass Widget { [default] IDerived; [source] DVTable; }
inline ComPtr<ICreateTypeLib2> BuildAllKinds(const std::u16string& file = u"") {
    ComPtr<ICreateTypeLib2> lib = BuildShapes(file);
    if (!lib) return lib;
    auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
    auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
    auto vtable = NewType(lib.get(), u"DVTable", TKIND_DISPATCH);
    auto either = NewType(lib.get(), u"Either", TKIND_UNION);
    auto alias = NewType(lib.get(), u"BaseAlias", TKIND_ALIAS);
    auto widget = NewType(lib.get(), u"Widget", TKIND_COCLASS);
    EXPECT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IUnknown).get())));
    UINT i = 0;
    for (const char16_t* name : {u"_Item", u"Item", u"__Item", u"Alpha", u"_NewEnum", u"Zeta"}) {
        Func f{.name = name};
        if (std::u16string(name) == u"Item") f.params = {{u"a", Vt(VT_I4)}, {u"b", Vt(VT_I4)}};
        AddFunc(base.get(), i++, f);
    }
    AddFunc(base.get(), i, {u"Value", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"", Vt(VT_I4)}}});
    EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), base.get())));
    AddFunc(derived.get(), 0, {.name = u"Go", .params = {{u"speed", Vt(VT_I4)}}});
    AddFunc(vtable.get(), 0, {.name = u"QueryInterface", .memid = 0x60000000, .kind = FUNC_DISPATCH});
    AddFunc(vtable.get(), 1, {.name = u"Release", .memid = 0x60000001, .kind = FUNC_DISPATCH});
    AddVar(either.get(), 0, u"a", Vt(VT_I4));
    AddVar(either.get(), 1, u"b", Vt(VT_R8));
    TYPEDESC aliased = User(RefTo(alias.get(), base.get()));
    EXPECT_OK(alias->SetTypeDescAlias(&aliased));
    EXPECT_OK(widget->AddImplType(0, RefTo(widget.get(), derived.get())));
    EXPECT_OK(widget->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    EXPECT_OK(widget->AddImplType(1, RefTo(widget.get(), vtable.get())));
    EXPECT_OK(widget->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    for (auto* t : {base.get(), derived.get(), vtable.get(), either.get(), alias.get(), widget.get()})
        EXPECT_OK(t->LayOut());
    return lib;
}

inline std::string Utf8(const QString& s) { return s.toStdString(); }

// The texts of a node's children, joined by blanks.
inline std::string ChildTexts(QTreeWidgetItem* node) {
    std::string s;
    for (int i = 0; i < node->childCount(); ++i) s += (i ? " " : "") + Utf8(node->child(i)->text(0));
    return s;
}

// The child with that text, or null; case is ignored.
inline QTreeWidgetItem* Child(QTreeWidgetItem* node, const char* text) {
    for (int i = 0; node && i < node->childCount(); ++i)
        if (node->child(i)->text(0).compare(QString::fromUtf8(text), Qt::CaseInsensitive) == 0) return node->child(i);
    return nullptr;
}

inline std::string Folded(const std::string& s) { return QString::fromStdString(s).toCaseFolded().toStdString(); }

inline TypeNodeRecord* TypeRecord(QTreeWidgetItem* node) {
    NodeRecord* r = nullptr;
    return GetNodeKind(node, r) == kNodeType ? static_cast<TypeNodeRecord*>(r) : nullptr;
}

// "index kind ref role" of a type record.
inline std::string Fields(const TypeNodeRecord* t) {
    if (!t) return "<none>";
    return std::to_string(t->TypeIndex) + " " + std::to_string(t->TypeKind) + " " + std::to_string(t->RefTypeIndex) +
           " " + std::to_string(t->RefFlags);
}

// Builds every level below node.
inline void BuildAll(QTreeWidgetItem* node) {
    EnsureChildren(node);
    for (int i = 0; i < node->childCount(); ++i) BuildAll(node->child(i));
}

using testsupport::DarkPalette;

// A tree's hidden header reads to a screen reader as one column header
// named name, not as the column number.
inline void ExpectOneHeaderNamed(QTreeWidget* view, const QString& name) {
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(view);
    ASSERT_TRUE(tree);
    int headers = 0;
    for (int i = 0; i < tree->childCount(); ++i) {
        QAccessibleInterface* cell = tree->child(i);
        if (!cell || cell->role() != QAccessible::ColumnHeader) continue;
        ++headers;
        EXPECT_EQ(cell->text(QAccessible::Name), name);
    }
    EXPECT_EQ(headers, 1);
}

}  // namespace treetest

// The view's context menu as the user meets it: opened on each kind of node
// with the mouse or the keyboard, its settings, the commands it hands on,
// and the format menus of the member ID and value fields.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <string>
#include <vector>

#include "changes/hub/ChangeListener.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"

namespace treetest {
namespace {

using MemberField = editor::LibraryViewer::MemberField;

// Notes the commands the menu hands on instead of running them.
class CommandRecordingViewer : public editor::LibraryViewer {
public:
    struct Command {
        MenuItem item;
        int32_t index;
        int32_t tag;
    };
    std::vector<Command> commands;

protected:
    void ContextCommandChosen(MenuItem item, int32_t index, int32_t tag) override {
        commands.push_back({item, index, tag});
    }
};

class ContextMenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ContextMenuTest() : scoped(services) {
        view->SetChangeListener(hub);
        view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
        view->resize(view->fontMetrics().averageCharWidth() * 110, view->fontMetrics().height() * 30);
        view->show();
        QCoreApplication::processEvents();
    }
    ~ContextMenuTest() override { CloseMenu(); }

    QTreeWidget* Tree() { return view->Tree(); }
    QTreeWidgetItem* Root() { return Tree()->topLevelItem(0); }
    QTreeWidgetItem* ImplementedInterface(const char* coclass, const char* name) {
        QTreeWidgetItem* node = NodeAt(Tree(), coclass);
        if (!node) return nullptr;
        EnsureChildren(node);
        return Child(node, name);
    }
    // Right-clicks node as the user does; the menu that opened, or null.
    QMenu* RightClick(QTreeWidgetItem* node) {
        CloseMenu();
        if (!node) return nullptr;
        Tree()->scrollToItem(node);
        QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, Tree()->visualItemRect(node).center());
        return view->OpenPopup();
    }
    // Sends the Menu key to the tree; true when the tree's handling consumed it.
    bool MenuKey() {
        CloseMenu();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Menu, Qt::NoModifier);
        QApplication::sendEvent(Tree(), &key);
        return key.isAccepted();
    }
    void CloseMenu() {
        if (QMenu* menu = view->OpenPopup()) menu->hide();
        QCoreApplication::processEvents();
    }
    void Choose(QMenu* menu, std::initializer_list<const char*> path) {
        QAction* action = ActionAt(menu, path);
        ASSERT_TRUE(action) << MenuText(menu);
        action->trigger();
        CloseMenu();
    }
    QLineEdit* Field(MemberField field) { return static_cast<QLineEdit*>(view->MemberPaneField(field)); }

    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<CommandRecordingViewer> view = std::make_unique<CommandRecordingViewer>();
};

constexpr const char* kSettings =
    "-, Type Co&nstraints[&None, *&VB Callable, VB &Implementable, &OLE Automation Compatible, "
    "VB &Callable and OLE Automation Compatible], &Help Options[*Add items with &library's primary HelpFile and "
    "HelpStringDll, Add items with last &entered HelpFile and HelpStringDll, -, &Don't save HelpString if "
    "HelpStringDll is set]";

// Every kind of node of a real library offers its own items under its own
// captions, with the view's settings after them.
TEST_F(ContextMenuTest, ARightClickShowsTheItemsOfEachKindOfNode) {
    const char* addType = "&Add Type[&alias, &coclass, &dispinterface, &enum, &interface, &module, &record, &union]";
    const char* internalize =
        "&Internalize Types[&Unmodified[&Single Type, &Referenced Types in Library, &Entire Library], "
        "As &Proxy[&Single Type, &Referenced Types in Library, &Entire Library]]";
    const char* resetIds = "Reset &MemberIDs[&Automatic Only, &Explicit and Automatic]";
    const char* redirect = "R&edirect Type[&Leave This Type..., &Replace This Type with Redirection...]";
    const char* methods =
        "&Add Function[&Method, Property &Get, Property &Let, Property G&et/Let, Property &Set, Property Ge&t/Set]";
    const struct {
        const char* name;
        QTreeWidgetItem* node;
        std::string items;
    } rows[] = {
        {"library", Root(),
         std::string(addType) + ", " + internalize + ", E&xternal Types..., &Type Order..., -, C&ustom Data..., &Rename"},
        {"enum", NodeAt(Tree(), "Colors"),
         std::string("&Delete Type, &Insert Value, -, Member &Order..., ") + resetIds + ", " + redirect +
             ", C&ustom Data..., &Rename"},
        {"module", NodeAt(Tree(), "Kernel"),
         "&Delete Type, &Add Function[&Function, Property &Get, Property &Let, Property G&et/Let, Property &Set, "
         "Property Ge&t/Set], Add &Constant, -, " +
             std::string(resetIds) + ", " + redirect + ", C&ustom Data..., &Rename"},
        {"interface on a base of the library", NodeAt(Tree(), "IDerived"),
         "F&ind Base Type, &Delete Type, " + std::string(methods) + ", -, &Flatten Interface, &VTable Order..., " +
             resetIds + ", " + redirect + ", C&ustom Data..., &Rename"},
        {"dual interface", NodeAt(Tree(), "IShape"),
         "&Delete Type, " + std::string(methods) + ", -, &VTable Order..., " + resetIds + ", " + redirect +
             ", C&ustom Data..., &Rename"},
        {"dispinterface", NodeAt(Tree(), "DShapeEvents"),
         "&Delete Type, " + std::string(methods) + ", Add &Property, -, " + resetIds + ", " + redirect +
             ", C&ustom Data..., &Rename"},
        {"coclass", NodeAt(Tree(), "Widget"),
         "&Delete Type, &Add Implied Interface..., -, " + std::string(redirect) + ", C&ustom Data..., &Rename"},
        {"implemented interface", ImplementedInterface("Widget", "IDerived"),
         "F&ind Interface, &Delete Implied Type, C&ustom Data..."},
        {"method", NodeAt(Tree(), "IBase", "Item"),
         "&Delete Method, -, &Insert Parameter[&Required], C&ustom Data..., &Rename"},
        {"property with get and let", NodeAt(Tree(), "IShape", "Name"),
         "&Add Function[Property &Set], -, &Delete[Property &Get, Property &Let, Property G&et/Let], "
         "&Insert Parameter[&Required, &Typed Optional, &Variant Optional, &ParamArray, &LCID], C&ustom Data..., "
         "&Rename"},
        {"parameter", NodeAt(Tree(), "IBase", "Item", "a"),
         "&Delete Parameter, -, &Insert Parameter[&Required], C&ustom Data..., &Rename"},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(row.node) << row.name;
        QMenu* menu = RightClick(row.node);
        ASSERT_TRUE(menu) << row.name;
        EXPECT_EQ(Tree()->currentItem(), row.node) << row.name;
        EXPECT_EQ(MenuText(menu), row.items + ", " + kSettings) << row.name;
        EXPECT_EQ(services.messages.size(), 0u) << row.name;
    }
}

// The flatten test made for the menu stays in the type's record.
TEST_F(ContextMenuTest, TheFlattenAnswerIsKeptInTheTypeRecord) {
    QTreeWidgetItem* derived = NodeAt(Tree(), "IDerived");
    QTreeWidgetItem* base = NodeAt(Tree(), "IBase");
    ASSERT_TRUE(RightClick(derived));
    ASSERT_TRUE(RightClick(base));
    EXPECT_EQ(TypeRecord(derived)->RefFlags & (kRefCanFlatten | kRefFlattenTested), kRefCanFlatten | kRefFlattenTested);
    EXPECT_EQ(TypeRecord(base)->RefFlags & (kRefCanFlatten | kRefFlattenTested), kRefFlattenTested);
}

// From the keyboard the menu opens just below the selected node's text and
// the key is consumed; a node that offers nothing opens nothing and leaves
// the key to the tree.
TEST_F(ContextMenuTest, TheKeyboardOpensTheMenuUnderTheSelectedNode) {
    QTreeWidgetItem* colors = NodeAt(Tree(), "Colors");  // near the top: the menu fits below it
    ClickNode(Tree(), colors);
    Tree()->setFocus();
    EXPECT_TRUE(MenuKey());
    QMenu* menu = view->OpenPopup();
    ASSERT_TRUE(menu);
    EXPECT_EQ(Utf8(menu->actions().front()->text()), "&Delete Type");
    const QRect row = Tree()->visualItemRect(colors);
    const int icon = colors->icon(0).actualSize(Tree()->iconSize()).width();
    const QPoint at = Tree()->viewport()->mapFromGlobal(menu->geometry().topLeft());
    EXPECT_GE(at.x(), row.left() + icon);
    EXPECT_LT(at.x(), row.left() + icon + Tree()->fontMetrics().averageCharWidth() * 3);
    EXPECT_GT(at.y(), row.bottom() - 2);
    EXPECT_LE(at.y(), row.bottom() + 3);
    CloseMenu();

    QTest::keyClick(Tree(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(view->OpenPopup());
    CloseMenu();

    editor::CommandFilterRecord nothing;
    nothing.FilterOn = 1;
    view->CommandFilter(nothing);
    ClickNode(Tree(), Root());
    Tree()->setFocus();
    EXPECT_FALSE(MenuKey());
    EXPECT_FALSE(view->OpenPopup());
    QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, Tree()->visualItemRect(Root()).center());
    EXPECT_FALSE(view->OpenPopup());
    EXPECT_EQ(services.messages.size(), 0u);
    EXPECT_EQ(services.beeps, 0);
}

// The settings change at once, and the next menu checks what they became;
// the host's constraint filter decides what is offered.
TEST_F(ContextMenuTest, SettingsChangeTheViewAndTheirChecks) {
    QTreeWidgetItem* shape = NodeAt(Tree(), "IShape");
    QMenu* menu = RightClick(shape);
    ASSERT_TRUE(menu);
    // Chosen with the access keys, as from the keyboard.
    QTest::keyClick(menu, Qt::Key_N);
    QMenu* constraints = ActionAt(menu, {"Type Co&nstraints"})->menu();
    ASSERT_TRUE(constraints->isVisible());
    QTest::keyClick(constraints, Qt::Key_I);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->OpenPopup());
    EXPECT_EQ(view->TypeConstraint(), 4);
    menu = RightClick(shape);
    EXPECT_EQ(MenuText(ActionAt(menu, {"Type Co&nstraints"})->menu()),
              "&None, &VB Callable, *VB &Implementable, &OLE Automation Compatible, "
              "VB &Callable and OLE Automation Compatible");
    Choose(menu, {"Type Co&nstraints", "&OLE Automation Compatible"});
    EXPECT_EQ(view->TypeConstraint(), 1);
    EXPECT_TRUE(view->commands.empty());

    Choose(RightClick(shape), {"&Help Options", "&Don't save HelpString if HelpStringDll is set"});
    EXPECT_FALSE(view->SaveBackupHelpString());
    Choose(RightClick(shape), {"&Help Options", "Add items with last &entered HelpFile and HelpStringDll"});
    EXPECT_FALSE(view->AddUsesLibraryHelpFiles());
    EXPECT_EQ(MenuText(ActionAt(RightClick(shape), {"&Help Options"})->menu()),
              "Add items with &library's primary HelpFile and HelpStringDll, *Add items with last &entered HelpFile "
              "and HelpStringDll, -, *&Don't save HelpString if HelpStringDll is set");
    Choose(view->OpenPopup(), {"&Help Options", "&Don't save HelpString if HelpStringDll is set"});
    EXPECT_TRUE(view->SaveBackupHelpString());

    // The host hides what it does not offer.
    view->TypeConstraintFilter(2 | 8);
    EXPECT_EQ(MenuText(ActionAt(RightClick(shape), {"Type Co&nstraints"})->menu()),
              "*&OLE Automation Compatible, VB &Callable and OLE Automation Compatible");
    view->TypeConstraintFilter(2);
    view->DisplayHelpOptions(false);
    menu = RightClick(shape);
    EXPECT_FALSE(ActionAt(menu, {"Type Co&nstraints"}));
    EXPECT_FALSE(ActionAt(menu, {"&Help Options"}));
    EXPECT_EQ(Utf8(menu->actions().back()->text()), "&Rename");
}

// A command goes on with the index and tag of its entry.
TEST_F(ContextMenuTest, CommandsAreHandedOnWithTheirIndexAndTag) {
    Choose(RightClick(NodeAt(Tree(), "IShape", "Name")), {"&Delete", "Property G&et/Let"});
    Choose(RightClick(NodeAt(Tree(), "IShape", "Name")), {"&Insert Parameter", "&LCID"});
    Choose(RightClick(Root()), {"&Add Type", "&module"});
    Choose(RightClick(NodeAt(Tree(), "Widget")), {"&Rename"});
    ASSERT_EQ(view->commands.size(), 4u);
    EXPECT_EQ(view->commands[0].item, MenuItem::mnuDeletePropPick);
    EXPECT_EQ(view->commands[0].index, 6);
    EXPECT_EQ(view->commands[1].item, MenuItem::mnuInsertParamPick);
    EXPECT_EQ(view->commands[1].index, 5);
    EXPECT_EQ(view->commands[1].tag, kParamInsertLcid);
    EXPECT_EQ(view->commands[2].item, MenuItem::mnuAddTypePick);
    EXPECT_EQ(view->commands[2].index, 5);
    EXPECT_EQ(view->commands[3].item, MenuItem::mnuRename);
}

// A field with only its own menu opens it on Shift+F10, as on the Menu key,
// just below its left end: a keyboard without a Menu key reaches it too.
TEST_F(ContextMenuTest, ShiftF10OpensAFieldsOwnMenuBelowIt) {
    ClickNode(Tree(), NodeAt(Tree(), "IShape"));
    for (const editor::LibraryViewer::Field which :
         {editor::LibraryViewer::Field::Guid, editor::LibraryViewer::Field::Version}) {
        auto* field = static_cast<QLineEdit*>(view->DetailsField(which));
        field->setFocus();
        QTest::keyClick(field, Qt::Key_F10, Qt::ShiftModifier);
        QWidget* menu = QApplication::activePopupWidget();
        ASSERT_TRUE(menu) << field->objectName().toStdString();
        EXPECT_EQ(menu->geometry().topLeft(), field->mapToGlobal(QPoint(0, field->height())));
        menu->close();
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(view->InEditMode());
}

// The format menus of the member ID and value fields switch between decimal
// and hexadecimal and show the value again; a text that does not parse
// can't be shown otherwise.
TEST_F(ContextMenuTest, TheFormatMenusShowValuesInTheChosenBase) {
    ClickNode(Tree(), NodeAt(Tree(), "IShape", "Zoom"));
    QLineEdit* id = Field(MemberField::MemberId);
    EXPECT_EQ(Utf8(id->text()), "&H60020006");
    QContextMenuEvent click(QContextMenuEvent::Mouse, id->rect().center(), id->mapToGlobal(id->rect().center()));
    QApplication::sendEvent(id, &click);
    QMenu* menu = view->OpenPopup();
    ASSERT_TRUE(menu);
    EXPECT_EQ(MenuText(menu),
              "&Format[&Positive IDs[&Decimal, *&Hexadecimal], &Negative IDs[*&Decimal, &Hexadecimal]]");
    Choose(menu, {"&Format", "&Positive IDs", "&Decimal"});
    EXPECT_EQ(view->DisplayFormat(), 0);
    EXPECT_EQ(Utf8(id->text()), "1610743814");
    EXPECT_FALSE(view->InEditMode());

    // From the keyboard the menu opens just below the field.
    id->setFocus();
    QTest::keyClick(id, Qt::Key_Menu);
    menu = view->OpenPopup();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->geometry().topLeft(), id->mapToGlobal(QPoint(0, id->height())));
    Choose(menu, {"&Format", "&Negative IDs", "&Hexadecimal"});
    EXPECT_EQ(view->DisplayFormat(), 32);

    id->setText("x");
    QTest::keyClick(id, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(view->OpenPopup());
    EXPECT_FALSE(ActionAt(view->OpenPopup(), {"&Format"})->isEnabled());
    CloseMenu();
    QTest::mouseClick(view->DetailsField(editor::LibraryViewer::Field::Cancel), Qt::LeftButton);

    ClickNode(Tree(), NodeAt(Tree(), "Kernel", "Answer"));
    QLineEdit* value = Field(MemberField::ConstValue);
    EXPECT_EQ(Utf8(value->text()), "42");
    value->setFocus();
    QTest::keyClick(value, Qt::Key_Menu);
    EXPECT_EQ(MenuText(view->OpenPopup()), "&Format[*&Decimal, &Hexadecimal]");
    Choose(view->OpenPopup(), {"&Format", "&Hexadecimal"});
    EXPECT_EQ(view->DisplayFormat(), 33);
    EXPECT_EQ(Utf8(value->text()), "&H2A");
    EXPECT_FALSE(view->InEditMode());
    // A text constant has no hexadecimal form: it stays as it is.
    ClickNode(Tree(), NodeAt(Tree(), "Kernel", "Greeting"));
    const QString greeting = value->text();
    value->setFocus();
    QTest::keyClick(value, Qt::Key_Menu);
    Choose(view->OpenPopup(), {"&Format", "&Decimal"});
    EXPECT_EQ(view->DisplayFormat(), 32);
    EXPECT_EQ(value->text(), greeting);
}

// Pictures of the menu on each kind of node, on a light and a dark palette,
// for a person to look at; with the submenus of a property's accessors.
TEST_F(ContextMenuTest, ScreenshotsOfTheMenuOnEachKindOfNode) {
    const std::pair<const char*, QTreeWidgetItem*> nodes[] = {
        {"library", Root()},
        {"interface", NodeAt(Tree(), "IDerived")},
        {"dispinterface", NodeAt(Tree(), "DShapeEvents")},
        {"module", NodeAt(Tree(), "Kernel")},
        {"enum", NodeAt(Tree(), "Colors")},
        {"record", NodeAt(Tree(), "Matrix")},
        {"coclass", NodeAt(Tree(), "Widget")},
        {"implemented-interface", ImplementedInterface("Widget", "IDerived")},
        {"method", NodeAt(Tree(), "IBase", "Item")},
        {"property-get-let", NodeAt(Tree(), "IShape", "Name")},
        {"parameter", NodeAt(Tree(), "IBase", "Item", "a")},
    };
    const QPalette light = QApplication::palette();
    for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", DarkPalette()}}) {
        QApplication::setPalette(palette);
        view->setPalette(palette);
        for (const auto& [name, node] : nodes) {
            QMenu* menu = RightClick(node);
            ASSERT_TRUE(menu) << name;
            EXPECT_EQ(menu->palette().color(QPalette::Window), palette.color(QPalette::Window)) << name;
            dialogstest::SaveScreenshots(*menu, std::string("context-menu-") + name + "-" + theme);
        }
        QMenu* menu = RightClick(NodeAt(Tree(), "IShape", "Name"));
        for (const auto& [submenu, file] : {std::pair{"&Delete", "delete"}, std::pair{"&Help Options", "help-options"}}) {
            QMenu* items = ActionAt(menu, {submenu})->menu();
            items->popup(menu->geometry().topRight());
            dialogstest::SaveScreenshots(*items, std::string("context-menu-property-get-let-") + file + "-" + theme);
            items->hide();
        }
    }
    CloseMenu();
    QApplication::setPalette(light);
    view->setPalette(light);
}

}  // namespace
}  // namespace treetest

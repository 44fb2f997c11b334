// The type field's menu for a type of another library: opened with the
// mouse, the Menu key and Shift+F10 in a type pane, a member pane and a
// parameter pane; each of its commands run through its access keys, the
// edit recorded, saved, and the history run in batch mode on the starting
// file must write the same file. A host's filter offers each submenu only
// where it allows it; where nothing is offered the view beeps.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "changes/RedirectionLibraries.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/Screenshots.h"
#include "support/TempDir.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using Field = editor::LibraryViewer::Field;
using changestest::BaseLibId;

// UserLib: interface IUser : IBase { Use([in] BaseKind k, [in] BasePoint* p); BaseKind Kind(); }
// interface INew : IUnknown { B(); }
ComPtr<ITypeLib> UserLibrary(ITypeLib* base) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"UserLib");
    EXPECT_OK(lib->SetGuid(BaseLibId(10)));
    auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
    auto fresh = NewType(lib.get(), u"INew", TKIND_INTERFACE);
    EXPECT_OK(user->SetGuid(BaseLibId(11)));
    EXPECT_OK(fresh->SetGuid(BaseLibId(13)));
    TypeDescs td;
    EXPECT_OK(user->AddImplType(0, changestest::RefTo(user.get(), changestest::TypeNamed(base, u"IBase").get())));
    const TYPEDESC kind = User(changestest::RefTo(user.get(), changestest::TypeNamed(base, u"BaseKind").get()));
    AddFunc(user.get(), 0,
            {.name = u"Use",
             .params = {{u"k", kind},
                        {u"p", td.Ptr(User(changestest::RefTo(user.get(),
                                                              changestest::TypeNamed(base, u"BasePoint").get())))}}});
    AddFunc(user.get(), 1, {.name = u"Kind", .ret = kind});
    EXPECT_OK(fresh->AddImplType(0, changestest::RefTo(fresh.get(), changestest::StdOle2Type(kIID_IUnknown).get())));
    AddFunc(fresh.get(), 0, {.name = u"B"});
    for (auto* t : {user.get(), fresh.get()}) EXPECT_OK(t->LayOut());
    return AsTypeLib(lib.get());
}

// A type of holder, as the view describes it for its library current.
ComPtr<CustomVarTypeInfo> Described(ITypeLib* current, ITypeLib* holder, const char16_t* name) {
    ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    type->CurrentITypeLib(current);
    type->SetType(0, typelib_detail::TliTypeInfo(changestest::TypeNamed(holder, name).get()).get());
    return type;
}

// The type pickers, answered with next; asked lists what was asked.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    using Picked = editor::SpecifiedType;
    using Libs = dialogs::LibraryCollection;
    ComPtr<CustomVarTypeInfo> next;
    std::vector<std::string> asked;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    Picked SpecifyType(QWidget*, int32_t, int32_t, ITypeLib*, Libs&, tli::VarTypeInfo*) override {
        return Answer("type");
    }
    Picked ImportType(QWidget*, ITypeLib*, Libs&) override { return Answer("import type"); }
    Picked ImportLibrary(QWidget*, ITypeLib*, Libs&) override { return Answer("import library"); }
    Picked RedirectType(QWidget*, ITypeLib*, Libs&, tli::VarTypeInfo* from) override {
        return Answer("redirect type " + Name(from));
    }
    Picked RedirectLibrary(QWidget*, ITypeLib*, Libs&, tli::VarTypeInfo* from) override {
        return Answer("redirect library " + Name(from));
    }

private:
    static std::string Name(tli::VarTypeInfo* type) {
        ComPtr<tli::TypeInfo> info;
        std::u16string name;
        if (type && SUCCEEDED(type->get_TypeInfo(info.put())) && info) info->get_Name(&name);
        return changestest::Utf8(name);
    }
    Picked Answer(std::string what) {
        asked.push_back(std::move(what));
        return {next != nullptr, next};
    }
};

// How the menu is asked for.
enum class Gesture { RightClick, MenuKey, ShiftF10 };

class TypeFieldMenu : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    TypeFieldMenu() : scoped(services) {
        ShowViewer(view, hub, &dialogs, 40);
        ole::RegisterFileServices();
        base1 = changestest::BaseLibrary(dir / "base1.tlb", 1);
        base2 = changestest::BaseLibrary(dir / "base2.tlb", 2);
        view.CurrentITypeLib(UserLibrary(base1.get()).get());
        view.SaveCurrentLibrary(ole::FromUtf8((dir / "in.tlb").string()));
        // The program finds both versions of BaseLib where a registry file says.
        std::ofstream(dir / "libs.reg") << "REGEDIT4\n"
                                        << "[HKEY_CLASSES_ROOT\\TypeLib\\" << ole::ToUtf8(ole::GuidToString(BaseLibId(1)))
                                        << "\\1.0\\0\\win32]\n@=\"base1.tlb\"\n"
                                        << "[HKEY_CLASSES_ROOT\\TypeLib\\" << ole::ToUtf8(ole::GuidToString(BaseLibId(1)))
                                        << "\\2.0\\0\\win32]\n@=\"base2.tlb\"\n";
    }
    ~TypeFieldMenu() override {
        if (QWidget* open = QApplication::activePopupWidget()) open->close();
    }

    // Opens in.tlb afresh for editing, recording what is done to it.
    void Open() {
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        view.CurrentITypeLib(loaded.get());
        history = std::make_unique<Playback>();
        history->ChangeListener(hub);
        history->CurrentITypeLib(view.CurrentLibraryITypeLib().get());
        dialogs.asked.clear();
    }
    ITypeLib* Lib() { return view.CurrentLibraryITypeLib().get(); }
    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr, const char* param = nullptr) {
        return NodeAt(Tree(), type, member, param);
    }
    void Select(QTreeWidgetItem* node) {
        ASSERT_TRUE(node);
        ClickNode(Tree(), node);
        ASSERT_EQ(view.ShownNode(), node);
    }
    QLineEdit* TypeField() { return static_cast<QLineEdit*>(view.DetailsField(Field::SetType)); }
    QString TypeText() { return TypeField()->text(); }

    // Asks for the type field's menu; returns the menu open afterwards, or null.
    QMenu* Ask(Gesture gesture) {
        QLineEdit* field = TypeField();
        switch (gesture) {
        case Gesture::RightClick: {
            const QPoint at(field->width() / 2, field->height() / 2);
            QContextMenuEvent request(QContextMenuEvent::Mouse, at, field->mapToGlobal(at));
            QApplication::sendEvent(field, &request);
            break;
        }
        case Gesture::MenuKey:
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Menu);
            break;
        case Gesture::ShiftF10:
            field->setFocus();
            QTest::keyClick(field, Qt::Key_F10, Qt::ShiftModifier);
            break;
        }
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
    // Presses the access keys in the menu and the submenus they open.
    static void Choose(QMenu* menu, const char* keys) {
        for (const char* key = keys; *key; ++key) {
            ASSERT_TRUE(menu) << keys;
            QTest::keyClick(menu, static_cast<Qt::Key>(Qt::Key_A + (*key - 'A')));
            QMenu* opened = nullptr;
            for (QAction* action : menu->actions())
                if (action->menu() && action->menu()->isVisible()) opened = action->menu();
            menu = opened;
        }
        QCoreApplication::processEvents();
    }
    static QStringList Captions(QMenu* menu) {
        QStringList captions;
        for (QAction* action : menu->actions())
            if (action->isVisible()) captions << action->text();
        return captions;
    }
    // The names of the root's type nodes.
    QStringList TypeNodes() {
        QStringList names;
        QTreeWidgetItem* root = Tree()->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) names << root->child(i)->text(0);
        names.sort();
        return names;
    }
    // Saves the history and the edited library, replays the history in batch
    // mode on in.tlb, and compares the files.
    void ExpectReplayWritesTheSameFile() {
        ASSERT_TRUE(history->SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
        view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        fs::remove(dir / "batch.tlb");
        ASSERT_EQ(RunZephrin(dir.path(), "-leh session.leh -tlb in.tlb -saveas batch.tlb -quiet",
                             "ZEPHRIN_REGISTRY=libs.reg"),
                  0)
            << testsupport::ReadText(dir / "stderr.txt");
        EXPECT_EQ(ReadBytes(dir / "batch.tlb"), ReadBytes(dir / "view.tlb"));
    }

    TempDir dir;
    CountingServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs;
    std::unique_ptr<Playback> history;
    ComPtr<ITypeLib> base1;
    ComPtr<ITypeLib> base2;
};

// Each of the six internalise commands, from the base type of a type pane,
// the return type of a member pane and the type of a parameter pane, asked
// for with each gesture in turn: the pane's type is taken in without a
// picker, the tree shows it, and batch mode's replay writes the same file.
TEST_F(TypeFieldMenu, EachInternaliseCommandTakesInThePanesTypeAndReplaysInBatchMode) {
    struct Case {
        const char* keys;  // after the submenu's own key
        const char* type;
        const char* member;
        const char* param;
        Gesture gesture;
        QStringList added;
    };
    const Case cases[] = {
        {"IUT", "IUser", "Use", "k", Gesture::ShiftF10, {"BaseKind"}},
        {"IUR", "IUser", "Kind", nullptr, Gesture::MenuKey, {"BaseKind", "BasePoint", "IBase"}},
        {"IUE", "IUser", nullptr, nullptr, Gesture::RightClick, {"BaseKind", "BasePoint", "IBase"}},
        {"IPT", "IUser", nullptr, nullptr, Gesture::MenuKey, {"IBase"}},
        {"IPR", "IUser", "Use", "p", Gesture::RightClick, {"BaseKind", "BasePoint", "IBase"}},
        {"IPE", "IUser", "Kind", nullptr, Gesture::ShiftF10, {"BaseKind", "BasePoint", "IBase"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        Open();
        Select(At(c.type, c.member, c.param));
        const QString shown = TypeText();
        QMenu* menu = Ask(c.gesture);
        ASSERT_TRUE(menu);
        EXPECT_EQ(Captions(menu), (QStringList{"&Internalize External Types", "&Redirect External Types"}));
        Choose(menu, c.keys);
        EXPECT_FALSE(QApplication::activePopupWidget());
        EXPECT_TRUE(dialogs.asked.empty());  // the pane's type: no picker
        EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.front());
        QStringList expected = QStringList{"INew", "IUser"} + c.added;
        expected.sort();
        EXPECT_EQ(TypeNodes(), expected);
        ASSERT_EQ(history->ItemCount(), 1);
        // The pane shows the same item, its type now one of this library.
        EXPECT_EQ(view.ShownNode(), At(c.type, c.member, c.param));
        EXPECT_TRUE(shown.contains(QStringLiteral("BaseLib."))) << Utf8(shown);
        EXPECT_FALSE(TypeText().contains(QStringLiteral("BaseLib."))) << Utf8(TypeText());
        EXPECT_EQ(services.beeps, 0);
        EXPECT_FALSE(Ask(c.gesture));
        // A type of this library has no such menu: said, not only beeped.
        EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(181)});
        EXPECT_EQ(services.beeps, 0);
        services.messages.clear();
        ExpectReplayWritesTheSameFile();
    }
}

// Redirecting: This Type Only asks for the destination of the base type and
// re-points it; Referenced Types by GUID asks for the library of a
// parameter's type and re-points every reference into it. The picker's own
// type again does nothing. Both replay in batch mode.
TEST_F(TypeFieldMenu, RedirectingThePanesTypeAsksForItsDestinationAndReplaysInBatchMode) {
    Open();
    Select(At("IUser"));
    EXPECT_EQ(Utf8(TypeText()), "BaseLib.IBase");
    dialogs.next = Described(Lib(), base1.get(), u"IBase");  // the same type: nothing
    Choose(Ask(Gesture::RightClick), "RT");
    EXPECT_EQ(history->ItemCount(), 0);
    dialogs.next = Described(Lib(), Lib(), u"INew");
    Choose(Ask(Gesture::MenuKey), "RT");
    EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"redirect type IBase", "redirect type IBase"}));
    EXPECT_EQ(history->ItemCount(), 1);
    EXPECT_EQ(view.ShownNode(), At("IUser"));
    EXPECT_EQ(Utf8(TypeText()), "INew");

    Select(At("IUser", "Use", "p"));
    dialogs.next = Described(Lib(), base2.get(), u"BasePoint");
    Choose(Ask(Gesture::ShiftF10), "RR");
    EXPECT_EQ(dialogs.asked.back(), "redirect library BasePoint");
    EXPECT_EQ(history->ItemCount(), 2);
    EXPECT_TRUE(services.messages.empty());
    ExpectReplayWritesTheSameFile();
    // Every reference into BaseLib now names its version 2.
    ComPtr<ITypeLib> saved;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "view.tlb").string()).c_str(), saved.put()));
    const ComPtr<ITypeInfo> user = changestest::TypeNamed(saved.get(), u"IUser");
    const typelib_detail::FuncDescHolder kind(user.get(), 1);
    ComPtr<ITypeInfo> referenced;
    ASSERT_OK(user->GetRefTypeInfo(kind->elemdescFunc.tdesc.hreftype, referenced.put()));
    ComPtr<ITypeLib> holder;
    UINT index = 0;
    ASSERT_OK(referenced->GetContainingTypeLib(holder.put(), &index));
    TLIBATTR* attr = nullptr;
    ASSERT_OK(holder->GetLibAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 2);
    holder->ReleaseTLibAttr(attr);
}

// With the host's filter on, each submenu is offered only where its bit
// allows it; neither allowed, an edit pending, or the filter withholding
// both, the gesture only beeps. The filter off offers both again.
TEST_F(TypeFieldMenu, AHostsFilterOffersEachSubmenuOnlyWhereItAllowsIt) {
    Open();
    Select(At("IUser", "Kind"));
    editor::CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.LibraryCommands = editor::kFilterLibInternalize;
    view.CommandFilter(filter);
    QMenu* menu = Ask(Gesture::RightClick);
    ASSERT_TRUE(menu);
    EXPECT_EQ(Captions(menu), QStringList{"&Internalize External Types"});
    menu->close();
    filter.LibraryCommands = 0;
    filter.TypeCommands = editor::kFilterTypeRedirect;
    view.CommandFilter(filter);
    menu = Ask(Gesture::ShiftF10);
    ASSERT_TRUE(menu);
    EXPECT_EQ(Captions(menu), QStringList{"&Redirect External Types"});
    menu->close();
    EXPECT_EQ(services.beeps, 0);
    filter.TypeCommands = ~editor::kFilterTypeRedirect;
    filter.LibraryCommands = ~editor::kFilterLibInternalize;
    view.CommandFilter(filter);
    // The Menu key as a window system sends it: the key, its own request for
    // the menu, the key's release. One beep.
    QLineEdit* field = TypeField();
    field->setFocus();
    QTest::keyPress(field, Qt::Key_Menu);
    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(0, 0), field->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(field, &request);
    QTest::keyRelease(field, Qt::Key_Menu);
    EXPECT_FALSE(QApplication::activePopupWidget());
    EXPECT_EQ(services.beeps, 1);
    view.CommandFilter({});
    // A request from the keyboard without a key (as a screen reader asks) opens it too.
    QApplication::sendEvent(field, &request);
    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    EXPECT_EQ(Captions(menu).size(), 2);
    menu->close();
    menu = Ask(Gesture::MenuKey);
    ASSERT_TRUE(menu);
    QApplication::sendEvent(field, &request);
    EXPECT_EQ(QApplication::activePopupWidget(), menu);
    menu->close();

    // An edit pending: a beep, and no menu.
    QTest::mouseClick(view.MemberPaneField(editor::LibraryViewer::MemberField::MemberId), Qt::LeftButton);
    QTest::keyClicks(view.MemberPaneField(editor::LibraryViewer::MemberField::MemberId), "1");
    ASSERT_TRUE(view.InEditMode());
    EXPECT_FALSE(Ask(Gesture::RightClick));
    EXPECT_EQ(services.beeps, 2);
    EXPECT_EQ(history->ItemCount(), 0);
}

// Pictures of the menu with its submenus, light and dark, for a person to look at.
TEST_F(TypeFieldMenu, ScreenshotsOfTheMenu) {
    Open();
    Select(At("IUser"));
    const QPalette light = QApplication::palette();
    for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", DarkPalette()}}) {
        QApplication::setPalette(palette);
        view.setPalette(palette);
        QMenu* menu = Ask(Gesture::RightClick);
        ASSERT_TRUE(menu);
        EXPECT_EQ(menu->palette().color(QPalette::Window), palette.color(QPalette::Window));
        testsupport::SaveScreenshots(*menu, std::string("type-field-menu-") + theme);
        QTest::keyClick(menu, Qt::Key_I);
        QMenu* internalize = menu->actions()[0]->menu();
        ASSERT_TRUE(internalize->isVisible());
        EXPECT_EQ(internalize->palette().color(QPalette::Window), palette.color(QPalette::Window));
        testsupport::SaveScreenshots(*internalize, std::string("type-field-menu-internalize-") + theme);
        QTest::keyClick(internalize, Qt::Key_P);
        QMenu* proxy = internalize->actions()[1]->menu();
        ASSERT_TRUE(proxy->isVisible());
        EXPECT_EQ(proxy->palette().color(QPalette::Window), palette.color(QPalette::Window));
        testsupport::SaveScreenshots(*proxy, std::string("type-field-menu-internalize-proxy-") + theme);
        menu->close();
        menu = Ask(Gesture::RightClick);
        QTest::keyClick(menu, Qt::Key_R);
        QMenu* redirect = menu->actions()[1]->menu();
        ASSERT_TRUE(redirect->isVisible());
        testsupport::SaveScreenshots(*redirect, std::string("type-field-menu-redirect-") + theme);
        menu->close();
    }
    QApplication::setPalette(light);
    view.setPalette(light);
}

}  // namespace
}  // namespace treetest

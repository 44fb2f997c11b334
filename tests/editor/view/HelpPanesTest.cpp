// The view's help page and implemented-interface pane, driven as a user
// drives them: filled, edited, updated, saved and read back; the scopes of a
// new help file; the question about a type's own help file; a failed Update;
// and the edits recorded by a history engine, replayed in batch mode on a
// fresh copy of the library to the same file.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTest>

#include <cstdlib>
#include <deque>
#include <functional>

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/HelpChange.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/ScreenReader.h"
#include "support/TempDir.h"
#include "typelib/HelpData.h"

namespace treetest {
namespace {

namespace fs = std::filesystem;
using changestest::Utf8;
using treetest::Utf8;
using Field = editor::LibraryViewer::Field;

// Message boxes answered from a script (Yes when it has run out), noted with their style.
class ScriptedServices : public dialogs::UiServices {
public:
    std::vector<std::pair<QString, int32_t>> messages;
    std::deque<dialogs::MessageAnswer> answers;
    int beeps = 0;
    dialogs::MessageAnswer MessageBox(QWidget*, const QString& text, int32_t style) override {
        messages.emplace_back(text, style);
        if (answers.empty()) return (style & 7) == dialogs::kStyleYesNo ? dialogs::kAnswerYes : dialogs::kAnswerOk;
        const dialogs::MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override { ++beeps; }
    QString OpenFileName(QWidget*, const dialogs::FileRequest&) override { return {}; }
    QString SaveFileName(QWidget*, const dialogs::FileRequest&) override { return {}; }
    int RunModal(QDialog&) override { return 0; }
};

// The type dialog, answered with the type named in pick from the library shown.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    explicit ScriptedDialogs(editor::LibraryViewer& view) : view_(view) {}
    std::u16string pick;
    int32_t usage = 0;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t asked, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        usage = asked;
        if (pick.empty()) return {false, nullptr};
        return {true, TypeChosen(view_.CurrentLibraryITypeLib().get(), pick)};
    }

private:
    editor::LibraryViewer& view_;
};

// The help data of the library (type null) or of a type or member.
HelpData HelpIn(ITypeLib* lib, const char16_t* type = nullptr, const char16_t* member = nullptr) {
    ChangeTarget target = !type ? changestest::LibraryTarget(lib)
                          : member ? changestest::MemberTarget(lib, type, member, INVOKE_FUNC)
                                   : changestest::TypeTarget(lib, type);
    auto help = modHelpChange::NewHelpChange(false);
    help->InitFromTarget(target);
    return help->Help();
}

int ImplFlags(ITypeLib* lib, const char16_t* coclass, UINT index) {
    INT flags = 0;
    EXPECT_OK(changestest::TypeNamed(lib, coclass)->GetImplTypeFlags(index, &flags));
    return flags;
}

std::string ImplName(ITypeLib* lib, const char16_t* coclass, UINT index) {
    ComPtr<ITypeInfo> type = changestest::TypeNamed(lib, coclass);
    HREFTYPE ref = 0;
    EXPECT_OK(type->GetRefTypeOfImplType(index, &ref));
    ComPtr<ITypeInfo> implemented;
    EXPECT_OK(type->GetRefTypeInfo(ref, implemented.put()));
    BSTR name = nullptr;
    EXPECT_OK(implemented->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    return changestest::Utf8(typelib_detail::TakeBstr(name));
}

class HelpPanes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    HelpPanes() : scoped(services) {}

    // The sample library with a help file and a help string DLL, in the
    // test's folder as in.tlb, shown in the view (on the hub, with a history
    // engine recording when record is set).
    void Open(bool record = false) {
        {
            ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8((dir / "in.tlb").string()));
            ASSERT_OK(created->SetHelpFileName(u"shapes.chm"));
            ASSERT_OK(created->SetHelpStringDll(u"shapes.dll"));
            ASSERT_OK(created->SaveAllChanges());
        }
        ComPtr<ITypeLib> loaded;
        ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "in.tlb").string()).c_str(), loaded.put()));
        ShowViewer(view, hub, &dialogs, 34);
        view.CurrentITypeLib(loaded.get());
        if (record) {
            history.ChangeListener(hub);
            history.CurrentITypeLib(view.CurrentLibraryITypeLib().get());
        }
    }

    QTreeWidget* Tree() { return view.Tree(); }
    QTreeWidgetItem* Root() { return Tree()->topLevelItem(0); }
    QTreeWidgetItem* At(const char* type, const char* member = nullptr) { return NodeAt(Tree(), type, member); }
    ITypeLib* Lib() { return view.CurrentLibraryITypeLib().get(); }
    template <class T>
    T* Named(const char* name) {
        T* found = view.findChild<T*>(QLatin1String(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QLineEdit* HelpString() { return Named<QLineEdit>("txtHelpString"); }
    QLineEdit* Context(int i) { return Named<QLineEdit>(i == 0 ? "txtHelpContext0" : "txtHelpContext1"); }
    QLineEdit* File(int i) { return Named<QLineEdit>(i == 0 ? "txtHelpFile0" : "txtHelpFile1"); }
    QComboBox* Scope(int i) { return Named<QComboBox>(i == 0 ? "cmbApplyFileName0" : "cmbApplyFileName1"); }
    QLabel* Caption(int i) { return Named<QLabel>(("lblHelp" + std::to_string(i)).c_str()); }
    QTabBar* Tabs() { return view.findChild<QTabBar*>(); }
    QWidget* Button(Field field) { return view.DetailsField(field); }
    bool HelpShown() { return Named<QScrollArea>("picHelp")->isVisible(); }
    QString TabTexts() {
        QStringList texts;
        for (int i = 0; i < Tabs()->count(); ++i) texts << Tabs()->tabText(i);
        return texts.join(QLatin1Char('|'));
    }

    // Clicks node as the user does, which selects it and fills the panes.
    void Select(QTreeWidgetItem* node) { ClickNode(Tree(), node); }
    // Clicks the tab of that caption.
    void ClickTab(const char* caption) {
        for (int i = 0; i < Tabs()->count(); ++i)
            if (Tabs()->tabText(i) == QString::fromUtf8(caption)) {
                QTest::mouseClick(Tabs(), Qt::LeftButton, {}, Tabs()->tabRect(i).center());
                return;
            }
        ADD_FAILURE() << "no tab " << caption << " in " << Utf8(TabTexts());
    }
    // Presses the tab of that caption as a screen reader does, through its accessible action.
    void PressTab(const char* caption) {
        QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(Tabs());
        ASSERT_TRUE(strip);
        for (int i = 0; i < strip->childCount(); ++i)
            if (QAccessibleInterface* tab = strip->child(i); tab && tab->text(QAccessible::Name) == caption) {
                ASSERT_TRUE(tab->actionInterface());
                tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                return;
            }
        ADD_FAILURE() << "no tab " << caption << " in " << Utf8(TabTexts());
    }
    // The caption of the highlighted tab.
    std::string CurrentTab() { return Utf8(Tabs()->tabText(Tabs()->currentIndex())); }
    // Reaches field with its caption's Alt+letter and types text in place of its value.
    void TypeInto(QLineEdit* field, const char* text) {
        ASSERT_TRUE(field->isVisible());
        field->setFocus();
        field->selectAll();
        if (!*text) QTest::keyClick(field, Qt::Key_Delete);
        // Letters beyond ASCII as a keyboard layout types them.
        for (const QChar c : QString::fromUtf8(text)) {
            if (c.unicode() < 128)
                QTest::keyClick(field, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    // Picks the scope entry at index with the keyboard.
    void ChooseScope(int which, int index) {
        QComboBox* scope = Scope(which);
        ASSERT_TRUE(scope->isVisible());
        scope->setFocus();
        QTest::keyClick(scope, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(scope, Qt::Key_Down);
        ASSERT_EQ(scope->currentIndex(), index);
    }
    void Update() {
        ASSERT_TRUE(Button(Field::Update)->isEnabled());
        QTest::mouseClick(Button(Field::Update), Qt::LeftButton);
    }
    // The edited library as a file, read back.
    ComPtr<ITypeLib> SavedAndReloaded(const char* name) {
        const fs::path file = dir / name;
        view.SaveCurrentLibrary(ole::FromUtf8(file.string()));
        ComPtr<ITypeLib> reloaded;
        EXPECT_OK(LoadTypeLib(ole::FromUtf8(file.string()).c_str(), reloaded.put()));
        return reloaded;
    }
    // Saves the history, replays it in batch mode on in.tlb, and compares the file with the view's.
    void ExpectReplayAlike(int items) {
        ASSERT_EQ(history.ItemCount(), items);
        ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"session.leh"));
        view.SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
        ASSERT_EQ(RunZephrin(dir.path(), "-leh session.leh -tlb in.tlb -saveas batch.tlb -quiet"), 0)
            << testsupport::ReadText(dir / "stderr.txt");
        EXPECT_EQ(ReadBytes(dir / "batch.tlb"), ReadBytes(dir / "view.tlb"));
    }

    TempDir dir;
    ScriptedServices services;
    dialogs::ScopedUiServices scoped;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    editor::LibraryViewer view;
    ScriptedDialogs dialogs{view};
    Playback history;
};

// The help page of the library, a type and a member: each filled from the
// library, edited, updated; the saved file holds every edit, and the edits
// replay in batch mode to the same file.
TEST_F(HelpPanes, HelpEditsOfTheLibraryATypeAndAMemberAreSavedAndReplay) {
    Open(true);
    EXPECT_EQ(Utf8(TabTexts()), "Library|Help");
    EXPECT_FALSE(HelpShown());
    ClickTab("Help");
    ASSERT_TRUE(HelpShown());
    EXPECT_EQ(Utf8(HelpString()->text()), "Sample shapes");
    EXPECT_EQ(Utf8(File(0)->text()), "shapes.chm");
    EXPECT_EQ(Utf8(File(1)->text()), "shapes.dll");
    EXPECT_EQ(Utf8(Context(0)->text()), "0");
    TypeInto(HelpString(), "Edited shapes");
    TypeInto(Context(0), "4294967295");
    EXPECT_TRUE(view.InEditMode());
    EXPECT_FALSE(Tree()->isEnabled());
    Update();
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(Context(0)->text()), "4294967295");

    // Another node keeps the help page.
    Select(At("IShape"));
    ASSERT_TRUE(HelpShown());
    EXPECT_EQ(Utf8(TabTexts()), "Interface Type|Help");
    EXPECT_EQ(Tabs()->currentIndex(), 1);
    TypeInto(HelpString(), "A shape");
    TypeInto(Context(0), "7");
    TypeInto(Context(1), "&H10");
    Update();
    EXPECT_EQ(Utf8(Context(1)->text()), "16");
    // Renamed with F2 while the help page shows it, then edited: the edit names the type as it is now.
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_F2);
    QLineEdit* label = treetest::LabelEditor(Tree());
    ASSERT_TRUE(label);
    label->selectAll();
    QTest::keyClicks(label, "IFigure");
    QTest::keyClick(label, Qt::Key_Return);
    QCoreApplication::processEvents();
    ASSERT_TRUE(At("IFigure"));
    ASSERT_TRUE(HelpShown());
    TypeInto(HelpString(), "A figure");
    Update();

    // A member: its help string, and a new help file for every item that shares the old one.
    Select(At("IFigure", "Zoom"));
    ASSERT_TRUE(HelpShown());
    TypeInto(HelpString(), "Zooms");
    TypeInto(Context(0), "40");
    TypeInto(File(0), "zoom.chm");
    EXPECT_TRUE(Scope(0)->isVisible());
    EXPECT_EQ(Scope(0)->currentIndex(), HelpChange::kScopeShared) << "a member has no help file of its own";
    Update();
    // A type's help string DLL for all items.
    Select(At("Colors"));
    TypeInto(File(1), "colors.dll");
    ChooseScope(1, HelpChange::kScopeLibrary);
    Update();
    EXPECT_TRUE(services.messages.empty());

    const ComPtr<ITypeLib> saved = SavedAndReloaded("saved.tlb");
    const HelpData library = HelpIn(saved.get());
    EXPECT_EQ(Utf8(library.DocString), "Edited shapes");
    EXPECT_EQ(library.HelpContext, 0xFFFFFFFFu);
    EXPECT_EQ(Utf8(library.HelpFile), "zoom.chm");
    EXPECT_EQ(Utf8(library.HelpStringDll), "colors.dll");
    const HelpData shape = HelpIn(saved.get(), u"IFigure");
    EXPECT_EQ(Utf8(shape.DocString), "A figure");
    EXPECT_EQ(shape.HelpContext, 7u);
    EXPECT_EQ(shape.HelpStringContext, 16u);
    const HelpData zoom = HelpIn(saved.get(), u"IFigure", u"Zoom");
    EXPECT_EQ(Utf8(zoom.DocString), "Zooms");
    EXPECT_EQ(zoom.HelpContext, 40u);
    EXPECT_EQ(Utf8(zoom.HelpFile), "zoom.chm");
    ExpectReplayAlike(6);
}

// Typing a new help file shows its scope row; typing the filled name back
// hides it. Which scopes of a type's new help file the saved library keeps:
// "All Matching Items" and "All Items" (the library takes it, as the type
// used the library's); "This Item" is asked about (938) and not kept. A
// member's "This Item" can't be chosen.
TEST_F(HelpPanes, HelpScopeRowsAndTheScopesASavedLibraryKeeps) {
    Open();
    Select(At("IShape"));
    ClickTab("Help");
    for (int i : {4, 6}) EXPECT_FALSE(Caption(i)->isVisible());
    TypeInto(File(0), "shapes.chmx");
    EXPECT_TRUE(Caption(4)->isVisible());
    EXPECT_TRUE(Scope(0)->isVisible());
    EXPECT_FALSE(Scope(1)->isVisible());
    QTest::keyClick(File(0), Qt::Key_Backspace);
    EXPECT_FALSE(Scope(0)->isVisible()) << "the name it had";
    EXPECT_FALSE(view.InEditMode());
    TypeInto(File(0), "SHAPES.CHM");
    EXPECT_TRUE(Scope(0)->isVisible()) << "names compare by case";
    QStringList entries;
    for (int i = 0; i < Scope(0)->count(); ++i) entries << Scope(0)->itemText(i);
    EXPECT_EQ(Utf8(entries.join(QLatin1Char('|'))), "This Item|All Matching Items|All Items");
    QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
    EXPECT_FALSE(Scope(0)->isVisible());

    struct Case {
        const char* type;
        const char* file;
        int scope;
        const char* kept;  // the library's and the type's help file after a save
    } cases[] = {
        {"IShape", "item.chm", HelpChange::kScopeItem, "shapes.chm shapes.chm"},
        {"Colors", "matching.chm", HelpChange::kScopeShared, "matching.chm matching.chm"},
        {"Matrix", "all.chm", HelpChange::kScopeLibrary, "all.chm all.chm"},
    };
    for (const Case& c : cases) {
        Select(At(c.type));
        TypeInto(File(0), c.file);
        ChooseScope(0, c.scope);
        const size_t asked = services.messages.size();
        Update();
        EXPECT_FALSE(view.InEditMode()) << c.file;
        EXPECT_EQ(services.messages.size() - asked, c.scope == HelpChange::kScopeItem ? 1u : 0u) << c.file;
        const ComPtr<ITypeLib> saved = SavedAndReloaded("scopes.tlb");
        const std::u16string type = ole::FromUtf8(c.type);
        EXPECT_EQ(Utf8(HelpIn(saved.get()).HelpFile + u" " + HelpIn(saved.get(), type.c_str()).HelpFile), c.kept);
        // The page shows what the library holds.
        EXPECT_EQ(Utf8(File(0)->text()), std::string(c.kept).substr(std::string(c.kept).find(' ') + 1));
    }

    // A member's help file and help string DLL apply at least to the items sharing them.
    Select(At("IShape", "Zoom"));
    for (int i = 0; i < 2; ++i) {
        auto* model = qobject_cast<QStandardItemModel*>(Scope(i)->model());
        ASSERT_TRUE(model);
        EXPECT_FALSE(model->item(HelpChange::kScopeItem)->isEnabled());
        EXPECT_NE(Scope(i)->currentIndex(), HelpChange::kScopeItem);
    }
    TypeInto(File(1), "zoom.dll");
    Scope(1)->setFocus();
    QTest::keyClick(Scope(1), Qt::Key_Home);
    EXPECT_NE(Scope(1)->currentIndex(), HelpChange::kScopeItem) << "the keyboard passes it by";
    // Set as a screen reader sets it, it springs back.
    Scope(1)->setCurrentIndex(HelpChange::kScopeItem);
    EXPECT_NE(Scope(1)->currentIndex(), HelpChange::kScopeItem);
    Update();
    EXPECT_EQ(Utf8(HelpIn(Lib()).HelpStringDll), "zoom.dll");
    // A type offers the item scope again.
    Select(At("IShape"));
    EXPECT_TRUE(qobject_cast<QStandardItemModel*>(Scope(0)->model())->item(HelpChange::kScopeItem)->isEnabled());
}

// Message 938 on a type's own help file: No keeps the edit pending with the
// typed values and changes nothing; Yes applies it.
TEST_F(HelpPanes, AQuestionAboutATypesOwnHelpFile) {
    Open();
    Select(At("IShape"));
    ClickTab("Help");
    TypeInto(HelpString(), "A shape");
    TypeInto(File(0), "ishape.chm");
    ChooseScope(0, HelpChange::kScopeItem);
    const std::string before = changestest::Dump(Lib());
    services.answers = {dialogs::kAnswerNo};
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].first.startsWith(QStringLiteral("Cannot apply help file to 'This Item.'")));
    EXPECT_EQ(services.messages[0].second, dialogs::kStyleYesNo | dialogs::kStyleQuestion | dialogs::kStyleDefaultButton2);
    EXPECT_TRUE(view.InEditMode());
    EXPECT_TRUE(Button(Field::Update)->isEnabled());
    EXPECT_EQ(Utf8(HelpString()->text()), "A shape");
    EXPECT_EQ(Utf8(File(0)->text()), "ishape.chm");
    EXPECT_EQ(changestest::Dump(Lib()), before);
    // The scope chosen instead, without the question.
    ChooseScope(0, HelpChange::kScopeShared);
    services.answers = {dialogs::kAnswerYes};
    Update();
    EXPECT_EQ(services.messages.size(), 1u);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(HelpIn(Lib(), u"IShape").DocString), "A shape");
    EXPECT_EQ(Utf8(HelpIn(Lib()).HelpFile), "ishape.chm");
    // Yes: the type's own file.
    TypeInto(File(0), "own.chm");
    ChooseScope(0, HelpChange::kScopeItem);
    Update();
    EXPECT_EQ(services.messages.size(), 2u);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(HelpIn(Lib()).HelpFile), "ishape.chm");
}

// Texts that can't be taken mark their caption and keep Update disabled: help
// contexts that are no unsigned 32-bit whole number, file names with blanks
// around them, text outside the file's code page (Enter says which character).
// A value set through the accessibility interface counts as typed.
TEST_F(HelpPanes, HelpTextsThatCantBeTakenAreMarked) {
    Open();
    ClickTab("Help");
    for (const char* bad : {"1.5", "-1", "", "4294967296", "x"}) {
        TypeInto(Context(0), bad);
        EXPECT_EQ(view.InvalidFields(), 64) << bad;
        EXPECT_FALSE(Button(Field::Update)->isEnabled()) << bad;
        EXPECT_TRUE(view.InEditMode()) << bad;
        EXPECT_TRUE(Caption(1)->font().bold()) << bad;
    }
    EXPECT_TRUE(ShownBelow(Context(0), Context(0)->toolTip()));
    TypeInto(Context(1), "2.5");
    EXPECT_EQ(view.InvalidFields(), 64 | 128);
    TypeInto(Context(0), "0");
    EXPECT_FALSE(Button(Field::Update)->isEnabled()) << "the string context is still marked";
    TypeInto(Context(1), "0");
    EXPECT_EQ(view.InvalidFields(), 0);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_FALSE(Caption(1)->font().bold());
    for (const char* bad : {" a.chm", "a.chm "}) {
        TypeInto(File(0), bad);
        EXPECT_EQ(view.InvalidFields(), 256) << bad;
    }
    TypeInto(File(0), "");
    EXPECT_EQ(view.InvalidFields(), 0) << "no help file";
    TypeInto(File(1), "Größe.dll");
    EXPECT_EQ(view.InvalidFields(), 0);
    TypeInto(HelpString(), "Fin\u0416");
    EXPECT_EQ(view.InvalidFields(), 1024);
    QTest::keyClick(HelpString(), Qt::Key_Return);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(Utf8(services.messages[0].first), "The character '\u0416' (U+0416) can't be stored: a type library holds names and strings in the "
                                                 "Windows-1252 code page.");
    QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
    EXPECT_EQ(view.InvalidFields(), 0);
    EXPECT_EQ(Utf8(HelpString()->text()), "Sample shapes");
    EXPECT_FALSE(view.InEditMode());

    // Set as a screen reader sets it.
    HelpString()->setText(QStringLiteral("Read aloud"));
    EXPECT_TRUE(Button(Field::Update)->isEnabled());
    QTest::keyClick(HelpString(), Qt::Key_Return);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(HelpIn(Lib()).DocString), "Read aloud");
}

// A reason is told when it changes, not at each key: never while a help
// string stays valid, once for a help context refused.
TEST_F(HelpPanes, AReasonIsToldOnlyWhenItChanges) {
    Open();
    ClickTab("Help");
    testsupport::DescriptionCounter reader;
    TypeInto(HelpString(), "A valid string.");
    TypeInto(Context(0), "x23456789012345");
    EXPECT_EQ(reader.Told[HelpString()], 0);
    EXPECT_EQ(reader.Told[Context(0)], 1);
}

// The tab strip: a help tab for library, type and member nodes, none for an
// implemented interface or a parameter (the details page shows instead), and
// none when the host turns help options off.
TEST_F(HelpPanes, TheHelpTabIsOfferedWhereThereIsHelp) {
    Open();
    ClickTab("Help");
    Select(At("Widget"));
    EXPECT_TRUE(HelpShown());
    EXPECT_EQ(Utf8(HelpString()->text()), "");
    QTreeWidgetItem* widget = At("Widget");
    EnsureChildren(widget);
    Select(widget->child(0));
    EXPECT_EQ(Utf8(TabTexts()), "Implied Coclass Interface");
    EXPECT_FALSE(HelpShown());
    Select(At("IShape", "Zoom"));
    EXPECT_EQ(Tabs()->count(), 2);
    EXPECT_FALSE(HelpShown()) << "the details page after a node without help";
    ClickTab("Help");
    EXPECT_TRUE(HelpShown());
    QTreeWidgetItem* zoom = At("IShape", "Zoom");
    EnsureChildren(zoom);
    ASSERT_GT(zoom->childCount(), 0);
    Select(zoom->child(0));
    EXPECT_FALSE(HelpShown());
    EXPECT_EQ(Tabs()->count(), 1);
    view.DisplayHelpOptions(false);
    Select(Root());
    EXPECT_EQ(Utf8(TabTexts()), "Library");
    // While an edit is pending, the other tab is refused, saying why.
    view.DisplayHelpOptions(true);
    Select(At("Colors"));
    ClickTab("Help");
    TypeInto(HelpString(), "edited");
    const size_t told = services.messages.size();
    ClickTab("Enum Type");
    EXPECT_TRUE(HelpShown());
    ASSERT_EQ(services.messages.size(), told + 1);
    EXPECT_EQ(services.messages.back().first, dialogs::ResText(175));
    QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
    ClickTab("Enum Type");
    EXPECT_FALSE(HelpShown());
    // From the keyboard.
    Tabs()->setFocus();
    QTest::keyClick(Tabs(), Qt::Key_Right);
    EXPECT_TRUE(HelpShown());
    EXPECT_EQ(Utf8(HelpString()->text()), "");
    QTest::keyClick(Tabs(), Qt::Key_Left);
    EXPECT_FALSE(HelpShown());
}

// While an edit is pending no other page is shown, whatever asks for it: a
// click, a key or a screen reader's Press on a tab each is refused saying
// why, and the page,
// its highlighted tab and the edit stay as they were.
TEST_F(HelpPanes, NoOtherPageWhileAnEditIsPending) {
    Open();
    Select(At("IShape", "Name"));
    ASSERT_EQ(Utf8(TabTexts()), "Interface Property Get|Let|Help");
    auto* memberId = static_cast<QLineEdit*>(view.MemberPaneField(editor::LibraryViewer::MemberField::MemberId));
    TypeInto(memberId, "77");
    ASSERT_TRUE(view.InEditMode());
    const std::function<void()> asks[] = {
        [&] { ClickTab("Let"); },
        [&] { Tabs()->setFocus(), QTest::keyClick(Tabs(), Qt::Key_Right); },
        [&] { PressTab("Let"); },
        [&] { PressTab("Help"); },
    };
    size_t told = services.messages.size();
    const auto toldWhy = [&] {
        return services.messages.size() == ++told && services.messages.back().first == dialogs::ResText(175);
    };
    for (const auto& ask : asks) {
        ask();
        EXPECT_TRUE(toldWhy());
        EXPECT_EQ(CurrentTab(), "Interface Property Get");
        EXPECT_EQ(view.CurrentAccessor(), 2);
        EXPECT_FALSE(HelpShown());
        EXPECT_EQ(Utf8(memberId->text()), "77");
        EXPECT_TRUE(view.InEditMode());
        EXPECT_TRUE(Button(Field::Update)->isEnabled());
    }
    QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
    // The help page's edit stays too, its field showing what Update would store.
    PressTab("Help");
    ASSERT_TRUE(HelpShown());
    TypeInto(HelpString(), "edited");
    for (const char* other : {"Interface Property Get", "Let"}) {
        PressTab(other);
        EXPECT_TRUE(toldWhy());
        EXPECT_TRUE(HelpShown());
        EXPECT_EQ(CurrentTab(), "Help");
        EXPECT_EQ(Utf8(HelpString()->text()), "edited");
        EXPECT_TRUE(view.InEditMode());
    }
    Update();
    auto help = modHelpChange::NewHelpChange(false);
    const ComPtr<ITypeLib> saved = SavedAndReloaded("saved.tlb");
    ChangeTarget get = changestest::MemberTarget(saved.get(), u"IShape", u"Name", INVOKE_PROPERTYGET);
    help->InitFromTarget(get);
    EXPECT_EQ(Utf8(help->Help().DocString), "edited");
    // Without an edit a Press shows its page.
    PressTab("Let");
    EXPECT_FALSE(HelpShown());
    EXPECT_EQ(CurrentTab(), "Let");
    EXPECT_EQ(view.CurrentAccessor(), 4);
    EXPECT_EQ(services.messages.size(), told);
    EXPECT_EQ(services.beeps, 0);
}

// The highlighted tab is the page shown: accessors added to a property while
// the help page was shown, then their tabs chosen in turn.
TEST_F(HelpPanes, TheHighlightedTabIsThePageShown) {
    Open();
    Select(At("IShape"));
    ClickTab("Help");
    view.RunMenuCommand(editor::MenuItem::mnuAddFuncPick, 6);
    QCoreApplication::processEvents();
    if (QLineEdit* editor = Tree()->viewport()->findChild<QLineEdit*>(); editor && editor->isVisible()) {
        QTest::keyClicks(editor, QStringLiteral("Added"));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(Utf8(TabTexts()), "Interface Property Get|Let|Help");
    EXPECT_EQ(CurrentTab(), "Help");
    EXPECT_TRUE(HelpShown());
    const std::pair<const char*, bool> turns[] = {
        {"Let", false}, {"Help", true}, {"Interface Property Get", false}, {"Help", true}, {"Let", false}};
    for (const auto& [tab, help] : turns) {
        ClickTab(tab);
        EXPECT_EQ(CurrentTab(), tab);
        EXPECT_EQ(HelpShown(), help) << tab;
    }
    for (const auto& [tab, help] : turns) {
        PressTab(tab);
        EXPECT_EQ(CurrentTab(), tab);
        EXPECT_EQ(HelpShown(), help) << tab;
    }
    EXPECT_EQ(services.beeps, 0);
}

// The implemented interface: its interface and flags from the library,
// edited with the type dialog and the flag list, updated, saved and read back.
TEST_F(HelpPanes, ImplementedInterfaceEditsAreSavedAndReplay) {
    Open(true);
    QTreeWidgetItem* widget = At("Widget");
    EnsureChildren(widget);
    Select(widget->child(1));
    auto* options = static_cast<QListWidget*>(Button(Field::Options));
    QStringList names;
    for (int i = 0; i < options->count(); ++i)
        names << options->item(i)->text() + (options->item(i)->checkState() == Qt::Checked ? "+" : "");
    EXPECT_EQ(Utf8(names.join(QLatin1Char(' '))), "default+ source+ restricted defaultvtable");
    auto* type = static_cast<QLineEdit*>(Button(Field::SetType));
    EXPECT_EQ(Utf8(type->text()), "DVTable");
    EXPECT_TRUE(Button(Field::ChooseType)->isVisible());
    EXPECT_FALSE(view.DetailsField(Field::Guid)->isVisible());

    // Cancelled, or the interface it names: no edit.
    QTest::mouseClick(Button(Field::ChooseType), Qt::LeftButton);
    EXPECT_EQ(dialogs.usage, 11);
    EXPECT_FALSE(view.InEditMode());
    dialogs.pick = u"DVTable";
    QTest::mouseClick(Button(Field::ChooseType), Qt::LeftButton);
    EXPECT_FALSE(view.InEditMode());
    // A flag toggled and toggled back: no edit.
    options->setFocus();
    options->setCurrentRow(2);
    QTest::keyClick(options, Qt::Key_Space);
    EXPECT_TRUE(view.InEditMode());
    QTest::keyClick(options, Qt::Key_Space);
    EXPECT_FALSE(view.InEditMode());

    // The source line no longer the default, then the default line given another interface.
    options->setCurrentRow(0);
    QTest::keyClick(options, Qt::Key_Space);
    Update();
    EXPECT_EQ(ImplFlags(Lib(), u"Widget", 1), IMPLTYPEFLAG_FSOURCE);
    EXPECT_EQ(options->item(0)->checkState(), Qt::Unchecked);
    Select(widget->child(0));
    dialogs.pick = u"IShape";
    QTest::mouseClick(Button(Field::ChooseType), Qt::LeftButton);
    EXPECT_EQ(Utf8(type->text()), "IShape");
    Update();
    EXPECT_EQ(Utf8(widget->child(0)->text(0)), "IShape");
    EXPECT_TRUE(services.messages.empty());

    const ComPtr<ITypeLib> saved = SavedAndReloaded("saved.tlb");
    EXPECT_EQ(ImplName(saved.get(), u"Widget", 0), "IShape");
    EXPECT_EQ(ImplFlags(saved.get(), u"Widget", 1), IMPLTYPEFLAG_FSOURCE);
    ExpectReplayAlike(2);
}

// After a failed Update each pane shows what the library holds, out of edit
// mode, with message 933 and the error's text.
TEST_F(HelpPanes, AFailedUpdateRefillsThePaneFromTheLibrary) {
    Open();
    QTreeWidgetItem* widget = At("Widget");
    EnsureChildren(widget);
    Select(widget->child(0));
    auto* options = static_cast<QListWidget*>(Button(Field::Options));
    options->setFocus();
    options->setCurrentRow(2);
    QTest::keyClick(options, Qt::Key_Space);
    // A record is no interface a coclass can implement.
    dialogs.pick = u"Matrix";
    QTest::mouseClick(Button(Field::ChooseType), Qt::LeftButton);
    const std::string before = changestest::Dump(Lib());
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(Utf8(services.messages[0].first),
              "Update failed, restoring original values.\nA coclass can implement only interfaces and dispinterfaces.");
    EXPECT_EQ(services.messages[0].second, dialogs::kStyleError);
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(static_cast<QLineEdit*>(Button(Field::SetType))->text()), "IDerived");
    EXPECT_EQ(options->item(2)->checkState(), Qt::Unchecked);
    EXPECT_FALSE(Button(Field::Update)->isEnabled());

    // The help page: a window following the hub fails on the change. The
    // library took it; the page shows what it holds, the scope row hidden.
    changestest::RecordingListener failing{"failing"};
    failing.fail = true;
    SMNode node;
    hub->AddListenerNode(node, failing);
    Select(At("IShape"));
    ClickTab("Help");
    TypeInto(HelpString(), "edited");
    TypeInto(File(1), "other.dll");
    ChooseScope(1, HelpChange::kScopeLibrary);
    services.messages.clear();
    Update();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(Utf8(services.messages[0].first.section(QLatin1Char('\n'), 0, 0)),
              "Update failed, restoring original values.");
    EXPECT_FALSE(services.messages[0].first.section(QLatin1Char('\n'), 1).isEmpty());
    EXPECT_FALSE(view.InEditMode());
    EXPECT_EQ(Utf8(HelpString()->text()), Utf8(HelpIn(Lib(), u"IShape").DocString));
    EXPECT_EQ(Utf8(File(1)->text()), Utf8(HelpIn(Lib(), u"IShape").HelpStringDll));
    EXPECT_FALSE(Scope(1)->isVisible());
    TypeInto(HelpString(), "again");
    EXPECT_TRUE(Button(Field::Update)->isEnabled()) << "a later edit updates";
}

// The type pane of a type renamed with F2 while it is shown records the type
// by its new name: the edit replays.
TEST_F(HelpPanes, ATypeRenamedWhileShownIsEditedByItsNewName) {
    Open(true);
    Select(At("IShape"));
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_F2);
    QLineEdit* label = treetest::LabelEditor(Tree());
    ASSERT_TRUE(label);
    label->selectAll();
    QTest::keyClicks(label, "IFigure");
    QTest::keyClick(label, Qt::Key_Return);
    QCoreApplication::processEvents();
    ASSERT_EQ(view.ShownNode(), At("IFigure"));
    auto* options = static_cast<QListWidget*>(Button(Field::Options));
    options->setFocus();
    options->setCurrentRow(0);
    QTest::keyClick(options, Qt::Key_Space);
    Update();
    ExpectReplayAlike(2);
}

// Every help field is named for a screen reader and reached with one press of
// its caption's Alt+letter, which no other control of the window shares.
TEST_F(HelpPanes, HelpFieldsAreNamedAndReachedByTheirCaptions) {
    Open();
    ClickTab("Help");
    TypeInto(File(0), "new.chm");
    TypeInto(File(1), "new.dll");
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_H, "txtHelpString"},  {Qt::Key_X, "txtHelpContext0"},   {Qt::Key_O, "txtHelpContext1"},
        {Qt::Key_P, "txtHelpFile0"},   {Qt::Key_A, "cmbApplyFileName0"}, {Qt::Key_D, "txtHelpFile1"},
        {Qt::Key_T, "cmbApplyFileName1"}};
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    for (const auto& [key, name] : keys) {
        QWidget* field = Named<QWidget>(name);
        EXPECT_FALSE(field->accessibleName().isEmpty()) << name;
        QTest::keyClick(view.window(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), field) << name;
    }
}

// Pictures of both panes, light and dark, for a person to look at.
TEST_F(HelpPanes, Screenshots) {
    Open();
    const QPalette light = QApplication::palette();
    QTreeWidgetItem* widget = At("Widget");
    EnsureChildren(widget);
    for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", DarkPalette()}}) {
        QApplication::setPalette(palette);
        view.setPalette(palette);
        Select(At("IShape"));
        ClickTab("Help");
        TypeInto(File(0), "ishape.chm");
        TypeInto(Context(1), "1.5");
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-help-pane-") + theme);
        QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
        // A member, both scope rows shown.
        Select(At("IShape", "Zoom"));
        TypeInto(File(0), "zoom.chm");
        TypeInto(File(1), "zoom.dll");
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-member-help-pane-") + theme);
        QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
        Select(widget->child(1));
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-implemented-interface-pane-") + theme);
        Select(At("IShape"));
        ClickTab("Interface Type");
        // A property's Get with an invalid member ID, the Press on Let refused.
        Select(At("IShape", "Name"));
        TypeInto(static_cast<QLineEdit*>(view.MemberPaneField(editor::LibraryViewer::MemberField::MemberId)), "x");
        PressTab("Let");
        QCoreApplication::processEvents();
        dialogstest::SaveScreenshots(view, std::string("viewer-refused-tab-invalid-member-id-") + theme);
        QTest::mouseClick(Button(Field::Cancel), Qt::LeftButton);
    }
    QApplication::setPalette(light);
    view.setPalette(light);
}

// A library whose imports can't all be resolved takes a new help file for all
// its items: the regenerated library keeps its companion of placeholders.
TEST_F(HelpPanes, ALibraryWithUnresolvedImportsTakesANewHelpFile) {
    ComPtr<ITypeLib> dangling;
    ASSERT_OK(LoadTypeLib(
        ole::FromUtf8((fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb").string()).c_str(), dangling.put()));
    view.SetChangeListener(hub);
    view.show();
    view.CurrentITypeLib(dangling.get());
    ASSERT_TRUE(view.UnresolvedTypes());
    services.messages.clear();
    ClickTab("Help");
    TypeInto(File(0), "forms.chm");
    ChooseScope(0, HelpChange::kScopeLibrary);
    TypeInto(HelpString(), "Forms");
    Update();
    EXPECT_TRUE(services.messages.empty()) << Utf8(services.messages.empty() ? QString() : services.messages[0].first);
    EXPECT_EQ(Utf8(HelpIn(Lib()).HelpFile), "forms.chm");
    EXPECT_EQ(Utf8(HelpIn(Lib()).DocString), "Forms");
    EXPECT_TRUE(view.UnresolvedTypes());
}

}  // namespace
}  // namespace treetest

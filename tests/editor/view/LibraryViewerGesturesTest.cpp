// The library editor view: the tree's context-menu gestures, the splitter,
// the type pane's type chooser, the beeps of refused gestures, items the
// reader left out of a library, and the view's life beside its hub and host.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "dialogs/DialogTestSupport.h"
#include "changes/hub/ChangeListener.h"
#include "changes/kinds/RenameChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/SplitPane.h"
#include "platform/tlbengine/TypeLibData.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TliReading.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"

namespace treetest {
namespace {

using changestest::TypeTarget;
using Field = editor::LibraryViewer::Field;

// Answers the type chooser with a scripted type and notes what it was asked.
class ScriptedDialogs : public editor::ViewerDialogs {
public:
    editor::SpecifiedType answer;
    ComPtr<ITypeLib> addReference;  // referenced by the user in the dialog
    std::vector<int32_t> usages;
    std::u16string shownType;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t usage, int32_t, ITypeLib*,
                                      dialogs::LibraryCollection& referenced, tli::VarTypeInfo* current) override {
        usages.push_back(usage);
        shownType = current ? TypeName(current) : u"";
        if (addReference) referenced.push_back(addReference);
        return answer;
    }
    static std::u16string TypeName(tli::VarTypeInfo* type) {
        ComPtr<tli::TypeInfo> info;
        std::u16string name;
        if (SUCCEEDED(type->get_TypeInfo(info.put())) && info) info->get_Name(&name);
        return name;
    }
};

// Notes every request for the tree's context menu, and says it showed one.
class RecordingViewer : public editor::LibraryViewer {
public:
    struct Request {
        QTreeWidgetItem* node;
        QPoint at;
        bool fromKeyboard;
        QTreeWidgetItem* selected;  // the tree's current item when asked
    };
    std::vector<Request> requests;

protected:
    bool TreeMouseUp(QTreeWidgetItem* node, const QPoint& at, bool fromKeyboard) override {
        requests.push_back({node, at, fromKeyboard, Tree()->currentItem()});
        return true;
    }
};

ComPtr<CustomVarTypeInfo> TypeOf(ITypeLib* lib, const char16_t* name) {
    ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    type->CurrentITypeLib(lib);
    type->SetType(0, testsupport::TypeNamed(testsupport::InfoOf(lib).get(), name).get());
    return type;
}

// The name of the type a type of lib refers to: its base interface, or its alias target.
std::string ReferencedName(ITypeLib* lib, const char16_t* type) {
    ComPtr<ITypeInfo> info = changestest::TypeNamed(lib, type);
    TYPEATTR* attr = nullptr;
    EXPECT_OK(info->GetTypeAttr(&attr));
    if (!attr) return "";
    HREFTYPE ref = 0;
    HRESULT hr = S_OK;
    if (attr->typekind == TKIND_ALIAS)
        ref = attr->tdescAlias.hreftype;
    else if (attr->cImplTypes == 0)
        hr = E_FAIL;
    else
        hr = info->GetRefTypeOfImplType(0, &ref);
    info->ReleaseTypeAttr(attr);
    if (FAILED(hr)) return "(none)";
    ComPtr<ITypeInfo> target;
    EXPECT_OK(info->GetRefTypeInfo(ref, target.put()));
    ole::BSTR name = nullptr;
    EXPECT_OK(target->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    std::string text = ole::ToUtf8(std::u16string(name));
    ole::SysFreeString(name);
    return text;
}

class LibraryViewerGestures : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    LibraryViewerGestures() : scoped(services) { Make(std::make_unique<editor::LibraryViewer>()); }
    void Make(std::unique_ptr<editor::LibraryViewer> made) {
        view = std::move(made);
        view->SetChangeListener(hub);
        view->SetDialogs(&dialogs);
    }
    void Open() { view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get()); }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    QTreeWidgetItem* Selected() { return view->Tree()->currentItem(); }
    void ShowSized() {
        view->resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 28);
        view->show();
        QCoreApplication::processEvents();
    }
    void Choose(ComPtr<CustomVarTypeInfo> type) {
        dialogs.answer = {true, std::move(type)};
        QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    }
    QString TypeText() { return static_cast<QLineEdit*>(view->DetailsField(Field::SetType))->text(); }

    CountingServices services;
    dialogs::ScopedUiServices scoped;
    ScriptedDialogs dialogs;
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
};

// A right-click selects the node first; Shift+F10 and the Menu key ask for the
// menu of the selected node just below its text.
TEST_F(LibraryViewerGestures, ContextMenuOpensUnderTheSelectedNode) {
    auto* recording = new RecordingViewer;
    Make(std::unique_ptr<editor::LibraryViewer>(recording));
    Open();
    ShowSized();
    QTreeWidget* tree = view->Tree();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    const QRect cell = tree->visualItemRect(widget);
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, cell.center());
    ASSERT_EQ(recording->requests.size(), 1u);
    EXPECT_EQ(recording->requests[0].node, widget);
    EXPECT_EQ(recording->requests[0].selected, widget);
    EXPECT_FALSE(recording->requests[0].fromKeyboard);
    EXPECT_EQ(recording->requests[0].at, tree->viewport()->mapToGlobal(cell.center()));
    EXPECT_EQ(Selected(), widget);
    EXPECT_EQ(view->ShownNode(), widget);

    tree->setFocus();
    QTreeWidgetItem* base = Child(Root(), "IBase");
    tree->setCurrentItem(base);
    QTest::keyClick(tree, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(tree, Qt::Key_Menu);
    QTest::keyClick(tree, Qt::Key_F10);  // F10 alone asks nothing
    ASSERT_EQ(recording->requests.size(), 3u);
    const QRect row = tree->visualItemRect(base);
    const int icon = base->icon(0).actualSize(tree->iconSize()).width();
    for (size_t i : {1u, 2u}) {
        const auto& request = recording->requests[i];
        EXPECT_EQ(request.node, base);
        EXPECT_TRUE(request.fromKeyboard);
        const QPoint local = tree->viewport()->mapFromGlobal(request.at);
        EXPECT_GE(local.x(), row.left() + icon);  // past the icon, at the text
        EXPECT_LT(local.x(), row.left() + icon + tree->fontMetrics().averageCharWidth() * 3);
        EXPECT_GT(local.y(), row.bottom() - 2);   // just below the text
        EXPECT_LE(local.y(), row.bottom() + 3);
    }

    // While an edit is pending the tree is disabled: a right-click selects
    // nothing and says why.
    auto* options = static_cast<QListWidget*>(view->DetailsField(Field::Options));
    options->item(0)->setCheckState(options->item(0)->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    ASSERT_TRUE(view->InEditMode());
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, cell.center());
    EXPECT_EQ(Selected(), base);
    EXPECT_EQ(recording->requests.size(), 3u);
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(175)});
}

// A drag of the splitter moves it on release, stops 6 pixels from either
// edge, and Esc, wherever the focus is, ends it where it began.
TEST_F(LibraryViewerGestures, SplitterDragIsClampedAndEscEndsItWithoutMoving) {
    Open();
    ShowSized();
    auto* split = view->findChild<editor::SplitPane*>();
    ASSERT_TRUE(split);
    EXPECT_DOUBLE_EQ(split->Ratio(), 0.45);
    QWidget* handle = split->Handle();
    const auto mouse = [&](QEvent::Type type, int x) {
        QMouseEvent e(type, QPointF(x, 5), handle->mapToGlobal(QPointF(x, 5)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &e);
    };
    const int treeWidth = view->Tree()->width();
    view->Tree()->setFocus();
    mouse(QEvent::MouseButtonPress, 1);
    mouse(QEvent::MouseMove, 80);
    EXPECT_TRUE(split->Dragging());
    QTest::keyClick(view->Tree(), Qt::Key_Escape);
    EXPECT_FALSE(split->Dragging());
    mouse(QEvent::MouseButtonRelease, 80);  // the button comes up after the drag ended
    EXPECT_DOUBLE_EQ(split->Ratio(), 0.45);
    EXPECT_EQ(view->Tree()->width(), treeWidth);

    mouse(QEvent::MouseButtonPress, 1);
    mouse(QEvent::MouseButtonRelease, 80);
    EXPECT_GT(view->Tree()->width(), treeWidth + 60);
    mouse(QEvent::MouseButtonPress, 1);
    mouse(QEvent::MouseButtonRelease, -5000);
    EXPECT_NEAR(split->Ratio() * split->width(), editor::SplitPane::kMargin, 0.5);
    // The share holds across a resize.
    const double share = split->Ratio();
    view->resize(view->width() + 200, view->height());
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(split->Ratio(), share);
    mouse(QEvent::MouseButtonPress, 1);
    mouse(QEvent::MouseButtonRelease, 5000);
    EXPECT_NEAR(split->Ratio() * split->width(), split->width() - editor::SplitPane::kMargin, 0.5);
    EXPECT_EQ(services.beeps, 0);
}

// While an edit is pending, a click on the disabled tree or on another page
// is refused, saying why; so is a right-click on a base interface of this library.
TEST_F(LibraryViewerGestures, RefusedGesturesBeep) {
    Open();
    ShowSized();
    QTreeWidget* tree = view->Tree();
    tree->setCurrentItem(Child(Root(), "IDerived"));
    auto* setType = view->DetailsField(Field::SetType);
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(2, 2), setType->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(setType, &request);
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(181)});  // IBase lies in this library
    EXPECT_EQ(services.beeps, 0);
    services.messages.clear();
    EXPECT_FALSE(QApplication::activePopupWidget());
    tree->setCurrentItem(Child(Root(), "IBase"));
    QApplication::sendEvent(setType, &request);
    EXPECT_EQ(services.beeps, 0);  // IUnknown lies in another: its menu is offered
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    QStringList captions;
    for (QAction* action : menu->actions()) captions << action->text();
    EXPECT_EQ(captions, (QStringList{"&Internalize External Types", "&Redirect External Types"}));
    menu->close();
    tree->setCurrentItem(Child(Root(), "IDerived"));

    auto* options = static_cast<QListWidget*>(view->DetailsField(Field::Options));
    options->item(0)->setCheckState(Qt::Checked);
    ASSERT_TRUE(view->InEditMode());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(Root()).center());
    EXPECT_EQ(services.messages, std::vector<QString>{dialogs::ResText(175)});  // the pending edit, said
    EXPECT_EQ(Selected(), Child(Root(), "IDerived"));
    QApplication::sendEvent(setType, &request);
    EXPECT_EQ(services.beeps, 1);
    auto* tabs = view->findChild<QTabBar*>();
    tabs->addTab(QStringLiteral("Another"));  // as a page the pane may offer
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(services.messages, std::vector<QString>(2, dialogs::ResText(175)));
    EXPECT_EQ(tabs->currentIndex(), 0);
    QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(services.messages.size(), 2u);
}

// The type chooser of the type pane: a new base interface and a new alias
// target reach the library and the saved file; the filled type chosen again,
// or a cancel, leaves the pane as it was.
TEST_F(LibraryViewerGestures, ChoosingABaseInterfaceAndAnAliasTargetReachesTheSavedFile) {
    TempDir dir;
    Open();
    ShowSized();
    ComPtr<ITypeLib> referenced = AsTypeLib(BuildAllKinds().get());
    dialogs.addReference = referenced;
    view->Tree()->setCurrentItem(Child(Root(), "IDerived"));
    EXPECT_EQ(Utf8(TypeText()), "IBase");

    Choose(TypeOf(Lib(), u"IBase"));  // the filled type, described anew
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(dialogs.usages, std::vector<int32_t>{1});
    EXPECT_EQ(dialogs.shownType, u"IBase");
    EXPECT_EQ(view->ReferencedLibraryCount(), 1u);  // the user's reference stays
    dialogs.addReference = nullptr;
    dialogs.answer = {false, nullptr};
    QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    EXPECT_FALSE(view->InEditMode());

    Choose(nullptr);  // no base interface
    EXPECT_EQ(TypeText(), dialogs::ResText(765));
    EXPECT_TRUE(view->InEditMode());
    QTest::mouseClick(view->DetailsField(Field::Cancel), Qt::LeftButton);
    EXPECT_EQ(Utf8(TypeText()), "IBase");

    Choose(TypeOf(Lib(), u"IShape"));
    EXPECT_EQ(Utf8(TypeText()), "IShape");
    EXPECT_TRUE(view->InEditMode());
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(ReferencedName(Lib(), u"IDerived"), "IShape");
    EXPECT_EQ(Selected(), Child(Root(), "IDerived"));

    // An alias takes no "nothing": its chooser is asked for an alias target.
    view->Tree()->setCurrentItem(Child(Root(), "BaseAlias"));
    EXPECT_EQ(Utf8(TypeText()), "IBase");
    Choose(nullptr);
    EXPECT_FALSE(view->InEditMode());
    Choose(TypeOf(Lib(), u"Either"));
    EXPECT_EQ(dialogs.usages.back(), 9);
    EXPECT_EQ(Utf8(TypeText()), "Either");
    QTest::keyClick(view->DetailsField(Field::Update), Qt::Key_Space);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(ReferencedName(Lib(), u"BaseAlias"), "Either");

    // Double-clicking the type field opens the chooser too.
    const size_t asked = dialogs.usages.size();
    dialogs.answer = {false, nullptr};
    QTest::mouseDClick(view->DetailsField(Field::SetType), Qt::LeftButton);
    EXPECT_EQ(dialogs.usages.size(), asked + 1);

    const std::u16string saved = ole::FromUtf8((dir / "saved.tlb").string());
    view->SaveCurrentLibrary(saved);
    ComPtr<ITypeLib> reloaded;
    ASSERT_OK(LoadTypeLib(saved.c_str(), reloaded.put()));
    EXPECT_EQ(ReferencedName(reloaded.get(), u"IDerived"), "IShape");
    EXPECT_EQ(ReferencedName(reloaded.get(), u"BaseAlias"), "Either");

    // An interface left without a base shows so; "none" chosen again is no edit.
    view->Tree()->setCurrentItem(Child(Root(), "IDerived"));
    Choose(nullptr);
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    EXPECT_EQ(ReferencedName(Lib(), u"IDerived"), "(none)");
    EXPECT_EQ(TypeText(), dialogs::ResText(765));
    Choose(nullptr);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_TRUE(services.messages.empty());
}

// A library holding a custom data item whose value type no reader can read
// loads without it; the view says so once, and a save drops it.
TEST_F(LibraryViewerGestures, ItemsTheReaderLeftOutAreNamedOnceAndASaveDropsThem) {
    TempDir dir;
    const std::filesystem::path in = dir / "in.tlb";
    constexpr GUID kUnread = {0x6d1a0f01, 0x1c2b, 0x4d3e, {0x8f, 0x90, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6}};
    constexpr GUID kKept = {0x6d1a0f02, 0x1c2b, 0x4d3e, {0x8f, 0x90, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6}};
    {
        ComPtr<ICreateTypeLib2> created = BuildAllKinds(ole::FromUtf8(in.string()));
        DECIMAL dec{};
        dec.Lo64 = 0xD00D;
        ole::Variant unread(dec);
        ole::Variant kept(int32_t(7));
        ASSERT_OK(created->SetCustData(kUnread, &unread.get()));
        ASSERT_OK(created->SetCustData(kKept, &kept.get()));
        ASSERT_OK(created->SaveAllChanges());
    }
    std::vector<std::byte> bytes = ReadBytes(in);
    const std::byte entry[] = {std::byte{VT_DECIMAL}, std::byte{0}, std::byte{0x0D}, std::byte{0xD0}};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(at, bytes.end());
    *at = std::byte{0x40};  // a FILETIME, which no reader can read
    const std::filesystem::path patched = dir / "patched.tlb";
    std::ofstream(patched, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8(patched.string()).c_str(), loaded.put()));

    view->CurrentITypeLib(loaded.get());
    ASSERT_EQ(services.messages.size(), 1u);
    const QString& message = services.messages[0];
    EXPECT_TRUE(message.contains(dialogs::ToQString(ole::GuidToString(kUnread)))) << message.toStdString();
    EXPECT_FALSE(message.contains(dialogs::ToQString(ole::GuidToString(kKept))));
    EXPECT_TRUE(message.contains(QStringLiteral("value type 64")));
    EXPECT_TRUE(message.contains(QStringLiteral("saving the type library drops them")));
    EXPECT_EQ(services.styles[0], dialogs::kStyleExclamation);
    EXPECT_EQ(view->Tree()->topLevelItemCount(), 1);

    // The view's own library and the saved file hold the readable item only.
    view->AttachITypeLib(Lib());
    EXPECT_EQ(services.messages.size(), 1u);
    const std::u16string saved = ole::FromUtf8((dir / "saved.tlb").string());
    view->SaveCurrentLibrary(saved);
    ComPtr<ITypeLib> reloaded;
    ASSERT_OK(LoadTypeLib(saved.c_str(), reloaded.put()));
    std::vector<ole::UnreadCustData> unread{{}};
    ASSERT_OK(ole::GetUnreadCustData(reloaded.get(), &unread));
    EXPECT_TRUE(unread.empty());
    VARIANT value{};
    ASSERT_OK(reloaded.As<ITypeLib2>()->GetCustData(kKept, &value));
    EXPECT_EQ(value.vt, VT_I4);
    VARIANT gone{};
    ASSERT_OK(reloaded.As<ITypeLib2>()->GetCustData(kUnread, &gone));
    EXPECT_EQ(gone.vt, VT_EMPTY);
    view->CurrentITypeLib(reloaded.get());
    EXPECT_EQ(services.messages.size(), 1u);
}

// Leaving the hub ends the view's registration: later changes at the hub
// reach it no more.
TEST_F(LibraryViewerGestures, AViewHearsTheHubItJoinedLastAndNoneAfterLeaving) {
    Open();
    QTreeWidgetItem* base = Child(Root(), "IBase");
    auto rename = modRenameChange::NewRenameChange(false);
    const auto renameAt = [&](ChangeListener* at, const char16_t* from, const char16_t* to) {
        rename->NewName(to);
        ChangeTarget target = TypeTarget(Lib(), from);
        ASSERT_TRUE(rename->Apply(*view->CurrentCustomTypeLib(), nullptr, target, at, 2));
    };
    auto second = std::make_shared<ChangeListener>();
    view->SetChangeListener(second);
    EXPECT_EQ(view->HubListener(), second);
    renameAt(second.get(), u"IBase", u"ISecond");
    EXPECT_EQ(Utf8(base->text(0)), "ISecond");
    EXPECT_EQ(Selected(), base);

    view->Tree()->setCurrentItem(Root());
    view->SetChangeListener(nullptr);
    EXPECT_FALSE(view->HubListener());
    renameAt(second.get(), u"ISecond", u"IThird");
    renameAt(hub.get(), u"IThird", u"IFourth");
    EXPECT_EQ(Utf8(base->text(0)), "ISecond");
    EXPECT_EQ(Selected(), Root());
}

// Minimising the window that hosts the view hides it spontaneously: the tree
// and the pane come back unchanged.
TEST_F(LibraryViewerGestures, MinimisingTheHostLeavesTreeAndPaneAsTheyWere) {
    Open();
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    layout->addWidget(view.get());
    host.resize(view->fontMetrics().averageCharWidth() * 130, view->fontMetrics().height() * 28);
    host.show();
    QCoreApplication::processEvents();
    QTreeWidgetItem* widget = Child(Root(), "Widget");
    view->Tree()->setCurrentItem(widget);
    const std::string tree = ChildTexts(Root());
    const QString version = static_cast<QLineEdit*>(view->DetailsField(Field::Version))->text();
    struct HideCounter : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Hide && event->spontaneous()) ++count;
            return false;
        }
    } hides;
    view->installEventFilter(&hides);
    host.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_EQ(hides.count, 1);  // hidden with the window, spontaneously
    host.showNormal();
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(ChildTexts(Root()), tree);
    EXPECT_EQ(Selected(), widget);
    EXPECT_EQ(view->ShownNode(), widget);
    EXPECT_EQ(view->EditKind(), TKIND_COCLASS * 256 + 258);
    EXPECT_EQ(static_cast<QLineEdit*>(view->DetailsField(Field::Version))->text(), version);
    layout->removeWidget(view.get());
    view->setParent(nullptr);
}

// Pictures of the view on the standard library for a person to look at:
// library, interface and member selected, on a light and a dark palette.
TEST_F(LibraryViewerGestures, ScreenshotsOfTheStandardLibrary) {
    ComPtr<ITypeLib> standard;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, standard.put()));
    view->CurrentITypeLib(standard.get());
    ShowSized();
    QTreeWidgetItem* font = Child(Root(), "IFont");
    ASSERT_TRUE(font);
    EnsureChildren(font);
    const std::pair<const char*, QTreeWidgetItem*> selections[] = {
        {"library", Root()}, {"type", font}, {"member", Child(font, "Name")}};
    const QPalette light = QApplication::palette();
    for (const auto& [name, node] : selections) {
        ASSERT_TRUE(node) << name;
        view->Tree()->setCurrentItem(node);
        for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", DarkPalette()}}) {
            QApplication::setPalette(palette);
            view->setPalette(palette);
            QCoreApplication::processEvents();
            dialogstest::SaveScreenshots(*view, std::string("viewer-stdole2-") + name + "-" + theme);
        }
    }
    // The member pane shows the property's type.
    EXPECT_EQ(Utf8(TypeText()), "BSTR");
    QApplication::setPalette(light);
    view->setPalette(light);
}

}  // namespace
}  // namespace treetest

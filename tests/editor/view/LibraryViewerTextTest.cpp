// The view refuses names the file can't hold, and a failed Update says why.
#include "editor/TreeTestSupport.h"
#include "editor/ViewerTestSupport.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

#include "changes/ChangesTestSupport.h"
#include "dialogs/DialogTestSupport.h"
#include "editor/view/LibraryViewer.h"
#include "editor/view/ViewerDialogs.h"

namespace treetest {
namespace {

using dialogstest::FakeServices;
using Field = editor::LibraryViewer::Field;

// The type dialog answers with the type named pick.
class PickDialogs : public editor::ViewerDialogs {
public:
    explicit PickDialogs(editor::LibraryViewer& view) : view_(view) {}
    std::u16string pick;
    bool ChangeGuid(QWidget*, ole::GUID&) override { return false; }
    editor::SpecifiedType SpecifyType(QWidget*, int32_t, int32_t, ole::ITypeLib*, dialogs::LibraryCollection&,
                                      tli::VarTypeInfo*) override {
        return {true, TypeChosen(view_.CurrentLibraryITypeLib().get(), pick)};
    }

private:
    editor::LibraryViewer& view_;
};

class ViewerText : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ViewerText() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
        dialogs = std::make_unique<PickDialogs>(*view);
        view->SetDialogs(dialogs.get());
        view->CurrentITypeLib(changestest::Shapes().get());
        view->show();
        services.messages.clear();
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }

    FakeServices services;
    dialogs::ScopedUiServices scoped{services};
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
    std::unique_ptr<PickDialogs> dialogs;
};

// LongPtr (long*) given LongPtrAlias (an alias of LongPtr) as its target:
// the update fails with TYPE_E_CIRCULARTYPE, and 933's second line says what
// that means, not only its code.
TEST_F(ViewerText, AFailedUpdateOfACircularAliasSaysWhy) {
    const std::string before = changestest::Dump(Lib());
    view->Tree()->setCurrentItem(Child(Root(), "LongPtr"));
    dialogs->pick = u"LongPtrAlias";
    QTest::mouseClick(view->DetailsField(Field::ChooseType), Qt::LeftButton);
    ASSERT_TRUE(view->InEditMode());
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 1u);
    const QStringList lines = services.messages[0].first.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << Utf8(services.messages[0].first);
    EXPECT_EQ(lines[0], dialogs::ResText(933));
    EXPECT_FALSE(ErrorNumberText(TYPE_E_CIRCULARTYPE).empty());
    EXPECT_FALSE(lines[1].startsWith(QStringLiteral("Error 0x"))) << Utf8(lines[1]);
    EXPECT_EQ(changestest::Dump(Lib()), before);
}

// A label pasted with a NUL inside ("Zed\0X") is refused: the library would
// store "Zed" while the tree showed the whole pasted text.
TEST_F(ViewerText, APastedLabelWithANulInsideIsRefused) {
    Playback history;
    history.ChangeListener(hub);
    history.CurrentITypeLib(Lib());
    const std::string before = changestest::Dump(Lib());
    QTreeWidget* tree = view->Tree();
    tree->setCurrentItem(Child(Root(), "Matrix"));
    QGuiApplication::clipboard()->setText(QString::fromUtf16(u"Zed\0X", 5));
    QTest::keyClick(tree, Qt::Key_F2);
    QLineEdit* editor = treetest::LabelEditor(tree);
    ASSERT_TRUE(editor);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();

    EXPECT_EQ(services.messages.size() + static_cast<size_t>(services.beeps), 1u);
    EXPECT_TRUE(Child(Root(), "Matrix"));
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(history.ItemCount(), 0);
}

}  // namespace
}  // namespace treetest

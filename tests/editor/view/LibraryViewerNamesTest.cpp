// The library editor view refusing what a library file can't hold: a label
// typed with a character outside the file's code page, or a name taken, is
// refused with a message naming it, names the code page holds replay in batch mode, and a
// failed Update says why it failed.
#include "editor/TreeTestSupport.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app/modCorvaneExe.h"
#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "dialogs/DialogTestSupport.h"
#include "editor/view/LibraryViewer.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace treetest {
namespace {

using dialogstest::FakeServices;
using Field = editor::LibraryViewer::Field;

// Types text as key presses that carry any character (a pair of codes as one key).
void TypeText(QWidget* field, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QString key = text.mid(i, text[i].isHighSurrogate() ? 2 : 1);
        i += key.size() - 1;
        QTest::sendKeyEvent(QTest::Press, field, Qt::Key_unknown, key, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, field, Qt::Key_unknown, key, Qt::NoModifier);
    }
}

class ViewerNames : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ViewerNames() : scoped(services) {
        view = std::make_unique<editor::LibraryViewer>();
        view->SetChangeListener(hub);
    }
    ITypeLib* Lib() { return view->CurrentLibraryITypeLib().get(); }
    QTreeWidgetItem* Root() { return view->Tree()->topLevelItem(0); }
    // Shows lib (the library with every kind of type when none) with history recording its edits.
    void Show(ITypeLib* lib = nullptr) {
        view->CurrentITypeLib(lib ? lib : AsTypeLib(BuildAllKinds().get()).get());
        view->show();
        history.ChangeListener(hub);
        history.CurrentITypeLib(Lib());
    }

    // F2 on node, the label replaced by text, Enter.
    void Rename(QTreeWidgetItem* node, const QString& text) {
        QTreeWidget* tree = view->Tree();
        QCoreApplication::processEvents();
        tree->setCurrentItem(node);
        QTest::keyClick(tree, Qt::Key_F2);
        QLineEdit* editor = treetest::LabelEditor(tree);
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Backspace);
        TypeText(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    FakeServices services;
    dialogs::ScopedUiServices scoped{services};
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    std::unique_ptr<editor::LibraryViewer> view;
    Playback history;
};

TEST_F(ViewerNames, ALabelWithACharacterTheFileCantHoldIsRefusedByName) {
    Show();
    const std::string before = changestest::Dump(Lib());

    Rename(Child(Root(), "Widget"), QString::fromUtf8("FinЖ"));
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].first.contains(QString::fromUtf8("'Ж' (U+0416)")))
        << Utf8(services.messages[0].first);
    EXPECT_EQ(services.messages[0].second, dialogs::kStyleError);
    ASSERT_TRUE(Child(Root(), "Widget"));
    EXPECT_FALSE(Child(Root(), "FinЖ"));
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(history.ItemCount(), 0);

    // A member; a character beyond the basic plane is named whole.
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    EnsureChildren(derived);
    Rename(Child(derived, "Go"), QString::fromUtf8("Go😀"));
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_TRUE(services.messages[1].first.contains(QString::fromUtf8("'😀' (U+1F600)")))
        << Utf8(services.messages[1].first);
    EXPECT_TRUE(Child(derived, "Go"));
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(history.ItemCount(), 0);
    EXPECT_EQ(services.beeps, 0);

    // Letters and signs of the code page are taken as typed.
    Rename(Child(Root(), "Widget"), QString::fromUtf8("Größe€"));
    EXPECT_TRUE(changestest::TypeNamed(Lib(), u"Größe€"));
    EXPECT_TRUE(Child(Root(), "Größe€"));
    EXPECT_EQ(history.ItemCount(), 1);
    EXPECT_EQ(services.messages.size(), 2u);
}

// A rename to the name of another type, or of a member of the interface's
// base, or to no name, keeps the old name and says why, naming both names;
// nothing is changed or recorded.
TEST_F(ViewerNames, ARenameToATakenNameOrToNoNameSaysWhy) {
    Show();
    const std::string before = changestest::Dump(Lib());
    QTreeWidgetItem* derived = Child(Root(), "IDerived");
    EnsureChildren(derived);
    Rename(Child(Root(), "Widget"), QStringLiteral("IBase"));
    Rename(Child(derived, "Go"), QStringLiteral("Alpha"));
    Rename(Child(Root(), "Widget"), QStringLiteral(" "));
    const auto said = [](const char* was, const char* typed, HRESULT why) {
        return dialogs::ResText(176)
            .replace(QStringLiteral("|1"), QString::fromUtf8(was))
            .replace(QStringLiteral("|2"), QString::fromUtf8(typed))
            .replace(QStringLiteral("|3"), dialogs::ToQString(ErrorReportText(ErrorRecord(why))));
    };
    ASSERT_EQ(services.messages.size(), 3u);
    EXPECT_EQ(services.messages[0].first, said("Widget", "IBase", TYPE_E_NAMECONFLICT));
    EXPECT_EQ(services.messages[1].first, said("Go", "Alpha", TYPE_E_AMBIGUOUSNAME));
    EXPECT_EQ(services.messages[2].first, dialogs::ResText(177).replace(QStringLiteral("|1"), QStringLiteral("Widget")));
    EXPECT_EQ(services.messages[2].second, dialogs::kStyleError);
    EXPECT_EQ(services.beeps, 0);
    EXPECT_TRUE(Child(Root(), "Widget"));
    EXPECT_TRUE(Child(derived, "Go"));
    EXPECT_EQ(changestest::Dump(Lib()), before);
    EXPECT_EQ(history.ItemCount(), 0);
}

// The refusal shown as users see it, in a modal message they close: the label
// editor is gone by then, and the tree has the focus back for the keys.
TEST_F(ViewerNames, AfterARefusedRenameTheTreeHasTheFocus) {
    struct Modal : FakeServices {
        dialogs::MessageAnswer MessageBox(QWidget* owner, const QString& text, int32_t style) override {
            FakeServices::MessageBox(owner, text, style);
            QMessageBox box(QMessageBox::Critical, QString(), text, QMessageBox::Ok, owner);
            QTimer::singleShot(0, &box, [&box] { QTest::keyClick(&box, Qt::Key_Return); });
            box.exec();
            return dialogs::kAnswerOk;
        }
    } modal;
    const dialogs::ScopedUiServices shown(modal);
    view->CurrentITypeLib(AsTypeLib(BuildAllKinds().get()).get());
    view->show();
    view->Tree()->setFocus();
    for (const char* typed : {"IBase", " ", "\u5B57"}) {
        Rename(Child(Root(), "Widget"), QString::fromUtf8(typed));
        EXPECT_EQ(view->focusWidget(), view->Tree()) << typed;
    }
    EXPECT_EQ(modal.messages.size(), 3u);
    EXPECT_TRUE(Child(Root(), "Widget"));
}

// Renames to names of the code page are recorded as typed: batch mode replays
// them, the second finding the type under the first's name, to the same file.
TEST_F(ViewerNames, RenamesInTheCodePageReplayInBatchModeToTheSameFile) {
    TempDir dir;
    const std::string in = (dir / "in.tlb").string();
    ASSERT_OK(BuildAllKinds(ole::FromUtf8(in))->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8(in).c_str(), loaded.put()));
    Show(loaded.get());

    Rename(Child(Root(), "Widget"), QString::fromUtf8("FinЖ"));  // refused, not recorded
    Rename(Child(Root(), "Widget"), QString::fromUtf8("Größe€"));
    Rename(Child(Root(), "Größe€"), QString::fromUtf8("Straße‰"));
    ASSERT_EQ(history.ItemCount(), 2);
    ASSERT_TRUE(history.SaveState(ole::FromUtf8(dir.path().string()), u"names.leh"));
    view->SaveCurrentLibrary(ole::FromUtf8((dir / "view.tlb").string()));
    ASSERT_EQ(modCorvaneExe::Main({"-q", "-leh", (dir / "names.leh").string(), "-tlb", in, "-saveas",
                                   (dir / "batch.tlb").string()},
                                  {}),
              0);
    EXPECT_EQ(ReadBytes(dir / "view.tlb"), ReadBytes(dir / "batch.tlb"));
    ComPtr<ITypeLib> batch;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "batch.tlb").string()).c_str(), batch.put()));
    EXPECT_TRUE(changestest::TypeNamed(batch.get(), u"Straße‰"));
}

// Holder given the GUID of IStays: the update fails, and message 933 says why
// on its second line.
TEST_F(ViewerNames, AFailedUpdateGivesTheReason) {
    ComPtr<ITypeLib> dangling;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb")
                                            .string()).c_str(),
                          dangling.put()));
    view->CurrentITypeLib(dangling.get());
    view->show();
    services.messages.clear();  // the announcement of the unresolved import
    const std::string before = changestest::Dump(Lib());
    view->Tree()->setCurrentItem(Child(Root(), "Holder"));
    services.modal = [](QDialog& d) {
        d.findChild<QLineEdit*>("txtGUID")->setText(QStringLiteral("{5E1A1401-0000-4000-8000-000000000011}"));
        d.findChild<QPushButton*>("cmdAll3")->click();
    };
    QTest::mouseClick(view->DetailsField(Field::ChangeGuid), Qt::LeftButton);
    ASSERT_TRUE(view->InEditMode());
    QTest::mouseClick(view->DetailsField(Field::Update), Qt::LeftButton);

    ASSERT_EQ(services.messages.size(), 1u);
    const QStringList lines = services.messages[0].first.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << Utf8(services.messages[0].first);
    EXPECT_EQ(lines[0], dialogs::ResText(933));
    // The text of the platform's error, with its code.
    EXPECT_EQ(lines[1], dialogs::ToQString(ErrorNumberText(TYPE_E_DUPLICATEID)) + QStringLiteral(" (0x800288C6)"));
    EXPECT_EQ(services.messages[0].second, dialogs::kStyleError);
    EXPECT_FALSE(view->InEditMode());
    EXPECT_EQ(changestest::Dump(Lib()), before);
}

}  // namespace
}  // namespace treetest

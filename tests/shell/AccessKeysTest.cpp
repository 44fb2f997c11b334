// The access keys of every window, pressed as a keyboard user presses them:
// the main window on each details page and on the help page, in and out of
// edit mode, the history window, and the dialogs the main window opens. A key
// must reach the control whose caption shows it, and it alone. Inside one
// open menu a letter may repeat (the key moves between the items); an open
// menu is no part of the walk.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "RecorderTestSupport.h"
#include "changes/history/Playback.h"
#include "editor/ViewerTestSupport.h"
#include "editor/view/LibraryViewer.h"
#include "shell/frmChooseName.h"
#include "shell/frmCorvane.h"
#include "support/AccessKeys.h"
#include "support/DarkTheme.h"
#include "support/ShapesLibrary.h"
#include "support/TempDir.h"

namespace {

using namespace shelltest;
using zephrin::shell::SharedRecorderWindows;
using ole::ComPtr;
using ole::ICreateTypeLib2;
using testsupport::BuildShapes;
using zephrin::editor::LibraryViewer;
using zephrin::editor::MenuItem;
using zephrin::shell::frmChooseName;
using zephrin::shell::frmCorvane;
using zephrin::shell::frmRecorder;
using Field = LibraryViewer::Field;
namespace fs = std::filesystem;

class AccessKeys : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    AccessKeys() : scoped(services) {
        ComPtr<ICreateTypeLib2> lib = BuildShapes(ole::FromUtf8((dir / "shapes.tlb").string()));
        EXPECT_OK(lib->SaveAllChanges());
        // Every dialog shown is walked, then closed.
        services.modal = [this](QDialog& dialog) {
            dialog.show();
            QCoreApplication::processEvents();
            Walk(dialog, dialog.metaObject()->className());
            if (during) during(dialog);
            dialog.reject();
        };
    }
    ~AccessKeys() override {
        delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void OpenMain() {
        window = new frmCorvane;
        window->Init(nullptr, ole::FromUtf8((dir / "shapes.tlb").string()), nullptr, nullptr, false, nullptr);
        window->resize(window->fontMetrics().averageCharWidth() * 120, window->fontMetrics().height() * 36);
        window->show();
        QCoreApplication::processEvents();
    }
    LibraryViewer& View() { return *window->Viewer(); }
    QTreeWidgetItem* At(const char* type = nullptr, const char* member = nullptr, const char* param = nullptr) {
        if (!type) return View().Tree()->topLevelItem(0);
        return treetest::NodeAt(View().Tree(), type, member, param);
    }
    void Walk(QWidget& shown, const std::string& where) {
        ++walked;
        places.push_back(where);
        for (std::string& fault : testsupport::AccessKeyFaults(shown, where)) faults.push_back(std::move(fault));
    }
    // The main window on node's page, then on its help page; each also in edit mode.
    void WalkPages(QTreeWidgetItem* node, const std::string& where) {
        ASSERT_TRUE(node) << where;
        treetest::ClickNode(View().Tree(), node);
        auto* tabs = View().findChild<QTabBar*>();
        ASSERT_TRUE(tabs);
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            QCoreApplication::processEvents();
            const std::string page = where + " / " + tabs->tabText(tab).toStdString();
            Walk(*window, page);
            // An edit pending enables Update and Cancel, with their keys.
            if (QLineEdit* field = EditableField()) {
                field->setText(field->text() + QStringLiteral("9"));
                EXPECT_TRUE(View().InEditMode()) << page;
                Walk(*window, page + " (editing)");
                QTest::mouseClick(View().DetailsField(Field::Cancel), Qt::LeftButton);
                ASSERT_FALSE(View().InEditMode()) << page;
            }
        }
        tabs->setCurrentIndex(0);
    }
    // A text field of the page shown that the user may type into, or null.
    QLineEdit* EditableField() {
        for (QLineEdit* field : View().findChildren<QLineEdit*>())
            if (field->isVisible() && field->isEnabled() && !field->isReadOnly() &&
                !qobject_cast<QComboBox*>(field->parentWidget()))
                return field;
        return nullptr;
    }

    testsupport::TempDir dir;
    shelltest::ScriptedServices services;
    dialogs::ScopedUiServices scoped;
    QPointer<frmCorvane> window;
    std::function<void(QDialog&)> during;  // runs in each dialog after its walk
    std::vector<std::string> faults;
    int walked = 0;
    std::vector<std::string> places;  // every window and page walked
};

TEST_F(AccessKeys, EveryKeyOfTheMainWindowReachesItsOwnControlOnEveryPage) {
    OpenMain();
    const std::pair<const char*, QTreeWidgetItem*> pages[] = {
        {"library", At()},
        {"enum", At("Colors")},
        {"enum value", At("Colors", "Green")},
        {"module", At("Kernel")},
        {"module function", At("Kernel", "Beep")},
        {"module function parameter", At("Kernel", "Beep", "freq")},
        {"module constant", At("Kernel", "Answer")},
        {"record", At("Matrix")},
        {"record field", At("Matrix", "one")},
        {"interface", At("IShape")},
        {"property", At("IShape", "Name")},
        {"method", At("IShape", "Fill")},
        {"parameter", At("IShape", "Fill", "count")},
        {"return value", At("IShape", "Area", "area")},
        {"dispinterface", At("DShapeEvents")},
        {"dispinterface property", At("DShapeEvents", "Visible")},
        {"alias", At("ShapeAlias")},
        {"coclass", At("Shape")},
    };
    for (const auto& [where, node] : pages) WalkPages(node, where);
    QTreeWidgetItem* coclass = At("Shape");
    treetest::EnsureChildren(coclass);
    ASSERT_GT(coclass->childCount(), 0);
    WalkPages(coclass->child(0), "implemented interface");
    EXPECT_GE(walked, 40);
    EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
}

// The pages a host's filter leaves in part disabled, and the pane of a
// property's parameter with a tab for each accessor, keep their keys apart.
TEST_F(AccessKeys, EveryKeyReachesItsOwnControlUnderAHostsFilterAndOnAPropertysParameter) {
    OpenMain();
    zephrin::editor::CommandFilterRecord filter;
    filter.FilterOn = 1;
    filter.LibraryCommands = zephrin::editor::kFilterLibLcid;
    filter.LibraryFlags = ole::LIBFLAG_FHIDDEN;
    const std::pair<const char*, QTreeWidgetItem*> pages[] = {
        {"property value", At("IShape", "Name", "name")},
        {"record field", At("Matrix", "shape")},
    };
    for (const auto& [where, node] : pages) WalkPages(node, where);
    View().CommandFilter(filter);
    const std::pair<const char*, QTreeWidgetItem*> filtered[] = {
        {"filtered library", At()},
        {"filtered interface", At("IShape")},
        {"filtered property", At("IShape", "Name")},
        {"filtered parameter", At("IShape", "Fill", "count")},
        {"filtered coclass", At("Shape")},
    };
    for (const auto& [where, node] : filtered) WalkPages(node, where);
    EXPECT_GE(walked, 14);
    EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
}

TEST_F(AccessKeys, EveryKeyOfTheHistoryWindowAndTheDialogsReachesItsOwnControl) {
    OpenMain();
    // The history window.
    auto* history = new frmRecorder;
    SharedRecorderWindows windows;
    history->InitFromEditor(windows, std::make_shared<ChangeListener>(), View().CurrentITypeLib().get());
    QCoreApplication::processEvents();
    Walk(*history, "history window");
    history->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The type dialogs: a member's, a parameter's (flags, pointers and
    // arrays shown), with the references dialog opened from it; a base
    // interface's.
    during = [this](QDialog& dialog) {
        if (auto* refs = dialog.findChild<QPushButton*>(QStringLiteral("cmdRefs"))) {
            const auto outer = during;
            during = nullptr;
            refs->click();
            during = outer;
        }
    };
    for (QTreeWidgetItem* node : {At("IShape", "Fill"), At("IShape", "Fill", "count"), At("IShape")}) {
        treetest::ClickNode(View().Tree(), node);
        QTest::mouseClick(View().DetailsField(Field::ChooseType), Qt::LeftButton);
    }
    during = nullptr;
    // The GUID dialog.
    treetest::ClickNode(View().Tree(), At());
    QTest::mouseClick(View().DetailsField(Field::ChangeGuid), Qt::LeftButton);
    // The order dialogs, the custom data and the external types.
    treetest::ClickNode(View().Tree(), At());
    View().RunMenuCommand(MenuItem::mnuTypeOrder);
    View().RunMenuCommand(MenuItem::mnuExternalTypes);
    View().RunMenuCommand(MenuItem::mnuCustData);
    QCoreApplication::processEvents();
    treetest::ClickNode(View().Tree(), At("IShape"));
    View().RunMenuCommand(MenuItem::mnuVTableOrder);
    treetest::ClickNode(View().Tree(), At("Matrix"));
    View().RunMenuCommand(MenuItem::mnuVarOrder);
    QCoreApplication::processEvents();
    // The dialog that asks for another name.
    frmChooseName chooser(window);
    chooser.ChooseName({u"", u"Cannot find a Function named 'Gone'. Please choose another procedure.",
                        {{u"First", 1}, {u"Second", 2}}});

    for (const char* dialog : {"frmSpecifyType", "frmReferences", "frmGenerateGuid", "frmTypeOrder", "frmExternalTypes",
                               "frmCustData", "frmVTableOrder", "frmVarOrder", "frmChooseName"})
        EXPECT_TRUE(std::any_of(places.begin(), places.end(),
                                [&](const std::string& place) { return place.find(dialog) != std::string::npos; }))
            << dialog;
    EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
}

// Pictures of the windows whose captions and texts changed, light and dark
// (and, run with QT_SCALE_FACTOR=2, at twice the scale), for a person to look
// at: the help page, the type dialog of a dual's property with the
// references dialog over it, a marked field, and a narrow history window.
TEST_F(AccessKeys, Screenshots) {
    const char* factor = std::getenv("QT_SCALE_FACTOR");
    const std::string scale = factor && std::string(factor) != "1" ? std::string("-scale") + factor : "";
    std::filesystem::copy_file(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "dispatch.tlb",
                               dir / "dispatch.tlb");
    window = new frmCorvane;
    window->Init(nullptr, ole::FromUtf8((dir / "dispatch.tlb").string()), nullptr, nullptr, false, nullptr);
    window->resize(window->fontMetrics().averageCharWidth() * 110, window->fontMetrics().height() * 30);
    window->show();
    QCoreApplication::processEvents();
    const QPalette light = QApplication::palette();
    std::string theme;
    services.modal = [&](QDialog& dialog) {
        dialog.show();
        QCoreApplication::processEvents();
        const std::string name = dialog.metaObject()->className();
        if (name.find("frmSpecifyType") != std::string::npos) {
            SaveScreenshots(dialog, "access-retval-type-dialog-" + theme + scale);
            if (auto* refs = dialog.findChild<QPushButton*>(QStringLiteral("cmdRefs"))) refs->click();
        } else {
            SaveScreenshots(dialog, "access-references-dialog-" + theme + scale);
        }
        dialog.reject();
    };
    for (const auto& [name, palette] : {std::pair{"light", light}, std::pair{"dark", testsupport::DarkPalette()}}) {
        theme = name;
        QApplication::setPalette(palette);
        window->setPalette(palette);
        treetest::ClickNode(View().Tree(), At("IFixedDual", "Size"));
        QTest::mouseClick(View().DetailsField(Field::ChooseType), Qt::LeftButton);
        // A member ID that doesn't parse.
        auto* id = static_cast<QLineEdit*>(View().MemberPaneField(LibraryViewer::MemberField::MemberId));
        id->setText(QStringLiteral("x1"));
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "access-invalid-field-" + theme + scale);
        QTest::mouseClick(View().DetailsField(Field::Cancel), Qt::LeftButton);
        // The help page with its new access keys.
        auto* tabs = View().findChild<QTabBar*>();
        tabs->setCurrentIndex(tabs->count() - 1);
        QCoreApplication::processEvents();
        SaveScreenshots(*window, "access-help-page-" + theme + scale);
        tabs->setCurrentIndex(0);
        // A history window too narrow for its toolbar.
        auto* history = new frmRecorder;
        SharedRecorderWindows windows;
        history->InitFromEditor(windows, std::make_shared<ChangeListener>(), View().CurrentITypeLib().get());
        history->setPalette(palette);
        history->resize(history->fontMetrics().averageCharWidth() * 18, history->fontMetrics().height() * 10);
        QCoreApplication::processEvents();
        SaveScreenshots(*history, "access-narrow-history-" + theme + scale);
        // Its "»" stands out from the toolbar in either palette.
        auto* more = history->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
        ASSERT_TRUE(more && more->isVisible());
        const QImage glyph = more->icon().pixmap(more->iconSize()).toImage();
        int darkest = 255, lightest = 0;
        for (int y = 0; y < glyph.height(); ++y)
            for (int x = 0; x < glyph.width(); ++x)
                if (qAlpha(glyph.pixel(x, y)) > 200) {
                    const int l = QColor(glyph.pixel(x, y)).lightness();
                    darkest = std::min(darkest, l), lightest = std::max(lightest, l);
                }
        const int window = history->palette().color(QPalette::Window).lightness();
        EXPECT_GT(std::max(std::abs(lightest - window), std::abs(darkest - window)), 100) << theme;
        history->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QApplication::setPalette(light);
    window->setPalette(light);
}

}  // namespace

// The dialogs driven offscreen as a user drives them: keys, clicks, the close
// box and Esc, sizes, GUID validation, accessible names and Tab.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <memory>
#include <set>
#include <tuple>
#include <stdexcept>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "dialogs/frmGenerateGuid.h"
#include "dialogs/frmReferences.h"
#include "dialogs/frmTypeOrder.h"
#include "dialogs/frmVTableOrder.h"
#include "dialogs/frmVarOrder.h"
#include "DialogTestSupport.h"
#include "platform/automation/Guid.h"
#include "support/DarkTheme.h"

namespace dialogstest {
namespace {

using Order = std::vector<int16_t>;

class Dialogs : public ::testing::Test {
protected:
    Dialogs() { App(); }

    void Key(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(widget, key, modifiers);
    }
    QPushButton* Button(QWidget& dialog, const char* name) { return dialog.findChild<QPushButton*>(name); }

    FakeServices services;
    ScopedUiServices scoped{services};
    ComPtr<ITypeLib> lib = DialogLib();
};

TEST_F(Dialogs, UpAndDownWithAnyModifierMoveAndADisabledMoveBeeps) {
    frmVarOrder dialog(OrderListModel::ForVariables(lib.get(), 0), nullptr);
    QListWidget* list = dialog.List();
    EXPECT_FALSE(dialog.MoveButton(true)->isEnabled());
    Key(list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(services.beeps, 1);
    Key(list, Qt::Key_Down);  // no modifier: only the selection moves
    EXPECT_EQ(dialog.CurrentRow(), 1);
    EXPECT_EQ(dialog.Model().Order(), (Order{0, 1, 2}));
    Key(list, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(dialog.Model().Order(), (Order{1, 0, 2}));
    EXPECT_EQ(dialog.CurrentRow(), 0);
    EXPECT_EQ(list->item(0)->text(), "Green");
    Key(list, Qt::Key_Down, Qt::AltModifier);
    Key(list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(dialog.Model().Order(), (Order{0, 2, 1}));
    EXPECT_FALSE(dialog.MoveButton(false)->isEnabled());
    Key(list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(services.beeps, 2);
    EXPECT_EQ(dialog.Model().Order(), (Order{0, 2, 1}));
}

TEST_F(Dialogs, TheVTableDialogShowsWholeVTableSlotsAndTakesInsertAndDelete) {
    frmVTableOrder dialog(*VTableOrderModel::ForInterface(lib.get(), 2), nullptr);
    EXPECT_EQ(dialog.NumberLabel()->text(), "7");
    EXPECT_EQ(dialog.OffsetLabel()->text(), "28");
    QListWidget* list = dialog.List();
    Key(list, Qt::Key_Delete);  // a function row: Delete is disabled
    EXPECT_EQ(services.beeps, 1);
    Key(list, Qt::Key_Insert);
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), "Missing Entry");
    EXPECT_TRUE(dialog.DeleteButton()->isEnabled());
    Key(list, Qt::Key_Down);
    EXPECT_EQ(dialog.NumberLabel()->text(), "8");
    EXPECT_EQ(dialog.OffsetLabel()->text(), "32");
    Key(list, Qt::Key_Up);
    Key(list, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(dialog.Model().Offsets(), (Order{28, 32, 36}));
    EXPECT_EQ(services.beeps, 1);
}

// A dual interface's vtable dialog offers no Insert, and neither does one
// whose vtable has reached its largest size; the value labels are named by
// their headings and give their values.
TEST_F(Dialogs, TheVTableDialogRefusesAGapInADualAndAVtablePastItsLargestSize) {
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"DualLib");
    EXPECT_OK(created->SetGuid({0x1B2C3D4F, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}}));
    auto dual = NewType(created.get(), u"IDual", TKIND_INTERFACE);
    EXPECT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(dual->AddImplType(0, RefTo(dual.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(dual.get(), 0, {.name = u"A", .memid = 1});
    AddFunc(dual.get(), 1, {.name = u"B", .memid = 2});
    ComPtr<ITypeLib> dualLib = SaveAndReload(AsTypeLib(created.get()).get());
    frmVTableOrder dialog(*VTableOrderModel::ForInterface(dualLib.get(), 0), nullptr);
    EXPECT_FALSE(dialog.InsertButton()->isEnabled());
    Key(dialog.List(), Qt::Key_Insert);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(dialog.List()->count(), 2);
    Key(dialog.List(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(dialog.Model().Offsets(), (Order{32, 28}));

    frmVTableOrder full(VTableOrderModel(3, {0x7FF8}, {u"Function Last"}), nullptr);
    EXPECT_FALSE(full.InsertButton()->isEnabled());
    Key(full.List(), Qt::Key_Insert);
    EXPECT_EQ(services.beeps, 2);
    EXPECT_EQ(full.Model().Offsets(), (Order{0x7FF8}));

    frmVTableOrder plain(*VTableOrderModel::ForInterface(lib.get(), 2), nullptr);
    for (auto [label, name, value] : {std::tuple{plain.NumberLabel(), "Number", "7"},
                                      std::tuple{plain.OffsetLabel(), "Offset", "28"}}) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
        ASSERT_TRUE(accessible);
        EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), name);
        EXPECT_EQ(accessible->text(QAccessible::Description).toStdString(), value);
        EXPECT_EQ(label->text().toStdString(), value);
    }
}

// How a test closes a dialog after a move.
struct Closing {
    const char* name;
    std::function<void(OrderDialog&)> close;
    bool accepted;
};

TEST_F(Dialogs, OnlyOkReturnsAChangeAndCancelTheCloseBoxAndEscReturnNothing) {
    const Closing closings[] = {
        {"OK", [](OrderDialog& d) { d.findChild<QPushButton*>("cmdOK")->click(); }, true},
        {"Cancel", [](OrderDialog& d) { d.findChild<QPushButton*>("cmdCancel")->click(); }, false},
        {"close box", [](OrderDialog& d) { d.close(); }, false},
        {"Esc", [](OrderDialog& d) { QTest::keyClick(d.List(), Qt::Key_Escape); }, false},
    };
    for (const Closing& closing : closings) {
        services.modal = [&](QDialog& dialog) {
            auto& order = dynamic_cast<OrderDialog&>(dialog);
            order.MoveButton(false)->click();
            if (auto* vtable = dynamic_cast<frmVTableOrder*>(&dialog)) vtable->InsertButton()->click();
            closing.close(order);
        };
        ChangeTarget colors = TargetOf(lib.get(), 0), thing = TargetOf(lib.get(), 2), library = TargetOf(lib.get(), -1);
        auto vars = frmVarOrder::GetReorderVarsChange(colors, nullptr);
        auto types = frmTypeOrder::GetReorderTypesChange(library, nullptr);
        auto vtable = frmVTableOrder::GetReorderVTableChange(thing, nullptr);
        if (!closing.accepted) {
            EXPECT_FALSE(vars || types || vtable) << closing.name;
            continue;
        }
        ASSERT_TRUE(vars && types && vtable);
        EXPECT_EQ(vars->NewOrder(), (Order{1, 0, 2}));
        EXPECT_EQ(types->NewOrder(), (Order{1, 0, 2, 3}));
        EXPECT_EQ(vtable->Offsets(), (Order{36, 28, 40}));
        EXPECT_FALSE(vtable->SynchronizeFuncDescs());
    }

    // Nothing to order: no dialog.
    services.modal = [](QDialog&) { ADD_FAILURE() << "shown"; };
    ChangeTarget thing = TargetOf(lib.get(), 2), colors = TargetOf(lib.get(), 0);
    EXPECT_FALSE(frmVarOrder::GetReorderVarsChange(thing, nullptr));
    EXPECT_FALSE(frmVTableOrder::GetReorderVTableChange(colors, nullptr));
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(Dialogs, OrderDialogsStopAtTheirMinimumSizeAndGrowTheListWhenResized) {
    frmTypeOrder dialog(OrderListModel::ForTypes(lib.get()), nullptr);
    dialog.show();
    const QSize minimum = dialog.minimumSize();
    EXPECT_GT(minimum.width(), 0);
    EXPECT_EQ(dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    dialog.resize(10, 10);
    EXPECT_EQ(dialog.size(), minimum);
    dialog.layout()->activate();
    QPushButton* ok = Button(dialog, "cmdOK");
    const QRect smallList = dialog.List()->geometry();
    auto okRight = [&] { return ok->mapTo(&dialog, ok->rect().topRight()).x(); };
    const int okMargin = dialog.width() - okRight();
    dialog.resize(minimum * 2);
    dialog.layout()->activate();
    EXPECT_EQ(dialog.width() - okRight(), okMargin);
    EXPECT_EQ(dialog.List()->width() - smallList.width(), minimum.width());
    EXPECT_EQ(dialog.List()->height() - smallList.height(), minimum.height());
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (child->isVisible() && child->parentWidget() == &dialog) {
            EXPECT_TRUE(dialog.rect().contains(child->geometry())) << child->objectName().toStdString();
        }
    }

    frmGenerateGuid guid({}, true, nullptr);
    guid.show();
    EXPECT_EQ(guid.minimumSize(), guid.maximumSize());
}

TEST_F(Dialogs, TheAnalyzeButtonIsThereAndDoesNothing) {
    frmTypeOrder dialog(OrderListModel::ForTypes(lib.get()), nullptr);
    QPushButton* analyze = Button(dialog, "cmdAnalyze");
    ASSERT_TRUE(analyze);
    EXPECT_EQ(analyze->text(), "&Analyze");
    EXPECT_EQ(analyze->toolTip(), "Automatically reorder types to eliminate forward references");
    analyze->click();
    EXPECT_EQ(dialog.Model().Order(), (Order{0, 1, 2, 3}));
    EXPECT_TRUE(dialog.isEnabled());
}

struct GuidText {
    const char* text;
    bool okWithoutNull;
    bool okWithNull;
};

TEST_F(Dialogs, GuidTextsKeepOkDisabledWithoutAMessageUnlessTheyAreRegistryForm) {
    const GuidText texts[] = {
        {"{6a1c0e55-1b0d-4e6c-8f11-203344556601}", true, true},
        {"6A1C0E55-1B0D-4E6C-8F11-203344556601", false, false},
        {"{6A1C0E55-1B0D-4E6C-8F11-20334455660}", false, false},
        {"{6A1C0E55-1B0D-4E6C-8F11-2033445566011}", false, false},
        {"{6A1C0E55-1B0D-4E6C-8F11-20334455660G}", false, false},
        {"{00000000-0000-0000-0000-000000000000}", false, true},
    };
    const GUID start = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (bool nullAllowed : {false, true}) {
        frmGenerateGuid dialog(start, nullAllowed, nullptr);
        EXPECT_EQ(dialog.ButtonAt(frmGenerateGuid::kEmpty)->isEnabled(), nullAllowed);
        EXPECT_FALSE(dialog.ButtonAt(frmGenerateGuid::kReset)->isEnabled());
        for (const GuidText& t : texts) {
            dialog.Text()->selectAll();
            QTest::keyClicks(dialog.Text(), t.text);
            EXPECT_EQ(dialog.ButtonAt(frmGenerateGuid::kOK)->isEnabled(), nullAllowed ? t.okWithNull : t.okWithoutNull)
                << t.text;
            EXPECT_TRUE(dialog.ButtonAt(frmGenerateGuid::kReset)->isEnabled()) << t.text;
        }
        EXPECT_EQ(dialog.Text()->text().size(), 38);
    }
    EXPECT_TRUE(services.messages.empty());
    frmGenerateGuid typed(start, false, nullptr);
    typed.Text()->setText("{6a1c0e55-1b0d-4e6c-8f11-203344556601}");
    EXPECT_EQ(ole::GuidToString(typed.Current()), u"{6A1C0E55-1B0D-4E6C-8F11-203344556601}");
}

// A text that OK doesn't take says why under it, as the details fields do:
// in a red that reads on the light and the dark palette, and on the field for
// a screen reader. A GUID OK takes says nothing; the buttons stay in place.
TEST_F(Dialogs, AGuidTextThatOkDoesntTakeSaysWhy) {
    frmGenerateGuid dialog({0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, false, nullptr);
    dialog.show();
    QPushButton* ok = dialog.ButtonAt(frmGenerateGuid::kOK);
    const QRect okPlace = ok->geometry();
    const auto description = [&] { return QAccessible::queryAccessibleInterface(dialog.Text())->text(QAccessible::Description); };
    EXPECT_TRUE(dialog.Reason()->text().isEmpty());
    EXPECT_TRUE(description().isEmpty());
    const std::pair<const char*, const char*> texts[] = {
        {"{6A1C0E55-1B0D-4E6C-8F11-20334455660}", "registry form"},
        {"{00000000-0000-0000-0000-000000000000}", "empty GUID"},
        {"{6a1c0e55-1b0d-4e6c-8f11-203344556601}", nullptr},
        {"6A1C0E55-1B0D-4E6C-8F11-203344556601", "registry form"},
    };
    for (const QPalette& palette : {QApplication::palette(), testsupport::DarkPalette()}) {
        dialog.setPalette(palette);
        for (const auto& [text, says] : texts) {
            dialog.Text()->selectAll();
            QTest::keyClicks(dialog.Text(), text);
            const QString why = dialog.Reason()->text();
            EXPECT_EQ(ok->isEnabled(), !says) << text;
            EXPECT_EQ(ok->geometry(), okPlace) << text;
            if (!says) {
                EXPECT_TRUE(why.isEmpty()) << why.toStdString();
                EXPECT_TRUE(description().isEmpty()) << text;
                continue;
            }
            EXPECT_TRUE(why.contains(QString::fromUtf8(says))) << why.toStdString();
            EXPECT_EQ(description(), QStringLiteral("Invalid value. ") + why) << text;
            EXPECT_EQ(dialog.Text()->toolTip(), why) << text;
            // Whole within the dialog, readable on its background, and red.
            EXPECT_TRUE(dialog.rect().contains(dialog.Reason()->geometry())) << text;
            EXPECT_GE(dialog.Reason()->height(), dialog.Reason()->heightForWidth(dialog.Reason()->width())) << text;
            const QColor ink = InkOf(*dialog.Reason());
            EXPECT_GE(ContrastRatio(ink, palette.color(QPalette::Window)), kReadableContrast) << text;
            EXPECT_GT(ink.red(), ink.green() + 48) << text;
        }
        dialog.ButtonAt(frmGenerateGuid::kGenerate)->click();
        EXPECT_TRUE(dialog.Reason()->text().isEmpty());
        EXPECT_TRUE(ok->isEnabled());
    }
    EXPECT_TRUE(services.messages.empty());
}

// Long names that differ only at their end stay apart in the type and vtable
// order dialogs: cut in the middle to the list's width, each whole in its
// row's tooltip and accessible name.
TEST_F(Dialogs, LongNamesThatDifferAtTheirEndStayApartInTheOrderLists) {
    const char16_t* names[] = {kLongNames[0], kLongNames[1]};
    ComPtr<ITypeLib> longNames = LongNamesLib();
    frmTypeOrder types(OrderListModel::ForTypes(longNames.get()), nullptr);
    frmVTableOrder vtable(*VTableOrderModel::ForInterface(longNames.get(), 0), nullptr);
    for (OrderDialog* dialog : std::initializer_list<OrderDialog*>{&types, &vtable}) {
        dialog->show();
        dialog->resize(dialog->minimumSize());  // narrower than the names
        QCoreApplication::processEvents();
        QListWidget* list = dialog->List();
        const int rows = list->count();
        ASSERT_GE(rows, 2);
        QImage drawn[2];
        for (int r = rows - 2; r < rows; ++r) {
            QListWidgetItem* item = list->item(r);
            const std::string text = item->text().toStdString();
            EXPECT_TRUE(item->text().endsWith(QString::fromStdU16String(names[r - rows + 2]))) << text;
            const QRect place = list->visualItemRect(item);
            EXPECT_LE(place.right(), list->viewport()->width()) << text;
            EXPECT_GT(list->fontMetrics().horizontalAdvance(item->text()), place.width()) << text;
            EXPECT_EQ(item->toolTip(), item->text());
            QAccessibleInterface* row = QAccessible::queryAccessibleInterface(list)->tableInterface()->cellAt(r, 0);
            ASSERT_TRUE(row);
            EXPECT_EQ(row->text(QAccessible::Name), item->text());
            drawn[r - rows + 2] = list->viewport()->grab(place).toImage();
        }
        EXPECT_NE(drawn[0], drawn[1]) << dialog->windowTitle().toStdString();
        dialog->close();
    }
}

TEST_F(Dialogs, OnlyOkChangesTheGuidAndANullGuidThatIsNotAllowedStartsFresh) {
    const GUID start = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    struct Run {
        const char* name;
        GUID guid;
        std::function<void(frmGenerateGuid&)> drive;
        bool changed;
    };
    const Run runs[] = {
        {"generate, OK", start, [](frmGenerateGuid& d) { d.ButtonAt(d.kGenerate)->click(); d.ButtonAt(d.kOK)->click(); }, true},
        {"generate, Esc", start, [](frmGenerateGuid& d) { d.ButtonAt(d.kGenerate)->click(); QTest::keyClick(d.Text(), Qt::Key_Escape); }, false},
        {"generate, close", start, [](frmGenerateGuid& d) { d.ButtonAt(d.kGenerate)->click(); d.close(); }, false},
        {"generate, reset, OK", start, [](frmGenerateGuid& d) { d.ButtonAt(d.kGenerate)->click(); d.ButtonAt(d.kReset)->click(); d.ButtonAt(d.kOK)->click(); }, false},
        {"null, OK", GUID{}, [](frmGenerateGuid& d) {
             EXPECT_FALSE(d.ButtonAt(d.kReset)->isEnabled());
             d.ButtonAt(d.kGenerate)->click();
             EXPECT_FALSE(d.ButtonAt(d.kReset)->isEnabled());
             d.ButtonAt(d.kOK)->click(); }, true},
        {"null, Cancel", GUID{}, [](frmGenerateGuid& d) { d.ButtonAt(d.kCancel)->click(); }, false},
    };
    for (const Run& run : runs) {
        services.modal = [&](QDialog& dialog) { run.drive(dynamic_cast<frmGenerateGuid&>(dialog)); };
        GUID guid = run.guid;
        EXPECT_EQ(frmGenerateGuid::ChangeGuid(guid, nullptr, false), run.changed) << run.name;
        EXPECT_EQ(guid != run.guid, run.changed) << run.name;
        if (!run.changed) {
            EXPECT_EQ(guid, run.guid) << run.name;
        }
    }
}

TEST_F(Dialogs, EveryControlHasAnAccessibleNameAndIsReachedWithTab) {
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(std::make_unique<frmVarOrder>(OrderListModel::ForVariables(lib.get(), 0), nullptr));
    dialogs.push_back(std::make_unique<frmTypeOrder>(OrderListModel::ForTypes(lib.get()), nullptr));
    dialogs.push_back(std::make_unique<frmVTableOrder>(*VTableOrderModel::ForInterface(lib.get(), 3), nullptr));
    dialogs.push_back(std::make_unique<frmGenerateGuid>(GUID{}, true, nullptr));
    RefInfoList refs;
    frmReferences::BuildList(lib.get(), {}, refs);
    dialogs.push_back(std::make_unique<frmReferences>(refs, nullptr));
    for (auto& dialog : dialogs) {
        const std::string title = dialog->windowTitle().toStdString();
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get())) << title;
        std::set<QWidget*> controls;
        for (QWidget* child : dialog->findChildren<QWidget*>()) {
            if (!(child->focusPolicy() & Qt::TabFocus) || !child->isVisible()) continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
            ASSERT_TRUE(accessible);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << title << " " << child->objectName().toStdString();
            if (child->isEnabled()) controls.insert(child);
        }
        EXPECT_GE(controls.size(), 4u) << title;
        std::set<QWidget*> reached;
        for (size_t i = 0; i < controls.size() * 2; ++i) {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_TRUE(focus) << title;
            reached.insert(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        EXPECT_EQ(reached, controls) << title;
        dialog->close();
    }
}

TEST_F(Dialogs, EnterPressesTheFocusedButtonRatherThanOk) {
    frmGenerateGuid guid(GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, false, nullptr);
    frmVTableOrder vtable(*VTableOrderModel::ForInterface(lib.get(), 2), nullptr);
    for (auto [dialog, button] : {std::pair<ModalDialog*, QPushButton*>{&guid, guid.ButtonAt(frmGenerateGuid::kCancel)},
                                  {&vtable, vtable.InsertButton()}}) {
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        button->setFocus();
        Key(button, Qt::Key_Return);
        EXPECT_FALSE(dialog->Accepted()) << button->objectName().toStdString();
    }
    EXPECT_EQ(vtable.List()->count(), 4);
}

TEST_F(Dialogs, AnErrorInASlotIsReportedWithTheProgramsErrorText) {
    Guarded(nullptr, [] { throw ErrorRecord(ole::TYPE_E_ELEMENTNOTFOUND); });
    Guarded(nullptr, [] { throw std::runtime_error("broken"); });
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[0].first, "Element not found. (0x8002802B)");
    EXPECT_EQ(services.messages[0].second, kStyleExclamation);
    EXPECT_EQ(services.messages[1].first, "broken");
    EXPECT_EQ(ErrorReportText(ErrorRecord(kErrTypeMismatch, {}, u"Here")), u"Type mismatch");
    EXPECT_EQ(ErrorReportText(ErrorRecord(ole::TYPE_E_ELEMENTNOTFOUND, {}, u"Here")), u"Element not found. (0x8002802B) (Here)");
}

}  // namespace
}  // namespace dialogstest

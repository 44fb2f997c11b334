// The custom-data editor offscreen: entries added, replaced, retyped and
// deleted, applied as a change, saved and reloaded; a delete during an edit;
// New with a listed GUID; Decimal entry; Cancel over a bad value; the Format
// menu; and a picture for a person to look at.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QContextMenuEvent>
#include <QTest>
#include <QTimer>

#include <cfloat>


#include "editor/TreeTestSupport.h"
#include "support/DarkTheme.h"
#include "dialogs/DialogTestSupport.h"
#include "editor/pickers/frmCustData.h"
#include "platform/automation/Guid.h"
#include "support/ScreenReader.h"

namespace dialogstest {
namespace {

using zephrin::editor::frmCustData;

constexpr GUID kOne = {0xC0DA0001, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kTwo = {0xC0DA0002, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kThree = {0xC0DA0003, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kNew = {0xC0DA0004, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};

// library CustLib { interface IHeld : IUnknown } with three entries on IHeld:
// kOne = Long 1, kTwo = "two", kThree = Long 255.
struct CustDataDialog : ::testing::Test {
    CustDataDialog() {
        treetest::EnsureApp();
        created = NewLibrary(u"CustLib");
        EXPECT_OK(created->SetGuid({0x4B2C3D4E, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 11}}));
        auto held = NewType(created.get(), u"IHeld", TKIND_INTERFACE);
        EXPECT_OK(held->AddImplType(0, RefTo(held.get(), StdOle2Type(kIID_IUnknown).get())));
        Variant one(int32_t{1}), two(std::u16string_view(u"two")), three(int32_t{255});
        EXPECT_OK(held->SetCustData(kOne, &one.get()));
        EXPECT_OK(held->SetCustData(kTwo, &two.get()));
        EXPECT_OK(held->SetCustData(kThree, &three.get()));
        auto other = NewType(created.get(), u"Other", TKIND_RECORD);
        AddVar(other.get(), 0, u"x", Vt(VT_I4));
        Variant failure;
        failure.get().vt = VT_HRESULT;
        failure.get().lVal = static_cast<LONG>(E_FAIL);
        EXPECT_OK(other->SetCustData(kOne, &failure.get()));
        lib = AsTypeLib(created.get());
        target = TargetOf(lib.get(), 0);
    }

    // Applies the change and returns the saved and reloaded library.
    ComPtr<ITypeLib> ApplySaveReload(CustDataChange& change) {
        CustomTypeLib view;
        view.Attach(lib.get());
        change.Apply(view, nullptr, target, nullptr, 0);
        return SaveAndReload(view.ReadView().get());
    }
    static Variant Held(ITypeLib* reloaded, const GUID& guid) {
        ComPtr<ITypeInfo> ti;
        EXPECT_OK(reloaded->GetTypeInfo(0, ti.put()));
        Variant v;
        EXPECT_OK(ti.As<ITypeInfo2>()->GetCustData(guid, &v.get()));
        return v;
    }
    static void Type(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClicks(field, text);
    }
    // Types any characters, each as a key press that carries it.
    static void TypeAny(QLineEdit* field, const QString& text) {
        field->selectAll();
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Press, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }

    FakeServices services;
    ScopedUiServices scoped{services};
    ComPtr<ICreateTypeLib2> created;
    ComPtr<ITypeLib> lib;
    ChangeTarget target;
};

TEST_F(CustDataDialog, AddReplaceRetypeAndDecimalSaveAndReload) {
    frmCustData d(target, nullptr, 0, false);
    ASSERT_EQ(d.List()->count(), 3);
    EXPECT_EQ(d.ValueField()->text(), "1");
    EXPECT_EQ(d.TypeText()->text(), "long");

    // New asks for a GUID; the new entry is Long 0.
    services.modal = [](QDialog& g) {
        g.findChild<QLineEdit*>("txtGUID")->setText(ToQString(GuidToString(kNew)));
        g.findChild<QPushButton*>("cmdAll3")->click();
    };
    d.AddButton()->click();
    ASSERT_EQ(d.List()->count(), 4);
    EXPECT_EQ(d.List()->currentRow(), 3);
    EXPECT_EQ(d.ValueField()->text(), "0");
    // Only its type changes: Long 0 becomes String "0".
    d.SetValueType(30);
    EXPECT_EQ(d.TypeText()->text(), "LPSTR");

    // New with a listed GUID selects that entry and changes nothing.
    services.modal = [](QDialog& g) {
        g.findChild<QLineEdit*>("txtGUID")->setText(ToQString(GuidToString(kOne)));
        g.findChild<QPushButton*>("cmdAll3")->click();
    };
    d.AddButton()->click();
    EXPECT_EQ(d.List()->count(), 4);
    ASSERT_EQ(d.List()->currentRow(), 0);

    // The first entry becomes a Decimal: fractions and 96-bit values are refused.
    d.SetValueType(VT_DECIMAL);
    for (const char* bad : {"-1.25", "79228162514264337593543950335"}) {
        Type(d.ValueField(), bad);
        EXPECT_FALSE(d.Ok()->isEnabled()) << bad;
        EXPECT_FALSE(d.List()->isEnabled());
        EXPECT_FALSE(d.ErrorText()->text().isEmpty());
    }
    Type(d.ValueField(), "12");
    EXPECT_TRUE(d.Ok()->isEnabled());
    d.List()->setCurrentRow(1);  // commits the first
    EXPECT_EQ(d.TypeText()->text(), "LPSTR");
    Type(d.ValueField(), "second\\t");
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());

    const ComPtr<ITypeLib> reloaded = ApplySaveReload(*d.Change());
    const Variant twelve = Held(reloaded.get(), kOne);
    ASSERT_EQ(twelve.vt(), VT_DECIMAL);
    EXPECT_EQ(twelve.get().decVal.Lo64, 12u);
    EXPECT_EQ(std::u16string(Held(reloaded.get(), kTwo).get().bstrVal), u"second\t");
    EXPECT_EQ(Held(reloaded.get(), kThree).get().lVal, 255);
    const Variant zero = Held(reloaded.get(), kNew);
    ASSERT_EQ(zero.vt(), VT_BSTR);
    EXPECT_EQ(std::u16string(zero.get().bstrVal), u"0");
}

// A string the file's code page can't hold is refused where it is typed, by
// its first such character; one it holds is saved as typed.
TEST_F(CustDataDialog, AStringWithACharacterTheFileCantHoldIsRefusedByName) {
    frmCustData d(target, nullptr, 0, false);
    d.List()->setCurrentRow(1);
    ASSERT_EQ(d.TypeText()->text(), "LPSTR");
    TypeAny(d.ValueField(), QString::fromUtf8("Größe € 日本語"));
    EXPECT_FALSE(d.Ok()->isEnabled());
    EXPECT_FALSE(d.List()->isEnabled());
    EXPECT_TRUE(d.ErrorText()->text().contains(QString::fromUtf8("'日' (U+65E5)"))) << d.ErrorText()->text().toStdString();
    d.show();
    SaveScreenshots(d, "dialog-custom-data-unstorable");
    TypeAny(d.ValueField(), QString::fromUtf8("Größe €"));
    EXPECT_TRUE(d.Ok()->isEnabled());
    EXPECT_TRUE(d.ErrorText()->text().isEmpty());
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());
    const ComPtr<ITypeLib> reloaded = ApplySaveReload(*d.Change());
    EXPECT_EQ(std::u16string(Held(reloaded.get(), kTwo).get().bstrVal), u"Größe €");
}

TEST_F(CustDataDialog, DeletingTheEntryBeingEditedLeavesTheOthersAlone) {
    frmCustData d(target, nullptr, 0, false);
    Type(d.ValueField(), "77");  // editing the first
    d.DeleteButton()->click();
    EXPECT_EQ(d.List()->currentRow(), 0);
    EXPECT_EQ(d.ValueField()->text(), "two");
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());
    EXPECT_EQ(d.Change()->SetCount(), 0);
    const ComPtr<ITypeLib> reloaded = ApplySaveReload(*d.Change());
    EXPECT_EQ(Held(reloaded.get(), kOne).vt(), VT_EMPTY);
    EXPECT_EQ(std::u16string(Held(reloaded.get(), kTwo).get().bstrVal), u"two");
    EXPECT_EQ(Held(reloaded.get(), kThree).get().lVal, 255);
    EXPECT_EQ(target.ReplacementLibrary != nullptr, true);

    // Deleting down to nothing empties and disables the fields.
    frmCustData all(target, nullptr, 0, false);
    for (int i = 0; i < 3; ++i) all.DeleteButton()->click();
    EXPECT_EQ(all.List()->count(), 0);
    EXPECT_FALSE(all.ValueField()->isEnabled());
    EXPECT_FALSE(all.DeleteButton()->isEnabled());
    EXPECT_TRUE(all.ValueField()->text().isEmpty());
}

TEST_F(CustDataDialog, CancelOverABadValueRestoresItAndFormatSwitches) {
    frmCustData d(target, nullptr, 0, true);
    d.List()->setCurrentRow(2);
    EXPECT_EQ(d.ValueField()->text(), "&HFF");
    d.SetHex(false);
    EXPECT_EQ(d.ValueField()->text(), "255");
    Type(d.ValueField(), "&H100000000");  // out of range: never wrapped
    EXPECT_FALSE(d.Ok()->isEnabled());
    d.reject();
    EXPECT_TRUE(d.isVisible() || !d.Accepted());
    EXPECT_EQ(d.ValueField()->text(), "255");
    EXPECT_TRUE(d.Ok()->isEnabled());
    // A value of a type the editor can't make is shown and stays as it is.
    ChangeTarget other = TargetOf(lib.get(), 1);
    frmCustData o(other, nullptr, 0, false);
    EXPECT_FALSE(o.ValueField()->text().isEmpty());
    EXPECT_FALSE(o.TypeText()->text().isEmpty());
    o.Ok()->click();
    EXPECT_TRUE(o.Accepted());
    EXPECT_EQ(o.Change()->SetCount(), 0);

    bool hex = true;
    services.modal = [](QDialog& dialog) { dialog.reject(); };
    EXPECT_EQ(frmCustData::GetCustDataChange(target, nullptr, 0, hex), nullptr);
    EXPECT_TRUE(hex);
}

// A value that doesn't convert to its type is not marked by the caption's
// colour alone: the value box itself says that it is invalid and what it
// takes, where a screen reader reads it, and the text below it; valid again,
// it says nothing more.
TEST_F(CustDataDialog, AValueThatDoesntConvertSaysWhyOnTheValueBox) {
    frmCustData d(target, nullptr, 0, false);
    d.List()->setCurrentRow(0);
    const auto read = [&] {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(d.ValueField());
        return accessible ? accessible->text(QAccessible::Description) : QString();
    };
    Type(d.ValueField(), "abc");
    ASSERT_FALSE(d.Ok()->isEnabled());
    EXPECT_TRUE(read().startsWith(QStringLiteral("Invalid value. "))) << read().toStdString();
    EXPECT_TRUE(read().contains(QStringLiteral("long"))) << read().toStdString();
    EXPECT_TRUE(d.ErrorText()->isVisibleTo(&d) && d.ErrorText()->text() == d.ValueField()->toolTip());
    Type(d.ValueField(), "12");
    EXPECT_TRUE(d.Ok()->isEnabled());
    EXPECT_TRUE(read().isEmpty()) << read().toStdString();
    EXPECT_FALSE(d.ErrorText()->isVisibleTo(&d));
    // A Currency's fifth decimal place would be rounded away.
    d.SetValueType(VT_CY);
    Type(d.ValueField(), "0.00005");
    EXPECT_TRUE(read().contains(QStringLiteral("four decimal places"))) << read().toStdString();
    d.reject();
}

// A reason is told once, not again at each key while it stays the same: in
// the GUID dialog and in the value box.
TEST_F(CustDataDialog, AReasonIsToldOnceWhileItStaysTheSame) {
    frmCustData d(target, nullptr, 0, false);
    testsupport::DescriptionCounter reader;
    services.modal = [&](QDialog& g) {
        Type(g.findChild<QLineEdit*>("txtGUID"), "{6A1C0E55-1B0D-");
        EXPECT_EQ(reader.Told[g.findChild<QLineEdit*>("txtGUID")], 1);
    };
    d.AddButton()->click();
    Type(d.ValueField(), "abcdefghijklmno");
    EXPECT_EQ(reader.Told[d.ValueField()], 1);
}

// A string longer than a text box holds by default is edited whole.
TEST_F(CustDataDialog, ALongStringIsEditedWhole) {
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(lib->GetTypeInfo(0, ti.put()));
    Variant text{std::u16string(40000, u'x')};
    ASSERT_OK(ti.As<ICreateTypeInfo2>()->SetCustData(kTwo, &text.get()));
    frmCustData d(target, nullptr, 0, false);
    d.List()->setCurrentRow(1);
    QTest::keyClick(d.ValueField(), Qt::Key_End);
    QTest::keyClick(d.ValueField(), Qt::Key_Backspace);
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());
    CustomTypeLib view;
    view.Attach(lib.get());
    d.Change()->Apply(view, nullptr, target, nullptr, 0);
    const ComPtr<ITypeLib> live = view.ReadView();
    const ComPtr<ITypeLib> reloaded = SaveAndReload(live.get());
    for (ITypeLib* l : {live.get(), reloaded.get()}) {
        EXPECT_EQ(SysStringLen(Held(l, kTwo).get().bstrVal), 39999u);
    }
}

// A Double or Single is shown in a form that reads back as the same value, so
// an edit that leaves its digits as they were keeps every bit.
TEST_F(CustDataDialog, DoublesAndSinglesSurviveAnEdit) {
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(lib->GetTypeInfo(0, ti.put()));
    Variant values[] = {Variant(DBL_MAX), Variant(0.1), Variant(0.1f)};
    const GUID guids[] = {kOne, kTwo, kThree};
    for (int i = 0; i < 3; ++i) ASSERT_OK(ti.As<ICreateTypeInfo2>()->SetCustData(guids[i], &values[i].get()));
    frmCustData d(target, nullptr, 0, false);
    const char* shown[] = {"1.7976931348623157E+308", "0.1", "0.1"};
    for (int row = 0; row < 3; ++row) {
        d.List()->setCurrentRow(row);
        EXPECT_EQ(d.ValueField()->text().toStdString(), shown[row]);
        // The last digit typed again.
        QTest::keyClick(d.ValueField(), Qt::Key_End);
        const QString last = d.ValueField()->text().right(1);
        QTest::keyClick(d.ValueField(), Qt::Key_Backspace);
        QTest::keyClicks(d.ValueField(), last);
        EXPECT_TRUE(d.Ok()->isEnabled()) << row;
    }
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(VariantEqual(d.Change()->GetItem(guids[i]).get(), values[i].get())) << i;
    CustomTypeLib view;
    view.Attach(lib.get());
    d.Change()->Apply(view, nullptr, target, nullptr, 0);
    const ComPtr<ITypeLib> live = view.ReadView();
    const ComPtr<ITypeLib> reloaded = SaveAndReload(live.get());
    for (ITypeLib* l : {live.get(), reloaded.get()}) {
        EXPECT_EQ(Held(l, kOne).get().dblVal, DBL_MAX);
        EXPECT_EQ(Held(l, kTwo).get().dblVal, 0.1);
        EXPECT_EQ(Held(l, kThree).vt(), VT_R4);
        EXPECT_EQ(Held(l, kThree).get().fltVal, 0.1f);
    }
}

// A second press of the type button while its chooser is open (as a quick
// Space after Alt+T, whose shortcut presses the button a moment later) opens
// no second chooser.
TEST_F(CustDataDialog, TheTypeChooserOpensOnceWhileItIsOpen) {
    frmCustData d(target, nullptr, 0, false);
    d.show();
    int opened = 0;
    services.modal = [&](QDialog& chooser) {
        if (++opened == 1) QTest::keyClick(d.TypeButton(), Qt::Key_Space);
        chooser.reject();
    };
    d.TypeButton()->setFocus();
    QTest::keyClick(d.TypeButton(), Qt::Key_Space);
    EXPECT_EQ(opened, 1);
    QTest::keyClick(d.TypeButton(), Qt::Key_Space);
    EXPECT_EQ(opened, 2);
}

// A string takes any text as it is typed; its escapes are decoded when it is
// stored, and a character they make that the file can't hold is refused then.
TEST_F(CustDataDialog, AStringIsDecodedWhenItIsStored) {
    frmCustData d(target, nullptr, 0, false);
    d.List()->setCurrentRow(1);
    ASSERT_EQ(d.TypeText()->text(), "LPSTR");
    Type(d.ValueField(), QStringLiteral("tab\\there \\x7FF"));
    EXPECT_TRUE(d.Ok()->isEnabled());
    EXPECT_FALSE(d.ValueHeader()->font().bold());
    d.Ok()->click();
    EXPECT_FALSE(d.Accepted());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(services.messages[0].first.contains(QStringLiteral("U+07FF"))) << services.messages[0].first.toStdString();
    Type(d.ValueField(), QStringLiteral("tab\\there"));
    d.Ok()->click();
    ASSERT_TRUE(d.Accepted());
    const ComPtr<ITypeLib> reloaded = ApplySaveReload(*d.Change());
    EXPECT_EQ(std::u16string(Held(reloaded.get(), kTwo).get().bstrVal), u"tab\there");
}

// The Menu key opens the Format menu below the left end of the value, not at
// its text cursor; the mouse opens it where it is.
TEST_F(CustDataDialog, TheFormatMenuFromTheKeyboardOpensBelowTheValue) {
    frmCustData d(target, nullptr, 0, false);
    d.show();
    QLineEdit* value = d.ValueField();
    value->setFocus();
    QTest::keyClick(value, Qt::Key_End);
    QPoint opened;
    const auto openAndClose = [&](QContextMenuEvent::Reason reason, QPoint at) {
        opened = {};
        QTimer::singleShot(0, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                opened = popup->pos();
                popup->close();
            }
        });
        QContextMenuEvent request(reason, at, value->mapToGlobal(at));
        QApplication::sendEvent(value, &request);
    };
    openAndClose(QContextMenuEvent::Keyboard, value->inputMethodQuery(Qt::ImCursorRectangle).toRect().center());
    EXPECT_EQ(opened, value->mapToGlobal(QPoint(0, value->height())));
    openAndClose(QContextMenuEvent::Mouse, QPoint(5, 3));
    EXPECT_EQ(opened, value->mapToGlobal(QPoint(5, 3)));
}

// Without a Menu key, Shift+F10 opens the Format menu below the value, and
// the keys reach Hexadecimal and Decimal in it.
TEST_F(CustDataDialog, ShiftF10OpensTheFormatMenuWhoseChoicesTheKeysReach) {
    frmCustData d(target, nullptr, 0, false);
    d.show();
    d.List()->setCurrentRow(2);
    QLineEdit* value = d.ValueField();
    QPoint opened;
    for (const auto& [steps, shown] : {std::pair(1, "&HFF"), std::pair(0, "255")}) {
        opened = {};
        // Down to Format, Right into it, Down to the choice, Return.
        QTimer::singleShot(0, &d, [&, steps = steps] {
            QWidget* menu = QApplication::activePopupWidget();
            if (!menu) return;
            opened = menu->pos();
            for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Right}) QTest::keyClick(QApplication::activePopupWidget(), key);
            for (int i = 0; i < steps; ++i) QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
        });
        QTest::keyClick(value, Qt::Key_F10, Qt::ShiftModifier);
        QCoreApplication::processEvents();  // the timer, where no menu ran it
        EXPECT_EQ(opened, value->mapToGlobal(QPoint(0, value->height())));
        EXPECT_EQ(value->text(), shown);
    }
}

// The type, a field with only its own menu, opens that menu on Shift+F10 too.
TEST_F(CustDataDialog, ShiftF10OpensTheTypeFieldsOwnMenu) {
    frmCustData d(target, nullptr, 0, false);
    d.show();
    d.List()->setCurrentRow(1);
    QLineEdit* type = d.TypeText();
    type->setFocus();
    QTest::keyClick(type, Qt::Key_F10, Qt::ShiftModifier);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->pos(), type->mapToGlobal(QPoint(0, type->height())));
    menu->close();
}

TEST_F(CustDataDialog, Screenshot) {
    frmCustData dialog(target, nullptr, 0, false);
    dialog.List()->setCurrentRow(1);
    dialog.show();
    SaveScreenshots(dialog, "dialog-custom-data");
    dialog.setPalette(testsupport::DarkPalette());
    SaveScreenshots(dialog, "dialog-custom-data-dark");
}

}  // namespace
}  // namespace dialogstest

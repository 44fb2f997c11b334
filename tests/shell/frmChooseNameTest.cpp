// The choose-name dialog as replay reaches it, through the four entry points:
// OK waits for a pick, Cancel hands nothing back, nothing to offer shows no
// window, and the dialog is modal over its owner.
#include <QComboBox>
#include <QLabel>
#include <QAbstractItemView>
#include <QPushButton>
#include <QTest>

#include "ShellTestSupport.h"
#include "changes/ChangesTestSupport.h"
#include "changes/history/modChooseName.h"
#include "foundation/modSupport.h"
#include "shell/frmChooseName.h"
#include "support/DarkTheme.h"
#include "typelib/modAttributeStrings.h"

namespace {

using namespace shelltest;
using namespace changestest;
using zephrin::shell::frmChooseName;

class ChooseName : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    ChooseName() : scoped(services) { owner.setWindowTitle(QStringLiteral("History")); }

    ScriptedServices services;
    ScopedUiServices scoped;
    QWidget owner;
    ComPtr<ITypeLib> lib = Shapes();
};

// The user looks at the dialog as it is shown, picks the entry named pick
// (none: nothing), and presses the button.
std::function<void(QDialog&)> Pick(frmChooseName& dialog, const char* pick, QPushButton* (frmChooseName::*button)() const,
                                   std::vector<bool>* okEnabled = nullptr) {
    return [&dialog, pick, button, okEnabled](QDialog&) {
        if (okEnabled) okEnabled->push_back(dialog.OkButton()->isEnabled());
        if (pick) {
            const int index = dialog.Names()->findText(QString::fromUtf8(pick));
            ASSERT_GE(index, 0) << pick;
            // Chosen from the keyboard, as from the drop-down list.
            dialog.Names()->setFocus();
            QTest::keyClick(dialog.Names(), Qt::Key_Home);
            for (int i = 0; i < index; ++i) QTest::keyClick(dialog.Names(), Qt::Key_Down);
            if (okEnabled) okEnabled->push_back(dialog.OkButton()->isEnabled());
        }
        QTest::mouseClick((dialog.*button)(), Qt::LeftButton);
    };
}

TEST_F(ChooseName, OkWaitsForAPickAndHandsBackTheNameAndNumber) {
    frmChooseName dialog(&owner);
    std::vector<bool> okEnabled;
    services.modal = [&](QDialog& shown) {
        // Shown with the captions of the string table, modal, over the owner.
        EXPECT_EQ(shown.windowTitle(), Text(500));
        EXPECT_EQ(dialog.OkButton()->text(), Text(300));
        EXPECT_EQ(dialog.CancelButton()->text(), Text(301));
        EXPECT_EQ(dialog.Message()->text(), Text(504, QStringLiteral("Blue")));
        EXPECT_EQ(shown.parentWidget(), &owner);
        EXPECT_NE(shown.windowModality(), Qt::NonModal);
        EXPECT_EQ(dialog.Names()->currentIndex(), -1);
        // OK does nothing before a pick.
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog.Accepted());
        shown.show();
        QCoreApplication::processEvents();
        SaveScreenshots(shown, "choose-name");
        Pick(dialog, "Green", &frmChooseName::OkButton, &okEnabled)(shown);
    };
    ComPtr<ITypeInfo> colors = TypeNamed(lib.get(), u"Colors");
    std::u16string name = u"Blue";
    int32_t memberId = -1;
    ASSERT_TRUE(modChooseName::ChooseMember(dialog, colors.get(), TKIND_ENUM, 0, name, memberId));
    EXPECT_EQ(name, u"Green");
    EXPECT_EQ(memberId, MemberTarget(lib.get(), u"Colors", u"Green", 0).MemberId);
    EXPECT_EQ(okEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(services.modalRuns, 1);
}

TEST_F(ChooseName, CancelHandsBackNothingAndLeavesTheName) {
    frmChooseName dialog(&owner);
    services.modal = Pick(dialog, "IShape", &frmChooseName::CancelButton);
    std::u16string name = u"IGone";
    EXPECT_FALSE(modChooseName::ChooseType(dialog, lib.get(), TKIND_INTERFACE, name));
    EXPECT_EQ(name, u"IGone");
    // The close box (or Esc) is a Cancel too.
    services.modal = [](QDialog& shown) { shown.reject(); };
    EXPECT_FALSE(modChooseName::ChooseType(dialog, lib.get(), TKIND_INTERFACE, name));
    EXPECT_EQ(name, u"IGone");
    EXPECT_EQ(services.modalRuns, 2);
}

// One dialog serves the requests one after the other, each with its own
// message and list, nothing of the last one's pick left.
TEST_F(ChooseName, EachEntryPointFillsTheListAfresh) {
    frmChooseName dialog(&owner);
    QStringList shownNames;
    services.modal = [&](QDialog& shown) {
        QStringList names;
        for (int i = 0; i < dialog.Names()->count(); ++i) names << dialog.Names()->itemText(i);
        shownNames << names.join(u',');
        EXPECT_FALSE(dialog.OkButton()->isEnabled());
        Pick(dialog, names.last().toUtf8().constData(), &frmChooseName::OkButton)(shown);
    };
    std::u16string name = u"Gone";
    int32_t number = -1;
    ComPtr<ITypeInfo> shape = TypeNamed(lib.get(), u"IShape");
    // Area(scale, [lcid] lcid, [retval] area): only scale is offered.
    ASSERT_TRUE(modChooseName::ChooseParameter(dialog, shape.get(), MemberTarget(lib.get(), u"IShape", u"Area").MemberId,
                                               INVOKE_FUNC, name, number));
    EXPECT_EQ(name, u"scale");
    EXPECT_EQ(number, 0);
    ComPtr<ITypeInfo> coclass = TypeNamed(lib.get(), u"Shape");
    ASSERT_TRUE(modChooseName::ChooseImplementedType(dialog, coclass.get(), 2, name, number));
    EXPECT_EQ(name, u"DShapeEvents");
    EXPECT_EQ(number, 1);
    EXPECT_EQ(dialog.Message()->text(), Text(507, QStringLiteral("scale")));
    EXPECT_EQ(shownNames, (QStringList{QStringLiteral("scale"), QStringLiteral("IShape,DShapeEvents")}));
}

TEST_F(ChooseName, NothingToOfferShowsNoWindow) {
    frmChooseName dialog(&owner);
    services.modal = [](QDialog&) { ADD_FAILURE() << "shown"; };
    std::u16string name = u"Gone";
    EXPECT_FALSE(modChooseName::ChooseType(dialog, lib.get(), TKIND_UNION, name));
    int32_t index = 0;
    ComPtr<ITypeInfo> shape = TypeNamed(lib.get(), u"IShape");
    // The [propput] Name takes only its value, which is never offered.
    const MEMBERID nameId = MemberTarget(lib.get(), u"IShape", u"Name").MemberId;
    EXPECT_FALSE(modChooseName::ChooseParameter(dialog, shape.get(), nameId, INVOKE_PROPERTYPUT, name, index));
    EXPECT_EQ(name, u"Gone");
    EXPECT_EQ(services.modalRuns, 0);
}

// A long message wraps within the dialog, which keeps every control in
// sight; on a dark palette too (screenshots for a person to look at).
TEST_F(ChooseName, ALongMessageWrapsAndTheDialogFitsItsControls) {
    frmChooseName dialog(&owner);
    dialog.setPalette(testsupport::DarkPalette());
    std::u16string name(90, u'x');
    services.modal = [&](QDialog& shown) {
        shown.show();
        QCoreApplication::processEvents();
        // Three lines at least: a long missing name wraps too.
        EXPECT_GE(dialog.Message()->height(), 3 * dialog.Message()->fontMetrics().lineSpacing());
        EXPECT_EQ(dialog.Names()->accessibleName().toStdU16String(),
                  modSupport::LoadResStringFormat(506, {modAttributeStrings::InvokeKindText(INVOKE_FUNC), name}));
        for (QWidget* control : std::initializer_list<QWidget*>{dialog.Message(), dialog.Names(), dialog.OkButton(),
                                                                 dialog.CancelButton()})
            EXPECT_TRUE(shown.rect().contains(control->geometry())) << control->objectName().toStdString();
        EXPECT_LT(dialog.Names()->geometry().bottom(), dialog.OkButton()->geometry().top());
        SaveScreenshots(shown, "choose-name-dark");
        shown.reject();
    };
    int32_t id = 0;
    ComPtr<ITypeInfo> shape = TypeNamed(lib.get(), u"IShape");
    EXPECT_FALSE(modChooseName::ChooseMember(dialog, shape.get(), TKIND_INTERFACE, INVOKE_FUNC, name, id));
}

// A very long candidate name leaves the dialog as wide as its message: its
// buttons stay on the screen, and the name shows in the drop-down list.
TEST_F(ChooseName, ALongCandidateNameKeepsTheDialogToItsMessagesWidth) {
    frmChooseName dialog(&owner);
    const ChooseNameRequest request{u"", u"Cannot find a Function named 'Gone'. Please choose another procedure.",
                                    {{std::u16string(250, u'W'), 1}, {u"Short", 2}}};
    services.modal = [&](QDialog& shown) {
        shown.show();
        QCoreApplication::processEvents();
        EXPECT_LT(shown.width(), dialog.Message()->width() * 3 / 2);
        for (QWidget* control : std::initializer_list<QWidget*>{dialog.Names(), dialog.OkButton(), dialog.CancelButton()})
            EXPECT_TRUE(shown.rect().contains(control->geometry())) << control->objectName().toStdString();
        dialog.Names()->showPopup();
        EXPECT_GT(dialog.Names()->view()->window()->width(), dialog.Names()->width());
        dialog.Names()->hidePopup();
        shown.reject();
    };
    EXPECT_FALSE(dialog.ChooseName(request));
    EXPECT_EQ(services.modalRuns, 1);
}

}  // namespace

// The palette frames and check boxes are drawn from: raised on dark colour
// groups only, and only where Fusion's own shade would sink into the base.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QProxyStyle>

#include "DialogTestSupport.h"
#include "dialogs/ContrastStyle.h"
#include "support/DarkTheme.h"

namespace dialogstest {
namespace {

TEST(ContrastStyle, RaisesTheWindowRoleOfDarkGroupsOnly) {
    App();
    const QPalette light = QApplication::palette();
    EXPECT_EQ(FramePalette(light), light);

    const QPalette dark = testsupport::DarkPalette();
    const QPalette raised = FramePalette(dark);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        // The shade Fusion takes from Window now lies near the frame shade,
        // well away from Base; nothing else changes.
        const int shade = raised.color(group, QPalette::Window).darker(140).lightness();
        EXPECT_NEAR(shade, FrameShade(dark, group).lightness(), 3) << group;
        EXPECT_GE(shade - dark.color(group, QPalette::Base).lightness(), group == QPalette::Disabled ? 20 : 60) << group;
        QPalette back = raised;
        back.setColor(group, QPalette::Window, dark.color(group, QPalette::Window));
        for (QPalette::ColorRole role : {QPalette::Base, QPalette::Text, QPalette::Button, QPalette::Highlight})
            EXPECT_EQ(back.color(group, role), dark.color(group, role));
    }

    // A dark theme whose window is already light enough keeps it.
    QPalette contrasty = dark;
    contrasty.setColor(QPalette::Window, QColor(0xb0, 0xb0, 0xb0));
    EXPECT_EQ(FramePalette(contrasty).color(QPalette::Window), QColor(0xb0, 0xb0, 0xb0));
}

TEST(ContrastStyle, IsGivenToAWidgetAndEverythingInIt) {
    App();
    QWidget outer;
    auto* field = new QLineEdit(&outer);
    UseContrastStyle(&outer);
    EXPECT_NE(outer.style(), QApplication::style());
    EXPECT_EQ(field->style(), outer.style());
    EXPECT_EQ(qobject_cast<QProxyStyle*>(field->style())->baseStyle()->name(), QApplication::style()->name());
}

}  // namespace
}  // namespace dialogstest

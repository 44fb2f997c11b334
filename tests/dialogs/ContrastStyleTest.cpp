// The palette frames and check boxes are drawn from: raised on dark colour
// groups only, and only where Fusion's own shade would sink into the base.
#include <gtest/gtest.h>

#include <QApplication>
#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
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

// The largest difference in lightness between the menu's background and the
// pixels of its edge (left) and of its separator (right).
std::pair<int, int> EdgeAndSeparatorContrast(QMenu& menu, QAction* separator) {
    const QImage image = menu.grab().toImage();
    const int background = QColor(image.pixel(image.width() / 2, menu.actionGeometry(menu.actions().front()).top() + 1)).lightness();
    const int edge = std::abs(QColor(image.pixel(0, image.height() / 2)).lightness() - background);
    int line = 0;
    const QRect rect = menu.actionGeometry(separator);
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        line = std::max(line, std::abs(QColor(image.pixel(image.width() / 2, y)).lightness() - background));
    return {edge, line};
}

// A menu's edge and separators read on a dark palette; a light menu is
// drawn as the style draws it.
TEST(ContrastStyle, MenuEdgesAndSeparatorsReadOnADarkPalette) {
    App();
    for (const bool dark : {false, true}) {
        const QPalette palette = dark ? testsupport::DarkPalette() : QApplication::palette();
        QWidget outer;
        UseContrastStyle(&outer);
        auto* menu = new QMenu(&outer);
        QMenu plain;
        QAction* separator = nullptr;
        for (QMenu* m : {menu, &plain}) {
            m->setPalette(palette);
            m->addAction(QStringLiteral("First"));
            separator = m->addSeparator();
            m->addAction(QStringLiteral("Second"));
            m->ensurePolished();
            m->resize(m->sizeHint());
        }
        QCoreApplication::processEvents();
        ASSERT_EQ(menu->style(), outer.style());
        const auto [edge, line] = EdgeAndSeparatorContrast(*menu, menu->actions()[1]);
        if (dark) {
            EXPECT_GE(edge, 40);
            EXPECT_GE(line, 40);
            const auto [plainEdge, plainLine] = EdgeAndSeparatorContrast(plain, separator);
            EXPECT_LT(plainLine, line);
            EXPECT_LT(plainEdge, edge);
        } else {
            EXPECT_EQ(menu->grab().toImage(), plain.grab().toImage());
        }
    }
}

}  // namespace
}  // namespace dialogstest

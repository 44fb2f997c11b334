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

// The red of an invalid mark reads on the light and the dark palette, in
// their active and inactive groups, where pure red doesn't; and it stays red.
TEST(ContrastStyle, TheInvalidMarkReadsOnLightAndDarkPalettes) {
    App();
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21, 0.01);
    EXPECT_NEAR(ContrastRatio(Qt::white, Qt::white), 1, 0.01);
    for (const QPalette& palette : {QApplication::palette(), testsupport::DarkPalette()}) {
        EXPECT_LT(ContrastRatio(QColor(0xff, 0, 0), palette.color(QPalette::Window)), kReadableContrast);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QColor mark = InvalidTextColor(palette, group);
            EXPECT_GE(ContrastRatio(mark, palette.color(group, QPalette::Window)), kReadableContrast);
            EXPECT_GE(ContrastRatio(mark, palette.color(group, QPalette::Base)), kReadableContrast);
            EXPECT_GT(mark.red(), mark.green() + 48) << mark.name().toStdString();
            EXPECT_GT(mark.red(), mark.blue() + 48) << mark.name().toStdString();
        }
    }
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

// A menu's edge and separators read on a dark palette (Fusion's own sink
// into it); a light menu is drawn as Fusion draws it.
TEST(ContrastStyle, MenuEdgesAndSeparatorsReadOnADarkPalette) {
    App();
    for (const bool dark : {false, true}) {
        QWidget outer;
        UseContrastStyle(&outer);
        QMenu plain;
        int contrast[2][2] = {};  // [styled, plain][edge, separator]
        QImage images[2];
        for (QMenu* menu : {new QMenu(&outer), &plain}) {
            const int which = menu == &plain;
            menu->setPalette(dark ? testsupport::DarkPalette() : QApplication::palette());
            menu->addAction(QStringLiteral("First"));
            QAction* separator = menu->addSeparator();
            menu->addAction(QStringLiteral("Second"));
            menu->resize(menu->sizeHint());
            QCoreApplication::processEvents();
            const QRect line = menu->actionGeometry(separator);
            images[which] = menu->grab().toImage();
            const QImage& image = images[which];
            const int x = image.width() / 2;
            const int background = QColor(image.pixel(x, menu->actionGeometry(menu->actions().front()).top() + 1)).lightness();
            contrast[which][0] = std::abs(QColor(image.pixel(0, image.height() / 2)).lightness() - background);
            for (int y = line.top(); y <= line.bottom(); ++y)
                contrast[which][1] = std::max(contrast[which][1], std::abs(QColor(image.pixel(x, y)).lightness() - background));
        }
        if (!dark) {
            EXPECT_EQ(images[0], images[1]);
            continue;
        }
        for (int part : {0, 1}) {
            EXPECT_GE(contrast[0][part], 40) << part;
            EXPECT_LT(contrast[1][part], contrast[0][part]) << part;
        }
    }
}

}  // namespace
}  // namespace dialogstest

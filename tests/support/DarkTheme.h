// Windows on a dark theme: a dark palette as a dark desktop theme sets it
// (every colour role, in the Active, Inactive and Disabled groups), and how
// clearly a list draws the check box of an unchecked item on its base.
#pragma once

#include <QColor>
#include <QImage>
#include <QListWidget>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>
#include <cstdlib>

namespace testsupport {

inline QPalette DarkPalette() {
    const QColor text(0xe8, 0xe8, 0xe8);
    const QColor dimmed(0x7a, 0x7a, 0x7a);
    const QColor button(0x3a, 0x3a, 0x3a);
    QPalette dark;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const bool inactive = group == QPalette::Inactive;
        dark.setColor(group, QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(group, QPalette::WindowText, disabled ? dimmed : text);
        dark.setColor(group, QPalette::Base, disabled ? QColor(0x26, 0x26, 0x26) : QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(group, QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
        dark.setColor(group, QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3a));
        dark.setColor(group, QPalette::ToolTipText, text);
        dark.setColor(group, QPalette::PlaceholderText, disabled ? QColor(0x5a, 0x5a, 0x5a) : QColor(0x8c, 0x8c, 0x8c));
        dark.setColor(group, QPalette::Text, disabled ? dimmed : text);
        dark.setColor(group, QPalette::Button, button);
        dark.setColor(group, QPalette::ButtonText, disabled ? dimmed : text);
        dark.setColor(group, QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
        // The bevel shades around Button, lighter to darker.
        dark.setColor(group, QPalette::Light, QColor(0x55, 0x55, 0x55));
        dark.setColor(group, QPalette::Midlight, QColor(0x47, 0x47, 0x47));
        dark.setColor(group, QPalette::Mid, QColor(0x2e, 0x2e, 0x2e));
        dark.setColor(group, QPalette::Dark, QColor(0x22, 0x22, 0x22));
        dark.setColor(group, QPalette::Shadow, QColor(0x0c, 0x0c, 0x0c));
        dark.setColor(group, QPalette::Highlight,
                      disabled ? QColor(0x4a, 0x4a, 0x4a) : inactive ? QColor(0x34, 0x55, 0x80) : QColor(0x3d, 0x6f, 0xb0));
        dark.setColor(group, QPalette::HighlightedText, disabled ? QColor(0xa0, 0xa0, 0xa0) : QColor(Qt::white));
        dark.setColor(group, QPalette::Link, disabled ? dimmed : QColor(0x6e, 0xa8, 0xfe));
        dark.setColor(group, QPalette::LinkVisited, disabled ? dimmed : QColor(0xb4, 0x8c, 0xfe));
    }
    return dark;
}

// The largest difference in lightness (0-255) between the list's Base colour
// and a pixel of the check box Fusion draws for item, as the list paints it.
inline int CheckBoxContrast(QListWidget& list, QListWidgetItem* item) {
    QStyleOptionViewItem option;
    option.initFrom(list.viewport());
    option.rect = list.visualItemRect(item);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item->checkState();
    option.text = item->text();
    option.widget = &list;
    const QRect box = list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &list)
                          .translated(list.viewport()->pos());
    QImage picture(list.size(), QImage::Format_ARGB32);
    const QColor base = list.palette().color(QPalette::Base);
    picture.fill(base);
    list.render(&picture);
    int contrast = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            contrast = std::max(contrast, std::abs(QColor(picture.pixel(x, y)).lightness() - base.lightness()));
    return box.isEmpty() ? -1 : contrast;
}

}  // namespace testsupport

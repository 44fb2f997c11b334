#include "dialogs/DialogIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace zephrin::dialogs {

namespace {

QPixmap Arrow(bool up, const QColor& colour, qreal scale) {
    constexpr int kSize = 16;
    QPixmap pixmap(QSize(kSize, kSize) * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const qreal top = up ? 4.5 : 11.5, bottom = up ? 11.5 : 4.5;
    path.moveTo(8, top);
    path.lineTo(14, bottom);
    path.lineTo(2, bottom);
    path.closeSubpath();
    painter.fillPath(path, colour);
    return pixmap;
}

}  // namespace

QIcon ArrowIcon(bool up, const QPalette& palette) {
    QIcon icon;
    const QColor normal = palette.color(QPalette::Active, QPalette::ButtonText);
    const QColor disabled = palette.color(QPalette::Disabled, QPalette::ButtonText);
    for (qreal scale : {1.0, 2.0}) {
        icon.addPixmap(Arrow(up, normal, scale), QIcon::Normal);
        icon.addPixmap(Arrow(up, disabled, scale), QIcon::Disabled);
    }
    return icon;
}

}  // namespace zephrin::dialogs

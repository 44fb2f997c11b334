// Screenshots of widgets for a person to look at.
#pragma once

#include <gtest/gtest.h>

#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <filesystem>
#include <string>

namespace testsupport {

// Saves the widget as build/screenshots/NAME.png and NAME@2x.png.
inline void SaveScreenshots(QWidget& widget, const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(ZEPHRIN_BIN_DIR).parent_path() / "screenshots";
    std::filesystem::create_directories(dir);
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pixmap(widget.size() * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(widget.palette().color(QPalette::Window));
        widget.render(&pixmap);
        const std::string file = name + (scale > 1 ? "@2x.png" : ".png");
        EXPECT_TRUE(pixmap.save(QString::fromStdString((dir / file).string()))) << file;
    }
}

}  // namespace testsupport

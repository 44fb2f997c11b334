// Saves a picture of each dialog at its default size and at twice the scale
// under build/screenshots/, for a person to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <filesystem>
#include <memory>

#include "dialogs/frmGenerateGuid.h"
#include "dialogs/frmTypeOrder.h"
#include "dialogs/frmVTableOrder.h"
#include "dialogs/frmVarOrder.h"
#include "DialogTestSupport.h"
#include "support/DarkTheme.h"

namespace dialogstest {
namespace {

// The image of a window with its contents drawn at scale.
QImage Render(QWidget& window, qreal scale) {
    QPixmap pixmap(window.size() * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(window.palette().color(QPalette::Window));
    window.render(&pixmap);
    return pixmap.toImage();
}

// Whether anything besides the background was drawn.
bool HasContent(const QImage& image, QColor background) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != background) return true;
    return false;
}

TEST(Screenshots, EachDialogAtItsDefaultSizeAndAtTwiceTheScale) {
    App();
    ComPtr<ITypeLib> lib = DialogLib();
    const std::filesystem::path dir = std::filesystem::path(ZEPHRIN_BIN_DIR).parent_path() / "screenshots";
    std::filesystem::create_directories(dir);
    std::vector<std::pair<const char*, std::unique_ptr<QDialog>>> dialogs;
    dialogs.emplace_back("guid", std::make_unique<frmGenerateGuid>(GUID{}, false, nullptr));
    dialogs.emplace_back("var-order", std::make_unique<frmVarOrder>(OrderListModel::ForVariables(lib.get(), 0), nullptr));
    dialogs.emplace_back("type-order", std::make_unique<frmTypeOrder>(OrderListModel::ForTypes(lib.get()), nullptr));
    dialogs.emplace_back("vtable-order",
                         std::make_unique<frmVTableOrder>(*VTableOrderModel::ForInterface(lib.get(), 3), nullptr));
    // A text that is not a GUID, and why it isn't; names cut in the middle.
    auto refused = std::make_unique<frmGenerateGuid>(GUID{}, false, nullptr);
    refused->Text()->setText(QStringLiteral("{6A1C0E55-1B0D-4E6C-8F11-2033445566}"));
    dialogs.emplace_back("guid-refused", std::move(refused));
    ComPtr<ITypeLib> longNames = LongNamesLib();
    dialogs.emplace_back("type-order-long-names",
                         std::make_unique<frmTypeOrder>(OrderListModel::ForTypes(longNames.get()), nullptr));
    dialogs.emplace_back("vtable-order-long-names",
                         std::make_unique<frmVTableOrder>(*VTableOrderModel::ForInterface(longNames.get(), 0), nullptr));
    for (auto& [name, dialog] : dialogs) {
        dialog->show();
        // On the default palette, then on a dark one.
        for (const char* theme : {"", "-dark"}) {
            if (*theme) dialog->setPalette(testsupport::DarkPalette());
            for (qreal scale : {1.0, 2.0}) {
                const QImage image = Render(*dialog, scale);
                EXPECT_EQ(image.size(), dialog->size() * scale) << name;
                EXPECT_TRUE(HasContent(image, dialog->palette().color(QPalette::Window))) << name;
                const std::string file = std::string("dialog-") + name + theme + (scale > 1 ? "@2x" : "") + ".png";
                EXPECT_TRUE(image.save(QString::fromStdString((dir / file).string()))) << file;
            }
        }
        dialog->close();
    }
}

}  // namespace
}  // namespace dialogstest

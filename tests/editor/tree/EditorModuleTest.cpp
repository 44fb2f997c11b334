// The editor module's start-up: the wait cursor behind long operations, the
// image lists, and screenshots of a tree with every kind of node.
#include "editor/TreeTestSupport.h"

#include <QDir>
#include <QImage>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <optional>

#include "foundation/modHourGlass.h"
#include "support/ErrorCapture.h"
#include "editor/tree/modImages.h"
#include "regen/IModifyHelpData.h"
#include "regen/TLBModifier.h"

namespace treetest {
namespace {

using ole::QueryInterfaceFor;
using ole::RefCounted;

int OverrideDepth() {
    int depth = 0;
    std::vector<QCursor> seen;
    while (QGuiApplication::overrideCursor()) {
        seen.push_back(*QGuiApplication::overrideCursor());
        QGuiApplication::restoreOverrideCursor();
        ++depth;
    }
    for (auto it = seen.rbegin(); it != seen.rend(); ++it) QGuiApplication::setOverrideCursor(*it);
    return depth;
}

bool WaitShown() {
    return QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

// Notes whether the wait cursor shows while the engine asks for help data,
// and can make the generation fail there.
struct CursorProbe : RefCounted<IModifyHelpData> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override { return QueryInterfaceFor<IModifyHelpData>(this, riid, ppv); }
    HRESULT ModifyLibHelp(tli::TypeLibInfo*, HelpData&) override {
        shown = WaitShown();
        depth = OverrideDepth();
        return fail ? E_FAIL : S_OK;
    }
    HRESULT ModifyTypeHelp(tli::TypeInfo*, LONG, HelpData&) override { return S_OK; }
    HRESULT ModifyMemberHelp(tli::TypeInfo*, tli::MemberInfo*, HelpData&) override { return S_OK; }
    bool fail = false;
    bool shown = false;
    int depth = 0;
};

class EditorModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApp(); }
    void TearDown() override {
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    }
};

TEST_F(EditorModule, TheWaitCursorShowsAroundARegenerationOnceWhenNestedAndGoesAfterAnError) {
    InitEditorModule();  // a second call does no harm
    const ComPtr<ITypeLib> lib = AsTypeLib(BuildShapes().get());
    for (bool nested : {false, true}) {
        for (bool fail : {false, true}) {
            auto probe = ole::MakeCom<CursorProbe>();
            probe->fail = fail;
            TLBModifier modifier;
            modifier.StartingLibDirect(lib.get());
            modifier.HelpModifier(probe.get());
            {
                // With an outer guard showing it already, the engine's adds nothing.
                std::optional<modHourGlass::HourGlassGuard> outer;
                if (nested) outer.emplace(modHourGlass::ShowHourGlass());
                EXPECT_EQ(ErrorOf([&] { modifier.GenerateDirect(u""); }) != 0, fail);
                EXPECT_TRUE(probe->shown);
                EXPECT_EQ(probe->depth, 1);
                EXPECT_EQ(WaitShown(), nested);
            }
            EXPECT_FALSE(QGuiApplication::overrideCursor()) << nested << fail;
        }
    }
    // Another override cursor on top is left alone, and a wait cursor below it stays.
    {
        const auto guard = modHourGlass::ShowHourGlass();
        QGuiApplication::setOverrideCursor(QCursor(Qt::IBeamCursor));
    }
    EXPECT_EQ(OverrideDepth(), 2);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_TRUE(WaitShown());
}

TEST_F(EditorModule, ImageListsHoldEveryImageAtBothScalesWithTheAliasMarkComposed) {
    const auto& window = modImages::GetWindowImageList();
    const auto& buttons = modImages::GetButtonFaceImageList();
    EXPECT_EQ(window.Count(), 23);
    EXPECT_EQ(buttons.Count(), 24);
    EXPECT_TRUE(window.Icon(0).isNull());
    EXPECT_TRUE(window.Icon(24).isNull());
    for (int i = 1; i <= 24; ++i) {
        const QIcon icon = buttons.Icon(i);
        const QImage small = icon.pixmap(QSize(16, 16), 1.0).toImage();
        const QImage large = icon.pixmap(QSize(16, 16), 2.0).toImage();
        EXPECT_EQ(small.size(), QSize(16, 16)) << i;
        EXPECT_EQ(large.size(), QSize(32, 32)) << i;
        EXPECT_NE(small, large.scaled(16, 16)) << i;  // drawn, not scaled
        EXPECT_GT(small.pixelColor(8, 8).alpha() + small.pixelColor(4, 12).alpha(), 0) << i;
    }
    for (int i = 1; i <= 8; ++i) {
        const QImage plain = window.Icon(i).pixmap(QSize(16, 16), 2.0).toImage();
        const QImage marked = window.Icon(i + 15).pixmap(QSize(16, 16), 2.0).toImage();
        EXPECT_NE(plain, marked) << i;
        EXPECT_EQ(plain.pixelColor(31, 0), marked.pixelColor(31, 0)) << i;  // the mark sits bottom left
    }
}

// How an image stands out from a base colour: the mean difference in
// lightness between the base and the pixels at the image's edge (those drawn
// on, next to one left bare).
int EdgeContrast(int index, int scale, const QColor& base) {
    QImage picture(QSize(modImages::kImageSize + 4, modImages::kImageSize + 4) * scale, QImage::Format_RGB32);
    picture.setDevicePixelRatio(scale);
    picture.fill(base);
    {
        QPainter p(&picture);
        modImages::GetWindowImageList().Icon(index).paint(&p, QRect(2, 2, modImages::kImageSize, modImages::kImageSize));
    }
    const auto bare = [&](int x, int y) { return picture.pixel(x, y) == base.rgb(); };
    int total = 0, count = 0;
    for (int y = 1; y + 1 < picture.height(); ++y)
        for (int x = 1; x + 1 < picture.width(); ++x)
            if (!bare(x, y) && (bare(x - 1, y) || bare(x + 1, y) || bare(x, y - 1) || bare(x, y + 1))) {
                total += std::abs(QColor(picture.pixel(x, y)).lightness() - base.lightness());
                ++count;
            }
    return count ? total / count : 0;
}

// The interface and library images read on a dark base as on a light one, at
// both scales.
TEST_F(EditorModule, InterfaceAndLibraryImagesStandOutFromADarkBase) {
    const QColor dark = DarkPalette().color(QPalette::Base);
    for (int index : {kImageSourceInterface, kImageInterface, kImageDispatch, kImageVTableDispatch, kImageLibrary})
        for (int scale : {1, 2}) {
            EXPECT_GE(EdgeContrast(index, scale, dark), 64) << index << " at " << scale << "x";
            EXPECT_GE(EdgeContrast(index, scale, Qt::white), 64) << index << " at " << scale << "x";
        }
}

TEST_F(EditorModule, ScreenshotsOfATreeWithEveryKindOfNode) {
    const std::filesystem::path folder = std::filesystem::path(ZEPHRIN_BIN_DIR).parent_path() / "screenshots";
    std::filesystem::create_directories(folder);
    const ComPtr<ITypeLib> lib = AsTypeLib(BuildAllKinds().get());
    for (bool dark : {false, true}) {
        QTreeWidget tree;
        SetUpLibraryTree(&tree);
        ConnectLazyFilling(&tree, nullptr);
        tree.setPalette(dark ? DarkPalette() : QGuiApplication::palette());
        QTreeWidgetItem* root = AddLibraryNode(&tree, lib.get(), nullptr, 0, true);
        AddBaseTypesNode(&tree);
        BuildAll(root);
        BuildAll(tree.topLevelItem(1));
        tree.expandAll();  // the lazy filling finds nothing left to build
        // Tall and wide enough for every node.
        int rows = 0, width = 0;
        for (QTreeWidgetItemIterator it(&tree); *it; ++it, ++rows) {
            int depth = 1;
            for (QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent()) ++depth;
            width = std::max(width, depth * tree.indentation() + tree.iconSize().width() +
                                        tree.fontMetrics().horizontalAdvance((*it)->text(0)));
        }
        const int frame = 2 * tree.frameWidth();
        tree.resize(width + frame + tree.fontMetrics().averageCharWidth() * 4, (rows + 1) * tree.sizeHintForRow(0) + frame);
        tree.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        tree.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        for (int scale : {1, 2}) {
            QPixmap shot(tree.size() * scale);
            shot.setDevicePixelRatio(scale);
            tree.render(&shot);
            const std::string name = std::string("tree-") + (dark ? "dark" : "light") + "-" + std::to_string(scale) + "x.png";
            EXPECT_TRUE(shot.save(QString::fromStdString((folder / name).string())));
        }
        ClearLibraryTree(&tree);
    }
    // Every image of the button-face list, at both scales, on both palettes.
    for (int scale : {1, 2}) {
        const int cell = 24;
        QPixmap sheet(QSize(cell * 24, cell * 2) * scale);
        sheet.setDevicePixelRatio(scale);
        QPainter p(&sheet);
        for (int row = 0; row < 2; ++row) {
            p.fillRect(QRect(0, row * cell, cell * 24, cell), row ? DarkPalette().base() : QGuiApplication::palette().base());
            for (int i = 1; i <= 24; ++i)
                modImages::GetButtonFaceImageList().Icon(i).paint(&p, QRect((i - 1) * cell + 4, row * cell + 4, 16, 16));
        }
        p.end();
        EXPECT_TRUE(sheet.save(QString::fromStdString((folder / ("images-" + std::to_string(scale) + "x.png")).string())));
    }
}

}  // namespace
}  // namespace treetest

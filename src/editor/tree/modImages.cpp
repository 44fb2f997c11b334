#include "editor/tree/modImages.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zephrin::modImages {
namespace {

// Shapes are drawn on a 16 by 16 grid, whatever the scale. Coordinates at .5
// put one-unit outlines on whole pixels at 1x.
void Shape(QPainter& p, const QPainterPath& path, const QColor& fill) {
    p.setPen(QPen(fill.darker(170), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(path);
}

QPainterPath Rect(qreal x, qreal y, qreal w, qreal h, qreal radius = 0) {
    QPainterPath path;
    if (radius > 0)
        path.addRoundedRect(QRectF(x, y, w, h), radius, radius);
    else
        path.addRect(QRectF(x, y, w, h));
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

void Line(QPainter& p, QPointF a, QPointF b, const QColor& colour, qreal width = 1.0) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a, b);
}

const QColor kBlue(0x3b, 0x7d, 0xd8);
const QColor kPurple(0x8e, 0x5b, 0xd0);
const QColor kOrange(0xe8, 0x8a, 0x1e);
const QColor kRed(0xd0, 0x4a, 0x3a);
const QColor kGreen(0x3a, 0x9a, 0x4a);
const QColor kTeal(0x24, 0x9a, 0x8c);
const QColor kGrey(0x95, 0xa0, 0xac);
const QColor kPaper(0xee, 0xee, 0xe8);
const QColor kMagenta(0xc8, 0x4c, 0x9a);
const QColor kAmber(0xe0, 0xa8, 0x20);

// An interface mark: a ring on a stick entering from the left.
void Lollipop(QPainter& p, const QColor& colour, bool filled, qreal cx = 10.5, qreal cy = 8) {
    Line(p, QPointF(1.5, cy), QPointF(cx - 3.5, cy), colour.darker(130), 2.0);
    p.setPen(QPen(colour.darker(150), 1.0));
    p.setBrush(filled ? colour : QColor(colour.lighter(175)));
    p.drawEllipse(QPointF(cx, cy), 4.0, 4.0);
    if (!filled) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, 1.6));
        p.drawEllipse(QPointF(cx, cy), 2.6, 2.6);
    }
}

void DrawImage(QPainter& p, int index) {
    switch (index) {
    case 1: {  // coclass: a component with two pins
        Shape(p, Rect(0.5, 4.5, 3, 2), kTeal);
        Shape(p, Rect(0.5, 9.5, 3, 2), kTeal);
        Shape(p, Rect(3.5, 2.5, 11, 11, 2), kTeal);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawEllipse(QPointF(9, 8), 2.5, 2.5);
        break;
    }
    case 2: {  // module: a sheet of lines
        Shape(p, Polygon({{2.5, 1.5}, {10.5, 1.5}, {13.5, 4.5}, {13.5, 14.5}, {2.5, 14.5}}), kPaper);
        for (qreal y : {5.5, 8.5, 11.5}) Line(p, QPointF(4.5, y), QPointF(11.5, y), kBlue, 1.2);
        break;
    }
    case 3: {  // record or union: a table
        Shape(p, Rect(1.5, 2.5, 13, 11), kBlue.lighter(150));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRect(QRectF(2, 3, 12, 3));
        Line(p, QPointF(1.5, 9.5), QPointF(14.5, 9.5), kBlue.darker(150));
        Line(p, QPointF(7.5, 6), QPointF(7.5, 13.5), kBlue.darker(150));
        break;
    }
    case 4: {  // enum: a numbered list
        for (qreal y : {2.0, 6.5, 11.0}) {
            Shape(p, Rect(1.5, y + 0.5, 3, 3), kOrange);
            Shape(p, Rect(6.5, y + 1, 8, 2), kOrange.lighter(140));
        }
        break;
    }
    case 5: {  // source interface: a ring whose stick leaves it as an arrow
        p.setPen(QPen(kRed.darker(150), 1.0));
        p.setBrush(kRed.lighter(160));
        p.drawEllipse(QPointF(5, 8), 3.8, 3.8);
        Line(p, QPointF(9, 8), QPointF(13, 8), kRed.darker(120), 2.0);
        Shape(p, Polygon({{11.5, 4.5}, {15.5, 8}, {11.5, 11.5}}), kRed);
        break;
    }
    case 6:
        Lollipop(p, kBlue, false);
        break;
    case 7:
        Lollipop(p, kPurple, true);
        break;
    case 8:  // a built-in type: a plain diamond
        Shape(p, Polygon({{8, 1.5}, {14.5, 8}, {8, 14.5}, {1.5, 8}}), kGrey);
        break;
    case 9:  // a dispinterface that lists its vtable: the ring beside three slots
        Lollipop(p, kPurple, true, 11, 10);
        for (qreal y : {1.5, 4.0, 6.5}) Shape(p, Rect(1.5, y, 5, 1.5), kBlue.lighter(130));
        break;
    case 10: {  // function: a block
        Shape(p, Polygon({{2.5, 5.5}, {10.5, 5.5}, {10.5, 13.5}, {2.5, 13.5}}), kMagenta);
        Shape(p, Polygon({{2.5, 5.5}, {5.5, 2.5}, {13.5, 2.5}, {10.5, 5.5}}), kMagenta.lighter(135));
        Shape(p, Polygon({{10.5, 5.5}, {13.5, 2.5}, {13.5, 10.5}, {10.5, 13.5}}), kMagenta.darker(125));
        break;
    }
    case 11: {  // property or field: a filled-in box
        Shape(p, Rect(1.5, 4.5, 13, 7, 1.5), kTeal.lighter(170));
        Line(p, QPointF(4, 8), QPointF(10, 8), kTeal.darker(130), 1.6);
        Line(p, QPointF(12, 6), QPointF(12, 10), kTeal.darker(160), 1.0);
        break;
    }
    case 12: {  // constant: a fixed value
        Shape(p, Rect(2.5, 2.5, 11, 11, 2), kGreen);
        Line(p, QPointF(5.5, 6.5), QPointF(10.5, 6.5), Qt::white, 1.6);
        Line(p, QPointF(5.5, 9.5), QPointF(10.5, 9.5), Qt::white, 1.6);
        break;
    }
    case 13: {  // library: books on a shelf
        Shape(p, Rect(1.5, 3.5, 4, 11), kRed);
        Shape(p, Rect(5.5, 1.5, 4, 13), kBlue);
        Shape(p, Polygon({{9.5, 4.0}, {12.5, 3.0}, {15.0, 13.8}, {12.0, 14.8}}), kGreen);
        break;
    }
    case 14:  // parameter: an argument passed in
        Shape(p, Polygon({{1.5, 5.5}, {7.5, 5.5}, {7.5, 2.5}, {13.5, 8}, {7.5, 13.5}, {7.5, 10.5}, {1.5, 10.5}}),
              kAmber);
        break;
    case 15: {  // the alias mark: a small box with a bent arrow
        Shape(p, Rect(0.5, 7.5, 8, 8), Qt::white);
        QPainterPath arrow;
        arrow.moveTo(2.5, 13.5);
        arrow.cubicTo(2.5, 11, 3.5, 10.5, 6, 10.5);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::black, 1.3, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(arrow);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPath(Polygon({{5.5, 8.5}, {7.8, 10.5}, {5.5, 12.5}}));
        break;
    }
    case kHelpImage: {  // help: a question mark in a disc
        p.setPen(QPen(kBlue.darker(150), 1.0));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(8, 8), 6.8, 6.8);
        QPainterPath mark;
        mark.moveTo(5.6, 6.2);
        mark.cubicTo(5.6, 3.2, 10.6, 3.2, 10.6, 6.0);
        mark.cubicTo(10.6, 7.8, 8.0, 8.0, 8.0, 10.0);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 1.7, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(mark);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8, 12.3), 1.1, 1.1);
        break;
    }
    default:
        break;
    }
}

const QColor kPaleRim(255, 255, 255, 170);
const QColor kSelectedRim(0x14, 0x18, 0x20);

// The images whose dark outlines and sticks would sink into a dark base: the
// interfaces and the library. They get a light rim.
bool HasRim(int index) {
    switch (index) {
    case 5:   // source interface
    case 6:   // interface
    case 7:   // dispinterface
    case 9:   // dispinterface listing its vtable
    case 13:  // library
        return true;
    default:
        return false;
    }
}

// A band one grid unit wide around everything drawn on picture, in colour:
// a pale, half-transparent one is unseen on a light base and an outline on a
// dark one; a dark, opaque one parts the image from a selection bar.
QImage WithRim(const QImage& picture, int scale, QColor colour) {
    QImage silhouette = picture;
    {
        QPainter p(&silhouette);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(silhouette.rect(), QColor(colour.rgb()));
    }
    QImage rimmed(picture.size(), QImage::Format_ARGB32_Premultiplied);
    rimmed.fill(Qt::transparent);
    QPainter p(&rimmed);
    for (int dy = -scale; dy <= scale; ++dy)
        for (int dx = -scale; dx <= scale; ++dx)
            if (dx * dx + dy * dy <= scale * scale) p.drawImage(dx, dy, silhouette);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.fillRect(rimmed.rect(), QColor(0, 0, 0, colour.alpha()));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(0, 0, picture);
    return rimmed;
}

// Image index drawn at scale, with the alias mark drawn over it when asked,
// and its rim (HasRim): pale on the window's base, dark on a selection bar.
QPixmap Render(int index, int scale, bool overlay, bool selected = false) {
    QImage picture(kImageSize * scale, kImageSize * scale, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        DrawImage(p, index);
        if (overlay) DrawImage(p, kOverlayImage);
    }
    QPixmap pixmap =
        QPixmap::fromImage(HasRim(index) ? WithRim(picture, scale, selected ? kSelectedRim : kPaleRim) : picture);
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

QIcon MakeIcon(int index, bool overlay = false) {
    QIcon icon;
    for (int scale : {1, 2}) icon.addPixmap(Render(index, scale, overlay));
    // A selected row (drawn in the Selected mode) shows the image with a dark
    // rim: the blue and purple images would sink into a blue selection bar
    // (the style's own selected image is tinted with the bar's colour), and
    // a pale rim would be a pale band on a light palette's bar.
    if (HasRim(index))
        for (int scale : {1, 2}) icon.addPixmap(Render(index, scale, overlay, true), QIcon::Selected);
    return icon;
}

ImageList& WindowList() {
    static ImageList list;
    return list;
}
ImageList& ButtonFaceList() {
    static ImageList list;
    return list;
}

}  // namespace

QIcon ImageList::Icon(int index) const {
    if (index < 1 || index > Count()) return {};
    return icons_[static_cast<size_t>(index - 1)];
}

void BuildImageLists() {
    std::vector<QIcon> icons;
    for (int k = 1; k <= kOverlayImage; ++k) icons.push_back(MakeIcon(k));
    for (int k = 1; k <= kOverlaidImages; ++k) icons.push_back(MakeIcon(k, true));
    WindowList().icons_ = icons;
    icons.push_back(MakeIcon(kHelpImage));
    ButtonFaceList().icons_ = std::move(icons);
    static const bool released = [] {
        qAddPostRoutine(ReleaseImageLists);
        return true;
    }();
    (void)released;
}

void ReleaseImageLists() {
    WindowList().icons_.clear();
    ButtonFaceList().icons_.clear();
}

const ImageList& GetWindowImageList() {
    if (WindowList().Count() == 0) BuildImageLists();
    return WindowList();
}

const ImageList& GetButtonFaceImageList() {
    if (ButtonFaceList().Count() == 0) BuildImageLists();
    return ButtonFaceList();
}

}  // namespace zephrin::modImages

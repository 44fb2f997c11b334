#include "dialogs/ContrastStyle.h"

#include <QApplication>
#include <QChildEvent>
#include <QMetaObject>
#include <QPointer>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zephrin::dialogs {
namespace {

// Fusion's frame shade is its Window colour made darker by this factor.
constexpr int kFusionOutlineFactor = 140;

class ContrastStyle : public QProxyStyle {
public:
    explicit ContrastStyle(const QString& baseKey) : QProxyStyle(baseKey) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        // A menu's panel carries its border.
        const bool framed = element == PE_FrameLineEdit || element == PE_Frame || element == PE_IndicatorCheckBox ||
                            element == PE_IndicatorItemViewItemCheck || element == PE_PanelMenu;
        if (!framed || !option || !IsFusion()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        if (DrawRaised<QStyleOptionViewItem>(element, option, painter, widget)) return;
        if (DrawRaised<QStyleOptionFrame>(element, option, painter, widget)) return;
        if (DrawRaised<QStyleOptionButton>(element, option, painter, widget)) return;
        if (DrawRaised<QStyleOptionMenuItem>(element, option, painter, widget)) return;
        DrawRaised<QStyleOption>(element, option, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuItem || !item || item->menuItemType != QStyleOptionMenuItem::Separator ||
            !item->text.isEmpty() || !IsFusion() || !IsDark(item->palette)) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        // Fusion's separator, a translucent black, vanishes on a dark menu: a line of the frame shade instead.
        const int margin = item->fontMetrics.height() / 3;
        const QPalette::ColorGroup group = (item->state & State_Enabled) ? QPalette::Active : QPalette::Disabled;
        painter->save();
        painter->setPen(FrameShade(item->palette, group));
        const int y = item->rect.center().y();
        painter->drawLine(item->rect.left() + margin, y, item->rect.right() - margin, y);
        painter->restore();
    }

private:
    static bool IsDark(const QPalette& palette) {
        return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
    }
    bool IsFusion() const { return baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0; }

    template <class Option>
    bool DrawRaised(PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const {
        const auto* typed = qstyleoption_cast<const Option*>(option);
        if (!typed) return false;
        Option raised(*typed);
        raised.palette = FramePalette(typed->palette);
        QProxyStyle::drawPrimitive(element, &raised, painter, widget);
        return true;
    }
};

QStyle* SharedStyle() {
    static QPointer<ContrastStyle> style;
    if (!style) {
        style = new ContrastStyle(QApplication::style()->name());
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

// Gives the widgets made inside a widget after UseContrastStyle the style too:
// each one as it is polished (before it is first shown), and each one added
// already polished (moved in from elsewhere) once control returns to the event
// loop. It watches every widget inside, so that widgets made inside those are
// met as well.
class StyleLaterChildren : public QObject {
public:
    explicit StyleLaterChildren(QObject* parent) : QObject(parent) {}

    void Watch(QWidget* widget) {
        widget->removeEventFilter(this);
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ChildPolished && event->type() != QEvent::ChildAdded) return false;
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (!child || !child->isWidgetType()) return false;
        if (event->type() == QEvent::ChildPolished) {
            Cover(static_cast<QWidget*>(child));
        } else {
            // The child is still being made: its class's part isn't there yet.
            QPointer<QWidget> later(static_cast<QWidget*>(child));
            QMetaObject::invokeMethod(
                this, [this, later] {
                    if (later) Cover(later);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

    // The widget and every widget inside it, styled and watched.
    void Cover(QWidget* widget) {
        QStyle* style = SharedStyle();
        if (widget->style() != style) widget->setStyle(style);
        Watch(widget);
        for (QWidget* inner : widget->findChildren<QWidget*>()) {
            if (inner->style() != style) inner->setStyle(style);
            Watch(inner);
        }
    }
};

StyleLaterChildren* Watcher() {
    static QPointer<StyleLaterChildren> watcher;
    if (!watcher) watcher = new StyleLaterChildren(QCoreApplication::instance());
    return watcher;
}

}  // namespace

QColor FrameShade(const QPalette& palette, QPalette::ColorGroup group) {
    const QColor base = palette.color(group, QPalette::Base);
    const QColor text = palette.color(group, QPalette::Text);
    constexpr float kShare = 0.4f;
    return QColor::fromRgbF(base.redF() + (text.redF() - base.redF()) * kShare,
                            base.greenF() + (text.greenF() - base.greenF()) * kShare,
                            base.blueF() + (text.blueF() - base.blueF()) * kShare);
}

QPalette FramePalette(const QPalette& palette) {
    QPalette raised = palette;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor base = palette.color(group, QPalette::Base);
        if (base.lightness() >= palette.color(group, QPalette::Text).lightness()) continue;
        const QColor shade = FrameShade(palette, group);
        const QColor fusionShade = palette.color(group, QPalette::Window).darker(kFusionOutlineFactor);
        if (std::abs(fusionShade.lightness() - base.lightness()) >= std::abs(shade.lightness() - base.lightness()))
            continue;
        raised.setColor(group, QPalette::Window, shade.lighter(kFusionOutlineFactor));
    }
    return raised;
}

void UseContrastStyle(QWidget* widget) {
    if (!widget) return;
    Watcher()->Cover(widget);
}

namespace {

// The relative luminance of colour: its sRGB channels made linear, weighed by how bright each looks.
double Luminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor InvalidTextColor(const QPalette& palette, QPalette::ColorGroup group) {
    const QColor red(0xff, 0x00, 0x00);
    const QColor text = palette.color(group, QPalette::WindowText);
    const QColor window = palette.color(group, QPalette::Window);
    const QColor base = palette.color(group, QPalette::Base);
    // Steps of 1/20 towards the text colour, which reads on the window as far as any colour of this palette does.
    for (int step = 0; step <= 20; ++step) {
        const double t = step / 20.0;
        const QColor mixed = QColor::fromRgbF(static_cast<float>(red.redF() + (text.redF() - red.redF()) * t),
                                              static_cast<float>(red.greenF() + (text.greenF() - red.greenF()) * t),
                                              static_cast<float>(red.blueF() + (text.blueF() - red.blueF()) * t));
        if (ContrastRatio(mixed, window) >= kReadableContrast && ContrastRatio(mixed, base) >= kReadableContrast)
            return mixed.toRgb();
    }
    return text;
}

}  // namespace zephrin::dialogs

#include "dialogs/ContrastStyle.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>
#include <QWidget>

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
        const bool framed = element == PE_FrameLineEdit || element == PE_Frame || element == PE_IndicatorCheckBox ||
                            element == PE_IndicatorItemViewItemCheck;
        if (!framed || !option || !IsFusion()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        if (DrawRaised<QStyleOptionViewItem>(element, option, painter, widget)) return;
        if (DrawRaised<QStyleOptionFrame>(element, option, painter, widget)) return;
        if (DrawRaised<QStyleOptionButton>(element, option, painter, widget)) return;
        DrawRaised<QStyleOption>(element, option, painter, widget);
    }

private:
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
    QStyle* style = SharedStyle();
    widget->setStyle(style);
    for (QWidget* child : widget->findChildren<QWidget*>()) child->setStyle(style);
}

}  // namespace zephrin::dialogs

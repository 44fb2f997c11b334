#include "dialogs/InvalidMark.h"

#include <QEvent>
#include <QLabel>
#include <QPalette>
#include <QVariant>
#include <QWidget>

#include "dialogs/AccessibleChanges.h"
#include "dialogs/ContrastStyle.h"

namespace zephrin::dialogs {
namespace {

const char* const kMarked = "zephrinInvalidMark";
const char* const kReasonLabel = "zephrinReasonLabel";  // on a field: its reason label
const char* const kHideValid = "zephrinHideValid";      // on a reason label

// Gives a marked caption the invalid colour of its parent's palette.
void Colour(QLabel* caption) {
    const QWidget* parent = caption->parentWidget();
    QPalette palette = parent ? parent->palette() : caption->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::WindowText, InvalidTextColor(palette, group));
    caption->setPalette(palette);
}

// Colours a marked caption again when its palette changes (a dark theme
// chosen while a field is invalid).
class PaletteFollower : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange && watched->property(kMarked).toBool())
            Colour(static_cast<QLabel*>(watched));
        return false;
    }
};

}  // namespace

void MarkCaptionInvalid(QLabel* caption, bool invalid) {
    QFont font = caption->font();
    font.setBold(invalid);
    caption->setFont(font);
    caption->setProperty(kMarked, invalid);
    if (!invalid) {
        caption->setPalette(QPalette());  // the parent's again
        return;
    }
    if (!caption->findChild<PaletteFollower*>(QString(), Qt::FindDirectChildrenOnly))
        caption->installEventFilter(new PaletteFollower(caption));
    Colour(caption);
}

void MarkFieldInvalid(QLabel* label, QWidget* field, bool invalid, const QString& why) {
    // The colour is not all: the field itself says that its value is invalid
    // and what it takes, which a screen reader reads with the field.
    // Each told once, when it changes: the field's own description is set
    // while it has one, so that its tooltip, which a reader would read in
    // its place, tells nothing more.
    const QString told = invalid ? QStringLiteral("Invalid value. ") + why : QString();
    SetToolTipTold(label, invalid ? why : QString());
    if (invalid) SetDescriptionTold(field, told);
    SetToolTipTold(field, invalid ? why : QString());
    if (!invalid) SetDescriptionTold(field, told);
    if (auto* reason = qobject_cast<QLabel*>(field->property(kReasonLabel).value<QObject*>())) {
        reason->setText(invalid ? why : QString());
        if (reason->property(kHideValid).toBool()) reason->setVisible(invalid && !why.isEmpty());
    }
}

QLabel* NewReasonLabel(QWidget* field, bool hideValid, QWidget* parent) {
    auto* reason = new QLabel(parent);
    reason->setObjectName(QStringLiteral("lblReason"));
    reason->setWordWrap(true);
    reason->setTextFormat(Qt::PlainText);
    reason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    MarkCaptionInvalid(reason, true);  // always in the invalid mark's colour
    reason->setProperty(kHideValid, hideValid);
    if (hideValid) reason->hide();
    field->setProperty(kReasonLabel, QVariant::fromValue(static_cast<QObject*>(reason)));
    QObject::connect(reason, &QObject::destroyed, field, [field] { field->setProperty(kReasonLabel, QVariant()); });
    return reason;
}

}  // namespace zephrin::dialogs

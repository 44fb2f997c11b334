#include "dialogs/ModalDialog.h"

#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/ContrastStyle.h"
#include "dialogs/MenuKeys.h"
#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

ModalDialog::ModalDialog(QWidget* owner, Sizing sizing) : QDialog(owner), sizing_(sizing) {
    // A window of its own rather than a transient dialog, so it has its own taskbar entry.
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (sizing == Sizing::Resizable) flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setWindowModality(Qt::ApplicationModal);
}

bool ModalDialog::Execute() {
    accepted_ = false;
    Services().RunModal(*this);
    return accepted_;
}

QVBoxLayout* ModalDialog::MakeOkCancel() {
    auto* box = new QVBoxLayout;
    ok_ = new QPushButton(ResText(300), this);
    auto* cancel = new QPushButton(ResText(301), this);
    box->addWidget(ok_);
    box->addWidget(cancel);
    ok_->setObjectName(QStringLiteral("cmdOK"));
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    NameFromCaption(ok_, ok_->text());
    NameFromCaption(cancel, cancel->text());
    ok_->setDefault(true);
    OnClick(ok_, [this] { AcceptWithOk(); });
    OnClick(cancel, [this] { reject(); });
    return box;
}

void ModalDialog::AcceptWithOk() {
    accepted_ = true;
    accept();
}

void ModalDialog::FinishLayout() {
    UseContrastStyle(this);
    OpenFieldMenusOnShiftF10();
    if (sizing_ == Sizing::Fixed) {
        layout()->setSizeConstraint(QLayout::SetFixedSize);
    } else {
        adjustSize();
        setMinimumSize(minimumSizeHint().expandedTo(layout()->minimumSize()));
    }
    if (!keys_.isEmpty())
        for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

void ModalDialog::OnClick(QAbstractButton* button, std::function<void()> handler) {
    connect(button, &QAbstractButton::clicked, this, [this, handler = std::move(handler)] { Guarded(this, handler); });
}

void ModalDialog::MapKey(int key, QAbstractButton* button, bool withModifier) {
    keys_.insert(key, KeyBinding{button, withModifier});
}

bool ModalDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto found = keys_.constFind(key->key());
    if (found == keys_.constEnd()) return QDialog::eventFilter(watched, event);
    const bool modified = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (found->WithModifier && !modified) return QDialog::eventFilter(watched, event);
    Guarded(this, [&] {
        if (found->Button->isEnabled())
            found->Button->click();
        else
            Services().Beep();
    });
    return true;
}

QString CaptionName(const QString& caption) {
    QString name;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
        name += caption[i];
    }
    return name;
}

void NameFromCaption(QWidget* widget, const QString& caption) { widget->setAccessibleName(CaptionName(caption)); }

}  // namespace zephrin::dialogs

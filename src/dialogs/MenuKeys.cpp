#include "dialogs/MenuKeys.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>

namespace zephrin::dialogs {
namespace {

class ShiftF10Menus final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (key->key() != Qt::Key_F10 || modifiers != Qt::ShiftModifier) return false;
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (!field) return false;
        const Qt::ContextMenuPolicy policy = field->contextMenuPolicy();
        if (policy != Qt::DefaultContextMenu && policy != Qt::CustomContextMenu) return false;
        // The request the Menu key makes, sent to the field itself: what
        // answers it there (the field's own menu, or a menu the program
        // shows in its place) answers both keys alike.
        const QPoint below(0, field->height());
        QContextMenuEvent request(QContextMenuEvent::Keyboard, below, field->mapToGlobal(below), key->modifiers());
        QApplication::sendEvent(field, &request);
        return true;
    }
};

}  // namespace

void OpenFieldMenusOnShiftF10() {
    static QPointer<ShiftF10Menus> filter;
    if (filter || !QCoreApplication::instance()) return;
    filter = new ShiftF10Menus(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filter);
}

}  // namespace zephrin::dialogs

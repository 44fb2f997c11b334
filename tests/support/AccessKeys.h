// Access keys in tests: every Alt+letter a window shows on a caption, pressed
// as the user presses it, and the control the key then reaches.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QShortcutEvent>
#include <QTabBar>
#include <QTest>
#include <QWidget>

#include <string>
#include <vector>

namespace testsupport {

// The letter after the first single "&" of caption, in upper case; none when
// the caption has no access key ("&&" shows an "&").
inline QChar AccessKeyOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&')) continue;
        if (caption[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return {};
}

// A control of a window that shows an access key: a label with a buddy, a
// button, a group box, a tab of a tab strip, a menu of a menu bar.
struct AccessKeyOwner {
    QWidget* Owner = nullptr;
    QChar Key;
    QString Caption;
};

inline std::vector<AccessKeyOwner> AccessKeyOwners(QWidget& window) {
    std::vector<AccessKeyOwner> owners;
    const auto add = [&](QWidget* owner, const QString& caption) {
        const QChar key = AccessKeyOf(caption);
        if (!key.isNull()) owners.push_back({owner, key, caption});
    };
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->window() != &window || !w->isVisible() || !w->isEnabled()) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->buddy()) add(label, label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            add(button, button->text());
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            add(box, box->title());
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->isTabEnabled(i) && tabs->isTabVisible(i)) add(tabs, tabs->tabText(i));
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            for (QAction* action : bar->actions())
                if (action->isVisible() && action->isEnabled()) add(bar, action->text());
        }
    }
    return owners;
}

// Catches the shortcut event an access key raises, so that nothing is done.
class ShortcutCatcher final : public QObject {
public:
    QObject* Receiver = nullptr;
    bool Ambiguous = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) return false;
        if (!Receiver) {
            Receiver = watched;
            Ambiguous = static_cast<QShortcutEvent*>(event)->isAmbiguous();
        }
        return true;
    }
};

// Presses each access key window shows (the window made active first) and
// tells, as "where: Alt+K of 'caption' reaches ...", each one that reaches a
// control other than the one whose caption shows it, or reaches it only as
// one of several controls sharing the key. Nothing a key would do is done.
inline std::vector<std::string> AccessKeyFaults(QWidget& window, const std::string& where) {
    std::vector<std::string> faults;
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        faults.push_back(where + ": the window could not be made active");
        return faults;
    }
    const auto describe = [](QObject* object) {
        if (!object) return std::string("nothing");
        std::string text = object->metaObject()->className();
        if (auto* label = qobject_cast<QLabel*>(object)) text += " '" + label->text().toStdString() + "'";
        if (auto* button = qobject_cast<QAbstractButton*>(object)) text += " '" + button->text().toStdString() + "'";
        if (!object->objectName().isEmpty()) text += " " + object->objectName().toStdString();
        return text;
    };
    for (const AccessKeyOwner& owner : AccessKeyOwners(window)) {
        ShortcutCatcher catcher;
        QApplication::instance()->installEventFilter(&catcher);
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == &window ? focus : &window,
                        static_cast<Qt::Key>(owner.Key.unicode()), Qt::AltModifier);
        QApplication::instance()->removeEventFilter(&catcher);
        if (catcher.Receiver == owner.Owner && !catcher.Ambiguous) continue;
        faults.push_back(where + ": Alt+" + QString(owner.Key).toStdString() + " of '" + owner.Caption.toStdString() +
                         "' (" + describe(owner.Owner) + ") reaches " + describe(catcher.Receiver) +
                         (catcher.Ambiguous ? ", one of several sharing the key" : ""));
    }
    return faults;
}

}  // namespace testsupport

#include "dialogs/AccessibleChanges.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTextEdit>
#include <QTreeWidget>

#include <algorithm>

namespace zephrin::dialogs {
namespace {

// Text fields, which tell a reader of every change of their text themselves
// (a list's choice made by the program, its signals blocked, is not told).
bool TellsItsText(const QWidget* widget) {
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

void Send(QObject* object, int child, QAccessible::Event type) {
    QAccessibleEvent event(object, type);
    if (child >= 0) event.setChild(child);
    QAccessible::updateAccessibility(&event);
}

// Whether a reader listens: Qt's flag, or what Qt last told its observers.
// The platform tells both when a reader starts; an accessibility bridge that
// carries the events without the platform tells the observers alone. Watched
// from the program's start, before any window is made.
class ReaderStart final : public QAccessible::ActivationObserver {
public:
    ReaderStart() { QAccessible::installActivationObserver(this); }
    void accessibilityActiveChanged(bool active) override { started_ = active; }
    bool Listens() const { return started_ || QAccessible::isActive(); }

private:
    bool started_ = false;
};

// Kept to the end: Qt's list of observers may go first.
const ReaderStart* const readerStart = new ReaderStart;

}  // namespace

AccessibleChanges::AccessibleChanges() { QAccessible::installActivationObserver(this); }

AccessibleChanges::~AccessibleChanges() { QAccessible::removeActivationObserver(this); }

void AccessibleChanges::Watch(QWidget* root) { roots_.emplace_back(root); }

void AccessibleChanges::accessibilityActiveChanged(bool active) {
    said_.clear();
    if (active) Read(said_);
}

void AccessibleChanges::Read(std::map<Key, Said>& now) const {
    for (const QPointer<QWidget>& root : roots_) {
        if (!root || !root->isVisible()) continue;
        QList<QWidget*> controls = root->findChildren<QWidget*>();
        controls.prepend(root);
        for (QWidget* control : controls) {
            if (!control->isVisible()) continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            if (!accessible) continue;
            now[{control, -1}] = {accessible->text(QAccessible::Name), accessible->text(QAccessible::Description),
                                  accessible->text(QAccessible::Value)};
            if (qobject_cast<QTabBar*>(control))
                for (int i = 0; i < accessible->childCount(); ++i)
                    if (QAccessibleInterface* tab = accessible->child(i))
                        now[{control, i}] = {tab->text(QAccessible::Name), tab->text(QAccessible::Description), {}};
        }
    }
}

void AccessibleChanges::Tell() {
    if (!readerStart->Listens()) return;
    std::map<Key, Said> now;
    Read(now);
    for (const auto& [key, said] : now) {
        // What was told last, kept while a control was hidden and for a tab
        // index that a shorter strip left out: a reader keeps it too.
        // A control shown since, or a tab added, may have been read while the
        // pane was being filled: what it says now is told.
        const auto before = said_.try_emplace(key).first;
        auto* object = const_cast<QObject*>(key.first);
        const auto* control = static_cast<const QWidget*>(key.first);
        const bool tab = key.second >= 0;
        // A label tells of its own text; a name or description set on the
        // control was told when set. Any other comes from elsewhere (a
        // caption, a tooltip, a tab bar's current tab), which tells nothing.
        if (said.Name != before->second.Name &&
            (tab || (said.Name != control->accessibleName() && !qobject_cast<const QLabel*>(control))))
            Send(object, key.second, QAccessible::NameChanged);
        if (said.Description != before->second.Description &&
            (tab || said.Description != control->accessibleDescription()))
            Send(object, key.second, QAccessible::DescriptionChanged);
        if (!tab && said.Value != before->second.Value && !TellsItsText(control)) {
            QAccessibleValueChangeEvent event(object, said.Value);
            QAccessible::updateAccessibility(&event);
        }
        before->second = said;
    }
}

void TellFocusedItem(QTreeWidget* tree) {
    QTreeWidgetItem* item = tree->currentItem();
    if (!readerStart->Listens() || !item || !tree->hasFocus() || tree->visualItemRect(item).isEmpty()) return;
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(tree);
    QAccessibleTableInterface* table = view ? view->tableInterface() : nullptr;
    if (!table) return;
    // The tree's rows are the items shown, its expanded branches unfolded.
    int row = 0;
    for (QTreeWidgetItem* above = tree->itemAbove(item); above; above = tree->itemAbove(above)) ++row;
    QAccessibleInterface* cell = table->cellAt(row, std::max(tree->currentColumn(), 0));
    if (cell) Send(tree, view->indexOfChild(cell), QAccessible::Focus);
}

void TellFocusedItem(QListView* list) {
    const QModelIndex current = list->currentIndex();
    if (!readerStart->Listens() || !current.isValid() || !list->hasFocus() || list->visualRect(current).isEmpty())
        return;
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list);
    QAccessibleTableInterface* table = view ? view->tableInterface() : nullptr;
    QAccessibleInterface* cell = table ? table->cellAt(current.row(), 0) : nullptr;
    if (cell) Send(list, view->indexOfChild(cell), QAccessible::Focus);
}

void TellWindowActive(QWidget* window) {
    QAccessible::State changed;
    changed.active = true;
    QAccessibleStateChangeEvent activated(window, changed);
    QAccessible::updateAccessibility(&activated);
}

void SetToolTipTold(QWidget* widget, const QString& tip) {
    if (widget->toolTip() == tip) return;
    widget->setToolTip(tip);
    if (widget->accessibleDescription().isEmpty()) Send(widget, -1, QAccessible::DescriptionChanged);
}

void SetDescriptionTold(QWidget* widget, const QString& description) {
    if (widget->accessibleDescription() != description) widget->setAccessibleDescription(description);
}

}  // namespace zephrin::dialogs

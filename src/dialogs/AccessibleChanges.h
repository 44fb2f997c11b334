// What screen readers were told of a group of controls, and the events that
// tell them what changed since without an event of its own. A reader keeps
// the names it was told. Qt tells it when a control's own accessible name or
// description is set, when a label's or a field's text changes and when a
// list's choice changes; it tells nothing when a field whose name comes from
// its caption label sees that caption change, when a description that comes
// from a tooltip changes, or when a tab of a tab bar takes another caption
// (tab bars reuse their tabs). Tell() sends NameChanged, DescriptionChanged
// and ValueChanged for those, so that a reader hears what is shown now.
#pragma once

#include <QAccessible>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <utility>
#include <vector>

class QListView;
class QTreeWidget;

namespace zephrin::dialogs {

class AccessibleChanges : private QAccessible::ActivationObserver {
public:
    AccessibleChanges();
    ~AccessibleChanges() override;
    AccessibleChanges(const AccessibleChanges&) = delete;
    AccessibleChanges& operator=(const AccessibleChanges&) = delete;

    // Watches root and the controls inside it, those made later as well.
    void Watch(QWidget* root);
    // Sends the events for what the controls shown say differently since the
    // last call; nothing while no reader listens.
    void Tell();

    // Tells, as the outermost of the scopes open goes, what changed while they were open.
    class Scope {
    public:
        explicit Scope(AccessibleChanges& changes) : changes_(changes) { ++changes_.depth_; }
        ~Scope() {
            if (--changes_.depth_ == 0) changes_.Tell();
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        AccessibleChanges& changes_;
    };

private:
    struct Said {
        QString Name, Description, Value;
    };
    using Key = std::pair<const QObject*, int>;  // a control, or a tab of a tab bar

    // A reader that starts reads what is shown then.
    void accessibilityActiveChanged(bool active) override;
    // What the controls shown say now.
    void Read(std::map<Key, Said>& now) const;

    std::vector<QPointer<QWidget>> roots_;
    std::map<Key, Said> said_;
    int depth_ = 0;
};

// Tells a reader that the focus is on tree's current item, as the tree tells
// it when the current item changes while it has the focus: a tree that takes
// the focus tells only of itself. Nothing when the tree hasn't the focus.
void TellFocusedItem(QTreeWidget* tree);
// The same for list's current row.
void TellFocusedItem(QListView* list);
// Tells a reader again that window is active: Qt tells of an activation
// before the window counts as active, so that a reader reads it as inactive.
void TellWindowActive(QWidget* window);

// Sets widget's tooltip, and tells a reader of the description it gives the
// widget when it has no description of its own.
void SetToolTipTold(QWidget* widget, const QString& tip);
// Sets widget's own description, telling a reader only when it changes: Qt
// tells it each time it is set, the same text again too, so that a field
// checked at each key would repeat its reason at each key.
void SetDescriptionTold(QWidget* widget, const QString& description);

}  // namespace zephrin::dialogs

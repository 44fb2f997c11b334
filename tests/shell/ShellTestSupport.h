// The shell's windows in tests: the application object, UI services that
// answer messages and file choosers from a script, and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QWidget>

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/UiServices.h"
#include "support/ScreenReader.h"
#include "support/Screenshots.h"

namespace shelltest {

using namespace zephrin;
using namespace zephrin::dialogs;

// The application object of the test program (offscreen), with the editor
// module started; it goes when the tests end.
void EnsureApp();

// Messages are answered from answers (OK once it has run out). A file chooser
// offers the names of openNames or saveNames one after the other to the
// request's check, as a user who types them one by one; the first that
// passes is the choice, and when none is left the user cancels.
class ScriptedServices : public UiServices {
public:
    struct Message {
        QString Text;
        int32_t Style;
    };
    std::vector<Message> messages;
    std::deque<MessageAnswer> answers;
    std::deque<QString> openNames, saveNames;
    std::vector<FileRequest> requests;  // every chooser shown, in order
    int beeps = 0;
    int modalRuns = 0;
    bool skipChecks = false;  // the choosers hand names back unchecked
    std::function<void(QDialog&)> modal;  // drives a modal dialog and closes it

    MessageAnswer MessageBox(QWidget*, const QString& text, int32_t style) override {
        messages.push_back({text, style});
        if (answers.empty()) return kAnswerOk;
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override { ++beeps; }
    QString OpenFileName(QWidget*, const FileRequest& request) override { return Choose(request, openNames); }
    QString SaveFileName(QWidget*, const FileRequest& request) override { return Choose(request, saveNames); }
    int RunModal(QDialog& dialog) override {
        ++modalRuns;
        if (modal) modal(dialog);
        return dialog.result();
    }
    std::vector<QString> MessageTexts() const {
        std::vector<QString> texts;
        for (const Message& m : messages) texts.push_back(m.Text);
        return texts;
    }

private:
    QString Choose(const FileRequest& request, std::deque<QString>& names) {
        requests.push_back(request);
        while (!names.empty()) {
            QString name = names.front();
            names.pop_front();
            if (!request.DefaultExtension.isEmpty() && !name.contains(u'.'))
                name += QLatin1Char('.') + request.DefaultExtension;
            if (skipChecks || !request.Accept || request.Accept(name)) return name;
        }
        return {};
    }
};

// The text of string-table entry id, "|1" filled with item when given.
inline QString Text(int32_t id, const QString& item = {}) {
    QString text = ResText(id);
    if (!item.isNull()) text.replace(QStringLiteral("|1"), item);
    return text;
}

inline QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// A screen reader that keeps the name changes it is told while it lives, each
// with the name it then reads: of object itself (child -1) or of its child.
class NameChanges : public testsupport::ScreenReader {
public:
    struct Change {
        const QObject* Object;
        int Child;
        QString Name;
        bool operator==(const Change&) const = default;
    };
    // Those of object.
    std::vector<Change> Of(const QObject* object) const {
        std::vector<Change> found;
        for (const Change& change : changes_)
            if (change.Object == object) found.push_back(change);
        return found;
    }
    void Heard(QAccessibleEvent* event) override {
        if (event->type() != QAccessible::NameChanged) return;
        QAccessibleInterface* told = event->accessibleInterface();
        changes_.push_back({event->object(), event->child(), told ? told->text(QAccessible::Name) : QString()});
    }

private:
    std::vector<Change> changes_;
};

// A screen reader that keeps the names it last heard of the focus and of a
// window told active.
struct ActivationReader : testsupport::ScreenReader {
    QString focus, active;
    void Heard(QAccessibleEvent* event) override {
        QAccessibleInterface* told = event->accessibleInterface();
        if (told && event->type() == QAccessible::Focus) focus = told->text(QAccessible::Name);
        if (told && event->type() == QAccessible::StateChanged && told->state().active)
            active = told->text(QAccessible::Name);
    }
};

inline void PrintTo(const NameChanges::Change& change, std::ostream* out) {
    *out << "(" << change.Child << ", \"" << change.Name.toStdString() << "\")";
}

using testsupport::SaveScreenshots;

}  // namespace shelltest

// The program's message boxes: the style gives the icon, the buttons and the
// default button; the button pressed gives the answer.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "DialogTestSupport.h"

namespace dialogstest {
namespace {

struct BoxCase {
    const char* name;
    int32_t style;
    QMessageBox::Icon icon;
    QStringList buttons;
    QString defaultButton;
    MessageAnswer answer;  // when the default button is pressed
};

// Runs fn on the message box as soon as it shows.
void OnMessageBox(std::function<void(QMessageBox&)> fn) {
    QTimer::singleShot(0, [fn] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) return fn(*box);
        }
        OnMessageBox(fn);
    });
}

TEST(MessageBoxes, TheStyleChoosesIconButtonsAndDefaultAndThePressedButtonIsTheAnswer) {
    App();
    const BoxCase cases[] = {
        {"error", kStyleError, QMessageBox::Warning, {"OK"}, "OK", kAnswerOk},
        {"OK only", kStyleOkOnly, QMessageBox::NoIcon, {"OK"}, "OK", kAnswerOk},
        {"Yes/No, No default", kStyleYesNoQuestionNoDefault, QMessageBox::Question, {"Yes", "No"}, "No", kAnswerNo},
        {"Yes/No/Cancel", kStyleYesNoCancelQuestion, QMessageBox::Question, {"Yes", "No", "Cancel"}, "Yes", kAnswerYes},
    };
    QtUiServices services;
    for (const BoxCase& c : cases) {
        QStringList buttons;
        QString defaultButton, title;
        QMessageBox::Icon icon{};
        OnMessageBox([&](QMessageBox& box) {
            for (QAbstractButton* button : box.buttons()) buttons << button->text().remove(u'&');
            defaultButton = box.defaultButton()->text().remove(u'&');
            icon = box.icon();
            title = box.windowTitle();
            box.defaultButton()->click();
        });
        EXPECT_EQ(services.MessageBox(nullptr, "text", c.style), c.answer) << c.name;
        buttons.sort();
        QStringList expected = c.buttons;
        expected.sort();
        EXPECT_EQ(buttons, expected) << c.name;
        EXPECT_EQ(defaultButton, c.defaultButton) << c.name;
        EXPECT_EQ(icon, c.icon) << c.name;
        EXPECT_EQ(title, "Zephrin Type Library Editor") << c.name;
    }
    OnMessageBox([](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(services.MessageBox(nullptr, "text", kStyleYesNoCancelQuestion), kAnswerCancel);
}

}  // namespace
}  // namespace dialogstest

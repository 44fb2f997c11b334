// The GUID dialog: view and change one GUID by typing it, generating a new
// one, emptying it (where the null GUID is allowed) or resetting it to the
// value it came with. Only OK hands a value back; Cancel, the close box and
// Esc leave the GUID as it was, whatever was done in the dialog.
#pragma once

#include "dialogs/ModalDialog.h"
#include "platform/automation/OleTypes.h"

class QLabel;
class QLineEdit;

namespace zephrin::dialogs {

class frmGenerateGuid final : public ModalDialog {
    Q_OBJECT

public:
    // True when the user pressed OK with a value other than guid, which then
    // holds the new value. A null guid where null is not allowed opens with a
    // fresh GUID, which OK returns.
    static bool ChangeGuid(ole::GUID& guid, QWidget* owner, bool nullAllowed);

    frmGenerateGuid(const ole::GUID& guid, bool nullAllowed, QWidget* owner);
    // After OK: true, and guid set, when the value differs from the one given.
    bool Result(ole::GUID& guid) const;

    enum Button { kGenerate, kEmpty, kReset, kOK, kCancel };
    QPushButton* ButtonAt(Button index) const { return buttons_[index]; }
    QLineEdit* Text() const { return text_; }
    // Under the text: why OK is disabled, empty while the text is a GUID OK takes.
    QLabel* Reason() const { return why_; }
    const ole::GUID& Current() const { return current_; }

private:
    void SetCurrent(const ole::GUID& value);
    void TextEdited();
    void EnableReset(bool differs);
    // Why text is not a GUID that OK takes, or nothing when it is.
    QString WhyRefused(const QString& text) const;
    void TellWhy(const QString& why);

    ole::GUID initial_{};
    ole::GUID current_{};
    bool nullAllowed_ = false;
    bool startedNull_ = false;
    bool settingText_ = false;
    QLineEdit* text_ = nullptr;
    QLabel* why_ = nullptr;
    QPushButton* buttons_[5] = {};
};

// Parses the registry form of a GUID with braces, hexadecimal digits in
// either case; false for any other text.
bool ParseGuidText(const QString& text, ole::GUID& guid);

}  // namespace zephrin::dialogs

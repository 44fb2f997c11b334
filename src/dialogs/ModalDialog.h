// The frame every editing dialog is built on. A dialog is a top-level window
// of its own (with its own taskbar entry), shown modally over its owner, and
// reports acceptance through a flag that only OK sets. Its entry runs in three
// steps, so that tests can drive a dialog without a modal loop:
//   1. setup: construct it and fill it from the library (errors pass to the caller);
//   2. execution: Execute() runs it through the UI services;
//   3. result: read back from the dialog, only when Accepted().
// Every slot runs guarded: an error is reported through the UI services and
// never crosses Qt's event loop.
#pragma once

#include <QDialog>
#include <QHash>

#include <functional>

class QAbstractButton;
class QVBoxLayout;
class QPushButton;

namespace zephrin::dialogs {

class ModalDialog : public QDialog {
    Q_OBJECT

public:
    enum class Sizing {
        Resizable,  // stops shrinking at the size its layout needs, grows without limit
        Fixed,      // keeps the size its layout needs
    };

    // True once OK was pressed.
    bool Accepted() const { return accepted_; }
    // Runs the dialog modally through the UI services; returns Accepted().
    bool Execute();

protected:
    ModalDialog(QWidget* owner, Sizing sizing);

    // OK (300) above Cancel (301); OK sets the accepted flag.
    QVBoxLayout* MakeOkCancel();
    QPushButton* OkButton() const { return ok_; }
    // What OK does: sets the accepted flag and closes the dialog.
    void AcceptWithOk();

    // Call once the layout is set: fixes the minimum (or the whole) size from
    // the layout and installs the key preview on every control.
    void FinishLayout();

    // Runs handler, guarded, whenever button is clicked.
    void OnClick(QAbstractButton* button, std::function<void()> handler);
    // Key preview: key presses button (a modifier, Shift, Ctrl or Alt, must be
    // held when withModifier). A disabled button beeps. The key is consumed.
    void MapKey(int key, QAbstractButton* button, bool withModifier);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct KeyBinding {
        QAbstractButton* Button;
        bool WithModifier;
    };

    Sizing sizing_;
    bool accepted_ = false;
    QPushButton* ok_ = nullptr;
    QHash<int, KeyBinding> keys_;
};

// A button's or label's caption without its mnemonic marks, as the accessible name.
QString CaptionName(const QString& caption);
// Sets widget's accessible name from a caption.
void NameFromCaption(QWidget* widget, const QString& caption);

}  // namespace zephrin::dialogs

// The services through which every window of the program talks to the user
// outside its own controls: message boxes, the beep, the file choosers, and
// running a dialog modally. The program uses one set (QtUiServices); tests put
// their own in place with ScopedUiServices, script the answers and count the
// beeps, so that no test ever waits on a modal window.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "app/modCorvaneExe.h"
#include "foundation/ErrorRecord.h"

class QDialog;
class QWidget;

namespace zephrin::dialogs {

// Message box styles: the buttons, plus an icon, plus the default button.
inline constexpr int32_t kStyleOkOnly = 0;
inline constexpr int32_t kStyleYesNoCancel = 3;
inline constexpr int32_t kStyleYesNo = 4;
inline constexpr int32_t kStyleQuestion = 32;
inline constexpr int32_t kStyleExclamation = modCorvaneExe::kStyleExclamation;
inline constexpr int32_t kStyleInformation = modCorvaneExe::kStyleInformation;
inline constexpr int32_t kStyleDefaultButton2 = 256;
inline constexpr int32_t kStyleDefaultButton3 = 512;
// The styles the program asks with.
inline constexpr int32_t kStyleError = kStyleExclamation;                                      // 48
inline constexpr int32_t kStyleYesNoCancelQuestion = kStyleYesNoCancel | kStyleQuestion;        // 35
inline constexpr int32_t kStyleYesNoQuestionNoDefault = kStyleYesNo | kStyleQuestion | kStyleDefaultButton2;  // 292

// The button that closed a message box.
enum MessageAnswer : int32_t {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

// A file chooser's request. Accept, when given, sees the chosen path before
// the chooser closes and returns false to keep the chooser open (it tells the
// user why itself).
struct FileRequest {
    QString Title;
    QString Filter;            // "Description|pattern;pattern|..." as the string table holds it
    QString InitialName;       // save only
    QString DefaultExtension;  // save only, without the dot
    std::function<bool(const QString& path)> Accept;
};

class UiServices {
public:
    virtual ~UiServices() = default;
    // Shows text with the application title; returns the answer.
    virtual MessageAnswer MessageBox(QWidget* owner, const QString& text, int32_t style) = 0;
    virtual void Beep() = 0;
    // The chosen path, or empty when the user cancelled.
    virtual QString OpenFileName(QWidget* owner, const FileRequest& request) = 0;
    virtual QString SaveFileName(QWidget* owner, const FileRequest& request) = 0;
    // Runs a dialog modally until it closes and returns its QDialog result.
    virtual int RunModal(QDialog& dialog) = 0;

    // ErrorReportText of the error in a message box with the exclamation icon.
    void ReportError(QWidget* owner, const ErrorRecord& error);
    // Inside a catch block: reports the error being handled.
    void ReportCurrentError(QWidget* owner);
};

// The services of the running program: Qt's message boxes, file dialogs and
// modal loop.
class QtUiServices final : public UiServices {
public:
    MessageAnswer MessageBox(QWidget* owner, const QString& text, int32_t style) override;
    void Beep() override;
    QString OpenFileName(QWidget* owner, const FileRequest& request) override;
    QString SaveFileName(QWidget* owner, const FileRequest& request) override;
    int RunModal(QDialog& dialog) override;
};

// The services in use (QtUiServices unless replaced).
UiServices& Services();

// Puts services in place for its lifetime and then restores the previous ones.
class ScopedUiServices {
public:
    explicit ScopedUiServices(UiServices& services);
    ~ScopedUiServices();
    ScopedUiServices(const ScopedUiServices&) = delete;
    ScopedUiServices& operator=(const ScopedUiServices&) = delete;

private:
    UiServices* previous_;
};

// Runs work and reports any error it raises through the services: the guard
// every slot runs in, so that no exception reaches Qt's event loop.
void Guarded(QWidget* owner, const std::function<void()>& work) noexcept;

// A string-table text as a QString; Qt conversions of the program's texts.
QString ResText(int32_t id);
QString ToQString(std::u16string_view text);
std::u16string FromQString(const QString& text);

}  // namespace zephrin::dialogs

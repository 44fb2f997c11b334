#include "dialogs/UiServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "dialogs/CheckedFileDialog.h"
#include "foundation/modSupport.h"

namespace zephrin::dialogs {

namespace {

UiServices* g_services = nullptr;

}  // namespace

void UiServices::ReportError(QWidget* owner, const ErrorRecord& error) {
    MessageBox(owner, ToQString(ErrorReportText(error)), kStyleError);
}

void UiServices::ReportCurrentError(QWidget* owner) { ReportError(owner, CurrentErrorRecord()); }

MessageAnswer QtUiServices::MessageBox(QWidget* owner, const QString& text, int32_t style) {
    QMessageBox box(owner);
    box.setWindowTitle(ResText(107));
    box.setText(text);
    switch (style & 0x70) {
        case 16: box.setIcon(QMessageBox::Critical); break;
        case kStyleQuestion: box.setIcon(QMessageBox::Question); break;
        case kStyleExclamation: box.setIcon(QMessageBox::Warning); break;
        case kStyleInformation: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    std::vector<std::pair<QPushButton*, MessageAnswer>> buttons;
    auto add = [&](QMessageBox::StandardButton button, MessageAnswer answer) {
        buttons.emplace_back(box.addButton(button), answer);
    };
    switch (style & 7) {
        case kStyleYesNoCancel:
            add(QMessageBox::Yes, kAnswerYes);
            add(QMessageBox::No, kAnswerNo);
            add(QMessageBox::Cancel, kAnswerCancel);
            box.setEscapeButton(buttons.back().first);
            break;
        case kStyleYesNo:
            add(QMessageBox::Yes, kAnswerYes);
            add(QMessageBox::No, kAnswerNo);
            break;
        default: add(QMessageBox::Ok, kAnswerOk); break;
    }
    const size_t defaultIndex = (style & kStyleDefaultButton3) ? 2 : (style & kStyleDefaultButton2) ? 1 : 0;
    if (defaultIndex < buttons.size()) box.setDefaultButton(buttons[defaultIndex].first);
    box.exec();
    for (const auto& [button, answer] : buttons)
        if (box.clickedButton() == button) return answer;
    // Closed without a button: the answer Esc would give.
    return buttons.size() == 2 ? kAnswerNo : buttons.size() == 3 ? kAnswerCancel : kAnswerOk;
}

void QtUiServices::Beep() { QApplication::beep(); }

QString QtUiServices::OpenFileName(QWidget* owner, const FileRequest& request) {
    CheckedFileDialog dialog(owner, request, QFileDialog::AcceptOpen);
    dialog.exec();
    return dialog.ChosenName();
}

QString QtUiServices::SaveFileName(QWidget* owner, const FileRequest& request) {
    CheckedFileDialog dialog(owner, request, QFileDialog::AcceptSave);
    dialog.exec();
    return dialog.ChosenName();
}

int QtUiServices::RunModal(QDialog& dialog) { return dialog.exec(); }

UiServices& Services() {
    static QtUiServices platform;
    return g_services ? *g_services : platform;
}

ScopedUiServices::ScopedUiServices(UiServices& services) : previous_(g_services) { g_services = &services; }
ScopedUiServices::~ScopedUiServices() { g_services = previous_; }

void Guarded(QWidget* owner, const std::function<void()>& work) noexcept {
    try {
        work();
    } catch (...) {
        try {
            Services().ReportCurrentError(owner);
        } catch (...) {
            // Not even the message could be shown; the event loop must go on.
        }
    }
}

QString ResText(int32_t id) { return ToQString(modSupport::LoadResStringById(id)); }

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace zephrin::dialogs

#include "dialogs/UiServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "foundation/modSupport.h"

namespace zephrin::dialogs {

namespace {

UiServices* g_services = nullptr;

// A pattern that matches its letters in either case: "*.tlb" gives "*.[tT][lL][bB]".
QString AnyCase(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            result += c;
    }
    return result;
}

// "Description (*.a;*.b)|*.a;*.b|..." as Qt's name filters. File names match
// in any case (a library named "X.TLB" is a library as well); the chooser
// shows the description as the string table has it (HideNameFilterDetails).
QStringList NameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) pattern = AnyCase(pattern);
        result << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + QLatin1Char(')');
    }
    return result;
}

// A file dialog that lets the request refuse a name before it closes.
class CheckedFileDialog final : public QFileDialog {
public:
    CheckedFileDialog(QWidget* owner, const FileRequest& request) : QFileDialog(owner, request.Title), request_(request) {
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::HideNameFilterDetails);
        setNameFilters(NameFilters(request.Filter));
    }
    void accept() override {
        // A check that fails keeps the dialog open, as a refusal does.
        bool pass = false;
        Guarded(this, [&] {
            const QStringList files = selectedFiles();
            pass = !request_.Accept || files.isEmpty() || request_.Accept(files.first());
        });
        if (pass) QFileDialog::accept();
    }

private:
    const FileRequest& request_;
};

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
    CheckedFileDialog dialog(owner, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString QtUiServices::SaveFileName(QWidget* owner, const FileRequest& request) {
    CheckedFileDialog dialog(owner, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.DefaultExtension);
    if (!request.InitialName.isEmpty()) dialog.selectFile(request.InitialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
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

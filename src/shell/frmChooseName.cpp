#include "shell/frmChooseName.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/UiServices.h"

namespace zephrin::shell {

using dialogs::ResText;
using dialogs::ToQString;

namespace {

constexpr int32_t kCaption = 500;
constexpr int32_t kOkCaption = 300;
constexpr int32_t kCancelCaption = 301;
// The message wraps at about this many average characters.
constexpr int kMessageWidthChars = 48;

// The list is at least this many average characters wide.
constexpr int kMinNameChars = 16;

// Words longer than this may wrap anywhere.
constexpr int kLongWord = 24;

// The text with a zero-width space after every character of a long word
// (a long missing name), so that the message wraps within the dialog's width.
QString Breakable(const QString& text) {
    QString result;
    qsizetype wordStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text[i].isSpace()) continue;
        const QString word = text.mid(wordStart, i - wordStart);
        if (word.size() > kLongWord) {
            for (const QChar c : word) {
                result += c;
                result += QChar(0x200B);
            }
        } else {
            result += word;
        }
        if (i < text.size()) result += text[i];
        wordStart = i + 1;
    }
    return result;
}

}  // namespace

frmChooseName::frmChooseName(QWidget* owner) : ModalDialog(owner, Sizing::Fixed) {
    setObjectName(QStringLiteral("frmChooseName"));
    lblMessage_ = new QLabel(this);
    lblMessage_->setObjectName(QStringLiteral("lblMessage"));
    lblMessage_->setWordWrap(true);
    lblMessage_->setTextFormat(Qt::PlainText);
    lblMessage_->setFixedWidth(fontMetrics().averageCharWidth() * kMessageWidthChars);
    cmbNames_ = new QComboBox(this);
    cmbNames_->setObjectName(QStringLiteral("cmbNames"));
    // As wide as the message, whatever the names: a long one shows in full
    // in the drop-down list, which widens to fit it.
    cmbNames_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbNames_->setMinimumContentsLength(kMinNameChars);
    cmdOK_ = new QPushButton(this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton(this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));

    // The list below the message, the buttons below the list.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage_);
    layout->addWidget(cmbNames_);
    layout->addLayout(buttons);

    connect(cmbNames_, &QComboBox::currentIndexChanged, this,
            [this](int index) { cmdOK_->setEnabled(index >= 0); });
    OnClick(cmdOK_, [this] {
        if (cmbNames_->currentIndex() >= 0) AcceptWithOk();
    });
    OnClick(cmdCancel_, [this] {
        cmbNames_->setCurrentIndex(-1);
        reject();
    });
    FinishLayout();
}

std::optional<size_t> frmChooseName::ChooseName(const ChooseNameRequest& request) {
    if (request.Entries.empty()) return std::nullopt;
    Fill(request);
    if (!Execute()) return std::nullopt;
    const int index = cmbNames_->currentIndex();
    if (index < 0 || static_cast<size_t>(index) >= request.Entries.size()) return std::nullopt;
    return static_cast<size_t>(index);
}

void frmChooseName::Fill(const ChooseNameRequest& request) {
    const QString message = ToQString(request.Message);
    lblMessage_->setText(Breakable(message));
    cmbNames_->clear();
    for (const ChooseNameEntry& entry : request.Entries) cmbNames_->addItem(ToQString(entry.Text), entry.ItemNumber);
    cmbNames_->setCurrentIndex(-1);
    lblMessage_->setAccessibleName(message);
    cmbNames_->setAccessibleName(message);
    cmdOK_->setEnabled(false);
    setWindowTitle(request.Caption.empty() ? ResText(kCaption) : ToQString(request.Caption));
    cmdOK_->setText(ResText(kOkCaption));
    cmdCancel_->setText(ResText(kCancelCaption));
    dialogs::NameFromCaption(cmdOK_, cmdOK_->text());
    dialogs::NameFromCaption(cmdCancel_, cmdCancel_->text());
    adjustSize();
    cmbNames_->setFocus();
}

}  // namespace zephrin::shell

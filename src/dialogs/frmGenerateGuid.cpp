#include "dialogs/frmGenerateGuid.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "platform/automation/Guid.h"

namespace zephrin::dialogs {

namespace {

constexpr ole::GUID kNullGuid{};

// Why OK is disabled, as the details fields say why they don't take a text.
QString NotRegistryForm() {
    return QStringLiteral("A GUID in registry form: 32 hexadecimal digits in groups of 8, 4, 4, 4 and 12, "
                          "joined by hyphens, in braces, such as {6A1C0E55-1B0D-4E6C-8F11-203344556601}.");
}
QString NullNotAllowed() {
    return QStringLiteral("The empty GUID {00000000-0000-0000-0000-000000000000} can't be given here: "
                          "type another, or generate a new GUID.");
}

ole::GUID FreshGuid() {
    ole::GUID guid{};
    CheckHr(ole::CoCreateGuid(&guid));
    return guid;
}

}  // namespace

bool ParseGuidText(const QString& text, ole::GUID& guid) {
    const std::u16string chars = FromQString(text);
    return ole::SUCCEEDED(ole::IIDFromString(chars.c_str(), &guid));
}

bool frmGenerateGuid::ChangeGuid(ole::GUID& guid, QWidget* owner, bool nullAllowed) {
    frmGenerateGuid dialog(guid, nullAllowed, owner);
    if (!dialog.Execute()) return false;
    return dialog.Result(guid);
}

frmGenerateGuid::frmGenerateGuid(const ole::GUID& guid, bool nullAllowed, QWidget* owner)
    : ModalDialog(owner, Sizing::Fixed), initial_(guid), current_(guid), nullAllowed_(nullAllowed) {
    if (!nullAllowed && guid == kNullGuid) {
        startedNull_ = true;
        current_ = FreshGuid();
    }
    setWindowTitle(ResText(520));

    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("txtGUID"));
    text_->setAccessibleName(ResText(781));
    text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(QStringLiteral("{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}")) +
                           text_->fontMetrics().averageCharWidth() * 2);

    auto* row = new QHBoxLayout;
    const int captions[] = {521, 522, 523, 300, 301};
    for (int i = 0; i < 5; ++i) {
        buttons_[i] = new QPushButton(ResText(captions[i]), this);
        buttons_[i]->setObjectName(QStringLiteral("cmdAll%1").arg(i));
        NameFromCaption(buttons_[i], buttons_[i]->text());
        row->addWidget(buttons_[i]);
    }
    buttons_[kOK]->setDefault(true);
    buttons_[kEmpty]->setEnabled(nullAllowed_);
    buttons_[kReset]->setEnabled(false);

    // Why OK is disabled, under the text; room for the longer reason is kept,
    // so the buttons stay where they are as the reason comes and goes.
    why_ = NewReasonLabel(text_, false, this);
    const int width = std::max(row->sizeHint().width(), text_->minimumWidth());
    why_->setFixedWidth(width);
    int height = 0;
    for (const QString& reason : {NotRegistryForm(), NullNotAllowed()}) {
        why_->setText(reason);
        height = std::max(height, why_->heightForWidth(width));
    }
    why_->clear();
    why_->setMinimumHeight(height);

    auto* main = new QVBoxLayout(this);
    main->addWidget(text_);
    main->addWidget(why_);
    main->addLayout(row);

    OnClick(buttons_[kGenerate], [this] { SetCurrent(FreshGuid()); });
    OnClick(buttons_[kEmpty], [this] { SetCurrent(kNullGuid); });
    OnClick(buttons_[kReset], [this] { SetCurrent(initial_); });
    OnClick(buttons_[kOK], [this] { AcceptWithOk(); });
    OnClick(buttons_[kCancel], [this] { reject(); });
    connect(text_, &QLineEdit::textChanged, this, [this] { Guarded(this, [this] { TextEdited(); }); });

    settingText_ = true;
    text_->setText(ToQString(ole::GuidToString(current_)));
    settingText_ = false;
    FinishLayout();
}

bool frmGenerateGuid::Result(ole::GUID& guid) const {
    if (!Accepted() || current_ == guid) return false;
    guid = current_;
    return true;
}

void frmGenerateGuid::SetCurrent(const ole::GUID& value) {
    current_ = value;
    settingText_ = true;
    text_->setText(ToQString(ole::GuidToString(current_)));
    settingText_ = false;
    EnableReset(current_ != initial_);
    buttons_[kOK]->setEnabled(true);
    TellWhy({});
}

void frmGenerateGuid::TextEdited() {
    if (settingText_) return;
    ole::GUID parsed{};
    const bool valid = ParseGuidText(text_->text(), parsed);
    if (valid) current_ = parsed;
    EnableReset(!valid || current_ != initial_);
    const QString why = WhyRefused(text_->text());
    buttons_[kOK]->setEnabled(why.isEmpty());
    TellWhy(why);
}

QString frmGenerateGuid::WhyRefused(const QString& text) const {
    ole::GUID parsed{};
    if (!ParseGuidText(text, parsed)) return NotRegistryForm();
    if (!nullAllowed_ && parsed == kNullGuid) return NullNotAllowed();
    return {};
}

void frmGenerateGuid::TellWhy(const QString& why) { MarkFieldInvalid(why_, text_, !why.isEmpty(), why); }

void frmGenerateGuid::EnableReset(bool differs) {
    if (!startedNull_) buttons_[kReset]->setEnabled(differs);
}

}  // namespace zephrin::dialogs

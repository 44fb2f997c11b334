#include "dialogs/frmGenerateGuid.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/UiServices.h"
#include "platform/automation/Guid.h"

namespace zephrin::dialogs {

namespace {

constexpr ole::GUID kNullGuid{};

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

    auto* main = new QVBoxLayout(this);
    main->addWidget(text_);
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
}

void frmGenerateGuid::TextEdited() {
    if (settingText_) return;
    ole::GUID parsed{};
    const bool valid = ParseGuidText(text_->text(), parsed);
    if (valid) current_ = parsed;
    EnableReset(!valid || current_ != initial_);
    buttons_[kOK]->setEnabled(valid && (nullAllowed_ || parsed != kNullGuid));
}

void frmGenerateGuid::EnableReset(bool differs) {
    if (!startedNull_) buttons_[kReset]->setEnabled(differs);
}

}  // namespace zephrin::dialogs

#include "editor/pickers/frmCustData.h"

#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>

#include <limits>

#include "dialogs/CustDataValue.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "dialogs/frmGenerateGuid.h"
#include "dialogs/modDetailsFields.h"
#include "editor/pickers/TypePicker.h"
#include "editor/pickers/frmSpecifyType.h"
#include "foundation/ErrorRecord.h"
#include "platform/automation/Guid.h"
#include "typelib/modPrototype.h"

namespace zephrin::editor {

using dialogs::FromQString;
using dialogs::ResText;
using dialogs::ToQString;
namespace Value = dialogs::CustDataValue;

namespace {

constexpr int32_t kUsageConstant = 12;

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    dialogs::NameFromCaption(buddy, text);
    return label;
}

}  // namespace

std::shared_ptr<CustDataChange> frmCustData::GetCustDataChange(ChangeTarget& target, QWidget* owner,
                                                              int32_t typeConstraint, bool& hex) {
    frmCustData dialog(target, owner, typeConstraint, hex);
    const bool accepted = dialog.Execute();
    hex = dialog.Hex();
    return accepted ? dialog.Change() : nullptr;
}

frmCustData::frmCustData(ChangeTarget& target, QWidget* owner, int32_t typeConstraint, bool hex)
    : ModalDialog(owner, Sizing::Resizable), constraint_(typeConstraint), hex_(hex) {
    change_ = modCustDataChange::NewCustDataChange(false);
    change_->InitFromTarget(target);
    valueType_ = CustomVarTypeInfo::New();
    setWindowTitle(ResText(1042));

    lstMain_ = new QListWidget(this);
    lstMain_->setObjectName(QStringLiteral("lstMain"));
    const QFontMetrics fm = fontMetrics();
    lstMain_->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}")) +
                              fm.averageCharWidth() * 6);
    auto* lblListHeader = Caption(ResText(1040), lstMain_, this);
    cmdAddItem_ = new QPushButton(ResText(1043), this);
    cmdAddItem_->setObjectName(QStringLiteral("cmdAddItem"));
    cmdDeleteItem_ = new QPushButton(ResText(1044), this);
    cmdDeleteItem_->setObjectName(QStringLiteral("cmdDeleteItem"));
    for (QPushButton* button : {cmdAddItem_, cmdDeleteItem_}) {
        dialogs::NameFromCaption(button, button->text());
        button->setAutoDefault(false);
    }

    cmdSetType_ = new QPushButton(QStringLiteral("..."), this);
    cmdSetType_->setObjectName(QStringLiteral("cmdSetType"));
    cmdSetType_->setAutoDefault(false);
    cmdSetType_->setMaximumWidth(fm.horizontalAdvance(QStringLiteral("....")) + fm.averageCharWidth() * 4);
    lblTypeHeader_ = Caption(ResText(1045), cmdSetType_, this);
    // Room for the caption however the font is scaled.
    lblTypeHeader_->setMinimumWidth(fm.horizontalAdvance(dialogs::CaptionName(ResText(1045))) + fm.averageCharWidth());
    lblSetType_ = new QLineEdit(this);
    lblSetType_->setObjectName(QStringLiteral("lblSetType"));
    lblSetType_->setReadOnly(true);
    dialogs::NameFromCaption(lblSetType_, ResText(1045));
    // Tab reaches the type before its button, as they are shown.
    QWidget::setTabOrder(lblSetType_, cmdSetType_);

    txtValue_ = new QLineEdit(this);
    txtValue_->setObjectName(QStringLiteral("txtValue"));
    txtValue_->setContextMenuPolicy(Qt::CustomContextMenu);
    // A string value can be longer than a text box holds by default; a cut
    // text would be stored cut.
    txtValue_->setMaxLength(std::numeric_limits<int>::max());
    lblValueHeader_ = Caption(ResText(1041), txtValue_, this);
    lblError_ = dialogs::NewReasonLabel(txtValue_, true, this);
    lblError_->setObjectName(QStringLiteral("lblError"));

    mnuFormat_ = new QMenu(ResText(894), this);
    mnuDec_ = mnuFormat_->addAction(ResText(895));
    mnuHex_ = mnuFormat_->addAction(ResText(896));
    mnuDec_->setCheckable(true);
    mnuHex_->setCheckable(true);

    auto* buttons = MakeOkCancel();
    buttons->addSpacing(fm.height());
    buttons->addWidget(cmdAddItem_);
    buttons->addWidget(cmdDeleteItem_);
    buttons->addStretch(1);

    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(lblTypeHeader_);
    typeRow->addWidget(lblSetType_, 1);
    typeRow->addWidget(cmdSetType_);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblListHeader, 0, 0);
    grid->addWidget(lstMain_, 1, 0);
    grid->addLayout(buttons, 0, 1, 2, 1);
    grid->addLayout(typeRow, 2, 0, 1, 2);
    grid->addWidget(lblValueHeader_, 3, 0, 1, 2);
    grid->addWidget(txtValue_, 4, 0, 1, 2);
    grid->addWidget(lblError_, 5, 0, 1, 2);
    grid->setRowStretch(1, 1);

    // OK commits the shown value first.
    disconnect(OkButton(), &QAbstractButton::clicked, this, nullptr);
    OnClick(OkButton(), [this] { Okay(); });
    OnClick(cmdAddItem_, [this] { AddItem(); });
    OnClick(cmdDeleteItem_, [this] { DeleteItem(); });
    OnClick(cmdSetType_, [this] { ChooseType(); });
    connect(lstMain_, &QListWidget::currentRowChanged, this,
            [this](int row) { dialogs::Guarded(this, [this, row] { ShowEntry(row); }); });
    connect(txtValue_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { ValueEdited(); }); });
    connect(mnuDec_, &QAction::triggered, this, [this] { dialogs::Guarded(this, [this] { SetHex(false); }); });
    connect(mnuHex_, &QAction::triggered, this, [this] { dialogs::Guarded(this, [this] { SetHex(true); }); });

    Fill();
    FinishLayout();
    lblSetType_->installEventFilter(this);
    txtValue_->installEventFilter(this);
}

bool frmCustData::eventFilter(QObject* watched, QEvent* event) {
    // A double click on the type text asks for a type, as the button does.
    if (watched == lblSetType_ && event->type() == QEvent::MouseButtonDblClick && cmdSetType_->isEnabled()) {
        dialogs::Guarded(this, [this] { ChooseType(); });
        return true;
    }
    // The Format menu replaces the text box's own: at the mouse, or for the
    // keyboard below the left end of the box. The window system asks for it
    // on the Menu key; Shift+F10 comes as a key only.
    if (watched == txtValue_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F10 ||
            (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) != Qt::ShiftModifier)
            return ModalDialog::eventFilter(watched, event);
        dialogs::Guarded(this, [this] { ShowFormatMenu(QPoint(0, txtValue_->height())); });
        return true;
    }
    if (watched == txtValue_ && event->type() == QEvent::ContextMenu) {
        const auto* request = static_cast<QContextMenuEvent*>(event);
        const QPoint at = request->reason() == QContextMenuEvent::Keyboard ? QPoint(0, txtValue_->height())
                                                                           : request->pos();
        dialogs::Guarded(this, [this, at] { ShowFormatMenu(at); });
        return true;
    }
    return ModalDialog::eventFilter(watched, event);
}

void frmCustData::Fill() {
    ++fill_;
    lstMain_->clear();
    guids_.clear();
    --fill_;
    shown_ = -1;
    EnableEntryControls(false);
    for (const CustDataItem& item : change_->CurrentCustData()) {
        guids_.push_back(item.Guid);
        lstMain_->addItem(ToQString(ole::GuidToString(item.Guid)));
    }
    if (!guids_.empty()) lstMain_->setCurrentRow(0);
}

void frmCustData::EnableEntryControls(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{cmdDeleteItem_, lblTypeHeader_, lblSetType_, cmdSetType_,
                                                      lblValueHeader_, txtValue_}) {
        w->setEnabled(enable);
    }
    if (enable) return;
    ++fill_;
    txtValue_->clear();
    lblSetType_->clear();
    --fill_;
    shown_ = -1;
    dirty_ = false;
    SetError(false, {});
}

void frmCustData::ShowEntry(int row) {
    if (fill_ > 0 || row == shown_) return;
    if (dirty_ && shown_ >= 0) {
        try {
            Commit();
        } catch (...) {
            // Stay on the entry whose text does not convert.
            ++fill_;
            lstMain_->setCurrentRow(shown_);
            --fill_;
            throw;
        }
    }
    if (row < 0 || row >= static_cast<int>(guids_.size())) {
        EnableEntryControls(false);
        return;
    }
    if (shown_ < 0) EnableEntryControls(true);
    shown_ = row;
    const ole::Variant value = change_->GetItem(guids_[static_cast<size_t>(row)]);
    valueType_->SetType(Value::EditType(value.vt()), nullptr);
    ShowTypeText();
    WriteValue(value);
    dirty_ = false;
    SetError(false, {});
}

void frmCustData::ShowTypeText() {
    QString text;
    try {
        text = ToQString(modPrototype::GetTypeString(valueType_.get(), false));
    } catch (const ErrorRecord&) {
        // A type the editor can't make (an empty value): shown by its number.
        text = QStringLiteral("VT %1").arg(EditType());
    }
    lblSetType_->setText(text);
}

void frmCustData::WriteValue(const ole::Variant& value) {
    ++fill_;
    txtValue_->setText(ToQString(Value::Format(value, hex_)));
    --fill_;
}

void frmCustData::SetError(bool error, const QString& why) {
    error_ = error;
    for (QWidget* w : std::initializer_list<QWidget*>{OkButton(), lstMain_, cmdAddItem_}) w->setEnabled(!error);
    cmdDeleteItem_->setEnabled(!error && shown_ >= 0);
    MarkLabel(lblValueHeader_, error);
    // Not by colour alone: the value box says that its value is invalid and
    // what it takes, where a screen reader reads it with the box, and the
    // text below it shows it.
    QString told;
    if (error)
        told = !why.isEmpty() ? why
                              : ToQString(dialogs::modDetailsFields::WhatValueOfType(FromQString(lblSetType_->text()),
                                                                                     EditType(), false));
    dialogs::MarkFieldInvalid(lblValueHeader_, txtValue_, error, told);
}

void frmCustData::ValueEdited() {
    if (fill_ > 0 || shown_ < 0) return;
    // A string takes any text; its escapes are decoded when it is stored, so
    // that a long one types as fast as a short one. Only characters the file
    // can't hold are refused as they are typed.
    const ole::VARTYPE vt = EditType();
    const Value::Parsed parsed = vt == Value::kLpStr || vt == Value::kLpWStr
                                     ? Value::CheckTyped(FromQString(txtValue_->text()))
                                     : Value::Parse(FromQString(txtValue_->text()), vt);
    SetError(!parsed.Valid, ToQString(parsed.Why));
    dirty_ = true;
}

void frmCustData::Commit() {
    if (shown_ < 0) return;
    const Value::Parsed parsed = Value::Parse(FromQString(txtValue_->text()), EditType());
    if (!parsed.Valid) RaiseError(ole::DISP_E_TYPEMISMATCH, parsed.Why);
    change_->SetItem(guids_[static_cast<size_t>(shown_)], parsed.Value);
    dirty_ = false;
}

void frmCustData::AddItem() {
    ole::GUID guid{};
    if (!dialogs::frmGenerateGuid::ChangeGuid(guid, this, false)) return;
    for (size_t i = 0; i < guids_.size(); ++i) {
        if (guids_[i] == guid) {  // already listed: only select it
            lstMain_->setCurrentRow(static_cast<int>(i));
            return;
        }
    }
    change_->SetItem(guid, ole::Variant(int32_t{0}));
    guids_.push_back(guid);
    lstMain_->addItem(ToQString(ole::GuidToString(guid)));
    lstMain_->setCurrentRow(static_cast<int>(guids_.size()) - 1);
}

void frmCustData::DeleteItem() {
    if (shown_ < 0) return;
    const int row = shown_;
    const ole::GUID guid = guids_[static_cast<size_t>(row)];
    change_->RemoveItem(guid);
    // Nothing is shown while the row goes, so the edit in progress is dropped
    // with its entry and the next entry is shown afresh.
    EnableEntryControls(false);
    guids_.erase(guids_.begin() + row);
    ++fill_;
    delete lstMain_->takeItem(row);
    --fill_;
    if (guids_.empty()) return;
    const int next = row < static_cast<int>(guids_.size()) ? row : row - 1;
    ++fill_;
    lstMain_->setCurrentRow(next);
    --fill_;
    ShowEntry(next);
}

void frmCustData::SetValueType(ole::VARTYPE vt) {
    if (shown_ < 0 || vt == EditType()) return;
    valueType_->SetType(vt, nullptr);
    ShowTypeText();
    // The value itself is converted when it is stored.
    const Value::Parsed parsed = Value::Parse(FromQString(txtValue_->text()), vt);
    SetError(!parsed.Valid, ToQString(parsed.Why));
    dirty_ = true;
}

void frmCustData::ChooseType() {
    // A second request while the chooser is open (a quick key after the
    // label's shortcut has pressed the button) is ignored.
    if (shown_ < 0 || choosing_) return;
    const QScopedValueRollback<bool> choosing(choosing_, true);
    dialogs::LibraryCollection none;
    const SpecifiedType picked =
        frmSpecifyType::GetType(this, kUsageConstant, constraint_, nullptr, none, valueType_.get());
    if (!picked.Accepted || !picked.Type) return;
    SetValueType(picked.Type->BaseVarType());
}

void frmCustData::Okay() {
    if (dirty_) Commit();
    AcceptWithOk();
}

void frmCustData::reject() {
    if (error_ && shown_ >= 0) {
        // Cancel first puts the stored value back.
        const int row = shown_;
        dirty_ = false;
        shown_ = -1;
        ShowEntry(row);
        return;
    }
    ModalDialog::reject();
}

void frmCustData::SetHex(bool hex) {
    if (hex == hex_) return;
    hex_ = hex;
    const ole::VARTYPE vt = EditType();
    if (shown_ < 0 || error_ || vt == Value::kLpStr || vt == Value::kLpWStr) return;
    const Value::Parsed parsed = Value::Parse(FromQString(txtValue_->text()), vt);
    if (parsed.Valid) WriteValue(parsed.Value);
}

void frmCustData::ShowFormatMenu(const QPoint& at) {
    if (!txtValue_->isEnabled()) return;
    mnuFormat_->setEnabled(!error_);
    mnuDec_->setChecked(!hex_);
    mnuHex_->setChecked(hex_);
    QMenu popup(this);
    popup.addMenu(mnuFormat_);
    popup.exec(txtValue_->mapToGlobal(at));
}

}  // namespace zephrin::editor

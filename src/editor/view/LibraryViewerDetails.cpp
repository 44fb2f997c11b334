// The details pane of the library editor view: its fields, edit mode, Update
// and Cancel, and the library and type details.
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <initializer_list>
#include <tuple>
#include <utility>
#include <iterator>

#include "changes/hub/ChangeListener.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/TypeChange.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "dialogs/modDetailsFields.h"
#include "editor/tree/EventHook.h"
#include "editor/view/DetailsPaneCodes.h"
#include "editor/tree/LibraryTree.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/modImages.h"
#include "foundation/ErrorRecord.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"
#include "typelib/modPrototype.h"

namespace zephrin::editor {

namespace {

namespace Fields = dialogs::modDetailsFields;
using dialogs::FromQString;
using dialogs::ResText;
using dialogs::ToQString;
using namespace details;

constexpr int32_t kStrNoBase = 765;
constexpr int32_t kMsgTypeOfThisLibrary = 181;
constexpr int32_t kEditInterface = ole::TKIND_INTERFACE * 256 + 258;
constexpr int32_t kEditAlias = ole::TKIND_ALIAS * 256 + 258;
// Type-usage codes of the type chooser.
constexpr int32_t kUsageBaseInterface = 1;
constexpr int32_t kUsageAliasTarget = 9;

// The text of a base interface or alias target (an alias shows IUnknown and
// IDispatch without their star).
QString ReferencedTypeText(CustomVarTypeInfo* type, bool alias) {
    if (!type || type->IsNothingTypeInfo()) return ResText(kStrNoBase);
    return ToQString(modPrototype::GetTypeString(type, alias));
}

// The width of field when it shows text whole, frame and margins included.
int FittingWidth(QLineEdit* field, const QString& text) {
    QStyleOptionFrame option;
    option.initFrom(field);
    option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
    const QMargins margins = field->textMargins();
    const QFontMetrics metrics = field->fontMetrics();
    // The line edit's own margin of 2 on each side, and room for the caret.
    const QSize inner(metrics.horizontalAdvance(text) + margins.left() + margins.right() + 4 + metrics.averageCharWidth(),
                      metrics.height());
    return field->style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, field).width();
}

// The GUID field as wide as a GUID with its braces, so that its button stays
// beside it however wide the pane; the type field as wide, growing with the
// pane (a long alias target is shown whole), its button beside it; in a pane
// too narrow for a GUID both give way rather than push their buttons out of
// sight; the buttons squares of the fields' height. For the fields' font and
// style as they are now.
void SizeGuidFields(QLineEdit* guid, QLineEdit* type, std::initializer_list<QPushButton*> buttons) {
    const int guidWidth = FittingWidth(guid, QStringLiteral("{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}"));
    const int narrowest = FittingWidth(guid, QStringLiteral("{AAAAAAAA-AAAA"));
    guid->setMinimumWidth(narrowest);
    guid->setMaximumWidth(guidWidth);
    type->setMinimumWidth(narrowest);
    const int side = type->sizeHint().height();
    for (QPushButton* button : buttons) button->setFixedSize(side, side);
}

// A row of the pane: its caption above the field (and a button to its right).
QWidget* Row(QLabel* caption, QWidget* field, QWidget* button = nullptr) {
    auto* row = new QWidget;
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(caption);
    auto* line = new QHBoxLayout;
    // A field of bounded width takes the room first, up to its width; what is
    // left stays after its button.
    const bool narrow = field->maximumWidth() < QWIDGETSIZE_MAX;
    line->addWidget(field, 1);
    if (button) line->addWidget(button);
    if (narrow) line->addStretch(0);
    layout->addLayout(line);
    caption->setBuddy(button && !field->focusPolicy() ? button : field);
    return row;
}

}  // namespace

void LibraryViewer::BuildDetailsPane() {
    details_ = new QWidget;
    details_->setAccessibleName(QStringLiteral("Details fields"));
    for (int i = 0; i < 11; ++i) lblHeader_[i] = new QLabel(details_);
    lblHeader_[1]->setText(ResText(920));
    lblHeader_[8]->setText(ResText(919));
    lblHeader_[7]->setText(ResText(921));

    lblGUID_ = new QLineEdit;
    lblGUID_->setReadOnly(true);
    lblGUID_->setAccessibleName(QStringLiteral("GUID"));
    cmdChangeGUID_ = new QPushButton(QStringLiteral("..."));
    cmdChangeGUID_->setAccessibleName(QStringLiteral("Change GUID"));
    txtSetType_ = new QLineEdit;
    txtSetType_->setReadOnly(true);
    cmdSetType_ = new QPushButton(QStringLiteral("..."));
    cmdSetType_->setAccessibleName(QStringLiteral("Choose type"));
    lstOptions_ = new QListWidget;
    lstOptions_->setAccessibleName(QStringLiteral("Attributes"));
    lstOptions_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstOptions_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    txtVersion_ = new QLineEdit;
    txtVersion_->setAccessibleName(QStringLiteral("Version"));
    txtLCID_ = new QLineEdit;
    txtLCID_->setAccessibleName(QStringLiteral("LCID"));
    cmbAlign_ = new QComboBox;
    cmbAlign_->setAccessibleName(QStringLiteral("Alignment"));
    for (int align : {1, 2, 4, 8, 16}) cmbAlign_->addItem(QString::number(align), align);
    const int fieldWidth = QFontMetrics(font()).horizontalAdvance(QStringLiteral("&HAAAAAAAA")) * 2;
    txtVersion_->setMaximumWidth(fieldWidth);
    txtLCID_->setMaximumWidth(fieldWidth);
    cmbAlign_->setMaximumWidth(fieldWidth);

    SizeGuidFields(lblGUID_, txtSetType_, {cmdSetType_, cmdChangeGUID_});
    // Again for a font or style given later (a host's, the desktop's changed).
    new EventHook(lblGUID_, [guid = lblGUID_, type = txtSetType_, set = cmdSetType_, change = cmdChangeGUID_](QEvent* event) {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            SizeGuidFields(guid, type, {set, change});
        return false;
    });

    auto* layout = new QVBoxLayout(details_);
    rows_ = {Row(lblHeader_[5], txtSetType_, cmdSetType_), Row(lblHeader_[9], lblGUID_, cmdChangeGUID_),
             Row(lblHeader_[1], cmbAlign_),                Row(lblHeader_[10], lstOptions_),
             Row(lblHeader_[8], txtVersion_),              Row(lblHeader_[7], txtLCID_)};
    for (QWidget* row : rows_) layout->addWidget(row);
    layout->addStretch(1);
    // Why a text is refused, below its field.
    for (auto [row, field] : {std::pair<QWidget*, QWidget*>{rows_[2], cmbAlign_}, {rows_[4], txtVersion_}, {rows_[5], txtLCID_}})
        row->layout()->addWidget(dialogs::NewReasonLabel(field, true));
    picDetails_->setWidget(details_);

    // Every change of the text, however made (typed, or set by a screen reader);
    // the view's own fills are skipped by the handlers.
    connect(txtVersion_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnVersionEdited(); }); });
    connect(txtLCID_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnLcidEdited(); }); });
    for (QLineEdit* field : {txtVersion_, txtLCID_})
        connect(field, &QLineEdit::returnPressed, this, [this] { dialogs::Guarded(this, [this] { OnFieldEnter(); }); });
    connect(lstOptions_, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { dialogs::Guarded(this, [&] { OnOptionChanged(item); }); });
    connect(cmbAlign_, &QComboBox::activated, this,
            [this](int index) { dialogs::Guarded(this, [&] { OnAlignChosen(index); }); });
    connect(cmdChangeGUID_, &QPushButton::clicked, this, [this] { dialogs::Guarded(this, [this] { OnChangeGuid(); }); });
    connect(cmdSetType_, &QPushButton::clicked, this, [this] { dialogs::Guarded(this, [this] { OnChooseType(); }); });
    // The type field's own menu, from the mouse and the keyboard.
    txtSetType_->setContextMenuPolicy(Qt::DefaultContextMenu);
    new EventHook(txtSetType_, [this](QEvent* event) { return TypeFieldEvent(event); });
    // Double-clicking the type presses the button beside it.
    new EventHook(txtSetType_, [this](QEvent* event) {
        if (event->type() != QEvent::MouseButtonDblClick) return false;
        if (cmdSetType_->isEnabled()) {
            cmdSetType_->setFocus();
            cmdSetType_->click();
        }
        return true;
    });
    // Double-clicking the GUID presses the button beside it too.
    new EventHook(lblGUID_, [this](QEvent* event) {
        if (event->type() != QEvent::MouseButtonDblClick) return false;
        if (cmdChangeGUID_->isEnabled()) {
            cmdChangeGUID_->setFocus();
            cmdChangeGUID_->click();
        }
        return true;
    });
    // Enter in the attribute list and the alignment list presses Update, as in the text fields.
    for (QWidget* field : std::initializer_list<QWidget*>{lstOptions_, cmbAlign_})
        new EventHook(field, [this](QEvent* event) {
            if (event->type() != QEvent::KeyPress) return false;
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
                (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
                return false;
            dialogs::Guarded(this, [this] { OnFieldEnter(); });
            return true;
        });
    // No other page while an edit is pending: a click on another tab is refused, saying why.
    new EventHook(tsFrame_, [this](QEvent* event) {
        if (!inEditMode_) return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const int tab = tsFrame_->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (tab < 0 || tab == tsFrame_->currentIndex()) return false;
            if (fillDepth_ == 0) TellEditPending(this);
            return true;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Up && key != Qt::Key_Down &&
                key != Qt::Key_Home && key != Qt::Key_End)
                return false;
            if (tsFrame_->count() > 1) TellEditPending(this);
            return true;
        }
        case QEvent::Wheel: return true;
        default: return false;
        }
    });
    // Every change of the highlighted tab, however made: the mouse and the keys
    // are refused above, a screen reader's Press on a tab is refused here.
    connect(tsFrame_, &QTabBar::currentChanged, this,
            [this](int index) { dialogs::Guarded(this, [this, index] { OnPageTabChosen(index); }); });
    BuildMemberFields();
    // Tab runs from the tree through the page strip and the fields, top down, to Update and Cancel.
    QWidget* const order[] = {tvTypes_,     tsFrame_,     txtSetType_, cmdSetType_, cmbOptional_,
                              txtConstVal_, txtDllName_,  txtDllEntry_, txtMemberID_, lblGUID_,
                              cmdChangeGUID_, cmbAlign_,  lstOptions_, txtVersion_, txtLCID_,
                              cmdUpdate_,   cmdCancel_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    connect(cmdUpdate_, &QPushButton::clicked, this, [this] { dialogs::Guarded(this, [this] { Update(); }); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { dialogs::Guarded(this, [this] { Cancel(); }); });
    ClearDetailsPane();
}

QWidget* LibraryViewer::DetailsField(Field field) const {
    switch (field) {
    case Field::Guid: return lblGUID_;
    case Field::ChangeGuid: return cmdChangeGUID_;
    case Field::SetType: return txtSetType_;
    case Field::ChooseType: return cmdSetType_;
    case Field::Options: return lstOptions_;
    case Field::Version: return txtVersion_;
    case Field::Lcid: return txtLCID_;
    case Field::Align: return cmbAlign_;
    case Field::Update: return cmdUpdate_;
    case Field::Cancel: return cmdCancel_;
    }
    return nullptr;
}

void LibraryViewer::ClearDetailsPane() {
    for (QWidget* row : rows_) {
        row->hide();
        row->setEnabled(true);
    }
    lockedFlags_ = 0;
    lstOptions_->setEnabled(true);
    lblHeader_[10]->setEnabled(true);
    ResetMemberFields();
    editKind_ = 0;
    picDetails_->ensureVisible(0, 0);
}

void LibraryViewer::SetupDetailsTabs(int16_t image) {
    int32_t caption = 0;
    if (editKind_ == kEditLibrary) caption = 960;
    if ((editKind_ & 255) == kEditType) caption = 961 + ((editKind_ >> 8) - 1);
    std::vector<PageTab> tabs;
    int selected = 0;
    if ((editKind_ & kEditMember) != 0)
        selected = AddMemberTabs(image, tabs);
    else
        tabs.push_back({modImages::GetButtonFaceImageList().Icon(image), caption ? ResText(caption) : QString(), {}});
    // A property's tabs carry the accessor each shows; any other page is tab 1.
    const QVariant& code = tabs[static_cast<size_t>(selected)].Data;
    detailsTab_ = static_cast<int16_t>(code.typeId() == QMetaType::Int && code.toInt() != 0 ? code.toInt() : 1);
    const int help = AddHelpTab(tabs);
    ShowPageTabs(tabs, help >= 0 && helpPaneActive_ ? help : selected);
}

void LibraryViewer::ShowPageTabs(const std::vector<PageTab>& tabs, int selected) {
    ++fillDepth_;  // the program's own changes of the strip choose no page
    const int count = static_cast<int>(tabs.size());
    for (int i = 0; i < count; ++i) {
        const PageTab& tab = tabs[static_cast<size_t>(i)];
        if (i < tsFrame_->count()) {
            tsFrame_->setTabIcon(i, tab.Icon);
            if (tsFrame_->tabText(i) != tab.Text) tsFrame_->setTabText(i, tab.Text);
        } else {
            tsFrame_->addTab(tab.Icon, tab.Text);
        }
        tsFrame_->setTabData(i, tab.Data);
    }
    // The current tab first, so that none of those that go becomes current on the way.
    if (selected >= 0 && selected < count) tsFrame_->setCurrentIndex(selected);
    while (tsFrame_->count() > count) tsFrame_->removeTab(tsFrame_->count() - 1);
    // A strip not shown yet doesn't tell its layout of its new height itself.
    tsFrame_->updateGeometry();
    --fillDepth_;
}

void LibraryViewer::OnPageTabChosen(int index) {
    if (fillDepth_ > 0 || index < 0) return;
    const dialogs::AccessibleChanges::Scope tell(told_);
    if (inEditMode_) {
        TellEditPending(this);
    } else {
        // The page first (leaving the help page or going to it), then the
        // accessor of a member's details tab, whose fill sees the page shown.
        OnTabChosen(index);
        OnDetailsTabChosen(index);
    }
    // The highlighted tab is the page shown, whatever the fills did to the strip.
    const int page = PageTabIndex();
    if (page != tsFrame_->currentIndex()) {
        ++fillDepth_;
        tsFrame_->setCurrentIndex(page);
        --fillDepth_;
    }
}

void LibraryViewer::ResetEditRecord() {
    ResetHelpRecord();
    MarkInvalid(invalidFields_, false);
    editTarget_ = ChangeTarget{};
    editLibrary_.reset();
    workingChange_.reset();
    baselineChange_.reset();
    // A pane filled anew (a change made elsewhere refills it) has no edit pending.
    SetEditMode(false, true);
}

void LibraryViewer::FillFlagList(int32_t (*names)(int32_t, std::vector<modAttributeStrings::FlagName>&),
                                 int32_t mask) {
    ++fillDepth_;
    lstOptions_->clear();
    std::vector<modAttributeStrings::FlagName> flags;
    names(mask, flags);
    for (const modAttributeStrings::FlagName& flag : flags) {
        auto* item = new QListWidgetItem(ToQString(flag.Keyword), lstOptions_);
        item->setData(Qt::UserRole, flag.Value);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    const int rowHeight = lstOptions_->sizeHintForRow(0) > 0 ? lstOptions_->sizeHintForRow(0) : fontMetrics().height();
    lstOptions_->setFixedHeight(static_cast<int>((static_cast<double>(flags.size()) + 0.5) * rowHeight) +
                                2 * lstOptions_->frameWidth());
    --fillDepth_;
}

void LibraryViewer::LockFlagList(int32_t locked, bool enabled) {
    lockedFlags_ = locked;
    // A list whose every flag is locked has nothing left to change.
    bool changeable = locked == 0;
    for (int i = 0; i < lstOptions_->count() && !changeable; ++i)
        changeable = (lstOptions_->item(i)->data(Qt::UserRole).toInt() & locked) == 0;
    lstOptions_->setEnabled(enabled && changeable);
    lblHeader_[10]->setEnabled(enabled && changeable);
}

void LibraryViewer::ApplyCommandFilter(bool function) {
    for (QWidget* row : rows_) row->setEnabled(true);
    const CommandFilterRecord& filter = commandFilter_;
    const bool on = filter.Enabled();
    // Each group of fields the host's filter names for the item, its bit in the item's mask.
    const auto group = [on](QWidget* row, int32_t mask, int32_t bit) {
        if (on) row->setEnabled((mask & bit) != 0);
    };
    QWidget* const typeRow = rows_[0];
    QWidget* const attributesRow = rows_[3];
    int32_t locked = 0;
    if (editKind_ == kEditLibrary) {
        group(rows_[1], filter.LibraryCommands, kFilterLibIdentifier);
        group(attributesRow, filter.LibraryCommands, kFilterLibAttributes);
        group(rows_[4], filter.LibraryCommands, kFilterLibVersion);
        group(rows_[5], filter.LibraryCommands, kFilterLibLcid);
        locked = filter.LibraryFlags;
    } else if ((editKind_ & 255) == kEditType) {
        group(typeRow, filter.TypeCommands, editKind_ == kEditAlias ? kFilterTypeAliasTarget : kFilterTypeBaseType);
        group(rows_[1], filter.TypeCommands, kFilterTypeIdentifier);
        group(rows_[2], filter.TypeCommands, kFilterTypeAlignment);
        group(attributesRow, filter.TypeCommands, kFilterTypeAttributes);
        group(rows_[4], filter.TypeCommands, kFilterTypeVersion);
        locked = filter.TypeFlags;
    } else if (editKind_ == kEditImplType) {
        group(typeRow, filter.ImplTypeCommands, kFilterImplType);
        group(attributesRow, filter.ImplTypeCommands, kFilterImplAttributes);
        // Under the pairing, a coclass keeps the interface it goes with.
        if (on && filter.PairCoclasses != 0 && (filter.ImplTypeCommands & kFilterImplType) != 0 && workingChange_ &&
            (workingChange_->Flags() & ole::IMPLTYPEFLAG_FDEFAULT) != 0)
            typeRow->setEnabled(false);
        locked = filter.ImplTypeFlags;
    } else if ((editKind_ & (kEditMember | kEditParam)) == kEditMember) {
        group(typeRow, filter.MemberCommands, kFilterMemberType);
        group(constValRow_, filter.MemberCommands, kFilterMemberConstValue);
        group(dllNameRow_, filter.MemberCommands, kFilterMemberDllName);
        group(dllEntryRow_, filter.MemberCommands, kFilterMemberDllEntry);
        group(memberIdRow_, filter.MemberCommands, kFilterMemberId);
        group(attributesRow, filter.MemberCommands, kFilterMemberAttributes);
        locked = function ? filter.FuncFlags : filter.VarFlags;
    }
    LockFlagList(on ? locked : 0, attributesRow->isEnabled());
}

void LibraryViewer::ShowFlagChecks(int32_t flags) {
    ++fillDepth_;
    for (int i = 0; i < lstOptions_->count(); ++i) {
        QListWidgetItem* item = lstOptions_->item(i);
        item->setCheckState((flags & item->data(Qt::UserRole).toInt()) != 0 ? Qt::Checked : Qt::Unchecked);
    }
    lstOptions_->clearSelection();
    --fillDepth_;
}

// ---- Library and type details ----

void LibraryViewer::FillLibraryDetails(LibraryNodeRecord& library, int16_t image) {
    ++fillDepth_;
    if (editKind_ != kEditLibrary) {
        ClearDetailsPane();
        lblHeader_[9]->setText(ResText(903));
        lblHeader_[10]->setText(ResText(902));
        FillFlagList(&modAttributeStrings::GetLibFlagNames, 15);
        for (int row : {1, 3, 4, 5}) rows_[static_cast<size_t>(row)]->show();
        editKind_ = kEditLibrary;
        SetupDetailsTabs(image);
    }
    ResetEditRecord();
    editTarget_.Kind = kTargetLibrary;
    editTarget_.Library = library.Library;
    editTarget_.UnresolvedLibrary = unresolved_;
    editLibrary_ = library.EditableLibrary;
    baselineChange_ = modLibChange::NewLibChange();
    baselineChange_->InitFromTarget(editTarget_);
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    ShowLibraryValues(*baselineChange_);
    ApplyCommandFilter();
    --fillDepth_;
}

void LibraryViewer::FillTypeDetails(TypeNodeRecord& type, int16_t image) {
    ++fillDepth_;
    ole::ITypeLib* library = type.Library->Library.get();
    const int32_t kind = modITypeInfoHelper::GetEffectiveTypeKind(library, static_cast<ole::UINT>(type.TypeIndex));
    const int32_t code = kind * 256 + 258;
    if (editKind_ != code) {
        ClearDetailsPane();
        const bool referenced = kind == ole::TKIND_INTERFACE || kind == ole::TKIND_ALIAS;
        if (referenced) lblHeader_[5]->setText(ResText(kind == ole::TKIND_INTERFACE ? 906 : 907));
        lblHeader_[9]->setText(ResText(905));
        lblHeader_[10]->setText(ResText(904));
        int32_t mask = 0x0210;
        if (kind == ole::TKIND_INTERFACE) mask = 0x7BD0;
        if (kind == ole::TKIND_DISPATCH) mask = 0x5A90;
        if (kind == ole::TKIND_COCLASS) mask = 0x063F;
        FillFlagList(&modAttributeStrings::GetTypeFlagNames, mask);
        rows_[0]->setVisible(referenced);
        rows_[2]->setVisible(kind == ole::TKIND_RECORD);
        for (int row : {1, 3, 4}) rows_[static_cast<size_t>(row)]->show();
        editKind_ = code;
        SetupDetailsTabs(image);
    }
    ResetEditRecord();
    editTarget_.Kind = kTargetType;
    editTarget_.Library = type.Library->Library;
    editTarget_.UnresolvedLibrary = unresolved_;
    editTarget_.TypeIndex = type.TypeIndex;
    editTarget_.TypeKind = type.TypeKind;  // the kind history replay finds the type by
    editTarget_.TypeName = modITypeInfoHelper::GetTypeInfoName(
        modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(type.TypeIndex)).get());
    editLibrary_ = type.Library->EditableLibrary;
    baselineChange_ = modTypeChange::NewTypeChange(false);
    baselineChange_->InitFromTarget(editTarget_);
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    ShowTypeValues(*baselineChange_);
    ApplyCommandFilter();
    --fillDepth_;
}

void LibraryViewer::ShowLibraryValues(IAttributeChange& change) {
    ++fillDepth_;
    ShowFlagChecks(change.Flags());
    lblGUID_->setText(ToQString(ole::GuidToString(change.Guid())));
    txtVersion_->setText(ToQString(Fields::FormatVersion(change.MajorVersion(), change.MinorVersion())));
    txtLCID_->setText(ToQString(Fields::FormatLcid(static_cast<ole::LCID>(change.Lcid()))));
    --fillDepth_;
}

void LibraryViewer::ShowTypeValues(IAttributeChange& change) {
    ++fillDepth_;
    txtVersion_->setText(ToQString(Fields::FormatVersion(change.MajorVersion(), change.MinorVersion())));
    ShowFlagChecks(change.Flags());
    lblGUID_->setText(ToQString(ole::GuidToString(change.Guid())));
    if (rows_[0]->isVisibleTo(details_)) {
        txtSetType_->setText(ReferencedTypeText(change.VarTypeInfo().get(), editKind_ == kEditAlias));
    } else if (rows_[2]->isVisibleTo(details_)) {
        const int index = cmbAlign_->findData(static_cast<int>(change.Alignment()));
        if (index >= 0) cmbAlign_->setCurrentIndex(index);
    }
    --fillDepth_;
}

// ---- Edit mode ----

void LibraryViewer::SetEditMode(bool editing, bool canUpdate) {
    cmdUpdate_->setEnabled(editing && canUpdate);
    cmdUpdate_->setDefault(editing || !canUpdate);
    if (editing == inEditMode_) return;
    cmdCancel_->setEnabled(editing);
    if (editing) FocusEditedField();
    tvTypes_->setEnabled(!editing);
    inEditMode_ = editing;
    emit OnSetEditMode(editing);
}

void LibraryViewer::FocusEditedField() {
    // The window's focus, whether or not the window is active: a screen
    // reader may set a field while another window is.
    QWidget* focus = window()->focusWidget();
    if (!focus || (focus != tvTypes_ && !tvTypes_->isAncestorOf(focus))) return;
    // The field whose change began the edit (the view's handlers are its slots).
    auto* field = qobject_cast<QWidget*>(sender());
    if (!field || !(picDetails_->isAncestorOf(field) || picHelp_->isAncestorOf(field))) return;
    if (field->isEnabled() && field->isVisibleTo(window()) && (field->focusPolicy() & Qt::TabFocus) != 0)
        field->setFocus(Qt::OtherFocusReason);
}

void LibraryViewer::CheckDirty() {
    if (invalidFields_ != 0) {
        SetEditMode(true, false);
        return;
    }
    if (helpPaneActive_) {
        SetEditMode(HelpDirty(), true);
        return;
    }
    SetEditMode(workingChange_ && baselineChange_ && workingChange_->Differs(*baselineChange_), true);
}

void LibraryViewer::MarkInvalid(int32_t bits, bool invalid, const QString& why) {
    const std::tuple<int32_t, QLabel*, QWidget*> marks[] = {
        {kInvalidVersion, lblHeader_[8], txtVersion_},   {kInvalidLcid, lblHeader_[7], txtLCID_},
        {kInvalidMemberId, lblHeader_[6], txtMemberID_}, {kInvalidConstVal, lblHeader_[4], txtConstVal_},
        {kInvalidDllName, lblHeader_[3], txtDllName_},   {kInvalidDllEntry, lblHeader_[2], txtDllEntry_},
        {kInvalidAlignment, lblHeader_[1], cmbAlign_}};
    for (const auto& [bit, label, field] : marks) {
        if ((bits & bit) == 0) continue;
        dialogs::MarkCaptionInvalid(label, invalid);
        dialogs::MarkFieldInvalid(label, field, invalid, why);
    }
    invalidFields_ = invalid ? (invalidFields_ | bits) : (invalidFields_ & ~bits);
}

void LibraryViewer::OnVersionEdited() {
    if (fillDepth_ > 0 || !workingChange_) return;
    const auto version = Fields::ParseVersion(FromQString(txtVersion_->text()));
    if (version.Valid) {
        workingChange_->MajorVersion(version.Value.Major);
        workingChange_->MinorVersion(version.Value.Minor);
    }
    MarkInvalid(kInvalidVersion, !version.Valid,
                QStringLiteral("Two whole numbers from 0 to 32767 joined by a period, such as 1.0."));
    CheckDirty();
}

void LibraryViewer::OnLcidEdited() {
    if (fillDepth_ > 0 || !workingChange_) return;
    const ole::LCID filledWith = baselineChange_ ? static_cast<ole::LCID>(baselineChange_->Lcid()) : 0;
    const auto lcid = Fields::ParseLcid(FromQString(txtLCID_->text()), filledWith);
    if (lcid.Valid) workingChange_->Lcid(static_cast<int32_t>(lcid.Value));
    MarkInvalid(kInvalidLcid, !lcid.Valid,
                QStringLiteral("A locale identifier, in decimal or in hexadecimal after &H, such as 1033 or &H409."));
    CheckDirty();
}

void LibraryViewer::OnOptionChanged(QListWidgetItem* item) {
    if (fillDepth_ > 0 || !workingChange_) return;
    const int32_t bit = item->data(Qt::UserRole).toInt();
    const bool checked = item->checkState() == Qt::Checked;
    if ((bit & lockedFlags_) != 0) {
        // A flag the host locks keeps its value: the check mark springs back.
        if (checked != workingChange_->FlagsSet(bit)) {
            ++fillDepth_;
            item->setCheckState(checked ? Qt::Unchecked : Qt::Checked);
            --fillDepth_;
            dialogs::Services().Beep();
        }
        return;
    }
    workingChange_->SetFlags(bit, checked);
    CheckDirty();
}

void LibraryViewer::OnAlignChosen(int index) {
    if (fillDepth_ > 0 || !workingChange_ || index < 0) return;
    const auto alignment = static_cast<int16_t>(cmbAlign_->itemData(index).toInt());
    // The record's own alignment is always offered back.
    std::u16string why;
    if (!baselineChange_ || alignment != baselineChange_->Alignment()) {
        try {
            why = modITypeInfoHelper::AlignmentRefusal(
                modITypeInfoHelper::GetInterfaceTypeInfo(editTarget_.Library.get(),
                                                         static_cast<ole::UINT>(editTarget_.TypeIndex))
                    .get(),
                alignment);
        } catch (const ErrorRecord& error) {
            why = error.Description;
        }
    }
    if (why.empty()) workingChange_->Alignment(alignment);
    MarkInvalid(kInvalidAlignment, !why.empty(), ToQString(why));
    CheckDirty();
}

void LibraryViewer::OnChangeGuid() {
    if (!workingChange_) return;
    ole::GUID guid = workingChange_->Guid();
    // A host's filter allows the null GUID by the high half of its first field.
    const bool nullAllowed = !commandFilter_.Enabled() || (commandFilter_.FilterOn >> 16) != 0;
    if (nullAllowed ? dialogs_->ChangeGuid(this, guid) : dialogs_->ChangeNonNullGuid(this, guid)) {
        workingChange_->Guid(guid);
        lblGUID_->setText(ToQString(ole::GuidToString(guid)));
        CheckDirty();
    }
    tsFrame_->setFocus();
}

void LibraryViewer::OnChooseType() { SetTypeFromPicker(false); }

bool LibraryViewer::SetTypeFromPicker(bool applyNow) {
    if (applyNow && !cmdSetType_->isEnabled()) return false;
    bool changed = false;
    if ((editKind_ & 255) == kEditType && workingChange_) changed = PickTypeReference();
    if ((editKind_ & kEditMember) != 0 && workingChange_)
        changed = (editKind_ & kEditParam) != 0 ? PickParamType() : PickMemberType();
    if (editKind_ == kEditImplType && workingChange_) changed = PickImpliedInterface();
    if (applyNow && inEditMode_ && cmdUpdate_->isEnabled()) Update();
    if (!applyNow) tsFrame_->setFocus();
    return changed;
}

bool LibraryViewer::PickTypeReference() {
    const int32_t usage = editKind_ == kEditInterface ? kUsageBaseInterface : kUsageAliasTarget;
    const ole::ComPtr<CustomVarTypeInfo> held = workingChange_->VarTypeInfo();
    dialogs::LibraryCollection referenced;
    if (referenced_)
        for (const auto& [key, library] : *referenced_) referenced.push_back(library);
    const SpecifiedType picked =
        dialogs_->SpecifyType(this, usage, typeConstraint_, CurrentLibraryITypeLib().get(), referenced, held.get());
    // The libraries the user referenced in the dialog stay referenced.
    if (referenced_) {
        referenced_->clear();
        for (const ole::ComPtr<ole::ITypeLib>& library : referenced) referenced_->try_emplace(library.get(), library);
    }
    if (!picked.Accepted || picked.Type.get() == held.get()) return false;
    // Only an interface may be left without a base; an alias always has a target.
    if (!picked.Type && usage != kUsageBaseInterface) return false;
    ole::ComPtr<CustomVarTypeInfo> chosen = picked.Type;
    // The type the pane was filled with, described anew, is that type: no edit.
    const ole::ComPtr<CustomVarTypeInfo> filled = baselineChange_->VarTypeInfo();
    if (modMarbrel::VarTypeInfoEquals(chosen.get(), filled.get())) chosen = filled;
    const bool changed = !modMarbrel::VarTypeInfoEquals(chosen.get(), held.get());
    workingChange_->VarTypeInfo(chosen.get());
    txtSetType_->setText(ReferencedTypeText(chosen.get(), editKind_ == kEditAlias));
    CheckDirty();
    return changed;
}

// A right-click opens the menu at the mouse; the Menu key and Shift+F10
// open it just below the field. Either request is consumed.
bool LibraryViewer::TypeFieldEvent(QEvent* event) {
    const QPoint below = txtSetType_->mapToGlobal(QPoint(0, txtSetType_->height()));
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        const bool menuKey = key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier;
        if (!menuKey && !(key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) return false;
        dialogs::Guarded(this, [&] { SetTypeContextMenu(below); });
        // The window system may ask again for the Menu key before it is
        // released: the menu open answers that, and where it only beeped, the flag.
        typeMenuKeyDown_ = menuKey && !(mnuRedirectContext_ && mnuRedirectContext_->isVisible());
        return true;
    }
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu) typeMenuKeyDown_ = false;
        return false;
    case QEvent::ContextMenu: {
        auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() == QContextMenuEvent::Mouse) {
            dialogs::Guarded(this, [&] { SetTypeContextMenu(request->globalPos()); });
        } else if (typeMenuKeyDown_ || (mnuRedirectContext_ && mnuRedirectContext_->isVisible())) {
            typeMenuKeyDown_ = false;  // the key already answered
        } else {
            dialogs::Guarded(this, [&] { SetTypeContextMenu(below); });
        }
        return true;
    }
    default: return false;
    }
}

void LibraryViewer::SetTypeContextMenu(const QPoint& globalPos) {
    // The menu serves a type of another library (not a placeholder of the
    // companion library) while no edit is pending, in any pane that shows a
    // type: a base interface or alias target, a member's type, a parameter's.
    ole::ComPtr<CustomVarTypeInfo> type;
    if (!inEditMode_ && workingChange_ && editKind_ != kEditLibrary && rows_[0]->isVisibleTo(details_)) {
        try {
            type = workingChange_->VarTypeInfo();
        } catch (...) {
            type = nullptr;  // a change without a type offers nothing
        }
    }
    bool external = false;
    const bool described = type && type->BaseVarType() == 0 && type->TypeInfo() &&
                           ole::SUCCEEDED(type->get_IsExternalType(&external));
    bool allowed = described && external;
    if (allowed && unresolved_) {
        ole::ComPtr<tli::TypeLibInfo> owner;
        ole::ComPtr<ole::ITypeLib> library;
        if (ole::SUCCEEDED(type->get_TypeLibInfoExternal(owner.put())) && owner) owner->get_ITypeLib(library.put());
        allowed = library.get() != unresolved_.get();
    }
    // A host's filter may withhold either submenu.
    bool internalize = true;
    bool redirect = true;
    if (commandFilter_.Enabled()) {
        internalize = (commandFilter_.LibraryCommands & kFilterLibInternalize) != 0;
        redirect = (commandFilter_.TypeCommands & kFilterTypeRedirect) != 0;
    }
    if (!allowed || (!internalize && !redirect)) {
        // A type of this library has nothing to internalize or redirect: said.
        if (described && !external)
            dialogs::Services().MessageBox(this, ResText(kMsgTypeOfThisLibrary), dialogs::kStyleExclamation);
        else
            dialogs::Services().Beep();
        return;
    }
    if (!mnuRedirectContext_) {
        mnuRedirectContext_ = new QMenu(this);
        mnuRedirectContext_->setAccessibleName(QStringLiteral("External type"));
        // The view's palette and font, dark or light, as the view shows them.
        mnuRedirectContext_->setAttribute(Qt::WA_WindowPropagation);
        // Each submenu is a window of its own: it takes the palette from its menu too.
        const auto submenu = [](QMenu* menu, int32_t caption) {
            QMenu* below = menu->addMenu(ResText(caption));
            below->setAttribute(Qt::WA_WindowPropagation);
            return below;
        };
        const auto add = [this](QMenu* menu, int32_t caption, MenuItem item) {
            QAction* action = menu->addAction(ResText(caption));
            connect(action, &QAction::triggered, this, [this, item] {
                dialogs::Guarded(this, [&] { RunMenuCommand(item); });
            });
        };
        mnuRedirInternalize_ = submenu(mnuRedirectContext_, 871);
        QMenu* unmodified = submenu(mnuRedirInternalize_, 872);
        add(unmodified, 874, MenuItem::mnuRedirInternalizeThisType);
        add(unmodified, 875, MenuItem::mnuRedirInternalizeAllRefTypes);
        add(unmodified, 876, MenuItem::mnuRedirInternalizeAllTypes);
        QMenu* proxy = submenu(mnuRedirInternalize_, 873);
        add(proxy, 874, MenuItem::mnuRedirInternalizeProxyThisType);
        add(proxy, 875, MenuItem::mnuRedirInternalizeProxyAllRefTypes);
        add(proxy, 876, MenuItem::mnuRedirInternalizeProxyAllTypes);
        mnuRedirectExternal_ = submenu(mnuRedirectContext_, 877);
        add(mnuRedirectExternal_, 878, MenuItem::mnuRedirectExternalThisType);
        add(mnuRedirectExternal_, 879, MenuItem::mnuRedirectExternalAllTypes);
    }
    mnuRedirInternalize_->menuAction()->setVisible(internalize);
    mnuRedirectExternal_->menuAction()->setVisible(redirect);
    mnuRedirectContext_->popup(globalPos);
}

void LibraryViewer::OnFieldEnter() {
    if (!cmdUpdate_->isEnabled()) {
        dialogs::Services().Beep();
        return;
    }
    Update();
}

void LibraryViewer::Update() {
    if (helpPaneActive_) {
        ApplyHelpChange();
        return;
    }
    if (!cmdUpdate_->isEnabled() || !workingChange_) {
        dialogs::Services().Beep();
        return;
    }
    if ((editKind_ & kEditMember) != 0) {
        UpdateMemberPane();
        if (!cmdUpdate_->isEnabled()) tvTypes_->setFocus();
        return;
    }
    // Held: the listener's refill replaces the pane's change objects while they apply.
    const std::shared_ptr<IAttributeChange> working = workingChange_;
    const std::shared_ptr<IAttributeChange> baseline = baselineChange_;
    // The values the pane was filled with (an apply moves the baseline on to what it applied).
    const ChangePtr filled = baselineChange_ ? baselineChange_->Clone() : nullptr;
    try {
        if (editKind_ == kEditLibrary) {
            ApplySkippingView(*workingChange_, baselineChange_.get(), editTarget_, 1);
            Reattach(editTarget_);
            // The view was left out: the pane's baseline becomes what was applied.
            baselineChange_ = std::dynamic_pointer_cast<IAttributeChange>(workingChange_->Clone());
            ShowLibraryValues(*workingChange_);
        } else if ((editKind_ & 255) == kEditType) {
            if (!ApplyOwnChange(*workingChange_, baselineChange_.get(), editTarget_, 1)) return;
        } else if (editKind_ == kEditImplType) {
            UpdateImpliedInterface();
        }
        SetEditMode(false, true);
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        SetEditMode(false, true);
        // The pane shows what the library holds again.
        dialogs::Guarded(this, [this] { RefillSelection(); });
        // The change may have been applied before another listener failed on
        // it: then it stands (the library no longer holds what the pane was
        // filled with), and the error is a plain one. A change that failed
        // itself has undone its work, and set itself back.
        const bool stands = filled && baselineChange_ && baselineChange_ != baseline && filled->Differs(*baselineChange_);
        if (stands) {
            dialogs::Services().ReportError(this, error);
        } else {
            ReportUpdateFailed(error);
        }
    }
    if (!cmdUpdate_->isEnabled()) tvTypes_->setFocus();
}

void LibraryViewer::ReportUpdateFailed(const ErrorRecord& error) {
    constexpr int32_t kMsgUpdateFailed = 933;
    dialogs::Services().MessageBox(this, ResText(kMsgUpdateFailed) + QLatin1Char('\n') + ToQString(ErrorReportText(error)),
                                   dialogs::kStyleError);
}

void LibraryViewer::Cancel() {
    if (helpPaneActive_) {
        CancelHelpEdit();
        return;
    }
    if (!baselineChange_) return;
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    if (editKind_ == kEditLibrary) ShowLibraryValues(*baselineChange_);
    if ((editKind_ & 255) == kEditType) ShowTypeValues(*baselineChange_);
    if ((editKind_ & kEditMember) != 0) ShowMemberPaneValues(*baselineChange_);
    if (editKind_ == kEditImplType) ShowImpliedInterfaceValues(*baselineChange_);
    MarkInvalid(invalidFields_, false);
    SetEditMode(false, true);
    tvTypes_->setFocus();
}

void LibraryViewer::mousePressEvent(QMouseEvent* event) {
    // A click on the tree while an edit holds it disabled reaches the view.
    if (inEditMode_ && tvTypes_->geometry().contains(tvTypes_->parentWidget()->mapFrom(this, event->position().toPoint())))
        TellEditPending(this);
    QWidget::mousePressEvent(event);
}

}  // namespace zephrin::editor

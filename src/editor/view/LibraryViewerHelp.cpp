// The help page of the library editor view (the help data of the library, a
// type or a member, with how far a new help file or help string DLL applies)
// and the details of an implemented interface.
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "changes/hub/ChangeListener.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/ImplTypeChange.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "dialogs/modDetailsFields.h"
#include "editor/view/DetailsPaneCodes.h"
#include "editor/tree/LibraryTree.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/modImages.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modStorableText.h"
#include "platform/automation/BStr.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modMarbrel.h"
#include "typelib/modPrototype.h"

namespace zephrin::editor {

namespace {

namespace Fields = dialogs::modDetailsFields;
using dialogs::FromQString;
using dialogs::ResText;
using dialogs::ToQString;
using namespace details;

constexpr int32_t kMsgTypeHelpFile = 938;
constexpr int32_t kStrHelpTab = 969;
constexpr int32_t kStrImplTypeTab = 970;
constexpr int32_t kUsageImpliedInterface = 11;
// Invalid-field bits of the help page: help context, string context, help
// file, help string DLL, and a help string the file can't hold.
constexpr int32_t kInvalidHelpContext = 64;
constexpr int32_t kInvalidStringContext = 128;
constexpr int32_t kInvalidHelpFile = 256;
constexpr int32_t kInvalidHelpStringDll = 512;
constexpr int32_t kInvalidHelpString = 1024;
constexpr int32_t kInvalidHelpBits =
    kInvalidHelpContext | kInvalidStringContext | kInvalidHelpFile | kInvalidHelpStringDll | kInvalidHelpString;
const QString kHelpTabData = QStringLiteral("help");
// The longest text a library file holds.
constexpr int kLongestText = 0xFFFF;

// Why text can't be stored in a library and its history, or empty when it can.
QString WhyUnstorable(const QString& text) {
    const std::u16string value = FromQString(text);
    const std::u16string tooLong = Fields::WhyTooLong(value);
    return ToQString(tooLong.empty() ? modStorableText::WhyUnstorable(value) : tooLong);
}

// The text of an implemented interface, IUnknown and IDispatch with their star.
QString ImplementedTypeText(CustomVarTypeInfo* type) {
    return type ? ToQString(modPrototype::GetTypeString(type, false)) : QString();
}

QLineEdit* HelpLine(const char* name, const QString& accessible) {
    auto* field = new QLineEdit;
    field->setObjectName(QLatin1String(name));
    field->setAccessibleName(accessible);
    // As long as a library's text may be: nothing shown is cut short.
    field->setMaxLength(kLongestText);
    return field;
}

}  // namespace

// ---- The help page ----

void LibraryViewer::BuildHelpPane() {
    picHelp_ = new QScrollArea;
    picHelp_->setObjectName(QStringLiteral("picHelp"));
    picHelp_->setAccessibleName(QStringLiteral("Help"));
    picHelp_->setWidgetResizable(true);
    picHelp_->setFrameShape(QFrame::NoFrame);
    picHelp_->setFocusPolicy(Qt::NoFocus);
    helpFields_ = new QWidget;
    helpFields_->setAccessibleName(QStringLiteral("Help fields"));

    const int32_t captions[7] = {945, 947, 949, 946, 950, 948, 951};
    for (int i = 0; i < 7; ++i) {
        lblHelp_[i] = new QLabel(ResText(captions[i]).trimmed());
        lblHelp_[i]->setObjectName(QStringLiteral("lblHelp%1").arg(i));
    }
    txtHelpString_ = HelpLine("txtHelpString", QStringLiteral("Help string"));
    txtHelpContext_[0] = HelpLine("txtHelpContext0", QStringLiteral("Help context"));
    txtHelpContext_[1] = HelpLine("txtHelpContext1", QStringLiteral("String context"));
    txtHelpFile_[0] = HelpLine("txtHelpFile0", QStringLiteral("Help file"));
    txtHelpFile_[1] = HelpLine("txtHelpFile1", QStringLiteral("Help string DLL"));
    const char* scopeNames[2] = {"cmbApplyFileName0", "cmbApplyFileName1"};
    const QString scopeAccessible[2] = {QStringLiteral("Apply help file to"), QStringLiteral("Apply string DLL to")};
    for (int i = 0; i < 2; ++i) {
        cmbApplyFileName_[i] = new QComboBox;
        cmbApplyFileName_[i]->setObjectName(QLatin1String(scopeNames[i]));
        cmbApplyFileName_[i]->setAccessibleName(scopeAccessible[i]);
        for (int32_t id : {952, 953, 954}) cmbApplyFileName_[i]->addItem(ResText(id));
    }

    // The help string above its field; the other captions left of theirs,
    // the fields as wide as the help string's.
    QWidget* fields[7] = {txtHelpString_,    txtHelpContext_[0],  txtHelpContext_[1], txtHelpFile_[0],
                          cmbApplyFileName_[0], txtHelpFile_[1], cmbApplyFileName_[1]};
    // Why a text is refused, below its field.
    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(lblHelp_[0], row++, 0, 1, 2);
    grid->addWidget(txtHelpString_, row++, 0, 1, 2);
    grid->addWidget(dialogs::NewReasonLabel(txtHelpString_, true), row++, 0, 1, 2);
    for (int i = 1; i < 7; ++i) {
        grid->addWidget(lblHelp_[i], row, 0);
        grid->addWidget(fields[i], row++, 1);
        if (qobject_cast<QLineEdit*>(fields[i])) grid->addWidget(dialogs::NewReasonLabel(fields[i], true), row++, 1);
    }
    for (int i = 0; i < 7; ++i) lblHelp_[i]->setBuddy(fields[i]);
    grid->setColumnStretch(1, 1);
    // The fields start right of the widest caption, shown or not, so they stay put as scope rows come and go.
    int widest = 0;
    for (int i = 1; i < 7; ++i) widest = std::max(widest, lblHelp_[i]->sizeHint().width());
    grid->setColumnMinimumWidth(0, widest);
    txtHelpString_->setMinimumWidth(QFontMetrics(font()).averageCharWidth() * 56);
    auto* across = new QHBoxLayout;
    across->addLayout(grid);
    across->addStretch(1);
    auto* down = new QVBoxLayout(helpFields_);
    down->addLayout(across);
    down->addStretch(1);
    picHelp_->setWidget(helpFields_);
    picHelp_->hide();
    // The help page takes the details page's place under the tab strip.
    if (auto* panes = qobject_cast<QVBoxLayout*>(picDetails_->parentWidget()->layout()))
        panes->insertWidget(panes->indexOf(picDetails_) + 1, picHelp_, 1);
    for (int i : {4, 6}) lblHelp_[i]->hide();
    for (QComboBox* scope : cmbApplyFileName_) scope->hide();

    // Every change of a text, however made; the view's own fills are skipped.
    connect(txtHelpString_, &QLineEdit::textChanged, this,
            [this] { dialogs::Guarded(this, [this] { OnHelpStringEdited(); }); });
    for (int i = 0; i < 2; ++i) {
        connect(txtHelpContext_[i], &QLineEdit::textChanged, this,
                [this, i] { dialogs::Guarded(this, [this, i] { OnHelpContextEdited(i); }); });
        connect(txtHelpFile_[i], &QLineEdit::textChanged, this,
                [this, i] { dialogs::Guarded(this, [this, i] { OnHelpFileEdited(i); }); });
        connect(cmbApplyFileName_[i], &QComboBox::currentIndexChanged, this,
                [this, i](int index) { dialogs::Guarded(this, [this, i, index] { OnHelpScopeChosen(i, index); }); });
    }
    for (QLineEdit* field : {txtHelpString_, txtHelpContext_[0], txtHelpContext_[1], txtHelpFile_[0], txtHelpFile_[1]})
        connect(field, &QLineEdit::returnPressed, this,
                [this, field] { dialogs::Guarded(this, [this, field] { OnHelpFieldEnter(field); }); });
}

bool LibraryViewer::HelpTargetOf(QTreeWidgetItem* node, ChangeTarget& target) const {
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(node, record);
    std::shared_ptr<CustomTypeLib> editable;
    if (kind == kNodeLibrary) editable = static_cast<LibraryNodeRecord*>(record)->EditableLibrary;
    if (kind == kNodeType) editable = static_cast<TypeNodeRecord*>(record)->Library->EditableLibrary;
    if (kind == kNodeMember) editable = static_cast<MemberNodeRecord*>(record)->Type->Library->EditableLibrary;
    if (!editable) return false;
    target = TargetOfNode(node);
    return true;
}

int LibraryViewer::AddHelpTab(std::vector<PageTab>& tabs) {
    ChangeTarget target;
    if (hideHelpOptions_ || !HelpTargetOf(shownNode_, target)) {
        ShowHelpPage(false);
        return -1;
    }
    tabs.push_back({modImages::GetButtonFaceImageList().Icon(modImages::kHelpImage), ResText(kStrHelpTab),
                    kHelpTabData});
    return static_cast<int>(tabs.size()) - 1;
}

void LibraryViewer::OnTabChosen(int index) {
    if (index < 0) return;
    // Only while the strip offers the help page: the strip being emptied leaves it as it is.
    int help = -1;
    for (int i = 0; i < tsFrame_->count(); ++i)
        if (tsFrame_->tabData(i).toString() == kHelpTabData) help = i;
    if (help < 0) return;
    ShowHelpPage(index == help && tsFrame_->count() > 1);
}

int LibraryViewer::PageTabIndex() const {
    // A member pane's details tabs carry their accessors; other panes have one.
    const int32_t shown = (editKind_ & kEditMember) != 0 ? currentAccessor_ : detailsTab_;
    int page = 0;
    for (int i = 0; i < tsFrame_->count(); ++i) {
        const QVariant data = tsFrame_->tabData(i);
        if (data.typeId() == QMetaType::QString) {
            if (helpPaneActive_ && data.toString() == kHelpTabData) return i;
        } else if (data.typeId() == QMetaType::Int && data.toInt() != 0 && data.toInt() == shown) {
            page = i;
        }
    }
    return page;
}

void LibraryViewer::ShowHelpPage(bool show) {
    if (helpPaneActive_ == show) return;
    helpPaneActive_ = show;
    picDetails_->setVisible(!show);
    picHelp_->setVisible(show);
    if (show && !helpWorkingChange_) FillHelpPane();
}

void LibraryViewer::FillHelpPane() {
    ++fillDepth_;
    helpWorkingChange_.reset();
    helpBaselineChange_.reset();
    MarkHelpInvalid(invalidFields_ & kInvalidHelpBits, false);
    ChangeTarget target;
    if (HelpTargetOf(shownNode_, target)) {
        helpTarget_ = target;
        // A member has no help file or help string DLL of its own: its new
        // one applies to the items that share it, or to all.
        const bool member = target.Kind == kTargetMember;
        for (QComboBox* scope : cmbApplyFileName_) {
            if (auto* model = qobject_cast<QStandardItemModel*>(scope->model()))
                model->item(HelpChange::kScopeItem)->setEnabled(!member);
            if (member && scope->currentIndex() == HelpChange::kScopeItem) scope->setCurrentIndex(HelpChange::kScopeShared);
        }
        std::shared_ptr<HelpChange> filled = modHelpChange::NewHelpChange(false);
        filled->InitFromTarget(helpTarget_);
        filled->HelpFileScope(static_cast<int16_t>(cmbApplyFileName_[0]->currentIndex()));
        filled->HelpStringDllScope(static_cast<int16_t>(cmbApplyFileName_[1]->currentIndex()));
        helpBaselineChange_ = std::static_pointer_cast<HelpChange>(filled->Clone());
        helpWorkingChange_ = filled;
        ShowHelpValues(*helpWorkingChange_);
    } else {
        helpTarget_ = ChangeTarget{};
        ShowHelpValues(HelpChange{});
    }
    --fillDepth_;
}

void LibraryViewer::ShowHelpValues(const HelpChange& change) {
    ++fillDepth_;
    const HelpData& help = change.Help();
    txtHelpString_->setText(ToQString(help.DocString));
    txtHelpFile_[0]->setText(ToQString(help.HelpFile));
    txtHelpFile_[1]->setText(ToQString(help.HelpStringDll));
    txtHelpContext_[0]->setText(ToQString(Fields::FormatHelpContext(help.HelpContext)));
    txtHelpContext_[1]->setText(ToQString(Fields::FormatHelpContext(help.HelpStringContext)));
    for (QLineEdit* field : {txtHelpString_, txtHelpContext_[0], txtHelpContext_[1], txtHelpFile_[0], txtHelpFile_[1]})
        field->setCursorPosition(0);
    for (int i : {4, 6}) lblHelp_[i]->hide();
    for (QComboBox* scope : cmbApplyFileName_) scope->hide();
    --fillDepth_;
}

void LibraryViewer::ResetHelpRecord() {
    MarkHelpInvalid(invalidFields_ & kInvalidHelpBits, false);
    helpWorkingChange_.reset();
    helpBaselineChange_.reset();
    helpTarget_ = ChangeTarget{};
    if (helpPaneActive_) FillHelpPane();
}

void LibraryViewer::MarkHelpInvalid(int32_t bits, bool invalid, const QString& reason) {
    const std::pair<int32_t, int> marks[] = {{kInvalidHelpString, 0},
                                             {kInvalidHelpContext, 1},
                                             {kInvalidStringContext, 2},
                                             {kInvalidHelpFile, 3},
                                             {kInvalidHelpStringDll, 5}};
    for (const auto& [bit, index] : marks) {
        if ((bits & bit) == 0) continue;
        QLabel* label = lblHelp_[index];
        dialogs::MarkCaptionInvalid(label, invalid);
        // Why, where the field's text alone doesn't say.
        dialogs::MarkFieldInvalid(label, label->buddy(), invalid, reason);
    }
    invalidFields_ = invalid ? (invalidFields_ | bits) : (invalidFields_ & ~bits);
}

void LibraryViewer::OnHelpStringEdited() {
    if (fillDepth_ > 0 || !helpWorkingChange_) return;
    const QString text = txtHelpString_->text();
    const QString why = WhyUnstorable(text);
    if (why.isEmpty()) helpWorkingChange_->DocString(FromQString(text));
    MarkHelpInvalid(kInvalidHelpString, !why.isEmpty(), why);
    CheckDirty();
}

void LibraryViewer::OnHelpContextEdited(int which) {
    if (fillDepth_ > 0 || !helpWorkingChange_) return;
    const auto context = Fields::ParseHelpContext(FromQString(txtHelpContext_[which]->text()));
    if (context.Valid) {
        if (which == 0)
            helpWorkingChange_->HelpContext(context.Value);
        else
            helpWorkingChange_->HelpStringContext(context.Value);
    }
    MarkHelpInvalid(which == 0 ? kInvalidHelpContext : kInvalidStringContext, !context.Valid,
                    QStringLiteral("A whole number from 0 to 4294967295."));
    CheckDirty();
}

void LibraryViewer::OnHelpFileEdited(int which) {
    if (fillDepth_ > 0 || !helpWorkingChange_) return;
    const QString text = txtHelpFile_[which]->text();
    const std::u16string value = FromQString(text);
    QString why = WhyUnstorable(text);
    if (why.isEmpty() && !Fields::IsValidHelpFile(value)) why = QStringLiteral("A name may not begin or end with a blank.");
    if (why.isEmpty()) {
        const HelpData& filled = helpBaselineChange_->Help();
        if (which == 0)
            helpWorkingChange_->HelpFile(value);
        else
            helpWorkingChange_->HelpStringDll(value);
        // How far the new name applies is asked while it differs from the filled one.
        const bool differs = value != (which == 0 ? filled.HelpFile : filled.HelpStringDll);
        lblHelp_[which == 0 ? 4 : 6]->setVisible(differs);
        cmbApplyFileName_[which]->setVisible(differs);
    }
    MarkHelpInvalid(which == 0 ? kInvalidHelpFile : kInvalidHelpStringDll, !why.isEmpty(), why);
    CheckDirty();
}

void LibraryViewer::OnHelpScopeChosen(int which, int index) {
    if (fillDepth_ > 0 || !helpWorkingChange_ || index < 0) return;
    // A member has no help file of its own, whoever chose the item (a screen reader may).
    if (helpTarget_.Kind == kTargetMember && index == HelpChange::kScopeItem) {
        cmbApplyFileName_[which]->setCurrentIndex(HelpChange::kScopeShared);
        return;
    }
    // A scope alone is no edit.
    if (which == 0)
        helpWorkingChange_->HelpFileScope(static_cast<int16_t>(index));
    else
        helpWorkingChange_->HelpStringDllScope(static_cast<int16_t>(index));
}

void LibraryViewer::OnHelpFieldEnter(QLineEdit* field) {
    if (cmdUpdate_->isEnabled()) {
        Update();
        return;
    }
    // A text the file can't hold says why; anything else only beeps.
    const QString why = WhyUnstorable(field->text());
    if (!why.isEmpty())
        dialogs::Services().MessageBox(this, why, dialogs::kStyleError);
    else
        dialogs::Services().Beep();
}

bool LibraryViewer::HelpDirty() const {
    return helpWorkingChange_ && helpBaselineChange_ && helpWorkingChange_->Differs(*helpBaselineChange_);
}

void LibraryViewer::ApplyHelpChange() {
    if (!cmdUpdate_->isEnabled() || !helpWorkingChange_) {
        dialogs::Services().Beep();
        return;
    }
    // A type's own help file is not kept by the library: asked first.
    if (helpTarget_.Kind == kTargetType && cmbApplyFileName_[0]->isVisibleTo(helpFields_) &&
        helpWorkingChange_->HelpFileScope() == HelpChange::kScopeItem &&
        dialogs::Services().MessageBox(this, ResText(kMsgTypeHelpFile), dialogs::kStyleYesNoQuestionNoDefault) !=
            dialogs::kAnswerYes)
        return;
    try {
        // Names as the library holds them now (a rename may have come since
        // the fill). The changes and the target are held here: the view's
        // listener may refill the page while the change applies.
        ChangeTarget target = helpTarget_;
        HelpTargetOf(shownNode_, target);
        const std::shared_ptr<HelpChange> working = helpWorkingChange_;
        const std::shared_ptr<HelpChange> baseline = helpBaselineChange_;
        ApplyOwnChange(*working, baseline.get(), target, 1);
        if (target.ReplacementLibrary) {
            target.Library = target.ReplacementLibrary;
            target.ReplacementLibrary = nullptr;
        }
        if (helpWorkingChange_ == working) helpTarget_ = target;
        SetEditMode(false, true);
        // What the library made of the edit (a type keeps no help file of its
        // own), and panes that follow a regenerated library.
        RefillSelection();
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        SetEditMode(false, true);
        // The library holds what it held before: the page shows that again.
        dialogs::Guarded(this, [this] { RefillSelection(); });
        ReportUpdateFailed(error);
    }
    if (!cmdUpdate_->isEnabled()) tvTypes_->setFocus();
}

void LibraryViewer::CancelHelpEdit() {
    if (helpBaselineChange_) {
        helpWorkingChange_ = std::static_pointer_cast<HelpChange>(helpBaselineChange_->Clone());
        helpWorkingChange_->HelpFileScope(static_cast<int16_t>(cmbApplyFileName_[0]->currentIndex()));
        helpWorkingChange_->HelpStringDllScope(static_cast<int16_t>(cmbApplyFileName_[1]->currentIndex()));
        ShowHelpValues(*helpWorkingChange_);
    }
    MarkHelpInvalid(invalidFields_ & kInvalidHelpBits, false);
    SetEditMode(false, true);
    tvTypes_->setFocus();
}

// ---- Implemented-interface details ----

void LibraryViewer::FillImpliedInterfaceDetails(ImpliedInterfaceNodeRecord& implemented, int16_t image) {
    ++fillDepth_;
    if (editKind_ != kEditImplType) {
        ClearDetailsPane();
        lblHeader_[5]->setText(ResText(901));
        lblHeader_[10]->setText(ResText(900));
        FillFlagList(&modAttributeStrings::GetImplTypeFlagNames, 15);
        for (int row : {0, 3}) rows_[static_cast<size_t>(row)]->show();
        editKind_ = kEditImplType;
        SetupDetailsTabs(image);
        tsFrame_->setTabText(0, ResText(kStrImplTypeTab));
    } else if (tsFrame_->count() > 0) {
        tsFrame_->setTabIcon(0, modImages::GetButtonFaceImageList().Icon(image));
    }
    ResetEditRecord();
    // The coclass's line by its position, with the names a history finds it by.
    editTarget_ = TargetOfNode(shownNode_);
    editLibrary_ = implemented.Type->Library->EditableLibrary;
    baselineChange_ = modImplTypeChange::NewImplTypeChange(false);
    baselineChange_->InitFromTarget(editTarget_);
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    ShowImpliedInterfaceValues(*workingChange_);
    ApplyCommandFilter();
    --fillDepth_;
}

void LibraryViewer::ShowImpliedInterfaceValues(IAttributeChange& change) {
    ++fillDepth_;
    ShowFlagChecks(change.Flags());
    txtSetType_->setText(ImplementedTypeText(change.VarTypeInfo().get()));
    txtSetType_->setCursorPosition(0);
    --fillDepth_;
}

bool LibraryViewer::PickImpliedInterface() {
    const ole::ComPtr<CustomVarTypeInfo> held = workingChange_->VarTypeInfo();
    dialogs::LibraryCollection referenced;
    if (referenced_)
        for (const auto& [key, library] : *referenced_) referenced.push_back(library);
    const SpecifiedType picked = dialogs_->SpecifyType(this, kUsageImpliedInterface, typeConstraint_,
                                                       CurrentLibraryITypeLib().get(), referenced, held.get());
    if (referenced_) {
        referenced_->clear();
        for (const ole::ComPtr<ole::ITypeLib>& library : referenced) referenced_->try_emplace(library.get(), library);
    }
    // A coclass always names an interface: none chosen changes nothing.
    if (!picked.Accepted || !picked.Type || picked.Type.get() == held.get()) return false;
    ole::ComPtr<CustomVarTypeInfo> chosen = picked.Type;
    // The interface the pane was filled with, described anew, is that interface: no edit.
    const ole::ComPtr<CustomVarTypeInfo> filled = baselineChange_->VarTypeInfo();
    if (modMarbrel::VarTypeInfoEquals(chosen.get(), filled.get())) chosen = filled;
    const bool changed = !modMarbrel::VarTypeInfoEquals(chosen.get(), held.get());
    workingChange_->VarTypeInfo(chosen.get());
    txtSetType_->setText(ImplementedTypeText(chosen.get()));
    txtSetType_->setCursorPosition(0);
    CheckDirty();
    return changed;
}

void LibraryViewer::UpdateImpliedInterface() {
    // Names as the library holds them now (a rename may have come since the
    // fill). The changes and the target are held here: the view's listener
    // refills the pane while the change applies.
    ChangeTarget target = GetNodeKind(shownNode_) == kNodeImplType ? TargetOfNode(shownNode_) : editTarget_;
    const std::shared_ptr<IAttributeChange> working = workingChange_;
    const std::shared_ptr<IAttributeChange> baseline = baselineChange_;
    ApplyOwnChange(*working, baseline.get(), target, 1);
}

}  // namespace zephrin::editor

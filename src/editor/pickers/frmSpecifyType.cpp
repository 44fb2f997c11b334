#include "editor/pickers/frmSpecifyType.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "dialogs/AccessibleChanges.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "editor/pickers/TypePicker.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"

namespace zephrin::editor {

using namespace dialogs;

namespace {

// The caption of each usage, 1 to 17.
constexpr int32_t kCaptions[] = {562, 563, 565, 563, 565, 563, 565, 564, 566, 567, 568, 569, 570, 570, 571, 572, 573};
constexpr int32_t kTypeFlagDual = 0x40;

}  // namespace

frmSpecifyType::frmSpecifyType(QWidget* owner) : ModalDialog(owner, Sizing::Resizable) {
    lblHeader_ = new QLabel(ResText(560), this);
    lblHeader_->setObjectName(QStringLiteral("lblHeader"));
    picker_ = new TypePicker(this);
    lblHeader_->setBuddy(picker_->Tree());
    NameFromCaption(picker_->Tree(), lblHeader_->text());

    auto* buttons = MakeOkCancel();
    cmdRefs_ = new QPushButton(ResText(574), this);
    cmdRefs_->setObjectName(QStringLiteral("cmdRefs"));
    NameFromCaption(cmdRefs_, cmdRefs_->text());
    buttons->addSpacing(fontMetrics().lineSpacing() / 2);
    buttons->addWidget(cmdRefs_);
    buttons->addStretch(1);

    // Why OK is disabled, below the choices; two lines are kept for it, so
    // that the tree keeps its height as reasons come and go.
    lblReason_ = NewReasonLabel(picker_->Tree(), false, this);
    lblReason_->setMinimumHeight(lblReason_->fontMetrics().lineSpacing() * 2);

    auto* left = new QVBoxLayout;
    left->addWidget(lblHeader_);
    left->addWidget(picker_, 1);
    left->addWidget(lblReason_);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left, 1);
    main->addLayout(buttons);

    OnClick(cmdRefs_, [this] {
        if (picker_->UpdateLibraries()) picker_->setFocus();
        UpdateOk();
    });
    connect(picker_, &TypePicker::LeafDblClick, this, [this] { Guarded(this, [this] { LeafDoubleClicked(); }); });
    connect(picker_, &TypePicker::ConstraintTypeMismatchChanged, this, [this](bool matches) {
        MarkLabel(lblHeader_, !matches);
        // The red header says why, to a screen reader too, on the tree it names.
        mismatch_ = matches ? QString() : QStringLiteral("The current type is not offered here: its use or the "
                                                         "type constraint rules it out. Choose another type.");
        lblHeader_->setToolTip(mismatch_);
        dialogs::SetDescriptionTold(lblHeader_, mismatch_);
        TellWhy();
    });
    connect(picker_->Tree(), &QTreeWidget::currentItemChanged, this, [this] { UpdateOk(); });
    for (QComboBox* combo : {picker_->ArrayCombo(), picker_->PointerCombo(), picker_->FlagsCombo()})
        connect(combo, &QComboBox::activated, this, [this] { UpdateOk(); });
    connect(picker_->BoundsBox(), &QLineEdit::textEdited, this, [this] { UpdateOk(); });
}

void frmSpecifyType::Start(int32_t usage, int32_t constraints, int32_t paramUsage, int32_t redirectionType,
                           ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs, tli::VarTypeInfo* current,
                           int32_t paramFlags, bool variantOnly) {
    TypePickerState& state = picker_->State();
    state.TypeUsage(usage);
    state.TypeCompatibility(constraints);
    state.ParamUsage(paramUsage);
    state.RedirectionType(redirectionType);
    lblHeader_->setText(ResText(usage >= kUsageRedirectLibrary ? 561 : 560));
    NameFromCaption(picker_->Tree(), lblHeader_->text());
    picker_->InitSession(currentTypeLib, otherLibs, current, paramFlags, variantOnly);
    setWindowTitle(ResText(kCaptions[usage - 1]));
    picker_->setMinimumSize(picker_->MinTrackSize());
    FinishLayout();
    UpdateOk();
}

void frmSpecifyType::UpdateOk() {
    whyNoOk_ = WhyNoOk();
    Ok()->setEnabled(whyNoOk_.isEmpty());
    TellWhy();
}

QString frmSpecifyType::WhyNoOk() const {
    const TypePickerState& state = picker_->State();
    const bool noBase = state.TypeUsage() == kUsageBaseInterface &&
                        state.TypeCompatibility() != kCompatVBImplementable && !state.HasType() && !state.Mismatch();
    if (!state.HasType() && !noBase)
        return state.LibrarySession() ? QStringLiteral("No library is chosen: choose one in the list.")
                                      : QStringLiteral("No type is chosen: choose one in the list.");
    // A ParamArray parameter is an array: without one chosen there is nothing to accept.
    if (!state.Rule().NotAnArrayOffered && state.ArrayStyle() == kArrayNone)
        return QStringLiteral("A ParamArray parameter is an array: choose an array style.");
    // A marked choice (a level its list doesn't offer, bounds text that
    // doesn't parse) would accept something other than what is shown.
    switch (state.MarkedPair()) {
    case TypePickerState::Pair::ArrayStyle:
        return QStringLiteral("The array style is not one offered here: choose one from its list.");
    case TypePickerState::Pair::PointerLevel:
        return QStringLiteral("The pointer level is not one offered here: choose one from its list.");
    case TypePickerState::Pair::ParamFlags:
        return QStringLiteral("The parameter flags are not ones offered here: choose them from their list.");
    case TypePickerState::Pair::Bounds:
        return QStringLiteral("The array bounds don't parse: pairs of a lower and an upper bound joined by To and "
                              "separated by commas, or an upper bound alone, such as 0 To 3, 1 To 2.");
    case TypePickerState::Pair::None: break;
    }
    return {};
}

void frmSpecifyType::TellWhy() {
    // Why the header is red and why OK is disabled, under the choices, and
    // on the tree they are about.
    QString told = mismatch_;
    if (!whyNoOk_.isEmpty()) told += (told.isEmpty() ? QString() : QStringLiteral(" ")) + whyNoOk_;
    lblReason_->setText(told);
    dialogs::SetDescriptionTold(picker_->Tree(), told);
    dialogs::SetDescriptionTold(Ok(), whyNoOk_);
    dialogs::SetToolTipTold(Ok(), whyNoOk_);
}

void frmSpecifyType::LeafDoubleClicked() {
    if (Ok()->isEnabled())
        Ok()->click();
    else
        Services().Beep();
}

SpecifiedType frmSpecifyType::Run(frmSpecifyType& dialog) {
    SpecifiedType result;
    if (!dialog.Execute()) return result;
    result.Accepted = true;
    result.Type = dialog.picker_->CurrentType();
    return result;
}

SpecifiedType frmSpecifyType::GetType(QWidget* owner, int32_t typeUsage, int32_t constraints,
                                      ole::ITypeLib* currentTypeLib, LibraryCollection& otherLibs,
                                      tli::VarTypeInfo* vtInfo) {
    frmSpecifyType dialog(owner);
    dialog.Start(typeUsage, constraints, 0, 0, currentTypeLib, otherLibs, vtInfo, 0, false);
    return Run(dialog);
}

SpecifiedType frmSpecifyType::GetParamType(QWidget* owner, int32_t typeUsage, int32_t constraints,
                                           int32_t paramUsage, ole::ITypeLib* currentTypeLib,
                                           LibraryCollection& otherLibs, tli::VarTypeInfo* vtInfo,
                                           int32_t& paramFlags, bool& fOptionalVariant) {
    frmSpecifyType dialog(owner);
    dialog.Start(typeUsage, constraints, paramUsage, 0, currentTypeLib, otherLibs, vtInfo, paramFlags,
                 fOptionalVariant);
    SpecifiedType result = Run(dialog);
    if (result.Accepted) paramFlags = dialog.picker_->CurrentParamFlags();
    return result;
}

void frmSpecifyType::RedirectUsage(tli::VarTypeInfo* vtInfo, int32_t& usage, int32_t& redirectionType) {
    ole::ComPtr<tli::TypeInfo> type;
    if (!vtInfo) RaiseError(kErrInvalidArgument);
    CheckHr(vtInfo->get_TypeInfo(type.put()));
    if (!type) RaiseError(kErrInvalidArgument);
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    CheckHr(type->get_TypeKind(&kind));
    usage = kUsageRedirectType;
    redirectionType = kind;
    if (kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH) {
        usage = kUsageRedirectInterface;
        ole::SHORT flags = 0;
        CheckHr(type->get_AttributeMask(&flags));
        if (flags & kTypeFlagDual) redirectionType = ole::TKIND_INTERFACE;
    } else if (kind == ole::TKIND_ALIAS) {
        ole::VARTYPE vt = 0;
        redirectionType = modSupport::ResolveTypeKind(type.get(), vt);
    }
}

SpecifiedType frmSpecifyType::GetRedirectType(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                              LibraryCollection& otherLibs, tli::VarTypeInfo* vtInfo) {
    int32_t usage = 0, redirectionType = 0;
    RedirectUsage(vtInfo, usage, redirectionType);
    frmSpecifyType dialog(owner);
    dialog.Start(usage, 0, 0, redirectionType, currentTypeLib, otherLibs, vtInfo, 0, false);
    return Run(dialog);
}

SpecifiedType frmSpecifyType::GetImportType(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                            LibraryCollection& otherLibs) {
    frmSpecifyType dialog(owner);
    dialog.Start(kUsageImportType, 0, 0, 0, currentTypeLib, otherLibs, nullptr, 0, false);
    return Run(dialog);
}

SpecifiedType frmSpecifyType::GetRedirectLibrary(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                                 LibraryCollection& otherLibs, tli::VarTypeInfo* vtInfoInReplaceLib) {
    frmSpecifyType dialog(owner);
    dialog.Start(kUsageRedirectLibrary, 0, 0, 0, currentTypeLib, otherLibs, vtInfoInReplaceLib, 0, false);
    return Run(dialog);
}

SpecifiedType frmSpecifyType::GetImportLibrary(QWidget* owner, ole::ITypeLib* currentTypeLib,
                                               LibraryCollection& otherLibs) {
    frmSpecifyType dialog(owner);
    dialog.Start(kUsageImportLibrary, 0, 0, 0, currentTypeLib, otherLibs, nullptr, 0, false);
    return Run(dialog);
}

}  // namespace zephrin::editor

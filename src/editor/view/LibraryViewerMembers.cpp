// The member and parameter panes of the library editor view: their fields,
// the member's type, ID, value, DLL entry and flags, the parameter's type,
// optional setting and default value, and their updates, which offer to keep
// the other accessors of a property in step.
#include <QComboBox>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <utility>

#include "changes/hub/ChangeListener.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/UiServices.h"
#include "dialogs/modDetailsFields.h"
#include "editor/tree/EventHook.h"
#include "editor/view/DetailsPaneCodes.h"
#include "editor/tree/LibraryTree.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/modImages.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modStorableText.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
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

constexpr int32_t kMsgIdTaken = 932;
constexpr int32_t kMsgSyncReturnType = 934;
constexpr int32_t kMsgSetToLet = 935;
constexpr int32_t kMsgLetToSet = 936;
constexpr int32_t kMsgSyncValueType = 937;
constexpr int32_t kMsgIdFormat = 940;
constexpr int32_t kTypeBit = 0x20;

// Member sub-kinds (bits 8-11 of the edit kind).
enum SubKind : int32_t {
    kSubField = 1,
    kSubEnumValue = 2,
    kSubModuleConst = 3,
    kSubDispProperty = 4,
    kSubInterfaceFunc = 5,
    kSubModuleFunc = 6,
    kSubDispFunc = 7,
};

// Parameter option mask bits.
constexpr int32_t kOptRequired = 0x1;
constexpr int32_t kOptWideUsage = 0x2;
constexpr int32_t kOptTyped = 0x4;
constexpr int32_t kOptVariant = 0x8;
constexpr int32_t kOptParamArray = 0x10;
constexpr int32_t kOptLcid = 0x20;
constexpr int32_t kOptRetval = 0x40;
constexpr int32_t kOptRightHand = 0x80;
constexpr int32_t kOptOutUsage = 0x400;
constexpr int32_t kOptLastIsRetval = 0x100000;
// Item data of the typed optional entry without a default.
constexpr int kTypedNoDefault = 0x200000;

constexpr int32_t kParamIn = ole::PARAMFLAG_FIN;
constexpr int32_t kParamOut = ole::PARAMFLAG_FOUT;
constexpr int32_t kParamRetval = ole::PARAMFLAG_FRETVAL;
constexpr int32_t kParamOpt = ole::PARAMFLAG_FOPT;
constexpr int32_t kParamHasDefault = ole::PARAMFLAG_FHASDEFAULT;

int32_t SubKindOf(int32_t editKind) { return (editKind >> 8) & 15; }
int32_t LowestBit(int32_t bits) { return bits & -bits; }

// The parameter usage the type chooser gets for a parameter of optionMask.
int32_t ParamUsageOf(int32_t optionMask) {
    if ((optionMask & kOptParamArray) != 0) return 8;
    if ((optionMask & kOptOutUsage) != 0) return 4;
    if ((optionMask & kOptRightHand) != 0) return 16;
    if ((optionMask & kOptWideUsage) != 0) return 3;
    return 1;
}

// The index of the last parameter of the function memberId/invokeKind of
// the type at typeIndex, or -1 when it has none.
int32_t LastParamIndex(ole::ITypeLib* library, int32_t typeIndex, ole::MEMBERID memberId, int32_t invokeKind) {
    const ole::ComPtr<ole::ITypeInfo2> info =
        modITypeInfoHelper::GetInterfaceTypeInfo2(library, static_cast<ole::UINT>(typeIndex));
    ole::UINT index = 0;
    if (!info || ole::FAILED(info->GetFuncIndexOfMemId(memberId, static_cast<ole::INVOKEKIND>(invokeKind), &index)))
        return -1;
    ole::FUNCDESC* func = nullptr;
    if (ole::FAILED(info->GetFuncDesc(index, &func)) || !func) return -1;
    const int32_t last = func->cParams - 1;
    info->ReleaseFuncDesc(func);
    return last;
}

// Raises the view's fill depth for its lifetime, so that no field handler
// reacts to what the program writes, even when the fill fails halfway.
class FillScope {
public:
    explicit FillScope(int32_t& depth) : depth_(depth) { ++depth_; }
    ~FillScope() { --depth_; }
    FillScope(const FillScope&) = delete;
    FillScope& operator=(const FillScope&) = delete;

private:
    int32_t& depth_;
};

// Tells on field which character of text the file can't hold, or that the
// text to store (stored, text itself when not given) is longer than a history
// file holds (the field is marked invalid meanwhile); true when so.
bool MarkUnstorable(QLineEdit* field, std::u16string_view text, const std::u16string_view* stored = nullptr) {
    std::u16string why = Fields::WhyTooLong(stored ? *stored : text);
    if (why.empty()) why = modStorableText::WhyUnstorable(text);
    field->setToolTip(ToQString(why));
    return !why.empty();
}

// The tab caption of a member code (the parameter bit left out).
int32_t MemberCaption(int32_t code) {
    const int32_t sub = SubKindOf(code);
    const int32_t high = (code >> 12) & 15;
    switch (sub) {
    case kSubEnumValue: return high == 0 ? 971 : 0;
    case kSubModuleConst: return high == 0 ? 987 : 0;
    case kSubField: return high == 1 ? 972 : (high == 2 ? 973 : 0);
    case kSubDispProperty: return high == 0 ? 974 : 0;
    case kSubInterfaceFunc:
    case kSubModuleFunc:
    case kSubDispFunc: {
        // Method, Get, Let and Set captions of each kind.
        static constexpr int32_t kCaptions[3][4] = {{979, 980, 981, 982}, {983, 984, 985, 986}, {975, 976, 977, 978}};
        const int32_t* row = kCaptions[sub - kSubInterfaceFunc];
        // A method and a property accessor that share a name and an ID are
        // one node: its first tab is the method's.
        if ((high & 1) != 0) return row[0];
        if ((high & 2) != 0) return row[1];
        if ((high & 4) != 0) return row[2];
        if ((high & 8) != 0) return row[3];
        return 0;
    }
    default: return 0;
    }
}

// The VARTYPE a type's value is held as (0 for a user type).
ole::VARTYPE BaseTypeOf(CustomVarTypeInfo* type) { return type ? type->BaseVarType() : ole::VARTYPE{0}; }

// How a user type resolves: its kind, or -1 when it isn't one or can't be read.
int32_t ResolvedKind(CustomVarTypeInfo* type, ole::VARTYPE& vt) {
    vt = 0;
    if (!type || type->BaseVarType() != 0 || !type->TypeInfo()) return -1;
    try {
        return modSupport::ResolveTypeKind(type->TypeInfo().get(), vt);
    } catch (const ErrorRecord&) {
        return -1;
    }
}

// A typed type: no array, and intrinsic or a user type that is no record or union.
bool IsTypedType(CustomVarTypeInfo* type) {
    if (!type || type->IsArray()) return false;
    if (type->BaseVarType() != 0) return true;
    ole::VARTYPE vt = 0;
    const int32_t kind = ResolvedKind(type, vt);
    return kind >= 0 && kind != ole::TKIND_RECORD && kind != ole::TKIND_UNION;
}

// A row of the pane: its caption above the field.
QWidget* FieldRow(QLabel* caption, QWidget* field) {
    auto* row = new QWidget;
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(caption);
    auto* line = new QHBoxLayout;
    line->addWidget(field);
    line->addStretch(1);
    layout->addLayout(line);
    caption->setBuddy(field);
    return row;
}

}  // namespace

// ---- The fields ----

void LibraryViewer::BuildMemberFields() {
    lblHeader_[0]->setText(ResText(922));
    lblHeader_[2]->setText(ResText(917));
    lblHeader_[3]->setText(ResText(916));
    lblHeader_[6]->setText(ResText(908));
    txtMemberID_ = new QLineEdit;
    txtMemberID_->setAccessibleName(QStringLiteral("Member ID"));
    txtConstVal_ = new QLineEdit;
    txtConstVal_->setAccessibleName(QStringLiteral("Value"));
    txtDllName_ = new QLineEdit;
    txtDllName_->setAccessibleName(QStringLiteral("DLL name"));
    txtDllEntry_ = new QLineEdit;
    txtDllEntry_->setAccessibleName(QStringLiteral("DLL entry"));
    // Texts as long as a library's: nothing shown is cut short; a text too
    // long to record is refused with its reason.
    for (QLineEdit* field : {txtConstVal_, txtDllName_, txtDllEntry_})
        field->setMaxLength(std::numeric_limits<int>::max());
    cmbOptional_ = new QComboBox;
    cmbOptional_->setAccessibleName(QStringLiteral("Optional setting"));
    // The member ID as narrow as the version; texts as wide as the type.
    txtMemberID_->setFixedWidth(txtVersion_->maximumWidth());
    const int wide = txtSetType_->minimumWidth();
    for (QWidget* field : {static_cast<QWidget*>(txtConstVal_), static_cast<QWidget*>(txtDllName_),
                           static_cast<QWidget*>(txtDllEntry_)})
        field->setFixedWidth(wide);
    cmbOptional_->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(ResText(925)) * 5 / 4);
    cmbOptional_->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    optionalRow_ = FieldRow(lblHeader_[0], cmbOptional_);
    constValRow_ = FieldRow(lblHeader_[4], txtConstVal_);
    dllNameRow_ = FieldRow(lblHeader_[3], txtDllName_);
    dllEntryRow_ = FieldRow(lblHeader_[2], txtDllEntry_);
    memberIdRow_ = FieldRow(lblHeader_[6], txtMemberID_);
    // Below the type, in the order the panes show them; the attribute list follows.
    auto* layout = static_cast<QVBoxLayout*>(details_->layout());
    int at = 1;
    for (QWidget* row : {optionalRow_, constValRow_, dllNameRow_, dllEntryRow_, memberIdRow_}) {
        layout->insertWidget(at++, row);
        rows_.push_back(row);
    }
    // Why a text is refused, below its field.
    for (auto [row, field] : {std::pair{constValRow_, txtConstVal_}, std::pair{dllNameRow_, txtDllName_},
                              std::pair{dllEntryRow_, txtDllEntry_}, std::pair{memberIdRow_, txtMemberID_}})
        row->layout()->addWidget(dialogs::NewReasonLabel(field, true));

    // Every change of the text, however made; the view's own fills are skipped.
    connect(txtMemberID_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnMemberIdEdited(); }); });
    connect(txtConstVal_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnConstValEdited(); }); });
    connect(txtDllName_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnDllNameEdited(); }); });
    connect(txtDllEntry_, &QLineEdit::textChanged, this, [this] { dialogs::Guarded(this, [this] { OnDllEntryEdited(); }); });
    for (QLineEdit* field : {txtMemberID_, txtConstVal_, txtDllName_, txtDllEntry_})
        connect(field, &QLineEdit::returnPressed, this, [this] { dialogs::Guarded(this, [this] { OnFieldEnter(); }); });
    for (QLineEdit* field : {txtMemberID_, txtConstVal_, txtDllName_, txtDllEntry_, txtVersion_, txtLCID_})
        SelectAllOnKeyboardFocus(field);
    connect(cmbOptional_, &QComboBox::activated, this,
            [this](int index) { dialogs::Guarded(this, [&] { cmbOptional_Click(index); }); });
}

void LibraryViewer::ResetMemberFields() {
    // A parameter pane disables what its position can't change; other panes start afresh.
    for (int i : {0, 4, 5, 10}) lblHeader_[i]->setEnabled(true);
    for (QWidget* field : {static_cast<QWidget*>(txtSetType_), static_cast<QWidget*>(cmdSetType_),
                           static_cast<QWidget*>(txtConstVal_), static_cast<QWidget*>(cmbOptional_)})
        field->setEnabled(true);
}

QWidget* LibraryViewer::MemberPaneField(MemberField field) const {
    switch (field) {
    case MemberField::MemberId: return txtMemberID_;
    case MemberField::ConstValue: return txtConstVal_;
    case MemberField::DllName: return txtDllName_;
    case MemberField::DllEntry: return txtDllEntry_;
    case MemberField::Optional: return cmbOptional_;
    }
    return nullptr;
}

void LibraryViewer::SelectAllOnKeyboardFocus(QLineEdit* field) {
    new EventHook(field, [field](QEvent* event) {
        if (event->type() != QEvent::FocusIn) return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason)
            return false;
        // After the field's own handling, which may place the caret.
        field->event(event);
        if (!field->hasSelectedText() && field->cursorPosition() == 0 && !field->text().isEmpty()) field->selectAll();
        return true;
    });
}

// ---- Filling ----

bool LibraryViewer::FillMemberPane(QTreeWidgetItem* node, NodeRecord* record) {
    const int32_t kind = GetNodeKind(node);
    if (kind == kNodeMember) {
        auto* member = static_cast<MemberNodeRecord*>(record);
        if (!member->Type || !member->Type->Library->EditableLibrary) return false;
        FillMemberDetails(node, *member, false, NodeImage(node));
        return true;
    }
    if (kind != kNodeParam || !node->parent()) return false;
    NodeRecord* parent = nullptr;
    if (GetNodeKind(node->parent(), parent) != kNodeMember) return false;
    auto* member = static_cast<MemberNodeRecord*>(parent);
    if (!member->Type || !member->Type->Library->EditableLibrary) return false;
    FillParamDetails(node, *member, NodeImage(node));
    return true;
}

namespace {

// The member part of the edit kind of member.
int32_t MemberCode(const MemberNodeRecord& member) {
    const int32_t access = member.AccessBits;
    const bool function = (access & kAccessHasFuncDesc) != 0;
    int32_t sub = 0;
    int32_t high = 0;
    switch (member.Type->TypeKind) {
    case ole::TKIND_RECORD: sub = kSubField, high = 1; break;
    case ole::TKIND_UNION: sub = kSubField, high = 2; break;
    case ole::TKIND_ENUM: sub = kSubEnumValue; break;
    case ole::TKIND_MODULE: sub = function ? kSubModuleFunc : kSubModuleConst; break;
    case ole::TKIND_DISPATCH: sub = function ? kSubDispFunc : kSubDispProperty; break;
    default: sub = kSubInterfaceFunc; break;
    }
    if (function) high = access & 15;
    return kEditMember | (sub << 8) | (high << 12);
}

// The accessors among accessors of member whose functions have a parameter
// at position (from 0).
int32_t AccessorsWithParam(const MemberNodeRecord& member, int32_t accessors, int32_t position) {
    const TypeNodeRecord& type = *member.Type;
    const ole::ComPtr<ole::ITypeInfo> info = modITypeInfoHelper::GetInterfaceTypeInfo(
        type.Library->Library.get(), static_cast<ole::UINT>(type.TypeIndex));
    const ole::ComPtr<ole::ITypeInfo2> info2 = info.As<ole::ITypeInfo2>();
    if (!info2) return 0;
    int32_t holding = 0;
    for (int32_t bit : {kAccessFunc, kAccessGet, kAccessPut, kAccessPutRef}) {
        ole::UINT index = 0;
        if ((accessors & bit) == 0 ||
            ole::FAILED(info2->GetFuncIndexOfMemId(member.MemberId, static_cast<ole::INVOKEKIND>(bit), &index)))
            continue;
        const typelib_detail::FuncDescHolder func(info.get(), index);
        if (position < func->cParams) holding |= bit;
    }
    return holding;
}

// The edit kind of the pane of member's parameter at position: the member's,
// with the accessors that have no parameter there left out (they get no tab).
int32_t ParamCode(const MemberNodeRecord& member, int32_t position) {
    const int32_t code = MemberCode(member) | kEditParam;
    const int32_t accessors = (code >> 12) & 15;
    if ((member.AccessBits & kAccessHasFuncDesc) == 0 || accessors == 0) return code;
    const int32_t holding = AccessorsWithParam(member, accessors, position);
    return holding == 0 ? code : (code & ~0xF000) | (holding << 12);
}

}  // namespace

void LibraryViewer::FillMemberDetails(QTreeWidgetItem* node, MemberNodeRecord& member, bool force, int16_t image) {
    FillScope fill(fillDepth_);
    TypeNodeRecord& type = *member.Type;
    ole::ITypeLib* library = type.Library->Library.get();
    const int32_t code = MemberCode(member);
    const int32_t sub = SubKindOf(code);
    const bool function = (member.AccessBits & kAccessHasFuncDesc) != 0;
    paramOptionMask_ = 0;
    if (function) {
        const int32_t accessors = member.AccessBits & 15;
        if ((accessors & currentAccessor_) == 0) currentAccessor_ = LowestBit(accessors);
        try {
            paramOptionMask_ = modMarbrel::GetParamOptionMask(library, static_cast<ole::UINT>(type.TypeIndex),
                                                              member.MemberId,
                                                              static_cast<ole::INVOKEKIND>(currentAccessor_), -1);
        } catch (const ErrorRecord&) {
            paramOptionMask_ = 0;
        }
    }

    if (code != editKind_ || force) {
        ClearDetailsPane();
        int32_t typeCaption = 911;
        if (sub == kSubField) typeCaption = 913;
        if (sub == kSubModuleConst) typeCaption = 910;
        if (sub == kSubDispProperty) typeCaption = 912;
        lblHeader_[5]->setText(ResText(typeCaption));
        lblHeader_[4]->setText(ResText(915));
        lblHeader_[10]->setText(ResText(909));
        rows_[0]->setVisible(sub != kSubEnumValue);
        constValRow_->setVisible(sub == kSubEnumValue || sub == kSubModuleConst);
        dllNameRow_->setVisible(sub == kSubModuleFunc);
        dllEntryRow_->setVisible(sub == kSubModuleFunc);
        memberIdRow_->show();
        int32_t allowed = 0;
        if (sub == kSubEnumValue || sub == kSubModuleConst) allowed = 0x40;
        if (sub == kSubDispProperty) allowed = 0x1FFD;
        if (sub == kSubInterfaceFunc || sub == kSubDispFunc) allowed = 0x1F7F;
        if (sub == kSubModuleFunc) allowed = 0xC3;
        if (function) {
            if (currentAccessor_ == kAccessFunc) allowed &= 0xBC3;
            if (currentAccessor_ == kAccessGet) allowed &= 0xFF7;
            if (currentAccessor_ == kAccessPut || currentAccessor_ == kAccessPutRef) allowed &= 0x1FFD;
        }
        if (allowed != 0) {
            FillFlagList(function ? &modAttributeStrings::GetFuncFlagNames : &modAttributeStrings::GetVarFlagNames,
                         allowed);
            rows_[3]->show();
        }
        editKind_ = code;
        SetupDetailsTabs(image);
    } else if (function && !helpPaneActive_) {
        // The same tabs: the one of the accessor shown is selected.
        for (int i = 0; i < tsFrame_->count(); ++i) {
            const QVariant data = tsFrame_->tabData(i);
            if (data.typeId() == QMetaType::Int && data.toInt() == currentAccessor_) {
                tsFrame_->setCurrentIndex(i);
                detailsTab_ = static_cast<int16_t>(currentAccessor_);
            }
        }
    }

    ResetEditRecord();
    editTarget_ = TargetOfNode(node);
    if (function) editTarget_.InvokeKind = currentAccessor_;
    editTarget_.UnresolvedLibrary = unresolved_;
    editLibrary_ = type.Library->EditableLibrary;
    baselineChange_ = modMemberChange::NewMemberChange(false);
    baselineChange_->InitFromTarget(editTarget_);
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    ShowMemberValues(*baselineChange_);
    ApplyCommandFilter(function);
}

void LibraryViewer::FillParamDetails(QTreeWidgetItem* node, MemberNodeRecord& member, int16_t image) {
    FillScope fill(fillDepth_);
    TypeNodeRecord& type = *member.Type;
    ChangeTarget target = TargetOfNode(node);
    // The parameter of the accessor the pane shows, as for the member itself.
    const int32_t code = ParamCode(member, target.ParamIndex);
    const int32_t accessors = (code >> 12) & 15;
    if ((member.AccessBits & kAccessHasFuncDesc) != 0 && accessors != 0) {
        if ((accessors & currentAccessor_) == 0) currentAccessor_ = LowestBit(accessors);
        target.InvokeKind = currentAccessor_;
    }
    paramOptionMask_ = modMarbrel::GetParamOptionMask(type.Library->Library.get(),
                                                      static_cast<ole::UINT>(type.TypeIndex), member.MemberId,
                                                      static_cast<ole::INVOKEKIND>(target.InvokeKind),
                                                      target.ParamIndex);
    if ((editKind_ & 255) == (kEditMember | kEditParam)) {
        editKind_ = code;
        SetupDetailsTabs(image);
    } else {
        ClearDetailsPane();
        lblHeader_[5]->setText(ResText(918));
        lblHeader_[4]->setText(ResText(931));
        rows_[0]->show();
        optionalRow_->show();
        constValRow_->show();
        editKind_ = code;
        SetupDetailsTabs(image);
    }
    // The type, unless the host's filter keeps it as it is.
    rows_[0]->setEnabled(ParamFilterAllows(kFilterParamType));

    ResetEditRecord();
    target.SpecialParam = kParamNamed;
    if ((paramOptionMask_ & kOptRetval) != 0) target.SpecialParam = kParamReturnValue;
    if ((paramOptionMask_ & kOptRightHand) != 0) target.SpecialParam = kParamRightHandSide;
    if ((paramOptionMask_ & kOptLcid) != 0) target.SpecialParam = kParamLcid;
    target.UnresolvedLibrary = unresolved_;
    editTarget_ = target;
    editLibrary_ = type.Library->EditableLibrary;
    baselineChange_ = modParamChange::NewParamChange(false);
    baselineChange_->InitFromTarget(editTarget_);
    workingChange_ = std::dynamic_pointer_cast<IAttributeChange>(baselineChange_->Clone());
    ShowParamValues(*baselineChange_);
}

int LibraryViewer::AddMemberTabs(int16_t image, std::vector<PageTab>& tabs) {
    const int32_t code = editKind_ & ~kEditParam;
    const int32_t caption = MemberCaption(code);
    const int32_t sub = SubKindOf(code);
    const int32_t invoke = (sub >= kSubInterfaceFunc) ? (code >> 12) & 15 : 0;
    const size_t first = tabs.size();
    tabs.push_back({modImages::GetButtonFaceImageList().Icon(image), caption ? ResText(caption) : QString(),
                    LowestBit(invoke)});
    // A property's Let and Set accessors beyond the first get tabs of their
    // own, on the pane of a parameter too.
    if ((invoke & 1) == 0) {
        int32_t extra = 0;
        if ((invoke & kAccessGet) != 0)
            extra = invoke & (kAccessPut | kAccessPutRef);
        else if ((invoke & kAccessPut) != 0)
            extra = invoke & kAccessPutRef;
        if ((extra & kAccessPut) != 0) tabs.push_back({{}, ResText(988), kAccessPut});
        if ((extra & kAccessPutRef) != 0) tabs.push_back({{}, ResText(989), kAccessPutRef});
    } else {
        // The accessors sharing a method's name and ID follow its tab, each
        // named in full: the method's tab names no property.
        for (const int32_t bit : {kAccessGet, kAccessPut, kAccessPutRef})
            if ((invoke & bit) != 0) tabs.push_back({{}, ResText(MemberCaption((code & ~0xF000) | (bit << 12))), bit});
    }
    int selected = static_cast<int>(first);
    for (size_t i = first; i < tabs.size(); ++i)
        if (tabs[i].Data.toInt() == currentAccessor_) selected = static_cast<int>(i);
    return selected;
}

void LibraryViewer::OnDetailsTabChosen(int index) {
    if (index < 0 || (editKind_ & kEditMember) == 0) return;
    const QVariant data = tsFrame_->tabData(index);
    if (data.typeId() != QMetaType::Int) return;  // the help page's tab
    const int32_t accessor = data.toInt();
    if (accessor == 0 || accessor == currentAccessor_) return;
    ShowAccessor(accessor);
}

void LibraryViewer::ShowAccessor(int32_t accessor) {
    const dialogs::AccessibleChanges::Scope tell(told_);
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(shownNode_, record);
    if (kind == kNodeMember) {
        currentAccessor_ = accessor;
        FillMemberDetails(shownNode_, *static_cast<MemberNodeRecord*>(record), true, NodeImage(shownNode_));
    } else if (kind == kNodeParam && GetNodeKind(shownNode_->parent(), record) == kNodeMember) {
        currentAccessor_ = accessor;
        FillParamDetails(shownNode_, *static_cast<MemberNodeRecord*>(record), NodeImage(shownNode_));
    }
}

void LibraryViewer::SelectTab(int32_t code) {
    if ((editKind_ & kEditMember) == 0 ||
        (code != kAccessFunc && code != kAccessGet && code != kAccessPut && code != kAccessPutRef))
        return;
    bool offered = false;
    for (int i = 0; i < tsFrame_->count(); ++i) {
        const QVariant data = tsFrame_->tabData(i);
        offered = offered || (data.typeId() == QMetaType::Int && data.toInt() == code);
    }
    if (!offered) return;
    // The fill selects the accessor's tab, or keeps the help page shown.
    ShowAccessor(code);
}

void LibraryViewer::ShowTargetAccessor(const ChangeTarget& target, int32_t flags, ListenerTag tag) {
    if (tag != 0 || flags != 2 || target.InvokeKind == detailsTab_) return;
    SelectTab(target.InvokeKind);
}

// ---- Showing values ----

void LibraryViewer::ShowMemberPaneValues(IAttributeChange& change) {
    if ((editKind_ & kEditParam) != 0)
        ShowParamValues(change);
    else
        ShowMemberValues(change);
}

void LibraryViewer::ShowMemberValues(IAttributeChange& change) {
    FillScope fill(fillDepth_);
    const int32_t sub = SubKindOf(editKind_);
    if (rows_[3]->isVisibleTo(details_)) ShowFlagChecks(change.Flags());
    if (sub != kSubEnumValue) txtSetType_->setText(ToQString(modPrototype::GetTypeString(change.VarTypeInfo().get(), false)));
    ShowMemberID(change);
    if (sub == kSubEnumValue || sub == kSubModuleConst) ShowConstValue(change.Value(), false);
    if (sub == kSubModuleFunc) {
        txtDllEntry_->setText(ToQString(Fields::FormatDllEntry(change.Value())));
        txtDllName_->setText(ToQString(change.DllName()));
    }
}

void LibraryViewer::ShowMemberID(IAttributeChange& change) {
    FillScope fill(fillDepth_);
    txtMemberID_->setText(ToQString(
        Fields::FormatMemberId(change.MemberId(), (displayFormat_ & 8) != 0, (displayFormat_ & 32) != 0)));
}

void LibraryViewer::ShowConstValue(const ole::Variant& value, bool fromFormatMenu) {
    if (fromFormatMenu && !Fields::CanShowHex(value.vt())) return;
    FillScope fill(fillDepth_);
    txtConstVal_->setText(ToQString(Fields::FormatValue(value, (displayFormat_ & 1) != 0)));
}

bool LibraryViewer::ParamFilterAllows(int32_t bit) const {
    return !commandFilter_.Enabled() || (commandFilter_.ParamCommands & bit) != 0;
}

void LibraryViewer::ShowParamValues(IAttributeChange& change) {
    FillScope fill(fillDepth_);
    cmdSetType_->setEnabled(txtSetType_->isEnabled() && (paramOptionMask_ & kOptLcid) == 0);
    ShowDefaultValue(change);
    FillOptionalSettingList(change);
    txtSetType_->setText(ToQString(modAttributeStrings::ParamFlagsText(change.Flags()) +
                                   modPrototype::GetTypeString(change.VarTypeInfo().get(), false)));
}

void LibraryViewer::FillOptionalSettingList(IAttributeChange& change) {
    FillScope fill(fillDepth_);
    cmbOptional_->clear();
    const int32_t flags = change.Flags();
    const ole::ComPtr<CustomVarTypeInfo> type = change.VarTypeInfo();
    // Positions of one role have that one entry.
    int32_t only = 0;
    if ((paramOptionMask_ & kOptParamArray) != 0) only = 927;
    else if ((paramOptionMask_ & kOptLcid) != 0) only = 928;
    else if ((paramOptionMask_ & kOptRightHand) != 0) only = 930;
    else if ((flags & kParamRetval) != 0) only = 929;
    int selected = -1;
    if (only != 0) {
        cmbOptional_->addItem(ResText(only));
        selected = 0;
    } else {
        const bool typed = IsTypedType(type.get());
        const ole::VARTYPE vt = BaseTypeOf(type.get());
        const bool mayHaveDefault = typed && vt != ole::VT_LPSTR && vt != ole::VT_LPWSTR;
        const bool variant = type && !type->IsArray() && vt == ole::VT_VARIANT;
        if ((paramOptionMask_ & kOptRequired) != 0) {
            cmbOptional_->addItem(ResText(923), 1);
            if ((flags & (kParamOpt | kParamHasDefault)) == 0) selected = cmbOptional_->count() - 1;
        }
        if ((paramOptionMask_ & kOptTyped) != 0 && mayHaveDefault) {
            cmbOptional_->addItem(ResText(924), 4);
            if ((flags & kParamHasDefault) != 0) selected = cmbOptional_->count() - 1;
        }
        if ((paramOptionMask_ & kOptTyped) != 0 && typed) {
            cmbOptional_->addItem(ResText(925), kTypedNoDefault);
            if ((flags & ParamChange::kNullDefault) != 0) selected = cmbOptional_->count() - 1;
        }
        if ((paramOptionMask_ & kOptVariant) != 0 && variant) {
            cmbOptional_->addItem(ResText(926), 8);
            if ((flags & kParamOpt) != 0 && (flags & ParamChange::kNullDefault) == 0 && selected < 0)
                selected = cmbOptional_->count() - 1;
        }
    }
    cmbOptional_->setCurrentIndex(selected);
    const bool choice = cmbOptional_->count() > 1 && ParamFilterAllows(kFilterParamOptional);
    cmbOptional_->setEnabled(choice);
    lblHeader_[0]->setEnabled(choice);
}

void LibraryViewer::ShowDefaultValue(IAttributeChange& change) {
    FillScope fill(fillDepth_);
    txtConstVal_->clear();
    const ole::Variant value = change.Value();
    const bool enabled = (change.Flags() & kParamHasDefault) != 0 && value.vt() != ole::VT_NULL &&
                         ParamFilterAllows(kFilterParamDefault);
    txtConstVal_->setEnabled(enabled);
    lblHeader_[4]->setEnabled(enabled);
    if (enabled && value.vt() != ole::VT_EMPTY) ShowConstValue(value, false);
}

// ---- Field handlers ----

void LibraryViewer::OnMemberIdEdited() {
    if (fillDepth_ > 0 || !workingChange_ || (editKind_ & 255) != kEditMember) return;
    const auto id = Fields::ParseMemberId(FromQString(txtMemberID_->text()));
    if (id.Valid) workingChange_->MemberId(id.Value);
    MarkInvalid(kInvalidMemberId, !id.Valid,
                QStringLiteral("A whole number from -2147483648 to 2147483647, in decimal or in hexadecimal after "
                               "&H, or nothing for an ID the library assigns."));
    CheckDirty();
}

void LibraryViewer::OnConstValEdited() {
    if (fillDepth_ > 0 || !workingChange_ || (editKind_ & kEditMember) == 0) return;
    const std::u16string text = FromQString(txtConstVal_->text());
    const bool param = (editKind_ & kEditParam) != 0;
    const ole::VARTYPE declared =
        !param && SubKindOf(editKind_) == kSubEnumValue ? ole::VARTYPE{ole::VT_I4}
                                                        : BaseTypeOf(workingChange_->VarTypeInfo().get());
    // A Variant parameter's text is read as the type of the value it holds.
    const ole::VARTYPE held = param && baselineChange_ ? baselineChange_->Value().vt() : ole::VARTYPE{ole::VT_EMPTY};
    auto value = param ? Fields::ParseDefaultValue(text, declared, held) : Fields::ParseConstValue(text, declared);
    // A string the file or the history can't hold is refused as typed.
    const bool string = value.Valid && value.Value.vt() == ole::VT_BSTR;
    const std::u16string_view stored = string ? ole::BstrView(value.Value.get().bstrVal) : std::u16string_view();
    QString why;
    if (MarkUnstorable(txtConstVal_, string ? text : std::u16string_view(), &stored)) {
        value.Valid = false;
        why = txtConstVal_->toolTip();
    }
    if (value.Valid) workingChange_->Value(value.Value);
    if (why.isEmpty()) {
        const QString type = !param && SubKindOf(editKind_) == kSubEnumValue
                                 ? QStringLiteral("long")
                                 : ToQString(modPrototype::GetTypeString(workingChange_->VarTypeInfo().get(), false));
        why = ToQString(Fields::WhatValueOfType(FromQString(type), declared, param));
    }
    MarkInvalid(kInvalidConstVal, !value.Valid, why);
    CheckDirty();
}

void LibraryViewer::OnDllNameEdited() {
    if (fillDepth_ > 0 || !workingChange_ || (editKind_ & 255) != kEditMember) return;
    const std::u16string text = FromQString(txtDllName_->text());
    const bool storable = !MarkUnstorable(txtDllName_, text);
    const bool valid = storable && Fields::IsValidDllName(text);
    if (valid) workingChange_->DllName(text);
    MarkInvalid(kInvalidDllName, !valid,
                storable ? QStringLiteral("A DLL name, which may not be empty or begin or end with a blank.")
                         : txtDllName_->toolTip());
    CheckDirty();
}

void LibraryViewer::OnDllEntryEdited() {
    if (fillDepth_ > 0 || !workingChange_ || (editKind_ & 255) != kEditMember) return;
    const std::u16string text = FromQString(txtDllEntry_->text());
    auto entry = Fields::ParseDllEntry(text);
    QString why = QStringLiteral("An entry name without blanks, or # and an ordinal from 1 to 65535, such as #12.");
    if (MarkUnstorable(txtDllEntry_, text)) {
        entry.Valid = false;
        why = txtDllEntry_->toolTip();
    }
    if (entry.Valid) workingChange_->Value(entry.Value);
    MarkInvalid(kInvalidDllEntry, !entry.Valid, why);
    CheckDirty();
}

void LibraryViewer::cmbOptional_Click(int index) {
    if (fillDepth_ > 0 || !workingChange_ || index < 0 || (editKind_ & kEditParam) == 0) return;
    const int setting = cmbOptional_->itemData(index).toInt();
    const int32_t flags = workingChange_->Flags();
    const ole::Variant value = workingChange_->Value();
    const bool isNull = value.vt() == ole::VT_NULL;
    int32_t newFlags = flags;
    bool valueChanged = false;
    ole::Variant newValue;
    switch (setting) {
    case 1: newFlags &= ~(kParamOpt | kParamHasDefault); break;
    case 4:
        newFlags |= kParamOpt | kParamHasDefault;
        valueChanged = (flags & kParamHasDefault) == 0 && isNull;
        break;
    case 8:
        newFlags = (newFlags | kParamOpt) & ~kParamHasDefault;
        valueChanged = (flags & (kParamOpt | kParamHasDefault)) == kParamOpt && isNull;
        break;
    case kTypedNoDefault:
        // An object's default reads Null as well: the marker tells.
        newFlags = (newFlags | kParamOpt) & ~kParamHasDefault;
        newValue = ole::Variant::Null();
        valueChanged = (flags & ParamChange::kNullDefault) == 0;
        break;
    default: return;
    }
    if (newFlags == flags && !valueChanged) return;
    workingChange_->Flags(newFlags);
    if (valueChanged) workingChange_->Value(newValue);
    ShowDefaultValue(*workingChange_);
    if (txtConstVal_->isEnabled()) {
        OnConstValEdited();
    } else {
        // A default the host's filter withholds, with no value, is one set
        // to nothing, as its empty field would give.
        if (DefaultWithheld(*workingChange_) && workingChange_->Value().vt() == ole::VT_EMPTY)
            workingChange_->Value(ole::Variant());
        MarkInvalid(kInvalidConstVal, false);
        CheckDirty();
    }
}

// ---- Type choosers ----

dialogs::LibraryCollection LibraryViewer::ReferencedLibraries() const {
    dialogs::LibraryCollection referenced;
    if (referenced_)
        for (const auto& [key, library] : *referenced_) referenced.push_back(library);
    return referenced;
}

void LibraryViewer::KeepReferencedLibraries(const dialogs::LibraryCollection& libraries) {
    // The libraries the user referenced in the dialog stay referenced.
    if (!referenced_) return;
    referenced_->clear();
    for (const ole::ComPtr<ole::ITypeLib>& library : libraries) referenced_->try_emplace(library.get(), library);
}

bool LibraryViewer::PickMemberType() {
    const int32_t sub = SubKindOf(editKind_);
    int32_t constraint = typeConstraint_;
    int32_t usage = 4;
    switch (sub) {
    case kSubField: usage = 10; break;
    case kSubModuleConst: usage = 12; break;
    case kSubDispProperty:
        usage = 8;
        if (constraint < kConstraintImplementable) constraint |= 1;
        break;
    case kSubModuleFunc: usage = 2; break;
    case kSubDispFunc: usage = currentAccessor_ == kAccessFunc ? 6 : 4; break;
    case kSubEnumValue: return false;
    default: break;
    }
    // The field shows what the return value parameter points to: that is
    // what is picked, as the parameter's type.
    if (sub >= kSubInterfaceFunc && (paramOptionMask_ & kOptLastIsRetval) != 0) return PickRetvalType();
    const bool property = ShowsPropertyValue();
    if (property) {
        // What a dispinterface's Get returns is the property's value: it is
        // picked as a dispinterface property's type, which anything called
        // through IDispatch takes.
        usage = 8;
        if (constraint < kConstraintImplementable) constraint |= 1;
    } else if (sub >= kSubInterfaceFunc && ((editKind_ >> 12) & 14) != 0) {
        constraint = typeConstraint_ == kConstraintImplementable ? kConstraintImplementable
                                                                 : kConstraintCallableAutomation;
    }
    const ole::ComPtr<CustomVarTypeInfo> held = workingChange_->VarTypeInfo();
    dialogs::LibraryCollection referenced = ReferencedLibraries();
    const SpecifiedType picked =
        dialogs_->SpecifyType(this, usage, constraint, CurrentLibraryITypeLib().get(), referenced, held.get());
    KeepReferencedLibraries(referenced);
    if (!picked.Accepted || !picked.Type || picked.Type.get() == held.get()) return false;
    return TakeMemberType(picked.Type, held);
}

bool LibraryViewer::ShowsPropertyValue() const {
    // A dispinterface's Get without a return value parameter returns the value.
    return (editKind_ & kEditParam) == 0 && SubKindOf(editKind_) == kSubDispFunc &&
           currentAccessor_ == kAccessGet && (paramOptionMask_ & kOptLastIsRetval) == 0;
}

bool LibraryViewer::PickRetvalType() {
    const int32_t sub = SubKindOf(editKind_);
    ole::ITypeLib* library = editTarget_.Library.get();
    const int32_t last = LastParamIndex(library, editTarget_.TypeIndex, editTarget_.MemberId, editTarget_.InvokeKind);
    if (last < 0) return false;
    int32_t optionMask = 0;
    try {
        optionMask = modMarbrel::GetParamOptionMask(library, static_cast<ole::UINT>(editTarget_.TypeIndex),
                                                    editTarget_.MemberId,
                                                    static_cast<ole::INVOKEKIND>(editTarget_.InvokeKind), last);
    } catch (const ErrorRecord&) {
        optionMask = kOptRetval | kOptOutUsage;
    }
    // The usage and constraint of the parameter itself (as its own pane picks it).
    int32_t constraint = typeConstraint_;
    int32_t usage = sub == kSubModuleFunc ? 3 : 5;
    if (sub == kSubDispFunc) {
        usage = editTarget_.InvokeKind == kAccessFunc ? 7 : 5;
        if (constraint < kConstraintImplementable) constraint |= 1;
    }
    const ole::ComPtr<ole::ITypeLib> edited = CurrentLibraryITypeLib();
    const ole::ComPtr<CustomVarTypeInfo> held = workingChange_->VarTypeInfo();
    const ole::ComPtr<CustomVarTypeInfo> parameter =
        held ? CustomVarTypeInfo::CopyWithPointers(held.get(), edited.get(), 1) : held;
    int32_t flags = kParamOut | kParamRetval;
    dialogs::LibraryCollection referenced = ReferencedLibraries();
    const SpecifiedType picked = dialogs_->SpecifyParamType(this, usage, constraint, ParamUsageOf(optionMask),
                                                            edited.get(), referenced, parameter.get(), flags, false);
    KeepReferencedLibraries(referenced);
    if (!picked.Accepted || !picked.Type) return false;
    return TakeMemberType(CustomVarTypeInfo::CopyWithPointers(picked.Type.get(), edited.get(), -1), held);
}

bool LibraryViewer::TakeMemberType(ole::ComPtr<CustomVarTypeInfo> chosen, const ole::ComPtr<CustomVarTypeInfo>& held) {
    const int32_t sub = SubKindOf(editKind_);
    // The type the pane was filled with, described anew, is that type: no edit.
    const ole::ComPtr<CustomVarTypeInfo> filled = baselineChange_->VarTypeInfo();
    if (modMarbrel::VarTypeInfoEquals(chosen.get(), filled.get())) chosen = filled;
    const bool changed = !modMarbrel::VarTypeInfoEquals(chosen.get(), held.get());
    workingChange_->VarTypeInfo(chosen.get());
    {
        FillScope fill(fillDepth_);
        txtSetType_->setText(ToQString(modPrototype::GetTypeString(chosen.get(), false)));
    }
    if (sub == kSubModuleConst)
        OnConstValEdited();  // the value is read again as the new type
    else
        CheckDirty();
    return changed;
}

bool LibraryViewer::PickParamType() {
    const int32_t sub = SubKindOf(editKind_);
    int32_t constraint = typeConstraint_;
    int32_t usage = 5;
    if (sub == kSubModuleFunc) usage = 3;
    if (sub == kSubDispFunc) {
        usage = editTarget_.InvokeKind == kAccessFunc ? 7 : 5;
        if (constraint < kConstraintImplementable) constraint |= 1;
    }
    const int32_t paramUsage = ParamUsageOf(paramOptionMask_);
    int32_t flags = workingChange_->Flags();
    const bool optionalVariant = (flags & (ParamChange::kNullDefault | kParamOpt | kParamHasDefault)) == kParamOpt;
    const ole::ComPtr<CustomVarTypeInfo> held = workingChange_->VarTypeInfo();
    dialogs::LibraryCollection referenced = ReferencedLibraries();
    const SpecifiedType picked = dialogs_->SpecifyParamType(this, usage, constraint, paramUsage,
                                                            CurrentLibraryITypeLib().get(), referenced, held.get(),
                                                            flags, optionalVariant);
    KeepReferencedLibraries(referenced);
    if (!picked.Accepted || !picked.Type) return false;
    workingChange_->Flags(flags);
    if (picked.Type.get() != held.get()) {
        ole::ComPtr<CustomVarTypeInfo> chosen = picked.Type;
        const ole::ComPtr<CustomVarTypeInfo> filled = baselineChange_->VarTypeInfo();
        if (modMarbrel::VarTypeInfoEquals(chosen.get(), filled.get())) {
            chosen = filled;
        } else if ((workingChange_->Flags() & kParamHasDefault) != 0 &&
                   (BaseTypeOf(chosen.get()) == ole::VT_LPSTR || BaseTypeOf(chosen.get()) == ole::VT_LPWSTR)) {
            // A string pointer has no default value.
            workingChange_->Flags(workingChange_->Flags() & ~kParamHasDefault);
            workingChange_->Value(ole::Variant::Null());
        }
        workingChange_->VarTypeInfo(chosen.get());
    }
    ShowParamValues(*workingChange_);
    if (txtConstVal_->isEnabled())
        OnConstValEdited();  // the default value is read again as the new type
    else if (DefaultWithheld(*workingChange_))
        ReadWithheldDefault();
    else
        CheckDirty();
    return true;
}

bool LibraryViewer::DefaultWithheld(IAttributeChange& change) {
    return (change.Flags() & kParamHasDefault) != 0 && change.Value().vt() != ole::VT_NULL &&
           !ParamFilterAllows(kFilterParamDefault);
}

void LibraryViewer::ReadWithheldDefault() {
    // A default the host's filter keeps as it is is read again as the new
    // type, as the text of its field would be: a type that can't hold it
    // leaves nothing to update.
    const std::u16string text = Fields::FormatValue(workingChange_->Value(), false);
    const ole::VARTYPE held = baselineChange_ ? baselineChange_->Value().vt() : ole::VARTYPE{ole::VT_EMPTY};
    const auto value = Fields::ParseDefaultValue(text, BaseTypeOf(workingChange_->VarTypeInfo().get()), held);
    if (value.Valid) workingChange_->Value(value.Value);
    MarkInvalid(kInvalidConstVal, !value.Valid);
    CheckDirty();
}

// ---- Updates ----

void LibraryViewer::UpdateMemberPane() {
    if ((editKind_ & kEditParam) != 0)
        UpdateParam();
    else
        UpdateMember();
}

void LibraryViewer::UpdateMember() {
    // The fan-out refills the pane: the edit is held here.
    const std::shared_ptr<IAttributeChange> working = workingChange_;
    const std::shared_ptr<IAttributeChange> baseline = baselineChange_;
    ChangeTarget target = editTarget_;
    QTreeWidgetItem* node = shownNode_;
    // The type of a function whose last parameter is its return value is
    // that parameter's; a dispinterface's Get may return the value itself.
    // Either is the property's type, which the other accessors' value takes.
    const bool retval = (SubKindOf(editKind_) >= kSubInterfaceFunc && (paramOptionMask_ & kOptLastIsRetval) != 0) ||
                        ShowsPropertyValue();
    const bool dispatch = SubKindOf(editKind_) == kSubDispFunc;
    const int32_t newId = working->MemberId();
    if (newId != -1 && newId != baseline->MemberId()) {
        // Another member of the type holds that ID already.
        std::u16string holder;
        ole::ComPtr<ole::ITypeInfo> info;
        if (ole::SUCCEEDED(target.Library->GetTypeInfo(static_cast<ole::UINT>(target.TypeIndex), info.put())) && info) {
            ole::BSTR name = nullptr;
            if (ole::SUCCEEDED(info->GetDocumentation(newId, &name, nullptr, nullptr, nullptr)))
                holder = std::u16string(ole::BstrView(name));
            ole::SysFreeString(name);
        }
        if (!holder.empty()) {
            dialogs::Services().MessageBox(this, ToQString(modSupport::LoadResStringFormat(kMsgIdTaken, {holder})),
                                           dialogs::kStyleError);
            return;
        }
        if (memberIdConstraints_ && !MemberIDFitsConstraints(newId, target, *memberIdConstraints_)) {
            dialogs::Services().MessageBox(this, ResText(kMsgIdFormat), dialogs::kStyleError);
            return;
        }
    }
    try {
        ApplyOwnChange(*working, baseline.get(), target, 2);
        SetEditMode(false, true);
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        SetEditMode(false, true);
        // The library holds what it held before: the pane shows that again.
        dialogs::Guarded(this, [this] { RefillSelection(); });
        ReportUpdateFailed(error);
        return;
    }
    if (newId != -1) target.MemberId = newId;
    // The other accessors of a property may take the new type too.
    NodeRecord* record = nullptr;
    if ((working->ChangeMask() & kTypeBit) == 0 || GetNodeKind(node, record) != kNodeMember) return;
    const int32_t access = static_cast<MemberNodeRecord*>(record)->AccessBits;
    int32_t others = access & (kAccessGet | kAccessPut | kAccessPutRef) & ~target.InvokeKind;
    // The type a Get shows is the property's (what its return value
    // parameter points to, or what a dispinterface's Get returns), never the
    // status a Let or Set returns.
    if (!retval && (others & kAccessGet) != 0 &&
        (dispatch || modITypeInfoHelper::PropertyGetHasRetval(
                         target.Library.get(), static_cast<ole::UINT>(target.TypeIndex), target.MemberId)))
        others &= ~kAccessGet;
    if ((access & kAccessHasFuncDesc) == 0 || others == 0) return;
    try {
        if (!retval) {
            SyncAccessorTypes(working->VarTypeInfo().get(), target, others);
            return;
        }
        // As the return value parameter's own pane does: the other
        // accessors' value parameter follows, not their return type.
        auto* member = static_cast<MemberNodeRecord*>(record);
        ChangeTarget parameter = target;
        parameter.Kind = kTargetParam;
        const int32_t accessors = SyncAccessorParam(*working, parameter, others);
        if (accessors != 0 && GetNodeKind(shownNode_, record) == kNodeMember && record == member) {
            member->AccessBits = (member->AccessBits & ~(kAccessGet | kAccessPut | kAccessPutRef)) | accessors;
            FillScope fill(fillDepth_);
            editKind_ = MemberCode(*member);
            SetupDetailsTabs(NodeImage(shownNode_));
        }
    } catch (...) {
        // The member's own edit stands; the error is the accessors'.
        dialogs::Services().ReportCurrentError(this);
    }
}

void LibraryViewer::SyncAccessorTypes(CustomVarTypeInfo* type, const ChangeTarget& target, int32_t others) {
    const auto read = [&target](int32_t bit) {
        ChangeTarget accessor = target;
        accessor.InvokeKind = bit;
        const std::shared_ptr<IAttributeChange> change = modMemberChange::NewMemberChange(false);
        change->InitFromTarget(accessor);
        return std::make_pair(accessor, change);
    };
    // Only the accessors whose type differs are asked about.
    int32_t offered = 0;
    for (const int32_t bit : {kAccessFunc, kAccessGet, kAccessPut, kAccessPutRef})
        if ((others & bit) != 0 && !modMarbrel::VarTypeInfoEquals(type, read(bit).second->VarTypeInfo().get()))
            offered |= bit;
    if (offered == 0) return;
    const std::u16string text =
        modSupport::LoadResStringFormat(kMsgSyncReturnType, {modAttributeStrings::InvokeKindText(offered)});
    if (dialogs::Services().MessageBox(this, ToQString(text), dialogs::kStyleYesNo | dialogs::kStyleQuestion) !=
        dialogs::kAnswerYes)
        return;
    for (const int32_t bit : {kAccessFunc, kAccessGet, kAccessPut, kAccessPutRef}) {
        if ((offered & bit) == 0) continue;
        auto [accessor, change] = read(bit);
        const ChangePtr baseline = change->Clone();
        change->VarTypeInfo(type);
        ApplySkippingView(*change, baseline.get(), accessor, 0);
    }
}

void LibraryViewer::UpdateParam() {
    const std::shared_ptr<IAttributeChange> working = workingChange_;
    const std::shared_ptr<IAttributeChange> baseline = baselineChange_;
    ChangeTarget target = editTarget_;
    const int32_t optionMask = paramOptionMask_;
    QTreeWidgetItem* memberNode = shownNode_ ? shownNode_->parent() : nullptr;
    const bool typeChanged = (working->DiffMask(*baseline) & kTypeBit) != 0;
    try {
        ApplyOwnChange(*working, baseline.get(), target, 1);
        SetEditMode(false, true);
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        SetEditMode(false, true);
        dialogs::Guarded(this, [this] { RefillSelection(); });
        ReportUpdateFailed(error);
        return;
    }
    NodeRecord* record = nullptr;
    if (!typeChanged || (optionMask & (kOptRetval | kOptRightHand)) == 0 ||
        GetNodeKind(memberNode, record) != kNodeMember)
        return;
    auto* member = static_cast<MemberNodeRecord*>(record);
    const int32_t others = member->AccessBits & (kAccessGet | kAccessPut | kAccessPutRef) & ~target.InvokeKind;
    if ((member->AccessBits & kAccessHasFuncDesc) == 0 || others == 0) return;
    try {
        const int32_t accessors = SyncAccessorParam(*working, target, others);
        if (accessors != 0) {
            member->AccessBits = (member->AccessBits & ~(kAccessGet | kAccessPut | kAccessPutRef)) | accessors;
            FillScope fill(fillDepth_);
            if ((editKind_ & kEditParam) != 0) editKind_ = ParamCode(*member, target.ParamIndex);
            SetupDetailsTabs(NodeImage(shownNode_));
        }
    } catch (...) {
        // The parameter's own edit stands; the error is the other accessor's.
        dialogs::Services().ReportCurrentError(this);
    }
}

int32_t LibraryViewer::SyncAccessorParam(IAttributeChange& working, const ChangeTarget& target, int32_t others) {
    const int32_t current = target.InvokeKind;
    if (((current | others) & kAccessGet) == 0) return 0;
    const ole::ComPtr<CustomVarTypeInfo> type = working.VarTypeInfo();
    if (!type) return 0;
    // What the type is: an array, a record, an object (of a library, or intrinsic).
    const bool array = type->IsArray();
    ole::VARTYPE resolvedVt = 0;
    const int32_t kind = ResolvedKind(type.get(), resolvedVt);
    const bool record = kind == ole::TKIND_RECORD;
    const bool intrinsicObject =
        type->BaseVarType() == ole::VT_DISPATCH || type->BaseVarType() == ole::VT_UNKNOWN;
    const bool libraryObject = kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH ||
                               kind == ole::TKIND_COCLASS ||
                               (kind == ole::TKIND_ALIAS && (resolvedVt == ole::VT_DISPATCH || resolvedVt == ole::VT_UNKNOWN));
    const bool object = libraryObject || intrinsicObject;
    const bool fromGet = current == kAccessGet;

    // Which accessor takes it, and whether a Let and a Set trade places.
    int32_t accessor = kAccessGet;
    int32_t convertTo = 0;
    int32_t question = kMsgSyncValueType;
    if (fromGet) {
        const bool let = (others & kAccessPut) != 0;
        const bool set = (others & kAccessPutRef) != 0;
        if (let && !set && object) {
            accessor = kAccessPut;
            convertTo = kAccessPutRef;
            question = kMsgLetToSet;
        } else if (set && !let && !object && type->BaseVarType() != ole::VT_VARIANT) {
            accessor = kAccessPutRef;
            convertTo = kAccessPut;
            question = kMsgSetToLet;
        } else if (let && set) {
            accessor = object ? kAccessPutRef : kAccessPut;
        } else {
            accessor = let ? kAccessPut : kAccessPutRef;
        }
    }

    // The counterpart is the last parameter of the other accessor: its value
    // parameter, or the Get's return value. Nothing is offered that can't be made.
    ChangeTarget other = target;
    other.InvokeKind = accessor;
    other.SpecialParam = fromGet ? kParamRightHandSide : kParamReturnValue;
    {
        const ole::ComPtr<ole::ITypeInfo> info =
            modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<ole::UINT>(target.TypeIndex));
        const ole::ComPtr<ole::ITypeInfo2> info2 = info.As<ole::ITypeInfo2>();
        ole::UINT index = 0;
        if (!info2 || ole::FAILED(info2->GetFuncIndexOfMemId(target.MemberId, static_cast<ole::INVOKEKIND>(accessor), &index)))
            return 0;
        const typelib_detail::FuncDescHolder func(info.get(), index);
        const int32_t last = func->cParams - 1;
        const bool retval = modITypeInfoHelper::HasRetvalParam(*func);
        if (!fromGet && !retval) {
            // A dispinterface's Get returns the value itself: its return type
            // takes the value's type, without the pointer it is passed by.
            if (target.TypeKind != ole::TKIND_DISPATCH) return 0;
            const ole::ComPtr<CustomVarTypeInfo> returned = CustomVarTypeInfo::CopyAtLevel(
                type.get(), target.Library.get(), static_cast<int16_t>(!array && libraryObject ? 1 : 0));
            ChangeTarget getter = target;
            getter.Kind = kTargetMember;
            getter.ParamIndex = 0;
            getter.ParamName.clear();
            getter.SpecialParam = kParamNamed;
            SyncAccessorTypes(returned.get(), getter, kAccessGet);
            return 0;
        }
        if (last < 0) return 0;
        other.ParamIndex = static_cast<int16_t>(last);
        const std::vector<std::u16string> names =
            typelib_detail::ReadNames(info.get(), target.MemberId, static_cast<ole::UINT>(func->cParams + 1));
        other.ParamName = static_cast<size_t>(last) + 1 < names.size() ? names[static_cast<size_t>(last) + 1]
                                                                       : std::u16string();
    }

    // The counterpart's type and flags.
    int32_t flags = kParamIn;
    int16_t pointers = 0;
    if (fromGet) {
        if (record || array) {
            flags = kParamIn | kParamOut;
            pointers = 1;
        } else if (libraryObject) {
            pointers = 1;
        }
    } else {
        flags = kParamOut | kParamRetval;
        pointers = libraryObject ? 2 : 1;
    }
    const ole::ComPtr<CustomVarTypeInfo> counterpart =
        CustomVarTypeInfo::CopyAtLevel(type.get(), target.Library.get(), array ? int16_t{1} : pointers);
    const std::shared_ptr<IAttributeChange> change = modParamChange::NewParamChange(false);
    change->InitFromTarget(other);
    const std::shared_ptr<IAttributeChange> baseline = std::dynamic_pointer_cast<IAttributeChange>(change->Clone());
    const bool sameType = modMarbrel::VarTypeInfoEquals(counterpart.get(), baseline->VarTypeInfo().get());
    const int32_t newFlags = (baseline->Flags() & ~(kParamIn | kParamOut | kParamRetval)) | flags;
    // A counterpart that holds the type and flags already needs nothing.
    if (convertTo == 0 && sameType && newFlags == baseline->Flags()) return 0;

    const std::u16string text =
        modAttributeStrings::ParamFlagsText(flags) + modPrototype::GetTypeString(counterpart.get(), false);
    const std::u16string asked =
        convertTo != 0 ? modSupport::LoadResStringFormat(question, {text})
                       : modSupport::LoadResStringFormat(question, {modAttributeStrings::InvokeKindText(accessor), text});
    if (dialogs::Services().MessageBox(this, ToQString(asked), dialogs::kStyleYesNo | dialogs::kStyleQuestion) !=
        dialogs::kAnswerYes)
        return 0;
    if (!sameType) change->VarTypeInfo(counterpart.get());
    if (convertTo != 0) change->InvokeKind(convertTo);
    change->Flags(newFlags);
    ApplySkippingView(*change, baseline.get(), other, 0);
    if (convertTo == 0) return 0;
    return ((current | others) & ~accessor) | convertTo;
}

}  // namespace zephrin::editor

#include "editor/pickers/TypePicker.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs/AccessibleChanges.h"
#include "dialogs/InvalidMark.h"
#include "dialogs/ModalDialog.h"
#include "dialogs/UiServices.h"
#include "dialogs/frmReferences.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/TreeNodeRecords.h"
#include "foundation/ErrorRecord.h"
#include "platform/tlbinf/TliSupport.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modAttributeStrings.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modPrototype.h"

namespace zephrin::editor {

using namespace dialogs;
using ole::ComPtr;

namespace {

// What a node that is no library record stands for: an intrinsic type's
// table entry, the "Intrinsics" folder (0), "No base interface" (-1) or the
// group of disallowed types (-2).
constexpr int kRoleTag = Qt::UserRole + 7;
constexpr int kTagNoBase = -1;
constexpr int kTagDisallowed = -2;
constexpr int32_t kLibraryOnly = 15 << kLibWantedKindShift;  // no type is admitted

QTreeWidgetItem* NewTaggedNode(const QString& text, int tag, int16_t image) {
    auto* node = new TreeNode;
    node->setText(0, text);
    node->setData(0, kRoleTag, tag);
    SetNodeImage(node, image);
    return node;
}

int TagOf(QTreeWidgetItem* item) {
    const QVariant tag = item ? item->data(0, kRoleTag) : QVariant();
    return tag.isValid() ? tag.toInt() : 0;
}

ComPtr<ole::ITypeLib> ContainingLibrary(tli::VarTypeInfo* vti, ole::UINT& index) {
    ComPtr<tli::TypeInfo> type;
    if (!vti || vti->get_TypeInfo(type.put()) < 0 || !type) return {};
    ComPtr<ole::ITypeInfo> ti;
    CheckHr(type->get_ITypeInfo(ti.put()));
    ComPtr<ole::ITypeLib> lib;
    if (!ti || ti->GetContainingTypeLib(lib.put(), &index) < 0) return {};
    return lib;
}

QLabel* NewRowLabel(int32_t caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(ResText(caption), parent);
    label->setBuddy(buddy);
    NameFromCaption(buddy, label->text());
    return label;
}

void FillCombo(QComboBox* combo, QLabel* label, const std::vector<std::pair<QString, int32_t>>& entries,
               int32_t current) {
    combo->clear();
    for (const auto& [text, value] : entries) combo->addItem(text, value);
    const int index = combo->findData(current);
    combo->setCurrentIndex(index);
    combo->setEnabled(entries.size() >= 2 || index < 0);
    label->setEnabled(combo->isEnabled());
    const bool invalid = index < 0 && !entries.empty();
    MarkLabel(label, invalid);
    // Not by colour alone: the list itself says so, where a screen reader reads it.
    const QString why = QStringLiteral("The current choice is not offered here. Choose one from the list.");
    combo->setToolTip(invalid ? why : QString());
    SetDescriptionTold(combo, invalid ? QStringLiteral("Invalid value. ") + why : QString());
}

}  // namespace

void MarkLabel(QLabel* label, bool marked) { dialogs::MarkCaptionInvalid(label, marked); }

TypePicker::TypePicker(QWidget* parent) : QWidget(parent) {
    InitEditorModule();
    setObjectName(QStringLiteral("TypePicker"));
    tvTypes_ = new QTreeWidget(this);
    tvTypes_->setObjectName(QStringLiteral("tvTypes"));
    SetUpLibraryTree(tvTypes_);
    lblPrototype_ = new QLabel(this);
    lblPrototype_->setObjectName(QStringLiteral("lblPrototype"));
    lblPrototype_->setTextFormat(Qt::PlainText);
    lblPrototype_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblPrototype_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);

    cmbArray_ = new QComboBox(this);
    cmbArray_->setObjectName(QStringLiteral("cmbArray"));
    cmbPointer_ = new QComboBox(this);
    cmbPointer_->setObjectName(QStringLiteral("cmbPointer"));
    cmbParamFlags_ = new QComboBox(this);
    cmbParamFlags_->setObjectName(QStringLiteral("cmbParamFlags"));
    txtBounds_ = new QLineEdit(this);
    txtBounds_->setObjectName(QStringLiteral("txtBounds"));
    lblArray_ = NewRowLabel(600, cmbArray_, this);
    lblPointer_ = NewRowLabel(601, cmbPointer_, this);
    lblParamFlags_ = NewRowLabel(602, cmbParamFlags_, this);
    lblBounds_ = NewRowLabel(603, txtBounds_, this);

    // The labels share the width of the widest of them, in bold: a marked
    // label turns bold without moving the fields beside it.
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    int labelWidth = 0;
    for (QLabel* label : {lblArray_, lblPointer_, lblParamFlags_, lblBounds_})
        labelWidth = std::max(labelWidth, boldMetrics.boundingRect(QRect(), Qt::TextShowMnemonic, label->text()).width() +
                                              label->contentsMargins().left() + label->contentsMargins().right());
    for (QLabel* label : {lblArray_, lblPointer_, lblParamFlags_, lblBounds_}) label->setMinimumWidth(labelWidth);

    auto* rows = new QGridLayout;
    const std::pair<QLabel*, QWidget*> pairs[] = {
        {lblArray_, cmbArray_}, {lblPointer_, cmbPointer_}, {lblParamFlags_, cmbParamFlags_}, {lblBounds_, txtBounds_}};
    for (int i = 0; i < 4; ++i) {
        rows->addWidget(pairs[i].first, i, 0);
        rows->addWidget(pairs[i].second, i, 1);
    }
    rows->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tvTypes_, 1);
    layout->addWidget(lblPrototype_);
    layout->addLayout(rows);
    setFocusProxy(tvTypes_);

    connect(tvTypes_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        Guarded(this, [&] {
            if (HasPlaceholder(item)) FillLibrary(item);
        });
    });
    connect(tvTypes_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        Guarded(this, [&] { NodeClicked(item); });
    });
    connect(tvTypes_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->childCount() == 0 && !busy_ && Pickable(item)) emit LeafDblClick();
    });
    connect(cmbArray_, &QComboBox::activated, this, [this](int index) {
        Guarded(this, [&] {
            if (busy_ || index < 0) return;
            state_.SetArrayStyle(cmbArray_->itemData(index).toInt());
            RefreshChoices();
        });
    });
    connect(cmbPointer_, &QComboBox::activated, this, [this](int index) {
        Guarded(this, [&] {
            if (busy_ || index < 0) return;
            state_.SetPointerLevel(static_cast<int16_t>(cmbPointer_->itemData(index).toInt()));
            RefreshChoices();
        });
    });
    connect(cmbParamFlags_, &QComboBox::activated, this, [this](int index) {
        Guarded(this, [&] {
            if (busy_ || index < 0) return;
            state_.SetParamFlags(cmbParamFlags_->itemData(index).toInt());
            RefreshChoices();
        });
    });
    connect(txtBounds_, &QLineEdit::textEdited, this, [this](const QString& text) {
        Guarded(this, [&] {
            if (busy_) return;
            state_.SetBoundsText(FromQString(text));
            MarkBounds();
            RefreshPrototype();
        });
    });
}

QSize TypePicker::MinTrackSize() {
    const int labelWidth = std::max({lblArray_->sizeHint().width(), lblPointer_->sizeHint().width(),
                                     lblParamFlags_->sizeHint().width(), lblBounds_->sizeHint().width()});
    return {labelWidth * 2, (cmbArray_->sizeHint().height() + 4) * 6};
}

void TypePicker::InitSession(ole::ITypeLib* library, LibraryCollection& libraries, tli::VarTypeInfo* current,
                             int32_t paramFlags, bool variantOnly) {
    library_ = ComPtr<ole::ITypeLib>(library);
    libraries_ = &libraries;
    state_.StartSession(library, current, paramFlags, variantOnly);
    busy_ = true;
    tvTypes_->clear();
    unresolvedNode_ = nullptr;
    busy_ = false;
    if (state_.LibrarySession()) {
        FillLibrarySession(current);
    } else {
        FillTypeTree();
        SelectCurrent(current);
    }
    RefreshChoices();
}

void TypePicker::FillTypeTree() {
    const TypeUsageRule& rule = state_.Rule();
    const int32_t usage = state_.TypeUsage();
    busy_ = true;
    if (rule.IntrinsicMask != 0) {
        QTreeWidgetItem* folder = NewTaggedNode(ResText(611), 0, kImageIntrinsicAlias);
        for (int32_t entry : IntrinsicTypeTable()) {
            if (!rule.OffersIntrinsic(entry)) continue;
            const auto text = modPrototype::BaseTypeNameVB(IntrinsicVarType(entry), usage == kUsageAliasTarget);
            folder->addChild(NewTaggedNode(ToQString(text), entry, kImageIntrinsicAlias));
        }
        tvTypes_->addTopLevelItem(folder);
        folder->sortChildren(0, Qt::AscendingOrder);
    } else if (usage == kUsageBaseInterface) {
        if (state_.TypeCompatibility() != kCompatVBImplementable)
            tvTypes_->addTopLevelItem(NewTaggedNode(ResText(765), kTagNoBase, kImageInterface));
        AddBaseTypesNode(tvTypes_);
    }
    if (rule.ShowDisallowedGroup) {
        QTreeWidgetItem* group = NewTaggedNode(ResText(612), kTagDisallowed, kImageLibrary);
        group->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
        tvTypes_->addTopLevelItem(group);
    }
    if (!rule.NoLibraryTypes) {
        if (usage != kUsageImportType && library_) AddLibrary(library_.get());
        for (const auto& lib : *libraries_) AddLibrary(lib.get());
    }
    cmbParamFlags_->setVisible(rule.ParamFlagsOffered);
    lblParamFlags_->setVisible(rule.ParamFlagsOffered);
    cmbArray_->setVisible(rule.ArraysAllowed);
    lblArray_->setVisible(rule.ArraysAllowed);
    cmbPointer_->setVisible(rule.PointersAllowed);
    lblPointer_->setVisible(rule.PointersAllowed);
    txtBounds_->setVisible(rule.BoundsAllowed);
    lblBounds_->setVisible(rule.BoundsAllowed);
    busy_ = false;
}

QTreeWidgetItem* TypePicker::AddLibrary(ole::ITypeLib* library) {
    if (QTreeWidgetItem* node = LibraryNode(library)) return node;
    const int32_t filter = state_.LibrarySession() ? kLibraryOnly : state_.Rule().FilterWord;
    return AddLibraryNode(tvTypes_, library, nullptr, filter, !state_.LibrarySession());
}

QTreeWidgetItem* TypePicker::LibraryNode(ole::ITypeLib* library) const {
    for (int i = 0; i < tvTypes_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tvTypes_->topLevelItem(i);
        LibraryNodeRecord* record = LibraryRecordOf(node);
        if (record && !record->IsBaseTypes() && record->Library.get() == library) return node;
    }
    return nullptr;
}

void TypePicker::FillLibrary(QTreeWidgetItem* node) {
    if (!RemovePlaceholder(node)) return;
    try {
        FillLibraryNode(node, false);
    } catch (...) {
        if (node->childCount() == 0) AddPlaceholder(node);
        node->setExpanded(false);
        throw;
    }
}

void TypePicker::FillLibrarySession(tli::VarTypeInfo* current) {
    ole::UINT index = 0;
    const ComPtr<ole::ITypeLib> replaced =
        state_.TypeUsage() == kUsageRedirectLibrary ? ContainingLibrary(current, index) : ComPtr<ole::ITypeLib>();
    busy_ = true;
    for (QWidget* w : std::initializer_list<QWidget*>{cmbArray_, lblArray_, cmbPointer_, lblPointer_, cmbParamFlags_,
                                                      lblParamFlags_, txtBounds_, lblBounds_})
        w->setVisible(false);
    // The library being edited takes in no types of its own, and none of
    // its references lead into itself: it is not offered.
    for (const auto& lib : *libraries_)
        if (lib.get() != replaced.get() && !(library_ && typelib_detail::SameObject(lib.get(), library_.get())))
            AddLibrary(lib.get());
    busy_ = false;
    if (tvTypes_->topLevelItemCount() > 0) {
        tvTypes_->setCurrentItem(tvTypes_->topLevelItem(0));
        NodeClicked(tvTypes_->topLevelItem(0));
    }
}

void TypePicker::SelectCurrent(tli::VarTypeInfo* current) {
    if (!current) {
        busy_ = true;
        if (tvTypes_->topLevelItemCount() > 0) tvTypes_->setCurrentItem(tvTypes_->topLevelItem(0));
        busy_ = false;
        return;
    }
    QTreeWidgetItem* found = nullptr;
    ole::UINT index = 0;
    if (ComPtr<ole::ITypeLib> lib = ContainingLibrary(current, index)) {
        QTreeWidgetItem* libNode = state_.Rule().NoLibraryTypes ? nullptr : LibraryNode(lib.get());
        if (!libNode && !state_.Rule().NoLibraryTypes) {
            libNode = AddLibrary(lib.get());
            // The library of unresolved types is shown but never referenced,
            // and its types can't be picked again.
            if (libNode && modITypeInfoHelper::IsUnresolvedTypesLib(lib.get()))
                unresolvedNode_ = libNode;
            else if (libNode)
                libraries_->push_back(lib);
        }
        if (libNode) {
            FillLibrary(libNode);
            for (int i = 0; i < libNode->childCount() && !found; ++i) {
                NodeRecord* record = NodeTag(libNode->child(i));
                if (record && record->Kind() == kNodeType &&
                    static_cast<TypeNodeRecord*>(record)->TypeIndex == static_cast<int32_t>(index))
                    found = libNode->child(i);
            }
        }
    } else {
        ole::VARTYPE vt = 0;
        CheckHr(current->get_VarType(&vt));
        vt &= static_cast<ole::VARTYPE>(~tli::VTI_ARRAYMASK);
        QTreeWidgetItem* folder = tvTypes_->topLevelItemCount() > 0 ? tvTypes_->topLevelItem(0) : nullptr;
        for (int i = 0; folder && TagOf(folder) == 0 && i < folder->childCount() && !found; ++i)
            if (IntrinsicVarType(TagOf(folder->child(i))) == vt) found = folder->child(i);
    }
    busy_ = true;
    if (found) {
        tvTypes_->setCurrentItem(found);
        tvTypes_->scrollToItem(found);
    } else {
        tvTypes_->setCurrentItem(nullptr);
    }
    busy_ = false;
    if (!found) {
        state_.Mismatch(true);
        emit ConstraintTypeMismatchChanged(false);
    }
}

void TypePicker::NodeClicked(QTreeWidgetItem* item) {
    if (busy_ || !item) return;
    const bool wasMismatch = state_.Mismatch();
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(item, record);
    if (kind == kNodeLibrary) {
        if (!state_.LibrarySession()) return;
        if (!state_.PickLibrary(static_cast<LibraryNodeRecord*>(record)->Library.get())) return;
    } else if (kind == kNodeType) {
        if (unresolvedNode_ && item->parent() == unresolvedNode_) return;
        auto* type = static_cast<TypeNodeRecord*>(record);
        ComPtr<ole::ITypeInfo> ti;
        CheckHr(type->Library->Library->GetTypeInfo(static_cast<ole::UINT>(type->TypeIndex), ti.put()));
        ComPtr<tli::TypeInfo> info;
        CheckHr(tli::detail::NewTypeInfo(ti.get(), info.put()));
        state_.PickType(info.get());
    } else {
        const int tag = TagOf(item);
        if (tag == kTagDisallowed || tag == 0) return;
        if (tag == kTagNoBase)
            state_.PickNothing();
        else
            state_.PickIntrinsic(IntrinsicVarType(tag));
    }
    if (wasMismatch && !state_.Mismatch()) emit ConstraintTypeMismatchChanged(true);
    RefreshChoices();
}

bool TypePicker::Pickable(QTreeWidgetItem* item) const {
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(item, record);
    if (kind == kNodeLibrary) return state_.LibrarySession();
    if (kind == kNodeType) return !unresolvedNode_ || item->parent() != unresolvedNode_;
    const int tag = TagOf(item);
    return tag != kTagDisallowed && tag != 0;
}

void TypePicker::RefreshChoices() {
    busy_ = true;
    const TypeUsageRule& rule = state_.Rule();
    if (rule.ArraysAllowed && !state_.LibrarySession()) {
        std::vector<std::pair<QString, int32_t>> entries;
        for (int32_t style : state_.ArrayStyles()) {
            const int32_t text = style == kArrayNone ? 605 : style == kArraySafe ? 606 : style == kArraySafePtr ? 607 : 608;
            entries.emplace_back(ResText(text), style);
        }
        FillCombo(cmbArray_, lblArray_, entries, state_.ArrayStyle());
    }
    if (rule.PointersAllowed && !state_.LibrarySession()) {
        std::vector<std::pair<QString, int32_t>> entries;
        for (int16_t level : state_.PointerLevels()) entries.emplace_back(ResText(level == 0 ? 604 : 608 + level), level);
        FillCombo(cmbPointer_, lblPointer_, entries, state_.PointerLevel());
    }
    if (rule.ParamFlagsOffered) {
        std::vector<std::pair<QString, int32_t>> entries;
        // A parameter stored without direction flags is offered as it is.
        for (int32_t flags : state_.ParamFlagChoices())
            entries.emplace_back(flags == 0 ? QStringLiteral("(none)")
                                            : ToQString(modAttributeStrings::ParamFlagsText(flags)).trimmed(),
                                 flags);
        FillCombo(cmbParamFlags_, lblParamFlags_, entries, state_.ParamFlagChoice());
    }
    if (rule.BoundsAllowed) {
        txtBounds_->setEnabled(state_.BoundsLive());
        lblBounds_->setEnabled(state_.BoundsLive());
        if (txtBounds_->text() != ToQString(state_.BoundsText())) txtBounds_->setText(ToQString(state_.BoundsText()));
        MarkBounds();
    }
    busy_ = false;
    RefreshPrototype();
}

void TypePicker::RefreshPrototype() {
    const QString text = ToQString(state_.PrototypeText());
    lblPrototype_->setText(QStringLiteral(" ") + text);
    // A screen reader reads the type the dialog gives, not only what the line is.
    lblPrototype_->setAccessibleName(QStringLiteral("Prototype: ") + text);
}

void TypePicker::MarkBounds() {
    const bool invalid = !state_.BoundsValid();
    MarkLabel(lblBounds_, invalid);
    SetDescriptionTold(txtBounds_, invalid ? QStringLiteral("Invalid bounds. Pairs of a lower and an upper bound "
                                                            "joined by To and separated by commas, or an upper "
                                                            "bound alone: 0 To 3, 1 To 2.")
                                           : QString());
}

bool TypePicker::UpdateLibraries() {
    RefInfoList refs;
    if (!frmReferences::EditReferences(library_.get(), *libraries_, refs, false, window())) return false;
    bool changed = false;
    bool pickedGone = false;
    for (size_t i = 0; i < refs.Count(); ++i) {
        RefInfo* record = refs.At(i);
        if (record->IsCurrentLibrary() || record->WasReferenced() == record->Checked()) continue;
        ComPtr<ole::ITypeLib> lib;
        if (record->GetITypeLib(&lib) < 0 || !lib) continue;
        if (record->WasReferenced()) {
            auto found = std::find_if(libraries_->begin(), libraries_->end(),
                                      [&](const ComPtr<ole::ITypeLib>& l) { return l.get() == lib.get(); });
            if (found == libraries_->end()) continue;
            pickedGone = pickedGone || state_.PickedFrom(lib.get());
            libraries_->erase(found);
            busy_ = true;
            if (!state_.Rule().NoLibraryTypes) delete LibraryNode(lib.get());
            busy_ = false;
        } else {
            libraries_->push_back(lib);
            if (!state_.Rule().NoLibraryTypes) AddLibrary(lib.get());
        }
        changed = true;
    }
    if (pickedGone) {
        state_.PickNothing();
        busy_ = true;
        tvTypes_->setCurrentItem(nullptr);
        busy_ = false;
    }
    if (changed) RefreshChoices();
    return changed;
}

}  // namespace zephrin::editor

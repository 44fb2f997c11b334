#include "editor/view/LibraryViewer.h"

#include <QCursor>
#include <QAbstractItemDelegate>
#include <QApplication>
#include <QLineEdit>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "app/modCorvaneExe.h"
#include "changes/hub/ChangeListener.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/TypeChange.h"
#include "dialogs/ContrastStyle.h"
#include "dialogs/MenuKeys.h"
#include "dialogs/UiServices.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/EventHook.h"
#include "editor/tree/LibraryTree.h"
#include "editor/tree/SplitPane.h"
#include "editor/tree/TreeSort.h"
#include "editor/tree/TreeSync.h"
#include "editor/tree/modImages.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/tlbengine/TypeLibData.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::editor {

namespace {

constexpr int32_t kErrObjectNotSet = 91;
constexpr int32_t kMsgUnresolvedTypes = 941;
constexpr int32_t kMsgNotUnresolvedLibrary = 814;
constexpr int32_t kMsgEditPending = 175;
constexpr int32_t kMsgNotRenamed = 176;
constexpr int32_t kMsgEmptyName = 177;
constexpr int32_t kMsgNothingToPaste = 180;
constexpr int32_t kTypeDescriptionBit = 32;
constexpr int32_t kStrNewValue = 760;
constexpr int32_t kStrRetVal = 763;
constexpr double kSplitterShare = 0.45;  // the tree's share of the width at first

// Keeps a label editor open while its window is deactivated (another window
// activated, or the window closing), so that its text is not applied then.
class KeepEditorOnDeactivation final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut &&
            static_cast<QFocusEvent*>(event)->reason() == Qt::ActiveWindowFocusReason)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

// True when item is node or lies below it.
bool IsAtOrBelow(const QTreeWidgetItem* item, const QTreeWidgetItem* node) {
    for (; item; item = item->parent())
        if (item == node) return true;
    return false;
}

bool ChildrenBuilt(QTreeWidgetItem* node) { return node->childCount() > 0 && !HasPlaceholder(node); }

// The types of library whose functions the type at index shows as its own:
// the type itself, and for a dispinterface declared over an interface the
// types of the interface's chain that lie in the library.
std::vector<int32_t> FunctionSources(ole::ITypeLib* library, int32_t index) {
    std::vector<int32_t> sources{index};
    const ole::ComPtr<ole::ITypeInfo> info =
        modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(index));
    for (const ole::ComPtr<ole::ITypeInfo2>& link : modITypeInfoHelper::DispatchedChain(info.get())) {
        ole::ComPtr<ole::ITypeLib> holder;
        ole::UINT at = 0;
        if (ole::SUCCEEDED(link->GetContainingTypeLib(holder.put(), &at)) &&
            typelib_detail::SameObject(holder.get(), library))
            sources.push_back(static_cast<int32_t>(at));
    }
    return sources;
}

// The texts of the nodes from the top of the tree down to item.
QStringList PathTexts(QTreeWidgetItem* item) {
    QStringList path;
    for (; item; item = item->parent()) path.prepend(item->text(0));
    return path;
}

// The node at the first depth texts of path, building children on the way; null when gone.
QTreeWidgetItem* NodeAtPath(QTreeWidget* tree, const QStringList& path, qsizetype depth) {
    QTreeWidgetItem* node = nullptr;
    for (qsizetype i = 0; i < depth; ++i) {
        QTreeWidgetItem* found = nullptr;
        if (!node) {
            for (int k = 0; k < tree->topLevelItemCount() && !found; ++k)
                if (tree->topLevelItem(k)->text(0) == path[i]) found = tree->topLevelItem(k);
        } else {
            EnsureChildren(node);
            for (int k = 0; k < node->childCount() && !found; ++k)
                if (node->child(k)->text(0) == path[i]) found = node->child(k);
        }
        if (!found) return nullptr;
        node = found;
    }
    return node;
}

// The hub's mark for the next broadcast, cleared when the apply does not
// reach a broadcast (it throws or applies nothing), so that it can't reach
// the next, unrelated change.
class OriginMark {
public:
    explicit OriginMark(ChangeListener* hub) : hub_(hub) {}
    ~OriginMark() {
        if (hub_ && !applied_) hub_->ClearListenerMarks();
    }
    OriginMark(const OriginMark&) = delete;
    OriginMark& operator=(const OriginMark&) = delete;
    void Applied(bool applied) { applied_ = applied; }

private:
    ChangeListener* hub_;
    bool applied_ = false;
};

// What to tell the user when the reader left custom data items of library
// out (their value type can't be read); empty when it left nothing out.
QString UnreadItemsNotice(ole::ITypeLib* library) {
    std::vector<ole::UnreadCustData> unread;
    if (ole::FAILED(ole::GetUnreadCustData(library, &unread)) || unread.empty()) return {};
    constexpr size_t kListed = 10;
    QString text = QStringLiteral(
        "This type library holds custom data items whose value type cannot be read. They were left out, "
        "and saving the type library drops them:\n");
    for (size_t i = 0; i < unread.size() && i < kListed; ++i)
        text += QStringLiteral("\n%1 (value type %2)")
                    .arg(dialogs::ToQString(ole::GuidToString(unread[i].guid)))
                    .arg(static_cast<unsigned>(unread[i].vt));
    if (unread.size() > kListed) text += QStringLiteral("\n... and %1 more").arg(unread.size() - kListed);
    return text;
}

// Just below the start of item's text (past its icon), in global
// coordinates; the mouse position when the item is not in view.
QPoint BelowItemText(QTreeWidget* tree, QTreeWidgetItem* item) {
    const QRect cell = tree->visualItemRect(item);
    if (cell.isEmpty() || !tree->viewport()->rect().intersects(cell)) return QCursor::pos();
    QStyleOptionViewItem option;
    option.initFrom(tree->viewport());
    option.rect = cell;
    option.font = tree->font();
    option.fontMetrics = tree->fontMetrics();
    option.text = item->text(0);
    option.icon = item->icon(0);
    option.features = QStyleOptionViewItem::HasDisplay;
    if (!option.icon.isNull()) option.features |= QStyleOptionViewItem::HasDecoration;
    const int small = tree->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, tree);
    option.decorationSize = tree->iconSize().isValid() ? tree->iconSize() : QSize(small, small);
    option.decorationPosition = QStyleOptionViewItem::Left;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QRect text = tree->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, tree);
    return tree->viewport()->mapToGlobal(QPoint(text.left() + 2, text.bottom() + 2));
}

}  // namespace

LibraryViewer::LibraryViewer(QWidget* parent) : QWidget(parent) {
    InitEditorModule();
    setAccessibleName(QStringLiteral("Library editor"));

    tvTypes_ = new QTreeWidget;
    SetUpLibraryTree(tvTypes_);
    ConnectLazyFilling(tvTypes_, [this](const ErrorRecord& error) { dialogs::Services().ReportError(this, error); });
    connect(tvTypes_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { OnCurrentItemChanged(current); });
    connect(tvTypes_, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelectionChanged(); });
    tvTypes_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvTypes_->setExpandsOnDoubleClick(false);
    tvTypes_->installEventFilter(this);
    connect(tvTypes_, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* node) { dialogs::Guarded(this, [&] { OnCollapsed(node); }); });
    connect(tvTypes_, &QTreeWidget::itemDoubleClicked, this,
            [this] { dialogs::Guarded(this, [this] { OnDoubleClick(); }); });
    connect(tvTypes_, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item) { dialogs::Guarded(this, [&] { OnLabelEdited(item); }); });
    new EventHook(tvTypes_->viewport(), [this](QEvent* event) {
        if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        // A disabled tree (an edit is pending) still passes its events here.
        if (mouse->button() != Qt::RightButton || !tvTypes_->isEnabled()) return false;
        dialogs::Guarded(this, [&] {
            OnTreeRightButton(event->type(), mouse->position().toPoint(), mouse->globalPosition().toPoint());
        });
        return event->type() == QEvent::MouseButtonRelease;
    });
    connect(tvTypes_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this](QWidget* editor) {
        // A label edit that ended with no new text (Escape, or the name kept) is over all the same.
        if (editor != labelEditor_) return;
        labelEditor_ = nullptr;
        CancelLabelEdit();
    });

    tsFrame_ = new QTabBar;
    tsFrame_->setAccessibleName(QStringLiteral("Details pages"));
    tsFrame_->setExpanding(false);
    picDetails_ = new QScrollArea;
    picDetails_->setAccessibleName(QStringLiteral("Details"));
    picDetails_->setWidgetResizable(true);
    picDetails_->setFrameShape(QFrame::NoFrame);
    // Its fields take the focus, and it scrolls to them.
    picDetails_->setFocusPolicy(Qt::NoFocus);
    cmdUpdate_ = new QPushButton(dialogs::ResText(818));
    cmdCancel_ = new QPushButton(dialogs::ResText(819));
    cmdUpdate_->setAccessibleName(QStringLiteral("Update"));
    cmdCancel_->setAccessibleName(QStringLiteral("Cancel"));
    cmdUpdate_->setEnabled(false);
    cmdCancel_->setEnabled(false);

    auto* panes = new QWidget;
    told_.Watch(panes);
    auto* paneLayout = new QVBoxLayout(panes);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->addWidget(tsFrame_);
    paneLayout->addWidget(picDetails_, 1);
    auto* buttons = new QHBoxLayout;
    // Clear of the window's edges, as the style lays out a form.
    buttons->setContentsMargins(0, 0, style()->pixelMetric(QStyle::PM_LayoutRightMargin),
                                style()->pixelMetric(QStyle::PM_LayoutBottomMargin));
    buttons->addStretch(1);
    buttons->addWidget(cmdUpdate_);
    buttons->addWidget(cmdCancel_);
    paneLayout->addLayout(buttons);

    splitter_ = new SplitPane(tvTypes_, panes, kSplitterShare);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter_);
    BuildDetailsPane();
    BuildHelpPane();
    SetUpFormatMenus();
    // The splitter's handle (movable with the keyboard) comes between the
    // tree and the panes, as on the screen, not between the page tabs and
    // the first field.
    QWidget::setTabOrder(tvTypes_, splitter_->Handle());
    dialogs::UseContrastStyle(this);
    dialogs::OpenFieldMenusOnShiftF10();
    // A field that takes the focus however it came (Tab from outside the
    // pane, an access key, a click) is scrolled into sight.
    focusFollower_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now) return;
        for (QScrollArea* area : {picDetails_, picHelp_})
            if (area->widget() && area->widget()->isAncestorOf(now)) {
                // The whole field (ensureWidgetVisible shows a text field's cursor only).
                const QPoint at = now->mapTo(area->widget(), QPoint(0, 0));
                const int w = now->width() / 2, h = now->height() / 2;
                area->ensureVisible(at.x() + w, at.y() + h, w, h);
            }
    });
}

LibraryViewer::~LibraryViewer() {
    // Before the panes go: a field deleted with the focus moves it while the
    // view and its scroll areas are half destroyed.
    disconnect(focusFollower_);
    qDeleteAll(findChildren<QObject*>(QLatin1String(EventHook::kName)));
    // Leave the hub first: no notification may reach a view half gone.
    hook_.Attach(nullptr, nullptr);
    ++deferredGeneration_;
    deferredSort_ = nullptr;
    earlierSorts_.clear();
    ++selecting_;
    ClearLibraryTree(tvTypes_);
}

// ---- Properties ----

void LibraryViewer::SetChangeListener(std::shared_ptr<ChangeListener> hub) { hook_.Attach(std::move(hub), this); }

void LibraryViewer::TypeConstraint(int32_t code) {
    if (code < kConstraintNone || code > kConstraintImplementable) RaiseError(kErrInvalidArgument);
    typeConstraint_ = code;
}

void LibraryViewer::AddReferencedITypeLib(ole::ITypeLib* library) {
    if (!referenced_) RaiseError(kErrObjectNotSet);
    if (library) referenced_->try_emplace(library, ole::ComPtr<ole::ITypeLib>(library));
}

void LibraryViewer::RemoveReferencedITypeLib(ole::ITypeLib* library) {
    if (referenced_) referenced_->erase(library);
}

void LibraryViewer::AddReferencedLibrary(tli::TypeLibInfo* library) {
    if (!library) RaiseError(kErrObjectNotSet);
    ole::ComPtr<ole::ITypeLib> held;
    CheckHr(library->get_ITypeLib(held.put()));
    AddReferencedITypeLib(held.get());
}

void LibraryViewer::RemoveReferencedLibrary(tli::TypeLibInfo* library) {
    ole::ComPtr<ole::ITypeLib> held;
    if (library && ole::SUCCEEDED(library->get_ITypeLib(held.put()))) RemoveReferencedITypeLib(held.get());
}

// ---- The library ----

LibraryNodeRecord* LibraryViewer::CurrentLibraryRecord() const {
    for (int i = 0; i < tvTypes_->topLevelItemCount(); ++i) {
        NodeRecord* record = nullptr;
        if (GetNodeKind(tvTypes_->topLevelItem(i), record) == kNodeLibrary) {
            auto* library = static_cast<LibraryNodeRecord*>(record);
            if (library->EditableLibrary) return library;
        }
    }
    return nullptr;
}

std::shared_ptr<CustomTypeLib> LibraryViewer::CurrentCustomTypeLib() const {
    LibraryNodeRecord* record = CurrentLibraryRecord();
    return record ? record->EditableLibrary : nullptr;
}

ole::ComPtr<ole::ITypeLib> LibraryViewer::CurrentLibraryITypeLib() const {
    LibraryNodeRecord* record = CurrentLibraryRecord();
    return record ? record->Library : nullptr;
}

ole::ComPtr<ole::ITypeLib> LibraryViewer::CurrentITypeLib() {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) RaiseError(kErrObjectNotSet);
    return library->GenerateDirect(false);
}

void LibraryViewer::CurrentITypeLib(ole::ITypeLib* library) { AttachLibrary(library, true); }

ole::ComPtr<tli::TypeLibInfo> LibraryViewer::CurrentLibrary() {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) RaiseError(kErrObjectNotSet);
    return library->Generate(false);
}

void LibraryViewer::CurrentLibrary(tli::TypeLibInfo* info) {
    if (!info) {
        CurrentITypeLib(nullptr);
        return;
    }
    ole::ComPtr<ole::ITypeLib> library;
    CheckHr(info->get_ITypeLib(library.put()));
    CurrentITypeLib(library.get());
}

void LibraryViewer::AttachITypeLib(ole::ITypeLib* library) { AttachLibrary(library, false); }

void LibraryViewer::UnresolvedTypes(ole::ITypeLib* library) {
    if (library && !modITypeInfoHelper::IsUnresolvedTypesLib(library))
        RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(kMsgNotUnresolvedLibrary));
    unresolved_ = ole::ComPtr<ole::ITypeLib>(library);
}

ole::FileIdentity LibraryViewer::SaveCurrentLibrary(const std::u16string& path,
                                                   const std::optional<ole::FileIdentity>& expected) {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) RaiseError(kErrObjectNotSet);
    const ole::SaveGuard file(path, expected);
    modCorvaneExe::SaveEditedLibrary(library->GenerateDirect(false).get(), unresolved_.get(), path,
                                     noBackupHelpString_);
    unresolved_ = nullptr;  // the file proves that no placeholder is used any more
    return file.Saved();
}

void LibraryViewer::AttachLibrary(ole::ITypeLib* given, bool replace) {
    // Held first: the library may be the one the view shows, which clearing lets go.
    const ole::ComPtr<ole::ITypeLib> library(given);
    // The editable copy is made before the view lets go of what it shows: a
    // library that can't be opened leaves the view as it was.
    ole::ComPtr<ole::ITypeLib> shown = library, unresolved;
    if (library && replace) shown = modCorvaneExe::OpenLibraryForEditing(library.get(), noBackupHelpString_, unresolved);
    ClearView(library && !replace);
    if (!library) return;
    unresolved_ = std::move(unresolved);
    if (replace || !referenced_) referenced_ = std::make_unique<std::map<ole::ITypeLib*, ole::ComPtr<ole::ITypeLib>>>();

    const QString leftOut = UnreadItemsNotice(library.get());
    auto editable = std::make_shared<CustomTypeLib>();
    editable->Attach(shown.get());

    QTreeWidgetItem* root = nullptr;
    {
        ++selecting_;
        const auto done = [this] { --selecting_; };
        try {
            root = AddLibraryNode(tvTypes_, shown.get(), editable, 0, true);
            if (root) {
                root->setExpanded(true);
                tvTypes_->setCurrentItem(root);
            }
        } catch (...) {
            done();
            ClearView(false);
            throw;
        }
        done();
    }
    if (root) NodeClick(root);
    if (unresolved_) AnnounceUnresolved();
    if (!leftOut.isEmpty()) dialogs::Services().MessageBox(this, leftOut, dialogs::kStyleExclamation);
}

void LibraryViewer::ClearView(bool keepReferences) {
    CancelLabelEdit();
    ++selecting_;
    RemoveNode(nullptr);  // forgets a deferred re-sort
    ClearLibraryTree(tvTypes_);
    shownNode_ = nullptr;
    --selecting_;
    if (!keepReferences) referenced_.reset();
    ClearDetailsPane();
    ShowPageTabs({}, -1);
    ResetEditRecord();
    ShowHelpPage(false);
    SetEditMode(false, true);
    unresolved_ = nullptr;
}

void LibraryViewer::AnnounceUnresolved() {
    dialogs::Services().MessageBox(this, dialogs::ResText(kMsgUnresolvedTypes), dialogs::kStyleOkOnly);
}

void LibraryViewer::hideEvent(QHideEvent* event) {
    // A minimised window hides its children spontaneously: that leaves the view as it is.
    if (!event->spontaneous() && !isMinimized() && !window()->isMinimized()) ClearView(false);
    QWidget::hideEvent(event);
}

// ---- Selection ----

void LibraryViewer::SelectNode(QTreeWidgetItem* node) {
    // The tree would take an open label editor's text into its node on the
    // way, renaming nothing: the program's own move ends the edit unapplied.
    if (node != tvTypes_->currentItem()) CancelLabelEdit();
    ++selecting_;
    tvTypes_->setCurrentItem(node);
    --selecting_;
}

void LibraryViewer::OnCurrentItemChanged(QTreeWidgetItem* current) {
    if (selecting_ > 0) return;
    dialogs::Guarded(this, [&] { NodeClick(current); });
}

void LibraryViewer::OnSelectionChanged() {
    if (selecting_ > 0) return;
    QTreeWidgetItem* current = tvTypes_->currentItem();
    QTreeWidgetItem* chosen = nullptr;
    for (QTreeWidgetItem* item : tvTypes_->selectedItems())
        if (item != current && !chosen) chosen = item;
    if (chosen && !inEditMode_) {
        tvTypes_->setCurrentItem(chosen);  // the node click follows
        return;
    }
    // Nothing takes the selection from the current node (Ctrl+click, a
    // deselection by a screen reader), nor gives it to another during an edit.
    if (!current || (current->isSelected() && !chosen)) return;
    ++selecting_;
    tvTypes_->setCurrentItem(current);
    --selecting_;
}

void LibraryViewer::NodeClick(QTreeWidgetItem* node) {
    // Captions and tabs are reused from node to node: a reader hears the new ones.
    const dialogs::AccessibleChanges::Scope tell(told_);
    shownNode_ = node;
    NodeRecord* record = nullptr;
    switch (GetNodeKind(node, record)) {
    case kNodeLibrary:
        if (static_cast<LibraryNodeRecord*>(record)->EditableLibrary) {
            FillLibraryDetails(*static_cast<LibraryNodeRecord*>(record), NodeImage(node));
            return;
        }
        break;
    case kNodeType:
        if (static_cast<TypeNodeRecord*>(record)->Library->EditableLibrary) {
            FillTypeDetails(*static_cast<TypeNodeRecord*>(record), NodeImage(node));
            return;
        }
        break;
    case kNodeImplType:
        if (static_cast<ImpliedInterfaceNodeRecord*>(record)->Type->Library->EditableLibrary) {
            FillImpliedInterfaceDetails(*static_cast<ImpliedInterfaceNodeRecord*>(record), NodeImage(node));
            return;
        }
        break;
    case kNodeMember:
    case kNodeParam:
        if (FillMemberPane(node, record)) return;
        break;
    default:
        break;
    }
    ClearDetailsPane();
    ResetEditRecord();
    std::vector<PageTab> tabs;
    int selected = -1;
    if (node && record) {
        tabs.push_back({modImages::GetButtonFaceImageList().Icon(NodeImage(node)), node->text(0), {}});
        const int help = AddHelpTab(tabs);
        selected = help >= 0 && helpPaneActive_ ? help : 0;
    }
    ShowPageTabs(tabs, selected);
}

// ---- Tree interaction ----

ChangeTarget LibraryViewer::TargetOfNode(QTreeWidgetItem* node) const {
    ChangeTarget target;
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(node, record);
    TypeNodeRecord* type = nullptr;
    if (kind == kNodeLibrary) {
        target.Kind = kTargetLibrary;
        target.Library = static_cast<LibraryNodeRecord*>(record)->Library;
    } else if (kind == kNodeType) {
        type = static_cast<TypeNodeRecord*>(record);
    } else if (kind == kNodeImplType) {
        type = static_cast<ImpliedInterfaceNodeRecord*>(record)->Type;
    } else if (kind == kNodeMember) {
        type = static_cast<MemberNodeRecord*>(record)->Type;
    } else if (kind == kNodeParam) {
        // A parameter is its member's, at its position under the member's node.
        ChangeTarget target = TargetOfNode(node->parent());
        if (target.Kind != kTargetMember) RaiseError(kErrInvalidArgument);
        target.Kind = kTargetParam;
        target.ParamIndex = static_cast<int16_t>(node->parent()->indexOfChild(node));
        const auto* member = static_cast<MemberNodeRecord*>(NodeTag(node->parent()));
        const ole::ComPtr<ole::ITypeInfo> info = modITypeInfoHelper::GetInterfaceTypeInfo(
            target.Library.get(), static_cast<ole::UINT>(target.TypeIndex));
        bool found = false;
        const int32_t count = GetFuncParamNames(info.get(), member->MemberId, member->AccessBits, found, nullptr);
        const auto position = static_cast<size_t>(target.ParamIndex) + 1;
        if (!found || position >= static_cast<size_t>(count)) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        // The name as the library holds it ("" for none), never the node's text.
        const std::vector<std::u16string> stored =
            typelib_detail::ReadNames(info.get(), member->MemberId, static_cast<ole::UINT>(count));
        target.ParamName = position < stored.size() ? stored[position] : std::u16string();
        return target;
    }
    if (type) {
        target.Kind = kTargetType;
        target.Library = type->Library->Library;
        target.TypeIndex = type->TypeIndex;
        target.TypeKind = type->TypeKind;
        target.TypeName = modITypeInfoHelper::GetTypeInfoName(
            modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<ole::UINT>(type->TypeIndex)).get());
    }
    // Names are read from the library: a label being edited already shows the new one.
    if (kind == kNodeImplType) {
        target.Kind = kTargetImplType;
        target.MemberId = static_cast<ImpliedInterfaceNodeRecord*>(record)->Number - 1;
        target.MemberName = modITypeInfoHelper::GetImplTypeName(
            modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<ole::UINT>(type->TypeIndex)).get(),
            static_cast<ole::UINT>(target.MemberId));
    } else if (kind == kNodeMember) {
        auto* member = static_cast<MemberNodeRecord*>(record);
        target.Kind = kTargetMember;
        target.MemberId = member->MemberId;
        target.MemberName = modITypeInfoHelper::MemberNameFromID(
            modITypeInfoHelper::GetInterfaceTypeInfo(target.Library.get(), static_cast<ole::UINT>(type->TypeIndex)).get(),
            member->MemberId);
        const int32_t access = member->AccessBits;
        target.InvokeKind = 0;
        if ((access & kAccessHasFuncDesc) != 0)
            for (int32_t bit : {kAccessFunc, kAccessGet, kAccessPut, kAccessPutRef})
                if ((access & bit) != 0) {
                    target.InvokeKind = bit;
                    break;
                }
    }
    target.UnresolvedLibrary = unresolved_;
    return target;
}

bool LibraryViewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tvTypes_ && event->type() == QEvent::FocusIn) {
        // The tree taking the focus shows its selected node, when the pane
        // does not show it already (its node went while another was current).
        QTreeWidgetItem* current = tvTypes_->currentItem();
        if (current && current != shownNode_ && selecting_ == 0 && !inEditMode_)
            dialogs::Guarded(this, [&] { NodeClick(current); });
        return QWidget::eventFilter(watched, event);
    }
    if (watched != tvTypes_ || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    bool handled = true;
    if (key->key() == Qt::Key_F2 && modifiers == Qt::NoModifier && tvTypes_->currentItem()) {
        // F2 in an open label editor (passed on to the tree) keeps what was typed.
        if (!labelEditor_) dialogs::Guarded(this, [this] { StartLabelEdit(); });
    } else if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier &&
               !labelEditor_) {
        // The double-click's jump; the Return that ends a label edit (passed on by its editor) is not one.
        dialogs::Guarded(this, [this] { OnDoubleClick(); });
    } else if ((key->key() == Qt::Key_C || key->key() == Qt::Key_Insert) && modifiers == Qt::ControlModifier) {
        dialogs::Guarded(this, [this] { CopyMember(); });
    } else if ((key->key() == Qt::Key_V && modifiers == Qt::ControlModifier) ||
               (key->key() == Qt::Key_Insert && modifiers == Qt::ShiftModifier)) {
        dialogs::Guarded(this, [this] { PasteMember(); });
    } else if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
               (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        handled = false;
        dialogs::Guarded(this, [&] { handled = ContextMenuFromKeyboard(); });
    } else {
        handled = false;
    }
    return handled || QWidget::eventFilter(watched, event);
}

void LibraryViewer::OnTreeRightButton(QEvent::Type type, const QPoint& position, const QPoint& globalPos) {
    if (type == QEvent::MouseButtonPress) {
        // A right-click selects the node under the mouse first, as a left click does.
        QTreeWidgetItem* node = tvTypes_->itemAt(position);
        if (node && node != tvTypes_->currentItem()) tvTypes_->setCurrentItem(node);
        return;
    }
    if (QTreeWidgetItem* selected = tvTypes_->currentItem()) TreeMouseUp(selected, globalPos, false);
}

bool LibraryViewer::ContextMenuFromKeyboard() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    if (!node) return false;
    return TreeMouseUp(node, BelowItemText(tvTypes_, node), true);
}

void LibraryViewer::OnCollapsed(QTreeWidgetItem* node) {
    // Qt leaves the current item on a hidden row: the collapsed node takes it.
    // The program's own collapses (rebuilding or clearing nodes) are left alone.
    if (selecting_ > 0 || !IsAtOrBelow(tvTypes_->currentItem(), node) || tvTypes_->currentItem() == node) return;
    SelectNode(node);
    NodeClick(node);
}

void LibraryViewer::SelectTypeNode(QTreeWidgetItem* node, int32_t typeIndex) {
    while (node && node->parent()) node = node->parent();
    for (int i = 0; node && i < node->childCount(); ++i) {
        NodeRecord* record = nullptr;
        if (GetNodeKind(node->child(i), record) == kNodeType &&
            static_cast<TypeNodeRecord*>(record)->TypeIndex == typeIndex) {
            Show(node->child(i), true);
            return;
        }
    }
    dialogs::Services().Beep();
}

void LibraryViewer::OnDoubleClick() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    NodeRecord* record = nullptr;
    int32_t index = -1;
    switch (GetNodeKind(node, record)) {
    case kNodeType: index = static_cast<TypeNodeRecord*>(record)->RefTypeIndex; break;
    case kNodeImplType: index = static_cast<ImpliedInterfaceNodeRecord*>(record)->RefTypeIndex; break;
    default: return;
    }
    if (index >= 0) SelectTypeNode(node, index);
}

void LibraryViewer::StartLabelEdit() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    const int32_t kind = GetNodeKind(node);
    // An implemented interface shows another type's name.
    if (kind == kNodeNone || kind == kNodeImplType || !CurrentCustomTypeLib()) {
        dialogs::Services().Beep();
        return;
    }
    CancelLabelEdit();
    labelEditing_ = node;
    labelBefore_ = node->text(0);
    ++selecting_;
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    --selecting_;
    tvTypes_->editItem(node, 0);
    // The editor the tree opened: the one child of its viewport not hidden.
    for (QWidget* editor : tvTypes_->viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!editor->isHidden()) labelEditor_ = editor;
    if (labelEditor_) {
        labelEditor_->installEventFilter(new KeepEditorOnDeactivation(labelEditor_));
        labelEditor_->setAccessibleName(tr("Name"));
        // Framed as the panes' fields are (the delegate's style leaves item
        // view editors bare), and visibly so on a dark palette.
        dialogs::UseContrastStyle(labelEditor_);
        if (auto* line = qobject_cast<QLineEdit*>(labelEditor_.data())) line->setFrame(true);
    }
}

void LibraryViewer::CancelLabelEdit() {
    QTreeWidgetItem* item = labelEditing_;
    labelEditing_ = nullptr;
    // The tree closes the editor, without taking its text, as it does when the user presses Escape.
    if (QWidget* editor = labelEditor_.data())
        emit tvTypes_->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    labelEditor_ = nullptr;
    if (!item) return;
    ++selecting_;
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    --selecting_;
}

void LibraryViewer::TellEditPending(QWidget* owner) {
    dialogs::Services().MessageBox(owner, dialogs::ResText(kMsgEditPending), dialogs::kStyleExclamation);
}

void LibraryViewer::OnLabelEdited(QTreeWidgetItem* item) {
    if (item != labelEditing_ || selecting_ > 0) return;
    labelEditing_ = nullptr;
    labelEditor_ = nullptr;
    ++selecting_;
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    --selecting_;
    const QString text = item->text(0);
    if (text == labelBefore_) return;
    const auto restore = [&] {
        ++selecting_;
        item->setText(0, labelBefore_);
        --selecting_;
        dialogs::Services().Beep();
    };
    // The old name back, and why.
    const std::u16string before = dialogs::FromQString(labelBefore_);
    const auto refuse = [&](const std::u16string& why) {
        ++selecting_;
        item->setText(0, labelBefore_);
        --selecting_;
        // The label editor that had the focus is gone once the message
        // closes: the tree takes it back, for the user to go on from there.
        QWidget* focus = tvTypes_->window()->focusWidget();
        const bool inTree = focus && (focus == tvTypes_ || tvTypes_->isAncestorOf(focus));
        dialogs::Services().MessageBox(this, dialogs::ToQString(why), dialogs::kStyleError);
        if (inTree) tvTypes_->setFocus(Qt::OtherFocusReason);
    };
    // The model would take an empty name, which no file can hold and no history replays.
    if (text.trimmed().isEmpty()) {
        refuse(modSupport::LoadResStringFormat(kMsgEmptyName, {before}));
        return;
    }
    // A character the file can't hold is refused here, by name, rather than saved as "?".
    if (const std::u16string why = modStorableText::WhyUnstorable(dialogs::FromQString(text)); !why.empty()) {
        refuse(why);
        return;
    }
    try {
        ChangeTarget target = TargetOfNode(item);
        // An unnamed parameter of a role (a property's value, a return value,
        // an LCID) is named by its role on the accessor the pane shows it in:
        // the history's text names no empty name, and a replay finds the
        // parameter by its role.
        if (target.Kind == kTargetParam && target.ParamName.empty() && item == shownNode_ &&
            editTarget_.Kind == kTargetParam && editTarget_.SpecialParam != kParamNamed) {
            target.InvokeKind = editTarget_.InvokeKind;
            target.SpecialParam = editTarget_.SpecialParam;
        }
        std::shared_ptr<RenameChange> rename = modRenameChange::NewRenameChange(false);
        rename->InitFromTarget(target);
        ChangePtr baseline = rename->Clone();
        rename->NewName(dialogs::FromQString(text));
        if (!rename->Differs(*baseline)) return;
        // The edit may end because another node was chosen (a screen reader
        // selecting a row): the rename is applied from the edited node, and
        // the tree then marks the chosen node again, the one the panes show.
        QTreeWidgetItem* chosen = tvTypes_->currentItem();
        SelectNode(item);
        const bool applied = ApplyOwnChange(*rename, baseline.get(), target, 0);
        if (chosen && chosen != item) SelectNode(chosen);
        if (!applied) restore();
        if (applied && target.Kind == kTargetType && target.TypeKind == ole::TKIND_COCLASS &&
            commandFilter_.Enabled() && commandFilter_.PairCoclasses != 0) {
            // The class renamed stays so when its interfaces can't follow.
            try {
                RenameCoclassInterfaces(target.TypeIndex, static_cast<RenameChange&>(*baseline).NewName(),
                                        rename->NewName());
            } catch (...) {
            }
        }
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        // Another listener may fail after the library took the new name: the
        // node shows what the library holds, and the error is a plain one.
        std::optional<std::u16string> held;
        try {
            ChangeTarget now = TargetOfNode(item);
            std::shared_ptr<RenameChange> probe = modRenameChange::NewRenameChange(false);
            probe->InitFromTarget(now);
            held = probe->NewName();
        } catch (...) {
        }
        if (held && *held == dialogs::FromQString(text)) {
            dialogs::Services().ReportError(this, error);
        } else if (error.Description != StandardErrorDescription(error.Number)) {
            // A refusal that says why is shown as it is.
            ++selecting_;
            item->setText(0, labelBefore_);
            --selecting_;
            dialogs::Services().ReportError(this, error);
        } else {
            // A bare one (a name taken) is told with both names.
            refuse(modSupport::LoadResStringFormat(kMsgNotRenamed,
                                                   {before, dialogs::FromQString(text), ErrorReportText(error)}));
        }
    }
}

void LibraryViewer::CopyMember() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    if (GetNodeKind(node) != kNodeMember) {
        dialogs::Services().Beep();
        return;
    }
    copiedMember_ = node;
}

void LibraryViewer::PasteMember() {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    const int32_t kind = GetNodeKind(node);
    NodeRecord* record = nullptr;
    if (!copiedMember_ || GetNodeKind(copiedMember_, record) != kNodeMember ||
        (kind != kNodeType && kind != kNodeMember)) {
        dialogs::Services().MessageBox(this, dialogs::ResText(kMsgNothingToPaste), dialogs::kStyleExclamation);
        return;
    }
    auto* member = static_cast<MemberNodeRecord*>(record);
    ole::ComPtr<CustomVarTypeInfo> source = CustomVarTypeInfo::New();
    source->CurrentITypeLib(CurrentLibraryITypeLib().get());
    source->SetType(0, typelib_detail::TliTypeInfo(modITypeInfoHelper::GetInterfaceTypeInfo(
                                                       member->Type->Library->Library.get(),
                                                       static_cast<ole::UINT>(member->Type->TypeIndex))
                                                       .get())
                           .get());
    std::shared_ptr<CopyMemberChange> copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(source->GetVarTypeInfo().get());
    copy->SourceMemberId(member->MemberId);
    ChangeTarget target = TargetOfNode(node);
    // The listener selects the pasted member; a host's member-ID format gives it its ID.
    if (ApplyOwnChange(*copy, nullptr, target, 2)) ApplyNewMemberDefaults(false);
}

// ---- Applying the view's own changes ----

bool LibraryViewer::ApplyOwnChange(IChange& change, IChange* captured, ChangeTarget& target, int32_t level) {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) RaiseError(kErrObjectNotSet);
    ChangeListener* hub = hook_.Hub().get();
    QTreeWidgetItem* origin = tvTypes_->currentItem();
    OriginMark mark(hub);
    if (hub && origin) hub->TagListenerOnce(hook_.Node(), reinterpret_cast<ListenerTag>(origin));
    const bool applied = change.Apply(*library, captured, target, hub ? static_cast<IChangeListener*>(hub) : this,
                                      level);
    mark.Applied(applied);
    return applied;
}

bool LibraryViewer::ApplySkippingView(IChange& change, IChange* captured, ChangeTarget& target, int32_t level) {
    std::shared_ptr<CustomTypeLib> library = CurrentCustomTypeLib();
    if (!library) RaiseError(kErrObjectNotSet);
    ChangeListener* hub = hook_.Hub().get();
    OriginMark mark(hub);
    if (hub) hub->SkipListenerOnce(hook_.Node());
    const bool applied = change.Apply(*library, captured, target, hub, level);
    mark.Applied(applied);
    return applied;
}

// ---- Steps shared by the listener's operations ----

QTreeWidgetItem* LibraryViewer::Locate(ChangeTarget& target, int32_t level, ListenerTag tag) {
    if (tag != 0) return reinterpret_cast<QTreeWidgetItem*>(tag);
    return FindTargetNode(tvTypes_, target, level);
}

void LibraryViewer::SyncParamNodes(QTreeWidgetItem* memberNode) {
    SyncParamNodeCount(memberNode, [this, memberNode](QTreeWidgetItem* param) {
        // The current node going leaves its member current.
        if (tvTypes_->currentItem() == param) SelectNode(memberNode);
        RemoveNode(param);
    });
}

void LibraryViewer::Reattach(ChangeTarget& target) {
    if (!target.ReplacementLibrary) return;
    LibraryNodeRecord* record = CurrentLibraryRecord();
    if (!record) return;
    const ole::ComPtr<ole::ITypeLib> replaced = record->Library;
    record->Library = target.ReplacementLibrary;
    record->EditableLibrary->Attach(target.ReplacementLibrary.get());
    // The panes keep their targets from the fill to the next edit, and the
    // commands and dialogs take them from there: they name the library as
    // it is now, whether or not the change refills the panes.
    for (ChangeTarget* kept : {&editTarget_, &helpTarget_})
        if (kept->Library.get() == replaced.get()) kept->Library = record->Library;
}

void LibraryViewer::Show(QTreeWidgetItem* node, bool reveal) {
    SelectNode(node);
    if (reveal) tvTypes_->scrollToItem(node);
    NodeClick(node);
}

void LibraryViewer::RefillSelection() {
    if (QTreeWidgetItem* selected = tvTypes_->currentItem()) NodeClick(selected);
}

bool LibraryViewer::TakeUnresolved(ChangeTarget& target, ListenerTag tag) {
    if (target.UnresolvedLibrary.get() == unresolved_.get()) return false;
    const bool due = tag != 0 && !unresolved_;
    unresolved_ = target.UnresolvedLibrary;
    return due;
}

void LibraryViewer::RemoveNode(QTreeWidgetItem* node) {
    if (copiedMember_ && (!node || IsAtOrBelow(copiedMember_, node))) copiedMember_ = nullptr;
    if (labelEditing_ && (!node || IsAtOrBelow(labelEditing_, node))) {
        // The tree closes the editor of a row it removes.
        labelEditing_ = nullptr;
        labelEditor_ = nullptr;
    }
    if (deferredSort_ && (!node || IsAtOrBelow(deferredSort_, node))) {
        deferredSort_ = nullptr;
        ++deferredGeneration_;
    }
    std::erase_if(earlierSorts_, [node](QTreeWidgetItem* due) { return !node || IsAtOrBelow(due, node); });
    if (!node) return;
    if (IsAtOrBelow(shownNode_, node)) shownNode_ = nullptr;
    ++selecting_;
    delete node;
    --selecting_;
}

void LibraryViewer::DeferSort(QTreeWidgetItem* parent) {
    // Renames in a row (a history's run) may each make a re-sort due before
    // the first one runs: none is lost.
    std::erase(earlierSorts_, parent);
    if (deferredSort_ && deferredSort_ != parent) earlierSorts_.push_back(deferredSort_);
    deferredSort_ = parent;
    ++deferredGeneration_;
    StartDelayExecution();
}

void LibraryViewer::RunDeferredSort(uint64_t generation) {
    if (generation != deferredGeneration_) return;
    std::vector<QTreeWidgetItem*> nodes;
    nodes.swap(earlierSorts_);
    if (deferredSort_) nodes.push_back(deferredSort_);
    deferredSort_ = nullptr;
    ++selecting_;
    for (QTreeWidgetItem* node : nodes) SortNodeChildren(node);
    --selecting_;
    // The selected node may have moved far: it stays in sight.
    QTreeWidgetItem* current = tvTypes_->currentItem();
    for (QTreeWidgetItem* node : nodes)
        if (current && IsAtOrBelow(current, node)) {
            tvTypes_->scrollToItem(current);
            break;
        }
}

void LibraryViewer::RebuildTypeMemberNodes(QTreeWidgetItem* typeNode, bool addPlaceholder, bool checkMembers) {
    if (typeNode->childCount() == 0) {
        if (!addPlaceholder) return;
        if (checkMembers) {
            auto* type = static_cast<TypeNodeRecord*>(NodeTag(typeNode));
            ole::ComPtr<ole::ITypeInfo> info =
                modITypeInfoHelper::GetInterfaceTypeInfo(type->Library->Library.get(), type->TypeIndex);
            ole::TYPEATTR* attr = nullptr;
            CheckHr(info->GetTypeAttr(&attr));
            const bool hasMembers = attr->cFuncs + attr->cVars > 0;
            info->ReleaseTypeAttr(attr);
            if (!hasMembers) return;
        }
        AddPlaceholder(typeNode);
        return;
    }
    if (HasPlaceholder(typeNode)) return;
    const bool expanded = typeNode->isExpanded();
    // A copied member of the type stays copied: its node is found again by
    // its name, which the rebuild keeps (its ID may not).
    const bool copiedHere = copiedMember_ && copiedMember_->parent() == typeNode;
    const QString copiedName = copiedHere ? copiedMember_->text(0) : QString();
    // What RemoveNode forgets of a removed node, for all the children at once.
    const auto below = [typeNode](QTreeWidgetItem* item) { return item && item != typeNode && IsAtOrBelow(item, typeNode); };
    if (below(copiedMember_)) copiedMember_ = nullptr;
    if (below(labelEditing_)) {
        labelEditing_ = nullptr;
        labelEditor_ = nullptr;
    }
    if (below(shownNode_)) shownNode_ = nullptr;
    if (below(deferredSort_)) {
        deferredSort_ = nullptr;
        ++deferredGeneration_;
    }
    std::erase_if(earlierSorts_, below);
    ++selecting_;
    typeNode->setExpanded(false);
    ReleaseChildRecords(typeNode);
    // Taken in one removal: one at a time, each removal walks the tree's expanded rows.
    qDeleteAll(typeNode->takeChildren());
    --selecting_;
    FillTypeNode(typeNode, ole::MEMBERID_NIL);
    if (copiedHere)
        for (int i = 0; i < typeNode->childCount() && !copiedMember_; ++i)
            if (typeNode->child(i)->text(0) == copiedName && GetNodeKind(typeNode->child(i)) == kNodeMember)
                copiedMember_ = typeNode->child(i);
    if (expanded) typeNode->setExpanded(true);
}

void LibraryViewer::SyncSharedFunctionNodes(const ChangeTarget& target) {
    if (target.Kind < kTargetType || target.TypeIndex < 0 ||
        (target.TypeKind != ole::TKIND_INTERFACE && target.TypeKind != ole::TKIND_DISPATCH))
        return;
    LibraryNodeRecord* library = CurrentLibraryRecord();
    if (!library || !library->Node || !library->Library) return;
    ole::ITypeLib* lib = library->Library.get();
    const std::vector<int32_t> changed = FunctionSources(lib, target.TypeIndex);
    QTreeWidgetItem* root = library->Node;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* other = root->child(i);
        NodeRecord* record = nullptr;
        if (GetNodeKind(other, record) != kNodeType || !ChildrenBuilt(other)) continue;
        const auto* type = static_cast<TypeNodeRecord*>(record);
        if (type->TypeIndex == target.TypeIndex ||
            (type->TypeKind != ole::TKIND_INTERFACE && type->TypeKind != ole::TKIND_DISPATCH))
            continue;
        const std::vector<int32_t> shown = FunctionSources(lib, type->TypeIndex);
        if (std::none_of(shown.begin(), shown.end(), [&](int32_t index) {
                return std::find(changed.begin(), changed.end(), index) != changed.end();
            }))
            continue;
        // A member or parameter selected there goes with the nodes: its type takes the selection.
        QTreeWidgetItem* current = tvTypes_->currentItem();
        const bool below = current && current != other && IsAtOrBelow(current, other);
        if (below) SelectNode(other);
        RebuildTypeMemberNodes(other, false, false);
        if (below) RefillSelection();
    }
}

// ---- IChangeListener ----

void LibraryViewer::RefreshCurrentSelection(ListenerTag) { RefillSelection(); }

void LibraryViewer::SelectTarget(ChangeTarget& target, ListenerTag) {
    QTreeWidgetItem* node = FindTargetNode(tvTypes_, target, kFindBuild);
    if (!node) return;
    if (tvTypes_->currentItem() != node) Show(node);
    // A property's item shows the accessor the target names.
    if ((target.Kind == kTargetMember || target.Kind == kTargetParam) && target.InvokeKind != 1 &&
        target.InvokeKind != detailsTab_ && shownNode_ == node)
        SelectTab(target.InvokeKind);
}

void LibraryViewer::ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>&) {}

void LibraryViewer::OnLibraryChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag) {
    if (flags != 2) return;
    QTreeWidgetItem* node = FindTargetNode(tvTypes_, target, kFindBuild);
    if (!node) return;
    if (tvTypes_->currentItem() != node)
        Show(node);
    else
        NodeClick(node);
}

void LibraryViewer::OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    Reattach(target);
    if (!node) return;
    auto* attribute = dynamic_cast<IAttributeChange*>(&change);
    auto* type = static_cast<TypeNodeRecord*>(NodeTag(node));
    // A new base brings other functions to the dispinterfaces declared over the interface.
    if (attribute && (attribute->ChangeMask() & kTypeDescriptionBit) != 0) SyncSharedFunctionNodes(target);
    if (attribute && type && (attribute->ChangeMask() & kTypeDescriptionBit) != 0) {
        ole::ITypeLib* current = type->Library->Library.get();
        const TypeDescription d = DescribeType(current, type->TypeIndex);
        type->RefTypeIndex = d.RefTypeIndex;
        type->RefFlags &= ~kRefFlattenTested;
        if (d.IsAlias) {
            // An alias is listed as what it finally names, and so are aliases of it.
            type->TypeKind = d.TypeKind;
            UpdateAliasKinds(*type->Library);
            SetNodeImage(node, d.Image);
            if (tvTypes_->currentItem() == node && tsFrame_->count() > 0)
                tsFrame_->setTabIcon(0, modImages::GetButtonFaceImageList().Icon(d.Image));
        } else if (ChildrenBuilt(node)) {
            // The members' IDs follow the new base (automatic IDs count its depth).
            ole::ComPtr<ole::ITypeInfo> info = modITypeInfoHelper::GetInterfaceTypeInfo(current, type->TypeIndex);
            for (int i = 0; i < node->childCount(); ++i) {
                NodeRecord* child = nullptr;
                if (GetNodeKind(node->child(i), child) != kNodeMember) continue;
                static_cast<MemberNodeRecord*>(child)->MemberId = modITypeInfoHelper::MemberIDFromName(
                    info.get(), dialogs::FromQString(node->child(i)->text(0)));
            }
        }
    }
    const bool selected = tvTypes_->currentItem() == node;
    if (tag == 0 && !selected) {
        if (flags == 2) Show(node);
        if (flags == 1) RefillSelection();
        return;
    }
    if (tag != 0 || flags >= 1) NodeClick(node);
}

void LibraryViewer::OnImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    const bool selected = tvTypes_->currentItem() == node;
    int32_t level = flags;
    if (tag == 0 && selected && level == 1) level = 2;
    if (level == 2) {
        if (tag == 0 && !selected) SelectNode(node);
    } else if (level == 1 && node->parent() && tvTypes_->currentItem() &&
               node->parent() == tvTypes_->currentItem()->parent()) {
        RefillSelection();
    }
    if (auto* attribute = dynamic_cast<IAttributeChange*>(&change)) {
        const int32_t mask = attribute->ChangeMask();
        if ((mask & 16) != 0) {
            const int16_t image = (attribute->Flags() & ole::IMPLTYPEFLAG_FSOURCE) != 0 ? kImageSourceInterface
                                                                                        : kImageInterface;
            if (NodeImage(node) != image) SetNodeImage(node, image);
        }
        NodeRecord* record = nullptr;
        if ((mask & kTypeDescriptionBit) != 0 && GetNodeKind(node, record) == kNodeImplType) {
            auto* implemented = static_cast<ImpliedInterfaceNodeRecord*>(record);
            ole::ComPtr<ole::ITypeInfo> coclass = modITypeInfoHelper::GetInterfaceTypeInfo(
                implemented->Type->Library->Library.get(), static_cast<ole::UINT>(implemented->Type->TypeIndex));
            ole::HREFTYPE ref = 0;
            CheckHr(coclass->GetRefTypeOfImplType(static_cast<ole::UINT>(implemented->Number - 1), &ref));
            ole::ComPtr<ole::ITypeInfo> interface;
            CheckHr(coclass->GetRefTypeInfo(ref, interface.put()));
            node->setText(0, dialogs::ToQString(modITypeInfoHelper::GetTypeInfoName(interface.get())));
            // The node leads to the new interface when it is one of this library.
            ole::ComPtr<ole::ITypeLib> holder;
            ole::UINT index = 0;
            CheckHr(interface->GetContainingTypeLib(holder.put(), &index));
            implemented->RefTypeIndex = typelib_detail::SameObject(holder.get(), implemented->Type->Library->Library.get())
                                            ? static_cast<int32_t>(index)
                                            : kRefNone;
        }
    }
    if (level == 2) NodeClick(node);
}

void LibraryViewer::OnMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    auto* attribute = dynamic_cast<IAttributeChange*>(&change);
    // A return type set through a dispinterface declared over an interface
    // can add or remove the return value parameter of the interface's function.
    const int32_t shared = MemberChange::kMemberIdBit |
                           (target.TypeKind == ole::TKIND_DISPATCH ? MemberChange::kTypeBit : 0);
    if (attribute && (attribute->ChangeMask() & shared) != 0) SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = nullptr;
    if (tag == 0 && attribute && (attribute->ChangeMask() & MemberChange::kMemberIdBit) != 0) {
        // Nodes built now read the member's new ID; built ones still carry the old one.
        node = FindTargetNode(tvTypes_, target, kFindKeep);
        if (!node && flags == 2) {
            ChangeTarget renumbered = target;
            renumbered.MemberId = attribute->MemberId();
            node = FindTargetNode(tvTypes_, renumbered, kFindBuild);
        }
    } else {
        node = Locate(target, flags, tag);
    }
    if (!node) return;
    NodeRecord* record = nullptr;
    if (attribute && (attribute->ChangeMask() & MemberChange::kMemberIdBit) != 0 &&
        GetNodeKind(node, record) == kNodeMember)
        static_cast<MemberNodeRecord*>(record)->MemberId = attribute->MemberId();
    if (tag == 0) {
        if (tvTypes_->currentItem() == node || flags == 2) Show(node);
    } else {
        NodeClick(node);
    }
    ShowTargetAccessor(target, flags, tag);
}

void LibraryViewer::OnParamChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    // A parameter made the return value or the locale parameter, or no
    // longer one, is shown or not by a dispinterface declared over its interface.
    SyncSharedFunctionNodes(target);
    if (flags == 0) return;
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    // Such a dispinterface shows no return value or locale parameter last
    // (its member returns the value, or takes the locale unseen): the one
    // made so through it has no node now, and its member shows what it returns.
    if (QTreeWidgetItem* member = node->parent(); member && GetNodeKind(node) == kNodeParam) {
        const int position = member->indexOfChild(node);
        SyncParamNodes(member);
        if (position >= member->childCount()) {
            if (flags == 2 || tvTypes_->currentItem() == member) Show(member, flags == 2);
            return;
        }
    }
    if (tvTypes_->currentItem() != node) {
        if (flags == 2)
            SelectNode(node);
        else
            node = tvTypes_->currentItem();
    }
    NodeClick(node);
    ShowTargetAccessor(target, flags, tag);
}

void LibraryViewer::OnDeleteChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    if (target.Kind == kTargetMember || target.Kind == kTargetParam) SyncSharedFunctionNodes(target);
    int32_t level = flags;
    QTreeWidgetItem* node = nullptr;
    if (tag != 0) {
        node = reinterpret_cast<QTreeWidgetItem*>(tag);
    } else {
        node = FindTargetNode(tvTypes_, target, level == 2 ? kFindRefresh : level);
        if (!node) {
            Reattach(target);
            return;
        }
        if (IsAtOrBelow(tvTypes_->currentItem(), node)) level = 2;
    }
    Reattach(target);
    NodeRecord* record = nullptr;
    const int32_t kind = GetNodeKind(node, record);
    LibraryNodeRecord* library = CurrentLibraryRecord();
    if (kind == kNodeType) {
        ReleaseChildRecords(node);
        DeleteTypeRecord(*library, static_cast<TypeNodeRecord*>(record), true, kRefNone);
    } else if (kind == kNodeImplType) {
        DeleteImpliedInterfaceRecord(*library, static_cast<ImpliedInterfaceNodeRecord*>(record), true);
    } else if (kind == kNodeMember) {
        auto* member = static_cast<MemberNodeRecord*>(record);
        // A node may join a method and a property accessor that share a name
        // and an ID: either one going leaves the other on it.
        if (target.InvokeKind != 0) {
            const int32_t remaining = ~target.InvokeKind & member->AccessBits & 15;
            member->AccessBits = (member->AccessBits & ~15) | remaining;
            if (remaining != 0) {
                if ((target.InvokeKind & kAccessFunc) != 0) {
                    // The accessor's parameters take the method's places.
                    SetNodeImage(node, kImageProperty);
                    while (ChildrenBuilt(node) && node->childCount() > 0) {
                        QTreeWidgetItem* param = node->child(node->childCount() - 1);
                        if (tvTypes_->currentItem() == param) SelectNode(node);
                        RemoveNode(param);
                    }
                }
                // A dispinterface's Let or Set that went may have held a value beyond the rest's parameters.
                SyncParamNodes(node);
                if ((target.InvokeKind & kAccessGet) != 0 && ChildrenBuilt(node))
                    node->child(node->childCount() - 1)->setText(0, dialogs::ResText(kStrNewValue));
                // The property's node stays: its pane is refilled when it is the one shown or
                // the selection lies below it; otherwise the selection and the pane stay.
                QTreeWidgetItem* const current = tvTypes_->currentItem();
                if (current == node)
                    NodeClick(node);
                else if (IsAtOrBelow(current, node) || level == 2)
                    Show(node);
                return;
            }
        }
    }
    const bool selected = tvTypes_->currentItem() == node;
    if (!selected && level != 2) {
        RemoveNode(node);
        if (kind == kNodeType) RefillSelection();
        return;
    }
    QTreeWidgetItem* parent = node->parent();
    QTreeWidgetItem* next = nullptr;
    const int index = parent ? parent->indexOfChild(node) : tvTypes_->indexOfTopLevelItem(node);
    const auto sibling = [&](int i) -> QTreeWidgetItem* {
        if (i < 0) return nullptr;
        return parent ? (i < parent->childCount() ? parent->child(i) : nullptr)
                      : (i < tvTypes_->topLevelItemCount() ? tvTypes_->topLevelItem(i) : nullptr);
    };
    next = sibling(index - 1);
    if (!next) next = sibling(index + 1);
    if (!next) next = parent;
    RemoveNode(node);
    if (next) Show(next);
}

void LibraryViewer::OnRemoveParamArrayChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    if (flags == 0) return;
    QTreeWidgetItem* node = FindTargetNode(tvTypes_, target, flags);
    if (!node) return;
    if (flags == 2) {
        Show(node);
        ShowTargetAccessor(target, flags, tag);
    } else if (tvTypes_->currentItem() == node) {
        NodeClick(node);
    } else if (tvTypes_->currentItem() && node->parent() == tvTypes_->currentItem()->parent()) {
        RefillSelection();
    }
}

void LibraryViewer::OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    const std::u16string& name = static_cast<RenameChange&>(change).NewName();
    bool refill = false;
    bool resort = false;
    if (target.Kind == kTargetType) {
        if (target.TypeKind == ole::TKIND_INTERFACE || target.TypeKind == ole::TKIND_DISPATCH) {
            RenameTypeReferences(node, name);
            refill = true;
        }
        resort = true;
    } else if (target.Kind == kTargetMember && target.TypeKind != ole::TKIND_ENUM &&
               target.TypeKind != ole::TKIND_RECORD) {
        resort = true;
    }
    if (resort && node->parent()) DeferSort(node->parent());
    // A dispinterface declared over an interface shows that interface's
    // functions: a rename through one is a rename in the other, which the
    // tree shows too.
    if ((target.Kind == kTargetMember || target.Kind == kTargetParam) &&
        (target.TypeKind == ole::TKIND_INTERFACE || target.TypeKind == ole::TKIND_DISPATCH)) {
        QTreeWidgetItem* typeNode = target.Kind == kTargetMember ? node->parent() : node->parent() ? node->parent()->parent() : nullptr;
        QTreeWidgetItem* root = typeNode ? typeNode->parent() : nullptr;
        ++selecting_;
        for (int i = 0; root && i < root->childCount(); ++i) {
            QTreeWidgetItem* other = root->child(i);
            NodeRecord* record = nullptr;
            if (other == typeNode || GetNodeKind(other, record) != kNodeType) continue;
            const int32_t kind = static_cast<TypeNodeRecord*>(record)->TypeKind;
            if (kind == ole::TKIND_INTERFACE || kind == ole::TKIND_DISPATCH) RetitleMemberNodes(other);
        }
        --selecting_;
    }
    if (tag != 0) {
        // The label edit has set the text already. The pane shown for the
        // node names it as the library now does, for the edits it records.
        if (node == shownNode_) {
            try {
                const ChangeTarget now = TargetOfNode(node);
                if (editTarget_.Kind == now.Kind) {
                    editTarget_.TypeName = now.TypeName;
                    editTarget_.MemberName = now.MemberName;
                    editTarget_.ParamName = now.ParamName;
                }
            } catch (...) {
            }
        }
        return;
    }
    node->setText(0, dialogs::ToQString(name));
    if (flags == 2) {
        refill = true;
        SelectNode(node);
    }
    if (refill) RefillSelection();
}

void LibraryViewer::OnFlattenInterfaceChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    if (tag == 0 && IsAtOrBelow(tvTypes_->currentItem(), node)) SelectNode(node);
    RebuildTypeMemberNodes(node, true, true);
    if (auto* type = static_cast<TypeNodeRecord*>(NodeTag(node))) {
        // The base the members came from is no longer the interface's base.
        const TypeDescription d = DescribeType(type->Library->Library.get(), type->TypeIndex);
        type->RefTypeIndex = d.RefTypeIndex;
        type->RefFlags = (type->RefFlags & ~(kRefFlattenTested | kRefRoleMask)) |
                         (d.BaseReference ? kRefRoleBase : kRefRoleOther);
    }
    if (flags == 2) {
        if (tag == 0) {
            SelectNode(node);
            NodeClick(node);
        } else {
            NodeClick(node);
        }
    } else {
        RefillSelection();
    }
}

void LibraryViewer::ResetIDs(ChangeTarget& target, int32_t flags, ListenerTag tag) {
    SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    bool refill = false;
    // A member or parameter selected goes with the member nodes: the type takes the selection.
    if (tag == 0 && tvTypes_->currentItem() != node && IsAtOrBelow(tvTypes_->currentItem(), node)) {
        refill = true;
        SelectNode(node);
    }
    RebuildTypeMemberNodes(node, false, false);
    // A dispinterface whose first member no longer has the IUnknown ID lists no vtable.
    if (auto* type = static_cast<TypeNodeRecord*>(NodeTag(node))) {
        const int16_t image = DescribeType(type->Library->Library.get(), type->TypeIndex).Image;
        if (NodeImage(node) != image) SetNodeImage(node, image);
    }
    if (flags == 2) {
        if (tvTypes_->currentItem() != node || refill) Show(node);
    } else if (refill) {
        RefillSelection();
    }
}

void LibraryViewer::OnResetAutomaticIDsChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    ResetIDs(target, flags, tag);
}

void LibraryViewer::OnResetAllIDsChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    ResetIDs(target, flags, tag);
}

void LibraryViewer::OnReorderVTableChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag) {
    if (flags != 2) return;
    if (QTreeWidgetItem* node = FindTargetNode(tvTypes_, target, kFindBuild)) Show(node);
}

void LibraryViewer::OnReorderVarsChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    ResetIDs(target, flags, tag);
}

void LibraryViewer::OnAddTypeChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    while (node->parent()) node = node->parent();
    QTreeWidgetItem* added = AddTypeNodeForChange(target, node);
    ++selecting_;
    SortNodeChildren(node);
    --selecting_;
    if (flags == 2 && added) Show(added, true);
}

void LibraryViewer::OnAddImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    if (GetNodeKind(node) == kNodeImplType) node = node->parent();
    ole::ComPtr<tli::VarTypeInfo> implemented = dynamic_cast<AddImplTypeChange&>(change).VarTypeInfo();
    QTreeWidgetItem* added = AddImpliedInterfaceNodeForChange(target, implemented.get(), node);
    if (added && flags == 2) {
        node->setExpanded(true);
        Show(node->child(node->childCount() - 1), true);
    }
}

void LibraryViewer::OnInsertParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    QTreeWidgetItem* member = target.Kind == kTargetParam ? node->parent() : node;
    QTreeWidgetItem* added =
        InsertParamNodeForChange(target, static_cast<InsertParamChange&>(change).NewParamName(), member);
    // A dispinterface declared over an interface shows no return value or
    // locale parameter last (the function returns the value): such a one
    // inserted has no node, and the member shows what it returns now.
    const int built = member->childCount();
    SyncParamNodes(member);
    if (member->childCount() < built) {
        added = nullptr;
        if (flags == 2) Show(member, true);
        else if (tvTypes_->currentItem() == member) NodeClick(member);
    }
    if (flags == 2 && added) {
        member->setExpanded(true);
        Show(added, true);
        ShowTargetAccessor(target, flags, tag);
    }
}

void LibraryViewer::OnAddMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    auto& add = static_cast<AddMemberChange&>(change);
    if (add.InvokeKind() == 0) {
        QTreeWidgetItem* added = AddVariableNodeForChange(target, add.NewMemberName(), add.NewMemberId(), node);
        if (flags == 2 && added) {
            if (added->parent()) added->parent()->setExpanded(true);
            Show(added, true);
        }
    } else if (target.Kind == kTargetType) {
        QTreeWidgetItem* added =
            AddFunctionNodeForChange(node, add.NewMemberName(), add.NewMemberId(), add.InvokeKind());
        if (flags == 2 && added) {
            node->setExpanded(true);
            Show(added, true);
        }
    } else {
        auto* member = static_cast<MemberNodeRecord*>(NodeTag(node));
        if (member) member->AccessBits |= add.InvokeKind();
        SyncParamNodes(node);
        // A Get added beside a Let or Set returns the value in its last
        // parameter, or, on a dispinterface, may return it itself.
        if (add.InvokeKind() == kAccessGet && ChildrenBuilt(node) && node->childCount() > 0 &&
            modITypeInfoHelper::PropertyGetHasRetval(target.Library.get(), static_cast<ole::UINT>(target.TypeIndex),
                                                     target.MemberId))
            node->child(node->childCount() - 1)->setText(0, dialogs::ResText(kStrRetVal));
        // Shown interactively, the property shows the accessor added (the
        // first of them when several were).
        if (flags == 2) {
            const int32_t added = add.InvokeKind() & -add.InvokeKind();
            currentAccessor_ = added;
            detailsTab_ = static_cast<int16_t>(added);
        }
        if (flags >= 1 && tvTypes_->currentItem() == node)
            NodeClick(node);
        else if (flags == 2)
            Show(node);
    }
}

void LibraryViewer::OnInternalizeTypesChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    const ole::ComPtr<ole::ITypeLib> before = CurrentLibraryITypeLib();
    Reattach(target);
    LibraryNodeRecord* library = CurrentLibraryRecord();
    if (!node && library) node = library->Node;
    const bool announce = TakeUnresolved(target, tag);
    if (node && library) {
        QTreeWidgetItem* root = node;
        while (root->parent()) root = root->parent();
        RefreshExternalReferences(*library, false, true);
        const int32_t first = static_cast<int32_t>(target.Library->GetTypeInfoCount());
        const int32_t last = static_cast<int32_t>(library->Library->GetTypeInfoCount()) - 1;
        if (last >= first && !HasPlaceholder(root)) {
            AddNewTypeNodes(first, last, root, true);
            ++selecting_;
            SortNodeChildren(root);
            --selecting_;
        }
        // Level 1 refills what is selected: the panes never show an item the tree does not.
        if (flags == 2) Show(node);
        if (flags == 1) RefillSelection();
    }
    if (announce) AnnounceUnresolved();
}

void LibraryViewer::OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    // A redirection may re-point any reference of the library: the tree is
    // built again from the regenerated library, with what was expanded and
    // selected found again by the texts of its path where it is still there.
    QTreeWidgetItem* node = Locate(target, flags, tag);
    QTreeWidgetItem* const selected = tvTypes_->currentItem();
    const bool nodeSelected = node && node == selected;
    const bool selectedShown = selected && shownNode_ == selected;
    const QStringList nodePath = PathTexts(node);
    const QStringList selectedPath = PathTexts(selected);
    std::vector<QStringList> expanded;
    for (QTreeWidgetItemIterator it(tvTypes_); *it; ++it)
        if ((*it)->isExpanded()) expanded.push_back(PathTexts(*it));
    const uint32_t typesBefore = target.Library ? target.Library->GetTypeInfoCount() : 0;
    Reattach(target);
    const bool announce = TakeUnresolved(target, tag);
    LibraryNodeRecord* library = CurrentLibraryRecord();
    QTreeWidgetItem* root = nullptr;
    uint32_t typesAfter = 0;
    if (library) {
        ole::ComPtr<ole::ITypeLib> shown = library->Library;
        typesAfter = shown->GetTypeInfoCount();
        std::shared_ptr<CustomTypeLib> editable = library->EditableLibrary;
        const ole::ComPtr<ole::ITypeLib> unresolved = unresolved_;
        ++selecting_;
        RemoveNode(nullptr);
        shownNode_ = nullptr;
        ClearLibraryTree(tvTypes_);
        root = AddLibraryNode(tvTypes_, shown.get(), editable, 0, true);
        if (root) {
            root->setExpanded(true);
            for (const QStringList& path : expanded)
                if (QTreeWidgetItem* again = NodeAtPath(tvTypes_, path, path.size())) again->setExpanded(true);
            // The selection stays on its item, or on the nearest item above it that is still there.
            QTreeWidgetItem* again = nullptr;
            for (qsizetype depth = selectedPath.size(); depth > 0 && !again; --depth)
                again = NodeAtPath(tvTypes_, selectedPath, depth);
            if (selected) tvTypes_->setCurrentItem(again ? again : root);
            if (selectedShown) shownNode_ = tvTypes_->currentItem();
        }
        --selecting_;
        unresolved_ = unresolved;
    }
    if (root && node) {
        const auto& redirect = static_cast<RedirectTypesChange&>(change);
        if ((redirect.Flags() & (RedirectTypesChange::kReplaceDefinition | RedirectTypesChange::kSameLibrary)) == 0) {
            QTreeWidgetItem* again = NodeAtPath(tvTypes_, nodePath, nodePath.size());
            if (again && tag != 0) {
                NodeClick(again);
            } else if (again && !nodeSelected) {
                if (flags == 2) Show(again);
                if (flags == 1) RefillSelection();
            } else if (again && flags >= 1) {
                NodeClick(again);
            }
        } else {
            // The replaced type stays under a new definition, or went and its
            // references name the replacement, which is shown.
            int32_t index = target.TypeIndex;
            if (typesAfter != typesBefore && redirect.DestVarTypeInfo()) {
                ole::LONG dest = -1;
                CheckHr(redirect.DestVarTypeInfo()->get_TypeInfoNumber(&dest));
                index = dest - (target.TypeIndex < dest ? 1 : 0);
            }
            if (flags == 2) SelectTypeNode(root, index);
            if (flags == 1) RefillSelection();
        }
    }
    if (announce) AnnounceUnresolved();
}

void LibraryViewer::OnCopyMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) {
    SyncSharedFunctionNodes(target);
    QTreeWidgetItem* node = Locate(target, flags, tag);
    if (!node) return;
    auto& copy = static_cast<CopyMemberChange&>(change);
    QTreeWidgetItem* added = nullptr;
    QTreeWidgetItem* typeNode = nullptr;
    if (copy.InvokeKinds() == 0) {
        added = AddVariableNodeForChange(target, copy.NewMemberName(), copy.NewMemberId(), node);
        typeNode = added ? added->parent() : nullptr;
    } else {
        typeNode = target.Kind == kTargetMember ? node->parent() : node;
        added = AddFunctionNodeForChange(typeNode, copy.NewMemberName(), copy.NewMemberId(), copy.InvokeKinds());
    }
    if (flags == 2 && added && typeNode) {
        typeNode->setExpanded(true);
        Show(added, true);
    }
}

void LibraryViewer::OnHelpChange(ChangeTarget& target, IChange&, int32_t flags, ListenerTag tag) {
    QTreeWidgetItem* node = Locate(target, flags, tag);
    Reattach(target);
    if (tag != 0) return;
    if (flags == 1) RefillSelection();
    if (flags == 2 && node) Show(node);
}

void LibraryViewer::OnBeforeTypeChange(ChangeTarget&, IChange&, bool&, ListenerTag) {}

void LibraryViewer::OnReorderTypesChange(ChangeTarget& target, IChange& change, int32_t, ListenerTag tag) {
    if (!target.ReplacementLibrary) return;
    Reattach(target);
    if (LibraryNodeRecord* library = CurrentLibraryRecord())
        RemapTypeIndexes(*library, static_cast<ReorderTypesChange&>(change).NewOrder());
    if (tag == 0) RefillSelection();
}

void LibraryViewer::OnCustDataChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    LibraryNodeRecord* record = CurrentLibraryRecord();
    const bool replaced = record && target.ReplacementLibrary && target.ReplacementLibrary.get() != record->Library.get();
    Reattach(target);
    // Custom data shows nowhere in the tree or the panes, but the panes' edits
    // hold the types they show as types of the library they were filled from:
    // filled again from the library now, the same values, the next edit
    // writes no type of the library before.
    if (replaced && !inEditMode_ && shownNode_) RefillSelection();
}

}  // namespace zephrin::editor

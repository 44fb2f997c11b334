// The tree's context menu and the format menus of the member ID and value
// fields. The context menu shows the menu's plan for the selected node as it
// is; a chosen setting changes at once, any other item runs as a command of
// the view. Menus pop up without waiting: the view keeps the one open, and
// runs the item chosen in it only once the menu's own code has returned.
#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTreeWidget>
#include <QVariant>

#include <functional>
#include <utility>
#include <vector>

#include "changes/hub/IAttributeChange.h"
#include "dialogs/UiServices.h"
#include "editor/view/ContextMenuPlan.h"
#include "editor/view/DetailsPaneCodes.h"
#include "editor/tree/EventHook.h"
#include "editor/view/LibraryViewer.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin::editor {

namespace {

using dialogs::ResText;
using dialogs::ToQString;
using namespace details;

constexpr int32_t kFormatConstHex = 1;
constexpr int32_t kFormatPositiveIdHex = 8;
constexpr int32_t kFormatNegativeIdHex = 32;

// The entries as actions of menu; each action keeps its item, index and tag.
void AddEntries(QMenu* menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        if (entry.Caption.empty()) {
            menu->addSeparator();
            continue;
        }
        const QString caption = ToQString(entry.Caption);
        if (IsSubmenu(entry.Item)) {
            QMenu* submenu = menu->addMenu(caption);
            AddEntries(submenu, entry.Submenu);
            // A submenu the node leaves empty has nothing to open.
            submenu->menuAction()->setEnabled(!entry.Submenu.empty());
            continue;
        }
        QAction* action = menu->addAction(caption);
        action->setData(QVariantList{static_cast<int>(entry.Item), entry.Index, entry.Tag});
        if (entry.Checkable) {
            action->setCheckable(true);
            action->setChecked(entry.Checked);
        }
    }
}

bool IsSetting(MenuItem item) {
    return item == MenuItem::mnuConstrainPick || item == MenuItem::mnuHelpOptionsHelpFileSource ||
           item == MenuItem::mnuHelpOptionsBackup;
}

// The node's children wait to be built: its one child is the placeholder.
bool ChildrenBuilt(QTreeWidgetItem* node) {
    if (node->childCount() == 0) return true;
    const TreeNode* first = AsTreeNode(node->child(0));
    return !(first && first->Placeholder);
}

// type lies in another library than library.
bool OfAnotherLibrary(ole::ITypeInfo* type, ole::ITypeLib* library) {
    ole::ComPtr<ole::ITypeLib> holder;
    ole::UINT index = 0;
    return ole::FAILED(type->GetContainingTypeLib(holder.put(), &index)) ||
           !typelib_detail::SameObject(holder.get(), library);
}

// The member of memberNode is one that a dispinterface declared over an
// interface shows from a type of another library. Errors count as not.
bool OfAnotherLibrary(QTreeWidgetItem* memberNode) {
    NodeRecord* record = nullptr;
    if (!memberNode || GetNodeKind(memberNode, record) != kNodeMember) return false;
    const auto* member = static_cast<MemberNodeRecord*>(record);
    if (!member->Type || member->Type->TypeKind != ole::TKIND_DISPATCH || !member->Type->Library) return false;
    ole::ITypeLib* library = member->Type->Library->Library.get();
    if (!library) return false;
    try {
        const ole::ComPtr<ole::ITypeInfo2> declarer = modITypeInfoHelper::DispatchedDeclarer(
            modITypeInfoHelper::GetInterfaceTypeInfo(library, static_cast<ole::UINT>(member->Type->TypeIndex)).get(),
            member->MemberId, nullptr);
        return declarer && OfAnotherLibrary(declarer.get(), library);
    } catch (...) {
        return false;
    }
}

}  // namespace

// ---- The tree's context menu ----

bool LibraryViewer::TreeMouseUp(QTreeWidgetItem* node, const QPoint& globalPos, bool fromKeyboard) {
    (void)fromKeyboard;  // the caller placed a keyboard request under the node's text
    QMenu* menu = nullptr;
    try {
        if (!node || node != tvTypes_->currentItem()) return false;
        NodeRecord* record = nullptr;
        const int32_t kind = GetNodeKind(node, record);
        if (kind == kNodeNone) return false;
        const ContextMenuPlan plan = planContextMenu(ContextMenuStateOf(node, kind, record));
        if (kind == kNodeType) static_cast<TypeNodeRecord*>(record)->RefFlags = plan.RefFlags;
        if (plan.Entries.empty()) return false;
        menu = NewPopup([this](QAction* action) {
            const QVariantList chosen = action->data().toList();
            if (chosen.size() != 3) return;
            ChooseMenuItem(static_cast<MenuItem>(chosen[0].toInt()), chosen[1].toInt(), chosen[2].toInt());
        });
        menu->setAccessibleName(QStringLiteral("Commands"));
        AddEntries(menu, plan.Entries);
    } catch (...) {
        // Whatever went wrong while deciding, no menu is shown and nothing is said.
        if (menu) menu->deleteLater();
        return false;
    }
    menu->popup(globalPos);
    return true;
}

ContextMenuState LibraryViewer::ContextMenuStateOf(QTreeWidgetItem* node, int32_t kind, NodeRecord* record) const {
    ContextMenuState state;
    state.NodeKind = kind;
    state.ChildCount = node->childCount();
    state.ChildrenBuilt = ChildrenBuilt(node);
    switch (kind) {
        case kNodeType: {
            const auto* type = static_cast<TypeNodeRecord*>(record);
            state.TypeKind = type->TypeKind;
            state.RefTypeIndex = type->RefTypeIndex;
            state.RefFlags = type->RefFlags;
            ole::ComPtr<ole::ITypeLib> library = type->Library ? type->Library->Library : nullptr;
            const int32_t index = type->TypeIndex;
            state.BaseLookup = [library, index] {
                return FindBaseInterfaceKind(
                    modITypeInfoHelper::GetInterfaceTypeInfo(library.get(), static_cast<ole::UINT>(index)).get());
            };
            if (type->TypeKind == ole::TKIND_DISPATCH && library) {
                const std::vector<ole::ComPtr<ole::ITypeInfo2>> chain = modITypeInfoHelper::DispatchedChain(
                    modITypeInfoHelper::GetInterfaceTypeInfo(library.get(), static_cast<ole::UINT>(index)).get());
                state.DeclaredOverInterface = !chain.empty();
                state.OfAnotherLibrary = !chain.empty() && OfAnotherLibrary(chain.front().get(), library.get());
            }
            break;
        }
        case kNodeImplType:
            state.RefTypeIndex = static_cast<ImpliedInterfaceNodeRecord*>(record)->RefTypeIndex;
            if (workingChange_ && editKind_ == kEditImplType) state.WorkingChangeFlags = workingChange_->Flags();
            break;
        case kNodeMember: {
            const auto* member = static_cast<MemberNodeRecord*>(record);
            state.ParentTypeKind = member->Type ? member->Type->TypeKind : 0;
            state.AccessBits = member->AccessBits;
            state.ParamOptions = paramOptionMask_;
            state.OfAnotherLibrary = OfAnotherLibrary(node);
            break;
        }
        case kNodeParam:
            state.ParamOptions = paramOptionMask_;
            state.OfAnotherLibrary = OfAnotherLibrary(node->parent());
            break;
        default: break;
    }
    state.TypeConstraint = typeConstraint_;
    state.TypeConstraintFilter = typeConstraintFilter_;
    state.DisplayHelpOptions = DisplayHelpOptions();
    state.AddUsesLibraryHelpFiles = addUsesLibraryHelpFiles_;
    state.SaveBackupHelpString = SaveBackupHelpString();
    state.Filter = &commandFilter_;
    return state;
}

void LibraryViewer::ChooseMenuItem(MenuItem item, int32_t index, int32_t tag) {
    if (!IsSetting(item)) {
        ContextCommandChosen(item, index, tag);
        return;
    }
    switch (item) {
        case MenuItem::mnuConstrainPick: TypeConstraint(ConstraintOfItem(index)); break;
        case MenuItem::mnuHelpOptionsHelpFileSource: addUsesLibraryHelpFiles_ = index == 0; break;
        case MenuItem::mnuHelpOptionsBackup: noBackupHelpString_ = !noBackupHelpString_; break;
        default: break;
    }
}

void LibraryViewer::ContextCommandChosen(MenuItem item, int32_t index, int32_t tag) { RunMenuCommand(item, index, tag); }

// ---- Popups ----

QMenu* LibraryViewer::OpenPopup() const { return popup_ && popup_->isVisible() ? popup_.data() : nullptr; }

QMenu* LibraryViewer::NewPopup(std::function<void(QAction*)> chosen) {
    if (popup_) {
        popup_->hide();
        popup_->deleteLater();
    }
    auto* menu = new QMenu(this);
    // The view's palette and font, dark or light, as the view shows them.
    menu->setAttribute(Qt::WA_WindowPropagation);
    // The menu emits triggered for its submenus' actions too. The menu's code
    // is still running then, and a command may open a dialog whose event loop
    // runs deferred deletions: the command waits until that code has
    // returned, and the menu lives until the next one replaces it.
    connect(menu, &QMenu::triggered, this, [this, chosen = std::move(chosen)](QAction* action) {
        QMetaObject::invokeMethod(
            this,
            [this, chosen, picked = QPointer<QAction>(action)] {
                if (picked) dialogs::Guarded(this, [&] { chosen(picked.data()); });
            },
            Qt::QueuedConnection);
    });
    popup_ = menu;
    return menu;
}

// ---- The format menus ----

void LibraryViewer::SetUpFormatMenus() {
    for (QLineEdit* field : {txtMemberID_, txtConstVal_}) {
        field->setContextMenuPolicy(Qt::DefaultContextMenu);
        new EventHook(field, [this, field](QEvent* event) { return FormatMenuEvent(field, event); });
    }
}

// The field's format menu opens for a right-click at the mouse and for the
// Menu key or Shift+F10 just below the field; either request is consumed.
bool LibraryViewer::FormatMenuEvent(QLineEdit* field, QEvent* event) {
    const QPoint below = field->mapToGlobal(QPoint(0, field->height()));
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (!(key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) &&
            !(key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
            return false;
        dialogs::Guarded(this, [&] { ShowFormatMenu(field, below); });
        return true;
    }
    if (event->type() != QEvent::ContextMenu) return false;
    auto* request = static_cast<QContextMenuEvent*>(event);
    if (request->reason() == QContextMenuEvent::Mouse) {
        dialogs::Guarded(this, [&] { ShowFormatMenu(field, request->globalPos()); });
    } else if (!OpenPopup()) {
        // The window system's own request for a key the field already answered finds the menu open.
        dialogs::Guarded(this, [&] { ShowFormatMenu(field, below); });
    }
    return true;
}

void LibraryViewer::ShowFormatMenu(QLineEdit* field, const QPoint& globalPos) {
    const bool memberId = field == txtMemberID_;
    QMenu* menu = NewPopup([this](QAction* action) {
        const QVariantList choice = action->data().toList();
        if (choice.size() == 2) SetDisplayFormat(choice[0].toInt(), choice[1].toBool());
    });
    menu->setAccessibleName(QStringLiteral("Format"));
    QMenu* format = menu->addMenu(ResText(894));
    // A text that does not parse has no value to show in another format.
    format->menuAction()->setEnabled((invalidFields_ & (memberId ? kInvalidMemberId : kInvalidConstVal)) == 0);
    const auto addChoices = [this](QMenu* choices, int32_t bit) {
        for (const bool hexadecimal : {false, true}) {
            QAction* action = choices->addAction(ResText(hexadecimal ? 896 : 895));
            action->setCheckable(true);
            action->setChecked(((displayFormat_ & bit) != 0) == hexadecimal);
            action->setData(QVariantList{bit, hexadecimal});
        }
    };
    if (memberId) {
        addChoices(format->addMenu(ResText(897)), kFormatPositiveIdHex);
        addChoices(format->addMenu(ResText(898)), kFormatNegativeIdHex);
    } else {
        addChoices(format, kFormatConstHex);
    }
    menu->popup(globalPos);
}

void LibraryViewer::SetDisplayFormat(int32_t bit, bool hexadecimal) {
    const int32_t format = hexadecimal ? (displayFormat_ | bit) : (displayFormat_ & ~bit);
    if (format == displayFormat_) return;
    displayFormat_ = format;
    if (!workingChange_) return;
    if (bit == kFormatConstHex)
        ShowConstValue(workingChange_->Value(), true);
    else
        ShowMemberID(*workingChange_);
}

}  // namespace zephrin::editor

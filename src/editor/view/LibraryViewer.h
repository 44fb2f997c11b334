// The library editor view: one type library as a tree, beside a tab strip
// over the details and help panes with Update and Cancel. It edits its own
// regenerated copy of the library the host hands it and writes that copy out
// on request. Every applied change reaches it as a listener of the hub
// (whoever applied the change), and it keeps its tree, node records,
// selection and panes in step with the library as the change left it.
#pragma once

#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "changes/hub/ChangeListenerHook.h"
#include "changes/hub/IChangeListener.h"
#include "changes/hub/IAttributeChange.h"
#include "dialogs/AccessibleChanges.h"
#include "editor/view/CommandFilterRecord.h"
#include "editor/view/ContextMenuPlan.h"
#include "editor/pickers/IExternalTypesView.h"
#include "editor/view/MemberIDConstraints.h"
#include "editor/tree/TreeNodeRecords.h"
#include "editor/view/ViewerDialogs.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "typelib/modAttributeStrings.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QScrollArea;
class QTabBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin {
class CustomTypeLib;
class ErrorRecord;
class HelpChange;
}

namespace zephrin::editor {

class SplitPane;

class LibraryViewer : public QWidget, public IChangeListener, public IExternalTypesView {
    Q_OBJECT

public:
    // Type constraint codes handed to the type pickers.
    enum TypeConstraintCode : int32_t {
        kConstraintNone = 0,
        kConstraintAutomation = 1,
        kConstraintCallable = 2,
        kConstraintCallableAutomation = 3,
        kConstraintImplementable = 4,
    };

    explicit LibraryViewer(QWidget* parent = nullptr);
    ~LibraryViewer() override;

    // ---- Properties ----
    const std::shared_ptr<ChangeListener>& HubListener() const { return hook_.Hub(); }
    // Leaves the former hub, then joins hub (when given) as a weak entry.
    void SetChangeListener(std::shared_ptr<ChangeListener> hub);
    // The view's registration with the hub.
    const SMNode& HubNode() const { return hook_.Node(); }

    bool DisplayHelpOptions() const { return !hideHelpOptions_; }
    void DisplayHelpOptions(bool value) { hideHelpOptions_ = !value; }
    bool SaveBackupHelpString() const { return !noBackupHelpString_; }
    void SaveBackupHelpString(bool value) { noBackupHelpString_ = !value; }
    bool AddUsesLibraryHelpFiles() const { return addUsesLibraryHelpFiles_; }
    void AddUsesLibraryHelpFiles(bool value) { addUsesLibraryHelpFiles_ = value; }
    int32_t TypeConstraint() const { return typeConstraint_; }
    // A code outside 0 to 4 raises error 5.
    void TypeConstraint(int32_t code);
    int32_t TypeConstraintFilter() const { return typeConstraintFilter_; }
    // A filter without any of bits 0 to 4 allows every code (31).
    void TypeConstraintFilter(int32_t filter) { typeConstraintFilter_ = (filter & 31) != 0 ? filter : 31; }
    int32_t DisplayFormat() const { return displayFormat_; }

    // Libraries the host declared as referenced. Adding before a library was
    // attached raises error 91; duplicates and absent ones are ignored.
    void AddReferencedITypeLib(ole::ITypeLib* library);
    void RemoveReferencedITypeLib(ole::ITypeLib* library);
    size_t ReferencedLibraryCount() const { return referenced_ ? referenced_->size() : 0; }
    // The same, given the library's TypeLibInfo (adding nothing raises error 91).
    void AddReferencedLibrary(tli::TypeLibInfo* library);
    void RemoveReferencedLibrary(tli::TypeLibInfo* library);

    // What the host restricts: the commands offered, the groups of fields
    // and the attribute flags that may change. Panes filled from now on
    // follow it; the filter off, no flag is locked any longer.
    const CommandFilterRecord& CommandFilter() const { return commandFilter_; }
    void CommandFilter(const CommandFilterRecord& filter) {
        commandFilter_ = filter;
        if (!filter.Enabled()) lockedFlags_ = 0;
    }

    // ---- The library ----
    // A finished copy of the edited library; error 91 without one.
    ole::ComPtr<ole::ITypeLib> CurrentITypeLib();
    // The same as a TypeLibInfo, over a finished copy; error 91 without one.
    ole::ComPtr<tli::TypeLibInfo> CurrentLibrary();
    // Opens the library of info for editing, as CurrentITypeLib does; null empties the view.
    void CurrentLibrary(tli::TypeLibInfo* info);
    // Opens library for editing (a regenerated copy, its companion library of
    // unresolved types made when needed), forgetting the referenced
    // libraries; null empties the view.
    void CurrentITypeLib(ole::ITypeLib* library);
    // Shows library itself, already the editable form of the library shown;
    // keeps the referenced libraries.
    void AttachITypeLib(ole::ITypeLib* library);
    const ole::ComPtr<ole::ITypeLib>& UnresolvedTypes() const { return unresolved_; }
    // A library that is not a companion library of unresolved types raises error 5 (814).
    void UnresolvedTypes(ole::ITypeLib* library);
    // Writes the edited library to path; error 91 without one. With a
    // companion library, refused while one of its placeholders is used, and
    // after success the companion library is dropped. With expected (taken by
    // ole::GetFileIdentity just before the file was read, or returned by the
    // last save to it), refused while path leads to another file or another
    // version of it. Returns the file as saved, what the next save expects.
    ole::FileIdentity SaveCurrentLibrary(const std::u16string& path,
                                         const std::optional<ole::FileIdentity>& expected = std::nullopt);
    // The library the tree shows and the editable library over it, or null.
    ole::ComPtr<ole::ITypeLib> CurrentLibraryITypeLib() const;
    std::shared_ptr<CustomTypeLib> CurrentCustomTypeLib() const;

    // The dialogs the view opens (the program's own unless replaced; not owned).
    void SetDialogs(ViewerDialogs* dialogs) { dialogs_ = dialogs ? dialogs : &standardDialogs_; }

    // ---- Reached by the tree and the tests ----
    QTreeWidget* Tree() const { return tvTypes_; }
    bool InEditMode() const { return inEditMode_; }
    // Tells the user, in a message over owner, that what they asked for
    // waits until the edit in the panes is updated or cancelled.
    static void TellEditPending(QWidget* owner);
    int32_t EditKind() const { return editKind_; }
    int32_t InvalidFields() const { return invalidFields_; }
    // The details pane's controls, by the names the view gives them.
    enum class Field { Guid, ChangeGuid, SetType, ChooseType, Options, Version, Lcid, Align, Update, Cancel };
    QWidget* DetailsField(Field field) const;
    // The node whose details the panes show (null when none).
    QTreeWidgetItem* ShownNode() const { return shownNode_; }
    // The node whose children wait for a deferred re-sort, or null.
    QTreeWidgetItem* DeferredSortNode() const { return deferredSort_; }
    QTreeWidgetItem* CopiedMember() const { return copiedMember_; }

    // ---- IChangeListener ----
    void RefreshCurrentSelection(ListenerTag tag) override;
    void SelectTarget(ChangeTarget& target, ListenerTag tag) override;
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) override;
    void OnLibraryChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRemoveParamArrayChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRenameChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnFlattenInterfaceChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnResetAutomaticIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnResetAllIDsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnReorderVTableChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnReorderVarsChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddImplTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnInsertParamChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnAddMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnCopyMemberChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnHelpChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag tag) override;
    void OnReorderTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    void OnCustDataChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;

    // Runs a command of the tree's context menu on the selected node: item,
    // with the index and tag of its submenu entry as the menu's plan gives them.
    void RunMenuCommand(MenuItem item, int32_t index = 0, int32_t tag = 0);

    // Opens the specify-type dialog for the type in the details pane; with
    // applyNow, an edit it leaves pending is applied at once. True when the
    // pane's type changed.
    bool SetTypeFromPicker(bool applyNow);

    // Applies a change the view made to the selected item, marking the hub
    // so that the view's listener works on that node. Without a hub the
    // view's own listener hears of it. The mark never outlives the apply.
    bool ApplyOwnChange(IChange& change, IChange* captured, ChangeTarget& target, int32_t level);
    // The same, but the hub leaves the view out once; the view refreshes itself.
    bool ApplySkippingView(IChange& change, IChange* captured, ChangeTarget& target, int32_t level);

signals:
    void OnSetEditMode(bool editing);

protected:
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The tree's context menu for node, the selected node, at globalPos: from
    // a right-button release at the mouse, or from the keyboard just below
    // the node's text. True when a menu was shown (which consumes the key).
    virtual bool TreeMouseUp(QTreeWidgetItem* node, const QPoint& globalPos, bool fromKeyboard);

private:
    void AttachLibrary(ole::ITypeLib* library, bool replace);
    void ClearView(bool keepReferences);
    LibraryNodeRecord* CurrentLibraryRecord() const;

    // Fills the panes for node (the node click).
    void NodeClick(QTreeWidgetItem* node);
    // Makes node the tree's current item without running the node click.
    void SelectNode(QTreeWidgetItem* node);
    void OnCurrentItemChanged(QTreeWidgetItem* current);
    // Keeps one node selected, the current one: a node selected without
    // becoming current (as screen readers select) becomes current.
    void OnSelectionChanged();

    // The details pane.
    void BuildDetailsPane();
    // Empties and hides the fields; the page strip is left to the fill that follows.
    void ClearDetailsPane();
    void SetupDetailsTabs(int16_t image);
    // One tab of the page strip.
    struct PageTab {
        QIcon Icon;
        QString Text;
        QVariant Data;  // the accessor a member's tab shows, or the help page's mark
    };
    // Makes the strip show tabs with selected current (-1 with none),
    // reusing the tabs it has: the same tabs shown again change nothing, and
    // a reader hears of no tab but the one that becomes current.
    void ShowPageTabs(const std::vector<PageTab>& tabs, int selected);
    void FillLibraryDetails(LibraryNodeRecord& library, int16_t image);
    void FillTypeDetails(TypeNodeRecord& type, int16_t image);
    void ResetEditRecord();
    void ShowLibraryValues(IAttributeChange& change);
    void ShowTypeValues(IAttributeChange& change);
    void FillFlagList(int32_t (*names)(int32_t, std::vector<modAttributeStrings::FlagName>&), int32_t mask);
    void ShowFlagChecks(int32_t flags);
    void SetEditMode(bool editing, bool canUpdate);
    // An edit begun in a field while the tree has the focus (a screen reader
    // set the field's value) takes the focus to that field, where typing
    // there would have left it: the tree, disabled for the edit, would hand
    // it on to the splitter bar.
    void FocusEditedField();
    void CheckDirty();
    // A tab of the strip highlighted, however (a click, a key, a screen
    // reader): refused with a beep while an edit is pending, else its page shown.
    void OnPageTabChosen(int index);
    // Marks the fields of bits invalid (their captions red and bold, why told
    // on the fields) or valid again.
    void MarkInvalid(int32_t bits, bool invalid, const QString& why = {});
    void OnVersionEdited();
    void OnLcidEdited();
    void OnOptionChanged(QListWidgetItem* item);
    void OnAlignChosen(int index);
    void OnChangeGuid();
    void OnChooseType();
    bool PickTypeReference();
    // The type field's menu for an external type, at globalPos; a beep where it isn't offered.
    void SetTypeContextMenu(const QPoint& globalPos);
    // A right-click, the Menu key or Shift+F10 in the type field; true when handled.
    bool TypeFieldEvent(QEvent* event);
    // The enabled state of the pane's rows under the host's filter, and the
    // flags of the attribute list it locks, for the item just filled.
    void ApplyCommandFilter(bool function = false);
    void LockFlagList(int32_t locked, bool enabled);
    void OnFieldEnter();
    void Update();
    // Message 933 "Update failed, restoring original values." with the error's text below it.
    void ReportUpdateFailed(const ErrorRecord& error);
    void Cancel();

    // Tree interaction.
    bool eventFilter(QObject* watched, QEvent* event) override;
    ChangeTarget TargetOfNode(QTreeWidgetItem* node) const;
    void OnCollapsed(QTreeWidgetItem* node);
    void OnDoubleClick();
    void OnTreeRightButton(QEvent::Type type, const QPoint& position, const QPoint& globalPos);
    bool ContextMenuFromKeyboard();
    void StartLabelEdit();
    void OnLabelEdited(QTreeWidgetItem* item);
    // Closes an open label editor without applying its text.
    void CancelLabelEdit();
    void CopyMember();
    void PasteMember();
    void SelectTypeNode(QTreeWidgetItem* node, int32_t typeIndex);

    // Steps shared by the listener's operations.
    QTreeWidgetItem* Locate(ChangeTarget& target, int32_t level, ListenerTag tag);
    void Reattach(ChangeTarget& target);
    void Show(QTreeWidgetItem* node, bool reveal = false);
    void RefillSelection();
    // Takes the target's companion library; true when message 941 is due.
    bool TakeUnresolved(ChangeTarget& target, ListenerTag tag);
    void AnnounceUnresolved();
    void RebuildTypeMemberNodes(QTreeWidgetItem* typeNode, bool addPlaceholder, bool checkMembers);
    // A dispinterface declared over an interface shows the functions of the
    // interface's chain as its own. After a change to the members or
    // parameters of the target's type, the built member nodes of every other
    // type that shows functions of the same types are built again.
    void SyncSharedFunctionNodes(const ChangeTarget& target);
    void ResetIDs(ChangeTarget& target, int32_t level, ListenerTag tag);
    // Removes node, forgetting a deferred re-sort that waits on it or below it.
    void RemoveNode(QTreeWidgetItem* node);
    // A member's built parameter nodes made as many as its accessors have
    // after an accessor came or went.
    void SyncParamNodes(QTreeWidgetItem* memberNode);
    void DeferSort(QTreeWidgetItem* parent);
    void RunDeferredSort(uint64_t generation);

    QTreeWidget* tvTypes_ = nullptr;
    SplitPane* splitter_ = nullptr;
    QTabBar* tsFrame_ = nullptr;
    QScrollArea* picDetails_ = nullptr;
    QPushButton* cmdUpdate_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QWidget* details_ = nullptr;
    QLabel* lblHeader_[11] = {};
    QLineEdit* lblGUID_ = nullptr;  // read-only, so that a screen reader reads the GUID
    QPushButton* cmdChangeGUID_ = nullptr;
    QLineEdit* txtSetType_ = nullptr;
    QPushButton* cmdSetType_ = nullptr;
    QListWidget* lstOptions_ = nullptr;
    QLineEdit* txtVersion_ = nullptr;
    QLineEdit* txtLCID_ = nullptr;
    QComboBox* cmbAlign_ = nullptr;
    // The type field's internalise and redirect menu, built when first shown
    // and kept: a command it runs may open a dialog while the menu is closed.
    QMenu* mnuRedirectContext_ = nullptr;
    QMenu* mnuRedirInternalize_ = nullptr;
    QMenu* mnuRedirectExternal_ = nullptr;
    bool typeMenuKeyDown_ = false;  // the Menu key, still down, was answered with a beep
    std::vector<QWidget*> rows_;  // one per caption and field row, hidden by ClearDetailsPane

    StandardViewerDialogs standardDialogs_;
    ViewerDialogs* dialogs_ = &standardDialogs_;
    // What the details pane edits.
    ChangeTarget editTarget_;
    std::shared_ptr<CustomTypeLib> editLibrary_;
    std::shared_ptr<IAttributeChange> workingChange_;
    std::shared_ptr<IAttributeChange> baselineChange_;
    int32_t invalidFields_ = 0;
    int32_t editKind_ = 0;
    int32_t lockedFlags_ = 0;  // flags of the attribute list the host's filter keeps as they are

    ChangeListenerHook hook_;
    int32_t fillDepth_ = 0;
    bool inEditMode_ = false;
    bool hideHelpOptions_ = false;
    bool noBackupHelpString_ = false;
    bool addUsesLibraryHelpFiles_ = true;
    int32_t typeConstraint_ = kConstraintCallable;
    int32_t typeConstraintFilter_ = 31;
    int32_t displayFormat_ = 8;
    int16_t detailsTab_ = 0;  // tab code of the details page: the accessor a member pane shows
    std::unique_ptr<std::map<ole::ITypeLib*, ole::ComPtr<ole::ITypeLib>>> referenced_;
    ole::ComPtr<ole::ITypeLib> unresolved_;
    CommandFilterRecord commandFilter_;
    QTreeWidgetItem* shownNode_ = nullptr;
    // What screen readers were told of the panes and the page tabs.
    dialogs::AccessibleChanges told_;
    // The program-wide focus changes the panes follow; ended before the panes go.
    QMetaObject::Connection focusFollower_;
    int selecting_ = 0;  // the program is changing the current item
    QTreeWidgetItem* deferredSort_ = nullptr;
    std::vector<QTreeWidgetItem*> earlierSorts_;  // due before deferredSort_, not run yet
    QTreeWidgetItem* copiedMember_ = nullptr;   // forgotten when its node goes
    QTreeWidgetItem* labelEditing_ = nullptr;
    QPointer<QWidget> labelEditor_;
    QString labelBefore_;
    uint64_t deferredGeneration_ = 0;

    // ---- The member and parameter panes (LibraryViewerMembers.cpp) ----
public:
    // Their fields, by the names the view gives them.
    enum class MemberField { MemberId, ConstValue, DllName, DllEntry, Optional };
    QWidget* MemberPaneField(MemberField field) const;
    // The accessor of a property that the member pane shows (1, 2, 4 or 8).
    int32_t CurrentAccessor() const { return currentAccessor_; }
    // The host's member-ID format, checked when a member ID is set (null:
    // none; not owned).
    void SetMemberIDConstraints(IMemberIDConstraints* provider) { memberIdConstraints_ = provider; }

private:
    void BuildMemberFields();
    // Enables again what a parameter pane disabled.
    void ResetMemberFields();
    // Fills the member or parameter pane for node; false for another kind of node.
    bool FillMemberPane(QTreeWidgetItem* node, NodeRecord* record);
    void FillMemberDetails(QTreeWidgetItem* node, MemberNodeRecord& member, bool force, int16_t image);
    void FillParamDetails(QTreeWidgetItem* node, MemberNodeRecord& member, int16_t image);
    // Adds the tabs of a member or parameter: its caption, and the Let and
    // Set tabs of a property. Returns the tab of the current accessor.
    int AddMemberTabs(int16_t image, std::vector<PageTab>& tabs);
    void OnDetailsTabChosen(int index);
    // Shows the details tab of code (an accessor, 1, 2, 4 or 8) when the
    // pane offers one; while the help page is shown the details page behind
    // it takes the accessor.
    void SelectTab(int32_t code);
    // Fills the member or parameter pane of the shown node again for accessor.
    void ShowAccessor(int32_t accessor);
    // After a change shown at display level 2 that the view did not make
    // itself: the pane shows the tab of the accessor the target names.
    void ShowTargetAccessor(const ChangeTarget& target, int32_t flags, ListenerTag tag);
    void ShowMemberPaneValues(IAttributeChange& change);
    void ShowMemberValues(IAttributeChange& change);
    void ShowMemberID(IAttributeChange& change);
    void ShowConstValue(const ole::Variant& value, bool fromFormatMenu);
    void ShowParamValues(IAttributeChange& change);
    void FillOptionalSettingList(IAttributeChange& change);
    void ShowDefaultValue(IAttributeChange& change);
    // Whether the host's filter, when on, lets the parameter pane change the group of bit.
    bool ParamFilterAllows(int32_t bit) const;
    // Whether change holds a default value that the host's filter keeps from the user.
    bool DefaultWithheld(IAttributeChange& change);
    void ReadWithheldDefault();
    bool PickMemberType();
    // Whether the member pane shows a dispinterface's Get that returns the
    // property's value itself (no return value parameter).
    bool ShowsPropertyValue() const;
    // The member type of a function whose last parameter is its return value:
    // picked as that parameter's type, and stored as what it points to.
    bool PickRetvalType();
    // Takes chosen (not held, the working change's) as the member's type.
    bool TakeMemberType(ole::ComPtr<CustomVarTypeInfo> chosen, const ole::ComPtr<CustomVarTypeInfo>& held);
    bool PickParamType();
    void UpdateMemberPane();
    void UpdateMember();
    void UpdateParam();
    // Offers the accessors others of target's member the return type type.
    void SyncAccessorTypes(CustomVarTypeInfo* type, const ChangeTarget& target, int32_t others);
    int32_t SyncAccessorParam(IAttributeChange& working, const ChangeTarget& target, int32_t others);
    void OnMemberIdEdited();
    void OnConstValEdited();
    void OnDllNameEdited();
    void OnDllEntryEdited();
    void cmbOptional_Click(int index);
    // A field reached with Tab or an Alt access key shows its text selected.
    void SelectAllOnKeyboardFocus(QLineEdit* field);
    dialogs::LibraryCollection ReferencedLibraries() const;
    void KeepReferencedLibraries(const dialogs::LibraryCollection& libraries);

    QLineEdit* txtMemberID_ = nullptr;
    QLineEdit* txtConstVal_ = nullptr;
    QLineEdit* txtDllName_ = nullptr;
    QLineEdit* txtDllEntry_ = nullptr;
    QComboBox* cmbOptional_ = nullptr;
    QWidget* optionalRow_ = nullptr;
    QWidget* constValRow_ = nullptr;
    QWidget* dllNameRow_ = nullptr;
    QWidget* dllEntryRow_ = nullptr;
    QWidget* memberIdRow_ = nullptr;
    int32_t currentAccessor_ = 1;
    int32_t paramOptionMask_ = 0;
    IMemberIDConstraints* memberIdConstraints_ = nullptr;

    // ---- The help page and the implemented-interface pane (LibraryViewerHelp.cpp) ----
    void BuildHelpPane();
    // The help tab, last, for a library, type or member node unless the host
    // turned help options off; without one the details page is shown.
    // Returns the help tab's index, or -1.
    int AddHelpTab(std::vector<PageTab>& tabs);
    // The target the help page edits for node; false when it has no help page.
    bool HelpTargetOf(QTreeWidgetItem* node, ChangeTarget& target) const;
    void OnTabChosen(int index);
    // The tab of the page shown: the help tab while the help page is shown,
    // else the details tab of the accessor shown (the first for other panes).
    int PageTabIndex() const;
    void ShowHelpPage(bool show);
    void FillHelpPane();
    void ShowHelpValues(const HelpChange& change);
    // Drops the help page's changes and marks; refills them while it is shown.
    void ResetHelpRecord();
    void MarkHelpInvalid(int32_t bits, bool invalid, const QString& reason = {});
    void OnHelpStringEdited();
    void OnHelpContextEdited(int which);
    void OnHelpFileEdited(int which);
    void OnHelpScopeChosen(int which, int index);
    void OnHelpFieldEnter(QLineEdit* field);
    bool HelpDirty() const;
    void ApplyHelpChange();
    void CancelHelpEdit();
    void FillImpliedInterfaceDetails(ImpliedInterfaceNodeRecord& implemented, int16_t image);
    void ShowImpliedInterfaceValues(IAttributeChange& change);
    bool PickImpliedInterface();
    void UpdateImpliedInterface();

    QScrollArea* picHelp_ = nullptr;
    QWidget* helpFields_ = nullptr;
    QLabel* lblHelp_[7] = {};
    QLineEdit* txtHelpString_ = nullptr;
    QLineEdit* txtHelpContext_[2] = {};  // help context, help string context
    QLineEdit* txtHelpFile_[2] = {};     // help file, help string DLL
    QComboBox* cmbApplyFileName_[2] = {};
    ChangeTarget helpTarget_;
    std::shared_ptr<HelpChange> helpWorkingChange_;
    std::shared_ptr<HelpChange> helpBaselineChange_;
    bool helpPaneActive_ = false;

    // ---- The context menu (LibraryViewerMenu.cpp) ----
public:
    // The tree's context menu, or a field's format menu, while it is open; else null.
    QMenu* OpenPopup() const;
    // Runs an item chosen from the tree's context menu: a setting changes at
    // once, any other item runs as a command (ContextCommandChosen).
    void ChooseMenuItem(MenuItem item, int32_t index = 0, int32_t tag = 0);

protected:
    // A command chosen from the tree's context menu: RunMenuCommand.
    virtual void ContextCommandChosen(MenuItem item, int32_t index, int32_t tag);

private:
    // What the menu is decided from for node, of kind with record.
    ContextMenuState ContextMenuStateOf(QTreeWidgetItem* node, int32_t kind, NodeRecord* record) const;
    // A new popup menu of the view, in place of any other one; show it with
    // popup(). chosen runs for the action picked in it or in any of its
    // submenus, after the menu has closed and its own code has returned, so
    // it may open dialogs and messages; errors are reported. chosen reads what
    // it needs from the action first. The menu stays until the next popup
    // replaces it or the view goes. Never connect a command to the menu's or
    // its actions' signals directly.
    QMenu* NewPopup(std::function<void(QAction*)> chosen);
    // The format menus of the member ID and value fields.
    void SetUpFormatMenus();
    bool FormatMenuEvent(QLineEdit* field, QEvent* event);
    void ShowFormatMenu(QLineEdit* field, const QPoint& globalPos);
    // Shows values of the kind of bit in hexadecimal or decimal from now on.
    void SetDisplayFormat(int32_t bit, bool hexadecimal);

    QPointer<QMenu> popup_;

    // ---- The menu commands (LibraryViewerCommands.cpp) ----
public:
    // Internalises types (scope 0 the type only, 1 the types it references,
    // 2 its whole library; plus 4 as proxies): type's, or with type null one
    // the user picks. Errors are reported here.
    void InternalizeTypes(int32_t scope, tli::VarTypeInfo* type) override;
    // Redirects from (scope 0 its references, 1 every reference into its
    // library by GUID, 2 its definition replaced) to what the user picks,
    // asking with owner; true when the library changed. Errors are reported here.
    bool RedirectTypes(int32_t scope, tli::VarTypeInfo* from, QWidget* owner) override;
    bool SetTypeFromPicker() override { return SetTypeFromPicker(true); }
    ole::ComPtr<ole::ITypeLib> CurrentLibraryITypeLib() override {
        return static_cast<const LibraryViewer*>(this)->CurrentLibraryITypeLib();
    }
    void SelectTarget(ChangeTarget& target) override { SelectTarget(target, 0); }
    ole::ComPtr<ole::ITypeLib> UnresolvedTypes() override { return unresolved_; }
    void SetUnresolvedTypes(ole::ITypeLib* lib) override { UnresolvedTypes(lib); }

private:
    // What the commands work on: the pane's target when it shows the
    // selected node, else the selected node's; Kind 0 without a selection.
    ChangeTarget CommandTarget() const;
    void RunStructuralCommand(MenuItem item, int32_t index, int32_t tag);
    void AddType(int32_t index);
    void AddMember(int32_t invokeKinds);
    // Gives a member just added the type and ID its type calls for.
    void ApplyNewMemberDefaults(bool makeVoid);
    void AddImplType();
    void InsertParam(int32_t option);
    // Deletes the target's item; accessors (not 0) names the accessors of a property.
    void DeleteCommand(int32_t accessors);
    void ApplyDeleteChange(int32_t typeIndex);
    void RenameType(int32_t typeIndex, const std::u16string& name);
    // Under the filter's pairing: the default interfaces of the class renamed
    // from oldName take newName in place of oldName in theirs.
    void RenameCoclassInterfaces(int32_t typeIndex, const std::u16string& oldName, const std::u16string& newName);
    void FindResolved();
    void RedirectSelectedType(int32_t scope);
    void ShowExternalTypes();
    // Starts the view's one timer, which fires once the events waiting have
    // run (a menu closed, a label edit ended): it runs a deferred re-sort,
    // then a custom-data edit when one waits.
    void StartDelayExecution();
    void tmrDelayExecution_Timer();
    void EditCustomData();

    QTimer* tmrDelayExecution_ = nullptr;
    bool custDataDue_ = false;
};

}  // namespace zephrin::editor

// The history engine, the model behind a history window. It listens to the
// hub and keeps a copy of every change applied through it, in order, with a
// current position between the items already applied and those not yet
// applied. It can run the items from the position against the library
// attached to it (finding each item's target again by its names, and asking
// the user through the choose-name dialog when a name is missing), step
// through them, stop at breakpoints, move the position, delete items, and save
// the history to a Library Edit History file and load it back.
//
// Everything works without a history window (batch mode): each call to the
// window is made only when one is attached, and a target that cannot be found
// without a window raises TYPE_E_ELEMENTNOTFOUND.
//
// This header declares the class; Playback.cpp holds the history list, the
// commands and the file operations, PlaybackReplay.cpp the run loop and the
// finding of targets.
#pragma once

#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/ChangeListener.h"
#include "changes/hub/IChangeListener.h"
#include "changes/history/IHistoryFile.h"
#include "changes/history/IPlayback.h"
#include "changes/history/IPlaybackUI.h"
#include "changes/history/IPlaybackUIActivation.h"
#include "changes/hub/SMNode.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin {

class Playback final : public IPlayback, public IChangeListener {
public:
    // Makes the change of a kind code that captures its target in replay.
    using ChangeFactory = std::function<ChangePtr(uint8_t code)>;

    // historyFile reads and writes the history files and makes the reference
    // cache (by default a HistoryFile making its changes with factory);
    // factory defaults to modRecorder::CreateChangeFromKind.
    explicit Playback(std::shared_ptr<IHistoryFile> historyFile = nullptr, ChangeFactory factory = {});
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;
    ~Playback() override;

    // ---- IPlayback ----
    int32_t EnabledCommands(int32_t index, PlaybackItem item) override;
    bool ExecuteCommand(int32_t command, int32_t index, PlaybackItem item) override;
    std::u16string Text(PlaybackItem item) override;
    int32_t Glyph(PlaybackItem item) override;
    std::shared_ptr<zephrin::ChangeListener> ChangeListener() override { return hub_; }
    void ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub) override;
    void LoadState(std::u16string_view folder, std::u16string_view fileName) override;
    bool SaveState(std::u16string_view folder, std::u16string_view fileName) override;
    bool FileChanged(std::u16string_view folder, std::u16string_view fileName) override;
    bool SaveStateReplacing(std::u16string_view folder, std::u16string_view fileName) override;
    IPlaybackUIActivation* UIActivator() override { return activator_; }
    void UIActivator(IPlaybackUIActivation* activator) override;
    ole::ComPtr<tli::TypeLibInfo> CurrentLibrary() override;
    void CurrentLibrary(tli::TypeLibInfo* library) override;
    ole::ComPtr<ole::ITypeLib> CurrentITypeLib() override;
    void CurrentITypeLib(ole::ITypeLib* library) override;
    bool ActivateUI() override;
    void AttachITypeLib(ole::ITypeLib* library) override;
    bool LibraryIsNew() override { return libraryIsNew_; }
    void LibraryIsNew(bool isNew) override { libraryIsNew_ = isNew; }
    void ClearState() override;
    void ReloadGlyphs() override {}
    ole::ComPtr<ole::ITypeLib> UnresolvedITypeLib() override { return unresolved_; }
    void UnresolvedITypeLib(ole::ITypeLib* library) override;

    // The number of history items.
    int32_t ItemCount() const { return static_cast<int32_t>(items_.size()); }

    // ---- IChangeListener: every change notification records the change ----
    void RefreshCurrentSelection(ListenerTag tag) override;
    void SelectTarget(ChangeTarget&, ListenerTag) override {}
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>&) override {}
    void OnBeforeTypeChange(ChangeTarget&, IChange&, bool&, ListenerTag) override {}
    void OnLibraryChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::LibChange, t);
    }
    void OnTypeChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::TypeChange, t);
    }
    void OnImplTypeChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ImplTypeChange, t);
    }
    void OnMemberChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::MemberChange, t);
    }
    void OnParamChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ParamChange, t);
    }
    void OnDeleteChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::DeleteChange, t);
    }
    void OnRemoveParamArrayChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::RemoveParamArrayChange, t);
    }
    void OnRenameChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::RenameChange, t);
    }
    void OnFlattenInterfaceChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::FlattenChange, t);
    }
    void OnResetAutomaticIDsChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ResetAutomaticIDsChange, t);
    }
    void OnResetAllIDsChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ResetAllIDsChange, t);
    }
    void OnReorderVTableChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ReorderVTableChange, t);
    }
    void OnReorderVarsChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ReorderVarsChange, t);
    }
    void OnAddTypeChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::AddTypeChange, t);
        RecordAddedTypeGuid(c, t);
    }
    void OnAddImplTypeChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::AddImplTypeChange, t);
    }
    void OnInsertParamChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::InsertParamChange, t);
    }
    void OnAddMemberChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::AddMemberChange, t);
    }
    void OnInternalizeTypesChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::InternalizeTypesChange, t);
    }
    void OnRedirectTypesChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::RedirectTypesChange, t);
    }
    void OnCopyMemberChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::CopyMemberChange, t);
    }
    void OnHelpChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::HelpChange, t);
    }
    void OnReorderTypesChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::ReorderTypesChange, t);
    }
    void OnCustDataChange(ChangeTarget& t, IChange& c, int32_t, ListenerTag) override {
        Record(c, ChangeKind::CustDataChange, t);
    }

private:
    using NodeList = std::list<ChangeNode>;
    using NodeIt = NodeList::iterator;

    // ---- Playback.cpp ----
    void Record(IChange& change, ChangeKind kind, ChangeTarget& target);
    // The item of a change, complete but not yet in the list.
    ChangeNode MakeNode(IChange& change, ChangeKind kind, ChangeTarget& target);
    // Puts the item in before the current one and shows it.
    void Insert(ChangeNode node);
    // On a new library, the first change recorded comes after an item that
    // records the library's GUID, unless one lies before the position already
    // (or the change is such an item, which another engine replays). One the
    // user deleted from this history stays deleted.
    bool IdentityDue(IChange& change) const;
    // An added type that was given a GUID of its own gets another one each
    // time the add is applied: the GUID it has now is recorded as a change of
    // the type's GUID right after the add, so that a replay gives it this one.
    void RecordAddedTypeGuid(IChange& add, const ChangeTarget& added);
    // Copies the target's names into the item, filling missing ones from the library.
    void FillNode(ChangeNode& node, ChangeKind kind, ChangeTarget& target);
    void TrackTargetLibrary(const ChangeTarget& target);
    // Gives the item a handle and indexes it.
    void Adopt(NodeIt it);
    // The item of a handle: kEndItem (and 0 when zeroIsEnd) is the end item;
    // an unknown handle raises error 5.
    NodeIt Find(PlaybackItem item, bool zeroIsEnd);
    bool IsItem(PlaybackItem item) const { return item > 0 && byId_.count(item) != 0; }
    int32_t& FlagsOf(NodeIt it) { return it == items_.end() ? endFlags_ : it->Flags; }
    void SetCurrentItem(NodeIt item, int32_t index);
    void DeleteItem(int32_t index, PlaybackItem item);
    void ToggleBreakpoint(int32_t index, PlaybackItem item);
    void ClearBreakpoints();
    void Restart();
    void ClearItems() noexcept;
    void ResetHistory();
    void FillUI(IPlaybackUI& ui);
    bool ActivateUserInterface(bool& runPending);
    void AttachLibrary(ole::ITypeLib* library);
    CustomTypeLib& Library();

    // ---- PlaybackReplay.cpp ----
    // Runs from the current item to stop (the end item when it is the end).
    // mode 0 for Run and Run to Cursor, 2 for Step. Returns true when the user
    // cancelled.
    bool RunTo(int32_t mode, NodeIt stop);
    // Rebuilds item's target in the current library; intervened when the item
    // had to be re-targeted (its names changed). Returns false when the user
    // asked to stop.
    bool ResolveTarget(ChangeNode& item, ChangeTarget& target, bool& intervened);
    // Asks the user through the history window; false when the window asks to
    // stop. Without a window (or a dialog owner) raises TYPE_E_ELEMENTNOTFOUND.
    bool PrepareToAsk(ChangeNode& item, INameChooser*& chooser);
    bool SelectTargetOfCurrent();
    void RefreshSelection(ChangeNode& item);
    // The views refill their selected nodes from the library.
    void RefreshViews();
    void Detach(IChange& change);
    // The file this history was read from or last saved to as it was then,
    // when file names it; what a save to file expects.
    std::optional<ole::FileIdentity> ExpectedAt(const std::filesystem::path& file) const;
    // Writes the history to file, which must be as expected (nothing in
    // particular: as it is when the write starts).
    bool Save(const std::filesystem::path& file, const std::optional<ole::FileIdentity>& expected);

    std::shared_ptr<IHistoryFile> historyFile_;
    ChangeFactory factory_;
    std::shared_ptr<IHistoryReferenceCache> cache_;
    NodeList items_;
    std::unordered_map<PlaybackItem, NodeIt> byId_;
    PlaybackItem nextId_ = 1;
    int32_t endFlags_ = ChangeNode::kCurrent;
    NodeIt current_;
    int32_t currentIndex_ = 0;
    int32_t executedCount_ = 0;
    int32_t breakpointCount_ = 0;
    std::unique_ptr<CustomTypeLib> library_;
    bool libraryIsNew_ = false;
    // The GUID of the new library whose identity item the user deleted.
    std::optional<ole::GUID> deletedIdentity_;
    ole::ComPtr<ole::ITypeLib> currentITypeLib_;
    ole::ComPtr<ole::ITypeLib> unresolved_;
    IPlaybackUIActivation* activator_ = nullptr;
    IPlaybackUI* ui_ = nullptr;
    std::shared_ptr<zephrin::ChangeListener> hub_;
    SMNode node_;  // after hub_: the registration ends first
    // The history file last read or saved: its name, the file it led to (its
    // links followed), and its identity then.
    std::filesystem::path fileName_;
    std::filesystem::path file_;
    ole::FileIdentity fileIdentity_;
};

}  // namespace zephrin

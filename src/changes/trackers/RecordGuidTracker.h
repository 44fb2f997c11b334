// Follows the GUIDs of the record (structure) types of one library while it is
// edited, so that a compiled program which embeds the old record GUIDs can be
// patched to the new ones once the library is saved.
//
// A client creates the tracker, calls Initialize with the library, registers
// it with the hub (ChangeListener) and, after saving, asks ChangeCount and
// passes it to UpdateRecordGuidsInExecutable. The tracker learns of GUID
// edits (type changes), deleted records, records taken in from other
// libraries, and of every redirection of a record type to another that a
// regeneration performs (it is the regeneration's redirection watcher while a
// redirect change is applied; the redirections count once the change has
// been applied). While RaiseErrorForUntrackableGuids is set it refuses the
// edits after which a record could no longer be followed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "changes/hub/ChangeListener.h"
#include "changes/hub/SMNode.h"
#include "changes/hub/SelectiveChangeListener.h"
#include "changes/trackers/modRecordGuidTracker.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

class RecordGuidTracker final : public SelectiveChangeListener {
public:
    RecordGuidTracker();
    ~RecordGuidTracker() override;
    RecordGuidTracker(const RecordGuidTracker&) = delete;
    RecordGuidTracker& operator=(const RecordGuidTracker&) = delete;

    // Forgets everything and starts following lib: its identity and every
    // record type of it that has a GUID.
    void Initialize(ole::ITypeLib* lib);

    bool RaiseErrorForUntrackableGuids() const { return raiseErrors_; }
    void RaiseErrorForUntrackableGuids(bool value) { raiseErrors_ = value; }

    // Shows a refused type change to the user (a message box with the
    // exclamation icon); without one the refusal is not shown.
    using MessageBoxFn = std::function<void(const std::u16string& text)>;
    void MessageBox(MessageBoxFn show) { messageBox_ = std::move(show); }

    // The number of records whose GUID or library is now another than at
    // Initialize (a GUID changed and changed back does not count), plus one
    // when the library's GUID is another; marks the records changed.
    int32_t ChangeCount();
    // Takes the redirections reported during the last generation into account.
    void CommitPendingChanges();
    // Forgets them.
    void FreePendingChanges();

    // Replaces, in the ".text" section of the PE32 program file exePath, every
    // old GUID of a changed record (count of them, from ChangeCount) that the
    // program uses as a record descriptor by the record's new GUID, and the
    // library GUID of a descriptor whose record moved to another library (or
    // whose library took another GUID).
    // libraries: other libraries the records came from or went to, for their
    // names in messages. Nothing happens when count is 0. The file is changed
    // in place, and only when a GUID was replaced; the result says whether it
    // was. A damaged or unsupported file raises error 5 and is left as it
    // was; a file that cannot be opened for writing raises error 75 (53 when
    // it does not exist); records moved inconsistently between libraries
    // raise error 5 with message 1025 or 1026, before anything is written.
    bool UpdateRecordGuidsInExecutable(int32_t count, const std::filesystem::path& exePath,
                                       std::span<const ole::ComPtr<ole::ITypeLib>> libraries = {});

    std::shared_ptr<zephrin::ChangeListener> ChangeListener() const { return hub_; }
    // Registers the tracker with hub (null: with none).
    void ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub);

    // ---- IChangeListener: the notices followed ----
    // A new generation starts: forgets pending redirections and offers the
    // tracker as the generation's redirection watcher.
    void ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) override;
    // Takes the library's new GUID and version.
    void OnLibraryChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // Follows a record's new GUID.
    void OnTypeChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // A deleted record keeps its first GUID and is no longer followed.
    void OnDeleteChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // Records taken into the library from another one are followed from now on.
    void OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // Commits the redirections of the generation; a record type the new
    // library no longer has counts as deleted.
    void OnRedirectTypesChange(ChangeTarget& target, IChange& change, int32_t flags, ListenerTag tag) override;
    // Refuses (messages 1022 to 1024, the change cancelled) a GUID edit of a
    // record type that could not be followed.
    void OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag tag) override;

private:
    class Watcher;
    using Entry = modRecordGuidTracker::Entry;
    using Place = modRecordGuidTracker::Place;

    // Called by the watcher for each redirected reference (messages 1020, 1021).
    void OnTypeRedirection(int32_t flags, tli::TypeInfo* source, tli::TypeInfo* dest);
    // The live entries that follow the record whose GUID is now guid at
    // place; none for the null GUID.
    std::vector<Entry*> FindLive(const ole::GUID& guid, const Place& place) const;
    bool AnyCurrent(const ole::GUID& guid) const;
    // Whether guid is the first GUID of a deleted record's entry.
    bool AnyDeleted(const ole::GUID& guid) const;
    // The record is gone: its entry goes back to its first GUID and place.
    void MarkDeleted(Entry& e);
    void Refuse(int32_t messageId, bool& cancel);

    modRecordGuidTracker::State state_;
    std::vector<modRecordGuidTracker::Redirection> pending_;
    std::unordered_set<modRecordGuidTracker::Redirection, modRecordGuidTracker::RedirectionHash> pendingSeen_;
    // The GUID a type change found before it applied itself.
    struct Before {
        ole::ITypeLib* library = nullptr;
        int32_t typeIndex = -1;
        ole::GUID guid{};
    } before_;
    bool raiseErrors_ = false;
    MessageBoxFn messageBox_;
    ole::ComPtr<Watcher> watcher_;
    std::shared_ptr<zephrin::ChangeListener> hub_;
    SMNode node_;  // after hub_: the registration ends first
};

}  // namespace zephrin

#include "changes/history/Playback.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "changes/history/HistoryFile.h"
#include "changes/history/modRecorder.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/LibChange.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

namespace fs = std::filesystem;

namespace {

fs::path HistoryPath(std::u16string_view folder, std::u16string_view fileName) {
    const fs::path file(ole::ToUtf8(fileName));
    return folder.empty() ? file : fs::path(ole::ToUtf8(folder)) / file;
}

// The file a name leads to, its links followed, as far as it exists.
fs::path Resolved(const fs::path& file) {
    std::error_code ec;
    fs::path full = fs::weakly_canonical(file, ec);
    if (ec) full = fs::absolute(file, ec).lexically_normal();
    return full;
}

}  // namespace

Playback::Playback(std::shared_ptr<IHistoryFile> historyFile, ChangeFactory factory)
    : historyFile_(std::move(historyFile)),
      factory_(factory ? std::move(factory) : ChangeFactory(modRecorder::CreateChangeFromKind)) {
    if (!historyFile_) historyFile_ = std::make_shared<HistoryFile>(factory_);
    cache_ = historyFile_->NewCache();
    current_ = items_.end();
}

Playback::~Playback() {
    node_.Release();
    if (ui_) {
        try {
            ui_->RemoveAllItems();
        } catch (...) {
        }
    }
}

// ---- Recording ----

void Playback::Record(IChange& change, ChangeKind kind, ChangeTarget& target) {
    // The items are made complete before they enter the list, so a failure
    // leaves the history as it was.
    std::optional<ChangeNode> identity;
    if (IdentityDue(change)) {
        ChangeTarget library;
        library.Kind = kTargetLibrary;
        library.Library = target.Library ? target.Library : currentITypeLib_;
        const std::shared_ptr<LibChange> record = LibChange::NewLibraryIdentity(library);
        if (deletedIdentity_ != record->Guid()) identity = MakeNode(*record, ChangeKind::LibChange, library);
    }
    ChangeNode node = MakeNode(change, kind, target);
    if (identity) Insert(std::move(*identity));
    Insert(std::move(node));
    TrackTargetLibrary(target);
}

bool Playback::IdentityDue(IChange& change) const {
    if (!libraryIsNew_) return false;
    const auto isIdentity = [](const IChange* c) {
        const auto* lib = dynamic_cast<const LibChange*>(c);
        return lib && lib->IsNewLibraryIdentity();
    };
    if (isIdentity(&change)) return false;
    // Only a history's first change on the library records it. Items before
    // the position were applied to this library: its first change was one of
    // them, and when none of them is the identity, its item was deleted (in
    // this session or an earlier one) or the history was recorded without
    // one, and it stays so. The items from the position on have not been
    // applied, and may be another library's (the history is kept when New
    // attaches the next one).
    return current_ == items_.begin();
}

ChangeNode Playback::MakeNode(IChange& change, ChangeKind kind, ChangeTarget& target) {
    const uint8_t code = Code(kind);
    ChangeNode node;
    node.Flags = ((target.Kind & 15) << ChangeNode::kTargetKindShift) | code;
    node.Text = change.Describe(target);
    FillNode(node, kind, target);
    if (IsStatelessKind(code)) {
        node.Change = change.shared_from_this();
    } else {
        node.Change = change.Clone();
        if (!node.Change) RaiseError(kErrInternal);
        Detach(*node.Change);
    }
    return node;
}

void Playback::Insert(ChangeNode node) {
    const NodeIt it = items_.insert(current_, std::move(node));
    try {
        Adopt(it);
    } catch (...) {
        items_.erase(it);
        throw;
    }
    ++currentIndex_;
    if (ui_) {
        ui_->AddItem(currentIndex_ - 1, it->Id);
        const int32_t selected = ui_->ListIndex();
        if (selected >= currentIndex_ - 1) ui_->ListIndex(selected + 1);
    }
}

void Playback::RecordAddedTypeGuid(IChange& add, const ChangeTarget& added) {
    auto* adding = dynamic_cast<AddTypeChange*>(&add);
    if (!adding || adding->NewGuid() == ole::GUID{} || added.Kind != kTargetLibrary) return;
    const std::shared_ptr<IAttributeChange> change =
        std::dynamic_pointer_cast<IAttributeChange>(factory_(Code(ChangeKind::TypeChange)));
    if (!change) return;
    change->Guid(adding->NewGuid());
    ChangeTarget type = added;
    type.Kind = kTargetType;
    type.ReplacementLibrary = nullptr;
    Record(*change, ChangeKind::TypeChange, type);
}

void Playback::FillNode(ChangeNode& node, ChangeKind kind, ChangeTarget& t) {
    if (t.Kind == kTargetLibrary) return;
    // A deleted item can no longer be read, and a renamed one has its new
    // name: the names the item had come with the target (a parameter's empty
    // name means that it had none).
    if (kind != ChangeKind::DeleteChange && kind != ChangeKind::RenameChange) modRecorder::FillTargetNames(t);
    node.TypeName = t.TypeName;
    node.TypeKind = static_cast<uint8_t>(t.TypeKind & 0xFF);
    node.MemberName = t.MemberName;
    node.ParamName = t.ParamName;
    node.ParamIndex = t.ParamIndex;
    if (t.Kind == kTargetImplType) node.IndexByte = static_cast<uint8_t>(t.MemberId);
    if (t.Kind == kTargetMember || t.Kind == kTargetParam) node.IndexByte = static_cast<uint8_t>(t.InvokeKind);
    if (t.Kind == kTargetParam && kind != ChangeKind::DeleteChange)
        node.Flags |= static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(t.SpecialParam))
                                           << ChangeNode::kSpecialParamShift);
}

void Playback::TrackTargetLibrary(const ChangeTarget& target) {
    if (!library_) return;
    if (target.UnresolvedLibrary) unresolved_ = target.UnresolvedLibrary;
    if (target.ReplacementLibrary) AttachLibrary(target.ReplacementLibrary.get());
}

void Playback::Detach(IChange& change) { change.DetachFromLibrary(*cache_); }

void Playback::Adopt(NodeIt it) {
    it->Id = nextId_++;
    byId_.emplace(it->Id, it);
}

Playback::NodeIt Playback::Find(PlaybackItem item, bool zeroIsEnd) {
    if (item == kEndItem || (item == 0 && zeroIsEnd)) return items_.end();
    const auto found = byId_.find(item);
    if (found == byId_.end()) RaiseError(kErrInvalidArgument);
    return found->second;
}

// ---- The list as the window shows it ----

std::u16string Playback::Text(PlaybackItem item) {
    const auto found = byId_.find(item);
    return found == byId_.end() ? std::u16string() : found->second->Text;
}

int32_t Playback::Glyph(PlaybackItem item) {
    if (item == kEndItem) return (endFlags_ >> 8) & 3;
    const auto found = byId_.find(item);
    return found == byId_.end() ? kGlyphNone : (found->second->Flags >> 8) & 3;
}

int32_t Playback::EnabledCommands(int32_t index, PlaybackItem item) {
    int32_t mask = breakpointCount_ != 0 ? kCmdClearBreakpoints : 0;
    const bool atFirst = current_ == items_.begin();
    const bool isEnd = item == kEndItem;
    const bool isItem = IsItem(item);
    if (isEnd && !items_.empty() && !atFirst) mask |= kCmdRestart;
    if (isItem) {
        mask |= kCmdToggleBreakpoint;
        if (!atFirst) mask |= kCmdRestart;
        if (currentIndex_ <= index) mask |= kCmdDelete;
        if (currentIndex_ == index) mask |= kCmdSelectTarget;
    }
    if (current_ != items_.end()) mask |= kCmdRun | kCmdStep;
    if ((isEnd || isItem) && current_ != Find(item, false)) mask |= kCmdSetNextStatement;
    if ((isEnd || isItem) && currentIndex_ < index) mask |= kCmdRunToCursor;
    return mask;
}

bool Playback::ExecuteCommand(int32_t command, int32_t index, PlaybackItem item) {
    switch (command) {
        case kCmdRun: return !RunTo(0, items_.end());
        case kCmdStep:
            if (current_ == items_.end()) return false;
            return !RunTo(2, std::next(current_));
        case kCmdRunToCursor: {
            const NodeIt stop = Find(item, true);
            if (index < currentIndex_) return false;
            return !RunTo(0, stop);
        }
        case kCmdSetNextStatement: {
            NodeIt target = items_.end();
            if (index == -1)
                index = ItemCount();
            else
                target = Find(item, true);
            if (index < 0 || index > ItemCount()) RaiseError(kErrInvalidArgument);
            SetCurrentItem(target, index);
            if (ui_) ui_->ListIndex(currentIndex_);
            return true;
        }
        case kCmdToggleBreakpoint: ToggleBreakpoint(index, item); return true;
        case kCmdClearBreakpoints: ClearBreakpoints(); return true;
        case kCmdDelete:
            DeleteItem(index, item);
            if (ui_) ui_->OnDeleteCommand();
            return true;
        case kCmdRestart: Restart(); return true;
        case kCmdSelectTarget: return SelectTargetOfCurrent();
        default: return true;
    }
}

void Playback::SetCurrentItem(NodeIt item, int32_t index) {
    if (item == current_) return;
    const int32_t oldIndex = currentIndex_;
    FlagsOf(current_) &= ~ChangeNode::kCurrent;
    FlagsOf(item) |= ChangeNode::kCurrent;
    current_ = item;
    currentIndex_ = index;
    if (ui_) ui_->RefreshGlyphs(oldIndex, index);
}

void Playback::DeleteItem(int32_t index, PlaybackItem item) {
    if (item == 0 || item == kEndItem) return;
    const NodeIt it = Find(item, false);
    if (it == current_) SetCurrentItem(std::next(it), index);
    if (it->Flags & ChangeNode::kBreakpoint) --breakpointCount_;
    if (auto* lib = dynamic_cast<LibChange*>(it->Change.get()); lib && lib->IsNewLibraryIdentity())
        deletedIdentity_ = lib->Guid();
    byId_.erase(it->Id);
    items_.erase(it);
    // Only later items are offered for deletion; should an earlier one go, the
    // position still counts right.
    if (index < currentIndex_) --currentIndex_;
    if (ui_) {
        ui_->RemoveItem(index);
        ui_->ListIndex(index);
    }
}

void Playback::ToggleBreakpoint(int32_t index, PlaybackItem item) {
    if (item == 0 || item == kEndItem) return;  // the end line takes no breakpoint
    const NodeIt it = Find(item, false);
    const bool hadAny = breakpointCount_ != 0;
    it->Flags ^= ChangeNode::kBreakpoint;
    breakpointCount_ += (it->Flags & ChangeNode::kBreakpoint) ? 1 : -1;
    if (ui_) {
        ui_->RefreshGlyphs(index, -1);
        if (hadAny != (breakpointCount_ != 0)) ui_->ListIndex(index);
    }
}

void Playback::ClearBreakpoints() {
    if (breakpointCount_ == 0) return;
    for (ChangeNode& node : items_) node.Flags &= ~ChangeNode::kBreakpoint;
    breakpointCount_ = 0;
    if (ui_) {
        ui_->ListIndex(ui_->ListIndex());
        ui_->RefreshAll();
    }
}

void Playback::Restart() {
    SetCurrentItem(items_.begin(), 0);
    if (ui_) {
        ui_->ListIndex(0);
        ui_->OnRestartCommand();
    }
}

void Playback::ClearItems() noexcept {
    items_.clear();
    byId_.clear();
    current_ = items_.end();
    endFlags_ = ChangeNode::kCurrent;
    currentIndex_ = 0;
    executedCount_ = 0;
    breakpointCount_ = 0;
    deletedIdentity_.reset();
}

void Playback::ResetHistory() {
    std::shared_ptr<IHistoryReferenceCache> cache = historyFile_->NewCache();
    ClearItems();
    cache_ = std::move(cache);
    if (ui_) {
        ui_->RemoveAllItems();
        ui_->AddItem(0, kEndItem);
        ui_->ListIndex(0);
    }
}

void Playback::FillUI(IPlaybackUI& ui) {
    ui.RemoveAllItems();
    int32_t index = 0;
    for (const ChangeNode& node : items_) ui.AddItem(index++, node.Id);
    ui.AddItem(index, kEndItem);
    // The position stays: a window opened in the middle of a run shows the run's place.
    ui.ListIndex(currentIndex_);
}

bool Playback::ActivateUserInterface(bool& runPending) {
    if (ui_) {
        runPending = false;
        return true;
    }
    if (!activator_) return false;
    IPlaybackUIActivation* activator = std::exchange(activator_, nullptr);  // used once
    IPlaybackUI* ui = activator->ActivateUI(*this, runPending);
    if (!ui) return false;
    ui_ = ui;
    FillUI(*ui);
    return true;
}

bool Playback::ActivateUI() {
    bool runPending = false;
    return ActivateUserInterface(runPending);
}

void Playback::UIActivator(IPlaybackUIActivation* activator) {
    activator_ = activator;
    ui_ = nullptr;
}

// ---- Hub and libraries ----

void Playback::ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub) {
    node_.Release();
    hub_ = std::move(hub);
    ResetHistory();
    if (hub_) hub_->AddListenerNode(node_, static_cast<IChangeListener&>(*this));
}

CustomTypeLib& Playback::Library() {
    if (!library_) library_ = std::make_unique<CustomTypeLib>();
    return *library_;
}

void Playback::AttachLibrary(ole::ITypeLib* library) {
    Library().Attach(library);  // refuses a library it cannot edit, changing nothing
    currentITypeLib_ = ole::ComPtr<ole::ITypeLib>(library);
}

ole::ComPtr<ole::ITypeLib> Playback::CurrentITypeLib() {
    if (!library_ || !library_->ReadView()) return nullptr;
    return library_->GenerateDirect(false);
}

void Playback::CurrentITypeLib(ole::ITypeLib* library) {
    AttachLibrary(library);
    libraryIsNew_ = false;
    ResetHistory();
}

ole::ComPtr<tli::TypeLibInfo> Playback::CurrentLibrary() {
    if (!library_ || !library_->ReadView()) return nullptr;
    return library_->Generate(false);
}

void Playback::CurrentLibrary(tli::TypeLibInfo* library) {
    ole::ComPtr<ole::ITypeLib> lib;
    if (library) CheckHr(library->get_ITypeLib(lib.put()));
    CurrentITypeLib(lib.get());
}

void Playback::AttachITypeLib(ole::ITypeLib* library) {
    AttachLibrary(library);
    libraryIsNew_ = false;
    SetCurrentItem(items_.begin(), 0);
}

void Playback::UnresolvedITypeLib(ole::ITypeLib* library) {
    if (library && !modITypeInfoHelper::IsUnresolvedTypesLib(library))
        RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(814));
    unresolved_ = ole::ComPtr<ole::ITypeLib>(library);
}

void Playback::RefreshCurrentSelection(ListenerTag tag) {
    if (!IsItem(tag)) return;
    SetCurrentItem(byId_.at(tag), currentIndex_ + executedCount_);
    executedCount_ = 0;
    if (ui_) ui_->ListIndex(currentIndex_);
}

// ---- History files ----

bool Playback::SaveState(std::u16string_view folder, std::u16string_view fileName) {
    const fs::path file = HistoryPath(folder, fileName);
    return Save(file, ExpectedAt(file));
}

bool Playback::SaveStateReplacing(std::u16string_view folder, std::u16string_view fileName) {
    return Save(HistoryPath(folder, fileName), std::nullopt);
}

bool Playback::Save(const fs::path& file, const std::optional<ole::FileIdentity>& expected) {
    if (items_.empty()) return false;
    const std::u16string path = ole::FromUtf8(file.string());
    // The whole file first: an item it can't hold leaves the file alone.
    const std::vector<std::byte> bytes = historyFile_->EditHistoryBytes(file, items_, *cache_);
    // Written as a library file is saved, locked while it is written.
    const ole::SaveGuard guard(path, expected);
    if (ole::FAILED(ole::ReplaceFileContents(path, bytes)))
        RaiseError(kErrPathFileAccess, ole::GetLastFileWriteError());
    fileName_ = file;
    file_ = Resolved(file);
    fileIdentity_ = guard.Saved();
    return true;
}

bool Playback::FileChanged(std::u16string_view folder, std::u16string_view fileName) {
    const fs::path file = HistoryPath(folder, fileName);
    const std::optional<ole::FileIdentity> expected = ExpectedAt(file);
    return expected && ole::GetFileIdentity(ole::FromUtf8(file.string())) != *expected;
}

std::optional<ole::FileIdentity> Playback::ExpectedAt(const fs::path& file) const {
    // Saving as the file the history belongs to still keeps another writer's
    // save; so does saving by its name, which may lead to another file now.
    if (file_.empty() || (file != fileName_ && Resolved(file) != file_)) return std::nullopt;
    return fileIdentity_;
}

void Playback::ClearState() {
    ResetHistory();
    fileName_.clear();
    file_.clear();
}

void Playback::LoadState(std::u16string_view folder, std::u16string_view fileName) {
    const fs::path file = HistoryPath(folder, fileName);
    // Taken before the file is read: a save expects the file read.
    const ole::FileIdentity identity = ole::GetFileIdentity(ole::FromUtf8(file.string()));
    std::shared_ptr<IHistoryReferenceCache> cache = historyFile_->NewCache();
    NodeList loaded = historyFile_->ReadEditHistory(file, *cache);
    for (ChangeNode& node : loaded) {
        if (!node.Change || !IsChangeKind(node.KindCode()))
            RaiseError(kErrInvalidArgument, modSupport::LoadResStringById(710));
        node.Flags &= ~(ChangeNode::kCurrent | ChangeNode::kBreakpoint);
    }
    byId_.reserve(loaded.size());
    // The whole file has been read: the new history replaces the old one.
    ClearItems();
    items_.splice(items_.end(), loaded);
    cache_ = std::move(cache);
    fileName_ = file;
    file_ = Resolved(file);
    fileIdentity_ = identity;
    for (NodeIt it = items_.begin(); it != items_.end(); ++it) Adopt(it);
    if (!items_.empty()) {
        endFlags_ = 0;
        items_.front().Flags |= ChangeNode::kCurrent;
        current_ = items_.begin();
    }
    if (ui_) FillUI(*ui_);
}

}  // namespace zephrin

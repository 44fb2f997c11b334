#include "changes/trackers/RecordGuidTracker.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "changes/hub/IAttributeChange.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "regen/IExternalTypeRedirection.h"

namespace zephrin {

using namespace modRecordGuidTracker;

// The tracker as the regeneration's redirection watcher. It lives as long as
// the generation holds it; the tracker cuts the link when it goes.
class RecordGuidTracker::Watcher final : public ole::RefCounted<IExternalTypeRedirection> {
public:
    explicit Watcher(RecordGuidTracker* owner) : owner_(owner) {}
    void Detach() { owner_ = nullptr; }

    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<IExternalTypeRedirection>(this, riid, ppv);
    }
    // A refusal is raised as an error record, which ends the generation.
    ole::HRESULT OnTypeRedirection(ole::LONG flags, tli::TypeInfo* source, tli::TypeInfo* dest) override {
        if (owner_) owner_->OnTypeRedirection(flags, source, dest);
        return ole::S_OK;
    }

private:
    RecordGuidTracker* owner_;
};

namespace {

// One side of a reported redirection: what the record is and where it lies.
struct Side {
    ole::TYPEKIND kind = ole::TKIND_MAX;
    ole::GUID guid{};
    Place place;
    std::u16string typeName;
    std::u16string libraryName;
};

// The side as far as it can be read; a type that cannot be read counts as no record.
Side ReadSide(tli::TypeInfo* type, bool inStartingLib) {
    Side side;
    ole::ComPtr<ole::ITypeInfo> ti;
    ole::ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    if (!type || ole::FAILED(type->get_ITypeInfo(ti.put())) || !ti ||
        ole::FAILED(ti->GetContainingTypeLib(lib.put(), &index)) ||
        !ReadType(lib.get(), static_cast<int32_t>(index), side.kind, side.guid, &side.typeName))
        return Side{};
    side.place.Tracked = inStartingLib;
    if (!inStartingLib && !ReadLibraryId(lib.get(), side.place.Library)) return Side{};
    side.libraryName = GetLibraryNameOrCurrent(lib.get(), inStartingLib);
    return side;
}

// The library the types of an internalize change come from; the tracked
// library when it can't be read.
Place SourcePlace(IChange& change) {
    Place place;
    auto* internalize = dynamic_cast<InternalizeTypesChange*>(&change);
    tli::VarTypeInfo* described = internalize ? internalize->VarTypeInfo().get() : nullptr;
    ole::ComPtr<tli::TypeInfo> type;
    ole::ComPtr<ole::ITypeInfo> ti;
    ole::ComPtr<ole::ITypeLib> lib;
    ole::UINT index = 0;
    if (described && ole::SUCCEEDED(described->get_TypeInfo(type.put())) && type &&
        ole::SUCCEEDED(type->get_ITypeInfo(ti.put())) && ti &&
        ole::SUCCEEDED(ti->GetContainingTypeLib(lib.put(), &index)))
        place.Tracked = !ReadLibraryId(lib.get(), place.Library);
    return place;
}

}  // namespace

RecordGuidTracker::RecordGuidTracker() : watcher_(new Watcher(this)) {}

RecordGuidTracker::~RecordGuidTracker() { watcher_->Detach(); }

void RecordGuidTracker::ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub) {
    node_.Release();
    hub_ = std::move(hub);
    if (hub_) hub_->AddListenerNode(node_, static_cast<IChangeListener&>(*this));
}

void RecordGuidTracker::Initialize(ole::ITypeLib* lib) {
    state_.Clear();
    pending_.clear();
    before_ = {};
    if (!lib) RaiseError(kErrInvalidArgument);
    if (!ReadLibraryId(lib, state_.Library, &state_.Lcid)) RaiseError(kErrInvalidArgument);
    state_.InitialLibrary = state_.Library;
    state_.InitialLcid = state_.Lcid;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        Entry e;
        ole::TYPEKIND kind = ole::TKIND_MAX;
        if (!ReadType(lib, static_cast<int32_t>(i), kind, e.Initial, &e.Name)) RaiseError(kErrInvalidArgument);
        if (kind != ole::TKIND_RECORD || IsNullGuid(e.Initial)) continue;
        e.Current = e.Initial;
        e.Flags = kTrackedRecord;
        state_.Add(std::move(e));
    }
}

std::vector<Entry*> RecordGuidTracker::FindLive(const ole::GUID& guid, const Place& place) const {
    // A record without a GUID can't be told from another one without.
    std::vector<Entry*> live;
    if (IsNullGuid(guid)) return live;
    for (Entry* e : state_.WithCurrent(guid))
        if (!(e->Flags & kDeleted) && e->CurrentPlace == place) live.push_back(e);
    return live;
}

bool RecordGuidTracker::AnyCurrent(const ole::GUID& guid) const { return !state_.WithCurrent(guid).empty(); }

bool RecordGuidTracker::AnyDeleted(const ole::GUID& guid) const {
    // A deleted entry is back at its first GUID.
    const std::vector<Entry*>& entries = state_.WithCurrent(guid);
    return std::any_of(entries.begin(), entries.end(), [](const Entry* e) { return (e->Flags & kDeleted) != 0; });
}

void RecordGuidTracker::MarkDeleted(Entry& e) {
    e.Flags |= kDeleted;
    state_.Rekey(e, e.Initial);
    e.CurrentPlace = e.InitialPlace;
}

int32_t RecordGuidTracker::ChangeCount() {
    // A new library GUID is one change: the descriptors name the library.
    int32_t count = state_.Library.Guid == state_.InitialLibrary.Guid ? 0 : 1;
    // A record now in another library counts too: its descriptors name the old one.
    for (Entry& e : state_.Entries) {
        if (e.Initial == e.Current && e.InitialPlace == e.CurrentPlace) {
            e.Flags &= ~kChanged;
        } else {
            e.Flags |= kChanged;
            ++count;
        }
    }
    return count;
}

// ---- Redirections ----

void RecordGuidTracker::ProvideExternalTypeRedirection(ole::ComPtr<IExternalTypeRedirection>& redirection) {
    FreePendingChanges();
    redirection = ole::ComPtr<IExternalTypeRedirection>(watcher_.get());
}

void RecordGuidTracker::OnTypeRedirection(int32_t flags, tli::TypeInfo* source, tli::TypeInfo* dest) {
    const Side from = ReadSide(source, flags & IExternalTypeRedirection::kSourceInStartingLib);
    const Side to = ReadSide(dest, flags & IExternalTypeRedirection::kDestInStartingLib);
    if (from.kind != ole::TKIND_RECORD || to.kind != ole::TKIND_RECORD) return;
    const bool fromNull = IsNullGuid(from.guid), toNull = IsNullGuid(to.guid);
    if (fromNull && toNull) return;
    if (fromNull != toNull) {
        if (!raiseErrors_) return;
        RaiseError(ole::E_FAIL,
                   modSupport::LoadResStringFormat(fromNull ? 1020 : 1021, {from.libraryName + u"." + from.typeName,
                                                                            to.libraryName + u"." + to.typeName}));
    }
    if (from.guid == to.guid && from.place == to.place) return;
    Redirection r{from.guid, to.guid, from.place, to.place, from.typeName};
    // The generation reports every reference it maps; one is enough.
    if (pendingSeen_.insert(r).second) pending_.push_back(std::move(r));
}

void RecordGuidTracker::FreePendingChanges() {
    pending_.clear();
    pendingSeen_.clear();
}

void RecordGuidTracker::CommitPendingChanges() {
    // Every redirection applies to the records as they were before this
    // generation, so that A to B and B to C do not make A go to C.
    std::vector<std::pair<Entry*, const Redirection*>> moves;
    std::vector<const Redirection*> fresh;
    for (const Redirection& r : pending_) {
        const std::vector<Entry*> live = FindLive(r.From, r.FromPlace);
        for (Entry* e : live) moves.emplace_back(e, &r);
        // A record of another library is followed from now on.
        if (live.empty() && !r.FromPlace.Tracked) fresh.push_back(&r);
    }
    for (auto& [e, r] : moves) {
        state_.Rekey(*e, r->To);
        e->CurrentPlace = r->ToPlace;
    }
    for (const Redirection* r : fresh) {
        Entry e;
        e.Initial = r->From;
        e.InitialPlace = r->FromPlace;
        e.Current = r->To;
        e.CurrentPlace = r->ToPlace;
        e.Flags = kExternal;
        e.Name = r->FromName;
        state_.Add(std::move(e));
    }
    FreePendingChanges();
}

void RecordGuidTracker::OnRedirectTypesChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    CommitPendingChanges();
    // A record type the regenerated library no longer has was replaced: it
    // is not followed any more, as if deleted.
    ole::ITypeLib* lib = target.ReplacementLibrary.get();
    if (!lib) return;
    std::unordered_set<ole::GUID> records;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = 0; i < count; ++i) {
        ole::TYPEKIND kind = ole::TKIND_MAX;
        ole::GUID guid{};
        if (!ReadType(lib, static_cast<int32_t>(i), kind, guid)) return;  // unreadable: change nothing
        if (kind == ole::TKIND_RECORD) records.insert(guid);
    }
    for (Entry& e : state_.Entries)
        if (!(e.Flags & kDeleted) && e.CurrentPlace.Tracked && !IsNullGuid(e.Current) && !records.count(e.Current))
            MarkDeleted(e);
}

void RecordGuidTracker::OnInternalizeTypesChange(ChangeTarget& target, IChange& change, int32_t, ListenerTag) {
    // The types taken in follow the types the library had.
    ole::ITypeLib* lib = target.ReplacementLibrary ? target.ReplacementLibrary.get() : target.Library.get();
    if (!lib) return;
    // They all come from the library of the change's type: a program's
    // descriptors name that library until they are patched.
    const Place from = SourcePlace(change);
    const ole::UINT first = target.ReplacementLibrary && target.Library ? target.Library->GetTypeInfoCount() : 0;
    const ole::UINT count = lib->GetTypeInfoCount();
    for (ole::UINT i = first; i < count; ++i) {
        Entry added;
        ole::TYPEKIND kind = ole::TKIND_MAX;
        if (!ReadType(lib, static_cast<int32_t>(i), kind, added.Initial, &added.Name)) continue;
        if (kind != ole::TKIND_RECORD || IsNullGuid(added.Initial) || !FindLive(added.Initial, Place{}).empty())
            continue;
        // The entries that now stand at the type taken in (its own, and those
        // of records of this or another library redirected to it) follow it in.
        bool own = false;
        for (Entry* e : from.Tracked ? std::vector<Entry*>{} : FindLive(added.Initial, from)) {
            if (e->Flags & kExternal) e->Flags = (e->Flags & ~kExternal) | kInternalized;
            e->CurrentPlace = Place{};
            own = own || (e->Initial == added.Initial && e->InitialPlace == from);
        }
        if (own) continue;
        added.Current = added.Initial;
        added.InitialPlace = from;
        added.Flags = kInternalized;
        state_.Add(std::move(added));
    }
}

// ---- Edits ----

void RecordGuidTracker::Refuse(int32_t messageId, bool& cancel) {
    before_ = {};
    cancel = true;
    if (messageBox_) messageBox_(modSupport::LoadResStringById(messageId));
}

void RecordGuidTracker::OnBeforeTypeChange(ChangeTarget& target, IChange& change, bool& cancel, ListenerTag) {
    before_ = {};
    ole::TYPEKIND kind = ole::TKIND_MAX;
    ole::GUID current{};
    if (target.Kind != kTargetType || !ReadType(target.Library.get(), target.TypeIndex, kind, current)) return;
    auto* attributes = dynamic_cast<IAttributeChange*>(&change);
    if (kind != ole::TKIND_RECORD || !attributes) return;
    before_ = {target.Library.get(), target.TypeIndex, current};
    const ole::GUID wanted = attributes->Guid();
    if (!raiseErrors_ || wanted == current) return;
    if (IsNullGuid(wanted))
        Refuse(1022, cancel);
    else if (IsNullGuid(current))
        Refuse(1023, cancel);
    else if ((!AnyCurrent(current) && AnyCurrent(wanted)) || AnyDeleted(wanted))
        Refuse(1024, cancel);
}

void RecordGuidTracker::OnTypeChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    const Before before = std::exchange(before_, {});
    if (before.library != target.Library.get() || before.typeIndex != target.TypeIndex) return;
    ole::TYPEKIND kind = ole::TKIND_MAX;
    ole::GUID now{};
    if (!ReadType(target.Library.get(), target.TypeIndex, kind, now) || now == before.guid) return;
    for (Entry* e : FindLive(before.guid, Place{})) state_.Rekey(*e, now);
}

void RecordGuidTracker::OnDeleteChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    ole::TYPEKIND kind = ole::TKIND_MAX;
    ole::GUID guid{};
    if (target.Kind != kTargetType || !ReadType(target.Library.get(), target.TypeIndex, kind, guid)) return;
    if (kind != ole::TKIND_RECORD) return;
    for (Entry* e : FindLive(guid, Place{})) MarkDeleted(*e);
}

void RecordGuidTracker::OnLibraryChange(ChangeTarget& target, IChange&, int32_t, ListenerTag) {
    LibraryId id;
    uint32_t lcid = 0;
    if (!ReadLibraryId(target.Library.get(), id, &lcid)) return;
    state_.Library = id;
    state_.Lcid = lcid;
}

// ---- The program file ----

bool RecordGuidTracker::UpdateRecordGuidsInExecutable(int32_t count, const std::filesystem::path& exePath,
                                                      std::span<const ole::ComPtr<ole::ITypeLib>> libraries) {
    if (count <= 0) return false;
    TextSection section = ReadTextSection(exePath);

    // The libraries the caller named, for the names in messages.
    std::vector<std::pair<LibraryId, std::u16string>> named;
    for (const auto& lib : libraries) {
        LibraryId id;
        if (lib && ReadLibraryId(lib.get(), id)) named.emplace_back(id, GetLibraryNameOrCurrent(lib.get(), false));
    }
    const std::u16string current = GetLibraryNameOrCurrent(nullptr, true);
    const auto nameOf = [&](const Place& place, bool initial) {
        if (place.Tracked) return current;
        for (const auto& [id, name] : named)
            if (id == place.Library) return name;
        return GuidToString(state_.Resolve(place, initial).Guid);
    };
    // The records of those libraries and of this one, to check that each
    // library's records went to one place; then the changed ones, to patch.
    // A record whose library changed its GUID moves with it.
    std::vector<PatchEntry> patches;
    std::unordered_map<const Entry*, size_t> taken;
    const auto take = [&](const Entry& e) -> PatchEntry& {
        const auto [at, added] = taken.emplace(&e, patches.size());
        if (!added) return patches[at->second];
        PatchEntry& p = patches.emplace_back();
        p.OldGuid = e.Initial;
        p.NewGuid = e.Current;
        p.OldLibrary = state_.Resolve(e.InitialPlace, true);
        p.NewLibrary = state_.Resolve(e.CurrentPlace, false);
        p.Moved = !(e.InitialPlace == e.CurrentPlace) || p.OldLibrary.Guid != p.NewLibrary.Guid;
        p.Patch = p.Moved;
        p.Name = e.Name;
        p.OldLibraryName = nameOf(e.InitialPlace, true);
        p.NewLibraryName = nameOf(e.CurrentPlace, false);
        return p;
    };
    for (const Entry& e : state_.Entries) {
        if (e.Flags & kDeleted) continue;
        const bool listed = !e.InitialPlace.Tracked && std::any_of(named.begin(), named.end(), [&](const auto& n) {
            return n.first == e.InitialPlace.Library;
        });
        if (e.InitialPlace.Tracked || listed) take(e);
    }
    int32_t changed = 0;
    for (const Entry& e : state_.Entries) {
        if (changed == count) break;
        if (!(e.Flags & kChanged)) continue;
        take(e).Patch = true;
        ++changed;
    }

    const std::vector<uint8_t> original = section.Bytes;
    if (!PatchSection(section, patches)) return false;
    WriteTextSection(section, original);
    return true;
}

}  // namespace zephrin

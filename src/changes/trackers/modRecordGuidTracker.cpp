#include "changes/trackers/modRecordGuidTracker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin::modRecordGuidTracker {

Entry& State::Add(Entry entry) {
    Entry& e = Entries.emplace_back(std::move(entry));
    std::vector<Entry*>& slot = byCurrent_[e.Current];
    e.Slot = slot.size();
    slot.push_back(&e);
    return e;
}

void State::Rekey(Entry& e, const ole::GUID& to) {
    if (e.Current == to) return;
    // Out of the old GUID's list: the last entry takes its slot.
    auto old = byCurrent_.find(e.Current);
    std::vector<Entry*>& from = old->second;
    from[e.Slot] = from.back();
    from[e.Slot]->Slot = e.Slot;
    from.pop_back();
    if (from.empty()) byCurrent_.erase(old);
    e.Current = to;
    std::vector<Entry*>& into = byCurrent_[to];
    e.Slot = into.size();
    into.push_back(&e);
}

const std::vector<Entry*>& State::WithCurrent(const ole::GUID& guid) const {
    static const std::vector<Entry*> kNone;
    auto it = byCurrent_.find(guid);
    return it == byCurrent_.end() ? kNone : it->second;
}

std::u16string GuidToString(const ole::GUID& guid) { return ole::GuidToString(guid); }

std::u16string GetLibraryNameOrCurrent(ole::ITypeLib* lib, bool tracked) {
    if (tracked || !lib) return modSupport::LoadResStringById(1027);
    ole::BSTR name = nullptr;
    if (ole::FAILED(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr))) return {};
    return typelib_detail::TakeBstr(name);
}

bool ReadLibraryId(ole::ITypeLib* lib, LibraryId& id, uint32_t* lcid) {
    ole::TLIBATTR* attr = nullptr;
    if (!lib || ole::FAILED(lib->GetLibAttr(&attr)) || !attr) return false;
    id = {attr->guid, attr->wMajorVerNum, attr->wMinorVerNum};
    if (lcid) *lcid = attr->lcid;
    lib->ReleaseTLibAttr(attr);
    return true;
}

bool ReadType(ole::ITypeLib* lib, int32_t index, ole::TYPEKIND& kind, ole::GUID& guid, std::u16string* name) {
    if (!lib || index < 0) return false;
    ole::ComPtr<ole::ITypeInfo> ti;
    if (ole::FAILED(lib->GetTypeInfo(static_cast<ole::UINT>(index), ti.put())) || !ti) return false;
    ole::TYPEATTR* attr = nullptr;
    if (ole::FAILED(ti->GetTypeAttr(&attr)) || !attr) return false;
    kind = attr->typekind;
    guid = attr->guid;
    ti->ReleaseTypeAttr(attr);
    if (name) {
        ole::BSTR text = nullptr;
        if (ole::FAILED(ti->GetDocumentation(-1, &text, nullptr, nullptr, nullptr))) return false;
        *name = typelib_detail::TakeBstr(text);
    }
    return true;
}

// ---- The program file ----

namespace {

constexpr size_t kSectionHeaderSize = 40;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;

[[noreturn]] void Malformed() { RaiseError(kErrInvalidArgument); }

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U32(b.data() + at); }

// A GUID as a program holds it in memory (little-endian fields).
using GuidBytes = std::array<uint8_t, 16>;
GuidBytes BytesOf(const ole::GUID& g) {
    GuidBytes b{};
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(g.Data1 >> (8 * i));
    b[4] = static_cast<uint8_t>(g.Data2);
    b[5] = static_cast<uint8_t>(g.Data2 >> 8);
    b[6] = static_cast<uint8_t>(g.Data3);
    b[7] = static_cast<uint8_t>(g.Data3 >> 8);
    std::memcpy(b.data() + 8, g.Data4, 8);
    return b;
}

// The GUID held in 16 bytes as BytesOf writes it.
ole::GUID GuidAt(const uint8_t* p) {
    ole::GUID g{};
    g.Data1 = U32(p);
    g.Data2 = static_cast<uint16_t>(p[4] | p[5] << 8);
    g.Data3 = static_cast<uint16_t>(p[6] | p[7] << 8);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

// n bytes at offset; a read that comes back short means the file changed
// under us, which counts as damage.
std::vector<uint8_t> ReadAt(int fd, uint64_t offset, size_t n) {
    std::vector<uint8_t> bytes(n);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, bytes.data() + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) RaiseError(kErrPathFileAccess);
        if (got == 0) Malformed();
        done += static_cast<size_t>(got);
    }
    return bytes;
}

bool WriteAt(int fd, uint64_t offset, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

TextSection::TextSection(TextSection&& other) noexcept
    : RawOffset(other.RawOffset),
      LoadAddress(other.LoadAddress),
      Bytes(std::move(other.Bytes)),
      fd_(std::exchange(other.fd_, -1)) {}

TextSection::~TextSection() {
    if (fd_ >= 0) ::close(fd_);
}

TextSection ReadTextSection(const std::filesystem::path& path) {
    TextSection section;
    section.fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (section.fd_ < 0) RaiseError(errno == ENOENT || errno == ENOTDIR ? kErrFileNotFound : kErrPathFileAccess);
    struct stat st {};
    if (::fstat(section.fd_, &st) != 0 || !S_ISREG(st.st_mode)) RaiseError(kErrPathFileAccess);
    // Root may open a read-only file for writing; the file still says it is read-only.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) RaiseError(kErrPathFileAccess);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const int fd = section.fd_;

    // DOS header: "MZ", and where the PE headers start.
    if (size < 0x40) Malformed();
    const std::vector<uint8_t> dos = ReadAt(fd, 0, 0x40);
    if (dos[0] != 'M' || dos[1] != 'Z') Malformed();
    const uint64_t ntAt = U32(dos, 0x3C);
    // "PE\0\0", then the file header: NumberOfSections, SizeOfOptionalHeader.
    if (ntAt + 24 > size) Malformed();
    const std::vector<uint8_t> nt = ReadAt(fd, ntAt, 24);
    if (U32(nt, 0) != 0x00004550) Malformed();
    const size_t sectionCount = U16(nt, 6);
    const size_t optionalSize = U16(nt, 0x14);
    // Optional header: PE32 only; ImageBase at +0x1C.
    const uint64_t optionalAt = ntAt + 24;
    if (optionalSize < 2 || optionalAt + optionalSize > size) Malformed();
    const std::vector<uint8_t> optional = ReadAt(fd, optionalAt, optionalSize);
    const uint16_t magic = U16(optional, 0);
    if (magic == kMagicPe32Plus || magic != kMagicPe32 || optionalSize < 0x20) Malformed();
    const uint64_t imageBase = U32(optional, 0x1C);
    // The section table, and every section's data, lie inside the file.
    const uint64_t tableAt = optionalAt + optionalSize;
    if (tableAt + sectionCount * kSectionHeaderSize > size) Malformed();
    const std::vector<uint8_t> table = ReadAt(fd, tableAt, sectionCount * kSectionHeaderSize);
    static constexpr uint8_t kText[8] = {'.', 't', 'e', 'x', 't', 0, 0, 0};
    const uint8_t* text = nullptr;
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint8_t* s = table.data() + i * kSectionHeaderSize;
        const uint64_t rawSize = U32(s + 16), rawAt = U32(s + 20);
        if (rawSize != 0 && rawAt + rawSize > size) Malformed();
        if (!text && std::memcmp(s, kText, 8) == 0) text = s;
    }
    if (!text) Malformed();
    section.RawOffset = U32(text + 20);
    section.LoadAddress = imageBase + U32(text + 12);
    const uint32_t rawSize = U32(text + 16);
    if (rawSize != 0) section.Bytes = ReadAt(fd, section.RawOffset, rawSize);
    return section;
}

bool PatchSection(TextSection& section, std::vector<PatchEntry>& entries) {
    std::vector<uint8_t>& bytes = section.Bytes;
    const size_t words = bytes.size() / 4;
    const uint64_t start = section.LoadAddress, end = start + bytes.size();
    const auto word = [&](size_t i) { return U32(bytes.data() + 4 * i); };
    struct Occurrence {
        size_t entry = 0;  // with a descriptor: the entry of the library it names
        const std::vector<size_t>* candidates = nullptr;  // the entries of that old GUID
        size_t word = 0;
        bool confirmed = false;
        std::vector<size_t> dependents;  // word indexes of the descriptors' library GUIDs
    };
    std::vector<GuidBytes> oldBytes;
    for (const PatchEntry& e : entries) oldBytes.push_back(BytesOf(e.OldGuid));

    // a. Every place that holds an old GUID, looked up by its first word and
    //    then by all 16 bytes, so that GUIDs sharing their first word cost no
    //    more; the search goes on after the 16 bytes found.
    std::unordered_set<uint32_t> firstWords;
    std::unordered_map<ole::GUID, std::vector<size_t>> byOldGuid;
    for (size_t k = 0; k < entries.size(); ++k) {
        firstWords.insert(U32(oldBytes[k].data()));
        byOldGuid[entries[k].OldGuid].push_back(k);
    }
    std::unordered_map<uint64_t, Occurrence> occurrences;  // by loaded address
    for (size_t i = 0; i + 4 <= words;) {
        const auto it = firstWords.count(word(i)) ? byOldGuid.find(GuidAt(bytes.data() + 4 * i)) : byOldGuid.end();
        if (it == byOldGuid.end()) {
            ++i;
            continue;
        }
        occurrences.emplace(start + 4 * i, Occurrence{0, &it->second, i, false, {}});
        i += 4;
    }
    if (occurrences.empty()) return false;

    // c. A descriptor: the address of an occurrence, followed by the address
    //    of the 16 bytes just before it, which name the record's library. It
    //    belongs to the entry of that GUID and library; another library's
    //    record of the same GUID is not ours to change.
    for (size_t i = 4; i + 2 <= words; ++i) {
        const uint64_t value = word(i);
        if (value < start || value >= end) continue;
        const auto it = occurrences.find(value);
        if (it == occurrences.end() || word(i + 1) != start + 4 * (i - 4)) continue;
        Occurrence& o = it->second;
        const uint8_t* library = bytes.data() + 4 * (i - 4);
        const auto owner = std::find_if(o.candidates->begin(), o.candidates->end(), [&](size_t k) {
            return std::memcmp(library, BytesOf(entries[k].OldLibrary.Guid).data(), 16) == 0;
        });
        if (owner == o.candidates->end() || (o.confirmed && o.entry != *owner)) continue;
        o.entry = *owner;
        o.confirmed = true;
        o.dependents.push_back(i - 4);
    }
    // d. Only entries with a confirmed occurrence take part. The records of one
    //    library must all go to one library, and no two libraries to the same.
    //    A moved entry fails on the first other entry, in order, that breaks
    //    one of these with it: one that stayed in its library (1026), or one
    //    moved before it from its library elsewhere or from elsewhere to its
    //    library (1025). The entries moved before it agree with each other, so
    //    the first of them by old and by new library are the ones to look at.
    std::vector<bool> confirmed(entries.size(), false);
    for (const auto& [address, o] : occurrences)
        if (o.confirmed) confirmed[o.entry] = true;
    static constexpr size_t kNone = SIZE_MAX;
    std::unordered_map<LibraryId, size_t, LibraryIdHash> firstStaying, firstMovedFrom, firstMovedTo;
    for (size_t k = 0; k < entries.size(); ++k)
        if (confirmed[k] && !entries[k].Moved) firstStaying.emplace(entries[k].OldLibrary, k);
    const auto lookUp = [](const auto& map, const LibraryId& id) {
        const auto it = map.find(id);
        return it == map.end() ? kNone : it->second;
    };
    for (size_t k = 0; k < entries.size(); ++k) {
        const PatchEntry& e = entries[k];
        if (!confirmed[k] || !e.Moved) continue;
        const size_t staying = lookUp(firstStaying, e.OldLibrary);
        size_t clash = lookUp(firstMovedFrom, e.OldLibrary);
        if (clash != kNone && entries[clash].NewLibrary == e.NewLibrary) clash = kNone;
        const size_t into = lookUp(firstMovedTo, e.NewLibrary);
        if (into != kNone && !(entries[into].OldLibrary == e.OldLibrary)) clash = std::min(clash, into);
        if (staying < clash)
            RaiseError(kErrInvalidArgument,
                       modSupport::LoadResStringFormat(
                           1026, {e.Name, e.OldLibraryName, e.NewLibraryName, entries[staying].Name}));
        if (clash != kNone) {
            const PatchEntry& o = entries[clash];
            RaiseError(kErrInvalidArgument,
                       modSupport::LoadResStringFormat(
                           1025, {e.Name, e.OldLibraryName, e.NewLibraryName, o.OldLibraryName, o.NewLibraryName}));
        }
        firstMovedFrom.emplace(e.OldLibrary, k);
        firstMovedTo.emplace(e.NewLibrary, k);
    }
    bool changed = false;
    const auto write = [&](size_t at, const GuidBytes& value) {
        if (std::memcmp(bytes.data() + 4 * at, value.data(), 16) == 0) return;
        std::memcpy(bytes.data() + 4 * at, value.data(), 16);
        changed = true;
    };
    for (const auto& [address, o] : occurrences) {
        const PatchEntry& e = entries[o.entry];
        if (!o.confirmed || !e.Patch) continue;
        if (!IsNullGuid(e.NewGuid)) write(o.word, BytesOf(e.NewGuid));
        if (!e.Moved) continue;
        const GuidBytes oldLib = BytesOf(e.OldLibrary.Guid);
        for (size_t at : o.dependents)
            if (std::memcmp(bytes.data() + 4 * at, oldLib.data(), 16) == 0) write(at, BytesOf(e.NewLibrary.Guid));
    }
    return changed;
}

void WriteTextSection(TextSection& section, const std::vector<uint8_t>& original) {
    if (WriteAt(section.fd_, section.RawOffset, section.Bytes) && ::fsync(section.fd_) == 0) return;
    (void)WriteAt(section.fd_, section.RawOffset, original);  // best effort: the file as it was
    RaiseError(kErrPathFileAccess);
}

}  // namespace zephrin::modRecordGuidTracker

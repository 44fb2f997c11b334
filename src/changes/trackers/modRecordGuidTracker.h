// The state of the record GUID tracker and the patching of a program file.
//
// A program that uses a record type of a library embeds, in its code section,
// the record's GUID and a descriptor of three parts: a 16-byte GUID (the
// record's library), then the address of the record's GUID, then the address
// of that library GUID. Patching finds the old GUIDs of the records that
// changed, keeps only those a descriptor points at, and overwrites them with
// the new GUIDs (and a descriptor's library GUID with the new library's when
// the record moved to another library).
#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/automation/OleTypes.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::modRecordGuidTracker {

struct LibraryId {
    ole::GUID Guid{};
    uint16_t Major = 0;
    uint16_t Minor = 0;
    friend bool operator==(const LibraryId&, const LibraryId&) = default;
};

struct LibraryIdHash {
    size_t operator()(const LibraryId& id) const {
        return std::hash<ole::GUID>()(id.Guid) ^ (size_t{id.Major} << 16 | id.Minor);
    }
};

// Where a record lies: in the tracked library, or in another one.
struct Place {
    bool Tracked = true;
    LibraryId Library;  // when not Tracked
    friend bool operator==(const Place& a, const Place& b) {
        return a.Tracked == b.Tracked && (a.Tracked || a.Library == b.Library);
    }
};

// Entry flags.
inline constexpr uint32_t kTrackedRecord = 1;  // a record type of the tracked library
inline constexpr uint32_t kDeleted = 2;        // deleted: back at its first GUID, no longer followed
inline constexpr uint32_t kChanged = 4;        // set by ChangeCount: first and present GUID differ
inline constexpr uint32_t kInternalized = 8;   // copied into the library from another one
inline constexpr uint32_t kExternal = 32;      // a record of another library, redirected

// One followed record: its GUID and place at the start and now.
struct Entry {
    ole::GUID Current{};
    ole::GUID Initial{};
    Place CurrentPlace;
    Place InitialPlace;
    uint32_t Flags = 0;
    std::u16string Name;  // the type's name when it was first seen
    size_t Slot = 0;      // where the entry stands in the index of its current GUID
};

// A redirection of one record type to another, reported during a generation.
struct Redirection {
    ole::GUID From{};
    ole::GUID To{};
    Place FromPlace;
    Place ToPlace;
    std::u16string FromName;
    friend bool operator==(const Redirection&, const Redirection&) = default;
};

struct RedirectionHash {
    size_t operator()(const Redirection& r) const {
        const std::hash<ole::GUID> guid;
        return guid(r.From) ^ (guid(r.To) * 31) ^ std::hash<std::u16string>()(r.FromName);
    }
};

struct State {
    LibraryId Library;  // the tracked library now
    LibraryId InitialLibrary;
    uint32_t Lcid = 0;
    uint32_t InitialLcid = 0;
    std::list<Entry> Entries;  // stable addresses, in the order they were made

    void Clear() { *this = State(); }
    // Adds an entry; its current GUID is indexed.
    Entry& Add(Entry entry);
    // Gives e another current GUID.
    void Rekey(Entry& e, const ole::GUID& to);
    // The entries (deleted ones too) whose current GUID is guid.
    const std::vector<Entry*>& WithCurrent(const ole::GUID& guid) const;
    // The library a place names (the tracked library as it was or is now).
    LibraryId Resolve(const Place& place, bool initial) const {
        return place.Tracked ? (initial ? InitialLibrary : Library) : place.Library;
    }

private:
    std::unordered_map<ole::GUID, std::vector<Entry*>> byCurrent_;
};

inline bool IsNullGuid(const ole::GUID& g) { return g == ole::GUID_NULL; }

// A GUID in registry form, 38 characters with braces.
std::u16string GuidToString(const ole::GUID& guid);
// The library's name; "current library" (string 1027) for the tracked one.
std::u16string GetLibraryNameOrCurrent(ole::ITypeLib* lib, bool tracked);
// The GUID, version and LCID of a library; false when they cannot be read.
bool ReadLibraryId(ole::ITypeLib* lib, LibraryId& id, uint32_t* lcid = nullptr);
// The kind, GUID and name of type index of lib; false when it cannot be read.
bool ReadType(ole::ITypeLib* lib, int32_t index, ole::TYPEKIND& kind, ole::GUID& guid, std::u16string* name = nullptr);

// ---- The program file ----

// One record as the patching sees it.
struct PatchEntry {
    ole::GUID OldGuid{};
    ole::GUID NewGuid{};
    LibraryId OldLibrary;
    LibraryId NewLibrary;
    bool Moved = false;  // now in another library than at the start
    bool Patch = false;  // to be written (otherwise only checked against the others)
    std::u16string Name, OldLibraryName, NewLibraryName;
};

// The ".text" section of a PE32 file opened for reading and writing.
class TextSection {
public:
    TextSection() = default;
    TextSection(const TextSection&) = delete;
    TextSection& operator=(const TextSection&) = delete;
    TextSection(TextSection&& other) noexcept;
    TextSection& operator=(TextSection&&) = delete;
    ~TextSection();

    uint64_t RawOffset = 0;    // PointerToRawData
    uint64_t LoadAddress = 0;  // ImageBase + VirtualAddress
    std::vector<uint8_t> Bytes;

private:
    friend TextSection ReadTextSection(const std::filesystem::path& path);
    friend void WriteTextSection(TextSection& section, const std::vector<uint8_t>& original);
    int fd_ = -1;
};

// Opens the file for reading and writing and reads its ".text" section. The
// file is not trusted: anything that does not fit in it, a missing section,
// and any image but PE32 (PE32+ included) raise error 5. A file that cannot be
// opened for writing, or has no write permission at all, raises error 75
// (53 when it does not exist).
TextSection ReadTextSection(const std::filesystem::path& path);

// Finds and overwrites, in section.Bytes, the old GUIDs of the entries that a
// record descriptor points at. Raises error 5 with message 1025 or 1026 when
// the records of one library were not all moved to one other library.
// Returns whether a byte changed.
bool PatchSection(TextSection& section, std::vector<PatchEntry>& entries);

// Writes section.Bytes back in place. When the write fails, the original
// bytes are written back and error 75 is raised.
void WriteTextSection(TextSection& section, const std::vector<uint8_t>& original);

}  // namespace zephrin::modRecordGuidTracker

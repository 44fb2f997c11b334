// The history reference cache: the libraries, types and type descriptions that
// the changes of one history refer to, kept as plain descriptions (GUIDs,
// versions, names, numbers, bounds) so that the history holds no live library.
// Libraries and types are shared between the changes that name the same one;
// each type description is an entry of its own. The cache numbers its entries
// and writes them as the three reference tables of the history file, and reads
// them back.
//
// Entries live while a change or the cache's lists hold them; the lists hold
// every entry, so nothing a change holds can dangle. The tables of a saved
// history hold only the entries its changes use.
//
// A type is tied to a library entry only when it is external to the library
// being edited: such a type is found again in the recorded library (registry,
// then relative path, then absolute path). Types of the edited library are
// found in whatever library the history is run against, and so are the types
// that another writer tied to a record with that library's own LIBID.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "changes/hub/IHistoryReferenceCache.h"
#include "foundation/modBounds.h"
#include "platform/automation/OleTypes.h"

namespace zephrin {

class HistoryFileReader;
class HistoryFileWriter;

class CachedLibrary {
public:
    int32_t Ordinal() const { return ordinal_; }
    ole::LCID Lcid() const { return lcid_; }
    // The library, loaded on first use: the registered one of its GUID,
    // version and locale, else the file at the relative path (made absolute
    // when the history was read), else the file at the absolute path. Raises
    // error 53 "Cannot find library ..." when none loads.
    ole::ComPtr<ole::ITypeLib> GetTypeLib();
    // Whether lib has this library's LIBID (whatever its version and locale).
    bool Names(ole::ITypeLib* lib) const;

private:
    friend class VTICache;
    int32_t ordinal_ = -1;
    ole::GUID guid_{};
    uint16_t major_ = 0;
    uint16_t minor_ = 0;
    ole::LCID lcid_ = 0;
    std::u16string relativePath_;  // set only for a library read from a history file
    std::u16string path_;
    std::u16string name_;
    ole::ComPtr<ole::ITypeLib> library_;
};

class CachedType {
public:
    int32_t Ordinal() const { return ordinal_; }
    // The type: with the entry of another library than context, looked up
    // once in that library and kept; otherwise looked up in context on every
    // call. Found by GUID, then by name, then by type number, each accepted
    // only when its TYPEKIND matches (for a dual, that of either of its
    // views). Raises error 9 "Cannot find ..." when none matches.
    ole::ComPtr<ole::ITypeInfo> GetTypeInfo(ole::ITypeLib* context);

private:
    friend class VTICache;
    ole::ComPtr<ole::ITypeInfo> Find(ole::ITypeLib* lib) const;

    int32_t ordinal_ = -1;
    bool hasGuid_ = false;
    // The type's GUID; for a type without one, the name hash in Data1.
    ole::GUID key_{};
    int16_t typeKind_ = 0;
    int16_t typeNumber_ = 0;
    std::u16string name_;
    std::shared_ptr<CachedLibrary> library_;
    ole::ComPtr<ole::ITypeInfo> type_;
};

class CachedVarType final : public ICachedVarType {
public:
    int32_t Ordinal() const override { return ordinal_; }
    ole::ComPtr<tli::VarTypeInfo> GetVarTypeInfo(ole::ITypeLib* context) override;

private:
    friend class VTICache;
    int32_t ordinal_ = -1;
    uint64_t owner_ = 0;  // the id of the cache that made it
    std::shared_ptr<CachedType> type_;  // null for an intrinsic type
    // The intrinsic VARTYPE (0 for a user-defined type) | 0x1000 fixed-size
    // array | 0x2000 SAFEARRAY.
    ole::VARTYPE varType_ = 0;
    int16_t pointerLevel_ = 0;
    int16_t elementPointerLevel_ = 0;
    BoundsTable bounds_;  // true (lower, upper) pairs of a fixed-size array
};

class VTICache final : public IHistoryReferenceCache {
public:
    using RecordWriterFn = std::function<void(HistoryFileWriter&)>;
    using RecordReaderFn = std::function<void(HistoryFileReader&)>;

    // ---- IHistoryReferenceCache ----
    std::shared_ptr<ICachedVarType> AddVarType(tli::VarTypeInfo* type) override;
    bool Holds(const ICachedVarType* entry) const override;
    // Only while the history file is written or read; an ordinal outside the
    // type-description table is refused (error 5, "Library Edit History file
    // has unrecognized format.").
    std::shared_ptr<ICachedVarType> GetVarType(int32_t ordinal) override;

    // While the history file is written: the ordinal of entry in the
    // type-description table, or -1 when the table does not hold it.
    int32_t OrdinalOf(const ICachedVarType* entry) const;

    // Drops the entries that no change uses any more (DropUnused), numbers
    // the rest, writes the library, type and type-description tables, then
    // calls writeRecords. folder is the history file's folder, against which
    // library paths are made relative.
    void SaveHistoryBody(HistoryFileWriter& out, const std::filesystem::path& folder,
                         const RecordWriterFn& writeRecords);
    // Reads the three tables, then calls readRecords, during which GetVarType
    // hands out the entries read. The entries join the cache only when both
    // succeed; on any error the cache is as it was. Positions outside an
    // earlier table are refused.
    void LoadHistoryBody(HistoryFileReader& in, const std::filesystem::path& folder, const RecordReaderFn& readRecords);

    // Drops the type descriptions that only the cache holds, then the types
    // and libraries that no remaining description names.
    void DropUnused();

    // Shared entries, for AddVarType. withLibrary ties the type to its library.
    std::shared_ptr<CachedType> AddType(tli::TypeInfo* type, bool withLibrary);
    std::shared_ptr<CachedLibrary> AddLibrary(tli::TypeLibInfo* library);

    size_t LibraryCount() const { return libraries_.size(); }
    size_t TypeCount() const { return types_.size(); }
    size_t VarTypeCount() const { return varTypes_.size(); }

    // path relative to folder, with "\" separators: the rest of path when
    // folder is a prefix of it, otherwise one "..\" for each further component
    // of folder, then the rest. Empty when path is empty or the two share no
    // first component.
    static std::u16string RelativePath(const std::filesystem::path& path, const std::filesystem::path& folder);

private:
    static constexpr size_t kBuckets = 127;
    static size_t Bucket(const ole::GUID& key) { return key.Data1 % kBuckets; }
    // The key of a type without GUID: its name hash and kind in Data1.
    static ole::GUID NameKey(const std::u16string& name, int16_t typeKind, const CachedLibrary* library);

    // Newest first for libraries and types, in order of addition for type
    // descriptions, as the tables are written.
    std::deque<std::shared_ptr<CachedLibrary>> libraries_;
    std::deque<std::shared_ptr<CachedType>> types_;
    std::vector<std::shared_ptr<CachedVarType>> varTypes_;
    std::array<std::vector<std::shared_ptr<CachedLibrary>>, kBuckets> libraryBuckets_;
    std::array<std::vector<std::shared_ptr<CachedType>>, kBuckets> typeBuckets_;
    // The type-description table while the history file is written or read.
    std::vector<std::shared_ptr<CachedVarType>> index_;
    // Tells this cache's entries from those of other caches.
    uint64_t id_ = NewId();
    static uint64_t NewId();
};

}  // namespace zephrin

// Writer of MSFT type library files.
//
// The image is built in memory, segment by segment: each segment is a byte
// vector that grows as the types are encoded, every offset is taken from the
// vectors' sizes, and the header and segment directory are written last, once
// every size is known. Nothing is ever patched in place on disk.
#include "platform/tlbfiles/MsftWriter.h"

#include "platform/tlbfiles/FileReplacement.h"
#include "platform/tlbfiles/MsftFormat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <unordered_map>

#include "platform/automation/BStr.h"
#include "platform/automation/NameHash.h"

namespace ole {

namespace {

constexpr int32_t kNone = -1;
constexpr uint8_t kPad = 0x57;

// A failure while building; turned into the HRESULT of BuildMsftImage.
struct BuildError {
    HRESULT hr;
};
[[noreturn]] void Fail(HRESULT hr) { throw BuildError{hr}; }

// The library whose missing GUID failed the last build on this thread.
thread_local std::u16string t_libraryWithoutGuid;

// ---- Text in the ANSI code page (Windows-1252) ----


void ToAnsiInto(std::u16string_view s, std::string& out) {
    out.resize(s.size());
    char* p = out.data();
    // Nearly all text is ASCII: narrowed in one pass the compiler can vectorise,
    // and looked at again only when some character is not.
    char16_t high = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        high |= s[i];
        p[i] = static_cast<char>(s[i]);
    }
    if (high < 0x80) return;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] >= 0x80) p[i] = ToAnsiChar(s[i]);
}

uint32_t HashText(std::string_view s) {
    uint32_t h = 2166136261u;
    for (char ch : s) h = (h ^ static_cast<uint8_t>(ch)) * 16777619u;
    return h;
}

// Offsets of segment entries, found by their text. The text stays in the
// segment; the table holds only offsets and hashes (open addressing).
class OffsetTable {
public:
    void Reserve(size_t n) {
        size_t cap = 16;
        while (cap < n * 2) cap <<= 1;
        slots_.assign(cap, Slot{0, -1});
        count_ = 0;
    }
    template <class Equal>
    int32_t Find(uint32_t hash, Equal equal) const {
        if (slots_.empty()) return -1;
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.offset < 0) return -1;
            if (s.hash == hash && equal(s.offset)) return s.offset;
        }
    }
    void Insert(uint32_t hash, int32_t offset) {
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i].offset >= 0) i = (i + 1) & mask;
        slots_[i] = Slot{hash, offset};
        ++count_;
    }

private:
    struct Slot {
        uint32_t hash;
        int32_t offset;
    };
    void Grow() {
        std::vector<Slot> old = std::move(slots_);
        Reserve(std::max<size_t>(old.size(), 8));
        for (const Slot& s : old)
            if (s.offset >= 0) Insert(s.hash, s.offset);
    }
    std::vector<Slot> slots_;
    size_t count_ = 0;
};

// ---- Byte vectors ----

class Bytes {
public:
    uint32_t size() const { return static_cast<uint32_t>(b_.size()); }
    bool empty() const { return b_.empty(); }
    void u8(uint8_t v) { b_.push_back(static_cast<std::byte>(v)); }
    // Little-endian values go straight into room made at the end (a range
    // insert costs more than the value).
    void u16(uint16_t v) {
        std::byte* p = Extend(2);
        p[0] = static_cast<std::byte>(v);
        p[1] = static_cast<std::byte>(v >> 8);
    }
    void u32(uint32_t v) {
        std::byte* p = Extend(4);
        p[0] = static_cast<std::byte>(v);
        p[1] = static_cast<std::byte>(v >> 8);
        p[2] = static_cast<std::byte>(v >> 16);
        p[3] = static_cast<std::byte>(v >> 24);
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    void raw(const void* p, size_t n) {
        auto* c = static_cast<const std::byte*>(p);
        b_.insert(b_.end(), c, c + n);
    }
    void text(std::string_view s) { raw(s.data(), s.size()); }
    void guid(const GUID& g) {
        u32(g.Data1);
        u16(g.Data2);
        u16(g.Data3);
        raw(g.Data4, 8);
    }
    void padTo(uint32_t multiple, uint8_t fill = kPad) {
        while (size() % multiple) u8(fill);
    }
    void fill(uint32_t n, uint8_t v) { b_.insert(b_.end(), n, static_cast<std::byte>(v)); }
    void put32(uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<std::byte>(v >> (8 * i));
    }
    uint32_t get32(uint32_t at) const {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b_[at + i]) << (8 * i);
        return v;
    }
    void append(const Bytes& o) { b_.insert(b_.end(), o.b_.begin(), o.b_.end()); }
    // Empties the bytes and keeps their room.
    void clear() { b_.clear(); }
    std::vector<std::byte>& vec() { return b_; }
    const std::vector<std::byte>& vec() const { return b_; }

private:
    std::byte* Extend(size_t n) {
        const size_t at = b_.size();
        b_.resize(at + n);
        return b_.data() + at;
    }
    std::vector<std::byte> b_;
};

using namespace msft;
constexpr int kSegCount = static_cast<int>(kSegmentCount);
// The order in which segments follow each other in the file.
constexpr std::array<Segment, 13> kPhysicalOrder = {
    kSegTypeInfo, kSegGuidHash, kSegGuids,     kSegRefTable,   kSegImportInfo,    kSegImportFiles, kSegNameHash,
    kSegNames,    kSegStrings,  kSegTypeDescs, kSegArrayDescs, kSegCustData,   kSegCdGuids};

bool IsIntrinsicInline(VARTYPE vt) {
    return vt != VT_PTR && vt != VT_SAFEARRAY && vt != VT_CARRAY && vt != VT_USERDEFINED;
}

bool EndsInUserDefined(const TypeDescData& t) {
    const TypeDescData* p = &t;
    while (!p->element.empty()) p = &p->element[0];
    return p->vt == VT_USERDEFINED;
}

// The base VT compilers record for an inline type (INT as I4, UINT as UI4,
// VOID as EMPTY); 0x7FFE for the string types, which have no VARIANT form.
uint16_t InlineBase(VARTYPE vt) {
    switch (vt) {
        case VT_INT: return VT_I4;
        case VT_UINT: return VT_UI4;
        case VT_VOID: return VT_EMPTY;
        case VT_LPSTR:
        case VT_LPWSTR: return 0x7FFE;
        default: return vt & 0x0FFF;
    }
}

// The second word of a type description node, which readers ignore: the
// VARIANT type the chain amounts to (BYREF for a pointer, ARRAY for a safe
// array, over an intrinsic type) when there is one; otherwise 0x7FFF when the
// chain ends in a user-defined type and 0x7FFE when it ends in an intrinsic one.
uint16_t NodeHint(const TypeDescData& t) {
    const uint16_t fallback = EndsInUserDefined(t) ? 0x7FFF : 0x7FFE;
    if ((t.vt != VT_PTR && t.vt != VT_SAFEARRAY) || t.element.empty()) return fallback;
    const TypeDescData& target = t.element[0];
    const uint16_t flag = t.vt == VT_PTR ? 0x4000 : 0x2000;
    if (IsIntrinsicInline(target.vt)) {
        uint16_t base = InlineBase(target.vt);
        return base == 0x7FFE ? fallback : static_cast<uint16_t>(base | flag);
    }
    if (t.vt == VT_PTR && target.vt == VT_SAFEARRAY) {
        uint16_t inner = NodeHint(target);
        if (inner != 0x7FFE && inner != 0x7FFF) return static_cast<uint16_t>(inner | flag);
    }
    return fallback;
}

// Bytes the platform needs to rebuild the nested part of a TYPEDESC in memory (32-bit sizes).
uint32_t NestedDescSize(const TypeDescData& t) {
    switch (t.vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            return 8 + (t.element.empty() ? 0 : NestedDescSize(t.element[0]));
        case VT_CARRAY: {
            uint32_t dims = t.Bounds().empty() ? 1 : static_cast<uint32_t>(t.Bounds().size());
            return 20 + 8 * (dims - 1) + (t.element.empty() ? 0 : NestedDescSize(t.element[0]));
        }
        default:
            return 0;
    }
}

struct ChainInfo {
    uint32_t slots = 0;  // functions of the whole chain (vtable slots)
    uint32_t depth = 0;  // interfaces in the chain
};

// The most bytes a member takes in its type's member block: its record (with
// every optional field), its id, name and record offset.
constexpr size_t kMostFuncBytes = 0x18 + 4 * 7 + 12;
constexpr size_t kMostParamBytes = 4 + 4 + 12;  // its custom data, default value and entry
constexpr size_t kMostVarBytes = 0x14 + 4 * 5 + 12;

class MsftBuilder {
public:
    explicit MsftBuilder(const LibraryData& d)
        : d_(d),
          ptr_(d.syskind == SYS_WIN64 ? 8u : 4u),
          hashLcid_(d.lcid == 0 ? 0x409u : d.lcid) {
        seg_[kSegGuidHash].fill(0x80, 0xFF);
        seg_[kSegNameHash].fill(0x200, 0xFF);
        for (const RefData& r : d.refs) refs_.emplace(r.href, &r);
        // The tables get room for a name or a string of each type and member.
        // Parameter names mostly repeat (the table grows if they don't), and a
        // table much larger than its entries misses the cache on every lookup.
        // The member blocks get room for the most they can take, so that they
        // are never copied to grow (room never written costs no memory).
        size_t members = 0;
        size_t blockBytes = 0;
        for (const TypeData& t : d.types) {
            members += t.funcs.size() + t.vars.size();
            if (!t.funcs.empty() || !t.vars.empty()) blockBytes += 4;
            for (const FuncData& f : t.funcs) blockBytes += kMostFuncBytes + kMostParamBytes * f.params.size();
            blockBytes += kMostVarBytes * t.vars.size();
        }
        names_.Reserve(d.types.size() + members);
        strings_.Reserve(d.types.size() + members / 2);
        if (blockBytes <= UINT32_MAX) memberBlocks_.vec().reserve(blockBytes);
        guids_.reserve(d.types.size() + 16);
    }

    std::vector<std::byte> Build();

private:
    // -- Tables --
    int32_t AddGuid(const GUID& g, int32_t marker);
    int32_t AddName(std::u16string_view name, int32_t owner, uint8_t flags, bool typeName = false);
    int32_t AddString(std::u16string_view s);
    int32_t AddStringOrNone(std::u16string_view s) { return s.empty() ? kNone : AddString(s); }

    // -- Encodings --
    int32_t EncodeType(const TypeDescData& t);
    int32_t EncodeValue(const VARIANT& v);
    int32_t EncodeCustData(const CustDataList& list);
    int32_t FileHref(HREFTYPE href);
    int32_t ImportFile(const GUID& lib, WORD major, WORD minor, LCID lcid, std::u16string_view fileName);
    int32_t ImportType(int32_t fileOffset, bool byGuid, const GUID& typeGuid, int index, TYPEKIND kind);
    int32_t LiveHref(ITypeInfo* ti);
    int32_t StdDispatchHref();

    // -- Types --
    void EncodeTypeInfo(size_t index);
    void EncodeMembers(const TypeData& t, uint32_t typeOffset, uint32_t* res2, uint32_t* res3);
    ChainInfo BaseChain(const TypeData& t, int guard);
    ChainInfo ExternalChain(ITypeInfo* ti, int guard);
    ComPtr<ITypeInfo> ResolveExternal(const RefData& r);

    const LibraryData& d_;
    uint32_t ptr_;
    LCID hashLcid_;
    std::array<Bytes, kSegCount> seg_;
    std::unordered_map<HREFTYPE, const RefData*> refs_;

    std::unordered_map<GUID, int32_t> guids_;
    struct NameSlot {
        int32_t offset;
    };
    OffsetTable names_;  // entries of the name segment, by text
    uint32_t nameCount_ = 0;
    uint32_t nameChars_ = 0;
    OffsetTable strings_;  // entries of the string segment, by text
    std::string ansi_;     // scratch text of the current lookup
    std::map<uint64_t, int32_t> typeDescs_;
    std::unordered_map<std::string, int32_t> values_;
    std::unordered_map<HREFTYPE, int32_t> hrefs_;
    std::map<std::tuple<GUID, WORD, WORD, LCID>, int32_t> importFiles_;
    std::map<std::tuple<int32_t, bool, GUID, int>, int32_t> importTypes_;
    int32_t dispatchHref_ = kNone;

    std::vector<std::array<int32_t, 3>> scratchParams_;  // per-function work lists, reused
    std::vector<int32_t> scratchDefaults_, scratchCust_, scratchOpt_;
    Bytes scratchValue_;  // a value's entry while it is looked up
    // Per-type work lists of EncodeMembers, reused.
    struct MemberLists {
        Bytes records, varRecords;
        std::vector<int32_t> ids, nameOffsets, recordOffsets, varIds, varNames, varOffsets;
        std::vector<uint32_t> sameIdLink;
        std::vector<std::pair<MEMBERID, uint32_t>> byId;
    } lists_;
    std::vector<uint32_t> typeHref_;     // the HREFTYPE that reaches each type (see Build)
    // The member blocks of all types, one after the other in type order, and
    // where each type's block starts (an empty block for a type without members).
    Bytes memberBlocks_;
    std::vector<uint32_t> blockStart_;
    std::vector<uint32_t> typeOffsets_;  // offset of each type record inside the type info segment
};

// ---- Tables ----

int32_t MsftBuilder::AddGuid(const GUID& g, int32_t marker) {
    if (auto it = guids_.find(g); it != guids_.end()) return it->second;
    Bytes& seg = seg_[kSegGuids];
    auto offset = static_cast<int32_t>(seg.size());
    Bytes raw;
    raw.guid(g);
    uint16_t x = 0;
    for (size_t i = 0; i < 16; i += 2)
        x ^= static_cast<uint16_t>(static_cast<uint16_t>(raw.vec()[i]) | (static_cast<uint16_t>(raw.vec()[i + 1]) << 8));
    uint32_t bucket = x & 0x1F;
    Bytes& hash = seg_[kSegGuidHash];
    seg.append(raw);
    seg.i32(marker);
    seg.u32(hash.get32(bucket * 4));
    hash.put32(bucket * 4, static_cast<uint32_t>(offset));
    guids_.emplace(g, offset);
    return offset;
}

int32_t MsftBuilder::AddName(std::u16string_view name, int32_t owner, uint8_t flags, bool typeName) {
    std::string& ansi = ansi_;
    ToAnsiInto(name, ansi);
    if (ansi.empty() || ansi.size() > 255) Fail(E_INVALIDARG);
    Bytes& seg = seg_[kSegNames];
    // Each spelling has its own entry: the platform reads names that differ
    // only in case as they were written (the hash, and so the bucket, is the
    // same for all of them).
    const uint32_t key = HashText(ansi);
    const int32_t found = names_.Find(key, [&](int32_t at) {
        const auto* entry = reinterpret_cast<const char*>(seg.vec().data()) + at;
        return static_cast<uint8_t>(entry[8]) == ansi.size() && std::memcmp(entry + 12, ansi.data(), ansi.size()) == 0;
    });
    if (found >= 0) {
        auto at = static_cast<uint32_t>(found);
        // A type's own name records the type, whoever used the name first.
        if (typeName) {
            seg.put32(at, static_cast<uint32_t>(owner));
            seg.vec()[at + 9] = std::byte{0x38};
        } else if (owner != kNone && static_cast<int32_t>(seg.get32(at)) == kNone) {
            seg.put32(at, static_cast<uint32_t>(owner));
        }
        return found;
    }
    auto offset = static_cast<int32_t>(seg.size());
    ULONG hash = LHashValOfNameSysA(d_.syskind, hashLcid_, ansi.c_str());
    uint32_t bucket = hash & 0x7F;
    Bytes& heads = seg_[kSegNameHash];
    seg.i32(owner);
    seg.u32(heads.get32(bucket * 4));
    seg.u8(static_cast<uint8_t>(ansi.size()));
    seg.u8(typeName ? 0x38 : flags);
    seg.u16(static_cast<uint16_t>(hash));
    seg.text(ansi);
    seg.padTo(4);
    heads.put32(bucket * 4, static_cast<uint32_t>(offset));
    names_.Insert(key, offset);
    ++nameCount_;
    nameChars_ += static_cast<uint32_t>(ansi.size());
    return offset;
}

int32_t MsftBuilder::AddString(std::u16string_view s) {
    std::string& ansi = ansi_;
    ToAnsiInto(s, ansi);
    if (ansi.size() > 0xFFFF) Fail(E_INVALIDARG);
    Bytes& seg = seg_[kSegStrings];
    const uint32_t key = HashText(ansi);
    const int32_t found = strings_.Find(key, [&](int32_t at) {
        const auto* entry = reinterpret_cast<const char*>(seg.vec().data()) + at;
        size_t length = static_cast<uint8_t>(entry[0]) | (static_cast<size_t>(static_cast<uint8_t>(entry[1])) << 8);
        return length == ansi.size() && std::memcmp(entry + 2, ansi.data(), length) == 0;
    });
    if (found >= 0) return found;
    auto offset = static_cast<int32_t>(seg.size());
    seg.u16(static_cast<uint16_t>(ansi.size()));
    seg.text(ansi);
    seg.padTo(4);
    while (seg.size() - static_cast<uint32_t>(offset) < 8) seg.u8(kPad);
    strings_.Insert(key, offset);
    return offset;
}

// ---- Encodings ----

int32_t MsftBuilder::EncodeType(const TypeDescData& t) {
    if (IsIntrinsicInline(t.vt)) {
        uint32_t base = t.vt;
        if (t.vt == VT_INT) base = VT_I4;
        else if (t.vt == VT_UINT) base = VT_UI4;
        else if (t.vt == VT_VOID) base = VT_EMPTY;
        if (t.vt == VT_LPSTR || t.vt == VT_LPWSTR) return static_cast<int32_t>(0xFFFE0000u | t.vt);
        return static_cast<int32_t>(0x80000000u | ((base & 0x7FFF) << 16) | t.vt);
    }
    uint16_t hint = 0x7FFF;
    int32_t target = 0;
    switch (t.vt) {
        case VT_PTR:
        case VT_SAFEARRAY: {
            if (t.element.size() != 1) Fail(E_INVALIDARG);
            target = EncodeType(t.element[0]);
            hint = NodeHint(t);
            break;
        }
        case VT_CARRAY: {
            if (t.element.size() != 1 || t.Bounds().empty() || t.Bounds().size() > 0xFFFF) Fail(E_INVALIDARG);
            int32_t elem = EncodeType(t.element[0]);
            Bytes& arr = seg_[kSegArrayDescs];
            target = static_cast<int32_t>(arr.size());
            arr.i32(elem);
            arr.u16(static_cast<uint16_t>(t.Bounds().size()));
            arr.u16(static_cast<uint16_t>(8 * t.Bounds().size()));
            for (const SAFEARRAYBOUND& b : t.Bounds()) {
                arr.u32(b.cElements);
                arr.i32(b.lLbound);
            }
            hint = NodeHint(t);
            break;
        }
        case VT_USERDEFINED:
            target = FileHref(t.href);
            break;
        default:
            break;
    }
    uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(target)) << 32) | (uint64_t{hint} << 16) | t.vt;
    if (t.vt != VT_CARRAY) {
        if (auto it = typeDescs_.find(key); it != typeDescs_.end()) return it->second;
    }
    Bytes& seg = seg_[kSegTypeDescs];
    auto offset = static_cast<int32_t>(seg.size());
    seg.u16(t.vt);
    seg.u16(hint);
    seg.i32(target);
    if (t.vt != VT_CARRAY) typeDescs_.emplace(key, offset);
    return offset;
}

int32_t MsftBuilder::EncodeValue(const VARIANT& v) {
    if (!CanWriteValue(v)) Fail(DISP_E_BADVARTYPE);
    auto inlineValue = [&](uint32_t data) {
        return static_cast<int32_t>(0x80000000u | (static_cast<uint32_t>(v.vt) << 26) | data);
    };
    Bytes& entry = scratchValue_;
    entry.clear();
    entry.u16(v.vt);
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return inlineValue(0);
        case VT_I1:
        case VT_UI1:
            return inlineValue(v.bVal);
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return inlineValue(v.uiVal);
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            if (v.ulVal <= 0x03FFFFFFu) return inlineValue(v.ulVal);
            entry.u32(v.ulVal);
            entry.padTo(8);
            break;
        case VT_R4:
        case VT_ERROR:
        case VT_HRESULT:
            entry.u32(v.ulVal);
            entry.padTo(8);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return inlineValue(0);
        case VT_VARIANT:
            // A bare VT_VARIANT default (no value) as compilers write it.
            return inlineValue(0);
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            entry.u64(v.ullVal);
            entry.padTo(4);
            break;
        case VT_DECIMAL:
            entry.u64(v.decVal.Lo64);
            entry.padTo(4);
            break;
        case VT_BSTR: {
            if (!v.bstrVal) {
                entry.u32(0xFFFFFFFFu);
            } else {
                std::string ansi = ToAnsi(BstrView(v.bstrVal));
                entry.u32(static_cast<uint32_t>(ansi.size()));
                entry.text(ansi);
            }
            entry.padTo(4);
            break;
        }
        default:
            Fail(DISP_E_BADVARTYPE);
    }
    std::string key(reinterpret_cast<const char*>(entry.vec().data()), entry.size());
    if (auto it = values_.find(key); it != values_.end()) return it->second;
    Bytes& seg = seg_[kSegCustData];
    auto offset = static_cast<int32_t>(seg.size());
    seg.append(entry);
    values_.emplace(std::move(key), offset);
    return offset;
}

// The chain is written so that a reader that prepends each item it meets
// (as the platform does) lists the items in their original order.
int32_t MsftBuilder::EncodeCustData(const CustDataList& list) {
    int32_t head = kNone;
    for (const CustDataEntry& item : list) {
        int32_t guid = AddGuid(item.guid, kNone);
        int32_t value = EncodeValue(item.value.get());
        Bytes& seg = seg_[kSegCdGuids];
        auto offset = static_cast<int32_t>(seg.size());
        seg.i32(guid);
        seg.i32(value);
        seg.i32(head);
        head = offset;
    }
    return head;
}

int32_t MsftBuilder::ImportFile(const GUID& lib, WORD major, WORD minor, LCID lcid, std::u16string_view fileName) {
    auto key = std::make_tuple(lib, major, minor, lcid);
    if (auto it = importFiles_.find(key); it != importFiles_.end()) return it->second;
    std::string name = ToAnsi(fileName);
    if (name.size() > 0x3FFF) Fail(E_INVALIDARG);
    int32_t guid = AddGuid(lib, 2);
    Bytes& seg = seg_[kSegImportFiles];
    auto offset = static_cast<int32_t>(seg.size());
    seg.i32(guid);
    seg.u32(lcid);
    seg.u32(static_cast<uint32_t>(major) | (static_cast<uint32_t>(minor) << 16));
    seg.u16(static_cast<uint16_t>((name.size() << 2) | 1));
    seg.text(name);
    seg.padTo(4);
    importFiles_.emplace(key, offset);
    return offset;
}

int32_t MsftBuilder::ImportType(int32_t fileOffset, bool byGuid, const GUID& typeGuid, int index, TYPEKIND kind) {
    auto key = std::make_tuple(fileOffset, byGuid, byGuid ? typeGuid : GUID_NULL, byGuid ? -1 : index);
    if (auto it = importTypes_.find(key); it != importTypes_.end()) return it->second;
    Bytes& seg = seg_[kSegImportInfo];
    auto offset = static_cast<int32_t>(seg.size());
    uint32_t ordinal = seg.size() / 12;
    int32_t target = byGuid ? AddGuid(typeGuid, offset + 1) : index;
    seg.u32((ordinal & 0xFFFF) | (byGuid ? 0x10000u : 0u) | (static_cast<uint32_t>(kind & 0xFF) << 24));
    seg.i32(fileOffset);
    seg.i32(target);
    importTypes_.emplace(key, offset + 1);
    // The header names IDispatch whenever the library imports it.
    if (dispatchHref_ == kNone && byGuid && typeGuid == kIID_IDispatch) dispatchHref_ = offset + 1;
    return offset + 1;
}

int32_t MsftBuilder::StdDispatchHref() {
    if (dispatchHref_ == kNone) {
        int32_t file = ImportFile(kStdOleLibGuid, 2, 0, 0, u"stdole2.tlb");
        dispatchHref_ = ImportType(file, true, kIID_IDispatch, -1, TKIND_INTERFACE);
    }
    return dispatchHref_;
}

std::u16string FileNameOf(std::u16string_view path) {
    size_t cut = path.find_last_of(u"/\\");
    return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

int32_t MsftBuilder::LiveHref(ITypeInfo* ti) {
    if (!ti) Fail(TYPE_E_UNDEFINEDTYPE);
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    if (FAILED(ti->GetContainingTypeLib(lib.put(), &index)) || !lib) Fail(TYPE_E_CANTLOADLIBRARY);
    TLIBATTR* la = nullptr;
    if (FAILED(lib->GetLibAttr(&la)) || !la) Fail(TYPE_E_CANTLOADLIBRARY);
    TLIBATTR libAttr = *la;
    lib->ReleaseTLibAttr(la);
    if (libAttr.guid == GUID_NULL) {
        // An import names its library by GUID: without one the reference
        // would be read back into whichever library without a GUID is at
        // hand, the referring one first.
        BStr name;
        lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
        t_libraryWithoutGuid = name.str();
        Fail(TYPE_E_LIBNOTREGISTERED);
    }
    std::u16string fileName;
    std::u16string path;
    if (SUCCEEDED(GetTypeLibFilePath(lib.get(), &path))) fileName = FileNameOf(path);
    if (fileName.empty() && libAttr.guid == kStdOleLibGuid) fileName = u"stdole2.tlb";
    if (fileName.empty()) {
        BStr name;
        lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
        fileName = name.str() + u".tlb";
    }
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta)) || !ta) Fail(TYPE_E_CANTLOADLIBRARY);
    GUID typeGuid = ta->guid;
    ti->ReleaseTypeAttr(ta);
    TYPEKIND kind = TKIND_INTERFACE;
    if (FAILED(lib->GetTypeInfoType(index, &kind))) Fail(TYPE_E_CANTLOADLIBRARY);
    int32_t file = ImportFile(libAttr.guid, libAttr.wMajorVerNum, libAttr.wMinorVerNum, libAttr.lcid, fileName);
    bool byGuid = typeGuid != GUID_NULL;
    return ImportType(file, byGuid, typeGuid, static_cast<int>(index), kind);
}

int32_t MsftBuilder::FileHref(HREFTYPE href) {
    if (auto it = hrefs_.find(href); it != hrefs_.end()) return it->second;
    auto rit = refs_.find(href);
    if (rit == refs_.end()) Fail(TYPE_E_UNDEFINEDTYPE);
    const RefData& r = *rit->second;
    int32_t out = kNone;
    switch (r.kind) {
        case RefKind::Internal:
            if (r.typeIndex < 0 || static_cast<size_t>(r.typeIndex) >= d_.types.size()) Fail(TYPE_E_UNDEFINEDTYPE);
            out = static_cast<int32_t>(typeHref_[static_cast<size_t>(r.typeIndex)]);
            break;
        case RefKind::Live:
            out = LiveHref(r.live.get());
            break;
        case RefKind::Imported: {
            if (r.importLib < 0 || static_cast<size_t>(r.importLib) >= d_.imports.size()) Fail(TYPE_E_UNDEFINEDTYPE);
            const ImportLibData& lib = d_.imports[r.importLib];
            int32_t file = ImportFile(lib.guid, lib.majorVersion, lib.minorVersion, lib.lcid, lib.fileName);
            out = ImportType(file, r.byGuid, r.typeGuid, r.importTypeIndex, r.importKind);
            break;
        }
        case RefKind::Missing:
            // The target is gone (a deleted type, or a reference that led
            // nowhere in the file read): it stays a reference that leads
            // nowhere, just past the last type record.
            out = static_cast<int32_t>(d_.types.size() * kTypeInfoSize);
            break;
    }
    hrefs_.emplace(href, out);
    return out;
}

// ---- Base interface chains (datatype2 of interfaces and duals) ----

ComPtr<ITypeInfo> MsftBuilder::ResolveExternal(const RefData& r) {
    ComPtr<ITypeInfo> ti;
    if (r.kind == RefKind::Live) return r.live;
    if (r.kind != RefKind::Imported || r.importLib < 0 || static_cast<size_t>(r.importLib) >= d_.imports.size())
        return ti;
    const ImportLibData& lib = d_.imports[r.importLib];
    ComPtr<ITypeLib> tl;
    if (FAILED(ResolveImportedLibrary(lib.guid, lib.majorVersion, lib.minorVersion, lib.lcid, tl.put())) || !tl)
        return ti;
    if (r.byGuid) (void)tl->GetTypeInfoOfGuid(r.typeGuid, ti.put());
    else if (r.importTypeIndex >= 0) (void)tl->GetTypeInfo(static_cast<UINT>(r.importTypeIndex), ti.put());
    return ti;
}

ChainInfo MsftBuilder::ExternalChain(ITypeInfo* ti, int guard) {
    ChainInfo out;
    if (!ti || guard > 64) return out;
    ComPtr<ITypeInfo> cur(ti);
    TYPEATTR* ta = nullptr;
    if (FAILED(cur->GetTypeAttr(&ta)) || !ta) return out;
    bool dual = ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL);
    cur->ReleaseTypeAttr(ta);
    if (dual) {
        HREFTYPE h = 0;
        ComPtr<ITypeInfo> half;
        if (SUCCEEDED(cur->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) &&
            SUCCEEDED(cur->GetRefTypeInfo(h, half.put())) && half)
            cur = half;
    }
    if (FAILED(cur->GetTypeAttr(&ta)) || !ta) return out;
    out.slots = ta->cbSizeVft / ptr_;
    bool hasBase = ta->typekind == TKIND_INTERFACE && ta->cImplTypes > 0;
    cur->ReleaseTypeAttr(ta);
    out.depth = 1;
    HREFTYPE h = 0;
    ComPtr<ITypeInfo> base;
    if (hasBase && SUCCEEDED(cur->GetRefTypeOfImplType(0, &h)) && SUCCEEDED(cur->GetRefTypeInfo(h, base.put())))
        out.depth += ExternalChain(base.get(), guard + 1).depth;
    return out;
}

// Slots and depth of the chain of base interfaces of t (t itself excluded).
ChainInfo MsftBuilder::BaseChain(const TypeData& t, int guard) {
    ChainInfo out;
    if (t.implTypes.empty() || guard > 1024) return out;
    auto it = refs_.find(t.implTypes[0].href);
    if (it == refs_.end()) return out;
    const RefData& r = *it->second;
    if (r.kind == RefKind::Internal) {
        if (r.typeIndex < 0 || static_cast<size_t>(r.typeIndex) >= d_.types.size()) return out;
        const TypeData& base = d_.types[r.typeIndex];
        out = BaseChain(base, guard + 1);
        out.slots = base.cbSizeVft / ptr_;
        out.depth += 1;
        return out;
    }
    GUID g = r.kind == RefKind::Imported && r.byGuid ? r.typeGuid : GUID_NULL;
    if (r.kind == RefKind::Live && r.live) {
        TYPEATTR* ta = nullptr;
        if (SUCCEEDED(r.live->GetTypeAttr(&ta)) && ta) {
            g = ta->guid;
            r.live->ReleaseTypeAttr(ta);
        }
    }
    if (g == kIID_IUnknown) return {3, 1};
    if (g == kIID_IDispatch) return {7, 2};
    ComPtr<ITypeInfo> ti = ResolveExternal(r);
    if (ti) return ExternalChain(ti.get(), 0);
    // Unresolvable base: the slots in front of the first own function.
    uint32_t lowest = t.cbSizeVft;
    for (const FuncData& f : t.funcs) lowest = std::min<uint32_t>(lowest, static_cast<uint16_t>(f.oVft));
    return {lowest / ptr_, 1};
}

// ---- Types ----

void MsftBuilder::EncodeMembers(const TypeData& t, uint32_t typeOffset, uint32_t* res2, uint32_t* res3) {
    const bool isEnum = t.kind == TKIND_ENUM;
    const bool isModule = t.kind == TKIND_MODULE;
    MemberLists& l = lists_;
    Bytes& records = l.records;
    Bytes& varRecords = l.varRecords;
    std::vector<int32_t>& ids = l.ids;
    std::vector<int32_t>& nameOffsets = l.nameOffsets;
    std::vector<int32_t>& recordOffsets = l.recordOffsets;
    std::vector<int32_t>& varIds = l.varIds;
    std::vector<int32_t>& varNames = l.varNames;
    std::vector<int32_t>& varOffsets = l.varOffsets;
    records.clear();
    varRecords.clear();
    for (auto* list : {&ids, &nameOffsets, &recordOffsets, &varIds, &varNames, &varOffsets}) list->clear();
    uint32_t alloc = 0, needed = 0;

    // Variables first: they decide the starting allocation hint of mixed types.
    for (size_t i = 0; i < t.vars.size(); ++i) {
        const VarData& v = t.vars[i];
        int32_t name = v.name.empty() ? kNone
                                      : AddName(v.name, static_cast<int32_t>(typeOffset),
                                                static_cast<uint8_t>(isEnum ? 0x30 : 0x10));
        int32_t type = EncodeType(v.type);
        int32_t value = static_cast<int32_t>(v.oInst);
        if (v.varkind == VAR_CONST) {
            if (!v.constValue) Fail(E_INVALIDARG);
            value = EncodeValue(v.constValue->get());
        } else if (v.varkind == VAR_DISPATCH) {
            value = 0;
        }
        std::array<int32_t, 5> opt = {static_cast<int32_t>(v.helpContext), AddStringOrNone(v.docString), kNone,
                                      EncodeCustData(v.custData), static_cast<int32_t>(v.helpStringContext)};
        size_t k = 0;
        if (v.helpStringContext) k = 5;
        else if (!v.custData.empty()) k = 4;
        else if (!v.docString.empty()) k = 2;
        else if (v.helpContext) k = 1;
        uint32_t rebuild = 36 + NestedDescSize(v.type) + (v.varkind == VAR_CONST ? 16 : 0);
        varOffsets.push_back(static_cast<int32_t>(varRecords.size()));
        varRecords.u16(static_cast<uint16_t>(0x14 + 4 * k));
        // Dispinterface properties are numbered after the methods.
        varRecords.u16(static_cast<uint16_t>(t.kind == TKIND_DISPATCH ? t.funcs.size() + i : i));
        varRecords.i32(type);
        varRecords.u32(v.flags);
        varRecords.u16(static_cast<uint16_t>(v.varkind));
        varRecords.u16(static_cast<uint16_t>(rebuild));
        varRecords.i32(value);
        for (size_t f = 0; f < k; ++f) varRecords.i32(opt[f]);
        varIds.push_back(v.memid);
        varNames.push_back(name);
        needed += 0x2C;
        if (alloc == 0) alloc = 0x1A;
        if (i == 0 || i == 1 || i == 2 || i == 4 || i == 9) alloc <<= 1;
    }

    // Functions sharing a member id (property accessors) are linked in a
    // circle, each to the previous one by index (the first to the last); a
    // function with its own id links to itself.
    std::vector<uint32_t>& sameIdLink = l.sameIdLink;
    sameIdLink.resize(t.funcs.size());
    {
        // Sorted by id, then by index: each run of one id is its circle.
        auto& byId = l.byId;
        byId.clear();
        for (size_t i = 0; i < t.funcs.size(); ++i) byId.emplace_back(t.funcs[i].memid, static_cast<uint32_t>(i));
        std::sort(byId.begin(), byId.end());
        for (size_t first = 0, end = 0; first < byId.size(); first = end) {
            end = first + 1;
            while (end < byId.size() && byId[end].first == byId[first].first) ++end;
            sameIdLink[byId[first].second] = byId[end - 1].second;
            for (size_t k = first + 1; k < end; ++k) sameIdLink[byId[k].second] = byId[k - 1].second;
        }
    }

    size_t firstDoubling = 0;
    while ((size_t{1} << firstDoubling) <= t.vars.size()) ++firstDoubling;

    for (size_t i = 0; i < t.funcs.size(); ++i) {
        const FuncData& f = t.funcs[i];
        if (f.params.size() > 0x7FFF) Fail(E_INVALIDARG);
        auto owner = static_cast<int32_t>(typeOffset);
        int32_t name = f.name.empty() ? kNone : AddName(f.name, owner, static_cast<uint8_t>(isModule ? 0x30 : 0));
        int32_t ret = EncodeType(f.returnType);
        std::vector<std::array<int32_t, 3>>& params = scratchParams_;
        std::vector<int32_t>& defaults = scratchDefaults_;
        std::vector<int32_t>& paramCust = scratchCust_;
        params.clear();
        defaults.clear();
        paramCust.clear();
        bool anyDefault = false, anyParamCust = false;
        int retvalOrLcid = 0;
        uint32_t rebuild = 52 + NestedDescSize(f.returnType);
        for (const ParamData& p : f.params) {
            int32_t pname = p.name.empty() ? kNone : AddName(p.name, kNone, 0);
            int32_t ptype = EncodeType(p.type);
            USHORT flags = static_cast<USHORT>(p.flags & ~PARAMFLAG_FHASCUSTDATA);
            if (!p.custData.empty()) flags |= PARAMFLAG_FHASCUSTDATA;
            int32_t def = kNone;
            if ((p.flags & PARAMFLAG_FHASDEFAULT) && p.defaultValue) {
                def = EncodeValue(p.defaultValue->get());
                anyDefault = true;
                rebuild += 24;
            }
            if (p.flags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) ++retvalOrLcid;
            rebuild += 16 + NestedDescSize(p.type);
            int32_t cust = EncodeCustData(p.custData);
            if (cust != kNone) anyParamCust = true;
            params.push_back({ptype, pname, static_cast<int32_t>(flags)});
            defaults.push_back(def);
            paramCust.push_back(cust);
        }
        const auto* ordinal = std::get_if<WORD>(&f.Entry());
        const auto* entryName = std::get_if<std::u16string>(&f.Entry());
        // A module function without an entry point is stored as ordinal 0,
        // which is what the platform then reports for it.
        const WORD noEntry = 0;
        if (f.funckind == FUNC_STATIC && !ordinal && (!entryName || entryName->empty())) ordinal = &noEntry;
        bool hasEntry = ordinal || (entryName && !entryName->empty());
        int32_t entry = kNone;
        if (ordinal) entry = *ordinal;
        else if (hasEntry) entry = AddString(*entryName);
        int32_t funcCust = EncodeCustData(f.custData);
        size_t k = 0;
        if (anyParamCust) k = 7 + f.params.size();
        else if (funcCust != kNone) k = 7;
        else if (f.helpStringContext) k = 6;
        else if (hasEntry) k = 3;
        else if (!f.docString.empty()) k = 2;
        else if (f.helpContext) k = 1;
        std::vector<int32_t>& opt = scratchOpt_;
        opt.assign({static_cast<int32_t>(f.helpContext), AddStringOrNone(f.docString), entry, kNone, kNone,
                    static_cast<int32_t>(f.helpStringContext), funcCust});
        opt.insert(opt.end(), paramCust.begin(), paramCust.end());

        uint32_t kinds = (static_cast<uint32_t>(f.funckind) & 7) | ((static_cast<uint32_t>(f.invkind) & 0xF) << 3) |
                         ((static_cast<uint32_t>(f.callconv) & 0xF) << 8);
        if (funcCust != kNone || anyParamCust) kinds |= 0x80;
        if (anyDefault) kinds |= 0x1000;
        if (ordinal) kinds |= 0x2000;
        if (retvalOrLcid == 1) kinds |= 0x4000;
        else if (retvalOrLcid > 1) kinds |= 0x8000;
        kinds |= (sameIdLink[i] & 0xFFFF) << 16;

        size_t size = 0x18 + 4 * k + (anyDefault ? 4 * f.params.size() : 0) + 12 * f.params.size();
        if (size > 0xFFFF) Fail(E_INVALIDARG);
        recordOffsets.push_back(static_cast<int32_t>(records.size()));
        records.u16(static_cast<uint16_t>(size));
        records.u16(static_cast<uint16_t>(i));
        records.i32(ret);
        records.u32(f.flags);
        // Dispatch functions have no vtable slot; compilers store their position.
        SHORT oVft = f.funckind == FUNC_DISPATCH ? static_cast<SHORT>(i * ptr_) : f.oVft;
        records.u16(static_cast<uint16_t>(oVft));
        records.u16(static_cast<uint16_t>(std::min<uint32_t>(rebuild, 0xFFFF)));
        records.u32(kinds);
        records.u16(static_cast<uint16_t>(f.params.size()));
        records.u16(static_cast<uint16_t>(f.cParamsOpt));
        for (size_t o = 0; o < k; ++o) records.i32(opt[o]);
        if (anyDefault)
            for (int32_t def : defaults) records.i32(def);
        for (const auto& p : params)
            for (int32_t x : p) records.i32(x);
        ids.push_back(f.memid);
        nameOffsets.push_back(name);

        // Allocation hints as the platform's compiler leaves them.
        needed += 0x38 + 0x10 * static_cast<uint32_t>(f.params.size()) +
                  (anyDefault ? 4 * static_cast<uint32_t>(f.params.size()) : 0);
        // Known for types with functions only; after variables the first
        // few functions leave it unchanged (an approximation: readers ignore it).
        if (alloc == 0) alloc = 0x20;
        if (i >= firstDoubling) alloc <<= 1;
        if (i < 2) alloc += 0x10 * static_cast<uint32_t>(f.params.size());
    }

    uint32_t funcBytes = records.size();
    for (int32_t& o : varOffsets) o += static_cast<int32_t>(funcBytes);
    records.append(varRecords);
    ids.insert(ids.end(), varIds.begin(), varIds.end());
    nameOffsets.insert(nameOffsets.end(), varNames.begin(), varNames.end());
    recordOffsets.insert(recordOffsets.end(), varOffsets.begin(), varOffsets.end());

    Bytes& block = memberBlocks_;
    block.u32(records.size());
    block.append(records);
    for (int32_t x : ids) block.i32(x);
    for (int32_t x : nameOffsets) block.i32(x);
    for (int32_t x : recordOffsets) block.i32(x);
    *res2 = alloc;
    *res3 = needed;
}

void MsftBuilder::EncodeTypeInfo(size_t index) {
    const TypeData& t = d_.types[index];
    const auto offset = static_cast<uint32_t>(index * kTypeInfoSize);
    const bool dual = t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL);
    TYPEKIND stored = dual ? TKIND_DISPATCH : t.kind;

    int32_t name = AddName(t.name, static_cast<int32_t>(offset), 0x38, true);
    int32_t guid = t.guid == GUID_NULL ? kNone : AddGuid(t.guid, static_cast<int32_t>(offset));
    int32_t dllName = kNone;  // a module's DLL (stored once for all its functions)
    if (t.kind == TKIND_MODULE)
        for (const FuncData& f : t.funcs)
            if (!f.DllName().empty()) {
                dllName = AddString(f.DllName());
                break;
            }
    int32_t doc = AddStringOrNone(t.docString);
    int32_t cust = EncodeCustData(t.custData);

    uint32_t kindBits = 0x20;
    int32_t datatype1 = kNone;
    uint32_t datatype2 = 0;
    uint32_t cImplTypes = static_cast<uint32_t>(t.implTypes.size());
    uint32_t cbSizeVft = t.cbSizeVft;
    switch (t.kind) {
        case TKIND_INTERFACE:
            if (dual) {
                kindBits |= 0x10;
                (void)StdDispatchHref();
            }
            if (!t.implTypes.empty()) {
                datatype1 = FileHref(t.implTypes[0].href);
                ChainInfo chain = BaseChain(t, 0);
                datatype2 = (chain.slots << 16) | (chain.depth & 0xFFFF);
            }
            cImplTypes = t.implTypes.empty() ? 0 : 1;
            break;
        case TKIND_DISPATCH:
            (void)StdDispatchHref();
            // The implied IDispatch comes from the header; a second entry is the dispatched interface.
            cImplTypes = 1;
            cbSizeVft = static_cast<uint32_t>(t.funcs.size()) * ptr_;
            if (t.implTypes.size() > 1) {
                kindBits |= 0x10;
                datatype1 = FileHref(t.implTypes[1].href);
                // Vtable and chain as if derived from the interface: the
                // platform presents the interface's functions from them.
                TypeData over;
                over.implTypes.push_back(t.implTypes[1]);
                ChainInfo chain = BaseChain(over, 0);
                cbSizeVft = chain.slots * ptr_;
                datatype2 = (chain.slots << 16) | (chain.depth & 0xFFFF);
            }
            break;
        case TKIND_COCLASS: {
            Bytes& seg = seg_[kSegRefTable];
            if (!t.implTypes.empty()) datatype1 = static_cast<int32_t>(seg.size());
            for (size_t i = 0; i < t.implTypes.size(); ++i) {
                const ImplTypeData& impl = t.implTypes[i];
                int32_t href = FileHref(impl.href);
                int32_t implCust = EncodeCustData(impl.custData);
                auto here = static_cast<int32_t>(seg.size());
                seg.i32(href);
                seg.i32(impl.flags);
                seg.i32(implCust);
                seg.i32(i + 1 < t.implTypes.size() ? here + 16 : kNone);
            }
            break;
        }
        case TKIND_ALIAS:
            datatype1 = EncodeType(t.aliasType);
            datatype2 = NestedDescSize(t.aliasType);  // as compilers leave it
            break;
        case TKIND_MODULE:
            datatype1 = dllName;
            break;
        default:
            break;
    }
    if (cImplTypes > 0xFFFF) Fail(E_INVALIDARG);

    uint32_t packing = t.alignmentSetting;
    if (t.kind == TKIND_INTERFACE || t.kind == TKIND_COCLASS || t.kind == TKIND_MODULE) packing = 8;
    kindBits |= (static_cast<uint32_t>(stored) & 0xF) | ((packing & 0x1F) << 6) |
                ((static_cast<uint32_t>(t.cbAlignment) & 0x1F) << 11) | (static_cast<uint32_t>(index) << 16);

    uint32_t res2 = 0, res3 = 0xFFFFFFFFu;
    if (!t.funcs.empty() || !t.vars.empty()) EncodeMembers(t, offset, &res2, &res3);
    if (t.funcs.size() > 0xFFFF || t.vars.size() > 0xFFFF) Fail(E_INVALIDARG);
    blockStart_[index + 1] = memberBlocks_.size();

    Bytes& rec = seg_[kSegTypeInfo];
    rec.u32(kindBits);
    rec.u32(0);  // member block offset, set once the layout is known
    rec.u32(res2);
    rec.u32(res3);
    rec.u32(3);
    rec.u32(0);
    rec.u32(static_cast<uint32_t>(t.funcs.size()) | (static_cast<uint32_t>(t.vars.size()) << 16));
    rec.fill(16, 0);
    rec.i32(guid);
    rec.u32(t.flags);
    rec.i32(name);
    rec.u32(static_cast<uint32_t>(t.majorVersion) | (static_cast<uint32_t>(t.minorVersion) << 16));
    rec.i32(doc);
    rec.u32(t.helpStringContext);
    rec.u32(t.helpContext);
    rec.i32(cust);
    rec.u16(static_cast<uint16_t>(cImplTypes));
    rec.u16(static_cast<uint16_t>(cbSizeVft));
    rec.u32(t.cbSizeInstance);
    rec.i32(datatype1);
    rec.u32(datatype2);
    rec.u32(0);
    rec.i32(kNone);
}

std::vector<std::byte> MsftBuilder::Build() {
    const size_t n = d_.types.size();
    blockStart_.assign(n + 1, 0);
    // Types of one spelling (files made by other tools have such types)
    // share one name entry, which records the last of them; the platform
    // reaches a type through the offset its name entry records, so that
    // offset is the type's reference.
    typeHref_.resize(n);
    {
        // The names side by side; each type finds the first of its name,
        // which keeps the last.
        std::string keys;
        std::vector<uint32_t> keyStart(n + 1);
        for (size_t i = 0; i < n; ++i) {
            ToAnsiInto(d_.types[i].name, ansi_);
            keyStart[i] = static_cast<uint32_t>(keys.size());
            keys += ansi_;
        }
        keyStart[n] = static_cast<uint32_t>(keys.size());
        auto key = [&](size_t i) { return std::string_view(keys).substr(keyStart[i], keyStart[i + 1] - keyStart[i]); };
        OffsetTable byName;
        byName.Reserve(n);
        std::vector<uint32_t> first(n), last(n);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t hash = HashText(key(i));
            const int32_t found = byName.Find(hash, [&](int32_t at) { return key(static_cast<size_t>(at)) == key(i); });
            if (found < 0) {
                byName.Insert(hash, static_cast<int32_t>(i));
                first[i] = last[i] = static_cast<uint32_t>(i);
            } else {
                first[i] = static_cast<uint32_t>(found);
                last[static_cast<size_t>(found)] = static_cast<uint32_t>(i);
            }
        }
        for (size_t i = 0; i < n; ++i) typeHref_[i] = static_cast<uint32_t>(last[first[i]] * kTypeInfoSize);
    }

    int32_t libGuid = d_.guid == GUID_NULL ? kNone : AddGuid(d_.guid, -2);
    int32_t libName = d_.name.empty() ? kNone : AddName(d_.name, kNone, 0);
    int32_t libDoc = AddStringOrNone(d_.docString);
    int32_t helpFile = AddStringOrNone(d_.helpFile);
    int32_t helpDll = AddStringOrNone(d_.helpStringDll);
    int32_t libCust = EncodeCustData(d_.custData);
    for (size_t i = 0; i < n; ++i) EncodeTypeInfo(i);

    // Layout: header, help DLL word, type offsets, directory, segments, member blocks.
    uint32_t varflags = (static_cast<uint32_t>(d_.syskind) & 0xF) | 0x40;
    if (helpFile != kNone) varflags |= 0x10;
    if (helpDll != kNone) varflags |= 0x100;
    uint32_t pos = 0x54 + (helpDll != kNone ? 4 : 0) + 4 * static_cast<uint32_t>(n) + 16 * kSegCount;
    std::array<int32_t, kSegCount> segOffset;
    segOffset.fill(kNone);
    for (Segment s : kPhysicalOrder) {
        seg_[s].padTo(4);
        if (seg_[s].empty()) continue;
        segOffset[s] = static_cast<int32_t>(pos);
        pos += seg_[s].size();
    }
    for (size_t i = 0; i < n; ++i)
        seg_[kSegTypeInfo].put32(static_cast<uint32_t>(i * kTypeInfoSize + 4), pos + blockStart_[i]);
    pos += memberBlocks_.size();

    Bytes out;
    out.vec().reserve(pos);
    out.u32(kSignature);
    out.u32(0x00010002);
    out.i32(libGuid);
    out.u32(hashLcid_);
    out.u32(d_.lcid);
    out.u32(varflags);
    out.u32(static_cast<uint32_t>(d_.majorVersion) | (static_cast<uint32_t>(d_.minorVersion) << 16));
    out.u32(d_.libFlags & ~static_cast<uint32_t>(LIBFLAG_FHASDISKIMAGE));
    out.u32(static_cast<uint32_t>(n));
    out.i32(libDoc);
    out.u32(d_.helpStringContext);
    out.u32(d_.helpContext);
    out.u32(nameCount_);
    out.u32(nameChars_);
    out.i32(libName);
    out.i32(helpFile);
    out.i32(libCust);
    out.u32(0x20);
    out.u32(0x80);
    out.i32(dispatchHref_);
    out.u32(seg_[kSegImportInfo].size() / 12);
    if (helpDll != kNone) out.i32(helpDll);
    for (size_t i = 0; i < n; ++i) out.u32(static_cast<uint32_t>(i * kTypeInfoSize));
    for (int s = 0; s < kSegCount; ++s) {
        out.i32(segOffset[s]);
        out.u32(segOffset[s] == kNone ? 0 : seg_[s].size());
        out.i32(kNone);
        out.u32(0x0F);
    }
    for (Segment s : kPhysicalOrder) out.append(seg_[s]);
    out.append(memberBlocks_);
    return std::move(out.vec());
}

}  // namespace

std::u16string GetLibraryWithoutGuid() { return t_libraryWithoutGuid; }

HRESULT BuildMsftImage(const LibraryData& data, std::vector<std::byte>* out) {
    if (!out) return E_POINTER;
    t_libraryWithoutGuid.clear();
    if (data.types.size() > 0xFFFF) return E_INVALIDARG;
    try {
        MsftBuilder builder(data);
        *out = builder.Build();
        return S_OK;
    } catch (const BuildError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WriteMsftTypeLib(const LibraryData& data, const std::u16string& path) {
    if (path.empty()) return E_INVALIDARG;
    std::vector<std::byte> image;
    HRESULT hr = BuildMsftImage(data, &image);
    if (FAILED(hr)) return hr;
    return ReplaceFileContents(path, image);
}

bool CanWriteValue(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
        case VT_HRESULT:
        case VT_VARIANT:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
        case VT_BSTR:
            return true;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            // Only a null interface ("Nothing") can be stored.
            return v.punkVal == nullptr;
        case VT_DECIMAL:
            // The platform reads back 8 bytes, the low 64 bits of the
            // mantissa: only whole non-negative values below 2^64 survive.
            return v.decVal.scale == 0 && v.decVal.sign == 0 && v.decVal.Hi32 == 0;
        default:
            return false;
    }
}

}  // namespace ole

// Reader of the MSFT type library format.
//
// The image is parsed through ByteReader: every offset, count and length taken
// from the file is checked against the segment it points into before use.
// Errors are collected in the reader object and reported once; a structural
// fault gives TYPE_E_CANTLOADLIBRARY, inconsistent content TYPE_E_INVALIDSTATE.
// Items the file may point at many times (names, strings, type and array
// descriptions, values, custom data chains) are decoded once and copied for
// each use against the image's budget (DecodeContext); a file that needs more
// model than its budget, or whose types share members, is refused as corrupt.
#include "platform/tlbfiles/MsftReader.h"

#include "platform/tlbfiles/MsftFormat.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/tlbfiles/ByteReader.h"
#include "platform/tlbfiles/DecodeContext.h"

namespace ole {
namespace {

using namespace msft;
constexpr uint32_t kMsftSignature = kSignature;
constexpr int kMaxTypeDescDepth = 32;


struct SegmentInfo {
    size_t offset = 0;
    size_t length = 0;  // 0 when the segment is absent
};

struct GuidHash {
    size_t operator()(const GUID& g) const noexcept {
        uint64_t tail = 0;
        for (BYTE b : g.Data4) tail = tail << 8 | b;
        uint64_t head = uint64_t{g.Data1} << 32 | uint64_t{g.Data2} << 16 | g.Data3;
        return std::hash<uint64_t>()(head * 0x9E3779B97F4A7C15ull ^ tail);
    }
};

// Distinguishes a broken structure from inconsistent content.
enum class Fault { None, Structure, Content };

// The fields of a type info record this reader uses.
struct TypeRecordView {
    uint32_t kindWord = 0;
    int32_t memOffset = 0;
    uint32_t counts = 0;
    int32_t guid = -1;
    uint32_t flags = 0;
    int32_t name = -1;
    uint32_t version = 0;
    int32_t doc = -1;
    uint32_t helpStringContext = 0;
    uint32_t helpContext = 0;
    int32_t custData = -1;
    uint16_t cImplTypes = 0;
    uint16_t cbSizeVft = 0;
    uint32_t cbSizeInstance = 0;
    int32_t datatype1 = -1;
    uint32_t datatype2 = 0;
};

class MsftParser {
public:
    MsftParser(std::span<const std::byte> image, LibraryData& out) : image_(image), out_(out), ctx_(image.size()) {}

    HRESULT Run();

private:
    // ---- error collection ----
    void Corrupt() {
        if (fault_ == Fault::None) fault_ = Fault::Structure;
    }
    void Inconsistent() {
        if (fault_ == Fault::None) fault_ = Fault::Content;
    }
    bool failed() const { return fault_ != Fault::None; }
    // Charges n bytes of model to the image's budget; a file that needs more
    // than its budget is treated as corrupt.
    bool Charge(size_t n) {
        if (ctx_.Charge(n)) return true;
        Corrupt();
        return false;
    }
    // One more copy of a decoded item, charged.
    template <class T>
    void Use(const T& item, T& out) {
        if (!ctx_.Use(item, &out)) Corrupt();
    }

    bool Fits(Segment seg, int64_t offset, size_t length) const {
        const SegmentInfo& s = segs_[seg];
        return offset >= 0 && static_cast<uint64_t>(offset) <= s.length && length <= s.length - offset;
    }
    // A reader over [offset, offset + length) of segment seg; failed (and the
    // parse marked corrupt) when it does not fit inside the segment.
    ByteReader InSegment(Segment seg, int64_t offset, size_t length) {
        const SegmentInfo& s = segs_[seg];
        if (!Fits(seg, offset, length)) {
            Corrupt();
            ByteReader r;
            r.Fail();
            return r;
        }
        return ByteReader(image_).Sub(s.offset + static_cast<size_t>(offset), length);
    }

    bool ReadHeader();
    bool ReadDirectory(size_t at);
    void ReadImportFiles();
    void ReadType(int index);
    void ReadMembers(const TypeRecordView& rec, TypeData& t);

    std::u16string Text(DecodeContext::TextCache& cache, Segment seg, int32_t offset);
    std::u16string Name(int32_t offset) { return Text(ctx_.names, kSegNames, offset); }
    std::u16string String(int32_t offset) { return Text(ctx_.strings, kSegStrings, offset); }
    GUID Guid(int32_t offset);
    void CustData(int32_t head, CustDataList& out);
    const CustDataList* DecodeCustData(int32_t head);
    std::optional<Variant> Value(int32_t encoded, VARTYPE* unsupported = nullptr);
    std::optional<Variant> DecodeValue(int32_t encoded, VARTYPE* unsupported);
    bool TypeDesc(int32_t encoded, TypeDescData& out, int depth = 0, int* height = nullptr);
    bool DecodeTypeDesc(int32_t encoded, DecodeContext::TypeDescEntry& out, int depth);
    bool DecodeArrayDesc(int32_t offset, DecodeContext::TypeDescEntry& out, int depth);
    HREFTYPE Ref(uint32_t fileHref, bool interfaceHalf);

    std::span<const std::byte> image_;
    LibraryData& out_;
    Fault fault_ = Fault::None;
    DecodeContext ctx_;
    std::array<SegmentInfo, kSegmentCount> segs_{};
    int typeCount_ = 0;
    int32_t dispatchHref_ = -1;
    std::vector<uint32_t> typeKindWords_;  // kind word per type (to recognise duals)
    std::vector<WORD> typeFlags_;
    std::unordered_map<uint32_t, int> typeByOwner_;      // name-entry owner -> first type
    std::unordered_map<int64_t, HREFTYPE> refKeys_;       // (file href, half) -> model href
    std::unordered_map<int32_t, int> importFileIndex_;    // import-file offset -> imports index
    HREFTYPE nextMissing_ = 0x40000000u;
};

// A name or string (offset -1: none). Most are used once; one met again is
// kept from then on and copied for each further use.
std::u16string MsftParser::Text(DecodeContext::TextCache& cache, Segment seg, int32_t offset) {
    if (offset == -1) return {};
    bool metBefore = false;
    if (const std::u16string* kept = cache.Find(offset, &metBefore)) {
        if (!Charge(DecodeContext::CostOf(*kept))) return {};
        return *kept;
    }
    // A name has 8 bytes of hash links and a length byte (in a 4-byte word)
    // before its text; a string a 2-byte length.
    const bool name = seg == kSegNames;
    const size_t headSize = name ? 12 : 2;
    ByteReader head = InSegment(seg, offset, headSize);
    if (name) head.Skip(8);
    size_t len = name ? head.U8() : head.U16();
    ByteReader text = InSegment(seg, static_cast<int64_t>(offset) + static_cast<int64_t>(headSize), len);
    std::u16string s = FromAnsi(text.Bytes(len));
    if (!head.ok() || !text.ok()) {
        Corrupt();
        return {};
    }
    if (!Charge(DecodeContext::CostOf(s))) return {};
    if (metBefore) cache.Keep(offset, s);
    return s;
}

GUID MsftParser::Guid(int32_t offset) {
    GUID g{};
    if (offset == -1) return g;
    ByteReader r = InSegment(kSegGuids, offset, 16);
    g.Data1 = r.U32();
    g.Data2 = r.U16();
    g.Data3 = r.U16();
    for (auto& b : g.Data4) b = r.U8();
    if (!r.ok()) return GUID{};
    return g;
}

// A value: a parameter default, a constant or a custom data item. Out-of-line
// values may be shared and are decoded once. A value of a type this reader
// cannot read fails the library, unless `unsupported` is given: then it
// receives the type and no value is returned (a custom data item is left out).
std::optional<Variant> MsftParser::Value(int32_t encoded, VARTYPE* unsupported) {
    if (encoded >= 0) {
        if (const Variant* hit = ctx_.values.Find(encoded)) {
            Variant v;
            Use(*hit, v);
            if (failed()) return std::nullopt;
            return v;
        }
    }
    std::optional<Variant> v = DecodeValue(encoded, unsupported);
    if (!v || !Charge(DecodeContext::CostOf(*v))) return std::nullopt;
    if (encoded >= 0) ctx_.values.Add(encoded, *v);
    return v;
}

std::optional<Variant> MsftParser::DecodeValue(int32_t encoded, VARTYPE* unsupported) {
    auto unknownType = [&](VARTYPE vt) -> std::optional<Variant> {
        if (unsupported)
            *unsupported = vt;
        else
            Inconsistent();
        return std::nullopt;
    };
    VARIANT v;
    VariantInit(&v);
    if (encoded < 0) {
        // Inline: bits 26-30 the VARTYPE, bits 0-25 the data.
        auto raw = static_cast<uint32_t>(encoded);
        VARTYPE vt = static_cast<VARTYPE>((raw >> 26) & 0x1F);
        uint32_t data = raw & 0x03FFFFFFu;
        v.vt = vt;
        v.llVal = 0;
        switch (vt) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_I1: v.cVal = static_cast<CHAR>(data & 0xFF); break;
        case VT_UI1: v.bVal = static_cast<BYTE>(data & 0xFF); break;
        case VT_I2:
        case VT_BOOL: v.iVal = static_cast<SHORT>(data & 0xFFFF); break;
        case VT_UI2: v.uiVal = static_cast<USHORT>(data & 0xFFFF); break;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
        case VT_HRESULT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8: v.ullVal = data; break;
        case VT_DECIMAL:
            v.decVal = DECIMAL{};
            v.decVal.Lo64 = data;
            break;
        // Compilers store "no object" defaults of these types, and the empty
        // string, inline; the value carries no data.
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_VARIANT:
        case VT_BSTR:
            if (data != 0) {
                Inconsistent();
                return std::nullopt;
            }
            if (vt == VT_BSTR) {
                v.bstrVal = SysAllocString(std::u16string_view());
                if (!v.bstrVal) throw std::bad_alloc();
            }
            break;
        default: return unknownType(vt);
        }
        Variant r;
        r.Attach(v);
        return r;
    }
    ByteReader r = InSegment(kSegCustData, encoded, 2);
    VARTYPE vt = r.U16();
    if (!r.ok()) return std::nullopt;
    v.llVal = 0;
    ByteReader body = InSegment(kSegCustData, 0, segs_[kSegCustData].length).At(static_cast<size_t>(encoded) + 2);
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: v.vt = vt; break;
    case VT_I1:
    case VT_UI1: v.vt = vt; v.bVal = static_cast<BYTE>(body.U32()); break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: v.vt = vt; v.uiVal = static_cast<USHORT>(body.U32()); break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
    case VT_HRESULT: v.vt = vt; v.ulVal = body.U32(); break;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8: v.vt = vt; v.ullVal = body.U64(); break;
    case VT_DECIMAL:
        // Eight bytes: the low 64 bits of the mantissa of a whole,
        // non-negative value (what the writer stores).
        v.decVal = DECIMAL{};
        v.decVal.Lo64 = body.U64();
        v.vt = VT_DECIMAL;
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_VARIANT: v.vt = vt; break;  // no data is stored for these
    case VT_BSTR: {
        // The length 0xFFFFFFFF is how some compilers store the empty string
        // (and how a null string is written); it reads as "", never null.
        uint32_t len = body.U32();
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
        std::u16string text;
        if (len != 0xFFFFFFFFu) {
            auto bytes = body.Bytes(len);
            if (!body.ok()) break;
            text = FromAnsi(bytes);
        }
        v.bstrVal = SysAllocString(std::u16string_view(text));
        if (!v.bstrVal) throw std::bad_alloc();
        break;
    }
    default: return unknownType(vt);
    }
    if (!body.ok()) {
        VariantClear(&v);
        Corrupt();
        return std::nullopt;
    }
    Variant result;
    result.Attach(v);
    return result;
}

// A custom data chain; chains may be shared by many owners and are decoded once.
void MsftParser::CustData(int32_t head, CustDataList& out) {
    if (head == -1) return;
    if (const CustDataList* list = DecodeCustData(head)) Use(*list, out);
}

const CustDataList* MsftParser::DecodeCustData(int32_t head) {
    if (const CustDataList* hit = ctx_.custData.Find(head)) return hit;
    int32_t start = head;
    // Each link is 12 bytes; a chain longer than the segment holds entries has a cycle.
    size_t limit = segs_[kSegCdGuids].length / 12;
    CustDataList list;
    std::unordered_set<GUID, GuidHash> seen;
    for (size_t steps = 0; head != -1; ++steps) {
        if (steps >= limit) {
            Inconsistent();
            return nullptr;
        }
        ByteReader r = InSegment(kSegCdGuids, head, 12);
        int32_t guidOffset = r.I32();
        int32_t value = r.I32();
        int32_t next = r.I32();
        if (!r.ok()) return nullptr;
        GUID g = Guid(guidOffset);
        VARTYPE unsupported = VT_EMPTY;
        std::optional<Variant> v = Value(value, &unsupported);
        if (failed()) return nullptr;
        // The first item of a key in the chain is the one in force.
        if (seen.insert(g).second) {
            if (v)
                list.push_back(CustDataEntry{g, std::move(*v)});
            else
                out_.unreadCustData.push_back(UnreadCustData{g, unsupported});
        }
        head = next;
    }
    // Writers put the newest item at the head of the chain: the list is kept
    // in the order the items were set.
    std::reverse(list.begin(), list.end());
    return &ctx_.custData.Add(start, std::move(list));
}

// Model HREFTYPEs: a type of this library keeps its file value (its record
// offset), an import keeps its import-info offset + 1; bit 1 marks a reference
// meant for the interface half of a dual interface, as the platform marks it at
// run time. References that lead nowhere become Missing refs numbered apart.
HREFTYPE MsftParser::Ref(uint32_t fileHref, bool interfaceHalf) {
    bool internal = (fileHref & 3) == 0;
    int index = -1;
    uint32_t canonical;
    if (internal) {
        canonical = fileHref & ~3u;
        auto owner = typeByOwner_.find(canonical);
        index = owner == typeByOwner_.end() ? typeCount_ : owner->second;
        // A reference to a type that is not dual needs no half.
        if (index < typeCount_ && !(typeKindWords_[index] == TKIND_DISPATCH && (typeFlags_[index] & TYPEFLAG_FDUAL)))
            interfaceHalf = false;
    } else {
        canonical = (fileHref & ~3u) | 1u;
    }
    if (interfaceHalf) canonical |= 2u;
    int64_t key = static_cast<int64_t>(canonical);
    if (auto it = refKeys_.find(key); it != refKeys_.end()) return it->second;

    RefData ref;
    ref.href = canonical;
    ref.dualInterface = interfaceHalf;
    bool valid = true;
    if (internal) {
        if (index >= typeCount_) valid = false;
        ref.kind = RefKind::Internal;
        ref.typeIndex = index;
    } else {
        int64_t infoOffset = fileHref & ~3u;
        // An unreadable import fails only when it is followed.
        if (!Fits(kSegImportInfo, infoOffset, 12)) {
            valid = false;
        } else {
            ByteReader r = InSegment(kSegImportInfo, infoOffset, 12);
            uint32_t flags = r.U32();
            int32_t fileOffset = r.I32();
            int32_t target = r.I32();
            auto lib = importFileIndex_.find(fileOffset);
            if (lib == importFileIndex_.end()) valid = false;
            ref.kind = RefKind::Imported;
            ref.importLib = valid ? lib->second : -1;
            ref.importKind = static_cast<TYPEKIND>((flags >> 24) & 0xF);
            ref.byGuid = (flags & 0x10000u) != 0;
            if (ref.byGuid) {
                if (Fits(kSegGuids, target, 16))
                    ref.typeGuid = Guid(target);
                else
                    valid = false;
            } else {
                ref.importTypeIndex = target;
            }
        }
    }
    if (!valid) {
        ref = RefData{};
        ref.kind = RefKind::Missing;
        ref.href = nextMissing_++;
    }
    refKeys_.emplace(key, ref.href);
    out_.refs.push_back(std::move(ref));
    return out_.refs.back().href;
}

// Reads the type description `encoded` (inline, or an offset in the type
// description segment) into out, at `depth` levels below the description that
// refers to it; *height receives the levels its own chain has. Descriptions
// and array descriptors are decoded once; a chain deeper than
// kMaxTypeDescDepth, shared parts included, is refused.
bool MsftParser::TypeDesc(int32_t encoded, TypeDescData& out, int depth, int* height) {
    int levels = 0;
    if (!height) height = &levels;
    if (depth > kMaxTypeDescDepth) {
        Inconsistent();
        return false;
    }
    if (encoded < 0) {
        out = TypeDescData{};
        out.vt = static_cast<VARTYPE>(encoded & 0x0FFF);
        *height = 1;
        return Charge(sizeof(TypeDescData));
    }
    int64_t key = encoded & ~7;
    const DecodeContext::TypeDescEntry* entry = ctx_.typeDescs.Find(key);
    if (!entry) {
        DecodeContext::TypeDescEntry decoded;
        if (!DecodeTypeDesc(encoded, decoded, depth)) {
            if (!failed()) Corrupt();
            return false;
        }
        decoded.cost = DecodeContext::CostOf(decoded.desc);
        entry = &ctx_.typeDescs.Add(key, std::move(decoded));
    }
    if (depth + entry->height - 1 > kMaxTypeDescDepth) {
        Inconsistent();
        return false;
    }
    *height = entry->height;
    if (!Charge(entry->cost)) return false;
    out = TypeDescData{};
    DecodeContext::CopyTypeDesc(entry->desc, out);
    return true;
}

bool MsftParser::DecodeTypeDesc(int32_t encoded, DecodeContext::TypeDescEntry& out, int depth) {
    ByteReader r = InSegment(kSegTypeDescs, encoded & ~7, 8);
    VARTYPE vt = r.U16() & 0x0FFF;
    r.Skip(2);
    int32_t target = r.I32();
    if (!r.ok()) return false;
    out.desc.vt = vt;
    out.height = 1;
    switch (vt) {
    case VT_PTR:
    case VT_SAFEARRAY: {
        out.desc.element.resize(1);
        int below = 1;
        if (target < 0) {
            // An inline target is the VARTYPE in the low word.
            out.desc.element[0].vt = static_cast<VARTYPE>(target & 0x0FFF);
        } else if (!TypeDesc(target, out.desc.element[0], depth + 1, &below)) {
            return false;
        }
        out.height = below + 1;
        return true;
    }
    case VT_CARRAY: {
        const DecodeContext::TypeDescEntry* array = ctx_.arrayDescs.Find(target);
        if (!array) {
            DecodeContext::TypeDescEntry decoded;
            if (!DecodeArrayDesc(target, decoded, depth)) return false;
            array = &ctx_.arrayDescs.Add(target, std::move(decoded));
        }
        if (depth + array->height - 1 > kMaxTypeDescDepth) {
            Inconsistent();
            return false;
        }
        out.height = array->height;
        if (!Charge(DecodeContext::CostOf(array->desc))) return false;
        DecodeContext::CopyTypeDesc(array->desc, out.desc);
        return true;
    }
    case VT_USERDEFINED: out.desc.href = Ref(static_cast<uint32_t>(target), false); return !failed();
    default: return true;
    }
}

// An array descriptor: the element type, the dimension count, then a bound
// (element count, lower bound) per dimension.
bool MsftParser::DecodeArrayDesc(int32_t offset, DecodeContext::TypeDescEntry& out, int depth) {
    ByteReader a = InSegment(kSegArrayDescs, offset, 8);
    int32_t elem = a.I32();
    uint16_t dims = a.U16();
    a.Skip(2);
    if (!a.ok()) return false;
    ByteReader b = InSegment(kSegArrayDescs, static_cast<int64_t>(offset) + 8, size_t{8} * dims);
    if (!b.ok() || !Charge(dims ? DecodeContext::BoundsCost(dims) : 0)) return false;
    out.desc.vt = VT_CARRAY;
    out.desc.MutableBounds().resize(dims);
    for (auto& bound : out.desc.MutableBounds()) {
        bound.cElements = b.U32();
        bound.lLbound = b.I32();
    }
    out.desc.element.resize(1);
    int below = 1;
    if (!TypeDesc(elem, out.desc.element[0], depth + 1, &below)) return false;
    out.height = below + 1;
    return true;
}

bool MsftParser::ReadHeader() {
    ByteReader h(image_);
    uint32_t signature = h.U32();
    h.Skip(4);  // format version
    int32_t libGuid = h.I32();
    h.Skip(4);  // hash LCID
    out_.lcid = h.U32();
    uint32_t varflags = h.U32();
    uint32_t version = h.U32();
    out_.libFlags = static_cast<WORD>(h.U32());
    typeCount_ = h.I32();
    int32_t doc = h.I32();
    out_.helpStringContext = h.U32();
    out_.helpContext = h.U32();
    h.Skip(8);  // name count, name characters
    int32_t name = h.I32();
    int32_t helpFile = h.I32();
    int32_t custData = h.I32();
    h.Skip(8);  // hash bucket counts
    dispatchHref_ = h.I32();
    h.Skip(4);  // import count
    int32_t helpDll = (varflags & 0x100) ? h.I32() : -1;
    if (!h.ok() || signature != kMsftSignature || typeCount_ < 0) return false;
    // Each type needs a 4-byte offset here and a 0x64-byte record later.
    if (static_cast<uint64_t>(typeCount_) * (4 + kTypeInfoSize) > image_.size()) return false;
    size_t directory = h.pos() + size_t{4} * static_cast<size_t>(typeCount_);
    if (!ReadDirectory(directory)) return false;
    ctx_.names.Reserve(segs_[kSegNames].length);
    ctx_.strings.Reserve(segs_[kSegStrings].length);
    if (segs_[kSegTypeInfo].length < static_cast<size_t>(typeCount_) * kTypeInfoSize) return false;

    out_.syskind = static_cast<SYSKIND>(varflags & 0xF);
    out_.majorVersion = static_cast<WORD>(version & 0xFFFF);
    out_.minorVersion = static_cast<WORD>(version >> 16);
    out_.guid = Guid(libGuid);
    out_.name = Name(name);
    out_.docString = String(doc);
    out_.helpFile = String(helpFile);
    out_.helpStringDll = String(helpDll);
    CustData(custData, out_.custData);
    return !failed();
}

bool MsftParser::ReadDirectory(size_t at) {
    ByteReader d(image_);
    d.Seek(at);
    for (size_t i = 0; i < kSegmentCount; ++i) {
        int32_t offset = d.I32();
        int32_t length = d.I32();
        d.Skip(4);
        int32_t marker = d.I32();
        if (!d.ok()) return false;
        if (i < 2 && marker != 0x0F) return false;
        if (offset == -1 || length <= 0) continue;
        if (offset < 0 || static_cast<size_t>(offset) > image_.size() ||
            static_cast<size_t>(length) > image_.size() - static_cast<size_t>(offset))
            return false;
        segs_[i] = {static_cast<size_t>(offset), static_cast<size_t>(length)};
    }
    return true;
}

void MsftParser::ReadImportFiles() {
    const SegmentInfo& s = segs_[kSegImportFiles];
    size_t pos = 0;
    while (pos + 14 <= s.length && !failed()) {
        ByteReader r = InSegment(kSegImportFiles, static_cast<int64_t>(pos), 14);
        ImportLibData lib;
        int32_t guid = r.I32();
        lib.lcid = r.U32();
        lib.majorVersion = r.U16();
        lib.minorVersion = r.U16();
        size_t len = r.U16() >> 2;
        ByteReader name = InSegment(kSegImportFiles, static_cast<int64_t>(pos) + 14, len);
        lib.fileName = FromAnsi(name.Bytes(len));
        if (!name.ok()) return;
        lib.guid = Guid(guid);
        importFileIndex_.emplace(static_cast<int32_t>(pos), static_cast<int>(out_.imports.size()));
        out_.imports.push_back(std::move(lib));
        pos = (pos + 14 + len + 3) & ~size_t{3};
    }
}

void MsftParser::ReadType(int index) {
    ByteReader r = InSegment(kSegTypeInfo, static_cast<int64_t>(index) * kTypeInfoSize, kTypeInfoSize);
    TypeRecordView rec;
    rec.kindWord = r.U32();
    rec.memOffset = r.I32();
    r.Skip(0x10);
    rec.counts = r.U32();
    r.Skip(0x10);
    rec.guid = r.I32();
    rec.flags = r.U32();
    rec.name = r.I32();
    rec.version = r.U32();
    rec.doc = r.I32();
    rec.helpStringContext = r.U32();
    rec.helpContext = r.U32();
    rec.custData = r.I32();
    rec.cImplTypes = r.U16();
    rec.cbSizeVft = r.U16();
    rec.cbSizeInstance = r.U32();
    rec.datatype1 = r.I32();
    rec.datatype2 = r.U32();
    if (!r.ok()) return;

    TypeData& t = out_.types[index];
    auto storedKind = static_cast<TYPEKIND>(rec.kindWord & 0xF);
    bool dual = storedKind == TKIND_DISPATCH && (rec.flags & TYPEFLAG_FDUAL);
    t.kind = dual ? TKIND_INTERFACE : storedKind;
    t.name = Name(rec.name);
    t.guid = Guid(rec.guid);
    t.flags = static_cast<WORD>(rec.flags);
    t.majorVersion = static_cast<WORD>(rec.version & 0xFFFF);
    t.minorVersion = static_cast<WORD>(rec.version >> 16);
    t.lcid = out_.lcid;
    t.docString = String(rec.doc);
    t.helpStringContext = rec.helpStringContext;
    t.helpContext = rec.helpContext;
    t.alignmentSetting = static_cast<WORD>((rec.kindWord >> 6) & 0x1F);
    t.cbAlignment = static_cast<WORD>((rec.kindWord >> 11) & 0x1F);
    t.cbSizeInstance = rec.cbSizeInstance;
    t.cbSizeVft = rec.cbSizeVft;
    CustData(rec.custData, t.custData);
    if (failed()) return;

    switch (storedKind) {
    case TKIND_COCLASS: {
        int32_t link = rec.datatype1;
        size_t limit = segs_[kSegRefTable].length / 16;
        for (size_t k = 0; k < rec.cImplTypes && link != -1; ++k) {
            if (k >= limit) return Inconsistent();
            ByteReader ref = InSegment(kSegRefTable, link, 16);
            uint32_t href = ref.U32();
            int32_t flags = ref.I32();
            int32_t cust = ref.I32();
            int32_t next = ref.I32();
            if (!ref.ok()) return;
            ImplTypeData impl;
            impl.href = Ref(href, false);
            impl.flags = flags;
            CustData(cust, impl.custData);
            if (failed()) return;
            t.implTypes.push_back(std::move(impl));
            link = next;
        }
        break;
    }
    case TKIND_INTERFACE:
        if (rec.datatype1 != -1 && rec.cImplTypes > 0)
            t.implTypes.push_back(ImplTypeData{Ref(static_cast<uint32_t>(rec.datatype1), true), 0, {}});
        break;
    case TKIND_DISPATCH:
        if (dual) {
            if (rec.datatype1 != -1)
                t.implTypes.push_back(ImplTypeData{Ref(static_cast<uint32_t>(rec.datatype1), true), 0, {}});
        } else {
            // The platform reports IDispatch's vtable for a plain dispinterface.
            t.cbSizeVft = static_cast<WORD>(7 * (out_.syskind == SYS_WIN64 ? 8 : 4));
        }
        if (!dual && rec.cImplTypes > 0) {
            // Every dispinterface derives from IDispatch; the library header names it.
            if (dispatchHref_ != -1)
                t.implTypes.push_back(ImplTypeData{Ref(static_cast<uint32_t>(dispatchHref_), false), 0, {}});
            if (rec.datatype1 != -1)
                t.implTypes.push_back(ImplTypeData{Ref(static_cast<uint32_t>(rec.datatype1), true), 0, {}});
        }
        break;
    case TKIND_ALIAS: TypeDesc(rec.datatype1, t.aliasType); break;
    case TKIND_MODULE: break;
    default: break;
    }
    if (failed()) return;
    ReadMembers(rec, t);
}

void MsftParser::ReadMembers(const TypeRecordView& rec, TypeData& t) {
    size_t nf = rec.counts & 0xFFFF;
    size_t nv = rec.counts >> 16;
    if (nf + nv == 0) return;
    std::u16string dllName = t.kind == TKIND_MODULE ? String(rec.datatype1) : std::u16string();

    ByteReader block(image_);
    block.Seek(static_cast<size_t>(static_cast<uint32_t>(rec.memOffset)));
    if (rec.memOffset < 0) block.Fail();
    uint32_t recBytes = block.U32();
    size_t recStart = block.pos();
    // Records, then three arrays of nf + nv entries.
    if (!block.ok() || recBytes > block.remaining() || (nf + nv) * 12 > block.remaining() - recBytes) return Corrupt();
    // Each type has members of its own: a block (or part of one) that a second
    // type also claims would multiply the members it holds.
    if (!ctx_.ClaimMemberBlock(recStart - 4, 4 + recBytes + (nf + nv) * 12)) return Corrupt();
    if (!Charge(nf * sizeof(FuncData) + nv * sizeof(VarData))) return;
    ByteReader records = ByteReader(image_).Sub(recStart, recBytes);
    ByteReader arrays = ByteReader(image_).Sub(recStart + recBytes, (nf + nv) * 12);
    auto arrayEntry = [&](size_t which, size_t i) {
        ByteReader a = arrays.At((which * (nf + nv) + i) * 4);
        return a.I32();
    };

    t.funcs.resize(nf);
    size_t pos = 0;
    for (size_t i = 0; i < nf && !failed(); ++i) {
        ByteReader f = records.At(pos);
        size_t size = f.U16();
        f.Skip(2);
        if (!f.ok() || size < 0x18 || size > records.size() - pos) return Corrupt();
        ByteReader fr = records.Sub(pos, size);
        fr.Skip(4);
        FuncData& fn = t.funcs[i];
        int32_t ret = fr.I32();
        fn.flags = static_cast<WORD>(fr.U32());
        // The platform rounds the word down to a multiple of the pointer size
        // (compilers set the low bit as a marker; 0xFFFF reads as -4 in Win32).
        fn.oVft = static_cast<SHORT>(fr.U16() & ~(out_.syskind == SYS_WIN64 ? 7u : 3u));
        if (t.kind == TKIND_DISPATCH) fn.oVft = 0;  // dispinterface members have no vtable slot
        fr.Skip(2);
        uint32_t kinds = fr.U32();
        size_t cParams = fr.U16();
        fn.cParamsOpt = static_cast<SHORT>(fr.U16());
        bool hasDefaults = kinds & 0x1000;
        size_t tail = cParams * 12 + (hasDefaults ? cParams * 4 : 0);
        if (!fr.ok() || tail > size - 0x18) return Corrupt();
        size_t optional = (size - 0x18 - tail) / 4;
        if (!Charge(cParams * sizeof(ParamData))) return;
        fn.funckind = static_cast<FUNCKIND>(kinds & 7);
        fn.invkind = static_cast<INVOKEKIND>((kinds >> 3) & 0xF);
        fn.callconv = static_cast<CALLCONV>((kinds >> 8) & 0xF);
        auto field = [&](size_t k, int32_t neutral) -> int32_t {
            if (k >= optional) return neutral;
            return fr.At(0x18 + 4 * k).I32();
        };
        fn.helpContext = static_cast<DWORD>(field(0, 0));
        fn.docString = String(field(1, -1));
        int32_t entry = field(2, -1);
        DllEntryPoint point;
        if (kinds & 0x2000)
            point = static_cast<WORD>(entry & 0xFFFF);
        else
            point = String(entry);
        fn.helpStringContext = static_cast<DWORD>(field(5, 0));
        CustData(field(6, -1), fn.custData);
        const auto* entryName = std::get_if<std::u16string>(&point);
        if (t.kind == TKIND_MODULE || !entryName || !entryName->empty()) {
            if (!Charge(DecodeContext::BoxCost<DllEntryData>())) return;
            fn.dll.emplace();
            fn.dll->entry = std::move(point);
            if (t.kind == TKIND_MODULE) Use(dllName, fn.dll->dllName);
        }
        if (!TypeDesc(ret, fn.returnType)) return;

        size_t defaultsAt = size - tail;
        size_t paramsAt = size - cParams * 12;
        fn.params.resize(cParams);
        for (size_t p = 0; p < cParams && !failed(); ++p) {
            ByteReader pr = fr.At(paramsAt + 12 * p);
            ParamData& pd = fn.params[p];
            int32_t type = pr.I32();
            int32_t name = pr.I32();
            pd.flags = static_cast<USHORT>(pr.U32() & ~PARAMFLAG_FHASCUSTDATA);
            if (!pr.ok()) return Corrupt();
            pd.name = Name(name);
            if (!TypeDesc(type, pd.type)) return;
            if (hasDefaults && (pd.flags & PARAMFLAG_FHASDEFAULT)) {
                int32_t value = fr.At(defaultsAt + 4 * p).I32();
                // Value pays for the value; its block is paid here.
                if (value != -1 && Charge(DecodeContext::kBlockOverhead)) pd.defaultValue = Value(value);
                if (failed()) return;
            }
            if (!pd.defaultValue) pd.flags &= ~PARAMFLAG_FHASDEFAULT;
            CustData(field(7 + p, -1), pd.custData);
        }
        fn.memid = arrayEntry(0, i);
        int32_t nameOffset = arrayEntry(1, i);
        auto isAccessor = [](INVOKEKIND k) { return k != INVOKE_FUNC; };
        // The second of a property get/put pair may leave its name out.
        if (nameOffset == -1 && i > 0 && isAccessor(fn.invkind) && isAccessor(t.funcs[i - 1].invkind))
            Use(t.funcs[i - 1].name, fn.name);
        else
            fn.name = Name(nameOffset);
        pos += size;
    }

    t.vars.resize(nv);
    for (size_t i = 0; i < nv && !failed(); ++i) {
        ByteReader v = records.At(pos);
        size_t size = v.U16();
        if (!v.ok() || size < 0x14 || size > records.size() - pos) return Corrupt();
        ByteReader vr = records.Sub(pos, size);
        vr.Skip(4);
        VarData& var = t.vars[i];
        int32_t type = vr.I32();
        var.flags = static_cast<WORD>(vr.U32());
        var.varkind = static_cast<VARKIND>(vr.U16());
        vr.Skip(2);
        int32_t value = vr.I32();
        if (!vr.ok()) return Corrupt();
        size_t optional = (size - 0x14) / 4;
        auto field = [&](size_t k, int32_t neutral) -> int32_t {
            if (k >= optional) return neutral;
            return vr.At(0x14 + 4 * k).I32();
        };
        if (!TypeDesc(type, var.type)) return;
        if (var.varkind == VAR_CONST) {
            var.constValue = Value(value);
            if (!var.constValue && !failed()) Inconsistent();
        } else {
            var.oInst = static_cast<ULONG>(value);
        }
        var.helpContext = static_cast<DWORD>(field(0, 0));
        var.docString = String(field(1, -1));
        CustData(field(3, -1), var.custData);
        var.helpStringContext = static_cast<DWORD>(field(4, 0));
        var.memid = arrayEntry(0, nf + i);
        var.name = Name(arrayEntry(1, nf + i));
        pos += size;
    }
    if (!arrays.ok() || !records.ok()) Corrupt();
}

HRESULT MsftParser::Run() {
    out_ = LibraryData{};
    if (!ReadHeader()) return failed() && fault_ == Fault::Content ? TYPE_E_INVALIDSTATE : TYPE_E_CANTLOADLIBRARY;
    ReadImportFiles();
    if (failed()) return TYPE_E_CANTLOADLIBRARY;

    // Kinds and flags first: references need to know which types are dual.
    typeKindWords_.resize(typeCount_);
    typeFlags_.resize(typeCount_);
    for (int i = 0; i < typeCount_; ++i) {
        ByteReader r = InSegment(kSegTypeInfo, static_cast<int64_t>(i) * kTypeInfoSize, kTypeInfoSize);
        typeKindWords_[i] = r.U32() & 0xF;
        r.Skip(0x2C);
        typeFlags_[i] = static_cast<WORD>(r.U32());
        int32_t name = r.I32();
        // The platform's reader finds a type of this library by the owner
        // recorded in its name's entry (normally the type's own offset): the
        // first type whose name entry names that offset answers the reference.
        if (Fits(kSegNames, name, 4)) typeByOwner_.try_emplace(InSegment(kSegNames, name, 4).U32(), i);
        if (typeKindWords_[i] >= TKIND_MAX) Inconsistent();
    }
    if (failed()) return TYPE_E_INVALIDSTATE;

    out_.types.resize(typeCount_);
    for (int i = 0; i < typeCount_ && !failed(); ++i) ReadType(i);
    if (fault_ == Fault::Structure) return TYPE_E_CANTLOADLIBRARY;
    if (fault_ == Fault::Content) return TYPE_E_INVALIDSTATE;
    return S_OK;
}

}  // namespace

HRESULT ReadMsft(std::span<const std::byte> image, LibraryData* out) {
    if (!out) return E_POINTER;
    try {
        LibraryData data;
        MsftParser parser(image, data);
        HRESULT hr = parser.Run();
        if (FAILED(hr)) return hr;
        *out = std::move(data);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ole

// SLTG reader. The image is a small directory of blocks: one block per type
// and a final library block holding the library attributes, the type
// descriptors, the help-string decoding tree and the name table. Every read
// goes through ByteReader; offsets, counts and lengths from the file are
// checked before use, and any inconsistency ends the read with one error.
#include "platform/tlbfiles/SltgReader.h"

#include <array>
#include <cstdint>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/tlbfiles/ByteReader.h"
#include "platform/tlbfiles/DecodeContext.h"
#include "platform/automation/Guid.h"

namespace ole {
namespace {

constexpr uint32_t kSignature = 0x47544C53;  // "SLTG"
constexpr uint16_t kLibraryMagic = 0x51CC;
constexpr uint16_t kTypeMagic = 0x0501;
constexpr size_t kTypeHeaderSize = 0x22;
constexpr size_t kTailSize = 0x36;
constexpr size_t kMemberHeaderSize = 9;
constexpr size_t kFuncRecordSize = 0x16;  // fields up to the vtable offset
constexpr size_t kVarRecordSize = 0x12;   // fields up to the help string
constexpr size_t kImplRecordSize = 0x16;
constexpr size_t kMaxTypeDepth = 32;
constexpr size_t kMaxHelpStringLength = 0xFFFF;
constexpr uint16_t kNone = 0xFFFF;
constexpr int kIDispatchIndex = 4;  // IDispatch is type 4 of stdole, every version

// Thrown inside the parser for any inconsistency; ReadSltg turns it into an HRESULT.
struct Corrupt {};

void Need(bool condition)
{
    if (!condition) throw Corrupt{};
}


uint8_t ByteAt(std::span<const std::byte> s, size_t i)
{
    Need(i < s.size());
    return static_cast<uint8_t>(s[i]);
}

// Reads hexadecimal digits at s[*pos...] (at least one, at most eight).
uint32_t Hex(std::string_view s, size_t* pos)
{
    uint32_t v = 0;
    size_t n = 0;
    while (*pos < s.size() && n < 8) {
        char c = s[*pos];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) break;
        v = v * 16 + static_cast<uint32_t>(d);
        ++*pos;
        ++n;
    }
    Need(n > 0);
    return v;
}

void Expect(std::string_view s, size_t* pos, std::string_view what)
{
    Need(s.substr(*pos, what.size()) == what);
    *pos += what.size();
}

// The target of one reference-table entry.
struct RefTarget {
    bool internal = true;
    int index = 0;      // type index (in this library or the imported one)
    int importLib = -1; // index in LibraryData::imports
    bool missing = false; // leads nowhere: a type number past the library's types
};

struct TypeRefs {
    std::vector<RefTarget> targets;  // by reference index
};

class Parser {
public:
    Parser(std::span<const std::byte> image, LibraryData& lib)
        : image_(image), lib_(lib), ctx_(image.size())
    {
    }

    void Run()
    {
        ReadDirectory();
        Need(!blocks_.empty());
        // The library block is named "dir" (normally the last one); the type
        // blocks follow the chain and are matched to the descriptors by their
        // index names, or by position when the names don't match.
        size_t libraryBlock = blocks_.size() - 1;
        for (size_t i = 0; i < blocks_.size(); ++i)
            if (blocks_[i].name == "dir") libraryBlock = i;
        ReadLibraryBlock(blocks_[libraryBlock].data);
        std::vector<size_t> typeBlocks;
        std::unordered_map<std::string_view, size_t> byName;
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (i == libraryBlock) continue;
            if (!blocks_[i].name.empty()) byName.emplace(blocks_[i].name, i);
            typeBlocks.push_back(i);
        }
        Need(descriptors_.size() <= typeBlocks.size());
        std::vector<bool> used(blocks_.size(), false);
        for (size_t i = 0; i < descriptors_.size(); ++i) {
            auto named = byName.find(descriptors_[i].indexName);
            size_t block = named != byName.end() ? named->second : typeBlocks[i];
            Need(!used[block]);  // each block describes one type
            used[block] = true;
            ReadTypeBlock(blocks_[block].data, descriptors_[i]);
        }
        FinishReferences();
    }

private:
    struct Block {
        std::span<const std::byte> data;
        std::string_view name;  // from the index area ("" when unreadable)
    };

    struct Descriptor {
        std::string indexName;
        uint16_t nameOffset = 0;
        std::u16string doc;
        DWORD helpContext = 0;
        GUID guid{};
        uint16_t kind = 0;
    };

    // ---- file directory ----
    void ReadDirectory()
    {
        ByteReader r(image_);
        Need(r.U32() == kSignature);
        uint16_t count = r.U16();
        uint16_t padSize = r.U16();
        uint16_t indexSize = r.U16();
        uint16_t first = r.U16();
        r.Skip(16 + 4 + 4);
        Need(r.ok() && count >= 2);
        size_t entries = count - 1u;
        Need(r.Has(entries * 8));
        struct Entry {
            uint32_t length;
            uint16_t name;
            uint16_t next;
        };
        std::vector<Entry> table(entries);
        for (auto& e : table) {
            e.length = r.U32();
            e.name = r.U16();
            e.next = r.U16();
        }
        auto index = r.Bytes(indexSize);
        r.Skip(padSize);
        Need(r.ok());
        size_t at = r.pos();
        std::vector<bool> seen(entries, false);
        for (uint16_t cur = first; cur != 0;) {
            Need(cur <= entries && !seen[cur - 1u]);
            seen[cur - 1u] = true;
            const Entry& e = table[cur - 1u];
            Need(e.length <= image_.size() - at);
            blocks_.push_back({image_.subspan(at, e.length), IndexName(index, e.name)});
            at += e.length;
            cur = e.next;
        }
    }

    // The NUL-terminated name at offset in the index area ("" if there is none).
    static std::string_view IndexName(std::span<const std::byte> index, uint16_t offset)
    {
        if (offset >= index.size()) return {};
        auto rest = index.subspan(offset);
        size_t n = 0;
        while (n < rest.size() && rest[n] != std::byte{0}) ++n;
        if (n == rest.size()) return {};
        return std::string_view(reinterpret_cast<const char*>(rest.data()), n);
    }

    static std::string ToNarrow(const std::u16string& s)
    {
        std::string r;
        for (char16_t c : s) r.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return r;
    }

    // ---- library block ----
    std::u16string LenText(ByteReader& r)
    {
        uint16_t n = r.U16();
        if (n == kNone) return {};
        auto s = r.Bytes(n);
        Need(r.ok());
        return FromAnsi(s);
    }

    void ReadLibraryBlock(std::span<const std::byte> block)
    {
        ByteReader r(block);
        Need(r.U16() == kLibraryMagic);
        r.U16();
        uint16_t libName = r.U16();
        uint16_t skip = r.U16();
        if (skip != kNone) r.Skip(skip);
        lib_.docString = LenText(r);
        lib_.helpFile = LenText(r);
        lib_.helpContext = r.U32();
        uint16_t syskind = r.U16();
        // The platform keeps a language of its own only with the neutral
        // sub-language (9, not 0x409): any other reads as LCID 0.
        const uint16_t langid = r.U16();
        lib_.lcid = (langid >> 10) == 0 ? langid : 0;
        r.U32();
        lib_.libFlags = r.U16();
        uint32_t version = r.U32();
        lib_.majorVersion = static_cast<WORD>(version & 0xFFFF);
        lib_.minorVersion = static_cast<WORD>(version >> 16);
        lib_.guid = ReadGuid(r);
        r.Skip(0x40);
        uint16_t typeCount = r.U16();
        Need(r.ok() && syskind <= SYS_WIN64);
        lib_.syskind = static_cast<SYSKIND>(syskind);

        // Descriptors; their help strings are decoded once the tree is known.
        std::vector<std::span<const std::byte>> typeHelp;
        Need(typeCount <= blocks_.size());
        for (uint16_t i = 0; i < typeCount; ++i) {
            Descriptor d;
            d.indexName = ToNarrow(LenText(r));  // index name of the type's block
            LenText(r);  // second name, purpose unknown
            r.U16();
            d.nameOffset = r.U16();
            uint16_t h = r.U16();
            typeHelp.push_back(r.Bytes(h));
            r.U16();
            d.helpContext = r.U32();
            r.U16();
            d.guid = ReadGuid(r);
            d.kind = r.U16();
            Need(r.ok());
            descriptors_.push_back(std::move(d));
        }
        uint32_t nameArea = r.U32();
        r.U16();  // longest decoded help string (not trusted)
        uint32_t treeSize = r.U32();
        Need(r.ok() && treeSize <= r.remaining());
        tree_ = r.Bytes(treeSize);
        Need(r.ok() && nameArea >= r.pos());

        ByteReader n = ByteReader(block).At(nameArea);
        uint16_t marker = n.U16();
        n.Skip(marker == 0x0200 ? 0x2C - 2 : 12 - 2);
        n.Skip(0x200);
        uint32_t nameBytes = n.U32();
        Need(n.ok() && nameBytes <= n.remaining());
        names_ = n.Bytes(nameBytes);

        lib_.name = Name(libName);
        for (size_t i = 0; i < descriptors_.size(); ++i) descriptors_[i].doc = HelpString(typeHelp[i]);
    }

    static GUID ReadGuid(ByteReader& r)
    {
        GUID g{};
        g.Data1 = r.U32();
        g.Data2 = r.U16();
        g.Data3 = r.U16();
        for (auto& b : g.Data4) b = r.U8();
        return g;
    }

    // A name-table entry: 8 bytes of hash links, then NUL-terminated text.
    const std::u16string& Name(uint16_t offset)
    {
        bool metBefore = false;
        const std::u16string* name = ctx_.names.Find(offset, &metBefore);
        if (!name) {
            size_t start = size_t{offset} + 8;
            Need(start <= names_.size());
            size_t end = start;
            while (end < names_.size() && names_[end] != std::byte{0}) ++end;
            Need(end < names_.size());
            name = &ctx_.names.Keep(offset, FromAnsi(names_.subspan(start, end - start)));
        }
        Spend(DecodeContext::CostOf(*name));
        return *name;
    }

    // ---- help strings ----
    // Decodes a word-compressed help string: bits, most significant first,
    // walk the tree from its root; a leaf holds one word; an empty word ends.
    // Each bit read is charged, so a tree that never reaches a word costs
    // what a long string would.
    std::u16string HelpString(std::span<const std::byte> in)
    {
        if (in.empty()) return {};
        std::string out;
        size_t node = 0;
        bool moved = false;
        for (size_t bit = 0;;) {
            if (ByteAt(tree_, node) == 0x80) {
                if (bit >= in.size() * 8) break;
                bool one = (static_cast<uint8_t>(in[bit / 8]) >> (7 - bit % 8)) & 1;
                ++bit;
                Spend(1);
                moved = true;
                node = one ? node + 3 : (size_t{ByteAt(tree_, node + 1)} << 8 | ByteAt(tree_, node + 2));
                continue;
            }
            if (!moved) break;  // a leaf at the root: a tree that holds no words
            size_t end = node + 1;
            while (ByteAt(tree_, end) != 0) ++end;
            if (end == node + 1) break;
            if (!out.empty()) out.push_back(' ');
            for (size_t i = node + 1; i < end; ++i) out.push_back(static_cast<char>(tree_[i]));
            Need(out.size() <= kMaxHelpStringLength);
            Spend(end - node);
            node = 0;
            moved = false;
        }
        return FromAnsi(std::as_bytes(std::span<const char>(out.data(), out.size())));
    }

    std::u16string HelpAt(std::span<const std::byte> md, uint16_t offset)
    {
        if (offset == kNone) return {};
        Need(offset <= md.size());
        return HelpString(md.subspan(offset));
    }

    // ---- references ----
    void ReadRefTable(ByteReader r, TypeRefs& refs)
    {
        r.U8();
        r.U8();
        r.Skip(0x42);
        uint32_t n = r.U32();
        Need(r.ok() && n % 8 == 0 && n <= r.remaining());
        r.Skip(n);
        r.U16();
        r.U8();
        r.U32();
        Need(r.ok());
        for (uint32_t i = 0; i < n / 8; ++i) {
            uint16_t len = r.U16();
            auto text = r.Bytes(len);
            Need(r.ok());
            std::string_view s(reinterpret_cast<const char*>(text.data()), text.size());
            size_t pos = 0;
            Expect(s, &pos, "*\\R");
            uint32_t lib = Hex(s, &pos);
            Expect(s, &pos, "*#");
            uint32_t index = Hex(s, &pos);
            Need(index <= 0xFFFF);
            RefTarget t;
            t.index = static_cast<int>(index);
            if (lib == 0xFFFF) {
                t.missing = t.index >= static_cast<int>(descriptors_.size());
            } else {
                Need(lib <= 0xFFFF);
                t.internal = false;
                t.importLib = ImportLibrary(static_cast<uint16_t>(lib));
                if (!dispatchRef_ && t.index == kIDispatchIndex &&
                    lib_.imports[static_cast<size_t>(t.importLib)].guid == kStdOleLibGuid)
                    dispatchRef_ = t;
            }
            refs.targets.push_back(t);
        }
    }

    // "*\G{guid}#major.minor#lcid#path#", a name-table string.
    int ImportLibrary(uint16_t nameOffset)
    {
        auto known = importByName_.find(nameOffset);
        if (known != importByName_.end()) return known->second;
        std::u16string text = Name(nameOffset);
        std::string s(text.begin(), text.end());
        size_t pos = 0;
        Expect(s, &pos, "*\\G");
        Need(s.size() >= pos + 38);
        ImportLibData imp;
        Need(SUCCEEDED(IIDFromString(text.substr(pos, 38).c_str(), &imp.guid)));
        pos += 38;
        Expect(s, &pos, "#");
        uint32_t major = Hex(s, &pos);
        Expect(s, &pos, ".");
        uint32_t minor = Hex(s, &pos);
        Expect(s, &pos, "#");
        imp.lcid = Hex(s, &pos);
        Expect(s, &pos, "#");
        Need(major <= 0xFFFF && minor <= 0xFFFF);
        imp.majorVersion = static_cast<WORD>(major);
        imp.minorVersion = static_cast<WORD>(minor);
        size_t end = s.find('#', pos);
        std::u16string path = text.substr(pos, end == std::string::npos ? std::u16string::npos : end - pos);
        size_t slash = path.find_last_of(u"\\/:");
        imp.fileName = slash == std::u16string::npos ? path : path.substr(slash + 1);

        auto key = std::make_tuple(imp.guid, imp.majorVersion, imp.minorVersion, imp.lcid);
        auto [it, added] = importByKey_.emplace(key, static_cast<int>(lib_.imports.size()));
        if (added) lib_.imports.push_back(std::move(imp));
        importByName_.emplace(nameOffset, it->second);
        return it->second;
    }

    // The HREFTYPE of a reference target: own types 4 * index (+2 for the
    // interface half of a dual), imported types 4 * k + 1, and 3 for every
    // reference that leads nowhere.
    HREFTYPE Href(const RefTarget& t, bool dualHalf = false)
    {
        if (t.missing) {
            constexpr HREFTYPE kNowhere = 3;
            if (refIndex_.emplace(kNowhere, lib_.refs.size()).second) {
                RefData r;
                r.href = kNowhere;
                r.kind = RefKind::Missing;
                lib_.refs.push_back(std::move(r));
            }
            return kNowhere;
        }
        if (t.internal) {
            HREFTYPE h = static_cast<HREFTYPE>(t.index) * 4 + (dualHalf ? 2 : 0);
            if (refIndex_.emplace(h, lib_.refs.size()).second) {
                RefData r;
                r.href = h;
                r.kind = RefKind::Internal;
                r.typeIndex = t.index;
                r.dualInterface = dualHalf;
                lib_.refs.push_back(std::move(r));
            }
            return h;
        }
        auto key = std::make_pair(t.importLib, t.index);
        auto it = importRefs_.find(key);
        if (it != importRefs_.end()) return it->second;
        HREFTYPE h = static_cast<HREFTYPE>(importRefs_.size()) * 4 + 1;
        importRefs_.emplace(key, h);
        RefData r;
        r.href = h;
        r.kind = RefKind::Imported;
        r.importLib = t.importLib;
        r.byGuid = false;
        r.importTypeIndex = t.index;
        refIndex_.emplace(h, lib_.refs.size());
        lib_.refs.push_back(std::move(r));
        return h;
    }

    // A reference index past the type's reference table (or of a type with
    // none) leaves the library readable, as the platform reads it: the
    // reference leads nowhere.
    HREFTYPE RefByIndex(const TypeRefs& refs, size_t index)
    {
        if (index >= refs.targets.size()) return Href(RefTarget{true, 0, -1, true});
        return Href(refs.targets[index]);
    }

    // A dispinterface that is not dual ignores its implemented-type record's
    // reference word (older compilers store the variable count there): its
    // base is the library's IDispatch, the first reference to it in any
    // type's table, whatever the stdole version; without one it leads nowhere.
    // The base of an interface that derives from an own dual interface is
    // that interface's vtable half.
    void FinishReferences()
    {
        for (auto& t : lib_.types) {
            if (t.kind != TKIND_DISPATCH || t.implTypes.empty()) continue;
            t.implTypes[0].href = dispatchRef_ ? Href(*dispatchRef_) : Href(RefTarget{true, 0, -1, true});
        }
        for (auto& t : lib_.types) {
            if (t.kind != TKIND_INTERFACE || t.implTypes.empty()) continue;
            const RefData& r = lib_.refs[refIndex_.at(t.implTypes[0].href)];
            if (r.kind == RefKind::Internal && (lib_.types[static_cast<size_t>(r.typeIndex)].flags & TYPEFLAG_FDUAL))
                t.implTypes[0].href = Href(RefTarget{true, r.typeIndex, -1}, true);
        }
    }

    // ---- type descriptions ----
    static USHORT ParamFlags(uint16_t w)
    {
        USHORT f = 0;
        switch (w & 0xC000) {
        case 0x0000: f |= PARAMFLAG_FIN; break;
        case 0x4000: f |= PARAMFLAG_FOUT; break;
        case 0x8000: f |= PARAMFLAG_FIN | PARAMFLAG_FOUT; break;
        default: break;
        }
        if (w & 0x0080) f |= PARAMFLAG_FRETVAL;
        if (w & 0x2000) f |= PARAMFLAG_FLCID;
        return f;
    }

    // Reads one type description from r; md is the member data (for array
    // descriptors). *flags receives the parameter flags of the first word.
    TypeDescData ReadType(ByteReader& r, std::span<const std::byte> md, const TypeRefs& refs, USHORT* flags = nullptr,
                          size_t depth = 0)
    {
        Need(depth < kMaxTypeDepth);
        uint16_t w = r.U16();
        Need(r.ok());
        if (flags) *flags = ParamFlags(w);
        TypeDescData t;
        VARTYPE vt = static_cast<VARTYPE>(w & 0x3F);
        if ((w & 0x0E00) == 0x0E00) {
            t.vt = VT_PTR;
            SpendElement();
            t.element.push_back(ReadBody(vt, r, md, refs, depth + 1));
            return t;
        }
        return ReadBody(vt, r, md, refs, depth);
    }

    TypeDescData ReadBody(VARTYPE vt, ByteReader& r, std::span<const std::byte> md, const TypeRefs& refs, size_t depth)
    {
        Need(depth < kMaxTypeDepth);
        TypeDescData t;
        t.vt = vt;
        switch (vt) {
        case VT_PTR:
            SpendElement();
            t.element.push_back(ReadType(r, md, refs, nullptr, depth + 1));
            break;
        case VT_SAFEARRAY:
            r.U16();  // offset of a descriptor that adds nothing
            SpendElement();
            t.element.push_back(ReadType(r, md, refs, nullptr, depth + 1));
            break;
        case VT_USERDEFINED:
            t.href = RefByIndex(refs, r.U16() / 4u);
            Need(r.ok());
            break;
        case VT_CARRAY: {
            uint16_t at = r.U16();
            Need(r.ok());
            ByteReader a = ByteReader(md).At(at);
            uint16_t dims = a.U16();
            a.Skip(2 + 4 + 4 + 4);
            Need(a.ok() && dims > 0 && a.Has(size_t{dims} * 8));
            SpendElement();
            Spend(DecodeContext::BoundsCost(dims));
            for (uint16_t i = 0; i < dims; ++i) {
                SAFEARRAYBOUND b{};
                b.cElements = a.U32();
                b.lLbound = a.I32();
                t.MutableBounds().push_back(b);
            }
            t.SetElement(ReadType(r, md, refs, nullptr, depth + 1));
            break;
        }
        default:
            break;
        }
        return t;
    }

    // A type held in a one-word field: inline, or the offset of its words.
    TypeDescData OneWordType(uint16_t word, bool isInline, std::span<const std::byte> md, const TypeRefs& refs,
                             USHORT* flags)
    {
        if (isInline) {
            std::array<std::byte, 2> bytes{std::byte(word & 0xFF), std::byte(word >> 8)};
            ByteReader r(bytes);
            return ReadType(r, md, refs, flags);
        }
        ByteReader r = ByteReader(md).At(word);
        return ReadType(r, md, refs, flags);
    }

    static DWORD HelpContext(uint16_t w) { return w == 0xFFFE ? 0 : w; }

    // ---- members ----
    void ReadFuncs(TypeData& t, std::span<const std::byte> md, const TypeRefs& refs, uint16_t first, uint16_t count)
    {
        Need(size_t{count} * kFuncRecordSize <= md.size());
        t.funcs.reserve(count);
        FUNCKIND kind = t.kind == TKIND_MODULE ? FUNC_STATIC : t.kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        uint16_t at = first;
        for (uint16_t i = 0; i < count; ++i) {
            Need(at != kNone);
            ByteReader r = ByteReader(md).At(at);
            Spend(sizeof(FuncData));
            FuncData& f = t.funcs.emplace_back();
            uint8_t magic = r.U8();
            uint8_t inv = r.U8();
            uint16_t next = r.U16();
            uint16_t name = r.U16();
            f.memid = r.I32();
            f.helpContext = HelpContext(r.U16());
            uint16_t help = r.U16();
            uint16_t args = r.U16();
            uint8_t ccp = r.U8();
            uint8_t opt = r.U8();
            uint16_t ret = r.U16();
            // Dispatch functions have no vtable slot (they store 0xFFFF); the
            // others' vtable word is rounded down to a multiple of the pointer
            // size, as the platform reads it (the low bit is a marker).
            f.oVft = static_cast<SHORT>(r.U16() & ~(lib_.syskind == SYS_WIN64 ? 7u : 3u));
            if (kind == FUNC_DISPATCH) f.oVft = 0;
            if (magic & 0x20) f.flags = r.U16();
            Need(r.ok());
            f.funckind = kind;
            int invkind = inv >> 4;
            Need(invkind == INVOKE_FUNC || invkind == INVOKE_PROPERTYGET || invkind == INVOKE_PROPERTYPUT ||
                 invkind == INVOKE_PROPERTYPUTREF);
            f.invkind = static_cast<INVOKEKIND>(invkind);
            f.callconv = static_cast<CALLCONV>(ccp & 7);
            size_t cParams = ccp >> 3;
            f.cParamsOpt = static_cast<SHORT>((opt & 0x7E) >> 1);
            if (name != kNone) f.name = Name(name);
            f.docString = HelpAt(md, help);
            f.returnType = OneWordType(ret, (opt & 0x80) != 0, md, refs, &f.returnFlags);

            if (cParams) {
                f.params.reserve(cParams);
                ByteReader a = ByteReader(md).At(args);
                for (size_t p = 0; p < cParams; ++p) {
                    Spend(sizeof(ParamData));
                    ParamData& pd = f.params.emplace_back();
                    uint16_t w = a.U16();
                    Need(a.ok());
                    bool isInline = w == kNone || (w != 0xFFFE && (w & 1));
                    if (w != kNone && w != 0xFFFE) pd.name = Name(static_cast<uint16_t>(w & ~1u));
                    if (isInline) {
                        pd.type = ReadType(a, md, refs, &pd.flags);
                    } else {
                        ByteReader tr = ByteReader(md).At(a.U16());
                        pd.type = ReadType(tr, md, refs, &pd.flags);
                    }
                    if (static_cast<int>(p) >= static_cast<int>(cParams) - f.cParamsOpt) pd.flags |= PARAMFLAG_FOPT;
                }
            }
            at = next;
        }
    }

    void ReadVars(TypeData& t, std::span<const std::byte> md, const TypeRefs& refs, uint16_t first, uint16_t count)
    {
        Need(size_t{count} * kVarRecordSize <= md.size());
        t.vars.reserve(count);
        uint16_t at = first;
        std::u16string previousName;
        for (uint16_t i = 0; i < count; ++i) {
            Need(at != kNone);
            ByteReader r = ByteReader(md).At(at);
            Spend(sizeof(VarData));
            VarData& v = t.vars.emplace_back();
            uint8_t magic = r.U8();
            uint8_t bits = r.U8();
            uint16_t next = r.U16();
            uint16_t name = r.U16();
            uint16_t value = r.U16();
            uint16_t type = r.U16();
            v.memid = r.I32();
            v.helpContext = HelpContext(r.U16());
            uint16_t help = r.U16();
            if (magic & 0x20) v.flags = r.U16();
            if (bits & 0x80) v.flags |= VARFLAG_FREADONLY;
            Need(r.ok());
            if (name == 0xFFFE) v.name = previousName;
            else if (name != kNone) v.name = Name(name);
            previousName = v.name;
            v.docString = HelpAt(md, help);
            v.type = OneWordType(type, (bits & 0x02) != 0, md, refs, &v.elemFlags);
            v.elemFlags = 0;
            if (bits & 0x10) {
                v.varkind = VAR_CONST;
                v.constValue = ConstValue(v.type.vt, value, (bits & 0x08) != 0, md);
                Spend(DecodeContext::CostOf(*v.constValue));  // constants can share one string
            } else if (bits & 0x40) {
                v.varkind = VAR_DISPATCH;
            } else if (t.kind == TKIND_MODULE) {
                v.varkind = VAR_STATIC;
            } else {
                v.varkind = VAR_PERINSTANCE;
                v.oInst = value;
            }
            at = next;
        }
    }

    static Variant ConstValue(VARTYPE vt, uint16_t value, bool direct, std::span<const std::byte> md)
    {
        if (direct) return Variant::Int(value);
        ByteReader r = ByteReader(md).At(value);
        if (vt == VT_BSTR || vt == VT_LPSTR || vt == VT_LPWSTR) {
            uint16_t n = r.U16();
            if (n == kNone) return Variant(std::u16string_view());
            auto s = r.Bytes(n);
            Need(r.ok());
            return Variant(std::u16string_view(FromAnsi(s)));
        }
        int32_t x = r.I32();
        Need(r.ok());
        return Variant::Int(x);
    }

    void ReadImpls(TypeData& t, std::span<const std::byte> md, const TypeRefs& refs, uint16_t first, uint16_t count)
    {
        Need(size_t{count} * kImplRecordSize <= md.size());
        uint16_t at = first;
        for (uint16_t i = 0; i < count; ++i) {
            Need(at != kNone);
            ByteReader r = ByteReader(md).At(at);
            r.U16();
            uint16_t next = r.U16();
            r.U16();
            ImplTypeData it;
            it.flags = r.U8();
            r.U8();
            r.U16();
            uint16_t ref = r.U16();
            Need(r.ok());
            if (t.kind != TKIND_DISPATCH || i != 0) it.href = RefByIndex(refs, ref);  // else FinishReferences
            t.implTypes.push_back(std::move(it));
            at = next;
        }
    }

    // ---- type blocks ----
    void ReadTypeBlock(std::span<const std::byte> block, const Descriptor& d)
    {
        ByteReader h(block);
        Need(h.U16() == kTypeMagic);
        uint32_t refTable = h.U32();
        h.U32();
        uint32_t members = h.U32();
        h.U32();
        TypeData t;
        t.majorVersion = h.U16();
        t.minorVersion = h.U16();
        h.U32();
        uint8_t f0 = h.U8();
        uint8_t f1 = h.U8();
        h.U8();
        uint8_t kind = h.U8();
        Need(h.ok() && kind < TKIND_MAX);
        t.kind = static_cast<TYPEKIND>(kind);
        t.flags = static_cast<WORD>((f0 >> 3) | (f1 << 5));
        if (t.kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL)) t.kind = TKIND_INTERFACE;
        t.name = Name(d.nameOffset);
        t.guid = d.guid;
        t.docString = d.doc;
        t.helpContext = d.helpContext;
        t.lcid = lib_.lcid;

        TypeRefs refs;
        if (refTable != 0xFFFFFFFF) {
            Need(refTable >= kTypeHeaderSize && refTable <= block.size());
            ReadRefTable(ByteReader(block).At(refTable), refs);
        }

        ByteReader m = ByteReader(block).At(members);
        m.Skip(kMemberHeaderSize - 4);
        uint32_t mdSize = m.U32();
        Need(m.ok() && mdSize <= m.remaining() && m.remaining() - mdSize >= kTailSize && mdSize <= 0x10000);
        std::span<const std::byte> md = m.Bytes(mdSize);
        ByteReader tail(m.Bytes(kTailSize));
        uint16_t cFuncs = tail.U16();
        uint16_t cVars = tail.U16();
        uint16_t cImpls = tail.U16();
        tail.U16();
        uint16_t funcFirst = tail.U16();
        uint16_t varFirst = tail.U16();
        uint16_t implFirst = tail.U16();
        tail.Skip(6);
        uint16_t alias = tail.U16();
        tail.Skip(6);
        uint16_t aliasIsVt = tail.U16();
        tail.U16();
        t.cbSizeInstance = tail.U16();
        t.cbAlignment = tail.U16();
        t.alignmentSetting = t.cbAlignment;
        tail.Skip(4);
        t.cbSizeVft = tail.U16();
        Need(tail.ok());

        switch (t.kind) {
        case TKIND_ENUM:
        case TKIND_RECORD:
        case TKIND_UNION:
            ReadVars(t, md, refs, varFirst, cVars);
            break;
        case TKIND_MODULE:
            ReadVars(t, md, refs, varFirst, cVars);
            ReadFuncs(t, md, refs, funcFirst, cFuncs);
            break;
        case TKIND_INTERFACE:
            ReadImpls(t, md, refs, implFirst, cImpls);
            ReadFuncs(t, md, refs, funcFirst, cFuncs);
            Need(t.implTypes.size() <= 1);
            break;
        case TKIND_DISPATCH:
            ReadVars(t, md, refs, varFirst, cVars);
            ReadFuncs(t, md, refs, funcFirst, cFuncs);
            ReadImpls(t, md, refs, implFirst, cImpls);
            Need(t.implTypes.size() <= 2);
            // The vtable of a dispinterface is IDispatch's: seven methods.
            t.cbSizeVft = static_cast<WORD>(7 * (lib_.syskind == SYS_WIN64 ? 8 : 4));
            break;
        case TKIND_COCLASS:
            ReadImpls(t, md, refs, implFirst, cImpls);
            break;
        case TKIND_ALIAS: {
            USHORT ignored = 0;
            t.aliasType = OneWordType(alias, aliasIsVt != 0, md, refs, &ignored);
            break;
        }
        default:
            break;
        }
        lib_.types.push_back(std::move(t));
    }

    // Members, type descriptions and shared strings are copied into the model
    // for every use, against the image's budget (see DecodeContext). The
    // densest legitimate content (parameter lists: 4 file bytes for a
    // ParamData and its type) needs about 52 bytes per file byte.
    void Spend(size_t units) { Need(ctx_.Charge(units)); }
    // A description is held by its owner (a parameter, a member, a type);
    // the target of a pointer or array is a block of its own, made for each use.
    void SpendElement() { Spend(DecodeContext::BoxCost<TypeDescNode>()); }

    std::span<const std::byte> image_;
    LibraryData& lib_;
    DecodeContext ctx_;
    std::vector<Block> blocks_;
    std::vector<Descriptor> descriptors_;
    std::span<const std::byte> names_;
    std::span<const std::byte> tree_;
    std::unordered_map<uint16_t, int> importByName_;
    std::map<std::tuple<GUID, WORD, WORD, LCID>, int> importByKey_;
    std::map<std::pair<int, int>, HREFTYPE> importRefs_;
    std::unordered_map<HREFTYPE, size_t> refIndex_;
    std::optional<RefTarget> dispatchRef_;  // the first reference to stdole's IDispatch
};

}  // namespace

HRESULT ReadSltg(std::span<const std::byte> image, LibraryData* out)
{
    if (!out) return E_POINTER;
    *out = LibraryData{};
    try {
        LibraryData lib;
        Parser(image, lib).Run();
        lib.reportsDiskImage = false;
        *out = std::move(lib);
        return S_OK;
    } catch (const Corrupt&) {
        return TYPE_E_CANTLOADLIBRARY;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace ole

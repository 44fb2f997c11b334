#include "SltgBuilder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <stdexcept>
#include <string>

namespace ole::sltgtest {
namespace {

[[noreturn]] void Unsupported(const std::string& what) { throw std::invalid_argument("SLTG builder: " + what); }

// UTF-16 to Windows-1252 ('?' for what it lacks).
std::string Ansi(const std::u16string& s)
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string r;
    for (char16_t c : s) {
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) b = static_cast<char>(c);
        for (int i = 0; i < 32; ++i)
            if (high[i] == c) b = static_cast<char>(0x80 + i);
        r.push_back(b);
    }
    return r;
}

class Out {
public:
    size_t size() const { return b_.size(); }
    void U8(uint32_t v) { b_.push_back(static_cast<std::byte>(v & 0xFF)); }
    void U16(uint32_t v)
    {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v)
    {
        U16(v);
        U16(v >> 16);
    }
    void Guid(const GUID& g)
    {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        for (auto c : g.Data4) U8(c);
    }
    void Fill(size_t n, uint8_t v)
    {
        for (size_t i = 0; i < n; ++i) U8(v);
    }
    void Text(const std::string& s)
    {
        for (char c : s) U8(static_cast<uint8_t>(c));
    }
    void Bytes(std::span<const std::byte> s) { b_.insert(b_.end(), s.begin(), s.end()); }
    void Words(const std::vector<uint16_t>& w)
    {
        for (auto x : w) U16(x);
    }
    void Patch16(size_t pos, uint32_t v)
    {
        b_.at(pos) = static_cast<std::byte>(v & 0xFF);
        b_.at(pos + 1) = static_cast<std::byte>((v >> 8) & 0xFF);
    }
    void Patch32(size_t pos, uint32_t v)
    {
        Patch16(pos, v);
        Patch16(pos + 2, v >> 16);
    }
    const std::vector<std::byte>& bytes() const { return b_; }

private:
    std::vector<std::byte> b_;
};

uint16_t Checked16(size_t v, const char* what)
{
    if (v > 0xFFFF) Unsupported(std::string(what) + " does not fit in 16 bits");
    return static_cast<uint16_t>(v);
}

// ---- Help-string compression ----

struct Tree {
    Out bytes;
    std::map<std::string, std::vector<bool>> codes;

    void Build(const std::vector<std::string>& leaves, size_t lo, size_t hi, std::vector<bool>& path)
    {
        if (hi - lo == 1) {
            bytes.U8(0x01);  // any first byte but 0x80 marks a leaf
            bytes.Text(leaves[lo]);
            bytes.U8(0);
            codes[leaves[lo]] = path;
            return;
        }
        size_t node = bytes.size();
        bytes.U8(0x80);
        bytes.U16(0);
        size_t mid = lo + (hi - lo) / 2;
        path.push_back(true);  // 1: the node right after this one
        Build(leaves, lo, mid, path);
        path.back() = false;   // 0: the node at the stored offset (big-endian)
        size_t zero = bytes.size();
        bytes.Patch16(node + 1, static_cast<uint32_t>(((zero & 0xFF) << 8) | ((zero >> 8) & 0xFF)));
        Build(leaves, mid, hi, path);
        path.pop_back();
    }
};

std::vector<std::string> SplitWords(const std::string& s)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find(' ', i);
        if (j == std::string::npos) j = s.size();
        if (j == i) Unsupported("help string with an empty word: \"" + s + "\"");
        words.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return words;
}

}  // namespace

HelpStringTable CompressHelpStrings(const std::vector<std::string>& texts)
{
    std::vector<std::string> leaves{""};
    for (const auto& t : texts)
        for (auto& w : SplitWords(t))
            if (std::find(leaves.begin(), leaves.end(), w) == leaves.end()) leaves.push_back(w);
    if (leaves.size() == 1) leaves.push_back("?");  // a root must be an interior node
    Tree tree;
    std::vector<bool> path;
    tree.Build(leaves, 0, leaves.size(), path);
    HelpStringTable r;
    r.tree = tree.bytes.bytes();
    for (const auto& t : texts) {
        std::vector<bool> bits;
        for (auto& w : SplitWords(t)) {
            const auto& c = tree.codes.at(w);
            bits.insert(bits.end(), c.begin(), c.end());
        }
        const auto& end = tree.codes.at("");
        bits.insert(bits.end(), end.begin(), end.end());
        std::vector<std::byte> enc((bits.size() + 7) / 8);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) enc[i / 8] |= static_cast<std::byte>(0x80 >> (i % 8));
        r.encoded.push_back(std::move(enc));
    }
    return r;
}

namespace {

class Builder {
public:
    Builder(const LibraryData& lib, const BuildOptions& options) : lib_(lib), options_(options) {}

    std::vector<std::byte> Build()
    {
        if (!lib_.custData.empty() || lib_.helpStringContext || !lib_.helpStringDll.empty())
            Unsupported("library custom data, help string context or help string DLL");
        PrepareHelpStrings();
        std::vector<Out> blocks;
        for (size_t i = 0; i < lib_.types.size(); ++i) blocks.push_back(TypeBlock(lib_.types[i]));
        blocks.push_back(LibraryBlock());
        return File(blocks);
    }

private:
    // ---- names ----
    uint16_t Name(const std::string& s)
    {
        auto it = names_.find(s);
        if (it != names_.end()) return it->second;
        uint16_t off = Checked16(nameData_.size(), "name table");
        nameData_.U16(0xFFFF);  // hash link information, not needed to read
        nameData_.U16(0xFFFF);
        nameData_.U32(0);
        nameData_.Text(s);
        nameData_.U8(0);
        if (nameData_.size() % 2) nameData_.U8(0);
        names_.emplace(s, off);
        return off;
    }
    uint16_t Name(const std::u16string& s) { return Name(Ansi(s)); }

    // ---- help strings ----
    void PrepareHelpStrings()
    {
        std::vector<std::string> texts;
        auto add = [&](const std::u16string& s) {
            if (!s.empty()) texts.push_back(Ansi(s));
        };
        for (const auto& t : lib_.types) {
            add(t.docString);
            for (const auto& f : t.funcs) add(f.docString);
            for (const auto& v : t.vars) add(v.docString);
        }
        auto table = CompressHelpStrings(texts);
        tree_ = table.tree;
        for (size_t i = 0; i < texts.size(); ++i) {
            help_[texts[i]] = table.encoded[i];
            maxHelp_ = std::max(maxHelp_, texts[i].size() + 1);
        }
    }
    const std::vector<std::byte>& Help(const std::u16string& s) { return help_.at(Ansi(s)); }

    // ---- references and type words ----
    struct TypeCtx {
        std::vector<HREFTYPE> refs;  // reference table of the type, in index order
        Out md;                      // member data
    };

    // A reference that leads nowhere (RefKind::Missing) gets an index past
    // any reference table.
    uint16_t RefIndex(TypeCtx& c, HREFTYPE h)
    {
        auto r = std::find_if(lib_.refs.begin(), lib_.refs.end(), [&](const RefData& d) { return d.href == h; });
        if (r != lib_.refs.end() && r->kind == RefKind::Missing) return kNowhere;
        auto it = std::find(c.refs.begin(), c.refs.end(), h);
        if (it == c.refs.end()) {
            c.refs.push_back(h);
            it = c.refs.end() - 1;
        }
        return static_cast<uint16_t>(it - c.refs.begin());
    }

    static uint16_t FlagBits(USHORT f)
    {
        uint16_t w = 0;
        bool in = f & PARAMFLAG_FIN, out = f & PARAMFLAG_FOUT;
        if (in && out) w |= 0x8000;
        else if (out) w |= 0x4000;
        else if (!in) w |= 0xC000;
        if (f & PARAMFLAG_FRETVAL) w |= 0x80;
        if (f & PARAMFLAG_FLCID) w |= 0x2000;
        return w;
    }

    static bool Plain(const TypeDescData& t)
    {
        return t.vt != VT_PTR && t.vt != VT_SAFEARRAY && t.vt != VT_CARRAY && t.vt != VT_USERDEFINED;
    }

    std::vector<uint16_t> Words(TypeCtx& c, const TypeDescData& t, uint16_t flags)
    {
        if (t.vt >= 64) Unsupported("VARTYPE above 63");
        std::vector<uint16_t> w;
        switch (t.vt) {
        case VT_PTR:
            if (Plain(t.element.at(0))) {
                w.push_back(flags | 0x0E00 | t.element[0].vt);
            } else {
                w.push_back(flags | VT_PTR);
                auto e = Words(c, t.element[0], 0);
                w.insert(w.end(), e.begin(), e.end());
            }
            break;
        case VT_SAFEARRAY: {
            w.push_back(flags | VT_SAFEARRAY);
            w.push_back(0xFFFF);
            auto e = Words(c, t.element.at(0), 0);
            w.insert(w.end(), e.begin(), e.end());
            break;
        }
        case VT_USERDEFINED:
            w.push_back(flags | VT_USERDEFINED);
            w.push_back(static_cast<uint16_t>(RefIndex(c, t.href) * 4));
            break;
        case VT_CARRAY: {
            uint16_t at = Checked16(c.md.size(), "member data");
            c.md.U16(static_cast<uint32_t>(t.Bounds().size()));
            c.md.U16(0);
            c.md.U32(0);
            c.md.U32(0);
            c.md.U32(0);
            for (const auto& b : t.Bounds()) {
                c.md.U32(b.cElements);
                c.md.U32(static_cast<uint32_t>(b.lLbound));
            }
            w.push_back(flags | VT_CARRAY);
            w.push_back(at);
            auto e = Words(c, t.element.at(0), 0);
            w.insert(w.end(), e.begin(), e.end());
            break;
        }
        default:
            w.push_back(flags | t.vt);
        }
        return w;
    }

    // A type in a one-word field: the word itself when it is one word, else
    // the offset of the words in the member data. Returns {word, inline}.
    std::pair<uint16_t, bool> OneWord(TypeCtx& c, const TypeDescData& t, uint16_t flags)
    {
        auto w = Words(c, t, flags);
        if (w.size() == 1) return {w[0], true};
        uint16_t at = Checked16(c.md.size(), "member data");
        c.md.Words(w);
        return {at, false};
    }

    uint16_t HelpAt(TypeCtx& c, const std::u16string& doc)
    {
        if (doc.empty()) return 0xFFFF;
        uint16_t at = Checked16(c.md.size(), "member data");
        c.md.Bytes(Help(doc));
        return at;
    }

    // ---- members ----
    void Vars(TypeCtx& c, const TypeData& t, size_t* first, size_t* used)
    {
        size_t start = c.md.size(), prevNext = SIZE_MAX;
        *first = t.vars.empty() ? 0xFFFF : start;
        for (const auto& v : t.vars) {
            if (!v.custData.empty() || v.helpStringContext || v.schema)
                Unsupported("variable custom data, help string context or schema");
            size_t at = c.md.size();
            if (prevNext != SIZE_MAX) c.md.Patch16(prevNext, Checked16(at, "member data"));
            const bool readOnlyBit = options_.olderForms && (v.flags & VARFLAG_FREADONLY);
            const WORD flags = readOnlyBit ? static_cast<WORD>(v.flags & ~VARFLAG_FREADONLY) : v.flags;
            bool hasFlags = flags != 0;
            c.md.U8(hasFlags ? 0x2A : 0x0A);
            c.md.U8(0);
            prevNext = c.md.size();
            c.md.U16(0xFFFF);
            c.md.U16(v.name.empty() ? 0xFFFF : Name(v.name));
            c.md.U16(0);  // +6
            c.md.U16(0);  // +8
            c.md.U32(static_cast<uint32_t>(v.memid));
            c.md.U16(Checked16(v.helpContext, "variable help context"));
            c.md.U16(0xFFFF);  // +0x10
            if (hasFlags) c.md.U16(flags);

            uint8_t bits = readOnlyBit ? 0x80 : 0;
            uint16_t six = 0;
            if (v.varkind == VAR_CONST) {
                bits |= 0x10;
                const VARIANT& val = v.constValue.value().get();
                if (val.vt == VT_BSTR) {
                    six = Checked16(c.md.size(), "member data");
                    std::string s = Ansi(std::u16string(val.bstrVal, SysStringLen(val.bstrVal)));
                    c.md.U16(Checked16(s.size(), "string constant"));
                    c.md.Text(s);
                } else {
                    Variant i4;
                    if (FAILED(VariantChangeType(i4.ptr(), &val, 0, VT_I4))) Unsupported("constant type");
                    int32_t x = i4.get().lVal;
                    if (x >= 0 && x <= 0x7FFF) {
                        bits |= 0x08;
                        six = static_cast<uint16_t>(x);
                    } else {
                        six = Checked16(c.md.size(), "member data");
                        c.md.U32(static_cast<uint32_t>(x));
                    }
                }
            } else if (v.varkind == VAR_DISPATCH) {
                bits |= 0x40;
            } else if (v.varkind == VAR_PERINSTANCE) {
                six = Checked16(v.oInst, "variable offset");
            } else {
                Unsupported("static variables");
            }
            auto [tw, inl] = OneWord(c, v.type, FlagBits(v.elemFlags));
            if (inl) bits |= 0x02;
            c.md.Patch16(at + 6, six);
            c.md.Patch16(at + 8, tw);
            c.md.Patch16(at + 0x10, HelpAt(c, v.docString));
            c.md.Patch16(at, static_cast<uint32_t>(hasFlags ? 0x2A : 0x0A) | (bits << 8));
        }
        *used = c.md.size() - start;
    }

    void Funcs(TypeCtx& c, const TypeData& t, size_t* first, size_t* used)
    {
        size_t start = c.md.size(), prevNext = SIZE_MAX;
        *first = t.funcs.empty() ? 0xFFFF : start;
        for (const auto& f : t.funcs) {
            if (!f.custData.empty() || f.helpStringContext || !f.scodes.empty() || !f.DllName().empty())
                Unsupported("function custom data, help string context, scodes or DLL entry");
            if (f.params.size() > 31 || f.cParamsOpt < 0 || f.cParamsOpt > 63) Unsupported("parameter counts");
            size_t at = c.md.size();
            if (prevNext != SIZE_MAX) c.md.Patch16(prevNext, Checked16(at, "member data"));
            bool hasFlags = f.flags != 0;
            uint8_t kind = f.funckind == FUNC_DISPATCH ? 0xCB : f.funckind == FUNC_STATIC ? 0x8B : 0x4C;
            c.md.U8(kind | (hasFlags ? 0x20 : 0));
            c.md.U8((static_cast<uint32_t>(f.invkind) << 4) | 2);
            prevNext = c.md.size();
            c.md.U16(0xFFFF);
            c.md.U16(f.name.empty() ? 0xFFFF : Name(f.name));
            c.md.U32(static_cast<uint32_t>(f.memid));
            c.md.U16(Checked16(f.helpContext, "function help context"));
            c.md.U16(0xFFFF);  // +0x0C help string
            c.md.U16(0xFFFF);  // +0x0E arguments
            c.md.U8(static_cast<uint32_t>(f.callconv) | static_cast<uint32_t>(f.params.size() << 3));
            c.md.U8(0);        // +0x11
            c.md.U16(0);       // +0x12 return type
            uint16_t vtable = static_cast<uint16_t>(f.oVft);
            if (options_.olderForms) vtable = f.funckind == FUNC_DISPATCH ? 0xFFFF : (vtable | 1);
            c.md.U16(vtable);
            if (hasFlags) c.md.U16(f.flags);

            // Argument list: name word, then the type inline or its offset.
            std::vector<uint16_t> args;
            for (const auto& p : f.params) {
                if (!p.custData.empty() || p.defaultValue) Unsupported("parameter custom data or default value");
                auto w = Words(c, p.type, FlagBits(p.flags));
                // Named parameters always carry their type inline: the platform
                // misreads a named parameter whose type is stored apart.
                bool inl = p.name.empty() ? w.size() <= 2 : !options_.namedParamTypesApart;
                if (p.name.empty()) {
                    args.push_back(inl ? 0xFFFF : 0xFFFE);
                } else {
                    args.push_back(static_cast<uint16_t>(Name(p.name) + (inl ? 1 : 0)));
                }
                if (inl) {
                    args.insert(args.end(), w.begin(), w.end());
                } else {
                    uint16_t off = Checked16(c.md.size(), "member data");
                    c.md.Words(w);
                    args.push_back(off);
                }
            }
            if (!args.empty()) {
                c.md.Patch16(at + 0x0E, Checked16(c.md.size(), "member data"));
                c.md.Words(args);
            }
            auto [rw, inl] = OneWord(c, f.returnType, FlagBits(f.returnFlags));
            c.md.Patch16(at + 0x10, static_cast<uint32_t>(f.callconv) | static_cast<uint32_t>(f.params.size() << 3) |
                                        ((inl ? 0x80u : 0u) | static_cast<uint32_t>(f.cParamsOpt << 1)) << 8);
            c.md.Patch16(at + 0x12, rw);
            c.md.Patch16(at + 0x0C, HelpAt(c, f.docString));
        }
        *used = c.md.size() - start;
    }

    void Impls(TypeCtx& c, const TypeData& t, size_t* first, size_t* used)
    {
        size_t start = c.md.size(), prevNext = SIZE_MAX;
        *first = t.implTypes.empty() ? 0xFFFF : start;
        int k = 0;
        for (const auto& it : t.implTypes) {
            if (!it.custData.empty()) Unsupported("implemented type custom data");
            size_t at = c.md.size();
            if (prevNext != SIZE_MAX) c.md.Patch16(prevNext, Checked16(at, "member data"));
            c.md.U16(0x004A);
            prevNext = c.md.size();
            c.md.U16(0xFFFF);
            c.md.U16(0xFFFF);
            c.md.U8(static_cast<uint32_t>(it.flags));
            c.md.U8(0x80);
            c.md.U16(0);
            if (options_.olderForms && t.kind == TKIND_DISPATCH && !(t.flags & TYPEFLAG_FDUAL)) {
                c.md.U16(static_cast<uint32_t>(t.vars.size()));
                c.md.U16(0x4002);
            } else {
                c.md.U16(RefIndex(c, it.href) * kImplRefScale);
                c.md.U16(0);
            }
            c.md.U16(0xFFFE);
            c.md.U16(0xFFFF);
            c.md.U16(0x001D);
            c.md.U16(static_cast<uint32_t>(k++));
        }
        *used = c.md.size() - start;
    }

    // ---- blocks ----
    std::string RefString(HREFTYPE h)
    {
        auto r = std::find_if(lib_.refs.begin(), lib_.refs.end(), [&](const RefData& d) { return d.href == h; });
        if (r == lib_.refs.end()) Unsupported("unknown HREFTYPE");
        char buf[64];
        if (r->kind == RefKind::Internal) {
            std::snprintf(buf, sizeof buf, "*\\Rffff*#%x", static_cast<unsigned>(r->typeIndex));
            return buf;
        }
        if (r->kind != RefKind::Imported || r->byGuid) Unsupported("reference kind (only internal and by-index imports)");
        const auto& imp = lib_.imports.at(static_cast<size_t>(r->importLib));
        const GUID& g = imp.guid;
        char lib[160];
        std::snprintf(lib, sizeof lib, "*\\G{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}#%x.%x#%x#%s#",
                      static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                      g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7], imp.majorVersion,
                      imp.minorVersion, static_cast<unsigned>(imp.lcid), Ansi(imp.fileName).c_str());
        std::snprintf(buf, sizeof buf, "*\\R%x*#%x", Name(std::string(lib)), static_cast<unsigned>(r->importTypeIndex));
        return buf;
    }

    Out TypeBlock(const TypeData& t)
    {
        if (!t.custData.empty() || t.helpStringContext || t.schema || t.idlFlags)
            Unsupported("type custom data, help string context, schema or IDL flags");
        TypeCtx c;
        size_t fFirst = 0xFFFF, fUsed = 0, vFirst = 0xFFFF, vUsed = 0, iFirst = 0xFFFF, iUsed = 0;
        uint16_t alias = 0xFFFF, aliasIsVt = 0;
        switch (t.kind) {
        case TKIND_ENUM:
        case TKIND_RECORD:
        case TKIND_UNION:
            Vars(c, t, &vFirst, &vUsed);
            break;
        case TKIND_INTERFACE:
            Impls(c, t, &iFirst, &iUsed);
            Funcs(c, t, &fFirst, &fUsed);
            break;
        case TKIND_COCLASS:
            Impls(c, t, &iFirst, &iUsed);
            break;
        case TKIND_DISPATCH:
            Vars(c, t, &vFirst, &vUsed);
            Funcs(c, t, &fFirst, &fUsed);
            Impls(c, t, &iFirst, &iUsed);
            break;
        case TKIND_MODULE:
            Vars(c, t, &vFirst, &vUsed);
            Funcs(c, t, &fFirst, &fUsed);
            break;
        case TKIND_ALIAS: {
            auto [w, inl] = OneWord(c, t.aliasType, 0);
            alias = w;
            aliasIsVt = inl ? 1 : 0;
            break;
        }
        default:
            Unsupported("type kind");
        }

        Out b;
        b.U16(0x0501);
        b.U32(0xFFFFFFFF);  // reference table, patched below
        b.U32(0xFFFFFFFF);
        b.U32(0);           // member header, patched below
        b.U32(0xFFFFFFFF);
        b.U16(t.majorVersion);
        b.U16(t.minorVersion);
        bool dual = (t.flags & TYPEFLAG_FDUAL) != 0;
        b.U32(dual ? 0xFFFC0000 : 0xFFFE0000);
        b.U8(2u | ((t.flags & 0x1Fu) << 3));
        b.U8((t.flags >> 5) & 0xFFu);
        b.U8(2);
        b.U8(static_cast<uint32_t>(t.kind));
        b.U32(0);
        if (!c.refs.empty()) {
            b.Patch32(2, static_cast<uint32_t>(b.size()));
            b.U8(0xDF);
            b.U8(0);
            b.Fill(0x42, 0xFF);
            b.U32(static_cast<uint32_t>(8 * c.refs.size()));
            b.Fill(8 * c.refs.size(), 0xFF);
            b.U16(0xFFFF);
            b.U8(1);
            b.U32(0);
            for (HREFTYPE h : c.refs) {
                std::string s = RefString(h);
                b.U16(static_cast<uint32_t>(s.size()));
                b.Text(s);
            }
            b.U8(0xDF);
        }
        b.Patch32(0x0A, static_cast<uint32_t>(b.size()));
        b.U16(1);
        b.U16(0xFFFF);
        b.U8(1);
        b.U32(static_cast<uint32_t>(c.md.size()));
        b.Bytes(c.md.bytes());
        // tail
        b.U16(static_cast<uint32_t>(t.funcs.size()));
        b.U16(static_cast<uint32_t>(t.vars.size()));
        b.U16(static_cast<uint32_t>(t.implTypes.size()));
        b.U16(0);
        b.U16(static_cast<uint32_t>(fFirst));
        b.U16(static_cast<uint32_t>(vFirst));
        b.U16(static_cast<uint32_t>(iFirst));
        b.U16(static_cast<uint32_t>(fUsed));
        b.U16(static_cast<uint32_t>(vUsed));
        b.U16(static_cast<uint32_t>(iUsed));
        b.U16(alias);
        b.U16(0xFFFF);
        b.U16(0);
        b.U16(0);
        b.U16(aliasIsVt);
        b.U16(0);
        b.U16(Checked16(t.cbSizeInstance, "instance size"));
        b.U16(t.cbAlignment);
        b.U16(0);
        b.U16(0);
        b.U16(t.cbSizeVft);
        b.Fill(8, 0xFF);
        b.U16(0);
        b.U16(0);
        return b;
    }

    static void LenText(Out& o, const std::u16string& s)
    {
        if (s.empty()) return o.U16(0xFFFF);
        std::string a = Ansi(s);
        o.U16(Checked16(a.size(), "text"));
        o.Text(a);
    }

    static std::string IndexName(size_t i)
    {
        std::string s(10, 'A');
        for (size_t k = 10; k-- > 0 && i;) {
            s[k] = static_cast<char>('A' + i % 26);
            i /= 26;
        }
        return s;
    }

    Out LibraryBlock()
    {
        Out b;
        b.U16(0x51CC);
        b.U16(3);
        b.U16(Name(lib_.name));
        b.U16(0xFFFF);
        LenText(b, lib_.docString);
        LenText(b, lib_.helpFile);
        b.U32(lib_.helpContext);
        b.U16(static_cast<uint32_t>(lib_.syskind));
        b.U16(lib_.lcid & 0xFFFF);
        b.U32(0);
        b.U16(lib_.libFlags);
        b.U32(lib_.majorVersion | (static_cast<uint32_t>(lib_.minorVersion) << 16));
        b.Guid(lib_.guid);
        b.Fill(0x40, 0xFF);
        b.U16(static_cast<uint32_t>(lib_.types.size()));
        for (size_t i = 0; i < lib_.types.size(); ++i) {
            const auto& t = lib_.types[i];
            std::string idx = IndexName(i);
            b.U16(static_cast<uint32_t>(idx.size()));
            b.Text(idx);
            b.U16(static_cast<uint32_t>(idx.size()));  // "other" name: purpose unknown
            b.Text(idx);
            b.U16(0xFFFF);
            b.U16(Name(t.name));
            if (t.docString.empty()) {
                b.U16(0);
            } else {
                const auto& h = Help(t.docString);
                b.U16(static_cast<uint32_t>(h.size()));
                b.Bytes(h);
            }
            b.U16(0xFFFF);
            b.U32(t.helpContext);
            b.U16(0xFFFF);
            b.Guid(t.guid);
            b.U16(static_cast<uint32_t>(t.kind));
        }
        size_t nameTablePos = b.size();
        b.U32(0);
        b.U16(Checked16(maxHelp_, "help string length"));
        b.U32(static_cast<uint32_t>(tree_.size()));
        b.Bytes(tree_);
        b.Patch32(nameTablePos, static_cast<uint32_t>(b.size()));
        b.U16(0xFFFF);
        b.Fill(10, 0xFF);
        b.Fill(0x200, 0xFF);
        b.U32(static_cast<uint32_t>(nameData_.size()));
        b.Bytes(nameData_.bytes());
        b.U32(0x01FFFF01);
        b.U32(0);
        return b;
    }

    std::vector<std::byte> File(const std::vector<Out>& blocks)
    {
        Out index;
        index.U8(1);
        index.Text("CompObj");
        index.U8(0);
        index.Text("dir");
        index.U8(0);
        std::vector<uint16_t> nameAt;
        for (size_t i = 0; i + 1 < blocks.size(); ++i) {
            nameAt.push_back(static_cast<uint16_t>(index.size()));
            index.Text(IndexName(i));
            index.U8(0);
        }
        nameAt.push_back(9);  // "dir"
        Out f;
        f.U32(0x47544C53);
        f.U16(static_cast<uint32_t>(blocks.size() + 1));
        f.U16(9);
        f.U16(static_cast<uint32_t>(index.size()));
        f.U16(1);
        f.Guid(GUID{0x000204FF, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}});
        f.U32(0x44);
        f.U32(0xFFFF0000);
        for (size_t i = 0; i < blocks.size(); ++i) {
            f.U32(static_cast<uint32_t>(blocks[i].size()));
            f.U16(nameAt[i]);
            f.U16(i + 1 < blocks.size() ? static_cast<uint32_t>(i + 2) : 0);
        }
        f.Bytes(index.bytes());
        f.Fill(9, 0);
        for (const auto& b : blocks) f.Bytes(b.bytes());
        return f.bytes();
    }

    static constexpr uint16_t kImplRefScale = 1;
    static constexpr uint16_t kNowhere = 0x3FFF;

    const LibraryData& lib_;
    BuildOptions options_;
    std::map<std::string, uint16_t> names_;
    Out nameData_;
    std::vector<std::byte> tree_;
    std::map<std::string, std::vector<std::byte>> help_;
    size_t maxHelp_ = 1;
};

}  // namespace

std::vector<std::byte> BuildSltg(const LibraryData& lib, const BuildOptions& options)
{
    return Builder(lib, options).Build();
}

}  // namespace ole::sltgtest

#include "platform/registry/RegistryParser.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/registry/Registry.h"

namespace reg {

namespace {

// Deeper paths than the platform allows are refused rather than built.
constexpr size_t kMaxKeyDepth = 512;

bool IsSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && NamesEqual(s.substr(0, prefix.size()), prefix);
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t extra;
        if (c < 0x80) extra = 0;
        else if ((c & 0xE0) == 0xC0) extra = 1;
        else if ((c & 0xF0) == 0xE0) extra = 2;
        else if ((c & 0xF8) == 0xF0) extra = 3;
        else return false;
        if (s.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// Single-byte text of an old export: taken as Latin-1.
std::string Latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

// Collects UTF-16 code units and writes them as UTF-8, pairing surrogates.
class Utf16Sink {
public:
    explicit Utf16Sink(std::string& out) : out_(out) {}
    ~Utf16Sink() { flush(); }
    void put(char16_t u) {
        if (u >= 0xD800 && u <= 0xDBFF) {
            flush();
            high_ = u;
            return;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) {
            if (high_) {
                AppendUtf8(out_, 0x10000 + ((char32_t(high_) - 0xD800) << 10) + (u - 0xDC00));
                high_ = 0;
            } else {
                AppendUtf8(out_, 0xFFFD);
            }
            return;
        }
        flush();
        AppendUtf8(out_, u);
    }
    void flush() {
        if (high_) AppendUtf8(out_, 0xFFFD);
        high_ = 0;
    }

private:
    std::string& out_;
    char16_t high_ = 0;
};

// Unescapes the text of a Wine registry file: \\ \" \n and the like, \xHHHH
// (one to four hex digits, a UTF-16 unit) and \ooo (octal).
std::string UnescapeWine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    Utf16Sink sink(out);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c != '\\' || i + 1 >= s.size()) {
            sink.flush();
            out.push_back(c);
            continue;
        }
        char e = s[++i];
        switch (e) {
        case 'a': sink.put(7); break;
        case 'b': sink.put(8); break;
        case 'e': sink.put(27); break;
        case 'f': sink.put(12); break;
        case 'n': sink.put(10); break;
        case 'r': sink.put(13); break;
        case 't': sink.put(9); break;
        case 'v': sink.put(11); break;
        case 'x': {
            unsigned v = 0;
            int n = 0;
            while (n < 4 && i + 1 < s.size() && HexDigit(s[i + 1]) >= 0) v = v * 16 + HexDigit(s[++i]), ++n;
            if (n == 0) {
                sink.flush();
                out.push_back('x');
            } else {
                sink.put(static_cast<char16_t>(v));
            }
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = static_cast<unsigned>(e - '0');
                for (int n = 1; n < 3 && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7'; ++n)
                    v = v * 8 + static_cast<unsigned>(s[++i] - '0');
                sink.put(static_cast<char16_t>(v));
            } else {
                sink.flush();
                out.push_back(e);
            }
        }
    }
    return out;
}

// An export escapes only the backslash and the quote.
std::string UnescapeRegedit(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
        out.push_back(s[i]);
    }
    return out;
}

struct Failure {
    std::string message;
};

class Parser {
public:
    Parser(Registry& registry, const std::filesystem::path& file, int source)
        : registry_(registry), file_(file.string()), source_(source) {}

    bool run(std::string_view text, const std::filesystem::path& file);

private:
    using Lines = std::vector<std::string_view>;

    void error(int line, std::string message) { registry_.addError({file_, line, std::move(message)}); }
    std::string unescape(std::string_view s) const {
        return dialect_ == Dialect::Wine ? UnescapeWine(s) : UnescapeRegedit(s);
    }
    // Position just after the closing quote of a quoted text starting at pos (which holds the quote).
    static std::optional<size_t> quotedEnd(std::string_view s, size_t pos) {
        for (size_t i = pos + 1; i < s.size(); ++i) {
            if (s[i] == '\\') ++i;
            else if (s[i] == '"') return i + 1;
        }
        return std::nullopt;
    }

    void keyLine(std::string_view line, int lineNo);
    void valueLine(const Lines& lines, size_t& index);
    void wineRootComment(std::string_view comment);
    std::vector<std::string> splitPath(std::string_view path) const;
    std::string decodeText(std::string_view bytes) const;

    Registry& registry_;
    std::string file_;
    int source_;
    Dialect dialect_ = Dialect::Unknown;
    Key* wineRoot_ = nullptr;  // the key Wine file paths are relative to
    Key* current_ = nullptr;   // the key values are added to; null skips them
    bool skipValues_ = false;  // values of a deleted or unreadable key are ignored quietly
};

bool Parser::run(std::string_view text, const std::filesystem::path& file) {
    Lines lines;
    for (size_t pos = 0; pos <= text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }

    size_t index = 0;
    while (index < lines.size() && Trim(lines[index]).empty()) ++index;
    std::string_view header = index < lines.size() ? Trim(lines[index]) : std::string_view();
    if (header == "REGEDIT4") {
        dialect_ = Dialect::Regedit4;
    } else if (header == "Windows Registry Editor Version 5.00") {
        dialect_ = Dialect::Regedit5;
    } else if (header.substr(0, 21) == "WINE REGISTRY Version") {
        dialect_ = Dialect::Wine;
        std::string name = FoldName(file.filename().string());
        if (name == "user.reg") {
            wineRoot_ = &registry_.rootForWrite(Hive::CurrentUser);
        } else if (name == "userdef.reg") {
            wineRoot_ = &registry_.rootForWrite(Hive::Users).createSubkey(".Default");
        } else {
            wineRoot_ = &registry_.rootForWrite(Hive::LocalMachine);
        }
    } else {
        std::string shown(header.substr(0, 60));
        error(static_cast<int>(index + 1), "not a registry file: the first line is \"" + shown + "\"");
        return false;
    }

    for (++index; index < lines.size(); ++index) {
        std::string_view line = Trim(lines[index]);
        int lineNo = static_cast<int>(index + 1);
        if (line.empty()) continue;
        switch (line.front()) {
        case ';':
            if (dialect_ == Dialect::Wine) wineRootComment(line);
            break;
        case '#':
            // Wine's #time=, #arch=, #class= and #link lines carry nothing read here.
            if (dialect_ != Dialect::Wine) error(lineNo, "unexpected line starting with \"#\"");
            break;
        case '[':
            keyLine(line, lineNo);
            break;
        case '"':
        case '@':
            valueLine(lines, index);
            break;
        default:
            error(lineNo, "unexpected text \"" + std::string(line.substr(0, 40)) + "\"");
        }
    }
    return true;
}

void Parser::wineRootComment(std::string_view comment) {
    constexpr std::string_view kMarker = "All keys relative to ";
    size_t at = comment.find(kMarker);
    if (at == std::string_view::npos) return;
    std::string root = UnescapeWine(Trim(comment.substr(at + kMarker.size())));
    if (StartsWithNoCase(root, "REGISTRY\\Machine")) {
        wineRoot_ = &registry_.rootForWrite(Hive::LocalMachine);
    } else if (StartsWithNoCase(root, "REGISTRY\\User\\.Default")) {
        wineRoot_ = &registry_.rootForWrite(Hive::Users).createSubkey(".Default");
    } else if (StartsWithNoCase(root, "REGISTRY\\User\\")) {
        wineRoot_ = &registry_.rootForWrite(Hive::CurrentUser);
    }
}

std::vector<std::string> Parser::splitPath(std::string_view path) const {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) parts.emplace_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

void Parser::keyLine(std::string_view line, int lineNo) {
    current_ = nullptr;
    skipValues_ = true;
    std::string path;
    if (dialect_ == Dialect::Wine) {
        // The name ends at the first "]" not escaped; a timestamp may follow.
        size_t end = std::string_view::npos;
        for (size_t i = 1; i < line.size(); ++i) {
            if (line[i] == '\\') ++i;
            else if (line[i] == ']') {
                end = i;
                break;
            }
        }
        if (end == std::string_view::npos) {
            error(lineNo, "key name without closing \"]\"");
            return;
        }
        path = UnescapeWine(line.substr(1, end - 1));
    } else {
        // Key names may hold "]": the name ends at the last one on the line.
        size_t end = line.rfind(']');
        if (end == 0 || end == std::string_view::npos) {
            error(lineNo, "key name without closing \"]\"");
            return;
        }
        path = std::string(line.substr(1, end - 1));
    }

    bool remove = dialect_ != Dialect::Wine && !path.empty() && path.front() == '-';
    std::vector<std::string> parts = splitPath(remove ? std::string_view(path).substr(1) : std::string_view(path));
    if (parts.size() > kMaxKeyDepth) {
        error(lineNo, "key path is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
        return;
    }

    Key* key = nullptr;
    size_t first = 0;
    if (dialect_ == Dialect::Wine) {
        key = wineRoot_;
    } else {
        if (parts.empty()) {
            error(lineNo, "empty key name");
            return;
        }
        const std::string& hive = parts[0];
        first = 1;
        if (NamesEqual(hive, "HKEY_LOCAL_MACHINE") || NamesEqual(hive, "HKLM")) {
            key = &registry_.rootForWrite(Hive::LocalMachine);
        } else if (NamesEqual(hive, "HKEY_CURRENT_USER") || NamesEqual(hive, "HKCU")) {
            key = &registry_.rootForWrite(Hive::CurrentUser);
        } else if (NamesEqual(hive, "HKEY_USERS") || NamesEqual(hive, "HKU")) {
            key = &registry_.rootForWrite(Hive::Users);
        } else if (NamesEqual(hive, "HKEY_CURRENT_CONFIG") || NamesEqual(hive, "HKCC")) {
            key = &registry_.rootForWrite(Hive::CurrentConfig);
        } else if (NamesEqual(hive, "HKEY_CLASSES_ROOT") || NamesEqual(hive, "HKCR")) {
            // Writes to the classes root land in the machine's classes, as on import.
            key = &registry_.rootForWrite(Hive::LocalMachine).createSubkey("Software").createSubkey("Classes");
        } else {
            error(lineNo, "unknown root key \"" + hive + "\"");
            return;
        }
    }
    if (!key) return;

    if (remove) {
        if (parts.size() <= first) {
            error(lineNo, "a root key cannot be deleted");
            return;
        }
        for (size_t i = first; key && i + 1 < parts.size(); ++i) key = key->findSubkeyForWrite(parts[i]);
        if (key) key->removeSubkey(parts.back());
        return;
    }
    for (size_t i = first; i < parts.size(); ++i) key = &key->createSubkey(parts[i]);
    current_ = key;
    skipValues_ = false;
}

std::string Parser::decodeText(std::string_view bytes) const {
    std::string text = dialect_ == Dialect::Regedit4
                           ? (IsValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes))
                           : Utf16LeToUtf8(bytes.substr(0, bytes.size() & ~size_t{1}));
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

void Parser::valueLine(const Lines& lines, size_t& index) {
    int lineNo = static_cast<int>(index + 1);
    std::string_view line = Trim(lines[index]);

    Value value;
    size_t pos;
    if (line.front() == '@') {
        pos = 1;
    } else {
        auto end = quotedEnd(line, 0);
        if (!end) {
            error(lineNo, "value name without closing quote");
            return;
        }
        value.name = unescape(line.substr(1, *end - 2));
        pos = *end;
    }
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
        error(lineNo, "\"=\" expected after the value name");
        return;
    }
    ++pos;
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    std::string_view data = line.substr(pos);

    // Continued hex lines are consumed even when the value is skipped.
    std::string joined;
    bool isHex = StartsWithNoCase(data, "hex");
    if (isHex) {
        joined = std::string(Trim(data));
        while (!joined.empty() && joined.back() == '\\' && index + 1 < lines.size()) {
            joined.pop_back();
            joined += Trim(lines[++index]);
        }
        data = joined;
    }

    if (!current_) {
        if (!skipValues_) error(lineNo, "value outside a key");
        return;
    }

    auto fail = [&](const std::string& what) { error(lineNo, what + " in value \"" + value.name + "\""); };

    if (data == "-") {
        current_->removeValue(value.name);
        return;
    }
    if (!data.empty() && (data.front() == '"' || StartsWithNoCase(data, "str("))) {
        value.type = REG_SZ;
        size_t q = 0;
        if (data.front() != '"') {
            size_t close = data.find(')');
            uint32_t type = 0;
            bool ok = close != std::string_view::npos && close > 4 && close + 1 < data.size() && data[close + 1] == ':';
            for (size_t i = 4; ok && i < close; ++i) {
                int d = HexDigit(data[i]);
                ok = d >= 0 && type < 0x10000000;
                type = type * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
            }
            if (!ok) {
                fail("malformed \"str(\" type");
                return;
            }
            value.type = type;
            q = close + 2;
        }
        auto end = q < data.size() && data[q] == '"' ? quotedEnd(data, q) : std::nullopt;
        if (!end) {
            fail("string without closing quote");
            return;
        }
        std::string_view rest = Trim(data.substr(*end));
        if (!rest.empty() && rest.front() != ';') {
            fail("unexpected text after the string");
            return;
        }
        value.data = unescape(data.substr(q + 1, *end - q - 2));
    } else if (StartsWithNoCase(data, "dword:")) {
        std::string_view digits = Trim(data.substr(6));
        uint32_t v = 0;
        bool ok = !digits.empty() && digits.size() <= 8;
        for (char c : digits) {
            ok = ok && HexDigit(c) >= 0;
            v = v * 16 + static_cast<uint32_t>(HexDigit(c) & 15);
        }
        if (!ok) {
            fail("malformed dword");
            return;
        }
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    } else if (isHex) {
        size_t colon = data.find(':');
        std::string_view kind = data.substr(0, colon == std::string_view::npos ? 0 : colon);
        uint32_t type = REG_BINARY;
        bool ok = colon != std::string_view::npos;
        if (ok && kind.size() > 3) {
            ok = kind.size() > 5 && kind[3] == '(' && kind.back() == ')' && kind.size() <= 13;
            type = 0;
            for (size_t i = 4; ok && i + 1 < kind.size(); ++i) {
                int d = HexDigit(kind[i]);
                ok = d >= 0;
                type = type * 16 + static_cast<uint32_t>(d & 15);
            }
        }
        std::string bytes;
        std::string_view list = ok ? data.substr(colon + 1) : std::string_view();
        size_t i = 0;
        while (ok && i < list.size()) {
            while (i < list.size() && IsSpace(list[i])) ++i;
            if (i >= list.size()) break;
            int hi = HexDigit(list[i]);
            int lo = i + 1 < list.size() ? HexDigit(list[i + 1]) : -1;
            if (hi < 0) {
                ok = false;
                break;
            }
            if (lo < 0) {
                bytes.push_back(static_cast<char>(hi));
                i += 1;
            } else {
                bytes.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
            }
            while (i < list.size() && IsSpace(list[i])) ++i;
            if (i < list.size()) {
                if (list[i] != ',') ok = false;
                ++i;
            }
        }
        if (!ok) {
            fail("malformed hex data");
            return;
        }
        value.type = type;
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
            value.data = decodeText(bytes);
        else
            value.data = std::move(bytes);
    } else {
        fail("unknown data type");
        return;
    }
    value.source = source_;
    current_->setValue(std::move(value));
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    {
        Utf16Sink sink(out);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            sink.put(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return out;
}

bool ParseRegistryText(Registry& registry, std::string_view bytes, const std::filesystem::path& file,
                       const std::filesystem::path& prefix) {
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0)
            registry.addError({file.string(), 0, "UTF-16 text with an odd number of bytes; the last byte is ignored"});
        text = Utf16LeToUtf8(bytes.substr(2));
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = std::string(bytes.substr(3));
    } else {
        text = IsValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
    }
    int source = registry.addSource({file, prefix});
    Parser parser(registry, file, source);
    return parser.run(text, file);
}

}  // namespace reg

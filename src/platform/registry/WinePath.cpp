#include "platform/registry/WinePath.h"

#include <system_error>
#include <vector>

#include "platform/registry/RegistryKey.h"

namespace reg {

namespace fs = std::filesystem;

namespace {

std::vector<std::string_view> SplitComponents(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t end = s.find_first_of("\\/", pos);
        if (end == std::string_view::npos) end = s.size();
        if (end > pos) parts.push_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

fs::path Tidy(const fs::path& p) {
    std::error_code ec;
    if (fs::exists(p, ec)) {
        fs::path canon = fs::weakly_canonical(p, ec);
        if (!ec) return canon;
    }
    return p.lexically_normal();
}

// Resolves components below base; a trailing resource number after an
// existing file is kept apart.
std::string ResolveWithResource(const fs::path& base, std::string_view relative) {
    std::vector<std::string_view> parts = SplitComponents(relative);
    if (parts.size() > 1 && AllDigits(parts.back())) {
        size_t cut = static_cast<size_t>(parts.back().data() - relative.data());
        fs::path file = ResolveCaseInsensitive(base, relative.substr(0, cut));
        std::error_code ec;
        if (fs::is_regular_file(file, ec)) return Tidy(file).string() + "\\" + std::string(parts.back());
    }
    return Tidy(ResolveCaseInsensitive(base, relative)).string();
}

}  // namespace

fs::path ResolveCaseInsensitive(const fs::path& base, std::string_view relative) {
    fs::path cur = base;
    bool searching = true;
    for (std::string_view part : SplitComponents(relative)) {
        if (part == ".") continue;
        if (part == ".." || !searching) {
            cur /= fs::path(std::string(part));
            continue;
        }
        std::error_code ec;
        fs::path exact = cur / std::string(part);
        if (fs::exists(exact, ec)) {
            cur = std::move(exact);
            continue;
        }
        bool found = false;
        for (fs::directory_iterator it(cur, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (NamesEqual(name, part)) {
                cur /= name;
                found = true;
                break;
            }
        }
        if (!found) {
            cur = std::move(exact);
            searching = false;
        }
    }
    return cur;
}

std::string MapRegistryPath(std::string_view text, const fs::path& prefix, const fs::path& baseFolder) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.empty() || text.front() == '/') return std::string(text);
    if (text.substr(0, 4) == "\\\\?\\") text.remove_prefix(4);
    if (text.substr(0, 2) == "\\\\") return std::string(text);  // a network path

    char letter = 0;
    std::string_view rest;
    if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
        letter = text[0];
        rest = text.substr(2);
    } else if (text.front() == '\\') {
        letter = 'c';
        rest = text;
    }
    if (letter) {
        if (prefix.empty()) return std::string(text);
        std::string device(1, static_cast<char>(letter | 0x20));
        device += ':';
        fs::path drive = prefix / "dosdevices" / device;
        std::error_code ec;
        if (!fs::exists(drive, ec)) return std::string(text);
        return ResolveWithResource(drive, rest);
    }
    if (baseFolder.empty()) return std::string(text);
    return ResolveWithResource(baseFolder, text);
}

}  // namespace reg

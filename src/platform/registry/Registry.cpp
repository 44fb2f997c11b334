#include "platform/registry/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/registry/RegistryParser.h"
#include "platform/registry/WinePath.h"

namespace reg {

namespace fs = std::filesystem;

namespace {

// A folder that holds dosdevices is a Wine prefix.
fs::path PrefixOf(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(folder / "dosdevices", ec) ? folder : fs::path();
}

// Variables a Wine prefix defines without writing them to the registry.
std::string_view DefaultVariable(std::string_view name) {
    if (NamesEqual(name, "SystemRoot") || NamesEqual(name, "windir")) return "C:\\windows";
    if (NamesEqual(name, "SystemDrive")) return "C:";
    if (NamesEqual(name, "ProgramFiles")) return "C:\\Program Files";
    if (NamesEqual(name, "CommonProgramFiles")) return "C:\\Program Files\\Common Files";
    return {};
}

}  // namespace

std::string ParseError::text() const {
    std::string out = file;
    out += ':';
    out += std::to_string(line);
    out += ": ";
    out += message;
    return out;
}

Registry::Registry() : classes_(std::make_unique<Key>()) { finish(); }

int Registry::addSource(Source source) {
    sources_.push_back(std::move(source));
    return static_cast<int>(sources_.size() - 1);
}

bool Registry::readText(std::string_view bytes, const fs::path& fileName) {
    return ParseRegistryText(*this, bytes, fileName, PrefixOf(fileName.parent_path()));
}

bool Registry::readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        addError({file.string(), 0, "the file cannot be opened"});
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        addError({file.string(), 0, "the file cannot be read"});
        return false;
    }
    return readText(bytes, file);
}

bool Registry::readPrefix(const fs::path& folder) {
    std::error_code ec;
    bool any = false;
    bool ok = true;
    for (const char* name : {"system.reg", "user.reg"}) {
        fs::path file = folder / name;
        if (!fs::exists(file, ec)) continue;
        any = true;
        ok = readFile(file) && ok;
    }
    if (!any) {
        addError({folder.string(), 0, "neither system.reg nor user.reg is in this folder"});
        return false;
    }
    return ok;
}

bool Registry::loadText(std::string_view bytes, const fs::path& fileName) {
    bool ok = readText(bytes, fileName);
    finish();
    return ok;
}

bool Registry::loadFile(const fs::path& file) {
    bool ok = readFile(file);
    finish();
    return ok;
}

bool Registry::loadPrefix(const fs::path& folder) {
    bool ok = readPrefix(folder);
    finish();
    return ok;
}

void Registry::loadList(std::string_view list) {
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find(':', pos);
        if (end == std::string_view::npos) end = list.size();
        fs::path entry(std::string(list.substr(pos, end - pos)));
        pos = end + 1;
        if (entry.empty()) continue;
        std::error_code ec;
        if (fs::is_directory(entry, ec))
            readPrefix(entry);
        else if (fs::exists(entry, ec))
            readFile(entry);
        else
            addError({entry.string(), 0, "no such file or folder"});
    }
    finish();
}

std::unique_ptr<Registry> Registry::FromEnvironment() {
    auto registry = std::make_unique<Registry>();
    if (const char* list = std::getenv("ZEPHRIN_REGISTRY"); list && *list) {
        registry->loadList(list);
    } else if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        registry->loadPrefix(prefix);
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        std::error_code ec;
        fs::path wine = fs::path(home) / ".wine";
        if (fs::is_directory(wine, ec)) registry->loadPrefix(wine);
    }
    return registry;
}

void Registry::finish() {
    for (Key& root : roots_) root.finish();
    auto classes = std::make_unique<Key>();
    // The built-in standard library, whatever the files say about its path.
    Key& stdole = classes->createSubkey("TypeLib").createSubkey(kStdOleGuid).createSubkey("2.0");
    stdole.setValue({"", REG_SZ, "OLE Automation", kBuiltInSource});
    stdole.createSubkey("FLAGS").setValue({"", REG_SZ, "0", kBuiltInSource});
    Key& win32 = stdole.createSubkey("0").createSubkey("win32");
    for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser})
        if (const Key* from = root(hive).open("Software\\Classes")) classes->mergeFrom(*from);
    win32.setValue({"", REG_SZ, std::string(kStdOlePath), kBuiltInSource});
    Key& old = classes->createSubkey("TypeLib").createSubkey(kStdOleGuid).createSubkey("1.0");
    Key& oldWin32 = old.createSubkey("0").createSubkey("win32");
    if (const Value* path = oldWin32.defaultValue(); !path || !path->isString() || path->data.empty()) {
        if (!old.defaultValue()) old.setValue({"", REG_SZ, "OLE Automation", kBuiltInSource});
        if (!old.findSubkey("FLAGS")) old.createSubkey("FLAGS").setValue({"", REG_SZ, "1", kBuiltInSource});
        oldWin32.setValue({"", REG_SZ, std::string(kStdOle32Path), kBuiltInSource});
    }
    classes->finish();
    classes_ = std::move(classes);
}

std::string Registry::expandVariables(std::string_view text) const {
    const Key* env[] = {
        root(Hive::CurrentUser).open("Environment"),
        root(Hive::LocalMachine).open("System\\CurrentControlSet\\Control\\Session Manager\\Environment"),
    };
    auto lookup = [&](std::string_view name) -> std::optional<std::string_view> {
        if (name.empty()) return std::nullopt;
        for (const Key* key : env)
            if (const Value* v = key ? key->findValue(name) : nullptr; v && v->isString()) return v->data;
        std::string_view fallback = DefaultVariable(name);
        if (!fallback.empty()) return fallback;
        return std::nullopt;
    };
    std::string current(text);
    // A variable may name another one (windir = %SystemRoot%): a few rounds.
    for (int round = 0; round < 4 && current.find('%') != std::string::npos; ++round) {
        std::string out;
        bool changed = false;
        size_t pos = 0;
        while (pos < current.size()) {
            size_t open = current.find('%', pos);
            size_t close = open == std::string::npos ? open : current.find('%', open + 1);
            if (close == std::string::npos) {
                out.append(current, pos);
                break;
            }
            out.append(current, pos, open - pos);
            if (auto found = lookup(std::string_view(current).substr(open + 1, close - open - 1))) {
                out += *found;
                changed = true;
            } else {
                out.append(current, open, close - open + 1);
            }
            pos = close + 1;
        }
        current = std::move(out);
        if (!changed) break;
    }
    return current;
}

std::string Registry::mapPath(std::string_view text, int source) const {
    const Source* from = this->source(source);
    if (!from) return std::string(text);  // built-in values name no file
    return MapRegistryPath(text, from->prefix, from->file.parent_path());
}

std::string Registry::mapPath(const Value& value) const {
    if (value.type == REG_EXPAND_SZ) return mapPath(expandVariables(value.data), value.source);
    return mapPath(value.data, value.source);
}

namespace {

std::mutex g_defaultMutex;
std::shared_ptr<const Registry> g_default;

}  // namespace

std::shared_ptr<const Registry> DefaultRegistry() {
    std::lock_guard lock(g_defaultMutex);
    if (!g_default) {
        std::shared_ptr<Registry> loaded = Registry::FromEnvironment();
        for (const ParseError& e : loaded->errors()) std::fprintf(stderr, "registry: %s\n", e.text().c_str());
        g_default = std::move(loaded);
    }
    return g_default;
}

void SetDefaultRegistry(std::shared_ptr<const Registry> registry) {
    std::lock_guard lock(g_defaultMutex);
    g_default = std::move(registry);
}

}  // namespace reg

#include "platform/registry/Registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/registry/RegTypeLib.h"
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
constexpr std::pair<std::string_view, std::string_view> kDefaultVariables[] = {
    {"SystemRoot", "C:\\windows"},
    {"windir", "C:\\windows"},
    {"SystemDrive", "C:"},
    {"ProgramFiles", "C:\\Program Files"},
    {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
};

constexpr std::string_view kMachineEnvironment = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::string_view kUserEnvironment = "Environment";

// Finds the next %name% in text from pos: [open, close] are its two '%'.
bool NextReference(std::string_view text, size_t pos, size_t* open, size_t* close) {
    *open = text.find('%', pos);
    *close = *open == std::string_view::npos ? *open : text.find('%', *open + 1);
    return *close != std::string_view::npos;
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
    // A file's keys for other locales of the built-in library would be chosen
    // over it for those users: they go as well.
    stdole.finish();
    std::vector<std::string> otherLocales;
    for (size_t i = 0; i < stdole.subkeyCount(); ++i)
        if (ole::LCID lcid = 0; stdole.subkey(i)->name() != "0" && ParseLcidKey(stdole.subkey(i)->name(), &lcid))
            otherLocales.push_back(stdole.subkey(i)->name());
    for (const std::string& name : otherLocales) stdole.removeSubkey(name);
    Key& old = classes->createSubkey("TypeLib").createSubkey(kStdOleGuid).createSubkey("1.0");
    Key& oldWin32 = old.createSubkey("0").createSubkey("win32");
    if (const Value* path = oldWin32.defaultValue(); !path || !path->isString() || path->data.empty()) {
        if (!old.defaultValue()) old.setValue({"", REG_SZ, "OLE Automation", kBuiltInSource});
        if (!old.findSubkey("FLAGS")) old.createSubkey("FLAGS").setValue({"", REG_SZ, "1", kBuiltInSource});
        oldWin32.setValue({"", REG_SZ, std::string(kStdOle32Path), kBuiltInSource});
    }
    classes->finish();
    classes_ = std::move(classes);
    resolveVariables();
    static constexpr const char* kHiveNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS",
                                                 "HKEY_CURRENT_CONFIG"};
    const Key* const environment[2] = {root(Hive::LocalMachine).open(kMachineEnvironment),
                                       root(Hive::CurrentUser).open(kUserEnvironment)};
    for (int hive = 0; hive < 4; ++hive) checkExpansions(roots_[hive], kHiveNames[hive], environment);
}

void Registry::reportOnce(ParseError error) {
    if (reported_.insert(error.text()).second) addError(std::move(error));
}

void Registry::resolveVariables() {
    struct Variable {
        Variable(std::string_view raw, int source, std::string_view name) : raw(raw), source(source), name(name) {}
        std::string_view raw;
        int source;
        std::string_view name;
        enum { Fresh, Busy, Done } state = Fresh;
        size_t depth = 0;  // its place on the stack while Busy
        bool inLoop = false;
        bool tooLong = false;
        std::string text;
        bool usable() const { return state == Done && !inLoop && !tooLong; }
    };
    // The machine's variables, the user's over them, the prefix's defaults
    // beneath both; in name order, so that what is reported does not depend on hashing.
    std::map<std::string, Variable> vars;
    const Key* env[] = {
        root(Hive::LocalMachine).open(kMachineEnvironment),
        root(Hive::CurrentUser).open(kUserEnvironment),
    };
    for (const Key* key : env)
        for (const Value* v : key ? key->values() : std::vector<const Value*>())
            if (v->isString() && !v->name.empty())
                vars.insert_or_assign(FoldName(v->name), Variable(v->data, v->source, v->name));
    for (const auto& [name, text] : kDefaultVariables) vars.try_emplace(FoldName(name), text, kBuiltInSource, name);

    // Each variable is expanded once, depth first on an explicit stack (a chain
    // of variables is as long as the file makes it). A reference to a variable
    // still on the stack closes a loop: every variable in the loop stays as
    // written wherever it is used (low is the lowest stack place a variable's
    // references reached, as in a search for strongly connected parts).
    struct Frame {
        Variable* var;
        std::string_view reference;  // how the variable below named it
        size_t pos = 0;
        size_t low = 0;
    };
    size_t total = 0;
    // Text past either limit is not copied: the variable is marked instead.
    auto append = [&](Variable& v, std::string_view piece) {
        const size_t length = v.text.size() + piece.size();
        if (length > kMaxExpandedLength || total + length > kMaxVariablesLength)
            v.tooLong = true;
        else
            v.text += piece;
    };
    std::vector<Frame> stack;
    auto push = [&](Variable& v, std::string_view reference) {
        v.state = Variable::Busy;
        v.depth = stack.size();
        stack.push_back({&v, reference, 0, v.depth});
    };
    for (auto& [folded, first] : vars) {
        if (first.state == Variable::Fresh) push(first, {});
        while (!stack.empty()) {
            Frame& f = stack.back();
            Variable& v = *f.var;
            size_t open = 0, close = 0;
            if (!v.tooLong && NextReference(v.raw, f.pos, &open, &close)) {
                append(v, v.raw.substr(f.pos, open - f.pos));
                const std::string_view reference = v.raw.substr(open, close - open + 1);
                f.pos = close + 1;
                auto it = vars.find(FoldName(reference.substr(1, reference.size() - 2)));
                Variable* used = it == vars.end() ? nullptr : &it->second;
                if (used && used->state == Variable::Fresh) {
                    push(*used, reference);
                    continue;
                }
                if (used && used->state == Variable::Busy) {
                    used->inLoop = true;
                    f.low = std::min(f.low, used->depth);
                }
                append(v, used && used->usable() ? std::string_view(used->text) : reference);
                continue;
            }
            if (!v.tooLong) append(v, v.raw.substr(std::min(f.pos, v.raw.size())));
            v.state = Variable::Done;
            if (f.low < v.depth) v.inLoop = true;
            const Frame done = f;
            stack.pop_back();
            if (v.usable()) {
                total += v.text.size();
            } else {
                std::string().swap(v.text);
            }
            if (stack.empty()) continue;
            Frame& user = stack.back();
            user.low = std::min(user.low, done.low);
            if (!user.var->tooLong) append(*user.var, v.usable() ? std::string_view(v.text) : done.reference);
        }
    }

    variables_.clear();
    for (auto& [folded, v] : vars) {
        const Source* from = source(v.source);
        const std::string file = from ? from->file.string() : std::string();
        const std::string what = "the variable %" + std::string(v.name) + "% ";
        if (v.inLoop)
            reportOnce({file, 0, what + "refers to itself: it is not expanded"});
        else if (v.tooLong)
            reportOnce({file, 0, what + "expands to more than " + std::to_string(kMaxExpandedLength) +
                                     " bytes, or the variables together to more than " +
                                     std::to_string(kMaxVariablesLength) + ": it is not expanded"});
        else
            variables_.emplace(folded, std::move(v.text));
    }
}

size_t Registry::expandedLength(std::string_view text) const {
    size_t length = 0, pos = 0, open = 0, close = 0;
    while (NextReference(text, pos, &open, &close)) {
        length += open - pos;
        auto it = variables_.find(FoldName(text.substr(open + 1, close - open - 1)));
        length += it != variables_.end() ? it->second.size() : close - open + 1;
        pos = close + 1;
    }
    return length + (text.size() - std::min(pos, text.size()));
}

void Registry::checkExpansions(const Key& key, const std::string& path, const Key* const (&environment)[2]) {
    // The variables themselves are reported by resolveVariables.
    const bool skip = &key == environment[0] || &key == environment[1];
    for (const Value* v : skip ? std::vector<const Value*>() : key.values()) {
        if (v->type != REG_EXPAND_SZ || expandedLength(v->data) <= kMaxExpandedLength) continue;
        const Source* from = source(v->source);
        reportOnce({from ? from->file.string() : std::string(), 0,
                    "the value \"" + v->name + "\" of " + path + " expands to more than " +
                        std::to_string(kMaxExpandedLength) + " bytes: it is used unexpanded"});
    }
    for (size_t i = 0; i < key.subkeyCount(); ++i)
        checkExpansions(*key.subkey(i), path + "\\" + key.subkey(i)->name(), environment);
}

std::string Registry::expandVariables(std::string_view text) const {
    if (expandedLength(text) > kMaxExpandedLength) return std::string(text);
    std::string out;
    size_t pos = 0, open = 0, close = 0;
    while (NextReference(text, pos, &open, &close)) {
        out.append(text.substr(pos, open - pos));
        auto it = variables_.find(FoldName(text.substr(open + 1, close - open - 1)));
        if (it != variables_.end())
            out += it->second;
        else
            out.append(text.substr(open, close - open + 1));
        pos = close + 1;
    }
    out.append(text.substr(std::min(pos, text.size())));
    return out;
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

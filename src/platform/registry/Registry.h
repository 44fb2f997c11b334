// The read-only registry: keys read from registry export files and Wine
// prefixes, with the classes root as the platform presents it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/registry/RegistryKey.h"

namespace reg {

enum class Hive { LocalMachine, CurrentUser, Users, CurrentConfig };

// Where values came from; paths in them are mapped relative to it.
struct Source {
    std::filesystem::path file;    // the registry file
    std::filesystem::path prefix;  // the Wine prefix holding it (empty for an export file)
};

// A message about a registry file that could not be read completely:
// "<file>:<line>: <what>" (line 0 when it concerns the whole file).
struct ParseError {
    std::string file;
    int line = 0;
    std::string message;
    std::string text() const;
};

class Registry {
public:
    Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Reads a registry export ("REGEDIT4" or "Windows Registry Editor Version 5.00",
    // UTF-8 or UTF-16LE with a byte-order mark) or a Wine registry file. Lines
    // that cannot be read are reported in errors() and skipped; the rest is read.
    // Returns false when the file as a whole could not be read.
    bool loadFile(const std::filesystem::path& file);
    // Reads registry text already in memory; fileName names it in messages and
    // its folder is the base of relative paths.
    bool loadText(std::string_view bytes, const std::filesystem::path& fileName);
    // Reads a Wine prefix folder: system.reg, then user.reg over it.
    bool loadPrefix(const std::filesystem::path& folder);
    // Reads one ":"-separated list of files and prefix folders.
    void loadList(std::string_view list);

    // The registry the environment names: the entries of ZEPHRIN_REGISTRY, else
    // $WINEPREFIX, else ~/.wine when it exists, else none (an empty registry).
    static std::unique_ptr<Registry> FromEnvironment();

    // HKEY_CLASSES_ROOT: HKEY_CURRENT_USER\Software\Classes over
    // HKEY_LOCAL_MACHINE\Software\Classes, with the built-in registrations beneath.
    const Key& classesRoot() const noexcept { return *classes_; }
    const Key& root(Hive hive) const noexcept { return roots_[static_cast<int>(hive)]; }

    const std::vector<ParseError>& errors() const noexcept { return errors_; }
    const Source* source(int index) const noexcept {
        return index >= 0 && static_cast<size_t>(index) < sources_.size() ? &sources_[index] : nullptr;
    }

    // The local file a path read from a value names: a Windows path through the
    // prefix's dosdevices links (case-insensitive per component), a POSIX path as
    // it is, a relative path from the registry file's folder. REG_EXPAND_SZ values
    // have their %variables% expanded first (see kMaxExpandedLength).
    std::string mapPath(const Value& value) const;
    std::string mapPath(std::string_view text, int source) const;

    // Parser interface: keys are created below a hive root.
    Key& rootForWrite(Hive hive) noexcept { return roots_[static_cast<int>(hive)]; }
    int addSource(Source source);
    void addError(ParseError error) { errors_.push_back(std::move(error)); }
    // Rebuilds the classes root and the enumeration order after reading.
    void finish();

private:
    // Reading without rebuilding the classes root (finish does that once).
    bool readText(std::string_view bytes, const std::filesystem::path& fileName);
    bool readFile(const std::filesystem::path& file);
    bool readPrefix(const std::filesystem::path& folder);
    std::string expandVariables(std::string_view text) const;
    // Expands the environment's variables once (finish) and reports those that
    // cannot be expanded, and the expandable values they make too long.
    void resolveVariables();
    void checkExpansions(const Key& key, const std::string& path, const Key* const (&environment)[2]);
    size_t expandedLength(std::string_view text) const;
    // Adds an error unless the same one was reported before (finish runs after every read).
    void reportOnce(ParseError error);

    Key roots_[4];
    std::unique_ptr<Key> classes_;
    std::vector<Source> sources_;
    std::vector<ParseError> errors_;
    std::unordered_map<std::string, std::string> variables_;  // by folded name: the expanded text
    std::unordered_set<std::string> reported_;
};

// The longest text a %variable% expansion may produce, in bytes (the platform's
// limit for one environment value). A variable that refers to itself, directly
// or through others, or whose expansion is longer, stays unexpanded where it is
// used; so does a whole value whose expansion would be longer. Either is
// reported in Registry::errors() when the registry is read. The expansions of
// all variables together are kept within kMaxVariablesLength bytes.
inline constexpr size_t kMaxExpandedLength = 32767;
inline constexpr size_t kMaxVariablesLength = 32 * kMaxExpandedLength;

// The process-wide registry, read from the environment on first use.
std::shared_ptr<const Registry> DefaultRegistry();
// Replaces it (tests); nullptr makes the next use read the environment again.
void SetDefaultRegistry(std::shared_ptr<const Registry> registry);

// The built-in OLE Automation library: always registered as version 2.0, and
// as version 1.0 unless the registry files register that version themselves.
inline constexpr std::string_view kStdOleGuid = "{00020430-0000-0000-C000-000000000046}";
inline constexpr std::string_view kStdOlePath = "stdole2.tlb";
inline constexpr std::string_view kStdOle32Path = "stdole32.tlb";

}  // namespace reg

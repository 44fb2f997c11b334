// One key of the read-only registry tree: its subkeys and its values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace reg {

// Value types as the platform numbers them.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Index of the registry file a value was read from (see Registry::source);
// kBuiltInSource marks values the registry supplies itself.
inline constexpr int kBuiltInSource = -1;

struct Value {
    std::string name;   // "" is the default value
    uint32_t type = REG_NONE;
    std::string data;   // UTF-8 text for REG_SZ and REG_EXPAND_SZ, raw bytes otherwise
    int source = kBuiltInSource;

    bool isString() const noexcept { return type == REG_SZ || type == REG_EXPAND_SZ; }
};

// Names compare without regard to case (ASCII letters).
std::string FoldName(std::string_view name);
bool NamesEqual(std::string_view a, std::string_view b) noexcept;

class Key {
public:
    explicit Key(std::string name = {}) : name_(std::move(name)) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::string& name() const noexcept { return name_; }

    // Subkeys in a stable order: sorted by name without regard to case.
    size_t subkeyCount() const noexcept { return order_.size(); }
    const Key* subkey(size_t index) const noexcept { return index < order_.size() ? order_[index] : nullptr; }
    const Key* findSubkey(std::string_view name) const;
    // Opens a "\"-separated path below this key; empty components are skipped,
    // so "" and "\" give this key itself.
    const Key* open(std::string_view path) const;

    size_t valueCount() const noexcept { return values_.size(); }
    const Value* findValue(std::string_view name) const;
    const Value* defaultValue() const { return findValue({}); }
    // Values sorted by name without regard to case.
    std::vector<const Value*> values() const;

    // Longest subkey name, value name and value data in bytes (for key information).
    size_t longestSubkeyName() const noexcept { return longestSubkey_; }
    size_t longestValueName() const noexcept;
    size_t longestValueData() const noexcept;

    // Building (used while reading registry files).
    Key& createSubkey(std::string_view name);
    Key* findSubkeyForWrite(std::string_view name);
    bool removeSubkey(std::string_view name);
    void setValue(Value value);
    bool removeValue(std::string_view name);
    // Copies every subkey and value of other into this key; other's values win.
    void mergeFrom(const Key& other);
    // Rebuilds the enumeration order of this key and every key below it.
    void finish();

private:
    std::string name_;
    std::unordered_map<std::string, std::unique_ptr<Key>> children_;  // by folded name
    std::unordered_map<std::string, Value> values_;                   // by folded name
    std::vector<const Key*> order_;
    size_t longestSubkey_ = 0;
};

}  // namespace reg

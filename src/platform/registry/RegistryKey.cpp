#include "platform/registry/RegistryKey.h"

#include <algorithm>

namespace reg {

namespace {

char FoldChar(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string FoldName(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = FoldChar(c);
    return out;
}

bool NamesEqual(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

const Key* Key::findSubkey(std::string_view name) const {
    auto it = children_.find(FoldName(name));
    return it == children_.end() ? nullptr : it->second.get();
}

const Key* Key::open(std::string_view path) const {
    const Key* key = this;
    size_t pos = 0;
    while (key && pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) key = key->findSubkey(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return key;
}

const Value* Key::findValue(std::string_view name) const {
    auto it = values_.find(FoldName(name));
    return it == values_.end() ? nullptr : &it->second;
}

std::vector<const Value*> Key::values() const {
    std::vector<std::pair<const std::string*, const Value*>> byName;
    byName.reserve(values_.size());
    for (const auto& [folded, value] : values_) byName.emplace_back(&folded, &value);
    std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
    std::vector<const Value*> out;
    out.reserve(byName.size());
    for (const auto& entry : byName) out.push_back(entry.second);
    return out;
}

size_t Key::longestValueName() const noexcept {
    size_t n = 0;
    for (const auto& entry : values_) n = std::max(n, entry.second.name.size());
    return n;
}

size_t Key::longestValueData() const noexcept {
    size_t n = 0;
    for (const auto& entry : values_)
        n = std::max(n, entry.second.data.size() + (entry.second.isString() ? 1 : 0));
    return n;
}

Key& Key::createSubkey(std::string_view name) {
    auto& slot = children_[FoldName(name)];
    if (!slot) slot = std::make_unique<Key>(std::string(name));
    return *slot;
}

Key* Key::findSubkeyForWrite(std::string_view name) {
    auto it = children_.find(FoldName(name));
    return it == children_.end() ? nullptr : it->second.get();
}

bool Key::removeSubkey(std::string_view name) { return children_.erase(FoldName(name)) > 0; }

void Key::setValue(Value value) {
    std::string folded = FoldName(value.name);
    values_.insert_or_assign(std::move(folded), std::move(value));
}

bool Key::removeValue(std::string_view name) { return values_.erase(FoldName(name)) > 0; }

void Key::mergeFrom(const Key& other) {
    for (const auto& [folded, value] : other.values_) values_.insert_or_assign(folded, value);
    for (const auto& [folded, child] : other.children_) {
        auto& slot = children_[folded];
        if (!slot) slot = std::make_unique<Key>(child->name_);
        slot->mergeFrom(*child);
    }
}

void Key::finish() {
    std::vector<std::pair<const std::string*, const Key*>> byName;
    byName.reserve(children_.size());
    longestSubkey_ = 0;
    for (auto& [folded, child] : children_) {
        child->finish();
        byName.emplace_back(&folded, child.get());
        longestSubkey_ = std::max(longestSubkey_, child->name_.size());
    }
    std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
    order_.clear();
    order_.reserve(byName.size());
    for (const auto& entry : byName) order_.push_back(entry.second);
}

}  // namespace reg

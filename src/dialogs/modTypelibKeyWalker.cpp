#include "dialogs/modTypelibKeyWalker.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "dialogs/modRefInfo.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/registry/RegTypeLib.h"
#include "platform/registry/Registry.h"
#include "platform/tlbfiles/TypeLibFiles.h"

namespace zephrin::dialogs::modTypelibKeyWalker {

using namespace ole;

namespace {

constexpr LCID kFallbackLcid = 1033;
constexpr uint32_t kLibFlagRestricted = 0x1;
constexpr uint32_t kLibFlagHidden = 0x4;

// One usable version of a registered library.
struct TypelibVersionRecord {
    std::u16string Description;
    std::u16string Path;
    LCID Lcid = 0;
    WORD MajorVersion = 0;
    WORD MinorVersion = 0;
};

// A FLAGS value: a hexadecimal number as text (an empty text is no flags), or a DWORD.
std::optional<uint32_t> ReadFlags(const reg::Value& value) {
    if (value.type == reg::REG_DWORD && value.data.size() == 4) {
        uint32_t v = 0;
        std::memcpy(&v, value.data.data(), 4);
        return v;
    }
    if (!value.isString()) return std::nullopt;
    const std::string_view text(value.data.c_str());  // up to the first NUL
    if (text.empty()) return 0u;
    LCID flags = 0;
    if (!reg::ParseLcidKey(text, &flags)) return std::nullopt;
    return flags;
}

// Whether a registered path names a library that can be loaded: a file that
// exists (the part before a "\N" resource index), or one of the built-in
// libraries the registry supplies itself.
bool PathExists(const reg::Value& value, const std::string& mapped) {
    if (value.source == reg::kBuiltInSource) return true;
    std::u16string file;
    unsigned resource = 0;
    if (!SplitResourceSpec(FromUtf8(mapped), &file, &resource)) return false;
    std::error_code ec;
    const std::filesystem::path path(ToUtf8(file));
    return std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec);
}

// The path of the chosen locale key: win32, else win16 (a win32 key without a
// path is not passed over for win16).
bool ReadTypelibPath(const reg::Registry& registry, const reg::Key& lcidKey, TypelibVersionRecord& record) {
    const reg::Key* platform = lcidKey.findSubkey("win32");
    if (!platform) platform = lcidKey.findSubkey("win16");
    const reg::Value* value = platform ? platform->defaultValue() : nullptr;
    if (!value || !value->isString()) return false;
    if (value->data.empty() || value->data.front() == '\0') return false;
    std::string mapped = registry.mapPath(*value);
    mapped.resize(std::strlen(mapped.c_str()));  // up to the first NUL
    if (mapped.empty() || !PathExists(*value, mapped)) return false;
    record.Path = FromUtf8(mapped);
    return true;
}

bool ReadTypelibVersionKey(const reg::Registry& registry, const reg::Key& versionKey, LCID userLcid,
                           TypelibVersionRecord& record) {
    if (versionKey.subkeyCount() == 0) return false;
    if (const reg::Value* description = versionKey.defaultValue(); description && description->isString())
        record.Description = FromUtf8(std::string_view(description->data.c_str()));
    std::vector<LCID> lcids;
    std::vector<const reg::Key*> lcidKeys;
    for (size_t i = 0; i < versionKey.subkeyCount(); ++i) {
        const reg::Key* sub = versionKey.subkey(i);
        if (LCID lcid = 0; reg::ParseLcidKey(sub->name(), &lcid)) {
            lcids.push_back(lcid);
            lcidKeys.push_back(sub);
        } else if (reg::NamesEqual(sub->name(), "FLAGS")) {
            const reg::Value* value = sub->defaultValue();
            if (!value) continue;
            // The registry's own entries (the built-in standard library) are always offered.
            if (value->source == reg::kBuiltInSource) continue;
            const std::optional<uint32_t> flags = ReadFlags(*value);
            if (!flags || (*flags & (kLibFlagRestricted | kLibFlagHidden))) return false;
        }
    }
    const int chosen = ChooseTypelibLcid(lcids, userLcid, kFallbackLcid);
    if (chosen < 0) return false;
    record.Lcid = lcids[static_cast<size_t>(chosen)];
    return ReadTypelibPath(registry, *lcidKeys[static_cast<size_t>(chosen)], record);
}

}  // namespace

int ChooseTypelibLcid(const std::vector<LCID>& lcids, LCID preferred, LCID fallback) {
    int rank = 0;
    int index = -1;
    for (size_t i = 0; i < lcids.size(); ++i) {
        const LCID lcid = lcids[i];
        const int at = static_cast<int>(i);
        if (preferred != 0 && lcid == preferred) return at;
        if (lcid == fallback) {
            if (preferred == 0) return at;
            if (rank < 3) rank = 3, index = at;
        } else if (lcid == PrimaryLangId(fallback)) {
            if (rank < 2) rank = 2, index = at;
        } else if (lcid == 0) {
            if (rank < 1) rank = 1, index = at;
        }
    }
    return index;
}

void WalkTypelibKeys(const reg::Registry& registry, LCID userLcid, RefInfoList& refs) {
    const reg::Key* typelibs = registry.classesRoot().findSubkey("TypeLib");
    if (!typelibs) return;
    for (size_t i = 0; i < typelibs->subkeyCount(); ++i) {
        const reg::Key* guidKey = typelibs->subkey(i);
        GUID guid{};
        if (!TryParseGuid(FromUtf8(guidKey->name()), &guid)) continue;
        for (size_t v = 0; v < guidKey->subkeyCount(); ++v) {
            const reg::Key* versionKey = guidKey->subkey(v);
            TypelibVersionRecord record;
            if (!reg::ParseVersionKey(versionKey->name(), &record.MajorVersion, &record.MinorVersion)) continue;
            if (!ReadTypelibVersionKey(registry, *versionKey, userLcid, record)) continue;
            refs.AddRegisteredRef(false, record.Description, record.Path, guid, record.MajorVersion,
                                  record.MinorVersion, record.Lcid);
        }
    }
}

LCID UserLcidFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value) return LcidOfLocale(value);
    return LcidOfLocale("C");
}

LCID LcidOfLocale(std::string_view locale) {
    struct Entry {
        std::string_view Name;
        LCID Lcid;
    };
    // A language alone stands for its first country here.
    static constexpr Entry kTable[] = {
        {"en_US", 0x409}, {"en_GB", 0x809}, {"en_AU", 0xC09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
        {"en_IE", 0x1809}, {"de_DE", 0x407}, {"de_CH", 0x807}, {"de_AT", 0xC07}, {"fr_FR", 0x40C},
        {"fr_BE", 0x80C}, {"fr_CA", 0xC0C}, {"fr_CH", 0x100C}, {"es_ES", 0xC0A}, {"es_MX", 0x80A},
        {"it_IT", 0x410}, {"it_CH", 0x810}, {"nl_NL", 0x413}, {"nl_BE", 0x813}, {"pt_BR", 0x416},
        {"pt_PT", 0x816}, {"sv_SE", 0x41D}, {"da_DK", 0x406}, {"nb_NO", 0x414}, {"fi_FI", 0x40B},
        {"pl_PL", 0x415}, {"cs_CZ", 0x405}, {"hu_HU", 0x40E}, {"ru_RU", 0x419}, {"tr_TR", 0x41F},
        {"el_GR", 0x408}, {"ja_JP", 0x411}, {"ko_KR", 0x412}, {"zh_CN", 0x804}, {"zh_TW", 0x404},
        {"zh_HK", 0xC04}, {"he_IL", 0x40D}, {"ar_SA", 0x401},
    };
    const size_t end = locale.find_first_of(".@");
    const std::string_view name = locale.substr(0, end);
    for (const Entry& entry : kTable)
        if (entry.Name == name) return entry.Lcid;
    if (name.find('_') == std::string_view::npos && !name.empty())
        for (const Entry& entry : kTable)
            if (entry.Name.substr(0, entry.Name.find('_')) == name) return entry.Lcid;
    return 0x409;
}

}  // namespace zephrin::dialogs::modTypelibKeyWalker

// The type libraries registered in the registry, as the references dialog
// offers them: TypeLib\{guid}\<major>.<minor>\<lcid>\win32 (else win16) under
// the classes root, one entry per usable version. The registry is only read.
//
// A version is usable when its key has subkeys, its FLAGS mark it neither
// restricted (1) nor hidden (4), one of its locale keys can be chosen (below)
// and the path registered for that locale names an existing file. Keys and
// values that cannot be read as they should (a GUID key that is not in
// registry form, a version or locale key name that is not hexadecimal, a
// FLAGS value that is not a hexadecimal number) skip that entry only; the walk
// goes on with the next.
#pragma once

#include <string_view>
#include <vector>

#include "platform/automation/OleTypes.h"

namespace reg {
class Registry;
}

namespace zephrin::dialogs {

class RefInfoList;

namespace modTypelibKeyWalker {

// Adds one registered reference per usable version to refs. userLcid is the
// locale preferred among a version's locale keys.
void WalkTypelibKeys(const reg::Registry& registry, ole::LCID userLcid, RefInfoList& refs);

// The index of the locale to use among a version's locale keys, -1 for none:
// preferred at once (when not 0); else fallback, then its primary language,
// then 0, the first of the best kind found. With preferred 0, fallback is
// taken at once.
int ChooseTypelibLcid(const std::vector<ole::LCID>& lcids, ole::LCID preferred, ole::LCID fallback);
inline ole::LCID PrimaryLangId(ole::LCID lcid) { return lcid & 0x3FF; }

// The user's locale as an LCID, from LC_ALL, then LC_MESSAGES, then LANG
// (the first that is set and not empty); see LcidOfLocale.
ole::LCID UserLcidFromEnvironment();
// The LCID of a locale name such as "de_DE.UTF-8" or "fr"; C, POSIX and
// locales the table does not know give 0x409.
ole::LCID LcidOfLocale(std::string_view locale);

}  // namespace modTypelibKeyWalker
}  // namespace zephrin::dialogs

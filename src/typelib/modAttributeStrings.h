// The words the editor shows for numeric attributes: IDL keywords of flag
// sets, invoke-kind and parameter-direction wording for prototypes, the IDL
// keyword of a type kind, and the noun that names a kind of member.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zephrin::modAttributeStrings {

// One keyword of a flag set and the single flag bit it stands for.
struct FlagName {
    std::u16string Keyword;
    int32_t Value = 0;

    friend bool operator==(const FlagName&, const FlagName&) = default;
};

// A keyword table: entry k is the keyword of bit k (empty: the bit has none).
using KeywordTable = std::span<const std::u16string_view>;

// Replaces names with the keywords of the bits set in flags, in ascending bit
// order, and returns their number. Bits without a keyword, and bits beyond the
// table's last entry, are skipped; flags with no keyworded bit give an empty list.
int32_t GetFlagNames(int32_t flags, KeywordTable table, std::vector<FlagName>& names);

// The keyword routines share one signature, so callers can hand them around.
using FlagNamesFunction = int32_t (*)(int32_t flags, std::vector<FlagName>& names);

int32_t GetTypeFlagNames(int32_t flags, std::vector<FlagName>& names);
int32_t GetImplTypeFlagNames(int32_t flags, std::vector<FlagName>& names);
int32_t GetLibFlagNames(int32_t flags, std::vector<FlagName>& names);
int32_t GetFuncFlagNames(int32_t flags, std::vector<FlagName>& names);
int32_t GetVarFlagNames(int32_t flags, std::vector<FlagName>& names);

// "Function ", "Property Get ", ... for invokeKind And 15; empty for other values.
std::u16string InvokeKindText(int32_t invokeKind);
// "[in] ", "[out] ", "[in, out] ", "[in, lcid] ", "[out, retval] " for
// paramFlags And 15; empty for other values.
std::u16string ParamFlagsText(int32_t paramFlags);
// "enum", "record", ... for TYPEKIND 0 to 7; empty for other values.
std::u16string TypeKindText(int32_t typeKind);
// The noun for a member of a type of kind typeKind. memberKind is 0 for a data
// member, 1 for a plain function, else the invoke-kind bits of an accessor.
std::u16string MemberKindText(int32_t typeKind, int32_t memberKind);

}  // namespace zephrin::modAttributeStrings

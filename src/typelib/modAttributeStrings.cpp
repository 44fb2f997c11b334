#include "typelib/modAttributeStrings.h"

#include <algorithm>
#include <array>

#include "foundation/modSupport.h"

namespace zephrin::modAttributeStrings {
namespace {

using namespace std::string_view_literals;

constexpr std::array<std::u16string_view, 15> kTypeFlagKeywords = {
    u"appobject"sv, u"creatable"sv, u"licensed"sv,      u"predeclid"sv,     u"hidden"sv,
    u"control"sv,   u"dual"sv,      u"nonextensible"sv, u"oleautomation"sv, u"restricted"sv,
    u"aggregatable"sv, {},          {},                 {},                 u"proxy"sv,
};

constexpr std::array<std::u16string_view, 4> kImplTypeFlagKeywords = {
    u"default"sv, u"source"sv, u"restricted"sv, u"defaultvtable"sv,
};

constexpr std::array<std::u16string_view, 3> kLibFlagKeywords = {
    u"restricted"sv, u"control"sv, u"hidden"sv,
};

constexpr std::array<std::u16string_view, 13> kFuncFlagKeywords = {
    u"restricted"sv,      u"source"sv,    u"bindable"sv,       u"requestedit"sv,  u"displaybind"sv,
    u"defaultbind"sv,     u"hidden"sv,    u"usesgetlasterror"sv, u"defaultcollelem"sv, u"uidefault"sv,
    u"nonbrowsable"sv,    u"replaceable"sv, u"immediatebind"sv,
};

constexpr std::array<std::u16string_view, 13> kVarFlagKeywords = {
    u"readonly"sv,        u"source"sv,    u"bindable"sv,   u"requestedit"sv,  u"displaybind"sv,
    u"defaultbind"sv,     u"hidden"sv,    u"restricted"sv, u"defaultcollelem"sv, u"uidefault"sv,
    u"nonbrowsable"sv,    u"replaceable"sv, u"immediatebind"sv,
};

bool Named(int32_t flags, KeywordTable table, size_t bit) {
    return !table[bit].empty() && (static_cast<uint32_t>(flags) >> bit & 1u);
}

}  // namespace

int32_t GetFlagNames(int32_t flags, KeywordTable table, std::vector<FlagName>& names) {
    const size_t bits = std::min<size_t>(table.size(), 32);
    std::vector<FlagName> found;
    for (size_t k = 0; k < bits; ++k) {
        if (Named(flags, table, k))
            found.push_back({std::u16string(table[k]), static_cast<int32_t>(uint32_t{1} << k)});
    }
    names = std::move(found);
    return static_cast<int32_t>(names.size());
}

int32_t GetTypeFlagNames(int32_t flags, std::vector<FlagName>& names) {
    return GetFlagNames(flags, kTypeFlagKeywords, names);
}

int32_t GetImplTypeFlagNames(int32_t flags, std::vector<FlagName>& names) {
    return GetFlagNames(flags, kImplTypeFlagKeywords, names);
}

int32_t GetLibFlagNames(int32_t flags, std::vector<FlagName>& names) {
    return GetFlagNames(flags, kLibFlagKeywords, names);
}

int32_t GetFuncFlagNames(int32_t flags, std::vector<FlagName>& names) {
    return GetFlagNames(flags, kFuncFlagKeywords, names);
}

int32_t GetVarFlagNames(int32_t flags, std::vector<FlagName>& names) {
    return GetFlagNames(flags, kVarFlagKeywords, names);
}

std::u16string InvokeKindText(int32_t invokeKind) {
    switch (invokeKind & 15) {
        case 1: return u"Function ";
        case 2: return u"Property Get ";
        case 4: return u"Property Let ";
        case 6: return u"Property Get/Let ";
        case 8: return u"Property Set ";
        case 10: return u"Property Get/Set ";
        case 12: return u"Property Let/Set ";
        case 14: return u"Property Get/Let/Set ";
        default: return {};
    }
}

std::u16string ParamFlagsText(int32_t paramFlags) {
    switch (paramFlags & 15) {
        case 1: return u"[in] ";
        case 2: return u"[out] ";
        case 3: return u"[in, out] ";
        case 5: return u"[in, lcid] ";
        case 10: return u"[out, retval] ";
        default: return {};
    }
}

std::u16string TypeKindText(int32_t typeKind) {
    static constexpr std::array<std::u16string_view, 8> kKinds = {
        u"enum"sv, u"record"sv, u"module"sv, u"interface"sv, u"dispinterface"sv, u"coclass"sv, u"alias"sv, u"union"sv,
    };
    if (typeKind < 0 || typeKind >= static_cast<int32_t>(kKinds.size())) return {};
    return std::u16string(kKinds[static_cast<size_t>(typeKind)]);
}

std::u16string MemberKindText(int32_t typeKind, int32_t memberKind) {
    switch (typeKind) {
        case 0: return u"value";
        case 1:
        case 7: return u"field";
        case 2:
            if (memberKind == 0) return u"constant";
            if (memberKind == 1) return u"function";
            break;
        case 3:
            if (memberKind == 1) return u"method";
            break;
        case 4:
            if (memberKind == 0) return u"property";
            if (memberKind == 1) return u"method";
            break;
        default: return {};
    }
    // An accessor (or an interface's data member, whose invoke-kind text is empty).
    return modSupport::FormatPlaceholders(u"|1function", {InvokeKindText(memberKind)});
}

}  // namespace zephrin::modAttributeStrings

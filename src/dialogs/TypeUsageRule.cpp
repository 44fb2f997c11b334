#include "dialogs/TypeUsageRule.h"

namespace zephrin::dialogs {

const std::array<int32_t, 24>& IntrinsicTypeTable() {
    static const std::array<int32_t, 24> table = {
        0x01E80002, 0x01E80003, 0x01E80004, 0x01E80005, 0x01E80006, 0x01E80007, 0x00680008, 0x00680009,
        0x01E8000B, 0x0468000C, 0x0028000D, 0x00A0000E, 0x00A00010, 0x01E80011, 0x00B00012, 0x00B00013,
        0x00A00014, 0x00A00015, 0x00E80016, 0x00A00017, 0x02050018, 0x00030019, 0x0380001E, 0x0280001F,
    };
    return table;
}

namespace {

constexpr int32_t kDefaultMask = 0x0000FFFF;
constexpr uint8_t kAll = 0x1F;
constexpr uint8_t C(int a) { return static_cast<uint8_t>(1 << a); }

enum RowFlag : uint16_t {
    NL = 1,    // no library types
    BI = 2,    // base interface listing
    II = 4,    // implied interface listing
    IP = 8,    // implied pointer levels
    PF = 16,   // parameter flags offered
    RP = 32,   // record by pointer
    SD = 64,   // disallowed group shown
    RK = 128,  // library types of the redirection kind
    RA = 256,  // and aliases resolving to it
    NA = 512,  // no arrays
    NP = 1024, // no pointers
};

struct Row {
    int32_t usage;
    uint8_t constraints;
    int32_t mask;
    int32_t styles;
    int16_t maxPointer;
    int16_t maxElementPointer;
    uint16_t flags;
};

constexpr int32_t SA = kStyleSafeArray;
constexpr int32_t SAP = kStyleSafeArrayPtr;
constexpr int32_t FX = kStyleFixed;

constexpr Row kRows[] = {
    {1, C(0) | C(1) | C(2) | C(3), 0, 0, 0, 0, BI | NA | NP},
    {1, C(4), 0, 0, 0, 0, BI | NL | SD | NA | NP},
    {2, C(0), kDefaultMask, SA | SAP, 2, 2, 0},
    {2, C(1), 0x00210000, SA, 0, 0, NP},
    {2, C(2), 0x00090000, SA, 0, 0, IP | NP},
    {2, C(3) | C(4), 0x00090000, SA, 0, 0, NP},
    {3, C(0), kDefaultMask, SA | SAP, 2, 2, PF | IP},
    {3, C(1), 0x02200000, SA | SAP, 1, 0, PF | IP | RP},
    {3, C(2) | C(3) | C(4), 0x02080000, SA | SAP, 1, 0, PF | IP | RP},
    {4, C(0), kDefaultMask, SA | SAP, 2, 2, 0},
    {4, C(1) | C(3), 0x00010000, 0, 0, 0, NL | SD | NA | NP},
    {4, C(2), 0x00090000, SA, 0, 0, IP | NP},
    {4, C(4), 0x00020000, 0, 0, 0, NL | SD | NA | NP},
    {5, C(0), kDefaultMask, SA | SAP, 2, 2, PF | IP},
    {5, C(1), 0x00200000, SA | SAP, 2, 1, PF | IP | RP},
    {5, C(2) | C(3), 0x02080000, SAP, 1, 0, PF | IP | RP},
    {5, C(4), 0x00400000, SAP, 1, 0, PF | IP | RP},
    {6, C(0), kDefaultMask, SA | SAP, 2, 2, 0},
    {6, C(1) | C(3), 0x00010000, 0, 0, 0, NL | SD | NA | NP},
    {6, C(2), 0x00090000, SA, 0, 0, IP | NP},
    {6, C(4), 0x00040000, 0, 0, 0, NL | SD | NA | NP},
    {7, C(0), kDefaultMask, SA | SAP, 2, 2, PF | IP},
    {7, C(1), 0x00200000, SA | SAP, 2, 1, PF | IP | RP},
    {7, C(2) | C(3), 0x02080000, SAP, 1, 0, PF | IP | RP},
    {7, C(4), 0x00400000, SAP, 1, 0, PF | IP | RP},
    {8, C(0) | C(1), 0x00200000, 0, 0, 0, 0},
    {8, C(2) | C(3) | C(4), 0x00080000, 0, 0, 0, 0},
    {9, C(0), kDefaultMask, 0, 0, 0, NA},
    {9, C(1), 0x00200000, 0, 1, 0, NA},
    {9, C(2) | C(3) | C(4), 0x02180000, 0, 0, 0, NA | NP},
    {10, C(0), kDefaultMask, SA | SAP | FX, 2, 2, IP},
    {10, C(1), kDefaultMask, SA | FX, 1, 1, IP},
    {10, C(2) | C(3), 0x00080000, SA | FX, 0, 0, IP | NP},
    {10, C(4), 0x00400000, SA | FX, 0, 0, IP | NP},
    {11, kAll, 0, 0, 0, 0, II | NA | NP},
    {12, C(0) | C(1), 0x00800000, 0, 0, 0, NL | NA | NP},
    {12, C(2) | C(3) | C(4), 0x01000000, 0, 0, 0, NL | NA | NP},
    {13, kAll, 0, 0, 0, 0, RK | RA | NA | NP},
    {14, kAll, 0, 0, 0, 0, RK | NA | NP},
    {15, kAll, 0, 0, 0, 0, NA | NP},
};

}  // namespace

std::vector<uint16_t> TypeUsageRule::OfferedIntrinsics() const {
    std::vector<uint16_t> types;
    for (int32_t entry : IntrinsicTypeTable())
        if (OffersIntrinsic(entry)) types.push_back(IntrinsicVarType(entry));
    return types;
}

TypeUsageRule TypeUsageRule::Evaluate(int32_t usage, int32_t compatibility, int32_t paramUsage,
                                      int32_t redirectionType, int32_t paramFlags, bool variantOnly) {
    TypeUsageRule rule;
    const int32_t constraint = usage < kUsageRedirectType ? compatibility : 0;
    for (const Row& row : kRows) {
        if (row.usage != usage || constraint < 0 || constraint > 4 || (row.constraints & C(constraint)) == 0)
            continue;
        rule.IntrinsicMask = row.mask;
        rule.ArrayStyles = row.styles;
        rule.MaxPointerLevel = row.maxPointer;
        rule.MaxElementPointerLevel = row.maxElementPointer;
        rule.ArraysAllowed = (row.flags & NA) == 0;
        rule.PointersAllowed = (row.flags & NP) == 0;
        rule.NoLibraryTypes = (row.flags & NL) != 0;
        rule.BaseInterfaceList = (row.flags & BI) != 0;
        rule.ImpliedInterfaceList = (row.flags & II) != 0;
        rule.ImpliedPointer = (row.flags & IP) != 0;
        rule.ParamFlagsOffered = (row.flags & PF) != 0;
        rule.RecordByPointer = (row.flags & RP) != 0;
        rule.ShowDisallowedGroup = (row.flags & SD) != 0;
        if (row.flags & RK) rule.RedirectKind = redirectionType + 1;
        rule.RedirectAliases = (row.flags & RA) != 0;
        break;
    }
    if (rule.NoLibraryTypes || rule.BaseInterfaceList || rule.ImpliedInterfaceList || rule.RedirectKind != 0) {
        rule.ArraysAllowed = false;
        rule.PointersAllowed = false;
    }
    const bool optional = (paramFlags & 0x30) != 0;
    if (rule.ParamFlagsOffered) {
        if (variantOnly) {
            rule.IntrinsicMask = 0x04000000;
            rule.NoLibraryTypes = true;
        }
        if (paramUsage & kParamUsageParamArray) {
            rule.IntrinsicMask = 0x04000000;
            rule.NoLibraryTypes = true;
            rule.NotAnArrayOffered = false;
        }
        if (paramUsage & kParamUsageRetvalOnly) {
            rule.ParamFlagsMask = kOfferOutRetval;
        } else if ((paramUsage & kParamUsageInOnly) == 0) {
            rule.ParamFlagsMask = kOfferIn | kOfferInOut;
            if ((paramUsage & kParamUsageParamArray) == 0) rule.ParamFlagsMask |= kOfferOut;
            if (paramUsage & kParamUsageRetval) rule.ParamFlagsMask |= kOfferOutRetval;
        } else {
            rule.ParamFlagsMask = kOfferIn | kOfferInOut;
        }
        if (optional) {
            // A ParamArray parameter keeps its styles: it must be an array.
            if ((paramUsage & kParamUsageParamArray) == 0) rule.ArrayStyles = 0;
            rule.ParamFlagsMask &= ~kOfferOutRetval;
        }
    }
    rule.BoundsAllowed = rule.ArraysAllowed && (rule.ArrayStyles & kStyleFixed) != 0;

    if (rule.BaseInterfaceList) rule.FilterWord |= kFilterBaseInterfaces;
    if (rule.ImpliedInterfaceList) rule.FilterWord |= kFilterImpliedInterfaces;
    if (usage < kUsageRedirectType) rule.FilterWord |= kFilterNoModules;
    if (rule.ParamFlagsOffered && optional && !variantOnly) rule.FilterWord |= kFilterOptionalParam;
    rule.FilterWord |= (rule.RedirectKind & 0xF) << kFilterRedirectKindShift;
    if (rule.RedirectAliases) rule.FilterWord |= kFilterRedirectAliases;
    return rule;
}

int32_t NarrowParamFlags(int32_t offered, int32_t usage, int32_t compatibility, bool arrayOrRecord) {
    if (compatibility != kCompatVBImplementable) return offered;
    offered &= ~kOfferOut;
    if (usage == kUsageDispParam) offered &= ~kOfferOutRetval;
    if (arrayOrRecord) offered &= ~kOfferIn;
    return offered;
}

int32_t ParamFlagsOfOffer(int32_t offerBit) {
    switch (offerBit) {
    case kOfferIn: return 1;
    case kOfferOut: return 2;
    case kOfferInOut: return 3;
    case kOfferOutRetval: return 10;
    default: return 0;
    }
}

std::vector<int32_t> OfferedParamFlags(int32_t offered) {
    std::vector<int32_t> values;
    for (int32_t bit : {kOfferIn, kOfferInOut, kOfferOut, kOfferOutRetval})
        if (offered & bit) values.push_back(ParamFlagsOfOffer(bit));
    return values;
}

}  // namespace zephrin::dialogs

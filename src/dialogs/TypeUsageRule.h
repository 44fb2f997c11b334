// What the type picker offers for one purpose (the usage) under one type
// constraint: which intrinsic types, which library types, which array styles
// and pointer levels, whether fixed-size bounds, and which parameter-flag
// combinations. The rules are a fixed table; Evaluate() applies its row and
// the adjustments that depend on the parameter being described.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zephrin::dialogs {

// What a type is picked for (1-17) and the type constraint (0-4).
enum TypeUsage : int32_t {
    kUsageBaseInterface = 1,
    kUsageModuleReturn,
    kUsageModuleParam,
    kUsageInterfaceReturn,
    kUsageInterfaceParam,
    kUsageDispReturn,
    kUsageDispParam,
    kUsageDispProperty,
    kUsageAliasTarget,
    kUsageRecordField,
    kUsageImpliedInterface,
    kUsageConstant,
    kUsageRedirectType,
    kUsageRedirectInterface,
    kUsageImportType,
    kUsageRedirectLibrary,
    kUsageImportLibrary,
};
enum TypeCompatibility : int32_t {
    kCompatNone = 0,
    kCompatAutomation,
    kCompatVBCallable,
    kCompatVBCallableAutomation,
    kCompatVBImplementable,
};

// ParamUsage bits.
inline constexpr int32_t kParamUsageRetval = 2;      // [out, retval] offered too
inline constexpr int32_t kParamUsageRetvalOnly = 4;  // only [out, retval]
inline constexpr int32_t kParamUsageParamArray = 8;
inline constexpr int32_t kParamUsageInOnly = 16;     // only [in] and [in, out]

// Array styles offered.
inline constexpr int32_t kStyleSafeArray = 0x100000;
inline constexpr int32_t kStyleSafeArrayPtr = 0x200000;
inline constexpr int32_t kStyleFixed = 0x400000;

// Parameter-flag combinations offered.
inline constexpr int32_t kOfferIn = 0x800000;
inline constexpr int32_t kOfferOut = 0x1000000;
inline constexpr int32_t kOfferInOut = 0x2000000;
inline constexpr int32_t kOfferOutRetval = 0x4000000;

// The filter word handed to the library tree with each library node.
inline constexpr int32_t kFilterBaseInterfaces = 0x0040;
inline constexpr int32_t kFilterImpliedInterfaces = 0x0080;
inline constexpr int32_t kFilterNoModules = 0x0100;
inline constexpr int32_t kFilterOptionalParam = 0x0200;
inline constexpr int32_t kFilterRedirectKindShift = 10;
inline constexpr int32_t kFilterRedirectAliases = 0x4000;

// The 24 intrinsic types: low word the VARTYPE, high word its usage groups.
const std::array<int32_t, 24>& IntrinsicTypeTable();
inline uint16_t IntrinsicVarType(int32_t entry) { return static_cast<uint16_t>(entry & 0xFFFF); }

struct TypeUsageRule {
    int32_t IntrinsicMask = 0x0000FFFF;
    int32_t ArrayStyles = 0;
    int16_t MaxPointerLevel = 0;
    int16_t MaxElementPointerLevel = 0;
    bool ArraysAllowed = true;
    bool PointersAllowed = true;
    bool NotAnArrayOffered = true;
    bool NoLibraryTypes = false;
    bool BaseInterfaceList = false;
    bool ImpliedInterfaceList = false;
    bool ImpliedPointer = false;
    bool ParamFlagsOffered = false;
    bool RecordByPointer = false;
    bool ShowDisallowedGroup = false;
    bool BoundsAllowed = false;
    int32_t RedirectKind = 0;  // TYPEKIND + 1, 0 for none
    bool RedirectAliases = false;
    int32_t ParamFlagsMask = 0;  // kOffer... bits
    int32_t FilterWord = 0;

    // Whether the intrinsic type of this table entry is offered.
    bool OffersIntrinsic(int32_t entry) const { return (entry & IntrinsicMask) != 0; }
    std::vector<uint16_t> OfferedIntrinsics() const;

    // The rule for usage and constraint. paramFlags are the parameter's own
    // (optional or default narrow the choice); variantOnly marks an optional
    // parameter without a default, which can only be a VARIANT.
    static TypeUsageRule Evaluate(int32_t usage, int32_t compatibility, int32_t paramUsage = 0,
                                  int32_t redirectionType = 0, int32_t paramFlags = 0, bool variantOnly = false);
};

// The combinations of kOffer... bits still offered while a type is picked:
// under the VB-implementable constraint [out] never is, [out, retval] not for
// a dispinterface method's parameter, and [in] alone not for an array or a
// record.
int32_t NarrowParamFlags(int32_t offered, int32_t usage, int32_t compatibility, bool arrayOrRecord);

// The PARAMFLAG value of one kOffer... bit, and the offered values in the
// order the picker lists them: [in], [in, out], [out], [out, retval].
int32_t ParamFlagsOfOffer(int32_t offerBit);
std::vector<int32_t> OfferedParamFlags(int32_t offered);

}  // namespace zephrin::dialogs

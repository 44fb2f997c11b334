// The type usage rules: the masks select the intrinsic types listed for them,
// the rows give the documented edge cases, and the parameter adjustments
// (optional, ParamArray, retval) act after the row.
#include <gtest/gtest.h>

#include <algorithm>

#include "dialogs/TypeUsageRule.h"

namespace zephrin::dialogs {
namespace {

using Types = std::vector<uint16_t>;

Types OfferedBy(int32_t mask) {
    TypeUsageRule rule;
    rule.IntrinsicMask = mask;
    return rule.OfferedIntrinsics();
}

TEST(TypeUsageRule, MasksSelectTheirIntrinsicTypes) {
    const Types the13 = {2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 17, 22};
    auto plus = [](Types base, Types more) {
        base.insert(base.end(), more.begin(), more.end());
        std::sort(base.begin(), base.end());
        return base;
    };
    const struct {
        int32_t mask;
        Types types;
    } cases[] = {
        {0x00010000, {24, 25}},
        {0x00020000, {25}},
        {0x00040000, {24}},
        {0x00080000, the13},
        {0x00090000, plus(the13, {24, 25})},
        {0x00400000, {2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 17, 22}},
        {0x00800000, {2, 3, 4, 5, 6, 7, 11, 14, 16, 17, 18, 19, 20, 21, 22, 23, 30, 31}},
        {0x01000000, {2, 3, 4, 5, 6, 7, 11, 17, 30}},
        {0x02080000, plus(the13, {24, 30, 31})},
        {0x02180000, plus(the13, {18, 19, 24, 30, 31})},
        {0x04000000, {12}},
        {0, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(OfferedBy(c.mask), c.types) << std::hex << c.mask;
    EXPECT_EQ(OfferedBy(0x0000FFFF).size(), 24u);
    EXPECT_EQ(OfferedBy(0x00200000).size(), 20u);
    EXPECT_EQ(OfferedBy(0x00210000).size(), 22u);
    EXPECT_EQ(OfferedBy(0x02200000).size(), 23u);
    EXPECT_EQ(OfferedBy(0x02200000), plus(OfferedBy(0x00200000), {24, 30, 31}));
}

TEST(TypeUsageRule, RowsGiveTheirOffers) {
    auto r = TypeUsageRule::Evaluate(kUsageModuleReturn, kCompatNone);
    EXPECT_EQ(r.OfferedIntrinsics().size(), 24u);
    EXPECT_EQ(r.ArrayStyles, kStyleSafeArray | kStyleSafeArrayPtr);
    EXPECT_EQ(r.MaxPointerLevel, 2);

    r = TypeUsageRule::Evaluate(kUsageRecordField, kCompatAutomation);
    EXPECT_EQ(r.OfferedIntrinsics().size(), 24u);
    EXPECT_EQ(r.ArrayStyles, kStyleSafeArray | kStyleFixed);
    EXPECT_TRUE(r.BoundsAllowed);
    EXPECT_EQ(r.MaxPointerLevel, 1);

    for (int32_t usage : {kUsageModuleReturn, kUsageInterfaceReturn, kUsageDispReturn}) {
        r = TypeUsageRule::Evaluate(usage, kCompatVBCallable);
        EXPECT_EQ(r.IntrinsicMask, 0x00090000);
        EXPECT_EQ(r.ArrayStyles, kStyleSafeArray);
        EXPECT_TRUE(r.ImpliedPointer);
        EXPECT_FALSE(r.PointersAllowed);
    }
    EXPECT_EQ(TypeUsageRule::Evaluate(kUsageModuleReturn, kCompatVBCallableAutomation).IntrinsicMask, 0x00090000);
    r = TypeUsageRule::Evaluate(kUsageInterfaceReturn, kCompatVBCallableAutomation);
    EXPECT_EQ(r.OfferedIntrinsics(), (Types{24, 25}));
    EXPECT_TRUE(r.NoLibraryTypes && r.ShowDisallowedGroup && !r.ArraysAllowed);

    r = TypeUsageRule::Evaluate(kUsageAliasTarget, kCompatNone);
    EXPECT_FALSE(r.ArraysAllowed);
    r = TypeUsageRule::Evaluate(kUsageDispProperty, kCompatNone);
    EXPECT_TRUE(r.ArraysAllowed);
    EXPECT_EQ(r.ArrayStyles, 0);

    r = TypeUsageRule::Evaluate(kUsageBaseInterface, kCompatNone);
    EXPECT_EQ(r.FilterWord, kFilterBaseInterfaces | kFilterNoModules);
    EXPECT_TRUE(r.OfferedIntrinsics().empty());
    EXPECT_TRUE(TypeUsageRule::Evaluate(kUsageBaseInterface, kCompatVBImplementable).NoLibraryTypes);

    r = TypeUsageRule::Evaluate(kUsageRedirectType, kCompatVBImplementable, 0, 3);
    EXPECT_EQ(r.FilterWord, (4 << kFilterRedirectKindShift) | kFilterRedirectAliases);
    EXPECT_FALSE(r.PointersAllowed || r.ArraysAllowed);
    EXPECT_EQ(TypeUsageRule::Evaluate(kUsageRedirectInterface, 0, 0, 3).FilterWord, 4 << kFilterRedirectKindShift);
    EXPECT_EQ(TypeUsageRule::Evaluate(kUsageImportType, 0).FilterWord, 0);

    // Usages without a row keep the defaults.
    r = TypeUsageRule::Evaluate(kUsageImportLibrary, kCompatVBImplementable);
    EXPECT_EQ(r.IntrinsicMask, 0x0000FFFF);
    EXPECT_TRUE(r.ArraysAllowed && r.PointersAllowed && !r.NoLibraryTypes);
}

TEST(TypeUsageRule, ParameterAdjustments) {
    auto r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, 0);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{1, 3, 2}));
    r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, kParamUsageRetval);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{1, 3, 2, 10}));
    r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, kParamUsageRetvalOnly);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{10}));
    r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, kParamUsageInOnly | kParamUsageRetval);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{1, 3}));

    // Optional without a default: VARIANT only, no array styles, no retval.
    r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, kParamUsageRetval, 0, 0x10, true);
    EXPECT_EQ(r.OfferedIntrinsics(), (Types{12}));
    EXPECT_TRUE(r.NoLibraryTypes && r.ArraysAllowed);
    EXPECT_EQ(r.ArrayStyles, 0);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{1, 3, 2}));
    EXPECT_EQ(r.FilterWord & kFilterOptionalParam, 0);
    // With a default: the optional listing of library types.
    r = TypeUsageRule::Evaluate(kUsageInterfaceParam, kCompatNone, 0, 0, 0x20, false);
    EXPECT_NE(r.FilterWord & kFilterOptionalParam, 0);
    EXPECT_FALSE(r.NoLibraryTypes);

    // ParamArray: VARIANT, an array must be chosen, no [out].
    r = TypeUsageRule::Evaluate(kUsageDispParam, kCompatVBCallable, kParamUsageParamArray);
    EXPECT_EQ(r.OfferedIntrinsics(), (Types{12}));
    EXPECT_FALSE(r.NotAnArrayOffered);
    EXPECT_TRUE(r.ArraysAllowed && r.PointersAllowed);
    EXPECT_EQ(OfferedParamFlags(r.ParamFlagsMask), (std::vector<int32_t>{1, 3}));
    // ...even when it is marked optional: without a style nothing could be chosen.
    r = TypeUsageRule::Evaluate(kUsageDispParam, kCompatVBCallable, kParamUsageParamArray, 0, 0x10, false);
    EXPECT_EQ(r.ArrayStyles, kStyleSafeArrayPtr);

    const int32_t all = kOfferIn | kOfferOut | kOfferInOut | kOfferOutRetval;
    EXPECT_EQ(NarrowParamFlags(all, kUsageDispParam, kCompatVBCallable, true), all);
    EXPECT_EQ(NarrowParamFlags(all, kUsageInterfaceParam, kCompatVBImplementable, false), all & ~kOfferOut);
    EXPECT_EQ(NarrowParamFlags(all, kUsageDispParam, kCompatVBImplementable, true), kOfferInOut);
}

}  // namespace
}  // namespace zephrin::dialogs

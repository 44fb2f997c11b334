// The type picker's state without a window: picks with their implied pointer
// levels, array styles, bounds text and parameter flags, each result compared
// with the description expected.
#include <gtest/gtest.h>

#include "dialogs/TypePickerState.h"
#include "DialogTestSupport.h"
#include "platform/tlbinf/TliSupport.h"
#include "typelib/modMarbrel.h"

namespace dialogstest {
namespace {

constexpr VARTYPE kVoid = 24;

ComPtr<tli::TypeInfo> TypeAt(ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> ti;
    EXPECT_OK(lib->GetTypeInfo(index, ti.put()));
    ComPtr<tli::TypeInfo> info;
    EXPECT_OK(tli::detail::NewTypeInfo(ti.get(), info.put()));
    return info;
}

// vt 0 with type: that type. arrayStyle as the picker's values.
ComPtr<CustomVarTypeInfo> Expected(VARTYPE vt, tli::TypeInfo* type, int16_t level, int32_t arrayStyle = 0,
                                   BoundsTable bounds = {}) {
    auto e = CustomVarTypeInfo::New();
    e->SetType(vt, type);
    e->PointerLevel(level);
    if (arrayStyle == kArraySafe) e->SetSafeArrayData(0);
    if (arrayStyle == kArraySafePtr) e->SetSafeArrayData(1);
    if (arrayStyle == kArrayFixed) e->SetFixedArrayData(bounds, 0);
    return e;
}

#define EXPECT_TYPE(state, expected) \
    EXPECT_TRUE(modMarbrel::VarTypeInfoEquals((state).CurrentType().get(), (expected).get()))

struct TypePickerStateTest : ::testing::Test {
    ComPtr<ITypeLib> lib = DialogLib();
    ComPtr<tli::TypeInfo> colors = TypeAt(lib.get(), 0), pair = TypeAt(lib.get(), 1), thing = TypeAt(lib.get(), 2);
    TypePickerState state;

    void Start(int32_t usage, int32_t compat, int32_t paramUsage, int32_t flags = 1) {
        state.TypeUsage(usage);
        state.TypeCompatibility(compat);
        state.ParamUsage(paramUsage);
        state.StartSession(lib.get(), nullptr, flags, false);
    }
};

TEST_F(TypePickerStateTest, PropertiesCheckTheirRangeAndUsageSetsParamUsage) {
    state.ParamUsage(0);
    state.TypeUsage(kUsageModuleParam);
    EXPECT_EQ(state.ParamUsage(), 1);
    state.TypeUsage(kUsageDispProperty);
    EXPECT_EQ(state.ParamUsage(), 0);
    EXPECT_THROW(state.TypeUsage(18), ErrorRecord);
    EXPECT_THROW(state.TypeCompatibility(5), ErrorRecord);
    EXPECT_THROW(state.RedirectionType(-1), ErrorRecord);
    EXPECT_EQ(state.TypeUsage(), kUsageDispProperty);
}

TEST_F(TypePickerStateTest, ImpliedLevelsOfObjectsRecordsAndVoid) {
    Start(kUsageInterfaceParam, kCompatVBCallable, 1);
    EXPECT_FALSE(state.HasType());
    EXPECT_EQ(state.CurrentType().get(), nullptr);
    EXPECT_EQ(state.PrototypeText(), u"No Selection");

    state.PickType(thing.get());
    EXPECT_TYPE(state, Expected(0, thing.get(), 1));
    EXPECT_EQ(state.PointerLevels(), (std::vector<int16_t>{1, 2}));
    EXPECT_EQ(state.PrototypeText(), u"[in] IThing*");
    state.PickIntrinsic(VT_I4);
    EXPECT_TYPE(state, Expected(VT_I4, nullptr, 0));
    EXPECT_EQ(state.PointerLevels(), (std::vector<int16_t>{0, 1}));
    state.PickIntrinsic(kVoid);
    EXPECT_TYPE(state, Expected(kVoid, nullptr, 1));
    EXPECT_EQ(state.PointerLevels(), (std::vector<int16_t>{1}));
    state.PickType(pair.get());
    EXPECT_TYPE(state, Expected(0, pair.get(), 1));
    state.PickType(colors.get());
    EXPECT_TYPE(state, Expected(0, colors.get(), 0));

    // A current type given to the session keeps its implied level counted.
    state.StartSession(lib.get(), Expected(0, thing.get(), 1).get(), 1, false);
    state.PickIntrinsic(VT_BSTR);
    EXPECT_TYPE(state, Expected(VT_BSTR, nullptr, 0));
}

TEST_F(TypePickerStateTest, ArrayStylesMoveTheFlagsAndBoundsAreLiveForFixedArraysOnly) {
    Start(kUsageInterfaceParam, kCompatNone, 1);
    state.PickType(pair.get());
    state.SetArrayStyle(kArraySafePtr);
    EXPECT_TYPE(state, Expected(0, pair.get(), 0, kArraySafePtr));
    EXPECT_EQ(state.CurrentParamFlags(), 3);
    state.SetPointerLevel(2);
    EXPECT_TYPE(state, Expected(0, pair.get(), 2, kArraySafePtr));
    state.SetArrayStyle(kArrayNone);
    state.SetPointerLevel(0);
    EXPECT_EQ(state.CurrentParamFlags(), 1);

    // An element may be a single pointer at most under VB callable: a double
    // pointer to an object becomes a single one when it turns into an array.
    Start(kUsageInterfaceParam, kCompatVBCallable, 1);
    state.PickType(thing.get());
    state.SetParamFlags(3);
    EXPECT_TYPE(state, Expected(0, thing.get(), 2));
    state.SetArrayStyle(kArraySafePtr);
    EXPECT_TYPE(state, Expected(0, thing.get(), 1, kArraySafePtr));

    Start(kUsageRecordField, kCompatNone, 0);
    state.PickIntrinsic(VT_I2);
    EXPECT_FALSE(state.SetBoundsText(u"4"));
    EXPECT_TYPE(state, Expected(VT_I2, nullptr, 0));
    state.SetArrayStyle(kArrayFixed);
    EXPECT_EQ(state.BoundsText(), u"0 To 0");
    EXPECT_TRUE(state.SetBoundsText(u"3"));
    EXPECT_TYPE(state, Expected(VT_I2, nullptr, 0, kArrayFixed, {{0, 3}}));
    for (const char16_t* bad : {u"x", u"3 To 1", u"0 To 2,"}) {
        EXPECT_FALSE(state.SetBoundsText(bad)) << QString::fromStdU16String(bad).toStdString();
        EXPECT_FALSE(state.BoundsValid());
        EXPECT_TYPE(state, Expected(VT_I2, nullptr, 0, kArrayFixed, {{0, 3}}));
    }
    EXPECT_TRUE(state.SetBoundsText(u"1 To 2, -1 To 1"));
    EXPECT_TYPE(state, Expected(VT_I2, nullptr, 0, kArrayFixed, {{1, 2}, {-1, 1}}));
    state.SetArrayStyle(kArrayNone);
    EXPECT_FALSE(state.BoundsLive());
    EXPECT_FALSE(state.SetBoundsText(u"5"));
    EXPECT_TYPE(state, Expected(VT_I2, nullptr, 0));
}

TEST_F(TypePickerStateTest, ParameterFlagsUnderEachConstraint) {
    Start(kUsageInterfaceParam, kCompatNone, kParamUsageRetval);
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{1, 3, 2, 10}));
    state.PickIntrinsic(VT_I4);
    state.SetParamFlags(2);
    EXPECT_TYPE(state, Expected(VT_I4, nullptr, 1));
    state.SetPointerLevel(2);
    state.SetParamFlags(1);
    EXPECT_TYPE(state, Expected(VT_I4, nullptr, 2));  // at least one level, none taken away
    state.SetPointerLevel(0);
    EXPECT_EQ(state.CurrentParamFlags(), 1);

    // VB implementable: no [out]; a record can't be [in] alone and gets
    // [in, out] with its pointer; leaving it takes both back.
    Start(kUsageInterfaceParam, kCompatVBImplementable, kParamUsageRetval);
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{1, 3, 10}));
    state.PickType(pair.get());
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{3, 10}));
    EXPECT_EQ(state.CurrentParamFlags(), 3);
    EXPECT_TYPE(state, Expected(0, pair.get(), 1));
    state.PickIntrinsic(VT_I4);
    EXPECT_EQ(state.CurrentParamFlags(), 1);
    EXPECT_TYPE(state, Expected(VT_I4, nullptr, 0));
    state.SetParamFlags(3);
    EXPECT_TYPE(state, Expected(VT_I4, nullptr, 1));
    state.PickType(thing.get());
    state.SetParamFlags(1);
    EXPECT_TYPE(state, Expected(0, thing.get(), 1));
    state.SetPointerLevel(2);
    EXPECT_EQ(state.CurrentParamFlags(), 3);

    Start(kUsageDispParam, kCompatVBImplementable, kParamUsageRetval);
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{1, 3}));
}

// A Let's value stored without direction flags (which the platform reads as
// [in]): offered as it is where [in] is, kept through picks, pointer levels
// and array styles, and changed only when chosen, or where an array can't
// be [in] alone.
TEST_F(TypePickerStateTest, AParameterWithoutDirectionFlagsKeepsThemUntilOthersAreChosen) {
    Start(kUsageInterfaceParam, kCompatAutomation, kParamUsageInOnly, 0);
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{0, 1, 3}));
    state.PickIntrinsic(VT_I4);
    EXPECT_FALSE(state.PairMarked());
    EXPECT_EQ(state.PrototypeText(), u"long");
    state.SetPointerLevel(1);
    state.SetPointerLevel(0);
    state.PickIntrinsic(kVoid);
    state.PickIntrinsic(VT_BSTR);
    state.SetArrayStyle(kArraySafePtr);
    state.SetArrayStyle(kArrayNone);
    EXPECT_EQ(state.CurrentParamFlags(), 0);
    EXPECT_TYPE(state, Expected(VT_BSTR, nullptr, 0));
    state.SetParamFlags(3);
    EXPECT_TYPE(state, Expected(VT_BSTR, nullptr, 1));
    state.SetParamFlags(0);
    EXPECT_EQ(state.CurrentParamFlags(), 0);

    Start(kUsageInterfaceParam, kCompatVBImplementable, kParamUsageInOnly, 0);
    state.PickIntrinsic(VT_I4);
    state.SetArrayStyle(kArraySafePtr);
    EXPECT_EQ(state.ParamFlagChoices(), (std::vector<int32_t>{3}));
    EXPECT_EQ(state.CurrentParamFlags(), 3);
}

}  // namespace
}  // namespace dialogstest

// Type text of descriptions read from a library (as built, and saved and
// loaded again) and of descriptions that can't be resolved.
#include <gtest/gtest.h>

#include "foundation/ErrorRecord.h"
#include "support/TliReading.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modPrototype.h"

namespace zephrin {
namespace {

using namespace testsupport;
using modPrototype::GetTypeString;

// library Protos {
//   struct Point { long x; };
//   struct Holder { long* byRef; IDispatch** dispRef; IUnknown* unk; SAFEARRAY(BSTR)* names;
//                   unsigned char bytes[8]; long* grid[1..2][-1..1]; Point origin; Point* pointRef;
//                   stdole.GUID id; stdole.IDispatch* disp; SAFEARRAY(Point*) points;
//                   SAFEARRAY(long**)** deep; VARIANT_BOOL flag; CURRENCY money; VARIANT any; };
// }
ComPtr<ICreateTypeLib2> BuildProtos(const std::u16string& file) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Protos", file);
    EXPECT_OK(lib->SetGuid({0x2C0D1E77, 0x51A2, 0x4B7E, {0x90, 0x31, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01}}));
    ComPtr<ICreateTypeInfo2> point = NewType(lib.get(), u"Point", TKIND_RECORD);
    ComPtr<ICreateTypeInfo2> holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
    ComPtr<ITypeInfo> guid = Get(TypeNamed(InfoOf(StdOle2().get()).get(), u"GUID"), &tli::TypeInfo::get_ITypeInfo);
    ComPtr<ITypeInfo> dispatch = StdOle2Type(IDispatch::kIID);
    if (!point || !holder || !guid || !dispatch) return nullptr;
    auto ref = [&](IUnknown* to) { return RefTo(holder.get(), to); };
    TypeDescs td;
    const std::pair<const char16_t*, TYPEDESC> fields[] = {
        {u"byRef", td.Ptr(Vt(VT_I4))},
        {u"dispRef", td.Ptr(Vt(VT_DISPATCH))},
        {u"unk", Vt(VT_UNKNOWN)},
        {u"names", td.Ptr(td.SafeArray(Vt(VT_BSTR)))},
        {u"bytes", td.CArray(Vt(VT_UI1), {{0, 8}})},
        {u"grid", td.CArray(td.Ptr(Vt(VT_I4)), {{1, 2}, {-1, 3}})},
        {u"origin", User(ref(point.get()))},
        {u"pointRef", td.Ptr(User(ref(point.get())))},
        {u"id", User(ref(guid.get()))},
        {u"disp", td.Ptr(User(ref(dispatch.get())))},
        {u"points", td.SafeArray(td.Ptr(User(ref(point.get()))))},
        {u"deep", td.Ptr(td.Ptr(td.SafeArray(td.Ptr(td.Ptr(Vt(VT_I4))))))},
        {u"flag", Vt(VT_BOOL)},
        {u"money", Vt(VT_CY)},
        {u"any", Vt(VT_VARIANT)},
    };
    AddVar(point.get(), 0, u"x", Vt(VT_I4));
    UINT index = 0;
    for (const auto& [name, type] : fields) AddVar(holder.get(), index++, name, type);
    EXPECT_OK(point->LayOut());
    EXPECT_OK(holder->LayOut());
    return lib;
}

class TypeText : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        lib_ = Reach(GetParam(), dir_, BuildProtos);
        ASSERT_TRUE(lib_);
        members_ = MembersOf(TypeNamed(InfoOf(lib_.get()).get(), u"Holder").get());
        ASSERT_TRUE(members_);
    }
    // The description of field `name` of Holder, read through the TypeLib Information objects.
    ComPtr<tli::VarTypeInfo> FieldType(std::u16string_view name) { return TypeOfMember(members_.get(), name); }
    std::u16string Text(std::u16string_view field, bool starless = false) {
        ComPtr<tli::VarTypeInfo> type = FieldType(field);
        return type ? GetTypeString(type.get(), starless) : u"(missing)";
    }

    TempDir dir_;
    ComPtr<ITypeLib> lib_;
    ComPtr<tli::Members> members_;
};

TEST_P(TypeText, BaseTypesCarryOneStarPerPointerLevel) {
    EXPECT_EQ(Text(u"byRef"), u"long*");
    EXPECT_EQ(Text(u"dispRef"), u"IDispatch**");
    EXPECT_EQ(Text(u"dispRef", true), u"IDispatch*");
    EXPECT_EQ(Text(u"unk"), u"IUnknown*");
    EXPECT_EQ(Text(u"unk", true), u"IUnknown");
    EXPECT_EQ(Text(u"flag"), u"boolean");
    EXPECT_EQ(Text(u"money"), u"currency");
    EXPECT_EQ(Text(u"any"), u"VARIANT");
}

TEST_P(TypeText, ArraysNameTheirElementAfterOf) {
    EXPECT_EQ(Text(u"names"), u"SAFEARRAY** of BSTR");
    EXPECT_EQ(Text(u"bytes"), u"Fixed-Size Array(0 To 7) of unsigned char");
    EXPECT_EQ(Text(u"grid"), u"Fixed-Size Array(1 To 2, -1 To 1) of long*");
    EXPECT_EQ(Text(u"points"), u"SAFEARRAY* of Point*");
    EXPECT_EQ(Text(u"deep"), u"SAFEARRAY*** of long**");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"grid").get()), u"(1 To 2, -1 To 1)");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"names").get()), u"");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"byRef").get()), u"");
}

TEST_P(TypeText, UserTypesOfOtherLibrariesAreQualified) {
    EXPECT_EQ(Text(u"origin"), u"Point");
    EXPECT_EQ(Text(u"pointRef"), u"Point*");
    EXPECT_EQ(Text(u"id"), u"stdole.GUID");
    // A user-defined IDispatch keeps its name: the starless flag is for the base types only.
    EXPECT_EQ(Text(u"disp"), u"stdole.IDispatch*");
    EXPECT_EQ(Text(u"disp", true), u"stdole.IDispatch*");
}

TEST_P(TypeText, AnEditedCopyReadsTheSame) {
    for (const char16_t* field : {u"byRef", u"dispRef", u"names", u"bytes", u"grid", u"origin", u"pointRef", u"id",
                                  u"disp", u"points", u"deep", u"any"}) {
        ComPtr<tli::VarTypeInfo> read = FieldType(field);
        ComPtr<CustomVarTypeInfo> edited = CustomVarTypeInfo::New();
        edited->CurrentITypeLib(lib_.get());
        edited->Duplicate(read.get());
        for (bool starless : {false, true})
            EXPECT_EQ(GetTypeString(edited.get(), starless), GetTypeString(read.get(), starless)) << ToUtf8(field);
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, TypeText, ::testing::Values(Route::Created, Route::Loaded), RouteName);

TEST(TypeTextOfEditedDescriptions, AMissingTypeIsAQuestionMark) {
    ComPtr<CustomVarTypeInfo> none = CustomVarTypeInfo::New();
    none->PointerLevel(1);
    EXPECT_EQ(GetTypeString(none.get(), false), u"?*");
    none->SetSafeArrayData(0);
    none->PointerLevel(2);
    EXPECT_EQ(GetTypeString(none.get(), false), u"SAFEARRAY* of ?**");
    none->SetType(VT_I2, nullptr);
    none->SetFixedArrayData({{0, 1}, {5, 5}}, 1);
    EXPECT_EQ(GetTypeString(none.get(), false), u"Fixed-Size Array(0 To 1, 5 To 5)* of short**");
    EXPECT_THROW(GetTypeString(nullptr, false), ErrorRecord);
}

TEST(BaseTypeNames, StarsUnlessStarlessAndTheBasicNameBesideTheIdlOne) {
    using modPrototype::BaseTypeName;
    using modPrototype::BaseTypeNameVB;
    EXPECT_EQ(BaseTypeNameVB(VT_UNKNOWN, false), u"IUnknown*");
    EXPECT_EQ(BaseTypeNameVB(VT_UNKNOWN, true), u"IUnknown");
    EXPECT_EQ(BaseTypeNameVB(VT_DISPATCH, true), u"IDispatch  (Object)");
    EXPECT_EQ(BaseTypeNameVB(VT_DISPATCH, false), u"IDispatch*  (Object)");
    EXPECT_EQ(BaseTypeNameVB(VT_I2, false), u"short  (Integer)");
    EXPECT_EQ(BaseTypeNameVB(VT_UI4, false), u"unsigned long");
    EXPECT_EQ(BaseTypeName(VT_LPWSTR, true), u"LPWSTR");
    for (int vt : {0, 1, 10, 15, 26, 29, 34, -1, 0x2003})
        EXPECT_EQ(BaseTypeName(vt, false), u"") << vt;
    int32_t index = VT_DISPATCH;
    modPrototype::UnstarredTypeIndex(index);
    EXPECT_EQ(index, 33);
    index = VT_I4;
    modPrototype::UnstarredTypeIndex(index);
    EXPECT_EQ(index, VT_I4);
}

}  // namespace
}  // namespace zephrin

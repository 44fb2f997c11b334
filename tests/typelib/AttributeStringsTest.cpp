// Keyword text of flag sets, invoke kinds, parameter directions, type kinds
// and member kinds, including flags read back from a built library.
#include <gtest/gtest.h>

#include "platform/oleauto/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/modAttributeStrings.h"

namespace zephrin {
namespace {

using namespace modAttributeStrings;
using Names = std::vector<FlagName>;

Names Call(FlagNamesFunction f, int32_t flags) {
    Names names{{u"stale", 99}};
    const int32_t count = f(flags, names);
    EXPECT_EQ(count, static_cast<int32_t>(names.size()));
    return names;
}

TEST(FlagKeywords, NamesComeInBitOrderWithTheirBit) {
    EXPECT_EQ(Call(GetTypeFlagNames, 0x1040), (Names{{u"dual", 64}}));
    EXPECT_EQ(Call(GetFuncFlagNames, 0x41), (Names{{u"restricted", 1}, {u"hidden", 64}}));
    EXPECT_EQ(Call(GetTypeFlagNames, 0x4401), (Names{{u"appobject", 1}, {u"aggregatable", 0x400}, {u"proxy", 0x4000}}));
    EXPECT_EQ(Call(GetImplTypeFlagNames, 0xF),
              (Names{{u"default", 1}, {u"source", 2}, {u"restricted", 4}, {u"defaultvtable", 8}}));
    EXPECT_EQ(Call(GetLibFlagNames, 0xF), (Names{{u"restricted", 1}, {u"control", 2}, {u"hidden", 4}}));
    EXPECT_EQ(Call(GetVarFlagNames, 0x1081), (Names{{u"readonly", 1}, {u"restricted", 0x80}, {u"immediatebind", 0x1000}}));
    EXPECT_EQ(Call(GetFuncFlagNames, 0x80), (Names{{u"usesgetlasterror", 0x80}}));
}

TEST(FlagKeywords, FlagsWithoutAKeywordedBitGiveAnEmptyList) {
    EXPECT_TRUE(Call(GetLibFlagNames, 8).empty());
    EXPECT_TRUE(Call(GetTypeFlagNames, 0x1000).empty());
    EXPECT_TRUE(Call(GetTypeFlagNames, 0x3800).empty());
    EXPECT_TRUE(Call(GetFuncFlagNames, 0).empty());
    EXPECT_TRUE(Call(GetVarFlagNames, static_cast<int32_t>(0xFFFFE000)).empty());
    EXPECT_EQ(Call(GetFuncFlagNames, -1).size(), 13u);
}

TEST(FlagKeywords, ReadFromALibraryThroughTheInformationObjects) {
    ole::ComPtr<ole::ICreateTypeLib2> lib;
    ASSERT_EQ(ole::CreateTypeLib2(ole::SYS_WIN32, u"", lib.put()), ole::S_OK);
    ASSERT_EQ(lib->SetName(u"Flags"), ole::S_OK);
    ASSERT_EQ(lib->SetLibFlags(ole::LIBFLAG_FHIDDEN | ole::LIBFLAG_FHASDISKIMAGE), ole::S_OK);
    ole::ComPtr<ole::ICreateTypeInfo> type;
    ASSERT_EQ(lib->CreateTypeInfo(u"Colors", ole::TKIND_ENUM, type.put()), ole::S_OK);
    ASSERT_EQ(type->SetTypeFlags(ole::TYPEFLAG_FHIDDEN | ole::TYPEFLAG_FRESTRICTED | ole::TYPEFLAG_FREVERSEBIND),
              ole::S_OK);

    ole::ComPtr<tli::TLIApplication> app;
    ole::ComPtr<tli::TypeLibInfo> info;
    ole::ComPtr<tli::TypeInfos> types;
    ole::ComPtr<tli::TypeInfo> colors;
    ASSERT_EQ(tli::GetTLIApplication(app.put()), ole::S_OK);
    ASSERT_EQ(app->TypeLibInfoFromITypeLib(lib.As<ole::ITypeLib>().get(), info.put()), ole::S_OK);
    ASSERT_EQ(info->get_TypeInfos(types.put()), ole::S_OK);
    ASSERT_EQ(types->get_Item(1, colors.put()), ole::S_OK);
    ole::SHORT libFlags = 0, typeFlags = 0;
    ASSERT_EQ(info->get_AttributeMask(&libFlags), ole::S_OK);
    ASSERT_EQ(colors->get_AttributeMask(&typeFlags), ole::S_OK);
    EXPECT_EQ(Call(GetLibFlagNames, libFlags), (Names{{u"hidden", 4}}));
    EXPECT_EQ(Call(GetTypeFlagNames, typeFlags), (Names{{u"hidden", 0x10}, {u"restricted", 0x200}}));
}

TEST(InvokeKindWording, UsesTheLowFourBits) {
    EXPECT_EQ(InvokeKindText(1), u"Function ");
    EXPECT_EQ(InvokeKindText(2), u"Property Get ");
    EXPECT_EQ(InvokeKindText(4), u"Property Let ");
    EXPECT_EQ(InvokeKindText(6), u"Property Get/Let ");
    EXPECT_EQ(InvokeKindText(8), u"Property Set ");
    EXPECT_EQ(InvokeKindText(10), u"Property Get/Set ");
    EXPECT_EQ(InvokeKindText(12), u"Property Let/Set ");
    EXPECT_EQ(InvokeKindText(14), u"Property Get/Let/Set ");
    EXPECT_EQ(InvokeKindText(3), u"");
    EXPECT_EQ(InvokeKindText(16), u"");
    EXPECT_EQ(InvokeKindText(18), u"Property Get ");
    EXPECT_EQ(InvokeKindText(34), u"Property Get ");
}

TEST(ParamFlagWording, KnownDirectionsOnly) {
    EXPECT_EQ(ParamFlagsText(1), u"[in] ");
    EXPECT_EQ(ParamFlagsText(2), u"[out] ");
    EXPECT_EQ(ParamFlagsText(3), u"[in, out] ");
    EXPECT_EQ(ParamFlagsText(5), u"[in, lcid] ");
    EXPECT_EQ(ParamFlagsText(10), u"[out, retval] ");
    EXPECT_EQ(ParamFlagsText(0x31), u"[in] ");  // optional and default bits are not spelled
    EXPECT_EQ(ParamFlagsText(0), u"");
    EXPECT_EQ(ParamFlagsText(8), u"");
}

TEST(TypeAndMemberWording, KeywordsAndNouns) {
    const char16_t* kinds[] = {u"enum", u"record", u"module", u"interface", u"dispinterface", u"coclass", u"alias", u"union"};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(TypeKindText(k), kinds[k]);
    EXPECT_EQ(TypeKindText(8), u"");
    EXPECT_EQ(TypeKindText(-1), u"");

    EXPECT_EQ(MemberKindText(0, 0), u"value");
    EXPECT_EQ(MemberKindText(0, 2), u"value");
    EXPECT_EQ(MemberKindText(1, 1), u"field");
    EXPECT_EQ(MemberKindText(7, 0), u"field");
    EXPECT_EQ(MemberKindText(2, 0), u"constant");
    EXPECT_EQ(MemberKindText(2, 1), u"function");
    EXPECT_EQ(MemberKindText(3, 1), u"method");
    EXPECT_EQ(MemberKindText(4, 0), u"property");
    EXPECT_EQ(MemberKindText(4, 1), u"method");
    EXPECT_EQ(MemberKindText(3, 2), u"Property Get function");
    EXPECT_EQ(MemberKindText(2, 8), u"Property Set function");
    EXPECT_EQ(MemberKindText(4, 4), u"Property Let function");
    EXPECT_EQ(MemberKindText(3, 0), u"function");
    EXPECT_EQ(MemberKindText(5, 1), u"");
    EXPECT_EQ(MemberKindText(6, 0), u"");
    EXPECT_EQ(MemberKindText(9, 1), u"");
}

}  // namespace
}  // namespace zephrin

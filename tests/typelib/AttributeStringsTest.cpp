// Keyword text of flag sets, invoke kinds, parameter directions, type kinds
// and member kinds, including flags read back from a built library.
#include <gtest/gtest.h>

#include <tuple>

#include "support/TliReading.h"
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
    ole::ComPtr<ole::ICreateTypeLib2> lib = testsupport::NewLibrary(u"Flags");
    ASSERT_EQ(lib->SetLibFlags(ole::LIBFLAG_FHIDDEN | ole::LIBFLAG_FHASDISKIMAGE), ole::S_OK);
    ASSERT_EQ(testsupport::NewType(lib.get(), u"Colors", ole::TKIND_ENUM)
                  ->SetTypeFlags(ole::TYPEFLAG_FHIDDEN | ole::TYPEFLAG_FRESTRICTED | ole::TYPEFLAG_FREVERSEBIND),
              ole::S_OK);
    auto info = testsupport::InfoOf(testsupport::AsTypeLib(lib.get()).get());
    EXPECT_EQ(Call(GetLibFlagNames, testsupport::Get(info, &tli::TypeLibInfo::get_AttributeMask)), (Names{{u"hidden", 4}}));
    EXPECT_EQ(Call(GetTypeFlagNames, testsupport::Get(testsupport::TypeNamed(info.get(), u"Colors"), &tli::TypeInfo::get_AttributeMask)),
              (Names{{u"hidden", 0x10}, {u"restricted", 0x200}}));
}

TEST(Wording, InvokeKindsUseTheLowFourBitsAndParameterFlagsOnlyKnownDirections) {
    const std::pair<int32_t, std::u16string_view> invokeKinds[] = {
        {1, u"Function "},          {2, u"Property Get "},         {4, u"Property Let "},
        {6, u"Property Get/Let "},  {8, u"Property Set "},         {14, u"Property Get/Let/Set "},
        {3, u""},                   {16, u""},                     {18, u"Property Get "}};
    for (const auto& [kind, text] : invokeKinds) EXPECT_EQ(InvokeKindText(kind), text) << kind;
    const std::pair<int32_t, std::u16string_view> paramFlags[] = {
        {1, u"[in] "},          {3, u"[in, out] "}, {5, u"[in, lcid] "}, {10, u"[out, retval] "},
        {0x31, u"[in] "},  // optional and default bits are not spelled
        {0, u""},               {8, u""}};
    for (const auto& [flags, text] : paramFlags) EXPECT_EQ(ParamFlagsText(flags), text) << flags;
}

TEST(Wording, TypeKeywordsAndMemberNounsDependOnTheKindOfType) {
    EXPECT_EQ(TypeKindText(ole::TKIND_ENUM), u"enum");
    EXPECT_EQ(TypeKindText(ole::TKIND_UNION), u"union");
    EXPECT_EQ(TypeKindText(8), u"");
    EXPECT_EQ(TypeKindText(-1), u"");
    // (type kind, invoke kind) -> noun
    const std::tuple<int32_t, int32_t, std::u16string_view> nouns[] = {
        {0, 0, u"value"},    {0, 2, u"value"},  {1, 1, u"field"},  {7, 0, u"field"},
        {2, 0, u"constant"}, {2, 1, u"function"}, {3, 1, u"method"}, {4, 0, u"property"},
        {4, 1, u"method"},   {3, 2, u"Property Get function"},      {2, 8, u"Property Set function"},
        {4, 4, u"Property Let function"},       {3, 0, u"function"},  {5, 1, u""},
        {6, 0, u""},         {9, 1, u""}};
    for (const auto& [type, invoke, noun] : nouns) EXPECT_EQ(MemberKindText(type, invoke), noun) << type << "/" << invoke;
}

}  // namespace
}  // namespace zephrin

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

TEST(FlagKeywords, NamedBitsComeInBitOrderWithTheirBitAndOthersAreSkipped) {
    // 0x1000 has no keyword; bit 3 is beyond the library table.
    EXPECT_EQ(Call(GetTypeFlagNames, 0x5441), (Names{{u"appobject", 1}, {u"dual", 0x40}, {u"aggregatable", 0x400},
                                                     {u"proxy", 0x4000}}));
    EXPECT_TRUE(Call(GetLibFlagNames, 8).empty());
    EXPECT_EQ(Call(GetImplTypeFlagNames, 8), (Names{{u"defaultvtable", 8}}));
    EXPECT_EQ(Call(GetFuncFlagNames, -1).size(), 13u);  // bits 0 to 12
    EXPECT_EQ(Call(GetVarFlagNames, 0x1000), (Names{{u"immediatebind", 0x1000}}));
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
    EXPECT_EQ(InvokeKindText(6), u"Property Get/Let ");
    EXPECT_EQ(InvokeKindText(18), u"Property Get ");
    EXPECT_EQ(InvokeKindText(3), u"");
    EXPECT_EQ(ParamFlagsText(10), u"[out, retval] ");
    EXPECT_EQ(ParamFlagsText(0x31), u"[in] ");  // optional and default bits are not spelled
    EXPECT_EQ(ParamFlagsText(8), u"");
}

TEST(Wording, TypeKeywordsAndMemberNounsDependOnTheKindOfType) {
    EXPECT_EQ(TypeKindText(ole::TKIND_UNION), u"union");
    EXPECT_EQ(TypeKindText(8), u"");
    // (type kind, invoke kind) -> noun
    const std::tuple<int32_t, int32_t, std::u16string_view> nouns[] = {
        {0, 2, u"value"},    {7, 0, u"field"},  {2, 0, u"constant"}, {2, 1, u"function"}, {3, 1, u"method"},
        {4, 0, u"property"}, {3, 2, u"Property Get function"},       {3, 0, u"function"}, {5, 1, u""}};
    for (const auto& [type, invoke, noun] : nouns) EXPECT_EQ(MemberKindText(type, invoke), noun) << type << "/" << invoke;
}

}  // namespace
}  // namespace zephrin

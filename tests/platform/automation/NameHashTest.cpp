#include <gtest/gtest.h>

#include "platform/automation/BStr.h"
#include "platform/automation/NameHash.h"

using namespace ole;

// Low words as stored in the name table of the standard OLE library file.
TEST(NameHash, MatchesTheStandardLibrarysStoredHashes) {
    struct Case {
        const char16_t* name;
        WORD low;
    } cases[] = {
        {u"stdole", 0x6093},     {u"GUID", 0xF57F},         {u"Data4", 0x3143},
        {u"IUnknown", 0x885B},   {u"QueryInterface", 0x8EBE}, {u"AddRef", 0xB8B5},
        {u"Release", 0x616F},    {u"IDispatch", 0x83D9},    {u"GetIDsOfNames", 0x11D5},
        {u"rgszNames", 0x05E1},  {u"IEnumVARIANT", 0xDEEC}, {u"Next", 0x09BB},
        {u"pceltFetched", 0xFF29}, {u"OLE_COLOR", 0xF5E4},  {u"OLE_XPOS_HIMETRIC", 0xAC1D},
    };
    for (const Case& c : cases) {
        ULONG h = LHashValOfNameSys(SYS_WIN32, 0x409, c.name);
        EXPECT_EQ(h, 0x00100000u | c.low) << ToUtf8(c.name);
    }
}

TEST(NameHash, IsCaseInsensitiveAndFoldsAccentsAndWY) {
    auto h = [](const char16_t* s) { return LHashValOfNameSys(SYS_WIN32, 0x409, s); };
    EXPECT_EQ(h(u"iunknown"), h(u"IUNKNOWN"));
    EXPECT_EQ(h(u"Wow"), h(u"vov"));
    EXPECT_EQ(h(u"Yes"), h(u"ues"));
    EXPECT_EQ(h(u"a/b"), 0x00106921u);  // '/' hashes as 0
    EXPECT_EQ(h(u"\u00C9t\u00E9"), h(u"ETE"));
    EXPECT_EQ(h(u"Lib"), 0x0010AE81u);
    EXPECT_EQ(h(u""), 0x00107015u);  // just the reduced seed
    EXPECT_EQ(h(nullptr), 0u);
}

TEST(NameHash, HighWordFollowsPlatformAndLocale) {
    const OLECHAR* name = u"Name";
    ULONG base = LHashValOfNameSys(SYS_WIN32, 0x409, name);
    EXPECT_EQ(base >> 16, 0x10u);
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN64, 0x409, name), base);
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0, name), base);
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, LOCALE_USER_DEFAULT, name), base);
    EXPECT_EQ(LHashValOfNameSys(SYS_MAC, 0x409, name), base | 0x00010000u);
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0x40A, name) >> 16, 0x20u);   // Spanish
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0x411, name) >> 16, 0x40u);   // Japanese
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0x419, name) >> 16, 0xE0u);   // Russian
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0x814, name) >> 16, 0xB0u);   // Nynorsk
    EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0x414, name) >> 16, 0x10u);   // Bokmal
    EXPECT_EQ(WHashValOfLHashVal(base), base & 0xFFFF);
    EXPECT_EQ(LHashValOfNameSysA(SYS_WIN32, 0x409, "Name"), base);
    EXPECT_EQ(GetUserDefaultLCID(), 0x409u);
}

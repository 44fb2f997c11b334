#include <gtest/gtest.h>

#include <unordered_set>

#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/automation/Unknown.h"

using namespace ole;

TEST(Guid, RegistryTextRoundTripsInUpperCase) {
    const GUID stdole = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    EXPECT_EQ(GuidToString(stdole), u"{00020430-0000-0000-C000-000000000046}");

    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(stdole, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{00020430-0000-0000-C000-000000000046}");
    EXPECT_EQ(StringFromGUID2(stdole, buf, 38), 0);

    IID parsed{};
    ASSERT_EQ(IIDFromString(u"{97be1160-2a99-11d6-84E0-d41203c10000}", &parsed), S_OK);
    EXPECT_EQ(GuidToString(parsed), u"{97BE1160-2A99-11D6-84E0-D41203C10000}");
    EXPECT_EQ(parsed.Data1, 0x97BE1160u);
    EXPECT_EQ(parsed.Data4[0], 0x84);
    EXPECT_EQ(parsed.Data4[7], 0x00);
}

TEST(Guid, AnyOtherFormIsRefusedWithIidString) {
    const char16_t* bad[] = {
        u"",
        u"00020430-0000-0000-C000-000000000046",     // no braces
        u"{00020430-0000-0000-C000-000000000046",    // no closing brace
        u"{00020430-0000-0000-C000-000000000046} ",  // trailing blank
        u" {00020430-0000-0000-C000-000000000046}",
        u"{00020430-0000-0000-C000-00000000004G}",   // not hex
        u"{00020430-0000-0000-C0000-00000000046}",   // dash moved
        u"{0002043000000000C000000000000046}",
        u"{+0020430-0000-0000-C000-000000000046}",
    };
    for (const char16_t* text : bad) {
        IID iid = IUnknown::kIID;
        EXPECT_EQ(IIDFromString(text, &iid), CO_E_IIDSTRING) << ToUtf8(text);
        EXPECT_EQ(iid, IUnknown::kIID) << "output changed on failure";
    }
    IID iid;
    EXPECT_EQ(IIDFromString(nullptr, &iid), CO_E_IIDSTRING);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString(u"nope", &clsid), CO_E_CLASSSTRING);
    EXPECT_FALSE(TryParseGuid(u"{}", nullptr));
}

TEST(Guid, GeneratedGuidsAreVersion4AndDistinct) {
    std::unordered_set<GUID> seen;
    for (int i = 0; i < 1000; ++i) {
        GUID g;
        ASSERT_EQ(CoCreateGuid(&g), S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        EXPECT_TRUE(seen.insert(g).second);
        GUID back;
        ASSERT_TRUE(TryParseGuid(GuidToString(g), &back));
        EXPECT_EQ(back, g);
    }
    EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

TEST(Guid, OrderingIsByFields) {
    GUID a = {1, 2, 3, {0, 0, 0, 0, 0, 0, 0, 1}};
    GUID b = a;
    b.Data4[7] = 2;
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_FALSE(a < a);
    EXPECT_TRUE(IsEqualGUID(a, a));
    EXPECT_NE(a, b);
}

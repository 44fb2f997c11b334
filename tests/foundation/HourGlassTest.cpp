// The wait cursor through the user interface's pointer hook.
#include <gtest/gtest.h>

#include "foundation/modHourGlass.h"

namespace {

namespace hg = zephrin::modHourGlass;

TEST(HourGlass, OnlyTheOutermostGuardRestoresAndOnlyItsOwnPointer) {
    int16_t pointer = 2;
    int sets = 0;
    hg::SetMousePointerHook({[&] { return pointer; }, [&](int16_t p) {
        pointer = p;
        ++sets;
    }});
    {
        hg::HourGlassGuard outer = hg::ShowHourGlass();
        EXPECT_TRUE(outer.Armed());
        EXPECT_EQ(pointer, hg::kHourGlassPointer);
        {
            hg::HourGlassGuard inner = hg::ShowHourGlass();
            EXPECT_FALSE(inner.Armed());
        }
        EXPECT_EQ(pointer, hg::kHourGlassPointer);
    }
    EXPECT_EQ(pointer, 2);
    {
        hg::HourGlassGuard guard = hg::ShowHourGlass();
        pointer = 5;  // the operation chose a pointer of its own
    }
    EXPECT_EQ(pointer, 5);
    EXPECT_EQ(sets, 3);
    // Without a hook nothing happens.
    hg::SetMousePointerHook({});
    EXPECT_FALSE(hg::ShowHourGlass().Armed());
}

}  // namespace

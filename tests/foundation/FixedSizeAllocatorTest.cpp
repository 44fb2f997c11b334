#include <gtest/gtest.h>

#include "foundation/FixedSizeAllocator.h"

using zephrin::FixedSizeAllocator;

namespace {

struct Record {
    explicit Record(int* alive, int v = 0) : alive(alive), value(v) { ++*alive; }
    ~Record() { --*alive; }
    int* alive;
    int value;
};

}  // namespace

TEST(FixedSizeAllocator, RecordsKeepTheirAddressesAndDieWithThePool) {
    int alive = 0;
    {
        FixedSizeAllocator<Record> pool(2);
        Record* a = pool.Allocate(&alive, 1);
        Record* b = pool.Allocate(&alive, 2);
        Record* c = pool.Allocate(&alive, 3);  // second block
        EXPECT_EQ(pool.BlockCount(), 2u);
        EXPECT_EQ(a->value + b->value + c->value, 6);

        pool.Free(a);
        pool.Free(a);  // ignored
        EXPECT_EQ(alive, 2);
        Record* d = pool.Allocate(&alive);
        EXPECT_EQ(d, a);
        EXPECT_EQ(d->value, 0);
        EXPECT_EQ(pool.Count(), 3u);
    }
    EXPECT_EQ(alive, 0);
}

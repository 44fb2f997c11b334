#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "foundation/ErrorRecord.h"
#include "foundation/modQSort.h"

using zephrin::ErrorRecord;
using zephrin::modQSort::QSortMemory;

namespace {

struct Counting {
    size_t* calls;
    int operator()(int a, int b) const {
        ++*calls;
        return a < b ? -1 : a > b ? 1 : 0;
    }
};

}  // namespace

TEST(QSort, SortsRecordsByTheCompareRoutine) {
    std::mt19937 rng(7);
    std::vector<std::pair<int, std::u16string>> items;
    for (int i = 0; i < 2000; ++i) items.emplace_back(static_cast<int>(rng() % 50), std::u16string(i % 7 + 1, u'x'));
    auto expected = items;
    std::sort(expected.begin(), expected.end());
    // Descending by key, then ascending by text.
    QSortMemory(std::span(items), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first ? 1 : -1;
        return a.second.compare(b.second);
    });
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first > b.first; });
    EXPECT_EQ(items, expected);

    std::vector<int> two{2, 1};
    size_t calls = 0;
    QSortMemory(two, Counting{&calls});
    EXPECT_EQ(two, (std::vector<int>{1, 2}));
    EXPECT_EQ(calls, 1u);
}

TEST(QSort, SortedAndEqualRunsTakeNLogNCompares) {
    std::vector<int> sorted(1000), equal(100000, 4);
    for (int i = 0; i < 1000; ++i) sorted[i] = i;
    size_t calls = 0;
    QSortMemory(std::span(sorted), Counting{&calls});
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
    EXPECT_LT(calls, 1000u * 10 * 2);

    calls = 0;
    QSortMemory(std::span(equal), Counting{&calls});
    EXPECT_EQ(std::count(equal.begin(), equal.end(), 4), 100000);
    EXPECT_LT(calls, 100000u * 17 * 2);
}

TEST(QSort, ErrorFromCompareEndsTheSortUnchangedAndKeepsEveryElement) {
    std::vector<int> items(500);
    for (int i = 0; i < 500; ++i) items[i] = (i * 37) % 500;
    int calls = 0;
    try {
        QSortMemory(std::span(items), [&](int a, int b) {
            if (++calls == 900) throw ErrorRecord(ole::TYPE_E_OUTOFBOUNDS, u"stop", u"cmp", u"h", 3);
            return a - b;
        });
        ADD_FAILURE() << "no error";
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, ole::TYPE_E_OUTOFBOUNDS);
        EXPECT_EQ(e.Description, u"stop");
    }
    std::sort(items.begin(), items.end());
    for (int i = 0; i < 500; ++i) ASSERT_EQ(items[i], i);

    // A compare routine that contradicts itself still leaves a permutation (and stays in bounds).
    std::mt19937 rng(1);
    QSortMemory(std::span(items), [&](int, int) { return static_cast<int>(rng() % 3) - 1; });
    std::sort(items.begin(), items.end());
    for (int i = 0; i < 500; ++i) ASSERT_EQ(items[i], i);
}

// In-place quicksort over a span with a three-way compare routine.
#pragma once

#include <cstddef>
#include <ranges>
#include <type_traits>
#include <span>
#include <utility>

namespace zephrin::modQSort {

namespace detail {

template <class T, class Compare>
void QSortRange(std::span<T> a, std::ptrdiff_t lo, std::ptrdiff_t hi, Compare& compare) {
    using std::swap;
    while (lo < hi) {
        if (hi - lo == 1) {
            if (compare(a[lo], a[hi]) > 0) swap(a[lo], a[hi]);
            return;
        }
        // Middle element as pivot, parked at hi. Both scans stop at elements equal to the
        // pivot, so runs of equal elements split evenly instead of one at a time.
        swap(a[lo + (hi - lo) / 2], a[hi]);
        std::ptrdiff_t i = lo - 1, j = hi;
        for (;;) {
            while (++i < hi && compare(a[i], a[hi]) < 0) {
            }
            while (--j > lo && compare(a[j], a[hi]) > 0) {
            }
            if (i >= j) break;
            swap(a[i], a[j]);
        }
        if (i != hi) swap(a[i], a[hi]);
        // The pivot is final at i. Recurse into the smaller side, loop on the larger one,
        // so the depth stays within log2(count).
        if (i - lo < hi - i) {
            QSortRange(a, lo, i - 1, compare);
            lo = i + 1;
        } else {
            QSortRange(a, i + 1, hi, compare);
            hi = i - 1;
        }
    }
}

}  // namespace detail

// Sorts items in place. compare(x, y) returns a value greater than 0 when x sorts after y,
// less than 0 when before, 0 when they are equal. Not stable. An error raised by compare
// ends the sort and propagates unchanged; the items are then partly sorted, each still
// present once.
template <class T, class Compare>
void QSortMemory(std::span<T> items, Compare compare) {
    if (items.size() < 2) return;
    detail::QSortRange(items, 0, static_cast<std::ptrdiff_t>(items.size()) - 1, compare);
}

// The same for any contiguous container (std::vector, std::array, a fixed-extent span).
template <std::ranges::contiguous_range R, class Compare>
    requires std::ranges::sized_range<R>
void QSortMemory(R&& items, Compare compare) {
    using T = std::remove_reference_t<std::ranges::range_reference_t<R>>;
    QSortMemory(std::span<T>(std::ranges::data(items), std::ranges::size(items)), std::move(compare));
}

}  // namespace zephrin::modQSort

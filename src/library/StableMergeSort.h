#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace lk {

// Stable sort that stays inside [first, last) whatever `less` answers. The score orders
// are not strict weak orderings (a 0.001 tolerance is not transitive), and std::sort or
// std::stable_sort may then misbehave; every index here is bounds-checked by the loops
// themselves, never by the comparator's answers.
template <typename RandomIt, typename Less>
void stableMergeSort(RandomIt first, RandomIt last, Less less)
{
    using T = typename std::iterator_traits<RandomIt>::value_type;
    const std::ptrdiff_t n = last - first;
    if (n < 2)
        return;

    // Insertion-sort short runs: the inner loop stops at the run start.
    constexpr std::ptrdiff_t kRun = 16;
    for (std::ptrdiff_t lo = 0; lo < n; lo += kRun) {
        const std::ptrdiff_t hi = std::min(lo + kRun, n);
        for (std::ptrdiff_t i = lo + 1; i < hi; ++i) {
            T value = std::move(first[i]);
            std::ptrdiff_t j = i;
            while (j > lo && less(value, first[j - 1])) {
                first[j] = std::move(first[j - 1]);
                --j;
            }
            first[j] = std::move(value);
        }
    }
    if (n <= kRun)
        return;

    // Bottom-up merges, alternating between the range and a buffer. On ties the left run
    // wins, which keeps equal elements in their earlier order.
    std::vector<T> buffer(std::make_move_iterator(first), std::make_move_iterator(last));
    T *src = buffer.data();
    std::vector<T> other(static_cast<std::size_t>(n));
    T *dst = other.data();
    for (std::ptrdiff_t width = kRun; width < n; width *= 2) {
        for (std::ptrdiff_t lo = 0; lo < n; lo += 2 * width) {
            const std::ptrdiff_t mid = std::min(lo + width, n);
            const std::ptrdiff_t hi = std::min(lo + 2 * width, n);
            std::ptrdiff_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                if (less(src[j], src[i]))
                    dst[k++] = std::move(src[j++]);
                else
                    dst[k++] = std::move(src[i++]);
            }
            while (i < mid)
                dst[k++] = std::move(src[i++]);
            while (j < hi)
                dst[k++] = std::move(src[j++]);
        }
        std::swap(src, dst);
    }
    std::move(src, src + n, first);
}

} // namespace lk

// Stable sort by 64-bit keys whose unsigned order is the wanted order: a least-significant-digit
// radix sort on 11-bit digits (the counts of a digit stay in the first-level cache and a scatter
// has few enough targets to keep its lines). One pass counts every digit; a digit that every
// key shares takes no pass, so keys of one sign and magnitude cost about four.
#pragma once
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace velloc {

// Unsigned image of a double whose order is the numeric order: negative values have every bit
// flipped, the others the sign bit set. -0 sorts just below +0 (callers for which the two tie
// add 0.0 first) and NaNs sort beyond the infinities by their sign.
inline std::uint64_t orderKey(double x) {
    const std::uint64_t b = std::bit_cast<std::uint64_t>(x);
    return (b >> 63) ? ~b : b | (std::uint64_t{1} << 63);
}

// Digits of 11 bits, six of them covering the 64 bits of a key.
inline constexpr int kRadixBits = 11, kRadixDigits = 6;
inline constexpr std::size_t kRadixBuckets = std::size_t{1} << kRadixBits;

// Sorts items[0, n) by keyOf(item), equal keys keeping their order, using spare[0, n) as
// scratch. Returns the array that holds the result: items or spare.
template <class T, class KeyOf> T* radixSort(T* items, T* spare, std::size_t n, KeyOf keyOf) {
    // Below this the counts cost more than a comparison sort.
    constexpr std::size_t kRadixMin = 2048;
    if (n < kRadixMin) {
        std::stable_sort(items, items + n,
                         [&](const T& a, const T& b) { return keyOf(a) < keyOf(b); });
        return items;
    }
    constexpr int kBits = kRadixBits, kDigits = kRadixDigits;
    constexpr std::size_t kBuckets = kRadixBuckets;
    std::vector<std::size_t> count(kDigits * kBuckets, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = keyOf(items[i]);
        for (int d = 0; d < kDigits; ++d)
            ++count[d * kBuckets + ((k >> (d * kBits)) & (kBuckets - 1))];
    }
    for (int d = 0; d < kDigits; ++d) {
        std::size_t* c = count.data() + d * kBuckets;
        const int shift = d * kBits;
        if (c[(keyOf(items[0]) >> shift) & (kBuckets - 1)] == n) continue;
        std::size_t at = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            const std::size_t k = c[b];
            c[b] = at;
            at += k;
        }
        for (std::size_t i = 0; i < n; ++i)
            spare[c[(keyOf(items[i]) >> shift) & (kBuckets - 1)]++] = items[i];
        std::swap(items, spare);
    }
    return items;
}

// The same with the counting and each digit's move shared by two threads, one a half of the
// items: within a digit the first half's items go before the second's, so the order is the one
// radixSort gives. Each move also counts the next digit of the items it puts in each half. For
// large arrays (the threads cost more than they save below a few hundred thousand items).
template <class T, class KeyOf>
T* radixSortTwoThreads(T* items, T* spare, std::size_t n, KeyOf keyOf) {
    constexpr std::size_t kTwoThreadMin = std::size_t{1} << 18;
    if (n < kTwoThreadMin) return radixSort(items, spare, n, keyOf);
    constexpr int kBits = kRadixBits, kDigits = kRadixDigits;
    constexpr std::size_t kBuckets = kRadixBuckets;
    const std::size_t half = n / 2;
    auto digit = [&](std::uint64_t k, int d) {
        return static_cast<std::size_t>((k >> (d * kBits)) & (kBuckets - 1));
    };
    // Counts of every digit in each half as the items stand: which digits all keys share.
    std::vector<std::size_t> all[2] = {std::vector<std::size_t>(kDigits * kBuckets, 0),
                                       std::vector<std::size_t>(kDigits * kBuckets, 0)};
    auto countPart = [&](int part) {
        std::size_t* c = all[part].data();
        const std::size_t from = part ? half : 0, to = part ? n : half;
        for (std::size_t i = from; i < to; ++i) {
            const std::uint64_t k = keyOf(items[i]);
            for (int d = 0; d < kDigits; ++d)
                ++c[d * kBuckets + digit(k, d)];
        }
    };
    {
        std::thread other(countPart, 1);
        countPart(0);
        other.join();
    }
    std::vector<int> passes;
    const std::uint64_t k0 = keyOf(items[0]);
    for (int d = 0; d < kDigits; ++d) {
        const std::size_t b = d * kBuckets + digit(k0, d);
        if (all[0][b] + all[1][b] != n) passes.push_back(d);
    }
    if (passes.empty()) return items;
    // cur[h]: counts of the digit about to be moved in half h; next[t][h]: the following
    // digit's counts of the items thread t put in half h.
    std::vector<std::size_t> cur[2], next[2][2], at[2];
    for (int h = 0; h < 2; ++h) {
        cur[h].assign(all[h].begin() + passes[0] * kBuckets,
                      all[h].begin() + (passes[0] + 1) * kBuckets);
        at[h].assign(kBuckets, 0);
        for (int t = 0; t < 2; ++t)
            next[t][h].assign(kBuckets, 0);
    }
    for (std::size_t p = 0; p < passes.size(); ++p) {
        const int d = passes[p];
        const int e = p + 1 < passes.size() ? passes[p + 1] : -1;
        std::size_t pos = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            at[0][b] = pos;
            pos += cur[0][b];
            at[1][b] = pos;
            pos += cur[1][b];
        }
        auto move = [&](int part) {
            std::size_t* to = at[part].data();
            std::size_t* lower = next[part][0].data();
            std::size_t* upper = next[part][1].data();
            const std::size_t from = part ? half : 0, end = part ? n : half;
            for (std::size_t i = from; i < end; ++i) {
                const std::uint64_t k = keyOf(items[i]);
                const std::size_t where = to[digit(k, d)]++;
                spare[where] = items[i];
                if (e >= 0) ++(where < half ? lower : upper)[digit(k, e)];
            }
        };
        std::thread other(move, 1);
        move(0);
        other.join();
        std::swap(items, spare);
        for (int h = 0; h < 2; ++h)
            for (std::size_t b = 0; b < kBuckets; ++b) {
                cur[h][b] = next[0][h][b] + next[1][h][b];
                next[0][h][b] = next[1][h][b] = 0;
            }
    }
    return items;
}

// The same into a vector, with a spare vector resized as needed; the sorted items end in items.
template <class T, class KeyOf>
void radixSort(std::vector<T>& items, std::vector<T>& spare, KeyOf keyOf) {
    spare.resize(items.size());
    if (radixSort(items.data(), spare.data(), items.size(), keyOf) != items.data())
        items.swap(spare);
}

// A value's order key beside its position, as sortValues leaves them.
struct KeyedPosition {
    std::uint64_t key;
    std::uint32_t at;
};

// The non-NaN values of x[0, n) in value order, ties in position order, -0 tying +0; spare is
// scratch kept by the caller so that its pages are touched once.
void sortValues(const double* x, std::size_t n, std::vector<KeyedPosition>& items,
                std::vector<KeyedPosition>& spare);

} // namespace velloc

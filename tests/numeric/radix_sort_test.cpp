#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "numeric/radix_sort.h"

namespace velloc {
namespace {

struct Rec {
    std::uint64_t key;
    std::uint32_t at;
    bool operator==(const Rec&) const = default;
};

// Keys that differ in every digit (arbitrary bits), only in the low digits, only in the top
// one, not at all, or mostly not (a digit most keys share must still be sorted by), with many
// ties in each: the result is exactly what a stable comparison
// sort gives, on both sides of the size where the comparison sort takes over.
TEST(RadixSort, EqualsAStableComparisonSortForKeysAcrossEveryDigit) {
    std::mt19937_64 rng(42);
    for (std::size_t n : {0u, 1u, 2u, 2047u, 2048u, 5000u, 70000u, 300001u}) {
        for (int kind = 0; kind < 5; ++kind) {
            std::vector<Rec> items(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                std::uint64_t k = rng();
                if (kind == 1) k &= 0x3ff;                                  // low digit only, ties
                if (kind == 2) k = (k % 7) << 60;                           // top digit only
                if (kind == 3) k = 0x0123456789abcdefull;                   // one key
                if (kind == 4 && i % 10 != 5) k = 0x0123456789abcdefull;    // nine in ten
                if (kind == 0 && i % 3 == 0 && i > 0) k = items[i / 2].key; // repeats
                items[i] = {k, i};
            }
            std::vector<Rec> want = items;
            std::stable_sort(want.begin(), want.end(),
                             [](const Rec& a, const Rec& b) { return a.key < b.key; });
            std::vector<Rec> two = items, twoSpare(n);
            std::vector<Rec> spare;
            radixSort(items, spare, [](const Rec& r) { return r.key; });
            EXPECT_EQ(items, want) << "n " << n << " kind " << kind;
            // Two threads, each moving half of the items: the same order (above 2^18 items
            // the halves are really split).
            const Rec* got = radixSortTwoThreads(two.data(), twoSpare.data(), n,
                                                 [](const Rec& r) { return r.key; });
            EXPECT_TRUE(std::equal(want.begin(), want.end(), got)) << "n " << n << " kind " << kind;
        }
    }
}

// The order keys of doubles follow the numbers: -inf < negatives < -0 < +0 < positives < inf,
// subnormals included, with NaNs beyond both ends by their sign.
TEST(RadixSort, OrderKeysOfDoublesFollowTheNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const std::vector<double> ascending{-inf, -1e300, -2.5, -1.0, -tiny, -0.0, 0.0,
                                        tiny, 1e-300, 1.0,  2.5,  1e300, inf};
    for (std::size_t i = 1; i < ascending.size(); ++i)
        EXPECT_LT(orderKey(ascending[i - 1]), orderKey(ascending[i])) << ascending[i];
    EXPECT_EQ(orderKey(-0.0 + 0.0), orderKey(0.0));
    EXPECT_GT(orderKey(std::nan("")), orderKey(inf));
    EXPECT_LT(orderKey(-std::nan("")), orderKey(-inf));
}

// The pointer form leaves the result in whichever array the last pass wrote.
TEST(RadixSort, ReportsWhichArrayHoldsTheResult) {
    std::vector<Rec> a(4096), b(4096);
    for (std::uint32_t i = 0; i < a.size(); ++i)
        a[i] = {static_cast<std::uint64_t>(a.size() - i), i}; // one 11-bit digit and a bit
    const Rec* out = radixSort(a.data(), b.data(), a.size(), [](const Rec& r) { return r.key; });
    ASSERT_TRUE(out == a.data() || out == b.data());
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(out[i].key, i + 1);
}

} // namespace
} // namespace velloc

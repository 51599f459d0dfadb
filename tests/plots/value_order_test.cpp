// The radix value order against a comparison sort of (value, position) pairs, the order the
// cumulative distribution plots need: ascending, ties by position, NaN last by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "plots/value_order.h"

namespace velloc {
namespace {

std::vector<std::uint32_t> oracle(const std::vector<double>& v) {
    std::vector<std::pair<double, std::size_t>> key;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (!std::isnan(v[i])) key.push_back({v[i], i});
    std::sort(key.begin(), key.end());
    std::vector<std::uint32_t> out;
    for (const auto& k : key)
        out.push_back(static_cast<std::uint32_t>(k.second));
    for (std::size_t i = 0; i < v.size(); ++i)
        if (std::isnan(v[i])) out.push_back(static_cast<std::uint32_t>(i));
    return out;
}

std::vector<std::uint32_t> ordered(const std::vector<double>& v, ValueOrderBuffers& buf) {
    std::vector<std::uint32_t> out;
    valueOrder(v.data(), v.size(), out, buf);
    return out;
}

TEST(ValueOrder, SmallCaseByHand) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Positions:                0    1     2    3    4     5     6    7     8
    const std::vector<double> v{2.0, nan, -0.0, 0.0, -inf, -1.5, nan, 2.0, -0.0};
    ValueOrderBuffers buf;
    // -inf, -1.5, then the zeros as one value by position (2, 3, 8), the twos, the NaNs.
    EXPECT_EQ(ordered(v, buf), (std::vector<std::uint32_t>{4, 5, 2, 3, 8, 0, 7, 1, 6}));
    EXPECT_TRUE(ordered({}, buf).empty());
    EXPECT_EQ(ordered({nan, nan}, buf), (std::vector<std::uint32_t>{0, 1}));
}

// Sizes on both sides of the switch from the comparison sort to the radix passes, values with
// many ties, both zeros, infinities, subnormals, extremes and NaNs; one set of buffers reused
// across all of them, as a family of plots does.
TEST(ValueOrder, MatchesComparisonSortOnRandomValuesWithTiesZerosAndNaN) {
    std::mt19937_64 rng(20240611);
    ValueOrderBuffers buf;
    const double specials[] = {0.0,
                               -0.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min(),
                               -std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::lowest(),
                               1.0,
                               -1.0};
    for (std::size_t n : {1u, 7u, 2047u, 2048u, 5000u, 200000u}) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<double> v(n);
            std::uniform_real_distribution<double> wide(-1e6, 1e6);
            std::uniform_int_distribution<int> few(-20, 20), pick(0, 99);
            for (double& x : v) {
                const int r = pick(rng);
                if (r < 10)
                    x = specials[static_cast<std::size_t>(r) % std::size(specials)];
                else if (kind == 0)
                    x = wide(rng);
                else if (kind == 1)
                    x = few(rng) * 0.25; // heavy ties
                else
                    x = 1.0 + few(rng) * 1e-15; // keys that differ in their low digits only
            }
            ASSERT_EQ(ordered(v, buf), oracle(v)) << "n " << n << " kind " << kind;
        }
    }
}

TEST(ValueOrder, AllValuesEqualOrAllMissing) {
    ValueOrderBuffers buf;
    std::vector<double> same(3000, 4.5);
    std::vector<std::uint32_t> out = ordered(same, buf);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i);
    std::vector<double> missing(3000, std::numeric_limits<double>::quiet_NaN());
    out = ordered(missing, buf);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i);
}

} // namespace
} // namespace velloc

// The eCDF differences against a brute-force oracle (every distinct value, both eCDFs summed
// from scratch), and the radix sort against std::sort, on random rows with ties, signed zeros,
// negative and huge values, missing values and several overlapping sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "assess/ecdf.h"

namespace velloc {
namespace {

// A direct reading of the definition: at each distinct value u of the set below its largest,
// |F_t(u) - F_c(u)| with F_g(u) the mass of group g at or below u over the group's mass.
EcdfDiff oracle(const std::vector<double>& x, const std::vector<int>& g,
                const std::vector<double>& mass) {
    double total[2] = {0, 0};
    std::set<double> values;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!std::isnan(x[i]) && mass[i] >= 0) {
            total[g[i]] += mass[i];
            values.insert(x[i] == 0 ? 0.0 : x[i]);
        }
    if (!(total[0] > 0) || !(total[1] > 0)) return {NAN, NAN};
    if (values.size() < 2) return {0, 0};
    values.erase(std::prev(values.end()));
    double sum = 0, max = 0;
    for (double u : values) {
        double below[2] = {0, 0};
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!std::isnan(x[i]) && mass[i] >= 0 && x[i] <= u) below[g[i]] += mass[i];
        const double d = std::fabs(below[1] / total[1] - below[0] / total[0]);
        sum += d;
        max = std::max(max, d);
    }
    return {sum / static_cast<double>(values.size()), max};
}

std::vector<double> randomRow(std::mt19937_64& rng, std::size_t n, int kind) {
    std::vector<double> x(n);
    std::uniform_int_distribution<int> small(-3, 3);
    std::normal_distribution<double> normal(0, 1e3);
    std::bernoulli_distribution missing(0.05);
    for (double& v : x) {
        switch (kind) {
        case 0:
            v = small(rng);
            break; // many ties
        case 1:
            v = normal(rng);
            break; // nearly all distinct
        case 2:
            v = small(rng) == 0 ? -0.0 : small(rng) * 1e300;
            break; // signed zeros, huge
        default:
            v = std::ldexp(static_cast<double>(small(rng)), -1070); // subnormals
        }
        if (missing(rng)) v = std::numeric_limits<double>::quiet_NaN();
    }
    return x;
}

TEST(Ecdf, RadixOrderEqualsStdSortAndKeepsRecordOrderInTies) {
    std::mt19937_64 rng(7);
    for (int kind = 0; kind < 4; ++kind) {
        std::vector<double> x = randomRow(rng, 5000, kind);
        EcdfScratch s;
        ecdfSortedKeys(x, s);
        std::vector<std::uint32_t> want;
        for (std::uint32_t i = 0; i < x.size(); ++i)
            if (!std::isnan(x[i])) want.push_back(i);
        std::stable_sort(want.begin(), want.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return x[a] < x[b]; });
        std::vector<std::uint32_t> got;
        for (const KeyedPosition& it : s.items)
            got.push_back(it.at);
        EXPECT_EQ(got, want) << "kind " << kind;
    }
}

TEST(Ecdf, EverySetAgreesWithTheBruteForceOracle) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> weight(0.1, 3.0);
    std::bernoulli_distribution member(0.7), treated(0.3);
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t n = 50 + trial * 7;
        const int kind = trial % 4;
        std::vector<double> x = randomRow(rng, n, kind), f(n);
        std::vector<int> g(n);
        std::vector<std::vector<double>> unit(3, std::vector<double>(n));
        for (std::size_t i = 0; i < n; ++i) {
            g[i] = treated(rng) ? 1 : 0;
            f[i] = trial % 2 ? 1.0 : std::floor(weight(rng)) + 1; // frequencies as counts
            unit[0][i] = 1.0;                                     // all observations
            unit[1][i] = member(rng) ? 1.0 : -1.0;                // a region
            unit[2][i] = member(rng) ? weight(rng) : -1.0;        // weighted, a subset
        }
        EcdfScratch s;
        const std::vector<EcdfDiff> got = ecdfDiffSets(x, ecdfMasses(g, f, unit), s);
        ASSERT_EQ(got.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            std::vector<double> mass(n);
            for (std::size_t i = 0; i < n; ++i)
                mass[i] = unit[k][i] >= 0 ? f[i] * unit[k][i] : -1.0;
            const EcdfDiff want = oracle(x, g, mass);
            SCOPED_TRACE("trial " + std::to_string(trial) + " set " + std::to_string(k));
            EXPECT_NEAR(got[k].mean, want.mean, 1e-12);
            EXPECT_NEAR(got[k].max, want.max, 1e-12);
        }
    }
}

TEST(Ecdf, IndicatorsTakeTheShortcutAndStillMatch) {
    std::mt19937_64 rng(3);
    std::bernoulli_distribution coin(0.4);
    const std::size_t n = 300;
    std::vector<double> x(n), f(n, 1.0);
    std::vector<int> g(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = coin(rng) ? 1.0 : 0.0;
        g[i] = coin(rng) ? 1 : 0;
    }
    std::vector<std::vector<double>> unit{std::vector<double>(n, 1.0)};
    EcdfScratch s;
    const EcdfDiff got = ecdfDiffSets(x, ecdfMasses(g, f, unit), s)[0];
    const EcdfDiff want = oracle(x, g, f);
    EXPECT_NEAR(got.mean, want.mean, 1e-14);
    EXPECT_NEAR(got.max, want.max, 1e-14);
    EXPECT_TRUE(s.items.empty()) << "an indicator is never sorted";
}

} // namespace
} // namespace velloc

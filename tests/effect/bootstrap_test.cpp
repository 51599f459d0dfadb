// The block bootstrap of matched data: reproducible from its seed, close to the cluster-robust
// error on a large matched study, and far from it when the matched sets are ignored.
#include <gtest/gtest.h>

#include <cmath>

#include "effect/estimators.h"
#include "numeric/random.h"

namespace velloc::effect {
namespace {

// A matched study: each set has one treated unit and two controls sharing a set effect of
// standard deviation 3 (what the matching balanced), unit noise of standard deviation 1 and a
// treatment effect of 1. The set effect cancels within sets, so the cluster-robust error is
// much smaller than one that treats rows as independent.
Sample matchedStudy(int sets, std::int64_t seed) {
    std::int64_t slot = seed;
    auto normal = [&] {
        const double u1 = support::zranuni(slot), u2 = support::zranuni(slot);
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
    };
    Sample s;
    for (int g = 1; g <= sets; ++g) {
        const double shared = 3.0 * normal();
        for (int j = 0; j < 3; ++j) {
            const bool treated = j == 0;
            s.y.push_back(shared + (treated ? 1.0 : 0.0) + normal());
            s.treat.push_back(treated ? 1.0 : 0.0);
            s.weight.push_back(treated ? 1.0 : 0.5);
            s.freq.push_back(1.0);
            s.cluster.push_back(g);
        }
    }
    return s;
}

TEST(EffectBootstrap, TheSeedReproducesTheReplicates) {
    Sample s = matchedStudy(200, 11);
    std::int64_t a = 12345, b = 12345, c = 54321;
    Bootstrap x = bootstrapContrast(s, Measure::Diff, Estimand::Att, 50, 0.05, a, true);
    Bootstrap y = bootstrapContrast(s, Measure::Diff, Estimand::Att, 50, 0.05, b, true);
    Bootstrap z = bootstrapContrast(s, Measure::Diff, Estimand::Att, 50, 0.05, c, true);
    ASSERT_EQ(x.replicates.size(), 50u);
    EXPECT_EQ(x.replicates, y.replicates);
    EXPECT_EQ(x.contrast.se, y.contrast.se);
    EXPECT_NE(x.replicates, z.replicates);
    EXPECT_EQ(a, b); // the stream advanced the same way
    // The point estimate is the full sample's, the limits bracket it.
    Contrast full = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Robust);
    EXPECT_DOUBLE_EQ(x.contrast.estimate, full.estimate);
    EXPECT_LT(x.lower, x.contrast.estimate);
    EXPECT_GT(x.upper, x.contrast.estimate);
}

TEST(EffectBootstrap, BlocksAgreeWithTheClusterErrorAndRowsDoNot) {
    Sample s = matchedStudy(3000, 7);
    const double cr1 = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Cluster).se;
    const double hc0 = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Robust).se;
    ASSERT_GT(hc0, 2.0 * cr1); // the study is one where the sets matter
    std::int64_t slot = 2024;
    Bootstrap blocks = bootstrapContrast(s, Measure::Diff, Estimand::Att, 400, 0.05, slot, true);
    EXPECT_NEAR(blocks.contrast.se, cr1, 0.10 * cr1);
    // The group means' errors come from the same replicates: close to the cluster ones.
    const Contrast cl = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Cluster);
    for (int g = 0; g < 2; ++g)
        EXPECT_NEAR(blocks.contrast.meanSe[g], cl.meanSe[g], 0.10 * cl.meanSe[g]);
    // Resampling single rows breaks the sets apart: the error it gives is the wrong one.
    Bootstrap rows = bootstrapContrast(s, Measure::Diff, Estimand::Att, 400, 0.05, slot, false);
    EXPECT_GT(std::fabs(rows.contrast.se - cr1), 0.5 * cr1);
    EXPECT_NEAR(rows.contrast.se, hc0, 0.10 * hc0);
}

TEST(EffectBootstrap, RatiosWorkOnTheLogScale) {
    Sample s = matchedStudy(500, 3);
    for (double& y : s.y)
        y = y > 0.5 ? 1.0 : 0.0;
    std::int64_t slot = 99;
    Bootstrap b = bootstrapContrast(s, Measure::Ratio, Estimand::Att, 300, 0.05, slot, true);
    const double cr1 = weightedContrast(s, Measure::Ratio, Estimand::Att, SeMethod::Cluster).se;
    EXPECT_NEAR(b.contrast.se, cr1, 0.15 * cr1);
    EXPECT_GT(b.lower, 0.0);
    EXPECT_LT(b.lower, b.contrast.estimate);
    EXPECT_GT(b.upper, b.contrast.estimate);
}

} // namespace
} // namespace velloc::effect

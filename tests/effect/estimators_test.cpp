// The estimators on data small enough to work by hand; every expected value is derived in the
// comments.
#include <gtest/gtest.h>

#include <cmath>

#include "effect/estimators.h"

namespace velloc::effect {
namespace {

Sample sample(std::vector<double> y, std::vector<double> t, std::vector<double> w,
              std::vector<double> cluster = {}) {
    Sample s;
    s.y = std::move(y);
    s.treat = std::move(t);
    s.weight = std::move(w);
    s.freq.assign(s.y.size(), 1.0);
    s.cluster = std::move(cluster);
    return s;
}

// Treated y = 1, 3 (weight 1); controls y = 0 (weight 1) and 4 (weight 3).
// m1 = 2, m0 = (0 + 12) / 4 = 3. Residuals: treated -1, 1; controls -3, 1.
TEST(EffectEstimators, WeightedMeansWithRobustAndClusterErrorsByHand) {
    Sample s = sample({1, 3, 0, 4}, {1, 1, 0, 0}, {1, 1, 1, 3}, {1, 2, 1, 2});
    Contrast r = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Robust);
    EXPECT_DOUBLE_EQ(r.mean[1], 2.0);
    EXPECT_DOUBLE_EQ(r.mean[0], 3.0);
    EXPECT_NEAR(r.estimate, -1.0, 1e-14);
    // HC0: var m1 = (1 + 1) / 2^2 = 0.5; var m0 = (1 * 9 + 9 * 1) / 4^2 = 1.125.
    EXPECT_NEAR(r.meanSe[1], std::sqrt(0.5), 1e-14);
    EXPECT_NEAR(r.meanSe[0], std::sqrt(1.125), 1e-14);
    EXPECT_NEAR(r.se, std::sqrt(1.625), 1e-14);
    // ESS: treated 2; controls (1 + 3)^2 / (1 + 9) = 1.6.
    EXPECT_DOUBLE_EQ(r.ess[1], 2.0);
    EXPECT_NEAR(r.ess[0], 1.6, 1e-14);
    // CR1, sets {1: y 1 treated, 0 control}, {2: y 3 treated, 4 control}. Influence of the
    // difference per row: t w e / 2 - (1 - t) w e / 4. Set 1: -0.5 + 0.75 = 0.25; set 2:
    // 0.5 - 0.75 = -0.25. Variance 2/(2-1) (4-1)/(4-2) (0.0625 + 0.0625) = 0.375.
    Contrast c = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Cluster);
    EXPECT_NEAR(c.estimate, -1.0, 1e-14);
    EXPECT_NEAR(c.se, std::sqrt(0.375), 1e-14);
    EXPECT_EQ(c.clusters, 2);
}

// Strata: 1 has treated 1, 3 and controls 0, 2; 2 has a treated unit only; 3 has treated 4, 6
// and controls 1, 1, 4. Stratum 2 is left out. Treated weights 2/4 and 2/4:
// m1 = (2 + 5) / 2 = 3.5, m0 = (1 + 2) / 2 = 1.5; variances of the stratum means are all 1
// (2/2, 2/2, 2/2 and 3/3), so var m_g = 0.25 + 0.25 = 0.5 and the difference's SE is 1.
// Size weights 4/9 and 5/9: m1 = (8 + 25) / 9, m0 = (4 + 10) / 9, var m_g = (16 + 25) / 81.
TEST(EffectEstimators, StratifiedEstimateByHandLeavesOutOneGroupStrata) {
    Sample s = sample({1, 3, 0, 2, 5, 4, 6, 1, 1, 4}, {1, 1, 0, 0, 1, 1, 1, 0, 0, 0},
                      std::vector<double>(10, 1.0), {1, 1, 1, 1, 2, 3, 3, 3, 3, 3});
    Contrast t = stratifiedContrast(s, Measure::Diff, true);
    EXPECT_DOUBLE_EQ(t.mean[1], 3.5);
    EXPECT_DOUBLE_EQ(t.mean[0], 1.5);
    EXPECT_DOUBLE_EQ(t.estimate, 2.0);
    EXPECT_NEAR(t.se, 1.0, 1e-14);
    EXPECT_EQ(t.droppedStrata, std::vector<double>{2.0});
    EXPECT_EQ(t.clusters, 2);
    Contrast a = stratifiedContrast(s, Measure::Diff, false);
    EXPECT_NEAR(a.mean[1], 33.0 / 9.0, 1e-14);
    EXPECT_NEAR(a.mean[0], 14.0 / 9.0, 1e-14);
    EXPECT_NEAR(a.meanSe[1], std::sqrt(41.0) / 9.0, 1e-14);
    // Risk ratio on the log scale: var log = var m1 / m1^2 + var m0 / m0^2.
    Contrast r = stratifiedContrast(s, Measure::Ratio, true);
    EXPECT_NEAR(r.estimate, 3.5 / 1.5, 1e-14);
    EXPECT_NEAR(r.se, std::sqrt(0.5 / (3.5 * 3.5) + 0.5 / (1.5 * 1.5)), 1e-14);
}

TEST(EffectEstimators, ACollinearCovariateIsReportedNotAnswered) {
    Sample s = sample({1, 3, 0, 4}, {1, 1, 0, 0}, {1, 1, 1, 1});
    s.p = 1;
    s.x = {5, 5, 5, 5};
    Contrast c = weightedContrast(s, Measure::Diff, Estimand::Att, SeMethod::Robust);
    EXPECT_TRUE(std::isnan(c.mean[0]));
    EXPECT_TRUE(std::isnan(c.estimate));
}

TEST(EffectEstimators, NormalQuantileAndInference) {
    EXPECT_NEAR(normalQuantile(0.975), 1.959963984540054, 1e-14);
    EXPECT_NEAR(normalQuantile(0.005), -2.5758293035489004, 1e-13);
    EXPECT_NEAR(normalQuantile(1e-10), -6.361340902404056, 1e-11);
    Inference d = infer(2.0, 1.0, Measure::Diff, 0.05);
    EXPECT_NEAR(d.lower, 2.0 - 1.959963984540054, 1e-14);
    EXPECT_DOUBLE_EQ(d.z, 2.0);
    EXPECT_NEAR(d.p, 0.04550026389635842, 1e-15); // 2 (1 - Phi(2))
    Inference r = infer(std::exp(1.0), 0.5, Measure::Ratio, 0.1);
    EXPECT_NEAR(r.z, 2.0, 1e-14);
    EXPECT_NEAR(r.upper, std::exp(1.0 + 0.5 * 1.6448536269514722), 1e-12);
}

} // namespace
} // namespace velloc::effect

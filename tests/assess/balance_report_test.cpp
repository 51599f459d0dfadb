// The eCDF differences and the effective sample size on small cases worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "assess/balance_report.h"
#include "core/balance_stats.h"

namespace velloc {
namespace {

TEST(EcdfDiff, ShiftedSamplesDifferByAThirdAtEveryValue) {
    // Treated 1 2 3, control 2 3 4. At u = 1, 2, 3: F_t = 1/3, 2/3, 1 and F_c = 0, 1/3, 2/3;
    // u = 4, the largest value, is left out (both are 1 there).
    EcdfDiff d = ecdfDiff({{1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {2, 1, 0}, {3, 1, 0}, {4, 1, 0}});
    EXPECT_NEAR(d.mean, 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(d.max, 1.0 / 3.0, 1e-15);
}

TEST(EcdfDiff, TiesAcrossGroupsAreOneStep) {
    // Treated 1 1 2, control 1 2 2: only u = 1 counts, F_t = 2/3 and F_c = 1/3. Evaluating
    // between the tied 1s would report a difference of 2/3.
    EcdfDiff d = ecdfDiff({{1, 1, 1}, {1, 1, 0}, {1, 1, 1}, {2, 1, 0}, {2, 1, 1}, {2, 1, 0}});
    EXPECT_NEAR(d.max, 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(d.mean, 1.0 / 3.0, 1e-15);
}

TEST(EcdfDiff, IndicatorGivesTheDifferenceInProportionsTwice) {
    // Weighted shares of 1: treated 1/4 (weights 3 on 0, 1 on 1), control 1/2.
    EcdfDiff d = ecdfDiff({{0, 3, 1}, {1, 1, 1}, {0, 1, 0}, {1, 1, 0}});
    EXPECT_DOUBLE_EQ(d.mean, 0.25);
    EXPECT_DOUBLE_EQ(d.max, 0.25);
}

TEST(EcdfDiff, MeanAndMaxPartWhenTheGapVaries) {
    // Treated 1 2, control 3 4: at u = 1, 2, 3 the gaps are 1/2, 1, 1/2.
    EcdfDiff d = ecdfDiff({{1, 1, 1}, {2, 1, 1}, {3, 1, 0}, {4, 1, 0}});
    EXPECT_DOUBLE_EQ(d.max, 1.0);
    EXPECT_DOUBLE_EQ(d.mean, 2.0 / 3.0);
}

TEST(EcdfDiff, DegenerateSets) {
    EcdfDiff one = ecdfDiff({{5, 1, 1}, {5, 2, 0}});
    EXPECT_EQ(one.mean, 0.0);
    EXPECT_EQ(one.max, 0.0);
    EcdfDiff noControl = ecdfDiff({{5, 1, 1}, {6, 0, 0}});
    EXPECT_TRUE(std::isnan(noControl.mean));
    EXPECT_TRUE(std::isnan(noControl.max));
}

TEST(EcdfDiff, EachSetCountsOnlyItsOwnValues) {
    // Treated 1 3, control 2 4 in the first set: at u = 1, 2, 3 the gaps are 1/2, 0, 1/2.
    // The second set holds only the first two records (treated 1, control 2): u = 1 alone,
    // gap 1; the values 3 and 4 of the other set must not enter it. A record with no value
    // (NaN) belongs to no eCDF.
    const std::vector<double> x{1, 2, 3, 4, NAN}, f{1, 1, 1, 1, 5};
    const std::vector<int> g{1, 0, 1, 0, 1};
    EcdfScratch scratch;
    std::vector<EcdfDiff> d =
        ecdfDiffSets(x, ecdfMasses(g, f, {{1, 1, 1, 1, 1}, {2, 0.5, -1, -1, 1}}), scratch);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_DOUBLE_EQ(d[0].mean, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(d[0].max, 0.5);
    EXPECT_DOUBLE_EQ(d[1].mean, 1.0);
    EXPECT_DOUBLE_EQ(d[1].max, 1.0);
}

TEST(EffectiveSampleSize, FrequenciesCountAsCopies) {
    // Two copies of weight 1 and one of weight 3: (2 + 3)^2 / (2 + 9) = 25/11.
    EssAccumulator a;
    a.add(2, 1);
    a.add(1, 3);
    EXPECT_DOUBLE_EQ(a.count, 3.0);
    EXPECT_DOUBLE_EQ(a.sumW, 5.0);
    EXPECT_DOUBLE_EQ(a.ess(), 25.0 / 11.0);
    // Unweighted records: the ESS is the count, whatever the frequencies.
    EssAccumulator u;
    u.add(4, 1);
    u.add(1, 1);
    EXPECT_DOUBLE_EQ(u.ess(), 5.0);
    EXPECT_TRUE(std::isnan(EssAccumulator{}.ess()));
}

} // namespace
} // namespace velloc

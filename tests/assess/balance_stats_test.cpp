// Differences, standardized differences, axis limits and the percent-reduction and
// variance-ratio rules, on statistics set by hand.
#include <cmath>

#include "assess/balance_rules.h"
#include "assess_fixture.h"

namespace velloc {
namespace {

using testing::AssessRun;

TEST(BalanceDifferences, ContinuousSlotStandardizedByAllObsDeviation) {
    AssessRun a;
    // AllObs: var_t 4, var_c 2 -> s = sqrt(3); Region: var_t 1, var_c 1.
    a.setGroups(kAllObs, 0, 5.0, 4.0, 4.0, 2.0);
    a.setGroups(kRegion, 0, 4.6, 1.0, 4.2, 1.0);
    vlccdff(a.run);
    EXPECT_DOUBLE_EQ(a.slot(kAllObs, 0).d, 1.0);
    EXPECT_NEAR(a.slot(kAllObs, 0).z, 1.0 / std::sqrt(3.0), 1e-15);
    EXPECT_NEAR(a.slot(kRegion, 0).d, 0.4, 1e-15);
    EXPECT_NEAR(a.slot(kRegion, 0).z, 0.4 / std::sqrt(3.0), 1e-15);

    // Each set by its own deviation.
    a.run.sdPerSet = 1;
    vlccdff(a.run);
    EXPECT_NEAR(a.slot(kRegion, 0).z, 0.4 / 1.0, 1e-15);
}

TEST(BalanceDifferences, TinyDifferenceBecomesExactlyZero) {
    AssessRun a;
    // s = 2: differences up to 2e-5 are zero (1.5e-5 here), 3e-5 is not.
    a.setGroups(kAllObs, 0, 1.0, 4.0, 1.0 - 1.5e-5, 4.0);
    a.setGroups(kRegion, 0, 1.0, 4.0, 1.0 - 3e-5, 4.0);
    vlccdff(a.run);
    EXPECT_EQ(a.slot(kAllObs, 0).d, 0.0);
    EXPECT_EQ(a.slot(kAllObs, 0).z, 0.0);
    EXPECT_NEAR(a.slot(kRegion, 0).d, 3e-5, 1e-15);
}

TEST(BalanceDifferences, TreatedOnlyDeviationAndMissingDenominator) {
    AssessRun a;
    a.run.sdTreatedOnly = 1;
    a.setGroups(kAllObs, 0, 3.0, 4.0, 1.0, 100.0);
    EXPECT_DOUBLE_EQ(a.slot(kAllObs, 0).s, 2.0);
    a.setGroups(kRegion, 0, 3.0, 0.0, 2.0, 0.0); // deviation 0 in the set itself
    a.run.sdPerSet = 1;
    vlccdff(a.run);
    EXPECT_DOUBLE_EQ(a.slot(kAllObs, 0).z, 1.0);
    EXPECT_TRUE(std::isnan(a.slot(kRegion, 0).z));
    EXPECT_DOUBLE_EQ(a.slot(kRegion, 0).d, 1.0);
}

TEST(BalanceDifferences, BinaryConstantInOneGroup) {
    AssessRun a;
    const int g = a.run.balance.binSlot(0);
    // Controls all in the first level: p_c = 1, so the deviation is missing.
    SlotStats& st = a.slot(kAllObs, g);
    st.g[kTreated].mean = 0.4;
    st.g[kTreated].var = 0.24;
    st.g[kControl].mean = 1.0;
    st.g[kControl].var = 0.0;
    st.s = kNaN;
    vlccdff(a.run);
    EXPECT_NEAR(st.d, -0.6, 1e-15);
    EXPECT_TRUE(std::isnan(st.z));

    a.run.stdBinVar = 0; // the raw difference of proportions
    vlccdff(a.run);
    EXPECT_NEAR(st.z, -0.6, 1e-15);
}

TEST(BalanceDifferences, BinaryStandardizedAndTinyDifference) {
    AssessRun a;
    const int g = a.run.balance.binSlot(0);
    a.setGroups(kAllObs, g, 0.5, 0.25, 0.3, 0.21);
    a.setGroups(kRegion, g, 0.3 + 1e-6, 0.21, 0.3, 0.21);
    vlccdff(a.run);
    EXPECT_NEAR(a.slot(kAllObs, g).z, 0.2 / std::sqrt(0.23), 1e-15);
    EXPECT_EQ(a.slot(kRegion, g).d, 0.0);
}

TEST(BalanceDifferences, AxisLimitFromTheLargestDifference) {
    struct Case {
        double z, limit;
    };
    // 0.3 -> 0.5 (ceil 0.72 = 1); 0.5 -> 1.0 (ceil 1.2 = 2); 1.3 -> 2.0 (ceil 3.12 = 4).
    for (Case c : {Case{0.0, 0.5}, Case{0.3, 0.5}, Case{0.5, 1.0}, Case{1.3, 2.0}}) {
        AssessRun a;
        a.run.assessPs = -1; // hidden PS row still counts; give it no difference
        a.setGroups(kAllObs, 0, c.z, 1.0, 0.0, 1.0);
        vlccdff(a.run);
        EXPECT_DOUBLE_EQ(a.run.balance.stdDiffLimit, c.limit) << c.z;
    }
    // A negative difference counts by its size; a binary slot counts too.
    AssessRun a;
    const int g = a.run.balance.binSlot(0);
    a.setGroups(kAllObs, 0, -0.1, 1.0, 0.0, 1.0);
    a.run.stdBinVar = 0;
    a.setGroups(kRegion, g, 0.9, 0.09, 0.1, 0.09); // raw 0.8 -> ceil(1.92) * 0.5 = 1.0
    vlccdff(a.run);
    EXPECT_DOUBLE_EQ(a.run.balance.stdDiffLimit, 1.0);
}

TEST(BalanceDifferences, MatchSetOnlyWhenMatching) {
    AssessRun a;
    a.setGroups(kAllObs, 0, 1.0, 1.0, 0.0, 1.0);
    a.setGroups(kMatch, 0, 1.0, 1.0, 0.0, 1.0);
    vlccdff(a.run);
    EXPECT_TRUE(std::isnan(a.slot(kMatch, 0).d));
    a.run.matchActive = 1;
    vlccdff(a.run);
    EXPECT_DOUBLE_EQ(a.slot(kMatch, 0).d, 1.0);
}

TEST(BalanceRules, PercentReductionNeverNegative) {
    EXPECT_DOUBLE_EQ(pctReduction(0.5, 0.1), 80.0);
    EXPECT_DOUBLE_EQ(pctReduction(-0.5, 0.25), 50.0);
    EXPECT_EQ(pctReduction(0.2, 0.3), 0.0);  // grew
    EXPECT_EQ(pctReduction(0.2, -0.2), 0.0); // stayed
    EXPECT_TRUE(std::isnan(pctReduction(0.0, 0.1)));
    EXPECT_TRUE(std::isnan(pctReduction(kNaN, 0.1)));
    EXPECT_TRUE(std::isnan(pctReduction(0.3, kNaN)));
}

TEST(BalanceRules, VarianceRatio) {
    EXPECT_DOUBLE_EQ(varianceRatio(3.0, 2.0), 1.5);
    EXPECT_TRUE(std::isnan(varianceRatio(3.0, 1e-11)));
    EXPECT_TRUE(std::isnan(varianceRatio(kNaN, 2.0)));
    EXPECT_DOUBLE_EQ(varianceRatio(0.0, 2.0), 0.0);
}

} // namespace
} // namespace velloc

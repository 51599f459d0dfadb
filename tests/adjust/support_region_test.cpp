// The support region: bounds for every region code, the inside test with its tolerance, the
// failures, the region statistics and the largest-weight lists.
#include <cmath>

#include "adjust_fixture.h"

namespace velloc::testing {
namespace {

class RegionTest : public AdjustTest {
  protected:
    std::vector<double> statuses(host::UtilFile& f) {
        std::vector<double> s;
        for (const auto& r : records(f))
            s.push_back(r[kVoutRegion]);
        return s;
    }
};

TEST_F(RegionTest, CommonSupportBoundsAndTheirTolerance) {
    // Treated PS in [0.3, 0.9], controls in [0.1, 0.6]: CS is [0.3, 0.6]. Two treated probes
    // just above 0.6: within the tolerance 1.11e-10 and beyond it.
    build({{0.3, 1}, {0.6 + 1e-11, 1}, {0.6 + 1e-9, 1}, {0.9, 1}, {0.1, 0}, {0.35, 0}, {0.6, 0}});
    run.regionType = 43;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_EQ(run.regionLower, 0.3);
    EXPECT_EQ(run.regionUpper, 0.6);
    EXPECT_EQ(statuses(*run.vlcvout), (std::vector<double>{1, 1, 0, 0, 0, 1, 1}));
    EXPECT_EQ(run.nRegionTreated, 2);
    EXPECT_EQ(run.nRegionControl, 2);
    EXPECT_EQ(run.vlcvout->count(), 7);
}

TEST_F(RegionTest, ControlsAtTheTreatedRangeEdge) {
    // Treated range [0.3, 0.6]: a control 1e-11 above 0.6 is inside, one 1e-9 above is not.
    build({{0.3, 1}, {0.45, 1}, {0.6, 1}, {0.1, 0}, {0.4, 0}, {0.6 + 1e-11, 0}, {0.6 + 1e-9, 0}});
    run.regionType = 46;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_EQ(run.regionUpper, 0.6);
    EXPECT_EQ(statuses(*run.vlcvout), (std::vector<double>{1, 1, 1, 0, 1, 1, 0}));
}

TEST_F(RegionTest, NoOverlapFailsForEveryRegionCode) {
    for (int code : {57, 44, 43, 45, 46, 47}) {
        SCOPED_TRACE(code);
        build({{0.7, 1}, {0.9, 1}, {0.1, 0}, {0.5, 0}});
        run.regionType = code;
        run.status = 0;
        log.str("");
        ASSERT_EQ(vlcwght(run), 0);
        EXPECT_EQ(vlcregn(run), 1);
        EXPECT_EQ(logged(236), 1);
        EXPECT_EQ(run.status, 112);
    }
}

TEST_F(RegionTest, ConstantScoresFail) {
    build({{0.5, 1}, {0.5, 1}, {0.5, 0}, {0.50005, 0}});
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(vlcregn(run), 1);
    EXPECT_EQ(logged(239), 1);
    EXPECT_EQ(run.status, 112);
}

TEST_F(RegionTest, TooFewUnitsInside) {
    // CS = [0.4, 0.5]: of the treated units only the one at 0.5 lies inside.
    build({{0.05, 1}, {0.06, 1}, {0.07, 1}, {0.5, 1}, {0.4, 0}, {0.45, 0}, {0.55, 0}});
    run.regionType = 43;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(vlcregn(run), 1);
    EXPECT_EQ(logged(237), 1);
    EXPECT_EQ(run.status, 112);

    // Two controls, one inside PSMAX=0.5: message 238.
    build({{0.2, 1}, {0.45, 1}, {0.4, 0}, {0.6, 0}});
    run.regionType = 44;
    run.regionMax = 0.5;
    log.str("");
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(vlcregn(run), 1);
    EXPECT_EQ(logged(238), 1);
}

TEST_F(RegionTest, LpsScaleExtensionIsMappedThenClipped) {
    // LPS: treated -1.5, 0, 1.5; controls -1, 0.5, 2; sdLps 1.5, extension 0.25 x 1.5.
    build({{-1.5, 1}, {0.0, 1}, {1.5, 1}, {-1.0, 0}, {0.5, 0}, {2.0, 0}});
    run.psSource = kScoreLps;
    run.regionScore = kScoreLps;
    run.regionType = 47;
    run.regionExtend = 1;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    // [-1.5 - 0.375, 1.5 + 0.375] on the LPS scale, then to PS.
    EXPECT_DOUBLE_EQ(run.regionLower, std::exp(-1.875) / (1 + std::exp(-1.875)));
    EXPECT_DOUBLE_EQ(run.regionUpper, 1 / (1 + std::exp(-1.875)));
    // The control at LPS 2 (PS 0.8808) is above 0.8670 and so outside.
    EXPECT_EQ(statuses(*run.vlcvout), (std::vector<double>{1, 1, 1, 1, 1, 0}));

    // PSMIN=0.2 cuts the mapped lower bound (0.1329).
    run.regionMin = 0.2;
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_EQ(run.regionLower, 0.2);
    EXPECT_EQ(statuses(*run.vlcvout), (std::vector<double>{0, 1, 1, 1, 1, 0}));
}

TEST_F(RegionTest, PsScaleExtensionBelowZeroStopsAtPsmin) {
    build({{0.05, 1}, {0.5, 1}, {0.1, 0}, {0.3, 0}});
    run.regionType = 47;
    run.regionExtend = 1;
    run.extendMult = 0;
    run.extendLower = 0.1;
    run.extendUpper = 0.1;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_EQ(run.regionLower, 0.0);
    EXPECT_DOUBLE_EQ(run.regionUpper, 0.6);
}

TEST_F(RegionTest, RegionAndWeightedStatisticsWithLargestWeights) {
    // ATT weights: treated 1; controls PS / (1 - PS): 0.25, 1, 4 and 1 / 9 (outside PSMAX).
    // x: treated 1, 3; controls 2, 4, 0, 8.
    build({{0.5, 1, 1.0, {1.0}},
           {0.6, 1, 1.0, {3.0}},
           {0.2, 0, 1.0, {2.0}},
           {0.5, 0, 1.0, {4.0}},
           {0.8, 0, 1.0, {0.0}},
           {0.1, 0, 2.0, {8.0}}},
          1);
    run.weightType = kWeightAtt;
    run.regionType = 44;
    run.regionMin = 0.15;
    run.listLength = 2;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    const SetStats& reg = run.balance.sets[kRegion];
    const SetStats& wgt = run.balance.sets[kFourth];
    EXPECT_TRUE(reg.present);
    EXPECT_TRUE(wgt.present);
    EXPECT_EQ(run.balance.fourth, kRegionWgt);
    EXPECT_EQ(reg.total[kControl], 3.0);
    EXPECT_EQ(reg.total[kTreated], 2.0);
    // Region controls: mean (2 + 4 + 0) / 3 = 2, var (0 + 4 + 4) / 2 = 4.
    EXPECT_DOUBLE_EQ(stat(kRegion, 0, kControl).mean, 2.0);
    EXPECT_DOUBLE_EQ(stat(kRegion, 0, kControl).var, 4.0);
    // Weighted controls: W = 5.25, mean (0.5 + 4 + 0) / 5.25 = 6 / 7;
    // var (0.25 (2 - 6/7)^2 + (4 - 6/7)^2 + 4 (6/7)^2) / 4.25.
    const double m = 6.0 / 7.0;
    EXPECT_DOUBLE_EQ(wgt.wtotal[kControl], 5.25);
    EXPECT_DOUBLE_EQ(stat(kFourth, 0, kControl).mean, m);
    EXPECT_DOUBLE_EQ(stat(kFourth, 0, kControl).var,
                     (0.25 * (2 - m) * (2 - m) + (4 - m) * (4 - m) + 4 * m * m) / 4.25);
    // Treated: W = 2, mean 2, var ((1 - 2)^2 + (3 - 2)^2) / 1 = 2.
    EXPECT_DOUBLE_EQ(stat(kFourth, 0, kTreated).mean, 2.0);
    EXPECT_DOUBLE_EQ(stat(kFourth, 0, kTreated).var, 2.0);
    EXPECT_DOUBLE_EQ(wgt.slots[0].s, std::sqrt((2.0 + stat(kFourth, 0, kControl).var) / 2));
    // The weighted set keeps the region's extremes.
    EXPECT_EQ(stat(kFourth, 0, kControl).min, 0.0);
    EXPECT_EQ(stat(kFourth, 0, kControl).max, 4.0);
    EXPECT_EQ(reg.psMin[kControl], 0.2);
    // Largest weights over all observations: controls 4 (obs 5) then 1 (obs 4); treated 1, 1
    // in arrival order.
    EXPECT_DOUBLE_EQ(run.maxWeight, 4.0);
    EXPECT_EQ(run.largestWgt[kControl].obs, (std::vector<double>{5, 4}));
    EXPECT_DOUBLE_EQ(run.largestWgt[kControl].value[0], 4.0);
    EXPECT_EQ(run.largestWgt[kTreated].obs, (std::vector<double>{1, 2}));
}

TEST_F(RegionTest, RegionWeightedVarianceNeedsATotalAboveOne) {
    // p_t = 0.25: the two treated units at PS 0.5 have stabilized weights 0.25 / 0.5 = 0.5
    // each, so W_t = 1 and the weighted treated variance is missing; the unweighted one is
    // ((1 - 1.5)^2 + (2 - 1.5)^2) / 1 = 0.5.
    build({{0.5, 1, 1.0, {1.0}},
           {0.5, 1, 1.0, {2.0}},
           {0.3, 0, 1.0, {1.0}},
           {0.35, 0, 1.0, {5.0}},
           {0.4, 0, 1.0, {2.0}},
           {0.45, 0, 1.0, {3.0}},
           {0.55, 0, 1.0, {4.0}},
           {0.6, 0, 1.0, {6.0}}},
          1);
    run.weightType = kWeightAte;
    run.stabilize = 1;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_DOUBLE_EQ(run.balance.sets[kFourth].wtotal[kTreated], 1.0);
    EXPECT_TRUE(std::isnan(stat(kFourth, 0, kTreated).var));
    EXPECT_TRUE(std::isnan(run.balance.sets[kFourth].slots[0].s));
    EXPECT_DOUBLE_EQ(stat(kRegion, 0, kTreated).var, 0.5);
    // ATT weights: treated weights 1 and 1, W_t = 2, variance 0.5.
    run.stabilize = 0;
    run.weightType = kWeightAtt;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    EXPECT_DOUBLE_EQ(stat(kFourth, 0, kTreated).var, 0.5);
}

TEST_F(RegionTest, LargestWeightListKeepsArrivalOrderOfEqualValuesAndIds) {
    build({{0.5, 0, 1.0, {}, {}, {}, 1.0, "first   "},
           {0.5, 0, 1.0, {}, {}, {}, 2.0, "second  "},
           {0.75, 0, 1.0, {}, {}, {}, 3.0, "third   "},
           {0.2, 1},
           {0.6, 1}},
          0, 0, 0, true);
    run.weightType = kWeightAte;
    run.listLength = 3;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    // Control ATE weights 2, 2, 4.
    const auto& l = run.largestWgt[kControl];
    EXPECT_EQ(l.value, (std::vector<double>{4, 2, 2}));
    EXPECT_EQ(l.obs, (std::vector<double>{3, 1, 2}));
    EXPECT_EQ(l.idNum, (std::vector<double>{3, 1, 2}));
    EXPECT_EQ(std::string(l.idText.begin(), l.idText.end()), "third   first   second  ");
}

} // namespace
} // namespace velloc::testing

// The weights pass: weights, reference lines, scale factors, the all-observations statistics,
// the caliper width and the region extensions, against hand calculations.
#include <cmath>

#include "adjust_fixture.h"
#include "base/missing.h"

namespace velloc::testing {
namespace {

using WeightsTest = AdjustTest;

TEST_F(WeightsTest, AteStabilizedAndAttWeightsOfTheExample) {
    // p_t = 1 / 4: one treated unit and three controls (one with frequency 2).
    build({{0.5, 1}, {0.5, 0}, {0.3, 0, 2.0}});
    run.weightType = kWeightAte;
    run.stabilize = 1;
    run.outAtt = 1;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_DOUBLE_EQ(run.pT, 0.25);
    EXPECT_DOUBLE_EQ(run.pC, 0.75);
    auto r = records(*run.vlcvout);
    ASSERT_EQ(r.size(), 3u);
    // Treated, PS 0.5: 1 / 0.5, 0.25 / 0.5, 1.
    EXPECT_DOUBLE_EQ(r[0][kVoutAte], 2.0);
    EXPECT_DOUBLE_EQ(r[0][kVoutAteStab], 0.5);
    EXPECT_DOUBLE_EQ(r[0][kVoutAtt], 1.0);
    // Control, PS 0.5: 1 / 0.5, 0.75 / 0.5, 0.5 / 0.5.
    EXPECT_DOUBLE_EQ(r[1][kVoutAte], 2.0);
    EXPECT_DOUBLE_EQ(r[1][kVoutAteStab], 1.5);
    EXPECT_DOUBLE_EQ(r[1][kVoutAtt], 1.0);
    // Control, PS 0.3: 1 / 0.7, 0.75 / 0.7, 0.3 / 0.7.
    EXPECT_DOUBLE_EQ(r[2][kVoutAte], 1.0 / 0.7);
    EXPECT_DOUBLE_EQ(r[2][kVoutAteStab], 0.75 / 0.7);
    EXPECT_DOUBLE_EQ(r[2][kVoutAtt], 0.3 / 0.7);
    // Record header and scores: LPS = log(0.3 / 0.7).
    EXPECT_EQ(r[2][kVoutObs], 3.0);
    EXPECT_EQ(r[2][kVoutFreq], 2.0);
    EXPECT_EQ(r[2][kVoutTreat], 0.0);
    EXPECT_DOUBLE_EQ(r[2][kVoutLps], std::log(0.3 / 0.7));
    // Stabilized ATE weights are not scaled.
    EXPECT_EQ(run.scaleT, 1.0);
    EXPECT_EQ(run.scaleC, 1.0);
    EXPECT_EQ(logged(kMsgPsZeroOne), 0);
}

TEST_F(WeightsTest, WeightsNotAskedForAreMissing) {
    build({{0.5, 1}, {0.4, 0}});
    run.weightType = kWeightNone;
    ASSERT_EQ(vlcwght(run), 0);
    auto r = records(*run.vlcvout);
    for (const auto& rec : r) {
        EXPECT_TRUE(std::isnan(rec[kVoutAte]));
        EXPECT_TRUE(std::isnan(rec[kVoutAteStab]));
        EXPECT_TRUE(std::isnan(rec[kVoutAtt]));
        EXPECT_TRUE(std::isnan(rec[kVoutStratum]));
    }
}

TEST_F(WeightsTest, ReferenceLinesAndScaleFactors) {
    // p_t = 0.2.
    build({{0.5, 1}, {0.5, 0}, {0.5, 0}, {0.5, 0}, {0.5, 0}});
    run.weightType = kWeightAtt;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(run.wgtCloudRef, 10.0);
    EXPECT_DOUBLE_EQ(run.wgtRefControl, 2.5); // 10 x 0.2 / 0.8
    EXPECT_EQ(run.scaleT, 1.0);
    EXPECT_DOUBLE_EQ(run.scaleC, 0.25);
    EXPECT_EQ(run.scaleCText, "Scale Factor = 0.25");

    // Unstabilized ATE weights with a given reference of 4: lines 4 / 0.2 and 4 / 0.8.
    run.weightType = kWeightAte;
    run.wgtCloudRef = 4.0;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_DOUBLE_EQ(run.wgtRefTreated, 20.0);
    EXPECT_DOUBLE_EQ(run.wgtRefControl, 5.0);
    EXPECT_DOUBLE_EQ(run.scaleT, 5.0);
    EXPECT_DOUBLE_EQ(run.scaleC, 1.25);
    EXPECT_EQ(run.scaleTText, "Scale Factor = 5");
}

TEST_F(WeightsTest, ScoreOfExactlyOneGivesMissingWeightsAndOneWarning) {
    // LPS 40 rounds to PS exactly 1: the controls' weights divide by zero; a treated unit's do
    // not (1 / 1).
    build({{40.0, 1}, {0.0, 1}, {40.0, 0}, {40.0, 0}, {-1.0, 0}});
    run.psSource = kScoreLps;
    run.weightType = kWeightAte;
    run.stabilize = 1;
    run.outAte = 1;
    run.outAtt = 1;
    ASSERT_EQ(vlcwght(run), 0);
    auto r = records(*run.vlcvout);
    EXPECT_EQ(r[0][kVoutPs], 1.0);
    EXPECT_EQ(r[0][kVoutAte], 1.0);
    for (int i : {2, 3}) {
        EXPECT_TRUE(host::isMissing(r[i][kVoutAte]));
        EXPECT_TRUE(host::isMissing(r[i][kVoutAteStab]));
        EXPECT_TRUE(host::isMissing(r[i][kVoutAtt]));
    }
    EXPECT_TRUE(std::isfinite(r[4][kVoutAte]));
    EXPECT_EQ(run.psZeroOneCount, 2);
    EXPECT_EQ(logged(kMsgPsZeroOne), 1);
    EXPECT_NE(log.str().find("2 observations"), std::string::npos);
    EXPECT_EQ(run.status, 4);
}

TEST_F(WeightsTest, SuppliedScoreOutOfRangeAbandonsTheGroup) {
    build({{0.5, 1}, {0.9999999998889777, 0}});
    host::addMessages(std::array<host::MessageDef, 1>{
        {{host::kGroupProc, 235, host::Severity::Error, "PS too large"}}});
    EXPECT_EQ(vlcwght(run), 1);
    EXPECT_EQ(logged(235), 1);
    EXPECT_EQ(run.status, 112);
}

TEST_F(WeightsTest, AllObservationsStatisticsWithFrequencies) {
    // x: treated 1 (f 2), 4 (f 1); controls 2 (f 1), 3 (f 3). Indicator: treated 1, 0;
    // controls 1, 0. Third value constant 7. Second indicator: first level never among
    // controls.
    build({{0.6, 1, 2.0, {1.0, 7.0}, {1.0, 1.0}},
           {0.7, 1, 1.0, {4.0, 7.0}, {0.0, 0.0}},
           {0.2, 0, 1.0, {2.0, 7.0}, {1.0, 0.0}},
           {0.4, 0, 3.0, {3.0, 7.0}, {0.0, 0.0}}},
          2, 2);
    ASSERT_EQ(vlcwght(run), 0);
    const SetStats& all = run.balance.sets[kAllObs];
    EXPECT_TRUE(all.present);
    EXPECT_EQ(all.total[kTreated], 3.0);
    EXPECT_EQ(all.total[kControl], 4.0);
    // Treated: mean (2 + 4) / 3 = 2; SS 2 (1 - 2)^2 + (4 - 2)^2 = 6; var 6 / 2 = 3.
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kTreated).mean, 2.0);
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kTreated).var, 3.0);
    // Controls: mean (2 + 9) / 4 = 2.75; SS 0.75^2 + 3 x 0.25^2 = 0.75; var 0.75 / 3.
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kControl).mean, 2.75);
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kControl).var, 0.25);
    EXPECT_DOUBLE_EQ(all.slots[0].s, std::sqrt((3.0 + 0.25) / 2));
    EXPECT_EQ(stat(kAllObs, 0, kTreated).min, 1.0);
    EXPECT_EQ(stat(kAllObs, 0, kTreated).max, 4.0);
    EXPECT_EQ(stat(kAllObs, 0, kControl).min, 2.0);
    EXPECT_EQ(stat(kAllObs, 0, kControl).max, 3.0);
    // Ranges over [1, 4]: 10% and 1% of 3 on each side.
    EXPECT_DOUBLE_EQ(run.balance.wideLo[0], 0.7);
    EXPECT_DOUBLE_EQ(run.balance.wideHi[0], 4.3);
    EXPECT_DOUBLE_EQ(run.balance.narrowLo[0], 0.97);
    EXPECT_DOUBLE_EQ(run.balance.narrowHi[0], 4.03);
    // A constant: ranges [7, 7].
    EXPECT_EQ(run.balance.wideLo[1], 7.0);
    EXPECT_EQ(run.balance.wideHi[1], 7.0);
    EXPECT_EQ(run.balance.narrowLo[1], 7.0);
    // Binary: p_t = 2 / 3, p_c = 1 / 4.
    const SlotStats& bin = run.balance.sets[kAllObs].slots[run.balance.binSlot(0)];
    EXPECT_DOUBLE_EQ(bin.g[kTreated].mean, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(bin.g[kControl].mean, 0.25);
    EXPECT_DOUBLE_EQ(bin.s, std::sqrt((2.0 / 9.0 + 3.0 / 16.0) / 2));
    // Second indicator: p_c = 0, so no variance and no deviation.
    const SlotStats& bin2 = run.balance.sets[kAllObs].slots[run.balance.binSlot(1)];
    EXPECT_EQ(bin2.g[kControl].mean, 0.0);
    EXPECT_TRUE(std::isnan(bin2.g[kControl].var));
    EXPECT_TRUE(std::isnan(bin2.s));
    // PS slot: treated mean (2 x 0.6 + 0.7) / 3; group extremes.
    EXPECT_DOUBLE_EQ(stat(kAllObs, run.balance.psSlot(), kTreated).mean, 1.9 / 3);
    EXPECT_EQ(all.psMin[kControl], 0.2);
    EXPECT_EQ(all.psMax[kTreated], 0.7);

    // The treated deviation alone.
    run.sdTreatedOnly = 1;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_DOUBLE_EQ(run.balance.sets[kAllObs].slots[0].s, std::sqrt(3.0));
}

TEST_F(WeightsTest, WorkingRecordCarriesTheModelRowValues) {
    Row r{0.25, 1, 1.0, {5.5}, {1.0}, {2.0, 3.0}, 42.0, "AB123456"};
    build({r, {0.75, 0, 1.0, {6.5}, {0.0}, {1.0, 1.0}, 43.0, "CD      "}}, 1, 1, 2, true);
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(run.voutExact, 13);
    EXPECT_EQ(run.voutClass, 15);
    EXPECT_EQ(run.voutCont, 16);
    EXPECT_EQ(run.voutIdNum, 19);
    EXPECT_EQ(run.voutIdText, 20);
    EXPECT_EQ(run.voutRecBytes, 8 * 20 + 8);
    auto v = records(*run.vlcvout);
    EXPECT_EQ(v[0][13], 2.0);
    EXPECT_EQ(v[0][14], 3.0);
    EXPECT_EQ(v[0][15], 1.0);
    EXPECT_EQ(v[0][16], 5.5);
    EXPECT_EQ(v[0][17], 0.25);                     // PS after the continuous values
    EXPECT_DOUBLE_EQ(v[0][18], std::log(1.0 / 3)); // LPS
    EXPECT_EQ(v[0][19], 42.0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&v[0][20]), 8), "AB123456");
}

TEST_F(WeightsTest, CaliperWidthAndRegionExtensions) {
    // LPS: treated -1.5, 0, 1.5 (var 2.25); controls -1, 0.5, 2 (var 2.25); pooled sd 1.5.
    build({{-1.5, 1}, {0.0, 1}, {1.5, 1}, {-1.0, 0}, {0.5, 0}, {2.0, 0}});
    run.psSource = kScoreLps;
    run.regionScore = kScoreLps;
    run.caliper = 0.2;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(run.sdLps, 1.5);
    EXPECT_DOUBLE_EQ(run.caliperWidth, 0.3);
    EXPECT_DOUBLE_EQ(run.caliperTestWidth, 0.3 * (1 + 1.110223024625157e-10));
    EXPECT_GT(run.caliperTestWidth, run.caliperWidth);
    // Default extension 0.25 x sdLps on the LPS scale.
    EXPECT_DOUBLE_EQ(run.extendLowerAmt, 0.375);
    EXPECT_DOUBLE_EQ(run.extendUpperAmt, 0.375);

    // A caliper without multiplier is the width itself; on the PS scale it scales by sdPs.
    run.caliperMult = 0;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_EQ(run.caliperWidth, 0.2);
    run.caliperMult = 1;
    run.caliperScale = kScorePs;
    run.regionScore = kScorePs;
    run.extendMult = 0;
    run.extendUpper = 0.1;
    ASSERT_EQ(vlcwght(run), 0);
    EXPECT_DOUBLE_EQ(run.caliperWidth, 0.2 * run.sdPs);
    EXPECT_EQ(run.extendUpperAmt, 0.1);
}

} // namespace
} // namespace velloc::testing

// Score order, the treated and control files, the strata and the way back to observation
// order, on small BY groups whose cuts and counts are worked out by hand.
#include <cmath>
#include <cstdint>

#include "adjust_fixture.h"
#include "driver/message_catalogue.h"
#include "numeric/random.h"

namespace velloc::testing {
namespace {

class StrataTest : public AdjustTest {
  protected:
    // Weights, region, score order and the group files, as the driver runs them.
    void prepare(const std::vector<Row>& rows) {
        build(rows);
        ASSERT_EQ(vlcwght(run), 0);
        ASSERT_EQ(vlcregn(run), 0);
        ASSERT_EQ(vlcsort(run), 0);
        ASSERT_EQ(vlcfile(run), 0);
    }
    // Stratum number per observation number (1-based), NaN outside the region.
    std::vector<double> strataByObs() {
        auto r = records(*run.vlcvout);
        std::vector<double> s(r.size());
        for (const auto& rec : r)
            s[static_cast<std::size_t>(rec[kVoutObs]) - 1] = rec[kVoutStratum];
        return s;
    }
    std::vector<std::int64_t> perStratum(int g) {
        return {run.strataCount[g].begin() + 1, run.strataCount[g].end()};
    }
};

using V = std::vector<std::int64_t>;

TEST_F(StrataTest, SortSplitAndRestore) {
    // Observation order: PS 0.6 T, 0.3 C, 0.4 T, 0.2 C, 0.3 T (tie with obs 2), 0.5 C.
    build({{0.6, 1, 1.0, {6.0}, {1.0}, {2.0}},
           {0.3, 0, 2.0, {3.0}, {0.0}, {1.0}},
           {0.4, 1, 1.0, {4.0}, {1.0}, {1.0}},
           {0.2, 0, 1.0, {2.0}, {1.0}, {2.0}},
           {0.3, 1, 1.0, {3.5}, {0.0}, {1.0}},
           {0.5, 0, 1.0, {5.0}, {0.0}, {2.0}}},
          1, 1, 1);
    run.weightType = kWeightAtt;
    run.matchOrder = kOrderRandom;
    run.seedLive = 1;
    ASSERT_EQ(vlcwght(run), 0);
    ASSERT_EQ(vlcregn(run), 0);
    ASSERT_EQ(vlcsort(run), 0);
    std::vector<double> obs;
    for (const auto& r : records(*run.vlcvout))
        obs.push_back(r[kVoutObs]);
    EXPECT_EQ(obs, (std::vector<double>{4, 2, 5, 3, 6, 1}));

    ASSERT_EQ(vlcfile(run), 0);
    auto t = records(*run.vlctreat);
    auto c = records(*run.vlccntl);
    ASSERT_EQ(t.size(), 3u);
    ASSERT_EQ(c.size(), 3u);
    // A score distance reads no covariates from the group files: the treated records end
    // with their EXACT level, the controls' with their fixed fields.
    EXPECT_EQ(run.vlctreat->recordBytes(), 8u * (15 + 1));
    EXPECT_EQ(run.vlccntl->recordBytes(), 8u * 13);
    // Treated in PS order: obs 5, 3, 1 with ordinals 0, 1, 2.
    EXPECT_EQ(t[0][kTrtObs], 5.0);
    EXPECT_EQ(t[2][kTrtObs], 1.0);
    EXPECT_EQ(t[1][kTrtOrdinal], 1.0);
    EXPECT_EQ(t[2][kTrtPs], 0.6);
    EXPECT_EQ(t[2][kTrtRegion], 1.0);
    EXPECT_EQ(t[0][kTrtAtt], 1.0);
    EXPECT_EQ(t[0][kTrtNMatched], 0.0);
    EXPECT_EQ(t[2][kTrtExact], 2.0); // EXACT level
    // Random keys: the stream x -> 397204094 x mod (2^31 - 1) from state 1.
    const std::uint64_t m = 2147483647, a = 397204094;
    std::uint64_t x = 1;
    for (int i = 0; i < 3; ++i) {
        x = x * a % m;
        EXPECT_EQ(t[static_cast<std::size_t>(i)][kTrtRandom],
                  static_cast<double>(x) / 2147483647.0);
    }
    EXPECT_EQ(run.seedLive, static_cast<std::int64_t>(x));
    // Controls in PS order: obs 4 (0.2), 2 (0.3, f 2), 6 (0.5); ATT weight 0.3 / 0.7.
    EXPECT_EQ(c[1][kCtlPs], 0.3);
    EXPECT_EQ(c[1][kCtlFreq], 2.0);
    EXPECT_DOUBLE_EQ(c[1][kCtlAtt], 0.3 / 0.7);
    EXPECT_EQ(c[1][kCtlRegion], 1.0);
    EXPECT_EQ(c[1][kCtlNTreated], 0.0);
    // The same pass gathers what matching reads of the controls, in control-file order.
    EXPECT_TRUE(run.ctlGathered);
    EXPECT_EQ(run.ctlPs, (std::vector<double>{0.2, 0.3, 0.5}));
    EXPECT_EQ(run.ctlExact, (std::vector<double>{2.0, 1.0, 2.0}));
    EXPECT_TRUE(run.ctlMah.empty());

    // Mahalanobis distances read the treated units' covariates there: the CLASS indicator,
    // the continuous value and the scores follow the EXACT level. The controls' still come
    // from the working file.
    // Their coordinates are the continuous value and, added as a second component, the PS.
    run.distance = kScoreMahalanobis;
    run.mahVars = run.combinedVars;
    run.mahAddPs = 2;
    run.nMahComp = 2;
    setAdjustLayouts(run);
    ASSERT_EQ(vlcfile(run), 0);
    EXPECT_EQ(run.ctlMah, (std::vector<double>{2.0, 0.2, 3.0, 0.3, 5.0, 0.5}));
    EXPECT_EQ(run.ctlPs.size(), 3u);
    t = records(*run.vlctreat);
    EXPECT_EQ(run.vlctreat->recordBytes(), 8u * (15 + 1 + 1 + 1 + 2));
    EXPECT_EQ(run.vlccntl->recordBytes(), 8u * 13);
    EXPECT_EQ(t[2][kTrtExact], 2.0);     // EXACT level
    EXPECT_EQ(t[2][kTrtExact + 1], 1.0); // CLASS indicator
    EXPECT_EQ(t[2][kTrtExact + 2], 6.0); // continuous value
    EXPECT_EQ(t[2][kTrtExact + 3], 0.6); // PS
    run.distance = kScoreLps;
    run.mahVars.clear();
    run.mahAddPs = run.nMahComp = 0;
    setAdjustLayouts(run);

    // Without ORDER=RANDOM no key is drawn.
    run.matchOrder = kOrderDescending;
    const std::int64_t before = run.seedLive;
    ASSERT_EQ(vlcfile(run), 0);
    EXPECT_EQ(run.seedLive, before);
    EXPECT_EQ(records(*run.vlctreat)[0][kTrtRandom], 0.0);

    ASSERT_EQ(vlcback(run), 0);
    obs.clear();
    for (const auto& r : records(*run.vlcvout))
        obs.push_back(r[kVoutObs]);
    EXPECT_EQ(obs, (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST_F(StrataTest, TenDistinctTreatedInFiveStrata) {
    // Treated PS 0.05 i (i = 1..10); targets 2, 4, 6, 8, 10: two treated per stratum, cuts
    // halfway between the 2nd and 3rd, 4th and 5th, ... treated scores.
    std::vector<Row> rows;
    for (int i = 1; i <= 10; ++i)
        rows.push_back({0.05 * i, 1});
    for (double p : {0.07, 0.17, 0.27, 0.37, 0.47})
        rows.push_back({p, 0});
    run.nStrata = 5;
    prepare(rows);
    ASSERT_EQ(vlcstra(run), 0);
    EXPECT_EQ(run.nStrata, 5);
    EXPECT_EQ(run.strataAssess, 1);
    for (int k = 1; k <= 4; ++k)
        EXPECT_DOUBLE_EQ(run.strataBound[k], (0.05 * (2 * k) + 0.05 * (2 * k + 1)) / 2);
    EXPECT_EQ(run.strataBound[0], -DBL_MAX);
    EXPECT_EQ(run.strataBound[5], DBL_MAX);
    EXPECT_EQ(perStratum(1), (V{2, 2, 2, 2, 2}));
    EXPECT_EQ(perStratum(0), (V{1, 1, 1, 1, 1}));
    EXPECT_EQ(perStratum(2), (V{3, 3, 3, 3, 3}));
    EXPECT_EQ(run.strataCumCount[2][5], 15);
    EXPECT_EQ(run.strataLowerPs[1], 0.05);
    EXPECT_EQ(run.strataUpperPs[1], 0.1);
    EXPECT_EQ(run.strataLowerPs[2], 0.05 * 3);
    EXPECT_EQ(run.strataUpperPs[5], 0.05 * 10);
    auto s = strataByObs();
    EXPECT_EQ(s[2], 2.0);  // treated 0.15
    EXPECT_EQ(s[10], 1.0); // control 0.07
    EXPECT_EQ(s[14], 5.0); // control 0.47
    EXPECT_EQ(logged(246) + logged(247), 0);
}

TEST_F(StrataTest, TooFewKeyUnitsForTheTargets) {
    // Three treated units, K = 5: targets 0, 0, 1, 1, 2 repeat at once.
    run.nStrata = 5;
    prepare({{0.2, 1}, {0.3, 1}, {0.4, 1}, {0.25, 0}, {0.35, 0}});
    EXPECT_EQ(vlcstra(run), 1);
    EXPECT_EQ(run.nStrata, 0);
    EXPECT_EQ(logged(241), 1);
    EXPECT_NE(log.str().find(" 5 "), std::string::npos);
    EXPECT_EQ(run.status, 4);

    // All units as key: four units, K = 5.
    run.nStrata = 5;
    run.strataKey = 0;
    prepare({{0.2, 1}, {0.3, 1}, {0.25, 0}, {0.35, 0}});
    EXPECT_EQ(vlcstra(run), 1);
    EXPECT_EQ(logged(240), 1);
}

TEST_F(StrataTest, TiedTreatedAtTheFirstCutStayTogetherAndTargetsAreSpreadAgain) {
    // Treated: 0.1, five at 0.2, 0.3, 0.4, 0.5, 0.6 (N = 10); K = 3, targets 3, 7, 10. The
    // ties carry stratum 1 to 6 units; the rest is spread again: 6 + ceil(j 5 / 2) - 1, i.e.
    // 8 and 10, so the next cut falls between 0.4 and 0.5 (without spreading again it would
    // fall between 0.3 and 0.4). Controls 0.25 and 0.45 equal the cuts and stay below them.
    std::vector<Row> rows = {{0.1, 1}, {0.3, 1}, {0.4, 1}, {0.5, 1}, {0.6, 1}};
    for (int i = 0; i < 5; ++i)
        rows.push_back({0.2, 1});
    for (double p : {0.15, 0.25, 0.3, 0.45, 0.55})
        rows.push_back({p, 0});
    run.nStrata = 3;
    prepare(rows);
    ASSERT_EQ(vlcstra(run), 0);
    EXPECT_EQ(run.strataBound[1], (0.2 + 0.3) / 2);
    EXPECT_EQ(run.strataBound[2], (0.4 + 0.5) / 2);
    EXPECT_EQ(perStratum(1), (V{6, 2, 2}));
    EXPECT_EQ(perStratum(0), (V{2, 2, 1}));
    auto s = strataByObs();
    for (int i = 5; i < 10; ++i)
        EXPECT_EQ(s[static_cast<std::size_t>(i)], 1.0);
    EXPECT_EQ(s[11], 1.0); // control 0.25
    EXPECT_EQ(s[12], 2.0); // control 0.3
    EXPECT_EQ(s[13], 2.0); // control 0.45
    EXPECT_EQ(s[14], 3.0); // control 0.55
}

TEST_F(StrataTest, RecordsOutsideTheRegionHaveNoStratum) {
    // PSMIN=0.08, PSMAX=0.8: the controls at 0.05 and 0.9 lie outside.
    run.regionType = 44;
    run.regionMin = 0.08;
    run.regionMax = 0.8;
    run.nStrata = 2;
    prepare({{0.05, 0}, {0.1, 1}, {0.2, 1}, {0.3, 1}, {0.4, 1}, {0.15, 0}, {0.35, 0}, {0.9, 0}});
    ASSERT_EQ(vlcstra(run), 0);
    auto s = strataByObs();
    EXPECT_TRUE(std::isnan(s[0]));
    EXPECT_TRUE(std::isnan(s[7]));
    EXPECT_EQ(s[5], 1.0);
    EXPECT_EQ(s[6], 2.0);
    EXPECT_EQ(perStratum(0), (V{1, 1}));
    EXPECT_EQ(perStratum(2), (V{3, 3}));
    EXPECT_EQ(run.strataLowerPs[1], 0.1);
    EXPECT_EQ(run.strataUpperPs[2], 0.4);
}

TEST_F(StrataTest, AllUnitsAsKey) {
    // Eight units alternating treated and control, K = 2: targets 4, 8; cut after the 4th.
    std::vector<Row> rows;
    for (int i = 1; i <= 8; ++i)
        rows.push_back({0.1 * i, i % 2});
    run.strataKey = 0;
    run.nStrata = 2;
    prepare(rows);
    ASSERT_EQ(vlcstra(run), 0);
    EXPECT_EQ(run.strataBound[1], (0.1 * 4 + 0.1 * 5) / 2);
    EXPECT_EQ(perStratum(2), (V{4, 4}));
}

TEST_F(StrataTest, StrataWithoutOneGroupOrWithoutEnoughDistinctScores) {
    // Cut at 0.25; both controls above it: stratum 1 has none.
    run.nStrata = 2;
    prepare({{0.1, 1}, {0.2, 1}, {0.3, 1}, {0.4, 1}, {0.35, 0}, {0.38, 0}});
    EXPECT_EQ(vlcstra(run), 0);
    EXPECT_EQ(run.nStrata, 2);
    EXPECT_EQ(run.strataAssess, 0);
    EXPECT_EQ(logged(246), 1);
    EXPECT_EQ(strataByObs()[0], 1.0);

    // Every treated unit at one score: no cut can be placed.
    log.str("");
    run.nStrata = 2;
    prepare({{0.2, 1}, {0.2, 1}, {0.2, 1}, {0.2, 1}, {0.1, 0}, {0.3, 0}});
    EXPECT_EQ(vlcstra(run), 1);
    EXPECT_EQ(run.nStrata, 0);
    EXPECT_EQ(logged(245), 1);
}

TEST_F(StrataTest, LargeGroupOnSpilledFiles) {
    // Files past a small threshold live on disk. 200 treated units with distinct scores and
    // K = 4: targets ceil(201 k / 4) - 1 = 50, 100, 150, 200, so 50 treated per stratum. Each
    // treated unit has a control 0.001 above it, below the next cut (cuts lie 0.002 above a
    // treated score), so in the same stratum.
    const std::size_t saved = host::UtilFile::spillThreshold();
    host::UtilFile::setSpillThreshold(1024);
    std::vector<Row> rows;
    for (int i = 0; i < 200; ++i) {
        // Scrambled observation order: unit i gets score rank (37 i) mod 200.
        const int rank = (37 * i) % 200;
        rows.push_back({0.001 + 0.004 * rank, 1});
        rows.push_back({0.001 + 0.004 * rank + 0.001, 0});
    }
    run.nStrata = 4;
    prepare(rows);
    const int rc = vlcstra(run);
    const int back = vlcback(run);
    const bool spilled = run.vlcvout->spilled();
    host::UtilFile::setSpillThreshold(saved);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(back, 0);
    EXPECT_TRUE(spilled);
    EXPECT_EQ(perStratum(1), (V{50, 50, 50, 50}));
    EXPECT_EQ(perStratum(0), (V{50, 50, 50, 50}));
    auto r = records(*run.vlcvout);
    ASSERT_EQ(r.size(), 400u);
    for (std::size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i][kVoutObs], static_cast<double>(i + 1));
        const int rank = (37 * static_cast<int>(i / 2)) % 200;
        EXPECT_EQ(r[i][kVoutStratum], rank / 50 + 1) << "record " << i;
    }
}

TEST_F(StrataTest, SortFailureEndsTheStepWithTheHostError) {
    // A working file too short to hold the score key cannot be sorted.
    registerCatalogue();
    run.vlcvout->setRecordBytes(16);
    const double rec[2] = {1.0, 1.0};
    run.vlcvout->write(rec);
    int code = 0;
    try {
        vlcsort(run);
    } catch (const host::HostExit& e) {
        code = e.code;
    }
    EXPECT_EQ(code, host::kExitUtilityFile);
    EXPECT_NE(log.str().find("[901-307]"), std::string::npos);
    EXPECT_NE(log.str().find("[901-400]"), std::string::npos);
    run.status = 0;
    EXPECT_EQ(vlcback(run), 0); // the observation number fits: restoring works
}

} // namespace
} // namespace velloc::testing

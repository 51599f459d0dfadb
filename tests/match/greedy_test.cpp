// Greedy and replacement matching on hand-built BY groups: the tie rule, the caliper, K
// passes, replacement weights, exact matching and the restored treated order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

// Runs the matching phases the driver runs after the group files.
int runMatch(MatchGroup& g) {
    VlcRun& r = *g.run;
    int rc = 0;
    if (r.distance == kScoreMahalanobis) rc = vlcxcov(r);
    if (!rc) rc = velloc(r);
    if (!rc) rc = vlccomb(r);
    if (!rc) rc = vlcmend(r);
    return rc;
}

TEST(LogitClamp, ClampsBothEndsAndMakesExtremeScoresTie) {
    EXPECT_EQ(logitClamp(0.0), -22.921290011601805);
    EXPECT_EQ(logitClamp(1.0), 22.921290011601805);
    EXPECT_EQ(logitClamp(1e-12), logitClamp(0.0));
    EXPECT_DOUBLE_EQ(logitClamp(0.75), std::log(3.0));
    EXPECT_EQ(logitClamp(0.5), 0.0);
    // ln((1 - eps) / eps) is the clamp value itself.
    EXPECT_NEAR(std::log((1 - 1.110223024625157e-10) / 1.110223024625157e-10), 22.921290011601805,
                1e-12);
}

TEST(TieRule, AscendingTakesLowerControlDescendingTheHigher) {
    // Treated at 0.5; controls at 0.4 and 0.6 are equally far on the PS scale.
    for (int order : {128, 129}) {
        MatchGroup g;
        g.run->distance = g.run->caliperScale = kScorePs;
        g.run->matchOrder = order;
        g.write({{1, 0, 0.4}, {2, 1, 0.5}, {3, 0, 0.6}, {4, 1, 0.02}, {5, 0, 0.05}});
        ASSERT_EQ(runMatch(g), 0);
        double partner = g.setOf(1) == g.setOf(2) ? 1 : 3;
        EXPECT_EQ(partner, order == 128 ? 1 : 3) << "order " << order;
        EXPECT_NE(g.setOf(2), 0);
    }
}

TEST(TieRule, LpsScaleDecidesTheNearestControl) {
    // Treated 0.8: on the PS scale 0.89 is nearer (0.09 against 0.1), on the logit scale 0.7
    // is (0.539 against 0.705).
    MatchGroup g;
    g.write({{1, 0, 0.7}, {2, 1, 0.8}, {3, 0, 0.89}, {4, 1, 0.1}, {5, 0, 0.1}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(2));
    EXPECT_EQ(g.setOf(3), 0);
    EXPECT_NEAR(g.run->totalDistance, std::log(4.0) - std::log(0.7 / 0.3), 1e-14);
}

// The working file takes every record's results from the treated or the control file: one
// that ends early ends the step with the utility-file status, never leaves records without
// their results.
TEST(Combination, ASideFileThatEndsEarlyEndsTheStep) {
    for (bool shortTreated : {false, true}) {
        SCOPED_TRACE(shortTreated);
        MatchGroup g;
        g.write({{1, 0, 0.4}, {2, 1, 0.5}, {3, 0, 0.6}, {4, 1, 0.3}, {5, 0, 0.35}});
        VlcRun& r = *g.run;
        ASSERT_EQ(velloc(r), 0);
        host::UtilFile& side = shortTreated ? *r.vlctreat : *r.vlccntl;
        const auto recs = g.records(side);
        ASSERT_GE(recs.size(), 2u);
        host::UtilFile cut(side.name(), side.recordBytes());
        for (std::size_t i = 0; i + 1 < recs.size(); ++i)
            ASSERT_EQ(cut.write(recs[i].data()), 0);
        side.swapRecords(cut);
        int code = 0;
        try {
            vlccomb(r);
        } catch (const host::HostExit& e) {
            code = e.code;
        }
        EXPECT_EQ(code, host::kExitUtilityFile);
    }
}

TEST(Greedy, DescendingOrderMatchesLargestScoreFirstAndRestoresOrder) {
    // Treated 0.6 goes first and takes 0.55; treated 0.5 then gets 0.3 (0.55 is used).
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.write({{1, 1, 0.5}, {2, 1, 0.6}, {3, 0, 0.55}, {4, 0, 0.3}, {5, 0, 0.9}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(2), 1);
    EXPECT_EQ(g.setOf(3), 1);
    EXPECT_EQ(g.setOf(1), 2);
    EXPECT_EQ(g.setOf(4), 2);
    EXPECT_EQ(g.setOf(5), 0);
    EXPECT_NEAR(g.run->totalDistance, 0.05 + 0.2, 1e-15);
    // The working file, in ascending PS order, holds the results: both treated units matched.
    for (const auto& w : g.working()) {
        if (w[kVoutTreat] >= 0.5) {
            EXPECT_EQ(w[kVoutRegion], 2.0) << w[kVoutObs];
        }
    }
    // Ascending order: 0.5 first takes 0.55, and 0.6 is left with 0.9 (0.3 away) vs 0.3.
    MatchGroup a;
    a.run->distance = a.run->caliperScale = kScorePs;
    a.run->matchOrder = kOrderAscending;
    a.write({{1, 1, 0.5}, {2, 1, 0.6}, {3, 0, 0.55}, {4, 0, 0.3}, {5, 0, 0.9}});
    ASSERT_EQ(runMatch(a), 0);
    EXPECT_EQ(a.setOf(1), a.setOf(3));
    EXPECT_EQ(a.setOf(2), a.setOf(4)); // 0.9 and 0.3 are both 0.3 away: the lower wins
}

TEST(Greedy, DataAndRandomOrdersSortByTheirKeys) {
    // DATA: observation 9 (PS 0.6) comes after observation 1 (PS 0.5) and loses 0.55.
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.run->matchOrder = kOrderData;
    g.write({{1, 1, 0.5}, {9, 1, 0.6}, {3, 0, 0.55}, {4, 0, 0.3}, {5, 0, 0.85}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(3));
    EXPECT_EQ(g.setOf(9), g.setOf(5));
    // RANDOM: the sort key puts the 0.6 unit first.
    MatchGroup r;
    r.run->distance = r.run->caliperScale = kScorePs;
    r.run->matchOrder = kOrderRandom;
    r.write({{1, 1, 0.5, {}, {}, 1, 0.9},
             {9, 1, 0.6, {}, {}, 1, 0.1},
             {3, 0, 0.55},
             {4, 0, 0.3},
             {5, 0, 0.95}});
    ASSERT_EQ(runMatch(r), 0);
    EXPECT_EQ(r.setOf(9), 1);
    EXPECT_EQ(r.setOf(3), 1);
    EXPECT_EQ(r.setOf(1), r.setOf(4));
}

TEST(Greedy, CaliperTestsOnlyTheNearestAdmissibleControl) {
    // Treated 0.5: nearest control 0.58 is outside a 0.05 PS caliper, so the unit stays
    // unmatched even though nothing closer exists; treated 0.2 matches 0.21.
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.setCaliper(0.05);
    g.write({{1, 1, 0.5}, {2, 0, 0.58}, {3, 1, 0.2}, {4, 0, 0.21}, {5, 0, 0.9}});
    LogCapture log;
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(log.count("[1049-250]"), 1);
    EXPECT_EQ(g.run->status, 4);
    EXPECT_EQ(g.setOf(1), 0);
    EXPECT_EQ(g.setOf(3), g.setOf(4));
    auto w = *g.workRec(1);
    EXPECT_TRUE(std::isnan(w[kVoutMatchAtt]));
    EXPECT_TRUE(std::isnan(w[kVoutMatchSet]));
    EXPECT_EQ(w[kVoutRegion], 1.0);
}

TEST(Greedy, CaliperWidthItselfPassesWithTheTolerance) {
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.setCaliper(0.25);
    g.write({{1, 1, 0.5}, {2, 0, 0.75}, {3, 1, 0.1}, {4, 0, 0.05}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(2)); // |0.75 - 0.5| = 0.25 exactly
}

TEST(Greedy, NoControlInAnyCaliperFailsTheGroup) {
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.setCaliper(0.01);
    g.write({{1, 1, 0.5}, {2, 0, 0.7}, {3, 1, 0.6}, {4, 0, 0.2}});
    LogCapture log;
    VlcRun& r = *g.run;
    EXPECT_EQ(velloc(r), kMatchNone);
    EXPECT_EQ(log.count("[1049-249]"), 1);
    EXPECT_EQ(r.matchActive, 0);
    // No unit has a set where matching leaves the sets (one number per treated unit and
    // per control).
    ASSERT_EQ(r.trtSetId.size(), 2u);
    ASSERT_EQ(r.ctlSetId.size(), 2u);
    EXPECT_EQ(std::count(r.trtSetId.begin(), r.trtSetId.end(), 0),
              static_cast<std::ptrdiff_t>(r.trtSetId.size()));
    EXPECT_EQ(std::count(r.ctlSetId.begin(), r.ctlSetId.end(), 0),
              static_cast<std::ptrdiff_t>(r.ctlSetId.size()));
}

TEST(Greedy, SecondPassGivesTheFirstTreatedUnitTheLastControl) {
    // K=2, two treated units and three controls: the first pass gives each treated unit a
    // control; in the second the first treated unit (largest PS) takes the remaining one.
    MatchGroup g;
    g.run->k = 2;
    g.write({{1, 1, 0.4}, {2, 1, 0.6}, {3, 0, 0.35}, {4, 0, 0.62}, {5, 0, 0.5}});
    LogCapture log;
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(log.count("[1049-251]"), 1);
    EXPECT_EQ(g.run->matchStatus, kMatchSomeUnmatched);
    EXPECT_EQ(g.setOf(2), g.setOf(4));
    EXPECT_EQ(g.setOf(2), g.setOf(5));
    EXPECT_EQ(g.setOf(1), g.setOf(3));
    auto t2 = *g.workRec(2), c5 = *g.workRec(5), t1 = *g.workRec(1);
    EXPECT_EQ(t2[kVoutMatchAtt], 1.0);
    EXPECT_EQ(t2[kVoutMatchAte], 2.0 / 1.0 + 1.0);
    EXPECT_EQ(c5[kVoutMatchAtt], 0.5);
    EXPECT_EQ(c5[kVoutMatchAte], 1.5);
    EXPECT_EQ(t1[kVoutMatchAte], 2.0);
}

TEST(Replace, ControlUsedThreeTimesWeighsThree) {
    // Three treated units around one control; another control far away.
    MatchGroup g;
    g.run->method = kMethodReplace;
    g.run->withReplacement = 1;
    g.run->matchOrder = kOrderDescending;
    g.run->nLargestMatchWgt = 2;
    g.write({{1, 1, 0.49},
             {2, 1, 0.5},
             {3, 1, 0.51},
             {4, 0, 0.5},
             {5, 0, 0.1},
             {6, 1, 0.12},
             {7, 0, 0.9}});
    ASSERT_EQ(runMatch(g), 0);
    auto c = *g.workRec(4);
    EXPECT_EQ(c[kVoutMatchAtt], 3.0);
    EXPECT_EQ(c[kVoutMatchAte], 4.0);
    for (double obs : {1, 2, 3}) {
        auto t = *g.workRec(obs);
        EXPECT_EQ(t[kVoutMatchSet], c[kVoutMatchSet]);
        EXPECT_DOUBLE_EQ(t[kVoutMatchAte], 1.0 / 3.0 + 1.0);
    }
    EXPECT_EQ(g.run->nSets, 2);
    EXPECT_EQ(g.setOf(7), 0);
    // The controls' most-matched list: control 4 (3 treated), then control 5 (1).
    const auto& list = g.run->mostMatched[kControl];
    EXPECT_EQ(list.obs[0], 4);
    EXPECT_EQ(list.value[0], 3);
    EXPECT_EQ(list.obs[1], 5);
    EXPECT_EQ(g.run->mostMatched[kTreated].value[0], -1); // REPLACE: no treated list
}

TEST(Replace, EqualCountsKeepWorkingFileOrderInTheList) {
    // Controls a < b < c serve 3, 1 and 3 treated units; NMATCHMOST=2 lists a then c.
    MatchGroup g;
    g.run->method = kMethodReplace;
    g.run->withReplacement = 1;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.run->nLargestMatchWgt = 2;
    g.write({{10, 0, 0.2},
             {11, 1, 0.2},
             {12, 1, 0.201},
             {13, 1, 0.199},
             {20, 0, 0.5},
             {21, 1, 0.5},
             {30, 0, 0.8},
             {31, 1, 0.8},
             {32, 1, 0.801},
             {33, 1, 0.799}});
    ASSERT_EQ(runMatch(g), 0);
    const auto& list = g.run->mostMatched[kControl];
    EXPECT_EQ(list.obs[0], 10);
    EXPECT_EQ(list.obs[1], 30);
    EXPECT_EQ(list.value[1], 3);
}

TEST(Replace, MultipleControlsMergeSetsAndShareWeights) {
    // K=2 with replacement, ascending order (no reordering with REPLACE anyway).
    // Treated units in ascending PS order:
    // A (0.30) takes c1 (0.31) and c2 (0.28): set 1.
    // C (0.45) takes c5 (0.455), set 2, then c4 (0.58, 0.13 away; c1 is 0.14 away): set 2.
    // B (0.60) takes c3 (0.61), a new set 3, then c4 of set 2: sets 2 and 3 merge into 2.
    MatchGroup g;
    g.run->method = kMethodReplace;
    g.run->withReplacement = 1;
    g.run->multipleK = 1;
    g.run->k = 2;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.write({{1, 1, 0.30},
             {2, 1, 0.60},
             {3, 1, 0.45},
             {11, 0, 0.31},
             {12, 0, 0.28},
             {13, 0, 0.61},
             {14, 0, 0.58},
             {15, 0, 0.455}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.run->nSets, 2);
    EXPECT_EQ(g.setOf(1), 1);
    EXPECT_EQ(g.setOf(11), 1);
    EXPECT_EQ(g.setOf(12), 1);
    for (double obs : {2, 3, 13, 14, 15})
        EXPECT_EQ(g.setOf(obs), 2) << obs;
    // Control 14 serves B and C, each with two controls: 1/2 + 1/2.
    EXPECT_DOUBLE_EQ((*g.workRec(14))[kVoutMatchAtt], 1.0);
    EXPECT_DOUBLE_EQ((*g.workRec(15))[kVoutMatchAtt], 0.5);
    EXPECT_DOUBLE_EQ((*g.workRec(15))[kVoutMatchAte], 1.5);
    // Treated C's set holds 2 treated units and 3 controls.
    EXPECT_DOUBLE_EQ((*g.workRec(3))[kVoutMatchAte], 3.0 / 2.0 + 1.0);
}

TEST(Exact, DifferenceOfExactlyPointOnePassesAndMoreFails) {
    MatchGroup g(1);
    g.run->distance = g.run->caliperScale = kScorePs;
    g.write({{1, 1, 0.5, {0.1}},
             {2, 0, 0.51, {0.0}},
             {3, 1, 0.3, {0.2000001}},
             {4, 0, 0.31, {0.1}},
             {5, 0, 0.9, {5.0}}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(2));
    EXPECT_EQ(g.setOf(3), 0); // 0.1000001 away from control 4; control 2 is already used
    EXPECT_EQ(g.setOf(4), 0);
}

TEST(Region, TreatedOutsideTheRegionIsNeverMatched) {
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.run->regionLower = 0.2;
    g.run->regionUpper = 0.8;
    g.write({{1, 1, 0.9, {}, {}, 1, 0, 0.0},
             {2, 0, 0.88, {}, {}, 1, 0, 0.0},
             {3, 1, 0.5},
             {4, 0, 0.45},
             {5, 0, 0.1, {}, {}, 1, 0, 0.0}});
    ASSERT_EQ(runMatch(g), 0);
    EXPECT_EQ(g.setOf(1), 0);
    EXPECT_EQ(g.setOf(2), 0);
    EXPECT_EQ(g.setOf(3), g.setOf(4));
}

TEST(MatchStats, MatchedSampleMeansAndWeightedMeans) {
    // Continuous x; treated 1 (x 2) matched to control 3 (x 4), treated 2 (x 6) matched to
    // control 4 (x 10); control 5 unmatched (x 100). Frequencies 1 except control 4 (2).
    MatchGroup g(0, 1);
    g.run->distance = g.run->caliperScale = kScorePs;
    g.run->weightType = kWeightMatch;
    g.write({{1, 1, 0.3, {}, {2}},
             {2, 1, 0.7, {}, {6}},
             {3, 0, 0.31, {}, {4}},
             {4, 0, 0.69, {}, {10}, 2.0},
             {5, 0, 0.95, {}, {100}}});
    ASSERT_EQ(runMatch(g), 0);
    const SetStats& m = g.run->balance.sets[kMatch];
    const GroupStats& xt = m.slots[0].g[kTreated];
    const GroupStats& xc = m.slots[0].g[kControl];
    EXPECT_EQ(m.total[kTreated], 2);
    EXPECT_EQ(m.total[kControl], 3);
    EXPECT_DOUBLE_EQ(xt.mean, 4.0);
    EXPECT_DOUBLE_EQ(xt.var, 8.0);  // (4 + 4) / 1
    EXPECT_DOUBLE_EQ(xc.mean, 8.0); // (4 + 2 * 10) / 3
    EXPECT_DOUBLE_EQ(xc.var, (16.0 + 2 * 4.0) / 2.0);
    EXPECT_EQ(xc.min, 4);
    EXPECT_EQ(xc.max, 10);
    EXPECT_DOUBLE_EQ(m.slots[0].s, std::sqrt((8.0 + 12.0) / 2.0));
    // MatchWgt: control weights t/c = 1, so v = f; treated weight 1.
    const SetStats& w = g.run->balance.sets[kFourth];
    EXPECT_EQ(g.run->balance.fourth, kMatchWgt);
    EXPECT_DOUBLE_EQ(w.slots[0].g[kControl].wtotal, 3.0);
    EXPECT_DOUBLE_EQ(w.slots[0].g[kControl].mean, 8.0);
    EXPECT_EQ(m.psMax[kControl], 0.69);
}

} // namespace
} // namespace velloc::testing

// The optimal methods on small hand-worked BY groups: the number of controls to match and its
// limits, partial fixed-ratio matches, infeasible full matching, empty caliper windows, the
// sets written back, and running out of memory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <fstream>
#include <string>

#include "match/match.h"
#include "match/optimal.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

void countRegion(MatchGroup& g, const std::vector<Unit>& units) {
    for (const Unit& u : units)
        (u.treated ? g.run->nRegionTreated : g.run->nRegionControl) += u.status >= 0.5;
}

MatchGroup optimalGroup(int ratio, const std::vector<Unit>& units) {
    MatchGroup g;
    g.run->method = kMethodOptimal;
    g.run->ratioType = ratio;
    g.run->distance = g.run->caliperScale = kScorePs;
    g.write(units);
    countRegion(g, units);
    return g;
}

TEST(ControlsToMatch, DefaultsAndLimitOptions) {
    MatchGroup g;
    VlcRun& r = *g.run;
    g.write({{1, 1, 0.5}, {2, 0, 0.1}, {3, 0, 0.2}, {4, 0, 0.3}});
    r.nRegionTreated = 5;
    r.ratioType = kRatioVariable;
    r.kMin = 1, r.kMax = 3;
    EXPECT_EQ(controlsToMatch(r), 10); // ceil(5 x (3 + 1) / 2)
    r.kMin = 1, r.kMax = 2;
    EXPECT_EQ(controlsToMatch(r), 8); // ceil(7.5)
    r.ratioType = kRatioFull;
    r.kMax = 3, r.kMaxTreated = 3;
    EXPECT_EQ(controlsToMatch(r), 9); // ceil(5 x (3 + 1/3) / 2) = ceil(8.33)
    r.kMax = 2, r.kMaxTreated = 1;
    EXPECT_EQ(controlsToMatch(r), 8); // ceil(5 x 3 / 2)
    r.kMaxTreated = 2;
    EXPECT_EQ(controlsToMatch(r), 7); // ceil(5 x 2.5 / 2) = ceil(6.25)
    r.controlLimitType = 1, r.kMean = 1.3;
    EXPECT_EQ(controlsToMatch(r), 7); // ceil(6.5)
    r.nRegionTreated = 10, r.kMean = 1.1;
    EXPECT_EQ(controlsToMatch(r), 11); // 10 x 1.1 is 11.000000000000002 in binary
    r.nRegionTreated = 5;
    r.controlLimitType = 2, r.pctControl = 50;
    EXPECT_EQ(controlsToMatch(r), 2); // ceil(3 x 0.5), all controls of the group
    r.controlLimitType = 3, r.nControlLimit = 4;
    EXPECT_EQ(controlsToMatch(r), 4);
}

TEST(ControlsToMatch, MoreThanTheRegionHoldsIsCutWithAWarning) {
    // PCTCONTROL=50 of 9 controls asks for 5; 4 controls are in the region.
    std::vector<Unit> units = {{1, 1, 0.30}, {2, 1, 0.50}, {3, 1, 0.70}};
    double ps[9] = {0.28, 0.33, 0.49, 0.72, 0.05, 0.06, 0.07, 0.08, 0.09};
    for (int j = 0; j < 9; ++j)
        units.push_back({10.0 + j, 0, ps[j], {}, {}, 1, 0, j < 4 ? 1.0 : 0.0});
    MatchGroup g = optimalGroup(113, units);
    VlcRun& r = *g.run;
    r.kMin = 1, r.kMax = 2;
    r.controlLimitType = 2, r.pctControl = 50;
    LogCapture log;
    ASSERT_EQ(velloc(r), 0);
    EXPECT_EQ(log.count("[1049-258]"), 1);
    EXPECT_EQ(r.nControlsToMatch, 4);
    EXPECT_GE(r.status, 4);
    // One treated unit gets two controls at least cost: 0.30 takes 0.28 and 0.33 (0.07),
    // 0.50 takes 0.49 and 0.70 takes 0.72; total 0.02 + 0.03 + 0.01 + 0.02.
    EXPECT_NEAR(r.totalDistance, 0.08, 1e-12);
    EXPECT_EQ(r.setCtlCount[r.trtSetId[0]], 2);
}

TEST(ControlsToMatch, CountsThatCannotBeMetStopMatching) {
    std::vector<Unit> units;
    for (int i = 0; i < 7; ++i)
        units.push_back({1.0 + i, 1, 0.1 + 0.1 * i});
    for (int j = 0; j < 8; ++j)
        units.push_back({20.0 + j, 0, 0.12 + 0.1 * j});
    struct Want {
        int ratio, kMin, kMax, kMaxTreated;
        std::int64_t n;
        const char* id;
    } cases[] = {
        {114, 1, 2, 2, 3, "[1049-261]"}, // 3 x 2 < 7 treated units
        {113, 1, 1, 1, 8, "[1049-259]"}, // 8 > KMAX 1 x 7
        {113, 2, 3, 1, 8, "[1049-260]"}, // 8 < KMIN 2 x 7
    };
    for (const Want& w : cases) {
        MatchGroup g = optimalGroup(w.ratio, units);
        VlcRun& r = *g.run;
        r.kMin = w.kMin, r.kMax = w.kMax, r.kMaxTreated = w.kMaxTreated;
        r.controlLimitType = 3, r.nControlLimit = w.n;
        LogCapture log;
        EXPECT_EQ(velloc(r), kMatchNone) << w.id;
        EXPECT_EQ(log.count(w.id), 1) << log.text();
        EXPECT_EQ(log.count("[1049-249]"), 1);
        EXPECT_EQ(r.matchActive, 0);
        EXPECT_GE(r.status, 4);
    }
}

TEST(FixedRatio, TooFewControlsGivesTheLargestCheapestPartialMatch) {
    // K = 2, four treated units, six controls: six of the eight copies can be served.
    std::vector<Unit> units = {{1, 1, 0.20}, {2, 1, 0.40}, {3, 1, 0.60}, {4, 1, 0.80},
                               {5, 0, 0.21}, {6, 0, 0.23}, {7, 0, 0.41}, {8, 0, 0.44},
                               {9, 0, 0.61}, {10, 0, 0.62}};
    MatchGroup g = optimalGroup(112, units);
    VlcRun& r = *g.run;
    r.k = 2;
    LogCapture log;
    ASSERT_EQ(velloc(r), 0);
    EXPECT_EQ(r.matchStatus, kMatchSomeUnmatched);
    EXPECT_EQ(log.count("[1049-251]"), 1);
    // Each of the first three takes its two nearest: 0.01 + 0.03, 0.01 + 0.04, 0.01 + 0.02;
    // any plan that serves the 0.80 unit costs more.
    EXPECT_NEAR(r.totalDistance, 0.12, 1e-12);
    EXPECT_EQ(r.nSets, 3);
    EXPECT_EQ(r.trtSetId[3], 0);
    ASSERT_EQ(vlccomb(r), 0);
    EXPECT_EQ(g.setOf(4), 0);
    EXPECT_EQ(g.setOf(5), g.setOf(1));
    EXPECT_EQ(g.setOf(6), g.setOf(1));
    EXPECT_EQ(g.setOf(10), g.setOf(3));
    // A treated unit with two controls: ATE weight 2/1 + 1, each control 1/2.
    EXPECT_DOUBLE_EQ(g.workRec(2)->at(kVoutMatchAte), 3.0);
    EXPECT_DOUBLE_EQ(g.workRec(7)->at(kVoutMatchAtt), 0.5);
}

TEST(FixedRatio, OneToOneIsTheMinimumWeightMatchingNotTheGreedyOne) {
    // Treated 0.50 and 0.56, controls 0.54 and 0.60 (PS distance). Greedy, largest score
    // first, gives 0.56 its nearest 0.54 (0.02) and leaves 0.60 to 0.50 (0.10): 0.12. The
    // other perfect matching, 0.50-0.54 and 0.56-0.60, costs 0.04 + 0.04 = 0.08.
    std::vector<Unit> units = {{1, 1, 0.50}, {2, 1, 0.56}, {3, 0, 0.54}, {4, 0, 0.60}};
    MatchGroup g = optimalGroup(112, units);
    ASSERT_EQ(velloc(*g.run), 0);
    EXPECT_EQ(g.run->matchStatus, 0);
    EXPECT_NEAR(g.run->totalDistance, 0.08, 1e-12);
    ASSERT_EQ(vlccomb(*g.run), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(3));
    EXPECT_EQ(g.setOf(2), g.setOf(4));
    EXPECT_NE(g.setOf(1), g.setOf(2));
}

TEST(FullMatching, CompetingForTooFewControlsExplainsWhatToChange) {
    // Three treated units all within the caliper of one control only.
    std::vector<Unit> units = {{1, 1, 0.50}, {2, 1, 0.51}, {3, 1, 0.52}, {4, 0, 0.505},
                               {5, 0, 0.10}, {6, 0, 0.90}, {7, 0, 0.95}};
    MatchGroup g = optimalGroup(114, units);
    VlcRun& r = *g.run;
    r.kMax = 1, r.kMaxTreated = 1;
    r.controlLimitType = 3, r.nControlLimit = 3;
    g.setCaliper(0.05);
    LogCapture log;
    EXPECT_EQ(velloc(r), kMatchNoSolution);
    EXPECT_EQ(log.count("[1049-254]"), 1);
    std::string text = log.text();
    for (const char* hint : {"CALIPER=", "KMAXTREATED=", "VARRATIO"})
        EXPECT_NE(text.find(hint), std::string::npos) << hint;
    EXPECT_EQ(r.matchActive, 0);
    // No matches where matches were asked for: the step must not end as a clean run.
    EXPECT_EQ(r.status, 4);

    // KMAXTREATED=3 lets the one control take all three.
    MatchGroup h = optimalGroup(114, units);
    h.run->kMax = 1, h.run->kMaxTreated = 3;
    h.run->controlLimitType = 3, h.run->nControlLimit = 1;
    h.setCaliper(0.05);
    ASSERT_EQ(velloc(*h.run), 0);
    EXPECT_EQ(h.run->nSets, 1);
    EXPECT_EQ(h.run->setTrtCount[1], 3);
    EXPECT_NEAR(h.run->totalDistance, 0.005 + 0.005 + 0.015, 1e-12);
}

TEST(VariableRatio, EmptyCaliperWindowLeavesOnlyThatUnitUnmatched) {
    std::vector<Unit> units = {{1, 1, 0.30}, {2, 1, 0.50}, {3, 1, 0.95}, {4, 0, 0.29},
                               {5, 0, 0.32}, {6, 0, 0.49}, {7, 0, 0.52}};
    MatchGroup g = optimalGroup(113, units);
    VlcRun& r = *g.run;
    r.kMin = 1, r.kMax = 2;
    r.controlLimitType = 3, r.nControlLimit = 4;
    g.setCaliper(0.05);
    ASSERT_EQ(velloc(r), 0);
    EXPECT_EQ(r.nSets, 2);
    EXPECT_EQ(r.trtSetId[2], 0);
    EXPECT_NEAR(r.totalDistance, 0.01 + 0.02 + 0.01 + 0.02, 1e-12);
    // The feasibility check counts the unit in the region that went without.
    EXPECT_EQ(vlcfeas(r), 1);
}

TEST(VariableRatio, TwoTreatedUnitsForOneControlExplainWhatToChange) {
    // 0.50 and 0.51 both reach only 0.505; a control serves one treated unit here.
    std::vector<Unit> units = {{1, 1, 0.50}, {2, 1, 0.51}, {3, 0, 0.505}, {4, 0, 0.90}};
    MatchGroup g = optimalGroup(113, units);
    VlcRun& r = *g.run;
    r.kMin = 1, r.kMax = 1;
    r.controlLimitType = 3, r.nControlLimit = 2;
    g.setCaliper(0.05);
    LogCapture log;
    EXPECT_EQ(velloc(r), kMatchNoSolution);
    EXPECT_EQ(log.count("[1049-253]"), 1);
    const std::string text = log.text();
    for (const char* hint : {"CALIPER=", "KMIN=", "METHOD=FULL"})
        EXPECT_NE(text.find(hint), std::string::npos) << hint;
    EXPECT_EQ(r.matchActive, 0);
    EXPECT_EQ(r.status, 4);
}

TEST(GrowArray, GrowsByDoublingAndReportsExhaustion) {
    GrowArray<double> a;
    for (int i = 0; i < 1000; ++i)
        a.push(i);
    EXPECT_EQ(a.size(), 1000);
    EXPECT_EQ(a[999], 999);
    EXPECT_THROW(a.reserve(std::int64_t(1) << 60), std::bad_alloc);
    EXPECT_EQ(a[500], 500); // intact after the failed growth
}

// Address space left for the test: what the process maps now plus this much.
class AddressLimit {
  public:
    explicit AddressLimit(std::size_t extra) {
        getrlimit(RLIMIT_AS, &old_);
        std::ifstream statm("/proc/self/statm");
        std::size_t pages = 0;
        statm >> pages;
        rlimit lim = old_;
        lim.rlim_cur = pages * 4096 + extra;
        active_ = setrlimit(RLIMIT_AS, &lim) == 0;
    }
    ~AddressLimit() { setrlimit(RLIMIT_AS, &old_); }
    bool active() const { return active_; }

  private:
    rlimit old_{};
    bool active_ = false;
};

TEST(FixedRatio, RunningOutOfMemoryEndsTheGroupWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with AddressSanitizer's shadow";
#endif
    // 1,500 x 3,000 units without a caliper: 4.5 million pairs, 72 MB of pair list.
    std::vector<Unit> units;
    for (int i = 0; i < 4500; ++i)
        units.push_back({1.0 + i, i < 1500, 0.05 + 0.9 * ((i * 7919) % 4500) / 4500.0});
    MatchGroup g = optimalGroup(112, units);
    g.run->pairListLimit = std::int64_t{1} << 40; // listed, as a group with these pairs was
    LogCapture log;
    int rc;
    {
        AddressLimit limit(48u << 20);
        ASSERT_TRUE(limit.active());
        rc = velloc(*g.run);
    }
    EXPECT_EQ(rc, kMatchNoMemory);
    EXPECT_EQ(log.count("[1049-248]"), 1);
    EXPECT_EQ(g.run->matchActive, 0);
}

} // namespace
} // namespace velloc::testing

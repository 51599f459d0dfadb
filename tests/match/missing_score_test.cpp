// A control without a score (missing PS) never reaches a distance, a caliper or a match: the
// greedy search, the caliper test, the pair test of the optimal methods and the Mahalanobis
// covariance all pass over it. Missing scores sort first in the control array.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

const double kMissing = std::numeric_limits<double>::quiet_NaN();

int runMatch(MatchGroup& g) {
    VlcRun& r = *g.run;
    int rc = 0;
    if (r.distance == kScoreMahalanobis) rc = vlcxcov(r);
    if (!rc) rc = velloc(r);
    if (!rc) rc = vlccomb(r);
    if (!rc) rc = vlcmend(r);
    return rc;
}

TEST(MissingScore, HasNoLogitAndFailsAnyCaliper) {
    EXPECT_TRUE(std::isnan(logitClamp(kMissing)));
    MatchGroup g;
    g.setCaliper(0.25);
    EXPECT_FALSE(caliperPass(*g.run, kMissing));
    EXPECT_TRUE(caliperPass(*g.run, 0.25));
    EXPECT_FALSE(caliperPass(*g.run, 0.2501));
    g.run->caliperOn = 0;
    EXPECT_TRUE(caliperPass(*g.run, kMissing)); // no caliper asked: nothing to fail
}

// Units in the order the score sort leaves them: missing scores first, then ascending.
TEST(MissingScore, GreedyNeverTakesAControlWithoutScore) {
    for (int distance : {100, 101}) {
        for (int order : {128, 129}) {
            for (bool caliper : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "distance " << distance << " order " << order
                                                  << " caliper " << caliper);
                MatchGroup g(1);
                g.run->distance = g.run->caliperScale = distance;
                g.run->matchOrder = order;
                if (caliper) g.setCaliper(5.0); // wide enough for every scored pair
                // Treated 3 (0.31, level 0) has no scored control of its level: the control
                // without a score (level 0) is the only one its exact level admits.
                g.write({{1, 0, kMissing, {0}},
                         {2, 0, 0.30, {1}},
                         {3, 1, 0.31, {0}},
                         {4, 1, 0.60, {1}},
                         {5, 0, 0.62, {1}}});
                LogCapture log;
                ASSERT_EQ(runMatch(g), 0) << log.text();
                EXPECT_EQ(g.setOf(1), 0);
                EXPECT_EQ(g.setOf(3), 0);
                EXPECT_NE(g.setOf(4), 0);
                EXPECT_EQ(g.setOf(4), g.setOf(5));
                EXPECT_EQ(g.setOf(2), 0);
                // Only the pair 4-5 counts: |0.60 - 0.62| on its scale.
                const double want =
                    distance == kScorePs ? 0.02 : std::fabs(logitClamp(0.60) - logitClamp(0.62));
                EXPECT_NEAR(g.run->totalDistance, want, 1e-12);
            }
        }
    }
}

TEST(MissingScore, GreedySearchStartsAfterTheMissingScores) {
    // Many controls without a score ahead of the scored ones: the nearest scored control wins,
    // whichever side of the treated score it lies on.
    MatchGroup g;
    g.run->distance = g.run->caliperScale = kScorePs;
    std::vector<Unit> units;
    for (int i = 1; i <= 6; ++i)
        units.push_back({static_cast<double>(i), 0, kMissing});
    units.push_back({7, 1, 0.05});
    units.push_back({8, 0, 0.2});
    units.push_back({9, 0, 0.5});
    units.push_back({10, 1, 0.55});
    g.write(units);
    LogCapture log;
    ASSERT_EQ(runMatch(g), 0) << log.text();
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(g.setOf(i), 0) << i;
    EXPECT_NE(g.setOf(7), 0);
    EXPECT_EQ(g.setOf(7), g.setOf(8));
    EXPECT_EQ(g.setOf(10), g.setOf(9));
    EXPECT_NEAR(g.run->totalDistance, 0.15 + 0.05, 1e-12);
}

TEST(MissingScore, IsNoPairOfTheOptimalMethods) {
    MatchGroup g;
    g.write({{1, 0, kMissing}, {2, 1, 0.4}, {3, 0, 0.45}});
    VlcRun& r = *g.run;
    r.ctlPs = {kMissing, 0.45};
    r.trtRec = g.treated()[0];
    double d = -1.0;
    EXPECT_EQ(vlcmobs(r, 0, d), 1);
    EXPECT_EQ(d, -1.0);
    ASSERT_EQ(vlcmobs(r, 1, d), 0);
    EXPECT_NEAR(d, std::fabs(logitClamp(0.4) - logitClamp(0.45)), 1e-15);
    // The caliper window of a missing treated score is empty.
    r.caliperOn = 1;
    r.caliperWidth = 1.0;
    int first = -1, last = -1;
    EXPECT_EQ(vlcidlu(kMissing, r, r.ctlPs.data(), 2, first, last), 1);
    ASSERT_EQ(vlcidlu(0.4, r, r.ctlPs.data(), 2, first, last), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 1);
}

TEST(MissingScore, LeavesTheMahalanobisCovarianceAlone) {
    // Controls 2, 4, 6 with x = 1, 2, 4: mean 7/3, sum of squared deviations
    // 16/9 + 1/9 + 25/9 = 42/9, so the control variance is 7/3 and the distance matrix 3/7.
    // A control without a score (x = 100) must not change it.
    std::vector<Unit> scored = {
        {2, 0, 0.2, {}, {1}}, {3, 1, 0.3, {}, {1.5}}, {4, 0, 0.4, {}, {2}},
        {5, 1, 0.5, {}, {3}}, {6, 0, 0.6, {}, {4}},
    };
    std::vector<Unit> all = scored;
    all.insert(all.begin(), Unit{1, 0, kMissing, {}, {100}});
    MatchGroup g(0, 1);
    g.mahalanobis({0}, 0, 0, 104);
    g.write(all);
    g.run->nControl = 3; // the group counts leave out a row without a score
    setGroupMeans(g, scored);
    LogCapture log;
    ASSERT_EQ(vlcxcov(*g.run), 0) << log.text();
    ASSERT_EQ(g.run->mahTri3.size(), 1u);
    EXPECT_NEAR(g.run->mahTri3[0], 3.0 / 7.0, 1e-14);
}

} // namespace
} // namespace velloc::testing

// The Mahalanobis covariance, its inversion with singular pivots, and the pair test of the
// optimal methods.
#include <gtest/gtest.h>

#include <cmath>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

// Sets the all-observations group means of the listed covariates.
void setMeans(MatchGroup& g, int slot, double control, double treated) {
    auto& s = g.run->balance.sets[kAllObs].slots[slot];
    s.g[kControl].mean = control;
    s.g[kTreated].mean = treated;
}

TEST(Mahalanobis, ControlCovarianceInverse) {
    // Controls (1,2), (2,1), (3,4), (4,3): mean (2.5, 2.5), cross-products [[5,3],[3,5]],
    // covariance /3, inverse (9/16) [[5/3,-1],[-1,5/3]] = [[15,-9],[-9,15]] / 16.
    MatchGroup g(0, 2);
    g.mahalanobis({0, 1}, 0, 0, 104);
    setMeans(g, 0, 2.5, 0.0);
    setMeans(g, 1, 2.5, 0.0);
    g.write({{1, 0, 0.1, {}, {1, 2}},
             {2, 0, 0.2, {}, {2, 1}},
             {3, 0, 0.3, {}, {3, 4}},
             {4, 0, 0.4, {}, {4, 3}},
             {5, 1, 0.5, {}, {7, -3}},
             {6, 1, 0.6, {}, {0, 9}}});
    LogCapture log;
    ASSERT_EQ(vlcxcov(*g.run), 0);
    const auto& a = g.run->mahTri3;
    EXPECT_NEAR(a[0], 15.0 / 16, 1e-14);
    EXPECT_NEAR(a[1], -9.0 / 16, 1e-14);
    EXPECT_NEAR(a[2], 15.0 / 16, 1e-14);
    EXPECT_EQ(log.count("[1049-256]"), 0);
}

TEST(Mahalanobis, PooledCovarianceUsesBothGroups) {
    // Controls x: 0, 2 (mean 1); treated x: 10, 14 (mean 12): cross-products 2 and 8,
    // pooled variance (2 + 8) / (2 + 2 - 2) = 5.
    MatchGroup g(0, 1);
    g.mahalanobis({0}, 0, 0, 105);
    setMeans(g, 0, 1.0, 12.0);
    g.write(
        {{1, 0, 0.1, {}, {0}}, {2, 0, 0.2, {}, {2}}, {3, 1, 0.3, {}, {10}}, {4, 1, 0.4, {}, {14}}});
    ASSERT_EQ(vlcxcov(*g.run), 0);
    EXPECT_NEAR(g.run->mahTri3[0], 1.0 / 5.0, 1e-15);
}

TEST(Mahalanobis, CollinearCovariateIsDroppedWithOneWarning) {
    // x2 = 2 x1 + 1 among the controls: its pivot is singular.
    MatchGroup g(0, 3);
    g.mahalanobis({0, 1, 2}, 0, 0, 104);
    setMeans(g, 0, 2.5, 0);
    setMeans(g, 1, 6.0, 0);
    setMeans(g, 2, 0.0, 0);
    g.write({{1, 0, 0.1, {}, {1, 3, 1}},
             {2, 0, 0.2, {}, {2, 5, -1}},
             {3, 0, 0.3, {}, {3, 7, -1}},
             {4, 0, 0.4, {}, {4, 9, 1}},
             {5, 1, 0.5, {}, {9, 0, 0}},
             {6, 1, 0.6, {}, {0, 5, 0}}});
    LogCapture log;
    ASSERT_EQ(vlcxcov(*g.run), 0);
    EXPECT_EQ(log.count("[1049-256]"), 1);
    EXPECT_EQ(log.count("[1049-257]"), 1);
    EXPECT_NE(log.text().find("x2"), std::string::npos);
    EXPECT_EQ(g.run->status, 4);
    const auto& a = g.run->mahTri3;
    // x1 variance 5/3, x3 variance 4/3 and x1, x3 uncorrelated: the inverse is diagonal.
    EXPECT_NEAR(a[0], 3.0 / 5.0, 1e-14);
    EXPECT_EQ(a[1], 0.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_EQ(a[4], 0.0);
    EXPECT_NEAR(a[5], 3.0 / 4.0, 1e-14);
    // A distance ignores the dropped coordinate: treated (9, 0, 0) to control 4 (4, 9, 1).
    ASSERT_EQ(velloc(*g.run), 0);
    g.run->trtRec = {5, 0, 0.5, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0.5, 0};
    EXPECT_NEAR(mahDistance(*g.run, 3), std::sqrt(25 * 0.6 + 1 * 0.75), 1e-13);
}

TEST(Mahalanobis, IdentityWithLpsOnlyIsTheStoredLpsDifference) {
    MatchGroup g(0, 0);
    g.mahalanobis({}, 0, 1, 106);
    g.write({{1, 0, 0.2}, {2, 0, 0.45}, {3, 1, 0.5}, {4, 1, 0.9}});
    ASSERT_EQ(vlcxcov(*g.run), 0);
    ASSERT_EQ(velloc(*g.run), 0);
    g.run->trtRec = {3, 0, 0.5, std::log(1.0), 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0.5, 0};
    EXPECT_NEAR(mahDistance(*g.run, 0), std::fabs(std::log(0.25)), 1e-14);
    g.run->mahSqrt = 0;
    EXPECT_NEAR(mahDistance(*g.run, 0), std::log(0.25) * std::log(0.25), 1e-13);
}

TEST(Mahalanobis, GreedyNeverMatchesAControlOutsideTheRegion) {
    // The control at PS 0.95 has the same covariate as the treated unit but lies outside.
    MatchGroup g(0, 1);
    g.mahalanobis({0}, 0, 0, 106);
    g.run->regionLower = 0.1;
    g.run->regionUpper = 0.9;
    g.write({{1, 1, 0.5, {}, {3}},
             {2, 0, 0.95, {}, {3}, 1, 0, 0.0},
             {3, 0, 0.3, {}, {5}},
             {4, 1, 0.2, {}, {20}},
             {5, 0, 0.25, {}, {21}}});
    ASSERT_EQ(vlcxcov(*g.run), 0);
    ASSERT_EQ(velloc(*g.run), 0);
    ASSERT_EQ(vlccomb(*g.run), 0);
    EXPECT_EQ(g.setOf(2), 0);
    EXPECT_EQ(g.setOf(1), g.setOf(3));
    EXPECT_EQ(g.setOf(4), g.setOf(5));
    EXPECT_NEAR(g.run->totalDistance, 2.0 + 1.0, 1e-14);
}

TEST(PairTest, ExactCaliperThenDistance) {
    MatchGroup g(1, 0);
    g.setCaliper(0.5); // LPS scale
    g.write({{1, 0, 0.5, {1}},
             {2, 0, 0.52, {2}},
             {3, 0, 0.9, {1}},
             {4, 1, 0.55, {1}},
             {5, 1, 0.6, {1}}});
    VlcRun& r = *g.run;
    r.method = kMethodOptimal; // leaves the treated file in score order
    r.ratioType = kRatioFixed;
    velloc(r); // loads the controls, then reports that the method is not available
    g.run->trtRec = g.treated()[0];
    double d = -1;
    EXPECT_EQ(vlcmobs(r, 0, d), 0);
    EXPECT_NEAR(d, logitClamp(0.55), 1e-15);
    EXPECT_EQ(vlcmobs(r, 1, d), 1); // exact value 2 against 1
    EXPECT_EQ(vlcmobs(r, 2, d), 1); // logit(0.9) - logit(0.55) = 1.997 > 0.5
}

} // namespace
} // namespace velloc::testing

// The bootstrap that redoes the adjustment: reproducible from its seed, the propensity model
// refitted in every replicate (which, for ATE weights, gives a smaller error than holding the
// scores fixed, as theory says), fixed scores reproducing the robust error that treats the
// weights as known, draws without an estimate counted by cause, and the strata cuts by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "adjust/adjust.h"
#include "base/missing.h"
#include "effect/refit_bootstrap.h"
#include "model/logistic.h"
#include "numeric/random.h"

namespace velloc::effect {
namespace {

// A study with score logit(p) = -0.5 + x1 + 0.5 x2 and outcome y = 1 + t + 2 x1 + x2 + e, the
// model rows carrying the design (1, x1, x2) and the score field the fitted score.
RefitStudy confounded(int n, std::int64_t seed) {
    std::int64_t slot = seed;
    auto normal = [&] {
        const double u1 = support::zranuni(slot), u2 = support::zranuni(slot);
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
    };
    RefitStudy st;
    st.D = 3;
    for (int i = 0; i < n; ++i) {
        const double x1 = normal(), x2 = normal();
        const double t = support::zranuni(slot) < psFromLps(-0.5 + x1 + 0.5 * x2) ? 1.0 : 0.0;
        st.rows.insert(st.rows.end(), {double(i + 1), 1.0, 1.0, 0.0, t, 1.0, x1, x2});
        st.y.push_back(1.0 + t + 2.0 * x1 + x2 + normal());
    }
    // The full-sample fit's scores, kept by the replicates that do not refit.
    VectorRowSource rows(st.rows.data(), n, st.recordDoubles());
    FitResult fit;
    EXPECT_EQ(fitLogistic(rows, st.D, n, fit), 0);
    for (int i = 0; i < n; ++i) {
        double* row = &st.rows[static_cast<std::size_t>(i * st.recordDoubles())];
        row[kRowScore] = psFromLps(lpsFromDesign(row + kRowDesign, fit.coef.data(), st.D));
    }
    return st;
}

// The effect sample of the full study under its ATE (or ATT) weights.
Sample weightedSample(const RefitStudy& st, bool ate) {
    Sample s;
    for (std::size_t i = 0; i < st.size(); ++i) {
        const double* row = &st.rows[i * static_cast<std::size_t>(st.recordDoubles())];
        const bool t = row[kRowTreat] > 0.5;
        const double p = row[kRowScore];
        s.y.push_back(st.y[i]);
        s.treat.push_back(t ? 1.0 : 0.0);
        s.weight.push_back(ate ? (t ? 1.0 / p : 1.0 / (1.0 - p)) : (t ? 1.0 : p / (1.0 - p)));
        s.freq.push_back(1.0);
    }
    return s;
}

RefitRule weightsRule(bool ate, bool refit) {
    RefitRule r;
    r.refit = refit;
    r.ate = ate;
    r.estimand = ate ? Estimand::Ate : Estimand::Att;
    return r;
}

TEST(RefitBootstrap, TheSeedReproducesTheReplicatesAndEveryReplicateRefits) {
    RefitStudy st = confounded(400, 5);
    const Contrast full =
        weightedContrast(weightedSample(st, false), Measure::Diff, Estimand::Att, SeMethod::Robust);
    std::int64_t a = 777, b = 777, c = 778;
    RefitBootstrap x = bootstrapRefit(st, weightsRule(false, true), full, 40, 0.05, a);
    RefitBootstrap y = bootstrapRefit(st, weightsRule(false, true), full, 40, 0.05, b);
    RefitBootstrap z = bootstrapRefit(st, weightsRule(false, true), full, 40, 0.05, c);
    ASSERT_EQ(x.boot.replicates.size(), 40u);
    EXPECT_EQ(x.boot.replicates, y.boot.replicates);
    EXPECT_EQ(a, b);
    EXPECT_NE(x.boot.replicates, z.boot.replicates);
    EXPECT_EQ(x.failures.total(), 0);
    EXPECT_EQ(x.fits, 40);
    EXPECT_DOUBLE_EQ(x.boot.contrast.estimate, full.estimate);
    EXPECT_LT(x.boot.lower, full.estimate);
    EXPECT_GT(x.boot.upper, full.estimate);
    // The same draws with the scores held fixed give other estimates and fit nothing.
    std::int64_t d = 777;
    RefitBootstrap fixed = bootstrapRefit(st, weightsRule(false, false), full, 40, 0.05, d);
    EXPECT_EQ(fixed.fits, 0);
    EXPECT_NE(fixed.boot.replicates, x.boot.replicates);
}

// With the weights held fixed the bootstrap estimates the error of a weighted mean with known
// weights, which is what the HC0 sandwich estimates; refitting the score removes the chance
// imbalance of x1 and x2 that the outcome depends on, and the ATE's error shrinks well below
// it (the estimated score is more efficient than the known one).
TEST(RefitBootstrap, RefittingTheScoreShrinksTheAteErrorBelowTheKnownWeightsOne) {
    RefitStudy st = confounded(4000, 11);
    Sample s = weightedSample(st, true);
    const Contrast hc0 = weightedContrast(s, Measure::Diff, Estimand::Ate, SeMethod::Robust);
    std::int64_t slot = 31;
    RefitBootstrap fixed = bootstrapRefit(st, weightsRule(true, false), hc0, 300, 0.05, slot);
    EXPECT_NEAR(fixed.boot.contrast.se, hc0.se, 0.15 * hc0.se);
    RefitBootstrap refit = bootstrapRefit(st, weightsRule(true, true), hc0, 300, 0.05, slot);
    EXPECT_LT(refit.boot.contrast.se, 0.8 * hc0.se);
    EXPECT_EQ(refit.failures.total(), 0);
    EXPECT_GE(refit.fits, 300);
}

TEST(RefitBootstrap, DrawsWithoutAnEstimateAreCountedByCauseAndDrawnAgain) {
    // 4 treated among 40: many draws hold fewer than two treated units in the region, or none.
    RefitStudy st = confounded(40, 3);
    int treated = 0;
    for (std::size_t i = 0; i < st.size(); ++i) {
        double* row = &st.rows[i * static_cast<std::size_t>(st.recordDoubles())];
        row[kRowTreat] = i % 13 == 0 ? 1.0 : 0.0;
        row[kRowScore] = 0.1 + 0.02 * static_cast<double>(i % 7);
        treated += row[kRowTreat] > 0.5;
    }
    ASSERT_EQ(treated, 4);
    Contrast full;
    std::int64_t slot = 99;
    RefitBootstrap b = bootstrapRefit(st, weightsRule(false, false), full, 50, 0.05, slot);
    EXPECT_EQ(b.boot.replicates.size(), 50u);
    EXPECT_GT(b.failures.group + b.failures.region, 0);
    EXPECT_EQ(b.boot.redrawn, b.failures.total());
    // x1 separates the groups completely: every refit fails, and the bootstrap gives up.
    for (std::size_t i = 0; i < st.size(); ++i) {
        double* row = &st.rows[i * static_cast<std::size_t>(st.recordDoubles())];
        row[kRowDesign + 1] = row[kRowTreat] > 0.5 ? 5.0 + double(i) : -1.0 - double(i);
    }
    RefitBootstrap sep = bootstrapRefit(st, weightsRule(false, true), full, 5, 0.05, slot);
    EXPECT_TRUE(sep.boot.replicates.empty());
    EXPECT_GT(sep.failures.fit, 0);
    EXPECT_EQ(sep.failures.total(), 51); // 10 nRep redraws, then it stops
    EXPECT_TRUE(std::isnan(sep.boot.contrast.se));
}

// Cuts by hand: 8 distinct treated scores .1 .. .8 in K = 3 strata; N = 8, targets
// c_k = ceil(k 9 / 3) - 1 = 2, 5, 8, so the cuts fall halfway between the 2nd and 3rd and the
// 5th and 6th scores: .25 and .55. Controls (not key units) and records outside the region
// move nothing.
TEST(StrataCuts, QuantileCutsBetweenDistinctKeyScores) {
    StrataCuts cuts(3, 8, true);
    ASSERT_EQ(cuts.status(), 0);
    for (int i = 1; i <= 8; ++i) {
        const double ps = 0.1 * i;
        EXPECT_TRUE(cuts.add(ps - 0.01, 1.0, false, true)); // a control just below
        EXPECT_TRUE(cuts.add(ps, 1.0, true, true));
    }
    EXPECT_TRUE(cuts.add(0.95, 1.0, true, false));
    EXPECT_EQ(cuts.finish(), 0);
    ASSERT_EQ(cuts.bounds().size(), 4u);
    EXPECT_DOUBLE_EQ(cuts.bounds()[1], 0.25);
    EXPECT_DOUBLE_EQ(cuts.bounds()[2], 0.55);
    EXPECT_EQ(cuts.bounds()[3], DBL_MAX);
    EXPECT_EQ(stratumOf(cuts.bounds(), 0.2), 1);
    EXPECT_EQ(stratumOf(cuts.bounds(), 0.25), 1); // a cut is its stratum's upper bound
    EXPECT_EQ(stratumOf(cuts.bounds(), 0.3), 2);
    EXPECT_EQ(stratumOf(cuts.bounds(), 0.8), 3);
    // Three key units cannot fill five strata: the targets ceil(4 k / 5) - 1 = 0, 1, 2, 3, 3
    // repeat.
    EXPECT_EQ(StrataCuts(5, 3, true).status(), 241);
    EXPECT_EQ(StrataCuts(5, 3, false).status(), 240);
    // All key scores tied: no cut can be placed.
    StrataCuts tied(2, 6, false);
    for (int i = 0; i < 6; ++i)
        tied.add(0.4, 1.0, true, true);
    EXPECT_EQ(tied.finish(), 244);
}

TEST(RefitBootstrap, StrataAreFormedAgainInEveryReplicate) {
    RefitStudy st = confounded(3000, 17);
    RefitRule rule;
    rule.strata = true;
    rule.nStrata = 5;
    rule.keyTreated = false;
    rule.estimand = Estimand::Ate;
    // The full sample's strata by the same cuts.
    std::vector<std::pair<double, std::size_t>> order;
    for (std::size_t i = 0; i < st.size(); ++i)
        order.emplace_back(st.rows[i * 8 + kRowScore], i);
    std::sort(order.begin(), order.end());
    StrataCuts cuts(5, static_cast<std::int64_t>(st.size()), false);
    for (const auto& [ps, i] : order)
        cuts.add(ps, 1.0, true, true);
    ASSERT_EQ(cuts.finish(), 0);
    Sample s;
    for (std::size_t i = 0; i < st.size(); ++i) {
        s.y.push_back(st.y[i]);
        s.treat.push_back(st.rows[i * 8 + kRowTreat]);
        s.weight.push_back(1.0);
        s.freq.push_back(1.0);
        s.cluster.push_back(stratumOf(cuts.bounds(), st.rows[i * 8 + kRowScore]));
    }
    const Contrast full = stratifiedContrast(s, Measure::Diff, false);
    std::int64_t slot = 5;
    RefitBootstrap b = bootstrapRefit(st, rule, full, 200, 0.05, slot);
    ASSERT_EQ(b.boot.replicates.size(), 200u);
    EXPECT_EQ(b.failures.total(), 0);
    // Five strata leave residual confounding within strata, which varies with the draw; the
    // error is of the order of the stratified variance's, not a multiple of it.
    EXPECT_GT(b.boot.contrast.se, 0.5 * full.se);
    EXPECT_LT(b.boot.contrast.se, 2.0 * full.se);
    EXPECT_LT(b.boot.lower, full.estimate);
    EXPECT_GT(b.boot.upper, full.estimate);
}

// Twenty controls far below every treated score with an outcome of 200: the common support
// leaves them out, and the replicates must leave them out too (their region formed again from
// their own scores), or the replicates centre about 2 away from the estimate.
TEST(RefitBootstrap, TheSupportRegionIsFormedAgainInEveryReplicate) {
    RefitStudy st = confounded(2000, 23);
    for (std::size_t i = 0; i < 20; ++i) {
        double* row = &st.rows[i * 8];
        row[kRowTreat] = 0.0;
        row[kRowDesign + 1] = -9.0;
        st.y[i] = 200.0;
    }
    // Refit on the whole study for the scores, then the region by hand: the common support of
    // the two groups' scores.
    VectorRowSource rows(st.rows.data(), 2000, 8);
    FitResult fit;
    ASSERT_EQ(fitLogistic(rows, 3, 2000, fit), 0);
    st.start = fit.coef;
    double lo[2] = {1, 1}, hi[2] = {0, 0};
    for (std::size_t i = 0; i < st.size(); ++i) {
        double* row = &st.rows[i * 8];
        row[kRowScore] = psFromLps(lpsFromDesign(row + kRowDesign, fit.coef.data(), 3));
        const int g = row[kRowTreat] > 0.5;
        lo[g] = std::min(lo[g], row[kRowScore]);
        hi[g] = std::max(hi[g], row[kRowScore]);
    }
    const double lower = std::max(lo[0], lo[1]), upper = std::min(hi[0], hi[1]);
    Sample all = weightedSample(st, true), inside;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const double p = st.rows[i * 8 + kRowScore];
        if (p < lower || p > upper) continue;
        inside.y.push_back(all.y[i]);
        inside.treat.push_back(all.treat[i]);
        inside.weight.push_back(all.weight[i]);
        inside.freq.push_back(1.0);
    }
    ASSERT_LE(inside.size(), all.size() - 20);
    const Contrast full = weightedContrast(inside, Measure::Diff, Estimand::Ate, SeMethod::Robust);
    const Contrast everyone = weightedContrast(all, Measure::Diff, Estimand::Ate, SeMethod::Robust);
    RefitRule rule = weightsRule(true, true);
    rule.region.type = 43; // common support, on the LPS scale, not widened
    std::int64_t slot = 8;
    RefitBootstrap b = bootstrapRefit(st, rule, full, 200, 0.05, slot);
    ASSERT_EQ(b.boot.replicates.size(), 200u);
    double mean = 0.0;
    for (double v : b.boot.replicates)
        mean += v / 200.0;
    const double se = b.boot.contrast.se;
    ASSERT_GT(std::fabs(everyone.estimate - full.estimate), 8.0 * se);
    EXPECT_LT(std::fabs(mean - full.estimate), 3.0 * se);
}

// With COVARIATES= the outcome regression on treatment and x1, x2 is the right model, so the
// score's estimation adds little: the bootstrap's error is the delta-method one from the
// robust covariance, and far below the error without the covariates.
TEST(RefitBootstrap, CovariatesAreAdjustedForInEveryReplicate) {
    RefitStudy st = confounded(3000, 29);
    st.p = 2;
    for (std::size_t i = 0; i < st.size(); ++i)
        st.x.insert(st.x.end(), {st.rows[i * 8 + kRowDesign + 1], st.rows[i * 8 + kRowDesign + 2]});
    Sample s = weightedSample(st, true);
    s.p = 2;
    s.x = st.x;
    const Contrast delta = weightedContrast(s, Measure::Diff, Estimand::Ate, SeMethod::Robust);
    std::int64_t slot = 41;
    RefitBootstrap adjusted = bootstrapRefit(st, weightsRule(true, true), delta, 300, 0.05, slot);
    EXPECT_NEAR(adjusted.boot.contrast.se, delta.se, 0.15 * delta.se);
    RefitStudy plain = st;
    plain.p = 0;
    plain.x.clear();
    RefitBootstrap unadjusted =
        bootstrapRefit(plain, weightsRule(true, true), delta, 300, 0.05, slot);
    EXPECT_LT(adjusted.boot.contrast.se, 0.8 * unadjusted.boot.contrast.se);
}

} // namespace
} // namespace velloc::effect

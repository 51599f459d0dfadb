// The fit statistics behind the model tables, on data whose maximum likelihood fit is known in
// closed form: one binary covariate makes the model saturated, so the fitted scores are the
// observed shares of each cell and the inverse information is that of a 2 x 2 table.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/messages.h"
#include "base/missing.h"
#include "model/logistic.h"
#include "model/model_messages.h"

namespace {

using namespace velloc;

// Cells (x, treated, frequency): x = 0: 1 treated, 3 controls; x = 1: 3 treated, 1 control.
// Two rows the fit must not use: a missing covariate and a zero weight.
std::vector<double> cells(double x0) {
    std::vector<double> d;
    auto add = [&](double obs, double freq, double weight, double y, double x) {
        d.insert(d.end(), {obs, freq, weight, 0.0, y, 1.0, x});
    };
    add(1, 1, 1, 1, x0);
    add(2, 3, 1, 0, x0);
    add(3, 3, 1, 1, x0 + 1);
    add(4, 1, 1, 0, x0 + 1);
    add(5, 5, 1, 1, host::missingValue());
    add(6, 2, 0, 0, x0);
    return d;
}

class FitStatistics : public ::testing::TestWithParam<double> {
  protected:
    void SetUp() override { addModelMessages(); }
};

TEST_P(FitStatistics, SaturatedTwoByTwoTable) {
    const double x0 = GetParam();
    std::vector<double> d = cells(x0);
    VectorRowSource rows(d.data(), 6, 7);
    FitResult r;
    ASSERT_EQ(fitLogistic(rows, 2, 6, r), 0);
    // Slope log(3 / (1/3)) = log 9; intercept log(1/3) at x = 0, moved by x0 slopes.
    const double b1 = std::log(9.0), b0 = std::log(1.0 / 3.0) - x0 * b1;
    EXPECT_NEAR(r.coef[1], b1, 1e-9);
    EXPECT_NEAR(r.coef[0], b0, 1e-9 * std::max(1.0, x0));
    // 2 x 2 table: var(a) = 1/1 + 1/3, var(b) = 1/1 + 1/3 + 1/3 + 1/1, cov(a, b) = -var(a),
    // for a the log odds at x = 0. At x0 the intercept is a - x0 b.
    const double va = 4.0 / 3.0, vb = 8.0 / 3.0, cab = -va;
    ASSERT_EQ(r.cov.size(), 4u);
    EXPECT_NEAR(r.cov[3], vb, 1e-9);
    EXPECT_NEAR(r.cov[1], cab - x0 * vb, 1e-9 * std::max(1.0, x0));
    EXPECT_NEAR(r.cov[2], r.cov[1], 1e-12 * std::max(1.0, x0 * x0));
    EXPECT_NEAR(r.cov[0], va - 2 * x0 * cab + x0 * x0 * vb, 1e-9 * std::max(1.0, x0 * x0));
    // -2 log L: fitted shares 1/4 and 3/4, each met by 2 and 6 of the 8 weighted rows.
    EXPECT_NEAR(r.minus2LL, -2.0 * (2 * std::log(0.25) + 6 * std::log(0.75)), 1e-10);
    // c: 16 weighted pairs; treated at x=1 over controls at x=0: 9; tied cells 3 + 3, half.
    EXPECT_NEAR(r.cstat, (9.0 + 0.5 * 3 + 0.5 * 3) / 16.0, 1e-15);
    EXPECT_EQ(r.nUsed, 4);
    EXPECT_EQ(r.weightUsed, 8.0);
}

// A covariate far from zero is fitted centred: the covariance must come back uncentred.
INSTANTIATE_TEST_SUITE_P(Shift, FitStatistics, ::testing::Values(0.0, 1000.0));

TEST(FitStatisticsTies, InterceptOnlyScoresAllTieSoTheCStatisticIsOneHalf) {
    addModelMessages();
    std::vector<double> d;
    for (int i = 0; i < 6; ++i)
        d.insert(d.end(), {double(i + 1), double(i + 1), 1.0, 0.0, double(i % 2), 1.0});
    VectorRowSource rows(d.data(), 6, 6);
    FitResult r;
    ASSERT_EQ(fitLogistic(rows, 1, 6, r), 0);
    EXPECT_DOUBLE_EQ(r.cstat, 0.5);
    // Weighted share 12/21 treated: var of the log odds 1/(n p (1-p)) = 21 / (12 * 9).
    ASSERT_EQ(r.cov.size(), 1u);
    EXPECT_NEAR(r.cov[0], 21.0 / (12.0 * 9.0), 1e-12);
}

} // namespace

// Without weights the c statistic counts pairs. On rows of ten designs, so that logits tie in
// large runs, it must be exactly the count of every treated-control pair that the ten
// designs' logits give (a whole number of halves, so no rounding), whether the rows lie in
// memory, in the fit's copy, are read by number in two halves or read in sequence.
TEST(FitStatisticsTies, CountedPairsAreExactWhereverTheRowsAre) {
    addModelMessages();
    constexpr int D = 3, R = kRowDesign + D;
    const int n = static_cast<int>(kFitTwoCoreRows) + 9000;
    std::vector<double> d;
    std::uint32_t s = 77;
    auto u = [&] {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) / 16777216.0;
    };
    for (int i = 0; i < n; ++i) {
        const double a = static_cast<int>(u() * 5), b = u() < 0.5 ? 1.0 : 0.0;
        const double y = u() < 1 / (1 + std::exp(-(-1.0 + 0.5 * a - 0.8 * b))) ? 1.0 : 0.0;
        // Every 50th row has no weight and every 70th no covariate: neither is used.
        const double w = i % 50 == 3 ? 0.0 : 1.0;
        const double x = i % 70 == 9 ? host::missingValue() : a;
        d.insert(d.end(), {double(i + 1), 1.0, w, 0.0, y, 1.0, x, b});
    }
    // exposed, range reads, cache bytes
    const struct {
        bool exposed, ranges;
        std::size_t cache;
    } paths[] = {{true, false, kFitCacheBytes}, // in memory, numbered in the cache
                 {false, false, kFitCacheBytes}, // the fit's copy
                 {false, true, 0},               // two halves read by number
                 {false, false, 0}};             // read in sequence
    for (const auto& path : paths) {
        SCOPED_TRACE(testing::Message() << path.exposed << path.ranges << path.cache);
        VectorRowSource rows(d.data(), n, R, path.exposed, path.ranges);
        FitResult r;
        ASSERT_EQ(fitLogistic(rows, D, n, r, {}, {}, path.cache), 0);
        // Pairs by design: n1[a][b] treated against n0[a'][b'] controls.
        double count[2][5][2] = {};
        for (int i = 0; i < n; ++i) {
            const double* q = d.data() + static_cast<std::size_t>(i) * R;
            if (q[kRowWeight] == 0.0 || host::isMissing(q[kRowDesign + 1])) continue;
            count[q[kRowTreat] == 1.0][static_cast<int>(q[kRowDesign + 1])]
                 [static_cast<int>(q[kRowDesign + 2])] += 1;
        }
        auto logit = [&](int a, int b) { // as the fit forms it
            double eta = r.coef[0];
            eta += r.coef[1] * a;
            eta += r.coef[2] * b;
            return eta;
        };
        double pairs = 0, treated = 0, controls = 0;
        for (int a = 0; a < 5; ++a)
            for (int b = 0; b < 2; ++b) {
                treated += count[1][a][b];
                controls += count[0][a][b];
                for (int a0 = 0; a0 < 5; ++a0)
                    for (int b0 = 0; b0 < 2; ++b0) {
                        const double t = logit(a, b), c = logit(a0, b0);
                        pairs += count[1][a][b] * count[0][a0][b0] *
                                 (t > c ? 1.0 : t == c ? 0.5 : 0.0);
                    }
            }
        EXPECT_EQ(r.cstat, pairs / (treated * controls));
        EXPECT_EQ(r.nUsed, static_cast<std::int64_t>(treated + controls));
        EXPECT_EQ(r.weightUsed, treated + controls);
        EXPECT_GT(r.cstat, 0.55);
    }
}

// Box-plot statistics against hand calculations, and the even thinning of outlier marks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "numeric/box_stats.h"
#include "render/graph_renderers.h"

namespace velloc::host {
namespace {

std::vector<BoxStats> summarise(const std::vector<BoxObs>& rows, std::size_t maxOutliers = 2000) {
    return boxSummaries(
        rows.size(), [&](std::size_t r) { return rows[r]; }, maxOutliers);
}

// Ten values of weight 1: -30, 1..8, 40. A quartile is the first value whose running weight
// reaches q x 10: Q1 the 3rd (2), the median the 5th (4), Q3 the 8th (7). IQR 5, fences
// 2 - 7.5 = -5.5 and 7 + 7.5 = 14.5: the whiskers end at 1 and 8, the data inside them, and
// -30 and 40 are the outliers. Mean (36 - 30 + 40) / 10 = 4.6.
TEST(BoxStats, QuartilesWhiskersAndOutliersByHand) {
    std::vector<BoxObs> rows;
    for (double v : {40.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, -30.0})
        rows.push_back({1.15, v, 1.0});
    rows.push_back({1.15, NAN, 1.0}); // missing: no part
    rows.push_back({1.15, 500.0, 0}); // no weight: no part
    const auto boxes = summarise(rows);
    ASSERT_EQ(boxes.size(), 1u);
    const BoxStats& b = boxes[0];
    EXPECT_EQ(b.q[0], 2);
    EXPECT_EQ(b.q[1], 4);
    EXPECT_EQ(b.q[2], 7);
    EXPECT_EQ(b.whiskerLo, 1);
    EXPECT_EQ(b.whiskerHi, 8);
    EXPECT_EQ(b.outliers, (std::vector<double>{-30, 40}));
    EXPECT_DOUBLE_EQ(b.mean(), 4.6);
    EXPECT_EQ(b.total, 10);

    // Two boxes in order of first appearance; weights count: value 0 with weight 1 and 100
    // with weight 3 give Q1 0 (1 of 4 reaches a quarter), median and Q3 100; no outliers.
    std::vector<BoxObs> two = {{0.85, 0.0, 1.0}, {1.15, 5.0, 1.0}, {0.85, 100.0, 3.0}};
    const auto w = summarise(two);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].pos, 0.85);
    EXPECT_EQ(w[0].q[0], 0);
    EXPECT_EQ(w[0].q[1], 100);
    EXPECT_EQ(w[0].q[2], 100);
    EXPECT_TRUE(w[0].outliers.empty());
    EXPECT_DOUBLE_EQ(w[0].mean(), 75);
    EXPECT_EQ(w[1].q[1], 5);
}

// Random boxes against a sort of each box's rows: positions in runs and interleaved, two of
// them 1.5e-9 apart with rows between them (which join the first box they are near), ties,
// integer weights (so every running sum is exact), missing values and zero weights.
TEST(BoxStats, RandomBoxesMatchASortOfEachBox) {
    std::mt19937_64 rng(20261209);
    const double positions[] = {0.85, 1.15, 1.85, 2.0, 2.0 + 1.5e-9, 2.0 + 0.75e-9};
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<BoxObs> rows;
        const int n = 1 + static_cast<int>(rng() % 3000);
        double pos = positions[rng() % 6];
        for (int i = 0; i < n; ++i) {
            if (rng() % 50 == 0) pos = positions[rng() % 6]; // mostly runs
            const double v = rng() % 97 == 0 ? NAN : static_cast<double>(rng() % 400) / 8.0 - 10;
            const double w = rng() % 31 == 0 ? 0.0 : static_cast<double>(1 + rng() % 4);
            rows.push_back(
                {rng() % 5 == 0 ? positions[rng() % 6] : pos, rng() % 211 == 0 ? v * 40 : v, w});
        }
        // The oracle: boxes by first appearance, a row joining the first box within 1e-9.
        std::vector<double> pos0;
        std::vector<std::vector<std::pair<double, double>>> of;
        std::vector<double> sum;
        for (const BoxObs& o : rows) {
            if (std::isnan(o.value) || !(o.weight > 0)) continue;
            std::size_t b = 0;
            while (b < pos0.size() && std::fabs(pos0[b] - o.pos) >= 1e-9)
                ++b;
            if (b == pos0.size()) pos0.push_back(o.pos), of.emplace_back(), sum.push_back(0);
            of[b].push_back({o.value, o.weight});
            sum[b] += o.value * o.weight;
        }
        const auto boxes = summarise(rows, 1u << 20);
        ASSERT_EQ(boxes.size(), pos0.size()) << trial;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            auto v = of[b];
            std::sort(v.begin(), v.end());
            double total = 0;
            for (const auto& p : v)
                total += p.second;
            double q[3];
            const double share[3] = {0.25, 0.5, 0.75};
            for (int k = 0; k < 3; ++k) {
                double acc = 0;
                for (const auto& [x, w] : v)
                    if ((acc += w) >= share[k] * total) {
                        q[k] = x;
                        break;
                    }
            }
            const double lo = q[0] - 1.5 * (q[2] - q[0]), hi = q[2] + 1.5 * (q[2] - q[0]);
            std::vector<double> out;
            double wlo = HUGE_VAL, whi = -HUGE_VAL;
            for (const auto& p : v) {
                if (p.first < lo || p.first > hi) {
                    if (out.empty() || out.back() != p.first) out.push_back(p.first);
                } else {
                    wlo = std::min(wlo, p.first), whi = std::max(whi, p.first);
                }
            }
            const BoxStats& s = boxes[b];
            EXPECT_EQ(s.pos, pos0[b]);
            EXPECT_EQ(s.total, total);
            EXPECT_EQ(s.sum, sum[b]); // in row order, as the oracle adds
            EXPECT_EQ(s.min, v.front().first);
            EXPECT_EQ(s.max, v.back().first);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(s.q[k], q[k]) << trial << " box " << b << " q" << k;
            EXPECT_EQ(s.whiskerLo, wlo);
            EXPECT_EQ(s.whiskerHi, whi);
            EXPECT_EQ(s.outliers, out);
        }
    }
}

// 10,000 ranks thinned to 2,000: rank round(j x 9999 / 1999) for j = 0..1999, the first and
// the last included, steps of 5 or 6 ranks.
TEST(BoxStats, ThinningKeepsAtMostTheBoundEvenly) {
    std::vector<double> v(10000);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<double>(i);
    const auto kept = thinEvenly(v, 2000);
    ASSERT_EQ(kept.size(), 2000u);
    for (std::size_t j = 0; j < kept.size(); ++j)
        ASSERT_EQ(kept[j], static_cast<double>(std::lround(j * 9999.0 / 1999.0))) << j;
    for (std::size_t j = 1; j < kept.size(); ++j) {
        EXPECT_GE(kept[j] - kept[j - 1], 5);
        EXPECT_LE(kept[j] - kept[j - 1], 6);
    }
    EXPECT_EQ(thinEvenly({1, 2, 3}, 2000), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(thinEvenly({1, 2, 3}, 1), std::vector<double>{3});

    // 20,000 values i / 20,000 and 5,000 distinct ones at 10 + i. Q1 is the 6,250th value
    // (0.31245), Q3 the 18,750th (0.93745): the upper fence 1.875 leaves the 5,000 large ones
    // outside, drawn as 2,000 evenly thinned marks from 10 to 5009.
    std::vector<BoxObs> rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back({1, i / 20000.0, 1});
    for (int i = 0; i < 5000; ++i)
        rows.push_back({1, 10.0 + i, 1});
    const BoxStats b = summarise(rows).at(0);
    EXPECT_DOUBLE_EQ(b.q[0], 6249 / 20000.0);
    EXPECT_DOUBLE_EQ(b.q[2], 18749 / 20000.0);
    EXPECT_DOUBLE_EQ(b.whiskerHi, 19999 / 20000.0);
    EXPECT_EQ(b.whiskerLo, 0);
    EXPECT_EQ(b.outliersBeforeThinning, 5000u);
    ASSERT_EQ(b.outliers.size(), kMaxMarksPerSeries);
    EXPECT_EQ(b.outliers.front(), 10);
    EXPECT_EQ(b.outliers.back(), 5009);
    for (std::size_t j = 1; j < b.outliers.size(); ++j) {
        EXPECT_GE(b.outliers[j] - b.outliers[j - 1], 2);
        EXPECT_LE(b.outliers[j] - b.outliers[j - 1], 3);
    }
}

} // namespace
} // namespace velloc::host

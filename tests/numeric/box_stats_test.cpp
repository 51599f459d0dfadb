// Box-plot statistics against hand calculations, and the even thinning of outlier marks.
#include <gtest/gtest.h>

#include <cmath>

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

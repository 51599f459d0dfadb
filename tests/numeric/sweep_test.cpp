#include "numeric/sweep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velloc::host::zsweep;

std::vector<double> pack(const std::vector<std::vector<double>>& a) {
    std::vector<double> p;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j <= i; ++j)
            p.push_back(a[i][j]);
    return p;
}

std::vector<double> diagOf(const std::vector<std::vector<double>>& a) {
    std::vector<double> d;
    for (std::size_t i = 0; i < a.size(); ++i)
        d.push_back(a[i][i]);
    return d;
}

TEST(Sweep, InverseOfSpdMatrixBySweepingEveryPivot) {
    // A = [4 2 0; 2 3 1; 0 1 2], det 12, adjugate [5 -4 2; -4 8 -4; 2 -4 8].
    std::vector<std::vector<double>> a{{4, 2, 0}, {2, 3, 1}, {0, 1, 2}};
    auto p = pack(a);
    auto d = diagOf(a);
    std::string st(3, '0');
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(zsweep(p.data(), 3, k, 1e-8, d.data(), st.data()), 0);
    EXPECT_EQ(st, "111");
    auto inv = pack({{5, 0, 0}, {-4, 8, 0}, {2, -4, 8}});
    for (std::size_t i = 0; i < p.size(); ++i)
        EXPECT_NEAR(p[i], inv[i] / 12.0, 1e-15) << i;
}

TEST(Sweep, OnePivotLeavesInverseRegressionAndSchurComplement) {
    // After pivot 0 of the same A: a00 = 1/4, a10 = 2/4, a20 = 0 / 4,
    // a11 = 3 - 2*2/4 = 2, a21 = 1 - 0 = 1, a22 = 2 - 0 = 2.
    auto p = pack({{4, 2, 0}, {2, 3, 1}, {0, 1, 2}});
    std::string st(3, '0');
    ASSERT_EQ(zsweep(p.data(), 3, 0, 1e-8, nullptr, st.data()), 0);
    std::vector<double> want{0.25, 0.5, 2.0, 0.0, 1.0, 2.0};
    for (std::size_t i = 0; i < p.size(); ++i)
        EXPECT_DOUBLE_EQ(p[i], want[i]) << i;
    EXPECT_EQ(st, "100");
}

TEST(Sweep, DependentColumnIsRefusedAndOnlyThatOne) {
    // Columns of X = [1 0 1 2; 1 1 2 0; 1 2 3 1; 1 3 4 5]; column 2 = column 0 + column 1.
    double x[4][4] = {{1, 0, 1, 2}, {1, 1, 2, 0}, {1, 2, 3, 1}, {1, 3, 4, 5}};
    std::vector<std::vector<double>> a(4, std::vector<double>(4, 0.0));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int r = 0; r < 4; ++r)
                a[i][j] += x[r][i] * x[r][j];
    auto p = pack(a);
    auto d = diagOf(a);
    std::string st(4, '0');
    std::vector<int> rc;
    for (int k = 0; k < 4; ++k) {
        auto before = p;
        rc.push_back(zsweep(p.data(), 4, k, 1e-8, d.data(), st.data()));
        if (k == 2) {
            EXPECT_EQ(p, before) << "a refused pivot leaves the matrix alone";
        }
    }
    EXPECT_EQ(rc, (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(st, "1101");
}

TEST(Sweep, SweepingTwiceRestoresTheMatrix) {
    auto orig = pack({{5, 1, 2, 0.5}, {1, 4, 1, 1}, {2, 1, 6, 2}, {0.5, 1, 2, 3}});
    auto p = orig;
    std::string st(4, '0');
    // Mixed order with pivots already swept around the one undone.
    ASSERT_EQ(zsweep(p.data(), 4, 1, 1e-8, nullptr, st.data()), 0);
    ASSERT_EQ(zsweep(p.data(), 4, 3, 1e-8, nullptr, st.data()), 0);
    ASSERT_EQ(zsweep(p.data(), 4, 0, 1e-8, nullptr, st.data()), 0);
    ASSERT_EQ(zsweep(p.data(), 4, 3, 1e-8, nullptr, st.data()), 0);
    EXPECT_EQ(st, "1100");
    ASSERT_EQ(zsweep(p.data(), 4, 1, 1e-8, nullptr, st.data()), 0);
    ASSERT_EQ(zsweep(p.data(), 4, 0, 1e-8, nullptr, st.data()), 0);
    EXPECT_EQ(st, "0000");
    for (std::size_t i = 0; i < p.size(); ++i)
        EXPECT_NEAR(p[i], orig[i], 1e-13) << i;
}

TEST(Sweep, ZeroAndNegativePivotsAndBadIndexAreRefused) {
    auto p = pack({{0, 0}, {0, 1}});
    std::string st(2, '0');
    EXPECT_EQ(zsweep(p.data(), 2, 0, 1e-8, nullptr, st.data()), 1);
    EXPECT_EQ(zsweep(p.data(), 2, 2, 1e-8, nullptr, st.data()), 1);
    EXPECT_EQ(zsweep(p.data(), 2, -1, 1e-8, nullptr, st.data()), 1);
    auto q = pack({{-1, 0}, {0, 1}});
    EXPECT_EQ(zsweep(q.data(), 2, 0, 1e-8, nullptr, st.data()), 1);
    EXPECT_EQ(st, "00");
}

} // namespace

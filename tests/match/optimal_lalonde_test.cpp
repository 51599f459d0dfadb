// Optimal 1:1 matching on the job-training data (the reference fit's scores,
// tests/data/lalonde/PROVENANCE.md), against an independent dense Hungarian method written out
// here: with and without a caliper, and with the utility files spilled to disk, so that the
// positioned reads of the control file go through the file window.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

// Minimum-cost assignment of every row of a dense n x m cost matrix (n <= m), by shortest
// augmenting paths with potentials; returns the column of each row.
std::vector<int> hungarian(const std::vector<std::vector<double>>& a) {
    const int n = static_cast<int>(a.size()), m = static_cast<int>(a[0].size());
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> u(n + 1, 0), v(m + 1, 0);
    std::vector<int> p(m + 1, 0), way(m + 1, 0);
    for (int i = 1; i <= n; ++i) {
        p[0] = i;
        int j0 = 0;
        std::vector<double> minv(m + 1, inf);
        std::vector<char> used(m + 1, 0);
        do {
            used[j0] = 1;
            int i0 = p[j0], j1 = 0;
            double delta = inf;
            for (int j = 1; j <= m; ++j)
                if (!used[j]) {
                    double cur = a[i0 - 1][j - 1] - u[i0] - v[j];
                    if (cur < minv[j]) minv[j] = cur, way[j] = j0;
                    if (minv[j] < delta) delta = minv[j], j1 = j;
                }
            for (int j = 0; j <= m; ++j)
                if (used[j])
                    u[p[j]] += delta, v[j] -= delta;
                else
                    minv[j] -= delta;
            j0 = j1;
        } while (p[j0] != 0);
        do {
            int j1 = way[j0];
            p[j0] = p[j1];
            j0 = j1;
        } while (j0);
    }
    std::vector<int> col(n, -1);
    for (int j = 1; j <= m; ++j)
        if (p[j]) col[p[j] - 1] = j - 1;
    return col;
}

void compare(double caliper) {
    const std::string dir = VELLOC_TEST_DATA "/lalonde/";
    auto data = readCsv(dir + "lalonde.csv");
    auto ps = readCsv(dir + "reference_ps.csv");
    ASSERT_EQ(data.size(), 614u);
    std::vector<Unit> units;
    std::vector<double> trt, ctl;
    double lo = 1, hi = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        double p = std::stod(ps[i][1]);
        int t = std::stoi(data[i][1]);
        units.push_back({std::stod(data[i][0]), t, p});
        (t ? trt : ctl).push_back(std::log(p / (1 - p)));
        lo = std::min(lo, p);
        hi = std::max(hi, p);
    }

    // Reference: a pair outside the caliper is forbidden; every treated unit may stay
    // unmatched at a cost far above any total distance, so fewest unmatched comes first.
    const double forbid = 1e9, unmatched = 1e4;
    const std::size_t n = trt.size(), m = ctl.size();
    std::vector<std::vector<double>> cost(n, std::vector<double>(m + n, unmatched));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j) {
            double d = std::fabs(trt[i] - ctl[j]);
            cost[i][j] = caliper > 0 && d > caliper * (1 + 1.110223024625157e-10) ? forbid : d;
        }
    std::vector<int> col = hungarian(cost);
    double total = 0;
    std::int64_t matched = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (col[i] < static_cast<int>(m)) total += cost[i][col[i]], ++matched;

    // A caliper of 0.05 leaves some of the high-score treated units without a control.
    if (caliper > 0) {
        EXPECT_LT(matched, static_cast<std::int64_t>(n));
        EXPECT_GT(matched, 100);
    }

    MatchGroup g;
    VlcRun& r = *g.run;
    r.method = kMethodOptimal;
    r.ratioType = kRatioFixed;
    r.regionLower = lo;
    r.regionUpper = hi;
    if (caliper > 0) g.setCaliper(caliper);
    g.write(units);
    r.nRegionTreated = static_cast<std::int64_t>(n);
    r.nRegionControl = static_cast<std::int64_t>(m);
    LogCapture log;
    ASSERT_EQ(velloc(r), 0);
    EXPECT_EQ(r.matchStatus, matched == static_cast<std::int64_t>(n) ? 0 : 103);
    EXPECT_EQ(r.nSets, matched);
    EXPECT_NEAR(r.totalDistance, total, 1e-9 * total);
    ASSERT_EQ(vlccomb(r), 0);
    std::int64_t matchedControls = 0;
    for (const auto& w : g.working())
        matchedControls += w[kVoutTreat] < 0.5 && w[kVoutMatchSet] >= 0.1;
    EXPECT_EQ(matchedControls, matched);
}

TEST(LalondeOptimal, WithoutCaliperMatchesTheHungarianTotal) {
    compare(0.0);
}

TEST(LalondeOptimal, WithCaliperKeepsTheLargestCheapestMatch) {
    compare(0.05);
}

TEST(LalondeOptimal, SpilledFilesGiveTheSameResult) {
    const std::size_t keep = host::UtilFile::spillThreshold();
    host::UtilFile::setSpillThreshold(4096);
    compare(0.05);
    host::UtilFile::setSpillThreshold(keep);
}

} // namespace
} // namespace velloc::testing

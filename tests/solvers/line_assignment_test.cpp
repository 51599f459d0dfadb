// Largest matchings and assignments on a line against brute force: augmenting paths for the
// matchings and the rows some largest matching leaves out, and a dynamic program over sets of
// columns for the least cost among the largest assignments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "random_line.h"
#include "solvers/line_assignment.h"
#include "solvers/line_matching.h"
#include "solvers/network_optimizer.h"

using namespace velloc::host;

namespace {

// The size of a largest matching by augmenting paths, rows `skip` and columns `drop` left
// out (-1: none).
int kuhnSize(const LinePairs& p, int skip = -1, int drop = -1) {
    std::vector<int> rowOfCol(p.cols(), -1);
    std::vector<char> seen;
    auto tryRow = [&](auto&& self, int r) -> bool {
        for (int c = p.lo[r]; c < p.hi[r]; ++c) {
            if (c == drop || seen[c]) continue;
            seen[c] = 1;
            if (rowOfCol[c] < 0 || self(self, rowOfCol[c])) {
                rowOfCol[c] = r;
                return true;
            }
        }
        return false;
    };
    int size = 0;
    for (int r = 0; r < p.rows(); ++r) {
        if (r == skip || !p.hasPairs(r)) continue;
        seen.assign(p.cols(), 0);
        size += tryRow(tryRow, r);
    }
    return size;
}

// Most rows assigned, then least cost, over every assignment: rows one after another, the
// state the set of columns taken.
std::pair<int, std::int64_t> bestAssignment(const LinePairs& p) {
    const int states = 1 << p.cols();
    const std::pair<int, std::int64_t> none{-1, 0};
    std::vector<std::pair<int, std::int64_t>> best(states, none), next;
    best[0] = {0, 0};
    auto better = [](std::pair<int, std::int64_t> a, std::pair<int, std::int64_t> b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    };
    for (int r = 0; r < p.rows(); ++r) {
        next = best;
        for (int s = 0; s < states; ++s) {
            if (best[s].first < 0) continue;
            for (int c = p.lo[r]; c < p.hi[r]; ++c) {
                if (s >> c & 1) continue;
                const std::pair<int, std::int64_t> v{best[s].first + 1,
                                                     best[s].second + p.cost(r, c)};
                if (better(v, next[s | 1 << c])) next[s | 1 << c] = v;
            }
        }
        best.swap(next);
    }
    std::pair<int, std::int64_t> top = best[0];
    for (const auto& v : best)
        if (v.first >= 0 && better(v, top)) top = v;
    return top;
}

TEST(LineMatching, IsLargestAndFindsTheRowsALargestMatchingMayLeaveOut) {
    std::mt19937_64 rng(11);
    int shortages = 0;
    for (int rep = 0; rep < 400; ++rep) {
        const int rows = 1 + rng() % 12, cols = 1 + rng() % 12;
        const LinePairs p = randomLine(rng, rows, cols, rep % 2 ? 4 : 100);
        const LineMatching m = largestLineMatching(p);
        ASSERT_EQ(m.size, kuhnSize(p)) << "rep " << rep;
        int matched = 0;
        for (int r = 0; r < rows; ++r) {
            const int c = m.colOfRow[r];
            if (c < 0) continue;
            ++matched;
            ASSERT_TRUE(c >= p.lo[r] && c < p.hi[r]) << "rep " << rep << " row " << r;
            ASSERT_EQ(m.rowOfCol[c], r);
        }
        ASSERT_EQ(matched, m.size);

        const LineShortage s = lineShortage(p, m);
        ASSERT_EQ(s.fault, "");
        std::vector<char> inWindow(cols, 0);
        for (int r = 0; r < rows; ++r) {
            // Left out by some largest matching exactly when a largest matching without it
            // is as large.
            const bool mayBeLeftOut = p.hasPairs(r) && kuhnSize(p, r) == m.size;
            ASSERT_EQ(bool(s.row[r]), mayBeLeftOut) << "rep " << rep << " row " << r;
            if (s.row[r])
                for (int c = p.lo[r]; c < p.hi[r]; ++c)
                    inWindow[c] = 1;
        }
        for (int c = 0; c < cols; ++c) {
            ASSERT_EQ(bool(s.col[c]), bool(inWindow[c])) << "rep " << rep << " col " << c;
            // Every largest matching needs these columns.
            if (s.col[c]) {
                ASSERT_LT(kuhnSize(p, -1, c), m.size) << "rep " << rep;
            }
        }
        shortages += s.rows > 0;
    }
    EXPECT_GT(shortages, 50); // the search was tried on many lines with rows to spare
}

TEST(LineMatching, ASmallerMatchingIsReportedAsAFault) {
    LinePairs p;
    p.rowAt = {0, 5};
    p.colAt = {1, 4};
    p.lo = {0, 0};
    p.hi = {1, 2};
    LineMatching m;
    m.colOfRow = {0, -1}; // row 1 could have column 1
    m.rowOfCol = {0, -1};
    m.size = 1;
    EXPECT_NE(lineShortage(p, m).fault, "");
}

// Every row's demand met at once, by augmenting paths over copies: `demand` copies of each row
// with pairs, capacity[c] copies of column c.
bool allServed(const LinePairs& p, int demand, const std::vector<std::int64_t>& capacity) {
    std::vector<int> firstCopy(p.cols() + 1, 0);
    for (int c = 0; c < p.cols(); ++c)
        firstCopy[c + 1] = firstCopy[c] + static_cast<int>(capacity[c]);
    std::vector<int> owner(firstCopy.back(), -1);
    std::vector<char> seen;
    auto tryRow = [&](auto&& self, int r) -> bool {
        for (int k = firstCopy[p.lo[r]]; k < firstCopy[p.hi[r]]; ++k) {
            if (seen[k]) continue;
            seen[k] = 1;
            if (owner[k] < 0 || self(self, owner[k])) {
                owner[k] = r;
                return true;
            }
        }
        return false;
    };
    for (int r = 0; r < p.rows(); ++r) {
        if (!p.hasPairs(r)) continue;
        for (int d = 0; d < demand; ++d) {
            seen.assign(owner.size(), 0);
            if (!tryRow(tryRow, r)) return false;
        }
    }
    return true;
}

TEST(LineMatching, FindsARowWhoseDemandCannotBeMetExactlyWhenThereIsOne) {
    std::mt19937_64 rng(17);
    int unserved = 0, served = 0;
    for (int rep = 0; rep < 600; ++rep) {
        const int rows = 1 + rng() % 10, cols = 1 + rng() % 10;
        const LinePairs p = randomLine(rng, rows, cols, 50);
        const int demand = 1 + static_cast<int>(rng() % 3);
        std::vector<std::int64_t> capacity(cols);
        for (auto& c : capacity)
            c = static_cast<std::int64_t>(rng() % 4); // 0: a control no one may take
        const std::int32_t r = unservedRow(p, demand, capacity);
        ASSERT_EQ(r < 0, allServed(p, demand, capacity)) << "rep " << rep;
        if (r >= 0) {
            ASSERT_TRUE(p.hasPairs(r)) << "rep " << rep;
        }
        (r < 0 ? served : unserved) += 1;
    }
    EXPECT_GT(served, 100);
    EXPECT_GT(unserved, 100);
}

TEST(LineAssignment, AssignsMostRowsAtLeastCostAsBruteForceDoes) {
    std::mt19937_64 rng(13);
    int partial = 0, complete = 0;
    for (int rep = 0; rep < 500; ++rep) {
        const int rows = 1 + rng() % 9, cols = 1 + rng() % 10;
        const LinePairs p = randomLine(rng, rows, cols, rep % 3 ? 6 : 1000);
        const auto [most, least] = bestAssignment(p);
        const LineAssignment a = assignOnLine(p, 1 + rep % 3);
        ASSERT_TRUE(a.status == kNetOptOptimal || a.status == kNetOptCheck)
            << "rep " << rep << ": " << a.detail;
        ASSERT_EQ(a.assigned, most) << "rep " << rep;
        ASSERT_EQ(a.objective, least) << "rep " << rep;
        std::vector<char> taken(cols, 0);
        std::int64_t cost = 0, withPairs = 0;
        for (int r = 0; r < rows; ++r) {
            withPairs += p.hasPairs(r);
            const int c = a.colOfRow[r];
            if (c < 0) continue;
            ASSERT_TRUE(c >= p.lo[r] && c < p.hi[r] && !taken[c]) << "rep " << rep;
            taken[c] = 1;
            cost += p.cost(r, c);
        }
        ASSERT_EQ(cost, a.objective);
        ASSERT_EQ(a.status == kNetOptOptimal, most == withPairs) << "rep " << rep;
        (most == withPairs ? complete : partial) += 1;
    }
    EXPECT_GT(partial, 50);
    EXPECT_GT(complete, 100);
}

} // namespace

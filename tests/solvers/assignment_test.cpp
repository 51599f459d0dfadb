#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "solvers/assignment.h"
#include "solvers/network_optimizer.h"

using namespace velloc::host;

namespace {

struct Arcs {
    std::vector<std::int32_t> row, col;
    std::vector<double> cost;
    void add(std::int32_t r, std::int32_t c, double w) {
        row.push_back(r);
        col.push_back(c);
        cost.push_back(w);
    }
    AssignmentArcs view() const { return {row, col, cost}; }
};

// Brute force: every way of giving each row a distinct column or none; the best is the
// largest, then the cheapest. c[r][j] < 0 marks a missing arc.
struct Best {
    int size = -1;
    double cost = 0;
};
void enumerate(const std::vector<std::vector<double>>& c, std::size_t r, std::vector<char>& used,
               int size, double cost, Best& best) {
    if (r == c.size()) {
        if (size > best.size || (size == best.size && cost < best.cost)) best = {size, cost};
        return;
    }
    enumerate(c, r + 1, used, size, cost, best);
    for (std::size_t j = 0; j < c[r].size(); ++j) {
        if (c[r][j] < 0 || used[j]) continue;
        used[j] = 1;
        enumerate(c, r + 1, used, size + 1, cost + c[r][j], best);
        used[j] = 0;
    }
}

// Solves through the service and checks the result is a one-to-one choice of given arcs.
AssignmentResult solveChecked(const Arcs& a) {
    AssignmentResult res = NetworkOptimizer{}.assign(a.view());
    std::set<std::int32_t> rows, cols;
    for (const AssignedArc& x : res.arcs) {
        EXPECT_TRUE(rows.insert(x.row).second) << "row " << x.row << " assigned twice";
        EXPECT_TRUE(cols.insert(x.col).second) << "column " << x.col << " assigned twice";
        double cheapest = INFINITY;
        for (std::size_t k = 0; k < a.row.size(); ++k)
            if (a.row[k] == x.row && a.col[k] == x.col) cheapest = std::min(cheapest, a.cost[k]);
        EXPECT_EQ(x.cost, cheapest) << "arc (" << x.row << ", " << x.col << ")";
    }
    return res;
}

} // namespace

TEST(Assignment, AgreesWithBruteForceOnRandomSmallProblems) {
    std::mt19937_64 rng(20261206);
    int partial = 0, complete = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const int nr = 1 + int(rng() % 5), nc = 1 + int(rng() % 7);
        const double density = std::array{0.25, 0.5, 0.8, 1.0}[rng() % 4];
        const bool ties = rng() % 3 == 0; // small whole costs: many equal totals
        std::uniform_real_distribution<double> unif(0, 1);
        // Node numbers: rows then columns (as copies of treated units and controls are
        // numbered), columns then rows, or both interleaved.
        const int scheme = int(rng() % 3);
        auto rowNode = [&](int r) { return scheme == 0 ? r : scheme == 1 ? nc + r : 2 * r; };
        auto colNode = [&](int j) { return scheme == 0 ? nr + j : scheme == 1 ? j : 2 * j + 1; };
        std::vector<std::vector<double>> c(nr, std::vector<double>(nc, -1));
        Arcs a;
        for (int r = 0; r < nr; ++r)
            for (int j = 0; j < nc; ++j)
                if (unif(rng) < density) {
                    c[r][j] = ties ? double(rng() % 3) : unif(rng);
                    a.add(rowNode(r), colNode(j), c[r][j]);
                }
        std::vector<int> order(a.row.size());
        std::iota(order.begin(), order.end(), 0);
        if (rng() % 2) std::shuffle(order.begin(), order.end(), rng); // else by row
        Arcs shuffled;
        for (int k : order)
            shuffled.add(a.row[k], a.col[k], a.cost[k]);

        Best best;
        std::vector<char> used(nc, 0);
        enumerate(c, 0, used, 0, 0, best);
        int rowsWithArcs = 0;
        for (int r = 0; r < nr; ++r)
            rowsWithArcs += std::any_of(c[r].begin(), c[r].end(), [](double x) { return x >= 0; });

        AssignmentResult res = solveChecked(shuffled);
        ASSERT_TRUE(res.status == kNetOptOptimal || res.status == kNetOptCheck)
            << "trial " << trial << ": " << res.detail;
        EXPECT_EQ(int(res.arcs.size()), best.size) << "trial " << trial;
        EXPECT_NEAR(res.objective, best.cost, 1e-12 * std::max(1.0, best.cost))
            << "trial " << trial;
        EXPECT_EQ(res.status, best.size == rowsWithArcs ? kNetOptOptimal : kNetOptCheck)
            << "trial " << trial;
        (best.size == rowsWithArcs ? complete : partial)++;
    }
    EXPECT_GT(partial, 100);
    EXPECT_GT(complete, 100);
}

TEST(Assignment, PartialResultKeepsTheCheapestRowsNotTheFirst) {
    // Rows 0 and 1 compete for column 10: one can be assigned; the cheaper one must be.
    // Row 2 reaches 11 (cost 4) and 10 (cost 0): it also competes; the largest assignment
    // has 2 arcs, cheapest {1-10: 1, 2-11: 4} = 5 against {0-10,2-11} = 14, {2-10, -} = 0
    // but of size 1.
    Arcs a;
    a.add(0, 10, 10);
    a.add(1, 10, 1);
    a.add(2, 11, 4);
    a.add(2, 10, 0);
    AssignmentResult res = solveChecked(a);
    ASSERT_EQ(res.status, kNetOptCheck) << res.detail;
    ASSERT_EQ(res.arcs.size(), 2u);
    EXPECT_EQ(res.objective, 5);
    EXPECT_EQ(res.arcs[0].row, 1);
    EXPECT_EQ(res.arcs[0].col, 10);
    EXPECT_EQ(res.arcs[1].row, 2);
    EXPECT_EQ(res.arcs[1].col, 11);
}

TEST(Assignment, EqualCostsAndDuplicateArcs) {
    // Four rows, all costs 1: any perfect assignment, total 4.
    Arcs a;
    for (int r = 0; r < 4; ++r)
        for (int j = 0; j < 6; ++j)
            a.add(r, 100 + j, 1);
    AssignmentResult res = solveChecked(a);
    EXPECT_EQ(res.status, kNetOptOptimal);
    EXPECT_EQ(res.arcs.size(), 4u);
    EXPECT_EQ(res.objective, 4);

    // A pair given twice counts at its cheaper cost.
    Arcs d;
    d.add(0, 5, 3);
    d.add(0, 5, 2);
    d.add(1, 6, 1);
    res = solveChecked(d);
    EXPECT_EQ(res.status, kNetOptOptimal);
    EXPECT_EQ(res.objective, 3);

    AssignmentResult none = NetworkOptimizer{}.assign({});
    EXPECT_EQ(none.status, kNetOptOptimal);
    EXPECT_TRUE(none.arcs.empty());
}

TEST(Assignment, RefusesBadInputWithAReason) {
    auto statusOf = [](const Arcs& a) {
        AssignmentResult res = NetworkOptimizer{}.assign(a.view());
        EXPECT_FALSE(res.detail.empty());
        return res.status;
    };
    Arcs neg;
    neg.add(0, 1, -0.5);
    EXPECT_EQ(statusOf(neg), kNetOptBadInput);
    Arcs nan;
    nan.add(0, 1, std::nan(""));
    EXPECT_EQ(statusOf(nan), kNetOptBadInput);
    Arcs both;
    both.add(0, 1, 1);
    both.add(1, 2, 1); // node 1 is a column and a row
    EXPECT_EQ(statusOf(both), kNetOptBadInput);
    Arcs ragged;
    ragged.add(0, 1, 1);
    ragged.cost.push_back(2);
    EXPECT_EQ(statusOf(ragged), kNetOptBadInput);
    Arcs negId;
    negId.add(-1, 1, 1);
    EXPECT_EQ(statusOf(negId), kNetOptBadInput);
}

TEST(Assignment, VerificationRejectsCorruptedSolutions) {
    // 0: {0: 1, 1: 3}, 1: {0: 2, 1: 5}. Optimum 0-1, 1-0, total 5 (against 6).
    SparseRows g;
    g.nRows = 2;
    g.nCols = 3; // column 2 unused
    g.start = {0, 2, 4};
    g.adopt({0, 1, 0, 1}, {1, 3, 2, 5});
    SapSolution sol = solveSparseAssignment(g);
    ASSERT_TRUE(sol.complete);
    EXPECT_EQ(sol.colOfRow, (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(verifyAssignment(g, sol, 1e-12), "");

    SapSolution swapped = sol; // a feasible but costlier assignment under the same duals
    swapped.colOfRow = {0, 1};
    swapped.rowOfCol = {0, 1, -1};
    EXPECT_NE(verifyAssignment(g, swapped, 1e-12), "");

    SapSolution shared = sol; // two rows on one column
    shared.colOfRow = {0, 0};
    EXPECT_NE(verifyAssignment(g, shared, 1e-12), "");

    SapSolution dual = sol; // a dual that makes some reduced cost negative
    dual.u[0] += 1;
    EXPECT_NE(verifyAssignment(g, dual, 1e-12), "");

    SapSolution freeCol = sol; // a free column must have dual 0
    freeCol.v[2] = -1;
    EXPECT_NE(verifyAssignment(g, freeCol, 1e-12), "");

    SapSolution dropped = sol; // a row silently left out
    dropped.rowOfCol[dropped.colOfRow[1]] = -1;
    dropped.colOfRow[1] = -1;
    EXPECT_NE(verifyAssignment(g, dropped, 1e-12), "");
}

TEST(Assignment, CostsCloseTogetherStayDistinct) {
    // Totals 1.0001 + 1.0002 and 1.0002 + 1.0000 differ by 1e-4.
    Arcs a;
    a.add(0, 10, 1.0001);
    a.add(0, 11, 1.0002);
    a.add(1, 10, 1.0002);
    a.add(1, 11, 1.0000);
    AssignmentResult res = solveChecked(a);
    ASSERT_EQ(res.status, kNetOptOptimal);
    EXPECT_DOUBLE_EQ(res.objective, 1.0001 + 1.0000);
}

TEST(Assignment, AgreesWithTheFlowSolverOnLargerSparseProblems) {
    // Rows and columns as a flow: source -> row -> column -> sink, all capacities 1. The
    // flow solver must route as many units as were assigned at the same total cost, and
    // must find one unit more infeasible (the assignment is a largest one).
    std::mt19937_64 rng(4242);
    std::uniform_real_distribution<double> unif(0, 1);
    for (int trial = 0; trial < 20; ++trial) {
        const int nr = 30 + int(rng() % 40), nc = nr + int(rng() % 40) - 20;
        Arcs a;
        for (int r = 0; r < nr; ++r)
            for (int j = 0; j < nc; ++j)
                if (std::abs(r - j) < 6 && unif(rng) < 0.5) a.add(r, nr + j, unif(rng));
        AssignmentResult res = solveChecked(a);
        ASSERT_TRUE(res.status == kNetOptOptimal || res.status == kNetOptCheck) << res.detail;

        const int src = nr + nc, snk = nr + nc + 1;
        std::vector<std::int32_t> tail, head;
        std::vector<double> cost, cap;
        for (std::size_t k = 0; k < a.row.size(); ++k) {
            tail.push_back(a.row[k]), head.push_back(a.col[k]), cost.push_back(a.cost[k]);
            cap.push_back(1);
        }
        for (int r = 0; r < nr; ++r)
            tail.push_back(src), head.push_back(r), cost.push_back(0), cap.push_back(1);
        for (int j = 0; j < nc; ++j)
            tail.push_back(nr + j), head.push_back(snk), cost.push_back(0), cap.push_back(1);
        const std::vector<std::int32_t> sNode{src, snk};
        const double k = double(res.arcs.size());
        std::vector<double> supply{k, -k};
        FlowResult flow =
            NetworkOptimizer{}.minCostFlow({nr + nc + 2, tail, head, cost, cap, sNode, supply});
        ASSERT_EQ(flow.status, kNetOptOptimal) << flow.detail;
        EXPECT_NEAR(flow.objective, res.objective, 1e-9 * k) << "trial " << trial;
        supply = {k + 1, -(k + 1)};
        EXPECT_EQ(NetworkOptimizer{}
                      .minCostFlow({nr + nc + 2, tail, head, cost, cap, sNode, supply})
                      .status,
                  kNetOptInfeasible);
    }
}

TEST(Assignment, NodeNumbersFarApartNeedNoTableOfThatSize) {
    // Rows 0 and 2e9 around columns 5 and 1e9 (interleaved ranges): the result keeps the
    // caller's numbers. Best: 0-5 (1) + 2e9-1e9 (1) = 2 against 3 + 4.
    Arcs a;
    a.add(0, 5, 1);
    a.add(0, 1000000000, 3);
    a.add(2000000000, 5, 4);
    a.add(2000000000, 1000000000, 1);
    AssignmentResult res = solveChecked(a);
    ASSERT_EQ(res.status, kNetOptOptimal) << res.detail;
    ASSERT_EQ(res.arcs.size(), 2u);
    EXPECT_EQ(res.arcs[0].row, 0);
    EXPECT_EQ(res.arcs[0].col, 5);
    EXPECT_EQ(res.arcs[1].row, 2000000000);
    EXPECT_EQ(res.arcs[1].col, 1000000000);
    EXPECT_EQ(res.objective, 2);

    // Separate but wide ranges: rows 0 and 1.5e9, columns from 1.6e9.
    Arcs w;
    w.add(0, 1600000000, 2);
    w.add(1500000000, 1600000000, 1);
    w.add(1500000000, 2000000000, 5);
    res = solveChecked(w);
    ASSERT_EQ(res.status, kNetOptOptimal) << res.detail;
    EXPECT_EQ(res.objective, 7);
}

// Sparse rectangular linear assignment by shortest augmenting paths, the engine behind the
// assignment mode of NetworkOptimizer.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velloc::host {

// Admissible arcs grouped by row (compressed rows): the arcs of row i are start[i] ..
// start[i+1]-1, arc k going to column col[k] - colBase at cost[k] (finite, >= 0). col and
// cost either view the caller's arrays (no copy when they already come by row) or the
// arrays held in ownCol and ownCost. Rows without arcs take no part in the problem.
struct SparseRows {
    std::int32_t nRows = 0;
    std::int32_t nCols = 0;
    std::int32_t colBase = 0;
    std::vector<std::int64_t> start;
    std::span<const std::int32_t> col;
    std::span<const double> cost;
    std::vector<std::int32_t> ownCol;
    std::vector<double> ownCost;

    SparseRows() = default;
    SparseRows(const SparseRows&) = delete;
    SparseRows& operator=(const SparseRows&) = delete;
    // Takes the arrays over and views them.
    void adopt(std::vector<std::int32_t> c, std::vector<double> w) {
        ownCol = std::move(c);
        ownCost = std::move(w);
        col = ownCol;
        cost = ownCost;
    }
    bool hasArcs(std::int32_t i) const { return start[i + 1] > start[i]; }
};

// An assignment with the dual values that certify it. Column index nCols + i stands for the
// private "unassigned" column of row i, used only when not every row can be assigned; its
// cost counts one unit in the first (integer) part of the lexicographic cost, so that the
// number of assigned rows comes before the total cost. uCount/vCount hold those integer
// parts of the duals (empty when every row was assigned).
struct SapSolution {
    std::vector<std::int32_t> colOfRow; // -1 none
    std::vector<std::int32_t> rowOfCol;
    std::vector<double> u, v;
    std::vector<std::int64_t> uCount, vCount;
    bool complete = false; // every row assigned to a real column
};

// Solves the problem: a minimum-cost assignment of every row with arcs when one exists, else a
// largest assignment of minimum cost among the largest ones. Throws std::bad_alloc.
SapSolution solveSparseAssignment(const SparseRows& rows);

// Checks the solution in one pass over the arcs: a one-to-one assignment, dual feasibility
// within tol (reduced cost >= -tol on every arc, non-positive column duals) and
// complementary slackness (assigned arcs and free columns at reduced cost / dual 0 within
// tol). Returns an empty string when it holds, else what failed.
std::string verifyAssignment(const SparseRows& rows, const SapSolution& sol, double tol);

} // namespace velloc::host

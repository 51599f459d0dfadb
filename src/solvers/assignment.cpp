#include "solvers/assignment.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace velloc::host {
namespace {

// Lexicographic cost: the number of "unassigned" choices first, then the total cost.
struct LexCost {
    std::int64_t n = 0;
    double x = 0;
};
inline LexCost operator+(LexCost a, LexCost b) {
    return {a.n + b.n, a.x + b.x};
}
inline LexCost operator-(LexCost a, LexCost b) {
    return {a.n - b.n, a.x - b.x};
}
inline bool operator<(LexCost a, LexCost b) {
    return a.n < b.n || (a.n == b.n && a.x < b.x);
}

// The two cost types the search runs on: plain doubles while every row finds a column, the
// lexicographic cost with one private "unassigned" column per row otherwise.
struct PlainCosts {
    using C = double;
    static constexpr bool withDummy = false;
    static C inf() { return std::numeric_limits<double>::infinity(); }
    static C of(double c) { return c; }
    static C dummy() { return 0; }
};
struct LexCosts {
    using C = LexCost;
    static constexpr bool withDummy = true;
    static C inf() { return {std::numeric_limits<std::int64_t>::max() / 4, 0}; }
    static C of(double c) { return {0, c}; }
    static C dummy() { return {1, 0}; }
};

template <class T> struct Search {
    using C = typename T::C;
    struct Entry {
        C d;
        std::int32_t j;
    };
    static bool later(const Entry& a, const Entry& b) { return b.d < a.d; }

    const SparseRows& g;
    std::int32_t nColsAll; // real columns plus one private column per row when withDummy
    std::vector<C> u, v, spc;
    std::vector<std::int32_t> colOfRow, rowOfCol, path;
    std::vector<char> scanned;
    std::vector<std::int32_t> touched, scannedRows, scannedCols;
    std::vector<Entry> heap;

    explicit Search(const SparseRows& rows)
        : g(rows), nColsAll(rows.nCols + (T::withDummy ? rows.nRows : 0)), u(rows.nRows),
          v(nColsAll), spc(nColsAll, T::inf()), colOfRow(rows.nRows, -1), rowOfCol(nColsAll, -1),
          path(nColsAll, -1), scanned(nColsAll, 0) {}

    void relax(std::int32_t i, std::int32_t j, C c, C minVal, C ui) {
        if (scanned[j]) return;
        C r = minVal + c - ui - v[j];
        if (r < spc[j]) {
            if (!(spc[j] < T::inf())) touched.push_back(j);
            spc[j] = r;
            path[j] = i;
            heap.push_back({r, j});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    }

    // One shortest augmenting path from the free row cur; false when no free column is
    // reachable (the duals are then left as they were).
    bool augment(std::int32_t cur) {
        // When the row's cheapest arc leads to a free column, that arc is the shortest path:
        // every other path starts with an arc at least as dear. Most rows end here.
        C best = T::inf();
        std::int32_t bestCol = -1;
        for (std::int64_t k = g.start[cur]; k < g.start[cur + 1]; ++k) {
            std::int32_t j = g.col[k] - g.colBase;
            C r = T::of(g.cost[k]) - u[cur] - v[j];
            if (r < best) best = r, bestCol = j;
        }
        if (bestCol >= 0 && rowOfCol[bestCol] < 0) {
            u[cur] = u[cur] + best;
            rowOfCol[bestCol] = cur;
            colOfRow[cur] = bestCol;
            return true;
        }
        C minVal{};
        std::int32_t i = cur, sink = -1;
        for (;;) {
            scannedRows.push_back(i);
            C ui = u[i];
            for (std::int64_t k = g.start[i]; k < g.start[i + 1]; ++k)
                relax(i, g.col[k] - g.colBase, T::of(g.cost[k]), minVal, ui);
            if constexpr (T::withDummy) relax(i, g.nCols + i, T::dummy(), minVal, ui);
            std::int32_t j = -1;
            while (!heap.empty()) {
                std::pop_heap(heap.begin(), heap.end(), later);
                Entry e = heap.back();
                heap.pop_back();
                if (scanned[e.j] || spc[e.j] < e.d) continue;
                j = e.j;
                break;
            }
            if (j < 0) break;
            scanned[j] = 1;
            scannedCols.push_back(j);
            minVal = spc[j];
            if (rowOfCol[j] < 0) {
                sink = j;
                break;
            }
            i = rowOfCol[j];
        }
        if (sink >= 0) {
            u[cur] = u[cur] + minVal;
            for (std::int32_t r : scannedRows)
                if (r != cur) u[r] = u[r] + (minVal - spc[colOfRow[r]]);
            for (std::int32_t j : scannedCols)
                v[j] = v[j] - (minVal - spc[j]);
            for (std::int32_t j = sink;;) {
                std::int32_t r = path[j];
                rowOfCol[j] = r;
                std::swap(colOfRow[r], j);
                if (r == cur) break;
            }
        }
        for (std::int32_t j : touched)
            spc[j] = T::inf();
        for (std::int32_t j : scannedCols)
            scanned[j] = 0;
        touched.clear();
        scannedRows.clear();
        scannedCols.clear();
        heap.clear();
        return sink >= 0;
    }
};

} // namespace

SapSolution solveSparseAssignment(const SparseRows& rows) {
    SapSolution sol;
    std::vector<std::int32_t> failed;
    Search<PlainCosts> p(rows);
    for (std::int32_t i = 0; i < rows.nRows; ++i)
        if (rows.hasArcs(i) && !p.augment(i)) failed.push_back(i); // the duals stay valid
    if (failed.empty()) {
        sol.colOfRow = std::move(p.colOfRow);
        sol.rowOfCol = std::move(p.rowOfCol);
        sol.u = std::move(p.u);
        sol.v = std::move(p.v);
        sol.complete = true;
        return sol;
    }
    // Some rows have no column left in reach: give every row a private "unassigned"
    // column, which any real column beats on the lexicographic cost, and go on from
    // where the plain search stopped. Its assignment and duals stay valid: the new
    // columns are free at dual 0 and their arcs have reduced cost (1, -u) > 0.
    Search<LexCosts> s(rows);
    for (std::int32_t i = 0; i < rows.nRows; ++i) {
        s.u[i] = {0, p.u[i]};
        s.colOfRow[i] = p.colOfRow[i];
    }
    for (std::int32_t j = 0; j < rows.nCols; ++j) {
        s.v[j] = {0, p.v[j]};
        s.rowOfCol[j] = p.rowOfCol[j];
    }
    for (std::int32_t i : failed)
        s.augment(i); // always succeeds: the row's private column is free
    sol.colOfRow = std::move(s.colOfRow);
    sol.rowOfCol = std::move(s.rowOfCol);
    sol.u.resize(rows.nRows);
    sol.uCount.resize(rows.nRows);
    sol.v.resize(s.nColsAll);
    sol.vCount.resize(s.nColsAll);
    for (std::int32_t i = 0; i < rows.nRows; ++i) {
        sol.u[i] = s.u[i].x;
        sol.uCount[i] = s.u[i].n;
    }
    for (std::int32_t j = 0; j < s.nColsAll; ++j) {
        sol.v[j] = s.v[j].x;
        sol.vCount[j] = s.v[j].n;
    }
    sol.complete = false;
    return sol;
}

std::string verifyAssignment(const SparseRows& g, const SapSolution& sol, double tol) {
    const bool lex = !sol.uCount.empty();
    const std::int64_t nColsAll = g.nCols + (lex ? g.nRows : 0);
    if (std::ssize(sol.colOfRow) != g.nRows || std::ssize(sol.rowOfCol) != nColsAll ||
        std::ssize(sol.u) != g.nRows || std::ssize(sol.v) != nColsAll ||
        (lex && (std::ssize(sol.uCount) != g.nRows || std::ssize(sol.vCount) != nColsAll)))
        return "the solution arrays have the wrong sizes";
    auto uN = [&](std::int32_t i) { return lex ? sol.uCount[i] : std::int64_t{0}; };
    auto vN = [&](std::int64_t j) { return lex ? sol.vCount[j] : std::int64_t{0}; };

    // One-to-one, and every row with arcs placed (on a real or its private column).
    std::int64_t placed = 0, rowsWithArcs = 0;
    for (std::int32_t i = 0; i < g.nRows; ++i) {
        std::int32_t j = sol.colOfRow[i];
        rowsWithArcs += g.hasArcs(i);
        if (j < 0) continue;
        if (!g.hasArcs(i)) return fmt::format("row {} has no arcs but is assigned", i);
        bool ownDummy = lex && j == g.nCols + i;
        if ((j >= g.nCols && !ownDummy) || sol.rowOfCol[j] != i)
            return fmt::format("row {} is assigned to column {} inconsistently", i, j);
        ++placed;
    }
    for (std::int64_t j = 0; j < nColsAll; ++j) {
        std::int32_t i = sol.rowOfCol[j];
        if (i >= 0 && (i >= g.nRows || sol.colOfRow[i] != j))
            return fmt::format("column {} is assigned to row {} inconsistently", j, i);
    }
    if (placed != rowsWithArcs)
        return fmt::format("{} of {} rows were left out", rowsWithArcs - placed, rowsWithArcs);

    // Column duals: non-positive, and zero on free columns.
    for (std::int64_t j = 0; j < nColsAll; ++j) {
        std::int64_t n = vN(j);
        double x = sol.v[j];
        if (!std::isfinite(x) || n > 0 || (n == 0 && x > tol))
            return fmt::format("column {} has a positive dual value", j);
        if (sol.rowOfCol[j] < 0 && (n != 0 || std::fabs(x) > tol))
            return fmt::format("free column {} has a non-zero dual value", j);
    }

    // Reduced costs: >= 0 everywhere, 0 on the assigned arcs (the cheapest of duplicates).
    for (std::int32_t i = 0; i < g.nRows; ++i) {
        if (!g.hasArcs(i)) continue;
        std::int32_t a = sol.colOfRow[i];
        double assignedCost = std::numeric_limits<double>::infinity();
        for (std::int64_t k = g.start[i]; k < g.start[i + 1]; ++k) {
            std::int32_t j = g.col[k] - g.colBase;
            std::int64_t n = -uN(i) - vN(j);
            double r = g.cost[k] - sol.u[i] - sol.v[j];
            if (n < 0 || (n == 0 && !(r >= -tol)))
                return fmt::format("arc ({}, {}) has a negative reduced cost", i, j);
            if (j == a) assignedCost = std::min(assignedCost, g.cost[k]);
        }
        std::int64_t n;
        double r;
        if (a < g.nCols) {
            if (!std::isfinite(assignedCost))
                return fmt::format("row {} is assigned to column {} without an arc", i, a);
            n = -uN(i) - vN(a);
            r = assignedCost - sol.u[i] - sol.v[a];
        } else {
            n = 1 - uN(i) - vN(a);
            r = -sol.u[i] - sol.v[a];
        }
        if (n != 0 || std::fabs(r) > tol)
            return fmt::format("the arc assigned to row {} is not at reduced cost 0", i);
        if (lex) {
            std::int64_t dn = 1 - uN(i) - vN(g.nCols + i);
            double dr = -sol.u[i] - sol.v[g.nCols + i];
            if (dn < 0 || (dn == 0 && !(dr >= -tol)))
                return fmt::format("leaving row {} out has a negative reduced cost", i);
        }
    }
    return {};
}

} // namespace velloc::host

// Assignment mode of the network-optimization service.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <new>

#include <fmt/format.h>

#include "solvers/assignment.h"
#include "solvers/network_optimizer.h"

namespace velloc::host {
namespace {

// Dual values are sums and differences of costs; this much rounding is allowed in the check.
constexpr double kDualTolerance = 1e-9;

std::string validate(const AssignmentArcs& a) {
    const std::size_t m = a.row.size();
    if (a.col.size() != m || a.cost.size() != m)
        return fmt::format("the arc arrays differ in length ({} rows, {} columns, {} costs)", m,
                           a.col.size(), a.cost.size());
    for (std::size_t k = 0; k < m; ++k) {
        if (a.row[k] < 0 || a.col[k] < 0)
            return fmt::format("arc {} joins nodes {} and {}; node numbers must be >= 0", k,
                               a.row[k], a.col[k]);
        if (!std::isfinite(a.cost[k]) || a.cost[k] < 0)
            return fmt::format("arc {} has cost {}; costs must be finite and >= 0", k, a.cost[k]);
    }
    return {};
}

AssignmentResult solve(const AssignmentArcs& a) {
    AssignmentResult res;
    if (std::string why = validate(a); !why.empty()) {
        res.status = kNetOptBadInput;
        res.detail = std::move(why);
        return res;
    }
    const std::int64_t m = std::ssize(a.row);
    if (m == 0) {
        res.status = kNetOptOptimal;
        return res;
    }
    std::int32_t minRow = a.row[0], maxRow = a.row[0], minCol = a.col[0], maxCol = a.col[0];
    bool byRow = true;
    double maxCost = 0;
    for (std::int64_t k = 0; k < m; ++k) {
        minRow = std::min(minRow, a.row[k]);
        maxRow = std::max(maxRow, a.row[k]);
        minCol = std::min(minCol, a.col[k]);
        maxCol = std::max(maxCol, a.col[k]);
        if (k > 0 && a.row[k] < a.row[k - 1]) byRow = false;
        maxCost = std::max(maxCost, a.cost[k]);
    }

    // Rows and columns: when their number ranges do not overlap, a node's index is its
    // number less the smallest of its side, and arcs that already come by row (as a list of
    // copies of treated units does) are used in place. Otherwise dense indices in ascending
    // node number, and a copy grouped by row.
    SparseRows g;
    std::vector<std::int32_t> rowId, colId;
    // (Ranges much wider than the arc list would cost more than the ranks.)
    const std::int64_t span = std::int64_t(maxRow) - minRow + std::int64_t(maxCol) - minCol;
    const bool ranges = (maxRow < minCol || maxCol < minRow) && span <= 4 * m + 1024;
    if (ranges) {
        g.nRows = maxRow - minRow + 1;
        g.nCols = maxCol - minCol + 1;
        g.colBase = minCol;
    } else {
        // The sorted distinct numbers of each side; a node's index is its rank.
        auto distinct = [m](std::span<const std::int32_t> ids) {
            std::vector<std::int32_t> out(ids.begin(), ids.begin() + m);
            std::sort(out.begin(), out.end());
            out.erase(std::unique(out.begin(), out.end()), out.end());
            return out;
        };
        rowId = distinct(a.row);
        colId = distinct(a.col);
        std::vector<std::int32_t> both;
        std::set_intersection(rowId.begin(), rowId.end(), colId.begin(), colId.end(),
                              std::back_inserter(both));
        if (!both.empty()) {
            res.status = kNetOptBadInput;
            res.detail = fmt::format("node {} is used both as a row and as a column", both[0]);
            return res;
        }
        g.nRows = static_cast<std::int32_t>(rowId.size());
        g.nCols = static_cast<std::int32_t>(colId.size());
    }
    auto rank = [](const std::vector<std::int32_t>& ids, std::int32_t id) {
        return static_cast<std::int32_t>(std::lower_bound(ids.begin(), ids.end(), id) -
                                         ids.begin());
    };
    auto rowOf = [&](std::int64_t k) { return ranges ? a.row[k] - minRow : rank(rowId, a.row[k]); };

    g.start.assign(static_cast<std::size_t>(g.nRows) + 1, 0);
    for (std::int64_t k = 0; k < m; ++k)
        ++g.start[rowOf(k) + 1];
    for (std::int32_t i = 0; i < g.nRows; ++i)
        g.start[i + 1] += g.start[i];
    if (ranges && byRow) {
        g.col = a.col;
        g.cost = a.cost;
    } else {
        std::vector<std::int32_t> c(m);
        std::vector<double> w(m);
        std::vector<std::int64_t> next(g.start.begin(), g.start.end() - 1);
        for (std::int64_t k = 0; k < m; ++k) {
            std::int64_t pos = next[rowOf(k)]++;
            c[pos] = ranges ? a.col[k] : rank(colId, a.col[k]);
            w[pos] = a.cost[k];
        }
        g.adopt(std::move(c), std::move(w));
    }
    std::int64_t rowsWithArcs = 0;
    for (std::int32_t i = 0; i < g.nRows; ++i)
        rowsWithArcs += g.hasArcs(i);
    auto rowNode = [&](std::int32_t i) { return ranges ? minRow + i : rowId[i]; };
    auto colNode = [&](std::int32_t j) { return ranges ? minCol + j : colId[j]; };

    {
        SapSolution sol = solveSparseAssignment(g);
        if (std::string why = verifyAssignment(g, sol, kDualTolerance * std::max(1.0, maxCost));
            !why.empty()) {
            res.status = kNetOptFailed;
            res.detail = "the assignment failed verification: " + why;
            return res;
        }
        for (std::int32_t i = 0; i < g.nRows; ++i) {
            std::int32_t j = sol.colOfRow[i];
            if (j < 0 || j >= g.nCols) continue;
            double c = std::numeric_limits<double>::infinity();
            for (std::int64_t k = g.start[i]; k < g.start[i + 1]; ++k)
                if (g.col[k] - g.colBase == j) c = std::min(c, g.cost[k]);
            res.arcs.push_back({rowNode(i), colNode(j), c});
            res.objective += c;
        }
        res.status = sol.complete ? kNetOptOptimal : kNetOptCheck;
        if (!sol.complete)
            res.detail =
                fmt::format("{} of {} rows could be assigned", res.arcs.size(), rowsWithArcs);
    }
    return res;
}

} // namespace

AssignmentResult NetworkOptimizer::assign(const AssignmentArcs& arcs) const {
    try {
        return solve(arcs);
    } catch (const std::bad_alloc&) {
        AssignmentResult res;
        res.status = kNetOptNoMemory;
        res.detail = fmt::format("out of memory for an assignment of {} arcs", arcs.row.size());
        return res;
    }
}

} // namespace velloc::host

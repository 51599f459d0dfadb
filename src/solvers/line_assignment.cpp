#include "solvers/line_assignment.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <new>

#include <fmt/format.h>

#include "solvers/assignment.h"
#include "solvers/line_matching.h"
#include "solvers/network_optimizer.h"

namespace velloc::host {
namespace {

// Costs and duals are whole numbers held in doubles; below this every sum the search forms
// is exact.
constexpr double kExactLimit = 1125899906842624.0; // 2^50
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The working pairs of every row, shared by the parts (which own disjoint rows).
struct WorkingPairs {
    std::vector<std::vector<std::int32_t>> colsOf; // by row
    std::vector<std::int64_t> quota;               // violated pairs a row may bring in a round

    bool join(std::int32_t r, std::int32_t c) {
        std::vector<std::int32_t>& cols = colsOf[r];
        if (std::find(cols.begin(), cols.end(), c) != cols.end()) return false;
        cols.push_back(c);
        return true;
    }
};

// One part of the problem, solved with every one of its rows placed, or with every one of its
// columns placed (`byColumn`: the part where rows outnumber what their windows hold; the
// search's rows are then the part's columns). Either way the search needs no "unassigned"
// choice, whose cost above every assignment would send each search through the whole part.
class AssignPart {
  public:
    AssignPart(const LinePairs& p, WorkingPairs& work, std::vector<std::int32_t> rows,
               std::vector<char> colIn, bool byColumn)
        : p_(p), work_(work), rows_(std::move(rows)), colIn_(std::move(colIn)), byColumn_(byColumn),
          rowLocal_(p.rows(), -1), colLocal_(p.cols(), -1) {
        for (std::size_t k = 0; k < rows_.size(); ++k)
            rowLocal_[rows_[k]] = static_cast<std::int32_t>(k);
        if (byColumn_)
            for (std::int32_t c = 0; c < p_.cols(); ++c)
                if (colIn_[c])
                    colLocal_[c] = static_cast<std::int32_t>(cols_.size()), cols_.push_back(c);
    }

    bool empty() const { return rows_.empty(); }
    std::int64_t nodes() const { return std::ssize(rows_) + std::ssize(cols_); }
    std::int64_t pairs() const {
        std::int64_t n = 0;
        for (std::int32_t r : rows_)
            n += std::ssize(work_.colsOf[r]);
        return n;
    }

    // The nearest `candidates` columns of each row, by pricing at column terms 0.
    void seed(LinePricer& pricer, std::int32_t candidates) {
        setTerms(pricer, /*withDuals=*/false);
        const std::int64_t below = -(p_.maxCost() + 1);
        for (std::int32_t r : rows_) {
            work_.quota[r] = candidates;
            found_.clear();
            pricer.violated(r, below, candidates, found_);
            for (const PricedPair& f : found_)
                add(r, f.col);
        }
    }
    // Brings pair (r, c) into the working pairs; false when it is there already.
    bool add(std::int32_t r, std::int32_t c) {
        if (!work_.join(r, c)) return false;
        if (!byColumn_ && colLocal_[c] < 0) {
            colLocal_[c] = static_cast<std::int32_t>(cols_.size());
            cols_.push_back(c);
        }
        return true;
    }

    // Solves the working pairs; an empty string, or why the solution cannot be used.
    std::string solve() {
        g_ = std::make_unique<SparseRows>();
        SparseRows& g = *g_;
        const auto nRows = static_cast<std::int32_t>(byColumn_ ? cols_.size() : rows_.size());
        const auto nCols = static_cast<std::int32_t>(byColumn_ ? rows_.size() : cols_.size());
        g.nRows = nRows;
        g.nCols = nCols;
        g.start.assign(static_cast<std::size_t>(nRows) + 1, 0);
        std::vector<std::int32_t> col;
        std::vector<double> cost;
        if (!byColumn_) {
            for (std::int32_t k = 0; k < nRows; ++k) {
                const std::int32_t r = rows_[k];
                for (std::int32_t c : work_.colsOf[r]) {
                    col.push_back(colLocal_[c]);
                    cost.push_back(static_cast<double>(p_.cost(r, c)));
                }
                g.start[k + 1] = static_cast<std::int64_t>(col.size());
            }
        } else {
            // Grouped by column, by counting.
            for (std::int32_t r : rows_)
                for (std::int32_t c : work_.colsOf[r])
                    ++g.start[colLocal_[c] + 1];
            for (std::int32_t k = 0; k < nRows; ++k)
                g.start[k + 1] += g.start[k];
            col.resize(g.start[nRows]);
            cost.resize(g.start[nRows]);
            std::vector<std::int64_t> at(g.start.begin(), g.start.end() - 1);
            for (std::int32_t j = 0; j < nCols; ++j)
                for (std::int32_t c : work_.colsOf[rows_[j]]) {
                    const std::int64_t k = at[colLocal_[c]]++;
                    col[k] = j;
                    cost[k] = static_cast<double>(p_.cost(rows_[j], c));
                }
        }
        g.adopt(std::move(col), std::move(cost));
        // Each round starts afresh: a search started from the last round's column duals
        // can leave columns free at a negative dual, and settling those cascades.
        sol_ = solveSparseAssignment(g);
        if (!sol_.complete) return "the working pairs leave a row or column out";
        return verifyAssignment(g, sol_, 0.25);
    }

    // Prices every pair of the part against the duals and brings the violated ones in; the
    // number brought in.
    std::int64_t price(LinePricer& pricer) {
        setTerms(pricer, true);
        std::int64_t joined = 0;
        for (std::int32_t r : rows_) {
            found_.clear();
            pricer.violated(r, -rowDual(r), work_.quota[r], found_);
            std::int64_t added = 0;
            for (const PricedPair& f : found_)
                added += add(r, f.col);
            if (added > 0) work_.quota[r] = std::min<std::int64_t>(work_.quota[r], 1 << 29) * 2;
            joined += added;
        }
        return joined;
    }

    // Writes the part's assignment into colOfRow; an empty string, or the first pair of the
    // part left out at negative reduced cost.
    std::string collect(LinePricer& pricer, std::vector<std::int32_t>& colOfRow,
                        std::int64_t& objective, std::int64_t& assigned) {
        setTerms(pricer, true);
        for (std::int32_t r : rows_)
            if (pricer.minReduced(r, -rowDual(r), p_.lo[r], p_.hi[r]) < 0)
                return fmt::format("a pair of row {} is left out at negative reduced cost", r);
        for (std::int32_t k = 0; k < g_->nRows; ++k) {
            const std::int32_t j = sol_.colOfRow[k];
            if (j < 0) continue;
            const std::int32_t r = byColumn_ ? rows_[j] : rows_[k];
            const std::int32_t c = byColumn_ ? cols_[k] : cols_[j];
            colOfRow[r] = c;
            objective += p_.cost(r, c);
            ++assigned;
        }
        return {};
    }

  private:
    // The duals of a row and a column of the part in the pairs' terms: a pair's reduced cost
    // is cost - rowDual - colDual. A column the search has not seen is free at dual 0.
    double rowDual(std::int32_t r) const {
        const std::int32_t k = rowLocal_[r];
        return byColumn_ ? sol_.v[k] : sol_.u[k];
    }
    double colDual(std::int32_t c) const {
        const std::int32_t k = colLocal_[c];
        if (k < 0) return 0;
        return byColumn_ ? sol_.u[k] : sol_.v[k];
    }

    // Column terms of the pricer: the part's columns at -colDual (0 without duals), every
    // other column never violated.
    void setTerms(LinePricer& pricer, bool withDuals) {
        terms_.assign(p_.cols(), kNever);
        for (std::int32_t c = 0; c < p_.cols(); ++c)
            if (colIn_[c]) terms_[c] = withDuals ? -static_cast<std::int64_t>(colDual(c)) : 0;
        pricer.setColumnTerms(terms_);
    }

    const LinePairs& p_;
    WorkingPairs& work_;
    std::vector<std::int32_t> rows_;
    std::vector<char> colIn_;
    const bool byColumn_;
    std::vector<std::int32_t> rowLocal_, colLocal_;
    // The columns of the search: all of the part's columns by column, else those touched, in
    // order of first touch.
    std::vector<std::int32_t> cols_;
    std::vector<std::int64_t> terms_;
    std::vector<PricedPair> found_;
    std::unique_ptr<SparseRows> g_;
    SapSolution sol_;
};

} // namespace

LineAssignment assignOnLine(const LinePairs& pairs, std::int32_t candidates,
                            const LineRoundObserver& onRound) {
    LineAssignment res;
    if (std::string why = pairs.check(); !why.empty()) {
        res.status = kNetOptBadInput;
        res.detail = std::move(why);
        return res;
    }
    // Duals stay within the cost of a row's path through every row.
    const double dualBound =
        static_cast<double>(pairs.maxCost()) * (static_cast<double>(pairs.rows()) + 1) + 1;
    if (dualBound * 4 > kExactLimit) {
        res.status = kNetOptBadInput;
        res.detail = "costs too large for exact arithmetic";
        return res;
    }
    try {
        // A largest matching, found without costs, tells which rows some largest assignment
        // leaves out: those rows and their columns form one part, solved by column; the rest
        // are all assigned, to the other columns. Its pairs join the first working sets, so
        // each part has an assignment from the start.
        const LineMatching m = largestLineMatching(pairs);
        LineShortage s = lineShortage(pairs, m);
        if (!s.fault.empty()) {
            res.status = kNetOptFailed;
            res.detail = "the largest matching was not largest: " + s.fault;
            return res;
        }
        WorkingPairs work{std::vector<std::vector<std::int32_t>>(pairs.rows()),
                          std::vector<std::int64_t>(pairs.rows(), 0)};
        std::vector<std::int32_t> shortRows, fullRows;
        for (std::int32_t r = 0; r < pairs.rows(); ++r)
            if (pairs.hasPairs(r)) (s.row[r] ? shortRows : fullRows).push_back(r);
        std::vector<char> otherCols(s.col.size());
        for (std::size_t c = 0; c < s.col.size(); ++c)
            otherCols[c] = !s.col[c];
        std::vector<AssignPart> parts;
        parts.reserve(2);
        parts.emplace_back(pairs, work, std::move(fullRows), std::move(otherCols), false);
        parts.emplace_back(pairs, work, std::move(shortRows), std::move(s.col), true);
        LinePricer pricer(pairs);
        const std::int32_t seedPairs = std::max<std::int32_t>(candidates, 1);
        for (AssignPart& part : parts)
            part.seed(pricer, seedPairs);
        for (std::int32_t r = 0; r < pairs.rows(); ++r)
            if (m.colOfRow[r] >= 0) parts[s.row[r] ? 1 : 0].add(r, m.colOfRow[r]);

        std::vector<char> stale(parts.size(), 1);
        for (bool more = true; more;) {
            LineRound round;
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t k = 0; k < parts.size(); ++k) {
                if (!stale[k] || parts[k].empty()) continue;
                if (std::string why = parts[k].solve(); !why.empty()) {
                    res.status = kNetOptFailed;
                    res.detail = "the working assignment failed verification: " + why;
                    return res;
                }
                round.nodes += parts[k].nodes();
            }
            for (const AssignPart& part : parts)
                round.pairs += part.pairs();
            round.solveSeconds = secondsSince(start);
            const auto priced = std::chrono::steady_clock::now();
            for (std::size_t k = 0; k < parts.size(); ++k) {
                if (!stale[k] || parts[k].empty()) continue;
                const std::int64_t joined = parts[k].price(pricer);
                stale[k] = joined > 0;
                round.joined += joined;
            }
            round.priceSeconds = secondsSince(priced);
            res.history.push_back(round);
            more = round.joined > 0;
            if (onRound) onRound(res.history);
        }
        res.colOfRow.assign(pairs.rows(), -1);
        for (AssignPart& part : parts) {
            if (part.empty()) continue;
            if (std::string why = part.collect(pricer, res.colOfRow, res.objective, res.assigned);
                !why.empty()) {
                res.status = kNetOptFailed;
                res.detail = std::move(why);
                res.colOfRow.clear();
                return res;
            }
        }
        res.status = s.rows == 0 ? kNetOptOptimal : kNetOptCheck;
        if (res.assigned != m.size) {
            res.status = kNetOptFailed;
            res.detail = fmt::format("{} rows assigned where {} can be", res.assigned, m.size);
        }
        return res;
    } catch (const std::bad_alloc&) {
        res.status = kNetOptNoMemory;
        res.detail =
            fmt::format("out of memory for {} rows and {} columns", pairs.rows(), pairs.cols());
    }
    return res;
}

} // namespace velloc::host

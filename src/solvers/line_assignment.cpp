#include "solvers/line_assignment.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

#include <fmt/format.h>

#include "solvers/assignment.h"
#include "solvers/network_optimizer.h"

namespace velloc::host {
namespace {

// Costs and duals are whole numbers held in doubles; below this every sum the search forms
// is exact.
constexpr double kExactLimit = 1125899906842624.0; // 2^50

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The working pairs of each row and the columns they touch. Each round's search runs on the
// touched columns, numbered in order of first touch, plus a private column per row at a cost
// above any assignment, so that every row is assigned and the duals stay plain numbers.
class AssignWork {
  public:
    AssignWork(const LinePairs& p, double unassigned)
        : p_(p), rowCols_(p.rows()), quota_(p.rows(), 0), local_(p.cols(), -1),
          unassigned_(unassigned), pricer_(p) {}

    void seed(std::int32_t candidates) {
        const std::int64_t below = -(p_.maxCost() + 1);
        pricer_.setColumnTerms(std::vector<std::int64_t>(p_.cols(), 0));
        for (std::int32_t r = 0; r < p_.rows(); ++r) {
            quota_[r] = candidates;
            found_.clear();
            pricer_.violated(r, below, candidates, found_);
            for (const PricedPair& f : found_)
                join(r, f.col);
        }
    }

    // Solves the working set; an empty string, or why its solution cannot be used.
    std::string solve() {
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t touched = static_cast<std::int32_t>(touched_.size());
        g_ = std::make_unique<SparseRows>();
        SparseRows& g = *g_;
        g.nRows = p_.rows();
        g.nCols = touched + p_.rows();
        g.start.assign(static_cast<std::size_t>(p_.rows()) + 1, 0);
        std::vector<std::int32_t> col;
        std::vector<double> cost;
        std::int64_t pairs = 0;
        for (std::int32_t r = 0; r < p_.rows(); ++r) {
            if (p_.hasPairs(r)) {
                for (std::int32_t c : rowCols_[r]) {
                    col.push_back(local_[c]);
                    cost.push_back(static_cast<double>(p_.cost(r, c)));
                }
                pairs += std::ssize(rowCols_[r]);
                col.push_back(touched + r);
                cost.push_back(unassigned_);
            }
            g.start[r + 1] = static_cast<std::int64_t>(col.size());
        }
        g.adopt(std::move(col), std::move(cost));
        // Each round starts afresh: a search started from the last round's column duals
        // can leave columns free at a negative dual, and settling those cascades.
        sol_ = solveSparseAssignment(g);
        const std::string why = sol_.complete ? verifyAssignment(g, sol_, 0.25) : "";
        history_.push_back({g.nRows + g.nCols, pairs, 0, secondsSince(start), 0});
        if (!sol_.complete) return "a row has no column in reach";
        return why;
    }

    // Prices every pair against the duals and joins the violated ones; false when none is.
    bool price() {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::int64_t> colTerm(p_.cols(), 0);
        for (std::int32_t c = 0; c < p_.cols(); ++c)
            if (local_[c] >= 0) colTerm[c] = -static_cast<std::int64_t>(sol_.v[local_[c]]);
        pricer_.setColumnTerms(colTerm);
        std::int64_t joined = 0;
        for (std::int32_t r = 0; r < p_.rows(); ++r) {
            if (!p_.hasPairs(r)) continue;
            found_.clear();
            pricer_.violated(r, rowTerm(r), quota_[r], found_);
            std::int64_t added = 0;
            for (const PricedPair& f : found_)
                added += join(r, f.col);
            if (added > 0) quota_[r] = std::min<std::int64_t>(quota_[r], 1 << 29) * 2;
            joined += added;
        }
        history_.back().joined = joined;
        history_.back().priceSeconds = secondsSince(start);
        return joined > 0;
    }

    std::span<const LineRound> rounds() const { return history_; }

    LineAssignment result() const {
        LineAssignment res;
        res.history = history_;
        res.colOfRow.assign(p_.rows(), -1);
        const std::int32_t touched = static_cast<std::int32_t>(touched_.size());
        for (std::int32_t r = 0; r < p_.rows(); ++r) {
            if (!p_.hasPairs(r)) continue;
            // Every pair, left out or not, at reduced cost >= 0.
            if (pricer_.minReduced(r, rowTerm(r), p_.lo[r], p_.hi[r]) < 0) {
                res.status = kNetOptFailed;
                res.detail =
                    fmt::format("a pair of row {} is left out at negative reduced cost", r);
                return res;
            }
            const std::int32_t j = sol_.colOfRow[r];
            if (j < 0 || j >= touched) continue;
            res.colOfRow[r] = touched_[j];
            res.objective += p_.cost(r, touched_[j]);
            ++res.assigned;
        }
        std::int64_t withPairs = 0;
        for (std::int32_t r = 0; r < p_.rows(); ++r)
            withPairs += p_.hasPairs(r);
        res.status = res.assigned == withPairs ? kNetOptOptimal : kNetOptCheck;
        return res;
    }

  private:
    std::int64_t rowTerm(std::int32_t r) const { return -static_cast<std::int64_t>(sol_.u[r]); }

    bool join(std::int32_t r, std::int32_t c) {
        std::vector<std::int32_t>& cols = rowCols_[r];
        if (std::find(cols.begin(), cols.end(), c) != cols.end()) return false;
        cols.push_back(c);
        if (local_[c] < 0) {
            local_[c] = static_cast<std::int32_t>(touched_.size());
            touched_.push_back(c);
        }
        return true;
    }

    const LinePairs& p_;
    std::vector<std::vector<std::int32_t>> rowCols_;
    std::vector<std::int64_t> quota_;
    std::vector<std::int32_t> local_, touched_;
    const double unassigned_;
    LinePricer pricer_;
    std::vector<PricedPair> found_;
    std::unique_ptr<SparseRows> g_;
    SapSolution sol_;
    std::vector<LineRound> history_;
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
    // An unassigned row costs more than every pair of an assignment together, so a largest
    // assignment always wins, and among the largest the cheapest.
    const double unassigned =
        static_cast<double>(pairs.maxCost()) * (static_cast<double>(pairs.rows()) + 1) + 1;
    if (unassigned * 4 > kExactLimit) {
        res.status = kNetOptBadInput;
        res.detail = "costs too large for exact arithmetic";
        return res;
    }
    try {
        AssignWork work(pairs, unassigned);
        work.seed(std::max<std::int32_t>(candidates, 1));
        for (bool more = true; more;) {
            if (std::string why = work.solve(); !why.empty()) {
                res.status = kNetOptFailed;
                res.detail = "the working assignment failed verification: " + why;
                return res;
            }
            more = work.price();
            if (onRound) onRound(work.rounds());
        }
        return work.result();
    } catch (const std::bad_alloc&) {
        res.status = kNetOptNoMemory;
        res.detail =
            fmt::format("out of memory for {} rows and {} columns", pairs.rows(), pairs.cols());
    }
    return res;
}

} // namespace velloc::host

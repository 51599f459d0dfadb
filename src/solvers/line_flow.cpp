#include "solvers/line_flow.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <stdexcept>

#include <fmt/format.h>

#include "solvers/flow_by_parts.h"
#include "solvers/network_optimizer.h"
#include "solvers/network_simplex.h"

namespace velloc::host {
namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;
// Largest cost x node count the potentials may reach, with room for the artificial arcs.
constexpr std::int64_t kCostRange = 500'000'000'000'000'000;

std::string validate(const LineFlowNetwork& net) {
    if (!net.pairs) return "no pairs";
    const LinePairs& p = *net.pairs;
    if (std::string why = p.check(); !why.empty()) return why;
    const std::int64_t colEnd = std::int64_t(p.rows()) + p.cols();
    if (net.nNodes < colEnd)
        return fmt::format("{} nodes, fewer than the {} rows and columns", net.nNodes, colEnd);
    const std::size_t m = net.tail.size();
    if (net.head.size() != m || net.cost.size() != m || net.capacity.size() != m)
        return "the arc arrays differ in length";
    if (net.supplyNode.size() != net.supply.size()) return "the supply arrays differ in length";
    auto isColumn = [&](std::int32_t v) { return v >= p.rows() && v < colEnd; };
    for (std::size_t k = 0; k < m; ++k) {
        if (net.tail[k] < 0 || net.tail[k] >= net.nNodes || net.head[k] < 0 ||
            net.head[k] >= net.nNodes)
            return fmt::format("arc {} joins nodes {} and {}, outside 0 .. {}", k, net.tail[k],
                               net.head[k], net.nNodes - 1);
        if (isColumn(net.head[k]))
            return fmt::format("arc {} enters column node {}; columns take flow through pairs "
                               "only",
                               k, net.head[k]);
        if (net.cost[k] < 0 || net.capacity[k] < 0)
            return fmt::format("arc {} has cost {} and capacity {}; both must be >= 0", k,
                               net.cost[k], net.capacity[k]);
    }
    if (net.pairCapacity < 0 || net.pairStep < 0) return "pair capacity and step must be >= 0";
    std::int64_t total = 0;
    for (std::size_t k = 0; k < net.supply.size(); ++k) {
        if (net.supplyNode[k] < 0 || net.supplyNode[k] >= net.nNodes)
            return fmt::format("supply {} is at node {}, outside 0 .. {}", k, net.supplyNode[k],
                               net.nNodes - 1);
        total += net.supply[k];
    }
    if (total != 0) return fmt::format("the supplies add up to {}, not 0", total);
    return {};
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The working network and its growth. Invariant: a column node belongs to the network when
// it has a working pair or a supply; every row and every other node always belongs.
class LineWork {
  public:
    explicit LineWork(const LineFlowNetwork& net)
        : net_(net), p_(*net.pairs), nRows_(p_.rows()), colEnd_(nRows_ + p_.cols()),
          member_(net.nNodes, 1), local_(net.nNodes, -1), supply_(net.nNodes, 0), rowCols_(nRows_),
          quota_(nRows_, 0), pricer_(p_) {
        for (std::int32_t v = nRows_; v < colEnd_; ++v)
            member_[v] = 0;
        for (std::size_t k = 0; k < net.supply.size(); ++k) {
            supply_[net.supplyNode[k]] += net.supply[k];
            if (net.supply[k] != 0) member_[net.supplyNode[k]] = 1;
        }
        std::int64_t maxCost = p_.maxCost() + net.pairStep;
        for (std::int64_t c : net.cost)
            maxCost = std::max(maxCost, c);
        maxCost = std::max<std::int64_t>(maxCost, 1);
        if (maxCost > kCostRange / (std::int64_t(net.nNodes) + 2))
            throw std::invalid_argument("costs too large for the node count");
        artificialCost_ = maxCost * (std::int64_t(net.nNodes) + 1) + 1;
    }

    // Each row's `candidates` nearest columns.
    void seed(std::int32_t candidates) {
        const std::int64_t below = -(p_.maxCost() + 1);
        std::vector<std::int64_t> zero(p_.cols(), 0);
        pricer_.setColumnTerms(zero);
        for (std::int32_t r = 0; r < nRows_; ++r) {
            quota_[r] = candidates;
            found_.clear();
            pricer_.violated(r, below, candidates, found_);
            for (const PricedPair& f : found_)
                join(r, f.col);
        }
    }

    // Solves the working network; false when the simplex finds no optimal flow.
    bool solve() {
        nodes_.clear();
        for (std::int32_t v = 0; v < net_.nNodes; ++v)
            if (member_[v]) {
                local_[v] = static_cast<std::int32_t>(nodes_.size());
                nodes_.push_back(v);
            } else {
                local_[v] = -1;
            }
        const std::int32_t n = static_cast<std::int32_t>(nodes_.size()), extra = n;
        arcs_.clear();
        for (std::int32_t r = 0; r < nRows_; ++r)
            for (std::int32_t c : rowCols_[r])
                arcs_.push_back({local_[r], local_[nRows_ + c], p_.cost(r, c) + net_.pairStep,
                                 net_.pairCapacity});
        nWorkPairs_ = arcs_.size();
        listed_.clear();
        for (std::size_t k = 0; k < net_.tail.size(); ++k)
            if (local_[net_.tail[k]] >= 0 && local_[net_.head[k]] >= 0) {
                listed_.push_back(k);
                arcs_.push_back(
                    {local_[net_.tail[k]], local_[net_.head[k]], net_.cost[k], net_.capacity[k]});
            }
        firstArtificial_ = arcs_.size();
        std::vector<std::int64_t> supply(static_cast<std::size_t>(n) + 1, 0);
        for (std::int32_t a = 0; a < n; ++a) {
            const std::int64_t s = supply_[nodes_[a]];
            supply[a] = s;
            if (s > 0) arcs_.push_back({a, extra, artificialCost_, s});
            if (s < 0) arcs_.push_back({extra, a, 0, -s});
        }
        const auto start = std::chrono::steady_clock::now();
        byParts_ = !whole_ && solveByParts(n, supply);
        if (!byParts_) sol_ = simplex(n + 1, arcs_, supply, PivotRule::kCandidateList);
        history_.push_back({n, static_cast<std::int64_t>(nWorkPairs_), 0, seconds(start), 0,
                            byParts_ ? nParts_ : 0});
        return sol_.optimal;
    }

    // After pricing finds nothing more: whether the flow must be solved again on the whole
    // working network, because the parts routed supply on artificial arcs, which there are
    // only dearer than paths within a part and so may have left out a dearer real routing.
    bool needsWholeSolve() {
        if (!byParts_ || partsArtificial_ == 0) return false;
        whole_ = true;
        return true;
    }

    // Prices every pair against the last solve's potentials and joins the violated ones;
    // false when none is left out.
    bool price() {
        const auto start = std::chrono::steady_clock::now();
        potentials();
        std::int64_t joinedPairs = 0;
        bool joined = false;
        for (std::int32_t r = 0; r < nRows_; ++r) {
            if (!p_.hasPairs(r)) continue;
            const std::int64_t have = static_cast<std::int64_t>(rowCols_[r].size());
            found_.clear();
            // Violated pairs already in the network are saturated ones; ask for enough more.
            pricer_.violated(r, rowTerm(r), quota_[r] + have, found_);
            std::int64_t added = 0;
            for (const PricedPair& f : found_)
                if (added < quota_[r] && join(r, f.col)) ++added;
            joinedPairs += added;
            if (added > 0) {
                joined = true;
                quota_[r] = std::min<std::int64_t>(quota_[r], 1 << 29) * 2;
            }
        }
        history_.back().joined = joinedPairs;
        history_.back().priceSeconds = seconds(start);
        return joined;
    }

    std::span<const LineRound> rounds() const { return history_; }

    // The result of the last solve, verified.
    LineFlowResult result() const {
        LineFlowResult res;
        res.history = history_;
        res.workingPairs = static_cast<std::int64_t>(nWorkPairs_);
        for (std::size_t a = firstArtificial_; a < arcs_.size(); ++a)
            if (arcs_[a].tail != static_cast<std::int32_t>(nodes_.size()))
                res.unrouted += sol_.flow[a];
        if (res.unrouted > 0 && !net_.allowPartial) {
            res.status = kNetOptInfeasible;
            res.detail = "no flow meets the supplies within the capacities";
            return res;
        }
        if (std::string why = verify(); !why.empty()) {
            res.status = kNetOptFailed;
            res.detail = "the flow failed verification: " + why;
            return res;
        }
        std::size_t a = 0;
        for (std::int32_t r = 0; r < nRows_; ++r) {
            std::vector<std::pair<std::int32_t, std::int64_t>> flows;
            for (std::int32_t c : rowCols_[r]) {
                if (sol_.flow[a] != 0) flows.push_back({c, sol_.flow[a]});
                ++a;
            }
            std::sort(flows.begin(), flows.end());
            for (auto [c, f] : flows) {
                res.pairs.push_back({r, c, f});
                res.objective += (p_.cost(r, c) + net_.pairStep) * f;
            }
        }
        res.arcFlow.assign(net_.tail.size(), 0);
        for (std::size_t k = 0; k < listed_.size(); ++k) {
            res.arcFlow[listed_[k]] = sol_.flow[nWorkPairs_ + k];
            res.objective += net_.cost[listed_[k]] * sol_.flow[nWorkPairs_ + k];
        }
        res.status = res.unrouted > 0 ? kNetOptCheck : kNetOptOptimal;
        if (res.unrouted > 0)
            res.detail = fmt::format("{} units of supply cannot be routed", res.unrouted);
        return res;
    }

  private:
    // The working network solved part by part (see flowByParts) into sol_; false when it does
    // not split.
    bool solveByParts(std::int32_t n, const std::vector<std::int64_t>& supply) {
        std::vector<std::uint8_t> isSink(n);
        for (std::int32_t a = 0; a < n; ++a)
            isSink[a] = nodes_[a] >= colEnd_;
        const PartsFlow pf = flowByParts(n, std::span(arcs_).first(firstArtificial_),
                                         std::span(supply).first(n), isSink, &bracket_);
        if (!pf.used || !pf.optimal) return false;
        sol_.optimal = true;
        sol_.flow.assign(arcs_.size(), 0);
        std::copy(pf.flow.begin(), pf.flow.end(), sol_.flow.begin());
        for (std::size_t a = firstArtificial_; a < arcs_.size(); ++a) {
            const WorkArc& w = arcs_[a];
            if (w.head == n)
                sol_.flow[a] = pf.artificialOut[w.tail];
            else
                sol_.flow[a] = pf.artificialIn[w.head == pf.sinks[0] ? 0 : 1];
        }
        sol_.potential.assign(pf.potential.begin(), pf.potential.end());
        sol_.potential.push_back(0);
        partsArtificial_ = pf.artificialTotal;
        nParts_ = pf.parts;
        return true;
    }

    bool join(std::int32_t r, std::int32_t c) {
        std::vector<std::int32_t>& cols = rowCols_[r];
        if (std::find(cols.begin(), cols.end(), c) != cols.end()) return false;
        cols.push_back(c);
        member_[nRows_ + c] = 1;
        return true;
    }

    std::int64_t rowTerm(std::int32_t r) const { return pi_[r] + net_.pairStep; }

    // Potentials of every node: the simplex's for members; for a column outside the network
    // the least that keeps its listed arcs out at reduced cost >= 0 (it carries no flow), so
    // that its pairs price as low as they can; -kNever when no arc leaves it.
    void potentials() {
        pi_.assign(net_.nNodes, 0);
        for (std::size_t a = 0; a < nodes_.size(); ++a)
            pi_[nodes_[a]] = sol_.potential[a];
        std::vector<std::int64_t> outside(p_.cols(), -kNever);
        for (std::size_t k = 0; k < net_.tail.size(); ++k) {
            const std::int32_t t = net_.tail[k];
            if (t >= nRows_ && t < colEnd_ && !member_[t] && net_.capacity[k] > 0)
                outside[t - nRows_] =
                    std::max(outside[t - nRows_], pi_[net_.head[k]] - net_.cost[k]);
        }
        std::vector<std::int64_t> colTerm(p_.cols());
        for (std::int32_t c = 0; c < p_.cols(); ++c) {
            if (!member_[nRows_ + c]) pi_[nRows_ + c] = outside[c];
            colTerm[c] = -pi_[nRows_ + c];
        }
        pricer_.setColumnTerms(colTerm);
    }

    // Conservation and bounds on the working network, complementary slackness on its arcs,
    // and every pair left out at reduced cost >= 0 (range minima over the gaps of each row's
    // window between its working columns).
    std::string verify() const {
        const std::int32_t n = static_cast<std::int32_t>(nodes_.size());
        std::vector<std::int64_t> balance(static_cast<std::size_t>(n) + 1, 0);
        for (std::int32_t a = 0; a < n; ++a)
            balance[a] = supply_[nodes_[a]];
        for (std::size_t a = 0; a < arcs_.size(); ++a) {
            const WorkArc& w = arcs_[a];
            const std::int64_t f = sol_.flow[a];
            if (f < 0 || f > w.capacity)
                return fmt::format("working arc {} carries {} outside 0 .. {}", a, f, w.capacity);
            balance[w.tail] -= f;
            balance[w.head] += f;
            if (a >= firstArtificial_) continue;
            const __int128 red = __int128(w.cost) + sol_.potential[w.tail] - sol_.potential[w.head];
            if ((f < w.capacity && red < 0) || (f > 0 && red > 0))
                return fmt::format("working arc {} breaks complementary slackness", a);
        }
        for (std::int32_t a = 0; a <= n; ++a)
            if (balance[a] != 0) return fmt::format("node {} is out of balance", a);
        std::vector<std::int32_t> cols;
        for (std::int32_t r = 0; r < nRows_; ++r) {
            if (!p_.hasPairs(r)) continue;
            cols = rowCols_[r];
            std::sort(cols.begin(), cols.end());
            std::int32_t from = p_.lo[r];
            cols.push_back(p_.hi[r]);
            for (std::int32_t c : cols) {
                if (from < c && pricer_.minReduced(r, rowTerm(r), from, c) < 0)
                    return fmt::format("a pair of row {} in columns {} .. {} is left out at "
                                       "negative reduced cost",
                                       r, from, c - 1);
                from = c + 1;
            }
        }
        return {};
    }

    const LineFlowNetwork& net_;
    const LinePairs& p_;
    const std::int32_t nRows_, colEnd_;
    std::vector<std::uint8_t> member_;
    std::vector<std::int32_t> local_, nodes_;
    std::vector<std::int64_t> supply_, pi_;
    std::vector<std::vector<std::int32_t>> rowCols_;
    std::vector<std::int64_t> quota_;
    LinePricer pricer_;
    std::vector<PricedPair> found_;
    std::vector<WorkArc> arcs_;
    std::vector<std::size_t> listed_;
    std::size_t nWorkPairs_ = 0, firstArtificial_ = 0;
    std::int64_t artificialCost_ = 0;
    SimplexOut sol_;
    bool whole_ = false, byParts_ = false;
    std::int64_t partsArtificial_ = 0, nParts_ = 0;
    PriceBracket bracket_; // where the last round's price search ended
    std::vector<LineRound> history_;
};

} // namespace

LineFlowResult minCostLineFlow(const LineFlowNetwork& net, std::int32_t candidates,
                               const LineRoundObserver& onRound) {
    LineFlowResult res;
    if (std::string why = validate(net); !why.empty()) {
        res.status = kNetOptBadInput;
        res.detail = std::move(why);
        return res;
    }
    try {
        LineWork work(net);
        work.seed(std::max<std::int32_t>(candidates, 1));
        for (bool more = true; more;) {
            if (!work.solve()) {
                res.status = kNetOptFailed;
                res.detail = "the solver found no optimal flow";
                return res;
            }
            more = work.price() || work.needsWholeSolve();
            if (onRound) onRound(work.rounds());
        }
        return work.result();
    } catch (const std::invalid_argument& e) {
        res.status = kNetOptBadInput;
        res.detail = e.what();
    } catch (const std::bad_alloc&) {
        res.status = kNetOptNoMemory;
        res.detail = fmt::format("out of memory for {} rows, {} columns and {} pairs",
                                 net.pairs->rows(), net.pairs->cols(), net.pairs->count());
    }
    return res;
}

} // namespace velloc::host

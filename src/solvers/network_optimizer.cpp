// Minimum-cost flow mode of the network-optimization service.
#include "solvers/network_optimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include <fmt/format.h>

#include "solvers/network_simplex.h"

namespace velloc::host {
namespace {

constexpr double kCostScale = 1e9;
// Potentials and reduced costs stay within (largest cost) x (nodes + 2) of zero, plus as
// much again for the artificial arcs of the pricing loop; keep that well inside 64 bits,
// with room for the simplex's own artificial arcs.
constexpr double kCostRange = 5e17;

bool isWhole(double x) {
    return std::isfinite(x) && x == std::floor(x);
}

std::string validate(const FlowNetwork& net) {
    const std::size_t m = net.tail.size();
    if (net.nNodes < 0) return fmt::format("the node count {} is negative", net.nNodes);
    if (net.head.size() != m || net.cost.size() != m || net.capacity.size() != m)
        return fmt::format("the arc arrays differ in length ({} tails, {} heads, {} costs, {} "
                           "capacities)",
                           m, net.head.size(), net.cost.size(), net.capacity.size());
    if (net.supplyNode.size() != net.supply.size())
        return fmt::format("{} supply nodes but {} supplies", net.supplyNode.size(),
                           net.supply.size());
    for (std::size_t k = 0; k < m; ++k) {
        if (net.tail[k] < 0 || net.tail[k] >= net.nNodes || net.head[k] < 0 ||
            net.head[k] >= net.nNodes)
            return fmt::format("arc {} joins nodes {} and {}, outside 0 .. {}", k, net.tail[k],
                               net.head[k], net.nNodes - 1);
        if (!std::isfinite(net.cost[k]) || net.cost[k] < 0)
            return fmt::format("arc {} has cost {}; costs must be finite and >= 0", k, net.cost[k]);
        double cap = net.capacity[k];
        if (!(cap >= 0) || (std::isfinite(cap) && (!isWhole(cap) || cap > 1e18)))
            return fmt::format("arc {} has capacity {}; capacities must be whole and >= 0", k, cap);
    }
    for (std::size_t k = 0; k < net.supply.size(); ++k) {
        if (net.supplyNode[k] < 0 || net.supplyNode[k] >= net.nNodes)
            return fmt::format("supply {} is at node {}, outside 0 .. {}", k, net.supplyNode[k],
                               net.nNodes - 1);
        if (!isWhole(net.supply[k]) || std::fabs(net.supply[k]) > 1e18)
            return fmt::format("supply {} is {}; supplies must be whole numbers", k, net.supply[k]);
    }
    return {};
}

std::int64_t capacityOf(double cap) {
    return std::isfinite(cap) ? static_cast<std::int64_t>(cap)
                              : std::numeric_limits<std::int64_t>::max();
}

// The node supplies of the network, indexed by node with a slot for the extra node. False,
// with the result's status and detail, when they do not add up to 0.
bool nodeSupplies(const FlowNetwork& net, std::vector<std::int64_t>& supply, FlowResult& res) {
    supply.assign(static_cast<std::size_t>(net.nNodes) + 1, 0);
    std::int64_t total = 0;
    for (std::size_t k = 0; k < net.supply.size(); ++k) {
        supply[net.supplyNode[k]] += static_cast<std::int64_t>(net.supply[k]);
        total += static_cast<std::int64_t>(net.supply[k]);
    }
    if (total == 0) return true;
    res.status = kNetOptInfeasible;
    res.detail = fmt::format("the supplies add up to {}, not 0", total);
    return false;
}

// The caller's arcs that the working network holds, and the rules by which more join.
class WorkingArcs {
  public:
    WorkingArcs(const FlowNetwork& net, double scale, std::int32_t candidates)
        : net_(net), scale_(scale), m_(std::ssize(net.tail)), candidates_(candidates),
          chosen_(m_, 0), quota_(net.nNodes, candidates) {}

    std::int64_t cost(std::int64_t k) const { return scaledCost(net_.cost[k], scale_); }
    const std::vector<std::uint32_t>& arcs() const { return work_; }

    // The first working network: each run of arcs of one tail (a matching network lists each
    // treated unit's pairs together) brings its cheapest arcs, and each node its cheapest arc
    // in, so that every node that can receive flow can receive it in the working network too,
    // which keeps the artificial arcs idle in most networks.
    void seed() {
        std::vector<std::int64_t> bestIn(net_.nNodes, -1), bestInCost(net_.nNodes, 0);
        for (std::int64_t k = 0, end; k < m_; k = end) {
            end = runEnd(k);
            for (std::int64_t a = k; a < end; ++a) {
                if (!(net_.capacity[a] > 0)) continue;
                const std::int64_t c = cost(a);
                const std::int32_t h = net_.head[a];
                if (bestIn[h] < 0 || c < bestInCost[h]) bestIn[h] = a, bestInCost[h] = c;
                if (end - k <= candidates_)
                    join(a);
                else
                    pick_.push_back({c, static_cast<std::uint32_t>(a)});
            }
            joinBest(candidates_);
        }
        for (std::int64_t k : bestIn)
            if (k >= 0) join(k);
    }

    // Prices every arc left out against the potentials of the last solve, whose working
    // network held arcs() and then the artificial arcs, nArcs in all. Returns false when no
    // arc joins: the flow is then optimal on the whole network.
    bool price(const SimplexOut& sol, std::size_t nArcs, std::int64_t artificialCost,
               std::int32_t extra) {
        const std::size_t before = work_.size();
        const std::vector<std::int64_t>& pi = sol.potential;
        auto reduced = [&](std::int64_t a) {
            return __int128(cost(a)) + pi[net_.tail[a]] - pi[net_.head[a]];
        };
        // When the arcs priced out are no more than the working network holds, they all
        // join: competition for controls moves one step further each round, and each round
        // costs a whole simplex. Otherwise each tail brings its most negative few, twice as
        // many each time it comes back (a treated unit that competes for its nearest
        // controls may need its fiftieth).
        std::size_t priced = 0;
        for (std::int64_t a = 0; a < m_; ++a)
            priced += !chosen_[a] && net_.capacity[a] > 0 && reduced(a) < 0;
        if (priced == 0) return false;
        // Supplies routed through the artificial arcs sit about one artificial cost below the
        // extra node's potential, and so do the units they compete with. Pricing sees only
        // the rim of that region, one step a round; all arcs out of the region join at once.
        bool artificialFlow = false;
        for (std::size_t a = before; a < nArcs; ++a)
            artificialFlow |= sol.flow[a] != 0;
        const std::size_t budget = std::max<std::size_t>(before, 1u << 20);
        if (artificialFlow) {
            // Unless the region is most of the network (a network with no flow at all), whose
            // simplex would cost what pricing saves.
            const __int128 rim = __int128(pi[extra]) - artificialCost / 2;
            std::size_t inRegion = 0;
            for (std::int64_t a = 0; a < m_; ++a)
                inRegion += !chosen_[a] && pi[net_.tail[a]] < rim;
            if (inRegion <= 4 * budget)
                for (std::int64_t a = 0; a < m_; ++a)
                    if (pi[net_.tail[a]] < rim) join(a);
        }
        if (priced <= budget) {
            for (std::int64_t a = 0; a < m_; ++a)
                if (!chosen_[a] && net_.capacity[a] > 0 && reduced(a) < 0) join(a);
            return true;
        }
        constexpr std::int64_t kMinKey = std::numeric_limits<std::int64_t>::min();
        for (std::int64_t k = 0, end; k < m_; k = end) {
            end = runEnd(k);
            for (std::int64_t a = k; a < end; ++a) {
                if (chosen_[a] || !(net_.capacity[a] > 0)) continue;
                const __int128 red = reduced(a);
                if (red < 0)
                    pick_.push_back({static_cast<std::int64_t>(std::max<__int128>(red, kMinKey)),
                                     static_cast<std::uint32_t>(a)});
            }
            if (pick_.empty()) continue;
            std::int32_t& most = quota_[net_.tail[k]];
            joinBest(most);
            most = std::min<std::int32_t>(most, 1 << 29) * 2;
        }
        return work_.size() != before;
    }

  private:
    // Arcs that cannot carry flow never join.
    void join(std::int64_t k) {
        if (!chosen_[k] && net_.capacity[k] > 0) {
            chosen_[k] = 1;
            work_.push_back(static_cast<std::uint32_t>(k));
        }
    }
    // Joins the `most` smallest keys of pick_ (ties by arc number).
    void joinBest(std::int64_t most) {
        if (std::ssize(pick_) > most) {
            std::nth_element(pick_.begin(), pick_.begin() + most, pick_.end());
            pick_.resize(most);
        }
        for (auto& [key, k] : pick_)
            join(k);
        pick_.clear();
    }
    // The end of the run of arcs with the tail of arc k.
    std::int64_t runEnd(std::int64_t k) const {
        while (++k < m_ && net_.tail[k] == net_.tail[k - 1]) {
        }
        return k;
    }

    const FlowNetwork& net_;
    const double scale_;
    const std::int64_t m_;
    const std::int32_t candidates_;
    std::vector<std::uint8_t> chosen_;
    std::vector<std::uint32_t> work_;
    std::vector<std::pair<std::int64_t, std::uint32_t>> pick_;
    std::vector<std::int32_t> quota_;
};

// The artificial arcs: from each supply node to the extra node at a cost above any path of
// at most n - 1 real arcs, and from the extra node to each demand node at no cost.
std::vector<WorkArc> artificialArcs(const std::vector<std::int64_t>& supply, std::int32_t n,
                                    std::int64_t artificialCost) {
    const std::int32_t extra = n;
    std::vector<WorkArc> artificial;
    for (std::int32_t v = 0; v < n; ++v) {
        if (supply[v] > 0) artificial.push_back({v, extra, artificialCost, supply[v]});
        if (supply[v] < 0) artificial.push_back({extra, v, 0, -supply[v]});
    }
    return artificial;
}

// The result of the final working network's flow: infeasible when an artificial arc still
// carries flow, else the flow on the caller's arcs once it passes verification.
FlowResult flowResult(const FlowNetwork& net, double scale, bool reduced,
                      const std::vector<std::uint32_t>& work, std::size_t nArcs, SimplexOut& sol) {
    FlowResult res;
    const std::int64_t m = std::ssize(net.tail);
    for (std::size_t a = work.size(); a < nArcs; ++a)
        if (sol.flow[a] != 0) {
            res.status = kNetOptInfeasible;
            res.detail = "no flow meets the supplies within the capacities";
            return res;
        }
    res.flow.assign(m, 0.0);
    for (std::size_t a = 0; a < work.size(); ++a)
        res.flow[work[a]] = static_cast<double>(sol.flow[a]);
    sol.potential.resize(net.nNodes);
    if (std::string why = verifyFlow(net, scale, res.flow, sol.potential); !why.empty()) {
        res.flow.clear();
        res.status = kNetOptFailed;
        res.detail = "the flow failed verification: " + why;
        return res;
    }
    for (std::int64_t k = 0; k < m; ++k)
        if (res.flow[k] != 0) res.objective += net.cost[k] * res.flow[k];
    res.status = reduced ? kNetOptCheck : kNetOptOptimal;
    if (reduced) res.detail = "costs too large to be resolved to 1e-9; optimal at a coarser scale";
    return res;
}

// Minimum-cost flow by pricing. Matching networks hold millions of pair arcs of which an
// optimal flow uses a few per node, so the simplex runs on a small working network: every
// node's `candidates` cheapest arcs out and its cheapest arc in, plus artificial arcs from
// each supply node through an extra node to each demand node. Those cost more than any
// path of real arcs, so the working network always has a flow and uses them only when the
// real arcs cannot carry the supplies. After each solve every arc left out is priced
// against the node potentials; arcs of negative reduced cost join (all of them, or the most
// negative few of each tail when they are many) and the network is solved again. When none is left,
// the flow with the left-out arcs at zero meets the optimality conditions on the whole network.
FlowResult solve(const FlowNetwork& net, std::int32_t candidates) {
    FlowResult res;
    if (std::string why = validate(net); !why.empty()) {
        res.status = kNetOptBadInput;
        res.detail = std::move(why);
        return res;
    }
    const std::int64_t m = std::ssize(net.tail);
    const std::int32_t n = net.nNodes;
    if (m >= std::numeric_limits<std::uint32_t>::max() || n >= std::numeric_limits<int>::max()) {
        res.status = kNetOptBadInput;
        res.detail = fmt::format("a network of {} nodes and {} arcs is too large", n, m);
        return res;
    }
    std::vector<std::int64_t> supply;
    if (!nodeSupplies(net, supply, res)) return res;
    bool reduced = false;
    const double scale = costScale(net, &reduced);
    WorkingArcs work(net, scale, candidates);
    work.seed();

    std::int64_t maxCost = 1;
    for (std::int64_t k = 0; k < m; ++k)
        maxCost = std::max(maxCost, work.cost(k));
    const std::int64_t artificialCost = maxCost * std::max<std::int64_t>(n, 1) + 1;
    const std::vector<WorkArc> artificial = artificialArcs(supply, n, artificialCost);

    SimplexOut sol;
    std::vector<WorkArc> arcs;
    do {
        arcs.clear();
        arcs.reserve(work.arcs().size() + artificial.size());
        for (std::uint32_t k : work.arcs())
            arcs.push_back({net.tail[k], net.head[k], work.cost(k), capacityOf(net.capacity[k])});
        arcs.insert(arcs.end(), artificial.begin(), artificial.end());
        sol = simplex(n + 1, arcs, supply);
        if (!sol.optimal) {
            res.status = kNetOptFailed;
            res.detail = "the solver found no optimal flow";
            return res;
        }
    } while (work.price(sol, arcs.size(), artificialCost, n));
    return flowResult(net, scale, reduced, work.arcs(), arcs.size(), sol);
}

} // namespace

double costScale(const FlowNetwork& net, bool* reduced) {
    double maxCost = 0;
    for (double c : net.cost)
        maxCost = std::max(maxCost, c);
    double scale = kCostScale;
    const double nodes = static_cast<double>(net.nNodes) + 2;
    if (maxCost * scale * nodes > kCostRange) scale = kCostRange / (maxCost * nodes);
    if (reduced) *reduced = scale < kCostScale;
    return scale;
}

std::vector<std::int64_t> scaleCosts(const FlowNetwork& net, bool* reduced) {
    const double scale = costScale(net, reduced);
    std::vector<std::int64_t> out(net.cost.size());
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = scaledCost(net.cost[k], scale);
    return out;
}

std::string verifyFlow(const FlowNetwork& net, double scale, std::span<const double> flow,
                       std::span<const std::int64_t> potential) {
    const std::size_t m = net.tail.size();
    if (flow.size() != m || potential.size() != std::size_t(net.nNodes))
        return "the solution arrays have the wrong sizes";
    std::vector<std::int64_t> balance(net.nNodes, 0);
    for (std::size_t k = 0; k < net.supply.size(); ++k)
        balance[net.supplyNode[k]] += static_cast<std::int64_t>(net.supply[k]);
    for (std::size_t k = 0; k < m; ++k) {
        if (!(std::fabs(flow[k]) <= 1e18) || static_cast<std::int64_t>(flow[k]) != flow[k])
            return fmt::format("arc {} carries {}, not a whole number", k, flow[k]);
        const std::int64_t f = static_cast<std::int64_t>(flow[k]);
        const std::int64_t cap = capacityOf(net.capacity[k]);
        if (f < 0 || f > cap) return fmt::format("arc {} carries {} outside 0 .. {}", k, f, cap);
        balance[net.tail[k]] -= f;
        balance[net.head[k]] += f;
        const __int128 red = __int128(scaledCost(net.cost[k], scale)) + potential[net.tail[k]] -
                             potential[net.head[k]];
        if ((f < cap && red < 0) || (f > 0 && red > 0))
            return fmt::format("arc {} breaks complementary slackness (flow {}, reduced cost "
                               "{})",
                               k, f, static_cast<long long>(red));
    }
    for (std::int32_t v = 0; v < net.nNodes; ++v)
        if (balance[v] != 0) return fmt::format("node {} is out of balance by {}", v, balance[v]);
    return {};
}

FlowResult minCostFlowPriced(const FlowNetwork& net, std::int32_t candidates) {
    try {
        return solve(net, std::max<std::int32_t>(candidates, 1));
    } catch (const std::bad_alloc&) {
        FlowResult res;
        res.status = kNetOptNoMemory;
        res.detail = fmt::format("out of memory for a network of {} nodes and {} arcs", net.nNodes,
                                 net.tail.size());
        return res;
    }
}

FlowResult NetworkOptimizer::minCostFlow(const FlowNetwork& net) const {
    return minCostFlowPriced(net, kPricingCandidates);
}

} // namespace velloc::host

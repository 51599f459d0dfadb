// Minimum-cost flow mode of the network-optimization service.
#include "host/netopt.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include <fmt/format.h>
#include <lemon/network_simplex.h>
#include <lemon/static_graph.h>

namespace velloc::host {
namespace {

constexpr double kCostScale = 1e9;
// Potentials and reduced costs stay within (largest cost) x (nodes + 2) of zero; keep that
// well inside 64 bits, with room for the solver's artificial arcs.
constexpr double kCostRange = 1e18;

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

using Graph = lemon::StaticDigraph;

// An arc map computed on demand from the arc's position in the graph.
template <class F> struct ByArc {
    using Key = Graph::Arc;
    using Value = std::int64_t;
    const Graph* g;
    F f;
    Value operator[](Graph::Arc a) const { return f(g->id(a)); }
};
template <class F> ByArc(const Graph*, F) -> ByArc<F>;

FlowResult solve(const FlowNetwork& net) {
    FlowResult res;
    if (std::string why = validate(net); !why.empty()) {
        res.status = kNetOptBadInput;
        res.detail = std::move(why);
        return res;
    }
    const std::int64_t m = std::ssize(net.tail);
    bool reduced = false;
    std::vector<std::int64_t> cost = scaleCosts(net, &reduced);

    // The static graph wants its arcs grouped by tail: a stable counting sort, remembering
    // where each arc came from so that flows go back in the caller's order.
    std::vector<std::int32_t> origin(m);
    Graph g;
    {
        std::vector<std::int64_t> first(net.nNodes + 1, 0);
        for (std::int64_t k = 0; k < m; ++k)
            ++first[net.tail[k] + 1];
        for (std::int32_t v = 0; v < net.nNodes; ++v)
            first[v + 1] += first[v];
        std::vector<std::pair<int, int>> arcs(m);
        for (std::int64_t k = 0; k < m; ++k) {
            std::int64_t pos = first[net.tail[k]]++;
            origin[pos] = static_cast<std::int32_t>(k);
            arcs[pos] = {net.tail[k], net.head[k]};
        }
        g.build(net.nNodes, arcs.begin(), arcs.end());
    }
    Graph::NodeMap<std::int64_t> supplyMap(g, 0);
    std::int64_t total = 0;
    for (std::size_t k = 0; k < net.supply.size(); ++k) {
        supplyMap[g.node(net.supplyNode[k])] += static_cast<std::int64_t>(net.supply[k]);
        total += static_cast<std::int64_t>(net.supply[k]);
    }
    if (total != 0) {
        res.status = kNetOptInfeasible;
        res.detail = fmt::format("the supplies add up to {}, not 0", total);
        return res;
    }

    lemon::NetworkSimplex<Graph, std::int64_t, std::int64_t> ns(g);
    // With supplies adding up to 0, the inequality form holds every node to equality.
    // The solver copies arc data in; read it straight from the caller's arrays.
    ns.upperMap(ByArc{&g, [&](std::int64_t k) { return capacityOf(net.capacity[origin[k]]); }})
        .costMap(ByArc{&g, [&](std::int64_t k) { return cost[origin[k]]; }})
        .supplyMap(supplyMap)
        .supplyType(ns.GEQ);
    auto outcome = ns.run();
    if (outcome == ns.INFEASIBLE) {
        res.status = kNetOptInfeasible;
        res.detail = "no flow meets the supplies within the capacities";
        return res;
    }
    if (outcome != ns.OPTIMAL) {
        res.status = kNetOptFailed;
        res.detail = "the solver found no optimal flow";
        return res;
    }

    std::vector<std::int64_t> flow(m), pi(net.nNodes);
    for (std::int64_t k = 0; k < m; ++k)
        flow[origin[k]] = ns.flow(g.arc(static_cast<int>(k)));
    for (std::int32_t v = 0; v < net.nNodes; ++v)
        pi[v] = ns.potential(g.node(v));
    if (std::string why = verifyFlow(net, cost, flow, pi); !why.empty()) {
        res.status = kNetOptFailed;
        res.detail = "the flow failed verification: " + why;
        return res;
    }
    res.flow.resize(m);
    for (std::int64_t k = 0; k < m; ++k) {
        res.flow[k] = static_cast<double>(flow[k]);
        if (flow[k] != 0) res.objective += net.cost[k] * res.flow[k];
    }
    res.status = reduced ? kNetOptCheck : kNetOptOptimal;
    if (reduced) res.detail = "costs too large to be resolved to 1e-9; optimal at a coarser scale";
    return res;
}

} // namespace

std::vector<std::int64_t> scaleCosts(const FlowNetwork& net, bool* reduced) {
    double maxCost = 0;
    for (double c : net.cost)
        maxCost = std::max(maxCost, c);
    double scale = kCostScale;
    const double nodes = static_cast<double>(net.nNodes) + 2;
    if (maxCost * scale * nodes > kCostRange) scale = kCostRange / (maxCost * nodes);
    if (reduced) *reduced = scale < kCostScale;
    std::vector<std::int64_t> out(net.cost.size());
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = std::max<std::int64_t>(1, std::llround(net.cost[k] * scale));
    return out;
}

std::string verifyFlow(const FlowNetwork& net, std::span<const std::int64_t> cost,
                       std::span<const std::int64_t> flow,
                       std::span<const std::int64_t> potential) {
    const std::size_t m = net.tail.size();
    if (cost.size() != m || flow.size() != m || potential.size() != std::size_t(net.nNodes))
        return "the solution arrays have the wrong sizes";
    std::vector<std::int64_t> balance(net.nNodes, 0);
    for (std::size_t k = 0; k < net.supply.size(); ++k)
        balance[net.supplyNode[k]] += static_cast<std::int64_t>(net.supply[k]);
    for (std::size_t k = 0; k < m; ++k) {
        const std::int64_t f = flow[k], cap = capacityOf(net.capacity[k]);
        if (f < 0 || f > cap) return fmt::format("arc {} carries {} outside 0 .. {}", k, f, cap);
        balance[net.tail[k]] -= f;
        balance[net.head[k]] += f;
        const __int128 red = __int128(cost[k]) + potential[net.tail[k]] - potential[net.head[k]];
        if ((f < cap && red < 0) || (f > 0 && red > 0))
            return fmt::format("arc {} breaks complementary slackness (flow {}, reduced cost "
                               "{})",
                               k, f, static_cast<long long>(red));
    }
    for (std::int32_t v = 0; v < net.nNodes; ++v)
        if (balance[v] != 0) return fmt::format("node {} is out of balance by {}", v, balance[v]);
    return {};
}

FlowResult NetworkOptimizer::minCostFlow(const FlowNetwork& net) const {
    try {
        return solve(net);
    } catch (const std::bad_alloc&) {
        FlowResult res;
        res.status = kNetOptNoMemory;
        res.detail = fmt::format("out of memory for a network of {} nodes and {} arcs", net.nNodes,
                                 net.tail.size());
        return res;
    }
}

} // namespace velloc::host

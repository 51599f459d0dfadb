// The network simplex on a working network, through LEMON's implementation.
#include "solvers/network_simplex.h"

#include <lemon/network_simplex.h>
#include <lemon/static_graph.h>

namespace velloc::host {
namespace {

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

} // namespace

// An optimal flow of the working network by LEMON's network simplex.
SimplexOut simplex(std::int32_t nNodes, std::span<const WorkArc> arcs,
                   std::span<const std::int64_t> supply, PivotRule rule) {
    const std::int64_t m = std::ssize(arcs);
    // The static graph wants its arcs grouped by tail: a stable counting sort, remembering
    // where each arc came from.
    std::vector<std::int32_t> origin(m);
    Graph g;
    {
        std::vector<std::int64_t> first(nNodes + 1, 0);
        for (const WorkArc& a : arcs)
            ++first[a.tail + 1];
        for (std::int32_t v = 0; v < nNodes; ++v)
            first[v + 1] += first[v];
        std::vector<std::pair<int, int>> pairs(m);
        for (std::int64_t k = 0; k < m; ++k) {
            std::int64_t pos = first[arcs[k].tail]++;
            origin[pos] = static_cast<std::int32_t>(k);
            pairs[pos] = {arcs[k].tail, arcs[k].head};
        }
        g.build(nNodes, pairs.begin(), pairs.end());
    }
    Graph::NodeMap<std::int64_t> supplyMap(g, 0);
    for (std::int32_t v = 0; v < nNodes; ++v)
        supplyMap[g.node(v)] = supply[v];

    lemon::NetworkSimplex<Graph, std::int64_t, std::int64_t> ns(g);
    // With supplies adding up to 0, the inequality form holds every node to equality.
    ns.upperMap(ByArc{&g, [&](std::int64_t k) { return arcs[origin[k]].capacity; }})
        .costMap(ByArc{&g, [&](std::int64_t k) { return arcs[origin[k]].cost; }})
        .supplyMap(supplyMap)
        .supplyType(ns.GEQ);
    SimplexOut out;
    if (ns.run(rule == PivotRule::kCandidateList ? ns.CANDIDATE_LIST : ns.ALTERING_LIST) !=
        ns.OPTIMAL)
        return out;
    out.optimal = true;
    out.flow.resize(m);
    out.potential.resize(nNodes);
    for (std::int64_t k = 0; k < m; ++k)
        out.flow[origin[k]] = ns.flow(g.arc(static_cast<int>(k)));
    for (std::int32_t v = 0; v < nNodes; ++v)
        out.potential[v] = ns.potential(g.node(v));
    return out;
}

} // namespace velloc::host

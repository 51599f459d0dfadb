// Minimum-cost flow of a working network that falls apart into small parts once its one or two
// sink nodes are taken out, as the matching networks on a line do: every unit leaves its part
// only into a sink. Each part is solved on its own. With two sinks the parts share one more
// condition, the demand of the first sink; a price on a unit sent there (a Lagrange
// multiplier) decouples them, and the price is searched until the parts together meet that
// demand, which the parts at the final price then meet exactly along paths of zero reduced
// cost. The simplex on the whole network instead spends most of its time updating potentials
// of subtrees that span many parts.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "solvers/network_simplex.h"

namespace velloc::host {

struct PartsFlow {
    // False when the network has another shape, or a part too large to gain from the split or
    // for the exact arithmetic: the caller then solves the network whole.
    bool used = false;
    bool optimal = false;
    std::vector<std::int64_t> flow;      // per arc
    std::vector<std::int64_t> potential; // per node: cost + pi(tail) - pi(head) >= 0 on arcs
                                         // with room, <= 0 on arcs carrying flow (with the
                                         // artificial node at the larger sink potential)
    // What each node sends on its artificial arc, and what each sink receives on them.
    std::vector<std::int64_t> artificialOut;
    std::int64_t artificialIn[2] = {0, 0};
    std::int32_t sinks[2] = {-1, -1}; // the sink nodes, ascending; -1 when there is one
    std::int64_t artificialTotal = 0;
    // For the line flow's rounds and tests: parts, and units moved along paths of zero reduced
    // cost to meet the first sink's demand.
    std::int64_t parts = 0, shifted = 0;
};

// A flow meeting every supply exactly, optimal for the network plus, from each node of supply
// s > 0, an artificial arc of capacity s to a node that passes on at no cost to either sink; its
// cost a unit is dearer than any path of real arcs within a part (not than every path of the
// network: a flow that uses it may leave out a dearer routing through the sinks). Sinks are the
// nodes marked in isSink. Every arc runs within the rest or from it into a sink; supplies are
// >= 0 off the sinks and <= 0 on them and add up to 0; costs and capacities are >= 0. Throws
// std::bad_alloc.
//
// `bracket`, when given, holds the two prices (doubled, odd) the search ended between last time
// (0, 0 at first): a network that changed little since is searched from them, and they are
// updated.
struct PriceBracket {
    std::int64_t lo = 0, hi = 0;
};
PartsFlow flowByParts(std::int32_t nNodes, std::span<const WorkArc> arcs,
                      std::span<const std::int64_t> supply, std::span<const std::uint8_t> isSink,
                      PriceBracket* bracket = nullptr);

} // namespace velloc::host

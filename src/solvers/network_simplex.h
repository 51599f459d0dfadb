// One optimal flow of a small working network by the network simplex: the step the pricing
// loops of the flow mode repeat, on explicit or implicit pair arcs.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace velloc::host {

// One arc of a working network: an arc of the caller's network, or an artificial arc.
struct WorkArc {
    std::int32_t tail, head;
    std::int64_t cost, capacity;
};

struct SimplexOut {
    bool optimal = false;
    std::vector<std::int64_t> flow;      // per working arc
    std::vector<std::int64_t> potential; // per node: cost + pi(tail) - pi(head) >= 0 on arcs
                                         // with room, <= 0 on arcs carrying flow
};

// How the simplex picks its entering arc. The altering candidate list pivots about ten times
// faster than block search on listed matching networks; on the working networks of implicit
// pricing, where most controls hang on two slack arcs, the candidate list is ten times faster
// again.
enum class PivotRule { kAlteringList, kCandidateList };

// An optimal flow meeting every node's supply exactly (supplies add up to 0). Throws
// std::bad_alloc.
SimplexOut simplex(std::int32_t nNodes, std::span<const WorkArc> arcs,
                   std::span<const std::int64_t> supply,
                   PivotRule rule = PivotRule::kAlteringList);

} // namespace velloc::host

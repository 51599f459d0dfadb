// The network-optimization service: minimum-cost flow and sparse linear assignment.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velloc::host {

// Result statuses of both modes.
enum NetOptStatus : int {
    kNetOptOptimal = 0,    // optimal; use the result as returned
    kNetOptInfeasible = 1, // the supplies cannot be routed; no result
    kNetOptFailed = 2,     // the solver failed or its result failed verification; no result
    kNetOptCheck = 3,      // a verified result the caller must check for feasibility
    kNetOptNoMemory = 4,   // storage ran out; no result
    kNetOptBadInput = 5,   // a node out of range, a negative or non-finite cost, ...; no result
};

// A flow network. Nodes are 0 .. nNodes-1; arcs have lower bound 0. Costs are distances
// (finite, >= 0); capacities and supplies are whole numbers (positive supply, negative
// demand; nodes not listed have supply 0).
struct FlowNetwork {
    std::int32_t nNodes = 0;
    std::span<const std::int32_t> tail;
    std::span<const std::int32_t> head;
    std::span<const double> cost;
    std::span<const double> capacity;
    std::span<const std::int32_t> supplyNode;
    std::span<const double> supply;
};

struct FlowResult {
    int status = kNetOptFailed;
    std::vector<double> flow; // one per arc, in arc order; empty unless status 0 or 3
    double objective = 0;     // sum of cost x flow, from the costs as given
    std::string detail;       // why, when the status is not 0
};

// An assignment problem: arc k joins row node row[k] to column node col[k] at cost[k]
// (finite, >= 0). Row and column numbers are >= 0, and no number may be used on both sides.
struct AssignmentArcs {
    std::span<const std::int32_t> row;
    std::span<const std::int32_t> col;
    std::span<const double> cost;
};

struct AssignedArc {
    std::int32_t row;
    std::int32_t col;
    double cost;
};

struct AssignmentResult {
    int status = kNetOptFailed;
    std::vector<AssignedArc> arcs; // ascending row number; empty unless status 0 or 3
    double objective = 0;          // total cost of the assigned arcs
    std::string detail;
};

// Minimum-cost flow mode: an optimal integral flow (status 0), or status 3 when the costs
// were too large to be resolved to 1e-9 and the flow is optimal only at a coarser scale,
// or no flow (1 infeasible, 2, 4, 5). The solver works on whole multiples of 1e-9 (every
// arc at least one step, so zero-cost arcs are not free in ties); the objective is summed
// from the costs as given.
//
// Assignment mode: every row node in at most one assigned arc, every column node in at
// most one. When every row can be assigned, a minimum-cost assignment of all rows (status
// 0). Otherwise a largest assignment, of minimum total cost among the largest ones
// (status 3). Duplicate (row, column) arcs count by their cheapest cost. Arcs listed by
// ascending row, with every row number below (or above) every column number, are read in
// place; other lists are first copied grouped by row (12 bytes per arc).
//
// Every result is verified before it is returned (bounds, conservation, cardinality and
// the optimality conditions against the solver's dual values); a failed verification is
// status 2, never a wrong result.
class NetworkOptimizer {
  public:
    FlowResult minCostFlow(const FlowNetwork& net) const;
    AssignmentResult assign(const AssignmentArcs& arcs) const;
};

// The pieces of the flow mode, for the service and its tests.

// Arcs each node brings into the first working network of the pricing loop.
inline constexpr std::int32_t kPricingCandidates = 8;

// The minimum-cost flow mode with a given number of candidate arcs per node (the service
// uses kPricingCandidates; any number >= 1 gives the same optimum).
FlowResult minCostFlowPriced(const FlowNetwork& net, std::int32_t candidates);

// The scale of the integer costs handed to the solver: 1e9 unless the largest cost would
// let node potentials overflow 64 bits; then it is reduced and *reduced is set. Assumes
// validated costs.
double costScale(const FlowNetwork& net, bool* reduced);

// The integer cost of an arc: max(1, cost * scale rounded to the nearest whole number).
inline std::int64_t scaledCost(double cost, double scale) {
    // Costs are >= 0, so adding one half and truncating rounds half away from zero.
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(cost * scale + 0.5));
}

// Every arc's integer cost.
std::vector<std::int64_t> scaleCosts(const FlowNetwork& net, bool* reduced);

// Checks a flow in one pass: whole, 0 <= flow <= capacity, conservation at every node
// (outflow - inflow = supply) and complementary slackness against the node potentials
// (reduced cost = cost + pi(tail) - pi(head) >= 0 where the arc can carry more, <= 0 where
// it carries flow), on the integer costs at the given scale. Returns an empty string when
// all hold.
std::string verifyFlow(const FlowNetwork& net, double scale, std::span<const double> flow,
                       std::span<const std::int64_t> potential);

} // namespace velloc::host

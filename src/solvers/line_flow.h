// Minimum-cost flow over pairs on a line, without listing the pairs: the pair arcs of a
// LinePairs are priced implicitly against the node potentials of a small working network,
// which grows by the violated pairs until none is left.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "solvers/line_pairs.h"

namespace velloc::host {

// Row r is node r, column c is node pairs.rows() + c; further nodes follow. Every pair (r, c)
// of the line is an arc r -> column node of capacity pairCapacity and cost
// pairs.cost(r, c) + pairStep. The other arcs are listed; an arc out of a column node must
// not end at a column node, and no listed arc may enter one (columns receive flow through
// pairs only). Costs, capacities and supplies are whole numbers >= 0 (supplies signed).
struct LineFlowNetwork {
    const LinePairs* pairs = nullptr;
    std::int64_t pairCapacity = 1;
    // One step on every pair, so that a pair at distance 0 is not free against a slack arc.
    std::int64_t pairStep = 1;
    std::int32_t nNodes = 0;
    std::span<const std::int32_t> tail, head;
    std::span<const std::int64_t> cost, capacity;
    std::span<const std::int32_t> supplyNode;
    std::span<const std::int64_t> supply;
    // When the supplies cannot all be routed: a largest flow, of least cost among the largest,
    // with status kNetOptCheck (else status kNetOptInfeasible and no flow).
    bool allowPartial = false;
};

struct PairFlow {
    std::int32_t row, col;
    std::int64_t flow;
};

// What one round of the pricing loop did, for benchmarks and progress notes.
struct LineRound {
    std::int64_t nodes = 0, pairs = 0; // of the working network solved
    std::int64_t joined = 0;           // pairs pricing brought in afterwards
    double solveSeconds = 0, priceSeconds = 0;
    std::int64_t parts = 0; // parts of the working network solved apart (0: solved whole)
};

// Called after each round of the pricing loop (a working network solved and priced) with the
// rounds so far; the last is the one just done.
using LineRoundObserver = std::function<void(std::span<const LineRound>)>;

struct LineFlowResult {
    int status = 2;                    // a NetOptStatus
    std::vector<PairFlow> pairs;       // pairs carrying flow, ascending row, then column
    std::vector<std::int64_t> arcFlow; // one per listed arc
    std::int64_t objective = 0;        // sum of cost x flow over pairs and listed arcs
    std::int64_t unrouted = 0;         // supply the partial flow leaves unrouted
    std::vector<LineRound> history;    // one entry a working network solved
    std::int64_t workingPairs = 0;     // pair arcs of the last working network
    std::string detail;                // why, when the status is not optimal
};

// The flow, verified before it is returned: bounds and conservation on every node, and the
// optimality conditions against the potentials on every working arc and, by range minima,
// on every pair left out. `candidates` is the number of nearest columns each row brings into
// the first working network (any number >= 1 gives the same optimum).
LineFlowResult minCostLineFlow(const LineFlowNetwork& net, std::int32_t candidates = 8,
                               const LineRoundObserver& onRound = {});

} // namespace velloc::host

// Rectangular assignment over pairs on a line, priced implicitly: shortest augmenting paths
// on a small working set of pairs, which grows by the pairs its duals leave violated.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "solvers/line_flow.h"
#include "solvers/line_pairs.h"

namespace velloc::host {

struct LineAssignment {
    int status = 2; // a NetOptStatus: 0 every row with pairs assigned, 3 a largest assignment
    std::vector<std::int32_t> colOfRow; // -1 unassigned
    std::int64_t objective = 0;         // sum of the assigned pairs' costs
    std::int64_t assigned = 0;
    std::vector<LineRound> history; // one entry a round
    std::string detail;
};

// Every row with pairs assigned to a column of its window, each column to at most one row, at
// least total cost; when that cannot be, a largest assignment of least cost among the largest
// (status kNetOptCheck). Verified before it is returned: the working set's duals, and every
// pair left out at reduced cost >= 0 by range minima. Status kNetOptBadInput when the costs
// are too large for exact arithmetic in doubles (the flow over the pairs then serves).
LineAssignment assignOnLine(const LinePairs& pairs, std::int32_t candidates = 8,
                            const LineRoundObserver& onRound = {});

} // namespace velloc::host

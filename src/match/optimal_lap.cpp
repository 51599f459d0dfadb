// Optimal fixed-ratio matching: every eligible treated unit copied K times, each admissible
// pair an arc from every copy to the control, solved as a sparse linear assignment.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "core/run_context.h"
#include "match/match.h"
#include "match/optimal.h"
#include "solvers/network_optimizer.h"

namespace velloc {

namespace {

// Sets of a largest assignment that does not give every treated unit K controls: each set one
// treated unit with 1..K controls, the counts agreeing with the assigned arcs.
bool partialSetsHold(const VlcRun& run, std::int64_t nArcs, int k) {
    std::int64_t controls = 0;
    for (int s = 1; s <= run.nSets; ++s) {
        if (run.setTrtCount[s] != 1 || run.setCtlCount[s] < 1 || run.setCtlCount[s] > k)
            return false;
        controls += run.setCtlCount[s];
    }
    return controls == nArcs;
}

int vlcmlapListed(VlcRun& run, int k, std::int64_t nt, std::int64_t colBase,
                  std::int64_t& assigned);

} // namespace

int vlcmlap(VlcRun& run) {
    clearSets(run);
    run.solverOutcome = 0;
    const std::int64_t nt = run.vlctreat->count();
    const std::int64_t nc = static_cast<std::int64_t>(run.ctlPs.size());
    const int k = std::max(run.k, 1);
    const std::int64_t colBase = k * nt;
    if (colBase + nc > std::numeric_limits<std::int32_t>::max()) return kMatchNoMemory;

    ScoreLine line;
    std::int64_t assigned = -1;
    try {
        switch (scoreLine(run, line)) {
        case kLineReadFailed:
            return kMatchNoSolution;
        case kLineBuilt:
            if (line.pairs.count() == 0) return kMatchNone;
            if (int status = lapOnLine(run, line, k, assigned); status != kMatchOk) return status;
            break;
        default:
            break;
        }
    } catch (const std::bad_alloc&) {
        return kMatchNoMemory;
    }
    if (assigned < 0) {
        line = ScoreLine();
        const int status = vlcmlapListed(run, k, nt, colBase, assigned);
        if (status != kMatchOk) return status;
    }
    if (run.nSets == 0) return kMatchNoSolution;
    // The service marks a largest assignment that leaves some copies unassigned for checking;
    // its sets stand when they have the shape of a partial fixed-ratio match.
    if (run.solverOutcome == 1) {
        run.solverOutcome = partialSetsHold(run, assigned, k) ? 0 : 1;
        if (run.solverOutcome == 1) return kMatchNoSolution;
    }
    bool short_ = run.nSets < run.nRegionTreated;
    for (int s = 1; s <= run.nSets && !short_; ++s)
        short_ = run.setCtlCount[s] < k;
    run.unmatchedFlag = short_ ? 1 : 0;
    return short_ ? kMatchSomeUnmatched : kMatchOk;
}

namespace {

// The listed pairs of every copy of each treated unit as a sparse linear assignment.
int vlcmlapListed(VlcRun& run, int k, std::int64_t nt, std::int64_t colBase,
                  std::int64_t& assigned) {
    host::AssignmentResult res;
    {
        PairList pairs;
        try {
            if (collectPairs(run, colBase, pairs)) return kMatchNoSolution;
            const std::int64_t n = pairs.tail.size();
            if (n == 0) return kMatchNone;
            // Copy c of treated unit i is row i + c * n_t: K blocks of the pair list, each in
            // pair order, so the rows stay ascending and the service reads them in place.
            if (k > 1) {
                pairs.tail.resize(k * n);
                pairs.head.resize(k * n);
                pairs.cost.resize(k * n);
                for (int c = 1; c < k; ++c)
                    for (std::int64_t p = 0; p < n; ++p) {
                        pairs.tail[c * n + p] = static_cast<std::int32_t>(pairs.tail[p] + c * nt);
                        pairs.head[c * n + p] = pairs.head[p];
                        pairs.cost[c * n + p] = pairs.cost[p];
                    }
            }
        } catch (const std::bad_alloc&) {
            return kMatchNoMemory;
        }
        host::NetworkOptimizer solver;
        res = solver.assign({pairs.tail.span(), pairs.head.span(), pairs.cost.span()});
    }

    if (res.status == host::kNetOptNoMemory) return kMatchNoMemory;
    if (!recordSolverOutcome(run, res.status)) return kMatchNoSolution;

    for (const host::AssignedArc& a : res.arcs) {
        run.totalDistance += a.cost;
        joinSet(run, a.row % nt, a.col - colBase);
    }
    assigned = static_cast<std::int64_t>(res.arcs.size());
    return kMatchOk;
}

} // namespace

} // namespace velloc

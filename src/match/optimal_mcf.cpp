// Variable-ratio and full matching as one minimum-cost flow: treated units supply KMAX units
// each, pairs carry one unit to a control, node A takes exactly N units from the matched
// controls, node B the slack.
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "core/run_context.h"
#include "match/match.h"
#include "match/match_messages.h"
#include "match/optimal.h"
#include "solvers/network_optimizer.h"

namespace velloc {

namespace {

void warnCount(VlcRun& run, int number, host::Args args) {
    host::xpmlog(host::kGroupProc, number, args);
    run.raise(4);
}

// The status of the flow's sets: none, or sets the feasibility check must pass when the
// solver could only resolve the costs on a coarser grid.
int checkedSets(VlcRun& run) {
    if (run.nSets == 0) return kMatchNoSolution;
    if (run.solverOutcome == 1) {
        run.solverOutcome = vlcfeas(run);
        if (run.solverOutcome == 1) return kMatchNoSolution;
    }
    return kMatchOk;
}

} // namespace

// Rounds up a count computed in floating point; a product such as 10 x 1.1 that lands a
// rounding error above a whole number stays that number.
static std::int64_t ceilCount(double x) {
    return static_cast<std::int64_t>(std::ceil(x - 1e-12 * std::fabs(x)));
}

std::int64_t controlsToMatch(const VlcRun& run) {
    const std::int64_t nte = run.nRegionTreated;
    switch (run.controlLimitType) {
    case 1:
        return ceilCount(static_cast<double>(nte) * run.kMean);
    case 2:
        return ceilCount(static_cast<double>(run.vlccntl->count()) * run.pctControl / 100.0);
    case 3:
        return run.nControlLimit;
    default:
        break;
    }
    if (run.ratioType == kRatioVariable) return (nte * (run.kMax + run.kMin) + 1) / 2;
    // n_te (KMAX + 1/KMAXTREATED) / 2 rounded up, in whole numbers.
    const std::int64_t num = nte * (std::int64_t(run.kMax) * run.kMaxTreated + 1);
    const std::int64_t den = 2 * std::int64_t(run.kMaxTreated);
    return (num + den - 1) / den;
}

int vlcmmcf(VlcRun& run) {
    clearSets(run);
    run.solverOutcome = 0;
    const bool full = run.ratioType == kRatioFull;
    const std::int64_t nt = run.vlctreat->count();
    const std::int64_t nc = static_cast<std::int64_t>(run.ctlPs.size());
    const std::int64_t nte = run.nRegionTreated, nce = run.nRegionControl;

    std::int64_t n = controlsToMatch(run);
    if (n > nce) {
        warnCount(run, kMsgControlsExceedRegion, {std::to_string(n), std::to_string(nce)});
        n = nce;
    }
    run.nControlsToMatch = n;
    if (n > std::int64_t(run.kMax) * nte) {
        warnCount(run, kMsgControlsExceedKmax,
                  {std::to_string(n), std::to_string(run.kMax), std::to_string(nte)});
        return kMatchNone;
    }
    if (!full && n < std::int64_t(run.kMin) * nte) {
        warnCount(run, kMsgControlsBelowKmin,
                  {std::to_string(n), std::to_string(run.kMin), std::to_string(nte)});
        return kMatchNone;
    }
    if (full && n * run.kMaxTreated < nt) {
        warnCount(run, kMsgControlsBelowKmaxTreated,
                  {std::to_string(n), std::to_string(run.kMaxTreated), std::to_string(nt)});
        return kMatchNone;
    }
    if (nt + nc + 2 > std::numeric_limits<std::int32_t>::max()) return kMatchNoMemory;

    {
        ScoreLine line;
        try {
            switch (scoreLine(run, line)) {
            case kLineReadFailed:
                return kMatchNoSolution;
            case kLineBuilt:
                if (line.pairs.count() == 0) return kMatchNone;
                if (int status = mcfOnLine(run, line, n); status != kMatchOk) return status;
                return checkedSets(run);
            default:
                break;
            }
        } catch (const std::bad_alloc&) {
            return kMatchNoMemory;
        }
    }
    const std::int32_t nodeA = static_cast<std::int32_t>(nt + nc), nodeB = nodeA + 1;

    host::FlowResult res;
    PairList arcs;
    GrowArray<double> capacity;
    std::int64_t nPairs = 0;
    {
        GrowArray<std::int32_t> supplyNode;
        GrowArray<double> supply;
        try {
            if (collectPairs(run, nt, arcs)) return kMatchNoSolution;
            nPairs = arcs.tail.size();
            if (nPairs == 0) return kMatchNone;
            const std::int64_t extra = nt + nc + (full ? nc : 0);
            arcs.tail.reserve(nPairs + extra);
            arcs.head.reserve(nPairs + extra);
            arcs.cost.reserve(nPairs + extra);
            capacity.reserve(nPairs + extra);
            capacity.resize(nPairs);
            for (std::int64_t p = 0; p < nPairs; ++p)
                capacity[p] = 1.0;
            auto add = [&](std::int64_t from, std::int32_t to, double cap) {
                arcs.tail.push(static_cast<std::int32_t>(from));
                arcs.head.push(to);
                arcs.cost.push(0.0);
                capacity.push(cap);
            };
            std::int64_t nta = 0;
            for (std::int64_t j = 0; j < nc; ++j)
                if (arcs.markCtl[j]) add(nt + j, nodeA, 1.0);
            for (std::int64_t i = 0; i < nt; ++i)
                if (arcs.markTrt[i]) {
                    ++nta;
                    add(i, nodeB, full ? run.kMax - 1 : run.kMax - run.kMin);
                }
            if (full)
                for (std::int64_t j = 0; j < nc; ++j)
                    if (arcs.markCtl[j]) add(nt + j, nodeB, run.kMaxTreated - 1);
            for (std::int64_t i = 0; i < nt; ++i)
                if (arcs.markTrt[i]) {
                    supplyNode.push(static_cast<std::int32_t>(i));
                    supply.push(run.kMax);
                }
            supplyNode.push(nodeA);
            supply.push(-static_cast<double>(n));
            supplyNode.push(nodeB);
            supply.push(static_cast<double>(n - nta * run.kMax));
        } catch (const std::bad_alloc&) {
            return kMatchNoMemory;
        }
        host::FlowNetwork net;
        net.nNodes = nodeB + 1;
        net.tail = arcs.tail.span();
        net.head = arcs.head.span();
        net.cost = arcs.cost.span();
        net.capacity = capacity.span();
        net.supplyNode = supplyNode.span();
        net.supply = supply.span();
        host::NetworkOptimizer solver;
        res = solver.minCostFlow(net);
    }

    if (res.status == host::kNetOptNoMemory) return kMatchNoMemory;
    if (!recordSolverOutcome(run, res.status)) return kMatchNoSolution;
    // Only pair arcs join sets; a flow of 1e-6 or less is no match.
    for (std::int64_t p = 0; p < nPairs; ++p) {
        const double f = res.flow[static_cast<std::size_t>(p)];
        if (!(f > 1e-6)) continue;
        run.totalDistance += arcs.cost[p] * f;
        joinSet(run, arcs.tail[p], arcs.head[p] - nt);
    }
    return checkedSets(run);
}

} // namespace velloc

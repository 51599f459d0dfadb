// The optimal methods on pairs priced implicitly: fixed ratio as an assignment of K copies of
// each treated unit (a largest one of least cost when not every copy can have a control),
// variable ratio and full matching as the flow network of the listed pairs.
#include <chrono>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/run_context.h"
#include "match/match.h"
#include "match/match_messages.h"
#include "match/optimal.h"
#include "solvers/line_assignment.h"
#include "solvers/line_flow.h"
#include "solvers/line_matching.h"
#include "solvers/network_optimizer.h"

namespace velloc {

namespace {

// Notes the pricing loop's rounds in the log once it has run for a while, so that a long
// optimal match shows it is progressing; small matches, done within the first interval, note
// nothing.
class PricingNotes {
  public:
    PricingNotes(const VlcRun& run, const host::LinePairs& pairs)
        : pairs_(pairs), every_(run.pricingNoteSeconds), start_(Clock::now()), next_(every_) {}

    host::LineRoundObserver observer() {
        return [this](std::span<const host::LineRound> rounds) { round(rounds); };
    }

  private:
    using Clock = std::chrono::steady_clock;

    void round(std::span<const host::LineRound> rounds) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        if (elapsed < next_) return;
        next_ = elapsed + every_;
        if (admissible_ < 0) admissible_ = pairs_.count();
        host::xpmlog(host::kGroupProc, kMsgMatchPricingProgress,
                     {fmt::format("{:.0f}", elapsed), std::to_string(rounds.size()),
                      std::to_string(rounds.back().pairs), std::to_string(admissible_),
                      std::to_string(rounds.back().joined)});
    }

    const host::LinePairs& pairs_;
    double every_;
    Clock::time_point start_;
    double next_;
    std::int64_t admissible_ = -1; // counted at the first note
};

// The listed arcs and supplies around the pairs; nodes are rows, then columns, then the rest.
struct ArcList {
    std::vector<std::int32_t> tail, head, supplyNode;
    std::vector<std::int64_t> cost, capacity, supply;
    void add(std::int64_t from, std::int64_t to, std::int64_t cap) {
        tail.push_back(static_cast<std::int32_t>(from));
        head.push_back(static_cast<std::int32_t>(to));
        cost.push_back(0);
        capacity.push_back(cap);
    }
    // An arc of capacity cap from every control some treated unit may take to node `to`.
    void fromControls(const ScoreLine& line, std::int64_t to, std::int64_t cap) {
        for (std::int32_t c = 0; c < line.pairs.cols(); ++c)
            if (line.markCtl[line.control[c]]) add(line.pairs.rows() + c, to, cap);
    }
    // A supply of `units` at every treated unit with pairs; returns how many there are.
    std::int64_t supplyTreated(const ScoreLine& line, std::int64_t units) {
        std::int64_t n = 0;
        for (std::int32_t i = 0; i < line.pairs.rows(); ++i)
            if (line.pairs.hasPairs(i)) {
                supplyNode.push_back(i);
                supply.push_back(units);
                ++n;
            }
        return n;
    }
};

host::LineFlowResult solveLine(const VlcRun& run, const ScoreLine& line, const ArcList& arcs,
                               std::int32_t nNodes, bool partial) {
    host::LineFlowNetwork net;
    net.pairs = &line.pairs;
    net.nNodes = nNodes;
    net.tail = arcs.tail;
    net.head = arcs.head;
    net.cost = arcs.cost;
    net.capacity = arcs.capacity;
    net.supplyNode = arcs.supplyNode;
    net.supply = arcs.supply;
    net.allowPartial = partial;
    PricingNotes notes(run, line.pairs);
    return host::minCostLineFlow(net, run.lineSeedPairs, notes.observer());
}

// Joins the pairs that carry flow, in treated order and then control order, and records the
// solver's outcome; false when there is no result.
bool joinFlow(VlcRun& run, const ScoreLine& line, const host::LineFlowResult& res) {
    if (res.status == host::kNetOptNoMemory) throw std::bad_alloc();
    if (!recordSolverOutcome(run, res.status)) return false;
    // On a coarser grid than 1e-9 the flow is optimal only at that scale, as with listed pairs.
    if (run.solverOutcome == 0 && line.scale < 1e9) run.solverOutcome = 1;
    for (const host::PairFlow& f : res.pairs) {
        run.totalDistance += line.distance(f.row, f.col) * static_cast<double>(f.flow);
        joinSet(run, f.row, line.control[f.col]);
    }
    return true;
}

// The pairs of k copies of every row, copy c of row i as row c x rows + i.
host::LinePairs rowCopies(const host::LinePairs& pairs, int k) {
    host::LinePairs copies;
    for (int c = 0; c < k; ++c) {
        copies.rowAt.insert(copies.rowAt.end(), pairs.rowAt.begin(), pairs.rowAt.end());
        copies.lo.insert(copies.lo.end(), pairs.lo.begin(), pairs.lo.end());
        copies.hi.insert(copies.hi.end(), pairs.hi.begin(), pairs.hi.end());
    }
    copies.colAt = pairs.colAt;
    return copies;
}

} // namespace

int lapOnLine(VlcRun& run, const ScoreLine& line, int k, std::int64_t& assigned) {
    const std::int32_t rows = line.pairs.rows(), cols = line.pairs.cols();
    // Copy c of treated unit i is row c x n_t + i, as with listed pairs.
    host::LinePairs copies;
    const host::LinePairs* pairs = &line.pairs;
    if (k > 1) {
        copies = rowCopies(line.pairs, k);
        pairs = &copies;
    }
    PricingNotes notes(run, *pairs);
    const host::LineAssignment a = host::assignOnLine(*pairs, run.lineSeedPairs, notes.observer());
    if (a.status != host::kNetOptBadInput) {
        if (a.status == host::kNetOptNoMemory) throw std::bad_alloc();
        if (!recordSolverOutcome(run, a.status)) return kMatchNoSolution;
        if (run.solverOutcome == 0 && line.scale < 1e9) run.solverOutcome = 1;
        for (std::int32_t r = 0; r < pairs->rows(); ++r) {
            const std::int32_t c = a.colOfRow[r];
            if (c < 0) continue;
            run.totalDistance += line.distance(r % rows, c);
            joinSet(run, r % rows, line.control[c]);
        }
        assigned = a.assigned;
        return kMatchOk;
    }

    // Costs too large for the search's exact arithmetic: K units from each treated unit as a
    // flow, a largest one of least cost.
    const std::int64_t sink = std::int64_t(rows) + cols;
    ArcList arcs;
    arcs.fromControls(line, sink, 1);
    const std::int64_t units = k * arcs.supplyTreated(line, k);
    arcs.supplyNode.push_back(static_cast<std::int32_t>(sink));
    arcs.supply.push_back(-units);
    const host::LineFlowResult res =
        solveLine(run, line, arcs, static_cast<std::int32_t>(sink + 1), true);
    if (!joinFlow(run, line, res)) return kMatchNoSolution;
    assigned = static_cast<std::int64_t>(res.pairs.size());
    return kMatchOk;
}

int mcfOnLine(VlcRun& run, const ScoreLine& line, std::int64_t n) {
    const bool full = run.ratioType == kRatioFull;
    const std::int32_t rows = line.pairs.rows(), cols = line.pairs.cols();
    // Each treated unit sends at least one unit (KMIN with a variable ratio) to distinct
    // controls, and a control takes at most KMAXTREATED units (one with a variable ratio). When
    // the controls of some windows cannot serve that much there is no flow, which is found
    // here in O(n log n) where the simplex would take minutes on a large network.
    std::vector<std::int64_t> takes(cols, 0);
    for (std::int32_t c = 0; c < cols; ++c)
        if (line.markCtl[line.control[c]]) takes[c] = full ? run.kMaxTreated : 1;
    // Nor is there one when fewer than N controls can be matched at all: every flow gives N
    // distinct controls a unit each (to A) from treated units of at most KMAX pairs, which is
    // a matching of N controls to KMAX copies of the treated units. Without this check a
    // pricing loop on a network without flow would run for minutes before saying so.
    if (host::unservedRow(line.pairs, full ? 1 : run.kMin, takes) >= 0 ||
        host::largestLineMatching(rowCopies(line.pairs, run.kMax)).size < n) {
        host::LineFlowResult none;
        none.status = host::kNetOptInfeasible;
        joinFlow(run, line, none);
        return kMatchNoSolution;
    }
    const std::int64_t nodeA = std::int64_t(rows) + cols, nodeB = nodeA + 1;
    ArcList arcs;
    arcs.fromControls(line, nodeA, 1);
    for (std::int32_t i = 0; i < rows; ++i)
        if (line.pairs.hasPairs(i)) arcs.add(i, nodeB, full ? run.kMax - 1 : run.kMax - run.kMin);
    if (full) arcs.fromControls(line, nodeB, run.kMaxTreated - 1);
    const std::int64_t nta = arcs.supplyTreated(line, run.kMax);
    if (nta == 0) return kMatchNone;
    arcs.supplyNode.push_back(static_cast<std::int32_t>(nodeA));
    arcs.supply.push_back(-n);
    arcs.supplyNode.push_back(static_cast<std::int32_t>(nodeB));
    arcs.supply.push_back(n - nta * run.kMax);
    const host::LineFlowResult res =
        solveLine(run, line, arcs, static_cast<std::int32_t>(nodeB + 1), false);
    if (!joinFlow(run, line, res)) return kMatchNoSolution;
    return kMatchOk;
}

} // namespace velloc

// The admissible pairs of a score distance as pairs on a line: controls in the support region
// ordered by their EXACT= block, then by score; each treated unit's caliper window a run of
// them; positions the distance-scale scores on the solver's integer grid.
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "core/run_context.h"
#include "match/match.h"
#include "match/optimal.h"

namespace velloc {

namespace {

constexpr double kCostScale = 1e9;
constexpr double kCostRange = 5e17; // as the listed flow mode: potentials stay inside 64 bits

bool whole(double x) {
    return std::isfinite(x) && x == std::floor(x);
}

// The EXACT= values of a unit as a block key; false when one is missing (no pair then) or not
// a whole number (values within 0.1 of each other would not form blocks).
bool blockKey(const double* v, std::size_t e, std::vector<double>& key, bool& listInstead) {
    key.assign(v, v + e);
    for (double x : key) {
        if (std::isnan(x)) return false;
        if (!whole(x)) listInstead = true;
    }
    return true;
}

// The first c in a .. b - 1 where test(c) holds, b when none; test is false, then true.
template <class Test> std::int64_t firstWhere(std::int64_t a, std::int64_t b, Test test) {
    while (a < b) {
        const std::int64_t m = a + (b - a) / 2;
        if (test(m))
            b = m;
        else
            a = m + 1;
    }
    return a;
}

} // namespace

int scoreLine(VlcRun& run, ScoreLine& line) {
    if (run.distance == kScoreMahalanobis) return kLineListPairs;
    host::UtilFile& trt = *run.vlctreat;
    host::UtilFile& ctl = *run.vlccntl;
    const std::int64_t nt = trt.count();
    const int nc = static_cast<int>(run.ctlPs.size());
    const std::size_t e = run.exactVars.size();
    const double* ps = run.ctlPs.data();
    auto distOf = [&](double p) { return run.distance == kScorePs ? p : logitClamp(p); };
    auto calOf = [&](double p) { return run.caliperScale == kScorePs ? p : logitClamp(p); };

    // Controls in the region with a score, by block (in order of first appearance), then
    // by position in the control file, which is score order.
    std::map<std::vector<double>, int> blocks;
    std::vector<int> blockOf(static_cast<std::size_t>(nc), -1);
    bool listInstead = false;
    std::vector<double> rec(ctl.recordBytes() / sizeof(double)), key;
    ctl.point(0);
    for (int j = 0; j < nc; ++j) {
        if (!ctl.read(rec.data())) return kLineReadFailed;
        if (!(rec[kCtlRegion] >= 0.5) || std::isnan(ps[j])) continue;
        if (!blockKey(run.ctlExact.data() + static_cast<std::size_t>(j) * e, e, key, listInstead))
            continue;
        blockOf[j] = blocks.try_emplace(key, static_cast<int>(blocks.size())).first->second;
    }
    ctl.point(0);
    if (listInstead) return kLineListPairs;
    std::vector<std::int64_t> blockStart(blocks.size() + 1, 0);
    for (int b : blockOf)
        if (b >= 0) ++blockStart[b + 1];
    for (std::size_t b = 0; b < blocks.size(); ++b)
        blockStart[b + 1] += blockStart[b];
    const std::int32_t nCols = static_cast<std::int32_t>(blockStart.back());
    line.control.assign(static_cast<std::size_t>(nCols), 0);
    line.colDist.assign(static_cast<std::size_t>(nCols), 0.0);
    std::vector<double> colCal(static_cast<std::size_t>(nCols));
    {
        std::vector<std::int64_t> next(blockStart.begin(), blockStart.end() - 1);
        for (int j = 0; j < nc; ++j)
            if (blockOf[j] >= 0) {
                const std::int64_t c = next[blockOf[j]]++;
                line.control[c] = j;
                line.colDist[c] = distOf(ps[j]);
                colCal[c] = calOf(ps[j]);
            }
    }

    // Each treated unit's window: its block's columns that pass the caliper test and lie in
    // the caliper's score window, the pair test of the listed pairs. Both tests hold on a
    // run of the block, which is ordered by score.
    host::LinePairs& p = line.pairs;
    p.rowAt.assign(static_cast<std::size_t>(nt), 0); // positions once the grid is known
    p.lo.assign(static_cast<std::size_t>(nt), 0);
    p.hi.assign(static_cast<std::size_t>(nt), 0);
    line.rowDist.assign(static_cast<std::size_t>(nt), 0.0);
    trt.point(0);
    for (std::int64_t i = 0; trt.read(run.trtRec.data()); ++i) {
        const double* t = run.trtRec.data();
        if (!(t[kTrtRegion] >= 0.5) || std::isnan(t[kTrtPs])) continue;
        if (!blockKey(t + kTrtExact, e, key, listInstead)) continue;
        if (listInstead) return kLineListPairs;
        auto found = blocks.find(key);
        if (found == blocks.end()) continue;
        std::int64_t a = blockStart[found->second], b = blockStart[found->second + 1];
        if (run.caliperOn) {
            int first = 0, last = nc - 1;
            if (vlcidlu(t[kTrtPs], run, ps, nc, first, last) || first > last) continue;
            auto ctlBegin = line.control.begin();
            a = std::lower_bound(ctlBegin + a, ctlBegin + b, first) - ctlBegin;
            b = std::upper_bound(ctlBegin + a, ctlBegin + b, last) - ctlBegin;
            const double tCal = calOf(t[kTrtPs]);
            auto pass = [&](std::int64_t c) {
                return caliperPass(run, std::fabs(tCal - colCal[c]));
            };
            // Left of the unit the test fails up to some column and passes from it on; right
            // of it the test passes up to some column.
            const std::int64_t mid =
                std::lower_bound(colCal.begin() + a, colCal.begin() + b, tCal) - colCal.begin();
            a = firstWhere(a, mid, pass);
            b = firstWhere(mid, b, [&](std::int64_t c) { return !pass(c); });
        }
        if (a >= b) continue;
        p.lo[i] = static_cast<std::int32_t>(a);
        p.hi[i] = static_cast<std::int32_t>(b);
        line.rowDist[i] = distOf(t[kTrtPs]);
    }
    trt.point(0);
    if (trt.lastError()) return kLineReadFailed;
    if (p.count() < run.pairListLimit) return kLineListPairs;

    // The integer grid: 1e-9 unless the largest distance would let the potentials overflow.
    double maxDist = 0;
    for (std::int64_t i = 0; i < nt; ++i)
        if (p.lo[i] < p.hi[i])
            maxDist = std::max({maxDist, std::fabs(line.rowDist[i] - line.colDist[p.lo[i]]),
                                std::fabs(line.rowDist[i] - line.colDist[p.hi[i] - 1])});
    const double nodes = static_cast<double>(nt) + nCols + 4;
    line.scale = kCostScale;
    if (maxDist * line.scale * nodes > kCostRange) line.scale = kCostRange / (maxDist * nodes);
    p.colAt.resize(static_cast<std::size_t>(nCols));
    for (std::int64_t i = 0; i < nt; ++i)
        p.rowAt[i] = std::llround(line.rowDist[i] * line.scale);
    for (std::int32_t c = 0; c < nCols; ++c)
        p.colAt[c] = std::llround(line.colDist[c] * line.scale);

    line.markCtl.assign(static_cast<std::size_t>(nc), 0);
    std::vector<std::int32_t> cover(static_cast<std::size_t>(nCols) + 1, 0);
    for (std::int64_t i = 0; i < nt; ++i)
        if (p.lo[i] < p.hi[i]) ++cover[p.lo[i]], --cover[p.hi[i]];
    for (std::int32_t c = 0, depth = 0; c < nCols; ++c) {
        depth += cover[c];
        if (depth > 0) line.markCtl[line.control[c]] = 1;
    }
    return kLineBuilt;
}

} // namespace velloc

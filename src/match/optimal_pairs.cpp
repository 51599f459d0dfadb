// The admissible pairs of the optimal methods: each eligible treated unit's caliper window,
// positioned reads of the control file over it, the pair test, the solver's outcome and the
// reset of an earlier attempt's sets.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/run_context.h"
#include "match/match.h"
#include "match/optimal.h"
#include "solvers/network_optimizer.h"

namespace velloc {

namespace {

// Region status of each control, read from the control file on first need: -1 not read yet,
// 0 outside the region, 1 eligible. Windows of neighbouring treated units overlap, so a
// control record is read once however many windows contain it.
class ControlStatus {
  public:
    explicit ControlStatus(VlcRun& run)
        : file_(*run.vlccntl), state_(static_cast<std::size_t>(file_.count()), -1),
          rec_(file_.recordBytes() / sizeof(double)) {}

    // Makes the states of controls first..last known; non-zero on a read failure.
    int load(std::int64_t first, std::int64_t last) {
        std::int64_t j = first;
        while (j <= last) {
            if (state_[j] >= 0) {
                ++j;
                continue;
            }
            if (int rc = file_.point(j + 1)) return rc;
            for (; j <= last && state_[j] < 0; ++j) {
                if (!file_.read(rec_.data())) return file_.lastError() ? file_.lastError() : 1;
                state_[j] = rec_[kCtlRegion] >= 0.5 ? 1 : 0;
            }
        }
        return 0;
    }
    bool eligible(std::int64_t j) const { return state_[j] > 0; }

  private:
    host::UtilFile& file_;
    std::vector<signed char> state_;
    std::vector<double> rec_;
};

} // namespace

int collectPairs(VlcRun& run, std::int64_t colBase, PairList& pairs) {
    host::UtilFile& trt = *run.vlctreat;
    const std::int64_t nt = trt.count();
    const int nc = static_cast<int>(run.ctlPs.size());
    pairs.markTrt.assign(static_cast<std::size_t>(nt), 0);
    pairs.markCtl.assign(static_cast<std::size_t>(nc), 0);
    if (nc == 0) return 0;
    ControlStatus status(run);
    const double* ps = run.ctlPs.data();
    const bool exact = !run.exactVars.empty();
    const bool mah = run.distance == kScoreMahalanobis;

    // The pair test of vlcmobs with the control's caliper-scale and distance-scale values
    // computed once: the same operations on the same values give the same results.
    std::vector<double> ctlCal, ctlDist;
    if (!mah) {
        ctlCal.resize(static_cast<std::size_t>(nc));
        ctlDist.resize(static_cast<std::size_t>(nc));
        for (int j = 0; j < nc; ++j) {
            ctlCal[j] = run.caliperScale == kScorePs ? ps[j] : logitClamp(ps[j]);
            ctlDist[j] = run.distance == kScorePs ? ps[j] : logitClamp(ps[j]);
        }
    }

    trt.point(0);
    for (std::int64_t i = 0; trt.read(run.trtRec.data()); ++i) {
        const double* t = run.trtRec.data();
        if (!(t[kTrtRegion] >= 0.5)) continue;
        int first = 0, last = nc - 1;
        if (run.caliperOn && vlcidlu(t[kTrtPs], run, ps, nc, first, last)) continue;
        if (first > last) continue;
        if (int rc = status.load(first, last)) return rc;
        const double tCal = run.caliperScale == kScorePs ? t[kTrtPs] : logitClamp(t[kTrtPs]);
        const double tDist = run.distance == kScorePs ? t[kTrtPs] : logitClamp(t[kTrtPs]);
        for (int j = first; j <= last; ++j) {
            if (!status.eligible(j)) continue;
            double d;
            if (mah) {
                // A missing Mahalanobis coordinate leaves the pair without a distance; such a
                // pair cannot be costed, so it is not admissible.
                if (vlcmobs(run, j, d) || std::isnan(d)) continue;
            } else {
                if (exact && !exactMatch(run, t + kTrtExact, j)) continue;
                if (!caliperPass(run, std::fabs(tCal - ctlCal[j]))) continue;
                d = std::fabs(tDist - ctlDist[j]);
            }
            pairs.tail.push(static_cast<std::int32_t>(i));
            pairs.head.push(static_cast<std::int32_t>(colBase + j));
            pairs.cost.push(d);
            pairs.markTrt[i] = 1;
            pairs.markCtl[j] = 1;
        }
    }
    trt.point(0);
    run.vlccntl->point(0);
    return 0;
}

bool recordSolverOutcome(VlcRun& run, int status) {
    run.solverOutcome = status == host::kNetOptOptimal ? 0 : status == host::kNetOptCheck ? 1 : 2;
    return run.solverOutcome != 2;
}

void clearSets(VlcRun& run) {
    std::fill(run.trtSetId.begin(), run.trtSetId.end(), 0);
    std::fill(run.ctlSetId.begin(), run.ctlSetId.end(), 0);
    std::fill(run.setTrtCount.begin(), run.setTrtCount.end(), 0);
    std::fill(run.setCtlCount.begin(), run.setCtlCount.end(), 0);
    run.nSets = 0;
    run.totalDistance = 0.0;
    run.unmatchedFlag = 0;
}

} // namespace velloc

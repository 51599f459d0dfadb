// Greedy nearest-neighbour matching and matching with replacement: the nearest-control search
// over the PS-sorted control array, and the two drivers.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

#include "core/run_context.h"
#include "match/match.h"

namespace velloc {

namespace {

constexpr double kTieTol = 1e-8;

// The tie rule: whether the lower-PS candidate wins against the higher-PS one.
inline bool lowerWins(const VlcRun& run, double dLow, double dHigh) {
    if (run.matchOrder == kOrderAscending) return dLow <= dHigh + kTieTol;
    return dLow < dHigh - kTieTol;
}

// Distance of a control score from the treated score on the scale of DISTANCE= (the PS scale
// for Mahalanobis, which only orders candidates by score).
inline double scoreDistance(const VlcRun& run, double p, double c) {
    if (run.distance == kScoreLps) return std::fabs(logitClamp(p) - logitClamp(c));
    return std::fabs(p - c);
}

// Union-find with path halving: the nearest unmatched control at or right of j (n when none),
// and at or left of j (-1 when none).
int freeRight(VlcRun& run, int j) {
    std::vector<int>& up = run.nextFreeRight;
    while (up[j] != j) {
        up[j] = up[up[j]];
        j = up[j];
    }
    return j;
}

int freeLeft(VlcRun& run, int j) {
    std::vector<int>& up = run.nextFreeLeft;
    int k = j + 1;
    while (up[k] != k) {
        up[k] = up[up[k]];
        k = up[k];
    }
    return k - 1;
}

bool inUsed(const VlcRun& run, int j) {
    return std::find(run.usedControls.begin(), run.usedControls.end(), j) != run.usedControls.end();
}

bool admissible(const VlcRun& run, const double* trtExact, int j) {
    if (!run.exactVars.empty() && !exactMatch(run, trtExact, j)) return false;
    if (!run.withReplacement && run.ctlSetId[j] != 0) return false;
    return run.usedControls.empty() || !inUsed(run, j);
}

} // namespace

void markControlUsed(VlcRun& run, int j) {
    if (run.nextFreeRight.empty()) return;
    run.nextFreeRight[j] = j + 1;
    run.nextFreeLeft[j + 1] = j;
}

int vlcmidx(double v, const VlcRun& run, const double* ps, int n) {
    int lo = 0, hi = n - 1, limit = n - 2;
    while (lo < limit) {
        int mid = (lo + hi) / 2;
        if (v > ps[mid]) {
            lo = mid;
        } else if (v < ps[mid]) {
            hi = mid;
            limit = mid - 1;
        } else {
            return mid;
        }
    }
    if (lo >= hi) return lo;
    return lowerWins(run, scoreDistance(run, v, ps[lo]), scoreDistance(run, v, ps[hi])) ? lo : hi;
}

// Missing control scores sort first: the searches run over the scored controls after them.
int scoredFrom(const double* ps, int n) {
    return static_cast<int>(
        std::partition_point(ps, ps + n, [](double v) { return std::isnan(v); }) - ps);
}

int vlcidlu(double p, const VlcRun& run, const double* ps, int n, int& first, int& last) {
    const int from = scoredFrom(ps, n);
    if (from > 0) {
        const int rc = vlcidlu(p, run, ps + from, n - from, first, last);
        first += from;
        last += from;
        return rc;
    }
    if (n == 0 || std::isnan(p)) return 1;
    double w = run.caliperWidth, lo, hi;
    if (run.caliperScale == kScoreLps) {
        double z = logitClamp(p);
        lo = expit(z - w);
        hi = expit(z + w);
    } else {
        lo = p - w;
        hi = p + w;
    }
    if (lo > ps[n - 1] || hi < ps[0]) return 1;
    if (lo < run.regionLower - kTolerance) lo = run.regionLower;
    if (hi > run.regionUpper + kTolerance) hi = run.regionUpper;
    first = vlcmidx(lo, run, ps, n);
    while (ps[first] > lo && first > 0)
        --first;
    while (lo - ps[first] > kTolerance && first < n - 1)
        ++first;
    last = vlcmidx(hi, run, ps, n);
    while (hi > ps[last] && last < n - 1)
        ++last;
    while (hi - ps[last] < -kTolerance && last > 0)
        --last;
    return 0;
}

int vlccase(VlcRun& run, double& distance) {
    distance = DBL_MAX;
    const double* t = run.trtRec.data();
    const double p = t[kTrtPs];
    const double* trtExact = t + kTrtExact;
    const double lower = run.regionLower - kTolerance, upper = run.regionUpper + kTolerance;
    if (!(p >= lower && p <= upper)) return -1;
    const double* ps = run.ctlPs.data();
    const int n = static_cast<int>(run.ctlPs.size());
    // Controls without a score come first and are never candidates.
    const int from = scoredFrom(ps, n);
    if (from == n) return -1;

    if (run.distance != kScoreMahalanobis) {
        // Matched controls are never admissible without replacement: the free lists step
        // over them, and the walk still meets the unmatched ones in the same order.
        const bool skip = !run.withReplacement && !run.nextFreeRight.empty();
        int choice = -1;
        int c = from + vlcmidx(p, run, ps + from, n - from);
        if (ps[c] >= lower && ps[c] <= upper && admissible(run, trtExact, c)) {
            choice = c;
        } else {
            int L = c - 1, R = c + 1;
            if (skip) {
                if (L >= from) L = freeLeft(run, L);
                if (R < n) R = freeRight(run, R);
            }
            for (;;) {
                bool hasL = L >= from && ps[L] >= lower;
                bool hasR = R < n && ps[R] <= upper;
                if (!hasL && !hasR) break;
                bool takeL = hasL && (!hasR || lowerWins(run, scoreDistance(run, p, ps[L]),
                                                         scoreDistance(run, p, ps[R])));
                int j = takeL ? L : R;
                if (admissible(run, trtExact, j)) {
                    choice = j;
                    break;
                }
                if (takeL) {
                    L = L - 1;
                    if (skip && L >= from) L = freeLeft(run, L);
                } else {
                    R = R + 1;
                    if (skip && R < n) R = freeRight(run, R);
                }
            }
        }
        if (choice < 0) return -1;
        if (!caliperPass(run, caliperDiff(run, p, ps[choice]))) return -1;
        distance = scoreDistance(run, p, ps[choice]);
        return choice;
    }

    // Mahalanobis: the best admissible control of the candidate range; ties keep the lower
    // index, a missing distance never wins.
    int first, last;
    if (run.caliperOn) {
        if (vlcidlu(p, run, ps, n, first, last)) return -1;
    } else {
        first = static_cast<int>(std::lower_bound(ps + from, ps + n, lower) - ps);
        last = static_cast<int>(std::upper_bound(ps + from, ps + n, upper) - ps) - 1;
    }
    int best = -1;
    double bestD = DBL_MAX;
    for (int j = first; j <= last; ++j) {
        if (!(ps[j] >= lower && ps[j] <= upper) || !admissible(run, trtExact, j)) continue;
        double d = mahDistance(run, j);
        if (d < bestD) {
            bestD = d;
            best = j;
        }
    }
    distance = bestD;
    return best;
}

int vlcseql(VlcRun& run) {
    run.totalDistance = 0.0;
    run.unmatchedFlag = 0;
    run.nSets = 0;
    run.usedControls.clear();
    host::UtilFile& trt = *run.vlctreat;
    const int passes = run.k < 1 ? 1 : run.k;
    for (int pass = 1; pass <= passes; ++pass) {
        trt.point(0);
        for (std::size_t i = 0; trt.read(run.trtRec.data()); ++i) {
            if (!(run.trtRec[kTrtRegion] >= 0.5)) continue;
            double d;
            int j = vlccase(run, d);
            if (j < 0) {
                run.unmatchedFlag = 1;
                continue;
            }
            joinSet(run, static_cast<std::int64_t>(i), j);
            if (!run.withReplacement) markControlUsed(run, j);
            run.totalDistance += d;
        }
    }
    trt.point(0);
    if (run.nSets == 0) return kMatchNone;
    return run.unmatchedFlag ? kMatchSomeUnmatched : kMatchOk;
}

int vlcseqx(VlcRun& run) {
    run.totalDistance = 0.0;
    run.unmatchedFlag = 0;
    run.nSets = 0;
    std::fill(run.ctlReplWeight.begin(), run.ctlReplWeight.end(), 0.0);
    host::UtilFile& trt = *run.vlctreat;
    trt.point(0);
    for (std::size_t i = 0; trt.read(run.trtRec.data()); ++i) {
        if (!(run.trtRec[kTrtRegion] >= 0.5)) continue;
        run.usedControls.clear();
        // A control already in another unit's set brings that set along: the treated unit joins
        // it, or, past its first control, the two sets merge.
        for (int k = 1; k <= run.k; ++k) {
            double d;
            int j = vlccase(run, d);
            if (j < 0) {
                run.unmatchedFlag = 1;
                break;
            }
            joinSet(run, static_cast<std::int64_t>(i), j);
            run.usedControls.push_back(j);
            run.totalDistance += d;
        }
        if (!run.usedControls.empty()) {
            double share = 1.0 / static_cast<double>(run.usedControls.size());
            for (int j : run.usedControls)
                run.ctlReplWeight[j] += share;
        }
    }
    run.usedControls.clear();
    trt.point(0);
    if (run.nSets == 0) return kMatchNone;
    return run.unmatchedFlag ? kMatchSomeUnmatched : kMatchOk;
}

} // namespace velloc

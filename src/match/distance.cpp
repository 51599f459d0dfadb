// Distances of matching: the clamped logit, the PS, LPS and Mahalanobis distances, the
// covariance matrix behind the Mahalanobis distance and the pair test of the optimal methods.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "match/match.h"
#include "match/match_messages.h"

namespace velloc {

namespace {

inline std::size_t packedAt(int i, int j) {
    return i >= j ? static_cast<std::size_t>(i) * (i + 1) / 2 + j
                  : static_cast<std::size_t>(j) * (j + 1) / 2 + i;
}

// Adds w * x x' to the packed matrix; nothing when a coordinate or the weight is missing.
void zscp(std::vector<double>& a, const std::vector<double>& x, double w) {
    if (std::isnan(w) || w == 0.0) return;
    for (double v : x)
        if (std::isnan(v)) return;
    int p = static_cast<int>(x.size());
    for (int i = 0; i < p; ++i)
        for (int j = 0; j <= i; ++j)
            a[packedAt(i, j)] += w * x[i] * x[j];
}

// Spread of each coordinate over all observations (Welford's update), the scale against which
// the sweep judges what variance a pivot has left.
struct CoordinateSpread {
    std::vector<double> mean, m2, maxAbs;
    double n = 0;
    explicit CoordinateSpread(int p) : mean(p, 0.0), m2(p, 0.0), maxAbs(p, 0.0) {}
    void add(const std::vector<double>& x) {
        for (double v : x)
            if (std::isnan(v)) return;
        n += 1;
        for (std::size_t k = 0; k < x.size(); ++k) {
            double d = x[k] - mean[k];
            mean[k] += d / n;
            m2[k] += d * (x[k] - mean[k]);
            maxAbs[k] = std::max(maxAbs[k], std::fabs(x[k]));
        }
    }
    // The variance over all observations, but never below (1e-8 x the largest magnitude)^2:
    // deviations of a coordinate that is constant everywhere are rounding noise of its own
    // magnitude, and a variance of that noise must not count as a scale.
    std::vector<double> scale() const {
        std::vector<double> s(mean.size());
        for (std::size_t k = 0; k < s.size(); ++k) {
            double var = n > 1 ? m2[k] / (n - 1) : 0.0;
            double floor = 1e-8 * maxAbs[k];
            s[k] = std::max(var, floor * floor);
        }
        return s;
    }
};

} // namespace

int treatedContStart(const VlcRun& run) {
    return kTrtExact + static_cast<int>(run.exactVars.size()) + run.classColumns();
}

double logitClamp(double p) {
    if (std::isnan(p)) return p; // a missing score has no logit, and no distance
    if (p < kTolerance) return -kLogitClampLimit;
    if (p <= 0.9999999998889777) return std::log(p / (1.0 - p));
    return kLogitClampLimit;
}

double expit(double z) {
    if (z <= 0.0) {
        double e = std::exp(z);
        return e / (e + 1.0);
    }
    return 1.0 / (std::exp(-z) + 1.0);
}

bool exactMatch(const VlcRun& run, const double* trtExact, int j) {
    std::size_t e = run.exactVars.size();
    const double* c = run.ctlExact.data() + static_cast<std::size_t>(j) * e;
    for (std::size_t i = 0; i < e; ++i)
        if (!(std::fabs(trtExact[i] - c[i]) <= 0.1)) return false;
    return true;
}

double caliperDiff(const VlcRun& run, double pt, double pc) {
    if (run.caliperScale == kScorePs) return std::fabs(pt - pc);
    return std::fabs(logitClamp(pt) - logitClamp(pc));
}

bool caliperPass(const VlcRun& run, double diff) {
    return !run.caliperOn || diff <= run.caliperTestWidth; // a missing difference fails
}

double mahDistance(VlcRun& run, int j) {
    const int p = run.nMahComp;
    const int m = static_cast<int>(run.mahVars.size());
    const int cont = treatedContStart(run);
    const double* c = run.ctlMah.data() + static_cast<std::size_t>(j) * p;
    const double* t = run.trtRec.data();
    std::vector<double>& d = run.mahVec2;
    for (int i = 0; i < m; ++i)
        d[i] = c[i] - t[cont + run.mahPos[i]];
    if (run.mahAddPs) d[run.mahAddPs - 1] = c[run.mahAddPs - 1] - t[kTrtPs];
    if (run.mahAddLps) d[run.mahAddLps - 1] = c[run.mahAddLps - 1] - t[kTrtLps];
    const std::vector<double>& a = run.mahTri3;
    double q = 0.0;
    for (int i = 0; i < p; ++i) {
        const double* row = a.data() + static_cast<std::size_t>(i) * (i + 1) / 2;
        double s = 0.0;
        for (int k = 0; k < i; ++k)
            s += row[k] * d[k];
        q += d[i] * (2.0 * s + row[i] * d[i]);
    }
    if (std::isnan(q)) return q;
    if (q < 0.0) q = 0.0; // rounding of a near-zero form
    return run.mahSqrt ? std::sqrt(q) : q;
}

int vlcmobs(VlcRun& run, int j, double& distance) {
    const double* t = run.trtRec.data();
    if (!run.exactVars.empty() && !exactMatch(run, t + kTrtExact, j)) return 1;
    double pt = t[kTrtPs], pc = run.ctlPs[j];
    if (std::isnan(pt) || std::isnan(pc)) return 1; // no pair without both scores
    if (!caliperPass(run, caliperDiff(run, pt, pc))) return 1;
    if (run.distance == kScoreMahalanobis)
        distance = mahDistance(run, j);
    else if (run.distance == kScorePs)
        distance = std::fabs(pt - pc);
    else
        distance = std::fabs(logitClamp(pt) - logitClamp(pc));
    return 0;
}

int vlcxcov(VlcRun& run) {
    const int p = run.nMahComp;
    const int m = static_cast<int>(run.mahVars.size());
    const std::size_t tri = static_cast<std::size_t>(p) * (p + 1) / 2;
    setupMahPos(run);
    run.mahTri1.assign(tri, 0.0); // control cross-products
    run.mahTri2.assign(tri, 0.0); // treated cross-products
    run.mahTri3.assign(tri, 0.0); // the distance matrix
    run.mahVec1.assign(static_cast<std::size_t>(p), 0.0);
    run.mahVec2.assign(static_cast<std::size_t>(p), 0.0);

    if (run.mahCov == kCovIdentity) {
        for (int i = 0; i < p; ++i)
            run.mahTri3[packedAt(i, i)] = 1.0;
        return 0;
    }

    const SetStats& all = run.balance.sets[kAllObs];
    auto mean = [&](int slot, int g) {
        return slot < static_cast<int>(all.slots.size()) ? all.slots[slot].g[g].mean : kNaN;
    };
    std::vector<double> rec(run.vlcvout->recordBytes() / sizeof(double));
    std::vector<double>& x = run.mahVec1;
    std::vector<double> raw(static_cast<std::size_t>(p)), groupMean(static_cast<std::size_t>(p));
    CoordinateSpread spread(p);
    run.vlcvout->point(0);
    while (run.vlcvout->read(rec.data())) {
        if (std::isnan(rec[kVoutPs])) continue; // a row without a score is in no group
        int g = rec[kVoutTreat] < 0.5 ? kControl : kTreated;
        for (int i = 0; i < m; ++i) {
            raw[i] = rec[run.voutCont + run.mahPos[i]];
            groupMean[i] = mean(run.mahVars[i], g);
        }
        if (run.mahAddPs) {
            raw[run.mahAddPs - 1] = rec[kVoutPs];
            groupMean[run.mahAddPs - 1] = mean(run.balance.psSlot(), g);
        }
        if (run.mahAddLps) {
            raw[run.mahAddLps - 1] = rec[kVoutLps];
            groupMean[run.mahAddLps - 1] = mean(run.balance.lpsSlot(), g);
        }
        for (int k = 0; k < p; ++k)
            x[k] = raw[k] - groupMean[k];
        spread.add(raw);
        zscp(g == kControl ? run.mahTri1 : run.mahTri2, x, 1.0);
    }
    run.vlcvout->point(0);

    std::vector<double>& a = run.mahTri3;
    double nc = static_cast<double>(run.nControl), nt = static_cast<double>(run.nTreated);
    if (run.mahCov == kCovPooled) {
        for (std::size_t i = 0; i < tri; ++i)
            a[i] = (run.mahTri1[i] + run.mahTri2[i]) / (nc + nt - 2.0);
    } else {
        for (std::size_t i = 0; i < tri; ++i)
            a[i] = run.mahTri1[i] / (nc - 1.0);
    }

    // Invert by sweeping every pivot; a refused pivot is a coordinate that earlier ones
    // determine, and its row and column are cleared so it drops out of every distance. The
    // variance a pivot has left is judged against the coordinate's variance over all
    // observations, not against its own diagonal: a coordinate constant among the controls
    // has a diagonal of pure rounding noise, which is as large as the noise left after the
    // sweep, so a test relative to itself would accept it.
    const std::vector<double> scale = spread.scale();
    std::string flags(static_cast<std::size_t>(p), '0');
    bool singular = false;
    for (int k = 0; k < p; ++k) {
        host::zsweep(a.data(), p, k, 1e-8, scale.data(), flags.data());
        if (flags[k] != '1') {
            singular = true;
            for (int i = 0; i < p; ++i)
                a[packedAt(i, k)] = 0.0;
        }
    }
    if (singular) {
        host::xpmlog(host::kGroupProc, kMsgMahSingular);
        run.raise(4);
        for (int i = 0; i < m; ++i)
            if (flags[i] != '1') {
                int v = run.mahVars[i];
                std::string name = v < static_cast<int>(run.analysisVars.size())
                                       ? run.analysisVars[v].name
                                       : std::to_string(v + 1);
                host::xpmlog(host::kGroupProc, kMsgMahLeavesOut, {name});
            }
        if (run.mahAddPs && flags[run.mahAddPs - 1] != '1')
            host::xpmlog(host::kGroupProc, kMsgMahLeavesOut, {"PS"});
        if (run.mahAddLps && flags[run.mahAddLps - 1] != '1')
            host::xpmlog(host::kGroupProc, kMsgMahLeavesOut, {"LPS"});
    }
    return 0;
}

} // namespace velloc

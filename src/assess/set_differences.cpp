// vlccdf1: stratum differences and the combined Strata set; vlccdff: the differences and
// standardized differences of every observation set, and the plot axis limits.
#include <algorithm>
#include <cmath>

#include "assess/balance_rows.h"
#include "core/phases.h"
#include "core/run_context.h"

namespace velloc {

namespace {

bool computed(const VlcRun& run, int slot) {
    const BalanceStats& b = run.balance;
    if (!b.excluded.empty() && b.excluded[slot]) return false;
    if (slot >= b.nCont) {
        int j = slot - b.nCont;
        return j < run.classColumns();
    }
    if (slot == b.lpsSlot()) return run.assessLps != 0;
    if (slot == b.psSlot()) return run.assessPs != 0;
    return true;
}

// The difference rule shared by sets and strata: tiny differences become exactly 0, then the
// difference is standardized by D (continuous rows, and binary rows when stdBinVar).
void standardize(bool binary, bool stdBinVar, double allObsS, double denom, double& d, double& z) {
    if (std::isnan(d)) {
        z = kNaN;
        return;
    }
    if (binary) {
        if (std::fabs(d) <= 1e-5) d = 0.0;
        if (!stdBinVar) {
            z = d;
            return;
        }
    } else if (std::fabs(d) <= 1e-5 * allObsS) {
        d = 0.0;
    }
    z = denom > kTolerance ? d / denom : kNaN;
}

} // namespace

int vlccdf1(VlcRun& run) {
    BalanceStats& b = run.balance;
    const int nStrata = run.nStrata;
    if (nStrata <= 0 || static_cast<int>(b.strata.size()) <= nStrata) return 0;
    const bool own = strataOwnDeviation(run);
    const bool stdBin = run.stdBinVar != 0;
    double maxZ = 0.0;
    SetStats& set = b.sets[kFourth];
    set.present = true;
    b.fourth = kStrataSet;
    set.total[kTreated] = set.total[kControl] = nStrata;

    for (int s = 0; s < b.nCont + b.nBin; ++s) {
        if (!computed(run, s)) continue;
        bool binary = s >= b.nCont;
        double allS = b.sets[kAllObs].slots[s].s;
        for (int k = 1; k <= nStrata; ++k) {
            StratumSlot& ss = b.strata[k][s];
            ss.d = ss.mean[kTreated] - ss.mean[kControl];
            standardize(binary, stdBin, allS, own ? ss.s : allS, ss.d, ss.z);
            if (!std::isnan(ss.z)) maxZ = std::max(maxZ, std::fabs(ss.z));
        }
        // The Strata set: stratum means combined with the weights, variances with their squares.
        SlotStats& out = set.slots[s];
        for (int g = 0; g < 2; ++g) {
            double mean = 0.0, var = 0.0, lo = DBL_MAX, hi = -DBL_MAX;
            for (int k = 1; k <= nStrata; ++k) {
                const StratumSlot& ss = b.strata[k][s];
                double w = b.strataWeight[k];
                mean += w * ss.mean[g];
                var += w * w * ss.var[g];
                if (!std::isnan(ss.mean[g])) {
                    lo = std::min(lo, ss.mean[g]);
                    hi = std::max(hi, ss.mean[g]);
                }
            }
            out.g[g].total = nStrata;
            out.g[g].mean = mean;
            out.g[g].var = var;
            out.g[g].min = lo;
            out.g[g].max = hi;
        }
        out.s = deviationRule(out.g[kTreated].var, out.g[kControl].var, run.sdTreatedOnly != 0);
    }
    b.strataStdDiffLimit = stdDiffAxisLimit(maxZ);
    return 0;
}

int vlccdff(VlcRun& run) {
    BalanceStats& b = run.balance;
    const bool stdBin = run.stdBinVar != 0;
    std::vector<int> sets{kAllObs, kRegion};
    if (run.matchActive) sets.push_back(kMatch);
    if (b.fourth != kFourthNone && !(run.weightType == kWeightNone && run.nStrata == 0))
        sets.push_back(kFourth);
    double maxZ = 0.0;
    for (int s = 0; s < b.nCont + b.nBin; ++s) {
        if (!computed(run, s)) continue;
        bool binary = s >= b.nCont;
        double allS = b.sets[kAllObs].slots[s].s;
        for (int set : sets) {
            SlotStats& st = b.sets[set].slots[s];
            st.d = st.g[kTreated].mean - st.g[kControl].mean;
            standardize(binary, stdBin, run.sdPerSet ? st.s : allS, run.sdPerSet ? st.s : allS,
                        st.d, st.z);
            if (!std::isnan(st.z)) maxZ = std::max(maxZ, std::fabs(st.z));
        }
    }
    b.stdDiffLimit = stdDiffAxisLimit(maxZ);
    return 0;
}

} // namespace velloc

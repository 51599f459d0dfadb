// vlccdst: per-stratum balance statistics from one pass over the working file.
#include <algorithm>
#include <cmath>
#include <vector>

#include "adjust/adjust.h"
#include "assess/balance_rows.h"
#include "core/phases.h"
#include "core/run_context.h"

namespace velloc {

namespace {

// The fixed shift of a slot's sums: any value gives the same results; one near the data
// keeps the corrected sum of squares accurate.
double shiftFor(const BalanceStats& b, int slot, int g) {
    double c = b.sets[kFourth].slots[slot].g[g].mean;
    if (std::isnan(c)) c = b.sets[kRegion].slots[slot].g[g].mean;
    if (std::isnan(c)) c = b.sets[kAllObs].slots[slot].g[g].mean;
    return std::isnan(c) ? 0.0 : c;
}

} // namespace

int vlccdst(VlcRun& run) {
    BalanceStats& b = run.balance;
    const int nStrata = run.nStrata;
    const int nSlots = b.nCont + b.nBin;
    if (nStrata <= 0 || nSlots <= 0) return 0;
    b.strata.assign(static_cast<std::size_t>(nStrata) + 1,
                    std::vector<StratumSlot>(static_cast<std::size_t>(nSlots)));
    b.strataWeight.assign(static_cast<std::size_t>(nStrata) + 1, kNaN);
    b.strataLo.assign(static_cast<std::size_t>(b.nCont), kNaN);
    b.strataHi.assign(static_cast<std::size_t>(b.nCont), kNaN);
    b.fourth = kStrataSet;
    b.sets[kFourth].present = true;

    // Slots with a value in the working record.
    std::vector<int> slots, offsets;
    for (int s = 0; s < nSlots; ++s) {
        if (!b.excluded.empty() && b.excluded[s]) continue;
        int off = workingOffset(run, s);
        if (off < 0) continue;
        slots.push_back(s);
        offsets.push_back(off);
    }
    std::vector<double> shift[2];
    for (int g = 0; g < 2; ++g)
        for (int s : slots)
            shift[g].push_back(s < b.nCont ? shiftFor(b, s, g) : 0.0);
    std::vector<double> lo(b.nCont, DBL_MAX), hi(b.nCont, -DBL_MAX);

    const std::size_t recDoubles = static_cast<std::size_t>(run.voutRecBytes + 7) / 8;
    std::vector<double> rec(std::max<std::size_t>(recDoubles, 13));
    host::UtilFile& vout = *run.vlcvout;
    vout.point(0);
    while (vout.read(rec.data())) {
        double stratum = rec[kVoutStratum];
        if (std::isnan(stratum) || stratum < 0.5) continue;
        int k = static_cast<int>(stratum + 0.5);
        if (k > nStrata) continue;
        double f = rec[kVoutFreq];
        int g = rec[kVoutTreat] > 0.5 ? kTreated : kControl;
        std::vector<StratumSlot>& st = b.strata[k];
        for (std::size_t i = 0; i < slots.size(); ++i) {
            int s = slots[i];
            double x = rec[offsets[i]];
            StratumSlot& ss = st[s];
            ss.n[g] += f;
            ss.w[g] += f;
            if (s >= b.nCont) {
                ss.sumInd[g] += f * x;
                continue;
            }
            double dx = x - shift[g][i];
            ss.sumDev[g] += f * dx;
            ss.ssqDev[g] += f * dx * dx;
            ss.min[g] = std::min(ss.min[g], x);
            ss.max[g] = std::max(ss.max[g], x);
            lo[s] = std::min(lo[s], x);
            hi[s] = std::max(hi[s], x);
        }
    }

    // The stratified plotting range, 10% wider on each side.
    for (int s = 0; s < b.nCont; ++s) {
        if (lo[s] > hi[s]) continue;
        double width = hi[s] - lo[s];
        b.strataLo[s] = lo[s] - 0.1 * width;
        b.strataHi[s] = hi[s] + 0.1 * width;
    }

    // Stratum weights from the stratum frequencies (any computed slot carries them).
    if (!slots.empty()) {
        int ref = slots.front();
        double sum = 0.0;
        for (int k = 1; k <= nStrata; ++k) {
            const StratumSlot& ss = b.strata[k][ref];
            double w = run.strataWeight == 2 ? ss.n[kTreated] : ss.n[kControl] + ss.n[kTreated];
            b.strataWeight[k] = w;
            sum += w;
        }
        for (int k = 1; k <= nStrata; ++k)
            b.strataWeight[k] = sum > 0.0 ? b.strataWeight[k] / sum : kNaN;
    }

    for (int k = 1; k <= nStrata; ++k) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            int s = slots[i];
            StratumSlot& ss = b.strata[k][s];
            for (int g = 0; g < 2; ++g) {
                double w = ss.w[g];
                if (s >= b.nCont) {
                    ss.mean[g] = w > 0.0 ? ss.sumInd[g] / w : kNaN;
                    ss.var[g] = ss.mean[g] * (1.0 - ss.mean[g]);
                    continue;
                }
                if (w <= kTolerance) continue;
                double delta = ss.sumDev[g] / w;
                ss.mean[g] = shift[g][i] + delta;
                if (w <= kVarianceTotal) continue;
                double q = ss.ssqDev[g] - delta * delta * w;
                ss.var[g] = q > kTolerance ? q / (w - 1.0) : 0.0;
            }
            ss.s = deviationRule(ss.var[kTreated], ss.var[kControl], run.sdTreatedOnly != 0);
        }
    }
    return 0;
}

} // namespace velloc

// The support region: its bounds, each working record's region status, and the statistics of
// the region observations, unweighted and weighted.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "adjust/adjust.h"
#include "adjust/adjust_messages.h"
#include "base/messages.h"
#include "base/missing.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"
#include "model/logistic.h"

namespace velloc {

namespace {

int fail(VlcRun& run, int msg) {
    host::xpmlog(host::kGroupProc, msg);
    run.raise(112);
    return 1;
}

// The analysis weight of a working record: ATE (stabilized when asked) or ATT weight.
double analysisWeight(const VlcRun& run, const double* rec) {
    if (run.weightType == kWeightAte) return rec[run.stabilize ? kVoutAteStab : kVoutAte];
    if (run.weightType == kWeightAtt) return rec[kVoutAtt];
    return 1.0;
}

// First-pass results of one set: means (or proportions) over the per-group divisor.
void finishMeans(const VlcRun& run, SetStats& set, const double div[2],
                 const std::vector<int>& cont, const std::vector<char>& binOn) {
    const BalanceStats& b = run.balance;
    for (int s : cont)
        for (int g = 0; g < 2; ++g) {
            GroupStats& gs = set.slots[static_cast<std::size_t>(s)].g[g];
            gs.mean = div[g] > 0.0 ? gs.sum / div[g] : kNaN;
        }
    for (std::size_t j = 0; j < binOn.size(); ++j) {
        if (!binOn[j]) continue;
        SlotStats& sl = set.slots[static_cast<std::size_t>(b.binSlot(static_cast<int>(j)))];
        for (int g = 0; g < 2; ++g) {
            const double p = div[g] > 0.0 ? sl.g[g].sum / div[g] : kNaN;
            sl.g[g].mean = p;
            sl.g[g].var = p * (1.0 - p);
        }
        if (sl.g[0].var > kBinaryFloor && sl.g[1].var > kBinaryFloor)
            sl.s = deviationRule(sl.g[1].var, sl.g[0].var, run.sdTreatedOnly);
    }
}

// The largest weights and the first-pass sums of one working record inside the region; w is
// its analysis weight (1 unweighted), useW whether it enters the weighted set.
void addRegionRecord(BalanceStats& b, const RecordSlots& slots, const double* rec, double w,
                     bool useW) {
    SetStats& reg = b.sets[kRegion];
    SetStats& wgt = b.sets[kFourth];
    const double f = rec[kVoutFreq];
    const int g = rec[kVoutTreat] > 0.5 ? kTreated : kControl;
    const double p = rec[kVoutPs];
    const double wf = useW ? w * f : 0.0;
    reg.total[g] += f;
    if (useW) wgt.total[g] += f, wgt.wtotal[g] += wf;
    reg.psMin[g] = std::min(reg.psMin[g], p);
    reg.psMax[g] = std::max(reg.psMax[g], p);
    slots.eachBinary(rec, [&](int j, double v) {
        const auto s = static_cast<std::size_t>(b.binSlot(j));
        reg.slots[s].g[g].sum += f * v;
        if (useW) wgt.slots[s].g[g].sum += wf * v;
    });
    slots.eachContinuous(rec, [&](int s, double x) {
        if (std::isnan(x)) return;
        GroupStats& gs = reg.slots[static_cast<std::size_t>(s)].g[g];
        gs.sum += f * x;
        gs.min = std::min(gs.min, x);
        gs.max = std::max(gs.max, x);
        if (useW) wgt.slots[static_cast<std::size_t>(s)].g[g].sum += wf * x;
    });
}

// The first pass: each working record's region status, set where the record lies, the
// largest weights and the first-pass sums of the region records.
int regionStatusPass(VlcRun& run, const RecordSlots& slots, bool weighted) {
    host::UtilFile& vout = *run.vlcvout;
    const double lower = run.regionLower - kTolerance, upper = run.regionUpper + kTolerance;
    const int rc = host::updateRecords(vout, [&](double* rec) {
        rec[kVoutRegion] = 0.0;
        const int g = rec[kVoutTreat] > 0.5 ? kTreated : kControl;
        const double w = weighted ? analysisWeight(run, rec) : 1.0;
        if (!host::isMissing(w)) {
            run.maxWeight = std::max(run.maxWeight, w);
            const auto& list = run.largestWgt[g].value;
            if (run.listLength > 0 &&
                (list.size() != static_cast<std::size_t>(run.listLength) || w > list.back()))
                vlcextw(run, w, g, rec);
        }
        const double p = rec[kVoutPs];
        if (p >= lower && p <= upper) {
            rec[kVoutRegion] = 1.0;
            // A missing weight keeps the observation out of the weighted statistics only.
            addRegionRecord(run.balance, slots, rec, w, weighted && !host::isMissing(w));
        }
        return true;
    });
    if (rc) return utilFailure(run, rc), 1;
    return 0;
}

// A group whose region is refused leaves its working records as the weights made them.
void clearRegionStatus(VlcRun& run) {
    if (int rc = host::updateRecords(*run.vlcvout, [](double* rec) {
            rec[kVoutRegion] = 0.0;
            return true;
        }))
        utilFailure(run, rc);
}

// Means and proportions of the region set and of the weighted set, which shares the region's
// extremes.
void regionMeans(const VlcRun& run, BalanceStats& b, const RecordSlots& slots,
                 const std::vector<int>& cont, bool weighted) {
    SetStats& reg = b.sets[kRegion];
    SetStats& wgt = b.sets[kFourth];
    for (SlotStats& sl : reg.slots)
        for (int g = 0; g < 2; ++g)
            sl.g[g].total = reg.total[g];
    finishMeans(run, reg, reg.total, cont, slots.binOn);
    if (!weighted) return;
    for (std::size_t s = 0; s < wgt.slots.size(); ++s)
        for (int g = 0; g < 2; ++g) {
            GroupStats& gs = wgt.slots[s].g[g];
            gs.total = wgt.total[g];
            gs.wtotal = wgt.wtotal[g];
            gs.min = reg.slots[s].g[g].min;
            gs.max = reg.slots[s].g[g].max;
        }
    for (int g = 0; g < 2; ++g) {
        wgt.psMin[g] = reg.psMin[g];
        wgt.psMax[g] = reg.psMax[g];
    }
    finishMeans(run, wgt, wgt.wtotal, cont, slots.binOn);
}

// The second pass, over the working file: the squared deviations of the region records.
int regionDeviationPass(VlcRun& run, const RecordSlots& slots, bool weighted) {
    BalanceStats& b = run.balance;
    SetStats& reg = b.sets[kRegion];
    SetStats& wgt = b.sets[kFourth];
    host::UtilFile& vout = *run.vlcvout;
    std::vector<double> buf(vout.recordBytes() / 8 + 1);
    if (int rc = vout.point(0)) return utilFailure(run, rc), 1;
    while (const double* rec = host::nextDoubles(vout, buf.data())) {
        if (!(rec[kVoutRegion] >= 0.1)) continue;
        const double f = rec[kVoutFreq];
        const int g = rec[kVoutTreat] > 0.5 ? kTreated : kControl;
        const double w = weighted ? analysisWeight(run, rec) : 1.0;
        const bool useW = weighted && !host::isMissing(w);
        slots.eachContinuous(rec, [&](int s, double x) {
            if (std::isnan(x)) return;
            GroupStats& r = reg.slots[static_cast<std::size_t>(s)].g[g];
            r.ssq += f * (x - r.mean) * (x - r.mean);
            if (!useW) return;
            GroupStats& v = wgt.slots[static_cast<std::size_t>(s)].g[g];
            v.ssq += w * f * (x - v.mean) * (x - v.mean);
        });
    }
    if (int rc = vout.lastError()) return utilFailure(run, rc), 1;
    vout.point(0);
    return 0;
}

// Variances and deviations of the continuous slots of the region and weighted sets.
void regionVariances(const VlcRun& run, BalanceStats& b, const std::vector<int>& cont,
                     bool weighted) {
    SetStats& reg = b.sets[kRegion];
    SetStats& wgt = b.sets[kFourth];
    for (int s : cont) {
        SlotStats& r = reg.slots[static_cast<std::size_t>(s)];
        for (int g = 0; g < 2; ++g)
            r.g[g].var = reg.total[g] > 1.0 ? r.g[g].ssq / (reg.total[g] - 1.0) : kNaN;
        r.s = deviationRule(r.g[1].var, r.g[0].var, run.sdTreatedOnly);
        if (!weighted) continue;
        SlotStats& v = wgt.slots[static_cast<std::size_t>(s)];
        for (int g = 0; g < 2; ++g)
            v.g[g].var = wgt.wtotal[g] > kVarianceTotal ? v.g[g].ssq / (wgt.wtotal[g] - 1.0) : kNaN;
        v.s = deviationRule(v.g[1].var, v.g[0].var, run.sdTreatedOnly);
    }
}

} // namespace

RegionRule regionRule(const VlcRun& run) {
    RegionRule r;
    r.type = run.regionType;
    r.score = run.regionScore;
    r.extend = run.regionExtend != 0;
    r.extendMult = run.extendMult != 0;
    r.extendLower = run.extendLower;
    r.extendUpper = run.extendUpper;
    r.psMin = run.regionMin;
    r.psMax = run.regionMax;
    return r;
}

double regionExtension(const RegionRule& rule, double amount, double sd) {
    return !host::isMissing(amount) && rule.extendMult ? amount * sd : amount;
}

int regionBounds(const RegionRule& rule, const double min[2], const double max[2], double lowerAmt,
                 double upperAmt, double& lower, double& upper) {
    const double minT = min[kTreated], maxT = max[kTreated];
    const double minC = min[kControl], maxC = max[kControl];
    const double lowCS = std::max(minT, minC), highCS = std::min(maxT, maxC);
    const double lo = std::min(minT, minC), hi = std::max(maxT, maxC);
    // No overlap, or practically constant scores.
    if (highCS < lowCS) return kMsgNoOverlap;
    if (hi - 0.0001 <= lo) return kMsgScoresConstant;
    // The interval, widened when asked, then on the PS scale and clipped to PSMIN=/PSMAX=.
    double L = lo, U = hi;
    if (rule.type == 43 || rule.type == 45) L = lowCS, U = highCS;
    if (rule.type == 46 || rule.type == 47) L = minT, U = maxT;
    if (rule.extend) {
        L -= lowerAmt;
        U += upperAmt;
    }
    if (rule.score != 100) {
        L = psFromLps(L);
        U = psFromLps(U);
    }
    lower = std::max(rule.psMin, L);
    upper = std::min(rule.psMax, U);
    return 0;
}

int vlcregn(VlcRun& run) {
    BalanceStats& b = run.balance;
    const SetStats& all = b.sets[kAllObs];
    const int ps = b.psSlot(), lps = b.lpsSlot();

    // The bounds from the groups' score extremes on the region's scale.
    const auto& sg = all.slots[static_cast<std::size_t>(run.regionScore == kScorePs ? ps : lps)].g;
    const double mins[2] = {sg[kControl].min, sg[kTreated].min};
    const double maxs[2] = {sg[kControl].max, sg[kTreated].max};
    if (int msg = regionBounds(regionRule(run), mins, maxs, run.extendLowerAmt, run.extendUpperAmt,
                               run.regionLower, run.regionUpper))
        return fail(run, msg);

    const bool weighted = run.weightType == kWeightAte || run.weightType == kWeightAtt;
    b.sets[kRegion].clear(true);
    if (weighted) {
        b.sets[kFourth].clear(true);
        b.fourth = kRegionWgt;
    }
    run.maxWeight = 0.0;
    const RecordSlots slots = recordSlots(run);
    const std::vector<int> cont = slots.continuous();
    if (regionStatusPass(run, slots, weighted)) return 1;

    // Enough units of each group inside.
    const SetStats& reg = b.sets[kRegion];
    run.nRegionTreated = static_cast<std::int64_t>(reg.total[kTreated] + 0.1);
    run.nRegionControl = static_cast<std::int64_t>(reg.total[kControl] + 0.1);
    if (run.nRegionTreated < 2 || run.nRegionControl < 2) {
        clearRegionStatus(run);
        return fail(run, run.nRegionTreated < 2 ? kMsgRegionFewTreated : kMsgRegionFewControl);
    }

    regionMeans(run, b, slots, cont, weighted);
    if (regionDeviationPass(run, slots, weighted)) return 1;
    regionVariances(run, b, cont, weighted);
    return 0;
}

} // namespace velloc

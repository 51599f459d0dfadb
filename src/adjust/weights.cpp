// The weights pass: every model row becomes a working record with its scores and weights,
// and the all-observations balance statistics are accumulated on the way.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "adjust/adjust.h"
#include "adjust/adjust_messages.h"
#include "base/messages.h"
#include "base/missing.h"
#include "core/model_rows.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"
#include "model/logistic.h"

namespace velloc {

namespace {

constexpr double kPropLow = 1.110223024625157e-16;
constexpr double kPropHigh = 0.9999999999999999;

// Sizes the balance statistics when the group reset did not (one slot per analysis variable,
// the PS and LPS slots, one per CLASS indicator column).
void ensureBalance(VlcRun& run) {
    BalanceStats& b = run.balance;
    const int nCont = static_cast<int>(run.analysisVars.size()) + 2;
    const int nBin = run.classColumns();
    if (b.nCont == nCont && b.nBin == nBin &&
        b.sets[kAllObs].slots.size() == static_cast<std::size_t>(nCont + nBin))
        return;
    b.reset(nCont, nBin, run.nStrataReq);
}

// A weight whose formula divided by zero or overflowed is missing.
double finiteOrMissing(double w, bool& lost) {
    if (std::isfinite(w)) return w;
    lost = true;
    return host::missingValue();
}

std::string scaleText(double c) {
    std::string t = host::xpmstr(host::kGroupProc, kMsgScaleFactor, {fmt::format("{:g}", c)});
    if (t.size() > 256) t.resize(256);
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    return t;
}

// Marks the observation left out in VLCSKIP: a row in no group, or without a score, has no
// working record. The output data set gives it missing values, or only its score when it
// was scored (flag 2, the scores kept in run.noGroupScores in observation order).
void markLeftOut(VlcRun& run, double obs, bool scored = false) {
    if (!run.vlcskip) return;
    const std::int32_t flag = scored ? 2 : 1;
    if (int rc = run.vlcskip->point(static_cast<std::int64_t>(obs))) utilFailure(run, rc);
    if (int rc = run.vlcskip->write(&flag)) utilFailure(run, rc);
}

// The group shares, the reference lines of the weight displays and the scale factors of the
// scaled weights.
void groupShares(VlcRun& run) {
    const double nT = static_cast<double>(run.freqTreated);
    const double nC = static_cast<double>(run.freqControl);
    run.pT = nT + nC > 0 ? nT / (nC + nT) : kNaN;
    run.pC = 1.0 - run.pT;
    const double pT = run.pT, pC = run.pC;

    if (host::isMissing(run.wgtCloudRef)) run.wgtCloudRef = 10.0;
    if (run.weightType == kWeightAtt) run.wgtRefControl = run.wgtCloudRef * pT / pC;
    if (run.weightType == kWeightAte && !run.stabilize) {
        run.wgtRefTreated = run.wgtCloudRef / pT;
        run.wgtRefControl = run.wgtCloudRef / pC;
    }
    if (run.weightType == kWeightAtt) {
        run.scaleT = 1.0;
        run.scaleC = pT / pC;
    } else if (run.weightType == kWeightAte) {
        run.scaleT = run.stabilize ? 1.0 : 1.0 / pT;
        run.scaleC = run.stabilize ? 1.0 : 1.0 / pC;
    }
    run.scaleTText = scaleText(run.scaleT);
    run.scaleCText = scaleText(run.scaleC);
}

// What the working-record pass needs of every row beyond the row itself.
struct WeightPass {
    bool wantAte, wantStab, wantAtt, suppliedLps;
    int D; // design columns with a coefficient
    RecordSlots slots;
};

WeightPass weightPass(const VlcRun& run) {
    WeightPass w;
    w.wantAte = run.weightType == kWeightAte || run.outAte || run.outWgtAte;
    w.wantStab = run.stabilize || run.outAteStab || run.outWgtAteStab;
    w.wantAtt = run.weightType == kWeightAtt || run.outAtt || run.outWgtAtt;
    w.suppliedLps = run.psSupplied && run.psSource == kScoreLps;
    w.D = std::min(run.model.layout.D, static_cast<int>(run.coef.size()));
    w.slots = recordSlots(run);
    return w;
}

// The working record of model row in with scores p and l: weights, cleared match and stratum
// fields, and the EXACT, CLASS, continuous and ID values copied over. A weight lost to a
// score of 0 or 1 is counted in psZeroOneCount.
void fillWorkingRecord(VlcRun& run, const WeightPass& w, const double* in, double p, double l,
                       double* out) {
    const int E = static_cast<int>(run.exactVars.size());
    const int Q = run.classColumns();
    const int M = run.nCombined;
    const int I = run.idNumCount;
    const double missing = host::missingValue();
    out[kVoutPs] = p;
    out[kVoutLps] = l;
    out[kVoutRegion] = 0.0;
    const bool treated = in[kRowTreat] > 0.5;
    const ScoreWeights sw = scoreWeights(treated, p, run.pT, run.pC);
    bool lost = false;
    out[kVoutAte] = w.wantAte ? finiteOrMissing(sw.ate, lost) : missing;
    out[kVoutAteStab] = w.wantStab ? finiteOrMissing(sw.ateStab, lost) : missing;
    out[kVoutAtt] = w.wantAtt ? finiteOrMissing(sw.att, lost) : missing;
    if (lost) ++run.psZeroOneCount;
    out[kVoutMatchSet] = out[kVoutMatchAtt] = out[kVoutMatchAte] = missing;
    out[kVoutStratum] = missing;
    std::copy_n(&in[static_cast<std::size_t>(run.lregExact)], E, &out[kVoutFixed]);
    std::copy_n(&in[static_cast<std::size_t>(run.lregClass)], Q,
                &out[static_cast<std::size_t>(run.voutClass)]);
    std::copy_n(&in[static_cast<std::size_t>(run.lregCont)], M,
                &out[static_cast<std::size_t>(run.voutCont)]);
    out[static_cast<std::size_t>(run.voutCont + M)] = p;
    out[static_cast<std::size_t>(run.voutCont + M + 1)] = l;
    std::copy_n(&in[static_cast<std::size_t>(run.lregIdNum)], I,
                &out[static_cast<std::size_t>(run.voutIdNum)]);
    if (run.idTextBytes > 0)
        std::memcpy(&out[static_cast<std::size_t>(run.voutIdText)],
                    &in[static_cast<std::size_t>(run.lregIdText)],
                    static_cast<std::size_t>(run.idTextBytes));
}

// The all-observations sums of working record out, observation weight f.
void addAllObs(BalanceStats& b, const RecordSlots& slots, const double* out) {
    SetStats& all = b.sets[kAllObs];
    const double f = out[kVoutFreq];
    const int g = out[kVoutTreat] > 0.5 ? kTreated : kControl;
    const double p = out[kVoutPs];
    if (p < all.psMin[g]) all.psMin[g] = p;
    if (p > all.psMax[g]) all.psMax[g] = p;
    slots.eachBinary(out, [&](int j, double v) {
        all.slots[static_cast<std::size_t>(b.binSlot(j))].g[g].sum += f * v;
    });
    slots.eachContinuous(out, [&](int s, double x) {
        if (std::isnan(x)) return;
        GroupStats& gs = all.slots[static_cast<std::size_t>(s)].g[g];
        gs.sum += f * x;
        if (x < gs.min) gs.min = x;
        if (x > gs.max) gs.max = x;
    });
}

// One working record per model row of a group, with the all-observations sums. Rows of no
// group, and rows whose score is missing (a zero-weight row without a value the score needs),
// take part in no sum, no region, no strata and no match. 0 done, 1 the group ends.
int writeWorkingRecords(VlcRun& run, const WeightPass& w) {
    host::UtilFile& lreg = *run.vlclreg;
    host::UtilFile& vout = *run.vlcvout;
    const std::size_t lregDoubles =
        std::max<std::size_t>(lreg.recordBytes(), static_cast<std::size_t>(run.lregRecBytes)) / 8 +
        1;
    const std::size_t voutDoubles = static_cast<std::size_t>(run.voutRecBytes) / 8 + 1;
    std::vector<double> buf(lregDoubles), out(voutDoubles);
    std::int64_t dropped = 0;
    run.noGroupScores.clear();
    while (const double* in = host::nextDoubles(lreg, buf.data())) {
        // A row without a treatment level but with every value its score needs is scored for
        // the output data set only.
        const bool scoreOnly = in[kRowTreat] == -2.0;
        if (!(in[kRowTreat] >= 0.0) && !scoreOnly) {
            markLeftOut(run, in[kRowObs]);
            ++dropped;
            continue;
        }
        std::fill(out.begin(), out.end(), 0.0);
        out[kVoutObs] = in[kRowObs];
        out[kVoutFreq] = in[kRowFreq];
        out[kVoutTreat] = in[kRowTreat];
        double p, l;
        if (run.psSupplied && !w.suppliedLps) {
            p = in[kRowScore];
            if (scoreOnly && checkSuppliedPs(p)) {
                markLeftOut(run, in[kRowObs]);
                ++dropped;
                continue;
            }
            if (int msg = checkSuppliedPs(p)) {
                host::xpmlog(host::kGroupProc, msg);
                run.raise(112);
                return 1;
            }
            l = std::log(p / (1.0 - p));
        } else {
            l = w.suppliedLps ? in[kRowScore]
                              : lpsFromDesign(&in[kRowDesign], run.coef.data(), w.D);
            p = psFromLps(l);
        }
        if (scoreOnly || std::isnan(p) || std::isnan(l)) {
            const bool scored = scoreOnly && !std::isnan(p) && !std::isnan(l);
            if (scored) run.noGroupScores.insert(run.noGroupScores.end(), {p, l});
            markLeftOut(run, in[kRowObs], scored);
            ++dropped;
            continue;
        }
        fillWorkingRecord(run, w, in, p, l, out.data());
        addAllObs(run.balance, w.slots, out.data());
        if (int rc = vout.write(out.data())) return utilFailure(run, rc), 1;
    }
    if (int rc = lreg.lastError()) return utilFailure(run, rc), 1;
    if (dropped > 0 && run.vlcskip) run.vlcskip->point(0);
    return 0;
}

// Plotting ranges of the continuous slots: 10% and 1% margins around the values' range.
void plottingRanges(BalanceStats& b, const std::vector<int>& cont) {
    const SetStats& all = b.sets[kAllObs];
    for (int s : cont) {
        const auto& sg = all.slots[static_cast<std::size_t>(s)].g;
        const double lo = std::min(sg[0].min, sg[1].min), hi = std::max(sg[0].max, sg[1].max);
        if (lo > hi) continue;
        const double r = hi - lo;
        const auto u = static_cast<std::size_t>(s);
        b.wideLo[u] = lo - 0.1 * r;
        b.wideHi[u] = hi + 0.1 * r;
        b.narrowLo[u] = lo - 0.01 * r;
        b.narrowHi[u] = hi + 0.01 * r;
    }
}

// Proportions (with their variances and deviations) and means over the group frequency
// totals N (control, treated).
void allObsMeans(VlcRun& run, const RecordSlots& slots, const std::vector<int>& cont,
                 const double N[2]) {
    BalanceStats& b = run.balance;
    SetStats& all = b.sets[kAllObs];
    all.total[kControl] = N[kControl];
    all.total[kTreated] = N[kTreated];
    for (SlotStats& sl : all.slots)
        for (int g = 0; g < 2; ++g)
            sl.g[g].total = N[g];
    for (std::size_t j = 0; j < slots.binOn.size(); ++j) {
        if (!slots.binOn[j]) continue;
        SlotStats& sl = all.slots[static_cast<std::size_t>(b.binSlot(static_cast<int>(j)))];
        for (int g = 0; g < 2; ++g)
            sl.g[g].mean = N[g] > 0 ? sl.g[g].sum / N[g] : kNaN;
        const double pc = sl.g[0].mean, pt = sl.g[1].mean;
        if (pc > kPropLow && pc < kPropHigh && pt > kPropLow && pt < kPropHigh) {
            sl.g[0].var = pc * (1.0 - pc);
            sl.g[1].var = pt * (1.0 - pt);
            sl.s = deviationRule(sl.g[1].var, sl.g[0].var, run.sdTreatedOnly);
        }
    }
    for (int s : cont)
        for (int g = 0; g < 2; ++g) {
            GroupStats& gs = all.slots[static_cast<std::size_t>(s)].g[g];
            gs.mean = N[g] > 0 ? gs.sum / N[g] : kNaN;
        }
}

// The second pass over the working file: squared deviations from the group means, then the
// variances and deviations of the continuous slots. 0 done (a failed read ends the step).
int allObsVariances(VlcRun& run, const RecordSlots& slots, const std::vector<int>& cont,
                    const double N[2]) {
    SetStats& all = run.balance.sets[kAllObs];
    host::UtilFile& vout = *run.vlcvout;
    std::vector<double> out(static_cast<std::size_t>(run.voutRecBytes) / 8 + 1);
    if (int rc = vout.point(0)) return utilFailure(run, rc), 1;
    while (vout.read(out.data())) {
        const double f = out[kVoutFreq];
        const int g = out[kVoutTreat] > 0.5 ? kTreated : kControl;
        slots.eachContinuous(out.data(), [&](int s, double x) {
            if (std::isnan(x)) return;
            GroupStats& gs = all.slots[static_cast<std::size_t>(s)].g[g];
            gs.ssq += f * (x - gs.mean) * (x - gs.mean);
        });
    }
    if (int rc = vout.lastError()) return utilFailure(run, rc), 1;
    vout.point(0);

    for (int s : cont) {
        SlotStats& sl = all.slots[static_cast<std::size_t>(s)];
        for (int g = 0; g < 2; ++g)
            sl.g[g].var = N[g] - 1.0 > 0.0 ? sl.g[g].ssq / (N[g] - 1.0) : kNaN;
        sl.s = deviationRule(sl.g[1].var, sl.g[0].var, run.sdTreatedOnly);
    }
    run.sdPs = all.slots[static_cast<std::size_t>(slots.ps)].s;
    run.sdLps = all.slots[static_cast<std::size_t>(slots.lps)].s;
    return 0;
}

// The caliper width and the width the caliper test compares against, and the region
// extensions on the region's score scale: both may be multiples of a score's deviation.
void caliperAndExtensions(VlcRun& run) {
    if (run.caliperOn) {
        double w = run.caliper;
        if (run.caliperMult) w *= run.caliperScale == kScorePs ? run.sdPs : run.sdLps;
        run.caliperWidth = w;
        run.caliperTestWidth = w + w * kTolerance;
    }
    const RegionRule rule = regionRule(run);
    const double sd = rule.score == 100 ? run.sdPs : run.sdLps;
    run.extendLowerAmt = regionExtension(rule, run.extendLower, sd);
    run.extendUpperAmt = regionExtension(rule, run.extendUpper, sd);
}

} // namespace

// The balance slot of each combined continuous value, or -1 when it has none this group.
std::vector<int> combinedSlots(const VlcRun& run) {
    const BalanceStats& b = run.balance;
    std::vector<int> slot(static_cast<std::size_t>(run.nCombined), -1);
    for (int i = 0; i < run.nCombined && i < static_cast<int>(run.combinedVars.size()); ++i) {
        const int s = run.combinedVars[static_cast<std::size_t>(i)];
        if (s >= 0 && s < b.psSlot() && !b.excluded[static_cast<std::size_t>(s)])
            slot[static_cast<std::size_t>(i)] = s;
    }
    return slot;
}

// The CLASS indicator columns that take part this group: true per column.
std::vector<char> activeBinary(const VlcRun& run) {
    const BalanceStats& b = run.balance;
    std::vector<char> on(static_cast<std::size_t>(std::min(run.classColumns(), b.nBin)), 0);
    for (std::size_t j = 0; j < on.size(); ++j)
        on[j] = !b.excluded[static_cast<std::size_t>(b.binSlot(static_cast<int>(j)))];
    return on;
}

RecordSlots recordSlots(const VlcRun& run) {
    RecordSlots r;
    r.combined = combinedSlots(run);
    r.binOn = activeBinary(run);
    r.ps = run.balance.psSlot();
    r.lps = run.balance.lpsSlot();
    r.voutCont = run.voutCont;
    r.voutClass = run.voutClass;
    return r;
}

ScoreWeights scoreWeights(bool treated, double p, double pT, double pC) {
    const double den = treated ? p : 1.0 - p;
    ScoreWeights w;
    w.ate = 1.0 / den;
    w.ateStab = (treated ? pT : pC) / den;
    w.att = treated ? 1.0 : p / den;
    return w;
}

int vlcwght(VlcRun& run) {
    setAdjustLayouts(run);
    ensureBalance(run);
    host::UtilFile& lreg = *run.vlclreg;
    host::UtilFile& vout = *run.vlcvout;
    if (int rc = lreg.point(0)) return utilFailure(run, rc), 1;
    if (int rc = vout.point(-2)) return utilFailure(run, rc), 1;
    if (int rc = vout.setRecordBytes(static_cast<std::size_t>(run.voutRecBytes)))
        return utilFailure(run, rc), 1;
    if (int rc = vout.expectRecords(lreg.count())) return utilFailure(run, rc), 1;
    run.balance.sets[kAllObs].clear(true);
    run.psZeroOneCount = 0;

    groupShares(run);
    const WeightPass w = weightPass(run);
    if (writeWorkingRecords(run, w)) return 1;
    if (run.psZeroOneCount > 0) {
        host::xpmlog(host::kGroupProc, kMsgPsZeroOne, {std::to_string(run.psZeroOneCount)});
        run.raise(4);
    }

    const std::vector<int> cont = w.slots.continuous();
    plottingRanges(run.balance, cont);
    const double N[2] = {static_cast<double>(run.freqControl),
                         static_cast<double>(run.freqTreated)};
    allObsMeans(run, w.slots, cont, N);
    if (allObsVariances(run, w.slots, cont, N)) return 1;
    caliperAndExtensions(run);
    return 0;
}

} // namespace velloc

// Match bookkeeping: carries set numbers, match weights and region status from the treated
// and control files into the working file, fills the most-matched lists and accumulates the
// statistics of the matched sample.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/phases.h"
#include "core/run_context.h"
#include "match/match.h"

namespace velloc {

namespace {

// Record offset of every balance slot's value in the working record (-1: no value there).
std::vector<int> slotOffsets(const VlcRun& run) {
    const BalanceStats& b = run.balance;
    std::vector<int> off(static_cast<std::size_t>(b.nCont + b.nBin), -1);
    for (std::size_t c = 0; c < run.combinedVars.size(); ++c) {
        int a = run.combinedVars[c];
        if (a >= 0 && a < b.nCont - 2) off[a] = run.voutCont + static_cast<int>(c);
    }
    if (b.nCont >= 2) {
        off[b.psSlot()] = kVoutPs;
        off[b.lpsSlot()] = kVoutLps;
    }
    // Binary slots: the CLASS indicator columns, in order.
    for (int j = 0; j < run.classColumns() && j < b.nBin; ++j)
        off[b.binSlot(j)] = run.voutClass + j;
    for (std::size_t s = 0; s < off.size(); ++s)
        if (s < b.excluded.size() && b.excluded[s]) off[s] = -1;
    return off;
}

void clearSet(SetStats& set, int nSlots) {
    set = SetStats{true, std::vector<SlotStats>(static_cast<std::size_t>(nSlots))};
}

void addObservation(SetStats& set, const std::vector<int>& off, const double* rec, int g, double f,
                    double v, bool weighted) {
    set.total[g] += f;
    if (weighted) set.wtotal[g] += v;
    double ps = rec[kVoutPs];
    if (ps < set.psMin[g]) set.psMin[g] = ps;
    if (ps > set.psMax[g]) set.psMax[g] = ps;
    for (std::size_t s = 0; s < off.size(); ++s) {
        if (off[s] < 0) continue;
        double x = rec[off[s]];
        if (std::isnan(x)) continue;
        GroupStats& gs = set.slots[s].g[g];
        gs.total += f;
        if (weighted) gs.wtotal += v;
        gs.sum += v * x;
        if (x < gs.min) gs.min = x;
        if (x > gs.max) gs.max = x;
    }
}

double divisor(const GroupStats& gs, bool weighted) {
    return weighted ? gs.wtotal : gs.total;
}

void finishMeans(SetStats& set, const std::vector<int>& off, bool weighted) {
    for (std::size_t s = 0; s < off.size(); ++s) {
        if (off[s] < 0) continue;
        for (GroupStats& gs : set.slots[s].g) {
            double v = divisor(gs, weighted);
            gs.mean = v > 0.0 ? gs.sum / v : kNaN;
        }
    }
}

void addDeviations(SetStats& set, const std::vector<int>& off, const double* rec, int g, double v) {
    for (std::size_t s = 0; s < off.size(); ++s) {
        if (off[s] < 0) continue;
        double x = rec[off[s]];
        GroupStats& gs = set.slots[s].g[g];
        if (std::isnan(x) || std::isnan(gs.mean)) continue;
        double d = x - gs.mean;
        gs.ssq += v * d * d;
    }
}

void finishVariances(SetStats& set, const std::vector<int>& off, int nCont, bool weighted,
                     bool treatedOnly) {
    for (std::size_t s = 0; s < off.size(); ++s) {
        if (off[s] < 0) continue;
        SlotStats& slot = set.slots[s];
        const bool binary = static_cast<int>(s) >= nCont;
        for (GroupStats& gs : slot.g) {
            if (binary)
                gs.var = std::isnan(gs.mean) ? kNaN : gs.mean * (1.0 - gs.mean);
            else
                gs.var =
                    divisor(gs, weighted) > 1.0 ? gs.ssq / (divisor(gs, weighted) - 1.0) : kNaN;
        }
        double vt = slot.g[kTreated].var, vc = slot.g[kControl].var;
        if (binary && (!(vt > kBinaryFloor) || !(vc > kBinaryFloor)))
            slot.s = kNaN;
        else
            slot.s = deviationRule(vt, vc, treatedOnly);
    }
}

} // namespace

void vlcextm(double value, VlcRun& run, int g, const double* rec) {
    const int n = run.nLargestMatchWgt;
    VlcRun::TopList& list = run.mostMatched[g];
    int p = 0;
    while (p < n && !(list.value[p] < value))
        ++p;
    if (p >= n) return;
    const std::size_t inum = static_cast<std::size_t>(run.idNumCount);
    const std::size_t itext = static_cast<std::size_t>(run.idTextBytes);
    for (int k = n - 1; k > p; --k) {
        list.obs[k] = list.obs[k - 1];
        list.value[k] = list.value[k - 1];
        for (std::size_t i = 0; i < inum; ++i)
            list.idNum[k * inum + i] = list.idNum[(k - 1) * inum + i];
        if (itext) std::memcpy(&list.idText[k * itext], &list.idText[(k - 1) * itext], itext);
    }
    list.obs[p] = rec[kVoutObs];
    list.value[p] = value;
    for (std::size_t i = 0; i < inum; ++i)
        list.idNum[p * inum + i] = rec[run.voutIdNum + i];
    if (itext)
        std::memcpy(&list.idText[p * itext], reinterpret_cast<const char*>(rec + run.voutIdText),
                    itext);
}

int vlccomb(VlcRun& run) {
    BalanceStats& b = run.balance;
    const int nSlots = b.nCont + b.nBin;
    const bool wgt = run.weightType == kWeightMatch || run.weightType == kWeightMatchAte;
    const int wField = run.weightType == kWeightMatch ? kVoutMatchAtt : kVoutMatchAte;
    SetStats& match = b.sets[kMatch];
    SetStats& mwgt = b.sets[kFourth];
    clearSet(match, nSlots);
    if (wgt) {
        clearSet(mwgt, nSlots);
        b.fourth = kMatchWgt;
    }
    const std::vector<int> off = slotOffsets(run);

    // The most-matched lists hold the BY group's entries; size them if the reset did not.
    const int nTop = run.nLargestMatchWgt;
    for (VlcRun::TopList& list : run.mostMatched) {
        if (static_cast<int>(list.value.size()) == nTop) continue;
        list.obs.assign(nTop, -1.0);
        list.value.assign(nTop, -1.0);
        list.idNum.assign(static_cast<std::size_t>(nTop) * run.idNumCount, host::missingValue());
        list.idText.assign(static_cast<std::size_t>(nTop) * run.idTextBytes, ' ');
    }

    // The working file is rewritten in place, record by record, each unit taking its results
    // from where matching left them: its set number (treated units and controls numbered in
    // the working file's order, which the treated and control files follow) and the sets'
    // counts, so neither file is rewritten only to be read back here.
    host::UtilFile& wrk = *run.vlcvout;
    const bool replK = run.withReplacement && run.multipleK;
    static_assert(kControl == 0 && kTreated == 1);
    const std::vector<std::int64_t>* setIds[2] = {&run.ctlSetId, &run.trtSetId};
    const std::vector<std::int32_t>* ownCount[2] = {&run.setCtlCount, &run.setTrtCount};
    const std::vector<std::int32_t>* otherCount[2] = {&run.setTrtCount, &run.setCtlCount};
    host::UtilFile* file[2] = {run.vlccntl.get(), run.vlctreat.get()};
    const std::int64_t units[2] = {file[0]->count(), file[1]->count()};
    std::int64_t next[2] = {0, 0};   // the next unit's number in each group
    host::UtilFile* ended = nullptr; // a treated or control file that ended early
    const int rc = host::updateRecords(wrk, [&](double* r) {
        const int g = r[kVoutTreat] < 0.5 ? kControl : kTreated;
        if (next[g] >= units[g]) {
            ended = file[g];
            return false;
        }
        const auto j = static_cast<std::size_t>(next[g]++);
        const std::int64_t s = j < setIds[g]->size() ? (*setIds[g])[j] : 0;
        r[kVoutMatchSet] = static_cast<double>(s);
        r[kVoutMatchAtt] = r[kVoutMatchAte] = host::missingValue();
        double count = 0.0; // units of the other group in its set
        if (s != 0) {
            // Against its set's other group: a treated unit weighs 1 for the ATT, a control
            // the share of the set's treated units it stands for (with replacement and K > 1
            // its own weight); the ATE weight adds 1 to the other group's share.
            const double share = static_cast<double>((*otherCount[g])[s]) / (*ownCount[g])[s];
            const double att = g == kTreated ? 1.0 : replK ? run.ctlReplWeight[j] : share;
            r[kVoutMatchAtt] = att;
            r[kVoutMatchAte] = (g == kTreated ? share : att) + 1.0;
            r[kVoutRegion] = 2.0;
            count = (*otherCount[g])[s];
        }
        // Unmatched units (count 0) are not "matched most".
        if (nTop > 0 && count > 0.0) {
            bool list =
                g == kTreated ? run.method != kMethodReplace : run.ratioType != kRatioVariable;
            if (list && count > run.mostMatched[g].value[nTop - 1]) vlcextm(count, run, g, r);
        }
        if (!(r[kVoutMatchSet] >= 0.1)) r[kVoutMatchSet] = host::missingValue();
        if (r[kVoutRegion] >= 1.5) {
            double f = r[kVoutFreq];
            addObservation(match, off, r, g, f, f, false);
            if (wgt) addObservation(mwgt, off, r, g, f, f * r[wField], true);
        }
        return true;
    });
    // Every working record takes its results: a fault, or a file that ends early, ends the step
    // rather than leave records without them.
    if (rc != 0) host::utilFatal(rc);
    if (ended) host::utilFatal(ended->lastError() ? ended->lastError() : host::kUtilIoError);

    finishMeans(match, off, false);
    if (wgt) finishMeans(mwgt, off, true);
    wrk.point(0);
    std::vector<double> rec(wrk.recordBytes() / sizeof(double) + 1);
    while (const double* r = host::nextDoubles(wrk, rec.data())) {
        if (!(r[kVoutRegion] >= 1.5)) continue;
        const int g = r[kVoutTreat] < 0.5 ? kControl : kTreated;
        double f = r[kVoutFreq];
        addDeviations(match, off, r, g, f);
        if (wgt) addDeviations(mwgt, off, r, g, f * r[wField]);
    }
    wrk.point(0);
    finishVariances(match, off, b.nCont, false, run.sdTreatedOnly != 0);
    if (wgt) finishVariances(mwgt, off, b.nCont, true, run.sdTreatedOnly != 0);
    return 0;
}

int vlcmend(VlcRun& run) {
    auto release = [](auto& v) {
        v.clear();
        v.shrink_to_fit();
    };
    release(run.setTrtCount);
    release(run.setCtlCount);
    release(run.ctlReplWeight);
    release(run.ctlSetId);
    release(run.trtSetId);
    release(run.ctlPs);
    release(run.ctlExact);
    release(run.ctlMah);
    release(run.nextFreeRight);
    release(run.nextFreeLeft);
    release(run.usedControls);
    return 0;
}

} // namespace velloc

// ECDFDiff, EffSampleSize and BalanceSummary: one pass over the working file gathers, per
// observation set, every record's frequency, weight and assessed values; the eCDF differences
// sort each row's values within the set.
#include "assess/balance_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "adjust/adjust.h"
#include "assess/balance_rules.h"
#include "assess/rows.h"
#include "assess/tables.h"
#include "frame/vlcrun.h"
#include "host/missing.h"
#include "host/utilfile.h"

namespace velloc {

std::vector<EcdfDiff> ecdfDiffSets(const std::vector<double>& x, const std::vector<int>& g,
                                   const std::vector<double>& f,
                                   const std::vector<std::vector<double>>& unitWeight,
                                   std::vector<EcdfKey>* scratch) {
    const std::size_t nSets = unitWeight.size();
    using Keyed = EcdfKey;
    std::vector<Keyed> own;
    std::vector<Keyed>& order = scratch ? *scratch : own;
    order.clear();
    order.reserve(x.size());
    std::vector<std::array<double, 2>> total(nSets, {0.0, 0.0});
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        order.push_back({x[i], static_cast<std::uint32_t>(i)});
        for (std::size_t s = 0; s < nSets; ++s)
            if (unitWeight[s][i] >= 0.0) total[s][g[i]] += f[i] * unitWeight[s][i];
    }
    // An indicator needs no sort: its one step below the largest value is at 0, where the
    // gap is the difference of the weighted shares of 1.
    const bool indicator = std::all_of(order.begin(), order.end(),
                                       [](const Keyed& k) { return k.x == 0.0 || k.x == 1.0; });
    if (indicator) {
        std::vector<EcdfDiff> out;
        for (std::size_t s = 0; s < nSets; ++s) {
            double ones[2] = {0.0, 0.0};
            for (const Keyed& k : order)
                if (k.x == 1.0 && unitWeight[s][k.i] >= 0.0)
                    ones[g[k.i]] += f[k.i] * unitWeight[s][k.i];
            const double gap = std::fabs(ones[1] / total[s][1] - ones[0] / total[s][0]);
            if (!(total[s][0] > 0.0) || !(total[s][1] > 0.0))
                out.push_back({kNaN, kNaN});
            else
                out.push_back({gap, gap});
        }
        return out;
    }
    std::sort(order.begin(), order.end(), [](const Keyed& a, const Keyed& b) { return a.x < b.x; });
    // Per set: running weights, and the difference at the set's latest distinct value, which
    // counts only once a larger value of the set follows (the largest never counts).
    std::vector<std::array<double, 2>> cum(nSets, {0.0, 0.0});
    std::vector<double> sum(nSets, 0.0), max(nSets, 0.0), pending(nSets, kNaN);
    std::vector<std::size_t> distinct(nSets, 0);
    std::vector<unsigned char> seen(nSets, 0);
    for (std::size_t k = 0; k < order.size();) {
        const double v = order[k].x;
        std::fill(seen.begin(), seen.end(), 0);
        for (; k < order.size() && order[k].x == v; ++k) {
            const std::uint32_t i = order[k].i;
            for (std::size_t s = 0; s < nSets; ++s)
                if (unitWeight[s][i] >= 0.0) {
                    cum[s][g[i]] += f[i] * unitWeight[s][i];
                    seen[s] = 1;
                }
        }
        for (std::size_t s = 0; s < nSets; ++s) {
            if (!seen[s]) continue;
            if (!std::isnan(pending[s])) {
                sum[s] += pending[s];
                max[s] = std::max(max[s], pending[s]);
                ++distinct[s];
            }
            pending[s] = std::fabs(cum[s][1] / total[s][1] - cum[s][0] / total[s][0]);
        }
    }
    std::vector<EcdfDiff> out;
    for (std::size_t s = 0; s < nSets; ++s) {
        if (!(total[s][0] > 0.0) || !(total[s][1] > 0.0))
            out.push_back({kNaN, kNaN});
        else
            out.push_back({distinct[s] ? sum[s] / static_cast<double>(distinct[s]) : 0.0, max[s]});
    }
    return out;
}

EcdfDiff ecdfDiff(const std::vector<WeightedValue>& values) {
    std::vector<double> x, f;
    std::vector<int> g;
    for (const WeightedValue& v : values) {
        x.push_back(v.x);
        f.push_back(v.w);
        g.push_back(v.g);
    }
    return ecdfDiffSets(x, g, f, {std::vector<double>(values.size(), 1.0)}).front();
}

double EssAccumulator::ess() const {
    return sumW2 > 0.0 ? sumW * sumW / sumW2 : kNaN;
}

namespace {

// The records of the BY group as the report needs them.
struct Records {
    std::vector<double> f, region, weight4, stratum;
    std::vector<int> g;
    std::vector<std::vector<double>> value; // per balance row
};

Records readRecords(const VlcRun& run, const std::vector<BalanceRow>& rows) {
    Records r;
    r.value.resize(rows.size());
    // The group's observation count bounds the records; reserving avoids regrowing 1e6-row
    // columns.
    const auto expect = static_cast<std::size_t>(std::max<std::int64_t>(run.nObsRead, 0));
    for (auto* v : {&r.f, &r.region, &r.weight4, &r.stratum})
        v->reserve(expect);
    r.g.reserve(expect);
    for (auto& v : r.value)
        v.reserve(expect);
    std::vector<int> offset;
    for (const BalanceRow& row : rows)
        offset.push_back(workingOffset(run, row.slot));
    int wField = -1;
    if (run.balance.fourth == kRegionWgt)
        wField = run.weightType == 124 ? kVoutAtt : (run.stabilize ? kVoutAteStab : kVoutAte);
    else if (run.balance.fourth == kMatchWgt)
        wField = run.weightType == 125 ? kVoutMatchAtt : kVoutMatchAte;
    const std::size_t recDoubles = static_cast<std::size_t>(run.voutRecBytes + 7) / 8;
    std::vector<double> rec(std::max<std::size_t>(recDoubles, kVoutFixed));
    host::UtilFile& vout = *run.vlcvout;
    vout.point(0);
    while (vout.read(rec.data())) {
        r.f.push_back(rec[kVoutFreq]);
        r.g.push_back(rec[kVoutTreat] > 0.5 ? kTreated : kControl);
        r.region.push_back(rec[kVoutRegion]);
        r.weight4.push_back(wField >= 0 ? rec[static_cast<std::size_t>(wField)] : 1.0);
        r.stratum.push_back(rec[kVoutStratum]);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            double x = offset[i] >= 0 ? rec[static_cast<std::size_t>(offset[i])] : kNaN;
            if (host::isMissing(x)) x = kNaN;
            r.value[i].push_back(rows[i].binary && !std::isnan(x) ? rows[i].proportion(x) : x);
        }
    }
    vout.point(0);
    return r;
}

// Per record, its weight per unit in the set, or a negative value when it is not a member.
// Strata: omega(k) * N_g / N_g(k), so that each group's weights sum to its stratified count
// and the weighted means are the stratum-weighted means of the Strata row.
std::vector<double> setWeights(const VlcRun& run, const Records& r, int set) {
    const std::size_t n = r.f.size();
    std::vector<double> w(n, -1.0);
    const BalanceStats& b = run.balance;
    if (set == kFourth && b.fourth == kStrataSet) {
        const int nStrata = static_cast<int>(b.strataWeight.size()) - 1;
        std::vector<double> count[2] = {std::vector<double>(nStrata + 1, 0.0),
                                        std::vector<double>(nStrata + 1, 0.0)};
        auto stratumOf = [&](std::size_t i) {
            double s = r.stratum[i];
            if (std::isnan(s) || host::isMissing(s) || s < 0.5) return 0;
            int k = static_cast<int>(s + 0.5);
            return k <= nStrata ? k : 0;
        };
        double total[2] = {0.0, 0.0};
        for (std::size_t i = 0; i < n; ++i)
            if (int k = stratumOf(i)) {
                count[r.g[i]][k] += r.f[i];
                total[r.g[i]] += r.f[i];
            }
        for (std::size_t i = 0; i < n; ++i)
            if (int k = stratumOf(i)) w[i] = b.strataWeight[k] * total[r.g[i]] / count[r.g[i]][k];
        return w;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double s = r.region[i];
        switch (set) {
        case kAllObs:
            w[i] = 1.0;
            break;
        case kRegion:
            if (s > 0.1) w[i] = 1.0;
            break;
        case kMatch:
            if (s > 1.1) w[i] = 1.0;
            break;
        default: {
            const bool in = b.fourth == kMatchWgt ? s > 1.1 : s > 0.1;
            if (in && !std::isnan(r.weight4[i])) w[i] = r.weight4[i];
        }
        }
    }
    return w;
}

std::string shortNumber(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

void printEss(const VlcRun& run, const std::vector<int>& sets,
              const std::vector<std::vector<double>>& weights, const Records& r) {
    const host::TableDefinition& def = run.balance.settings.essDef;
    host::TableInstance inst = openInstance(run, def);
    for (std::size_t s = 0; s < sets.size(); ++s) {
        EssAccumulator acc[2];
        for (std::size_t i = 0; i < r.f.size(); ++i)
            if (weights[s][i] >= 0.0) acc[r.g[i]].add(r.f[i], weights[s][i]);
        RowBuffer row(def);
        row.text("Obs", setLabel(run, sets[s]));
        for (int g : {kTreated, kControl}) {
            const std::string p = g == kTreated ? "Treated" : "Control";
            row.num(p + "N", acc[g].count);
            row.num(p + "Weight", acc[g].sumW);
            row.num(p + "ESS", acc[g].ess());
        }
        row.addTo(inst);
    }
    deliverTable(run, inst);
}

// The largest value of a column over the rows, and the row it belongs to.
struct Largest {
    double value = kNaN;
    std::string row;
    void offer(double v, const std::string& name) {
        if (std::isnan(v) || (!std::isnan(value) && !(v > value))) return;
        value = v;
        row = name;
    }
};

} // namespace

void defineBalanceReport(VlcRun& run, int varWidth, int obsWidth) {
    BalanceSettings& set = run.balance.settings;
    auto begin = [](host::TableDefinition& def, const char* name, const char* label) {
        def = host::TableDefinition{};
        def.name = name;
        def.label = label;
        def.templatePath = std::string("Stat.Velloc.") + name;
    };
    begin(set.ecdfDef, "ECDFDiff", "eCDF Differences");
    set.ecdfDef.addColumn(textColumn("Variable", varWidth));
    if (!run.assessClass.empty()) set.ecdfDef.addColumn(textColumn("Level", 32));
    set.ecdfDef.addColumn(textColumn("Obs", obsWidth));
    set.ecdfDef.addColumn(numColumn("ECDFMean"));
    set.ecdfDef.addColumn(numColumn("ECDFMax"));

    begin(set.essDef, "EffSampleSize", "Effective Sample Size");
    set.essDef.addColumn(textColumn("Obs", obsWidth));
    for (const char* p : {"Treated", "Control"})
        for (const char* c : {"N", "Weight", "ESS"})
            set.essDef.addColumn(numColumn(std::string(p) + c));

    begin(set.summaryDef, "BalanceSummary", "Balance Summary");
    host::TableDefinition& s = set.summaryDef;
    s.addColumn(textColumn("Obs", obsWidth));
    s.addColumn(numColumn("NVariables"));
    s.addColumn(numColumn("MaxAbsStdDiff"));
    s.addColumn(textColumn("MaxStdDiffVariable", 53));
    host::ColumnDef over = numColumn("NStdDiffOver");
    over.label = "|Std Diff| > " + shortNumber(set.stdDiffThreshold);
    s.addColumn(over);
    host::ColumnDef vr = numColumn("NVarRatioOut");
    vr.label = "Variance Ratio outside [" + shortNumber(1.0 / set.varRatioThreshold) + ", " +
               shortNumber(set.varRatioThreshold) + "]";
    s.addColumn(vr);
    s.addColumn(numColumn("MaxECDF"));
    s.addColumn(textColumn("MaxECDFVariable", 53));
}

int printBalanceReport(VlcRun& run) {
    const BalanceSettings& opt = run.balance.settings;
    if (opt.ecdfDef.name.empty() || !run.vlcvout) return 0;
    const BalanceStats& b = run.balance;
    const std::vector<BalanceRow> rows = balanceRows(run);
    const std::vector<int> sets = presentSets(run);
    const Records r = readRecords(run, rows);
    std::vector<std::vector<double>> weights;
    for (int set : sets)
        weights.push_back(setWeights(run, r, set));

    // eCDF differences, row by row and set by set.
    std::vector<std::vector<EcdfDiff>> ecdf(rows.size());
    std::vector<EcdfKey> scratch; // one sort buffer for every row
    host::TableInstance inst = openInstance(run, opt.ecdfDef);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ecdf[i] = ecdfDiffSets(r.value[i], r.g, r.f, weights, &scratch);
        for (std::size_t s = 0; s < sets.size(); ++s) {
            RowBuffer row(opt.ecdfDef);
            row.text("Variable", rows[i].label);
            row.text("Level", rows[i].level);
            row.text("Obs", setLabel(run, sets[s]));
            row.num("ECDFMean", ecdf[i][s].mean);
            row.num("ECDFMax", ecdf[i][s].max);
            row.addTo(inst);
        }
    }
    deliverTable(run, inst);

    printEss(run, sets, weights, r);

    // The summary of each set against the thresholds.
    host::TableInstance sum = openInstance(run, opt.summaryDef);
    for (std::size_t s = 0; s < sets.size(); ++s) {
        Largest z, ks;
        int over = 0, vrOut = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const SlotStats& st = b.sets[sets[s]].slots[static_cast<std::size_t>(rows[i].slot)];
            const double az = std::fabs(st.z);
            z.offer(az, rows[i].named());
            if (az > opt.stdDiffThreshold) ++over;
            if (!rows[i].binary) {
                double vr = varianceRatio(st.g[kTreated].var, st.g[kControl].var);
                if (vr > opt.varRatioThreshold || vr < 1.0 / opt.varRatioThreshold) ++vrOut;
            }
            ks.offer(ecdf[i][s].max, rows[i].named());
        }
        RowBuffer row(opt.summaryDef);
        row.text("Obs", setLabel(run, sets[s]));
        row.num("NVariables", static_cast<double>(rows.size()));
        row.num("MaxAbsStdDiff", z.value);
        row.text("MaxStdDiffVariable", z.row);
        row.num("NStdDiffOver", over);
        row.num("NVarRatioOut", vrOut);
        row.num("MaxECDF", ks.value);
        row.text("MaxECDFVariable", ks.row);
        row.addTo(sum);
    }
    deliverTable(run, sum);
    return 0;
}

} // namespace velloc

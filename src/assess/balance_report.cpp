// ECDFDiff, EffSampleSize and BalanceSummary: one pass over the working file gathers, per
// observation set, every record's frequency, weight and assessed values; the eCDF differences
// sort each row's values within the set.
#include "assess/balance_report.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

#include "adjust/adjust.h"
#include "assess/balance_rows.h"
#include "assess/balance_rules.h"
#include "assess/table_columns.h"
#include "base/missing.h"
#include "core/run_context.h"
#include "io/utility_file.h"

namespace velloc {

EcdfDiff ecdfDiff(const std::vector<WeightedValue>& values) {
    std::vector<double> x, f;
    std::vector<int> g;
    for (const WeightedValue& v : values) {
        x.push_back(v.x);
        f.push_back(v.w);
        g.push_back(v.g);
    }
    EcdfScratch scratch;
    return ecdfDiffSets(x, ecdfMasses(g, f, {std::vector<double>(values.size(), 1.0)}), scratch)
        .front();
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
        wField =
            run.weightType == kWeightAtt ? kVoutAtt : (run.stabilize ? kVoutAteStab : kVoutAte);
    else if (run.balance.fourth == kMatchWgt)
        wField = run.weightType == kWeightMatch ? kVoutMatchAtt : kVoutMatchAte;
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

// The rows' differences, computed on the machine's cores (each row is independent, so the
// results do not depend on how many run at once). A sort of 1,000,000 values per row made these
// tables a large part of a weighting step.
std::vector<std::vector<EcdfDiff>> ecdfDiffRows(const std::vector<std::vector<double>>& values,
                                                const EcdfMasses& masses) {
    std::vector<std::vector<EcdfDiff>> out(values.size());
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure; // out of memory in a helper reaches the caller's handler
    std::mutex failureLock;
    auto work = [&] {
        try {
            EcdfScratch scratch;
            for (std::size_t i; (i = next++) < values.size();)
                out[i] = ecdfDiffSets(values[i], masses, scratch);
        } catch (...) {
            std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) failure = std::current_exception();
            next = values.size();
        }
    };
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    // Small groups are not worth a thread.
    const std::size_t helpers =
        masses.group.size() < 50000 ? 0 : std::min(cores, values.size()) - 1;
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (failure) std::rethrow_exception(failure);
    return out;
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
    const std::vector<std::vector<EcdfDiff>> ecdf =
        ecdfDiffRows(r.value, ecdfMasses(r.g, r.f, weights));
    host::TableInstance inst = openInstance(run, opt.ecdfDef);
    for (std::size_t i = 0; i < rows.size(); ++i) {
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

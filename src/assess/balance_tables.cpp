// The balance tables: VarInfo and StdDiff over the observation sets, StrataVarInfo and
// StrataStdDiff over the strata.
#include <cmath>
#include <string>

#include "assess/balance_report.h"
#include "assess/balance_rows.h"
#include "assess/balance_rules.h"
#include "assess/table_columns.h"
#include "core/phases.h"
#include "core/run_context.h"

namespace velloc {

namespace {

const char* prefix(int g) {
    return g == kTreated ? "Treated" : "Control";
}

double groupTotal(const SetStats& st, const SlotStats& slot, int g) {
    return slot.g[g].total > 0.0 ? slot.g[g].total : st.total[g];
}

double groupWeight(const SetStats& st, const SlotStats& slot, int g) {
    return slot.g[g].wtotal > 0.0 ? slot.g[g].wtotal : st.wtotal[g];
}

// Whether a strata table is asked for and the strata statistics are there.
bool strataTable(const VlcRun& run, const host::TableDefinition& def) {
    return !def.name.empty() && run.nStrata > 0 &&
           static_cast<int>(run.balance.strata.size()) > run.nStrata;
}

// One instance of the table, addRows(instance, row) giving the lines of each balance row.
template <class Fn> void fillTable(VlcRun& run, const host::TableDefinition& def, Fn&& addRows) {
    host::TableInstance inst = openInstance(run, def);
    for (const BalanceRow& r : balanceRows(run))
        addRows(inst, r);
    deliverTable(run, inst);
}

// A line of a balance table, begun with its variable and level.
RowBuffer lineFor(const host::TableDefinition& def, const BalanceRow& r) {
    RowBuffer row(def);
    row.text("Variable", r.label);
    row.text("Level", r.level);
    return row;
}

} // namespace

int vlctinf(VlcRun& run) {
    const host::TableDefinition& def = run.tabVarInfo;
    if (def.name.empty()) return 0;
    const BalanceStats& b = run.balance;
    fillTable(run, def, [&](host::TableInstance& inst, const BalanceRow& r) {
        for (int set : presentSets(run)) {
            const SetStats& st = b.sets[set];
            const SlotStats& slot = st.slots[r.slot];
            bool strata = set == kFourth && b.fourth == kStrataSet;
            bool weighted = set == kFourth && (b.fourth == kRegionWgt || b.fourth == kMatchWgt);
            RowBuffer row = lineFor(def, r);
            row.text("Obs", setLabel(run, set));
            double mean[2];
            for (int g : {kTreated, kControl}) {
                std::string p = prefix(g);
                mean[g] = r.binary ? r.proportion(slot.g[g].mean) : slot.g[g].mean;
                row.num(p + "N", strata ? run.nStrata : groupTotal(st, slot, g));
                if (weighted) row.num(p + "Weight", groupWeight(st, slot, g));
                row.num(p + "Mean", mean[g]);
                double var = r.binary && !strata ? mean[g] * (1.0 - mean[g]) : slot.g[g].var;
                row.num(p + "StdDev", std::sqrt(var));
                if (!r.binary) {
                    row.num(p + "Min", extreme(slot.g[g].min));
                    row.num(p + "Max", extreme(slot.g[g].max));
                }
            }
            row.num("MeanDiff", mean[kTreated] - mean[kControl]);
            row.addTo(inst);
        }
    });
    return 0;
}

int vlctdif(VlcRun& run) {
    const host::TableDefinition& def = run.tabStdDiff;
    if (def.name.empty()) return 0;
    const BalanceStats& b = run.balance;
    fillTable(run, def, [&](host::TableInstance& inst, const BalanceRow& r) {
        bool rawOnly = r.binary && !run.stdBinVar;
        double z0 = b.sets[kAllObs].slots[r.slot].z;
        for (int set : presentSets(run)) {
            const SlotStats& slot = b.sets[set].slots[r.slot];
            RowBuffer row = lineFor(def, r);
            row.text("Obs", setLabel(run, set));
            row.num("MeanDiff", r.difference(slot.d));
            if (set != kAllObs) row.num("PctReduction", pctReduction(z0, slot.z));
            if (!rawOnly) {
                if (set == kAllObs || run.sdPerSet) row.num("StdDev", slot.s);
                row.num("StdDiff", r.difference(slot.z));
                row.num("VarianceRatio", varianceRatio(slot.g[kTreated].var, slot.g[kControl].var));
            }
            row.addTo(inst);
        }
    });
    return printBalanceReport(run);
}

int vlctins(VlcRun& run) {
    const host::TableDefinition& def = run.tabStrataVarInfo;
    const BalanceStats& b = run.balance;
    if (!strataTable(run, def)) return 0;
    fillTable(run, def, [&](host::TableInstance& inst, const BalanceRow& r) {
        for (int k = 1; k <= run.nStrata; ++k) {
            const StratumSlot& ss = b.strata[k][r.slot];
            RowBuffer row = lineFor(def, r);
            row.num("StratumIndex", k);
            double mean[2];
            for (int g : {kTreated, kControl}) {
                std::string p = prefix(g);
                mean[g] = r.binary ? r.proportion(ss.mean[g]) : ss.mean[g];
                row.num(p + "N", ss.n[g]);
                row.num(p + "Weight", ss.w[g]);
                if (std::isnan(ss.mean[g])) continue;
                row.num(p + "Mean", mean[g]);
                if (r.binary) {
                    row.num(p + "StdDev", std::sqrt(ss.mean[g] * (1.0 - ss.mean[g])));
                    continue;
                }
                if (ss.n[g] > kVarianceTotal) row.num(p + "StdDev", std::sqrt(ss.var[g]));
                row.num(p + "Min", extreme(ss.min[g]));
                row.num(p + "Max", extreme(ss.max[g]));
            }
            row.num("MeanDiff", mean[kTreated] - mean[kControl]);
            row.addTo(inst);
        }
    });
    return 0;
}

int vlctdis(VlcRun& run) {
    const host::TableDefinition& def = run.tabStrataStdDiff;
    const BalanceStats& b = run.balance;
    if (!strataTable(run, def)) return 0;
    fillTable(run, def, [&](host::TableInstance& inst, const BalanceRow& r) {
        bool rawOnly = r.binary && !run.stdBinVar;
        double z0 = b.sets[kAllObs].slots[r.slot].z;
        for (int k = 1; k <= run.nStrata; ++k) {
            const StratumSlot& ss = b.strata[k][r.slot];
            RowBuffer row = lineFor(def, r);
            row.num("StratumIndex", k);
            row.num("MeanDiff", r.difference(ss.d));
            row.num("StdDiff", r.difference(ss.z));
            row.num("PctReduction", pctReduction(z0, ss.z));
            if (!rawOnly) {
                row.num("StdDev", ss.s);
                row.num("VarianceRatio", varianceRatio(ss.var[kTreated], ss.var[kControl]));
            }
            row.num("StratumWeight", b.strataWeight[k]);
            row.addTo(inst);
        }
    });
    return 0;
}

} // namespace velloc

// The information tables of a BY group (DataInfo, PSInfo, StrataInfo) and the largest-weight
// listing (LargestWgtObs).
#include <cmath>
#include <string>

#include "assess/balance_rows.h"
#include "assess/table_columns.h"
#include "base/text.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "render/dynamics.h"

namespace velloc {

namespace {

std::string text(int number) {
    return host::wkread(host::kGroupProc, number);
}

void addText(host::FactoidTable& t, int label, std::string value) {
    t.entries.push_back({text(label), std::move(value), {}});
}

void addNumber(host::FactoidTable& t, int label, double value) {
    t.entries.push_back({text(label), value, host::NumberFormat{0, -1}});
}

void addCount(host::FactoidTable& t, int label, double value) {
    t.entries.push_back({text(label), value, host::NumberFormat{0, 0}});
}

} // namespace

int vlctdat(VlcRun& run) {
    host::FactoidTable t;
    t.name = "DataInfo";
    t.label = host::wkread(host::kGroupHostOutput, 2);
    t.templatePath = "Stat.Velloc.DataInfo";
    const BalanceStats& b = run.balance;
    addText(t, 36, run.inData ? run.inData->path() : std::string());
    if (!run.outDataPath.empty())
        addText(t, 37, run.outDataName.empty() ? run.outDataPath : run.outDataName);
    addText(t, 38, run.treatName);
    // The TREATED= text, or the level chosen without one (the first, or the last).
    std::string treated = host::trimBlanks(run.treatedText);
    if (treated.empty()) treated = run.treatedLevel;
    addText(t, 39, treated);
    addCount(t, 41, b.sets[kAllObs].total[kTreated]);
    addCount(t, 42, b.sets[kAllObs].total[kControl]);
    addText(t, 50, text(run.regionType));
    addNumber(t, 51, run.regionLower);
    addNumber(t, 52, run.regionUpper);
    addCount(t, 55, b.sets[kRegion].total[kTreated]);
    addCount(t, 56, b.sets[kRegion].total[kControl]);
    if (run.nStrata) addCount(t, 40, run.nStrata);
    deliverTable(run, t);
    return 0;
}

int vlctpsc(VlcRun& run) {
    const host::TableDefinition& def = run.tabPsInfo;
    if (def.name.empty()) return 0;
    const BalanceStats& b = run.balance;
    const int ps = b.psSlot();
    host::TableInstance inst = openInstance(run, def);
    for (int set : presentSets(run)) {
        const SetStats& st = b.sets[set];
        const SlotStats& slot = st.slots[ps];
        RowBuffer row(def);
        row.text("Obs", setLabel(run, set));
        bool strata = set == kFourth && b.fourth == kStrataSet;
        bool weighted = set == kFourth && (b.fourth == kRegionWgt || b.fourth == kMatchWgt);
        for (int g : {kTreated, kControl}) {
            std::string p = g == kTreated ? "Treated" : "Control";
            row.num(p + "Freq", strata ? run.nStrata : st.total[g]);
            if (weighted) row.num(p + "Weight", st.wtotal[g]);
            row.num(p + "Mean", slot.g[g].mean);
            row.num(p + "StdDev", std::sqrt(slot.g[g].var));
            bool own = set == kFourth;
            row.num(p + "Min", extreme(own ? slot.g[g].min : st.psMin[g]));
            row.num(p + "Max", extreme(own ? slot.g[g].max : st.psMax[g]));
        }
        row.num("MeanDiff", slot.g[kTreated].mean - slot.g[kControl].mean);
        row.addTo(inst);
    }
    deliverTable(run, inst);
    return 0;
}

int vlctstr(VlcRun& run) {
    const host::TableDefinition& def = run.tabStrataInfo;
    if (def.name.empty() || run.nStrata <= 0) return 0;
    host::TableInstance inst = openInstance(run, def);
    auto at = [](const std::vector<double>& v, int k) {
        return k < static_cast<int>(v.size()) ? v[k] : kNaN;
    };
    auto count = [&](int which, int k) {
        const auto& v = run.strataCount[which];
        return k < static_cast<int>(v.size()) ? static_cast<double>(v[k]) : kNaN;
    };
    for (int k = 1; k <= run.nStrata; ++k) {
        RowBuffer row(def);
        row.num("StratumIndex", k);
        row.num("LowerPS", at(run.strataLowerPs, k));
        row.num("UpperPS", at(run.strataUpperPs, k));
        row.num("TreatedFreq", count(1, k));
        row.num("ControlFreq", count(0, k));
        row.num("TotalFreq", count(2, k));
        row.num("StratumWeight", at(run.balance.strataWeight, k));
        row.addTo(inst);
    }
    deliverTable(run, inst);
    return 0;
}

int vlctexw(VlcRun& run) {
    const host::TableDefinition& def = run.tabLargestWgt;
    if (def.name.empty()) return 0;
    host::TableInstance inst =
        openInstance(run, def,
                     {{host::dyn::kTrtLevelWgt, host::trimBlanks(run.scaleTText)},
                      {host::dyn::kCntlLevelWgt, host::trimBlanks(run.scaleCText)}});
    const int rows = run.nLargestWgt;
    for (int i = 0; i < rows; ++i) {
        RowBuffer row(def);
        bool any = false;
        for (int g : {kTreated, kControl}) {
            const VlcRun::TopList& list = run.largestWgt[g];
            if (i >= static_cast<int>(list.value.size())) continue;
            std::string p = g == kTreated ? "Treated" : "Control";
            double value = list.value[i];
            bool filled = value >= 0.0;
            any = any || filled;
            row.num(p + "Obs", filled ? list.obs[i] : kNaN);
            row.num(p + "Wgt", filled ? value : kNaN);
            double scale = g == kTreated ? run.scaleT : run.scaleC;
            row.num(p + "ScaledWgt", filled ? value / scale : kNaN);
            // ID columns, in ID-list order: numeric values, then packed text, as stored.
            int numIdx = 0, textOff = 0;
            for (const IdVar& v : run.idVars) {
                std::string column = host::xpmstr(host::kGroupProc, 75, {v.var.name});
                if (column.size() > 32) column.resize(32);
                std::string tmpl = g == kTreated ? "TreatedID" : "ControlID";
                if (v.var.type == host::VarType::Character) {
                    std::size_t at = static_cast<std::size_t>(i) * run.idTextBytes + textOff;
                    std::string value;
                    if (at + v.width <= list.idText.size())
                        value = host::trimBlanks(std::string(list.idText.data() + at, v.width));
                    row.id(tmpl, column, value);
                    textOff += v.width;
                } else {
                    std::size_t at = static_cast<std::size_t>(i) * run.idNumCount + numIdx;
                    double value = at < list.idNum.size() ? list.idNum[at] : kNaN;
                    row.id(tmpl, column, value);
                    ++numIdx;
                }
            }
        }
        if (any) row.addTo(inst);
    }
    deliverTable(run, inst);
    return 0;
}

} // namespace velloc

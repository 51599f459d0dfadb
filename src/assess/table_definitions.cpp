// vlcxods: the column-table definitions, made once per step before the first BY group. The
// columns a definition has follow the options, never the data of a BY group.
#include <algorithm>
#include <string>

#include "assess/balance_report.h"
#include "assess/balance_rows.h"
#include "assess/table_columns.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "render/dynamics.h"

namespace velloc {

namespace {

// Level texts are cut to 16 bytes unless two levels would then read alike.
constexpr int kLevelWidth = 32;

std::string text(int number) {
    return host::wkread(host::kGroupProc, number);
}

void begin(host::TableDefinition& def, const std::string& name, int labelMessage) {
    def = host::TableDefinition{};
    def.name = name;
    def.label = host::wkread(host::kGroupHostOutput, labelMessage);
    def.templatePath = "Stat.Velloc." + name;
}

// Width of the Variable column: the longest assessed name, and the score row labels shown.
int variableWidth(const VlcRun& run) {
    std::size_t w = 1;
    if (run.assessPs > 0) w = std::max(w, text(82).size());
    if (run.assessLps) w = std::max(w, text(83).size());
    for (int pos : run.assessCont)
        w = std::max(w, run.analysisVars[pos].name.size());
    for (const AssessClass& a : run.assessClass)
        w = std::max(w, run.classVars[a.classIndex].var.name.size());
    return static_cast<int>(std::min<std::size_t>(w, 32));
}

// The Level column follows the Variable column whenever a CLASS variable is assessed.
void variableColumns(const VlcRun& run, host::TableDefinition& def, int varWidth) {
    def.addColumn(textColumn("Variable", varWidth));
    if (!run.assessClass.empty()) def.addColumn(textColumn("Level", kLevelWidth));
}

// Width of the Obs column: the longest set label that can occur.
int setWidth(const VlcRun& run) {
    std::size_t w = 1;
    std::vector<int> labels{58, 61};
    if (run.matchGiven) labels.push_back(64);
    if (run.nStrataReq > 0) labels.push_back(66);
    if (run.weightType == kWeightAte || run.weightType == kWeightAtt) labels.push_back(69);
    if (run.weightType == kWeightMatch || run.weightType == kWeightMatchAte) labels.push_back(72);
    for (int n : labels)
        w = std::max(w, text(n).size());
    return static_cast<int>(std::min<std::size_t>(w, 32));
}

// The treated and control blocks of the information tables.
void groupBlocks(const VlcRun& run, host::TableDefinition& def, const char* count, bool minMax) {
    for (const char* prefix : {"Treated", "Control"}) {
        std::string p = prefix;
        def.addColumn(numColumn(p + count));
        if (run.weightType != kWeightNone) def.addColumn(numColumn(p + "Weight"));
        def.addColumn(numColumn(p + "Mean"));
        def.addColumn(numColumn(p + "StdDev"));
        if (minMax) {
            def.addColumn(numColumn(p + "Min"));
            def.addColumn(numColumn(p + "Max"));
        }
    }
    def.addColumn(numColumn("MeanDiff"));
}

void blockEnds(host::TableDefinition& def, bool minMax) {
    def.dynamics.push_back(
        {host::dyn::kTreatedEnd, std::string(minMax ? "TreatedMax" : "TreatedStdDev")});
    def.dynamics.push_back(
        {host::dyn::kControlEnd, std::string(minMax ? "ControlMax" : "ControlStdDev")});
}

// One ID column per ID variable, named and labelled by catalogue text 75.
void idColumns(const VlcRun& run, host::TableDefinition& def, bool treated) {
    for (const IdVar& v : run.idVars) {
        std::string name = host::xpmstr(host::kGroupProc, 75, {v.var.name});
        if (name.size() > 32) name.resize(32);
        host::ColumnDef c =
            v.var.type == host::VarType::Character ? textColumn(name, v.width) : numColumn(name);
        c.templateColumn = treated ? "TreatedID" : "ControlID";
        c.dynamicName = treated ? "_idTreated" : "_idControl";
        c.dynamicValue = v.var.name;
        def.addColumn(std::move(c));
    }
}

} // namespace

int vlcxods(VlcRun& run) {
    const bool strata = run.nStrataReq > 0;
    const bool minMax = continuousRowsExist(run);
    const int varWidth = variableWidth(run);
    const int obsWidth = setWidth(run);
    run.contRows = minMax ? 1 : 0;
    run.strataOwnSd = strataOwnDeviation(run) ? 1 : 0;

    host::TableDefinition& ps = run.tabPsInfo;
    begin(ps, "PSInfo", 5);
    ps.addColumn(textColumn("Obs", obsWidth));
    groupBlocks(run, ps, "Freq", true);

    if (strata) {
        host::TableDefinition& si = run.tabStrataInfo;
        begin(si, "StrataInfo", 6);
        si.addColumn(numColumn("StratumIndex"));
        si.addColumn(numColumn("LowerPS"));
        si.addColumn(numColumn("UpperPS"));
        for (const char* c : {"TreatedFreq", "ControlFreq", "TotalFreq", "StratumWeight"})
            si.addColumn(numColumn(c));
    }

    if (run.varInfoTable) {
        host::TableDefinition& vi = run.tabVarInfo;
        begin(vi, "VarInfo", 7);
        variableColumns(run, vi, varWidth);
        vi.addColumn(textColumn("Obs", obsWidth));
        groupBlocks(run, vi, "N", minMax);
        blockEnds(vi, minMax);
        if (strata) {
            host::TableDefinition& svi = run.tabStrataVarInfo;
            begin(svi, "StrataVarInfo", 9);
            variableColumns(run, svi, varWidth);
            svi.addColumn(numColumn("StratumIndex"));
            groupBlocks(run, svi, "N", minMax);
            blockEnds(svi, minMax);
        }
    }

    if (run.stdDiffTable) {
        host::TableDefinition& sd = run.tabStdDiff;
        begin(sd, "StdDiff", 8);
        variableColumns(run, sd, varWidth);
        sd.addColumn(textColumn("Obs", obsWidth));
        for (const char* c : {"MeanDiff", "StdDev", "StdDiff", "PctReduction", "VarianceRatio"})
            sd.addColumn(numColumn(c));
        std::int64_t allObs = 0, allObsCont = 0;
        if (!run.sdPerSet) {
            if (run.stdBinVar || run.assessClass.empty())
                allObs = 1;
            else
                allObsCont = 1;
        }
        sd.dynamics.push_back({"_allObs", allObs});
        sd.dynamics.push_back({"_allObsCont", allObsCont});
        defineBalanceReport(run, varWidth, obsWidth);
        if (strata) {
            host::TableDefinition& ssd = run.tabStrataStdDiff;
            begin(ssd, "StrataStdDiff", 10);
            variableColumns(run, ssd, varWidth);
            ssd.addColumn(numColumn("StratumIndex"));
            ssd.addColumn(numColumn("MeanDiff"));
            if (run.strataOwnSd) ssd.addColumn(numColumn("StdDev"));
            for (const char* c : {"StdDiff", "PctReduction", "VarianceRatio", "StratumWeight"})
                ssd.addColumn(numColumn(c));
        }
    }

    if (run.nLargestWgt) {
        host::TableDefinition& lw = run.tabLargestWgt;
        begin(lw, "LargestWgtObs", 11);
        if (run.weightType != kWeightAtt) {
            lw.addColumn(numColumn("TreatedObs"));
            idColumns(run, lw, true);
            lw.addColumn(numColumn("TreatedWgt"));
            lw.addColumn(numColumn("TreatedScaledWgt"));
        }
        lw.addColumn(numColumn("ControlObs"));
        idColumns(run, lw, false);
        lw.addColumn(numColumn("ControlWgt"));
        lw.addColumn(numColumn("ControlScaledWgt"));
        int wgtType = run.weightType == kWeightAtt   ? 92
                      : run.weightType == kWeightAte ? (run.stabilize ? 91 : 90)
                                                     : 0;
        if (wgtType) lw.dynamics.push_back({host::dyn::kWgtType, text(wgtType)});
    }
    return 0;
}

// Kept for the table order; it has nothing to print.
int vlctmpe(VlcRun&) {
    return 0;
}

} // namespace velloc

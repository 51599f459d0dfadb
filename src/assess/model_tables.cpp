// The propensity model as a paper reports it: PSModelEstimates (one row per parameter) and
// PSModelFit (observations, likelihood, discrimination, convergence) of a fitted BY group.
#include "assess/model_tables.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "assess/balance_rows.h"
#include "assess/table_columns.h"
#include "base/text.h"
#include "core/run_context.h"

namespace velloc {

namespace {

// Upper normal tail beyond |z|, doubled.
double twoSidedP(double z) {
    return std::erfc(std::fabs(z) / std::sqrt(2.0));
}

constexpr double kZ975 = 1.959963984540054;

void begin(host::TableDefinition& def, const std::string& name, const std::string& label) {
    def = host::TableDefinition{};
    def.name = name;
    def.label = label;
    def.templatePath = "Stat.Velloc." + name;
}

} // namespace

int vlctpme(VlcRun& run) {
    if (!run.fitDone) return 0;
    host::TableDefinition def;
    begin(def, "PSModelEstimates", "Propensity Score Model Estimates");
    std::size_t nameWidth = 9;
    for (const std::string& n : run.fitParmNames)
        nameWidth = std::max(nameWidth, n.size());
    def.addColumn(textColumn("Parameter", static_cast<int>(std::min<std::size_t>(nameWidth, 64))));
    for (const char* c :
         {"Estimate", "StdErr", "WaldZ", "ProbZ", "OddsRatio", "LowerCL", "UpperCL"})
        def.addColumn(numColumn(c));
    def.addColumn(textColumn("Note", 16));
    host::TableInstance inst = openInstance(run, def);
    const std::size_t D = run.coef.size();
    const bool haveCov = run.fitCov.size() == D * D;
    for (std::size_t j = 0; j < D; ++j) {
        RowBuffer row(def);
        row.text("Parameter", j < run.fitParmNames.size() ? run.fitParmNames[j] : "");
        const bool aliased = j > 0 && j - 1 < run.aliasFlags.size() && run.aliasFlags[j - 1];
        if (aliased) {
            // A reference level is fixed at 0 by the coding; any other alias by the data.
            const bool ref = j < run.fitRefLevel.size() && run.fitRefLevel[j];
            row.num("Estimate", 0.0);
            row.text("Note", ref ? "Reference" : "Aliased");
            row.addTo(inst);
            continue;
        }
        // The fit ran on continuous columns divided by their scales; report the data's units.
        const double scale = j < run.fitColScale.size() ? run.fitColScale[j] : 1.0;
        const double b = run.coef[j] / scale;
        row.num("Estimate", b);
        if (haveCov) {
            const double se = std::sqrt(run.fitCov[j * D + j]) / scale;
            const double z = b / se;
            row.num("StdErr", se);
            row.num("WaldZ", z);
            row.num("ProbZ", twoSidedP(z));
            row.num("LowerCL", std::exp(b - kZ975 * se));
            row.num("UpperCL", std::exp(b + kZ975 * se));
        }
        row.num("OddsRatio", std::exp(b));
        row.addTo(inst);
    }
    deliverTable(run, inst);
    return 0;
}

int vlctpmf(VlcRun& run) {
    if (!run.fitDone) return 0;
    host::FactoidTable t;
    t.name = "PSModelFit";
    t.label = "Propensity Score Model Fit";
    t.templatePath = "Stat.Velloc.PSModelFit";
    auto count = [&](const char* label, double v) {
        t.entries.push_back({label, v, host::NumberFormat{0, 0}});
    };
    auto number = [&](const char* label, double v) {
        t.entries.push_back({label, v, host::NumberFormat{0, -1}});
    };
    auto text = [&](const char* label, std::string v) {
        t.entries.push_back({label, std::move(v), {}});
    };
    count("Observations Read", static_cast<double>(run.nObsInput));
    count("Observations Used", static_cast<double>(run.fitNUsed));
    count("Dropped for Missing Values", static_cast<double>(run.nObsDropped));
    if (run.nObsDropped > 0) text("Variables with Missing Values", run.droppedVars);
    if (run.freqVar.number > 0 || run.weightVar.number > 0)
        number("Sum of Weights Used", run.fitWeightUsed);
    number("-2 Log Likelihood", run.fitMinus2LL);
    number("AIC", run.fitMinus2LL + 2.0 * run.nFree);
    number("c Statistic", run.fitCstat);
    count("Iterations", run.fitIterations);
    text("Convergence", run.fitReturn == 0 ? "Criterion satisfied" : "Not converged");
    deliverTable(run, t);
    return 0;
}

int vlctpsm(VlcRun& run) {
    vlctpme(run);
    return vlctpmf(run);
}

} // namespace velloc

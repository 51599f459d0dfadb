#include "render/templates.h"

#include <map>

#include "render/dynamics.h"
#include "render/number_format.h"

namespace velloc::host {

namespace {

constexpr NumberFormat kCount{0, 0};
constexpr NumberFormat kDec4{0, 4};
constexpr NumberFormat kPct{0, 2};
constexpr NumberFormat kBest{0, -1};

ColumnTemplate col(std::string name, std::string header, NumberFormat f = kBest,
                   SpanKind span = SpanKind::None) {
    ColumnTemplate c;
    c.name = std::move(name);
    c.header = std::move(header);
    c.format = f;
    c.span = span;
    return c;
}

ColumnTemplate spanned(std::string name, std::string header, NumberFormat f, std::string text) {
    ColumnTemplate c = col(std::move(name), std::move(header), f, SpanKind::Text);
    c.spanText = std::move(text);
    return c;
}

// fn(prefix, span) for the treated block of a table's columns, then the control block.
template <class Fn> void eachGroupBlock(Fn&& fn) {
    fn(std::string("Treated"), SpanKind::Treated);
    fn(std::string("Control"), SpanKind::Control);
}

// The treated and control blocks of the information tables, N column named by `count`.
void addGroupBlocks(std::vector<ColumnTemplate>& cols, const std::string& count) {
    eachGroupBlock([&](const std::string& p, SpanKind span) {
        cols.push_back(col(p + count, "N", kCount, span));
        cols.push_back(col(p + "Weight", "Weight", kDec4, span));
        cols.push_back(col(p + "Mean", "Mean", kDec4, span));
        cols.push_back(col(p + "StdDev", "Std Dev", kDec4, span));
        cols.push_back(col(p + "Min", "Minimum", kDec4, span));
        cols.push_back(col(p + "Max", "Maximum", kDec4, span));
    });
    cols.push_back(col("MeanDiff", "Mean Difference", kDec4));
}

void addDiffColumns(std::vector<ColumnTemplate>& cols) {
    cols.push_back(col("MeanDiff", "Mean Difference", kDec4));
    cols.push_back(col("StdDev", "Standard Deviation", kDec4));
    cols.push_back(col("StdDiff", "Standardized Difference", kDec4));
    cols.push_back(col("PctReduction", "Percent Reduction", kPct));
    cols.push_back(col("VarianceRatio", "Variance Ratio", kDec4));
}

std::map<std::string, TableTemplate, std::less<>> buildTemplates() {
    std::map<std::string, TableTemplate, std::less<>> all;
    auto add = [&](std::string name, std::string title, std::vector<ColumnTemplate> cols,
                   std::vector<std::string> subtitles = {}) {
        std::string path = "Stat.Velloc." + name;
        all[path] = TableTemplate{path, std::move(title), std::move(subtitles), std::move(cols)};
    };

    std::vector<ColumnTemplate> ps{col("Obs", "Observations")};
    addGroupBlocks(ps, "Freq");
    add("PSInfo", "Propensity Score Information", ps);

    const std::string range = "Propensity Score Range";
    const std::string freqs = "Number of Observations";
    add("StrataInfo", "Strata Information",
        {col("StratumIndex", "Stratum", kCount), spanned("LowerPS", "Lower", kDec4, range),
         spanned("UpperPS", "Upper", kDec4, range),
         spanned("TreatedFreq", "Treated", kCount, freqs),
         spanned("ControlFreq", "Control", kCount, freqs),
         spanned("TotalFreq", "Total", kCount, freqs),
         col("StratumWeight", "Stratum Weight", kDec4)});

    std::vector<ColumnTemplate> vi{col("Variable", "Variable"), col("Level", "Level"),
                                   col("Obs", "Observations")};
    addGroupBlocks(vi, "N");
    add("VarInfo", "Variable Information", vi);

    std::vector<ColumnTemplate> svi{col("Variable", "Variable"), col("Level", "Level"),
                                    col("StratumIndex", "Stratum", kCount)};
    addGroupBlocks(svi, "N");
    add("StrataVarInfo", "Strata Variable Information", svi);

    std::vector<ColumnTemplate> sd{col("Variable", "Variable"), col("Level", "Level"),
                                   col("Obs", "Observations")};
    addDiffColumns(sd);
    add("StdDiff", "Standardized Mean Differences", sd);

    std::vector<ColumnTemplate> ssd{col("Variable", "Variable"), col("Level", "Level"),
                                    col("StratumIndex", "Stratum", kCount)};
    addDiffColumns(ssd);
    ssd.push_back(col("StratumWeight", "Stratum Weight", kDec4));
    add("StrataStdDiff", "Strata Standardized Mean Differences", ssd);

    add("ECDFDiff", "eCDF Differences",
        {col("Variable", "Variable"), col("Level", "Level"), col("Obs", "Observations"),
         col("ECDFMean", "eCDF Mean", kDec4), col("ECDFMax", "eCDF Max", kDec4)});
    std::vector<ColumnTemplate> ess{col("Obs", "Observations")};
    eachGroupBlock([&](const std::string& p, SpanKind span) {
        ess.push_back(col(p + "N", "N", kCount, span));
        ess.push_back(col(p + "Weight", "Sum of Weights", kDec4, span));
        ess.push_back(col(p + "ESS", "Effective Sample Size", kPct, span));
    });
    add("EffSampleSize", "Effective Sample Size", ess);
    add("BalanceSummary", "Balance Summary",
        {col("Obs", "Observations"), col("NVariables", "Rows", kCount),
         col("MaxAbsStdDiff", "Largest |Std Diff|", kDec4), col("MaxStdDiffVariable", "Variable"),
         col("NStdDiffOver", "Over Threshold", kCount),
         col("NVarRatioOut", "Variance Ratios Outside", kCount),
         col("MaxECDF", "Largest eCDF Max", kDec4), col("MaxECDFVariable", "Variable")});

    std::vector<ColumnTemplate> lw;
    eachGroupBlock([&](const std::string& p, SpanKind span) {
        lw.push_back(col(p + "Obs", "Obs", kCount, span));
        lw.push_back(col(p + "ID", "ID", kBest, span));
        lw.push_back(col(p + "Wgt", "Weight", kDec4, span));
        ColumnTemplate scaled = col(p + "ScaledWgt", "Scaled Weight", kDec4, span);
        scaled.headerDynamic = span == SpanKind::Treated ? dyn::kTrtLevelWgt : dyn::kCntlLevelWgt;
        lw.push_back(scaled);
    });
    add("LargestWgtObs", "Observations with Largest Weights", lw, {dyn::kWgtType});

    add("MatchMostObs", "Most Frequently Matched Observations",
        {col("TreatedObs", "Obs", kCount, SpanKind::Treated),
         col("TreatedID", "ID", kBest, SpanKind::Treated),
         col("MatchedControl", "Matched Controls", kCount, SpanKind::Treated),
         col("ControlObs", "Obs", kCount, SpanKind::Control),
         col("ControlID", "ID", kBest, SpanKind::Control),
         col("MatchedTreated", "Matched Treated Units", kCount, SpanKind::Control)});

    const std::string limits = "Confidence Limits";
    add("Effect", "Treatment Effect",
        {col("Outcome", "Outcome"), col("Estimand", "Estimand"), col("Measure", "Measure"),
         col("Estimate", "Estimate", kDec4), col("StdErr", "Standard Error", kDec4),
         spanned("Lower", "Lower", kDec4, limits), spanned("Upper", "Upper", kDec4, limits),
         col("Z", "z", kPct), col("ProbZ", "Pr > |z|", kDec4), col("TreatedN", "N Treated", kCount),
         col("ControlN", "N Control", kCount), col("TreatedESS", "ESS Treated", kPct),
         col("ControlESS", "ESS Control", kPct), col("SEMethod", "SE Method")});
    add("EffectMeans", "Adjusted Group Means",
        {col("Outcome", "Outcome"), col("Group", "Group"), col("N", "N", kCount),
         col("ESS", "ESS", kPct), col("Mean", "Mean", kDec4),
         col("StdErr", "Standard Error", kDec4)});

    const std::string wald = "95% Wald Limits";
    add("PSModelEstimates", "Propensity Score Model Estimates",
        {col("Parameter", "Parameter"), col("Estimate", "Estimate", kDec4),
         col("StdErr", "Standard Error", kDec4), col("WaldZ", "z", kPct),
         col("ProbZ", "Pr > |z|", kDec4), col("OddsRatio", "Odds Ratio", kDec4),
         spanned("LowerCL", "Lower", kDec4, wald), spanned("UpperCL", "Upper", kDec4, wald),
         col("Note", "Note")});
    add("PSModelFit", "Propensity Score Model Fit", {});
    add("DataInfo", "Data Information", {});
    add("MatchInfo", "Matching Information", {});
    return all;
}

const std::map<std::string, TableTemplate, std::less<>>& templates() {
    static const auto all = buildTemplates();
    return all;
}

const ColumnTemplate* findColumn(const TableTemplate* t, const ColumnDef& c) {
    if (!t) return nullptr;
    for (const auto& ct : t->columns)
        if (ct.name == c.name || (!c.templateColumn.empty() && ct.name == c.templateColumn))
            return &ct;
    return nullptr;
}

// "Treated (treat = 1)": the level when known, with the variable when known.
std::string groupSpan(const TableInstance& inst, bool treated) {
    std::string word = treated ? "Treated" : "Control";
    const Dynamic* level = findDynamic(inst, treated ? dyn::kTrtLevel : dyn::kCntlLevel);
    std::string levelText = level ? dynamicText(level->value) : std::string();
    if (levelText.empty()) return word;
    const Dynamic* var = findDynamic(inst, dyn::kTrtVar);
    std::string varText = var ? dynamicText(var->value) : std::string();
    if (varText.empty()) return word + " (" + levelText + ")";
    return word + " (" + varText + " = " + levelText + ")";
}

} // namespace

const TableTemplate* findTemplate(std::string_view path) {
    auto it = templates().find(path);
    return it == templates().end() ? nullptr : &it->second;
}

const Dynamic* findDynamic(const TableInstance& instance, std::string_view name) {
    for (const auto& d : instance.dynamics)
        if (d.name == name) return &d;
    if (instance.definition)
        for (const auto& d : instance.definition->dynamics)
            if (d.name == name) return &d;
    return nullptr;
}

TableLayout layoutTable(const TableInstance& instance) {
    TableLayout out;
    const TableDefinition* def = instance.definition;
    std::string path = instance.templatePath;
    if (path.empty() && def) path = def->templatePath;
    const TableTemplate* t = findTemplate(path);

    if (t)
        out.title = t->title;
    else if (def && !def->label.empty())
        out.title = def->label;
    else if (def)
        out.title = def->name;
    if (t)
        for (const auto& name : t->subtitleDynamics)
            if (const Dynamic* d = findDynamic(instance, name)) {
                std::string text = dynamicText(d->value);
                if (!text.empty()) out.subtitles.push_back(text);
            }
    if (!def) return out;

    std::vector<std::string> spanText(def->columns.size());
    for (std::size_t i = 0; i < def->columns.size(); ++i) {
        const ColumnDef& c = def->columns[i];
        const ColumnTemplate* ct = findColumn(t, c);
        LayoutColumn lc;
        lc.numeric = c.kind == ColumnKind::Numeric;
        if (!c.label.empty())
            lc.header = trimRight(c.label);
        else if (ct && !ct->headerDynamic.empty() && findDynamic(instance, ct->headerDynamic))
            lc.header = dynamicText(findDynamic(instance, ct->headerDynamic)->value);
        else if (ct && !c.templateColumn.empty() && !c.dynamicValue.empty())
            lc.header = c.dynamicValue; // an ID column: the ID variable's name
        else if (ct)
            lc.header = ct->header;
        else
            lc.header = c.name;
        if (c.format.decimals >= 0 || c.format.width > 0 || !ct)
            lc.format = c.format;
        else
            lc.format = ct->format;
        out.columns.push_back(std::move(lc));
        if (ct) {
            switch (ct->span) {
            case SpanKind::None:
                break;
            case SpanKind::Treated:
                spanText[i] = groupSpan(instance, true);
                break;
            case SpanKind::Control:
                spanText[i] = groupSpan(instance, false);
                break;
            case SpanKind::Text:
                spanText[i] = ct->spanText;
                break;
            }
        }
    }
    // Adjacent columns with the same span text share one spanning header.
    for (std::size_t i = 0; i < spanText.size();) {
        std::size_t j = i;
        while (j + 1 < spanText.size() && spanText[j + 1] == spanText[i])
            ++j;
        if (!spanText[i].empty()) out.spans.push_back(LayoutSpan{i, j, spanText[i]});
        i = j + 1;
    }
    return out;
}

std::string factoidTitle(const FactoidTable& table) {
    if (const TableTemplate* t = findTemplate(table.templatePath)) return t->title;
    if (!table.label.empty()) return table.label;
    return table.name;
}

std::string graphTitle(const GraphRecord& graph) {
    auto text = [&](const char* name) -> std::string {
        for (const auto* list : {&graph.dynamics, &graph.phantom.dynamics})
            for (const Dynamic& d : *list)
                if (d.name == name)
                    if (auto s = std::get_if<std::string>(&d.value)) return trimRight(*s);
        return {};
    };
    for (const char* name : {dyn::kETitle, dyn::kTitle, dyn::kLabel})
        if (std::string t = text(name); !t.empty()) return t;
    return graph.name;
}

} // namespace velloc::host

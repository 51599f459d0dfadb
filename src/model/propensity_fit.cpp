#include "model/propensity_fit.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "base/messages.h"
#include "core/run_context.h"
#include "model/logistic.h"
#include "model/model_messages.h"
#include "model/structure.h"

namespace velloc {

namespace {

// Design column names for the log: the effect as written with each CLASS factor's level,
// "x*x", "race black", "c*x A".
// With forTable, the names of the estimates table instead: "race = black", "c*x = A".
std::vector<std::string> columnNames(const VlcRun& run, bool forTable = false) {
    const ModelDesc& m = run.model;
    std::vector<std::string> names{"Intercept"};
    for (const EffectSpec& e : m.modelDef.effects) {
        std::string effect;
        std::vector<int> cls;
        auto add = [&](const FactorRef& f, char sep) {
            if (!effect.empty()) effect.push_back(sep);
            if (f.isClass) {
                effect += m.modelDef.classVars[static_cast<std::size_t>(f.index)].name;
                cls.push_back(f.index);
            } else if (static_cast<std::size_t>(f.index) < run.analysisVars.size()) {
                effect += run.analysisVars[static_cast<std::size_t>(f.index)].name;
            }
        };
        for (const FactorRef& f : e.crossed)
            add(f, '*');
        for (std::size_t i = 0; i < e.nested.size(); ++i)
            add(e.nested[i], i ? ' ' : '(');
        if (!e.nested.empty()) effect.push_back(')');
        // Columns in level order, the last CLASS factor fastest (as the design lays them).
        std::vector<int> level(cls.size(), 0);
        const std::size_t first = names.size();
        bool empty = false;
        for (int c : cls)
            empty = empty || m.levels[static_cast<std::size_t>(c)].count() == 0;
        while (!empty) {
            std::string n = effect;
            for (std::size_t i = 0; i < cls.size(); ++i)
                n += (forTable ? (i ? ", " : " = ") : " ") + levelText(m, cls[i], level[i]);
            names.push_back(std::move(n));
            std::size_t i = cls.size();
            while (i > 0 &&
                   ++level[i - 1] >= m.levels[static_cast<std::size_t>(cls[i - 1])].count())
                level[--i] = 0;
            if (i == 0) break;
        }
        const std::size_t e0 = &e - m.modelDef.effects.data();
        if (e0 < m.layout.effectWidth.size() &&
            names.size() - first != static_cast<std::size_t>(m.layout.effectWidth[e0]))
            names.resize(first + static_cast<std::size_t>(std::max(m.layout.effectWidth[e0], 0)),
                         effect);
    }
    return names;
}

// Each design column's divisor back to the data's units: the product of the scales of the
// continuous variables in its effect (the model rows hold them divided by run.contScale).
std::vector<double> columnScales(const VlcRun& run) {
    const ModelDesc& m = run.model;
    std::vector<double> scales{1.0};
    for (std::size_t e = 0; e < m.modelDef.effects.size(); ++e) {
        const EffectSpec& effect = m.modelDef.effects[e];
        double s = 1.0;
        auto take = [&](const FactorRef& f) {
            const auto i = static_cast<std::size_t>(f.index);
            if (!f.isClass && i < run.contScale.size()) s *= run.contScale[i];
        };
        for (const FactorRef& f : effect.crossed)
            take(f);
        for (const FactorRef& f : effect.nested)
            take(f);
        const int width = e < m.layout.effectWidth.size() ? m.layout.effectWidth[e] : 0;
        scales.insert(scales.end(), static_cast<std::size_t>(std::max(width, 0)), s);
    }
    return scales;
}

} // namespace

int vlclreg(VlcRun& run) {
    ModelRowSource* rows = run.lregRows;
    if (!rows || rows->recordDoubles() < kRowDesign + run.model.layout.D) return 1;
    // Running out of memory here is reported by the step runner, which names the phase.
    run.fitDone = false;
    FitResult res;
    std::vector<unsigned char> structural = structuralAliases(run.model);
    int rc =
        fitLogistic(*rows, run.model.layout.D, run.nObsRead, res, structural, columnNames(run));
    // Rows that end early would leave the model fitted on part of the data.
    if (res.readError)
        host::utilFatal(run.vlclreg->lastError() ? run.vlclreg->lastError() : host::kUtilIoError);
    run.raise(res.status);
    // A model that cannot be fitted abandons the BY group, as a data condition does.
    if (rc != 0) {
        run.raise(112);
        return 1;
    }
    run.coef = std::move(res.coef);
    run.aliasFlags = std::move(res.aliased);
    run.nAliased = res.nAliased;
    run.nFree = res.m;
    run.fitReturn = res.newtonRc;
    run.fitIterations = res.iterations;
    run.fitDone = true;
    run.fitCov = std::move(res.cov);
    run.fitRefLevel = std::move(structural);
    run.fitRefLevel.resize(run.coef.size(), 0);
    run.fitParmNames = columnNames(run, true);
    run.fitParmNames.resize(run.coef.size());
    run.fitColScale = columnScales(run);
    run.fitColScale.resize(run.coef.size(), 1.0);
    run.fitMinus2LL = res.minus2LL;
    run.fitCstat = res.cstat;
    run.fitNUsed = res.nUsed;
    run.fitWeightUsed = res.weightUsed;
    // Until the score tables exist the log is where a user sees the fit.
    std::string coefs;
    for (std::size_t j = 0; j < run.coef.size(); ++j)
        coefs += fmt::format("{}{:.10g}", j ? " " : "", run.coef[j]);
    host::xpmlog(host::kGroupProc, kMsgFitIterations,
                 {std::to_string(run.fitIterations), std::to_string(run.fitReturn), coefs});
    return 0;
}

} // namespace velloc

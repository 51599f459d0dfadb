// The EFFECT statement's options: outcomes, the estimand the adjustment gives, the measure
// and the standard-error method, with every conflict an error that names both sides.
#include <algorithm>
#include <string>

#include "core/run_context.h"
#include "effect/effect.h"
#include "effect/effect_messages.h"
#include "options/options.h"

namespace velloc {

namespace {

using effect::Adjustment;
using effect::Estimand;
using effect::Measure;
using effect::SeMethod;

const char* estimandName(Estimand e) {
    return e == Estimand::Att ? "ATT" : e == Estimand::Ate ? "ATE" : "ATC";
}

bool explicitWeights(const VlcRun& run) {
    if (run.weightType != kWeightAte && run.weightType != kWeightAtt) return false;
    if (firstStatement(run, "PSWEIGHT")) return true;
    const Statement* a = firstStatement(run, "ASSESS");
    return a && a->find("WEIGHT");
}

// The adjustment the effect uses, the estimand it targets and how to say so.
void adjustment(VlcRun& run, Estimand& target, std::string& what) {
    effect::Request& r = run.effect;
    if (run.matchGiven) {
        r.adjustment = Adjustment::Matching;
        const bool ate = run.weightType == kWeightMatchAte;
        target = ate ? Estimand::Ate : Estimand::Att;
        what = ate ? "matching with MATCHATEWGT weights" : "matching with ATT match weights";
    } else if (run.nStrataReq > 0) {
        r.adjustment = Adjustment::Strata;
        const bool treated = run.strataWeight == 2;
        target = treated ? Estimand::Att : Estimand::Ate;
        what = treated ? "strata weighted by their treated units (STRATUMWEIGHT=TREATED)"
                       : "strata weighted by their size (STRATUMWEIGHT=TOTAL)";
    } else if (explicitWeights(run)) {
        r.adjustment = Adjustment::Weights;
        const bool ate = run.weightType == kWeightAte;
        target = ate ? Estimand::Ate : Estimand::Att;
        what = ate ? (run.stabilize ? "stabilized ATE weights" : "ATE weights") : "ATT weights";
    } else {
        r.adjustment = Adjustment::None;
        target = Estimand::Ate;
        what = "no adjustment";
    }
}

// Why an outcome cannot be one: it is the treatment, a model variable or the supplied score.
std::string modelRole(const VlcRun& run, int var) {
    const Statement* psdata = firstStatement(run, "PSDATA");
    if (run.psmodel && !run.psmodel->vars.empty() && run.psmodel->vars.front() == var)
        return "the treatment variable";
    if (run.psmodel) {
        for (const Effect& e : run.psmodel->effects)
            if (std::count(e.vars.begin(), e.vars.end(), var) ||
                std::count(e.nested.begin(), e.nested.end(), var))
                return "a PSMODEL effect variable";
    }
    if (psdata) {
        for (const host::ParsedOption& o : psdata->options)
            if (std::count(o.vars.begin(), o.vars.end(), var))
                return o.path == "TREATVAR" ? "the treatment variable" : "the supplied score";
    }
    return {};
}

void variables(VlcRun& run, const Statement& st) {
    effect::Request& r = run.effect;
    const host::ParsedOption* out = st.find("OUTCOME");
    if (!out || out->vars.empty()) fatal(kMsgEffectNoOutcome, host::kExitOption);
    for (std::size_t i = 0; i < out->vars.size(); ++i) {
        const int v = out->vars[i];
        if (v <= 0 || std::count(r.outcomes.begin(), r.outcomes.end(), v)) continue;
        const host::Variable& d = run.inData->var(v);
        host::refuseUnusableCells(*run.inData, v, "EFFECT OUTCOME=");
        if (d.type == host::VarType::Character)
            fatal(kMsgEffectCharacter, host::kExitOption, {"OUTCOME=", d.name});
        std::string role = modelRole(run, v);
        if (!role.empty()) fatal(kMsgEffectModelVar, host::kExitOption, {d.name, role});
        r.outcomes.push_back(v);
        r.outcomeNames.push_back(d.name);
    }
    if (const host::ParsedOption* cov = st.find("COVARIATES")) {
        for (int v : cov->vars) {
            if (v <= 0 || std::count(r.covariates.begin(), r.covariates.end(), v)) continue;
            const host::Variable& d = run.inData->var(v);
            host::refuseUnusableCells(*run.inData, v, "EFFECT COVARIATES=");
            if (d.type == host::VarType::Character)
                fatal(kMsgEffectCharacter, host::kExitOption, {"COVARIATES=", d.name});
            if (std::count(r.outcomes.begin(), r.outcomes.end(), v))
                fatal(kMsgEffectCovariateOutcome, host::kExitOption, {d.name});
            r.covariates.push_back(v);
            r.covariateNames.push_back(d.name);
        }
    }
}

void standardErrors(VlcRun& run, const Statement& st) {
    effect::Request& r = run.effect;
    const host::ParsedOption* se = st.find("SE");
    r.seGiven = se != nullptr;
    const bool matching = r.adjustment == Adjustment::Matching;
    if (!se) {
        r.se = matching && !run.withReplacement ? SeMethod::Cluster : SeMethod::Robust;
    } else if (se->value == "CLUSTER") {
        if (!matching) fatal(kMsgEffectClusterNeedsSets, host::kExitOption);
        if (run.withReplacement) fatal(kMsgEffectClusterReplace, host::kExitOption);
        r.se = SeMethod::Cluster;
    } else if (se->value == "BOOTSTRAP") {
        r.se = SeMethod::Bootstrap;
        if (const host::ParsedOption* n = st.find("SE/BOOTSTRAP/NREP"))
            r.nRep = static_cast<int>(wholeOption(*n, "NREP=", 2, 1000000));
        if (const host::ParsedOption* s = st.find("SE/BOOTSTRAP/SEED"))
            r.seed = wholeOption(*s, "SEED=", 0, support::kMaxSeed);
    } else {
        r.se = SeMethod::Robust;
    }
    if (r.adjustment == Adjustment::Strata && se && r.se != SeMethod::Bootstrap)
        fatal(kMsgEffectStrataSe, host::kExitOption, {se->value});
    if (r.adjustment == Adjustment::Strata && !r.covariates.empty())
        fatal(kMsgEffectStrataCovariates, host::kExitOption);

    const bool covs = !r.covariates.empty();
    // Without an adjustment statement nothing weights the regression: the note says the effect
    // is unadjusted, which the balance tables' default weights could let a reader overlook.
    const bool none = r.adjustment == Adjustment::None;
    const std::string weighted = none ? "unweighted" : "weighted";
    const std::string model =
        (covs ? "the " + weighted +
                    " outcome regression on treatment, covariates and their products "
                    "(g-computation, delta method)"
              : "the " + weighted + " regression of the outcome on treatment") +
        (none ? " (no PSWEIGHT, MATCH or STRATA statement adjusts this effect)" : "");
    const bool redo = r.adjustment == Adjustment::Weights || r.adjustment == Adjustment::Strata;
    if (r.se == SeMethod::Bootstrap && redo) {
        r.seReason =
            "bootstrap of " + std::to_string(r.nRep) + " replicates resampling " +
            "observations, " +
            (run.psSupplied ? "the supplied scores kept" : "the propensity model refitted") +
            " and the support region and " +
            (r.adjustment == Adjustment::Strata ? "strata" : "weights") +
            " formed again in each, percentile limits";
    } else if (r.adjustment == Adjustment::Strata) {
        r.seReason = "stratified variance, the sum over strata of the squared stratum weight "
                     "times the variances of the two group means";
    } else if (r.se == SeMethod::Cluster) {
        r.seReason = "cluster-robust sandwich (CR1) of " + model +
                     ", the matched set as the cluster" +
                     (r.seGiven ? "" : " (the default after matching)");
    } else if (r.se == SeMethod::Bootstrap) {
        r.seReason = "bootstrap of " + std::to_string(r.nRep) + " replicates resampling " +
                     (matching ? "matched sets as blocks" : "observations") + ", percentile limits";
    } else {
        r.seReason = "robust sandwich (HC0) of " + model;
        if (r.adjustment == Adjustment::Weights)
            r.seReason += "; the propensity model is treated as known";
        if (matching) r.seReason += ", every matched observation on its own";
    }
}

} // namespace

void effectOptions(VlcRun& run) {
    addEffectMessages();
    if (countStatements(run, "EFFECT") > 1)
        fatal(kMsgOneStatementOnly, host::kExitOption, {"EFFECT"});
    const Statement* st = firstStatement(run, "EFFECT");
    if (!st) return;
    effect::Request& r = run.effect;
    r.given = true;
    variables(run, *st);

    Estimand target = Estimand::Ate;
    std::string what;
    adjustment(run, target, what);
    r.estimand = target;
    if (const host::ParsedOption* e = st->find("ESTIMAND")) {
        const Estimand asked = e->value == "ATT"   ? Estimand::Att
                               : e->value == "ATE" ? Estimand::Ate
                                                   : Estimand::Atc;
        // Without an adjustment, g-computation can average over any target group.
        const bool free = r.adjustment == Adjustment::None && !r.covariates.empty();
        if (asked != target && !free)
            fatal(kMsgEffectEstimand, host::kExitOption, {e->value, estimandName(target), what});
        r.estimand = asked;
    }
    if (const host::ParsedOption* m = st->find("MEASURE"))
        r.measure = m->value == "RATIO"       ? Measure::Ratio
                    : m->value == "ODDSRATIO" ? Measure::OddsRatio
                                              : Measure::Diff;
    if (const host::ParsedOption* a = st->find("ALPHA")) {
        if (!(a->number > 0.0 && a->number < 1.0))
            fatal(kMsgOptionValue, host::kExitOption,
                  {"ALPHA=", "a number between 0 and 1", a->value});
        r.alpha = a->number;
    }
    standardErrors(run, *st);
}

} // namespace velloc

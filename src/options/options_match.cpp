// MATCH and STRATA options, and the EXACT= and Mahalanobis variables.
#include <cmath>

#include "options/options.h"

namespace velloc {

namespace {

constexpr double kHuge = 1e18;

// The one of two options written first in the statement, as the precedence warnings name it.
std::string firstOf(const host::ParsedOption& a, const char* aName, const host::ParsedOption& b,
                    const char* bName) {
    return a.seq <= b.seq ? aName : bName;
}

} // namespace

void matchOptions(VlcRun& run) {
    const Statement* m = firstStatement(run, "MATCH");
    if (!m) return;
    run.matchGiven = 1;
    const host::ParsedOption* methodOpt = m->find("METHOD");
    std::string method = methodOpt ? methodOpt->value : "OPTIMAL";
    std::string base = "METHOD/" + method + "/";

    if (const host::ParsedOption* k = m->find(base + "K"))
        run.k = static_cast<int>(wholeOption(*k, "K=", 1, 100000));

    const host::ParsedOption* dist = m->find("DISTANCE");
    run.distance = !dist ? 101 : dist->value == "PS" ? 100 : dist->value == "MAH" ? 102 : 101;

    run.ratioType = kRatioNone;
    if (method == "REPLACE") {
        run.method = kMethodReplace;
        run.withReplacement = 1;
        if (run.k > 1) {
            run.multipleK = 1;
            run.kBuffer.assign(static_cast<std::size_t>(run.k), 0.0);
        }
    } else if (method == "GREEDY") {
        run.method = kMethodGreedy;
    } else {
        run.method = kMethodOptimal;
        run.ratioType = method == "VARRATIO" ? 113 : method == "FULL" ? 114 : 112;
    }
    if (run.ratioType == kRatioVariable || run.ratioType == kRatioFull) {
        const host::ParsedOption* kmax = m->find(base + "KMAX");
        if (!kmax) fatal(kMsgMethodNeedsKmax, host::kExitOption, {method});
        run.kMax = static_cast<int>(wholeOption(*kmax, "KMAX=", 1, 100000));
        if (run.ratioType == kRatioVariable) {
            if (const host::ParsedOption* kmin = m->find(base + "KMIN"))
                run.kMin = static_cast<int>(wholeOption(*kmin, "KMIN=", 1, 100000));
            if (run.kMin > run.kMax)
                fatal(kMsgOptionValue, host::kExitOption,
                      {"KMIN=", "a whole number not above KMAX=", std::to_string(run.kMin)});
        } else if (const host::ParsedOption* kt = m->find(base + "KMAXTREATED")) {
            run.kMaxTreated = static_cast<int>(wholeOption(*kt, "KMAXTREATED=", 1, 100000));
        }
        run.k = 0;
    }

    // Control limits: KMEAN= before PCTCONTROL= before NCONTROL=; a lower-ranked one warns.
    if (run.method == kMethodOptimal) {
        const host::ParsedOption* kmean = m->find(base + "KMEAN");
        const host::ParsedOption* pct = m->find(base + "PCTCONTROL");
        const host::ParsedOption* nc = m->find(base + "NCONTROL");
        if (kmean) {
            if (!(kmean->number > 0))
                fatal(kMsgOptionValue, host::kExitOption,
                      {"KMEAN=", "a number above 0", kmean->value});
            run.controlLimitType = 1;
            run.kMean = kmean->number;
            if (pct)
                warn(run, kMsgKmeanOverridesPct, {firstOf(*kmean, "KMEAN=", *pct, "PCTCONTROL=")});
            if (nc)
                warn(run, kMsgKmeanOverridesNcontrol,
                     {firstOf(*kmean, "KMEAN=", *nc, "NCONTROL=")});
        } else if (pct) {
            if (!(pct->number > 0 && pct->number <= 100))
                fatal(kMsgOptionValue, host::kExitOption,
                      {"PCTCONTROL=", "a number above 0 and at most 100", pct->value});
            run.controlLimitType = 2;
            run.pctControl = pct->number;
            if (nc)
                warn(run, kMsgPctOverridesNcontrol,
                     {firstOf(*pct, "PCTCONTROL=", *nc, "NCONTROL=")});
        } else if (nc) {
            run.controlLimitType = 3;
            run.nControlLimit = wholeOption(*nc, "NCONTROL=", 1, kHuge);
        }
    }

    // Caliper scale and width.
    const host::ParsedOption* calDist = m->find("CALIPER/DISTANCE");
    if (run.distance == kScoreMahalanobis) {
        run.caliperScale = calDist && calDist->value == "PS" ? 100 : 101;
    } else {
        run.caliperScale = run.distance;
        if (calDist)
            warn(run, kMsgCaliperDistanceMahOnly, {run.distance == kScorePs ? "PS" : "LPS"});
    }
    if (const host::ParsedOption* cal = m->find("CALIPER")) {
        if (cal->missing) {
            run.caliperOn = 0;
        } else if (cal->hasNumber()) {
            if (!(cal->number > 0)) fatal(kMsgCaliperNotPositive, host::kExitOption, {cal->value});
            run.caliper = cal->number;
        }
    }
    if (const host::ParsedOption* mult = m->find("CALIPER/MULT"))
        run.caliperMult = mult->value == "ONE" ? 0 : 1;

    // Order of the treated units (greedy and replacement matching).
    if (const host::ParsedOption* order = m->find(base + "ORDER")) {
        const std::string& o = order->value;
        run.matchOrder = o == "ASCENDING" ? 128 : o == "DATA" ? 130 : o == "RANDOM" ? 131 : 129;
        if (run.matchOrder == kOrderRandom) run.showSeed = 1;
    }
}

void strataOptions(VlcRun& run) {
    const Statement* s = firstStatement(run, "STRATA");
    const Statement* a = firstStatement(run, "ASSESS");
    const host::ParsedOption* w1 = s ? s->find("STRATUMWEIGHT") : nullptr;
    const host::ParsedOption* w2 = a ? a->find("STRATUMWEIGHT") : nullptr;
    if (w1 && w2) warn(run, kMsgStratumWeightOverridden);
    if (const host::ParsedOption* w = w2 ? w2 : w1)
        run.strataWeight = w->value == "TREATED" ? 2 : 1;
    if (!s) return;
    if (run.matchGiven) {
        warn(run, kMsgStrataWithMatch);
        return;
    }
    int n = 5;
    if (const host::ParsedOption* ns = s->find("NSTRATA"))
        n = static_cast<int>(wholeOption(*ns, "NSTRATA=", 0, 100000));
    run.nStrataReq = n < 2 ? 0 : n;
    if (const host::ParsedOption* key = s->find("KEY"))
        run.strataKey = key->value == "TOTAL" ? 0 : 1;
    if (run.nStrataReq > 0) {
        run.strataBounds.assign(static_cast<std::size_t>(run.nStrataReq) + 1, 0.0);
        run.strataCounts.assign(static_cast<std::size_t>(run.nStrataReq) + 1, 0.0);
    }
}

void exactAndMahOptions(VlcRun& run) {
    const Statement* m = firstStatement(run, "MATCH");
    if (!m) return;
    if (const host::ParsedOption* exact = m->find("EXACT")) {
        for (std::size_t i = 0; i < exact->vars.size(); ++i) {
            int c = classIndex(run, exact->vars[i]);
            if (c < 0)
                fatal(kMsgVariableNotAllowed, host::kExitOption,
                      {exact->names[i], "EXACT=", "is not a CLASS variable"});
            run.exactVars.push_back(c);
        }
    }
    if (run.distance != kScoreMahalanobis) return;
    const std::string stat = "STAT=MAH";
    if (const host::ParsedOption* vars = m->find("DISTANCE/MAH/VAR")) {
        for (std::size_t i = 0; i < vars->vars.size(); ++i) {
            int v = vars->vars[i];
            if (v == host::kUnknownVar)
                fatal(kMsgMahVarNotFound, host::kExitDataSet, {vars->names[i], run.inData->path()});
            host::refuseUnusableCells(*run.inData, v, stat);
            if (run.inData->var(v).type == host::VarType::Character) {
                fatal(kMsgCharacterVariable, host::kExitDataSet, {vars->names[i], stat});
            }
            if (classIndex(run, v) >= 0)
                fatal(kMsgVariableNotAllowed, host::kExitDataSet,
                      {vars->names[i], stat, "is a CLASS variable"});
            if (analysisIndex(run, v) < 0) run.analysisVars.push_back(varRef(run, v));
            int pos = analysisIndex(run, v);
            if (std::find(run.mahVars.begin(), run.mahVars.end(), pos) == run.mahVars.end())
                run.mahVars.push_back(pos);
        }
    }
    int n = static_cast<int>(run.mahVars.size());
    if (m->has("DISTANCE/MAH/PS")) run.mahAddPs = ++n;
    if (m->has("DISTANCE/MAH/LPS")) run.mahAddLps = ++n;
    run.nMahComp = n;
    if (n == 0) fatal(kMsgMahNoComponent, host::kExitOption);
    if (const host::ParsedOption* cov = m->find("DISTANCE/MAH/COV"))
        run.mahCov = cov->value == "POOLED" ? 105 : cov->value == "IDENTITY" ? 106 : 104;
    if (const host::ParsedOption* sq = m->find("DISTANCE/MAH/SQRT"))
        run.mahSqrt = sq->value == "NO" ? 0 : 1;
    std::size_t tri = static_cast<std::size_t>(n) * (n + 1) / 2;
    run.mahVec1.assign(n, 0.0);
    run.mahVec2.assign(n, 0.0);
    run.mahTri1.assign(tri, 0.0);
    run.mahTri2.assign(tri, 0.0);
    run.mahTri3.assign(tri, 0.0);
}

} // namespace velloc

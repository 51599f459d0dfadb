// The EFFECT statement's options: the defaults each adjustment gives, and every statement
// error with its message and exit code.
#include <gtest/gtest.h>

#include "../driver/step_fixture.h"
#include "effect/effect_messages.h"

namespace velloc::testing {
namespace {

using effect::Adjustment;
using effect::Estimand;
using effect::Measure;
using effect::SeMethod;

std::string m(const std::string& rest) {
    return "class treat gender; psmodel treat = age bmi gender;\n" + rest;
}

TEST(EffectOptions, DefaultsFollowTheAdjustment) {
    struct Case {
        const char* body;
        Adjustment adjustment;
        Estimand estimand;
        SeMethod se;
    };
    const Case cases[] = {
        {"effect outcome=x1;", Adjustment::None, Estimand::Ate, SeMethod::Robust},
        {"psweight weight=attwgt; effect outcome=x1;", Adjustment::Weights, Estimand::Att,
         SeMethod::Robust},
        {"psweight weight=atewgt; effect outcome=x1;", Adjustment::Weights, Estimand::Ate,
         SeMethod::Robust},
        {"assess / weight=atewgt(stabilize=yes); effect outcome=x1;", Adjustment::Weights,
         Estimand::Ate, SeMethod::Robust},
        {"match method=greedy; effect outcome=x1;", Adjustment::Matching, Estimand::Att,
         SeMethod::Cluster},
        {"match method=replace; effect outcome=x1;", Adjustment::Matching, Estimand::Att,
         SeMethod::Robust},
        {"match method=full(kmax=3) weight=matchatewgt; effect outcome=x1;", Adjustment::Matching,
         Estimand::Ate, SeMethod::Cluster},
        {"strata stratumweight=treated; effect outcome=x1;", Adjustment::Strata, Estimand::Att,
         SeMethod::Robust},
        {"strata stratumweight=total; effect outcome=x1;", Adjustment::Strata, Estimand::Ate,
         SeMethod::Robust},
        {"effect outcome=x1 / covariates=(x2 x3) estimand=atc;", Adjustment::None, Estimand::Atc,
         SeMethod::Robust},
        {"effect outcome=x1 / se=bootstrap;", Adjustment::None, Estimand::Ate, SeMethod::Bootstrap},
        {"psweight weight=atewgt; effect outcome=x1 / se=bootstrap(nrep=50);", Adjustment::Weights,
         Estimand::Ate, SeMethod::Bootstrap},
        {"strata stratumweight=treated; effect outcome=x1 / se=bootstrap(nrep=50);",
         Adjustment::Strata, Estimand::Att, SeMethod::Bootstrap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        StepResult r = runStep(m(c.body));
        ASSERT_EQ(r.exitCode, -1) << r.log;
        const effect::Request& e = r.run->effect;
        EXPECT_TRUE(e.given);
        EXPECT_EQ(e.adjustment, c.adjustment);
        EXPECT_EQ(e.estimand, c.estimand);
        EXPECT_EQ(e.se, c.se);
    }
}

TEST(EffectOptions, OutcomesMeasureBootstrapAndAlpha) {
    StepResult r = runStep(m("match method=greedy; effect outcome=(x1 x2 x1) / measure=oddsratio "
                             "covariates=x3 se=bootstrap(nrep=200 seed=17) alpha=0.1;"));
    ASSERT_EQ(r.exitCode, -1) << r.log;
    const effect::Request& e = r.run->effect;
    EXPECT_EQ(e.outcomeNames, (std::vector<std::string>{"x1", "x2"}));
    EXPECT_EQ(e.covariateNames, (std::vector<std::string>{"x3"}));
    EXPECT_EQ(e.measure, Measure::OddsRatio);
    EXPECT_EQ(e.se, SeMethod::Bootstrap);
    EXPECT_EQ(e.nRep, 200);
    EXPECT_EQ(e.seed, 17);
    EXPECT_DOUBLE_EQ(e.alpha, 0.1);
    EXPECT_FALSE(runStep(m("")).run->effect.given);
}

TEST(EffectOptions, StatementErrorsNameTheProblemAndEndTheStep) {
    struct Case {
        const char* what;
        const char* body;
        int message;
        const char* mentions;
    };
    const Case cases[] = {
        {"no outcome", "effect / measure=diff;", kMsgEffectNoOutcome, "OUTCOME="},
        {"character outcome", "effect outcome=name;", kMsgEffectCharacter, "name"},
        {"outcome in the model", "effect outcome=bmi;", kMsgEffectModelVar, "bmi"},
        {"outcome is the PSDATA score",
         "proc velloc data=study; class treat; psdata treatvar=treat ps=ps; effect outcome=ps; "
         "run;",
         kMsgEffectModelVar, "supplied score"},
        {"ATE after ATT weights", "psweight weight=attwgt; effect outcome=x1 / estimand=ate;",
         kMsgEffectEstimand,
         "ESTIMAND=ATE conflicts with the adjustment, which estimates the "
         "ATT (ATT weights)"},
        {"ATC after matching", "match; effect outcome=x1 / estimand=atc;", kMsgEffectEstimand,
         "ATC"},
        {"ATT without adjustment or covariates", "effect outcome=x1 / estimand=att;",
         kMsgEffectEstimand, "no adjustment"},
        {"ATE after treated-weighted strata",
         "strata stratumweight=treated; effect outcome=x1 / estimand=ate;", kMsgEffectEstimand,
         "STRATUMWEIGHT=TREATED"},
        {"cluster without matching", "psweight; effect outcome=x1 / se=cluster;",
         kMsgEffectClusterNeedsSets, "MATCH"},
        {"cluster with replacement", "match method=replace; effect outcome=x1 / se=cluster;",
         kMsgEffectClusterReplace, "REPLACE"},
        {"robust with strata", "strata; effect outcome=x1 / se=robust;", kMsgEffectStrataSe,
         "SE=ROBUST"},
        {"covariates with strata", "strata; effect outcome=x1 / covariates=x2;",
         kMsgEffectStrataCovariates, "STRATA"},
        {"covariate is an outcome", "effect outcome=(x1 x2) / covariates=(x2);",
         kMsgEffectCovariateOutcome, "x2"},
        {"character covariate", "effect outcome=x1 / covariates=(name);", kMsgEffectCharacter,
         "COVARIATES="},
        {"bootstrap after strata with covariates",
         "strata; effect outcome=x1 / covariates=x2 se=bootstrap;", kMsgEffectStrataCovariates,
         "STRATA"},
        {"cluster with strata", "strata; effect outcome=x1 / se=cluster;",
         kMsgEffectClusterNeedsSets, "MATCH"},
        {"ALPHA out of range", "effect outcome=x1 / alpha=1.5;", 900, "ALPHA="},
        {"NREP of 1", "match; effect outcome=x1 / se=bootstrap(nrep=1);", 900, "NREP="},
        {"two EFFECT statements", "effect outcome=x1; effect outcome=x2;", 164, "EFFECT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StepResult r =
            runStep(std::string(c.body).rfind("proc", 0) == 0 ? std::string(c.body) : m(c.body));
        EXPECT_EQ(r.exitCode, host::kExitOption) << r.log;
        EXPECT_TRUE(r.logged(c.message)) << r.log;
        EXPECT_NE(r.log.find(c.mentions), std::string::npos) << r.log;
        EXPECT_EQ(host::messageSeverity(host::kGroupProc, c.message), host::Severity::Error);
    }
}

} // namespace
} // namespace velloc::testing

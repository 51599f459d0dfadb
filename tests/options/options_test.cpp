// Option precedence, the weight-kind decision, plot requests, region, seed and the output
// data set variables, each checked on the run context vlcinit leaves.
#include <gtest/gtest.h>

#include "../driver/step_fixture.h"
#include "numeric/random.h"

namespace velloc::testing {
namespace {

const std::string kModel = "class treat gender; psmodel treat = age bmi gender;\n";

StepResult ok(const std::string& body, bool graphics = true) {
    StepResult r = runStep(kModel + body, graphics);
    EXPECT_EQ(r.exitCode, -1) << r.log;
    return r;
}

TEST(MatchOptions, Defaults) {
    StepResult r = ok("match;");
    const VlcRun& run = *r.run;
    EXPECT_EQ(run.matchGiven, 1);
    EXPECT_EQ(run.distance, 101);
    EXPECT_EQ(run.method, 110);
    EXPECT_EQ(run.ratioType, 112);
    EXPECT_EQ(run.k, 1);
    EXPECT_EQ(run.caliper, 0.25);
    EXPECT_EQ(run.caliperOn, 1);
    EXPECT_EQ(run.caliperMult, 1);
    EXPECT_EQ(run.caliperScale, 101);
    EXPECT_EQ(run.matchOrder, 129);
    EXPECT_EQ(run.regionType, 47);
    EXPECT_EQ(run.weightType, 125);
}

TEST(MatchOptions, ControlLimitPrecedence) {
    StepResult a = ok("match method=optimal(kmean=1.5 pctcontrol=50);");
    EXPECT_EQ(a.run->controlLimitType, 1);
    EXPECT_EQ(a.run->kMean, 1.5);
    EXPECT_TRUE(host::isMissing(a.run->pctControl));
    EXPECT_TRUE(a.logged(190));
    StepResult b = ok("match method=full(kmax=4 ncontrol=30 pctcontrol=40);");
    EXPECT_EQ(b.run->controlLimitType, 2);
    EXPECT_EQ(b.run->pctControl, 40);
    EXPECT_EQ(b.run->nControlLimit, 0);
    EXPECT_TRUE(b.logged(192));
    StepResult c = ok("match method=optimal(ncontrol=30);");
    EXPECT_EQ(c.run->controlLimitType, 3);
    EXPECT_EQ(c.run->nControlLimit, 30);
    EXPECT_EQ(c.run->status, 0);
    // The warning says which of the two was written first, whichever wins.
    auto firstNamed = [](const StepResult& r, int id, const std::string& text) {
        std::string tag = "[1049-" + std::to_string(id) + "]";
        std::size_t at = r.log.find(tag);
        if (at == std::string::npos) return false;
        std::size_t start = r.log.rfind('\n', at);
        std::string line = r.log.substr(start == std::string::npos ? 0 : start + 1,
                                        at - (start == std::string::npos ? 0 : start + 1));
        return line.find(text) != std::string::npos;
    };
    EXPECT_TRUE(firstNamed(a, 190, "(KMEAN= first)")) << a.log;
    EXPECT_TRUE(firstNamed(b, 192, "(NCONTROL= first)")) << b.log;
    StepResult e = ok("match method=optimal(pctcontrol=50 kmean=1.5);");
    EXPECT_EQ(e.run->controlLimitType, 1);
    EXPECT_TRUE(firstNamed(e, 190, "(PCTCONTROL= first)")) << e.log;
    StepResult f = ok("match method=varratio(kmax=3 ncontrol=20 kmean=2);");
    EXPECT_TRUE(firstNamed(f, 191, "(NCONTROL= first)")) << f.log;
    // Greedy matching takes no control limits at all.
    StepResult d = ok("match method=greedy;");
    EXPECT_EQ(d.run->controlLimitType, 0);
}

TEST(MatchOptions, MethodsAndRatios) {
    StepResult v = ok("match method=varratio(kmin=2 kmax=4);");
    EXPECT_EQ(v.run->ratioType, 113);
    EXPECT_EQ(v.run->kMin, 2);
    EXPECT_EQ(v.run->kMax, 4);
    EXPECT_EQ(v.run->k, 0);
    StepResult f = ok("match method=full(kmax=5 kmaxtrt=3);");
    EXPECT_EQ(f.run->ratioType, 114);
    EXPECT_EQ(f.run->kMaxTreated, 3);
    StepResult r = ok("match method=replace(k=3.9 order=random(seed=7));");
    EXPECT_EQ(r.run->method, 111);
    EXPECT_EQ(r.run->withReplacement, 1);
    EXPECT_EQ(r.run->k, 3); // truncated
    EXPECT_EQ(r.run->multipleK, 1);
    EXPECT_EQ(r.run->kBuffer.size(), 3u);
    EXPECT_EQ(r.run->matchOrder, 131);
    EXPECT_EQ(r.run->showSeed, 1);
    EXPECT_EQ(r.run->ratioType, 0);
    StepResult g = ok("match method=greedy(order=data) distance=ps caliper(mult=one)=.;");
    EXPECT_EQ(g.run->method, 109);
    EXPECT_EQ(g.run->matchOrder, 130);
    EXPECT_EQ(g.run->distance, 100);
    EXPECT_EQ(g.run->caliperScale, 100);
    EXPECT_EQ(g.run->caliperOn, 0);
    EXPECT_EQ(g.run->caliperMult, 0);
}

TEST(MatchOptions, MahalanobisComponents) {
    StepResult r = ok("match distance=mah(var=(x1 x2 age) lps ps cov=identity sqrt=no) "
                      "caliper(distance=ps)=0.1;");
    const VlcRun& run = *r.run;
    EXPECT_EQ(run.distance, 102);
    EXPECT_EQ(run.caliperScale, 100);
    // age is already a model variable (position 0); x1 and x2 are appended after bmi.
    ASSERT_EQ(run.mahVars.size(), 3u);
    EXPECT_EQ(run.analysisVars[run.mahVars[0]].name, "x1");
    EXPECT_EQ(run.mahVars[2], 0);
    EXPECT_EQ(run.mahAddPs, 4); // PS first, then LPS
    EXPECT_EQ(run.mahAddLps, 5);
    EXPECT_EQ(run.nMahComp, 5);
    EXPECT_EQ(run.mahCov, 106);
    EXPECT_EQ(run.mahSqrt, 0);
    EXPECT_EQ(run.mahTri1.size(), 15u);
}

TEST(MatchOptions, UnknownMahalanobisVariableIsADataErrorNamingIt) {
    StepResult r = runStep(kModel + "match distance=mah(var=(x1 nosuch x2));");
    EXPECT_EQ(r.exitCode, 1008) << r.log;
    EXPECT_TRUE(r.logged(182)) << r.log;
    EXPECT_FALSE(r.logged(3, host::kGroupGrammar)) << r.log;
    EXPECT_NE(r.log.find("nosuch"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("study.csv"), std::string::npos) << r.log;
    // A numbered range reaching past the data set's variables names the first missing one.
    StepResult g = runStep(kModel + "match distance=mah(var=(x1-x4));");
    EXPECT_EQ(g.exitCode, 1008) << g.log;
    EXPECT_NE(g.log.find("x4"), std::string::npos) << g.log;
    // Elsewhere an unknown variable stays a statement error.
    StepResult a = runStep(kModel + "assess var=(nosuch);");
    EXPECT_TRUE(a.logged(3, host::kGroupGrammar)) << a.log;
}

TEST(MatchOptions, ExactVariablesArePositionsInClassList) {
    StepResult r =
        runStep("class treat race gender; psmodel treat = age; match exact=(gender race);");
    ASSERT_EQ(r.exitCode, -1) << r.log;
    EXPECT_EQ(r.run->exactVars, (std::vector<int>{2, 1}));
}

TEST(StrataOptions, CountsKeyAndWeighting) {
    StepResult r = ok("strata nstrata=1;");
    EXPECT_EQ(r.run->nStrataReq, 0);
    EXPECT_EQ(r.run->status, 0);
    StepResult d = ok("strata key=total stratumweight=treated;");
    EXPECT_EQ(d.run->nStrataReq, 5);
    EXPECT_EQ(d.run->strataKey, 0);
    EXPECT_EQ(d.run->strataWeight, 2);
    EXPECT_EQ(d.run->strataBounds.size(), 6u);
    StepResult both = ok("strata stratumweight=treated; assess / stratumweight=total;");
    EXPECT_EQ(both.run->strataWeight, 1); // the ASSESS form decides
    StepResult m = ok("match; strata nstrata=4;");
    EXPECT_EQ(m.run->nStrataReq, 0);
    EXPECT_TRUE(m.logged(203));
}

// The weight-kind decision, case by case: {statements, weightType, stabilize, message}.
struct WeightCase {
    const char* body;
    int weightType;
    int stabilize;
    int message; // 0: none
};

TEST(WeightKind, DecisionTable) {
    const WeightCase cases[] = {
        {"", 124, 0, 0},
        {"assess / weight=atewgt;", 122, 0, 0},
        {"assess / weight=atewgt(stabilize=yes);", 122, 1, 0},
        {"assess / weight=attwgt;", 124, 0, 0},
        {"assess / weight=none;", 121, 0, 0},
        {"assess / weight=matchwgt;", 124, 0, 194},
        {"assess / weight=matchatewgt;", 124, 0, 194},
        {"strata;", 121, 0, 0},
        {"strata; assess / weight=atewgt;", 121, 0, 197},
        {"strata; assess / weight=matchattwgt;", 121, 0, 197},
        {"strata; assess / weight=none;", 121, 0, 0},
        {"match;", 125, 0, 0},
        {"match; assess / weight=none;", 121, 0, 0},
        {"match method=full(kmax=3); assess / weight=matchatewgt;", 126, 0, 0},
        {"match method=greedy; assess / weight=matchatewgt;", 125, 0, 195},
        {"match; assess / weight=atewgt;", 125, 0, 193},
        {"match; assess / weight=attwgt;", 125, 0, 193},
        {"psweight weight=atewgt(stabilize=yes);", 122, 1, 0},
        {"psweight weight=attwgt;", 124, 0, 0},
        {"psweight weight=atewgt; assess / weight=none;", 121, 0, 215},
        {"match weight=none;", 121, 0, 0},
        {"match method=full(kmax=2) weight=matchatewgt;", 126, 0, 0},
        {"match method=optimal weight=matchatewgt;", 125, 0, 195},
    };
    for (const WeightCase& c : cases) {
        SCOPED_TRACE(c.body);
        StepResult r = ok(c.body);
        EXPECT_EQ(r.run->weightType, c.weightType) << r.log;
        EXPECT_EQ(r.run->stabilize, c.stabilize);
        if (c.message) {
            EXPECT_TRUE(r.logged(c.message)) << r.log;
            EXPECT_EQ(r.run->status, 4);
        } else {
            EXPECT_EQ(r.run->status, 0) << r.log;
        }
    }
}

TEST(Listings, NLargestAndNMatchMost) {
    StepResult a = ok("psweight nlargestwgt=3; assess / nlargestwgt=7;");
    EXPECT_EQ(a.run->nLargestWgt, 7);
    EXPECT_TRUE(a.logged(216));
    StepResult b = ok("match method=varratio(kmax=3) nmatchmost=4;");
    EXPECT_EQ(b.run->nLargestMatchWgt, 4);
    EXPECT_EQ(b.run->listLength, 4);
    StepResult c = ok("match method=greedy nmatchmost=4;");
    EXPECT_EQ(c.run->nLargestMatchWgt, 0);
    StepResult d = ok("id id1 name; psweight nlargestwgt=2;");
    EXPECT_EQ(d.run->nId, 2);
    EXPECT_EQ(d.run->idTextBytes, 24); // name is 20 bytes, rounded up to 8
    EXPECT_EQ(d.run->idNumCount, 1);
    StepResult e = ok("id id1-id6; psweight nlargestwgt=2;");
    EXPECT_EQ(e.run->nId, 5);
    EXPECT_EQ(e.run->idVars.back().var.name, "id5");
    StepResult f = ok("id id1;");
    EXPECT_EQ(f.run->nId, 0);
    EXPECT_TRUE(f.logged(213));
}

TEST(Assess, RowsAndVariables) {
    StepResult none = ok("assess;");
    EXPECT_EQ(none.run->assessPs, 1);
    EXPECT_EQ(none.run->assessLps, 0);
    EXPECT_EQ(none.run->stdDiffTable, 1);
    StepResult lps = ok("assess lps;");
    EXPECT_EQ(lps.run->assessLps, 1);
    EXPECT_EQ(lps.run->assessPs, -1); // computed but hidden
    EXPECT_EQ(lps.run->nAssessRows, 2);
    StepResult all = ok("assess allcov var=(x1 age gender) / varinfo stddev=treated(allobs=no) "
                        "stdbinvar=no;");
    const VlcRun& run = *all.run;
    EXPECT_EQ(run.allCov, 1);
    EXPECT_EQ(run.nAssessCont, 3); // age, bmi, x1 (age listed twice is assessed once)
    ASSERT_EQ(run.assessClass.size(), 1u);
    EXPECT_EQ(run.classVars[run.assessClass[0].classIndex].var.name, "gender");
    EXPECT_EQ(run.analysisVars[run.assessCont[2]].name, "x1");
    EXPECT_EQ(run.varInfoTable, 1);
    EXPECT_EQ(run.sdTreatedOnly, 1);
    EXPECT_EQ(run.sdPerSet, 1);
    EXPECT_EQ(run.stdBinVar, 0);
    EXPECT_EQ(run.assessPs, -1);
    EXPECT_EQ(run.nAssessRows, 1 + 3 + 1);
}

TEST(Plots, RequestsAndSelections) {
    StepResult d = ok("assess var=(age);");
    EXPECT_EQ(d.run->plotStdDiff, 1);
    EXPECT_EQ(d.run->plotBox + d.run->plotCdf + d.run->plotCloud, 0);

    StepResult none = ok("assess var=(age) / plots=(none boxplot cdfplot);");
    EXPECT_EQ(none.run->plotStdDiff + none.run->plotBox + none.run->plotCdf, 0);
    EXPECT_TRUE(none.logged(1100, host::kGroupPlot));
    EXPECT_EQ(none.run->status, 0);

    StepResult all = ok("assess lps var=(age gender) / plots=all;");
    EXPECT_EQ(all.run->plotStdDiff, 1);
    EXPECT_EQ(all.run->plotBox, 1);
    EXPECT_EQ(all.run->plotCdf, 1);
    EXPECT_EQ(all.run->plotBar, 1);
    EXPECT_EQ(all.run->plotCloud, 1);
    EXPECT_EQ(all.run->plotWgtCloud, 1);
    EXPECT_EQ(all.run->boxSel.lps, 1);
    EXPECT_EQ(all.run->boxSel.ps, 0); // PS row hidden
    EXPECT_EQ(all.run->boxSel.vars, (std::vector<int>{1}));

    StepResult m = ok("match; assess / plots=all;");
    EXPECT_EQ(m.run->plotWgtCloud, 0); // not allowed, silently
    EXPECT_EQ(m.run->status, 0);
    StepResult w = ok("match; assess / plots=wgtcloud;");
    EXPECT_EQ(w.run->plotWgtCloud, 0);
    EXPECT_TRUE(w.logged(207));

    StepResult only = ok("assess var=(age bmi) / plots(only orient=vertical nodetail)="
                         "(box(display=(bmi)) stddiff(ref=0.1));");
    EXPECT_EQ(only.run->plotStdDiff, 1);
    EXPECT_EQ(only.run->stdDiffRef, 0.1);
    EXPECT_EQ(only.run->plotOrientation, 2);
    EXPECT_EQ(only.run->finalSetOnly, 1);
    EXPECT_EQ(only.run->boxSel.vars, (std::vector<int>{0, 1}));
    EXPECT_EQ(only.run->boxSel.ps, 0);

    StepResult onlyAlone = ok("assess / plots(only)=cdfplot;");
    EXPECT_EQ(onlyAlone.run->plotStdDiff, 0);
    EXPECT_EQ(onlyAlone.run->plotCdf, 1);

    // Nothing selectable: the plot is off.
    StepResult off = ok("assess var=(age gender) / plots=cloud(var=(gender));");
    EXPECT_EQ(off.run->plotCloud, 0);

    StepResult noGraphics = ok("assess / plots=all;", false);
    EXPECT_EQ(noGraphics.run->plotStdDiff, 0);
    EXPECT_EQ(noGraphics.run->graphicsOn, 0);
    EXPECT_TRUE(noGraphics.logged(1104, host::kGroupPlot));
}

TEST(Region, Codes) {
    auto region = [](const std::string& procOpts, const std::string& rest = "") {
        return runStep("proc velloc data=study " + procOpts + ";" + kModel + rest + " run;");
    };
    EXPECT_EQ(region("").run->regionType, 57);
    EXPECT_EQ(region("", "match;").run->regionType, 47);
    StepResult a = region("region=allobs(psmin=0 psmax=1)");
    EXPECT_EQ(a.run->regionType, 57);
    EXPECT_EQ(a.run->regionExtend, 0);
    StepResult b = region("region=allobs(psmin=0.1)");
    EXPECT_EQ(b.run->regionType, 44);
    EXPECT_EQ(b.run->regionMin, 0.1);
    EXPECT_EQ(region("region=cs").run->regionType, 45);
    EXPECT_EQ(region("region=cs(extend=0)").run->regionType, 43);
    EXPECT_EQ(region("region=treated(extend=0)").run->regionType, 46);
    StepResult e = region("region=treated(extend(stat=ps mult=one)=(lower=0.02 upper=0))");
    EXPECT_EQ(e.run->regionType, 47);
    EXPECT_EQ(e.run->extendLower, 0.02);
    EXPECT_EQ(e.run->extendUpper, 0.0);
    EXPECT_EQ(e.run->regionScore, 100);
    EXPECT_EQ(e.run->extendMult, 0);
}

TEST(Seed, ChecksAndStreams) {
    auto seeded = [](const std::string& seed, const std::string& extra = "") {
        return runStep(kModel + "match method=greedy(order=random(seed=" + seed + "));" + extra);
    };
    StepResult a = seeded("9007199254740991");
    EXPECT_EQ(a.exitCode, -1);
    StepResult b = seeded("2147483646");
    EXPECT_EQ(b.run->seed, 2147483646);
    EXPECT_EQ(b.run->seedLive, 2147483646);
    EXPECT_EQ(host::symget("SYSRANDOM").value_or(""), "2147483646");
    StepResult c = seeded("2147483647");
    EXPECT_GE(c.run->seed, 1);
    EXPECT_LE(c.run->seed, 1000000000); // a clock seed
    EXPECT_EQ(host::symget("SYSRANDOM").value_or(""), std::to_string(c.run->seed));
    // The cloud plot's stream starts at 1 and publishes it last.
    StepResult d = seeded("99", "assess var=(age) / plots=cloud;");
    EXPECT_EQ(d.run->seed, 99);
    EXPECT_EQ(d.run->cloudSeed, 1);
    EXPECT_EQ(host::symget("SYSRANDOM").value_or(""), "1");
}

TEST(Seed, LaterStepContinuesTheStream) {
    std::int64_t after = 0;
    {
        StepResult a = runStep(kModel + "match method=greedy(order=random(seed=5));");
        support::zranuni(a.run->seedLive); // a BY group draws
        after = a.run->seedLive;
    }
    StepResult b = runStep(kModel + "match method=greedy(order=random);");
    EXPECT_EQ(b.run->seed, after);
}

TEST(OutputVariables, DefaultsAndOrder) {
    auto names = [](const VlcRun& run) {
        std::vector<std::string> out;
        for (const OutVar& v : run.outVars)
            out.push_back(v.name);
        return out;
    };
    StepResult plain = ok("output out='o.csv';");
    EXPECT_EQ(names(*plain.run), (std::vector<std::string>{"_PS_", "_ATTWGT_"}));
    EXPECT_EQ(plain.run->outVars[1].label, host::wkread(host::kGroupProc, 154));
    StepResult m = ok("match; output out='o.csv';");
    EXPECT_EQ(names(*m.run), (std::vector<std::string>{"_PS_", "_MATCHWGT_"}));
    EXPECT_EQ(m.run->outVars[1].label, host::wkread(host::kGroupProc, 156));
    StepResult full = ok("match method=full(kmax=3); strata; output out(obs=region)='o.csv' "
                         "strata=s matchid=id_a id_b lps=l matchatewgt=mae weight=mw ps=p;");
    EXPECT_EQ(names(*full.run), (std::vector<std::string>{"p", "l", "mw", "mae", "id_a", "id_b"}));
    EXPECT_EQ(full.run->outObs, 60);
    EXPECT_EQ(full.run->outVars[2].label, host::wkread(host::kGroupProc, 156));
    StepResult s = ok("strata; output out='o.csv' atewgt(stabilize=yes)=sw attwgt=tw;");
    EXPECT_EQ(names(*s.run), (std::vector<std::string>{"_PS_", "sw", "tw", "_STRATA_"}));
    EXPECT_EQ(s.run->outVars[1].label, host::wkread(host::kGroupProc, 153));
    StepResult supplied = runStep("class treat; psdata treatvar=treat ps=ps; output out='o.csv';");
    EXPECT_EQ(names(*supplied.run), (std::vector<std::string>{"_ATTWGT_"}));
}

} // namespace
} // namespace velloc::testing

namespace velloc::testing {
namespace {

TEST(ModelRegistration, EffectsBecomeFactorsOfTheLibrary) {
    StepResult r =
        runStep("class treat gender; psmodel treat = bmi gender bmi*gender age(gender);");
    ASSERT_EQ(r.exitCode, -1) << r.log;
    const ModelSpec& modelDef = r.run->model.modelDef;
    ASSERT_EQ(modelDef.classVars.size(), 2u);
    EXPECT_EQ(modelDef.classVars[0].width, 3); // character, length 3
    EXPECT_EQ(modelDef.nCont, 2);              // bmi, age
    ASSERT_EQ(modelDef.effects.size(), 4u);
    const EffectSpec& cross = modelDef.effects[2];
    ASSERT_EQ(cross.crossed.size(), 2u);
    EXPECT_FALSE(cross.crossed[0].isClass);
    EXPECT_EQ(cross.crossed[0].index, 0);
    EXPECT_TRUE(cross.crossed[1].isClass);
    EXPECT_EQ(cross.crossed[1].index, 1);
    const EffectSpec& nest = modelDef.effects[3];
    EXPECT_EQ(nest.crossed[0].index, 1); // age is the second continuous variable
    ASSERT_EQ(nest.nested.size(), 1u);
    EXPECT_TRUE(nest.nested[0].isClass);
    // Supplied scores: CLASS information only.
    StepResult d = runStep("class treat; psdata treatvar=treat ps=ps;");
    EXPECT_TRUE(d.run->model.modelDef.effects.empty());
    EXPECT_EQ(d.run->model.modelDef.nCont, 0);
}

} // namespace
} // namespace velloc::testing

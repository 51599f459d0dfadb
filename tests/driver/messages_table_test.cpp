// Every fatal error and warning of the statements and options: the message in the log, the
// exit code for fatal ones and the procedure status for the others.
#include <gtest/gtest.h>

#include "step_fixture.h"

namespace velloc::testing {
namespace {

const char* kModel = "class treat gender; psmodel treat = age bmi gender;\n";

struct Case {
    const char* what;
    std::string body;
    int message;
    int exit;   // -1: no exit
    int status; // procedure status when no exit
    int group = host::kGroupProc;
    bool graphics = true;
};

std::string m(const char* rest) {
    return std::string(kModel) + rest;
}

const std::vector<Case>& cases() {
    static const std::vector<Case> list = {
        // Statements and variables.
        {"no PSMODEL nor PSDATA", "class treat;", 162, 3000, 0},
        {"two PSMODEL", m("psmodel treat = age;"), 164, 3000, 0},
        {"PSDATA without TREATVAR", "class treat; psdata ps=ps;", 165, 3000, 0},
        {"PSDATA without score", "class treat; psdata treatvar=treat;", 166, 3000, 0},
        {"CLASS variable named ps", "class treat ps; psmodel treat = age;", 168, 3000, 0},
        {"CLASS variable named LPS", "class treat LPS; psmodel treat = age;", 168, 3000, 0},
        {"PSMIN equals PSMAX",
         "proc velloc data=study region=allobs(psmin=0.2 psmax=0.2);" + m("run;"), 172, 3000, 0},
        {"CLASS after PSMODEL", "psmodel treat = age; class treat;", 173, 2000, 0},
        {"FREQ with MATCH", m("freq f; match;"), 175, 3000, 0},
        {"seed 2^53", m("match method=greedy(order=random(seed=9007199254740992));"), 186, 3000, 0},
        {"treatment not CLASS", "class gender; psmodel treat = age;", 188, 3000, 0},
        {"PSMODEL and PSDATA", m("psdata treatvar=treat ps=ps;"), 163, -1, 4},
        {"PS= and LPS=", "class treat; psdata treatvar=treat ps=ps lps=lps;", 167, -1, 4},
        {"two OUTPUT", m("output out='a.csv'; output out='b.csv';"), 206, -1, 4},
        {"six ID variables", m("id id1-id6; psweight nlargestwgt=3;"), 212, -1, 4},
        // Matching.
        {"VARRATIO without KMAX", m("match method=varratio;"), 189, 3000, 0},
        {"FULL without KMAX", m("match method=full(kmaxtreated=2);"), 189, 3000, 0},
        {"CALIPER=0", m("match caliper=0;"), 184, 3000, 0},
        {"negative caliper", m("match caliper=-0.1;"), 184, 3000, 0},
        {"EXACT= not CLASS", m("match exact=age;"), 179, 3000, 0},
        {"MAH character variable", m("match distance=mah(var=(name));"), 178, 1008, 0},
        {"MAH CLASS variable", "class treat site; psmodel treat = age; match stat=mah(var=(site));",
         179, 1008, 0},
        {"MAH variable not in the data set", m("match distance=mah(var=(age nosuch));"), 182, 1008,
         0},
        {"MAH without components", m("match distance=mah(cov=pooled);"), 183, 3000, 0},
        {"PCTCONTROL after KMEAN", m("match method=optimal(kmean=1.5 pctcontrol=50);"), 190, -1, 4},
        {"NCONTROL after KMEAN", m("match method=optimal(kmean=1.5 ncontrol=20);"), 191, -1, 4},
        {"NCONTROL after PCTCONTROL", m("match method=varratio(kmax=3 pctctrl=50 nctrl=20);"), 192,
         -1, 4},
        {"MAH caliper form with PS distance", m("match distance=ps caliper(distance=ps)=0.1;"), 205,
         -1, 4},
        {"STRATA with MATCH", m("match; strata;"), 203, -1, 4},
        {"K=0", m("match method=greedy(k=0);"), 900, 3000, 0},
        {"KMEAN=0", m("match method=optimal(kmean=0);"), 900, 3000, 0},
        {"KMIN above KMAX", m("match method=varratio(kmin=4 kmax=2);"), 900, 3000, 0},
        {"PCTCONTROL above 100", m("match method=optimal(pctcontrol=150);"), 900, 3000, 0},
        {"negative NSTRATA", m("strata nstrata=-1;"), 900, 3000, 0},
        // Weights and listings.
        {"ATE weights with MATCH", m("match; assess / weight=atewgt;"), 193, -1, 4},
        {"match weights without MATCH", m("assess / weight=matchwgt;"), 194, -1, 4},
        {"ATE match weights without FULL", m("match; assess / weight=matchatewgt;"), 195, -1, 4},
        {"MATCH WEIGHT=MATCHATEWGT not FULL", m("match method=greedy weight=matchatewgt;"), 195, -1,
         4},
        {"ATT weights with STRATA", m("strata; assess / weight=attwgt;"), 197, -1, 4},
        {"PSWEIGHT after ASSESS WEIGHT=", m("psweight weight=attwgt; assess / weight=atewgt;"), 215,
         -1, 4},
        {"two NLARGESTWGT", m("psweight nlargestwgt=3; assess / nlargestwgt=4;"), 216, -1, 4},
        {"two NMATCHMOST", m("match method=full(kmax=3) nmatchmost=2; assess / nmatchmost=3;"), 217,
         -1, 4},
        {"two stratum weightings", m("strata stratumweight=treated; assess / stratumwgt=total;"),
         218, -1, 4},
        {"NLARGESTWGT with MATCH", m("match; psweight nlargestwgt=5;"), 207, -1, 4},
        {"NLARGESTWGT without weights", m("assess / weight=none nlargestwgt=3;"), 208, -1, 4},
        {"NMATCHMOST without MATCH", m("assess / nmatchmost=3;"), 209, -1, 4},
        {"NMATCHMOST with GREEDY", m("match method=greedy nmatchmost=3;"), 210, -1, 4},
        {"NMATCHMOST with fixed ratio", m("match method=optimal(k=2) nmatchmost=3;"), 210, -1, 4},
        {"NMATCHMOST with REPLACE K=2", m("match method=replace(k=2) nmatchmost=3;"), 211, -1, 4},
        {"ID without listing", m("id id1;"), 213, -1, 4},
        // Assessment.
        {"character VAR= not CLASS", m("assess var=(name);"), 174, 3000, 0},
        {"ALLCOV without PSMODEL", "class treat; psdata treatvar=treat ps=ps; assess allcov;", 169,
         -1, 4},
        {"model variable named LPS", "class treat; psmodel treat = age lps; assess allcov;", 170,
         -1, 4},
        {"VAR= lists PS", m("assess var=(age ps);"), 171, -1, 4},
        {"VAR= lists the treatment", m("assess var=(treat age);"), 181, -1, 4},
        {"plot row not assessed", m("assess var=(age) / plots=boxplot(display=(lps));"), 200, -1,
         4},
        {"continuous in bar chart", m("assess var=(age gender) / plots=barchart(display=(age));"),
         201, -1, 4},
        {"CLASS in box plot", m("assess var=(age gender) / plots=box(var=(gender));"), 202, -1, 4},
        {"WGTCLOUD with MATCH", m("match; assess / plots=wgtcloud;"), 207, -1, 4},
        {"WGTCLOUD without weights", m("assess / weight=none plots=wgtcloud;"), 208, -1, 4},
        {"PLOTS with graphics off", m("assess / plots=boxplot;"), 1104, -1, 4, host::kGroupPlot,
         false},
        {"PLOTS=NONE with named plots", m("assess / plots=(none boxplot);"), 1100, -1, 0,
         host::kGroupPlot},
        // Output data set.
        {"OBS=MATCH without MATCH", m("output out(obs=match)='o.csv';"), 176, -1, 4},
        {"MATCHWGT= without MATCH", m("output out='o.csv' matchwgt=mw;"), 176, -1, 4},
        {"STRATA= without STRATA", m("output out='o.csv' strata=s;"), 177, -1, 4},
        {"MATCHATEWGT= fixed ratio", m("match; output out='o.csv' matchatewgt=mw;"), 196, -1, 4},
        {"WEIGHT= without weights", m("assess / weight=none; output out='o.csv' weight=w;"), 219,
         -1, 4},
        {"WEIGHT= with STRATA", m("strata; output out='o.csv' weight=w;"), 220, -1, 4},
        {"PS= names an input variable", m("output out='o.csv' ps=AGE;"), 400, 1020, 0,
         host::kGroupHostData},
        {"two new variables of one name", m("output out='o.csv' ps=s lps=s;"), 400, 1020, 0,
         host::kGroupHostData},
    };
    return list;
}

TEST(FrameMessages, EveryCaseLogsItsNumberAndEndsAsStated) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        StepResult r = runStep(c.body, c.graphics);
        EXPECT_TRUE(r.logged(c.message, c.group)) << r.log;
        EXPECT_EQ(r.exitCode, c.exit) << r.log;
        if (c.exit < 0) {
            EXPECT_EQ(r.run->status, c.status) << r.log;
        }
        // The message's severity matches its consequence.
        host::Severity s = host::messageSeverity(c.group, c.message);
        if (c.exit >= 0)
            EXPECT_EQ(s, host::Severity::Error);
        else if (c.status == 4)
            EXPECT_EQ(s, host::Severity::Warning);
        else
            EXPECT_EQ(s, host::Severity::Note);
    }
}

TEST(FrameMessages, CleanProgramsRaiseNothing) {
    for (const char* body :
         {"class treat gender; psmodel treat = age bmi gender;",
          "class treat gender; psmodel treat(treated='yes') = age gender / weight=w;\n"
          "match method=greedy(k=2 order=random(seed=42)) distance=lps caliper=0.2 "
          "exact=gender;\nassess lps var=(age bmi gender) / varinfo plots=(boxplot cdfplot);\n"
          "output out(obs=match)='m.csv' matchid=_id ps=_ps;",
          "class treat; psdata treatvar=treat(treated=last) lps=lps; strata nstrata=10;"}) {
        SCOPED_TRACE(body);
        StepResult r = runStep(body);
        EXPECT_EQ(r.exitCode, -1) << r.log;
        EXPECT_EQ(r.run->status, 0) << r.log;
        EXPECT_EQ(r.log.find("WARNING"), std::string::npos) << r.log;
    }
}

TEST(FrameMessages, MissingDataSetEndsWith1008) {
    auto run = std::make_unique<VlcRun>();
    std::ostringstream log;
    host::Log::setStream(&log);
    int code = -1;
    try {
        vlcinit(*run, StepSource{"t.vlc", "proc velloc; class t; psmodel t = a; run;", 1, 1});
    } catch (const host::HostExit& e) {
        code = e.code;
    }
    host::Log::setStream(nullptr);
    EXPECT_EQ(code, 1008);
    EXPECT_NE(log.str().find("[1049-160]"), std::string::npos) << log.str();
}

} // namespace
} // namespace velloc::testing

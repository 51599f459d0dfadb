// EFFECT through the command line: the Effect and EffectMeans tables in the listing, the HTML
// report and --tables-dir; R's numbers after weights and strata; the effect after matching
// computed on exactly the OUT= rows; BY groups; the messages of bad outcomes; and the
// bootstrap that refits the propensity model after weights and strata, against R's boot.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "../effect/effect_fixture.h"

namespace fs = std::filesystem;

namespace velloc::effect::testing {
namespace {

class EffectCli : public ::testing::Test {
  protected:
    void SetUp() override { dir = velloc::e2e::freshTestDir("velloc_effect_"); }
    void TearDown() override { fs::remove_all(dir); }

    static std::string slurp(const fs::path& p) { return velloc::e2e::slurp(p); }
    // Runs the program with every destination; returns the exit status.
    int run(const std::string& program) {
        std::ofstream(dir / "p.vlc") << program;
        std::string cmd = "cd '" + dir.string() + "' && '" + VELLOC_BINARY +
                          "' --tables-dir t --html r.html p.vlc > out.lst 2> log.txt";
        int rc = std::system(cmd.c_str());
        log = slurp(dir / "log.txt");
        listing = slurp(dir / "out.lst");
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    Table effects() { return readTable((dir / "t" / "Effect.csv").string()); }

    fs::path dir;
    std::string log, listing;
};

using velloc::e2e::lastLine;

const std::string kData = "'" + dataPath("lalonde_outcomes.csv") + "'";
const std::string kModel = "   class treat race married nodegree;\n"
                           "   psmodel treat(treated='1') = age educ race married nodegree "
                           "re74 re75;\n";

// The R reference row of a case, outcome and measure (no covariates).
std::vector<std::string> reference(const std::string& c, const std::string& y, const std::string& m,
                                   const std::string& type) {
    Table ref = readTable(dataPath("reference.csv"));
    for (const auto& r : ref.rows)
        if (r[0] == c && r[1] == y && r[2] == m && r[4].empty() && r[5] == type) return r;
    ADD_FAILURE() << "no reference row " << c << " " << y << " " << m;
    return {};
}

TEST_F(EffectCli, WeightsAndStrataGiveRsNumbersInEveryDestination) {
    const struct {
        const char* name;
        const char* adjustment;
        const char* measure;
        const char* outcome;
        const char* type;
    } cases[] = {
        {"att", "psweight weight=attwgt;", "DIFF", "re78", "HC0"},
        {"ate", "psweight weight=atewgt;", "RATIO", "employed78", "HC0"},
        {"atestab", "psweight weight=atewgt(stabilize=yes);", "ODDSRATIO", "employed78", "HC0"},
        {"strataatt", "strata nstrata=5 stratumweight=treated;", "DIFF", "re78", "STRATA"},
        {"strataate", "strata nstrata=5 stratumweight=total;", "RATIO", "employed78", "STRATA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(run("proc velloc data=" + kData + " region=cs;\n" + kModel + "   " +
                      c.adjustment + "\n   effect outcome=" + c.outcome +
                      " / measure=" + c.measure + ";\nrun;\n"),
                  0)
            << log;
        Table t = effects();
        ASSERT_EQ(t.rows.size(), 1u);
        const auto ref = reference(c.name, c.outcome, c.measure, c.type);
        ASSERT_FALSE(ref.empty());
        const auto& row = t.rows[0];
        EXPECT_EQ(row[t.column("Measure")], c.measure);
        const double est = number(ref[6]), se = number(ref[7]);
        EXPECT_NEAR(number(row[t.column("Estimate")]), est, 1e-8 * std::fabs(est));
        EXPECT_NEAR(number(row[t.column("StdErr")]), se, 1e-6 * se);
        EXPECT_EQ(row[t.column("SEMethod")], c.type == std::string("STRATA") ? "STRATA" : "ROBUST");
        Table means = readTable((dir / "t" / "EffectMeans.csv").string());
        ASSERT_EQ(means.rows.size(), 2u);
        EXPECT_NEAR(number(means.rows[0][means.column("Mean")]), number(ref[8]),
                    1e-8 * number(ref[8]));
        EXPECT_NE(listing.find("Treatment Effect"), std::string::npos);
        EXPECT_NE(listing.find("Adjusted Group Means"), std::string::npos);
        const std::string html = slurp(dir / "r.html");
        EXPECT_NE(html.find("Treatment Effect"), std::string::npos);
        EXPECT_NE(log.find("[1049-950]"), std::string::npos) << log;
    }
}

// After matching the effect uses the matched rows and match weights of the OUT= data set,
// clustered by matched set; with replacement the robust error comes with the bootstrap advice.
TEST_F(EffectCli, MatchingUsesTheMatchedSetsOfTheOutputDataSet) {
    const struct {
        const char* match;
        SeMethod se;
        bool advice;
    } cases[] = {
        {"method=greedy(k=1) caliper=0.25", SeMethod::Cluster, false},
        {"method=optimal(k=2) caliper=.", SeMethod::Cluster, false},
        {"method=varratio(kmin=1 kmax=3) caliper=.", SeMethod::Cluster, false},
        {"method=full(kmax=4) caliper=.", SeMethod::Cluster, false},
        {"method=replace(k=1) caliper=.", SeMethod::Robust, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.match);
        run("proc velloc data=" + kData + " region=allobs;\n" + kModel + "   match " + c.match +
            " distance=lps;\n   effect outcome=re78;\n   output out(obs=match)='o.csv' "
            "matchid=set weight=w;\nrun;\n");
        Table t = effects();
        ASSERT_EQ(t.rows.size(), 1u) << log;
        Table out = readTable((dir / "o.csv").string());
        Sample own;
        for (const auto& r : out.rows) {
            if (std::isnan(number(r[out.column("set")]))) continue;
            own.y.push_back(number(r[out.column("re78")]));
            own.treat.push_back(number(r[out.column("treat")]));
            own.weight.push_back(number(r[out.column("w")]));
            own.freq.push_back(1.0);
            own.cluster.push_back(number(r[out.column("set")]));
        }
        Contrast want = weightedContrast(own, Measure::Diff, Estimand::Att, c.se);
        EXPECT_NEAR(number(t.rows[0][t.column("Estimate")]), want.estimate,
                    1e-10 * std::fabs(want.estimate));
        EXPECT_NEAR(number(t.rows[0][t.column("StdErr")]), want.se, 1e-10 * want.se);
        EXPECT_EQ(number(t.rows[0][t.column("ControlN")]), want.count[0]);
        EXPECT_EQ(log.find("[1049-951]") != std::string::npos, c.advice) << log;
    }
}

// Each BY group is its own study; outcome values that are missing are counted, noted and left
// out of the group's effect.
TEST_F(EffectCli, ByGroupsAndMissingOutcomes) {
    Table data = readTable(dataPath("lalonde_outcomes.csv"));
    const int married = data.column("married"), re78 = data.column("re78");
    std::ofstream csv(dir / "d.csv");
    for (std::size_t i = 0; i < data.names.size(); ++i)
        csv << (i ? "," : "") << data.names[i];
    csv << "\n";
    int blanks[2] = {0, 0};
    for (int g = 0; g < 2; ++g)
        for (std::size_t k = 0; k < data.rows.size(); ++k) {
            auto r = data.rows[k];
            if (std::stoi(r[married]) != g) continue;
            if (k % 7 == 3) r[re78] = "", ++blanks[g];
            for (std::size_t i = 0; i < r.size(); ++i)
                csv << (i ? "," : "") << r[i];
            csv << "\n";
        }
    csv.close();
    ASSERT_EQ(run("proc velloc data='d.csv' region=allobs;\n   by married;\n"
                  "   class treat race nodegree;\n   psmodel treat(treated='1') = age educ race "
                  "nodegree re74 re75;\n   psweight weight=attwgt;\n   effect outcome=re78;\n"
                  "   output out(obs=region)='o.csv' attwgt=w;\nrun;\n"),
              0)
        << log;
    Table t = effects();
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.names[0], "married");
    Table out = readTable((dir / "o.csv").string());
    for (int g = 0; g < 2; ++g) {
        SCOPED_TRACE(g);
        Sample own;
        for (const auto& r : out.rows) {
            if (std::stoi(r[out.column("married")]) != g || r[out.column("re78")].empty()) continue;
            own.y.push_back(number(r[out.column("re78")]));
            own.treat.push_back(number(r[out.column("treat")]));
            own.weight.push_back(number(r[out.column("w")]));
            own.freq.push_back(1.0);
        }
        Contrast want = weightedContrast(own, Measure::Diff, Estimand::Att, SeMethod::Robust);
        EXPECT_EQ(number(t.rows[g][0]), g);
        EXPECT_NEAR(number(t.rows[g][t.column("Estimate")]), want.estimate,
                    1e-10 * std::fabs(want.estimate));
        EXPECT_NEAR(number(t.rows[g][t.column("StdErr")]), want.se, 1e-10 * want.se);
        const std::string note = std::to_string(blanks[g]) +
                                 " observations kept by the adjustment have a missing value of "
                                 "re78";
        EXPECT_NE(log.find(note), std::string::npos) << log;
    }
}

// Without an adjustment statement the effect is the unadjusted difference even when ASSESS
// shows weighted balance: the note on its errors says so rather than call the fit weighted.
TEST_F(EffectCli, AnEffectWithoutAdjustmentSaysItIsUnadjusted) {
    ASSERT_EQ(run("proc velloc data=" + kData + ";\n" + kModel +
                  "   assess var=(age educ);\n   effect outcome=re78;\nrun;\n"),
              0)
        << log;
    EXPECT_NE(log.find("of the unweighted regression of the outcome on treatment (no PSWEIGHT, "
                       "MATCH or STRATA statement adjusts this effect). [1049-950]"),
              std::string::npos)
        << log;
    run("proc velloc data=" + kData + ";\n" + kModel +
        "   psweight weight=attwgt;\n   effect outcome=re78;\nrun;\n");
    EXPECT_NE(log.find("of the weighted regression of the outcome on treatment;"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("no PSWEIGHT"), std::string::npos) << log;
}

TEST_F(EffectCli, RatiosOfAnOutcomeThatIsNotZeroOneAreRefused) {
    run("proc velloc data=" + kData + " region=cs;\n" + kModel +
        "   psweight weight=attwgt;\n   effect outcome=(re78 employed78) / measure=ratio;\n"
        "run;\n");
    EXPECT_NE(log.find("ERROR: MEASURE=RATIO needs a 0/1 outcome, but re78 takes the value"),
              std::string::npos)
        << log;
    Table t = effects();
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0][t.column("Outcome")], "employed78");
    EXPECT_NE(lastLine(log).find("status 4"), std::string::npos) << log;
}

TEST_F(EffectCli, BootstrapAfterMatchingIsReproducibleFromItsSeed) {
    auto program = [](int seed) {
        return "proc velloc data=" + kData + " region=allobs;\n" + kModel +
               "   match method=greedy(k=1) distance=lps caliper=.;\n"
               "   effect outcome=re78 / se=bootstrap(nrep=200 seed=" +
               std::to_string(seed) + ");\nrun;\n";
    };
    ASSERT_EQ(run(program(5)), 0) << log;
    const std::string first = slurp(dir / "t" / "Effect.csv");
    std::size_t progress = 0;
    for (std::size_t at = log.find("[1049-960]"); at != std::string::npos;
         at = log.find("[1049-960]", at + 1))
        ++progress;
    EXPECT_EQ(progress, 10u) << log;
    EXPECT_NE(log.find("bootstrap of 200 replicates resampling matched sets"), std::string::npos);
    ASSERT_EQ(run(program(5)), 0) << log;
    EXPECT_EQ(slurp(dir / "t" / "Effect.csv"), first);
    ASSERT_EQ(run(program(6)), 0) << log;
    EXPECT_NE(slurp(dir / "t" / "Effect.csv"), first);
    Table t = effects();
    EXPECT_EQ(t.rows[0][t.column("SEMethod")], "BOOTSTRAP");
    const double est = number(t.rows[0][t.column("Estimate")]);
    EXPECT_LT(number(t.rows[0][t.column("Lower")]), est);
    EXPECT_GT(number(t.rows[0][t.column("Upper")]), est);
}

// The bootstrap after weights and strata on a 20,000-row study with a known logistic score,
// against R's boot with glm refitted in every replicate (tests/reference/bootstrap_reference.R,
// 1,500 replicates). The streams differ, so the errors agree to the Monte Carlo error only: a
// bootstrap standard deviation from B replicates has a relative error of about 1/sqrt(2B),
// 3.2% for our 500 and 1.8% for R's 1,500, so their ratio has a relative error of about 3.6%
// and 12% is more than three of those.
class EffectBootstrapCli : public EffectCli {
  protected:
    static const std::vector<std::string>& referenceRow(const std::string& kind, bool refit) {
        static const Table ref = readTable(dataPath("boot_reference.csv"));
        for (const auto& r : ref.rows)
            if (r[0] == kind && r[1] == (refit ? "1" : "0")) return r;
        static const std::vector<std::string> none;
        ADD_FAILURE() << "no bootstrap reference for " << kind;
        return none;
    }
    static double refValue(const std::vector<std::string>& row, const std::string& column) {
        static const Table ref = readTable(dataPath("boot_reference.csv"));
        return number(row.at(static_cast<std::size_t>(ref.column(column))));
    }
    // Runs the adjustment with the bootstrap; returns the Effect row.
    std::vector<std::string> effectRow(const std::string& adjustment, int nrep, int seed,
                                       const std::string& model = kBootModel) {
        const std::string program =
            "proc velloc data='" + dataPath("boot_study.csv") + "' region=allobs;\n" + model +
            "   " + adjustment +
            "\n   effect outcome=y / se=bootstrap(nrep=" + std::to_string(nrep) +
            " seed=" + std::to_string(seed) + ");\nrun;\n";
        EXPECT_EQ(run(program), 0) << log;
        Table t = effects();
        if (t.rows.size() != 1u) {
            ADD_FAILURE() << log;
            return std::vector<std::string>(t.names.size());
        }
        columns = t;
        return t.rows[0];
    }
    double value(const std::vector<std::string>& row, const std::string& column) {
        return number(row.at(static_cast<std::size_t>(columns.column(column))));
    }
    static inline const std::string kBootModel =
        "   class t c;\n   psmodel t(treated='1') = x1 x2 c;\n";
    Table columns;
};

TEST_F(EffectBootstrapCli, AfterWeightsAndStrataTheErrorIsRsWithTheModelRefitted) {
    struct Case {
        const char* kind;
        const char* adjustment;
    };
    for (const Case& c :
         {Case{"attwgt", "psweight weight=attwgt;"}, Case{"atewgt", "psweight weight=atewgt;"},
          Case{"strataate", "strata nstrata=5 stratumweight=total;"}}) {
        SCOPED_TRACE(c.kind);
        const auto& ref = referenceRow(c.kind, true);
        std::vector<std::string> row = effectRow(c.adjustment, 500, 2027);
        EXPECT_NEAR(value(row, "Estimate"), refValue(ref, "estimate"),
                    1e-5 * std::fabs(refValue(ref, "estimate")));
        const double se = value(row, "StdErr"), want = refValue(ref, "se");
        EXPECT_NEAR(se, want, 0.12 * want);
        // Percentile limits: the 2.5% and 97.5% quantiles of the replicates. Their Monte Carlo
        // error is sqrt(q (1 - q) / B) / f(x_q), 0.12 standard errors for our 500 replicates and
        // 0.07 for R's 1,500 when the replicates are normal; 0.4 is about three of both.
        EXPECT_NEAR(value(row, "Lower"), refValue(ref, "q025"), 0.4 * want);
        EXPECT_NEAR(value(row, "Upper"), refValue(ref, "q975"), 0.4 * want);
        EXPECT_EQ(row[static_cast<std::size_t>(columns.column("SEMethod"))], "BOOTSTRAP");
        EXPECT_NE(log.find("the propensity model refitted"), std::string::npos) << log;
        EXPECT_EQ(log.find("[1049-965]"), std::string::npos) << log; // no failed draws
    }
}

// Where the score's estimation matters the refitted and the fixed-score errors are far apart,
// so the comparison above fails when the replicates keep the full-sample scores. Supplied
// scores (PSDATA) are kept in every replicate: that is R's fixed-score bootstrap.
TEST_F(EffectBootstrapCli, SuppliedScoresAreKeptAndGiveTheFixedScoreError) {
    const double refit = refValue(referenceRow("atewgt", true), "se");
    const double fixed = refValue(referenceRow("atewgt", false), "se");
    ASSERT_GT(std::fabs(fixed - refit), 0.3 * refit); // the study is one where refitting matters
    std::vector<std::string> row =
        effectRow("psweight weight=atewgt;", 500, 2027,
                  "   class t;\n   psdata treatvar=t(treated='1') ps=ps;\n");
    EXPECT_NEAR(value(row, "StdErr"), fixed, 0.12 * fixed);
    EXPECT_NE(log.find("the supplied scores kept"), std::string::npos) << log;
}

TEST_F(EffectBootstrapCli, TheSeedReproducesTheRunAndProgressIsLogged) {
    effectRow("psweight weight=attwgt;", 40, 5);
    const std::string first = slurp(dir / "t" / "Effect.csv");
    std::size_t progress = 0;
    for (std::size_t at = log.find("[1049-960]"); at != std::string::npos;
         at = log.find("[1049-960]", at + 1))
        ++progress;
    EXPECT_EQ(progress, 10u) << log;
    effectRow("psweight weight=attwgt;", 40, 5);
    EXPECT_EQ(slurp(dir / "t" / "Effect.csv"), first);
    effectRow("psweight weight=attwgt;", 40, 6);
    EXPECT_NE(slurp(dir / "t" / "Effect.csv"), first);
}

// Three treated units among 30: many draws hold fewer than two of them, so there is no support
// region with both groups. Those draws are drawn again, and the warning counts them by cause.
TEST_F(EffectBootstrapCli, DrawsWithoutAnEstimateAreCountedInAWarning) {
    std::ofstream csv(dir / "few.csv");
    csv << "t,x,y\n";
    for (int i = 0; i < 30; ++i)
        csv << (i % 10 == 0 ? 1 : 0) << "," << (i % 7) * 0.5 << "," << i % 4 << "\n";
    csv.close();
    run("proc velloc data='few.csv' region=allobs;\n   class t;\n   psmodel t(treated='1') = x;\n"
        "   psweight weight=attwgt;\n   effect outcome=y / se=bootstrap(nrep=100 seed=3);\nrun;\n");
    const std::size_t at = log.find("[1049-965]");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string line = log.substr(log.rfind('\n', at) + 1, at - log.rfind('\n', at));
    EXPECT_NE(line.find("WARNING: "), std::string::npos) << line;
    EXPECT_NE(line.find("bootstrap draws for y gave no estimate and were drawn again"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("without a support region holding two observations of each group"),
              std::string::npos)
        << line;
    Table t = effects();
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_GT(number(t.rows[0][t.column("StdErr")]), 0.0);
    EXPECT_NE(lastLine(log).find("status 4"), std::string::npos) << log;
}

} // namespace
} // namespace velloc::effect::testing

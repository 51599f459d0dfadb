// The propensity model tables against R's glm and summary() (tests/data/psmodel, made by
// tests/reference/psmodel_tables_reference.R): estimates, standard errors, Wald tests, odds
// ratios and limits per parameter, -2 log likelihood, AIC, the weighted Mann-Whitney
// c-statistic and the observation counts; on the job-training data, and by group with a
// frequency and missing values. Reference levels are last (the procedure's coding), so the
// parameters of R's fit with relevel() coincide with ours one to one.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using velloc::e2e::freshTestDir;
using velloc::e2e::shell;
using velloc::e2e::slurp;

using velloc::e2e::readCsv;
using velloc::e2e::Record;

double num(const Record& r, const std::string& key) {
    auto it = r.find(key);
    if (it == r.end() || it->second.empty()) return NAN;
    return std::stod(it->second);
}

const std::string kData = VELLOC_TEST_DATA;

int run(const fs::path& dir, const std::string& program) {
    std::ofstream(dir / "p.vlc") << program;
    return shell("cd '" + dir.string() +
                 "' && '" VELLOC_BINARY
                 "' --log run.log --no-graphics --html r.html --tables-dir t p.vlc > out.lst");
}

// The reference rows of one case, in R's order.
std::vector<Record> reference(const std::string& file, const std::string& which) {
    std::vector<Record> out;
    for (const Record& r : readCsv(kData + "/psmodel/" + file))
        if (r.at("case") == which) out.push_back(r);
    return out;
}

// Each R parameter appears once among ours, with R's values; ours has in addition exactly
// the reference levels listed, shown as such.
void expectEstimates(const std::vector<Record>& ours, const std::vector<Record>& ref,
                     const std::vector<std::string>& refLevels) {
    std::map<std::string, Record> byName;
    for (const Record& r : ours)
        EXPECT_TRUE(byName.emplace(r.at("Parameter"), r).second) << r.at("Parameter");
    ASSERT_EQ(ours.size(), ref.size() + refLevels.size());
    for (const Record& e : ref) {
        const std::string name = e.at("parameter");
        ASSERT_TRUE(byName.count(name)) << name;
        const Record& o = byName[name];
        SCOPED_TRACE(name);
        EXPECT_NEAR(num(o, "Estimate"), num(e, "estimate"), 1e-8);
        EXPECT_NEAR(num(o, "StdErr"), num(e, "stderr"), 1e-6 * std::max(1.0, num(e, "stderr")));
        EXPECT_NEAR(num(o, "WaldZ"), num(e, "z"), 1e-5 * std::max(1.0, std::fabs(num(e, "z"))));
        EXPECT_NEAR(num(o, "ProbZ"), num(e, "p"), 1e-6 * std::max(1e-3, num(e, "p")));
        EXPECT_NEAR(num(o, "OddsRatio"), num(e, "oddsratio"), 1e-8 * num(e, "oddsratio"));
        EXPECT_NEAR(num(o, "LowerCL"), num(e, "lower"), 1e-6 * num(e, "lower"));
        EXPECT_NEAR(num(o, "UpperCL"), num(e, "upper"), 1e-6 * num(e, "upper"));
        EXPECT_EQ(o.at("Note"), "");
    }
    for (const std::string& name : refLevels) {
        ASSERT_TRUE(byName.count(name)) << name;
        const Record& o = byName[name];
        EXPECT_EQ(num(o, "Estimate"), 0.0) << name;
        EXPECT_TRUE(std::isnan(num(o, "StdErr"))) << name;
        EXPECT_TRUE(std::isnan(num(o, "OddsRatio"))) << name;
        EXPECT_EQ(o.at("Note"), "Reference") << name;
    }
}

// PSModelFit rows (Label, Value) of one BY group (all rows when by is empty).
std::map<std::string, std::string> fitOf(const std::vector<Record>& rows, const std::string& byCol,
                                         const std::string& by) {
    std::map<std::string, std::string> out;
    for (const Record& r : rows)
        if (byCol.empty() || r.at(byCol) == by) out[r.at("Label")] = r.at("Value");
    return out;
}

void expectFit(const std::map<std::string, std::string>& ours, const Record& ref) {
    EXPECT_EQ(std::stod(ours.at("Observations Read")), num(ref, "read"));
    EXPECT_EQ(std::stod(ours.at("Observations Used")), num(ref, "used"));
    EXPECT_EQ(std::stod(ours.at("Dropped for Missing Values")), num(ref, "dropped"));
    EXPECT_NEAR(std::stod(ours.at("-2 Log Likelihood")), num(ref, "m2ll"), 1e-8);
    EXPECT_NEAR(std::stod(ours.at("AIC")), num(ref, "aic"), 1e-8);
    EXPECT_NEAR(std::stod(ours.at("c Statistic")), num(ref, "c"), 1e-9);
    EXPECT_EQ(ours.at("Convergence"), "Criterion satisfied");
}

TEST(PsModelTablesCli, JobTrainingModelEqualsGlmSummary) {
    const fs::path dir = freshTestDir("velloc_psmodel_");
    ASSERT_EQ(run(dir, "proc velloc data='" + kData +
                           "/lalonde/lalonde.csv' region=allobs;\n"
                           "  class treat race married nodegree;\n"
                           "  psmodel treat(treated='1') = age educ race married nodegree re74 "
                           "re75 age*educ;\n"
                           "  assess lps var=(age educ);\nrun;\n"),
              0)
        << slurp(dir / "run.log");
    expectEstimates(readCsv(dir / "t" / "PSModelEstimates.csv"), reference("estimates.csv", "main"),
                    {"race = white", "married = 1", "nodegree = 1"});
    const std::vector<Record> fit = readCsv(dir / "t" / "PSModelFit.csv");
    expectFit(fitOf(fit, "", ""), reference("fit.csv", "main").at(0));

    // Printed after the score information, in the listing and the HTML report.
    const std::string lst = slurp(dir / "out.lst");
    const auto info = lst.find("Propensity Score Information");
    const auto est = lst.find("Propensity Score Model Estimates");
    const auto mfit = lst.find("Propensity Score Model Fit");
    ASSERT_NE(info, std::string::npos);
    ASSERT_NE(est, std::string::npos) << lst;
    ASSERT_NE(mfit, std::string::npos);
    EXPECT_LT(info, est);
    EXPECT_LT(est, mfit);
    EXPECT_NE(lst.find("race = hispan"), std::string::npos);
    const std::string html = slurp(dir / "r.html");
    EXPECT_NE(html.find("Propensity Score Model Estimates"), std::string::npos);
    EXPECT_NE(html.find("age*educ"), std::string::npos);
}

TEST(PsModelTablesCli, ByGroupsWithFrequencyAndMissingValues) {
    const fs::path dir = freshTestDir("velloc_psmodel_");
    ASSERT_EQ(run(dir, "proc velloc data='" + kData +
                           "/psmodel/lalonde_by_freq.csv' region=allobs;\n"
                           "  by g;\n  freq f;\n  class treat race married nodegree;\n"
                           "  psmodel treat(treated='1') = age educ race married nodegree re74 "
                           "re75;\nrun;\n"),
              0)
        << slurp(dir / "run.log");
    const std::vector<Record> est = readCsv(dir / "t" / "PSModelEstimates.csv");
    const std::vector<Record> fit = readCsv(dir / "t" / "PSModelFit.csv");
    for (const char* g : {"0", "1"}) {
        SCOPED_TRACE(std::string("g = ") + g);
        std::vector<Record> ours;
        for (const Record& r : est)
            if (r.at("g") == g) ours.push_back(r);
        expectEstimates(ours, reference("estimates.csv", std::string("by") + g),
                        {"race = white", "married = 1", "nodegree = 1"});
        const auto f = fitOf(fit, "g", g);
        expectFit(f, reference("fit.csv", std::string("by") + g).at(0));
        // Both variables with missing values are named.
        const std::string vars = f.at("Variables with Missing Values");
        EXPECT_NE(vars.find("re75"), std::string::npos) << vars;
        EXPECT_NE(vars.find("educ"), std::string::npos) << vars;
    }
}

TEST(PsModelTablesCli, NoModelTablesWhenTheScoresAreSupplied) {
    const fs::path dir = freshTestDir("velloc_psmodel_");
    {
        std::ofstream d(dir / "s.csv");
        d << "treat,x,score\n";
        for (int i = 0; i < 40; ++i)
            d << (i % 3 == 0) << ',' << i << ',' << 0.2 + 0.015 * i << '\n';
    }
    ASSERT_EQ(run(dir, "proc velloc data='s.csv' region=allobs;\n  class treat;\n"
                       "  psdata treatvar=treat(treated='1') ps=score;\n"
                       "  assess ps var=(x);\nrun;\n"),
              0)
        << slurp(dir / "run.log");
    EXPECT_TRUE(fs::exists(dir / "t" / "PSInfo.csv"));
    EXPECT_FALSE(fs::exists(dir / "t" / "PSModelEstimates.csv"));
    EXPECT_FALSE(fs::exists(dir / "t" / "PSModelFit.csv"));
}

} // namespace

// The balance report as a user asks for it: LEVELS=ALL, THRESHOLD= and the summary it drives,
// the reference lines of the standardized-difference plot, and refused thresholds.
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

std::string program(const std::string& assessOptions) {
    return "proc velloc data='" VELLOC_TEST_DATA "/lalonde/lalonde.csv' region=allobs;\n"
           "  class treat race married nodegree;\n"
           "  psmodel treat(treated='1') = age educ race married nodegree re74 re75;\n"
           "  assess lps var=(age educ re74 re75 married nodegree) / " +
           assessOptions + ";\nrun;\n";
}

int run(const fs::path& dir, const std::string& options, const std::string& flags = "") {
    std::ofstream(dir / "p.vlc") << program(options);
    return shell("cd '" + dir.string() + "' && '" VELLOC_BINARY "' --log run.log " + flags +
                 " --tables-dir t p.vlc > out.lst");
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(BalanceCli, EveryLevelLabelledAndTheSummaryCountsAgainstTheThresholds) {
    const fs::path dir = freshTestDir("velloc_balance_");
    ASSERT_EQ(run(dir, "varinfo levels=all threshold=(stddiff=0.2 varratio=1.5)",
                  "--no-graphics --html r.html"),
              0)
        << slurp(dir / "run.log");
    const std::vector<Record> sd = readCsv(dir / "t" / "StdDiff.csv");
    // married: level 0 (first in sort order) then 1, with opposite differences.
    std::map<std::string, double> z;
    for (const Record& r : sd)
        if (r.at("Variable") == "married" && r.at("Obs") == "All")
            z[r.at("Level")] = std::stod(r.at("StdDiff"));
    ASSERT_EQ(z.size(), 2u);
    EXPECT_DOUBLE_EQ(z["0"], -z["1"]);
    EXPECT_GT(z["0"], 0.0) << "the treated men are mostly unmarried";
    for (const Record& r : sd) {
        if (r.at("Variable") == "age") {
            EXPECT_EQ(r.at("Level"), "");
        }
    }
    EXPECT_EQ(readCsv(dir / "t" / "VarInfo.csv").size(), sd.size());

    // The summary counts what StdDiff shows, set by set.
    const std::vector<Record> sum = readCsv(dir / "t" / "BalanceSummary.csv");
    ASSERT_EQ(sum.size(), 3u); // All, Region, Weighted
    for (const Record& s : sum) {
        int over = 0, rows = 0, vrOut = 0;
        double largest = 0.0;
        for (const Record& r : sd) {
            if (r.at("Obs") != s.at("Obs")) continue;
            ++rows;
            const double a = std::fabs(std::stod(r.at("StdDiff")));
            over += a > 0.2;
            largest = std::max(largest, a);
            if (r.at("Level").empty()) {
                const double vr = std::stod(r.at("VarianceRatio"));
                vrOut += vr > 1.5 || vr < 1 / 1.5;
            }
        }
        EXPECT_EQ(std::stoi(s.at("NVariables")), rows) << s.at("Obs");
        EXPECT_EQ(std::stoi(s.at("NStdDiffOver")), over) << s.at("Obs");
        EXPECT_EQ(std::stoi(s.at("NVarRatioOut")), vrOut) << s.at("Obs");
        EXPECT_NEAR(std::stod(s.at("MaxAbsStdDiff")), largest, 1e-12) << s.at("Obs");
    }
    // The column headers say which thresholds were counted against.
    const std::string html = slurp(dir / "r.html");
    EXPECT_NE(html.find("|Std Diff| &gt; 0.2<"), std::string::npos);
    EXPECT_NE(html.find("Variance Ratio outside [0.666667, 1.5]<"), std::string::npos);
}

TEST(BalanceCli, StdDiffPlotDrawsTheThresholdOnBothSides) {
    const fs::path dir = freshTestDir("velloc_balance_");
    ASSERT_EQ(run(dir, "threshold=(stddiff=0.2)", "--graphs-dir g"), 0) << slurp(dir / "run.log");
    std::string svg;
    for (const auto& e : fs::directory_iterator(dir / "g"))
        if (e.path().filename().string().find("StdDiffPlot") != std::string::npos)
            svg = slurp(e.path());
    ASSERT_FALSE(svg.empty());
    EXPECT_EQ(count(svg, "#b2182b"), 2u);
}

TEST(BalanceCli, ThresholdsOutsideTheirRangeAreRefused) {
    const fs::path dir = freshTestDir("velloc_balance_");
    EXPECT_NE(run(dir, "threshold=(stddiff=0)", "--no-graphics"), 0);
    EXPECT_NE(slurp(dir / "run.log").find("STDDIFF= must be greater than 0"), std::string::npos)
        << slurp(dir / "run.log");
    EXPECT_NE(run(dir, "threshold=(varratio=1)", "--no-graphics"), 0);
    EXPECT_NE(slurp(dir / "run.log").find("VARRATIO= must be greater than 1"), std::string::npos)
        << slurp(dir / "run.log");
}

// Numeric IDs of the most-matched listing print as the integers they are.
TEST(BalanceCli, MatchMostIdsPrintAsIntegers) {
    const fs::path dir = freshTestDir("velloc_balance_");
    std::ofstream(dir / "m.vlc")
        << "proc velloc data='" VELLOC_TEST_DATA "/lalonde/lalonde.csv' region=allobs;\n"
           "  class treat race married nodegree;\n  id id;\n"
           "  psmodel treat(treated='1') = age educ race married nodegree re74 re75;\n"
           "  match method=replace caliper=. nmatchmost=3;\n  assess var=(age);\nrun;\n";
    ASSERT_EQ(shell("cd '" + dir.string() +
                    "' && '" VELLOC_BINARY "' --no-graphics --log run.log m.vlc > out.lst"),
              0)
        << slurp(dir / "run.log");
    const std::string listing = slurp(dir / "out.lst");
    const std::size_t at = listing.find("Most Frequently Matched Observations");
    ASSERT_NE(at, std::string::npos) << listing;
    EXPECT_EQ(listing.find(".00000", at), std::string::npos) << listing.substr(at);
}

} // namespace

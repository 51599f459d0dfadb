// The caliper of MULT=STDDEV is a multiple of the score's standard deviation that ASSESS
// STDDEV= chooses (pooled over both groups, or the treated group's alone); MatchInfo says which
// one and shows its value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "match_fixture.h"

namespace velloc::testing {
namespace {

namespace fs = std::filesystem;

// MatchInfo's rows (label -> value) from a run of the command on a small group.
std::map<std::string, std::string> matchInfo(const std::string& assess) {
    fs::path dir = fs::temp_directory_path() / ("velloc_calsd_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "d.csv") << "t,ps\n1,.3\n1,.5\n1,.7\n0,.2\n0,.4\n0,.6\n0,.8\n";
    std::ofstream(dir / "a.vlc") << "proc velloc data='d.csv' region=allobs;\n"
                                    "class t; psdata treatvar=t(treated='1') ps=ps;\n"
                                    "match method=greedy caliper=0.25;\n"
                                 << assess << "\nrun;\n";
    std::string cmd = "cd '" + dir.string() + "' && '" + VELLOC_BINARY +
                      "' --tables-dir tables a.vlc > out.txt 2> log.txt";
    int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc));
    std::map<std::string, std::string> rows;
    for (const auto& row : readCsv((dir / "tables" / "MatchInfo.csv").string()))
        if (row.size() >= 2) rows[row[0]] = row[1];
    fs::remove_all(dir);
    return rows;
}

double logit(double p) {
    return std::log(p / (1 - p));
}

TEST(CaliperDeviation, MatchInfoNamesTheDeviationAssessChose) {
    // Treated logits l(.3), 0, l(.7) = -l(.7), 0, l(.7): variance l(.7)^2 (n - 1 = 2).
    // Control logits l(.2), l(.4), l(.6), l(.8) = -a, -b, b, a: variance 2 (a^2 + b^2) / 3.
    const double a = logit(0.8), b = logit(0.6), c = logit(0.7);
    const double varT = c * c, varC = 2 * (a * a + b * b) / 3;
    const double pooled = std::sqrt((varT + varC) / 2), treated = std::sqrt(varT);
    struct Case {
        std::string assess;
        std::string basis;
        double sd;
    } cases[] = {{"", "Pooled", pooled},
                 {"assess lps / stddev=pooled;", "Pooled", pooled},
                 {"assess lps / stddev=treated;", "Treated", treated}};
    for (const Case& k : cases) {
        auto rows = matchInfo(k.assess);
        ASSERT_TRUE(rows.count("Caliper Standard Deviation")) << k.assess;
        EXPECT_NEAR(std::stod(rows["Caliper Standard Deviation"]), k.sd, 1e-12) << k.assess;
        EXPECT_EQ(rows["Caliper Standard Deviation From"].rfind(k.basis, 0), 0u)
            << k.assess << ": " << rows["Caliper Standard Deviation From"];
        EXPECT_NEAR(std::stod(rows["Caliper (Logit PS)"]), 0.25 * k.sd, 1e-12) << k.assess;
    }
}

} // namespace
} // namespace velloc::testing

// End to end on the job-training data: the procedure reads the file, builds the model rows
// and fits the model; coefficients and scores must agree with R's glm (tests/data/lalonde).
#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "core/model_rows.h"
#include "input_fixture.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

const std::string kDir = std::string(VELLOC_SOURCE_DIR) + "/tests/data/lalonde/";

std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream s(line);
        std::string c;
        while (std::getline(s, c, ','))
            cells.push_back(c);
        rows.push_back(cells);
    }
    return rows;
}

// A quarter of the column's range: the scale the continuous variables are divided by.
double quarterRange(const std::vector<std::vector<std::string>>& rows, int col) {
    double lo = 1e300, hi = -1e300;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        double v = std::stod(rows[i][col]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return (hi - lo) / 4;
}

void expectClose(double got, double want, double rel, const char* what) {
    EXPECT_NEAR(got, want, rel * std::max(1.0, std::fabs(want))) << what;
}

TEST(LalondeFit, CoefficientsAndScoresMatchTheReferenceFit) {
    StepRun r = runOnFile(kDir + "lalonde.csv",
                          "class treat race married nodegree;\n"
                          "psmodel treat(treated='1') = age educ race married nodegree re74 re75;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.rc, 0) << r.log;
    EXPECT_EQ(g.nTreated, 185);
    EXPECT_EQ(g.nControl, 429);
    EXPECT_TRUE(r.logged(321)); // the fit reports itself in the log

    // Columns: intercept, age, educ, race (black hispan white), married (0 1),
    // nodegree (0 1), re74, re75. The last level of each CLASS effect is aliased.
    ASSERT_EQ(g.D, 12);
    ASSERT_EQ(g.coef.size(), 12u);
    EXPECT_EQ(g.coef[5], 0.0);
    EXPECT_EQ(g.coef[7], 0.0);
    EXPECT_EQ(g.coef[9], 0.0);

    std::map<std::string, double> b;
    for (const auto& row : readCsv(kDir + "reference_coefficients.csv"))
        if (row[0] != "term") b[row[0].substr(row[0].front() == '"' ? 1 : 0)] = std::stod(row[1]);
    auto data = readCsv(kDir + "lalonde.csv");
    const double sAge = quarterRange(data, 2), sEduc = quarterRange(data, 3),
                 sRe74 = quarterRange(data, 7), sRe75 = quarterRange(data, 8);

    // R codes race by hispan and white against black, and married and nodegree by their
    // level 1. Here the last level is the reference, so for an observation
    //   R:    b0 + bh [hispan] + bw [white] + bm married + bn nodegree
    //   ours: c0 + c_black [black] + c_hispan [hispan] + cm0 (1 - married) + cn0 (1 - nodegree)
    // agree for every observation when c_black = -bw, c_hispan = bh - bw, cm0 = -bm,
    // cn0 = -bn and c0 = b0 + bw + bm + bn. Continuous columns are divided by their scale,
    // so their coefficients are R's times the scale.
    const double rel = 1e-8;
    expectClose(g.coef[0], b["(Intercept)"] + b["racewhite"] + b["married"] + b["nodegree"], rel,
                "intercept");
    expectClose(g.coef[1], b["age"] * sAge, rel, "age");
    expectClose(g.coef[2], b["educ"] * sEduc, rel, "educ");
    expectClose(g.coef[3], -b["racewhite"], rel, "black");
    expectClose(g.coef[4], b["racehispan"] - b["racewhite"], rel, "hispan");
    expectClose(g.coef[6], -b["married"], rel, "married 0");
    expectClose(g.coef[8], -b["nodegree"], rel, "nodegree 0");
    expectClose(g.coef[10], b["re74"] * sRe74, rel, "re74");
    expectClose(g.coef[11], b["re75"] * sRe75, rel, "re75");

    // Every observation's logit score from its model row against R's linear predictor.
    std::map<long, double> lps;
    for (const auto& row : readCsv(kDir + "reference_ps.csv"))
        if (row[0] != "id") lps[std::stol(row[0])] = std::stod(row[2]);
    ASSERT_EQ(g.lreg.size(), 614u);
    double worst = 0;
    for (const auto& row : g.lreg) {
        double eta = 0;
        for (int j = 0; j < g.D; ++j)
            eta += row[kRowDesign + j] * g.coef[j];
        worst = std::max(worst, std::fabs(eta - lps.at(static_cast<long>(row[kRowObs]))));
    }
    EXPECT_LT(worst, 1e-8);
}

} // namespace

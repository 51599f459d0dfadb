// The propensity model on the job-training data with derived columns, end to end: powers of a
// continuous variable, columns far from zero, exact aliases, a parameter of exactly 0 and
// separation. Scores and coefficients against R's glm (tests/reference/model_reference.R,
// fixtures in tests/data/model) or hand calculations.
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

const std::string kDir = std::string(VELLOC_SOURCE_DIR) + "/tests/data/model/";
const std::string kData = kDir + "lalonde_extra.csv";

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

// R's linear predictor per id, and its coefficients, for one model of the fixture.
std::map<long, double> referenceLps(const std::string& model) {
    std::map<long, double> lps;
    for (const auto& row : readCsv(kDir + "fits.csv"))
        if (row[0] == model) lps[std::stol(row[1])] = std::stod(row[2]);
    return lps;
}
std::map<std::string, double> referenceCoef(const std::string& model) {
    std::map<std::string, double> b;
    for (const auto& row : readCsv(kDir + "coefficients.csv"))
        if (row[0] == model) b[row[1]] = std::stod(row[2]);
    return b;
}

// A quarter of the column's range over the data, the divisor of the continuous values; 1 when
// the range is negligible against the values (agek: 9.5 is not above 1e-5 x 1000055).
double scaleOf(const std::string& column) {
    auto rows = readCsv(kData);
    const auto col = std::find(rows[0].begin(), rows[0].end(), column) - rows[0].begin();
    double lo = 1e300, hi = -1e300;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double v = std::stod(rows[i][static_cast<std::size_t>(col)]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    const double q = (hi - lo) / 4;
    return q > 0.00001 * std::max(std::fabs(lo), std::fabs(hi)) ? q : 1.0;
}

// Largest distance between the fitted logit scores and R's.
double worstLps(const GroupSnap& g, const std::map<long, double>& want) {
    EXPECT_EQ(g.lreg.size(), want.size());
    double worst = 0;
    for (const auto& row : g.lreg) {
        double eta = 0;
        for (int j = 0; j < g.D; ++j)
            eta += row[kRowDesign + j] * g.coef[j];
        worst = std::max(worst, std::fabs(eta - want.at(static_cast<long>(row[kRowObs]))));
    }
    return worst;
}

// The log line of a message, empty when it was not issued.
std::string lineOf(const StepRun& r, int number) {
    const std::string id = "[1049-" + std::to_string(number) + "]";
    const auto p = r.log.find(id);
    if (p == std::string::npos) return {};
    const auto b = r.log.rfind('\n', p);
    const auto e = r.log.find('\n', p);
    return r.log.substr(b == std::string::npos ? 0 : b + 1,
                        e - (b == std::string::npos ? 0 : b + 1));
}

void expectRel(double got, double want, double rel, const char* what) {
    EXPECT_NEAR(got, want, rel * std::max(1.0, std::fabs(want))) << what;
}

TEST(ModelPowers, ASquaredTermIsTheProductOfItsColumns) {
    StepRun r = runOnFile(kData, "class treat race;\n"
                                 "psmodel treat(treated='1') = age age*age educ race re74;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.rc, 0) << r.log;
    // intercept, age, age*age, educ, race (black hispan white), re74.
    ASSERT_EQ(g.D, 8) << r.log;
    EXPECT_FALSE(r.logged(233)) << r.log;
    EXPECT_FALSE(r.logged(232)) << r.log;
    const double sAge = scaleOf("age");
    for (const auto& row : g.lreg)
        EXPECT_EQ(row[kRowDesign + 2], row[kRowDesign + 1] * row[kRowDesign + 1]);
    // R codes race against black; here white is the reference (last level), so
    // c_black = -b_white, c_hispan = b_hispan - b_white, c0 = b0 + b_white.
    auto b = referenceCoef("square");
    const double rel = 1e-8;
    expectRel(g.coef[0], b["(Intercept)"] + b["racewhite"], rel, "intercept");
    expectRel(g.coef[1], b["age"] * sAge, rel, "age");
    expectRel(g.coef[2], b["I(age^2)"] * sAge * sAge, rel, "age*age");
    expectRel(g.coef[3], b["educ"] * scaleOf("educ"), rel, "educ");
    expectRel(g.coef[4], -b["racewhite"], rel, "black");
    expectRel(g.coef[5], b["racehispan"] - b["racewhite"], rel, "hispan");
    EXPECT_EQ(g.coef[6], 0.0);
    expectRel(g.coef[7], b["re74"] * scaleOf("re74"), rel, "re74");
    EXPECT_LT(worstLps(g, referenceLps("square")), 1e-8);
}

TEST(ModelPowers, ASquareCrossedWithAnotherVariableAndRepeatedClassFactors) {
    // age*age*educ is age^2 educ.
    StepRun r = runOnFile(kData, "class treat;\n"
                                 "psmodel treat(treated='1') = age age*age*educ educ;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.D, 4) << r.log;
    EXPECT_FALSE(r.logged(233)) << r.log;
    auto b = referenceCoef("square_cross");
    const double sAge = scaleOf("age"), sEduc = scaleOf("educ");
    expectRel(g.coef[1], b["age"] * sAge, 1e-8, "age");
    expectRel(g.coef[2], b["I(age^2 * educ)"] * sAge * sAge * sEduc, 1e-8, "age*age*educ");
    expectRel(g.coef[3], b["educ"] * sEduc, 1e-8, "educ");
    EXPECT_LT(worstLps(g, referenceLps("square_cross")), 1e-8);

    // An indicator squared is itself: race*race is race (dropped as a repeat), and
    // age*race*race is age*race: intercept, race (3), age*race (3).
    StepRun c = runOnFile(kData, "class treat race;\n"
                                 "psmodel treat(treated='1') = race race*race age*race*race;");
    ASSERT_EQ(c.groups.size(), 1u) << c.log;
    EXPECT_EQ(c.groups[0].D, 7) << c.log;
    EXPECT_FALSE(c.logged(233)) << c.log;

    // age*age is named as written when it is aliased (agesq holds age^2).
    StepRun n = runOnFile(kData, "class treat;\npsmodel treat(treated='1') = agesq age*age;");
    ASSERT_EQ(n.groups.size(), 1u) << n.log;
    EXPECT_NE(lineOf(n, 233).find("age*age"), std::string::npos) << n.log;
}

TEST(ModelAliasing, AColumnFarFromZeroIsNotAliased) {
    StepRun r =
        runOnFile(kData, "class treat race married nodegree;\n"
                         "psmodel treat(treated='1') = agek educ race married nodegree re74 re75;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.rc, 0) << r.log;
    EXPECT_FALSE(r.logged(233)) << r.log;
    EXPECT_FALSE(r.logged(232)) << r.log;
    auto b = referenceCoef("agek");
    expectRel(g.coef[1], b["agek"] * scaleOf("agek"), 1e-8, "agek");
    EXPECT_LT(worstLps(g, referenceLps("agek")), 1e-8);
}

TEST(ModelAliasing, AnExactAliasIsWarnedAndNamed) {
    struct Case {
        const char* body;
        const char* reference;
        const char* aliased;
    } cases[] = {
        {"class treat;\npsmodel treat(treated='1') = re74 re75 re7475;", "alias_sum", "re7475"},
        {"class treat race married nodegree;\npsmodel treat(treated='1') = age educ race married "
         "nodegree re74 re75 re7475;",
         "alias_sum_race", "re7475"},
        {"class treat;\npsmodel treat(treated='1') = age re74 k;", "alias_const", "k"},
    };
    for (const Case& c : cases) {
        StepRun r = runOnFile(kData, c.body);
        ASSERT_EQ(r.groups.size(), 1u) << r.log;
        const GroupSnap& g = r.groups[0];
        ASSERT_EQ(g.rc, 0) << r.log;
        EXPECT_EQ(r.count(233), 1) << c.body << r.log;
        const std::string line = lineOf(r, 233);
        EXPECT_NE(line.find(c.aliased), std::string::npos) << line;
        // Only the aliased column is named: the CLASS last levels are expected.
        EXPECT_EQ(line.find("race"), std::string::npos) << line;
        EXPECT_EQ(g.coef.back(), 0.0);
        // The scores are those of the model without the aliased column.
        EXPECT_LT(worstLps(g, referenceLps(c.reference)), 1e-7) << c.body;
    }
    // A constant covariate is also named as constant.
    StepRun k = runOnFile(kData, "class treat;\npsmodel treat(treated='1') = age re74 k;");
    EXPECT_NE(lineOf(k, 910).find("column k "), std::string::npos) << k.log;
}

TEST(ModelConvergence, AnEstimateOfExactlyZeroConverges) {
    // Level A: 3 treated, 7 controls; level B: 5 and 5. With B's column aliased the MLE is
    // intercept = logit(5/10) = 0 exactly and A's column = logit(3/10) - 0 = log(3/7).
    std::string csv = "t,c\n";
    for (int i = 0; i < 10; ++i)
        csv += std::string(i < 3 ? "1" : "0") + ",A\n";
    for (int i = 0; i < 10; ++i)
        csv += std::string(i < 5 ? "1" : "0") + ",B\n";
    StepRun r = runOnCsv(csv, "class t c;\npsmodel t(treated='1') = c;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.coef.size(), 3u);
    EXPECT_FALSE(r.logged(232)) << r.log;
    EXPECT_EQ(r.code, 0) << r.log;
    EXPECT_NEAR(g.coef[0], 0.0, 1e-12);
    EXPECT_NEAR(g.coef[1], std::log(3.0 / 7.0), 1e-10);
    EXPECT_EQ(g.coef[2], 0.0);
}

TEST(ModelSeparation, TheSeparatingColumnIsNamed) {
    // x: controls 1..5, treated 6..10: complete separation by x; z carries no information.
    std::string csv = "t,x,z\n";
    for (int i = 1; i <= 10; ++i)
        csv += std::string(i > 5 ? "1" : "0") + "," + std::to_string(i) + "," +
               std::to_string(i % 3) + "\n";
    StepRun r = runOnCsv(csv, "class t;\npsmodel t(treated='1') = z x;");
    const std::string line = lineOf(r, 911);
    EXPECT_NE(line.find("column x "), std::string::npos) << r.log;
    EXPECT_NE(line.find("completely"), std::string::npos) << line;
    EXPECT_EQ(r.count(911), 1) << r.log; // z does not separate

    // Level B has only treated observations: quasi-complete separation by c.
    std::string q = "t,c,z\n";
    for (int i = 0; i < 12; ++i)
        q += std::string(i % 2 || i >= 9 ? "1" : "0") + "," + (i >= 9 ? "B" : "A") + "," +
             std::to_string(i % 5) + "\n";
    StepRun s = runOnCsv(q, "class t c;\npsmodel t(treated='1') = z c;");
    const std::string ql = lineOf(s, 911);
    EXPECT_NE(ql.find("column c "), std::string::npos) << s.log;
    EXPECT_NE(ql.find("quasi-completely"), std::string::npos) << ql;
}

} // namespace

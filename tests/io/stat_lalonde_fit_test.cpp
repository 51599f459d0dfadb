// The job-training data read from the Stata and SPSS files haven wrote
// (tests/reference/formats_fixtures.R) fits exactly as the CSV file does; R's export of it with
// two unknown married values fits the 612 rows R's glm uses.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "../input/input_fixture.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

const std::string kLalonde = std::string(VELLOC_TEST_DATA) + "/lalonde/lalonde.csv";
const std::string kFormats = std::string(VELLOC_TEST_DATA) + "/formats/";
const std::string kModel = "class treat race married nodegree;\n"
                           "psmodel treat(treated='1') = age educ race married nodegree re74 re75;";

// Equal bit patterns, so that missing values (NaN) compare equal as well.
bool sameBits(const std::vector<std::vector<double>>& x,
              const std::vector<std::vector<double>>& y) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i].size() != y[i].size() ||
            std::memcmp(x[i].data(), y[i].data(), x[i].size() * sizeof(double)) != 0)
            return false;
    return true;
}

TEST(StatLalondeFit, StataAndSpssFilesFitBitForBitAsTheCsv) {
    StepRun csv = runOnFile(kLalonde, kModel);
    ASSERT_EQ(csv.groups.size(), 1u) << csv.log;
    ASSERT_EQ(csv.groups[0].rc, 0) << csv.log;
    ASSERT_EQ(csv.groups[0].coef.size(), 12u);
    for (const char* name : {"lalonde.dta", "lalonde.sav"}) {
        SCOPED_TRACE(name);
        StepRun other = runOnFile(kFormats + name, kModel);
        ASSERT_EQ(other.groups.size(), 1u) << other.log;
        const GroupSnap &a = csv.groups[0], &b = other.groups[0];
        ASSERT_EQ(b.rc, 0) << other.log;
        EXPECT_EQ(b.nTreated, 185);
        EXPECT_EQ(b.nControl, 429);
        EXPECT_EQ(b.treatedLevel, a.treatedLevel);
        // Exact equality: the same doubles in, the same model rows and coefficients out.
        EXPECT_EQ(b.scale, a.scale);
        EXPECT_TRUE(sameBits(b.lreg, a.lreg));
        EXPECT_EQ(b.coef, a.coef);
    }
}

TEST(StatLalondeFit, RWriteCsvWithNaMarriedDropsTheRowsRDrops) {
    // lalonde_married_na_glm.txt holds R's glm row count and the rows set to NA.
    std::ifstream info(kFormats + "lalonde_married_na_glm.txt");
    std::string word;
    int nobs = 0, d1 = 0, d2 = 0;
    info >> word >> nobs >> word >> d1 >> d2;
    ASSERT_EQ(nobs, 612);
    StepRun na = runOnFile(kFormats + "lalonde_married_na.csv", kModel);
    ASSERT_EQ(na.groups.size(), 1u) << na.log;
    const GroupSnap& g = na.groups[0];
    ASSERT_EQ(g.rc, 0) << na.log;
    EXPECT_EQ(na.count(500, host::kGroupHostData), 1) << na.log; // the row-name NOTE
    EXPECT_EQ(g.nTreated + g.nControl, nobs);
    ASSERT_EQ(g.skip.size(), 614u);
    for (int i = 1; i <= 614; ++i)
        EXPECT_EQ(g.skip[static_cast<std::size_t>(i - 1)] != 0, i == d1 || i == d2) << "row " << i;

    // Those two rows deleted by hand give the very same fit.
    std::ifstream in(kLalonde);
    std::ostringstream cut;
    std::string line;
    for (int n = 0; std::getline(in, line); ++n)
        if (n != d1 && n != d2) cut << line << '\n';
    StepRun ref = runOnCsv(cut.str(), kModel);
    ASSERT_EQ(ref.groups.size(), 1u) << ref.log;
    EXPECT_EQ(g.coef, ref.groups[0].coef);
}

} // namespace

namespace {

TEST(StatLalondeFit, AStrayTextCellInACovariateIsNamedByTheStep) {
    // Line 4 of the file (the third man) has age "unknown"; every other age is a number.
    std::ifstream in(kLalonde);
    std::ostringstream csv;
    std::string line;
    for (int n = 0; std::getline(in, line); ++n) {
        if (n == 3) {
            std::size_t a = line.find(',', line.find(',') + 1), b = line.find(',', a + 1);
            line = line.substr(0, a + 1) + "unknown" + line.substr(b);
        }
        csv << line << '\n';
    }
    StepRun r = runOnCsv(csv.str(), kModel);
    EXPECT_NE(r.code, 0) << r.log;
    EXPECT_EQ(r.count(502, host::kGroupHostData), 1) << r.log;
    EXPECT_NE(r.log.find("ERROR: PSMODEL uses the variable age as numeric, but the data set file"),
              std::string::npos)
        << r.log;
    EXPECT_NE(r.log.find("has the value \"unknown\" on line 4 (column 3)"), std::string::npos)
        << r.log;
    EXPECT_FALSE(r.logged(178)) << r.log;
}

} // namespace

// The data set options on PROC VELLOC DATA=: the job-training data written with semicolons,
// Latin-1 level texts and NULL for missing earnings fits to R's glm scores
// (tests/data/lalonde/reference_ps.csv), and bad option values end the step with an error that
// names the statement and the option.
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

using velloc::e2e::shell;
using velloc::e2e::slurp;

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> out;
    std::string c;
    std::stringstream ss(line);
    while (std::getline(ss, c, sep))
        out.push_back(c);
    if (!line.empty() && line.back() == sep) out.push_back("");
    return out;
}

std::string join(const std::vector<std::string>& r, char sep) {
    std::string s;
    for (std::size_t i = 0; i < r.size(); ++i)
        s += (i ? std::string(1, sep) : std::string()) + r[i];
    return s;
}

class Dialect : public ::testing::Test {
  protected:
    void SetUp() override { dir = velloc::e2e::freshTestDir("velloc_dialect_"); }
    void TearDown() override { fs::remove_all(dir); }
    int run(const std::string& program) {
        std::ofstream(dir / "p.vlc") << program;
        return shell("cd '" + dir.string() +
                     "' && '" VELLOC_BINARY
                     "' --no-graphics --log run.log p.vlc > out.lst 2> err.txt");
    }
    std::string log() { return slurp(dir / "run.log"); }
    fs::path dir;
};

} // namespace

TEST_F(Dialect, SemicolonLatin1NullDataFitsToR) {
    // The job-training data as a European spreadsheet might save it: semicolons, the level
    // "hispan" spelt with a Latin-1 0xE1, and NULL for re78 in every tenth row (re78 is not in
    // the model, so the fit is R's on all 614 men).
    std::ifstream in(std::string(VELLOC_TEST_DATA) + "/lalonde/lalonde.csv");
    std::ofstream out(dir / "nsw.txt", std::ios::binary);
    std::string line;
    int row = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto c = split(line, ',');
        ASSERT_EQ(c.size(), 10u) << line;
        if (row > 0 && c[4] == "hispan") c[4] = "hisp\xE1nico";
        if (row > 0 && row % 10 == 0) c[9] = "NULL";
        out << join(c, ';') << "\r\n";
        ++row;
    }
    out.close();
    ASSERT_EQ(row, 615);
    int rc = run("proc velloc data='nsw.txt'(delimiter=';' encoding='latin1' missing='NULL');\n"
                 "  class treat race married nodegree;\n"
                 "  psmodel treat(treated='1') = age educ race married nodegree re74 re75;\n"
                 "  output out='o.csv' ps=ps;\nrun;\n");
    std::string l = log();
    ASSERT_EQ(rc, 0) << l << slurp(dir / "err.txt");
    EXPECT_EQ(l.find("[900-501]"), std::string::npos) << "declared encoding: no note\n" << l;

    std::map<std::string, double> ref;
    std::ifstream rin(std::string(VELLOC_TEST_DATA) + "/lalonde/reference_ps.csv");
    std::getline(rin, line);
    while (std::getline(rin, line)) {
        auto c = split(line, ',');
        ref[c[0]] = std::stod(c[1]);
    }
    ASSERT_EQ(ref.size(), 614u);

    std::ifstream oin(dir / "o.csv");
    std::getline(oin, line);
    auto head = split(line, ',');
    int iId = -1, iPs = -1, iRace = -1, iRe78 = -1;
    for (int i = 0; i < static_cast<int>(head.size()); ++i) {
        if (head[i] == "id") iId = i;
        if (head[i] == "ps") iPs = i;
        if (head[i] == "race") iRace = i;
        if (head[i] == "re78") iRe78 = i;
    }
    ASSERT_TRUE(iId >= 0 && iPs >= 0 && iRace >= 0 && iRe78 >= 0) << line;
    int rows = 0, hisp = 0, missingRe78 = 0;
    while (std::getline(oin, line)) {
        auto c = split(line, ',');
        ASSERT_GT(c.size(), static_cast<std::size_t>(std::max({iId, iPs, iRace, iRe78})));
        ++rows;
        EXPECT_NEAR(std::stod(c[iPs]), ref.at(c[iId]), 1e-9) << "id " << c[iId];
        if (c[iRace] == "hisp\xC3\xA1nico") ++hisp;
        const std::string& r78 = c[iRe78];
        if (r78.empty() || r78 == ".") ++missingRe78;
        if (std::stoi(c[iId]) % 10 == 0) {
            EXPECT_TRUE(r78.empty() || r78 == ".") << "id " << c[iId] << ": " << r78;
        }
    }
    EXPECT_EQ(rows, 614);
    EXPECT_EQ(hisp, 72) << "the level as UTF-8";
    EXPECT_EQ(missingRe78, 61);
}

TEST_F(Dialect, BadOptionValuesEndTheStep) {
    std::ofstream(dir / "d.csv") << "treat,x\n1,0.5\n0,1.5\n1,2\n0,0\n";
    const char* model = "  class treat;\n  psmodel treat = x;\n  output out='o.csv' ps=p;\nrun;\n";
    // Bad values are data set errors (status 3); bad syntax is a statement error (status 1).
    struct Case {
        std::string options, wanted;
        int status;
    };
    for (const Case& c :
         {Case{"delimiter=';;'",
               "In the PROC VELLOC statement, DATA= has the data set option DELIMITER=';;'; a "
               "delimiter is one character",
               3},
          Case{"encoding='ebcdic'",
               "In the PROC VELLOC statement, DATA= has the data set option ENCODING='ebcdic', "
               "an encoding that cannot be read",
               3},
          Case{"missing=()",
               "found ')' where a quoted text in the list after MISSING= was "
               "expected",
               1},
          Case{"delimiter=tab", "found tab where a quoted text after DELIMITER= was expected", 1},
          Case{"separator=';'",
               "separator is not an option of DATA. Expected DELIMITER, ENCODING or MISSING", 1}}) {
        fs::remove(dir / "o.csv");
        int rc = run("proc velloc data='d.csv'(" + c.options + ");\n" + model);
        std::string l = log();
        EXPECT_EQ(rc, c.status) << c.options << "\n" << l;
        EXPECT_NE(l.find(c.wanted), std::string::npos) << c.options << "\n" << l;
        EXPECT_FALSE(fs::exists(dir / "o.csv")) << c.options;
    }
    // The same file and options that are right read as without them.
    EXPECT_EQ(run("proc velloc data='d.csv'(delimiter=',' encoding='utf-8' missing=('NULL' "
                  "'-99'));\n" +
                  std::string(model)),
              0)
        << log();
    EXPECT_TRUE(fs::exists(dir / "o.csv"));
}

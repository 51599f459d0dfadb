// Data that no analysis can use, and data conditions that end a BY group, as a user meets them
// in the job-training data: an infinite value or a stray text cell is named by line and column
// wherever the step computes with the variable; a character FREQ, WEIGHT= or PS= variable is
// refused by name; a model that cannot be fitted, or treated units that full matching leaves
// out, never end with a clean status; TREATED= chooses by case only when it must.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using velloc::e2e::lastLine;
using velloc::e2e::shell;
using velloc::e2e::slurp;

// The job-training data (id,treat,age,educ,race,married,nodegree,re74,re75,re78), each line
// through edit(line number, cells) before it is written; line 1 is the header.
using Edit = std::function<void(int, std::vector<std::string>&)>;

class DataFaults : public ::testing::Test {
  protected:
    void SetUp() override { dir = velloc::e2e::freshTestDir("velloc_datafaults_"); }
    void TearDown() override { fs::remove_all(dir); }

    void writeData(const Edit& edit, const std::string& extraHeader = {}) {
        std::ifstream in(std::string(VELLOC_TEST_DATA) + "/lalonde/lalonde.csv");
        std::ofstream out(dir / "d.csv", std::ios::binary);
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::vector<std::string> cells;
            std::stringstream ss(line);
            for (std::string c; std::getline(ss, c, ',');)
                cells.push_back(c);
            if (n == 1 && !extraHeader.empty()) cells.push_back(extraHeader);
            edit(n, cells);
            for (std::size_t i = 0; i < cells.size(); ++i)
                out << (i ? "," : "") << cells[i];
            out << "\n";
        }
    }
    // Runs the statements in a step on d.csv; returns the exit status, the log in log_.
    int run(const std::string& body) {
        std::ofstream(dir / "p.vlc") << "proc velloc data='d.csv';\n" << body << "\nrun;\n";
        const int rc = shell("cd '" + dir.string() +
                             "' && '" VELLOC_BINARY
                             "' --no-graphics --log run.log p.vlc > out.lst 2> err.txt");
        log_ = slurp(dir / "run.log");
        listing_ = slurp(dir / "out.lst");
        return rc;
    }
    fs::path dir;
    std::string log_, listing_;
};

const char* kModel = "class treat race married nodegree;\n"
                     "psmodel treat(treated='1') = age educ race married nodegree re74 re75;\n";

TEST_F(DataFaults, AnInfiniteValueIsNamedWhereverTheStepComputesWithIt) {
    // educ "inf" on line 9, re78 "-Inf" on line 20, re75 a number too large for a double on
    // line 30: each is named by the first use that needs it.
    writeData([](int n, std::vector<std::string>& c) {
        if (n == 9) c[3] = "inf";
        if (n == 20) c[9] = "-Inf";
        if (n == 30) c[8] = "1e400";
    });
    EXPECT_EQ(run(kModel), 3) << log_;
    EXPECT_NE(log_.find("ERROR: PSMODEL uses the variable educ, but the data set d.csv has the "
                        "value \"inf\" at line 9 (column 4), which is infinite"),
              std::string::npos)
        << log_;
    EXPECT_NE(lastLine(log_).find("status 1008"), std::string::npos) << log_;

    const char* withoutThem = "class treat race married nodegree;\n"
                              "psmodel treat(treated='1') = age race married nodegree re74;\n";
    EXPECT_EQ(run(std::string(withoutThem) + "assess var=(age re75);"), 3) << log_;
    EXPECT_NE(log_.find("ASSESS VAR= uses the variable re75, but the data set d.csv has the value "
                        "\"1e400\" at line 30 (column 9)"),
              std::string::npos)
        << log_;
    EXPECT_EQ(run(std::string(withoutThem) + "effect outcome=re78;"), 3) << log_;
    EXPECT_NE(log_.find("EFFECT OUTCOME= uses the variable re78, but the data set d.csv has the "
                        "value \"-Inf\" at line 20 (column 10)"),
              std::string::npos)
        << log_;
    // Variables the step does not compute with may hold anything.
    EXPECT_EQ(run(withoutThem), 0) << log_;
    EXPECT_EQ(log_.find("[900-513]"), std::string::npos) << log_;
}

TEST_F(DataFaults, AStrayTextCellIsNamedForEveryNumericUse) {
    writeData([](int n, std::vector<std::string>& c) {
        if (n == 300) c[3] = "abc";
        if (n == 301) c[9] = "n/a";
    });
    const char* model = "class treat race married nodegree;\n"
                        "psmodel treat(treated='1') = age race married nodegree re74;\n";
    for (const auto& [body, user, cell] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"assess var=(age educ);", "ASSESS VAR=", "\"abc\" on line 300 (column 4)"},
             {"effect outcome=re78;", "EFFECT OUTCOME=", "\"n/a\" on line 301 (column 10)"},
             {"effect outcome=re75 / covariates=(educ);",
              "EFFECT COVARIATES=", "\"abc\" on line 300 (column 4)"}}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(run(std::string(model) + body), 3) << log_;
        EXPECT_NE(log_.find(user + " uses the variable"), std::string::npos) << log_;
        EXPECT_NE(log_.find(cell), std::string::npos) << log_;
        EXPECT_NE(log_.find("[900-502]"), std::string::npos) << log_;
    }
}

TEST_F(DataFaults, ACharacterFrequencyWeightOrScoreIsRefusedByName) {
    writeData([](int, std::vector<std::string>&) {});
    const std::string model = "class treat race married nodegree;\n"
                              "psmodel treat(treated='1') = age educ re74";
    EXPECT_EQ(run(model + ";\nfreq race;"), 3) << log_;
    EXPECT_NE(log_.find("ERROR: FREQ lists the character variable race"), std::string::npos)
        << log_;
    EXPECT_EQ(run(model + " / weight=race;"), 3) << log_;
    EXPECT_NE(log_.find("ERROR: PSMODEL WEIGHT= lists the character variable race"),
              std::string::npos)
        << log_;
    EXPECT_EQ(run("class treat;\npsdata treatvar=treat(treated='1') ps=race;"), 3) << log_;
    EXPECT_NE(log_.find("ERROR: PSDATA PS= lists the character variable race"), std::string::npos)
        << log_;
}

TEST_F(DataFaults, AModelThatCannotBeFittedEndsTheGroupWithADataStatus) {
    // Every treated unit weighs 0: only the controls have weight, so no model can be fitted.
    writeData(
        [](int n, std::vector<std::string>& c) {
            if (n > 1) c.push_back(c[1] == "1" ? "0" : "1");
        },
        "w");
    const int rc = run("class treat married;\npsmodel treat(treated='1') = age married / "
                       "weight=w;\noutput out='o.csv';");
    EXPECT_NE(log_.find("[1049-224]"), std::string::npos) << log_;
    EXPECT_NE(lastLine(log_).find("with status 112"), std::string::npos) << log_;
    EXPECT_EQ(rc, 2) << log_;
}

TEST_F(DataFaults, FullMatchingSaysWhenTreatedUnitsStayUnmatched) {
    // A treated unit far above every control's score: a narrow caliper leaves it unmatched.
    writeData(
        [](int n, std::vector<std::string>& c) {
            if (n == 1) return;
            const bool treated = c[1] == "1";
            const int id = std::stoi(c[0]);
            c.push_back(treated ? (id == 1 ? "0.95" : "0.4") : (id % 2 ? "0.38" : "0.42"));
        },
        "ps");
    for (const char* method : {"full(kmax=3)", "varratio(kmin=1 kmax=2)", "optimal(k=1)"}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(run(std::string("class treat;\npsdata treatvar=treat(treated='1') ps=ps;\n"
                                  "match method=") +
                      method + " distance=ps caliper(mult=one)=0.05;"),
                  0)
            << log_;
        EXPECT_NE(log_.find("WARNING: Some treated units in the support region have no admissible "
                            "control; they stay unmatched. [1049-250]"),
                  std::string::npos)
            << log_;
        EXPECT_NE(lastLine(log_).find("with status 4"), std::string::npos) << log_;
    }
}

TEST_F(DataFaults, TreatedLevelsThatDifferOnlyInCaseAreChosenExactly) {
    // tc is "A" for the trained and "a" for the controls; TREATED='a' names the controls.
    writeData(
        [](int n, std::vector<std::string>& c) {
            if (n > 1) c.push_back(c[1] == "1" ? "A" : "a");
        },
        "tc");
    for (const auto& [level, treated] :
         std::vector<std::pair<std::string, std::string>>{{"a", "429"}, {"A", "185"}}) {
        SCOPED_TRACE(level);
        EXPECT_EQ(run("class tc married;\npsmodel tc(treated='" + level + "') = age married;"), 0)
            << log_;
        std::istringstream lst(listing_);
        std::string line, count;
        while (std::getline(lst, line))
            if (line.rfind("Number of Treated Observations ", 0) == 0 &&
                line.find("Region") == std::string::npos)
                count = line.substr(line.find_last_of(' ') + 1);
        EXPECT_EQ(count, treated) << listing_;
    }
}

TEST_F(DataFaults, ARatioOfARiskOfZeroSaysWhyItIsMissing) {
    // y is 0 for every treated unit: its risk ratio and odds ratio have no value.
    writeData(
        [](int n, std::vector<std::string>& c) {
            if (n > 1) c.push_back(c[1] == "1" ? "0" : std::to_string(std::stoi(c[0]) % 2));
        },
        "y");
    for (const char* measure : {"ratio", "oddsratio"}) {
        SCOPED_TRACE(measure);
        EXPECT_EQ(
            run(std::string(kModel) + "psweight;\neffect outcome=y / measure=" + measure + ";"), 0)
            << log_;
        EXPECT_NE(log_.find("WARNING: No effect is estimated for y in this BY group: every treated "
                            "outcome is 0, so the"),
                  std::string::npos)
            << log_;
        EXPECT_NE(lastLine(log_).find("with status 4"), std::string::npos) << log_;
    }
    EXPECT_EQ(run(std::string(kModel) + "psweight;\neffect outcome=y;"), 0) << log_;
    EXPECT_EQ(log_.find("[1049-953]"), std::string::npos) << log_;
}

TEST_F(DataFaults, ATreatmentWithoutTwoLevelsSaysWhy) {
    // An empty column in the model leaves every observation out: no level of treat remains.
    writeData([](int n, std::vector<std::string>& c) { c.push_back(n == 1 ? "gone" : ""); }, "");
    EXPECT_EQ(run("class treat married;\npsmodel treat(treated='1') = age married gone;"), 2)
        << log_;
    EXPECT_NE(log_.find("treat has 0 levels in this BY group (none: no observation of the BY "
                        "group could be used)"),
              std::string::npos)
        << log_;
    // Only treated units: one level, in the singular.
    writeData([](int, std::vector<std::string>&) {});
    std::ifstream in(dir / "d.csv");
    std::string text, line;
    for (int n = 0; std::getline(in, line); ++n)
        if (n == 0 || line.find(",1,") == line.find(',')) text += line + "\n";
    in.close();
    std::ofstream(dir / "d.csv") << text;
    EXPECT_EQ(run("class treat married;\npsmodel treat(treated='1') = age married;"), 2) << log_;
    EXPECT_NE(log_.find("treat has 1 level in this BY group ('1')"), std::string::npos) << log_;
}

TEST_F(DataFaults, NegativeOrMissingWeightsAreNotedAndZeroOnesAreNot) {
    // w: 0 on line 5, -1 on lines 7 and 9, empty on line 11; f likewise.
    writeData(
        [](int n, std::vector<std::string>& c) {
            if (n == 1) return c.push_back("w"), c.push_back("f");
            const std::string v = n == 5 ? "0" : n == 7 || n == 9 ? "-1" : n == 11 ? "" : "1";
            c.push_back(v);
            c.push_back(v);
        },
        "");
    const std::string model = "class treat married;\npsmodel treat(treated='1') = age married";
    EXPECT_EQ(run(model + " / weight=w;"), 0) << log_;
    EXPECT_NE(log_.find("NOTE: 3 observation(s) of this BY group have a negative or missing value "
                        "of the WEIGHT= variable w; the first is observation 6 of the group."),
              std::string::npos)
        << log_;
    EXPECT_EQ(run(model + ";\nfreq f;"), 0) << log_;
    EXPECT_NE(log_.find("NOTE: 3 observation(s) of this BY group have a negative or missing value "
                        "of the FREQ variable f; the first is observation 6 of the group."),
              std::string::npos)
        << log_;
    // Zero weights only: a user's own way to keep rows out, no note.
    writeData(
        [](int n, std::vector<std::string>& c) {
            c.push_back(n == 1 ? "w" : n < 40 ? "0" : "1");
        },
        "");
    EXPECT_EQ(run(model + " / weight=w;"), 0) << log_;
    EXPECT_EQ(log_.find("[1049-975]"), std::string::npos) << log_;
}

} // namespace

// Rows a user adds with weight 0 change nothing in the analysis when they lack a value it
// needs: the job-training data with such rows gives every table and every output row of the
// data without them. Rows left out for missing values are counted in the log, and DataInfo
// names the treated level however it was chosen.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using velloc::e2e::shell;
using velloc::e2e::slurp;

using Row = std::vector<std::string>;

// Comma-separated cells of one line (the job-training data has no quoted cells).
Row cells(const std::string& line) {
    Row out;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, ','))
        out.push_back(c);
    if (!line.empty() && line.back() == ',') out.push_back("");
    return out;
}

std::string joined(const Row& r) {
    std::string s;
    for (std::size_t i = 0; i < r.size(); ++i)
        s += (i ? "," : "") + r[i];
    return s;
}

// The job-training data (id,treat,age,educ,race,married,nodegree,re74,re75,re78).
std::vector<Row> lalonde() {
    std::ifstream in(std::string(VELLOC_TEST_DATA) + "/lalonde/lalonde.csv");
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        rows.push_back(cells(line));
    }
    return rows;
}

const char* kModel = "  class treat race married nodegree;\n"
                     "  psmodel treat(treated='1') = age educ race married nodegree re74 re75 "
                     "/ weight=w;\n";

class DataRows : public ::testing::Test {
  protected:
    void SetUp() override { dir = velloc::e2e::freshTestDir("velloc_datarows_"); }
    void TearDown() override { fs::remove_all(dir); }

    // Writes d.csv in folder sub: the job-training data with w = 1, then the extra rows.
    void writeData(const std::string& sub, const std::vector<Row>& extra) {
        fs::create_directories(dir / sub);
        std::ofstream out(dir / sub / "d.csv", std::ios::binary);
        const auto rows = lalonde();
        out << joined(rows[0]) << ",w\n";
        for (std::size_t i = 1; i < rows.size(); ++i)
            out << joined(rows[i]) << ",1\n";
        for (const Row& r : extra)
            out << joined(r) << ",0\n";
    }
    // Runs the step in folder sub with its tables in sub/t; returns the exit status.
    int run(const std::string& sub, const std::string& body) {
        fs::remove_all(dir / sub / "t");
        std::ofstream(dir / sub / "p.vlc")
            << "proc velloc data='d.csv';\n"
            << kModel << body << "\n  output out='o.csv' ps=ps attwgt=aw;\nrun;\n";
        return shell("cd '" + (dir / sub).string() +
                     "' && '" VELLOC_BINARY
                     "' --no-graphics --log run.log --tables-dir t p.vlc > out.lst 2> err.txt");
    }
    std::string log(const std::string& sub) { return slurp(dir / sub / "run.log"); }
    std::map<std::string, std::vector<Row>> tables(const std::string& sub) {
        std::map<std::string, std::vector<Row>> out;
        for (const auto& e : fs::directory_iterator(dir / sub / "t")) {
            std::ifstream in(e.path());
            std::string line;
            while (std::getline(in, line))
                out[e.path().filename().string()].push_back(cells(line));
        }
        return out;
    }
    // The output data set rows by id.
    std::map<std::string, Row> outRows(const std::string& sub) {
        std::map<std::string, Row> out;
        std::ifstream in(dir / sub / "o.csv");
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            Row r = cells(line);
            out[r[0]] = r;
        }
        return out;
    }
    // Runs the step on the plain data and on the data with the extra rows, and checks that
    // every table and every output row of the plain data come out the same.
    void expectSameAsWithout(const std::vector<Row>& extra, const std::string& body) {
        SCOPED_TRACE(body);
        writeData("plain", {});
        writeData("extra", extra);
        ASSERT_EQ(run("plain", body), 0) << log("plain");
        ASSERT_EQ(run("extra", body), 0) << log("extra");
        EXPECT_EQ(log("extra").find("[1049-301]"), std::string::npos) << log("extra");
        const auto want = tables("plain"), got = tables("extra");
        ASSERT_FALSE(want.empty());
        for (const auto& [name, rows] : want) {
            ASSERT_TRUE(got.count(name)) << name;
            EXPECT_EQ(got.at(name), rows) << name;
        }
        const auto plainOut = outRows("plain"), extraOut = outRows("extra");
        EXPECT_EQ(extraOut.size(), plainOut.size() + extra.size());
        for (const auto& [id, row] : plainOut) {
            ASSERT_TRUE(extraOut.count(id)) << id;
            EXPECT_EQ(extraOut.at(id), row) << "id " << id;
        }
        // The extra rows keep their place in the output with no weight. A row that lacks only
        // its treatment is scored: the same covariates as the row it copies, the same score.
        // Any other has no score either.
        for (const Row& r : extra) {
            ASSERT_TRUE(extraOut.count(r[0])) << r[0];
            const Row& o = extraOut.at(r[0]);
            ASSERT_GE(o.size(), 13u); // ten data columns, w, then ps and aw
            const auto from = scoredFrom.find(r[0]);
            EXPECT_EQ(o[11], from == scoredFrom.end() ? "" : plainOut.at(from->second)[11])
                << "score of id " << r[0];
            for (std::size_t c = 12; c < o.size(); ++c)
                EXPECT_EQ(o[c], "") << "column " << c << " of id " << r[0];
        }
    }
    // The cell of a table row whose first cells are key, in the named column.
    static std::string cell(const std::vector<Row>& t, const Row& key, const std::string& col) {
        std::size_t c = 0;
        while (c < t[0].size() && t[0][c] != col)
            ++c;
        for (std::size_t i = 1; i < t.size(); ++i)
            if (std::equal(key.begin(), key.end(), t[i].begin()) && c < t[i].size()) return t[i][c];
        ADD_FAILURE() << "no row " << joined(key) << " column " << col;
        return "";
    }

    fs::path dir;
    std::map<std::string, std::string> scoredFrom; // extra row id -> id of the row it copies
};

// Copies of the first n rows that pass the test, with new ids from 9001 and one change.
std::vector<Row> copies(std::size_t n, const std::function<bool(const Row&)>& pick,
                        const std::function<void(Row&)>& change) {
    std::vector<Row> out;
    const auto rows = lalonde();
    for (std::size_t i = 1; i < rows.size() && out.size() < n; ++i) {
        if (!pick(rows[i])) continue;
        Row r = rows[i];
        r[0] = std::to_string(9001 + out.size());
        change(r);
        out.push_back(r);
    }
    return out;
}

const auto kTreated = [](const Row& r) { return r[1] == "1"; };
const auto kAny = [](const Row&) { return true; };

TEST_F(DataRows, ZeroWeightRowsWithoutTreatmentAreInNoGroup) {
    // 40 copies of treated units with the treatment blanked: as controls they would be the
    // best matches of the treated units they copy.
    const auto extra = copies(40, kTreated, [](Row& r) { r[1] = ""; });
    std::vector<std::string> sourceIds;
    for (const Row& r : lalonde())
        if (kTreated(r) && sourceIds.size() < extra.size()) sourceIds.push_back(r[0]);
    for (std::size_t i = 0; i < extra.size(); ++i)
        scoredFrom[extra[i][0]] = sourceIds[i];
    const std::string assess = "  assess var=(age educ) / varinfo;";
    expectSameAsWithout(extra, assess);
    // The control group of the job-training data: 429 men, ages summing to 12025 (R:
    // mean(lalonde$age[lalonde$treat == 0]) = 28.0303).
    const auto t = tables("extra");
    EXPECT_EQ(cell(t.at("VarInfo.csv"), {"age", "All"}, "ControlN"), "429");
    EXPECT_NEAR(std::stod(cell(t.at("VarInfo.csv"), {"age", "All"}, "ControlMean")),
                12025.0 / 429.0, 1e-12);
    EXPECT_EQ(cell(t.at("VarInfo.csv"), {"age", "Region"}, "ControlN"), "429");
    EXPECT_EQ(
        cell(t.at("DataInfo.csv"), {"Number of Control Observations in Support Region"}, "Value"),
        "429");
    expectSameAsWithout(extra, "  match method=greedy(k=1) caliper=0.25;" + assess);
    expectSameAsWithout(extra, "  match method=optimal(k=1) caliper=.;" + assess);
    expectSameAsWithout(extra, "  strata nstrata=5;" + assess);
}

TEST_F(DataRows, ZeroWeightRowsWithAMissingCovariateHaveNoScoreAndChangeNothing) {
    // 40 copies of any rows with educ blank: their score is missing.
    const auto extra = copies(40, kAny, [](Row& r) { r[3] = ""; });
    const std::string assess = "  assess var=(age educ re74) / varinfo;";
    expectSameAsWithout(extra, "  psweight weight=atewgt;" + assess);
    expectSameAsWithout(extra, "  match method=greedy(k=1) caliper=0.25;" + assess);
    expectSameAsWithout(extra, "  match distance=ps method=greedy(k=2 order=descending);" + assess);
    expectSameAsWithout(extra, "  match method=optimal(k=1) caliper=.;" + assess);
    expectSameAsWithout(extra, "  match method=full(kmax=3) caliper=.;" + assess);
    expectSameAsWithout(extra, "  match distance=mah(var=(age re74) lps) method=greedy;" + assess);
    expectSameAsWithout(extra, "  strata nstrata=5;" + assess);
}

TEST_F(DataRows, RowsLeftOutForMissingValuesAreNotedWithTheVariables) {
    // Every seventh row (ids 1, 8, ..., 610: ceil(614 / 7) = 88 rows) loses educ.
    fs::create_directories(dir / "m");
    auto rows = lalonde();
    {
        std::ofstream out(dir / "m" / "d.csv", std::ios::binary);
        out << joined(rows[0]) << ",w\n";
        for (std::size_t i = 1; i < rows.size(); ++i) {
            Row r = rows[i];
            if ((i - 1) % 7 == 0) r[3] = "";
            out << joined(r) << ",1\n";
        }
    }
    ASSERT_EQ(run("m", ""), 0) << log("m");
    EXPECT_NE(log("m").find("NOTE: 88 observations of this BY group were not used because of "
                            "missing values in educ. [1049-970]"),
              std::string::npos)
        << log("m");
    const auto t = tables("m");
    EXPECT_EQ(
        std::stoi(cell(t.at("DataInfo.csv"), {"Number of Treated Observations"}, "Value")) +
            std::stoi(cell(t.at("DataInfo.csv"), {"Number of Control Observations"}, "Value")),
        614 - 88);
    // Without TREATED= the first level, 0, is treated, and DataInfo says so.
    std::ofstream(dir / "m" / "q.vlc")
        << "proc velloc data='d.csv';\n  class treat;\n  psmodel treat = age re74;\nrun;\n";
    ASSERT_EQ(shell("cd '" + (dir / "m").string() +
                    "' && '" VELLOC_BINARY
                    "' --no-graphics --log q.log --tables-dir q q.vlc > q.lst 2> q.err"),
              0);
    std::vector<Row> info;
    {
        std::ifstream in(dir / "m" / "q" / "DataInfo.csv");
        std::string line;
        while (std::getline(in, line))
            info.push_back(cells(line));
    }
    EXPECT_EQ(cell(info, {"Treated Group"}, "Value"), "0");
}

} // namespace

namespace {

TEST(DataRowsBy, RowsOfNoGroupKeepTheirPlaceInEveryByGroup) {
    // Rows 3, 7 and 10 have weight 0 and lack the treatment or x: each BY group's output rows
    // are those of the data without them, with the extra rows in their places. (Their x
    // values lie inside the range of x, which sets the scale of the fit.)
    const fs::path dir = velloc::e2e::freshTestDir("velloc_datarows_by_");
    const std::string rows[] = {"1,1,1,1,1",    "1,2,0,2,1", "1,3,,2,0",   "1,4,1,3,1",
                                "1,5,0,2.5,1",  "1,6,1,2,1", "1,7,0,.,0",  "1,8,0,4,1",
                                "2,9,1,1,1",    "2,10,,2,0", "2,11,0,2,1", "2,12,1,3,1",
                                "2,13,0,1.5,1", "2,14,0,4,1"};
    auto runOn = [&](const std::string& name, bool extra) {
        std::ofstream out(dir / (name + ".csv"));
        out << "g,id,t,x,w\n";
        for (const std::string& r : rows)
            if (extra || r.back() != '0') out << r << "\n";
        out.close();
        std::ofstream(dir / (name + ".vlc"))
            << "proc velloc data='" << name << ".csv';\n  by g; class t;\n"
            << "  psmodel t(treated='1') = x / weight=w;\n"
            << "  output out='" << name << "_o.csv' ps=ps attwgt=aw;\nrun;\n";
        EXPECT_EQ(shell("cd '" + dir.string() + "' && '" VELLOC_BINARY "' --no-graphics " + name +
                        ".vlc > " + name + ".lst 2> " + name + ".log"),
                  0);
        std::map<std::string, std::string> byId;
        std::ifstream in(dir / (name + "_o.csv"));
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            Row r = cells(line);
            byId[r[1]] = line;
        }
        return byId;
    };
    const auto plain = runOn("plain", false), extra = runOn("extra", true);
    EXPECT_EQ(plain.size(), 11u);
    EXPECT_EQ(extra.size(), 14u);
    for (const auto& [id, line] : plain)
        EXPECT_EQ(extra.at(id), line);
    // Rows 3 and 10 lack only the treatment: scored, as the rows of their BY group with the
    // same x (ids 2 and 11), without a weight; row 7 lacks x, so it has no score either.
    const auto psOf = [&](const std::string& id) { return cells(plain.at(id))[5]; };
    ASSERT_FALSE(psOf("2").empty());
    EXPECT_EQ(extra.at("3"), "1,3,,2,0," + psOf("2") + ",");
    EXPECT_EQ(extra.at("7"), "1,7,0,,0,,");
    EXPECT_EQ(extra.at("10"), "2,10,,2,0," + psOf("11") + ",");
    fs::remove_all(dir);
}

} // namespace

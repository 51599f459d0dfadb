// Per-level rows of a CLASS variable with three levels (race) on the job-training data, for ATT
// weights, strata and greedy matching, in two BY groups: copy 1 has every man (race: black,
// hispan, white), copy 2 only the non-Hispanic ones (race: black, white, a two-level variable).
// Every number of the CLASS rows of VarInfo, StdDiff, StrataVarInfo, StrataStdDiff and ECDFDiff,
// and the BalanceSummary, is compared with the fixture that tests/reference/levels_reference.py
// computed with numpy from the definitions (tests/data/levels/expected.csv).
#include <gtest/gtest.h>

#include "../e2e/cli_util.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path kData = fs::path(VELLOC_SOURCE_DIR) / "tests" / "data" / "levels";

using velloc::e2e::readCsv;
using velloc::e2e::Record;

struct Study {
    fs::path tables;
    std::string log;
};

Study runStudy(const std::string& study) {
    fs::path work = fs::temp_directory_path() / ("velloc_levels_" + study);
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy_file(kData / "lalonde_race.csv", work / "lalonde_race.csv");
    std::string cmd = "cd '" + work.string() +
                      "' && '" VELLOC_BINARY
                      "' --no-graphics --listing /dev/null --log velloc.log --tables-dir tables '" +
                      (kData / (study + ".vlc")).string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "see " << (work / "velloc.log");
    return {work / "tables", velloc::e2e::slurp(work / "velloc.log")};
}

bool stratumTable(const std::string& table) {
    return table == "StrataVarInfo" || table == "StrataStdDiff";
}

// The key of a table row: BY group, set (or stratum), and for row tables variable and level.
Record keyOf(const std::string& table, const Record& e) {
    Record key{{"copy", e.at("copy")}};
    key[stratumTable(table) ? "StratumIndex" : "Obs"] = e.at("obs");
    if (table != "BalanceSummary") {
        key["Variable"] = e.at("variable");
        key["Level"] = e.at("level");
    }
    return key;
}

const Record* find(const std::vector<Record>& t, const Record& want) {
    const Record* hit = nullptr;
    for (const Record& r : t) {
        bool ok = true;
        for (const auto& [k, v] : want)
            if (r.count(k) == 0 || r.at(k) != v) ok = false;
        if (!ok) continue;
        EXPECT_EQ(hit, nullptr) << "two rows match";
        hit = &r;
    }
    return hit;
}

// The levels of a variable in table order, per BY group.
std::map<std::string, std::vector<std::string>> levelOrder(const std::vector<Record>& rows,
                                                           const std::string& copyColumn,
                                                           const std::string& variable,
                                                           const std::string& levelColumn) {
    std::map<std::string, std::vector<std::string>> out;
    for (const Record& r : rows) {
        if (r.at(variable) != "race" && r.at(variable) != "married") continue;
        auto& v = out[r.at(copyColumn) + " " + r.at(variable)];
        if (std::find(v.begin(), v.end(), r.at(levelColumn)) == v.end())
            v.push_back(r.at(levelColumn));
    }
    return out;
}

void checkStudy(const std::string& study, const std::vector<std::string>& tables, int status) {
    const Study run = runStudy(study);
    // Notes only: the step's status is what the adjustment itself raised.
    EXPECT_NE(run.log.find("finished 1 procedure step(s) with status " + std::to_string(status)),
              std::string::npos)
        << run.log;
    // The note once per BY group in which race has more than two levels, and no warning.
    std::size_t notes = 0;
    for (std::size_t at = 0; (at = run.log.find("[1049-973]", at)) != std::string::npos; ++at)
        ++notes;
    EXPECT_EQ(notes, 1u) << run.log;
    EXPECT_NE(run.log.find("The CLASS variable race has 3 levels in this BY group; it is assessed "
                           "as one indicator row per level."),
              std::string::npos);
    EXPECT_EQ(run.log.find("[1049-226]"), std::string::npos);

    std::vector<Record> expected;
    for (const Record& e : readCsv(kData / "expected.csv"))
        if (e.at("study") == study) expected.push_back(e);
    int checked = 0;
    for (const std::string& table : tables) {
        const std::vector<Record> got = readCsv(run.tables / (table + ".csv"));
        ASSERT_FALSE(got.empty()) << table;
        std::set<Record> wantKeys;
        for (const Record& e : expected) {
            if (e.at("table") != table) continue;
            const Record key = keyOf(table, e);
            wantKeys.insert(key);
            const Record* r = find(got, key);
            ASSERT_NE(r, nullptr) << table << " lacks " << e.at("obs") << " " << e.at("variable")
                                  << " " << e.at("level") << " copy=" << e.at("copy");
            const std::string& stat = e.at("stat");
            ASSERT_TRUE(r->count(stat)) << table << " lacks column " << stat;
            const std::string where = study + " " + table + " " + stat + " " + e.at("obs") + " " +
                                      e.at("variable") + " " + e.at("level") +
                                      " copy=" + e.at("copy");
            const double want = std::stod(e.at("value"));
            if (std::isnan(want)) {
                EXPECT_EQ(r->at(stat), "") << where;
            } else {
                ASSERT_NE(r->at(stat), "") << where;
                EXPECT_NEAR(std::stod(r->at(stat)), want, 1e-10 * std::max(1.0, std::fabs(want)))
                    << where;
            }
            if (table == "BalanceSummary" && stat == "MaxAbsStdDiff") {
                EXPECT_EQ(r->at("MaxStdDiffVariable"), e.at("variable")) << where;
            }
            if (table == "BalanceSummary" && stat == "MaxECDF") {
                EXPECT_EQ(r->at("MaxECDFVariable"), e.at("variable")) << where;
            }
            ++checked;
        }
        if (table == "BalanceSummary") continue;
        // No CLASS row beyond the reference's, and the levels in level order.
        std::vector<Record> classRows, wantRows;
        for (const Record& r : got)
            if (!r.at("Level").empty()) classRows.push_back(r);
        EXPECT_EQ(classRows.size(), wantKeys.size()) << table;
        for (const Record& e : expected)
            if (e.at("table") == table) wantRows.push_back(e);
        EXPECT_EQ(levelOrder(classRows, "copy", "Variable", "Level"),
                  levelOrder(wantRows, "copy", "variable", "level"))
            << table;
    }
    EXPECT_GT(checked, 150) << "the fixture has few rows for " << study;
}

TEST(LevelsReference, Weighting) {
    checkStudy("weighting", {"VarInfo", "StdDiff", "ECDFDiff", "BalanceSummary"}, 0);
}

TEST(LevelsReference, Strata) {
    checkStudy(
        "strata",
        {"VarInfo", "StdDiff", "StrataVarInfo", "StrataStdDiff", "ECDFDiff", "BalanceSummary"}, 0);
}

TEST(LevelsReference, MatchingEveryLevel) {
    // Greedy matching leaves some treated men unmatched (warning 250): status 4.
    checkStudy("matching", {"VarInfo", "StdDiff", "ECDFDiff", "BalanceSummary"}, 4);
}

// A CLASS variable with one level in a BY group keeps its row: proportion 1 in both groups, a
// difference of 0 and no standardized difference or variance ratio (both variances are 0).
TEST(LevelsReference, OneLevelKeepsItsRow) {
    fs::path work = fs::temp_directory_path() / "velloc_levels_one";
    fs::remove_all(work);
    fs::create_directories(work);
    std::ofstream(work / "d.csv") << "t,u,x\n1,z,1\n1,z,5\n1,z,3\n0,z,4\n0,z,2\n0,z,6\n";
    std::ofstream(work / "p.vlc") << "proc velloc data='d.csv'; class t u; "
                                     "psmodel t(treated='1') = x; assess var=(u) / varinfo; run;";
    std::string cmd = "cd '" + work.string() +
                      "' && '" VELLOC_BINARY
                      "' --no-graphics --listing /dev/null --log velloc.log --tables-dir tables "
                      "p.vlc";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string log = velloc::e2e::slurp(work / "velloc.log");
    EXPECT_NE(log.find("The CLASS variable u has one level ('z') in this BY group"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("with status 0"), std::string::npos) << log;
    const std::vector<Record> sd = readCsv(work / "tables" / "StdDiff.csv");
    const std::vector<Record> vi = readCsv(work / "tables" / "VarInfo.csv");
    const Record* s = find(sd, {{"Variable", "u"}, {"Level", "z"}, {"Obs", "All"}});
    const Record* v = find(vi, {{"Variable", "u"}, {"Level", "z"}, {"Obs", "All"}});
    ASSERT_NE(s, nullptr);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::stod(v->at("TreatedMean")), 1.0);
    EXPECT_EQ(std::stod(v->at("ControlMean")), 1.0);
    EXPECT_EQ(std::stod(s->at("MeanDiff")), 0.0);
    EXPECT_EQ(s->at("StdDiff"), "");
    EXPECT_EQ(s->at("VarianceRatio"), "");
}

} // namespace

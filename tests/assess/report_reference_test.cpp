// ECDFDiff, EffSampleSize and BalanceSummary on the job-training data, for weighting, strata
// and matching with BY groups, frequencies and both levels of a CLASS variable, against the
// fixture that tests/reference/balance_report_reference.py computed with numpy from the
// definitions (tests/data/balance/expected.csv).
#include <gtest/gtest.h>

#include "../e2e/cli_util.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path kData = fs::path(VELLOC_SOURCE_DIR) / "tests" / "data" / "balance";

using velloc::e2e::readCsv;
using velloc::e2e::Record;

fs::path runStudy(const std::string& study) {
    fs::path work = fs::temp_directory_path() / ("velloc_report_" + study);
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy_file(kData / "lalonde_ps.csv", work / "lalonde_ps.csv");
    std::string cmd = "cd '" + work.string() +
                      "' && '" VELLOC_BINARY
                      "' --no-graphics --listing /dev/null --log velloc.log --tables-dir tables '" +
                      (kData / (study + ".vlc")).string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "see " << (work / "velloc.log");
    return work / "tables";
}

// The table row of a BY group, set, variable and level (the last two only where given).
const Record* find(const std::vector<Record>& t, const Record& want) {
    for (const Record& r : t) {
        bool ok = true;
        for (const auto& [k, v] : want)
            if (r.count(k) == 0 || r.at(k) != v) ok = false;
        if (ok) return &r;
    }
    return nullptr;
}

void checkStudy(const std::string& study) {
    const fs::path tables = runStudy(study);
    std::map<std::string, std::vector<Record>> got;
    for (const char* name : {"ECDFDiff", "EffSampleSize", "BalanceSummary"})
        got[name] = readCsv(tables / (std::string(name) + ".csv"));
    int checked = 0;
    for (const Record& e : readCsv(kData / "expected.csv")) {
        if (e.at("study") != study) continue;
        const std::string& table = e.at("table");
        Record key{{"nodegree", e.at("nodegree")}, {"Obs", e.at("obs")}};
        if (table == "ECDFDiff") {
            key["Variable"] = e.at("variable");
            key["Level"] = e.at("level");
        }
        const Record* r = find(got[table], key);
        ASSERT_NE(r, nullptr) << table << " lacks " << e.at("obs") << " " << e.at("variable") << " "
                              << e.at("level") << " nodegree=" << e.at("nodegree");
        const std::string& stat = e.at("stat");
        ASSERT_TRUE(r->count(stat)) << table << " lacks column " << stat;
        const double want = std::stod(e.at("value"));
        const double have = std::stod(r->at(stat));
        EXPECT_NEAR(have, want, 1e-9 * std::max(1.0, std::fabs(want)))
            << study << " " << table << " " << stat << " " << e.at("obs") << " " << e.at("variable")
            << " " << e.at("level") << " nodegree=" << e.at("nodegree");
        if (table == "BalanceSummary" && stat == "MaxAbsStdDiff") {
            EXPECT_EQ(r->at("MaxStdDiffVariable"), e.at("variable")) << e.at("obs");
        }
        if (table == "BalanceSummary" && stat == "MaxECDF") {
            EXPECT_EQ(r->at("MaxECDFVariable"), e.at("variable")) << e.at("obs");
        }
        ++checked;
    }
    EXPECT_GT(checked, 100) << "the fixture has no rows for " << study;
}

TEST(BalanceReportReference, Weighting) {
    checkStudy("weighting");
}

TEST(BalanceReportReference, Strata) {
    checkStudy("strata");
}

TEST(BalanceReportReference, Matching) {
    checkStudy("matching");
}

} // namespace

// What a user reads back from a run: the listing tables hold only real observations, the table
// CSV files keep blocks and steps apart, text cut to fit stays valid UTF-8, and switching plots
// off twice over is not worth a warning.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using velloc::e2e::shell;
using velloc::e2e::slurp;

// RFC 4180 as Python's csv module reads it: quoted fields may hold commas, doubled quotes and
// line breaks.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(cell);
            cell.clear();
        } else if (c == '\n') {
            row.push_back(cell);
            rows.push_back(row);
            row.clear();
            cell.clear();
        } else if (c != '\r') {
            cell += c;
        }
    }
    return rows;
}

// A CSV file as records keyed by header name; a repeated header name is a failure.
struct Table {
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;
};

Table readTable(const fs::path& p) {
    Table t;
    auto rows = parseCsv(slurp(p));
    if (rows.empty()) {
        ADD_FAILURE() << "empty or missing " << p;
        return t;
    }
    t.header = rows[0];
    EXPECT_EQ(std::set<std::string>(t.header.begin(), t.header.end()).size(), t.header.size())
        << "repeated column names in " << p;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), t.header.size()) << p << " row " << r;
        std::map<std::string, std::string> rec;
        for (std::size_t c = 0; c < t.header.size() && c < rows[r].size(); ++c)
            rec[t.header[c]] = rows[r][c];
        t.rows.push_back(rec);
    }
    return t;
}

// Valid UTF-8: no stray continuation bytes, no truncated or overlong sequences.
bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2)) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

class TablesCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = velloc::e2e::freshTestDir("velloc_tables_");
        // Five treated units and three controls; the id equals the observation number, so an
        // id in the wrong block shows against its Obs column.
        std::ofstream(dir / "d.csv") << "id,treat,x\n1,1,0.5\n2,0,0.7\n3,1,0.2\n4,0,0.9\n"
                                        "5,1,0.4\n6,0,0.3\n7,1,0.8\n8,1,0.6\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(const std::string& program, const std::string& flags = "") {
        std::ofstream(dir / "p.vlc") << program;
        return shell("cd '" + dir.string() + "' && '" VELLOC_BINARY "' --log run.log " + flags +
                     " p.vlc > out.lst 2> err.txt");
    }
    std::string log() { return slurp(dir / "run.log"); }
    fs::path dir;
};

const char* kStep = "proc velloc data='d.csv' region=allobs;\n"
                    "  class treat;\n"
                    "  id id;\n"
                    "  psmodel treat(treated='1') = x;\n";

TEST_F(TablesCli, ListingsShowOnlyTheObservationsThatExist) {
    ASSERT_EQ(run(std::string(kStep) + "  psweight weight=atewgt nlargestwgt=6;\nrun;\n" + kStep +
                      "  match method=full(kmax=3 kmaxtreated=3) caliper=. nmatchmost=6;\nrun;\n",
                  "--tables-dir t"),
              0)
        << log();
    // Six asked for, five treated and three controls: five rows, the control block blank in
    // the last two.
    Table w = readTable(dir / "t" / "LargestWgtObs.csv");
    ASSERT_EQ(w.rows.size(), 5u);
    std::set<std::string> controls;
    for (const auto& r : w.rows) {
        EXPECT_NE(r.at("TreatedObs"), "-1");
        EXPECT_NE(r.at("TreatedObs"), "");
        if (r.at("ControlObs").empty()) {
            EXPECT_EQ(r.at("ControlWgt"), "");
            EXPECT_EQ(r.at("ControlScaledWgt"), "");
        } else {
            controls.insert(r.at("ControlObs"));
            EXPECT_GT(std::stod(r.at("ControlWgt")), 0.0);
        }
    }
    EXPECT_EQ(controls, (std::set<std::string>{"2", "4", "6"}));
    // Full matching places every unit: five treated and three controls with a count each.
    Table m = readTable(dir / "t" / "MatchMostObs.csv");
    ASSERT_EQ(m.rows.size(), 5u);
    std::size_t controlRows = 0, matchedTreated = 0;
    for (const auto& r : m.rows) {
        EXPECT_NE(r.at("TreatedObs"), "-1");
        EXPECT_EQ(r.at("MatchedControl"), "1");
        if (r.at("ControlObs").empty()) continue;
        EXPECT_NE(r.at("ControlObs"), "-1");
        ++controlRows;
        matchedTreated += std::stoul(r.at("MatchedTreated"));
    }
    EXPECT_EQ(controlRows, 3u);
    EXPECT_EQ(matchedTreated, 5u);
    const std::string listing = slurp(dir / "out.lst");
    EXPECT_EQ(listing.find(" -1 "), std::string::npos) << listing;
}

TEST_F(TablesCli, TableCsvKeepsIdBlocksAndStepsApart) {
    // Step 1 lists controls only (matching with replacement), step 2 both blocks (full
    // matching): the treated block of step 2 must not fill step 1's control columns.
    ASSERT_EQ(run(std::string(kStep) + "  match method=replace caliper=. nmatchmost=3;\nrun;\n" +
                      kStep +
                      "  match method=full(kmax=3 kmaxtreated=3) caliper=. nmatchmost=3;\n"
                      "run;\n",
                  "--tables-dir t"),
              0)
        << log();
    Table m = readTable(dir / "t" / "MatchMostObs.csv");
    ASSERT_FALSE(m.header.empty());
    EXPECT_EQ(m.header[0], "Step");
    std::map<std::string, int> perStep;
    for (const auto& r : m.rows) {
        ++perStep[r.at("Step")];
        EXPECT_EQ(r.at("Treated_id"), r.at("TreatedObs"));
        EXPECT_EQ(r.at("Control_id"), r.at("ControlObs"));
        if (r.at("Step") == "1") {
            EXPECT_EQ(r.at("TreatedObs"), "");
            EXPECT_NE(r.at("ControlObs"), "");
        }
    }
    // Only the controls that were used are listed in step 1; full matching uses all three.
    EXPECT_EQ(perStep.size(), 2u);
    EXPECT_GE(perStep["1"], 1);
    EXPECT_EQ(perStep["2"], 3);

    // One step: no Step column; the ID columns are named by block.
    ASSERT_EQ(run(std::string(kStep) + "  psweight weight=atewgt nlargestwgt=2;\nrun;\n",
                  "--tables-dir one"),
              0)
        << log();
    Table w = readTable(dir / "one" / "LargestWgtObs.csv");
    EXPECT_EQ(w.header, (std::vector<std::string>{"TreatedObs", "Treated_id", "TreatedWgt",
                                                  "TreatedScaledWgt", "ControlObs", "Control_id",
                                                  "ControlWgt", "ControlScaledWgt"}));
    ASSERT_EQ(w.rows.size(), 2u);
    for (const auto& r : w.rows) {
        EXPECT_EQ(r.at("Treated_id"), r.at("TreatedObs"));
        EXPECT_EQ(r.at("Control_id"), r.at("ControlObs"));
    }
}

TEST_F(TablesCli, NoPlotsWithGraphicsOffIsQuiet) {
    const std::string kStep = "proc velloc data='d.csv' region=allobs;\n  class treat;\n"
                              "  psmodel treat(treated='1') = x;\n";
    ASSERT_EQ(run(std::string(kStep) + "  assess var=(x) / plots=none;\nrun;\n", "--no-graphics"),
              0)
        << log();
    EXPECT_EQ(log().find("[210-1104]"), std::string::npos) << log();
    EXPECT_NE(log().find("with status 0."), std::string::npos) << log();
    // Plots that were asked for still earn the warning.
    EXPECT_EQ(
        run(std::string(kStep) + "  assess var=(x) / plots=boxplot;\nrun;\n", "--no-graphics"), 0);
    EXPECT_NE(log().find("[210-1104]"), std::string::npos) << log();
    EXPECT_NE(log().find("with status 4."), std::string::npos) << log();
}

// A label of 39 characters and an accented letter, cut to fit a 40-byte field, and two levels
// that differ only after their sixteenth byte, whose "é" straddles that byte.
TEST_F(TablesCli, CutTextStaysValidAndDistinct) {
    const std::string label = std::string(39, 'L') + "\xC3\xA9";
    const std::string one = "abcdefghijklmno\xC3\xA9-one", two = "abcdefghijklmno\xC3\xA9-two";
    std::ofstream data(dir / "u.csv");
    data << "treat,x,g\n";
    for (int i = 0; i < 40; ++i)
        data << (i % 2) << ',' << (i * 37 % 17) + (i % 2) * 3 << ','
             << ((i * 7 % 5) < 2 ? one : two) << '\n';
    data.close();
    std::ofstream(dir / "u.schema.json") << "{\"variables\": {\"x\": {\"label\": \"" << label
                                         << "\"}, \"g\": {\"label\": \"" << label << "\"}}}\n";
    ASSERT_EQ(run("proc velloc data='u.csv' region=allobs;\n"
                  "  class treat g;\n"
                  "  psmodel treat(treated='1') = x g;\n"
                  "  strata nstrata=2;\n"
                  "  assess lps var=(x g) / plots=(all);\n"
                  "run;\n",
                  "--html r.html --graphs-dir g --tables-dir t"),
              0)
        << log();
    std::set<std::string> families;
    for (const auto& e : fs::directory_iterator(dir / "g")) {
        const std::string f = e.path().string();
        const std::string stem = e.path().stem().string();
        families.insert(stem.substr(stem.find('_') + 1));
        EXPECT_TRUE(validUtf8(slurp(e.path()))) << f;
        EXPECT_EQ(shell("xmllint --noout '" + f + "' 2>/dev/null"), 0) << "not well-formed: " << f;
        EXPECT_EQ(shell("rsvg-convert '" + f + "' > /dev/null 2>&1"), 0) << "not drawable: " << f;
    }
    for (const char* family : {"BoxPlot", "CDFPlot", "CloudPlot", "BarChart"})
        EXPECT_EQ(families.count(family), 1u) << family;
    const std::string html = slurp(dir / "r.html");
    EXPECT_TRUE(validUtf8(html));
    EXPECT_NE(html.find(std::string(39, 'L') + "<"), std::string::npos)
        << "the label is cut before the accented letter";
    // The bar chart's data tell the two levels apart.
    Table bars = readTable(dir / "t" / "BarChart.csv");
    std::set<std::string> levels;
    for (const auto& r : bars.rows) {
        EXPECT_TRUE(validUtf8(r.at("Response")));
        levels.insert(r.at("Response"));
    }
    EXPECT_EQ(levels.size(), 2u);
    EXPECT_TRUE(levels.count(one) || levels.count(two)) << *levels.begin();
}

} // namespace

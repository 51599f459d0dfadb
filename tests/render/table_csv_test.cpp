#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "output_fixture.h"
#include "render/output.h"

using namespace velloc::host;
using namespace velloc::host::testing;

namespace {

TableDefinition demoDefinition() {
    TableDefinition def;
    def.name = "VarInfo";
    def.templatePath = "Stat.Velloc.VarInfo";
    def.addColumn(textCol("Variable", 32));
    def.addColumn(numCol("TreatedMean", 4));
    def.addColumn(numCol("TreatedN", 0));
    return def;
}

} // namespace

TEST(RenderCsv, OneFilePerTableWithByColumnsFullPrecisionAndQuoting) {
    TempDir dir;
    Output out;
    out.addSink(makeCsvSink((dir.path / "tables").string()));
    TableDefinition def = demoDefinition();
    out.beginStep("Step");

    out.setByGroup({"region", "sex"}, {"North, East", "F"});
    TableInstance a{&def, def.templatePath, {}, {}};
    a.addRow({std::string("age                "), 0.1 + 0.2, 12.0});
    a.addRow({std::string("say \"hi\"\nthere"), nan(), 3.0});
    ASSERT_EQ(out.deliver(a), 0);

    out.setByGroup({"region", "sex"}, {"South", "M"});
    TableInstance b{&def, def.templatePath, {}, {}};
    b.addRow({std::string("age"), 1.0 / 3.0, 1e-300});
    ASSERT_EQ(out.deliver(b), 0);
    out.endStep();
    EXPECT_FALSE(std::filesystem::exists(dir.path / "tables")); // nothing before finish
    ASSERT_TRUE(out.finish());

    std::string csv = readFile(dir.path / "tables" / "VarInfo.csv");
    EXPECT_EQ(csv, "region,sex,Variable,TreatedMean,TreatedN\n"
                   "\"North, East\",F,age,0.30000000000000004,12\n"
                   "\"North, East\",F,\"say \"\"hi\"\"\nthere\",,3\n"
                   "South,M,age,0.3333333333333333,1e-300\n");
    // The printed texts read back to the very same doubles.
    EXPECT_EQ(std::strtod("0.30000000000000004", nullptr), 0.1 + 0.2);
    EXPECT_EQ(std::strtod("0.3333333333333333", nullptr), 1.0 / 3.0);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"tables"});
    std::vector<std::string> inside;
    for (const auto& e : std::filesystem::directory_iterator(dir.path / "tables"))
        inside.push_back(e.path().filename().string());
    EXPECT_EQ(inside, std::vector<std::string>{"VarInfo.csv"}); // no temporary left behind
}

TEST(RenderCsv, FactoidsHaveLabelAndValueColumns) {
    TempDir dir;
    Output out;
    out.addSink(makeCsvSink(dir.path.string()));
    out.beginStep("Step");
    for (std::string g : {"1", "2"}) {
        out.setByGroup({"grp"}, {g});
        FactoidTable f{"DataInfo", "Data Information", "Stat.Velloc.DataInfo", {}};
        f.entries.push_back({"Data Set", std::string("WORK.A"), {}});
        f.entries.push_back({"Lower Bound", 2.0 / 3.0, {0, 4}});
        ASSERT_EQ(out.deliver(f), 0);
    }
    ASSERT_TRUE(out.finish());
    EXPECT_EQ(readFile(dir.path / "DataInfo.csv"), "grp,Label,Value\n"
                                                   "1,Data Set,WORK.A\n"
                                                   "1,Lower Bound,0.6666666666666666\n"
                                                   "2,Data Set,WORK.A\n"
                                                   "2,Lower Bound,0.6666666666666666\n");
    EXPECT_EQ(std::strtod("0.6666666666666666", nullptr), 2.0 / 3.0); // not the 4-decimal format
}

TEST(RenderCsv, RepeatedColumnNamesAndLaterColumnsKeepTheirPlaces) {
    TempDir dir;
    Output out;
    out.addSink(makeCsvSink(dir.path.string()));
    // Two ID columns named alike (treated and control block), as the listing tables have.
    TableDefinition def;
    def.name = "MatchMostObs";
    def.addColumn(numCol("TreatedObs"));
    def.addColumn(numCol("ID id"));
    def.addColumn(numCol("ControlObs"));
    def.addColumn(numCol("ID id"));
    out.beginStep("First step, no BY");
    TableInstance a{&def, "", {}, {}};
    a.addRow({1.0, 101.0, 2.0, 202.0});
    ASSERT_EQ(out.deliver(a), 0);
    out.endStep();
    // A later step with BY groups and an extra column: earlier rows get empty cells there.
    TableDefinition more = def;
    more.addColumn(numCol("Extra"));
    out.beginStep("Second step");
    out.setByGroup({"site"}, {"x"});
    TableInstance b{&more, "", {}, {}};
    b.addRow({3.0, 303.0, nan(), nan(), 7.0});
    ASSERT_EQ(out.deliver(b), 0);
    ASSERT_TRUE(out.finish());
    // Rows of two steps: a leading Step column tells them apart.
    EXPECT_EQ(readFile(dir.path / "MatchMostObs.csv"),
              "Step,site,TreatedObs,ID id,ControlObs,ID id,Extra\n"
              "1,,1,101,2,202,\n"
              "2,x,3,303,,,7\n");
}

TEST(RenderCsv, AFolderThatCannotBeMadeIsReported) {
    TempDir dir;
    LogCapture log;
    std::filesystem::path blocker = dir.path / "file";
    { std::ofstream(blocker) << "x"; }
    Output out;
    out.addSink(makeCsvSink((blocker / "tables").string()));
    TableDefinition def = demoDefinition();
    TableInstance a{&def, "", {}, {}};
    a.addRow({std::string("x"), 1.0, 2.0});
    ASSERT_EQ(out.deliver(a), 0);
    EXPECT_FALSE(out.finish());
    EXPECT_NE(log.text.str().find("Cannot write the output file " + (blocker / "tables").string()),
              std::string::npos)
        << log.text.str();
}

// Graph rows go through a temporary spool: enough rows to pass its one-megabyte buffer many
// times, in two BY groups, one of them kept as cells and one column by column, must come back
// in order with every value.
TEST(RenderCsv, LargeGraphsComeBackWholeThroughTheSpool) {
    TempDir dir;
    Output out;
    out.addSink(makeCsvSink((dir.path / "tables").string()));
    GraphRecord g;
    g.name = "CloudPlot";
    g.templatePath = "Stat.Velloc.Graphics.CloudPlot";
    g.phantom.name = "CloudPhnt";
    g.phantom.addColumn(numCol("XVal", 0));
    g.phantom.addColumn(textCol("Group", 8));
    out.beginStep("Step");

    out.setByGroup({"site"}, {"A"});
    g.data.definition = &g.phantom;
    g.data.addRow({0.5, std::string("Treated ")});
    g.data.addRow({nan(), std::string("a,b")});
    ASSERT_EQ(out.deliver(g), 0);

    out.setByGroup({"site"}, {"B"});
    g.data.rows.clear();
    g.columns.reset(g.phantom);
    const int n = 200000;
    for (int r = 0; r < n; ++r)
        g.columns.addRow({r + 0.25, std::string(r % 2 ? "Control" : "Treated")});
    ASSERT_EQ(out.deliver(g), 0);
    out.endStep();
    ASSERT_TRUE(out.finish());

    std::ifstream in(dir.path / "tables" / "CloudPlot.csv");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "site,XVal,Group");
    std::getline(in, line);
    EXPECT_EQ(line, "A,0.5,Treated");
    std::getline(in, line);
    EXPECT_EQ(line, "A,,\"a,b\"");
    int rows = 0;
    while (std::getline(in, line)) {
        const std::string want =
            "B," + std::to_string(rows) + ".25," + (rows % 2 ? "Control" : "Treated");
        if (line != want) {
            ADD_FAILURE() << "row " << rows << ": " << line << " instead of " << want;
            break;
        }
        ++rows;
    }
    EXPECT_EQ(rows, n);
}

#include <gtest/gtest.h>
#include <sstream>

#include "output_fixture.h"
#include "render/number_format.h"
#include "render/output.h"
#include "render/templates.h"

using namespace velloc::host;
using namespace velloc::host::testing;

TEST(RenderFormat, FixedDecimalsMissingAndNegativeZero) {
    NumberFormat four{0, 4}, count{0, 0}, best{0, -1};
    EXPECT_EQ(formatNumber(0.123456, four), "0.1235");
    EXPECT_EQ(formatNumber(-2.5, four), "-2.5000");
    EXPECT_EQ(formatNumber(-0.00001, four), "0.0000"); // rounds to zero: no sign
    EXPECT_EQ(formatNumber(nan(), four), ".");
    EXPECT_EQ(formatNumber(1234, count), "1234");
    EXPECT_EQ(formatNumber(2.5, count), "2.5000"); // a fractional count is not hidden
    EXPECT_EQ(formatNumber(42, best), "42");
    EXPECT_EQ(formatNumber(1.0 / 3.0, best), "0.33333333");
    EXPECT_EQ(formatExact(nan()), "");
    EXPECT_EQ(formatExact(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(formatExact(1e-300), "1e-300");
    EXPECT_EQ(displayWidth("caf\xC3\xA9"), 4u); // UTF-8: one column per code point
    EXPECT_EQ(trimRight("age   "), "age");
    EXPECT_EQ(trimRight("   "), "");
}

// Widths by hand: Name 5 ("alpha"), Count 5 (header), Mean 6 ("1.2346"); two blanks between.
TEST(RenderListing, AlignsNumbersRightTextLeftAndPrintsMissingAsDot) {
    TableDefinition def;
    def.name = "Demo";
    def.addColumn(textCol("Name", 8));
    def.addColumn(numCol("Count", 0));
    def.addColumn(numCol("Mean", 4));
    TableInstance inst;
    inst.definition = &def;
    inst.addRow({std::string("alpha   "), 3.0, 1.23456});
    inst.addRow({std::string("b"), 12.0, nan()});

    std::ostringstream text;
    Output out;
    out.addSink(makeListingSink(text));
    out.beginStep("The VELLOC Procedure");
    out.setByGroup({"race", "sex"}, {"black", "F"});
    ASSERT_EQ(out.deliver(inst), 0);
    out.endStep();
    EXPECT_EQ(text.str(), "The VELLOC Procedure\n"
                          "\n"
                          "----- race=black sex=F -----\n"
                          "\n"
                          "        Demo\n"
                          "\n"
                          "Name   Count    Mean\n"
                          "alpha      3  1.2346\n"
                          "b         12       .\n");
}

TEST(RenderListing, ByLineOnlyOnceAndNotForAGroupWithoutOutput) {
    TableDefinition def;
    def.name = "T";
    def.addColumn(numCol("x"));
    TableInstance inst;
    inst.definition = &def;
    inst.addRow({1.0});
    std::ostringstream text;
    Output out;
    out.addSink(makeListingSink(text));
    out.beginStep("Step");
    out.setByGroup({"g"}, {"1"}); // abandoned: nothing delivered
    out.setByGroup({"g"}, {"2"});
    ASSERT_EQ(out.deliver(inst), 0);
    ASSERT_EQ(out.deliver(inst), 0);
    std::string s = text.str();
    EXPECT_EQ(s.find("g=1"), std::string::npos);
    auto first = s.find("----- g=2 -----");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(s.find("g=2", first + 7), std::string::npos);
    EXPECT_EQ(s.find("Step"), 0u);
}

TEST(RenderListing, SpanningHeadersComeFromTheLevelDynamics) {
    TableDefinition def = psInfoDefinition();
    def.columns[1].label = "Treated N"; // a column label wins over the template header
    TableInstance inst;
    inst.definition = &def;
    inst.templatePath = def.templatePath;
    inst.dynamics = {{"_TrtLevel", std::string("1")},
                     {"_CntlLevel", std::string("0")},
                     {"_TrtVar", std::string("treat")}};
    inst.addRow({std::string("All Observations"), 120.0, 0.61234, 380.0, 0.2, 0.41234});

    TableLayout lay = layoutTable(inst);
    EXPECT_EQ(lay.title, "Propensity Score Information");
    ASSERT_EQ(lay.spans.size(), 2u);
    EXPECT_EQ(lay.spans[0].text, "Treated (treat = 1)");
    EXPECT_EQ(lay.spans[0].first, 1u);
    EXPECT_EQ(lay.spans[0].last, 2u);
    EXPECT_EQ(lay.spans[1].text, "Control (treat = 0)");
    EXPECT_EQ(lay.spans[1].first, 3u);
    EXPECT_EQ(lay.spans[1].last, 4u);
    EXPECT_EQ(lay.columns[1].header, "Treated N");
    EXPECT_EQ(lay.columns[2].header, "Mean");
    EXPECT_EQ(lay.columns[5].header, "Mean Difference");

    // By hand: values give widths 16, 3, 6, 3, 6, 6; "Treated N" wraps at 8 to 7 columns and
    // "Mean Difference" to 10. Each span needs 19 + 4 = 23 columns: the treated block (7 + 2 + 6)
    // gets 8 more, 4 per column; the control block (3 + 2 + 6) gets 12, 6 per column. Total 78.
    std::ostringstream text;
    makeListingSink(text)->table(OutputContext{}, inst);
    auto R = [](std::string t, std::size_t w) { return std::string(w - t.size(), ' ') + t; };
    auto L = [](std::string t, std::size_t w) { return t + std::string(w - t.size(), ' '); };
    const std::string gap = "  ";
    std::string want = "\n" + std::string(25, ' ') + "Propensity Score Information\n\n" +
                       std::string(16, ' ') + gap + "- Treated (treat = 1) -" + gap +
                       "- Control (treat = 0) -\n" + std::string(16, ' ') + gap + R("Treated", 11) +
                       gap + R("", 10) + gap + R("", 9) + gap + R("", 12) + gap + R("Mean", 10) +
                       "\n" + L("Observations", 16) + gap + R("N", 11) + gap + R("Mean", 10) + gap +
                       R("N", 9) + gap + R("Mean", 12) + gap + "Difference\n" + "All Observations" +
                       gap + R("120", 11) + gap + R("0.6123", 10) + gap + R("380", 9) + gap +
                       R("0.2000", 12) + gap + R("0.4123", 10) + "\n";
    EXPECT_EQ(text.str(), want);

    // Without the variable the span names the level alone; without levels just the group.
    inst.dynamics = {{"_TrtLevel", std::string("Yes")}, {"_CntlLevel", std::string("No")}};
    EXPECT_EQ(layoutTable(inst).spans[0].text, "Treated (Yes)");
    inst.dynamics.clear();
    EXPECT_EQ(layoutTable(inst).spans[1].text, "Control");
}

TEST(RenderListing, UnknownTemplatesUseColumnNamesAndIdColumnsTheirVariable) {
    TableDefinition def;
    def.name = "Odd";
    def.label = "An Odd Table";
    def.templatePath = "Stat.Velloc.NoSuchTable";
    def.addColumn(numCol("alpha"));
    EXPECT_EQ(layoutTable(TableInstance{&def, def.templatePath, {}, {}}).columns[0].header,
              "alpha");
    EXPECT_EQ(layoutTable(TableInstance{&def, def.templatePath, {}, {}}).title, "An Odd Table");

    TableDefinition lw;
    lw.name = "LargestWgtObs";
    lw.templatePath = "Stat.Velloc.LargestWgtObs";
    lw.dynamics = {{"_WgtType", std::string("ATE Weights")}};
    lw.addColumn(numCol("ControlObs"));
    ColumnDef id = numCol("id1");
    id.templateColumn = "ControlID";
    id.dynamicName = "_idControl";
    id.dynamicValue = "patient";
    lw.addColumn(id);
    lw.addColumn(numCol("ControlWgt"));
    lw.addColumn(numCol("ControlScaledWgt"));
    TableInstance inst{&lw, lw.templatePath, {{"_CntlLevelWgt", std::string("Weight x 0.25")}}, {}};
    TableLayout lay = layoutTable(inst);
    EXPECT_EQ(lay.subtitles, std::vector<std::string>{"ATE Weights"});
    EXPECT_EQ(lay.columns[1].header, "patient");
    EXPECT_EQ(lay.columns[3].header, "Weight x 0.25");
    EXPECT_EQ(lay.columns[0].format.decimals, 0);
    EXPECT_EQ(lay.columns[2].format.decimals, 4);
    ASSERT_EQ(lay.spans.size(), 1u);
    EXPECT_EQ(lay.spans[0].first, 0u);
    EXPECT_EQ(lay.spans[0].last, 3u);
}

TEST(RenderListing, FactoidsAreTwoAlignedColumns) {
    FactoidTable f{"DataInfo", "Data Information", "Stat.Velloc.DataInfo", {}};
    f.entries.push_back({"Data Set", std::string("WORK.STUDY"), {}});
    f.entries.push_back({"Treated Observations", 120.0, {0, 0}});
    f.entries.push_back({"Lower Bound", 0.0123456789, {0, 4}});
    std::ostringstream text;
    makeListingSink(text)->factoid(OutputContext{}, f);
    // Label column 20 wide (longest label), two blanks, values left-aligned; the title is
    // centred over 20 + 2 + 10 columns.
    EXPECT_EQ(text.str(), "\n"
                          "        Data Information\n"
                          "\n"
                          "Data Set              WORK.STUDY\n"
                          "Treated Observations  120\n"
                          "Lower Bound           0.0123\n");
}

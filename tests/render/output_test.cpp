#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

#include "base/exit_codes.h"
#include "output_fixture.h"
#include "render/graph_renderers.h"
#include "render/output.h"
#include "render/output_messages.h"
#include "render/templates.h"

using namespace velloc::host;
using namespace velloc::host::testing;

namespace {

// Records what reaches a sink, with the group path seen at each event.
struct RecordingSink : OutputSink {
    std::vector<std::string> events;
    bool throwOnTable = false;
    static std::string path(const OutputContext& c) {
        std::string s;
        for (const auto& g : c.groupPath)
            s += "/" + g;
        return s;
    }
    void stepBegin(const std::string& t) override { events.push_back("step " + t); }
    void byGroup(const OutputContext& c) override {
        events.push_back("by " + (c.byLine.empty() ? std::string() : c.byLine[0]));
    }
    void groupOpened(const OutputContext& c) override { events.push_back("open " + path(c)); }
    void groupClosed(const OutputContext& c) override { events.push_back("close " + path(c)); }
    void table(const OutputContext& c, const TableInstance& i) override {
        if (throwOnTable) throw std::runtime_error("disk full");
        events.push_back("table " + i.definition->name + " in " + path(c));
    }
    void factoid(const OutputContext& c, const FactoidTable& t) override {
        events.push_back("factoid " + t.name + " in " + path(c));
    }
    void graph(const OutputContext&, const GraphRecord& g) override {
        events.push_back("graph " + g.name);
    }
    void stepEnd() override { events.push_back("end"); }
};

struct OutputTest : ::testing::Test {
    Output out;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    TableDefinition def = psInfoDefinition();
    void SetUp() override {
        addOutputMessages();
        out.addSink(sink);
        out.beginStep("Step");
    }
    TableInstance instance(std::vector<std::vector<Cell>> rows) {
        TableInstance i;
        i.definition = &def;
        i.rows = std::move(rows);
        return i;
    }
};

} // namespace

TEST_F(OutputTest, GroupsNestAndEveryObjectCarriesItsGroupPath) {
    out.setByGroup({"race"}, {"black"});
    EXPECT_EQ(out.openGroup("Assessment", "Balance"), 0);
    EXPECT_EQ(out.openGroup("Inner", "Inner label"), 0);
    EXPECT_EQ(out.deliver(instance({{std::string("All"), 1.0, 2.0, 3.0, 4.0, 5.0}})), 0);
    EXPECT_EQ(out.closeGroup(), 0);
    FactoidTable f{"DataInfo", "Data", "Stat.Velloc.DataInfo", {}};
    EXPECT_EQ(out.deliver(f), 0);
    EXPECT_EQ(out.closeGroup(), 0);
    EXPECT_EQ(out.context().groupPath.size(), 0u);
    std::vector<std::string> want{"step Step",
                                  "by race=black",
                                  "open /Assessment",
                                  "open /Assessment/Inner",
                                  "table PSInfo in /Assessment/Inner",
                                  "close /Assessment/Inner",
                                  "factoid DataInfo in /Assessment",
                                  "close /Assessment"};
    EXPECT_EQ(sink->events, want);
}

TEST_F(OutputTest, GroupErrorsAreNegativeCodesAndFatal) {
    EXPECT_EQ(out.closeGroup(), kOutputNoOpenGroup);
    EXPECT_LT(out.closeGroup(), 0);
    EXPECT_EQ(out.openGroup("   ", "blank name"), kOutputBadGroupName);
    EXPECT_TRUE(out.context().groupPath.empty());
    LogCapture log;
    try {
        zodsexit(kOutputNoOpenGroup);
        FAIL() << "a failed close must end the procedure";
    } catch (const HostExit& e) {
        EXPECT_EQ(e.code, 120);
    }
    EXPECT_NE(log.text.str().find("ERROR: Output error 0x80020001: no output group is open"),
              std::string::npos)
        << log.text.str();
    EXPECT_NE(log.text.str().find("[1-20]"), std::string::npos);
}

TEST_F(OutputTest, EndStepClosesGroupsLeftOpen) {
    ASSERT_EQ(out.openGroup("A", ""), 0);
    ASSERT_EQ(out.openGroup("B", ""), 0);
    out.endStep();
    EXPECT_TRUE(out.context().groupPath.empty());
    ASSERT_GE(sink->events.size(), 3u);
    EXPECT_EQ(sink->events[sink->events.size() - 3], "close /A/B");
    EXPECT_EQ(sink->events[sink->events.size() - 2], "close /A");
    EXPECT_EQ(sink->events.back(), "end");
}

TEST_F(OutputTest, MalformedRowsAreRefusedBeforeAnySinkSeesThem) {
    LogCapture log;
    size_t before = sink->events.size();
    EXPECT_EQ(out.deliver(instance({{std::string("All"), 1.0, 2.0}})), kOutputRowShape);
    EXPECT_NE(log.text.str().find("Row 1 of table PSInfo has 3 cells, but the table has 6"),
              std::string::npos)
        << log.text.str();
    // A text where a number belongs, in the second row.
    EXPECT_EQ(
        out.deliver(instance({{std::string("All"), 1.0, 2.0, 3.0, 4.0, 5.0},
                              {std::string("Region"), 1.0, std::string("x"), 3.0, 4.0, 5.0}})),
        kOutputCellKind);
    EXPECT_NE(log.text.str().find("Row 2 of table PSInfo: column TreatedMean is numeric"),
              std::string::npos);
    TableInstance orphan;
    EXPECT_EQ(out.deliver(orphan), kOutputNoDefinition);
    EXPECT_EQ(sink->events.size(), before);
}

TEST_F(OutputTest, GraphsWhileGraphicsAreOffGiveTheBenignCode) {
    GraphRecord g;
    g.name = "StdDiffPlot";
    out.setGraphicsEnabled(false);
    int rc = out.deliver(g);
    EXPECT_EQ(rc, kBenignOutputCode);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(sink->events.back(), "step Step");
    out.setGraphicsEnabled(true);
    EXPECT_EQ(out.deliver(g), 0);
    EXPECT_EQ(sink->events.back(), "graph StdDiffPlot");
}

// Graph rows are kept when some sink keeps them as data: the listing, the HTML report and the
// graphs folder only draw; graph tables (and a sink of unknown kind) keep them.
TEST(OutputGraphRows, KeptOnlyWhenASinkKeepsThem) {
    Output out;
    EXPECT_FALSE(out.keepsGraphRows());
    std::ostringstream listing;
    out.addSink(makeListingSink(listing));
    out.addSink(makeHtmlSink(::testing::TempDir() + "velloc_rows.html"));
    out.addSink(makeGraphSink(::testing::TempDir(), {}));
    EXPECT_FALSE(out.keepsGraphRows());
    out.addSink(makeCsvSink(::testing::TempDir()));
    EXPECT_TRUE(out.keepsGraphRows());
    out.clearSinks();
    out.addSink(std::make_shared<RecordingSink>());
    EXPECT_TRUE(out.keepsGraphRows());
}

TEST_F(OutputTest, ASinkFailureBecomesAnOutputError) {
    LogCapture log;
    sink->throwOnTable = true;
    EXPECT_EQ(out.deliver(instance({})), kOutputSinkFailure);
    EXPECT_NE(log.text.str().find("disk full"), std::string::npos);
}

TEST(Zodsexit, ReturnsOnlyForTheBenignClassAndItem) {
    addOutputMessages();
    LogCapture log;
    EXPECT_NO_THROW(zodsexit(kBenignOutputCode));
    EXPECT_NE(log.text.str().find("NOTE: Output request 0x8001F835 was not carried out"),
              std::string::npos)
        << log.text.str();
    // Bits outside the class mask do not matter: 0x1F835 plain and with bit 22 set.
    EXPECT_NO_THROW(zodsexit(0x1F835));
    EXPECT_NO_THROW(zodsexit(0x1F835 | 0x400000));
    auto exitCode = [](int code) {
        try {
            zodsexit(code);
        } catch (const HostExit& e) {
            return e.code;
        }
        return -1;
    };
    EXPECT_EQ(exitCode(0x1F836), 120);            // item 54
    EXPECT_EQ(exitCode(0x1F835 | 0x200000), 120); // bit 21 is inside the class mask
    EXPECT_EQ(exitCode(0x1F835 & ~0x800), 120);   // class 0x3E
    EXPECT_EQ(exitCode(kOutputRowShape), 120);
    EXPECT_EQ(exitCode(-1), 120);
}

// The table labels the procedure reads by number must name the same tables our templates title.
TEST(OutputMessages, TableLabelsMatchTheTemplateTitles) {
    Output out; // registers the messages
    const std::pair<int, const char*> labels[] = {
        {2, "DataInfo"},       {4, "MatchInfo"},    {5, "PSInfo"},        {6, "StrataInfo"},
        {7, "VarInfo"},        {8, "StdDiff"},      {9, "StrataVarInfo"}, {10, "StrataStdDiff"},
        {11, "LargestWgtObs"}, {12, "MatchMostObs"}};
    for (auto [number, table] : labels) {
        ASSERT_TRUE(hasMessage(kGroupHostOutput, number)) << number;
        const TableTemplate* t = findTemplate(std::string("Stat.Velloc.") + table);
        ASSERT_NE(t, nullptr) << table;
        EXPECT_EQ(wkread(kGroupHostOutput, number), t->title) << table;
    }
}

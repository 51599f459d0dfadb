#include <gtest/gtest.h>

#include "output_fixture.h"
#include "render/output.h"

using namespace velloc::host;
using namespace velloc::host::testing;

namespace {

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (auto p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        ++n;
    return n;
}

} // namespace

TEST(RenderHtml, EscapesEveryHostileText) {
    TempDir dir;
    const std::string hostile = "<script>alert('x')</script> & \"q\"";
    std::string file = (dir.path / "report.html").string();
    Output out;
    out.addSink(makeHtmlSink(file));
    out.beginStep("Step " + hostile);
    out.setByGroup({"site"}, {hostile});

    TableDefinition def;
    def.name = "Odd";
    def.label = "Title " + hostile;
    def.addColumn(textCol("Name", 40, "Label " + hostile));
    def.addColumn(numCol("x", 2));
    TableInstance inst{&def, "", {}, {}};
    inst.addRow({"Cell " + hostile, 1.5});
    ASSERT_EQ(out.openGroup("G" + hostile, "group"), 0);
    ASSERT_EQ(out.deliver(inst), 0);
    FactoidTable f{"DataInfo", "", "Stat.Velloc.DataInfo", {}};
    f.entries.push_back({"Fact " + hostile, "Value " + hostile, {}});
    ASSERT_EQ(out.deliver(f), 0);
    GraphRecord g;
    g.name = "Plot" + hostile;
    ASSERT_EQ(out.deliver(g), 0);
    ASSERT_EQ(out.closeGroup(), 0);
    out.endStep();
    ASSERT_TRUE(out.finish());

    std::string html = readFile(file);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("'x'"), std::string::npos);
    EXPECT_EQ(html.find("\"q\""), std::string::npos);
    EXPECT_EQ(html.find("& "), std::string::npos);
    const std::string escaped =
        "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;";
    // Step title (twice: <title> and <h1>), BY value, group attribute (three objects), table
    // title, column label, cell, factoid label and value, graph placeholder and caption.
    EXPECT_EQ(count(html, escaped), 13u) << html;
    EXPECT_NE(html.find("<td class=\"num\">1.50</td>"), std::string::npos);
    EXPECT_NE(html.find("<div class=\"placeholder\">graph Plot&lt;script"), std::string::npos);
}

TEST(RenderHtml, OneSelfContainedFileWithSpansAndRenderedGraphs) {
    TempDir dir;
    std::string file = (dir.path / "run.html").string();
    Output out;
    out.addSink(makeHtmlSink(file, [](const GraphRecord& g) {
        return "<svg xmlns=\"http://www.w3.org/2000/svg\"><title>" + g.name + "</title></svg>";
    }));
    TableDefinition def = psInfoDefinition();
    TableInstance inst{&def,
                       def.templatePath,
                       {{"_TrtLevel", std::string("1")},
                        {"_CntlLevel", std::string("0")},
                        {"_TrtVar", std::string("treat")}},
                       {}};
    inst.addRow({std::string("All"), 10.0, 0.6, 20.0, nan(), nan()});
    GraphRecord g;
    g.name = "StdDiffPlot";
    for (std::string level : {"a", "b"}) {
        out.beginStep("The VELLOC Procedure");
        out.setByGroup({"grp"}, {level});
        ASSERT_EQ(out.deliver(inst), 0);
        ASSERT_EQ(out.deliver(g), 0);
        out.endStep();
    }
    // Nothing appears before the run finishes.
    EXPECT_TRUE(dir.files().empty());
    ASSERT_TRUE(out.finish());
    EXPECT_EQ(dir.files(), std::vector<std::string>{"run.html"});
    std::string html = readFile(file);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("href="), std::string::npos);
    EXPECT_EQ(count(html, "<table"), 2u);
    EXPECT_EQ(count(html, "<h2 class=\"by\">grp=a</h2>"), 1u);
    EXPECT_EQ(count(html, "<h2 class=\"by\">grp=b</h2>"), 1u);
    EXPECT_EQ(count(html, "<svg xmlns"), 2u);
    EXPECT_NE(html.find("<th colspan=\"2\" class=\"span\">Treated (treat = 1)</th>"),
              std::string::npos);
    EXPECT_NE(html.find("<th colspan=\"2\" class=\"span\">Control (treat = 0)</th>"),
              std::string::npos);
    // Obs has no span above it, MeanDiff neither: one empty header cell each.
    EXPECT_EQ(count(html, "<th colspan=\"1\">"), 4u);
    EXPECT_NE(html.find("<td class=\"num\">.</td>"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"num\">0.6000</td>"), std::string::npos);
}

TEST(RenderHtml, AnUnwritableFileIsReportedNotThrown) {
    TempDir dir;
    LogCapture log;
    std::string file = (dir.path / "missing" / "sub" / "r.html").string();
    auto sink = makeHtmlSink(file);
    EXPECT_FALSE(sink->finish());
    EXPECT_NE(log.text.str().find("ERROR: Cannot write the output file " + file), std::string::npos)
        << log.text.str();
    EXPECT_TRUE(dir.files().empty());
}

// Figures are captioned by what they show, not by the graph's internal name.
TEST(RenderHtml, FiguresAreCaptionedByTheirTitles) {
    TempDir dir;
    const std::string file = (dir.path / "r.html").string();
    Output out;
    out.addSink(makeHtmlSink(file));
    out.beginStep("");
    GraphRecord cdf;
    cdf.name = "CDFPlot";
    cdf.phantom.dynamics = {{"_ETitle", std::string("Cumulative Distribution of age")}};
    cdf.dynamics = {{"_Title", std::string("age")}};
    GraphRecord plain; // only a short title
    plain.name = "StdDiffPlot";
    plain.dynamics = {{"_Title", std::string("Standardized Mean Differences")}};
    ASSERT_EQ(out.deliver(cdf), 0);
    ASSERT_EQ(out.deliver(plain), 0);
    out.endStep();
    ASSERT_TRUE(out.finish());
    const std::string html = readFile(file);
    EXPECT_NE(html.find("<figcaption>Cumulative Distribution of age</figcaption>"),
              std::string::npos);
    EXPECT_NE(html.find("<figcaption>Standardized Mean Differences</figcaption>"),
              std::string::npos);
    EXPECT_EQ(html.find("<figcaption>CDFPlot"), std::string::npos);
}

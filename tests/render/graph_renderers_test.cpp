// The SVG renderers: well-formed documents (rasterised once), escaped text, bounded marks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "render/graph_renderers.h"
#include "render/svg_canvas.h"

namespace velloc::host {
namespace {

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (auto p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        ++n;
    return n;
}

// Cloud points drawn: one subpath per mark in the "marks" paths.
std::size_t cloudMarks(const std::string& svg) {
    std::size_t n = 0;
    for (auto p = svg.find("class=\"marks\" d=\""); p != std::string::npos;
         p = svg.find("class=\"marks\" d=\"", p + 1))
        for (std::size_t i = p + 17; svg[i] != '"'; ++i)
            n += svg[i] == 'M';
    return n;
}

ColumnDef column(const char* name, ColumnKind kind = ColumnKind::Numeric) {
    ColumnDef c;
    c.name = name;
    c.kind = kind;
    return c;
}

GraphRecord cloud(std::size_t n) {
    GraphRecord g;
    g.name = "CloudPlot";
    g.phantom.name = "CloudPhnt";
    for (const char* c : {"XVal", "YVal1", "YVal2", "YVal3"})
        g.phantom.addColumn(column(c));
    g.phantom.addColumn(column("Response", ColumnKind::Character));
    g.phantom.dynamics = {{"_XMin", 0.0},
                          {"_XMax", 1.0},
                          {"_YTicks", std::string("'C<0>''T&1'")},
                          {"_Seed", std::int64_t{1}}};
    g.dynamics = {{"_Title", std::string("x < y & \"z\"")}};
    g.columns.reset(g.phantom);
    for (std::size_t i = 0; i < n; ++i)
        g.columns.addRow({i % 2 ? 4.0 : 2.0, NAN, 0.5, NAN, std::string("a")});
    g.data.definition = &g.phantom;
    return g;
}

TEST(RenderSvg, CloudEscapesTextAndThinsHugeClouds) {
    GraphRecord small = cloud(10);
    std::string svg = renderGraphSvg(small);
    EXPECT_NE(svg.find("x &lt; y &amp; &quot;z&quot;"), std::string::npos);
    EXPECT_NE(svg.find("C&lt;0&gt;"), std::string::npos);
    EXPECT_EQ(svg.find("x < y"), std::string::npos);
    EXPECT_EQ(cloudMarks(svg), 10u);
    EXPECT_EQ(count(svg, "class=\"mark\""), 2u); // the legend keys
    // The same record draws the same figure: the jitter has its own seeded stream.
    EXPECT_EQ(svg, renderGraphSvg(small));
    // A million rows in two series (treated, control) are thinned to at most the bound each,
    // evenly: every 251st (500,000 / 2,000 + 1) of the 500,000 gives 1,993 marks a series.
    GraphRecord huge = cloud(1000000);
    std::string big = renderGraphSvg(huge);
    EXPECT_LE(cloudMarks(big), 2 * kMaxMarksPerSeries);
    EXPECT_EQ(cloudMarks(big), 2u * 1993u);
    EXPECT_LT(big.size(), 200000u);

    // rsvg-convert rejects a malformed document.
    auto dir = std::filesystem::temp_directory_path() / "velloc_svg_test";
    std::filesystem::create_directories(dir);
    std::ofstream((dir / "c.svg").string()) << svg;
    std::string cmd = "rsvg-convert -o " + (dir / "c.png").string() + " " +
                      (dir / "c.svg").string() + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::ofstream((dir / "bad.svg").string()) << svg.substr(0, svg.size() / 2);
    cmd = "rsvg-convert -o " + (dir / "bad.png").string() + " " + (dir / "bad.svg").string() +
          " 2>/dev/null";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    std::filesystem::remove_all(dir);
}

// The weight cloud draws its reference lines, dashed red, over the groups they belong to.
TEST(RenderSvg, WeightCloudReferenceLines) {
    GraphRecord g;
    g.name = "WgtCloudPlot";
    g.phantom.name = "WgtCloudPhnt";
    for (const char* c : {"XVal", "YVal1", "YVal2"})
        g.phantom.addColumn(column(c));
    g.phantom.addColumn(column("Response", ColumnKind::Character));
    g.phantom.dynamics = {{"_XMin", 0.0}, {"_XMax", 40.0}, {"_CntlWgtRef", 20.0}};
    g.columns.reset(g.phantom);
    g.columns.addRow({4.0, NAN, 1.0, std::string("1")});
    g.columns.addRow({2.0, NAN, 3.0, std::string("0")});
    const std::string att = renderGraphSvg(g);
    EXPECT_EQ(count(att, "stroke=\"#c00000\""), 1u);
    // The plot area runs from x 150 to 610 (width 640, margins 150 and 30) over weights 0 to
    // 42 (40 and a 5% margin): weight 21 is at x 380. It runs from y 60 to 342 (420 less 60
    // above, 60 below and 18 for the second legend line), so the control line spans the lower
    // half (positions 1 to 3 of 1..5, y 342 to 201).
    g.phantom.dynamics[2].value = 21.0;
    const std::string at21 = renderGraphSvg(g);
    EXPECT_NE(at21.find("<line x1=\"380\" y1=\"342\" x2=\"380\" y2=\"201\" stroke=\"#c00000\""),
              std::string::npos)
        << at21;
    g.phantom.dynamics.push_back({"_TrtWgtRef", 30.0});
    EXPECT_EQ(count(renderGraphSvg(g), "stroke=\"#c00000\""), 2u);
}

GraphRecord stdDiff(std::vector<Dynamic> dynamics) {
    GraphRecord g;
    g.name = "StdDiffPlot";
    g.phantom.name = "StdDiffPhnt";
    for (const char* c : {"XVar", "XAllObsMean", "XRegionMean", "XRegionWgtMean", "XMatchMean",
                          "XMatchWgtMean", "XStrMean"})
        g.phantom.addColumn(column(c));
    g.phantom.dynamics = {{"_XMin", -1.0},
                          {"_XMax", 1.0},
                          {"_YMin", 0.0},
                          {"_YMax", 2.0},
                          {"_YTicks", std::string("'age'")}};
    for (Dynamic& d : dynamics)
        g.phantom.dynamics.push_back(std::move(d));
    g.columns.reset(g.phantom);
    g.columns.addRow({1.0, 0.8, 0.6, 0.05, NAN, NAN, NAN});
    g.columns.addRow({NAN, NAN, NAN, NAN, NAN, NAN, NAN});
    g.data.definition = &g.phantom;
    return g;
}

// NODETAILS clears the panel flags of the sets between the first and the final one: their
// marks and legend keys go, even though the phantom still holds their values.
TEST(RenderSvg, StdDiffPlotDrawsOnlyTheFlaggedSets) {
    const std::string all =
        renderGraphSvg(stdDiff({{"_Region", std::int64_t{1}}, {"_RegionWgt", std::int64_t{1}}}));
    EXPECT_EQ(count(all, "class=\"mark\""), 6u); // three marks and three legend keys
    EXPECT_NE(all.find(">Region<"), std::string::npos);
    const std::string final =
        renderGraphSvg(stdDiff({{"_Region", std::int64_t{0}}, {"_RegionWgt", std::int64_t{1}}}));
    EXPECT_EQ(count(final, "class=\"mark\""), 4u);
    EXPECT_EQ(final.find(">Region<"), std::string::npos);
    EXPECT_NE(final.find(">Weighted<"), std::string::npos);
}

// The threshold lines stand at -t and +t: with the axis from -1.05 to 1.05 over the plot
// width, both lie symmetric about the zero line; none are drawn beyond the axis.
TEST(RenderSvg, StdDiffPlotThresholdLines) {
    EXPECT_EQ(count(renderGraphSvg(stdDiff({})), "#b2182b"), 0u);
    const std::string svg = renderGraphSvg(stdDiff({{"_RefLine", 0.1}}));
    ASSERT_EQ(count(svg, "#b2182b"), 2u);
    auto xOf = [&](std::size_t from) {
        std::size_t at = svg.rfind("<line x1=\"", svg.find("#b2182b", from));
        return std::stod(svg.substr(at + 10));
    };
    const std::size_t first = svg.find("#b2182b");
    const double left = xOf(0), right = xOf(first + 1);
    const std::size_t zeroAt = svg.rfind("<line x1=\"", svg.find("stroke-dasharray=\"4 3\""));
    const double zero = std::stod(svg.substr(zeroAt + 10));
    EXPECT_LT(left, zero);
    EXPECT_NEAR(zero - left, right - zero, 0.02);
    EXPECT_EQ(count(renderGraphSvg(stdDiff({{"_RefLine", 2.0}})), "#b2182b"), 0u);
}

TEST(RenderSvg, CdfCurvesAreDecimatedButEndAtOneHundred) {
    GraphRecord g;
    g.name = "CDFPlot";
    g.phantom.name = "CDFPhnt";
    g.phantom.addColumn(column("Obs", ColumnKind::Character));
    g.phantom.addColumn(column("Treatment", ColumnKind::Character));
    for (const char* c : {"XVal", "YVal", "TMin", "TMax", "CMin", "CMax"})
        g.phantom.addColumn(column(c));
    g.phantom.dynamics = {{"_XMin", 0.0}, {"_XMax", 1.0}};
    g.columns.reset(g.phantom);
    const std::size_t n = 100000;
    for (std::size_t i = 1; i <= n; ++i) {
        double v = static_cast<double>(i) / n;
        g.columns.addRow({std::string("All"), std::string("1"), v, 100.0 * v, NAN, NAN, NAN, NAN});
    }
    g.columns.addRow({std::string(), std::string(), NAN, NAN, NAN, NAN, NAN, NAN});
    const std::string svg = renderGraphSvg(g);
    EXPECT_EQ(count(svg, "class=\"curve\""), 1u);
    // At most the bound plus the kept last vertex; the curve ends at 100% (y = 60, the panel top).
    EXPECT_LE(count(svg, "V"), kMaxCurveVertices + 1);
    auto end = svg.find("\" fill=\"none\"", svg.find("class=\"curve\""));
    EXPECT_EQ(svg.substr(end - 3, 3), "V60");
}

GraphRecord box(double xMax) {
    GraphRecord g;
    g.name = "BoxPlot";
    g.phantom.name = "BoxPhnt";
    g.phantom.addColumn(column("YVal"));
    g.phantom.addColumn(column("Response", ColumnKind::Character));
    for (const char* c : {"XVal", "XFrq", "XWgt"})
        g.phantom.addColumn(column(c));
    g.phantom.dynamics = {{"_XMin", 0.0}, {"_XMax", xMax}, {"_YMin", 0.5}, {"_YMax", 1.9}};
    g.columns.reset(g.phantom);
    return g;
}

// The value axis runs from x 150 to 610: value v of 0..max is at 150 + 460 v / max.
TEST(RenderSvg, BoxQuartilesAreWeightedAndExactForHugeBoxes) {
    // Values 1..1,000,000, weight 1: the first value whose running weight reaches a quarter
    // of the total is 250,000 (x 265), the median 500,000, the third quartile 750,000; the box
    // spans 265 to 495.
    GraphRecord g = box(1e6);
    for (int i = 1; i <= 1000000; ++i)
        g.columns.addRow({1.15, std::string("1"), static_cast<double>(i), 1.0, 1.0});
    std::string svg = renderGraphSvg(g);
    EXPECT_EQ(count(svg, "class=\"box\""), 1u);
    EXPECT_NE(svg.find("class=\"box\" x=\"265\""), std::string::npos);
    EXPECT_NE(svg.find("width=\"230\""), std::string::npos);
    EXPECT_LT(svg.size(), 20000u);

    // Frequency x weight: value 0 with 1, value 100 with 1 x 3. Quarter of 4 is reached at 0,
    // half and three quarters at 100: the box runs from 150 to 610 and the median is at 610.
    GraphRecord w = box(100);
    w.columns.addRow({0.85, std::string("0"), 0.0, 1.0, 1.0});
    w.columns.addRow({0.85, std::string("0"), 100.0, 1.0, 3.0});
    std::string ws = renderGraphSvg(w);
    EXPECT_NE(ws.find("class=\"box\" x=\"150\""), std::string::npos) << ws;
    EXPECT_NE(ws.find("width=\"460\""), std::string::npos);
    EXPECT_NE(ws.find("<line x1=\"610\""), std::string::npos);
}

// Values 1..8 and 40: quartiles 3, 5 and 7, fences at -3 and 13. The upper whisker ends at 8,
// the largest value inside the fence (x 242), not at the fence (x 299.5), and 40 is drawn as
// an outlier at the axis end (x 610).
TEST(RenderSvg, BoxWhiskersEndAtDataAndOutliersAreDrawn) {
    GraphRecord g = box(40);
    for (double v : {1, 2, 3, 4, 5, 6, 7, 8, 40})
        g.columns.addRow({1.15, std::string("1"), v, 1.0, 1.0});
    const std::string svg = renderGraphSvg(g);
    EXPECT_NE(svg.find("<line x1=\"242\""), std::string::npos) << svg;
    EXPECT_EQ(svg.find("299.5"), std::string::npos);
    EXPECT_EQ(count(svg, "class=\"outlier\""), 1u);
    EXPECT_NE(svg.find("class=\"outlier\" cx=\"610\""), std::string::npos);
    // Without points beyond the fences there is nothing to mark.
    GraphRecord tight = box(40);
    for (double v : {1, 2, 3, 4, 5, 6, 7, 8})
        tight.columns.addRow({1.15, std::string("1"), v, 1.0, 1.0});
    EXPECT_EQ(count(renderGraphSvg(tight), "class=\"outlier\""), 0u);
}

// The axis reaches the outliers drawn even when the plot phase's range stops short of them.
TEST(RenderSvg, BoxAxisCoversItsOutliers) {
    GraphRecord g = box(10); // range 0..10, an outlier at 40: the axis now runs 0..40
    for (double v : {1, 2, 3, 4, 5, 6, 7, 8, 40})
        g.columns.addRow({1.15, std::string("1"), v, 1.0, 1.0});
    const std::string svg = renderGraphSvg(g);
    EXPECT_NE(svg.find("class=\"outlier\" cx=\"610\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("<line x1=\"242\""), std::string::npos); // whisker at 8: 150 + 460 x 8/40
}

GraphRecord cdf(const std::vector<std::string>& panels) {
    GraphRecord g;
    g.name = "CDFPlot";
    g.phantom.name = "CDFPhnt";
    g.phantom.addColumn(column("Obs", ColumnKind::Character));
    g.phantom.addColumn(column("Treatment", ColumnKind::Character));
    for (const char* c : {"XVal", "YVal", "TMin", "TMax", "CMin", "CMax"})
        g.phantom.addColumn(column(c));
    g.phantom.dynamics = {{"_XMin", 0.0},          {"_XMax", 1.0},
                          {"_XTreated", "smoker"}, {"_XControl", "non-smoker"},
                          {"_TrtVar", "smoke"},    {"_ETitle", "Cumulative Distribution of age"}};
    g.dynamics = {{"_Title", std::string("age")}};
    g.columns.reset(g.phantom);
    for (const std::string& p : panels)
        for (const char* level : {"smoker", "non-smoker"}) {
            g.columns.addRow({p, std::string(level), 0.0, 0.0, NAN, NAN, NAN, NAN});
            g.columns.addRow({p, std::string(level), 1.0, 100.0, NAN, NAN, NAN, NAN});
            g.columns.addRow({std::string(), std::string(), NAN, NAN, NAN, NAN, NAN, NAN});
        }
    return g;
}

// Every set is a panel of one figure with both groups' curves; four panels make a 2 x 2 grid
// (two cells of 330 across, two rows of 250 below the 60 of the title).
TEST(RenderSvg, CdfSetsArePanelsOfOneFigureWithGroupLegend) {
    const std::string svg = renderGraphSvg(cdf({"All", "Region", "Matched", "Weighted Matched"}));
    EXPECT_EQ(count(svg, "class=\"curve\""), 8u);
    for (const char* p : {">All<", ">Region<", ">Matched<", ">Weighted Matched<"})
        EXPECT_EQ(count(svg, p), 1u) << p;
    EXPECT_NE(svg.find("width=\"660\" height=\"610\""), std::string::npos) << svg.substr(0, 200);
    EXPECT_EQ(count(svg, "Cumulative Percent"), 2u); // once per grid row
    // Legends name the groups by their level texts; the figure by its full title.
    EXPECT_NE(svg.find(">Treated (smoke = smoker)<"), std::string::npos);
    EXPECT_NE(svg.find(">Control (smoke = non-smoker)<"), std::string::npos);
    EXPECT_NE(svg.find(">Cumulative Distribution of age<"), std::string::npos);
    // One panel keeps the single wide layout.
    EXPECT_NE(renderGraphSvg(cdf({"All"})).find("width=\"640\" height=\"360\""), std::string::npos);
}

// Matched controls are filled triangles, unmatched ones open; points outside the region are
// faded, and the legend says what each look means.
TEST(RenderSvg, CloudTellsMatchedFromUnmatchedControls) {
    GraphRecord g = cloud(0);
    g.phantom.dynamics.push_back({"_Match", std::int64_t{1}});
    g.phantom.dynamics.push_back({"_XTreated", std::string("1")});
    g.phantom.dynamics.push_back({"_XControl", std::string("0")});
    g.columns.reset(g.phantom);
    g.columns.addRow({2.0, 0.1, NAN, NAN, std::string("0")}); // control outside the region
    g.columns.addRow({2.0, NAN, 0.2, NAN, std::string("0")}); // control unmatched
    g.columns.addRow({2.0, NAN, NAN, 0.3, std::string("0")}); // control matched
    g.columns.addRow({4.0, NAN, NAN, 0.4, std::string("1")}); // treated matched
    const std::string svg = renderGraphSvg(g);
    const std::string filled = "fill=\"" + std::string(svg::kControlColour) + "\"";
    // The matched control series and its legend key are filled; the other two series are not.
    EXPECT_EQ(count(svg, "class=\"marks\""), 4u);
    std::size_t filledSeries = 0;
    for (auto p = svg.find("class=\"marks\""); p != std::string::npos;
         p = svg.find("class=\"marks\"", p + 1))
        filledSeries += svg.substr(p, svg.find("/>", p) - p).find(filled) != std::string::npos;
    EXPECT_EQ(filledSeries, 1u);
    EXPECT_NE(svg.find(">matched<"), std::string::npos);
    EXPECT_NE(svg.find(">unmatched, in the region<"), std::string::npos);
    EXPECT_NE(svg.find(">outside the support region (faded)<"), std::string::npos);
    EXPECT_NE(svg.find(">Treated (1)<"), std::string::npos);
    EXPECT_NE(svg.find(">Control (0)<"), std::string::npos);
}

// Twelve strata of one row: each stratum's ring sits in its own lane, at least a ring's
// width (9 pixels) from the next, even when the differences are equal.
TEST(RenderSvg, StratumMarksDoNotOverlap) {
    GraphRecord g;
    g.name = "StrataStdDiffPlot";
    g.phantom.name = "StrataStdDiffPhnt";
    for (const char* c : {"XVar", "XMean", "XMean0", "XStrata"})
        g.phantom.addColumn(column(c));
    g.phantom.dynamics = {{"_XMin", -1.0},
                          {"_XMax", 1.0},
                          {"_YMin", 0.0},
                          {"_YMax", 2.0},
                          {"_YTicks", std::string("'age'")}};
    g.columns.reset(g.phantom);
    for (int k = 1; k <= 12; ++k)
        g.columns.addRow({1.0, 0.1, NAN, static_cast<double>(k)});
    const std::string svg = renderGraphSvg(g);
    std::vector<double> ys;
    for (auto p = svg.find("<circle cx="); p != std::string::npos;
         p = svg.find("<circle cx=", p + 1))
        ys.push_back(std::stod(svg.substr(svg.find("cy=\"", p) + 4)));
    ASSERT_EQ(ys.size(), 12u);
    std::sort(ys.begin(), ys.end());
    for (std::size_t i = 1; i < ys.size(); ++i)
        EXPECT_GE(ys[i] - ys[i - 1], 9.0) << i;
}

// With counts, the weighted panels say their bars are weighted totals; the level legend names
// the variable.
TEST(RenderSvg, WeightedFrequencyBarsAreLabelled) {
    GraphRecord g;
    g.name = "BarChart";
    g.phantom.name = "BarPhnt";
    for (const char* c : {"XVal0", "YVal0", "XVal1", "YVal1"})
        g.phantom.addColumn(column(c));
    g.phantom.addColumn(column("Response", ColumnKind::Character));
    g.phantom.addColumn(column("RIndex"));
    g.phantom.dynamics = {{"_XMin", 0.0},
                          {"_XMax", 30.0},
                          {"_YTicks", std::string("'All''Weighted'")},
                          {"_XVarName", std::string("married")}};
    g.columns.reset(g.phantom);
    for (double k : {1.0, 2.0}) {
        g.columns.addRow({k - 0.15, 5.0, NAN, NAN, std::string("1"), 2.0});
        g.columns.addRow({k - 0.15, 15.0, NAN, NAN, std::string("0"), 1.0});
        g.columns.addRow({NAN, NAN, k + 0.15, 4.0, std::string("1"), 2.0});
        g.columns.addRow({NAN, NAN, k + 0.15, 6.0, std::string("0"), 1.0});
    }
    EXPECT_EQ(count(renderGraphSvg(g), "weighted total"), 0u);
    g.phantom.dynamics.push_back({"_WgtTotals", std::string("2 ")});
    const std::string svg = renderGraphSvg(g);
    EXPECT_EQ(count(svg, ">weighted total<"), 1u);
    EXPECT_NE(svg.find(">married = 1<"), std::string::npos);
    EXPECT_NE(svg.find(">married = 0<"), std::string::npos);
}

// Three levels stack in level order from 0 (RIndex 3, 2, 1), dark to light, each named in the
// legend; a legend wider than the figure goes on to a second line and the figure grows.
TEST(RenderSvg, BarsOfThreeLevelsStackAndTheLegendWraps) {
    GraphRecord g;
    g.name = "BarChart";
    g.phantom.name = "BarPhnt";
    for (const char* c : {"XVal0", "YVal0", "XVal1", "YVal1"})
        g.phantom.addColumn(column(c));
    g.phantom.addColumn(column("Response", ColumnKind::Character));
    g.phantom.addColumn(column("RIndex"));
    g.phantom.dynamics = {{"_XMin", 0.0},
                          {"_XMax", 1.09},
                          {"_YTicks", std::string("'All'")},
                          {"_XVarName", std::string("race")}};
    g.columns.reset(g.phantom);
    const char* level[] = {"black", "hispan", "white"};
    const double share[] = {0.5, 0.25, 0.25};
    for (int l = 0; l < 3; ++l)
        g.columns.addRow({0.85, share[l], NAN, NAN, std::string(level[l]), 3.0 - l});
    for (int l = 0; l < 3; ++l)
        g.columns.addRow({NAN, NAN, 1.15, share[2 - l], std::string(level[l]), 3.0 - l});
    const std::string svg = renderGraphSvg(g);
    // Bars: x and width of each, in drawing order.
    std::vector<double> x, w;
    std::vector<std::string> opacity;
    for (auto p = svg.find("<rect class=\"bar\""); p != std::string::npos;
         p = svg.find("<rect class=\"bar\"", p + 1)) {
        x.push_back(std::stod(svg.substr(svg.find("x=\"", p) + 3)));
        w.push_back(std::stod(svg.substr(svg.find("width=\"", p) + 7)));
        const auto o = svg.find("fill-opacity=\"", p) + 14;
        opacity.push_back(svg.substr(o, svg.find('"', o) - o));
    }
    ASSERT_EQ(x.size(), 6u);
    for (int side : {0, 3}) {
        EXPECT_NEAR(x[side + 1], x[side] + w[side], 0.01) << side;
        EXPECT_NEAR(x[side + 2], x[side + 1] + w[side + 1], 0.01) << side;
    }
    EXPECT_NEAR(w[0], 2 * w[1], 0.01);
    EXPECT_NEAR(w[3], w[5] / 2, 0.01);
    EXPECT_EQ(opacity, (std::vector<std::string>{"0.85", "0.53", "0.2", "0.85", "0.53", "0.2"}));
    for (const char* l : {">race = black<", ">race = hispan<", ">race = white<"})
        EXPECT_NE(svg.find(l), std::string::npos) << l;
    EXPECT_NE(svg.find("height=\"420\""), std::string::npos) << "fits on one line";

    // A long treated label (70 characters, 464 pixels from x = 150): the control swatch and
    // the levels go on to a second line, 16 pixels lower.
    g.phantom.dynamics.push_back({"_XTreated", std::string(60, 'T')});
    const std::string wide = renderGraphSvg(g);
    ASSERT_NE(wide.find("Treated (" + std::string(60, 'T') + ")"), std::string::npos);
    EXPECT_NE(wide.find("height=\"436\""), std::string::npos);
    EXPECT_NE(wide.find("<rect x=\"150\" y=\"419\""), std::string::npos) << "second line";
}

TEST(RenderSvg, UnknownTemplateDrawsNothing) {
    GraphRecord g;
    g.name = "Nothing";
    EXPECT_TRUE(renderGraphSvg(g).empty());
}

} // namespace
} // namespace velloc::host

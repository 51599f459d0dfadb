// The SVG renderers: well-formed documents (rasterised once), escaped text, bounded marks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/render_svg.h"

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
    // 42 (40 and a 5% margin): weight 21 is at x 380, and the control line spans the lower
    // half (positions 1 to 3 of 1..5, y 360 to 210).
    g.phantom.dynamics[2].value = 21.0;
    const std::string at21 = renderGraphSvg(g);
    EXPECT_NE(at21.find("<line x1=\"380\" y1=\"360\" x2=\"380\" y2=\"210\" stroke=\"#c00000\""),
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

TEST(RenderSvg, UnknownTemplateDrawsNothing) {
    GraphRecord g;
    g.name = "Nothing";
    EXPECT_TRUE(renderGraphSvg(g).empty());
}

} // namespace
} // namespace velloc::host

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

GraphRecord cloud(std::size_t n) {
    GraphRecord g;
    g.name = "CloudPlot";
    g.phantom.name = "CloudPhnt";
    for (const char* c : {"XVal", "YVal1", "YVal2", "YVal3"})
        g.phantom.addColumn({c});
    ColumnDef r{"Response"};
    r.kind = ColumnKind::Character;
    g.phantom.addColumn(r);
    g.phantom.dynamics = {{"_XMin", 0.0},
                          {"_XMax", 1.0},
                          {"_YTicks", std::string("'C<0>''T&1'")},
                          {"_Seed", std::int64_t{1}}};
    g.dynamics = {{"_Title", std::string("x < y & \"z\"")}};
    for (std::size_t i = 0; i < n; ++i)
        g.data.rows.push_back({i % 2 ? 4.0 : 2.0, NAN, 0.5, NAN, std::string("a")});
    g.data.definition = &g.phantom;
    return g;
}

TEST(RenderSvg, CloudEscapesTextAndThinsHugeClouds) {
    GraphRecord small = cloud(10);
    std::string svg = renderGraphSvg(small);
    EXPECT_NE(svg.find("x &lt; y &amp; &quot;z&quot;"), std::string::npos);
    EXPECT_NE(svg.find("C&lt;0&gt;"), std::string::npos);
    EXPECT_EQ(svg.find("x < y"), std::string::npos);
    EXPECT_EQ(count(svg, "class=\"mark\""), 10u + 2u); // ten points and two legend keys
    // The same record draws the same figure: the jitter has its own seeded stream.
    EXPECT_EQ(svg, renderGraphSvg(small));
    GraphRecord huge = cloud(1000000);
    std::string big = renderGraphSvg(huge);
    EXPECT_LE(count(big, "class=\"mark\""), 2 * kMaxMarksPerSeries + 2);
    EXPECT_GT(count(big, "class=\"mark\""), kMaxMarksPerSeries / 2);

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

TEST(RenderSvg, UnknownTemplateDrawsNothing) {
    GraphRecord g;
    g.name = "Nothing";
    EXPECT_TRUE(renderGraphSvg(g).empty());
}

} // namespace
} // namespace velloc::host

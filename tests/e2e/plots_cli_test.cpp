// Every graph of a full plot request, as a user gets it: one well-formed SVG file per graph
// that a real rasteriser accepts, the same graphs inline in the HTML report, and nothing drawn
// with graphics switched off.
#include <gtest/gtest.h>

#include "cli_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using velloc::e2e::shell;
using velloc::e2e::slurp;

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class PlotsCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("velloc_plots_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "p.vlc")
            << "proc velloc data='" VELLOC_TEST_DATA "/lalonde/lalonde.csv' region=allobs;\n"
               "  class treat race married nodegree;\n"
               "  psmodel treat(treated='1') = age educ race married nodegree re74 re75;\n"
               "  strata nstrata=4;\n"
               "  assess lps ps var=(age educ re74 married nodegree) / varinfo plots=(all);\n"
               "run;\n";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(PlotsCli, EveryGraphIsAValidSvgFileAndInTheReport) {
    std::string cmd = "cd '" + dir.string() + "' && '" VELLOC_BINARY "' --log run.log " +
                      "--html r.html --graphs-dir g p.vlc > out.lst";
    ASSERT_EQ(shell(cmd), 0) << slurp(dir / "run.log");
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir / "g")) {
        ++files;
        const std::string f = e.path().string();
        EXPECT_EQ(shell("python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' '" +
                        f + "'"),
                  0)
            << "not well-formed XML: " << f;
        EXPECT_EQ(shell("rsvg-convert '" + f + "' > /dev/null"), 0)
            << "cannot be rasterised: " << f;
    }
    // Standardized differences, box, CDF, bar and cloud plots, plain and stratified.
    EXPECT_GE(files, 10u);
    const std::string html = slurp(dir / "r.html");
    EXPECT_EQ(count(html, "<svg"), files);
    EXPECT_EQ(count(html, "<script"), 0u);
}

TEST_F(PlotsCli, GraphicsOffDrawsNothing) {
    std::string cmd = "cd '" + dir.string() + "' && '" VELLOC_BINARY "' --log run.log " +
                      "--no-graphics --html r.html --graphs-dir g p.vlc > out.lst";
    ASSERT_EQ(shell(cmd), 0) << slurp(dir / "run.log");
    EXPECT_TRUE(fs::is_empty(dir / "g"));
    EXPECT_EQ(count(slurp(dir / "r.html"), "<svg"), 0u);
    EXPECT_NE(slurp(dir / "run.log").find("[210-1104]"), std::string::npos);
}

} // namespace

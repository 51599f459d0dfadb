// Phantom tables of the plots: tick texts, panels and the standardized-difference dynamics.
#include <gtest/gtest.h>

#include "../assess/assess_fixture.h"
#include "plots/plots.h"

namespace velloc {
namespace {

struct GraphCapture : host::OutputSink {
    std::vector<host::GraphRecord> graphs;
    void graph(const host::OutputContext&, const host::GraphRecord& g) override {
        graphs.push_back(g);
    }
};

double dyn(const host::GraphRecord& g, const std::string& name) {
    for (const auto& d : g.phantom.dynamics)
        if (d.name == name) {
            if (auto p = std::get_if<double>(&d.value)) return *p;
            if (auto p = std::get_if<std::int64_t>(&d.value)) return static_cast<double>(*p);
        }
    ADD_FAILURE() << "no dynamic " << name;
    return NAN;
}

TEST(PlotTicks, NamesAreCutQuotedAndQuotesReplaced) {
    bool replaced = false;
    EXPECT_EQ(tickLabel("abcdefghijklmnopqrstuvwxy", &replaced), "'abcdefghijklmnopqrst'");
    EXPECT_FALSE(replaced);
    EXPECT_EQ(tickLabel("o'brien  ", &replaced), "'o\"brien'");
    EXPECT_TRUE(replaced);
    EXPECT_EQ(strataTicks(3), "'1''2''3'");
    EXPECT_EQ(strataTicks(10).substr(0, 8), "' 1'' 2'");
    EXPECT_EQ(strataTicks(10).size(), 10u * 4u);
}

TEST(PlotPanels, FinalSetOnlyWithMatchWeightsShowsAllAndWeightedMatched) {
    testing::AssessRun a;
    a.run.matchGiven = a.run.matchActive = 1;
    a.run.weightType = kWeightMatch;
    a.run.finalSetOnly = 1;
    vlcpset(a.run);
    EXPECT_EQ(a.run.plotPanels, (std::vector<int>{kPanelAll, kPanelMatchWgt}));
    a.run.finalSetOnly = 0;
    vlcpset(a.run);
    EXPECT_EQ(a.run.plotPanels,
              (std::vector<int>{kPanelAll, kPanelRegion, kPanelMatch, kPanelMatchWgt}));
    a.run.matchActive = 0; // MATCH given but not run
    vlcpset(a.run);
    EXPECT_EQ(a.run.plotPanels, (std::vector<int>{kPanelAll, kPanelRegion}));
}

TEST(PlotMembership, RegionAndMatchThresholdsAreStrict) {
    PlotObs o;
    o.status = 0.1;
    EXPECT_TRUE(inPanel(o, kPanelAll));
    EXPECT_FALSE(inPanel(o, kPanelRegion));
    o.status = 1.1;
    EXPECT_TRUE(inPanel(o, kPanelRegionWgt));
    EXPECT_FALSE(inPanel(o, kPanelMatch));
    o.status = 2.0;
    EXPECT_TRUE(inPanel(o, kPanelMatchWgt));
}

TEST(StdDiffPlot, OneRowBandOffAndBinaryRowsFromProportions) {
    testing::AssessRun a;
    auto cap = std::make_shared<GraphCapture>();
    a.output.addSink(cap);
    a.run.plotStdDiff = 1;
    a.run.assessPs = 0;
    a.run.classIndicators.clear(); // only x is plotted
    a.run.stdDiffRef = 0.0;
    a.slot(kAllObs, 0).z = 0.4;
    a.slot(kRegion, 0).z = 0.1;
    vlcpset(a.run);
    vlcpltd(a.run);
    ASSERT_EQ(cap->graphs.size(), 1u);
    const auto& g = cap->graphs[0];
    EXPECT_EQ(g.templatePath, "Stat.Velloc.Graphics.StdDiffPlot");
    EXPECT_EQ(dyn(g, "_YIncr"), 0);
    EXPECT_EQ(dyn(g, "_YMax"), 2);
    EXPECT_EQ(dyn(g, "_Band"), 0);
    EXPECT_EQ(dyn(g, "_DMin"), 0);
    ASSERT_EQ(g.rowCount(), 2u); // the row and the closing all-missing row
    EXPECT_EQ(g.number(0, 1), 0.4);
    EXPECT_TRUE(std::isnan(g.number(1, 0)));

    // A binary row: (p_t - p_c) / D with D the all-observations deviation; missing D: skipped.
    cap->graphs.clear();
    a.run.classIndicators = {{0, 0, {}, {}}};
    a.setGroups(kAllObs, 4, 0.6, 0.24, 0.4, 0.24); // D = sqrt(0.24)
    vlcpset(a.run);
    vlcpltd(a.run);
    ASSERT_EQ(cap->graphs.size(), 1u);
    EXPECT_NEAR(cap->graphs[0].number(1, 1), 0.2 / std::sqrt(0.24), 1e-15);
    EXPECT_EQ(dyn(cap->graphs[0], "_YIncr"), 1);
    cap->graphs.clear();
    a.slot(kAllObs, 4).s = NAN;
    vlcpset(a.run);
    vlcpltd(a.run);
    EXPECT_EQ(cap->graphs[0].rowCount(), 2u); // position 2 stays empty
}

} // namespace
} // namespace velloc

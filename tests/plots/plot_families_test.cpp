// Phantom rows of the distribution and stratified plot families, from a six-record working
// file written by hand; every expected row is worked out in the comments.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include "../assess/assess_fixture.h"
#include "adjust/adjust.h"
#include "plots/plots.h"
#include "render/dynamics.h"
#include "render/graph_renderers.h"

namespace velloc {
namespace {

using testing::AssessRun;

struct GraphCapture : host::OutputSink {
    std::vector<host::GraphRecord> graphs;
    void graph(const host::OutputContext&, const host::GraphRecord& g) override {
        graphs.push_back(g);
    }
};

constexpr int kRec = 15; // 13 fixed fields, the CLASS indicator, x
constexpr double NaN = kPlotNaN;

struct Rec {
    bool treated;
    double f, status, x, att, matchAtt, stratum;
};

// rec  group    f  status  x  ATT   match ATT  stratum
//  1   treated  1  2.0     1  1     1          1
//  2   treated  2  1.1     3  1     1          2
//  3   control  1  0.1     2  0.5   .          .
//  4   control  1  1.5     4  0.25  0.5        1
//  5   control  3  2.5     6  1.5   2          2
//  6   control  1  0.5     5  0.75  .          3
const std::vector<Rec> kSix = {
    {true, 1, 2.0, 1, 1, 1, 1},        {true, 2, 1.1, 3, 1, 1, 2},
    {false, 1, 0.1, 2, 0.5, NaN, NaN}, {false, 1, 1.5, 4, 0.25, 0.5, 1},
    {false, 3, 2.5, 6, 1.5, 2, 2},     {false, 1, 0.5, 5, 0.75, NaN, 3},
};

struct PlotRun : AssessRun {
    std::shared_ptr<GraphCapture> cap = std::make_shared<GraphCapture>();
    std::ostringstream log;

    explicit PlotRun(const std::vector<Rec>& recs = kSix) {
        host::Log::setStream(&log);
        output.addSink(cap);
        run.assessPs = 0;
        run.weightType = kWeightNone;
        run.boxSel.vars = run.cdfSel.vars = run.cloudSel.vars = {1};
        run.barSel.vars = {1};
        run.classIndicators = {{0, 0, "A", "B"}};
        run.balance.wideLo[0] = -1, run.balance.wideHi[0] = 9;
        run.balance.narrowLo[0] = 0, run.balance.narrowHi[0] = 8;
        run.balance.strataLo[0] = -2, run.balance.strataHi[0] = 10;
        run.voutRecBytes = kRec * 8;
        run.voutClass = 13;
        run.voutCont = 14;
        run.combinedVars = {0};
        write(recs);
    }
    ~PlotRun() { host::Log::setStream(nullptr); }

    // A fresh working file of these records (as the next BY group's).
    void write(const std::vector<Rec>& recs) {
        run.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT", kRec * 8);
        run.vlcvout->point(-2);
        int n = 0;
        for (const Rec& o : recs) {
            double r[kRec] = {};
            r[kVoutObs] = ++n;
            r[kVoutFreq] = o.f;
            r[kVoutTreat] = o.treated ? 1 : 0;
            r[kVoutRegion] = o.status;
            r[kVoutAte] = r[kVoutAteStab] = r[kVoutAtt] = o.att;
            r[kVoutMatchAtt] = r[kVoutMatchAte] = o.matchAtt;
            r[kVoutStratum] = o.stratum;
            r[14] = o.x;
            EXPECT_EQ(run.vlcvout->write(r), 0);
        }
    }

    int logged(const std::string& what) const {
        const std::string s = log.str();
        int n = 0;
        for (auto p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
            ++n;
        return n;
    }
};

double dyn(const host::GraphRecord& g, const std::string& name) {
    for (const auto* list : {&g.phantom.dynamics, &g.dynamics})
        for (const auto& d : *list)
            if (d.name == name) {
                if (auto p = std::get_if<double>(&d.value)) return *p;
                if (auto p = std::get_if<std::int64_t>(&d.value)) return static_cast<double>(*p);
            }
    return NAN;
}

std::string dynText(const host::GraphRecord& g, const std::string& name) {
    for (const auto* list : {&g.phantom.dynamics, &g.dynamics})
        for (const auto& d : *list)
            if (d.name == name)
                if (auto p = std::get_if<std::string>(&d.value)) return *p;
    return "(none)";
}

// One column of the phantom rows; missing numbers stay NaN.
std::vector<double> column(const host::GraphRecord& g, const std::string& name) {
    int c = g.phantom.columnIndex(name);
    EXPECT_GE(c, 0) << name;
    std::vector<double> out;
    for (std::size_t r = 0; r < g.rowCount() && c >= 0; ++r)
        out.push_back(g.number(r, static_cast<std::size_t>(c)));
    return out;
}

std::vector<std::string> texts(const host::GraphRecord& g, const std::string& name) {
    int c = g.phantom.columnIndex(name);
    EXPECT_GE(c, 0) << name;
    std::vector<std::string> out;
    for (std::size_t r = 0; r < g.rowCount() && c >= 0; ++r)
        out.push_back(g.text(r, static_cast<std::size_t>(c)));
    return out;
}

// Element-wise comparison within a few ulps; NaN matches NaN.
void expectValues(const std::vector<double>& got, const std::vector<double>& want,
                  const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (std::isnan(want[i]))
            EXPECT_TRUE(std::isnan(got[i])) << what << " row " << i;
        else
            EXPECT_DOUBLE_EQ(got[i], want[i]) << what << " row " << i;
    }
}

TEST(BoxPlot, PanelsAtKPlusMinusPointFifteenWithStrictThresholds) {
    PlotRun a;
    a.run.plotBox = 1;
    a.run.matchGiven = a.run.matchActive = 1; // no weights: All, Region, Matched
    vlcpset(a.run);
    vlcpltx(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    EXPECT_EQ(g.name, "BoxPlot");
    EXPECT_EQ(dynText(g, "_YTicks"), "'All''Region''Matched'");
    EXPECT_EQ(dyn(g, "_YMax"), 3.9);
    EXPECT_EQ(dyn(g, "_YEnd"), 3);
    EXPECT_EQ(dyn(g, "_XMin"), -1);
    EXPECT_EQ(dyn(g, "_XMax"), 9);
    // All: treated 1, 2 then controls 3-6. Region (s > 0.1): rec 3 (s = 0.1) is out.
    // Matched (s > 1.1): rec 2 (s = 1.1) and rec 6 are out.
    expectValues(
        column(g, "YVal"),
        {1.15, 1.15, 0.85, 0.85, 0.85, 0.85, 2.15, 2.15, 1.85, 1.85, 1.85, 3.15, 2.85, 2.85},
        "YVal");
    expectValues(column(g, "XVal"), {1, 3, 2, 4, 6, 5, 1, 3, 4, 6, 5, 1, 4, 6}, "XVal");
    expectValues(column(g, "XFrq"), {1, 2, 1, 1, 3, 1, 1, 2, 1, 3, 1, 1, 1, 3}, "XFrq");
    expectValues(column(g, "XWgt"), std::vector<double>(14, 1.0), "XWgt");
    EXPECT_EQ(texts(g, "Response")[0], "1");
    EXPECT_EQ(texts(g, "Response")[2], "0");

    // The vertical layout leaves less room above the last panel.
    a.cap->graphs.clear();
    a.run.plotOrientation = 2;
    vlcpltx(a.run);
    EXPECT_EQ(dyn(a.cap->graphs.at(0), "_YMax"), 3.5);
    EXPECT_EQ(dyn(a.cap->graphs.at(0), "_Vertical"), 1);
}

TEST(BoxPlot, WeightedPanelsCarryTheirWeights) {
    PlotRun a;
    a.run.plotBox = 1;
    a.run.weightType = kWeightAtt; // ATT: All, Region, Weighted (region members with ATT weights)
    vlcpset(a.run);
    vlcpltx(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    std::vector<double> w = column(a.cap->graphs[0], "XWgt");
    ASSERT_EQ(w.size(), 6u + 5u + 5u);
    expectValues({w.begin() + 11, w.end()}, {1, 1, 0.25, 1.5, 0.75}, "weighted panel");
    expectValues({w.begin(), w.begin() + 11}, std::vector<double>(11, 1.0), "plain panels");

    // ATT match weights: the fourth panel is the matched set (s > 1.1) with match weights.
    PlotRun m;
    m.run.plotBox = 1;
    m.run.weightType = kWeightMatch;
    m.run.matchGiven = m.run.matchActive = 1;
    vlcpset(m.run);
    vlcpltx(m.run);
    std::vector<double> mw = column(m.cap->graphs.at(0), "XWgt");
    std::vector<double> pos = column(m.cap->graphs.at(0), "YVal");
    ASSERT_EQ(mw.size(), 6u + 5u + 3u + 3u);
    expectValues({mw.end() - 3, mw.end()}, {1, 0.5, 2}, "match weights");
    expectValues({pos.end() - 3, pos.end()}, {4.15, 3.85, 3.85}, "fourth panel");
}

TEST(CdfPlot, CurvesReachExactlyOneHundredAndBandsFollowBothCurves) {
    PlotRun a;
    a.run.plotCdf = 1; // panels All and Region side by side in one graph
    vlcpset(a.run);
    ASSERT_EQ(vlcpltc(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    EXPECT_EQ(dyn(g, "_PanelNum"), 1);
    EXPECT_EQ(dyn(g, "_NRow"), 1);
    EXPECT_EQ(dyn(g, "_NCol"), 2);
    EXPECT_EQ(dyn(g, "_XMin"), 0);
    // Value order: 1 (T, f 1), 2 (C), 3 (T, f 2), 4 (C), 5 (C), 6 (C, f 3).
    // All: treated total 3, control total 6. Treated: 0, 100/3, 100, end 100, separator.
    // Control: 0, 100/6, 200/6, 300/6, 100, end 100, separator. Bands: two rows per record
    // and a separator. Region: rec 3 out, control total 5: 0, 20, 40, 100, end 100.
    // Rows: 5 + 7 + 13 + 5 + 6 + 11 = 47.
    ASSERT_EQ(g.rowCount(), 47u);
    std::vector<double> y = column(g, "YVal"), x = column(g, "XVal");
    expectValues({y.begin(), y.begin() + 12},
                 {0, 100.0 / 3, 100, 100, NaN, 0, 100.0 / 6, 200.0 / 6, 50, 100, 100, NaN},
                 "All curves");
    expectValues({x.begin(), x.begin() + 12}, {0, 1, 3, 8, NaN, 0, 2, 4, 5, 6, 8, NaN},
                 "All values");
    // Last record of each curve is at exactly 100, not a rounding step short or over it.
    EXPECT_EQ(y[2], 100.0);
    EXPECT_EQ(y[9], 100.0);
    // Band after rec 3 (control, x 2): F_t = 100/3 > F_c = 100/6.
    std::vector<double> tmin = column(g, "TMin"), tmax = column(g, "TMax"),
                        cmin = column(g, "CMin"), cmax = column(g, "CMax");
    EXPECT_EQ(x[14], 2);
    EXPECT_DOUBLE_EQ(tmin[15], 100.0 / 6);
    EXPECT_DOUBLE_EQ(tmax[15], 100.0 / 3);
    EXPECT_DOUBLE_EQ(cmin[15], 100.0 / 6);
    EXPECT_DOUBLE_EQ(cmax[15], 100.0 / 6);
    // Last band row of All: both at 100, so F_t <= F_c and everything is 100.
    for (const auto* c : {&tmin, &tmax, &cmin, &cmax})
        EXPECT_EQ((*c)[23], 100.0);
    EXPECT_TRUE(std::isnan(tmin[24]));
    // Region control curve.
    expectValues({y.begin() + 30, y.begin() + 36}, {0, 20, 40, 100, 100, NaN}, "Region control");
    std::vector<std::string> panel = texts(g, "Obs");
    EXPECT_EQ(panel[0], "All Observations");
    EXPECT_EQ(panel[25], "Observations in Support Region");
    EXPECT_EQ(texts(g, "Treatment")[0], "1");
    EXPECT_EQ(texts(g, "Treatment")[5], "0");
}

// Sinks that only draw graphs get each curve's drawn vertices alone, without the bands: the
// same SVG as from the whole graph, for small curves (every point, the end twice, as drawn)
// and for curves past the vertex limit, by set and by stratum; a sink that keeps graph rows
// (graph tables) still gets every row.
// The graph of a family as a sink that only draws gets it, alone (keepRows false) or beside a
// sink that keeps graph rows; setup adjusts the run before the family runs.
host::GraphRecord drawnGraph(const std::vector<Rec>& recs, int (*family)(VlcRun&),
                             void (*setup)(VlcRun&), bool keepRows) {
    struct DrawOnly : GraphCapture {
        bool keepsGraphRows() const override { return false; }
    };
    PlotRun a(recs);
    a.output.clearSinks();
    auto cap = std::make_shared<DrawOnly>();
    a.output.addSink(cap);
    if (keepRows) a.output.addSink(std::make_shared<GraphCapture>());
    a.run.plotCdf = a.run.plotCloud = 1;
    a.run.cloudSeed = 12345;
    setup(a.run);
    vlcpset(a.run);
    EXPECT_EQ(family(a.run), 0);
    EXPECT_EQ(cap->graphs.size(), 1u);
    return cap->graphs.empty() ? host::GraphRecord{} : cap->graphs[0];
}

void threeStrata(VlcRun& r) {
    r.nStrata = r.nStrataShown = 3;
    r.strataAssess = 1;
    r.balance.reset(4, 1, 3);
    r.balance.strataLo[0] = -2, r.balance.strataHi[0] = 10;
    r.balance.narrowLo[0] = 0, r.balance.narrowHi[0] = 8;
}

host::GraphRecord cdfGraph(const std::vector<Rec>& recs, bool byStratum, bool keepRows) {
    return drawnGraph(
        recs, byStratum ? vlcplsc : vlcpltc, byStratum ? threeStrata : [](VlcRun&) {}, keepRows);
}

TEST(CdfPlot, DrawingOnlySinksGetTheDrawnVerticesAndTheSameDrawing) {
    const host::GraphRecord lean = cdfGraph(kSix, false, false);
    const host::GraphRecord whole = cdfGraph(kSix, false, true);
    ASSERT_EQ(whole.rowCount(), 47u); // as above, bands included
    // All: treated 0, 1, 3, 8 and 8 again, control 0, 2, 4, 5, 6, 8, 8; Region (rec 3 out):
    // treated the same, control 0, 4, 5, 6, 8, 8; a separator after each curve.
    expectValues(column(lean, "XVal"), {0, 1, 3, 8, 8, NaN, 0, 2, 4, 5, 6, 8, 8,  NaN,
                                        0, 1, 3, 8, 8, NaN, 0, 4, 5, 6, 8, 8, NaN},
                 "vertices");
    for (const char* c : {"TMin", "TMax", "CMin", "CMax"})
        for (double v : column(lean, c))
            EXPECT_TRUE(std::isnan(v)) << c;
    const std::string svg = host::renderGraphSvg(lean);
    EXPECT_NE(svg.find("class=\"curve\""), std::string::npos);
    EXPECT_EQ(svg, host::renderGraphSvg(whole));

    // 9,000 records: control curves past the limit are decimated (in each stratum too).
    std::vector<Rec> many;
    for (int i = 0; i < 9000; ++i)
        many.push_back({i % 3 == 0, 1.0 + i % 2, i % 7 == 0 ? 0.1 : 2.0,
                        static_cast<double>(i * 7919 % 2503) / 313.0, 1, 1,
                        static_cast<double>(1 + i % 3)});
    for (bool byStratum : {false, true}) {
        const host::GraphRecord l = cdfGraph(many, byStratum, false);
        const host::GraphRecord w = cdfGraph(many, byStratum, true);
        EXPECT_LT(l.rowCount(), w.rowCount() / (byStratum ? 1 : 2)) << byStratum;
        EXPECT_EQ(host::renderGraphSvg(l), host::renderGraphSvg(w)) << byStratum;
    }
}

// Rows of the CDF family are sorted one ahead of the one being drawn: each graph is the one a
// run plotting that row alone draws (PS, LPS and x, with different value orders).
TEST(CdfPlot, EachRowDrawsWhatItDrawsAlone) {
    auto graphs = [](bool ps, bool lps, bool x) {
        PlotRun a;
        // The six records again, with a PS rising and an LPS falling against x.
        a.run.vlcvout->point(0);
        std::vector<std::vector<double>> recs;
        std::vector<double> r(kRec);
        while (a.run.vlcvout->read(r.data()))
            recs.push_back(r);
        a.run.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT", kRec * 8);
        a.run.vlcvout->point(-2);
        for (auto& rec : recs) {
            rec[kVoutPs] = 0.9 - rec[14] / 10.0 * (rec[kVoutObs] == 2 ? -1 : 1);
            rec[kVoutLps] = -rec[14] * rec[kVoutObs];
            EXPECT_EQ(a.run.vlcvout->write(rec.data()), 0);
        }
        for (int s : {2, 3})
            a.run.balance.narrowLo[s] = -40, a.run.balance.narrowHi[s] = 40;
        a.run.cdfSel.ps = ps, a.run.cdfSel.lps = lps;
        a.run.cdfSel.vars = {x ? 1 : 0};
        a.run.plotCdf = 1;
        vlcpset(a.run);
        EXPECT_EQ(vlcpltc(a.run), 0);
        std::vector<std::string> svg;
        for (const auto& g : a.cap->graphs)
            svg.push_back(host::renderGraphSvg(g) + texts(g, "Obs")[0] +
                          std::to_string(column(g, "XVal")[1]));
        return svg;
    };
    const std::vector<std::string> all = graphs(true, true, true);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], graphs(true, false, false).at(0));
    EXPECT_EQ(all[1], graphs(false, true, false).at(0));
    EXPECT_EQ(all[2], graphs(false, false, true).at(0));
    EXPECT_NE(all[0], all[1]);
    EXPECT_NE(all[1], all[2]);
}

// Sinks that only draw get a cloud's drawn marks alone: the same drawing (marks, jitter,
// opacity, legend) as from every row, for clouds thinned and not, by set, by stratum and of
// the weights; a cloud whose values are all missing is still drawn, without marks.
TEST(CloudPlots, DrawingOnlySinksGetTheDrawnMarksAndTheSameDrawing) {
    std::vector<Rec> many;
    for (int i = 0; i < 12000; ++i)
        many.push_back({i % 3 == 0, 1, i % 7 == 0 ? 0.1 : (i % 5 ? 2.0 : 1.5),
                        i % 97 == 0 ? NaN : static_cast<double>(i * 7919 % 2503) / 313.0,
                        0.5 + i % 4, 1, static_cast<double>(1 + i % 3)});
    // 3,999 matched treated marks (one of the six and 3,998 more): every second is kept,
    // 2,000 of them, which a second thinning would halve again.
    std::vector<Rec> edge(kSix.begin(), kSix.end());
    for (int i = 0; i < 3998; ++i)
        edge.push_back({true, 1, 2.0, static_cast<double>(i % 89) / 11.0, 1, 1, 1});
    std::vector<Rec> missing = kSix;
    for (Rec& r : missing)
        r.x = NaN;
    auto plain = [](VlcRun&) {};
    auto matched = [](VlcRun& r) { r.matchActive = r.matchGiven = 1; };
    auto strata = threeStrata;
    auto weights = [](VlcRun& r) {
        r.weightType = kWeightAtt;
        r.pT = 0.3, r.pC = 0.7, r.maxWeight = 4;
    };
    struct Case {
        const std::vector<Rec>* recs;
        int (*family)(VlcRun&);
        void (*setup)(VlcRun&);
        bool thinned;
    };
    const Case cases[] = {{&kSix, vlcpltj, plain, false},  {&many, vlcpltj, plain, true},
                          {&many, vlcpltj, matched, true}, {&many, vlcplsj, strata, true},
                          {&many, vlcpltw, weights, true}, {&missing, vlcpltj, plain, false},
                          {&kSix, vlcplsj, strata, false}, {&edge, vlcpltj, plain, false}};
    for (const Case& c : cases) {
        const host::GraphRecord lean = drawnGraph(*c.recs, c.family, c.setup, false);
        const host::GraphRecord whole = drawnGraph(*c.recs, c.family, c.setup, true);
        const std::string svg = host::renderGraphSvg(lean);
        EXPECT_EQ(svg, host::renderGraphSvg(whole)) << whole.name << " " << c.recs->size();
        EXPECT_EQ(svg.find("class=\"marks\"") != std::string::npos, c.recs != &missing);
        if (c.thinned)
            EXPECT_LT(lean.rowCount(), whole.rowCount() / 2) << whole.name;
        else
            EXPECT_LE(lean.rowCount(), whole.rowCount());
    }
}

// Sinks that only draw get each box's summary instead of the box graph's rows: the same
// drawing (quartiles, whiskers, means, outliers thinned or not) as from every row, by set,
// weighted, matched and by stratum; a row whose values are all missing draws no box.
TEST(BoxPlot, DrawingOnlySinksGetTheBoxesSummariesAndTheSameDrawing) {
    std::vector<Rec> many;
    for (int i = 0; i < 12000; ++i)
        many.push_back({i % 3 == 0, 1.0 + i % 2, i % 7 == 0 ? 0.1 : (i % 5 ? 2.0 : 1.5),
                        i % 97 == 0 ? NaN : static_cast<double>(i * 7919 % 2503) / 313.0,
                        0.5 + i % 4, 1, static_cast<double>(1 + i % 3)});
    // 3,000 distinct controls far out: more outliers than a box draws (thinned to 2,000).
    std::vector<Rec> tails = many;
    for (int i = 0; i < 3000; ++i)
        tails.push_back({false, 1, 2.0, 100.0 + i * 0.37, 1, 1, 2});
    std::vector<Rec> missing = kSix;
    for (Rec& r : missing)
        r.x = NaN;
    auto plain = [](VlcRun&) {};
    auto matched = [](VlcRun& r) { r.matchActive = r.matchGiven = 1; };
    auto weights = [](VlcRun& r) {
        r.weightType = kWeightAtt;
        r.pT = 0.3, r.pC = 0.7, r.maxWeight = 4;
    };
    auto strataWeighted = [](VlcRun& r) {
        threeStrata(r);
        r.weightType = kWeightAtt;
    };
    struct Case {
        const std::vector<Rec>* recs;
        int (*family)(VlcRun&);
        void (*setup)(VlcRun&);
        int outliers; // drawn, -1 for some
    };
    const Case cases[] = {{&kSix, vlcpltx, plain, 0},
                          {&many, vlcpltx, plain, -1},
                          {&many, vlcpltx, weights, -1},
                          {&many, vlcpltx, matched, -1},
                          {&tails, vlcpltx, plain, -1},
                          {&kSix, vlcplsx, threeStrata, 0},
                          {&tails, vlcplsx, strataWeighted, -1},
                          {&missing, vlcpltx, plain, 0}};
    for (const Case& c : cases) {
        const host::GraphRecord lean = drawnGraph(*c.recs, c.family, c.setup, false);
        const host::GraphRecord whole = drawnGraph(*c.recs, c.family, c.setup, true);
        EXPECT_EQ(dyn(lean, host::dyn::kBoxSummary), 1);
        EXPECT_TRUE(std::isnan(dyn(whole, host::dyn::kBoxSummary)));
        const std::string svg = host::renderGraphSvg(lean);
        EXPECT_EQ(svg, host::renderGraphSvg(whole)) << whole.name << " " << c.recs->size();
        EXPECT_EQ(svg.find("class=\"box\"") != std::string::npos, c.recs != &missing);
        if (c.recs != &kSix && c.recs != &missing) {
            EXPECT_LT(lean.rowCount() * 4, whole.rowCount()) << whole.name;
        }
        std::size_t drawn = 0;
        for (auto p = svg.find("class=\"outlier\""); p != std::string::npos;
             p = svg.find("class=\"outlier\"", p + 1))
            ++drawn;
        if (c.outliers >= 0) {
            EXPECT_EQ(drawn, static_cast<std::size_t>(c.outliers));
        }
        if (c.recs == &tails) {
            EXPECT_GE(drawn, host::kMaxMarksPerSeries);
        }
    }
}

TEST(PlotRecords, FamiliesShareOneReadAndEachByGroupReadsItsOwnWorkingFile) {
    PlotRun a;
    a.run.plotCdf = a.run.plotBox = 1;
    vlcpset(a.run);
    ASSERT_EQ(vlcpltx(a.run), 0);
    ASSERT_EQ(vlcpltc(a.run), 0);
    // The next BY group: the same six records with x + 1 (so 2..7), rec 1 now a control.
    std::vector<Rec> next = kSix;
    for (Rec& r : next)
        r.x += 1;
    next[0].treated = false;
    a.write(next);
    vlcpset(a.run);
    ASSERT_EQ(vlcpltc(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 3u);
    // First group's All treated curve: lo 0, x 1 and 3, hi 8; the second group's has only
    // rec 2 (x 4) and its control curve starts at rec 1 (x 2).
    const std::vector<double> first = column(a.cap->graphs[1], "XVal");
    const std::vector<double> second = column(a.cap->graphs[2], "XVal");
    expectValues({first.begin(), first.begin() + 5}, {0, 1, 3, 8, NaN}, "first group");
    expectValues({second.begin(), second.begin() + 9}, {0, 4, 8, NaN, 0, 2, 3, 5, 6},
                 "second group");
    EXPECT_EQ(column(a.cap->graphs[2], "YVal")[1], 100.0); // rec 2 alone, f 2 of 2
}

TEST(CdfPlot, SevenEqualRecordsEndAtOneHundredAndFourPanelsMakeOneGraph) {
    // Seven controls of frequency 1: adding 100/7 seven times gives 100.00000000000001; the
    // curve must still end at 100.
    std::vector<Rec> recs = {{true, 1, 2, 0.5, 1, 1, 1}};
    for (int i = 1; i <= 7; ++i)
        recs.push_back({false, 1, 2, static_cast<double>(i), 1, 1, 1});
    PlotRun a(recs);
    a.run.plotCdf = 1;
    a.run.weightType = kWeightMatch;
    a.run.matchGiven = a.run.matchActive = 1; // four panels in three columns
    vlcpset(a.run);
    ASSERT_EQ(vlcpltc(a.run), 0);
    // One figure per variable: every set is a panel of it, in a grid of two columns.
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    EXPECT_EQ(dynText(g, "_Title"), "x");
    EXPECT_EQ(dyn(g, "_NCol"), 2);
    EXPECT_EQ(dyn(g, "_NRow"), 2);
    std::vector<std::string> panels;
    for (const std::string& t : texts(g, "Obs"))
        if (!t.empty() && (panels.empty() || panels.back() != t)) panels.push_back(t);
    EXPECT_EQ(panels,
              (std::vector<std::string>{"All Observations", "Observations in Support Region",
                                        "Matched Observations", "Weighted Matched Observations"}));
    // Each panel holds both groups: the treated level and the control level.
    std::vector<std::string> treatment = texts(g, "Treatment"), obs = texts(g, "Obs");
    for (const std::string& p : panels) {
        std::set<std::string> levels;
        for (std::size_t r = 0; r < obs.size(); ++r)
            if (obs[r] == p && !treatment[r].empty()) levels.insert(treatment[r]);
        EXPECT_EQ(levels, (std::set<std::string>{"0", "1"})) << p;
    }
    // The legend's level texts travel with the graph.
    EXPECT_EQ(dynText(g, "_XTreated"), "1");
    EXPECT_EQ(dynText(g, "_XControl"), "0");
    EXPECT_EQ(dynText(g, "_TrtVar"), "treat");
    std::vector<double> y = column(g, "YVal");
    // Treated: 0, 100, 100, sep; control: 0, then k/7 of 100 for k = 1..7.
    EXPECT_DOUBLE_EQ(y[5], 100.0 / 7);
    EXPECT_DOUBLE_EQ(y[8], 400.0 / 7);
    EXPECT_EQ(y[11], 100.0);
}

TEST(BarChart, ProportionsAndCountsPerPanel) {
    PlotRun a;
    a.run.plotBar = 1;
    vlcpset(a.run); // All, Region
    auto setBin = [&](int set, double pt, double pc, double nt, double nc) {
        auto& st = a.run.balance.sets[set];
        st.slots[4].g[kTreated].mean = pt;
        st.slots[4].g[kControl].mean = pc;
        st.total[kTreated] = nt;
        st.total[kControl] = nc;
    };
    setBin(kAllObs, 0.6, 0.25, 10, 20);
    setBin(kRegion, 0.5, 0.2, 8, 15);
    vlcplta(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    EXPECT_EQ(dyn(g, "_XMax"), 1.09);
    EXPECT_EQ(dyn(g, "_YMax"), 2.8);
    // Per panel: control first level, second level; treated first, second.
    expectValues(column(g, "XVal0"), {0.85, 0.85, NaN, NaN, 1.85, 1.85, NaN, NaN}, "XVal0");
    expectValues(column(g, "YVal0"), {0.25, 0.75, NaN, NaN, 0.2, 0.8, NaN, NaN}, "YVal0");
    expectValues(column(g, "XVal1"), {NaN, NaN, 1.15, 1.15, NaN, NaN, 2.15, 2.15}, "XVal1");
    expectValues(column(g, "YVal1"), {NaN, NaN, 0.6, 0.4, NaN, NaN, 0.5, 0.5}, "YVal1");
    expectValues(column(g, "RIndex"), {2, 1, 2, 1, 2, 1, 2, 1}, "RIndex");
    EXPECT_EQ(texts(g, "Response"),
              (std::vector<std::string>{"A", "B", "A", "B", "A", "B", "A", "B"}));

    // Counts: proportion x group total; the axis ends at 1.2 x the largest total (20).
    a.cap->graphs.clear();
    a.run.barFreq = 1;
    vlcplta(a.run);
    const auto& c = a.cap->graphs.at(0);
    EXPECT_DOUBLE_EQ(dyn(c, "_XMax"), 24);
    expectValues(column(c, "YVal0"), {5, 15, NaN, NaN, 3, 12, NaN, NaN}, "control counts");
    expectValues(column(c, "YVal1"), {NaN, NaN, 6, 4, NaN, NaN, 4, 4}, "treated counts");
}

// A three-level variable: one bar per level and group, its proportion (no complement), RIndex
// 3 for the first level down to 1, the levels named.
TEST(BarChart, ThreeLevelsGiveABarPerLevel) {
    PlotRun a;
    a.run.plotBar = 1;
    a.run.balance.reset(4, 3, 0);
    for (int s = 0; s < kNumSets; ++s)
        a.run.balance.sets[s].present = s <= kRegion;
    a.run.assessClass[0].nLevels = 3;
    a.run.classIndicators = {{0, 0, "p", {}}, {0, 1, "q", {}}, {0, 2, "r", {}}};
    vlcpset(a.run); // All, Region
    const double pt[2][3] = {{0.5, 0.3, 0.2}, {0.4, 0.4, 0.2}};
    const double pc[2][3] = {{0.1, 0.3, 0.6}, {0.2, 0.2, 0.6}};
    for (int set : {kAllObs, kRegion})
        for (int l = 0; l < 3; ++l) {
            auto& st = a.run.balance.sets[set].slots[static_cast<std::size_t>(4 + l)];
            st.g[kTreated].mean = pt[set][l];
            st.g[kControl].mean = pc[set][l];
        }
    vlcplta(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    expectValues(column(g, "YVal0"), {0.1, 0.3, 0.6, NaN, NaN, NaN, 0.2, 0.2, 0.6, NaN, NaN, NaN},
                 "control");
    expectValues(column(g, "YVal1"), {NaN, NaN, NaN, 0.5, 0.3, 0.2, NaN, NaN, NaN, 0.4, 0.4, 0.2},
                 "treated");
    expectValues(column(g, "XVal1"),
                 {NaN, NaN, NaN, 1.15, 1.15, 1.15, NaN, NaN, NaN, 2.15, 2.15, 2.15}, "XVal1");
    expectValues(column(g, "RIndex"), {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1}, "RIndex");
    EXPECT_EQ(texts(g, "Response"), (std::vector<std::string>{"p", "q", "r", "p", "q", "r", "p",
                                                              "q", "r", "p", "q", "r"}));
}

TEST(CloudPlots, StatusPicksTheColumnAndWeightCloudReferenceLines) {
    PlotRun a;
    a.run.plotCloud = 1;
    vlcpset(a.run);
    vlcpltj(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    // Treated first. s <= 0.1: YVal1; 0.1 < s <= 1.1: YVal2; s > 1.1: YVal3.
    expectValues(column(g, "XVal"), {4, 4, 2, 2, 2, 2}, "XVal");
    expectValues(column(g, "YVal1"), {NaN, NaN, 2, NaN, NaN, NaN}, "YVal1");
    expectValues(column(g, "YVal2"), {NaN, 3, NaN, NaN, NaN, 5}, "YVal2");
    expectValues(column(g, "YVal3"), {1, NaN, NaN, 4, 6, NaN}, "YVal3");

    // Weight cloud, ATT: only the control line, at 10 x p_t / p_c = 10 x 0.3 / 0.7.
    PlotRun w;
    w.run.weightType = kWeightAtt;
    w.run.pT = 0.3, w.run.pC = 0.7;
    w.run.maxWeight = 1.5;
    vlcpltw(w.run);
    ASSERT_EQ(w.cap->graphs.size(), 1u);
    const auto& att = w.cap->graphs[0];
    EXPECT_DOUBLE_EQ(dyn(att, "_CntlWgtRef"), 30.0 / 7.0);
    EXPECT_TRUE(std::isnan(dyn(att, "_TrtWgtRef")));
    EXPECT_DOUBLE_EQ(dyn(att, "_XMax"), 30.0 / 7.0); // the line lies beyond the largest weight
    EXPECT_EQ(dyn(att, "_AttWgt"), 1);
    expectValues(column(att, "YVal1"), {NaN, NaN, 0.5, NaN, NaN, NaN}, "outside the region");
    expectValues(column(att, "YVal2"), {1, 1, NaN, 0.25, 1.5, 0.75}, "in the region");

    // ATE with reference 5: treated line 5 / 0.3, control line 5 / 0.7.
    PlotRun e;
    e.run.weightType = kWeightAte;
    e.run.wgtCloudRef = 5;
    e.run.pT = 0.3, e.run.pC = 0.7;
    e.run.maxWeight = 20;
    vlcpltw(e.run);
    const auto& ate = e.cap->graphs.at(0);
    EXPECT_DOUBLE_EQ(dyn(ate, "_TrtWgtRef"), 50.0 / 3.0);
    EXPECT_DOUBLE_EQ(dyn(ate, "_CntlWgtRef"), 50.0 / 7.0);
    EXPECT_EQ(dyn(ate, "_XMax"), 20);
    EXPECT_EQ(dyn(ate, "_AteWgt"), 1);

    // No ATT or ATE weights: no weight cloud.
    PlotRun none;
    vlcpltw(none.run);
    EXPECT_TRUE(none.cap->graphs.empty());
}

TEST(StdDiffPlot, TickLabelsCutAndQuotedWithOneWarning) {
    PlotRun a;
    a.run.plotStdDiff = 1;
    a.run.analysisVars[0].name = "o'brien_abcdefghijklmnopq"; // 25 characters
    a.run.classVars[0].var.name = "it's";
    vlcpset(a.run);
    // First 20 characters, quotes made double, each label between single quotes; a CLASS row
    // names the level it shows.
    EXPECT_EQ(a.run.stdDiffTicks, "'o\"brien_abcdefghijkl''it\"s = A'");
    EXPECT_EQ(a.logged("single quote"), 1);
    EXPECT_EQ(a.run.status, 4);
}

TEST(StdDiffPlot, TwoRowsGiveIncrementOneAndMaxThree) {
    PlotRun a;
    a.run.plotStdDiff = 1;
    a.run.stdDiffRef = 0.1;
    a.slot(kAllObs, 0).z = 0.3;
    a.setGroups(kAllObs, 4, 0.5, 0.25, 0.3, 0.21); // D = sqrt((0.25 + 0.21) / 2)
    vlcpset(a.run);
    vlcpltd(a.run);
    const auto& g = a.cap->graphs.at(0);
    EXPECT_EQ(dyn(g, "_YIncr"), 1);
    EXPECT_EQ(dyn(g, "_YMax"), 3);
    EXPECT_EQ(dyn(g, "_YEnd"), 2);
    EXPECT_EQ(dyn(g, "_Band"), 1);
    EXPECT_EQ(dyn(g, "_DMin"), -0.1);
    EXPECT_DOUBLE_EQ(g.number(1, 1), 0.2 / std::sqrt(0.23));
}

// Stratified families with three strata formed and two shown.
struct StrataRun : PlotRun {
    StrataRun() {
        run.nStrata = 3;
        run.nStrataShown = 2;
        run.strataAssess = 1;
        run.balance.reset(4, 1, 3);
        run.balance.strataLo[0] = -2, run.balance.strataHi[0] = 10;
        run.balance.narrowLo[0] = 0, run.balance.narrowHi[0] = 8;
    }
};

TEST(StratifiedPlots, BoxAndCloudShowStrataOneToKWithOneNotice) {
    StrataRun a;
    a.run.plotBox = a.run.plotCloud = 1;
    vlcpset(a.run);
    vlcplsx(a.run);
    vlcplsj(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 2u);
    const auto& box = a.cap->graphs[0];
    EXPECT_EQ(box.name, "StrataBoxPlot");
    EXPECT_EQ(dynText(box, "_YTicks"), "'1''2'");
    EXPECT_EQ(dyn(box, "_YMax"), 2.9);
    EXPECT_EQ(dyn(box, "_XMin"), -2);
    // File order; rec 3 has no stratum and rec 6 lies in stratum 3, beyond the two shown.
    expectValues(column(box, "YVal"), {1.15, 2.15, 0.85, 1.85}, "YVal");
    expectValues(column(box, "XVal"), {1, 3, 4, 6}, "XVal");
    const auto& cloud = a.cap->graphs[1];
    EXPECT_EQ(dyn(cloud, "_YMax"), 3);
    expectValues(column(cloud, "XVal"), {1, 2, 1, 2}, "stratum");
    expectValues(column(cloud, "YVal1"), {1, 3, NaN, NaN}, "treated");
    expectValues(column(cloud, "YVal2"), {NaN, NaN, 4, 6}, "control");
    EXPECT_EQ(a.logged("first 2 of the 3 strata"), 1);
    EXPECT_EQ(a.run.status, 4);
}

// Counts of the weighted panel are sums of weights: that panel (the third: All, Region,
// Weighted) is flagged, and only when the chart shows counts.
TEST(BarChart, WeightedCountPanelsAreFlaggedAndLevelsNamed) {
    PlotRun a;
    a.run.plotBar = 1;
    a.run.weightType = kWeightAte;
    vlcpset(a.run);
    ASSERT_EQ(a.run.plotPanels.size(), 3u);
    vlcplta(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    EXPECT_EQ(dynText(a.cap->graphs[0], "_WgtTotals"), "(none)");
    EXPECT_EQ(dynText(a.cap->graphs[0], "_XVarName"), "g");
    a.cap->graphs.clear();
    a.run.barFreq = 1;
    vlcplta(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    EXPECT_EQ(dynText(a.cap->graphs[0], "_WgtTotals"), "3 ");
    EXPECT_EQ(dynText(a.cap->graphs[0], "_XTreated"), "1");
}

TEST(StratifiedPlots, CdfPanelsPerStratumWithoutBands) {
    StrataRun a;
    a.run.nStrataShown = 3;
    a.run.plotCdf = 1;
    vlcpset(a.run);
    ASSERT_EQ(vlcplsc(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& g = a.cap->graphs[0];
    EXPECT_EQ(g.name, "StrataCDFPlot");
    EXPECT_EQ(dyn(g, "_XMin"), -2);
    // Stratum 1: treated rec 1, control rec 4; stratum 2: treated rec 2 (f 2), control rec 5;
    // stratum 3: control rec 6 only. Curves run from the narrow minimum 0 to the maximum 8.
    std::vector<double> y = column(g, "YVal"), x = column(g, "XVal");
    ASSERT_EQ(g.rowCount(), 8u + 8u + 7u);
    expectValues({x.begin(), x.begin() + 8}, {0, 1, 8, NaN, 0, 4, 8, NaN}, "stratum 1 values");
    expectValues({y.begin(), y.begin() + 8}, {0, 100, 100, NaN, 0, 100, 100, NaN}, "stratum 1");
    expectValues({y.begin() + 16, y.end()}, {0, 100, NaN, 0, 100, 100, NaN}, "stratum 3");
    EXPECT_EQ(texts(g, "Stratum")[8], "Stratum 2");
    EXPECT_EQ(a.logged("of the 3 strata"), 0); // all strata shown: no notice
}

// A stratum panel k holds the strata in [k - 0.5, k + 0.5), checked at both edges of every
// panel, beyond the last and for a missing stratum.
const double kBelowHalf = std::nextafter(0.5, 0.0), kUnder15 = std::nextafter(1.5, 0.0),
             kUnder35 = std::nextafter(3.5, 0.0);
//                                treated  f  status x    ATT match stratum
const std::vector<Rec> kStrataEdges = {
    {true, 1, 2, 1, 1, 1, 1},         {false, 1, 2, 2, 1, 1, kBelowHalf}, // no panel
    {false, 1, 2, 3, 1, 1, 0.5},                                          // 1
    {false, 1, 2, 4, 1, 1, kUnder15}, {false, 1, 2, 5, 1, 1, 1.5},        // 2
    {false, 1, 2, 6, 1, 1, kUnder35}, {false, 1, 2, 7, 1, 1, 3.5},        // no panel
    {false, 1, 2, 0.5, 1, 1, NaN},    {true, 1, 2, 2.5, 1, 1, 2.5}};      // 3

// The box family places observations in panels by the same rule, in file order, at their
// panel's position (a stratum of K + 0.5 once drew a box past the last).
TEST(StratifiedPlots, BoxPanelsTakeTheStrataTheCdfPanelsTake) {
    PlotRun a(kStrataEdges);
    a.run.nStrata = a.run.nStrataShown = 3;
    a.run.balance.reset(4, 1, 3);
    a.run.plotBox = 1;
    vlcpset(a.run);
    ASSERT_EQ(vlcplsx(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& box = a.cap->graphs[0];
    expectValues(column(box, "YVal"), {1.15, 0.85, 0.85, 1.85, 2.85, 3.15}, "YVal");
    expectValues(column(box, "XVal"), {1, 3, 4, 5, 6, 2.5}, "XVal");
}

TEST(StratifiedPlots, CdfPanelsTakeStrataFromHalfBelowToJustUnderHalfAbove) {
    PlotRun a(kStrataEdges);
    a.run.nStrata = a.run.nStrataShown = 3;
    a.run.strataAssess = 1;
    a.run.balance.reset(4, 1, 3);
    a.run.balance.strataLo[0] = -2, a.run.balance.strataHi[0] = 10;
    a.run.balance.narrowLo[0] = 0, a.run.balance.narrowHi[0] = 8;
    a.run.plotCdf = 1;
    vlcpset(a.run);
    ASSERT_EQ(vlcplsc(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    // Each curve: the narrow minimum 0, its values, the maximum 8 and a separator. Stratum 1:
    // treated 1, controls 3, 4; stratum 2: no treated, control 5; stratum 3: treated 2.5,
    // control 6.
    expectValues(column(a.cap->graphs[0], "XVal"), {0, 1, 8, NaN, 0, 3,   4, 8,   NaN, 0, 8, NaN,
                                                    0, 5, 8, NaN, 0, 2.5, 8, NaN, 0,   6, 8, NaN},
                 "strata");
}

// The stratified CDF family plots in the value order the CDF family found and kept: its graph
// is the one a run of it alone draws.
TEST(StratifiedPlots, CdfAfterTheCdfFamilyDrawsWhatItDrawsAlone) {
    StrataRun after, alone;
    for (StrataRun* a : {&after, &alone}) {
        a->run.nStrataShown = 3;
        a->run.plotCdf = 1;
        vlcpset(a->run);
    }
    ASSERT_EQ(vlcpltc(after.run), 0);
    ASSERT_EQ(vlcplsc(after.run), 0);
    ASSERT_EQ(vlcplsc(alone.run), 0);
    ASSERT_EQ(after.cap->graphs.size(), 2u);
    ASSERT_EQ(alone.cap->graphs.size(), 1u);
    const auto &g = after.cap->graphs[1], &want = alone.cap->graphs[0];
    ASSERT_EQ(g.rowCount(), want.rowCount());
    for (const char* c : {"XVal", "YVal"})
        expectValues(column(g, c), column(want, c), c);
    EXPECT_EQ(texts(g, "Stratum"), texts(want, "Stratum"));
}

TEST(StratifiedPlots, FiveStrataCdfMakesOneGraphOfFivePanels) {
    StrataRun a;
    a.run.nStrata = a.run.nStrataShown = 5;
    a.run.balance.reset(4, 1, 5);
    a.run.plotCdf = 1;
    vlcpset(a.run);
    ASSERT_EQ(vlcplsc(a.run), 0);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    EXPECT_EQ(dyn(a.cap->graphs[0], "_NCol"), 3);
    EXPECT_EQ(dyn(a.cap->graphs[0], "_NRow"), 2);
    auto panels = [](const host::GraphRecord& g) {
        std::vector<std::string> out;
        for (const std::string& t : texts(g, "Stratum"))
            if (!t.empty() && (out.empty() || out.back() != t)) out.push_back(t);
        return out;
    };
    EXPECT_EQ(panels(a.cap->graphs[0]),
              (std::vector<std::string>{"Stratum 1", "Stratum 2", "Stratum 3", "Stratum 4",
                                        "Stratum 5"}));
}

TEST(StratifiedPlots, BarsCountOnlyShownStrataAndStdDiffRowsPerStratum) {
    StrataRun a;
    a.run.plotBar = a.run.plotStdDiff = 1;
    a.run.barFreq = 1;
    auto& s = a.run.balance.strata;
    s[1][4].mean[kTreated] = 0.5, s[1][4].mean[kControl] = 0.25;
    s[1][4].n[kTreated] = 4, s[1][4].n[kControl] = 8;
    s[2][4].mean[kTreated] = 0.75, s[2][4].mean[kControl] = 0.5;
    s[2][4].n[kTreated] = 4, s[2][4].n[kControl] = 10;
    s[3][4].n[kControl] = 100; // not shown: must not stretch the axis
    vlcpset(a.run);
    vlcplsa(a.run);
    ASSERT_EQ(a.cap->graphs.size(), 1u);
    const auto& bar = a.cap->graphs[0];
    EXPECT_DOUBLE_EQ(dyn(bar, "_XMax"), 12); // 1.2 x 10
    expectValues(column(bar, "YVal0"), {2, 6, NaN, NaN, 5, 5, NaN, NaN}, "control counts");
    expectValues(column(bar, "YVal1"), {NaN, NaN, 2, 2, NaN, NaN, 3, 1}, "treated counts");

    // One plotted row (x): a data row per stratum, then the all-missing row.
    a.cap->graphs.clear();
    a.run.classIndicators.clear();
    a.run.balance.strataStdDiffLimit = 0.75;
    s[1][0].z = 0.1, s[2][0].z = -0.2, s[3][0].z = 0.3;
    vlcpset(a.run);
    vlcplsd(a.run);
    const auto& sd = a.cap->graphs.at(0);
    EXPECT_EQ(dyn(sd, "_YIncr"), 0);
    EXPECT_EQ(dyn(sd, "_YMax"), 2);
    EXPECT_EQ(dyn(sd, "_XMin"), -0.75);
    expectValues(column(sd, "XVar"), {1, 1, 1, NaN}, "XVar");
    expectValues(column(sd, "XMean"), {0.1, -0.2, 0.3, NaN}, "XMean");
    expectValues(column(sd, "XStrata"), {1, 2, 3, NaN}, "XStrata");
    expectValues(column(sd, "XMean0"), {NaN, NaN, NaN, NaN}, "XMean0");
}

} // namespace
} // namespace velloc

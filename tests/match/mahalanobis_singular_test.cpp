// Coordinates of the Mahalanobis distance that have no variance among the units the covariance
// is taken over: they drop out with a warning naming them, whatever their scale, and the pairs
// are those of the remaining coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "mahalanobis_oracle.h"
#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

namespace fs = std::filesystem;

int runGreedy(MatchGroup& g) {
    VlcRun& r = *g.run;
    int rc = vlcxcov(r);
    if (!rc) rc = velloc(r);
    if (!rc) rc = vlccomb(r);
    if (!rc) rc = vlcmend(r);
    return rc;
}

// Every control has PS 0.3, so their LPS deviations from the control mean (-0.84729786038720
// 37, one unit in the last place off the common value) are rounding noise.
const std::vector<Unit> kConstantScoreControls = {
    {1, 1, 0.3, {}, {0}}, {2, 1, 0.5, {}, {1}}, {3, 1, 0.7, {}, {2}}, {4, 0, 0.3, {}, {0}},
    {5, 0, 0.3, {}, {1}}, {6, 0, 0.3, {}, {2}}, {7, 0, 0.3, {}, {0}}, {8, 0, 0.3, {}, {1}}};

TEST(MahalanobisSingular, LpsConstantAmongControlsDropsOut) {
    MatchGroup g(0, 1);
    g.mahalanobis({0}, 0, 1, 104);
    setGroupMeans(g, kConstantScoreControls);
    g.write(kConstantScoreControls);
    LogCapture log;
    ASSERT_EQ(runGreedy(g), 0);
    EXPECT_EQ(log.count("[1049-256]"), 1);
    std::vector<std::string> named = linesWith(log.text(), "[1049-257]");
    ASSERT_EQ(named.size(), 1u) << log.text();
    EXPECT_NE(named[0].find("out LPS."), std::string::npos) << named[0];
    EXPECT_EQ(g.run->status, 4);
    // The distance is |x_c - x_t| / sd over the controls' x (0, 1, 2, 0, 1: variance 2.8 / 4).
    // Descending PS: treated 3 (x 2) takes control 6 (x 2); treated 2 (x 1) ties between
    // controls 5 and 8 and keeps the first in control order (5); treated 1 (x 0) likewise takes
    // control 4 before 7. Every pair is at distance 0.
    EXPECT_EQ(g.setOf(3), g.setOf(6));
    EXPECT_EQ(g.setOf(2), g.setOf(5));
    EXPECT_EQ(g.setOf(1), g.setOf(4));
    EXPECT_EQ(g.setOf(7), 0);
    EXPECT_EQ(g.setOf(8), 0);
    EXPECT_EQ(g.run->totalDistance, 0.0);
    EXPECT_NEAR(g.run->mahTri3[0], 4.0 / 2.8, 1e-14);
    EXPECT_EQ(g.run->mahTri3[1], 0.0);
    EXPECT_EQ(g.run->mahTri3[2], 0.0);
}

TEST(MahalanobisSingular, ScaleOfTheCoordinateDoesNotMatter) {
    // x2 is 1e6 + 0.37 for every control and x1 varies. The sum of the controls' x2 rounds, so
    // their mean is one unit in the last place above the common value and the deviations are
    // noise of that size. Scaled down by 1e-6 or up by 1e6, x2 drops out; x1 keeps its
    // variance 5/3 in every case.
    for (double scale : {1e-6, 1.0, 1e6}) {
        std::vector<Unit> units;
        const double xs[] = {1, 2, 3, 4};
        for (int i = 0; i < 4; ++i)
            units.push_back({double(i + 1), 0, 0.1 + 0.1 * i, {}, {xs[i], (1e6 + 0.37) * scale}});
        units.push_back({5, 1, 0.5, {}, {9, 3 * scale}});
        units.push_back({6, 1, 0.6, {}, {0, 7 * scale}});
        MatchGroup g(0, 2);
        g.mahalanobis({0, 1}, 0, 0, 104);
        setGroupMeans(g, units);
        auto& mean = g.run->balance.sets[kAllObs].slots[1].g[kControl].mean;
        mean = std::nextafter((1e6 + 0.37) * scale, HUGE_VAL);
        g.write(units);
        LogCapture log;
        ASSERT_EQ(vlcxcov(*g.run), 0);
        std::vector<std::string> named = linesWith(log.text(), "[1049-257]");
        ASSERT_EQ(named.size(), 1u) << "scale " << scale << "\n" << log.text();
        EXPECT_NE(named[0].find("out x2."), std::string::npos) << named[0];
        EXPECT_NEAR(g.run->mahTri3[0], 3.0 / 5.0, 1e-14) << "scale " << scale;
        EXPECT_EQ(g.run->mahTri3[2], 0.0) << "scale " << scale;
    }
}

TEST(MahalanobisSingular, ConstantEverywhereAndTinyButRealVarianceAmongControls) {
    // x2 is 0.37 for everybody, its group means one unit in the last place off: no variance
    // anywhere but rounding noise, it drops out. x3 varies among the controls by 1e-3 around 5
    // (far above rounding) while the treated spread it over 1: it stays.
    std::vector<Unit> units = {{1, 0, 0.1, {}, {1, 0.37, 5.001}}, {2, 0, 0.2, {}, {2, 0.37, 5.0}},
                               {3, 0, 0.3, {}, {3, 0.37, 4.999}}, {4, 0, 0.4, {}, {4, 0.37, 5.0}},
                               {5, 1, 0.5, {}, {9, 0.37, 4.0}},   {6, 1, 0.6, {}, {0, 0.37, 6.0}}};
    MatchGroup g(0, 3);
    g.mahalanobis({0, 1, 2}, 0, 0, 104);
    setGroupMeans(g, units);
    for (int grp : {kControl, kTreated})
        g.run->balance.sets[kAllObs].slots[1].g[grp].mean = std::nextafter(0.37, 1.0);
    g.write(units);
    LogCapture log;
    ASSERT_EQ(vlcxcov(*g.run), 0);
    std::vector<std::string> named = linesWith(log.text(), "[1049-257]");
    ASSERT_EQ(named.size(), 1u) << log.text();
    EXPECT_NE(named[0].find("out x2."), std::string::npos);
    // The kept block against the oracle's inverse: x1 and x3 over the controls.
    MahOracle oracle(units, 104, 3, false, false);
    ASSERT_EQ(oracle.droppedNames(), std::vector<std::string>{"x2"});
    ASSERT_EQ(velloc(*g.run), 0);
    for (const auto& t : g.treated()) // the treated unit of observation 5
        if (t[kTrtObs] == 5) g.run->trtRec = t;
    ASSERT_EQ(g.run->trtRec[kTrtObs], 5);
    for (int j = 0; j < 4; ++j)
        EXPECT_NEAR(mahDistance(*g.run, j), oracle.distance(units[4], units[j]),
                    1e-9 * oracle.distance(units[4], units[j]))
            << "control " << j;
}

// The same data through the command: the log warns, the pairs and the total are those above.
TEST(MahalanobisSingular, CommandReportsThePairsOfTheKeptCoordinate) {
    fs::path dir = fs::temp_directory_path() / ("velloc_mahsing_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "d.csv") << "id,t,ps,x\n1,1,.3,0\n2,1,.5,1\n3,1,.7,2\n4,0,.3,0\n"
                                    "5,0,.3,1\n6,0,.3,2\n7,0,.3,0\n8,0,.3,1\n";
    std::ofstream(dir / "a.vlc")
        << "proc velloc data='d.csv';\nclass t; psdata treatvar=t(treated='1') ps=ps;\n"
           "match distance=mah(var=(x) lps) method=greedy caliper=.;\n"
           "output out='o.csv' matchid=mid;\nrun;\n";
    std::string cmd = "cd '" + dir.string() + "' && '" + VELLOC_BINARY +
                      "' --tables-dir tables a.vlc > out.txt 2> log.txt";
    int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    auto slurp = [&](const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    std::string log = slurp(dir / "log.txt");
    EXPECT_NE(log.find("[1049-256]"), std::string::npos) << log;
    EXPECT_NE(log.find("leaves out LPS. [1049-257]"), std::string::npos) << log;
    // Set number per id from the output data set.
    std::map<int, std::string> set;
    for (const auto& row : readCsv((dir / "o.csv").string()))
        set[std::stoi(row[0])] = row.size() > 5 ? row[5] : "";
    EXPECT_EQ(set[3], set[6]);
    EXPECT_EQ(set[2], set[5]);
    EXPECT_EQ(set[1], set[4]);
    EXPECT_FALSE(set[1].empty());
    EXPECT_TRUE(set[7].empty());
    EXPECT_TRUE(set[8].empty());
    std::string info = slurp(dir / "tables" / "MatchInfo.csv");
    EXPECT_NE(info.find("Total Absolute Difference,0"), std::string::npos) << info;
    fs::remove_all(dir);
}

} // namespace
} // namespace velloc::testing

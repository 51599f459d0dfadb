// The table definitions (columns, order, conditions, dynamics) and the rows the table routines
// add from statistics set by hand.
#include <algorithm>
#include <cmath>

#include "assess_fixture.h"

namespace velloc {
namespace {

using testing::AssessRun;
using testing::columnNames;
using testing::num;
using testing::text;
using Names = std::vector<std::string>;

std::string dynamic(const std::vector<host::Dynamic>& dyn, const std::string& name) {
    for (const auto& d : dyn)
        if (d.name == name) {
            if (auto* s = std::get_if<std::string>(&d.value)) return *s;
            return std::to_string(std::get<std::int64_t>(d.value));
        }
    return "<unset>";
}

TEST(TableDefinitions, DefaultColumnsWithoutWeightsOrStrata) {
    AssessRun a;
    ASSERT_EQ(vlcxods(a.run), 0);
    EXPECT_EQ(columnNames(a.run.tabPsInfo),
              (Names{"Obs", "TreatedFreq", "TreatedMean", "TreatedStdDev", "TreatedMin",
                     "TreatedMax", "ControlFreq", "ControlMean", "ControlStdDev", "ControlMin",
                     "ControlMax", "MeanDiff"}));
    EXPECT_EQ(a.run.tabPsInfo.templatePath, "Stat.Velloc.PSInfo");
    EXPECT_EQ(columnNames(a.run.tabStdDiff),
              (Names{"Variable", "Level", "Obs", "MeanDiff", "StdDev", "StdDiff", "PctReduction",
                     "VarianceRatio"}));
    EXPECT_EQ(dynamic(a.run.tabVarInfo.dynamics, "_TreatedEnd"), "TreatedMax");
    EXPECT_EQ(dynamic(a.run.tabStdDiff.dynamics, "_allObs"), "1");
    EXPECT_EQ(dynamic(a.run.tabStdDiff.dynamics, "_allObsCont"), "0");
    // Without strata requested no stratum table is defined.
    EXPECT_TRUE(a.run.tabStrataInfo.name.empty());
    EXPECT_TRUE(a.run.tabStrataVarInfo.name.empty());
    EXPECT_TRUE(a.run.tabStrataStdDiff.name.empty());
    EXPECT_TRUE(a.run.tabLargestWgt.name.empty());
}

TEST(TableDefinitions, OnlyClassVariablesHaveNoExtremes) {
    AssessRun a;
    a.run.assessPs = -1;
    a.run.assessCont.clear();
    a.run.nAssessCont = 0;
    a.run.stdBinVar = 0;
    a.run.weightType = kWeightAtt;
    vlcxods(a.run);
    EXPECT_EQ(columnNames(a.run.tabVarInfo),
              (Names{"Variable", "Level", "Obs", "TreatedN", "TreatedWeight", "TreatedMean",
                     "TreatedStdDev", "ControlN", "ControlWeight", "ControlMean", "ControlStdDev",
                     "MeanDiff"}));
    EXPECT_EQ(dynamic(a.run.tabVarInfo.dynamics, "_TreatedEnd"), "TreatedStdDev");
    EXPECT_EQ(dynamic(a.run.tabVarInfo.dynamics, "_ControlEnd"), "ControlStdDev");
    EXPECT_EQ(dynamic(a.run.tabStdDiff.dynamics, "_allObs"), "0");
    EXPECT_EQ(dynamic(a.run.tabStdDiff.dynamics, "_allObsCont"), "1");
}

TEST(TableDefinitions, StrataTablesAndOwnDeviation) {
    AssessRun a;
    a.run.nStrataReq = 5;
    a.run.sdPerSet = 1;
    vlcxods(a.run);
    EXPECT_EQ(columnNames(a.run.tabStrataInfo),
              (Names{"StratumIndex", "LowerPS", "UpperPS", "TreatedFreq", "ControlFreq",
                     "TotalFreq", "StratumWeight"}));
    EXPECT_EQ(columnNames(a.run.tabStrataStdDiff),
              (Names{"Variable", "Level", "StratumIndex", "MeanDiff", "StdDev", "StdDiff",
                     "PctReduction", "VarianceRatio", "StratumWeight"}));
    EXPECT_EQ(columnNames(a.run.tabStrataVarInfo)[2], "StratumIndex");
    EXPECT_EQ(dynamic(a.run.tabStdDiff.dynamics, "_allObs"), "0");
    EXPECT_EQ(a.run.strataOwnSd, 1);

    AssessRun b; // without own deviations there is no StdDev column
    b.run.nStrataReq = 5;
    vlcxods(b.run);
    EXPECT_EQ(b.run.tabStrataStdDiff.columnIndex("StdDev"), -1);
    EXPECT_EQ(b.run.strataOwnSd, 0);
}

TEST(TableDefinitions, LargestWeightsWithIdsAndAttWeights) {
    AssessRun a;
    a.run.nLargestWgt = 3;
    a.run.weightType = kWeightAte;
    for (const char* n : {"id", "site", "code"}) {
        IdVar v;
        v.var = {9, n,
                 std::string(n) == "site" ? host::VarType::Character : host::VarType::Numeric};
        v.width = 8;
        a.run.idVars.push_back(v);
    }
    vlcxods(a.run);
    EXPECT_EQ(columnNames(a.run.tabLargestWgt),
              (Names{"TreatedObs", "id", "site", "code", "TreatedWgt", "TreatedScaledWgt",
                     "ControlObs", "id", "site", "code", "ControlWgt", "ControlScaledWgt"}));
    const auto& cols = a.run.tabLargestWgt.columns;
    EXPECT_EQ(cols[2].kind, host::ColumnKind::Character);
    EXPECT_EQ(cols[2].templateColumn, "TreatedID");
    EXPECT_EQ(cols[8].templateColumn, "ControlID");
    EXPECT_EQ(cols[8].dynamicName, "_idControl");
    EXPECT_EQ(cols[8].dynamicValue, "site");
    EXPECT_EQ(dynamic(a.run.tabLargestWgt.dynamics, "_WgtType"), "ATE Weights");

    AssessRun b;
    b.run.nLargestWgt = 3;
    b.run.weightType = kWeightAtt;
    vlcxods(b.run);
    EXPECT_EQ(columnNames(b.run.tabLargestWgt),
              (Names{"ControlObs", "ControlWgt", "ControlScaledWgt"}));
}

TEST(BalanceTables, StdDiffRows) {
    AssessRun a;
    a.run.assessPs = -1; // rows: x, then g
    a.run.stdBinVar = 0;
    a.run.weightType = kWeightAtt;
    a.run.balance.fourth = kRegionWgt;
    a.setGroups(kAllObs, 0, 3.0, 4.0, 2.0, 4.0); // d 1, s 2, z 0.5
    a.setGroups(kRegion, 0, 3.2, 4.0, 2.0, 4.0); // z 0.6: grew
    a.setGroups(kFourth, 0, 2.1, 3.0, 2.0, 2.0); // z 0.05: 90% reduction
    const int g = a.run.balance.binSlot(0);
    a.setGroups(kAllObs, g, 0.5, 0.25, 0.3, 0.21); // raw 0.2
    a.setGroups(kRegion, g, 0.4, 0.24, 0.3, 0.21); // raw 0.1: 50%
    vlccdff(a.run);
    vlcxods(a.run);
    vlctdif(a.run);
    const host::TableInstance* t = a.sink->find("StdDiff");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 6u); // 2 rows x 3 sets
    EXPECT_EQ(text(*t, 0, "Variable"), "x");
    EXPECT_EQ(text(*t, 0, "Obs"), "All");
    EXPECT_EQ(text(*t, 2, "Obs"), "Weighted");
    EXPECT_DOUBLE_EQ(num(*t, 0, "StdDev"), 2.0);
    EXPECT_DOUBLE_EQ(num(*t, 0, "StdDiff"), 0.5);
    EXPECT_TRUE(std::isnan(num(*t, 0, "PctReduction")));
    EXPECT_TRUE(std::isnan(num(*t, 1, "StdDev"))); // own deviation not requested
    EXPECT_EQ(num(*t, 1, "PctReduction"), 0.0);
    EXPECT_NEAR(num(*t, 2, "PctReduction"), 90.0, 1e-12);
    EXPECT_NEAR(num(*t, 2, "VarianceRatio"), 1.5, 1e-15);
    // Binary rows with raw differences: only MeanDiff and PctReduction.
    EXPECT_EQ(text(*t, 3, "Variable"), "g");
    EXPECT_NEAR(num(*t, 3, "MeanDiff"), 0.2, 1e-15);
    EXPECT_TRUE(std::isnan(num(*t, 3, "StdDiff")));
    EXPECT_TRUE(std::isnan(num(*t, 3, "VarianceRatio")));
    EXPECT_NEAR(num(*t, 4, "PctReduction"), 50.0, 1e-12);
    EXPECT_EQ(dynamic(t->dynamics, "_TrtVar"), "treat");
    EXPECT_EQ(dynamic(t->dynamics, "_TrtLevel"), "1");
}

TEST(BalanceTables, VarInfoRows) {
    AssessRun a;
    a.run.weightType = kWeightAtt;
    a.run.balance.fourth = kRegionWgt;
    SetStats& w = a.run.balance.sets[kFourth];
    w.total[kTreated] = 10;
    w.total[kControl] = 20;
    w.wtotal[kTreated] = 10;
    w.wtotal[kControl] = 9.5;
    a.setGroups(kFourth, 0, 3.0, 4.0, 2.5, 9.0);
    a.slot(kFourth, 0).g[kTreated].min = 1.0;
    a.setGroups(kAllObs, a.run.balance.binSlot(0), 0.2, 0.16, 0.5, 0.25);
    vlcxods(a.run);
    vlctinf(a.run);
    const host::TableInstance* t = a.sink->find("VarInfo");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 9u); // PS, x, g over three sets
    EXPECT_EQ(text(*t, 0, "Variable"), "Prop Score");
    // x in the weighted set.
    EXPECT_EQ(text(*t, 5, "Obs"), "Weighted");
    EXPECT_DOUBLE_EQ(num(*t, 5, "TreatedN"), 10);
    EXPECT_DOUBLE_EQ(num(*t, 5, "ControlWeight"), 9.5);
    EXPECT_DOUBLE_EQ(num(*t, 5, "TreatedStdDev"), 2.0);
    EXPECT_DOUBLE_EQ(num(*t, 5, "ControlStdDev"), 3.0);
    EXPECT_DOUBLE_EQ(num(*t, 5, "TreatedMin"), 1.0);
    EXPECT_TRUE(std::isnan(num(*t, 5, "TreatedMax"))); // never seen
    EXPECT_DOUBLE_EQ(num(*t, 5, "MeanDiff"), 0.5);
    EXPECT_TRUE(std::isnan(num(*t, 3, "TreatedWeight"))); // unweighted sets
    // g in AllObs: proportions and sqrt(p(1 - p)), no extremes.
    EXPECT_DOUBLE_EQ(num(*t, 6, "TreatedStdDev"), 0.4);
    EXPECT_NEAR(num(*t, 6, "MeanDiff"), -0.3, 1e-15);
    EXPECT_TRUE(std::isnan(num(*t, 6, "TreatedMin")));
}

TEST(TableDefinitions, LevelColumnOnlyWithClassVariables) {
    AssessRun a;
    a.run.assessClass.clear();
    a.run.nAssessClass2 = 0;
    a.run.nStrataReq = 3;
    vlcxods(a.run);
    for (const host::TableDefinition* d :
         {&a.run.tabVarInfo, &a.run.tabStdDiff, &a.run.tabStrataVarInfo, &a.run.tabStrataStdDiff})
        EXPECT_LT(d->columnIndex("Level"), 0) << d->name;
    EXPECT_EQ(columnNames(a.run.tabStdDiff)[1], "Obs");
}

// Rows of g with LEVELS=ALL: the first level's row as before, then the second level's with
// proportions 1 - p, differences of the opposite sign and the same deviation and ratio.
TEST(BalanceTables, EveryLevelLabelled) {
    AssessRun a;
    a.run.assessPs = -1; // rows: x, g = a, g = b
    a.run.balance.settings.allLevels = true;
    a.run.classIndicators = {{0, 0, "a", "b"}};
    const int g = a.run.balance.binSlot(0);
    a.setGroups(kAllObs, 0, 3.0, 4.0, 2.0, 4.0);
    a.setGroups(kAllObs, g, 0.2, 0.16, 0.5, 0.25); // s = sqrt(0.205)
    a.setGroups(kRegion, g, 0.4, 0.24, 0.5, 0.25);
    vlccdff(a.run);
    vlcxods(a.run);
    vlctinf(a.run);
    vlctdif(a.run);
    const host::TableInstance* vi = a.sink->find("VarInfo");
    const host::TableInstance* sd = a.sink->find("StdDiff");
    ASSERT_NE(vi, nullptr);
    ASSERT_NE(sd, nullptr);
    ASSERT_EQ(sd->rows.size(), 6u); // 3 rows x 2 sets
    EXPECT_EQ(text(*sd, 0, "Level"), "");
    EXPECT_EQ(text(*sd, 2, "Variable"), "g");
    EXPECT_EQ(text(*sd, 2, "Level"), "a");
    EXPECT_EQ(text(*sd, 4, "Level"), "b");
    EXPECT_EQ(text(*vi, 4, "Level"), "b");
    const double s = std::sqrt((0.16 + 0.25) / 2);
    EXPECT_NEAR(num(*sd, 2, "StdDiff"), -0.3 / s, 1e-12);
    EXPECT_NEAR(num(*sd, 4, "StdDiff"), 0.3 / s, 1e-12);
    EXPECT_NEAR(num(*sd, 4, "MeanDiff"), 0.3, 1e-15);
    EXPECT_DOUBLE_EQ(num(*sd, 4, "StdDev"), num(*sd, 2, "StdDev"));
    EXPECT_DOUBLE_EQ(num(*sd, 5, "PctReduction"), num(*sd, 3, "PctReduction"));
    EXPECT_NEAR(num(*sd, 5, "PctReduction"), 100.0 * (0.3 - 0.1) / 0.3, 1e-9);
    EXPECT_DOUBLE_EQ(num(*sd, 5, "VarianceRatio"), num(*sd, 3, "VarianceRatio"));
    EXPECT_NEAR(num(*vi, 4, "TreatedMean"), 0.8, 1e-15);
    EXPECT_NEAR(num(*vi, 4, "ControlMean"), 0.5, 1e-15);
    EXPECT_NEAR(num(*vi, 4, "TreatedStdDev"), 0.4, 1e-15);
    EXPECT_NEAR(num(*vi, 5, "MeanDiff"), 0.1, 1e-15);
}

TEST(BalanceTables, LargestWeightsShorterTreatedList) {
    AssessRun a;
    a.run.nLargestWgt = 3;
    a.run.weightType = kWeightAte;
    a.run.scaleT = 2.0;
    a.run.scaleC = 4.0;
    a.run.scaleTText = "Weight / 2";
    vlcxods(a.run);
    auto fill = [](VlcRun::TopList& l, std::vector<double> obs, std::vector<double> w) {
        l.obs = obs;
        l.value = w;
    };
    fill(a.run.largestWgt[kTreated], {7, -1, -1}, {12, -1, -1});
    fill(a.run.largestWgt[kControl], {3, 9, -1}, {8, 6, -1});
    vlctexw(a.run);
    const host::TableInstance* t = a.sink->find("LargestWgtObs");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 2u); // the third row is empty on both sides
    EXPECT_DOUBLE_EQ(num(*t, 0, "TreatedObs"), 7);
    EXPECT_DOUBLE_EQ(num(*t, 0, "TreatedScaledWgt"), 6);
    EXPECT_DOUBLE_EQ(num(*t, 0, "ControlScaledWgt"), 2);
    EXPECT_TRUE(std::isnan(num(*t, 1, "TreatedObs")));
    EXPECT_TRUE(std::isnan(num(*t, 1, "TreatedWgt")));
    EXPECT_DOUBLE_EQ(num(*t, 1, "ControlWgt"), 6);
    EXPECT_EQ(dynamic(t->dynamics, "_TrtLevelWgt"), "Weight / 2");
}

TEST(BalanceTables, LargestWeightsIdValues) {
    AssessRun a;
    a.run.nLargestWgt = 2;
    a.run.weightType = kWeightAtt; // controls only
    IdVar idNum, site;
    idNum.var = {5, "id", host::VarType::Numeric};
    site.var = {6, "site", host::VarType::Character};
    site.width = 3;
    a.run.idVars = {site, idNum};
    a.run.idNumCount = 1;
    a.run.idTextBytes = 8;
    vlcxods(a.run);
    VlcRun::TopList& l = a.run.largestWgt[kControl];
    l.obs = {4, 2};
    l.value = {5.0, 2.5};
    l.idNum = {104, 102};
    l.idText = std::vector<char>(16, ' ');
    std::copy_n("ab ", 3, l.idText.begin());
    std::copy_n("xyz", 3, l.idText.begin() + 8);
    vlctexw(a.run);
    const host::TableInstance* t = a.sink->find("LargestWgtObs");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 2u);
    EXPECT_EQ(std::get<std::string>(t->rows[0][1]), "ab");
    EXPECT_EQ(std::get<std::string>(t->rows[1][1]), "xyz");
    EXPECT_DOUBLE_EQ(std::get<double>(t->rows[1][2]), 102);
    EXPECT_DOUBLE_EQ(num(*t, 1, "ControlScaledWgt"), 2.5); // c_c left at 1
}

TEST(InformationTables, StrataInfoAndDataInfo) {
    AssessRun a;
    a.run.nStrataReq = 2;
    a.run.nStrata = 2;
    vlcxods(a.run);
    a.run.strataLowerPs = {kNaN, 0.1, 0.4};
    a.run.strataUpperPs = {kNaN, 0.35, 0.9};
    a.run.strataCount[0] = {0, 30, 10};
    a.run.strataCount[1] = {0, 5, 25};
    a.run.strataCount[2] = {0, 35, 35};
    a.run.balance.strataWeight = {kNaN, 0.5, 0.5};
    vlctstr(a.run);
    const host::TableInstance* t = a.sink->find("StrataInfo");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 2u);
    EXPECT_DOUBLE_EQ(num(*t, 1, "StratumIndex"), 2);
    EXPECT_DOUBLE_EQ(num(*t, 1, "LowerPS"), 0.4);
    EXPECT_DOUBLE_EQ(num(*t, 1, "TreatedFreq"), 25);
    EXPECT_DOUBLE_EQ(num(*t, 1, "ControlFreq"), 10);
    EXPECT_DOUBLE_EQ(num(*t, 1, "TotalFreq"), 35);

    // DataInfo: no output data set line without OUT=; the strata line last.
    a.run.balance.sets[kAllObs].total[kTreated] = 185;
    vlctdat(a.run);
    ASSERT_EQ(a.sink->factoids.size(), 1u);
    const auto& e = a.sink->factoids[0].entries;
    for (const auto& entry : e)
        EXPECT_NE(entry.label, "Output Data Set");
    EXPECT_EQ(e.back().label, "Number of Strata");
    EXPECT_DOUBLE_EQ(std::get<double>(e[3].value), 185);
}

} // namespace
} // namespace velloc

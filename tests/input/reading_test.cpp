// Reading a BY group: which observations reach VLCDATA, what their records hold, and the
// frequency and missing-value rules.
#include <cmath>

#include "input/input.h"
#include "input_fixture.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

std::vector<double> column(const GroupSnap& g, int field) {
    std::vector<double> v;
    for (const auto& r : g.data)
        v.push_back(r[field]);
    return v;
}

TEST(Reading, AZeroOrMissingWeightWritesTheObservationWhateverItsOtherValues) {
    StepRun r = runOnCsv("t,x,w\n"
                         "1,1,1\n"
                         "1,.,0\n"  // weight 0, covariate missing: written
                         "1,2,-3\n" // negative weight: written as 0
                         "0,.,1\n"  // covariate missing: left out
                         "0,3,.\n"  // missing weight: written as 0
                         "0,4,2.5\n"
                         "1,5,1\n"
                         "0,6,1\n",
                         "class t; psmodel t(treated='1') = x / weight=w;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(g.skip, (std::vector<std::int32_t>{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(g.nObsRead, 7);
    EXPECT_EQ(column(g, kDataObs), (std::vector<double>{1, 2, 3, 5, 6, 7, 8}));
    EXPECT_EQ(column(g, kDataWeight), (std::vector<double>{1, 0, 0, 0, 2.5, 1, 1}));
    EXPECT_EQ(column(g, kDataFreq), (std::vector<double>(7, 1.0)));
    EXPECT_TRUE(std::isnan(g.data[1][kDataAnalysis]));
    EXPECT_EQ(g.data[2][kDataAnalysis], 2.0);
    // Model rows carry the same weights; the written row with a missing covariate has a
    // missing design value, so the fit passes over it.
    ASSERT_EQ(g.lreg.size(), 7u);
    EXPECT_EQ(g.lreg[4][kRowWeight], 2.5);
    EXPECT_TRUE(std::isnan(g.lreg[1][kRowDesign + 1]));
}

TEST(Reading, FrequenciesAreTruncatedAndAnOverflowAbandonsOnlyItsGroup) {
    StepRun r = runOnCsv("g,t,x,f\n"
                         "1,1,1,0.5\n"
                         "1,1,2,2.7\n"
                         "1,0,3,.\n"
                         "1,0,4,1\n"
                         "1,1,5,3\n"
                         "1,0,6,1\n"
                         "2,1,1,1\n"
                         "2,0,2,3000000000\n"
                         "2,1,3,1\n"
                         "2,0,4,1\n"
                         "3,1,1,1\n"
                         "3,0,2,2147483647\n"
                         "3,1,3,1\n"
                         "3,0,4,1\n",
                         "by g; class t; freq f; psmodel t(treated='1') = x;");
    ASSERT_EQ(r.groups.size(), 3u) << r.log;
    const GroupSnap& g1 = r.groups[0];
    EXPECT_EQ(column(g1, kDataFreq), (std::vector<double>{0, 2, 0, 1, 3, 1}));
    EXPECT_EQ(g1.totalFreq, 7.0);
    EXPECT_EQ(g1.nTreated, 3);
    EXPECT_EQ(g1.nControl, 3);
    EXPECT_EQ(g1.freqTreated, 5);
    EXPECT_EQ(g1.freqControl, 2);
    EXPECT_EQ(r.groups[1].failedIn, 1);
    EXPECT_EQ(r.count(222), 1);
    // The largest frequency allowed still reads.
    const GroupSnap& g3 = r.groups[2];
    EXPECT_EQ(g3.failedIn, 0);
    EXPECT_EQ(g3.freqControl, 2147483648LL);
    EXPECT_EQ(r.code, 112);
}

TEST(Reading, MissingValuesLeaveOutOnlyObservationsThatNeedTheValue) {
    StepRun r = runOnCsv("t,g,x,z\n"
                         "1,a,1,10\n"
                         "1,,2,11\n"  // CLASS value blank: left out
                         "0,b,3,.\n"  // assessment-only value missing: kept
                         "0,a,.,12\n" // model covariate missing: left out
                         "1,b,5,13\n"
                         "0,a,6,14\n"
                         "1,a,7,.\n"
                         "0,b,8,15\n",
                         "class t g; psmodel t(treated='1') = x g; assess var=(z);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    EXPECT_EQ(g.skip, (std::vector<std::int32_t>{0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(column(g, kDataObs), (std::vector<double>{1, 3, 5, 6, 7, 8}));
    // z is dropped from this group's assessment once, by name, and the group goes on.
    EXPECT_EQ(r.count(223), 1);
    EXPECT_NE(r.log.find("variable z has missing"), std::string::npos) << r.log;
    ASSERT_EQ(g.analysisVars.size(), 2u);
    EXPECT_EQ(g.analysisVars[1].name, "z");
    EXPECT_EQ(g.excluded[1], 1);
    EXPECT_EQ(g.excluded[0], 0);
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(r.code, 4);

    // Layout: 4 header doubles, x and z, the numeric CLASS value of t, then the formatted
    // values (t in 12 bytes, g in 1) and g's raw value: 70 bytes, padded to 72.
    EXPECT_EQ(g.dataRecBytes, 72);
    EXPECT_EQ(g.data[0][kDataAnalysis + 2], 1.0);
    EXPECT_EQ(classText(g, 0, 0, 12), "1           ");
    EXPECT_EQ(classText(g, 1, 0, 12), "0           ");
    EXPECT_EQ(classText(g, 1, 12, 1), "b");
    EXPECT_EQ(classText(g, 1, 13, 1), "b"); // raw value
}

TEST(Reading, AMissingNumericClassValueLeavesTheObservationOut) {
    StepRun r = runOnCsv("t,k,x\n"
                         "1,1,1\n"
                         "1,.,2\n"
                         "0,2,3\n"
                         "0,1,4\n"
                         "1,2,5\n"
                         "0,2,6\n",
                         "class t k; psmodel t(treated='1') = x k;");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    EXPECT_EQ(r.groups[0].skip, (std::vector<std::int32_t>{0, 1, 0, 0, 0, 0}));
}

} // namespace

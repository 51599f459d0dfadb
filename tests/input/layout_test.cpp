// The model-row layout with EXACT=, Mahalanobis and ID variables, and reading with supplied
// scores: which variables are required follows from their use.
#include <cmath>
#include <cstring>

#include "core/model_rows.h"
#include "input/input.h"
#include "input_fixture.h"

namespace {

using namespace velloc;
using namespace velloc::testing;

TEST(Layout, ModelRowsCarryExactLevelsDistanceVariablesAndIds) {
    // Analysis list: x (model), z (distance), q (assessed only). The combined list puts the
    // distance variables first, in their order, then q.
    StepRun r = runOnCsv("t,g,x,z,q,nm,idn\n"
                         "1,b,1,10,100,ann,11\n"
                         "1,a,2,.,101,bob,12\n" // distance variable missing: left out
                         "0,b,3,12,.,cy,13\n"   // assessed-only value missing: kept
                         "0,a,4,13,103,dee,14\n"
                         "1,a,5,14,104,eve,15\n"
                         "0,b,6,15,105,fay,16\n",
                         "class t g; id nm idn; psmodel t(treated='1') = x;\n"
                         "match method=replace(k=1) exact=g distance=mah(var=(z x)) "
                         "nmatchmost=2;\n"
                         "assess var=(q z);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.rc, 0) << r.log;
    EXPECT_EQ(g.skip, (std::vector<std::int32_t>{0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.count(223), 1);
    ASSERT_EQ(g.D, 2);
    EXPECT_EQ(g.lregExact, 7);
    EXPECT_EQ(g.lregClass, 8);
    EXPECT_EQ(g.lregCont, 8);
    ASSERT_EQ(g.lreg.size(), 5u);
    ASSERT_EQ(g.lreg[0].size(), 13u); // 12 doubles and 8 bytes of ID text
    const double obs[] = {1, 3, 4, 5, 6};
    const double gLevel[] = {1, 1, 0, 0, 1};
    const double z[] = {10, 12, 13, 14, 15}, x[] = {1, 3, 4, 5, 6};
    const char* names[] = {"ann", "cy ", "dee", "eve", "fay"};
    for (std::size_t i = 0; i < 5; ++i) {
        const auto& row = g.lreg[i];
        EXPECT_EQ(row[kRowObs], obs[i]);
        EXPECT_EQ(row[7], gLevel[i]);
        EXPECT_EQ(row[8], z[i]);
        EXPECT_EQ(row[9], x[i]);
        if (i == 1)
            EXPECT_TRUE(std::isnan(row[10]));
        else
            EXPECT_EQ(row[10], 99 + obs[i]);
        EXPECT_EQ(row[11], 10 + obs[i]);
        EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(row.data()) + 96, names[i], 3), 0);
    }
}

TEST(Layout, SuppliedScoresAreReadAndTheFitIsSkipped) {
    StepRun r = runOnCsv("t,p,x\n"
                         "1,0.6,1\n"
                         "1,.,2\n" // no score: left out
                         "0,0.3,.\n"
                         "0,0.2,4\n"
                         "1,0.7,5\n"
                         "0,0.4,6\n",
                         "class t; psdata treatvar=t(treated='1') ps=p; assess var=(x);");
    ASSERT_EQ(r.groups.size(), 1u) << r.log;
    const GroupSnap& g = r.groups[0];
    ASSERT_EQ(g.rc, 0) << r.log;
    EXPECT_EQ(g.skip, (std::vector<std::int32_t>{0, 1, 0, 0, 0, 0}));
    // With supplied scores every assessed variable is assessment-only.
    EXPECT_EQ(r.count(223), 1);
    EXPECT_EQ(g.D, 1);
    const double ps[] = {0.6, 0.3, 0.2, 0.7, 0.4};
    ASSERT_EQ(g.lreg.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(g.lreg[i][kRowScore], ps[i]);
    EXPECT_TRUE(g.coef.empty());
    EXPECT_EQ(g.nTreated, 2);
    EXPECT_EQ(g.nControl, 3);
}

} // namespace

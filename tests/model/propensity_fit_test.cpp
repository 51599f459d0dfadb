#include "model/propensity_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "base/messages.h"
#include "core/run_context.h"
#include "model/model_messages.h"

namespace {

using namespace velloc;

// Rows with the design (1, a, 2a): the third column is aliased by the second.
std::vector<double> rows(int n, bool zeroControlWeight) {
    std::vector<double> d;
    for (int i = 0; i < n; ++i) {
        const double a = (i % 7) - 3.0;
        const double y = (i % 3 == 0) != (a > 1) ? 1.0 : 0.0;
        const double w = zeroControlWeight && y == 0.0 ? 0.0 : 1.0;
        d.insert(d.end(), {double(i + 1), 1.0, w, 0.0, y, 1.0, a, 2 * a});
    }
    return d;
}

class VlclregTest : public ::testing::Test {
  protected:
    void SetUp() override {
        addModelMessages();
        host::Log::setStream(&log);
        run.model.layout.D = 3;
        run.nObsRead = 60;
    }
    void TearDown() override { host::Log::setStream(nullptr); }
    std::ostringstream log;
    VlcRun run;
};

TEST_F(VlclregTest, FillsTheRunAndRaisesStatusForAnAliasedColumn) {
    auto d = rows(60, false);
    VectorRowSource src(d.data(), 60, 8);
    run.lregRows = &src;
    ASSERT_EQ(vlclreg(run), 0);
    EXPECT_EQ(run.status, 4);
    EXPECT_NE(log.str().find("[1049-233]"), std::string::npos);
    ASSERT_EQ(run.coef.size(), 3u);
    EXPECT_EQ(run.aliasFlags, (std::vector<int>{0, 1}));
    EXPECT_EQ(run.nAliased, 1);
    EXPECT_EQ(run.nFree, 2);
    EXPECT_EQ(run.coef[2], 0.0);
    EXPECT_EQ(run.fitReturn, 0);
    EXPECT_GT(run.fitIterations, 0);
    // At the maximum the score equations hold: sum (y - p) = 0 and sum (y - p) a = 0.
    double s0 = 0, s1 = 0;
    for (int i = 0; i < 60; ++i) {
        const double* r = &d[i * 8];
        const double p = 1 / (1 + std::exp(-(run.coef[0] + run.coef[1] * r[6])));
        s0 += r[4] - p;
        s1 += (r[4] - p) * r[6];
    }
    EXPECT_NEAR(s0, 0.0, 1e-9);
    EXPECT_NEAR(s1, 0.0, 1e-9);
}

// The group is abandoned with an ERROR, so the step must not end with a clean status.
TEST_F(VlclregTest, OneGroupWithoutWeightAbandonsTheGroupAsADataCondition) {
    auto d = rows(60, true);
    VectorRowSource src(d.data(), 60, 8);
    run.lregRows = &src;
    EXPECT_EQ(vlclreg(run), 1);
    EXPECT_EQ(run.status, 112);
    EXPECT_NE(log.str().find("[1049-224]"), std::string::npos);
}

TEST_F(VlclregTest, MissingOrShortRowSourceAbandons) {
    EXPECT_EQ(vlclreg(run), 1);
    auto d = rows(60, false);
    VectorRowSource narrow(d.data(), 60, 7); // shorter than 5 + D
    run.lregRows = &narrow;
    EXPECT_EQ(vlclreg(run), 1);
}

} // namespace

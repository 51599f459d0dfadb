// Rows that take part in no group (no treatment level, or no score) leave the working file:
// no weight, region or balance sum sees them, and no warning counts them.
#include <cmath>
#include <limits>

#include "adjust_fixture.h"

namespace velloc::testing {
namespace {

class NoGroupRows : public AdjustTest {};

const double kMissing = std::numeric_limits<double>::quiet_NaN();

TEST_F(NoGroupRows, TakePartInNoSumAndRaiseNoWarning) {
    // The four rows of the hand-worked weights example (one control score moved to 0.65 so
    // that the groups' score ranges overlap), then a row of no group (indicator -1)
    // and a control whose supplied score is missing, both with values that would move every
    // control statistic.
    build({{0.6, 1, 2.0, {1.0, 7.0}, {1.0, 1.0}},
           {0.7, 1, 1.0, {4.0, 7.0}, {0.0, 0.0}},
           {0.2, 0, 1.0, {2.0, 7.0}, {1.0, 0.0}},
           {0.65, 0, 3.0, {3.0, 7.0}, {0.0, 0.0}},
           {0.5, -1, 1.0, {100.0, 7.0}, {1.0, 1.0}},
           {kMissing, 0, 1.0, {-50.0, 7.0}, {1.0, 1.0}}},
          2, 2);
    // The model rows count a row without a score in no group either.
    run.freqControl -= 1;
    run.weightType = kWeightAte;
    run.listLength = 3;
    ASSERT_EQ(vlcwght(run), 0) << log.str();
    EXPECT_EQ(logged(kMsgPsZeroOne), 0) << log.str();
    EXPECT_EQ(run.status, 0);

    const auto work = records(*run.vlcvout);
    ASSERT_EQ(work.size(), 4u);
    for (std::size_t i = 0; i < work.size(); ++i)
        EXPECT_EQ(work[i][kVoutObs], static_cast<double>(i + 1));

    // The hand-worked values of the four rows alone: treated mean (2 + 4) / 3 = 2, variance
    // 3; control mean (2 + 9) / 4 = 2.75, variance 0.25; control indicator mean 1 / 4.
    const SetStats& all = run.balance.sets[kAllObs];
    EXPECT_EQ(all.total[kControl], 4.0);
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kTreated).mean, 2.0);
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kControl).mean, 2.75);
    EXPECT_DOUBLE_EQ(stat(kAllObs, 0, kControl).var, 0.25);
    EXPECT_EQ(stat(kAllObs, 0, kControl).max, 3.0);
    EXPECT_EQ(stat(kAllObs, 0, kControl).min, 2.0);
    EXPECT_DOUBLE_EQ(run.balance.sets[kAllObs].slots[run.balance.binSlot(0)].g[kControl].mean,
                     0.25);
    EXPECT_EQ(all.psMax[kControl], 0.65);
    EXPECT_DOUBLE_EQ(run.balance.wideHi[0], 4.3);

    // The support region over all observations: the controls of frequencies 1 and 3.
    ASSERT_EQ(vlcregn(run), 0) << log.str();
    EXPECT_EQ(run.nRegionControl, 4);
    EXPECT_EQ(run.nRegionTreated, 3);
    EXPECT_DOUBLE_EQ(stat(kRegion, 0, kControl).mean, 2.75);
    // The largest ATE weights of the controls: 1 / (1 - 0.65) and 1 / (1 - 0.2) only.
    const auto& top = run.largestWgt[kControl];
    ASSERT_GE(top.value.size(), 3u);
    EXPECT_DOUBLE_EQ(top.value[0], 1.0 / 0.35);
    EXPECT_DOUBLE_EQ(top.value[1], 1.0 / 0.8);
    EXPECT_EQ(top.obs[2], -1.0); // never filled
}

} // namespace
} // namespace velloc::testing

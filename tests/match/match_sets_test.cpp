// Joining a treated unit and a control into a match set, on hand-laid set numbers: each case of
// which unit already has a set, and the merge that renumbers the later sets.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/run_context.h"
#include "match/match.h"

namespace velloc::testing {
namespace {

using Ids = std::vector<std::int64_t>;
using Counts = std::vector<std::int32_t>;

// Three sets over three treated units and four controls:
//   set 1 = {t0; c0}, set 2 = {t1; c1, c2}, set 3 = {t2; c3}.
void threeSets(VlcRun& run) {
    run.trtSetId = {1, 2, 3};
    run.ctlSetId = {1, 2, 2, 3};
    run.setTrtCount = {0, 1, 1, 1};
    run.setCtlCount = {0, 1, 2, 1};
    run.nSets = 3;
}

// The set count, each unit's set and each set's treated and control counts (index 0 unused).
void expectSets(const VlcRun& run, int nSets, const Ids& trt, const Ids& ctl,
                const Counts& trtCount, const Counts& ctlCount) {
    EXPECT_EQ(run.nSets, nSets);
    EXPECT_EQ(run.trtSetId, trt);
    EXPECT_EQ(run.ctlSetId, ctl);
    EXPECT_EQ(run.setTrtCount, trtCount);
    EXPECT_EQ(run.setCtlCount, ctlCount);
}

TEST(JoinSet, NeitherHasASetOpensTheNextSet) {
    VlcRun run;
    run.trtSetId = {0, 0};
    run.ctlSetId = {0, 0};
    run.setTrtCount = {0, 0, 0};
    run.setCtlCount = {0, 0, 0};
    joinSet(run, 1, 0);
    joinSet(run, 0, 1);
    expectSets(run, 2, {2, 1}, {1, 2}, {0, 1, 1}, {0, 1, 1});
}

TEST(JoinSet, AUnitWithoutASetJoinsTheOthersSet) {
    VlcRun run;
    run.trtSetId = {1, 0};
    run.ctlSetId = {1, 0};
    run.setTrtCount = {0, 1};
    run.setCtlCount = {0, 1};
    run.nSets = 1;
    joinSet(run, 0, 1); // a second control for t0
    joinSet(run, 1, 0); // a second treated unit for c0
    expectSets(run, 1, {1, 1}, {1, 1}, {0, 2}, {0, 2});
}

TEST(JoinSet, BothInTheSameSetChangeNothing) {
    VlcRun run;
    threeSets(run);
    joinSet(run, 1, 2);
    expectSets(run, 3, {1, 2, 3}, {1, 2, 2, 3}, {0, 1, 1, 1}, {0, 1, 2, 1});
}

TEST(JoinSet, BothWithSetsMergeIntoTheEarlierAndLaterSetsCloseTheGap) {
    // t0 (set 1) with c1 (set 2): set 2 joins set 1, which then holds t0, t1 and c0, c1, c2
    // (2 treated, 1 + 2 controls); set 3 becomes set 2 with its counts; slot 3 is emptied.
    VlcRun run;
    threeSets(run);
    joinSet(run, 0, 1);
    expectSets(run, 2, {1, 1, 2}, {1, 1, 1, 2}, {0, 2, 1, 0}, {0, 3, 1, 0});
}

TEST(JoinSet, TheEarlierSetIsKeptWhicheverUnitHoldsIt) {
    // t2 (set 3) with c1 (set 2): the control's set is the earlier one and stays; set 3 is the
    // last, so no number moves. Set 2 then holds t1, t2 and c1, c2, c3.
    VlcRun run;
    threeSets(run);
    joinSet(run, 2, 1);
    expectSets(run, 2, {1, 2, 2}, {1, 2, 2, 2}, {0, 1, 2, 0}, {0, 1, 3, 0});
}

} // namespace
} // namespace velloc::testing

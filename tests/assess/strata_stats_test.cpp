// Stratum statistics and the combined Strata set from a working file written by hand; the
// expected values are worked out in the comments.
#include <cmath>

#include "assess_fixture.h"

namespace velloc {
namespace {

using testing::AssessRun;

constexpr int kRec = 17; // 13 fixed fields, 1 CLASS indicator, x, PS, LPS

struct Obs {
    int stratum; // 0: outside the region (missing stratum)
    bool treated;
    double f, x, ind;
};

void writeWorkingFile(VlcRun& run, const std::vector<Obs>& obs) {
    run.voutRecBytes = kRec * 8;
    run.voutClass = 13;
    run.voutCont = 14;
    run.combinedVars = {0};
    run.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT", kRec * 8);
    run.vlcvout->point(-2);
    int n = 0;
    for (const Obs& o : obs) {
        double r[kRec] = {};
        r[0] = ++n;
        r[1] = o.f;
        r[2] = o.treated ? 1 : 0;
        r[3] = o.x / 10;
        r[4] = o.x - 5;
        r[5] = o.stratum ? 1 : 0;
        r[12] = o.stratum ? o.stratum : kNaN;
        r[13] = o.ind;
        r[14] = o.x;
        r[15] = r[3];
        r[16] = r[4];
        ASSERT_EQ(run.vlcvout->write(r), 0);
    }
}

// Stratum 1: treated x 1, 3; controls x 2, 4 and 6 (frequency 2).
// Stratum 2: treated x 5, 7, 9; one control x 8. One record outside the region (x 100).
const std::vector<Obs> kTwoStrata = {
    {1, true, 1, 1, 1},   {1, true, 1, 3, 0},  {1, false, 1, 2, 1}, {1, false, 1, 4, 1},
    {1, false, 2, 6, 0},  {2, true, 1, 5, 1},  {2, true, 1, 7, 1},  {2, true, 1, 9, 1},
    {0, true, 1, 100, 1}, {2, false, 1, 8, 0},
};

void prepare(AssessRun& a, int nStrata) {
    a.run.nStrata = nStrata;
    a.run.strataAssess = 1;
    a.run.strataWeight = 1;
    a.run.balance.sets[kAllObs].slots[0].s = 2.5;
    a.run.balance.sets[kAllObs].slots[a.run.balance.binSlot(0)].s = 0.5;
}

TEST(StrataStatistics, MeansVariancesAndWeights) {
    AssessRun a;
    prepare(a, 2);
    writeWorkingFile(a.run, kTwoStrata);
    ASSERT_EQ(vlccdst(a.run), 0);
    const BalanceStats& b = a.run.balance;
    const StratumSlot& s1 = b.strata[1][0];
    const StratumSlot& s2 = b.strata[2][0];
    EXPECT_DOUBLE_EQ(s1.n[kTreated], 2);
    EXPECT_DOUBLE_EQ(s1.n[kControl], 4);
    // Treated: mean 2, variance ((1-2)^2 + (3-2)^2) / 1 = 2.
    EXPECT_NEAR(s1.mean[kTreated], 2.0, 1e-14);
    EXPECT_NEAR(s1.var[kTreated], 2.0, 1e-14);
    // Controls: (2 + 4 + 2*6) / 4 = 4.5; (6.25 + 0.25 + 2*2.25) / 3 = 11/3.
    EXPECT_NEAR(s1.mean[kControl], 4.5, 1e-14);
    EXPECT_NEAR(s1.var[kControl], 11.0 / 3.0, 1e-14);
    EXPECT_NEAR(s1.s, std::sqrt((2.0 + 11.0 / 3.0) / 2.0), 1e-14);
    EXPECT_DOUBLE_EQ(s1.min[kControl], 2);
    EXPECT_DOUBLE_EQ(s1.max[kControl], 6);
    // Stratum 2: treated mean 7, variance 4; a single control has no variance.
    EXPECT_NEAR(s2.mean[kTreated], 7.0, 1e-14);
    EXPECT_NEAR(s2.var[kTreated], 4.0, 1e-14);
    EXPECT_NEAR(s2.mean[kControl], 8.0, 1e-14);
    EXPECT_TRUE(std::isnan(s2.var[kControl]));
    EXPECT_TRUE(std::isnan(s2.s));
    // Weights by total frequency: 6 and 4 of 10.
    EXPECT_NEAR(b.strataWeight[1], 0.6, 1e-15);
    EXPECT_NEAR(b.strataWeight[2], 0.4, 1e-15);
    // Range of x over the stratified records 1..9, widened by 0.8 on each side.
    EXPECT_NEAR(b.strataLo[0], 0.2, 1e-14);
    EXPECT_NEAR(b.strataHi[0], 9.8, 1e-14);
    // Binary: stratum 1 treated 1/2, controls 2/4; stratum 2 treated 1, control 0.
    const int g = b.binSlot(0);
    EXPECT_DOUBLE_EQ(b.strata[1][g].mean[kTreated], 0.5);
    EXPECT_DOUBLE_EQ(b.strata[1][g].mean[kControl], 0.5);
    EXPECT_DOUBLE_EQ(b.strata[2][g].mean[kTreated], 1.0);
    EXPECT_DOUBLE_EQ(b.strata[2][g].var[kTreated], 0.0);
}

TEST(StrataStatistics, DifferencesAndCombinedSet) {
    AssessRun a;
    prepare(a, 2);
    writeWorkingFile(a.run, kTwoStrata);
    vlccdst(a.run);
    ASSERT_EQ(vlccdf1(a.run), 0);
    const BalanceStats& b = a.run.balance;
    // d(1) = 2 - 4.5, d(2) = 7 - 8, both by the AllObs deviation 2.5.
    EXPECT_NEAR(b.strata[1][0].z, -1.0, 1e-14);
    EXPECT_NEAR(b.strata[2][0].z, -0.4, 1e-14);
    // Binary by the AllObs deviation 0.5: 0 and 2; largest |z| 2 -> ceil(4.8) * 0.5.
    const int g = b.binSlot(0);
    EXPECT_EQ(b.strata[1][g].d, 0.0);
    EXPECT_NEAR(b.strata[2][g].z, 2.0, 1e-14);
    EXPECT_DOUBLE_EQ(b.strataStdDiffLimit, 2.5);
    // Combined: m_t = 0.6*2 + 0.4*7 = 4, m_c = 0.6*4.5 + 0.4*8 = 5.9, var_t = 0.36*2 + 0.16*4.
    const SlotStats& st = b.sets[kFourth].slots[0];
    EXPECT_EQ(b.fourth, kStrataSet);
    EXPECT_NEAR(st.g[kTreated].mean, 4.0, 1e-14);
    EXPECT_NEAR(st.g[kControl].mean, 5.9, 1e-14);
    EXPECT_NEAR(st.g[kTreated].var, 1.36, 1e-14);
    EXPECT_TRUE(std::isnan(st.g[kControl].var)); // stratum 2 has none
    EXPECT_TRUE(std::isnan(st.s));
    EXPECT_DOUBLE_EQ(st.g[kTreated].min, 2.0); // smallest and largest stratum means
    EXPECT_DOUBLE_EQ(st.g[kTreated].max, 7.0);

    // The set's difference comes from vlccdff.
    vlccdff(a.run);
    EXPECT_NEAR(st.d, -1.9, 1e-14);
    EXPECT_NEAR(st.z, -1.9 / 2.5, 1e-14);
}

TEST(StrataStatistics, TreatedWeightsAndAStratumWithoutTreated) {
    AssessRun a;
    prepare(a, 3);
    a.run.strataWeight = 2;
    std::vector<Obs> obs = kTwoStrata;
    obs.push_back({3, false, 1, 4, 0}); // stratum 3: one control, no treated
    writeWorkingFile(a.run, obs);
    vlccdst(a.run);
    vlccdf1(a.run);
    const BalanceStats& b = a.run.balance;
    EXPECT_NEAR(b.strataWeight[1], 0.4, 1e-15); // treated 2, 3, 0 of 5
    EXPECT_NEAR(b.strataWeight[2], 0.6, 1e-15);
    EXPECT_EQ(b.strataWeight[3], 0.0);
    EXPECT_TRUE(std::isnan(b.strata[3][0].mean[kTreated]));
    EXPECT_TRUE(std::isnan(b.strata[3][0].z));
    // The missing stratum mean makes the combined treated mean missing despite weight 0.
    EXPECT_TRUE(std::isnan(b.sets[kFourth].slots[0].g[kTreated].mean));
    EXPECT_NEAR(b.sets[kFourth].slots[0].g[kControl].mean, 0.4 * 4.5 + 0.6 * 8.0, 1e-14);
}

TEST(StrataStatistics, OwnStratumDeviation) {
    AssessRun a;
    prepare(a, 2);
    a.run.sdPerSet = 1;
    writeWorkingFile(a.run, kTwoStrata);
    vlccdst(a.run);
    vlccdf1(a.run);
    const BalanceStats& b = a.run.balance;
    EXPECT_NEAR(b.strata[1][0].z, -2.5 / std::sqrt((2.0 + 11.0 / 3.0) / 2.0), 1e-14);
    EXPECT_TRUE(std::isnan(b.strata[2][0].z)); // its control variance is missing
}

} // namespace
} // namespace velloc

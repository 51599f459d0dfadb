// The greedy search steps over matched controls with free lists; it must choose exactly the
// control that the plain outward walk chooses. The walk is written out here as it is
// specified and run side by side on random groups full of tied scores.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

struct Ctl {
    double obs, ps, exact;
};

// The plain walk: every candidate is visited, matched ones rejected one by one.
int plainWalk(const VlcRun& run, const std::vector<Ctl>& c, const std::vector<int>& used, double p,
              double exact) {
    const double lo = run.regionLower - kTolerance, hi = run.regionUpper + kTolerance;
    if (p < lo || p > hi) return -1;
    const int n = static_cast<int>(c.size());
    auto dist = [&](int j) {
        return run.distance == kScoreLps ? std::fabs(logitClamp(p) - logitClamp(c[j].ps))
                                         : std::fabs(p - c[j].ps);
    };
    auto ok = [&](int j) { return std::fabs(c[j].exact - exact) <= 0.1 && !used[j]; };
    auto lowerWins = [&](double dl, double dh) {
        return run.matchOrder == kOrderAscending ? dl <= dh + 1e-8 : dl < dh - 1e-8;
    };
    std::vector<double> ps;
    for (const Ctl& x : c)
        ps.push_back(x.ps);
    int k = vlcmidx(p, run, ps.data(), n);
    int choice = -1;
    if (ps[k] >= lo && ps[k] <= hi && ok(k)) {
        choice = k;
    } else {
        int L = k - 1, R = k + 1;
        while (true) {
            bool hl = L >= 0 && ps[L] >= lo, hr = R < n && ps[R] <= hi;
            if (!hl && !hr) break;
            bool takeL = hl && (!hr || lowerWins(dist(L), dist(R)));
            int j = takeL ? L : R;
            if (ok(j)) {
                choice = j;
                break;
            }
            takeL ? --L : ++R;
        }
    }
    if (choice >= 0 && run.caliperOn && caliperDiff(run, p, ps[choice]) > run.caliperTestWidth)
        return -1;
    return choice;
}

struct Scenario {
    int order, distance, k;
    double caliper; // 0: none
    int nT, nC, grid;
};

class WalkEquivalence : public ::testing::TestWithParam<Scenario> {};

TEST_P(WalkEquivalence, SameControlsAsThePlainWalk) {
    const Scenario sc = GetParam();
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 gen(seed * 7919u + static_cast<unsigned>(sc.order + sc.k));
        // Scores on a coarse grid give many exact ties; treated units crowd the upper end so
        // that most nearby controls are taken when the later ones search.
        std::uniform_int_distribution<int> cell(1, sc.grid - 1);
        std::uniform_int_distribution<int> level(0, 2);
        std::vector<Unit> units;
        double obs = 1;
        for (int i = 0; i < sc.nC; ++i)
            units.push_back({obs++, 0, cell(gen) / double(sc.grid), {double(level(gen) == 0)}});
        for (int i = 0; i < sc.nT; ++i) {
            double ps = std::max(cell(gen), cell(gen)) / double(sc.grid);
            units.push_back({obs++, 1, ps, {double(level(gen) == 0)}});
        }
        MatchGroup g(1);
        VlcRun& r = *g.run;
        r.matchOrder = sc.order;
        r.distance = r.caliperScale = sc.distance;
        r.k = sc.k;
        r.regionLower = 0.05;
        r.regionUpper = 0.97;
        if (sc.caliper > 0) g.setCaliper(sc.caliper);
        g.write(units);

        // Reference: treated order of the driver, K passes of the plain walk.
        std::vector<Ctl> ctl;
        for (const auto& c : g.controls())
            ctl.push_back({0, c[kCtlPs], 0});
        {
            std::size_t j = 0;
            for (const auto& w : g.working())
                if (w[kVoutTreat] < 0.5) {
                    ctl[j].obs = w[kVoutObs];
                    ctl[j].exact = w[13];
                    ++j;
                }
        }
        std::vector<std::vector<double>> trt = g.treated();
        if (sc.order == 129)
            std::stable_sort(trt.begin(), trt.end(),
                             [](const auto& a, const auto& b) { return a[kTrtPs] > b[kTrtPs]; });
        std::vector<int> used(ctl.size(), 0);
        std::map<double, std::set<double>> expected; // treated obs -> control obs
        for (int pass = 0; pass < sc.k; ++pass)
            for (const auto& t : trt) {
                int j = plainWalk(r, ctl, used, t[kTrtPs], t[kTrtExact]);
                if (j < 0) continue;
                used[j] = 1;
                expected[t[kTrtObs]].insert(ctl[j].obs);
            }

        ASSERT_EQ(velloc(r), 0) << "seed " << seed;
        ASSERT_EQ(vlccomb(r), 0);
        std::map<double, double> setOfTreated;
        std::map<double, std::set<double>> bySet;
        for (const auto& w : g.working()) {
            if (!(w[kVoutMatchSet] >= 0.1)) continue;
            if (w[kVoutTreat] > 0.5)
                setOfTreated[w[kVoutObs]] = w[kVoutMatchSet];
            else
                bySet[w[kVoutMatchSet]].insert(w[kVoutObs]);
        }
        std::map<double, std::set<double>> got;
        for (const auto& [t, s] : setOfTreated)
            got[t] = bySet[s];
        EXPECT_EQ(got, expected) << "seed " << seed;
        EXPECT_FALSE(expected.empty());
        vlcmend(r);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WalkEquivalence,
                         ::testing::Values(Scenario{129, 101, 1, 0, 120, 300, 40},
                                           Scenario{128, 101, 1, 0, 120, 300, 40},
                                           Scenario{129, 100, 2, 0, 100, 260, 25},
                                           Scenario{128, 100, 3, 0, 60, 250, 25},
                                           Scenario{129, 101, 1, 0.1, 150, 220, 60},
                                           Scenario{128, 100, 1, 0.02, 200, 210, 30}));

} // namespace
} // namespace velloc::testing

// The optimal methods against an exhaustive oracle on tiny random BY groups: every way of
// giving each treated unit a subset of its admissible controls is examined (merged by the
// controls' degrees, which is all the constraints depend on), and the cheapest one that
// meets the method's rules must have the total distance the matching phases report, with the
// same status and messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mahalanobis_oracle.h"
#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

struct Options {
    int ratio = 112; // 112 OPTIMAL, 113 VARRATIO, 114 FULL
    int k = 1, kMin = 1, kMax = 1, kMaxTreated = 1;
    int limitType = 0; // 1 KMEAN=, 2 PCTCONTROL=, 3 NCONTROL=
    double kMean = 0, pct = 0;
    std::int64_t nLimit = 0;
    int distance = kScoreLps;  // 102: Mahalanobis over the coordinates below
    int mahCov = kCovIdentity; // 104 control group, 105 pooled, 106 identity
    int mahVars = 1;           // the first continuous values, then PS and LPS when added
    bool mahPs = false, mahLps = false;
    int caliperScale = kScoreLps;
    bool caliper = false;
    double width = 0;
    bool exact = false;
};

struct Expected {
    int status = 0;                         // match status
    std::vector<std::string> messages = {}; // ids that must appear
    double total = 0;
};

double logit(double p) {
    return std::log(p) - std::log1p(-p);
}

// The oracle. Units are all in [0.05, 0.95], so no logit clamping arises.
Expected oracle(const std::vector<Unit>& units, const Options& o) {
    std::vector<const Unit*> trt, ctl;
    for (const Unit& u : units)
        (u.treated ? trt : ctl).push_back(&u);
    std::int64_t nt = std::ssize(trt), nc = std::ssize(ctl), nte = 0, nce = 0;
    for (const Unit* u : trt)
        nte += u->status >= 0.5;
    for (const Unit* u : ctl)
        nce += u->status >= 0.5;

    Expected e;
    std::int64_t n = 0;
    if (o.ratio != 112) {
        if (o.limitType == 1)
            n = static_cast<std::int64_t>(std::ceil(nte * o.kMean));
        else if (o.limitType == 2)
            n = static_cast<std::int64_t>(std::ceil(nc * o.pct / 100));
        else if (o.limitType == 3)
            n = o.nLimit;
        else if (o.ratio == 113)
            n = static_cast<std::int64_t>(std::ceil(nte * (o.kMax + o.kMin) / 2.0));
        else
            n = static_cast<std::int64_t>(
                std::ceil(nte * (o.kMax + 1.0 / o.kMaxTreated) / 2.0 - 1e-9));
        if (n > nce) {
            e.messages.push_back("[1049-258]");
            n = nce;
        }
        int stop = 0;
        if (n > o.kMax * nte)
            stop = 259;
        else if (o.ratio == 113 && n < o.kMin * nte)
            stop = 260;
        else if (o.ratio == 114 && n * o.kMaxTreated < nt)
            stop = 261;
        if (stop) {
            e.messages.push_back("[1049-" + std::to_string(stop) + "]");
            e.messages.push_back("[1049-249]");
            e.status = 102;
            return e;
        }
    }

    // Admissible pairs.
    const MahOracle mah(units, o.mahCov, o.mahVars, o.mahPs, o.mahLps);
    const double w = o.width * (1 + 1.110223024625157e-10);
    std::vector<std::vector<std::pair<int, double>>> adm; // per marked treated unit
    for (const Unit* t : trt) {
        if (t->status < 0.5) continue;
        std::vector<std::pair<int, double>> list;
        for (int j = 0; j < nc; ++j) {
            const Unit* c = ctl[j];
            if (c->status < 0.5) continue;
            if (o.exact && std::fabs(t->exact[0] - c->exact[0]) > 0.1) continue;
            double dl = std::fabs(logit(t->ps) - logit(c->ps)), dp = std::fabs(t->ps - c->ps);
            if (o.caliper && (o.caliperScale == kScorePs ? dp : dl) > w) continue;
            double d = o.distance == kScorePs    ? dp
                       : o.distance == kScoreLps ? dl
                                                 : mah.distance(*t, *c);
            list.push_back({j, d});
        }
        if (!list.empty()) adm.push_back(list);
    }
    if (adm.empty()) {
        e.status = 102;
        e.messages.push_back("[1049-249]");
        return e;
    }

    // Degrees per control, base cap + 1; for each state the best (largest count, then
    // cheapest) way to reach it.
    const int cap = o.ratio == 114 ? o.kMaxTreated : 1;
    int lo = 0, hi = o.k;
    if (o.ratio == 113) lo = o.kMin, hi = o.kMax;
    if (o.ratio == 114) lo = 1, hi = o.kMax;
    std::int64_t nStates = 1;
    for (int j = 0; j < nc; ++j)
        nStates *= cap + 1;
    struct Best {
        int count = -1;
        double cost = 0;
    };
    std::vector<Best> cur(static_cast<std::size_t>(nStates)), next;
    cur[0] = {0, 0.0};
    auto better = [](const Best& a, const Best& b) {
        return a.count > b.count || (a.count == b.count && a.cost < b.cost);
    };
    for (const auto& list : adm) {
        next.assign(cur.size(), Best{});
        const int m = static_cast<int>(list.size());
        for (std::int64_t s = 0; s < nStates; ++s) {
            if (cur[s].count < 0) continue;
            for (int mask = 0; mask < (1 << m); ++mask) {
                int size = __builtin_popcount(mask);
                if (size < lo || size > hi) continue;
                std::int64_t t = s;
                double cost = cur[s].cost;
                bool ok = true;
                for (int b = 0; b < m && ok; ++b) {
                    if (!(mask >> b & 1)) continue;
                    std::int64_t place = 1;
                    for (int j = 0; j < list[b].first; ++j)
                        place *= cap + 1;
                    if ((t / place) % (cap + 1) == cap) ok = false;
                    t += place;
                    cost += list[b].second;
                }
                if (!ok) continue;
                Best cand{cur[s].count + size, cost};
                if (better(cand, next[t])) next[t] = cand;
            }
        }
        cur.swap(next);
    }
    Best best;
    for (std::int64_t s = 0; s < nStates; ++s) {
        if (cur[s].count < 0) continue;
        if (o.ratio != 112) {
            std::int64_t used = 0, full = 0, x = s;
            for (int j = 0; j < nc; ++j, x /= cap + 1) {
                used += x % (cap + 1) >= 1;
                full += x % (cap + 1) == cap;
            }
            if (full > n || n > used) continue;
        }
        // Only the cost counts for the flow methods.
        Best c = cur[s];
        if (o.ratio != 112) c.count = 0;
        if (best.count < 0 || better(c, best)) best = c;
    }
    if (best.count < 0) {
        e.status = 104;
        e.messages.push_back(o.ratio == 113 ? "[1049-253]" : "[1049-254]");
        return e;
    }
    e.total = best.cost;
    if (o.ratio == 112) {
        bool complete = best.count == o.k * std::ssize(adm) && std::ssize(adm) == nte;
        e.status = complete ? 0 : 103;
        if (!complete) e.messages.push_back(o.k == 1 ? "[1049-250]" : "[1049-251]");
    }
    return e;
}

struct Outcome {
    int status;
    double total;
    std::string log;
};

// pairListLimit 0 prices the pairs of a score distance implicitly however few they are.
Outcome runOptimal(const std::vector<Unit>& units, const Options& o,
                   std::int64_t pairListLimit = kPairListLimit) {
    MatchGroup g(o.exact ? 1 : 0, static_cast<int>(units[0].cont.size()));
    VlcRun& r = *g.run;
    r.pairListLimit = pairListLimit;
    r.lineSeedPairs = 1;
    r.pricingNoteSeconds = 0; // every round of implicit pricing is noted
    r.method = kMethodOptimal;
    r.ratioType = o.ratio;
    r.k = o.ratio == 112 ? o.k : 0;
    r.kMin = o.kMin;
    r.kMax = o.kMax;
    r.kMaxTreated = o.kMaxTreated;
    r.controlLimitType = o.limitType;
    r.kMean = o.kMean;
    r.pctControl = o.pct;
    r.nControlLimit = o.nLimit;
    r.distance = o.distance;
    r.caliperScale = o.caliperScale;
    if (o.distance == kScoreMahalanobis) {
        std::vector<int> vars;
        for (int i = 0; i < o.mahVars; ++i)
            vars.push_back(i);
        g.mahalanobis(vars, o.mahPs, o.mahLps, o.mahCov);
    }
    if (o.caliper) g.setCaliper(o.width);
    g.write(units);
    LogCapture log;
    if (o.distance == kScoreMahalanobis) {
        setGroupMeans(g, units);
        EXPECT_EQ(vlcxcov(r), 0);
    }
    for (const Unit& u : units)
        (u.treated ? r.nRegionTreated : r.nRegionControl) += u.status >= 0.5;
    int rc = velloc(r);
    Outcome out{rc ? rc : r.matchStatus, r.totalDistance, ""};
    if (!rc) {
        EXPECT_EQ(vlccomb(r), 0);
        vlcmend(r);
    }
    out.log = log.text();
    return out;
}

std::vector<Unit> randomUnits(std::mt19937_64& rng, bool exact) {
    std::uniform_int_distribution<int> nt(2, 5), nc(2, 7), lvl(0, 1);
    std::uniform_real_distribution<double> ps(0.05, 0.95), u(0, 1), x(0, 10);
    std::uniform_int_distribution<int> grid(1, 5);
    std::vector<Unit> units;
    const int t = nt(rng), c = nc(rng);
    // A third of the groups draw scores from five values, so scores and distances tie.
    const bool tied = u(rng) < 0.33;
    double obs = 1;
    for (int i = 0; i < t + c; ++i) {
        Unit v{obs++, i < t ? 1 : 0, tied ? 0.15 * grid(rng) : ps(rng)};
        v.cont = {std::round(x(rng) * 1000) / 1000};
        if (exact) v.exact = {static_cast<double>(lvl(rng))};
        // A few units outside the support region, but at least two of each group inside.
        bool mayLeave = i < t ? i >= 2 : i - t >= 2;
        if (mayLeave && u(rng) < 0.15) v.status = 0.0;
        units.push_back(v);
    }
    return units;
}

Options randomOptions(std::mt19937_64& rng, int ratio, int k) {
    std::uniform_real_distribution<double> u(0, 1);
    Options o;
    o.ratio = ratio;
    o.k = k;
    double pickDistance = u(rng);
    o.distance = pickDistance < 0.25 ? 100 : pickDistance < 0.45 ? 102 : 101;
    o.caliperScale = o.distance == kScoreMahalanobis ? (u(rng) < 0.5 ? 100 : 101) : o.distance;
    o.exact = u(rng) < 0.4;
    o.caliper = u(rng) < 0.7;
    o.width = o.caliperScale == kScorePs ? 0.1 + 0.4 * u(rng) : 0.3 + 1.7 * u(rng);
    if (ratio == 113) {
        o.kMin = 1 + static_cast<int>(u(rng) * 2);
        o.kMax = o.kMin + static_cast<int>(u(rng) * 2);
    } else if (ratio == 114) {
        o.kMax = 1 + static_cast<int>(u(rng) * 3);
        o.kMaxTreated = 1 + static_cast<int>(u(rng) * 3);
    }
    if (ratio != 112) {
        double pick = u(rng);
        if (pick < 0.15) {
            o.limitType = 1;
            o.kMean = 0.5 + 2 * u(rng);
        } else if (pick < 0.3) {
            o.limitType = 2;
            o.pct = 10 + 90 * u(rng);
        } else if (pick < 0.45) {
            o.limitType = 3;
            o.nLimit = 1 + static_cast<int>(u(rng) * 8);
        }
    }
    return o;
}

void agreeOnRandomGroups(int ratio, int k, std::uint64_t seed, int count) {
    std::mt19937_64 rng(seed);
    int seen[105] = {};
    for (int rep = 0; rep < count; ++rep) {
        Options o = randomOptions(rng, ratio, k);
        std::vector<Unit> units = randomUnits(rng, o.exact);
        Expected e = oracle(units, o);
        ++seen[e.status];
        // Listed pairs are solved on the distances as they are; implicit pricing on a grid of
        // 1e-9 with one step a pair, so its total may exceed the optimum by 2e-9 a pair.
        for (std::int64_t limit : {kPairListLimit, std::int64_t{0}}) {
            Outcome got = runOptimal(units, o, limit);
            const std::string where =
                "instance " + std::to_string(rep) + (limit ? " listed" : " implicit");
            ASSERT_EQ(got.status, e.status) << where << "\n" << got.log;
            for (const std::string& id : e.messages)
                EXPECT_NE(got.log.find(id), std::string::npos) << where << " " << id;
            if (e.status == 0 || e.status == 103) {
                // A solved implicit match notes its rounds (one at least), a listed one none.
                EXPECT_EQ(got.log.find("[1049-262]") != std::string::npos,
                          limit == 0 && o.distance != kScoreMahalanobis)
                    << where << "\n"
                    << got.log;
                const double tol = limit ? 1e-12 * std::max(1.0, e.total) : 1e-7;
                EXPECT_NEAR(got.total, e.total, tol) << where;
            }
        }
    }
    // The draws reach the interesting outcomes, not just the easy one.
    EXPECT_GT(seen[0], count / 20);
    if (ratio == 112) {
        EXPECT_GT(seen[103], 0);
    } else {
        EXPECT_GT(seen[102] + seen[104], 0);
    }
}

// Two covariates and the scores, with one of the structures that make a coordinate of the
// covariance degenerate. Constants are values like 0.37 whose group mean is not exactly
// representable, so the deviations from it are rounding noise rather than zeros.
enum class Degenerate {
    None,
    X2ConstantAmongControls,
    X2ConstantAmongTreated,
    X1ConstantAmongControls,
    X2ConstantWithinEachGroup,
    X2CollinearEverywhere,
    X2CollinearAmongControls,
    ScoreConstantAmongControls,
    Count
};

std::vector<Unit> degenerateUnits(std::mt19937_64& rng, Degenerate kind) {
    std::uniform_int_distribution<int> nt(2, 5), nc(3, 7);
    std::uniform_real_distribution<double> ps(0.05, 0.95), x(0, 10), u(0, 1);
    const double constant = 0.01 * std::uniform_int_distribution<int>(1, 999)(rng) + 0.07;
    const double slope = 0.3 + 0.1 * std::uniform_int_distribution<int>(0, 20)(rng), shift = 0.7;
    const double controlScore = ps(rng);
    std::vector<Unit> units;
    const int t = nt(rng), c = nc(rng);
    double obs = 1;
    for (int i = 0; i < t + c; ++i) {
        const bool treated = i < t;
        Unit v{obs++, treated ? 1 : 0, ps(rng)};
        double x1 = std::round(x(rng) * 1000) / 1000, x2 = std::round(x(rng) * 1000) / 1000;
        switch (kind) {
        case Degenerate::X2ConstantAmongControls:
            if (!treated) x2 = constant;
            break;
        case Degenerate::X2ConstantAmongTreated:
            if (treated) x2 = constant;
            break;
        case Degenerate::X1ConstantAmongControls:
            if (!treated) x1 = constant;
            break;
        case Degenerate::X2ConstantWithinEachGroup:
            x2 = treated ? constant + 1.3 : constant;
            break;
        case Degenerate::X2CollinearEverywhere:
            x2 = slope * x1 + shift;
            break;
        case Degenerate::X2CollinearAmongControls:
            if (!treated) x2 = slope * x1 + shift;
            break;
        case Degenerate::ScoreConstantAmongControls:
            if (!treated) v.ps = controlScore;
            break;
        default:
            break;
        }
        v.cont = {x1, x2};
        bool mayLeave = treated ? i >= 2 : i - t >= 2;
        if (mayLeave && u(rng) < 0.1) v.status = 0.0;
        units.push_back(v);
    }
    return units;
}

// Mahalanobis matching with the control-group or the pooled covariance over degenerate
// coordinates: the oracle's distances leave out what its own rank test drops, and the log
// names exactly those coordinates.
void agreeOnDegenerateMahalanobis(int ratio, int k, std::uint64_t seed, int count) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    int solved = 0, withDrops = 0;
    for (int rep = 0; rep < count; ++rep) {
        Options o = randomOptions(rng, ratio, k);
        o.distance = kScoreMahalanobis;
        o.caliperScale = u(rng) < 0.5 ? 100 : 101;
        o.width = o.caliperScale == kScorePs ? 0.1 + 0.4 * u(rng) : 0.3 + 1.7 * u(rng);
        o.mahCov = u(rng) < 0.7 ? 104 : 105;
        o.mahVars = 2;
        o.mahPs = u(rng) < 0.3;
        o.mahLps = u(rng) < 0.6;
        auto kind = static_cast<Degenerate>(rep % static_cast<int>(Degenerate::Count));
        std::vector<Unit> units = degenerateUnits(rng, kind);
        if (o.exact)
            for (Unit& v : units)
                v.exact = {static_cast<double>(u(rng) < 0.5)};
        const std::vector<std::string> dropped =
            MahOracle(units, o.mahCov, o.mahVars, o.mahPs, o.mahLps).droppedNames();
        Expected e = oracle(units, o);
        Outcome got = runOptimal(units, o);
        const std::string where = "instance " + std::to_string(rep) + " structure " +
                                  std::to_string(static_cast<int>(kind)) + " cov " +
                                  std::to_string(o.mahCov);
        ASSERT_EQ(got.status, e.status) << where << "\n" << got.log;
        for (const std::string& id : e.messages)
            EXPECT_NE(got.log.find(id), std::string::npos) << where << " " << id;
        if (e.status == 0 || e.status == 103) {
            ++solved;
            EXPECT_NEAR(got.total, e.total, 1e-11 * std::max(1.0, e.total)) << where;
        }
        withDrops += !dropped.empty();
        EXPECT_EQ(linesWith(got.log, "[1049-256]").size(), dropped.empty() ? 0u : 1u) << where;
        std::vector<std::string> named = linesWith(got.log, "[1049-257]");
        ASSERT_EQ(named.size(), dropped.size()) << where << "\n" << got.log;
        for (std::size_t i = 0; i < dropped.size(); ++i)
            EXPECT_NE(named[i].find("out " + dropped[i] + "."), std::string::npos)
                << where << ": " << named[i];
    }
    EXPECT_GT(solved, count / 10);
    EXPECT_GT(withDrops, count / 4);
}

TEST(OptimalOracle, DegenerateMahalanobisFixedRatio) {
    agreeOnDegenerateMahalanobis(112, 1, 21, 240);
    agreeOnDegenerateMahalanobis(112, 2, 22, 160);
}

TEST(OptimalOracle, DegenerateMahalanobisVariableRatioAndFull) {
    agreeOnDegenerateMahalanobis(113, 0, 23, 160);
    agreeOnDegenerateMahalanobis(114, 0, 24, 160);
}

TEST(OptimalOracle, FixedRatioOneControl) {
    agreeOnRandomGroups(112, 1, 11, 300);
}

TEST(OptimalOracle, FixedRatioTwoControls) {
    agreeOnRandomGroups(112, 2, 12, 300);
}

TEST(OptimalOracle, VariableRatio) {
    agreeOnRandomGroups(113, 0, 13, 300);
}

TEST(OptimalOracle, FullMatching) {
    agreeOnRandomGroups(114, 0, 14, 300);
}

} // namespace
} // namespace velloc::testing

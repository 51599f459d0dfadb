#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>

#include "solvers/network_optimizer.h"

using namespace velloc::host;

namespace {

struct Net {
    std::int32_t n = 0;
    std::vector<std::int32_t> tail, head, sNode;
    std::vector<double> cost, cap, supply;
    void arc(std::int32_t t, std::int32_t h, double c, double u) {
        tail.push_back(t);
        head.push_back(h);
        cost.push_back(c);
        cap.push_back(u);
    }
    void sup(std::int32_t v, double s) {
        sNode.push_back(v);
        supply.push_back(s);
    }
    FlowNetwork view() const { return {n, tail, head, cost, cap, sNode, supply}; }
};

// Independent check of a returned flow: whole, within bounds, conserved.
void expectValidFlow(const Net& net, const FlowResult& res) {
    ASSERT_EQ(res.flow.size(), net.tail.size());
    std::vector<double> balance(net.n, 0);
    for (std::size_t k = 0; k < net.sNode.size(); ++k)
        balance[net.sNode[k]] += net.supply[k];
    double objective = 0;
    for (std::size_t k = 0; k < net.tail.size(); ++k) {
        double f = res.flow[k];
        EXPECT_EQ(f, std::floor(f)) << "arc " << k;
        EXPECT_GE(f, 0) << "arc " << k;
        EXPECT_LE(f, net.cap[k]) << "arc " << k;
        balance[net.tail[k]] -= f;
        balance[net.head[k]] += f;
        objective += net.cost[k] * f;
    }
    for (std::int32_t v = 0; v < net.n; ++v)
        EXPECT_EQ(balance[v], 0) << "node " << v;
    EXPECT_NEAR(res.objective, objective, 1e-12 * std::max(1.0, objective));
}

// Brute force over every whole flow (each arc 0 .. its capacity): the least cost among
// those that balance every node, or none.
std::optional<double> bruteForceFlow(const Net& net) {
    std::optional<double> best;
    std::vector<double> balance(net.n, 0);
    for (std::size_t k = 0; k < net.sNode.size(); ++k)
        balance[net.sNode[k]] += net.supply[k];
    auto rec = [&](auto&& self, std::size_t k, double cost) -> void {
        if (k == net.tail.size()) {
            if (std::all_of(balance.begin(), balance.end(), [](double b) { return b == 0; }) &&
                (!best || cost < *best))
                best = cost;
            return;
        }
        for (int f = 0; f <= int(net.cap[k]); ++f) {
            balance[net.tail[k]] -= f;
            balance[net.head[k]] += f;
            self(self, k + 1, cost + net.cost[k] * f);
            balance[net.tail[k]] += f;
            balance[net.head[k]] -= f;
        }
    };
    rec(rec, 0, 0.0);
    return best;
}

} // namespace

TEST(NetOptFlow, AgreesWithBruteForceOnRandomSmallNetworks) {
    std::mt19937_64 rng(7001);
    std::uniform_real_distribution<double> unif(0, 1);
    int feasible = 0, infeasible = 0;
    for (int trial = 0; trial < 400; ++trial) {
        Net net;
        net.n = 3 + int(rng() % 3);
        const int m = 3 + int(rng() % 6);
        for (int k = 0; k < m; ++k) {
            int t = int(rng() % net.n), h = int(rng() % (net.n - 1));
            if (h >= t) ++h;
            net.arc(t, h, rng() % 4 == 0 ? 0.0 : unif(rng), double(rng() % 3));
        }
        // Supplies of a random balanced pattern: +s at one node, -s split over others.
        int src = int(rng() % net.n), s = 1 + int(rng() % 3);
        net.sup(src, s);
        int left = s;
        while (left > 0) {
            int v = int(rng() % net.n);
            if (v == src) continue;
            int d = 1 + int(rng() % left);
            net.sup(v, -d);
            left -= d;
        }
        std::optional<double> best = bruteForceFlow(net);
        (best ? feasible : infeasible) += 1;
        // One candidate arc per node makes the pricing loop add nearly every arc it uses.
        for (std::int32_t candidates : {1, kPricingCandidates}) {
            FlowResult res = minCostFlowPriced(net.view(), candidates);
            if (!best) {
                EXPECT_EQ(res.status, kNetOptInfeasible) << "trial " << trial;
                EXPECT_TRUE(res.flow.empty());
                continue;
            }
            ASSERT_EQ(res.status, kNetOptOptimal) << "trial " << trial << ": " << res.detail;
            expectValidFlow(net, res);
            EXPECT_NEAR(res.objective, *best, 1e-12 * std::max(1.0, *best)) << "trial " << trial;
        }
    }
    EXPECT_GT(feasible, 100);
    EXPECT_GT(infeasible, 50);
}

namespace {

// The matching network: treated 0..nt-1, controls nt..nt+nc-1, A, B. pair[i][j] < 0 means
// no admissible pair.
Net matchingNet(const std::vector<std::vector<double>>& pair, bool full, int kmin, int kmax,
                int kmaxTreated, int nControls) {
    const int nt = int(pair.size()), nc = int(pair[0].size());
    Net net;
    net.n = nt + nc + 2;
    const int A = nt + nc, B = nt + nc + 1;
    std::vector<char> tMark(nt, 0), cMark(nc, 0);
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nc; ++j)
            if (pair[i][j] >= 0) {
                net.arc(i, nt + j, pair[i][j], 1);
                tMark[i] = cMark[j] = 1;
            }
    int nta = 0;
    for (int j = 0; j < nc; ++j)
        if (cMark[j]) net.arc(nt + j, A, 0, 1);
    for (int i = 0; i < nt; ++i)
        if (tMark[i]) {
            net.arc(i, B, 0, full ? kmax - 1 : kmax - kmin);
            ++nta;
        }
    if (full)
        for (int j = 0; j < nc; ++j)
            if (cMark[j]) net.arc(nt + j, B, 0, kmaxTreated - 1);
    for (int i = 0; i < nt; ++i)
        if (tMark[i]) net.sup(i, kmax);
    net.sup(A, -nControls);
    net.sup(B, nControls - nta * kmax);
    return net;
}

// The matching network and, by brute force over the pair flows, the least total distance
// (none when no flow exists).
struct MatchCase {
    Net net;
    std::optional<double> best;
};
MatchCase matchNetwork(const std::vector<std::vector<double>>& pair, bool full, int kmin, int kmax,
                       int kmaxTreated, int nControls) {
    const int nt = int(pair.size()), nc = int(pair[0].size());
    MatchCase mc;
    mc.net = matchingNet(pair, full, kmin, kmax, kmaxTreated, nControls);
    std::vector<char> tMark(nt, 0);
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nc; ++j)
            if (pair[i][j] >= 0) {
                tMark[i] = 1;
                pairs.push_back({i, j});
            }

    // Every subset of pairs: treated degrees must fit, controls must fit, N must reach A.
    const int np = int(pairs.size());
    for (unsigned mask = 0; mask < (1u << np); ++mask) {
        std::vector<int> tDeg(nt, 0), cDeg(nc, 0);
        double cost = 0;
        for (int p = 0; p < np; ++p)
            if (mask & (1u << p)) {
                ++tDeg[pairs[p].first];
                ++cDeg[pairs[p].second];
                cost += pair[pairs[p].first][pairs[p].second];
            }
        bool ok = true;
        int canReachA = 0, mustReachA = 0;
        for (int i = 0; i < nt; ++i)
            if (tMark[i]) ok &= tDeg[i] <= kmax && tDeg[i] >= (full ? 1 : kmin);
        for (int j = 0; j < nc; ++j) {
            if (full) {
                ok &= cDeg[j] <= kmaxTreated;
                canReachA += cDeg[j] >= 1;
                mustReachA += cDeg[j] == kmaxTreated;
            } else {
                ok &= cDeg[j] <= 1;
                canReachA += cDeg[j] == 1;
                mustReachA += cDeg[j] == 1;
            }
        }
        ok &= mustReachA <= nControls && nControls <= canReachA;
        if (ok && (!mc.best || cost < *mc.best)) mc.best = cost;
    }
    return mc;
}

} // namespace

TEST(NetOptFlow, MatchingNetworksAgreeWithBruteForce) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> unif(0, 3);
    int solved = 0, infeasible = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int nt = 1 + int(rng() % 3), nc = 1 + int(rng() % 4);
        std::vector<std::vector<double>> pair(nt, std::vector<double>(nc, -1));
        bool any = false;
        for (auto& row : pair)
            for (double& d : row)
                if (rng() % 4 != 0) {
                    d = rng() % 5 == 0 ? 0.5 : unif(rng); // some equal distances
                    any = true;
                }
        if (!any) continue;
        const bool full = rng() % 2;
        const int kmax = 1 + int(rng() % 3), kmin = 1 + int(rng() % kmax);
        const int kmaxTreated = 1 + int(rng() % 3), nControls = 1 + int(rng() % nc);
        MatchCase mc = matchNetwork(pair, full, kmin, kmax, kmaxTreated, nControls);
        (mc.best ? solved : infeasible) += 1;
        for (std::int32_t candidates : {1, kPricingCandidates}) {
            FlowResult res = minCostFlowPriced(mc.net.view(), candidates);
            if (!mc.best) {
                EXPECT_EQ(res.status, kNetOptInfeasible) << "trial " << trial;
                continue;
            }
            ASSERT_EQ(res.status, kNetOptOptimal) << "trial " << trial << ": " << res.detail;
            expectValidFlow(mc.net, res);
            EXPECT_NEAR(res.objective, *mc.best, 1e-12 * std::max(1.0, *mc.best))
                << "trial " << trial;
        }
    }
    EXPECT_GT(solved, 80);
    EXPECT_GT(infeasible, 30);
}

// Networks too large for brute force: the pricing loop, starting from one or a few arcs per
// node, must reach the optimum of the simplex run on every arc at once.
TEST(NetOptFlow, PricingReachesTheOptimumOfTheWholeNetwork) {
    std::mt19937_64 rng(4242);
    std::normal_distribution<double> z(0, 1);
    int infeasible = 0, solved = 0;
    for (int trial = 0; trial < 30; ++trial) {
        const int nt = 5 + int(rng() % 40), nc = nt + int(rng() % 120);
        std::vector<double> pt(nt), pc(nc);
        for (double& x : pt)
            x = z(rng) - 1;
        for (double& x : pc)
            x = z(rng) - 2;
        const double caliper = trial % 3 == 0 ? 0.1 : 1.5;
        std::vector<std::vector<double>> pair(nt, std::vector<double>(nc, -1));
        for (int i = 0; i < nt; ++i)
            for (int j = 0; j < nc; ++j)
                if (std::fabs(pt[i] - pc[j]) <= caliper) pair[i][j] = std::fabs(pt[i] - pc[j]);
        const bool full = trial % 2 == 0;
        const int kmax = 1 + int(rng() % 3), kmin = 1 + int(rng() % kmax);
        const int kmaxTreated = 1 + int(rng() % 3);
        const int nControls = std::min(nc / 2, int(nt * (kmax + kmin) / 2));
        const Net net = matchingNet(pair, full, kmin, kmax, kmaxTreated, nControls);
        const FlowResult whole = minCostFlowPriced(net.view(), 1 << 30);
        for (std::int32_t candidates : {1, 3}) {
            FlowResult res = minCostFlowPriced(net.view(), candidates);
            ASSERT_EQ(res.status, whole.status) << "trial " << trial << ": " << res.detail;
            if (whole.status != kNetOptOptimal) continue;
            expectValidFlow(net, res);
            EXPECT_NEAR(res.objective, whole.objective, 1e-12 * std::max(1.0, whole.objective))
                << "trial " << trial;
        }
        infeasible += whole.status == kNetOptInfeasible;
        solved += whole.status == kNetOptOptimal;
    }
    EXPECT_GT(infeasible, 0);
    EXPECT_GT(solved, 10);
}

TEST(NetOptFlow, IntegerCostsKeepSmallDifferences) {
    Net net;
    net.n = 2;
    net.arc(0, 1, 1e-4, 1);
    net.arc(0, 1, 2e-4, 1);
    net.arc(0, 1, 0, 1);
    net.arc(0, 1, 3.0000, 1);
    net.arc(0, 1, 3.0001, 1);
    bool reduced = true;
    std::vector<std::int64_t> c = scaleCosts(net.view(), &reduced);
    EXPECT_FALSE(reduced);
    EXPECT_EQ(c, (std::vector<std::int64_t>{100000, 200000, 1, 3000000000, 3000100000}));

    // Sending 1 unit picks the zero-cost arc; 4 units leave out only the dearest.
    net.sup(0, 4);
    net.sup(1, -4);
    FlowResult res = NetworkOptimizer{}.minCostFlow(net.view());
    ASSERT_EQ(res.status, kNetOptOptimal) << res.detail;
    EXPECT_EQ(res.flow, (std::vector<double>{1, 1, 1, 1, 0}));
    EXPECT_DOUBLE_EQ(res.objective, 1e-4 + 2e-4 + 0 + 3.0);

    // Costs too large for 1e-9 steps are scaled down: the flow must then be checked.
    Net big = net;
    big.cost = {1e12, 2e12, 0, 3e12, 4e12};
    res = NetworkOptimizer{}.minCostFlow(big.view());
    ASSERT_EQ(res.status, kNetOptCheck) << res.detail;
    EXPECT_EQ(res.flow, (std::vector<double>{1, 1, 1, 1, 0}));
}

TEST(NetOptFlow, VerificationRejectsCorruptedFlows) {
    // 0 -> 2 directly (cost 5) or through 1 (1 + 1). One unit from 0 to 2: the optimum goes
    // through 1; potentials pi = (0, 1, 2) give reduced costs 3, 0, 0 (cost + pi(tail) -
    // pi(head)).
    Net net;
    net.n = 3;
    net.arc(0, 2, 5, 1);
    net.arc(0, 1, 1, 1);
    net.arc(1, 2, 1, 1);
    net.sup(0, 1);
    net.sup(2, -1);
    // At scale 1 the integer costs are the costs themselves.
    const std::vector<std::int64_t> pi{0, 1, 2};
    using F = std::vector<double>;
    EXPECT_EQ(verifyFlow(net.view(), 1.0, F{0, 1, 1}, pi), "");
    // Feasible but dearer: flow on an arc of positive reduced cost.
    EXPECT_NE(verifyFlow(net.view(), 1.0, F{1, 0, 0}, pi), "");
    // Conservation broken at node 1.
    EXPECT_NE(verifyFlow(net.view(), 1.0, F{0, 1, 0}, pi), "");
    // Over capacity, and a fractional flow.
    EXPECT_NE(verifyFlow(net.view(), 1.0, F{0, 2, 2}, pi), "");
    EXPECT_NE(verifyFlow(net.view(), 1.0, F{0, 1, 1.5}, pi), "");
    // Potentials that do not certify the flow.
    EXPECT_NE(verifyFlow(net.view(), 1.0, F{0, 1, 1}, std::vector<std::int64_t>{0, 0, 0}), "");

    FlowResult res = NetworkOptimizer{}.minCostFlow(net.view());
    ASSERT_EQ(res.status, kNetOptOptimal);
    EXPECT_EQ(res.flow, (std::vector<double>{0, 1, 1}));
    EXPECT_EQ(res.objective, 2);
}

TEST(NetOptFlow, InfeasibleAndBadNetworks) {
    Net tight;
    tight.n = 2;
    tight.arc(0, 1, 1, 1);
    tight.sup(0, 2);
    tight.sup(1, -2);
    EXPECT_EQ(NetworkOptimizer{}.minCostFlow(tight.view()).status, kNetOptInfeasible);

    Net unbalanced = tight;
    unbalanced.supply = {1, 0};
    EXPECT_EQ(NetworkOptimizer{}.minCostFlow(unbalanced.view()).status, kNetOptInfeasible);

    auto bad = [](Net n) {
        FlowResult res = NetworkOptimizer{}.minCostFlow(n.view());
        EXPECT_FALSE(res.detail.empty());
        return res.status;
    };
    Net node = tight;
    node.head[0] = 2;
    EXPECT_EQ(bad(node), kNetOptBadInput);
    Net neg = tight;
    neg.cost[0] = -1;
    EXPECT_EQ(bad(neg), kNetOptBadInput);
    Net frac = tight;
    frac.cap[0] = 1.5;
    EXPECT_EQ(bad(frac), kNetOptBadInput);
    Net fracSupply = tight;
    fracSupply.supply = {0.5, -0.5};
    EXPECT_EQ(bad(fracSupply), kNetOptBadInput);
    Net ragged = tight;
    ragged.cap.push_back(1);
    EXPECT_EQ(bad(ragged), kNetOptBadInput);
    Net supplyNode = tight;
    supplyNode.sNode[1] = 7;
    EXPECT_EQ(bad(supplyNode), kNetOptBadInput);

    // No arcs and no supplies: the empty flow is optimal.
    Net empty;
    empty.n = 3;
    FlowResult res = NetworkOptimizer{}.minCostFlow(empty.view());
    EXPECT_EQ(res.status, kNetOptOptimal);
    EXPECT_EQ(res.objective, 0);
}

// Implicit pricing of pairs on a line: the pricer against brute force over every pair, and
// the flow over implicit pairs against the flow mode of the service on the same pairs listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "random_line.h"
#include "solvers/line_flow.h"
#include "solvers/line_pairs.h"
#include "solvers/network_optimizer.h"

using namespace velloc::host;

namespace {

TEST(LinePricer, FindsTheMostViolatedPairsOfEveryWindowAsBruteForceDoes) {
    std::mt19937_64 rng(7);
    int compared = 0;
    for (int rep = 0; rep < 300; ++rep) {
        const int rows = 1 + rng() % 6, cols = 1 + rng() % 40;
        const std::int64_t spread = rep % 2 ? 6 : 1000;
        const LinePairs p = randomLine(rng, rows, cols, static_cast<int>(spread));
        ASSERT_EQ(p.check(), "");
        std::vector<std::int64_t> colTerm(cols);
        for (auto& t : colTerm)
            t = rng() % 9 == 0 ? std::numeric_limits<std::int64_t>::max() / 4
                               : static_cast<std::int64_t>(rng() % (spread + 1)) - spread / 2;
        LinePricer pricer(p);
        pricer.setColumnTerms(colTerm);
        for (int r = 0; r < rows; ++r) {
            const std::int64_t rowTerm = -static_cast<std::int64_t>(rng() % (spread + 1));
            std::vector<std::int64_t> brute;
            for (int c = p.lo[r]; c < p.hi[r]; ++c)
                if (colTerm[c] < 1000) {
                    const std::int64_t red = p.cost(r, c) + rowTerm + colTerm[c];
                    if (red < 0) brute.push_back(red);
                }
            std::sort(brute.begin(), brute.end());
            const std::int64_t most = 1 + rng() % 5;
            std::vector<PricedPair> got;
            pricer.violated(r, rowTerm, most, got);
            const std::size_t want = std::min<std::size_t>(brute.size(), most);
            ASSERT_EQ(got.size(), want) << "rep " << rep << " row " << r;
            for (std::size_t k = 0; k < want; ++k) {
                EXPECT_EQ(got[k].reduced, brute[k]) << "rep " << rep << " row " << r;
                EXPECT_EQ(got[k].reduced, p.cost(r, got[k].col) + rowTerm + colTerm[got[k].col]);
                EXPECT_TRUE(got[k].col >= p.lo[r] && got[k].col < p.hi[r]);
            }
            // Range minima over every sub-range of the window.
            for (int a = p.lo[r]; a <= p.hi[r]; ++a)
                for (int b = a; b <= p.hi[r]; ++b) {
                    std::int64_t m = std::numeric_limits<std::int64_t>::max();
                    for (int c = a; c < b; ++c)
                        m = std::min(m, p.cost(r, c) + rowTerm + colTerm[c]);
                    EXPECT_EQ(pricer.minReduced(r, rowTerm, a, b), m);
                }
            compared += !brute.empty();
        }
    }
    EXPECT_GT(compared, 200); // most rows had violated pairs to find
}

TEST(LinePairs, ChecksItsWindowsAndCountsPairs) {
    LinePairs p;
    p.rowAt = {5, 9};
    p.colAt = {1, 4, 8, 3};
    p.lo = {0, 3};
    p.hi = {3, 4};
    EXPECT_EQ(p.check(), "");
    EXPECT_EQ(p.count(), 4);
    EXPECT_EQ(p.maxCost(), 6); // row 1 to column 3: |3 - 9|
    p.hi[0] = 4;               // column 3 (position 3) is left of column 2 (position 8)
    EXPECT_NE(p.check(), "");
    p.hi[0] = 5;
    EXPECT_NE(p.check().find("outside"), std::string::npos);
}

// A transportation network around the pairs: row r supplies s_r; column c sends to the
// sink (capacity u_c) or, at a cost, to an overflow node; the sink and the overflow node
// take fixed amounts. Every listed cost is at least 1, as the service's grid makes it.
// Solved once with the pairs implicit (one seed pair a row, so that
// pricing must find the rest) and once with them listed.
struct Case {
    LinePairs p;
    std::vector<std::int32_t> tail, head, sNode;
    std::vector<std::int64_t> cost, cap, supply;
};

Case randomCase(std::mt19937_64& rng) {
    Case k;
    const int rows = 1 + rng() % 6, cols = 1 + rng() % 12;
    k.p = randomLine(rng, rows, cols, rng() % 2 ? 5 : 50);
    const std::int32_t sink = rows + cols, overflow = sink + 1;
    std::int64_t total = 0;
    for (int r = 0; r < rows; ++r) {
        const std::int64_t s = 1 + rng() % 3;
        k.sNode.push_back(r);
        k.supply.push_back(s);
        total += s;
        if (rng() % 3 != 0) { // a slack arc, as the treated units' extra capacity
            k.tail.push_back(r);
            k.head.push_back(overflow);
            k.cost.push_back(1);
            k.cap.push_back(s - static_cast<std::int64_t>(rng() % 2));
        }
    }
    for (int c = 0; c < cols; ++c) {
        k.tail.push_back(rows + c);
        k.head.push_back(sink);
        k.cost.push_back(1);
        k.cap.push_back(1 + rng() % 2);
        if (rng() % 2) {
            k.tail.push_back(rows + c);
            k.head.push_back(overflow);
            k.cost.push_back(1 + static_cast<std::int64_t>(rng() % 4));
            k.cap.push_back(1);
        }
    }
    std::int64_t sinkCap = 0;
    for (std::size_t a = 0; a < k.head.size(); ++a)
        if (k.head[a] == sink) sinkCap += k.cap[a];
    const std::int64_t toSink = static_cast<std::int64_t>(rng() % (std::min(total, sinkCap) + 1));
    k.sNode.push_back(sink);
    k.supply.push_back(-toSink);
    k.sNode.push_back(overflow);
    k.supply.push_back(toSink - total);
    return k;
}

TEST(LineFlow, AgreesWithTheListedFlowOnRandomNetworks) {
    std::mt19937_64 rng(19);
    int optimal = 0, infeasible = 0, multiRound = 0;
    for (int rep = 0; rep < 1000; ++rep) {
        const Case k = randomCase(rng);
        const std::int32_t nNodes = k.p.rows() + k.p.cols() + 2;
        LineFlowNetwork net;
        net.pairs = &k.p;
        net.nNodes = nNodes;
        net.tail = k.tail;
        net.head = k.head;
        net.cost = k.cost;
        net.capacity = k.cap;
        net.supplyNode = k.sNode;
        net.supply = k.supply;
        const LineFlowResult got = minCostLineFlow(net, 1);

        // The listed network: the same pairs as arcs, costs on the service's 1e-9 grid.
        std::vector<std::int32_t> tail, head;
        std::vector<double> cost, cap, supply(k.supply.begin(), k.supply.end());
        for (int r = 0; r < k.p.rows(); ++r)
            for (int c = k.p.lo[r]; c < k.p.hi[r]; ++c) {
                tail.push_back(r);
                head.push_back(k.p.rows() + c);
                cost.push_back(static_cast<double>(k.p.cost(r, c) + net.pairStep) * 1e-9);
                cap.push_back(1);
            }
        for (std::size_t a = 0; a < k.tail.size(); ++a) {
            tail.push_back(k.tail[a]);
            head.push_back(k.head[a]);
            cost.push_back(static_cast<double>(k.cost[a]) * 1e-9);
            cap.push_back(static_cast<double>(k.cap[a]));
        }
        const FlowResult want =
            NetworkOptimizer().minCostFlow({nNodes, tail, head, cost, cap, k.sNode, supply});
        ASSERT_TRUE(want.status == kNetOptOptimal || want.status == kNetOptInfeasible);
        ASSERT_EQ(got.status, want.status) << "rep " << rep << ": " << got.detail;
        if (got.status != kNetOptOptimal) {
            ++infeasible;
            continue;
        }
        ++optimal;
        multiRound += got.history.size() > 1;
        EXPECT_EQ(got.objective, std::llround(want.objective * 1e9)) << "rep " << rep;
        // The pairs returned are pairs of the windows, within capacity, and with the listed
        // arcs they conserve flow at every node.
        std::vector<std::int64_t> balance(nNodes, 0);
        for (std::size_t s = 0; s < k.sNode.size(); ++s)
            balance[k.sNode[s]] += k.supply[s];
        for (const PairFlow& f : got.pairs) {
            EXPECT_TRUE(f.col >= k.p.lo[f.row] && f.col < k.p.hi[f.row]);
            EXPECT_TRUE(f.flow >= 1 && f.flow <= net.pairCapacity);
            balance[f.row] -= f.flow;
            balance[k.p.rows() + f.col] += f.flow;
        }
        for (std::size_t a = 0; a < k.tail.size(); ++a) {
            EXPECT_TRUE(got.arcFlow[a] >= 0 && got.arcFlow[a] <= k.cap[a]);
            balance[k.tail[a]] -= got.arcFlow[a];
            balance[k.head[a]] += got.arcFlow[a];
        }
        for (std::int64_t b : balance)
            EXPECT_EQ(b, 0) << "rep " << rep;
    }
    EXPECT_GT(optimal, 100);
    EXPECT_GT(infeasible, 10);
    EXPECT_GT(multiRound, optimal / 5); // pricing had to bring pairs in
}

TEST(LineFlow, APartialFlowRoutesAsMuchAsCanBeAtLeastCost) {
    // Three rows of supply 1 competing for two columns (capacity 1 into the sink, which
    // would take 3): two units route, and row 1 (pair costs 3 and 4) is left out.
    LinePairs p;
    p.rowAt = {10, 7, 12};
    p.colAt = {10, 11};
    p.lo = {0, 0, 0};
    p.hi = {2, 2, 2};
    std::vector<std::int32_t> tail = {3, 4}, head = {5, 5}, sNode = {0, 1, 2, 5};
    std::vector<std::int64_t> cost = {0, 0}, cap = {1, 1}, supply = {1, 1, 1, -3};
    LineFlowNetwork net;
    net.pairs = &p;
    net.nNodes = 6;
    net.tail = tail;
    net.head = head;
    net.cost = cost;
    net.capacity = cap;
    net.supplyNode = sNode;
    net.supply = supply;
    EXPECT_EQ(minCostLineFlow(net, 1).status, kNetOptInfeasible);
    net.allowPartial = true;
    const LineFlowResult res = minCostLineFlow(net, 1);
    ASSERT_EQ(res.status, kNetOptCheck) << res.detail;
    EXPECT_EQ(res.unrouted, 1);
    ASSERT_EQ(res.pairs.size(), 2u);
    // Row 0 - column 0 (0) and row 2 - column 1 (1): 1 + 2 with steps; row 0 - column 1 and
    // row 2 - column 0 would cost 1 + 2 + 2 steps = 5.
    EXPECT_EQ(res.pairs[0].row, 0);
    EXPECT_EQ(res.pairs[0].col, 0);
    EXPECT_EQ(res.pairs[1].row, 2);
    EXPECT_EQ(res.pairs[1].col, 1);
    EXPECT_EQ(res.objective, 3);
}

TEST(LineFlow, RefusesNetworksItCannotPrice) {
    LinePairs p;
    p.rowAt = {0};
    p.colAt = {0};
    p.lo = {0};
    p.hi = {1};
    std::vector<std::int32_t> tail = {0}, head = {1}, sNode = {0, 1};
    std::vector<std::int64_t> cost = {0}, cap = {1}, supply = {1, -1};
    LineFlowNetwork net;
    net.pairs = &p;
    net.nNodes = 2;
    net.tail = tail;
    net.head = head; // a listed arc into a column node
    net.cost = cost;
    net.capacity = cap;
    net.supplyNode = sNode;
    net.supply = supply;
    LineFlowResult res = minCostLineFlow(net);
    EXPECT_EQ(res.status, kNetOptBadInput);
    EXPECT_NE(res.detail.find("enters column node 1"), std::string::npos);
    net.tail = {};
    net.head = {};
    net.cost = {};
    net.capacity = {};
    supply[1] = -2;
    res = minCostLineFlow(net);
    EXPECT_EQ(res.status, kNetOptBadInput);
    EXPECT_NE(res.detail.find("add up to -1"), std::string::npos);
}

// Full matching networks on a line of many units, where the working network falls apart into
// parts around the two collecting nodes: the same least cost as the listed flow, and the
// rounds solved part by part.
TEST(LineFlow, SolvesFullMatchesPartByPartAsTheListedFlowDoes) {
    std::mt19937_64 rng(23);
    int split = 0, optimal = 0;
    for (int rep = 0; rep < 40; ++rep) {
        const int rows = 20 + static_cast<int>(rng() % 20),
                  cols = 100 + static_cast<int>(rng() % 100);
        std::uniform_int_distribution<std::int64_t> pos(0, 600);
        LinePairs p;
        for (int c = 0; c < cols; ++c)
            p.colAt.push_back(pos(rng));
        std::sort(p.colAt.begin(), p.colAt.end());
        for (int r = 0; r < rows; ++r) {
            const std::int64_t x = pos(rng);
            p.rowAt.push_back(x);
            p.lo.push_back(static_cast<std::int32_t>(
                std::lower_bound(p.colAt.begin(), p.colAt.end(), x - 12) - p.colAt.begin()));
            p.hi.push_back(static_cast<std::int32_t>(
                std::upper_bound(p.colAt.begin(), p.colAt.end(), x + 12) - p.colAt.begin()));
        }
        // Each row sends KMAX = 3 units, at most 2 of them to B; a column forwards one unit to
        // A and up to KMAXTREATED - 1 more to B; A takes N.
        const std::int64_t kMaxTreated = 1 + static_cast<std::int64_t>(rng() % 3);
        const std::int32_t a = rows + cols, b = a + 1;
        std::vector<std::int32_t> tail, head, sNode;
        std::vector<std::int64_t> cost, cap, supply;
        std::int64_t withPairs = 0;
        for (int r = 0; r < rows; ++r)
            if (p.hasPairs(r)) {
                ++withPairs;
                sNode.push_back(r), supply.push_back(3);
                tail.push_back(r), head.push_back(b), cost.push_back(0), cap.push_back(2);
            }
        for (int c = 0; c < cols; ++c) {
            tail.push_back(rows + c), head.push_back(a), cost.push_back(0), cap.push_back(1);
            if (kMaxTreated > 1)
                tail.push_back(rows + c), head.push_back(b), cost.push_back(0),
                    cap.push_back(kMaxTreated - 1);
        }
        const std::int64_t n = withPairs + static_cast<std::int64_t>(rng() % (withPairs + 1));
        sNode.push_back(a), supply.push_back(-n);
        sNode.push_back(b), supply.push_back(n - 3 * withPairs);
        LineFlowNetwork net;
        net.pairs = &p;
        net.nNodes = b + 1;
        net.tail = tail, net.head = head, net.cost = cost, net.capacity = cap;
        net.supplyNode = sNode, net.supply = supply;
        const LineFlowResult got = minCostLineFlow(net, 2);

        std::vector<std::int32_t> lt, lh;
        std::vector<double> lc, lu, ls(supply.begin(), supply.end());
        for (int r = 0; r < rows; ++r)
            for (int c = p.lo[r]; c < p.hi[r]; ++c) {
                lt.push_back(r), lh.push_back(rows + c);
                lc.push_back(static_cast<double>(p.cost(r, c) + net.pairStep) * 1e-9);
                lu.push_back(1);
            }
        for (std::size_t k = 0; k < tail.size(); ++k)
            lt.push_back(tail[k]), lh.push_back(head[k]), lc.push_back(0),
                lu.push_back(double(cap[k]));
        const FlowResult want = NetworkOptimizer().minCostFlow({b + 1, lt, lh, lc, lu, sNode, ls});
        ASSERT_EQ(got.status, want.status) << "rep " << rep << ": " << got.detail;
        for (const LineRound& r : got.history)
            split += r.parts > 1;
        if (got.status != kNetOptOptimal) continue;
        ++optimal;
        EXPECT_EQ(got.objective, std::llround(want.objective * 1e9)) << "rep " << rep;
    }
    EXPECT_GT(optimal, 10);
    EXPECT_GT(split, 20);
}

} // namespace

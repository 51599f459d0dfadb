// The flow over implicitly priced pairs alone, on the scores of bench_optimal: logits N(-1, 1)
// for the treated units and N(-2, 1) for the controls, a caliper of 0.2 on the logit, costs on
// a grid of 1e-9. Prints each round of the pricing loop (working network, simplex and pricing
// times) and the whole time.
//
// Usage: bench_line [treated] [controls] [full|flow]  (default 10000 100000; "full" for FULL
// KMAX=3 KMAXTREATED=3, "flow" for 1:1 as a flow, else 1:1 as an assignment)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench_util.h"
#include "solvers/line_assignment.h"
#include "solvers/line_flow.h"

using namespace velloc::host;

int main(int argc, char** argv) {
    const long nt = argc > 1 ? std::atol(argv[1]) : 10000;
    const long nc = argc > 2 ? std::atol(argv[2]) : 100000;
    const bool full = argc > 3 && std::strcmp(argv[3], "full") == 0;
    const bool flow = full || (argc > 3 && std::strcmp(argv[3], "flow") == 0);
    std::mt19937_64 rng(20240612);
    std::normal_distribution<double> z(0.0, 1.0);
    std::vector<double> t(nt), c(nc);
    for (double& x : t)
        x = (std::getenv("BENCH_LINE_SAME") ? -2.0 : -1.0) + z(rng);
    for (double& x : c)
        x = -2.0 + z(rng);
    std::sort(t.begin(), t.end());
    std::sort(c.begin(), c.end());
    LinePairs p;
    for (double x : t) {
        p.rowAt.push_back(std::llround(x * 1e9));
        p.lo.push_back(
            static_cast<std::int32_t>(std::lower_bound(c.begin(), c.end(), x - 0.2) - c.begin()));
        p.hi.push_back(
            static_cast<std::int32_t>(std::upper_bound(c.begin(), c.end(), x + 0.2) - c.begin()));
    }
    for (double x : c)
        p.colAt.push_back(std::llround(x * 1e9));

    const std::int32_t rows = static_cast<std::int32_t>(nt), cols = static_cast<std::int32_t>(nc);
    const std::int32_t a = rows + cols, b = a + 1;
    std::vector<std::int32_t> tail, head, sNode;
    std::vector<std::int64_t> cost, cap, supply;
    auto arc = [&](std::int32_t from, std::int32_t to, std::int64_t u) {
        tail.push_back(from), head.push_back(to), cost.push_back(0), cap.push_back(u);
    };
    std::int64_t withPairs = 0;
    const int kMax = full ? 3 : 1;
    for (std::int32_t r = 0; r < rows; ++r)
        if (p.hasPairs(r)) {
            ++withPairs;
            sNode.push_back(r), supply.push_back(kMax);
            if (full) arc(r, b, kMax - 1);
        }
    for (std::int32_t k = 0; k < cols; ++k) {
        arc(rows + k, a, 1);
        if (full) arc(rows + k, b, 2);
    }
    // 1:1 takes one control a treated unit; full matching n_te (KMAX + 1/KMAXTREATED) / 2.
    const std::int64_t n = full ? (withPairs * 10 + 5) / 6 : withPairs;
    sNode.push_back(a), supply.push_back(-n);
    sNode.push_back(b), supply.push_back(n - withPairs * kMax);

    LineFlowNetwork net;
    net.pairs = &p;
    net.nNodes = b + 1;
    net.tail = tail, net.head = head, net.cost = cost, net.capacity = cap;
    net.supplyNode = sNode, net.supply = supply;
    net.allowPartial = !full;
    const auto start = std::chrono::steady_clock::now();
    LineFlowResult res;
    if (flow) {
        res = minCostLineFlow(net);
    } else {
        LineAssignment a = assignOnLine(p);
        res.status = a.status;
        res.history = a.history;
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (std::size_t k = 0; k < res.history.size(); ++k) {
        const LineRound& r = res.history[k];
        std::printf("round %zu: %lld nodes, %lld pairs, %lld parts, simplex %.2f s, pricing %.2f "
                    "s, %lld joined\n",
                    k + 1, static_cast<long long>(r.nodes), static_cast<long long>(r.pairs),
                    static_cast<long long>(r.parts), r.solveSeconds, r.priceSeconds,
                    static_cast<long long>(r.joined));
    }
    std::printf("%ld x %ld %s, %lld admissible pairs: status %d, %.2f s, peak RSS %.0f MiB\n", nt,
                nc,
                full   ? "full"
                : flow ? "1:1 flow"
                       : "1:1",
                static_cast<long long>(p.count()), res.status, secs, velloc::bench::peakRssMiB());
    return 0;
}

// Benchmark of the network-optimization service on caliper matching problems.
//
// Logit scores: treated ~ N(-1, 1), controls ~ N(-2, 1); caliper 0.2 x pooled SD of the
// logit score; the cost of a pair is the absolute difference of the logit scores. Each case
// runs in a child process, so the peak resident size printed is that case's alone.
//
//   bench_netopt                      all cases
//   bench_netopt assign NT NC         optimal 1:1 matching by assignment
//   bench_netopt full NT NC           full matching by minimum-cost flow (KMAX 3, KMAXTREATED 3)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench_util.h"
#include "solvers/network_optimizer.h"

using velloc::host::NetworkOptimizer;

namespace {

double seconds(std::chrono::steady_clock::time_point t0) {
    return velloc::bench::secondsSince(t0);
}

double peakMiB() {
    return velloc::bench::peakRssMiB();
}

double sd(const std::vector<double>& x) {
    double m = 0, s = 0;
    for (double v : x)
        m += v;
    m /= double(x.size());
    for (double v : x)
        s += (v - m) * (v - m);
    return std::sqrt(s / double(x.size() - 1));
}

struct Pairs {
    std::vector<std::int32_t> t, c; // treated index, control index (controls in score order)
    std::vector<double> d;
};

// Every treated-control pair within the caliper, treated units in order, each one's
// controls in score order.
Pairs caliperPairs(int nt, int nc, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> norm(0, 1);
    std::vector<double> lt(nt), lc(nc);
    for (double& x : lt)
        x = -1 + norm(rng);
    for (double& x : lc)
        x = -2 + norm(rng);
    const double st = sd(lt), sc = sd(lc);
    const double caliper = 0.2 * std::sqrt((st * st + sc * sc) / 2);
    std::sort(lc.begin(), lc.end());
    Pairs p;
    for (int i = 0; i < nt; ++i) {
        auto lo = std::lower_bound(lc.begin(), lc.end(), lt[i] - caliper);
        for (auto it = lo; it != lc.end() && *it <= lt[i] + caliper; ++it) {
            p.t.push_back(i);
            p.c.push_back(std::int32_t(it - lc.begin()));
            p.d.push_back(std::fabs(lt[i] - *it));
        }
    }
    return p;
}

void benchAssign(int nt, int nc) {
    auto t0 = std::chrono::steady_clock::now();
    Pairs p = caliperPairs(nt, nc, 1);
    // Rows are treated units, columns numbered after them (K = 1).
    for (auto& j : p.c)
        j += nt;
    const double tGen = seconds(t0);
    const double rssGen = peakMiB();
    t0 = std::chrono::steady_clock::now();
    auto res = NetworkOptimizer{}.assign({p.t, p.c, p.d});
    const double tSolve = seconds(t0);
    const double rss = peakMiB();
    std::printf("assign %d x %d: %zu arcs, generated in %.2f s (peak %.0f MiB); solved in %.2f s, "
                "status %d, %zu assigned, total %.6f; peak RSS %.0f MiB (%.1f bytes/arc)\n",
                nt, nc, p.d.size(), tGen, rssGen, tSolve, res.status, res.arcs.size(),
                res.objective, rss, rss * 1048576.0 / double(p.d.size()));
    if (!res.detail.empty()) std::printf("  %s\n", res.detail.c_str());
}

void benchFull(int nt, int nc) {
    const int kmax = 3, kmaxTreated = 3;
    auto t0 = std::chrono::steady_clock::now();
    Pairs p = caliperPairs(nt, nc, 2);
    std::vector<std::int32_t> tail, head;
    std::vector<double> cost, cap;
    std::vector<char> tMark(nt, 0), cMark(nc, 0);
    for (std::size_t k = 0; k < p.d.size(); ++k) {
        tail.push_back(p.t[k]);
        head.push_back(nt + p.c[k]);
        cost.push_back(p.d[k]);
        cap.push_back(1);
        tMark[p.t[k]] = cMark[p.c[k]] = 1;
    }
    const int A = nt + nc, B = nt + nc + 1;
    int nta = 0;
    for (int j = 0; j < nc; ++j)
        if (cMark[j]) {
            tail.push_back(nt + j), head.push_back(A), cost.push_back(0), cap.push_back(1);
        }
    for (int i = 0; i < nt; ++i)
        if (tMark[i]) {
            tail.push_back(i), head.push_back(B), cost.push_back(0), cap.push_back(kmax - 1);
            ++nta;
        }
    for (int j = 0; j < nc; ++j)
        if (cMark[j]) {
            tail.push_back(nt + j), head.push_back(B), cost.push_back(0);
            cap.push_back(kmaxTreated - 1);
        }
    const long long n = (long long)std::ceil(nta * (kmax + 1.0 / kmaxTreated) / 2);
    std::vector<std::int32_t> sNode;
    std::vector<double> supply;
    for (int i = 0; i < nt; ++i)
        if (tMark[i]) sNode.push_back(i), supply.push_back(kmax);
    sNode.push_back(A), supply.push_back(-double(n));
    sNode.push_back(B), supply.push_back(double(n) - double(nta) * kmax);
    const std::size_t nPairs = p.d.size();
    p = {}; // only the network stays
    const double tGen = seconds(t0);

    t0 = std::chrono::steady_clock::now();
    auto res = NetworkOptimizer{}.minCostFlow({nt + nc + 2, tail, head, cost, cap, sNode, supply});
    const double tSolve = seconds(t0);
    std::size_t used = 0;
    for (std::size_t k = 0; k < nPairs && k < res.flow.size(); ++k)
        used += res.flow[k] > 1e-6;
    const double rss = peakMiB();
    std::printf("full %d x %d (N %lld): %zu pair arcs, %zu arcs, generated in %.2f s; solved in "
                "%.2f s, status %d, %zu pairs matched, total %.6f; peak RSS %.0f MiB (%.1f "
                "bytes/arc)\n",
                nt, nc, n, nPairs, tail.size(), tGen, tSolve, res.status, used, res.objective, rss,
                rss * 1048576.0 / double(tail.size()));
    if (!res.detail.empty()) std::printf("  %s\n", res.detail.c_str());
}

void runCase(const std::string& mode, int nt, int nc) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (mode == "assign")
            benchAssign(nt, nc);
        else
            benchFull(nt, nc);
        std::fflush(stdout);
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
        std::printf("%s %d x %d: the case did not finish\n", mode.c_str(), nt, nc);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4) {
        std::string mode = argv[1];
        if (mode != "assign" && mode != "full") {
            std::fprintf(stderr, "usage: bench_netopt [assign|full NT NC]\n");
            return 64;
        }
        runCase(mode, std::atoi(argv[2]), std::atoi(argv[3]));
        return 0;
    }
    runCase("assign", 3000, 30000);
    runCase("assign", 10000, 100000);
    runCase("full", 1000, 10000);
    return 0;
}

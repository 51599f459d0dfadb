// Times the weights, region, score order, group file, strata and restore phases on one large
// BY group with supplied scores and five covariates, and prints the wall-clock and processor
// seconds per phase (processor time is the fairer figure on a shared machine).
//
// Usage: bench_adjust [observations] (default 2000000).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "adjust/adjust_messages.h"
#include "core/model_rows.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"

using namespace velloc;

namespace {

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 2000000;
    addAdjustMessages();
    VlcRun run;
    for (auto* f : {&run.vlclreg, &run.vlcvout, &run.vlctemp, &run.vlctreat, &run.vlccntl})
        *f = std::make_unique<host::UtilFile>("BENCH");
    const int M = 5;
    run.analysisVars.assign(M, VarRef{});
    run.nCombined = M;
    for (int i = 0; i < M; ++i)
        run.combinedVars.push_back(i);
    run.psSupplied = 1;
    run.psSource = kScoreLps;
    run.lregExact = run.lregClass = run.lregCont = kRowDesign;
    run.lregIdNum = run.lregIdText = run.lregCont + M;
    run.lregRecBytes = 8 * run.lregIdNum;
    run.balance.reset(M + 2, 0, 5);
    run.weightType = kWeightAte;
    run.regionType = 43;
    run.regionExtend = 1;
    run.nStrata = 5;
    run.listLength = 10;

    std::mt19937_64 rng(20261206);
    std::normal_distribution<double> z(0.0, 1.0);
    std::vector<double> rec(static_cast<std::size_t>(run.lregIdNum));
    run.vlclreg->setRecordBytes(static_cast<std::size_t>(run.lregRecBytes));
    for (long i = 0; i < n; ++i) {
        const bool treated = rng() % 3 == 0;
        rec[kRowObs] = static_cast<double>(i + 1);
        rec[kRowFreq] = rec[kRowWeight] = 1.0;
        rec[kRowScore] = z(rng) + (treated ? 0.8 : -0.3);
        rec[kRowTreat] = treated;
        for (int j = 0; j < M; ++j)
            rec[static_cast<std::size_t>(kRowDesign + j)] = z(rng);
        if (run.vlclreg->write(rec.data())) return 1;
        (treated ? run.freqTreated : run.freqControl) += 1;
    }
    run.nObsRead = n;

    struct Phase {
        const char* name;
        int (*call)(VlcRun&);
    } phases[] = {{"weights", vlcwght},     {"region", vlcregn}, {"sort", vlcsort},
                  {"group files", vlcfile}, {"strata", vlcstra}, {"restore order", vlcback}};
    double total = 0.0, totalCpu = 0.0;
    for (const Phase& p : phases) {
        auto t0 = std::chrono::steady_clock::now();
        const std::clock_t c0 = std::clock();
        const int rc = p.call(run);
        const double s = seconds(t0);
        const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        total += s;
        totalCpu += cpu;
        std::printf("%-14s %8.3f s wall %8.3f s cpu%s\n", p.name, s, cpu,
                    rc ? "  (returned non-zero)" : "");
    }
    std::printf("%-14s %8.3f s wall %8.3f s cpu for %ld observations\n", "total", total, totalCpu,
                n);
    return 0;
}

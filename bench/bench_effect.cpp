// The EFFECT statement's cost, end to end on synthetic studies with an outcome:
//   1. ATT weights on 1,000,000 rows, with and without EFFECT (robust standard error): the
//      effect phase's time from the per-group log note and the difference of the two steps;
//   2. greedy 1:1 matching on 100,000 rows with SE=BOOTSTRAP(NREP=999): the effect phase's
//      time, which is the bootstrap;
//   3. ATT weights on the same 100,000 rows with SE=BOOTSTRAP(NREP=999): every replicate
//      refits the propensity model and forms the weights again.
//
// Usage: bench_effect [weighted rows] [matched rows] [folder]. Defaults 1,000,000, 100,000 and
// $TMPDIR or /tmp; the data sets are removed afterwards.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <fmt/format.h>

#include "bench_util.h"

namespace {

// Treatment from a logistic model on three covariates (about 30% treated); the outcome
// depends on the covariates and on treatment (effect 1) with unit noise.
void writeStudy(const std::string& path, long n) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "bench_effect: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::mt19937_64 rng(20261207);
    std::normal_distribution<double> z;
    std::uniform_real_distribution<double> u;
    std::string buf = "id,treat,x1,x2,x3,y\n";
    for (long i = 0; i < n; ++i) {
        const double x1 = z(rng), x2 = z(rng), x3 = z(rng);
        const int t = u(rng) < 1.0 / (1.0 + std::exp(-(-0.9 + 0.6 * x1 - 0.4 * x2 + 0.3 * x3)));
        const double y = 2.0 + x1 + 0.5 * x2 - 0.5 * x3 + t + z(rng);
        fmt::format_to(std::back_inserter(buf), "{},{},{:.6f},{:.6f},{:.6f},{:.6f}\n", i + 1, t, x1,
                       x2, x3, y);
        if (buf.size() > (1 << 20)) {
            std::fwrite(buf.data(), 1, buf.size(), out);
            buf.clear();
        }
    }
    std::fwrite(buf.data(), 1, buf.size(), out);
    std::fclose(out);
}

std::string step(const std::string& csv, const std::string& adjustment, const std::string& effect) {
    return "proc velloc data='" + csv +
           "' region=allobs;\n   class treat;\n   psmodel treat(treated='1') = x1 x2 x3;\n   " +
           adjustment + "\n   " + effect + "\nrun;\n";
}

void report(const char* what, const velloc::bench::StepOutcome& s) {
    std::printf("%s: step %.2f s (effect %s s), status %d\n", what, s.seconds,
                velloc::bench::phaseSeconds(s.log, "effect").c_str(), s.code);
    if (s.code != 0 && s.code != 4) std::printf("%s", s.log.c_str());
}

} // namespace

int main(int argc, char** argv) {
    using namespace velloc;
    const long nWeighted = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long nMatched = argc > 2 ? std::atol(argv[2]) : 100000;
    const std::string dir =
        argc > 3 ? argv[3] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    registerCatalogue();

    const std::string big = dir + "/bench_effect_" + std::to_string(nWeighted) + ".csv";
    writeStudy(big, nWeighted);
    const std::string weights = "psweight weight=attwgt;";
    bench::StepOutcome without = bench::runFirstStep(step(big, weights, ""));
    bench::StepOutcome with = bench::runFirstStep(step(big, weights, "effect outcome=y;"));
    std::printf("ATT weights, %ld rows\n", nWeighted);
    report("  without EFFECT", without);
    report("  with EFFECT   ", with);
    std::printf("  difference %.2f s, peak RSS %.0f MiB\n", with.seconds - without.seconds,
                bench::peakRssMiB());
    std::filesystem::remove(big);

    const std::string small = dir + "/bench_effect_" + std::to_string(nMatched) + ".csv";
    writeStudy(small, nMatched);
    bench::StepOutcome boot =
        bench::runFirstStep(step(small, "match method=greedy(k=1) distance=lps caliper=0.25;",
                                 "effect outcome=y / se=bootstrap(nrep=999 seed=1);"));
    std::printf("greedy 1:1 matching, %ld rows, 999 bootstrap replicates\n", nMatched);
    report("  with EFFECT   ", boot);
    std::printf("  peak RSS %.0f MiB\n", bench::peakRssMiB());

    bench::StepOutcome refit = bench::runFirstStep(
        step(small, weights, "effect outcome=y / se=bootstrap(nrep=999 seed=1);"));
    std::printf("ATT weights, %ld rows, 999 bootstrap replicates refitting the model\n", nMatched);
    report("  with EFFECT   ", refit);
    std::printf("  peak RSS %.0f MiB\n", bench::peakRssMiB());
    std::filesystem::remove(small);
    return 0;
}

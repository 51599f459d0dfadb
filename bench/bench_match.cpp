// Greedy 1:1 matching on the logit of the propensity score with CALIPER=0.25, end to end:
// writes a synthetic study (10% treated, three covariates), runs the procedure step on it and
// prints the wall time, the matching phase's time (from the per-group log note) and the peak
// resident set size.
//
// Usage: bench_match [rows] [folder]. rows defaults to 1,000,000; the data set goes to folder
// (default: $TMPDIR or /tmp) and is removed afterwards.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "bench_util.h"
#include "study_gen.h"

namespace {

// Treatment from a logistic model (about 10% treated) on two continuous covariates and a
// two-level CLASS covariate.
void writeStudy(const std::string& path, long n) {
    velloc::bench::StudySpec study;
    study.n = n;
    study.treatedShare = 0.1;
    study.continuous = 2;
    study.classes = 1;
    study.levels = 2;
    study.seed = 20240611;
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (!out || !velloc::bench::writeStudy(study, velloc::bench::studyTruth(study), out)) {
        std::fprintf(stderr, "bench_match: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(out);
}

} // namespace

int main(int argc, char** argv) {
    using namespace velloc;
    long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string csv = dir + "/bench_match_" + std::to_string(n) + ".csv";

    auto t0 = std::chrono::steady_clock::now();
    writeStudy(csv, n);
    std::printf("rows %ld: data written in %.1f s\n", n, bench::secondsSince(t0));

    registerCatalogue();
    std::string program = "proc velloc data='" + csv +
                          "' region=allobs;\n"
                          "   class treat c1;\n"
                          "   psmodel treat(treated='1') = x1 x2 c1;\n"
                          "   match method=greedy(k=1) distance=lps caliper=0.25;\n"
                          "run;\n";
    bench::StepOutcome step = bench::runFirstStep(program);
    const std::string& text = step.log;
    std::printf("rows %ld: procedure %.2f s (matching %s s), status %d, peak RSS %.0f MiB\n", n,
                step.seconds, bench::phaseSeconds(text, "match").c_str(), step.code,
                bench::peakRssMiB());
    if (auto p = text.find("took "); p != std::string::npos)
        std::printf("phases: %s\n", text.substr(p, text.find('\n', p) - p).c_str());
    if (step.code != 0 && step.code != 4) std::printf("%s", text.c_str());
    std::filesystem::remove(csv);
    return 0;
}

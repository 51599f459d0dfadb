// Every diagnostic plot of a large study, end to end: writes a synthetic study (30% treated,
// eight continuous and two CLASS covariates), runs ATT weighting with five strata and
// PLOTS=(ALL) into an HTML report, and prints the wall time, the plot phases' times (from the
// per-group log note), the peak resident set size and the size of the report.
//
// Usage: bench_plots [rows] [folder]. rows defaults to 1,000,000; the data set and the report
// go to folder (default: $TMPDIR or /tmp) and are removed afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "bench_util.h"
#include "host/session.h"
#include "render/graph_renderers.h"
#include "study_gen.h"

namespace {

using velloc::bench::peakRssMiB;
using velloc::bench::phaseSeconds;
double since(std::chrono::steady_clock::time_point t0) {
    return velloc::bench::secondsSince(t0);
}

} // namespace

int main(int argc, char** argv) {
    using namespace velloc;
    long long n = argc > 1 ? std::atoll(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string csv = dir + "/bench_plots_" + std::to_string(n) + ".csv";
    std::string html = dir + "/bench_plots_" + std::to_string(n) + ".html";

    bench::StudySpec study;
    study.n = n;
    study.continuous = 8;
    study.classes = 2;
    study.levels = 2;
    auto t0 = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(csv.c_str(), "wb");
    if (!f || !bench::writeStudy(study, bench::studyTruth(study), f)) {
        std::fprintf(stderr, "cannot write %s\n", csv.c_str());
        return 1;
    }
    std::fclose(f);
    std::printf("rows %lld: data written in %.1f s\n", n, since(t0));

    registerCatalogue();
    std::ostringstream log;
    host::Log::setStream(&log);
    host::Output& out = host::Session::current().output;
    out.addSink(host::makeHtmlSink(html, host::renderGraphSvg));
    std::string program = "proc velloc data='" + csv +
                          "' region=allobs;\n"
                          "   class treat c1 c2;\n"
                          "   psmodel treat(treated='1') = x1 x2 x3 x4 x5 x6 x7 x8 c1 c2;\n"
                          "   psweight weight=attwgt;\n"
                          "   strata nstrata=5;\n"
                          "   assess ps lps var=(x1 x2 x3 c1 c2) / plots=(all);\n"
                          "run;\n";
    int errors = 0;
    std::vector<StepSource> steps = splitProgram(program, "bench", &errors);
    t0 = std::chrono::steady_clock::now();
    int code = steps.empty() ? -1 : runProcedureStep(steps[0], 1);
    bool written = out.finish();
    double total = since(t0);
    host::Log::setStream(nullptr);

    std::string text = log.str();
    std::error_code ec;
    auto bytes = std::filesystem::file_size(html, ec);
    std::printf(
        "rows %lld: procedure and report %.2f s (plots %s s, strata plots %s s), status %d, "
        "peak RSS %.0f MiB, report %.1f MB%s\n",
        n, total, phaseSeconds(text, "plots").c_str(), phaseSeconds(text, "strata plots").c_str(),
        code, peakRssMiB(), ec ? 0.0 : static_cast<double>(bytes) / 1e6,
        written ? "" : " (not written)");
    if (auto p = text.find("took "); p != std::string::npos)
        std::printf("phases: %s\n", text.substr(p, text.find('\n', p) - p).c_str());
    if (code != 0 && code != 4) std::printf("%s", text.c_str());
    if (!std::getenv("BENCH_KEEP")) {
        std::filesystem::remove(csv, ec);
        std::filesystem::remove(html, ec);
    }
    return 0;
}

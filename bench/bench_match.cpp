// Greedy 1:1 matching on the logit of the propensity score with CALIPER=0.25, end to end:
// writes a synthetic study (10% treated, three covariates), runs the procedure step on it and
// prints the wall time, the matching phase's time (from the per-group log note) and the peak
// resident set size.
//
// Usage: bench_match [rows] [folder]. rows defaults to 1,000,000; the data set goes to folder
// (default: $TMPDIR or /tmp) and is removed afterwards.
#include <sys/resource.h>

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

#include "frame/catalogue.h"
#include "frame/driver.h"
#include "frame/statements.h"
#include "host/host.h"

namespace {

double peakRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Treatment from a logistic model with intercept -2.6 (about 10% treated).
void writeStudy(const std::string& path, long n) {
    std::ofstream out(path);
    out << "id,treat,x1,x2,x3\n";
    std::mt19937_64 rng(20240611);
    std::normal_distribution<double> z(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::string buf;
    for (long i = 1; i <= n; ++i) {
        double x1 = z(rng), x2 = z(rng), x3 = u(rng) < 0.4 ? 1.0 : 0.0;
        double eta = -2.6 + 0.6 * x1 - 0.4 * x2 + 0.5 * x3;
        int t = u(rng) < 1.0 / (1.0 + std::exp(-eta)) ? 1 : 0;
        buf += fmt::format("{},{},{:.6f},{:.6f},{}\n", i, t, x1, x2, x3);
        if (buf.size() > (1u << 20)) {
            out << buf;
            buf.clear();
        }
    }
    out << buf;
}

} // namespace

int main(int argc, char** argv) {
    using namespace velloc;
    long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string csv = dir + "/bench_match_" + std::to_string(n) + ".csv";

    auto t0 = std::chrono::steady_clock::now();
    writeStudy(csv, n);
    std::printf("rows %ld: data written in %.1f s\n", n, since(t0));

    registerCatalogue();
    std::ostringstream log;
    host::Log::setStream(&log);
    std::string program = "proc velloc data='" + csv +
                          "' region=allobs;\n"
                          "   class treat x3;\n"
                          "   psmodel treat(treated='1') = x1 x2 x3;\n"
                          "   match method=greedy(k=1) distance=lps caliper=0.25;\n"
                          "run;\n";
    int errors = 0;
    std::vector<StepSource> steps = splitProgram(program, "bench", &errors);
    t0 = std::chrono::steady_clock::now();
    int code = steps.empty() ? -1 : runProcedureStep(steps[0], 1);
    double total = since(t0);
    host::Log::setStream(nullptr);

    std::string text = log.str(), matchTime = "?";
    if (auto p = text.find("match "); p != std::string::npos)
        matchTime = text.substr(p + 6, text.find(" s", p + 6) - (p + 6));
    std::printf("rows %ld: procedure %.2f s (matching %s s), status %d, peak RSS %.0f MiB\n", n,
                total, matchTime.c_str(), code, peakRssMiB());
    if (auto p = text.find("took "); p != std::string::npos)
        std::printf("phases: %s\n", text.substr(p, text.find('\n', p) - p).c_str());
    if (code != 0 && code != 4) std::printf("%s", text.c_str());
    std::filesystem::remove(csv);
    return 0;
}

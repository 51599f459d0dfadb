// Optimal matching end to end on supplied scores: the logit of the score is N(-1, 1) for the
// treated units and N(-2, 1) for the controls, the caliper 0.2 standard deviations of the
// logit. Runs the procedure step (PSDATA, so every phase but the fit) and prints the wall
// time, the matching phase's time (from the per-group log note) and the peak resident set.
//
// Usage: bench_optimal [case] [folder]. Cases: opt3k, opt10k and opt100k (OPTIMAL K=1, 3,000 x
// 30,000, 10,000 x 100,000 and 100,000 x 1,000,000), full1k, full3k, full10k and full100k
// (FULL KMAX=3 KMAXTREATED=3, 1,000 x 10,000 up to 100,000 x 1,000,000; full30k 30,000 x
// 300,000), full1k-nocaliper (full1k with every
// pair admissible, 10 million pairs), varratio10k (VARRATIO KMIN=1 KMAX=3, 10,000 x 100,000:
// a few treated units in the upper tail compete for too few controls, so the network has no
// flow and the step reports it); all but the 30,000 x 300,000 and larger ones when none is
// named.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "bench_util.h"

namespace {

struct Case {
    const char* name;
    long nt, nc;
    const char* method;
    const char* caliper = "0.2";
};

void writeStudy(const std::string& path, long nt, long nc) {
    std::ofstream out(path);
    out << "id,treat,lps\n";
    std::mt19937_64 rng(20240612);
    std::normal_distribution<double> z(0.0, 1.0);
    std::string buf;
    for (long i = 1; i <= nt + nc; ++i) {
        int t = i <= nt ? 1 : 0;
        buf += fmt::format("{},{},{:.9f}\n", i, t, (t ? -1.0 : -2.0) + z(rng));
        if (buf.size() > (1u << 20)) {
            out << buf;
            buf.clear();
        }
    }
    out << buf;
}

void run(const Case& c, const std::string& dir) {
    using namespace velloc;
    std::string csv = dir + "/bench_optimal_" + c.name + ".csv";
    writeStudy(csv, c.nt, c.nc);
    std::string program = "proc velloc data='" + csv +
                          "' region=allobs;\n"
                          "   class treat;\n"
                          "   psdata treatvar=treat(treated='1') lps=lps;\n"
                          "   match method=" +
                          c.method + " distance=lps caliper=" + c.caliper +
                          ";\n"
                          "run;\n";
    bench::StepOutcome step = bench::runFirstStep(program);
    const std::string& text = step.log;
    const int code = step.code;
    std::printf("%s (%ld x %ld, %s): step %.2f s (matching %s s), status %d, peak RSS %.0f MiB\n",
                c.name, c.nt, c.nc, c.method, step.seconds,
                bench::phaseSeconds(text, "match").c_str(), code, bench::peakRssMiB());
    if (code != 0) {
        for (const char* level : {"WARNING", "ERROR"})
            for (std::size_t p = text.find(level); p != std::string::npos;
                 p = text.find(level, p + 1))
                std::printf("  %s\n", text.substr(p, text.find('\n', p) - p).c_str());
    }
    if (code != 0 && code != 4) std::printf("%s", text.c_str());
    std::filesystem::remove(csv);
}

} // namespace

int main(int argc, char** argv) {
    const Case cases[] = {{"opt3k", 3000, 30000, "optimal(k=1)"},
                          {"opt10k", 10000, 100000, "optimal(k=1)"},
                          {"opt100k", 100000, 1000000, "optimal(k=1)"},
                          {"full1k", 1000, 10000, "full(kmax=3 kmaxtreated=3)"},
                          {"full3k", 3000, 30000, "full(kmax=3 kmaxtreated=3)"},
                          {"full10k", 10000, 100000, "full(kmax=3 kmaxtreated=3)"},
                          {"full30k", 30000, 300000, "full(kmax=3 kmaxtreated=3)"},
                          {"full100k", 100000, 1000000, "full(kmax=3 kmaxtreated=3)"},
                          {"full1k-nocaliper", 1000, 10000, "full(kmax=3 kmaxtreated=3)", "1000"},
                          {"varratio10k", 10000, 100000, "varratio(kmin=1 kmax=3)"}};
    std::string want = argc > 1 ? argv[1] : "";
    std::string dir = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    velloc::registerCatalogue();
    for (const Case& c : cases)
        if (want.empty() ? c.nt < 30000 : want == c.name) run(c, dir);
    return 0;
}

// Reading a BY group and writing its model rows (vlcbin, vlcin, vlcodel) on a synthetic
// study: 6 continuous covariates, a character and a numeric CLASS covariate, a FREQ-free
// 0/1 treatment. The fit is left out so that only the input phases are timed; the driver's
// per-group note breaks the time down by phase.
// Usage: bench_input [rows]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "driver/message_catalogue.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "statements/statements.h"

using namespace velloc;

namespace {

int noFit(VlcRun&) {
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 500000;
    namespace fs = std::filesystem;
    fs::path file =
        fs::temp_directory_path() / ("velloc_bench_input_" + std::to_string(::getpid()) + ".csv");
    {
        std::mt19937_64 rng(12345);
        std::normal_distribution<double> z;
        std::ofstream out(file);
        out << "t,region,grade,x1,x2,x3,x4,x5,x6\n";
        const char* regions[] = {"north", "south", "east", "west"};
        char buf[256];
        for (long i = 0; i < n; ++i) {
            double x[6];
            for (double& v : x)
                v = z(rng);
            const int t = x[0] + 0.5 * x[1] + z(rng) > 1.0 ? 1 : 0;
            std::snprintf(buf, sizeof buf, "%d,%s,%d,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", t,
                          regions[i % 4], static_cast<int>(i % 3), x[0], x[1], x[2], x[3], x[4],
                          x[5]);
            out << buf;
        }
    }
    registerCatalogue();
    PhaseTable phases;
    phases.vlclreg = noFit;
    StepSource step{"bench.vlc",
                    "proc velloc data='" + file.string() +
                        "'; class t region grade; psmodel t(treated='1') = x1 x2 x3 x4 x5 x6 "
                        "region grade; run;",
                    1, 1};
    std::ostringstream log;
    host::Log::setStream(&log);
    auto start = std::chrono::steady_clock::now();
    runProcedureStep(step, 1, phases);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    host::Log::setStream(nullptr);
    fs::remove(file);
    std::printf("rows %ld: step %.3f s\n", n, s);
    std::istringstream lines(log.str());
    for (std::string line; std::getline(lines, line);)
        if (line.find("[901-10]") != std::string::npos) std::cout << line << '\n';
    return 0;
}

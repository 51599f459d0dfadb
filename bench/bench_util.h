// Shared pieces of the benchmarks: wall time, peak memory, and a procedure step run in
// process with its log captured.
#pragma once
#include <sys/resource.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "driver/message_catalogue.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "statements/statements.h"

namespace velloc::bench {

inline double peakRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

inline double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct StepOutcome {
    int code = -1;      // the step's return code; -1 when the program had no step
    double seconds = 0; // wall time of the step
    std::string log;    // everything the step logged
};

// Runs the first procedure step of a program text. The message catalogue must be registered.
inline StepOutcome runFirstStep(const std::string& program) {
    StepOutcome out;
    std::ostringstream log;
    host::Log::setStream(&log);
    int errors = 0;
    std::vector<StepSource> steps = splitProgram(program, "bench", &errors);
    auto t0 = std::chrono::steady_clock::now();
    if (!steps.empty()) out.code = runProcedureStep(steps[0], 1);
    out.seconds = secondsSince(t0);
    host::Log::setStream(nullptr);
    out.log = log.str();
    return out;
}

// A phase's seconds from the per-group timing note ("... took 2.1 s (read 0.2 s, match 1.23 s,
// ...)"), or "?".
inline std::string phaseSeconds(const std::string& log, const std::string& phase) {
    auto note = log.find(" took ");
    if (note == std::string::npos) return "?";
    for (const char* lead : {"(", ", "}) {
        const std::string key = lead + phase + " ";
        auto p = log.find(key, note);
        if (p == std::string::npos || p > log.find('\n', note)) continue;
        p += key.size();
        return log.substr(p, log.find(" s", p) - p);
    }
    return "?";
}

} // namespace velloc::bench

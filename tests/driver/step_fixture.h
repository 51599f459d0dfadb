// Runs small procedure steps through vlcinit over an in-memory data set and captures the log.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../support/memory_dataset.h"
#include "core/run_context.h"
#include "host/host.h"
#include "statements/statements.h"

namespace velloc::testing {

inline std::unique_ptr<MemoryDataset> studyData(std::string label = "") {
    using host::VarType;
    const VarType N = VarType::Numeric, C = VarType::Character;
    return std::make_unique<MemoryDataset>(
        std::vector<MemoryDataset::Col>{
            {"treat", C, 3, 0}, {"age", N, 8, 0},  {"bmi", N, 8, 0}, {"gender", C, 1, 0},
            {"race", C, 8, 0},  {"site", N, 8, 6}, {"x1", N, 8, 0},  {"x2", N, 8, 0},
            {"x3", N, 8, 0},    {"ps", N, 8, 0},   {"f", N, 8, 0},   {"w", N, 8, 0},
            {"name", C, 20, 0}, {"id1", N, 8, 0},  {"id2", N, 8, 0}, {"id3", N, 8, 0},
            {"id4", N, 8, 0},   {"id5", N, 8, 0},  {"id6", C, 5, 0}, {"lps", N, 8, 0}},
        "study.csv", std::move(label));
}

struct StepResult {
    int exitCode = -1; // -1: vlcinit returned
    std::string log;
    std::unique_ptr<VlcRun> run;
    std::unique_ptr<MemoryDataset> data;
    bool logged(int number, int group = host::kGroupProc) const {
        std::string id = "[";
        id.append(std::to_string(group)).append("-").append(std::to_string(number)).append("]");
        return log.find(id) != std::string::npos;
    }
};

// Runs "proc velloc data=study; <body> run;" (or the full text when it starts with "proc").
inline StepResult runStep(const std::string& body, bool graphics = true) {
    StepResult r;
    r.data = studyData();
    r.run = std::make_unique<VlcRun>();
    r.run->inData = r.data.get();
    std::string text =
        body.rfind("proc", 0) == 0 ? body : "proc velloc data=study;\n" + body + "\nrun;";
    StepSource step{"test.vlc", text, 1, 1};
    std::ostringstream log;
    host::Log::setStream(&log);
    host::Session::current().options.graphics = graphics;
    try {
        vlcinit(*r.run, step);
    } catch (const host::HostExit& e) {
        r.exitCode = e.code;
    }
    host::Session::current().options.graphics = true;
    host::Log::setStream(nullptr);
    r.log = log.str();
    return r;
}

} // namespace velloc::testing

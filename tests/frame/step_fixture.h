// Runs small procedure steps through vlcinit over an in-memory data set and captures the log.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/statements.h"
#include "frame/vlcrun.h"
#include "host/host.h"

namespace velloc::testing {

// Variables only; vlcinit never reads observations.
class MemoryDataset : public host::Dataset {
  public:
    struct Col {
        const char* name;
        host::VarType type;
        int length;
        int formatWidth;
    };
    explicit MemoryDataset(std::vector<Col> cols, std::string label = "")
        : label_(std::move(label)) {
        for (const auto& c : cols) {
            host::Variable v;
            v.name = c.name;
            v.type = c.type;
            v.length = c.length;
            v.formatWidth = c.formatWidth;
            vars_.push_back(v);
        }
    }
    const std::string& path() const override { return path_; }
    const std::string& label() const override { return label_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const host::Variable& var(int n) const override { return vars_[n - 1]; }
    int find(std::string_view name) const override {
        std::string u(name);
        host::wzstrup(u);
        for (std::size_t i = 0; i < vars_.size(); ++i) {
            std::string v = vars_[i].name;
            host::wzstrup(v);
            if (u == v) return static_cast<int>(i) + 1;
        }
        return 0;
    }
    std::int64_t nobs() const override { return 0; }
    void setBy(std::vector<host::ByKey> keys, bool notsorted) override {
        by = std::move(keys);
        byNotSorted = notsorted;
    }
    int nextGroup() override { return 0; }
    bool nextObs() override { return false; }
    void rewindGroup() override {}
    std::int64_t obsNumber() const override { return 0; }
    double num(int) const override { return 0; }
    std::string_view text(int) const override { return {}; }
    std::string formatted(int) const override { return {}; }
    std::vector<std::string> byDescription() const override { return {}; }

    std::vector<host::ByKey> by;
    bool byNotSorted = false;

  private:
    std::string path_ = "study.csv";
    std::string label_;
    std::vector<host::Variable> vars_;
};

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
        std::move(label));
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

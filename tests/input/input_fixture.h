// Runs a procedure step over a CSV file through the real driver, with the reading, model-row
// and fit phases wrapped so that each BY group's files and counts are kept for the test.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/run_context.h"
#include "driver/message_catalogue.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "statements/statements.h"

namespace velloc::testing {

struct GroupSnap {
    int failedIn = 0; // 0 vlcodel ran, 1 vlcin abandoned the group
    int rc = 0;       // result of the last wrapped phase
    std::vector<std::int32_t> skip;
    std::vector<std::vector<double>> data, lreg;
    int dataRecBytes = 0, dataClassText = 0, D = 0;
    int lregExact = 0, lregClass = 0, lregCont = 0;
    std::int64_t nObsRead = 0, nTreated = 0, nControl = 0, freqTreated = 0, freqControl = 0;
    double totalFreq = 0;
    std::vector<double> scale, coef;
    int treatedIndex = -1, nAssessClass2 = 0;
    std::string treatedLevel, controlLevel, treatedLabel, controlLabel;
    std::vector<unsigned char> excluded;
    std::vector<ClassIndicator> indicators;
    std::vector<VarRef> analysisVars;
};

inline std::vector<GroupSnap>& snaps() {
    static std::vector<GroupSnap> s;
    return s;
}

inline std::vector<std::vector<double>> records(host::UtilFile& f, int bytes) {
    std::vector<std::vector<double>> out;
    if (bytes <= 0 || f.point(0) != 0) return out;
    std::vector<double> rec(static_cast<std::size_t>(bytes + 7) / 8);
    while (f.read(rec.data()))
        out.push_back(rec);
    f.point(0);
    return out;
}

inline GroupSnap snapshot(VlcRun& run) {
    GroupSnap s;
    run.vlcskip->point(0);
    std::int32_t flag = 0;
    while (run.vlcskip->read(&flag))
        s.skip.push_back(flag);
    s.data = records(*run.vlcdata, run.dataRecBytes);
    s.dataRecBytes = run.dataRecBytes;
    s.dataClassText = run.dataClassText;
    s.nObsRead = run.nObsRead;
    s.totalFreq = run.totalFreq;
    s.excluded = run.balance.excluded;
    s.analysisVars = run.analysisVars;
    return s;
}

inline int snapIn(VlcRun& run) {
    int rc = vlcin(run);
    if (rc) {
        GroupSnap s = snapshot(run);
        s.failedIn = 1;
        s.rc = rc;
        snaps().push_back(s);
    }
    return rc;
}

inline int snapOdel(VlcRun& run) {
    int rc = vlcodel(run);
    GroupSnap s = snapshot(run);
    s.rc = rc;
    s.D = run.model.layout.D;
    if (rc == 0 || run.lregRecBytes > 0) s.lreg = records(*run.vlclreg, run.lregRecBytes);
    s.lregExact = run.lregExact;
    s.lregClass = run.lregClass;
    s.lregCont = run.lregCont;
    s.nTreated = run.nTreated;
    s.nControl = run.nControl;
    s.freqTreated = run.freqTreated;
    s.freqControl = run.freqControl;
    s.scale = run.contScale;
    s.treatedIndex = run.treatedIndex;
    s.treatedLevel = run.treatedLevel;
    s.controlLevel = run.controlLevel;
    s.treatedLabel = run.treatedLabel;
    s.controlLabel = run.controlLabel;
    s.nAssessClass2 = run.nAssessClass2;
    s.indicators = run.classIndicators;
    snaps().push_back(s);
    return rc;
}

inline int snapFit(VlcRun& run) {
    int rc = vlclreg(run);
    if (!snaps().empty()) snaps().back().coef = run.coef;
    return rc;
}

struct StepRun {
    int code = -1;
    std::string log;
    std::vector<GroupSnap> groups;
    int count(int number, int group = host::kGroupProc) const {
        std::string id = "[";
        id.append(std::to_string(group)).append("-").append(std::to_string(number)).append("]");
        int n = 0;
        for (auto p = log.find(id); p != std::string::npos; p = log.find(id, p + 1))
            ++n;
        return n;
    }
    bool logged(int number) const { return count(number) > 0; }
};

// Runs "proc velloc data='<csv>'; <body> run;" over the CSV at csvPath.
inline StepRun runOnFile(const std::string& csvPath, const std::string& body) {
    registerCatalogue();
    snaps().clear();
    PhaseTable phases;
    phases.vlcin = snapIn;
    phases.vlcodel = snapOdel;
    phases.vlclreg = snapFit;
    StepSource step{"test.vlc", "proc velloc data='" + csvPath + "';\n" + body + "\nrun;", 1, 1};
    std::ostringstream log;
    host::Log::setStream(&log);
    StepRun r;
    r.code = runProcedureStep(step, 1, phases);
    host::Log::setStream(nullptr);
    r.log = log.str();
    r.groups = snaps();
    return r;
}

// Writes the CSV text to a file of its own and runs the step over it.
inline StepRun runOnCsv(const std::string& csv, const std::string& body) {
    namespace fs = std::filesystem;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::temp_directory_path() /
                   ("velloc_input_" + std::to_string(::getpid()) + "_" + info->name());
    fs::create_directories(dir);
    fs::path file = dir / "data.csv";
    std::ofstream(file, std::ios::binary) << csv;
    StepRun r = runOnFile(file.string(), body);
    fs::remove_all(dir);
    return r;
}

// A formatted CLASS value as VLCDATA holds it (blank padded to the slot).
inline std::string classText(const GroupSnap& g, std::size_t row, int offset, int width) {
    const char* p = reinterpret_cast<const char*>(g.data[row].data()) + g.dataClassText + offset;
    return std::string(p, static_cast<std::size_t>(width));
}

} // namespace velloc::testing

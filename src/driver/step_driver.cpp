#include "driver/step_driver.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "assess/model_tables.h"
#include "base/run_messages.h"
#include "core/run_context.h"
#include "effect/effect.h"
#include "host/host.h"
#include "io/step_place.h"
#include "io/utility_file.h"
#include "output/output_data.h"
#include "statements/statements.h"

namespace velloc {

namespace {

const ModuleInfo kModule{"VELLOC", VELLOC_VERSION, __DATE__};

// Phase timing for the per-group note: a slow run can be diagnosed from the log afterwards.
class PhaseClock {
  public:
    explicit PhaseClock(int byGroup) : byGroup_(byGroup) {}
    template <typename F> int time(const char* name, F&& call) {
        host::setCurrentPhase(name, byGroup_);
        auto start = std::chrono::steady_clock::now();
        int rc = call();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        entries_.push_back({name, s});
        return rc;
    }
    std::string summary() const {
        std::string out;
        double total = 0;
        for (const auto& e : entries_) {
            total += e.seconds;
            if (e.seconds < 0.0005) continue;
            if (!out.empty()) out += ", ";
            out += fmt::format("{} {:.3f} s", e.name, e.seconds);
        }
        if (out.empty()) out = "all phases under 0.001 s";
        return fmt::format("{:.3f} s ({})", total, out);
    }

  private:
    struct Entry {
        const char* name;
        double seconds;
    };
    int byGroup_;
    std::vector<Entry> entries_;
};

// Utility-file faults end the step for as long as it runs, whichever phase meets them.
class FaultsEndTheStep {
  public:
    FaultsEndTheStep() {
        host::setCurrentPhase("step set-up", 0);
        host::UtilFile::setFaultHandler(host::utilFatal);
    }
    ~FaultsEndTheStep() { host::UtilFile::setFaultHandler(nullptr); }
    FaultsEndTheStep(const FaultsEndTheStep&) = delete;
    FaultsEndTheStep& operator=(const FaultsEndTheStep&) = delete;
};

void openGroup(VlcRun& run, int nameMsg, int labelMsg) {
    std::string name = host::wkread(host::kGroupProc, nameMsg);
    std::string label = host::wkread(host::kGroupProc, labelMsg);
    int rc = run.procOutput->openGroup(name, label);
    if (rc < 0)
        host::zodsexit(rc);
    else
        run.groupOpen = true;
}

void closeGroup(VlcRun& run) {
    if (!run.groupOpen) return;
    run.groupOpen = false;
    int rc = run.procOutput->closeGroup();
    if (rc < 0) host::zodsexit(rc);
}

void publishByGroup(VlcRun& run) {
    std::vector<std::string> names, values;
    for (const std::string& d : run.inData->byDescription()) {
        auto eq = d.find('=');
        names.push_back(d.substr(0, eq));
        values.push_back(eq == std::string::npos ? std::string() : d.substr(eq + 1));
    }
    run.procOutput->setByGroup(std::move(names), std::move(values));
}

// Whether continuous rows exist for the box, CDF and cloud plots.
bool continuousRows(const VlcRun& run) {
    return run.assessPs > 0 || run.assessLps != 0 || run.nAssessCont > 0;
}

// One BY group, from the reset to the effect. Returns when the group is done or abandoned.
void runGroup(VlcRun& run, const PhaseTable& p, PhaseClock& clock) {
    if (clock.time("reset", [&] { return p.vlcbin(run); })) return;
    int matchOk = run.matchActive;
    if (clock.time("read", [&] { return p.vlcin(run); })) return;
    if (clock.time("model rows", [&] { return p.vlcodel(run); })) return;
    // The copy of the input is read by no later phase: the working file takes its memory.
    if (run.vlcdata) run.vlcdata->release();
    if (!run.psSupplied && clock.time("fit", [&] { return p.vlclreg(run); })) return;
    if (clock.time("weights", [&] { return p.vlcwght(run); })) return;
    // The model rows are read again only by an EFFECT statement's refitting bootstrap.
    if (run.vlclreg && !run.effect.given) run.vlclreg->release();
    if (clock.time("region", [&] { return p.vlcregn(run); })) return;
    bool sorted = false;
    if (run.matchActive || run.nStrata) {
        if (clock.time("sort", [&] { return p.vlcsort(run); })) return;
        sorted = true;
    }
    if (run.matchActive) {
        // The scratch file holds only what the sort left behind: the treated and control
        // files, which only matching reads, take its memory.
        if (run.vlctemp) run.vlctemp->release();
        clock.time("group files", [&] { return p.vlcfile(run); });
        int rc = clock.time("match", [&] {
            int r = 0;
            if (run.distance == kScoreMahalanobis) r = p.vlcxcov(run);
            if (!r) r = p.velloc(run);
            if (!r) r = p.vlccomb(run);
            if (!r) r = p.vlcmend(run);
            return r;
        });
        if (rc) matchOk = 0;
        // No later phase reads the treated and control files: the order is restored in
        // their memory.
        if (run.vlctreat) run.vlctreat->release();
        if (run.vlccntl) run.vlccntl->release();
    }
    if (run.nStrata) {
        clock.time("strata", [&] {
            p.vlcstra(run);
            if (run.nStrata) {
                p.vlccdst(run);
                if (run.nStrata < run.nStrataShown) run.nStrataShown = run.nStrata;
                if (run.strataAssess) p.vlccdf1(run);
            }
            return 0;
        });
    }
    clock.time("balance", [&] { return p.vlccdff(run); });
    if (sorted && clock.time("restore order", [&] { return p.vlcback(run); })) return;

    int rc = clock.time("tables", [&] {
        p.vlctdat(run);
        p.vlctpsc(run);
        if (run.matchGiven) p.vlctmtc(run, matchOk);
        if (run.nStrata) p.vlctstr(run);
        vlctpsm(run);
        return 0;
    });
    (void)rc;

    closeGroup(run);
    openGroup(run, 32, 33);
    if (run.assessGiven) {
        bool cont = continuousRows(run);
        clock.time("balance tables", [&] {
            if (run.varInfoTable) p.vlctinf(run);
            if (run.stdDiffTable) p.vlctdif(run);
            return 0;
        });
        if (run.nLargestWgt) p.vlctexw(run);
        if (run.nLargestMatchWgt) p.vlctexm(run);
        int abandon = clock.time("plots", [&] {
            p.vlcpset(run);
            if (run.plotStdDiff) p.vlcpltd(run);
            if (run.plotBox && cont) p.vlcpltx(run);
            if (run.plotCdf && cont && p.vlcpltc(run)) return 1;
            if (run.nAssessClass2 && run.plotBar) p.vlcplta(run);
            if (run.plotCloud) p.vlcpltj(run);
            if (run.plotWgtCloud) p.vlcpltw(run);
            return 0;
        });
        // An abandoned group leaves its output group open; the next group closes it.
        if (abandon) return;
        closeGroup(run);
        if (run.nStrata && run.strataAssess) {
            openGroup(run, 34, 35);
            int stop = clock.time("strata plots", [&] {
                if (run.varInfoTable) p.vlctins(run);
                if (run.stdDiffTable) p.vlctdis(run);
                if (run.plotStdDiff) p.vlcplsd(run);
                if (run.plotBox && cont) p.vlcplsx(run);
                if (run.plotCdf && cont && p.vlcplsc(run)) return 1;
                if (run.nAssessClass2 && run.plotBar) p.vlcplsa(run);
                if (run.plotCloud && cont) p.vlcplsj(run);
                return 0;
            });
            if (stop) return;
            closeGroup(run);
        }
        run.plotRecords.reset();
    } else {
        if (run.nLargestWgt) p.vlctexw(run);
        if (run.nLargestMatchWgt) p.vlctexm(run);
        closeGroup(run);
    }
    run.groupOpen = false;
    if (run.effect.given) clock.time("effect", [&] { return vlceffect(run, matchOk); });
    if (!run.outDataPath.empty()) {
        // The output file needs pages of its own: it takes those of the temporary files kept
        // for later spills, freed here, instead of pages the system must first provide. A later
        // BY group's spills then start new files, as the output would otherwise have done.
        host::UtilFile::releaseRecycledFiles();
        clock.time("output data", [&] { return p.vlcoutd(run, matchOk, run.nStrata); });
    }
}

} // namespace

const ModuleInfo* mcn_main() {
    return &kModule;
}

void runByGroups(VlcRun& run, const PhaseTable& phases) {
    int groupNumber = 0;
    for (;;) {
        int ready = run.inData->nextGroup();
        if (ready <= 0) {
            if (ready < 0) host::xexit(host::kExitDataSet);
            break;
        }
        ++groupNumber;
        publishByGroup(run);
        PhaseClock clock(groupNumber);
        runGroup(run, phases, clock);
        host::setCurrentPhase("BY-group loop", 0);
        std::string by;
        for (const std::string& d : run.inData->byDescription())
            by += (by.empty() ? "" : " ") + d;
        if (by.empty())
            host::xpmlog(host::kGroupHostRun, host::runmsg::kAnalysisTook, {clock.summary()});
        else
            host::xpmlog(host::kGroupHostRun, host::runmsg::kByGroupTook,
                         {std::to_string(groupNumber), by, clock.summary()});
    }
    if (groupNumber == 0 && run.inData->nobs() == 0) {
        host::xpmlog(host::kGroupHostRun, host::runmsg::kNoObservations, {run.inData->path()});
        run.raise(4);
    }
    // A group abandoned in its plots leaves its output group open: close it before the end.
    closeGroup(run);
}

void qorvlcat(const StepSource& step, const PhaseTable& phases) {
    VlcRun run;
    run.procOutput = &host::Session::current().output;
    vlcinit(run, step);
    host::setCurrentPhase("table set-up", 0);
    if (int rc = phases.vlcxods(run); rc < 0) host::zodsexit(rc);
    effectTables(run);
    runByGroups(run, phases);
    // The output data set is renamed into place only when the step got this far.
    host::setCurrentPhase("output data set commit", 0);
    run.raise(vlcoutc(run));
    host::xexit(run.status);
}

int runProcedureStep(const StepSource& step, int stepNumber, const PhaseTable& phases) {
    auto& output = host::Session::current().output;
    output.beginStep("The VELLOC Procedure");
    int code = 0;
    try {
        FaultsEndTheStep faults;
        qorvlcat(step, phases);
    } catch (const host::HostExit& e) {
        code = e.code;
    } catch (const std::bad_alloc& e) {
        host::xpmlog(host::kGroupHostRun, host::runmsg::kOutOfMemory,
                     {host::currentPlace(), e.what()});
        code = host::kExitNoMemory;
    }
    host::UtilFile::releasePool();
    output.setByGroup({}, {});
    output.endStep();
    host::xpmlog(host::kGroupHostRun, host::runmsg::kStepEnded,
                 {std::to_string(stepNumber), std::to_string(code)});
    return code;
}

int exitStatusFor(int procedureStatus) {
    if (procedureStatus == 0 || procedureStatus == 4) return 0;
    if (procedureStatus == 112) return 2;
    if (procedureStatus > 0 && procedureStatus < 100) return 1;
    return 3;
}

int runExitStatus(int worstStepExit, int errorLines) {
    return errorLines > 0 ? std::max(worstStepExit, 1) : worstStepExit;
}

} // namespace velloc

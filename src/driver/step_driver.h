// The procedure driver: the module entry points, the per-BY-group sequence of phases, and
// the step runner that turns the procedure's exit into a status.
#pragma once
#include <string>

#include "core/phases.h"

namespace velloc {

struct VlcRun;
struct StepSource;

// The module identification block.
struct ModuleInfo {
    const char* name;
    const char* version;
    const char* buildDate;
};
const ModuleInfo* mcn_main();

// The phases the driver calls. Defaults are the procedure's own; tests substitute phases to
// check the order and the abandon rule.
struct PhaseTable {
    int (*vlcbin)(VlcRun&) = velloc::vlcbin;
    int (*vlcin)(VlcRun&) = velloc::vlcin;
    int (*vlcodel)(VlcRun&) = velloc::vlcodel;
    int (*vlclreg)(VlcRun&) = velloc::vlclreg;
    int (*vlcwght)(VlcRun&) = velloc::vlcwght;
    int (*vlcregn)(VlcRun&) = velloc::vlcregn;
    int (*vlcsort)(VlcRun&) = velloc::vlcsort;
    int (*vlcfile)(VlcRun&) = velloc::vlcfile;
    int (*vlcxcov)(VlcRun&) = velloc::vlcxcov;
    int (*velloc)(VlcRun&) = velloc::velloc;
    int (*vlccomb)(VlcRun&) = velloc::vlccomb;
    int (*vlcmend)(VlcRun&) = velloc::vlcmend;
    int (*vlcstra)(VlcRun&) = velloc::vlcstra;
    int (*vlccdst)(VlcRun&) = velloc::vlccdst;
    int (*vlccdf1)(VlcRun&) = velloc::vlccdf1;
    int (*vlccdff)(VlcRun&) = velloc::vlccdff;
    int (*vlcback)(VlcRun&) = velloc::vlcback;
    int (*vlcxods)(VlcRun&) = velloc::vlcxods;
    int (*vlctdat)(VlcRun&) = velloc::vlctdat;
    int (*vlctpsc)(VlcRun&) = velloc::vlctpsc;
    int (*vlctmtc)(VlcRun&, int) = velloc::vlctmtc;
    int (*vlctstr)(VlcRun&) = velloc::vlctstr;
    int (*vlctinf)(VlcRun&) = velloc::vlctinf;
    int (*vlctdif)(VlcRun&) = velloc::vlctdif;
    int (*vlctexw)(VlcRun&) = velloc::vlctexw;
    int (*vlctexm)(VlcRun&) = velloc::vlctexm;
    int (*vlctins)(VlcRun&) = velloc::vlctins;
    int (*vlctdis)(VlcRun&) = velloc::vlctdis;
    int (*vlcpset)(VlcRun&) = velloc::vlcpset;
    int (*vlcpltd)(VlcRun&) = velloc::vlcpltd;
    int (*vlcpltx)(VlcRun&) = velloc::vlcpltx;
    int (*vlcpltc)(VlcRun&) = velloc::vlcpltc;
    int (*vlcplta)(VlcRun&) = velloc::vlcplta;
    int (*vlcpltj)(VlcRun&) = velloc::vlcpltj;
    int (*vlcpltw)(VlcRun&) = velloc::vlcpltw;
    int (*vlcplsd)(VlcRun&) = velloc::vlcplsd;
    int (*vlcplsx)(VlcRun&) = velloc::vlcplsx;
    int (*vlcplsc)(VlcRun&) = velloc::vlcplsc;
    int (*vlcplsa)(VlcRun&) = velloc::vlcplsa;
    int (*vlcplsj)(VlcRun&) = velloc::vlcplsj;
    int (*vlcoutd)(VlcRun&, int, int) = velloc::vlcoutd;
};

// Runs the BY-group loop over run.inData; the run context must be initialised. Returns
// normally; fatal errors inside phases throw host::HostExit.
void runByGroups(VlcRun& run, const PhaseTable& phases);

// One invocation: set-up, vlcinit, table definitions, the BY-group loop, and the exit with
// the procedure status. Never returns normally: ends through host::xexit.
[[noreturn]] void qorvlcat(const StepSource& step, const PhaseTable& phases = PhaseTable{});

// The host's step runner: runs one procedure step and returns its exit code (the procedure
// status, or the code of a fatal exit). Logs the closing line naming the status.
int runProcedureStep(const StepSource& step, int stepNumber,
                     const PhaseTable& phases = PhaseTable{});

// Maps a procedure status to the program's exit status: 0 for 0 and 4, 2 for 112 (a BY group
// was abandoned), 1 for a count of statements in error (below 100), 3 for a fatal status.
int exitStatusFor(int procedureStatus);

// The exit status of the whole run: the worst step's, and at least 1 once an ERROR line was
// logged, so a failure the run went on past is never reported as success.
int runExitStatus(int worstStepExit, int errorLines);

} // namespace velloc

#include "driver/program_run.h"

#include <algorithm>

#include "base/messages.h"
#include "base/run_messages.h"
#include "driver/step_driver.h"
#include "host/session.h"
#include "statements/statements.h"

namespace velloc {

ProgramResult runProgram(const std::string& text, const std::string& fileName,
                         const std::string& reportPath) {
    ProgramResult r;
    int errors = 0;
    std::vector<StepSource> steps = splitProgram(text, fileName, &errors);
    r.steps = steps.size();
    if (errors) {
        r.worstStatus = errors;
    } else if (steps.empty()) {
        host::xpmlog(host::kGroupHostRun, host::runmsg::kNoStep, {fileName});
        r.worstStatus = 1;
    }
    // A program without a step runs nothing: that is fatal, not an error the run went on past.
    int worstExit = steps.empty() && !errors ? 3 : exitStatusFor(r.worstStatus);
    if (!errors) {
        int n = 0;
        for (const StepSource& step : steps) {
            int code = runProcedureStep(step, ++n);
            r.stepStatus.push_back(code);
            r.worstStatus = std::max(r.worstStatus, code);
            worstExit = std::max(worstExit, exitStatusFor(code));
        }
    }
    // A report that could not be written is an output lost, not a fatal status of a step.
    if (!host::Session::current().output.finish())
        worstExit = std::max(worstExit, 1);
    else if (!reportPath.empty())
        host::xpmlog(host::kGroupHostRun, host::runmsg::kReportWritten, {reportPath});
    host::xpmlog(host::kGroupHostRun, host::runmsg::kAllStepsEnded,
                 {std::to_string(steps.size()), std::to_string(r.worstStatus)});
    r.exitStatus = runExitStatus(worstExit, host::Log::count(host::Severity::Error));
    return r;
}

} // namespace velloc

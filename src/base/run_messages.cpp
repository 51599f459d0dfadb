// Messages of the command line, the step runner and the driver's notes.
#include "base/run_messages.h"

#include "base/messages.h"

namespace velloc::host {

namespace {
constexpr MessageDef kRunMessages[] = {
    {kGroupHostRun, runmsg::kStepEnded, Severity::Note,
     "PROC VELLOC step %1 ended with status %2."},
    {kGroupHostRun, runmsg::kAllStepsEnded, Severity::Note,
     "velloc finished %1 procedure step(s) with status %2."},
    {kGroupHostRun, runmsg::kCannotReadProgram, Severity::Error,
     "Cannot read the program file %1: %2."},
    {kGroupHostRun, runmsg::kNoStep, Severity::Error, "The program %1 holds no PROC VELLOC step."},
    {kGroupHostRun, runmsg::kCannotWriteLog, Severity::Error, "Cannot write the log file %1: %2."},
    {kGroupHostRun, runmsg::kCannotWriteListing, Severity::Error,
     "Cannot write the listing file %1: %2."},
    {kGroupHostRun, runmsg::kReportWritten, Severity::Note, "The HTML report was written to %1."},
    {kGroupHostRun, runmsg::kCannotCreateFolder, Severity::Error,
     "Cannot create the folder %1 given by %2: %3."},
    {kGroupHostRun, runmsg::kByGroupTook, Severity::Note, "BY group %1 (%2) took %3."},
    {kGroupHostRun, runmsg::kAnalysisTook, Severity::Note, "The analysis took %1."},
    {kGroupHostRun, runmsg::kNoObservations, Severity::Warning,
     "The input data set %1 has no observations; no BY group was processed."},
    {kGroupHostRun, runmsg::kOutOfMemory, Severity::Error,
     "Out of memory in %1 (%2): the procedure step was stopped and writes no output data set. "
     "Reduce the data or free memory."},
    {kGroupHostRun, runmsg::kUtilFault, Severity::Error,
     "A utility file failed in %1: the procedure step was stopped and writes no output data "
     "set."},
    {kGroupHostRun, runmsg::kTableCsvWritten, Severity::Note,
     "Table CSV files were written to the folder %1."},
};
} // namespace

void addRunMessages() {
    addMessages(kRunMessages);
}

} // namespace velloc::host

// Messages of the command line, the step runner and the driver's notes.
#include "base/run_messages.h"

#include "base/messages.h"

namespace velloc::host {

namespace {
constexpr MessageDef kRunMessages[] = {
    {kGroupHostRun, 1, Severity::Note, "PROC VELLOC step %1 ended with status %2."},
    {kGroupHostRun, 2, Severity::Note, "velloc finished %1 procedure step(s) with status %2."},
    {kGroupHostRun, 3, Severity::Error, "Cannot read the program file %1: %2."},
    {kGroupHostRun, 4, Severity::Error, "The program %1 holds no PROC VELLOC step."},
    {kGroupHostRun, 5, Severity::Error, "Cannot write the log file %1: %2."},
    {kGroupHostRun, 6, Severity::Error, "Cannot write the listing file %1: %2."},
    {kGroupHostRun, 7, Severity::Note, "The HTML report was written to %1."},
    {kGroupHostRun, 8, Severity::Error, "Cannot create the folder %1 given by %2: %3."},
    {kGroupHostRun, 10, Severity::Note, "BY group %1 (%2) took %3."},
    {kGroupHostRun, 14, Severity::Note, "The analysis took %1."},
    {kGroupHostRun, 11, Severity::Warning,
     "The input data set %1 has no observations; no BY group was processed."},
    {kGroupHostRun, runmsg::kOutOfMemory, Severity::Error,
     "Out of memory in %1 (%2): the procedure step was stopped and writes no output data set. "
     "Reduce the data or free memory."},
    {kGroupHostRun, runmsg::kUtilFault, Severity::Error,
     "A utility file failed in %1: the procedure step was stopped and writes no output data "
     "set."},
    {kGroupHostRun, 13, Severity::Note, "Table CSV files were written to the folder %1."},
};
} // namespace

void addRunMessages() {
    addMessages(kRunMessages);
}

} // namespace velloc::host

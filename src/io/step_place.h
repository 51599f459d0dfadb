// Where the procedure is, for the faults that can strike in any phase (a utility-file fault,
// running out of memory): their messages name the phase and the BY group.
#pragma once
#include <string>

namespace velloc::host {

// The phase now running (a string literal) and its BY group, 0 outside the BY-group loop.
void setCurrentPhase(const char* name, int byGroup);
const char* currentPhase();
// "the fit phase of BY group 2", or "the step set-up phase" outside the loop.
std::string currentPlace();

// The one policy for a utility-file fault in a procedure step: logs the fault's message and
// the phase it struck in, then ends the step with kExitUtilityFile. The output data set is
// then never put in place.
[[noreturn]] void utilFatal(int code);

} // namespace velloc::host

#include "io/step_place.h"

#include <fmt/format.h>

#include "base/exit_codes.h"
#include "base/messages.h"
#include "base/run_messages.h"
#include "base/run_state.h"
#include "io/utility_file.h"

namespace velloc::host {

void setCurrentPhase(const char* name, int byGroup) {
    RunState& state = currentRunState();
    state.phase = name;
    state.byGroup = byGroup;
}

const char* currentPhase() {
    return currentRunState().phase;
}

std::string currentPlace() {
    const RunState& state = currentRunState();
    if (state.byGroup <= 0) return fmt::format("the {} phase", state.phase);
    return fmt::format("the {} phase of BY group {}", state.phase, state.byGroup);
}

void utilFatal(int code) {
    xprrlog(code);
    xpmlog(kGroupHostRun, runmsg::kUtilFault, {currentPlace()});
    xexit(kExitUtilityFile);
}

} // namespace velloc::host

#include "io/step_place.h"

#include <fmt/format.h>

#include "base/exit_codes.h"
#include "base/messages.h"
#include "base/run_messages.h"
#include "io/utility_file.h"

namespace velloc::host {

namespace {
const char* gPhase = "step set-up";
int gByGroup = 0;
} // namespace

void setCurrentPhase(const char* name, int byGroup) {
    gPhase = name;
    gByGroup = byGroup;
}

const char* currentPhase() {
    return gPhase;
}

std::string currentPlace() {
    if (gByGroup <= 0) return fmt::format("the {} phase", gPhase);
    return fmt::format("the {} phase of BY group {}", gPhase, gByGroup);
}

void utilFatal(int code) {
    xprrlog(code);
    xpmlog(kGroupHostRun, runmsg::kUtilFault, {currentPlace()});
    xexit(kExitUtilityFile);
}

} // namespace velloc::host

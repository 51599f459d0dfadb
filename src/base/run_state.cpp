#include "base/run_state.h"

namespace velloc::host {

namespace {
thread_local RunState* bound = nullptr;
} // namespace

RunState& currentRunState() {
    if (bound) return *bound;
    thread_local RunState own;
    return own;
}

RunStateScope::RunStateScope(RunState& state) : previous_(bound) {
    bound = &state;
}

RunStateScope::~RunStateScope() {
    bound = previous_;
}

} // namespace velloc::host

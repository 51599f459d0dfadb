#pragma once

namespace velloc::host {
// Registers the command-line, step-runner and driver messages (group kGroupHostRun).
void addRunMessages();
} // namespace velloc::host

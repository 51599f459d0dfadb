#pragma once

namespace velloc::host {
// Registers the command-line, step-runner and driver messages (group kGroupHostRun).
void addRunMessages();

namespace runmsg {
inline constexpr int kOutOfMemory = 12;
inline constexpr int kUtilFault = 400;
} // namespace runmsg
} // namespace velloc::host

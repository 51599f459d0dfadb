// Ending the procedure. xexit never returns: it throws HostExit, which only the host's step
// runner catches. Procedure code never catches it.
#pragma once
#include <stdexcept>

namespace velloc::host {

struct HostExit {
    int code;
};

[[noreturn]] inline void xexit(int code) {
    throw HostExit{code};
}

// Exit codes of fatal conditions.
inline constexpr int kExitOption = 3000;
inline constexpr int kExitDataSet = 1008;
inline constexpr int kExitClassAfterModel = 2000;
inline constexpr int kExitUtilityFile = 1012;
inline constexpr int kExitNoMemory = 1016;
inline constexpr int kExitOutputSetup = 1020;
inline constexpr int kExitOutputError = 120;

} // namespace velloc::host

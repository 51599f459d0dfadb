#pragma once

namespace velloc::host {
// Registers the command-line, step-runner and driver messages (group kGroupHostRun).
void addRunMessages();

namespace runmsg {
inline constexpr int kStepEnded = 1;
inline constexpr int kAllStepsEnded = 2;
inline constexpr int kCannotReadProgram = 3;
inline constexpr int kNoStep = 4;
inline constexpr int kCannotWriteLog = 5;
inline constexpr int kCannotWriteListing = 6;
inline constexpr int kReportWritten = 7;
inline constexpr int kCannotCreateFolder = 8;
inline constexpr int kByGroupTook = 10;
inline constexpr int kNoObservations = 11;
inline constexpr int kTableCsvWritten = 13;
inline constexpr int kAnalysisTook = 14;
inline constexpr int kOutOfMemory = 12;
inline constexpr int kUtilFault = 400;
// A utility-file return code without a message of its own.
inline constexpr int kUtilUnknownCode = 300;
} // namespace runmsg
} // namespace velloc::host

// Host output messages (group kGroupHostOutput): table labels 2..12, output errors.
#pragma once

namespace velloc::host {

// Registers the table labels and the output-system messages.
void addOutputMessages();

// Message numbers of the output system.
inline constexpr int kMsgOutputError = 20;      // ERROR: output error %1: %2
inline constexpr int kMsgOutputWrite = 21;      // ERROR: cannot write %1: %2
inline constexpr int kMsgOutputSkipped = 22;    // NOTE: request %1 skipped: %2
inline constexpr int kMsgOutputRowShape = 23;   // ERROR: row with wrong cell count
inline constexpr int kMsgOutputCellKind = 24;   // ERROR: cell of the wrong kind
inline constexpr int kMsgOutputSink = 25;       // ERROR: a destination failed
inline constexpr int kMsgOutputBenign = 29;     // text: why the benign code was raised
inline constexpr int kMsgOutputReasonBase = 30; // text: 30 + item of an error code

} // namespace velloc::host

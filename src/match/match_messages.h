// Messages and labels of matching (group 1049).
#pragma once

namespace velloc {

// Message numbers of matching and the Mahalanobis distance.
inline constexpr int kMsgMatchOutOfMemory = 248;
inline constexpr int kMsgMatchNoneMatched = 249;
inline constexpr int kMsgMatchNoControl = 250;
inline constexpr int kMsgMatchFewerControls = 251;
inline constexpr int kMsgMatchFixedNoSolution = 252;
inline constexpr int kMsgMatchVariableNoSolution = 253;
inline constexpr int kMsgMatchFullNoSolution = 254;
inline constexpr int kMsgMahSingular = 256;
inline constexpr int kMsgMahLeavesOut = 257;
inline constexpr int kMsgControlsExceedRegion = 258;
inline constexpr int kMsgControlsExceedKmax = 259;
inline constexpr int kMsgControlsBelowKmin = 260;
inline constexpr int kMsgControlsBelowKmaxTreated = 261;
inline constexpr int kMsgMatchPricingProgress = 262;

// Adds the matching messages to the catalogue. Safe to call more than once.
void addMatchMessages();

} // namespace velloc

// Messages of the weights, support region and strata phases (group 1049).
#pragma once

namespace velloc {

// Message numbers of the scale factor label, the support region and the strata.
inline constexpr int kMsgScaleFactor = 79;
inline constexpr int kMsgNoOverlap = 236;
inline constexpr int kMsgRegionFewTreated = 237;
inline constexpr int kMsgRegionFewControl = 238;
inline constexpr int kMsgScoresConstant = 239;
inline constexpr int kMsgStrataFewObs = 240;
inline constexpr int kMsgStrataFewTreated = 241;
inline constexpr int kMsgStrataTiesFewObs = 242;
inline constexpr int kMsgStrataTiesFewTreated = 243;
inline constexpr int kMsgStrataTiesNotDistinct = 244;
inline constexpr int kMsgStrataTiesNotDistinctTreated = 245;
inline constexpr int kMsgStratumNoControl = 246;
inline constexpr int kMsgStratumNoTreated = 247;

// Warning: some observations have a propensity score of exactly 0 or 1, so a weight formula
// divides by zero; their weights are missing. One per BY group, with the count.
inline constexpr int kMsgPsZeroOne = 301;

// Adds the messages to the catalogue. Safe to call more than once.
void addAdjustMessages();

} // namespace velloc

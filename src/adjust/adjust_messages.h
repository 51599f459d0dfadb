// Messages of the weights, support region and strata phases (group 1049).
#pragma once

namespace velloc {

// Warning: some observations have a propensity score of exactly 0 or 1, so a weight formula
// divides by zero; their weights are missing. One per BY group, with the count.
inline constexpr int kMsgPsZeroOne = 301;

// Adds the messages to the catalogue. Safe to call more than once.
void addAdjustMessages();

} // namespace velloc

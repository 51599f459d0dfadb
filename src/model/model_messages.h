// Messages of the model rows and the logistic fit (group 1049).
#pragma once

namespace velloc {

// Message numbers of the fit and the supplied-score check.
inline constexpr int kMsgFitImpossible = 224;
inline constexpr int kMsgFitNotConverged = 232;
inline constexpr int kMsgAliasedColumns = 233;
inline constexpr int kMsgSuppliedPsZero = 234;
inline constexpr int kMsgSuppliedPsOne = 235;
inline constexpr int kMsgFitIterations = 321;
inline constexpr int kMsgConstantColumn = 910;
inline constexpr int kMsgSeparation = 911;

// Adds the fit's messages to the catalogue. Safe to call more than once.
void addModelMessages();

} // namespace velloc
